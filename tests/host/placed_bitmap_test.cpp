// Placed bitmaps drawn into bands by the document loop.
#include <gtest/gtest.h>

#include <cstring>

#include "host/print_job.h"
#include "host_test_util.h"

namespace {

using hosttest::Bit;
using hosttest::GuardedBitmap;

host::PlacedBitmap OneBitPicture(POINTL position, LONG width, LONG height, unsigned seed) {
    host::PlacedBitmap bitmap{position, {width, height}, BMF_1BPP, (width + 7) / 8, {}};
    bitmap.bits = hosttest::RandomBytes(static_cast<std::size_t>(bitmap.stride) * height, seed);
    return bitmap;
}

// Every band pixel: the bitmap's where it covers the page pixel, else the
// band's earlier content.
void ExpectOneBitBand(GuardedBitmap& band, const std::vector<std::vector<int>>& before,
                      POINTL origin, const host::PlacedBitmap& bitmap) {
    for (LONG y = 0; y < static_cast<LONG>(before.size()); ++y) {
        for (LONG x = 0; x < static_cast<LONG>(before[0].size()); ++x) {
            const LONG bx = origin.x + x - bitmap.position.x;
            const LONG by = origin.y + y - bitmap.position.y;
            const bool covered = bx >= 0 && bx < bitmap.size.cx && by >= 0 && by < bitmap.size.cy;
            const int expected =
                covered ? Bit(bitmap.bits.data() + static_cast<std::size_t>(by) * bitmap.stride, bx)
                        : before[y][x];
            ASSERT_EQ(Bit(band.row(y), x), expected) << "pixel " << x << "," << y;
        }
    }
}

TEST(PlacedBitmaps, OneBitCopiesAtEveryAlignmentOnBothSides) {
    const POINTL origin{100, 50};
    for (LONG left = 84; left <= 126; ++left) {
        for (LONG width : {1, 5, 13, 29}) {
            SCOPED_TRACE(testing::Message() << "left " << left << " width " << width);
            GuardedBitmap band(40, 4, BMF_1BPP);
            const auto noise = hosttest::RandomBytes(static_cast<std::size_t>(band.stride()) * 4,
                                                     static_cast<unsigned>(left));
            for (LONG y = 0; y < 4; ++y)
                std::memcpy(band.row(y), noise.data() + static_cast<std::size_t>(y) * band.stride(),
                            static_cast<std::size_t>(band.stride()));
            std::vector<std::vector<int>> before(4, std::vector<int>(40));
            for (LONG y = 0; y < 4; ++y)
                for (LONG x = 0; x < 40; ++x) before[y][x] = Bit(band.row(y), x);

            const host::PlacedBitmap bitmap =
                OneBitPicture({left, 49}, width, 3, static_cast<unsigned>(left * 31 + width));
            host::DrawPlacedBitmap(band.surface(), origin, bitmap);
            ExpectOneBitBand(band, before, origin, bitmap);
            ASSERT_TRUE(band.GuardsIntact());
        }
    }
}

TEST(PlacedBitmaps, ByteFormatsCopyTheOverlapOnly) {
    GuardedBitmap band(10, 3, BMF_24BPP, 0xEE);
    host::PlacedBitmap bitmap{{-2, 1}, {4, 5}, BMF_24BPP, 12, {}};
    bitmap.bits.resize(12 * 5);
    for (std::size_t i = 0; i < bitmap.bits.size(); ++i) bitmap.bits[i] = static_cast<BYTE>(i);
    host::DrawPlacedBitmap(band.surface(), {0, 0}, bitmap);
    // Page columns 0 and 1 (bitmap columns 2 and 3) of rows 1 and 2.
    for (LONG y = 0; y < 3; ++y) {
        for (LONG x = 0; x < 10; ++x) {
            for (int c = 0; c < 3; ++c) {
                const BYTE expected = y >= 1 && x < 2
                                          ? static_cast<BYTE>((y - 1) * 12 + (x + 2) * 3 + c)
                                          : BYTE{0xEE};
                ASSERT_EQ(band.row(y)[x * 3 + c], expected) << x << "," << y;
            }
        }
    }
    EXPECT_TRUE(band.GuardsIntact());
}

TEST(PlacedBitmaps, MismatchedOrShortBitmapsAreLeftOut) {
    GuardedBitmap band(16, 4, BMF_8BPP, 0x33);
    host::PlacedBitmap bitmap{{0, 0}, {16, 4}, BMF_8BPP, 16, std::vector<BYTE>(64, 0x99)};

    host::PlacedBitmap wrongFormat = bitmap;
    wrongFormat.format = BMF_24BPP;
    host::DrawPlacedBitmap(band.surface(), {0, 0}, wrongFormat);
    host::PlacedBitmap shortBits = bitmap;
    shortBits.bits.resize(63);
    host::DrawPlacedBitmap(band.surface(), {0, 0}, shortBits);
    host::PlacedBitmap narrowStride = bitmap;
    narrowStride.stride = 15;
    host::DrawPlacedBitmap(band.surface(), {0, 0}, narrowStride);
    host::PlacedBitmap empty = bitmap;
    empty.size.cy = 0;
    host::DrawPlacedBitmap(band.surface(), {0, 0}, empty);
    host::DrawPlacedBitmap(band.surface(), {0, 4}, bitmap);  // just below the band
    host::DrawPlacedBitmap(nullptr, {0, 0}, bitmap);
    for (LONG y = 0; y < 4; ++y)
        for (LONG x = 0; x < 16; ++x) ASSERT_EQ(band.row(y)[x], 0x33);

    // The last row needs only its pixels, not a whole stride.
    host::PlacedBitmap tight{{0, 0}, {3, 2}, BMF_8BPP, 16, std::vector<BYTE>(19, 0x44)};
    host::DrawPlacedBitmap(band.surface(), {0, 0}, tight);
    EXPECT_EQ(band.row(1)[2], 0x44);
    EXPECT_EQ(band.row(1)[3], 0x33);
    EXPECT_TRUE(band.GuardsIntact());
}

}  // namespace
