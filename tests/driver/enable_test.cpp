// The driver enabled through the print host, as the engine does it: the
// library loaded by path, its table, a device enabled, completed, reset and
// disabled for a printer of the spooler stand-in.

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <sstream>
#include <vector>

#include "driver/device_instance.h"
#include "driver/driver_entry.h"
#include "driver/settings.h"
#include "host/driver_host.h"
#include "host/engine.h"
#include "host/text_objects.h"
#include "platform/last_error.h"
#include "platform/registry.h"
#include "platform/spooler.h"
#include "platform/wide.h"
#include "render/device_fonts.h"
#include "test_support.h"

namespace {

using testsupport::BinDir;
using testsupport::SourceDir;

constexpr char16_t kPrinter[] = u"Test Receipt";

class DriverEnable : public ::testing::Test {
  protected:
    void SetUp() override {
        dataFile_ = root_.path() / "QLPR80.INI";
        std::filesystem::copy_file(SourceDir() / "examples" / "QLPR80.INI", dataFile_);
        Install(dataFile_);
        std::string error;
        driver_ = host::DriverHost::Load(BinDir() / "QLPRGI.DLL", &error);
        ASSERT_TRUE(driver_) << error;
    }
    void TearDown() override {
        driver_.reset();
        if (printer_ != nullptr) ClosePrinter(printer_);
    }
    void Install(const std::filesystem::path& dataFile) {
        if (printer_ != nullptr) ClosePrinter(printer_);
        platform::PrinterSetup setup{BinDir() / "QLPRGI.DLL", dataFile,
                                     (root_.path() / "out.prn").string()};
        ASSERT_TRUE(platform::InstallPrinter(kPrinter, setup));
        ASSERT_TRUE(OpenPrinterW(reinterpret_cast<LPCWSTR>(kPrinter), &printer_, nullptr));
    }
    std::unique_ptr<host::Device> Enable(const DEVMODEW* devmode = nullptr,
                                         std::string* error = nullptr) {
        std::string ignored;
        return host::Device::Enable(*driver_, printer_, kPrinter, devmode,
                                    error ? error : &ignored);
    }
    // Ordinary log lines into the test's folder, from a stored settings block.
    void UseLog() {
        std::unique_ptr<PrinterDataObj> config(OpenPrinterDataObj(dataFile_.u16string().c_str()));
        ASSERT_NE(config, nullptr);
        std::unique_ptr<PrinterData> settings = DefaultPrinterData(*config);
        settings->logMode = kLogOrdinary;
        platform::WideCopy(settings->logFolder, 260, root_.path().u16string().c_str());
        const DWORD size = sizeof(PrinterData);
        ASSERT_EQ(SetPrinterDataW(printer_, u"PrinterData", REG_BINARY,
                                  reinterpret_cast<const BYTE*>(settings.get()), size),
                  ERROR_SUCCESS);
        ASSERT_EQ(SetPrinterDataW(printer_, u"PrinterDataSize", REG_DWORD,
                                  reinterpret_cast<const BYTE*>(&size), sizeof size),
                  ERROR_SUCCESS);
        std::filesystem::remove(root_.path() / "QLPR80.QCB");
    }
    // The example data file with two more text fonts: a Shift-JIS one
    // (character set 128) and one of face class 3 scaled 2 wide, 3 high.
    void AddTextFonts() {
        std::ifstream in(dataFile_, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        in.close();
        std::string data = text.str();
        const std::string last = "Font B Double=14,0,8,2,2,2";
        const std::size_t at = data.find(last);
        ASSERT_NE(at, std::string::npos);
        data.insert(at + last.size(), "\r\nKanji=9,128,1,1,1,1\r\nLarge=10,0,2,3,2,3");
        std::ofstream(dataFile_, std::ios::binary | std::ios::trunc) << data;
    }
    // The 1-based face index of the regular member of the font's family.
    static ULONG FaceOf(const DeviceInstance& instance, WORD fontId) {
        for (DWORD i = 0; i < instance.deviceFontCount; ++i)
            if (instance.deviceFonts[i].fontId == fontId) return i + 1;
        ADD_FAILURE() << "no font " << fontId;
        return 0;
    }
    std::string ReadLog() const {
        std::ifstream in(root_.path() / "P-ZNGIUI.log", std::ios::binary);
        return std::string((std::istreambuf_iterator<char>(in)), {});
    }
    static const DeviceInstance& Instance(const host::Device& device) {
        return *reinterpret_cast<const DeviceInstance*>(device.pdev());
    }

    testsupport::ScopedStoreRoot root_;
    std::filesystem::path dataFile_;
    HANDLE printer_ = nullptr;
    std::unique_ptr<host::DriverHost> driver_;
};

TEST_F(DriverEnable, TheTableHoldsTheTwentySevenEntriesInOrder) {
    const ULONG expected[] = {0,  1,  2,  3,  4,  7,  24, 32, 33, 34, 35, 57, 58, 12,
                              13, 20, 18, 23, 14, 15, 16, 19, 71, 76, 26, 27, 28};
    ASSERT_EQ(driver_->table().size(), 27u);
    for (std::size_t i = 0; i < 27; ++i) {
        EXPECT_EQ(driver_->table()[i].iFunc, expected[i]) << i;
        EXPECT_NE(driver_->table()[i].pfn, nullptr) << i;
    }
    EXPECT_EQ(driver_->driverVersion(), 0x20000u);
}

TEST_F(DriverEnable, ADeviceForTheExamplePrinter) {
    std::size_t palettesBefore = host::LivePaletteCount();
    {
        auto device = Enable();
        ASSERT_TRUE(device);
        const DeviceInstance& instance = Instance(*device);
        EXPECT_EQ(instance.signature, kInstanceSignature);
        EXPECT_EQ(instance.hdev, device->hdev());
        EXPECT_EQ(instance.devmode.pub.dmSize, 220);
        EXPECT_EQ(instance.devmode.pub.dmDriverExtra, 2002);
        EXPECT_EQ(instance.devmode.priv.signature, kPrivateSignature);
        EXPECT_EQ(instance.pageNumber, 0);
        EXPECT_FALSE(GeometryIsStale(instance.geometry));

        const GDIINFO& gdi = device->gdiInfo();
        EXPECT_EQ(gdi.ulLogPixelsX, 203u);
        EXPECT_EQ(gdi.ulLogPixelsY, 203u);
        EXPECT_EQ(gdi.ulHorzRes, 576u);
        EXPECT_EQ(gdi.cBitsPixel, 1u);
        EXPECT_EQ(gdi.xStyleStep, 1);
        EXPECT_EQ(gdi.denStyleStep, 4);
        EXPECT_EQ(gdi.ulAspectXY, 288u);
        EXPECT_EQ(gdi.ulDevicePelsDPI, 203u);

        const DEVINFO& dev = device->devInfo();
        EXPECT_EQ(dev.lfDefaultFont.lfHeight, -31);
        EXPECT_EQ(dev.cFonts, instance.deviceFontCount);
        EXPECT_GT(dev.cFonts, 0u);
        host::PaletteInfo palette;
        ASSERT_TRUE(host::LookupPalette(dev.hpalDefault, &palette));
        EXPECT_EQ(palette.mode, PAL_INDEXED);
        ASSERT_EQ(palette.count, 2u);
        EXPECT_EQ(palette.colours[0], 0x000000u);
        EXPECT_EQ(palette.colours[1], 0xFFFFFFu);
        EXPECT_EQ(instance.palette.eraseColour, 1u);

        auto dither = driver_->Entry<PFN_DrvDitherColor>(INDEX_DrvDitherColor);
        EXPECT_EQ(dither(device->pdev(), 0, 0x808080, nullptr), DCR_HALFTONE);
    }
    EXPECT_EQ(host::LivePaletteCount(), palettesBefore);  // disable deleted the palette
}

TEST_F(DriverEnable, DeviceFontsListFamiliesOfFour) {
    auto device = Enable();
    ASSERT_TRUE(device);
    const DeviceInstance& instance = Instance(*device);
    ASSERT_EQ(instance.deviceFontCount % 4, 0u);
    std::vector<WORD> ids;
    for (DWORD i = 0; i < instance.deviceFontCount; i += 4) {
        const DeviceFontEntry* family = instance.deviceFonts + i;
        EXPECT_EQ(family[0].ifi.usWinWeight, 400);
        EXPECT_EQ(family[1].ifi.usWinWeight, 700);
        EXPECT_EQ(family[2].ifi.fsSelection, 0x01);
        EXPECT_EQ(family[3].ifi.fsSelection, 0x21);
        EXPECT_EQ(family[0].ifi.fsSelection, 0x40);
        EXPECT_NE(family[0].faceName[0], 0);
        if (family[0].ifi.jWinCharSet != 128) {  // code page 1252 reaches up to U+2122
            EXPECT_EQ(family[3].ifi.wcFirstChar, 0);
            EXPECT_EQ(family[3].ifi.wcLastChar, 0x2122);
        }
        ids.push_back(family[0].fontId);
    }
    // Barcode fonts follow the text fonts; the control fonts come last.
    ASSERT_GE(ids.size(), 4u);
    EXPECT_EQ(ids[ids.size() - 2], 200);
    EXPECT_EQ(ids.back(), 300);
    const DeviceFontEntry* barcode = nullptr;
    for (DWORD i = 0; i < instance.deviceFontCount; ++i)
        if (instance.deviceFonts[i].fontId == 100) {
            barcode = &instance.deviceFonts[i];
            break;
        }
    ASSERT_NE(barcode, nullptr);
    EXPECT_EQ(std::u16string(barcode->faceName), u"Barcode1");
    // Measured with its sample string: em height and ascent agree, width is half.
    EXPECT_GT(barcode->ifi.fwdUnitsPerEm, 0);
    EXPECT_EQ(barcode->ifi.fwdWinAscender, barcode->ifi.fwdUnitsPerEm);
    EXPECT_EQ(barcode->ifi.fwdMaxCharInc, barcode->ifi.fwdUnitsPerEm / 2);
}

TEST_F(DriverEnable, RotatedPagesListOnlyTheCodeFonts) {
    std::vector<BYTE> mode(sizeof(Devmode));
    {
        auto device = Enable();
        ASSERT_TRUE(device);
        std::memcpy(mode.data(), &Instance(*device).devmode, sizeof(Devmode));
    }
    auto* devmode = reinterpret_cast<Devmode*>(mode.data());
    devmode->pub.dmOrientation = DMORIENT_LANDSCAPE;  // validated to rotation 90: rotated
    auto device = Enable(&devmode->pub);
    ASSERT_TRUE(device);
    const DeviceInstance& instance = Instance(*device);
    EXPECT_NE(instance.devmode.priv.layoutFlags & kLayoutRotated, 0u);
    for (DWORD i = 0; i < instance.deviceFontCount; ++i) {
        WORD id = instance.deviceFonts[i].fontId;
        EXPECT_TRUE((id >= 100 && id <= 107) || (id >= 150 && id <= 157)) << id;
    }
    EXPECT_GT(instance.deviceFontCount, 0u);
}

TEST_F(DriverEnable, ADevmodeWithoutThePrivateSignatureKeepsThePrivateDefaults) {
    std::vector<BYTE> mode(sizeof(Devmode));
    DEVMODEW* devmode = reinterpret_cast<DEVMODEW*>(mode.data());
    devmode->dmSpecVersion = 0x401;
    devmode->dmSize = sizeof(DEVMODEW);
    devmode->dmDriverExtra = 2002;
    devmode->dmFields = DM_COPIES;
    devmode->dmCopies = 5000;
    auto device = Enable(devmode);
    ASSERT_TRUE(device);
    const DeviceInstance& instance = Instance(*device);
    EXPECT_EQ(instance.devmode.priv.signature, kPrivateSignature);
    EXPECT_EQ(instance.devmode.priv.optionFlags, kDefaultOptionFlags);
    EXPECT_EQ(instance.devmode.pub.dmCopies, 999);
}

TEST_F(DriverEnable, ADataFileThatDoesNotCompileFailsEveryEnable) {
    std::ifstream in(dataFile_);
    std::string text((std::istreambuf_iterator<char>(in)), {});
    in.close();
    std::size_t at = text.find("\nresponsecmd=");
    ASSERT_NE(at, std::string::npos);
    std::string broken = text;
    broken.replace(at + 1, 11, "responsecmX");
    std::filesystem::path brokenFile = root_.path() / "BROKEN.INI";
    std::ofstream(brokenFile) << broken;
    Install(brokenFile);
    std::string error;
    EXPECT_FALSE(Enable(nullptr, &error));
    EXPECT_FALSE(Enable(nullptr, &error));
    EXPECT_FALSE(std::filesystem::exists(root_.path() / "BROKEN.QCB"));
    Install(dataFile_);
    EXPECT_TRUE(Enable());
}

// A folder the driver cannot write (the cache's name is taken by a folder:
// the write fails also for root) still enables, compiling at every enable,
// and says so once.
TEST_F(DriverEnable, ACacheThatCannotBeWrittenDoesNotStopThePrinter) {
    UseLog();
    std::filesystem::create_directory(root_.path() / "QLPR80.QCB");
    EXPECT_TRUE(Enable());
    EXPECT_TRUE(Enable());
    const std::string log = ReadLog();
    const std::string line = " ERROR:WriteCache(" + (root_.path() / "QLPR80.QCB").string() +
                             ") the data file is compiled at every enable.\n";
    const std::size_t at = log.find(line);
    EXPECT_NE(at, std::string::npos) << log;
    EXPECT_EQ(log.find(line, at + 1), std::string::npos) << log;
}

// A custom size of 0 has no printable area: the enable is refused, and a
// real custom size then enables.
TEST_F(DriverEnable, APaperWithoutPrintableSizeIsRefused) {
    UseLog();
    std::vector<BYTE> mode(sizeof(Devmode));
    {
        auto device = Enable();
        ASSERT_TRUE(device);
        std::memcpy(mode.data(), &Instance(*device).devmode, sizeof(Devmode));
    }
    auto* devmode = reinterpret_cast<Devmode*>(mode.data());
    devmode->pub.dmFields = DM_PAPERSIZE;
    devmode->pub.dmPaperSize = 256;
    devmode->priv.customWidth = 0;
    devmode->priv.customLength = 0;
    EXPECT_FALSE(Enable(&devmode->pub));
    const std::string log = ReadLog();
    const std::size_t at = log.find("]  ERROR:PrintableSize(-80,0).\n");
    ASSERT_NE(at, std::string::npos) << log;
    EXPECT_NE(log.find("]  ERROR:FillDevinfo()\n", at), std::string::npos) << log;
    devmode->priv.customWidth = 600;
    devmode->priv.customLength = 2000;
    auto device = Enable(&devmode->pub);
    ASSERT_TRUE(device);
    EXPECT_EQ(Instance(*device).geometry.printableWidthMm10, 600 - 80);
}

TEST_F(DriverEnable, AResetOutsideADocumentMovesNothingAndSucceeds) {
    auto device = Enable();
    ASSERT_TRUE(device);
    std::string error;
    EXPECT_TRUE(device->Reset(nullptr, &error)) << error;
    const DeviceInstance& instance = Instance(*device);
    EXPECT_EQ(instance.state & kStateCreatedByReset, 0u);
    EXPECT_EQ(instance.jobName, nullptr);
}

TEST_F(DriverEnable, EntriesRefuseAnInvalidInstance) {
    DeviceInstance bogus{};
    auto dither = driver_->Entry<PFN_DrvDitherColor>(INDEX_DrvDitherColor);
    SetLastError(0);
    EXPECT_EQ(dither(reinterpret_cast<DHPDEV>(&bogus), 0, 0, nullptr), DCR_HALFTONE);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    auto reset = driver_->Entry<PFN_DrvResetPDEV>(INDEX_DrvResetPDEV);
    SetLastError(0);
    EXPECT_FALSE(reset(reinterpret_cast<DHPDEV>(&bogus), reinterpret_cast<DHPDEV>(&bogus)));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    bogus.signature = kInstanceSignature;  // one copy is not enough
    SetLastError(0);
    driver_->Entry<PFN_DrvDisablePDEV>(INDEX_DrvDisablePDEV)(reinterpret_cast<DHPDEV>(&bogus));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

// ---- device font queries ----------------------------------------------------

// The handle of a character in a glyph set; 0xFFFFFFFF when it has none.
HGLYPH HandleOf(const FD_GLYPHSET& set, WCHAR c) {
    for (ULONG r = 0; r < set.cRuns; ++r) {
        const WCRUN& run = set.awcrun[r];
        if (c >= run.wcLow && c < run.wcLow + run.cGlyphs) return run.phg[c - run.wcLow];
    }
    return 0xFFFFFFFF;
}

std::size_t Occurrences(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++count;
    return count;
}

TEST_F(DriverEnable, FontQueriesRefuseFaceIndexesOutsideTheTableAndUnknownModes) {
    UseLog();
    auto device = Enable();
    ASSERT_TRUE(device);
    const ULONG count = Instance(*device).deviceFontCount;
    auto queryFont = driver_->Entry<PFN_DrvQueryFont>(INDEX_DrvQueryFont);
    auto queryTree = driver_->Entry<PFN_DrvQueryFontTree>(INDEX_DrvQueryFontTree);
    auto queryData = driver_->Entry<PFN_DrvQueryFontData>(INDEX_DrvQueryFontData);
    const XFORML identity{1, 0, 0, 1, 0, 0};
    for (ULONG face : {0u, count + 1}) {
        ULONG_PTR id = 5;
        SetLastError(0);
        EXPECT_EQ(queryFont(device->pdev(), 0, face, &id), nullptr);
        EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
        EXPECT_EQ(id, 0u);
        SetLastError(0);
        EXPECT_EQ(queryTree(device->pdev(), 0, face, QFT_GLYPHSET, &id), nullptr);
        EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
        host::EngineFont font({FO_TYPE_DEVICE, face, nullptr, identity, {}, nullptr});
        GLYPHDATA data{};
        SetLastError(0);
        EXPECT_EQ(
            queryData(device->pdev(), font.object(), QFD_GLYPHANDBITMAP, 'A', &data, nullptr, 0),
            -1);
        EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    }
    // Kerning pairs: none, and no error; any mode but the glyph set is refused.
    SetLastError(0);
    EXPECT_EQ(queryTree(device->pdev(), 0, 1, QFT_KERNPAIRS, nullptr), nullptr);
    EXPECT_EQ(GetLastError(), 0u);
    EXPECT_EQ(queryTree(device->pdev(), 0, 1, QFT_LIGATURES, nullptr), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);

    const std::string log = ReadLog();
    EXPECT_EQ(Occurrences(log, "]  ERROR:iFace is Invalid No.\n"), 4u) << log;
    EXPECT_EQ(Occurrences(log, "] ERROR:iFace is Invalid No.\n"), 2u) << log;
    EXPECT_EQ(Occurrences(log, "]  ERROR:iMode is Invalid.\n"), 1u) << log;
    EXPECT_EQ(Occurrences(log, "] Enter DrvQueryFontTree() iFace:1 iMode:2\n"), 1u) << log;
    EXPECT_EQ(Occurrences(log, "] Leave DrvQueryFontTree() ret:0x0\n"), 4u) << log;
    EXPECT_EQ(Occurrences(log, "] Enter DrvQueryFontData() iMode:1\n"), 2u) << log;
}

// The single-byte set for ordinary fonts; the Shift-JIS set, expanded from
// the library's resource, for fonts of character set 128. Both are shared
// by every device.
TEST_F(DriverEnable, GlyphSetsOfTheDeviceFontsAreSharedByEveryDevice) {
    AddTextFonts();
    auto first = Enable();
    auto second = Enable();
    ASSERT_TRUE(first && second);
    auto queryFont = driver_->Entry<PFN_DrvQueryFont>(INDEX_DrvQueryFont);
    auto queryTree = driver_->Entry<PFN_DrvQueryFontTree>(INDEX_DrvQueryFontTree);
    const DeviceInstance& instance = Instance(*first);
    const ULONG plain = FaceOf(instance, 1);
    const ULONG kanji = FaceOf(instance, 9);
    ASSERT_EQ(instance.deviceFonts[kanji - 1].ifi.jWinCharSet, 128);

    ULONG_PTR id = 5;
    EXPECT_EQ(queryFont(first->pdev(), 0, kanji, &id), &instance.deviceFonts[kanji - 1].ifi);
    EXPECT_EQ(id, 0u);

    const auto* single =
        static_cast<const FD_GLYPHSET*>(queryTree(first->pdev(), 0, plain, QFT_GLYPHSET, &id));
    ASSERT_NE(single, nullptr);
    EXPECT_LE(single->cGlyphsSupported, 256u);
    EXPECT_EQ(HandleOf(*single, u'A'), 0x41u);
    EXPECT_EQ(HandleOf(*single, u'\u20ac'), 0x80u);  // code page 1252

    const auto* shiftJis =
        static_cast<const FD_GLYPHSET*>(queryTree(first->pdev(), 0, kanji, QFT_GLYPHSET, &id));
    ASSERT_NE(shiftJis, nullptr);
    EXPECT_EQ(shiftJis->cGlyphsSupported, 7484u);
    EXPECT_EQ(shiftJis->cRuns, 4247u);
    const std::pair<WCHAR, HGLYPH> handles[] = {{u'A', 0x41},
                                                {u'~', 0x7E},
                                                {u'\u3042', 0x82A0},
                                                {u'\u4e9c', 0x889F},
                                                {u'\u2170', 0xFA40},
                                                {u'\uff65', 0xA5},
                                                {u'\uffe5', 0x818F},
                                                {u'\u00a2', 0xFFFFFFFF},
                                                {u'\ue000', 0xFFFFFFFF},
                                                {u'\n', 0xFFFFFFFF}};
    for (auto [c, handle] : handles)
        EXPECT_EQ(HandleOf(*shiftJis, c), handle) << std::hex << int(c);

    EXPECT_EQ(queryTree(second->pdev(), 0, kanji, QFT_GLYPHSET, &id), shiftJis);
    EXPECT_EQ(queryTree(second->pdev(), 0, plain, QFT_GLYPHSET, &id), single);
}

// Glyph advances and the font's extents through the font's transform, in
// 28.4 rounded to whole pixels.
TEST_F(DriverEnable, FontDataFollowsTheFontTransform) {
    AddTextFonts();
    UseLog();
    auto device = Enable();
    ASSERT_TRUE(device);
    const DeviceInstance& instance = Instance(*device);
    auto queryData = driver_->Entry<PFN_DrvQueryFontData>(INDEX_DrvQueryFontData);
    const ULONG plain = FaceOf(instance, 1);  // W 13, E 28, A 34
    const ULONG kanji = FaceOf(instance, 9);  // the same cell, Shift-JIS
    const XFORML scale15{1.5f, 0, 0, 1.5f, 0, 0};

    struct Case {
        ULONG face;
        HGLYPH glyph;
        FIX advance;
    };
    const Case cases[] = {
        {plain, 'A', 20 * 16},     // 13 x 1.5 = 19.5: rounds up to 20
        {kanji, 'A', 9 * 16},      // single bytes: half the increment, 6 x 1.5 = 9
        {kanji, 0x82A0, 20 * 16},  // two-byte codes: the maximum increment
    };
    for (const Case& c : cases) {
        host::EngineFont font(
            {FO_TYPE_DEVICE, c.face, &instance.deviceFonts[c.face - 1].ifi, scale15, {}, nullptr});
        GLYPHDATA data{};
        EXPECT_EQ(queryData(device->pdev(), font.object(), QFD_GLYPHANDBITMAP, c.glyph, &data,
                            nullptr, 0),
                  0);
        EXPECT_EQ(data.hg, c.glyph);
        EXPECT_EQ(data.fxD, c.advance) << std::hex << c.glyph;
        EXPECT_EQ(data.fxInkTop, 51 * 16);    // A = 34
        EXPECT_EQ(data.fxInkBottom, 9 * 16);  // A - E = 6, with its sign
        EXPECT_EQ(data.fxA, 0);
        EXPECT_EQ(data.gdf.pgb, nullptr);
    }

    // Extents: 124 bytes; a fixed advance only where every glyph has the
    // same one.
    for (ULONG face : {plain, kanji}) {
        host::EngineFont font(
            {FO_TYPE_DEVICE, face, &instance.deviceFonts[face - 1].ifi, scale15, {}, nullptr});
        FD_DEVICEMETRICS metrics{};
        EXPECT_EQ(queryData(device->pdev(), font.object(), QFD_MAXEXTENTS, 0, nullptr, &metrics,
                            sizeof metrics),
                  124);
        EXPECT_FLOAT_EQ(metrics.pteBase.x, 1);
        EXPECT_FLOAT_EQ(metrics.pteSide.y, -1);
        EXPECT_EQ(metrics.lD, face == plain ? 20 : 0);
        EXPECT_EQ(metrics.fxMaxAscender, 51 * 16);
        EXPECT_EQ(metrics.fxMaxDescender, 9 * 16);
        EXPECT_EQ(metrics.cxMax, 20u);
        EXPECT_GT(metrics.ptlUnderline1.y, 0);  // below the base line
        EXPECT_LT(metrics.ptlStrikeOut.y, 0);
        EXPECT_GT(metrics.ptlULThickness.y, 0);
    }

    // A buffer too small for the extents is left alone; a font without a
    // transform and an unknown mode are refused.
    host::EngineFont font(
        {FO_TYPE_DEVICE, plain, &instance.deviceFonts[plain - 1].ifi, scale15, {}, nullptr});
    std::vector<BYTE> small(123, 0xA5);
    SetLastError(0);
    EXPECT_EQ(
        queryData(device->pdev(), font.object(), QFD_MAXEXTENTS, 0, nullptr, small.data(), 123),
        -1);
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(small, std::vector<BYTE>(123, 0xA5));
    EXPECT_EQ(
        queryData(device->pdev(), font.object(), QFD_GLYPHANDOUTLINE, 'A', nullptr, nullptr, 0),
        -1);
    host::EngineFont untransformed(
        {FO_TYPE_DEVICE, plain, &instance.deviceFonts[plain - 1].ifi, std::nullopt, {}, nullptr});
    EXPECT_EQ(
        queryData(device->pdev(), untransformed.object(), QFD_MAXEXTENTS, 0, nullptr, nullptr, 0),
        -1);

    const std::string log = ReadLog();
    EXPECT_EQ(Occurrences(log, "] Leave DrvQueryFontData() return 0.\n"), 3u) << log;
    EXPECT_EQ(Occurrences(log, "] Leave DrvQueryFontData() return 124.\n"), 2u) << log;
    EXPECT_EQ(Occurrences(log, "] Leave DrvQueryFontData() return -1.\n"), 2u) << log;
    EXPECT_EQ(Occurrences(log, "] ERROR:FONTOBJ_pxoGetXform().\n"), 1u) << log;
}

// Face classes other than 1 and 2 start from the resolution and are scaled
// like the others; a barcode whose sample cannot be measured takes the
// template's em height as its ascent too.
TEST_F(DriverEnable, TextFontsOfEveryClassScaleAndUnmeasuredBarcodesKeepOneHeight) {
    AddTextFonts();
    std::vector<BYTE> mode(sizeof(Devmode));
    {
        auto device = Enable();
        ASSERT_TRUE(device);
        std::memcpy(mode.data(), &Instance(*device).devmode, sizeof(Devmode));
    }
    auto* devmode = reinterpret_cast<Devmode*>(mode.data());
    devmode->priv.barcodes[0].type = 9;  // a type without a sample string
    auto device = Enable(&devmode->pub);
    ASSERT_TRUE(device);
    const DeviceInstance& instance = Instance(*device);
    const IFIMETRICS& large = instance.deviceFonts[FaceOf(instance, 10) - 1].ifi;
    EXPECT_EQ(large.fwdMaxCharInc, 203 * 2);
    EXPECT_EQ(large.fwdUnitsPerEm, 203 * 3);
    EXPECT_EQ(large.fwdWinAscender, 203 * 3);
    const IFIMETRICS& barcode = instance.deviceFonts[FaceOf(instance, 100) - 1].ifi;
    EXPECT_EQ(barcode.fwdUnitsPerEm, 24);
    EXPECT_EQ(barcode.fwdWinAscender, 24);
    EXPECT_EQ(barcode.fwdMaxCharInc, 12);
}

TEST(DriverExports, QueryAndEnableRefuseWhatTheyCannotServe) {
    DWORD needed = 0;
    BYTE small[3];
    SetLastError(0);
    EXPECT_FALSE(DrvQueryDriverInfo(1, small, 3, &needed));
    EXPECT_EQ(needed, 4u);
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    DWORD value = 0;
    EXPECT_TRUE(DrvQueryDriverInfo(1, &value, 4, &needed));
    EXPECT_EQ(value, 1u);
    SetLastError(0);
    EXPECT_FALSE(DrvQueryDriverInfo(2, &value, 4, &needed));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);

    DRVENABLEDATA data{};
    SetLastError(0);
    EXPECT_FALSE(DrvEnableDriver(0x1FFFF, sizeof data, &data));
    EXPECT_EQ(GetLastError(), ERROR_BAD_DRIVER_LEVEL);
    SetLastError(0);
    EXPECT_FALSE(DrvEnableDriver(0x20000, 11, &data));
    EXPECT_EQ(GetLastError(), ERROR_BAD_DRIVER_LEVEL);
    EXPECT_EQ(data.pdrvfn, nullptr);
}

}  // namespace
