// Parts of the device paths made for USB devices, shared by the interface
// enumeration and the device notices (not exported).
#pragma once

#include <cctype>
#include <string>

namespace platform {

// The instance part of a path: the device's serial number, else its USB
// bus position; letters, digits, '.', '-' and '_' only, so that it never
// holds the path's '#' separator.
inline std::string InstanceId(const char* serial, const char* position) {
    std::string id = serial != nullptr && serial[0] != 0 ? serial : (position ? position : "0");
    for (char& c : id)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '.' && c != '-' && c != '_')
            c = '_';
    return id;
}

}  // namespace platform
