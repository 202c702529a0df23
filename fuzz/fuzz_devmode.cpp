// Any bytes as an application's device mode, enabling a device of the
// example printer: the driver merges it into the printer's default and
// validates the result, or refuses the enable. A device mode the driver
// accepted is validated again without change (validation is a fixed
// point), and the device's page sizes are positive.
//
// Input: a selector byte, then the device mode; when the sizes it declares
// (dmSize plus dmDriverExtra) reach past it, the rest reads as zeros, as
// the engine hands the driver that many bytes. Every input is merged and
// validated against the printer's configuration, settings and papers
// directly, the same code the enable runs first. Enabling a device takes
// milliseconds, so only a selector of zero enables one, and only with a
// merged device mode not enabled before; its device mode must be the one
// merged directly.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "driver/device_instance.h"
#include "driver/settings.h"
#include "harness_support.h"
#include "host/driver_host.h"
#include "platform/heap.h"
#include "platform/registry.h"

namespace {

struct Fixture {
    std::unique_ptr<host::DriverHost> driver;
    HANDLE printer = nullptr;
    PrinterDataObj* config = nullptr;
    std::unique_ptr<PrinterData> settings;
    CustomPaperList papers;
    Devmode defaults{};
};

Fixture& Setup() {
    static Fixture fixture = [] {
        Fixture f;
        fuzzsupport::PinLibraries();
        f.printer = fuzzsupport::Printer();
        fuzzsupport::StoreCustomPaper(f.printer, u"Long roll", 3000);
        std::string error;
        f.driver = host::DriverHost::Load(fuzzsupport::BinDir() / "QLPRGI.DLL", &error);
        f.config = OpenPrinterDataObj(reinterpret_cast<LPCWSTR>(fuzzsupport::DataFile().c_str()));
        if (!f.driver || f.config == nullptr) std::abort();
        f.settings = LoadPrinterData(f.printer, f.config);
        ReadCustomPapers(f.printer, HeapCreate(0, 0, 0), &f.papers);
        BuildDefaultDevmode(*f.config, *f.settings, f.papers,
                            reinterpret_cast<LPCWSTR>(fuzzsupport::kPrinterName), &f.defaults);
        return f;
    }();
    return fixture;
}

std::unique_ptr<host::Device> Enable(const DEVMODEW* devmode) {
    std::string error;
    return host::Device::Enable(*Setup().driver, Setup().printer, fuzzsupport::kPrinterName,
                                devmode, &error);
}

const DeviceInstance& Instance(const host::Device& device) {
    return *reinterpret_cast<const DeviceInstance*>(device.pdev());
}

// Whether a device was enabled with this merged device mode before. After
// its merge, everything an enable does depends on the merged device mode
// alone (the printer's settings and papers stay as set up), so an input
// merging to one already enabled would repeat that enable exactly.
bool EnabledBefore(const Devmode& merged) {
    return fuzzsupport::SeenBefore(
        std::string_view(reinterpret_cast<const char*>(&merged), sizeof merged));
}

// Each seed merged alone (selector 1); the default and the custom paper
// also enabling a device (selector 0).
// After validation the enable gives source 700 the device mode's own cut and
// feed masks.
void TakeCustomMasks(Devmode* devmode) {
    if (devmode->pub.dmDefaultSource != 700) return;
    devmode->priv.cutMask = devmode->priv.customCutMask;
    devmode->priv.feedMask = devmode->priv.customFeedMask;
}

void WriteSeed(const std::string& name, const Devmode& mode) {
    const bool enable = name == "default" || name == "custom-paper-copies";
    for (BYTE selector : {0, 1}) {
        if (selector == 0 && !enable) continue;
        std::vector<std::uint8_t> seed{selector};
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(&mode);
        seed.insert(seed.end(), bytes, bytes + mode.pub.dmSize + mode.pub.dmDriverExtra);
        fuzzsupport::WriteSeed(name + (selector == 0 ? "-enable" : "-merge"), seed.data(),
                               seed.size());
    }
}

// Seeds: the printer's own default device mode, and the variants an
// application makes of it (depths, orientation and rotation, the custom
// paper, copies, a public part alone).
void WriteSeeds() {
    auto device = Enable(nullptr);
    if (!device) std::abort();
    const Devmode defaults = Instance(*device).devmode;
    WriteSeed("default", defaults);
    for (int bits : {8, 24}) {
        Devmode mode = defaults;
        mode.pub.dmFields |= DM_DITHERTYPE;
        mode.pub.dmDitherType = bits == 24 ? 5 : 260;
        WriteSeed("depth" + std::to_string(bits), mode);
    }
    Devmode landscape = defaults;
    landscape.pub.dmFields |= DM_ORIENTATION;
    landscape.pub.dmOrientation = DMORIENT_LANDSCAPE;
    landscape.priv.rotation = 180;
    WriteSeed("landscape-rotated", landscape);
    Devmode custom = defaults;
    custom.pub.dmFields = (custom.pub.dmFields | DM_PAPERSIZE) & ~DM_FORMNAME;
    custom.pub.dmPaperSize = 700;
    custom.pub.dmCopies = 3;
    custom.pub.dmCollate = 1;
    WriteSeed("custom-paper-copies", custom);
    Devmode publicOnly = defaults;
    publicOnly.pub.dmDriverExtra = 0;
    WriteSeed("public-only", publicOnly);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    Setup();
    fuzzsupport::WriteSeedsIfAsked(WriteSeeds);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    const bool enable = data[0] == 0;
    std::vector<BYTE> bytes(data + 1, data + size);
    bytes.resize(std::max(bytes.size(), offsetof(DEVMODEW, dmDriverExtra) + sizeof(WORD)), 0);
    const auto* declared = reinterpret_cast<const DEVMODEW*>(bytes.data());
    const std::size_t declaredSize = std::size_t{declared->dmSize} + declared->dmDriverExtra;
    bytes.resize(std::max(bytes.size(), declaredSize), 0);
    Fixture& f = Setup();
    Devmode merged{};
    // The enable merges what the engine hands it, the declared bytes.
    MergeDevmode(*f.config, *f.settings, f.papers, f.defaults, bytes.data(),
                 enable ? declaredSize : bytes.size(), &merged);
    Devmode again = merged;
    ValidateDevmode(*f.config, *f.settings, f.papers, &again);
    if (std::memcmp(&again, &merged, sizeof again) != 0) std::abort();
    if (!enable || EnabledBefore(merged)) return 0;

    auto device = Enable(reinterpret_cast<const DEVMODEW*>(bytes.data()));
    if (!device) return 0;
    const DeviceInstance& instance = Instance(*device);
    // The device took the merged device mode, with the custom masks.
    TakeCustomMasks(&merged);
    if (std::memcmp(&merged, &instance.devmode, sizeof merged) != 0) std::abort();
    again = instance.devmode;
    ValidateDevmode(*f.config, instance.printerData, instance.customPapers, &again);
    TakeCustomMasks(&again);
    if (std::memcmp(&again, &instance.devmode, sizeof again) != 0) std::abort();
    const GDIINFO& gdi = device->gdiInfo();
    if (gdi.ulHorzRes == 0 || gdi.ulVertRes == 0) std::abort();
    return 0;
}
