// The band walk's arithmetic and the device text buffer, without a device.

#include "driver/band_layout.h"

#include <gtest/gtest.h>

#include <cstring>

#include "render/text_buffer.h"

namespace {

bool Same(const RECTL& a, const RECTL& b) {
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

TEST(BandLayout, BandsFitTheBudgetInMultiplesOfEight) {
    SIZEL size = BandBitmapSize(kBandsDown, 1, {576, 100000}, kBandBudget);
    EXPECT_EQ(size.cx, 576);
    EXPECT_EQ(size.cy, 58248);
    size = BandBitmapSize(kBandsUp, 1, {576, 2618}, kBandBudget);
    EXPECT_EQ(size.cy, 2618);  // at most the page
    size = BandBitmapSize(kBandsDown, 24, {576, 2618}, kBandBudget);
    EXPECT_EQ(size.cy, 2424);
    size = BandBitmapSize(kBandsDown, 24, {576, 2618}, kBandBudget / 2);
    EXPECT_EQ(size.cy, 1208);
    // Strips: whole 32-bit words of the page's height, then 8 columns.
    size = BandBitmapSize(kStripsRight, 24, {2618, 576}, kBandBudget);
    EXPECT_EQ(size.cx, 2424);
    EXPECT_EQ(size.cy, 576);
    size = BandBitmapSize(kStripsLeft, 1, {2618, 576}, kBandBudget);
    EXPECT_EQ(size.cx, 2618);
    size = BandBitmapSize(kStripsLeft, 1, {100000, 576}, kBandBudget);
    EXPECT_EQ(size.cx, 58240);
    // Nothing fits: a zero side.
    EXPECT_EQ(BandBitmapSize(kBandsDown, 1, {5000000, 100}, kBandBudget).cy, 0);
    EXPECT_EQ(BandBitmapSize(kStripsRight, 1, {100, 2000000}, kBandBudget).cx, 0);
    EXPECT_EQ(BandBitmapSize(kBandsDown, 1, {576, 100}, 7 * 72).cy, 0);
    // An empty page is no page.
    EXPECT_EQ(BandBitmapSize(kBandsDown, 1, {0, 100}, kBandBudget).cx, 0);
    EXPECT_EQ(BandBitmapSize(kStripsRight, 1, {100, 0}, kBandBudget).cx, 0);
}

// Walks a page and returns its bands.
std::vector<RECTL> Walk(WORD direction, POINTL origin, SIZEL bitmap, SIZEL page) {
    std::vector<RECTL> bands{FirstBand(direction, origin, bitmap, page)};
    RECTL band = bands.back();
    for (int guard = 0; guard < 100 && !AdvanceBand(direction, origin, bitmap, page, &band);
         ++guard)
        bands.push_back(band);
    return bands;
}

TEST(BandLayout, EachDirectionWalksThePageFromItsOwnSide) {
    const POINTL origin{5, 7};
    struct Case {
        WORD direction;
        SIZEL bitmap;
        SIZEL page;
        std::vector<RECTL> bands;
    };
    const Case cases[] = {
        {kBandsDown,
         {576, 1000},
         {576, 2500},
         {{-5, -7, 571, 993}, {-5, 993, 571, 1993}, {-5, 1993, 571, 2493}}},
        {kBandsUp,
         {576, 1000},
         {576, 2500},
         {{-5, 1493, 571, 2493}, {-5, 493, 571, 1493}, {-5, -7, 571, 493}}},
        {kStripsRight,
         {1000, 576},
         {2500, 576},
         {{-5, -7, 995, 569}, {995, -7, 1995, 569}, {1995, -7, 2495, 569}}},
        {kStripsLeft,
         {1000, 576},
         {2500, 576},
         {{1495, -7, 2495, 569}, {495, -7, 1495, 569}, {-5, -7, 495, 569}}},
    };
    for (const Case& c : cases) {
        const std::vector<RECTL> bands = Walk(c.direction, origin, c.bitmap, c.page);
        ASSERT_EQ(bands.size(), c.bands.size()) << c.direction;
        for (std::size_t i = 0; i < bands.size(); ++i)
            EXPECT_TRUE(Same(bands[i], c.bands[i])) << c.direction << " band " << i;
    }
    // A page exactly one band high is one band.
    EXPECT_EQ(Walk(kBandsDown, {0, 0}, {576, 2618}, {576, 2618}).size(), 1u);
    EXPECT_EQ(Walk(kBandsUp, {0, 0}, {576, 2618}, {576, 2618}).size(), 1u);
}

TEST(TextBuffer, HoldsTwentyFiveHundredTwentyItemsAndSixtyFourKilobytes) {
    TextBuf buffer{};
    ASSERT_TRUE(InitDevText(&buffer));
    EXPECT_EQ(buffer.itemCapacity, 2520u);
    EXPECT_EQ(buffer.dataCapacity, 65536u);
    EXPECT_EQ(buffer.itemCount, 0u);
    TextRecord item{};
    item.fontId = 7;
    item.attributes = kTextBold | kTextSingleByteRun;
    item.x = -3;
    item.y = 40;
    item.width = 100;
    item.height = 24;
    ASSERT_TRUE(AppendDevText(&buffer, item, reinterpret_cast<const BYTE*>("ab"), 2));
    ASSERT_TRUE(AppendDevText(&buffer, item, reinterpret_cast<const BYTE*>("cde"), 3));
    // The second record, byte for byte as the command library reads it.
    const BYTE expected[26] = {7,    0,  0x0A, 0, 2, 0,   0, 0, 3, 0,  0xFD, 0xFF, 0xFF,
                               0xFF, 40, 0,    0, 0, 100, 0, 0, 0, 24, 0,    0,    0};
    EXPECT_EQ(std::memcmp(buffer.items + 26, expected, 26), 0);
    EXPECT_EQ(std::memcmp(buffer.data, "abcde", 5), 0);
    EXPECT_EQ(+ReadDevTextItem(buffer, 1).count, 3);
    EXPECT_EQ(+ReadDevTextItem(buffer, 5).fontId, 0);  // past the count: nothing

    EmptyDevText(&buffer);
    for (DWORD i = 0; i < 2520; ++i) ASSERT_TRUE(AppendDevText(&buffer, item, nullptr, 0)) << i;
    EXPECT_FALSE(DevTextHasRoom(buffer, 0));
    EXPECT_FALSE(AppendDevText(&buffer, item, nullptr, 0));
    EmptyDevText(&buffer);
    std::vector<BYTE> chars(65535, 'x');
    ASSERT_TRUE(AppendDevText(&buffer, item, chars.data(), 65535));
    EXPECT_TRUE(DevTextHasRoom(buffer, 1));
    EXPECT_FALSE(DevTextHasRoom(buffer, 2));
    EXPECT_FALSE(AppendDevText(&buffer, item, chars.data(), 2));
    EXPECT_EQ(buffer.itemCount, 1u);

    ASSERT_TRUE(InitDevText(&buffer));  // a second start releases the first blocks
    EXPECT_EQ(buffer.itemCount, 0u);
    FreeDevText(&buffer);
    EXPECT_EQ(buffer.items, nullptr);
    EXPECT_EQ(buffer.data, nullptr);
    EXPECT_FALSE(DevTextHasRoom(buffer, 0));
    FreeDevText(&buffer);  // twice is harmless
}

}  // namespace
