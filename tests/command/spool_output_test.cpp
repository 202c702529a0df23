// Spool output: the page order of copies, collation, reverse order and
// two-sided pairs in the job stream, the output buffer and its failures, and
// the page files (names, private folder, short files, files left behind).

#include <sys/stat.h>

#include "command_test_util.h"
#include "platform/last_error.h"

namespace cmdtest {
namespace {

// What the write hook was handed.
std::vector<DWORD> gWrites;
bool gWriteFails = false;
BOOL RecordingWrite(ExtPdev*, const BYTE*, DWORD count) {
    gWrites.push_back(count);
    return gWriteFails ? FALSE : TRUE;
}

using namespace std::string_literals;

// The fixed commands of the document and page groups with every mask zero:
// document start, page start (one-sided; odd and even pages of two-sided
// pairs), end of a two-sided sheet, document end.
const std::string kDocStart = "\x1B\x40\x1B\x32"s;
const std::string kPage = "\x1F\x60\x00\x1B\x53"s;
const std::string kOddPage = "\x1F\x60\x02\x1F\x61\x00\x1B\x53"s;
const std::string kEvenPage = "\x1F\x61\x01\x1B\x53"s;
const std::string kSheetEnd = "\x1F\x62"s;
const std::string kDocEnd = "\x1B\x40"s;

// The stream of a one-sided job whose pages went out in this order.
std::string OneSided(std::initializer_list<const char*> pages) {
    std::string stream = kDocStart;
    for (const char* page : pages) stream += kPage + page;
    return stream + kDocEnd;
}

class SpoolOutput : public CommandJob {
  protected:
    void SetUp() override {
        CommandJob::SetUp();
        gWrites.clear();
        gWriteFails = false;
    }
};

TEST_F(SpoolOutput, OneCopyGoesStraightThroughWithoutPageFiles) {
    ASSERT_TRUE(Begin(PlainDevmode()));
    Page(1);
    Page(2);
    EXPECT_TRUE(JobFolders().empty());
    EXPECT_EQ(End(), OneSided({"P1", "P2"}));
}

TEST_F(SpoolOutput, CopiesWithoutCollationRepeatEachPage) {
    Devmode mode = PlainDevmode();
    mode.pub.dmCopies = 3;
    ASSERT_TRUE(Begin(mode));
    Page(1);
    EXPECT_EQ(PageFiles(), std::vector<std::string>{"002B0001.tmp"});
    Page(2);  // page 1 was replayed three times and its file removed
    EXPECT_EQ(PageFiles(), std::vector<std::string>{"002B0002.tmp"});
    EXPECT_EQ(End(), OneSided({"P1", "P1", "P1", "P2", "P2", "P2"}));
    EXPECT_TRUE(PageFiles().empty());
}

TEST_F(SpoolOutput, CollatedCopiesRepeatTheDocument) {
    Devmode mode = PlainDevmode();
    mode.pub.dmCopies = 3;
    mode.pub.dmCollate = 1;
    ASSERT_TRUE(Begin(mode));
    Page(1);
    Page(2);
    EXPECT_EQ(PageFiles(), (std::vector<std::string>{"002B0001.tmp", "002B0002.tmp"}));
    EXPECT_EQ(End(), OneSided({"P1", "P2", "P1", "P2", "P1", "P2"}));
    EXPECT_TRUE(PageFiles().empty());
}

TEST_F(SpoolOutput, ReverseOrderHoldsEveryPageToTheEnd) {
    Devmode mode = PlainDevmode();
    mode.pub.dmCopies = 2;
    mode.priv.layoutFlags |= kLayoutReverseOrder;
    ASSERT_TRUE(Begin(mode));
    Page(1);
    Page(2);
    Page(3);
    EXPECT_EQ(PageFiles().size(), 3u);
    EXPECT_EQ(End(), OneSided({"P3", "P3", "P2", "P2", "P1", "P1"}));
    EXPECT_TRUE(PageFiles().empty());
}

TEST_F(SpoolOutput, TwoSidedPagesGoOutInPairs) {
    Devmode mode = PlainDevmode();
    mode.priv.dualSide = 2;
    ASSERT_TRUE(Begin(mode));
    Page(1);
    Page(2);  // page 1 waits for its partner
    EXPECT_EQ(PageFiles(), (std::vector<std::string>{"002B0001.tmp", "002B0002.tmp"}));
    // The document start was flushed when page 1 went to its file.
    EXPECT_EQ(ReadAll(OutputPath()), kDocStart);
    Page(3);  // pages 1 and 2 went out together
    EXPECT_EQ(PageFiles(), std::vector<std::string>{"002B0003.tmp"});
    // Page 3 alone at the end, as the final page.
    EXPECT_EQ(CmndEndDoc(pdev_), 1);
    EXPECT_EQ(pdev_->outputFlags & kOutFinal, kOutFinal);
    EXPECT_EQ(Output(), kDocStart + kOddPage + "P1" + kEvenPage + "P2" + kSheetEnd + kOddPage +
                            "P3" + kSheetEnd + kDocEnd);
    EXPECT_TRUE(PageFiles().empty());
}

TEST_F(SpoolOutput, SheetRules) {
    ASSERT_TRUE(Begin(PlainDevmode()));
    EXPECT_TRUE(InFirstSheet(*pdev_, 1));
    EXPECT_FALSE(InFirstSheet(*pdev_, 2));
    EXPECT_TRUE(InLastSheet(*pdev_, 5, 5));
    EXPECT_FALSE(InLastSheet(*pdev_, 4, 5));
    pdev_->devmode.priv.dualSide = 2;
    EXPECT_TRUE(InFirstSheet(*pdev_, 2));
    EXPECT_FALSE(InFirstSheet(*pdev_, 3));
    EXPECT_TRUE(InLastSheet(*pdev_, 5, 5));  // (5 + 1) / 2 * 2 - 1 = 5
    EXPECT_FALSE(InLastSheet(*pdev_, 4, 5));
    EXPECT_TRUE(InLastSheet(*pdev_, 3, 4));
    EXPECT_FALSE(InLastSheet(*pdev_, 2, 4));
}

TEST_F(SpoolOutput, ALargeWritePassesThroughInChunks) {
    ASSERT_TRUE(Begin(PlainDevmode()));
    pdev_->writeHook = RecordingWrite;
    std::vector<BYTE> bytes(70000, 0x5A);
    ASSERT_TRUE(WriteOut(pdev_, bytes.data(), static_cast<DWORD>(bytes.size())));
    // The empty buffer's flush wrote nothing; one full chunk went out.
    EXPECT_EQ(gWrites, std::vector<DWORD>{65535});
    EXPECT_EQ(pdev_->outputFill, 4465u);
    EXPECT_EQ(pdev_->outputPosition, pdev_->outputBuffer + 4465);
    // A buffer is flushed only when a write would overflow it.
    ASSERT_TRUE(WriteOut(pdev_, bytes.data(), 61070));
    EXPECT_EQ(pdev_->outputFill, 65535u);
    EXPECT_EQ(gWrites, std::vector<DWORD>{65535});
    ASSERT_TRUE(WriteOut(pdev_, bytes.data(), 1));
    EXPECT_EQ(gWrites, (std::vector<DWORD>{65535, 65535}));
    EXPECT_EQ(pdev_->outputFill, 1u);
    EXPECT_TRUE(FlushOut(pdev_));
    EXPECT_TRUE(FlushOut(pdev_));  // empty: nothing more
    EXPECT_EQ(gWrites, (std::vector<DWORD>{65535, 65535, 1}));
}

TEST_F(SpoolOutput, AFailedWriteRefusesEverythingAfter) {
    ASSERT_TRUE(Begin(PlainDevmode()));
    Page(1);
    pdev_->writeHook = RecordingWrite;
    gWriteFails = true;
    EXPECT_FALSE(FlushOut(pdev_));
    EXPECT_EQ(pdev_->outputFlags & kOutFailed, kOutFailed);
    EXPECT_EQ(pdev_->outputFill, 0u);
    EXPECT_FALSE(WriteOut(pdev_, "x", 1));
    EXPECT_TRUE(FlushOut(pdev_));  // nothing to do once failed
    EXPECT_EQ(gWrites.size(), 1u);
    const SIZEL size{576, 800};
    EXPECT_EQ(CmndStartPage(pdev_, &mode_, &size, nullptr, 0), 0);
}

TEST_F(SpoolOutput, ASpoolerThatStopsTakingFailsTheNextPage) {
    ASSERT_TRUE(Begin(PlainDevmode()));
    Page(1);
    ASSERT_TRUE(EndDocPrinter(printer_));  // the spooler's job is gone
    std::vector<BYTE> bytes(70000, 0);
    EXPECT_FALSE(WriteOut(pdev_, bytes.data(), static_cast<DWORD>(bytes.size())));
    EXPECT_EQ(pdev_->outputFlags & kOutFailed, kOutFailed);
    const SIZEL size{576, 800};
    EXPECT_EQ(CmndStartPage(pdev_, &mode_, &size, nullptr, 0), 0);
    EXPECT_EQ(CmndEndDoc(pdev_), 0);
}

TEST_F(SpoolOutput, FormattedOutputKeepsZeroCharacters) {
    ASSERT_TRUE(Begin(PlainDevmode()));
    ASSERT_TRUE(WriteFormat(pdev_, "%c%c%c", 0x1B, 0x4A, 0));
    ASSERT_EQ(pdev_->outputFill, 3u);
    EXPECT_EQ(std::memcmp(pdev_->outputBuffer, "\x1B\x4A\x00", 3), 0);
    const std::string longText(300, 'a');
    ASSERT_TRUE(WriteFormat(pdev_, "%s", longText.c_str()));
    EXPECT_EQ(pdev_->outputFill, 3u + 256u);  // at most 256 bytes
}

TEST_F(SpoolOutput, PageFileNames) {
    ASSERT_TRUE(Begin(PlainDevmode()));
    std::strcpy(pdev_->tempDirectory, "T:\\SPOOLTMP\\");
    EXPECT_EQ(PageFileName(*pdev_, 3), "T:\\SPOOLTMP\\002B0003.tmp");
    pdev_->jobId = 0x1ABCDE;
    EXPECT_EQ(PageFileName(*pdev_, 0x10000), "T:\\SPOOLTMP\\1ABCDE10000.tmp");
    pdev_->tempDirectory[0] = '\0';
    EXPECT_EQ(PageFileName(*pdev_, 1), "");  // no name outside a job folder
}

TEST_F(SpoolOutput, EachJobKeepsItsPageFilesInAFreshPrivateFolder) {
    // The folder of an earlier scheme, taken by someone else, is not used.
    std::filesystem::create_directories(root_.path() / "elsewhere");
    std::filesystem::create_directory_symlink(root_.path() / "elsewhere",
                                              temp_ / ("qlpr-" + std::to_string(geteuid())));
    Devmode mode = PlainDevmode();
    mode.pub.dmCopies = 2;
    ASSERT_TRUE(Begin(mode));
    Page(1);
    const std::string folder = pdev_->tempDirectory;
    ASSERT_EQ(folder.back(), '/');
    const std::filesystem::path path = folder.substr(0, folder.size() - 1);
    EXPECT_EQ(path.parent_path(), temp_);
    struct stat info {};
    ASSERT_EQ(lstat(path.c_str(), &info), 0);
    EXPECT_TRUE(S_ISDIR(info.st_mode));
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    EXPECT_EQ(info.st_uid, geteuid());
    EXPECT_TRUE(std::filesystem::exists(path / "002B0001.tmp"));
    EXPECT_EQ(End(), OneSided({"P1", "P1"}));
    EXPECT_FALSE(std::filesystem::exists(path));  // removed with the job
    EXPECT_TRUE(std::filesystem::is_empty(root_.path() / "elsewhere"));
}

// A job that needs page files and has no folder for them fails at page 1:
// nothing is printed, and no file is opened or deleted anywhere else, such
// as one planted under a page file's name in the working directory.
TEST_F(SpoolOutput, WithoutAPrivateFolderAJobNeedingPageFilesFailsAtPage1) {
    Devmode copies = PlainDevmode();
    copies.pub.dmCopies = 2;
    Devmode reverse = PlainDevmode();
    reverse.priv.layoutFlags |= kLayoutReverseOrder;
    Devmode lastImages = PlainDevmode();
    lastImages.priv.dualSide = 2;
    lastImages.priv.storedImage[4] = 1;  // mode of the last pages' start
    const Devmode modes[] = {copies, reverse, lastImages};

    const std::filesystem::path work = root_.path() / "work";
    std::filesystem::create_directories(work);
    const std::filesystem::path planted = work / "002B0001.tmp";
    std::string plantedBytes(kPageFileHeader, '\0');
    plantedBytes += "PLANTED";
    std::ofstream(planted, std::ios::binary) << plantedBytes;
    struct WorkingFolder {
        std::filesystem::path before = std::filesystem::current_path();
        explicit WorkingFolder(const std::filesystem::path& to) {
            std::filesystem::current_path(to);
        }
        ~WorkingFolder() { std::filesystem::current_path(before); }
    } inWork(work);
    setenv("TMPDIR", (root_.path() / "missing").c_str(), 1);
    for (const Devmode& mode : modes) {
        ASSERT_TRUE(Begin(mode));
        const SIZEL size{576, 800};
        SetLastError(0);
        EXPECT_EQ(CmndStartPage(pdev_, &mode_, &size, nullptr, 0), 0);
        EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
        EXPECT_EQ(CmndEndDoc(pdev_), 0);
        EXPECT_EQ(CmndDisableExtPDEV(pdev_), 1);
        pdev_ = nullptr;
        EXPECT_EQ(Output(), "");
        EXPECT_EQ(ReadAll(planted), plantedBytes);
        ASSERT_TRUE(OpenPrinterW(u"Command Receipt", &printer_, nullptr));
        DOC_INFO_1W info{};
        ASSERT_NE(StartDocPrinterW(printer_, 1, reinterpret_cast<BYTE*>(&info)), 0u);
    }
    // A job without page files still prints.
    EXPECT_EQ(Print(PlainDevmode(), 1), OneSided({"P1"}));
}

// The device goes away before the document's end: the held pages are
// dropped with their folder, and neither they nor the document end group
// are sent.
TEST_F(SpoolOutput, AnAbandonedDocumentDropsItsHeldPages) {
    Devmode mode = PlainDevmode();
    mode.pub.dmCopies = 2;
    mode.priv.layoutFlags |= kLayoutReverseOrder;
    ASSERT_TRUE(Begin(mode));
    Page(1);
    Page(2);
    const SIZEL size{576, 800};
    ASSERT_EQ(CmndStartPage(pdev_, &mode_, &size, nullptr, 0), 1);
    EXPECT_EQ(PageFiles().size(), 3u);
    EXPECT_EQ(CmndDisableExtPDEV(pdev_), 1);
    pdev_ = nullptr;
    EXPECT_TRUE(JobFolders().empty());
    EXPECT_EQ(Output(), kDocStart);
}

// A page file written by hand: its device mode (copies 7), 6 zero bytes and
// the body.
std::string WritePageFile(const std::filesystem::path& path, const std::string& body,
                          std::size_t headerBytes = kPageFileHeader) {
    Devmode stored = PlainDevmode();
    stored.pub.dmCopies = 7;
    std::string bytes(kPageFileHeader, '\0');
    std::memcpy(bytes.data(), &stored, sizeof stored);
    bytes.resize(headerBytes);
    bytes += body;
    std::ofstream(path, std::ios::binary) << bytes;
    return path.string();
}

TEST_F(SpoolOutput, ReplayTakesTheStoredDeviceModeAndCommands) {
    ASSERT_TRUE(Begin(PlainDevmode()));
    const std::string name = WritePageFile(root_.path() / "page.tmp", "BODY");
    ReplayPage(pdev_, name.c_str(), 2);
    EXPECT_EQ(pdev_->devmode.pub.dmCopies, 7);
    EXPECT_EQ(Output(), kPage + "BODY" + kPage + "BODY");
}

TEST_F(SpoolOutput, PageFilesShorterThanTheirHeaderAreSkipped) {
    ASSERT_TRUE(Begin(PlainDevmode()));
    const std::string shortFile =
        WritePageFile(root_.path() / "short.tmp", "", kPageFileHeader - 1);
    ReplayPage(pdev_, shortFile.c_str());
    const std::string empty = root_.path() / "empty.tmp";
    std::ofstream(empty).close();
    ReplayPage(pdev_, empty.c_str());
    ReplayPage(pdev_, (root_.path() / "missing.tmp").c_str());
    EXPECT_EQ(pdev_->devmode.pub.dmCopies, 1);
    const std::string headerOnly = WritePageFile(root_.path() / "header.tmp", "");
    ReplayPage(pdev_, headerOnly.c_str());
    EXPECT_EQ(pdev_->devmode.pub.dmCopies, 7);
    EXPECT_EQ(Output(), kPage);  // only the header-only page was replayed
}

}  // namespace
}  // namespace cmdtest
