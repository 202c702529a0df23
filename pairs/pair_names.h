// The virtual null-modem pairs and the one command their setup utility
// takes. Shared by the pair daemon and `setupc`.
//
// Each pair joins a service-side end, always at its fixed name, with a
// user-side end that applications print to. The user-side end is reached
// under its pair port id and its unassigned name until a COM name is
// assigned ("setupc change ZELA0 PortName=COM5,"), then under that name
// only; assigning the unassigned name (or the port id) again takes the
// assignment back.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pairs {

struct PairNames {
    const char* serviceSide;
    const char* portId;
    const char* unassigned;  // null: the user-side end has only its port id
};

// The low-cost pair has no unassigned name of its own; its user-side end is
// the port id ZELA2 until a name is assigned.
inline constexpr PairNames kPairs[] = {
    {"COMGLOBAL", "ZELA0", "NoGlobalPort"},
    {"COMCHINA", "ZELA1", "NoChinaPort"},
    {"COMLOWCOST", "ZELA2", nullptr},
};

struct ChangeRequest {
    std::string portId;
    std::string name;  // the new name of the user-side end
};

// The words after the program name: exactly "change", a port id and
// "PortName=<name>,"; empty words after them are ignored (a caller that
// builds the command line from a fixed list of words may pass one). The
// name must be fit for the device folder (1 to 255 printable characters,
// no blank, no '/' or '\\', not starting with '.'). On failure, a message.
std::optional<ChangeRequest> ParseChange(const std::vector<std::string>& words, std::string* error);

// The control socket's request for a change: its words, one a line.
std::string ControlRequest(const ChangeRequest& change);

// The words of a request read from the control socket, for ParseChange.
std::vector<std::string> ControlWords(std::string_view request);

// The daemon's control socket, a hidden entry of the device folder.
std::string ControlSocketPath();

bool SameNameIgnoringCase(std::string_view a, std::string_view b);

}  // namespace pairs
