// The command library's job record and its parts: ExtPdev, one per device
// context, whose address is the job handle the graphics driver passes to
// every export; the band being encoded (BandDesc); and the seven-slot table
// of job steps (OperationTable) chosen once when the record is made.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "platform/rect.h"
#include "platform/types.h"
#include "records/band_record.h"
#include "records/devmode_private.h"
#include "records/page_geometry.h"
#include "records/printer_data.h"
#include "records/text_item.h"

// Output flags (ExtPdev::outputFlags).
inline constexpr DWORD kOutFailed = 0x002;    // every later write is refused
inline constexpr DWORD kOutSpooler = 0x004;   // the buffer goes to the spooler
inline constexpr DWORD kOutPageFile = 0x008;  // the buffer goes to the open page file
inline constexpr DWORD kOutCollate = 0x010;
inline constexpr DWORD kOutMiddle = 0x020;
inline constexpr DWORD kOutFirstSheet = 0x040;
inline constexpr DWORD kOutLastSheet = 0x080;
inline constexpr DWORD kOutEven = 0x200;  // an even page with dualside 2
inline constexpr DWORD kOutPageOne = 0x400;
inline constexpr DWORD kOutFinal = 0x800;  // the final page of the job
inline constexpr DWORD kOutPageKinds =
    kOutMiddle | kOutFirstSheet | kOutLastSheet | kOutPageOne | kOutFinal;

inline constexpr DWORD kOutputCapacity = 0xFFFF;
inline constexpr DWORD kPadBytes = 256;
inline constexpr DWORD kTempPathChars = 260;

// Events of the command stream.
inline constexpr int kEventStartDoc = 1;
inline constexpr int kEventStartPage = 2;
inline constexpr int kEventEndPage = 4;
inline constexpr int kEventEndDoc = 8;

// Private device-mode fields the library reads, as byte offsets from the end
// of the public part.
inline constexpr std::size_t kPrivOptionFlags = 8;
inline constexpr std::size_t kPrivLayoutFlags = 12;
inline constexpr std::size_t kPrivLeftPad = 632;
inline constexpr std::size_t kPrivRightPad = 636;
inline constexpr std::size_t kPrivColourMode = 640;  // 16 bits
inline constexpr std::size_t kPrivDualSide = 1400;
inline constexpr std::size_t kPrivStoredImageMiddleStart = 1962;  // to 1968: middle and last pages
inline constexpr std::size_t kPrivBlankSkipping = 1956;

// Colour mode of two printing planes (two-colour bands).
inline constexpr WORD kColourTwoPlanes = 3;

// The band being encoded, filled by CmndSendBand.
struct BandDesc {
    const BYTE* bits;    // first row of the band bitmap
    const BYTE* plane2;  // set in converted copies only
    LONG stride;
    LONG width;
    LONG height;
    RECTL band;
    RECTL content;  // left edge rounded down to a multiple of 24
    DWORD reserved;
    const BYTE* items;  // the band's 26-byte TextRecords
    DWORD itemCount;
    LONG currentItem;
    const BYTE* textData;
    DWORD textDataSize;
    DWORD bitsPerPixel;  // set by the start-of-band operation
    BYTE* rowBuffer;     // bitmap output only
    DWORD rowBufferSize;
    BYTE* rowBufferEnd;
    WORD bandCounter;  // bands received on this page
};

// The halftoning's state, set up for each band of 8 or 24 bits per pixel and
// cleared after it.
struct HalftonePlane {
    DWORD kind;  // 1, 2 (two planes) or 3 (one plane)
    BYTE* bits;
    SHORT* errorRows[2];  // current and next row, error diffusion only
};
struct HalftoneState {
    DWORD method;  // dmDitherType
    DWORD planeCount;
    HalftonePlane planes[2];
    LONG outputStride;
    LONG outputWidth;
    LONG outputRows;
    DWORD bytesPerPixel;
};

struct ExtPdev;
struct PageRaster;

// The job steps; each takes the record first and gives 1 or 0.
struct OperationTable {
    BOOL (*startDoc)(ExtPdev* pdev);
    BOOL (*endDoc)(ExtPdev* pdev);
    BOOL (*startPage)(ExtPdev* pdev);
    BOOL (*endPage)(ExtPdev* pdev);
    BOOL (*startBand)(ExtPdev* pdev, BandDesc* band);
    BOOL (*sendBand)(ExtPdev* pdev, BandDesc* band);
    BOOL (*writeRow)(ExtPdev* pdev, const BYTE* bytes, DWORD count);
};

using RevertHook = HANDLE (*)();
using ImpersonateHook = BOOL (*)(HANDLE token);
using WriteHook = BOOL (*)(ExtPdev* pdev, const BYTE* bytes, DWORD count);

struct ExtPdev {
    HANDLE printer;
    DWORD escapeValue;
    Devmode devmode;
    PageGeometry geometry;
    PrinterData printerData;
    DWORD jobId;
    DWORD outputFlags;
    LONG pageCount;  // during a replay, the page being replayed
    BYTE* outputBuffer;
    SIZEL pageSize;
    RECTL pageRect;
    BandDesc band;
    LONG verticalPosition;
    LONG pageLength;
    WORD style;
    LONG font;
    DWORD outputCapacity;
    BYTE* outputPosition;
    DWORD outputFill;
    LONG copies;
    HANDLE pageFile;  // INVALID_HANDLE_VALUE when none is open
    // The job's own folder for its page files (ANSI, ending in a
    // separator), made at page 1 when the job needs page files and removed
    // at its end; empty otherwise.
    char tempDirectory[kTempPathChars];
    BYTE padBytes[kPadBytes];
    LONG padMaximum;
    LONG leftPad;
    LONG rightPad;
    HalftoneState halftone;
    RevertHook revertHook;
    ImpersonateHook impersonateHook;
    WriteHook writeHook;
    OperationTable operations;
    // A page is being written in file mode, whether or not its file could be
    // made: the page is finished (its buffer flushed, its replay run) either way.
    BOOL pageInFile;
    PageRaster* page;  // the page being gathered from its bands (page_raster.h)
};
static_assert(std::is_trivially_copyable_v<ExtPdev>);

extern const OperationTable CommandTable;
extern const OperationTable BitmapTable;

// Fields of the record's device mode. Private fields lie at dmSize plus the
// offset; one that would reach past the 2,222 bytes reads as 0.
WORD PrivateWord(const ExtPdev& pdev, std::size_t offset);
DWORD PrivateDword(const ExtPdev& pdev, std::size_t offset);
BYTE PrivateByte(const ExtPdev& pdev, std::size_t offset);
inline WORD DualSide(const ExtPdev& pdev) {
    return PrivateWord(pdev, kPrivDualSide);
}

// The record's page sequencing of the command output (spool_output.cpp).
// The control command groups of the four events (kEventStartDoc ..
// kEventEndDoc); the document end group ends with a flush, whose result it
// gives, the others give 1 (event_commands.cpp).
BOOL SendEventCommands(ExtPdev* pdev, int event);
