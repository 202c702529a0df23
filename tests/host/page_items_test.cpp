// Page items (images, rectangles, paths) drawn into bands by the engine's
// own services, as they are when the driver hooks none of its drawing, and
// handed to the driver's entries when it hooks them.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "host/engine_objects.h"
#include "host/print_job.h"
#include "host_test_util.h"

namespace {

using hosttest::Bit;
using hosttest::GuardedBitmap;

host::PageImage Image(LONG width, LONG height, ULONG format, LONG stride, RECTL target) {
    host::PageImage image{{width, height}, format, stride, {}, {}, target};
    image.bits.assign(static_cast<std::size_t>(stride) * height, 0);
    return image;
}

TEST(PageItems, AnImageAtItsOwnSizeIsCopiedIntoBandCoordinates) {
    // Two pixels, blue, green, red in memory order.
    host::PageImage image = Image(2, 1, BMF_24BPP, 8, {10, 20, 12, 21});
    const BYTE pixels[6] = {1, 2, 3, 4, 5, 6};
    std::memcpy(image.bits.data(), pixels, 6);
    GuardedBitmap band(4, 4, BMF_24BPP, 0xEE);
    ASSERT_TRUE(host::DrawPageItem(band.surface(), {8, 18}, image, nullptr));
    const BYTE expected[12] = {0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 3, 2, 1, 6, 5, 4};
    EXPECT_EQ(std::memcmp(band.row(2), expected, 12), 0);
    for (LONG y : {0, 1, 3})
        for (LONG i = 0; i < 12; ++i) EXPECT_EQ(band.row(y)[i], 0xEE);
    EXPECT_TRUE(band.GuardsIntact());
}

TEST(PageItems, ScaledImagesGoThroughTheirPalette) {
    // Index 0 is white here: an all-zero picture scaled up prints white.
    host::PageImage image = Image(2, 2, BMF_1BPP, 4, {0, 0, 12, 6});
    image.palette = {0xFFFFFF, 0x000000};
    GuardedBitmap band(16, 6, BMF_1BPP, 0x00);
    ASSERT_TRUE(host::DrawPageItem(band.surface(), {0, 0}, image, nullptr));
    for (LONG y = 0; y < 6; ++y)
        for (LONG x = 0; x < 16; ++x)
            EXPECT_EQ(Bit(band.row(y), x), x < 12 ? 1 : 0) << x << "," << y;
    EXPECT_TRUE(band.GuardsIntact());

    // Run-length data, its first line the bottom row: a red bottom row.
    host::PageImage coded{{2, 2},      BMF_8RLE, 0, {2, 1, 0, 0, 2, 0, 0, 1}, {0xFFFFFF, 0xFF0000},
                          {0, 0, 4, 4}};
    GuardedBitmap grey(4, 4, BMF_8BPP, 0x11);
    ASSERT_TRUE(host::DrawPageItem(grey.surface(), {0, 0}, coded, nullptr));
    EXPECT_EQ(grey.row(0)[0], 255);
    EXPECT_EQ(grey.row(3)[3], 79);  // the grey of pure red
}

// The dither runs on from band to band: two bands show what one tall band
// shows.
TEST(PageItems, HalftonedImagesLineUpAcrossBands) {
    host::PageImage image = Image(1, 1, BMF_8BPP, 4, {3, 2, 21, 15});
    image.bits[0] = 0;
    image.palette = std::vector<ULONG>(256, 0);
    image.palette[0] = 0x606060;
    GuardedBitmap tall(24, 16, BMF_1BPP, 0x00);
    ASSERT_TRUE(host::DrawPageItem(tall.surface(), {0, 0}, image, nullptr));
    for (LONG top : {0, 5, 11}) {
        GuardedBitmap band(24, 5, BMF_1BPP, 0x00);
        ASSERT_TRUE(host::DrawPageItem(band.surface(), {0, top}, image, nullptr));
        for (LONG y = 0; y < 5 && top + y < 16; ++y)
            for (LONG x = 0; x < 24; ++x)
                ASSERT_EQ(Bit(band.row(y), x), Bit(tall.row(top + y), x)) << x << "," << top + y;
    }
}

TEST(PageItems, RectanglesFillTheirOverlapWithTheBand) {
    GuardedBitmap band(8, 4, BMF_8BPP, 0x44);
    const host::PageRectangle red{{-5, 101, 3, 200}, 0x0000FF};
    ASSERT_TRUE(host::DrawPageItem(band.surface(), {0, 100}, red, nullptr));
    for (LONG y = 0; y < 4; ++y)
        for (LONG x = 0; x < 8; ++x)
            EXPECT_EQ(band.row(y)[x], y >= 1 && x < 3 ? 79 : 0x44) << x << "," << y;

    GuardedBitmap mono(16, 2, BMF_1BPP, 0xFF);
    ASSERT_TRUE(
        host::DrawPageItem(mono.surface(), {0, 0}, host::PageRectangle{{4, 0, 12, 1}, 0}, nullptr));
    EXPECT_EQ(mono.row(0)[0], 0xF0);
    EXPECT_EQ(mono.row(0)[1], 0x0F);
    EXPECT_EQ(mono.row(1)[0], 0xFF);
    EXPECT_TRUE(mono.GuardsIntact());
}

TEST(PageItems, UnusableItemsLeaveTheBandAlone) {
    GuardedBitmap band(8, 4, BMF_8BPP, 0x44);
    host::PageImage shortBits = Image(4, 4, BMF_8BPP, 4, {0, 0, 4, 4});
    shortBits.bits.resize(15);
    EXPECT_FALSE(host::DrawPageItem(band.surface(), {0, 0}, shortBits, nullptr));
    host::PageImage narrow = Image(4, 4, BMF_24BPP, 8, {0, 0, 4, 4});
    EXPECT_FALSE(host::DrawPageItem(band.surface(), {0, 0}, narrow, nullptr));
    host::PageImage unknown = Image(4, 4, BMF_PNG, 4, {0, 0, 4, 4});
    EXPECT_FALSE(host::DrawPageItem(band.surface(), {0, 0}, unknown, nullptr));
    host::PageImage noData{{4, 4}, BMF_8RLE, 0, {}, {}, {0, 0, 4, 4}};
    EXPECT_FALSE(host::DrawPageItem(band.surface(), {0, 0}, noData, nullptr));
    const host::PageRectangle farAway{{0x7FFFFFF0, 0, 0x7FFFFFFF, 4}, 0};
    EXPECT_FALSE(host::DrawPageItem(band.surface(), {-100, 0}, farAway, nullptr));
    EXPECT_FALSE(host::DrawPageItem(nullptr, {0, 0}, farAway, nullptr));
    for (LONG y = 0; y < 4; ++y)
        for (LONG x = 0; x < 8; ++x) ASSERT_EQ(band.row(y)[x], 0x44);

    // The last row needs only its pixels, not a whole stride.
    host::PageImage tight = Image(2, 2, BMF_8BPP, 8, {0, 0, 2, 2});
    tight.bits.assign(10, 0);
    EXPECT_TRUE(host::DrawPageItem(band.surface(), {0, 0}, tight, nullptr));
    EXPECT_EQ(band.row(1)[1], 0);
    EXPECT_TRUE(band.GuardsIntact());
}

// A hatched rectangle drawn by the engine: lines of the colour on white,
// the 8x8 cells anchored at the page's origin from band to band.
TEST(PageItems, HatchedRectanglesRepeatTheirCellFromThePageOrigin) {
    host::PageRectangle box{{2, 0, 20, 40}, 0x000000};
    box.hatch = host::HS_CROSS;
    GuardedBitmap band(24, 8, BMF_8BPP, 0x44);
    ASSERT_TRUE(host::DrawPageItem(band.surface(), {0, 16}, box, nullptr));
    for (LONG y = 0; y < 8; ++y)
        for (LONG x = 0; x < 24; ++x) {
            const int expected = x < 2 || x >= 20 ? 0x44 : (x % 8 == 0 || y == 0) ? 0 : 255;
            ASSERT_EQ(band.row(y)[x], expected) << x << "," << y;
        }

    // Outlined and not filled: nothing is blitted.
    host::PageRectangle frame{{0, 0, 8, 8}, 0, false};
    GuardedBitmap untouched(8, 8, BMF_8BPP, 0x44);
    frame.outline = 0;
    host::DrawPageItem(untouched.surface(), {0, 0}, frame, nullptr);
    EXPECT_EQ(untouched.row(4)[4], 0x44);
}

// What a recording driver was handed, one line per call.
std::vector<std::string>* recorded = nullptr;

std::string Figures(PATHOBJ* path) {
    std::string text;
    for (const auto& figure : *host::LookupPathFigures(path)) {
        text += figure.closed ? " [" : " (";
        for (const POINTFIX& p : figure.points)
            text += std::to_string(p.x) + "," + std::to_string(p.y) + ";";
        text += figure.closed ? "]" : ")";
    }
    return text;
}
std::string Pen(const LINEATTRS* line) {
    if ((line->fl & LA_GEOMETRIC) == 0)
        return " cosmetic " + std::to_string(line->elWidth.l) + " fl " + std::to_string(line->fl);
    return " geometric " + std::to_string(static_cast<int>(line->elWidth.e)) + " join " +
           std::to_string(line->iJoin) + " cap " + std::to_string(line->iEndCap);
}
std::string realized;  // what the driver was asked to realize last
std::string Brush(BRUSHOBJ* brush) {
    realized.clear();
    BRUSHOBJ_pvGetRbrush(brush);  // asks the driver to realize it
    return " brush " + std::to_string(brush->iSolidColor) + realized;
}

BOOL RecordStroke(SURFOBJ*, PATHOBJ* path, CLIPOBJ*, XFORMOBJ*, BRUSHOBJ* brush, POINTL*,
                  LINEATTRS* line, MIX mix) {
    recorded->push_back("stroke" + Figures(path) + Pen(line) + Brush(brush) + " mix " +
                        std::to_string(mix));
    return TRUE;
}
BOOL RecordFill(SURFOBJ*, PATHOBJ* path, CLIPOBJ*, BRUSHOBJ* brush, POINTL*, MIX, FLONG options) {
    recorded->push_back("fill" + Figures(path) + Brush(brush) + " options " +
                        std::to_string(options));
    return TRUE;
}
BOOL RecordStrokeAndFill(SURFOBJ*, PATHOBJ* path, CLIPOBJ*, XFORMOBJ*, BRUSHOBJ* pen,
                         LINEATTRS* line, BRUSHOBJ* fill, POINTL*, MIX, FLONG options) {
    recorded->push_back("stroke and fill" + Figures(path) + Pen(line) + Brush(pen) + Brush(fill) +
                        " options " + std::to_string(options));
    return TRUE;
}
BOOL RecordBitBlt(SURFOBJ*, SURFOBJ*, SURFOBJ*, CLIPOBJ*, XLATEOBJ*, RECTL* target, RECTL*, POINTL*,
                  BRUSHOBJ* brush, POINTL*, ROP4) {
    recorded->push_back("blt " + std::to_string(target->left) + "," + std::to_string(target->top) +
                        "," + std::to_string(target->right) + "," + std::to_string(target->bottom) +
                        Brush(brush));
    return TRUE;
}
BOOL RecordRealize(BRUSHOBJ*, SURFOBJ*, SURFOBJ* pattern, SURFOBJ*, XLATEOBJ*, ULONG hatch) {
    realized = " (" + std::to_string(pattern->sizlBitmap.cx) + "x" +
               std::to_string(pattern->sizlBitmap.cy) + " hatch " + std::to_string(hatch) + ")";
    return FALSE;  // the engine's own form draws
}

host::PagePath Path(std::vector<POINTL> points, bool closed, std::optional<host::PagePen> pen,
                    std::optional<host::PageFill> fill = std::nullopt) {
    return {std::move(points), closed, std::move(pen), std::move(fill)};
}

// Paths in 28.4 band coordinates (a dot is 16), dashes cut into pieces,
// outlines inside their rectangle, reaching the entries the band hooks.
TEST(PageItems, PathsAndOutlinesReachTheDriversPathEntries) {
    const DRVFN table[] = {
        {INDEX_DrvStrokePath, reinterpret_cast<PFN>(&RecordStroke)},
        {INDEX_DrvFillPath, reinterpret_cast<PFN>(&RecordFill)},
        {INDEX_DrvStrokeAndFillPath, reinterpret_cast<PFN>(&RecordStrokeAndFill)},
        {INDEX_DrvBitBlt, reinterpret_cast<PFN>(&RecordBitBlt)},
        {INDEX_DrvRealizeBrush, reinterpret_cast<PFN>(&RecordRealize)},
    };
    GuardedBitmap band(64, 16, BMF_8BPP);
    HDEV device = host::CreateEngineDevice();
    ASSERT_TRUE(EngAssociateSurface(
        band.surface()->hsurf, device,
        HOOK_BITBLT | HOOK_STROKEPATH | HOOK_FILLPATH | HOOK_STROKEANDFILLPATH));
    const host::PagePen black{0, 1, {}};
    host::PageRectangle hatched{{0, 100, 8, 104}, 0x0000FF};
    hatched.hatch = host::HS_DIAGCROSS;
    host::PageRectangle thin{{2, 100, 6, 104}, 0, false, std::nullopt, 0xFF};
    host::PageRectangle thick{{0, 100, 10, 108}, 0, false, std::nullopt, 0, 3};
    host::PageRectangle solidBox{{0, 100, 4, 101}, 0, false, std::nullopt, 0, 3};

    const std::pair<host::PageItem, const char*> kCases[] = {
        {Path({{0, 101}, {10, 101}}, false, black),
         "stroke (0,16;160,16;) cosmetic 1 fl 0 brush 0 (1x1 hatch 6) mix 3341"},
        {Path({{0, 105}, {10, 105}}, false, host::PagePen{0xFF, 3, {}}),
         "stroke (8,88;168,88;) geometric 3 join 2 cap 2 brush 255 (1x1 hatch 6) mix 3341"},
        {Path({{0, 105}, {10, 105}}, false, host::PagePen{0, 2, {}}),
         "stroke (0,80;160,80;) geometric 2 join 2 cap 2 brush 0 (1x1 hatch 6) mix 3341"},
        {Path({{0, 100}, {10, 100}}, false, host::PagePen{0, 1, {3, 2}}),
         "stroke (0,0;48,0;) (80,0;128,0;) cosmetic 1 fl 0 brush 0 (1x1 hatch 6) mix 3341"},
        // The dash goes on round the corner as one piece.
        {Path({{0, 100}, {2, 100}, {2, 104}}, false, host::PagePen{0, 1, {3, 10}}),
         "stroke (0,0;32,0;32,16;) cosmetic 1 fl 0 brush 0 (1x1 hatch 6) mix 3341"},
        {Path({{0, 100}, {8, 100}, {4, 108}}, true, std::nullopt, host::PageFill{0, {}, true}),
         "fill [0,0;128,0;64,128;] brush 0 (1x1 hatch 6) options 2"},
        {Path({{0, 100}, {8, 100}, {4, 108}}, true, black,
              host::PageFill{0xFFFFFF, host::HS_VERTICAL, false}),
         "stroke and fill [0,0;128,0;64,128;] cosmetic 1 fl 0 brush 0 (1x1 hatch 6) "
         "brush 4294967295 (8x8 hatch 1) options 1"},
        {hatched, "blt 0,0,8,4 brush 4294967295 (8x8 hatch 5)"},
        // One dot: four runs left to right and top to bottom, each leaving
        // its last dot out.
        {thin,
         "stroke (32,0;96,0;) (32,48;96,48;) (32,16;32,48;) (80,16;80,48;) cosmetic 1 fl 0 "
         "brush 255 (1x1 hatch 6) mix 3341"},
        // Wider: the frame between the rectangle and its inside.
        {thick,
         "fill [0,0;160,0;160,128;0,128;] [48,48;112,48;112,80;48,80;] brush 0 (1x1 hatch 6) "
         "options 1"},
        {solidBox, "fill [0,0;64,0;64,16;0,16;] brush 0 (1x1 hatch 6) options 1"},
    };
    std::vector<std::string> calls;
    recorded = &calls;
    for (const auto& [item, expected] : kCases) {
        calls.clear();
        EXPECT_TRUE(host::DrawPageItem(band.surface(), {0, 100}, item, table));
        std::string all;
        for (const std::string& call : calls) all += (all.empty() ? "" : " | ") + call;
        EXPECT_EQ(all, expected);
    }

    // Paths wholly outside the band are not handed on.
    calls.clear();
    EXPECT_TRUE(host::DrawPageItem(band.surface(), {0, 100},
                                   Path({{0, 10}, {10, 10}}, false, black), table));
    EXPECT_TRUE(host::DrawPageItem(band.surface(), {0, 100},
                                   Path({{0, 130}, {10, 130}}, false, black), table));
    EXPECT_TRUE(calls.empty());
    // Unusable paths are refused.
    EXPECT_FALSE(host::DrawPageItem(band.surface(), {0, 100}, Path({}, false, black), table));
    EXPECT_FALSE(host::DrawPageItem(band.surface(), {0, 100},
                                    Path({{0, 0}, {1, 1}}, false, std::nullopt), table));
    EXPECT_FALSE(host::DrawPageItem(band.surface(), {0, 100},
                                    Path({{0, 0}, {1, 1}}, false, host::PagePen{0, 1, {2, 0}}),
                                    table));
    EXPECT_FALSE(host::DrawPageItem(band.surface(), {0, 0},
                                    Path({{0, 1 << 28}, {1, 1}}, false, black), table));
    EXPECT_TRUE(calls.empty());
    recorded = nullptr;
    host::DeleteEngineDevice(device);
}

}  // namespace
