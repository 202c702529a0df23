// Tamdial's windows on a real X display (Xvfb): the main dialog's controls
// and rows, Assign and Delete through their modal dialogs, and printers
// coming and going through the device-notice watch.
#include "config/ui/dialogs.h"

#include <gtest/gtest.h>
#include <wx/textctrl.h>

#include <chrono>
#include <filesystem>

#include "config/config_fakes.h"
#include "config/ui/wx_text.h"
#include "config_ui/wx_test_support.h"
#include "platform/pty_test_util.h"

namespace {

namespace fs = std::filesystem;
using config::CTorvaneSerialPortEmulatorDlg;

using namespace wxtest;

class DialogsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(gDisplay) << "no X display: neither DISPLAY nor Xvfb";
        tool_.printers.paths = {configtest::kGlobalPath, configtest::kChinaPath};
        tool_.assignments.records[u"ZORP-R1x Global Model"] = {u"COM5", configtest::kGlobalPath};
        tool_.devices.Present(u"\\\\.\\ZELA0");
        tool_.devices.Present(u"COM1");
        tool_.devices.Present(u"\\\\.\\COM5");
    }

    configtest::FakeTool tool_;
};

TEST_F(DialogsTest, MainDialogShowsTheRowsAndEnablesTheActionsOnSelection) {
    CTorvaneSerialPortEmulatorDlg dialog(tool_.services, false);
    dialog.Show();
    EXPECT_EQ(dialog.GetTitle(), "Qor Virtual COM Port Config");
    wxListCtrl& list = dialog.List();
    EXPECT_EQ(list.GetId(), 1000);
    EXPECT_TRUE(list.HasFlag(wxLC_REPORT) && list.HasFlag(wxLC_SINGLE_SEL));
    wxListItem column;
    column.SetMask(wxLIST_MASK_TEXT | wxLIST_MASK_WIDTH);
    ASSERT_EQ(list.GetColumnCount(), 2);
    for (int i = 0; i < 2; ++i) {
        list.GetColumn(i, column);
        EXPECT_EQ(column.GetText(), i == 0 ? "Device" : "COM Port");
        EXPECT_EQ(column.GetWidth(), list.GetClientSize().GetWidth() / 2);
    }
    ASSERT_EQ(list.GetItemCount(), 2);
    EXPECT_EQ(list.GetItemText(0, 0) + " " + list.GetItemText(0, 1), "ZORP-R1x-QM COM5");
    EXPECT_EQ(list.GetItemText(1, 0) + " " + list.GetItemText(1, 1), "ZORP-R1x-CN NONE");
    const std::pair<int, const char*> buttons[] = {
        {1001, "&Test Print"}, {1002, "&Assign"}, {1003, "&Delete"}, {2, "&Exit"}};
    for (const auto& [id, text] : buttons) {
        EXPECT_EQ(Label(dialog, id), text);
        EXPECT_EQ(dialog.FindWindow(id)->IsEnabled(), id == 2) << id;
    }

    list.SetItemState(1, wxLIST_STATE_SELECTED, wxLIST_STATE_SELECTED);
    ASSERT_TRUE(PumpUntil([&] { return dialog.FindWindow(1002)->IsEnabled(); }));
    EXPECT_EQ(config::ToWx(dialog.Logic().SelectedDevice()), "ZORP-R1x-CN");
    const auto drawn = std::chrono::steady_clock::now() + std::chrono::milliseconds(300);
    PumpUntil([&] { return std::chrono::steady_clock::now() >= drawn; });
    SavePicture(dialog, fs::path(QLPR_BIN_DIR).parent_path() / "tamdial-main.png");
}

TEST_F(DialogsTest, AssignAndDeleteRunThroughTheirDialogs) {
    CTorvaneSerialPortEmulatorDlg dialog(tool_.services, false);
    dialog.Show();
    dialog.List().SetItemState(0, wxLIST_STATE_SELECTED, wxLIST_STATE_SELECTED);
    ASSERT_TRUE(PumpUntil([&] { return dialog.FindWindow(1002)->IsEnabled(); }));

    wxString shown;
    WhenOpen<config::CAssignCOMPort>([&](config::CAssignCOMPort& dialog) {
        auto* assign = &dialog;
        shown = assign->GetTitle() + "|" +
                static_cast<wxTextCtrl*>(assign->FindWindow(1007))->GetValue() + "|" +
                static_cast<wxTextCtrl*>(assign->FindWindow(1009))->GetValue();
        auto* ports = static_cast<wxComboBox*>(assign->FindWindow(1011));
        // COM1 is there and taken off the list; the busy COM5 is offered.
        EXPECT_EQ(ports->GetString(0), "COM2");
        EXPECT_EQ(ports->GetStringSelection(), "COM2");
        EXPECT_NE(ports->FindString("COM5"), wxNOT_FOUND);
        ports->SetStringSelection("COM7");
        SavePicture(*assign, fs::path(QLPR_BIN_DIR).parent_path() / "tamdial-assign.png");
        Click(*assign, 1);
    });
    Click(dialog, 1002);
    EXPECT_EQ(shown, "Assign COM Port|ZORP-R1x Global Model|COM5");
    EXPECT_EQ(dialog.List().GetItemText(0, 1), "COM7");
    EXPECT_EQ(tool_.assignments.records[u"ZORP-R1x Global Model"].writePort, u"COM7");
    ASSERT_FALSE(tool_.runner.lines.empty());
    EXPECT_EQ(config::ToWx(tool_.runner.lines.back()),
              "/opt/tool\\setupc.exe change ZELA0 PortName=COM7,");

    WhenOpen<config::CConfirmDelete>([&](config::CConfirmDelete& dialog) {
        auto* confirm = &dialog;
        shown = confirm->GetTitle() + "|" + Label(*confirm, 1006) + "|" + Label(*confirm, 1005);
        SavePicture(*confirm, fs::path(QLPR_BIN_DIR).parent_path() / "tamdial-delete.png");
        Click(*confirm, 1);
    });
    Click(dialog, 1003);
    EXPECT_EQ(shown,
              "Confirm Delete|ZORP-R1x-QM which is currently assigned to COM7 will be deleted "
              "|To Continue, click OK");
    ASSERT_EQ(dialog.List().GetItemCount(), 1);
    EXPECT_EQ(dialog.List().GetItemText(0, 0), "ZORP-R1x-CN");
    EXPECT_EQ(tool_.assignments.records.count(u"ZORP-R1x Global Model"), 0u);
    EXPECT_EQ(config::ToWx(tool_.runner.lines.back()),
              "/opt/tool\\setupc.exe change ZELA0 PortName=NoGlobalPort,");
    EXPECT_FALSE(dialog.FindWindow(1003)->IsEnabled());
}

// Unplugging and plugging the Global printer, through the real watch of a
// device-source folder.
TEST_F(DialogsTest, PrintersComingAndGoingChangeTheList) {
    ptytest::ScopedFolderVariable sources("QLPR_DEVICE_SOURCE");
    const std::string entry = "usb#vid_d1c7&pid_0a31#G100#{28d78fad-5a12-11d1-ae5b-0000f803a8c2}";
    fs::create_symlink("/dev/null", sources.path() / entry);
    CTorvaneSerialPortEmulatorDlg dialog(tool_.services, false);
    wxListCtrl& list = dialog.List();
    ASSERT_EQ(list.GetItemCount(), 2);

    fs::remove(sources.path() / entry);
    ASSERT_TRUE(PumpUntil([&] { return list.GetItemCount() == 1; }));
    EXPECT_EQ(list.GetItemText(0, 0), "ZORP-R1x-CN");
    fs::create_symlink("/dev/null", sources.path() / entry);
    ASSERT_TRUE(PumpUntil([&] { return list.GetItemCount() == 2; }));
    EXPECT_EQ(list.GetItemText(1, 0) + " " + list.GetItemText(1, 1), "ZORP-R1x-QM COM5");
}

}  // namespace
