// Code page 1252 and UTF-8 conversions, and the wide-string helpers.
#include "platform/codepage.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "platform/last_error.h"
#include "platform/muldiv.h"
#include "platform/wide.h"

namespace {

std::u16string ToWide(UINT codePage, const std::string& bytes, DWORD flags = 0) {
    int needed = MultiByteToWideChar(codePage, flags, bytes.data(), static_cast<int>(bytes.size()),
                                     nullptr, 0);
    std::u16string out(static_cast<std::size_t>(needed), u'\0');
    if (needed > 0) {
        EXPECT_EQ(MultiByteToWideChar(codePage, flags, bytes.data(), static_cast<int>(bytes.size()),
                                      out.data(), needed),
                  needed);
    }
    return out;
}

std::string FromWide(UINT codePage, const std::u16string& text, BOOL* usedDefault = nullptr,
                     const char* defaultChar = nullptr) {
    int needed = WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()),
                                     nullptr, 0, defaultChar, usedDefault);
    std::string out(static_cast<std::size_t>(needed), '\0');
    if (needed > 0) {
        EXPECT_EQ(WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()),
                                      out.data(), needed, defaultChar, usedDefault),
                  needed);
    }
    return out;
}

TEST(Code1252Test, EveryByteRoundTrips) {
    std::string all;
    for (int b = 1; b < 256; ++b) all.push_back(static_cast<char>(b));
    const std::u16string wide = ToWide(CP_1252, all);
    ASSERT_EQ(wide.size(), 255u);
    BOOL usedDefault = TRUE;
    EXPECT_EQ(FromWide(CP_1252, wide, &usedDefault), all);
    EXPECT_FALSE(usedDefault);
    EXPECT_EQ(ToWide(CP_ACP, all), wide);
    EXPECT_EQ(GetACP(), 1252u);
}

TEST(Code1252Test, HighControlRangeAsThePlatformMapsIt) {
    const std::u16string expected =
        u"\u20ac\u0081\u201a\u0192\u201e\u2026\u2020\u2021\u02c6\u2030\u0160\u2039\u0152\u008d"
        u"\u017d\u008f\u0090\u2018\u2019\u201c\u201d\u2022\u2013\u2014\u02dc\u2122\u0161\u203a"
        u"\u0153\u009d\u017e\u0178";
    std::string bytes;
    for (int b = 0x80; b <= 0x9F; ++b) bytes.push_back(static_cast<char>(b));
    EXPECT_EQ(ToWide(CP_1252, bytes), expected);
    EXPECT_EQ(ToWide(CP_1252, "\xA0\xE9\xFF"), u"\u00a0\u00e9\u00ff");
}

TEST(Code1252Test, UnmappableCharactersBecomeTheDefault) {
    BOOL usedDefault = FALSE;
    // Latin-extended, Cyrillic, a surrogate pair (one character), and a
    // lone surrogate.
    const std::u16string text = u"A\u0100B\u0416C\U0001F600D\xD800";
    EXPECT_EQ(FromWide(CP_1252, text, &usedDefault), "A?B?C?D?");
    EXPECT_TRUE(usedDefault);
    EXPECT_EQ(FromWide(CP_1252, text, &usedDefault, "#"), "A#B#C#D#");
    // No best fit: U+0100 does not turn into 'A'.
    EXPECT_EQ(FromWide(CP_1252, u"\u0100", nullptr), "?");
    EXPECT_EQ(FromWide(CP_1252, u"\u00e9\u20ac", &usedDefault), "\xE9\x80");
    EXPECT_FALSE(usedDefault);
}

TEST(CodePageProtocolTest, TerminatorCountsWithMinusOne) {
    WCHAR out[8];
    EXPECT_EQ(MultiByteToWideChar(CP_1252, 0, "abc", -1, out, 8), 4);
    EXPECT_EQ(std::u16string(out), u"abc");
    char bytes[8];
    EXPECT_EQ(WideCharToMultiByte(CP_1252, 0, u"abc", -1, bytes, 8, nullptr, nullptr), 4);
    EXPECT_STREQ(bytes, "abc");
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "\xC3\xA9", -1, nullptr, 0), 2);
}

TEST(CodePageProtocolTest, ShortOutputAndBadArgumentsFail) {
    WCHAR out[3];
    SetLastError(0);
    EXPECT_EQ(MultiByteToWideChar(CP_1252, 0, "abcd", 4, out, 3), 0);
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    char bytes[2];
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, u"\u20ac", 1, bytes, 2, nullptr, nullptr), 0);
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);

    SetLastError(0);
    EXPECT_EQ(MultiByteToWideChar(CP_1252, 0, "abc", 0, out, 3), 0);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(MultiByteToWideChar(CP_1252, 0, nullptr, 3, out, 3), 0);
    EXPECT_EQ(MultiByteToWideChar(437, 0, "abc", 3, out, 3), 0);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    BOOL used = FALSE;
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, u"a", 1, bytes, 2, nullptr, &used), 0);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST(Utf8Test, RoundTripIncludingSupplementaryCharacters) {
    const std::u16string text = u"Receipt \u00e9\u20ac\u4e2d\U0001F600";
    const std::string utf8 = FromWide(CP_UTF8, text);
    EXPECT_EQ(utf8, "Receipt \xC3\xA9\xE2\x82\xAC\xE4\xB8\xAD\xF0\x9F\x98\x80");
    EXPECT_EQ(ToWide(CP_UTF8, utf8), text);
    EXPECT_EQ(platform::ToUtf8(text), utf8);
    EXPECT_EQ(platform::FromUtf8(utf8), text);
}

TEST(Utf8Test, InvalidInputBecomesReplacementCharacters) {
    // A lone continuation byte, an overlong form, a truncated sequence, an
    // encoded surrogate and a code above U+10FFFF.
    EXPECT_EQ(platform::FromUtf8("a\x80"
                                 "b"),
              u"a\ufffdb");
    EXPECT_EQ(platform::FromUtf8("\xC0\xAF"), u"\ufffd\ufffd");
    EXPECT_EQ(platform::FromUtf8("\xE2\x82"), u"\ufffd");
    EXPECT_EQ(platform::FromUtf8("\xE2\x82x"), u"\ufffdx");
    EXPECT_EQ(platform::FromUtf8("\xED\xA0\x80"), u"\ufffd\ufffd\ufffd");
    EXPECT_EQ(platform::FromUtf8("\xF4\x90\x80\x80"), u"\ufffd\ufffd\ufffd\ufffd");
    EXPECT_EQ(platform::ToUtf8(u"x\xDC00y\xD800"), "x\xEF\xBF\xBDy\xEF\xBF\xBD");

    WCHAR out[8];
    SetLastError(0);
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, "a\x80", 2, out, 8), 0);
    EXPECT_EQ(GetLastError(), ERROR_NO_UNICODE_TRANSLATION);
    char bytes[8];
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, u"\xD800", 1, bytes, 8, nullptr,
                                  nullptr),
              0);
    EXPECT_EQ(GetLastError(), ERROR_NO_UNICODE_TRANSLATION);
}

TEST(WideTest, LengthCopyAndCompare) {
    EXPECT_EQ(platform::WideLength(u"abc"), 3u);
    EXPECT_EQ(platform::WideLength(nullptr), 0u);
    const WCHAR unterminated[3] = {u'a', u'b', u'c'};
    EXPECT_EQ(platform::WideLengthBounded(unterminated, 3), 3u);
    EXPECT_EQ(platform::WideLengthBounded(u"ab", 10), 2u);

    WCHAR dest[4] = {u'X', u'X', u'X', u'X'};
    platform::WideCopy(dest, 4, u"abcdef");
    EXPECT_EQ(std::u16string(dest), u"abc");
    platform::WideCopy(dest, 1, u"abc");
    EXPECT_EQ(dest[0], u'\0');

    EXPECT_TRUE(platform::WideEqualsNoCase(u"PrinterDriverData", u"printerDRIVERdata"));
    EXPECT_FALSE(platform::WideEqualsNoCase(u"abc", u"abd"));
    EXPECT_FALSE(platform::WideEqualsNoCase(u"abc", u"ab"));
    EXPECT_FALSE(platform::WideEqualsNoCase(u"\u00e9", u"\u00c9"));  // ASCII only
    EXPECT_FALSE(platform::WideEqualsNoCase(u"[", u"{"));
}

TEST(Arithmetic, MulDivRoundsHalvesAwayFromZeroAndRefusesWhatDoesNotFit) {
    EXPECT_EQ(MulDiv(40, 255, 79), 129);     // 129.11
    EXPECT_EQ(MulDiv(121, 255, 176), 175);   // 175.31
    EXPECT_EQ(MulDiv(1, 255, 2), 128);       // 127.5 goes up
    EXPECT_EQ(MulDiv(-1, 255, 2), -128);     // and -127.5 down
    EXPECT_EQ(MulDiv(65536, 65536, 1), -1);  // 2^32 does not fit
    EXPECT_EQ(MulDiv(5, 7, 0), -1);
}

TEST(CodePages, LeadBytesExistOnlyInDoubleByteCodePages) {
    EXPECT_TRUE(IsDBCSLeadByteEx(932, 0x81));
    EXPECT_TRUE(IsDBCSLeadByteEx(932, 0xE0));
    EXPECT_FALSE(IsDBCSLeadByteEx(932, 0xA1));  // half-width katakana stands alone
    EXPECT_FALSE(IsDBCSLeadByteEx(932, 0x41));
    EXPECT_FALSE(IsDBCSLeadByteEx(1252, 0x81));
    EXPECT_FALSE(IsDBCSLeadByteEx(CP_ACP, 0x81));  // the ANSI code page is 1252
}

TEST(CodePages, ShiftJisAndCode850ConvertBothWays) {
    struct Case {
        UINT codePage;
        std::string bytes;
        std::u16string text;
    };
    const Case cases[] = {
        // ASCII (0x5C stays the backslash), hiragana, a kanji, a half-width
        // katakana, and an IBM extension (its NEC-selected copy reads the same).
        {932, "A\\\x82\xA0\x88\x9F\xB1\xFA\x40", u"A\\\u3042\u4e9c\uff71\u2170"},
        {850, "a\x82\x9C\xE1", u"a\u00e9\u00a3\u00df"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ToWide(c.codePage, c.bytes), c.text) << c.codePage;
        BOOL usedDefault = TRUE;
        EXPECT_EQ(FromWide(c.codePage, c.text, &usedDefault), c.bytes) << c.codePage;
        EXPECT_FALSE(usedDefault);
    }
    EXPECT_EQ(ToWide(932, "\xEE\xEF"), u"\u2170");
    // What a code page lacks: the default character either way.
    BOOL usedDefault = FALSE;
    EXPECT_EQ(FromWide(850, u"x\u4e9c", &usedDefault), "x?");
    EXPECT_TRUE(usedDefault);
    EXPECT_EQ(ToWide(932, "a\x82"), u"a\u30fb");  // a lead byte without its trail
    WCHAR out[4];
    SetLastError(0);
    EXPECT_EQ(MultiByteToWideChar(932, MB_ERR_INVALID_CHARS, "a\x82", 2, out, 4), 0);
    EXPECT_EQ(GetLastError(), ERROR_NO_UNICODE_TRANSLATION);
}

TEST(CodePages, TheAnsiCodePageIsASettingOfThePlatform) {
    struct Case {
        const char* setting;  // null: not set
        UINT codePage;
    };
    const Case cases[] = {{nullptr, 1252}, {"932", 932},  {"850", 850},
                          {"1252", 1252},  {"437", 1252}, {"932x", 1252}};
    for (const Case& c : cases) {
        if (c.setting != nullptr)
            setenv("QLPR_ANSI_CODE_PAGE", c.setting, 1);
        else
            unsetenv("QLPR_ANSI_CODE_PAGE");
        EXPECT_EQ(GetACP(), c.codePage) << (c.setting ? c.setting : "unset");
        EXPECT_EQ(IsDBCSLeadByteEx(CP_ACP, 0x82), c.codePage == 932);
        EXPECT_EQ(ToWide(CP_ACP, "\x82\xA0"), ToWide(c.codePage, "\x82\xA0"));
    }
    unsetenv("QLPR_ANSI_CODE_PAGE");
}

}  // namespace
