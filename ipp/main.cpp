// qlpr-ipp: the printer application that any program prints to (through
// CUPS, which adds its printers as driverless queues, or over IPP itself).
// Its printers print through the same driver and the same page path as
// qlpr print. See ipp/README.md.

#include <malloc.h>
#include <pappl/pappl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "ipp/device_list.h"
#include "ipp/drivers.h"
#include "ipp/printing.h"
#include "tools/printer_setup.h"

namespace qlpr::ipp {
namespace {

namespace fs = std::filesystem;

constexpr char kStateVariable[] = "QLPR_IPP_STATE";
constexpr char kEmbeddedModel[] = "QLPR80";
// PAPPL 1.3 looks the footer up among the texts of the browser's language
// even when there is none, and crashes on the missing one: every page has
// a footer.
constexpr char kFooterHtml[] = "QLPR receipt printers, printing through the qlpr driver.";

// The command line's own options, taken out before PAPPL parses the rest.
struct OwnOptions {
    std::vector<fs::path> dataFiles;
    std::vector<char*> rest;  // argv for PAPPL
};

bool TakeOwnOptions(int argc, char* argv[], OwnOptions* own) {
    for (int i = 0; i < argc; ++i) {
        const bool takesValue =
            std::strcmp(argv[i], "--state") == 0 || std::strcmp(argv[i], "--data") == 0;
        if (!takesValue) {
            own->rest.push_back(argv[i]);
            continue;
        }
        if (i + 1 >= argc) {
            std::fprintf(stderr, "qlpr-ipp: %s needs a value\n", argv[i]);
            return false;
        }
        // The state folder goes to the environment, so that a server that a
        // sub-command starts has it too.
        if (std::strcmp(argv[i], "--state") == 0)
            setenv(kStateVariable, fs::absolute(argv[i + 1]).c_str(), 1);
        else
            own->dataFiles.push_back(fs::absolute(argv[i + 1]));
        ++i;
    }
    own->rest.push_back(nullptr);
    return true;
}

// QLPR_IPP_STATE, else $XDG_STATE_HOME/qlpr-ipp, else ~/.local/state/qlpr-ipp.
fs::path StateFolder() {
    if (const char* state = std::getenv(kStateVariable); state && *state) return state;
    if (const char* xdg = std::getenv("XDG_STATE_HOME"); xdg && *xdg)
        return fs::path(xdg) / "qlpr-ipp";
    const char* home = std::getenv("HOME");
    return fs::path(home && *home ? home : "/tmp") / ".local/state/qlpr-ipp";
}

// The folders of the state folder.
struct StateLayout {
    fs::path root;
    fs::path StateFile() const { return root / "qlpr-ipp.state"; }
    fs::path Spool() const { return root / "spool"; }      // PAPPL's documents
    fs::path Spooler() const { return root / "spooler"; }  // the driver's printers (QLPR_ROOT)
    fs::path Drivers() const { return root / "drivers"; }  // the models' working data files
    fs::path Models() const { return root / "models"; }    // more data files, one model each
    fs::path Jobs() const { return root / "jobs"; }        // printer streams being sent
};

bool MakeFolders(const StateLayout& state) {
    for (const fs::path& folder : {state.root, state.Spool(), state.Spooler(), state.Drivers(),
                                   state.Models(), state.Jobs()}) {
        std::error_code failure;
        fs::create_directories(folder, failure);
        if (failure) {
            std::fprintf(stderr, "qlpr-ipp: cannot create %s: %s\n", folder.c_str(),
                         failure.message().c_str());
            return false;
        }
    }
    chmod(state.root.c_str(), 0700);
    return true;
}

// The data files of the models folder, in name order.
std::vector<fs::path> DataFilesIn(const fs::path& folder) {
    std::vector<fs::path> files;
    std::error_code failure;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder, failure)) {
        std::string extension = entry.path().extension().string();
        std::transform(extension.begin(), extension.end(), extension.begin(), ::toupper);
        if (extension == ".INI" && entry.is_regular_file()) files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
    return files;
}

struct Application {
    StateLayout state;
    DriverTable drivers;
    std::string stateFile;
};

pappl_loglevel_t LogLevel(const char* value) {
    struct Level {
        const char* name;
        pappl_loglevel_t level;
    };
    static constexpr Level kLevels[] = {{"fatal", PAPPL_LOGLEVEL_FATAL},
                                        {"error", PAPPL_LOGLEVEL_ERROR},
                                        {"warn", PAPPL_LOGLEVEL_WARN},
                                        {"info", PAPPL_LOGLEVEL_INFO},
                                        {"debug", PAPPL_LOGLEVEL_DEBUG}};
    for (const Level& level : kLevels)
        if (value && std::strcmp(value, level.name) == 0) return level.level;
    return PAPPL_LOGLEVEL_WARN;
}

bool SaveState(pappl_system_t* system, void* data) {
    return papplSystemSaveState(system, static_cast<Application*>(data)->stateFile.c_str());
}

// The system: listening on `listen` (default localhost) at `server-port`
// (default: PAPPL's choice), its spool and state in the state folder.
// Remote administration in the web page is offered only with an
// `auth-service` (a PAM service), whose users then have to log in.
pappl_system_t* CreateSystem(int count, cups_option_t* options, void* data) {
    auto* application = static_cast<Application*>(data);
    const auto option = [count, options](const char* name) {
        return cupsGetOption(name, count, options);
    };
    int port = 0;
    if (const char* value = option("server-port")) {
        char* end = nullptr;
        port = static_cast<int>(std::strtol(value, &end, 10));
        if (*value == '\0' || *end != '\0' || port < 0 || port > 65535) {
            std::fprintf(stderr, "qlpr-ipp: bad server-port %s\n", value);
            return nullptr;
        }
    }
    const char* listen = option("listen") ? option("listen") : "localhost";
    const char* authService = option("auth-service");
    const char* logFile = option("log-file") ? option("log-file") : "-";
    auto soptions = static_cast<pappl_soptions_t>(
        PAPPL_SOPTIONS_MULTI_QUEUE | PAPPL_SOPTIONS_WEB_INTERFACE | PAPPL_SOPTIONS_WEB_LOG);
    // Connections that never leave the machine need no encryption, and
    // its certificates would name no host.
    const bool localOnly = std::strcmp(listen, "localhost") == 0;
    if (localOnly) soptions = static_cast<pappl_soptions_t>(soptions | PAPPL_SOPTIONS_NO_TLS);
    if (authService)
        soptions = static_cast<pappl_soptions_t>(soptions | PAPPL_SOPTIONS_WEB_REMOTE |
                                                 PAPPL_SOPTIONS_WEB_SECURITY);

    pappl_system_t* system =
        papplSystemCreate(soptions, "QLPR Receipt Printers", port, "_print,_universal",
                          application->state.Spool().c_str(), logFile,
                          LogLevel(option("log-level")), authService, false);
    if (system == nullptr) return nullptr;
    if (!papplSystemAddListeners(system, listen)) {
        std::fprintf(stderr, "qlpr-ipp: cannot listen on %s\n", listen);
        papplSystemDelete(system);
        return nullptr;
    }
    if (localOnly) papplSystemSetHostName(system, "localhost");
    papplSystemAddMIMEFilter(system, "image/png", kNativeFormat, PrintImageFile, nullptr);
    papplSystemAddMIMEFilter(system, "image/jpeg", kNativeFormat, PrintImageFile, nullptr);
    papplSystemSetPrinterDrivers(system, application->drivers.count(), application->drivers.table(),
                                 DriverForDevice, nullptr, FillDriverData, &application->drivers);
    papplSystemLoadState(system, application->stateFile.c_str());
    papplSystemSetSaveCallback(system, SaveState, application);
    return system;
}

int Run(int argc, char* argv[]) {
    OwnOptions own;
    if (!TakeOwnOptions(argc, argv, &own)) return 1;
    static Application application;
    application.state.root = StateFolder();
    application.stateFile = application.state.StateFile().string();
    if (!MakeFolders(application.state)) return 1;
    // The driver's printers and registry live in the state folder.
    setenv("QLPR_ROOT", application.state.Spooler().c_str(), 1);
    SetJobFolder(application.state.Jobs());

    std::vector<fs::path> dataFiles = own.dataFiles;
    for (const fs::path& folder : {application.state.Models(), fs::path(QLPR_IPP_MODELS_DIR)}) {
        const std::vector<fs::path> found = DataFilesIn(folder);
        dataFiles.insert(dataFiles.end(), found.begin(), found.end());
    }
    application.drivers.Load(dataFiles, application.state.Drivers());
    application.drivers.AddEmbedded(kEmbeddedModel, EmbeddedDataFile(),
                                    application.state.Drivers());

    if (int status = 0; ListDevicesWithoutDnsSd(own.rest, &status)) return status;
    // Every job runs on a thread of its own, and each thread would get an
    // allocator arena of its own that keeps its pages after the job: one
    // arena serves them all, so one job's freed memory serves the next.
    // Page images are mapped on their own and go back to the system when
    // freed (a fixed threshold: glibc would otherwise raise it to the size
    // of the first image freed and keep the next ones in the arena).
    mallopt(M_ARENA_MAX, 1);
    mallopt(M_MMAP_THRESHOLD, 256 * 1024);
    return papplMainloop(static_cast<int>(own.rest.size() - 1), own.rest.data(), QLPR_IPP_VERSION,
                         kFooterHtml, application.drivers.count(), application.drivers.table(),
                         DriverForDevice, FillDriverData, nullptr, nullptr, CreateSystem, nullptr,
                         &application);
}

}  // namespace
}  // namespace qlpr::ipp

int main(int argc, char* argv[]) {
    return qlpr::ipp::Run(argc, argv);
}
