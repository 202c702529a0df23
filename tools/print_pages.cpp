#include "tools/print_pages.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <optional>
#include <utility>

#include "driver/device_instance.h"
#include "host/driver_host.h"
#include "host/print_job.h"
#include "platform/module.h"
#include "platform/profile.h"
#include "platform/registry.h"
#include "platform/spooler.h"
#include "platform/wide.h"
#include "tools/printer_setup.h"

namespace qlpr {
namespace {

std::unique_ptr<host::Device> EnableDevice(const host::DriverHost& driver, HANDLE printer,
                                           const std::u16string& printerName,
                                           const Devmode* devmode, std::string* error) {
    auto device = host::Device::Enable(driver, printer, printerName,
                                       devmode ? &devmode->pub : nullptr, error);
    if (!device) {
        *error = "the driver could not be enabled for this printer (bad data file?): " + *error;
        return nullptr;
    }
    if (InstanceOf(device->pdev()) == nullptr) {
        *error = "the driver returned an unknown device";
        return nullptr;
    }
    return device;
}

// A page taller than the paper is printed on a user paper of the printer
// ("CustomPaper"), as a user who defines a longer form would: the custom
// size (code 256) keeps the model's printable height, a user paper's
// printable height follows its length. It has the current paper's width and
// is long enough for `rows` dots; it is the printer's only user paper.
constexpr SHORT kLongPaperCode = 30000;

bool StoreLongPaper(HANDLE printer, const Devmode& validated, LONG rows, LONG dpi,
                    std::string* error) {
    const PaperRecord& paper = validated.priv.pagePaper;
    const long long printed =
        (static_cast<long long>(rows) * 254 + dpi - 1) / std::max<LONG>(dpi, 1);
    CustomPaperRecord record{};
    const std::u16string name = u"qlpr print long page";
    std::copy(name.begin(), name.end(), record.name);
    record.width = paper.width;
    record.length = static_cast<LONG>(printed + paper.marginTop + paper.marginBottom);
    record.code = kLongPaperCode;
    if (SetPrinterDataW(printer, reinterpret_cast<LPCWSTR>(u"CustomPaper"), REG_BINARY,
                        reinterpret_cast<const BYTE*>(&record), sizeof record) != 0) {
        *error = "cannot store a paper long enough for the pages";
        return false;
    }
    return true;
}

std::u16string ProfileString(const char16_t* section, const char16_t* key,
                             const std::filesystem::path& dataFile) {
    std::vector<char16_t> buffer(32768);
    const std::u16string file = platform::FromUtf8(dataFile.string());
    const DWORD length = GetPrivateProfileStringW(
        reinterpret_cast<LPCWSTR>(section), reinterpret_cast<LPCWSTR>(key),
        reinterpret_cast<LPCWSTR>(u""), reinterpret_cast<LPWSTR>(buffer.data()),
        static_cast<DWORD>(buffer.size()), reinterpret_cast<LPCWSTR>(file.c_str()));
    return std::u16string(buffer.data(), length);
}

// The paper-size code of a paper entry: its second number.
std::optional<long> PaperCode(const std::u16string& value) {
    const std::string text = platform::ToUtf8(value);
    const std::size_t comma = text.find(',');
    if (comma == std::string::npos) return std::nullopt;
    std::string code = text.substr(comma + 1, text.find(',', comma + 1) - comma - 1);
    code.erase(std::remove(code.begin(), code.end(), ' '), code.end());
    std::optional<long long> number = ParseInteger(code, -32768, 32767);
    if (!number) return std::nullopt;
    return static_cast<long>(*number);
}

// Whether the printer's data file lists a paper of this code (the driver
// would print an unknown code on its default paper without a word).
bool DataFileHasPaper(const std::filesystem::path& dataFile, long code) {
    const std::u16string value = ProfileString(u"printer", u"paper", dataFile);
    if (value.rfind(u"LIST", 0) != 0) return PaperCode(value) == code;
    const std::u16string keys = ProfileString(u"paper", nullptr, dataFile);
    for (std::size_t at = 0; at < keys.size();) {
        const std::size_t end = std::min(keys.find(u'\0', at), keys.size());
        const std::u16string key = keys.substr(at, end - at);
        if (!key.empty() && PaperCode(ProfileString(u"paper", key.c_str(), dataFile)) == code)
            return true;
        at = end + 1;
    }
    return false;
}

// The driver loads its companion libraries when a device is enabled and
// lets them go when it is disabled. A job enables the device up to three
// times (the printer's defaults, the options, a longer paper); holding the
// libraries for the whole job loads each of them once.
class CompanionLibraries {
  public:
    CompanionLibraries() {
        for (const char* name : {"QLPRBRCD.DLL", "QLPRURES.DLL", "QLPRCMND.DLL"}) {
            const std::u16string path = platform::FromUtf8((LibraryFolder() / name).string());
            if (HMODULE module = LoadLibraryW(reinterpret_cast<LPCWSTR>(path.c_str())))
                held_.push_back(module);
        }
    }
    ~CompanionLibraries() {
        for (HMODULE module : held_) FreeLibrary(module);
    }
    CompanionLibraries(const CompanionLibraries&) = delete;
    CompanionLibraries& operator=(const CompanionLibraries&) = delete;

  private:
    std::vector<HMODULE> held_;
};

// Runs the document loop: the device is enabled with the options' device
// mode, every page drawn band by band, the job ended.
bool RunDocument(const PrintOptions& options, std::vector<PageContent> contents, HANDLE printer,
                 const std::u16string& printerName, const std::filesystem::path& dataFile,
                 const std::filesystem::path& output, int* lineBytes, std::string* error,
                 const PhaseMark& phase, const PageMark& pageMark) {
    // A description's settings shape the device mode under the options.
    std::vector<FieldSetting> settings;
    for (const PageContent& content : contents)
        settings.insert(settings.end(), content.settings.begin(), content.settings.end());

    auto driver = host::DriverHost::Load(LibraryFolder() / "QLPRGI.DLL", error);
    if (!driver) return false;
    const CompanionLibraries companions;
    // The printer's own defaults, as the driver builds them, with the
    // descriptions' settings and then the options on top.
    auto device = EnableDevice(*driver, printer, printerName, nullptr, error);
    if (!device) return false;
    Devmode devmode = InstanceOf(device->pdev())->devmode;
    ApplyFieldSettings(settings, &devmode);
    ApplyPrintOptions(options, &devmode);
    if (std::memcmp(&devmode, &InstanceOf(device->pdev())->devmode, sizeof devmode) != 0) {
        device.reset();
        device = EnableDevice(*driver, printer, printerName, &devmode, error);
        if (!device) return false;
    }
    const Devmode& validated = InstanceOf(device->pdev())->devmode;
    if (options.paper && !DataFileHasPaper(dataFile, *options.paper)) {
        *error = "--paper: the printer has no paper " + std::to_string(*options.paper);
        return false;
    }
    if (phase) phase("enable");

    const auto pageWidth = static_cast<LONG>(device->gdiInfo().ulHorzRes);
    std::vector<host::Page> pages;
    LONG bottom = 0;
    for (PageContent& content : contents) {
        if (options.fit) FitImagePage(&content, pageWidth);
        bottom = std::max(bottom, content.bottom);
        pages.push_back(std::move(content.page));
    }

    if (!options.PaperChosen() && !ChoosesPaper(settings) &&
        bottom > static_cast<LONG>(device->gdiInfo().ulVertRes)) {
        if (!StoreLongPaper(printer, validated, bottom,
                            static_cast<LONG>(device->gdiInfo().ulLogPixelsY), error))
            return false;
        Devmode longer = devmode;
        longer.pub.dmPaperSize = kLongPaperCode;
        longer.pub.dmFields |= DM_PAPERSIZE;
        device.reset();
        device = EnableDevice(*driver, printer, printerName, &longer, error);
        if (!device) return false;
        if (phase) phase("lengthen");
    }

    *lineBytes = static_cast<int>((device->gdiInfo().ulHorzRes + 7) / 8);
    // The spooler's job id: page files of concurrent jobs never meet.
    auto job = host::PrintJob::Start(*device, u"qlpr print", 0, error,
                                     platform::FromUtf8(output.string()));
    if (!job) return false;
    for (std::size_t i = 0; i < pages.size(); ++i) {
        if (pageMark) pageMark(i + 1);
        if (!job->PrintPage(pages[i], error)) return false;
    }
    const bool ended = job->End(error);
    job.reset();
    if (phase) phase("print");
    return ended;
}

}  // namespace

bool PrintPages(const PrintOptions& options, std::vector<PageContent> contents,
                const std::u16string& printerName, const std::filesystem::path& dataFile,
                const std::filesystem::path& output, int* lineBytes, std::string* error,
                const PhaseMark& phase, const PageMark& page) {
    HANDLE printer = nullptr;
    if (!OpenPrinterW(reinterpret_cast<LPCWSTR>(printerName.c_str()), &printer, nullptr)) {
        *error = "cannot open the printer " + platform::ToUtf8(printerName);
        return false;
    }
    const bool printed = RunDocument(options, std::move(contents), printer, printerName, dataFile,
                                     output, lineBytes, error, phase, page);
    ClosePrinter(printer);
    return printed;
}

}  // namespace qlpr
