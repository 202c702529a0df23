// The platform's reserved device names: "COM1" to "COM9" (any case) name
// the serial ports "\\.\COM1" to "\\.\COM9" wherever a file name is taken,
// whatever the current directory holds. Higher port numbers are reached
// only through "\\.\".
#pragma once

#include "platform/types.h"
#include "platform/wide.h"

namespace platform {

// "\\.\COMn" for a reserved name, else `name` unchanged: the name to pass
// to CreateFileW for what the platform would open under `name`.
QLPR_EXPORT WideString DosDevicePath(WideView name);

}  // namespace platform
