// Brush realization, brush fills, brush-only transfers, the band's colour
// flag and clip enumeration.

#include "render/brush_fill.h"

#include <gtest/gtest.h>

#include <memory>

#include "driver/device_instance.h"
#include "host/engine_objects.h"
#include "render/clip_enum.h"
#include "render/raster_ops.h"
#include "render_support.h"

namespace rendertest {
namespace {

TEST(SolidBrush, PixelInTheBandsLayout) {
    ScratchBrush scratch;
    RealBrush* grey = RealizeSolidBrush(&scratch, 0x0000FF, 8);  // pure red
    EXPECT_EQ(grey->kind, kBrushKindSolid);
    EXPECT_EQ(grey->patWidth, 1);
    EXPECT_EQ(grey->patStride, 4);
    EXPECT_EQ(RealBrushBits(grey)[0], 79);

    RealBrush* colour = RealizeSolidBrush(&scratch, 0x00FF8040, 24);
    EXPECT_EQ(colour->patStride, 4);
    EXPECT_EQ(RealBrushBits(colour)[0], 0x40);
    EXPECT_EQ(RealBrushBits(colour)[2], 0xFF);

    // On a 1-bit band a byte of the colour's mono bit.
    EXPECT_EQ(RealBrushBits(RealizeSolidBrush(&scratch, 0xFFFFFF, 1))[0], 0xFF);
    RealBrush* mono = RealizeSolidBrush(&scratch, 0xFEFFFF, 1);
    EXPECT_EQ(RealBrushBits(mono)[0], 0x00);
    EXPECT_EQ(mono->patWidth, 8);
}

TEST(FillRectWithBrush, SolidCopyFillsTheClippedRectangleOnly) {
    Bitmap band(6, 4, 24, 0x11);
    ScratchBrush scratch;
    RealBrush* brush = RealizeSolidBrush(&scratch, 0x00302010, 24);
    const RECTL clip = Rect(2, 1, 10, 3);
    FillRectWithBrush(band.info, Rect(1, 0, 4, 4), *brush, MixOf(kRop2Copy, kRop2Copy), &clip);
    for (LONG y = 0; y < 4; ++y)
        for (LONG x = 0; x < 6; ++x) {
            const bool inside = x >= 2 && x < 4 && y >= 1 && y < 3;
            const BYTE* pixel = band.Row(y) + x * 3;
            EXPECT_EQ(pixel[0], inside ? 0x10 : 0x11) << x << "," << y;
            EXPECT_EQ(pixel[2], inside ? 0x30 : 0x11) << x << "," << y;
        }
}

TEST(FillRectWithBrush, TransparentPatternLeavesWhitePixelsAlone) {
    struct {
        ScratchBrush scratch{};
        BYTE more[8] = {};
    } record;
    RealBrush& brush = record.scratch.brush;
    brush.solidColor = kPatternBrush;
    brush.patWidth = 2;
    brush.patHeight = 2;
    brush.patStride = 4;
    brush.patBitsPerPixel = 8;
    BYTE* bits = RealBrushBits(&brush);
    bits[0] = 0x00;  // row 0: black, white
    bits[1] = 0xFF;
    bits[4] = 0xFF;  // row 1: white, black
    bits[5] = 0x00;
    Bitmap band(4, 2, 8, 0x80);
    FillRectWithBrush(band.info, Rect(0, 0, 4, 2), brush, MixOf(kRop2Copy, kRop2Nop), nullptr);
    EXPECT_EQ(std::vector<BYTE>(band.Row(0), band.Row(0) + 4),
              (std::vector<BYTE>{0x00, 0x80, 0x00, 0x80}));
    EXPECT_EQ(std::vector<BYTE>(band.Row(1), band.Row(1) + 4),
              (std::vector<BYTE>{0x80, 0x00, 0x80, 0x00}));
    // With an opaque background the white pixels are drawn as well.
    FillRectWithBrush(band.info, Rect(0, 0, 4, 1), brush, MixOf(kRop2Copy, kRop2Copy), nullptr);
    EXPECT_EQ(band.Row(0)[1], 0xFF);
}

TEST(FillRectWithBrush, AOneBitBandIsFilledBitByBit) {
    Bitmap band(16, 2, 1, 0xFF);
    ScratchBrush scratch;
    RealBrush* black = RealizeSolidBrush(&scratch, 0x000000, 1);
    FillRectWithBrush(band.info, Rect(3, 1, 10, 2), *black, MixOf(kRop2Copy, kRop2Copy), nullptr);
    EXPECT_EQ(band.Row(0)[0], 0xFF);
    EXPECT_EQ(band.Row(1)[0], 0xE0);
    EXPECT_EQ(band.Row(1)[1], 0x3F);
}

TEST(AlignBrushPattern, RotatesRowsAndPixels) {
    struct {
        ScratchBrush scratch{};
        BYTE more[8] = {};
    } record;
    RealBrush& brush = record.scratch.brush;
    brush.patWidth = 3;
    brush.patHeight = 2;
    brush.patStride = 4;
    brush.patBitsPerPixel = 8;
    const BYTE pattern[8] = {1, 2, 3, 0, 4, 5, 6, 0};
    std::copy(std::begin(pattern), std::end(pattern), RealBrushBits(&brush));
    BYTE block[8] = {};
    EXPECT_TRUE(AlignBrushPattern(&brush, 1, 1, block));
    EXPECT_EQ(brush.alignedPattern, block);
    EXPECT_EQ(std::vector<BYTE>(block, block + 8), (std::vector<BYTE>{5, 6, 4, 0, 2, 3, 1, 0}));
    // Without a block the unaligned pattern is used and the call says so.
    EXPECT_FALSE(AlignBrushPattern(&brush, 1, 0, nullptr));
    EXPECT_EQ(brush.alignedPattern, RealBrushBits(&brush));
}

class BrushBltTest : public ::testing::Test {
  protected:
    void SetUp() override {
        instance_ = std::make_unique<DeviceInstance>();
        instance_->geometry.bitsPerPixel = 8;
        instance_->bandClip = Rect(0, 0, 8, 2);
        instance_->state = kStateBandBlackWhite;
        surface_.sizlBitmap = {8, 2};
        surface_.cjBits = static_cast<ULONG>(band_.bytes.size());
        surface_.pvBits = surface_.pvScan0 = band_.bytes.data();
        surface_.lDelta = band_.info.stride;
        surface_.iBitmapFormat = BMF_8BPP;
        surface_.fjBitmap = BMF_TOPDOWN;
    }

    std::unique_ptr<DeviceInstance> instance_;
    Bitmap band_{8, 2, 8, 0x55};
    SURFOBJ surface_{};
};

TEST_F(BrushBltTest, BlackAndWhiteNeedNoBrushPatternCodesDo) {
    EXPECT_TRUE(
        BrushBlt(instance_.get(), &surface_, Rect(0, 0, 2, 1), nullptr, nullptr, nullptr, 0xFF));
    EXPECT_TRUE(
        BrushBlt(instance_.get(), &surface_, Rect(2, 0, 4, 1), nullptr, nullptr, nullptr, 0x00));
    EXPECT_FALSE(BrushBlt(instance_.get(), &surface_, Rect(4, 0, 6, 1), nullptr, nullptr, nullptr,
                          0x55));  // inversion needs a brush
    EXPECT_FALSE(
        BrushBlt(instance_.get(), &surface_, Rect(6, 0, 8, 1), nullptr, nullptr, nullptr, 0xF0));
    EXPECT_EQ(std::vector<BYTE>(band_.Row(0), band_.Row(0) + 8),
              (std::vector<BYTE>{0xFF, 0xFF, 0x00, 0x00, 0x55, 0x55, 0x55, 0x55}));
}

TEST_F(BrushBltTest, ASolidBrushFillsEachClipRectangleInsideTheBand) {
    host::ClipRegion clip({Rect(0, 0, 2, 2), Rect(5, 1, 20, 9)});
    BRUSHOBJ brush{0x000000FF, nullptr, 0};  // red: grey 79
    // An inverted rectangle is filled as its normal form.
    EXPECT_TRUE(BrushBlt(instance_.get(), &surface_, Rect(8, 2, 1, 0), &brush, nullptr,
                         clip.object(), 0xF0));
    EXPECT_EQ(std::vector<BYTE>(band_.Row(0), band_.Row(0) + 8),
              (std::vector<BYTE>{0x55, 79, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55}));
    EXPECT_EQ(std::vector<BYTE>(band_.Row(1), band_.Row(1) + 8),
              (std::vector<BYTE>{0x55, 79, 0x55, 0x55, 0x55, 79, 79, 79}));
}

TEST_F(BrushBltTest, TrackBandColorKeepsBlackAndWhiteOnly) {
    BYTE bits[4] = {};
    SURFOBJ oneBit{};
    oneBit.iBitmapFormat = BMF_1BPP;
    oneBit.pvBits = bits;
    TableTranslation blackWhite({0xFFFFFF, 0x000000});
    TableTranslation coloured({0x000000, 0x0000FF});
    BRUSHOBJ white{0xFFFFFF, nullptr, 0};
    BRUSHOBJ red{0x0000FF, nullptr, 0};
    BRUSHOBJ pattern{kPatternBrush, nullptr, 0};

    TrackBandColor(instance_.get(), &oneBit, nullptr, &blackWhite.object, 0xCCCC);
    TrackBandColor(instance_.get(), nullptr, &white, nullptr, 0xF0F0);
    TrackBandColor(instance_.get(), nullptr, &pattern, nullptr, 0xF0F0);
    TrackBandColor(instance_.get(), nullptr, &red, nullptr, 0xAAAA);  // reads no brush
    EXPECT_NE(instance_->state & kStateBandBlackWhite, 0u);

    TrackBandColor(instance_.get(), &oneBit, &red, &blackWhite.object, 0xB8B8);
    EXPECT_EQ(instance_->state & kStateBandBlackWhite, 0u);
    instance_->state = kStateBandBlackWhite;
    TrackBandColor(instance_.get(), &oneBit, nullptr, &coloured.object, 0xCCCC);
    EXPECT_EQ(instance_->state & kStateBandBlackWhite, 0u);
    instance_->state = kStateBandBlackWhite;
    SURFOBJ eightBit = oneBit;
    eightBit.iBitmapFormat = BMF_8BPP;
    TrackBandColor(instance_.get(), &eightBit, nullptr, &blackWhite.object, 0xCCCC);
    EXPECT_EQ(instance_->state & kStateBandBlackWhite, 0u);
}

TEST(ClipEnum, YieldsTheRectangleTheBoundsOrEveryRectangleOfAComplexClip) {
    ClipEnumerator walk;
    RECTL rect;
    ClipEnumStart(&walk, nullptr, Rect(1, 2, 3, 4));
    ASSERT_TRUE(ClipEnumNext(&walk, &rect));
    EXPECT_EQ(rect.right, 3);
    EXPECT_FALSE(ClipEnumNext(&walk, &rect));

    CLIPOBJ single{};
    single.iDComplexity = DC_RECT;
    single.rclBounds = Rect(5, 6, 7, 8);
    ClipEnumStart(&walk, &single, Rect(1, 2, 3, 4));
    ASSERT_TRUE(ClipEnumNext(&walk, &rect));
    EXPECT_EQ(rect.left, 5);
    EXPECT_FALSE(ClipEnumNext(&walk, &rect));

    // More rectangles than one batch holds.
    std::vector<RECTL> many;
    for (LONG i = 0; i < 40; ++i) many.push_back(Rect(i, 0, i + 1, 1));
    host::ClipRegion clip(many);
    ClipEnumStart(&walk, clip.object(), Rect(0, 0, 1, 1));
    std::vector<LONG> seen;
    while (ClipEnumNext(&walk, &rect)) seen.push_back(rect.left);
    ClipEnumEnd(&walk);
    ASSERT_EQ(seen.size(), 40u);
    std::sort(seen.begin(), seen.end());
    for (LONG i = 0; i < 40; ++i) EXPECT_EQ(seen[i], i);
}

}  // namespace
}  // namespace rendertest
