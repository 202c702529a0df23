// Page geometry on a 203 dpi 80 mm receipt roll: layouts, scales, cells,
// page counters and the carry-over at a reset.
#include "driver/page_geometry.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <tuple>
#include <vector>

#include "driver/command_binding.h"

namespace {

using Longs = std::vector<LONG>;
using Words = std::vector<WORD>;
using CellList = std::vector<std::pair<LONG, LONG>>;

// 80 mm roll, 72 mm printable (576 px), 327.6 mm long; paper code 120.
Devmode ReceiptMode(WORD pages = 1, SHORT orientation = DMORIENT_PORTRAIT) {
    Devmode dm{};
    dm.pub.dmOrientation = orientation;
    dm.pub.dmPaperSize = 120;
    dm.pub.dmScale = 100;
    dm.pub.dmCopies = dm.pub.dmDuplex = dm.pub.dmCollate = 1;
    dm.pub.dmPrintQuality = dm.pub.dmYResolution = 203;
    dm.pub.dmBitsPerPel = dm.pub.dmMediaType = 1;
    dm.priv.signature = kPrivateSignature;
    dm.priv.pagesPerSheet = pages;
    dm.priv.zoom = 100;
    dm.priv.sheetPaperCode = 120;
    dm.priv.colourMode = 1;
    dm.priv.sheetPaper = dm.priv.pagePaper = PaperRecord{800, 3276, 40, 0, 40, 0, 576, 2614, 0, 0};
    return dm;
}

// A4 pages (code 9) printed on the roll.
Devmode A4OnRoll(WORD pages = 1) {
    Devmode dm = ReceiptMode(pages);
    dm.pub.dmPaperSize = 9;
    dm.priv.pagePaper = PaperRecord{2100, 2970, 0, 0, 0, 0, 1678, 2374, 0, 0};
    return dm;
}

PageGeometry Compute(const Devmode& dm) {
    PageGeometry g{};
    ComputePageGeometry(dm, &g, true);
    return g;
}

// Fields 0-68: offset, size, resolution, 0.1 mm, dpi, image, paper margin,
// paper size, paper printable.
Longs Head(const PageGeometry& g) {
    Longs v(18);
    std::memcpy(v.data(), &g, 72);
    return v;
}
// Fields 212-226: cell, rendering, status, colour, scale, bits, rotation, direction.
Words Tail(const PageGeometry& g) {
    Words v(8);
    std::memcpy(v.data(), reinterpret_cast<const BYTE*>(&g) + 212, 16);
    return v;
}
CellList Cells(const PageGeometry& g, int count = 4) {
    CellList cells;
    for (int i = 0; i < count; ++i) cells.emplace_back(g.cells[i].x, g.cells[i].y);
    return cells;
}
const BYTE* At(const PageGeometry& g, std::size_t offset) {
    return reinterpret_cast<const BYTE*>(&g) + offset;
}

struct EscapeCall {
    DWORD code;
    std::vector<BYTE> data;
};
std::vector<EscapeCall> g_escapes;

CommandBool RecordEscape(ExtPdev*, DWORD code, DWORD size, const void* data, DWORD, void*) {
    const auto* bytes = static_cast<const BYTE*>(data);
    g_escapes.push_back({code, std::vector<BYTE>(bytes, bytes + size)});
    return 1;
}

struct FakeLibrary {
    FakeLibrary() {
        g_escapes.clear();
        binding.extEscape = RecordEscape;
        binding.job = reinterpret_cast<ExtPdev*>(&token);
    }
    int token = 0;
    CommandBinding binding{};
};

}  // namespace

TEST(PageGeometryLayout, OnePagePortraitIsTheSheetItself) {
    const PageGeometry g = Compute(ReceiptMode());
    // Margins of 4 mm are 31.97 px.
    EXPECT_EQ((Longs{32, 0, 640, 2614, 576, 2614, 720, 3276, 203, 203, 576, 2614, 32, 0, 640, 2614,
                     576, 2614}),
              Head(g));
    EXPECT_EQ((Words{0, 0, kGeometryValid, 1, 100, 1, 0, 1}), Tail(g));
    EXPECT_EQ(0, g.turned);
    EXPECT_EQ(1, g.pagesPerSheet);
    EXPECT_EQ((CellList{{0, 0}}), Cells(g, 1));
    EXPECT_EQ(576, PageImageSize(g).cx);
    EXPECT_EQ(2614, PageImageSize(g).cy);
}

TEST(PageGeometryLayout, LandscapeSwapsTheSheetAndTurnsTheBands) {
    Devmode dm = ReceiptMode(1, DMORIENT_LANDSCAPE);
    const std::pair<SHORT, Words> rotations[] = {
        {90, {270, 2}}, {0, {0, 1}}, {180, {180, 4}}, {270, {90, 3}}};
    for (const auto& [angle, told] : rotations) {
        dm.priv.rotation = angle;
        const PageGeometry g = Compute(dm);
        const Words tail = Tail(g);
        EXPECT_EQ(told, Words(tail.begin() + 6, tail.end())) << angle;
        EXPECT_EQ(1, g.turned);
        EXPECT_EQ((Longs{0, 32, 2614, 640, 2614, 576, 3276, 720, 203, 203, 2614, 576, 0, 32, 2614,
                         640, 2614, 576}),
                  Head(g));
    }
}

TEST(PageGeometryLayout, GapBetweenCellsIsFiveMillimetres) {
    // The sheet is one cell exactly, so the image keeps the cell size.
    Devmode dm = A4OnRoll(4);
    dm.priv.pagePaper.printableWidth = 1001;
    dm.priv.pagePaper.printableHeight = 2001;
    dm.priv.sheetPaper.printableWidth = 480;  // (1001 - 40) / 2
    dm.priv.sheetPaper.printableHeight = 980;
    const PageGeometry g = Compute(dm);
    EXPECT_EQ(480, g.imageSize.cx);
    EXPECT_EQ(980, g.imageSize.cy);
    EXPECT_EQ((CellList{{0, 0}, {500, 0}, {0, 1000}, {500, 1000}}), Cells(g));
}

TEST(PageGeometryLayout, TwoUpTurnsThePagesAndScalesToTheSheet) {
    // Cells of 1287 x 576 on the turned roll: scales 223 and 22, 22 wins.
    Devmode dm = ReceiptMode(2);
    PageGeometry g = Compute(dm);
    EXPECT_EQ(1, g.turned);
    EXPECT_EQ(
        (Longs{7, 0, 141, 575, 127, 575, 720, 3276, 44, 44, 127, 575, 0, 32, 2614, 640, 2614, 576}),
        Head(g));
    EXPECT_EQ(127, PageImageSize(g).cx);
    EXPECT_EQ((CellList{{0, 0}, {1307, 0}}), Cells(g, 2));
    dm.priv.deviceFlags = kDeviceReversed2Up;
    EXPECT_EQ((CellList{{1307, 0}, {0, 0}}), Cells(Compute(dm), 2));

    dm = ReceiptMode(2, DMORIENT_LANDSCAPE);
    g = Compute(dm);
    EXPECT_EQ(0, g.turned);
    EXPECT_EQ(
        (Longs{0, 7, 575, 141, 575, 127, 3276, 720, 44, 44, 575, 127, 32, 0, 640, 2614, 576, 2614}),
        Head(g));
    EXPECT_EQ((CellList{{0, 0}, {0, 1307}}), Cells(g, 2));
    dm.priv.deviceFlags = kDeviceReversed2Up;
    EXPECT_EQ((CellList{{0, 1307}, {0, 0}}), Cells(Compute(dm), 2));
}

TEST(PageGeometryLayout, FourUpFillOrders) {
    // Columns at 0 and 288, rows at 0 and 1307; image 265 x 1202 (scale 46).
    Devmode dm = ReceiptMode(4);
    const std::pair<WORD, CellList> orders[] = {
        {0, {{0, 0}, {288, 0}, {0, 1307}, {288, 1307}}},
        {1, {{0, 0}, {0, 1307}, {288, 0}, {288, 1307}}},
        {2, {{288, 0}, {0, 0}, {288, 1307}, {0, 1307}}},
        {3, {{288, 0}, {288, 1307}, {0, 0}, {0, 1307}}},
        {4, {{288, 1307}, {0, 1307}, {288, 0}, {0, 0}}},
        {5, {{0, 1307}, {288, 1307}, {0, 0}, {288, 0}}},
        {6, {{0, 1307}, {0, 0}, {288, 1307}, {288, 0}}},
        {7, {{288, 1307}, {288, 0}, {0, 1307}, {0, 0}}},
        {8, {{0, 0}, {0, 0}, {0, 0}, {0, 0}}},
    };
    for (const auto& [code, cells] : orders) {
        dm.priv.pageOrder = code;
        const PageGeometry g = Compute(dm);
        EXPECT_EQ(cells, Cells(g)) << "code " << code;
        EXPECT_EQ(265, g.imageSize.cx);
        EXPECT_EQ(1202, g.imageSize.cy);
    }
}

TEST(PageGeometryLayout, OrderFollowsTheFirstPageOrientation) {
    // A chosen code lays out as its counterpart does on a fresh document.
    const WORD fromLandscape[4] = {3, 2, 7, 4};
    const WORD fromPortrait[4] = {6, 5, 1, 0};
    for (SHORT now : {DMORIENT_PORTRAIT, DMORIENT_LANDSCAPE}) {
        const SHORT first = now == DMORIENT_PORTRAIT ? DMORIENT_LANDSCAPE : DMORIENT_PORTRAIT;
        for (WORD code = 0; code < 4; ++code) {
            Devmode dm = ReceiptMode(4, now);
            dm.priv.pageOrder = (first == DMORIENT_LANDSCAPE ? fromLandscape : fromPortrait)[code];
            const CellList want = Cells(Compute(dm));
            dm.priv.pageOrder = code;
            PageGeometry g = Compute(dm);
            g.firstOrientation = first;
            ComputePageGeometry(dm, &g);
            EXPECT_EQ(want, Cells(g)) << "orientation " << now << " code " << code;
            g.firstOrientation = now;  // same orientation: no remapping
            ComputePageGeometry(dm, &g);
            EXPECT_EQ(Cells(Compute(dm)), Cells(g));
        }
    }
}

TEST(PageGeometryLayout, CellsTurnWithThePage) {
    // W 576, H 2614, image 265 x 1202.
    Devmode dm = ReceiptMode(4);
    dm.priv.rotation = 180;
    EXPECT_EQ((CellList{{311, 1412}, {23, 1412}, {311, 105}, {23, 105}}), Cells(Compute(dm)));
    dm.priv.rotation = 90;  // told as 270
    EXPECT_EQ((CellList{{1412, 0}, {1412, 288}, {105, 0}, {105, 288}}), Cells(Compute(dm)));
    dm.priv.rotation = 270;  // told as 90
    EXPECT_EQ((CellList{{0, 311}, {0, 23}, {1307, 311}, {1307, 23}}), Cells(Compute(dm)));
}

TEST(PageGeometryScale, DevmodeScaleChangesOnlyTheMillimetresAndResolutions) {
    Devmode dm = ReceiptMode();
    dm.pub.dmScale = 50;
    const PageGeometry half = Compute(dm);
    PageGeometry want = Compute(ReceiptMode());
    want.printableWidthMm10 = 360;
    want.printableHeightMm10 = 1638;
    want.dpiX = want.dpiY = 101;
    EXPECT_EQ(0, std::memcmp(&want, &half, sizeof(want)));
}

TEST(PageGeometryScale, FixedZoomFitToSheetAndRecordedScale) {
    const Longs unscaled = Head(Compute(ReceiptMode()));
    Devmode dm = ReceiptMode();
    dm.priv.layoutFlags = kLayoutFixedZoom;
    dm.priv.zoom = 150;
    EXPECT_EQ((Longs{48, 0, 960, 3921, 864, 3921, 720, 3276, 304, 304, 576, 2614, 32, 0, 640, 2614,
                     576, 2614}),
              Head(Compute(dm)));
    dm.priv.layoutFlags |= kLayoutScaleToCommand;
    EXPECT_EQ(unscaled, Head(Compute(dm)));
    EXPECT_EQ(150, Compute(dm).recordedScale);
    dm.priv.pagesPerSheet = 4;  // a fixed zoom places no cells
    dm.priv.shiftX = 5;
    EXPECT_EQ((CellList{{0, 0}, {0, 0}, {0, 0}, {0, 0}}), Cells(Compute(dm)));

    // A4 on the roll: as it is, or the sheet at 90 % (scales 291 and 90).
    dm = A4OnRoll();
    EXPECT_EQ((Longs{32, 0, 640, 2614, 576, 2614, 720, 3276, 203, 203, 1678, 2374, 0, 0, 1678, 2374,
                     1678, 2374}),
              Head(Compute(dm)));
    for (DWORD fit : {kLayoutFitToSheet, kLayoutFitToSheet2}) {
        dm.priv.layoutFlags = fit;
        const PageGeometry g = Compute(dm);
        EXPECT_EQ((Longs{29, 0, 576, 2353, 518, 2353, 720, 3276, 182, 182, 518, 2353, 0, 0, 1678,
                         2374, 1678, 2374}),
                  Head(g));
        EXPECT_EQ(100, g.recordedScale);
        EXPECT_EQ(1678, PageImageSize(g).cx);  // one page a sheet: the logical paper
    }
    dm.priv.layoutFlags = kLayoutFitToSheet | kLayoutScaleToCommand;
    EXPECT_EQ((Longs{32, 0, 640, 2614, 576, 2614, 720, 3276, 203, 203, 518, 2353, 0, 0, 1678, 2374,
                     1678, 2374}),
              Head(Compute(dm)));
    EXPECT_EQ(90, Compute(dm).recordedScale);
}

TEST(PageGeometryShift, ShiftInPixelsFlippedAndReversed) {
    Devmode dm = ReceiptMode();
    dm.priv.shiftX = 5;
    dm.priv.shiftY = 2;
    PageGeometry g = Compute(dm);
    EXPECT_EQ((CellList{{0, 0}, {40, 16}}),
              (CellList{{g.cells[0].x, g.cells[0].y}, {g.shift.x, g.shift.y}}));
    dm.priv.shiftX = -5;
    EXPECT_EQ(-40, Compute(dm).shift.x);  // rounds like +5 mm
    dm.priv.shiftX = 5;

    // Flipped to (y, -x) on a landscape sheet, after a landscape first page,
    // and for 2 x 1 cells.
    dm.pub.dmOrientation = DMORIENT_LANDSCAPE;
    EXPECT_EQ(-40, Compute(dm).shift.y);
    dm.pub.dmOrientation = DMORIENT_PORTRAIT;
    g.firstOrientation = DMORIENT_LANDSCAPE;
    ComputePageGeometry(dm, &g);
    EXPECT_EQ(16, g.shift.x);
    dm.priv.pagesPerSheet = 2;
    EXPECT_EQ(16, Compute(dm).shift.x);

    // Cells move by the unflipped shift, backwards with the reverse bit.
    dm.priv.pagesPerSheet = 4;
    EXPECT_EQ((CellList{{40, 16}, {328, 16}, {40, 1323}, {328, 1323}}), Cells(Compute(dm)));
    dm.priv.deviceFlags = kDeviceReverseShift;
    g = Compute(dm);
    EXPECT_EQ((CellList{{-40, -16}, {248, -16}, {-40, 1291}, {248, 1291}}), Cells(g));

    // After the first page the bit captured then decides.
    BeginGeometryPage(dm, &g, nullptr);
    dm.priv.deviceFlags = 0;
    ComputePageGeometry(dm, &g);
    EXPECT_EQ(-40, g.cells[0].x);
    g = Compute(dm);
    BeginGeometryPage(dm, &g, nullptr);
    dm.priv.deviceFlags = kDeviceReverseShift;
    ComputePageGeometry(dm, &g);
    EXPECT_EQ(40, g.cells[0].x);
}

TEST(PageGeometryPages, CountersFollowSheetsAndPages) {
    FakeLibrary library;
    const Devmode dm = ReceiptMode(2);
    PageGeometry g = Compute(dm);
    // currentCell, sheets, pages, cells used, first orientation, sheet orientation, reverse bit
    auto counters = [&] {
        return Longs{g.currentCell,      g.sheetsBegun,           g.pagesBegun,       g.cellsUsed,
                     g.firstOrientation, g.firstSheetOrientation, g.firstReverseShift};
    };
    BeginGeometryPage(dm, &g, &library.binding);
    EXPECT_EQ((Longs{1, 1, 1, 1, 1, 2, 0}), counters());
    ASSERT_EQ(1u, g_escapes.size());
    EXPECT_EQ(kEscapeGeometry, g_escapes[0].code);
    ASSERT_EQ(sizeof(g), g_escapes[0].data.size());
    EXPECT_EQ(0, std::memcmp(&g, g_escapes[0].data.data(), sizeof(g)));
    EndGeometryPage(&g);
    EXPECT_EQ((Longs{0, 1, 1, 1, 1, 2, 0}), counters());
    BeginGeometryPage(dm, &g, &library.binding);
    EndGeometryPage(&g);
    EXPECT_EQ((Longs{0, 1, 2, 0, 1, 2, 0}), counters());  // the sheet is full
    BeginGeometryPage(dm, &g, &library.binding);
    EXPECT_EQ((Longs{1, 2, 3, 1, 1, 2, 0}), counters());
    EXPECT_EQ(3u, g_escapes.size());
    ResetGeometryCounters(&g);
    EXPECT_EQ((Longs{1, 0, 0, 0, 1, 2, 0}), counters());

    Devmode single = ReceiptMode();
    single.priv.deviceFlags = kDeviceReverseShift;
    g = Compute(single);
    BeginGeometryPage(single, &g, nullptr);
    EndGeometryPage(&g);
    EXPECT_EQ((Longs{0, 1, 1, 0, 1, 1, 1}), counters());
    single.pub.dmOrientation = DMORIENT_LANDSCAPE;
    g = Compute(single);
    BeginGeometryPage(single, &g, nullptr);
    EXPECT_EQ(2, g.firstSheetOrientation);
}

TEST(PageGeometryPages, StaleRecordsAndRecomputes) {
    PageGeometry g{};
    EXPECT_TRUE(GeometryIsStale(g));
    ComputePageGeometry(ReceiptMode(4), &g);
    EXPECT_FALSE(GeometryIsStale(g));

    BeginGeometryPage(ReceiptMode(4), &g, nullptr);
    const PageGeometry begun = g;
    ComputePageGeometry(ReceiptMode(), &g);  // the counters survive
    EXPECT_EQ(0, std::memcmp(At(begun, 228), At(g, 228), 12));
    EXPECT_EQ((CellList{{0, 0}, {0, 0}, {0, 0}, {0, 0}}), Cells(g));  // no 4-up cells left
    ComputePageGeometry(ReceiptMode(), &g, true);
    EXPECT_EQ(0, g.pagesBegun);
    EXPECT_EQ(0, g.firstOrientation);

    // A stale record is zeroed before it is computed.
    std::memset(&g, 0x5A, sizeof(g));
    g.status = 0;
    ComputePageGeometry(ReceiptMode(), &g);
    const PageGeometry clean = Compute(ReceiptMode());
    EXPECT_EQ(0, std::memcmp(&clean, &g, sizeof(g)));
}

TEST(PageGeometryPages, DegenerateModesDoNotCrash) {
    Devmode dm = ReceiptMode(4);
    dm.priv.sheetPaper.printableWidth = dm.priv.sheetPaper.printableHeight = 0;
    dm.priv.pagePaper = dm.priv.sheetPaper;
    PageGeometry g = Compute(dm);
    EXPECT_EQ(0, g.imageSize.cx);
    EXPECT_EQ(0, g.imageSize.cy);
    EXPECT_FALSE(GeometryIsStale(g));

    dm = ReceiptMode(0);
    g = Compute(dm);
    BeginGeometryPage(dm, &g, nullptr);
    EndGeometryPage(&g);
    EXPECT_EQ(0, g.cellsUsed);  // a count of 0 still ends the sheet
    ComputePageGeometry(dm, nullptr);
    BeginGeometryPage(dm, nullptr, nullptr);
}

namespace {

// The old record after one page of `old`, and the new one computed from `now`.
struct Reset {
    Reset(const Devmode& old, const Devmode& now) : oldMode(old), newMode(now) {
        oldGeometry = Compute(oldMode);
        BeginGeometryPage(oldMode, &oldGeometry, nullptr);
        EndGeometryPage(&oldGeometry);
        newGeometry = Compute(newMode);
    }
    DWORD Carry() {
        CarryGeometry(oldMode, oldGeometry, &newMode, &newGeometry, &library.binding);
        if (g_escapes.empty()) return 0;
        EXPECT_EQ(1u, g_escapes.size());
        EXPECT_EQ(kEscapeNewSheet, g_escapes[0].code);
        EXPECT_EQ(4u, g_escapes[0].data.size());
        DWORD mask = 0;
        std::memcpy(&mask, g_escapes[0].data.data(),
                    std::min<std::size_t>(4, g_escapes[0].data.size()));
        return mask;
    }
    FakeLibrary library;
    Devmode oldMode, newMode;
    PageGeometry oldGeometry{}, newGeometry{};
};

template <typename Change>
Devmode Changed(Devmode dm, Change change) {
    change(dm);
    return dm;
}

}  // namespace

TEST(PageGeometryCarry, ChangeMasks) {
    const Devmode one = ReceiptMode();
    const Devmode two = ReceiptMode(2);
    const std::tuple<Devmode, Devmode, DWORD> cases[] = {
        {one, one, 0},
        {one, Changed(one, [](Devmode& d) { d.pub.dmCopies = 2; }), 0x81},
        {one, Changed(one, [](Devmode& d) { d.pub.dmDuplex = 2, d.pub.dmCollate = 0; }), 0x1101},
        {one, Changed(one, [](Devmode& d) { d.priv.layoutFlags = kLayoutReverseOrder; }), 0x801},
        {one, Changed(one, [](Devmode& d) { d.pub.dmMediaType = 2; }), 0},  // one page a sheet
        {two, Changed(two, [](Devmode& d) { d.pub.dmMediaType = 2; }), 0x09},
        {two, Changed(two, [](Devmode& d) { d.pub.dmDefaultSource = 258; }), 0x11},
        {two, Changed(two, [](Devmode& d) { d.priv.colourMode = 3; }), 0x41},
        {two, Changed(two, [](Devmode& d) { d.priv.shiftY = 1; }), 0x21},
        {two, Changed(two, [](Devmode& d) { d.priv.pagesPerSheet = 4; }), 0x201},
        {two, Changed(two, [](Devmode& d) { d.priv.pageOrder = 1; }), 0x401},
    };
    for (const auto& [old, now, mask] : cases) {
        Reset reset(old, now);
        EXPECT_EQ(mask, reset.Carry());
        EXPECT_EQ(1, reset.newGeometry.pagesBegun);
        EXPECT_EQ(DMORIENT_PORTRAIT, reset.newGeometry.firstOrientation);
        EXPECT_EQ(mask ? 0 : reset.oldGeometry.cellsUsed, reset.newGeometry.cellsUsed);
    }

    // Before the first page nothing is carried; with the sheet full the
    // next page starts a new one anyway.
    Reset before(one, std::get<1>(cases[1]));
    ResetGeometryCounters(&before.oldGeometry);
    EXPECT_EQ(0u, before.Carry());
    EXPECT_EQ(0, before.newGeometry.firstOrientation);
    Reset full(two, std::get<1>(cases[5]));
    BeginGeometryPage(two, &full.oldGeometry, nullptr);
    EndGeometryPage(&full.oldGeometry);
    EXPECT_EQ(0u, full.Carry());
    EXPECT_EQ(2, full.newGeometry.pagesBegun);
}

TEST(PageGeometryCarry, NewSheetPaperForgetsTheFirstPage) {
    Reset reset(ReceiptMode(2),
                Changed(ReceiptMode(2), [](Devmode& d) { d.priv.sheetPaperCode = 7; }));
    EXPECT_EQ(0x05u, reset.Carry());
    EXPECT_EQ(
        (Longs{1, 1, 0, 0, 0, 0}),
        (Longs{reset.newGeometry.sheetsBegun, reset.newGeometry.pagesBegun,
               reset.newGeometry.cellsUsed, reset.newGeometry.firstOrientation,
               reset.newGeometry.firstSheetOrientation, reset.newGeometry.firstReverseShift}));
}

TEST(PageGeometryCarry, TurningMidSheetKeepsTheSheetLayout) {
    Devmode old = ReceiptMode(2);
    old.priv.deviceFlags = kDeviceReversed2Up;  // cells (1307, 0), (0, 0)
    Reset reset(old, ReceiptMode(2, DMORIENT_LANDSCAPE));
    EXPECT_EQ(0u, reset.Carry());
    EXPECT_EQ(kDeviceReversed2Up, reset.newMode.priv.deviceFlags & kDeviceReversed2Up);
    const PageGeometry& n = reset.newGeometry;
    EXPECT_EQ(0, std::memcmp(At(reset.oldGeometry, 48), At(n, 48), 26));  // fields 48-72
    // Cell 1 is in use and kept; cell 2 is the landscape one, reversed.
    EXPECT_EQ((CellList{{1307, 0}, {0, 0}}), Cells(n, 2));
    EXPECT_EQ(575, n.imageSize.cx);
    EXPECT_EQ(1, n.cellsUsed);

    // Nothing that shapes the sheet changed: the new layout stays.
    const Devmode rotated = Changed(ReceiptMode(2), [](Devmode& d) { d.priv.rotation = 180; });
    Reset same(ReceiptMode(2), rotated);
    const PageGeometry before = same.newGeometry;
    EXPECT_EQ(0u, same.Carry());
    EXPECT_EQ(0, std::memcmp(&before, &same.newGeometry, 228));
}
