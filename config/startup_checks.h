// What the tool checks and gathers when it starts: whether the pair driver
// is installed, whether the stored assignments still name existing ports,
// and which supported printers are attached.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "config/tool_interfaces.h"
#include "config/tool_models.h"

namespace config {

// "\\.\" followed by `name`.
std::u16string DeviceName(std::u16string_view name);

// True when a user-side pair port opens under its pair port id or its
// unassigned name.
bool IsPairDriverPresent(DeviceOpener& devices);

// 0 when at least one stored assignment names a port that still exists
// (open, or there but refusing the open), 1 otherwise. Records whose port
// is gone are deleted.
int ValidateStoredAssignments(AssignmentStore& assignments, DeviceOpener& devices);

// The interface path of the first attached printer of each model, in
// enumeration order (at most one per model).
std::vector<std::u16string> EnumerateModelDevices(PrinterInterfaces& printers);

// The model whose USB identifier `path` contains (case-sensitive), or null.
const ToolModel* ModelOfPath(std::u16string_view path);

}  // namespace config
