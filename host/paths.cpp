// The engine's path drawing: EngStrokePath, EngFillPath and
// EngStrokeAndFillPath, aliased, into the band formats, through the clip,
// with the brush and the mix's foreground ROP2 combined as EngBitBlt's brush
// fills are (the background ROP2 is not looked at, as EngBitBlt does not
// look at a mask).
//
// What a call does with input it cannot draw:
// - no surface that can be drawn, no path, no brush, no line attributes for
//   a stroke, or a ROP2 outside 1..16: FALSE, last error 87, nothing drawn;
// - a path without points, or whose points draw nothing (a polygon without
//   area, a line of no length): TRUE, nothing drawn;
// - a geometric width that is not a number or above 2^20 pixels: FALSE
//   (last error 87); widths below one pixel are drawn one pixel wide;
// - the transform is not looked at: paths arrive in device coordinates,
//   and a geometric pen's width and dashes are taken in pixels;
// - dash patterns start afresh at every figure (LA_STARTGAP: with a gap of
//   the first length); elStyleState is not looked at. Dash lengths that
//   are negative count as 0; a pattern of nothing draws solid.

#include <cmath>
#include <new>
#include <vector>

#include "host/drawing.h"
#include "host/engine.h"
#include "host/path_raster.h"
#include "platform/last_error.h"

namespace {

using host::PathFigure;

constexpr double kWidestPen = 1048576.0;  // 2^20 pixels

BOOL Refuse() {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
}

// The figures of a path, through its enumeration.
std::vector<PathFigure> FiguresOf(PATHOBJ* path) {
    std::vector<PathFigure> figures;
    PATHOBJ_vEnumStart(path);
    PATHDATA data{};
    BOOL more = TRUE;
    while (more) {
        data = PATHDATA{};
        more = PATHOBJ_bEnum(path, &data);
        if (data.count == 0 || data.pptfx == nullptr) continue;
        if ((data.flags & PD_BEGINSUBPATH) != 0 || figures.empty()) figures.emplace_back();
        figures.back().points.insert(figures.back().points.end(), data.pptfx,
                                     data.pptfx + data.count);
        if ((data.flags & PD_CLOSEFIGURE) != 0) figures.back().closed = true;
    }
    return figures;
}

bool OpenPainter(host::SpanPainter* painter, SURFOBJ* surface, CLIPOBJ* clip, BRUSHOBJ* brush,
                 POINTL* brushOrigin, MIX mix) {
    BYTE rop3 = 0;
    if (brush == nullptr || !host::Rop3OfRop2(mix & 0xFF, &rop3)) return false;
    return painter->Open(surface, clip, brush, brushOrigin != nullptr ? *brushOrigin : POINTL{0, 0},
                         rop3);
}

host::SpanSink Into(host::SpanPainter* painter) {
    return [painter](LONG y, LONG left, LONG right) { painter->Fill(y, left, right); };
}

void Fill(const std::vector<PathFigure>& figures, host::SpanPainter* painter, FLONG options) {
    std::vector<host::Polygon> polygons;
    for (const PathFigure& figure : figures) {
        host::Polygon polygon;
        polygon.reserve(figure.points.size());
        for (const POINTFIX& p : figure.points) polygon.push_back({p.x, p.y});
        polygons.push_back(std::move(polygon));
    }
    host::FillPolygons(polygons, (options & FP_WINDINGMODE) != 0, painter->bounds(), Into(painter));
}

bool Stroke(const std::vector<PathFigure>& figures, host::SpanPainter* painter,
            const LINEATTRS& line) {
    const bool styled = line.pstyle != nullptr && line.cstyle > 0;
    if ((line.fl & LA_GEOMETRIC) == 0) {
        host::ThinPen pen;
        if (styled) pen.dashes.assign(line.cstyle, 0);
        for (ULONG i = 0; styled && i < line.cstyle; ++i) pen.dashes[i] = line.pstyle[i].l;
        pen.alternate = !styled && (line.fl & LA_ALTERNATE) != 0;
        // A pattern starting with a gap starts one dash in.
        if (styled && (line.fl & LA_STARTGAP) != 0 && !pen.dashes.empty())
            pen.dashOffset = pen.dashes[0];
        host::DrawThinLines(figures, pen, painter->bounds(), Into(painter));
        return true;
    }
    const double width = line.elWidth.e;
    if (!(width <= kWidestPen)) return false;  // also NaN
    host::WidePen pen;
    pen.width = width;
    pen.join = line.iJoin;
    pen.cap = line.iEndCap;
    pen.miterLimit = std::isfinite(line.eMiterLimit) ? line.eMiterLimit : 10;
    for (ULONG i = 0; styled && i < line.cstyle; ++i) pen.dashes.push_back(line.pstyle[i].e);
    if (styled && (line.fl & LA_STARTGAP) != 0) pen.dashOffset = pen.dashes[0];
    host::FillPolygons(host::StrokePolygons(figures, pen, painter->bounds()), true,
                       painter->bounds(), Into(painter));
    return true;
}

}  // namespace

extern "C" {

BOOL EngStrokePath(SURFOBJ* surface, PATHOBJ* path, CLIPOBJ* clip, XFORMOBJ*, BRUSHOBJ* brush,
                   POINTL* brushOrigin, LINEATTRS* line, MIX mix) {
    return EngStrokeAndFillPath(surface, path, clip, nullptr, brush, line, nullptr, brushOrigin,
                                mix, 0);
}

BOOL EngFillPath(SURFOBJ* surface, PATHOBJ* path, CLIPOBJ* clip, BRUSHOBJ* brush,
                 POINTL* brushOrigin, MIX mix, FLONG options) {
    if (path == nullptr) return Refuse();
    host::SpanPainter painter;
    if (!OpenPainter(&painter, surface, clip, brush, brushOrigin, mix)) return Refuse();
    try {
        Fill(FiguresOf(path), &painter, options);
    } catch (const std::bad_alloc&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
    return TRUE;
}

// The fill first, then the stroke over it; either brush may be absent, not
// both. Each draws every pixel it covers once, whatever the mix.
BOOL EngStrokeAndFillPath(SURFOBJ* surface, PATHOBJ* path, CLIPOBJ* clip, XFORMOBJ*,
                          BRUSHOBJ* strokeBrush, LINEATTRS* line, BRUSHOBJ* fillBrush,
                          POINTL* brushOrigin, MIX mix, FLONG options) {
    if (path == nullptr || (strokeBrush == nullptr && fillBrush == nullptr)) return Refuse();
    if (strokeBrush != nullptr && line == nullptr) return Refuse();
    host::SpanPainter stroke, fill;
    if (strokeBrush != nullptr &&
        !OpenPainter(&stroke, surface, clip, strokeBrush, brushOrigin, mix))
        return Refuse();
    if (fillBrush != nullptr && !OpenPainter(&fill, surface, clip, fillBrush, brushOrigin, mix))
        return Refuse();
    if (strokeBrush != nullptr && (line->fl & LA_GEOMETRIC) != 0 &&
        !(line->elWidth.e <= kWidestPen))
        return Refuse();
    try {
        const std::vector<PathFigure> figures = FiguresOf(path);
        if (fillBrush != nullptr) Fill(figures, &fill, options);
        if (strokeBrush != nullptr && !Stroke(figures, &stroke, *line)) return Refuse();
    } catch (const std::bad_alloc&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
    return TRUE;
}
}
