// qlpr decode and qlpr preview, run as a user runs them.

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>

#include "qlpr_run.h"

namespace {

using Outcome = testsupport::QlprRun;

class QlprStream : public ::testing::Test {
  protected:
    Outcome Qlpr(const std::string& arguments) {
        return testsupport::RunQlpr(arguments, root_.path() / "stderr.txt");
    }
    std::string Write(const std::string& name, const std::string& bytes) {
        const std::filesystem::path path = root_.path() / name;
        std::ofstream(path, std::ios::binary) << bytes;
        return path.string();
    }
    static void ExpectOneErrorLine(const Outcome& outcome) {
        EXPECT_EQ(outcome.status, 1);
        EXPECT_EQ(outcome.err.rfind("qlpr: ", 0), 0u) << outcome.err;
        EXPECT_EQ(std::count(outcome.err.begin(), outcome.err.end(), '\n'), 1) << outcome.err;
    }

    testsupport::ScopedStoreRoot root_;
};

std::string RasterRow(std::size_t lineBytes) {
    std::string line(lineBytes, '\0');
    line[0] = '\x00';
    line[1] = '\xFF';
    return std::string("\x1B\x2C\x00\x01\x00", 5) + line;
}

TEST_F(QlprStream, DecodeListsCommandsAndExitsZeroWhenAllAreKnown) {
    const std::string stream =
        std::string("\x1B\x40\x1B\x4A\x05", 5) + RasterRow(72) + "\x1D\x56\x01" + "Hi";
    const Outcome outcome = Qlpr("decode " + Write("s.bin", stream));
    ASSERT_EQ(outcome.status, 0) << outcome.err;
    EXPECT_EQ(outcome.err, "");
    EXPECT_NE(outcome.out.find("00000000  ESC @\n"), std::string::npos) << outcome.out;
    EXPECT_NE(outcome.out.find("00000002  ESC J 5\n"), std::string::npos);
    EXPECT_NE(outcome.out.find("00000005  ESC , 0 1  rows 1, planes 1  (72 data bytes)\n"),
              std::string::npos);
    // The sent unit (00, FF) is the row pair (FF, 00): dots 0 to 7.
    EXPECT_NE(outcome.out.find("0000000a    row 0 plane 1: 8 dots  ff\n"), std::string::npos);
    EXPECT_NE(outcome.out.find("GS V 1\n"), std::string::npos);
    EXPECT_NE(outcome.out.find("TEXT \"Hi\"  (2 bytes)\n"), std::string::npos);
    EXPECT_NE(outcome.out.find(" 0 unknown bytes\n"), std::string::npos);

    // The line length decides where a raster block ends.
    const Outcome shortLines =
        Qlpr("decode --line-bytes 4 " + Write("s4.bin", RasterRow(4) + "\x0A"));
    EXPECT_EQ(shortLines.status, 0) << shortLines.out;
    EXPECT_NE(shortLines.out.find("(4 data bytes)"), std::string::npos);
    EXPECT_NE(shortLines.out.find("  LF\n"), std::string::npos);

    const Outcome empty = Qlpr("decode " + Write("empty.bin", ""));
    EXPECT_EQ(empty.status, 0);
    EXPECT_EQ(empty.out, "0 bytes, 0 commands, 0 unknown bytes\n");
}

TEST_F(QlprStream, DecodeExitsTwoOnUnknownOrTruncatedBytes) {
    const Outcome unknown = Qlpr("decode " + Write("u.bin", std::string("\x1B\x40\x00\x02", 4)));
    EXPECT_EQ(unknown.status, 2);
    EXPECT_NE(unknown.out.find("UNKNOWN 00 02  (2 bytes)"), std::string::npos) << unknown.out;
    EXPECT_NE(unknown.out.find(" 2 unknown bytes\n"), std::string::npos);

    const Outcome truncated =
        Qlpr("decode " + Write("t.bin", std::string("\x1B\x2C\x00\xFF\xFF", 5) + "abc"));
    EXPECT_EQ(truncated.status, 2);
    EXPECT_NE(truncated.out.find("TRUNCATED ESC ,: 1b 2c 00 ff ff 61 62 63  (8 bytes)"),
              std::string::npos)
        << truncated.out;
}

TEST_F(QlprStream, BadArgumentsGiveOneLineAndStatusOne) {
    const std::string stream = Write("s.bin", "\x1B\x40");
    for (const std::string& arguments :
         {std::string("decode"), std::string("decode /nonexistent/s.bin"),
          "decode " + root_.path().string(), "decode --line-bytes 0 " + stream,
          "decode --line-bytes x " + stream, "decode --bogus " + stream,
          "decode " + stream + " " + stream, std::string("preview /nonexistent/s.bin -o x.png"),
          "preview " + stream, "preview " + stream + " -o x.png --scale 17",
          "preview " + stream + " -o x.png --left-pad 72",
          "preview " + stream + " -o /nonexistent/dir/x.png"}) {
        SCOPED_TRACE(arguments);
        ExpectOneErrorLine(Qlpr(arguments));
    }
    const Outcome missing = Qlpr("decode /nonexistent/s.bin");
    EXPECT_EQ(missing.err, "qlpr: cannot read /nonexistent/s.bin\n");
}

TEST_F(QlprStream, PreviewWritesAPng) {
    const std::string png = (root_.path() / "paper.png").string();
    const Outcome outcome = Qlpr("preview " + Write("s.bin", RasterRow(72) + "\x1D\x56\x00") +
                                 " -o " + png + " --scale 2");
    ASSERT_EQ(outcome.status, 0) << outcome.err;
    std::ifstream in(png, std::ios::binary);
    std::string signature(8, '\0');
    in.read(signature.data(), 8);
    EXPECT_EQ(signature, "\x89PNG\r\n\x1A\n");

    const Outcome help = Qlpr("preview --help");
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("default 72"), std::string::npos);
}

}  // namespace
