// qlpr info: enables the driver for the default printer and shows what it
// made of the printer's settings: the validated device mode, the page
// geometry, the two capability records and the device fonts.

#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "driver/device_instance.h"
#include "host/driver_host.h"
#include "platform/registry.h"
#include "platform/spooler.h"
#include "platform/wide.h"
#include "render/device_fonts.h"
#include "tools/commands.h"
#include "tools/field_table.h"
#include "tools/file_io.h"
#include "tools/printer_setup.h"

namespace qlpr {
namespace {

constexpr char kInfoHelp[] =
    "usage: qlpr info [--data FILE] [--devmode FILE] [--printer-data FILE]\n"
    "\n"
    "Enables the printer driver for the default printer, as the print path does, and\n"
    "prints `name: value` lines: the validated device mode (public fields by their\n"
    "platform names, private fields by the driver's names), the page geometry\n"
    "(geometry.*), the GDIINFO and DEVINFO records, and the device fonts (font.N).\n"
    "\n"
    "  --data FILE           the printer's INI data file (default: the embedded\n"
    "                        example of an 80 mm, 203 dpi model)\n"
    "  --devmode FILE        an application's device mode, raw, at most 2,222 bytes\n"
    "  --printer-data FILE   a settings block stored as the printer's \"PrinterData\"\n"
    "                        and \"PrinterDataSize\" before the enable; without it the\n"
    "                        printer has none and the driver builds the defaults\n"
    "  --help                this text\n"
    "\n"
    "The printer lives under $QLPR_ROOT (default $XDG_STATE_HOME/qlpr or\n"
    "~/.local/state/qlpr). Exit status 0, or 1 with one line on standard error.\n";

constexpr std::size_t kDevmodeMinimum = offsetof(DEVMODEW, dmFields);

std::optional<std::vector<BYTE>> ReadFile(const std::string& path, std::string* error) {
    std::optional<std::vector<BYTE>> bytes = ReadWholeFile(path);
    if (!bytes) *error = "cannot read " + path;
    return bytes;
}

// The engine hands the driver a device mode whose declared sizes fit the
// bytes it holds; one that does not is refused here.
bool CheckDevmode(const std::vector<BYTE>& bytes, const std::string& path, std::string* error) {
    if (bytes.size() > kFullDevmodeSize) {
        *error = path + ": a device mode is at most 2222 bytes, this one has " + std::to_string(bytes.size());
        return false;
    }
    if (bytes.size() < kDevmodeMinimum) {
        *error = path + ": too short for a device mode (" + std::to_string(bytes.size()) + " bytes)";
        return false;
    }
    DEVMODEW head{};
    std::memcpy(&head, bytes.data(), kDevmodeMinimum);
    std::size_t declared = std::size_t{head.dmSize} + head.dmDriverExtra;
    if (head.dmSize < kDevmodeMinimum || declared > bytes.size()) {
        *error = path + ": the device mode declares " + std::to_string(head.dmSize) + " + " +
                 std::to_string(head.dmDriverExtra) + " bytes but holds " + std::to_string(bytes.size());
        return false;
    }
    return true;
}

bool StorePrinterData(HANDLE printer, const std::optional<std::vector<BYTE>>& block, std::string* error) {
    if (!block) {
        DeletePrinterDataW(printer, reinterpret_cast<LPCWSTR>(u"PrinterData"));
        DeletePrinterDataW(printer, reinterpret_cast<LPCWSTR>(u"PrinterDataSize"));
        return true;
    }
    DWORD size = static_cast<DWORD>(block->size());
    if (SetPrinterDataW(printer, reinterpret_cast<LPCWSTR>(u"PrinterData"), REG_BINARY, block->data(), size) != 0 ||
        SetPrinterDataW(printer, reinterpret_cast<LPCWSTR>(u"PrinterDataSize"), REG_DWORD,
                        reinterpret_cast<const BYTE*>(&size), sizeof size) != 0) {
        *error = "cannot store the settings block in the printer's data";
        return false;
    }
    return true;
}

std::string FontLines(const DeviceInstance& instance) {
    std::string out;
    for (DWORD i = 0; i < instance.deviceFontCount; ++i) {
        const DeviceFontEntry& font = instance.deviceFonts[i];
        char line[400];
        std::snprintf(line, sizeof line, "font.%u: id=%u face=%s weight=%u italic=%u\n", i + 1,
                      font.fontId, platform::ToUtf8(font.faceName).c_str(), font.ifi.usWinWeight,
                      font.ifi.fsSelection & 1u);
        out += line;
    }
    return out;
}

}  // namespace

int InfoCommand(const std::vector<std::string>& args) {
    std::optional<std::string> dataFile, devmodeFile, printerDataFile;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        auto value = [&](std::optional<std::string>* target) {
            if (i + 1 >= args.size()) return false;
            *target = args[++i];
            return true;
        };
        if (arg == "--help" || arg == "-h") {
            PrintOut(kInfoHelp);
            return 0;
        } else if (arg == "--data") {
            if (!value(&dataFile)) return Fail("--data needs a file name");
        } else if (arg == "--devmode") {
            if (!value(&devmodeFile)) return Fail("--devmode needs a file name");
        } else if (arg == "--printer-data") {
            if (!value(&printerDataFile)) return Fail("--printer-data needs a file name");
        } else {
            return Fail("unknown option " + arg + " (see qlpr info --help)");
        }
    }

    std::string error;
    std::vector<BYTE> devmode;
    if (devmodeFile) {
        auto bytes = ReadFile(*devmodeFile, &error);
        if (!bytes || !CheckDevmode(*bytes, *devmodeFile, &error)) return Fail(error);
        devmode = std::move(*bytes);
    }
    std::optional<std::vector<BYTE>> printerData;
    if (printerDataFile) {
        printerData = ReadFile(*printerDataFile, &error);
        if (!printerData) return Fail(error);
    }
    std::optional<std::filesystem::path> data;
    if (dataFile) data = std::filesystem::path(*dataFile);
    if (!SetUpDefaultPrinter(data, &error)) return Fail(error);

    HANDLE printer = nullptr;
    if (!OpenPrinterW(reinterpret_cast<LPCWSTR>(kDefaultPrinterName), &printer, nullptr))
        return Fail("cannot open the default printer");
    struct PrinterCloser {
        HANDLE printer;
        ~PrinterCloser() { ClosePrinter(printer); }
    } closer{printer};
    if (!StorePrinterData(printer, printerData, &error)) return Fail(error);

    auto driver = host::DriverHost::Load(LibraryFolder() / "QLPRGI.DLL", &error);
    if (!driver) return Fail(error);
    auto device = host::Device::Enable(*driver, printer, kDefaultPrinterName,
                                       devmode.empty() ? nullptr : reinterpret_cast<const DEVMODEW*>(devmode.data()),
                                       &error);
    if (!device) {
        return Fail("the driver could not be enabled for this printer (bad data file?): " + error);
    }
    const DeviceInstance* instance = InstanceOf(device->pdev());
    if (instance == nullptr) return Fail("the driver returned an unknown device");

    std::string out;
    out += FormatFields(DevmodeFields(), &instance->devmode);
    out += FormatFields(GeometryFields(), &instance->geometry, "geometry.");
    out += FormatFields(GdiInfoFields(), &device->gdiInfo());
    out += FormatFields(DevInfoFields(), &device->devInfo());
    out += "deviceFonts: " + std::to_string(instance->deviceFontCount) + "\n";
    out += FontLines(*instance);
    PrintOut(out);
    return 0;
}

}  // namespace qlpr
