// The bridge workers and the COM-to-USB relay on real pseudo-terminals: one
// line as the service-side COM port (the application's end is the test),
// one per fake printer, listed through a device-source folder.
#include "bridge/relay.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "bridge/service_log.h"
#include "bridge/workers.h"
#include "platform/pty_test_util.h"
#include "platform/windows.h"

namespace {

using namespace std::chrono_literals;

constexpr const char* kInterfaceClass = "#{28d78fad-5a12-11d1-ae5b-0000f803a8c2}";
const BridgeModel& kGlobal = kBridgeModels[1];

std::string InterfaceName(const std::string& ids, const std::string& serial) {
    return "usb#" + ids + "#" + serial + kInterfaceClass;
}

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
    const HANDLE port = OpenOverlappedDevice("\\\\.\\COMGLOBAL");
    ASSERT_NE(port, INVALID_HANDLE_VALUE);
    const COMMTIMEOUTS timeouts = {MAXDWORD, MAXDWORD, 10, 0, 60000};
    SetCommTimeouts(port, &timeouts);
    const HANDLE comEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    const HANDLE usbEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    const auto run = [&](const std::string& devicePath) {
        return std::async(std::launch::async, [&, devicePath] {
            return fnReadCOMPortWriteToUSBSubRoutine(devicePath.c_str(), port, comEvent, usbEvent);
        });
    };

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

    // A stop while idle ends the run as a stop, with the USB side closed.
    SetEvent(gServiceStopEvent);
    ASSERT_EQ(stopped.wait_for(2s), std::future_status::ready);
    const int result = stopped.get();
    EXPECT_TRUE(result == 1 || result == -2) << result;
    ResetEvent(gServiceStopEvent);

    // The printer's far end hangs up while the run waits: it gives up.
    auto hungUp = run(path);
    std::this_thread::sleep_for(50ms);
    printer.HangUp();
    ASSERT_EQ(hungUp.wait_for(2s), std::future_status::ready);
    EXPECT_EQ(hungUp.get(), -1);

    // A path that opens nothing.
    EXPECT_EQ(run("\\\\?\\usb#missing").get(), -1);
    const std::string log = Log();
    EXPECT_NE(log.find("fnReadCOMPortWriteToUSBSubRoutine USB Open ffffffff\r\n"
                       "fnReadCOMPortWriteToUSBSubRoutine usb open error"),
              std::string::npos);

    CloseHandle(usbEvent);
    CloseHandle(comEvent);
    CloseHandle(port);
}

}  // namespace
