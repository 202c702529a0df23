// The band encoder: a 576-dot, 2,048-row one-bit band through the send-band
// step and the page walk, with receipt-like content (30% blank rows,
// text-like rows, a bar block) and fully blank; and the 90° rotation of
// landscape strips. Rates are band bytes in per second; the output goes
// nowhere.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "command/ext_pdev.h"
#include "command/page_raster.h"
#include "command/rotate.h"

namespace {

constexpr LONG kWidth = 576;
constexpr LONG kRows = 2048;
constexpr LONG kStride = kWidth / 8;

BOOL Discard(ExtPdev*, const BYTE*, DWORD) { return TRUE; }

struct Job {
    std::vector<BYTE> output = std::vector<BYTE>(kOutputCapacity);
    ExtPdev* pdev = static_cast<ExtPdev*>(std::calloc(1, sizeof(ExtPdev)));

    explicit Job(WORD direction) {
        pdev->outputBuffer = pdev->outputPosition = output.data();
        pdev->outputCapacity = kOutputCapacity;
        pdev->outputFlags = kOutSpooler;
        pdev->writeHook = Discard;
        pdev->devmode.pub.dmSize = sizeof(DEVMODEW);
        pdev->devmode.pub.dmDriverExtra = kPrivateDevmodeSize;
        pdev->geometry.bandDirection = direction;
        pdev->geometry.horzRes = kWidth;
        pdev->geometry.vertRes = 100000;
        pdev->pageLength = 100000;
    }
    ~Job() {
        FreePageRaster(pdev);
        std::free(pdev);
    }
};

std::vector<BYTE> ReceiptBand() {
    std::vector<BYTE> bits(static_cast<std::size_t>(kStride) * kRows, 0xFF);
    std::mt19937 random(3);
    for (LONG y = 0; y < kRows; ++y) {
        BYTE* row = bits.data() + static_cast<std::size_t>(y) * kStride;
        const LONG phase = y % 40;
        if (phase >= 28) continue;  // 30% blank: the space between text lines
        if (y >= 1200 && y < 1400) {
            for (LONG k = 4; k < 68; ++k) row[k] = (k / 2) % 2 ? 0x00 : 0xFF;  // bars
            continue;
        }
        for (LONG k = 2; k < 50; ++k)  // glyph-like strokes on the left part
            row[k] = static_cast<BYTE>(random() | random());
    }
    return bits;
}

void RunBand(benchmark::State& state, const std::vector<BYTE>& bits, WORD direction, LONG width,
             LONG rows) {
    Job job(direction);
    job.pdev->pageSize = {width, rows};
    BandDesc band{};
    band.bits = bits.data();
    band.stride = (width + 7) / 8;
    band.width = width;
    band.height = rows;
    band.band = {0, 0, width, rows};
    band.content = band.band;
    band.bitsPerPixel = 1;
    for (auto _ : state) {
        if (!EmitBand(job.pdev, &band)) state.SkipWithError("band refused");
        EmitPage(job.pdev);
        job.pdev->outputPosition = job.pdev->outputBuffer;
        job.pdev->outputFill = 0;
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * bits.size());
}

void BM_EmitBandReceipt(benchmark::State& state) {
    static const std::vector<BYTE> bits = ReceiptBand();
    RunBand(state, bits, 1, kWidth, kRows);
}
BENCHMARK(BM_EmitBandReceipt);

void BM_EmitBandBlank(benchmark::State& state) {
    static const std::vector<BYTE> bits(static_cast<std::size_t>(kStride) * kRows, 0xFF);
    RunBand(state, bits, 1, kWidth, kRows);
}
BENCHMARK(BM_EmitBandBlank);

// A landscape strip 2,048 dots wide and 576 rows high, rotated into 576-dot
// printer rows.
void BM_EmitBandRotated90(benchmark::State& state) {
    static const std::vector<BYTE> bits = ReceiptBand();
    RunBand(state, bits, 3, kRows, kWidth);
}
BENCHMARK(BM_EmitBandRotated90);

}  // namespace

namespace {

// The rotation alone: a 2,048 x 576 strip into 576-dot rows.
void BM_RotateOneBit90(benchmark::State& state) {
    static const std::vector<BYTE> bits = ReceiptBand();
    const LONG width = kRows, rows = kWidth, columns = width / 8;
    std::vector<BYTE> out(static_cast<std::size_t>(columns) * 8 * (rows / 8));
    for (auto _ : state) {
        RotateOneBit(bits.data(), columns, rows, columns - 1, columns, 90, out.data(), rows / 8);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * bits.size());
}
BENCHMARK(BM_RotateOneBit90);

}  // namespace
