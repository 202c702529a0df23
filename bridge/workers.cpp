#include "bridge/workers.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "bridge/relay.h"
#include "bridge/service_log.h"
#include "platform/comm.h"
#include "platform/device_interfaces.h"
#include "platform/events.h"
#include "platform/files.h"

const BridgeModel kBridgeModels[3] = {
    {"ThreadChina", "ZORP-R1x China Model", "COMCHINA", "vid_d1c7&pid_0a32"},
    {"ThreadGlobal", "ZORP-R1x Global Model", "COMGLOBAL", "vid_d1c7&pid_0a31"},
    {"ThreadLowCost", "ZORP-R00 Korea Model", "COMLOWCOST", "vid_d1c7&pid_0a33"},
};

namespace {

// Copies the path of the interface at `index` into `path`; false when there
// is none, its detail cannot be read, or it does not fit.
bool InterfacePathAt(HDEVINFO set, DWORD index, char (&path)[kDevicePathBuffer]) {
    std::string read;
    if (!platform::ReadInterfacePath(set, index, read)) return false;
    std::snprintf(path, sizeof path, "%s", read.c_str());
    return true;
}

// The first present printer interface path that `matches` accepts, copied
// into `found`; false when the enumeration ends or fails.
template <typename Matches>
bool FindInterface(Matches matches, char (&found)[kDevicePathBuffer]) {
    const HDEVINFO set = SetupDiGetClassDevsA(&GUID_DEVINTERFACE_USBPRINT, nullptr, nullptr,
                                              DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (set == INVALID_HANDLE_VALUE) return false;
    bool hit = false;
    for (DWORD index = 0; !hit && InterfacePathAt(set, index, found); ++index) hit = matches(found);
    SetupDiDestroyDeviceInfoList(set);
    return hit;
}

unsigned HandleValue(HANDLE handle) {
    return static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(handle));
}

// Reads return as soon as a byte is there, or after 10 ms with none; writes
// give up after a minute.
void SetRelayTimeouts(HANDLE port) {
    COMMTIMEOUTS timeouts{};
    GetCommTimeouts(port, &timeouts);
    timeouts.ReadIntervalTimeout = MAXDWORD;
    timeouts.ReadTotalTimeoutMultiplier = MAXDWORD;
    timeouts.ReadTotalTimeoutConstant = 10;
    timeouts.WriteTotalTimeoutMultiplier = 0;
    timeouts.WriteTotalTimeoutConstant = 60000;
    SetCommTimeouts(port, &timeouts);
}

bool StopWithin100ms() {
    return WaitForSingleObject(gServiceStopEvent, 100) == WAIT_OBJECT_0;
}

}  // namespace

int USBScan(char* devicePath, std::size_t capacity, const char* usbIdentifier) {
    char found[kDevicePathBuffer];
    // A path that does not fit the caller's buffer is passed over rather
    // than cut, since a cut path would open nothing or the wrong device.
    const auto matches = [&](const char* path) {
        return std::strstr(path, usbIdentifier) != nullptr && std::strlen(path) < capacity;
    };
    if (!FindInterface(matches, found)) return 0;
    std::memcpy(devicePath, found, std::strlen(found) + 1);
    return 1;
}

int USBScan2(const char* devicePath) {
    char found[kDevicePathBuffer];
    return FindInterface([&](const char* path) { return std::strcmp(path, devicePath) == 0; },
                         found)
               ? 1
               : 0;
}

HANDLE OpenOverlappedDevice(const char* path) {
    return CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                       nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
}

namespace {

// One relay run on the model's port; true when the relay gave up.
bool RelayGaveUp(const char* devicePath, const char* portName, HANDLE comEvent,
                 HANDLE usbReadEvent) {
    char portPath[kDevicePathBuffer];
    std::snprintf(portPath, sizeof portPath, "\\\\.\\%s", portName);
    const HANDLE port = OpenOverlappedDevice(portPath);
    ServiceLog("fnReadCOMPortWriteToUSB ComPort Open %08x\r\n", HandleValue(port));
    if (port == INVALID_HANDLE_VALUE) return false;
    SetRelayTimeouts(port);
    ServiceLog("fnReadCOMPortWriteToUSB Com Ready\r\n");
    const int result = fnReadCOMPortWriteToUSBSubRoutine(devicePath, port, comEvent, usbReadEvent);
    CloseHandle(port);
    ServiceLog("fnReadCOMPortWriteToUSB ComPort Close \r\n");
    return result == kIoError;
}

}  // namespace

int fnReadCOMPortWriteToUSB(const char* /*modelName*/, const char* portName,
                            const char* usbIdentifier) {
    const HANDLE comEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    const HANDLE usbReadEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    char devicePath[kDevicePathBuffer] = {};
    for (;;) {
        if (!USBScan(devicePath, sizeof devicePath, usbIdentifier)) {
            if (StopWithin100ms()) {
                ServiceLog("fnReadCOMPortWriteToUSB : Stop Request1");
                break;
            }
            continue;
        }
        ServiceLog("fnReadCOMPortWriteToUSB : Find Device and com port %s %s", portName,
                   devicePath);
        if (ServiceStopRequested()) {
            ServiceLog("fnReadCOMPortWriteToUSB : Stop Request2");
            break;
        }
        if (RelayGaveUp(devicePath, portName, comEvent, usbReadEvent)) {
            ServiceLog("fnReadCOMPortWriteToUSB : Thread Break");
            break;
        }
        if (StopWithin100ms()) {
            ServiceLog("fnReadCOMPortWriteToUSB : Stop Request3");
            break;
        }
    }
    CloseHandle(comEvent);
    CloseHandle(usbReadEvent);
    return 1;
}

namespace {

DWORD RunModel(const BridgeModel& model) {
    ServiceLog("Inside %s", model.thread);
    fnReadCOMPortWriteToUSB(model.name, model.port, model.usbIdentifier);
    return 0;
}

}  // namespace

DWORD WINAPI ThreadChina(void*) {
    return RunModel(kBridgeModels[0]);
}
DWORD WINAPI ThreadGlobal(void*) {
    return RunModel(kBridgeModels[1]);
}
DWORD WINAPI ThreadLowCost(void*) {
    return RunModel(kBridgeModels[2]);
}
