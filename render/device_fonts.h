// The device font table: the printer's resident text fonts, its barcode and
// two-dimensional code fonts and its two control fonts, each published to
// the engine as a family of four (regular, bold, italic, bold italic).
#pragma once

#include "host/winddi.h"
#include "platform/types.h"

struct DeviceInstance;

inline constexpr int kFontNameMax = 100;
inline constexpr DWORD kFontKindControl = 1;
inline constexpr DWORD kFontKindOther = 2;
inline constexpr WORD kFontIdBarcodeFirst = 100;
inline constexpr WORD kFontId2DFirst = 150;
inline constexpr WORD kFontIdControl = 200;
inline constexpr WORD kFontIdControlA = 300;
inline constexpr BYTE kShiftJisCharSet = 128;

// The font metrics record is followed by its four name strings (the names'
// offsets count from the start of the metrics record).
struct DeviceFontEntry {
    DWORD kind;
    IFIMETRICS ifi;
    WCHAR familyName[kFontNameMax + 1];
    WCHAR faceName[kFontNameMax + 1];
    WCHAR styleName[1];
    WCHAR uniqueName[1];
    WORD widths[256];
    WORD fontId;
    WORD spare;
};

// Counts the device fonts (table null: no library is loaded) or fills
// `table`, which holds the count entries. -1 when the table cannot be filled:
// the face-name library does not load or lacks a name.
LONG EnumerateDeviceFonts(const DeviceInstance& instance, DeviceFontEntry* table);
