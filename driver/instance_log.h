// Log lines of a device instance, written with its settings block.
#pragma once

#include <cstdint>

#include "driver/device_instance.h"
#include "driver/driver_log.h"

template <class... Args>
void InstanceLog(const DeviceInstance& instance, int level, const char* format, Args... args) {
    DriverLog(instance.module, &instance.printerData, instance.printer, level, format, args...);
}

// Addresses and handles appear in log lines as their low 32 bits.
inline unsigned AddressForLog(const void* address) {
    return static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(address));
}
