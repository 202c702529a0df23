// The paper preview: rendered streams checked pixel by pixel.

#include "tools/preview/preview.h"

#include <cairo.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "test_support.h"

namespace {

using Bytes = std::vector<unsigned char>;

constexpr std::uint32_t kWhite = 0xFFFFFF;
constexpr std::uint32_t kBlack = 0x000000;
constexpr std::uint32_t kRed = 0xFF0000;

Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

Bytes Line(const Bytes& head) {
    Bytes line(72, 0);
    std::copy(head.begin(), head.end(), line.begin());
    return line;
}

class Image {
  public:
    explicit Image(const std::string& path)
        : surface_(cairo_image_surface_create_from_png(path.c_str()), cairo_surface_destroy) {}
    bool ok() const { return cairo_surface_status(surface_.get()) == CAIRO_STATUS_SUCCESS; }
    int width() const { return cairo_image_surface_get_width(surface_.get()); }
    int height() const { return cairo_image_surface_get_height(surface_.get()); }
    std::uint32_t At(int x, int y) const {
        const unsigned char* data = cairo_image_surface_get_data(surface_.get());
        const int stride = cairo_image_surface_get_stride(surface_.get());
        return reinterpret_cast<const std::uint32_t*>(data +
                                                      static_cast<std::ptrdiff_t>(y) * stride)[x] &
               0xFFFFFF;
    }
    // Pixels in the rectangle that are neither paper nor background.
    int Inked(int left, int top, int right, int bottom) const {
        int count = 0;
        const std::uint32_t background = At(width() - 1, height() - 1);
        for (int y = top; y < bottom; ++y)
            for (int x = left; x < right; ++x)
                count += At(x, y) != kWhite && At(x, y) != background;
        return count;
    }

  private:
    std::unique_ptr<cairo_surface_t, decltype(&cairo_surface_destroy)> surface_;
};

// The font caches of the renders are released once all tests have run.
class FontRelease : public ::testing::Environment {
  public:
    void TearDown() override { qlpr::ReleasePreviewFonts(); }
};
const auto* const kFontRelease = ::testing::AddGlobalTestEnvironment(new FontRelease);

class Preview : public ::testing::Test {
  protected:
    Image Render(const Bytes& stream, const qlpr::PreviewOptions& options = {}) {
        const std::string path = (root_.path() / "preview.png").string();
        std::string error;
        EXPECT_TRUE(qlpr::WritePreviewPng(stream, options, path, &error)) << error;
        return Image(path);
    }

    testsupport::ScopedStoreRoot root_;
};

// One two-plane row after a feed of 4: plane 2 (red) at dot 8, plane 1
// (black) at dots 7 and 23. Each sent unit (a, b) is the row pair (b, a).
const Bytes kTwoColourRow = Cat({{0x1B, 0x4A, 0x04, 0x1B, 0x2C, 0x02, 0x01, 0x00},
                                 Line({0x80, 0x00}),
                                 Line({0x00, 0x01, 0x00, 0x01})});

TEST_F(Preview, RasterDotsAreExactPixels) {
    const Image image = Render(kTwoColourRow);
    ASSERT_TRUE(image.ok());
    EXPECT_EQ(image.width(), 576 + qlpr::kPreviewMarginDots);
    EXPECT_EQ(image.height(), 5 + qlpr::kPreviewTailDots);
    EXPECT_EQ(image.At(7, 4), kBlack);
    EXPECT_EQ(image.At(8, 4), kRed);
    EXPECT_EQ(image.At(23, 4), kBlack);
    EXPECT_EQ(image.At(6, 4), kWhite);
    EXPECT_EQ(image.At(9, 4), kWhite);
    EXPECT_EQ(image.At(7, 3), kWhite);
    EXPECT_EQ(image.Inked(0, 0, 576, 5), 3);
}

TEST_F(Preview, ScaleMakesEachDotASquare) {
    qlpr::PreviewOptions options;
    options.scale = 3;
    const Image image = Render(kTwoColourRow, options);
    ASSERT_TRUE(image.ok());
    EXPECT_EQ(image.height(), (5 + qlpr::kPreviewTailDots) * 3);
    for (int dy = 0; dy < 3; ++dy) {
        for (int dx = 0; dx < 3; ++dx) {
            EXPECT_EQ(image.At(21 + dx, 12 + dy), kBlack);
            EXPECT_EQ(image.At(24 + dx, 12 + dy), kRed);
        }
    }
    EXPECT_EQ(image.Inked(0, 0, 576 * 3, 15), 3 * 9);
}

TEST_F(Preview, FeedsMoveRowsAndPadsComeOff) {
    // 74-byte lines with one byte of left pad: the dot right after the pad
    // is the paper's first dot.
    Bytes line(74, 0);
    line[2] = 0x80;
    const Bytes stream =
        Cat({{0x1B, 0x4A, 0xFF, 0x1B, 0x4A, 0x2D, 0x1B, 0x2C, 0x00, 0x01, 0x00}, line});
    qlpr::PreviewOptions options;
    options.lineBytes = 74;
    options.leftPad = 1;
    const Image image = Render(stream, options);
    ASSERT_TRUE(image.ok());
    EXPECT_EQ(image.At(0, 300), kBlack);
    EXPECT_EQ(image.Inked(0, 0, 584, 301), 1);
}

TEST_F(Preview, CutsAreDashedLinesLabelledByKind) {
    const Bytes fullCut = Cat({{0x1B, 0x2C, 0x00, 0x01, 0x00},
                               Line({}),
                               {0x1B, 0x4A, 0x28, 0x1D, 0x56, 0x00, 0x1B, 0x4A, 0x0A}});
    Bytes partialCut = fullCut;
    partialCut[fullCut.size() - 4] = 0x01;
    const Image full = Render(fullCut);
    ASSERT_TRUE(full.ok());
    // The cut falls after row 40: dashes of 8 dots, gaps of 4.
    EXPECT_NE(full.At(0, 41), kWhite);
    EXPECT_NE(full.At(7, 41), kWhite);
    EXPECT_EQ(full.At(9, 41), kWhite);
    EXPECT_EQ(full.Inked(0, 0, 576, 41), 0);
    const int fullLabel = full.Inked(576, 38, full.width(), full.height());
    EXPECT_GT(fullLabel, 0);
    const Image partial = Render(partialCut);
    ASSERT_TRUE(partial.ok());
    EXPECT_NE(partial.Inked(576, 38, partial.width(), partial.height()), fullLabel);
}

TEST_F(Preview, TextAndSymbolsAreDrawnInTheirLine) {
    // "HH" in font A at dot 100, then an EAN-13 of module 2 and 50 rows, both
    // printed by ESC J 0; a raster row follows below the taller symbol.
    const Bytes stream =
        Cat({{0x1B, 0x24, 0x64, 0x00, 'H', 'H'},
             {0x1D, 0x77, 0x02, 0x1D, 0x68, 0x32, 0x1D, 0x48, 0x00},
             {0x1D, 0x6B, 0x43, 0x0C, '5', '9', '0', '1', '2', '3', '4', '1', '2', '3', '4', '5'},
             {0x1B, 0x4A, 0x00, 0x1B, 0x2C, 0x00, 0x01, 0x00},
             Line({0x00, 0x80})});
    const Image image = Render(stream);
    ASSERT_TRUE(image.ok());
    EXPECT_GT(image.Inked(100, 0, 124, 24), 40);  // the two glyphs
    EXPECT_EQ(image.Inked(0, 0, 100, 50), 0);     // nothing before the position
    EXPECT_EQ(image.At(124, 10), kBlack);         // the EAN start guard
    EXPECT_GT(image.Inked(124, 0, 124 + 190, 50), 50 * 40);
    EXPECT_EQ(image.At(0, 50), kBlack);  // the raster row after the line
    EXPECT_EQ(image.height(), 51 + qlpr::kPreviewTailDots);
}

TEST_F(Preview, RefusesWhatItCannotDraw) {
    std::string error;
    const std::string path = (root_.path() / "x.png").string();
    qlpr::PreviewOptions options;
    options.scale = 0;
    EXPECT_FALSE(qlpr::WritePreviewPng(kTwoColourRow, options, path, &error));
    EXPECT_NE(error.find("scale"), std::string::npos);
    options = {};
    options.leftPad = 72;
    EXPECT_FALSE(qlpr::WritePreviewPng(kTwoColourRow, options, path, &error));
    options = {};
    options.lineBytes = 0;
    EXPECT_FALSE(qlpr::WritePreviewPng(kTwoColourRow, options, path, &error));
    // 200 feeds of 255 rows are longer than an image can be.
    Bytes longPaper;
    for (int i = 0; i < 200; ++i) longPaper.insert(longPaper.end(), {0x1B, 0x4A, 0xFF});
    EXPECT_FALSE(qlpr::WritePreviewPng(longPaper, {}, path, &error));
    EXPECT_NE(error.find("51000 rows"), std::string::npos) << error;
    EXPECT_FALSE(qlpr::WritePreviewPng(kTwoColourRow, {}, (root_.path() / "no/such/x.png").string(),
                                       &error));
    EXPECT_NE(error.find("cannot write"), std::string::npos);
    // Unknown and truncated bytes are passed over.
    EXPECT_TRUE(qlpr::WritePreviewPng({0x00, 0x1B, 0x2C, 0x00, 0xFF, 0xFF}, {}, path, &error))
        << error;
}

}  // namespace
