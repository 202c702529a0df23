// Device-interface enumeration (see device_interfaces.h).
//
// The service enumerates on every pass of its relay, so the list is kept
// between calls for as long as it cannot have changed: for a source folder,
// while the folder's change times stay the same (and lie far enough in the
// past that a change within the same clock tick cannot hide behind them);
// for udev, until a device event arrives, and at most one second.
#include "platform/device_interfaces.h"

#include <libudev.h>
#include <poll.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <mutex>

#include "platform/device_folder.h"
#include "platform/internal.h"
#include "platform/usb_paths.h"

namespace platform {
namespace {

constexpr std::string_view kInterfacePrefix = "\\\\?\\";
constexpr std::string_view kUsbPrintClass = "{28d78fad-5a12-11d1-ae5b-0000f803a8c2}";

// File times come from a coarse clock; a folder changed less than this
// before it was read is read again next time.
constexpr std::int64_t kCoarseClockMargin = 50'000'000;  // ns
constexpr auto kUdevRescanInterval = std::chrono::seconds(1);

bool FitsDevicePath(const std::string& path) {
    return path.size() <= kMaxDevicePath;
}

std::int64_t Nanoseconds(const timespec& time) {
    return std::int64_t{time.tv_sec} * 1'000'000'000 + time.tv_nsec;
}

std::vector<DeviceInterface> ReadSourceFolder(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    std::error_code error;
    for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end;
         it.increment(error)) {
        std::string name = it->path().filename().string();
        if (!name.empty() && name.front() != '.') names.push_back(std::move(name));
    }
    std::sort(names.begin(), names.end());
    std::vector<DeviceInterface> interfaces;
    for (const std::string& name : names) {
        DeviceInterface found{std::string(kInterfacePrefix) + name, (folder / name).string()};
        if (FitsDevicePath(found.path)) interfaces.push_back(std::move(found));
    }
    return interfaces;
}

std::string Lower(const char* text) {
    std::string lower = text != nullptr ? text : "";
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lower;
}

std::vector<DeviceInterface> ScanUdev(udev* context) {
    std::vector<DeviceInterface> interfaces;
    udev_enumerate* scan = udev_enumerate_new(context);
    if (scan == nullptr) return interfaces;
    udev_enumerate_add_match_subsystem(scan, "usbmisc");
    udev_enumerate_scan_devices(scan);
    udev_list_entry* entry;
    udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(scan)) {
        udev_device* device =
            udev_device_new_from_syspath(context, udev_list_entry_get_name(entry));
        if (device == nullptr) continue;
        const char* name = udev_device_get_sysname(device);
        const char* node = udev_device_get_devnode(device);
        // The parent belongs to the child and goes with it.
        udev_device* usb =
            udev_device_get_parent_with_subsystem_devtype(device, "usb", "usb_device");
        if (name != nullptr && std::strncmp(name, "lp", 2) == 0 && node != nullptr &&
            usb != nullptr) {
            const char* vendor = udev_device_get_sysattr_value(usb, "idVendor");
            const char* product = udev_device_get_sysattr_value(usb, "idProduct");
            if (vendor != nullptr && product != nullptr) {
                DeviceInterface found{std::string(kInterfacePrefix) + "usb#vid_" + Lower(vendor) +
                                          "&pid_" + Lower(product) + "#" +
                                          InstanceId(udev_device_get_sysattr_value(usb, "serial"),
                                                     udev_device_get_sysname(usb)) +
                                          "#" + std::string(kUsbPrintClass),
                                      node};
                if (FitsDevicePath(found.path)) interfaces.push_back(std::move(found));
            }
        }
        udev_device_unref(device);
    }
    udev_enumerate_unref(scan);
    return interfaces;
}

class InterfaceCache {
  public:
    std::vector<DeviceInterface> Present() {
        std::lock_guard guard(lock_);
        const char* source = std::getenv("QLPR_DEVICE_SOURCE");
        if (source != nullptr && source[0] != 0) return FromFolder(source);
        return FromUdev();
    }

  private:
    std::vector<DeviceInterface> FromFolder(const std::string& folder) {
        timespec readAt{};
        clock_gettime(CLOCK_REALTIME, &readAt);
        struct stat info {};
        if (stat(folder.c_str(), &info) != 0) {
            folderKnown_ = false;
            return {};
        }
        const bool same = folderKnown_ && folder == folder_ && info.st_dev == folderInfo_.st_dev &&
                          info.st_ino == folderInfo_.st_ino &&
                          Nanoseconds(info.st_mtim) == Nanoseconds(folderInfo_.st_mtim) &&
                          Nanoseconds(info.st_ctim) == Nanoseconds(folderInfo_.st_ctim);
        if (same) return folderList_;
        std::vector<DeviceInterface> interfaces = ReadSourceFolder(folder);
        const std::int64_t now = Nanoseconds(readAt);
        folderKnown_ = now - Nanoseconds(info.st_mtim) > kCoarseClockMargin &&
                       now - Nanoseconds(info.st_ctim) > kCoarseClockMargin;
        folder_ = folder;
        folderInfo_ = info;
        folderList_ = interfaces;
        return interfaces;
    }

    std::vector<DeviceInterface> FromUdev() {
        if (context_ == nullptr) {
            context_ = udev_new();
            if (context_ == nullptr) return {};
            // Kernel events arrive whether or not a udev daemon runs.
            monitor_ = udev_monitor_new_from_netlink(context_, "kernel");
            if (monitor_ != nullptr && (udev_monitor_filter_add_match_subsystem_devtype(
                                            monitor_, "usbmisc", nullptr) < 0 ||
                                        udev_monitor_enable_receiving(monitor_) < 0)) {
                udev_monitor_unref(monitor_);
                monitor_ = nullptr;
            }
        }
        const auto now = std::chrono::steady_clock::now();
        const bool changed = DrainEvents();
        if (monitor_ == nullptr || changed || !udevScanned_ ||
            now - udevScannedAt_ >= kUdevRescanInterval) {
            udevList_ = ScanUdev(context_);
            udevScanned_ = monitor_ != nullptr;
            udevScannedAt_ = now;
        }
        return udevList_;
    }

    // True when device events came in since the last call.
    bool DrainEvents() {
        if (monitor_ == nullptr) return false;
        bool any = false;
        pollfd ready{udev_monitor_get_fd(monitor_), POLLIN, 0};
        while (poll(&ready, 1, 0) > 0 && (ready.revents & POLLIN) != 0) {
            udev_device* event = udev_monitor_receive_device(monitor_);
            if (event == nullptr) break;
            udev_device_unref(event);
            any = true;
        }
        return any;
    }

    std::mutex lock_;
    std::string folder_;
    struct stat folderInfo_ {};
    bool folderKnown_ = false;
    std::vector<DeviceInterface> folderList_;
    udev* context_ = nullptr;  // kept for the life of the process
    udev_monitor* monitor_ = nullptr;
    bool udevScanned_ = false;
    std::chrono::steady_clock::time_point udevScannedAt_{};
    std::vector<DeviceInterface> udevList_;
};

InterfaceCache& Cache() {
    static InterfaceCache* cache = new InterfaceCache;  // never destroyed
    return *cache;
}

class DeviceInfoSet final : public HandleObject {
  public:
    explicit DeviceInfoSet(std::vector<DeviceInterface> interfaces)
        : interfaces(std::move(interfaces)) {}
    bool ClosedByCloseHandle() const override { return false; }
    const std::vector<DeviceInterface> interfaces;
};

// The interface a record from SetupDiEnumDeviceInterfaces stands for.
const DeviceInterface* InterfaceOf(const DeviceInfoSet& set, const SP_DEVICE_INTERFACE_DATA* data) {
    if (data == nullptr || data->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA)) return nullptr;
    if (data->Reserved == 0 || data->Reserved > set.interfaces.size()) return nullptr;
    return &set.interfaces[data->Reserved - 1];
}

}  // namespace

std::vector<DeviceInterface> PresentPrinterInterfaces() {
    return Cache().Present();
}

std::string InterfaceNode(std::string_view path) {
    for (const DeviceInterface& present : PresentPrinterInterfaces())
        if (present.path == path) return present.node;
    return {};
}

}  // namespace platform

using platform::Fail;

extern "C" {

// The enumerator is not used.
QLPR_EXPORT HDEVINFO WINAPI SetupDiGetClassDevsA(const GUID* classGuid, LPCSTR, void*,
                                                 DWORD flags) {
    return platform::Guard<HDEVINFO>(INVALID_HANDLE_VALUE, [&]() -> HDEVINFO {
        if (classGuid == nullptr || (flags & DIGCF_DEVICEINTERFACE) == 0)
            return Fail(ERROR_INVALID_PARAMETER, INVALID_HANDLE_VALUE);
        std::vector<platform::DeviceInterface> interfaces;
        if (*classGuid == GUID_DEVINTERFACE_USBPRINT)
            interfaces = platform::PresentPrinterInterfaces();
        HANDLE set = platform::RegisterHandle(
            std::make_shared<platform::DeviceInfoSet>(std::move(interfaces)));
        return set != nullptr ? set : INVALID_HANDLE_VALUE;
    });
}

QLPR_EXPORT BOOL WINAPI SetupDiEnumDeviceInterfaces(HDEVINFO set, void*, const GUID* classGuid,
                                                    DWORD index, SP_DEVICE_INTERFACE_DATA* data) {
    auto object = platform::LookupHandleAs<platform::DeviceInfoSet>(set);
    if (!object) return Fail(ERROR_INVALID_HANDLE, FALSE);
    if (classGuid == nullptr || data == nullptr) return Fail(ERROR_INVALID_PARAMETER, FALSE);
    if (data->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA))
        return Fail(ERROR_INVALID_USER_BUFFER, FALSE);
    if (*classGuid != GUID_DEVINTERFACE_USBPRINT || index >= object->interfaces.size())
        return Fail(ERROR_NO_MORE_ITEMS, FALSE);
    data->InterfaceClassGuid = *classGuid;
    data->Flags = SPINT_ACTIVE;
    data->Reserved = ULONG_PTR{index} + 1;
    return TRUE;
}

QLPR_EXPORT BOOL WINAPI SetupDiGetDeviceInterfaceDetailA(HDEVINFO set,
                                                         SP_DEVICE_INTERFACE_DATA* data,
                                                         SP_DEVICE_INTERFACE_DETAIL_DATA_A* detail,
                                                         DWORD detailSize, DWORD* requiredSize,
                                                         void*) {
    auto object = platform::LookupHandleAs<platform::DeviceInfoSet>(set);
    if (!object) return Fail(ERROR_INVALID_HANDLE, FALSE);
    const platform::DeviceInterface* found = platform::InterfaceOf(*object, data);
    if (found == nullptr) return Fail(ERROR_INVALID_PARAMETER, FALSE);
    const auto needed = static_cast<DWORD>(offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath) +
                                           found->path.size() + 1);
    if (requiredSize != nullptr) *requiredSize = needed;
    if (detail == nullptr)
        return Fail(detailSize == 0 ? ERROR_INSUFFICIENT_BUFFER : ERROR_INVALID_USER_BUFFER, FALSE);
    if (detail->cbSize != sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A))
        return Fail(ERROR_INVALID_USER_BUFFER, FALSE);
    if (detailSize < needed) return Fail(ERROR_INSUFFICIENT_BUFFER, FALSE);
    // The path runs on past the declared one-character array.
    char* path =
        reinterpret_cast<char*>(detail) + offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath);
    std::memcpy(path, found->path.c_str(), found->path.size() + 1);
    return TRUE;
}

QLPR_EXPORT BOOL WINAPI SetupDiDestroyDeviceInfoList(HDEVINFO set) {
    return platform::ReleaseHandleAs<platform::DeviceInfoSet>(set)
               ? TRUE
               : Fail(ERROR_INVALID_HANDLE, FALSE);
}

}  // extern "C"

bool platform::ReadInterfacePath(HDEVINFO set, DWORD index, std::string& path) {
    SP_DEVICE_INTERFACE_DATA data{};
    data.cbSize = sizeof data;
    if (!SetupDiEnumDeviceInterfaces(set, nullptr, &GUID_DEVINTERFACE_USBPRINT, index, &data))
        return false;
    DWORD required = 0;
    SetupDiGetDeviceInterfaceDetailA(set, &data, nullptr, 0, &required, nullptr);
    if (required < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)) return false;
    std::vector<char> buffer(required);
    auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(buffer.data());
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
    if (!SetupDiGetDeviceInterfaceDetailA(set, &data, detail, required, nullptr, nullptr))
        return false;
    path.assign(detail->DevicePath,
                strnlen(detail->DevicePath,
                        required - offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath)));
    return true;
}
