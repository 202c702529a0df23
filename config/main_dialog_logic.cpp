#include "config/main_dialog_logic.h"

#include <optional>
#include <vector>

#include "config/run_utility.h"
#include "config/startup_checks.h"
#include "platform/files.h"
#include "platform/wide.h"

namespace config {
namespace {

constexpr int kMaxRows = 2;
constexpr int kDeviceColumn = 0;
constexpr int kPortColumn = 1;

std::u16string Cut(std::u16string_view text) {
    return std::u16string(text.substr(0, kMaxText));
}

// Device paths from notifications may come in any case; the USB
// identifiers are lower case.
std::u16string LowerCaseAscii(std::u16string_view text) {
    std::u16string lower(text);
    for (char16_t& c : lower)
        if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
    return lower;
}

// The port text a row shows for a stored assignment: NONE also for an
// empty text (a record that could not be read), on arrival as at start-up,
// so that a row never offers an empty port name.
std::u16string_view RowPortText(const Assignment& stored) {
    return stored.writePort.empty() ? kNoPort : std::u16string_view(stored.writePort);
}

const ToolModel* ModelOfShortName(std::u16string_view shortName) {
    for (const ToolModel* model : {&kGlobalModel, &kChinaModel})
        if (platform::WideEqualsNoCase(shortName, model->shortName)) return model;
    return nullptr;
}

// The whole test page followed by one zero byte; nothing when the file
// cannot be opened or read in full (a half-read page is not sent).
std::optional<std::vector<BYTE>> ReadTestPage(const std::u16string& name) {
    const HANDLE file = CreateFileW(name.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return std::nullopt;
    DWORD sizeHigh = 0;
    const DWORD size = GetFileSize(file, &sizeHigh);
    std::optional<std::vector<BYTE>> page;
    if (size != INVALID_FILE_SIZE && sizeHigh == 0) {
        page.emplace(std::size_t{size} + 1, BYTE{0});
        DWORD read = 0;
        if (!ReadFile(file, page->data(), size, &read, nullptr) || read != size) page.reset();
    }
    CloseHandle(file);
    return page;
}

}  // namespace

std::u16string ConfirmDeleteQuestion(std::u16string_view device, std::u16string_view port) {
    std::u16string question(device);
    question += u" which is currently assigned to ";
    question += port;
    question += u" will be deleted ";
    return question;
}

MainDialogLogic::MainDialogLogic(ToolServices& services, DeviceListView& list)
    : services_(services), list_(list) {}

bool MainDialogLogic::Initialise(bool alreadyRunning) {
    bool endDialog = false;
    if (alreadyRunning) {
        services_.messages.ShowMessage(kToolTitle, kAlreadyRunningMessage);
        endDialog = true;
    }
    if (IsPairDriverPresent(services_.devices)) {
        ValidateStoredAssignments(services_.assignments, services_.devices);
    } else if (ValidateStoredAssignments(services_.assignments, services_.devices) == 1) {
        services_.messages.ShowMessage(kToolTitle, kInstallPackageMessage);
        endDialog = true;
    }
    StartPrintService(services_.programs);
    const std::vector<std::u16string> paths = EnumerateModelDevices(services_.printers);
    list_.EnableActions(false);
    for (const std::u16string& path : paths)
        if (!path.empty()) AddStartupRow(path);
    return endDialog;
}

std::u16string& MainDialogLogic::DevicePathOf(const ToolModel& model) {
    return &model == &kGlobalModel ? globalDevicePath_ : chinaDevicePath_;
}

void MainDialogLogic::AddStartupRow(const std::u16string& path) {
    const ToolModel* model = ModelOfPath(path);
    if (model == nullptr) return;
    DevicePathOf(*model) = Cut(path);
    const Assignment stored = services_.assignments.ReadAssignment(model->longName);
    if (startupRows_ < kMaxRows) list_.AppendRow(model->shortName, RowPortText(stored));
    ++startupRows_;
}

void MainDialogLogic::OnListSelectionChanged() {
    list_.EnableActions(false);
    const std::vector<int> selected = list_.SelectedRows();
    if (selected.empty()) return;
    selectedRow_ = selected.back();
    selectedDevice_ = Cut(list_.Text(selectedRow_, kDeviceColumn));
    selectedPort_ = Cut(list_.Text(selectedRow_, kPortColumn));
    list_.EnableActions(true);
}

void MainDialogLogic::OnDeviceChange(DWORD event, std::u16string_view path) {
    if (event != DBT_DEVICEARRIVAL && event != DBT_DEVICEREMOVECOMPLETE) return;
    const std::u16string lower = LowerCaseAscii(path);
    // A device of neither model changes nothing, and no record is read
    // (or made) for it.
    const ToolModel* model = ModelOfPath(lower);
    if (model == nullptr) return;
    DevicePathOf(*model) = Cut(lower);
    const Assignment stored = services_.assignments.ReadAssignment(model->longName);

    bool modelHasRow = false;
    bool rowDeleted = false;
    for (int row = 0; row < list_.RowCount(); ++row) {
        if (list_.Text(row, kDeviceColumn) != model->shortName) continue;
        modelHasRow = true;
        if (event == DBT_DEVICEREMOVECOMPLETE) {
            list_.DeleteRow(row--);
            rowDeleted = true;
        }
    }
    // The rows below a deleted one moved up: the selection is taken again,
    // so that the actions never work on a row that is gone or has moved.
    if (rowDeleted) OnListSelectionChanged();
    if (event == DBT_DEVICEARRIVAL && !modelHasRow && list_.RowCount() < kMaxRows)
        list_.AppendRow(model->shortName, RowPortText(stored));
}

bool MainDialogLogic::SelectionIsCurrent() {
    return selectedRow_ >= 0 && selectedRow_ < list_.RowCount() &&
           list_.Text(selectedRow_, kDeviceColumn) == selectedDevice_;
}

AssignRequest MainDialogLogic::BeginAssign() const {
    // Any row other than the Global model's is the China model's.
    const ToolModel& model = platform::WideEqualsNoCase(selectedDevice_, kGlobalModel.shortName)
                                 ? kGlobalModel
                                 : kChinaModel;
    const std::u16string& devicePath =
        &model == &kGlobalModel ? globalDevicePath_ : chinaDevicePath_;
    return {std::u16string(model.longName), selectedPort_, devicePath};
}

void MainDialogLogic::FinishAssign(const AssignComPort& dialog) {
    if (!dialog.Assigned()) {
        list_.EnableActions(true);
        return;
    }
    selectedPort_ = dialog.CurrentPort();
    if (SelectionIsCurrent()) list_.SetText(selectedRow_, kPortColumn, selectedPort_);
}

void MainDialogLogic::TestPrint() {
    const std::optional<std::vector<BYTE>> page = ReadTestPage(services_.testPage);
    if (!page) return;
    const OpenOutcome port =
        services_.devices.Open(DeviceName(selectedPort_), GENERIC_READ | GENERIC_WRITE, 0);
    if (port.device == nullptr) {
        services_.messages.ShowMessage(kToolTitle, kTestPrintFailedMessage);
        return;
    }
    port.device->Write(*page);
}

std::u16string MainDialogLogic::DeleteQuestion() const {
    return ConfirmDeleteQuestion(selectedDevice_, selectedPort_);
}

void MainDialogLogic::FinishDelete(bool confirmed) {
    if (!confirmed) {
        list_.EnableActions(true);
        return;
    }
    if (SelectionIsCurrent()) list_.DeleteRow(selectedRow_);
    if (const ToolModel* model = ModelOfShortName(selectedDevice_)) {
        services_.assignments.DeleteAssignment(model->longName);
        RenamePairPort(services_.programs, model->pairPortId, model->unassignedPort);
    }
    list_.EnableActions(false);
}

}  // namespace config
