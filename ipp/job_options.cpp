#include "ipp/job_options.h"

#include <cstring>
#include <vector>

namespace qlpr::ipp {
namespace {

// The paper source that takes the cut and feed masks from the device mode:
// not offered, as its masks are no receipt option of their own.
constexpr long kCustomSource = 700;

// Events of the cut, feed and drawer masks.
constexpr int kDocumentStart = 1;
constexpr int kDocumentEnd = 8;

struct DrawerChoice {
    const char* keyword;
    int drawer1Mask;
    int drawer2Mask;
};
constexpr DrawerChoice kDrawerChoices[] = {
    {"none", 0, 0},
    {"drawer-1-job-start", kDocumentStart, 0},
    {"drawer-1-job-end", kDocumentEnd, 0},
    {"drawer-2-job-start", 0, kDocumentStart},
    {"drawer-2-job-end", 0, kDocumentEnd},
};

struct SkipChoice {
    const char* keyword;
    int value;
};
constexpr SkipChoice kSkipChoices[] = {{"none", 0}, {"top", 1}, {"bottom", 2}, {"both", 3}};

constexpr char kCutFeed[] = "cut-feed";
constexpr char kCashDrawer[] = "cash-drawer";
constexpr char kDitherMethod[] = "dither-method";
constexpr char kSkipBlank[] = "skip-blank";

std::vector<NamedCode> OfferedSources(const ModelData& model) {
    std::vector<NamedCode> offered;
    for (const NamedCode& source : model.sources)
        if (source.code != kCustomSource) offered.push_back(source);
    return offered;
}

// The keyword of a list's default entry, else of its first.
std::string DefaultKeyword(const std::vector<NamedCode>& all, std::size_t defaultIndex,
                           const std::vector<NamedCode>& offered) {
    if (defaultIndex < all.size() && all[defaultIndex].code != kCustomSource)
        return KeywordOf(all[defaultIndex].name);
    return offered.empty() ? std::string() : KeywordOf(offered.front().name);
}

void AddKeywords(ipp_t* attributes, const char* name, const std::vector<std::string>& supported,
                 const std::string& byDefault) {
    std::vector<const char*> values;
    for (const std::string& value : supported) values.push_back(value.c_str());
    const std::string supportedName = std::string(name) + "-supported";
    const std::string defaultName = std::string(name) + "-default";
    ippAddStrings(attributes, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, supportedName.c_str(),
                  static_cast<int>(values.size()), nullptr, values.data());
    ippAddString(attributes, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, defaultName.c_str(), nullptr,
                 byDefault.c_str());
}

void AddCodeOption(ipp_t* attributes, pappl_pr_driver_data_t* data, const char* name,
                   const std::vector<NamedCode>& all, std::size_t defaultIndex,
                   const std::vector<NamedCode>& offered) {
    if (offered.empty()) return;
    std::vector<std::string> keywords;
    for (const NamedCode& entry : offered) keywords.push_back(KeywordOf(entry.name));
    AddKeywords(attributes, name, keywords, DefaultKeyword(all, defaultIndex, offered));
    data->vendor[data->num_vendor++] = name;
}

// The job's value of a receipt option: the job's own, else the printer's
// default (PAPPL hands a job only the values it was given), or null.
const char* VendorValue(const pappl_pr_options_t& job, ipp_t* printerDefaults, const char* name) {
    for (int i = 0; i < job.num_vendor; ++i)
        if (std::strcmp(job.vendor[i].name, name) == 0) return job.vendor[i].value;
    const std::string defaultName = std::string(name) + "-default";
    ipp_attribute_t* value =
        printerDefaults == nullptr
            ? nullptr
            : ippFindAttribute(printerDefaults, defaultName.c_str(), IPP_TAG_KEYWORD);
    return value == nullptr ? nullptr : ippGetString(value, 0, nullptr);
}

std::optional<long> CodeOf(const std::vector<NamedCode>& list, const char* keyword) {
    for (const NamedCode& entry : list)
        if (KeywordOf(entry.name) == keyword) return entry.code;
    return std::nullopt;
}

}  // namespace

void AddReceiptOptions(const ModelData& model, pappl_pr_driver_data_t* data, ipp_t* attributes) {
    AddCodeOption(attributes, data, kCutFeed, model.sources, model.defaultSource,
                  OfferedSources(model));
    AddCodeOption(attributes, data, kDitherMethod, model.dithers, model.defaultDither,
                  model.dithers);
    std::vector<std::string> drawers, skips;
    for (const DrawerChoice& choice : kDrawerChoices) drawers.push_back(choice.keyword);
    for (const SkipChoice& choice : kSkipChoices) skips.push_back(choice.keyword);
    AddKeywords(attributes, kCashDrawer, drawers, "none");
    data->vendor[data->num_vendor++] = kCashDrawer;
    AddKeywords(attributes, kSkipBlank, skips, "none");
    data->vendor[data->num_vendor++] = kSkipBlank;
}

std::string MediaName(const Paper& paper) {
    char name[128];
    // Lengths are kept in 0.1 mm, PWG sizes in 0.01 mm.
    pwgFormatSizeName(name, sizeof name, "om", KeywordOf(paper.name).c_str(),
                      static_cast<int>(paper.width * 10), static_cast<int>(paper.length * 10),
                      "mm");
    return name;
}

std::vector<std::string> MediaNames(const ModelData& model) {
    std::vector<std::string> names;
    for (const Paper& paper : model.papers)
        if (!paper.userSized) names.push_back(MediaName(paper));
    if (model.UserSizedPaper() != nullptr && model.customWidthMin > 0 &&
        model.customLengthMin > 0 && model.customWidthMax >= model.customWidthMin &&
        model.customLengthMax >= model.customLengthMin) {
        char name[128];
        pwgFormatSizeName(name, sizeof name, "custom", "min",
                          static_cast<int>(model.customWidthMin * 10),
                          static_cast<int>(model.customLengthMin * 10), "mm");
        names.push_back(name);
        pwgFormatSizeName(name, sizeof name, "custom", "max",
                          static_cast<int>(model.customWidthMax * 10),
                          static_cast<int>(model.customLengthMax * 10), "mm");
        names.push_back(name);
    }
    return names;
}

const Paper* PaperOfMedia(const ModelData& model, const pappl_media_col_t& media) {
    for (const Paper& paper : model.papers)
        if (!paper.userSized && MediaName(paper) == media.size_name) return &paper;
    // PWG sizes are in 0.01 mm, the data file's in 0.1 mm.
    const long width = media.size_width / 10, length = media.size_length / 10;
    if (width >= model.customWidthMin && width <= model.customWidthMax &&
        length >= model.customLengthMin && length <= model.customLengthMax && width > 0 &&
        length > 0)
        return model.UserSizedPaper();
    return nullptr;
}

std::optional<PrintOptions> JobPrintOptions(const ModelData& model, const pappl_pr_options_t& job,
                                            ipp_t* printerDefaults, std::string* error) {
    PrintOptions options;
    if (job.copies > 1) options.copies = job.copies;
    // The model's default paper is the driver's own default: left to the
    // driver, a receipt longer than it gets a longer paper, as with qlpr
    // print. Any other paper is chosen and keeps its length.
    const Paper* paper = PaperOfMedia(model, job.media);
    if (paper != nullptr && paper != &model.papers[model.defaultPaper])
        options.paper = static_cast<int>(paper->code);
    if (paper != nullptr && paper->userSized) {
        for (const auto& [field, value] :
             {std::pair{"dmPaperWidth", job.media.size_width / 10},
              std::pair{"dmPaperLength", job.media.size_length / 10}}) {
            FieldSetting setting;
            if (!ParseFieldSetting(field, std::to_string(value), "media", &setting, error))
                return std::nullopt;
            options.settings.push_back(setting);
        }
    }

    if (const char* value = VendorValue(job, printerDefaults, kCutFeed)) {
        const std::optional<long> code = CodeOf(OfferedSources(model), value);
        if (!code) {
            *error = std::string("unknown ") + kCutFeed + " value " + value;
            return std::nullopt;
        }
        const bool isDefault = model.defaultSource < model.sources.size() &&
                               model.sources[model.defaultSource].code == *code;
        FieldSetting setting;
        if (!isDefault &&
            !ParseFieldSetting("dmDefaultSource", std::to_string(*code), kCutFeed, &setting, error))
            return std::nullopt;
        if (!isDefault) options.settings.push_back(setting);
    }
    if (const char* value = VendorValue(job, printerDefaults, kDitherMethod)) {
        const std::optional<long> code = CodeOf(model.dithers, value);
        if (!code) {
            *error = std::string("unknown ") + kDitherMethod + " value " + value;
            return std::nullopt;
        }
        if (model.defaultDither >= model.dithers.size() ||
            model.dithers[model.defaultDither].code != *code)
            options.dither = static_cast<int>(*code);
    }
    if (const char* value = VendorValue(job, printerDefaults, kCashDrawer)) {
        const DrawerChoice* found = nullptr;
        for (const DrawerChoice& choice : kDrawerChoices)
            if (std::strcmp(choice.keyword, value) == 0) found = &choice;
        if (found == nullptr) {
            *error = std::string("unknown ") + kCashDrawer + " value " + value;
            return std::nullopt;
        }
        if (found->drawer1Mask != 0) options.drawer1Mask = found->drawer1Mask;
        if (found->drawer2Mask != 0) options.drawer2Mask = found->drawer2Mask;
    }
    if (const char* value = VendorValue(job, printerDefaults, kSkipBlank)) {
        const SkipChoice* found = nullptr;
        for (const SkipChoice& choice : kSkipChoices)
            if (std::strcmp(choice.keyword, value) == 0) found = &choice;
        if (found == nullptr) {
            *error = std::string("unknown ") + kSkipBlank + " value " + value;
            return std::nullopt;
        }
        if (found->value != 0) options.skipBlank = found->value;
    }
    return options;
}

}  // namespace qlpr::ipp
