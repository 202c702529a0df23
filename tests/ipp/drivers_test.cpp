// The printer application's drivers: which driver a found device gets, and
// the qlpr print options a job's attributes make.

#include "ipp/drivers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "ipp/job_options.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;

class DriverTableTest : public ::testing::Test {
  protected:
    void SetUp() override {
        fs::create_directories(root_.path() / "work");
        drivers_.Load({testsupport::SourceDir() / "examples" / "QLPR80.INI"},
                      root_.path() / "work");
        model_ = drivers_.Find("qlpr80");
        ASSERT_NE(model_, nullptr);
    }
    testsupport::ScopedStoreRoot root_;
    qlpr::ipp::DriverTable drivers_;
    const qlpr::ipp::ModelData* model_ = nullptr;
};

TEST(DriverTable, OneDriverPerUsableDataFileNamedAfterIt) {
    testsupport::ScopedStoreRoot root;
    const fs::path examples = testsupport::SourceDir() / "examples";
    fs::copy_file(examples / "QLPR80.INI", root.path() / "QLPR58.INI");
    std::ofstream(root.path() / "BROKEN.INI") << "[printer]\n";
    fs::create_directories(root.path() / "work");

    qlpr::ipp::DriverTable drivers;
    drivers.Load({root.path() / "QLPR58.INI", root.path() / "BROKEN.INI", examples / "QLPR80.INI",
                  root.path() / "missing.INI"},
                 root.path() / "work");
    drivers.AddEmbedded("QLPR80", "[printer]\n", root.path() / "work");

    ASSERT_EQ(drivers.count(), 2);
    EXPECT_STREQ(drivers.table()[0].name, "qlpr58");
    EXPECT_STREQ(drivers.table()[1].name, "qlpr80");
    EXPECT_STREQ(drivers.DefaultName(), "qlpr80");
    // The first data file of a name wins: the embedded model's is not used.
    ASSERT_NE(drivers.Find("qlpr80"), nullptr);
    EXPECT_FALSE(drivers.Find("qlpr80")->papers.empty());
    EXPECT_EQ(drivers.Find("broken"), nullptr);
    // Each model prints with its copy in the work folder.
    EXPECT_EQ(drivers.Find("qlpr58")->dataFile, root.path() / "work" / "QLPR58.INI");
}

TEST_F(DriverTableTest, AutoAddFindsTheDriverByModelNameOrByTheModelsUsbIds) {
    // Present USB printer interfaces, as the platform lists them.
    const fs::path devices = root_.path() / "devices";
    fs::create_directories(devices);
    const std::string guid = "#{28d78fad-5a12-11d1-ae5b-0000f803a8c2}";
    std::ofstream(devices / ("usb#vid_d1c7&pid_0a32#SN02" + guid));
    std::ofstream(devices / ("usb#vid_04b8&pid_0e15#OTHER1" + guid));
    setenv("QLPR_DEVICE_SOURCE", devices.c_str(), 1);

    struct Case {
        const char* uri;
        const char* deviceId;
        const char* driver;  // null: not added
    };
    const Case cases[] = {
        {"usb://QLPR/QLPR80?serial=X1", "MFG:QLPR;MDL:QLPR80;", "qlpr80"},
        {"socket://10.0.0.5", "MANUFACTURER:QLPR;MODEL:qlpr80;", "qlpr80"},
        {"usb://Maker/Receipt?serial=SN02", "MFG:Maker;MDL:Receipt;", "qlpr80"},
        {"usb://Other/Printer?serial=OTHER1", "MFG:Other;MDL:Printer;", nullptr},
        {"usb://Maker/Receipt?serial=SN09", "MFG:Maker;MDL:Receipt;", nullptr},
        {"usb://Maker/Receipt", "MFG:Maker;MDL:Receipt;", nullptr},
    };
    for (const Case& c : cases) {
        const char* driver = qlpr::ipp::DriverForDevice("", c.uri, c.deviceId, &drivers_);
        EXPECT_STREQ(driver, c.driver) << c.uri;
    }
    unsetenv("QLPR_DEVICE_SOURCE");
}

TEST_F(DriverTableTest, JobAttributesBecomeQlprPrintOptions) {
    struct Case {
        const char* name;
        const char* media;
        std::vector<std::pair<const char*, const char*>> jobOptions;
        const char* printerDither;  // the printer's dither-method-default, if set
        std::optional<int> paper;
        std::optional<long> source;  // dmDefaultSource set to this
        std::optional<int> dither;
        std::optional<int> drawer2;
        std::optional<int> skipBlank;
        const char* error = nullptr;
    };
    const std::string roll80 = qlpr::ipp::MediaName(model_->papers[0]);
    const std::string roll58 = qlpr::ipp::MediaName(model_->papers[1]);
    const Case cases[] = {
        {"defaults", roll80.c_str(), {}, nullptr, {}, {}, {}, {}, {}},
        {"another paper", roll58.c_str(), {}, nullptr, 258, {}, {}, {}, {}},
        {"cut each page",
         roll80.c_str(),
         {{"cut-feed", "cut-each-page"}},
         nullptr,
         {},
         261,
         {},
         {},
         {}},
        {"the data file's cut",
         roll80.c_str(),
         {{"cut-feed", "cut-at-document-end"}},
         nullptr,
         {},
         {},
         {},
         {},
         {}},
        {"printer's dither", roll80.c_str(), {}, "halftone-8-x-8", {}, {}, 258, {}, {}},
        {"job's dither first",
         roll80.c_str(),
         {{"dither-method", "gray-levels"}},
         "halftone-8-x-8",
         {},
         {},
         260,
         {},
         {}},
        {"drawer and skip",
         roll80.c_str(),
         {{"cash-drawer", "drawer-2-job-end"}, {"skip-blank", "bottom"}},
         nullptr,
         {},
         {},
         {},
         8,
         2},
        {"unknown value",
         roll80.c_str(),
         {{"cut-feed", "shred"}},
         nullptr,
         {},
         {},
         {},
         {},
         {},
         "unknown cut-feed value shred"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        pappl_pr_options_t job{};
        std::snprintf(job.media.size_name, sizeof job.media.size_name, "%s", c.media);
        job.copies = 1;
        for (const auto& [name, value] : c.jobOptions)
            job.num_vendor = cupsAddOption(name, value, job.num_vendor, &job.vendor);
        ipp_t* printerDefaults = ippNew();
        if (c.printerDither)
            ippAddString(printerDefaults, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "dither-method-default",
                         nullptr, c.printerDither);
        std::string error;
        const std::optional<qlpr::PrintOptions> options =
            qlpr::ipp::JobPrintOptions(*model_, job, printerDefaults, &error);
        ippDelete(printerDefaults);
        cupsFreeOptions(job.num_vendor, job.vendor);
        if (c.error) {
            EXPECT_FALSE(options);
            EXPECT_EQ(error, c.error);
            continue;
        }
        ASSERT_TRUE(options) << error;
        EXPECT_EQ(options->paper, c.paper);
        EXPECT_EQ(options->dither, c.dither);
        EXPECT_EQ(options->drawer2Mask, c.drawer2);
        EXPECT_EQ(options->skipBlank, c.skipBlank);
        EXPECT_FALSE(options->copies);
        if (c.source) {
            ASSERT_EQ(options->settings.size(), 1u);
            EXPECT_EQ(options->settings[0].field.name, "dmDefaultSource");
            short value = 0;
            ASSERT_EQ(options->settings[0].bytes.size(), sizeof value);
            std::memcpy(&value, options->settings[0].bytes.data(), sizeof value);
            EXPECT_EQ(value, *c.source);
        } else {
            EXPECT_TRUE(options->settings.empty());
        }
    }
}

TEST_F(DriverTableTest, ASizeOfTheUserSizedRangePrintsOnTheUserSizedPaper) {
    const std::vector<std::string> media = qlpr::ipp::MediaNames(*model_);
    EXPECT_NE(std::find(media.begin(), media.end(), "custom_min_25x50mm"), media.end());
    EXPECT_NE(std::find(media.begin(), media.end(), "custom_max_80x3276mm"), media.end());

    pappl_pr_options_t job{};
    std::snprintf(job.media.size_name, sizeof job.media.size_name, "custom_60x150mm");
    job.media.size_width = 6000;  // 0.01 mm
    job.media.size_length = 15000;
    std::string error;
    const std::optional<qlpr::PrintOptions> options =
        qlpr::ipp::JobPrintOptions(*model_, job, nullptr, &error);
    ASSERT_TRUE(options) << error;
    EXPECT_EQ(options->paper, 256);
    ASSERT_EQ(options->settings.size(), 2u);
    const std::pair<const char*, short> expected[] = {{"dmPaperWidth", 600},
                                                      {"dmPaperLength", 1500}};
    for (std::size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(options->settings[i].field.name, expected[i].first);
        short value = 0;
        ASSERT_EQ(options->settings[i].bytes.size(), sizeof value);
        std::memcpy(&value, options->settings[i].bytes.data(), sizeof value);
        EXPECT_EQ(value, expected[i].second);
    }

    // Beyond the range: no paper of the model.
    job.media.size_width = 9000;
    EXPECT_EQ(qlpr::ipp::PaperOfMedia(*model_, job.media), nullptr);
}

}  // namespace
