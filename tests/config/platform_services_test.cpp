// The tool's services over the platform: the registry record of an
// assignment, and COM ports in the device folder.
#include "config/platform_services.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>

#include "config/assign_com_port.h"
#include "config/main_dialog_logic.h"
#include "config/run_utility.h"
#include "config_fakes.h"
#include "platform/device_notices.h"
#include "platform/files.h"
#include "platform/registry.h"
#include "platform/wide.h"
#include "test_support.h"

namespace {

constexpr std::u16string_view kGlobal = u"ZORP-R1x Global Model";
constexpr std::u16string_view kChina = u"ZORP-R1x China Model";

// An environment variable set while the object lives.
class ScopedVariable {
  public:
    ScopedVariable(const char* name, const std::filesystem::path& value) : name_(name) {
        setenv(name, value.c_str(), 1);
    }
    ~ScopedVariable() { unsetenv(name_); }
    ScopedVariable(const ScopedVariable&) = delete;
    ScopedVariable& operator=(const ScopedVariable&) = delete;

  private:
    const char* name_;
};

bool KeyExists(const std::u16string& path) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

TEST(ConfigRegistryStore, KeepsOneRecordPerModelUnderTheToolsKey) {
    testsupport::ScopedStoreRoot root;
    config::RegistryAssignmentStore store;
    const std::u16string globalKey = u"SOFTWARE\\ZelSerialPortReg\\" + std::u16string(kGlobal);
    const std::u16string chinaKey = u"SOFTWARE\\ZelSerialPortReg\\" + std::u16string(kChina);

    store.WriteAssignment(kGlobal, u"COM7", configtest::kGlobalPath);

    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, globalKey.c_str(), 0, KEY_READ, &key),
              ERROR_SUCCESS);
    DWORD type = 0;
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExW(key, u"WritePort", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_SZ);
    EXPECT_EQ(size, 8u);  // "COM7" without a terminator
    RegCloseKey(key);
    const config::Assignment global = store.ReadAssignment(kGlobal);
    EXPECT_EQ(global.writePort, u"COM7");
    EXPECT_EQ(global.device, configtest::kGlobalPath);

    // Reading a model without a record makes its empty key.
    EXPECT_EQ(store.ReadAssignment(kChina).writePort, u"NONE");
    EXPECT_TRUE(KeyExists(chinaKey));

    store.DeleteAssignment(kGlobal);
    EXPECT_FALSE(KeyExists(globalKey));
    EXPECT_TRUE(KeyExists(chinaKey));
    EXPECT_EQ(store.ReadAssignment(kGlobal).writePort, u"NONE");
}

// COM ports as files in a device folder of the test's own.
class ConfigDeviceFolder : public ::testing::Test {
  protected:
    ConfigDeviceFolder() { std::filesystem::create_directories(folder_); }

    void AddPort(const char* name) { std::ofstream(folder_ / name).flush(); }

    testsupport::ScopedStoreRoot root_;
    const std::filesystem::path folder_ = root_.path() / "dev";
    const ScopedVariable deviceFolder_{"QLPR_DEVICE_DIR", folder_};
    config::PlatformDeviceOpener devices_;
};

TEST_F(ConfigDeviceFolder, PresentPortsAreNotOfferedUnlessBusy) {
    for (const char* name : {"COM1", "COM3", "COM5", "COM12"}) AddPort(name);
    const HANDLE busy = CreateFileW(u"\\\\.\\COM5", GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(busy, INVALID_HANDLE_VALUE);

    const std::vector<std::u16string> free = config::FillFreeComPorts(devices_);
    CloseHandle(busy);

    std::vector<std::u16string> expected = {u"COM2"};
    for (int n = 4; n <= 32; ++n)
        if (n != 12) expected.push_back(platform::FromUtf8("COM" + std::to_string(n)));
    EXPECT_EQ(free, expected);
}

TEST_F(ConfigDeviceFolder, TestPageReachesTheAssignedPort) {
    AddPort("COM3");
    AddPort("ZELA0");
    const std::filesystem::path page = root_.path() / "TestPrint.prn";
    std::ofstream(page, std::ios::binary) << std::string(100, 'x');
    configtest::FakeTool tool;
    config::ToolServices services{devices_,    tool.printers, tool.assignments,
                                  tool.runner, tool.messages, platform::FromUtf8(page.string())};
    tool.printers.paths = {configtest::kGlobalPath};
    tool.assignments.records[std::u16string(kGlobal)] = {u"COM3", configtest::kGlobalPath};
    config::MainDialogLogic logic(services, tool.list);
    logic.Initialise(false);
    tool.list.selected = {0};
    logic.OnListSelectionChanged();

    logic.TestPrint();

    EXPECT_TRUE(tool.messages.shown.empty());
    std::ifstream sent(folder_ / "COM3", std::ios::binary);
    const std::string bytes{std::istreambuf_iterator<char>(sent), {}};
    EXPECT_EQ(bytes, std::string(100, 'x') + '\0');
}

// The setup utility of the current directory (a folder with a blank in
// its name) runs to its end before RunUtility returns.
TEST(ConfigProgramRunner, RunsTheUtilityOfTheCurrentDirectoryAndWaitsForIt) {
    testsupport::ScopedStoreRoot root;
    const std::filesystem::path folder = root.path() / "my tools";
    std::filesystem::create_directories(folder);
    const std::filesystem::path utility = folder / "setupc";
    std::ofstream(utility) << "#!/bin/sh\nsleep 0.2\necho \"$@\" > \"$(dirname \"$0\")/words\"\n";
    chmod(utility.c_str(), 0755);
    const std::filesystem::path previous = std::filesystem::current_path();
    std::filesystem::current_path(folder);

    config::PlatformProgramRunner runner;
    EXPECT_EQ(runner.CurrentDirectory(), platform::FromUtf8(folder.string()));
    config::RenamePairPort(runner, u"ZELA0", u"COM7");
    std::filesystem::current_path(previous);

    std::ifstream words(folder / "words");
    std::string line;
    std::getline(words, line);
    EXPECT_EQ(line, "change ZELA0 PortName=COM7,");
    EXPECT_FALSE(runner.RunAndWait(u"/no/such/folder\\setupc.exe change"));
}

// Printers plugged and unplugged in the device-source folder reach the
// list through the platform's notices, handed over to the dialog's thread.
TEST(ConfigDeviceNotices, PluggingAndUnpluggingChangeTheRows) {
    testsupport::ScopedStoreRoot root;
    const std::filesystem::path source = root.path() / "source";
    std::filesystem::create_directories(source);
    const ScopedVariable deviceSource("QLPR_DEVICE_SOURCE", source);
    std::mutex lock;
    std::condition_variable arrived;
    std::deque<std::pair<DWORD, std::u16string>> notices;
    platform::DeviceNoticeWatch watch([&](DWORD event, const std::u16string& path) {
        std::lock_guard guard(lock);
        notices.emplace_back(event, path);
        arrived.notify_all();
    });
    ASSERT_TRUE(watch.Watching());
    configtest::FakeTool tool;
    tool.devices.Present(u"\\\\.\\ZELA0");
    config::MainDialogLogic logic(tool.services, tool.list);
    logic.Initialise(false);
    ASSERT_TRUE(tool.list.rows.empty());
    // Hands the next notice to the logic, as the dialog's thread would.
    const auto deliverNext = [&] {
        std::unique_lock guard(lock);
        if (!arrived.wait_for(guard, std::chrono::seconds(5), [&] { return !notices.empty(); }))
            return false;
        const auto [event, path] = notices.front();
        notices.pop_front();
        guard.unlock();
        logic.OnDeviceChange(event, path);
        return true;
    };

    const char* printer = "usb#vid_d1c7&pid_0a32#c200#{28d78fad-5a12-11d1-ae5b-0000f803a8c2}";
    std::filesystem::create_symlink("/dev/null", source / printer);
    ASSERT_TRUE(deliverNext());
    EXPECT_EQ(tool.list.rows.size(), 1u);
    EXPECT_EQ(logic.ChinaDevicePath(), u"\\\\?\\" + platform::FromUtf8(printer));
    std::filesystem::remove(source / printer);
    ASSERT_TRUE(deliverNext());
    EXPECT_TRUE(tool.list.rows.empty());
}

}  // namespace
