// The device font queries: a font's metrics, its glyph set, and a glyph's or
// the font's extents at the size the engine realized it.

#include "driver/device_instance.h"
#include "driver/driver_entry.h"
#include "driver/driver_globals.h"
#include "driver/instance_log.h"
#include "host/engine.h"
#include "platform/last_error.h"
#include "render/device_fonts.h"
#include "render/font_extents.h"
#include "render/glyph_set_layout.h"
#include "render/glyph_sets.h"

namespace {

constexpr LONG kDeviceMetricsSize = sizeof(FD_DEVICEMETRICS);
// XFORMOBJ_iGetXform's failure.
constexpr ULONG DDI_ERROR = 0xFFFFFFFF;

// Face indexes count from 1. One out of range sets ERROR_INVALID_PARAMETER;
// the caller logs it.
bool ValidFace(const DeviceInstance& instance, ULONG face) {
    if (face != 0 && face <= instance.deviceFontCount) return true;
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
}

// Expanded on first request and shared by every device; a set that cannot
// be built (no resource, out of memory) stays unbuilt for a later try.
FD_GLYPHSET* ShiftJisGlyphSet(DriverGlobals& driver) {
    FD_GLYPHSET*& slot = driver.glyphSets[kGlyphSetShiftJis];
    if (slot == nullptr) {
        ULONG size = 0;
        const void* stored = EngFindResource(driver.module, glyphset::kShiftJisResourceId,
                                             glyphset::kShiftJisResourceType, &size);
        if (stored != nullptr) slot = ExpandStoredGlyphSet(stored, size);
    }
    return slot;
}

FD_GLYPHSET* GlyphSetOf(const DeviceFontEntry& font) {
    DriverGlobals& driver = Driver();
    if (!driver.locksReady) return nullptr;
    EnterCriticalSection(&driver.glyphSetLock);
    FD_GLYPHSET* set = font.ifi.jWinCharSet == kShiftJisCharSet
                           ? ShiftJisGlyphSet(driver)
                           : driver.glyphSets[kGlyphSetSingleByte];
    LeaveCriticalSection(&driver.glyphSetLock);
    return set;
}

LONG LeaveQueryFontData(const DeviceInstance& instance, LONG result) {
    InstanceLog(instance, kLogLevelOrdinary, "Leave DrvQueryFontData() return %d.\n", result);
    return result;
}

// A buffer too small for the device metrics is refused rather than
// overrun.
LONG MaxExtents(const DeviceInstance& instance, const DeviceFontEntry& font,
                const XFORML& transform, PVOID buffer, ULONG size) {
    if (buffer != nullptr) {
        if (size < static_cast<ULONG>(kDeviceMetricsSize)) {
            SetLastError(ERROR_INSUFFICIENT_BUFFER);
            return LeaveQueryFontData(instance, -1);
        }
        FillDeviceMetrics(font, transform, static_cast<FD_DEVICEMETRICS*>(buffer));
    }
    return LeaveQueryFontData(instance, kDeviceMetricsSize);
}

}  // namespace

IFIMETRICS* DrvQueryFont(DHPDEV pdev, ULONG_PTR, ULONG face, ULONG_PTR* id) {
    if (id != nullptr) *id = 0;
    DeviceInstance* instance = AsInstance(pdev);
    if (!IsValidInstance(instance)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    InstanceLog(*instance, kLogLevelOrdinary, "Enter DrvQueryFont() iFace:%d\n",
                static_cast<int>(face));
    if (!ValidFace(*instance, face)) {
        InstanceLog(*instance, kLogLevelOrdinary, " ERROR:iFace is Invalid No.\n");
        return nullptr;
    }
    if (instance->deviceFonts == nullptr) {
        InstanceLog(*instance, kLogLevelOrdinary, " ERROR:pDevFontInfo is Null.\n");
        return nullptr;
    }
    IFIMETRICS* metrics = &instance->deviceFonts[face - 1].ifi;
    InstanceLog(*instance, kLogLevelOrdinary, "Leave DrvQueryFont() ret:pifi:0x%x\n",
                AddressForLog(metrics));
    return metrics;
}

PVOID DrvQueryFontTree(DHPDEV pdev, ULONG_PTR, ULONG face, ULONG mode, ULONG_PTR* id) {
    if (id != nullptr) *id = 0;
    DeviceInstance* instance = AsInstance(pdev);
    if (!IsValidInstance(instance)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    InstanceLog(*instance, kLogLevelOrdinary, "Enter DrvQueryFontTree() iFace:%d iMode:%d\n",
                static_cast<int>(face), static_cast<int>(mode));
    PVOID tree = nullptr;
    if (!ValidFace(*instance, face)) {
        InstanceLog(*instance, kLogLevelOrdinary, " ERROR:iFace is Invalid No.\n");
    } else if (instance->deviceFonts != nullptr) {
        if (mode == QFT_GLYPHSET) {
            tree = GlyphSetOf(instance->deviceFonts[face - 1]);
        } else if (mode != QFT_KERNPAIRS) {  // the fonts have no kerning pairs
            InstanceLog(*instance, kLogLevelOrdinary, " ERROR:iMode is Invalid.\n");
            SetLastError(ERROR_INVALID_PARAMETER);
        }
    }
    InstanceLog(*instance, kLogLevelOrdinary, "Leave DrvQueryFontTree() ret:0x%x\n",
                AddressForLog(tree));
    return tree;
}

LONG DrvQueryFontData(DHPDEV pdev, FONTOBJ* fontObject, ULONG mode, HGLYPH glyph, GLYPHDATA* data,
                      PVOID buffer, ULONG size) {
    DeviceInstance* instance = AsInstance(pdev);
    if (!IsValidInstance(instance)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return -1;
    }
    InstanceLog(*instance, kLogLevelOrdinary, "Enter DrvQueryFontData() iMode:%d\n",
                static_cast<int>(mode));
    // A missing font object has no valid face index either.
    const ULONG face = fontObject != nullptr ? fontObject->iFace : 0;
    if (!ValidFace(*instance, face)) {
        InstanceLog(*instance, kLogLevelOrdinary, "ERROR:iFace is Invalid No.\n");
        return -1;
    }
    if (instance->deviceFonts == nullptr) {
        InstanceLog(*instance, kLogLevelOrdinary, "ERROR:pDevFontInfo is Null.\n");
        return -1;
    }
    const DeviceFontEntry* font = instance->deviceFonts + (face - 1);
    XFORML transform{};
    XFORMOBJ* transformObject = FONTOBJ_pxoGetXform(fontObject);
    if (transformObject == nullptr ||
        XFORMOBJ_iGetXform(transformObject, &transform) == DDI_ERROR) {
        InstanceLog(*instance, kLogLevelOrdinary, "ERROR:FONTOBJ_pxoGetXform().\n");
        return -1;
    }
    switch (mode) {
        case QFD_GLYPHANDBITMAP:
            if (data != nullptr) FillGlyphData(*font, transform, glyph, data);
            InstanceLog(*instance, kLogLevelOrdinary, "Leave DrvQueryFontData() return 0.\n");
            return 0;
        case QFD_MAXEXTENTS:
            return MaxExtents(*instance, *font, transform, buffer, size);
        default:
            InstanceLog(*instance, kLogLevelOrdinary, "Leave DrvQueryFontData() return -1.\n");
            return -1;
    }
}
