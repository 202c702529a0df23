// The engine's stretching service, and the smoothing filter (cairo) that a
// halftoned stretch samples through.

#include <cairo.h>

#include <algorithm>
#include <cstdint>
#include <new>
#include <vector>

#include "host/drawing.h"
#include "host/surface_format.h"

namespace host {

namespace {

// The largest image side cairo draws.
constexpr std::int64_t kCairoMaxSide = 32767;

// The source pixels [from, to) along one axis that the destination pixels
// [first, last) sample, widened by one each way for the filter and kept
// inside [low, high).
void SourceSpan(const AxisMap& map, LONG first, LONG last, LONG low, LONG high, LONG* from,
                LONG* to) {
    std::int64_t a = map.Sample(first);
    std::int64_t b = map.Sample(last - 1);
    if (a > b) std::swap(a, b);
    *from = static_cast<LONG>(std::max<std::int64_t>(a - 1, low));
    *to = static_cast<LONG>(std::min<std::int64_t>(b + 2, high));
}

// Pattern-space coordinate (within the source image starting at `from`) of
// destination coordinate `dest` (a pixel edge), and its step per pixel.
void AxisTransform(const AxisMap& map, LONG dest, LONG from, double* scale, double* offset) {
    const double step = static_cast<double>(map.sourceExtent) / static_cast<double>(map.destExtent);
    const double along = static_cast<double>(dest - map.destStart) * step;
    if (map.mirror) {
        *scale = -step;
        *offset = static_cast<double>(map.sourceStart + map.sourceExtent - from) - along;
    } else {
        *scale = step;
        *offset = static_cast<double>(map.sourceStart - from) + along;
    }
}

// cairo's RGB24 pixels are 0x00RRGGBB words; COLOURs are 0x00BBGGRR.
std::uint32_t ToCairo(ULONG colour) {
    return (std::uint32_t{RedOf(colour)} << 16) | (std::uint32_t{GreenOf(colour)} << 8) |
           BlueOf(colour);
}
ULONG FromCairo(std::uint32_t pixel) {
    return ((pixel >> 16) & 0xFF) | (pixel & 0xFF00) | ((pixel & 0xFF) << 16);
}

}  // namespace

bool SmoothSample(const SourceReader& source, const AxisMap& xMap, const AxisMap& yMap,
                  const RECTL& sourceLimit, const RECTL& area, std::vector<ULONG>* colours) {
    const LONG width = area.right - area.left;
    const LONG height = area.bottom - area.top;
    LONG left, right, top, bottom;
    SourceSpan(xMap, area.left, area.right, sourceLimit.left, sourceLimit.right, &left, &right);
    SourceSpan(yMap, area.top, area.bottom, sourceLimit.top, sourceLimit.bottom, &top, &bottom);
    const LONG sourceWidth = right - left;
    const LONG sourceHeight = bottom - top;
    if (width <= 0 || height <= 0 || sourceWidth <= 0 || sourceHeight <= 0) return false;
    if (width > kCairoMaxSide || height > kCairoMaxSide || sourceWidth > kCairoMaxSide ||
        sourceHeight > kCairoMaxSide)
        return false;

    try {
        const int stride = cairo_format_stride_for_width(CAIRO_FORMAT_RGB24, sourceWidth);
        if (stride <= 0) return false;
        const std::size_t words = static_cast<std::size_t>(stride) / 4;
        std::vector<std::uint32_t> pixels(words * static_cast<std::size_t>(sourceHeight));
        std::vector<LONG> columns(static_cast<std::size_t>(sourceWidth));
        for (LONG i = 0; i < sourceWidth; ++i) columns[static_cast<std::size_t>(i)] = left + i;
        std::vector<ULONG> row(static_cast<std::size_t>(sourceWidth));
        for (LONG y = top; y < bottom; ++y) {
            source.ReadRow(y, columns.data(), columns.size(), row.data(), nullptr);
            std::uint32_t* out = pixels.data() + static_cast<std::size_t>(y - top) * words;
            for (LONG i = 0; i < sourceWidth; ++i)
                out[i] = ToCairo(row[static_cast<std::size_t>(i)]);
        }
        colours->resize(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));

        cairo_surface_t* image = cairo_image_surface_create_for_data(
            reinterpret_cast<unsigned char*>(pixels.data()), CAIRO_FORMAT_RGB24, sourceWidth,
            sourceHeight, stride);
        cairo_surface_t* target = cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height);
        cairo_t* cr = cairo_create(target);
        cairo_pattern_t* pattern = cairo_pattern_create_for_surface(image);
        cairo_pattern_set_filter(pattern, CAIRO_FILTER_GOOD);
        cairo_pattern_set_extend(pattern, CAIRO_EXTEND_PAD);
        double xx, x0, yy, y0;
        AxisTransform(xMap, area.left, left, &xx, &x0);
        AxisTransform(yMap, area.top, top, &yy, &y0);
        cairo_matrix_t matrix;
        cairo_matrix_init(&matrix, xx, 0, 0, yy, x0, y0);
        cairo_pattern_set_matrix(pattern, &matrix);
        cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
        cairo_set_source(cr, pattern);
        cairo_paint(cr);
        cairo_surface_flush(target);
        const bool drawn = cairo_status(cr) == CAIRO_STATUS_SUCCESS &&
                           cairo_surface_status(target) == CAIRO_STATUS_SUCCESS;
        if (drawn) {
            const unsigned char* data = cairo_image_surface_get_data(target);
            const int targetStride = cairo_image_surface_get_stride(target);
            for (LONG y = 0; y < height; ++y) {
                const auto* in = reinterpret_cast<const std::uint32_t*>(
                    data + static_cast<std::size_t>(y) * static_cast<std::size_t>(targetStride));
                ULONG* out = colours->data() + static_cast<std::size_t>(y) * width;
                for (LONG x = 0; x < width; ++x) out[x] = FromCairo(in[x]);
            }
        }
        cairo_pattern_destroy(pattern);
        cairo_destroy(cr);
        cairo_surface_destroy(target);
        cairo_surface_destroy(image);
        return drawn;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

}  // namespace host

extern "C" {

// HALFTONE scales through the smoothing filter and, into one bit, dithers
// with the 8x8 ordered pattern anchored at the halftone origin (the
// destination's origin when none is given); every other mode samples the
// nearest pixel and makes only pure white white in one bit. The mask and
// the colour adjustment are not looked at.
BOOL EngStretchBlt(SURFOBJ* dest, SURFOBJ* source, SURFOBJ*, CLIPOBJ* clip, XLATEOBJ* xlate,
                   COLORADJUSTMENT*, POINTL* halftoneOrigin, RECTL* destRect, RECTL* sourceRect,
                   POINTL*, ULONG mode) {
    if (destRect == nullptr || sourceRect == nullptr) return FALSE;
    if (!host::UsableDestination(dest)) return FALSE;
    host::SourceReader reader;
    if (!reader.Open(source, xlate)) return FALSE;
    host::Transfer transfer;
    transfer.dest = dest;
    transfer.destRect = *destRect;
    transfer.sourceRect = *sourceRect;
    transfer.clip = clip;
    transfer.source = &reader;
    transfer.smooth = mode == HALFTONE;
    transfer.halftone = mode == HALFTONE && dest->iBitmapFormat == BMF_1BPP;
    if (halftoneOrigin != nullptr) transfer.halftoneOrigin = *halftoneOrigin;
    return host::RunTransfer(transfer);
}

}  // extern "C"
