// The two printer models the configuration tool handles, and the names the
// tool uses for them everywhere: the list's "Device" column (short name),
// the registry key and the assign dialog (long name), the printer
// interface path (USB identifier) and the pair driver's setup utility (pair
// port id, and the name the user-side port carries while unassigned).
#pragma once

#include <string_view>

namespace config {

struct ToolModel {
    std::u16string_view shortName;
    std::u16string_view longName;
    std::u16string_view usbIdentifier;  // lower case
    std::u16string_view pairPortId;
    std::u16string_view unassignedPort;
};

inline constexpr ToolModel kGlobalModel = {u"ZORP-R1x-QM", u"ZORP-R1x Global Model",
                                           u"vid_d1c7&pid_0a31", u"ZELA0", u"NoGlobalPort"};
inline constexpr ToolModel kChinaModel = {u"ZORP-R1x-CN", u"ZORP-R1x China Model",
                                          u"vid_d1c7&pid_0a32", u"ZELA1", u"NoChinaPort"};

// The title of every message box of the tool.
inline constexpr std::u16string_view kToolTitle = u"Qor Virtual COM Port Config";
// Column 1 of a row whose model has no COM port assigned.
inline constexpr std::u16string_view kNoPort = u"NONE";

// Wide texts are kept in buffers of 260 characters: 259 and a terminator.
inline constexpr std::size_t kMaxText = 259;

}  // namespace config
