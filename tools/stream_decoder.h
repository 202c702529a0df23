// Reading back the printer byte stream the command library emits: the
// stream as a list of commands, the paper those commands print (where every
// raster row, text line, symbol, stored image, cut and margin mark lands),
// and the printed pages as dot images. qlpr decode and qlpr preview are
// built on it, and the end-to-end tests use it to see what a job printed.
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

// A symbol as the preview draws it: one byte per module pixel, 1 = bar.
struct SymbolImage {
    int width = 0;
    int height = 0;
    std::vector<unsigned char> bars;
};

enum class SymbolType : std::uint8_t { kLinear, kTwoDimensional, kUndrawable };

// The barcode settings in force for a GS k command.
struct SymbolSettings {
    int moduleWidth = 3;
    int barHeight = 162;
    int textPosition = 0;        // 0 none, 1 above, 2 below, 3 both
    int textFont = 0;            // 0 font A, 1 font B
    int twoDimensionalKind = 0;  // US 6 ' n: 0 QR code, otherwise PDF417
};

// Draws the GS k symbol m with these bytes by libzint: a linear code as one
// row of bars (barHeight tall, human-readable text left to the caller), a
// 2D code as its full image. None when the encoder refuses the data or m is
// not a symbol the printer has.
std::optional<SymbolImage> DrawSymbol(int m, std::span<const unsigned char> data,
                                      const SymbolSettings& settings);

// Printer font cells in dots: font A 12 x 24, font B 9 x 17.
struct FontCell {
    int width;
    int height;
};
FontCell CellOf(int font);

// What lands on the paper, in paper order.
enum class PaperItemKind : std::uint8_t {
    kRasterRow,    // one dot row of a raster block
    kText,         // printer-font text
    kSymbol,       // a barcode or 2D code
    kStoredImage,  // GS / of the image selected by US 0
    kCut,
    kMark,  // a drawer kick or side selection, noted in the margin
};

struct PaperItem {
    PaperItemKind kind = PaperItemKind::kMark;
    int x = 0;               // dots from the left edge of the printable line
    int y = 0;               // dot row of the item's top
    int width = 0;           // dots
    int height = 0;          // dots
    std::size_t offset = 0;  // of the command in the stream
    // kRasterRow: the row's sent lines (plane 2 first when there are two);
    // kText, kSymbol: the bytes.
    std::span<const unsigned char> data;
    int planes = 1;      // kRasterRow
    int symbolCode = 0;  // kSymbol: GS k m
    // kText
    int font = 0;  // 0 font A, 1 font B
    int widthFactor = 1;
    int heightFactor = 1;
    bool bold = false;
    bool underline = false;
    // kSymbol
    SymbolSettings symbol;
    // kCut: partial; kStoredImage: the image number; kMark: the label.
    bool partialCut = false;
    int image = 0;
    std::string label;
};

struct PaperOptions {
    int lineBytes = 72;
    int leftPad = 0;  // bytes; must be below lineBytes
};

struct PaperLayout {
    int widthDots = 0;   // (lineBytes - leftPad) * 8
    int leftPad = 0;     // bytes dropped from each raster line
    int lengthRows = 0;  // rows of paper from the first to the last movement
    std::vector<PaperItem> items;
};

// Walks the commands as the printer would. Text, symbols and stored images
// collect in the line buffer at the horizontal position; the line is printed
// (and the paper moves by its tallest item) by ESC J, LF, a raster block, a
// cut, GS /, ESC @ and the end of the stream. Each raster row moves one row,
// each ESC J n n rows. The layout's spans point into the stream's bytes.
PaperLayout LayOutPaper(const DecodedStream& stream, const PaperOptions& options);

// A printed page: a dot image per plane, rows in paper order, each row
// stride bytes, most significant bit leftmost, 1 = dot. Only raster dots
// are set; text and symbols take their rows but are left blank.
struct PrintedPage {
    int width = 0;
    int height = 0;
    int stride = 0;
    bool twoPlanes = false;  // a two-plane raster block printed on the page
    std::vector<unsigned char> plane1;
    std::vector<unsigned char> plane2;
    bool endsInCut = false;
    bool partialCut = false;

    bool Dot(int plane, int x, int y) const;
};

// The pages of the paper, split at cuts: a page ends at each cut; the paper
// after the last cut is a page when anything moved it.
std::vector<PrintedPage> PrintedPages(const PaperLayout& layout);
// The same straight from the stream's bytes.
std::vector<PrintedPage> PrintedPages(std::span<const unsigned char> stream,
                                      const PaperOptions& options);

// Reads a whole stream file; none with `error` set when it cannot be read.
std::optional<std::vector<unsigned char>> ReadStreamFile(const std::string& path,
                                                         std::string* error);

// A whole decimal number from min to max, for options like --line-bytes.
std::optional<int> ParseNumber(const std::string& text, int min, int max);

}  // namespace qlpr
