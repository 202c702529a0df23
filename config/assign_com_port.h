// The COM port assignment of one model, as its dialog (`CAssignCOMPort`)
// runs it: the names offered, and Execute, which renames the model's
// user-side pair port and records the new name.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "config/tool_services.h"

namespace config {

// "COM1" to "COM32", in numeric order, that do not open for reading and
// writing: absent, or in use by someone else. Names of 10 and more are
// tried as "\\.\COMn", the others as "COMn".
std::vector<std::u16string> FillFreeComPorts(DeviceOpener& devices);

// The pair port id of a model long name (compared ignoring case), or empty.
std::u16string_view PairPortIdOf(std::u16string_view longName);

class AssignComPort {
  public:
    // `currentPort`: the row's COM port text, replaced by the new name on
    // success.
    AssignComPort(ToolServices& services, std::u16string_view longName,
                  std::u16string_view currentPort, std::u16string_view devicePath);

    const std::u16string& LongName() const { return longName_; }
    const std::u16string& CurrentPort() const { return currentPort_; }
    bool Assigned() const { return assigned_; }

    std::vector<std::u16string> FillFreeComPorts() const;
    // Renames the pair port to `newPort`, records it and marks the
    // assignment done; the dialog then closes with OK. Without a name (no
    // free port to choose) nothing happens and false tells the dialog to
    // stay open. The utility's outcome is not examined.
    bool Execute(std::u16string_view newPort);

  private:
    ToolServices& services_;
    std::u16string longName_;
    std::u16string currentPort_;
    std::u16string devicePath_;
    bool assigned_ = false;
};

}  // namespace config
