// DrvTextOut on an in-memory 1-bit band of a device instance with the
// model's text fonts, a Shift-JIS font, a barcode font and a control font:
// the items device text becomes, the band that keeps an item, barcodes the
// printer draws and barcode images, TrueType substitution, text the driver
// draws itself, and the log lines.

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "driver/device_instance.h"
#include "driver/driver_entry.h"
#include "driver/settings.h"
#include "host/engine.h"
#include "host/engine_objects.h"
#include "host/text_objects.h"
#include "platform/heap.h"
#include "platform/rect.h"
#include "platform/wide.h"
#include "render/device_fonts.h"
#include "render/text_out.h"
#include "test_support.h"

namespace {

constexpr LONG kWidth = 64;
constexpr LONG kHeight = 100;
constexpr SIZEL kPage = {kWidth, 200};
constexpr ULONG kBlack = 0x000000;
constexpr ULONG kWhite = 0xFFFFFF;
constexpr MIX kCopy = 0x0D0D;
constexpr XFORML kIdentity = {1, 0, 0, 1, 0, 0};

// Face indexes of the fixture's device fonts.
constexpr ULONG kFaceText = 1;      // id 1, code page 1252
constexpr ULONG kFaceShiftJis = 2;  // id 3
constexpr ULONG kFaceBarcode = 3;   // id 100
constexpr ULONG kFaceControl = 4;   // id 200
constexpr ULONG kFaceCount = 4;

// A class 1 text font: width 13, em height 28, ascent 34.
IFIMETRICS TextMetrics(BYTE charSet) {
    IFIMETRICS m{};
    m.cjThis = sizeof m;
    m.jWinCharSet = charSet;
    m.fsSelection = 0x40;
    m.fwdUnitsPerEm = 28;
    m.fwdWinAscender = 34;
    m.fwdWinDescender = 28 - 34;
    m.fwdCapHeight = 28;
    m.fwdMaxCharInc = 13;
    m.fwdAveCharWidth = charSet == kShiftJisCharSet ? 6 : 13;
    m.chFirstChar = 0x20;
    m.chLastChar = 0x9F;
    m.chDefaultChar = '?';
    return m;
}

// A symbol font 10 pixels high.
IFIMETRICS SymbolMetrics() {
    IFIMETRICS m{};
    m.cjThis = sizeof m;
    m.fsSelection = 0x40;
    m.fwdUnitsPerEm = m.fwdWinAscender = m.fwdCapHeight = 10;
    m.fwdAveCharWidth = 5;
    m.fwdMaxCharInc = 10;
    return m;
}

DeviceFontEntry FontEntry(WORD id, const IFIMETRICS& metrics) {
    DeviceFontEntry entry{};
    entry.kind = kFontKindOther;
    entry.ifi = metrics;
    entry.fontId = id;
    return entry;
}

// The barcode library's stand-in: every symbol is 20 × 10 pixels, a bar in
// the first 3 columns and in every fifth column of the top 4 rows, so that
// each turn of it looks different.
struct LastRequest {
    std::vector<BYTE> data;
};
LastRequest lastRequest;

bool BarAt(LONG x, LONG y) {
    return x < 3 || (x % 5 == 0 && y < 4);
}

WORD FakeBarcodeBlock(const BarcodeRequest* request, BarcodeSizeReply* size, BYTE* image) {
    if (request->dataLength == 0) return 0;
    lastRequest.data.assign(request->data, request->data + request->dataLength);
    if (size != nullptr) *size = {20, 10, 3 * 10};
    if (image != nullptr)
        for (LONG y = 0; y < 10; ++y)
            for (LONG x = 0; x < 20; ++x)
                if (BarAt(x, y)) image[y * 3 + x / 8] |= static_cast<BYTE>(0x80 >> (x % 8));
    return 1;
}

// An item's fields, unpacked, and its characters.
struct Item {
    WORD fontId, attributes, count;
    LONG x, y, width, height;
    std::vector<BYTE> bytes;
};

// The page's first band, 64 × 100 pixels of a 64 × 200 page, white.
class TextBand {
  public:
    TextBand() : instance_(std::make_unique<DeviceInstance>()) {
        DeviceInstance& d = *instance_;
        d.signature = d.signatureEnd = kInstanceSignature;
        d.heap = HeapCreate(0, 0, 0);
        d.geometry.bitsPerPixel = 1;
        d.band = {0, 0, kWidth, kHeight};
        d.bandClip = {0, 0, kWidth, kHeight};
        d.pageImageSize = kPage;
        d.printerData.logMode = kLogOrdinary;
        platform::WideCopy(d.printerData.logFolder, 260, platform::FromUtf8(root_.path().string()));
        InitDevText(&d.textBuf);
        textMetrics_ = TextMetrics(0);
        shiftJisMetrics_ = TextMetrics(kShiftJisCharSet);
        symbolMetrics_ = SymbolMetrics();
        fonts_ = {FontEntry(1, textMetrics_), FontEntry(3, shiftJisMetrics_),
                  FontEntry(100, symbolMetrics_), FontEntry(200, symbolMetrics_)};
        d.deviceFonts = fonts_.data();
        d.deviceFontCount = kFaceCount;
        d.barcodeLib.barcodeBlock = &FakeBarcodeBlock;
        bytes_.assign(static_cast<std::size_t>(kWidth / 8 * kHeight), 0xFF);
        surface_.dhpdev = reinterpret_cast<DHPDEV>(instance_.get());
        surface_.sizlBitmap = {kWidth, kHeight};
        surface_.cjBits = static_cast<ULONG>(bytes_.size());
        surface_.pvBits = surface_.pvScan0 = bytes_.data();
        surface_.lDelta = kWidth / 8;
        surface_.iBitmapFormat = BMF_1BPP;
        surface_.iType = STYPE_BITMAP;
        surface_.fjBitmap = BMF_TOPDOWN;
    }
    ~TextBand() {
        FreeDevText(&instance_->textBuf);
        HeapDestroy(instance_->heap);
    }

    DeviceInstance& instance() { return *instance_; }
    SURFOBJ* surface() { return &surface_; }
    BarcodeSettings& barcode() { return instance_->devmode.priv.barcodes[0]; }
    const IFIMETRICS& Metrics(ULONG face) const { return fonts_[face - 1].ifi; }

    std::unique_ptr<host::EngineFont> DeviceFont(ULONG face) {
        host::EngineFont::Description font;
        font.type = FO_TYPE_DEVICE;
        font.face = face;
        font.metrics = face >= 1 && face <= kFaceCount ? &fonts_[face - 1].ifi : &textMetrics_;
        font.transform = kIdentity;
        return std::make_unique<host::EngineFont>(std::move(font));
    }

    BOOL Text(STROBJ* string, FONTOBJ* font, RECTL* extra = nullptr, RECTL* opaque = nullptr,
              ULONG colour = kBlack, ULONG opaqueColour = kWhite) {
        auto foreground = host::EngineBrush::Solid(colour);
        auto background = host::EngineBrush::Solid(opaqueColour);
        return DrvTextOut(&surface_, string, font, nullptr, extra, opaque, foreground->object(),
                          background->object(), nullptr, kCopy);
    }

    void FillBlack() { std::fill(bytes_.begin(), bytes_.end(), 0x00); }
    // The next band down: the items handed on, the bitmap white again.
    void NextBand() {
        EmptyDevText(&instance_->textBuf);
        instance_->band = OffsetRect(instance_->band, 0, kHeight);
        std::fill(bytes_.begin(), bytes_.end(), 0xFF);
    }

    std::vector<Item> Items() const {
        std::vector<Item> items;
        const TextBuf& buffer = instance_->textBuf;
        for (DWORD i = 0; i < buffer.itemCount; ++i) {
            const TextRecord r = ReadDevTextItem(buffer, i);
            items.push_back({r.fontId,
                             r.attributes,
                             r.count,
                             r.x,
                             r.y,
                             r.width,
                             r.height,
                             {buffer.data + r.offset, buffer.data + r.offset + r.count}});
        }
        return items;
    }
    bool Inked(LONG x, LONG y) const {
        return ((bytes_[static_cast<std::size_t>(y * (kWidth / 8) + x / 8)] >> (7 - x % 8)) & 1) ==
               0;
    }
    int InkedCount() const {
        int count = 0;
        for (LONG y = 0; y < kHeight; ++y)
            for (LONG x = 0; x < kWidth; ++x) count += Inked(x, y) ? 1 : 0;
        return count;
    }
    std::string Log() const {
        std::ifstream in(root_.path() / "P-ZNGIUI.log", std::ios::binary);
        return std::string((std::istreambuf_iterator<char>(in)), {});
    }
    bool Logged(const std::string& line) const { return Log().find(line) != std::string::npos; }

  private:
    testsupport::ScopedStoreRoot root_;
    std::unique_ptr<DeviceInstance> instance_;
    IFIMETRICS textMetrics_{}, shiftJisMetrics_{}, symbolMetrics_{};
    std::vector<DeviceFontEntry> fonts_;
    std::vector<BYTE> bytes_;
    SURFOBJ surface_{};
};

// Glyphs with their baseline points at `xs` on `baseline`, and a text of
// one character per glyph.
std::unique_ptr<host::EngineString> StringOf(const std::vector<HGLYPH>& handles,
                                             const std::vector<LONG>& xs, LONG baseline,
                                             std::u16string text = {}, RECTL background = {},
                                             ULONG runLength = 0) {
    std::vector<host::EngineString::Glyph> glyphs;
    for (std::size_t i = 0; i < handles.size(); ++i)
        glyphs.push_back({handles[i], {xs[i], baseline}});
    if (text.empty())
        for (HGLYPH h : handles) text.push_back(static_cast<char16_t>(h));
    return std::make_unique<host::EngineString>(std::move(glyphs), std::move(text), background, 0,
                                                0, runLength);
}

std::vector<BYTE> Bytes(const std::string& s) {
    return {s.begin(), s.end()};
}

TEST(DeviceText, RunsOfATextFontBecomeItemsAtTheNominalAdvance) {
    struct Expected {
        LONG x, width;
        std::vector<BYTE> bytes;
        WORD attributes;
    };
    struct Case {
        const char* what;
        ULONG face;
        std::vector<HGLYPH> handles;
        std::vector<LONG> xs;
        ULONG runLength;
        std::vector<Expected> items;
    };
    const Case cases[] = {
        {"letter, space, letter",
         kFaceText,
         {'A', ' ', 'B'},
         {10, 23, 36},
         0,
         {{10, 39, Bytes("A B"), kTextSingleByteRun}}},
        {"the same in runs of one glyph",
         kFaceText,
         {'A', ' ', 'B'},
         {10, 23, 36},
         1,
         {{10, 13, Bytes("A"), kTextSingleByteRun}, {36, 13, Bytes("B"), kTextSingleByteRun}}},
        {"a wider gap after the space",
         kFaceText,
         {'A', ' ', 'B'},
         {10, 23, 40},
         0,
         {{10, 26, Bytes("A "), kTextSingleByteRun}, {40, 13, Bytes("B"), kTextSingleByteRun}}},
        {"a lone space", kFaceText, {' '}, {10}, 0, {}},
        {"Latin high bytes and a code above the last",
         kFaceText,
         {0xE9, 0xE1},
         {10, 23},
         0,
         {{10, 26, {0x82, '?'}, kTextSingleByteRun}}},
        {"cut at both band edges",
         kFaceText,
         {'A', 'B', 'C', 'D', 'E', 'F'},
         {-3, 10, 23, 36, 49, 62},
         0,
         {{10, 52, Bytes("BCDE"), kTextSingleByteRun}}},
        {"half-width katakana and a letter",
         kFaceShiftJis,
         {0xB1, 'A'},
         {10, 16},
         0,
         {{10, 12, {0x25, 0x22, 0x23, 0x41}, kTextDoubleByte | kTextSingleByteRun}}},
        {"a kanji, then a letter",
         kFaceShiftJis,
         {0x82A0, 'A'},
         {10, 23},
         0,
         {{10, 13, {0x24, 0x22}, kTextDoubleByte},
          {23, 6, {0x23, 0x41}, kTextDoubleByte | kTextSingleByteRun}}},
    };
    for (const Case& c : cases) {
        TextBand band;
        auto font = band.DeviceFont(c.face);
        auto string = StringOf(c.handles, c.xs, 50, {}, {}, c.runLength);
        EXPECT_TRUE(band.Text(string->object(), font->object())) << c.what;
        const std::vector<Item> items = band.Items();
        ASSERT_EQ(items.size(), c.items.size()) << c.what;
        for (std::size_t i = 0; i < items.size(); ++i) {
            const Item& r = items[i];
            const WORD id = c.face == kFaceText ? 1 : 3;
            EXPECT_EQ(r.fontId, id) << c.what;
            EXPECT_EQ(r.x, c.items[i].x) << c.what;
            EXPECT_EQ(r.y, 50 - 34) << c.what;  // the baseline less the ascent
            EXPECT_EQ(r.width, c.items[i].width) << c.what;
            EXPECT_EQ(r.height, 34) << c.what;
            EXPECT_EQ(items[i].bytes, c.items[i].bytes) << c.what;
            EXPECT_EQ(r.attributes, c.items[i].attributes) << c.what;
        }
        EXPECT_TRUE(band.Logged("Enter DrvTextOut()\n"));
        EXPECT_TRUE(band.Logged(" Font is Device Font:" + std::to_string(c.face) + "\n"));
    }
}

TEST(DeviceText, AStringAcrossABandEdgeIsKeptByTheBandOfItsTop) {
    TextBand band;
    auto text = band.DeviceFont(kFaceText);
    auto symbol = band.DeviceFont(kFaceBarcode);
    std::vector<std::vector<Item>> kept;
    for (LONG bandTop : {0, kHeight}) {
        // Page rows: text tops at 76 and 120, a barcode from row 95 to 105.
        auto first = StringOf({'A'}, {10}, 110 - bandTop);
        auto second = StringOf({'B'}, {10}, 154 - bandTop);
        auto barcode = StringOf({'1', '2'}, {30, 35}, 105 - bandTop);
        EXPECT_TRUE(band.Text(first->object(), text->object()));
        EXPECT_TRUE(band.Text(second->object(), text->object()));
        EXPECT_TRUE(band.Text(barcode->object(), symbol->object()));
        kept.push_back(band.Items());
        band.NextBand();
    }
    ASSERT_EQ(kept[0].size(), 2u);
    EXPECT_EQ(kept[0][0].bytes, Bytes("A"));
    EXPECT_EQ(kept[0][0].y, 76);
    EXPECT_EQ(kept[0][1].fontId, 100);
    EXPECT_EQ(kept[0][1].y, 95);
    ASSERT_EQ(kept[1].size(), 1u);
    EXPECT_EQ(kept[1][0].bytes, Bytes("B"));
    EXPECT_EQ(kept[1][0].y, 20);  // band coordinates
}

TEST(DeviceText, AnUnderlineBecomesTheItemsAttributeOtherLinesAreDrawn) {
    TextBand band;
    auto font = band.DeviceFont(kFaceText);
    auto string = StringOf({'A', 'B'}, {10, 23}, 50);
    RECTL lines[] = {{10, 52, 36, 54}, {10, 40, 36, 42}, {0, 0, 0, 0}};  // under, strike-out
    EXPECT_TRUE(band.Text(string->object(), font->object(), lines));
    const std::vector<Item> items = band.Items();
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].attributes, kTextUnderline | kTextSingleByteRun);
    EXPECT_EQ(band.InkedCount(), 26 * 2);
    EXPECT_TRUE(band.Inked(10, 40));
    EXPECT_FALSE(band.Inked(10, 52));

    // Without an underline the attribute stays clear.
    TextBand plain;
    auto plainFont = plain.DeviceFont(kFaceText);
    RECTL strikeOnly[] = {{10, 40, 36, 42}, {0, 0, 0, 0}};
    EXPECT_TRUE(plain.Text(string->object(), plainFont->object(), strikeOnly));
    ASSERT_EQ(plain.Items().size(), 1u);
    EXPECT_EQ(plain.Items()[0].attributes, kTextSingleByteRun);
}

TEST(DeviceText, RefusesFacesOutsideTheTableAndGlyphsWithoutText) {
    TextBand band;
    auto zero = band.DeviceFont(0);
    auto beyond = band.DeviceFont(kFaceCount + 1);
    auto text = band.DeviceFont(kFaceText);
    auto string = StringOf({'A'}, {10}, 50);
    std::vector<host::EngineString::Glyph> glyphs{{'A', {10, 50}}};
    host::EngineString noText(glyphs, u"", {});
    EXPECT_FALSE(band.Text(string->object(), zero->object()));
    EXPECT_FALSE(band.Text(string->object(), beyond->object()));
    EXPECT_FALSE(band.Text(noText.object(), text->object()));
    EXPECT_TRUE(band.Items().empty());
}

TEST(TextItems, BarcodeRunsMergeALoneSpaceGivesWayAndAFullBufferFails) {
    TextBand band;
    DeviceInstance& d = band.instance();
    const IFIMETRICS* symbol = &band.Metrics(kFaceBarcode);
    const BYTE space = ' ';
    const std::vector<BYTE> data = Bytes("12");
    EXPECT_TRUE(SaveString(&d, nullptr, symbol, {5, 5}, {20, 10}, 1, &space, 200, false));
    EXPECT_TRUE(SaveString(&d, nullptr, symbol, {5, 5}, {20, 10}, 2, data.data(), 100, false));
    EXPECT_TRUE(SaveString(&d, nullptr, symbol, {9, 5}, {20, 10}, 2, data.data(), 100, false));
    std::vector<Item> items = band.Items();
    ASSERT_EQ(items.size(), 1u);  // the space is gone, the two runs are one
    EXPECT_EQ(items[0].bytes, Bytes("1212"));
    EXPECT_EQ(items[0].x, 5);
    EXPECT_EQ(d.textBuf.dataUsed, 4u);
    EXPECT_TRUE(band.Logged(" SaveString pt[9,5] count:2\n"));

    // A merged item stops at 65,535 characters; the next run starts another.
    std::vector<BYTE> block(0xFFFF - 4, '7');
    EXPECT_TRUE(SaveString(&d, nullptr, symbol, {5, 5}, {20, 10}, static_cast<ULONG>(block.size()),
                           block.data(), 100, false));
    EXPECT_TRUE(SaveString(&d, nullptr, symbol, {5, 5}, {20, 10}, 1, data.data(), 100, false));
    items = band.Items();
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0].count, 0xFFFF);
    EXPECT_EQ(items[1].count, 1);

    // 2,520 items fill the buffer; the text call of the 2,521st fails.
    EmptyDevText(&d.textBuf);
    for (int i = 0; i < 2520; ++i)
        ASSERT_TRUE(SaveString(&d, nullptr, &band.Metrics(kFaceText), {i % 60, 5}, {13, 34}, 1,
                               data.data(), 1, true));
    auto font = band.DeviceFont(kFaceText);
    auto string = StringOf({'A'}, {10}, 50);
    EXPECT_FALSE(band.Text(string->object(), font->object()));
    EXPECT_EQ(d.textBuf.itemCount, 2520u);
    EXPECT_TRUE(band.Logged(" ERROR: TextBuf is FULL.\n"));
}

TEST(Barcode, ThePrinterDrawsItFromOneItemOfTheLibrarysSize) {
    struct Case {
        const char* what;
        BYTE flags;
        std::string text;
        std::vector<BYTE> data;
    };
    const Case cases[] = {
        {"plain data", 0, "12", Bytes("12")},
        {"hexadecimal data", 1, "30313F", {0x30, 0x31, 0x3F}},
        {"data cut to 256 bytes", 0, std::string(300, '9'), std::vector<BYTE>(256, '9')},
    };
    for (const Case& c : cases) {
        TextBand band;
        band.barcode().flags = c.flags;
        auto font = band.DeviceFont(kFaceBarcode);
        std::vector<HGLYPH> handles(c.text.begin(), c.text.end());
        auto string = StringOf(handles, std::vector<LONG>(handles.size(), 8), 40);
        EXPECT_TRUE(band.Text(string->object(), font->object())) << c.what;
        EXPECT_EQ(lastRequest.data, c.data) << c.what;
        const std::vector<Item> items = band.Items();
        ASSERT_EQ(items.size(), 1u) << c.what;
        const Item& r = items[0];
        EXPECT_EQ(r.fontId, 100);
        EXPECT_EQ(r.x, 8);
        EXPECT_EQ(r.y, 30);  // the baseline less the em height
        EXPECT_EQ(r.width, 20);
        EXPECT_EQ(r.height, 10);
        EXPECT_EQ(items[0].bytes, c.data) << c.what;
        EXPECT_EQ(band.InkedCount(), 0) << c.what;
    }
}

TEST(Barcode, OutsideThePageItIsLoggedAndLeftOut) {
    for (LONG x : {kWidth - 20 + 1, -1}) {
        TextBand band;
        auto font = band.DeviceFont(kFaceBarcode);
        auto string = StringOf({'1'}, {x}, 40);
        EXPECT_TRUE(band.Text(string->object(), font->object()));
        EXPECT_TRUE(band.Items().empty());
        EXPECT_TRUE(band.Logged(" ERROR:Barcode is Out of Page Range.\n")) << x;
    }
    // The library's refusal is logged the same way and the text call succeeds.
    TextBand band;
    band.barcode().flags = 1;
    auto font = band.DeviceFont(kFaceBarcode);
    auto single = StringOf({'3'}, {8}, 40);  // one hex digit: no data
    EXPECT_TRUE(band.Text(single->object(), font->object()));
    EXPECT_TRUE(band.Logged(" ERROR:BarcodeBlock() 1st return:0.\n"));
}

TEST(Barcode, ImagesAreDrawnTurnedWithBarsBlack) {
    struct Case {
        const char* what;
        bool rotatedPage;
        WORD rotation;
        BYTE flags;
    };
    const Case cases[] = {
        {"rotated page", true, 0, 0}, {"image asked for", false, 0, 2}, {"90", false, 90, 0},
        {"180", false, 180, 0},       {"270", false, 270, 0},
    };
    const POINTL at{8, 30};
    for (const Case& c : cases) {
        TextBand band;
        if (c.rotatedPage) band.instance().devmode.priv.layoutFlags |= kLayoutRotated;
        band.barcode().rotation = c.rotation;
        band.barcode().flags = c.flags;
        auto font = band.DeviceFont(kFaceBarcode);
        auto string = StringOf({'1', '2'}, {at.x, at.x + 5}, at.y + 10);
        EXPECT_TRUE(band.Text(string->object(), font->object())) << c.what;
        EXPECT_TRUE(band.Items().empty()) << c.what;
        // Where a clockwise turn puts each pixel of the 20 × 10 symbol.
        std::vector<bool> expected(static_cast<std::size_t>(kWidth * kHeight), false);
        for (LONG y = 0; y < 10; ++y)
            for (LONG x = 0; x < 20; ++x) {
                if (!BarAt(x, y)) continue;
                POINTL p{x, y};
                if (c.rotation == 90) p = {9 - y, x};
                if (c.rotation == 180) p = {19 - x, 9 - y};
                if (c.rotation == 270) p = {y, 19 - x};
                expected[static_cast<std::size_t>((at.y + p.y) * kWidth + at.x + p.x)] = true;
            }
        int wrong = 0;
        for (LONG y = 0; y < kHeight; ++y)
            for (LONG x = 0; x < kWidth; ++x)
                wrong += band.Inked(x, y) != expected[static_cast<std::size_t>(y * kWidth + x)];
        EXPECT_EQ(wrong, 0) << c.what;
        EXPECT_GT(band.InkedCount(), 30) << c.what;
    }
}

// A TrueType font's metrics with its face name behind them.
struct NamedMetrics {
    IFIMETRICS ifi;
    char16_t face[16];
};

TEST(Substitution, TrueTypeTextPrintsInTheDeviceFontTheTableNames) {
    std::vector<BYTE> table;
    for (const auto& [name, id] :
         std::vector<std::pair<std::u16string, WORD>>{{u"Arial", 1}, {u"Control", 200}}) {
        const auto* p = reinterpret_cast<const BYTE*>(name.c_str());
        table.insert(table.end(), p, p + (name.size() + 1) * 2);
        table.push_back(static_cast<BYTE>(id));
        table.push_back(static_cast<BYTE>(id >> 8));
    }
    table.insert(table.end(), {0, 0});
    struct Case {
        const char* what;
        const char16_t* face;
        LONG cellHeight;
        bool rotated;
        bool enabled;
        WORD fontId;  // 0: printed as TrueType
    };
    const Case cases[] = {
        {"text font of the cell's size", u"Arial", 40, false, true, 1},
        {"a size the device lacks", u"Arial", 80, false, true, 0},
        {"a cell below the smallest size", u"Arial", 20, false, true, 0},
        {"text fonts on a rotated page", u"Arial", 40, true, true, 0},
        {"substitution off", u"Arial", 40, false, false, 0},
        {"a control font", u"Control", 40, false, true, 200},
        {"not in the table", u"Times", 40, false, true, 0},
    };
    for (const Case& c : cases) {
        TextBand band;
        DeviceInstance& d = band.instance();
        d.fontSubstitutions = table.data();
        d.fontSubstitutionsSize = static_cast<DWORD>(table.size());
        if (c.enabled) d.printerData.flags |= 0x20;
        if (c.rotated) d.devmode.priv.layoutFlags |= kLayoutRotated;
        NamedMetrics metrics{};
        metrics.ifi.cjThis = sizeof metrics;
        metrics.ifi.dpwszFaceName = offsetof(NamedMetrics, face);
        metrics.ifi.fwdUnitsPerEm = 2048;
        std::memcpy(metrics.face, c.face, std::char_traits<char16_t>::length(c.face) * 2);
        host::EngineFont::Description description;
        description.type = FO_TYPE_TRUETYPE | FO_SIM_BOLD;
        description.metrics = &metrics.ifi;
        description.transform = XFORML{0.02f, 0, 0, 0.02f, 0, 0};
        host::EngineFont font(std::move(description));
        auto string = StringOf({7, 8}, {10, 23}, 50, u"Hi", {10, 50 - c.cellHeight, 36, 50});
        band.Text(string->object(), font.object());
        const std::vector<Item> items = band.Items();
        if (c.fontId == 0) {
            EXPECT_TRUE(items.empty()) << c.what;
            EXPECT_TRUE(band.Logged(" Font is Not Device Font:")) << c.what;
            continue;
        }
        EXPECT_TRUE(
            band.Logged(" Font is Substituted Device Font:" + std::to_string(c.fontId) + "\n"))
            << c.what;
        ASSERT_EQ(items.size(), 1u) << c.what;
        const Item& r = items[0];
        EXPECT_EQ(r.fontId, c.fontId) << c.what;
        EXPECT_EQ(items[0].bytes, Bytes("Hi")) << c.what;
        if (c.fontId == 1) {
            // The device font's metrics place it; the simulation gives the style.
            EXPECT_EQ(r.y, 50 - 34);
            EXPECT_EQ(r.width, 26);
            EXPECT_EQ(r.attributes, kTextBold | kTextSingleByteRun);
        } else {
            // Whole, as wide as the cells, as high as the em (2048 × 0.02).
            EXPECT_EQ(r.y, 50 - 41);
            EXPECT_EQ(r.width, 26);
            EXPECT_EQ(r.height, 41);
            EXPECT_EQ(r.attributes, kTextBold);
        }
    }
}

// Glyphs of one shape: a bitmap of 4 × 4 ink above the baseline, or the
// outline of the same square.
class SquareGlyphs : public host::GlyphSource {
  public:
    bool Image(HGLYPH, host::GlyphImage* image) override {
        image->origin = {0, -4};
        image->size = {4, 4};
        image->bits.assign(4, 0xF0);
        return true;
    }
    bool Outline(HGLYPH, std::vector<host::EnginePath::Figure>* figures) override {
        host::EnginePath::Figure square;
        square.closed = true;
        square.points = {{0, -64}, {64, -64}, {64, 0}, {0, 0}};
        figures->push_back(square);
        return true;
    }
    FIX Advance(HGLYPH) override { return 6 * 16; }
};

TEST(OwnText, GlyphsAreDrawnBetweenTheBackgroundAndTheLines) {
    for (FLONG type : {FO_TYPE_RASTER, FO_TYPE_TRUETYPE}) {
        TextBand band;
        band.instance().geometry.renderFlags = kOwnRendering;
        band.FillBlack();
        host::EngineFont::Description description;
        description.type = type;
        description.transform = kIdentity;
        description.glyphs = std::make_shared<SquareGlyphs>();
        host::EngineFont font(std::move(description));
        auto string = StringOf({1, 2}, {10, 16}, 20, u"ab", {10, 16, 22, 20});
        // A white background in the black band, black glyphs on it, a line
        // through them and beyond.
        RECTL opaque{8, 14, 24, 22};
        RECTL line[] = {{10, 17, 22, 18}, {0, 0, 0, 0}};
        EXPECT_TRUE(band.Text(string->object(), font.object(), line, &opaque, kBlack, kWhite));
        int wrong = 0;
        for (LONG y = 0; y < kHeight; ++y)
            for (LONG x = 0; x < kWidth; ++x) {
                const bool background = x >= 8 && x < 24 && y >= 14 && y < 22;
                const bool glyph =
                    ((x >= 10 && x < 14) || (x >= 16 && x < 20)) && y >= 16 && y < 20;
                const bool onLine = x >= 10 && x < 22 && y == 17;
                wrong += band.Inked(x, y) != (!background || glyph || onLine);
            }
        EXPECT_EQ(wrong, 0) << type;
        EXPECT_TRUE(band.Items().empty());
        EXPECT_TRUE(band.Logged(" Font is Not Device Font:")) << type;
    }
    // A lone space draws nothing.
    TextBand band;
    band.instance().geometry.renderFlags = kOwnRendering;
    host::EngineFont::Description description;
    description.type = FO_TYPE_RASTER;
    description.glyphs = std::make_shared<SquareGlyphs>();
    host::EngineFont font(std::move(description));
    auto space = StringOf({1}, {10}, 20, u" ");
    EXPECT_TRUE(band.Text(space->object(), font.object()));
    EXPECT_EQ(band.InkedCount(), 0);
}

}  // namespace
