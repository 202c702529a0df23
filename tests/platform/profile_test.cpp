// GetPrivateProfileStringW: lists, values, defaults, cuts and encodings.
#include "platform/profile.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/last_error.h"
#include "platform_test_util.h"
#include "test_support.h"

namespace {

using platformtest::Wide;
using platformtest::WriteBytes;

const char kIni[] =
    "stray=before any section\r\n"
    "; a comment line\r\n"
    "[General]\r\n"
    "  Name =  Receipt Printer  \r\n"
    "Quoted = \"  spaced value  \"\r\n"
    "Single='x'\r\n"
    "Mismatch=\"abc'\r\n"
    "LoneQuote=\"\r\n"
    "Empty=\r\n"
    "   ; indented comment\r\n"
    "NoEquals\r\n"
    "=no name\r\n"
    "Inline = a ; not a comment\r\n"
    "name=second occurrence\r\n"
    "\r\n"
    "[Fonts] ; trailing text\r\n"
    "A=1\r\n"
    "[general]\r\n"
    "Other=in the second General\r\n"
    "[  Spaced Section  ]\r\n"
    "k=v\r\n"
    "[Empty Section]\r\n";

class ProfileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        file_ = root_.path() / "test.ini";
        WriteBytes(file_, kIni);
        name_ = Wide(file_);
    }

    // Calls with a buffer of `size` characters pre-filled with 'X'.
    DWORD Get(const char16_t* section, const char16_t* key, const char16_t* def, DWORD size,
              std::u16string* out = nullptr) {
        buffer_.assign(size + 4, u'X');
        DWORD result =
            GetPrivateProfileStringW(section, key, def, buffer_.data(), size, name_.c_str());
        if (out != nullptr) *out = buffer_.substr(0, size);
        return result;
    }

    std::u16string Value(const char16_t* section, const char16_t* key,
                         const char16_t* def = u"<default>") {
        std::u16string out;
        DWORD length = Get(section, key, def, 256, &out);
        EXPECT_EQ(out[length], u'\0');
        return out.substr(0, length);
    }

    testsupport::ScopedStoreRoot root_;
    std::filesystem::path file_;
    std::u16string name_;
    std::u16string buffer_;
};

TEST_F(ProfileTest, ListsSectionsOnceInFileOrder) {
    std::u16string out;
    const std::u16string expected(u"General\0Fonts\0Spaced Section\0Empty Section\0\0", 44);
    ASSERT_EQ(Get(nullptr, nullptr, u"unused", 200, &out), 43u);
    EXPECT_EQ(out.substr(0, 44), expected);
}

TEST_F(ProfileTest, SectionListExactlyFillingTheBufferCountsAsCut) {
    // "General\0Fonts\0Spaced Section\0Empty Section\0\0" needs 44 characters:
    // with 45 it fits; with exactly 44 the names are all there but the
    // result is size - 2, as for a list that does not fit.
    std::u16string out;
    EXPECT_EQ(Get(nullptr, nullptr, nullptr, 45, &out), 43u);
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    EXPECT_EQ(Get(nullptr, nullptr, nullptr, 44, &out), 42u);
    EXPECT_EQ(out, std::u16string(u"General\0Fonts\0Spaced Section\0Empty Section\0\0", 44));
    EXPECT_EQ(buffer_[44], u'X');
}

TEST_F(ProfileTest, SectionListOneShortIsCutWithTwoZeros) {
    std::u16string out;
    EXPECT_EQ(Get(nullptr, nullptr, nullptr, 43, &out), 41u);
    EXPECT_EQ(out, std::u16string(u"General\0Fonts\0Spaced Section\0Empty Sectio\0\0", 43));
    EXPECT_EQ(buffer_[43], u'X');  // nothing written past the size
}

TEST_F(ProfileTest, SectionListCutInsideTheFirstName) {
    std::u16string out;
    EXPECT_EQ(Get(nullptr, nullptr, nullptr, 5, &out), 3u);
    EXPECT_EQ(out, std::u16string(u"Gen\0\0", 5));
    EXPECT_EQ(Get(nullptr, nullptr, nullptr, 2, &out), 0u);
    EXPECT_EQ(out, std::u16string(u"\0\0", 2));
    EXPECT_EQ(Get(nullptr, nullptr, nullptr, 1, &out), 0u);
    EXPECT_EQ(out, std::u16string(u"\0", 1));
    EXPECT_EQ(buffer_[1], u'X');
}

TEST_F(ProfileTest, ListsKeysOfTheFirstSectionOfThatName) {
    std::u16string out;
    const std::u16string expected(
        u"Name\0Quoted\0Single\0Mismatch\0LoneQuote\0Empty\0NoEquals\0Inline\0\0", 61);
    ASSERT_EQ(Get(u"GENERAL", nullptr, u"unused", 100, &out), 60u);
    EXPECT_EQ(out.substr(0, 61), expected);
    // One to spare, exactly filling (counts as cut), then one short.
    EXPECT_EQ(Get(u"general", nullptr, nullptr, 62, &out), 60u);
    EXPECT_EQ(Get(u"general", nullptr, nullptr, 61, &out), 59u);
    EXPECT_EQ(out, expected);
    EXPECT_EQ(Get(u"general", nullptr, nullptr, 60, &out), 58u);
    EXPECT_EQ(out,
              std::u16string(
                  u"Name\0Quoted\0Single\0Mismatch\0LoneQuote\0Empty\0NoEquals\0Inlin\0\0", 60));
}

TEST_F(ProfileTest, KeyListOfMissingOrEmptySectionGivesTheDefault) {
    EXPECT_EQ(Value(u"Nowhere", nullptr, u"dflt  "), u"dflt");
    EXPECT_EQ(Value(u"Empty Section", nullptr, u"dflt"), u"dflt");
    std::u16string out;
    EXPECT_EQ(Get(u"Nowhere", nullptr, nullptr, 10, &out), 0u);
    EXPECT_EQ(out.substr(0, 2), std::u16string(u"\0\0", 2));
}

TEST_F(ProfileTest, ValuesLoseBlanksAndOnePairOfQuotes) {
    EXPECT_EQ(Value(u"General", u"Name"), u"Receipt Printer");
    EXPECT_EQ(Value(u"General", u"Quoted"), u"  spaced value  ");
    EXPECT_EQ(Value(u"General", u"Single"), u"x");
    EXPECT_EQ(Value(u"General", u"Mismatch"), u"\"abc'");
    EXPECT_EQ(Value(u"General", u"LoneQuote"), u"\"");
    EXPECT_EQ(Value(u"General", u"Inline"), u"a ; not a comment");
    EXPECT_EQ(Value(u"Fonts", u"A"), u"1");
}

TEST_F(ProfileTest, NamesIgnoreCaseAndSurroundingBlanks) {
    EXPECT_EQ(Value(u"gEnErAl", u"NAME"), u"Receipt Printer");
    EXPECT_EQ(Value(u"  General ", u" name  "), u"Receipt Printer");
    EXPECT_EQ(Value(u"spaced section", u"K"), u"v");
}

TEST_F(ProfileTest, FirstOccurrenceWins) {
    EXPECT_EQ(Value(u"General", u"name"), u"Receipt Printer");
    // The second [general] is never consulted.
    EXPECT_EQ(Value(u"General", u"Other"), u"<default>");
}

TEST_F(ProfileTest, EmptyValueAndLineWithoutEqualsAreFoundNotDefaulted) {
    SetLastError(12345);
    std::u16string out;
    EXPECT_EQ(Get(u"General", u"Empty", u"dflt", 10, &out), 0u);
    EXPECT_EQ(out[0], u'\0');
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    EXPECT_EQ(Get(u"General", u"NoEquals", u"dflt", 10, &out), 0u);
    EXPECT_EQ(out[0], u'\0');
}

TEST_F(ProfileTest, CommentsStrayLinesAndNamelessKeysAreNotKeys) {
    EXPECT_EQ(Value(u"General", u"; a comment line"), u"<default>");
    EXPECT_EQ(Value(u"General", u"; indented comment"), u"<default>");
    EXPECT_EQ(Value(u"General", u"stray"), u"<default>");
    EXPECT_EQ(Value(u"General", u""), u"<default>");
}

TEST_F(ProfileTest, MissingKeyGivesTheDefaultWithoutTrailingBlanks) {
    SetLastError(0);
    std::u16string out;
    // A lone blank is kept: it is the first character, not a trailing one.
    EXPECT_EQ(Get(u"General", u"Missing", u" ", 10, &out), 1u);
    EXPECT_EQ(out.substr(0, 2), std::u16string(u" \0", 2));
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(Get(u"General", u"Missing", u"   ", 10, &out), 1u);
    EXPECT_EQ(out.substr(0, 2), std::u16string(u" \0", 2));
    EXPECT_EQ(Value(u"General", u"Missing", u"abc   "), u"abc");
    EXPECT_EQ(Value(u"General", u"Missing", u"  a b  "), u"  a b");
    EXPECT_EQ(Value(u"General", u"Missing", u"\"q\""), u"\"q\"");  // quotes stay
    EXPECT_EQ(Get(u"General", u"Missing", nullptr, 10, &out), 0u);
    EXPECT_EQ(out[0], u'\0');
    EXPECT_EQ(Value(u"No Section", u"Name", u"d"), u"d");
}

TEST_F(ProfileTest, LongValueIsCutToSizeMinusOne) {
    std::u16string out;
    EXPECT_EQ(Get(u"General", u"Name", nullptr, 5, &out), 4u);
    EXPECT_EQ(out, std::u16string(u"Rece\0", 5));
    EXPECT_EQ(buffer_[5], u'X');
    EXPECT_EQ(GetLastError(), ERROR_MORE_DATA);
    // "Receipt Printer" is 15 characters: 16 fits, 15 is cut.
    EXPECT_EQ(Get(u"General", u"Name", nullptr, 16, &out), 15u);
    EXPECT_EQ(Get(u"General", u"Name", nullptr, 15, &out), 14u);
    EXPECT_EQ(out, std::u16string(u"Receipt Printe\0", 15));
    EXPECT_EQ(Get(u"General", u"Name", nullptr, 1, &out), 0u);
    EXPECT_EQ(out[0], u'\0');
    // The default is cut the same way.
    EXPECT_EQ(Get(u"General", u"Missing", u"abcdef", 4, &out), 3u);
    EXPECT_EQ(out, std::u16string(u"abc\0", 4));
}

TEST_F(ProfileTest, NoBufferOrSizeZeroGivesZeroAndWritesNothing) {
    std::u16string out;
    EXPECT_EQ(Get(u"General", u"Name", u"d", 0, &out), 0u);
    EXPECT_EQ(buffer_[0], u'X');
    EXPECT_EQ(GetPrivateProfileStringW(u"General", u"Name", u"d", nullptr, 10, name_.c_str()), 0u);
    EXPECT_EQ(Get(nullptr, nullptr, nullptr, 0, &out), 0u);
    EXPECT_EQ(buffer_[0], u'X');
}

TEST_F(ProfileTest, MissingFileGivesTheDefault) {
    std::u16string missing = Wide(root_.path() / "absent.ini");
    WCHAR out[16];
    SetLastError(0);
    EXPECT_EQ(GetPrivateProfileStringW(u"General", u"Name", u"none  ", out, 16, missing.c_str()),
              4u);
    EXPECT_EQ(std::u16string(out), u"none");
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(GetPrivateProfileStringW(nullptr, nullptr, nullptr, out, 16, missing.c_str()), 0u);
    EXPECT_EQ(out[0], u'\0');
}

class ProfileEncodingTest : public ::testing::Test {
  protected:
    std::u16string Read(const std::string& bytes, const char16_t* section, const char16_t* key) {
        auto file = root_.path() / "enc.ini";
        WriteBytes(file, bytes);
        std::u16string name = Wide(file);
        WCHAR out[64];
        DWORD length = GetPrivateProfileStringW(section, key, u"<default>", out, 64, name.c_str());
        return std::u16string(out, length);
    }
    testsupport::ScopedStoreRoot root_;
};

std::string Utf16(const std::u16string& text, bool little) {
    std::string bytes = little ? "\xFF\xFE" : "\xFE\xFF";
    for (char16_t c : text) {
        char low = static_cast<char>(c & 0xFF), high = static_cast<char>(c >> 8);
        bytes += little ? std::string{low, high} : std::string{high, low};
    }
    return bytes;
}

TEST_F(ProfileEncodingTest, Utf16WithByteOrderMarkEitherOrder) {
    const std::u16string text = u"[Sekt\u00e9]\r\nSchl\u00fcssel = Wert \u20ac \u4e2d\r\n";
    EXPECT_EQ(Read(Utf16(text, true), u"SEKT\u00e9", u"schl\u00fcssel"), u"Wert \u20ac \u4e2d");
    EXPECT_EQ(Read(Utf16(text, false), u"Sekt\u00e9", u"Schl\u00fcssel"), u"Wert \u20ac \u4e2d");
}

TEST_F(ProfileEncodingTest, Utf8AfterItsMark) {
    EXPECT_EQ(Read("\xEF\xBB\xBF[S]\nk=caf\xC3\xA9 \xE2\x82\xAC\n", u"S", u"k"),
              u"caf\u00e9 \u20ac");
}

TEST_F(ProfileEncodingTest, Code1252WithoutMark) {
    EXPECT_EQ(Read("[S]\nk=caf\xE9 \x80 \x81\x9F\n", u"S", u"k"), u"caf\u00e9 \u20ac \u0081\u0178");
    // UTF-8 without its mark is taken byte by byte.
    EXPECT_EQ(Read("[S]\nk=\xC3\xA9\n", u"S", u"k"), u"\u00c3\u00a9");
}

TEST_F(ProfileEncodingTest, LineEndsOfEveryKind) {
    const std::string bytes = "[A]\rx=1\r[B]\ny=2\r\n[C]\r\n\r\nz=3";
    EXPECT_EQ(Read(bytes, u"A", u"x"), u"1");
    EXPECT_EQ(Read(bytes, u"B", u"y"), u"2");
    EXPECT_EQ(Read(bytes, u"C", u"z"), u"3");
}

TEST_F(ProfileEncodingTest, BracketLineWithoutCloseIsAKeyLine) {
    const std::string bytes = "[A]\n[broken=1\nafter=2\n";
    EXPECT_EQ(Read(bytes, u"A", u"[broken"), u"1");
    EXPECT_EQ(Read(bytes, u"A", u"after"), u"2");
}

TEST_F(ProfileEncodingTest, EmptyFileHasNoSections) {
    auto file = root_.path() / "empty.ini";
    WriteBytes(file, "");
    std::u16string name = Wide(file);
    WCHAR out[4] = {u'X', u'X', u'X', u'X'};
    EXPECT_EQ(GetPrivateProfileStringW(nullptr, nullptr, u"d", out, 4, name.c_str()), 0u);
    EXPECT_EQ(out[0], u'\0');
    EXPECT_EQ(out[1], u'\0');
}

// Each read sees the file as it is now, also after a rewrite of the same size.
TEST_F(ProfileEncodingTest, ARewrittenFileIsReadAgain) {
    EXPECT_EQ(Read("[s]\r\nk=1\r\n", u"s", u"k"), u"1");
    EXPECT_EQ(Read("[s]\r\nk=1\r\n", u"s", u"k"), u"1");
    EXPECT_EQ(Read("[s]\r\nk=2\r\n", u"s", u"k"), u"2");
    EXPECT_EQ(Read("[t]\r\nk=3\r\n", u"s", u"k"), u"<default>");
}

}  // namespace
