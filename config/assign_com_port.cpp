#include "config/assign_com_port.h"

#include <string>

#include "config/run_utility.h"
#include "config/startup_checks.h"
#include "config/tool_models.h"
#include "platform/files.h"
#include "platform/wide.h"

namespace config {
namespace {

constexpr int kFirstComPort = 1;
constexpr int kLastComPort = 32;
// From here on a COM name opens only as "\\.\COMn".
constexpr int kFirstPrefixedComPort = 10;

std::u16string ComPortName(int number) {
    return platform::FromUtf8("COM" + std::to_string(number));
}

}  // namespace

std::vector<std::u16string> FillFreeComPorts(DeviceOpener& devices) {
    std::vector<std::u16string> free;
    for (int n = kFirstComPort; n <= kLastComPort; ++n) {
        const std::u16string name = ComPortName(n);
        const std::u16string device = n >= kFirstPrefixedComPort ? DeviceName(name) : name;
        const OpenOutcome outcome =
            devices.Open(device, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ);
        if (outcome.device == nullptr) free.push_back(name);
    }
    return free;
}

std::u16string_view PairPortIdOf(std::u16string_view longName) {
    for (const ToolModel* model : {&kGlobalModel, &kChinaModel})
        if (platform::WideEqualsNoCase(longName, model->longName)) return model->pairPortId;
    return {};
}

AssignComPort::AssignComPort(ToolServices& services, std::u16string_view longName,
                             std::u16string_view currentPort, std::u16string_view devicePath)
    : services_(services),
      longName_(longName),
      currentPort_(currentPort.substr(0, kMaxText)),
      devicePath_(devicePath) {}

std::vector<std::u16string> AssignComPort::FillFreeComPorts() const {
    return config::FillFreeComPorts(services_.devices);
}

bool AssignComPort::Execute(std::u16string_view newPort) {
    if (newPort.empty()) return false;
    const std::u16string_view pairPortId = PairPortIdOf(longName_);
    if (!pairPortId.empty()) RenamePairPort(services_.programs, pairPortId, newPort);
    services_.assignments.WriteAssignment(longName_, newPort, devicePath_);
    currentPort_ = newPort.substr(0, kMaxText);
    assigned_ = true;
    return true;
}

}  // namespace config
