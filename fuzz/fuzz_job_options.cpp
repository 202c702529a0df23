// Any text as the options of a job to the printer application, in the
// form of CUPS options ("name=value name2=value2 ..."): "media" gives the
// job's media size name, "media-width" and "media-length" its size in
// 0.01 mm, "copies" the copies; NAME-default sets a printer default;
// everything else is a receipt option of the job. The job's qlpr print
// options are made against the example model: refused with a reason, or
// made of settings that name their device mode fields.
#include <pappl/pappl.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "ipp/job_options.h"
#include "ipp/model_data.h"

namespace {

const qlpr::ipp::ModelData& Model() {
    static const qlpr::ipp::ModelData model = [] {
        std::string error;
        auto loaded = qlpr::ipp::LoadModelData(QLPR_FUZZ_EXAMPLES "/QLPR80.INI", &error);
        if (!loaded) {
            std::fprintf(stderr, "example model: %s\n", error.c_str());
            std::abort();
        }
        return *loaded;
    }();
    return model;
}

int Whole(const char* text) {
    return static_cast<int>(std::strtol(text, nullptr, 10));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    cups_option_t* given = nullptr;
    const int count = cupsParseOptions(text.c_str(), 0, &given);

    pappl_pr_options_t job{};
    job.copies = 1;
    ipp_t* printerDefaults = ippNew();
    for (int i = 0; i < count; ++i) {
        const std::string_view name = given[i].name;
        const char* value = given[i].value;
        if (name == "media") {
            std::snprintf(job.media.size_name, sizeof job.media.size_name, "%s", value);
        } else if (name == "media-width") {
            job.media.size_width = Whole(value);
        } else if (name == "media-length") {
            job.media.size_length = Whole(value);
        } else if (name == "copies") {
            job.copies = Whole(value);
        } else if (name.ends_with("-default")) {
            ippAddString(printerDefaults, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, given[i].name, nullptr,
                         value);
        } else {
            job.num_vendor = cupsAddOption(given[i].name, value, job.num_vendor, &job.vendor);
        }
    }

    std::string error;
    const auto options = qlpr::ipp::JobPrintOptions(Model(), job, printerDefaults, &error);
    if (!options && error.empty()) std::abort();  // a refusal says why
    if (options) {
        for (const qlpr::FieldSetting& setting : options->settings)
            if (setting.field.name.empty() || setting.bytes.empty()) std::abort();
    }
    (void)qlpr::ipp::PaperOfMedia(Model(), job.media);

    ippDelete(printerDefaults);
    cupsFreeOptions(job.num_vendor, job.vendor);
    cupsFreeOptions(count, given);
    return 0;
}
