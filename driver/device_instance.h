// The device instance: the one record every driver function receives as its
// device handle. It comes from its own private heap, zero-filled, and is
// valid only while both copies of its signature hold.
#pragma once

#include "barcode/barcode_request.h"
#include "driver/command_binding.h"
#include "driver/config.h"
#include "records/devmode_private.h"
#include "driver/page_geometry.h"
#include "records/printer_data.h"
#include "driver/settings.h"
#include "host/winddi.h"
#include "platform/types.h"
#include "render/text_buffer.h"

inline constexpr DWORD kInstanceSignature = 0x44534332;  // "2CSD" in memory

// state bits
inline constexpr DWORD kStateInDocument = 0x4;
inline constexpr DWORD kStateJobFailed = 0x8;
inline constexpr DWORD kStateBandBlackWhite = 0x800;
inline constexpr DWORD kStateCreatedByReset = 0x100000;

struct PaletteInfo {
    HPALETTE hpal;
    DWORD eraseColour;  // the colour index or RGB value that means white
};

struct BarcodeBinding {
    HMODULE module;
    PFN_BarcodeBlock barcodeBlock;
};

struct DeviceFontEntry;

struct DeviceInstance {
    DWORD signature;
    HANDLE heap;
    HANDLE printer;
    HMODULE module;
    DWORD escapeValue;
    PrinterDataObj* dataObj;
    PrinterData printerData;
    HDEV hdev;
    PaletteInfo palette;
    HSURF bandSurface;
    CustomPaperList customPapers;
    WCHAR moduleFileName[260];
    CommandBinding command;
    BarcodeBinding barcodeLib;
    char* jobName;
    DWORD state;
    LONG pageNumber;
    DWORD jobId;
    SIZEL pageImageSize;
    RECTL band;
    RECTL bandClip;
    RECTL bandBounds;
    LONG bandIndex;
    Devmode devmode;
    Devmode* dm;
    PageGeometry geometry;
    DWORD deviceFontCount;
    DeviceFontEntry* deviceFonts;
    TextBuf textBuf;
    BYTE textFlags;
    BYTE* fontSubstitutions;
    DWORD fontSubstitutionsSize;
    DWORD signatureEnd;
};

// Non-null and both signatures in place.
bool IsValidInstance(const DeviceInstance* instance);
inline DeviceInstance* AsInstance(DHPDEV pdev) { return reinterpret_cast<DeviceInstance*>(pdev); }
// The valid instance behind a surface's device handle, or null (a null
// surface included).
DeviceInstance* SurfaceInstance(const SURFOBJ* surface);
