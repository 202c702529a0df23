// The real driver with the real command library beside it: a two-page
// document through the engine's document loop into the job output.

#include <sys/stat.h>

#include "command_test_util.h"
#include "host/driver_host.h"
#include "host/engine.h"
#include "host/print_job.h"
#include "platform/registry.h"

namespace cmdtest {
namespace {

TEST(DriverBinding, TheDriverDrivesTheRealCommandLibrary) {
    testsupport::ScopedStoreRoot root;
    const auto temp = root.path() / "tmp";
    std::filesystem::create_directories(temp);
    setenv("TMPDIR", temp.c_str(), 1);
    const auto folder = root.path() / "driver";
    std::filesystem::create_directories(folder);
    for (const char* name : {"QLPRGI.DLL", "QLPRCMND.DLL", "QLPRBRCD.DLL", "QLPRURES.DLL"})
        std::filesystem::copy_file(testsupport::BinDir() / name, folder / name);
    std::filesystem::copy_file(testsupport::SourceDir() / "examples" / "QLPR80.INI",
                               root.path() / "QLPR80.INI");
    const auto output = root.path() / "out.prn";
    ASSERT_TRUE(platform::InstallPrinter(
        u"Bound Receipt", {folder / "QLPRGI.DLL", root.path() / "QLPR80.INI", output.string()}));
    HANDLE printer = nullptr;
    ASSERT_TRUE(OpenPrinterW(u"Bound Receipt", &printer, nullptr));

    std::string error;
    auto driver = host::DriverHost::Load(folder / "QLPRGI.DLL", &error);
    ASSERT_TRUE(driver) << error;
    const auto escape = driver->Entry<PFN_DrvEscape>(INDEX_DrvEscape);
    std::vector<std::string> filesDuringPage2;
    {
        auto device = host::Device::Enable(*driver, printer, u"Bound Receipt", nullptr, &error);
        ASSERT_TRUE(device) << error;
        auto job = host::PrintJob::Start(*device, u"Receipt", 7, &error);
        ASSERT_TRUE(job) << error;
        DWORD copies = 2;  // page files: the library's work becomes visible on disk
        ASSERT_EQ(escape(job->surface(), SETCOPYCOUNT, sizeof copies, &copies, 0, nullptr), 1u);
        const std::filesystem::path privateFolder =
            temp / ("qlpr-" + std::to_string(geteuid()));
        for (int page = 1; page <= 2; ++page) {
            bool first = true;
            auto painter = [&](SURFOBJ* band, POINTL, int) {
                if (!first) return;
                first = false;
                const std::string mark = "PAGE" + std::to_string(page);
                escape(band, 15004, static_cast<ULONG>(mark.size()),
                       const_cast<char*>(mark.data()), 0, nullptr);
                if (page == 2) {
                    std::error_code ignored;
                    for (const auto& entry :
                         std::filesystem::directory_iterator(privateFolder, ignored))
                        filesDuringPage2.push_back(entry.path().filename().string());
                }
            };
            ASSERT_TRUE(job->PrintPage(painter, &error)) << error;
        }
        ASSERT_TRUE(job->End(&error)) << error;
        std::error_code ignored;
        EXPECT_TRUE(std::filesystem::is_empty(privateFolder, ignored));
    }
    // Page 1 was held in its page file while page 2 was drawn.
    ASSERT_EQ(filesDuringPage2.size(), 1u);
    EXPECT_EQ(filesDuringPage2[0].substr(filesDuringPage2[0].size() - 8), "0001.tmp");
    // The raw escape's bytes go to the spooler as the page is drawn, ahead of
    // the library's buffered commands: the document start group, then each
    // page's two copies replayed with their page start group; the sample
    // data file's default source cuts and feeds at the document end.
    using namespace std::string_literals;
    const std::string pageStart = "\x1F\x60\x00\x1B\x53"s;
    EXPECT_EQ(ReadAll(output), "PAGE1"s + "\x1B\x40\x1B\x32"s + "PAGE2"s + pageStart + pageStart +
                                   pageStart + pageStart + "\x1F\x60\x00\x1B\x4A\xB4\x1D\x56\x00"s +
                                   "\x1B\x40"s);
    driver.reset();
    ClosePrinter(printer);
    unsetenv("TMPDIR");
}

}  // namespace
}  // namespace cmdtest
