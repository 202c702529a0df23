#include "tools/field_table.h"

#include <cstdio>
#include <cstring>

#include "driver/devmode_private.h"
#include "driver/page_geometry.h"
#include "host/winddi.h"
#include "platform/codepage.h"
#include "platform/wide.h"

namespace {

template <class T>
T Read(const BYTE* at) {
    T value;
    std::memcpy(&value, at, sizeof value);
    return value;
}

void Add(std::vector<Field>& fields, std::string name, std::size_t offset, FieldType type,
         std::size_t length = 0) {
    fields.push_back({std::move(name), offset, type, length});
}

void AddPaper(std::vector<Field>& fields, const std::string& stem, std::size_t base) {
    static const char* const kNames[] = {"width", "length", "marginLeft", "marginTop",
                                         "marginRight", "marginBottom", "printableWidth",
                                         "printableHeight", "leftPad", "rightPad"};
    for (std::size_t i = 0; i < 10; ++i) Add(fields, stem + "." + kNames[i], base + 4 * i, FieldType::I32);
}

void AddBarcodes(std::vector<Field>& fields, const std::string& stem, std::size_t base) {
    for (std::size_t k = 0; k < 8; ++k) {
        std::string name = stem + std::to_string(k + 1);
        std::size_t at = base + k * sizeof(BarcodeSettings);
        Add(fields, name + ".name", at + offsetof(BarcodeSettings, name), FieldType::AnsiText, 32);
        Add(fields, name + ".type", at + offsetof(BarcodeSettings, type), FieldType::U16);
        Add(fields, name + ".flags", at + offsetof(BarcodeSettings, flags), FieldType::Hex8);
        Add(fields, name + ".rotation", at + offsetof(BarcodeSettings, rotation), FieldType::U16);
        Add(fields, name + ".parameter1", at + offsetof(BarcodeSettings, parameter1), FieldType::I16);
        Add(fields, name + ".parameter2", at + offsetof(BarcodeSettings, parameter2), FieldType::I16);
        Add(fields, name + ".parameter3", at + offsetof(BarcodeSettings, parameter3), FieldType::U16);
        Add(fields, name + ".parameter4", at + offsetof(BarcodeSettings, parameter4), FieldType::U16);
    }
}

std::vector<Field> BuildDevmodeFields() {
    std::vector<Field> f;
#define PUB(name, type) Add(f, #name, offsetof(DEVMODEW, name), FieldType::type)
    Add(f, "dmDeviceName", offsetof(DEVMODEW, dmDeviceName), FieldType::WideText, CCHDEVICENAME);
    PUB(dmSpecVersion, Hex16);
    PUB(dmDriverVersion, Hex16);
    PUB(dmSize, U16);
    PUB(dmDriverExtra, U16);
    PUB(dmFields, Hex32);
    PUB(dmOrientation, I16);
    PUB(dmPaperSize, I16);
    PUB(dmPaperLength, I16);
    PUB(dmPaperWidth, I16);
    PUB(dmScale, I16);
    PUB(dmCopies, I16);
    PUB(dmDefaultSource, I16);
    PUB(dmPrintQuality, I16);
    PUB(dmColor, I16);
    PUB(dmDuplex, I16);
    PUB(dmYResolution, I16);
    PUB(dmTTOption, I16);
    PUB(dmCollate, I16);
    Add(f, "dmFormName", offsetof(DEVMODEW, dmFormName), FieldType::WideText, CCHFORMNAME);
    PUB(dmLogPixels, U16);
    PUB(dmBitsPerPel, U32);
    PUB(dmPelsWidth, U32);
    PUB(dmPelsHeight, U32);
    PUB(dmNup, U32);
    PUB(dmDisplayFrequency, U32);
    PUB(dmICMMethod, U32);
    PUB(dmICMIntent, U32);
    PUB(dmMediaType, U32);
    PUB(dmDitherType, U32);
    PUB(dmReserved1, U32);
    PUB(dmReserved2, U32);
    PUB(dmPanningWidth, U32);
    PUB(dmPanningHeight, U32);
#undef PUB
    const std::size_t p = sizeof(DEVMODEW);
#define PRIV(label, member, type) Add(f, label, p + offsetof(PrivateDevmode, member), FieldType::type)
    PRIV("signature", signature, Hex32);
    PRIV("optionFlags", optionFlags, Hex32);
    PRIV("layoutFlags", layoutFlags, Hex32);
    PRIV("pagesPerSheet", pagesPerSheet, U16);
    PRIV("pageOrder", pageOrder, U16);
    PRIV("zoom", zoom, U16);
    PRIV("sheetPaperCode", sheetPaperCode, U16);
    PRIV("imagePosition", imagePosition, U16);
    PRIV("imagePercent", imagePercent, U16);
    Add(f, "imagePath", p + offsetof(PrivateDevmode, imagePath), FieldType::WideText, 260);
    AddPaper(f, "sheetPaper", p + offsetof(PrivateDevmode, sheetPaper));
    AddPaper(f, "pagePaper", p + offsetof(PrivateDevmode, pagePaper));
    PRIV("colourMode", colourMode, U16);
    AddBarcodes(f, "barcode", p + offsetof(PrivateDevmode, barcodes));
    AddBarcodes(f, "code2d", p + offsetof(PrivateDevmode, codes2d));
    PRIV("deviceFlags", deviceFlags, Hex32);
    PRIV("shiftX", shiftX, I16);
    PRIV("shiftY", shiftY, I16);
    PRIV("dualside", dualSide, U16);
    PRIV("rotation", rotation, I16);
    PRIV("drawer1Mask", drawer1Mask, Hex16);
    PRIV("drawer2Mask", drawer2Mask, Hex16);
    PRIV("cutMask", cutMask, Hex8);
    PRIV("feedMask", feedMask, Hex8);
    PRIV("customCutMask", customCutMask, Hex8);
    PRIV("customFeedMask", customFeedMask, Hex8);
    static const char* const kEvents[] = {"1", "2", "4", "8"};
    for (std::size_t i = 0; i < 4; ++i)
        Add(f, std::string("feedLength") + kEvents[i], p + offsetof(PrivateDevmode, feedLengths) + 2 * i, FieldType::U16);
    PRIV("userCommandMask", userCommandMask, Hex16);
    static const char* const kCommandEvents[] = {"1", "8", "2", "4"};
    for (std::size_t i = 0; i < 4; ++i)
        Add(f, std::string("userCommand") + kCommandEvents[i], p + offsetof(PrivateDevmode, userCommands) + 130 * i, FieldType::AnsiText, 130);
    PRIV("blankSkipping", blankSkipping, Hex16);
    for (std::size_t i = 0; i < 12; ++i)
        Add(f, "storedImage" + std::to_string(i + 1), p + offsetof(PrivateDevmode, storedImage) + 2 * i, FieldType::U16);
    PRIV("device0", device0, U16);
    PRIV("customWidth", customWidth, I16);
    PRIV("customLength", customLength, I16);
#undef PRIV
    return f;
}

std::vector<Field> BuildGeometryFields() {
    std::vector<Field> f;
#define G(label, offset, type) Add(f, label, offset, FieldType::type)
    G("physOffsetX", 0, I32); G("physOffsetY", 4, I32);
    G("physSizeCx", 8, I32); G("physSizeCy", 12, I32);
    G("horzRes", 16, I32); G("vertRes", 20, I32);
    G("printableWidth", 24, I32); G("printableHeight", 28, I32);
    G("dpiX", 32, I32); G("dpiY", 36, I32);
    G("imageWidth", 40, I32); G("imageHeight", 44, I32);
    G("paperMarginLeft", 48, I32); G("paperMarginTop", 52, I32);
    G("paperWidth", 56, I32); G("paperHeight", 60, I32);
    G("paperPrintableWidth", 64, I32); G("paperPrintableHeight", 68, I32);
    G("turned", 72, I16); G("pagesPerSheet", 74, U16);
    for (std::size_t i = 0; i < 16; ++i) {
        Add(f, "cell" + std::to_string(i + 1) + "X", 76 + 8 * i, FieldType::I32);
        Add(f, "cell" + std::to_string(i + 1) + "Y", 80 + 8 * i, FieldType::I32);
    }
    G("shiftX", 204, I32); G("shiftY", 208, I32);
    G("currentCell", 212, I16); G("renderFlags", 214, Hex16); G("status", 216, Hex16);
    G("colourMode", 218, I16); G("recordedScale", 220, I16); G("bitsPerPixel", 222, U16);
    G("rotation", 224, U16); G("bandDirection", 226, U16);
    G("sheetsBegun", 228, I16); G("pagesBegun", 230, I16); G("cellsUsed", 232, U16);
    G("firstOrientation", 234, I16); G("firstSheetOrientation", 236, I16);
    G("firstReverseShift", 238, I16);
#undef G
    static_assert(sizeof(PageGeometry) == 240);
    return f;
}

std::vector<Field> BuildGdiInfoFields() {
    std::vector<Field> f;
#define U(name) Add(f, #name, offsetof(GDIINFO, name), FieldType::U32)
#define H(name) Add(f, #name, offsetof(GDIINFO, name), FieldType::Hex32)
#define L(name) Add(f, #name, offsetof(GDIINFO, name), FieldType::I32)
    H(ulVersion); U(ulTechnology); U(ulHorzSize); U(ulVertSize); U(ulHorzRes); U(ulVertRes);
    U(cBitsPixel); U(cPlanes); U(ulNumColors); H(flRaster); U(ulLogPixelsX); U(ulLogPixelsY);
    H(flTextCaps); U(ulDACRed); U(ulDACGreen); U(ulDACBlue); U(ulAspectX); U(ulAspectY);
    U(ulAspectXY); L(xStyleStep); L(yStyleStep); L(denStyleStep);
    Add(f, "ptlPhysOffset.x", offsetof(GDIINFO, ptlPhysOffset), FieldType::I32);
    Add(f, "ptlPhysOffset.y", offsetof(GDIINFO, ptlPhysOffset) + 4, FieldType::I32);
    Add(f, "szlPhysSize.cx", offsetof(GDIINFO, szlPhysSize), FieldType::I32);
    Add(f, "szlPhysSize.cy", offsetof(GDIINFO, szlPhysSize) + 4, FieldType::I32);
    U(ulNumPalReg);
    static const char* const kColours[] = {"Red", "Green", "Blue", "Cyan", "Magenta", "Yellow", "AlignmentWhite"};
    std::size_t at = offsetof(GDIINFO, ciDevice);
    for (const char* colour : kColours) {
        for (const char* axis : {".x", ".y", ".Y"}) {
            Add(f, std::string("ciDevice.") + colour + axis, at, FieldType::I32);
            at += 4;
        }
    }
    for (const char* name : {"RedGamma", "GreenGamma", "BlueGamma", "MagentaInCyanDye",
                             "YellowInCyanDye", "CyanInMagentaDye", "YellowInMagentaDye",
                             "CyanInYellowDye", "MagentaInYellowDye"}) {
        Add(f, std::string("ciDevice.") + name, at, FieldType::I32);
        at += 4;
    }
    U(ulDevicePelsDPI); U(ulPrimaryOrder); U(ulHTPatternSize); U(ulHTOutputFormat); H(flHTFlags);
    U(ulVRefresh); U(ulBltAlignment); U(ulPanningHorzRes); U(ulPanningVertRes);
    U(xPanningAlignment); U(yPanningAlignment); U(cxHTPat); U(cyHTPat);
    H(flShadeBlend); U(ulPhysicalPixelCharacteristics); U(ulPhysicalPixelGamma);
#undef U
#undef H
#undef L
    return f;
}

void AddLogFont(std::vector<Field>& f, const std::string& stem, std::size_t base) {
    const std::pair<const char*, FieldType> kFields[] = {
        {"lfHeight", FieldType::I32}, {"lfWidth", FieldType::I32}, {"lfEscapement", FieldType::I32},
        {"lfOrientation", FieldType::I32}, {"lfWeight", FieldType::I32}, {"lfItalic", FieldType::U8},
        {"lfUnderline", FieldType::U8}, {"lfStrikeOut", FieldType::U8}, {"lfCharSet", FieldType::U8},
        {"lfOutPrecision", FieldType::U8}, {"lfClipPrecision", FieldType::U8}, {"lfQuality", FieldType::U8},
        {"lfPitchAndFamily", FieldType::Hex8}};
    std::size_t at = base;
    for (const auto& [name, type] : kFields) {
        Add(f, stem + "." + name, at, type);
        at += type == FieldType::I32 ? 4 : 1;
    }
    Add(f, stem + ".lfFaceName", at, FieldType::WideText, 32);
}

std::vector<Field> BuildDevInfoFields() {
    std::vector<Field> f;
    Add(f, "flGraphicsCaps", offsetof(DEVINFO, flGraphicsCaps), FieldType::Hex32);
    AddLogFont(f, "lfDefaultFont", offsetof(DEVINFO, lfDefaultFont));
    AddLogFont(f, "lfAnsiVarFont", offsetof(DEVINFO, lfAnsiVarFont));
    AddLogFont(f, "lfAnsiFixFont", offsetof(DEVINFO, lfAnsiFixFont));
    Add(f, "cFonts", offsetof(DEVINFO, cFonts), FieldType::U32);
    Add(f, "iDitherFormat", offsetof(DEVINFO, iDitherFormat), FieldType::U32);
    Add(f, "cxDither", offsetof(DEVINFO, cxDither), FieldType::U16);
    Add(f, "cyDither", offsetof(DEVINFO, cyDither), FieldType::U16);
    Add(f, "hpalDefault", offsetof(DEVINFO, hpalDefault), FieldType::Hex32);
    Add(f, "flGraphicsCaps2", offsetof(DEVINFO, flGraphicsCaps2), FieldType::Hex32);
    return f;
}

std::string Hex(unsigned value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%X", value);
    return text;
}

}  // namespace

const std::vector<Field>& DevmodeFields() {
    static const std::vector<Field> fields = BuildDevmodeFields();
    return fields;
}
const std::vector<Field>& GeometryFields() {
    static const std::vector<Field> fields = BuildGeometryFields();
    return fields;
}
const std::vector<Field>& GdiInfoFields() {
    static const std::vector<Field> fields = BuildGdiInfoFields();
    return fields;
}
const std::vector<Field>& DevInfoFields() {
    static const std::vector<Field> fields = BuildDevInfoFields();
    return fields;
}

std::string FormatField(const Field& field, const BYTE* record) {
    const BYTE* at = record + field.offset;
    switch (field.type) {
        case FieldType::U8: return std::to_string(Read<std::uint8_t>(at));
        case FieldType::U16: return std::to_string(Read<std::uint16_t>(at));
        case FieldType::I16: return std::to_string(Read<std::int16_t>(at));
        case FieldType::U32: return std::to_string(Read<std::uint32_t>(at));
        case FieldType::I32: return std::to_string(Read<std::int32_t>(at));
        case FieldType::Hex8: return Hex(Read<std::uint8_t>(at));
        case FieldType::Hex16: return Hex(Read<std::uint16_t>(at));
        case FieldType::Hex32: return Hex(Read<std::uint32_t>(at));
        case FieldType::WideText: {
            std::u16string text;
            for (std::size_t i = 0; i < field.length; ++i) {
                char16_t c = Read<char16_t>(at + 2 * i);
                if (c == 0) break;
                text += c;
            }
            return platform::ToUtf8(text);
        }
        case FieldType::AnsiText: {
            std::size_t length = strnlen(reinterpret_cast<const char*>(at), field.length);
            if (length == 0) return {};
            std::u16string wide(length, u'\0');
            MultiByteToWideChar(CP_1252, 0, reinterpret_cast<const char*>(at), static_cast<int>(length),
                                reinterpret_cast<LPWSTR>(wide.data()), static_cast<int>(length));
            return platform::ToUtf8(wide);
        }
    }
    return {};
}

std::string FormatFields(const std::vector<Field>& fields, const void* record, const std::string& prefix) {
    std::string out;
    for (const Field& field : fields) {
        out += prefix;
        out += field.name;
        out += ": ";
        out += FormatField(field, static_cast<const BYTE*>(record));
        out += '\n';
    }
    return out;
}
