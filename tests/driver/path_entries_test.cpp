// The path entries and brush realization on in-memory bands of 1, 8 and 24
// bits with own rendering on: rectangles through the brush fill and through
// the scan-line filler, the fill rules, one-pixel lines, pens, patterns, and
// paths that are empty, huge, far out or degenerate.

#include <gtest/gtest.h>

#include <climits>
#include <memory>
#include <string>
#include <vector>

#include "driver/device_instance.h"
#include "driver/driver_entry.h"
#include "driver/page_geometry.h"
#include "host/engine.h"
#include "host/engine_objects.h"
#include "platform/heap.h"
#include "platform/last_error.h"
#include "render/brush_fill.h"

namespace {

constexpr LONG kWidth = 16;
constexpr LONG kHeight = 8;
constexpr ULONG kBlack = 0x000000;
constexpr ULONG kWhite = 0xFFFFFF;
constexpr MIX kCopy = 0x0D0D;

using Points = std::vector<POINTL>;

// Pixel points as a path in 28.4 fixed point.
std::unique_ptr<host::EnginePath> PathOf(const std::vector<Points>& figures, bool closed) {
    std::vector<host::EnginePath::Figure> list;
    for (const Points& points : figures) {
        host::EnginePath::Figure figure;
        figure.closed = closed;
        for (const POINTL& p : points) figure.points.push_back({p.x * 16, p.y * 16});
        list.push_back(std::move(figure));
    }
    return std::make_unique<host::EnginePath>(std::move(list));
}

// A band of the given depth, white, owned by a device instance with own
// rendering on.
class PathBand {
  public:
    explicit PathBand(int depth, FLONG renderFlags = kOwnRendering) : depth_(depth) {
        instance_ = std::make_unique<DeviceInstance>();
        instance_->signature = instance_->signatureEnd = kInstanceSignature;
        instance_->heap = HeapCreate(0, 0, 0);
        instance_->geometry.bitsPerPixel = static_cast<WORD>(depth);
        instance_->geometry.renderFlags = renderFlags;
        instance_->bandClip = {0, 0, kWidth, kHeight};
        stride_ = ((kWidth * depth + 31) / 32) * 4;
        bytes_.assign(static_cast<std::size_t>(stride_ * kHeight), 0xFF);
        surface_.dhpdev = reinterpret_cast<DHPDEV>(instance_.get());
        surface_.sizlBitmap = {kWidth, kHeight};
        surface_.cjBits = static_cast<ULONG>(bytes_.size());
        surface_.pvBits = surface_.pvScan0 = bytes_.data();
        surface_.lDelta = stride_;
        surface_.iBitmapFormat = depth == 1 ? BMF_1BPP : depth == 8 ? BMF_8BPP : BMF_24BPP;
        surface_.iType = STYPE_BITMAP;
        surface_.fjBitmap = BMF_TOPDOWN;
    }
    ~PathBand() { HeapDestroy(instance_->heap); }

    SURFOBJ* surface() { return &surface_; }
    DeviceInstance& instance() { return *instance_; }
    const std::vector<BYTE>& bytes() const { return bytes_; }

    // Whether pixel (x, y) is not white.
    bool Inked(LONG x, LONG y) const {
        const BYTE* row = bytes_.data() + static_cast<std::size_t>(y * stride_);
        if (depth_ == 1) return ((row[x >> 3] >> (7 - (x & 7))) & 1) == 0;
        const int bpp = depth_ / 8;
        for (int k = 0; k < bpp; ++k)
            if (row[x * bpp + k] != 0xFF) return true;
        return false;
    }
    // The inked pixels, row by row, as '#' and '.'.
    std::string Picture() const {
        std::string picture;
        for (LONG y = 0; y < kHeight; ++y) {
            for (LONG x = 0; x < kWidth; ++x) picture += Inked(x, y) ? '#' : '.';
            picture += '\n';
        }
        return picture;
    }
    int InkedCount() const {
        int count = 0;
        for (LONG y = 0; y < kHeight; ++y)
            for (LONG x = 0; x < kWidth; ++x) count += Inked(x, y) ? 1 : 0;
        return count;
    }

    BOOL Fill(PATHOBJ* path, BRUSHOBJ* brush, FLONG options = FP_ALTERNATEMODE) {
        return DrvFillPath(surface(), path, nullptr, brush, nullptr, kCopy, options);
    }
    BOOL Stroke(PATHOBJ* path, BRUSHOBJ* brush, LINEATTRS* line) {
        return DrvStrokePath(surface(), path, nullptr, nullptr, brush, nullptr, line, kCopy);
    }

  private:
    int depth_;
    LONG stride_ = 0;
    std::unique_ptr<DeviceInstance> instance_;
    std::vector<BYTE> bytes_;
    SURFOBJ surface_{};
};

constexpr int kDepths[] = {1, 8, 24};

TEST(PathFill, RectangleByBrushFillAndByFillerGivesTheSamePixels) {
    const Points shortcut{{0, 0}, {10, 0}, {10, 5}, {0, 5}};
    const Points verticalFirst{{0, 5}, {0, 0}, {10, 0}, {10, 5}};
    for (int depth : kDepths) {
        PathBand first(depth), second(depth);
        auto brush = host::EngineBrush::Solid(kBlack);
        EXPECT_TRUE(first.Fill(PathOf({shortcut}, true)->object(), brush->object()));
        EXPECT_TRUE(second.Fill(PathOf({verticalFirst}, true)->object(), brush->object()));
        EXPECT_EQ(first.bytes(), second.bytes()) << depth;
        EXPECT_EQ(first.InkedCount(), 50) << depth;
        EXPECT_TRUE(first.Inked(9, 4));
        EXPECT_FALSE(first.Inked(10, 4));
        EXPECT_FALSE(first.Inked(9, 5));
    }
}

TEST(PathFill, StarLeavesItsCentreByEvenOddAndFillsItByWinding) {
    const Points star{{8, 0}, {12, 7}, {2, 2}, {14, 2}, {4, 7}};
    for (int depth : kDepths) {
        PathBand evenOdd(depth), winding(depth);
        auto brush = host::EngineBrush::Solid(kBlack);
        auto path = PathOf({star}, true);
        EXPECT_TRUE(evenOdd.Fill(path->object(), brush->object(), FP_ALTERNATEMODE));
        EXPECT_TRUE(winding.Fill(path->object(), brush->object(), FP_WINDINGMODE));
        EXPECT_FALSE(evenOdd.Inked(8, 4)) << evenOdd.Picture();
        EXPECT_TRUE(winding.Inked(8, 4)) << winding.Picture();
        EXPECT_TRUE(evenOdd.Inked(8, 1));  // a point of the star
        EXPECT_GT(winding.InkedCount(), evenOdd.InkedCount());
    }
}

TEST(PathFill, PathAboveTheBandDrawsNothing) {
    PathBand band(8);
    auto brush = host::EngineBrush::Solid(kBlack);
    const Points triangle{{0, -20}, {10, -10}, {0, -10}};
    EXPECT_TRUE(band.Fill(PathOf({triangle}, true)->object(), brush->object()));
    EXPECT_EQ(band.InkedCount(), 0);
}

TEST(PathStroke, LineLeavesOutItsEndPointAtEveryDepth) {
    for (int depth : kDepths) {
        PathBand band(depth);
        auto brush = host::EngineBrush::Solid(kBlack);
        LINEATTRS cosmetic{};
        EXPECT_TRUE(
            band.Stroke(PathOf({{{0, 0}, {4, 2}}}, false)->object(), brush->object(), &cosmetic))
            << depth;
        EXPECT_EQ(band.Picture().substr(0, 3 * (kWidth + 1)),
                  "##..............\n"
                  "..##............\n"
                  "................\n")
            << depth;
        EXPECT_EQ(band.InkedCount(), 4);
    }
}

TEST(PathStroke, PensThatCannotBeMadeFail) {
    struct Case {
        FLONG lineFlags;
        ULONG colour;
        BOOL result;
    };
    const Case cases[] = {
        {0, kBlack, TRUE},
        {LA_ALTERNATE, kBlack, TRUE},  // drawn solid
        {LA_GEOMETRIC, kBlack, FALSE},
        {LA_STARTGAP, kBlack, FALSE},
        {0, 0xFEFFFF, TRUE},  // not white: black on a 1-bit band
    };
    for (const Case& c : cases) {
        PathBand band(1);
        auto brush = host::EngineBrush::Solid(c.colour);
        LINEATTRS line{};
        line.fl = c.lineFlags;
        EXPECT_EQ(band.Stroke(PathOf({{{0, 3}, {8, 3}}}, false)->object(), brush->object(), &line),
                  c.result);
        EXPECT_EQ(band.InkedCount(), c.result ? 8 : 0) << c.lineFlags;
    }
    PathBand band(8);
    auto pattern = host::EngineBrush::Pattern(1, 1, {kBlack});
    EXPECT_FALSE(
        band.Stroke(PathOf({{{0, 3}, {8, 3}}}, false)->object(), pattern->object(), nullptr));
}

TEST(PathEntries, BadPathsDrawSafely) {
    const LONG far = INT_MAX / 16;
    const LONG near = INT_MIN / 16;
    struct Case {
        const char* name;
        std::vector<Points> figures;
        int inked;  // by a fill
    };
    std::vector<Case> cases = {
        {"no points", {}, 0},
        {"one point", {{{3, 3}}}, 0},
        {"all points alike", {{{3, 3}, {3, 3}, {3, 3}}}, 0},
        {"collinear", {{{0, 0}, {4, 2}, {8, 4}}}, 0},
        {"edges at the limits",
         {{{near, far}, {near, near}, {far, near}, {far, far}}},
         kWidth * kHeight},
    };
    Points zigzag;
    for (LONG i = 0; i < 1000000; ++i) zigzag.push_back({i % 20 - 2, (i / 2) % 12 - 2});
    cases.push_back({"a million points", {zigzag}, -1});
    for (const Case& c : cases) {
        PathBand band(1);
        auto brush = host::EngineBrush::Solid(kBlack);
        auto path = PathOf(c.figures, true);
        EXPECT_TRUE(band.Fill(path->object(), brush->object())) << c.name;
        if (c.inked >= 0) {
            EXPECT_EQ(band.InkedCount(), c.inked) << c.name;
        }
        LINEATTRS cosmetic{};
        EXPECT_TRUE(band.Stroke(path->object(), brush->object(), &cosmetic)) << c.name;
    }
    // A line from one corner of the coordinate range to the other crosses
    // the band on its diagonal.
    PathBand band(8);
    auto brush = host::EngineBrush::Solid(kBlack);
    LINEATTRS cosmetic{};
    EXPECT_TRUE(band.Stroke(PathOf({{{near, near}, {far, far}}}, false)->object(), brush->object(),
                            &cosmetic));
    EXPECT_EQ(band.InkedCount(), kHeight);
    EXPECT_TRUE(band.Inked(5, 5));
}

TEST(PathEntries, EntryRulesBeforeDrawing) {
    PathBand band(8);
    auto brush = host::EngineBrush::Solid(kBlack);
    auto path = PathOf({{{0, 0}, {4, 0}, {4, 4}, {0, 4}}}, true);
    SURFOBJ stranger{};
    SetLastError(0);
    EXPECT_FALSE(DrvStrokePath(&stranger, path->object(), nullptr, nullptr, brush->object(),
                               nullptr, nullptr, kCopy));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_FALSE(
        DrvFillPath(&stranger, path->object(), nullptr, brush->object(), nullptr, kCopy, 0));
    // A complex clip refuses a fill.
    host::ClipRegion twoPieces({{0, 0, 2, 2}, {3, 3, 5, 5}});
    EXPECT_FALSE(DrvFillPath(band.surface(), path->object(), twoPieces.object(), brush->object(),
                             nullptr, kCopy, 0));
    // A stroke draws inside each rectangle of a complex clip only.
    auto lines = PathOf({{{0, 1}, {8, 1}}, {{0, 0}, {8, 8}}}, false);
    LINEATTRS cosmetic{};
    EXPECT_TRUE(DrvStrokePath(band.surface(), lines->object(), twoPieces.object(), nullptr,
                              brush->object(), nullptr, &cosmetic, kCopy));
    EXPECT_EQ(band.Picture().substr(0, 5 * (kWidth + 1)),
              "#...............\n"
              "##..............\n"
              "................\n"
              "...#............\n"
              "....#...........\n");
    EXPECT_EQ(band.InkedCount(), 5);
    // A failed job draws nothing and succeeds.
    band.instance().state |= kStateJobFailed;
    EXPECT_TRUE(band.Fill(path->object(), brush->object()));
    EXPECT_EQ(band.InkedCount(), 5);
    // Without own rendering the engine's answer is the entry's.
    PathBand platform(8, 0);
    EXPECT_EQ(platform.Fill(path->object(), brush->object()),
              EngFillPath(platform.surface(), path->object(), nullptr, brush->object(), nullptr,
                          kCopy, 0));
}

// A pattern of 3 × 3 pixels, black on its diagonal, from a 24-bit surface.
struct DiagonalPattern {
    std::vector<BYTE> bytes = std::vector<BYTE>(3 * 12, 0xFF);
    SURFOBJ surface{};
    std::unique_ptr<host::Translation> xlate = host::Translation::ForDirectFormat(BMF_24BPP);
    std::unique_ptr<host::EngineBrush> brush =
        host::EngineBrush::Pattern(3, 3, std::vector<ULONG>(9, kBlack));

    DiagonalPattern() {
        for (int i = 0; i < 3; ++i)
            for (int k = 0; k < 3; ++k) bytes[i * 12 + i * 3 + k] = 0;
        surface.sizlBitmap = {3, 3};
        surface.cjBits = static_cast<ULONG>(bytes.size());
        surface.pvBits = surface.pvScan0 = bytes.data();
        surface.lDelta = 12;
        surface.iBitmapFormat = BMF_24BPP;
        surface.fjBitmap = BMF_TOPDOWN;
    }
};

TEST(RealizeBrush, PatternsOfAnySizeFillAlikeByEitherPath) {
    const Points shortcut{{0, 0}, {16, 0}, {16, 8}, {0, 8}};
    const Points verticalFirst{{0, 8}, {0, 0}, {16, 0}, {16, 8}};
    for (int depth : kDepths) {
        PathBand first(depth), second(depth);
        DiagonalPattern a, b;
        ASSERT_TRUE(DrvRealizeBrush(a.brush->object(), first.surface(), &a.surface, nullptr,
                                    a.xlate->object(), 6));
        ASSERT_TRUE(DrvRealizeBrush(b.brush->object(), second.surface(), &b.surface, nullptr,
                                    b.xlate->object(), 6));
        const auto* real = static_cast<const RealBrush*>(a.brush->object()->pvRbrush);
        EXPECT_EQ(real->patWidth, depth == 1 ? 24 : 3);  // whole bytes on a 1-bit band
        EXPECT_EQ(real->patStride, ((real->patWidth * depth + 31) / 32) * 4);
        EXPECT_TRUE(first.Fill(PathOf({shortcut}, true)->object(), a.brush->object()));
        EXPECT_TRUE(second.Fill(PathOf({verticalFirst}, true)->object(), b.brush->object()));
        EXPECT_EQ(first.bytes(), second.bytes()) << depth;
        for (LONG y = 0; y < kHeight; ++y)
            for (LONG x = 0; x < kWidth; ++x)
                EXPECT_EQ(first.Inked(x, y), x % 3 == y % 3) << depth << " " << x << "," << y;
    }
}

TEST(RealizeBrush, RefusedWithoutOwnRenderingOrForAnotherDevice) {
    PathBand platform(8, 0);
    DiagonalPattern pattern;
    EXPECT_FALSE(DrvRealizeBrush(pattern.brush->object(), platform.surface(), &pattern.surface,
                                 nullptr, pattern.xlate->object(), 6));
    SURFOBJ stranger{};
    SetLastError(0);
    EXPECT_FALSE(DrvRealizeBrush(pattern.brush->object(), &stranger, &pattern.surface, nullptr,
                                 pattern.xlate->object(), 6));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

}  // namespace
