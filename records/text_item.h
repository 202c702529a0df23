// One device-text item as the command library reads it with a band: text in
// a device font, a barcode or a control font, with its place on the band.
#pragma once

#include <cstddef>

#include "platform/types.h"

// TextRecord attributes
inline constexpr WORD kTextItalic = 0x1;
inline constexpr WORD kTextBold = 0x2;
inline constexpr WORD kTextDoubleByte = 0x4;
inline constexpr WORD kTextSingleByteRun = 0x8;

// One item as the command library reads it (26 bytes, packed). Positions and
// sizes are in pixels, band coordinates; the characters lie at `offset` in
// the buffer's data, without a terminator.
#pragma pack(push, 1)
struct TextRecord {
    WORD fontId;
    WORD attributes;
    DWORD offset;
    WORD count;
    LONG x;
    LONG y;
    LONG width;
    LONG height;
};
#pragma pack(pop)
static_assert(sizeof(TextRecord) == 26);
static_assert(offsetof(TextRecord, attributes) == 2);
static_assert(offsetof(TextRecord, offset) == 4);
static_assert(offsetof(TextRecord, count) == 8);
static_assert(offsetof(TextRecord, x) == 10);
static_assert(offsetof(TextRecord, y) == 14);
static_assert(offsetof(TextRecord, width) == 18);
static_assert(offsetof(TextRecord, height) == 22);
