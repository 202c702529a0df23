// The library's entry and its three driver-level exports. Everything else is
// reached through the function table handed to the engine.

#include "driver/driver_entry.h"

#include "driver/driver_globals.h"
#include "host/engine.h"
#include "platform/last_error.h"
#include "platform/module.h"

inline constexpr DWORD DLL_PROCESS_ATTACH = 1;
inline constexpr ULONG kDriverEntryCount = 27;

DriverGlobals& Driver() {
    static DriverGlobals globals;
    return globals;
}

namespace {

PFN Entry(auto function) { return reinterpret_cast<PFN>(function); }

// The table in the order the engine receives it.
DRVFN kFunctionTable[] = {
    {INDEX_DrvEnablePDEV, Entry(DrvEnablePDEV)},
    {INDEX_DrvCompletePDEV, Entry(DrvCompletePDEV)},
    {INDEX_DrvDisablePDEV, Entry(DrvDisablePDEV)},
    {INDEX_DrvEnableSurface, Entry(DrvEnableSurface)},
    {INDEX_DrvDisableSurface, Entry(DrvDisableSurface)},
    {INDEX_DrvResetPDEV, Entry(DrvResetPDEV)},
    {INDEX_DrvEscape, Entry(DrvEscape)},
    {INDEX_DrvSendPage, Entry(DrvSendPage)},
    {INDEX_DrvStartPage, Entry(DrvStartPage)},
    {INDEX_DrvEndDoc, Entry(DrvEndDoc)},
    {INDEX_DrvStartDoc, Entry(DrvStartDoc)},
    {INDEX_DrvStartBanding, Entry(DrvStartBanding)},
    {INDEX_DrvNextBand, Entry(DrvNextBand)},
    {INDEX_DrvRealizeBrush, Entry(DrvRealizeBrush)},
    {INDEX_DrvDitherColor, Entry(DrvDitherColor)},
    {INDEX_DrvStretchBlt, Entry(DrvStretchBlt)},
    {INDEX_DrvBitBlt, Entry(DrvBitBlt)},
    {INDEX_DrvTextOut, Entry(DrvTextOut)},
    {INDEX_DrvStrokePath, Entry(DrvStrokePath)},
    {INDEX_DrvFillPath, Entry(DrvFillPath)},
    {INDEX_DrvStrokeAndFillPath, Entry(DrvStrokeAndFillPath)},
    {INDEX_DrvCopyBits, Entry(DrvCopyBits)},
    {INDEX_DrvAlphaBlend, Entry(DrvAlphaBlend)},
    {INDEX_DrvQueryDeviceSupport, Entry(DrvQueryDeviceSupport)},
    {INDEX_DrvQueryFont, Entry(DrvQueryFont)},
    {INDEX_DrvQueryFontTree, Entry(DrvQueryFontTree)},
    {INDEX_DrvQueryFontData, Entry(DrvQueryFontData)},
};
static_assert(sizeof(kFunctionTable) / sizeof(kFunctionTable[0]) == kDriverEntryCount);

// The dynamic loader stands in for the platform's call of the library entry
// at process attach: the entry receives the library's own handle.
__attribute__((constructor)) void AttachLibrary() {
    HMODULE self = nullptr;
    GetModuleHandleExW(
        GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
        reinterpret_cast<LPCWSTR>(&AttachLibrary), &self);
    DllMain(self, DLL_PROCESS_ATTACH, nullptr);
}

}  // namespace

extern "C" {

BOOL DllMain(HINSTANCE module, DWORD reason, void*) {
    if (reason == DLL_PROCESS_ATTACH) Driver().module = module;
    return TRUE;
}

BOOL DrvQueryDriverInfo(DWORD which, PVOID buffer, DWORD size, DWORD* needed) {
    if (which != DRVQUERY_USERMODE) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (needed != nullptr) *needed = sizeof(DWORD);
    if (buffer == nullptr || size < sizeof(DWORD)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    *static_cast<DWORD*>(buffer) = 1;
    return TRUE;
}

// The enable record must hold its three fields; on 32-bit systems that is
// 12 bytes, here sizeof(DRVENABLEDATA).
BOOL DrvEnableDriver(ULONG engineVersion, ULONG size, DRVENABLEDATA* data) {
    if (engineVersion < DDI_DRIVER_VERSION_NT5 || size < sizeof(DRVENABLEDATA) || data == nullptr) {
        SetLastError(ERROR_BAD_DRIVER_LEVEL);
        return FALSE;
    }
    data->iDriverVersion = DDI_DRIVER_VERSION_NT5;
    data->c = kDriverEntryCount;
    data->pdrvfn = kFunctionTable;

    DriverGlobals& driver = Driver();
    if (!driver.locksReady) {
        InitializeCriticalSection(&driver.driverInfoLock);
        InitializeCriticalSection(&driver.glyphSetLock);
        driver.locksReady = true;
    }
    if (driver.glyphSets[kGlyphSetSingleByte] == nullptr)
        driver.glyphSets[kGlyphSetSingleByte] = EngComputeGlyphSet(0, 0, 256);
    return driver.glyphSets[kGlyphSetSingleByte] != nullptr ? TRUE : FALSE;
}

void DrvDisableDriver() {
    DriverGlobals& driver = Driver();
    if (!driver.locksReady) return;
    EnterCriticalSection(&driver.glyphSetLock);
    for (FD_GLYPHSET*& set : driver.glyphSets) {
        EngFreeMem(set);
        set = nullptr;
    }
    LeaveCriticalSection(&driver.glyphSetLock);
    DeleteCriticalSection(&driver.driverInfoLock);
    DeleteCriticalSection(&driver.glyphSetLock);
    driver.locksReady = false;
}

}  // extern "C"
