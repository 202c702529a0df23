// The printer commands of device-text items (see item_commands.h).
#include "command/item_commands.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string_view>
#include <vector>

#include "command/hex_decode.h"
#include "command/spool_output.h"
#include "platform/codepage.h"

namespace {

constexpr BYTE ESC = 0x1B;
constexpr BYTE GS = 0x1D;
constexpr BYTE US = 0x1F;

constexpr BYTE kSpace = 0x20;
constexpr UINT kCodePageMultilingual = 850;

constexpr LONG kFontA = 1;
constexpr LONG kFontB = 2;
constexpr WORD kStyleBold = 0x02;
constexpr WORD kStyleUnderline = 0x80;

// GS ! size byte of printer-font kinds 1-10 (font A) and 11-20 (font B):
// (width factor - 1) x 16 + (height factor - 1).
constexpr std::array<BYTE, 10> kFontSizes = {0x00, 0x01, 0x10, 0x11, 0x13,
                                             0x31, 0x33, 0x37, 0x73, 0x77};

// Barcode and two-dimensional code settings: 46-byte records in the private
// device mode, fields by offset within a record.
constexpr std::size_t kPrivBarcodeSettings = 648;
constexpr std::size_t kPrivCodeSettings = 1016;
constexpr std::size_t kSettingsBytes = 46;
constexpr std::size_t kSymbology = 32;
constexpr std::size_t kModuleWidth = 38;
constexpr std::size_t kBarHeight = 40;
constexpr std::size_t kTextPosition = 42;
constexpr std::size_t kTextFont = 44;

constexpr WORD kTwoDimensionalSymbology = 10;

struct Symbology {
    BYTE code;  // m of GS k m L
    WORD shortest;
    WORD longest;
};
// By symbology number; 9 has no symbol.
constexpr std::array<Symbology, 11> kSymbologies = {{
    {0x41, 11, 12},  // UPC-A
    {0x42, 11, 12},  // UPC-E
    {0x43, 12, 13},  // EAN-13
    {0x44, 7, 8},    // EAN-8
    {0x45, 1, 255},  // Code 39
    {0x46, 2, 254},  // Interleaved 2 of 5
    {0x47, 1, 255},  // Codabar
    {0x48, 1, 255},  // Code 93
    {0x49, 2, 255},  // Code 128
    {0x00, 0, 0},    // none
    {0x4B, 1, 255},  // two-dimensional symbol
}};

// The control font: the command bytes of each character; characters not
// listed send nothing.
struct ControlCode {
    char character;
    std::string_view bytes;
};
using namespace std::string_view_literals;
constexpr ControlCode kControlCodes[] = {
    {'5', "\x09"sv},  // HT
    {'6', "\x0A"sv},  // LF
    {'7', "\x0D"sv},  // CR
    // Drawer kick, on-time 25, 50, 75, 100, 125.
    {'A', "\x1B\x70\x00\x19\xFF"sv},
    {'a', "\x1B\x70\x00\x19\xFF"sv},
    {'B', "\x1B\x70\x00\x32\xFF"sv},
    {'b', "\x1B\x70\x00\x32\xFF"sv},
    {'C', "\x1B\x70\x00\x4B\xFF"sv},
    {'c', "\x1B\x70\x00\x4B\xFF"sv},
    {'D', "\x1B\x70\x00\x64\xFF"sv},
    {'d', "\x1B\x70\x00\x64\xFF"sv},
    {'E', "\x1B\x70\x00\x7D\xFF"sv},
    {'e', "\x1B\x70\x00\x7D\xFF"sv},
    // Stored images 5-9 at normal size.
    {'G', "\x1F\x30\x05\x1D\x2F\x00"sv},
    {'H', "\x1F\x30\x06\x1D\x2F\x00"sv},
    {'I', "\x1F\x30\x07\x1D\x2F\x00"sv},
    {'J', "\x1F\x30\x08\x1D\x2F\x00"sv},
    {'K', "\x1F\x30\x09\x1D\x2F\x00"sv},
    {'P', "\x1D\x56\x42\x00"sv},  // feed to the cutter and cut
    // Stored images 5-9 at quadruple size.
    {'[', "\x1F\x30\x05\x1D\x2F\x03"sv},
    {']', "\x1F\x30\x06\x1D\x2F\x03"sv},
    {'^', "\x1F\x30\x07\x1D\x2F\x03"sv},
    {'_', "\x1F\x30\x08\x1D\x2F\x03"sv},
    {'`', "\x1F\x30\x09\x1D\x2F\x03"sv},
    {'g', "\x1D\x56\x01"sv},  // partial cut
    // Stored images 0-4 at normal size.
    {'h', "\x1F\x30\x00\x1D\x2F\x00"sv},
    {'i', "\x1F\x30\x01\x1D\x2F\x00"sv},
    {'j', "\x1F\x30\x02\x1D\x2F\x00"sv},
    {'k', "\x1F\x30\x03\x1D\x2F\x00"sv},
    {'l', "\x1F\x30\x04\x1D\x2F\x00"sv},
    // Justification left, centred, right.
    {'w', "\x1B\x61\x00"sv},
    {'x', "\x1B\x61\x01"sv},
    {'y', "\x1B\x61\x02"sv},
};

void Send(ExtPdev* pdev, std::initializer_list<BYTE> bytes) {
    WriteOut(pdev, bytes.begin(), static_cast<DWORD>(bytes.size()));
}

void Send(ExtPdev* pdev, std::string_view bytes) {
    WriteOut(pdev, bytes.data(), static_cast<DWORD>(bytes.size()));
}

BYTE Low(LONG value) {
    return static_cast<BYTE>(value & 0xFF);
}
BYTE High(LONG value) {
    return static_cast<BYTE>((value >> 8) & 0xFF);
}

// Only items wholly inside the sheet's printable area are sent.
bool InsidePage(const ExtPdev& pdev, const TextRecord& item) {
    const std::int64_t right = std::int64_t{item.x} + item.width;
    const std::int64_t bottom = std::int64_t{item.y} + item.height;
    return item.x >= 0 && right <= pdev.geometry.horzRes && item.y >= 0 &&
           bottom <= pdev.geometry.vertRes;
}

void StyleSwitch(ExtPdev* pdev, WORD itemStyle, WORD bit, BYTE command) {
    const bool wanted = (itemStyle & bit) != 0;
    const bool current = (pdev->style & bit) != 0;
    if (wanted == current) return;
    Send(pdev, {ESC, command, static_cast<BYTE>(wanted ? 1 : 0)});
    pdev->style = static_cast<WORD>(wanted ? pdev->style | bit : pdev->style & ~bit);
}

BOOL SendFontText(ExtPdev* pdev, const TextRecord& item, const BYTE* text) {
    Send(pdev, {ESC, 0x74, static_cast<BYTE>(GetACP() == kCodePageMultilingual ? 2 : 0)});
    const LONG font = item.fontId > 10 ? kFontB : kFontA;
    if (pdev->font != font) {
        Send(pdev, {ESC, 0x4D, static_cast<BYTE>(font == kFontB ? 1 : 0)});
        pdev->font = font;
    }
    Send(pdev, {GS, 0x21, kFontSizes[(item.fontId - 1) % 10]});
    StyleSwitch(pdev, item.attributes, kStyleBold, 0x45);
    StyleSwitch(pdev, item.attributes, kStyleUnderline, 0x2D);
    WriteOut(pdev, text, item.count);
    return 1;
}

BOOL SendSymbol(ExtPdev* pdev, const TextRecord& item, const BYTE* text) {
    const std::size_t settings =
        IsBarcodeItem(item.fontId)
            ? kPrivBarcodeSettings + kSettingsBytes * std::size_t(item.fontId - 100)
            : kPrivCodeSettings + kSettingsBytes * std::size_t(item.fontId - 150);
    WORD length = SymbolLength(text, item.count, GetACP());
    if (length == 0) return 0;

    // Symbology numbers without a symbol (9 and above 10) are dropped like a
    // symbol with too few bytes: the position command has gone out, nothing
    // else does.
    const WORD number = PrivateWord(*pdev, settings + kSymbology);
    if (number >= kSymbologies.size() || kSymbologies[number].code == 0) return 0;
    const Symbology& symbology = kSymbologies[number];
    if (length < symbology.shortest) return 0;
    if (length > symbology.longest) length = symbology.longest;

    const WORD barHeight = PrivateWord(*pdev, settings + kBarHeight);
    if (number == kTwoDimensionalSymbology)
        Send(pdev, {US, 0x36, 0x27, static_cast<BYTE>(barHeight == 1 ? 0 : 1), 0xFF});
    Send(pdev, {GS, 0x77, PrivateByte(*pdev, settings + kModuleWidth)});
    if (number != kTwoDimensionalSymbology) {
        Send(pdev, {GS, 0x68, static_cast<BYTE>(barHeight & 0xFF)});
        Send(pdev, {GS, 0x48, PrivateByte(*pdev, settings + kTextPosition)});
        Send(pdev, {GS, 0x66, PrivateByte(*pdev, settings + kTextFont)});
    }
    Send(pdev, {GS, 0x6B, symbology.code, static_cast<BYTE>(length)});
    WriteOut(pdev, text, length);
    return 1;
}

const ControlCode* FindControlCode(BYTE character) {
    for (const ControlCode& code : kControlCodes)
        if (static_cast<BYTE>(code.character) == character) return &code;
    return nullptr;
}

BOOL SendControlCodes(ExtPdev* pdev, const TextRecord& item, const BYTE* text) {
    for (WORD i = 0; i < item.count; ++i) {
        const ControlCode* code = FindControlCode(text[i]);
        if (code != nullptr) Send(pdev, code->bytes);
    }
    return 1;
}

BOOL SendHexCommands(ExtPdev* pdev, const TextRecord& item, const BYTE* text) {
    for (WORD i = 0; i < item.count; ++i) {
        const BYTE c = text[i];
        if (c < 0x20 || c > 0x7F) continue;
        const std::vector<BYTE> bytes = HexDecode(
            BoundedString(pdev->printerData.controlStrings[c - 0x20], kControlStringSize));
        WriteOut(pdev, bytes.data(), static_cast<DWORD>(bytes.size()));
    }
    return 1;
}

}  // namespace

WORD SymbolLength(const BYTE* text, WORD count, UINT codePage) {
    if (count == 0 || text == nullptr) return 0;
    if (text[count - 1] != kSpace) return count;
    if (count == 1) return 0;
    // A trailing space stays only after a lead byte that itself follows a
    // byte that is not a lead byte; a lead byte in first place does not
    // count, so two bytes ending in a space always lose it.
    const bool afterLead = IsDBCSLeadByteEx(codePage, text[count - 2]);
    if (afterLead && count > 2 && !IsDBCSLeadByteEx(codePage, text[count - 3])) return count;
    return static_cast<WORD>(count - 1);
}

BOOL SendItem(ExtPdev* pdev, const TextRecord& item, const BYTE* text) {
    if (pdev == nullptr || (text == nullptr && item.count != 0)) return 0;
    if (!InsidePage(*pdev, item)) return 0;
    Send(pdev, {ESC, 0x24, Low(item.x), High(item.x)});
    if (IsFontItem(item.fontId)) return SendFontText(pdev, item, text);
    if (IsBarcodeItem(item.fontId) || IsTwoDimensionalItem(item.fontId))
        return SendSymbol(pdev, item, text);
    if (item.fontId == kControlItem) return SendControlCodes(pdev, item, text);
    if (item.fontId == kHexCommandItem) return SendHexCommands(pdev, item, text);
    return 0;
}
