// The band record (52 bytes) that the command library receives with every
// band's bits, and the band directions of the page geometry record.
#pragma once

#include <cstddef>

#include "platform/types.h"

// Band directions (PageGeometry::bandDirection).
inline constexpr WORD kBandsDown = 1;    // horizontal bands, top to bottom
inline constexpr WORD kStripsRight = 2;  // vertical strips, left to right
inline constexpr WORD kStripsLeft = 3;   // vertical strips, right to left
inline constexpr WORD kBandsUp = 4;      // horizontal bands, bottom to top

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
