// The device folder (see device_folder.h).
#include "platform/device_folder.h"

#include <cstdlib>

namespace platform {

std::filesystem::path DeviceFolder() {
    // QLPR_DEVICE_DIR moves the device folder (tests, or a machine that keeps
    // it elsewhere); the pair daemon and every program that opens "\\.\NAME"
    // must agree on it.
    const char* folder = std::getenv("QLPR_DEVICE_DIR");
    if (folder != nullptr && folder[0] != 0) return folder;
    return "/run/qlpr/dev";
}

bool IsValidDeviceName(std::string_view name) {
    if (name.empty() || name.size() > kMaxDeviceName || name.front() == '.') return false;
    for (char c : name) {
        const auto code = static_cast<unsigned char>(c);
        if (code < 0x21 || code > 0x7E || c == '/' || c == '\\') return false;
    }
    return true;
}

std::string DeviceNameOf(std::string_view path) {
    constexpr std::string_view kPrefix = "\\\\.\\";
    if (path.size() > kMaxDevicePath || !path.starts_with(kPrefix)) return {};
    std::string name(path.substr(kPrefix.size()));
    return IsValidDeviceName(name) ? name : std::string{};
}

}  // namespace platform
