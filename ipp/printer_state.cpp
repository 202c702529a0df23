#include "ipp/printer_state.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>

namespace qlpr::ipp {

std::optional<bool> FileDeviceReachable(const std::string& deviceUri) {
    char scheme[32], userpass[32], host[256], resource[1024];
    int port = 0;
    if (httpSeparateURI(HTTP_URI_CODING_ALL, deviceUri.c_str(), scheme, sizeof scheme, userpass,
                        sizeof userpass, host, sizeof host, &port, resource,
                        sizeof resource) < HTTP_URI_STATUS_OK ||
        std::strcmp(scheme, "file") != 0)
        return std::nullopt;
    if (char* options = std::strchr(resource, '?')) *options = '\0';
    struct stat info;
    if (stat(resource, &info) != 0) {
        // A missing file is created when the job starts, in a folder that
        // must be there.
        const std::string folder = std::filesystem::path(resource).parent_path().string();
        return access(folder.empty() ? "." : folder.c_str(), W_OK | X_OK) == 0;
    }
    if (S_ISDIR(info.st_mode)) return access(resource, W_OK | X_OK) == 0;
    if (S_ISREG(info.st_mode) || S_ISCHR(info.st_mode)) return access(resource, W_OK) == 0;
    return false;
}

bool UpdatePrinterState(pappl_printer_t* printer) {
    const char* uri = papplPrinterGetDeviceURI(printer);
    const std::optional<bool> reachable = FileDeviceReachable(uri ? uri : "");
    // Not through papplPrinterGetReasons: on an idle printer it calls
    // this callback again.
    if (reachable && *reachable)
        papplPrinterSetReasons(printer, PAPPL_PREASON_NONE, PAPPL_PREASON_OFFLINE);
    if (reachable && !*reachable) MarkOffline(printer);
    return true;
}

void MarkOnline(pappl_printer_t* printer) {
    // Called while a job prints, when papplPrinterGetReasons only reads.
    if (papplPrinterGetReasons(printer) & PAPPL_PREASON_OFFLINE)
        papplPrinterSetReasons(printer, PAPPL_PREASON_NONE, PAPPL_PREASON_OFFLINE);
}

void MarkOffline(pappl_printer_t* printer) {
    papplPrinterSetReasons(printer, PAPPL_PREASON_OFFLINE, PAPPL_PREASON_NONE);
}

}  // namespace qlpr::ipp
