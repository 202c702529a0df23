// The bridge workers and the COM-to-USB relay on real pseudo-terminals: one
// line as the service-side COM port (the application's end is the test),
// one per fake printer, listed through a device-source folder.
#include "bridge/relay.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "bridge/service_log.h"
#include "bridge/workers.h"
#include "bridge_support.h"
#include "platform/pty_test_util.h"
#include "platform/windows.h"

namespace {

using namespace std::chrono_literals;

const BridgeModel& kGlobal = kBridgeModels[1];

using bridgetest::InterfaceName;
using bridgetest::ProcessCpuTime;

// Bytes waiting at the fake printer's end of its line.
int Queued(const ptytest::Line& line) {
    int count = 0;
    ioctl(line.Master(), FIONREAD, &count);
    return count;
}

// Runs `action` when the scope ends, however it ends.
class ScopeExit {
  public:
    explicit ScopeExit(std::function<void()> action) : action_(std::move(action)) {}
    ~ScopeExit() { action_(); }
    ScopeExit(const ScopeExit&) = delete;
    ScopeExit& operator=(const ScopeExit&) = delete;

  private:
    std::function<void()> action_;
};

// The service log as a named pipe. Every log line opens the pipe anew, and
// that open waits until the test opens its end: between two sessions the
// relay is held at its next log line.
class LogGate {
  public:
    explicit LogGate(const std::filesystem::path& path) : path_(path) {
        made_ = mkfifo(path_.c_str(), 0600) == 0;
        // A line the relay writes as the test closes its end is lost, not
        // fatal.
        signal(SIGPIPE, SIG_IGN);
    }
    // Opens the test's end, lets the relay write until it has closed its
    // own end, and returns what it wrote (empty when it wrote nothing
    // within `limit`).
    std::string Session(std::chrono::milliseconds limit = std::chrono::seconds(2)) const {
        const int fd = open(path_.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        const auto end = std::chrono::steady_clock::now() + limit;
        std::string text;
        while (std::chrono::steady_clock::now() < end) {
            pollfd ready{fd, POLLIN, 0};
            poll(&ready, 1, 1);
            char chunk[4096];
            const ssize_t got = read(fd, chunk, sizeof chunk);
            if (got > 0) text.append(chunk, static_cast<std::size_t>(got));
            // No writer left after some text: the relay closed its end.
            if (got == 0 && !text.empty()) break;
        }
        close(fd);
        return text;
    }

    bool Made() const { return made_; }

  private:
    std::filesystem::path path_;
    bool made_ = false;
};

// The log from the first text on, when the texts occur in this order and
// none of `absent` comes between them; else empty.
std::string InOrder(const std::string& log, const std::vector<std::string>& texts,
                    const std::string& absent) {
    std::size_t at = 0, first = std::string::npos;
    for (const std::string& text : texts) {
        const std::size_t found = log.find(text, at);
        if (found == std::string::npos) return "";
        if (first == std::string::npos) first = found;
        at = found + text.size();
    }
    const std::string span = log.substr(first, at - first);
    return span.find(absent) == std::string::npos ? span : "";
}

class BridgeTest : public ::testing::Test {
  protected:
    void SetUp() override {
        setenv("QLPR_SERVICE_LOG", (logFolder_.path() / "service.log").c_str(), 1);
        gServiceStopEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        ASSERT_NE(gServiceStopEvent, nullptr);
    }
    void TearDown() override {
        unsetenv("QLPR_SERVICE_LOG");
        CloseHandle(gServiceStopEvent);
        gServiceStopEvent = nullptr;
    }

    // A fake printer plugged in under the interface name; returns its path.
    std::string Plug(ptytest::Line& printer, const std::string& name) {
        std::filesystem::create_symlink(printer.SlavePath(), sources_.path() / name);
        return "\\\\?\\" + name;
    }
    void Unplug(const std::string& name) { std::filesystem::remove(sources_.path() / name); }
    void ProvidePort(const char* name) {
        std::filesystem::create_symlink(com_.SlavePath(), ports_.path() / name);
    }

    std::string Log() const {
        std::ifstream in(logFolder_.path() / "service.log");
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    // Runs the model's worker on its own thread.
    std::future<int> StartWorker(const BridgeModel& model) {
        return std::async(std::launch::async, [&model] {
            return fnReadCOMPortWriteToUSB(model.name, model.port, model.usbIdentifier);
        });
    }

    // The service-side port opened and set up as the worker does, with the
    // worker's two events, for running relays directly.
    struct RelayEnds {
        HANDLE port = INVALID_HANDLE_VALUE;
        HANDLE comEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        HANDLE usbEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        explicit RelayEnds(const char* portPath) : port(OpenOverlappedDevice(portPath)) {
            const COMMTIMEOUTS timeouts = {MAXDWORD, MAXDWORD, 10, 0, 60000};
            SetCommTimeouts(port, &timeouts);
        }
        ~RelayEnds() {
            CloseHandle(usbEvent);
            CloseHandle(comEvent);
            CloseHandle(port);
        }
        std::future<int> Run(const std::string& devicePath) {
            return std::async(std::launch::async, [this, devicePath] {
                return fnReadCOMPortWriteToUSBSubRoutine(devicePath.c_str(), port, comEvent,
                                                         usbEvent);
            });
        }
    };

    ptytest::ScopedFolderVariable sources_{"QLPR_DEVICE_SOURCE"};
    ptytest::ScopedFolderVariable ports_{"QLPR_DEVICE_DIR"};
    ptytest::ScopedFolderVariable logFolder_{"QLPR_TEST_LOG_FOLDER"};
    ptytest::Line com_;
};

TEST_F(BridgeTest, ScansMatchCaseSensitivelyAndTakeTheFirstInOrder) {
    ptytest::Line upper, first, second, other;
    Plug(upper, InterfaceName("VID_D1C7&PID_0A31", "A0"));
    const std::string firstPath = Plug(first, InterfaceName("vid_d1c7&pid_0a31", "B1"));
    const std::string secondPath = Plug(second, InterfaceName("vid_d1c7&pid_0a31", "B2"));
    Plug(other, InterfaceName("vid_d1c7&pid_0a33", "C1"));

    struct Case {
        const char* identifier;
        int found;
        std::string path;
    };
    const Case cases[] = {
        {"vid_d1c7&pid_0a31", 1, firstPath},  // two Global printers: the first served
        {"vid_d1c7&pid_0a33", 1, "\\\\?\\" + InterfaceName("vid_d1c7&pid_0a33", "C1")},
        {"vid_d1c7&pid_0a32", 0, ""},
        {"VID_D1C7&PID_0A31", 1, "\\\\?\\" + InterfaceName("VID_D1C7&PID_0A31", "A0")},
    };
    for (const Case& c : cases) {
        char path[kDevicePathBuffer] = {};
        EXPECT_EQ(USBScan(path, sizeof path, c.identifier), c.found) << c.identifier;
        EXPECT_EQ(std::string(path), c.path) << c.identifier;
    }
    // Only the upper-case printer present: the lower-case identifier misses it.
    Unplug(InterfaceName("vid_d1c7&pid_0a31", "B1"));
    Unplug(InterfaceName("vid_d1c7&pid_0a31", "B2"));
    char path[kDevicePathBuffer] = {};
    EXPECT_EQ(USBScan(path, sizeof path, kGlobal.usbIdentifier), 0);
    // A buffer too small for the path finds nothing rather than a cut path.
    Plug(first, InterfaceName("vid_d1c7&pid_0a31", "B1"));
    EXPECT_EQ(USBScan(path, 20, kGlobal.usbIdentifier), 0);

    // The longest path the service's buffer holds (259 characters) is found whole.
    ptytest::Line longest;
    const std::string longPath =
        Plug(longest, InterfaceName(kGlobal.usbIdentifier, std::string(194, 'S')));
    ASSERT_EQ(longPath.size(), kDevicePathBuffer - 1);
    Unplug(InterfaceName(kGlobal.usbIdentifier, "B1"));
    EXPECT_EQ(USBScan(path, sizeof path, kGlobal.usbIdentifier), 1);
    EXPECT_EQ(std::string(path), longPath);
    Plug(first, InterfaceName(kGlobal.usbIdentifier, "B1"));

    EXPECT_EQ(USBScan2(firstPath.c_str()), 1);
    EXPECT_EQ(USBScan2(secondPath.c_str()), 0) << "unplugged";
    std::string upperCased = firstPath;
    upperCased[upperCased.size() - 3] = 'C';  // ...a8C2}
    EXPECT_EQ(USBScan2(upperCased.c_str()), 0);
}

TEST_F(BridgeTest, RelaysAJobInChunksAndForwardsRepliesUntilUnplugged) {
    ptytest::Line printer;
    const std::string name = InterfaceName(kGlobal.usbIdentifier, "P1");
    Plug(printer, name);
    ProvidePort(kGlobal.port);
    auto worker = StartWorker(kGlobal);

    std::string job(3000, '\0');
    for (std::size_t i = 0; i < job.size(); ++i) job[i] = static_cast<char>(i * 7 + i / 256);
    com_.Send(job);
    EXPECT_EQ(printer.Receive(job.size()), job);

    // A status reply reaches the application's end of the port.
    printer.Send("\x10\x04\x01");
    EXPECT_EQ(com_.Receive(3), "\x10\x04\x01");

    // Unplugging ends the relay run: the worker gives up.
    Unplug(name);
    ASSERT_EQ(worker.wait_for(5s), std::future_status::ready);
    EXPECT_EQ(worker.get(), 1);

    const std::string log = Log();
    EXPECT_NE(
        log.find("fnReadCOMPortWriteToUSB : Find Device and com port COMGLOBAL \\\\?\\" + name),
        std::string::npos);
    EXPECT_NE(log.find("fnReadCOMPortWriteToUSB Com Ready\r\n"), std::string::npos);
    EXPECT_NE(log.find("IoRead_after USBScan2 NG\r\n"), std::string::npos);
    EXPECT_NE(log.find("fnReadCOMPortWriteToUSBSubRoutine CancelIo\r\n"
                       "fnReadCOMPortWriteToUSBSubRoutine USB Close\r\n"
                       "fnReadCOMPortWriteToUSB ComPort Close \r\n"
                       "fnReadCOMPortWriteToUSB : Thread Break"),
              std::string::npos);
    // Every COM read took at most 1024 bytes, and each was written to USB
    // whole before the next read; together they carried the whole job.
    std::size_t fromCom = 0, toUsb = 0, pending = 0;
    const std::string readTag = "IoRead(COM) : success=1  dwActualBytesReadFromCOM ";
    const std::string writeTag = "IoWrite(USB) : success2=1  dwActualBytesWrittenToUSB ";
    for (std::size_t at = 0;; ++at) {
        const std::size_t read = log.find(readTag, at), write = log.find(writeTag, at);
        if (read == std::string::npos && write == std::string::npos) break;
        if (read < write) {
            at = read;
            const std::size_t count = std::stoul(log.substr(read + readTag.size()));
            EXPECT_LE(count, 1024u);
            EXPECT_EQ(pending, 0u) << "a COM read before the previous chunk went to USB";
            fromCom += count;
            pending = count;
        } else {
            at = write;
            EXPECT_EQ(std::stoul(log.substr(write + writeTag.size())), pending);
            toUsb += pending;
            pending = 0;
        }
    }
    EXPECT_EQ(fromCom, job.size());
    EXPECT_EQ(toUsb, job.size());
}

TEST_F(BridgeTest, StopRequestsEndTheWorkerWhereTheyAreSeen) {
    // While the model's thread searches for an absent printer.
    auto searching = std::async(std::launch::async, [] { return ThreadGlobal(nullptr); });
    std::this_thread::sleep_for(150ms);
    SetEvent(gServiceStopEvent);
    ASSERT_EQ(searching.wait_for(2s), std::future_status::ready);
    EXPECT_EQ(searching.get(), 0u);
    EXPECT_EQ(Log(), "Inside ThreadGlobal\nfnReadCOMPortWriteToUSB : Stop Request1\n");

    // Found, but the stop is already set: no port is opened.
    ResetEvent(gServiceStopEvent);
    ptytest::Line printer;
    Plug(printer, InterfaceName(kGlobal.usbIdentifier, "P1"));
    SetEvent(gServiceStopEvent);
    EXPECT_EQ(fnReadCOMPortWriteToUSB(kGlobal.name, kGlobal.port, kGlobal.usbIdentifier), 1);
    EXPECT_NE(Log().find("fnReadCOMPortWriteToUSB : Stop Request2"), std::string::npos);
    EXPECT_EQ(Log().find("ComPort Open"), std::string::npos);

    // During a relay run: the run ends on the stop, not as a give-up.
    ResetEvent(gServiceStopEvent);
    ProvidePort(kGlobal.port);
    auto relaying = StartWorker(kGlobal);
    com_.Send("data");
    EXPECT_EQ(printer.Receive(4), "data");
    SetEvent(gServiceStopEvent);
    ASSERT_EQ(relaying.wait_for(2s), std::future_status::ready);
    EXPECT_EQ(relaying.get(), 1);
    const std::string log = Log();
    EXPECT_NE(log.find("fnReadCOMPortWriteToUSB : Stop Request3"), std::string::npos);
    EXPECT_EQ(log.find("Thread Break"), std::string::npos);
}

TEST_F(BridgeTest, RelayRunResults) {
    ptytest::Line printer;
    const std::string path = Plug(printer, InterfaceName(kGlobal.usbIdentifier, "P1"));
    ProvidePort(kGlobal.port);
    RelayEnds ends("\\\\.\\COMGLOBAL");
    ASSERT_NE(ends.port, INVALID_HANDLE_VALUE);
    const auto run = [&](const std::string& devicePath) { return ends.Run(devicePath); };

    // A reply already waiting is forwarded once, in the pass that starts the
    // read, before the COM port is read.
    printer.Send("\x06");
    auto stopped = run(path);
    EXPECT_EQ(com_.Receive(2, 300ms), "\x06");
    // The next pass reads the COM port and starts a new USB read; nothing
    // polls the completed one.
    EXPECT_NE(InOrder(Log(),
                      {"IoRead_beforer(USB) : success=1  dwActualBytesReadFromUSB 1\n",
                       "IoWrite(COM) : success=1  dwActualBytesWrittenToCOM 1\n", "IoRead(COM)",
                       "IoRead_beforer(USB) : success=2"},
                      "IoRead_after"),
              "")
        << Log();

    // A stop while idle ends the run as a stop (which of the two results
    // depends on where the stop is seen; see the tests below).
    SetEvent(gServiceStopEvent);
    ASSERT_EQ(stopped.wait_for(2s), std::future_status::ready);
    EXPECT_NE(stopped.get(), -1);
    ResetEvent(gServiceStopEvent);

    // The printer's far end hangs up while the run waits: it gives up.
    auto hungUp = run(path);
    std::this_thread::sleep_for(50ms);
    printer.HangUp();
    ASSERT_EQ(hungUp.wait_for(2s), std::future_status::ready);
    EXPECT_EQ(hungUp.get(), -1);

    // Paths that open nothing: a missing one, and one too long for the
    // service's 260-byte path buffers.
    for (const std::string& missing :
         {std::string("\\\\?\\usb#missing"), "\\\\?\\" + std::string(256, 'x')}) {
        EXPECT_EQ(run(missing).get(), -1) << missing.size();
        EXPECT_NE(Log().rfind("fnReadCOMPortWriteToUSBSubRoutine USB Open ffffffff\r\n"
                              "fnReadCOMPortWriteToUSBSubRoutine usb open error"),
                  std::string::npos);
        std::filesystem::resize_file(logFolder_.path() / "service.log", 0);
    }
}

TEST_F(BridgeTest, AStopSeenOnlyAtTheEndOfAPassEndsTheRunWithOne) {
    ptytest::Line printer;
    const std::string path = Plug(printer, InterfaceName(kGlobal.usbIdentifier, "P1"));
    ProvidePort(kGlobal.port);
    const LogGate gate(logFolder_.path() / "gate");
    ASSERT_TRUE(gate.Made());
    setenv("QLPR_SERVICE_LOG", (logFolder_.path() / "gate").c_str(), 1);
    RelayEnds ends("\\\\.\\COMGLOBAL");
    ASSERT_NE(ends.port, INVALID_HANDLE_VALUE);

    // After an idle COM read the relay comes to a halt at the presence
    // check's line: the pass has waited for the last time. Stopped there, the
    // run must end right after this pass. When the relay was not held there
    // (its next open raced the test's close), the log shows it and the
    // attempt is redone.
    const std::string idleRead = "IoRead(COM) : success=1  dwActualBytesReadFromCOM 0\n";
    const std::string endOfRun =
        "IoRead_after USBScan2 OK\r\n"
        "fnReadCOMPortWriteToUSBSubRoutine IoRead_after(USB) : success=0  "
        "dwActualBytesReadFromUSB 0\n"
        "fnReadCOMPortWriteToUSBSubRoutine CancelIo\r\n"
        "fnReadCOMPortWriteToUSBSubRoutine USB Close\r\n";
    bool held = false;
    for (int attempt = 0; attempt < 50 && !held; ++attempt) {
        ResetEvent(gServiceStopEvent);
        auto run = ends.Run(path);
        // A failed check leaves the relay stopped and let through the gate.
        const ScopeExit release([&] {
            SetEvent(gServiceStopEvent);
            while (run.valid() && run.wait_for(0s) != std::future_status::ready) gate.Session(20ms);
        });
        std::string before;
        while (!before.ends_with(idleRead)) {
            const std::string text = gate.Session();
            ASSERT_FALSE(text.empty()) << before;
            before += text;
        }
        std::this_thread::sleep_for(5ms);  // time to reach the gate
        SetEvent(gServiceStopEvent);
        std::string after;
        while (run.wait_for(0s) != std::future_status::ready) after += gate.Session(20ms);
        const int result = run.get();
        held = after == endOfRun;
        if (held) {
            EXPECT_EQ(result, 1);
        }
    }
    EXPECT_TRUE(held) << "the relay never stayed at the gate";
}

TEST_F(BridgeTest, APrinterThatNeverReadsHoldsTheRelayIdleUntilAStop) {
    ptytest::Line printer;
    const std::string path = Plug(printer, InterfaceName(kGlobal.usbIdentifier, "P1"));
    ProvidePort(kGlobal.port);
    RelayEnds ends("\\\\.\\COMGLOBAL");
    ASSERT_NE(ends.port, INVALID_HANDLE_VALUE);
    auto run = ends.Run(path);
    const ScopeExit stop([] { SetEvent(gServiceStopEvent); });  // after a failed check

    // The application sends until both lines are full: the relay's USB
    // write then waits for a printer that takes nothing.
    fcntl(com_.Master(), F_SETFL, fcntl(com_.Master(), F_GETFL) | O_NONBLOCK);
    const std::string chunk(4096, 'j');
    int queued = -1;
    const auto fillLimit = std::chrono::steady_clock::now() + 10s;
    for (int still = 0; still < 30;) {
        ASSERT_LT(std::chrono::steady_clock::now(), fillLimit) << "the printer's line never filled";
        while (write(com_.Master(), chunk.data(), chunk.size()) > 0) {
        }
        std::this_thread::sleep_for(10ms);
        const int now = Queued(printer);
        still = now == queued && now > 0 ? still + 1 : 0;
        queued = now;
    }

    // Waiting costs (almost) nothing: no pass runs while the write waits.
    const auto cpuBefore = ProcessCpuTime();
    std::this_thread::sleep_for(1s);
    EXPECT_LT(ProcessCpuTime() - cpuBefore, 50ms);
    EXPECT_EQ(Queued(printer), queued);
    ASSERT_EQ(run.wait_for(0s), std::future_status::timeout);

    const auto stopAt = std::chrono::steady_clock::now();
    SetEvent(gServiceStopEvent);
    ASSERT_EQ(run.wait_for(2s), std::future_status::ready);
    EXPECT_LT(std::chrono::steady_clock::now() - stopAt, 150ms);
    EXPECT_EQ(run.get(), -2);
    EXPECT_NE(Log().find("IoWrite(USB) : success2=-2"), std::string::npos);
}

TEST_F(BridgeTest, AServiceSidePortThatVanishesEndsTheRelayAsAGiveUp) {
    ptytest::Line printer;
    Plug(printer, InterfaceName(kGlobal.usbIdentifier, "P1"));
    ProvidePort(kGlobal.port);
    auto worker = StartWorker(kGlobal);
    com_.Send("ab");
    EXPECT_EQ(printer.Receive(2), "ab");

    std::filesystem::remove(ports_.path() / kGlobal.port);
    com_.HangUp();
    ASSERT_EQ(worker.wait_for(2s), std::future_status::ready);
    EXPECT_EQ(worker.get(), 1);
    const std::string log = Log();
    EXPECT_NE(log.find("IoRead:"), std::string::npos) << log;
    EXPECT_NE(log.find("fnReadCOMPortWriteToUSB : Thread Break"), std::string::npos);
}

}  // namespace
