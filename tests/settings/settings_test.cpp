// The settings block, the printer's registry data and the device mode.
#include "driver/settings.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <vector>

#include "platform/heap.h"
#include "platform/registry.h"
#include "platform/spooler.h"
#include "platform/wide.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;

std::string ExampleText() {
    std::ifstream in(testsupport::SourceDir() / "examples/QLPR80.INI", std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string Replace(std::string text, const std::string& from, const std::string& to) {
    const std::size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    if (at != std::string::npos) text.replace(at, from.size(), to);
    return text;
}

std::unique_ptr<PrinterDataObj> Compile(const fs::path& folder, const std::string& text) {
    const fs::path path = folder / "variant.ini";
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
    std::optional<std::vector<BYTE>> block = CompileDataFile(path);
    return block ? PrinterDataObj::FromBlock(std::move(*block)) : nullptr;
}

CustomPaperRecord UserPaper(const char16_t* name, SHORT code, LONG width, LONG length) {
    CustomPaperRecord r{};
    platform::WideCopy(r.name, 32, name);
    r.code = code;
    r.width = width;
    r.length = length;
    return r;
}

template <class... T>
std::vector<long long> V(T... values) {
    return {static_cast<long long>(values)...};
}

class SettingsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        config_ = Compile(root_.path(), ExampleText());
        ASSERT_NE(config_, nullptr);
        settings_ = DefaultPrinterData(*config_);
    }
    // A printer of the spooler stand-in, for its registry data.
    HANDLE Printer() {
        EXPECT_TRUE(platform::InstallPrinter(u"QLPR-80", {"QLPRGI.DLL", "QLPR80.INI", "-"}));
        HANDLE printer = nullptr;
        EXPECT_TRUE(OpenPrinterW(u"QLPR-80", &printer, nullptr));
        return printer;
    }
    void Set(HANDLE printer, const char16_t* name, const void* data, DWORD size,
             DWORD type = REG_BINARY) {
        ASSERT_EQ(SetPrinterDataW(printer, name, type, static_cast<const BYTE*>(data), size),
                  ERROR_SUCCESS);
    }

    testsupport::ScopedStoreRoot root_;
    std::unique_ptr<PrinterDataObj> config_;
    std::unique_ptr<PrinterData> settings_;
};

TEST_F(SettingsTest, DefaultSettingsBlock) {
    const PrinterData& p = *settings_;
    EXPECT_EQ(V(p.size, p.one, p.version, p.configVersion, p.flags, p.driver0, p.driver2),
              V(26102, 1, 0x100, 1, 10 | kFlagDualSideAllowed | kFlagBandInUserMemory, 1, 0));
    EXPECT_EQ(V(p.customWidthMin, p.customLengthMin, p.customWidthMax, p.customLengthMax),
              V(250, 500, 800, 32760));
    EXPECT_EQ(V(p.device2, p.margins[0], p.margins[1], p.margins[2], p.margins[3]),
              V(0, 40, 0, 40, 0));
    EXPECT_EQ(V(p.constants[0], p.constants[1], p.constants[2]), V(2, 5, 0));
    const COLORINFO& c = p.colourInfo;
    EXPECT_EQ(V(c.Red.x, c.Green.y, c.Blue.y, c.Cyan.x, c.Magenta.y, c.Yellow.x),
              V(6380, 6075, 932, 2000, 2100, 4750));
    EXPECT_EQ(V(c.AlignmentWhite.x, c.AlignmentWhite.y, c.BlueGamma, c.MagentaInCyanDye,
                c.YellowInCyanDye, c.MagentaInYellowDye),
              V(3127, 3290, 12500, 585, 120, 10000));
    EXPECT_EQ(V(p.logMode, p.logGenerations, p.fontSizeMode), V(kLogNone, 0, 2));

    // The model papers 257, 258, 259 (not the custom size 256), entry
    // header zeroed, then the record as stored.
    const std::vector<ConfigEntry> papers = config_->entries(Keyword::paper);
    for (int i = 0; i < 3; ++i) {
        const ModelPaperSlot& slot = p.modelPapers[i];
        EXPECT_EQ(DWORD{slot.one}, 1u);
        EXPECT_EQ(std::memcmp(slot.entry, "\0\0\0\0\0\0\0\0", 8), 0);
        EXPECT_EQ(std::memcmp(slot.entry + 8, papers[i].record + 8, 58), 0);
    }
    EXPECT_EQ(DWORD{p.modelPapers[3].one}, 0u);
}

TEST_F(SettingsTest, DefaultFlagsFollowTheModel) {
    std::string text = ExampleText();
    text = Replace(text, "driver=1,10,0,0", "driver=0,16,0,0");
    text = Replace(text, "printermodel=1,80,0", "printermodel=0,80,0");
    text = Replace(text, "fontsize=2", "fontsize=1");
    std::string more;
    for (int code = 270; code < 282; ++code)
        more += "P" + std::to_string(code) + "=0," + std::to_string(code) + "\n";
    text = Replace(text, "[paper]\n", "[paper]\n" + more);
    auto config = Compile(root_.path(), text);
    ASSERT_NE(config, nullptr);
    auto p = DefaultPrinterData(*config);
    EXPECT_EQ(p->flags, kFlagBandInUserMemory);
    EXPECT_EQ(p->fontSizeMode, 1);
    for (const ModelPaperSlot& slot : p->modelPapers) EXPECT_EQ(DWORD{slot.one}, 1u);
    SHORT lastCode;
    std::memcpy(&lastCode, p->modelPapers[9].entry + 10, 2);
    EXPECT_EQ(lastCode, 279);
}

TEST_F(SettingsTest, SettingsBlockFromTheRegistryOrDefaults) {
    HANDLE printer = Printer();
    EXPECT_EQ(LoadPrinterData(printer, nullptr), nullptr);
    auto defaults = LoadPrinterData(printer, config_.get());
    ASSERT_NE(defaults, nullptr);
    EXPECT_EQ(std::memcmp(defaults.get(), settings_.get(), sizeof(PrinterData)), 0);

    PrinterData stored = *settings_;
    stored.logMode = kLogDetail;
    stored.controlStrings[95][256] = 'x';
    const DWORD size = kPrinterDataSize;
    Set(printer, u"PrinterDataSize", &size, 4, REG_DWORD);
    Set(printer, u"PrinterData", &stored, sizeof stored);
    auto loaded = LoadPrinterData(printer, nullptr);
    ASSERT_NE(loaded, nullptr);
    EXPECT_EQ(std::memcmp(loaded.get(), &stored, sizeof stored), 0);

    // A stored block shorter than its declared size is not taken.
    Set(printer, u"PrinterData", &stored, 100);
    EXPECT_EQ(LoadPrinterData(printer, config_.get())->logMode, kLogNone);
    Set(printer, u"PrinterData", &stored, sizeof stored);
    const DWORD wrong = 100;
    Set(printer, u"PrinterDataSize", &wrong, 4, REG_DWORD);
    EXPECT_EQ(LoadPrinterData(printer, config_.get())->logMode, kLogNone);
    const DWORD twoWords[2] = {kPrinterDataSize, 0};
    Set(printer, u"PrinterDataSize", twoWords, 8);
    EXPECT_EQ(LoadPrinterData(printer, nullptr), nullptr);
    ClosePrinter(printer);
}

TEST_F(SettingsTest, CustomPapersAndFontSubstitutions) {
    HANDLE printer = Printer();
    HANDLE heap = HeapCreate(0, 0, 0);
    CustomPaperList list;
    ReadCustomPapers(printer, heap, &list);
    EXPECT_EQ(list.count, 0);

    std::vector<CustomPaperRecord> records = {UserPaper(u"Ticket", 701, 580, 1200),
                                              UserPaper(u"Label", 702, 700, 500),
                                              UserPaper(u"Tag", 703, 300, 300)};
    for (WCHAR& c : records[2].name) c = u'N';  // a name that fills its field
    std::vector<BYTE> value(3 * 96 + 40);
    std::memcpy(value.data(), records.data(), 3 * 96);
    Set(printer, u"CustomPaper", value.data(), static_cast<DWORD>(value.size()));
    ReadCustomPapers(printer, heap, &list);
    ASSERT_EQ(list.count, 3);
    EXPECT_EQ(std::u16string(list.first->record.name), u"Ticket");
    EXPECT_EQ(list.first->next->record.code, 702);
    EXPECT_EQ(list.first->next->next->record.name[31], 0);
    EXPECT_EQ(list.first->next->next->next, nullptr);
    FreeCustomPapers(heap, &list);
    EXPECT_EQ(list.count, 0);
    EXPECT_EQ(list.first, nullptr);

    // A heap too small for the third node: the list is emptied.
    HANDLE small = HeapCreate(0, 0, 2 * sizeof(CustomPaperNode) + 8);
    ReadCustomPapers(printer, small, &list);
    EXPECT_EQ(list.count, 0);
    EXPECT_EQ(list.first, nullptr);
    HeapDestroy(small);

    Set(printer, u"CustomPaper", nullptr, 0);
    ReadCustomPapers(printer, heap, &list);
    EXPECT_EQ(list.count, 0);

    DWORD size = 1;
    EXPECT_EQ(ReadFontSubstitutions(printer, heap, &size), nullptr);
    EXPECT_EQ(size, 0u);
    const char16_t table[] = u"Arial\x0001\0Courier New\x0002\0";
    const DWORD tableSize = sizeof table;
    Set(printer, u"TTFontSubTable", table, tableSize);
    EXPECT_EQ(ReadFontSubstitutions(printer, heap, &size), nullptr);  // no size value
    Set(printer, u"TTFontSubTableSize", &tableSize, 4, REG_DWORD);
    BYTE* block = ReadFontSubstitutions(printer, heap, &size);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(size, tableSize);
    EXPECT_EQ(std::memcmp(block, table, tableSize), 0);
    const DWORD zero = 0;
    Set(printer, u"TTFontSubTableSize", &zero, 4, REG_DWORD);
    EXPECT_EQ(ReadFontSubstitutions(printer, heap, &size), nullptr);
    HeapDestroy(heap);
    ClosePrinter(printer);
}

// The block as stored: pairs of name and number, as bytes.
std::vector<BYTE> SubstitutionBytes(std::initializer_list<std::pair<std::u16string, WORD>> pairs,
                                    bool terminated) {
    std::vector<BYTE> bytes;
    const auto add = [&](const void* data, std::size_t size) {
        const auto* p = static_cast<const BYTE*>(data);
        bytes.insert(bytes.end(), p, p + size);
    };
    const char16_t zero = 0;
    for (const auto& [name, id] : pairs) {
        add(name.data(), name.size() * sizeof(char16_t));
        add(&zero, sizeof zero);
        add(&id, sizeof id);
    }
    if (terminated) add(&zero, sizeof zero);
    return bytes;
}

TEST_F(SettingsTest, SubstitutionLookupNeverReadsPastTheBlock) {
    const std::vector<BYTE> table = SubstitutionBytes({{u"Arial", 1}, {u"Courier New", 150}}, true);
    const std::size_t arialPair = 5 * 2 + 2 + 2;
    struct Case {
        const char* what;
        std::size_t size;  // bytes of `table` the block has
        const char16_t* face;
        WORD id;
    };
    const Case cases[] = {
        {"found", table.size(), u"Arial", 1},
        {"letters in any case", table.size(), u"COURIER new", 150},
        {"not listed", table.size(), u"Times", 0},
        {"a name's start is not a match", table.size(), u"Cour", 0},
        {"no end mark", table.size() - 2, u"Times", 0},
        {"no end mark, listed", table.size() - 2, u"Courier New", 150},
        {"number cut off", table.size() - 3, u"Courier New", 0},
        {"name runs off the end", arialPair + 6, u"Cou", 0},
        {"odd size inside a name", arialPair + 7, u"Cou", 0},
        {"odd size after a pair", arialPair + 1, u"Arial", 1},
        {"empty block", 0, u"Arial", 0},
        {"empty face name", table.size(), u"", 0},
    };
    for (const Case& c : cases) {
        // Exactly `size` bytes, so that the sanitizer sees any read beyond.
        std::unique_ptr<BYTE[]> block(new BYTE[c.size + (c.size == 0 ? 1 : 0)]);
        std::memcpy(block.get(), table.data(), c.size);
        EXPECT_EQ(LookupFontSubstitution(block.get(), static_cast<DWORD>(c.size), c.face), c.id)
            << c.what;
    }
    EXPECT_EQ(LookupFontSubstitution(nullptr, 100, u"Arial"), 0);
}

// ---- device mode ------------------------------------------------------------

class DevmodeTest : public SettingsTest {
  protected:
    void SetUp() override {
        SettingsTest::SetUp();
        records_[0] = {UserPaper(u"Ticket", 701, 580, 1200), &records_[1]};
        records_[1] = {UserPaper(u"Wide Label", 702, 700, 500), nullptr};
        papers_ = {2, &records_[0]};
        BuildDefaultDevmode(*config_, *settings_, papers_, u"QLPR-80 Receipt", &defaults_);
    }
    // An application's device mode that asks nothing: the default, no fields.
    Devmode Input() const {
        Devmode m = defaults_;
        m.pub.dmFields = 0;
        return m;
    }
    // Merges exactly `bytes` bytes (a buffer of that size, so that any read
    // past it shows under the sanitizer).
    Devmode MergeBytes(const std::vector<BYTE>& bytes) const {
        auto buffer = std::make_unique<BYTE[]>(bytes.size() == 0 ? 1 : bytes.size());
        if (!bytes.empty()) std::memcpy(buffer.get(), bytes.data(), bytes.size());
        Devmode out;
        MergeDevmode(*config_, *settings_, papers_, defaults_, buffer.get(), bytes.size(), &out);
        return out;
    }
    Devmode Merge(const Devmode& m, std::size_t bytes = sizeof(Devmode)) const {
        const BYTE* raw = reinterpret_cast<const BYTE*>(&m);
        return MergeBytes(std::vector<BYTE>(raw, raw + bytes));
    }
    // The public part cut to `size` bytes, followed by the private part.
    static std::vector<BYTE> Pack(Devmode m, WORD size, WORD specVersion, bool withPrivate) {
        m.pub.dmSize = size;
        m.pub.dmSpecVersion = specVersion;
        const BYTE* raw = reinterpret_cast<const BYTE*>(&m);
        std::vector<BYTE> bytes(raw, raw + size);
        if (withPrivate) bytes.insert(bytes.end(), raw + 220, raw + sizeof(Devmode));
        return bytes;
    }

    CustomPaperNode records_[2];
    CustomPaperList papers_;
    Devmode defaults_;
};

TEST_F(DevmodeTest, DefaultFromTheExample) {
    const DEVMODEW& pub = defaults_.pub;
    const PrivateDevmode& priv = defaults_.priv;
    EXPECT_EQ(std::u16string(pub.dmDeviceName), u"QLPR-80 Receipt");
    EXPECT_EQ(
        V(pub.dmSpecVersion, pub.dmDriverVersion, pub.dmSize, pub.dmDriverExtra, pub.dmFields),
        V(0x401, 0x100, 220, 2002, 0x4058B03));
    EXPECT_EQ(V(pub.dmOrientation, pub.dmPaperSize, pub.dmPaperWidth, pub.dmPaperLength),
              V(1, 257, 800, 3276));
    EXPECT_EQ(std::u16string(pub.dmFormName), u"80 mm Roll");
    EXPECT_EQ(V(pub.dmScale, pub.dmCopies, pub.dmDefaultSource, pub.dmPrintQuality,
                pub.dmYResolution, pub.dmLogPixels),
              V(100, 1, 257, 203, 203, 203));
    EXPECT_EQ(V(pub.dmColor, pub.dmBitsPerPel, pub.dmDitherType, pub.dmDuplex, pub.dmTTOption,
                pub.dmCollate, pub.dmMediaType, pub.dmICMMethod),
              V(1, 1, 257, 1, 1, 1, 1, 1));
    EXPECT_EQ(V(priv.signature, priv.optionFlags, priv.layoutFlags, priv.pagesPerSheet,
                priv.pageOrder, priv.zoom, priv.sheetPaperCode, priv.colourMode),
              V(kPrivateSignature, 0x18, 0, 1, 0, 100, 257, 1));
    EXPECT_EQ(V(priv.imagePosition, priv.imagePercent, priv.customWidth, priv.customLength,
                priv.device0, priv.deviceFlags),
              V(1, 100, 800, 3276, 1, kDeviceFonts));
    EXPECT_EQ(V(priv.dualSide, priv.blankSkipping, priv.rotation, priv.cutMask, priv.feedMask),
              V(1, 2, 0, 8, 8));
    const WORD types[8] = {0, 1, 2, 4, 5, 6, 7, 8};
    for (int i = 0; i < 8; ++i) {
        const BarcodeSettings& b = priv.barcodes[i];
        const BarcodeSettings& c = priv.codes2d[i];
        EXPECT_EQ(V(b.type, b.parameter1, b.parameter2, c.type, c.parameter1, c.parameter2),
                  V(types[i], 3, 162, i == 0 ? 10 : 0xFFFF, 3, 1));
    }
    const PaperRecord roll{800, 3276, 40, 0, 40, 0, 576, 2618, 0, 0};
    EXPECT_EQ(std::memcmp(&priv.pagePaper, &roll, sizeof roll), 0);
    EXPECT_EQ(std::memcmp(&priv.sheetPaper, &roll, sizeof roll), 0);

    Devmode longName;
    BuildDefaultDevmode(*config_, *settings_, papers_,
                        u"A printer name of more than thirty-one characters", &longName);
    EXPECT_EQ(std::u16string(longName.pub.dmDeviceName).size(), 31u);
}

TEST_F(DevmodeTest, DefaultDualSideModeAndOrientation) {
    auto build = [&](const std::string& model, const std::string& dual) {
        std::string text = Replace(ExampleText(), "printermodel=1,80,0", model);
        auto config = Compile(root_.path(), Replace(text, "dualside=1", dual));
        auto settings = DefaultPrinterData(*config);
        Devmode dm;
        BuildDefaultDevmode(*config, *settings, papers_, u"x", &dm);
        return dm;
    };
    const Devmode three = build("printermodel=1,80,0", "dualside=3");
    EXPECT_EQ(V(three.priv.dualSide, three.pub.dmDefaultSource, three.priv.blankSkipping,
                three.priv.cutMask),
              V(3, 261, 0, 4));
    EXPECT_EQ(build("printermodel=1,80,0", "dualside=4").priv.dualSide, 1);
    const Devmode noFeature = build("printermodel=0,80,0", "dualside=3");
    EXPECT_EQ(V(noFeature.priv.dualSide, noFeature.pub.dmDefaultSource), V(1, 257));

    // The default orientation is the data file's as it stands.
    for (SHORT orientation : {0, 2, 5}) {
        const std::string device = "device=1,0,0,40,0,40,0,0,0,0," + std::to_string(orientation);
        auto config =
            Compile(root_.path(), Replace(ExampleText(), "device=1,0,0,40,0,40,0,0,0,0,1", device));
        Devmode dm;
        BuildDefaultDevmode(*config, *settings_, papers_, u"x", &dm);
        EXPECT_EQ(V(dm.pub.dmOrientation, dm.priv.rotation),
                  V(orientation, orientation == 2 ? 90 : 0));
    }
}

TEST_F(DevmodeTest, PublicFieldsAreCheckedWhenMerged) {
    Devmode none;
    MergeDevmode(*config_, *settings_, papers_, defaults_, nullptr, 0, &none);
    EXPECT_EQ(std::memcmp(&none, &defaults_, sizeof none), 0);

    // Copies, collate, source and dither type are read whether flagged or
    // not; orientation and scale only when flagged. The merged fields are
    // the application's own.
    const struct {
        const char* what;
        DWORD fields;
        SHORT copies, collate, source, scale, orientation;
        DWORD dither;
        std::vector<long long> expected;  // copies collate source dither scale orientation
    } rows[] = {
        {"taken unflagged", 0, 3, 0, 262, 400, 2, 258, V(3, 0, 262, 258, 100, 1)},
        {"taken flagged",
         DM_COPIES | DM_COLLATE | DM_DEFAULTSOURCE | DM_DITHERTYPE | DM_SCALE | DM_ORIENTATION, 3,
         0, 262, 400, 2, 258, V(3, 0, 262, 258, 400, 2)},
        {"out of range", DM_SCALE | DM_ORIENTATION, 0, 2, 15, 24, 7, 3, V(1, 1, 257, 257, 100, 1)},
        {"too many copies", DM_SCALE, 5000, 1, 257, 401, 1, 257, V(999, 1, 257, 257, 100, 1)},
    };
    for (const auto& row : rows) {
        Devmode m = Input();
        m.pub.dmFields = row.fields;
        m.pub.dmCopies = row.copies;
        m.pub.dmCollate = row.collate;
        m.pub.dmDefaultSource = row.source;
        m.pub.dmScale = row.scale;
        m.pub.dmOrientation = row.orientation;
        m.pub.dmDitherType = row.dither;
        const Devmode out = Merge(m);
        EXPECT_EQ(V(out.pub.dmCopies, out.pub.dmCollate, out.pub.dmDefaultSource,
                    out.pub.dmDitherType, out.pub.dmScale, out.pub.dmOrientation),
                  row.expected)
            << row.what;
        EXPECT_EQ(V(out.pub.dmFields, out.pub.dmSpecVersion), V(row.fields, 0x401)) << row.what;
    }

    // A print quality that is no resolution of the model keeps the default's.
    Devmode m = Input();
    m.pub.dmFields = DM_PRINTQUALITY;
    m.pub.dmPrintQuality = -4;
    EXPECT_EQ(Merge(m).pub.dmPrintQuality, 203);
}

TEST_F(DevmodeTest, SizesVersionsAndThePrivatePart) {
    Devmode m = Input();
    m.pub.dmFields = DM_COPIES;
    m.pub.dmCopies = 3;
    m.priv.zoom = 50;
    for (WORD size : {188, 212, 220}) {
        const Devmode out = MergeBytes(Pack(m, size, 0, true));
        EXPECT_EQ(V(out.pub.dmCopies, out.priv.zoom, out.pub.dmSize, out.pub.dmDriverExtra,
                    out.pub.dmSpecVersion),
                  V(3, 50, 220, 2002, 0x401))
            << size;
    }
    // Neither a known size nor a version: nothing is merged.
    EXPECT_EQ(MergeBytes(Pack(m, 200, 0, true)).pub.dmCopies, 1);
    EXPECT_EQ(MergeBytes(Pack(m, 200, 0x401, true)).pub.dmCopies, 3);

    // The private part only with extra 2,002 and the signature.
    Devmode unsigned_ = m;
    unsigned_.priv.signature = 0;
    EXPECT_EQ(Merge(unsigned_).priv.zoom, 100);
    Devmode shortExtra = m;
    shortExtra.pub.dmDriverExtra = 1000;
    EXPECT_EQ(Merge(shortExtra).priv.zoom, 100);
    EXPECT_EQ(Merge(m).priv.zoom, 50);
}

TEST_F(DevmodeTest, ShortInputIsNeverReadPast) {
    Devmode m = Input();
    m.pub.dmFields = DM_COPIES | DM_COLLATE;
    m.pub.dmCopies = 4;
    m.pub.dmCollate = 0;
    m.priv.zoom = 50;
    // Claims 220 + 2,002 bytes; only part of the private part is there.
    Devmode out = Merge(m, 220 + 100);
    EXPECT_EQ(V(out.pub.dmCopies, out.pub.dmCollate, out.priv.zoom), V(4, 0, 100));
    // Only 100 bytes: the copies (offset 86) are there, the collate (100) not.
    out = Merge(m, 100);
    EXPECT_EQ(out.pub.dmCopies, 4);
    EXPECT_EQ(out.pub.dmCollate, 1);
    // Too short to hold its own size.
    EXPECT_EQ(Merge(m, 60).pub.dmCopies, 1);
    EXPECT_EQ(Merge(m, 0).pub.dmCopies, 1);
    // A declared size beyond what was handed in, with a private part.
    m.pub.dmSize = 0xFFF0;
    EXPECT_EQ(Merge(m).priv.zoom, 100);
}

TEST_F(DevmodeTest, CustomSizeInAndOutOfRange) {
    Devmode m = Input();
    m.pub.dmFields = DM_PAPERSIZE | DM_PAPERLENGTH | DM_PAPERWIDTH | DM_FORMNAME;
    m.pub.dmPaperSize = 256;
    m.pub.dmPaperWidth = 600;
    m.pub.dmPaperLength = 2000;
    Devmode out = Merge(m);
    EXPECT_EQ(V(out.pub.dmPaperSize, out.pub.dmPaperWidth, out.pub.dmPaperLength,
                out.pub.dmFormName[0], out.pub.dmFields & DM_FORMNAME),
              V(256, 600, 2000, 0, 0));
    EXPECT_EQ(V(out.priv.layoutFlags & kLayoutCustomOutOfRange, out.priv.sheetPaperCode,
                out.priv.customWidth, out.priv.customLength, out.priv.pagePaper.width,
                out.priv.sheetPaper.length),
              V(0, 256, 600, 2000, 600, 2000));

    m.pub.dmPaperWidth = 900;
    EXPECT_TRUE(Merge(m).priv.layoutFlags & kLayoutCustomOutOfRange);
    m.pub.dmPaperWidth = 600;
    m.pub.dmPaperLength = 400;
    EXPECT_TRUE(Merge(m).priv.layoutFlags & kLayoutCustomOutOfRange);
    m.priv.layoutFlags |= kLayoutFitToSheet;
    out = Merge(m);
    EXPECT_FALSE(out.priv.layoutFlags & kLayoutCustomOutOfRange);
    EXPECT_EQ(out.priv.sheetPaperCode, 257);  // fit to sheet keeps the sheet

    // Code 256 without a size: the private custom size.
    m = Input();
    m.pub.dmFields = DM_PAPERSIZE;
    m.pub.dmPaperSize = 256;
    m.priv.customWidth = 580;
    m.priv.customLength = 1500;
    out = Merge(m);
    EXPECT_EQ(V(out.pub.dmPaperWidth, out.pub.dmPaperLength, out.priv.pagePaper.length),
              V(580, 1500, 1500));
    // A custom size of 0 is kept as stored (the enable then refuses it).
    m.priv.customWidth = 0;
    m.priv.customLength = 0;
    out = Merge(m);
    EXPECT_EQ(V(out.pub.dmPaperWidth, out.priv.sheetPaperCode, out.priv.customWidth,
                out.priv.pagePaper.width, out.priv.pagePaper.length),
              V(0, 256, 0, 0, 0));
}

TEST_F(DevmodeTest, PaperByCodeByNameAndFromTheUserPapers) {
    // By code: code, width and length (the form name stays the
    // application's). By name: name, width and length, the code kept. Neither:
    // the sheet paper gives name and size, the code stays the application's,
    // and the sheet follows that code unless fit to sheet keeps it.
    constexpr DWORD kPaperFields = DM_FORMNAME | DM_PAPERSIZE | DM_PAPERLENGTH | DM_PAPERWIDTH;
    const struct {
        const char* what;
        DWORD fields;
        SHORT code;
        const char16_t* name;
        WORD sheet;
        DWORD layout;
        const char16_t* expectedName;
        std::vector<long long> expected;  // code width length sheet fields printableHeight
    } rows[] = {
        {"by code", DM_PAPERSIZE, 258, u"Mine", 257, 0, u"Mine",
         V(258, 580, 3276, 258, DM_PAPERSIZE, 2618)},
        {"user paper by code", DM_PAPERSIZE, 701, u"Mine", 257, 0, u"Mine",
         V(701, 580, 1200, 701, DM_PAPERSIZE, 1200 * 203 / 254)},
        {"unknown code, by name", DM_FORMNAME | DM_PAPERSIZE, 9, u"80 X 100 MM RECEIPT", 257, 0,
         u"80 x 100 mm Receipt", V(9, 800, 1000, 259, DM_FORMNAME, 799)},
        {"user paper by name", DM_FORMNAME, 257, u"wide label", 257, 0, u"Wide Label",
         V(257, 700, 500, 702, DM_FORMNAME, 500 * 203 / 254)},
        {"nothing asked", 0, 257, u"Mine", 259, 0, u"80 x 100 mm Receipt",
         V(257, 800, 1000, 257, 0, 2618)},
        {"nothing asked, fit to sheet", 0, 257, u"Mine", 259, kLayoutFitToSheet,
         u"80 x 100 mm Receipt", V(257, 800, 1000, 259, 0, 799)},
        {"unknown sheet", DM_PAPERSIZE, 9, u"Mine", 999, 0, u"80 mm Roll",
         V(9, 800, 3276, 9, DM_PAPERSIZE, 2618)},
    };
    for (const auto& row : rows) {
        Devmode m = Input();
        m.pub.dmFields = row.fields;
        m.pub.dmPaperSize = row.code;
        platform::WideCopy(m.pub.dmFormName, 32, row.name);
        m.priv.sheetPaperCode = row.sheet;
        m.priv.layoutFlags = row.layout;
        const Devmode out = Merge(m);
        EXPECT_EQ(std::u16string(out.pub.dmFormName), row.expectedName) << row.what;
        EXPECT_EQ(V(out.pub.dmPaperSize, out.pub.dmPaperWidth, out.pub.dmPaperLength,
                    out.priv.sheetPaperCode, out.pub.dmFields & kPaperFields,
                    out.priv.pagePaper.printableHeight),
                  row.expected)
            << row.what;
    }

    Devmode m = Input();
    Devmode out;
    // A user paper: margins, pads and printable width of the model paper of
    // its width, top and bottom from the device margins.
    std::string text = Replace(ExampleText(), "device=1,0,0,40,0,40,0", "device=1,0,0,40,30,40,50");
    auto config = Compile(root_.path(), text);
    m.pub.dmFields = DM_PAPERSIZE;
    m.pub.dmPaperSize = 701;
    MergeDevmode(*config, *settings_, papers_, defaults_, reinterpret_cast<const BYTE*>(&m),
                 sizeof m, &out);
    const PaperRecord ticket{580, 1200, 50, 30, 50, 50, 384, (1200 - 80) * 203 / 254, 0, 0};
    EXPECT_EQ(std::memcmp(&out.priv.pagePaper, &ticket, sizeof ticket), 0);
    // No 70 mm model paper: the default paper's side margins.
    m.pub.dmPaperSize = 702;
    EXPECT_EQ(Merge(m).priv.pagePaper.marginLeft, 40);
}

TEST_F(DevmodeTest, ValidationRules) {
    Devmode dm = defaults_;
    const struct {
        SHORT source;
        BYTE cut, feed;
    } masks[] = {{257, 8, 8}, {258, 0, 8}, {259, 8, 0}, {260, 0, 0},
                 {261, 4, 4}, {262, 0, 4}, {263, 4, 0}, {700, 0xFF, 0xFF}};
    for (auto row : masks) {
        Devmode m = Input();
        m.pub.dmFields = DM_DEFAULTSOURCE;
        m.pub.dmDefaultSource = row.source;
        const Devmode out = Merge(m);
        EXPECT_EQ(V(out.priv.cutMask, out.priv.feedMask), V(row.cut, row.feed)) << row.source;
    }
    dm.pub.dmDefaultSource = 15;
    dm.priv.cutMask = 0x12;
    dm.priv.feedMask = 0x34;
    ValidateDevmode(*config_, *settings_, papers_, &dm);
    EXPECT_EQ(V(dm.priv.cutMask, dm.priv.feedMask), V(0x12, 0x34));

    // Colour and bits per pel.
    dm.priv.colourMode = 3;
    ValidateDevmode(*config_, *settings_, papers_, &dm);
    EXPECT_EQ(V(dm.pub.dmBitsPerPel, dm.pub.dmColor), V(24, 2));
    PrinterData mono = *settings_;
    mono.flags &= ~(kFlagColourAllowed | kFlagDualSideAllowed);
    dm.priv.dualSide = 2;
    dm.pub.dmDitherType = 260;
    ValidateDevmode(*config_, mono, papers_, &dm);
    EXPECT_EQ(V(dm.priv.colourMode, dm.priv.dualSide, dm.pub.dmBitsPerPel, dm.pub.dmColor),
              V(1, 1, 8, 1));

    // Colour matching, 2-up landscape.
    dm.priv.layoutFlags |= kLayoutSystemColourMatching;
    dm.pub.dmOrientation = 2;
    dm.priv.pagesPerSheet = 2;
    dm.priv.deviceFlags |= kDeviceReversed2Up;
    ValidateDevmode(*config_, *settings_, papers_, &dm);
    EXPECT_EQ(V(dm.pub.dmICMMethod, dm.priv.deviceFlags & kDeviceReversed2Up, dm.priv.rotation),
              V(2, 0, 90));

    // A zoom of 0 % is no zoom.
    dm.priv.layoutFlags |= kLayoutFixedZoom;
    dm.priv.zoom = 0;
    ValidateDevmode(*config_, *settings_, papers_, &dm);
    EXPECT_EQ(dm.priv.zoom, 100);
    dm.priv.layoutFlags &= ~kLayoutFixedZoom;

    // A user paper code nobody defined: the default paper.
    dm.priv.sheetPaperCode = 750;
    ValidateDevmode(*config_, *settings_, papers_, &dm);
    EXPECT_EQ(V(dm.priv.pagePaper.width, dm.priv.pagePaper.printableHeight), V(800, 2618));

    // Rotation by orientation; a rotation sets the rotated bit, none leaves
    // it as it came. Only a printer without the feature turns dual-side off.
    const struct {
        SHORT orientation, rotation;
        DWORD rotatedIn;
        DWORD flags;
        WORD dualSide;
        std::vector<long long> expected;  // rotation, rotated bit, dual-side mode
    } rows[] = {
        {1, 0, kLayoutRotated, kFlagDualSideAllowed, 7, V(0, kLayoutRotated, 7)},
        {1, 90, 0, kFlagDualSideAllowed, 0, V(0, 0, 0)},
        {1, 180, 0, kFlagDualSideAllowed, 2, V(180, kLayoutRotated, 2)},
        {2, 0, 0, 0, 3, V(90, kLayoutRotated, 1)},
        {2, 270, 0, 0, 1, V(270, kLayoutRotated, 1)},
    };
    for (const auto& row : rows) {
        Devmode v = defaults_;
        v.pub.dmOrientation = row.orientation;
        v.priv.rotation = row.rotation;
        v.priv.layoutFlags = row.rotatedIn;
        v.priv.dualSide = row.dualSide;
        PrinterData settings = *settings_;
        settings.flags = (settings.flags & ~kFlagDualSideAllowed) | row.flags;
        ValidateDevmode(*config_, settings, papers_, &v);
        EXPECT_EQ(V(v.priv.rotation, v.priv.layoutFlags & kLayoutRotated, v.priv.dualSide),
                  row.expected)
            << row.orientation << " " << row.rotation;
    }
}

}  // namespace
