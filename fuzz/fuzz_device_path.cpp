// The device names and paths the relay and the pair daemon read from the
// system and their settings: a COM port path "\\.\NAME" (a setting or a
// pair line), the setup utility's command "change ID PortName=NAME," (the
// input as a request on the pair daemon's control socket), and the serial
// number and bus position udev reports for a USB printer, made into the
// instance part of its interface path. Checks what callers rely on: a
// device name taken from a path is a valid entry name and gives the path
// back; a change names two valid entries, and setupc's request for it asks
// for the same change; an instance part never holds the path's '#'.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "pairs/pair_names.h"
#include "platform/device_folder.h"
#include "platform/usb_paths.h"

namespace {

void CheckPath(std::string_view path) {
    const std::string name = platform::DeviceNameOf(path);
    if (name.empty()) return;
    if (!platform::IsValidDeviceName(name) || "\\\\.\\" + name != path) std::abort();
    if (name.size() > platform::kMaxDeviceName) std::abort();
}

// The input as a request on the control socket, one word a line.
void CheckChange(std::string_view request) {
    std::string error;
    const auto change = pairs::ParseChange(pairs::ControlWords(request), &error);
    if (!change) {
        if (error.empty()) std::abort();  // a refusal says why
        return;
    }
    if (!platform::IsValidDeviceName(change->portId) || !platform::IsValidDeviceName(change->name))
        std::abort();
    // What setupc sends for the change asks for the same change.
    const auto again =
        pairs::ParseChange(pairs::ControlWords(pairs::ControlRequest(*change)), &error);
    if (!again || again->portId != change->portId || again->name != change->name) std::abort();
}

bool AllowedInInstance(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '.' ||
           c == '-' || c == '_';
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    CheckPath(text);
    (void)platform::IsValidDeviceName(text);
    CheckChange(text);

    // The serial number and the bus position, as C strings separated by the
    // first NUL byte (the position is absent without one).
    const std::string serial(text.substr(0, text.find('\0')));
    const std::size_t split = text.find('\0');
    const std::string position =
        split == std::string_view::npos ? std::string() : std::string(text.substr(split + 1));
    const std::string instance = platform::InstanceId(
        serial.c_str(), split == std::string_view::npos ? nullptr : position.c_str());
    for (const char c : instance)
        if (!AllowedInInstance(c)) std::abort();
    return 0;
}
