// What the engine asks of a device font realized at a size: a glyph's
// advance and ink, and the font's extents. Lengths are the font's notional
// values (its metrics record and width table) through the font's transform,
// in 28.4 fixed point rounded to whole pixels.
#pragma once

#include "host/winddi.h"
#include "render/device_fonts.h"

// 28.4 rounded to the nearest whole pixel: (v + 8) with the low 4 bits
// cleared.
inline FIX RoundFixToPixel(FIX value) {
    return static_cast<FIX>((value + 8) & ~FIX{15});
}

// The notional advance of a glyph: codes below 256 from the width table,
// others the maximum increment (Shift-JIS fonts) or the average width.
LONG NotionalAdvance(const DeviceFontEntry& font, HGLYPH glyph);

// Advance, ink top and bottom of the glyph, its handle; everything else 0.
void FillGlyphData(const DeviceFontEntry& font, const XFORML& transform, HGLYPH glyph,
                   GLYPHDATA* data);
// The font's extents at this transform.
void FillDeviceMetrics(const DeviceFontEntry& font, const XFORML& transform,
                       FD_DEVICEMETRICS* metrics);
