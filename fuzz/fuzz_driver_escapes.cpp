// Any bytes as the driver's escapes with their input records, sent by an
// application during a job on a device of the example printer: the support
// query, the copy count, 15002 (the value for every page start), 15004
// (raw bytes to the printer), 15007 (the device mode out), 15008/15009,
// 15010 (the log settings out) and 15011 (a device text item). Text items
// marked for the band are sent while the page's first band is drawn, so
// that they reach the command library's band encoder with the band. No
// escape writes past the output size it is given.
//
// Input: a sequence of escapes, each a selector byte (low 4 bits: which
// escape, 15 and above an escape number read from the input; 0x80: send it
// during the band), 16-bit input and output sizes, and the input bytes.
// One device serves 256 inputs (enabling a device takes milliseconds): what
// an input's escapes change in it — the copy count and the page value — is
// set back before the next. Each input has a job of its own.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "driver/device_instance.h"
#include "driver/escape_inputs.h"
#include "driver/settings.h"
#include "harness_support.h"
#include "host/driver_host.h"
#include "host/print_job.h"
#include "platform/registry.h"

namespace {

using fuzzsupport::Take;

constexpr ULONG kCodes[] = {QUERYESCSUPPORT,
                            SETCOPYCOUNT,
                            kEscapeSetEscapeValue,
                            kEscapeWriteRaw,
                            kEscapeGetDevmode,
                            kEscapeAccepted1,
                            kEscapeAccepted2,
                            kEscapeGetLogSettings,
                            kEscapeTextItem,
                            kEscapeTextItem,
                            kEscapeTextItem,
                            kEscapeTextItem,
                            15003,
                            16002,
                            16004};
constexpr std::size_t kMaxOutput = 4096;
constexpr BYTE kGuard = 0xA5;

struct Escape {
    ULONG code;
    bool inBand;
    std::vector<BYTE> input;
    ULONG inputSize;  // may claim less than the bytes given, never more
    ULONG outputSize;
};

struct Fixture {
    std::unique_ptr<host::DriverHost> driver;
    HANDLE printer = nullptr;
    Devmode devmode{};
};

Fixture& Setup() {
    static Fixture fixture = [] {
        Fixture f;
        fuzzsupport::PinLibraries();
        f.printer = fuzzsupport::Printer();
        fuzzsupport::StoreCustomPaper(f.printer, u"Ticket", 150);
        std::string error;
        f.driver = host::DriverHost::Load(fuzzsupport::BinDir() / "QLPRGI.DLL", &error);
        if (!f.driver) std::abort();
        auto device =
            host::Device::Enable(*f.driver, f.printer, fuzzsupport::kPrinterName, nullptr, &error);
        if (!device) std::abort();
        // The printer's default device mode on the short paper.
        f.devmode = reinterpret_cast<const DeviceInstance*>(device->pdev())->devmode;
        f.devmode.pub.dmFields = (f.devmode.pub.dmFields | DM_PAPERSIZE) & ~DM_FORMNAME;
        f.devmode.pub.dmPaperSize = 700;
        return f;
    }();
    return fixture;
}

std::vector<Escape> ReadEscapes(const std::uint8_t* data, std::size_t size) {
    std::vector<Escape> escapes;
    while (size != 0 && escapes.size() < 16) {
        Escape e;
        const BYTE selector = Take<BYTE>(data, size);
        const BYTE which = selector & 0x0F;
        e.code = which < 15 ? kCodes[which] : Take<DWORD>(data, size);
        e.inBand = (selector & 0x80) != 0;
        const WORD inputSize = Take<WORD>(data, size);
        e.outputSize = Take<WORD>(data, size) % (kMaxOutput + 1);
        const std::size_t given = std::min<std::size_t>(inputSize, size);
        e.input.assign(data, data + given);
        e.inputSize = static_cast<ULONG>(given);
        data += given;
        size -= given;
        escapes.push_back(std::move(e));
    }
    return escapes;
}

void Send(const host::Device& device, SURFOBJ* surface, const Escape& e) {
    static auto escape = device.driver().Entry<PFN_DrvEscape>(INDEX_DrvEscape);
    // The output buffer is exactly as large as said, followed by guard bytes.
    std::vector<BYTE> output(e.outputSize + 16, kGuard);
    std::vector<BYTE> input = e.input;  // the driver takes a writable pointer
    // Every copy is replayed at the job's end: counts above 3 would make the
    // harness slow, not the escape any different.
    if (e.code == SETCOPYCOUNT && input.size() >= sizeof(DWORD))
        input[0] %= 4, input[1] = input[2] = input[3] = 0;
    escape(surface, e.code, e.inputSize, input.empty() ? nullptr : input.data(), e.outputSize,
           e.outputSize != 0 ? output.data() : nullptr);
    for (std::size_t i = e.outputSize; i < output.size(); ++i)
        if (output[i] != kGuard) std::abort();
}

// Seeds: the escapes as the tests and applications send them — a copy
// count, the page value, raw bytes, the device mode and log settings read
// back, and text items of a printer font, a barcode, a control code and a
// hex command placed in the band.
void WriteSeeds() {
    std::vector<std::uint8_t> all;
    auto add = [&](BYTE selector, const void* input, WORD inputSize, WORD outputSize) {
        all.push_back(selector);
        fuzzsupport::Append(&all, inputSize);
        fuzzsupport::Append(&all, outputSize);
        const auto* bytes = static_cast<const std::uint8_t*>(input);
        all.insert(all.end(), bytes, bytes + inputSize);
    };
    auto item = [](WORD kind, LONG x, LONG y, const std::string& text, LONG w, LONG h) {
        TextItemInput i{};
        i.kind = kind;
        i.x = x;
        i.y = y;
        std::memcpy(i.data, text.data(), text.size());
        i.length = static_cast<WORD>(text.size());
        i.width = w;
        i.height = h;
        return i;
    };
    const DWORD copies = 2, value = 0x12345678, query = 15011;
    add(0, &query, 4, 0);
    add(1, &copies, 4, 4);
    add(2, &value, 4, 0);
    add(3, "\x1b@raw\n", 6, 0);
    add(4, nullptr, 0, 3000);
    add(7, nullptr, 0, 524);
    fuzzsupport::WriteSeed("job-escapes", all.data(), all.size());
    all.clear();
    const TextItemInput items[] = {
        item(1, 10, 20, "TOTAL 12.50", 200, 30), item(100, 10, 60, "4901234567894", 300, 50),
        item(200, 0, 0, "\x1b\x70", 10, 10), item(300, 0, 0, "1B40", 10, 10)};
    for (const TextItemInput& i : items) add(0x88, &i, sizeof i, 0);
    fuzzsupport::WriteSeed("band-items", all.data(), all.size());
    all.clear();
    add(8, &items[0], sizeof items[0], 0);  // outside any band
    add(0x88, &items[1], 100, 0);           // cut short
    fuzzsupport::WriteSeed("items-outside-and-short", all.data(), all.size());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    Setup();
    fuzzsupport::WriteSeedsIfAsked(WriteSeeds);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static std::unique_ptr<host::Device> device;
    static unsigned inputs = 0;
    const std::vector<Escape> escapes = ReadEscapes(data, size);
    Fixture& f = Setup();
    std::string error;
    if (!device || ++inputs % 256 == 0) {
        device.reset();
        device = host::Device::Enable(*f.driver, f.printer, fuzzsupport::kPrinterName,
                                      &f.devmode.pub, &error);
        if (!device) std::abort();
    }
    auto& instance = *reinterpret_cast<DeviceInstance*>(device->pdev());
    instance.devmode.pub.dmCopies = f.devmode.pub.dmCopies;
    instance.escapeValue = 0;
    // A job of its own: a copy count set by one input must not make the
    // pages of the next ones replay hundreds of times at the job's end.
    auto job = host::PrintJob::Start(*device, u"Fuzz", 1, &error);
    if (!job) std::abort();
    bool page = false;
    for (const Escape& e : escapes) {
        if (e.inBand)
            page = true;
        else
            Send(*device, job->surface(), e);
    }
    if (page) {
        bool firstBand = true;
        job->PrintPage(
            [&](SURFOBJ* band, POINTL, int) {
                if (!firstBand) return;
                firstBand = false;
                for (const Escape& e : escapes)
                    if (e.inBand) Send(*device, band, e);
            },
            &error);
    }
    job->End(&error);
    return 0;
}
