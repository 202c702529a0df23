#include "tools/preview/paper_layout.h"

#include <zint.h>

#include <algorithm>
#include <array>
#include <memory>

namespace qlpr {

// ---------------------------------------------------------------- symbols

namespace {

struct SymbolDeleter {
    void operator()(zint_symbol* symbol) const { ZBarcode_Delete(symbol); }
};
using SymbolPtr = std::unique_ptr<zint_symbol, SymbolDeleter>;

constexpr int kMaxModuleWidth = 8;

int ZintSymbology(int m, const SymbolSettings& settings) {
    switch (m) {
        case 65:
            return BARCODE_UPCA;
        case 66:
            return BARCODE_UPCE;
        case 67:
        case 68:
            return BARCODE_EANX;  // EAN-13 or EAN-8 by the number of digits
        case 69:
            return BARCODE_CODE39;
        case 70:
            return BARCODE_C25INTER;
        case 71:
            return BARCODE_CODABAR;
        case 72:
            return BARCODE_CODE93;
        case 73:
            return BARCODE_CODE128;
        case kTwoDimensionalSymbol:
            return settings.twoDimensionalKind == 0 ? BARCODE_QRCODE : BARCODE_PDF417;
        default:
            return 0;
    }
}

// Only the first row of a linear code's bitmap is read, so the encoder
// draws these one module tall instead of its default 50 (the same widths and
// bars): for a long code at a wide module that saves megabytes per symbol.
// Not EAN and UPC: libzint 2.11 overruns its bitmap drawing their add-ons
// that short, and they are never long.
constexpr std::array kOneModuleTall = {BARCODE_CODE39, BARCODE_C25INTER, BARCODE_CODABAR,
                                       BARCODE_CODE93, BARCODE_CODE128};

// The symbol encoded and rendered by libzint, its bitmap ready; none when
// the encoder refuses the data or m is not a symbol the printer has.
SymbolPtr RenderSymbol(int m, std::span<const unsigned char> data, const SymbolSettings& settings) {
    const int symbology = ZintSymbology(m, settings);
    if (symbology == 0 || data.empty()) return nullptr;
    SymbolPtr symbol(ZBarcode_Create());
    if (!symbol) return nullptr;
    const int module = std::clamp(settings.moduleWidth, 1, kMaxModuleWidth);
    symbol->symbology = symbology;
    // The encoder draws 2 pixels per module at scale 1.
    symbol->scale = static_cast<float>(module) / 2.0f;
    symbol->input_mode = DATA_MODE;
    symbol->output_options = BARCODE_NO_QUIET_ZONES;
    symbol->show_hrt = 0;
    if (m != kTwoDimensionalSymbol) symbol->guard_descent = 0.0f;
    if (std::find(kOneModuleTall.begin(), kOneModuleTall.end(), symbology) != kOneModuleTall.end())
        symbol->height = 1.0f;
    if (ZBarcode_Encode(symbol.get(), data.data(), static_cast<int>(data.size())) >= ZINT_ERROR ||
        ZBarcode_Buffer(symbol.get(), 0) >= ZINT_ERROR || symbol->bitmap == nullptr ||
        symbol->bitmap_width <= 0 || symbol->bitmap_height <= 0) {
        return nullptr;
    }
    return symbol;
}

// A linear code is as tall as its bar height, a 2D code as its image.
SymbolSize SizeOf(int m, const zint_symbol& symbol, const SymbolSettings& settings) {
    const bool linear = m != kTwoDimensionalSymbol;
    return {symbol.bitmap_width, linear ? std::max(settings.barHeight, 1) : symbol.bitmap_height};
}

}  // namespace

std::optional<SymbolImage> DrawSymbol(int m, std::span<const unsigned char> data,
                                      const SymbolSettings& settings) {
    const SymbolPtr symbol = RenderSymbol(m, data, settings);
    if (!symbol) return std::nullopt;
    const SymbolSize size = SizeOf(m, *symbol, settings);
    const bool linear = m != kTwoDimensionalSymbol;
    SymbolImage image;
    image.width = size.width;
    image.height = size.height;
    image.bars.resize(static_cast<std::size_t>(image.width) * image.height);
    for (int y = 0; y < image.height; ++y) {
        // A linear code's bars are the same on every row: its first row is
        // repeated to the bar height.
        const int sourceRow = linear ? 0 : y;
        const unsigned char* pixel =
            symbol->bitmap + static_cast<std::size_t>(sourceRow) * image.width * 3;
        for (int x = 0; x < image.width; ++x, pixel += 3) {
            const int luminance = pixel[0] + pixel[1] + pixel[2];
            image.bars[static_cast<std::size_t>(y) * image.width + x] = luminance < 3 * 128;
        }
    }
    return image;
}

std::optional<SymbolSize> MeasureSymbol(int m, std::span<const unsigned char> data,
                                        const SymbolSettings& settings) {
    const SymbolPtr symbol = RenderSymbol(m, data, settings);
    if (!symbol) return std::nullopt;
    return SizeOf(m, *symbol, settings);
}

FontCell CellOf(int font) {
    return font == 1 ? FontCell{9, 17} : FontCell{12, 24};
}

// ---------------------------------------------------------------- paper

namespace {

constexpr int kDefaultLineSpacing = 30;  // dots, ESC 2
constexpr long long kMaxDots = 1 << 28;
constexpr int kTabColumns = 8;
// A stored image lives in the printer; the preview knows only its number and
// shows it as a box of this size (doubled across and down by GS / 3).
constexpr int kStoredImageWidth = 192;
constexpr int kStoredImageHeight = 96;

struct TextState {
    int font = 0;
    int widthFactor = 1;
    int heightFactor = 1;
    bool bold = false;
    bool underline = false;
    int justification = 0;  // 0 left, 1 centre, 2 right
    int codeTable = 0;      // ESC t n
    int selectedImage = 0;
    SymbolSettings symbol;
};

class PaperWalker {
  public:
    explicit PaperWalker(const PaperOptions& options) {
        layout_.widthDots = std::max(options.lineBytes - options.leftPad, 0) * 8;
        layout_.leftPad = options.leftPad;
    }

    PaperLayout Run(const DecodedStream& stream) {
        for (const StreamCommand& command : stream.commands) Apply(command);
        PrintLine();
        layout_.lengthRows = y_;
        return std::move(layout_);
    }

  private:
    void Apply(const StreamCommand& command) {
        const int arg0 = command.args.empty() ? 0 : command.args[0];
        switch (command.op) {
            case Op::kInitialize:
                PrintLine();
                state_ = TextState{};
                x_ = 0;
                break;
            case Op::kFeed:
                PrintLine();
                Advance(arg0);
                break;
            case Op::kLineFeed: {
                const int printed = PrintLine();
                Advance(std::max(kDefaultLineSpacing - printed, 0));
                break;
            }
            case Op::kRaster:
                Raster(command);
                break;
            case Op::kPosition:
                x_ = arg0;
                break;
            case Op::kTab: {
                const int step = kTabColumns * CellOf(state_.font).width * state_.widthFactor;
                x_ = (x_ / step + 1) * step;
                break;
            }
            case Op::kFont:
                state_.font = arg0 & 1;
                break;
            case Op::kCodeTable:
                state_.codeTable = arg0;
                break;
            case Op::kSize:
                // GS ! n: width factor in the high nibble, height in the low.
                state_.widthFactor = ((arg0 >> 4) & 7) + 1;
                state_.heightFactor = (arg0 & 7) + 1;
                break;
            case Op::kBold:
                state_.bold = (arg0 & 1) != 0;
                break;
            case Op::kUnderline:
                state_.underline = arg0 != 0;
                break;
            case Op::kJustify:
                state_.justification = std::clamp(arg0, 0, 2);
                break;
            case Op::kModuleWidth:
                state_.symbol.moduleWidth = arg0;
                break;
            case Op::kBarHeight:
                state_.symbol.barHeight = arg0;
                break;
            case Op::kTextPosition:
                state_.symbol.textPosition = arg0 & 3;
                break;
            case Op::kTextFont:
                state_.symbol.textFont = arg0 & 1;
                break;
            case Op::kSymbolKind:
                state_.symbol.twoDimensionalKind = arg0;
                break;
            case Op::kText:
                Text(command);
                break;
            case Op::kBarcode:
                Symbol(command);
                break;
            case Op::kSelectImage:
                state_.selectedImage = arg0;
                break;
            case Op::kPrintImage:
                StoredImage(command, arg0);
                break;
            case Op::kCut:
                Cut(command, arg0);
                break;
            case Op::kDrawerKick:
                Mark(command, "drawer " + std::to_string(arg0 + 1));
                break;
            case Op::kPaperMode:
                Mark(command, "mode " + std::to_string(arg0));
                break;
            case Op::kSide:
                Mark(command, "side " + std::to_string(arg0 + 1));
                break;
            case Op::kSheetEnd:
                Mark(command, "sheet end");
                break;
            default:
                break;  // ESC 2, ESC S, CR and unknown bytes move nothing
        }
    }

    // Prints the line buffer: its items go to the paper at the current row,
    // the paper moves by the tallest of them. Returns that height.
    int PrintLine() {
        int height = 0;
        int right = 0;
        for (const PaperItem& item : line_) {
            height = std::max(height, item.height);
            right = std::max(right, item.x + item.width);
        }
        const int shift = JustifyShift(right);
        for (PaperItem& item : line_) {
            item.x += shift;
            item.y = y_;
            layout_.items.push_back(std::move(item));
        }
        line_.clear();
        Advance(height);
        x_ = 0;
        return height;
    }

    // Rows and positions stop growing at kMaxDots, far beyond any paper,
    // so that no stream can make them overflow.
    void Advance(int rows) {
        y_ = static_cast<int>(std::min<long long>(y_ + 0LL + rows, kMaxDots));
    }

    static int Capped(long long dots) {
        return static_cast<int>(std::min<long long>(dots, kMaxDots));
    }

    int JustifyShift(int lineRight) const {
        const int room = std::max(layout_.widthDots - lineRight, 0);
        if (state_.justification == 1) return room / 2;
        if (state_.justification == 2) return room;
        return 0;
    }

    void Raster(const StreamCommand& command) {
        PrintLine();
        const int planes = RasterPlanes(command);
        const int rows = RasterRows(command);
        if (rows == 0) return;
        // The decoder sized the block, so its rows split it evenly.
        const std::size_t rowBytes = command.data.size() / static_cast<std::size_t>(rows);
        for (int row = 0; row < rows; ++row) {
            PaperItem item;
            item.kind = PaperItemKind::kRasterRow;
            item.y = y_;
            Advance(1);
            item.width = layout_.widthDots;
            item.height = 1;
            item.offset = command.offset;
            item.data = command.data.subspan(row * rowBytes, rowBytes);
            item.planes = planes;
            layout_.items.push_back(std::move(item));
        }
    }

    void Text(const StreamCommand& command) {
        const FontCell cell = CellOf(state_.font);
        PaperItem item;
        item.kind = PaperItemKind::kText;
        item.x = x_;
        item.width =
            Capped(static_cast<long long>(command.data.size()) * cell.width * state_.widthFactor);
        item.height = cell.height * state_.heightFactor;
        item.offset = command.offset;
        item.data = command.data;
        item.font = state_.font;
        item.widthFactor = state_.widthFactor;
        item.heightFactor = state_.heightFactor;
        item.bold = state_.bold;
        item.underline = state_.underline;
        item.codeTable = state_.codeTable;
        x_ = Capped(x_ + 0LL + item.width);
        line_.push_back(std::move(item));
    }

    void Symbol(const StreamCommand& command) {
        PaperItem item;
        item.kind = PaperItemKind::kSymbol;
        item.x = x_;
        item.offset = command.offset;
        item.data = command.data;
        item.symbolCode = command.args[0];
        item.symbol = state_.symbol;
        const std::optional<SymbolSize> size =
            MeasureSymbol(command.args[0], command.data, state_.symbol);
        const bool linear = command.args[0] != kTwoDimensionalSymbol;
        if (size) {
            item.width = size->width;
            item.height = size->height;
        } else {
            // An undrawable symbol keeps its place as a box.
            item.width = std::max(static_cast<int>(command.data.size()), 1) * 11 *
                         std::clamp(state_.symbol.moduleWidth, 1, kMaxModuleWidth);  // <= 255 bytes
            item.height = linear ? std::max(state_.symbol.barHeight, 1) : item.width;
        }
        if (linear) {
            const int textRows = CellOf(state_.symbol.textFont).height;
            const int position = state_.symbol.textPosition;
            item.height += (position == 1 || position == 2) ? textRows : 0;
            item.height += position == 3 ? 2 * textRows : 0;
        }
        x_ = Capped(x_ + 0LL + item.width);
        line_.push_back(std::move(item));
    }

    void StoredImage(const StreamCommand& command, int m) {
        PrintLine();
        PaperItem item;
        item.kind = PaperItemKind::kStoredImage;
        item.y = y_;
        item.width = kStoredImageWidth * ((m & 1) != 0 ? 2 : 1);
        item.height = kStoredImageHeight * ((m & 2) != 0 ? 2 : 1);
        item.offset = command.offset;
        item.image = state_.selectedImage;
        Advance(item.height);
        layout_.items.push_back(std::move(item));
    }

    // GS V 1 (and '1') cuts partially; GS V 0, '0', A n and B n cut fully.
    // The feed of GS V A/B to the cutter is the printer's own distance and
    // is not drawn.
    void Cut(const StreamCommand& command, int m) {
        PrintLine();
        PaperItem item;
        item.kind = PaperItemKind::kCut;
        item.y = y_;
        item.width = layout_.widthDots;
        item.offset = command.offset;
        item.partialCut = m == 1 || m == '1';
        layout_.items.push_back(std::move(item));
    }

    void Mark(const StreamCommand& command, std::string label) {
        PaperItem item;
        item.kind = PaperItemKind::kMark;
        item.y = y_;
        item.offset = command.offset;
        item.label = std::move(label);
        layout_.items.push_back(std::move(item));
    }

    PaperLayout layout_;
    std::vector<PaperItem> line_;
    TextState state_;
    int x_ = 0;
    int y_ = 0;
};

PrintedPage EmptyPage(int width, int height) {
    PrintedPage page;
    page.width = width;
    page.height = height;
    page.stride = (width + 7) / 8;
    const std::size_t bytes = static_cast<std::size_t>(page.stride) * height;
    page.plane1.assign(bytes, 0);
    page.plane2.assign(bytes, 0);
    return page;
}

void CopyRow(const std::vector<unsigned char>& row, std::vector<unsigned char>* plane,
             const PrintedPage& page, int y) {
    const std::size_t count = std::min(row.size(), static_cast<std::size_t>(page.stride));
    std::copy_n(row.begin(), count, plane->begin() + static_cast<std::ptrdiff_t>(y) * page.stride);
}

}  // namespace

PaperLayout LayOutPaper(const DecodedStream& stream, const PaperOptions& options) {
    return PaperWalker(options).Run(stream);
}

bool PrintedPage::Dot(int plane, int x, int y) const {
    if (x < 0 || y < 0 || x >= width || y >= height) return false;
    const std::vector<unsigned char>& bits = plane == 2 ? plane2 : plane1;
    return (bits[static_cast<std::size_t>(y) * stride + x / 8] & (0x80 >> (x % 8))) != 0;
}

std::vector<PrintedPage> PrintedPages(const PaperLayout& layout) {
    // A cut ends a page unless nothing moved the paper since the previous
    // one, so that repeated cuts give no empty pages. The paper after the
    // last cut is a page when it has any length.
    std::vector<PrintedPage> pages;
    int start = 0;
    auto endPage = [&](int end, const PaperItem* cut) {
        PrintedPage page = EmptyPage(layout.widthDots, end - start);
        page.endsInCut = cut != nullptr;
        page.partialCut = cut != nullptr && cut->partialCut;
        pages.push_back(std::move(page));
        start = end;
    };
    for (const PaperItem& item : layout.items) {
        if (item.kind == PaperItemKind::kCut && item.y > start) endPage(item.y, &item);
    }
    if (layout.lengthRows > start) endPage(layout.lengthRows, nullptr);

    // Items come in paper order, so the pages fill in one pass.
    std::size_t pageIndex = 0;
    int pageStart = 0;
    for (const PaperItem& item : layout.items) {
        if (item.kind != PaperItemKind::kRasterRow) continue;
        while (pageIndex < pages.size() && item.y >= pageStart + pages[pageIndex].height) {
            pageStart += pages[pageIndex++].height;
        }
        if (pageIndex == pages.size()) break;
        PrintedPage& page = pages[pageIndex];
        const std::size_t lineBytes = item.data.size() / item.planes;
        const int y = item.y - pageStart;
        CopyRow(UnpackRasterLine(item.data.last(lineBytes), layout.leftPad), &page.plane1, page, y);
        if (item.planes == 2) {
            CopyRow(UnpackRasterLine(item.data.first(lineBytes), layout.leftPad), &page.plane2,
                    page, y);
            page.twoPlanes = true;
        }
    }
    return pages;
}

std::vector<PrintedPage> PrintedPages(std::span<const unsigned char> stream,
                                      const PaperOptions& options) {
    const DecodedStream decoded = DecodeStream(stream, DecodeOptions{options.lineBytes});
    return PrintedPages(LayOutPaper(decoded, options));
}

}  // namespace qlpr
