// The engine's side of a printer graphics driver: it loads the driver
// library by path, asks it for its function table, and enables, completes,
// resets and disables devices through that table in the engine's order.
#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "host/winddi.h"

namespace host {

class QLPR_EXPORT DriverHost {
public:
    // Loads the library, checks that it is a user-mode driver
    // (DrvQueryDriverInfo) and enables it (DrvEnableDriver). Null with
    // `error` set on failure.
    static std::unique_ptr<DriverHost> Load(const std::filesystem::path& library, std::string* error);
    ~DriverHost();  // DrvDisableDriver, then unloads
    DriverHost(const DriverHost&) = delete;
    DriverHost& operator=(const DriverHost&) = delete;

    // The table's entry for an engine function index, or null.
    PFN Function(ULONG index) const;
    template <class F>
    F Entry(ULONG index) const {
        return reinterpret_cast<F>(Function(index));
    }
    const std::vector<DRVFN>& table() const { return table_; }
    ULONG driverVersion() const { return driverVersion_; }
    HMODULE module() const { return module_; }

private:
    DriverHost() = default;
    HMODULE module_ = nullptr;
    ULONG driverVersion_ = 0;
    std::vector<DRVFN> table_;
};

// One device of a driver, as a device context holds it: enabled and
// completed on creation, disabled when it goes.
class QLPR_EXPORT Device {
public:
    // `devmode` may be null (the printer's defaults); it points at
    // dmSize + dmDriverExtra bytes.
    static std::unique_ptr<Device> Enable(const DriverHost& driver, HANDLE printer,
                                          const std::u16string& deviceName, const DEVMODEW* devmode,
                                          std::string* error);
    ~Device();
    Device(const Device&) = delete;
    Device& operator=(const Device&) = delete;

    // A new device for a new device mode: the driver moves a running
    // document to it (DrvResetPDEV), it is completed, `beforeOldGoes` runs
    // with both devices alive (a document moves its surface there), then the
    // old one is disabled.
    bool Reset(const DEVMODEW* devmode, std::string* error,
               const std::function<void(DHPDEV oldPdev, DHPDEV newPdev)>& beforeOldGoes = {});

    DHPDEV pdev() const { return pdev_; }
    HANDLE printer() const { return printer_; }
    HDEV hdev() const { return hdev_; }
    const DriverHost& driver() const { return driver_; }
    const GDIINFO& gdiInfo() const { return gdiInfo_; }
    const DEVINFO& devInfo() const { return devInfo_; }

private:
    Device(const DriverHost& driver) : driver_(driver) {}
    bool EnableInto(const DEVMODEW* devmode, DHPDEV* pdev, GDIINFO* gdi, DEVINFO* dev,
                    std::string* error);

    const DriverHost& driver_;
    HANDLE printer_ = nullptr;
    std::u16string deviceName_;
    DHPDEV pdev_ = nullptr;
    HDEV hdev_ = nullptr;
    GDIINFO gdiInfo_{};
    DEVINFO devInfo_{};
};

}  // namespace host
