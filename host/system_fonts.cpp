// The system's fonts through fontconfig and FreeType (see system_fonts.h).

#include "host/system_fonts.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <optional>
#include <tuple>
#include <unordered_map>

#include "host/font_libraries.h"
#include "platform/wide.h"

namespace host {

namespace {

// Families that name a kind of face rather than a face: whatever fontconfig
// picks for them is the face asked for.
constexpr std::array<const char*, 5> kGenericFamilies = {"sans-serif", "serif", "monospace", "sans",
                                                         "mono"};

// One lock (re-entered when a face goes while it is held) for both
// libraries: neither a FreeType library nor its faces may
// be used from two threads at once.
std::recursive_mutex& FontLock() {
    static std::recursive_mutex lock;
    return lock;
}

// Under FontLock: the libraries once loaded, the FreeType library once
// started (never ended), and whether either was asked for.
const FontLibraries* fonts = nullptr;
FT_Library freeType = nullptr;
bool started = false;

void EndFontconfig();

// Caller holds FontLock.
bool LoadLibraries() {
    if (!started && LoadFontLibraries() != nullptr) {
        fonts = LoadFontLibraries();
        // fontconfig keeps its configuration until told to let it go.
        std::atexit(&EndFontconfig);
    }
    started = true;
    return fonts != nullptr;
}

void EndFontconfig() {
    std::lock_guard guard(FontLock());
    fonts->FcFini();
}

bool StartFreeType() {
    if (freeType == nullptr && fonts->FT_Init_FreeType(&freeType) != 0) freeType = nullptr;
    started = true;
    return freeType != nullptr;
}

// What fontconfig found for a request.
struct Match {
    std::string file;
    int index = 0;
    std::string family;  // the family the request named, as the font spells it
    FLONG simulations = 0;
};

bool IsGeneric(const std::string& family) {
    return std::any_of(kGenericFamilies.begin(), kGenericFamilies.end(), [&](const char* generic) {
        return fonts->FcStrCmpIgnoreCase(reinterpret_cast<const FcChar8*>(family.c_str()),
                                         reinterpret_cast<const FcChar8*>(generic)) == 0;
    });
}

// The family of `match` that `asked` names (any when it is generic);
// nothing when fontconfig fell back on another family.
std::optional<std::string> NamedFamily(FcPattern* match, const std::string& asked) {
    const bool generic = IsGeneric(asked);
    FcChar8* family = nullptr;
    for (int i = 0; fonts->FcPatternGetString(match, FC_FAMILY, i, &family) == FcResultMatch; ++i) {
        if (generic ||
            fonts->FcStrCmpIgnoreCase(family, reinterpret_cast<const FcChar8*>(asked.c_str())) == 0)
            return std::string(reinterpret_cast<const char*>(family));
    }
    return std::nullopt;
}

// Caller holds FontLock.
std::optional<Match> MatchFamily(const std::string& family, bool bold, bool italic) {
    FcPattern* pattern = fonts->FcPatternCreate();
    if (pattern == nullptr) return std::nullopt;
    fonts->FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>(family.c_str()));
    fonts->FcPatternAddInteger(pattern, FC_WEIGHT, bold ? FC_WEIGHT_BOLD : FC_WEIGHT_REGULAR);
    fonts->FcPatternAddInteger(pattern, FC_SLANT, italic ? FC_SLANT_ITALIC : FC_SLANT_ROMAN);
    fonts->FcPatternAddBool(pattern, FC_OUTLINE, FcTrue);
    fonts->FcConfigSubstitute(nullptr, pattern, FcMatchPattern);
    fonts->FcDefaultSubstitute(pattern);
    FcResult result = FcResultNoMatch;
    FcPattern* match = fonts->FcFontMatch(nullptr, pattern, &result);
    fonts->FcPatternDestroy(pattern);
    if (match == nullptr) return std::nullopt;
    std::optional<Match> found;
    FcChar8* file = nullptr;
    std::optional<std::string> named = NamedFamily(match, family);
    if (named && fonts->FcPatternGetString(match, FC_FILE, 0, &file) == FcResultMatch) {
        found = Match{reinterpret_cast<const char*>(file), 0, *named, 0};
        fonts->FcPatternGetInteger(match, FC_INDEX, 0, &found->index);
        int weight = FC_WEIGHT_REGULAR, slant = FC_SLANT_ROMAN;
        fonts->FcPatternGetInteger(match, FC_WEIGHT, 0, &weight);
        fonts->FcPatternGetInteger(match, FC_SLANT, 0, &slant);
        if (bold && weight < FC_WEIGHT_DEMIBOLD) found->simulations |= FO_SIM_BOLD;
        if (italic && slant == FC_SLANT_ROMAN) found->simulations |= FO_SIM_ITALIC;
    }
    fonts->FcPatternDestroy(match);
    return found;
}

}  // namespace

// A FreeType face at one size, with the styles it simulates.
struct SystemFace::Realized {
    FT_Face face = nullptr;
    FLONG simulations = 0;

    ~Realized() {
        std::lock_guard guard(FontLock());
        if (face != nullptr) fonts->FT_Done_Face(face);
    }

    // Loads a glyph's outline (hinted for one-bit output) with the
    // simulations applied. Caller holds FontLock.
    bool Load(HGLYPH glyph) const {
        if (glyph >= static_cast<HGLYPH>(face->num_glyphs)) return false;
        if (fonts->FT_Load_Glyph(face, glyph, FT_LOAD_NO_BITMAP | FT_LOAD_TARGET_MONO) != 0)
            return false;
        if (face->glyph->format != FT_GLYPH_FORMAT_OUTLINE) return false;
        if (simulations & FO_SIM_ITALIC) fonts->FT_GlyphSlot_Oblique(face->glyph);
        if (simulations & FO_SIM_BOLD) fonts->FT_GlyphSlot_Embolden(face->glyph);
        return true;
    }
};

namespace {

// 26.6 fixed point (FreeType) to 28.4 (the engine), to nearest.
FIX ToFix(FT_Pos value) {
    return static_cast<FIX>((value + 2) >> 2);
}
POINTFIX ToPointFix(const FT_Vector& point) {
    // FreeType's y grows upwards, the device's downwards.
    return {ToFix(point.x), -ToFix(point.y)};
}

// Curves become lines no further than a quarter of a dot from the curve.
constexpr double kFlatness = 16.0;  // in 26.6 units
constexpr int kMaxCurvePieces = 64;

int CurvePieces(double deviation) {
    const int pieces = static_cast<int>(std::ceil(std::sqrt(deviation / kFlatness)));
    return std::clamp(pieces, 1, kMaxCurvePieces);
}

struct OutlineWalk {
    std::vector<EnginePath::Figure>* figures;
    FT_Vector last{};

    void Add(const FT_Vector& point) {
        figures->back().points.push_back(ToPointFix(point));
        last = point;
    }

    static int MoveTo(const FT_Vector* to, void* user) {
        auto* walk = static_cast<OutlineWalk*>(user);
        walk->figures->push_back({{}, true});
        walk->Add(*to);
        return 0;
    }
    static int LineTo(const FT_Vector* to, void* user) {
        static_cast<OutlineWalk*>(user)->Add(*to);
        return 0;
    }
    static int ConicTo(const FT_Vector* control, const FT_Vector* to, void* user) {
        auto* walk = static_cast<OutlineWalk*>(user);
        const FT_Vector from = walk->last;
        const double dx = from.x - 2.0 * control->x + to->x;
        const double dy = from.y - 2.0 * control->y + to->y;
        const int pieces = CurvePieces(std::hypot(dx, dy) / 4);
        for (int i = 1; i <= pieces; ++i) {
            const double t = static_cast<double>(i) / pieces, u = 1 - t;
            walk->Add({std::lround(u * u * from.x + 2 * u * t * control->x + t * t * to->x),
                       std::lround(u * u * from.y + 2 * u * t * control->y + t * t * to->y)});
        }
        return 0;
    }
    static int CubicTo(const FT_Vector* c1, const FT_Vector* c2, const FT_Vector* to, void* user) {
        auto* walk = static_cast<OutlineWalk*>(user);
        const FT_Vector from = walk->last;
        const double d1 = std::hypot(from.x - 2.0 * c1->x + c2->x, from.y - 2.0 * c1->y + c2->y);
        const double d2 = std::hypot(c1->x - 2.0 * c2->x + to->x, c1->y - 2.0 * c2->y + to->y);
        const int pieces = CurvePieces(std::max(d1, d2) * 3 / 4);
        for (int i = 1; i <= pieces; ++i) {
            const double t = static_cast<double>(i) / pieces, u = 1 - t;
            const double a = u * u * u, b = 3 * u * u * t, c = 3 * u * t * t, d = t * t * t;
            walk->Add({std::lround(a * from.x + b * c1->x + c * c2->x + d * to->x),
                       std::lround(a * from.y + b * c1->y + c * c2->y + d * to->y)});
        }
        return 0;
    }
};

// A realized face's glyphs. Each glyph's image, outline and advance are
// made once and kept with the face: every band a line touches, and every
// line in the face, asks for the same few glyphs again.
class FreeTypeGlyphs final : public GlyphSource {
  public:
    explicit FreeTypeGlyphs(std::shared_ptr<SystemFace::Realized> realized)
        : realized_(std::move(realized)) {}

    bool Image(HGLYPH glyph, GlyphImage* image) override {
        std::lock_guard guard(FontLock());
        auto known = images_.find(glyph);
        if (known == images_.end()) known = images_.emplace(glyph, Render(glyph)).first;
        if (!known->second) return false;
        *image = *known->second;
        return true;
    }

    bool Outline(HGLYPH glyph, std::vector<EnginePath::Figure>* figures) override {
        std::lock_guard guard(FontLock());
        auto known = outlines_.find(glyph);
        if (known == outlines_.end()) known = outlines_.emplace(glyph, Decompose(glyph)).first;
        if (!known->second) return false;
        *figures = *known->second;
        return true;
    }

    FIX Advance(HGLYPH glyph) override {
        std::lock_guard guard(FontLock());
        auto known = advances_.find(glyph);
        if (known != advances_.end()) return known->second;
        const FIX advance =
            realized_->Load(glyph) ? ToFix(realized_->face->glyph->advance.x) : FIX{0};
        advances_.emplace(glyph, advance);
        return advance;
    }

  private:
    // Caller holds FontLock.
    std::optional<GlyphImage> Render(HGLYPH glyph) const {
        if (!realized_->Load(glyph)) return std::nullopt;
        FT_GlyphSlot slot = realized_->face->glyph;
        if (fonts->FT_Render_Glyph(slot, FT_RENDER_MODE_MONO) != 0) return std::nullopt;
        const FT_Bitmap& bitmap = slot->bitmap;
        if (bitmap.pixel_mode != FT_PIXEL_MODE_MONO && bitmap.width != 0) return std::nullopt;
        GlyphImage image;
        image.origin = {slot->bitmap_left, -slot->bitmap_top};
        image.size = {static_cast<LONG>(bitmap.width), static_cast<LONG>(bitmap.rows)};
        const std::size_t row = (bitmap.width + 7) / 8;
        image.bits.assign(row * bitmap.rows, 0);
        for (unsigned y = 0; y < bitmap.rows; ++y) {
            const unsigned char* source =
                bitmap.pitch >= 0
                    ? bitmap.buffer + std::size_t{y} * bitmap.pitch
                    : bitmap.buffer + (bitmap.rows - 1 - y) * std::size_t(-bitmap.pitch);
            std::memcpy(image.bits.data() + y * row, source, row);
        }
        return image;
    }

    // Caller holds FontLock.
    std::optional<std::vector<EnginePath::Figure>> Decompose(HGLYPH glyph) const {
        if (!realized_->Load(glyph)) return std::nullopt;
        std::vector<EnginePath::Figure> figures;
        OutlineWalk walk{&figures};
        const FT_Outline_Funcs funcs{&OutlineWalk::MoveTo,
                                     &OutlineWalk::LineTo,
                                     &OutlineWalk::ConicTo,
                                     &OutlineWalk::CubicTo,
                                     0,
                                     0};
        if (fonts->FT_Outline_Decompose(&realized_->face->glyph->outline, &funcs, &walk) != 0)
            return std::nullopt;
        return figures;
    }

    std::shared_ptr<SystemFace::Realized> realized_;
    std::unordered_map<HGLYPH, std::optional<GlyphImage>> images_;
    std::unordered_map<HGLYPH, std::optional<std::vector<EnginePath::Figure>>> outlines_;
    std::unordered_map<HGLYPH, FIX> advances_;
};

FWORD Word(long value) {
    return static_cast<FWORD>(std::clamp<long>(value, -32768, 32767));
}

// Dots of `units` font units at `em` dots per em, to nearest.
LONG Dots(long units, LONG em, long unitsPerEm) {
    return static_cast<LONG>(std::lround(static_cast<double>(units) * em / unitsPerEm));
}

// The face's metrics record in font units, its names after it.
std::vector<BYTE> BuildMetrics(FT_Face face, const std::u16string& family) {
    const TT_OS2* os2 = static_cast<const TT_OS2*>(fonts->FT_Get_Sfnt_Table(face, FT_SFNT_OS2));
    const std::u16string style = platform::FromUtf8(face->style_name ? face->style_name : "");
    const std::u16string unique = style.empty() ? family : family + u" " + style;
    const std::u16string names[] = {family, style, family, unique};
    std::size_t size = sizeof(IFIMETRICS);
    PTRDIFF offsets[4];
    for (int i = 0; i < 4; ++i) {
        offsets[i] = static_cast<PTRDIFF>(size);
        size += (names[i].size() + 1) * sizeof(WCHAR);
    }
    std::vector<BYTE> block(size, 0);
    for (int i = 0; i < 4; ++i)
        std::memcpy(block.data() + offsets[i], names[i].data(), names[i].size() * sizeof(WCHAR));

    IFIMETRICS ifi{};
    ifi.cjThis = static_cast<ULONG>(size);
    ifi.dpwszFamilyName = offsets[0];
    ifi.dpwszStyleName = offsets[1];
    ifi.dpwszFaceName = offsets[2];
    ifi.dpwszUniqueName = offsets[3];
    const bool italic = (face->style_flags & FT_STYLE_FLAG_ITALIC) != 0;
    const bool bold = (face->style_flags & FT_STYLE_FLAG_BOLD) != 0;
    ifi.usWinWeight = os2 != nullptr && os2->usWeightClass != 0 ? os2->usWeightClass
                      : bold                                    ? 700
                                                                : 400;
    // Italic 0x01, bold 0x20, regular 0x40.
    ifi.fsSelection = static_cast<USHORT>((italic ? 0x01 : 0) | (bold ? 0x20 : 0) |
                                          (!italic && !bold ? 0x40 : 0));
    ifi.fwdUnitsPerEm = Word(face->units_per_EM);
    ifi.fwdLowestPPEm = 1;
    const long winAscent = os2 != nullptr ? os2->usWinAscent : face->ascender;
    const long winDescent = os2 != nullptr ? os2->usWinDescent : -face->descender;
    ifi.fwdWinAscender = Word(winAscent);
    ifi.fwdWinDescender = Word(winDescent);
    ifi.fwdMacAscender = ifi.fwdTypoAscender = Word(face->ascender);
    ifi.fwdMacDescender = ifi.fwdTypoDescender = Word(face->descender);
    ifi.fwdMacLineGap = ifi.fwdTypoLineGap = Word(face->height - face->ascender + face->descender);
    ifi.fwdAveCharWidth = Word(os2 != nullptr ? os2->xAvgCharWidth : face->max_advance_width / 2);
    ifi.fwdMaxCharInc = Word(face->max_advance_width);
    ifi.fwdCapHeight = Word(os2 != nullptr && os2->version >= 2 ? os2->sCapHeight : face->ascender);
    ifi.fwdXHeight =
        Word(os2 != nullptr && os2->version >= 2 ? os2->sxHeight : face->units_per_EM / 2);
    ifi.fwdUnderscoreSize = Word(face->underline_thickness);
    ifi.fwdUnderscorePosition = Word(face->underline_position);
    ifi.fwdStrikeoutSize = Word(os2 != nullptr ? os2->yStrikeoutSize : face->underline_thickness);
    ifi.fwdStrikeoutPosition =
        Word(os2 != nullptr ? os2->yStrikeoutPosition : face->units_per_EM / 4);
    FT_UInt index = 0;
    const FT_ULong first = fonts->FT_Get_First_Char(face, &index);
    FT_ULong last = first;
    for (FT_ULong code = first; index != 0; code = fonts->FT_Get_Next_Char(face, code, &index))
        if (code <= 0xFFFF) last = code;
    ifi.wcFirstChar = static_cast<WCHAR>(std::min<FT_ULong>(first, 0xFFFF));
    ifi.wcLastChar = static_cast<WCHAR>(last);
    ifi.wcDefaultChar = fonts->FT_Get_Char_Index(face, '?') != 0 ? u'?' : ifi.wcFirstChar;
    ifi.wcBreakChar = u' ';
    ifi.chFirstChar = 0x20;
    ifi.chLastChar = 0xFF;
    ifi.chDefaultChar = '?';
    ifi.chBreakChar = ' ';
    ifi.ptlBaseline = {1, 0};
    ifi.ptlAspect = {1, 1};
    ifi.ptlCaret = italic ? POINTL{1, 2} : POINTL{0, 1};
    ifi.rclFontBox = {static_cast<LONG>(face->bbox.xMin), static_cast<LONG>(face->bbox.yMax),
                      static_cast<LONG>(face->bbox.xMax), static_cast<LONG>(face->bbox.yMin)};
    if (os2 != nullptr) {
        std::memcpy(ifi.achVendId, os2->achVendID, 4);
        std::memcpy(&ifi.panose, os2->panose, sizeof ifi.panose);
    }
    std::memcpy(block.data(), &ifi, sizeof ifi);
    return block;
}

// The face at `match`, realized so that its cell is `cellHeight` dots: the
// em is the cell's share of ascent plus descent. Caller holds FontLock.
std::shared_ptr<SystemFace> Realize(const Match& match, LONG cellHeight) {
    if (!StartFreeType()) return nullptr;
    auto realized = std::make_shared<SystemFace::Realized>();
    if (fonts->FT_New_Face(freeType, match.file.c_str(), match.index, &realized->face) != 0) {
        realized->face = nullptr;
        return nullptr;
    }
    FT_Face face = realized->face;
    realized->simulations = match.simulations;
    if (!FT_IS_SCALABLE(face) || face->units_per_EM == 0) return nullptr;
    const auto* os2 = static_cast<const TT_OS2*>(fonts->FT_Get_Sfnt_Table(face, FT_SFNT_OS2));
    const long ascentUnits = os2 != nullptr ? os2->usWinAscent : face->ascender;
    const long descentUnits = os2 != nullptr ? os2->usWinDescent : -face->descender;
    const long cellUnits =
        ascentUnits + descentUnits > 0 ? ascentUnits + descentUnits : face->units_per_EM;
    const LONG em = std::max<LONG>(1, Dots(face->units_per_EM, cellHeight, cellUnits));
    if (fonts->FT_Set_Pixel_Sizes(face, 0, static_cast<FT_UInt>(em)) != 0) return nullptr;
    if (fonts->FT_Select_Charmap(face, FT_ENCODING_UNICODE) != 0) return nullptr;

    auto result = std::make_shared<SystemFace>();
    result->family = platform::FromUtf8(match.family);
    result->em = em;
    result->cellHeight = cellHeight;
    result->ascent = std::min(cellHeight, Dots(ascentUnits, em, face->units_per_EM));
    result->simulations = match.simulations;
    const long upem = face->units_per_EM;
    result->metrics = BuildMetrics(face, result->family);
    const IFIMETRICS* ifi = result->ifi();
    result->underlineThickness = std::max<LONG>(1, Dots(ifi->fwdUnderscoreSize, em, upem));
    result->underlineOffset = std::max<LONG>(
        1, Dots(-ifi->fwdUnderscorePosition, em, upem) - result->underlineThickness / 2);
    result->strikeoutThickness = std::max<LONG>(1, Dots(ifi->fwdStrikeoutSize, em, upem));
    result->strikeoutOffset = std::max<LONG>(
        1, Dots(ifi->fwdStrikeoutPosition, em, upem) + result->strikeoutThickness / 2);
    const float scale = static_cast<float>(em) / static_cast<float>(upem);
    result->transform = {scale, 0, 0, scale, 0, 0};
    result->handles.resize(static_cast<std::size_t>(face->num_glyphs));
    for (std::size_t i = 0; i < result->handles.size(); ++i)
        result->handles[i] = static_cast<HGLYPH>(i);
    result->glyphs = std::make_shared<FreeTypeGlyphs>(realized);
    result->realized = std::move(realized);
    return result;
}

// Requests already answered: fontconfig's matches by request, faces by
// file and size. A job asks again for every band.
struct Caches {
    std::map<std::tuple<std::string, bool, bool>, std::optional<Match>> matches;
    std::map<std::tuple<std::string, int, LONG, FLONG>, std::shared_ptr<const SystemFace>> faces;
};
Caches& FaceCaches() {
    static Caches* caches = new Caches;  // faces may be in use at exit
    return *caches;
}

}  // namespace

HGLYPH SystemFace::GlyphOf(char32_t character) const {
    std::lock_guard guard(FontLock());
    return fonts->FT_Get_Char_Index(realized->face, character);
}

std::shared_ptr<const SystemFace> FindSystemFace(const std::u16string& family, bool bold,
                                                 bool italic, LONG cellHeight) {
    if (family.empty() || cellHeight < 1 || cellHeight > kMaxCellHeight) return nullptr;
    const std::string name = platform::ToUtf8(family);
    std::lock_guard guard(FontLock());
    if (!LoadLibraries()) return nullptr;
    Caches& caches = FaceCaches();
    const auto request = std::make_tuple(name, bold, italic);
    auto known = caches.matches.find(request);
    if (known == caches.matches.end())
        known = caches.matches.emplace(request, MatchFamily(name, bold, italic)).first;
    if (!known->second) return nullptr;
    const Match& match = *known->second;
    const auto key = std::make_tuple(match.file, match.index, cellHeight, match.simulations);
    auto face = caches.faces.find(key);
    if (face != caches.faces.end()) return face->second;
    std::shared_ptr<const SystemFace> realized = Realize(match, cellHeight);
    if (realized) caches.faces.emplace(key, realized);
    return realized;
}

bool SystemFontsUsable() {
    std::lock_guard guard(FontLock());
    return LoadLibraries();
}

bool SystemFontsStarted() {
    std::lock_guard guard(FontLock());
    return started;
}

}  // namespace host
