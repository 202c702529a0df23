// The engine's own path rasterizer. Paths are drawn by this code rather than
// by a graphics library loaded on demand: it is exact (fills sample pixel
// centres from the 28.4 edges with integer arithmetic, one-pixel lines are
// the driver's own Bresenham walk, so both engines agree pixel for pixel),
// fast, and costs an image-only job nothing at start-up.

#include "host/path_raster.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace host {

namespace {

__extension__ typedef __int128 Wide;

// Coordinates up to this size keep the crossing arithmetic within 64 bits;
// larger ones (strokes near the fixed-point limits) take 128 bits.
constexpr std::int64_t kNarrow = std::int64_t{1} << 30;
// Stroke points are kept within this, far outside any band.
constexpr double kFarAway = 1099511627776.0;  // 2^40

std::int64_t FloorDiv(std::int64_t a, std::int64_t b) {
    const std::int64_t q = a / b;
    return (a % b != 0 && ((a < 0) != (b < 0))) ? q - 1 : q;
}

// The first pixel (row or column) whose centre lies at or after `v`.
std::int64_t FirstCentreFrom(std::int64_t v) {
    return FloorDiv(v - 8 + 15, 16);
}

struct Edge {
    std::int64_t x0, y0, x1, y1;  // y0 < y1
    int direction;                // +1 downwards in path order
    std::int64_t firstRow;
    std::int64_t endRow;
    bool narrow;

    // The first column whose centre lies at or right of the edge on row y.
    std::int64_t Crossing(std::int64_t y) const {
        const std::int64_t dy = y1 - y0, dx = x1 - x0;
        const std::int64_t centre = 16 * y + 8;
        if (narrow) {
            const std::int64_t n = x0 * dy + (centre - y0) * dx - 8 * dy;
            const std::int64_t d = 16 * dy;
            return n / d + ((n % d) > 0 ? 1 : 0);
        }
        const Wide n = Wide{x0} * dy + Wide{centre - y0} * dx - Wide{8} * dy;
        const Wide d = Wide{16} * dy;
        const Wide q = n / d + ((n % d) > 0 ? 1 : 0);
        return static_cast<std::int64_t>(std::clamp<Wide>(q, -(Wide{1} << 62), Wide{1} << 62));
    }
};

void AddEdges(const Polygon& polygon, const RECTL& area, std::vector<Edge>* edges) {
    const std::size_t count = polygon.size();
    for (std::size_t i = 0; i < count; ++i) {
        FixPoint a = polygon[i], b = polygon[(i + 1) % count];
        if (a.y == b.y) continue;
        int direction = 1;
        if (a.y > b.y) {
            std::swap(a, b);
            direction = -1;
        }
        const std::int64_t first = std::max<std::int64_t>(FirstCentreFrom(a.y), area.top);
        const std::int64_t end = std::min<std::int64_t>(FirstCentreFrom(b.y), area.bottom);
        if (first >= end) continue;
        const auto small = [](const FixPoint& p) {
            return std::llabs(p.x) <= kNarrow && std::llabs(p.y) <= kNarrow;
        };
        edges->push_back({a.x, a.y, b.x, b.y, direction, first, end, small(a) && small(b)});
    }
}

struct Crossing {
    std::int64_t x;
    int direction;
};

// The spans of one row from its sorted crossings, cut to [left, right).
void EmitRow(LONG y, const std::vector<Crossing>& crossings, bool winding, const RECTL& area,
             const SpanSink& sink) {
    std::int64_t spanLeft = 0, pendingLeft = 0, pendingRight = 0;
    bool pending = false;
    auto emit = [&](std::int64_t from, std::int64_t to) {
        from = std::max<std::int64_t>(from, area.left);
        to = std::min<std::int64_t>(to, area.right);
        if (from >= to) return;
        if (pending && from <= pendingRight) {
            pendingRight = std::max(pendingRight, to);
            return;
        }
        if (pending) sink(y, static_cast<LONG>(pendingLeft), static_cast<LONG>(pendingRight));
        pending = true;
        pendingLeft = from;
        pendingRight = to;
    };
    int sum = 0;
    for (std::size_t i = 0; i < crossings.size(); ++i) {
        const bool wasInside = winding ? sum != 0 : (i % 2) == 1;
        sum += crossings[i].direction;
        const bool inside = winding ? sum != 0 : (i % 2) == 0;
        if (!wasInside && inside) spanLeft = crossings[i].x;
        if (wasInside && !inside) emit(spanLeft, crossings[i].x);
        if (crossings[i].x >= area.right && !inside) break;
    }
    if (pending) sink(y, static_cast<LONG>(pendingLeft), static_cast<LONG>(pendingRight));
}

}  // namespace

void FillPolygons(const std::vector<Polygon>& polygons, bool winding, const RECTL& area,
                  const SpanSink& sink) {
    if (area.left >= area.right || area.top >= area.bottom) return;
    std::vector<Edge> edges;
    for (const Polygon& polygon : polygons) AddEdges(polygon, area, &edges);
    if (edges.empty()) return;
    std::sort(edges.begin(), edges.end(),
              [](const Edge& a, const Edge& b) { return a.firstRow < b.firstRow; });

    std::vector<const Edge*> active;
    std::vector<Crossing> crossings;
    std::size_t next = 0;
    std::int64_t y = edges.front().firstRow;
    while (y < area.bottom && (next < edges.size() || !active.empty())) {
        if (active.empty() && edges[next].firstRow > y) y = edges[next].firstRow;
        while (next < edges.size() && edges[next].firstRow <= y) active.push_back(&edges[next++]);
        active.erase(std::remove_if(active.begin(), active.end(),
                                    [y](const Edge* e) { return e->endRow <= y; }),
                     active.end());
        crossings.clear();
        for (const Edge* e : active) crossings.push_back({e->Crossing(y), e->direction});
        std::sort(crossings.begin(), crossings.end(),
                  [](const Crossing& a, const Crossing& b) { return a.x < b.x; });
        EmitRow(static_cast<LONG>(y), crossings, winding, area, sink);
        ++y;
    }
}

// ---- wide pens ----------------------------------------------------------------

namespace {

struct Vec {
    double x;
    double y;
};
Vec operator+(Vec a, Vec b) {
    return {a.x + b.x, a.y + b.y};
}
Vec operator-(Vec a, Vec b) {
    return {a.x - b.x, a.y - b.y};
}
Vec operator*(Vec a, double k) {
    return {a.x * k, a.y * k};
}
double Dot(Vec a, Vec b) {
    return a.x * b.x + a.y * b.y;
}
double Cross(Vec a, Vec b) {
    return a.x * b.y - a.y * b.x;
}
double Length(Vec a) {
    return std::hypot(a.x, a.y);
}
Vec Normal(Vec unit) {
    return {-unit.y, unit.x};
}

// Polygons of one stroke, in fixed-point units held as doubles.
class Outline {
  public:
    explicit Outline(std::vector<Polygon>* out) : out_(out) {}

    // Kept turning one way (positive area), so that the winding rule fills
    // their union; polygons without area are dropped.
    void Add(const std::vector<Vec>& points) {
        double area = 0;
        for (std::size_t i = 0; i < points.size(); ++i)
            area += Cross(points[i], points[(i + 1) % points.size()]);
        if (!(std::fabs(area) > 0)) return;  // also NaN
        Polygon polygon;
        polygon.reserve(points.size());
        for (const Vec& p : points)
            polygon.push_back({std::llround(std::clamp(p.x, -kFarAway, kFarAway)),
                               std::llround(std::clamp(p.y, -kFarAway, kFarAway))});
        if (area < 0) std::reverse(polygon.begin(), polygon.end());
        out_->push_back(std::move(polygon));
    }

    // A circle of radius r, its sides within a quarter pixel of the arc.
    void Circle(Vec centre, double r) {
        const double tolerance = 4;  // 1/4 pixel in fixed point
        int sides = 8;
        if (r > tolerance)
            sides = static_cast<int>(std::ceil(std::numbers::pi / std::acos(1 - tolerance / r)));
        sides = std::clamp(sides, 8, 256);
        std::vector<Vec> points;
        for (int i = 0; i < sides; ++i) {
            const double angle = 2 * std::numbers::pi * i / sides;
            points.push_back({centre.x + r * std::cos(angle), centre.y + r * std::sin(angle)});
        }
        Add(points);
    }

  private:
    std::vector<Polygon>* out_;
};

class Stroker {
  public:
    Stroker(const WidePen& pen, std::vector<Polygon>* out)
        : pen_(pen), half_(std::max(pen.width, 1.0) * 8), outline_(out) {}

    double half() const { return half_; }

    // One run of points, open (caps at its ends) or closed (joined all round).
    void Run(std::vector<Vec> points, bool closed) {
        points.erase(std::unique(points.begin(), points.end(),
                                 [](Vec a, Vec b) { return a.x == b.x && a.y == b.y; }),
                     points.end());
        if (closed && points.size() > 1 && points.front().x == points.back().x &&
            points.front().y == points.back().y)
            points.pop_back();
        if (points.empty()) return;
        if (points.size() == 1) {
            Spot(points[0]);
            return;
        }
        const std::size_t count = points.size();
        const std::size_t segments = closed ? count : count - 1;
        for (std::size_t i = 0; i < segments; ++i) {
            const double before = !closed && i == 0 && pen_.cap == ENDCAP_SQUARE ? half_ : 0;
            const double after =
                !closed && i + 1 == segments && pen_.cap == ENDCAP_SQUARE ? half_ : 0;
            Segment(points[i], points[(i + 1) % count], before, after);
        }
        for (std::size_t i = closed ? 0 : 1; i < (closed ? count : count - 1); ++i)
            Join(points[(i + count - 1) % count], points[i], points[(i + 1) % count]);
        if (!closed && pen_.cap == ENDCAP_ROUND) {
            outline_.Circle(points.front(), half_);
            outline_.Circle(points.back(), half_);
        }
    }

  private:
    // A run of no length: a round cap's dot, a square cap's square.
    void Spot(Vec p) {
        if (pen_.cap == ENDCAP_ROUND) outline_.Circle(p, half_);
        if (pen_.cap == ENDCAP_SQUARE)
            outline_.Add({{p.x - half_, p.y - half_},
                          {p.x + half_, p.y - half_},
                          {p.x + half_, p.y + half_},
                          {p.x - half_, p.y + half_}});
    }

    void Segment(Vec a, Vec b, double before, double after) {
        const double length = Length(b - a);
        if (!(length > 0)) return;
        const Vec along = (b - a) * (1 / length);
        const Vec side = Normal(along) * half_;
        const Vec from = a - along * before, to = b + along * after;
        outline_.Add({from + side, to + side, to - side, from - side});
    }

    void Join(Vec previous, Vec at, Vec next) {
        const Vec in = at - previous, out = next - at;
        const double inLength = Length(in), outLength = Length(out);
        if (!(inLength > 0) || !(outLength > 0)) return;
        const Vec d1 = in * (1 / inLength), d2 = out * (1 / outLength);
        const double turn = Cross(d1, d2);
        if (pen_.join == JOIN_ROUND) {
            outline_.Circle(at, half_);
            return;
        }
        if (turn == 0) return;  // straight on, or straight back (no corner to fill)
        const double outer = turn > 0 ? -1 : 1;
        const Vec n1 = Normal(d1) * outer, n2 = Normal(d2) * outer;
        const Vec o1 = at + n1 * half_, o2 = at + n2 * half_;
        const double cosine = Dot(n1, n2);
        // The miter's length from the corner over half the width is
        // 1 / cos(turn / 2); past the limit the corner is bevelled.
        if (pen_.join == JOIN_MITER && cosine > -1 &&
            std::sqrt(2 / (1 + cosine)) <= pen_.miterLimit) {
            const Vec tip = at + (n1 + n2) * (half_ / (1 + cosine));
            outline_.Add({at, o1, tip, o2});
        } else {
            outline_.Add({at, o1, o2});
        }
    }

    const WidePen& pen_;
    double half_;
    Outline outline_;
};

// The dash pattern of a pen, with an even number of entries (an odd list
// repeats once, so that dashes and gaps alternate), in fixed-point units.
class Dashes {
  public:
    explicit Dashes(const std::vector<double>& pixels) {
        for (double d : pixels) lengths_.push_back(std::isfinite(d) ? std::max(d, 0.0) * 16 : 0);
        if (lengths_.size() % 2 == 1)
            lengths_.insert(lengths_.end(), lengths_.begin(), lengths_.end());
        for (double d : lengths_) period_ += d;
        // A pattern of nothing, or of dashes too short to draw, is solid.
        if (!(period_ >= 1) || !std::isfinite(period_)) lengths_.clear();
    }
    bool Solid() const { return lengths_.empty(); }

    void Restart(double offsetPixels) { Seek(std::isfinite(offsetPixels) ? offsetPixels * 16 : 0); }
    void Skip(double length) { Seek(phase_ + length); }
    bool On() const { return index_ % 2 == 0; }
    double Left() const { return std::max(lengths_[index_] - used_, 0.0); }
    void Use(double length) {
        used_ += length;
        phase_ += length;
    }
    void NextDash() {
        phase_ += lengths_[index_] - used_;
        index_ = (index_ + 1) % lengths_.size();
        used_ = 0;
        if (index_ == 0) phase_ = 0;
    }

  private:
    void Seek(double phase) {
        phase_ = std::fmod(phase, period_);
        if (phase_ < 0) phase_ += period_;
        index_ = 0;
        double start = 0;
        while (index_ + 1 < lengths_.size() && start + lengths_[index_] <= phase_)
            start += lengths_[index_++];
        used_ = phase_ - start;
    }

    std::vector<double> lengths_;
    double period_ = 0;
    double phase_ = 0;
    std::size_t index_ = 0;
    double used_ = 0;
};

// The part [t0, t1] of the segment a-b inside `box` (Liang-Barsky); false
// when none is.
bool ClipSegment(Vec a, Vec b, const double box[4], double* t0, double* t1) {
    *t0 = 0;
    *t1 = 1;
    const Vec d = b - a;
    const double p[4] = {-d.x, d.x, -d.y, d.y};
    const double q[4] = {a.x - box[0], box[2] - a.x, a.y - box[1], box[3] - a.y};
    for (int i = 0; i < 4; ++i) {
        if (p[i] == 0) {
            if (q[i] < 0) return false;
            continue;
        }
        const double t = q[i] / p[i];
        if (p[i] < 0)
            *t0 = std::max(*t0, t);
        else
            *t1 = std::min(*t1, t);
    }
    return *t0 <= *t1;
}

// Strokes a dashed figure: each dash a run of its own with caps; the
// pattern starts afresh at every figure. Parts outside `box` only move the
// pattern on.
void StrokeDashed(const std::vector<Vec>& points, Dashes* dashes, const double box[4],
                  Stroker* stroker) {
    std::vector<Vec> run;
    auto finish = [&] {
        if (!run.empty()) stroker->Run(run, false);
        run.clear();
    };
    for (std::size_t i = 0; i + 1 < points.size(); ++i) {
        const Vec a = points[i], b = points[i + 1];
        const double length = Length(b - a);
        if (!(length > 0) || !std::isfinite(length)) continue;
        const Vec along = (b - a) * (1 / length);
        double t0 = 0, t1 = 0;
        if (!ClipSegment(a, b, box, &t0, &t1)) {
            finish();
            dashes->Skip(length);
            continue;
        }
        double position = t0 * length;
        const double end = t1 * length;
        if (position > 0 && t0 > 0) {
            finish();
            dashes->Skip(position);
        }
        if (dashes->On() && run.empty()) run.push_back(a + along * position);
        while (position < end) {
            const double left = dashes->Left();
            if (position + left <= end) {
                position += left;
                dashes->NextDash();
                if (dashes->On()) {
                    run.push_back(a + along * position);
                } else {
                    run.push_back(a + along * position);
                    finish();
                }
            } else {
                dashes->Use(end - position);
                position = end;
                if (dashes->On()) run.push_back(a + along * position);
            }
        }
        if (t1 < 1) {
            finish();
            dashes->Skip(length - end);
        }
    }
    finish();
}

}  // namespace

std::vector<Polygon> StrokePolygons(const std::vector<PathFigure>& figures, const WidePen& pen,
                                    const RECTL& area) {
    std::vector<Polygon> polygons;
    Stroker stroker(pen, &polygons);
    Dashes dashes(pen.dashes);
    // Dash parts this far outside the area cannot reach it.
    const double margin = stroker.half() * std::max(1.0, pen.miterLimit) + 32;
    const double box[4] = {area.left * 16.0 - margin, area.top * 16.0 - margin,
                           area.right * 16.0 + margin, area.bottom * 16.0 + margin};
    for (const PathFigure& figure : figures) {
        std::vector<Vec> points;
        points.reserve(figure.points.size() + 1);
        for (const POINTFIX& p : figure.points)
            points.push_back({static_cast<double>(p.x), static_cast<double>(p.y)});
        if (points.empty()) continue;
        if (dashes.Solid()) {
            stroker.Run(std::move(points), figure.closed);
            continue;
        }
        if (figure.closed) points.push_back(points.front());
        dashes.Restart(pen.dashOffset);
        StrokeDashed(points, &dashes, box, &stroker);
    }
    return polygons;
}

// ---- one-pixel pens -----------------------------------------------------------

namespace {

// Pixels handed on as runs along a row.
class RunCollector {
  public:
    RunCollector(const RECTL& area, const SpanSink& sink) : area_(area), sink_(sink) {}
    ~RunCollector() { Flush(); }

    void Pixel(std::int64_t x, std::int64_t y) {
        if (x < area_.left || x >= area_.right || y < area_.top || y >= area_.bottom) {
            Flush();
            return;
        }
        const auto px = static_cast<LONG>(x), py = static_cast<LONG>(y);
        if (open_ && py == y_ && px == right_) {
            ++right_;
        } else if (open_ && py == y_ && px == left_ - 1) {
            --left_;
        } else {
            Flush();
            open_ = true;
            y_ = py;
            left_ = px;
            right_ = px + 1;
        }
    }
    void Flush() {
        if (open_) sink_(y_, left_, right_);
        open_ = false;
    }

  private:
    const RECTL& area_;
    const SpanSink& sink_;
    bool open_ = false;
    LONG y_ = 0, left_ = 0, right_ = 0;
};

// The on-off pattern of a one-pixel pen, a step at a time.
class ThinStyle {
  public:
    explicit ThinStyle(const ThinPen& pen) : alternate_(pen.alternate) {
        for (LONG d : pen.dashes) lengths_.push_back(std::max<LONG>(d, 0));
        if (lengths_.size() % 2 == 1)
            lengths_.insert(lengths_.end(), lengths_.begin(), lengths_.end());
        for (std::int64_t d : lengths_) period_ += d;
        if (period_ == 0) lengths_.clear();
        offset_ = pen.dashOffset;
    }
    void Restart() { phase_ = offset_; }
    void Skip(std::int64_t steps) { phase_ += steps; }
    // Whether the current step is drawn; moves on by one step.
    bool Next() {
        const std::int64_t phase = phase_++;
        if (alternate_) return (phase & 1) == 0;
        if (lengths_.empty()) return true;
        std::int64_t at = ((phase % period_) + period_) % period_;
        for (std::size_t i = 0; i < lengths_.size(); ++i) {
            if (at < lengths_[i]) return i % 2 == 0;
            at -= lengths_[i];
        }
        return false;
    }

  private:
    bool alternate_;
    std::vector<std::int64_t> lengths_;
    std::int64_t period_ = 0;
    std::int64_t offset_ = 0;
    std::int64_t phase_ = 0;
};

// Bresenham's walk from (x0, y0) to (x1, y1) without the end point: n =
// max(|dx|, |dy|) steps, the error starting at n / 2 and the minor
// coordinate moving when it turns negative. Only the steps whose major
// coordinate lies within the area are walked; the others just move the
// style on, so that a line of any length costs what its visible part does.
void WalkLine(std::int64_t x0, std::int64_t y0, std::int64_t x1, std::int64_t y1, const RECTL& area,
              ThinStyle* style, RunCollector* runs) {
    const std::int64_t dx = x1 - x0, dy = y1 - y0;
    const bool xMajor = std::llabs(dx) >= std::llabs(dy);
    const std::int64_t n = xMajor ? std::llabs(dx) : std::llabs(dy);
    if (n == 0) return;
    const std::int64_t minorExtent = xMajor ? std::llabs(dy) : std::llabs(dx);
    const std::int64_t majorStart = xMajor ? x0 : y0, minorStart = xMajor ? y0 : x0;
    const int majorStep = (xMajor ? dx : dy) < 0 ? -1 : 1;
    const int minorStep = (xMajor ? dy : dx) < 0 ? -1 : 1;
    const std::int64_t low = xMajor ? area.left : area.top;
    const std::int64_t high = xMajor ? area.right : area.bottom;  // exclusive
    // Steps k with low <= majorStart + majorStep * k < high.
    std::int64_t first = majorStep > 0 ? low - majorStart : majorStart - (high - 1);
    std::int64_t last = majorStep > 0 ? high - 1 - majorStart : majorStart - low;
    first = std::max<std::int64_t>(first, 0);
    last = std::min<std::int64_t>(last, n - 1);
    if (first > last) {
        style->Skip(n);
        return;
    }
    style->Skip(first);
    const std::int64_t e0 = n / 2;
    std::int64_t error = ((e0 - first * minorExtent) % n + n) % n;
    const std::int64_t carries = (error - e0 + first * minorExtent) / n;
    std::int64_t major = majorStart + majorStep * first;
    std::int64_t minor = minorStart + minorStep * carries;
    for (std::int64_t k = first; k <= last; ++k) {
        if (style->Next()) {
            if (xMajor)
                runs->Pixel(major, minor);
            else
                runs->Pixel(minor, major);
        } else {
            runs->Flush();
        }
        major += majorStep;
        error -= minorExtent;
        if (error < 0) {
            minor += minorStep;
            error += n;
        }
    }
    runs->Flush();
    style->Skip(n - 1 - last);
}

}  // namespace

void DrawThinLines(const std::vector<PathFigure>& figures, const ThinPen& pen, const RECTL& area,
                   const SpanSink& sink) {
    if (area.left >= area.right || area.top >= area.bottom) return;
    ThinStyle style(pen);
    RunCollector runs(area, sink);
    for (const PathFigure& figure : figures) {
        const std::size_t count = figure.points.size();
        if (count < 2) continue;
        style.Restart();
        const std::size_t segments = figure.closed ? count : count - 1;
        for (std::size_t i = 0; i < segments; ++i) {
            const POINTFIX& a = figure.points[i];
            const POINTFIX& b = figure.points[(i + 1) % count];
            WalkLine(a.x >> 4, a.y >> 4, b.x >> 4, b.y >> 4, area, &style, &runs);
        }
    }
}

}  // namespace host
