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
    EXPECT_TRUE(PageFiles().empty());
    EXPECT_FALSE(std::filesystem::exists(PrivateFolder()));
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
    EXPECT_EQ(PageFileName(*pdev_, 1), "1ABCDE0001.tmp");
}

TEST_F(SpoolOutput, PageFilesLiveInTheUsersPrivateFolder) {
    Devmode mode = PlainDevmode();
    mode.pub.dmCopies = 2;
    ASSERT_TRUE(Begin(mode));
    Page(1);
    struct stat info {};
    ASSERT_EQ(lstat(PrivateFolder().c_str(), &info), 0);
    EXPECT_TRUE(S_ISDIR(info.st_mode));
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    EXPECT_EQ(info.st_uid, geteuid());
    EXPECT_EQ(std::string(pdev_->tempDirectory), PrivateFolder().string() + "/");
    EXPECT_EQ(End(), OneSided({"P1", "P1"}));
}

TEST_F(SpoolOutput, AStaleFileOfTheSameNameIsReplaced) {
    std::filesystem::create_directories(PrivateFolder());
    std::filesystem::permissions(PrivateFolder(), std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::replace);
    std::ofstream(PrivateFolder() / "002B0001.tmp") << "stale";
    Devmode mode = PlainDevmode();
    mode.pub.dmCopies = 2;
    EXPECT_EQ(Print(mode, 1), OneSided({"P1", "P1"}));
}

TEST_F(SpoolOutput, AFolderOthersCouldReachIsNotUsed) {
    // A link in place of the private folder: page files are refused and the
    // job is written straight through.
    std::filesystem::create_directories(root_.path() / "elsewhere");
    std::filesystem::create_directory_symlink(root_.path() / "elsewhere", PrivateFolder());
    Devmode mode = PlainDevmode();
    mode.pub.dmCopies = 2;
    EXPECT_EQ(Print(mode, 2), OneSided({"P1", "P2"}));
    EXPECT_TRUE(std::filesystem::is_empty(root_.path() / "elsewhere"));
}

TEST_F(SpoolOutput, FilesOfADocumentThatNeverEndedAreRemoved) {
    Devmode mode = PlainDevmode();
    mode.pub.dmCopies = 2;
    mode.pub.dmCollate = 1;
    ASSERT_TRUE(Begin(mode));
    Page(1);
    Page(2);
    const SIZEL size{576, 800};
    ASSERT_EQ(CmndStartPage(pdev_, &mode_, &size, nullptr, 0), 1);
    EXPECT_EQ(PageFiles().size(), 3u);
    EXPECT_EQ(CmndDisableExtPDEV(pdev_), 1);
    pdev_ = nullptr;
    EXPECT_TRUE(PageFiles().empty());
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
