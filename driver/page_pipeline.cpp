// The page pipeline: the band surface, documents, pages and bands, and the
// hand-over of every finished band to the command library.

#include <algorithm>
#include <cstring>

#include "driver/background_image.h"
#include "driver/band_layout.h"
#include "driver/device_instance.h"
#include "driver/driver_entry.h"
#include "driver/instance_log.h"
#include "host/engine.h"
#include "platform/codepage.h"
#include "platform/heap.h"
#include "platform/last_error.h"
#include "render/text_buffer.h"

namespace {

// Bit-block transfer, stretching, text output, stroking, filling,
// stroke-and-fill, copying and alpha blending.
constexpr FLONG kBandHooks = HOOK_BITBLT | HOOK_STRETCHBLT | HOOK_TEXTOUT | HOOK_STROKEPATH |
                             HOOK_FILLPATH | HOOK_STROKEANDFILLPATH | HOOK_COPYBITS |
                             HOOK_ALPHABLEND;
static_assert(kBandHooks == 0x104EB);

constexpr POINTL kPageDone{-1, -1};

template <class Result>
Result Refuse(Result failure) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return failure;
}

ULONG BandFormat(WORD bitsPerPixel) {
    switch (bitsPerPixel) {
        case 1:
            return BMF_1BPP;
        case 8:
            return BMF_8BPP;
        case 24:
            return BMF_24BPP;
        default:
            return 0;
    }
}

// Where the page image's pixel (0, 0) lies on the sheet: with one page per
// sheet the current cell's origin (cell 1 between pages) plus the shift
// vector; with several pages per sheet the bands stay in page-image
// coordinates.
POINTL SheetOrigin(const PageGeometry& geometry) {
    if (geometry.pagesPerSheet > 1) return {0, 0};
    const int cell = std::clamp<int>(geometry.currentCell, 1, 16);
    const POINTL& origin = geometry.cells[cell - 1];
    return {origin.x + geometry.shift.x, origin.y + geometry.shift.y};
}

SIZEL BandSizeOf(const RECTL& band) {
    return {band.right - band.left, band.bottom - band.top};
}

// Fills the whole band bitmap with the colour that means white: at 1 bit per
// pixel the erase colour is the palette index 1, so every byte becomes 0xFF;
// an 8-bit band is a gray band where 255 is white, so its byte is the erase
// colour's low byte (0xFF for 0xFFFFFF); a 24-bit band takes the colour's
// three bytes, low byte first.
void EraseBand(SURFOBJ* band, ULONG eraseColour) {
    if (band == nullptr || band->pvScan0 == nullptr || band->sizlBitmap.cy <= 0) return;
    const std::size_t rowBytes =
        static_cast<std::size_t>(band->lDelta < 0 ? -band->lDelta : band->lDelta);
    auto* scan0 = static_cast<BYTE*>(band->pvScan0);
    const BYTE colour[3] = {static_cast<BYTE>(eraseColour), static_cast<BYTE>(eraseColour >> 8),
                            static_cast<BYTE>(eraseColour >> 16)};
    for (LONG y = 0; y < band->sizlBitmap.cy; ++y) {
        BYTE* row = scan0 + static_cast<std::ptrdiff_t>(y) * band->lDelta;
        switch (band->iBitmapFormat) {
            case BMF_1BPP:
                std::memset(row, (eraseColour & 1) != 0 ? 0xFF : 0x00, rowBytes);
                break;
            case BMF_24BPP:
                for (std::size_t i = 0; i < rowBytes; ++i) row[i] = colour[i % 3];
                break;
            default:
                std::memset(row, colour[0], rowBytes);
                break;
        }
    }
}

// A band surface the walk can use: bits and a size.
bool UsableBand(const SURFOBJ* surface) {
    return surface->pvScan0 != nullptr && surface->sizlBitmap.cx > 0 &&
           surface->sizlBitmap.cy > 0 && surface->lDelta != 0;
}

void ReplaceJobName(DeviceInstance* instance, const WCHAR* documentName) {
    if (instance->jobName != nullptr) HeapFree(instance->heap, 0, instance->jobName);
    instance->jobName = nullptr;
    if (documentName == nullptr) return;
    const int bytes =
        WideCharToMultiByte(CP_ACP, 0, documentName, -1, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0) return;
    auto* name = static_cast<char*>(HeapAlloc(instance->heap, 0, static_cast<SIZE_T>(bytes)));
    if (name == nullptr) return;
    if (WideCharToMultiByte(CP_ACP, 0, documentName, -1, name, bytes, nullptr, nullptr) != bytes) {
        HeapFree(instance->heap, 0, name);
        return;
    }
    instance->jobName = name;
}

// Sizes and creates the band bitmap; logs its own errors.
HBITMAP CreateBandBitmap(DeviceInstance* instance, SIZEL* size) {
    if (GeometryIsStale(instance->geometry))
        ComputePageGeometry(instance->devmode, &instance->geometry);
    const PageGeometry& geometry = instance->geometry;
    const WORD bits = geometry.bitsPerPixel;
    const ULONG format = BandFormat(bits);
    if (format == 0) return {};
    const SIZEL page = PageImageSize(geometry);
    // The band rule divides by the page's sides: an empty page has no band.
    if (page.cx <= 0 || page.cy <= 0) {
        InstanceLog(*instance, kLogLevelOrdinary, " ERROR:PageImageSize(%d,%d).\n", page.cx,
                    page.cy);
        return {};
    }
    FLONG flags = BMF_TOPDOWN | BMF_NOZEROINIT;
    if (instance->printerData.flags & kFlagBandInUserMemory) flags |= BMF_USERMEM;

    HBITMAP bitmap{};
    if (instance->printerData.flags & kFlagWholePageBand) {
        *size = page;
        bitmap = EngCreateBitmap(page, BandStride(bits, page.cx), format, flags, nullptr);
    }
    for (DWORD budget = kBandBudget; !bitmap && budget > 0; budget /= 2) {
        *size = BandBitmapSize(geometry.bandDirection, bits, page, budget);
        if (size->cx > 0 && size->cy > 0)
            bitmap = EngCreateBitmap(*size, BandStride(bits, size->cx), format, flags, nullptr);
    }
    if (!bitmap) InstanceLog(*instance, kLogLevelOrdinary, " ERROR:Cannot get band Memory.\n");
    return bitmap;
}

HSURF EnableBandSurface(DeviceInstance* instance, SIZEL* size) {
    HBITMAP bitmap = CreateBandBitmap(instance, size);
    if (!bitmap) return {};
    const HSURF surface{bitmap.value};
    if (!EngAssociateSurface(surface, instance->hdev, kBandHooks)) {
        InstanceLog(*instance, kLogLevelOrdinary, " ERROR:EngAssociateSurface().\n");
        EngDeleteSurface(surface);
        return {};
    }
    if (!EngMarkBandingSurface(surface)) {
        InstanceLog(*instance, kLogLevelOrdinary, " ERROR:EngMarkBandingSurface().\n");
        EngDeleteSurface(surface);
        return {};
    }
    return surface;
}

// The first page of the document binds the command library and opens its
// job: enable, the settings block, the document.
bool OpenCommandJob(DeviceInstance* instance) {
    CommandBinding* binding = &instance->command;
    if (CommandLibraryBound(*binding)) return true;  // already opened for this document
    if (!BindCommandLibrary(binding, instance->moduleFileName)) {
        InstanceLog(*instance, kLogLevelOrdinary, " ERROR:LoadCommandLibrary()\n");
        return false;
    }
    if (!CallCmndEnableExtPDEV(binding, instance->dm, instance->printer)) {
        InstanceLog(*instance, kLogLevelOrdinary, " ERROR:CallCmndEnableExtPDEV()\n");
        return false;
    }
    CallCommandEscape(binding, kEscapePrinterData, sizeof(PrinterData), &instance->printerData);
    if (!CallCmndStartDoc(binding, instance->dm, instance->jobName, instance->jobId)) {
        InstanceLog(*instance, kLogLevelOrdinary, " ERROR:CallCmndStartDoc()\n");
        return false;
    }
    return true;
}

// A failed page or band call ends the library's document and lets it go.
BOOL FailBand(DeviceInstance* instance, const char* error) {
    InstanceLog(*instance, kLogLevelOrdinary, error);
    EndCommandJob(&instance->command);
    UnbindCommandLibrary(&instance->command);
    instance->state |= kStateJobFailed;
    InstanceLog(*instance, kLogLevelOrdinary, "Leave DrvNextBand() return FALSE.\n");
    return FALSE;
}

}  // namespace

HSURF DrvEnableSurface(DHPDEV pdev) {
    DeviceInstance* instance = AsInstance(pdev);
    if (!IsValidInstance(instance)) return Refuse(HSURF{});
    InstanceLog(*instance, kLogLevelOrdinary, "Enter DrvEnableSurface()\n");
    SIZEL size{};
    const HSURF surface = EnableBandSurface(instance, &size);
    if (!surface) {
        InstanceLog(*instance, kLogLevelOrdinary, "Leave DrvEnableSurface() ret:0\n");
        return {};
    }
    // A second enable replaces the first surface rather than losing it.
    if (instance->bandSurface) EngDeleteSurface(instance->bandSurface);
    instance->bandSurface = surface;
    InstanceLog(*instance, kLogLevelOrdinary, "Leave DrvEnableSurface() ret:0x%x sizlBmp(%d,%d)\n",
                static_cast<unsigned>(surface.value), size.cx, size.cy);
    return surface;
}

void DrvDisableSurface(DHPDEV pdev) {
    DeviceInstance* instance = AsInstance(pdev);
    if (!IsValidInstance(instance)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return;
    }
    InstanceLog(*instance, kLogLevelOrdinary, "Enter DrvDisableSurface()\n");
    if (instance->bandSurface) EngDeleteSurface(instance->bandSurface);
    instance->bandSurface = {};
}

BOOL DrvStartDoc(SURFOBJ* surface, LPWSTR documentName, DWORD jobId) {
    DeviceInstance* instance = SurfaceInstance(surface);
    if (instance == nullptr) return Refuse(FALSE);
    const bool byReset = (instance->state & kStateCreatedByReset) != 0;
    const WCHAR* shownName = documentName != nullptr ? documentName : u"NULL";
    InstanceLog(*instance, kLogLevelOrdinary,
                "Enter DrvStartDoc() JobID:0x%x JobName:[%S] Reset:?%d\n", jobId, shownName,
                byReset ? 1 : 0);
    instance->state |= kStateInDocument;
    if (!byReset) {
        instance->pageNumber = 1;
        instance->jobId = jobId;
        ReplaceJobName(instance, documentName);
        if (!InitDevText(&instance->textBuf)) {
            InstanceLog(*instance, kLogLevelOrdinary, " ERROR:InitDevText() return FALSE.\n");
            return FALSE;
        }
    }
    InstanceLog(*instance, kLogLevelOrdinary, "DrvStartDoc() return TRUE.\n");
    return TRUE;
}

BOOL DrvStartPage(SURFOBJ* surface) {
    DeviceInstance* instance = SurfaceInstance(surface);
    if (instance == nullptr) return Refuse(FALSE);
    InstanceLog(*instance, kLogLevelOrdinary, "Enter DrvStartPage()\n");
    if (instance->state & kStateJobFailed) {
        InstanceLog(*instance, kLogLevelOrdinary, "Leave DrvStartPage() return FALSE.\n");
        return FALSE;
    }
    // A reset instance behaves normally from its first page on.
    instance->state &= ~kStateCreatedByReset;
    InstanceLog(*instance, kLogLevelOrdinary, "Leave DrvStartPage() return TRUE.\n");
    return TRUE;
}

BOOL DrvStartBanding(SURFOBJ* surface, POINTL* origin) {
    DeviceInstance* instance = SurfaceInstance(surface);
    if (instance == nullptr || origin == nullptr) return Refuse(FALSE);
    InstanceLog(*instance, kLogLevelOrdinary, "Enter DrvStartBanding()\n");
    // A failed job draws no more bands; a surface without bits has none to draw.
    if ((instance->state & kStateJobFailed) != 0 || !UsableBand(surface)) {
        if ((instance->state & kStateJobFailed) == 0) SetLastError(ERROR_INVALID_PARAMETER);
        InstanceLog(*instance, kLogLevelOrdinary, "Leave DrvStartBanding() return FALSE.\n");
        return FALSE;
    }
    PageGeometry& geometry = instance->geometry;
    const bool firstPage = instance->pageNumber == 1;
    if (firstPage) {
        if (GeometryIsStale(geometry)) ComputePageGeometry(instance->devmode, &geometry);
        ResetGeometryCounters(&geometry);
    }
    instance->pageImageSize = PageImageSize(geometry);
    const SIZEL page = instance->pageImageSize;
    if (page.cx <= 0 || page.cy <= 0) {
        InstanceLog(*instance, kLogLevelOrdinary, " ERROR:PageImageSize(%d,%d).\n", page.cx,
                    page.cy);
        InstanceLog(*instance, kLogLevelOrdinary, "Leave DrvStartBanding() return FALSE.\n");
        return Refuse(FALSE);
    }
    instance->band =
        FirstBand(geometry.bandDirection, SheetOrigin(geometry), surface->sizlBitmap, page);
    const SIZEL band = BandSizeOf(instance->band);
    instance->bandClip = {0, 0, band.cx, band.cy};
    EraseBand(surface, instance->palette.eraseColour);
    DrawBackgroundImage(*instance, surface);

    instance->bandIndex = 0;
    instance->state |= kStateBandBlackWhite;
    instance->bandBounds = {};

    if (firstPage && !OpenCommandJob(instance)) {
        instance->state |= kStateJobFailed;
        InstanceLog(*instance, kLogLevelOrdinary, "Leave DrvStartBanding() return FALSE.\n");
        return FALSE;
    }
    *origin = {instance->band.left, instance->band.top};
    InstanceLog(*instance, kLogLevelOrdinary,
                "DrvStartBanding() pt(%d,%d) BandRect(%d,%d,%d,%d) return TRUE.\n", origin->x,
                origin->y, instance->band.left, instance->band.top, instance->band.right,
                instance->band.bottom);
    return TRUE;
}

BOOL DrvNextBand(SURFOBJ* surface, POINTL* origin) {
    DeviceInstance* instance = SurfaceInstance(surface);
    if (instance == nullptr || origin == nullptr) return Refuse(FALSE);
    InstanceLog(*instance, kLogLevelOrdinary, "Enter DrvNextBand()\n");
    if ((instance->state & kStateJobFailed) != 0 || !UsableBand(surface)) {
        if ((instance->state & kStateJobFailed) == 0) SetLastError(ERROR_INVALID_PARAMETER);
        InstanceLog(*instance, kLogLevelOrdinary, "Leave DrvNextBand() return FALSE.\n");
        return FALSE;
    }
    PageGeometry& geometry = instance->geometry;
    CommandBinding* binding = &instance->command;
    RECTL& band = instance->band;
    instance->bandBounds = OffsetRect(instance->bandBounds, band.left, band.top);

    if (instance->bandIndex == 0) {
        BeginGeometryPage(instance->devmode, &geometry, binding);
        const SIZEL page = instance->pageImageSize;
        const RECTL pageRect{0, 0, page.cx, page.cy};
        if (!CallCmndStartPage(binding, instance->dm, &instance->pageImageSize, &pageRect,
                               instance->escapeValue))
            return FailBand(instance, " ERROR:CallCmndStartPage()\n");
    }

    const POINTL sheet = SheetOrigin(geometry);
    BandRecord record{};
    record.stride = surface->lDelta;
    record.width = surface->sizlBitmap.cx;
    record.height = surface->sizlBitmap.cy;
    record.band = OffsetRect(band, sheet.x, sheet.y);
    record.content = OffsetRect(instance->bandBounds, sheet.x, sheet.y);
    record.flags = (instance->state & kStateBandBlackWhite) != 0 ? kBandBlackWhiteOnly : 0;
    TextBuf& text = instance->textBuf;
    if (!CallCmndSendBand(binding, static_cast<const BYTE*>(surface->pvScan0), &record, text.items,
                          text.itemCount, text.data, text.dataUsed))
        return FailBand(instance, " ERROR:CallCmndSendBand()\n");
    EmptyDevText(&text);

    const bool done = AdvanceBand(geometry.bandDirection, sheet, surface->sizlBitmap,
                                  instance->pageImageSize, &band);
    if (done) {
        if (!CallCmndEndPage(binding)) return FailBand(instance, " ERROR:CallCmndEndPage()\n");
        EndGeometryPage(&geometry);
        band = {};
        *origin = kPageDone;
        instance->pageNumber += 1;
        instance->bandIndex = 0;
    } else {
        instance->bandIndex += 1;
        *origin = {band.left, band.top};
        const SIZEL size = BandSizeOf(band);
        instance->bandClip = {0, 0, size.cx, size.cy};
        EraseBand(surface, instance->palette.eraseColour);
        instance->bandBounds = {};
    }
    instance->state |= kStateBandBlackWhite;
    InstanceLog(*instance, kLogLevelOrdinary,
                "Leave DrvNextBand() pt(%d,%d) BandRect(%d,%d,%d,%d) return TRUE.\n", origin->x,
                origin->y, band.left, band.top, band.right, band.bottom);
    return TRUE;
}

BOOL DrvSendPage(SURFOBJ* surface) {
    DeviceInstance* instance = SurfaceInstance(surface);
    if (instance == nullptr) return Refuse(FALSE);
    InstanceLog(*instance, kLogLevelOrdinary, "Enter DrvSendPage()\n");
    InstanceLog(*instance, kLogLevelOrdinary, "Leave DrvSendPage() return TRUE.\n");
    return TRUE;
}

BOOL DrvEndDoc(SURFOBJ* surface, FLONG) {
    DeviceInstance* instance = SurfaceInstance(surface);
    if (instance == nullptr) return Refuse(FALSE);
    InstanceLog(*instance, kLogLevelOrdinary, "Enter DrvEndDoc()\n");
    EndCommandJob(&instance->command);
    if (CommandLibraryBound(instance->command)) UnbindCommandLibrary(&instance->command);
    // The next document computes its geometry afresh.
    std::memset(&instance->geometry, 0, sizeof instance->geometry);
    FreeDevText(&instance->textBuf);
    instance->state &= ~(kStateInDocument | kStateCreatedByReset);
    InstanceLog(*instance, kLogLevelOrdinary, "Leave DrvEndDoc() return TRUE.\n");
    return TRUE;
}
