// Reading back the printer byte stream the command library emits: the
// stream as a list of commands. qlpr decode lists them; the paper layout
// (tools/preview) walks them as the printer would.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace qlpr {

enum class Op : std::uint8_t {
    kInitialize,          // ESC @
    kDefaultLineSpacing,  // ESC 2
    kStandardMode,        // ESC S
    kFeed,                // ESC J n
    kRaster,              // ESC , m nL nH + lines
    kPosition,            // ESC $ nL nH
    kCodeTable,           // ESC t n
    kFont,                // ESC M n
    kBold,                // ESC E n
    kUnderline,           // ESC - n
    kJustify,             // ESC a n
    kDrawerKick,          // ESC p m t1 t2
    kSize,                // GS ! n
    kModuleWidth,         // GS w n
    kBarHeight,           // GS h n
    kTextPosition,        // GS H n
    kTextFont,            // GS f n
    kBarcode,             // GS k m L + data
    kPrintImage,          // GS / m
    kCut,                 // GS V m [n]
    kSymbolKind,          // US 6 ' n FF
    kSelectImage,         // US 0 n
    kPaperMode,           // US ` n
    kSide,                // US a n
    kSheetEnd,            // US b
    kTab,                 // HT
    kLineFeed,            // LF
    kCarriageReturn,      // CR
    kText,                // a run of printable bytes
    kUnknown,             // bytes that start no command
    kTruncated,           // a command cut off by the end of the stream
};

struct StreamCommand {
    std::size_t offset = 0;  // of the command's first byte
    std::size_t size = 0;    // bytes of the command including its data
    Op op = Op::kUnknown;
    std::string mnemonic;   // "ESC J", "GS k", "TEXT", "UNKNOWN", ...
    std::vector<int> args;  // the parameter bytes (ESC $ and ESC , give nL + 256 nH as one)
    // Raster lines, symbol data, text bytes, or the unknown / truncated bytes.
    std::span<const unsigned char> data;
};

struct DecodeOptions {
    int lineBytes = 72;  // bytes of one sent raster line, pads included
};

inline constexpr int kMaxLineBytes = 4096;
// GS k m: the symbol number of the 2D codes (QR code or PDF417).
inline constexpr int kTwoDimensionalSymbol = 75;

struct DecodedStream {
    std::vector<StreamCommand> commands;
    std::size_t unknownBytes = 0;  // bytes of unknown and truncated commands
};

// The commands of a stream. The result's spans point into `stream`.
// lineBytes must lie in 1 .. kMaxLineBytes.
DecodedStream DecodeStream(std::span<const unsigned char> stream, const DecodeOptions& options);

// Rows and planes of a raster block (ESC , m nL nH): m = 2 sends two planes,
// the plane-2 line before the plane-1 line of every row.
int RasterPlanes(const StreamCommand& raster);
int RasterRows(const StreamCommand& raster);

// The sent line `line` of a raster block as row bytes in paper order:
// most significant bit leftmost, 1 = dot, the left pad dropped. The stream
// sends each 16-bit unit (b0, b1) of a row as ~b1, ~b0.
std::vector<unsigned char> UnpackRasterLine(std::span<const unsigned char> line, int leftPad);

// A whole decimal number from min to max, for options like --line-bytes.
std::optional<int> ParseNumber(const std::string& text, int min, int max);

}  // namespace qlpr
