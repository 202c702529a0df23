// Loading fontconfig and FreeType (see font_libraries.h).

#include "host/font_libraries.h"

#include <dlfcn.h>

#include <mutex>

namespace host {

namespace {

// The libraries by the names their ABI versions carry.
constexpr const char* kFontconfig = "libfontconfig.so.1";
constexpr const char* kFreeType = "libfreetype.so.6";

template <class F>
bool Bind(void* library, const char* name, F* slot) {
    *slot = reinterpret_cast<F>(dlsym(library, name));
    return *slot != nullptr;
}

bool BindAll(void* fc, void* ft, FontLibraries* f) {
    return Bind(fc, "FcConfigSubstitute", &f->FcConfigSubstitute) &&
           Bind(fc, "FcDefaultSubstitute", &f->FcDefaultSubstitute) &&
           Bind(fc, "FcFini", &f->FcFini) && Bind(fc, "FcFontMatch", &f->FcFontMatch) &&
           Bind(fc, "FcPatternAddBool", &f->FcPatternAddBool) &&
           Bind(fc, "FcPatternAddInteger", &f->FcPatternAddInteger) &&
           Bind(fc, "FcPatternAddString", &f->FcPatternAddString) &&
           Bind(fc, "FcPatternCreate", &f->FcPatternCreate) &&
           Bind(fc, "FcPatternDestroy", &f->FcPatternDestroy) &&
           Bind(fc, "FcPatternGetInteger", &f->FcPatternGetInteger) &&
           Bind(fc, "FcPatternGetString", &f->FcPatternGetString) &&
           Bind(fc, "FcStrCmpIgnoreCase", &f->FcStrCmpIgnoreCase) &&
           Bind(ft, "FT_Done_Face", &f->FT_Done_Face) &&
           Bind(ft, "FT_Get_Char_Index", &f->FT_Get_Char_Index) &&
           Bind(ft, "FT_Get_First_Char", &f->FT_Get_First_Char) &&
           Bind(ft, "FT_Get_Next_Char", &f->FT_Get_Next_Char) &&
           Bind(ft, "FT_Get_Sfnt_Table", &f->FT_Get_Sfnt_Table) &&
           Bind(ft, "FT_GlyphSlot_Embolden", &f->FT_GlyphSlot_Embolden) &&
           Bind(ft, "FT_GlyphSlot_Oblique", &f->FT_GlyphSlot_Oblique) &&
           Bind(ft, "FT_Init_FreeType", &f->FT_Init_FreeType) &&
           Bind(ft, "FT_Load_Glyph", &f->FT_Load_Glyph) &&
           Bind(ft, "FT_New_Face", &f->FT_New_Face) &&
           Bind(ft, "FT_Outline_Decompose", &f->FT_Outline_Decompose) &&
           Bind(ft, "FT_Render_Glyph", &f->FT_Render_Glyph) &&
           Bind(ft, "FT_Select_Charmap", &f->FT_Select_Charmap) &&
           Bind(ft, "FT_Set_Pixel_Sizes", &f->FT_Set_Pixel_Sizes);
}

const FontLibraries* Load() {
    void* fc = dlopen(kFontconfig, RTLD_NOW | RTLD_LOCAL);
    void* ft = dlopen(kFreeType, RTLD_NOW | RTLD_LOCAL);
    static FontLibraries functions;
    if (fc != nullptr && ft != nullptr && BindAll(fc, ft, &functions)) return &functions;
    // What was loaded stays: a library half bound is not loaded again.
    return nullptr;
}

}  // namespace

const FontLibraries* LoadFontLibraries() {
    static const FontLibraries* libraries = nullptr;
    static std::once_flag once;
    std::call_once(once, [] { libraries = Load(); });
    return libraries;
}

}  // namespace host
