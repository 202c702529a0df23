// The text entry: strings in device fonts (and TrueType fonts the printer's
// substitution table maps to one) become device text items; other text is
// drawn into the band, by the driver's own engine when it renders the page,
// else by the platform engine.

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "driver/band_range.h"
#include "driver/bitblt_entries.h"
#include "driver/device_instance.h"
#include "driver/driver_entry.h"
#include "driver/instance_log.h"
#include "driver/settings.h"
#include "host/engine.h"
#include "platform/last_error.h"
#include "platform/rect.h"
#include "render/brush_fill.h"
#include "render/device_fonts.h"
#include "render/path_render.h"
#include "render/text_out.h"

namespace {

constexpr ROP4 kRop4PatternCopy = 0xF0F0;
constexpr BYTE kRop3PatternCopy = 0xF0;
// Ink images: paint the brush where the glyph has ink, or, for a black
// brush, AND the ink in.
constexpr ROP4 kRop4InkInBrush = 0xB8B8;
constexpr ROP4 kRop4InkAnd = 0x8888;

// PrinterData::flags: TrueType fonts may print in device fonts.
constexpr DWORD kFlagFontSubstitution = 0x20;
// Cell heights of the sized text fonts are counted in this unit.
constexpr LONG kCellUnitMode1 = 27;
constexpr LONG kCellUnit = 34;

bool JobFailed(const DeviceInstance& instance) {
    return (instance.state & kStateJobFailed) != 0;
}

bool OwnRendering(const DeviceInstance& instance) {
    return (instance.geometry.renderFlags & kOwnRendering) != 0;
}

bool PageRotated(const DeviceInstance& instance) {
    return (instance.devmode.priv.layoutFlags & kLayoutRotated) != 0;
}

RECTL Normalised(const RECTL& r) {
    return {std::min(r.left, r.right), std::min(r.top, r.bottom), std::max(r.left, r.right),
            std::max(r.top, r.bottom)};
}

// The extra rectangles (underline, strike-out): a list ended by an empty one.
std::vector<RECTL> ExtraRects(const RECTL* extra) {
    std::vector<RECTL> rects;
    if (extra == nullptr) return rects;
    for (const RECTL* r = extra; !RectIsEmpty(*r); ++r) rects.push_back(*r);
    return rects;
}

RECTL UnionOf(const std::vector<RECTL>& rects) {
    RECTL all{};
    for (const RECTL& r : rects) all = UnionRect(all, Normalised(r));
    return all;
}

// ---- TrueType substitution ------------------------------------------------------

// The face name of a font's metrics, read within the record.
std::u16string FaceNameOf(const IFIMETRICS* metrics) {
    std::u16string name;
    if (metrics == nullptr || metrics->dpwszFaceName <= 0) return name;
    const auto* base = reinterpret_cast<const BYTE*>(metrics);
    for (std::size_t at = static_cast<std::size_t>(metrics->dpwszFaceName);
         at + sizeof(WCHAR) <= metrics->cjThis; at += sizeof(WCHAR)) {
        WCHAR c;
        std::memcpy(&c, base + at, sizeof c);
        if (c == 0) break;
        name.push_back(c);
    }
    return name;
}

// Text font results 1 and 2 are families of sizes, picked by the cell height.
WORD SizedTextFont(WORD family, LONG cellHeight, LONG unit) {
    struct Band {
        LONG fromUnits;
        WORD small;  // family 1
        WORD large;  // family 2
    };
    static constexpr Band kBands[] = {{8, 10, 20}, {4, 7, 17}, {2, 4, 14}, {1, 1, 11}};
    for (const Band& band : kBands)
        if (cellHeight >= band.fromUnits * unit) return family == 1 ? band.small : band.large;
    return 0;
}

WORD SubstitutedFontId(const DeviceInstance& instance, FONTOBJ* font, const STROBJ& string) {
    if ((font->flFontType & FO_TYPE_TRUETYPE) == 0 ||
        (instance.printerData.flags & kFlagFontSubstitution) == 0 ||
        instance.fontSubstitutions == nullptr)
        return 0;
    const std::u16string face = FaceNameOf(FONTOBJ_pifi(font));
    WORD id = LookupFontSubstitution(instance.fontSubstitutions, instance.fontSubstitutionsSize,
                                     face.c_str());
    if (PageRotated(instance) &&
        (id == 1 || id == 2 || id == kFontIdControl || id == kFontIdControlA))
        id = 0;
    if (id == 1 || id == 2) {
        const RECTL& cell = string.rclBkGround;
        const long long height = std::llabs(static_cast<long long>(cell.bottom) - cell.top);
        const LONG unit = instance.printerData.fontSizeMode == 1 ? kCellUnitMode1 : kCellUnit;
        id = SizedTextFont(id, static_cast<LONG>(std::min<long long>(height, INT32_MAX)), unit);
    }
    // A number no device font of this device carries (a size the data file
    // leaves out, text fonts on a rotated page) prints the text as TrueType.
    if (id != 0 && DeviceFontMetrics(instance, id) == nullptr) id = 0;
    return id;
}

// ---- decorations --------------------------------------------------------------

void FillWithBrush(DeviceInstance* instance, SURFOBJ* surface, const RECTL& rect, BRUSHOBJ* brush,
                   POINTL* brushOrigin, CLIPOBJ* clip) {
    if (brush == nullptr) return;
    TrackBandColor(instance, nullptr, brush, nullptr, kRop4PatternCopy);
    BrushBlt(instance, surface, rect, brush, brushOrigin, clip, kRop3PatternCopy);
}

// The baseline of the string's first glyph, when it has one.
bool FirstBaseline(STROBJ* string, LONG* baseline) {
    if (string->pgp != nullptr) {
        if (string->cGlyphs == 0) return false;
        *baseline = string->pgp[0].ptl.y;
        return true;
    }
    STROBJ_vEnumStart(string);
    ULONG count = 0;
    GLYPHPOS* glyphs = nullptr;
    STROBJ_bEnum(string, &count, &glyphs);
    if (count == 0 || glyphs == nullptr) return false;
    *baseline = glyphs[0].ptl.y;
    return true;
}

// What one text call gets.
struct TextCall {
    DeviceInstance* instance;
    SURFOBJ* surface;
    STROBJ* string;
    FONTOBJ* font;
    CLIPOBJ* clip;
    RECTL* extra;  // as the engine gave it, ended by an empty rectangle
    const std::vector<RECTL>& extras;
    bool extrasInBand;
    RECTL* opaque;
    bool opaqueInBand;
    BRUSHOBJ* foreground;
    BRUSHOBJ* opaqueBrush;
    POINTL* brushOrigin;
    MIX mix;
};

void FillOpaque(const TextCall& call) {
    if (call.opaqueInBand)
        FillWithBrush(call.instance, call.surface, *call.opaque, call.opaqueBrush, call.brushOrigin,
                      call.clip);
}

// Device text has no pixels in the band, but its background and lines do:
// an underline (a rectangle below the baseline) of a text font becomes the
// items' underline attribute, the opaque rectangle and every other line
// are drawn into the band.
BOOL DeviceText(const TextCall& call, WORD fontId) {
    LONG baseline = 0;
    const bool haveBaseline = IsTextFontId(fontId) && FirstBaseline(call.string, &baseline);
    const auto isUnderline = [&](const RECTL& r) {
        return haveBaseline && Normalised(r).top >= baseline;
    };
    if (std::any_of(call.extras.begin(), call.extras.end(), isUnderline))
        call.instance->textFlags |= kTextFlagUnderlined;
    FillOpaque(call);
    const BOOL result =
        DeviceFontText(call.instance, call.surface, call.string, call.font, call.clip, fontId);
    if (call.extrasInBand)
        for (const RECTL& r : call.extras)
            if (!isUnderline(r))
                FillWithBrush(call.instance, call.surface, r, call.foreground, call.brushOrigin,
                              call.clip);
    return result;
}

// ---- glyphs drawn by the driver --------------------------------------------------

template <class Visit>
void ForEachGlyph(STROBJ* string, Visit visit) {
    if (string->pgp != nullptr) {
        for (ULONG i = 0; i < string->cGlyphs; ++i) visit(string->pgp[i]);
        return;
    }
    STROBJ_vEnumStart(string);
    bool more = true;
    while (more) {
        ULONG count = 0;
        GLYPHPOS* glyphs = nullptr;
        more = STROBJ_bEnum(string, &count, &glyphs) != FALSE;
        if (count == 0 || glyphs == nullptr) break;
        for (ULONG i = 0; i < count; ++i) visit(glyphs[i]);
    }
}

// A glyph's bits wrapped as a 1-bit top-down bitmap and drawn at its place.
BOOL InkImage(const TextCall& call, const GLYPHBITS& bits, POINTL at, ROP4 rop4) {
    const SIZEL size = bits.sizlBitmap;
    if (size.cx <= 0 || size.cy <= 0) return TRUE;
    SURFOBJ source{};
    source.iType = STYPE_BITMAP;
    source.iBitmapFormat = BMF_1BPP;
    source.fjBitmap = BMF_TOPDOWN;
    source.sizlBitmap = size;
    source.lDelta = (size.cx + 7) / 8;
    source.cjBits = static_cast<ULONG>(source.lDelta) * static_cast<ULONG>(size.cy);
    source.pvBits = source.pvScan0 = const_cast<BYTE*>(bits.aj);
    RECTL target{at.x + bits.ptlOrigin.x, at.y + bits.ptlOrigin.y, 0, 0};
    target.right = target.left + size.cx;
    target.bottom = target.top + size.cy;
    RECTL sourceRect{0, 0, size.cx, size.cy};
    return DrvCommonBitBlt(kTransferInkImage, call.surface, &source, nullptr, call.clip, nullptr,
                           &target, &sourceRect, nullptr, call.foreground, call.brushOrigin, rop4,
                           nullptr, 0, nullptr);
}

void DrawBitmapGlyphs(const TextCall& call) {
    const bool blackBrush = call.foreground == nullptr || call.foreground->iSolidColor == 0;
    const ROP4 rop4 = blackBrush ? kRop4InkAnd : kRop4InkInBrush;
    ForEachGlyph(call.string, [&](const GLYPHPOS& glyph) {
        HGLYPH handle = glyph.hg;
        GLYPHDATA* data = nullptr;
        if (FONTOBJ_cGetGlyphs(call.font, FO_GLYPHBITS, 1, &handle,
                               reinterpret_cast<PVOID*>(&data)) == 0 ||
            data == nullptr || data->gdf.pgb == nullptr)
            return;
        InkImage(call, *data->gdf.pgb, glyph.ptl, rop4);
    });
}

void DrawOutlineGlyphs(const TextCall& call) {
    if (FONTOBJ_pxoGetXform(call.font) == nullptr) return;
    ForEachGlyph(call.string, [&](const GLYPHPOS& glyph) {
        HGLYPH handle = glyph.hg;
        GLYPHDATA* data = nullptr;
        if (FONTOBJ_cGetGlyphs(call.font, FO_PATHOBJ, 1, &handle,
                               reinterpret_cast<PVOID*>(&data)) == 0 ||
            data == nullptr || data->gdf.ppo == nullptr)
            return;
        PATHOBJ* path = data->gdf.ppo;
        RECTFX fixed{};
        PATHOBJ_vGetBounds(path, &fixed);
        const POINTL at = glyph.ptl;
        const RECTL bounds =
            OffsetRect({FixToPixel(fixed.xLeft), FixToPixel(fixed.yTop),
                        FixToPixel(fixed.xRight) + 1, FixToPixel(fixed.yBottom) + 1},
                       at.x, at.y);
        RenderPath(call.instance, call.surface,
                   {.operation = PathOperation::Glyph,
                    .path = path,
                    .clip = call.clip,
                    .fillBrush = call.foreground,
                    .brushOrigin = call.brushOrigin,
                    .mix = call.mix,
                    .options = FP_WINDINGMODE,
                    .bounds = bounds,
                    .offset = &at});
    });
}

// The driver's own drawing of other text: the opaque rectangle first, the
// glyphs, then the underline and strike-out over them.
void DrawOwnText(const TextCall& call) {
    FillOpaque(call);
    if ((call.font->flFontType & FO_TYPE_RASTER) != 0)
        DrawBitmapGlyphs(call);
    else
        DrawOutlineGlyphs(call);
    if (call.extrasInBand)
        for (const RECTL& r : call.extras)
            FillWithBrush(call.instance, call.surface, r, call.foreground, call.brushOrigin,
                          call.clip);
}

bool IsLoneSpace(const STROBJ& string, const RECTL* opaque, const std::vector<RECTL>& extras) {
    return string.pwszOrg != nullptr && opaque == nullptr && extras.empty() &&
           string.cGlyphs == 1 && string.pwszOrg[0] == u' ';
}

BOOL OtherText(const TextCall& call) {
    DeviceInstance* instance = call.instance;
    const bool loneSpace = IsLoneSpace(*call.string, call.opaque, call.extras);
    const bool backgroundInBand = BandRangeCheck(instance, call.string->rclBkGround, call.clip);
    if (call.opaqueInBand && call.opaqueBrush != nullptr)
        TrackBandColor(instance, nullptr, call.opaqueBrush, nullptr, kRop4PatternCopy);
    if ((call.extrasInBand || backgroundInBand) && call.foreground != nullptr)
        TrackBandColor(instance, nullptr, call.foreground, nullptr, kRop4PatternCopy);
    if (loneSpace) return TRUE;
    if (!OwnRendering(*instance))
        return EngTextOut(call.surface, call.string, call.font, call.clip, call.extra, call.opaque,
                          call.foreground, call.opaqueBrush, call.brushOrigin, call.mix);
    DrawOwnText(call);
    return TRUE;
}

}  // namespace

BOOL DrvTextOut(SURFOBJ* surface, STROBJ* string, FONTOBJ* font, CLIPOBJ* clip, RECTL* extra,
                RECTL* opaque, BRUSHOBJ* foreground, BRUSHOBJ* opaqueBrush, POINTL* brushOrigin,
                MIX mix) {
    DeviceInstance* instance = SurfaceInstance(surface);
    if (instance == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    InstanceLog(*instance, kLogLevelOrdinary, "Enter DrvTextOut()\n");
    if (JobFailed(*instance)) return TRUE;
    if (string == nullptr || font == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const std::vector<RECTL> extras = ExtraRects(extra);
    const bool opaqueInBand = opaque != nullptr && BandRangeCheck(instance, *opaque, clip);
    const bool extrasInBand = !extras.empty() && BandRangeCheck(instance, UnionOf(extras), clip);
    const TextCall call{instance,   surface,     string,       font,   clip,
                        extra,      extras,      extrasInBand, opaque, opaqueInBand,
                        foreground, opaqueBrush, brushOrigin,  mix};
    instance->textFlags = 0;

    if ((font->flFontType & FO_TYPE_DEVICE) != 0) {
        if (font->iFace == 0 || font->iFace > instance->deviceFontCount ||
            instance->deviceFonts == nullptr)
            return FALSE;
        InstanceLog(*instance, kLogLevelOrdinary, " Font is Device Font:%d\n", font->iFace);
        return DeviceText(call, instance->deviceFonts[font->iFace - 1].fontId);
    }
    const WORD substitute = SubstitutedFontId(*instance, font, *string);
    if (substitute != 0) {
        InstanceLog(*instance, kLogLevelOrdinary, " Font is Substituted Device Font:%d\n",
                    substitute);
        instance->textFlags |= kTextFlagSubstituted;
        return DeviceText(call, substitute);
    }
    // The number logged is the font's type: what made it no device font.
    InstanceLog(*instance, kLogLevelOrdinary, " Font is Not Device Font:%d\n", font->flFontType);
    return OtherText(call);
}
