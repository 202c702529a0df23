// Brush fills of the driver's own engine.

#include "render/brush_fill.h"

#include <algorithm>
#include <cstring>

#include "driver/band_layout.h"
#include "driver/device_instance.h"
#include "host/engine.h"
#include "render/bitmap_blt.h"
#include "render/clip_enum.h"
#include "render/raster_ops.h"

namespace {

constexpr ULONG kBlack = 0x000000;
constexpr ULONG kWhite = 0xFFFFFF;

LONG PositiveModulo(LONG value, LONG modulus) {
    const LONG r = value % modulus;
    return r < 0 ? r + modulus : r;
}

BYTE* BandRow(const BmpInfo& band, LONG y) {
    return band.bits + static_cast<std::size_t>(y) * static_cast<std::size_t>(band.stride);
}

}  // namespace

bool BandUsable(const BmpInfo& band) {
    if (band.bits == nullptr || band.width <= 0 || band.height <= 0 || band.stride <= 0)
        return false;
    const unsigned long long row =
        (static_cast<unsigned long long>(band.width) * band.bitsPerPixel + 7) / 8;
    return static_cast<unsigned long long>(band.stride) >= row &&
           static_cast<unsigned long long>(band.stride) * static_cast<unsigned>(band.height - 1) +
                   row <=
               band.size;
}

RealBrush* RealizeSolidBrush(ScratchBrush* scratch, ULONG colour, int depth) {
    RealBrush& brush = scratch->brush;
    brush = {};
    brush.solidColor = colour;
    brush.kind = kBrushKindSolid;
    brush.patHeight = 1;
    brush.patStride = ((depth + 31) >> 3) & ~3;
    brush.patBitsPerPixel = static_cast<ULONG>(depth);
    std::memset(scratch->bits, 0, sizeof scratch->bits);
    const BYTE red = static_cast<BYTE>(colour);
    const BYTE green = static_cast<BYTE>(colour >> 8);
    const BYTE blue = static_cast<BYTE>(colour >> 16);
    if (depth == 1) {
        // A 1-bit band reads patterns a byte (8 pixels) at a time, so the
        // colour's mono bit fills one byte of pattern.
        brush.patWidth = 8;
        scratch->bits[0] = MonoWhite(red, green, blue) ? 0xFF : 0x00;
    } else if (depth == 8) {
        brush.patWidth = 1;
        scratch->bits[0] = GreyOf(red, green, blue);
    } else {
        brush.patWidth = 1;
        scratch->bits[0] = red;
        scratch->bits[1] = green;
        scratch->bits[2] = blue;
    }
    brush.alignedPattern = RealBrushBits(&brush);
    return &brush;
}

bool BrushPatternUsable(const RealBrush& brush, int depth) {
    if (brush.patWidth <= 0 || brush.patHeight <= 0 || brush.patStride <= 0) return false;
    if (static_cast<int>(brush.patBitsPerPixel) != depth) return false;
    const long long rowBits = static_cast<long long>(brush.patWidth) * depth;
    return (rowBits + 7) / 8 <= brush.patStride;
}

bool AlignBrushPattern(RealBrush* brush, LONG dx, LONG dy, BYTE* block) {
    BYTE* bits = RealBrushBits(brush);
    brush->alignedPattern = bits;
    if ((dx == 0 && dy == 0) || brush->patBitsPerPixel == 1) return true;
    if (block == nullptr) return false;
    const LONG w = brush->patWidth;
    const LONG h = brush->patHeight;
    const LONG pixelBytes = static_cast<LONG>(brush->patBitsPerPixel / 8);
    const LONG shiftX = PositiveModulo(dx, w);
    const LONG shiftY = PositiveModulo(dy, h);
    for (LONG i = 0; i < h; ++i) {
        const BYTE* in = bits + static_cast<std::size_t>((shiftY + i) % h) * brush->patStride;
        BYTE* out = block + static_cast<std::size_t>(i) * brush->patStride;
        for (LONG j = 0; j < w; ++j)
            std::memcpy(out + j * pixelBytes, in + ((shiftX + j) % w) * pixelBytes,
                        static_cast<std::size_t>(pixelBytes));
    }
    brush->alignedPattern = block;
    return true;
}

bool BrushFillUsable(const BmpInfo& band, const RealBrush& brush) {
    return BandUsable(band) && BrushPatternUsable(brush, band.bitsPerPixel);
}

void FillBrushSpan(const BmpInfo& band, LONG y, LONG x0, LONG x1, const RealBrush& brush,
                   ULONG mix) {
    const int foreground = MixForeground(mix);
    const bool transparent = brush.solidColor == kPatternBrush && MixBackground(mix) == kRop2Nop;
    // Pattern rows are taken modulo the pattern height, so that patterns of
    // any height repeat alike on every path that fills through here.
    const BYTE* patternRow =
        RealBrushBits(&brush) + static_cast<std::size_t>(y % brush.patHeight) * brush.patStride;
    // A 1-bit band is filled bit by bit; its patterns are rows of bits.
    if (band.bitsPerPixel == 1)
        Rop2SpanMono(BandRow(band, y), x0, x1, patternRow, brush.patWidth, transparent, foreground);
    else
        Rop2Span(BandRow(band, y), x0, x1, patternRow, brush.patWidth, band.bitsPerPixel / 8,
                 transparent, foreground);
}

bool FillRectWithBrush(const BmpInfo& band, const RECTL& rect, const RealBrush& brush, ULONG mix,
                       const RECTL* clip) {
    RECTL area = IntersectRect(rect, {0, 0, band.width, band.height});
    if (clip != nullptr) area = IntersectRect(area, *clip);
    if (RectIsEmpty(area) || !BrushFillUsable(band, brush)) return true;
    if (band.bitsPerPixel != 1 && brush.solidColor != kPatternBrush &&
        MixForeground(mix) == kRop2Copy && MixBackground(mix) == kRop2Copy) {
        // A solid copy renders one row and copies it down.
        const int bpp = band.bitsPerPixel / 8;
        BYTE* first = BandRow(band, area.top);
        Rop2Span(first, area.left, area.right, RealBrushBits(&brush), 1, bpp, false, kRop2Copy);
        const std::size_t offset = static_cast<std::size_t>(area.left) * bpp;
        const std::size_t bytes = static_cast<std::size_t>(area.right - area.left) * bpp;
        for (LONG y = area.top + 1; y < area.bottom; ++y)
            std::memcpy(BandRow(band, y) + offset, first + offset, bytes);
        return true;
    }
    for (LONG y = area.top; y < area.bottom; ++y)
        FillBrushSpan(band, y, area.left, area.right, brush, mix);
    return true;
}

RealBrush* GetRealBrush(const DeviceInstance& instance, ScratchBrush* scratch, BRUSHOBJ* brush,
                        const POINTL* origin) {
    if (brush == nullptr) return nullptr;
    auto* real = static_cast<RealBrush*>(BRUSHOBJ_pvGetRbrush(brush));
    if (real == nullptr) {
        if (brush->iSolidColor == kPatternBrush) return nullptr;
        real = RealizeSolidBrush(scratch, brush->iSolidColor, instance.geometry.bitsPerPixel);
    }
    real->originX = origin != nullptr ? origin->x : 0;
    real->originY = origin != nullptr ? origin->y : 0;
    real->alignedPattern = RealBrushBits(real);
    return real;
}

namespace {

// Black and white fills need no brush: the caller often gives none for them.
// Every other code, inversion and no operation included, needs one.
bool NeedsNoBrush(int rop2) {
    return rop2 == kRop2Black || rop2 == kRop2White;
}

}  // namespace

bool BrushBlt(DeviceInstance* instance, SURFOBJ* bandSurface, const RECTL& rect, BRUSHOBJ* brush,
              const POINTL* origin, CLIPOBJ* clip, BYTE rop3) {
    return BrushBltMix(instance, bandSurface, rect, brush, origin, clip,
                       MixOf(Rop3ToRop2(rop3), kRop2Copy));
}

bool BrushBltMix(DeviceInstance* instance, SURFOBJ* bandSurface, const RECTL& rect, BRUSHOBJ* brush,
                 const POINTL* origin, CLIPOBJ* clip, ULONG mix) {
    ScratchBrush scratch;
    RealBrush* real = GetRealBrush(*instance, &scratch, brush, origin);
    if (real == nullptr && NeedsNoBrush(MixForeground(mix)))
        real = RealizeSolidBrush(&scratch, kBlack, instance->geometry.bitsPerPixel);
    if (real == nullptr) return false;
    BmpInfo band;
    if (!ConvertSurfObjToBmpInfo(&band, bandSurface)) return false;
    const RECTL target{std::min(rect.left, rect.right), std::min(rect.top, rect.bottom),
                       std::max(rect.left, rect.right), std::max(rect.top, rect.bottom)};
    ClipEnumerator walk;
    ClipEnumStart(&walk, clip, target);
    RECTL piece;
    while (ClipEnumNext(&walk, &piece)) {
        const RECTL inBand = IntersectRect(piece, instance->bandClip);
        if (RectIsEmpty(inBand)) continue;
        FillRectWithBrush(band, target, *real, mix, &inBand);
    }
    ClipEnumEnd(&walk);
    return true;
}

namespace {

bool BlackOrWhite(ULONG colour) {
    return colour == kBlack || colour == kWhite;
}

// A 1-bit source whose table maps both its indices to black or white.
bool BlackAndWhiteSource(const SURFOBJ* source, const XLATEOBJ* xlate) {
    if (source == nullptr || source->iBitmapFormat != BMF_1BPP || xlate == nullptr) return false;
    if ((xlate->flXlate & XO_TABLE) == 0 || xlate->pulXlate == nullptr || xlate->cEntries < 2)
        return false;
    return BlackOrWhite(xlate->pulXlate[0]) && BlackOrWhite(xlate->pulXlate[1]);
}

}  // namespace

void TrackBandColor(DeviceInstance* instance, const SURFOBJ* source, const BRUSHOBJ* brush,
                    const XLATEOBJ* xlate, ROP4 rop4) {
    if ((instance->state & kStateBandBlackWhite) == 0) return;
    const BYTE rop3 = static_cast<BYTE>(rop4);
    // The brush is looked at whenever the source left the band black and
    // white, so that a coloured brush combined with a black-and-white source
    // counts too.
    bool colour = Rop3UsesSource(rop3) && !BlackAndWhiteSource(source, xlate);
    if (!colour && Rop3UsesPattern(rop3) && brush != nullptr)
        colour = brush->iSolidColor != kPatternBrush && !BlackOrWhite(brush->iSolidColor);
    if (colour) instance->state &= ~kStateBandBlackWhite;
}
