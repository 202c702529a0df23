// Tamdial's windows on a real X display (Xvfb): the main dialog's controls
// and rows, Assign and Delete through their modal dialogs, and printers
// coming and going through the device-notice watch.
#include "config/ui/dialogs.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <wx/app.h>
#include <wx/dcmemory.h>
#include <wx/dcscreen.h>
#include <wx/init.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>

#include "config/config_fakes.h"
#include "config/ui/wx_text.h"
#include "platform/pty_test_util.h"

namespace {

namespace fs = std::filesystem;
using config::CTorvaneSerialPortEmulatorDlg;

extern "C" char** environ;

bool gDisplay = false;

// A private X server for the windows when no display is given; Xvfb tells
// its display number once it is ready.
class PrivateDisplay {
  public:
    bool Start() {
        int ready[2];
        if (pipe(ready) != 0) return false;
        const std::string fd = std::to_string(ready[1]);
        char* argv[] = {const_cast<char*>("Xvfb"),
                        const_cast<char*>("-displayfd"),
                        const_cast<char*>(fd.c_str()),
                        const_cast<char*>("-nolisten"),
                        const_cast<char*>("tcp"),
                        const_cast<char*>("-screen"),
                        const_cast<char*>("0"),
                        const_cast<char*>("1024x768x24"),
                        nullptr};
        const bool spawned = posix_spawnp(&pid_, "Xvfb", nullptr, nullptr, argv, environ) == 0;
        close(ready[1]);
        char number[16] = {};
        const bool told = spawned && read(ready[0], number, sizeof number - 1) > 0;
        close(ready[0]);
        if (!told) return false;
        setenv("DISPLAY", (":" + std::string(number, strcspn(number, "\n"))).c_str(), 1);
        return true;
    }
    ~PrivateDisplay() {
        if (pid_ <= 0) return;
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
    }

  private:
    pid_t pid_ = -1;
};

class WxEnvironment : public ::testing::Environment {
  public:
    void SetUp() override {
        const char* display = std::getenv("DISPLAY");
        if ((display == nullptr || *display == '\0') && !xvfb_.Start()) return;
        static int argc = 1;
        static char name[] = "config_ui_tests";
        static char* argv[] = {name, nullptr};
        wxApp::SetInstance(new wxApp);
        gDisplay = wxEntryStart(argc, argv);
        if (gDisplay) wxInitAllImageHandlers();
    }
    void TearDown() override {
        if (gDisplay) wxEntryCleanup();
    }

  private:
    PrivateDisplay xvfb_;
};
const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new WxEnvironment);

// Runs the event loop until `done` holds, for at most five seconds.
bool PumpUntil(const std::function<bool()>& done) {
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!done() && std::chrono::steady_clock::now() < limit) {
        wxTheApp->ProcessPendingEvents();
        wxYield();
        wxMilliSleep(10);
    }
    return done();
}

void Click(wxWindow& dialog, int id) {
    wxCommandEvent click(wxEVT_BUTTON, id);
    click.SetEventObject(dialog.FindWindow(id));
    dialog.ProcessWindowEvent(click);
}

// Runs `act` on the modal dialog of this class once it is on the screen
// (the loop of its ShowModal runs it); fails the test when none opens.
template <class Dialog>
void WhenOpen(std::function<void(Dialog&)> act,
              std::chrono::steady_clock::time_point since = std::chrono::steady_clock::now()) {
    wxTheApp->CallAfter([act, since] {
        const auto waited = std::chrono::steady_clock::now() - since;
        Dialog* open = nullptr;
        for (wxWindow* window : wxTopLevelWindows)
            if (auto* dialog = dynamic_cast<Dialog*>(window); dialog && dialog->IsModal())
                open = dialog;
        if (open != nullptr && open->IsShownOnScreen()) return act(*open);
        if (waited < std::chrono::seconds(5)) return WhenOpen(act, since);
        ADD_FAILURE() << "the dialog did not open";
        if (open != nullptr) open->EndModal(2);
    });
}

wxString Label(wxWindow& dialog, int id) {
    wxWindow* control = dialog.FindWindow(id);
    return control != nullptr ? control->GetLabel() : "<missing>";
}

// The window as it is on the screen, for the test's artefacts.
void SavePicture(wxWindow& window, const fs::path& file) {
    const wxRect area = window.GetScreenRect();
    wxBitmap picture(area.GetSize());
    wxMemoryDC memory(picture);
    wxScreenDC screen;
    memory.Blit(0, 0, area.width, area.height, &screen, area.x, area.y);
    memory.SelectObject(wxNullBitmap);
    picture.SaveFile(file.string(), wxBITMAP_TYPE_PNG);
}

class DialogsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!gDisplay) GTEST_SKIP() << "no X display";
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
