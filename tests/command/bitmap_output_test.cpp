// Bitmap output and the one-bit rotation: headers and palettes, rows padded
// to 4 bytes, strips of band directions 2 and 3 checked against a plain
// per-pixel rotation, the invert flag.

#include <random>

#include "command/rotate.h"
#include "command_test_util.h"

namespace cmdtest {
namespace {

DWORD Dword(const std::string& s, std::size_t at) {
    DWORD value = 0;
    std::memcpy(&value, s.data() + at, sizeof value);
    return value;
}

bool Pixel(const std::vector<BYTE>& bits, LONG stride, LONG x, LONG y) {
    return (bits[static_cast<std::size_t>(y * stride + x / 8)] >> (7 - x % 8)) & 1;
}

std::vector<BYTE> RandomBits(std::size_t bytes, unsigned seed) {
    std::mt19937 random(seed);
    std::vector<BYTE> bits(bytes);
    for (BYTE& b : bits) b = static_cast<BYTE>(random());
    return bits;
}

TEST(Rotation, MatchesAPerPixelRotation) {
    const LONG rows = 13;
    const LONG stride = 3;
    const std::vector<BYTE> source = RandomBits(rows * stride, 7);
    const LONG outStride = (rows + 7) / 8;
    for (int angle : {90, 270}) {
        std::vector<BYTE> out(24 * outStride, 0);
        RotateOneBit(source.data(), stride, rows, angle == 90 ? 2 : 0, 3, angle, out.data(),
                     outStride);
        for (LONG i = 0; i < 24; ++i) {
            for (LONG x = 0; x < 16; ++x) {
                const bool got = Pixel(out, outStride, x, i);
                if (x >= rows) {
                    EXPECT_TRUE(got) << "padding is white";
                    continue;
                }
                const bool want = angle == 90 ? Pixel(source, stride, 23 - i, x)
                                              : Pixel(source, stride, i, rows - 1 - x);
                ASSERT_EQ(got, want) << angle << " row " << i << " x " << x;
            }
        }
    }
}

class BitmapOutput : public CommandJob {
  protected:
    ExtPdev* BeginBitmap(const PageGeometry& geometry, BYTE extraOptions = 0) {
        Devmode mode = PlainDevmode();
        mode.priv.optionFlags |= kOptionBgrOrBitmapOutput | extraOptions;
        return Begin(mode, geometry);
    }
    // One page of one band; the job output afterwards.
    std::string OnePage(SIZEL page, const std::vector<BYTE>& bits, LONG stride, LONG width,
                        LONG height) {
        EXPECT_EQ(CmndStartPage(pdev_, &mode_, &page, nullptr, 0), 1);
        const BandRecord band{
            0, stride, width, height, {0, 0, width, height}, {0, 0, width, height}, 0};
        EXPECT_EQ(CmndSendBand(pdev_, bits.data(), &band, nullptr, 0, nullptr, 0), 1);
        EXPECT_EQ(CmndEndPage(pdev_), 1);
        return End();
    }
};

TEST_F(BitmapOutput, EightBitPagesCarryAGrayPalette) {
    ASSERT_TRUE(BeginBitmap(Geometry(8, 1, 0)));
    std::vector<BYTE> bits(12 * 3);
    for (std::size_t i = 0; i < bits.size(); ++i) bits[i] = static_cast<BYTE>(i);
    const std::string out = OnePage({10, 3}, bits, 12, 10, 3);
    ASSERT_EQ(out.size(), 1078u + 3 * 12);
    EXPECT_EQ(out.substr(0, 2), "BM");
    EXPECT_EQ(Dword(out, 2), 1078u + 36);
    EXPECT_EQ(Dword(out, 6), 0u);
    EXPECT_EQ(Dword(out, 10), 1078u);
    EXPECT_EQ(Dword(out, 14), 40u);
    EXPECT_EQ(Dword(out, 18), 10u);
    EXPECT_EQ(Dword(out, 22), 3u);
    EXPECT_EQ(Dword(out, 26), 1u | (8u << 16));  // planes, bit count
    for (std::size_t at = 30; at < 54; at += 4) EXPECT_EQ(Dword(out, at), 0u);
    EXPECT_EQ(Dword(out, 54 + 4 * 200), 0x00C8C8C8u);
    // Rows as they are, 10 bytes and 2 zero bytes each.
    EXPECT_EQ(out.substr(1078, 10), std::string(reinterpret_cast<const char*>(bits.data()), 10));
    EXPECT_EQ(out.substr(1088, 2), std::string(2, '\0'));
    EXPECT_EQ(out.substr(1090, 10),
              std::string(reinterpret_cast<const char*>(bits.data() + 12), 10));
}

TEST_F(BitmapOutput, OneBitPalettesAreBlackThenWhite) {
    ASSERT_TRUE(BeginBitmap(Geometry(1, 1, 0)));
    std::vector<BYTE> bits(4 * 2, 0xA5);
    const std::string out = OnePage({20, 2}, bits, 4, 20, 2);
    EXPECT_EQ(Dword(out, 10), 62u);
    EXPECT_EQ(Dword(out, 2), 62u + 2 * 4);
    EXPECT_EQ(out.substr(54, 8), std::string("\0\0\0\0\xFF\xFF\xFF\0", 8));
    EXPECT_EQ(out.substr(62), std::string("\xA5\xA5\xA5\0\xA5\xA5\xA5\0", 8));
}

TEST_F(BitmapOutput, TheInvertFlagComplementsThePixels) {
    ASSERT_TRUE(BeginBitmap(Geometry(1, 1, 0), kOptionInvertBitmap));
    std::vector<BYTE> bits(4, 0xA5);
    const std::string out = OnePage({20, 1}, bits, 4, 20, 1);
    EXPECT_EQ(out.substr(54, 8), std::string("\0\0\0\0\xFF\xFF\xFF\0", 8));
    EXPECT_EQ(out.substr(62), std::string("\x5A\x5A\x5A\0", 4));
}

TEST_F(BitmapOutput, OtherDepthsAreRefused) {
    ASSERT_TRUE(BeginBitmap(Geometry(4, 1, 0)));
    const SIZEL page{20, 2};
    EXPECT_EQ(CmndStartPage(pdev_, &mode_, &page, nullptr, 0), 0);
}

struct StripCase {
    WORD direction;
    WORD rotation;
};
class Strips : public BitmapOutput, public ::testing::WithParamInterface<StripCase> {};

TEST_P(Strips, OneBitStripsAreRotatedPixelByPixel) {
    const StripCase c = GetParam();
    ASSERT_TRUE(BeginBitmap(Geometry(1, c.direction, c.rotation)));
    // A strip 100 pixels wide (not a multiple of 8 or 32) and 37 rows high.
    const LONG width = 100, height = 37, stride = 16;
    const std::vector<BYTE> bits = RandomBits(stride * height, c.direction);
    const std::string out = OnePage({width, height}, bits, stride, width, height);
    EXPECT_EQ(Dword(out, 18), 37u);  // the page turned
    EXPECT_EQ(Dword(out, 22), 100u);
    const LONG outStride = 8;  // 5 bytes padded to 4
    ASSERT_EQ(out.size(), 62u + width * outStride);
    const std::vector<BYTE> rows(out.begin() + 62, out.end());
    for (LONG i = 0; i < width; ++i) {
        for (LONG x = 0; x < height; ++x) {
            const bool want = c.rotation == 90 ? Pixel(bits, stride, width - 1 - i, x)
                                               : Pixel(bits, stride, i, height - 1 - x);
            ASSERT_EQ(Pixel(rows, outStride, x, i), want) << "row " << i << " x " << x;
        }
        EXPECT_EQ(rows[i * outStride + 5], 0);  // padding to 4 bytes
    }
}

// Above one bit both landscape directions read column i from the bottom up.
TEST_P(Strips, DeeperStripsReadColumnsFromTheBottomUp) {
    const StripCase c = GetParam();
    ASSERT_TRUE(BeginBitmap(Geometry(8, c.direction, c.rotation)));
    const LONG width = 3, height = 2, stride = 4;
    const std::vector<BYTE> bits{1, 2, 3, 0, 4, 5, 6, 0};
    const std::string out = OnePage({width, height}, bits, stride, width, height);
    ASSERT_EQ(out.size(), 1078u + 3 * 4);
    EXPECT_EQ(out.substr(1078), std::string("\x04\x01\0\0\x05\x02\0\0\x06\x03\0\0", 12));
}
INSTANTIATE_TEST_SUITE_P(Directions, Strips,
                         ::testing::Values(StripCase{2, 270}, StripCase{3, 90}));

}  // namespace
}  // namespace cmdtest
