// The engine's clip, translation and brush objects.
#include "host/engine_objects.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

using host::ClipRegion;
using host::EngineBrush;
using host::EnginePath;
using host::Translation;

bool SameRect(const RECTL& a, const RECTL& b) {
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

TEST(EngineClip, ComplexityFollowsTheNumberOfRectangles) {
    ClipRegion none;
    EXPECT_EQ(none.object()->iDComplexity, DC_TRIVIAL);
    ClipRegion onlyEmpty({{5, 5, 5, 9}, {8, 2, 3, 4}});  // empty and inverted are dropped
    EXPECT_EQ(onlyEmpty.object()->iDComplexity, DC_TRIVIAL);

    ClipRegion one({{1, 2, 3, 4}});
    EXPECT_EQ(one.object()->iDComplexity, DC_RECT);
    EXPECT_TRUE(SameRect(one.object()->rclBounds, {1, 2, 3, 4}));

    ClipRegion two({{1, 2, 3, 4}, {-5, 3, 0, 10}});
    EXPECT_EQ(two.object()->iDComplexity, DC_COMPLEX);
    EXPECT_TRUE(SameRect(two.object()->rclBounds, {-5, 2, 3, 10}));
}

// Overlapping rectangles are split: every pixel covered is in exactly one
// rectangle handed out, and they come top-down, then left to right.
TEST(EngineClip, OverlappingRectanglesBecomeDisjoint) {
    const std::vector<RECTL> given = {{2, 2, 6, 6}, {0, 0, 4, 4}, {3, 1, 5, 9}, {0, 0, 4, 4}};
    ClipRegion clip(given);
    const std::vector<RECTL>& out = clip.rectangles();
    for (LONG y = -1; y < 10; ++y)
        for (LONG x = -1; x < 7; ++x) {
            auto holds = [&](const RECTL& r) {
                return x >= r.left && x < r.right && y >= r.top && y < r.bottom;
            };
            const bool covered = std::any_of(given.begin(), given.end(), holds);
            EXPECT_EQ(std::count_if(out.begin(), out.end(), holds), covered ? 1 : 0)
                << x << "," << y;
        }
    for (std::size_t i = 1; i < out.size(); ++i)
        EXPECT_TRUE(out[i - 1].top < out[i].top ||
                    (out[i - 1].top == out[i].top && out[i - 1].left < out[i].left));
    EXPECT_TRUE(SameRect(clip.object()->rclBounds, {0, 0, 6, 9}));
}

// Every rectangle comes out once, however small the caller's buffer, and a
// fresh start walks them all again.
TEST(EngineClip, EnumerationHonoursTheCallersBufferSize) {
    std::vector<RECTL> given;
    for (LONG i = 0; i < 7; ++i) given.push_back({i, 0, i + 1, 2 + i});
    ClipRegion clip(given);
    for (std::size_t room : {1u, 2u, 3u, 7u, 10u}) {
        SCOPED_TRACE(room);
        EXPECT_EQ(CLIPOBJ_cEnumStart(clip.object(), TRUE, CT_RECTANGLES, CD_ANY, 0), 7u);
        // A guard rectangle after the room the caller claims.
        std::vector<ULONG> buffer(1 + (room + 1) * 4, 0xABABABABu);
        const ULONG bytes = static_cast<ULONG>(sizeof(ULONG) + room * sizeof(RECTL));
        std::vector<RECTL> seen;
        BOOL more = TRUE;
        for (int calls = 0; more && calls < 20; ++calls) {
            more = CLIPOBJ_bEnum(clip.object(), bytes, buffer.data());
            auto* rects = reinterpret_cast<ENUMRECTS*>(buffer.data());
            ASSERT_LE(rects->c, room);
            seen.insert(seen.end(), rects->arcl, rects->arcl + rects->c);
            EXPECT_EQ(buffer[1 + room * 4], 0xABABABABu);
        }
        EXPECT_FALSE(more);
        ASSERT_EQ(seen.size(), given.size());
        for (std::size_t i = 0; i < given.size(); ++i) EXPECT_TRUE(SameRect(seen[i], given[i]));
    }
    // A buffer without room for one rectangle ends the walk.
    ULONG header = 0;
    CLIPOBJ_cEnumStart(clip.object(), TRUE, CT_RECTANGLES, CD_ANY, 0);
    EXPECT_FALSE(CLIPOBJ_bEnum(clip.object(), sizeof header, &header));
    EXPECT_EQ(header, 0u);
    EXPECT_FALSE(CLIPOBJ_bEnum(clip.object(), 2, &header));
    EXPECT_FALSE(CLIPOBJ_bEnum(clip.object(), 64, nullptr));

    // A clip object this engine did not make hands out nothing.
    CLIPOBJ foreign{};
    foreign.iDComplexity = DC_COMPLEX;
    EXPECT_EQ(CLIPOBJ_cEnumStart(&foreign, TRUE, CT_RECTANGLES, CD_ANY, 0), 0u);
    ULONG out[5] = {99};
    EXPECT_FALSE(CLIPOBJ_bEnum(&foreign, sizeof out, out));
    EXPECT_EQ(out[0], 0u);
}

TEST(EngineTranslation, TablesAndDirectFormatsGiveRedFirstColours) {
    auto palette = Translation::FromPalette({0x000000, 0xFFFFFF, 0xFF0000, 0x123456});
    ASSERT_TRUE(palette);
    XLATEOBJ* table = palette->object();
    EXPECT_EQ(table->flXlate, XO_TABLE);
    ASSERT_EQ(table->cEntries, 4u);
    EXPECT_EQ(table->pulXlate[2], 0x0000FFu);  // red in the low byte
    EXPECT_EQ(XLATEOBJ_iXlate(table, 3), 0x563412u);
    EXPECT_EQ(XLATEOBJ_iXlate(table, 4), 0u);  // past the table: black
    EXPECT_FALSE(Translation::FromPalette({}));
    EXPECT_FALSE(Translation::FromPalette(std::vector<ULONG>(257)));

    auto bgr = Translation::ForDirectFormat(BMF_32BPP);
    ASSERT_TRUE(bgr);
    EXPECT_EQ(bgr->object()->flXlate, 0u);
    EXPECT_EQ(XLATEOBJ_iXlate(bgr->object(), 0x112233), 0x332211u);

    auto fiveFiveFive = Translation::ForDirectFormat(BMF_16BPP);
    ASSERT_TRUE(fiveFiveFive);
    EXPECT_EQ(XLATEOBJ_iXlate(fiveFiveFive->object(), 0x7FFF), 0xFFFFFFu);
    EXPECT_EQ(XLATEOBJ_iXlate(fiveFiveFive->object(), 0x7C00), 0x0000FFu);  // red
    EXPECT_EQ(XLATEOBJ_iXlate(fiveFiveFive->object(), 0x001F), 0xFF0000u);  // blue
    EXPECT_EQ(XLATEOBJ_iXlate(fiveFiveFive->object(), (1 << 10) | (2 << 5) | 3), 0x181008u);
    EXPECT_FALSE(Translation::ForDirectFormat(BMF_8BPP));

    auto trivial = Translation::Trivial();
    EXPECT_EQ(trivial->object()->flXlate, XO_TRIVIAL);
    EXPECT_EQ(XLATEOBJ_iXlate(trivial->object(), 0x123456), 0x123456u);

    ULONG entries[2] = {0x0000FF, 0x00FF00};
    HPALETTE indexed = EngCreatePalette(PAL_INDEXED, 2, entries, 0, 0, 0);
    auto fromEngine = Translation::FromEnginePalette(indexed);
    ASSERT_TRUE(fromEngine);
    EXPECT_EQ(XLATEOBJ_iXlate(fromEngine->object(), 0), 0xFF0000u);
    HPALETTE blueFirst = EngCreatePalette(PAL_BGR, 0, nullptr, 0, 0, 0);
    auto swapped = Translation::FromEnginePalette(blueFirst);
    ASSERT_TRUE(swapped);
    EXPECT_EQ(XLATEOBJ_iXlate(swapped->object(), 0x0000FF), 0xFF0000u);
    EngDeletePalette(indexed);
    EngDeletePalette(blueFirst);
    EXPECT_FALSE(Translation::FromEnginePalette(indexed));
}

// A stand-in for the driver's DrvRealizeBrush.
struct RealizeLog {
    int calls = 0;
    BOOL answer = FALSE;
    ULONG patternBytes[3] = {};
    SURFOBJ* target = nullptr;
};
RealizeLog gRealize;

BOOL FakeRealize(BRUSHOBJ* brush, SURFOBJ* target, SURFOBJ* pattern, SURFOBJ*, XLATEOBJ* xlate,
                 ULONG) {
    ++gRealize.calls;
    gRealize.target = target;
    const auto* pixel = static_cast<const BYTE*>(pattern->pvScan0);
    const ULONG colour = XLATEOBJ_iXlate(xlate, pixel[0] | (pixel[1] << 8) | (pixel[2] << 16));
    if (gRealize.answer) {
        auto* block = static_cast<ULONG*>(BRUSHOBJ_pvAllocRbrush(brush, 48));
        if (block == nullptr) return FALSE;
        block[0] = colour;
    }
    return gRealize.answer;
}

TEST(EngineBrushes, TheDriverIsAskedOnceAndARefusalGivesNull) {
    SURFOBJ band{};
    gRealize = {};
    auto refused = EngineBrush::Solid(0x123456, &FakeRealize, &band);
    EXPECT_EQ(refused->object()->iSolidColor, 0x123456u);
    EXPECT_EQ(BRUSHOBJ_pvGetRbrush(refused->object()), nullptr);
    EXPECT_EQ(BRUSHOBJ_pvGetRbrush(refused->object()), nullptr);
    EXPECT_EQ(gRealize.calls, 1);
    EXPECT_EQ(gRealize.target, &band);

    gRealize = {};
    gRealize.answer = TRUE;
    auto realized = EngineBrush::Solid(0x123456, &FakeRealize, &band);
    auto* block = static_cast<ULONG*>(BRUSHOBJ_pvGetRbrush(realized->object()));
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(block[0], 0x123456u);  // the driver saw the brush's colour
    EXPECT_EQ(BRUSHOBJ_pvGetRbrush(realized->object()), block);
    EXPECT_EQ(gRealize.calls, 1);

    auto plain = EngineBrush::Solid(0x00FF00);
    EXPECT_EQ(BRUSHOBJ_pvGetRbrush(plain->object()), nullptr);
    BRUSHOBJ foreign{};
    EXPECT_EQ(BRUSHOBJ_pvAllocRbrush(&foreign, 16), nullptr);
    EXPECT_EQ(BRUSHOBJ_pvGetRbrush(nullptr), nullptr);

    EXPECT_FALSE(EngineBrush::Pattern(2, 2, {1, 2, 3}));
    EXPECT_FALSE(EngineBrush::Pattern(0, 2, {}));
    auto pattern = EngineBrush::Pattern(2, 1, {0xFFFFFF, 0});
    ASSERT_TRUE(pattern);
    EXPECT_EQ(pattern->object()->iSolidColor, kPatternBrush);
}

TEST(EnginePaths, FiguresAreEnumeratedOneRecordEachWithTheirBounds) {
    EnginePath path(
        {{{{16, 32}, {160, 32}, {160, -48}}, true}, {{}, false}, {{{-8, 0}, {4, 400}}, false}});
    RECTFX bounds{};
    PATHOBJ_vGetBounds(path.object(), &bounds);
    EXPECT_EQ(bounds.xLeft, -8);
    EXPECT_EQ(bounds.yTop, -48);
    EXPECT_EQ(bounds.xRight, 160);
    EXPECT_EQ(bounds.yBottom, 400);
    EXPECT_EQ(path.object()->cCurves, 5u);

    for (int walk = 0; walk < 2; ++walk) {  // a new start walks from the first figure again
        PATHOBJ_vEnumStart(path.object());
        PATHDATA data{};
        ASSERT_TRUE(PATHOBJ_bEnum(path.object(), &data));
        EXPECT_EQ(data.flags, PD_BEGINSUBPATH | PD_ENDSUBPATH | PD_CLOSEFIGURE);
        ASSERT_EQ(data.count, 3u);
        EXPECT_EQ(data.pptfx[2].y, -48);
        EXPECT_FALSE(PATHOBJ_bEnum(path.object(), &data));  // the empty figure is left out
        EXPECT_EQ(data.flags, PD_BEGINSUBPATH | PD_ENDSUBPATH);
        ASSERT_EQ(data.count, 2u);
        EXPECT_EQ(data.pptfx[1].x, 4);
        EXPECT_FALSE(PATHOBJ_bEnum(path.object(), &data));
        EXPECT_EQ(data.count, 0u);
    }

    EnginePath empty({});
    PATHOBJ_vGetBounds(empty.object(), &bounds);
    EXPECT_EQ(bounds.xRight, 0);
    PATHDATA data{};
    EXPECT_FALSE(PATHOBJ_bEnum(empty.object(), &data));
    EXPECT_EQ(data.count, 0u);
}

}  // namespace
