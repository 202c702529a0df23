// The band walk's arithmetic: the size of the band bitmap, the first band of
// a page and the step from one band to the next, for the four band
// directions. Rectangles are in page-image coordinates.
#pragma once

#include "platform/rect.h"
#include "platform/types.h"
#include "records/band_record.h"

inline constexpr DWORD kBandBudget = 0x400000;  // 4 MiB for one band bitmap

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
