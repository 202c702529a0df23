#include "host/driver_host.h"

#include "host/engine.h"
#include "platform/last_error.h"
#include "platform/module.h"
#include "platform/wide.h"

namespace host {

namespace {

std::string LastErrorText(const char* what) {
    return std::string(what) + " (error " + std::to_string(GetLastError()) + ")";
}

}  // namespace

std::unique_ptr<DriverHost> DriverHost::Load(const std::filesystem::path& library,
                                             std::string* error) {
    std::unique_ptr<DriverHost> host(new DriverHost);
    std::u16string path = platform::FromUtf8(library.string());
    host->module_ = LoadLibraryW(reinterpret_cast<LPCWSTR>(path.c_str()));
    if (host->module_ == nullptr) {
        if (error) *error = "cannot load the driver library " + library.string();
        return nullptr;
    }
    auto query = reinterpret_cast<PFN_DrvQueryDriverInfo>(
        GetProcAddress(host->module_, "DrvQueryDriverInfo"));
    auto enable =
        reinterpret_cast<PFN_DrvEnableDriver>(GetProcAddress(host->module_, "DrvEnableDriver"));
    if (query == nullptr || enable == nullptr ||
        GetProcAddress(host->module_, "DrvDisableDriver") == nullptr) {
        if (error) *error = library.string() + " is not a graphics driver library";
        FreeLibrary(host->module_);
        host->module_ = nullptr;
        return nullptr;
    }
    DWORD attributes = 0, needed = 0;
    if (!query(DRVQUERY_USERMODE, &attributes, sizeof attributes, &needed) || attributes != 1) {
        if (error) *error = LastErrorText("the driver is not a user-mode driver");
        FreeLibrary(host->module_);
        host->module_ = nullptr;
        return nullptr;
    }
    DRVENABLEDATA data{};
    if (!enable(DDI_DRIVER_VERSION_NT5, sizeof data, &data) || data.pdrvfn == nullptr) {
        if (error) *error = LastErrorText("DrvEnableDriver failed");
        // A driver whose enable failed is disabled all the same, so that it
        // releases what it may have made.
        if (auto disable = reinterpret_cast<PFN_DrvDisableDriver>(
                GetProcAddress(host->module_, "DrvDisableDriver")))
            disable();
        FreeLibrary(host->module_);
        host->module_ = nullptr;
        return nullptr;
    }
    host->driverVersion_ = data.iDriverVersion;
    host->table_.assign(data.pdrvfn, data.pdrvfn + data.c);
    return host;
}

DriverHost::~DriverHost() {
    if (module_ == nullptr) return;
    if (auto disable =
            reinterpret_cast<PFN_DrvDisableDriver>(GetProcAddress(module_, "DrvDisableDriver")))
        disable();
    FreeLibrary(module_);
}

PFN DriverHost::Function(ULONG index) const {
    for (const DRVFN& entry : table_)
        if (entry.iFunc == index) return entry.pfn;
    return nullptr;
}

std::unique_ptr<Device> Device::Enable(const DriverHost& driver, HANDLE printer,
                                       const std::u16string& deviceName, const DEVMODEW* devmode,
                                       std::string* error) {
    std::unique_ptr<Device> device(new Device(driver));
    device->printer_ = printer;
    device->deviceName_ = deviceName;
    // The engine's device exists before the driver's: DrvEnablePDEV is told it.
    device->hdev_ = CreateEngineDevice();
    if (device->hdev_ == nullptr) {
        if (error) *error = "out of memory for the engine's device";
        return nullptr;
    }
    if (!device->EnableInto(devmode, &device->pdev_, &device->gdiInfo_, &device->devInfo_, error))
        return nullptr;
    SetEngineDevicePdev(device->hdev_, device->pdev_);
    SetEngineDeviceHalftone(device->hdev_, device->gdiInfo_.ulHTPatternSize);
    SetEngineDeviceFonts(device->hdev_, device->devInfo_.cFonts);
    driver.Entry<PFN_DrvCompletePDEV>(INDEX_DrvCompletePDEV)(device->pdev_, device->hdev_);
    return device;
}

bool Device::EnableInto(const DEVMODEW* devmode, DHPDEV* pdev, GDIINFO* gdi, DEVINFO* dev,
                        std::string* error) {
    auto enable = driver_.Entry<PFN_DrvEnablePDEV>(INDEX_DrvEnablePDEV);
    if (enable == nullptr || driver_.Function(INDEX_DrvCompletePDEV) == nullptr ||
        driver_.Function(INDEX_DrvDisablePDEV) == nullptr) {
        if (error) *error = "the driver's function table lacks the device entries";
        return false;
    }
    HSURF patterns[18] = {};
    std::u16string name = deviceName_;
    *pdev = enable(const_cast<DEVMODEW*>(devmode), nullptr, 18, patterns, sizeof(GDIINFO),
                   reinterpret_cast<ULONG*>(gdi), sizeof(DEVINFO), dev, hdev_,
                   reinterpret_cast<LPWSTR>(name.data()), printer_);
    if (*pdev == nullptr) {
        if (error) *error = LastErrorText("the driver refused to enable the device");
        return false;
    }
    return true;
}

bool Device::Reset(const DEVMODEW* devmode, std::string* error,
                   const std::function<void(DHPDEV oldPdev, DHPDEV newPdev)>& beforeOldGoes) {
    DHPDEV fresh = nullptr;
    GDIINFO gdi{};
    DEVINFO dev{};
    if (!EnableInto(devmode, &fresh, &gdi, &dev, error)) return false;
    auto reset = driver_.Entry<PFN_DrvResetPDEV>(INDEX_DrvResetPDEV);
    auto disable = driver_.Entry<PFN_DrvDisablePDEV>(INDEX_DrvDisablePDEV);
    if (reset == nullptr || !reset(pdev_, fresh)) {
        if (error) *error = LastErrorText("DrvResetPDEV failed");
        disable(fresh);
        return false;
    }
    driver_.Entry<PFN_DrvCompletePDEV>(INDEX_DrvCompletePDEV)(fresh, hdev_);
    SetEngineDevicePdev(hdev_, fresh);
    SetEngineDeviceHalftone(hdev_, gdi.ulHTPatternSize);
    SetEngineDeviceFonts(hdev_, dev.cFonts);
    if (beforeOldGoes) beforeOldGoes(pdev_, fresh);
    disable(pdev_);
    pdev_ = fresh;
    gdiInfo_ = gdi;
    devInfo_ = dev;
    return true;
}

Device::~Device() {
    if (pdev_ != nullptr) driver_.Entry<PFN_DrvDisablePDEV>(INDEX_DrvDisablePDEV)(pdev_);
    DeleteEngineDevice(hdev_);
}

}  // namespace host
