// The services the tool's logic is given by its caller.
#pragma once

#include <string>

#include "config/tool_interfaces.h"

namespace config {

// The test page the tool sends, opened by this name from the current
// directory.
inline constexpr std::u16string_view kTestPageName = u"TestPrint.prn";

struct ToolServices {
    DeviceOpener& devices;
    PrinterInterfaces& printers;
    AssignmentStore& assignments;
    ProgramRunner& programs;
    MessageSink& messages;
    std::u16string testPage = std::u16string(kTestPageName);
};

}  // namespace config
