// The bridge under load, end to end: the pair daemon qlpr-pairs and the
// bridge service Tamsel as child processes, fake printers plugged in through a
// device-source folder, and an application that writes a long random stream
// into the pair's user-side port. The stream's size in MiB is QLPR_SOAK_MIB
// (default 100). The suite is named Soak, and its runs carry the test label
// "soak".
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "bridge_support.h"
#include "notifying_service.h"
#include "platform/pty_test_util.h"
#include "platform/windows.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr const char* kUserPort = "ZELA0";  // the Global pair's user-side end
constexpr std::size_t kIoChunk = 65536;
// A test fails when nothing moves for this long.
constexpr auto kStallLimit = 20s;

std::uint64_t SoakBytes() {
    const char* setting = std::getenv("QLPR_SOAK_MIB");
    const long mib = setting != nullptr ? std::strtol(setting, nullptr, 10) : 0;
    return std::uint64_t(mib > 0 ? mib : 100) << 20;
}

// Writes all of `bytes` to the non-blocking `fd`; false when the
// descriptor fails or `stop` is set first, so that no test waits for ever
// on a line that nobody reads any more.
bool WriteAll(int fd, const char* bytes, std::size_t count, const std::atomic<bool>& stop) {
    for (std::size_t done = 0; done < count;) {
        pollfd ready{fd, POLLOUT, 0};
        if (stop) return false;
        if (poll(&ready, 1, 5) <= 0) continue;
        const ssize_t put = write(fd, bytes + done, count - done);
        if (put < 0 && errno == EAGAIN) continue;
        if (put <= 0) return false;
        done += static_cast<std::size_t>(put);
    }
    return true;
}

// Reads what is there from the non-blocking `fd` into `chunk`, waiting up
// to 5 ms: the count, 0 for nothing, -1 when the descriptor failed.
ssize_t ReadSome(int fd, std::vector<char>& chunk) {
    pollfd ready{fd, POLLIN, 0};
    if (poll(&ready, 1, 5) <= 0) return 0;
    const ssize_t got = read(fd, chunk.data(), chunk.size());
    if (got < 0 && errno == EAGAIN) return 0;
    return got > 0 ? got : -1;
}

double Seconds(Clock::duration elapsed) {
    return std::chrono::duration<double>(elapsed).count();
}

// A random stream readable from any offset: byte i is byte i % 8 of the
// splitmix64 value of seed + i / 8.
class Stream {
  public:
    explicit Stream(std::uint64_t seed) : seed_(seed) {}

    void Fill(std::uint64_t offset, char* out, std::size_t count) const {
        std::uint64_t word = 0, wordIndex = ~std::uint64_t{0};
        for (std::size_t k = 0; k < count; ++k) {
            const std::uint64_t at = offset + k;
            if (at / 8 != wordIndex) wordIndex = at / 8, word = Mix(seed_ + wordIndex);
            out[k] = static_cast<char>(word >> (at % 8 * 8));
        }
    }
    bool Matches(std::uint64_t offset, const char* data, std::size_t count) const {
        std::vector<char> expected(count);
        Fill(offset, expected.data(), count);
        return std::memcmp(expected.data(), data, count) == 0;
    }

  private:
    static std::uint64_t Mix(std::uint64_t x) {
        x += 0x9E3779B97F4A7C15u;
        x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9u;
        x = (x ^ (x >> 27)) * 0x94D049BB133111EBu;
        return x ^ (x >> 31);
    }
    std::uint64_t seed_;
};

// What the printers received, checked against the application's stream as
// it arrives. One printer's bytes continue the stream without a gap. Where
// a new printer takes over, its first bytes must lie at or after the point
// where the unplugged one stopped: the bytes between are lost, and nothing
// arrives twice. `search` bounds how far after that point they are looked
// for.
class Reception {
  public:
    Reception(const Stream& stream, std::uint64_t size, std::uint64_t search)
        : stream_(stream), size_(size), search_(search) {}

    // Called by the one printer that is plugged in.
    void Take(const char* data, std::size_t count) {
        if (!fault_.empty()) return;
        if (locating_) {
            probe_.append(data, count);
            if (probe_.size() >= kProbe) Locate();
            return;
        }
        Continue(data, count);
    }
    // Before the next printer takes over.
    void NewPrinter() {
        if (locating_ && !probe_.empty()) Locate();
        locating_ = true;
    }

    std::uint64_t Next() const { return next_.load(); }
    // Bytes lost where each printer took over (the first is 0).
    const std::vector<std::uint64_t>& Gaps() const { return gaps_; }
    const std::string& Fault() const { return fault_; }

  private:
    static constexpr std::size_t kProbe = 64;

    void Locate() {
        const std::string probe = std::move(probe_);
        probe_.clear();
        locating_ = false;
        const std::uint64_t from = next_.load();
        for (std::uint64_t gap = 0; gap <= search_ && from + gap + probe.size() <= size_; ++gap) {
            if (!stream_.Matches(from + gap, probe.data(), probe.size())) continue;
            gaps_.push_back(gap);
            next_ = from + gap;
            Continue(probe.data(), probe.size());
            return;
        }
        fault_ = "a printer's first bytes are not within " + std::to_string(search_) +
                 " bytes after offset " + std::to_string(from) + " (repeated, reordered or lost)";
    }
    void Continue(const char* data, std::size_t count) {
        const std::uint64_t at = next_.load();
        if (at + count > size_ || !stream_.Matches(at, data, count)) {
            fault_ = "the bytes at offset " + std::to_string(at) + " are not the stream's";
            return;
        }
        next_ = at + count;
    }

    const Stream& stream_;
    const std::uint64_t size_;
    const std::uint64_t search_;
    std::atomic<std::uint64_t> next_{0};
    bool locating_ = true;
    std::string probe_;
    std::vector<std::uint64_t> gaps_;
    std::string fault_;
};

// The printers' answers: piece k is bytes [k * kPiece, (k + 1) * kPiece) of
// the reply stream, sent after the printer received (k + 1) * `every` bytes.
struct Replies {
    static constexpr std::size_t kPiece = 1024;
    Stream stream{2};
    std::uint64_t every = 0;  // 0: no replies
    std::uint64_t pieces = 0;
};

// A fake printer: a pseudo-terminal line in raw mode plugged in through the
// device-source folder; a thread reads all it gets into the reception and
// sends the replies that are due.
class Printer {
  public:
    Printer(const fs::path& sources, const std::string& serial, Reception& reception,
            const Replies& replies)
        : link_(sources / bridgetest::InterfaceName("vid_d1c7&pid_0a31", serial)),
          reception_(reception),
          replies_(replies) {
        fcntl(line_.Master(), F_SETFL, fcntl(line_.Master(), F_GETFL) | O_NONBLOCK);
        fs::create_symlink(line_.SlavePath(), link_);
        reader_ = std::thread([this] { Read(); });
    }
    ~Printer() { Halt(); }

    // The interface disappears; the line stays up.
    void Unplug() { fs::remove(link_); }
    // Reads on until nothing came for a while, then stops reading.
    void Drain() {
        draining_ = true;
        if (reader_.joinable()) reader_.join();
    }
    // Stops reading at once.
    void Halt() {
        halted_ = true;
        if (reader_.joinable()) reader_.join();
    }
    void HangUp() { line_.HangUp(); }

  private:
    void Read() {
        std::vector<char> chunk(kIoChunk);
        auto lastByte = Clock::now();
        while (!halted_) {
            const ssize_t got = ReadSome(line_.Master(), chunk);
            if (got < 0) return;
            if (got > 0) {
                reception_.Take(chunk.data(), static_cast<std::size_t>(got));
                received_ += static_cast<std::uint64_t>(got);
                lastByte = Clock::now();
                SendDueReplies();
            } else if (draining_ && Clock::now() - lastByte > 100ms) {
                return;
            }
        }
    }
    void SendDueReplies() {
        while (replies_.every != 0 && sent_ < replies_.pieces &&
               received_ >= (sent_ + 1) * replies_.every) {
            char piece[Replies::kPiece];
            replies_.stream.Fill(sent_ * Replies::kPiece, piece, sizeof piece);
            if (!WriteAll(line_.Master(), piece, sizeof piece, halted_)) return;
            ++sent_;
        }
    }

    ptytest::Line line_;
    fs::path link_;
    Reception& reception_;
    const Replies& replies_;
    std::uint64_t received_ = 0;
    std::uint64_t sent_ = 0;
    std::atomic<bool> draining_{false};
    std::atomic<bool> halted_{false};
    std::thread reader_;
};

// The application: writes the stream into the user-side port and checks the
// replies that come back through it.
class Client {
  public:
    Client(const fs::path& port, const Stream& stream, std::uint64_t size, const Replies& replies)
        : stream_(stream), size_(size), replies_(replies) {
        fd_ = open(port.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd_ < 0) return;
        writer_ = std::thread([this] { Write(); });
        reader_ = std::thread([this] { Read(); });
    }
    ~Client() { Join(); }
    bool Opened() const { return fd_ >= 0; }
    std::uint64_t RepliesReceived() const { return repliesReceived_.load(); }
    bool RepliesIntact() const { return repliesIntact_.load(); }
    void Join() {
        stop_ = true;
        if (writer_.joinable()) writer_.join();
        if (reader_.joinable()) reader_.join();
        if (fd_ >= 0) close(fd_), fd_ = -1;
    }

  private:
    void Write() {
        std::vector<char> chunk(kIoChunk);
        for (std::uint64_t at = 0; at < size_ && !stop_;) {
            const std::size_t count =
                static_cast<std::size_t>(std::min<std::uint64_t>(chunk.size(), size_ - at));
            stream_.Fill(at, chunk.data(), count);
            if (!WriteAll(fd_, chunk.data(), count, stop_)) return;
            at += count;
        }
    }
    void Read() {
        std::vector<char> chunk(kIoChunk);
        while (!stop_) {
            const ssize_t got = ReadSome(fd_, chunk);
            if (got < 0) return;
            if (got == 0) continue;
            const std::uint64_t at = repliesReceived_.load();
            const std::size_t count = static_cast<std::size_t>(got);
            if (at + count > replies_.pieces * Replies::kPiece ||
                !replies_.stream.Matches(at, chunk.data(), count))
                repliesIntact_ = false;
            repliesReceived_ = at + count;
        }
    }

    const Stream& stream_;
    const std::uint64_t size_;
    const Replies& replies_;
    int fd_ = -1;
    std::atomic<bool> stop_{false};
    std::atomic<std::uint64_t> repliesReceived_{0};
    std::atomic<bool> repliesIntact_{true};
    std::thread writer_;
    std::thread reader_;
};

class Soak : public ::testing::Test {
  protected:
    void SetUp() override {
        daemon_ = std::make_unique<testsupport::NotifyingService>(
            testsupport::BinDir() / "qlpr-pairs", std::vector<std::string>{});
        ASSERT_TRUE(daemon_->AwaitReady()) << "the pair daemon did not start";
    }
    void TearDown() override {
        if (service_) StopBridge();
        daemon_.reset();
    }

    // The bridge service itself: the Tamsel program run as systemd runs it
    // (the test holds its notification socket and stops it with SIGTERM),
    // logging to a file in which the test counts the Global worker's ends.
    void StartBridge() {
        setenv("QLPR_SERVICE_LOG", (logs_.path() / "service.log").c_str(), 1);
        service_ = std::make_unique<testsupport::NotifyingService>(testsupport::BinDir() / "Tamsel",
                                                                   std::vector<std::string>{});
        unsetenv("QLPR_SERVICE_LOG");
        ASSERT_TRUE(service_->AwaitReady()) << "the service did not start";
    }
    // The time from the stop request to the service's end.
    Clock::duration StopBridge() {
        const auto stopAt = Clock::now();
        service_->Stop();
        service_.reset();
        return Clock::now() - stopAt;
    }
    // Global worker runs that ended while the service ran.
    int WorkerEnds() {
        std::ifstream log(logs_.path() / "service.log");
        log.seekg(static_cast<std::streamoff>(logRead_));
        std::string line;
        while (std::getline(log, line)) {
            if (log.eof()) break;  // a line still being written
            logRead_ += line.size() + 1;
            if (line.rfind("Global thread ends ", 0) == 0) ++workerEnds_;
        }
        return workerEnds_;
    }

    // Waits until `done`, failing when `progress` stays the same for too long.
    static bool WaitFor(const std::function<bool()>& done,
                        const std::function<std::uint64_t()>& progress) {
        std::uint64_t last = progress();
        auto lastMove = Clock::now();
        while (!done()) {
            std::this_thread::sleep_for(2ms);
            if (const std::uint64_t now = progress(); now != last) {
                last = now, lastMove = Clock::now();
            } else if (Clock::now() - lastMove > kStallLimit) {
                return false;
            }
        }
        return true;
    }

    ptytest::ScopedFolderVariable sources_{"QLPR_DEVICE_SOURCE"};
    ptytest::ScopedFolderVariable ports_{"QLPR_DEVICE_DIR"};
    ptytest::ScopedFolderVariable logs_{"QLPR_TEST_LOG_DIR"};
    std::unique_ptr<testsupport::NotifyingService> daemon_;
    std::unique_ptr<testsupport::NotifyingService> service_;
    std::uint64_t logRead_ = 0;
    int workerEnds_ = 0;
};

TEST_F(Soak, TheStreamAndThePrintersRepliesArriveWhole) {
    const std::uint64_t size = SoakBytes();
    const Stream stream(1);
    Replies replies;
    replies.every = 100 * 1024;  // 1 MiB of replies for 100 MiB of print data
    replies.pieces = size / replies.every;
    const std::uint64_t replyBytes = replies.pieces * Replies::kPiece;
    Reception reception(stream, size, 0);

    StartBridge();
    const auto start = Clock::now();
    Printer printer(sources_.path(), "SOAK0", reception, replies);
    Client client(ports_.path() / kUserPort, stream, size, replies);
    ASSERT_TRUE(client.Opened());
    const bool finished =
        WaitFor([&] { return reception.Next() == size && client.RepliesReceived() == replyBytes; },
                [&] { return reception.Next() + client.RepliesReceived(); });
    const auto elapsed = Clock::now() - start;

    EXPECT_TRUE(finished) << "stalled at " << reception.Next() << " of " << size << " bytes, "
                          << client.RepliesReceived() << " of " << replyBytes << " reply bytes";
    EXPECT_EQ(reception.Fault(), "");
    EXPECT_EQ(reception.Next(), size);
    EXPECT_EQ(client.RepliesReceived(), replyBytes);
    EXPECT_TRUE(client.RepliesIntact());
    EXPECT_EQ(WorkerEnds(), 0) << "a relay run gave up";
    std::printf("soak: %llu MiB in %.2f s (%.1f MB/s), %llu reply bytes; stop took %.1f ms\n",
                static_cast<unsigned long long>(size >> 20), Seconds(elapsed),
                size / 1e6 / Seconds(elapsed), static_cast<unsigned long long>(replyBytes),
                Seconds(StopBridge()) * 1e3);
}

TEST_F(Soak, TenUnplugsLoseAtMostOneChunkEachAndRepeatNothing) {
    constexpr int kUnplugs = 10;
    constexpr std::uint64_t kMaxLossPerUnplug = 1024;
    const std::uint64_t size = SoakBytes();
    const Stream stream(3);
    const Replies noReplies;
    // What a printer that dies at once had not read yet dies with it: the
    // search for its successor's first bytes reaches that far.
    Reception reception(stream, size, 4u << 20);

    StartBridge();
    auto printer = std::make_unique<Printer>(sources_.path(), "SOAK0", reception, noReplies);
    Client client(ports_.path() / kUserPort, stream, size, noReplies);
    ASSERT_TRUE(client.Opened());
    const auto progress = [&] { return reception.Next(); };

    // Even cycles: the printer is pulled while printing. Its interface goes
    // first, and it reads on until the relay has let go of it, so whatever
    // the stream misses there was lost by the bridge. Odd cycles: the
    // printer dies at once, and the bytes still in its line die with it.
    std::vector<bool> pulled;
    for (int cycle = 0; cycle < kUnplugs; ++cycle) {
        const std::uint64_t at = size / (kUnplugs + 1) * (cycle + 1);
        ASSERT_TRUE(WaitFor([&] { return reception.Next() >= at; }, progress))
            << "cycle " << cycle << ": stalled at " << reception.Next();
        const int endsBefore = WorkerEnds();
        const bool pull = cycle % 2 == 0;
        if (pull) {
            printer->Unplug();
        } else {
            printer->Halt();
            printer->HangUp();
            printer->Unplug();
        }
        const auto end = Clock::now() + 5s;
        while (WorkerEnds() == endsBefore && Clock::now() < end) std::this_thread::sleep_for(1ms);
        ASSERT_GT(WorkerEnds(), endsBefore) << "cycle " << cycle << ": the relay missed the unplug";
        if (pull) printer->Drain(), printer->HangUp();
        printer.reset();
        pulled.push_back(pull);
        reception.NewPrinter();
        printer = std::make_unique<Printer>(sources_.path(), "SOAK" + std::to_string(cycle + 1),
                                            reception, noReplies);
    }
    EXPECT_TRUE(WaitFor([&] { return reception.Next() == size; }, progress))
        << "stalled at " << reception.Next() << " of " << size;
    printer->Drain();

    EXPECT_EQ(reception.Fault(), "");
    EXPECT_EQ(reception.Next(), size) << "the last printer got the stream to its end";
    const std::vector<std::uint64_t>& gaps = reception.Gaps();
    ASSERT_EQ(gaps.size(), std::size_t{kUnplugs + 1}) << "every printer received part of it";
    EXPECT_EQ(gaps[0], 0u);
    std::string report;
    for (int cycle = 0; cycle < kUnplugs; ++cycle) {
        const std::uint64_t lost = gaps[cycle + 1];
        if (pulled[cycle]) {
            EXPECT_LE(lost, kMaxLossPerUnplug) << "cycle " << cycle;
        }
        report += (pulled[cycle] ? " pulled:" : " died:") + std::to_string(lost);
    }
    // The service kept serving: each replugged printer was served by a new
    // worker run (the checks above: every printer received its part).
    EXPECT_GE(WorkerEnds(), kUnplugs);
    std::printf("soak with unplugs: bytes lost per unplug%s; %d worker runs ended\n",
                report.c_str(), WorkerEnds());
}

}  // namespace
