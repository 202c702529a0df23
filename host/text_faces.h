// The faces page text is set in: the printer's own (device) faces, found
// through the driver's font queries, and every other face through the
// system's installed fonts.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "host/print_job.h"
#include "host/system_fonts.h"
#include "host/text_objects.h"

namespace host {

// The driver's font queries for the device a band belongs to.
struct DeviceFontQueries {
    DHPDEV pdev = nullptr;
    ULONG count = 0;  // face indexes 1..count
    PFN_DrvQueryFont font = nullptr;
    PFN_DrvQueryFontTree tree = nullptr;
    PFN_DrvQueryFontData data = nullptr;
};
DeviceFontQueries DeviceFontsOf(SURFOBJ* band, std::span<const DRVFN> entries);

// A face ready for laying out and drawing text. Lengths are in dots;
// offsets from the baseline grow downwards for the underline, upwards for
// the strike-out.
struct TextFace {
    EngineFont::Description font;  // what the font object is made of
    LONG ascent = 0;
    LONG cellHeight = 0;
    LONG underlineOffset = 1;
    LONG underlineThickness = 1;
    LONG strikeoutOffset = 1;
    LONG strikeoutThickness = 1;
    // The width every glyph has when the face places glyphs by its nominal
    // width (device faces); 0 for faces that place each by its own.
    LONG nominalWidth = 0;
    // The glyph of a character, false when the face has none.
    std::function<bool(char32_t, HGLYPH*)> glyphOf;
    // The glyph for characters the face lacks; none: they are left out.
    std::optional<HGLYPH> defaultGlyph;
    // A glyph's advance in 28.4 fixed point, asked of the realized font.
    std::function<FIX(HGLYPH, FONTOBJ*)> advanceOf;
    std::shared_ptr<const SystemFace> system;  // keeps a system face alive
};

// The face `text` asks for: a device face of that name (the style the
// driver lists for its weight and slant), else an installed face. Null with
// `error` set when there is none ("unknown font face ...") or the size
// cannot be used.
std::optional<TextFace> FindTextFace(const DeviceFontQueries& device, const PageText& text,
                                     std::string* error);

}  // namespace host
