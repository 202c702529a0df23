// Halftoning of 8- and 24-bit bands: the dot decisions of each method, the
// two-colour plane mapping, the printer-order reading at the four rotations
// and error diffusion, each against a plain per-pixel model of the rules.

#include "command/halftone.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

namespace {

// A record with nothing but the dither method set.
std::unique_ptr<ExtPdev> Record(DWORD method) {
    auto pdev = std::make_unique<ExtPdev>();
    pdev->devmode.pub.dmDitherType = method;
    return pdev;
}

struct Band {
    LONG width = 0;
    LONG height = 0;
    DWORD bits = 8;
    LONG stride = 0;
    std::vector<BYTE> pixels;

    HalftoneSource Source() const { return {pixels.data(), stride, width, height, bits}; }
    // The grey value of source pixel (column, row).
    int Grey(LONG column, LONG row) const {
        const BYTE* p = &pixels[std::size_t(row) * stride + std::size_t(column) * (bits / 8)];
        return bits == 8 ? p[0] : (5 * p[0] + 9 * p[1] + 2 * p[2]) / 16;
    }
};

// Rows carry two spare bytes at their end, so a stride wider than the row is
// exercised too.
Band RandomBand(LONG width, LONG height, DWORD bits, std::mt19937* random) {
    Band band{width, height, bits, width * LONG(bits / 8) + 2, {}};
    band.pixels.resize(std::size_t(band.stride) * height);
    for (BYTE& b : band.pixels) b = static_cast<BYTE>((*random)());
    return band;
}

Band UniformBand(LONG width, LONG height, BYTE grey) {
    Band band{width, height, 8, width, {}};
    band.pixels.assign(std::size_t(width) * height, grey);
    return band;
}

struct Planes {
    LONG width = 0;
    LONG rows = 0;
    LONG stride = 0;
    std::vector<BYTE> plane1;
    std::vector<BYTE> plane2;

    // 1 when the dot at (x, row) of the plane is set.
    int Dot(int plane, LONG x, LONG row) const {
        const std::vector<BYTE>& bits = plane == 1 ? plane1 : plane2;
        return ((bits[std::size_t(row) * stride + std::size_t(x / 8)] >> (7 - x % 8)) & 1) ^ 1;
    }
    int Dots(int plane) const {
        int count = 0;
        for (LONG row = 0; row < rows; ++row)
            for (LONG x = 0; x < width; ++x) count += Dot(plane, x, row);
        return count;
    }
};

// Runs the halftoning with freshly scribbled planes, one spare byte per row.
Planes Halftone(DWORD method, const Band& band, int angle, bool twoPlanes, bool* ok = nullptr) {
    const SIZEL size = HalftoneOutputSize(band.Source(), angle);
    Planes planes{size.cx, size.cy, (size.cx + 7) / 8 + 1, {}, {}};
    planes.plane1.assign(std::size_t(planes.stride) * planes.rows, 0x5A);
    if (twoPlanes) planes.plane2.assign(planes.plane1.size(), 0x5A);
    auto pdev = Record(method);
    const bool done = HalftoneBand(pdev.get(), band.Source(), angle, planes.plane1.data(),
                                   twoPlanes ? planes.plane2.data() : nullptr, planes.stride);
    if (ok != nullptr)
        *ok = done;
    else
        EXPECT_TRUE(done);
    return planes;
}

// Model of the reading order: the grey value of output pixel x of output row i.
int PrinterOrderGrey(const Band& band, int angle, LONG i, LONG x) {
    switch (angle) {
        case 90:
            return band.Grey(band.width - 1 - i, x);
        case 270:
            return band.Grey(i, band.height - 1 - x);
        case 180:
            return band.Grey(band.width - 1 - x, band.height - 1 - i);
        default:
            return band.Grey(x, i);
    }
}

// Model of the plane mapping, rounding to nearest by integer arithmetic.
int Mapped(int kind, int grey) {
    if (kind == 1) return (std::min(grey, 79) * 255 * 2 + 79) / (79 * 2);
    if (kind == 2) return grey > 78 ? ((grey - 79) * 255 * 2 + 176) / (176 * 2) : 0;
    return grey;
}

// Model of error diffusion as the rules read: two 16-bit rows, every step
// checked against the row's bounds.
std::vector<std::vector<int>> DiffusedDots(const Band& band, int angle, int kind) {
    const SIZEL size = HalftoneOutputSize(band.Source(), angle);
    const LONG width = size.cx;
    const LONG rows = size.cy;
    std::vector<std::vector<int>> dots(rows, std::vector<int>(width));
    std::vector<std::int16_t> current(width, 0);
    std::vector<std::int16_t> next(width, 0);
    for (LONG i = 0; i < rows; ++i) {
        for (LONG x = 0; x < width; ++x)
            current[x] = static_cast<std::int16_t>(
                current[x] + Mapped(kind, PrinterOrderGrey(band, angle, i, x)));
        for (LONG x = 0; x < width; ++x) {
            const int v = current[x];
            const int out = v < 128 ? 0 : 255;
            dots[i][x] = v < 128 ? 1 : 0;
            const auto e = static_cast<std::int16_t>(v - out);
            if (x + 1 < width)
                current[x + 1] = static_cast<std::int16_t>(current[x + 1] + 7 * e / 16);
            if (i + 1 < rows) {
                if (x >= 1) next[x - 1] = static_cast<std::int16_t>(next[x - 1] + 3 * e / 16);
                next[x] = static_cast<std::int16_t>(next[x] + 5 * e / 16);
                if (x + 1 < width) next[x + 1] = static_cast<std::int16_t>(next[x + 1] + e / 16);
            }
        }
        std::swap(current, next);
        std::fill(next.begin(), next.end(), 0);
    }
    return dots;
}

// The padding of every output row stays white: the bits past the last pixel
// and the bytes past the row's last byte.
void ExpectPaddingWhite(const Planes& planes, const std::vector<BYTE>& plane) {
    for (LONG row = 0; row < planes.rows; ++row) {
        const BYTE* bytes = &plane[std::size_t(row) * planes.stride];
        for (LONG x = planes.width; x < planes.stride * 8; ++x)
            ASSERT_EQ((bytes[x / 8] >> (7 - x % 8)) & 1, 1) << "row " << row << " bit " << x;
    }
}

TEST(Halftone, FixedThresholdPutsADotBelow128) {
    Band band = UniformBand(2, 1, 0);
    band.pixels = {127, 128};
    const Planes planes = Halftone(kDitherThreshold, band, 0, false);
    EXPECT_EQ(planes.plane1[0], 0x7F);  // the 127 is a dot, the 128 and the padding white
    EXPECT_EQ(planes.plane1[1], 0xFF);
}

TEST(Halftone, OrderedDitherAtRowZero) {
    // Output row 0, pixel 1 has the threshold 0xC7 of the 4 x 4 matrix.
    Band band = UniformBand(2, 1, 0);
    for (BYTE grey : {BYTE{199}, BYTE{200}}) {
        band.pixels = {255, grey};
        const Planes planes = Halftone(kDitherOrdered4, band, 0, false);
        EXPECT_EQ(planes.Dot(1, 1, 0), grey == 199 ? 1 : 0) << int(grey);
        EXPECT_EQ(planes.Dot(1, 0, 0), 0);
    }
}

// A position is a dot for the grey values 0 .. threshold, so uniform bands of
// every grey value give back the matrix of each ordered method.
std::vector<int> RecoveredThresholds(DWORD method, int n) {
    std::vector<int> thresholds(std::size_t(n) * n, -1);
    for (int grey = 0; grey < 256; ++grey) {
        const Planes planes = Halftone(method, UniformBand(n, n, BYTE(grey)), 0, false);
        for (int x = 0; x < n; ++x)
            for (int row = 0; row < n; ++row)
                if (planes.Dot(1, x, row)) thresholds[x * n + row] = grey;
    }
    return thresholds;
}

TEST(Halftone, OrderedMatricesByPixelAndRow) {
    const std::vector<int> t4 = {0xA5, 0x47, 0x67, 0x87, 0xC7, 0x07, 0x27, 0xE7,
                                 0x77, 0x97, 0xB7, 0x57, 0x37, 0xF7, 0xD7, 0x17};
    const std::vector<int> t8 = {
        0x61, 0x09, 0x29, 0x69, 0x99, 0xF1, 0xD1, 0x91,  //
        0x11, 0x01, 0x21, 0x41, 0xE9, 0xF9, 0xD9, 0xB9,  //
        0x31, 0x19, 0x39, 0x51, 0xC9, 0xE1, 0xC1, 0xA9,  //
        0x71, 0x49, 0x59, 0x79, 0x89, 0xB1, 0xA1, 0x81,  //
        0x9D, 0xF5, 0xD5, 0x95, 0x65, 0x0D, 0x2D, 0x6D,  //
        0xED, 0xFD, 0xDD, 0xBD, 0x15, 0x05, 0x25, 0x45,  //
        0xCD, 0xE5, 0xC5, 0xAD, 0x35, 0x1D, 0x3D, 0x55,  //
        0x8D, 0xB5, 0xA5, 0x85, 0x75, 0x4D, 0x5D, 0x7D   //
    };
    EXPECT_EQ(RecoveredThresholds(kDitherOrdered4, 4), t4);
    EXPECT_EQ(RecoveredThresholds(kDitherOrdered8, 8), t8);
    // The threshold method is one threshold everywhere.
    EXPECT_EQ(RecoveredThresholds(kDitherThreshold, 4), std::vector<int>(16, 127));
}

TEST(Halftone, OrderedMatricesRepeatAcrossTheBand) {
    std::mt19937 random(7);
    const Band band = RandomBand(37, 21, 8, &random);
    const Planes wide = Halftone(kDitherOrdered8, band, 0, false);
    for (LONG row = 0; row < band.height; ++row) {
        for (LONG x = 0; x < band.width; ++x) {
            // The same pixel value in the top-left tile gives the same decision.
            Band tile = UniformBand(8, 8, BYTE(band.Grey(x, row)));
            const Planes one = Halftone(kDitherOrdered8, tile, 0, false);
            ASSERT_EQ(wide.Dot(1, x, row), one.Dot(1, x % 8, row % 8)) << x << "," << row;
        }
    }
    ExpectPaddingWhite(wide, wide.plane1);
}

TEST(Halftone, GreyOfColourPixels) {
    // Colour pixels give the same dots as grey pixels of their grey value,
    // whose weights 5, 9, 2 apply to the bytes in memory order.
    std::mt19937 random(11);
    Band colour = RandomBand(29, 17, 24, &random);
    const std::array<std::array<BYTE, 3>, 3> probes = {{{0, 0, 255}, {255, 0, 0}, {0, 255, 0}}};
    for (int k = 0; k < 3; ++k)
        std::memcpy(&colour.pixels[std::size_t(k) * 3], probes[k].data(), 3);
    EXPECT_EQ(colour.Grey(0, 0), 31);
    EXPECT_EQ(colour.Grey(1, 0), 79);
    EXPECT_EQ(colour.Grey(2, 0), 143);
    Band grey = UniformBand(29, 17, 0);
    for (LONG row = 0; row < 17; ++row)
        for (LONG x = 0; x < 29; ++x)
            grey.pixels[std::size_t(row) * 29 + x] = BYTE(colour.Grey(x, row));
    for (DWORD method : {kDitherErrorDiffusion, kDitherOrdered4}) {
        const Planes fromColour = Halftone(method, colour, 0, false);
        const Planes fromGrey = Halftone(method, grey, 0, false);
        EXPECT_EQ(fromColour.plane1, fromGrey.plane1) << method;
    }
}

TEST(Halftone, TwoPlaneMappingBoundaries) {
    // One row of every grey value with the threshold method: plane 1 has a
    // dot where the dark range mapping is below 128 (grey up to 39), plane 2
    // where the light range mapping is (grey up to 79 + 87; 79 + 88 maps to
    // 127.5, which rounds up to 128).
    Band band = UniformBand(256, 1, 0);
    for (int g = 0; g < 256; ++g) band.pixels[g] = BYTE(g);
    const Planes planes = Halftone(kDitherThreshold, band, 0, true);
    for (int g = 0; g < 256; ++g) {
        EXPECT_EQ(planes.Dot(1, g, 0), g <= 39 ? 1 : 0) << g;
        EXPECT_EQ(planes.Dot(2, g, 0), g <= 166 ? 1 : 0) << g;
    }
}

TEST(Halftone, TwoPlaneValuesAgainstOrderedThresholds) {
    // Grey 40: plane 1 value 129, plane 2 value 0 (a dot at every threshold).
    Planes planes = Halftone(kDitherOrdered8, UniformBand(8, 8, 40), 0, true);
    EXPECT_EQ(planes.Dots(2), 64);
    // T8 thresholds are 1 + 4k: those of at least 129 are 32.
    EXPECT_EQ(planes.Dots(1), 32);
    // Grey 200: plane 1 value 255 (never a dot), plane 2 value 175.
    planes = Halftone(kDitherOrdered8, UniformBand(8, 8, 200), 0, true);
    EXPECT_EQ(planes.Dots(1), 0);
    EXPECT_EQ(planes.Dot(2, 6, 3), 0);  // threshold 0xAD = 173
    EXPECT_EQ(planes.Dot(2, 3, 5), 1);  // threshold 0xB1 = 177
}

TEST(Halftone, RotationReadsPixelsInPrinterOrder) {
    std::mt19937 random(3);
    for (DWORD bits : {8u, 24u}) {
        for (int angle : {0, 90, 180, 270}) {
            const Band band = RandomBand(13, 7, bits, &random);
            const Planes planes = Halftone(kDitherThreshold, band, angle, true);
            ASSERT_EQ(planes.width, angle % 180 == 0 ? 13 : 7);
            for (LONG i = 0; i < planes.rows; ++i) {
                for (LONG x = 0; x < planes.width; ++x) {
                    const int grey = PrinterOrderGrey(band, angle, i, x);
                    ASSERT_EQ(planes.Dot(1, x, i), Mapped(1, grey) < 128 ? 1 : 0)
                        << "bits " << bits << " angle " << angle << " at " << x << "," << i;
                    ASSERT_EQ(planes.Dot(2, x, i), Mapped(2, grey) < 128 ? 1 : 0)
                        << "bits " << bits << " angle " << angle << " at " << x << "," << i;
                }
            }
            ExpectPaddingWhite(planes, planes.plane1);
            ExpectPaddingWhite(planes, planes.plane2);
        }
    }
}

TEST(Halftone, ErrorDiffusionMatchesTheModel) {
    std::mt19937 random(5);
    struct Case {
        LONG width, height;
        DWORD bits;
        int angle;
        bool twoPlanes;
    };
    const Case cases[] = {{1, 1, 8, 0, false},     {9, 1, 8, 0, false},     {1, 9, 8, 0, false},
                          {64, 23, 8, 0, false},   {45, 30, 24, 0, true},   {19, 11, 24, 90, true},
                          {19, 11, 8, 180, false}, {19, 11, 24, 270, false}};
    for (const Case& c : cases) {
        const Band band = RandomBand(c.width, c.height, c.bits, &random);
        const Planes planes = Halftone(kDitherErrorDiffusion, band, c.angle, c.twoPlanes);
        for (int plane = 1; plane <= (c.twoPlanes ? 2 : 1); ++plane) {
            const auto dots = DiffusedDots(band, c.angle, c.twoPlanes ? plane : 3);
            for (LONG i = 0; i < planes.rows; ++i)
                for (LONG x = 0; x < planes.width; ++x)
                    ASSERT_EQ(planes.Dot(plane, x, i), dots[i][x])
                        << c.width << "x" << c.height << " bits " << c.bits << " angle " << c.angle
                        << " plane " << plane << " at " << x << "," << i;
            ExpectPaddingWhite(planes, plane == 1 ? planes.plane1 : planes.plane2);
        }
    }
}

TEST(Halftone, ErrorDiffusionOfMidGrey) {
    const Planes planes = Halftone(kDitherErrorDiffusion, UniformBand(16, 4, 128), 0, false);
    EXPECT_EQ(planes.Dot(1, 0, 0), 0);  // 128 is not below 128
    EXPECT_EQ(planes.Dot(1, 1, 0), 1);  // 128 - 127 * 7 / 16 = 73
}

TEST(Halftone, EveryBandStartsWithoutErrors) {
    std::mt19937 random(9);
    const Band band = RandomBand(40, 12, 8, &random);
    auto pdev = Record(kDitherErrorDiffusion);
    Planes first{40, 12, 5, std::vector<BYTE>(60), {}};
    Planes second = first;
    ASSERT_TRUE(HalftoneBand(pdev.get(), band.Source(), 0, first.plane1.data(), nullptr, 5));
    ASSERT_TRUE(HalftoneBand(pdev.get(), band.Source(), 0, second.plane1.data(), nullptr, 5));
    EXPECT_EQ(first.plane1, second.plane1);
}

TEST(Halftone, OtherMethodsLeaveThePlanesWhite) {
    std::mt19937 random(1);
    const Band band = RandomBand(21, 5, 8, &random);
    for (DWORD method : {0u, 1u, 4u, 6u, 256u, 259u}) {
        const Planes planes = Halftone(method, band, 90, true);
        EXPECT_TRUE(std::all_of(planes.plane1.begin(), planes.plane1.end(), [](BYTE b) {
            return b == 0xFF;
        })) << method;
        EXPECT_TRUE(std::all_of(planes.plane2.begin(), planes.plane2.end(), [](BYTE b) {
            return b == 0xFF;
        })) << method;
    }
}

TEST(Halftone, StateIsClearedAfterTheBand) {
    std::mt19937 random(2);
    const Band band = RandomBand(10, 10, 24, &random);
    for (DWORD method : {kDitherErrorDiffusion, kDitherOrdered4}) {
        auto pdev = Record(method);
        std::vector<BYTE> plane1(40), plane2(40);
        ASSERT_TRUE(HalftoneBand(pdev.get(), band.Source(), 270, plane1.data(), plane2.data(), 4));
        const HalftoneState zero{};
        EXPECT_EQ(std::memcmp(&pdev->halftone, &zero, sizeof zero), 0);
    }
}

TEST(Halftone, UnusableInputIsRefusedUntouched) {
    std::mt19937 random(4);
    const Band band = RandomBand(16, 4, 8, &random);
    auto pdev = Record(kDitherErrorDiffusion);
    std::vector<BYTE> plane(64, 0x33);
    const auto refused = [&](HalftoneSource source, int angle, LONG outStride, BYTE* target) {
        const bool done = HalftoneBand(pdev.get(), source, angle, target, nullptr, outStride);
        return !done && std::all_of(plane.begin(), plane.end(), [](BYTE b) { return b == 0x33; });
    };
    HalftoneSource source = band.Source();
    EXPECT_TRUE(refused(source, 45, 2, plane.data()));
    EXPECT_TRUE(refused(source, 0, 1, plane.data()));   // output rows need 2 bytes
    EXPECT_TRUE(refused(source, 90, 0, plane.data()));  // 4 pixels still need a byte
    EXPECT_TRUE(refused(source, 0, 2, nullptr));
    EXPECT_FALSE(HalftoneBand(nullptr, source, 0, plane.data(), nullptr, 2));
    for (LONG width : {-1, -16}) {
        source = band.Source();
        source.width = width;
        EXPECT_TRUE(refused(source, 0, 2, plane.data()));
    }
    source = band.Source();
    source.height = -4;
    EXPECT_TRUE(refused(source, 90, 2, plane.data()));
    source = band.Source();
    source.stride = 15;  // rows of 16 pixels cannot lie 15 bytes apart
    EXPECT_TRUE(refused(source, 0, 2, plane.data()));
    for (DWORD bits : {1u, 4u, 16u, 32u}) {
        source = band.Source();
        source.bitsPerPixel = bits;
        EXPECT_TRUE(refused(source, 0, 2, plane.data())) << bits;
    }
    source = band.Source();
    source.bits = nullptr;
    EXPECT_TRUE(refused(source, 0, 2, plane.data()));
    const HalftoneState zero{};
    EXPECT_EQ(std::memcmp(&pdev->halftone, &zero, sizeof zero), 0);
}

TEST(Halftone, BottomUpRowsWithANegativeStride) {
    std::mt19937 random(6);
    const Band band = RandomBand(12, 6, 24, &random);
    // The same rows in reverse memory order, walked from the last.
    Band flipped = band;
    for (LONG row = 0; row < band.height; ++row)
        std::memcpy(&flipped.pixels[std::size_t(band.height - 1 - row) * band.stride],
                    &band.pixels[std::size_t(row) * band.stride], std::size_t(band.stride));
    HalftoneSource source = flipped.Source();
    source.bits = flipped.pixels.data() + std::size_t(band.height - 1) * band.stride;
    source.stride = -band.stride;
    const Planes expected = Halftone(kDitherErrorDiffusion, band, 90, false);
    std::vector<BYTE> plane(expected.plane1.size());
    auto pdev = Record(kDitherErrorDiffusion);
    ASSERT_TRUE(HalftoneBand(pdev.get(), source, 90, plane.data(), nullptr, expected.stride));
    EXPECT_EQ(plane, expected.plane1);
}

TEST(Halftone, EmptyBandsSucceedWithoutOutput) {
    auto pdev = Record(kDitherErrorDiffusion);
    const BYTE pixel = 0;
    BYTE plane = 0x33;
    EXPECT_TRUE(HalftoneBand(pdev.get(), {&pixel, 0, 0, 0, 8}, 90, &plane, nullptr, 0));
    EXPECT_EQ(plane, 0x33);
}

}  // namespace
