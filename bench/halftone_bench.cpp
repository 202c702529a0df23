// Band halftoning: a band of 576 x 2048 pixels of noise, 24 or 8 bits per
// pixel, into one plane by each method, at rotation 0 and 90. items_per_second
// counts pixels. Targets (Release, 24 bits, one plane): error diffusion at
// least 100 Mpixel/s, the ordered methods at least 300 Mpixel/s.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <memory>
#include <random>
#include <vector>

#include "command/ext_pdev.h"
#include "command/halftone.h"

namespace {

constexpr LONG kWidth = 576;
constexpr LONG kHeight = 2048;

std::vector<BYTE> Noise(std::size_t bytes) {
    std::vector<BYTE> pixels(bytes);
    std::mt19937 random(1);
    for (BYTE& b : pixels) b = static_cast<BYTE>(random());
    return pixels;
}

// Arguments: method, bits per pixel, rotation, planes.
void BM_HalftoneBand(benchmark::State& state) {
    const auto method = static_cast<DWORD>(state.range(0));
    const auto bits = static_cast<DWORD>(state.range(1));
    const auto angle = static_cast<int>(state.range(2));
    const bool twoPlanes = state.range(3) == 2;
    const LONG stride = kWidth * static_cast<LONG>(bits / 8);
    const std::vector<BYTE> pixels = Noise(std::size_t(stride) * kHeight);
    const HalftoneSource source{pixels.data(), stride, kWidth, kHeight, bits};
    const SIZEL size = HalftoneOutputSize(source, angle);
    const LONG outStride = (size.cx + 7) / 8;
    std::vector<BYTE> plane1(std::size_t(outStride) * size.cy);
    std::vector<BYTE> plane2(plane1.size());
    auto pdev = std::make_unique<ExtPdev>();
    pdev->devmode.pub.dmDitherType = method;
    for (auto _ : state) {
        if (!HalftoneBand(pdev.get(), source, angle, plane1.data(),
                          twoPlanes ? plane2.data() : nullptr, outStride))
            std::abort();
        benchmark::DoNotOptimize(plane1.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * std::int64_t{kWidth} * kHeight);
}
BENCHMARK(BM_HalftoneBand)
    ->ArgNames({"method", "bits", "angle", "planes"})
    ->ArgsProduct({{kDitherErrorDiffusion, kDitherOrdered4, kDitherOrdered8, kDitherThreshold},
                   {24, 8},
                   {0, 90},
                   {1}})
    ->Args({kDitherErrorDiffusion, 24, 0, 2})
    ->Args({kDitherOrdered8, 24, 0, 2})
    ->Unit(benchmark::kMillisecond);

}  // namespace
