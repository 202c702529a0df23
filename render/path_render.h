// The driver's own path renderer: one-pixel lines and a scan-line polygon
// filler (even-odd and winding) drawn straight into the band, with filled
// axis-aligned rectangles handed to the brush fill.
#pragma once

#include "host/winddi.h"
#include "platform/types.h"

struct DeviceInstance;

enum class PathOperation {
    Stroke = 1,
    Fill = 2,
    StrokeAndFill = 3,
    Glyph = 5,
};

struct PathRequest {
    PathOperation operation = PathOperation::Fill;
    PATHOBJ* path = nullptr;
    CLIPOBJ* clip = nullptr;
    BRUSHOBJ* strokeBrush = nullptr;  // none: nothing is stroked
    LINEATTRS* line = nullptr;
    BRUSHOBJ* fillBrush = nullptr;  // none: nothing is filled
    POINTL* brushOrigin = nullptr;
    MIX mix = 0;
    FLONG options = 0;               // FP_WINDINGMODE selects the winding rule
    RECTL bounds{};                  // the path's bounds in band pixels
    const POINTL* offset = nullptr;  // moves every point when given
};

// A fixed-point (28.4) coordinate in whole pixels. Bounds and edges use this
// one rule: an arithmetic shift by 4, i.e. rounding towards minus infinity,
// so that negative coordinates land on the same pixel everywhere.
constexpr LONG FixToPixel(FIX value) {
    return value >> 4;
}

// Draws the request into the band surface. FALSE when the pen cannot be made
// (geometric or start-gap lines, a brush without a solid colour, a band of
// another depth than 1, 8 or 24), when a fill has no brush or a complex clip;
// TRUE otherwise, also when nothing lies inside the band or the edge table
// cannot be had.
BOOL RenderPath(DeviceInstance* instance, SURFOBJ* band, const PathRequest& request);
