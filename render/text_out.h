// Text in the printer's resident fonts: glyph runs become items of the
// device text buffer (one per run of characters the printer prints in one
// go), barcode and code fonts go to the barcode path, and any other device
// font is stored whole.
#pragma once

#include <vector>

#include "host/winddi.h"
#include "platform/types.h"

struct DeviceInstance;

// DeviceInstance::textFlags, for the length of one text call.
inline constexpr BYTE kTextFlagSubstituted = 0x1;  // a TrueType font printed in a device font
inline constexpr BYTE kTextFlagUnderlined = 0x2;   // the call underlines its text

// The command library prints an item whose attributes carry this bit
// underlined.
inline constexpr WORD kTextUnderline = 0x80;

inline constexpr WORD kFontIdTextFirst = 1;
inline constexpr WORD kFontIdTextLast = 20;

constexpr bool IsTextFontId(WORD id) {
    return id >= kFontIdTextFirst && id <= kFontIdTextLast;
}
constexpr bool IsSymbolFontId(WORD id) {
    return (id >= 100 && id <= 107) || (id >= 150 && id <= 157);
}

// Stores one run in the device text buffer at `at` (its top left, band
// coordinates) with `size`. A lone space in a text font is not stored; a
// barcode run like the last item (same font, row, size and attributes) is
// appended to it; a last item that holds just a space gives way to the new
// one. FALSE, logged, when the buffer is full.
BOOL SaveString(DeviceInstance* instance, FONTOBJ* font, const IFIMETRICS* metrics, POINTL at,
                SIZEL size, ULONG count, const BYTE* chars, WORD fontId, bool singleByte);

// One character of a device-font string: its bytes (a Shift-JIS character
// has two, lead byte first) and the baseline point of its glyph.
struct DeviceChar {
    BYTE bytes[2];
    BYTE count;
    POINTL origin;
};

// Splits the characters of a text font (ids 1..20) into runs the printer
// prints at its nominal advance, leaving out what lies beyond `clip`, and
// saves each run. `proportional`: the glyph positions decide the advance.
BOOL SplitTextRuns(DeviceInstance* instance, FONTOBJ* font, const IFIMETRICS& metrics, WORD fontId,
                   bool proportional, const std::vector<DeviceChar>& chars, const RECTL& clip);

// The text of a string in a device font (or a TrueType font printed in one),
// run by run, dispatched by `fontId`.
BOOL DeviceFontText(DeviceInstance* instance, SURFOBJ* band, STROBJ* string, FONTOBJ* font,
                    CLIPOBJ* clip, WORD fontId);

// The device font entry (first of its family) carrying `fontId`, or null.
const IFIMETRICS* DeviceFontMetrics(const DeviceInstance& instance, WORD fontId);

// The rectangle text is kept within: the clip's bounds inside the band, or
// the band.
RECTL TextClipRect(const DeviceInstance& instance, CLIPOBJ* clip);

// The length of a vector (x, y) rounded up to a whole number.
LONG VectorLength(LONG x, LONG y);
