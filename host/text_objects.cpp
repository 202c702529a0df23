// The engine's string, font and transform objects (see text_objects.h) and
// the services a driver calls on them.

#include "host/text_objects.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <unordered_map>

#include "host/engine.h"
#include "host/object_registry.h"

namespace host {

struct EngineTransform::State {
    XFORMOBJ object{};
    XFORML matrix{};
};

struct EngineString::State {
    STROBJ object{};
    std::vector<GLYPHPOS> glyphs;
    std::u16string text;
    ULONG runLength = 0;
    std::size_t next = 0;
};

struct EngineFont::State {
    FONTOBJ object{};
    Description description;
    std::optional<EngineTransform> transform;
    // What FONTOBJ_cGetGlyphs handed out, by glyph handle: images and
    // outlines are made once per font and live as long as it.
    struct Glyph {
        GLYPHDATA data{};
        std::vector<BYTE> bits;  // a GLYPHBITS record
        std::unique_ptr<EnginePath> path;
    };
    std::unordered_map<HGLYPH, std::unique_ptr<Glyph>> images;
    std::unordered_map<HGLYPH, std::unique_ptr<Glyph>> outlines;
};

namespace {

Registry<EngineTransform::State>& Transforms() {
    static auto* registry = new Registry<EngineTransform::State>;
    return *registry;
}
Registry<EngineString::State>& Strings() {
    static auto* registry = new Registry<EngineString::State>;
    return *registry;
}
Registry<EngineFont::State>& Fonts() {
    static auto* registry = new Registry<EngineFont::State>;
    return *registry;
}

constexpr ULONG DDI_ERROR = 0xFFFFFFFF;

ULONG Complexity(const XFORML& m) {
    if (m.eM12 != 0 || m.eM21 != 0) return GX_GENERAL;
    if (m.eM11 != 1 || m.eM22 != 1) return GX_SCALE;
    return m.eDx == 0 && m.eDy == 0 ? GX_IDENTITY : GX_OFFSET;
}

// The inverse of the matrix; false when it has none.
bool Invert(const XFORML& m, XFORML* inverse) {
    const double det = double{m.eM11} * m.eM22 - double{m.eM12} * m.eM21;
    if (det == 0 || !std::isfinite(det)) return false;
    inverse->eM11 = static_cast<FLOATL>(m.eM22 / det);
    inverse->eM12 = static_cast<FLOATL>(-m.eM12 / det);
    inverse->eM21 = static_cast<FLOATL>(-m.eM21 / det);
    inverse->eM22 = static_cast<FLOATL>(m.eM11 / det);
    inverse->eDx = static_cast<FLOATL>(-(m.eDx * inverse->eM11 + m.eDy * inverse->eM21));
    inverse->eDy = static_cast<FLOATL>(-(m.eDx * inverse->eM12 + m.eDy * inverse->eM22));
    return true;
}

// Rounds to the nearest whole value; false when it does not fit a LONG.
bool Round(double value, LONG* result) {
    const double rounded = std::floor(value + 0.5);
    if (!(rounded >= -2147483648.0 && rounded <= 2147483647.0)) return false;
    *result = static_cast<LONG>(rounded);
    return true;
}

bool Apply(const XFORML& m, double scaleIn, double scaleOut, ULONG count, const POINTL* in,
           POINTL* out) {
    for (ULONG i = 0; i < count; ++i) {
        const double x = in[i].x / scaleIn;
        const double y = in[i].y / scaleIn;
        const double tx = (x * m.eM11 + y * m.eM21 + m.eDx) * scaleOut;
        const double ty = (x * m.eM12 + y * m.eM22 + m.eDy) * scaleOut;
        POINTL result;
        if (!Round(tx, &result.x) || !Round(ty, &result.y)) return false;
        out[i] = result;
    }
    return true;
}

}  // namespace

// ---- transforms ---------------------------------------------------------------

EngineTransform::EngineTransform(const XFORML& matrix) : state_(std::make_unique<State>()) {
    state_->matrix = matrix;
    Transforms().Add(&state_->object, state_.get());
}

EngineTransform::~EngineTransform() {
    Transforms().Remove(&state_->object);
}

XFORMOBJ* EngineTransform::object() {
    return &state_->object;
}

// ---- strings ------------------------------------------------------------------

EngineString::EngineString(std::vector<Glyph> glyphs, std::u16string text, RECTL background,
                           FLONG accel, ULONG charInc, ULONG runLength)
    : state_(std::make_unique<State>()) {
    state_->glyphs.reserve(glyphs.size());
    for (const Glyph& glyph : glyphs)
        state_->glyphs.push_back({glyph.handle, nullptr, glyph.origin});
    state_->text = std::move(text);
    state_->runLength = runLength;
    STROBJ& string = state_->object;
    string.cGlyphs = static_cast<ULONG>(state_->glyphs.size());
    string.flAccel = accel;
    string.ulCharInc = charInc;
    string.rclBkGround = background;
    string.pgp = runLength == 0 && !state_->glyphs.empty() ? state_->glyphs.data() : nullptr;
    string.pwszOrg = state_->text.empty() ? nullptr : state_->text.data();
    Strings().Add(&state_->object, state_.get());
}

EngineString::~EngineString() {
    Strings().Remove(&state_->object);
}

STROBJ* EngineString::object() {
    return &state_->object;
}

// ---- fonts --------------------------------------------------------------------

EngineFont::EngineFont(Description description) : state_(std::make_unique<State>()) {
    static std::atomic<ULONG> unique{1};
    state_->description = std::move(description);
    const Description& font = state_->description;
    if (font.transform) state_->transform.emplace(*font.transform);
    FONTOBJ& object = state_->object;
    object.iUniq = unique++;
    object.iFace = font.face;
    object.flFontType = font.type;
    if (font.metrics != nullptr) {
        double width = font.metrics->fwdMaxCharInc;
        if (font.transform) width *= std::fabs(double{font.transform->eM11});
        object.cxMax = static_cast<ULONG>(std::ceil(width));
    }
    Fonts().Add(&state_->object, state_.get());
}

EngineFont::~EngineFont() {
    Fonts().Remove(&state_->object);
}

FONTOBJ* EngineFont::object() {
    return &state_->object;
}

}  // namespace host

using host::EngineFont;
using host::EngineString;
using host::EngineTransform;

extern "C" {

void STROBJ_vEnumStart(STROBJ* string) {
    if (EngineString::State* state = host::Strings().Find(string)) state->next = 0;
}

BOOL STROBJ_bEnum(STROBJ* string, ULONG* count, GLYPHPOS** glyphs) {
    EngineString::State* state = host::Strings().Find(string);
    if (count != nullptr) *count = 0;
    if (glyphs != nullptr) *glyphs = nullptr;
    if (state == nullptr || count == nullptr || glyphs == nullptr) return FALSE;
    const std::size_t total = state->glyphs.size();
    const std::size_t start = state->next;
    if (start >= total) return FALSE;
    std::size_t length = total - start;
    if (state->runLength != 0 && length > state->runLength) length = state->runLength;
    state->next = start + length;
    *count = static_cast<ULONG>(length);
    *glyphs = state->glyphs.data() + start;
    return state->next < total ? TRUE : FALSE;
}

IFIMETRICS* FONTOBJ_pifi(FONTOBJ* font) {
    EngineFont::State* state = host::Fonts().Find(font);
    return state != nullptr ? const_cast<IFIMETRICS*>(state->description.metrics) : nullptr;
}

XFORMOBJ* FONTOBJ_pxoGetXform(FONTOBJ* font) {
    EngineFont::State* state = host::Fonts().Find(font);
    return state != nullptr && state->transform ? state->transform->object() : nullptr;
}

ULONG FONTOBJ_cGetAllGlyphHandles(FONTOBJ* font, HGLYPH* handles) {
    EngineFont::State* state = host::Fonts().Find(font);
    if (state == nullptr) return 0;
    const std::vector<HGLYPH>& all = state->description.handles;
    if (handles != nullptr && !all.empty())
        std::memcpy(handles, all.data(), all.size() * sizeof(HGLYPH));
    return static_cast<ULONG>(all.size());
}

// One glyph per call, as the platform's engine gives them: the first of
// `handles`.
ULONG FONTOBJ_cGetGlyphs(FONTOBJ* font, ULONG mode, ULONG count, HGLYPH* handles, PVOID* glyphs) {
    if (glyphs != nullptr) *glyphs = nullptr;
    EngineFont::State* state = host::Fonts().Find(font);
    if (state == nullptr || count == 0 || handles == nullptr || glyphs == nullptr ||
        state->description.glyphs == nullptr || (mode != FO_GLYPHBITS && mode != FO_PATHOBJ))
        return 0;
    const HGLYPH handle = handles[0];
    auto& cache = mode == FO_GLYPHBITS ? state->images : state->outlines;
    auto found = cache.find(handle);
    if (found == cache.end()) {
        host::GlyphSource& source = *state->description.glyphs;
        auto glyph = std::make_unique<EngineFont::State::Glyph>();
        GLYPHDATA& data = glyph->data;
        data.hg = handle;
        data.fxD = source.Advance(handle);
        data.ptqD.x = std::int64_t{data.fxD} << 28;  // 32.32 from 28.4
        if (mode == FO_GLYPHBITS) {
            host::GlyphImage image;
            if (!source.Image(handle, &image)) return 0;
            const std::size_t stride = (static_cast<std::size_t>(image.size.cx) + 7) / 8;
            const std::size_t bytes = stride * static_cast<std::size_t>(image.size.cy);
            if (image.size.cx < 0 || image.size.cy < 0 || image.bits.size() < bytes) return 0;
            glyph->bits.assign(offsetof(GLYPHBITS, aj) + std::max<std::size_t>(bytes, 1), 0);
            auto* bits = reinterpret_cast<GLYPHBITS*>(glyph->bits.data());
            bits->ptlOrigin = image.origin;
            bits->sizlBitmap = image.size;
            if (bytes != 0) std::memcpy(bits->aj, image.bits.data(), bytes);
            data.gdf.pgb = bits;
            data.rclInk = {image.origin.x, image.origin.y, image.origin.x + image.size.cx,
                           image.origin.y + image.size.cy};
            data.fxInkTop = -image.origin.y * 16;
            data.fxInkBottom = -(image.origin.y + image.size.cy) * 16;
        } else {
            std::vector<host::EnginePath::Figure> figures;
            if (!source.Outline(handle, &figures)) return 0;
            glyph->path = std::make_unique<host::EnginePath>(std::move(figures));
            data.gdf.ppo = glyph->path->object();
        }
        found = cache.emplace(handle, std::move(glyph)).first;
    }
    *glyphs = &found->second->data;
    return 1;
}

ULONG XFORMOBJ_iGetXform(XFORMOBJ* transform, XFORML* matrix) {
    EngineTransform::State* state = host::Transforms().Find(transform);
    if (state == nullptr) return host::DDI_ERROR;
    if (matrix != nullptr) *matrix = state->matrix;
    return host::Complexity(state->matrix);
}

BOOL XFORMOBJ_bApplyXform(XFORMOBJ* transform, ULONG mode, ULONG count, PVOID in, PVOID out) {
    EngineTransform::State* state = host::Transforms().Find(transform);
    if (state == nullptr || in == nullptr || out == nullptr) return FALSE;
    const auto* points = static_cast<const POINTL*>(in);
    auto* results = static_cast<POINTL*>(out);
    XFORML inverse;
    switch (mode) {
        case XF_LTOL:
            return host::Apply(state->matrix, 1, 1, count, points, results) ? TRUE : FALSE;
        case XF_LTOFX:
            return host::Apply(state->matrix, 1, 16, count, points, results) ? TRUE : FALSE;
        case XF_INV_LTOL:
            return host::Invert(state->matrix, &inverse) &&
                           host::Apply(inverse, 1, 1, count, points, results)
                       ? TRUE
                       : FALSE;
        case XF_INV_FXTOL:
            return host::Invert(state->matrix, &inverse) &&
                           host::Apply(inverse, 16, 1, count, points, results)
                       ? TRUE
                       : FALSE;
        default:
            return FALSE;
    }
}

}  // extern "C"
