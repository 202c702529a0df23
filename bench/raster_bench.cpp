// The driver's raster engine on a band of 576 × 2,048 dots:
// - a mono band pass of a ROP3 reading pattern, source and destination,
//   row by row through the row table, against memcpy of the same bytes in
//   the same run, both in thread processor time (counter "ratio": memcpy's
//   time over the pass's time;
//   targets: at least 1 GB/s and a ratio of at least 0.25);
// - the same pass for ten representative codes;
// - the whole transfer of a 1-bit source into the mono band;
// - copy-mode conversion of a 24-bit source into an 8-bit band (target: at
//   least 150 Mpixel/s).
#include <benchmark/benchmark.h>
#include <time.h>

#include <cstring>
#include <vector>

#include "render/bitmap_blt.h"
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

}  // namespace
