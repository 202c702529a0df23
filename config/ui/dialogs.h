// Tamdial's windows: a thin wxWidgets layer over the tool's logic, with
// the dialogs' class names, template and control ids and texts.
#pragma once

// Before wxWidgets, which defines TRUE and FALSE as macros of its own.
#include <wx/button.h>
#include <wx/combobox.h>
#include <wx/dialog.h>
#include <wx/listctrl.h>

#include <memory>
#include <string>

#include "config/assign_com_port.h"
#include "config/main_dialog_logic.h"
#include "config/tool_services.h"
#include "platform/types.h"

namespace platform {
class DeviceNoticeWatch;
}

namespace config {

// Control ids of the dialogs; 1 and 2 are the OK and cancel buttons.
enum ControlId : int {
    kIdOk = 1,
    kIdCancel = 2,
    kIdDeviceList = 1000,
    kIdTestPrint = 1001,
    kIdAssign = 1002,
    kIdDelete = 1003,
    kIdQuestion = 1006,
    kIdContinue = 1005,
    kIdLongName = 1007,
    kIdCurrentPort = 1009,
    kIdFreePorts = 1011,
};

// Message boxes with an OK button, over the dialog.
class WxMessageSink final : public MessageSink {
  public:
    void ShowMessage(std::u16string_view title, std::u16string_view text) override;
};

class CAboutDlg final : public wxDialog {
  public:
    enum { IDD = 100 };
    explicit CAboutDlg(wxWindow* parent);
};

// The confirm dialog of Delete; Confirmed() after it closed.
class CConfirmDelete final : public wxDialog {
  public:
    enum { IDD = 129 };
    CConfirmDelete(wxWindow* parent, const std::u16string& question);
    bool Confirmed() const { return confirmed_; }

  private:
    bool confirmed_ = false;
};

// The assign dialog over the assignment's logic.
class CAssignCOMPort final : public wxDialog {
  public:
    enum { IDD = 131 };
    CAssignCOMPort(wxWindow* parent, AssignComPort& assignment);

  private:
    void OnExecute(wxCommandEvent& event);

    AssignComPort& assignment_;
    wxComboBox* freePorts_;
};

// The main dialog. Device notices arrive on a thread of their watch and
// are handed to the dialog's thread.
class CTorvaneSerialPortEmulatorDlg final : public wxDialog {
  public:
    enum { IDD = 102 };
    CTorvaneSerialPortEmulatorDlg(ToolServices& services, bool alreadyRunning);
    ~CTorvaneSerialPortEmulatorDlg() override;

    // Shows the dialog until Exit, Esc or the close box; the start-up
    // messages come first, and when they ask for it the dialog closes at
    // once.
    int ShowModal() override;

    MainDialogLogic& Logic() { return logic_; }
    wxListCtrl& List() { return *list_; }

  private:
    class ListView;

    void OnSelectionChanged(wxListEvent& event);
    void OnTestPrint(wxCommandEvent& event);
    void OnAssign(wxCommandEvent& event);
    void OnDelete(wxCommandEvent& event);
    void OnAbout(wxCommandEvent& event);

    ToolServices& services_;
    wxListCtrl* list_;
    std::unique_ptr<ListView> view_;
    MainDialogLogic logic_;
    bool endAtOnce_ = false;
    std::unique_ptr<platform::DeviceNoticeWatch> watch_;
};

}  // namespace config
