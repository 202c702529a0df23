// Transfers of the driver's engine on plain memory: edge bits, stretching,
// mirroring, clipping, colour conversion, run-length sources, alpha blends
// and brush patterns.

#include "render/bitmap_blt.h"

#include <gtest/gtest.h>

#include <limits>
#include <random>

#include "render/raster_ops.h"
#include "render_support.h"

namespace rendertest {
namespace {

const BmpInfo kNoSource{};

int Blt(Bitmap& band, const BmpInfo& source, RECTL destination, RECTL sourceRect,
        const ColourTable* table, BYTE rop3, RealBrush* brush = nullptr,
        const BLENDFUNCTION* blend = nullptr, XLATEOBJ* xlate = nullptr) {
    return GR_BitmapBlt(band.info, source, destination, sourceRect, table, brush, rop3,
                        Rect(0, 0, band.info.width, band.info.height), xlate, blend);
}

// An 8-bit source read through a grey ramp: index i is grey i.
struct GreySource {
    Bitmap bitmap;
    TableTranslation xlate{GreyRamp()};
    ColourTable table;

    GreySource(LONG width, LONG height, const std::vector<BYTE>& pixels)
        : bitmap(width, height, 8) {
        for (LONG y = 0; y < height; ++y)
            for (LONG x = 0; x < width; ++x) bitmap.Row(y)[x] = pixels[y * width + x];
        EXPECT_TRUE(SetupColorTable(&bitmap.info, &table, nullptr, &xlate.object));
    }
};

std::vector<BYTE> Column(Bitmap& band, LONG x) {
    std::vector<BYTE> values;
    for (LONG y = 0; y < band.info.height; ++y) values.push_back(band.Row(y)[x]);
    return values;
}

TEST(MonoTransfer, OnlyTheSpansBitsChange) {
    for (BYTE rop : {BYTE{0x00}, BYTE{0xFF}, BYTE{0xAA}}) {
        Bitmap band(16, 1, 1);
        band.bytes[0] = 0xAA;
        band.bytes[1] = 0x55;
        EXPECT_EQ(Blt(band, kNoSource, Rect(3, 0, 10, 1), {}, nullptr, rop), 1);
        const BYTE span0 = 0x1F;  // bits 3..7 of the first byte
        const BYTE span1 = 0xC0;  // bits 0..1 of the second
        const BYTE expected0 = rop == 0x00 ? (0xAA & ~span0) : rop == 0xFF ? (0xAA | span0) : 0xAA;
        const BYTE expected1 = rop == 0x00 ? (0x55 & ~span1) : rop == 0xFF ? (0x55 | span1) : 0x55;
        EXPECT_EQ(band.bytes[0], expected0) << int(rop);
        EXPECT_EQ(band.bytes[1], expected1) << int(rop);
    }
}

TEST(MonoTransfer, SourceBitsLandInPhaseAtAnyOffset) {
    std::mt19937 random(3);
    TableTranslation blackWhite({0x000000, 0xFFFFFF});
    for (int round = 0; round < 200; ++round) {
        Bitmap source(40, 2, 1);
        for (BYTE& b : source.bytes) b = static_cast<BYTE>(random());
        // Every third round prints set bits as black (the ink table).
        const bool ink = round % 3 == 2;
        ColourTable table;
        ASSERT_TRUE(ink ? SetupInkColorTable(&source.info, &table)
                        : SetupColorTable(&source.info, &table, nullptr, &blackWhite.object));
        Bitmap band(48, 2, 1);
        for (BYTE& b : band.bytes) b = static_cast<BYTE>(random());
        Bitmap before(48, 2, 1);
        before.bytes = band.bytes;
        const LONG x0 = static_cast<LONG>(random() % 30);
        const LONG w = 1 + static_cast<LONG>(random() % 17);
        const LONG sx = static_cast<LONG>(random() % (40 - w));
        const BYTE rop = round % 2 == 0 ? 0xCC : 0x66;
        ASSERT_EQ(
            Blt(band, source.info, Rect(x0, 0, x0 + w, 2), Rect(sx, 0, sx + w, 2), &table, rop), 2);
        for (LONG y = 0; y < 2; ++y)
            for (LONG x = 0; x < 48; ++x) {
                int expected = before.Bit(x, y);
                if (x >= x0 && x < x0 + w) {
                    const int s = source.Bit(sx + x - x0, y) ^ (ink ? 1 : 0);
                    expected = rop == 0xCC ? s : s ^ expected;
                }
                ASSERT_EQ(band.Bit(x, y), expected) << "x " << x << " span " << x0 << "+" << w;
            }
    }
}

TEST(Stretch, TwoColumnsOntoFiveUseColumnsZeroZeroOneOneOne) {
    EXPECT_EQ(StretchIndex(5, 2, 0), 0);
    EXPECT_EQ(StretchIndex(5, 2, 2), 1);
    GreySource source(2, 1, {10, 200});
    Bitmap band(5, 1, 8, 0x77);
    EXPECT_EQ(
        Blt(band, source.bitmap.info, Rect(0, 0, 5, 1), Rect(0, 0, 2, 1), &source.table, 0xCC), 1);
    EXPECT_EQ(std::vector<BYTE>(band.bytes.begin(), band.bytes.begin() + 5),
              (std::vector<BYTE>{10, 10, 200, 200, 200}));
}

TEST(Stretch, ARepeatedSourceRowIsCopiedDownInEveryMode) {
    for (int depth : {8, 24}) {
        GreySource source(2, 1, {30, 220});
        Bitmap band(2, 3, depth);
        EXPECT_EQ(
            Blt(band, source.bitmap.info, Rect(0, 0, 2, 3), Rect(0, 0, 2, 1), &source.table, 0xCC),
            3);
        const int bpp = depth / 8;
        for (LONG y = 0; y < 3; ++y) {
            EXPECT_EQ(band.Row(y)[0], 30) << depth;
            EXPECT_EQ(band.Row(y)[bpp], 220) << depth;
        }
    }
}

TEST(Mirror, BottomUpSourcesAndBottomToTopRectangles) {
    const struct {
        USHORT flags;
        std::vector<BYTE> column;
    } cases[] = {
        {0, {1, 2, 3}},
        {kBmpBottomUp, {3, 2, 1}},                // drawn upright
        {kBmpBottomUp | kBmpMirrorY, {1, 2, 3}},  // upside down
        {kBmpMirrorY, {3, 2, 1}},
    };
    for (const auto& c : cases) {
        GreySource source(1, 3, {1, 2, 3});
        source.bitmap.info.flags |= c.flags;
        Bitmap band(1, 3, 8);
        EXPECT_EQ(
            Blt(band, source.bitmap.info, Rect(0, 0, 1, 3), Rect(0, 0, 1, 3), &source.table, 0xCC),
            3);
        EXPECT_EQ(Column(band, 0), c.column) << c.flags;
    }
}

TEST(Mirror, APartOfTheSourceIsMirroredWithinItself) {
    GreySource tall(1, 4, {1, 2, 3, 4});
    tall.bitmap.info.flags |= kBmpMirrorY;
    Bitmap column(1, 2, 8);
    Blt(column, tall.bitmap.info, Rect(0, 0, 1, 2), Rect(0, 0, 1, 2), &tall.table, 0xCC);
    EXPECT_EQ(Column(column, 0), (std::vector<BYTE>{2, 1}));

    GreySource wide(4, 1, {1, 2, 3, 4});
    wide.bitmap.info.flags |= kBmpMirrorX;
    Bitmap row(3, 1, 8);
    Blt(row, wide.bitmap.info, Rect(0, 0, 3, 1), Rect(1, 0, 4, 1), &wide.table, 0xCC);
    EXPECT_EQ(std::vector<BYTE>(row.bytes.begin(), row.bytes.begin() + 3),
              (std::vector<BYTE>{4, 3, 2}));
}

TEST(Clip, SourceRectanglesOutsideTheSourceAndClipRectanglesAreCut) {
    GreySource source(4, 1, {11, 22, 33, 44});
    Bitmap band(4, 1, 8, 0x77);
    // Two columns left of the source: only the last two destination columns
    // have source pixels.
    EXPECT_EQ(
        Blt(band, source.bitmap.info, Rect(0, 0, 4, 1), Rect(-2, 0, 2, 1), &source.table, 0xCC), 1);
    EXPECT_EQ(std::vector<BYTE>(band.bytes.begin(), band.bytes.begin() + 4),
              (std::vector<BYTE>{0x77, 0x77, 11, 22}));

    Bitmap clipped(4, 1, 8, 0x77);
    EXPECT_EQ(GR_BitmapBlt(clipped.info, source.bitmap.info, Rect(0, 0, 4, 1), Rect(0, 0, 4, 1),
                           &source.table, nullptr, 0xCC, Rect(1, 0, 3, 1), nullptr, nullptr),
              1);
    EXPECT_EQ(std::vector<BYTE>(clipped.bytes.begin(), clipped.bytes.begin() + 4),
              (std::vector<BYTE>{0x77, 22, 33, 0x77}));

    // Wholly outside: nothing to do.
    EXPECT_EQ(
        Blt(band, source.bitmap.info, Rect(0, 0, 4, 1), Rect(10, 0, 14, 1), &source.table, 0xCC),
        0);
    // A rectangle partly outside the band is cut by the band.
    EXPECT_EQ(
        Blt(band, source.bitmap.info, Rect(2, -5, 6, 5), Rect(0, -5, 4, 5), &source.table, 0xCC),
        1);
}

TEST(Clip, UnreadableSourcesAndBandsAreRefused) {
    GreySource source(4, 2, {1, 2, 3, 4, 5, 6, 7, 8});
    Bitmap band(4, 2, 8);
    BmpInfo narrow = source.bitmap.info;
    narrow.stride = 3;  // shorter than a row
    EXPECT_EQ(Blt(band, narrow, Rect(0, 0, 4, 2), Rect(0, 0, 4, 2), &source.table, 0xCC), -1);
    BmpInfo shortMemory = source.bitmap.info;
    shortMemory.size = 5;
    EXPECT_EQ(Blt(band, shortMemory, Rect(0, 0, 4, 2), Rect(0, 0, 4, 2), &source.table, 0xCC), -1);
    BmpInfo twoBit = source.bitmap.info;
    twoBit.bitsPerPixel = 2;
    EXPECT_EQ(Blt(band, twoBit, Rect(0, 0, 4, 2), Rect(0, 0, 4, 2), &source.table, 0xCC), -1);
    EXPECT_EQ(Blt(band, source.bitmap.info, Rect(0, 0, 4, 2), Rect(0, 0, 4, 2), nullptr, 0xCC), -1);
    // Extents beyond 32 bits.
    const LONG least = std::numeric_limits<LONG>::min();
    const LONG most = std::numeric_limits<LONG>::max();
    EXPECT_EQ(Blt(band, source.bitmap.info, Rect(least, 0, most, 2), Rect(0, 0, 4, 2),
                  &source.table, 0xCC),
              -1);
    EXPECT_EQ(Blt(band, source.bitmap.info, Rect(0, 0, 4, 2), Rect(0, least, 4, most),
                  &source.table, 0xCC),
              -1);
    Bitmap fourBitBand(4, 2, 4);
    EXPECT_EQ(Blt(fourBitBand, source.bitmap.info, Rect(0, 0, 4, 2), Rect(0, 0, 4, 2),
                  &source.table, 0xCC),
              -1);
}

TEST(Conversion, GreyValuesAndTheMonoRule) {
    // 24 bits without translation: red, green, blue in memory order.
    Bitmap source(5, 1, 24);
    const BYTE pixels[] = {255, 0, 0, 0, 255, 0, 0, 0, 255, 255, 255, 254, 255, 255, 255};
    std::copy(std::begin(pixels), std::end(pixels), source.bytes.begin());
    ColourTable none;
    ASSERT_TRUE(SetupColorTable(&source.info, &none, nullptr, nullptr));
    EXPECT_EQ(source.info.flags, kBmpRgbOrder);

    Bitmap grey(5, 1, 8);
    EXPECT_EQ(Blt(grey, source.info, Rect(0, 0, 5, 1), Rect(0, 0, 5, 1), &none, 0xCC), 1);
    EXPECT_EQ(std::vector<BYTE>(grey.bytes.begin(), grey.bytes.begin() + 5),
              (std::vector<BYTE>{79, 143, 31, 254, 255}));

    Bitmap mono(5, 1, 1, 0x00);
    EXPECT_EQ(Blt(mono, source.info, Rect(0, 0, 5, 1), Rect(0, 0, 5, 1), &none, 0xCC), 1);
    EXPECT_EQ(mono.bytes[0], 0x08);  // only (255, 255, 255) is white

    Bitmap colour(5, 1, 24);
    EXPECT_EQ(Blt(colour, source.info, Rect(0, 0, 5, 1), Rect(0, 0, 5, 1), &none, 0xCC), 1);
    EXPECT_TRUE(std::equal(std::begin(pixels), std::end(pixels), colour.bytes.begin()));
}

TEST(ColourTable, FlagsFollowTheTranslation) {
    Bitmap indexed(2, 1, 4);
    TableTranslation short2({0x0000FF, 0x123456});  // fewer entries than 16
    ColourTable table;
    ASSERT_TRUE(SetupColorTable(&indexed.info, &table, nullptr, &short2.object));
    EXPECT_EQ(indexed.info.flags, kBmpColourTable | kBmpTranslateEach);
    ASSERT_EQ(table.count, 16);
    EXPECT_EQ(table.entries[0].red, 0xFF);
    EXPECT_EQ(table.entries[0].blue, 0x00);
    EXPECT_EQ(table.entries[1].blue, 0x12);
    EXPECT_EQ(table.entries[1].red, 0x56);
    EXPECT_EQ(table.entries[15].red, 0);

    Bitmap trueColour(1, 1, 24);
    XLATEOBJ trivial{};
    trivial.flXlate = XO_TRIVIAL;
    ColourTable unused;
    ASSERT_TRUE(SetupColorTable(&trueColour.info, &unused, nullptr, &trivial));
    EXPECT_EQ(trueColour.info.flags, kBmpRgbOrder);

    Bitmap indexedWithout(2, 1, 8);
    EXPECT_FALSE(SetupColorTable(&indexedWithout.info, &unused, nullptr, nullptr));

    Bitmap ink(8, 1, 1, 0x0F);
    ColourTable inkTable;
    ASSERT_TRUE(SetupInkColorTable(&ink.info, &inkTable));
    Bitmap band(8, 1, 8, 0x40);
    EXPECT_EQ(Blt(band, ink.info, Rect(0, 0, 8, 1), Rect(0, 0, 8, 1), &inkTable, 0xCC), 1);
    EXPECT_EQ(band.bytes[0], 255);  // clear bits are white
    EXPECT_EQ(band.bytes[7], 0);    // set bits print
}

TEST(RunLength, EightBitRunsAbsoluteRunsDeltasAndEnds) {
    const std::vector<BYTE> data = {3, 5, 0, 3, 7, 8, 9, 0, 0, 0,  // row 0, end of line
                                    0, 2, 2, 1,                    // delta to (2, 2)
                                    2, 4, 0, 1,                    // two 4s, end of bitmap
                                    5, 6};                         // after the end: ignored
    BmpInfo source{
        8, 3, 8, kBmpRle8, const_cast<BYTE*>(data.data()), static_cast<ULONG>(data.size()), 0, 0};
    std::vector<BYTE> out(24, 0);
    UnpackRle(source, out.data(), 8);
    const std::vector<BYTE> expected = {5, 5, 5, 7, 8, 9, 0, 0, 0, 0, 0, 0,
                                        0, 0, 0, 0, 0, 0, 4, 4, 0, 0, 0, 0};
    EXPECT_EQ(out, expected);
}

TEST(RunLength, FourBitRunsAlternateTheNibbles) {
    const std::vector<BYTE> data = {5, 0xAB, 0, 0, 0, 3, 0x12, 0x30, 0, 1};
    BmpInfo source{
        6, 2, 4, kBmpRle4, const_cast<BYTE*>(data.data()), static_cast<ULONG>(data.size()), 0, 0};
    std::vector<BYTE> out(8, 0);
    UnpackRle(source, out.data(), 4);
    EXPECT_EQ(out, (std::vector<BYTE>{0xAB, 0xAB, 0xA0, 0, 0x12, 0x30, 0, 0}));
}

TEST(RunLength, RunsPastTheBitmapAreCutAndTruncatedDataEnds) {
    const std::vector<BYTE> data = {200, 7,                // a run past the row's end
                                    0,   2, 250, 250,      // a delta far outside
                                    9,   9, 0,   200, 1};  // truncated absolute run
    BmpInfo source{
        4, 2, 8, kBmpRle8, const_cast<BYTE*>(data.data()), static_cast<ULONG>(data.size()), 0, 0};
    std::vector<BYTE> out(8 + 4, 0xEE);  // 4 guard bytes after the bitmap
    std::fill(out.begin(), out.begin() + 8, 0);
    UnpackRle(source, out.data(), 4);
    EXPECT_EQ(out, (std::vector<BYTE>{7, 7, 7, 7, 0, 0, 0, 0, 0xEE, 0xEE, 0xEE, 0xEE}));
}

TEST(RunLength, RandomDataStaysInsideTheBitmap) {
    std::mt19937 random(99);
    for (int round = 0; round < 3000; ++round) {
        std::vector<BYTE> data(random() % 64);
        for (BYTE& b : data) b = static_cast<BYTE>(random() % 4 == 0 ? random() % 3 : random());
        const bool nibbles = round % 2 == 0;
        const LONG width = 1 + static_cast<LONG>(random() % 9);
        const LONG height = 1 + static_cast<LONG>(random() % 4);
        BmpInfo source{width,
                       height,
                       static_cast<USHORT>(nibbles ? 4 : 8),
                       nibbles ? kBmpRle4 : kBmpRle8,
                       data.data(),
                       static_cast<ULONG>(data.size()),
                       0,
                       0};
        TableTranslation ramp(GreyRamp());
        ColourTable table;
        ASSERT_TRUE(SetupColorTable(&source, &table, nullptr, &ramp.object));
        Bitmap band(12, 5, 8, 0x33);
        const int rows =
            Blt(band, source, Rect(0, 0, width, height), Rect(0, 0, width, height), &table, 0xCC);
        ASSERT_EQ(rows, height);
        for (LONG y = 0; y < 5; ++y)
            for (LONG x = 0; x < 12; ++x)
                if (x >= width || y >= height) {
                    ASSERT_EQ(band.Row(y)[x], 0x33);
                }
    }
}

TEST(RunLength, ABottomUpRunLengthSourceIsDrawnUpright) {
    // Row 0 of the data is the bottom row.
    const std::vector<BYTE> data = {2, 9, 0, 0, 2, 4, 0, 1};
    BmpInfo source{2,
                   2,
                   8,
                   kBmpRle8,
                   const_cast<BYTE*>(data.data()),
                   static_cast<ULONG>(data.size()),
                   0,
                   kBmpBottomUp};
    TableTranslation ramp(GreyRamp());
    ColourTable table;
    ASSERT_TRUE(SetupColorTable(&source, &table, nullptr, &ramp.object));
    Bitmap band(2, 2, 8);
    EXPECT_EQ(Blt(band, source, Rect(0, 0, 2, 2), Rect(0, 0, 2, 2), &table, 0xCC), 2);
    EXPECT_EQ(Column(band, 1), (std::vector<BYTE>{4, 9}));
}

TEST(AlphaBlend, ChannelRules) {
    // Per-pixel alpha 0 at full constant alpha adds the source.
    EXPECT_EQ(BlendChannel(200, 100, 0, true, 255), 255);
    EXPECT_EQ(BlendChannel(50, 60, 0, true, 255), 110);
    EXPECT_EQ(BlendChannel(50, 60, 255, true, 255), 50);
    // (128·255/255 = 128; 127·100/255 = 49.8; 128·200/255 = 100.4)
    EXPECT_EQ(BlendChannel(200, 100, 255, true, 128), 150);
    // (200·128 + 100·127) / 255 = 150.2
    EXPECT_EQ(BlendChannel(200, 100, 77, false, 128), 150);
    EXPECT_EQ(BlendChannel(0, 255, 0, false, 0), 255);
}

TEST(AlphaBlend, PerPixelAlphaOfA32BitSourceIntoGreyAndMonoBands) {
    Bitmap source(2, 1, 32);
    const BYTE pixels[] = {200, 200, 200, 0, 200, 200, 200, 255};
    std::copy(std::begin(pixels), std::end(pixels), source.bytes.begin());
    XLATEOBJ trivial{};
    trivial.flXlate = XO_TRIVIAL;
    ColourTable none;
    ASSERT_TRUE(SetupColorTable(&source.info, &none, nullptr, &trivial));
    source.info.flags |= kBmpAlphaBlend;
    const BLENDFUNCTION perPixel{AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
    Bitmap grey(2, 1, 8, 100);
    EXPECT_EQ(Blt(grey, source.info, Rect(0, 0, 2, 1), Rect(0, 0, 2, 1), &none, 0xCA, nullptr,
                  &perPixel, &trivial),
              1);
    EXPECT_EQ(grey.bytes[0], 255);
    EXPECT_EQ(grey.bytes[1], 200);

    // Another operation than source-over is refused.
    const BLENDFUNCTION other{1, 0, 255, 0};
    EXPECT_EQ(Blt(grey, source.info, Rect(0, 0, 2, 1), Rect(0, 0, 2, 1), &none, 0xCA, nullptr,
                  &other, &trivial),
              -1);

    // A 1-bit band blends 0 and 255 and stays white only at 255.
    const BYTE white = 0xFF;
    BYTE band = 0x00;
    AlphaBlendRowMono(&band, &white, nullptr, 0, 2, BLENDFUNCTION{AC_SRC_OVER, 0, 255, 0});
    EXPECT_EQ(band, 0xC0);
    band = 0x00;
    AlphaBlendRowMono(&band, &white, nullptr, 0, 2, BLENDFUNCTION{AC_SRC_OVER, 0, 128, 0});
    EXPECT_EQ(band, 0x00);
}

// A grey pattern brush of one row.
struct GreyBrush {
    ScratchBrush scratch{};
    BYTE more[12] = {};  // room past the scratch record's four bytes

    GreyBrush(std::initializer_list<BYTE> row, LONG originX) {
        RealBrush& brush = scratch.brush;
        brush.solidColor = kPatternBrush;
        brush.patWidth = static_cast<LONG>(row.size());
        brush.patHeight = 1;
        brush.patStride = 16;
        brush.patBitsPerPixel = 8;
        brush.originX = originX;
        std::copy(row.begin(), row.end(), RealBrushBits(&brush));
        brush.alignedPattern = RealBrushBits(&brush);
    }
};
static_assert(offsetof(GreyBrush, more) == sizeof(ScratchBrush));

TEST(Pattern, TheBrushOriginHoldsAcrossClipRectangles) {
    GreyBrush brush({10, 20, 30, 40}, 1);
    Bitmap band(8, 1, 8);
    for (RECTL clip : {Rect(0, 0, 3, 1), Rect(3, 0, 8, 1)})
        EXPECT_EQ(GR_BitmapBlt(band.info, kNoSource, Rect(0, 0, 8, 1), {}, nullptr,
                               &brush.scratch.brush, 0xF0, clip, nullptr, nullptr),
                  1);
    // Band column x shows pattern column (x - 1) mod 4.
    EXPECT_EQ(std::vector<BYTE>(band.bytes.begin(), band.bytes.begin() + 8),
              (std::vector<BYTE>{40, 10, 20, 30, 40, 10, 20, 30}));
    EXPECT_EQ(brush.scratch.brush.alignedPattern, RealBrushBits(&brush.scratch.brush));
}

TEST(Pattern, ACodeReadingThePatternWithoutABrushFails) {
    Bitmap band(8, 1, 8, 0x11);
    EXPECT_EQ(Blt(band, kNoSource, Rect(0, 0, 8, 1), {}, nullptr, 0x5A), -1);
    EXPECT_EQ(band.bytes[0], 0x11);
}

TEST(Pattern, ColourPatternPixelsCombineChannelByChannel) {
    ScratchBrush solid;
    RealizeSolidBrush(&solid, 0x00FF8040, 24);  // red 0x40, green 0x80, blue 0xFF
    Bitmap band(2, 1, 24, 0x0F);
    EXPECT_EQ(Blt(band, kNoSource, Rect(0, 0, 2, 1), {}, nullptr, 0x5A, &solid.brush), 1);
    EXPECT_EQ(std::vector<BYTE>(band.bytes.begin(), band.bytes.begin() + 6),
              (std::vector<BYTE>{0x4F, 0x8F, 0xF0, 0x4F, 0x8F, 0xF0}));
}

}  // namespace
}  // namespace rendertest
