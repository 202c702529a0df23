// BarcodeBlock, the one export of the barcode library: measures or draws the
// barcode of a request (barcode/barcode_request.h) with libzint.
//
// The request's fields, as this library reads them:
//   symbology   1 UPC-A, 2 UPC-E, 3 EAN-13, 4 EAN-8, 5 Code 39,
//               6 Interleaved 2 of 5, 7 Codabar, 8 Code 93, 9 Code 128,
//               256 two-dimensional code; any other code is refused.
//   parameter1  module width: dots of the narrowest bar, or of one module of
//               the two-dimensional code; taken within 1..6 (0 counts as 1,
//               anything above 6 as 6), the widths the printer knows.
//   parameter2  linear codes: bar height in dots, taken within 1..255 like
//               the printer's byte. Not read for the two-dimensional code.
//   parameter3  linear codes: human-readable text, 0 none, 1 above the bars,
//               2 below, 3 both; any other value is refused.
//   parameter4  linear codes: font of that text, 1 or 2 font A, 3 or 4 font
//               B (the font-size mode that tells 1 from 2 and 3 from 4 makes
//               no difference here); any other value is refused. Font A is
//               the encoder's normal text, font B its small text (the digits
//               of EAN and UPC keep the encoder's one font for them). At
//               module width 1 the encoder has no legible text, and none is
//               drawn whatever parameter3 says.
//   variant2d   two-dimensional code: 257 + 1 (paper narrower than 80 mm)
//               + 256 (second kind); any other value is refused. The first
//               kind is QR Code (error correction chosen by the encoder, at
//               least level L), the second PDF417 (rows 3 modules high,
//               columns chosen by the encoder but no more than fit the
//               printable width: 576 dots on 80 mm paper, 384 dots on the
//               narrower paper). Neither has human-readable text.
//   imageFlag   not read: it only tells the driver to draw the image itself.
//   data        at most 256 bytes, rules per symbology in barcode_data.cpp.
// The image has no quiet zone. Text is the encoder's own rendering at the
// module's scale; the reported height includes it.
//
// Exactly one of the size reply and the image is given; both or neither is
// refused, since a caller who has not measured cannot know the image size.
// Both forms run the same encoding, so the image holds exactly the size
// measured. The result is 1 on success, 0 on any failure; nothing is written
// on failure.
#include <zint.h>

#include <algorithm>
#include <cstring>
#include <span>

#include "barcode/barcode_data.h"
#include "barcode/barcode_raster.h"
#include "barcode/barcode_request.h"
#include "barcode/symbol_cache.h"

namespace qlprbrcd {
namespace {

constexpr DWORD kMinModule = 1;
constexpr DWORD kMaxModule = 6;
constexpr DWORD kMinBarHeight = 1;
constexpr DWORD kMaxBarHeight = 255;

constexpr DWORD kVariant2dBase = 257;
constexpr DWORD kVariant2dNarrowPaper = 1;
constexpr DWORD kVariant2dSecondKind = 256;
constexpr DWORD kPrintableWidthWide = 576;    // 80 mm paper, dots
constexpr DWORD kPrintableWidthNarrow = 384;  // 58 mm paper, dots

std::optional<SymbolOrder> ReadRequest(const BarcodeRequest& request) {
    if (request.dataLength > kBarcodeDataMax) return std::nullopt;
    const Symbology* symbology = FindSymbology(request.symbology);
    if (symbology == nullptr) return std::nullopt;
    std::optional<std::string> text =
        PrepareData(request.symbology, std::span<const BYTE>(request.data, request.dataLength));
    if (!text) return std::nullopt;

    SymbolOrder order;
    order.text = std::move(*text);
    order.module = std::clamp(request.parameter1, kMinModule, kMaxModule);
    order.linear = symbology->linear;
    order.zintSymbology = symbology->zintSymbology;
    if (symbology->linear) {
        if (request.parameter3 > 3) return std::nullopt;
        if (request.parameter4 < 1 || request.parameter4 > 4) return std::nullopt;
        order.barHeight = std::clamp(request.parameter2, kMinBarHeight, kMaxBarHeight);
        order.textPosition =
            order.module > 1 ? static_cast<TextPosition>(request.parameter3) : TextPosition::kNone;
        order.smallText = request.parameter4 >= 3;
        return order;
    }
    if (request.variant2d < kVariant2dBase) return std::nullopt;
    const DWORD variant = request.variant2d - kVariant2dBase;
    if ((variant & ~(kVariant2dNarrowPaper | kVariant2dSecondKind)) != 0) return std::nullopt;
    if ((variant & kVariant2dSecondKind) != 0) order.zintSymbology = BARCODE_PDF417;
    order.maxWidth =
        (variant & kVariant2dNarrowPaper) != 0 ? kPrintableWidthNarrow : kPrintableWidthWide;
    return order;
}

}  // namespace
}  // namespace qlprbrcd

extern "C" QLPR_EXPORT WORD BarcodeBlock(const BarcodeRequest* request, BarcodeSizeReply* size,
                                         BYTE* image) {
    using namespace qlprbrcd;
    if (request == nullptr || (size == nullptr) == (image == nullptr)) return 0;
    try {
        const std::optional<SymbolOrder> order = ReadRequest(*request);
        if (!order) return 0;
        const std::optional<MonoImage> drawn = DrawSymbolOnce(*order);
        if (!drawn || drawn->width() == 0 || drawn->height() == 0) return 0;
        if (size != nullptr) {
            size->width = drawn->width();
            size->height = drawn->height();
            size->imageBytes = drawn->byteCount();
        } else {
            std::memcpy(image, drawn->bytes().data(), drawn->byteCount());
        }
        return 1;
    } catch (...) {
        // Out of memory: no exception leaves the library.
        return 0;
    }
}
