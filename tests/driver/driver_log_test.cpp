#include "driver/driver_log.h"

#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <regex>
#include <sstream>

#include "platform/wide.h"
#include "test_support.h"

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

}  // namespace
