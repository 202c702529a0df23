// The application's drivers: one per model data file, named after the
// model, each a receipt printer with the model's papers, resolutions and
// receipt options.
#pragma once

#include <pappl/pappl.h>

#include <deque>
#include <filesystem>
#include <string>
#include <vector>

#include "ipp/model_data.h"

namespace qlpr::ipp {

class DriverTable {
  public:
    // Reads the data files, in order; a model whose name is taken is left
    // out, and a data file the driver cannot use is reported on standard
    // error and left out. Each model prints with a copy of its data file
    // in `workFolder` (the driver compiles its cache beside it).
    void Load(const std::vector<std::filesystem::path>& dataFiles,
              const std::filesystem::path& workFolder);
    // Adds the embedded example model under its name, unless taken; its
    // driver (or the one that took its name) is the default driver.
    void AddEmbedded(const std::string& name, const std::string& text,
                     const std::filesystem::path& workFolder);

    int count() const { return static_cast<int>(table_.size()); }
    pappl_pr_driver_t* table() { return table_.data(); }
    const ModelData* Find(const char* driverName) const;
    // The driver's name as the table keeps it, or null.
    const char* NameOf(const std::string& driverName) const;
    // The driver of the embedded model, else the first; null without any.
    const char* DefaultName() const;
    const std::deque<ModelData>& models() const { return models_; }

  private:
    void Add(const std::filesystem::path& original, const std::string& text,
             const std::filesystem::path& workFolder);
    std::deque<ModelData> models_;
    std::deque<std::string> names_, descriptions_, deviceIds_;
    std::vector<pappl_pr_driver_t> table_;
    const char* defaultName_ = nullptr;
};

// The driver callback: fills a printer's driver data from its model.
bool FillDriverData(pappl_system_t* system, const char* driverName, const char* deviceUri,
                    const char* deviceId, pappl_pr_driver_data_t* data, ipp_t** attributes,
                    void* table);

// The auto-add callback: the driver for a device, by the model in its IEEE
// 1284 device id, else the default driver for a USB printer with one of the
// models' vendor and product ids, or null.
const char* DriverForDevice(const char* deviceInfo, const char* deviceUri, const char* deviceId,
                            void* table);

}  // namespace qlpr::ipp
