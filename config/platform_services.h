// The tool's services over the platform: devices opened with CreateFileW,
// the USB printer interfaces of the device-interface enumeration, programs
// started as processes, and the assignment record in the registry.
#pragma once

#include "config/tool_interfaces.h"

namespace config {

class PlatformDeviceOpener final : public DeviceOpener {
  public:
    OpenOutcome Open(std::u16string_view name, DWORD access, DWORD shareMode) override;
};

class PlatformPrinterInterfaces final : public PrinterInterfaces {
  public:
    std::vector<std::u16string> PrinterInterfacePaths() override;
};

// Programs started hidden with CreateProcessW and waited for without a
// time limit.
class PlatformProgramRunner final : public ProgramRunner {
  public:
    std::u16string CurrentDirectory() override;
    bool RunAndWait(std::u16string_view commandLine) override;
};

// HKEY_LOCAL_MACHINE\SOFTWARE\ZelSerialPortReg\<long name>, values
// "WritePort" and "Device" (REG_SZ, stored without their terminator).
// Keys are opened by creating them, so reading leaves an empty key behind.
// Failures are silent: a record that cannot be read shows as no port.
class RegistryAssignmentStore final : public AssignmentStore {
  public:
    Assignment ReadAssignment(std::u16string_view longName) override;
    void WriteAssignment(std::u16string_view longName, std::u16string_view writePort,
                         std::u16string_view device) override;
    void DeleteAssignment(std::u16string_view longName) override;
};

}  // namespace config
