// Any bytes as the values the driver reads from the registry: the settings
// block ("PrinterData" with "PrinterDataSize"), the user-defined papers
// ("CustomPaper"), the font substitution table ("TTFontSubTable" with
// "TTFontSubTableSize") and the log archive list ("LogFiles"). One harness
// splits its input between them.
//
// With the first three stored, they are read back as the driver reads them
// and a default device mode is built from them: it validates to itself, and
// the substitution table gives the first face it names the number stored
// with it. Enabling a device takes milliseconds, so only inputs that ask
// for it enable one from the stored values, with the same checks, and only
// when no earlier input enabled one from the same values. The archive list is read when the
// driver's log grows past its limit: the list written back holds at most 32 slots, the new archive
// first, each slot a name ending inside it.
//
// The settings block's log mode, folder and generations are not taken from
// the input: the enabled device does not log, and the log of the rotation
// lies in the harness's folder and keeps at most three generations, so that
// no input writes outside it or fills it.
//
// Input: a header (see Header), then the four values' bytes in the order
// above; a length of 0xFFFF leaves the value out.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "driver/device_instance.h"
#include "driver/driver_log.h"
#include "driver/settings.h"
#include "harness_support.h"
#include "host/driver_host.h"
#include "platform/heap.h"
#include "platform/registry.h"

namespace {

using fuzzsupport::kAbsent;
using fuzzsupport::Take;

constexpr char16_t kArchiveKey[] = u"Software\\P-ZN\\PrinterDriverData";
constexpr char16_t kArchiveValue[] = u"LogFiles";
constexpr std::size_t kSlotBytes = kLogArchiveSlotChars * sizeof(WCHAR);

#pragma pack(push, 1)
struct Header {
    WORD printerDataSize;    // the "PrinterDataSize" stored
    WORD substitutionsSize;  // the "TTFontSubTableSize" stored
    WORD lengths[4];         // PrinterData, CustomPaper, TTFontSubTable, LogFiles
    BYTE generations;        // of the log, 1 + this % 3
    BYTE enable;             // zero: a device is enabled
};
#pragma pack(pop)

struct Fixture {
    std::unique_ptr<host::DriverHost> driver;
    HANDLE printer = nullptr;
    PrinterDataObj* config = nullptr;
};

Fixture& Setup() {
    static Fixture fixture = [] {
        Fixture f;
        fuzzsupport::PinLibraries();
        f.printer = fuzzsupport::Printer();
        std::string error;
        f.driver = host::DriverHost::Load(fuzzsupport::BinDir() / "QLPRGI.DLL", &error);
        f.config = OpenPrinterDataObj(reinterpret_cast<LPCWSTR>(fuzzsupport::DataFile().c_str()));
        if (!f.driver || f.config == nullptr) std::abort();
        return f;
    }();
    return fixture;
}

// The log's clock moves on a second with every line, so that every
// rotation makes a new archive.
void SteppingClock(SYSTEMTIME* now) {
    static std::uint32_t tick = 0;
    const std::uint32_t t = tick++;
    *now = SYSTEMTIME{};
    now->wYear = static_cast<WORD>(2001 + t / (86400u * 28 * 12) % 7000);
    now->wMonth = static_cast<WORD>(1 + t / (86400u * 28) % 12);
    now->wDay = static_cast<WORD>(1 + t / 86400u % 28);
    now->wHour = static_cast<WORD>(t / 3600u % 24);
    now->wMinute = static_cast<WORD>(t / 60u % 60);
    now->wSecond = static_cast<WORD>(t % 60);
}

void Store(const char16_t* name, DWORD type, const BYTE* bytes, WORD length) {
    HANDLE printer = Setup().printer;
    if (length == kAbsent)
        DeletePrinterDataW(printer, name);
    else
        SetPrinterDataW(printer, name, type, bytes, length);
}

void StoreSize(const char16_t* name, WORD size) {
    const DWORD value = size;
    SetPrinterDataW(Setup().printer, name, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                    sizeof value);
}

void PointLogAtScratch(PrinterData* settings) {
    std::memset(settings->logFolder, 0, sizeof settings->logFolder);
    const std::u16string folder = fuzzsupport::LogFolder().u16string();
    std::memcpy(settings->logFolder, folder.data(),
                std::min<std::size_t>(folder.size(), 259) * sizeof(WCHAR));
}

// The checks on what the driver made of the stored values.
void CheckReadBack(const PrinterData& settings, const CustomPaperList& papers, const BYTE* table,
                   DWORD size, const Devmode& devmode, bool enabled) {
    Devmode again = devmode;
    ValidateDevmode(*Setup().config, settings, papers, &again);
    // After validation an enable gives source 700 the device mode's own cut
    // and feed masks.
    if (enabled && again.pub.dmDefaultSource == 700) {
        again.priv.cutMask = again.priv.customCutMask;
        again.priv.feedMask = again.priv.customFeedMask;
    }
    if (std::memcmp(&again, &devmode, sizeof again) != 0) std::abort();

    // The first complete pair of the substitution table is found by its name.
    std::u16string first;
    std::size_t at = 0;
    for (; table != nullptr && at + 2 <= size; at += 2) {
        const WCHAR c = static_cast<WCHAR>(table[at] | table[at + 1] << 8);
        if (c == 0) break;
        first += c;
    }
    if (!first.empty() && first.size() < 64 && at + 4 <= size) {
        const WORD number = static_cast<WORD>(table[at + 2] | table[at + 3] << 8);
        if (LookupFontSubstitution(table, size, reinterpret_cast<LPCWSTR>(first.c_str())) != number)
            std::abort();
    }
    LookupFontSubstitution(table, size, reinterpret_cast<LPCWSTR>(u"Arial"));
}

void CheckEnabledDevice() {
    std::string error;
    auto device = host::Device::Enable(*Setup().driver, Setup().printer, fuzzsupport::kPrinterName,
                                       nullptr, &error);
    if (!device) return;
    const auto& instance = *reinterpret_cast<const DeviceInstance*>(device->pdev());
    CheckReadBack(instance.printerData, instance.customPapers, instance.fontSubstitutions,
                  instance.fontSubstitutionsSize, instance.devmode, true);
}

// Whether a device was enabled with these stored values before: an enable
// reads nothing else the input sets, so it would repeat that one exactly
// (such inputs are read directly instead).
bool EnabledBefore(const Header& h, const BYTE* const values[4], const WORD lengths[4]) {
    std::string stored;
    for (WORD size : {h.printerDataSize, h.substitutionsSize, lengths[0], lengths[1], lengths[2]})
        stored.append(reinterpret_cast<const char*>(&size), sizeof size);
    for (int i = 0; i < 3; ++i)
        if (lengths[i] != kAbsent)
            stored.append(reinterpret_cast<const char*>(values[i]), lengths[i]);
    return fuzzsupport::SeenBefore(stored);
}

void CheckReadDirectly() {
    Fixture& f = Setup();
    std::unique_ptr<PrinterData> settings = LoadPrinterData(f.printer, f.config);
    if (!settings) std::abort();  // the configuration's defaults at least
    HANDLE heap = HeapCreate(0, 0, 0);
    CustomPaperList papers;
    ReadCustomPapers(f.printer, heap, &papers);
    DWORD size = 0;
    BYTE* table = ReadFontSubstitutions(f.printer, heap, &size);
    Devmode devmode{};
    BuildDefaultDevmode(*f.config, *settings, papers,
                        reinterpret_cast<LPCWSTR>(fuzzsupport::kPrinterName), &devmode);
    CheckReadBack(*settings, papers, table, size, devmode, false);
    HeapDestroy(heap);
}

void RotateWithList(const PrinterData& block, const BYTE* list, WORD length, BYTE generations) {
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, kArchiveKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_ALL_ACCESS, nullptr, &key, nullptr) != ERROR_SUCCESS)
        std::abort();
    if (length == kAbsent)
        RegDeleteValueW(key, kArchiveValue);
    else
        RegSetValueExW(key, kArchiveValue, 0, REG_BINARY, list, length);

    PrinterData settings = block;
    settings.logMode = kLogOrdinary;
    settings.logGenerations = static_cast<WORD>(1 + generations % 3);
    PointLogAtScratch(&settings);
    // The current log one byte short of its limit: the next line archives it.
    const std::filesystem::path current = fuzzsupport::LogFolder() / "P-ZNGIUI.log";
    { std::ofstream touch(current, std::ios::app); }
    std::filesystem::resize_file(current, kLogRotateSize - 1);
    DriverLog(nullptr, &settings, Setup().printer, kLogLevelOrdinary, "line\n");

    std::vector<BYTE> written(4096);
    DWORD size = static_cast<DWORD>(written.size());
    if (RegQueryValueExW(key, kArchiveValue, nullptr, nullptr, written.data(), &size) ==
        ERROR_SUCCESS) {
        if (size % kSlotBytes != 0 || size > kLogArchiveSlots * kSlotBytes || size == 0)
            std::abort();
        for (std::size_t slot = 0; slot < size; slot += kSlotBytes) {
            const BYTE* at = written.data() + slot;
            if (at[0] == 0 && at[1] == 0) std::abort();  // an empty slot is never written
            if (at[kSlotBytes - 2] != 0 || at[kSlotBytes - 1] != 0) std::abort();
        }
    }
    RegCloseKey(key);
}

// Seeds: the default settings block of the example data file, a long and a
// short user-defined paper, a substitution table of two faces and an
// archive list naming two archives, alone and together.
void WriteSeeds() {
    std::unique_ptr<PrinterData> block = DefaultPrinterData(*Setup().config);
    CustomPaperRecord papers[2] = {};
    const std::u16string names[2] = {u"Long roll", u"Ticket"};
    const LONG lengths[2] = {3000, 500};
    for (int i = 0; i < 2; ++i) {
        std::memcpy(papers[i].name, names[i].data(), names[i].size() * sizeof(WCHAR));
        papers[i].width = 800;
        papers[i].length = lengths[i];
        papers[i].code = static_cast<SHORT>(700 + i);
    }
    std::vector<BYTE> table;
    for (const auto& [face, number] :
         {std::pair<std::u16string, WORD>{u"Arial", 3}, {u"Courier New", 1}}) {
        for (char16_t c : face) fuzzsupport::Append(&table, c);
        fuzzsupport::Append(&table, char16_t{0});
        fuzzsupport::Append(&table, number);
    }
    fuzzsupport::Append(&table, char16_t{0});
    std::vector<BYTE> list(2 * kSlotBytes, 0);
    const std::u16string archives[2] = {u"P-ZNGIUI20010101000001.log",
                                        u"P-ZNGIUI20010101000000.log"};
    for (int i = 0; i < 2; ++i)
        std::memcpy(list.data() + i * kSlotBytes, archives[i].data(),
                    archives[i].size() * sizeof(WCHAR));

    auto seed = [&](const std::string& name, bool withBlock, bool withPapers, bool withTable,
                    bool withList, bool enable) {
        Header h{};
        h.printerDataSize = static_cast<WORD>(kPrinterDataSize);
        h.substitutionsSize = static_cast<WORD>(table.size());
        h.lengths[0] = withBlock ? static_cast<WORD>(kPrinterDataSize) : kAbsent;
        h.lengths[1] = withPapers ? static_cast<WORD>(sizeof papers) : kAbsent;
        h.lengths[2] = withTable ? static_cast<WORD>(table.size()) : kAbsent;
        h.lengths[3] = withList ? static_cast<WORD>(list.size()) : kAbsent;
        h.generations = 1;
        h.enable = enable ? 0 : 1;
        std::vector<std::uint8_t> bytes;
        fuzzsupport::Append(&bytes, h);
        if (withBlock) fuzzsupport::Append(&bytes, *block);
        if (withPapers) fuzzsupport::Append(&bytes, papers);
        if (withTable) bytes.insert(bytes.end(), table.begin(), table.end());
        if (withList) bytes.insert(bytes.end(), list.begin(), list.end());
        fuzzsupport::WriteSeed(name, bytes.data(), bytes.size());
    };
    seed("all-enable", true, true, true, true, true);
    seed("all", true, true, true, true, false);
    seed("settings-block", true, false, false, false, false);
    seed("papers-table-list", false, true, true, true, false);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    Setup();
    SetDriverLogClockForTesting(SteppingClock);
    fuzzsupport::WriteSeedsIfAsked(WriteSeeds);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < sizeof(Header)) return 0;
    const Header h = Take<Header>(data, size);
    const auto split = fuzzsupport::SplitValues(h.lengths, data, size);
    const BYTE* const* values = split.bytes;
    const WORD* lengths = split.lengths;

    // The stored block never logs from the device; its copy for the log
    // rotation below is the input's block when it is one.
    PrinterData block{};
    const bool isBlock = lengths[0] == kPrinterDataSize;
    if (isBlock) {
        std::memcpy(&block, values[0], sizeof block);
        PrinterData quiet = block;
        quiet.logMode = kLogNone;
        PointLogAtScratch(&quiet);
        Store(u"PrinterData", REG_BINARY, reinterpret_cast<const BYTE*>(&quiet), lengths[0]);
    } else {
        block = *DefaultPrinterData(*Setup().config);
        Store(u"PrinterData", REG_BINARY, values[0], lengths[0]);
    }
    StoreSize(u"PrinterDataSize", h.printerDataSize);
    Store(u"CustomPaper", REG_BINARY, values[1], lengths[1]);
    Store(u"TTFontSubTable", REG_BINARY, values[2], lengths[2]);
    StoreSize(u"TTFontSubTableSize", h.substitutionsSize);

    if (h.enable == 0 && !EnabledBefore(h, values, lengths))
        CheckEnabledDevice();
    else
        CheckReadDirectly();
    if (lengths[3] != kAbsent) RotateWithList(block, values[3], lengths[3], h.generations);
    return 0;
}
