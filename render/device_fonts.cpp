#include "render/device_fonts.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "driver/companion.h"
#include "driver/device_instance.h"
#include "platform/codepage.h"
#include "platform/module.h"
#include "platform/wide.h"
#include "render/barcode_types.h"

namespace {

constexpr BYTE FF_ROMAN = 0x10;
constexpr BYTE FF_MODERN = 0x30;
constexpr BYTE FIXED_PITCH = 1;
constexpr BYTE VARIABLE_PITCH = 2;
constexpr ULONG kInfoVariable = 0x82822;
constexpr ULONG kInfoFixed = 0x483822;
constexpr ULONG kInfoShiftJisClear = 0x1000;
constexpr ULONG kInfoShiftJisAdd = 0x10400000;
constexpr ULONG kInfoControl = 0x1000000;

// The template metrics the fonts start from. Resident text and barcode fonts
// are fixed pitch; the two control fonts are variable pitch and so take the
// proportional width table.
struct FontTemplate {
    LONG emHeight = 24;
    LONG ascent = 20;
    LONG width = 12;
    BYTE defaultChar = '?';
    BYTE breakChar = ' ';
};
constexpr FontTemplate kTemplate;

constexpr BYTE kProportionalWidths[256] = {
    0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,
    0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,
    15, 9,  15, 15, 15, 18, 18, 9,  12, 12, 15, 15, 9,  15, 9,  15,
    15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 9,  9,  15, 15, 15, 15,
    18, 18, 18, 18, 18, 18, 18, 18, 18, 12, 15, 18, 18, 21, 18, 18,
    18, 18, 18, 18, 18, 21, 18, 21, 18, 18, 15, 12, 18, 12, 18, 15,
    9,  15, 18, 15, 18, 15, 12, 18, 18, 9,  12, 18, 9,  21, 18, 15,
    18, 18, 15, 15, 12, 18, 18, 21, 15, 18, 15, 12, 9,  12, 15, 15,
    18, 18, 15, 15, 15, 15, 15, 15, 15, 15, 15, 9,  9,  9,  18, 18,
    18, 21, 21, 15, 15, 15, 18, 18, 18, 18, 21, 15, 15, 15, 21, 15,
    15, 9,  15, 18, 18, 18, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15,
    15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15,
    15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15,
    15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15,
    15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15,
    15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15,
};

enum class FamilyKind { Text, Barcode, Code2D, Control };

struct Family {
    FamilyKind kind;
    WORD fontId;
    std::u16string name;
    LONG emHeight;
    LONG ascent;
    LONG width;
    BYTE charSet;
};

bool PageIsRotated(const DeviceInstance& instance) {
    return (instance.devmode.priv.layoutFlags & kLayoutRotated) != 0;
}

std::u16string AnsiName(const char* bytes, std::size_t capacity) {
    std::size_t length = strnlen(bytes, capacity);
    std::u16string name(length, u'\0');
    if (length > 0)
        MultiByteToWideChar(CP_1252, 0, bytes, static_cast<int>(length), name.data(),
                            static_cast<int>(length));
    return name;
}

std::u16string NumberedName(const char* stem, int number) {
    char text[32];
    std::snprintf(text, sizeof text, "%s%d", stem, number);
    return platform::FromUtf8(text);
}

// Text fonts of face class 1 and 2 have the printer's own cell sizes; any
// other class takes the resolution for all three base values. Every class
// then scales the width and the two heights.
void TextMetrics(const DeviceInstance& instance, const ConfigEntry& font, Family* family) {
    const LONG faceClass = font.field[3];
    LONG width, emHeight, ascent;
    if (faceClass == 1 || faceClass == 2) {
        const bool mode1 = instance.printerData.fontSizeMode == 1;
        width = (faceClass == 1 ? 13 : 10) - (mode1 ? 1 : 0);
        emHeight = mode1 ? 24 : 28;
        ascent = mode1 ? 27 : 34;
    } else {
        width = emHeight = ascent = instance.devmode.pub.dmPrintQuality;
    }
    family->width = width * font.field[4];
    family->emHeight = emHeight * font.field[5];
    family->ascent = ascent * font.field[5];
}

void BarcodeFamilies(const DeviceInstance& instance, const BarcodeSettings* records,
                     WORD firstId, FamilyKind kind, const char* stem, bool measure,
                     std::vector<Family>* families) {
    for (int k = 0; k < 8; ++k) {
        const BarcodeSettings& settings = records[k];
        if (settings.type == 0xFFFF) continue;
        Family family{kind, static_cast<WORD>(firstId + k), NumberedName(stem, k + 1),
                      kTemplate.emHeight, kTemplate.ascent, kTemplate.width, 0};
        // Em height and ascent are the same: the measured height of the
        // type's sample, else the template's em height.
        const LONG height = measure ? MeasureBarcodeSample(instance, settings) : -1;
        family.emHeight = family.ascent = height > 0 ? height : kTemplate.emHeight;
        family.width = family.emHeight / 2;
        families->push_back(family);
        if (settings.name[0] != '\0') {
            family.name = AnsiName(settings.name, sizeof settings.name);
            families->push_back(family);
        }
    }
}

// The families in table order. Names and measured heights only when filling.
bool ListFamilies(const DeviceInstance& instance, bool filling, std::vector<Family>* families) {
    bool rotated = PageIsRotated(instance);
    if (!rotated && instance.dataObj != nullptr) {
        std::vector<ConfigEntry> fonts = instance.dataObj->entries(Keyword::font);
        HMODULE names = nullptr;
        if (filling && !fonts.empty()) {
            std::u16string library = CompanionLibraryName(instance.moduleFileName, u"URES.DLL");
            names = LoadLibraryW(reinterpret_cast<LPCWSTR>(library.c_str()));
            if (names == nullptr) return false;
        }
        for (const ConfigEntry& font : fonts) {
            Family family{FamilyKind::Text, static_cast<WORD>(font.field[0]), {}, 0, 0, 0, 0};
            // A font entry's field [1] names its character set; 128 is Shift-JIS.
            family.charSet = font.field[1] == kShiftJisCharSet ? kShiftJisCharSet : 0;
            TextMetrics(instance, font, &family);
            if (filling) {
                WCHAR face[kFontNameMax + 1] = {};
                int length = LoadStringW(names, static_cast<UINT>(font.field[2]), face, kFontNameMax + 1);
                if (length <= 0) {
                    FreeLibrary(names);
                    return false;
                }
                family.name.assign(face, static_cast<std::size_t>(length));
            }
            families->push_back(std::move(family));
        }
        if (names != nullptr) FreeLibrary(names);
    }
    BarcodeFamilies(instance, instance.devmode.priv.barcodes, kFontIdBarcodeFirst,
                    FamilyKind::Barcode, "Barcode", filling, families);
    BarcodeFamilies(instance, instance.devmode.priv.codes2d, kFontId2DFirst, FamilyKind::Code2D,
                    "2D-Code", filling, families);
    if (!rotated) {
        for (auto [id, name] : {std::pair{kFontIdControl, u"Control"}, std::pair{kFontIdControlA, u"Control A"}}) {
            families->push_back({FamilyKind::Control, id, name, kTemplate.emHeight,
                                 kTemplate.ascent, kTemplate.width, 0});
        }
    }
    return true;
}

bool IsModernFamily(WORD id) {
    return (id >= 1 && id <= 20) || (id >= 100 && id <= 107) || (id >= 150 && id <= 157);
}

WCHAR Ansi1252(BYTE code) {
    char byte = static_cast<char>(code);
    WCHAR unicode = 0;
    MultiByteToWideChar(CP_1252, 0, &byte, 1, &unicode, 1);
    return unicode;
}

// The lowest and highest character the 256 codes of code page 1252 map to.
struct UnicodeRange {
    WCHAR lowest = 0xFFFF;
    WCHAR highest = 0;
};

UnicodeRange Ansi1252Range() {
    char codes[256];
    for (int code = 0; code < 256; ++code) codes[code] = static_cast<char>(code);
    WCHAR unicode[256] = {};
    MultiByteToWideChar(CP_1252, 0, codes, 256, unicode, 256);
    UnicodeRange range;
    for (WCHAR c : unicode) {
        range.lowest = std::min(range.lowest, c);
        range.highest = std::max(range.highest, c);
    }
    return range;
}

void FillEntry(const DeviceInstance& instance, const Family& family, bool bold, bool italic,
               const UnicodeRange& ansi, DeviceFontEntry* entry) {
    std::memset(entry, 0, sizeof *entry);
    const bool control = family.kind == FamilyKind::Control;
    const bool fixed = !control;
    const bool shiftJis = family.charSet == kShiftJisCharSet;
    const LONG e = family.emHeight;
    const LONG a = family.ascent;
    const LONG w = family.width;
    const USHORT weight = bold ? 700 : 400;

    entry->kind = control ? kFontKindControl : kFontKindOther;
    entry->fontId = family.fontId;
    platform::WideCopy(entry->familyName, kFontNameMax + 1, family.name);
    platform::WideCopy(entry->faceName, kFontNameMax + 1, family.name);

    IFIMETRICS& ifi = entry->ifi;
    const auto offsetOf = [&](const WCHAR* name) {
        return static_cast<PTRDIFF>(reinterpret_cast<const BYTE*>(name) -
                                    reinterpret_cast<const BYTE*>(&ifi));
    };
    ifi.cjThis = static_cast<ULONG>(offsetOf(entry->uniqueName) + sizeof entry->uniqueName);
    ifi.dpwszFamilyName = offsetOf(entry->familyName);
    ifi.dpwszStyleName = offsetOf(entry->styleName);
    ifi.dpwszFaceName = offsetOf(entry->faceName);
    ifi.dpwszUniqueName = offsetOf(entry->uniqueName);
    ifi.jWinCharSet = family.charSet;
    ifi.jWinPitchAndFamily = static_cast<BYTE>((IsModernFamily(family.fontId) ? FF_MODERN : FF_ROMAN) |
                                               (fixed ? FIXED_PITCH : VARIABLE_PITCH));
    ifi.usWinWeight = weight;
    ifi.flInfo = fixed ? kInfoFixed : kInfoVariable;
    if (shiftJis) ifi.flInfo = (ifi.flInfo & ~kInfoShiftJisClear) | kInfoShiftJisAdd;
    if (control) ifi.flInfo |= kInfoControl;
    ifi.fsSelection = static_cast<USHORT>((bold ? 0x20 : 0) | (italic ? 0x01 : 0));
    if (ifi.fsSelection == 0) ifi.fsSelection = 0x40;
    ifi.fsType = 2;
    ifi.fwdUnitsPerEm = static_cast<FWORD>(e);
    ifi.fwdLowestPPEm = 4;
    ifi.fwdWinAscender = ifi.fwdMacAscender = ifi.fwdTypoAscender = static_cast<FWORD>(a);
    ifi.fwdWinDescender = static_cast<FWORD>(e - a);
    ifi.fwdMacDescender = ifi.fwdTypoDescender = static_cast<FWORD>(a - e);
    ifi.fwdAveCharWidth = static_cast<FWORD>(shiftJis ? w / 2 : w);
    ifi.fwdMaxCharInc = static_cast<FWORD>(w);
    ifi.fwdCapHeight = ifi.fwdXHeight = static_cast<FWORD>(e);
    ifi.fwdSubscriptXSize = ifi.fwdSuperscriptXSize = static_cast<FWORD>(w / 2);
    ifi.fwdSubscriptYSize = ifi.fwdSuperscriptYSize = static_cast<FWORD>(e / 2);
    ifi.fwdSubscriptYOffset = static_cast<FWORD>(w / 4);
    ifi.fwdSuperscriptYOffset = static_cast<FWORD>(-(w / 2));
    // Underline and strike-out strokes: one dot per 24 dots of height.
    ifi.fwdUnderscoreSize = ifi.fwdStrikeoutSize = static_cast<FWORD>(1 + e / 24);
    ifi.fwdUnderscorePosition = static_cast<FWORD>(-(1 + e / 24));
    ifi.fwdStrikeoutPosition = static_cast<FWORD>(a / 2);
    if (shiftJis) {
        ifi.chFirstChar = 0;
        ifi.chLastChar = 0xFF;
        ifi.chDefaultChar = 0xA5;
        ifi.chBreakChar = ' ';
        ifi.wcFirstChar = 0;
        ifi.wcLastChar = 0xFFE5;
        ifi.wcDefaultChar = 0xFF65;
        ifi.wcBreakChar = u' ';
    } else {
        ifi.chFirstChar = 0;
        ifi.chLastChar = 0xFF;
        ifi.chDefaultChar = kTemplate.defaultChar;
        ifi.chBreakChar = kTemplate.breakChar;
        ifi.wcFirstChar = ansi.lowest;
        ifi.wcLastChar = ansi.highest;
        ifi.wcDefaultChar = Ansi1252(kTemplate.defaultChar);
        ifi.wcBreakChar = Ansi1252(kTemplate.breakChar);
    }
    ifi.ptlBaseline = {1, 0};
    ifi.ptlAspect = {instance.devmode.pub.dmPrintQuality, instance.devmode.pub.dmYResolution};
    ifi.ptlCaret = italic ? POINTL{1, 2} : POINTL{0, 1};
    ifi.rclFontBox = {0, a, w, a - e};
    std::memcpy(ifi.achVendId, "Unkn", 4);
    ifi.panose.bFamilyType = 2;
    ifi.panose.bWeight = static_cast<BYTE>(weight / 100 + 1);
    ifi.panose.bProportion = fixed ? 9 : 0;

    for (int code = 0; code < 256; ++code) {
        WORD advance;
        if (shiftJis) advance = static_cast<WORD>(ifi.fwdMaxCharInc / 2);
        else if (fixed) advance = static_cast<WORD>(ifi.fwdAveCharWidth);
        else advance = static_cast<WORD>(kProportionalWidths[code] * (instance.devmode.pub.dmPrintQuality == 360 ? 2 : 1));
        entry->widths[code] = advance;
    }
}

}  // namespace

LONG EnumerateDeviceFonts(const DeviceInstance& instance, DeviceFontEntry* table) {
    std::vector<Family> families;
    if (!ListFamilies(instance, table != nullptr, &families)) return -1;
    if (table != nullptr) {
        DeviceFontEntry* entry = table;
        const UnicodeRange ansi = Ansi1252Range();
        for (const Family& family : families) {
            FillEntry(instance, family, false, false, ansi, entry++);
            FillEntry(instance, family, true, false, ansi, entry++);
            FillEntry(instance, family, false, true, ansi, entry++);
            FillEntry(instance, family, true, true, ansi, entry++);
        }
    }
    return static_cast<LONG>(families.size() * 4);
}
