// The engine's path rasterizer: a scan-line polygon filler sampling pixel
// centres, a stroker that turns wide pens into polygons, and one-pixel
// lines by Bresenham's walk. For the host library's own use; the services
// themselves are EngFillPath, EngStrokePath and EngStrokeAndFillPath.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "host/engine.h"

namespace host {

// A point in 28.4 fixed point (1/16 pixel), wide enough for what a stroke
// adds to the coordinates of a path.
struct FixPoint {
    std::int64_t x = 0;
    std::int64_t y = 0;
};
using Polygon = std::vector<FixPoint>;

// A figure of a path: its points, and whether it is closed.
struct PathFigure {
    std::vector<POINTFIX> points;
    bool closed = false;
};

// Pixels [left, right) of row y are covered.
using SpanSink = std::function<void(LONG y, LONG left, LONG right)>;

// Fills the polygons (each implicitly closed) by the winding rule or the
// even-odd rule: a pixel is inside when its centre is, a centre lying on a
// left edge or a top edge counting as inside, on a right or bottom edge as
// outside. Only rows and columns of `area` are handed to `sink`, each row's
// spans in order and apart.
void FillPolygons(const std::vector<Polygon>& polygons, bool winding, const RECTL& area,
                  const SpanSink& sink);

// A wide (geometric) pen.
struct WidePen {
    double width = 1;  // pixels
    ULONG join = JOIN_ROUND;
    ULONG cap = ENDCAP_ROUND;
    double miterLimit = 10;
    std::vector<double> dashes;  // pixels, starting with a drawn one; empty: solid
    double dashOffset = 0;       // pixels of the pattern already used at each figure's start
};

// The polygons covering the figures stroked with `pen` (all turning the
// same way, so that their union fills by the winding rule). Parts of the
// dash pattern that lie well outside `area` are skipped, not drawn.
std::vector<Polygon> StrokePolygons(const std::vector<PathFigure>& figures, const WidePen& pen,
                                    const RECTL& area);

// A one-pixel pen: dash lengths in pixels, starting with a drawn one (empty:
// solid), `alternate` lighting every other pixel.
struct ThinPen {
    std::vector<LONG> dashes;
    LONG dashOffset = 0;
    bool alternate = false;
};

// Draws the figures with one-pixel lines: each segment from its first point
// (coordinates divided by 16 by an arithmetic shift, as the driver's own
// renderer does) by Bresenham's walk of max(|dx|, |dy|) steps, its end point
// not drawn. Pixels of `area` only reach `sink`, runs along a row merged.
void DrawThinLines(const std::vector<PathFigure>& figures, const ThinPen& pen, const RECTL& area,
                   const SpanSink& sink);

}  // namespace host
