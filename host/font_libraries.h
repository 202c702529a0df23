// fontconfig and FreeType, loaded when text first needs an installed face
// rather than linked: loading them (and the libraries they pull in) at
// every start of a program would cost each print job about a millisecond,
// though most jobs print in the printer's own faces.
#pragma once

#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_OUTLINE_H
#include FT_SYNTHESIS_H
#include FT_TRUETYPE_TABLES_H

namespace host {

// The functions of both libraries that the host calls, by their own names.
struct FontLibraries {
    decltype(&::FcConfigSubstitute) FcConfigSubstitute = nullptr;
    decltype(&::FcDefaultSubstitute) FcDefaultSubstitute = nullptr;
    decltype(&::FcFini) FcFini = nullptr;
    decltype(&::FcFontMatch) FcFontMatch = nullptr;
    decltype(&::FcPatternAddBool) FcPatternAddBool = nullptr;
    decltype(&::FcPatternAddInteger) FcPatternAddInteger = nullptr;
    decltype(&::FcPatternAddString) FcPatternAddString = nullptr;
    decltype(&::FcPatternCreate) FcPatternCreate = nullptr;
    decltype(&::FcPatternDestroy) FcPatternDestroy = nullptr;
    decltype(&::FcPatternGetInteger) FcPatternGetInteger = nullptr;
    decltype(&::FcPatternGetString) FcPatternGetString = nullptr;
    decltype(&::FcStrCmpIgnoreCase) FcStrCmpIgnoreCase = nullptr;
    decltype(&::FT_Done_Face) FT_Done_Face = nullptr;
    decltype(&::FT_Get_Char_Index) FT_Get_Char_Index = nullptr;
    decltype(&::FT_Get_First_Char) FT_Get_First_Char = nullptr;
    decltype(&::FT_Get_Next_Char) FT_Get_Next_Char = nullptr;
    decltype(&::FT_Get_Sfnt_Table) FT_Get_Sfnt_Table = nullptr;
    decltype(&::FT_GlyphSlot_Embolden) FT_GlyphSlot_Embolden = nullptr;
    decltype(&::FT_GlyphSlot_Oblique) FT_GlyphSlot_Oblique = nullptr;
    decltype(&::FT_Init_FreeType) FT_Init_FreeType = nullptr;
    decltype(&::FT_Load_Glyph) FT_Load_Glyph = nullptr;
    decltype(&::FT_New_Face) FT_New_Face = nullptr;
    decltype(&::FT_Outline_Decompose) FT_Outline_Decompose = nullptr;
    decltype(&::FT_Render_Glyph) FT_Render_Glyph = nullptr;
    decltype(&::FT_Select_Charmap) FT_Select_Charmap = nullptr;
    decltype(&::FT_Set_Pixel_Sizes) FT_Set_Pixel_Sizes = nullptr;
};

// Both libraries, loaded on the first call (later calls give the same);
// null when either cannot be loaded or lacks a function. Loaded once per
// process, never unloaded.
const FontLibraries* LoadFontLibraries();

}  // namespace host
