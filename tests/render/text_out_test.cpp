// The pieces of device text and barcodes that need no device: the printer's
// character tables, Shift-JIS to JIS X 0208, hexadecimal barcode data and
// turned barcode images.

#include "render/text_out.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "render/barcode_draw.h"
#include "render/char_tables.h"

namespace {

TEST(CharTables, MapLatinFullWidthAndShiftJisCodes) {
    struct Latin {
        BYTE in, out;
    };
    for (const Latin& row :
         {Latin{0x41, 0x41}, Latin{0x7F, 0x7F}, Latin{0x80, 0x20}, Latin{0xA3, 0x9C},
          Latin{0xC4, 0x8E}, Latin{0xE9, 0x82}, Latin{0xFC, 0x81}, Latin{0xFF, 0x98}})
        EXPECT_EQ(PrinterLatinCode(row.in), row.out) << int{row.in};

    struct Wide {
        BYTE in;
        JisCode out;
    };
    for (const Wide& row :
         {Wide{0x21, {0x21, 0x2A}}, Wide{0x30, {0x23, 0x30}}, Wide{0x41, {0x23, 0x41}},
          Wide{0x5C, {0x21, 0x6F}}, Wide{0x7A, {0x23, 0x7A}}, Wide{0x7E, {0x21, 0x31}},
          Wide{0xA1, {0x21, 0x23}}, Wide{0xA6, {0x25, 0x72}}, Wide{0xB0, {0x21, 0x3C}},
          Wide{0xB1, {0x25, 0x22}}, Wide{0xDD, {0x25, 0x73}}, Wide{0xDE, {0x21, 0x2B}},
          Wide{0xDF, {0x21, 0x2C}}, Wide{0x20, {0x21, 0x21}}, Wide{0x7F, {0x21, 0x21}},
          Wide{0xA0, {0x21, 0x21}}, Wide{0xE0, {0x21, 0x21}}})
        EXPECT_EQ(FullWidthOf(row.in), row.out) << int{row.in};

    struct Kanji {
        BYTE lead, trail;
        JisCode out;
    };
    // Hiragana a, the kanji of "kan" and "ji", an ideographic space, and the
    // last code of a lead byte's odd and even rows.
    for (const Kanji& row : {Kanji{0x82, 0xA0, {0x24, 0x22}}, Kanji{0x8A, 0xBF, {0x34, 0x41}},
                             Kanji{0x8E, 0x9A, {0x3B, 0x7A}}, Kanji{0x81, 0x40, {0x21, 0x21}},
                             Kanji{0x81, 0x9E, {0x21, 0x7E}}, Kanji{0x81, 0x9F, {0x22, 0x21}},
                             Kanji{0xE0, 0x40, {0x5F, 0x21}}, Kanji{0x88, 0x9F, {0x30, 0x21}}})
        EXPECT_EQ(ShiftJisToJis(row.lead, row.trail), row.out)
            << std::hex << int{row.lead} << int{row.trail};
}

TEST(BarcodeData, HexadecimalPairsGiveOneByteEach) {
    struct Case {
        const char* text;
        std::vector<BYTE> bytes;
    };
    const Case cases[] = {
        {"30313F", {0x30, 0x31, 0x3F}}, {"3", {}}, {"", {}},
        {"30313", {0x30, 0x31}},  // the odd last digit is ignored
        {"aFz1", {0xAF, 0x01}},   // lower case; anything else counts as 0
    };
    for (const Case& c : cases)
        EXPECT_EQ(DecodeHexPairs(reinterpret_cast<const BYTE*>(c.text),
                                 static_cast<ULONG>(std::strlen(c.text))),
                  c.bytes)
            << c.text;
}

int BitAt(const std::vector<BYTE>& bits, LONG stride, LONG x, LONG y) {
    return (bits[static_cast<std::size_t>(y) * stride + (x >> 3)] >> (7 - (x & 7))) & 1;
}

TEST(RotatedImage, MovesEveryPixelAndFillsTheRestWithOnes) {
    constexpr LONG w = 20, h = 10, stride = 3;
    std::vector<BYTE> image(stride * h);
    std::mt19937 random(7);
    for (BYTE& b : image) b = static_cast<BYTE>(random());
    struct Case {
        int rotation;
        LONG width, height;
        RECTL used;
    };
    const Case cases[] = {
        {90, 16, 20, {6, 0, 16, 20}},
        {180, 24, 10, {4, 0, 24, 10}},
        {270, 10, 24, {0, 4, 10, 24}},
    };
    for (const Case& c : cases) {
        RotatedImage turned;
        ASSERT_TRUE(CreateRotatedImage(image.data(), w, h, stride, c.rotation, &turned));
        EXPECT_EQ(turned.width, c.width);
        EXPECT_EQ(turned.height, c.height);
        EXPECT_EQ(turned.stride, (c.width + 7) / 8);
        EXPECT_EQ(turned.bits.size(), static_cast<std::size_t>((c.height + 7) / 8 * 8) *
                                          static_cast<std::size_t>(turned.stride));
        EXPECT_EQ(std::memcmp(&turned.used, &c.used, sizeof c.used), 0) << c.rotation;
        // Each source pixel against where a naive turn puts it.
        for (LONG y = 0; y < h; ++y)
            for (LONG x = 0; x < w; ++x) {
                LONG tx = 0, ty = 0;
                if (c.rotation == 90) tx = c.width - 1 - y, ty = x;
                if (c.rotation == 180) tx = c.width - 1 - x, ty = h - 1 - y;
                if (c.rotation == 270) tx = y, ty = c.height - 1 - x;
                ASSERT_EQ(BitAt(turned.bits, turned.stride, tx, ty), BitAt(image, stride, x, y))
                    << c.rotation << " at " << x << "," << y;
            }
        int filler = 0;
        for (LONG y = 0; y < c.height; ++y)
            for (LONG x = 0; x < c.width; ++x) {
                const bool inside =
                    x >= c.used.left && x < c.used.right && y >= c.used.top && y < c.used.bottom;
                if (!inside) {
                    ++filler;
                    EXPECT_EQ(BitAt(turned.bits, turned.stride, x, y), 1) << c.rotation;
                }
            }
        EXPECT_EQ(filler, c.width * c.height - w * h) << c.rotation;
    }
    RotatedImage none;
    EXPECT_FALSE(CreateRotatedImage(image.data(), w, h, stride, 45, &none));
    EXPECT_FALSE(
        CreateRotatedImage(image.data(), w, h, 2, 90, &none));  // rows shorter than the width
    EXPECT_FALSE(CreateRotatedImage(image.data(), 0, h, stride, 90, &none));
}

TEST(RunLength, IsTheVectorsLengthRoundedUp) {
    struct Case {
        LONG x, y, length;
    };
    for (const Case& c : {Case{0, 28, 28}, Case{0, -28, 28}, Case{3, 4, 5}, Case{1, 1, 2},
                          Case{-20, 1, 21}, Case{0, 0, 0}, Case{INT32_MIN, INT32_MIN, INT32_MAX}})
        EXPECT_EQ(VectorLength(c.x, c.y), c.length) << c.x << "," << c.y;
}

}  // namespace
