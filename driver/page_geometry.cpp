// Page geometry: the sheet and page sizes the engine is told, the size of the
// page image that is banded, the cell origins when several logical pages share
// a sheet, and the page counters of a document.
//
// Resolutions: the x-resolution is the device mode's dmPrintQuality and the
// y-resolution its dmYResolution; every conversion from 0.1 mm to pixels uses
// the x-resolution, for both axes.
#include "driver/page_geometry.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "driver/command_binding.h"

namespace {

using i64 = std::int64_t;

// a × b / c rounded to the nearest integer (c > 0). Halves go away from zero,
// so a negative value rounds like its positive counterpart: a shift of −5 mm
// gives exactly the negated pixels of +5 mm.
i64 MulDivRound(i64 a, i64 b, i64 c) {
    const i64 product = a * b;
    if (product >= 0) return (product + c / 2) / c;
    return -((-product + c / 2) / c);
}

// A percentage of part in whole, truncated. A sheet without printable pixels
// has nothing to scale to, so it counts as 100 %.
i64 Percent(i64 part, i64 whole) {
    return whole > 0 ? part * 100 / whole : 100;
}

// Tenths of a millimetre to pixels at the x-resolution.
i64 ToPixels(i64 mm10, i64 xres) {
    return MulDivRound(mm10, xres, 254);
}

enum Side { kLeft, kTop, kRight, kBottom };

// The layout of a paper record. Index 0 is across (width), 1 along (length).
struct PaperLayout {
    i64 marginPx[4];
    i64 marginMm10[4];
    i64 totalPx[2];
    i64 sizeMm10[2];
    i64 printablePx[2];
    i64 printableMm10[2];
};

PaperLayout LayoutOf(const PaperRecord& paper, bool swapped, i64 xres) {
    PaperLayout layout{};
    layout.sizeMm10[0] = paper.width;
    layout.sizeMm10[1] = paper.length;
    layout.marginMm10[kLeft] = paper.marginLeft;
    layout.marginMm10[kTop] = paper.marginTop;
    layout.marginMm10[kRight] = paper.marginRight;
    layout.marginMm10[kBottom] = paper.marginBottom;
    layout.printableMm10[0] = i64{paper.width} - paper.marginRight - paper.marginLeft;
    layout.printableMm10[1] = i64{paper.length} - paper.marginBottom - paper.marginTop;
    layout.printablePx[0] = paper.printableWidth;
    layout.printablePx[1] = paper.printableHeight;
    if (swapped) {
        std::swap(layout.sizeMm10[0], layout.sizeMm10[1]);
        std::swap(layout.marginMm10[kLeft], layout.marginMm10[kTop]);
        std::swap(layout.marginMm10[kRight], layout.marginMm10[kBottom]);
        std::swap(layout.printableMm10[0], layout.printableMm10[1]);
        std::swap(layout.printablePx[0], layout.printablePx[1]);
    }
    for (int side = 0; side < 4; ++side)
        layout.marginPx[side] = ToPixels(layout.marginMm10[side], xres);
    layout.totalPx[0] = layout.printablePx[0] + layout.marginPx[kLeft] + layout.marginPx[kRight];
    layout.totalPx[1] = layout.printablePx[1] + layout.marginPx[kTop] + layout.marginPx[kBottom];
    return layout;
}

// How the logical pages sit on a sheet.
struct SheetGrid {
    i64 columns;
    i64 rows;
    bool landscape;
    bool turned;  // the logical page lies across the sheet's orientation
};

SheetGrid GridOf(const Devmode& devmode) {
    SheetGrid grid{};
    grid.landscape = devmode.pub.dmOrientation == DMORIENT_LANDSCAPE;
    switch (devmode.priv.pagesPerSheet) {
        case 1:
            grid.columns = 1, grid.rows = 1;
            break;
        case 4:
            grid.columns = 2, grid.rows = 2;
            break;
        default:
            grid.columns = grid.landscape ? 1 : 2;
            grid.rows = grid.landscape ? 2 : 1;
            break;
    }
    grid.turned = grid.landscape != (grid.columns != grid.rows);
    return grid;
}

// Rotation angle told to the command library and band direction, by the
// private rotation. An angle the validation would not let through is taken as
// no rotation.
void SetRotation(SHORT privateRotation, PageGeometry* geometry) {
    switch (privateRotation) {
        case 90:
            geometry->rotation = 270, geometry->bandDirection = 2;
            break;
        case 180:
            geometry->rotation = 180, geometry->bandDirection = 4;
            break;
        case 270:
            geometry->rotation = 90, geometry->bandDirection = 3;
            break;
        default:
            geometry->rotation = 0, geometry->bandDirection = 1;
            break;
    }
}

// The eight fill orders of the cells, by order code.
struct FillOrder {
    bool fromLastColumn;
    bool fromLastRow;
    bool downColumns;  // else along rows
};
constexpr FillOrder kFillOrders[8] = {
    {false, false, false},  // 0
    {false, false, true},   // 1
    {true, false, false},   // 2
    {true, false, true},    // 3
    {true, true, false},    // 4
    {false, true, false},   // 5
    {false, true, true},    // 6
    {true, true, true},     // 7
};

// The order codes a user chooses (0-3), seen on a sheet turned since the
// document's first page. Codes 4-7 only arise from this mapping and are kept.
constexpr WORD kRemapFromPortrait[4] = {6, 5, 1, 0};
constexpr WORD kRemapFromLandscape[4] = {3, 2, 7, 4};

WORD OrderCode(const Devmode& devmode, const SheetGrid& grid, const PageGeometry& geometry) {
    if (devmode.priv.pagesPerSheet == 2) {
        if ((devmode.priv.deviceFlags & kDeviceReversed2Up) == 0) return 0;
        // Reversed 2-up: from the second column backwards, or from the second
        // row upwards.
        return grid.columns == 2 ? 2 : 5;
    }
    const WORD code = devmode.priv.pageOrder;
    const SHORT first = geometry.firstOrientation;
    if (first == 0 || first == devmode.pub.dmOrientation || code > 3) return code;
    if (first == DMORIENT_PORTRAIT) return kRemapFromPortrait[code];
    if (first == DMORIENT_LANDSCAPE) return kRemapFromLandscape[code];
    return code;
}

// Places columns × rows cells over the logical paper's printable area, in
// the fill order of the code, then turns them with the page rotation.
// Returns how many were placed.
int PlaceCells(WORD code, const SheetGrid& grid, PageGeometry* geometry) {
    if (code >= 8) return 0;
    const FillOrder& order = kFillOrders[code];
    const i64 areaW = geometry->paperPrintable.cx;
    const i64 areaH = geometry->paperPrintable.cy;
    const i64 outerCount = order.downColumns ? grid.columns : grid.rows;
    const i64 innerCount = order.downColumns ? grid.rows : grid.columns;
    int placed = 0;
    for (i64 outer = 0; outer < outerCount; ++outer) {
        for (i64 inner = 0; inner < innerCount; ++inner) {
            i64 column = order.downColumns ? outer : inner;
            i64 row = order.downColumns ? inner : outer;
            if (order.fromLastColumn) column = grid.columns - 1 - column;
            if (order.fromLastRow) row = grid.rows - 1 - row;
            geometry->cells[placed++] = {static_cast<LONG>(column * areaW / grid.columns),
                                         static_cast<LONG>(row * areaH / grid.rows)};
        }
    }
    const i64 w = geometry->imageSize.cx;
    const i64 h = geometry->imageSize.cy;
    for (int i = 0; i < placed; ++i) {
        const i64 x = geometry->cells[i].x;
        const i64 y = geometry->cells[i].y;
        i64 nx = x;
        i64 ny = y;
        switch (geometry->rotation) {
            case 90:
                nx = y, ny = areaW - x - w;
                break;
            case 270:
                nx = areaH - y - h, ny = x;
                break;
            case 180:
                nx = areaW - x - w, ny = areaH - y - h;
                break;
            default:
                break;
        }
        geometry->cells[i] = {static_cast<LONG>(nx), static_cast<LONG>(ny)};
    }
    return placed;
}

// Until the document's first page has begun (no first orientation recorded)
// the mode's own bit decides; afterwards the bit captured at that page.
bool ReverseShift(const Devmode& devmode, const PageGeometry& geometry) {
    if (geometry.firstOrientation == 0)
        return (devmode.priv.deviceFlags & kDeviceReverseShift) != 0;
    return geometry.firstReverseShift != 0;
}

LONG Scaled(i64 value, i64 scale) {
    return static_cast<LONG>(MulDivRound(value, scale, 100));
}

}  // namespace

// The current cell (212), like the counters 228..238, belongs to the page
// sequence: it is left as it is.
void ComputePageGeometry(const Devmode& devmode, PageGeometry* geometry, bool fresh) {
    if (geometry == nullptr) return;
    if (fresh || GeometryIsStale(*geometry)) std::memset(geometry, 0, sizeof(*geometry));
    const DEVMODEW& pub = devmode.pub;
    const PrivateDevmode& priv = devmode.priv;
    const i64 xres = pub.dmPrintQuality;
    const i64 yres = pub.dmYResolution;

    const i64 gap = static_cast<WORD>(MulDivRound(50, xres, 254));  // 5 mm
    const SheetGrid grid = GridOf(devmode);
    geometry->turned = grid.turned ? 1 : 0;

    // The sheet as printed, and the logical paper a page is drawn on.
    const PaperLayout sheet = LayoutOf(priv.sheetPaper, grid.landscape, xres);
    const bool pageIsSheet = static_cast<WORD>(pub.dmPaperSize) == priv.sheetPaperCode &&
                             pub.dmPaperSize != DMPAPER_USER && grid.turned == grid.landscape;
    const PaperLayout page = pageIsSheet ? sheet : LayoutOf(priv.pagePaper, grid.turned, xres);

    geometry->paperMargin = {static_cast<LONG>(page.marginPx[kLeft]),
                             static_cast<LONG>(page.marginPx[kTop])};
    geometry->paperSize = {static_cast<LONG>(page.totalPx[0]), static_cast<LONG>(page.totalPx[1])};
    geometry->paperPrintable = {static_cast<LONG>(page.printablePx[0]),
                                static_cast<LONG>(page.printablePx[1])};

    SetRotation(priv.rotation, geometry);

    geometry->pagesPerSheet = priv.pagesPerSheet;
    std::memset(geometry->cells, 0, sizeof(geometry->cells));
    const i64 shiftX = ToPixels(i64{priv.shiftX} * 10, xres);
    const i64 shiftY = ToPixels(i64{priv.shiftY} * 10, xres);
    const bool firstLandscape = geometry->firstOrientation == DMORIENT_LANDSCAPE ||
                                (geometry->firstOrientation == 0 && grid.landscape);
    const bool flip = firstLandscape != (grid.columns != grid.rows);
    if (flip)
        geometry->shift = {static_cast<LONG>(shiftY), static_cast<LONG>(-shiftX)};
    else
        geometry->shift = {static_cast<LONG>(shiftX), static_cast<LONG>(shiftY)};

    // Page image size and scale.
    const i64 paperW = geometry->paperPrintable.cx;
    const i64 paperH = geometry->paperPrintable.cy;
    i64 imageW = paperW;
    i64 imageH = paperH;
    i64 sx = 100;
    i64 sy = 100;
    if (priv.layoutFlags & kLayoutFixedZoom) {
        // A fixed zoom places no cells.
        sx = sy = priv.zoom;
        geometry->imageSize = {static_cast<LONG>(imageW), static_cast<LONG>(imageH)};
    } else {
        bool fitted = false;
        if (priv.pagesPerSheet > 1) {
            // A cell narrower than the gaps between cells has no room at all.
            imageW = std::max<i64>(0, (paperW - (grid.columns - 1) * gap) / grid.columns);
            imageH = std::max<i64>(0, (paperH - (grid.rows - 1) * gap) / grid.rows);
            fitted = true;
        } else if (priv.layoutFlags & (kLayoutFitToSheet | kLayoutFitToSheet2)) {
            fitted = true;
        }
        if (fitted) {
            const i64 scale = std::min(Percent(imageW, sheet.printablePx[0]),
                                       Percent(imageH, sheet.printablePx[1]));
            sx = sy = scale;
            if (scale != 100) {
                imageW = MulDivRound(sheet.printablePx[0], scale, 100);
                imageH = MulDivRound(sheet.printablePx[1], scale, 100);
            }
        }
        geometry->imageSize = {static_cast<LONG>(imageW), static_cast<LONG>(imageH)};

        if (priv.pagesPerSheet > 1) {
            const int placed = PlaceCells(OrderCode(devmode, grid, *geometry), grid, geometry);
            const i64 sign = ReverseShift(devmode, *geometry) ? -1 : 1;
            for (int i = 0; i < placed; ++i) {
                geometry->cells[i].x = static_cast<LONG>(geometry->cells[i].x + sign * shiftX);
                geometry->cells[i].y = static_cast<LONG>(geometry->cells[i].y + sign * shiftY);
            }
        }
    }

    // With the scale recorded for the command library the engine draws unscaled.
    if (priv.layoutFlags & kLayoutScaleToCommand) {
        geometry->recordedScale = static_cast<SHORT>(sx);
        sx = sy = 100;
    } else {
        geometry->recordedScale = 100;
    }

    // The resolutions are scaled with truncation, the pixel sizes rounded.
    i64 printableMm10W = sheet.printableMm10[0];
    i64 printableMm10H = sheet.printableMm10[1];
    i64 dpiX = xres * sx / 100;
    i64 dpiY = yres * sy / 100;
    if (pub.dmScale != 100) {
        printableMm10W = printableMm10W * pub.dmScale / 100;
        printableMm10H = printableMm10H * pub.dmScale / 100;
        dpiX = dpiX * pub.dmScale / 100;
        dpiY = dpiY * pub.dmScale / 100;
    }
    geometry->printableWidthMm10 = static_cast<LONG>(printableMm10W);
    geometry->printableHeightMm10 = static_cast<LONG>(printableMm10H);
    geometry->dpiX = static_cast<LONG>(dpiX);
    geometry->dpiY = static_cast<LONG>(dpiY);
    geometry->physSize = {Scaled(sheet.totalPx[0], sx), Scaled(sheet.totalPx[1], sy)};
    geometry->physOffset = {Scaled(sheet.marginPx[kLeft], sx), Scaled(sheet.marginPx[kTop], sy)};
    geometry->horzRes = Scaled(sheet.printablePx[0], sx);
    geometry->vertRes = Scaled(sheet.printablePx[1], sy);

    geometry->bitsPerPixel = static_cast<WORD>(pub.dmBitsPerPel);
    geometry->colourMode = static_cast<SHORT>(priv.colourMode);
    geometry->renderFlags = (priv.optionFlags & kOptionOwnRendering) != 0 ? kOwnRendering : 0;
    geometry->status = kGeometryValid;
}

SIZEL PageImageSize(const PageGeometry& geometry) {
    return geometry.pagesPerSheet > 1 ? geometry.imageSize : geometry.paperPrintable;
}

void BeginGeometryPage(const Devmode& devmode, PageGeometry* geometry, CommandBinding* binding) {
    if (geometry == nullptr) return;
    if (geometry->cellsUsed == 0)
        geometry->sheetsBegun = static_cast<SHORT>(geometry->sheetsBegun + 1);
    if (geometry->currentCell == 0) geometry->currentCell = 1;
    if (geometry->pagesBegun == 0) {
        const SheetGrid grid = GridOf(devmode);
        geometry->firstOrientation = devmode.pub.dmOrientation;
        geometry->firstSheetOrientation = grid.landscape != (grid.columns == grid.rows) ? 1 : 2;
        geometry->firstReverseShift = (devmode.priv.deviceFlags & kDeviceReverseShift) ? 1 : 0;
    }
    geometry->pagesBegun = static_cast<SHORT>(geometry->pagesBegun + 1);
    geometry->cellsUsed = static_cast<WORD>(geometry->cellsUsed + 1);
    if (binding != nullptr)
        CallCommandEscape(binding, kEscapeGeometry, sizeof(PageGeometry), geometry);
}

void EndGeometryPage(PageGeometry* geometry) {
    if (geometry == nullptr) return;
    geometry->currentCell = 0;
    // A sheet is full at its page count; a count of 0 is taken as one page,
    // and a count passed by a carried-over counter ends the sheet as well.
    const int perSheet = std::max<int>(geometry->pagesPerSheet, 1);
    if (geometry->cellsUsed >= perSheet) geometry->cellsUsed = 0;
}

void ResetGeometryCounters(PageGeometry* geometry) {
    if (geometry == nullptr) return;
    geometry->sheetsBegun = 0;
    geometry->pagesBegun = 0;
    geometry->cellsUsed = 0;
}

namespace {

// Change-mask bits; bit 0 asks the command library for a new sheet.
constexpr DWORD kNewSheet = 0x01;
constexpr DWORD kChangeSheetPaper = 0x05;
constexpr DWORD kChangeMediaType = 0x09;
constexpr DWORD kChangeSource = 0x11;
constexpr DWORD kChangeShift = 0x21;
constexpr DWORD kChangeColourMode = 0x41;
constexpr DWORD kChangeCopies = 0x81;
constexpr DWORD kChangeDuplex = 0x101;
constexpr DWORD kChangePagesPerSheet = 0x201;
constexpr DWORD kChangeOrder = 0x401;
constexpr DWORD kReverseOrder = 0x801;
constexpr DWORD kChangeCollate = 0x1001;

constexpr std::size_t kCountersOffset = offsetof(PageGeometry, sheetsBegun);
constexpr std::size_t kFirstPageOffset = offsetof(PageGeometry, firstOrientation);
constexpr std::size_t kSheetLayoutOffset = offsetof(PageGeometry, paperMargin);
constexpr std::size_t kSheetLayoutEnd = offsetof(PageGeometry, pagesPerSheet);

}  // namespace

void CarryGeometry(const Devmode& oldMode, const PageGeometry& oldGeometry, Devmode* newMode,
                   PageGeometry* newGeometry, CommandBinding* binding) {
    if (newMode == nullptr || newGeometry == nullptr || oldGeometry.pagesBegun == 0) return;
    // The new record is recomputed below with the carried counters; it must
    // hold a geometry already, or the recompute would zero them.
    if (GeometryIsStale(*newGeometry)) ComputePageGeometry(*newMode, newGeometry, true);
    auto* newBytes = reinterpret_cast<BYTE*>(newGeometry);
    const auto* oldBytes = reinterpret_cast<const BYTE*>(&oldGeometry);
    std::memcpy(newBytes + kCountersOffset, oldBytes + kCountersOffset,
                sizeof(PageGeometry) - kCountersOffset);

    const DEVMODEW& op = oldMode.pub;
    const DEVMODEW& np = newMode->pub;
    const PrivateDevmode& oq = oldMode.priv;
    PrivateDevmode& nq = newMode->priv;
    DWORD mask = 0;
    if (op.dmDuplex != np.dmDuplex) mask |= kChangeDuplex;
    if (op.dmCopies != np.dmCopies) mask |= kChangeCopies;
    if ((oq.layoutFlags | nq.layoutFlags) & kLayoutReverseOrder) mask |= kReverseOrder;
    if (op.dmCollate != np.dmCollate) mask |= kChangeCollate;

    if (oldGeometry.pagesPerSheet > 1) {
        const bool sameSheetPaper = oq.sheetPaperCode == nq.sheetPaperCode;
        // Keeping the sheet's layout only matters while cells of it are in
        // use; a sheet not yet begun is laid out by the new mode alone.
        if (oldGeometry.cellsUsed != 0) {
            if (!sameSheetPaper) mask |= kChangeSheetPaper;
            if (op.dmMediaType != np.dmMediaType) mask |= kChangeMediaType;
            if (op.dmDefaultSource != np.dmDefaultSource) mask |= kChangeSource;
            if (oq.colourMode != nq.colourMode) mask |= kChangeColourMode;
            if (oq.shiftX != nq.shiftX || oq.shiftY != nq.shiftY) mask |= kChangeShift;
            if (oq.pagesPerSheet != nq.pagesPerSheet) mask |= kChangePagesPerSheet;
            if (oq.pageOrder != nq.pageOrder) mask |= kChangeOrder;

            // "Field 234 matches" is read as: the first page's orientation is
            // the new orientation.
            const bool sameLayout = op.dmOrientation == np.dmOrientation &&
                                    op.dmPaperSize == np.dmPaperSize &&
                                    oldGeometry.firstOrientation == np.dmOrientation;
            if (sameSheetPaper && (mask & kNewSheet) == 0 && !sameLayout) {
                nq.deviceFlags =
                    (nq.deviceFlags & ~kDeviceReversed2Up) | (oq.deviceFlags & kDeviceReversed2Up);
                ComputePageGeometry(*newMode, newGeometry, false);
                std::memcpy(newBytes + kSheetLayoutOffset, oldBytes + kSheetLayoutOffset,
                            kSheetLayoutEnd - kSheetLayoutOffset);
                const int inUse = std::min<int>(oldGeometry.cellsUsed, 16);
                std::memcpy(newGeometry->cells, oldGeometry.cells, sizeof(POINTL) * inUse);
            }
        }
        if (!sameSheetPaper)
            std::memset(newBytes + kFirstPageOffset, 0, sizeof(PageGeometry) - kFirstPageOffset);
    }

    if (mask & kNewSheet) {
        const BYTE data[4] = {static_cast<BYTE>(mask), static_cast<BYTE>(mask >> 8),
                              static_cast<BYTE>(mask >> 16), static_cast<BYTE>(mask >> 24)};
        CallCommandEscape(binding, kEscapeNewSheet, sizeof(data), data);
        newGeometry->cellsUsed = 0;
    }
}
