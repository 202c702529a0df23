// Glyph sets of the device fonts: the stored Shift-JIS set expanded into the
// engine's form.
#pragma once

#include <cstddef>

#include "host/winddi.h"

// One engine block (header, runs, then the glyph handles the runs point
// into) built from a stored glyph set (render/glyph_set_layout.h), taken
// with EngAllocMem and released with EngFreeMem. Null when the bytes are not
// a well-formed glyph set (a block that does not fit, runs out of order or
// pointing outside it, counts that disagree) or memory runs out.
FD_GLYPHSET* ExpandStoredGlyphSet(const void* bytes, std::size_t size);
