// Fakes of the configuration tool's services, recording what the tool does.
#pragma once

#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "config/tool_interfaces.h"
#include "config/tool_services.h"

namespace configtest {

using config::OpenOutcome;

// Devices by name: a name opens unless it has a failure listed, and a
// name not listed as present fails with ERROR_FILE_NOT_FOUND.
class FakeDevices final : public config::DeviceOpener {
  public:
    struct OpenCall {
        std::u16string name;
        DWORD access;
        DWORD shareMode;
    };

    void Present(const std::u16string& name, DWORD failure = ERROR_SUCCESS) {
        failures_[name] = failure;
    }

    OpenOutcome Open(std::u16string_view name, DWORD access, DWORD shareMode) override {
        const std::u16string key(name);
        opens.push_back({key, access, shareMode});
        const auto found = failures_.find(key);
        if (found == failures_.end()) return {nullptr, ERROR_FILE_NOT_FOUND};
        if (found->second != ERROR_SUCCESS) return {nullptr, found->second};
        return {std::make_unique<Device>(writes[key]), ERROR_SUCCESS};
    }

    std::vector<OpenCall> opens;
    std::map<std::u16string, std::vector<std::vector<BYTE>>> writes;  // per name, per write

  private:
    class Device final : public config::OpenedDevice {
      public:
        explicit Device(std::vector<std::vector<BYTE>>& writes) : writes_(writes) {}
        bool Write(std::span<const BYTE> bytes) override {
            writes_.emplace_back(bytes.begin(), bytes.end());
            return true;
        }

      private:
        std::vector<std::vector<BYTE>>& writes_;
    };
    std::map<std::u16string, DWORD> failures_;
};

class FakePrinters final : public config::PrinterInterfaces {
  public:
    std::vector<std::u16string> PrinterInterfacePaths() override { return paths; }
    std::vector<std::u16string> paths;
};

// Records keyed by long name; a missing record reads as no port.
class FakeAssignments final : public config::AssignmentStore {
  public:
    config::Assignment ReadAssignment(std::u16string_view longName) override {
        const auto found = records.find(std::u16string(longName));
        if (found == records.end()) return {u"NONE", u""};
        return found->second;
    }
    void WriteAssignment(std::u16string_view longName, std::u16string_view writePort,
                         std::u16string_view device) override {
        records[std::u16string(longName)] = {std::u16string(writePort), std::u16string(device)};
    }
    void DeleteAssignment(std::u16string_view longName) override {
        records.erase(std::u16string(longName));
    }
    std::map<std::u16string, config::Assignment> records;
};

class FakeRunner final : public config::ProgramRunner {
  public:
    std::u16string CurrentDirectory() override { return u"/opt/tool"; }
    bool RunAndWait(std::u16string_view commandLine) override {
        lines.emplace_back(commandLine);
        return true;
    }
    std::vector<std::u16string> lines;
};

class FakeMessages final : public config::MessageSink {
  public:
    void ShowMessage(std::u16string_view title, std::u16string_view text) override {
        shown.emplace_back(title, text);
    }
    std::vector<std::pair<std::u16string, std::u16string>> shown;
};

class FakeList final : public config::DeviceListView {
  public:
    int RowCount() override { return static_cast<int>(rows.size()); }
    std::u16string Text(int row, int column) override {
        return column == 0 ? rows.at(row).first : rows.at(row).second;
    }
    void SetText(int row, int column, std::u16string_view text) override {
        (column == 0 ? rows.at(row).first : rows.at(row).second) = text;
    }
    void AppendRow(std::u16string_view device, std::u16string_view port) override {
        rows.emplace_back(device, port);
    }
    // The selection stays with its row, as in a list control.
    void DeleteRow(int row) override {
        rows.erase(rows.begin() + row);
        std::set<int> moved;
        for (int selectedRow : selected)
            if (selectedRow != row) moved.insert(selectedRow > row ? selectedRow - 1 : selectedRow);
        selected = moved;
    }
    std::vector<int> SelectedRows() override { return {selected.begin(), selected.end()}; }
    void EnableActions(bool enabled) override { actionsEnabled = enabled; }

    std::vector<std::pair<std::u16string, std::u16string>> rows;
    std::set<int> selected;
    bool actionsEnabled = true;
};

// Everything the tool is given, faked, with the tool's main dialog logic.
struct FakeTool {
    FakeDevices devices;
    FakePrinters printers;
    FakeAssignments assignments;
    FakeRunner runner;
    FakeMessages messages;
    FakeList list;
    config::ToolServices services{devices, printers, assignments, runner, messages};
};

inline constexpr char16_t kGlobalPath[] =
    u"\\\\?\\usb#vid_d1c7&pid_0a31#G100#{28d78fad-5a12-11d1-ae5b-0000f803a8c2}";
inline constexpr char16_t kChinaPath[] =
    u"\\\\?\\usb#vid_d1c7&pid_0a32#C200#{28d78fad-5a12-11d1-ae5b-0000f803a8c2}";

}  // namespace configtest
