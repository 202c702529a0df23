// The bit-block transfer entries: validation, the band range check and the
// band's colour flag, then either the platform engine or the driver's own
// engine draws.

#include "driver/bitblt_entries.h"

#include <algorithm>
#include <cstdlib>

#include "driver/band_layout.h"
#include "driver/band_range.h"
#include "driver/device_instance.h"
#include "driver/driver_entry.h"
#include "driver/instance_log.h"
#include "host/engine.h"
#include "platform/last_error.h"
#include "render/bitmap_blt.h"
#include "render/brush_fill.h"
#include "render/clip_enum.h"
#include "render/raster_ops.h"

namespace {

constexpr ROP4 kRop4SourceCopy = 0xCCCC;
constexpr ROP4 kRop4MaskedSourceCopy = 0xCCAA;
constexpr ROP4 kRop4NoOperation = 0xAAAA;
// Uses the source and is not a plain copy, so that the engine converts a
// source row for the blend.
constexpr ROP4 kRop4AlphaBlend = 0xCACA;

constexpr ULONG kQueryJpeg = 0;
constexpr ULONG kQueryPng = 1;

RECTL Normalised(const RECTL& r) {
    return {std::min(r.left, r.right), std::min(r.top, r.bottom), std::max(r.left, r.right),
            std::max(r.top, r.bottom)};
}

// The union of every rectangle of a complex clip, fetched one at a time.
RECTL ComplexClipBounds(CLIPOBJ* clip) {
    RECTL bounds{};
    CLIPOBJ_cEnumStart(clip, TRUE, CT_RECTANGLES, CD_ANY, 0);
    bool more = true;
    while (more) {
        ENUMRECTS one{};
        more = CLIPOBJ_bEnum(clip, sizeof one, reinterpret_cast<ULONG*>(&one)) != FALSE;
        if (one.c >= 1) bounds = UnionRect(bounds, Normalised(one.arcl[0]));
    }
    return bounds;
}

// A source rectangle at `point` of the target rectangle's size.
// Sizes and corners beyond 32 bits are cut to the largest value.
RECTL SourceRectAt(const POINTL& point, const RECTL& target) {
    const auto extent = [](LONG from, LONG to) {
        return std::llabs(static_cast<long long>(to) - from);
    };
    const auto corner = [](LONG at, long long extent) {
        return static_cast<LONG>(std::min<long long>(at + extent, 0x7FFFFFFF));
    };
    return {point.x, point.y, corner(point.x, extent(target.left, target.right)),
            corner(point.y, extent(target.top, target.bottom))};
}

// What the common prologue found out.
struct Prologue {
    DeviceInstance* instance = nullptr;
    BltDecision decision = BltDecision::Invalid;
};

// Step 1 of the common prologue. True when the entry goes on; else `*result`
// is what the entry returns.
bool ValidateCall(SURFOBJ* target, SURFOBJ* source, Prologue* prologue, BOOL* result) {
    prologue->decision = DecideBlt(target, source);
    if (prologue->decision == BltDecision::Invalid) {
        SetLastError(ERROR_INVALID_PARAMETER);
        *result = FALSE;
        return false;
    }
    if (prologue->decision == BltDecision::Refused) {
        *result = FALSE;
        return false;
    }
    prologue->instance = SurfaceInstance(target);
    return true;
}

bool JobFailed(const DeviceInstance& instance) {
    return (instance.state & kStateJobFailed) != 0;
}

// Steps 4 and 5 of the prologue: the band range check and the colour flag.
bool InBand(Prologue& prologue, RECTL* targetRect, CLIPOBJ* clip) {
    return targetRect != nullptr && BandRangeCheck(prologue.instance, *targetRect, clip);
}

BOOL LogResult(const DeviceInstance& instance, BOOL result) {
    InstanceLog(instance, kLogLevelOrdinary, "return %d\n", result);
    return result;
}

}  // namespace

BltDecision DecideBlt(const SURFOBJ* target, const SURFOBJ* source) {
    if (target == nullptr) return BltDecision::Invalid;
    const DeviceInstance* instance = SurfaceInstance(target);
    if (instance == nullptr) return BltDecision::Invalid;
    if (source != nullptr && source->iType == STYPE_DEVICE) return BltDecision::Invalid;
    if (target->iType != STYPE_BITMAP) return BltDecision::Refused;
    if ((instance->geometry.renderFlags & kOwnRendering) == 0) return BltDecision::PlatformEngine;
    if (source != nullptr && (source->iBitmapFormat < BMF_1BPP || source->iBitmapFormat > BMF_8RLE))
        return BltDecision::PlatformEngine;
    return BltDecision::DriverEngine;
}

COLORADJUSTMENT DefaultColourAdjustment() {
    COLORADJUSTMENT ca{};
    ca.caSize = sizeof(COLORADJUSTMENT);
    ca.caRedGamma = 10000;
    ca.caGreenGamma = 10000;
    ca.caBlueGamma = 10000;
    ca.caReferenceWhite = 10000;
    return ca;
}

bool BandRangeCheck(DeviceInstance* instance, const RECTL& object, CLIPOBJ* clip) {
    RECTL rect = Normalised(object);
    if (clip != nullptr && clip->iDComplexity == DC_RECT) {
        rect = IntersectRect(rect, clip->rclBounds);
    } else if (clip != nullptr && clip->iDComplexity == DC_COMPLEX) {
        rect = IntersectRect(rect, ComplexClipBounds(clip));
    }
    rect = IntersectRect(rect, instance->bandClip);
    instance->bandBounds = UnionRect(instance->bandBounds, rect);
    const RECTL& drawn = instance->bandBounds;
    InstanceLog(*instance, kLogLevelDetail, " BoundingRect Obj[%d,%d,%d,%d] Page[%d,%d,%d,%d]\n",
                object.left, object.top, object.right, object.bottom, drawn.left, drawn.top,
                drawn.right, drawn.bottom);
    return !RectIsEmpty(rect);
}

BOOL DrvBitBlt(SURFOBJ* target, SURFOBJ* source, SURFOBJ* mask, CLIPOBJ* clip, XLATEOBJ* xlate,
               RECTL* targetRect, POINTL* sourcePoint, POINTL* maskPoint, BRUSHOBJ* brush,
               POINTL* brushOrigin, ROP4 rop4) {
    Prologue prologue;
    BOOL result = FALSE;
    if (!ValidateCall(target, source, &prologue, &result)) return result;
    DeviceInstance& instance = *prologue.instance;
    InstanceLog(instance, kLogLevelOrdinary, "Enter DrvBitBlt() rop4:0x%x\n", rop4);
    if (JobFailed(instance)) return TRUE;
    if (!InBand(prologue, targetRect, clip)) {
        InstanceLog(instance, kLogLevelOrdinary, " Image is out of range. return TRUE.\n");
        return TRUE;
    }
    TrackBandColor(&instance, source, brush, xlate, rop4);

    if (prologue.decision == BltDecision::PlatformEngine) {
        // A plain copy is first drawn halftoned. The halftoned stretch is the
        // picture: the plain transfer, which would draw the same pixels again
        // without halftoning, follows only when the stretch failed.
        if ((rop4 == kRop4MaskedSourceCopy || rop4 == kRop4SourceCopy) && sourcePoint != nullptr) {
            COLORADJUSTMENT adjust = DefaultColourAdjustment();
            POINTL halftoneOrigin{0, 0};
            RECTL sourceRect = SourceRectAt(*sourcePoint, *targetRect);
            if (EngStretchBlt(target, source, mask, clip, xlate, &adjust, &halftoneOrigin,
                              targetRect, &sourceRect, maskPoint, HALFTONE))
                return LogResult(instance, TRUE);
        }
        return LogResult(instance, EngBitBlt(target, source, mask, clip, xlate, targetRect,
                                             sourcePoint, maskPoint, brush, brushOrigin, rop4));
    }
    RECTL sourceRect{};
    if (source != nullptr) {
        if (sourcePoint == nullptr) return FALSE;
        sourceRect = SourceRectAt(*sourcePoint, *targetRect);
    }
    return DrvCommonBitBlt(kTransferBitBlt, target, source, mask, clip, xlate, targetRect,
                           source != nullptr ? &sourceRect : nullptr, maskPoint, brush, brushOrigin,
                           rop4, nullptr, 0, nullptr);
}

BOOL DrvStretchBlt(SURFOBJ* target, SURFOBJ* source, SURFOBJ* mask, CLIPOBJ* clip, XLATEOBJ* xlate,
                   COLORADJUSTMENT* colourAdjust, POINTL* halftoneOrigin, RECTL* targetRect,
                   RECTL* sourceRect, POINTL* maskPoint, ULONG mode) {
    Prologue prologue;
    BOOL result = FALSE;
    if (!ValidateCall(target, source, &prologue, &result)) return result;
    DeviceInstance& instance = *prologue.instance;
    if (JobFailed(instance)) return TRUE;
    InstanceLog(instance, kLogLevelOrdinary, "Enter DrvStretchBlt()\n");
    if (!InBand(prologue, targetRect, clip)) return TRUE;
    TrackBandColor(&instance, source, nullptr, xlate, kRop4SourceCopy);

    COLORADJUSTMENT defaultAdjust = DefaultColourAdjustment();
    if (colourAdjust == nullptr) colourAdjust = &defaultAdjust;
    if (prologue.decision == BltDecision::PlatformEngine) {
        const ULONG engineMode = instance.geometry.bitsPerPixel == 1 ? HALFTONE : COLORONCOLOR;
        return LogResult(
            instance, EngStretchBlt(target, source, mask, clip, xlate, colourAdjust, halftoneOrigin,
                                    targetRect, sourceRect, maskPoint, engineMode));
    }
    const ROP4 rop4 = mask != nullptr ? kRop4NoOperation : kRop4SourceCopy;
    return DrvCommonBitBlt(kTransferStretch, target, source, mask, clip, xlate, targetRect,
                           sourceRect, maskPoint, nullptr, nullptr, rop4, colourAdjust, mode,
                           nullptr);
}

BOOL DrvCopyBits(SURFOBJ* target, SURFOBJ* source, CLIPOBJ* clip, XLATEOBJ* xlate,
                 RECTL* targetRect, POINTL* sourcePoint) {
    Prologue prologue;
    BOOL result = FALSE;
    if (!ValidateCall(target, source, &prologue, &result)) return result;
    DeviceInstance& instance = *prologue.instance;
    if (JobFailed(instance)) return TRUE;
    InstanceLog(instance, kLogLevelOrdinary, "Enter DrvCopyBits()\n");
    if (!InBand(prologue, targetRect, clip)) return TRUE;
    TrackBandColor(&instance, source, nullptr, xlate, kRop4SourceCopy);

    if (prologue.decision == BltDecision::PlatformEngine)
        return LogResult(instance,
                         EngCopyBits(target, source, clip, xlate, targetRect, sourcePoint));
    if (source == nullptr || sourcePoint == nullptr) return FALSE;
    RECTL sourceRect = SourceRectAt(*sourcePoint, *targetRect);
    return DrvCommonBitBlt(kTransferCopy, target, source, nullptr, clip, xlate, targetRect,
                           &sourceRect, nullptr, nullptr, nullptr, kRop4SourceCopy, nullptr, 0,
                           nullptr);
}

BOOL DrvAlphaBlend(SURFOBJ* target, SURFOBJ* source, CLIPOBJ* clip, XLATEOBJ* xlate,
                   RECTL* targetRect, RECTL* sourceRect, BLENDOBJ* blend) {
    Prologue prologue;
    BOOL result = FALSE;
    if (!ValidateCall(target, source, &prologue, &result)) return result;
    DeviceInstance& instance = *prologue.instance;
    if (JobFailed(instance)) return TRUE;
    InstanceLog(instance, kLogLevelOrdinary, "Enter DrvAlphaBlend()\n");
    if (!InBand(prologue, targetRect, clip)) return TRUE;
    TrackBandColor(&instance, source, nullptr, xlate, kRop4SourceCopy);

    if (prologue.decision == BltDecision::PlatformEngine)
        return LogResult(instance,
                         EngAlphaBlend(target, source, clip, xlate, targetRect, sourceRect, blend));
    if (blend == nullptr || source == nullptr) return FALSE;
    BLENDFUNCTION function = blend->BlendFunction;
    if (function.BlendOp != AC_SRC_OVER) return FALSE;
    if (function.AlphaFormat == AC_SRC_ALPHA && source->iBitmapFormat != BMF_32BPP) return FALSE;
    return DrvCommonBitBlt(kTransferAlphaBlend, target, source, nullptr, clip, xlate, targetRect,
                           sourceRect, nullptr, nullptr, nullptr, kRop4AlphaBlend, nullptr, 0,
                           &function);
}

BOOL DrvQueryDeviceSupport(SURFOBJ* surface, XLATEOBJ*, XFORMOBJ*, ULONG type, ULONG, PVOID, ULONG,
                           PVOID) {
    if (SurfaceInstance(surface) != nullptr && type != kQueryJpeg && type != kQueryPng)
        SetLastError(ERROR_NOT_SUPPORTED);
    return FALSE;
}

namespace {

// Converts the source and its colour table and marks its reading flags.
bool PrepareSource(ULONG type, SURFOBJ* source, XLATEOBJ* xlate, BmpInfo* info,
                   ColourTable* table) {
    if (!ConvertSurfObjToBmpInfo(info, source)) return false;
    const bool tableMade = type == kTransferInkImage ? SetupInkColorTable(info, table)
                                                     : SetupColorTable(info, table, source, xlate);
    if (!tableMade) return false;
    if ((source->fjBitmap & BMF_TOPDOWN) == 0) info->flags |= kBmpBottomUp;
    if (type == kTransferAlphaBlend) info->flags |= kBmpAlphaBlend;
    return true;
}

// Normalises the target rectangle, marking the mirroring it asked for.
RECTL NormaliseTarget(const RECTL& rect, BmpInfo* source) {
    if (rect.left > rect.right) source->flags |= kBmpMirrorX;
    if (rect.top > rect.bottom) source->flags |= kBmpMirrorY;
    return Normalised(rect);
}

}  // namespace

BOOL DrvCommonBitBlt(ULONG type, SURFOBJ* target, SURFOBJ* source, SURFOBJ*, CLIPOBJ* clip,
                     XLATEOBJ* xlate, RECTL* targetRect, RECTL* sourceRect, POINTL*,
                     BRUSHOBJ* brush, POINTL* brushOrigin, ROP4 rop4, COLORADJUSTMENT*, ULONG,
                     BLENDFUNCTION* blend) {
    DeviceInstance* instance = SurfaceInstance(target);
    if (instance == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (JobFailed(*instance) || targetRect == nullptr) return FALSE;
    const BYTE rop3 = static_cast<BYTE>(rop4);
    if (!Rop3UsesSource(rop3))
        return BrushBlt(instance, target, *targetRect, brush, brushOrigin, clip, rop3) ? TRUE
                                                                                       : FALSE;
    if (source == nullptr || sourceRect == nullptr) return FALSE;

    ScratchBrush scratch;
    RealBrush* realBrush =
        brush != nullptr ? GetRealBrush(*instance, &scratch, brush, brushOrigin) : nullptr;
    BmpInfo sourceInfo{};
    ColourTable table;
    BmpInfo band{};
    if (!PrepareSource(type, source, xlate, &sourceInfo, &table) ||
        !ConvertSurfObjToBmpInfo(&band, target))
        return LogResult(*instance, FALSE);
    const RECTL destination = NormaliseTarget(*targetRect, &sourceInfo);

    BOOL result = TRUE;
    ClipEnumerator walk;
    ClipEnumStart(&walk, clip, destination);
    RECTL piece;
    while (ClipEnumNext(&walk, &piece)) {
        const RECTL inBand = IntersectRect(piece, instance->bandClip);
        if (RectIsEmpty(inBand)) continue;
        if (GR_BitmapBlt(band, sourceInfo, destination, *sourceRect, &table, realBrush, rop3,
                         inBand, xlate, blend) < 0) {
            result = FALSE;
            break;
        }
    }
    ClipEnumEnd(&walk);
    return LogResult(*instance, result);
}
