// The engine's path drawing: fills by both rules, one-pixel and wide pens,
// dashes, the band formats, clips, and input that draws nothing.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <numbers>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "host/engine_objects.h"
#include "host_test_util.h"

namespace {

using host::ClipRegion;
using host::EngineBrush;
using host::EnginePath;
using hosttest::Bit;
using hosttest::GuardedBitmap;

constexpr MIX kCopyPen = 13 | 13 << 8;  // R2_COPYPEN both ways
constexpr MIX kNot = 6 | 6 << 8;        // R2_NOT: inverts what is there

using Pixels = std::set<std::pair<LONG, LONG>>;

// A figure of pixel coordinates (scaled to 28.4).
EnginePath::Figure Figure(std::vector<std::pair<double, double>> points, bool closed) {
    EnginePath::Figure figure;
    figure.closed = closed;
    for (auto [x, y] : points)
        figure.points.push_back(
            {static_cast<FIX>(std::lround(x * 16)), static_cast<FIX>(std::lround(y * 16))});
    return figure;
}

// The pixels of an 8-bit band that are not `background`.
Pixels Drawn(GuardedBitmap& band, BYTE background = 0xFF) {
    Pixels drawn;
    for (LONG y = 0; y < band.surface()->sizlBitmap.cy; ++y)
        for (LONG x = 0; x < band.surface()->sizlBitmap.cx; ++x)
            if (band.row(y)[x] != background) drawn.insert({x, y});
    return drawn;
}

Pixels operator+(Pixels a, const Pixels& b) {
    a.insert(b.begin(), b.end());
    return a;
}

Pixels Box(LONG left, LONG top, LONG right, LONG bottom) {
    Pixels box;
    for (LONG y = top; y < bottom; ++y)
        for (LONG x = left; x < right; ++x) box.insert({x, y});
    return box;
}

LINEATTRS Cosmetic() {
    LINEATTRS line{};
    return line;
}

LINEATTRS Wide(float width, ULONG cap, ULONG join = JOIN_MITER) {
    LINEATTRS line{};
    line.fl = LA_GEOMETRIC;
    line.elWidth.e = width;
    line.iEndCap = cap;
    line.iJoin = join;
    line.eMiterLimit = 10;
    return line;
}

Pixels Fill(std::vector<EnginePath::Figure> figures, FLONG options, LONG size = 24) {
    GuardedBitmap band(size, size, BMF_8BPP, 0xFF);
    auto black = EngineBrush::Solid(0);
    EnginePath path(std::move(figures));
    EXPECT_TRUE(EngFillPath(band.surface(), path.object(), nullptr, black->object(), nullptr,
                            kCopyPen, options));
    EXPECT_TRUE(band.GuardsIntact());
    return Drawn(band);
}

Pixels Stroke(std::vector<EnginePath::Figure> figures, LINEATTRS line, LONG size = 48) {
    GuardedBitmap band(size, size, BMF_8BPP, 0xFF);
    auto black = EngineBrush::Solid(0);
    EnginePath path(std::move(figures));
    EXPECT_TRUE(EngStrokePath(band.surface(), path.object(), nullptr, nullptr, black->object(),
                              nullptr, &line, kCopyPen));
    EXPECT_TRUE(band.GuardsIntact());
    return Drawn(band);
}

// A pixel is inside when its centre is: whichever corner the rectangle
// starts from and whichever way it runs, and however its corners sit
// within their pixels.
TEST(EnginePathFill, RectanglesFillThePixelsWhoseCentresTheyHold) {
    struct Case {
        std::vector<std::pair<double, double>> points;
        Pixels expected;
    } cases[] = {
        {{{0, 0}, {10, 0}, {10, 5}, {0, 5}}, Box(0, 0, 10, 5)},
        {{{0, 5}, {0, 0}, {10, 0}, {10, 5}}, Box(0, 0, 10, 5)},
        {{{10, 5}, {10, 0}, {0, 0}, {0, 5}}, Box(0, 0, 10, 5)},
        {{{2.5, 1.5}, {6.5, 1.5}, {6.5, 3.4}, {2.5, 3.4}}, Box(2, 1, 6, 3)},
        {{{2.6, 1.6}, {6.6, 1.6}, {6.6, 3.6}, {2.6, 3.6}}, Box(3, 2, 7, 4)},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Fill({Figure(c.points, true)}, 0), c.expected);
        EXPECT_EQ(Fill({Figure(c.points, false)}, FP_WINDINGMODE), c.expected);
    }
}

// A five-pointed star drawn in one stroke crosses itself: the even-odd
// rule leaves the pentagon in its middle empty, the winding rule fills it.
TEST(EnginePathFill, StarCentreFollowsTheRule) {
    std::vector<std::pair<double, double>> star;
    for (int i = 0; i < 5; ++i) {
        const double angle = -std::numbers::pi / 2 + i * 4 * std::numbers::pi / 5;
        star.push_back({12 + 11 * std::cos(angle), 12 + 11 * std::sin(angle)});
    }
    const Pixels evenOdd = Fill({Figure(star, true)}, FP_ALTERNATEMODE);
    const Pixels winding = Fill({Figure(star, true)}, FP_WINDINGMODE);
    EXPECT_FALSE(evenOdd.count({12, 12}));
    EXPECT_TRUE(winding.count({12, 12}));
    EXPECT_TRUE(evenOdd.count({12, 4}));  // a point of the star
    EXPECT_TRUE(winding.count({12, 4}));
    for (const auto& p : evenOdd) EXPECT_TRUE(winding.count(p));
}

// One-pixel lines are Bresenham's walk without their end point; dashes are
// counted in pixels along the line, LA_ALTERNATE lights every other one.
TEST(EnginePathStroke, CosmeticLinesAreBresenhamWithoutTheEndPoint) {
    FLOAT_LONG dashes[] = {{.l = 3}, {.l = 2}};
    struct Case {
        std::vector<std::pair<double, double>> points;
        FLONG flags;
        ULONG styles;
        Pixels expected;
    } cases[] = {
        {{{0, 0}, {4, 2}}, 0, 0, {{0, 0}, {1, 0}, {2, 1}, {3, 1}}},
        {{{0, 3}, {0, 0}}, 0, 0, {{0, 3}, {0, 2}, {0, 1}}},
        {{{0, 0}, {3, 0}, {3, 2}}, 0, 0, {{0, 0}, {1, 0}, {2, 0}, {3, 0}, {3, 1}}},
        {{{0, 0}, {9, 0}}, 0, 2, {{0, 0}, {1, 0}, {2, 0}, {5, 0}, {6, 0}, {7, 0}}},
        {{{0, 0}, {9, 0}}, LA_STARTGAP, 2, {{2, 0}, {3, 0}, {4, 0}, {7, 0}, {8, 0}}},
        {{{0, 0}, {6, 0}}, LA_ALTERNATE, 0, {{0, 0}, {2, 0}, {4, 0}}},
    };
    for (const Case& c : cases) {
        LINEATTRS line = Cosmetic();
        line.fl = c.flags;
        line.cstyle = c.styles;
        line.pstyle = c.styles > 0 ? dashes : nullptr;
        EXPECT_EQ(Stroke({Figure(c.points, false)}, line, 12), c.expected);
    }
}

// A 20-pixel line 6 pixels wide: butt caps cover exactly its rectangle,
// square caps half the width more at each end, round caps a half disc
// more at each end (as near as pixels can).
TEST(EnginePathStroke, WideLineCapsCoverTheirArea) {
    const auto line = Figure({{10, 20}, {30, 20}}, false);
    EXPECT_EQ(Stroke({line}, Wide(6, ENDCAP_BUTT)), Box(10, 17, 30, 23));
    EXPECT_EQ(Stroke({line}, Wide(6, ENDCAP_SQUARE)), Box(7, 17, 33, 23));
    const Pixels round = Stroke({line}, Wide(6, ENDCAP_ROUND));
    const double area = 20 * 6 + std::numbers::pi * 9;
    EXPECT_NEAR(static_cast<double>(round.size()), area, area * 0.06);
    for (const auto& p : Box(10, 17, 30, 23)) EXPECT_TRUE(round.count(p));
    for (const auto& [x, y] : round) EXPECT_TRUE(x >= 7 && x < 33 && y >= 17 && y < 23);
}

// Joins: a right-angled corner is filled square by a miter, cut by a bevel
// and rounded by a round join; the miter's corner goes when the limit is
// below what the corner needs (sqrt 2).
TEST(EnginePathStroke, JoinsShapeTheCorner) {
    const auto corner = Figure({{10, 30}, {10, 10}, {30, 10}}, false);
    const Pixels miter = Stroke({corner}, Wide(8, ENDCAP_BUTT, JOIN_MITER));
    const Pixels bevel = Stroke({corner}, Wide(8, ENDCAP_BUTT, JOIN_BEVEL));
    const Pixels round = Stroke({corner}, Wide(8, ENDCAP_BUTT, JOIN_ROUND));
    LINEATTRS limited = Wide(8, ENDCAP_BUTT, JOIN_MITER);
    limited.eMiterLimit = 1.3f;
    EXPECT_EQ(miter, Box(6, 6, 14, 30) + Box(14, 6, 30, 14));
    EXPECT_TRUE(miter.count({6, 6}));
    EXPECT_FALSE(bevel.count({6, 6}));
    EXPECT_FALSE(round.count({6, 6}));
    EXPECT_TRUE(round.count({7, 7}));
    EXPECT_FALSE(bevel.count({7, 7}));
    EXPECT_EQ(Stroke({corner}, limited), bevel);
    EXPECT_LT(bevel.size(), round.size());
    EXPECT_LT(round.size(), miter.size());
}

// Dashes of a wide pen: each dash a piece of its own, with its caps.
TEST(EnginePathStroke, WideDashesDrawTheirPieces) {
    FLOAT_LONG dashes[] = {{.e = 4}, {.e = 3}};
    LINEATTRS line = Wide(2, ENDCAP_BUTT);
    line.cstyle = 2;
    line.pstyle = dashes;
    Pixels expected = Box(0, 9, 4, 11) + Box(7, 9, 11, 11) + Box(14, 9, 18, 11);
    EXPECT_EQ(Stroke({Figure({{0, 10}, {20, 10}}, false)}, line), expected);
    line.fl |= LA_STARTGAP;
    EXPECT_EQ(Stroke({Figure({{0, 10}, {20, 10}}, false)}, line),
              Box(3, 9, 7, 11) + Box(10, 9, 14, 11) + Box(17, 9, 20, 11));
}

// Every band format: a dark colour is black in one bit, a light one
// white; 8 bits take its grey and 24 bits its bytes.
TEST(EnginePathFill, EachBandFormatTakesTheColourItCan) {
    const auto box = Figure({{1, 1}, {9, 1}, {9, 3}, {1, 3}}, true);
    for (ULONG colour : {0x404040u, 0xC0C0C0u, 0x102030u}) {
        auto brush = EngineBrush::Solid(colour);
        EnginePath path({box});
        GuardedBitmap mono(12, 4, BMF_1BPP, 0x55), grey(12, 4, BMF_8BPP, 7),
            rgb(12, 4, BMF_24BPP, 7);
        for (GuardedBitmap* band : {&mono, &grey, &rgb})
            ASSERT_TRUE(EngFillPath(band->surface(), path.object(), nullptr, brush->object(),
                                    nullptr, kCopyPen, 0));
        const BYTE greyLevel = static_cast<BYTE>(
            (5 * (colour & 0xFF) + 9 * ((colour >> 8) & 0xFF) + 2 * ((colour >> 16) & 0xFF)) >> 4);
        const BYTE background = 0x55;
        const int monoBit = (colour & 0xFF) + ((colour >> 8) & 0xFF) + (colour >> 16) >= 383;
        for (LONG y = 0; y < 4; ++y)
            for (LONG x = 0; x < 12; ++x) {
                const bool inside = x >= 1 && x < 9 && y >= 1 && y < 3;
                EXPECT_EQ(Bit(mono.row(y), x), inside ? monoBit : Bit(&background, x & 7));
                EXPECT_EQ(grey.row(y)[x], inside ? greyLevel : 7);
                const BYTE* pixel = rgb.row(y) + x * 3;
                EXPECT_EQ(pixel[0], inside ? (colour & 0xFF) : 7);
                EXPECT_EQ(pixel[1], inside ? ((colour >> 8) & 0xFF) : 7);
                EXPECT_EQ(pixel[2], inside ? (colour >> 16) : 7);
            }
        for (GuardedBitmap* band : {&mono, &grey, &rgb}) EXPECT_TRUE(band->GuardsIntact());
    }
}

// A pattern brush repeats from the brush origin, as in EngBitBlt's fills.
TEST(EnginePathFill, PatternBrushesRepeatFromTheBrushOrigin) {
    auto stripes = EngineBrush::Pattern(3, 1, {0x000000, 0xFFFFFF, 0xFFFFFF});
    ASSERT_NE(stripes, nullptr);
    EnginePath box({Figure({{0, 0}, {9, 0}, {9, 2}, {0, 2}}, true)});
    GuardedBitmap band(10, 2, BMF_8BPP, 7);
    POINTL origin{1, 0};
    ASSERT_TRUE(EngFillPath(band.surface(), box.object(), nullptr, stripes->object(), &origin,
                            kCopyPen, 0));
    for (LONG y = 0; y < 2; ++y)
        for (LONG x = 0; x < 10; ++x)
            EXPECT_EQ(band.row(y)[x], x == 9 ? 7 : (x % 3 == 1 ? 0 : 255)) << x;
}

// Through overlapping clip rectangles an inverting mix touches every
// pixel once, for fills and for strokes; pixels outside stay.
TEST(EnginePathFill, ClipIsHonouredAndEachPixelDrawnOnce) {
    ClipRegion clip({{0, 0, 6, 6}, {3, 3, 10, 10}});
    auto brush = EngineBrush::Solid(0);
    EnginePath box({Figure({{0, 0}, {12, 0}, {12, 12}, {0, 12}}, true)});
    GuardedBitmap filled(12, 12, BMF_8BPP, 0x0F), stroked(12, 12, BMF_8BPP, 0x0F);
    ASSERT_TRUE(EngFillPath(filled.surface(), box.object(), clip.object(), brush->object(), nullptr,
                            kNot, 0));
    EnginePath diagonal({Figure({{0, 0}, {12, 12}}, false)});
    LINEATTRS thin = Cosmetic();
    ASSERT_TRUE(EngStrokePath(stroked.surface(), diagonal.object(), clip.object(), nullptr,
                              brush->object(), nullptr, &thin, kNot));
    const Pixels inClip = Box(0, 0, 6, 6) + Box(3, 3, 10, 10);
    Pixels diagonalInClip;
    for (LONG i = 0; i < 10; ++i) diagonalInClip.insert({i, i});
    EXPECT_EQ(Drawn(filled, 0x0F), inClip);
    for (const auto& [x, y] : inClip) EXPECT_EQ(filled.row(y)[x], 0xF0);
    EXPECT_EQ(Drawn(stroked, 0x0F), diagonalInClip);
    for (const auto& [x, y] : diagonalInClip) EXPECT_EQ(stroked.row(y)[x], 0xF0);
}

// Input that cannot be drawn: refused (FALSE) when the call is unusable,
// TRUE with nothing drawn when the path draws nothing; nothing outside the
// band is ever touched.
TEST(EnginePathBadInput, NothingCrashesAndTheResultIsDocumented) {
    auto black = EngineBrush::Solid(0);
    GuardedBitmap band(16, 8, BMF_1BPP, 0xFF);
    const FIX big = std::numeric_limits<FIX>::max(), small = std::numeric_limits<FIX>::min();
    LINEATTRS thin = Cosmetic(), wide = Wide(3, ENDCAP_ROUND, JOIN_MITER);
    FLOAT_LONG dashes[] = {{.e = 0.5f}, {.e = 0.5f}};
    LINEATTRS dashed = wide;
    dashed.cstyle = 2;
    dashed.pstyle = dashes;

    EnginePath empty({});
    EnginePath point({Figure({{3, 3}}, true)});
    EnginePath flat({Figure({{1, 1}, {5, 1}, {9, 1}}, true), Figure({{2, 2}, {2, 2}}, true)});
    EnginePath far({EnginePath::Figure{{{small, small}, {big, small}, {big, big}}, true}});
    EnginePath outside(
        {EnginePath::Figure{{{small, small}, {small + 16, small}, {small, small + 16}}, true}});
    std::vector<POINTFIX> many;
    for (int i = 0; i < 1000000; ++i) many.push_back({(i % 2) * 16 * 10, 16 * (i % 7)});
    EnginePath millions({EnginePath::Figure{many, false}});

    struct Case {
        const char* name;
        PATHOBJ* path;
        bool fillDrawsNothing;
        bool strokesDrawNothing;
        bool widePens;  // a million points stroked wide would take a while
    } cases[] = {
        {"empty", empty.object(), true, true, true},
        {"one point", point.object(), true, false, true},  // a round cap's dot
        {"no area", flat.object(), true, false, true},     // lines, but nothing to fill
        {"near the limits", far.object(), false, false, true},
        {"outside", outside.object(), true, true, true},
        {"a million points", millions.object(), false, false, false},
    };
    auto untouched = [&band] {
        for (LONG y = 0; y < 8; ++y)
            if (band.row(y)[0] != 0xFF || band.row(y)[1] != 0xFF) return false;
        return true;
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::memset(band.row(0), 0xFF, static_cast<std::size_t>(band.stride()) * 8);
        EXPECT_TRUE(EngFillPath(band.surface(), c.path, nullptr, black->object(), nullptr, kCopyPen,
                                FP_WINDINGMODE));
        EXPECT_EQ(untouched(), c.fillDrawsNothing);
        std::memset(band.row(0), 0xFF, static_cast<std::size_t>(band.stride()) * 8);
        for (LINEATTRS* line : {&thin, &wide, &dashed}) {
            if (line != &thin && !c.widePens) continue;
            EXPECT_TRUE(EngStrokePath(band.surface(), c.path, nullptr, nullptr, black->object(),
                                      nullptr, line, kCopyPen));
        }
        EXPECT_EQ(untouched(), c.strokesDrawNothing);
        EXPECT_TRUE(band.GuardsIntact());
    }

    // Unusable calls.
    LINEATTRS nan = Wide(std::numeric_limits<float>::quiet_NaN(), ENDCAP_BUTT);
    EXPECT_FALSE(EngStrokePath(band.surface(), far.object(), nullptr, nullptr, black->object(),
                               nullptr, &nan, kCopyPen));
    EXPECT_FALSE(
        EngFillPath(band.surface(), nullptr, nullptr, black->object(), nullptr, kCopyPen, 0));
    EXPECT_FALSE(EngFillPath(band.surface(), far.object(), nullptr, nullptr, nullptr, kCopyPen, 0));
    EXPECT_FALSE(
        EngFillPath(band.surface(), far.object(), nullptr, black->object(), nullptr, 0, 0));
    EXPECT_FALSE(EngStrokePath(band.surface(), far.object(), nullptr, nullptr, black->object(),
                               nullptr, nullptr, kCopyPen));
    EXPECT_FALSE(
        EngFillPath(nullptr, far.object(), nullptr, black->object(), nullptr, kCopyPen, 0));
}

}  // namespace
