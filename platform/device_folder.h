// The one folder that holds the "\\.\NAME" devices (COM ports): each device
// is an entry NAME there, a device node or a link to one.
//
// The folder is /run/qlpr/dev unless the environment variable
// QLPR_DEVICE_DIR names another (tests give each case its own); it is read
// at every call.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "platform/types.h"

namespace platform {

// Paths the system holds in 260-byte buffers: a device name or path of 260
// characters or more can be neither kept nor opened.
inline constexpr std::size_t kMaxDevicePath = 259;
inline constexpr std::size_t kMaxDeviceName = kMaxDevicePath - 4;

QLPR_EXPORT std::filesystem::path DeviceFolder();

// A device name fit to be an entry of the folder: 1 to 255 printable ASCII
// characters (so that "\\.\NAME" stays below 260), no blank, no folder
// separator ('/' or '\\'), not starting with '.' (hidden entries belong to
// the folder's keepers).
QLPR_EXPORT bool IsValidDeviceName(std::string_view name);

// "\\.\NAME" -> NAME when the path names a device in the folder, else empty.
std::string DeviceNameOf(std::string_view path);

}  // namespace platform
