#include "driver/log_format.h"

#include <gtest/gtest.h>

namespace {

TEST(LogFormat, IntegersFollowFlagsWidthAndPrecision) {
    EXPECT_EQ(FormatLog("%d|%5d|%-5d|%05d|%+d", 42, 42, 42, -42, 7), "42|   42|42   |-0042|+7");
    EXPECT_EQ(FormatLog("%x|%X|%08x|%#x|%u", 0xABCDu, 0xABCDu, 0x1Fu, 255u, 4000000000u),
              "abcd|ABCD|0000001f|0xff|4000000000");
    EXPECT_EQ(FormatLog("%04d/%02d/%02d %02d:%02d:%02d.%03d", 2026, 1, 2, 3, 4, 5, 6),
              "2026/01/02 03:04:05.006");
    EXPECT_EQ(FormatLog("%.3d|%hd", 5, 70000), "005|4464");
}

TEST(LogFormat, NarrowAndWideStringsFollowThePlatformsAnsiRules) {
    const char16_t wide[] = u"Caf\u00e9";
    // "%S" and "%ls" take 16-bit strings, converted to the ANSI code page.
    EXPECT_EQ(FormatLog("[%S][%ls][%s]", wide, wide, "narrow"), "[Caf\xE9][Caf\xE9][narrow]");
    EXPECT_EQ(FormatLog("%hs|%.2s|%-4s|", "abc", "abc", "ab"), "abc|ab|ab  |");
    EXPECT_EQ(FormatLog("%s|%S", static_cast<const char*>(nullptr), static_cast<const char16_t*>(nullptr)),
              "(null)|(null)");
}

TEST(LogFormat, BuildsHexDumpLinesByAppending) {
    std::string line;
    for (int byte : {0x00, 0x7F, 0xAB}) line = FormatLog("%s%02X", line.c_str(), byte);
    EXPECT_EQ(line, "007FAB");
}

TEST(LogFormat, PercentUnknownConversionsAndTruncatedFormats) {
    EXPECT_EQ(FormatLog("100%% %c", 'x'), "100% x");
    EXPECT_EQ(FormatLog("%q stays"), "%q stays");
    EXPECT_EQ(FormatLog("ends with %"), "ends with %");
}

}  // namespace
