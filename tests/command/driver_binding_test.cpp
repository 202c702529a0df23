// The real driver with the real command library beside it: documents
// through the engine's document loop into the job output.

#include <climits>

#include "command_test_util.h"
#include "driver/device_instance.h"
#include "driver/escape_inputs.h"
#include "host/driver_host.h"
#include "host/engine.h"
#include "host/print_job.h"
#include "platform/registry.h"

namespace cmdtest {
namespace {

using namespace std::string_literals;

class DriverBinding : public ::testing::Test {
  protected:
    void SetUp() override {
        temp_ = root_.path() / "tmp";
        std::filesystem::create_directories(temp_);
        setenv("TMPDIR", temp_.c_str(), 1);
        const auto folder = root_.path() / "driver";
        std::filesystem::create_directories(folder);
        for (const char* name : {"QLPRGI.DLL", "QLPRCMND.DLL", "QLPRBRCD.DLL", "QLPRURES.DLL"})
            std::filesystem::copy_file(testsupport::BinDir() / name, folder / name);
        std::filesystem::copy_file(testsupport::SourceDir() / "examples" / "QLPR80.INI",
                                   root_.path() / "QLPR80.INI");
        ASSERT_TRUE(platform::InstallPrinter(
            u"Bound Receipt",
            {folder / "QLPRGI.DLL", root_.path() / "QLPR80.INI", OutputPath().string()}));
        ASSERT_TRUE(OpenPrinterW(u"Bound Receipt", &printer_, nullptr));
        std::string error;
        driver_ = host::DriverHost::Load(folder / "QLPRGI.DLL", &error);
        ASSERT_TRUE(driver_) << error;
        escape_ = driver_->Entry<PFN_DrvEscape>(INDEX_DrvEscape);
    }
    void TearDown() override {
        driver_.reset();
        if (printer_ != nullptr) ClosePrinter(printer_);
        unsetenv("TMPDIR");
    }

    // The printer's default device mode as the driver completes it.
    Devmode DefaultDevmode() {
        std::string error;
        auto device = host::Device::Enable(*driver_, printer_, u"Bound Receipt", nullptr, &error);
        Devmode mode{};
        if (device)
            std::memcpy(&mode, &reinterpret_cast<DeviceInstance*>(device->pdev())->devmode,
                        sizeof mode);
        return mode;
    }

    // A document of `pages` pages with `copies`, each page drawn by
    // `painter` on its first band; `during` runs at the start of page 2.
    void Print(const Devmode* mode, DWORD copies, int pages,
               const std::function<void(SURFOBJ* band, int page)>& painter,
               const std::function<void()>& during = {}) {
        std::string error;
        auto device = host::Device::Enable(*driver_, printer_, u"Bound Receipt",
                                           mode != nullptr ? &mode->pub : nullptr, &error);
        ASSERT_TRUE(device) << error;
        auto job = host::PrintJob::Start(*device, u"Receipt", 7, &error);
        ASSERT_TRUE(job) << error;
        if (copies > 1) {
            ASSERT_EQ(escape_(job->surface(), SETCOPYCOUNT, sizeof copies, &copies, 0, nullptr),
                      1u);
        }
        for (int page = 1; page <= pages; ++page) {
            bool first = true;
            auto bandPainter = [&](SURFOBJ* band, POINTL, int) {
                if (!first) return;
                first = false;
                if (page == 2 && during) during();
                painter(band, page);
            };
            ASSERT_TRUE(job->PrintPage(bandPainter, &error)) << error;
        }
        ASSERT_TRUE(job->End(&error)) << error;
    }

    std::filesystem::path OutputPath() const { return root_.path() / "out.prn"; }

    testsupport::ScopedStoreRoot root_;
    std::filesystem::path temp_;
    HANDLE printer_ = nullptr;
    std::unique_ptr<host::DriverHost> driver_;
    PFN_DrvEscape escape_ = nullptr;
};

TEST_F(DriverBinding, TheDriverDrivesTheRealCommandLibrary) {
    std::vector<std::string> filesDuringPage2;
    // Two copies need page files: the library's work becomes visible on disk.
    Print(
        nullptr, 2, 2,
        [&](SURFOBJ* band, int page) {
            const std::string mark = "PAGE" + std::to_string(page);
            escape_(band, kEscapeWriteRaw, static_cast<ULONG>(mark.size()),
                    const_cast<char*>(mark.data()), 0, nullptr);
        },
        [&] {
            for (const auto& folder : std::filesystem::directory_iterator(temp_))
                for (const auto& entry : std::filesystem::directory_iterator(folder))
                    filesDuringPage2.push_back(entry.path().filename().string());
        });
    EXPECT_TRUE(std::filesystem::is_empty(temp_));  // the job's folder went with it
    // Page 1 was held in its page file while page 2 was drawn.
    ASSERT_EQ(filesDuringPage2.size(), 1u);
    EXPECT_EQ(filesDuringPage2[0].substr(filesDuringPage2[0].size() - 8), "0001.tmp");
    // The raw escape's bytes go to the spooler as the page is drawn, ahead of
    // the library's buffered commands: the document start group, then each
    // page's two copies replayed with their page start group; the sample
    // data file's default source cuts and feeds at the document end.
    const std::string pageStart = "\x1F\x60\x00\x1B\x53"s;
    EXPECT_EQ(ReadAll(OutputPath()), "PAGE1"s + "\x1B\x40\x1B\x32"s + "PAGE2"s + pageStart +
                                         pageStart + pageStart + pageStart +
                                         "\x1F\x60\x00\x1B\x4A\xB4\x1D\x56\x00"s + "\x1B\x40"s);
}

// Item positions and sizes come from the application as they are: at the
// ends of their range they are dropped (they reach beyond the sheet) without
// any arithmetic running over, with and without blank skipping, and an
// ordinary item beside them still prints.
TEST_F(DriverBinding, ItemsAtTheEndsOfTheirRangeAreDroppedSafely) {
    constexpr LONG kMax = INT32_MAX;
    constexpr LONG kMin = INT32_MIN;
    const struct {
        WORD kind;
        LONG x, y, width, height;
    } extremes[] = {
        {1, kMax, kMax, kMax, kMax},   {1, kMin, kMin, kMin, kMin}, {1, kMin, kMax, kMax, kMin},
        {1, kMax, kMin, kMin, kMax},   {1, 0, kMin, 10, kMax},      {1, 0, kMax - 1, 10, 10},
        {100, kMax - 1, 0, kMax, 1},   {150, 0, 0, kMax, kMax},     {200, kMin, kMin, kMax, kMax},
        {300, kMax, kMax, kMin, kMin},
    };
    Devmode mode = DefaultDevmode();
    for (WORD skip : {0, 1, 2, 3}) {
        mode.priv.blankSkipping = skip;
        Print(&mode, 1, 1, [&](SURFOBJ* band, int) {
            const auto add = [&](WORD kind, LONG x, LONG y, LONG width, LONG height,
                                 const std::string& text) {
                TextItemInput item{};
                item.kind = kind;
                item.x = x;
                item.y = y;
                item.width = width;
                item.height = height;
                item.length = static_cast<WORD>(text.size());
                std::memcpy(item.data, text.data(), text.size());
                EXPECT_EQ(escape_(band, kEscapeTextItem, sizeof item, &item, 0, nullptr), 1u);
            };
            for (const auto& e : extremes) add(e.kind, e.x, e.y, e.width, e.height, "#DROP#");
            add(1, 8, 16, 24, 24, "SHOWN");
        });
        const std::string stream = ReadAll(OutputPath());
        EXPECT_NE(stream.find("SHOWN"), std::string::npos) << skip;
        EXPECT_EQ(stream.find("#DROP#"), std::string::npos) << skip;
        // The walk stays on the page: no more than a page's length is fed.
        std::size_t fed = 0;
        for (std::size_t at = stream.find("\x1B\x4A"s); at != std::string::npos;
             at = stream.find("\x1B\x4A"s, at + 3))
            fed += static_cast<BYTE>(stream.at(at + 2));
        EXPECT_LT(fed, 4000u) << skip;
    }
}

}  // namespace
}  // namespace cmdtest
