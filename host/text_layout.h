// Page text laid out for one band: the font and string objects a text call
// gets, and the underline and strike-out rectangles.
#pragma once

#include <memory>
#include <optional>
#include <vector>

#include "host/text_faces.h"

namespace host {

struct TextLayout {
    std::unique_ptr<EngineFont> font;
    std::unique_ptr<EngineString> string;
    // Underline and strike-out, ended by an empty rectangle; just the empty
    // one when there are none.
    std::vector<RECTL> extras;
    // Whether the text may leave ink in the band; when it does not, the
    // band need not be given it, and the layout has no string.
    bool touchesBand = false;

    RECTL* extraRectangles() { return extras.size() > 1 ? extras.data() : nullptr; }
};

// Lays out `text` in `face` for the band of `bandSize` whose top left is
// page pixel `origin`; every coordinate is in band coordinates. Nothing when
// the text's place leaves the coordinate range.
std::optional<TextLayout> LayOutText(const TextFace& face, const PageText& text, POINTL origin,
                                     SIZEL bandSize);

}  // namespace host
