// Device-text items: the page-bounds drop, the position command, printer
// font text with its job-long font and style state, barcode and
// two-dimensional symbols, the control font and the hex command font.

#include "command/item_commands.h"

#include <climits>
#include <cstring>
#include <string>

#include "command_test_util.h"

namespace cmdtest {
namespace {

using namespace std::string_literals;

std::string gItemBytes;
BOOL CaptureItemBytes(ExtPdev*, const BYTE* bytes, DWORD count) {
    gItemBytes.append(reinterpret_cast<const char*>(bytes), count);
    return TRUE;
}

std::string Position(int x) {
    return "\x1B\x24"s + static_cast<char>(x & 0xFF) + static_cast<char>((x >> 8) & 0xFF);
}

class ItemCommands : public CommandJob {
  protected:
    void SetUp() override {
        CommandJob::SetUp();
        gItemBytes.clear();
    }
    // A record on a sheet of 576 x 2000 printable pixels whose output is captured.
    void Record(const Devmode& mode = PlainDevmode()) {
        PageGeometry geometry = Geometry();
        geometry.horzRes = 576;
        geometry.vertRes = 2000;
        ASSERT_TRUE(Begin(mode, geometry));
        pdev_->writeHook = CaptureItemBytes;
    }
    // Sends one item of `text` and gives its result; `bytes` receives what went out.
    BOOL Send(WORD kind, const std::string& text, LONG x = 0, WORD style = 0, LONG y = 0,
              LONG cx = 10, LONG cy = 24) {
        const TextRecord item{kind, style, 0, static_cast<WORD>(text.size()), x, y, cx, cy};
        gItemBytes.clear();
        const BOOL result = SendItem(pdev_, item, reinterpret_cast<const BYTE*>(text.data()));
        FlushOut(pdev_);
        bytes = gItemBytes;
        return result;
    }
    void SetSymbol(Devmode* mode, bool twoDimensional, int k, WORD symbology, WORD barHeight = 80) {
        BarcodeSettings& settings = twoDimensional ? mode->priv.codes2d[k] : mode->priv.barcodes[k];
        settings.type = symbology;
        settings.parameter1 = 3;  // module width
        settings.parameter2 = static_cast<SHORT>(barHeight);
        settings.parameter3 = 2;  // text below
        settings.parameter4 = 1;  // font B
    }
    void SetControlString(char c, const char* text) {
        char(&field)[kControlStringSize] = pdev_->printerData.controlStrings[c - 0x20];
        std::strncpy(field, text, kControlStringSize);
    }

    std::string bytes;
};

const std::string kBarcodeSettings = "\x1D\x77\x03\x1D\x68\x50\x1D\x48\x02\x1D\x66\x01"s;

TEST_F(ItemCommands, FontTextSendsStateChangesOnly) {
    Record();
    EXPECT_EQ(Send(4, "Total", 300, kTextBold), 1);
    EXPECT_EQ(bytes, "\x1B\x24\x2C\x01\x1B\x74\x00\x1B\x4D\x00\x1D\x21\x11\x1B\x45\x01Total"s);
    EXPECT_EQ(Send(4, "Total", 300, kTextBold), 1);
    EXPECT_EQ(bytes, "\x1B\x24\x2C\x01\x1B\x74\x00\x1D\x21\x11Total"s);
    // Font B, underlined, not bold.
    EXPECT_EQ(Send(19, "ab", 8, 0x80), 1);
    EXPECT_EQ(bytes,
              Position(8) + "\x1B\x74\x00\x1B\x4D\x01\x1D\x21\x73\x1B\x45\x00\x1B\x2D\x01"s + "ab");
    EXPECT_EQ(pdev_->font, 2);
    EXPECT_EQ(pdev_->style, 0x80);
    // Back to font A, bold and underlined; then plain.
    EXPECT_EQ(Send(10, "c", 0, 0x82), 1);
    EXPECT_EQ(bytes, Position(0) + "\x1B\x74\x00\x1B\x4D\x00\x1D\x21\x77\x1B\x45\x01"s + "c");
    EXPECT_EQ(Send(1, "", 0, 0), 1);
    EXPECT_EQ(bytes, Position(0) + "\x1B\x74\x00\x1D\x21\x00\x1B\x45\x00\x1B\x2D\x00"s);
}

TEST_F(ItemCommands, ItemsBeyondThePrintableAreaAreDropped) {
    Record();
    EXPECT_EQ(Send(1, "x", 566, 0, 0, 10, 24), 1);   // reaches the right edge exactly
    EXPECT_EQ(Send(1, "x", 0, 0, 1976, 10, 24), 1);  // reaches the bottom edge exactly
    EXPECT_EQ(Send(1, "x", 567, 0, 0, 10, 24), 0);
    EXPECT_EQ(bytes, "");
    EXPECT_EQ(Send(1, "x", 0, 0, 1977, 10, 24), 0);
    EXPECT_EQ(bytes, "");
    EXPECT_EQ(Send(200, "5", -1), 0);
    EXPECT_EQ(Send(200, "5", 0, 0, -1), 0);
    EXPECT_EQ(Send(200, "5", INT_MAX, 0, 0, INT_MAX), 0);
    EXPECT_EQ(Send(200, "5", 0, 0, INT_MAX, 0, INT_MAX), 0);
    EXPECT_EQ(bytes, "");
}

TEST_F(ItemCommands, BarcodeWithATrailingSpace) {
    Devmode mode = PlainDevmode();
    SetSymbol(&mode, false, 2, 2);  // EAN-13
    Record(mode);
    EXPECT_EQ(Send(102, "490123456789 ", 200), 1);
    EXPECT_EQ(bytes, Position(200) + kBarcodeSettings + "\x1D\x6B\x43\x0C"s + "490123456789");
}

TEST_F(ItemCommands, SymbolLengthRanges) {
    Devmode mode = PlainDevmode();
    SetSymbol(&mode, false, 0, 0);  // UPC-A, 11-12
    SetSymbol(&mode, false, 1, 3);  // EAN-8, 7-8
    SetSymbol(&mode, false, 2, 8);  // Code 128, 2-255
    SetSymbol(&mode, false, 3, 9);  // no symbol
    SetSymbol(&mode, false, 4, 11);
    SetSymbol(&mode, false, 5, 5);  // Interleaved 2 of 5, 2-254
    Record(mode);
    EXPECT_EQ(Send(100, "0123456789", 40), 0);
    EXPECT_EQ(bytes, Position(40));
    EXPECT_EQ(Send(101, "0123456789"), 1);
    EXPECT_EQ(bytes, Position(0) + kBarcodeSettings + "\x1D\x6B\x44\x08"s + "01234567");
    EXPECT_EQ(Send(102, "A"), 0);
    EXPECT_EQ(bytes, Position(0));
    EXPECT_EQ(Send(103, "0123456789"), 0);
    EXPECT_EQ(bytes, Position(0));
    EXPECT_EQ(Send(104, "0123456789"), 0);
    EXPECT_EQ(bytes, Position(0));
    const std::string digits(300, '7');
    EXPECT_EQ(Send(105, digits), 1);
    EXPECT_EQ(bytes, Position(0) + kBarcodeSettings + "\x1D\x6B\x46\xFE"s + digits.substr(0, 254));
}

TEST_F(ItemCommands, EmptySymbolsAreDropped) {
    Devmode mode = PlainDevmode();
    SetSymbol(&mode, false, 7, 4);  // Code 39
    Record(mode);
    EXPECT_EQ(Send(107, ""), 0);
    EXPECT_EQ(bytes, Position(0));
    EXPECT_EQ(Send(107, " "), 0);
    EXPECT_EQ(bytes, Position(0));
    EXPECT_EQ(Send(107, "A "), 1);
    EXPECT_EQ(bytes, Position(0) + kBarcodeSettings + "\x1D\x6B\x45\x01"s + "A");
    EXPECT_EQ(Send(107, "  "), 1);  // only the last space goes
    EXPECT_EQ(bytes, Position(0) + kBarcodeSettings + "\x1D\x6B\x45\x01"s + " ");
}

TEST_F(ItemCommands, TwoDimensionalSymbol) {
    Devmode mode = PlainDevmode();
    SetSymbol(&mode, true, 0, 10, 1);
    SetSymbol(&mode, true, 7, 10, 4);
    SetSymbol(&mode, false, 0, 10, 1);  // a barcode font may name it too
    Record(mode);
    EXPECT_EQ(Send(150, "https://x"), 1);
    EXPECT_EQ(bytes,
              Position(0) + "\x1F\x36\x27\x00\xFF\x1D\x77\x03\x1D\x6B\x4B\x09"s + "https://x");
    EXPECT_EQ(Send(157, "q"), 1);
    EXPECT_EQ(bytes, Position(0) + "\x1F\x36\x27\x01\xFF\x1D\x77\x03\x1D\x6B\x4B\x01"s + "q");
    EXPECT_EQ(Send(100, "q"), 1);
    EXPECT_EQ(bytes, Position(0) + "\x1F\x36\x27\x00\xFF\x1D\x77\x03\x1D\x6B\x4B\x01"s + "q");
}

TEST_F(ItemCommands, ControlCodes) {
    Record();
    EXPECT_EQ(Send(200, "Dx"), 1);
    EXPECT_EQ(bytes, Position(0) + "\x1B\x70\x00\x64\xFF\x1B\x61\x01"s);
    // Characters without a code send nothing.
    EXPECT_EQ(Send(200, "Z0\x80\xFF f"s, 16), 1);
    EXPECT_EQ(bytes, Position(16));
    EXPECT_EQ(Send(200, "567eP`gly"), 1);
    EXPECT_EQ(bytes,
              Position(0) +
                  "\x09\x0A\x0D\x1B\x70\x00\x7D\xFF\x1D\x56\x42\x00\x1F\x30\x09\x1D\x2F\x03"s +
                  "\x1D\x56\x01\x1F\x30\x04\x1D\x2F\x00\x1B\x61\x02"s);
}

TEST_F(ItemCommands, HexCommands) {
    Record();
    SetControlString('!', "1B4");
    SetControlString('~', "0a0B");
    SetControlString('\x7F', "zz1");
    EXPECT_EQ(Send(300, "!~\x7F"s), 1);
    EXPECT_EQ(bytes, Position(0) + "\x1B\x40\x0A\x0B\x00\x10"s);
    // Characters outside 0x20..0x7F send nothing, nor does an empty string.
    EXPECT_EQ(Send(300, "\x1F\x80\xFF#"s), 1);
    EXPECT_EQ(bytes, Position(0));
}

TEST_F(ItemCommands, UnterminatedControlStringStopsAtItsField) {
    Record();
    std::memset(pdev_->printerData.controlStrings[95], 'A', kControlStringSize);  // 0x7F
    std::memset(pdev_->printerData.controlStrings[94], 'B', kControlStringSize);  // '~'
    EXPECT_EQ(Send(300, "\x7F~"s), 1);
    EXPECT_EQ(bytes, Position(0) + std::string(128, '\xAA') + "\xA0"s + std::string(128, '\xBB') +
                         "\xB0"s);
}

TEST_F(ItemCommands, OtherKindsSendOnlyThePosition) {
    Record();
    for (WORD kind : {0, 21, 99, 108, 149, 158, 199, 201, 299, 301}) {
        EXPECT_EQ(Send(kind, "abc", 0x1234 & 0x1FF), 0) << kind;
        EXPECT_EQ(bytes, Position(0x1234 & 0x1FF)) << kind;
    }
}

TEST_F(ItemCommands, MissingTextOrRecord) {
    Record();
    const TextRecord item{1, 0, 0, 3, 0, 0, 10, 10};
    EXPECT_EQ(SendItem(pdev_, item, nullptr), 0);
    EXPECT_EQ(SendItem(nullptr, item, reinterpret_cast<const BYTE*>("abc")), 0);
    FlushOut(pdev_);
    EXPECT_EQ(gItemBytes, "");
    const TextRecord empty{200, 0, 0, 0, 0, 0, 10, 10};
    EXPECT_EQ(SendItem(pdev_, empty, nullptr), 1);
}

TEST(SymbolLength, ATrailingSpaceStaysOnlyAfterALeadByteInThirdPlaceOrLater) {
    // 0x82 is a lead byte in code page 932, not in 1252.
    const struct {
        std::string text;
        UINT codePage;
        WORD length;
    } cases[] = {
        {"A\x82 ", 932, 3},    {"A\x82 ", 1252, 2}, {"\x82 ", 932, 1},  // two bytes: the space goes
        {"\x82\x82 ", 932, 2},  // 82 82 is one character, the space is alone
        {"AB ", 932, 2},       {"AB", 932, 2},      {" ", 932, 0},     {"", 932, 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(SymbolLength(reinterpret_cast<const BYTE*>(c.text.data()),
                               static_cast<WORD>(c.text.size()), c.codePage),
                  c.length)
            << c.text << " " << c.codePage;
}

}  // namespace
}  // namespace cmdtest
