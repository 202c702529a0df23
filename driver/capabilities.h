// The two capability records the engine asks for when a device context is
// made: GDIINFO and DEVINFO, computed from the page geometry, the device
// mode and the settings block.
#pragma once

#include "driver/device_instance.h"
#include "host/winddi.h"

// Both fail (false) for a depth other than 1, 8 or 24 bits per pixel; GDIINFO
// also for a sheet with less than a millimetre of printable width or height.
bool FillGdiInfo(const DeviceInstance& instance, GDIINFO* info);
bool FillDevInfo(const DeviceInstance& instance, DEVINFO* info);
// The GDIINFO lines of the driver log (detail level).
void LogGdiInfo(const DeviceInstance& instance, const GDIINFO& info);

// The aspect of the diagonal: the smallest c, not below the larger of x and
// y, with c * c >= x * x + y * y.
ULONG AspectXY(ULONG x, ULONG y);
