// The bridge's relay end to end: the pair daemon qlpr-pairs (a child
// process), the Global model's worker on its own thread, a fake printer (a
// pseudo-terminal plugged in through a device-source folder) and an
// application writing to the pair's user-side port.
//
//   BM_BulkThroughput  MB/s of a 16 MiB stream from the application to the
//                      printer (counter "MB/s"; target at least 10)
//   BM_SmallWriteLatency  a 16-byte write until the printer has it, over
//                      1,000 writes (counters "p50_ms", "p99_ms"; target p99
//                      at most 15 ms)
//   BM_IdleCpu         the service's processor share with an idle printer
//                      attached, over 3 s (counter "cpu_percent" of one core;
//                      target at most 2), and the pair daemon's beside it
//   BM_StopTime        from setting the stop event to the worker's end, while
//                      it relays for an idle printer (counters "mean_ms",
//                      "max_ms"; target at most 150)
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "bridge/service_log.h"
#include "bridge/workers.h"
#include "bridge_support.h"
#include "platform/pty_test_util.h"
#include "platform/windows.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

double Milliseconds(Clock::duration elapsed) {
    return std::chrono::duration<double, std::milli>(elapsed).count();
}

using bridgetest::ProcessCpuTime;

// User and system clock ticks a process has used so far.
long ProcessTicks(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::size_t close = text.rfind(')');
    if (close == std::string::npos) return 0;
    std::istringstream fields(text.substr(close + 2));
    std::string field;
    long utime = 0, stime = 0;
    for (int index = 3; fields >> field; ++index) {
        if (index == 14) utime = std::stol(field);
        if (index == 15) {
            stime = std::stol(field);
            break;
        }
    }
    return utime + stime;
}

// Everything the benchmarks share, made once: the folders, the pair
// daemon, the printer and the application's end of the port.
class Rig {
  public:
    static Rig& Get() {
        static Rig rig;
        return rig;
    }

    // The service as far as the relay needs it: the Global model's worker
    // on its own thread with the stop event.
    void StartBridge() {
        gServiceStopEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        worker_ = std::thread([] { ThreadGlobal(nullptr); });
    }
    Clock::duration StopBridge() {
        const auto stopAt = Clock::now();
        SetEvent(gServiceStopEvent);
        worker_.join();
        const auto elapsed = Clock::now() - stopAt;
        CloseHandle(gServiceStopEvent);
        gServiceStopEvent = nullptr;
        return elapsed;
    }

    // Writes `bytes` into the port and waits until the printer has them all.
    bool Send(const std::vector<char>& bytes) {
        std::uint64_t target;
        {
            std::lock_guard guard(lock_);
            target = received_ + bytes.size();
        }
        for (std::size_t done = 0; done < bytes.size();) {
            const ssize_t put = write(client_, bytes.data() + done, bytes.size() - done);
            if (put <= 0) return false;
            done += static_cast<std::size_t>(put);
        }
        std::unique_lock lock(lock_);
        return arrived_.wait_for(lock, 10s, [&] { return received_ >= target; });
    }

    pid_t Daemon() const { return daemon_; }
    bool Ready() const { return ready_; }

  private:
    Rig() {
        const std::string program = (fs::path(QLPR_BIN_DIR) / "qlpr-pairs").string();
        char* argv[] = {const_cast<char*>(program.c_str()), nullptr};
        if (posix_spawn(&daemon_, program.c_str(), nullptr, nullptr, argv, environ) != 0) return;
        const auto end = Clock::now() + 5s;
        while (Clock::now() < end && !fs::is_symlink(ports_.path() / "ZELA0"))
            std::this_thread::sleep_for(5ms);
        client_ = open((ports_.path() / "ZELA0").c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        fs::create_symlink(
            printer_.SlavePath(),
            sources_.path() / bridgetest::InterfaceName("vid_d1c7&pid_0a31", "BENCH"));
        reader_ = std::thread([this] { Read(); });
        ready_ = client_ >= 0;
    }
    ~Rig() {
        stop_ = true;
        if (reader_.joinable()) reader_.join();
        if (client_ >= 0) close(client_);
        if (daemon_ > 0) {
            kill(daemon_, SIGTERM);
            waitpid(daemon_, nullptr, 0);
        }
    }

    void Read() {
        std::vector<char> chunk(65536);
        while (!stop_) {
            pollfd ready{printer_.Master(), POLLIN, 0};
            if (poll(&ready, 1, 20) <= 0) continue;
            const ssize_t got = read(printer_.Master(), chunk.data(), chunk.size());
            if (got <= 0) return;
            std::lock_guard guard(lock_);
            received_ += static_cast<std::uint64_t>(got);
            arrived_.notify_all();
        }
    }

    ptytest::ScopedFolderVariable sources_{"QLPR_DEVICE_SOURCE"};
    ptytest::ScopedFolderVariable ports_{"QLPR_DEVICE_DIR"};
    ptytest::Line printer_;
    pid_t daemon_ = -1;
    int client_ = -1;
    bool ready_ = false;
    std::thread worker_;
    std::thread reader_;
    std::atomic<bool> stop_{false};
    std::mutex lock_;
    std::condition_variable arrived_;
    std::uint64_t received_ = 0;
};

// Runs the bridge for the benchmark's length once the first byte made it
// through (the worker has found the printer and opened the port).
class BridgeRun {
  public:
    explicit BridgeRun(benchmark::State& state) : rig_(Rig::Get()) {
        if (!rig_.Ready()) {
            state.SkipWithError("the pair daemon did not start");
            return;
        }
        rig_.StartBridge();
        started_ = true;
        if (!rig_.Send({'\x1b', '@'})) state.SkipWithError("the bridge relays nothing");
    }
    ~BridgeRun() {
        if (started_) rig_.StopBridge();
    }
    Rig& rig() { return rig_; }

  private:
    Rig& rig_;
    bool started_ = false;
};

void BM_BulkThroughput(benchmark::State& state) {
    BridgeRun run(state);
    std::vector<char> stream(16 << 20);
    for (std::size_t i = 0; i < stream.size(); ++i)
        stream[i] = static_cast<char>(i * 131 + i / 4093);
    double seconds = 0;
    for (auto _ : state) {
        const auto start = Clock::now();
        if (!run.rig().Send(stream)) state.SkipWithError("the stream stalled");
        seconds += std::chrono::duration<double>(Clock::now() - start).count();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * stream.size()));
    state.counters["MB/s"] =
        static_cast<double>(state.iterations() * stream.size()) / 1e6 / seconds;
}
BENCHMARK(BM_BulkThroughput)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_SmallWriteLatency(benchmark::State& state) {
    BridgeRun run(state);
    const std::vector<char> job(16, 'L');
    std::vector<double> samples;
    for (auto _ : state) {
        const auto start = Clock::now();
        if (!run.rig().Send(job)) state.SkipWithError("a write was lost");
        samples.push_back(Milliseconds(Clock::now() - start));
        // Apart by a varying pause, so that writes meet every point of a pass.
        std::this_thread::sleep_for(std::chrono::microseconds(500 + samples.size() * 7919 % 9000));
    }
    std::sort(samples.begin(), samples.end());
    const auto at = [&](double share) {
        return samples[std::min(samples.size() - 1,
                                static_cast<std::size_t>(share * samples.size()))];
    };
    state.counters["p50_ms"] = at(0.50);
    state.counters["p99_ms"] = at(0.99);
}
BENCHMARK(BM_SmallWriteLatency)->Iterations(1000)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_IdleCpu(benchmark::State& state) {
    BridgeRun run(state);
    const long ticksPerSecond = sysconf(_SC_CLK_TCK);
    for (auto _ : state) {
        const auto cpuBefore = ProcessCpuTime();
        const long daemonBefore = ProcessTicks(run.rig().Daemon());
        const auto start = Clock::now();
        std::this_thread::sleep_for(3s);
        const double wall = std::chrono::duration<double>(Clock::now() - start).count();
        const double cpu = std::chrono::duration<double>(ProcessCpuTime() - cpuBefore).count();
        const double daemon =
            static_cast<double>(ProcessTicks(run.rig().Daemon()) - daemonBefore) / ticksPerSecond;
        state.counters["cpu_percent"] = 100 * cpu / wall;
        state.counters["daemon_cpu_percent"] = 100 * daemon / wall;
    }
}
BENCHMARK(BM_IdleCpu)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_StopTime(benchmark::State& state) {
    Rig& rig = Rig::Get();
    if (!rig.Ready()) {
        state.SkipWithError("the pair daemon did not start");
        return;
    }
    double total = 0, longest = 0;
    for (auto _ : state) {
        rig.StartBridge();
        const bool relaying = rig.Send({'\x1b', '@'});
        // Stopped at a varying point of an idle pass.
        std::this_thread::sleep_for(std::chrono::microseconds(state.iterations() * 1237 % 10000));
        const double stop = Milliseconds(rig.StopBridge());
        if (!relaying) state.SkipWithError("the bridge relays nothing");
        total += stop;
        longest = std::max(longest, stop);
    }
    state.counters["mean_ms"] = total / static_cast<double>(state.iterations());
    state.counters["max_ms"] = longest;
}
BENCHMARK(BM_StopTime)->Iterations(20)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
