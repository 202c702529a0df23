// The engine's text drawing: EngTextOut, aliased, into the band formats.
//
// What a call draws, all within the clip and the surface:
// - the opaque rectangle, when given, in the opaque brush (copied, whatever
//   the mix);
// - every glyph's image (FONTOBJ_cGetGlyphs, FO_GLYPHBITS) placed at its
//   position plus the image's origin, the foreground brush combined by the
//   mix's foreground ROP2 wherever the image has ink; glyphs the font gives
//   no image for (device fonts) are left out, and the call still succeeds;
// - the extra rectangles (underline, strike-out), a list ended by an empty
//   one, in the foreground brush and the same ROP2.
// No surface that can be drawn, no string or font, a missing brush for
// something to draw, or a ROP2 outside 1..16: FALSE, last error 87, nothing
// drawn.

#include <algorithm>
#include <cstdint>
#include <new>
#include <vector>

#include "host/drawing.h"
#include "host/engine.h"
#include "platform/last_error.h"

namespace {

// The platform ends the list of extra rectangles with an empty one; a list
// longer than this is not one the engine made.
constexpr int kMaxExtraRectangles = 64;
constexpr BYTE kPatCopy = 0xF0;

BOOL Refuse() {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
}

bool IsEmpty(const RECTL& rect) {
    return rect.left >= rect.right || rect.top >= rect.bottom;
}

// Paints a rectangle's rows, cut to what the painter can reach.
void FillRectangle(host::SpanPainter* painter, const RECTL& rect) {
    const RECTL& bounds = painter->bounds();
    const LONG top = std::max(rect.top, bounds.top);
    const LONG bottom = std::min(rect.bottom, bounds.bottom);
    for (LONG y = top; y < bottom; ++y) painter->Fill(y, rect.left, rect.right);
}

// Paints the ink of one glyph image whose top left lies at (left, top); the
// runs of set bits of each row become spans.
void PaintImage(host::SpanPainter* painter, const GLYPHBITS& image, std::int64_t left,
                std::int64_t top) {
    const RECTL& bounds = painter->bounds();
    const LONG width = image.sizlBitmap.cx;
    const LONG height = image.sizlBitmap.cy;
    if (width <= 0 || height <= 0) return;
    if (left >= bounds.right || left + width <= bounds.left) return;
    const std::size_t stride = (static_cast<std::size_t>(width) + 7) / 8;
    const std::int64_t firstRow = std::max<std::int64_t>(0, bounds.top - top);
    const std::int64_t endRow = std::min<std::int64_t>(height, std::int64_t{bounds.bottom} - top);
    for (std::int64_t row = firstRow; row < endRow; ++row) {
        const BYTE* bits = image.aj + static_cast<std::size_t>(row) * stride;
        const auto y = static_cast<LONG>(top + row);
        LONG x = 0;
        while (x < width) {
            while (x < width && ((bits[x >> 3] >> (7 - (x & 7))) & 1) == 0) ++x;
            const LONG start = x;
            while (x < width && ((bits[x >> 3] >> (7 - (x & 7))) & 1) != 0) ++x;
            if (start == x) continue;
            // Within the painter's reach, so that the sums stay in range.
            const std::int64_t from = std::max<std::int64_t>(left + start, bounds.left);
            const std::int64_t to = std::min<std::int64_t>(left + x, bounds.right);
            if (from < to) painter->Fill(y, static_cast<LONG>(from), static_cast<LONG>(to));
        }
    }
}

void PaintGlyphs(host::SpanPainter* painter, FONTOBJ* font, const GLYPHPOS* glyphs, ULONG count) {
    for (ULONG i = 0; i < count; ++i) {
        HGLYPH handle = glyphs[i].hg;
        GLYPHDATA* data = nullptr;
        if (FONTOBJ_cGetGlyphs(font, FO_GLYPHBITS, 1, &handle, reinterpret_cast<PVOID*>(&data)) ==
                0 ||
            data == nullptr || data->gdf.pgb == nullptr)
            continue;
        const GLYPHBITS& image = *data->gdf.pgb;
        PaintImage(painter, image, std::int64_t{glyphs[i].ptl.x} + image.ptlOrigin.x,
                   std::int64_t{glyphs[i].ptl.y} + image.ptlOrigin.y);
    }
}

// Every glyph of the string: the positions it carries, else its runs.
void PaintString(host::SpanPainter* painter, STROBJ* string, FONTOBJ* font) {
    if (string->pgp != nullptr) return PaintGlyphs(painter, font, string->pgp, string->cGlyphs);
    STROBJ_vEnumStart(string);
    BOOL more = TRUE;
    while (more) {
        ULONG count = 0;
        GLYPHPOS* glyphs = nullptr;
        more = STROBJ_bEnum(string, &count, &glyphs);
        if (glyphs != nullptr) PaintGlyphs(painter, font, glyphs, count);
    }
}

}  // namespace

extern "C" {

BOOL EngTextOut(SURFOBJ* surface, STROBJ* string, FONTOBJ* font, CLIPOBJ* clip, RECTL* extra,
                RECTL* opaque, BRUSHOBJ* foreground, BRUSHOBJ* opaqueBrush, POINTL* brushOrigin,
                MIX mix) {
    if (string == nullptr || font == nullptr || !host::UsableDestination(surface)) return Refuse();
    const POINTL origin = brushOrigin != nullptr ? *brushOrigin : POINTL{0, 0};
    host::SpanPainter background, ink;
    if (opaque != nullptr &&
        (opaqueBrush == nullptr || !background.Open(surface, clip, opaqueBrush, origin, kPatCopy)))
        return Refuse();
    BYTE rop3 = 0;
    if (foreground == nullptr || !host::Rop3OfRop2(mix & 0xFF, &rop3) ||
        !ink.Open(surface, clip, foreground, origin, rop3))
        return Refuse();
    try {
        if (opaque != nullptr) FillRectangle(&background, *opaque);
        PaintString(&ink, string, font);
        for (int i = 0; extra != nullptr && i < kMaxExtraRectangles && !IsEmpty(extra[i]); ++i)
            FillRectangle(&ink, extra[i]);
    } catch (const std::bad_alloc&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
    return TRUE;
}

}  // extern "C"
