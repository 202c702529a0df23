#include "barcode/barcode_raster.h"

#include <zint.h>

#include <algorithm>
#include <cstring>
#include <memory>

namespace qlprbrcd {

MonoImage::MonoImage(DWORD width, DWORD height)
    : width_(width), height_(height), bits_(static_cast<std::size_t>(height) * ((width + 7) / 8)) {}

std::span<const BYTE> MonoImage::Row(DWORD y) const {
    return std::span<const BYTE>(bits_).subspan(static_cast<std::size_t>(y) * stride(), stride());
}

std::span<BYTE> MonoImage::Row(DWORD y) {
    return std::span<BYTE>(bits_).subspan(static_cast<std::size_t>(y) * stride(), stride());
}

bool MonoImage::RowBlank(DWORD y) const {
    const std::span<const BYTE> row = Row(y);
    return std::all_of(row.begin(), row.end(), [](BYTE b) { return b == 0; });
}

namespace {

struct SymbolDeleter {
    void operator()(zint_symbol* symbol) const { ZBarcode_Delete(symbol); }
};
using SymbolPtr = std::unique_ptr<zint_symbol, SymbolDeleter>;

// Height given to the encoder for a linear code's bars. Its raster only
// serves for one row of bars and the text band under them; the bars are then
// drawn barHeight rows high here, since the encoder's own heights are
// fractional X-dimensions with a minimum of half a module.
constexpr float kNominalBarModules = 10.0f;

// PDF417 width in modules for `columns` data columns: start pattern, left
// and right row indicators, the columns, stop pattern.
constexpr DWORD Pdf417Modules(DWORD columns) {
    return 17 * columns + 69;
}
constexpr int kPdf417MaxColumns = 30;

// The encoder's raster scale gives 2 pixels per module at scale 1, so a
// module of m dots is scale m / 2. No quiet zones and no whitespace: the
// printer draws none either, and the driver places the image at the text
// position. Data is taken as bytes (no character set conversion).
SymbolPtr MakeSymbol(const SymbolOrder& order) {
    SymbolPtr symbol(ZBarcode_Create());
    if (!symbol) return nullptr;
    symbol->symbology = order.zintSymbology;
    symbol->scale = static_cast<float>(order.module) / 2.0f;
    symbol->input_mode = DATA_MODE;
    symbol->whitespace_width = 0;
    symbol->whitespace_height = 0;
    symbol->border_width = 0;
    symbol->output_options = BARCODE_NO_QUIET_ZONES;
    std::strcpy(symbol->fgcolour, "000000");
    std::strcpy(symbol->bgcolour, "ffffff");
    if (order.linear) {
        symbol->height = kNominalBarModules;
        // Guard bars of EAN and UPC end with the other bars, so that every
        // row of bars is alike and the text band lies wholly under them.
        symbol->guard_descent = 0.0f;
        symbol->show_hrt = order.textPosition == TextPosition::kNone ? 0 : 1;
        if (order.smallText) symbol->output_options |= SMALL_TEXT;
    } else {
        symbol->show_hrt = 0;
    }
    return symbol;
}

bool Encode(zint_symbol* symbol, const std::string& text) {
    if (text.empty() || text.size() > 0x7FFF) return false;
    const int result = ZBarcode_Encode(symbol, reinterpret_cast<const unsigned char*>(text.data()),
                                       static_cast<int>(text.size()));
    return result < ZINT_ERROR && symbol->width > 0;
}

// The encoder's RGB raster as bars (dark pixels) and spaces.
std::optional<MonoImage> Rasterize(zint_symbol* symbol) {
    if (ZBarcode_Buffer(symbol, 0) >= ZINT_ERROR) return std::nullopt;
    if (symbol->bitmap == nullptr || symbol->bitmap_width <= 0 || symbol->bitmap_height <= 0) {
        return std::nullopt;
    }
    const auto width = static_cast<DWORD>(symbol->bitmap_width);
    const auto height = static_cast<DWORD>(symbol->bitmap_height);
    MonoImage image(width, height);
    const unsigned char* pixel = symbol->bitmap;
    for (DWORD y = 0; y < height; ++y) {
        // Eight pixels a byte, the leftmost in the high bit.
        const std::span<BYTE> row = image.Row(y);
        for (DWORD x = 0; x < width; x += 8) {
            const DWORD count = std::min<DWORD>(8, width - x);
            unsigned bits = 0;
            for (DWORD bit = 0; bit < count; ++bit, pixel += 3) {
                const unsigned luminance = pixel[0] + pixel[1] + pixel[2];
                bits |= static_cast<unsigned>(luminance < 3 * 128) << (7 - bit);
            }
            row[x / 8] = static_cast<BYTE>(bits);
        }
    }
    return image;
}

void CopyRow(const MonoImage& from, DWORD fromRow, MonoImage& to, DWORD toRow) {
    const std::span<const BYTE> source = from.Row(fromRow);
    std::copy(source.begin(), source.end(), to.Row(toRow).begin());
}

// A linear code: one row of the encoder's bars repeated barHeight times, and
// the encoder's text band placed as asked. The band as the encoder draws it
// begins with the gap that parts it from the bars; above the bars that gap
// goes under the text instead.
std::optional<MonoImage> DrawLinear(const SymbolOrder& order) {
    SymbolPtr symbol = MakeSymbol(order);
    if (!symbol || !Encode(symbol.get(), order.text)) return std::nullopt;
    std::optional<MonoImage> raster = Rasterize(symbol.get());
    if (!raster || raster->RowBlank(0)) return std::nullopt;

    DWORD barRows = 1;
    while (barRows < raster->height() && std::ranges::equal(raster->Row(barRows), raster->Row(0))) {
        ++barRows;
    }
    const DWORD bandRows =
        order.textPosition == TextPosition::kNone ? 0 : raster->height() - barRows;
    DWORD gapRows = 0;
    while (gapRows < bandRows && raster->RowBlank(barRows + gapRows)) ++gapRows;

    const bool above =
        order.textPosition == TextPosition::kAbove || order.textPosition == TextPosition::kBoth;
    const bool below =
        order.textPosition == TextPosition::kBelow || order.textPosition == TextPosition::kBoth;
    MonoImage image(raster->width(),
                    order.barHeight + (above ? bandRows : 0) + (below ? bandRows : 0));
    DWORD row = 0;
    if (above) {
        for (DWORD y = barRows + gapRows; y < barRows + bandRows; ++y)
            CopyRow(*raster, y, image, row++);
        row += gapRows;  // blank rows
    }
    for (DWORD y = 0; y < order.barHeight; ++y) CopyRow(*raster, 0, image, row++);
    if (below) {
        for (DWORD y = barRows; y < barRows + bandRows; ++y) CopyRow(*raster, y, image, row++);
    }
    return image;
}

// A two-dimensional code as the encoder draws it. A PDF417 symbol wider than
// maxWidth is encoded again with as many data columns as fit (at least one).
std::optional<MonoImage> DrawMatrix(const SymbolOrder& order) {
    SymbolPtr symbol = MakeSymbol(order);
    if (!symbol || !Encode(symbol.get(), order.text)) return std::nullopt;
    if (order.zintSymbology == BARCODE_PDF417 &&
        static_cast<DWORD>(symbol->width) * order.module > order.maxWidth) {
        const DWORD fitting = order.maxWidth / order.module;
        int columns = 1;
        while (columns < kPdf417MaxColumns &&
               Pdf417Modules(static_cast<DWORD>(columns) + 1) <= fitting) {
            ++columns;
        }
        symbol = MakeSymbol(order);
        if (!symbol) return std::nullopt;
        symbol->option_2 = columns;
        if (!Encode(symbol.get(), order.text)) return std::nullopt;
    }
    return Rasterize(symbol.get());
}

}  // namespace

std::optional<MonoImage> DrawSymbol(const SymbolOrder& order) {
    if (order.module == 0) return std::nullopt;
    return order.linear ? DrawLinear(order) : DrawMatrix(order);
}

}  // namespace qlprbrcd
