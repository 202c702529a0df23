#include "config/startup_checks.h"

#include <array>

#include "platform/files.h"

namespace config {
namespace {

// The names the user-side pair ports carry while no COM name is assigned.
constexpr std::array<std::u16string_view, 4> kPairPortNames = {
    kGlobalModel.pairPortId, kChinaModel.pairPortId, kGlobalModel.unassignedPort,
    kChinaModel.unassignedPort};

// How each model's stored port counts as "not assigned". The China record
// has only "NONE" for that: an empty port text there is tried as a name.
struct StoredAssignmentRule {
    const ToolModel* model;
    bool emptyMeansUnassigned;
};
constexpr std::array<StoredAssignmentRule, 2> kStoredAssignmentRules = {{
    {&kGlobalModel, true},
    {&kChinaModel, false},
}};

bool Opens(DeviceOpener& devices, std::u16string_view name, DWORD* error = nullptr) {
    const OpenOutcome outcome = devices.Open(name, GENERIC_READ, FILE_SHARE_READ);
    if (error != nullptr) *error = outcome.error;
    return outcome.device != nullptr;
}

// 0 when the stored port of the rule's model still exists, else 1; a
// record whose port is gone is deleted.
int CheckStoredAssignment(const StoredAssignmentRule& rule, AssignmentStore& assignments,
                          DeviceOpener& devices) {
    const Assignment stored = assignments.ReadAssignment(rule.model->longName);
    if (stored.writePort == kNoPort || (rule.emptyMeansUnassigned && stored.writePort.empty()))
        return 1;
    DWORD error = ERROR_SUCCESS;
    if (!Opens(devices, DeviceName(stored.writePort), &error) && error == ERROR_FILE_NOT_FOUND) {
        assignments.DeleteAssignment(rule.model->longName);
        return 1;
    }
    return 0;
}

}  // namespace

std::u16string DeviceName(std::u16string_view name) {
    std::u16string device = u"\\\\.\\";
    device += name;
    return device;
}

bool IsPairDriverPresent(DeviceOpener& devices) {
    for (const std::u16string_view name : kPairPortNames)
        if (Opens(devices, DeviceName(name))) return true;
    return false;
}

int ValidateStoredAssignments(AssignmentStore& assignments, DeviceOpener& devices) {
    int result = 1;
    for (const StoredAssignmentRule& rule : kStoredAssignmentRules)
        if (CheckStoredAssignment(rule, assignments, devices) == 0) result = 0;
    return result;
}

const ToolModel* ModelOfPath(std::u16string_view path) {
    for (const ToolModel* model : {&kGlobalModel, &kChinaModel})
        if (path.find(model->usbIdentifier) != std::u16string_view::npos) return model;
    return nullptr;
}

std::vector<std::u16string> EnumerateModelDevices(PrinterInterfaces& printers) {
    std::vector<std::u16string> found;
    bool globalTaken = false;
    bool chinaTaken = false;
    for (const std::u16string& path : printers.PrinterInterfacePaths()) {
        const ToolModel* model = ModelOfPath(path);
        bool& taken = model == &kGlobalModel ? globalTaken : chinaTaken;
        if (model == nullptr || taken) continue;
        taken = true;
        found.push_back(path.substr(0, kMaxText));
    }
    return found;
}

}  // namespace config
