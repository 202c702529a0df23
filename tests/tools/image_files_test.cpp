// The image decoders of qlpr print, on small files made here.

#include "tools/image_files.h"

#include <gtest/gtest.h>
#include <png.h>

#include <csetjmp>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "host/winddi.h"
#include "jpeg_files.h"
#include "test_support.h"

namespace {

using qlpr::DecodedImage;
using Bytes = host::PixelBytes;  // what decoded images hold

Bytes FromText(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

void Append(Bytes& out, const void* data, std::size_t size) {
    const auto* bytes = static_cast<const BYTE*>(data);
    out.insert(out.end(), bytes, bytes + size);
}
template <class T>
void AppendLe(Bytes& out, T value) {
    Append(out, &value, sizeof value);
}

// ---- Any-maps ----------------------------------------------------------

TEST(PnmDecoder, PlainAndRawBitmapsGiveTheSameOneBitImage) {
    // 10 x 2: row 0 ink at 0 and 9, row 1 ink at 1..8.
    const Bytes plain = FromText("P1\n# comment\n10 2\n1000000001\n0 1 1 1 1 1 1 1 1 0\n");
    Bytes raw = FromText("P4 10 2\n");
    for (BYTE b : {0x80, 0x40, 0x7F, 0x80}) raw.push_back(b);
    std::string error;
    for (const Bytes& file : {plain, raw}) {
        auto image = qlpr::DecodePnm(file, &error);
        ASSERT_TRUE(image) << error;
        EXPECT_EQ(image->format, BMF_1BPP);
        EXPECT_EQ(image->width, 10);
        EXPECT_EQ(image->height, 2);
        EXPECT_EQ(image->stride, 4);
        EXPECT_EQ(image->palette, (std::vector<ULONG>{0xFFFFFF, 0x000000}));
        EXPECT_EQ(image->bits[0], 0x80);
        EXPECT_EQ(image->bits[1] & 0xC0, 0x40);
        EXPECT_EQ(image->bits[4], 0x7F);
        EXPECT_EQ(image->bits[5] & 0xC0, 0x80);
    }
}

TEST(PnmDecoder, GreyMapsScaleTheirMaximumToEightBits) {
    std::string error;
    auto plain = qlpr::DecodePnm(FromText("P2 3 1 1000 0 500 1000\n"), &error);
    ASSERT_TRUE(plain) << error;
    EXPECT_EQ(plain->format, BMF_8BPP);
    ASSERT_EQ(plain->palette.size(), 256u);
    EXPECT_EQ(plain->palette[0x80], 0x808080u);
    EXPECT_EQ(plain->bits[0], 0);
    EXPECT_EQ(plain->bits[1], 128);
    EXPECT_EQ(plain->bits[2], 255);

    Bytes wide = FromText("P5 2 1 65535\n");
    for (BYTE b : {0xFF, 0xFF, 0x80, 0x00}) wide.push_back(b);
    auto raw = qlpr::DecodePnm(wide, &error);
    ASSERT_TRUE(raw) << error;
    EXPECT_EQ(raw->bits[0], 255);
    EXPECT_EQ(raw->bits[1], 128);
}

TEST(PnmDecoder, PixMapsBecomeBlueGreenRed) {
    Bytes raw = FromText("P6 2 1 255\n");
    for (BYTE b : {10, 20, 30, 40, 50, 60}) raw.push_back(b);
    const Bytes plain = FromText("P3 2 1 255\n10 20 30\n40 50 60\n");
    std::string error;
    for (const Bytes& file : {raw, plain}) {
        auto image = qlpr::DecodePnm(file, &error);
        ASSERT_TRUE(image) << error;
        EXPECT_EQ(image->format, BMF_24BPP);
        EXPECT_EQ(image->stride, 8);
        EXPECT_EQ(Bytes(image->bits.begin(), image->bits.begin() + 6),
                  (Bytes{30, 20, 10, 60, 50, 40}));
    }
}

TEST(PnmDecoder, RefusesBadFiles) {
    const char* const kBad[] = {
        "P4 16 2\n\xFF",           // raster ends early
        "P5 2 1 255\n\x01",        // raster ends early
        "P2 2 1 10 3 11\n",        // sample above the maximum
        "P2 2 1 0 0 0\n",          // maximum 0
        "P2 2 1 70000 0 0\n",      // maximum above 16 bits
        "P1 0 5\n",                // no pixels
        "P1 3\n",                  // header incomplete
        "P1 2 1 0 2\n",            // not a bit
        "P4 65536 1\n",            // too wide
        "P5 60000 60000 255\n",    // too many pixels
        "P2 60000 4000 255\n0 0",  // far too short for its raster
        "P6 99999999999 1 255\n",  // absurd width
        "P5 1 1 255",              // no blank after the header
        "P7 1 1\n",                // not an any-map
    };
    for (const char* text : kBad) {
        std::string error;
        EXPECT_FALSE(qlpr::DecodePnm(FromText(text), &error)) << text;
        EXPECT_FALSE(error.empty()) << text;
    }
}

// ---- Windows bitmaps ---------------------------------------------------

struct BmpLayout {
    LONG width;
    LONG height;
    WORD bits;
    DWORD compression = 0;
    std::vector<DWORD> masks;    // after a 40-byte header
    std::vector<ULONG> palette;  // 0x00RRGGBB
    Bytes pixels;                // as stored
};

Bytes MakeBmp(const BmpLayout& layout) {
    Bytes info;
    AppendLe<DWORD>(info, 40);
    AppendLe<LONG>(info, layout.width);
    AppendLe<LONG>(info, layout.height);
    AppendLe<WORD>(info, 1);
    AppendLe<WORD>(info, layout.bits);
    AppendLe<DWORD>(info, layout.compression);
    AppendLe<DWORD>(info, static_cast<DWORD>(layout.pixels.size()));
    AppendLe<LONG>(info, 0);
    AppendLe<LONG>(info, 0);
    AppendLe<DWORD>(info, static_cast<DWORD>(layout.palette.size()));
    AppendLe<DWORD>(info, 0);
    for (DWORD mask : layout.masks) AppendLe(info, mask);
    for (ULONG colour : layout.palette) AppendLe<DWORD>(info, colour);
    Bytes file = {'B', 'M'};
    AppendLe<DWORD>(file, static_cast<DWORD>(14 + info.size() + layout.pixels.size()));
    AppendLe<DWORD>(file, 0);
    AppendLe<DWORD>(file, static_cast<DWORD>(14 + info.size()));
    Append(file, info.data(), info.size());
    Append(file, layout.pixels.data(), layout.pixels.size());
    return file;
}

TEST(BmpDecoder, IndexedBitmapsKeepTheirFormatAndPaletteAndTurnTopDown) {
    std::string error;
    // Bottom-up: the first stored row is the image's last.
    auto one = qlpr::DecodeBmp(
        MakeBmp({3, 2, 1, 0, {}, {0x000000, 0xFF0000}, {0x20, 0, 0, 0, 0xC0, 0, 0, 0}}), &error);
    ASSERT_TRUE(one) << error;
    EXPECT_EQ(one->format, BMF_1BPP);
    EXPECT_EQ(one->bits[0], 0xC0);
    EXPECT_EQ(one->bits[4], 0x20);
    EXPECT_EQ(one->palette[1], 0xFF0000u);

    auto four = qlpr::DecodeBmp(
        MakeBmp({2, 1, 4, 0, {}, {0x111111, 0x222222, 0x333333}, {0x21, 0, 0, 0}}), &error);
    ASSERT_TRUE(four) << error;
    EXPECT_EQ(four->format, BMF_4BPP);
    EXPECT_EQ(four->bits[0], 0x21);
    ASSERT_EQ(four->palette.size(), 16u);
    EXPECT_EQ(four->palette[2], 0x333333u);
    EXPECT_EQ(four->palette[3], 0u);

    // Top-down (negative height) rows stay in order.
    auto eight = qlpr::DecodeBmp(
        MakeBmp({1, -2, 8, 0, {}, {0, 0xABCDEF}, {1, 0, 0, 0, 0, 0, 0, 0}}), &error);
    ASSERT_TRUE(eight) << error;
    EXPECT_EQ(eight->format, BMF_8BPP);
    EXPECT_EQ(eight->bits[0], 1);
    EXPECT_EQ(eight->bits[4], 0);
}

TEST(BmpDecoder, DirectColourBitmaps) {
    std::string error;
    auto rgb = qlpr::DecodeBmp(MakeBmp({1, 1, 24, 0, {}, {}, {1, 2, 3, 0}}), &error);
    ASSERT_TRUE(rgb) << error;
    EXPECT_EQ(rgb->format, BMF_24BPP);
    EXPECT_EQ(Bytes(rgb->bits.begin(), rgb->bits.begin() + 3), (Bytes{1, 2, 3}));

    // 5-5-5 stays 16 bits; 5-6-5 masks become 24 bits.
    auto five = qlpr::DecodeBmp(MakeBmp({1, 1, 16, 0, {}, {}, {0x1F, 0x7C, 0, 0}}), &error);
    ASSERT_TRUE(five) << error;
    EXPECT_EQ(five->format, BMF_16BPP);
    EXPECT_EQ(five->bits[1], 0x7C);
    auto six = qlpr::DecodeBmp(
        MakeBmp({1, 1, 16, 3, {0xF800, 0x7E0, 0x1F}, {}, {0xE0, 0x07, 0, 0}}), &error);
    ASSERT_TRUE(six) << error;
    EXPECT_EQ(six->format, BMF_24BPP);
    EXPECT_EQ(Bytes(six->bits.begin(), six->bits.begin() + 3), (Bytes{0, 255, 0}));

    auto quad = qlpr::DecodeBmp(MakeBmp({1, 1, 32, 0, {}, {}, {1, 2, 3, 4}}), &error);
    ASSERT_TRUE(quad) << error;
    EXPECT_EQ(quad->format, BMF_32BPP);
    EXPECT_EQ(Bytes(quad->bits.begin(), quad->bits.end()), (Bytes{1, 2, 3, 4}));
    // Red in the low byte: converted to blue, green, red, alpha.
    auto swapped =
        qlpr::DecodeBmp(MakeBmp({1, 1, 32, 3, {0xFF, 0xFF00, 0xFF0000}, {}, {9, 8, 7, 0}}), &error);
    ASSERT_TRUE(swapped) << error;
    EXPECT_EQ(Bytes(swapped->bits.begin(), swapped->bits.end()), (Bytes{7, 8, 9, 255}));
}

TEST(BmpDecoder, RunLengthBitmapsPassUnchanged) {
    // Two runs, end of line, end of bitmap.
    const Bytes rle = {2, 1, 0, 0, 2, 3, 0, 1};
    std::string error;
    auto image =
        qlpr::DecodeBmp(MakeBmp({2, 2, 8, 1, {}, {0, 0xFFFFFF, 0x808080, 0x102030}, rle}), &error);
    ASSERT_TRUE(image) << error;
    EXPECT_EQ(image->format, BMF_8RLE);
    EXPECT_EQ(image->bits, rle);
    EXPECT_EQ(image->palette[3], 0x102030u);

    auto four =
        qlpr::DecodeBmp(MakeBmp({4, 1, 4, 2, {}, {0, 0xFFFFFF}, {0, 4, 0x10, 0x10, 0, 1}}), &error);
    ASSERT_TRUE(four) << error;
    EXPECT_EQ(four->format, BMF_4RLE);
}

TEST(BmpDecoder, RefusesBadFiles) {
    std::vector<Bytes> bad = {
        MakeBmp({4, 4, 24, 0, {}, {}, Bytes(20, 0)}),        // pixels cut short
        MakeBmp({70000, 1, 1, 0, {}, {}, Bytes(8750, 0)}),   // too wide
        MakeBmp({60000, 60000, 24, 0, {}, {}, {}}),          // too many pixels
        MakeBmp({0, 1, 24, 0, {}, {}, {}}),                  // no pixels
        MakeBmp({1, 1, 2, 0, {}, {}, Bytes(4, 0)}),          // 2 bits per pixel
        MakeBmp({1, 1, 24, 4, {}, {}, Bytes(4, 0)}),         // embedded JPEG
        MakeBmp({2, 2, 8, 1, {}, {}, {0, 9, 1, 2}}),         // literal run past the end
        MakeBmp({2, -2, 8, 1, {}, {}, {0, 1}}),              // top-down run lengths
        MakeBmp({1, 1, 16, 3, {0, 0, 0}, {}, Bytes(4, 0)}),  // empty masks
        Bytes{'B', 'M', 0, 0},                               // header cut short
    };
    for (std::size_t i = 0; i < bad.size(); ++i) {
        std::string error;
        EXPECT_FALSE(qlpr::DecodeBmp(bad[i], &error)) << "case " << i;
        EXPECT_FALSE(error.empty()) << "case " << i;
    }
}

// ---- PNG ---------------------------------------------------------------

struct PngLayout {
    png_uint_32 width;
    png_uint_32 height;
    int depth;
    int colourType;
    Bytes rows;  // packed as PNG stores them, rows back to back
    std::vector<png_color> palette = {};
    bool interlaced = false;
};

void WriteToVector(png_structp png, png_bytep data, png_size_t size) {
    auto* out = static_cast<Bytes*>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + size);
}

Bytes MakePng(const PngLayout& layout) {
    Bytes out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        ADD_FAILURE() << "libpng could not write the test image";
        return {};
    }
    png_set_write_fn(png, &out, WriteToVector, nullptr);
    png_set_IHDR(png, info, layout.width, layout.height, layout.depth, layout.colourType,
                 layout.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (!layout.palette.empty())
        png_set_PLTE(png, info, layout.palette.data(), static_cast<int>(layout.palette.size()));
    png_write_info(png, info);
    const std::size_t rowBytes = layout.rows.size() / layout.height;
    std::vector<png_bytep> rows;
    Bytes copy = layout.rows;
    for (png_uint_32 y = 0; y < layout.height; ++y) rows.push_back(copy.data() + y * rowBytes);
    png_write_image(png, rows.data());
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return out;
}

TEST(PngDecoder, IndexedAndGreyImages) {
    std::string error;
    auto one = qlpr::DecodePng(
        MakePng({9, 1, 1, PNG_COLOR_TYPE_PALETTE, {0xA5, 0x80}, {{255, 255, 255}, {1, 2, 3}}}),
        &error);
    ASSERT_TRUE(one) << error;
    EXPECT_EQ(one->format, BMF_1BPP);
    EXPECT_EQ(one->bits[0], 0xA5);
    EXPECT_EQ(one->bits[1] & 0x80, 0x80);
    EXPECT_EQ(one->palette[1], 0x010203u);

    // Two bits per pixel have no engine format: one byte a pixel.
    auto two = qlpr::DecodePng(MakePng({4,
                                        1,
                                        2,
                                        PNG_COLOR_TYPE_PALETTE,
                                        {0x1B},
                                        {{0, 0, 0}, {1, 1, 1}, {2, 2, 2}, {3, 3, 3}}}),
                               &error);
    ASSERT_TRUE(two) << error;
    EXPECT_EQ(two->format, BMF_8BPP);
    EXPECT_EQ(Bytes(two->bits.begin(), two->bits.begin() + 4), (Bytes{0, 1, 2, 3}));

    auto four = qlpr::DecodePng(
        MakePng({2, 1, 4, PNG_COLOR_TYPE_PALETTE, {0x10}, {{0, 0, 0}, {9, 9, 9}}}), &error);
    ASSERT_TRUE(four) << error;
    EXPECT_EQ(four->format, BMF_4BPP);
    EXPECT_EQ(four->bits[0], 0x10);

    // Grey: one bit stays one bit (0 black), 2 bits widen, 16 bits narrow.
    auto bilevel = qlpr::DecodePng(MakePng({8, 1, 1, PNG_COLOR_TYPE_GRAY, {0x0F}}), &error);
    ASSERT_TRUE(bilevel) << error;
    EXPECT_EQ(bilevel->format, BMF_1BPP);
    EXPECT_EQ(bilevel->palette, (std::vector<ULONG>{0x000000, 0xFFFFFF}));
    auto grey2 = qlpr::DecodePng(MakePng({4, 1, 2, PNG_COLOR_TYPE_GRAY, {0x1B}}), &error);
    ASSERT_TRUE(grey2) << error;
    EXPECT_EQ(Bytes(grey2->bits.begin(), grey2->bits.begin() + 4), (Bytes{0, 85, 170, 255}));
    auto grey16 =
        qlpr::DecodePng(MakePng({2, 1, 16, PNG_COLOR_TYPE_GRAY, {0x12, 0x34, 0xFF, 0xFF}}), &error);
    ASSERT_TRUE(grey16) << error;
    EXPECT_EQ(grey16->format, BMF_8BPP);
    EXPECT_EQ(grey16->bits[1], 0xFF);
    EXPECT_NEAR(grey16->bits[0], 0x12, 1);
}

TEST(PngDecoder, ColourImagesBecomeBlueGreenRed) {
    std::string error;
    auto rgb = qlpr::DecodePng(MakePng({1, 2, 8, PNG_COLOR_TYPE_RGB, {1, 2, 3, 4, 5, 6}}), &error);
    ASSERT_TRUE(rgb) << error;
    EXPECT_EQ(rgb->format, BMF_24BPP);
    EXPECT_EQ(Bytes(rgb->bits.begin(), rgb->bits.begin() + 3), (Bytes{3, 2, 1}));
    EXPECT_EQ(Bytes(rgb->bits.begin() + 4, rgb->bits.begin() + 7), (Bytes{6, 5, 4}));

    auto rgba = qlpr::DecodePng(MakePng({1, 1, 8, PNG_COLOR_TYPE_RGBA, {1, 2, 3, 4}}), &error);
    ASSERT_TRUE(rgba) << error;
    EXPECT_EQ(rgba->format, BMF_32BPP);
    EXPECT_EQ(rgba->bits, (Bytes{3, 2, 1, 4}));

    auto rgba16 = qlpr::DecodePng(
        MakePng({1, 1, 16, PNG_COLOR_TYPE_RGBA, {0xFF, 0xFF, 0, 0, 0x80, 0x00, 0xFF, 0xFF}}),
        &error);
    ASSERT_TRUE(rgba16) << error;
    EXPECT_EQ(rgba16->bits, (Bytes{0x80, 0, 0xFF, 0xFF}));

    auto greyAlpha =
        qlpr::DecodePng(MakePng({1, 1, 8, PNG_COLOR_TYPE_GRAY_ALPHA, {7, 200}}), &error);
    ASSERT_TRUE(greyAlpha) << error;
    EXPECT_EQ(greyAlpha->bits, (Bytes{7, 7, 7, 200}));
}

TEST(PngDecoder, InterlacedImagesAreReadWhole) {
    Bytes pixels(8 * 8);
    for (std::size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<BYTE>(i * 3);
    std::string error;
    auto image = qlpr::DecodePng(MakePng({8, 8, 8, PNG_COLOR_TYPE_GRAY, pixels, {}, true}), &error);
    ASSERT_TRUE(image) << error;
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x)
            EXPECT_EQ(image->bits[y * image->stride + x], pixels[y * 8 + x]) << x << "," << y;
}

// The CRC of a chunk's type and data, so that a test can forge valid chunks.
png_uint_32 ChunkCrc(const BYTE* typeAndData, std::size_t size) {
    png_uint_32 crc = 0xFFFFFFFF;
    for (std::size_t i = 0; i < size; ++i) {
        crc ^= typeAndData[i];
        for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return crc ^ 0xFFFFFFFF;
}

void PutBe(Bytes& file, std::size_t at, png_uint_32 value) {
    for (int i = 0; i < 4; ++i) file[at + i] = static_cast<BYTE>(value >> (24 - 8 * i));
}

TEST(PngDecoder, RefusesDamagedAndHostileFiles) {
    const Bytes good = MakePng({16, 16, 8, PNG_COLOR_TYPE_GRAY, Bytes(256, 0x55)});
    std::string error;
    ASSERT_TRUE(qlpr::DecodePng(good, &error)) << error;

    // IHDR is at offset 8: length, "IHDR", width, height, ..., CRC at 29.
    Bytes badCrc = good;
    badCrc[16 + 3] ^= 1;  // the width, under the old CRC
    Bytes truncated(good.begin(), good.begin() + good.size() / 2);
    Bytes noEnd(good.begin(), good.end() - 12);
    Bytes damagedData = good;
    damagedData[45] ^= 0xFF;  // inside the compressed pixels

    auto withSize = [&](png_uint_32 width, png_uint_32 height) {
        Bytes file = good;
        PutBe(file, 16, width);
        PutBe(file, 20, height);
        PutBe(file, 29, ChunkCrc(file.data() + 12, 17));
        return file;
    };
    const std::vector<std::pair<const char*, Bytes>> bad = {
        {"bad CRC", badCrc},
        {"truncated", truncated},
        {"no IEND", noEnd},
        {"damaged pixels", damagedData},
        {"too wide", withSize(70000, 1)},
        {"too many pixels", withSize(60000, 60000)},
        {"not PNG", Bytes{0x89, 'P', 'N', 'G'}},
    };
    for (const auto& [name, file] : bad) {
        std::string why;
        EXPECT_FALSE(qlpr::DecodePng(file, &why)) << name;
        EXPECT_FALSE(why.empty()) << name;
    }
}

// ---- JPEG --------------------------------------------------------------

Bytes FromString(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

// `count` pixels of `components` samples, all `pixel`.
std::vector<unsigned char> Solid(std::vector<unsigned char> pixel, std::size_t count) {
    std::vector<unsigned char> rows;
    for (std::size_t i = 0; i < count; ++i) rows.insert(rows.end(), pixel.begin(), pixel.end());
    return rows;
}

// Grey files keep one byte a pixel with the grey palette, as a grey PNG
// does; colour files, baseline or progressive, and CMYK files become blue,
// green, red.
TEST(JpegDecoder, GreyColourAndCmykFilesBecomeTheEngineFormats) {
    std::vector<unsigned char> ramp(8 * 8);
    for (std::size_t i = 0; i < ramp.size(); ++i) ramp[i] = static_cast<unsigned char>(i * 4);
    std::string error;
    auto grey = qlpr::DecodeJpeg(FromString(testsupport::MakeJpeg({8, 8, 1, ramp})), &error);
    ASSERT_TRUE(grey) << error;
    EXPECT_EQ(grey->format, BMF_8BPP);
    EXPECT_EQ(grey->width, 8);
    EXPECT_EQ(grey->height, 8);
    EXPECT_EQ(grey->stride, 8);
    ASSERT_EQ(grey->palette.size(), 256u);
    EXPECT_EQ(grey->palette[0x80], 0x808080u);
    for (std::size_t i = 0; i < ramp.size(); ++i)
        EXPECT_NEAR(grey->bits[i], ramp[i], 2) << "pixel " << i;

    const struct {
        const char* name;
        testsupport::JpegLayout layout;
    } kColour[] = {
        {"baseline", {6, 5, 3, Solid({255, 128, 0}, 30)}},
        {"progressive", {6, 5, 3, Solid({255, 128, 0}, 30), true}},
        // Stored inverted (an Adobe file): no cyan, half magenta, all yellow, no black.
        {"CMYK", {6, 5, 4, Solid({255, 128, 0, 255}, 30)}},
    };
    for (const auto& [name, layout] : kColour) {
        auto image = qlpr::DecodeJpeg(FromString(testsupport::MakeJpeg(layout)), &error);
        ASSERT_TRUE(image) << name << ": " << error;
        EXPECT_EQ(image->format, BMF_24BPP) << name;
        EXPECT_EQ(image->stride, 20) << name;  // 18 bytes, padded
        for (LONG y = 0; y < 5; ++y) {
            const BYTE* last = image->bits.data() + y * image->stride + 15;
            EXPECT_NEAR(last[0], 0, 3) << name;  // blue
            EXPECT_NEAR(last[1], 128, 3) << name;
            EXPECT_NEAR(last[2], 255, 3) << name;  // red
        }
    }
}

TEST(JpegDecoder, RefusesDamagedAndHostileFiles) {
    std::vector<unsigned char> noise(64 * 64 * 3);
    for (std::size_t i = 0; i < noise.size(); ++i) noise[i] = static_cast<unsigned char>(i * 97);
    const std::string good = testsupport::MakeJpeg({64, 64, 3, noise});
    std::string error;
    ASSERT_TRUE(qlpr::DecodeJpeg(FromString(good), &error)) << error;
    const std::size_t frame = good.find("\xff\xc0");  // precision, height, width follow
    ASSERT_NE(frame, std::string::npos);
    const auto withFrame = [&](std::size_t at, const std::string& bytes) {
        std::string file = good;
        file.replace(frame + at, bytes.size(), bytes);
        return file;
    };
    const std::pair<const char*, std::string> kBad[] = {
        {"truncated pixels", good.substr(0, good.size() / 2)},
        {"truncated header", good.substr(0, frame + 6)},
        {"only the start", "\xff\xd8\xff"},
        {"bad precision", withFrame(4, "\x63")},
        {"absurd size", withFrame(5, "\xff\xff\xff\xff")},
        {"too many pixels", withFrame(5, std::string("\x40\x00\x40\x00", 4))},
        {"no pixels", withFrame(5, std::string("\x00\x00\x00\x40", 4))},
        {"not JPEG", "\xff\xd9\xff"},
    };
    for (const auto& [name, file] : kBad) {
        std::string why;
        EXPECT_FALSE(qlpr::DecodeJpeg(FromString(file), &why)) << name;
        EXPECT_FALSE(why.empty()) << name;
        EXPECT_EQ(why.find('\n'), std::string::npos) << name << ": " << why;
    }
}

TEST(ImageFiles, LoadsByContentAndNamesTheFileInErrors) {
    testsupport::ScopedStoreRoot folder;
    const auto pbm = folder.path() / "image.png";  // an any-map despite its name
    {
        std::ofstream out(pbm, std::ios::binary);
        out << "P1 2 1 1 0\n";
    }
    std::string error;
    auto image = qlpr::LoadImageFile(pbm, &error);
    EXPECT_TRUE(image) << error;
    {
        std::ofstream out(pbm, std::ios::binary);  // a JPEG, by its first bytes
        out << testsupport::MakeJpeg({2, 1, 1, {0, 255}});
    }
    image = qlpr::LoadImageFile(pbm, &error);
    ASSERT_TRUE(image) << error;
    EXPECT_EQ(image->format, BMF_8BPP);
    {
        std::ofstream out(pbm, std::ios::binary);
        out << "GIF89a";
    }
    EXPECT_FALSE(qlpr::LoadImageFile(pbm, &error));
    EXPECT_NE(error.find(pbm.string()), std::string::npos) << error;
    std::filesystem::remove(pbm);
    EXPECT_FALSE(qlpr::LoadImageFile(pbm, &error));
}

// Files whose rows are stored as the image keeps them are loaded without a
// copy (raw bitmaps and grey maps as wide as a whole number of words,
// uncompressed bitmap files); the image is exactly what decoding the bytes
// gives, bottom-up files turned over, a short raster refused.
TEST(ImageFiles, FilesLoadedInPlaceGiveTheDecodedImage) {
    testsupport::ScopedStoreRoot folder;
    const auto path = folder.path() / "picture";
    const auto write = [&](const Bytes& bytes) {
        std::ofstream out(path, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
    };
    Bytes noise(64 * 7 * 3);
    for (std::size_t i = 0; i < noise.size(); ++i) noise[i] = static_cast<BYTE>(i * 37 + i / 5);
    const auto take = [&](std::size_t count) {
        return Bytes(noise.begin(), noise.begin() + count);
    };
    std::vector<Bytes> files;
    Bytes pbm = FromText("P4\n64 7\n");  // 8-byte rows: two whole words
    Append(pbm, noise.data(), 8 * 7);
    files.push_back(pbm);
    Bytes pgm = FromText("P5 12 5 255\n");
    Append(pgm, noise.data(), 12 * 5);
    files.push_back(pgm);
    files.push_back(
        MakeBmp({40, 7, 1, 0, {}, {0x000000, 0xFFFFFF}, take(8 * 7)}));  // bottom-up, odd
    files.push_back(
        MakeBmp({40, 6, 1, 0, {}, {0xFFFFFF, 0x000000}, take(8 * 6)}));  // bottom-up, even
    files.push_back(MakeBmp({5, -3, 24, 0, {}, {}, take(16 * 3)}));      // top-down
    files.push_back(MakeBmp({3, 4, 8, 0, {}, {0x102030}, take(4 * 4)}));
    for (std::size_t n = 0; n < files.size(); ++n) {
        write(files[n]);
        std::string error;
        const auto loaded = qlpr::LoadImageFile(path, &error);
        ASSERT_TRUE(loaded) << n << ": " << error;
        const auto decoded = files[n][0] == 'P' ? qlpr::DecodePnm(files[n], &error)
                                                : qlpr::DecodeBmp(files[n], &error);
        ASSERT_TRUE(decoded) << n << ": " << error;
        EXPECT_EQ(loaded->width, decoded->width) << n;
        EXPECT_EQ(loaded->height, decoded->height) << n;
        EXPECT_EQ(loaded->format, decoded->format) << n;
        EXPECT_EQ(loaded->stride, decoded->stride) << n;
        EXPECT_EQ(loaded->bits, decoded->bits) << n;
        EXPECT_EQ(loaded->palette, decoded->palette) << n;
    }
    pbm.resize(pbm.size() - 1);
    write(pbm);
    std::string error;
    EXPECT_FALSE(qlpr::LoadImageFile(path, &error));
    EXPECT_NE(error.find("ends early"), std::string::npos) << error;
}

}  // namespace
