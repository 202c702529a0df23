// The configuration tool's logic against fakes of its services: start-up,
// the device list, COM port assignment, test print and delete.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "config/assign_com_port.h"
#include "config/main_dialog_logic.h"
#include "config/run_utility.h"
#include "config_fakes.h"
#include "platform/files.h"
#include "platform/wide.h"

namespace {

using configtest::FakeTool;
using configtest::kChinaPath;
using configtest::kGlobalPath;
using Rows = std::vector<std::pair<std::u16string, std::u16string>>;

constexpr std::u16string_view kGlobal = u"ZORP-R1x Global Model";
constexpr std::u16string_view kChina = u"ZORP-R1x China Model";

// A stored assignment whose port exists, and the pair driver installed.
void StoreAssignment(FakeTool& tool, std::u16string_view longName, const std::u16string& port,
                     std::u16string_view path) {
    tool.assignments.records[std::u16string(longName)] = {port, std::u16string(path)};
    tool.devices.Present(u"\\\\.\\" + port);
}

// Starts the tool, with the pair driver installed, and selects `row`.
void StartAndSelect(FakeTool& tool, config::MainDialogLogic& logic, int row) {
    tool.devices.Present(u"\\\\.\\ZELA0");
    logic.Initialise(false);
    tool.list.selected = {row};
    logic.OnListSelectionChanged();
}

struct StartupCase {
    const char* name;
    bool alreadyRunning;
    bool pairPresent;
    std::u16string globalPort;  // "" or a stored port; absent when "NONE"
    DWORD globalPortFailure;    // how opening it fails (ERROR_SUCCESS: opens)
    std::u16string chinaPort;
    DWORD chinaPortFailure;
    std::vector<std::u16string> messages;
    bool endsDialog;
    std::vector<std::u16string> recordsLeft;
};

TEST(ConfigStartup, ChecksThePackageAndTheStoredPortsThenStartsTheService) {
    const std::u16string running(config::kAlreadyRunningMessage);
    const std::u16string install(config::kInstallPackageMessage);
    const std::vector<StartupCase> cases = {
        {"pair present, a stored port that is gone is forgotten",
         false,
         true,
         u"COM9",
         ERROR_FILE_NOT_FOUND,
         u"NONE",
         0,
         {},
         false,
         {}},
        {"nothing installed", false, false, u"NONE", 0, u"NONE", 0, {install}, true, {}},
        {"no pair but a busy stored port",
         false,
         false,
         u"COM5",
         ERROR_ACCESS_DENIED,
         u"NONE",
         0,
         {},
         false,
         {std::u16string(kGlobal)}},
        {"an empty Global port is unassigned",
         false,
         false,
         u"",
         0,
         u"NONE",
         0,
         {install},
         true,
         {std::u16string(kGlobal)}},
        {"an empty China port is tried as a name",
         false,
         false,
         u"NONE",
         0,
         u"",
         ERROR_PATH_NOT_FOUND,
         {},
         false,
         {std::u16string(kChina)}},
        {"second instance", true, true, u"NONE", 0, u"NONE", 0, {running}, true, {}},
    };
    for (const StartupCase& c : cases) {
        SCOPED_TRACE(c.name);
        FakeTool tool;
        if (c.pairPresent) tool.devices.Present(u"\\\\.\\NoChinaPort");
        if (c.globalPort != u"NONE") {
            tool.assignments.records[std::u16string(kGlobal)] = {c.globalPort, kGlobalPath};
            tool.devices.Present(u"\\\\.\\" + c.globalPort, c.globalPortFailure);
        }
        if (c.chinaPort != u"NONE") {
            tool.assignments.records[std::u16string(kChina)] = {c.chinaPort, kChinaPath};
            tool.devices.Present(u"\\\\.\\" + c.chinaPort, c.chinaPortFailure);
        }
        config::MainDialogLogic logic(tool.services, tool.list);

        EXPECT_EQ(logic.Initialise(c.alreadyRunning), c.endsDialog);

        std::vector<std::u16string> texts;
        for (const auto& [title, text] : tool.messages.shown) {
            EXPECT_EQ(title, u"Qor Virtual COM Port Config");
            texts.push_back(text);
        }
        EXPECT_EQ(texts, c.messages);
        std::vector<std::u16string> left;
        for (const auto& [longName, record] : tool.assignments.records) left.push_back(longName);
        EXPECT_EQ(left, c.recordsLeft);
        EXPECT_EQ(tool.runner.lines, std::vector<std::u16string>{u"systemctl start REVUrezeVuzi"});
        EXPECT_FALSE(tool.list.actionsEnabled);
    }
}

TEST(ConfigDeviceList, ShowsOnePrinterPerModelAndFollowsPlugAndUnplug) {
    FakeTool tool;
    tool.printers.paths = {u"\\\\?\\usb#vid_1234&pid_0001#X#{28d78fad}", kGlobalPath,
                           u"\\\\?\\usb#vid_d1c7&pid_0a31#SECOND#{28d78fad}", kChinaPath};
    StoreAssignment(tool, kGlobal, u"COM5", kGlobalPath);
    config::MainDialogLogic logic(tool.services, tool.list);
    logic.Initialise(false);
    EXPECT_EQ(tool.list.rows, (Rows{{u"ZORP-R1x-QM", u"COM5"}, {u"ZORP-R1x-CN", u"NONE"}}));
    EXPECT_EQ(logic.GlobalDevicePath(), kGlobalPath);

    // Unplugging the selected Global printer (its path in capitals) takes
    // its row and the selection; the China row moves up.
    tool.list.selected = {0};
    logic.OnListSelectionChanged();
    std::u16string upper(kGlobalPath);
    std::u16string lower(kGlobalPath);
    for (char16_t& c : upper)
        if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');
    for (char16_t& c : lower)
        if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
    logic.OnDeviceChange(DBT_DEVICEREMOVECOMPLETE, upper);
    EXPECT_EQ(tool.list.rows, (Rows{{u"ZORP-R1x-CN", u"NONE"}}));
    EXPECT_FALSE(tool.list.actionsEnabled);
    constexpr DWORD kNodesChanged = 0x0007;  // not an arrival or a removal
    logic.OnDeviceChange(kNodesChanged, kGlobalPath);
    EXPECT_EQ(tool.list.rows.size(), 1u);

    logic.OnDeviceChange(DBT_DEVICEARRIVAL, upper);
    logic.OnDeviceChange(DBT_DEVICEARRIVAL, u"\\\\?\\usb#vid_d1c7&pid_0a32#OTHER#{x}");
    logic.OnDeviceChange(DBT_DEVICEARRIVAL, u"\\\\?\\usb#vid_1234&pid_0001#X#{x}");
    EXPECT_EQ(tool.list.rows, (Rows{{u"ZORP-R1x-CN", u"NONE"}, {u"ZORP-R1x-QM", u"COM5"}}));
    EXPECT_EQ(logic.GlobalDevicePath(), lower);
}

TEST(ConfigAssign, OffersTheComPortsThatDoNotOpen) {
    FakeTool tool;
    tool.devices.Present(u"COM1");
    tool.devices.Present(u"COM3");
    tool.devices.Present(u"COM5", ERROR_ACCESS_DENIED);

    const std::vector<std::u16string> free = config::FillFreeComPorts(tool.devices);

    std::vector<std::u16string> expected = {u"COM2"};
    for (int n = 4; n <= 32; ++n) expected.push_back(platform::FromUtf8("COM" + std::to_string(n)));
    EXPECT_EQ(free, expected);
    ASSERT_EQ(tool.devices.opens.size(), 32u);
    EXPECT_EQ(tool.devices.opens[8].name, u"COM9");
    EXPECT_EQ(tool.devices.opens[9].name, u"\\\\.\\COM10");
    EXPECT_EQ(tool.devices.opens[9].access, GENERIC_READ | GENERIC_WRITE);
    EXPECT_EQ(tool.devices.opens[9].shareMode, FILE_SHARE_READ);
}

TEST(ConfigAssign, ExecuteRenamesThePairPortAndRecordsTheNewName) {
    FakeTool tool;
    tool.printers.paths = {kGlobalPath};
    config::MainDialogLogic logic(tool.services, tool.list);
    StartAndSelect(tool, logic, 0);

    const config::AssignRequest request = logic.BeginAssign();
    EXPECT_EQ(request.longName, kGlobal);
    EXPECT_EQ(request.currentPort, u"NONE");
    config::AssignComPort dialog(tool.services, request.longName, request.currentPort,
                                 request.devicePath);
    EXPECT_FALSE(dialog.Execute(u""));  // no free port chosen: nothing happens
    ASSERT_TRUE(dialog.Execute(u"COM7"));
    logic.FinishAssign(dialog);

    EXPECT_EQ(tool.runner.lines.back(), u"/opt/tool\\setupc.exe change ZELA0 PortName=COM7,");
    const config::Assignment stored = tool.assignments.ReadAssignment(kGlobal);
    EXPECT_EQ(stored.writePort, u"COM7");
    EXPECT_EQ(stored.device, kGlobalPath);
    EXPECT_EQ(tool.list.rows, (Rows{{u"ZORP-R1x-QM", u"COM7"}}));
    EXPECT_EQ(logic.SelectedPort(), u"COM7");
}

TEST(ConfigAssign, UtilityCommandLineEndsAtTheLastWordGiven) {
    struct Case {
        std::vector<std::u16string_view> words;  // w0 to w4
        std::u16string line;
    };
    const std::vector<Case> cases = {
        {{u"setupc.exe", u"change", u"ZELA1", u"PortName=COM12,", u""},
         u"D\\setupc.exe change ZELA1 PortName=COM12,"},
        {{u"a.exe", u"", u"", u"", u""}, u"D\\a.exe"},
        {{u"a.exe", u"", u"x", u"", u""}, u"D\\a.exe  x"},
        {{u"a.exe", u"1", u"2", u"3", u"4"}, u"D\\a.exe 1 2 3 4"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(config::UtilityCommandLine(u"D", c.words[0], c.words[1], c.words[2], c.words[3],
                                             c.words[4]),
                  c.line);
}

class ConfigTestPrint : public ::testing::Test {
  protected:
    void SetUp() override {
        folder_ =
            std::filesystem::temp_directory_path() / ("qlpr-config-" + std::to_string(::getpid()));
        std::filesystem::create_directories(folder_);
        tool_.services.testPage = platform::FromUtf8((folder_ / "TestPrint.prn").string());
    }
    void TearDown() override { std::filesystem::remove_all(folder_); }

    void WritePage(std::size_t bytes) {
        std::ofstream page(folder_ / "TestPrint.prn", std::ios::binary);
        for (std::size_t i = 0; i < bytes; ++i) page.put(static_cast<char>('A' + i % 26));
    }

    std::filesystem::path folder_;
    FakeTool tool_;
};

TEST_F(ConfigTestPrint, SendsThePageAndOneZeroByteInOneWrite) {
    WritePage(100);
    tool_.printers.paths = {kGlobalPath};
    StoreAssignment(tool_, kGlobal, u"COM5", kGlobalPath);
    config::MainDialogLogic logic(tool_.services, tool_.list);
    StartAndSelect(tool_, logic, 0);

    logic.TestPrint();

    const auto& writes = tool_.devices.writes[u"\\\\.\\COM5"];
    ASSERT_EQ(writes.size(), 1u);
    ASSERT_EQ(writes[0].size(), 101u);
    EXPECT_EQ(writes[0][0], 'A');
    EXPECT_EQ(writes[0][99], 'A' + 99 % 26);
    EXPECT_EQ(writes[0][100], 0);
    EXPECT_EQ(tool_.devices.opens.back().shareMode, 0u);
    EXPECT_TRUE(tool_.messages.shown.empty());
}

TEST_F(ConfigTestPrint, FailsWithTheReasonsWhenThePortDoesNotOpenAndSkipsAMissingPage) {
    tool_.printers.paths = {kGlobalPath};
    config::MainDialogLogic logic(tool_.services, tool_.list);
    StartAndSelect(tool_, logic, 0);  // the row shows NONE
    const std::size_t opensBefore = tool_.devices.opens.size();

    logic.TestPrint();  // no page file yet
    EXPECT_EQ(tool_.devices.opens.size(), opensBefore);
    EXPECT_TRUE(tool_.messages.shown.empty());

    WritePage(10);
    logic.TestPrint();
    EXPECT_EQ(tool_.devices.opens.back().name, u"\\\\.\\NONE");
    ASSERT_EQ(tool_.messages.shown.size(), 1u);
    EXPECT_EQ(tool_.messages.shown[0].first, u"Qor Virtual COM Port Config");
    EXPECT_EQ(tool_.messages.shown[0].second,
              u"Test print Failed! This could happen because of below possible reasons: \n1. "
              u"Device is not connected \n2. COM port is not assigned to the device \n3. COM "
              u"port is busy");
}

TEST(ConfigDelete, ConfirmedDeleteGivesThePortItsUnassignedNameAndCancelChangesNothing) {
    for (const bool confirmed : {true, false}) {
        SCOPED_TRACE(confirmed ? "confirmed" : "cancelled");
        FakeTool tool;
        tool.printers.paths = {kGlobalPath, kChinaPath};
        StoreAssignment(tool, kGlobal, u"COM5", kGlobalPath);
        StoreAssignment(tool, kChina, u"COM6", kChinaPath);
        config::MainDialogLogic logic(tool.services, tool.list);
        StartAndSelect(tool, logic, 1);
        const std::size_t runsBefore = tool.runner.lines.size();

        EXPECT_EQ(logic.DeleteQuestion(),
                  u"ZORP-R1x-CN which is currently assigned to COM6 will be deleted ");
        logic.FinishDelete(confirmed);

        if (confirmed) {
            EXPECT_EQ(tool.list.rows, (Rows{{u"ZORP-R1x-QM", u"COM5"}}));
            EXPECT_EQ(tool.runner.lines.back(),
                      u"/opt/tool\\setupc.exe change ZELA1 PortName=NoChinaPort,");
            EXPECT_EQ(tool.assignments.records.count(std::u16string(kChina)), 0u);
            EXPECT_FALSE(tool.list.actionsEnabled);
        } else {
            EXPECT_EQ(tool.list.rows.size(), 2u);
            EXPECT_EQ(tool.runner.lines.size(), runsBefore);
            EXPECT_EQ(tool.assignments.records.count(std::u16string(kChina)), 1u);
            EXPECT_TRUE(tool.list.actionsEnabled);
        }
        EXPECT_EQ(tool.assignments.records.count(std::u16string(kGlobal)), 1u);
    }
}

}  // namespace
