#include "config/ui/dialogs.h"

#include <wx/artprov.h>
#include <wx/msgdlg.h>
#include <wx/statbmp.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include "config/tool_models.h"
#include "config/ui/wx_text.h"
#include "platform/device_notices.h"

namespace config {
namespace {

// Dialog templates are laid out in dialog units, as on the platform.
struct Box {
    int x, y, width, height;
};

wxPoint At(wxWindow* dialog, const Box& box) {
    return dialog->ConvertDialogToPixels(wxPoint(box.x, box.y));
}
wxSize SizeOf(wxWindow* dialog, const Box& box) {
    return dialog->ConvertDialogToPixels(wxSize(box.width, box.height));
}

void AddLabel(wxWindow* dialog, const wxString& text, const Box& box, int id = wxID_STATIC) {
    new wxStaticText(dialog, id, text, At(dialog, box), SizeOf(dialog, box));
}

wxButton* AddButton(wxWindow* dialog, int id, const wxString& text, const Box& box) {
    return new wxButton(dialog, id, text, At(dialog, box), SizeOf(dialog, box));
}

void SizeDialog(wxDialog* dialog, int width, int height) {
    dialog->SetClientSize(dialog->ConvertDialogToPixels(wxSize(width, height)));
    dialog->CentreOnParent();
}

}  // namespace

void WxMessageSink::ShowMessage(std::u16string_view title, std::u16string_view text) {
    wxMessageBox(ToWx(text), ToWx(title), wxOK);
}

CAboutDlg::CAboutDlg(wxWindow* parent)
    : wxDialog(parent, wxID_ANY, "About Qor Virtual COM Port Config") {
    new wxStaticBitmap(this, wxID_ANY, wxArtProvider::GetBitmap(wxART_PRINT, wxART_MESSAGE_BOX),
                       At(this, {11, 17, 21, 20}));
    AddLabel(this, "Qor Virtual COM Port Config", {40, 14, 119, 8});
    AddLabel(this, "Version 1.4", {40, 26, 119, 8});
    AddButton(this, kIdOk, "OK", {113, 41, 50, 14})->SetDefault();
    SetAffirmativeId(kIdOk);
    SetEscapeId(kIdOk);
    SizeDialog(this, 170, 62);
}

CConfirmDelete::CConfirmDelete(wxWindow* parent, const std::u16string& question)
    : wxDialog(parent, wxID_ANY, "Confirm Delete") {
    AddLabel(this, ToWx(question), {7, 7, 172, 30}, kIdQuestion);
    AddLabel(this, "To Continue, click OK", {7, 42, 172, 8}, kIdContinue);
    AddButton(this, kIdOk, "&OK", {7, 69, 50, 14})->SetDefault();
    AddButton(this, kIdCancel, "&Cancel", {129, 69, 50, 14});
    SetAffirmativeId(kIdOk);
    SetEscapeId(kIdCancel);
    Bind(
        wxEVT_BUTTON, [this](wxCommandEvent&) { confirmed_ = true, EndModal(kIdOk); }, kIdOk);
    Bind(
        wxEVT_BUTTON, [this](wxCommandEvent&) { confirmed_ = false, EndModal(kIdCancel); },
        kIdCancel);
    SizeDialog(this, 186, 90);
}

CAssignCOMPort::CAssignCOMPort(wxWindow* parent, AssignComPort& assignment)
    : wxDialog(parent, wxID_ANY, "Assign COM Port"), assignment_(assignment) {
    AddLabel(this, "Device:", {7, 9, 80, 8});
    new wxTextCtrl(this, kIdLongName, ToWx(assignment.LongName()), At(this, {90, 7, 97, 14}),
                   SizeOf(this, {90, 7, 97, 14}), wxTE_READONLY);
    AddLabel(this, "COM Port which is assigned currently:", {7, 29, 126, 8});
    new wxTextCtrl(this, kIdCurrentPort, ToWx(assignment.CurrentPort()),
                   At(this, {136, 27, 51, 14}), SizeOf(this, {136, 27, 51, 14}), wxTE_READONLY);
    AddLabel(this, "COM port to be assigned &newly:", {7, 49, 126, 8});
    wxArrayString names;
    for (const std::u16string& name : assignment.FillFreeComPorts()) names.Add(ToWx(name));
    freePorts_ =
        new wxComboBox(this, kIdFreePorts, wxEmptyString, At(this, {136, 47, 51, 14}),
                       SizeOf(this, {136, 47, 51, 14}), names, wxCB_DROPDOWN | wxCB_READONLY);
    if (!names.empty()) freePorts_->SetSelection(0);
    AddButton(this, kIdOk, "&Execute", {7, 69, 50, 14})->SetDefault();
    AddButton(this, kIdCancel, "&Cancel", {137, 69, 50, 14});
    SetAffirmativeId(kIdOk);
    SetEscapeId(kIdCancel);
    Bind(wxEVT_BUTTON, &CAssignCOMPort::OnExecute, this, kIdOk);
    SizeDialog(this, 194, 90);
}

void CAssignCOMPort::OnExecute(wxCommandEvent&) {
    // Without a free port to choose, the dialog stays open.
    if (assignment_.Execute(FromWx(freePorts_->GetStringSelection()))) EndModal(kIdOk);
}

// The list control and the three action buttons as the logic sees them.
class CTorvaneSerialPortEmulatorDlg::ListView final : public DeviceListView {
  public:
    explicit ListView(wxDialog& dialog, wxListCtrl& list) : dialog_(dialog), list_(list) {}
    int RowCount() override { return list_.GetItemCount(); }
    std::u16string Text(int row, int column) override {
        return FromWx(list_.GetItemText(row, column));
    }
    void SetText(int row, int column, std::u16string_view text) override {
        list_.SetItem(row, column, ToWx(text));
    }
    void AppendRow(std::u16string_view device, std::u16string_view port) override {
        const long row = list_.InsertItem(list_.GetItemCount(), ToWx(device));
        list_.SetItem(row, 1, ToWx(port));
    }
    void DeleteRow(int row) override { list_.DeleteItem(row); }
    std::vector<int> SelectedRows() override {
        std::vector<int> rows;
        for (long row = list_.GetNextItem(-1, wxLIST_NEXT_ALL, wxLIST_STATE_SELECTED); row != -1;
             row = list_.GetNextItem(row, wxLIST_NEXT_ALL, wxLIST_STATE_SELECTED))
            rows.push_back(static_cast<int>(row));
        return rows;
    }
    void EnableActions(bool enabled) override {
        for (int id : {kIdTestPrint, kIdAssign, kIdDelete})
            if (wxWindow* button = dialog_.FindWindow(id)) button->Enable(enabled);
    }

  private:
    wxDialog& dialog_;
    wxListCtrl& list_;
};

CTorvaneSerialPortEmulatorDlg::CTorvaneSerialPortEmulatorDlg(ToolServices& services,
                                                             bool alreadyRunning)
    : wxDialog(nullptr, wxID_ANY, ToWx(kToolTitle)),
      services_(services),
      list_(new wxListCtrl(this, kIdDeviceList, At(this, {7, 18, 288, 130}),
                           SizeOf(this, {7, 18, 288, 130}),
                           wxLC_REPORT | wxLC_SINGLE_SEL | wxBORDER_SUNKEN)),
      view_(std::make_unique<ListView>(*this, *list_)),
      logic_(services, *view_) {
    AddLabel(this, "Device list", {7, 7, 80, 8});
    AddButton(this, kIdTestPrint, "&Test Print", {7, 154, 50, 14});
    AddButton(this, kIdAssign, "&Assign", {63, 154, 50, 14});
    AddButton(this, kIdDelete, "&Delete", {119, 154, 50, 14});
    AddButton(this, kIdCancel, "&Exit", {245, 154, 50, 14});
    // Sized with all its controls in place: a dialog with a single child
    // stretches that child over its whole area.
    SizeDialog(this, 302, 177);
    SetEscapeId(kIdCancel);
    SetIcon(wxArtProvider::GetIcon(wxART_PRINT, wxART_FRAME_ICON));

    // The columns come before the rows; each takes half the list's width.
    const int half = list_->GetClientSize().GetWidth() / 2;
    list_->InsertColumn(0, "Device", wxLIST_FORMAT_LEFT, half);
    list_->InsertColumn(1, "COM Port", wxLIST_FORMAT_LEFT, half);
    endAtOnce_ = logic_.Initialise(alreadyRunning);

    Bind(wxEVT_LIST_ITEM_SELECTED, &CTorvaneSerialPortEmulatorDlg::OnSelectionChanged, this,
         kIdDeviceList);
    Bind(wxEVT_LIST_ITEM_DESELECTED, &CTorvaneSerialPortEmulatorDlg::OnSelectionChanged, this,
         kIdDeviceList);
    Bind(wxEVT_BUTTON, &CTorvaneSerialPortEmulatorDlg::OnTestPrint, this, kIdTestPrint);
    Bind(wxEVT_BUTTON, &CTorvaneSerialPortEmulatorDlg::OnAssign, this, kIdAssign);
    Bind(wxEVT_BUTTON, &CTorvaneSerialPortEmulatorDlg::OnDelete, this, kIdDelete);
    // The desktop's window menu cannot be extended here: F1 opens the
    // About box instead.
    Bind(wxEVT_MENU, &CTorvaneSerialPortEmulatorDlg::OnAbout, this, wxID_ABOUT);
    wxAcceleratorEntry about(wxACCEL_NORMAL, WXK_F1, wxID_ABOUT);
    SetAcceleratorTable(wxAcceleratorTable(1, &about));

    // Printers that come and go; without a watch the list is not updated.
    watch_ = std::make_unique<platform::DeviceNoticeWatch>(
        [this](DWORD event, const std::u16string& path) {
            CallAfter([this, event, path] { logic_.OnDeviceChange(event, path); });
        });
}

CTorvaneSerialPortEmulatorDlg::~CTorvaneSerialPortEmulatorDlg() {
    // No notice is handed over once the watch is gone.
    watch_.reset();
}

int CTorvaneSerialPortEmulatorDlg::ShowModal() {
    if (endAtOnce_) return kIdCancel;
    return wxDialog::ShowModal();
}

void CTorvaneSerialPortEmulatorDlg::OnSelectionChanged(wxListEvent&) {
    logic_.OnListSelectionChanged();
}

void CTorvaneSerialPortEmulatorDlg::OnTestPrint(wxCommandEvent&) {
    logic_.TestPrint();
}

void CTorvaneSerialPortEmulatorDlg::OnAssign(wxCommandEvent&) {
    const AssignRequest request = logic_.BeginAssign();
    AssignComPort assignment(services_, request.longName, request.currentPort, request.devicePath);
    CAssignCOMPort dialog(this, assignment);
    dialog.ShowModal();
    logic_.FinishAssign(assignment);
}

void CTorvaneSerialPortEmulatorDlg::OnDelete(wxCommandEvent&) {
    CConfirmDelete dialog(this, logic_.DeleteQuestion());
    dialog.ShowModal();
    logic_.FinishDelete(dialog.Confirmed());
}

void CTorvaneSerialPortEmulatorDlg::OnAbout(wxCommandEvent&) {
    CAboutDlg about(this);
    about.ShowModal();
}

}  // namespace config
