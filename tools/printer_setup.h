// The printer qlpr prints to: a printer folder of the spooler stand-in whose
// driver is the QLPRGI.DLL beside the qlpr program, and whose data file is
// the one given, or the embedded example of an 80 mm, 203 dpi model.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "driver/device_instance.h"

namespace qlpr {

inline constexpr char16_t kDefaultPrinterName[] = u"QLPR Receipt 80";

// The folder holding qlpr and the libraries built with it (QLPR_DRIVER_DIR
// overrides it).
std::filesystem::path LibraryFolder();

// The embedded example data file.
const std::string& EmbeddedDataFile();

// Installs (or updates) the default printer with this data file, or with
// the embedded example written into the printer's folder, and with the job
// output DefaultOutputFile(). Returns the data file used; none with `error`
// set on failure.
std::optional<std::filesystem::path> SetUpDefaultPrinter(
    const std::optional<std::filesystem::path>& dataFile, std::string* error);

// Installs (or updates) the printer `name` with the QLPRGI.DLL beside
// qlpr, the data file `dataFile` and the job output `output`. False with
// `error` set on failure.
bool InstallPrinterWithDriver(const std::u16string& name, const std::filesystem::path& dataFile,
                              const std::filesystem::path& output, std::string* error);

// The default printer's job output: a file in its folder.
std::filesystem::path DefaultOutputFile();

// The driver's instance behind a device handle, or null when its signatures
// do not check. qlpr is built from the driver's own sources, so it may read
// what only the driver holds (the validated device mode, the geometry).
const DeviceInstance* InstanceOf(DHPDEV pdev);

}  // namespace qlpr
