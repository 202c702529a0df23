// The driver's own path renderer.

#include "render/path_render.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>

#include "driver/device_instance.h"
#include "driver/instance_log.h"
#include "host/engine.h"
#include "platform/heap.h"
#include "platform/rect.h"
#include "render/bitmap_blt.h"
#include "render/brush_fill.h"
#include "render/clip_enum.h"
#include "render/raster_ops.h"

namespace {

// Points moved by an offset are kept within ±2^29 pixels, so that any
// difference of two fits in 32 bits.
constexpr long long kPixelLimit = 1LL << 29;

POINTL ToPixel(const POINTFIX& point, const POINTL* offset) {
    long long x = FixToPixel(point.x);
    long long y = FixToPixel(point.y);
    if (offset != nullptr) {
        x += offset->x;
        y += offset->y;
    }
    return {static_cast<LONG>(std::clamp(x, -kPixelLimit, kPixelLimit)),
            static_cast<LONG>(std::clamp(y, -kPixelLimit, kPixelLimit))};
}

// Calls visit(from, to) for every segment of the path in pixels, a closed
// figure's closing segment included. Returns the number of points.
template <class Visit>
std::size_t ForEachSegment(PATHOBJ* path, const POINTL* offset, Visit visit) {
    std::size_t points = 0;
    bool open = false;
    POINTL first{};
    POINTL last{};
    PATHOBJ_vEnumStart(path);
    for (bool more = true; more;) {
        PATHDATA data{};
        more = PATHOBJ_bEnum(path, &data) != FALSE;
        const ULONG count = data.pptfx != nullptr ? data.count : 0;
        if ((data.flags & PD_BEGINSUBPATH) != 0) open = false;
        for (ULONG i = 0; i < count; ++i) {
            const POINTL p = ToPixel(data.pptfx[i], offset);
            if (open)
                visit(last, p);
            else
                first = p;
            open = true;
            last = p;
        }
        points += count;
        if ((data.flags & PD_ENDSUBPATH) != 0) {
            if ((data.flags & PD_CLOSEFIGURE) != 0 && open) visit(last, first);
            open = false;
        }
    }
    return points;
}

BYTE* RowOf(const BmpInfo& band, LONG y) {
    return band.bits + static_cast<std::size_t>(y) * static_cast<std::size_t>(band.stride);
}

// ---- pens and one-pixel lines ----

struct Pen {
    int depth;
    BYTE pixel[3];  // grey, or red, green, blue; on a 1-bit band 0xFF or 0x00
    int code;       // foreground ROP2
};

// A cosmetic pen of the brush's solid colour. Lines that are geometric
// (LA_GEOMETRIC, 0x1) or start with a gap (LA_STARTGAP, 0x4) are refused;
// those two bits are the ones tested, so alternate (LA_ALTERNATE) and styled
// (LA_STYLED) cosmetic lines are drawn solid. On a 1-bit band the pen is
// black or white by the band's rule, anything but white being black.
bool MakePen(const BRUSHOBJ* brush, const LINEATTRS* line, int depth, MIX mix, Pen* pen) {
    if (line != nullptr && (line->fl & (LA_GEOMETRIC | LA_STARTGAP)) != 0) return false;
    if (brush == nullptr || brush->iSolidColor == kPatternBrush) return false;
    if (depth != 1 && depth != 8 && depth != 24) return false;
    const ULONG colour = brush->iSolidColor;
    const BYTE red = static_cast<BYTE>(colour);
    const BYTE green = static_cast<BYTE>(colour >> 8);
    const BYTE blue = static_cast<BYTE>(colour >> 16);
    *pen = {depth, {red, green, blue}, MixForeground(mix)};
    if (depth == 8) pen->pixel[0] = GreyOf(red, green, blue);
    if (depth == 1) pen->pixel[0] = MonoWhite(red, green, blue) ? 0xFF : 0x00;
    return true;
}

bool PenDraws(const Pen& pen) {
    return pen.code >= 1 && pen.code <= 16;
}

void PenPixel(const BmpInfo& band, const Pen& pen, LONG x, LONG y) {
    BYTE* row = RowOf(band, y);
    if (pen.depth == 1) {
        const BYTE bit = static_cast<BYTE>(0x80 >> (x & 7));
        BYTE& byte = row[x >> 3];
        const int d = (byte & bit) != 0 ? 1 : 0;
        byte = Rop2Bit(pen.code, pen.pixel[0] & 1, d) != 0 ? static_cast<BYTE>(byte | bit)
                                                           : static_cast<BYTE>(byte & ~bit);
        return;
    }
    const int bpp = pen.depth / 8;
    Rop2PixelTable[pen.code - 1](row + static_cast<std::size_t>(x) * bpp, pen.pixel, bpp);
}

void PenSpan(const BmpInfo& band, const Pen& pen, LONG y, LONG x0, LONG x1) {
    if (pen.depth == 1)
        Rop2SpanMono(RowOf(band, y), x0, x1, pen.pixel, 8, false, pen.code);
    else
        Rop2Span(RowOf(band, y), x0, x1, pen.pixel, 1, pen.depth / 8, false, pen.code);
}

// A segment without its end point, pixels outside `clip` left out. The
// Bresenham walk starts at the first step whose major coordinate lies inside
// the clip rectangle (its error worked out in one go), so that a segment
// reaching far beyond the band costs no more than its part inside.
void DrawSegment(const BmpInfo& band, const Pen& pen, const RECTL& clip, POINTL a, POINTL b) {
    if (std::max(a.x, b.x) < clip.left || std::min(a.x, b.x) >= clip.right ||
        std::max(a.y, b.y) < clip.top || std::min(a.y, b.y) >= clip.bottom)
        return;
    if (a.y == b.y) {
        const LONG x0 = std::max(std::min(a.x, b.x), clip.left);
        const LONG x1 = std::min(std::max(a.x, b.x), clip.right);
        if (x0 < x1) PenSpan(band, pen, a.y, x0, x1);
        return;
    }
    const long long dx = static_cast<long long>(b.x) - a.x;
    const long long dy = static_cast<long long>(b.y) - a.y;
    const bool xMajor = std::llabs(dx) >= std::llabs(dy);
    const long long n = xMajor ? std::llabs(dx) : std::llabs(dy);
    const long long minor = xMajor ? std::llabs(dy) : std::llabs(dx);
    const long long majorFrom = xMajor ? a.x : a.y;
    const long long majorStep = (xMajor ? dx : dy) < 0 ? -1 : 1;
    const long long minorStep = (xMajor ? dy : dx) < 0 ? -1 : 1;
    const long long low = xMajor ? clip.left : clip.top;
    const long long high = xMajor ? clip.right : clip.bottom;
    long long first = majorStep > 0 ? low - majorFrom : majorFrom - (high - 1);
    long long last = majorStep > 0 ? high - majorFrom : majorFrom - low + 1;
    first = std::max(first, 0LL);
    last = std::min(last, n);
    long long error = n / 2 - first * minor;
    long long minorSteps = 0;
    if (error < 0) {
        minorSteps = (-error + n - 1) / n;
        error += minorSteps * n;
    }
    long long major = majorFrom + first * majorStep;
    long long other = (xMajor ? a.y : a.x) + minorSteps * minorStep;
    const long long otherLow = xMajor ? clip.top : clip.left;
    const long long otherHigh = xMajor ? clip.bottom : clip.right;
    for (long long i = first; i < last; ++i) {
        if (other >= otherLow && other < otherHigh) {
            const LONG x = static_cast<LONG>(xMajor ? major : other);
            const LONG y = static_cast<LONG>(xMajor ? other : major);
            PenPixel(band, pen, x, y);
        }
        major += majorStep;
        error -= minor;
        if (error < 0) {
            other += minorStep;
            error += n;
        }
    }
}

// ---- the scan-line filler ----

struct Edge {
    LONG x;
    LONG firstRow;
    LONG lastRow;  // exclusive
    LONG step;     // dx / dy, truncated
    LONG increment;
    LONG error;
    LONG dy;
    signed char direction;  // +1 downwards in path order, -1 upwards
    signed char xSign;
};
static_assert(sizeof(Edge) == 32);

struct Span {
    LONG left;
    LONG right;
};

// Memory of one call on the instance's private heap.
template <class T>
class HeapArray {
  public:
    // Nothing is taken for no elements.
    HeapArray(HANDLE heap, std::size_t count)
        : heap_(heap),
          data_(count == 0 ? nullptr : static_cast<T*>(HeapAlloc(heap, 0, count * sizeof(T)))) {}
    ~HeapArray() {
        if (data_ != nullptr) HeapFree(heap_, 0, data_);
    }
    HeapArray(const HeapArray&) = delete;
    HeapArray& operator=(const HeapArray&) = delete;
    T* get() const { return data_; }

  private:
    HANDLE heap_;
    T* data_;
};

// Makes the edge from a to b inside the work rectangle's rows; false for
// horizontal edges and those wholly above or below it.
bool MakeEdge(POINTL a, POINTL b, const RECTL& work, Edge* edge) {
    if (a.y == b.y) return false;
    signed char direction = 1;
    if (a.y > b.y) {
        std::swap(a, b);
        direction = -1;
    }
    if (b.y <= work.top || a.y >= work.bottom) return false;
    const LONG dy = b.y - a.y;
    const LONG dx = b.x - a.x;
    *edge = {a.x,
             std::max(a.y, work.top),
             std::min(b.y, work.bottom),
             dx / dy,
             std::abs(dx) % dy,
             dy / 2,
             dy,
             direction,
             static_cast<signed char>(dx < 0 ? -1 : 1)};
    // Rows above the work rectangle are stepped over in one go.
    const long long skipped = static_cast<long long>(edge->firstRow) - a.y;
    if (skipped > 0) {
        long long error = edge->error - skipped * edge->increment;
        long long corrections = 0;
        if (error < 0) {
            corrections = (-error + dy - 1) / dy;
            error += corrections * dy;
        }
        edge->x = static_cast<LONG>(a.x + skipped * edge->step + corrections * edge->xSign);
        edge->error = static_cast<LONG>(error);
    }
    return true;
}

void AdvanceEdge(Edge* edge) {
    edge->x += edge->step;
    edge->error -= edge->increment;
    if (edge->error < 0) {
        edge->x += edge->xSign;
        edge->error += edge->dy;
    }
}

class Filler {
  public:
    Filler(Edge* edges, std::size_t count, Edge** active, Span* spans, bool winding)
        : edges_(edges), count_(count), active_(active), spans_(spans), winding_(winding) {
        std::sort(edges_, edges_ + count_,
                  [](const Edge& l, const Edge& r) { return l.firstRow < r.firstRow; });
    }

    // Walks the rows of the work rectangle the edges were made for and fills
    // the spans inside `area` through the brush's span fill.
    void Fill(const BmpInfo& band, const RECTL& work, const RECTL& area, const RealBrush& brush,
              ULONG mix) {
        for (LONG y = work.top; y < area.bottom; ++y) {
            while (next_ < count_ && edges_[next_].firstRow <= y)
                active_[live_++] = &edges_[next_++];
            if (y >= area.top) {
                SortActive();
                const std::size_t spans = SpansOfRow(area.left, area.right);
                for (std::size_t i = 0; i < spans; ++i)
                    FillBrushSpan(band, y, spans_[i].left, spans_[i].right, brush, mix);
            }
            AdvanceRow(y + 1);
        }
    }

  private:
    void SortActive() {
        std::sort(active_, active_ + live_,
                  [](const Edge* l, const Edge* r) { return l->x < r->x; });
    }

    std::size_t SpansOfRow(LONG left, LONG right) {
        std::size_t spans = 0;
        const auto add = [&](LONG from, LONG to) {
            from = std::max(from, left);
            to = std::min(to, right);
            if (from < to) spans_[spans++] = {from, to};
            return from < right;
        };
        if (!winding_) {
            for (std::size_t i = 0; i + 1 < live_; i += 2)
                if (!add(active_[i]->x, active_[i + 1]->x)) break;
            return spans;
        }
        int sum = 0;
        LONG start = 0;
        for (std::size_t i = 0; i < live_; ++i) {
            const int before = sum;
            sum += active_[i]->direction;
            if (before == 0 && sum != 0) start = active_[i]->x;
            if (before != 0 && sum == 0 && !add(start, active_[i]->x)) break;
        }
        return spans;
    }

    void AdvanceRow(LONG nextRow) {
        std::size_t kept = 0;
        for (std::size_t i = 0; i < live_; ++i) {
            if (active_[i]->lastRow <= nextRow) continue;
            AdvanceEdge(active_[i]);
            active_[kept++] = active_[i];
        }
        live_ = kept;
    }

    Edge* edges_;
    std::size_t count_;
    Edge** active_;
    Span* spans_;
    bool winding_;
    std::size_t next_ = 0;
    std::size_t live_ = 0;
};

std::size_t CountPoints(PATHOBJ* path) {
    return ForEachSegment(path, nullptr, [](POINTL, POINTL) {});
}

// ---- the rectangle shortcut ----

// The rectangle of a path that is one closed figure of four points with a
// horizontal first side, then vertical, horizontal, vertical.
bool PathRectangle(PATHOBJ* path, const POINTL* offset, RECTL* rect) {
    PATHOBJ_vEnumStart(path);
    PATHDATA data{};
    const bool more = PATHOBJ_bEnum(path, &data) != FALSE;
    constexpr FLONG kWholeClosedFigure = PD_BEGINSUBPATH | PD_ENDSUBPATH | PD_CLOSEFIGURE;
    if (more || data.count != 4 || data.pptfx == nullptr ||
        (data.flags & kWholeClosedFigure) != kWholeClosedFigure)
        return false;
    const POINTFIX* p = data.pptfx;
    if (p[0].y != p[1].y || p[1].x != p[2].x || p[2].y != p[3].y || p[3].x != p[0].x) return false;
    const POINTL corner = ToPixel(p[1], offset);
    const POINTL opposite = ToPixel({p[0].x, p[2].y}, offset);
    *rect = {std::min(corner.x, opposite.x), std::min(corner.y, opposite.y),
             std::max(corner.x, opposite.x), std::max(corner.y, opposite.y)};
    return true;
}

bool HasStroke(PathOperation operation) {
    return operation == PathOperation::Stroke || operation == PathOperation::StrokeAndFill;
}
bool HasFill(PathOperation operation) {
    return operation != PathOperation::Stroke;
}

}  // namespace

BOOL RenderPath(DeviceInstance* instance, SURFOBJ* bandSurface, const PathRequest& request) {
    const bool stroke = HasStroke(request.operation) && request.strokeBrush != nullptr;
    const bool fill = HasFill(request.operation) && request.fillBrush != nullptr;
    CLIPOBJ* clip = request.clip;
    const bool complexClip = clip != nullptr && clip->iDComplexity == DC_COMPLEX;
    if (complexClip && request.operation != PathOperation::Stroke) return FALSE;
    if (request.path == nullptr) return TRUE;

    RECTL rectangle;
    if (!stroke && fill && PathRectangle(request.path, request.offset, &rectangle))
        return BrushBltMix(instance, bandSurface, rectangle, request.fillBrush, request.brushOrigin,
                           clip, request.mix)
                   ? TRUE
                   : FALSE;

    const int depth = instance->geometry.bitsPerPixel;
    Pen pen{};
    if (stroke && !MakePen(request.strokeBrush, request.line, depth, request.mix, &pen))
        return FALSE;
    ScratchBrush scratch;
    RealBrush* brush = nullptr;
    if (fill) {
        brush = GetRealBrush(*instance, &scratch, request.fillBrush, request.brushOrigin);
        if (brush == nullptr) return FALSE;
    }
    const bool winding = (request.options & FP_WINDINGMODE) != 0;

    BmpInfo band{};
    if (!ConvertSurfObjToBmpInfo(&band, bandSurface) || !BandUsable(band) ||
        static_cast<int>(band.bitsPerPixel) != depth)
        return FALSE;
    if (fill && !BrushFillUsable(band, *brush)) return FALSE;
    RECTL work = IntersectRect(request.bounds, instance->bandClip);
    work = IntersectRect(work, {0, 0, band.width, band.height});
    if (clip != nullptr && clip->iDComplexity == DC_RECT)
        work = IntersectRect(work, clip->rclBounds);
    if (RectIsEmpty(work)) return TRUE;

    // The edge table is sized once from the point count; every edge comes
    // from one point (its start), so it cannot overflow.
    std::size_t edgeCount = 0;
    const std::size_t capacity =
        fill ? std::max<std::size_t>(CountPoints(request.path) + 300, 3000) : 0;
    HeapArray<Edge> edges(instance->heap, capacity);
    HeapArray<Edge*> active(instance->heap, capacity);
    HeapArray<Span> spans(instance->heap, capacity);
    if (fill) {
        if (edges.get() == nullptr || active.get() == nullptr || spans.get() == nullptr)
            return TRUE;
        bool overflow = false;
        ForEachSegment(request.path, request.offset, [&](POINTL a, POINTL b) {
            if (edgeCount == capacity) {
                overflow = true;
                return;
            }
            if (MakeEdge(a, b, work, &edges.get()[edgeCount])) ++edgeCount;
        });
        if (overflow || edgeCount == 0) return TRUE;
    }

    ClipEnumerator walk;
    ClipEnumStart(&walk, clip, work);
    RECTL piece;
    while (ClipEnumNext(&walk, &piece)) {
        const RECTL area = IntersectRect(piece, work);
        if (RectIsEmpty(area)) continue;
        if (fill) {
            Filler filler(edges.get(), edgeCount, active.get(), spans.get(), winding);
            filler.Fill(band, work, area, *brush, request.mix);
        }
        if (stroke && PenDraws(pen))
            ForEachSegment(request.path, request.offset,
                           [&](POINTL a, POINTL b) { DrawSegment(band, pen, area, a, b); });
    }
    ClipEnumEnd(&walk);
    InstanceLog(*instance, kLogLevelOrdinary, "return %d\n", TRUE);
    return TRUE;
}
