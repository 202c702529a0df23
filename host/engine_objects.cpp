// The engine's clip, translation and brush objects (see engine_objects.h).

#include "host/engine_objects.h"

#include <algorithm>
#include <cstdlib>
#include <map>
#include <mutex>
#include <new>

#include "host/object_registry.h"

namespace host {

struct ClipRegion::State {
    CLIPOBJ object{};
    std::vector<RECTL> rectangles;
    std::size_t next = 0;
};

struct Translation::State {
    XLATEOBJ object{};
    std::vector<ULONG> table;
};

struct EngineBrush::State {
    BRUSHOBJ object{};
    PFN_DrvRealizeBrush realize = nullptr;
    SURFOBJ* target = nullptr;
    bool realizeTried = false;
    LONG width = 0;
    LONG height = 0;
    std::vector<ULONG> pattern;
    ULONG hatch = 6;  // the style handed to the driver: 6 when not hatched
    std::vector<std::unique_ptr<BYTE[]>> blocks;  // the driver's realization
};

struct EnginePath::State {
    PATHOBJ object{};
    std::vector<Figure> figures;
    std::size_t next = 0;
};

namespace {

// Never destroyed: objects may outlive static destruction order.
Registry<ClipRegion::State>& Clips() {
    static auto* registry = new Registry<ClipRegion::State>;
    return *registry;
}
Registry<Translation::State>& Translations() {
    static auto* registry = new Registry<Translation::State>;
    return *registry;
}
Registry<EngineBrush::State>& Brushes() {
    static auto* registry = new Registry<EngineBrush::State>;
    return *registry;
}
Registry<EnginePath::State>& Paths() {
    static auto* registry = new Registry<EnginePath::State>;
    return *registry;
}

// Source types of a translation without a table, kept in iSrcType.
constexpr USHORT kSourceRedFirst = PAL_RGB;
constexpr USHORT kSourceBlueFirst = PAL_BGR;
constexpr USHORT kSourceFiveFiveFive = PAL_BITFIELDS;

ULONG SwapRedBlue(ULONG value) {
    return ((value & 0xFF) << 16) | (value & 0xFF00) | ((value >> 16) & 0xFF);
}

// Five bits per channel, blue in the low bits; 31 widens to 255 exactly.
ULONG FromFiveFiveFive(ULONG value) {
    auto widen = [](ULONG five) { return (five << 3) | (five >> 2); };
    const ULONG blue = widen(value & 0x1F);
    const ULONG green = widen((value >> 5) & 0x1F);
    const ULONG red = widen((value >> 10) & 0x1F);
    return red | (green << 8) | (blue << 16);
}

bool Usable(const RECTL& rect) {
    return rect.left < rect.right && rect.top < rect.bottom;
}

}  // namespace

// ---- clip regions -----------------------------------------------------------

ClipRegion::ClipRegion() : ClipRegion(std::vector<RECTL>{}) {}

ClipRegion::ClipRegion(std::vector<RECTL> given) : state_(std::make_unique<State>()) {
    std::vector<RECTL> rectangles = DisjointRectangles(std::move(given));
    CLIPOBJ& clip = state_->object;
    clip.iUniq = 0;
    clip.iMode = TC_RECTANGLES;
    if (rectangles.empty()) {
        clip.iDComplexity = DC_TRIVIAL;
        clip.iFComplexity = FC_RECT;
    } else {
        clip.rclBounds = BoundsOf(rectangles);
        clip.iDComplexity = rectangles.size() == 1 ? DC_RECT : DC_COMPLEX;
        clip.iFComplexity = rectangles.size() == 1 ? FC_RECT : FC_COMPLEX;
    }
    state_->rectangles = std::move(rectangles);
    Clips().Add(&state_->object, state_.get());
}

ClipRegion::~ClipRegion() {
    Clips().Remove(&state_->object);
}

CLIPOBJ* ClipRegion::object() {
    return &state_->object;
}

const std::vector<RECTL>& ClipRegion::rectangles() const {
    return state_->rectangles;
}

namespace {

// The parts of `piece` outside `cut`: up to four rectangles (the band above,
// the band below, and the left and right parts of the band between).
void Subtract(const RECTL& piece, const RECTL& cut, std::vector<RECTL>* out) {
    const bool overlap = piece.left < cut.right && cut.left < piece.right &&
                         piece.top < cut.bottom && cut.top < piece.bottom;
    if (!overlap) {
        out->push_back(piece);
        return;
    }
    const LONG top = std::max(piece.top, cut.top);
    const LONG bottom = std::min(piece.bottom, cut.bottom);
    const RECTL parts[] = {{piece.left, piece.top, piece.right, top},
                           {piece.left, bottom, piece.right, piece.bottom},
                           {piece.left, top, std::max(piece.left, cut.left), bottom},
                           {std::min(piece.right, cut.right), top, piece.right, bottom}};
    for (const RECTL& part : parts)
        if (Usable(part)) out->push_back(part);
}

}  // namespace

// Each rectangle loses what earlier ones already cover, so rectangles that
// overlap nothing come out as they were given.
std::vector<RECTL> DisjointRectangles(std::vector<RECTL> rectangles) {
    std::vector<RECTL> kept;
    std::vector<RECTL> pieces, next;
    for (const RECTL& given : rectangles) {
        if (!Usable(given)) continue;
        pieces.assign(1, given);
        for (const RECTL& earlier : kept) {
            next.clear();
            for (const RECTL& piece : pieces) Subtract(piece, earlier, &next);
            pieces.swap(next);
            if (pieces.empty()) break;
        }
        kept.insert(kept.end(), pieces.begin(), pieces.end());
    }
    std::stable_sort(kept.begin(), kept.end(), [](const RECTL& a, const RECTL& b) {
        return a.top != b.top ? a.top < b.top : a.left < b.left;
    });
    return kept;
}

std::vector<RECTL> ClipRectangles(CLIPOBJ* clip, bool* trivial) {
    *trivial = false;
    if (clip == nullptr || clip->iDComplexity == DC_TRIVIAL) {
        *trivial = true;
        return {};
    }
    if (clip->iDComplexity == DC_RECT) return {clip->rclBounds};
    std::vector<RECTL> rectangles;
    if (CLIPOBJ_cEnumStart(clip, TRUE, CT_RECTANGLES, CD_ANY, 0) == 0xFFFFFFFF) return {};
    struct {
        ULONG c;
        RECTL arcl[16];
    } batch;
    for (;;) {
        batch.c = 0;
        const BOOL more = CLIPOBJ_bEnum(clip, sizeof batch, reinterpret_cast<ULONG*>(&batch));
        const ULONG count = std::min<ULONG>(batch.c, 16);
        rectangles.insert(rectangles.end(), batch.arcl, batch.arcl + count);
        if (!more) break;
    }
    return rectangles;
}

// ---- translations -----------------------------------------------------------

Translation::Translation(std::unique_ptr<State> state) : state_(std::move(state)) {
    Translations().Add(&state_->object, state_.get());
}

Translation::~Translation() {
    Translations().Remove(&state_->object);
}

XLATEOBJ* Translation::object() {
    return &state_->object;
}

std::unique_ptr<Translation> Translation::FromPalette(const std::vector<ULONG>& rrggbb) {
    if (rrggbb.empty() || rrggbb.size() > 256) return nullptr;
    auto state = std::make_unique<State>();
    for (ULONG entry : rrggbb) state->table.push_back(SwapRedBlue(entry & 0xFFFFFF));
    XLATEOBJ& xlate = state->object;
    xlate.flXlate = XO_TABLE;
    xlate.iSrcType = PAL_INDEXED;
    xlate.iDstType = PAL_RGB;
    xlate.cEntries = static_cast<ULONG>(state->table.size());
    xlate.pulXlate = state->table.data();
    return std::unique_ptr<Translation>(new Translation(std::move(state)));
}

std::unique_ptr<Translation> Translation::FromEnginePalette(HPALETTE palette) {
    PaletteInfo info;
    if (!LookupPalette(palette, &info)) return nullptr;
    switch (info.mode) {
        case PAL_INDEXED:
            return FromPalette(std::vector<ULONG>(info.colours, info.colours + info.count));
        case PAL_RGB:
            return Trivial();
        case PAL_BGR:
            return ForDirectFormat(BMF_24BPP);
        case PAL_BITFIELDS:
            return ForDirectFormat(BMF_16BPP);
        default:
            return nullptr;
    }
}

std::unique_ptr<Translation> Translation::ForDirectFormat(ULONG format) {
    USHORT source = 0;
    switch (format) {
        case BMF_16BPP:
            source = kSourceFiveFiveFive;
            break;
        case BMF_24BPP:
        case BMF_32BPP:
            source = kSourceBlueFirst;
            break;
        default:
            return nullptr;
    }
    auto state = std::make_unique<State>();
    state->object.flXlate = 0;
    state->object.iSrcType = source;
    state->object.iDstType = PAL_RGB;
    return std::unique_ptr<Translation>(new Translation(std::move(state)));
}

std::unique_ptr<Translation> Translation::Trivial() {
    auto state = std::make_unique<State>();
    state->object.flXlate = XO_TRIVIAL;
    state->object.iSrcType = kSourceRedFirst;
    state->object.iDstType = PAL_RGB;
    return std::unique_ptr<Translation>(new Translation(std::move(state)));
}

// ---- brushes ----------------------------------------------------------------

EngineBrush::EngineBrush(std::unique_ptr<State> state) : state_(std::move(state)) {
    Brushes().Add(&state_->object, state_.get());
}

EngineBrush::~EngineBrush() {
    Brushes().Remove(&state_->object);
}

BRUSHOBJ* EngineBrush::object() {
    return &state_->object;
}

std::unique_ptr<EngineBrush> EngineBrush::Solid(ULONG colour, PFN_DrvRealizeBrush realize,
                                                SURFOBJ* target) {
    auto state = std::make_unique<State>();
    state->object.iSolidColor = colour & 0xFFFFFF;
    state->realize = realize;
    state->target = target;
    state->width = state->height = 1;
    state->pattern = {colour & 0xFFFFFF};
    return std::unique_ptr<EngineBrush>(new EngineBrush(std::move(state)));
}

std::unique_ptr<EngineBrush> EngineBrush::Pattern(LONG width, LONG height,
                                                  const std::vector<ULONG>& colours) {
    if (width <= 0 || height <= 0 || width > 256 || height > 256) return nullptr;
    const auto count = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    if (colours.size() < count) return nullptr;
    auto state = std::make_unique<State>();
    state->object.iSolidColor = kPatternBrush;
    state->width = width;
    state->height = height;
    state->pattern.assign(colours.begin(), colours.begin() + static_cast<std::ptrdiff_t>(count));
    for (ULONG& c : state->pattern) c &= 0xFFFFFF;
    return std::unique_ptr<EngineBrush>(new EngineBrush(std::move(state)));
}

namespace {

// Whether pixel (x, y) of an 8x8 hatch cell is on a line of `style`.
bool OnHatchLine(ULONG style, int x, int y) {
    const bool horizontal = y == 0;
    const bool vertical = x == 0;
    const bool down = x == y;    // top left to bottom right
    const bool up = x + y == 7;  // bottom left to top right
    switch (style) {
        case HS_HORIZONTAL:
            return horizontal;
        case HS_VERTICAL:
            return vertical;
        case HS_FDIAGONAL:
            return down;
        case HS_BDIAGONAL:
            return up;
        case HS_CROSS:
            return horizontal || vertical;
        default:
            return down || up;
    }
}

}  // namespace

std::unique_ptr<EngineBrush> EngineBrush::Hatch(ULONG style, ULONG colour,
                                                PFN_DrvRealizeBrush realize, SURFOBJ* target) {
    if (style > HS_DIAGCROSS) return nullptr;
    constexpr ULONG kWhite = 0xFFFFFF;
    std::vector<ULONG> cells(64);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x)
            cells[static_cast<std::size_t>(y * 8 + x)] =
                OnHatchLine(style, x, y) ? colour & 0xFFFFFF : kWhite;
    std::unique_ptr<EngineBrush> brush = Pattern(8, 8, cells);
    brush->state_->hatch = style;
    brush->state_->realize = realize;
    brush->state_->target = target;
    return brush;
}

bool LookupBrushPattern(const BRUSHOBJ* brush, BrushPattern* pattern) {
    EngineBrush::State* state = Brushes().Find(brush);
    if (state == nullptr) return false;
    pattern->width = state->width;
    pattern->height = state->height;
    pattern->colours = state->pattern.data();
    return true;
}

RECTL BoundsOf(const std::vector<RECTL>& rects) {
    RECTL bounds = rects[0];
    for (const RECTL& r : rects) {
        bounds.left = std::min(bounds.left, r.left);
        bounds.top = std::min(bounds.top, r.top);
        bounds.right = std::max(bounds.right, r.right);
        bounds.bottom = std::max(bounds.bottom, r.bottom);
    }
    return bounds;
}

EnginePath::EnginePath(std::vector<Figure> figures) : state_(std::make_unique<State>()) {
    figures.erase(std::remove_if(figures.begin(), figures.end(),
                                 [](const Figure& f) { return f.points.empty(); }),
                  figures.end());
    ULONG points = 0;
    for (const Figure& figure : figures) points += static_cast<ULONG>(figure.points.size());
    state_->object.cCurves = points;
    state_->figures = std::move(figures);
    Paths().Add(&state_->object, state_.get());
}

EnginePath::~EnginePath() {
    Paths().Remove(&state_->object);
}

PATHOBJ* EnginePath::object() {
    return &state_->object;
}

const std::vector<EnginePath::Figure>& EnginePath::figures() const {
    return state_->figures;
}

const std::vector<EnginePath::Figure>* LookupPathFigures(const PATHOBJ* path) {
    const EnginePath::State* state = Paths().Find(path);
    return state == nullptr ? nullptr : &state->figures;
}

}  // namespace host

using host::ClipRegion;
using host::EngineBrush;
using host::EnginePath;
using host::Translation;

extern "C" {

// Every walk hands out all rectangles in the order they were given; the
// kind, direction and limit asked for do not change that. 0xFFFFFFFF (more
// than can be counted cheaply) is never returned: the count is exact.
ULONG CLIPOBJ_cEnumStart(CLIPOBJ* clip, BOOL, ULONG, ULONG, ULONG) {
    ClipRegion::State* state = host::Clips().Find(clip);
    if (state == nullptr) return 0;
    state->next = 0;
    return static_cast<ULONG>(state->rectangles.size());
}

BOOL CLIPOBJ_bEnum(CLIPOBJ* clip, ULONG bytes, ULONG* rects) {
    if (rects == nullptr || bytes < sizeof(ULONG)) return FALSE;
    auto* out = reinterpret_cast<ENUMRECTS*>(rects);
    out->c = 0;
    ClipRegion::State* state = host::Clips().Find(clip);
    if (state == nullptr) return FALSE;
    const std::size_t room = (bytes - offsetof(ENUMRECTS, arcl)) / sizeof(RECTL);
    // A buffer that holds no rectangle ends the walk rather than never
    // moving it on.
    if (room == 0) return FALSE;
    const std::size_t left =
        state->rectangles.size() - std::min(state->next, state->rectangles.size());
    const std::size_t count = std::min(room, left);
    for (std::size_t i = 0; i < count; ++i) out->arcl[i] = state->rectangles[state->next + i];
    state->next += count;
    out->c = static_cast<ULONG>(count);
    return state->next < state->rectangles.size() ? TRUE : FALSE;
}

void PATHOBJ_vEnumStart(PATHOBJ* path) {
    if (EnginePath::State* state = host::Paths().Find(path)) state->next = 0;
}

BOOL PATHOBJ_bEnum(PATHOBJ* path, PATHDATA* data) {
    if (data == nullptr) return FALSE;
    *data = PATHDATA{};
    EnginePath::State* state = host::Paths().Find(path);
    if (state == nullptr || state->next >= state->figures.size()) return FALSE;
    EnginePath::Figure& figure = state->figures[state->next++];
    data->flags = PD_BEGINSUBPATH | PD_ENDSUBPATH | (figure.closed ? PD_CLOSEFIGURE : 0);
    data->count = static_cast<ULONG>(figure.points.size());
    data->pptfx = figure.points.data();
    return state->next < state->figures.size() ? TRUE : FALSE;
}

void PATHOBJ_vGetBounds(PATHOBJ* path, RECTFX* bounds) {
    if (bounds == nullptr) return;
    *bounds = RECTFX{};
    const EnginePath::State* state = host::Paths().Find(path);
    if (state == nullptr || state->figures.empty()) return;
    const POINTFIX first = state->figures.front().points.front();
    *bounds = {first.x, first.y, first.x, first.y};
    for (const EnginePath::Figure& figure : state->figures) {
        for (const POINTFIX& p : figure.points) {
            bounds->xLeft = std::min(bounds->xLeft, p.x);
            bounds->yTop = std::min(bounds->yTop, p.y);
            bounds->xRight = std::max(bounds->xRight, p.x);
            bounds->yBottom = std::max(bounds->yBottom, p.y);
        }
    }
}

// Indices past a table translate to black (0): a short palette never makes
// the engine read past it.
ULONG XLATEOBJ_iXlate(XLATEOBJ* xlate, ULONG index) {
    if (xlate == nullptr || (xlate->flXlate & XO_TRIVIAL) != 0) return index;
    if ((xlate->flXlate & XO_TABLE) != 0) {
        if (xlate->pulXlate == nullptr || index >= xlate->cEntries) return 0;
        return xlate->pulXlate[index];
    }
    switch (xlate->iSrcType) {
        case host::kSourceBlueFirst:
            return host::SwapRedBlue(index & 0xFFFFFF);
        case host::kSourceFiveFiveFive:
            return host::FromFiveFiveFive(index & 0x7FFF);
        default:
            return index;
    }
}

// The driver is asked once; a refusal leaves the brush without a
// realization (null) and the engine draws with its own form.
PVOID BRUSHOBJ_pvGetRbrush(BRUSHOBJ* brush) {
    if (brush == nullptr) return nullptr;
    EngineBrush::State* state = host::Brushes().Find(brush);
    if (state == nullptr || brush->pvRbrush != nullptr) return brush->pvRbrush;
    if (state->realizeTried || state->realize == nullptr) return nullptr;
    state->realizeTried = true;

    // The driver realizes from a pattern surface of the brush's colours, 24
    // bits blue, green, red (1x1 for a solid brush, as one reaches it).
    HBITMAP bitmap =
        EngCreateBitmap({state->width, state->height}, 0, BMF_24BPP, BMF_TOPDOWN, nullptr);
    SURFOBJ* pattern = bitmap ? EngLockSurface(HSURF{bitmap.value}) : nullptr;
    auto xlate = Translation::ForDirectFormat(BMF_24BPP);
    BOOL realized = FALSE;
    if (pattern != nullptr && xlate) {
        for (LONG y = 0; y < state->height; ++y) {
            BYTE* row = static_cast<BYTE*>(pattern->pvScan0) + y * pattern->lDelta;
            for (LONG x = 0; x < state->width; ++x) {
                const ULONG colour = state->pattern[static_cast<std::size_t>(y * state->width + x)];
                row[x * 3] = static_cast<BYTE>(colour >> 16);
                row[x * 3 + 1] = static_cast<BYTE>(colour >> 8);
                row[x * 3 + 2] = static_cast<BYTE>(colour);
            }
        }
        realized =
            state->realize(brush, state->target, pattern, nullptr, xlate->object(), state->hatch);
    }
    if (pattern != nullptr) EngUnlockSurface(pattern);
    if (bitmap) EngDeleteSurface(HSURF{bitmap.value});
    if (!realized) brush->pvRbrush = nullptr;
    return brush->pvRbrush;
}

// The block becomes the brush's realization at once.
PVOID BRUSHOBJ_pvAllocRbrush(BRUSHOBJ* brush, ULONG bytes) {
    if (brush == nullptr) return nullptr;
    EngineBrush::State* state = host::Brushes().Find(brush);
    if (state == nullptr) return nullptr;
    BYTE* block = new (std::nothrow) BYTE[bytes == 0 ? 1 : bytes]();
    if (block == nullptr) return nullptr;
    state->blocks.emplace_back(block);
    brush->pvRbrush = block;
    return block;
}

}  // extern "C"
