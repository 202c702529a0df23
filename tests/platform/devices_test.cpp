// Events and waits, serial ports in the device folder with overlapped I/O
// and communication timeouts, and the USB printer interface enumeration,
// all on real pseudo-terminals.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "platform/windows.h"
#include "pty_test_util.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr COMMTIMEOUTS kFirstByteOr10ms = {MAXDWORD, MAXDWORD, 10, 0, 60000};

std::chrono::milliseconds Since(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
}

HANDLE OpenDevice(const std::string& path) {
    return CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                       FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                       FILE_FLAG_OVERLAPPED, nullptr);
}

TEST(EventsTest, ManualAndAutoResetAndWaitAny) {
    HANDLE manual = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE automatic = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    ASSERT_NE(manual, nullptr);
    ASSERT_NE(automatic, nullptr);
    const HANDLE both[] = {manual, automatic};

    EXPECT_EQ(WaitForMultipleObjects(2, both, FALSE, 0), WAIT_TIMEOUT);
    const auto start = Clock::now();
    EXPECT_EQ(WaitForSingleObject(manual, 30), WAIT_TIMEOUT);
    EXPECT_GE(Since(start), 30ms);

    // Another thread's SetEvent wakes a wait without a limit; the first
    // signalled handle in the list is the one reported.
    std::thread setter([&] {
        std::this_thread::sleep_for(20ms);
        SetEvent(automatic);
    });
    EXPECT_EQ(WaitForMultipleObjects(2, both, FALSE, INFINITE), WAIT_OBJECT_0 + 1);
    setter.join();
    EXPECT_EQ(WaitForSingleObject(automatic, 0), WAIT_TIMEOUT) << "an auto-reset event resets";

    ASSERT_TRUE(SetEvent(manual));
    ASSERT_TRUE(SetEvent(automatic));
    EXPECT_EQ(WaitForMultipleObjects(2, both, FALSE, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(manual, 0), WAIT_OBJECT_0) << "a manual-reset event stays set";
    EXPECT_EQ(WaitForMultipleObjects(2, both, TRUE, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForMultipleObjects(2, both, TRUE, 0), WAIT_TIMEOUT);
    ASSERT_TRUE(ResetEvent(manual));
    EXPECT_EQ(WaitForSingleObject(manual, 0), WAIT_TIMEOUT);

    EXPECT_EQ(CreateEventA(nullptr, TRUE, FALSE, "Named"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_TRUE(CloseHandle(manual));
    EXPECT_EQ(WaitForSingleObject(manual, 0), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_EQ(WaitForMultipleObjects(0, both, FALSE, 0), WAIT_FAILED);
    CloseHandle(automatic);
}

class SerialPortTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::filesystem::create_symlink(line_.SlavePath(), folder_.path() / "COMTEST");
        port_ = OpenDevice("\\\\.\\COMTEST");
        ASSERT_NE(port_, INVALID_HANDLE_VALUE) << GetLastError();
        event_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    }
    void TearDown() override {
        if (port_ != INVALID_HANDLE_VALUE) CloseHandle(port_);
        CloseHandle(event_);
    }

    ptytest::ScopedFolderVariable folder_{"QLPR_DEVICE_DIR"};
    ptytest::Line line_;
    HANDLE port_ = INVALID_HANDLE_VALUE;
    HANDLE event_ = nullptr;
};

TEST_F(SerialPortTest, ReadsFollowTheTimeouts) {
    struct Case {
        const char* name;
        COMMTIMEOUTS timeouts;
        std::string waiting;  // there before the read starts
        std::string later;    // sent 50 ms after it started
        DWORD ask;
        bool atOnce;
        std::string expected;
        std::chrono::milliseconds atLeast, below;
    };
    const Case cases[] = {
        {"byte there: at once", kFirstByteOr10ms, "AB", "", 1024, true, "AB", 0ms, 1000ms},
        {"nothing: after 10 ms", kFirstByteOr10ms, "", "", 1024, false, "", 10ms, 1000ms},
        {"first byte ends the wait",
         {MAXDWORD, MAXDWORD, 5000, 0, 0},
         "",
         "C",
         1024,
         false,
         "C",
         40ms,
         4000ms},
        {"return at once", {MAXDWORD, 0, 0, 0, 0}, "", "", 1024, true, "", 0ms, 1000ms},
        {"no timeouts: all bytes", {0, 0, 0, 0, 0}, "DE", "FG", 4, false, "DEFG", 40ms, 4000ms},
        {"total timeout: what came", {0, 0, 100, 0, 0}, "H", "", 4, false, "H", 100ms, 2000ms},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(SetCommTimeouts(port_, &c.timeouts));
        COMMTIMEOUTS back{};
        ASSERT_TRUE(GetCommTimeouts(port_, &back));
        EXPECT_EQ(back.ReadTotalTimeoutConstant, c.timeouts.ReadTotalTimeoutConstant);
        if (!c.waiting.empty()) {
            line_.Send(c.waiting);
            std::this_thread::sleep_for(20ms);
        }
        char buffer[1024] = {};
        OVERLAPPED record{};
        record.hEvent = event_;
        SetEvent(event_);  // a new operation resets its event
        DWORD got = 99;
        const auto start = Clock::now();
        const BOOL done = ReadFile(port_, buffer, c.ask, &got, &record);
        EXPECT_EQ(done != FALSE, c.atOnce);
        if (!done) {
            ASSERT_EQ(GetLastError(), ERROR_IO_PENDING);
            EXPECT_EQ(WaitForSingleObject(event_, 0), WAIT_TIMEOUT);
            EXPECT_FALSE(HasOverlappedIoCompleted(&record));
            EXPECT_FALSE(GetOverlappedResult(port_, &record, &got, FALSE));
            EXPECT_EQ(GetLastError(), ERROR_IO_INCOMPLETE);
            if (!c.later.empty()) {
                std::this_thread::sleep_for(50ms);
                line_.Send(c.later);
            }
            ASSERT_EQ(WaitForSingleObject(event_, 10000), WAIT_OBJECT_0);
            EXPECT_TRUE(HasOverlappedIoCompleted(&record));
            ASSERT_TRUE(GetOverlappedResult(port_, &record, &got, FALSE));
        } else {
            EXPECT_EQ(WaitForSingleObject(event_, 0), WAIT_OBJECT_0);
        }
        const auto took = Since(start);
        EXPECT_EQ(std::string(buffer, got), c.expected);
        EXPECT_GE(took, c.atLeast);
        EXPECT_LT(took, c.below);
    }
}

// A write larger than the line holds stays pending until the far end
// drains it; nothing is lost or reordered, and a synchronous read (no
// record) works on the same handle.
TEST_F(SerialPortTest, PendingWriteCompletesWhole) {
    std::string data(1 << 20, '\0');
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 7 + i / 251);
    OVERLAPPED record{};
    record.hEvent = event_;
    DWORD written = 0;
    ASSERT_FALSE(WriteFile(port_, data.data(), static_cast<DWORD>(data.size()), &written, &record));
    ASSERT_EQ(GetLastError(), ERROR_IO_PENDING);
    EXPECT_FALSE(GetOverlappedResult(port_, &record, &written, FALSE));
    EXPECT_EQ(GetLastError(), ERROR_IO_INCOMPLETE);
    const std::string received = line_.Receive(data.size());
    ASSERT_TRUE(GetOverlappedResult(port_, &record, &written, TRUE));
    EXPECT_EQ(written, data.size());
    EXPECT_TRUE(received == data);

    line_.Send("xyz");
    char buffer[3] = {};
    DWORD read = 0;
    ASSERT_TRUE(ReadFile(port_, buffer, 3, &read, nullptr));
    EXPECT_EQ(std::string(buffer, read), "xyz");
}

TEST_F(SerialPortTest, CancelAndCloseEndPendingOperations) {
    // No timeouts: a read waits for its bytes for ever.
    char buffer[16];
    OVERLAPPED record{};
    record.hEvent = event_;
    ASSERT_FALSE(ReadFile(port_, buffer, sizeof buffer, nullptr, &record));
    ASSERT_EQ(GetLastError(), ERROR_IO_PENDING);
    EXPECT_EQ(WaitForSingleObject(event_, 30), WAIT_TIMEOUT);
    ASSERT_TRUE(CancelIo(port_));
    EXPECT_TRUE(HasOverlappedIoCompleted(&record));
    EXPECT_EQ(WaitForSingleObject(event_, 0), WAIT_OBJECT_0);
    DWORD got = 1;
    EXPECT_FALSE(GetOverlappedResult(port_, &record, &got, FALSE));
    EXPECT_EQ(GetLastError(), ERROR_OPERATION_ABORTED);
    EXPECT_EQ(got, 0u);

    // Bytes sent after the cancel go to the next read, not the cancelled one.
    line_.Send("later");
    ASSERT_TRUE(ReadFile(port_, buffer, 5, &got, &record) ||
                GetOverlappedResult(port_, &record, &got, TRUE));
    EXPECT_EQ(std::string(buffer, got), "later");

    ASSERT_FALSE(ReadFile(port_, buffer, sizeof buffer, nullptr, &record));
    ASSERT_TRUE(CloseHandle(port_));
    port_ = INVALID_HANDLE_VALUE;
    EXPECT_TRUE(HasOverlappedIoCompleted(&record));
}

// The far end hanging up ends a pending read with an error instead of
// leaving it (or a thread) spinning; the port stays usable for nothing else.
TEST_F(SerialPortTest, HangUpFailsThePendingRead) {
    ASSERT_TRUE(SetCommTimeouts(port_, &kFirstByteOr10ms));
    char buffer[16];
    OVERLAPPED record{};
    record.hEvent = event_;
    ASSERT_FALSE(ReadFile(port_, buffer, sizeof buffer, nullptr, &record));
    ASSERT_TRUE(GetOverlappedResult(port_, &record, nullptr, TRUE)) << "timed out with nothing";
    const COMMTIMEOUTS forever{0, 0, 0, 0, 0};
    ASSERT_TRUE(SetCommTimeouts(port_, &forever));
    ASSERT_FALSE(ReadFile(port_, buffer, sizeof buffer, nullptr, &record));
    line_.HangUp();
    ASSERT_EQ(WaitForSingleObject(event_, 5000), WAIT_OBJECT_0);
    DWORD got = 0;
    EXPECT_FALSE(GetOverlappedResult(port_, &record, &got, FALSE));
    EXPECT_EQ(GetLastError(), ERROR_DEVICE_NOT_CONNECTED);
    const clock_t cpuBefore = clock();
    std::this_thread::sleep_for(100ms);
    EXPECT_LT(clock() - cpuBefore, CLOCKS_PER_SEC / 20) << "nothing spins after the hang-up";
}

TEST_F(SerialPortTest, OpenRefusals) {
    const std::string tooLong = "\\\\.\\" + std::string(256, 'C');
    std::filesystem::create_symlink(line_.SlavePath(), folder_.path() / "COMHIDDEN");
    struct Case {
        std::string path;
        DWORD error;
    } const cases[] = {
        {"\\\\.\\COMTEST", ERROR_ACCESS_DENIED},  // one user at a time
        {"\\\\.\\COMNONE", ERROR_FILE_NOT_FOUND},
        {"\\\\.\\..\\COMTEST", ERROR_FILE_NOT_FOUND},
        {"\\\\.\\sub/COMTEST", ERROR_FILE_NOT_FOUND},
        {"\\\\.\\.COMHIDDEN", ERROR_FILE_NOT_FOUND},
        {"\\\\.\\", ERROR_FILE_NOT_FOUND},
        {tooLong, ERROR_FILENAME_EXCED_RANGE},
        {"\\\\?\\usb#vid_d1c7&pid_0a31#none", ERROR_FILE_NOT_FOUND},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(OpenDevice(c.path), INVALID_HANDLE_VALUE);
        EXPECT_EQ(GetLastError(), c.error);
    }
    COMMTIMEOUTS timeouts{};
    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    EXPECT_FALSE(GetCommTimeouts(event, &timeouts));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(CancelIo(event));
    CloseHandle(event);
}

class PrinterInterfacesTest : public ::testing::Test {
  protected:
    // The interface paths of a fresh set, in enumeration order.
    static std::vector<std::string> Present() {
        std::vector<std::string> paths;
        HDEVINFO set = SetupDiGetClassDevsA(&GUID_DEVINTERFACE_USBPRINT, nullptr, nullptr,
                                            DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
        EXPECT_NE(set, INVALID_HANDLE_VALUE);
        SP_DEVICE_INTERFACE_DATA data{};
        data.cbSize = sizeof data;
        for (DWORD index = 0;
             SetupDiEnumDeviceInterfaces(set, nullptr, &GUID_DEVINTERFACE_USBPRINT, index, &data);
             ++index) {
            DWORD size = 0;
            EXPECT_FALSE(SetupDiGetDeviceInterfaceDetailA(set, &data, nullptr, 0, &size, nullptr));
            EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
            std::vector<char> bytes(size);
            auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(bytes.data());
            detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
            EXPECT_TRUE(
                SetupDiGetDeviceInterfaceDetailA(set, &data, detail, size, nullptr, nullptr));
            paths.emplace_back(bytes.data() +
                               offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath));
        }
        EXPECT_EQ(GetLastError(), ERROR_NO_MORE_ITEMS);
        EXPECT_TRUE(SetupDiDestroyDeviceInfoList(set));
        return paths;
    }
    void Plug(const std::string& name, const ptytest::Line& line) {
        std::filesystem::create_symlink(line.SlavePath(), source_.path() / name);
    }
    void Unplug(const std::string& name) { std::filesystem::remove(source_.path() / name); }

    ptytest::ScopedFolderVariable source_{"QLPR_DEVICE_SOURCE"};
    ptytest::Line printer_;
};

constexpr const char* kGlobal = "usb#vid_d1c7&pid_0a31#SN01#{28d78fad-5a12-11d1-ae5b-0000f803a8c2}";
constexpr const char* kChina = "usb#vid_d1c7&pid_0a32#SN02#{28d78fad-5a12-11d1-ae5b-0000f803a8c2}";
constexpr const char* kUpper = "usb#VID_D1C7&PID_0A31#SN03#{28d78fad-5a12-11d1-ae5b-0000f803a8c2}";

TEST_F(PrinterInterfacesTest, PlugAndUnplugAreSeenAtOnce) {
    const std::string prefix = "\\\\?\\";
    EXPECT_TRUE(Present().empty());
    // Changes right after a listing, and again once the listing has aged
    // (when it may be kept between calls), are both seen by the next one.
    for (const auto pause : {0ms, 120ms}) {
        SCOPED_TRACE(pause.count());
        Plug(kGlobal, printer_);
        Plug(".hidden", printer_);
        // The longest name a folder holds still makes a path of 259 characters.
        const std::string longest(255, 'x');
        Plug(longest, printer_);
        EXPECT_EQ(Present(), (std::vector<std::string>{prefix + kGlobal, prefix + longest}));
        std::this_thread::sleep_for(pause);
        Unplug(longest);
        EXPECT_EQ(Present(), std::vector<std::string>{prefix + kGlobal});
        Plug(kUpper, printer_);
        Plug(kChina, printer_);
        EXPECT_EQ(Present(),
                  (std::vector<std::string>{prefix + kUpper, prefix + kGlobal, prefix + kChina}));
        std::this_thread::sleep_for(pause);
        Unplug(kGlobal);
        EXPECT_EQ(Present(), (std::vector<std::string>{prefix + kUpper, prefix + kChina}));
        for (const auto& entry : std::filesystem::directory_iterator(source_.path()))
            std::filesystem::remove(entry.path());
        EXPECT_TRUE(Present().empty());
    }
    HDEVINFO other =
        SetupDiGetClassDevsA(&GUID_DEVINTERFACE_USBPRINT, nullptr, nullptr, DIGCF_PRESENT);
    EXPECT_EQ(other, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST_F(PrinterInterfacesTest, DetailSizesAndRecords) {
    Plug(kGlobal, printer_);
    HDEVINFO set = SetupDiGetClassDevsA(&GUID_DEVINTERFACE_USBPRINT, nullptr, nullptr,
                                        DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    ASSERT_NE(set, INVALID_HANDLE_VALUE);
    SP_DEVICE_INTERFACE_DATA data{};
    data.cbSize = sizeof data - 1;
    EXPECT_FALSE(SetupDiEnumDeviceInterfaces(set, nullptr, &GUID_DEVINTERFACE_USBPRINT, 0, &data));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_USER_BUFFER);
    data.cbSize = sizeof data;
    ASSERT_TRUE(SetupDiEnumDeviceInterfaces(set, nullptr, &GUID_DEVINTERFACE_USBPRINT, 0, &data));
    EXPECT_EQ(data.Flags, SPINT_ACTIVE);
    const GUID other{1, 2, 3, {4}};
    EXPECT_FALSE(SetupDiEnumDeviceInterfaces(set, nullptr, &other, 0, &data));
    EXPECT_EQ(GetLastError(), ERROR_NO_MORE_ITEMS);

    const DWORD needed = static_cast<DWORD>(
        offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath) + 4 + std::strlen(kGlobal) + 1);
    std::vector<char> bytes(needed);
    auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(bytes.data());
    detail->cbSize = 5;
    DWORD size = 0;
    EXPECT_FALSE(SetupDiGetDeviceInterfaceDetailA(set, &data, detail, needed, &size, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_USER_BUFFER);
    EXPECT_EQ(size, needed);
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
    EXPECT_FALSE(
        SetupDiGetDeviceInterfaceDetailA(set, &data, detail, needed - 1, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_TRUE(SetupDiGetDeviceInterfaceDetailA(set, &data, detail, needed, nullptr, nullptr));

    // The set is a snapshot: an unplug after it was taken leaves it whole.
    Unplug(kGlobal);
    EXPECT_TRUE(SetupDiGetDeviceInterfaceDetailA(set, &data, detail, needed, nullptr, nullptr));
    EXPECT_TRUE(SetupDiDestroyDeviceInfoList(set));
    EXPECT_FALSE(SetupDiDestroyDeviceInfoList(set));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

// Without a source folder the machine's own USB printers are listed (none
// on most test machines): each path carries its ids in lower case.
TEST(UdevInterfacesTest, PathsCarryLowerCaseIds) {
    ASSERT_EQ(std::getenv("QLPR_DEVICE_SOURCE"), nullptr);
    for (int pass = 0; pass < 2; ++pass) {  // the second may come from the kept list
        HDEVINFO set = SetupDiGetClassDevsA(&GUID_DEVINTERFACE_USBPRINT, nullptr, nullptr,
                                            DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
        ASSERT_NE(set, INVALID_HANDLE_VALUE);
        SP_DEVICE_INTERFACE_DATA data{};
        data.cbSize = sizeof data;
        for (DWORD index = 0;
             SetupDiEnumDeviceInterfaces(set, nullptr, &GUID_DEVINTERFACE_USBPRINT, index, &data);
             ++index) {
            char bytes[300] = {};
            auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(bytes);
            detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
            ASSERT_TRUE(SetupDiGetDeviceInterfaceDetailA(set, &data, detail, sizeof bytes, nullptr,
                                                         nullptr));
            const std::string path =
                bytes + offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath);
            EXPECT_EQ(path.rfind("\\\\?\\usb#vid_", 0), 0u) << path;
            const std::string ids = path.substr(4, 22);
            EXPECT_EQ(ids.find_first_of("ABCDEF"), std::string::npos) << path;
            EXPECT_LT(path.size(), 260u);
        }
        EXPECT_EQ(GetLastError(), ERROR_NO_MORE_ITEMS);
        SetupDiDestroyDeviceInfoList(set);
    }
}

// An interface path opens as its device: a read completes as soon as the
// printer sends anything, and once the device is unplugged the path no
// longer opens.
TEST_F(PrinterInterfacesTest, InterfacePathOpensTheDevice) {
    Plug(kGlobal, printer_);
    const std::string path = std::string("\\\\?\\") + kGlobal;
    HANDLE usb = OpenDevice(path);
    ASSERT_NE(usb, INVALID_HANDLE_VALUE) << GetLastError();
    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    OVERLAPPED record{};
    record.hEvent = event;
    char reply[256];
    ASSERT_FALSE(ReadFile(usb, reply, sizeof reply, nullptr, &record));
    ASSERT_EQ(GetLastError(), ERROR_IO_PENDING);
    printer_.Send("\x10\x04");
    ASSERT_EQ(WaitForSingleObject(event, 5000), WAIT_OBJECT_0);
    DWORD got = 0;
    ASSERT_TRUE(GetOverlappedResult(usb, &record, &got, FALSE));
    EXPECT_EQ(std::string(reply, got), "\x10\x04");
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(usb, "print", 5, &written, &record) ||
                GetOverlappedResult(usb, &record, &written, TRUE));
    EXPECT_EQ(written, 5u);
    EXPECT_EQ(printer_.Receive(5), "print");
    COMMTIMEOUTS timeouts{};
    EXPECT_FALSE(GetCommTimeouts(usb, &timeouts)) << "an interface is not a serial port";
    CloseHandle(usb);
    CloseHandle(event);

    Unplug(kGlobal);
    EXPECT_EQ(OpenDevice(path), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

}  // namespace
