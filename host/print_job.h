// The engine's document loop: a document of pages played into a device's
// band surface band by band, the way the graphics engine drives a banding
// printer driver.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <variant>
#include <vector>

#include "host/driver_host.h"
#include "host/pixel_bytes.h"
#include "host/winddi.h"

namespace host {

// A bitmap placed on the page: its pixels in one of the BMF_ formats the
// band uses (1, 8 or 24 bits per pixel), rows top-down, `stride` bytes apart.
struct PlacedBitmap {
    POINTL position;  // page-image coordinates of its top-left pixel
    SIZEL size;
    ULONG format;
    LONG stride;
    std::vector<BYTE> bits;
};

// An image drawn on the page the way an application's StretchDIBits reaches
// a printer driver: source pixels in any of the eight engine bitmap formats
// (BMF_1BPP .. BMF_32BPP, BMF_4RLE, BMF_8RLE), scaled onto `target`.
// Indexed formats (1, 4, 8 bits and the two run-length forms) carry their
// palette as 0x00RRGGBB entries; 16 bits are 5-5-5 (blue in the low bits),
// 24 bits blue, green, red in memory order, 32 bits blue, green, red, alpha.
// Rows are top-down `stride` bytes apart; run-length data is `bits` whole.
struct PageImage {
    SIZEL size;
    ULONG format;
    LONG stride;
    PixelBytes bits;
    std::vector<ULONG> palette;
    RECTL target;  // page-image coordinates
};

// A rectangle filled with a solid colour (0x00BBGGRR), as a PatBlt with a
// solid brush, or with a hatch of that colour on white (`hatch`: HS_
// style); with `filled` clear it is not filled. An `outline` colour draws
// a frame `outlineWidth` dots wide inside the rectangle, so that its outer
// edge is the rectangle's edge.
struct PageRectangle {
    RECTL rect;  // page-image coordinates
    ULONG colour;
    bool filled = true;
    std::optional<ULONG> hatch = std::nullopt;
    std::optional<ULONG> outline = std::nullopt;
    LONG outlineWidth = 1;
};

// The pen of a path: colour 0x00BBGGRR, width in dots, and dashes: dot
// lengths drawn and left alternately, starting with a drawn one, repeated
// along the whole path (none: solid).
struct PagePen {
    ULONG colour = 0;
    LONG width = 1;
    std::vector<LONG> dash = {};
};

// The fill of a closed path: a solid colour or a hatch of it (as a
// rectangle's), by the even-odd rule or the winding rule.
struct PageFill {
    ULONG colour = 0;
    std::optional<ULONG> hatch = std::nullopt;
    bool winding = false;
};

// Lines, polylines and polygons: points in dots (page-image coordinates),
// one open or closed figure, stroked by `pen` and/or filled by `fill`.
struct PagePath {
    std::vector<POINTL> points = {};
    bool closed = false;
    std::optional<PagePen> pen = std::nullopt;
    std::optional<PageFill> fill = std::nullopt;
};

// Text placed on the page. `position` is the top left of the text cell for
// Align::Left; for Right it is the cell's right edge, for Centre its centre.
// `face` names a device face (as the driver publishes it) or any installed
// face; `size` is the cell height in dots (device faces have their own).
struct PageText {
    POINTL position{};
    std::u16string text;
    std::u16string face;
    std::optional<LONG> size = std::nullopt;
    bool bold = false, italic = false, underline = false, strikeout = false;
    enum class Align { Left, Right, Centre } align = Align::Left;
    ULONG colour = 0;  // 0x00BBGGRR
};

using PageItem = std::variant<PageImage, PageRectangle, PagePath, PageText>;

// A dashed path is cut into at most this many pieces; one that would make
// more is not drawn.
inline constexpr std::uint64_t kMaxDashPieces = std::uint64_t{1} << 20;
// At least as many pieces as the pen's dashes cut the path into (0 when
// it is solid).
QLPR_EXPORT std::uint64_t DashPieceBound(const PagePath& path);

// One page: what is drawn on it. Placed bitmaps are copied into the band
// first; the items follow in order, each drawn through the driver's drawing
// entries as the graphics engine would call them.
struct Page {
    std::vector<PlacedBitmap> bitmaps;
    std::vector<PageItem> items;
};

// What the loop saw of one band (for progress and tests).
struct BandVisit {
    int page;       // 0-based
    POINTL origin;  // as DrvStartBanding / DrvNextBand gave it
};

// Draws one band: `band` is the band surface, `origin` the band's position
// on the page image (band pixel (0, 0) is page pixel `origin`).
using BandPainter = std::function<void(SURFOBJ* band, POINTL origin, int page)>;

// A job belongs to the driver's device that was current at Start: once the
// Device is reset, PrintPage and End refuse, and the surface (gone with the
// old driver device) is not disabled again. An empty document name reaches
// DrvStartDoc as no name (null). A page whose driver never ends its bands is
// given up after 2^20 bands.
class QLPR_EXPORT PrintJob {
  public:
    // Starts a job at the spooler for the device's printer (its job output
    // receives what the driver writes), enables the device's surface
    // (DrvEnableSurface) and starts the document (DrvStartDoc) with
    // `jobId`, or with the spooler's job id when `jobId` is 0 (as the
    // engine does). A non-empty `outputFile` receives the job instead of
    // the printer's output (printing to a file). Null with `error` set on
    // failure.
    static std::unique_ptr<PrintJob> Start(Device& device, const std::u16string& documentName,
                                           DWORD jobId, std::string* error,
                                           const std::u16string& outputFile = {});
    // Ends the document (DrvEndDoc) if still open, disables the surface.
    ~PrintJob();
    PrintJob(const PrintJob&) = delete;
    PrintJob& operator=(const PrintJob&) = delete;

    // DrvStartPage, DrvStartBanding, then for every band the painter and
    // DrvNextBand until the origin is (-1, -1), then DrvSendPage. False (with
    // `error`) when the driver refuses a step.
    bool PrintPage(const BandPainter& painter, std::string* error);
    // The same with the page's bitmaps drawn into every band they touch.
    bool PrintPage(const Page& page, std::string* error);
    // DrvEndDoc, then the spooler's job ends; the job can print no more pages.
    bool End(std::string* error);
    // Resets the device between pages, as an application changing its
    // device mode does: the driver carries the document to a new device
    // (DrvResetPDEV), whose surface is enabled before the old one is
    // disabled, and the document goes on there (DrvStartDoc again).
    bool Reset(const DEVMODEW* devmode, std::string* error);

    SURFOBJ* surface() const { return surface_; }
    const std::vector<BandVisit>& bands() const { return bands_; }
    Device& device() const { return device_; }

  private:
    explicit PrintJob(Device& device) : device_(device) {}
    Device& device_;
    DHPDEV pdev_ = nullptr;  // the driver's device that enabled the surface
    std::u16string documentName_;
    DWORD jobId_ = 0;
    bool spoolerJob_ = false;  // a job of the printer is open at the spooler  // the driver may
                               // keep the pointer while the job lives
    HSURF hsurf_{};
    SURFOBJ* surface_ = nullptr;
    bool open_ = false;
    int pages_ = 0;
    std::vector<BandVisit> bands_;
};

// Copies the part of `bitmap` that falls on the band into it (formats must
// match; anything else is left alone).
QLPR_EXPORT void DrawPlacedBitmap(SURFOBJ* band, POINTL origin, const PlacedBitmap& bitmap);

// Draws one page item into the band (band pixel (0, 0) being page pixel
// `origin`) the way the graphics engine drives a driver that hooked its
// drawing: a grey or colour image (any format but BMF_1BPP) through
// DrvStretchBlt in HALFTONE mode, scaled or not; a one-bit image through
// DrvCopyBits at its own size, else DrvStretchBlt (HALFTONE into a 1-bit
// band, COLORONCOLOR otherwise);
// a rectangle through DrvBitBlt with PATCOPY and a solid or hatch brush,
// its outline as a path (see DrawPagePath in print_job.cpp); paths through
// DrvStrokePath, DrvFillPath and DrvStrokeAndFillPath. Each call gets a
// clip of the band's rectangle and coordinates in band coordinates. An
// entry the band's surface did not hook, or that `driver` (may be null)
// lacks, is drawn by the engine's own service. False when the item is
// unusable or the drawing call fails.
QLPR_EXPORT bool DrawPageItem(SURFOBJ* band, POINTL origin, const PageItem& item,
                              const DriverHost* driver);
// The same through the entries of a driver's function table.
QLPR_EXPORT bool DrawPageItem(SURFOBJ* band, POINTL origin, const PageItem& item,
                              std::span<const DRVFN> entries);

}  // namespace host
