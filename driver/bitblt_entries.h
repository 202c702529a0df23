// The driver's common bit-block transfer and the dispatch decision of its
// transfer entries.
#pragma once

#include "host/winddi.h"
#include "platform/types.h"

struct DeviceInstance;

// Transfer types of DrvCommonBitBlt.
inline constexpr ULONG kTransferCopy = 1;
inline constexpr ULONG kTransferBitBlt = 2;
inline constexpr ULONG kTransferStretch = 3;
inline constexpr ULONG kTransferAlphaBlend = 4;
inline constexpr ULONG kTransferInkImage = 11;

enum class BltDecision {
    Invalid = 0,
    PlatformEngine = 1,
    DriverEngine = 2,
    Refused = 3,
};

// Who draws a transfer from `source` (may be null) into `target`.
BltDecision DecideBlt(const SURFOBJ* target, const SURFOBJ* source);

// Draws a transfer with the driver's engine: a brush fill for codes that
// read no source, otherwise the source through the colour table, once per
// clip rectangle inside the band.
BOOL DrvCommonBitBlt(ULONG type, SURFOBJ* target, SURFOBJ* source, SURFOBJ* mask, CLIPOBJ* clip,
                     XLATEOBJ* xlate, RECTL* targetRect, RECTL* sourceRect, POINTL* maskPoint,
                     BRUSHOBJ* brush, POINTL* brushOrigin, ROP4 rop4, COLORADJUSTMENT* colourAdjust,
                     ULONG mode, BLENDFUNCTION* blend);

// The colour adjustment a stretch gets when the caller gives none.
COLORADJUSTMENT DefaultColourAdjustment();
