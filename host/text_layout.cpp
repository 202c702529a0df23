// Laying out page text (see text_layout.h).
//
// A line of text is a row of glyphs on one baseline, each glyph's baseline
// point one advance after the last. Its cell runs from the text's top to
// top + the face's cell height, from the first glyph's point to the last
// one's advance; the alignment places that cell, and the baseline lies the
// face's ascent below its top.

#include "host/text_layout.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <unordered_map>

namespace host {

namespace {

// A rectangle in 64-bit page coordinates, before it is moved into the band.
struct WideRect {
    std::int64_t left, top, right, bottom;
};

bool Fits(std::int64_t value) {
    return value >= INT32_MIN && value <= INT32_MAX;
}

bool ToBand(const WideRect& page, POINTL origin, RECTL* band) {
    const WideRect r{page.left - origin.x, page.top - origin.y, page.right - origin.x,
                     page.bottom - origin.y};
    if (!Fits(r.left) || !Fits(r.top) || !Fits(r.right) || !Fits(r.bottom)) return false;
    *band = {static_cast<LONG>(r.left), static_cast<LONG>(r.top), static_cast<LONG>(r.right),
             static_cast<LONG>(r.bottom)};
    return true;
}

// 28.4 fixed point to whole dots, to nearest.
std::int64_t Dots(std::int64_t fix) {
    return (fix + 8) >> 4;
}

// One glyph to be placed: its handle and the character the string's text
// holds for it.
struct Placed {
    HGLYPH handle;
    char16_t character;
};

// The glyphs of `text` in `face`. The string's text holds one UTF-16 unit
// per glyph: a character beyond the first plane (or a stray half of a
// pair) stands there as U+FFFD. A character the face has no glyph for is
// drawn as the face's default glyph, or left out when it has none.
std::vector<Placed> Glyphs(const TextFace& face, const std::u16string& text) {
    std::vector<Placed> glyphs;
    glyphs.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t code = text[i];
        const bool high = code >= 0xD800 && code <= 0xDBFF;
        const bool low = code >= 0xDC00 && code <= 0xDFFF;
        const bool pair =
            high && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF;
        if (pair) code = 0x10000 + ((code - 0xD800) << 10) + (text[++i] - 0xDC00);
        const char16_t character = high || low ? u'\xFFFD' : text[i];
        HGLYPH handle = 0;
        if ((pair || !(high || low)) && face.glyphOf(code, &handle))
            glyphs.push_back({handle, character});
        else if (face.defaultGlyph)
            glyphs.push_back({*face.defaultGlyph, character});
    }
    return glyphs;
}

}  // namespace

std::optional<TextLayout> LayOutText(const TextFace& face, const PageText& text, POINTL origin,
                                     SIZEL bandSize) {
    TextLayout layout;
    layout.font = std::make_unique<EngineFont>(face.font);
    FONTOBJ* font = layout.font->object();

    const std::vector<Placed> glyphs = Glyphs(face, text.text);
    std::vector<std::int64_t> offsets;  // each glyph's advance from the first, 28.4
    offsets.reserve(glyphs.size());
    std::int64_t advance = 0;
    bool nominal = face.nominalWidth > 0;
    std::unordered_map<HGLYPH, FIX> widths;  // each glyph's advance, asked once
    for (const Placed& glyph : glyphs) {
        offsets.push_back(advance);
        auto known = widths.find(glyph.handle);
        if (known == widths.end())
            known = widths.emplace(glyph.handle, face.advanceOf(glyph.handle, font)).first;
        const FIX step = known->second;
        nominal = nominal && step == FIX{face.nominalWidth} * 16;
        advance += step;
    }
    const std::int64_t width = Dots(advance);
    std::int64_t left = text.position.x;
    if (text.align == PageText::Align::Right) left -= width;
    if (text.align == PageText::Align::Centre) left -= width / 2;
    const std::int64_t top = text.position.y;
    const std::int64_t baseline = top + face.ascent;
    const WideRect cell{left, top, left + width, top + face.cellHeight};

    std::vector<WideRect> lines;
    if (text.underline)
        lines.push_back({left, baseline + face.underlineOffset, left + width,
                         baseline + face.underlineOffset + face.underlineThickness});
    if (text.strikeout)
        lines.push_back({left, baseline - face.strikeoutOffset, left + width,
                         baseline - face.strikeoutOffset + face.strikeoutThickness});
    // Glyphs may reach out of the cell (italic overhangs, tall accents): the
    // text goes to every band within a cell's height of its cell and lines.
    WideRect ink = cell;
    for (const WideRect& line : lines) {
        ink.top = std::min(ink.top, line.top);
        ink.bottom = std::max(ink.bottom, line.bottom);
    }
    const std::int64_t reach = face.cellHeight;
    layout.touchesBand =
        ink.left - reach < std::int64_t{origin.x} + bandSize.cx && ink.right + reach > origin.x &&
        ink.top - reach < std::int64_t{origin.y} + bandSize.cy && ink.bottom + reach > origin.y;
    if (!layout.touchesBand) return layout;  // no string: the band is not given the text

    RECTL background;
    if (!ToBand(cell, origin, &background)) return std::nullopt;
    for (const WideRect& line : lines) {
        if (width == 0) break;
        RECTL band;
        if (!ToBand(line, origin, &band)) return std::nullopt;
        layout.extras.push_back(band);
    }
    layout.extras.push_back({0, 0, 0, 0});

    std::vector<EngineString::Glyph> placed;
    placed.reserve(glyphs.size());
    std::u16string characters;
    characters.reserve(glyphs.size());
    for (std::size_t i = 0; i < glyphs.size(); ++i) {
        const std::int64_t x = left + Dots(offsets[i]) - origin.x;
        const std::int64_t y = baseline - origin.y;
        if (!Fits(x) || !Fits(y)) return std::nullopt;
        placed.push_back({glyphs[i].handle, {static_cast<LONG>(x), static_cast<LONG>(y)}});
        characters.push_back(glyphs[i].character);
    }
    // Glyphs that all stand one nominal width apart are where the device
    // would put them by itself: the string says so (the driver then keeps
    // them in one run); otherwise each glyph's position is its own.
    const FLONG accel =
        SO_HORIZONTAL | (nominal && !glyphs.empty() ? SO_FLAG_DEFAULT_PLACEMENT : 0);
    const ULONG charInc =
        (accel & SO_FLAG_DEFAULT_PLACEMENT) != 0 ? static_cast<ULONG>(face.nominalWidth) : 0;
    layout.string = std::make_unique<EngineString>(std::move(placed), std::move(characters),
                                                   background, accel, charInc);
    return layout;
}

}  // namespace host
