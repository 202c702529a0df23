#include "ipp/usb_models.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <vector>

#include "platform/device_interfaces.h"

namespace qlpr::ipp {
namespace {

// The ids of the models, as the printers' interface paths carry them (the
// same printers the serial bridge serves).
constexpr const char* kModelIds[] = {"vid_d1c7&pid_0a31", "vid_d1c7&pid_0a32", "vid_d1c7&pid_0a33"};

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

std::vector<std::string> PresentInterfacePaths() {
    std::vector<std::string> paths;
    HDEVINFO set = SetupDiGetClassDevsA(&GUID_DEVINTERFACE_USBPRINT, nullptr, nullptr,
                                        DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (set == INVALID_HANDLE_VALUE) return paths;
    SP_DEVICE_INTERFACE_DATA data{};
    data.cbSize = sizeof data;
    for (DWORD index = 0;
         SetupDiEnumDeviceInterfaces(set, nullptr, &GUID_DEVINTERFACE_USBPRINT, index, &data);
         ++index) {
        DWORD required = 0;
        SetupDiGetDeviceInterfaceDetailA(set, &data, nullptr, 0, &required, nullptr);
        if (required < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)) continue;
        std::vector<unsigned char> buffer(required);
        auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(buffer.data());
        detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
        if (SetupDiGetDeviceInterfaceDetailA(set, &data, detail, required, nullptr, nullptr))
            paths.push_back(detail->DevicePath);
    }
    SetupDiDestroyDeviceInfoList(set);
    return paths;
}

// "\\?\usb#vid_xxxx&pid_xxxx#SERIAL#{class}": the ids and the serial number.
bool SplitInterfacePath(const std::string& path, std::string* ids, std::string* serial) {
    const std::size_t first = path.find('#');
    const std::size_t second = path.find('#', first == std::string::npos ? first : first + 1);
    if (first == std::string::npos || second == std::string::npos) return false;
    const std::size_t third = path.find('#', second + 1);
    *ids = Lower(path.substr(first + 1, second - first - 1));
    *serial = path.substr(second + 1, third == std::string::npos ? third : third - second - 1);
    return true;
}

}  // namespace

bool IsModelUsbPrinter(const std::string& deviceUri) {
    if (deviceUri.rfind("usb://", 0) != 0) return false;
    const std::size_t at = deviceUri.find("serial=");
    if (at == std::string::npos) return false;
    const std::string serial = deviceUri.substr(at + 7, deviceUri.find('&', at) == std::string::npos
                                                            ? std::string::npos
                                                            : deviceUri.find('&', at) - at - 7);
    if (serial.empty()) return false;
    for (const std::string& path : PresentInterfacePaths()) {
        std::string ids, pathSerial;
        if (!SplitInterfacePath(path, &ids, &pathSerial) || pathSerial != serial) continue;
        if (std::find(std::begin(kModelIds), std::end(kModelIds), ids) != std::end(kModelIds))
            return true;
    }
    return false;
}

}  // namespace qlpr::ipp
