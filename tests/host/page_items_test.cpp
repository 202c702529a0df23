// Page items (images and rectangles) drawn into bands by the engine's own
// services, as they are when the driver hooks none of its drawing.
#include <gtest/gtest.h>

#include <cstring>

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

}  // namespace
