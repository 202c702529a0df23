// The installed fonts of the system, for text in faces the printer does not
// have: fontconfig finds a face by family, weight and slant, FreeType
// realizes it at a size and gives its glyphs as 1-bit images and outlines.
// Both libraries are started only when the first such face is asked for, so
// that jobs in the printer's own faces never pay for them.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "host/text_objects.h"
#include "host/winddi.h"

namespace host {

// The largest cell a system face is realized at; a receipt is a few hundred
// dots wide, and a glyph image of this size is already two megabytes.
inline constexpr LONG kMaxCellHeight = 4096;
// The cell of a system face when the text names no size: the cell of the
// printer's own text font.
inline constexpr LONG kDefaultCellHeight = 34;

// A system face realized at one size. Lengths are in dots; offsets from the
// baseline grow downwards for the underline, upwards for the strike-out.
struct SystemFace {
    std::u16string family;  // as the font names itself
    LONG em = 0;            // dots per em
    LONG ascent = 0;
    LONG cellHeight = 0;
    FLONG simulations = 0;  // FO_SIM_BOLD / FO_SIM_ITALIC the face lacks
    LONG underlineOffset = 0;
    LONG underlineThickness = 1;
    LONG strikeoutOffset = 0;
    LONG strikeoutThickness = 1;
    std::vector<BYTE> metrics;  // IFIMETRICS followed by its name strings
    XFORML transform{};         // font units -> dots
    std::vector<HGLYPH> handles;
    std::shared_ptr<GlyphSource> glyphs;

    const IFIMETRICS* ifi() const { return reinterpret_cast<const IFIMETRICS*>(metrics.data()); }
    // The face's glyph of a character; glyph 0 (the face's "missing" glyph)
    // when it has none.
    HGLYPH GlyphOf(char32_t character) const;

    struct Realized;
    std::shared_ptr<Realized> realized;  // the FreeType face behind it
};

// The installed face `family` (or a generic family: "sans-serif", "serif",
// "monospace") in the weight and slant asked for, realized so that its cell
// (ascent plus descent) is `cellHeight` dots. A style the family lacks is
// simulated. Null when no installed family has that name (fontconfig's
// nearest other family does not count) or the face cannot be realized.
std::shared_ptr<const SystemFace> FindSystemFace(const std::u16string& family, bool bold,
                                                 bool italic, LONG cellHeight);

// Whether fontconfig and FreeType can be loaded (loading them on the first
// call).
bool SystemFontsUsable();
// Whether fontconfig or FreeType were asked for in this process.
QLPR_EXPORT bool SystemFontsStarted();

}  // namespace host
