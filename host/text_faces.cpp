// Finding the face of page text (see text_faces.h).

#include "host/text_faces.h"

#include <algorithm>

#include "host/engine.h"
#include "platform/wide.h"

namespace host {

namespace {

// The driver's entry of `index`, or null.
template <class F>
F TableEntry(std::span<const DRVFN> entries, ULONG index) {
    for (const DRVFN& entry : entries)
        if (entry.iFunc == index) return reinterpret_cast<F>(entry.pfn);
    return nullptr;
}

// Face names match as the platform's do: without regard to case.
char16_t Folded(char16_t c) {
    return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c - u'A' + u'a') : c;
}
bool SameName(std::u16string_view a, std::u16string_view b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(),
                      [](char16_t x, char16_t y) { return Folded(x) == Folded(y); });
}

// The face name of a driver's metrics record; it must end inside the record.
std::u16string_view FaceNameOf(const IFIMETRICS& ifi) {
    if (ifi.dpwszFaceName < static_cast<PTRDIFF>(sizeof(IFIMETRICS)) ||
        static_cast<ULONG>(ifi.dpwszFaceName) >= ifi.cjThis)
        return {};
    const auto* name =
        reinterpret_cast<const WCHAR*>(reinterpret_cast<const BYTE*>(&ifi) + ifi.dpwszFaceName);
    const std::size_t room = (ifi.cjThis - static_cast<ULONG>(ifi.dpwszFaceName)) / sizeof(WCHAR);
    std::size_t length = 0;
    while (length < room && name[length] != 0) ++length;
    return length < room ? std::u16string_view(name, length) : std::u16string_view{};
}

bool IsBold(const IFIMETRICS& ifi) {
    return ifi.usWinWeight >= 600;
}
bool IsItalic(const IFIMETRICS& ifi) {
    return (ifi.fsSelection & 0x01) != 0;
}

// The glyph handle of a character in a glyph set: its runs are ordered by
// their first character.
bool GlyphInSet(const FD_GLYPHSET& set, char32_t character, HGLYPH* glyph) {
    if (character > 0xFFFF) return false;
    const WCRUN* first = set.awcrun;
    const WCRUN* last = set.awcrun + set.cRuns;
    const WCRUN* run = std::upper_bound(first, last, character,
                                        [](char32_t c, const WCRUN& r) { return c < r.wcLow; });
    if (run == first) return false;
    --run;
    const char32_t index = character - run->wcLow;
    if (index >= run->cGlyphs) return false;
    *glyph = run->phg != nullptr ? run->phg[index] : static_cast<HGLYPH>(character);
    return true;
}

std::vector<HGLYPH> AllHandles(const FD_GLYPHSET& set) {
    std::vector<HGLYPH> handles;
    for (ULONG r = 0; r < set.cRuns; ++r) {
        const WCRUN& run = set.awcrun[r];
        for (USHORT i = 0; i < run.cGlyphs; ++i)
            handles.push_back(run.phg != nullptr ? run.phg[i] : HGLYPH{run.wcLow} + i);
    }
    return handles;
}

// The 1-based index of the device face named `name` in the style asked
// for, or of its first style when the driver lists no such style; 0 when
// the driver has no face of that name.
ULONG FindDeviceFace(const DeviceFontQueries& device, const PageText& text) {
    if (device.font == nullptr || device.pdev == nullptr || text.face.empty()) return 0;
    ULONG named = 0;
    for (ULONG face = 1; face <= device.count; ++face) {
        ULONG_PTR id = 0;
        const IFIMETRICS* ifi = device.font(device.pdev, 0, face, &id);
        if (ifi == nullptr || !SameName(FaceNameOf(*ifi), text.face)) continue;
        if (IsBold(*ifi) == text.bold && IsItalic(*ifi) == text.italic) return face;
        if (named == 0) named = face;
    }
    return named;
}

// A device face: the driver's metrics and glyph set; its notional units are
// dots. Its cell holds the ascent and, when the face has one, the descent
// (the printer's text faces list a descent below zero: their cell is the
// ascent).
std::optional<TextFace> DeviceFace(const DeviceFontQueries& device, ULONG index) {
    ULONG_PTR id = 0;
    const IFIMETRICS* ifi = device.font(device.pdev, 0, index, &id);
    const auto* set =
        device.tree != nullptr
            ? static_cast<const FD_GLYPHSET*>(device.tree(device.pdev, 0, index, QFT_GLYPHSET, &id))
            : nullptr;
    if (ifi == nullptr || set == nullptr) return std::nullopt;
    TextFace face;
    face.font.type = FO_TYPE_DEVICE;
    face.font.face = index;
    face.font.metrics = ifi;
    face.font.transform = XFORML{1, 0, 0, 1, 0, 0};
    face.font.handles = AllHandles(*set);
    face.ascent = ifi->fwdWinAscender;
    face.cellHeight =
        std::max<LONG>(1, ifi->fwdWinAscender + std::max<LONG>(0, ifi->fwdWinDescender));
    face.underlineThickness = std::max<LONG>(1, ifi->fwdUnderscoreSize);
    face.underlineOffset = std::max<LONG>(1, -ifi->fwdUnderscorePosition);
    face.strikeoutThickness = std::max<LONG>(1, ifi->fwdStrikeoutSize);
    face.strikeoutOffset = ifi->fwdStrikeoutPosition > 0 ? ifi->fwdStrikeoutPosition
                                                         : std::max<LONG>(1, face.ascent / 2);
    face.nominalWidth = ifi->fwdAveCharWidth;
    face.glyphOf = [set](char32_t c, HGLYPH* glyph) { return GlyphInSet(*set, c, glyph); };
    HGLYPH fallback = 0;
    if (GlyphInSet(*set, ifi->wcDefaultChar, &fallback)) face.defaultGlyph = fallback;
    // Widths from the driver's glyph data; without it, from its metrics as
    // the printer places characters: double-byte ones of a Shift-JIS face by
    // the maximum increment, all others by the average width.
    face.advanceOf = [device, ifi](HGLYPH glyph, FONTOBJ* font) -> FIX {
        GLYPHDATA data{};
        if (device.data != nullptr &&
            device.data(device.pdev, font, QFD_GLYPHANDBITMAP, glyph, &data, nullptr, 0) != -1)
            return data.fxD;
        constexpr BYTE kShiftJis = 128;
        const bool wide = glyph > 0xFF && ifi->jWinCharSet == kShiftJis;
        return FIX{wide ? ifi->fwdMaxCharInc : ifi->fwdAveCharWidth} * 16;
    };
    return face;
}

TextFace FromSystemFace(std::shared_ptr<const SystemFace> system) {
    TextFace face;
    face.font.type = FO_TYPE_TRUETYPE | system->simulations;
    face.font.metrics = system->ifi();
    face.font.transform = system->transform;
    face.font.handles = system->handles;
    face.font.glyphs = system->glyphs;
    face.ascent = system->ascent;
    face.cellHeight = system->cellHeight;
    face.underlineOffset = system->underlineOffset;
    face.underlineThickness = system->underlineThickness;
    face.strikeoutOffset = system->strikeoutOffset;
    face.strikeoutThickness = system->strikeoutThickness;
    const SystemFace* raw = system.get();
    face.glyphOf = [raw](char32_t c, HGLYPH* glyph) {
        *glyph = raw->GlyphOf(c);
        return *glyph != 0;
    };
    face.defaultGlyph = 0;  // the face's own "missing" glyph
    face.advanceOf = [raw](HGLYPH glyph, FONTOBJ*) { return raw->glyphs->Advance(glyph); };
    face.system = std::move(system);
    return face;
}

}  // namespace

DeviceFontQueries DeviceFontsOf(SURFOBJ* band, std::span<const DRVFN> entries) {
    DeviceFontQueries device;
    if (band == nullptr) return device;
    device.pdev = band->dhpdev;
    device.count = DeviceFontCountOf(band);
    device.font = TableEntry<PFN_DrvQueryFont>(entries, INDEX_DrvQueryFont);
    device.tree = TableEntry<PFN_DrvQueryFontTree>(entries, INDEX_DrvQueryFontTree);
    device.data = TableEntry<PFN_DrvQueryFontData>(entries, INDEX_DrvQueryFontData);
    return device;
}

std::optional<TextFace> FindTextFace(const DeviceFontQueries& device, const PageText& text,
                                     std::string* error) {
    const std::string name = platform::ToUtf8(text.face);
    if (const ULONG index = FindDeviceFace(device, text)) {
        std::optional<TextFace> face = DeviceFace(device, index);
        if (!face && error != nullptr)
            *error = "the driver gave no metrics or glyphs for its font face \"" + name + "\"";
        return face;
    }
    // Text that names no face is set in the system's sans-serif face.
    const std::u16string family = text.face.empty() ? u"sans-serif" : text.face;
    const LONG size = text.size.value_or(kDefaultCellHeight);
    if (size < 1 || size > kMaxCellHeight) {
        if (error != nullptr)
            *error = "font size " + std::to_string(size) + " of face \"" + name +
                     "\" is out of range (1 to " + std::to_string(kMaxCellHeight) + " dots)";
        return std::nullopt;
    }
    if (!SystemFontsUsable()) {
        if (error != nullptr)
            *error = "font face \"" + name +
                     "\" is not the printer's, and the system's fonts cannot be used "
                     "(fontconfig and FreeType do not load)";
        return std::nullopt;
    }
    std::shared_ptr<const SystemFace> system = FindSystemFace(family, text.bold, text.italic, size);
    if (!system) {
        if (error != nullptr) *error = "unknown font face \"" + name + "\"";
        return std::nullopt;
    }
    return FromSystemFace(std::move(system));
}

}  // namespace host
