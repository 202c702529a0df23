// Shared set-up of the driver's and command library's harnesses: a private
// store root (registry and printers) on a memory file system when there is
// one, a printer of the spooler stand-in using the example data file and
// writing its jobs to /dev/null, and the driver libraries built beside the
// harness. Everything is made once per process.
#pragma once

#include <dlfcn.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "driver/settings.h"
#include "platform/registry.h"
#include "platform/spooler.h"

namespace fuzzsupport {

inline constexpr char16_t kPrinterName[] = u"Fuzz Receipt";

// The folder of the running harness, where the build puts the libraries too.
inline std::filesystem::path BinDir() {
    return std::filesystem::read_symlink("/proc/self/exe").parent_path();
}

inline std::filesystem::path ExampleDataFile() {
    return std::filesystem::path(QLPR_SOURCE_DIR) / "examples" / "QLPR80.INI";
}

// A scratch folder of this process, removed at exit; QLPR_ROOT and TMPDIR
// point into it so that registry values and page files stay in it.
inline const std::filesystem::path& ScratchRoot() {
    static const std::filesystem::path root = [] {
        const std::filesystem::path base = std::filesystem::is_directory("/dev/shm")
                                               ? std::filesystem::path("/dev/shm")
                                               : std::filesystem::temp_directory_path();
        // Folders of harnesses that ended without their exit handlers (a
        // finding ends the process at once) go first.
        std::error_code ignored;
        for (const auto& entry : std::filesystem::directory_iterator(base, ignored)) {
            const std::string name = entry.path().filename().string();
            if (name.rfind("qlpr-harness-", 0) == 0 &&
                !std::filesystem::exists("/proc/" + name.substr(13), ignored))
                std::filesystem::remove_all(entry.path(), ignored);
        }
        std::filesystem::path made = base / ("qlpr-harness-" + std::to_string(getpid()));
        std::filesystem::remove_all(made);
        std::filesystem::create_directories(made / "tmp");
        std::filesystem::create_directories(made / "log");
        setenv("QLPR_ROOT", made.c_str(), 1);
        setenv("TMPDIR", (made / "tmp").c_str(), 1);
        std::atexit([] {
            std::error_code ignored;
            std::filesystem::remove_all(ScratchRoot(), ignored);
        });
        return made;
    }();
    return root;
}

// The log folder every settings block is pointed at.
inline std::filesystem::path LogFolder() {
    return ScratchRoot() / "log";
}

// The printer, installed with the driver built beside the harness, the
// example data file and /dev/null as its output; its handle stays open.
inline HANDLE Printer() {
    static HANDLE printer = [] {
        const std::filesystem::path root = ScratchRoot();
        std::filesystem::copy_file(ExampleDataFile(), root / "QLPR80.INI",
                                   std::filesystem::copy_options::overwrite_existing);
        platform::PrinterSetup setup{BinDir() / "QLPRGI.DLL", root / "QLPR80.INI", "/dev/null"};
        HANDLE handle = nullptr;
        if (!platform::InstallPrinter(kPrinterName, setup) ||
            !OpenPrinterW(reinterpret_cast<LPCWSTR>(kPrinterName), &handle, nullptr))
            std::abort();
        return handle;
    }();
    return printer;
}

// Stores the printer's one user-defined paper: code 700, 80 mm wide and
// `length` tenths of a millimetre long.
inline void StoreCustomPaper(HANDLE printer, std::u16string_view name, LONG length) {
    CustomPaperRecord paper{};
    std::memcpy(paper.name, name.data(), name.size() * sizeof(WCHAR));
    paper.width = 800;
    paper.length = length;
    paper.code = 700;
    SetPrinterDataW(printer, u"CustomPaper", REG_BINARY, reinterpret_cast<const BYTE*>(&paper),
                    sizeof paper);
}

// The driver's libraries held loaded for the life of the process: the
// driver loads and frees its companions with every device and job, and the
// fuzzer keeps reading the coverage counters of every library it has seen.
inline void PinLibraries() {
    ScratchRoot();  // before any library can reach the registry
    for (const char* name : {"QLPRGI.DLL", "QLPRCMND.DLL", "QLPRBRCD.DLL", "QLPRURES.DLL"})
        if (dlopen((BinDir() / name).c_str(), RTLD_NOW | RTLD_NODELETE) == nullptr) std::abort();
}

// The printer's data file (the copy in the scratch root).
inline std::u16string DataFile() {
    Printer();
    return (ScratchRoot() / "QLPR80.INI").u16string();
}

// Reads a little-endian value of the input and moves past it; zero once the
// input is used up.
template <class T>
T Take(const std::uint8_t*& data, std::size_t& size) {
    T value{};
    const std::size_t n = size < sizeof value ? size : sizeof value;
    std::memcpy(&value, data, n);
    data += n;
    size -= n;
    return value;
}

// The length that leaves a value out (see SplitValues).
inline constexpr WORD kAbsent = 0xFFFF;

template <std::size_t N>
struct Values {
    const BYTE* bytes[N] = {};
    WORD lengths[N] = {};  // kAbsent for a value left out
};

// The values of an input whose header gives their lengths, their bytes
// following one after another: a length past the input's end is cut to
// it, kAbsent takes no bytes.
template <std::size_t N>
Values<N> SplitValues(const WORD (&given)[N], const std::uint8_t* data, std::size_t size) {
    Values<N> values;
    for (std::size_t i = 0; i < N; ++i) {
        values.bytes[i] = data;
        values.lengths[i] = given[i];
        if (given[i] == kAbsent) continue;
        if (given[i] > size) values.lengths[i] = static_cast<WORD>(size);
        data += values.lengths[i];
        size -= values.lengths[i];
    }
    return values;
}

// Whether these bytes were met before, by their hash, in a fixed table of
// one hash a slot (a newer hash takes the slot of an older one). A harness
// skips work whose outcome depends on nothing but bytes it has already
// had. The table allocates nothing per input: libFuzzer takes memory an
// input leaves allocated for a possible leak and runs the input again.
inline bool SeenBefore(std::string_view bytes) {
    static std::vector<std::size_t> seen(std::size_t{1} << 16, 0);
    const std::size_t hash = std::hash<std::string_view>{}(bytes) | 1;  // 0 marks a free slot
    std::size_t& slot = seen[hash % seen.size()];
    if (slot == hash) return true;
    slot = hash;
    return false;
}

// Seeds are made by the harnesses themselves from the project's own code:
// with QLPR_FUZZ_WRITE_SEEDS set to a folder, a harness's initialisation
// writes its seeds there and the process ends.
inline const char* SeedFolder() {
    return std::getenv("QLPR_FUZZ_WRITE_SEEDS");
}

// A harness's initialisation: with the seed folder set, writes the seeds and
// ends the process.
inline void WriteSeedsIfAsked(void (*writeSeeds)()) {
    if (SeedFolder() == nullptr) return;
    writeSeeds();
    std::exit(0);
}

inline void WriteSeed(const std::string& name, const void* bytes, std::size_t size) {
    const std::filesystem::path folder = SeedFolder();
    std::filesystem::create_directories(folder);
    std::ofstream out(folder / name, std::ios::binary | std::ios::trunc);
    out.write(static_cast<const char*>(bytes), static_cast<std::streamsize>(size));
}

template <class T>
void Append(std::vector<std::uint8_t>* out, const T& value) {
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(&value);
    out->insert(out->end(), bytes, bytes + sizeof value);
}

}  // namespace fuzzsupport
