// Bitmaps of the driver's own engine: the descriptor of a source or band
// bitmap, the source colour table, and the transfer of one clip rectangle
// into the band.
#pragma once

#include <memory>

#include "host/winddi.h"
#include "platform/types.h"
#include "render/brush_fill.h"

inline constexpr ULONG kBmpUncompressed = 0;
inline constexpr ULONG kBmpRle8 = 1;
inline constexpr ULONG kBmpRle4 = 2;

// BmpInfo flags
inline constexpr USHORT kBmpBottomUp = 0x0001;
inline constexpr USHORT kBmpMirrorX = 0x0002;
inline constexpr USHORT kBmpMirrorY = 0x0004;
inline constexpr USHORT kBmpColourTable = 0x0008;
inline constexpr USHORT kBmpTranslateEach = 0x0010;
inline constexpr USHORT kBmpRgbOrder = 0x0040;
inline constexpr USHORT kBmpAlphaBlend = 0x0400;

struct BmpInfo {
    LONG width;
    LONG height;
    USHORT bitsPerPixel;
    ULONG compression;
    BYTE* bits;  // the start of the bitmap memory, rows counted from here
    ULONG size;
    LONG stride;
    USHORT flags;
};

// One colour of a source's table: blue, green, red and a byte never read.
struct ColourEntry {
    BYTE blue;
    BYTE green;
    BYTE red;
    BYTE unused;
};
static_assert(sizeof(ColourEntry) == 4);

struct ColourTable {
    std::unique_ptr<ColourEntry[]> entries;
    int count = 0;
};

bool ConvertSurfObjToBmpInfo(BmpInfo* info, const SURFOBJ* surface);

// Builds the colour table of a source of up to 8 bits per pixel from the
// translation object and sets the source's reading flags (0x0008, 0x0010,
// 0x0040).
bool SetupColorTable(BmpInfo* source, ColourTable* table, const SURFOBJ* surface, XLATEOBJ* xlate);
// The fixed table of a 1-bit ink image: 0 white, 1 black, so set bits print.
bool SetupInkColorTable(BmpInfo* source, ColourTable* table);

// The target colour (0x00BBGGRR) of a source value: the table of a table
// translation, the value itself without translation or for a trivial one,
// else the engine's translation.
ULONG TranslateColour(XLATEOBJ* xlate, ULONG value);

// The nearest source index of destination index k when `destinationExtent`
// pixels show `sourceExtent` ones.
constexpr LONG StretchIndex(LONG destinationExtent, LONG sourceExtent, LONG k) {
    return static_cast<LONG>((2 * static_cast<long long>(k) + 1) * sourceExtent /
                             (2 * static_cast<long long>(destinationExtent)));
}

// Unpacks a run-length encoded 4- or 8-bit source into `out`, height rows
// of `stride` bytes, zero where the runs leave pixels out. Runs past a row,
// rows past the bitmap and deltas out of it are cut; truncated data ends the
// picture.
void UnpackRle(const BmpInfo& source, BYTE* out, LONG stride);

// Draws `sourceRect` of `source` onto `destination` (band coordinates,
// left < right, top < bottom) within `clip` (one clip rectangle inside the
// band) with ROP3 `rop3`. Returns the band rows written, 0 when the clipped
// area is empty, -1 on failure.
int GR_BitmapBlt(const BmpInfo& band, const BmpInfo& source, const RECTL& destination,
                 const RECTL& sourceRect, const ColourTable* table, RealBrush* brush, BYTE rop3,
                 const RECTL& clip, XLATEOBJ* xlate, const BLENDFUNCTION* blend);

// Blends `pixels` converted source pixels of `channels` bytes each into the
// band; `alpha` holds one byte per pixel for a per-pixel blend.
void AlphaBlendRow(BYTE* destination, const BYTE* source, const BYTE* alpha, int pixels,
                   int channels, const BLENDFUNCTION& blend);
// The same on a 1-bit band: source and band bits from bit `phase` on.
void AlphaBlendRowMono(BYTE* destination, const BYTE* source, const BYTE* alpha, int phase,
                       int pixels, const BLENDFUNCTION& blend);
// One blended channel byte.
BYTE BlendChannel(BYTE source, BYTE destination, BYTE alpha, bool perPixel, BYTE constantAlpha);
