// The engine's bit-block drawing: sources of every format into the band
// formats, raster operations, mirroring, clipping and alpha blending.
#include <gtest/gtest.h>

#include <cstring>
#include <iterator>
#include <memory>
#include <vector>

#include "host/engine_objects.h"
#include "host/rle.h"
#include "host_test_util.h"

namespace {

using host::ClipRegion;
using host::EngineBrush;
using host::Translation;
using hosttest::Bit;
using hosttest::GuardedBitmap;

// An engine bitmap with its own bits (exactly as many as it needs, so that
// the sanitizer build sees any access past them).
class EngineBitmap {
  public:
    EngineBitmap(LONG width, LONG height, ULONG format, FLONG flags = BMF_TOPDOWN, LONG stride = 0,
                 std::vector<BYTE>* lent = nullptr) {
        handle_ = HSURF{EngCreateBitmap({width, height}, stride, format, flags,
                                        lent != nullptr ? lent->data() : nullptr)
                            .value};
        surface_ = EngLockSurface(handle_);
    }
    ~EngineBitmap() {
        EngUnlockSurface(surface_);
        EngDeleteSurface(handle_);
    }
    SURFOBJ* surface() const { return surface_; }
    BYTE* row(LONG y) const { return static_cast<BYTE*>(surface_->pvScan0) + y * surface_->lDelta; }

  private:
    HSURF handle_{};
    SURFOBJ* surface_ = nullptr;
};

// The test picture: 4 x 2 pixels of four colours (0x00RRGGBB), the second
// row the first reversed. One-bit pictures use the colours' low bit.
constexpr ULONG kPalette[4] = {0x000000, 0xFFFFFF, 0xFF0000, 0x081018};
constexpr int kIndex[2][4] = {{0, 1, 2, 3}, {3, 2, 1, 0}};
constexpr WORD kFiveFiveFive[4] = {0x0000, 0x7FFF, 0x7C00, (1 << 10) | (2 << 5) | 3};

int IndexOf(ULONG format, int y, int x) {
    return format == BMF_1BPP ? kIndex[y][x] & 1 : kIndex[y][x];
}

// The expected COLOUR (red in the low byte).
ULONG ColourOf(ULONG rrggbb) {
    return ((rrggbb >> 16) & 0xFF) | (rrggbb & 0xFF00) | ((rrggbb & 0xFF) << 16);
}

void WritePicture(EngineBitmap& bitmap, ULONG format) {
    for (int y = 0; y < 2; ++y) {
        BYTE* row = bitmap.row(y);
        for (int x = 0; x < 4; ++x) {
            const int i = IndexOf(format, y, x);
            const ULONG c = kPalette[i];
            switch (format) {
                case BMF_1BPP:
                    hosttest::SetBit(row, x, i);
                    break;
                case BMF_4BPP:
                    row[x / 2] = static_cast<BYTE>(x % 2 == 0 ? (row[x / 2] & 0x0F) | (i << 4)
                                                              : (row[x / 2] & 0xF0) | i);
                    break;
                case BMF_8BPP:
                    row[x] = static_cast<BYTE>(i);
                    break;
                case BMF_16BPP:
                    row[x * 2] = static_cast<BYTE>(kFiveFiveFive[i]);
                    row[x * 2 + 1] = static_cast<BYTE>(kFiveFiveFive[i] >> 8);
                    break;
                default: {  // blue, green, red (and alpha)
                    const int step = format == BMF_24BPP ? 3 : 4;
                    row[x * step] = static_cast<BYTE>(c);
                    row[x * step + 1] = static_cast<BYTE>(c >> 8);
                    row[x * step + 2] = static_cast<BYTE>(c >> 16);
                    if (step == 4) row[x * step + 3] = 255;
                    break;
                }
            }
        }
    }
}

// The picture run-length encoded, bottom line first: the bottom row as one
// literal run, the top row as runs of one.
std::vector<BYTE> RunLengthPicture(ULONG format) {
    if (format == BMF_8RLE) return {0, 4, 3, 2, 1, 0, 0, 0, 1, 0, 1, 1, 1, 2, 1, 3, 0, 0, 0, 1};
    return {0, 4, 0x32, 0x10, 0, 0, 2, 0x01, 2, 0x23, 0, 0, 0, 1};
}

void ExpectPicture(const EngineBitmap& dest, ULONG sourceFormat, POINTL at, BYTE background) {
    const ULONG destFormat = dest.surface()->iBitmapFormat;
    for (LONG y = 0; y < dest.surface()->sizlBitmap.cy; ++y) {
        for (LONG x = 0; x < dest.surface()->sizlBitmap.cx; ++x) {
            const bool inside = x >= at.x && x < at.x + 4 && y >= at.y && y < at.y + 2;
            const BYTE* row = dest.row(y);
            SCOPED_TRACE(testing::Message() << "pixel " << x << "," << y);
            if (!inside) {
                if (destFormat == BMF_1BPP)
                    ASSERT_EQ(Bit(row, x), (background >> (7 - x % 8)) & 1);
                else
                    ASSERT_EQ(row[destFormat == BMF_8BPP ? x : x * 3], background);
                continue;
            }
            const ULONG colour = ColourOf(kPalette[IndexOf(sourceFormat, y - at.y, x - at.x)]);
            const BYTE r = colour & 0xFF, g = (colour >> 8) & 0xFF, b = (colour >> 16) & 0xFF;
            switch (destFormat) {
                case BMF_24BPP:
                    ASSERT_EQ(row[x * 3], r);
                    ASSERT_EQ(row[x * 3 + 1], g);
                    ASSERT_EQ(row[x * 3 + 2], b);
                    break;
                case BMF_8BPP:
                    ASSERT_EQ(row[x], (5 * r + 9 * g + 2 * b) >> 4);
                    break;
                default:
                    ASSERT_EQ(Bit(row, x), colour == 0xFFFFFF ? 1 : 0);
                    break;
            }
        }
    }
}

std::unique_ptr<Translation> TranslationFor(ULONG format) {
    if (format == BMF_16BPP || format == BMF_24BPP || format == BMF_32BPP)
        return Translation::ForDirectFormat(format);
    const int entries = format == BMF_1BPP ? 2 : 4;
    return Translation::FromPalette(std::vector<ULONG>(kPalette, kPalette + entries));
}

TEST(EngineDrawing, EverySourceFormatCopiesIntoEveryBandFormat) {
    const ULONG sources[] = {BMF_1BPP,  BMF_4BPP,  BMF_8BPP, BMF_16BPP,
                             BMF_24BPP, BMF_32BPP, BMF_4RLE, BMF_8RLE};
    const ULONG bands[] = {BMF_1BPP, BMF_8BPP, BMF_24BPP};
    for (ULONG sourceFormat : sources) {
        const bool runLength = sourceFormat == BMF_4RLE || sourceFormat == BMF_8RLE;
        for (FLONG flags : {FLONG{BMF_TOPDOWN}, FLONG{0}}) {
            if (runLength && flags == BMF_TOPDOWN) continue;  // run-length data runs bottom-up
            std::vector<BYTE> data = RunLengthPicture(sourceFormat);
            std::unique_ptr<EngineBitmap> source;
            if (runLength) {
                source = std::make_unique<EngineBitmap>(4, 2, sourceFormat, flags,
                                                        static_cast<LONG>(data.size()), &data);
            } else {
                source = std::make_unique<EngineBitmap>(4, 2, sourceFormat, flags);
                WritePicture(*source, sourceFormat);
            }
            ASSERT_NE(source->surface(), nullptr) << sourceFormat;
            auto xlate = TranslationFor(sourceFormat == BMF_4RLE   ? BMF_4BPP
                                        : sourceFormat == BMF_8RLE ? BMF_8BPP
                                                                   : sourceFormat);
            for (ULONG bandFormat : bands) {
                SCOPED_TRACE(testing::Message() << "source " << sourceFormat << " flags " << flags
                                                << " band " << bandFormat);
                EngineBitmap band(7, 4, bandFormat);
                std::memset(band.surface()->pvBits, 0x5A, band.surface()->cjBits);
                RECTL target{2, 1, 6, 3};
                POINTL origin{0, 0};
                ASSERT_TRUE(EngCopyBits(band.surface(), source->surface(), nullptr, xlate->object(),
                                        &target, &origin));
                ExpectPicture(band, sourceFormat, {2, 1}, 0x5A);
            }
        }
    }
}

// Bit (4P + 2S + D) of the code, worked out bit by bit.
BYTE ReferenceRop(BYTE rop, BYTE p, BYTE s, BYTE d) {
    BYTE out = 0;
    for (int bit = 0; bit < 8; ++bit) {
        const int index = 4 * ((p >> bit) & 1) + 2 * ((s >> bit) & 1) + ((d >> bit) & 1);
        out = static_cast<BYTE>(out | (((rop >> index) & 1) << bit));
    }
    return out;
}

TEST(EngineDrawing, EveryRop3FollowsItsTruthTable) {
    const BYTE sourceGrey[8] = {0x00, 0xFF, 0x0F, 0xF0, 0x33, 0xCC, 0x5A, 0x81};
    const BYTE destGrey[8] = {0xFF, 0x00, 0x3C, 0xC3, 0x55, 0xAA, 0x69, 0x18};
    constexpr BYTE kPatternGrey = 0xB4;
    EngineBitmap source(8, 1, BMF_8BPP);
    std::memcpy(source.row(0), sourceGrey, 8);
    auto brush = EngineBrush::Solid(ULONG{kPatternGrey} * 0x010101);
    for (int rop = 0; rop < 256; ++rop) {
        EngineBitmap dest(8, 1, BMF_8BPP);
        std::memcpy(dest.row(0), destGrey, 8);
        RECTL target{0, 0, 8, 1};
        POINTL origin{0, 0};
        ASSERT_TRUE(EngBitBlt(dest.surface(), source.surface(), nullptr, nullptr, nullptr, &target,
                              &origin, nullptr, brush->object(), nullptr,
                              static_cast<ROP4>(rop * 0x101)));
        for (int x = 0; x < 8; ++x)
            ASSERT_EQ(dest.row(0)[x], ReferenceRop(static_cast<BYTE>(rop), kPatternGrey,
                                                   sourceGrey[x], destGrey[x]))
                << "rop " << rop << " pixel " << x;
    }
}

// On one bit the operation changes only the span's bits: x 3..9 touches
// bits 3..7 of the first byte and 0..1 of the second.
TEST(EngineDrawing, OneBitOperationsKeepTheBitsBesideTheSpan) {
    auto white = EngineBrush::Solid(0xFFFFFF);
    for (ROP4 rop : {ROP4{0x0000}, ROP4{0xFFFF}, ROP4{0x5555}, ROP4{0xF0F0}}) {
        GuardedBitmap band(24, 1, BMF_1BPP, 0x00);
        band.row(0)[0] = 0xA5;
        band.row(0)[1] = 0x3C;
        band.row(0)[2] = 0x77;
        RECTL target{3, 0, 10, 1};
        ASSERT_TRUE(EngBitBlt(band.surface(), nullptr, nullptr, nullptr, nullptr, &target, nullptr,
                              nullptr, white->object(), nullptr, rop));
        const BYTE first = rop == 0x0000 ? 0xA0 : rop == 0x5555 ? 0xBA : 0xBF;
        const BYTE second = rop == 0x0000 ? 0x3C & 0x3F : rop == 0x5555 ? 0xFC : 0xFC;
        EXPECT_EQ(band.row(0)[0], first) << rop;
        EXPECT_EQ(band.row(0)[1], second) << rop;
        EXPECT_EQ(band.row(0)[2], 0x77) << rop;
        EXPECT_TRUE(band.GuardsIntact());
    }
}

TEST(EngineDrawing, PatternBrushesFollowTheBrushOrigin) {
    auto stripes = EngineBrush::Pattern(2, 1, {0xFFFFFF, 0x000000});
    GuardedBitmap dest(6, 2, BMF_8BPP, 0x40);
    RECTL target{0, 0, 6, 2};
    POINTL brushOrigin{1, 0};
    ASSERT_TRUE(EngBitBlt(dest.surface(), nullptr, nullptr, nullptr, nullptr, &target, nullptr,
                          nullptr, stripes->object(), &brushOrigin, 0xF0F0));
    for (LONG x = 0; x < 6; ++x) EXPECT_EQ(dest.row(1)[x], x % 2 == 0 ? 0 : 255) << x;

    // A pattern brush the engine knows nothing of cannot be drawn.
    BRUSHOBJ foreign{kPatternBrush, nullptr, 0};
    EXPECT_FALSE(EngBitBlt(dest.surface(), nullptr, nullptr, nullptr, nullptr, &target, nullptr,
                           nullptr, &foreign, nullptr, 0xF0F0));
    // A solid one can.
    BRUSHOBJ solid{0x000080, nullptr, 0};
    ASSERT_TRUE(EngBitBlt(dest.surface(), nullptr, nullptr, nullptr, nullptr, &target, nullptr,
                          nullptr, &solid, nullptr, 0xF0F0));
    EXPECT_EQ(dest.row(0)[0], (5 * 0x80) >> 4);
    EXPECT_TRUE(dest.GuardsIntact());
}

TEST(EngineDrawing, BackwardTargetsMirrorTheCopy) {
    EngineBitmap source(4, 2, BMF_8BPP, 0);  // bottom-up
    for (LONG y = 0; y < 2; ++y)
        for (LONG x = 0; x < 4; ++x) source.row(y)[x] = static_cast<BYTE>(10 * y + x);
    EngineBitmap dest(4, 2, BMF_8BPP);
    POINTL origin{0, 0};
    RECTL upright{0, 0, 4, 2};
    ASSERT_TRUE(EngCopyBits(dest.surface(), source.surface(), nullptr, nullptr, &upright, &origin));
    EXPECT_EQ(dest.row(0)[3], 3);
    EXPECT_EQ(dest.row(1)[0], 10);
    RECTL flipped{4, 2, 0, 0};
    ASSERT_TRUE(EngCopyBits(dest.surface(), source.surface(), nullptr, nullptr, &flipped, &origin));
    for (LONG y = 0; y < 2; ++y)
        for (LONG x = 0; x < 4; ++x) EXPECT_EQ(dest.row(y)[x], 10 * (1 - y) + (3 - x));
}

// Overlapping clip rectangles draw a pixel once: an inversion shows it.
TEST(EngineDrawing, ComplexClipsDrawTheirUnionOnce) {
    ClipRegion clip({{0, 0, 4, 4}, {2, 2, 6, 6}, {7, 7, 20, 20}});
    auto black = EngineBrush::Solid(0);
    GuardedBitmap dest(8, 8, BMF_8BPP, 0x0F);
    RECTL target{1, 1, 8, 8};
    ASSERT_TRUE(EngBitBlt(dest.surface(), nullptr, nullptr, clip.object(), nullptr, &target,
                          nullptr, nullptr, black->object(), nullptr, 0x5555));
    for (LONG y = 0; y < 8; ++y) {
        for (LONG x = 0; x < 8; ++x) {
            const bool inTarget = x >= 1 && y >= 1;
            const bool inClip =
                (x < 4 && y < 4) || (x >= 2 && x < 6 && y >= 2 && y < 6) || (x >= 7 && y >= 7);
            EXPECT_EQ(dest.row(y)[x], inTarget && inClip ? 0xF0 : 0x0F) << x << "," << y;
        }
    }
    EXPECT_TRUE(dest.GuardsIntact());

    // The same clip on a copy into one bit.
    EngineBitmap white(8, 8, BMF_1BPP);
    std::memset(white.surface()->pvBits, 0xFF, white.surface()->cjBits);
    GuardedBitmap band(8, 8, BMF_1BPP, 0x00);
    POINTL origin{0, 0};
    ASSERT_TRUE(
        EngCopyBits(band.surface(), white.surface(), clip.object(), nullptr, &target, &origin));
    for (LONG y = 0; y < 8; ++y)
        for (LONG x = 0; x < 8; ++x) {
            const bool inClip =
                (x < 4 && y < 4) || (x >= 2 && x < 6 && y >= 2 && y < 6) || (x >= 7 && y >= 7);
            EXPECT_EQ(Bit(band.row(y), x), x >= 1 && y >= 1 && inClip ? 1 : 0) << x << "," << y;
        }
}

// Into one bit without halftoning a colour becomes the nearer of black and
// white, by copy, by nearest stretch, as a brush colour, and from a one-bit
// source whose two colours are neither.
TEST(EngineDrawing, OneBitTakesTheNearerOfBlackAndWhite) {
    const struct {
        ULONG rrggbb;
        int white;
    } kCases[] = {{0x000000, 0}, {0x606060, 0}, {0x7F7F80, 0}, {0x808080, 1}, {0xC0C0C0, 1},
                  {0xFFFFFE, 1}, {0xFF0000, 0}, {0xFFFF00, 1}, {0x00FFFF, 1}, {0xFFFFFF, 1}};
    constexpr LONG kCount = LONG{std::size(kCases)};
    EngineBitmap colours(kCount, 1, BMF_24BPP);
    for (LONG x = 0; x < kCount; ++x)
        for (int channel = 0; channel < 3; ++channel)  // blue, green, red
            colours.row(0)[x * 3 + channel] = static_cast<BYTE>(kCases[x].rrggbb >> (8 * channel));
    auto xlate = Translation::ForDirectFormat(BMF_24BPP);
    RECTL target{0, 0, kCount, 1};
    POINTL origin{0, 0};
    for (bool stretch : {false, true}) {
        GuardedBitmap band(kCount, 1, BMF_1BPP, 0x5A);
        ASSERT_TRUE(stretch ? EngStretchBlt(band.surface(), colours.surface(), nullptr, nullptr,
                                            xlate->object(), nullptr, nullptr, &target, &target,
                                            nullptr, COLORONCOLOR)
                            : EngCopyBits(band.surface(), colours.surface(), nullptr,
                                          xlate->object(), &target, &origin));
        for (LONG x = 0; x < kCount; ++x)
            EXPECT_EQ(Bit(band.row(0), x), kCases[x].white)
                << std::hex << kCases[x].rrggbb << (stretch ? " stretched" : " copied");
    }
    for (const auto& c : kCases) {
        GuardedBitmap band(8, 1, BMF_1BPP, 0x5A);
        auto brush = EngineBrush::Solid(ColourOf(c.rrggbb));
        RECTL all{0, 0, 8, 1};
        ASSERT_TRUE(EngBitBlt(band.surface(), nullptr, nullptr, nullptr, nullptr, &all, nullptr,
                              nullptr, brush->object(), nullptr, 0xF0F0));
        EXPECT_EQ(band.row(0)[0], c.white ? 0xFF : 0x00) << std::hex << c.rrggbb << " brush";
    }
    // Dark grey for 0, light grey for 1: the bits come through as they are.
    GuardedBitmap bits(16, 1, BMF_1BPP);
    bits.row(0)[0] = 0xA5;
    bits.row(0)[1] = 0x0F;
    auto greys = Translation::FromPalette({0x404040, 0xC0C0C0});
    GuardedBitmap band(16, 1, BMF_1BPP, 0x00);
    RECTL wide{0, 0, 16, 1};
    ASSERT_TRUE(
        EngCopyBits(band.surface(), bits.surface(), nullptr, greys->object(), &wide, &origin));
    EXPECT_EQ(band.row(0)[0], 0xA5);
    EXPECT_EQ(band.row(0)[1], 0x0F);
    EXPECT_TRUE(band.GuardsIntact());
}

TEST(EngineDrawing, AlphaBlendsConstantAndPerPixel) {
    RECTL one{0, 0, 1, 1};
    // Constant alpha: (S A + D (255 - A)) / 255, rounded.
    GuardedBitmap grey(1, 1, BMF_8BPP, 200);
    GuardedBitmap dest(1, 1, BMF_8BPP, 100);
    BLENDOBJ half{{AC_SRC_OVER, 0, 128, 0}};
    ASSERT_TRUE(EngAlphaBlend(dest.surface(), grey.surface(), nullptr, nullptr, &one, &one, &half));
    EXPECT_EQ(dest.row(0)[0], 150);

    // Per pixel, premultiplied: S + (255 - a) D / 255.
    EngineBitmap quad(3, 1, BMF_32BPP);
    const BYTE pixels[12] = {10, 20, 30, 0, 10, 20, 30, 128, 10, 20, 30, 255};
    std::memcpy(quad.row(0), pixels, 12);
    auto xlate = Translation::ForDirectFormat(BMF_32BPP);
    GuardedBitmap colour(3, 1, BMF_24BPP, 100);
    BLENDOBJ perPixel{{AC_SRC_OVER, 0, 255, AC_SRC_ALPHA}};
    RECTL three{0, 0, 3, 1};
    ASSERT_TRUE(EngAlphaBlend(colour.surface(), quad.surface(), nullptr, xlate->object(), &three,
                              &three, &perPixel));
    const BYTE expected[9] = {130, 120, 110, 80, 70, 60, 30, 20, 10};
    EXPECT_EQ(std::memcmp(colour.row(0), expected, 9), 0);
    EXPECT_TRUE(colour.GuardsIntact());

    // One bit: the blend onto the pixel's black or white becomes the nearer
    // of the two (white from 128 up).
    EngineBitmap white(1, 1, BMF_8BPP);
    static_cast<BYTE*>(white.surface()->pvScan0)[0] = 255;
    GuardedBitmap band(8, 1, BMF_1BPP, 0x00);
    BLENDOBJ opaque{{AC_SRC_OVER, 0, 255, 0}};
    BLENDOBJ faint{{AC_SRC_OVER, 0, 127, 0}};
    RECTL first{0, 0, 1, 1}, second{1, 0, 2, 1}, third{2, 0, 3, 1};
    ASSERT_TRUE(
        EngAlphaBlend(band.surface(), white.surface(), nullptr, nullptr, &first, &one, &opaque));
    ASSERT_TRUE(
        EngAlphaBlend(band.surface(), white.surface(), nullptr, nullptr, &second, &one, &half));
    ASSERT_TRUE(
        EngAlphaBlend(band.surface(), white.surface(), nullptr, nullptr, &third, &one, &faint));
    EXPECT_EQ(band.row(0)[0], 0xC0);

    // Refused: per-pixel alpha without 32 bits, other operations.
    EngineBitmap rgb(1, 1, BMF_24BPP);
    EXPECT_FALSE(
        EngAlphaBlend(dest.surface(), rgb.surface(), nullptr, nullptr, &one, &one, &perPixel));
    BLENDOBJ other{{1, 0, 255, 0}};
    EXPECT_FALSE(
        EngAlphaBlend(dest.surface(), grey.surface(), nullptr, nullptr, &one, &one, &other));
    EXPECT_FALSE(
        EngAlphaBlend(dest.surface(), grey.surface(), nullptr, nullptr, &one, &one, nullptr));
    EXPECT_EQ(dest.row(0)[0], 150);
}

TEST(EngineDrawing, BadCallsAreRefusedWithoutDrawing) {
    GuardedBitmap dest(8, 4, BMF_8BPP, 0x33);
    EngineBitmap source(8, 4, BMF_8BPP);
    auto brush = EngineBrush::Solid(0);
    RECTL target{0, 0, 8, 4};
    POINTL origin{0, 0};
    // Operations missing what they read.
    EXPECT_FALSE(EngBitBlt(dest.surface(), nullptr, nullptr, nullptr, nullptr, &target, &origin,
                           nullptr, brush->object(), nullptr, 0xCCCC));
    EXPECT_FALSE(EngBitBlt(dest.surface(), source.surface(), nullptr, nullptr, nullptr, &target,
                           nullptr, nullptr, nullptr, nullptr, 0x6666));
    EXPECT_FALSE(EngBitBlt(dest.surface(), source.surface(), nullptr, nullptr, nullptr, &target,
                           &origin, nullptr, nullptr, nullptr, 0xF0F0));
    EXPECT_FALSE(EngCopyBits(dest.surface(), source.surface(), nullptr, nullptr, nullptr, &origin));
    // A destination of a format the band never has.
    EngineBitmap four(8, 4, BMF_4BPP);
    EXPECT_FALSE(EngCopyBits(four.surface(), source.surface(), nullptr, nullptr, &target, &origin));
    // A source rectangle beyond the coordinate range.
    POINTL far{0x7FFFFFFC, 0};
    EXPECT_FALSE(EngCopyBits(dest.surface(), source.surface(), nullptr, nullptr, &target, &far));
    // A source wholly outside its bitmap, a target wholly outside the band.
    POINTL outside{-100, -100};
    EXPECT_TRUE(EngCopyBits(dest.surface(), source.surface(), nullptr, nullptr, &target, &outside));
    RECTL away{100, 100, 108, 104};
    EXPECT_TRUE(EngCopyBits(dest.surface(), source.surface(), nullptr, nullptr, &away, &origin));
    for (LONG y = 0; y < 4; ++y)
        for (LONG x = 0; x < 8; ++x) ASSERT_EQ(dest.row(y)[x], 0x33);
    EXPECT_TRUE(dest.GuardsIntact());

    // Run-length surfaces need their data size.
    EXPECT_FALSE(EngCreateBitmap({4, 2}, 0, BMF_8RLE, 0, nullptr));
    EXPECT_FALSE(EngCreateBitmap({70000, 70000}, 16, BMF_8RLE, 0, nullptr));
}

// Hostile run-length data stays within both buffers; what it describes
// inside the bitmap is kept.
TEST(EngineRunLength, HostileDataIsCutAtTheBitmapsEdges) {
    struct Case {
        const char* name;
        ULONG format;
        std::vector<BYTE> data;
        std::vector<BYTE> expected;  // 4 x 2, first decoded line first
    };
    const Case cases[] = {
        {"run past the line", BMF_8RLE, {6, 7, 0, 0, 2, 8, 0, 1}, {7, 7, 7, 7, 8, 8, 0, 0}},
        {"literal past the line",
         BMF_8RLE,
         {0, 6, 1, 2, 3, 4, 5, 6, 1, 9},
         {1, 2, 3, 4, 0, 0, 0, 0}},
        {"move right past the line",
         BMF_8RLE,
         {1, 5, 0, 2, 16, 0, 1, 6, 0, 0, 1, 4},
         {5, 0, 0, 0, 4, 0, 0, 0}},
        {"move down past the bitmap", BMF_8RLE, {1, 5, 0, 2, 0, 9, 1, 6}, {5, 0, 0, 0, 0, 0, 0, 0}},
        {"move within", BMF_8RLE, {0, 2, 1, 1, 1, 3}, {0, 0, 0, 0, 0, 3, 0, 0}},
        {"literal cut short", BMF_8RLE, {0, 5, 1, 2}, {1, 2, 0, 0, 0, 0, 0, 0}},
        {"a lone byte", BMF_8RLE, {5}, {0, 0, 0, 0, 0, 0, 0, 0}},
        {"move cut short", BMF_8RLE, {1, 3, 0, 2, 1}, {3, 0, 0, 0, 0, 0, 0, 0}},
        {"more lines than the bitmap",
         BMF_8RLE,
         {1, 1, 0, 0, 1, 2, 0, 0, 1, 3, 0, 0},
         {1, 0, 0, 0, 2, 0, 0, 0}},
        {"padded literal", BMF_8RLE, {0, 3, 1, 2, 3, 0, 1, 9}, {1, 2, 3, 9, 0, 0, 0, 0}},
        {"nibble runs",
         BMF_4RLE,
         {3, 0xAB, 0, 0, 0, 3, 0x12, 0x30, 1, 0xF0},
         {10, 11, 10, 0, 1, 2, 3, 15}},
        {"nibble literal cut short", BMF_4RLE, {0, 7, 0x12}, {1, 2, 0, 0, 0, 0, 0, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<BYTE> indices;
        ASSERT_TRUE(host::UnpackRle(c.format, c.data.data(), c.data.size(), 4, 2, &indices));
        EXPECT_EQ(indices, c.expected);
    }
    std::vector<BYTE> indices;
    EXPECT_FALSE(host::UnpackRle(BMF_8BPP, nullptr, 0, 4, 2, &indices));
    EXPECT_FALSE(host::UnpackRle(BMF_8RLE, nullptr, 4, 4, 2, &indices));
    EXPECT_FALSE(host::UnpackRle(BMF_8RLE, nullptr, 0, 0, 2, &indices));
}

// The same data drawn through the engine, the data block holding exactly
// its bytes: the band shows what the data sets and nothing leaves either.
TEST(EngineRunLength, HostileSurfacesDrawSafely) {
    std::vector<BYTE> data = {255, 1, 0, 2, 200, 200, 0, 255, 1, 2};
    EngineBitmap source(4, 2, BMF_8RLE, 0, static_cast<LONG>(data.size()), &data);
    ASSERT_NE(source.surface(), nullptr);
    EXPECT_EQ(source.surface()->cjBits, data.size());
    auto xlate = Translation::FromPalette({0x000000, 0xFFFFFF});
    GuardedBitmap band(4, 2, BMF_8BPP, 0x77);
    RECTL target{0, 0, 4, 2};
    POINTL origin{0, 0};
    ASSERT_TRUE(
        EngCopyBits(band.surface(), source.surface(), nullptr, xlate->object(), &target, &origin));
    // The first line (the bottom row) is white; the move ends the data.
    for (LONG x = 0; x < 4; ++x) {
        EXPECT_EQ(band.row(1)[x], 255);
        EXPECT_EQ(band.row(0)[x], 0);
    }
    EXPECT_TRUE(band.GuardsIntact());
}

}  // namespace

namespace {

// One-bit copies at every pair of bit phases, straight and inverted (a
// palette of white then black), against a pixel-by-pixel reading: the
// copied pixels land exactly and the pixels around them stay as they were.
TEST(EngineCopy, OneBitCopiesAreExactAtEveryBitPhase) {
    constexpr LONG kWidth = 203;
    const auto pattern = hosttest::RandomBytes(4 * 32, 7);
    GuardedBitmap source(kWidth, 4, BMF_1BPP);
    for (LONG y = 0; y < 4; ++y) std::memcpy(source.row(y), pattern.data() + y * 32, 26);
    const std::unique_ptr<Translation> inverted = Translation::FromPalette({0xFFFFFF, 0x000000});
    for (bool invert : {false, true}) {
        for (LONG from = 0; from < 9; ++from) {
            for (LONG to = 0; to < 9; ++to) {
                const LONG count = kWidth - 9 - (from * 7 + to * 3) % 40;
                GuardedBitmap dest(kWidth, 4, BMF_1BPP);
                const auto before = hosttest::RandomBytes(4 * 32, 100 + from * 9 + to);
                for (LONG y = 0; y < 4; ++y) std::memcpy(dest.row(y), before.data() + y * 32, 26);
                RECTL target{to, 0, to + count, 4};
                POINTL origin{from, 0};
                ASSERT_TRUE(EngCopyBits(dest.surface(), source.surface(), nullptr,
                                        invert ? inverted->object() : nullptr, &target, &origin));
                for (LONG y = 0; y < 4; ++y) {
                    for (LONG x = 0; x < kWidth; ++x) {
                        const bool inside = x >= to && x < to + count;
                        const int old = (before[y * 32 + x / 8] >> (7 - x % 8)) & 1;
                        const int expected =
                            inside ? Bit(source.row(y), x - to + from) ^ (invert ? 1 : 0) : old;
                        ASSERT_EQ(Bit(dest.row(y), x), expected)
                            << "invert " << invert << " from " << from << " to " << to << " x "
                            << x;
                    }
                }
                ASSERT_TRUE(dest.GuardsIntact());
            }
        }
    }
}

}  // namespace
