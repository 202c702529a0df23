// The main dialog of the tool without its window
// (`CTorvaneSerialPortEmulatorDlg`): start-up, the device list and its
// live update when printers come and go, and the Assign, Test Print and
// Delete actions on the selected row.
#pragma once

#include <string>
#include <string_view>

#include "config/assign_com_port.h"
#include "config/tool_interfaces.h"
#include "config/tool_models.h"
#include "config/tool_services.h"
#include "platform/device_notices.h"

namespace config {

inline constexpr std::u16string_view kAlreadyRunningMessage = u"The tool is already running!";
inline constexpr std::u16string_view kInstallPackageMessage =
    u"Please Install the Package. See readme.txt for more details.";
inline constexpr std::u16string_view kTestPrintFailedMessage =
    u"Test print Failed! This could happen because of below possible reasons: \n"
    u"1. Device is not connected \n"
    u"2. COM port is not assigned to the device \n"
    u"3. COM port is busy";

// What the assign dialog is opened with.
struct AssignRequest {
    std::u16string longName;
    std::u16string currentPort;
    std::u16string devicePath;
};

// The question of the confirm dialog (`CConfirmDelete`).
std::u16string ConfirmDeleteQuestion(std::u16string_view device, std::u16string_view port);

class MainDialogLogic {
  public:
    MainDialogLogic(ToolServices& services, DeviceListView& list);

    // Start-up: checks, the service start and the first rows. True when the
    // dialog is to end once it is shown (a second instance, or nothing of
    // the package installed); the messages have been shown then.
    bool Initialise(bool alreadyRunning);

    // The list's selection changed: the last selected row becomes the
    // selection and the actions are enabled, or disabled without one.
    void OnListSelectionChanged();

    // A device-change notice: DBT_DEVICEARRIVAL or DBT_DEVICEREMOVECOMPLETE
    // of a USB device interface (others change nothing).
    void OnDeviceChange(DWORD event, std::u16string_view path);

    // Assign: what the dialog is opened with, and its outcome.
    AssignRequest BeginAssign() const;
    void FinishAssign(const AssignComPort& dialog);

    // Sends the test page to the selected row's COM port.
    void TestPrint();

    // Delete: the confirm dialog's question, and its answer.
    std::u16string DeleteQuestion() const;
    void FinishDelete(bool confirmed);

    const std::u16string& SelectedDevice() const { return selectedDevice_; }
    const std::u16string& SelectedPort() const { return selectedPort_; }
    int SelectedRow() const { return selectedRow_; }
    const std::u16string& GlobalDevicePath() const { return globalDevicePath_; }
    const std::u16string& ChinaDevicePath() const { return chinaDevicePath_; }

  private:
    std::u16string& DevicePathOf(const ToolModel& model);
    void AddStartupRow(const std::u16string& path);
    // True while the stored selection still names its row of the list.
    bool SelectionIsCurrent();

    ToolServices& services_;
    DeviceListView& list_;
    std::u16string selectedDevice_;
    std::u16string selectedPort_;
    int selectedRow_ = -1;
    std::u16string globalDevicePath_;
    std::u16string chinaDevicePath_;
    // Rows added at start-up; counted even when not added.
    int startupRows_ = 0;
};

}  // namespace config
