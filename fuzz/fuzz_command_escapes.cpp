// Any bytes as the command library's escape records — 16002 (the page
// geometry), 16003 (a new sheet) and 16004 (the settings block) — followed
// by a one-page job whose band carries a printer-font, a control and a hex
// command item, so that what the records set is used. A record of the wrong
// size is refused and changes nothing; the stream goes to memory and no
// byte taken into the buffer is lost.
//
// Input: a sequence of up to 16 records, each a selector byte (low bits:
// which escape; 0x80: the record is cut or zero-padded to its exact size,
// otherwise a 16-bit size precedes it) and its bytes. The escapes keep only
// the last geometry and settings block, so longer sequences reach nothing
// new, while each record costs a snapshot of the whole record (some 28 KB).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "command/exports.h"
#include "command/ext_pdev.h"
#include "driver/config.h"
#include "driver/settings.h"
#include "harness_support.h"
#include "records/command_interface.h"
#include "tests/command/plain_devmode.h"

namespace {

using fuzzsupport::Take;

constexpr DWORD kCodes[3] = {kEscapeGeometry, kEscapeNewSheet, kEscapePrinterData};
constexpr LONG kBandWidth = 576;
constexpr LONG kBandHeight = 64;
constexpr LONG kPageHeight = 200;
constexpr int kMaxRecords = 16;

std::size_t written = 0;

BOOL CountingSink(ExtPdev*, const BYTE*, DWORD count) {
    written += count;
    return TRUE;
}

std::size_t RecordSize(DWORD code) {
    return code == kEscapeGeometry      ? sizeof(PageGeometry)
           : code == kEscapePrinterData ? sizeof(PrinterData)
                                        : 0;
}

// The band: rows wide enough for any depth the geometry may name, a black
// bar, and the three items.
void SendPage(ExtPdev* pdev, Devmode* mode) {
    static std::vector<BYTE> bitmap = [] {
        std::vector<BYTE> bits(static_cast<std::size_t>(kBandWidth) * 3 * kBandHeight, 0xFF);
        std::fill(bits.begin() + kBandWidth * 3 * 10, bits.begin() + kBandWidth * 3 * 12, 0x00);
        return bits;
    }();
    static const std::string text =
        "TOTAL"
        "AZ"
        "1B40";
    static const TextRecord items[] = {
        {1, 0, 0, 5, 8, 4, 120, 24},
        {200, 0, 5, 2, 0, 30, 10, 10},
        {300, 0, 7, 4, 0, 40, 10, 10},
    };
    const SIZEL page{kBandWidth, kPageHeight};
    CmndStartPage(pdev, mode, &page, nullptr, 0);
    BandRecord record{};
    record.stride = kBandWidth * 3;
    record.width = kBandWidth;
    record.height = kBandHeight;
    record.band = RECTL{0, 0, kBandWidth, kBandHeight};
    record.content = record.band;
    CmndSendBand(pdev, bitmap.data(), &record, items, 3, reinterpret_cast<const BYTE*>(text.data()),
                 static_cast<DWORD>(text.size()));
    CmndEndPage(pdev);
}

// Seeds: the settings block built from the example data file, and the
// geometry of a 1-bit portrait page, each sent alone and together.
void WriteSeeds() {
    // The printer's copy of the data file: its compiled cache goes beside it.
    PrinterDataObj* config =
        OpenPrinterDataObj(reinterpret_cast<LPCWSTR>(fuzzsupport::DataFile().c_str()));
    if (config == nullptr) std::abort();
    std::unique_ptr<PrinterData> settings = DefaultPrinterData(*config);
    // Control strings of the characters the seeds' control item uses.
    std::snprintf(settings->controlStrings['A' - 0x20], kControlStringSize, "1B40");
    std::snprintf(settings->controlStrings['Z' - 0x20], kControlStringSize, "1D5601");
    ClosePrinterDataObj(config);
    PageGeometry geometry{};
    geometry.bitsPerPixel = 1;
    geometry.bandDirection = kBandsDown;
    geometry.horzRes = kBandWidth;
    geometry.vertRes = kPageHeight;
    geometry.imageSize = SIZEL{kBandWidth, kPageHeight};
    geometry.status = kGeometryValid;
    std::vector<std::uint8_t> g{0x80};
    fuzzsupport::Append(&g, geometry);
    std::vector<std::uint8_t> s{0x82};
    fuzzsupport::Append(&s, *settings);
    std::vector<std::uint8_t> both = g;
    both.insert(both.end(), s.begin(), s.end());
    both.push_back(0x81);
    fuzzsupport::WriteSeed("geometry", g.data(), g.size());
    fuzzsupport::WriteSeed("settings", s.data(), s.size());
    fuzzsupport::WriteSeed("geometry-settings-sheet", both.data(), both.size());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzsupport::WriteSeedsIfAsked(WriteSeeds);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The output buffer is only written before it is read.
    static std::vector<BYTE> buffer(kOutputCapacity);
    Devmode mode = cmdtest::PlainDevmode();
    ExtPdev* pdev = CmndEnableExtPDEV(&mode, nullptr, buffer.data());
    if (pdev == nullptr) std::abort();
    pdev->writeHook = CountingSink;
    written = 0;
    std::vector<BYTE> record;
    for (int records = 0; size != 0 && records < kMaxRecords; ++records) {
        const BYTE selector = Take<BYTE>(data, size);
        const DWORD code = kCodes[(selector & 0x7F) % 3];
        const std::size_t wanted =
            (selector & 0x80) != 0 ? RecordSize(code) : Take<WORD>(data, size);
        const std::size_t taken = std::min(wanted, size);
        record.assign(data, data + taken);
        record.resize(wanted, 0);
        data += taken;
        size -= taken;
        const ExtPdev before = *pdev;
        const WORD result = CmndExtEscape(pdev, code, static_cast<DWORD>(record.size()),
                                          record.empty() ? nullptr : record.data(), 0, nullptr);
        const bool exact = record.size() == RecordSize(code);
        if (result != (exact || RecordSize(code) == 0 ? 1 : 0)) std::abort();
        if (!exact && std::memcmp(&before, pdev, sizeof before) != 0) std::abort();
    }
    CmndStartDoc(pdev, &mode, "Fuzz", 1);
    SendPage(pdev, &mode);
    CmndEndDoc(pdev);
    if (pdev->outputFill != 0 && (pdev->outputFlags & kOutFailed) == 0) std::abort();
    CmndDisableExtPDEV(pdev);
    return 0;
}
