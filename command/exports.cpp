// The command library's eight exports (see exports.h).
#include "command/exports.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <type_traits>

#include "command/ext_pdev.h"
#include "command/page_raster.h"
#include "command/spool_output.h"
#include "platform/heap.h"
#include "platform/last_error.h"
#include "platform/spooler.h"
#include "records/command_interface.h"

namespace {

BOOL WriteToSpooler(ExtPdev* pdev, const BYTE* bytes, DWORD count) {
    DWORD written = 0;
    return WritePrinter(pdev->printer, bytes, count, &written) && written == count;
}

const BYTE* PrivateAt(const ExtPdev& pdev, std::size_t offset, std::size_t width) {
    const std::size_t at = std::size_t{pdev.devmode.pub.dmSize} + offset;
    if (at + width > sizeof pdev.devmode) return nullptr;
    return reinterpret_cast<const BYTE*>(&pdev.devmode) + at;
}

// Pads beyond the 256 zero bytes the record holds (more than 2,048 dots) are
// cut to 256 bytes; negative pads are none.
LONG PadFromDots(DWORD dots) {
    const LONG bytes = static_cast<LONG>(dots) / 8;
    return std::clamp<LONG>(bytes, 0, static_cast<LONG>(kPadBytes));
}

WORD Result(BOOL ok) {
    return ok ? 1 : 0;
}

}  // namespace

WORD PrivateWord(const ExtPdev& pdev, std::size_t offset) {
    WORD value = 0;
    if (const BYTE* at = PrivateAt(pdev, offset, sizeof value))
        std::memcpy(&value, at, sizeof value);
    return value;
}

DWORD PrivateDword(const ExtPdev& pdev, std::size_t offset) {
    DWORD value = 0;
    if (const BYTE* at = PrivateAt(pdev, offset, sizeof value))
        std::memcpy(&value, at, sizeof value);
    return value;
}

BYTE PrivateByte(const ExtPdev& pdev, std::size_t offset) {
    const BYTE* at = PrivateAt(pdev, offset, 1);
    return at != nullptr ? *at : 0;
}

extern "C" {

// Null (ERROR_INVALID_PARAMETER) without a device mode or an output buffer,
// which must hold 65,535 bytes and outlive the record.
QLPR_EXPORT ExtPdev* CmndEnableExtPDEV(const Devmode* devmode, HANDLE printer, BYTE* buffer) {
    if (devmode == nullptr || buffer == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    auto* pdev = static_cast<ExtPdev*>(GlobalAlloc(GPTR, sizeof(ExtPdev)));
    if (pdev == nullptr) return nullptr;
    pdev->printer = printer;
    pdev->outputBuffer = buffer;
    pdev->outputFlags = kOutSpooler;
    pdev->writeHook = WriteToSpooler;
    pdev->outputCapacity = kOutputCapacity;
    pdev->outputPosition = buffer;
    pdev->outputFill = 0;
    pdev->pageFile = INVALID_HANDLE_VALUE;
    std::memcpy(&pdev->devmode, devmode, sizeof pdev->devmode);
    const bool bitmap = (PrivateByte(*pdev, kPrivOptionFlags) & kOptionBgrOrBitmapOutput) != 0;
    pdev->operations = bitmap ? BitmapTable : CommandTable;
    return pdev;
}

// Nothing is flushed. A document that never ended leaves no page files: they
// go with the job's folder.
QLPR_EXPORT WORD CmndDisableExtPDEV(ExtPdev* pdev) {
    if (pdev == nullptr) return 0;
    DiscardPageFiles(pdev);
    std::free(pdev->band.rowBuffer);
    FreePageRaster(pdev);
    GlobalFree(pdev);
    return 1;
}

QLPR_EXPORT WORD CmndStartDoc(ExtPdev* pdev, const Devmode*, const char*, DWORD jobId) {
    if (pdev == nullptr) return 0;
    pdev->jobId = jobId;
    return 1;
}

QLPR_EXPORT WORD CmndEndDoc(ExtPdev* pdev) {
    if (pdev == nullptr) return 0;
    return Result(pdev->operations.endDoc(pdev));
}

// A missing device mode keeps the record's copy; a missing page size fails.
QLPR_EXPORT WORD CmndStartPage(ExtPdev* pdev, const Devmode* devmode, const SIZEL* pageSize,
                               const RECTL* pageRect, DWORD escapeValue) {
    if (pdev == nullptr || pageSize == nullptr) return 0;
    EmitPage(pdev);  // a page whose end never came goes out before the next one
    const RECTL rect = pageRect != nullptr ? *pageRect : RECTL{0, 0, pageSize->cx, pageSize->cy};
    if (devmode != nullptr) std::memcpy(&pdev->devmode, devmode, sizeof pdev->devmode);
    pdev->pageSize = *pageSize;
    pdev->pageRect = rect;
    ++pdev->pageCount;
    pdev->escapeValue = escapeValue;
    pdev->verticalPosition = 0;
    const WORD rotation = pdev->geometry.rotation;
    pdev->pageLength = rotation == 90 || rotation == 270 ? pageSize->cx : pageSize->cy;
    pdev->leftPad = PadFromDots(PrivateDword(*pdev, kPrivLeftPad));
    pdev->rightPad = PadFromDots(PrivateDword(*pdev, kPrivRightPad));
    pdev->padMaximum = std::max(pdev->leftPad, pdev->rightPad);
    std::memset(pdev->padBytes, 0, static_cast<std::size_t>(pdev->padMaximum));
    if (pdev->pageCount == 1) pdev->operations.startDoc(pdev);
    return Result(pdev->operations.startPage(pdev));
}

QLPR_EXPORT WORD CmndEndPage(ExtPdev* pdev) {
    if (pdev == nullptr) return 0;
    const BOOL ok = pdev->operations.endPage(pdev);
    pdev->band.bandCounter = 0;
    return Result(ok);
}

// A null band record fails.
QLPR_EXPORT WORD CmndSendBand(ExtPdev* pdev, const BYTE* bits, const BandRecord* record,
                              const void* items, DWORD itemCount, const BYTE* data,
                              DWORD dataBytes) {
    if (pdev == nullptr || record == nullptr) return 0;
    BandDesc& band = pdev->band;
    band.bits = bits;
    band.plane2 = nullptr;
    band.stride = record->stride;
    band.width = record->width;
    band.height = record->height;
    band.band = record->band;
    band.content = record->content;
    band.content.left = band.content.left / 24 * 24;
    band.reserved = 0;
    band.items = static_cast<const BYTE*>(items);
    band.itemCount = items != nullptr ? itemCount : 0;
    band.currentItem = 0;
    band.textData = data;
    band.textDataSize = dataBytes;
    ++band.bandCounter;
    if (band.bandCounter == 1 && !pdev->operations.startBand(pdev, &band)) return 0;
    return Result(pdev->operations.sendBand(pdev, &band));
}

QLPR_EXPORT WORD CmndExtEscape(ExtPdev* pdev, DWORD code, DWORD size, const void* data, DWORD,
                               void*) {
    if (pdev == nullptr) return 0;
    switch (code) {
        case kEscapeGeometry:
            if (data == nullptr || size != sizeof(PageGeometry)) return 0;
            std::memcpy(&pdev->geometry, data, sizeof(PageGeometry));
            return 1;
        case kEscapePrinterData:
            if (data == nullptr || size != sizeof(PrinterData)) return 0;
            std::memcpy(&pdev->printerData, data, sizeof(PrinterData));
            return 1;
        default:
            return 1;
    }
}

}  // extern "C"

static_assert(std::is_same_v<decltype(&CmndEnableExtPDEV), PFN_CmndEnableExtPDEV>);
static_assert(std::is_same_v<decltype(&CmndDisableExtPDEV), PFN_CmndDisableExtPDEV>);
static_assert(std::is_same_v<decltype(&CmndStartDoc), PFN_CmndStartDoc>);
static_assert(std::is_same_v<decltype(&CmndEndDoc), PFN_CmndEndDoc>);
static_assert(std::is_same_v<decltype(&CmndStartPage), PFN_CmndStartPage>);
static_assert(std::is_same_v<decltype(&CmndEndPage), PFN_CmndEndPage>);
static_assert(std::is_same_v<decltype(&CmndSendBand), PFN_CmndSendBand>);
static_assert(std::is_same_v<decltype(&CmndExtEscape), PFN_CmndExtEscape>);
