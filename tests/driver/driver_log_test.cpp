#include "driver/driver_log.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/last_error.h"
#include "platform/registry.h"
#include "platform/spooler.h"
#include "platform/wide.h"
#include "test_support.h"

// The driver's context switches, counted on their way to the platform's own
// calls, so that the tests see every token given back. The platform keeps its
// handle table for the life of the process, so a token never given back would
// not show as a leak.
namespace identity {
int reverts = 0;
int restores = 0;
bool refuseRevert = false;
}  // namespace identity

extern "C" {
QLPR_EXPORT HANDLE WINAPI RevertToPrinterSelf() {
    using Next = HANDLE (*)();
    static const auto next = reinterpret_cast<Next>(dlsym(RTLD_NEXT, "RevertToPrinterSelf"));
    if (identity::refuseRevert || next == nullptr) return nullptr;
    HANDLE token = next();
    if (token != nullptr) ++identity::reverts;
    return token;
}
QLPR_EXPORT BOOL WINAPI ImpersonatePrinterClient(HANDLE token) {
    using Next = BOOL (*)(HANDLE);
    static const auto next = reinterpret_cast<Next>(dlsym(RTLD_NEXT, "ImpersonatePrinterClient"));
    const BOOL taken = next != nullptr ? next(token) : FALSE;
    if (taken) ++identity::restores;
    return taken;
}
}

namespace {

class DriverLogFile : public ::testing::Test {
protected:
    void SetUp() override {
        settings_ = std::make_unique<PrinterData>();
        settings_->logMode = kLogOrdinary;
        SetFolder(root_.path().string());
    }
    void SetFolder(const std::string& folder) {
        platform::WideCopy(settings_->logFolder, 260, platform::FromUtf8(folder));
    }
    std::string Log() const {
        std::ifstream in(root_.path() / "P-ZNGIUI.log", std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }
    testsupport::ScopedStoreRoot root_;
    std::unique_ptr<PrinterData> settings_;
};

TEST_F(DriverLogFile, LinesCarryTimeTagAndProcessAndEndInOneLineFeed) {
    EXPECT_EQ(DriverLog(nullptr, settings_.get(), nullptr, kLogLevelOrdinary, "abc"), 1);
    EXPECT_EQ(DriverLog(nullptr, settings_.get(), nullptr, kLogLevelOrdinary, "def\n"), 1);
    std::string log = Log();
    std::regex line(R"(\d{4}/\d\d/\d\d \d\d:\d\d:\d\d\.\d{3} \[GI\]\[driver_tests\] (abc|def)\n)");
    std::istringstream lines(log);
    std::string first, second;
    std::getline(lines, first);
    std::getline(lines, second);
    EXPECT_TRUE(std::regex_match(first + "\n", line)) << first;
    EXPECT_TRUE(std::regex_match(second + "\n", line)) << second;
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 2);
}

TEST_F(DriverLogFile, TheLogModeDecidesWhichLinesAreWritten) {
    DriverLog(nullptr, settings_.get(), nullptr, kLogLevelOrdinary, "Enter DrvStartPage()\n");
    DriverLog(nullptr, settings_.get(), nullptr, kLogLevelDetail, "ulVersion:       0x%x\n", 0x400);
    EXPECT_NE(Log().find("Enter DrvStartPage()\n"), std::string::npos);
    EXPECT_EQ(Log().find("ulVersion"), std::string::npos);

    settings_->logMode = kLogDetail;
    DriverLog(nullptr, settings_.get(), nullptr, kLogLevelDetail, "ulVersion:       0x%x\n", 0x400);
    EXPECT_NE(Log().find("ulVersion:       0x400\n"), std::string::npos);

    settings_->logMode = kLogNone;
    std::string before = Log();
    EXPECT_EQ(DriverLog(nullptr, settings_.get(), nullptr, kLogLevelOrdinary, "quiet"), 1);
    EXPECT_EQ(Log(), before);
}

TEST_F(DriverLogFile, AFolderWithOrWithoutItsSeparatorGivesTheSameFile) {
    DriverLog(nullptr, settings_.get(), nullptr, kLogLevelOrdinary, "one");
    SetFolder(root_.path().string() + "\\");
    DriverLog(nullptr, settings_.get(), nullptr, kLogLevelOrdinary, "two");
    SetFolder(root_.path().string() + "/");
    DriverLog(nullptr, settings_.get(), nullptr, kLogLevelOrdinary, "three");
    std::string log = Log();
    EXPECT_NE(log.find("] one\n"), std::string::npos);
    EXPECT_NE(log.find("] two\n"), std::string::npos);
    EXPECT_NE(log.find("] three\n"), std::string::npos);
}

TEST_F(DriverLogFile, MessagesAreCutAt1024Characters) {
    std::string longText(3000, 'x');
    DriverLog(nullptr, settings_.get(), nullptr, kLogLevelOrdinary, "%s", longText.c_str());
    std::string log = Log();
    std::size_t start = log.find("] x");
    ASSERT_NE(start, std::string::npos);
    EXPECT_EQ(log.size() - (start + 2), 1024u + 1u);  // the message and its line feed
}

TEST_F(DriverLogFile, WithoutASettingsBlockNothingIsWritten) {
    EXPECT_EQ(DriverLog(nullptr, nullptr, nullptr, kLogLevelOrdinary, "nobody hears"), 0);
}

TEST_F(DriverLogFile, DevmodeDumpsShowBothPartsOrSayThePrivateOneIsMissing) {
    settings_->logMode = kLogDetail;
    Devmode mode{};
    mode.pub.dmSize = sizeof(DEVMODEW);
    mode.pub.dmDriverExtra = kPrivateDevmodeSize;
    mode.pub.dmSpecVersion = 0x401;
    mode.priv.signature = kPrivateSignature;
    DumpDevmode(nullptr, settings_.get(), nullptr, kLogLevelDetail, &mode.pub, "Input Devmode");
    std::string log = Log();
    EXPECT_NE(log.find("] Input Devmode\n"), std::string::npos);
    EXPECT_NE(log.find("] <Common Devmode>\n"), std::string::npos);
    EXPECT_NE(log.find("] <Private Devmode>\n"), std::string::npos);
    // dmSpecVersion (0x0401) is the 65th byte: the third line, first bytes.
    EXPECT_NE(log.find("] 01 04 00 00 DC 00 D2 07"), std::string::npos);
    // 220 bytes make 7 lines, 2,002 make 63, plus the three titles.
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 3 + 7 + 63);

    mode.priv.signature = 0;
    DumpDevmode(nullptr, settings_.get(), nullptr, kLogLevelDetail, &mode.pub, "Output Devmode");
    EXPECT_NE(Log().find("] DEVMODE don't include PRIVATEDEVMODE\n"), std::string::npos);
}

TEST_F(DriverLogFile, LoggingLeavesTheCallersLastError) {
    SetLastError(ERROR_INVALID_DATA);
    DriverLog(nullptr, settings_.get(), nullptr, kLogLevelOrdinary, "after a failure");
    EXPECT_EQ(GetLastError(), ERROR_INVALID_DATA);
    SetLastError(ERROR_SHARING_VIOLATION);
    DriverLog(nullptr, nullptr, nullptr, kLogLevelOrdinary, "no settings");
    EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
}

// Rotation and the archive list, with the clock held still.
constexpr char16_t kArchiveKey[] = u"Software\\P-ZN\\PrinterDriverData";
constexpr char kNow[] = "P-ZNGIUI20240305070809.log";  // the name the held clock gives
SYSTEMTIME heldTime{};
void HeldClock(SYSTEMTIME* now) {
    *now = heldTime;
}

std::string ArchiveAt(int second) {
    char name[40];
    std::snprintf(name, sizeof name, "P-ZNGIUI202401010000%02d.log", second);
    return name;
}
std::vector<std::string> ArchivesFrom(int newest, int oldest) {
    std::vector<std::string> names;
    for (int second = newest; second >= oldest; --second) names.push_back(ArchiveAt(second));
    return names;
}

// Raw slots of 64 bytes, each a name and, when it is shorter, its zero.
std::string Slots(const std::vector<std::u16string>& names) {
    std::string bytes;
    for (const std::u16string& name : names) {
        std::string slot(64, '\0');
        for (std::size_t i = 0; i < name.size() && i < 32; ++i) {
            slot[2 * i] = static_cast<char>(name[i] & 0xFF);
            slot[2 * i + 1] = static_cast<char>(name[i] >> 8);
        }
        bytes += slot;
    }
    return bytes;
}
std::string Slots(const std::vector<std::string>& names) {
    std::vector<std::u16string> wide;
    for (const std::string& name : names) wide.push_back(platform::FromUtf8(name));
    return Slots(wide);
}

class DriverLogRotation : public ::testing::Test {
protected:
    void SetUp() override {
        heldTime = SYSTEMTIME{2024, 3, 2, 5, 7, 8, 9, 10};
        SetDriverLogClockForTesting(&HeldClock);
        folder_ = root_.path() / "logs";
        std::filesystem::create_directory(folder_);
        settings_.logMode = kLogOrdinary;
        settings_.logGenerations = 3;
        platform::WideCopy(settings_.logFolder, 260, platform::FromUtf8(folder_.string()));
        identity::reverts = identity::restores = 0;
    }
    void TearDown() override {
        SetDriverLogClockForTesting(nullptr);
        identity::refuseRevert = false;
        EXPECT_EQ(identity::reverts, identity::restores) << "a token was not given back";
    }

    std::filesystem::path Current() const { return folder_ / "P-ZNGIUI.log"; }
    void Log(const char* message = "m") {
        EXPECT_EQ(DriverLog(nullptr, &settings_, nullptr, kLogLevelOrdinary, "%s", message), 1);
    }
    std::uintmax_t LineLength(const char* message = "m") {
        std::filesystem::remove(Current());
        Log(message);
        const std::uintmax_t length = std::filesystem::file_size(Current());
        std::filesystem::remove(Current());
        return length;
    }
    static void Fill(const std::filesystem::path& path, std::uintmax_t size) {
        std::ofstream(path, std::ios::binary | std::ios::trunc).close();
        std::filesystem::resize_file(path, size);
    }
    // The line of `message` will take the current log to exactly 1 MiB.
    void FillToTheLastLine(const char* message = "m") {
        Fill(Current(), kLogRotateSize - LineLength(message));
    }
    void StartList(const std::vector<std::string>& archives) {
        for (const std::string& name : archives) Fill(folder_ / name, 10);
        SetList(Slots(archives));
    }

    static void SetList(const std::string& bytes) {
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, kArchiveKey, 0, nullptr, 0, KEY_SET_VALUE,
                                  nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        EXPECT_EQ(RegSetValueExW(key, u"LogFiles", 0, REG_BINARY,
                                 reinterpret_cast<const BYTE*>(bytes.data()),
                                 static_cast<DWORD>(bytes.size())),
                  ERROR_SUCCESS);
        RegCloseKey(key);
    }
    // The raw value, or "absent".
    static std::string ListBytes() {
        HKEY key = nullptr;
        std::string bytes(8192, '\0');
        DWORD size = static_cast<DWORD>(bytes.size());
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kArchiveKey, 0, KEY_QUERY_VALUE, &key) != 0)
            return "absent";
        const LONG status = RegQueryValueExW(key, u"LogFiles", nullptr, nullptr,
                                             reinterpret_cast<BYTE*>(bytes.data()), &size);
        RegCloseKey(key);
        bytes.resize(size);
        return status == ERROR_SUCCESS ? bytes : "absent";
    }
    // Compared as raw bytes: every slot must be exactly a name and zeros.
    static void ExpectList(const std::vector<std::string>& names) {
        EXPECT_EQ(ListBytes(), Slots(names));
    }
    std::vector<std::string> Files() const {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(folder_))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    testsupport::ScopedStoreRoot root_;
    std::filesystem::path folder_;
    PrinterData settings_{};
};

TEST_F(DriverLogRotation, ALineThatTakesTheLogToOneMebibyteArchivesIt) {
    const std::uintmax_t lineLength = LineLength("last");
    FillToTheLastLine("last");
    Log("last");
    EXPECT_EQ(Files(), std::vector<std::string>{kNow});
    ASSERT_EQ(std::filesystem::file_size(folder_ / kNow), kLogRotateSize);
    std::ifstream archive(folder_ / kNow, std::ios::binary);
    archive.seekg(-static_cast<std::streamoff>(lineLength), std::ios::end);
    std::string lastLine;
    std::getline(archive, lastLine);
    EXPECT_EQ(lastLine, "2024/03/05 07:08:09.010 [GI][driver_tests] last");
    ExpectList({kNow});

    Log("first");  // starts a new file
    const std::uintmax_t firstFile = std::filesystem::file_size(Current());
    EXPECT_EQ(firstFile, LineLength("first"));

    // One byte short: no rotation. A log already beyond the size: rotation.
    std::filesystem::remove(folder_ / kNow);
    Fill(Current(), kLogRotateSize - LineLength() - 1);
    Log();
    EXPECT_EQ(Files(), std::vector<std::string>{"P-ZNGIUI.log"});
    Fill(Current(), 3 * kLogRotateSize);
    Log();
    EXPECT_EQ(Files(), std::vector<std::string>{kNow});
}

TEST_F(DriverLogRotation, GenerationsCountTheArchivesAndTheCurrentLog) {
    struct Case {
        WORD generations;
        int listed;                         // old archives, newest first
        std::vector<std::string> expected;  // the list after the rotation
        std::size_t files;                  // archives left in the folder
    };
    const Case cases[] = {
        {3, 4, {kNow, ArchiveAt(4)}, 2},
        {1, 2, {kNow}, 1},
        {2, 2, {kNow}, 1},
        {0, 2, {kNow, ArchiveAt(2), ArchiveAt(1)}, 3},
        // The list holds 32: the oldest name leaves it, its file stays.
        {0, 32,
         [] {
             auto l = ArchivesFrom(32, 2);
             l.insert(l.begin(), kNow);
             return l;
         }(),
         33},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "generations " << c.generations);
        for (const std::string& name : Files()) std::filesystem::remove(folder_ / name);
        settings_.logGenerations = c.generations;
        StartList(ArchivesFrom(c.listed, 1));
        FillToTheLastLine();
        Log();
        ExpectList(c.expected);
        EXPECT_EQ(Files().size(), c.files);
        for (const std::string& name : c.expected)
            EXPECT_TRUE(std::filesystem::exists(folder_ / name)) << name;
    }
}

TEST_F(DriverLogRotation, TwoRotationsWithinOneSecondLeaveTheListAsTheFirstMadeIt) {
    StartList({ArchiveAt(1)});
    FillToTheLastLine();
    Log();
    const std::string afterFirst = ListBytes();
    ExpectList({kNow, ArchiveAt(1)});

    // This second's archive is not replaced; the full log waits.
    FillToTheLastLine();
    Log();
    EXPECT_EQ(ListBytes(), afterFirst);
    EXPECT_EQ(std::filesystem::file_size(folder_ / kNow), kLogRotateSize);
    EXPECT_EQ(std::filesystem::file_size(Current()), kLogRotateSize);

    // With that archive gone, the log is archived again; the list, whose
    // first slot names it already, stays as it was.
    std::filesystem::remove(folder_ / kNow);
    Log();
    EXPECT_EQ(Files(), (std::vector<std::string>{ArchiveAt(1), kNow}));
    EXPECT_EQ(ListBytes(), afterFirst);

    // One second later.
    FillToTheLastLine();
    heldTime.wSecond = 10;
    Log();
    ExpectList({"P-ZNGIUI20240305070810.log", kNow});
    EXPECT_FALSE(std::filesystem::exists(folder_ / ArchiveAt(1)));
}

TEST_F(DriverLogRotation, ListSlotsThatNameNoArchiveTouchNoFile) {
    const std::filesystem::path victim = root_.path() / "victim.log";
    Fill(victim, 5);
    char elsewhere[] = "/tmp/qlXXXXXX";  // an absolute path short enough for a slot
    ASSERT_NE(mkdtemp(elsewhere), nullptr);
    const std::filesystem::path farVictim = std::filesystem::path(elsewhere) / "v.log";
    Fill(farVictim, 5);
    Fill(folder_ / "keep.txt", 5);
    Fill(folder_ / ArchiveAt(1), 5);
    std::string bytes = Slots(std::vector<std::string>{
        "../victim.log", "..\\victim.log", "..", farVictim.string(), "keep.txt", "P-ZNGIUI.log",
        "P-ZNGIUI2024010100000x.log", "", ArchiveAt(2), ArchiveAt(1)});
    bytes += Slots({std::u16string(32, u'A')});  // no terminating zero
    bytes += std::string(10, 'B');               // part of a slot
    SetList(bytes);
    settings_.logGenerations = 1;
    FillToTheLastLine();
    Log();
    EXPECT_TRUE(std::filesystem::exists(victim));
    EXPECT_TRUE(std::filesystem::exists(farVictim));
    std::filesystem::remove_all(elsewhere);
    EXPECT_EQ(Files(), (std::vector<std::string>{kNow, "keep.txt"}));
    ExpectList({kNow});

    // An old slot naming the new archive (twice) neither keeps nor deletes it.
    std::filesystem::remove(folder_ / kNow);
    StartList({ArchiveAt(2), kNow, kNow, ArchiveAt(1)});
    std::filesystem::remove(folder_ / kNow);
    FillToTheLastLine();
    Log();
    ExpectList({kNow});
    EXPECT_EQ(Files(), (std::vector<std::string>{kNow, "keep.txt"}));

    // A list beyond 2,048 bytes cannot be read: it starts again, nothing deleted.
    std::filesystem::remove(folder_ / kNow);
    StartList(ArchivesFrom(33, 1));
    FillToTheLastLine();
    Log();
    ExpectList({kNow});
    EXPECT_EQ(Files().size(), 35u);
}

TEST_F(DriverLogRotation, ALogHeldOpenByAnotherWriterLosesTheLine) {
    HANDLE held = CreateFileW(platform::FromUtf8(Current().string()).c_str(), GENERIC_WRITE, 0,
                              nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    Log("lost");
    EXPECT_EQ(std::filesystem::file_size(Current()), 0u);
    CloseHandle(held);
    Log("kept");
    EXPECT_GT(std::filesystem::file_size(Current()), 0u);
    EXPECT_GE(identity::reverts, 2);  // and TearDown sees every token back
}

TEST_F(DriverLogRotation, TheClientsContextIsTakenBackOnEveryPath) {
    settings_.logMode = kLogNone;  // nothing to write: no switch at all
    Log();
    EXPECT_EQ(identity::reverts, 0);
    settings_.logMode = kLogOrdinary;
    StartList({ArchiveAt(1)});
    FillToTheLastLine();
    Log();  // rotation
    FillToTheLastLine();
    Log();  // rotation refused: the archive exists
    platform::WideCopy(settings_.logFolder, 260, u"/nonexistent-qlpr-folder");
    Log();  // no folder
    EXPECT_GE(identity::reverts, 5);
    EXPECT_EQ(identity::reverts, identity::restores);

    // Without the spooler's context no file work is done.
    platform::WideCopy(settings_.logFolder, 260, platform::FromUtf8(folder_.string()));
    std::filesystem::remove(Current());
    identity::refuseRevert = true;
    Log();
    EXPECT_FALSE(std::filesystem::exists(Current()));
}

}  // namespace
