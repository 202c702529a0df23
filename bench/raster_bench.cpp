// The driver's raster engine on a band of 576 × 2,048 dots:
// - a mono band pass of a ROP3 reading pattern, source and destination,
//   row by row through the row table, against memcpy of the same bytes in
//   the same run, both in thread processor time (counter "ratio": memcpy's
//   time over the pass's time;
//   targets: at least 1 GB/s and a ratio of at least 0.25);
// - the same pass for ten representative codes;
// - the whole transfer of a 1-bit source into the mono band;
// - copy-mode conversion of a 24-bit source into an 8-bit band (target: at
//   least 150 Mpixel/s);
// - the path renderer at 1, 8 and 24 bits: 1,000 random triangles filled
//   (Mpixel/s counts the triangles' areas) and 1,000 random one-pixel lines
//   stroked (Mpixel/s counts each line's pixels, the longer extent).
#include <benchmark/benchmark.h>
#include <time.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "driver/device_instance.h"
#include "driver/page_geometry.h"
#include "host/engine_objects.h"
#include "platform/heap.h"
#include "render/bitmap_blt.h"
#include "render/brush_fill.h"
#include "render/path_render.h"
#include "render/raster_ops.h"

namespace {

constexpr LONG kWidth = 576;
constexpr LONG kHeight = 2048;
constexpr LONG kMonoStride = kWidth / 8;

// The thread's processor time: other programs on a busy machine do not count.
double ThreadSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

std::vector<BYTE> Noise(std::size_t bytes, unsigned seed) {
    std::vector<BYTE> data(bytes);
    unsigned state = seed;
    for (BYTE& b : data) {
        state = state * 1103515245u + 12345u;
        b = static_cast<BYTE>(state >> 16);
    }
    return data;
}

BmpInfo Describe(std::vector<BYTE>& bytes, LONG width, LONG height, int depth, LONG stride) {
    return {width,
            height,
            static_cast<USHORT>(depth),
            kBmpUncompressed,
            bytes.data(),
            static_cast<ULONG>(bytes.size()),
            stride,
            0};
}

// One pass of a code over every row of the mono band, with an 8 × 8 pattern.
void MonoPass(BYTE code, std::vector<BYTE>& band, const std::vector<BYTE>& source,
              const BYTE* pattern) {
    const Rop3RowFunction row = Rop3RowTable[code];
    for (LONG y = 0; y < kHeight; ++y) {
        const std::size_t at = static_cast<std::size_t>(y) * kMonoStride;
        row(band.data() + at, source.data() + at, pattern + (y & 7), 1, kMonoStride);
    }
}

void BM_MonoBandPass(benchmark::State& state) {
    const BYTE code = static_cast<BYTE>(state.range(0));
    const std::size_t bytes = static_cast<std::size_t>(kMonoStride) * kHeight;
    std::vector<BYTE> band = Noise(bytes, 1);
    const std::vector<BYTE> source = Noise(bytes, 2);
    const std::vector<BYTE> pattern = Noise(8, 3);
    std::vector<BYTE> copy(bytes);
    double passSeconds = 0;
    double copySeconds = 0;
    for (auto _ : state) {
        const double start = ThreadSeconds();
        MonoPass(code, band, source, pattern.data());
        benchmark::DoNotOptimize(band.data());
        benchmark::ClobberMemory();
        const double middle = ThreadSeconds();
        std::memcpy(copy.data(), source.data(), bytes);
        benchmark::DoNotOptimize(copy.data());
        benchmark::ClobberMemory();
        const double end = ThreadSeconds();
        passSeconds += middle - start;
        copySeconds += end - middle;
    }
    const double total = static_cast<double>(bytes) * static_cast<double>(state.iterations());
    state.counters["pass_GBps"] = total / passSeconds / 1e9;
    state.counters["memcpy_GBps"] = total / copySeconds / 1e9;
    state.counters["ratio"] = copySeconds / passSeconds;
}
BENCHMARK(BM_MonoBandPass)
    ->ArgName("rop3")
    ->Arg(0xB8)
    ->Arg(0xE8)
    ->Arg(0x00)
    ->Arg(0xFF)
    ->Arg(0xCC)
    ->Arg(0xAA)
    ->Arg(0x66)
    ->Arg(0x88)
    ->Arg(0xF0)
    ->Arg(0x5A)
    ->Unit(benchmark::kMicrosecond);

// The whole transfer: conversion of a 1-bit source through its table into
// the mono band, then the row function.
void BM_MonoTransfer(benchmark::State& state) {
    std::vector<BYTE> bandBytes = Noise(static_cast<std::size_t>(kMonoStride) * kHeight, 4);
    std::vector<BYTE> sourceBytes = Noise(static_cast<std::size_t>(kMonoStride) * kHeight, 5);
    const BmpInfo band = Describe(bandBytes, kWidth, kHeight, 1, kMonoStride);
    const BmpInfo source = Describe(sourceBytes, kWidth, kHeight, 1, kMonoStride);
    ColourTable table;
    table.entries.reset(new ColourEntry[2]{{0, 0, 0, 0}, {255, 255, 255, 0}});
    table.count = 2;
    ScratchBrush brush;
    RealizeSolidBrush(&brush, 0, 1);
    const RECTL all{0, 0, kWidth, kHeight};
    for (auto _ : state) {
        benchmark::DoNotOptimize(GR_BitmapBlt(band, source, all, all, &table, &brush.brush, 0xB8,
                                              all, nullptr, nullptr));
    }
    state.SetBytesProcessed(static_cast<int64_t>(bandBytes.size()) * state.iterations());
    state.counters["Mpixel_per_s"] = benchmark::Counter(
        static_cast<double>(kWidth) * kHeight * static_cast<double>(state.iterations()) / 1e6,
        benchmark::Counter::kIsRate);
}
BENCHMARK(BM_MonoTransfer)->Unit(benchmark::kMillisecond);

void BM_CopyTwentyFourIntoGrey(benchmark::State& state) {
    const LONG sourceStride = kWidth * 3;
    std::vector<BYTE> sourceBytes = Noise(static_cast<std::size_t>(sourceStride) * kHeight, 6);
    std::vector<BYTE> bandBytes(static_cast<std::size_t>(kWidth) * kHeight);
    BmpInfo source = Describe(sourceBytes, kWidth, kHeight, 24, sourceStride);
    source.flags = kBmpRgbOrder;
    const BmpInfo band = Describe(bandBytes, kWidth, kHeight, 8, kWidth);
    const RECTL all{0, 0, kWidth, kHeight};
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            GR_BitmapBlt(band, source, all, all, nullptr, nullptr, 0xCC, all, nullptr, nullptr));
        benchmark::ClobberMemory();
    }
    state.counters["Mpixel_per_s"] = benchmark::Counter(
        static_cast<double>(kWidth) * kHeight * static_cast<double>(state.iterations()) / 1e6,
        benchmark::Counter::kIsRate);
}
BENCHMARK(BM_CopyTwentyFourIntoGrey)->Unit(benchmark::kMillisecond);

// A band of 576 × 2,048 dots owned by a device instance with its heap.
class PathBand {
  public:
    explicit PathBand(int depth) : bytes_(static_cast<std::size_t>(Stride(depth)) * kHeight, 0xFF) {
        instance_.signature = instance_.signatureEnd = kInstanceSignature;
        instance_.heap = HeapCreate(0, 0, 0);
        instance_.printerData.logMode = kLogNone;  // the engine, not the log file, is measured
        instance_.geometry.bitsPerPixel = static_cast<WORD>(depth);
        instance_.geometry.renderFlags = kOwnRendering;
        instance_.bandClip = {0, 0, kWidth, kHeight};
        surface_.dhpdev = reinterpret_cast<DHPDEV>(&instance_);
        surface_.sizlBitmap = {kWidth, kHeight};
        surface_.cjBits = static_cast<ULONG>(bytes_.size());
        surface_.pvBits = surface_.pvScan0 = bytes_.data();
        surface_.lDelta = Stride(depth);
        surface_.iBitmapFormat = depth == 1 ? BMF_1BPP : depth == 8 ? BMF_8BPP : BMF_24BPP;
        surface_.iType = STYPE_BITMAP;
        surface_.fjBitmap = BMF_TOPDOWN;
    }
    ~PathBand() { HeapDestroy(instance_.heap); }
    PathBand(const PathBand&) = delete;
    PathBand& operator=(const PathBand&) = delete;

    BOOL Render(const PathRequest& request) { return RenderPath(&instance_, &surface_, request); }

  private:
    static LONG Stride(int depth) { return ((kWidth * depth + 31) / 32) * 4; }
    std::vector<BYTE> bytes_;
    DeviceInstance instance_{};
    SURFOBJ surface_{};
};

// Random figures of `corners` points inside the band, and their measure.
struct RandomFigures {
    std::vector<std::unique_ptr<host::EnginePath>> paths;
    std::vector<RECTL> bounds;
    double pixels = 0;

    RandomFigures(int corners, unsigned seed) {
        unsigned state = seed;
        const auto next = [&state](LONG limit) {
            state = state * 1103515245u + 12345u;
            return static_cast<LONG>((state >> 8) % static_cast<unsigned>(limit));
        };
        for (int i = 0; i < 1000; ++i) {
            host::EnginePath::Figure figure;
            figure.closed = corners > 2;
            RECTL box{kWidth, kHeight, 0, 0};
            for (int k = 0; k < corners; ++k) {
                const POINTL p{next(kWidth), next(kHeight)};
                figure.points.push_back({p.x * 16, p.y * 16});
                box = {std::min(box.left, p.x), std::min(box.top, p.y),
                       std::max(box.right, p.x + 1), std::max(box.bottom, p.y + 1)};
            }
            const POINTFIX* p = figure.points.data();
            const double dx1 = p[1].x - p[0].x, dy1 = p[1].y - p[0].y;
            if (corners == 2) {
                pixels += std::max(std::abs(dx1), std::abs(dy1)) / 16;
            } else {
                const double dx2 = p[2].x - p[0].x, dy2 = p[2].y - p[0].y;
                pixels += std::abs(dx1 * dy2 - dx2 * dy1) / 2 / 256;
            }
            bounds.push_back(box);
            paths.push_back(std::make_unique<host::EnginePath>(
                std::vector<host::EnginePath::Figure>{std::move(figure)}));
        }
    }
};

void BM_PathFillTriangles(benchmark::State& state) {
    PathBand band(static_cast<int>(state.range(0)));
    RandomFigures triangles(3, 7);
    auto brush = host::EngineBrush::Solid(0x000000);
    PathRequest request;
    request.operation = PathOperation::Fill;
    request.fillBrush = brush->object();
    request.mix = MixOf(kRop2Copy, kRop2Copy);
    for (auto _ : state) {
        for (std::size_t i = 0; i < triangles.paths.size(); ++i) {
            request.path = triangles.paths[i]->object();
            request.bounds = triangles.bounds[i];
            benchmark::DoNotOptimize(band.Render(request));
        }
    }
    state.counters["Mpixel_per_s"] =
        benchmark::Counter(triangles.pixels * static_cast<double>(state.iterations()) / 1e6,
                           benchmark::Counter::kIsRate);
}
BENCHMARK(BM_PathFillTriangles)
    ->ArgName("depth")
    ->Arg(1)
    ->Arg(8)
    ->Arg(24)
    ->Unit(benchmark::kMillisecond);

void BM_PathStrokeLines(benchmark::State& state) {
    PathBand band(static_cast<int>(state.range(0)));
    RandomFigures lines(2, 11);
    auto brush = host::EngineBrush::Solid(0x000000);
    LINEATTRS cosmetic{};
    PathRequest request;
    request.operation = PathOperation::Stroke;
    request.strokeBrush = brush->object();
    request.line = &cosmetic;
    request.mix = MixOf(kRop2Copy, kRop2Copy);
    for (auto _ : state) {
        for (std::size_t i = 0; i < lines.paths.size(); ++i) {
            request.path = lines.paths[i]->object();
            request.bounds = lines.bounds[i];
            benchmark::DoNotOptimize(band.Render(request));
        }
    }
    state.counters["Mpixel_per_s"] = benchmark::Counter(
        lines.pixels * static_cast<double>(state.iterations()) / 1e6, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_PathStrokeLines)
    ->ArgName("depth")
    ->Arg(1)
    ->Arg(8)
    ->Arg(24)
    ->Unit(benchmark::kMillisecond);

}  // namespace
