// Device-interface enumeration: the present USB printer interfaces.
//
// Only the USB printing class (GUID_DEVINTERFACE_USBPRINT) with
// DIGCF_DEVICEINTERFACE is known; another class gives an empty set. A set
// is a snapshot taken by SetupDiGetClassDevsA, in a fixed order.
//
// Where the interfaces come from:
// - normally from udev: every USB printer (usbmisc "lp" device) gives the
//   path "\\?\usb#vid_vvvv&pid_pppp#<serial>#{28d78fad-5a12-11d1-ae5b-0000f803a8c2}",
//   with vendor and product ids as lower-case hexadecimal and the device's
//   serial number (else its USB bus position), which opens as its device
//   node, in udev's order;
// - when the environment variable QLPR_DEVICE_SOURCE names a folder (tests,
//   or a machine without udev): one interface per entry of that folder not
//   starting with '.', in the order of the names; the path is "\\?\" and the
//   entry's name, and it opens as whatever the entry (a link) points at.
//   Removing the entry unplugs the device.
// Interfaces whose path has 260 characters or more are left out: the
// system holds device paths in 260-byte buffers and could neither keep nor
// open them.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/types.h"

struct GUID {
    DWORD Data1;
    WORD Data2;
    WORD Data3;
    BYTE Data4[8];
    friend bool operator==(const GUID&, const GUID&) = default;
};
static_assert(sizeof(GUID) == 16);

inline constexpr GUID GUID_DEVINTERFACE_USBPRINT = {
    0x28D78FAD, 0x5A12, 0x11D1, {0xAE, 0x5B, 0x00, 0x00, 0xF8, 0x03, 0xA8, 0xC2}};

using HDEVINFO = void*;
inline constexpr DWORD DIGCF_PRESENT = 0x02;
inline constexpr DWORD DIGCF_DEVICEINTERFACE = 0x10;
inline constexpr DWORD SPINT_ACTIVE = 0x01;
inline constexpr DWORD ERROR_INVALID_USER_BUFFER = 1784;

struct SP_DEVICE_INTERFACE_DATA {
    DWORD cbSize;  // sizeof(SP_DEVICE_INTERFACE_DATA)
    GUID InterfaceClassGuid;
    DWORD Flags;
    ULONG_PTR Reserved;
};

struct SP_DEVICE_INTERFACE_DETAIL_DATA_A {
    DWORD cbSize;  // sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A), the fixed part
    CHAR DevicePath[1];
};

extern "C" {
// INVALID_HANDLE_VALUE with the last error set on failure; without
// DIGCF_DEVICEINTERFACE or without a class, ERROR_INVALID_PARAMETER.
QLPR_EXPORT HDEVINFO WINAPI SetupDiGetClassDevsA(const GUID* classGuid, LPCSTR enumerator,
                                                 void* parentWindow, DWORD flags);
// The interface at `index`; ERROR_NO_MORE_ITEMS past the last one.
QLPR_EXPORT BOOL WINAPI SetupDiEnumDeviceInterfaces(HDEVINFO set, void* deviceInfo,
                                                    const GUID* classGuid, DWORD index,
                                                    SP_DEVICE_INTERFACE_DATA* data);
// Without room for the path (detail null and size 0, or too small):
// FALSE, ERROR_INSUFFICIENT_BUFFER and the size needed in *requiredSize.
// A detail record whose cbSize is not that of the fixed part:
// ERROR_INVALID_USER_BUFFER.
QLPR_EXPORT BOOL WINAPI SetupDiGetDeviceInterfaceDetailA(HDEVINFO set,
                                                         SP_DEVICE_INTERFACE_DATA* data,
                                                         SP_DEVICE_INTERFACE_DETAIL_DATA_A* detail,
                                                         DWORD detailSize, DWORD* requiredSize,
                                                         void* deviceInfo);
QLPR_EXPORT BOOL WINAPI SetupDiDestroyDeviceInfoList(HDEVINFO set);
}

namespace platform {

struct DeviceInterface {
    std::string path;  // "\\?\..."
    std::string node;  // what it opens as
};

// The present USB printer interfaces, in enumeration order.
std::vector<DeviceInterface> PresentPrinterInterfaces();
// The node a present interface path opens as, or empty.
std::string InterfaceNode(std::string_view path);

// The device path of the interface at `index` of a set of printer
// interfaces, read as callers of the interface functions read it (the
// detail's size asked first, then a buffer of that size); false when there
// is no such interface or its detail cannot be read.
QLPR_EXPORT bool ReadInterfacePath(HDEVINFO set, DWORD index, std::string& path);

}  // namespace platform
