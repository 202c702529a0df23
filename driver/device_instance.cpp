// The device instance's life: enable, complete, reset and disable, with the
// palette and the capability records.

#include "driver/device_instance.h"

#include <cstring>
#include <memory>
#include <vector>

#include "driver/capabilities.h"
#include "driver/companion.h"
#include "driver/driver_entry.h"
#include "driver/driver_globals.h"
#include "driver/driver_log.h"
#include "driver/instance_log.h"
#include "host/engine.h"
#include "platform/heap.h"
#include "platform/last_error.h"
#include "platform/module.h"
#include "platform/spooler.h"
#include "platform/wide.h"
#include "render/device_fonts.h"

namespace {

constexpr SIZE_T kInstanceHeapInitial = 8192;
constexpr SHORT kSourceCustomMasks = 700;
constexpr ULONG kPaletteWhite = 0xFFFFFF;

// Log lines of the instance once its settings block is in place.
template <class... Args>
void Log(const DeviceInstance& instance, int level, const char* format, Args... args) {
    InstanceLog(instance, level, format, args...);
}

// Log lines written before the instance has settings: the block is read from
// the printer's data.
template <class... Args>
void LogWithoutSettings(HANDLE printer, const char* format, Args... args) {
    DriverLog(Driver().module, nullptr, printer, kLogLevelOrdinary, format, args...);
}

// The configuration's own lines (values passed over, a cache not written).
void LogConfigurationLine(void* printer, const char* line) {
    LogWithoutSettings(static_cast<HANDLE>(printer), "%s", line);
}

bool OpenConfiguration(DeviceInstance* instance) {
    DriverGlobals& driver = Driver();
    EnterCriticalSection(&driver.driverInfoLock);
    DWORD needed = 0;
    bool opened = false;
    if (!GetPrinterDriverW(instance->printer, nullptr, 2, nullptr, 0, &needed) &&
        GetLastError() == ERROR_INSUFFICIENT_BUFFER && needed >= sizeof(DRIVER_INFO_2W)) {
        std::vector<BYTE> buffer(needed);
        if (GetPrinterDriverW(instance->printer, nullptr, 2, buffer.data(), needed, &needed)) {
            const auto* info = reinterpret_cast<const DRIVER_INFO_2W*>(buffer.data());
            if (info->pDataFile != nullptr) {
                instance->dataObj = OpenPrinterDataObj(
                    info->pDataFile, ConfigLog{LogConfigurationLine, instance->printer});
                opened = instance->dataObj != nullptr;
            }
        }
    }
    LeaveCriticalSection(&driver.driverInfoLock);
    return opened;
}

void BindBarcodeLibrary(DeviceInstance* instance) {
    std::u16string name = CompanionLibraryName(instance->moduleFileName, u"BRCD.DLL");
    HMODULE library = LoadLibraryW(reinterpret_cast<LPCWSTR>(name.c_str()));
    FARPROC block = library != nullptr ? GetProcAddress(library, "BarcodeBlock") : nullptr;
    if (block == nullptr) {
        if (library != nullptr) FreeLibrary(library);
        instance->barcodeLib = {};
        return;
    }
    instance->barcodeLib = {library, reinterpret_cast<PFN_BarcodeBlock>(block)};
}

bool BuildPalette(DeviceInstance* instance) {
    if (instance->geometry.bitsPerPixel == 1) {
        auto* entries = static_cast<ULONG*>(HeapAlloc(instance->heap, 0, 2 * sizeof(ULONG)));
        if (entries == nullptr) return false;
        entries[0] = 0x000000;
        entries[1] = kPaletteWhite;
        instance->palette.hpal = EngCreatePalette(PAL_INDEXED, 2, entries, 0, 0, 0);
        instance->palette.eraseColour = 1;
    } else {
        bool bgr = (instance->devmode.priv.optionFlags & kOptionBgrOrBitmapOutput) != 0;
        instance->palette.hpal = EngCreatePalette(bgr ? PAL_BGR : PAL_RGB, 0, nullptr, 0, 0, 0);
        instance->palette.eraseColour = kPaletteWhite;
    }
    return static_cast<bool>(instance->palette.hpal);
}

bool BuildDeviceFonts(DeviceInstance* instance) {
    instance->deviceFontCount = 0;
    instance->deviceFonts = nullptr;
    if ((instance->devmode.priv.deviceFlags & kDeviceFonts) == 0) return true;
    LONG count = EnumerateDeviceFonts(*instance, nullptr);
    if (count <= 0) return count == 0;
    auto* table = static_cast<DeviceFontEntry*>(
        HeapAlloc(instance->heap, HEAP_ZERO_MEMORY, sizeof(DeviceFontEntry) * static_cast<SIZE_T>(count)));
    if (table == nullptr) return false;
    if (EnumerateDeviceFonts(*instance, table) != count) return false;
    instance->deviceFonts = table;
    instance->deviceFontCount = static_cast<DWORD>(count);
    return true;
}

// The engine hands the device mode it holds: dmSize + dmDriverExtra bytes.
std::size_t DeclaredDevmodeBytes(const DEVMODEW* devmode) {
    return devmode == nullptr ? 0 : std::size_t{devmode->dmSize} + devmode->dmDriverExtra;
}

bool FillPDev(DeviceInstance* instance, const DEVMODEW* input, LPCWSTR deviceName) {
    instance->state = 0;
    instance->dm = &instance->devmode;

    std::unique_ptr<PrinterData> settings = LoadPrinterData(instance->printer, instance->dataObj);
    if (!settings) return false;
    std::memcpy(&instance->printerData, settings.get(), sizeof(PrinterData));

    DWORD needed = 0;
    if (!GetPrinterW(instance->printer, 2, nullptr, 0, &needed) && needed >= sizeof(PRINTER_INFO_2W)) {
        std::vector<BYTE> info(needed);
        GetPrinterW(instance->printer, 2, info.data(), needed, &needed);
    }
    ReadCustomPapers(instance->printer, instance->heap, &instance->customPapers);

    const bool dumps = instance->printerData.logMode == kLogDetail;
    if (dumps)
        DumpDevmode(instance->module, &instance->printerData, instance->printer, kLogLevelDetail,
                    input, "Input Devmode");

    Devmode defaults;
    BuildDefaultDevmode(*instance->dataObj, instance->printerData, instance->customPapers,
                        deviceName, &defaults);
    MergeDevmode(*instance->dataObj, instance->printerData, instance->customPapers, defaults,
                 reinterpret_cast<const BYTE*>(input), DeclaredDevmodeBytes(input), &instance->devmode);

    PrivateDevmode& priv = instance->devmode.priv;
    if (instance->devmode.pub.dmDefaultSource == kSourceCustomMasks) {
        priv.cutMask = priv.customCutMask;
        priv.feedMask = priv.customFeedMask;
    }
    ComputePageGeometry(instance->devmode, &instance->geometry, true);

    if (dumps)
        DumpDevmode(instance->module, &instance->printerData, instance->printer, kLogLevelDetail,
                    &instance->devmode.pub, "Output Devmode");
    instance->pageNumber = 0;
    if (!BuildPalette(instance)) return false;
    return BuildDeviceFonts(instance);
}

// Releases what an instance holds; the heap goes last and takes the
// instance, its strings and its font table with it.
void ReleaseInstance(DeviceInstance* instance) {
    // A document still running when the instance goes: its job, library and
    // text buffer belong to nobody else (a reset would have moved them). A
    // band surface the engine did not disable goes as well.
    EndCommandJob(&instance->command);
    UnbindCommandLibrary(&instance->command);
    FreeDevText(&instance->textBuf);
    if (instance->bandSurface) EngDeleteSurface(instance->bandSurface);
    instance->bandSurface = {};
    if (instance->palette.hpal) EngDeletePalette(instance->palette.hpal);
    instance->palette.hpal = {};
    if (instance->fontSubstitutions != nullptr) HeapFree(instance->heap, 0, instance->fontSubstitutions);
    instance->fontSubstitutions = nullptr;
    FreeCustomPapers(instance->heap, &instance->customPapers);
    if (instance->dataObj != nullptr) ClosePrinterDataObj(instance->dataObj);
    instance->dataObj = nullptr;
    if (instance->barcodeLib.module != nullptr) FreeLibrary(instance->barcodeLib.module);
    instance->barcodeLib = {};
    HANDLE heap = instance->heap;
    instance->signature = instance->signatureEnd = 0;
    HeapDestroy(heap);
}

char* CopyJobName(HANDLE heap, const char* name) {
    if (name == nullptr) return nullptr;
    std::size_t bytes = std::strlen(name) + 1;
    auto* copy = static_cast<char*>(HeapAlloc(heap, 0, bytes));
    if (copy != nullptr) std::memcpy(copy, name, bytes);
    return copy;
}

}  // namespace

bool IsValidInstance(const DeviceInstance* instance) {
    return instance != nullptr && instance->signature == kInstanceSignature &&
           instance->signatureEnd == kInstanceSignature;
}

DeviceInstance* SurfaceInstance(const SURFOBJ* surface) {
    if (surface == nullptr) return nullptr;
    DeviceInstance* instance = AsInstance(surface->dhpdev);
    return IsValidInstance(instance) ? instance : nullptr;
}

DHPDEV DrvEnablePDEV(DEVMODEW* devmode, LPWSTR, ULONG patternCount, HSURF* patterns,
                     ULONG gdiInfoSize, ULONG* gdiInfo, ULONG devInfoSize, DEVINFO* devInfo,
                     HDEV, LPWSTR deviceName, HANDLE printer) {
    LogWithoutSettings(printer, "Enter DrvEnablePDEV()\n");
    HANDLE heap = HeapCreate(0, kInstanceHeapInitial, 0);
    if (heap == nullptr) {
        LogWithoutSettings(printer, " ERROR:HEAPCREATE()\n");
        return nullptr;
    }
    auto* instance =
        static_cast<DeviceInstance*>(HeapAlloc(heap, HEAP_ZERO_MEMORY, sizeof(DeviceInstance)));
    if (instance == nullptr) {
        LogWithoutSettings(printer, " ERROR:HEAPALLOC()\n");
        HeapDestroy(heap);
        return nullptr;
    }
    instance->signature = instance->signatureEnd = kInstanceSignature;
    instance->heap = heap;
    instance->printer = printer;
    instance->module = Driver().module;
    if (instance->module == nullptr) {
        LogWithoutSettings(printer, " ERROR:EngLoadModule()\n");
        ReleaseInstance(instance);
        return nullptr;
    }
    if (!OpenConfiguration(instance)) {
        LogWithoutSettings(printer, " ERROR:OpenPrinterDataObj()\n");
        ReleaseInstance(instance);
        return nullptr;
    }
    GetModuleFileNameW(instance->module, instance->moduleFileName, 260);
    BindBarcodeLibrary(instance);
    if (instance->barcodeLib.module == nullptr) {
        ReleaseInstance(instance);
        return nullptr;
    }
    instance->fontSubstitutions =
        ReadFontSubstitutions(printer, heap, &instance->fontSubstitutionsSize);
    if (!FillPDev(instance, devmode, deviceName)) {
        LogWithoutSettings(printer, " ERROR:FillPDev()\n");
        ReleaseInstance(instance);
        return nullptr;
    }

    GDIINFO gdi;
    DEVINFO dev;
    const bool gdiFilled = FillGdiInfo(*instance, &gdi);
    if (gdiFilled) LogGdiInfo(*instance, gdi);
    if (!gdiFilled || !FillDevInfo(*instance, &dev)) {
        LogWithoutSettings(printer, " ERROR:FillDevinfo()\n");
        ReleaseInstance(instance);
        return nullptr;
    }
    if (gdiInfo != nullptr)
        std::memcpy(gdiInfo, &gdi, gdiInfoSize < sizeof gdi ? gdiInfoSize : sizeof gdi);
    if (devInfo != nullptr)
        std::memcpy(devInfo, &dev, devInfoSize < sizeof dev ? devInfoSize : sizeof dev);
    if (patterns != nullptr)
        for (ULONG i = 0; i < patternCount; ++i) patterns[i] = HSURF{};

    Log(*instance, kLogLevelOrdinary, "Leave DrvEnablePDEV() ret:0x%x\n", AddressForLog(instance));
    return reinterpret_cast<DHPDEV>(instance);
}

void DrvCompletePDEV(DHPDEV pdev, HDEV hdev) {
    DeviceInstance* instance = AsInstance(pdev);
    if (!IsValidInstance(instance)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return;
    }
    Log(*instance, kLogLevelOrdinary, "Enter DrvCompletePDEV()\n");
    instance->hdev = hdev;
    Log(*instance, kLogLevelOrdinary, "Leave DrvCompletePDEV()\n");
}

BOOL DrvResetPDEV(DHPDEV oldPdev, DHPDEV newPdev) {
    DeviceInstance* old = AsInstance(oldPdev);
    DeviceInstance* fresh = AsInstance(newPdev);
    if (!IsValidInstance(old) || !IsValidInstance(fresh)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    Log(*old, kLogLevelOrdinary, "Enter DrvResetPDEV()\n");
    if ((old->state & kStateInDocument) != 0) {
        CarryGeometry(old->devmode, old->geometry, &fresh->devmode, &fresh->geometry, &old->command);
        fresh->pageNumber = old->pageNumber;
        fresh->jobId = old->jobId;
        fresh->jobName = CopyJobName(fresh->heap, old->jobName);
        fresh->state |= kStateCreatedByReset | (old->state & kStateInDocument);
        // The running job now belongs to the new instance: the old one keeps
        // no reference that it could release.
        fresh->textBuf = old->textBuf;
        fresh->command = old->command;
        std::memcpy(fresh->moduleFileName, old->moduleFileName, sizeof fresh->moduleFileName);
        old->textBuf = {};
        old->command = {};
    }
    Log(*old, kLogLevelOrdinary, "Leave DrvResetPDEV() ret:1.\n");
    return TRUE;
}

void DrvDisablePDEV(DHPDEV pdev) {
    DeviceInstance* instance = AsInstance(pdev);
    if (!IsValidInstance(instance)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return;
    }
    Log(*instance, kLogLevelOrdinary, "Enter DrvDisablePDEV()\n");
    ReleaseInstance(instance);
}

ULONG DrvDitherColor(DHPDEV pdev, ULONG, ULONG, ULONG*) {
    DeviceInstance* instance = AsInstance(pdev);
    if (!IsValidInstance(instance)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return DCR_HALFTONE;
    }
    Log(*instance, kLogLevelOrdinary, "Enter DrvDitherColor() wBitsPixel:%d\n",
        static_cast<int>(instance->geometry.bitsPerPixel));
    return instance->geometry.bitsPerPixel == 1 ? DCR_HALFTONE : DCR_SOLID;
}
