// The engine's stretching service, in its first form: nearest-pixel
// sampling into the band formats, halftoning into one bit per pixel. The
// engine's full drawing services replace it later.

#include <algorithm>
#include <cstdint>
#include <new>
#include <vector>

#include "host/engine.h"
#include "host/surface_format.h"

namespace {

// Rectangles larger than this either way are refused, which keeps the
// sampling arithmetic within 64 bits. No page comes near it.
constexpr std::int64_t kMaxExtent = std::int64_t{1} << 30;

// 8x8 ordered dither (Bayer), indexed [y & 7][x & 7] from the destination's
// origin.
constexpr BYTE kBayer[8][8] = {
    {0, 32, 8, 40, 2, 34, 10, 42},  {48, 16, 56, 24, 50, 18, 58, 26},
    {12, 44, 4, 36, 14, 46, 6, 38}, {60, 28, 52, 20, 62, 30, 54, 22},
    {3, 35, 11, 43, 1, 33, 9, 41},  {51, 19, 59, 27, 49, 17, 57, 25},
    {15, 47, 7, 39, 13, 45, 5, 37}, {63, 31, 55, 23, 61, 29, 53, 21},
};

struct Rgb {
    BYTE red, green, blue;
};

BYTE Grey(Rgb colour) {
    return static_cast<BYTE>((299u * colour.red + 587u * colour.green + 114u * colour.blue) /
                             1000u);
}

// Until sources carry their palettes, a 1-bit source reads 0 as black and 1
// as white (the driver's own 1-bit palette), and an 8-bit source as grey
// levels.
Rgb ReadPixel(ULONG format, const BYTE* row, LONG x) {
    switch (format) {
        case BMF_1BPP: {
            const BYTE value = (row[x >> 3] >> (7 - (x & 7))) & 1 ? 255 : 0;
            return {value, value, value};
        }
        case BMF_8BPP:
            return {row[x], row[x], row[x]};
        case BMF_24BPP: {
            const BYTE* pixel = row + std::int64_t{x} * 3;
            return {pixel[0], pixel[1], pixel[2]};
        }
        default: {  // BMF_32BPP: red, green, blue, one unused byte
            const BYTE* pixel = row + std::int64_t{x} * 4;
            return {pixel[0], pixel[1], pixel[2]};
        }
    }
}

// One bit per pixel: 0 is black, 1 white, as in the driver's palette. Grey
// levels 0..255 map onto 0..64 dots of the 8x8 cell, so pure black and pure
// white stay exact and mid-grey (128) lights exactly half the cell.
void WritePixel(ULONG format, BYTE* row, LONG x, LONG y, Rgb colour) {
    switch (format) {
        case BMF_1BPP: {
            const unsigned level = Grey(colour) * 65u / 256u;
            const BYTE bit = static_cast<BYTE>(0x80u >> (x & 7));
            if (kBayer[y & 7][x & 7] < level)
                row[x >> 3] |= bit;
            else
                row[x >> 3] &= static_cast<BYTE>(~bit);
            break;
        }
        case BMF_8BPP:
            row[x] = Grey(colour);
            break;
        default: {  // BMF_24BPP, red first
            BYTE* pixel = row + std::int64_t{x} * 3;
            pixel[0] = colour.red;
            pixel[1] = colour.green;
            pixel[2] = colour.blue;
            break;
        }
    }
}

bool Ordered(const RECTL& rect) {
    return rect.left <= rect.right && rect.top <= rect.bottom;
}

std::int64_t Width(const RECTL& rect) {
    return std::int64_t{rect.right} - rect.left;
}
std::int64_t Height(const RECTL& rect) {
    return std::int64_t{rect.bottom} - rect.top;
}

// The source coordinate under the centre of destination pixel `offset`
// (counted from the uncut destination rectangle's edge).
std::int64_t Sample(std::int64_t sourceStart, std::int64_t sourceExtent, std::int64_t offset,
                    std::int64_t destExtent) {
    return sourceStart + (2 * offset + 1) * sourceExtent / (2 * destExtent);
}

}  // namespace

extern "C" {

BOOL EngStretchBlt(SURFOBJ* dest, SURFOBJ* source, SURFOBJ*, CLIPOBJ*, XLATEOBJ*, COLORADJUSTMENT*,
                   POINTL*, RECTL* destRect, RECTL* sourceRect, POINTL*, ULONG) {
    if (!host::UsableBitmap(dest) || !host::UsableBitmap(source)) return FALSE;
    if (destRect == nullptr || sourceRect == nullptr) return FALSE;
    const ULONG destFormat = dest->iBitmapFormat;
    const ULONG sourceFormat = source->iBitmapFormat;
    if (destFormat != BMF_1BPP && destFormat != BMF_8BPP && destFormat != BMF_24BPP) return FALSE;
    if (sourceFormat != BMF_1BPP && sourceFormat != BMF_8BPP && sourceFormat != BMF_24BPP &&
        sourceFormat != BMF_32BPP)
        return FALSE;
    const RECTL d = *destRect;
    const RECTL s = *sourceRect;
    if (!Ordered(d) || !Ordered(s)) return FALSE;
    const std::int64_t dw = Width(d), dh = Height(d), sw = Width(s), sh = Height(s);
    if (dw > kMaxExtent || dh > kMaxExtent || sw > kMaxExtent || sh > kMaxExtent) return FALSE;
    if (dw == 0 || dh == 0 || sw == 0 || sh == 0) return TRUE;

    // The destination is cut to its surface; the sampling still runs from
    // the uncut rectangle, so a cut picture lines up with an uncut one.
    const std::int64_t x0 = std::max<std::int64_t>(d.left, 0);
    const std::int64_t x1 = std::min<std::int64_t>(d.right, dest->sizlBitmap.cx);
    const std::int64_t y0 = std::max<std::int64_t>(d.top, 0);
    const std::int64_t y1 = std::min<std::int64_t>(d.bottom, dest->sizlBitmap.cy);
    if (x0 >= x1 || y0 >= y1) return TRUE;

    // Source column of every destination column; -1 where it falls outside
    // the source, which leaves that destination pixel alone.
    std::vector<LONG> columns;
    try {
        columns.resize(static_cast<std::size_t>(x1 - x0));
    } catch (const std::bad_alloc&) {
        return FALSE;
    }
    for (std::int64_t x = x0; x < x1; ++x) {
        const std::int64_t sx = Sample(s.left, sw, x - d.left, dw);
        columns[static_cast<std::size_t>(x - x0)] =
            sx >= 0 && sx < source->sizlBitmap.cx ? static_cast<LONG>(sx) : -1;
    }
    for (std::int64_t y = y0; y < y1; ++y) {
        const std::int64_t sy = Sample(s.top, sh, y - d.top, dh);
        if (sy < 0 || sy >= source->sizlBitmap.cy) continue;
        const BYTE* sourceRow = host::ScanLine(source, static_cast<LONG>(sy));
        BYTE* destRow = host::ScanLine(dest, static_cast<LONG>(y));
        for (std::int64_t x = x0; x < x1; ++x) {
            const LONG sx = columns[static_cast<std::size_t>(x - x0)];
            if (sx < 0) continue;
            WritePixel(destFormat, destRow, static_cast<LONG>(x), static_cast<LONG>(y),
                       ReadPixel(sourceFormat, sourceRow, sx));
        }
    }
    return TRUE;
}

}  // extern "C"
