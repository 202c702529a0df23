// Barcodes and two-dimensional codes printed in their device fonts: the
// data of the text, then either an item the printer draws itself or an
// image from the barcode library drawn into the band.
#pragma once

#include <vector>

#include "host/winddi.h"
#include "platform/types.h"

struct DeviceInstance;

// The bytes of text holding pairs of hexadecimal digits, high digit first;
// a character that is no digit counts as 0 and an odd last one is ignored.
std::vector<BYTE> DecodeHexPairs(const BYTE* text, ULONG length);

// A 1-bit image turned clockwise, rows of (width + 7) / 8 bytes; `used` is
// the part that holds the picture, the other pixels are 1.
struct RotatedImage {
    std::vector<BYTE> bits;
    LONG width = 0;
    LONG height = 0;
    LONG stride = 0;
    RECTL used{};
};

// Turns `image` (width × height, `stride` bytes a row, top-down, most
// significant bit leftmost) by 90, 180 or 270 degrees. False for any other
// angle, a bad size, or when memory is short.
bool CreateRotatedImage(const BYTE* image, LONG width, LONG height, LONG stride, int rotation,
                        RotatedImage* result);

// Draws the data of a barcode font's text placed at `at` (the run's top
// left): the printer draws it from an item, or its image is drawn into the
// band. Failures are logged and give TRUE, so that the rest of the page
// prints; only a full text buffer gives FALSE. The text call's clip is not
// applied to a barcode.
BOOL DrawBarcode(DeviceInstance* instance, SURFOBJ* band, const BYTE* text, ULONG length, POINTL at,
                 FONTOBJ* font, WORD fontId);
