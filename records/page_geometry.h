// The page geometry record (240 bytes), sent unchanged to the command library
// at every page start, so its layout is a format.
#pragma once

#include <cstddef>

#include "platform/types.h"

inline constexpr WORD kGeometryValid = 0x8000;
inline constexpr WORD kOwnRendering = 0x8000;

#pragma pack(push, 1)
struct PageGeometry {
    POINTL physOffset;            // 0: sheet margins left, top, pixels, scaled
    SIZEL physSize;               // 8: whole sheet, pixels, scaled
    LONG horzRes;                 // 16: sheet printable area, pixels, scaled
    LONG vertRes;                 // 20
    LONG printableWidthMm10;      // 24: sheet printable size, 0.1 mm
    LONG printableHeightMm10;     // 28
    LONG dpiX;                    // 32
    LONG dpiY;                    // 36
    SIZEL imageSize;              // 40: one logical page, pixels
    POINTL paperMargin;           // 48: logical paper's left and top margins, pixels
    SIZEL paperSize;              // 56: logical paper's total size, pixels
    SIZEL paperPrintable;         // 64: logical paper's printable size, pixels, unscaled
    SHORT turned;                 // 72
    WORD pagesPerSheet;           // 74
    POINTL cells[16];             // 76: cell origins in fill order
    POINTL shift;                 // 204
    SHORT currentCell;            // 212: 1-based; 0 between pages
    WORD renderFlags;             // 214: kOwnRendering
    WORD status;                  // 216: kGeometryValid
    SHORT colourMode;             // 218
    SHORT recordedScale;          // 220
    WORD bitsPerPixel;            // 222
    WORD rotation;                // 224: 0, 270, 180, 90
    WORD bandDirection;           // 226: 1 down, 2 right, 3 left, 4 up
    SHORT sheetsBegun;            // 228
    SHORT pagesBegun;             // 230
    WORD cellsUsed;               // 232
    SHORT firstOrientation;       // 234
    SHORT firstSheetOrientation;  // 236
    SHORT firstReverseShift;      // 238
};
#pragma pack(pop)
static_assert(sizeof(PageGeometry) == 240);
static_assert(offsetof(PageGeometry, imageSize) == 40);
static_assert(offsetof(PageGeometry, paperPrintable) == 64);
static_assert(offsetof(PageGeometry, turned) == 72);
static_assert(offsetof(PageGeometry, cells) == 76);
static_assert(offsetof(PageGeometry, shift) == 204);
static_assert(offsetof(PageGeometry, currentCell) == 212);
static_assert(offsetof(PageGeometry, status) == 216);
static_assert(offsetof(PageGeometry, bitsPerPixel) == 222);
static_assert(offsetof(PageGeometry, bandDirection) == 226);
static_assert(offsetof(PageGeometry, sheetsBegun) == 228);
static_assert(offsetof(PageGeometry, firstReverseShift) == 238);
