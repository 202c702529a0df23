// The engine's document loop over a banding driver (see print_job.h).

#include "host/print_job.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "host/drawing.h"
#include "host/engine.h"
#include "host/engine_objects.h"
#include "host/surface_format.h"
#include "platform/last_error.h"
#include "platform/spooler.h"

namespace host {

namespace {

// A driver whose bands never end would hold the loop for ever; no page of
// this system has nearly this many bands.
constexpr int kMaxBandsPerPage = 1 << 20;

bool IsEnd(POINTL origin) {
    return origin.x == -1 && origin.y == -1;
}

// The driver's entries the loop calls, all required.
struct DocumentEntries {
    PFN_DrvEnableSurface enableSurface;
    PFN_DrvDisableSurface disableSurface;
    PFN_DrvStartDoc startDoc;
    PFN_DrvStartPage startPage;
    PFN_DrvStartBanding startBanding;
    PFN_DrvNextBand nextBand;
    PFN_DrvSendPage sendPage;
    PFN_DrvEndDoc endDoc;

    explicit DocumentEntries(const DriverHost& driver)
        : enableSurface(driver.Entry<PFN_DrvEnableSurface>(INDEX_DrvEnableSurface)),
          disableSurface(driver.Entry<PFN_DrvDisableSurface>(INDEX_DrvDisableSurface)),
          startDoc(driver.Entry<PFN_DrvStartDoc>(INDEX_DrvStartDoc)),
          startPage(driver.Entry<PFN_DrvStartPage>(INDEX_DrvStartPage)),
          startBanding(driver.Entry<PFN_DrvStartBanding>(INDEX_DrvStartBanding)),
          nextBand(driver.Entry<PFN_DrvNextBand>(INDEX_DrvNextBand)),
          sendPage(driver.Entry<PFN_DrvSendPage>(INDEX_DrvSendPage)),
          endDoc(driver.Entry<PFN_DrvEndDoc>(INDEX_DrvEndDoc)) {}

    bool Complete() const {
        return enableSurface && disableSurface && startDoc && startPage && startBanding &&
               nextBand && sendPage && endDoc;
    }
};

void SetError(std::string* error, const std::string& text) {
    if (error != nullptr) *error = text;
}

// What the last error the driver (or the command library under it) left
// means, for the few causes a user can act on.
const char* LastErrorMeaning(DWORD code) {
    switch (code) {
        case ERROR_FILE_NOT_FOUND:
            return "a file was not found";
        case ERROR_PATH_NOT_FOUND:
            return "a folder was not found";
        case ERROR_ACCESS_DENIED:
            return "access denied";
        case ERROR_NOT_ENOUGH_MEMORY:
        case ERROR_OUTOFMEMORY:
            return "out of memory";
        case ERROR_DISK_FULL:
            return "the disk is full";
        case ERROR_WRITE_FAULT:
            return "the output could not be written";
        case ERROR_BROKEN_PIPE:
            return "the output's reader went away";
        default:
            return nullptr;
    }
}

// A refusal of the driver's, with the last error it left when it left one.
void SetRefusal(std::string* error, const std::string& text) {
    const DWORD code = GetLastError();
    if (code == ERROR_SUCCESS) return SetError(error, text);
    const char* meaning = LastErrorMeaning(code);
    SetError(error, text + " (error " + std::to_string(code) +
                        (meaning != nullptr ? std::string(": ") + meaning : std::string()) + ")");
}

// A placed bitmap whose rows all lie inside its bytes.
bool UsablePlacedBitmap(const PlacedBitmap& bitmap) {
    if (bitmap.format != BMF_1BPP && bitmap.format != BMF_8BPP && bitmap.format != BMF_24BPP)
        return false;
    if (bitmap.size.cx <= 0 || bitmap.size.cy <= 0 || bitmap.stride <= 0) return false;
    const std::uint64_t row = RowBytes(bitmap.format, bitmap.size.cx);
    const auto stride = static_cast<std::uint64_t>(bitmap.stride);
    if (stride < row) return false;
    const std::uint64_t needed = stride * static_cast<std::uint64_t>(bitmap.size.cy - 1) + row;
    return bitmap.bits.size() >= needed;
}

// An item's rectangle moved into band coordinates; false when that leaves
// the coordinate range.
bool ToBand(const RECTL& page, POINTL origin, RECTL* band) {
    const std::int64_t values[4] = {
        std::int64_t{page.left} - origin.x, std::int64_t{page.top} - origin.y,
        std::int64_t{page.right} - origin.x, std::int64_t{page.bottom} - origin.y};
    for (std::int64_t v : values)
        if (v < INT32_MIN || v > INT32_MAX) return false;
    *band = {static_cast<LONG>(values[0]), static_cast<LONG>(values[1]),
             static_cast<LONG>(values[2]), static_cast<LONG>(values[3])};
    return true;
}

// The driver's entry of `index`, or null.
template <class F>
F TableEntry(std::span<const DRVFN> entries, ULONG index) {
    for (const DRVFN& entry : entries)
        if (entry.iFunc == index) return reinterpret_cast<F>(entry.pfn);
    return nullptr;
}

// The entry of `index` when the band's surface hooked `hook` and the driver
// has it; null otherwise (the engine's service draws).
template <class F>
F HookedEntry(SURFOBJ* band, std::span<const DRVFN> entries, FLONG hook, ULONG index) {
    if (entries.empty()) return nullptr;
    SurfaceInfo info;
    if (!LookupSurface(band->hsurf, &info) || (info.hooks & hook) == 0) return nullptr;
    return TableEntry<F>(entries, index);
}

// An image's pixels as an engine surface, for as long as it lives. The
// bits are lent, so the image must outlive it; rows are padded to a whole
// stride when the image's last row is short. Run-length data keeps the
// order of a bitmap file: its first line is the bottom row.
class ImageSurface {
  public:
    explicit ImageSurface(const PageImage& image) {
        if (image.size.cx <= 0 || image.size.cy <= 0) return;
        HBITMAP bitmap{};
        if (IsRunLength(image.format)) {
            if (image.bits.empty() || image.bits.size() > 0x7FFFFFFF) return;
            bitmap = EngCreateBitmap(image.size, static_cast<LONG>(image.bits.size()), image.format,
                                     0, const_cast<BYTE*>(image.bits.data()));
        } else {
            if (BitsPerPixel(image.format) == 0 || image.stride <= 0) return;
            const std::uint64_t row = RowBytes(image.format, image.size.cx);
            const auto stride = static_cast<std::uint64_t>(image.stride);
            if (stride < row) return;
            const std::uint64_t needed =
                stride * static_cast<std::uint64_t>(image.size.cy - 1) + row;
            const std::uint64_t whole = stride * static_cast<std::uint64_t>(image.size.cy);
            // The engine refuses more than 256 MiB of bits anyway.
            if (image.bits.size() < needed || whole > (std::uint64_t{256} << 20)) return;
            const BYTE* bits = image.bits.data();
            if (image.bits.size() < whole) {
                padded_.assign(image.bits.begin(), image.bits.end());
                padded_.resize(whole, 0);
                bits = padded_.data();
            }
            bitmap = EngCreateBitmap(image.size, image.stride, image.format,
                                     BMF_TOPDOWN | BMF_NOZEROINIT, const_cast<BYTE*>(bits));
        }
        if (!bitmap) return;
        handle_ = HSURF{bitmap.value};
        surface_ = EngLockSurface(handle_);
    }
    ~ImageSurface() {
        if (surface_ != nullptr) EngUnlockSurface(surface_);
        if (handle_) EngDeleteSurface(handle_);
    }
    ImageSurface(const ImageSurface&) = delete;
    ImageSurface& operator=(const ImageSurface&) = delete;

    SURFOBJ* surface() const { return surface_; }

  private:
    std::vector<BYTE> padded_;
    HSURF handle_{};
    SURFOBJ* surface_ = nullptr;
};

std::unique_ptr<Translation> ImageTranslation(const PageImage& image) {
    if (BitsPerPixel(image.format) > 8) return Translation::ForDirectFormat(image.format);
    return image.palette.empty() ? nullptr : Translation::FromPalette(image.palette);
}

bool DrawImage(SURFOBJ* band, POINTL origin, const PageImage& image,
               std::span<const DRVFN> driver) {
    RECTL target;
    if (!ToBand(image.target, origin, &target)) return false;
    ImageSurface source(image);
    if (source.surface() == nullptr) return false;
    std::unique_ptr<Translation> xlate = ImageTranslation(image);
    XLATEOBJ* xlateObject = xlate ? xlate->object() : nullptr;
    ClipRegion clip({{0, 0, band->sizlBitmap.cx, band->sizlBitmap.cy}});

    const bool ownSize = target.right - std::int64_t{target.left} == image.size.cx &&
                         target.bottom - std::int64_t{target.top} == image.size.cy;
    // Grey and colour images are stretched in the halftone mode even at their
    // own size, as an application that prints photos does, so that a one-bit
    // band gets them halftoned; one-bit images are copied as they are.
    const bool oneBit = image.format == BMF_1BPP;
    if (ownSize && oneBit) {
        POINTL sourceOrigin{0, 0};
        auto copy = HookedEntry<PFN_DrvCopyBits>(band, driver, HOOK_COPYBITS, INDEX_DrvCopyBits);
        return (copy ? copy : &EngCopyBits)(band, source.surface(), clip.object(), xlateObject,
                                            &target, &sourceOrigin) != FALSE;
    }
    RECTL sourceRect{0, 0, image.size.cx, image.size.cy};
    // The dither stays anchored at the page's origin from band to band.
    POINTL halftoneOrigin{-origin.x, -origin.y};
    const ULONG mode = !oneBit || band->iBitmapFormat == BMF_1BPP ? HALFTONE : COLORONCOLOR;
    auto stretch =
        HookedEntry<PFN_DrvStretchBlt>(band, driver, HOOK_STRETCHBLT, INDEX_DrvStretchBlt);
    return (stretch ? stretch : &EngStretchBlt)(band, source.surface(), nullptr, clip.object(),
                                                xlateObject, nullptr, &halftoneOrigin, &target,
                                                &sourceRect, nullptr, mode) != FALSE;
}

// A solid brush, or a hatch brush when `hatch` names a style, realized by
// the driver when it can.
std::unique_ptr<EngineBrush> MakeBrush(ULONG colour, std::optional<ULONG> hatch,
                                       std::span<const DRVFN> driver, SURFOBJ* band) {
    auto realize = TableEntry<PFN_DrvRealizeBrush>(driver, INDEX_DrvRealizeBrush);
    if (hatch) return EngineBrush::Hatch(*hatch, colour, realize, band);
    return EngineBrush::Solid(colour, realize, band);
}

bool FillRectangle(SURFOBJ* band, POINTL origin, const RECTL& rect, ULONG colour,
                   std::optional<ULONG> hatch, std::span<const DRVFN> driver) {
    RECTL target;
    if (!ToBand(rect, origin, &target)) return false;
    constexpr ROP4 kPatCopy = 0xF0F0;
    std::unique_ptr<EngineBrush> brush = MakeBrush(colour, hatch, driver, band);
    if (!brush) return false;
    ClipRegion clip({{0, 0, band->sizlBitmap.cx, band->sizlBitmap.cy}});
    POINTL brushOrigin{-origin.x, -origin.y};
    auto blt = HookedEntry<PFN_DrvBitBlt>(band, driver, HOOK_BITBLT, INDEX_DrvBitBlt);
    return (blt ? blt : &EngBitBlt)(band, nullptr, nullptr, clip.object(), nullptr, &target,
                                    nullptr, nullptr, brush->object(), &brushOrigin,
                                    kPatCopy) != FALSE;
}

// ---- paths ----------------------------------------------------------------
//
// How page paths become engine paths: a point of dots (x, y) is the 28.4
// point (16x, 16y), the top-left corner of that dot, which the driver's own
// renderer and the engine both read as the dot itself. One-dot pens are
// cosmetic, so that both engines draw them by the same walk, the end point
// left out. Wider pens are geometric (butt ends, mitred joins); their path
// runs through the dot's centre for odd widths and its corner for even
// ones, so that a level or upright line of width w covers the w rows
// (columns) from y - w/2. The driver's own renderer draws no geometric
// pen: when it refuses one, the engine strokes it (as it does for calls a
// driver hands back). Dashes are cut into solid pieces here (the driver's
// renderer draws no styled pens), which both engines then draw alike.

// Paths stay within what 28.4 fixed point holds.
constexpr std::int64_t kMaxFixedDots = (std::int64_t{1} << 27) - 1;
// Both the foreground and the background mix copy the pen.
constexpr MIX kCopyPen = 0x0D0D;

struct DotPoint {
    std::int64_t x;
    std::int64_t y;
    bool operator==(const DotPoint&) const = default;
};

// Runs of dots, in page-image coordinates, each an open or closed figure.
struct DotFigure {
    std::vector<DotPoint> points;
    bool closed = false;
};

std::int64_t RoundedQuotient(std::int64_t numerator, std::int64_t denominator) {
    return numerator >= 0 ? (numerator + denominator / 2) / denominator
                          : -((-numerator + denominator / 2) / denominator);
}

// The solid pieces of an open run of points under a dash pattern, the
// pattern going on across corners. A segment is measured in dots along its
// longer axis; the dots between are placed by rounding, as the line's walk
// places them.
std::vector<DotFigure> DashPieces(const std::vector<DotPoint>& points,
                                  const std::vector<LONG>& dash) {
    std::vector<DotFigure> pieces;
    std::size_t index = 0;
    std::int64_t left = dash[0];
    bool drawn = true;
    bool joined = false;  // the last piece goes on at the next corner
    for (std::size_t i = 1; i < points.size(); ++i) {
        const DotPoint from = points[i - 1];
        const std::int64_t dx = points[i].x - from.x;
        const std::int64_t dy = points[i].y - from.y;
        const std::int64_t steps = std::max(std::abs(dx), std::abs(dy));
        auto at = [&](std::int64_t step) {
            return DotPoint{from.x + RoundedQuotient(dx * step, steps),
                            from.y + RoundedQuotient(dy * step, steps)};
        };
        for (std::int64_t step = 0; step < steps;) {
            const std::int64_t run = std::min(left, steps - step);
            if (drawn) {
                if (!joined) pieces.push_back({{at(step)}, false});
                pieces.back().points.push_back(at(step + run));
                joined = true;
            }
            step += run;
            left -= run;
            if (left == 0) {
                index = (index + 1) % dash.size();
                left = dash[index];
                drawn = !drawn;
                joined = false;
            }
        }
    }
    return pieces;
}

// An outline `width` dots wide inside `rect`. One dot: four runs, each
// drawn left to right or top to bottom so that no engine's rule for a
// line's last dot leaves a corner out. Wider: the frame between the
// rectangle and its inside, filled by the even-odd rule (exact in both
// engines, and the driver's renderer draws no wide pens).
std::vector<DotFigure> OutlineFigures(const RECTL& rect, LONG width) {
    const std::int64_t l = rect.left, t = rect.top, r = rect.right, b = rect.bottom;
    if (width > 1) {
        std::vector<DotFigure> frame{{{{l, t}, {r, t}, {r, b}, {l, b}}, true}};
        if (2 * std::int64_t{width} < r - l && 2 * std::int64_t{width} < b - t)
            frame.push_back({{{l + width, t + width},
                              {r - width, t + width},
                              {r - width, b - width},
                              {l + width, b - width}},
                             true});
        return frame;
    }
    std::vector<DotFigure> runs{{{{l, t}, {r, t}}, false}};
    if (b - t > 1) runs.push_back({{{l, b - 1}, {r, b - 1}}, false});
    if (b - t > 2) {
        runs.push_back({{{l, t + 1}, {l, b - 1}}, false});
        if (r - l > 1) runs.push_back({{{r - 1, t + 1}, {r - 1, b - 1}}, false});
    }
    return runs;
}

// Where a path of dots lands on the band, or false when it misses it (or
// leaves the fixed-point range).
class BandPath {
  public:
    BandPath(const std::vector<DotFigure>& figures, POINTL origin, LONG penWidth) {
        const std::int64_t centre = penWidth > 1 && penWidth % 2 == 1 ? 8 : 0;
        std::vector<EnginePath::Figure> converted;
        converted.reserve(figures.size());
        for (const DotFigure& figure : figures) {
            EnginePath::Figure out{{}, figure.closed};
            out.points.reserve(figure.points.size());
            for (const DotPoint& p : figure.points) {
                const std::int64_t x = p.x - origin.x, y = p.y - origin.y;
                if (std::abs(x) > kMaxFixedDots || std::abs(y) > kMaxFixedDots) return;
                out.points.push_back(
                    {static_cast<FIX>(x * 16 + centre), static_cast<FIX>(y * 16 + centre)});
            }
            converted.push_back(std::move(out));
        }
        path_ = std::make_unique<EnginePath>(std::move(converted));
    }
    PATHOBJ* object() const { return path_ ? path_->object() : nullptr; }

  private:
    std::unique_ptr<EnginePath> path_;
};

// Whether the figures, widened by the pen, reach the band's rows and
// columns.
bool TouchesBand(const std::vector<DotFigure>& figures, LONG penWidth, SURFOBJ* band,
                 POINTL origin) {
    std::int64_t top = INT64_MAX, bottom = INT64_MIN, left = INT64_MAX, right = INT64_MIN;
    for (const DotFigure& figure : figures)
        for (const DotPoint& p : figure.points) {
            top = std::min(top, p.y);
            bottom = std::max(bottom, p.y);
            left = std::min(left, p.x);
            right = std::max(right, p.x);
        }
    const std::int64_t margin = penWidth + 1;
    return top <= bottom && bottom + margin >= origin.y &&
           top - margin < std::int64_t{origin.y} + band->sizlBitmap.cy &&
           right + margin >= origin.x &&
           left - margin < std::int64_t{origin.x} + band->sizlBitmap.cx;
}

LINEATTRS PenAttributes(LONG width) {
    LINEATTRS line{};
    if (width <= 1) {
        line.elWidth.l = 1;
        return line;
    }
    line.fl = LA_GEOMETRIC;
    line.iJoin = JOIN_MITER;
    line.iEndCap = ENDCAP_BUTT;
    line.elWidth.e = static_cast<float>(width);
    line.eMiterLimit = 10.0F;
    return line;
}

// The drawing context every path call of one item shares.
struct PathCall {
    SURFOBJ* band;
    POINTL origin;
    std::span<const DRVFN> driver;
    ClipRegion clip;
    POINTL brushOrigin;

    PathCall(SURFOBJ* b, POINTL o, std::span<const DRVFN> d)
        : band(b),
          origin(o),
          driver(d),
          clip({{0, 0, b->sizlBitmap.cx, b->sizlBitmap.cy}}),
          brushOrigin{-o.x, -o.y} {}

    bool Stroke(const std::vector<DotFigure>& figures, const PagePen& pen) {
        if (!TouchesBand(figures, pen.width, band, origin)) return true;
        BandPath path(figures, origin, pen.width);
        std::unique_ptr<EngineBrush> brush = MakeBrush(pen.colour, std::nullopt, driver, band);
        LINEATTRS line = PenAttributes(pen.width);
        if (path.object() == nullptr) return false;
        auto stroke =
            HookedEntry<PFN_DrvStrokePath>(band, driver, HOOK_STROKEPATH, INDEX_DrvStrokePath);
        if (stroke != nullptr && stroke(band, path.object(), clip.object(), nullptr,
                                        brush->object(), &brushOrigin, &line, kCopyPen))
            return true;
        if (stroke != nullptr && (line.fl & LA_GEOMETRIC) == 0) return false;
        return EngStrokePath(band, path.object(), clip.object(), nullptr, brush->object(),
                             &brushOrigin, &line, kCopyPen) != FALSE;
    }

    bool Fill(const std::vector<DotFigure>& figures, const PageFill& fill) {
        if (!TouchesBand(figures, 0, band, origin)) return true;
        BandPath path(figures, origin, 0);
        std::unique_ptr<EngineBrush> brush = MakeBrush(fill.colour, fill.hatch, driver, band);
        if (path.object() == nullptr || !brush) return false;
        auto draw = HookedEntry<PFN_DrvFillPath>(band, driver, HOOK_FILLPATH, INDEX_DrvFillPath);
        return (draw ? draw : &EngFillPath)(band, path.object(), clip.object(), brush->object(),
                                            &brushOrigin, kCopyPen, FillOptions(fill)) != FALSE;
    }

    bool StrokeAndFill(const std::vector<DotFigure>& figures, const PagePen& pen,
                       const PageFill& fill) {
        if (!TouchesBand(figures, pen.width, band, origin)) return true;
        BandPath path(figures, origin, pen.width);
        std::unique_ptr<EngineBrush> penBrush = MakeBrush(pen.colour, std::nullopt, driver, band);
        std::unique_ptr<EngineBrush> fillBrush = MakeBrush(fill.colour, fill.hatch, driver, band);
        LINEATTRS line = PenAttributes(pen.width);
        if (path.object() == nullptr || !fillBrush) return false;
        auto draw = HookedEntry<PFN_DrvStrokeAndFillPath>(band, driver, HOOK_STROKEANDFILLPATH,
                                                          INDEX_DrvStrokeAndFillPath);
        if (draw != nullptr &&
            draw(band, path.object(), clip.object(), nullptr, penBrush->object(), &line,
                 fillBrush->object(), &brushOrigin, kCopyPen, FillOptions(fill)))
            return true;
        if (draw != nullptr && (line.fl & LA_GEOMETRIC) == 0) return false;
        return EngStrokeAndFillPath(band, path.object(), clip.object(), nullptr, penBrush->object(),
                                    &line, fillBrush->object(), &brushOrigin, kCopyPen,
                                    FillOptions(fill)) != FALSE;
    }

    static FLONG FillOptions(const PageFill& fill) {
        return fill.winding ? FP_WINDINGMODE : FP_ALTERNATEMODE;
    }
};

bool UsablePen(const PagePen& pen) {
    return pen.width >= 1 &&
           std::all_of(pen.dash.begin(), pen.dash.end(), [](LONG d) { return d > 0; });
}

bool DrawPath(SURFOBJ* band, POINTL origin, const PagePath& item, std::span<const DRVFN> driver) {
    if (item.points.empty() || (!item.pen && !item.fill)) return false;
    if (item.pen && !UsablePen(*item.pen)) return false;
    if (DashPieceBound(item) > kMaxDashPieces) return false;
    std::vector<DotPoint> points;
    points.reserve(item.points.size());
    for (const POINTL& p : item.points) points.push_back({p.x, p.y});
    std::vector<DotFigure> figures{{points, item.closed}};
    PathCall call(band, origin, driver);
    if (item.pen && !item.pen->dash.empty()) {
        // Dashed paths are open (lines and polylines); their fill, if any,
        // goes first.
        if (item.fill && !call.Fill(figures, *item.fill)) return false;
        if (item.closed) figures[0].points.push_back(points.front());
        return call.Stroke(DashPieces(figures[0].points, item.pen->dash), *item.pen);
    }
    if (item.pen && item.fill) return call.StrokeAndFill(figures, *item.pen, *item.fill);
    if (item.pen) return call.Stroke(figures, *item.pen);
    return call.Fill(figures, *item.fill);
}

bool DrawRectangle(SURFOBJ* band, POINTL origin, const PageRectangle& rectangle,
                   std::span<const DRVFN> driver) {
    if (rectangle.rect.left >= rectangle.rect.right || rectangle.rect.top >= rectangle.rect.bottom)
        return false;
    if (rectangle.filled &&
        !FillRectangle(band, origin, rectangle.rect, rectangle.colour, rectangle.hatch, driver))
        return false;
    if (!rectangle.outline) return true;
    if (rectangle.outlineWidth < 1) return false;
    PathCall call(band, origin, driver);
    const std::vector<DotFigure> outline = OutlineFigures(rectangle.rect, rectangle.outlineWidth);
    if (rectangle.outlineWidth > 1) return call.Fill(outline, {*rectangle.outline, {}, false});
    return call.Stroke(outline, {*rectangle.outline, 1, {}});
}

}  // namespace

// Each dash of the pattern makes at most one piece per round of the
// pattern, and the path's length in steps holds its rounds.
std::uint64_t DashPieceBound(const PagePath& path) {
    if (!path.pen || path.pen->dash.empty()) return 0;
    std::uint64_t round = 0;
    for (LONG length : path.pen->dash)
        round += static_cast<std::uint64_t>(std::max<LONG>(length, 1));
    std::uint64_t steps = 0;
    for (std::size_t i = 0; i < path.points.size(); ++i) {
        const POINTL& from = path.points[i];
        const POINTL& to = path.points[(i + 1) % path.points.size()];
        if (i + 1 == path.points.size() && !path.closed) break;
        steps += static_cast<std::uint64_t>(
            std::max(std::abs(std::int64_t{to.x} - from.x), std::abs(std::int64_t{to.y} - from.y)));
    }
    return (steps / round + 1) * path.pen->dash.size();
}

bool DrawPageItem(SURFOBJ* band, POINTL origin, const PageItem& item,
                  std::span<const DRVFN> driver) {
    if (band == nullptr) return false;
    if (const auto* image = std::get_if<PageImage>(&item))
        return DrawImage(band, origin, *image, driver);
    if (const auto* path = std::get_if<PagePath>(&item))
        return DrawPath(band, origin, *path, driver);
    if (const auto* rectangle = std::get_if<PageRectangle>(&item))
        return DrawRectangle(band, origin, *rectangle, driver);
    return false;  // text is not drawn yet
}

bool DrawPageItem(SURFOBJ* band, POINTL origin, const PageItem& item, const DriverHost* driver) {
    if (driver == nullptr) return DrawPageItem(band, origin, item, std::span<const DRVFN>{});
    return DrawPageItem(band, origin, item, std::span<const DRVFN>(driver->table()));
}

void DrawPlacedBitmap(SURFOBJ* band, POINTL origin, const PlacedBitmap& bitmap) {
    if (!UsableBitmap(band) || band->iBitmapFormat != bitmap.format) return;
    if (!UsablePlacedBitmap(bitmap)) return;
    // The overlap, in page-image coordinates.
    const std::int64_t left = std::max<std::int64_t>(bitmap.position.x, origin.x);
    const std::int64_t right =
        std::min<std::int64_t>(std::int64_t{bitmap.position.x} + bitmap.size.cx,
                               std::int64_t{origin.x} + band->sizlBitmap.cx);
    const std::int64_t top = std::max<std::int64_t>(bitmap.position.y, origin.y);
    const std::int64_t bottom =
        std::min<std::int64_t>(std::int64_t{bitmap.position.y} + bitmap.size.cy,
                               std::int64_t{origin.y} + band->sizlBitmap.cy);
    if (left >= right || top >= bottom) return;

    const std::int64_t sourceX = left - bitmap.position.x;
    const std::int64_t destX = left - origin.x;
    const std::int64_t count = right - left;
    const std::int64_t pixelBytes = bitmap.format == BMF_24BPP ? 3 : 1;
    for (std::int64_t y = top; y < bottom; ++y) {
        const BYTE* sourceRow =
            bitmap.bits.data() + (y - bitmap.position.y) * std::int64_t{bitmap.stride};
        BYTE* destRow = ScanLine(band, static_cast<LONG>(y - origin.y));
        if (bitmap.format == BMF_1BPP) {
            CopyBits(destRow, destX, sourceRow, sourceX, count, false);
        } else {
            std::memcpy(destRow + destX * pixelBytes, sourceRow + sourceX * pixelBytes,
                        static_cast<std::size_t>(count * pixelBytes));
        }
    }
}

std::unique_ptr<PrintJob> PrintJob::Start(Device& device, const std::u16string& documentName,
                                          DWORD jobId, std::string* error,
                                          const std::u16string& outputFile) {
    const DocumentEntries entries(device.driver());
    if (!entries.Complete()) {
        SetError(error, "the driver's function table lacks the document entries");
        return nullptr;
    }
    std::unique_ptr<PrintJob> job(new PrintJob(device));
    job->documentName_ = documentName;
    job->jobId_ = jobId;
    if (device.printer() != nullptr) {
        std::u16string output = outputFile;
        DOC_INFO_1W info{job->documentName_.data(), output.empty() ? nullptr : output.data(),
                         nullptr};
        const DWORD spoolerId =
            StartDocPrinterW(device.printer(), 1, reinterpret_cast<BYTE*>(&info));
        if (spoolerId == 0) {
            SetError(error, "the spooler refused to start a job (error " +
                                std::to_string(GetLastError()) + ")");
            return nullptr;
        }
        job->spoolerJob_ = true;
        if (jobId == 0) job->jobId_ = spoolerId;
    }
    job->pdev_ = device.pdev();
    job->hsurf_ = entries.enableSurface(job->pdev_);
    if (!job->hsurf_) {
        SetError(error, "the driver did not enable its surface");
        return nullptr;
    }
    job->surface_ = EngLockSurface(job->hsurf_);
    if (job->surface_ == nullptr) {
        SetError(error, "the driver's surface is not a surface of this engine");
        return nullptr;  // the destructor disables the surface
    }
    // An empty name is no name: the driver is given none.
    LPWSTR name = job->documentName_.empty() ? nullptr : job->documentName_.data();
    SetLastError(ERROR_SUCCESS);
    if (!entries.startDoc(job->surface_, name, job->jobId_)) {
        SetRefusal(error, "the driver refused to start the document");
        return nullptr;
    }
    job->open_ = true;
    return job;
}

PrintJob::~PrintJob() {
    if (open_) End(nullptr);
    if (spoolerJob_) EndDocPrinter(device_.printer());
    if (surface_ != nullptr) EngUnlockSurface(surface_);
    // The driver deletes its own surface here. A device reset outside this
    // job has disabled the driver's device the surface belonged to, so there
    // is nothing left to disable.
    if (hsurf_ && device_.pdev() == pdev_) {
        if (auto disable = device_.driver().Entry<PFN_DrvDisableSurface>(INDEX_DrvDisableSurface))
            disable(pdev_);
    }
}

bool PrintJob::PrintPage(const BandPainter& painter, std::string* error) {
    if (!open_) {
        SetError(error, "the document has ended");
        return false;
    }
    if (device_.pdev() != pdev_) {
        SetError(error, "the device was reset during the document");
        return false;
    }
    const DocumentEntries entries(device_.driver());
    const int page = pages_++;
    SetLastError(ERROR_SUCCESS);
    if (!entries.startPage(surface_)) {
        SetRefusal(error, "the driver refused to start page " + std::to_string(page + 1));
        return false;
    }
    POINTL origin{};
    SetLastError(ERROR_SUCCESS);
    if (!entries.startBanding(surface_, &origin)) {
        SetRefusal(error, "the driver refused to band page " + std::to_string(page + 1));
        return false;
    }
    for (int band = 0; !IsEnd(origin); ++band) {
        if (band == kMaxBandsPerPage) {
            SetError(error,
                     "the driver's bands of page " + std::to_string(page + 1) + " never end");
            return false;
        }
        bands_.push_back({page, origin});
        if (painter) painter(surface_, origin, page);
        SetLastError(ERROR_SUCCESS);
        if (!entries.nextBand(surface_, &origin)) {
            SetRefusal(error, "the driver refused band " + std::to_string(band + 1) + " of page " +
                                  std::to_string(page + 1));
            return false;
        }
    }
    SetLastError(ERROR_SUCCESS);
    if (!entries.sendPage(surface_)) {
        SetRefusal(error, "the driver refused to send page " + std::to_string(page + 1));
        return false;
    }
    return true;
}

bool PrintJob::PrintPage(const Page& page, std::string* error) {
    return PrintPage(
        [&page, this](SURFOBJ* band, POINTL origin, int) {
            for (const PlacedBitmap& bitmap : page.bitmaps) DrawPlacedBitmap(band, origin, bitmap);
            // A failed item leaves the band as it was and the page goes on,
            // as a failed drawing call of an application does.
            for (const PageItem& item : page.items)
                DrawPageItem(band, origin, item, &device_.driver());
        },
        error);
}

bool PrintJob::End(std::string* error) {
    if (!open_) {
        SetError(error, "the document has already ended");
        return false;
    }
    open_ = false;
    if (device_.pdev() != pdev_) {
        SetError(error, "the device was reset during the document");
        return false;
    }
    auto endDoc = device_.driver().Entry<PFN_DrvEndDoc>(INDEX_DrvEndDoc);
    SetLastError(ERROR_SUCCESS);
    const bool ended = endDoc(surface_, 0) != FALSE;
    const DWORD endError = GetLastError();
    if (spoolerJob_) {
        spoolerJob_ = false;
        EndDocPrinter(device_.printer());
    }
    if (!ended) {
        SetLastError(endError);
        SetRefusal(error, "the driver refused to end the document");
        return false;
    }
    return true;
}

bool PrintJob::Reset(const DEVMODEW* devmode, std::string* error) {
    if (!open_ || device_.pdev() != pdev_) {
        SetError(error, "no document of this device is running");
        return false;
    }
    const DocumentEntries entries(device_.driver());
    HSURF fresh{};
    SURFOBJ* freshSurface = nullptr;
    const bool reset = device_.Reset(devmode, error, [&](DHPDEV oldPdev, DHPDEV newPdev) {
        fresh = entries.enableSurface(newPdev);
        if (fresh) freshSurface = EngLockSurface(fresh);
        EngUnlockSurface(surface_);
        entries.disableSurface(oldPdev);
    });
    if (!reset) return false;
    pdev_ = device_.pdev();
    hsurf_ = fresh;
    surface_ = freshSurface;
    if (surface_ == nullptr) {
        open_ = false;
        SetError(error, "the reset device did not enable its surface");
        return false;
    }
    LPWSTR name = documentName_.empty() ? nullptr : documentName_.data();
    SetLastError(ERROR_SUCCESS);
    if (!entries.startDoc(surface_, name, jobId_)) {
        open_ = false;
        SetError(error, "the reset device refused to go on with the document");
        return false;
    }
    return true;
}

}  // namespace host
