// Any bytes as the configuration tool's stored assignment records: the
// "WritePort" and "Device" values of both models' keys, of any length and
// any bytes. The tool reads each record and, at start-up, checks it
// against the device folder, deleting a record whose port is gone. Checks:
// a text read holds at most 259 characters and no NUL; after the check no
// record names a port that is not there. The device folder holds COM3 and
// COM5.
//
// Input: four lengths (Header), then the values' bytes in the order global
// WritePort, global Device, China WritePort, China Device; a length of
// 0xFFFF leaves the value out.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "config/platform_services.h"
#include "config/startup_checks.h"
#include "config/tool_models.h"
#include "harness_support.h"
#include "platform/files.h"
#include "platform/registry.h"

namespace {

using fuzzsupport::kAbsent;
using fuzzsupport::Take;

#pragma pack(push, 1)
struct Header {
    WORD lengths[4];
};
#pragma pack(pop)

const config::ToolModel* const kModels[] = {&config::kGlobalModel, &config::kChinaModel};

void SetUpDeviceFolder() {
    const std::filesystem::path folder = fuzzsupport::ScratchRoot() / "dev";
    std::filesystem::create_directories(folder);
    for (const char* port : {"COM3", "COM5"}) std::ofstream(folder / port).flush();
    setenv("QLPR_DEVICE_DIR", folder.c_str(), 1);
}

void StoreRecord(const config::ToolModel& model, const BYTE* const values[2],
                 const WORD lengths[2]) {
    const std::u16string path = u"SOFTWARE\\ZelSerialPortReg\\" + std::u16string(model.longName);
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_ALL_ACCESS, nullptr, &key, nullptr) != ERROR_SUCCESS)
        std::abort();
    const char16_t* const names[2] = {u"WritePort", u"Device"};
    for (int i = 0; i < 2; ++i) {
        if (lengths[i] == kAbsent)
            RegDeleteValueW(key, names[i]);
        else
            RegSetValueExW(key, names[i], 0, REG_SZ, values[i], lengths[i]);
    }
    RegCloseKey(key);
}

void CheckText(const std::u16string& text) {
    if (text.size() > config::kMaxText || text.find(u'\0') != std::u16string::npos) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    SetUpDeviceFolder();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < sizeof(Header)) return 0;
    const Header h = Take<Header>(data, size);
    const auto records = fuzzsupport::SplitValues(h.lengths, data, size);
    for (int m = 0; m < 2; ++m)
        StoreRecord(*kModels[m], records.bytes + 2 * m, records.lengths + 2 * m);

    config::RegistryAssignmentStore store;
    for (const config::ToolModel* model : kModels) {
        const config::Assignment record = store.ReadAssignment(model->longName);
        CheckText(record.writePort);
        CheckText(record.device);
    }
    config::PlatformDeviceOpener devices;
    config::ValidateStoredAssignments(store, devices);
    for (const config::ToolModel* model : kModels) {
        const std::u16string port = store.ReadAssignment(model->longName).writePort;
        if (port == config::kNoPort || port.empty()) continue;
        const config::OpenOutcome opened =
            devices.Open(config::DeviceName(port), GENERIC_READ, FILE_SHARE_READ);
        if (opened.device == nullptr && opened.error == ERROR_FILE_NOT_FOUND) std::abort();
    }
    return 0;
}
