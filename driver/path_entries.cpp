// The path entries and brush realization: validation, the band range check
// and the band's colour flag, then either the driver's path renderer or the
// platform engine draws.

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <numeric>

#include "driver/band_range.h"
#include "driver/device_instance.h"
#include "driver/driver_entry.h"
#include "driver/instance_log.h"
#include "driver/page_geometry.h"
#include "host/engine.h"
#include "platform/last_error.h"
#include "render/brush_fill.h"
#include "render/path_render.h"

namespace {

// A pattern brush tested by its colour alone: the pattern copy.
constexpr ROP4 kRop4PatternCopy = 0xF0F0;

bool JobFailed(const DeviceInstance& instance) {
    return (instance.state & kStateJobFailed) != 0;
}

bool OwnRendering(const DeviceInstance& instance) {
    return (instance.geometry.renderFlags & kOwnRendering) != 0;
}

// The path's bounds in pixels, right and bottom included by adding one.
RECTL PathBounds(PATHOBJ* path) {
    RECTFX fixed{};
    PATHOBJ_vGetBounds(path, &fixed);
    return {FixToPixel(fixed.xLeft), FixToPixel(fixed.yTop), FixToPixel(fixed.xRight) + 1,
            FixToPixel(fixed.yBottom) + 1};
}

// Steps 2 to 5 shared by the three entries. True when the entry draws; else
// it returns TRUE at once.
bool PathPrologue(DeviceInstance& instance, const char* entry, PATHOBJ* path, CLIPOBJ* clip,
                  RECTL* bounds) {
    if (JobFailed(instance)) return false;
    InstanceLog(instance, kLogLevelOrdinary, "%s()\n", entry);
    if (path == nullptr) return false;
    *bounds = PathBounds(path);
    return BandRangeCheck(&instance, *bounds, clip);
}

void TrackBrush(DeviceInstance* instance, const BRUSHOBJ* brush) {
    if (brush != nullptr) TrackBandColor(instance, nullptr, brush, nullptr, kRop4PatternCopy);
}

BOOL LogResult(const DeviceInstance& instance, BOOL result) {
    InstanceLog(instance, kLogLevelOrdinary, "return %d\n", result);
    return result;
}

}  // namespace

BOOL DrvStrokePath(SURFOBJ* surface, PATHOBJ* path, CLIPOBJ* clip, XFORMOBJ* xform, BRUSHOBJ* brush,
                   POINTL* brushOrigin, LINEATTRS* line, MIX mix) {
    DeviceInstance* instance = SurfaceInstance(surface);
    if (instance == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    RECTL bounds{};
    if (!PathPrologue(*instance, "DrvStrokePath", path, clip, &bounds)) return TRUE;
    TrackBrush(instance, brush);
    if (!OwnRendering(*instance))
        return LogResult(*instance,
                         EngStrokePath(surface, path, clip, xform, brush, brushOrigin, line, mix));
    return RenderPath(instance, surface,
                      {.operation = PathOperation::Stroke,
                       .path = path,
                       .clip = clip,
                       .strokeBrush = brush,
                       .line = line,
                       .brushOrigin = brushOrigin,
                       .mix = mix,
                       .bounds = bounds});
}

BOOL DrvFillPath(SURFOBJ* surface, PATHOBJ* path, CLIPOBJ* clip, BRUSHOBJ* brush,
                 POINTL* brushOrigin, MIX mix, FLONG options) {
    DeviceInstance* instance = SurfaceInstance(surface);
    if (instance == nullptr) return FALSE;
    RECTL bounds{};
    if (!PathPrologue(*instance, "DrvFillPath", path, clip, &bounds)) return TRUE;
    TrackBrush(instance, brush);
    if (!OwnRendering(*instance))
        return LogResult(*instance,
                         EngFillPath(surface, path, clip, brush, brushOrigin, mix, options));
    return RenderPath(instance, surface,
                      {.operation = PathOperation::Fill,
                       .path = path,
                       .clip = clip,
                       .fillBrush = brush,
                       .brushOrigin = brushOrigin,
                       .mix = mix,
                       .options = options,
                       .bounds = bounds});
}

BOOL DrvStrokeAndFillPath(SURFOBJ* surface, PATHOBJ* path, CLIPOBJ* clip, XFORMOBJ* xform,
                          BRUSHOBJ* strokeBrush, LINEATTRS* line, BRUSHOBJ* fillBrush,
                          POINTL* brushOrigin, MIX fillMix, FLONG options) {
    DeviceInstance* instance = SurfaceInstance(surface);
    if (instance == nullptr) return FALSE;
    RECTL bounds{};
    if (!PathPrologue(*instance, "DrvStrokeAndFillPath", path, clip, &bounds)) return TRUE;
    TrackBrush(instance, fillBrush);
    TrackBrush(instance, strokeBrush);
    if (!OwnRendering(*instance))
        return LogResult(*instance,
                         EngStrokeAndFillPath(surface, path, clip, xform, strokeBrush, line,
                                              fillBrush, brushOrigin, fillMix, options));
    return RenderPath(instance, surface,
                      {.operation = PathOperation::StrokeAndFill,
                       .path = path,
                       .clip = clip,
                       .strokeBrush = strokeBrush,
                       .line = line,
                       .fillBrush = fillBrush,
                       .brushOrigin = brushOrigin,
                       .mix = fillMix,
                       .options = options,
                       .bounds = bounds});
}

namespace {

// Patterns bigger than these are refused rather than realized.
constexpr unsigned long long kLargestBrushBlock = 0x10000000;
constexpr LONG kLargestPatternSide = 0x10000;
constexpr unsigned long long kSmallestPatternBits = 192;

// Whether every row of the pattern surface lies inside its bits (when the
// surface says how many it has).
bool PatternReadable(const SURFOBJ& pattern, int depth) {
    if (depth == 0 || pattern.pvScan0 == nullptr || pattern.sizlBitmap.cx <= 0 ||
        pattern.sizlBitmap.cy <= 0 || pattern.sizlBitmap.cx > kLargestPatternSide ||
        pattern.sizlBitmap.cy > kLargestPatternSide)
        return false;
    const unsigned long long rowBytes =
        (static_cast<unsigned long long>(pattern.sizlBitmap.cx) * depth + 7) / 8;
    const unsigned long long delta = static_cast<unsigned long long>(std::llabs(pattern.lDelta));
    if (delta < rowBytes) return false;
    return pattern.cjBits == 0 ||
           delta * static_cast<unsigned long long>(pattern.sizlBitmap.cy) <= pattern.cjBits;
}

// The raw value of pixel x of a pattern row.
ULONG ReadPixel(const BYTE* row, LONG x, int depth) {
    switch (depth) {
        case 1:
            return (row[x >> 3] >> (7 - (x & 7))) & 1;
        case 4:
            return (x & 1) != 0 ? row[x >> 1] & 0x0F : row[x >> 1] >> 4;
        case 8:
            return row[x];
        case 16:
            return row[2 * x] | (row[2 * x + 1] << 8);
        case 24: {
            const BYTE* p = row + 3 * static_cast<std::size_t>(x);
            return p[0] | (p[1] << 8) | (p[2] << 16);
        }
        default: {
            const BYTE* p = row + 4 * static_cast<std::size_t>(x);
            return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<ULONG>(p[3]) << 24);
        }
    }
}

// On a 1-bit band a pattern is stored as bits, one per pixel (1 white, by
// the band's rule that anything but white is black), and widened by
// repetition to a whole number of bytes (at least 8 pixels) so that every
// fill reads it a byte at a time and it still repeats exactly.
LONG StoredWidth(LONG width, int bandDepth) {
    if (bandDepth != 1 || width % 8 == 0) return width;
    return std::lcm(width, 8);
}

void StorePixel(BYTE* row, LONG x, ULONG colour, int bandDepth) {
    const BYTE red = static_cast<BYTE>(colour);
    const BYTE green = static_cast<BYTE>(colour >> 8);
    const BYTE blue = static_cast<BYTE>(colour >> 16);
    if (bandDepth == 1) {
        if (MonoWhite(red, green, blue)) row[x >> 3] |= static_cast<BYTE>(0x80 >> (x & 7));
    } else if (bandDepth == 8) {
        row[x] = GreyOf(red, green, blue);
    } else {
        BYTE* p = row + 3 * static_cast<std::size_t>(x);
        p[0] = red;
        p[1] = green;
        p[2] = blue;
    }
}

// The brush block: the record as this build lays it out, then the bits.
RealBrush* AllocateBrush(BRUSHOBJ* brush, LONG stride, LONG height) {
    const unsigned long long bits = static_cast<unsigned long long>(stride) * height;
    const unsigned long long bytes = sizeof(RealBrush) + std::max(bits, kSmallestPatternBits);
    if (bytes > kLargestBrushBlock) return nullptr;
    void* block = BRUSHOBJ_pvAllocRbrush(brush, static_cast<ULONG>(bytes));
    if (block == nullptr) return nullptr;
    std::memset(block, 0, static_cast<std::size_t>(bytes));
    return static_cast<RealBrush*>(block);
}

RealBrush* RealizePattern(BRUSHOBJ* brush, const SURFOBJ& pattern, XLATEOBJ* xlate, ULONG hatch,
                          int bandDepth) {
    const int depth = static_cast<int>(BitsPerPixel(pattern.iBitmapFormat));
    if (!PatternReadable(pattern, depth)) return nullptr;
    const LONG width = pattern.sizlBitmap.cx;
    const LONG height = pattern.sizlBitmap.cy;
    const long long stored = StoredWidth(width, bandDepth);
    const long long stride = ((bandDepth * stored + 31) / 32) * 4;
    if (stride > static_cast<long long>(kLargestBrushBlock)) return nullptr;
    RealBrush* real = AllocateBrush(brush, static_cast<LONG>(stride), height);
    if (real == nullptr) return nullptr;
    *real = {kPatternBrush,
             hatch,
             0,
             0,
             static_cast<LONG>(stored),
             height,
             static_cast<LONG>(stride),
             static_cast<ULONG>(bandDepth),
             RealBrushBits(real)};
    // Indexed patterns translate each table entry once.
    ULONG table[256];
    if (depth <= 8)
        for (ULONG i = 0; i < (1u << depth); ++i) table[i] = XLATEOBJ_iXlate(xlate, i);
    const auto* scan0 = static_cast<const BYTE*>(pattern.pvScan0);
    for (LONG y = 0; y < height; ++y) {
        const BYTE* in = scan0 + static_cast<std::ptrdiff_t>(y) * pattern.lDelta;
        BYTE* out = RealBrushBits(real) + static_cast<std::size_t>(y) * stride;
        for (LONG x = 0; x < stored; ++x) {
            const ULONG value = ReadPixel(in, x % width, depth);
            const ULONG colour = depth <= 8 ? table[value] : XLATEOBJ_iXlate(xlate, value);
            StorePixel(out, x, colour & 0xFFFFFF, bandDepth);
        }
    }
    return real;
}

RealBrush* RealizeSolid(BRUSHOBJ* brush, int bandDepth) {
    ScratchBrush scratch;
    const RealBrush* solid = RealizeSolidBrush(&scratch, brush->iSolidColor, bandDepth);
    RealBrush* real = AllocateBrush(brush, solid->patStride, solid->patHeight);
    if (real == nullptr) return nullptr;
    *real = *solid;
    std::memcpy(RealBrushBits(real), scratch.bits, sizeof scratch.bits);
    real->alignedPattern = RealBrushBits(real);
    return real;
}

}  // namespace

BOOL DrvRealizeBrush(BRUSHOBJ* brush, SURFOBJ* target, SURFOBJ* pattern, SURFOBJ*, XLATEOBJ* xlate,
                     ULONG hatch) {
    DeviceInstance* instance = SurfaceInstance(target);
    if (instance == nullptr || brush == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (!OwnRendering(*instance)) return FALSE;
    const int bandDepth = instance->geometry.bitsPerPixel;
    if (bandDepth != 1 && bandDepth != 8 && bandDepth != 24) return FALSE;
    RealBrush* real = nullptr;
    if (brush->iSolidColor != kPatternBrush)
        real = RealizeSolid(brush, bandDepth);
    else if (pattern != nullptr)
        real = RealizePattern(brush, *pattern, xlate, hatch, bandDepth);
    if (real == nullptr) return FALSE;
    brush->pvRbrush = real;
    return TRUE;
}
