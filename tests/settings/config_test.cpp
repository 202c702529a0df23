// The data file compiler, the compiled block's checks and the cache file.
#include "driver/config.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <sstream>

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

// The example with one whole line replaced (an empty replacement drops it).
std::string ExampleWith(const std::string& line, const std::string& replacement) {
    std::string text = ExampleText();
    const std::size_t at = text.find("\n" + line + "\n");
    EXPECT_NE(at, std::string::npos) << line;
    if (at != std::string::npos)
        text.replace(at + 1, line.size() + 1, replacement.empty() ? "" : replacement + "\n");
    return text;
}

void WriteFile(const fs::path& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

DWORD Load32(const std::vector<BYTE>& b, std::size_t at) {
    DWORD v;
    std::memcpy(&v, b.data() + at, 4);
    return v;
}
WORD Load16(const std::vector<BYTE>& b, std::size_t at) {
    WORD v;
    std::memcpy(&v, b.data() + at, 2);
    return v;
}
void Store32(std::vector<BYTE>& b, std::size_t at, DWORD v) {
    std::memcpy(b.data() + at, &v, 4);
}

std::vector<LONG> Fields(const ConfigEntry& e, std::initializer_list<int> which) {
    std::vector<LONG> values;
    for (int i : which) values.push_back(e.field[i]);
    return values;
}
std::vector<BYTE> Record(const ConfigEntry& e) {
    return std::vector<BYTE>(e.record, e.record + e.recordSize);
}

// Offset of the section of a keyword id, walking the block as it is stored.
DWORD SectionOffset(const std::vector<BYTE>& b, WORD id) {
    DWORD at = Load32(b, 20);
    while (at != 0 && Load16(b, at + 8) != id) at = Load32(b, at);
    return at;
}

class ConfigTest : public ::testing::Test {
  protected:
    fs::path Write(const std::string& text, const std::string& name = "QLPR80.INI") {
        const fs::path path = root_.path() / name;
        fs::create_directories(path.parent_path());
        WriteFile(path, text);
        return path;
    }
    std::unique_ptr<PrinterDataObj> Compile(const std::string& text, std::string* error = nullptr) {
        std::optional<std::vector<BYTE>> block = CompileDataFile(Write(text), error);
        return block ? PrinterDataObj::FromBlock(std::move(*block)) : nullptr;
    }
    std::vector<BYTE> ExampleBlock() { return CompileDataFile(Write(ExampleText())).value(); }

    testsupport::ScopedStoreRoot root_;
};

TEST_F(ConfigTest, ExampleCompilesWithTheKeywordLayouts) {
    const std::vector<BYTE> block = ExampleBlock();
    ASSERT_GE(block.size(), 28u);
    EXPECT_EQ(Load32(block, 0), kConfigMarker);
    EXPECT_EQ(Load32(block, 4), block.size());
    EXPECT_EQ(Load32(block, 8), 1u);
    EXPECT_EQ(Load32(block, 12), 0u);  // the status bit is set in memory only
    EXPECT_EQ(Load32(block, 16), 19u);
    EXPECT_EQ(Load32(block, block.size() - 4), kConfigMarker);

    // Sections in the keyword table's order.
    const WORD order[] = {1, 2, 5, 6, 3, 4, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19};
    DWORD at = Load32(block, 20);
    for (WORD id : order) {
        ASSERT_NE(at, 0u);
        EXPECT_EQ(Load16(block, at + 8), id);
        at = Load32(block, at);
    }
    EXPECT_EQ(at, 0u);

    auto config = PrinterDataObj::FromBlock(block);
    ASSERT_NE(config, nullptr);
    EXPECT_FALSE(config->justBuilt());
    EXPECT_EQ(config->configVersion(), 1u);
    const std::pair<Keyword, DWORD> sizes[] = {
        {Keyword::driver, 22},     {Keyword::device, 40},   {Keyword::scaling, 16},
        {Keyword::paper, 66},      {Keyword::paperX, 16},   {Keyword::pixel, 18},
        {Keyword::resolution, 18}, {Keyword::barcode, 16},  {Keyword::font, 20},
        {Keyword::source, 14},     {Keyword::fontsize, 14}, {Keyword::responsecmd, 14}};
    for (auto [keyword, size] : sizes) EXPECT_EQ(config->defaultEntry(keyword)->recordSize, size);

    EXPECT_EQ(
        (std::vector<int>{config->entryCount(Keyword::paper), config->entryCount(Keyword::source),
                          config->entryCount(Keyword::font), config->entryCount(Keyword::driver)}),
        (std::vector<int>{4, 8, 8, 1}));
    EXPECT_EQ(config->defaultIndex(Keyword::dither), 1);
    EXPECT_EQ(config->defaultEntry(Keyword::dither)->field[1], 257);
    EXPECT_EQ(config->entry(Keyword::paper, 4), std::nullopt);

    // Fields by the keyword's own numbering, whatever the stored order.
    const ConfigEntry paper = *config->entry(Keyword::paper, 1);
    EXPECT_EQ(paper.name, u"58 mm Roll");
    EXPECT_EQ(Fields(paper, {1, 3, 4, 5, 9, 10, 15, 16}),
              (std::vector<LONG>{258, 580, 3276, 50, 384, 2618, 1, 0}));
    EXPECT_EQ(config->entry(Keyword::paper, 3)->field[16], 1);
    // Paper: [0]-[2] as i16, the u32 of flag bits, then [3]-[14] as i32.
    EXPECT_EQ(Load32(Record(paper), 14), 1u);
    EXPECT_EQ(Load32(Record(paper), 18), 580u);
    // Driver: [1], [0], [2] as i32, then [3]; a single value is named after
    // its keyword.
    const ConfigEntry driver = *config->defaultEntry(Keyword::driver);
    EXPECT_EQ(driver.name, u"driver");
    EXPECT_EQ(Load32(Record(driver), 8), 10u);
    EXPECT_EQ(Load32(Record(driver), 12), 1u);
    EXPECT_EQ(Fields(driver, {0, 1, 2, 3}), (std::vector<LONG>{1, 10, 0, 0}));
    EXPECT_EQ(Fields(*config->defaultEntry(Keyword::device), {0, 3, 5, 10}),
              (std::vector<LONG>{1, 40, 40, 1}));
    // Barcode keeps [0]-[3] only.
    EXPECT_EQ(Fields(*config->defaultEntry(Keyword::barcode), {0, 2, 3, 4}),
              (std::vector<LONG>{2, 162, 3, 0}));
    const ConfigEntry font = *config->entry(Keyword::font, 7);
    EXPECT_EQ(font.name, u"Font B Double");
    EXPECT_EQ(Fields(font, {0, 2, 3, 4, 5}), (std::vector<LONG>{14, 8, 2, 2, 2}));
    EXPECT_EQ(config->entries(Keyword::source).back().field[1], 700);
}

TEST_F(ConfigTest, KeywordsAndListsThatDoNotCompile) {
    std::string error;
    EXPECT_EQ(Compile(ExampleWith("responsecmd=1", ""), &error), nullptr);
    EXPECT_NE(error.find("responsecmd"), std::string::npos) << error;
    // A LIST needs a section with entries.
    EXPECT_EQ(Compile(ExampleWith("wm_pos=0,0,0", "wm_pos=LIST,0") + "\n[wm_pos]\n"), nullptr);
    EXPECT_EQ(Compile(ExampleWith("wm_pos=0,0,0", "wm_pos=LIST,0")), nullptr);
    EXPECT_EQ(Compile(ExampleWith("pixel=LIST,0", "pixel=LIST,x")), nullptr);
    // A section without keys, a blank answer or a file without sections
    // read as no answer at all.
    EXPECT_EQ(Compile(ExampleText() + "\n[empty]\n"), nullptr);
    EXPECT_EQ(Compile(ExampleText() + "\n[notes]\nblank=\" \"\n"), nullptr);
    EXPECT_EQ(Compile(""), nullptr);
    // A value that fills the read buffer was cut: it does not compile.
    EXPECT_EQ(Compile(ExampleText() + "\n[notes]\nlong=" + std::string(1100, '7') + "\n"), nullptr);
    EXPECT_NE(Compile(ExampleText() + "\n[notes]\nlong=" + std::string(1000, '7') + "\n"), nullptr);
    EXPECT_EQ(CompileDataFile(root_.path() / "missing.ini"), std::nullopt);
    EXPECT_EQ(Compile("[other]\na=1\n"), nullptr);
}

TEST_F(ConfigTest, ListDefaultIndexBeyondTheLastEntryIsZero) {
    std::string threeDithers = ExampleWith("Gray levels=0,260,0", "");
    threeDithers.replace(threeDithers.find("dither=LIST,1"), 13, "dither=LIST,7");
    auto config = Compile(threeDithers);
    ASSERT_NE(config, nullptr);
    EXPECT_EQ(config->entryCount(Keyword::dither), 3);
    EXPECT_EQ(config->defaultIndex(Keyword::dither), 0);
    EXPECT_EQ(config->defaultEntry(Keyword::dither)->field[1], 5);
    auto negative = Compile(ExampleWith("dither=LIST,1", "dither=LIST,-1"));
    ASSERT_NE(negative, nullptr);
    EXPECT_EQ(negative->defaultIndex(Keyword::dither), 0);
}

TEST_F(ConfigTest, IntegerFields) {
    auto parsed = Compile(ExampleWith("wm_pos=0,0,0", "wm_pos=12,-3, 4 5"));
    ASSERT_NE(parsed, nullptr);
    const ConfigEntry wm = *parsed->defaultEntry(Keyword::wm_pos);
    EXPECT_EQ(wm.field[0], 12);
    EXPECT_EQ(wm.field[1], -3);
    EXPECT_EQ(wm.field[2], 45);

    // Fields not given are 0, so is an empty field; "+" is a sign.
    auto shortValues = Compile(ExampleWith("device=1,0,0,40,0,40,0,0,0,0,1", "device=+7,,3"));
    ASSERT_NE(shortValues, nullptr);
    const ConfigEntry device = *shortValues->defaultEntry(Keyword::device);
    EXPECT_EQ(device.field[0], 7);
    EXPECT_EQ(device.field[1], 0);
    EXPECT_EQ(device.field[2], 3);
    EXPECT_EQ(device.field[10], 0);

    // 32-bit fields take what 16-bit fields refuse.
    std::string longPaper = ExampleText();
    longPaper.replace(longPaper.find("0,257,0,800,3276"), 16, "0,257,0,800,70000");
    auto big = Compile(longPaper);
    ASSERT_NE(big, nullptr);
    EXPECT_EQ(big->defaultEntry(Keyword::paper)->field[4], 70000);

    const char* refused[] = {"wm_pos=12,3a",       "wm_pos=1,-", "wm_pos=70000",       "wm_pos=1.5",
                             "wm_pos=99999999999", "wm_pos=- -", "wm_pos=1,2,3,70000x"};
    for (const char* line : refused) {
        std::string error;
        EXPECT_EQ(Compile(ExampleWith("wm_pos=0,0,0", line), &error), nullptr) << line;
        EXPECT_FALSE(error.empty()) << line;
    }
    EXPECT_EQ(Compile(ExampleWith("Font A=1,0,1,1,1,1", "Font A=1,0,1,1,1,1x")), nullptr);

    // Values beyond a keyword's fields are passed over, one line per entry.
    std::string text = ExampleWith("wm_pos=0,0,0", "wm_pos=1,2,3,4");
    text.replace(text.find("\nfontsize=2\n") + 1, 10, "fontsize=2,0,99999999");
    std::vector<std::string> notices;
    std::optional<std::vector<BYTE>> block = CompileDataFile(Write(text), nullptr, &notices);
    ASSERT_TRUE(block);
    auto extra = PrinterDataObj::FromBlock(std::move(*block));
    ASSERT_NE(extra, nullptr);
    EXPECT_EQ(Fields(*extra->defaultEntry(Keyword::wm_pos), {0, 1, 2}),
              (std::vector<LONG>{1, 2, 3}));
    EXPECT_EQ(extra->defaultEntry(Keyword::fontsize)->field[0], 2);
    EXPECT_EQ(notices,
              (std::vector<std::string>{
                  " ERROR:CompileDataFile() values beyond the 3 fields of wm_pos entry \"wm_pos\" "
                  "ignored.\n",
                  " ERROR:CompileDataFile() values beyond the 1 fields of fontsize entry "
                  "\"fontsize\" ignored.\n"}));
}

TEST_F(ConfigTest, BlockChecksRefuseEveryMisplacedPart) {
    const std::vector<BYTE> good = ExampleBlock();
    ASSERT_NE(PrinterDataObj::FromBlock(good), nullptr);
    const std::size_t size = good.size();
    const DWORD paper = SectionOffset(good, static_cast<WORD>(Keyword::paper));
    const DWORD firstPaper = Load32(good, paper + 16);
    const DWORD driver = SectionOffset(good, static_cast<WORD>(Keyword::driver));

    auto refused = [&](const char* what, auto change) {
        std::vector<BYTE> b = good;
        change(b);
        EXPECT_EQ(PrinterDataObj::FromBlock(std::move(b)), nullptr) << what;
    };
    refused("short", [](auto& b) { b.resize(20); });
    refused("truncated", [](auto& b) { b.resize(b.size() - 4); });
    refused("size field", [&](auto& b) { Store32(b, 4, static_cast<DWORD>(size + 4)); });
    refused("first marker", [](auto& b) { b[0] ^= 1; });
    refused("last marker", [](auto& b) { b[b.size() - 1] ^= 1; });
    refused("version", [](auto& b) { Store32(b, 8, 2); });
    refused("section count", [](auto& b) { Store32(b, 16, 18); });
    refused("first section outside",
            [&](auto& b) { Store32(b, 20, static_cast<DWORD>(size + 64)); });
    refused("section across the end",
            [&](auto& b) { Store32(b, 20, static_cast<DWORD>(size - 12)); });
    refused("entry outside", [&](auto& b) { Store32(b, paper + 16, 0xFFFFFF00u); });
    refused("entry across the end",
            [&](auto& b) { Store32(b, paper + 16, static_cast<DWORD>(size - 40)); });
    refused("record across the end", [&](auto& b) {
        // The last paper entry moved so that its words and name are inside
        // and only its record runs into the trailing marker.
        DWORD before = firstPaper;
        while (Load32(b, Load32(b, before)) != 0) before = Load32(b, before);
        const DWORD last = Load32(b, before);
        const DWORD moved = static_cast<DWORD>(size - 4 - 8 - 10);
        Store32(b, moved, 0);
        Store32(b, moved + 4, Load32(b, last + 4));
        Store32(b, before, moved);
    });
    refused("name outside", [&](auto& b) { Store32(b, firstPaper + 4, static_cast<DWORD>(size)); });
    refused("name not ended", [&](auto& b) {
        Store32(b, firstPaper + 4, static_cast<DWORD>(size - 8));
        b[size - 8] = b[size - 7] = b[size - 6] = b[size - 5] = 'A';
    });
    refused("section name", [&](auto& b) { Store32(b, paper + 4, Load32(b, driver + 4)); });
    refused("entry loop", [&](auto& b) {
        DWORD last = firstPaper;
        while (Load32(b, last) != 0) last = Load32(b, last);
        Store32(b, last, firstPaper);
    });
    refused("section loop", [&](auto& b) {
        DWORD last = Load32(b, 20);
        while (Load32(b, last) != 0) last = Load32(b, last);
        Store32(b, last, Load32(b, 20));
    });
    refused("keyword id", [&](auto& b) { b[paper + 8] = 99; });
    refused("keyword twice", [&](auto& b) { b[paper + 8] = static_cast<BYTE>(Keyword::driver); });
    refused("no entries", [&](auto& b) {
        b[paper + 10] = 0;
        b[paper + 11] = 0;
    });
    refused("more entries than stored", [&](auto& b) { b[paper + 10] = 5; });
}

class CacheTest : public ConfigTest {
  protected:
    void SetUp() override {
        data_ = Write(ExampleText());
        SetTime(data_, -std::chrono::hours(1));
    }
    static void SetTime(const fs::path& path, fs::file_time_type::duration fromNow) {
        fs::last_write_time(path, fs::file_time_type::clock::now() + fromNow);
    }
    std::unique_ptr<PrinterDataObj> Open(const fs::path& path) {
        const std::u16string name = platform::FromUtf8(path.string());
        return std::unique_ptr<PrinterDataObj>(OpenPrinterDataObj(name.c_str()));
    }
    std::vector<BYTE> CacheBytes() {
        std::ifstream in(CacheFileName(data_), std::ios::binary);
        return std::vector<BYTE>(std::istreambuf_iterator<char>(in), {});
    }
    void WriteCache(const std::vector<BYTE>& bytes) {
        std::ofstream out(CacheFileName(data_), std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
    }
    // Opens after damaging the cache and expects it rebuilt, whole again.
    void ExpectRebuiltAfter(void (*damage)(std::vector<BYTE>&)) {
        ASSERT_NE(Open(data_), nullptr);
        const std::vector<BYTE> good = CacheBytes();
        std::vector<BYTE> bad = good;
        damage(bad);
        WriteCache(bad);
        auto config = Open(data_);
        ASSERT_NE(config, nullptr);
        EXPECT_TRUE(config->justBuilt());
        EXPECT_EQ(CacheBytes(), good);
    }

    fs::path data_;
};

TEST_F(CacheTest, BuiltOnceThenReused) {
    auto first = Open(data_);
    ASSERT_NE(first, nullptr);
    EXPECT_TRUE(first->justBuilt());
    EXPECT_EQ(CacheFileName(data_), root_.path() / "QLPR80.QCB");
    EXPECT_EQ(CacheBytes(), CompileDataFile(data_).value());
    EXPECT_EQ(first->entryCount(Keyword::paper), 4);

    auto second = Open(data_);
    ASSERT_NE(second, nullptr);
    EXPECT_FALSE(second->justBuilt());
    std::vector<BYTE> inMemory = second->block();
    EXPECT_EQ(inMemory, CacheBytes());
    EXPECT_EQ(second->defaultEntry(Keyword::paper)->field[1], 257);
}

TEST_F(CacheTest, RebuiltWhenTheDataFileIsNewer) {
    ASSERT_NE(Open(data_), nullptr);
    WriteFile(data_, ExampleWith("dither=LIST,1", "dither=LIST,2"));
    SetTime(data_, std::chrono::hours(1));
    auto config = Open(data_);
    ASSERT_NE(config, nullptr);
    EXPECT_TRUE(config->justBuilt());
    EXPECT_EQ(config->defaultIndex(Keyword::dither), 2);
}

TEST_F(CacheTest, InvalidCachesAreRebuilt) {
    ExpectRebuiltAfter([](std::vector<BYTE>& b) { b.resize(b.size() / 2); });
    ExpectRebuiltAfter([](std::vector<BYTE>& b) { b.clear(); });
    ExpectRebuiltAfter([](std::vector<BYTE>& b) { b[b.size() - 2] = 0; });
    ExpectRebuiltAfter([](std::vector<BYTE>& b) { b[1] = 0; });
    // A section offset pointing outside the block.
    ExpectRebuiltAfter([](std::vector<BYTE>& b) { Store32(b, 20, 0x7FFFFFF0u); });
    // An entry offset pointing outside the block.
    ExpectRebuiltAfter([](std::vector<BYTE>& b) {
        Store32(b, SectionOffset(b, static_cast<WORD>(Keyword::source)) + 16,
                static_cast<DWORD>(b.size() + 8));
    });
}

TEST_F(CacheTest, FailuresGiveNoConfiguration) {
    EXPECT_EQ(Open(root_.path() / "absent.ini"), nullptr);
    EXPECT_EQ(OpenPrinterDataObj(nullptr), nullptr);
    // A data file that does not compile leaves no cache behind.
    const fs::path broken = Write(ExampleWith("responsecmd=1", ""), "broken.ini");
    EXPECT_EQ(Open(broken), nullptr);
    EXPECT_FALSE(fs::exists(root_.path() / "broken.QCB"));
}

TEST_F(CacheTest, ACacheAsOldAsTheDataFileIsUsed) {
    // The cache holds a variant (another default dither) as its marker.
    WriteCache(
        CompileDataFile(Write(ExampleWith("dither=LIST,1", "dither=LIST,2"), "v.ini")).value());
    fs::last_write_time(CacheFileName(data_), fs::last_write_time(data_));
    auto config = Open(data_);
    ASSERT_NE(config, nullptr);
    EXPECT_FALSE(config->justBuilt());
    EXPECT_EQ(config->defaultIndex(Keyword::dither), 2);
}

// The cache's name is a folder: the write fails, also for root. The data
// file is then compiled at every open, telling what it passes over each time.
TEST_F(CacheTest, ACacheThatCannotBeWrittenIsToldOnceAndNotNeeded) {
    ResetCacheFailureNoticeForTesting();
    std::vector<std::string> lines;
    const ConfigLog log{[](void* context, const char* line) {
                            static_cast<std::vector<std::string>*>(context)->push_back(line);
                        },
                        &lines};
    Write(ExampleWith("wm_pos=0,0,0", "wm_pos=1,2,3,4"));
    fs::create_directory(CacheFileName(data_));
    const std::u16string name = platform::FromUtf8(data_.string());
    for (int i = 0; i < 2; ++i) {
        std::unique_ptr<PrinterDataObj> config(OpenPrinterDataObj(name.c_str(), log));
        ASSERT_NE(config, nullptr);
        EXPECT_TRUE(config->justBuilt());
        EXPECT_EQ(config->defaultEntry(Keyword::paper)->field[1], 257);
    }
    EXPECT_TRUE(fs::is_directory(CacheFileName(data_)));
    const std::string passedOver =
        " ERROR:CompileDataFile() values beyond the 3 fields of wm_pos entry \"wm_pos\" ignored.\n";
    EXPECT_EQ(lines,
              (std::vector<std::string>{passedOver,
                                        " ERROR:WriteCache(" + CacheFileName(data_).string() +
                                            ") the data file is compiled at every enable.\n",
                                        passedOver}));
}

TEST_F(CacheTest, CacheNameCutsAtTheFirstDotOfTheFileNameOnly) {
    EXPECT_EQ(CacheFileName("/home/a.b/x.ini"), fs::path("/home/a.b/x.QCB"));
    EXPECT_EQ(CacheFileName("/d/QLPR80.v2.INI"), fs::path("/d/QLPR80.QCB"));
    EXPECT_EQ(CacheFileName("/d.e/plain"), fs::path("/d.e/plain.QCB"));

    const fs::path dotted = Write(ExampleText(), "drivers.v3/QLPR80.INI");
    auto config = Open(dotted);
    ASSERT_NE(config, nullptr);
    EXPECT_TRUE(fs::exists(root_.path() / "drivers.v3/QLPR80.QCB"));
    EXPECT_FALSE(fs::exists(root_.path() / "drivers.QCB"));
}

}  // namespace
