#include "tools/printer_setup.h"

#include <algorithm>
#include <cstdlib>

#include "platform/spooler.h"
#include "tools/file_io.h"

namespace qlpr {

extern const unsigned char kEmbeddedDataFile[];
extern const unsigned long kEmbeddedDataFileSize;

namespace {

constexpr char kDataFileName[] = "QLPR80.INI";
constexpr char kOutputFileName[] = "job-output.prn";

// Whether the file holds exactly `text`.
bool Holds(const std::filesystem::path& path, const std::string& text) {
    const std::optional<std::vector<unsigned char>> held = ReadWholeFile(path, text.size());
    return held && std::equal(held->begin(), held->end(), text.begin(), text.end());
}

}  // namespace

std::filesystem::path LibraryFolder() {
    if (const char* folder = std::getenv("QLPR_DRIVER_DIR"); folder != nullptr && *folder != '\0')
        return folder;
    // The program's own folder does not change while it runs.
    static const std::filesystem::path programFolder = [] {
        std::error_code ignored;
        return std::filesystem::read_symlink("/proc/self/exe", ignored).parent_path();
    }();
    return programFolder;
}

const std::string& EmbeddedDataFile() {
    static const std::string text(reinterpret_cast<const char*>(kEmbeddedDataFile),
                                  kEmbeddedDataFileSize);
    return text;
}

std::filesystem::path DefaultOutputFile() {
    return platform::PrinterFolder(kDefaultPrinterName) / kOutputFileName;
}

std::optional<std::filesystem::path> SetUpDefaultPrinter(
    const std::optional<std::filesystem::path>& dataFile, std::string* error) {
    std::filesystem::path folder = platform::PrinterFolder(kDefaultPrinterName);
    std::error_code failure;
    std::filesystem::create_directories(folder, failure);
    if (failure) {
        *error = "cannot create the printer folder " + folder.string() + ": " + failure.message();
        return std::nullopt;
    }
    std::filesystem::path used;
    if (dataFile) {
        used = std::filesystem::absolute(*dataFile, failure);
        if (failure || !std::filesystem::is_regular_file(used)) {
            *error = "no such data file: " + dataFile->string();
            return std::nullopt;
        }
    } else {
        // Written only when it changed, so that its compiled cache stays valid.
        used = folder / kDataFileName;
        if (!Holds(used, EmbeddedDataFile())) {
            if (!WriteWholeFile(used, EmbeddedDataFile())) {
                *error = "cannot write " + used.string();
                return std::nullopt;
            }
        }
    }
    if (!InstallPrinterWithDriver(kDefaultPrinterName, used, folder / kOutputFileName, error))
        return std::nullopt;
    return used;
}

bool InstallPrinterWithDriver(const std::u16string& name, const std::filesystem::path& dataFile,
                              const std::filesystem::path& output, std::string* error) {
    const platform::PrinterSetup setup{LibraryFolder() / "QLPRGI.DLL", dataFile, output.string()};
    if (!platform::InstallPrinter(name, setup)) {
        *error = "cannot install the printer in " + platform::PrinterFolder(name).string();
        return false;
    }
    return true;
}

const DeviceInstance* InstanceOf(DHPDEV pdev) {
    const auto* instance = reinterpret_cast<const DeviceInstance*>(pdev);
    if (instance == nullptr || instance->signature != kInstanceSignature ||
        instance->signatureEnd != kInstanceSignature)
        return nullptr;
    return instance;
}

}  // namespace qlpr
