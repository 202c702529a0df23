#include "config/run_utility.h"

#include <array>

namespace config {

// The line is built whole, however long the directory: a line cut to a
// fixed buffer would start a different command (PortName=COM1 for COM12).
std::u16string UtilityCommandLine(std::u16string_view directory, std::u16string_view w0,
                                  std::u16string_view w1, std::u16string_view w2,
                                  std::u16string_view w3, std::u16string_view w4) {
    const std::array<std::u16string_view, 4> arguments = {w1, w2, w3, w4};
    std::size_t used = arguments.size();
    while (used > 0 && arguments[used - 1].empty()) --used;
    std::u16string line(directory);
    line += u'\\';
    line += w0;
    for (std::size_t i = 0; i < used; ++i) {
        line += u' ';
        line += arguments[i];
    }
    return line;
}

int RunUtility(ProgramRunner& runner, std::u16string_view w0, std::u16string_view w1,
               std::u16string_view w2, std::u16string_view w3, std::u16string_view w4) {
    runner.RunAndWait(UtilityCommandLine(runner.CurrentDirectory(), w0, w1, w2, w3, w4));
    return 1;
}

std::u16string PortNameParameter(std::u16string_view name) {
    std::u16string parameter = u"PortName=";
    parameter += name;
    parameter += u',';
    return parameter;
}

void RenamePairPort(ProgramRunner& runner, std::u16string_view pairPortId,
                    std::u16string_view name) {
    RunUtility(runner, kSetupUtility, u"change", pairPortId, PortNameParameter(name), u"");
}

// The service manager here is systemd; its start command takes the place
// of "<system directory>\net.exe start REVUrezeVuzi".
void StartPrintService(ProgramRunner& runner) {
    std::u16string line = u"systemctl start ";
    line += kServiceName;
    runner.RunAndWait(line);
}

}  // namespace config
