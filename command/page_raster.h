// The page in printer form. Bands arrive one by one; each is brought into
// printer orientation and one bit per dot (rotated, mirrored or halftoned)
// and laid into the page at its rows, and its device-text items are kept
// with their bytes, moved from band to page coordinates. When the page ends
// the band encoder walks the whole page as one band, so a page split into
// any number of bands prints exactly as a single band would: blank rows
// across a band edge become one feed, raster blocks run on across it, and
// nothing is fed twice. A band that holds the whole page is not copied: the
// page is walked straight from the band as it arrives.
#pragma once

#include <memory>
#include <vector>

#include "command/ext_pdev.h"

// A block of rows that grows without clearing what will be overwritten.
struct RowBlock {
    std::unique_ptr<BYTE[]> bits;
    std::size_t capacity = 0;  // bytes
};

struct PageRaster {
    // Plane 1 and, for two-colour printing, plane 2: `rows` rows of `stride`
    // bytes each, most significant bit the leftmost dot, 1 white, 0 dot.
    RowBlock planes[2];
    // While a page that came as one band is walked from that band: its
    // planes in printer form, `lentStride` bytes a row.
    const BYTE* lent[2] = {nullptr, nullptr};
    LONG lentStride = 0;
    // Per row: 1 when every byte a raster line sends (width / 8) is white in
    // every plane, found as the row is laid in.
    std::vector<BYTE> blank;
    bool twoPlanes = false;
    bool pending = false;  // a band arrived since the page was last walked
    LONG width = 0;        // dots
    LONG stride = 0;       // (width + 7) / 8
    LONG rows = 0;
    RECTL band{};     // union of the bands, printer frame
    RECTL content{};  // union of the drawn areas, printer frame
    // The items in page coordinates; their offsets point into `text`.
    std::vector<TextRecord> items;
    std::vector<BYTE> text;

    const BYTE* Row(int plane, LONG r) const {
        if (lent[0] != nullptr) return lent[plane] + static_cast<std::ptrdiff_t>(r) * lentStride;
        return planes[plane].bits.get() + static_cast<std::ptrdiff_t>(r) * stride;
    }
};

// Pages larger than this (bytes per plane) are refused.
inline constexpr std::size_t kPageRasterLimit = std::size_t{256} << 20;

// The send-band step of the command output: lays `band` into the record's
// page (or, when it holds the whole page, walks it at once). 0 when the band has no bits, an
// unusable depth or layout, or memory runs out (the band is then lost and the job ends).
BOOL EmitBand(ExtPdev* pdev, BandDesc* band);

// Walks the record's page, if a band arrived for it, and empties it. 0 when
// memory runs out for the walk; the output is then marked failed.
BOOL EmitPage(ExtPdev* pdev);

// For tests only: the walk's buffer cannot be had beyond `bytes`, as when
// memory runs out (0 lifts the limit).
void SetWalkBufferLimitForTesting(std::size_t bytes);

// Releases the page's memory.
void FreePageRaster(ExtPdev* pdev);

// Maps a band rectangle (left, top, right, bottom) into the printer frame for
// `angle`, the page being `page` in the driver's frame.
RECTL RectToPrinterFrame(const RECTL& r, int angle, SIZEL page);

// The rotation that brings a band of `direction` into printer order.
int AngleOfDirection(WORD direction);
