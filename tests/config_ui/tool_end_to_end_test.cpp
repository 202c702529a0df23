// Tamdial as a person uses it, on the whole serial path: the real pair
// daemon and the real bridge service as processes, a fake Global printer,
// the tool's platform services (devices, printers, programs, registry),
// and the pointer and keyboard through the X server.
#include <gtest/gtest.h>
#include <wx/combobox.h>
#include <wx/textctrl.h>
#include <wx/uiaction.h>

#include <fstream>
#include <sstream>

#include "config/config_fakes.h"
#include "config/platform_services.h"
#include "config/ui/dialogs.h"
#include "config/ui/wx_text.h"
#include "config_ui/wx_test_support.h"
#include "notifying_service.h"
#include "platform/pty_test_util.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;
using namespace wxtest;

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

// Lets the toolkit take in what the X server reported.
void Settle() {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(50);
    PumpUntil([&] { return std::chrono::steady_clock::now() >= until; });
}

// The pointer clicks the middle of a rectangle given in screen pixels: it
// comes in first, as a hand's would, so that the control sees it enter.
void ClickAt(const wxRect& area) {
    wxUIActionSimulator person;
    person.MouseMove(area.GetPosition() + area.GetSize() / 2);
    Settle();
    person.MouseDown();
    Settle();
    person.MouseUp();
}

void ClickButton(wxWindow& dialog, int id) {
    ClickAt(dialog.FindWindow(id)->GetScreenRect());
}

class ToolEndToEnd : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(gDisplay) << "no X display: neither DISPLAY nor Xvfb";
        // The tool's own folder: the setup utility and the test page.
        fs::create_symlink(testsupport::BinDir() / "setupc", tool_.path() / "setupc");
        fs::copy_file(testsupport::SourceDir() / "examples" / "TestPrint.prn",
                      tool_.path() / "TestPrint.prn");
        previousFolder_ = fs::current_path();
        fs::current_path(tool_.path());
        pairs_ = std::make_unique<testsupport::NotifyingService>(
            testsupport::BinDir() / "qlpr-pairs", std::vector<std::string>{});
        ASSERT_TRUE(pairs_->AwaitReady()) << "the pair daemon did not start";
        service_ = std::make_unique<testsupport::NotifyingService>(testsupport::BinDir() / "Tamsel",
                                                                   std::vector<std::string>{});
        ASSERT_TRUE(service_->AwaitReady()) << "the bridge service did not start";
        fs::create_symlink(printer_.SlavePath(), sources_.path() / kPrinterEntry);
    }
    void TearDown() override {
        service_.reset();
        pairs_.reset();
        if (!previousFolder_.empty()) fs::current_path(previousFolder_);
    }
    bool Port(const char* name) const { return fs::is_symlink(ports_.path() / name); }

    static constexpr const char* kPrinterEntry =
        "usb#vid_d1c7&pid_0a31#E2E1#{28d78fad-5a12-11d1-ae5b-0000f803a8c2}";
    ptytest::ScopedFolderVariable ports_{"QLPR_DEVICE_DIR"};
    ptytest::ScopedFolderVariable sources_{"QLPR_DEVICE_SOURCE"};
    ptytest::ScopedFolderVariable root_{"QLPR_ROOT"};
    ptytest::ScopedFolderVariable tool_{"QLPR_TEST_TOOL_DIR"};
    ptytest::Line printer_;
    fs::path previousFolder_;
    std::unique_ptr<testsupport::NotifyingService> pairs_;
    std::unique_ptr<testsupport::NotifyingService> service_;
};

TEST_F(ToolEndToEnd, AssignsPrintsTheTestPageThroughTheBridgeAndDeletes) {
    config::PlatformDeviceOpener devices;
    config::PlatformPrinterInterfaces printers;
    config::RegistryAssignmentStore assignments;
    config::PlatformProgramRunner programs;
    configtest::FakeMessages messages;  // a message would be a failure here
    config::ToolServices services{devices, printers, assignments, programs, messages};
    const fs::path artefacts = fs::path(QLPR_BIN_DIR).parent_path();

    config::CTorvaneSerialPortEmulatorDlg dialog(services, false);
    dialog.Show();
    wxListCtrl& list = dialog.List();
    ASSERT_EQ(list.GetItemCount(), 1);
    EXPECT_EQ(list.GetItemText(0, 0) + " " + list.GetItemText(0, 1), "ZORP-R1x-QM NONE");
    EXPECT_TRUE(messages.shown.empty());

    // The person clicks the row, then Assign, picks COM7 and clicks Execute.
    wxRect row;
    list.GetItemRect(0, row);
    row.SetPosition(list.ClientToScreen(row.GetPosition()));
    ClickAt(row);
    ASSERT_TRUE(PumpUntil([&] { return dialog.FindWindow(config::kIdAssign)->IsEnabled(); }));
    SavePicture(dialog, artefacts / "tamdial-e2e-main.png");

    wxString assignTexts;
    WhenOpen<config::CAssignCOMPort>([&](config::CAssignCOMPort& assign) {
        assignTexts =
            static_cast<wxTextCtrl*>(assign.FindWindow(config::kIdLongName))->GetValue() + "|" +
            static_cast<wxTextCtrl*>(assign.FindWindow(config::kIdCurrentPort))->GetValue();
        SavePicture(assign, artefacts / "tamdial-e2e-assign.png");
        static_cast<wxComboBox*>(assign.FindWindow(config::kIdFreePorts))
            ->SetStringSelection("COM7");
        ClickButton(assign, config::kIdOk);
    });
    ClickButton(dialog, config::kIdAssign);
    ASSERT_TRUE(PumpUntil([&] { return list.GetItemText(0, 1) == "COM7"; }));
    EXPECT_EQ(assignTexts, "ZORP-R1x Global Model|NONE");
    // setupc renamed the pair's user-side end, and the tool keeps the record.
    EXPECT_TRUE(Port("COM7"));
    EXPECT_FALSE(Port("ZELA0"));
    const config::Assignment stored = assignments.ReadAssignment(u"ZORP-R1x Global Model");
    EXPECT_EQ(config::ToWx(stored.writePort), "COM7");
    EXPECT_EQ(config::ToWx(stored.device), wxString("\\\\?\\") + kPrinterEntry);

    // Test Print: the page and one zero byte reach the printer through COM7,
    // the pair and the bridge service.
    ClickButton(dialog, config::kIdTestPrint);
    std::string page = ReadFile(tool_.path() / "TestPrint.prn");
    page.push_back('\0');
    std::string received;
    PumpUntil([&] {
        received += printer_.Receive(page.size() - received.size(), std::chrono::milliseconds(5));
        return received.size() >= page.size();
    });
    EXPECT_TRUE(received == page) << received.size() << " of " << page.size() << " bytes";
    EXPECT_TRUE(messages.shown.empty());

    // Delete, confirmed with the Enter key.
    wxString question;
    WhenOpen<config::CConfirmDelete>([&](config::CConfirmDelete& confirm) {
        question = Label(confirm, config::kIdQuestion);
        SavePicture(confirm, artefacts / "tamdial-e2e-delete.png");
        wxUIActionSimulator person;
        person.Char(WXK_RETURN);
    });
    ClickButton(dialog, config::kIdDelete);
    ASSERT_TRUE(PumpUntil([&] { return list.GetItemCount() == 0; }));
    EXPECT_EQ(question, "ZORP-R1x-QM which is currently assigned to COM7 will be deleted ");
    EXPECT_TRUE(PumpUntil([&] { return Port("NoGlobalPort") && !Port("COM7"); }));
    EXPECT_EQ(config::ToWx(assignments.ReadAssignment(u"ZORP-R1x Global Model").writePort), "NONE");
}

}  // namespace
