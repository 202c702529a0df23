#include "config/platform_services.h"

#include <cstdlib>
#include <cstring>
#include <string>

#include "config/tool_models.h"
#include "platform/codepage.h"
#include "platform/device_interfaces.h"
#include "platform/dos_devices.h"
#include "platform/events.h"
#include "platform/files.h"
#include "platform/last_error.h"
#include "platform/processes.h"
#include "platform/registry.h"

namespace config {
namespace {

class PlatformDevice final : public OpenedDevice {
  public:
    explicit PlatformDevice(HANDLE handle) : handle_(handle) {}
    ~PlatformDevice() override { CloseHandle(handle_); }
    PlatformDevice(const PlatformDevice&) = delete;
    PlatformDevice& operator=(const PlatformDevice&) = delete;

    bool Write(std::span<const BYTE> bytes) override {
        DWORD written = 0;
        return WriteFile(handle_, bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                         nullptr) &&
               written == bytes.size();
    }

  private:
    HANDLE handle_;
};

std::u16string WideOfAnsi(const std::string& text) {
    std::u16string wide(text.size() + 1, u'\0');
    const int length = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, wide.data(),
                                           static_cast<int>(wide.size()));
    wide.resize(length > 0 ? static_cast<std::size_t>(length - 1) : 0);
    return wide;
}

constexpr const WCHAR* kSoftwareKey = u"SOFTWARE";
constexpr const WCHAR* kRecordsKey = u"ZelSerialPortReg";
constexpr const WCHAR* kWritePortValue = u"WritePort";
constexpr const WCHAR* kDeviceValue = u"Device";

// A key opened (or made) by RegCreateKeyW, closed with the object.
class CreatedKey {
  public:
    CreatedKey(HKEY parent, const std::u16string& subKey) {
        if (parent == nullptr || RegCreateKeyW(parent, subKey.c_str(), &key_) != ERROR_SUCCESS)
            key_ = nullptr;
    }
    ~CreatedKey() {
        if (key_ != nullptr) RegCloseKey(key_);
    }
    CreatedKey(const CreatedKey&) = delete;
    CreatedKey& operator=(const CreatedKey&) = delete;
    HKEY get() const { return key_; }

  private:
    HKEY key_ = nullptr;
};

// A REG_SZ text of at most 259 characters; false when it cannot be read.
bool QueryText(HKEY key, const WCHAR* name, std::u16string& text) {
    WCHAR buffer[kMaxText + 1] = {};
    DWORD size = kMaxText * sizeof(WCHAR);  // the last character stays the terminator
    if (RegQueryValueExW(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &size) !=
        ERROR_SUCCESS)
        return false;
    text.assign(buffer, platform::WideLengthBounded(buffer, kMaxText));
    return true;
}

void SetText(HKEY key, const WCHAR* name, std::u16string_view text) {
    const std::u16string stored(text.substr(0, kMaxText));
    RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(stored.data()),
                   static_cast<DWORD>(stored.size() * sizeof(WCHAR)));
}

}  // namespace

OpenOutcome PlatformDeviceOpener::Open(std::u16string_view name, DWORD access, DWORD shareMode) {
    const std::u16string path = platform::DosDevicePath(name);
    const HANDLE handle = CreateFileW(path.c_str(), access, shareMode, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return {nullptr, GetLastError()};
    return {std::make_unique<PlatformDevice>(handle), ERROR_SUCCESS};
}

std::vector<std::u16string> PlatformPrinterInterfaces::PrinterInterfacePaths() {
    std::vector<std::u16string> paths;
    const HDEVINFO set = SetupDiGetClassDevsA(&GUID_DEVINTERFACE_USBPRINT, nullptr, nullptr,
                                              DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (set == INVALID_HANDLE_VALUE) return paths;
    std::string path;
    // Paths are kept in 260-character buffers.
    for (DWORD index = 0; platform::ReadInterfacePath(set, index, path); ++index)
        paths.push_back(WideOfAnsi(path.substr(0, kMaxText)));
    SetupDiDestroyDeviceInfoList(set);
    return paths;
}

// The whole directory, however long: the command lines built on it are
// never cut.
std::u16string PlatformProgramRunner::CurrentDirectory() {
    const DWORD needed = GetCurrentDirectoryW(0, nullptr);
    if (needed == 0) return {};
    std::u16string directory(needed, u'\0');
    const DWORD length = GetCurrentDirectoryW(needed, directory.data());
    directory.resize(length < needed ? length : 0);
    return directory;
}

bool PlatformProgramRunner::RunAndWait(std::u16string_view commandLine) {
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    PROCESS_INFORMATION process{};
    std::u16string line(commandLine);
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process))
        return false;
    WaitForSingleObject(process.hProcess, INFINITE);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    return true;
}

Assignment RegistryAssignmentStore::ReadAssignment(std::u16string_view longName) {
    Assignment record;
    const CreatedKey software(HKEY_LOCAL_MACHINE, kSoftwareKey);
    const CreatedKey records(software.get(), kRecordsKey);
    const CreatedKey model(records.get(), std::u16string(longName));
    if (model.get() == nullptr) return record;
    QueryText(model.get(), kDeviceValue, record.device);
    if (!QueryText(model.get(), kWritePortValue, record.writePort))
        record.writePort = std::u16string(kNoPort);
    return record;
}

void RegistryAssignmentStore::WriteAssignment(std::u16string_view longName,
                                              std::u16string_view writePort,
                                              std::u16string_view device) {
    const CreatedKey software(HKEY_LOCAL_MACHINE, kSoftwareKey);
    const CreatedKey model(software.get(),
                           std::u16string(kRecordsKey) + u"\\" + std::u16string(longName));
    if (model.get() == nullptr) return;
    SetText(model.get(), kWritePortValue, writePort);
    SetText(model.get(), kDeviceValue, device);
}

void RegistryAssignmentStore::DeleteAssignment(std::u16string_view longName) {
    // An empty name would delete the key of all records.
    if (longName.empty()) return;
    const CreatedKey software(HKEY_LOCAL_MACHINE, kSoftwareKey);
    const CreatedKey records(software.get(), kRecordsKey);
    if (records.get() == nullptr) return;
    RegDeleteKeyW(records.get(), std::u16string(longName).c_str());
}

}  // namespace config
