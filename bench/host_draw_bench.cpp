// The print host's drawing services on band-sized work: a 1-bit page-wide
// image copied into a 1-bit band, 24-bit images stretched into a 1-bit
// band with halftoning, and a page-wide grey image halftoned at its own
// size by the 4x4 and the 8x8 cell; and paths drawn by the engine into a
// band: 1,000 random triangles filled, 1,000 random lines stroked one pixel
// or 4 pixels wide.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdlib>
#include <memory>
#include <random>
#include <vector>

#include "host/engine.h"
#include "host/engine_objects.h"

namespace {

// An engine bitmap filled with random bytes.
class RandomBitmap {
  public:
    RandomBitmap(LONG width, LONG height, ULONG format) {
        handle_ = HSURF{EngCreateBitmap({width, height}, 0, format, BMF_TOPDOWN, nullptr).value};
        surface_ = EngLockSurface(handle_);
        std::mt19937 random(7);
        auto* bits = static_cast<BYTE*>(surface_->pvBits);
        for (ULONG i = 0; i < surface_->cjBits; ++i) bits[i] = static_cast<BYTE>(random());
    }
    ~RandomBitmap() {
        EngUnlockSurface(surface_);
        EngDeleteSurface(handle_);
    }
    SURFOBJ* surface() const { return surface_; }

  private:
    HSURF handle_{};
    SURFOBJ* surface_ = nullptr;
};

void BM_CopyBitsOneBitIntoOneBitBand(benchmark::State& state) {
    RandomBitmap source(576, 2048, BMF_1BPP);
    RandomBitmap band(576, 2048, BMF_1BPP);
    auto xlate = host::Translation::FromPalette({0x000000, 0xFFFFFF});
    host::ClipRegion clip({{0, 0, 576, 2048}});
    RECTL target{0, 0, 576, 2048};
    POINTL origin{0, 0};
    for (auto _ : state) {
        benchmark::DoNotOptimize(EngCopyBits(band.surface(), source.surface(), clip.object(),
                                             xlate->object(), &target, &origin));
    }
    state.SetItemsProcessed(state.iterations() * 576 * 2048);
}
BENCHMARK(BM_CopyBitsOneBitIntoOneBitBand)->Unit(benchmark::kMillisecond);

// Source width x height stretched onto a 576 x 512 band.
void BM_StretchHalftoneTwentyFourBitIntoOneBitBand(benchmark::State& state) {
    const auto width = static_cast<LONG>(state.range(0));
    const auto height = static_cast<LONG>(state.range(1));
    RandomBitmap source(width, height, BMF_24BPP);
    RandomBitmap band(576, 512, BMF_1BPP);
    auto xlate = host::Translation::ForDirectFormat(BMF_24BPP);
    host::ClipRegion clip({{0, 0, 576, 512}});
    RECTL target{0, 0, 576, 512};
    RECTL sourceRect{0, 0, width, height};
    POINTL halftoneOrigin{0, 0};
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            EngStretchBlt(band.surface(), source.surface(), nullptr, clip.object(), xlate->object(),
                          nullptr, &halftoneOrigin, &target, &sourceRect, nullptr, HALFTONE));
    }
    state.SetItemsProcessed(state.iterations() * 576 * 512);
}
BENCHMARK(BM_StretchHalftoneTwentyFourBitIntoOneBitBand)
    ->Args({288, 256})
    ->Args({1152, 1024})
    ->Unit(benchmark::kMillisecond);

// A 576 x 2048 grey image at its own size into a 1-bit band of a device
// whose halftone cell is 4x4 (argument 2) or 8x8 (6), as qlpr prints a
// grey picture at the default settings.
void BM_HalftoneGreyAtItsOwnSizeIntoOneBitBand(benchmark::State& state) {
    const auto patternSize = static_cast<ULONG>(state.range(0));
    RandomBitmap source(576, 2048, BMF_8BPP);
    RandomBitmap band(576, 2048, BMF_1BPP);
    HDEV device = host::CreateEngineDevice();
    host::SetEngineDeviceHalftone(device, patternSize);
    EngAssociateSurface(band.surface()->hsurf, device, 0);
    std::vector<ULONG> greys(256);
    for (ULONG i = 0; i < 256; ++i) greys[i] = i * 0x010101;
    auto xlate = host::Translation::FromPalette(greys);
    host::ClipRegion clip({{0, 0, 576, 2048}});
    RECTL target{0, 0, 576, 2048};
    POINTL halftoneOrigin{0, 0};
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            EngStretchBlt(band.surface(), source.surface(), nullptr, clip.object(), xlate->object(),
                          nullptr, &halftoneOrigin, &target, &target, nullptr, HALFTONE));
    }
    host::DeleteEngineDevice(device);
    state.SetItemsProcessed(state.iterations() * 576 * 2048);
}
BENCHMARK(BM_HalftoneGreyAtItsOwnSizeIntoOneBitBand)
    ->ArgName("patternSize")
    ->Arg(HT_PATSIZE_4x4)
    ->Arg(HT_PATSIZE_8x8)
    ->Unit(benchmark::kMillisecond);

// Random paths over a 576 x 2048 band: triangles (3 closed points) or
// lines (2 open points), with the pixels they cover, roughly.
struct RandomPaths {
    std::vector<std::unique_ptr<host::EnginePath>> paths;
    double pixels = 0;

    RandomPaths(int points, double lineWidth) {
        std::mt19937 random(11);
        std::uniform_int_distribution<LONG> x(0, 576 * 16 - 1), y(0, 2048 * 16 - 1);
        for (int i = 0; i < 1000; ++i) {
            host::EnginePath::Figure figure;
            for (int k = 0; k < points; ++k) figure.points.push_back({x(random), y(random)});
            figure.closed = points == 3;
            const auto& p = figure.points;
            if (points == 3) {
                pixels += std::fabs(double(p[1].x - p[0].x) * (p[2].y - p[0].y) -
                                    double(p[2].x - p[0].x) * (p[1].y - p[0].y)) /
                          (2 * 256);
            } else {
                const double dx = (p[1].x - p[0].x) / 16.0, dy = (p[1].y - p[0].y) / 16.0;
                pixels += lineWidth == 0 ? std::max(std::fabs(dx), std::fabs(dy))
                                         : std::hypot(dx, dy) * lineWidth;
            }
            paths.push_back(
                std::make_unique<host::EnginePath>(std::vector<host::EnginePath::Figure>{figure}));
        }
    }
};

// Pixels filled per second; argument: the band's bits per pixel.
void BM_FillRandomTriangles(benchmark::State& state) {
    RandomBitmap band(576, 2048, state.range(0) == 1 ? BMF_1BPP : BMF_8BPP);
    RandomPaths triangles(3, 0);
    auto black = host::EngineBrush::Solid(0);
    for (auto _ : state)
        for (auto& path : triangles.paths)
            benchmark::DoNotOptimize(EngFillPath(band.surface(), path->object(), nullptr,
                                                 black->object(), nullptr, 13 | 13 << 8, 0));
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * triangles.pixels));
}
BENCHMARK(BM_FillRandomTriangles)->ArgName("bits")->Arg(1)->Arg(8)->Unit(benchmark::kMillisecond);

// Pixels stroked per second; arguments: the band's bits per pixel, the
// pen's width (0: one-pixel cosmetic pen).
void BM_StrokeRandomLines(benchmark::State& state) {
    RandomBitmap band(576, 2048, state.range(0) == 1 ? BMF_1BPP : BMF_8BPP);
    const auto width = static_cast<double>(state.range(1));
    RandomPaths lines(2, width);
    auto black = host::EngineBrush::Solid(0);
    LINEATTRS line{};
    if (width > 0) {
        line.fl = LA_GEOMETRIC;
        line.elWidth.e = static_cast<float>(width);
        line.iEndCap = ENDCAP_BUTT;
    }
    for (auto _ : state)
        for (auto& path : lines.paths)
            benchmark::DoNotOptimize(EngStrokePath(band.surface(), path->object(), nullptr, nullptr,
                                                   black->object(), nullptr, &line, 13 | 13 << 8));
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * lines.pixels));
}
BENCHMARK(BM_StrokeRandomLines)
    ->ArgNames({"bits", "width"})
    ->Args({1, 0})
    ->Args({8, 0})
    ->Args({1, 4})
    ->Args({8, 4})
    ->Unit(benchmark::kMillisecond);

}  // namespace
