// The compiled form of the driver's INI data file (`PrinterDataObj`) and its
// cache file beside the data file.
//
// The block: a 24-byte header (0xCCCCCCCC, total size, 1, status, section
// count, first section), sections of six words (next, name, id | entry count
// << 16, default index, first entry, 0) in keyword order, entries (next,
// name, then the keyword's record), names as zero-terminated UTF-16, and
// 0xCCCCCCCC as the last four bytes. Offsets are relative to the block's
// start, in the file and in memory alike: every offset is checked once when
// the block is loaded and is only turned into an address through the checked
// accessors below.
#pragma once

#include <array>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/types.h"

enum class Keyword : WORD {
    driver = 1,
    device = 2,
    paperX = 3,
    paperY = 4,
    scaling = 5,
    paper = 6,
    pixel = 7,
    resolution = 8,
    source = 9,
    dither = 10,
    wm_pos = 11,
    barcode = 12,
    font = 13,
    substfont = 14,
    logsize = 15,
    printermodel = 16,
    fontsize = 17,
    dualside = 18,
    responsecmd = 19,
};

inline constexpr int kKeywordCount = 19;
inline constexpr int kMaxFields = 17;
inline constexpr DWORD kConfigMarker = 0xCCCCCCCC;
inline constexpr DWORD kConfigStatusJustBuilt = 0x1;

// One entry with its fields by the keyword's field numbers ([0], [1], ...);
// fields a record does not keep read as 0. A paper's [15] and [16] are its
// two flag bits (0 or 1).
struct ConfigEntry {
    std::u16string name;
    std::array<LONG, kMaxFields> field{};
    const BYTE* record = nullptr;  // the entry as stored (header included)
    DWORD recordSize = 0;
};

class PrinterDataObj {
  public:
    // Checks a block (sizes, markers, every offset, name and record inside
    // it, no loops) and keeps it; none when anything is out of place.
    static std::unique_ptr<PrinterDataObj> FromBlock(std::vector<BYTE> block);

    const std::vector<BYTE>& block() const { return block_; }
    DWORD configVersion() const;  // the header's third word
    bool justBuilt() const;
    int entryCount(Keyword keyword) const;
    // The default index as stored (an index beyond the last entry means 0).
    int defaultIndex(Keyword keyword) const;
    std::optional<ConfigEntry> entry(Keyword keyword, int index) const;
    std::optional<ConfigEntry> defaultEntry(Keyword keyword) const;
    // Every entry of a keyword, in list order.
    std::vector<ConfigEntry> entries(Keyword keyword) const;

  private:
    explicit PrinterDataObj(std::vector<BYTE> block) : block_(std::move(block)) {}
    std::vector<BYTE> block_;
};

// Where the compiler and the cache tell what they passed over or could not
// do without failing: one line at a time in the driver log's style (" ERROR:"
// ... "\n"). Without `write` nothing is told.
struct ConfigLog {
    void (*write)(void* context, const char* line) = nullptr;
    void* context = nullptr;
};

// Compiles the data file into a block; none when it cannot be read or does
// not compile (`error` then says why). Values beyond a keyword's fields are
// passed over, each entry that has them adding a line to `notices`.
std::optional<std::vector<BYTE>> CompileDataFile(const std::filesystem::path& dataFile,
                                                 std::string* error = nullptr,
                                                 std::vector<std::string>* notices = nullptr);
// The cache beside a data file: the file name up to its first dot, then
// ".QCB" (the dot is looked for in the file name only, never in a folder).
std::filesystem::path CacheFileName(const std::filesystem::path& dataFile);

// Opens the compiled configuration of a data file: the cache is rebuilt when
// it is missing, older than the data file, or invalid; then it is mapped,
// checked and copied. When the cache cannot be written the block just
// compiled is used (told to `log` once per process). Null when the data file
// does not compile. The caller holds DriverInfoLock.
PrinterDataObj* OpenPrinterDataObj(LPCWSTR dataFile, ConfigLog log = {});
void ClosePrinterDataObj(PrinterDataObj* config);
// For tests only: lets the cache failure be told again.
void ResetCacheFailureNoticeForTesting();
