// Starting the helper programs the tool depends on: the pair driver's setup
// utility (from the tool's current directory) and the bridge service.
#pragma once

#include <string>
#include <string_view>

#include "config/tool_interfaces.h"

namespace config {

inline constexpr std::u16string_view kSetupUtility = u"setupc.exe";
inline constexpr std::u16string_view kServiceName = u"REVUrezeVuzi";

// "<current directory>\w0 w1 ... wN" where wN is the last non-empty word;
// empty words before it stay in the line as empty words.
std::u16string UtilityCommandLine(std::u16string_view directory, std::u16string_view w0,
                                  std::u16string_view w1, std::u16string_view w2,
                                  std::u16string_view w3, std::u16string_view w4);

// Runs program w0 of the current directory with the words w1 to w4 and
// waits until it has ended. Its outcome is not examined: always 1.
int RunUtility(ProgramRunner& runner, std::u16string_view w0, std::u16string_view w1 = {},
               std::u16string_view w2 = {}, std::u16string_view w3 = {},
               std::u16string_view w4 = {});

// "PortName=<name>," as the setup utility takes it.
std::u16string PortNameParameter(std::u16string_view name);

// Renames the user-side port of the pair `pairPortId` to `name`.
void RenamePairPort(ProgramRunner& runner, std::u16string_view pairPortId,
                    std::u16string_view name);

// Has the service manager start the bridge service and waits for that to
// end; its outcome is not examined.
void StartPrintService(ProgramRunner& runner);

}  // namespace config
