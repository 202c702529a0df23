// qlpr info, run as a user runs it.

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "qlpr_run.h"

namespace {

// A run of qlpr info, with its "name: value" lines.
struct QlprRun : testsupport::QlprRun {
    std::map<std::string, std::string> fields;
};

class QlprInfo : public ::testing::Test {
protected:
    QlprRun Qlpr(const std::string& arguments) {
        QlprRun run{testsupport::RunQlpr(arguments, root_.path() / "stderr.txt"), {}};
        std::istringstream lines(run.out);
        for (std::string line; std::getline(lines, line);) {
            std::size_t colon = line.find(": ");
            if (colon != std::string::npos) run.fields.emplace(line.substr(0, colon), line.substr(colon + 2));
        }
        return run;
    }
    std::filesystem::path Write(const std::string& name, const std::string& bytes) {
        std::filesystem::path path = root_.path() / name;
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }

    testsupport::ScopedStoreRoot root_;
};

TEST_F(QlprInfo, ShowsTheEmbeddedDefaultPrinter) {
    QlprRun run = Qlpr("info");
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.fields["dmSize"], "220");
    EXPECT_EQ(run.fields["dmDriverExtra"], "2002");
    EXPECT_EQ(run.fields["dmPrintQuality"], "203");
    EXPECT_EQ(run.fields["dmCopies"], "1");
    EXPECT_EQ(run.fields["signature"], "0xABCDABCD");
    EXPECT_EQ(run.fields["optionFlags"], "0x18");
    EXPECT_EQ(run.fields["geometry.paperPrintableWidth"], "576");
    EXPECT_EQ(run.fields["geometry.recordedScale"], "100");
    EXPECT_EQ(run.fields["geometry.bandDirection"], "1");
    EXPECT_EQ(run.fields["geometry.status"], "0x8000");
    EXPECT_EQ(run.fields["ulLogPixelsX"], "203");
    EXPECT_EQ(run.fields["denStyleStep"], "4");
    EXPECT_EQ(run.fields["lfDefaultFont.lfHeight"], "-31");
    EXPECT_EQ(run.fields["lfDefaultFont.lfFaceName"], "System");
    EXPECT_EQ(run.fields["cFonts"], run.fields["deviceFonts"]);
    EXPECT_NE(run.out.find("face=Barcode1"), std::string::npos);
    EXPECT_NE(run.out.find("face=Control A"), std::string::npos);
    // The data file and its cache sit in the printer's folder.
    EXPECT_TRUE(std::filesystem::exists(root_.path() / "printers"));
}

TEST_F(QlprInfo, TakesAnApplicationDevmodeAndASettingsBlock) {
    QlprRun first = Qlpr("info");
    ASSERT_EQ(first.status, 0) << first.err;

    std::string devmode(220, '\0');
    auto put16 = [&](std::size_t at, int value) {
        devmode[at] = static_cast<char>(value & 0xFF);
        devmode[at + 1] = static_cast<char>((value >> 8) & 0xFF);
    };
    put16(64, 0x401);  // dmSpecVersion
    put16(68, 220);    // dmSize
    devmode[72] = 0x01;  // dmFields: orientation
    devmode[73] = 0x01;  //           copies
    put16(76, 2);      // landscape
    put16(86, 0);      // copies 0 becomes 1
    QlprRun landscape = Qlpr("info --devmode " + Write("mode.bin", devmode).string());
    ASSERT_EQ(landscape.status, 0) << landscape.err;
    EXPECT_EQ(landscape.fields["dmOrientation"], "2");
    EXPECT_EQ(landscape.fields["dmCopies"], "1");
    EXPECT_EQ(landscape.fields["rotation"], "90");
    EXPECT_EQ(landscape.fields["geometry.rotation"], "270");
    EXPECT_EQ(landscape.fields["geometry.bandDirection"], "2");

    // A block of the wrong size is ignored in favour of the defaults.
    QlprRun wrongSize = Qlpr("info --printer-data " + Write("short.bin", std::string(100, 'x')).string());
    ASSERT_EQ(wrongSize.status, 0) << wrongSize.err;
    EXPECT_EQ(wrongSize.out, first.out);
}

TEST_F(QlprInfo, BadInputGivesOneLineAndStatusOne) {
    for (const std::string& arguments :
         {std::string("info --data /nonexistent/x.ini"),
          "info --devmode " + Write("big.bin", std::string(3000, '\0')).string(),
          "info --devmode " + Write("tiny.bin", std::string(10, '\0')).string(),
          "info --data " + Write("bad.ini", "[printer]\ndriver=1,2,3,4\n").string(), std::string("info --bogus"),
          std::string("info --data")}) {
        QlprRun run = Qlpr(arguments);
        EXPECT_EQ(run.status, 1) << arguments;
        EXPECT_EQ(run.out, "") << arguments;
        ASSERT_FALSE(run.err.empty()) << arguments;
        EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << arguments << ": " << run.err;
    }
}

TEST_F(QlprInfo, HelpExplainsTheOptions) {
    QlprRun run = Qlpr("info --help");
    EXPECT_EQ(run.status, 0);
    for (const char* option : {"--data", "--devmode", "--printer-data"})
        EXPECT_NE(run.out.find(option), std::string::npos) << option;
}

}  // namespace
