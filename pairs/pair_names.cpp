// Parsing of the setup utility's command (see pair_names.h).
#include "pairs/pair_names.h"

#include <algorithm>
#include <cctype>

#include "platform/device_folder.h"

namespace pairs {

std::optional<ChangeRequest> ParseChange(const std::vector<std::string>& words,
                                         std::string* error) {
    constexpr std::string_view kParameter = "PortName=";
    std::vector<std::string> given = words;
    while (!given.empty() && given.back().empty()) given.pop_back();
    if (given.size() != 3 || given[0] != "change") {
        *error = "usage: setupc change <port id> PortName=<name>,";
        return std::nullopt;
    }
    const std::string& parameter = given[2];
    if (!parameter.starts_with(kParameter) || !parameter.ends_with(',') ||
        parameter.size() < kParameter.size() + 1) {
        *error = "the parameter must be PortName=<name>,";
        return std::nullopt;
    }
    ChangeRequest request{
        given[1], parameter.substr(kParameter.size(), parameter.size() - kParameter.size() - 1)};
    if (!platform::IsValidDeviceName(request.portId)) {
        *error = "not a port id";
        return std::nullopt;
    }
    if (!platform::IsValidDeviceName(request.name)) {
        *error =
            "not a port name: 1 to 255 printable characters, no blank, '/' or '\\', "
            "not starting with '.'";
        return std::nullopt;
    }
    return request;
}

std::string ControlRequest(const ChangeRequest& change) {
    return "change\n" + change.portId + "\nPortName=" + change.name + ",\n";
}

std::vector<std::string> ControlWords(std::string_view request) {
    std::vector<std::string> words;
    while (!request.empty()) {
        const std::size_t end = std::min(request.find('\n'), request.size());
        words.emplace_back(request.substr(0, end));
        request.remove_prefix(std::min(end + 1, request.size()));
    }
    return words;
}

std::string ControlSocketPath() {
    return (platform::DeviceFolder() / ".control").string();
}

bool SameNameIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

}  // namespace pairs
