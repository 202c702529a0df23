// The background image of a page: a bitmap file named in the private device
// mode, drawn under everything else into the first band of every page when
// the layout asks for it (layoutFlags 0x800 and a percentage other than 0).
//
// The file comes from outside and is checked before use: it must be a
// Windows bitmap file ("BM") with an information header of at least 40
// bytes, uncompressed: BI_RGB of 1, 4, 8, 24 or 32 bits per pixel, or
// BI_BITFIELDS with the common masks (32 bits 00FF0000, 0000FF00, 000000FF;
// 16 bits 5-5-5 or 5-6-5; other masks and run-length compressed files are
// not drawn), a positive width, a
// height other than 0 (negative: rows stored top-down), at most 64 Mi pixels
// (67,108,864), a colour table of at most 2^depth entries, and a colour
// table and pixel rows that lie inside the file. Files over 260 MiB are not
// read. Anything else draws nothing and reads nothing outside the file.
#pragma once

#include <cstddef>
#include <vector>

#include "host/winddi.h"
#include "platform/types.h"

struct DeviceInstance;

inline constexpr std::size_t kBackgroundMaxPixels = std::size_t{64} << 20;
inline constexpr std::size_t kBackgroundMaxFileBytes = std::size_t{260} << 20;
// A tiled image needing more copies than this over the page (tiny tiles on a
// long page) is not drawn.
inline constexpr std::size_t kBackgroundMaxTiles = 262144;

// Position codes: 1-9 a 3 x 3 grid (left, centre, right; top, middle,
// bottom), 10 tiles the page.
inline constexpr WORD kBackgroundTiled = 10;

// The image converted for stretching: 24 bits per pixel, red first, rows
// top-down, `stride` bytes apart (padded to 4), white where the file gives
// nothing.
struct BackgroundImage {
    LONG width = 0;
    LONG height = 0;
    LONG stride = 0;
    std::vector<BYTE> pixels;
};

// Checks and converts a bitmap file held in memory; false when it is not one
// this driver draws (the image is then left empty).
bool DecodeBackgroundImage(const BYTE* file, std::size_t size, BackgroundImage* image);

// Where the copies of an image of `drawn` size go on a page of `page` size
// (page-image coordinates, not yet clipped): one for codes 1-9, rows of
// copies for 10, none for any other code.
std::vector<RECTL> BackgroundPlacements(WORD position, SIZEL page, SIZEL drawn);

// The drawn size: a percentage of the page's height in landscape (the width
// following the image's proportions), else of its width.
SIZEL BackgroundDrawnSize(bool landscape, SIZEL page, SIZEL image, WORD percent);

// Cuts `dest` (an image of `image` size stretched to it) to the page; the
// source rectangle is cut in proportion. False when nothing of it is on the page.
bool ClipBackgroundToPage(const RECTL& dest, SIZEL page, SIZEL image, RECTL* clippedDest,
                          RECTL* source);

// Draws the instance's background image into the band surface, whose pixel
// (0, 0) is page pixel (band.left, band.top). Does nothing unless the device
// mode asks for an image and the file passes the checks.
void DrawBackgroundImage(const DeviceInstance& instance, SURFOBJ* band);
