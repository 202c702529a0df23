#include "ipp/drivers.h"

#include <cstdio>
#include <cstring>

#include "ipp/job_options.h"
#include "ipp/printer_state.h"
#include "ipp/printing.h"
#include "ipp/usb_models.h"
#include "tools/file_io.h"

namespace qlpr::ipp {
namespace {

constexpr char kMake[] = "QLPR";

// Writes `text` to `path` unless it holds it already (so that the data
// file's compiled cache stays valid).
bool WriteIfChanged(const std::filesystem::path& path, const std::string& text) {
    const std::optional<std::vector<unsigned char>> held = ReadWholeFile(path, text.size() + 1);
    if (held && std::equal(held->begin(), held->end(), text.begin(), text.end())) return true;
    return WriteWholeFile(path, text);
}

pappl_media_col_t MediaCol(const Paper& paper, const char* source) {
    pappl_media_col_t media{};
    const std::string name = MediaName(paper);
    std::snprintf(media.size_name, sizeof media.size_name, "%s", name.c_str());
    std::snprintf(media.source, sizeof media.source, "%s", source);
    std::snprintf(media.type, sizeof media.type, "%s", "continuous");
    // 0.1 mm to 0.01 mm.
    media.size_width = static_cast<int>(paper.width * 10);
    media.size_length = static_cast<int>(paper.length * 10);
    media.left_margin = static_cast<int>(paper.marginLeft * 10);
    media.right_margin = static_cast<int>(paper.marginRight * 10);
    media.top_margin = static_cast<int>(paper.marginTop * 10);
    media.bottom_margin = static_cast<int>(paper.marginBottom * 10);
    return media;
}

}  // namespace

void DriverTable::Load(const std::vector<std::filesystem::path>& dataFiles,
                       const std::filesystem::path& workFolder) {
    for (const std::filesystem::path& file : dataFiles) {
        const std::optional<std::vector<unsigned char>> bytes = ReadWholeFile(file, 1 << 20);
        if (!bytes) {
            std::fprintf(stderr, "qlpr-ipp: cannot read the data file %s\n", file.c_str());
            continue;
        }
        Add(file, std::string(bytes->begin(), bytes->end()), workFolder);
    }
}

void DriverTable::AddEmbedded(const std::string& name, const std::string& text,
                              const std::filesystem::path& workFolder) {
    Add(name + ".INI", text, workFolder);
    defaultName_ = NameOf(KeywordOf(name));
}

const char* DriverTable::DefaultName() const {
    if (defaultName_ != nullptr) return defaultName_;
    return names_.empty() ? nullptr : names_.front().c_str();
}

void DriverTable::Add(const std::filesystem::path& original, const std::string& text,
                      const std::filesystem::path& workFolder) {
    const std::string name = original.stem().string();
    const std::string keyword = KeywordOf(name);
    if (keyword.empty() || Find(keyword.c_str()) != nullptr) return;
    const std::filesystem::path copy = workFolder / (name + ".INI");
    if (!WriteIfChanged(copy, text)) {
        std::fprintf(stderr, "qlpr-ipp: cannot write %s\n", copy.c_str());
        return;
    }
    std::string error;
    std::optional<ModelData> model = LoadModelData(copy, &error);
    if (!model) {
        std::fprintf(stderr, "qlpr-ipp: %s: %s\n", original.c_str(), error.c_str());
        return;
    }
    model->name = name;
    model->mediaNames = MediaNames(*model);
    models_.push_back(std::move(*model));
    names_.push_back(keyword);
    descriptions_.push_back(std::string(kMake) + " " + name);
    deviceIds_.push_back(std::string("MFG:") + kMake + ";MDL:" + name + ";");
    table_.push_back(
        {names_.back().c_str(), descriptions_.back().c_str(), deviceIds_.back().c_str(), nullptr});
}

const ModelData* DriverTable::Find(const char* driverName) const {
    for (std::size_t i = 0; i < names_.size(); ++i)
        if (names_[i] == driverName) return &models_[i];
    return nullptr;
}

const char* DriverTable::NameOf(const std::string& driverName) const {
    for (const std::string& name : names_)
        if (name == driverName) return name.c_str();
    return nullptr;
}

bool FillDriverData(pappl_system_t*, const char* driverName, const char*, const char*,
                    pappl_pr_driver_data_t* data, ipp_t** attributes, void* table) {
    const ModelData* model = static_cast<DriverTable*>(table)->Find(driverName);
    if (model == nullptr) return false;
    data->extension = const_cast<ModelData*>(model);
    data->printfile_cb = PrintRawFile;
    data->rstartjob_cb = StartRasterJob;
    data->rstartpage_cb = StartRasterPage;
    data->rwriteline_cb = WriteRasterLine;
    data->rendpage_cb = EndRasterPage;
    data->rendjob_cb = EndRasterJob;
    data->status_cb = UpdatePrinterState;
    data->format = kNativeFormat;
    std::snprintf(data->make_and_model, sizeof data->make_and_model, "%s %s", kMake,
                  model->name.c_str());
    data->ppm = 10;
    data->kind = static_cast<pappl_kind_t>(PAPPL_KIND_RECEIPT | PAPPL_KIND_ROLL);
    data->orient_default = IPP_ORIENT_PORTRAIT;
    data->quality_default = IPP_QUALITY_NORMAL;
    data->content_default = PAPPL_CONTENT_AUTO;
    data->scaling_default = PAPPL_SCALING_AUTO;
    data->color_supported =
        static_cast<pappl_color_mode_t>(PAPPL_COLOR_MODE_AUTO | PAPPL_COLOR_MODE_MONOCHROME);
    data->color_default = PAPPL_COLOR_MODE_MONOCHROME;
    // Pages come as 8-bit grey and the driver halftones them, as it does an
    // application's grey images. One-bit rasters are not offered: PAPPL
    // hands a client's one-bit lines on under an 8-bit page header.
    data->raster_types = PAPPL_PWG_RASTER_TYPE_SGRAY_8;
    data->duplex = PAPPL_DUPLEX_NONE;
    data->sides_supported = PAPPL_SIDES_ONE_SIDED;
    data->sides_default = PAPPL_SIDES_ONE_SIDED;

    data->num_resolution = 0;
    for (const Resolution& resolution : model->resolutions) {
        if (data->num_resolution == PAPPL_MAX_RESOLUTION) break;
        data->x_resolution[data->num_resolution] = resolution.x;
        data->y_resolution[data->num_resolution++] = resolution.y;
    }
    data->x_default = model->resolutions[model->defaultResolution].x;
    data->y_default = model->resolutions[model->defaultResolution].y;

    // A roll printer has one source; every paper of the data file is a size
    // of its own, the user-sized one a range of sizes.
    static const char* const kSource = "main-roll";
    static const char* const kType = "continuous";
    data->num_source = 1;
    data->source[0] = kSource;
    data->num_type = 1;
    data->type[0] = kType;
    data->num_media = 0;
    for (const std::string& name : model->mediaNames) {
        if (data->num_media == PAPPL_MAX_MEDIA) break;
        data->media[data->num_media++] = name.c_str();
    }
    const Paper& paper = model->papers[model->defaultPaper];
    data->left_right = static_cast<int>(paper.marginLeft * 10);
    data->bottom_top = static_cast<int>(paper.marginTop * 10);
    data->media_default = MediaCol(paper, kSource);
    data->media_ready[0] = data->media_default;

    *attributes = ippNew();
    AddReceiptOptions(*model, data, *attributes);
    return true;
}

const char* DriverForDevice(const char*, const char* deviceUri, const char* deviceId, void* table) {
    const auto* drivers = static_cast<DriverTable*>(table);
    const char* model = deviceId ? std::strstr(deviceId, "MDL:") : nullptr;
    if (model == nullptr && deviceId != nullptr) model = std::strstr(deviceId, "MODEL:");
    if (model != nullptr) {
        model = std::strchr(model, ':') + 1;
        const std::string keyword = KeywordOf(std::string(model, std::strcspn(model, ";")));
        if (const char* name = drivers->NameOf(keyword)) return name;
    }
    // The models' printers do not name a data file: they get the default
    // model's driver.
    if (deviceUri != nullptr && IsModelUsbPrinter(deviceUri)) return drivers->DefaultName();
    return nullptr;
}

}  // namespace qlpr::ipp
