// Any bytes as what PAPPL reports of a found device to the printer
// application's auto-add: its URI and its IEEE 1284 device id (two C
// strings split at the first NUL byte). The driver chosen is one of the
// table's or none. The present USB interfaces come from a folder of fixed
// entries, well-formed and not, whose paths are split for their ids and
// serial numbers against the URI's serial number.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

#include "ipp/drivers.h"

namespace {

namespace fs = std::filesystem;

constexpr const char* kInterfaceEntries[] = {
    "usb#vid_d1c7&pid_0a31#SN02#{28d78fad-5a12-11d1-ae5b-0000f803a8c2}",
    "USB#VID_D1C7&PID_0A32#SN03",
    "usb#vid_d1c7&pid_0a33#",
    "usb#no-second-separator",
    "no-separator",
    "##",
};

qlpr::ipp::DriverTable& Drivers() {
    static qlpr::ipp::DriverTable drivers = [] {
        const fs::path root = fs::temp_directory_path() / ("qlpr-fuzz-" + std::to_string(getpid()));
        fs::create_directories(root / "work");
        fs::create_directories(root / "interfaces");
        for (const char* entry : kInterfaceEntries) std::ofstream(root / "interfaces" / entry);
        setenv("QLPR_ROOT", root.c_str(), 1);
        setenv("QLPR_DEVICE_SOURCE", (root / "interfaces").c_str(), 1);
        qlpr::ipp::DriverTable table;
        table.Load({fs::path(QLPR_FUZZ_EXAMPLES) / "QLPR80.INI"}, root / "work");
        if (table.count() != 1) std::abort();
        return table;
    }();
    return drivers;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    qlpr::ipp::DriverTable& drivers = Drivers();
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const std::size_t split = text.find('\0');
    const std::string uri(text.substr(0, split));
    const std::string deviceId(split == std::string_view::npos ? "" : text.substr(split + 1));
    const char* driver = qlpr::ipp::DriverForDevice("", uri.c_str(), deviceId.c_str(), &drivers);
    if (driver != nullptr && driver != drivers.NameOf(driver)) std::abort();
    return 0;
}
