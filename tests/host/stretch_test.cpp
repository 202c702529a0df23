// The engine's stretching service.
#include <gtest/gtest.h>

#include <cstring>

#include "host/engine.h"
#include "host/winddi.h"
#include "host_test_util.h"

namespace {

using hosttest::Bit;
using hosttest::GuardedBitmap;
using hosttest::SetBit;

BOOL Stretch(SURFOBJ* dest, SURFOBJ* source, RECTL destRect, RECTL sourceRect,
             ULONG mode = HALFTONE) {
    return EngStretchBlt(dest, source, nullptr, nullptr, nullptr, nullptr, nullptr, &destRect,
                         &sourceRect, nullptr, mode);
}

BOOL Nearest(SURFOBJ* dest, SURFOBJ* source, RECTL destRect, RECTL sourceRect) {
    return Stretch(dest, source, destRect, sourceRect, COLORONCOLOR);
}

// Fills a one-bit bitmap with random pixels.
void RandomFill(GuardedBitmap& bitmap, LONG height, unsigned seed) {
    const auto bytes =
        hosttest::RandomBytes(static_cast<std::size_t>(bitmap.stride()) * height, seed);
    for (LONG y = 0; y < height; ++y)
        std::memcpy(bitmap.row(y), bytes.data() + static_cast<std::size_t>(y) * bitmap.stride(),
                    static_cast<std::size_t>(bitmap.stride()));
}

TEST(EngineStretch, OneBitIdentityCopyIsExact) {
    GuardedBitmap source(37, 5, BMF_1BPP);
    GuardedBitmap dest(37, 5, BMF_1BPP, 0x00);
    RandomFill(source, 5, 1);
    ASSERT_TRUE(Stretch(dest.surface(), source.surface(), {0, 0, 37, 5}, {0, 0, 37, 5}));
    for (LONG y = 0; y < 5; ++y)
        for (LONG x = 0; x < 37; ++x)
            ASSERT_EQ(Bit(dest.row(y), x), Bit(source.row(y), x)) << x << "," << y;
    EXPECT_TRUE(dest.GuardsIntact());
}

TEST(EngineStretch, DoublingRepeatsEveryPixelTwiceEachWay) {
    GuardedBitmap source(3, 2, BMF_8BPP);
    const BYTE grey[2][3] = {{10, 20, 30}, {40, 50, 60}};
    for (LONG y = 0; y < 2; ++y) std::memcpy(source.row(y), grey[y], 3);
    GuardedBitmap dest(6, 4, BMF_8BPP);
    ASSERT_TRUE(Nearest(dest.surface(), source.surface(), {0, 0, 6, 4}, {0, 0, 3, 2}));
    for (LONG y = 0; y < 4; ++y)
        for (LONG x = 0; x < 6; ++x) EXPECT_EQ(dest.row(y)[x], grey[y / 2][x / 2]) << x << "," << y;

    GuardedBitmap bits(13, 3, BMF_1BPP);
    RandomFill(bits, 3, 2);
    GuardedBitmap doubled(26, 6, BMF_1BPP);
    ASSERT_TRUE(Nearest(doubled.surface(), bits.surface(), {0, 0, 26, 6}, {0, 0, 13, 3}));
    for (LONG y = 0; y < 6; ++y)
        for (LONG x = 0; x < 26; ++x)
            ASSERT_EQ(Bit(doubled.row(y), x), Bit(bits.row(y / 2), x / 2)) << x << "," << y;
    EXPECT_TRUE(dest.GuardsIntact());
    EXPECT_TRUE(doubled.GuardsIntact());
}

TEST(EngineStretch, DestinationsPastTheEdgesAreCutAndSampledAsIfWhole) {
    GuardedBitmap source(16, 16, BMF_8BPP);
    for (LONG y = 0; y < 16; ++y)
        for (LONG x = 0; x < 16; ++x) source.row(y)[x] = static_cast<BYTE>(y * 16 + x);

    // Doubled onto a rectangle hanging 4 pixels past every edge.
    GuardedBitmap dest(24, 24, BMF_8BPP);
    ASSERT_TRUE(Nearest(dest.surface(), source.surface(), {-4, -4, 28, 28}, {0, 0, 16, 16}));
    for (LONG y = 0; y < 24; ++y)
        for (LONG x = 0; x < 24; ++x)
            ASSERT_EQ(dest.row(y)[x], source.row((y + 4) / 2)[(x + 4) / 2]) << x << "," << y;
    EXPECT_TRUE(dest.GuardsIntact());

    // The same into one bit, far past the right and bottom edges.
    GuardedBitmap band(20, 9, BMF_1BPP, 0x00);
    GuardedBitmap bits(40, 40, BMF_1BPP);
    RandomFill(bits, 40, 3);
    ASSERT_TRUE(Nearest(band.surface(), bits.surface(), {5, 3, 45, 43}, {0, 0, 40, 40}));
    for (LONG y = 0; y < 9; ++y)
        for (LONG x = 0; x < 20; ++x)
            ASSERT_EQ(Bit(band.row(y), x), x < 5 || y < 3 ? 0 : Bit(bits.row(y - 3), x - 5));
    EXPECT_TRUE(band.GuardsIntact());

    // Wholly outside: nothing drawn, still a success.
    GuardedBitmap untouched(8, 8, BMF_8BPP, 0x77);
    EXPECT_TRUE(Stretch(untouched.surface(), source.surface(), {-20, 0, -8, 8}, {0, 0, 16, 16}));
    EXPECT_TRUE(Stretch(untouched.surface(), source.surface(), {8, 8, 30, 30}, {0, 0, 16, 16}));
    for (LONG y = 0; y < 8; ++y)
        for (LONG x = 0; x < 8; ++x) EXPECT_EQ(untouched.row(y)[x], 0x77);
    EXPECT_TRUE(untouched.GuardsIntact());
}

// Engine bitmaps hold exactly their bits, so the sanitizer build shows any
// access past them. A white source paints exactly the cut rectangle.
TEST(EngineStretch, RectanglesHangingPastEveryEdgePaintOnlyTheirCut) {
    const ULONG sources[] = {BMF_1BPP, BMF_8BPP, BMF_24BPP, BMF_32BPP};
    const ULONG dests[] = {BMF_1BPP, BMF_8BPP, BMF_24BPP};
    const RECTL rects[] = {{-7, -3, 9, 5},  {11, 6, 30, 21},  {-40, 2, 50, 7},
                           {3, -9, 12, 40}, {-5, -5, 25, 19}, {13, 0, 19, 13}};
    for (ULONG sourceFormat : sources) {
        HSURF sourceHandle{EngCreateBitmap({5, 3}, 0, sourceFormat, BMF_TOPDOWN, nullptr).value};
        SURFOBJ* source = EngLockSurface(sourceHandle);
        ASSERT_NE(source, nullptr);
        std::memset(source->pvBits, 0xFF, source->cjBits);
        for (ULONG destFormat : dests) {
            for (const RECTL& rect : rects) {
                SCOPED_TRACE(testing::Message() << sourceFormat << "->" << destFormat << " at "
                                                << rect.left << "," << rect.top);
                // Bottom-up, so that negative line steps are walked too.
                HSURF destHandle{EngCreateBitmap({19, 13}, 0, destFormat, 0, nullptr).value};
                SURFOBJ* dest = EngLockSurface(destHandle);
                ASSERT_NE(dest, nullptr);
                ASSERT_TRUE(Stretch(dest, source, rect, {0, 0, 5, 3}));
                const LONG pixelBits = destFormat == BMF_1BPP ? 1 : destFormat == BMF_8BPP ? 8 : 24;
                for (LONG y = 0; y < 13; ++y) {
                    const BYTE* row = static_cast<const BYTE*>(dest->pvScan0) + y * dest->lDelta;
                    for (LONG x = 0; x < 19; ++x) {
                        const bool inside =
                            x >= rect.left && x < rect.right && y >= rect.top && y < rect.bottom;
                        const int painted =
                            pixelBits == 1 ? Bit(row, x) : row[x * pixelBits / 8] == 0xFF;
                        ASSERT_EQ(painted, inside ? 1 : 0) << x << "," << y;
                    }
                }
                EngUnlockSurface(dest);
                EngDeleteSurface(destHandle);
            }
        }
        EngUnlockSurface(source);
        EngDeleteSurface(sourceHandle);
    }
}

TEST(EngineStretch, SamplesOutsideTheSourceLeaveTheDestinationAlone) {
    GuardedBitmap source(4, 4, BMF_8BPP, 9);
    GuardedBitmap dest(8, 8, BMF_8BPP, 0x77);
    ASSERT_TRUE(Stretch(dest.surface(), source.surface(), {0, 0, 8, 8}, {-4, -4, 4, 4}));
    for (LONG y = 0; y < 8; ++y)
        for (LONG x = 0; x < 8; ++x) EXPECT_EQ(dest.row(y)[x], x >= 4 && y >= 4 ? 9 : 0x77);
    EXPECT_TRUE(dest.GuardsIntact());
}

TEST(EngineStretch, MidGreyHalftonesToHalfTheDotsInTheBayerPattern) {
    GuardedBitmap grey(1, 1, BMF_24BPP);
    grey.row(0)[0] = grey.row(0)[1] = grey.row(0)[2] = 128;
    GuardedBitmap dest(64, 16, BMF_1BPP, 0x00);
    ASSERT_TRUE(Stretch(dest.surface(), grey.surface(), {0, 0, 64, 16}, {0, 0, 1, 1}));
    int white = 0;
    for (LONG y = 0; y < 16; ++y)
        for (LONG x = 0; x < 64; ++x) {
            white += Bit(dest.row(y), x);
            // The pattern repeats every 8 pixels from the destination's origin.
            EXPECT_EQ(Bit(dest.row(y), x), Bit(dest.row(y % 8), x % 8));
        }
    EXPECT_EQ(white, 64 * 16 / 2);
    // Threshold 0 of the matrix lights first, threshold 32 does not.
    EXPECT_EQ(Bit(dest.row(0), 0), 1);
    EXPECT_EQ(Bit(dest.row(0), 1), 0);
    EXPECT_EQ(Bit(dest.row(1), 1), 1);  // threshold 16
    EXPECT_TRUE(dest.GuardsIntact());

    // Pure black and pure white stay pure.
    for (BYTE level : {BYTE{0}, BYTE{255}}) {
        GuardedBitmap flat(1, 1, BMF_8BPP, level);
        GuardedBitmap out(16, 8, BMF_1BPP, 0x5A);
        ASSERT_TRUE(Stretch(out.surface(), flat.surface(), {0, 0, 16, 8}, {0, 0, 1, 1}));
        for (LONG y = 0; y < 8; ++y)
            for (LONG x = 0; x < 16; ++x) EXPECT_EQ(Bit(out.row(y), x), level ? 1 : 0);
    }
}

// The dither cell is the one the destination's device reported: 4x4 or
// 8x8, 8x8 for a surface of no device. A cell of c dots lights
// round(grey x c / 255) of them wherever it lies.
TEST(EngineStretch, TheDitherCellIsTheSizeTheDeviceReported) {
    HDEV device = host::CreateEngineDevice();
    ASSERT_NE(device, nullptr);
    const struct {
        const char* name;
        bool associated;
        ULONG patternSize;
        LONG side;
    } kCases[] = {{"4x4", true, HT_PATSIZE_4x4, 4},
                  {"8x8", true, HT_PATSIZE_8x8, 8},
                  {"no device", false, 0, 8}};
    for (const auto& c : kCases) {
        host::SetEngineDeviceHalftone(device, c.patternSize);
        for (BYTE grey : {BYTE{0}, BYTE{40}, BYTE{100}, BYTE{128}, BYTE{200}, BYTE{255}}) {
            SCOPED_TRACE(testing::Message() << c.name << " grey " << int{grey});
            GuardedBitmap level(1, 1, BMF_8BPP, grey);
            GuardedBitmap band(32, 16, BMF_1BPP, 0x5A);
            if (c.associated) {
                ASSERT_TRUE(EngAssociateSurface(band.surface()->hsurf, device, 0));
            }
            // The band starts at page (3, 5): cells are counted from the page.
            POINTL origin{-3, -5};
            RECTL destRect{0, 0, 32, 16};
            RECTL sourceRect{0, 0, 1, 1};
            ASSERT_TRUE(EngStretchBlt(band.surface(), level.surface(), nullptr, nullptr, nullptr,
                                      nullptr, &origin, &destRect, &sourceRect, nullptr, HALFTONE));
            const int cells = c.side * c.side;
            const int lit = (grey * cells + 127) / 255;
            bool repeatsEveryFour = true;
            for (LONG top = 0; top + c.side <= 16; top += c.side)
                for (LONG left = 0; left + c.side <= 32; left += c.side) {
                    int white = 0;
                    for (LONG y = top; y < top + c.side; ++y)
                        for (LONG x = left; x < left + c.side; ++x) white += Bit(band.row(y), x);
                    EXPECT_EQ(white, lit) << "cell at " << left << "," << top;
                }
            for (LONG y = 0; y < 16; ++y)
                for (LONG x = 0; x < 32; ++x) {
                    EXPECT_EQ(Bit(band.row(y), x), Bit(band.row(y % c.side), x % c.side));
                    if (Bit(band.row(y), x) != Bit(band.row(y % 4), x % 4))
                        repeatsEveryFour = false;
                }
            // 25 of 64 dots cannot repeat every four.
            if (grey == 100) {
                EXPECT_EQ(repeatsEveryFour, c.side == 4);
            }
            EXPECT_TRUE(band.GuardsIntact());
        }
    }
    host::DeleteEngineDevice(device);
}

TEST(EngineStretch, ColoursKeepTheirOrderAndTurnGreyInEightBits) {
    GuardedBitmap rgb(2, 1, BMF_24BPP);
    const BYTE pixels[6] = {10, 20, 30, 200, 100, 0};
    std::memcpy(rgb.row(0), pixels, 6);
    GuardedBitmap copy(2, 1, BMF_24BPP);
    ASSERT_TRUE(Stretch(copy.surface(), rgb.surface(), {0, 0, 2, 1}, {0, 0, 2, 1}));
    EXPECT_EQ(std::memcmp(copy.row(0), pixels, 6), 0);

    GuardedBitmap grey(2, 1, BMF_8BPP);
    ASSERT_TRUE(Stretch(grey.surface(), rgb.surface(), {0, 0, 2, 1}, {0, 0, 2, 1}));
    EXPECT_EQ(grey.row(0)[0], (5 * 10 + 9 * 20 + 2 * 30) >> 4);
    EXPECT_EQ(grey.row(0)[1], (5 * 200 + 9 * 100) >> 4);

    GuardedBitmap wide(1, 1, BMF_32BPP);
    const BYTE quad[4] = {1, 2, 3, 99};
    std::memcpy(wide.row(0), quad, 4);
    GuardedBitmap fromWide(1, 1, BMF_24BPP);
    ASSERT_TRUE(Stretch(fromWide.surface(), wide.surface(), {0, 0, 1, 1}, {0, 0, 1, 1}));
    EXPECT_EQ(std::memcmp(fromWide.row(0), quad, 3), 0);

    GuardedBitmap bits(8, 1, BMF_1BPP);
    bits.row(0)[0] = 0x80;  // white, then black
    GuardedBitmap spread(2, 1, BMF_24BPP, 0x11);
    ASSERT_TRUE(Stretch(spread.surface(), bits.surface(), {0, 0, 2, 1}, {0, 0, 2, 1}));
    const BYTE expected[6] = {255, 255, 255, 0, 0, 0};
    EXPECT_EQ(std::memcmp(spread.row(0), expected, 6), 0);
}

TEST(EngineStretch, BadArgumentsAreRefusedAndEmptyRectanglesDrawNothing) {
    GuardedBitmap source(4, 4, BMF_8BPP, 1);
    GuardedBitmap dest(4, 4, BMF_8BPP, 0x77);
    EXPECT_FALSE(Stretch(dest.surface(), source.surface(), {0, 0, 0x7FFFFFFF, 4}, {0, 0, 4, 4}));
    EXPECT_FALSE(Stretch(dest.surface(), source.surface(), {0, 0, 4, 4}, {0, -0x7FFFFFFF, 4, 4}));
    EXPECT_TRUE(Stretch(dest.surface(), source.surface(), {2, 0, 2, 4}, {0, 0, 4, 4}));
    EXPECT_TRUE(Stretch(dest.surface(), source.surface(), {0, 0, 4, 4}, {1, 1, 1, 4}));
    EXPECT_EQ(dest.row(0)[2], 0x77);

    RECTL all{0, 0, 4, 4};
    EXPECT_FALSE(EngStretchBlt(dest.surface(), source.surface(), nullptr, nullptr, nullptr, nullptr,
                               nullptr, nullptr, &all, nullptr, HALFTONE));
    EXPECT_FALSE(Stretch(nullptr, source.surface(), all, all));
    EXPECT_FALSE(Stretch(dest.surface(), nullptr, all, all));
    GuardedBitmap wide(4, 4, BMF_32BPP);
    EXPECT_FALSE(Stretch(wide.surface(), source.surface(), all, all));  // not a band format
    SURFOBJ unknown = *source.surface();
    unknown.iBitmapFormat = BMF_PNG;
    EXPECT_FALSE(Stretch(dest.surface(), &unknown, all, all));
    SURFOBJ cramped = *source.surface();
    cramped.lDelta = 3;  // lines closer than a row
    EXPECT_FALSE(Stretch(dest.surface(), &cramped, all, all));
    SURFOBJ overlong = *source.surface();
    overlong.lDelta = 8;  // its lines would run past its bits
    EXPECT_FALSE(Stretch(dest.surface(), &overlong, all, all));
    SURFOBJ overlongDest = *dest.surface();
    overlongDest.lDelta = -4;  // from the first row upwards: before its bits
    EXPECT_FALSE(Stretch(&overlongDest, source.surface(), all, all));
    for (LONG y = 0; y < 4; ++y)
        for (LONG x = 0; x < 4; ++x) EXPECT_EQ(dest.row(y)[x], 0x77);
    EXPECT_TRUE(dest.GuardsIntact());
}

TEST(EngineStretch, BackwardRectanglesMirrorAndTwoMirrorsCancel) {
    GuardedBitmap source(3, 2, BMF_8BPP);
    const BYTE grey[2][3] = {{10, 20, 30}, {40, 50, 60}};
    for (LONG y = 0; y < 2; ++y) std::memcpy(source.row(y), grey[y], 3);
    GuardedBitmap dest(6, 2, BMF_8BPP);
    ASSERT_TRUE(Nearest(dest.surface(), source.surface(), {6, 0, 0, 2}, {0, 0, 3, 2}));
    for (LONG x = 0; x < 6; ++x) EXPECT_EQ(dest.row(0)[x], grey[0][2 - x / 2]) << x;
    ASSERT_TRUE(Nearest(dest.surface(), source.surface(), {0, 2, 6, 0}, {0, 0, 3, 2}));
    for (LONG x = 0; x < 6; ++x) EXPECT_EQ(dest.row(0)[x], grey[1][x / 2]) << x;
    ASSERT_TRUE(Nearest(dest.surface(), source.surface(), {6, 2, 0, 0}, {3, 2, 0, 0}));
    for (LONG y = 0; y < 2; ++y)
        for (LONG x = 0; x < 6; ++x) EXPECT_EQ(dest.row(y)[x], grey[y][x / 2]) << x;
    EXPECT_TRUE(dest.GuardsIntact());
}

// Nearest sampling follows the driver's rule: column k of 5 from a 2-pixel
// source is (2k + 1) x 2 / 10.
TEST(EngineStretch, NearestSamplingFollowsTheCentreRule) {
    GuardedBitmap source(2, 1, BMF_8BPP);
    source.row(0)[0] = 11;
    source.row(0)[1] = 22;
    GuardedBitmap dest(5, 1, BMF_8BPP);
    ASSERT_TRUE(Nearest(dest.surface(), source.surface(), {0, 0, 5, 1}, {0, 0, 2, 1}));
    const BYTE expected[5] = {11, 11, 22, 22, 22};
    EXPECT_EQ(std::memcmp(dest.row(0), expected, 5), 0);
}

// HALFTONE smooths: a fine black-and-white checkerboard shrunk to half is
// mid-grey, which the 8-bit band shows as grey and the 1-bit band as a
// dither of about half the dots; COLORONCOLOR keeps one of the two.
TEST(EngineStretch, HalftoneSmoothsWhereNearestPicks) {
    GuardedBitmap board(64, 64, BMF_8BPP);
    for (LONG y = 0; y < 64; ++y)
        for (LONG x = 0; x < 64; ++x) board.row(y)[x] = (x + y) % 2 == 0 ? 255 : 0;
    GuardedBitmap grey(32, 32, BMF_8BPP);
    ASSERT_TRUE(Stretch(grey.surface(), board.surface(), {0, 0, 32, 32}, {0, 0, 64, 64}));
    for (LONG y = 2; y < 30; ++y)
        for (LONG x = 2; x < 30; ++x) {
            EXPECT_GT(grey.row(y)[x], 96) << x << "," << y;
            EXPECT_LT(grey.row(y)[x], 160) << x << "," << y;
        }
    GuardedBitmap picked(32, 32, BMF_8BPP);
    ASSERT_TRUE(Nearest(picked.surface(), board.surface(), {0, 0, 32, 32}, {0, 0, 64, 64}));
    for (LONG y = 0; y < 32; ++y)
        for (LONG x = 0; x < 32; ++x) ASSERT_TRUE(picked.row(y)[x] == 0 || picked.row(y)[x] == 255);

    GuardedBitmap mono(32, 32, BMF_1BPP);
    ASSERT_TRUE(Stretch(mono.surface(), board.surface(), {0, 0, 32, 32}, {0, 0, 64, 64}));
    int white = 0;
    for (LONG y = 8; y < 24; ++y)
        for (LONG x = 8; x < 24; ++x) white += Bit(mono.row(y), x);
    EXPECT_GT(white, 256 * 3 / 8);
    EXPECT_LT(white, 256 * 5 / 8);
    EXPECT_TRUE(mono.GuardsIntact());
}

// Enlarging interpolates between pixel centres, the edges repeating;
// shrinking averages exactly the pixels under each destination pixel, and
// a mirrored stretch filters the mirrored picture.
TEST(EngineStretch, HalftoneFiltersAreBilinearUpAndBoxDown) {
    GuardedBitmap pair(2, 1, BMF_8BPP);
    pair.row(0)[0] = 0;
    pair.row(0)[1] = 255;
    GuardedBitmap wide(8, 1, BMF_8BPP);
    ASSERT_TRUE(Stretch(wide.surface(), pair.surface(), {0, 0, 8, 1}, {0, 0, 2, 1}));
    const BYTE ramp[8] = {0, 0, 32, 96, 159, 223, 255, 255};
    EXPECT_EQ(std::memcmp(wide.row(0), ramp, 8), 0);
    GuardedBitmap mirrored(8, 1, BMF_8BPP);
    ASSERT_TRUE(Stretch(mirrored.surface(), pair.surface(), {8, 0, 0, 1}, {0, 0, 2, 1}));
    for (LONG x = 0; x < 8; ++x) EXPECT_EQ(mirrored.row(0)[x], ramp[7 - x]) << x;

    GuardedBitmap steps(6, 2, BMF_8BPP);
    const BYTE values[6] = {0, 30, 60, 90, 120, 250};
    for (LONG y = 0; y < 2; ++y) std::memcpy(steps.row(y), values, 6);
    GuardedBitmap thirds(2, 1, BMF_8BPP);
    ASSERT_TRUE(Stretch(thirds.surface(), steps.surface(), {0, 0, 2, 1}, {0, 0, 6, 2}));
    EXPECT_EQ(thirds.row(0)[0], 30);        // (0 + 30 + 60) / 3
    EXPECT_EQ(thirds.row(0)[1], 153);       // (90 + 120 + 250) / 3
    GuardedBitmap quarter(4, 1, BMF_8BPP);  // 1.5 source pixels a destination pixel
    ASSERT_TRUE(Stretch(quarter.surface(), steps.surface(), {0, 0, 4, 1}, {0, 0, 6, 1}));
    EXPECT_EQ(quarter.row(0)[0], 10);   // (0 + 30 / 2) / 1.5
    EXPECT_EQ(quarter.row(0)[3], 207);  // (120 / 2 + 250) / 1.5
    EXPECT_TRUE(wide.GuardsIntact() && thirds.GuardsIntact() && quarter.GuardsIntact());
}

// A footprint reaching far past the source (here 2^29 pixels for one)
// weighs the edge pixels for the part outside and costs no more than the
// source's own pixels.
TEST(EngineStretch, AHugeFootprintFallsOnTheEdgePixels) {
    GuardedBitmap row(4, 1, BMF_8BPP);
    const BYTE values[4] = {0, 100, 100, 200};
    std::memcpy(row.row(0), values, 4);
    GuardedBitmap one(1, 1, BMF_8BPP);
    ASSERT_TRUE(Stretch(one.surface(), row.surface(), {0, 0, 1, 1}, {-(1 << 28), 0, 1 << 28, 1}));
    EXPECT_EQ(one.row(0)[0], 100);  // half the first pixel, half the last
    EXPECT_TRUE(one.GuardsIntact());
}

// The dither is anchored at the halftone origin, so that two bands of one
// page continue one pattern.
TEST(EngineStretch, TheDitherIsAnchoredAtTheHalftoneOrigin) {
    GuardedBitmap grey(1, 1, BMF_8BPP, 100);
    GuardedBitmap whole(16, 16, BMF_1BPP);
    ASSERT_TRUE(Stretch(whole.surface(), grey.surface(), {0, 0, 16, 16}, {0, 0, 1, 1}));
    GuardedBitmap lower(16, 13, BMF_1BPP);
    POINTL origin{-3, -3};  // the page's origin seen from a band starting at page (3, 3)
    RECTL destRect{0, 0, 16, 13};
    RECTL sourceRect{0, 0, 1, 1};
    ASSERT_TRUE(EngStretchBlt(lower.surface(), grey.surface(), nullptr, nullptr, nullptr, nullptr,
                              &origin, &destRect, &sourceRect, nullptr, HALFTONE));
    for (LONG y = 0; y < 13; ++y)
        for (LONG x = 0; x < 13; ++x)
            ASSERT_EQ(Bit(lower.row(y), x), Bit(whole.row(y + 3), x + 3)) << x << "," << y;
}

}  // namespace
