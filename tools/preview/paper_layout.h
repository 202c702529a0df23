// The paper a printer byte stream prints: where every raster row, text
// line, symbol, stored image, cut and margin mark lands, and the printed
// pages as dot images. qlpr preview draws it, and the end-to-end tests use
// it to see what a job printed. Symbols are drawn by libzint.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "tools/stream_decoder.h"

namespace qlpr {

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

// The width and height DrawSymbol gives the same symbol, without drawing
// its bars: all the layout needs.
struct SymbolSize {
    int width = 0;
    int height = 0;
};
std::optional<SymbolSize> MeasureSymbol(int m, std::span<const unsigned char> data,
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
    int codeTable = 0;  // ESC t n: 0 PC437, 2 PC850
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

}  // namespace qlpr
