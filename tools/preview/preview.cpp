#include "tools/preview/preview.h"

#include <cairo.h>
#include <dlfcn.h>
#include <iconv.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <memory>
#include <span>

#include "tools/preview/paper_layout.h"

namespace qlpr {
namespace {

// Cairo's image surfaces hold at most this many pixels across and down.
constexpr int kMaxSurfaceSide = 32767;

constexpr char kFontFace[] = "DejaVu Sans Mono";
// Advance of the face's glyphs as a share of its size: the font matrix
// stretches glyphs to the printer's cell width with it.
constexpr double kFaceAdvance = 0.602;
constexpr double kFaceSizeOfCell = 0.9;  // cell height taken by ascent + descent
constexpr double kBaselineOfCell = 0.78;
constexpr int kDashDots = 8;
constexpr int kDashGapDots = 4;
constexpr double kLabelDots = 12.0;

constexpr std::uint32_t kBlackDot = 0xFF000000;
constexpr std::uint32_t kRedDot = 0xFFFF0000;

struct Rgb {
    double r, g, b;
};
constexpr Rgb kBackground{0.82, 0.82, 0.82};
constexpr Rgb kInk{0, 0, 0};
constexpr Rgb kCutColour{0.2, 0.2, 0.8};
constexpr Rgb kMarkColour{0.1, 0.5, 0.1};

struct SurfaceDeleter {
    void operator()(cairo_surface_t* surface) const { cairo_surface_destroy(surface); }
};
struct ContextDeleter {
    void operator()(cairo_t* cr) const { cairo_destroy(cr); }
};
using SurfacePtr = std::unique_ptr<cairo_surface_t, SurfaceDeleter>;
using ContextPtr = std::unique_ptr<cairo_t, ContextDeleter>;

void SetColour(cairo_t* cr, const Rgb& colour) {
    cairo_set_source_rgb(cr, colour.r, colour.g, colour.b);
}

// The upper half of a printer code table as UTF-8, from the C library's
// converter of that code page: ESC t 0 is PC437, ESC t 2 PC850; any other
// table shows as Latin-1.
const std::array<std::string, 128>& UpperHalf(int codeTable) {
    static const auto build = [](const char* codePage) {
        std::array<std::string, 128> table;
        iconv_t convert = codePage != nullptr ? iconv_open("UTF-8", codePage) : iconv_t(-1);
        for (int byte = 0x80; byte <= 0xFF; ++byte) {
            std::string& text = table[byte - 0x80];
            char in = static_cast<char>(byte);
            char out[8] = {};
            char* inPointer = &in;
            char* outPointer = out;
            std::size_t inLeft = 1, outLeft = sizeof out;
            if (convert == iconv_t(-1) ||
                iconv(convert, &inPointer, &inLeft, &outPointer, &outLeft) == std::size_t(-1)) {
                // Latin-1, or '?' for the C1 controls.
                outPointer = out;
                if (byte >= 0xA0) {
                    *outPointer++ = static_cast<char>(0xC0 | (byte >> 6));
                    *outPointer++ = static_cast<char>(0x80 | (byte & 0x3F));
                } else {
                    *outPointer++ = '?';
                }
            }
            text.append(out, static_cast<std::size_t>(outPointer - out));
        }
        if (convert != iconv_t(-1)) iconv_close(convert);
        return table;
    };
    static const std::array<std::string, 128> pc437 = build("CP437");
    static const std::array<std::string, 128> pc850 = build("CP850");
    static const std::array<std::string, 128> latin1 = build(nullptr);
    return codeTable == 0 ? pc437 : codeTable == 2 ? pc850 : latin1;
}

// Printer text bytes as UTF-8: ASCII as it is, the upper half by the code
// table, control bytes as '?'.
std::string Utf8Of(std::span<const unsigned char> bytes, int codeTable = 0) {
    std::string text;
    for (const unsigned char byte : bytes) {
        if (byte >= 0x20 && byte < 0x7F)
            text += static_cast<char>(byte);
        else if (byte >= 0x80)
            text += UpperHalf(codeTable)[byte - 0x80];
        else
            text += '?';
    }
    return text;
}

class Painter {
  public:
    Painter(cairo_t* cr, const PaperLayout& layout, double scale)
        : cr_(cr), layout_(layout), scale_(scale) {}

    void Paper() {
        SetColour(cr_, kBackground);
        cairo_paint(cr_);
        cairo_set_source_rgb(cr_, 1, 1, 1);
        cairo_rectangle(cr_, 0, 0, layout_.widthDots * scale_, layout_.lengthRows * scale_);
        cairo_fill(cr_);
    }

    void Item(const PaperItem& item) {
        // Text moved beyond the paper's right edge by ESC $ is not printed.
        if (item.x >= layout_.widthDots && item.kind != PaperItemKind::kMark) return;
        switch (item.kind) {
            case PaperItemKind::kText:
                Text(item);
                break;
            case PaperItemKind::kSymbol:
                Symbol(item);
                break;
            case PaperItemKind::kStoredImage:
                StoredImage(item);
                break;
            case PaperItemKind::kCut:
                Cut(item);
                break;
            case PaperItemKind::kMark:
                Mark(item);
                break;
            case PaperItemKind::kRasterRow:
                break;  // painted into the pixels afterwards
        }
    }

  private:
    void Glyphs(const std::string& utf8, double x, double y, const FontCell& cell, int widthFactor,
                int heightFactor, bool bold) {
        const double cellWidth = cell.width * widthFactor * scale_;
        const double cellHeight = cell.height * heightFactor * scale_;
        cairo_select_font_face(cr_, kFontFace, CAIRO_FONT_SLANT_NORMAL,
                               bold ? CAIRO_FONT_WEIGHT_BOLD : CAIRO_FONT_WEIGHT_NORMAL);
        cairo_matrix_t matrix;
        cairo_matrix_init_scale(&matrix, cellWidth / kFaceAdvance, cellHeight * kFaceSizeOfCell);
        cairo_set_font_matrix(cr_, &matrix);
        SetColour(cr_, kInk);
        // One glyph per cell keeps the columns of the printer's fixed pitch.
        std::size_t at = 0;
        const double paperRight = layout_.widthDots * scale_;
        for (int column = 0; at < utf8.size() && x + column * cellWidth < paperRight; ++column) {
            std::size_t next = at + 1;
            while (next < utf8.size() && (utf8[next] & 0xC0) == 0x80) ++next;
            cairo_move_to(cr_, x + column * cellWidth, y + cellHeight * kBaselineOfCell);
            cairo_show_text(cr_, utf8.substr(at, next - at).c_str());
            at = next;
        }
    }

    void Text(const PaperItem& item) {
        const FontCell cell = CellOf(item.font);
        Glyphs(Utf8Of(item.data, item.codeTable), item.x * scale_, item.y * scale_, cell,
               item.widthFactor, item.heightFactor, item.bold);
        if (item.underline) {
            const double thickness = item.heightFactor * scale_;
            cairo_rectangle(cr_, item.x * scale_, (item.y + item.height) * scale_ - thickness,
                            item.width * scale_, thickness);
            cairo_fill(cr_);
        }
    }

    void Symbol(const PaperItem& item) {
        const bool linear = item.symbolCode != 75;
        const int textPosition = linear ? item.symbol.textPosition : 0;
        const FontCell cell = CellOf(item.symbol.textFont);
        int top = item.y;
        if (textPosition == 1 || textPosition == 3) {
            HumanReadable(item, top, cell);
            top += cell.height;
        }
        const std::optional<SymbolImage> image =
            DrawSymbol(item.symbolCode, item.data, item.symbol);
        int barsHeight = linear ? std::max(item.symbol.barHeight, 1) : item.height;
        if (image) {
            Bars(*image, item.x, top);
            barsHeight = image->height;
        } else {
            Box(item.x, top, item.width, barsHeight, "symbol " + std::to_string(item.symbolCode));
        }
        if (textPosition == 2 || textPosition == 3) HumanReadable(item, top + barsHeight, cell);
    }

    void HumanReadable(const PaperItem& item, int top, const FontCell& cell) {
        const std::string text = Utf8Of(item.data);
        const int textWidth = static_cast<int>(item.data.size()) * cell.width;
        const int left = item.x + std::max(item.width - textWidth, 0) / 2;
        Glyphs(text, left * scale_, top * scale_, cell, 1, 1, false);
    }

    void Bars(const SymbolImage& image, int left, int top) {
        SetColour(cr_, kInk);
        for (int y = 0; y < image.height; ++y) {
            for (int x = 0; x < image.width;) {
                if (!image.bars[static_cast<std::size_t>(y) * image.width + x]) {
                    ++x;
                    continue;
                }
                int end = x;
                while (end < image.width &&
                       image.bars[static_cast<std::size_t>(y) * image.width + end])
                    ++end;
                cairo_rectangle(cr_, (left + x) * scale_, (top + y) * scale_, (end - x) * scale_,
                                scale_);
                x = end;
            }
        }
        cairo_fill(cr_);
    }

    void Box(int x, int y, int width, int height, const std::string& label) {
        SetColour(cr_, kInk);
        cairo_set_line_width(cr_, scale_);
        cairo_rectangle(cr_, (x + 0.5) * scale_, (y + 0.5) * scale_, (width - 1) * scale_,
                        (height - 1) * scale_);
        cairo_stroke(cr_);
        Label(label, (x + 4) * scale_, (y + height / 2.0) * scale_);
    }

    void StoredImage(const PaperItem& item) {
        Box(item.x, item.y, item.width, item.height, "stored image " + std::to_string(item.image));
    }

    // A dashed line over the row where the cut falls, and its kind in the
    // margin.
    void Cut(const PaperItem& item) {
        SetColour(cr_, kCutColour);
        for (int x = 0; x < layout_.widthDots; x += kDashDots + kDashGapDots) {
            const int length = std::min(kDashDots, layout_.widthDots - x);
            cairo_rectangle(cr_, x * scale_, item.y * scale_, length * scale_, scale_);
        }
        cairo_fill(cr_);
        Label(item.partialCut ? "partial cut" : "full cut", MarginX(), (item.y + 4) * scale_);
    }

    // Marks on the same row stand side by side.
    void Mark(const PaperItem& item) {
        SetColour(cr_, kMarkColour);
        const double x = item.y == markRow_ ? markRight_ : MarginX();
        const double y = item.y * scale_;
        cairo_move_to(cr_, x, y);
        cairo_line_to(cr_, x + 6 * scale_, y + 4 * scale_);
        cairo_line_to(cr_, x, y + 8 * scale_);
        cairo_close_path(cr_);
        cairo_fill(cr_);
        markRow_ = item.y;
        markRight_ = Label(item.label, x + 9 * scale_, y + 8 * scale_) + 6 * scale_;
    }

    double MarginX() const { return (layout_.widthDots + 4) * scale_; }

    // Returns where the label ends.
    double Label(const std::string& text, double x, double baseline) {
        cairo_select_font_face(cr_, kFontFace, CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
        cairo_set_font_size(cr_, kLabelDots * scale_);
        cairo_move_to(cr_, x, baseline);
        cairo_show_text(cr_, text.c_str());
        double endX = x;
        double endY = baseline;
        cairo_get_current_point(cr_, &endX, &endY);
        return endX;
    }

    cairo_t* cr_;
    const PaperLayout& layout_;
    double scale_;
    int markRow_ = -1;
    double markRight_ = 0;
};

// Raster dots go straight into the pixels, so that they are exact: plane 1
// black, plane 2 red where plane 1 has no dot.
void PaintDots(cairo_surface_t* surface, const PaperLayout& layout, int scale) {
    cairo_surface_flush(surface);
    unsigned char* pixels = cairo_image_surface_get_data(surface);
    const int stride = cairo_image_surface_get_stride(surface);
    const std::vector<PrintedPage> pages = PrintedPages(layout);
    int pageTop = 0;
    for (const PrintedPage& page : pages) {
        for (int y = 0; y < page.height; ++y) {
            for (int x = 0; x < page.width; ++x) {
                const bool black = page.Dot(1, x, y);
                if (!black && !page.Dot(2, x, y)) continue;
                const std::uint32_t colour = black ? kBlackDot : kRedDot;
                for (int dy = 0; dy < scale; ++dy) {
                    auto* row = reinterpret_cast<std::uint32_t*>(
                        pixels + static_cast<std::ptrdiff_t>((pageTop + y) * scale + dy) * stride);
                    std::fill_n(row + static_cast<std::ptrdiff_t>(x) * scale, scale, colour);
                }
            }
        }
        pageTop += page.height;
    }
    cairo_surface_mark_dirty(surface);
}

bool CheckOptions(const PreviewOptions& options, std::string* error) {
    if (options.lineBytes < 1 || options.lineBytes > kMaxLineBytes) {
        *error = "the line length must be 1 to " + std::to_string(kMaxLineBytes) + " bytes";
        return false;
    }
    if (options.leftPad < 0 || options.leftPad >= options.lineBytes) {
        *error = "the left pad must be 0 to " + std::to_string(options.lineBytes - 1) + " bytes";
        return false;
    }
    if (options.scale < 1 || options.scale > kMaxPreviewScale) {
        *error = "the scale must be 1 to " + std::to_string(kMaxPreviewScale);
        return false;
    }
    return true;
}

}  // namespace

bool WritePreviewPng(const std::vector<unsigned char>& stream, const PreviewOptions& options,
                     const std::string& pngPath, std::string* error) {
    if (!CheckOptions(options, error)) return false;
    const DecodedStream decoded = DecodeStream(stream, DecodeOptions{options.lineBytes});
    const PaperLayout layout =
        LayOutPaper(decoded, PaperOptions{options.lineBytes, options.leftPad});

    const long long width =
        static_cast<long long>(layout.widthDots + kPreviewMarginDots) * options.scale;
    const long long height =
        static_cast<long long>(layout.lengthRows + kPreviewTailDots) * options.scale;
    if (width > kMaxSurfaceSide || height > kMaxSurfaceSide) {
        *error = "the paper is " + std::to_string(layout.widthDots) + " dots wide and " +
                 std::to_string(layout.lengthRows) + " rows long; at scale " +
                 std::to_string(options.scale) + " that is more than a preview can hold (" +
                 std::to_string(kMaxSurfaceSide) + " pixels each way)";
        return false;
    }
    SurfacePtr surface(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, static_cast<int>(width),
                                                  static_cast<int>(height)));
    if (cairo_surface_status(surface.get()) != CAIRO_STATUS_SUCCESS) {
        *error =
            "cannot make an image of " + std::to_string(width) + " x " + std::to_string(height);
        return false;
    }
    {
        ContextPtr cr(cairo_create(surface.get()));
        Painter painter(cr.get(), layout, options.scale);
        painter.Paper();
        for (const PaperItem& item : layout.items) painter.Item(item);
    }
    PaintDots(surface.get(), layout, options.scale);
    if (cairo_surface_write_to_png(surface.get(), pngPath.c_str()) != CAIRO_STATUS_SUCCESS) {
        *error = "cannot write " + pngPath;
        return false;
    }
    return true;
}

void ReleasePreviewFonts() {
    cairo_debug_reset_static_data();
    // fontconfig comes in with cairo; it is looked up rather than linked,
    // as cairo's font back end is its business.
    using Fini = void (*)();
    if (auto fini = reinterpret_cast<Fini>(dlsym(RTLD_DEFAULT, "FcFini"))) fini();
}

}  // namespace qlpr
