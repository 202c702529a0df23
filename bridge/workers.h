// The per-model workers: printer discovery, opening devices for overlapped
// I/O and the loop that runs relays while a printer of the model is present.
#pragma once
#include <cstddef>

#include "platform/types.h"

// Device paths and port paths are held in buffers of this size.
inline constexpr std::size_t kDevicePathBuffer = 260;

struct BridgeModel {
    const char* thread;         // "ThreadChina", ...
    const char* name;           // passed to the worker, unused by it
    const char* port;           // service-side COM port name
    const char* usbIdentifier;  // lower case, matched case-sensitively
};
// In supervisor slot order.
extern const BridgeModel kBridgeModels[3];

// 1 and the path of the first present printer interface (enumeration order)
// whose path contains `usbIdentifier`; 0 when none.
int USBScan(char* devicePath, std::size_t capacity, const char* usbIdentifier);
// 1 when an interface with exactly this path is present, else 0.
int USBScan2(const char* devicePath);
// A COM port or printer interface opened for overlapped reading and writing,
// or INVALID_HANDLE_VALUE.
HANDLE OpenOverlappedDevice(const char* path);

// Serves the model until a stop request or a relay that gives up; returns 1.
int fnReadCOMPortWriteToUSB(const char* modelName, const char* portName, const char* usbIdentifier);

// Thread entries for the three models; each ends its thread with exit code 0.
DWORD WINAPI ThreadChina(void* unused);
DWORD WINAPI ThreadGlobal(void* unused);
DWORD WINAPI ThreadLowCost(void* unused);
