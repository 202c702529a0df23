// The driver library's resources, found through EngFindResource on the
// driver's module.

#include "platform/module.h"
#include "render/glyph_set_layout.h"

namespace qlpr {
// Generated at build time (render/generator/shiftjis_glyph_set.cpp).
extern const unsigned char kShiftJisGlyphSet[];
extern const unsigned long kShiftJisGlyphSetSize;
}  // namespace qlpr

extern "C" QLPR_EXPORT const ResourceData QlprResourceTable[] = {
    {glyphset::kShiftJisResourceType, glyphset::kShiftJisResourceId, qlpr::kShiftJisGlyphSet,
     static_cast<DWORD>(qlpr::kShiftJisGlyphSetSize)},
    {0, 0, nullptr, 0},
};
