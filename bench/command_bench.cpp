// The command library's output buffer: a 1 MiB job written in 72-byte rows
// through WriteOut to a file by the spooler's WritePrinter, against one
// write() of the same bytes. The counter "ratio" is the buffered rate over
// the single write's rate.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <vector>

#include "command/exports.h"
#include "command/ext_pdev.h"
#include "command/spool_output.h"
#include "platform/spooler.h"

namespace {

constexpr std::size_t kJobBytes = 1 << 20;
constexpr DWORD kRow = 72;

std::filesystem::path BenchFolder() {
    static const std::filesystem::path folder = [] {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "qlpr-bench-XXXXXX").string();
        const char* made = mkdtemp(pattern.data());
        if (made == nullptr) std::abort();
        setenv("QLPR_ROOT", made, 1);
        static char folderName[4096];
        std::snprintf(folderName, sizeof folderName, "%s", made);
        std::atexit([] {
            std::error_code ignored;
            std::filesystem::remove_all(folderName, ignored);
        });
        return std::filesystem::path(made);
    }();
    return folder;
}

double SingleWriteSeconds(const std::vector<BYTE>& bytes) {
    const auto path = BenchFolder() / "single.prn";
    const auto start = std::chrono::steady_clock::now();
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) std::abort();
    close(fd);
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void BM_WriteOutRows(benchmark::State& state) {
    const auto folder = BenchFolder();
    platform::InstallPrinter(
        u"Bench", {folder / "QLPRGI.DLL", folder / "QLPR80.INI", (folder / "out.prn").string()});
    HANDLE printer = nullptr;
    if (!OpenPrinterW(u"Bench", &printer, nullptr)) std::abort();
    std::vector<BYTE> job(kJobBytes);
    for (std::size_t i = 0; i < job.size(); ++i) job[i] = static_cast<BYTE>(i * 7);
    std::vector<BYTE> buffer(kOutputCapacity);
    Devmode mode{};
    mode.pub.dmSize = sizeof(DEVMODEW);
    double single = 0;
    double buffered = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        DOC_INFO_1W info{};
        StartDocPrinterW(printer, 1, reinterpret_cast<BYTE*>(&info));
        ExtPdev* pdev = CmndEnableExtPDEV(&mode, printer, buffer.data());
        for (std::size_t at = 0; at + kRow <= job.size(); at += kRow)
            WriteOut(pdev, &job[at], kRow);
        FlushOut(pdev);
        CmndDisableExtPDEV(pdev);
        EndDocPrinter(printer);
        buffered += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        state.PauseTiming();
        single += SingleWriteSeconds(job);
        state.ResumeTiming();
    }
    ClosePrinter(printer);
    const double bytes = static_cast<double>(kJobBytes / kRow * kRow) * state.iterations();
    state.SetBytesProcessed(static_cast<int64_t>(bytes));
    state.counters["buffered_MBps"] = bytes / buffered / 1e6;
    state.counters["single_write_MBps"] = bytes / single / 1e6;
    state.counters["ratio"] = single / buffered;  // target: at least 0.5
}
BENCHMARK(BM_WriteOutRows)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
