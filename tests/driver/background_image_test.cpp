// The background image: bitmap files checked and converted (every depth,
// both row orders, and the files that must draw nothing), the drawn size and
// position on the page, the cut at the page's edge, and an image drawn into
// the first band of a page.

#include "driver/background_image.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>

#include "pipeline_support.h"

namespace {

struct Rgb {
    BYTE r, g, b;
};

void Put16(std::vector<BYTE>& out, std::size_t at, WORD v) {
    out[at] = static_cast<BYTE>(v);
    out[at + 1] = static_cast<BYTE>(v >> 8);
}
void Put32(std::vector<BYTE>& out, std::size_t at, DWORD v) {
    for (int i = 0; i < 4; ++i) out[at + i] = static_cast<BYTE>(v >> (8 * i));
}

// A bitmap file of `bits` per pixel; `pixels` gives each pixel top row first,
// as a palette index (1, 4, 8 bits) or a colour (24, 32 bits).
struct BmpRecipe {
    LONG width = 2;
    LONG height = 2;
    WORD bits = 24;
    bool topDown = false;
    std::vector<Rgb> palette;
    std::vector<DWORD> pixels;  // index, or 0xRRGGBB, or the raw value with masks
};

// With `masks` (red, green, blue) a BI_BITFIELDS file.
std::vector<BYTE> MakeBmp(const BmpRecipe& bmp, const std::vector<DWORD>& masks = {}) {
    const std::size_t colours = bmp.bits <= 8 ? bmp.palette.size() : 0;
    const std::size_t rowBytes = ((bmp.bits * static_cast<std::size_t>(bmp.width) + 31) / 32) * 4;
    const std::size_t offBits = 14 + 40 + masks.size() * 4 + colours * 4;
    std::vector<BYTE> file(offBits + rowBytes * static_cast<std::size_t>(bmp.height), 0);
    file[0] = 'B';
    file[1] = 'M';
    Put32(file, 2, static_cast<DWORD>(file.size()));
    Put32(file, 10, static_cast<DWORD>(offBits));
    Put32(file, 14, 40);
    Put32(file, 18, static_cast<DWORD>(bmp.width));
    Put32(file, 22, static_cast<DWORD>(bmp.topDown ? -bmp.height : bmp.height));
    Put16(file, 26, 1);
    Put16(file, 28, bmp.bits);
    Put32(file, 46, static_cast<DWORD>(colours));
    if (!masks.empty()) Put32(file, 30, 3);
    for (std::size_t i = 0; i < masks.size(); ++i) Put32(file, 54 + i * 4, masks[i]);
    for (std::size_t i = 0; i < colours; ++i) {
        file[54 + i * 4] = bmp.palette[i].b;
        file[55 + i * 4] = bmp.palette[i].g;
        file[56 + i * 4] = bmp.palette[i].r;
    }
    for (LONG y = 0; y < bmp.height; ++y) {
        const LONG stored = bmp.topDown ? y : bmp.height - 1 - y;
        BYTE* row = file.data() + offBits + rowBytes * static_cast<std::size_t>(stored);
        for (LONG x = 0; x < bmp.width; ++x) {
            const DWORD v = bmp.pixels[static_cast<std::size_t>(y * bmp.width + x)];
            switch (bmp.bits) {
                case 1:
                    if (v) row[x / 8] |= static_cast<BYTE>(0x80 >> (x % 8));
                    break;
                case 4:
                    row[x / 2] |= static_cast<BYTE>(x % 2 ? v : v << 4);
                    break;
                case 8:
                    row[x] = static_cast<BYTE>(v);
                    break;
                case 16:
                    Put16(file, static_cast<std::size_t>(row - file.data()) + x * 2,
                          static_cast<WORD>(v));
                    break;
                default: {
                    BYTE* px = row + x * (bmp.bits / 8);
                    if (bmp.bits == 32) px[3] = static_cast<BYTE>(v >> 24);
                    px[0] = static_cast<BYTE>(v), px[1] = static_cast<BYTE>(v >> 8),
                    px[2] = static_cast<BYTE>(v >> 16);
                    break;
                }
            }
        }
    }
    return file;
}

Rgb PixelOf(const BackgroundImage& image, LONG x, LONG y) {
    const BYTE* p = image.pixels.data() + y * image.stride + x * 3;
    return {p[0], p[1], p[2]};
}

void ExpectPixel(const BackgroundImage& image, LONG x, LONG y, DWORD rgb) {
    const Rgb p = PixelOf(image, x, y);
    EXPECT_EQ(p.r, static_cast<BYTE>(rgb >> 16)) << x << "," << y;
    EXPECT_EQ(p.g, static_cast<BYTE>(rgb >> 8)) << x << "," << y;
    EXPECT_EQ(p.b, static_cast<BYTE>(rgb)) << x << "," << y;
}

bool Decodes(const std::vector<BYTE>& file, BackgroundImage* image = nullptr) {
    BackgroundImage local;
    return DecodeBackgroundImage(file.data(), file.size(), image != nullptr ? image : &local);
}

TEST(BackgroundDecode, EveryDepthBecomesRedFirstTopDownRows) {
    const std::vector<Rgb> palette = {{0, 0, 0}, {255, 0, 0}, {0, 255, 0}, {0, 0, 255}};
    for (WORD bits : {4, 8}) {
        for (bool topDown : {false, true}) {
            BmpRecipe bmp{3, 2, bits, topDown, palette, {1, 2, 3, 0, 3, 1}};
            BackgroundImage image;
            ASSERT_TRUE(Decodes(MakeBmp(bmp), &image)) << bits;
            EXPECT_EQ(image.width, 3);
            EXPECT_EQ(image.height, 2);
            EXPECT_EQ(image.stride, 12);
            ExpectPixel(image, 0, 0, 0xFF0000);
            ExpectPixel(image, 1, 0, 0x00FF00);
            ExpectPixel(image, 2, 0, 0x0000FF);
            ExpectPixel(image, 0, 1, 0x000000);
            ExpectPixel(image, 1, 1, 0x0000FF);
            ExpectPixel(image, 2, 1, 0xFF0000);
        }
    }
    for (WORD bits : {24, 32}) {
        BmpRecipe bmp{2, 2, bits, false, {}, {0x112233, 0x445566, 0x778899, 0xAABBCC}};
        BackgroundImage image;
        ASSERT_TRUE(Decodes(MakeBmp(bmp), &image)) << bits;
        ExpectPixel(image, 0, 0, 0x112233);
        ExpectPixel(image, 1, 0, 0x445566);
        ExpectPixel(image, 0, 1, 0x778899);
        ExpectPixel(image, 1, 1, 0xAABBCC);
    }
    // One bit: 10 pixels across a row, white and black entries.
    BmpRecipe mono{10, 1, 1, false, {{255, 255, 255}, {0, 0, 0}}, {0, 1, 0, 1, 0, 1, 0, 1, 1, 1}};
    BackgroundImage image;
    ASSERT_TRUE(Decodes(MakeBmp(mono), &image));
    ExpectPixel(image, 0, 0, 0xFFFFFF);
    ExpectPixel(image, 1, 0, 0x000000);
    ExpectPixel(image, 9, 0, 0x000000);
    // An index past a short table is drawn black.
    BmpRecipe shortTable{2, 1, 8, false, {{255, 255, 255}}, {0, 7}};
    ASSERT_TRUE(Decodes(MakeBmp(shortTable), &image));
    ExpectPixel(image, 0, 0, 0xFFFFFF);
    ExpectPixel(image, 1, 0, 0x000000);
}

TEST(BackgroundDecode, BitFieldFilesWithTheCommonMasks) {
    const std::vector<DWORD> m888 = {0x00FF0000, 0x0000FF00, 0x000000FF};
    const std::vector<DWORD> m555 = {0x7C00, 0x03E0, 0x001F};
    const std::vector<DWORD> m565 = {0xF800, 0x07E0, 0x001F};
    const struct {
        WORD bits;
        std::vector<DWORD> masks, pixels, expected;  // raw pixels, 0xRRGGBB
    } drawn[] = {
        {32, m888, {0x00112233, 0xFFAABBCC, 0x00FF0000, 0}, {0x112233, 0xAABBCC, 0xFF0000, 0}},
        {16, m555, {0x7C00, 0x03E0, 0x001F, 0x4210}, {0xFF0000, 0x00FF00, 0x0000FF, 0x848484}},
        {16, m565, {0xF800, 0x07E0, 0x0020, 0xFFFF}, {0xFF0000, 0x00FF00, 0x000400, 0xFFFFFF}},
    };
    for (const auto& row : drawn) {
        BackgroundImage image;
        ASSERT_TRUE(Decodes(MakeBmp({2, 2, row.bits, false, {}, row.pixels}, row.masks), &image))
            << row.bits << " " << std::hex << row.masks[0];
        for (LONG i = 0; i < 4; ++i) ExpectPixel(image, i % 2, i / 2, row.expected[i]);
    }
    // Other masks, other depths with masks, and masks past the end draw nothing.
    const struct {
        WORD bits;
        std::vector<DWORD> masks;
    } refused[] = {{32, {0x000000FF, 0x0000FF00, 0x00FF0000}},
                   {16, m888},
                   {32, m565},
                   {24, m888},
                   {16, {0x7C00, 0x03E0, 0x003F}}};
    for (const auto& row : refused) {
        EXPECT_FALSE(Decodes(MakeBmp({1, 1, row.bits, false, {}, {0}}, row.masks)))
            << row.bits << " " << std::hex << row.masks[0];
    }
    // Cut inside its masks (a copy of just those bytes: a read past them shows
    // under the sanitizer).
    const std::vector<BYTE> whole = MakeBmp({1, 1, 16, false, {}, {0}}, m555);
    EXPECT_FALSE(Decodes(std::vector<BYTE>(whole.begin(), whole.begin() + 14 + 40 + 8)));
}

TEST(BackgroundDecode, FilesThatDrawNothing) {
    const std::vector<BYTE> good = MakeBmp({2, 2, 24, false, {}, {0, 0, 0, 0}});
    ASSERT_TRUE(Decodes(good));
    auto with = [&](std::size_t at, DWORD value, int bytes = 4) {
        std::vector<BYTE> file = good;
        for (int i = 0; i < bytes; ++i) file[at + i] = static_cast<BYTE>(value >> (8 * i));
        return file;
    };
    EXPECT_FALSE(Decodes({}));
    EXPECT_FALSE(DecodeBackgroundImage(nullptr, 100, nullptr));
    EXPECT_FALSE(Decodes(with(0, 'B' | 'A' << 8, 2)));                          // not "BM"
    EXPECT_FALSE(Decodes(std::vector<BYTE>(good.begin(), good.begin() + 53)));  // short header
    EXPECT_FALSE(Decodes(std::vector<BYTE>(good.begin(), good.end() - 1)));     // short rows
    EXPECT_FALSE(Decodes(with(14, 12)));                                        // core header
    EXPECT_FALSE(Decodes(with(14, 0x7FFFFFFF)));              // header past the end
    EXPECT_FALSE(Decodes(with(18, 0)));                       // width 0
    EXPECT_FALSE(Decodes(with(18, static_cast<DWORD>(-2))));  // negative width
    EXPECT_FALSE(Decodes(with(22, 0)));                       // height 0
    EXPECT_FALSE(Decodes(with(22, 0x80000000)));              // height INT_MIN
    EXPECT_FALSE(Decodes(with(22, 3)));                       // rows past the end
    EXPECT_FALSE(Decodes(with(28, 16, 2)));                   // 16 bits
    EXPECT_FALSE(Decodes(with(28, 2, 2)));                    // 2 bits
    EXPECT_FALSE(Decodes(with(30, 1)));                       // run-length coded
    EXPECT_FALSE(Decodes(with(30, 3)));                       // 24-bit bit fields
    EXPECT_FALSE(Decodes(with(10, 20)));                      // pixels inside the header
    EXPECT_FALSE(Decodes(with(10, 0xFFFFFFF0)));              // pixels past the end
    // Absurd sizes are refused before anything is allocated or read.
    EXPECT_FALSE(Decodes(with(18, 0x10000)));
    std::vector<BYTE> huge = with(18, 0x4000);
    Put32(huge, 22, 0x4001);  // 16384 x 16385 > 64 Mi pixels
    EXPECT_FALSE(Decodes(huge));

    // Colour tables: larger than the depth allows, or past the end.
    const std::vector<BYTE> indexed =
        MakeBmp({2, 1, 1, false, {{0, 0, 0}, {255, 255, 255}}, {0, 1}});
    ASSERT_TRUE(Decodes(indexed));
    std::vector<BYTE> tooMany = indexed;
    Put32(tooMany, 46, 3);
    EXPECT_FALSE(Decodes(tooMany));
    std::vector<BYTE> pastEnd = MakeBmp({2, 1, 8, false, {{0, 0, 0}}, {0, 0}});
    Put32(pastEnd, 46, 256);  // 1,024 bytes of table in a file of 62
    EXPECT_FALSE(Decodes(pastEnd));
}

TEST(BackgroundPlacement, SizeFollowsOrientationAndProportions) {
    const SIZEL page{576, 2618};
    SIZEL drawn = BackgroundDrawnSize(false, page, {100, 50}, 50);
    EXPECT_EQ(drawn.cx, 288);
    EXPECT_EQ(drawn.cy, 144);
    drawn = BackgroundDrawnSize(true, {2618, 576}, {100, 50}, 50);
    EXPECT_EQ(drawn.cy, 288);
    EXPECT_EQ(drawn.cx, 576);
    drawn = BackgroundDrawnSize(false, page, {1000, 1}, 1);  // 5 pixels wide: no height
    EXPECT_EQ(drawn.cx, 0);
    EXPECT_EQ(drawn.cy, 0);
}

TEST(BackgroundPlacement, NinePositionsAndTiles) {
    const SIZEL page{600, 300};
    const SIZEL drawn{200, 100};
    const RECTL expected[9] = {{0, 0, 200, 100},   {200, 0, 400, 100},   {400, 0, 600, 100},
                               {0, 100, 200, 200}, {200, 100, 400, 200}, {400, 100, 600, 200},
                               {0, 200, 200, 300}, {200, 200, 400, 300}, {400, 200, 600, 300}};
    for (WORD code = 1; code <= 9; ++code) {
        const std::vector<RECTL> placed = BackgroundPlacements(code, page, drawn);
        ASSERT_EQ(placed.size(), 1u) << code;
        EXPECT_TRUE(pipetest::SameRect(placed[0], expected[code - 1])) << code << placed[0];
    }
    for (WORD code : {0, 11, 0xFFFF}) EXPECT_TRUE(BackgroundPlacements(code, page, drawn).empty());
    // Tiles: rows from x = 0, the last ones passing the right and bottom edges.
    const std::vector<RECTL> tiles = BackgroundPlacements(10, {500, 250}, drawn);
    ASSERT_EQ(tiles.size(), 9u);
    EXPECT_TRUE(pipetest::SameRect(tiles[0], {0, 0, 200, 100}));
    EXPECT_TRUE(pipetest::SameRect(tiles[2], {400, 0, 600, 100}));
    EXPECT_TRUE(pipetest::SameRect(tiles[3], {0, 100, 200, 200}));
    EXPECT_TRUE(pipetest::SameRect(tiles[8], {400, 200, 600, 300}));
    // Too many tiny tiles: none.
    EXPECT_TRUE(BackgroundPlacements(10, {576, 26182}, {1, 1}).empty());
}

TEST(BackgroundPlacement, TheCutAtThePageEdgeCutsTheSourceInProportion) {
    RECTL dest, source;
    // Centred and wider than the page: 100 pixels cut on each side of 800.
    ASSERT_TRUE(ClipBackgroundToPage({-100, 0, 700, 400}, {600, 300}, {80, 40}, &dest, &source));
    EXPECT_TRUE(pipetest::SameRect(dest, {0, 0, 600, 300})) << dest;
    EXPECT_TRUE(pipetest::SameRect(source, {10, 0, 70, 30})) << source;
    ASSERT_TRUE(ClipBackgroundToPage({0, 0, 200, 100}, {600, 300}, {20, 10}, &dest, &source));
    EXPECT_TRUE(pipetest::SameRect(source, {0, 0, 20, 10})) << source;
    EXPECT_FALSE(ClipBackgroundToPage({600, 0, 700, 100}, {600, 300}, {20, 10}, &dest, &source));
    EXPECT_FALSE(ClipBackgroundToPage({0, 0, 0, 100}, {600, 300}, {20, 10}, &dest, &source));
}

// Drawn by the driver into the first band of the page.
class BackgroundDrawing : public pipetest::PipelineTest {
  protected:
    Devmode WithImage(Devmode mode, const std::filesystem::path& file, WORD percent,
                      WORD position) {
        mode.priv.layoutFlags |= kLayoutBackgroundImage;
        mode.priv.imagePercent = percent;
        mode.priv.imagePosition = position;
        const std::u16string path = file.u16string();
        std::memset(mode.priv.imagePath, 0, sizeof mode.priv.imagePath);
        std::memcpy(mode.priv.imagePath, path.data(), std::min<std::size_t>(path.size(), 259) * 2);
        return mode;
    }
    std::filesystem::path WriteFile(const std::string& name, const std::vector<BYTE>& bytes) {
        const auto path = root_.path() / name;
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
        return path;
    }
    // The first band of a one-page document.
    pipetest::RecordedCall PrintOnePage(const Devmode& mode) {
        auto device = Enable(&mode);
        EXPECT_TRUE(device);
        if (!device) return {};
        {
            auto job = StartJob(*device);
            std::string error;
            EXPECT_TRUE(job && job->PrintPage(host::BandPainter{}, &error)) << error;
        }
        const auto sent = CallsOf(pipetest::Call::SendBand);
        return sent.empty() ? pipetest::RecordedCall{} : sent[0];
    }
};

TEST_F(BackgroundDrawing, AnImageIsStretchedOntoTheBand) {
    // Two by two: red, green / blue, black, drawn over half the page's width
    // at the top right (code 3): 288 x 288 pixels from x = 288.
    const auto file =
        WriteFile("logo.bmp", MakeBmp({2, 2, 24, false, {}, {0xFF0000, 0x00FF00, 0x0000FF, 0}}));
    const pipetest::RecordedCall band =
        PrintOnePage(WithImage(WithDepth(DefaultDevmode(), 24), file, 50, 3));
    ASSERT_EQ(+band.band.width, 576);
    const auto pixel = [&](LONG x, LONG y) {
        const BYTE* p = band.bits.data() + y * band.band.stride + x * 3;
        return DWORD{p[0]} << 16 | DWORD{p[1]} << 8 | p[2];
    };
    EXPECT_EQ(pixel(10, 10), 0xFFFFFFu);   // left of the image: white
    EXPECT_EQ(pixel(300, 10), 0xFF0000u);  // top left of the image
    EXPECT_EQ(pixel(570, 10), 0x00FF00u);
    EXPECT_EQ(pixel(300, 280), 0x0000FFu);
    EXPECT_EQ(pixel(570, 280), 0x000000u);
    EXPECT_EQ(pixel(300, 300), 0xFFFFFFu);  // below it
}

TEST_F(BackgroundDrawing, AOneBitBandGetsTheImageHalftoned) {
    const auto file = WriteFile("black.bmp", MakeBmp({1, 1, 24, false, {}, {0}}));
    const pipetest::RecordedCall band = PrintOnePage(WithImage(DefaultDevmode(), file, 25, 1));
    ASSERT_EQ(+band.band.stride, 72);
    // 144 x 144 black pixels at the top left, white elsewhere.
    EXPECT_EQ(band.bits[0], 0x00);
    EXPECT_EQ(band.bits[17], 0x00);
    EXPECT_EQ(band.bits[18], 0xFF);
    EXPECT_EQ(band.bits[143 * 72], 0x00);
    EXPECT_EQ(band.bits[144 * 72], 0xFF);
}

TEST_F(BackgroundDrawing, BadFilesAndSettingsLeaveTheBandWhite) {
    std::vector<BYTE> truncated = MakeBmp({2, 2, 24, false, {}, {0, 0, 0, 0}});
    truncated.resize(truncated.size() - 4);
    const std::vector<std::pair<std::filesystem::path, WORD>> cases = {
        {root_.path() / "missing.bmp", 1},
        {WriteFile("empty.bmp", {}), 1},
        {WriteFile("text.bmp", {'h', 'e', 'l', 'l', 'o'}), 1},
        {WriteFile("truncated.bmp", truncated), 1},
        {WriteFile("good.bmp", MakeBmp({1, 1, 24, false, {}, {0}})), 0},  // no position
        {WriteFile("good2.bmp", MakeBmp({1, 1, 24, false, {}, {0}})), 11},
    };
    for (const auto& [file, position] : cases) {
        const pipetest::RecordedCall band =
            PrintOnePage(WithImage(DefaultDevmode(), file, 50, position));
        ASSERT_FALSE(band.bits.empty()) << file;
        for (BYTE b : band.bits) ASSERT_EQ(b, 0xFF) << file;
    }
    // The flag alone, or a percentage of 0, draws nothing either.
    Devmode mode = WithImage(DefaultDevmode(), root_.path() / "good.bmp", 0, 1);
    pipetest::RecordedCall band = PrintOnePage(mode);
    ASSERT_FALSE(band.bits.empty());
    for (BYTE b : band.bits) ASSERT_EQ(b, 0xFF);
    mode = WithImage(DefaultDevmode(), root_.path() / "good.bmp", 50, 1);
    mode.priv.layoutFlags &= ~kLayoutBackgroundImage;
    band = PrintOnePage(mode);
    ASSERT_FALSE(band.bits.empty());
    for (BYTE b : band.bits) ASSERT_EQ(b, 0xFF);
}

}  // namespace
