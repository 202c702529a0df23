// What the configuration tool needs from around it, as small interfaces:
// the tool's logic runs against these, the dialogs and the platform supply
// them, and the tests supply fakes.
#pragma once

#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/types.h"

namespace config {

// A device opened by DeviceOpener; closed when destroyed.
class OpenedDevice {
  public:
    virtual ~OpenedDevice() = default;
    // One synchronous write of all of `bytes`; false when it failed.
    virtual bool Write(std::span<const BYTE> bytes) = 0;
};

struct OpenOutcome {
    std::unique_ptr<OpenedDevice> device;  // null when the open failed
    DWORD error = ERROR_SUCCESS;           // the reason when it failed
};

// Opens a device name ("COM3", "\\.\COM12", "\\.\ZELA0", ...) that must
// exist already, with CreateFileW's access and share mode.
class DeviceOpener {
  public:
    virtual ~DeviceOpener() = default;
    virtual OpenOutcome Open(std::u16string_view name, DWORD access, DWORD shareMode) = 0;
};

// The device-interface paths of the present USB printers, in enumeration
// order (an empty list when the enumeration fails).
class PrinterInterfaces {
  public:
    virtual ~PrinterInterfaces() = default;
    virtual std::vector<std::u16string> PrinterInterfacePaths() = 0;
};

// The tool's record of one model's assignment.
struct Assignment {
    std::u16string writePort;  // "NONE" when no port is recorded
    std::u16string device;     // the printer's interface path when it was assigned
};

// Where the assignments are kept, one record per model long name.
class AssignmentStore {
  public:
    virtual ~AssignmentStore() = default;
    virtual Assignment ReadAssignment(std::u16string_view longName) = 0;
    virtual void WriteAssignment(std::u16string_view longName, std::u16string_view writePort,
                                 std::u16string_view device) = 0;
    virtual void DeleteAssignment(std::u16string_view longName) = 0;
};

// Runs programs without a window and waits for them.
class ProgramRunner {
  public:
    virtual ~ProgramRunner() = default;
    // The folder programs of the tool's own package are started from.
    virtual std::u16string CurrentDirectory() = 0;
    // Starts the command line and returns once the program has ended;
    // false when it could not be started.
    virtual bool RunAndWait(std::u16string_view commandLine) = 0;
};

// Message boxes with an OK button.
class MessageSink {
  public:
    virtual ~MessageSink() = default;
    virtual void ShowMessage(std::u16string_view title, std::u16string_view text) = 0;
};

// The main dialog's device list (two columns: device, COM port) and its
// three action buttons (Test Print, Assign, Delete).
class DeviceListView {
  public:
    virtual ~DeviceListView() = default;
    virtual int RowCount() = 0;
    virtual std::u16string Text(int row, int column) = 0;
    virtual void SetText(int row, int column, std::u16string_view text) = 0;
    virtual void AppendRow(std::u16string_view device, std::u16string_view port) = 0;
    virtual void DeleteRow(int row) = 0;
    // The selected rows in ascending order.
    virtual std::vector<int> SelectedRows() = 0;
    virtual void EnableActions(bool enabled) = 0;
};

}  // namespace config
