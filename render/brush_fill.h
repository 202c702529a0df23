// Realized brushes and brush fills of the driver's own engine, and the
// band's black-and-white-only bookkeeping.
#pragma once

#include <cstddef>

#include "host/winddi.h"
#include "platform/types.h"

struct DeviceInstance;
struct BmpInfo;

inline constexpr ULONG kBrushKindSolid = 6;

// The realized form of a brush. Its pattern bits follow the record directly:
// patHeight rows of patStride bytes in the band's pixel layout.
struct RealBrush {
    ULONG solidColor;  // 0x00BBGGRR, or kPatternBrush
    ULONG kind;
    LONG originX;
    LONG originY;
    LONG patWidth;
    LONG patHeight;
    LONG patStride;
    ULONG patBitsPerPixel;
    // The pattern a ROP3 pass reads: the pattern bits, or a rotated copy
    // that lives for one transfer.
    BYTE* alignedPattern;
};

inline BYTE* RealBrushBits(RealBrush* brush) {
    return reinterpret_cast<BYTE*>(brush + 1);
}
inline const BYTE* RealBrushBits(const RealBrush* brush) {
    return reinterpret_cast<const BYTE*>(brush + 1);
}

// Room for a brush built from a solid colour: a 1×1 pattern (8×1 on a 1-bit
// band) of one 4-byte row.
struct ScratchBrush {
    RealBrush brush;
    BYTE bits[4];
};
static_assert(offsetof(ScratchBrush, bits) == sizeof(RealBrush));

// The grey value and the mono bit of a colour given as red, green, blue.
constexpr BYTE GreyOf(BYTE red, BYTE green, BYTE blue) {
    return static_cast<BYTE>((5 * red + 9 * green + 2 * blue) >> 4);
}
constexpr bool MonoWhite(BYTE red, BYTE green, BYTE blue) {
    return red == 0xFF && green == 0xFF && blue == 0xFF;
}

// Builds a brush of one colour (0x00BBGGRR) for a band of `depth` bits per
// pixel in the scratch record.
RealBrush* RealizeSolidBrush(ScratchBrush* scratch, ULONG colour, int depth);

// Whether the brush's pattern is one the engine can read for a band of
// `depth` bits per pixel: a positive size whose rows fit in the stride.
bool BrushPatternUsable(const RealBrush& brush, int depth);

// Points alignedPattern at the pattern rotated by (dx, dy): output row i,
// pixel j is input row (dy + i) mod height, pixel (dx + j) mod width. The
// rotated copy goes into `block` (patStride × patHeight bytes, owned by the
// caller for the transfer). False when the block is missing; the unaligned
// pattern is used then.
bool AlignBrushPattern(RealBrush* brush, LONG dx, LONG dy, BYTE* block);

// Whether `band` describes bits that hold its rows.
bool BandUsable(const BmpInfo& band);

// Whether the band and the brush's pattern can be filled from; the span
// fill below expects both.
bool BrushFillUsable(const BmpInfo& band, const RealBrush& brush);

// Fills x0 <= x < x1 of band row y (inside the band) with the brush: the
// mix's foreground ROP2, pattern row y mod patHeight and column x mod
// patWidth in band coordinates, transparent where a pattern brush is white
// when the background is 11.
void FillBrushSpan(const BmpInfo& band, LONG y, LONG x0, LONG x1, const RealBrush& brush,
                   ULONG mix);

// Fills `rect` (band coordinates) limited by `clip` when given. The mix's
// foreground is the ROP2 drawn; a pattern brush with background 11 is
// transparent where its pixels are white. Always succeeds.
bool FillRectWithBrush(const BmpInfo& band, const RECTL& rect, const RealBrush& brush, ULONG mix,
                       const RECTL* clip);

// The realized brush of `brush`, or one built from its solid colour in the
// scratch record; null when it has neither. The brush origin of the call
// (or 0, 0) is stored in it.
RealBrush* GetRealBrush(const DeviceInstance& instance, ScratchBrush* scratch, BRUSHOBJ* brush,
                        const POINTL* origin);

// The fill of a ROP3 code that reads no source, clipped by the clip object
// and the band.
bool BrushBlt(DeviceInstance* instance, SURFOBJ* band, const RECTL& rect, BRUSHOBJ* brush,
              const POINTL* origin, CLIPOBJ* clip, BYTE rop3);
// The same with a mix (foreground ROP2 in the low byte, background in the
// second), as path fills give it.
bool BrushBltMix(DeviceInstance* instance, SURFOBJ* band, const RECTL& rect, BRUSHOBJ* brush,
                 const POINTL* origin, CLIPOBJ* clip, ULONG mix);

// Clears the band's black-and-white-only flag once a transfer may bring
// another colour into the band.
void TrackBandColor(DeviceInstance* instance, const SURFOBJ* source, const BRUSHOBJ* brush,
                    const XLATEOBJ* xlate, ROP4 rop4);
