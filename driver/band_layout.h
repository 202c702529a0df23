// The band walk's arithmetic: the size of the band bitmap, the first band of
// a page and the step from one band to the next, for the four band
// directions, and the band record handed to the command library with every
// band. Rectangles are in page-image coordinates.
#pragma once

#include <algorithm>
#include <cstddef>

#include "platform/types.h"

// Band directions (PageGeometry::bandDirection).
inline constexpr WORD kBandsDown = 1;    // horizontal bands, top to bottom
inline constexpr WORD kStripsRight = 2;  // vertical strips, left to right
inline constexpr WORD kStripsLeft = 3;   // vertical strips, right to left
inline constexpr WORD kBandsUp = 4;      // horizontal bands, bottom to top

inline constexpr DWORD kBandBudget = 0x400000;  // 4 MiB for one band bitmap

// BandRecord flags
inline constexpr DWORD kBandBlackWhiteOnly = 0x1;

// What CmndSendBand receives with the band's bits (52 bytes).
#pragma pack(push, 1)
struct BandRecord {
    DWORD reserved;
    LONG stride;  // bytes per scan line of the band bitmap
    LONG width;   // band bitmap
    LONG height;
    RECTL band;     // the band, page-image coordinates
    RECTL content;  // union of what was drawn, page-image coordinates
    DWORD flags;    // kBandBlackWhiteOnly
};
#pragma pack(pop)
static_assert(sizeof(BandRecord) == 52);
static_assert(offsetof(BandRecord, stride) == 4);
static_assert(offsetof(BandRecord, width) == 8);
static_assert(offsetof(BandRecord, height) == 12);
static_assert(offsetof(BandRecord, band) == 16);
static_assert(offsetof(BandRecord, content) == 32);
static_assert(offsetof(BandRecord, flags) == 48);

// Bytes per scan line of a bitmap: rows padded to 4 bytes.
LONG BandStride(WORD bitsPerPixel, LONG width);

// The band bitmap's size for a page of `page` pixels under `budget` bytes:
// vertical strips (directions 2 and 3) the page's height high, or horizontal
// bands the page's width wide, the other side rounded down to a multiple of
// 8 and at most the page's. A zero side means no band fits the budget.
// The page's sides must be positive and the depth 1, 8 or 24.
SIZEL BandBitmapSize(WORD direction, WORD bitsPerPixel, SIZEL page, DWORD budget);

// The page's first band for a band bitmap of `bitmap` on a page of `page`,
// the page's pixel (0, 0) lying at `origin` on the sheet.
RECTL FirstBand(WORD direction, POINTL origin, SIZEL bitmap, SIZEL page);
// Moves `band` to the next band; true when the page is done.
bool AdvanceBand(WORD direction, POINTL origin, SIZEL bitmap, SIZEL page, RECTL* band);

inline bool RectIsEmpty(const RECTL& r) {
    return r.left >= r.right || r.top >= r.bottom;
}
// The smallest rectangle holding both; an empty one adds nothing.
inline RECTL UnionRect(const RECTL& a, const RECTL& b) {
    if (RectIsEmpty(a)) return RectIsEmpty(b) ? RECTL{0, 0, 0, 0} : b;
    if (RectIsEmpty(b)) return a;
    return {std::min(a.left, b.left), std::min(a.top, b.top), std::max(a.right, b.right),
            std::max(a.bottom, b.bottom)};
}
// The common part, or (0, 0, 0, 0) when there is none.
inline RECTL IntersectRect(const RECTL& a, const RECTL& b) {
    RECTL r{std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
            std::min(a.bottom, b.bottom)};
    return RectIsEmpty(r) ? RECTL{0, 0, 0, 0} : r;
}
inline RECTL OffsetRect(const RECTL& r, LONG dx, LONG dy) {
    return {r.left + dx, r.top + dy, r.right + dx, r.bottom + dy};
}
