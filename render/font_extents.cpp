#include "render/font_extents.h"

#include <cmath>
#include <cstring>

namespace {

// A notional vector (x along the base line, y up the ascender) through the
// transform, to the nearest 1/16 pixel.
POINTFIX ToFix(const XFORML& m, LONG x, LONG y) {
    const double dx = x * double{m.eM11} + y * double{m.eM21};
    const double dy = x * double{m.eM12} + y * double{m.eM22};
    return {static_cast<FIX>(std::lround(dx * 16)), static_cast<FIX>(std::lround(dy * 16))};
}

FIX SignedLength(POINTFIX vector, LONG notional) {
    const auto length =
        static_cast<FIX>(std::lround(std::hypot(double(vector.x), double(vector.y))));
    return RoundFixToPixel(notional < 0 ? -length : length);
}

// Lengths along the base line and along the ascender keep their notional
// sign whatever the transform's orientation.
FIX AlongBase(const XFORML& m, LONG length) {
    return SignedLength(ToFix(m, length, 0), length);
}
FIX AlongAscender(const XFORML& m, LONG length) {
    return SignedLength(ToFix(m, 0, length), length);
}

LONG WholePixels(FIX value) {
    return RoundFixToPixel(value) >> 4;
}

// Offsets from the glyph origin in device pixels (y down): notional y up is
// negated first.
POINTL DeviceOffset(const XFORML& m, LONG upwards) {
    const POINTFIX p = ToFix(m, 0, -upwards);
    return {WholePixels(p.x), WholePixels(p.y)};
}

POINTE UnitVector(const XFORML& m, LONG x, LONG y) {
    const float dx = static_cast<float>(x) * m.eM11 + static_cast<float>(y) * m.eM21;
    const float dy = static_cast<float>(x) * m.eM12 + static_cast<float>(y) * m.eM22;
    const float length = std::hypot(dx, dy);
    if (length == 0) return {0, 0};
    return {dx / length, dy / length};
}

bool IsShiftJis(const DeviceFontEntry& font) {
    return font.ifi.jWinCharSet == kShiftJisCharSet;
}

}  // namespace

LONG NotionalAdvance(const DeviceFontEntry& font, HGLYPH glyph) {
    if (glyph < 256) return font.widths[glyph];
    return IsShiftJis(font) ? font.ifi.fwdMaxCharInc : font.ifi.fwdAveCharWidth;
}

void FillGlyphData(const DeviceFontEntry& font, const XFORML& transform, HGLYPH glyph,
                   GLYPHDATA* data) {
    std::memset(data, 0, sizeof *data);
    const LONG advance = NotionalAdvance(font, glyph);
    data->hg = glyph;
    data->fxD = AlongBase(transform, advance);
    data->fxInkTop = AlongAscender(transform, font.ifi.rclFontBox.top);
    data->fxInkBottom = AlongAscender(transform, font.ifi.rclFontBox.bottom);
    // The advance as a device vector, 28.4 whole pixels widened to 32.32.
    const POINTFIX vector = ToFix(transform, advance, 0);
    data->ptqD.x = std::int64_t{RoundFixToPixel(vector.x)} * (std::int64_t{1} << 28);
    data->ptqD.y = std::int64_t{RoundFixToPixel(vector.y)} * (std::int64_t{1} << 28);
}

// The fixed advance of a fixed-pitch font (average width equal to the
// maximum increment) is that width, the advance every one of its glyphs has
// in FillGlyphData; the em height would space the cells far apart.
// Italic fonts keep the font box's descender: the printer slants the cell
// without making it deeper.
void FillDeviceMetrics(const DeviceFontEntry& font, const XFORML& transform,
                       FD_DEVICEMETRICS* metrics) {
    std::memset(metrics, 0, sizeof *metrics);
    const IFIMETRICS& ifi = font.ifi;
    const LONG em = ifi.fwdUnitsPerEm;
    metrics->pteBase = UnitVector(transform, em, 0);
    metrics->pteSide = UnitVector(transform, 0, -em);
    const FIX maxWidth = AlongBase(transform, ifi.fwdMaxCharInc);
    if (ifi.fwdAveCharWidth == ifi.fwdMaxCharInc) metrics->lD = maxWidth >> 4;
    metrics->fxMaxAscender = AlongAscender(transform, ifi.rclFontBox.top);
    metrics->fxMaxDescender = AlongAscender(transform, ifi.rclFontBox.bottom);
    metrics->ptlUnderline1 = DeviceOffset(transform, ifi.fwdUnderscorePosition);
    metrics->ptlStrikeOut = DeviceOffset(transform, ifi.fwdStrikeoutPosition);
    metrics->ptlULThickness = DeviceOffset(transform, -ifi.fwdUnderscoreSize);
    metrics->ptlSOThickness = metrics->ptlULThickness;  // both strokes as thick as the underline
    metrics->cxMax = static_cast<ULONG>(maxWidth >> 4);
}
