// The engine's text objects: a string (STROBJ) with its glyph positions and
// Unicode text, and a realized font (FONTOBJ) with its metrics, transform,
// glyph handles and, for fonts the engine rasterizes, the glyphs' images
// and outlines. Like the other engine objects, each stays registered with
// the engine for its lifetime, so that the STROBJ_, FONTOBJ_ and XFORMOBJ_
// services find the state behind it.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "host/engine_objects.h"

namespace host {

// One glyph's image: 1 bit per pixel, rows of (size.cx + 7) / 8 bytes, most
// significant bit leftmost; `origin` is the image's top left relative to the
// glyph's baseline point.
struct GlyphImage {
    POINTL origin{};
    SIZEL size{};
    std::vector<BYTE> bits;
};

// Where a font's glyph images and outlines come from.
class GlyphSource {
  public:
    virtual ~GlyphSource() = default;
    virtual bool Image(HGLYPH glyph, GlyphImage* image) = 0;
    // Closed figures in 28.4 fixed point relative to the baseline point.
    virtual bool Outline(HGLYPH glyph, std::vector<EnginePath::Figure>* figures) = 0;
    // The advance in 28.4 fixed point.
    virtual FIX Advance(HGLYPH glyph) = 0;
};

// A string as a text call gets it. With `runLength` 0, pgp holds all the
// glyphs and STROBJ_bEnum hands them out at once; above 0, pgp is null and
// STROBJ_bEnum hands out runs of that many. pwszOrg points at `text` (null
// when it is empty).
class QLPR_EXPORT EngineString {
  public:
    struct Glyph {
        HGLYPH handle;
        POINTL origin;  // the baseline point, device coordinates
    };

    EngineString(std::vector<Glyph> glyphs, std::u16string text, RECTL background, FLONG accel = 0,
                 ULONG charInc = 0, ULONG runLength = 0);
    ~EngineString();
    EngineString(const EngineString&) = delete;
    EngineString& operator=(const EngineString&) = delete;

    STROBJ* object();

    struct State;

  private:
    std::unique_ptr<State> state_;
};

// A realized font.
class QLPR_EXPORT EngineFont {
  public:
    struct Description {
        FLONG type = 0;                       // FO_TYPE_ and FO_SIM_ flags
        ULONG face = 0;                       // device fonts: the 1-based face index
        const IFIMETRICS* metrics = nullptr;  // not owned; outlives the font
        std::optional<XFORML> transform;      // notional units to pixels; none: no transform
        std::vector<HGLYPH> handles;          // every glyph handle of the font
        std::shared_ptr<GlyphSource> glyphs;  // none: the font gives no images or outlines
    };

    explicit EngineFont(Description description);
    ~EngineFont();
    EngineFont(const EngineFont&) = delete;
    EngineFont& operator=(const EngineFont&) = delete;

    FONTOBJ* object();

    struct State;

  private:
    std::unique_ptr<State> state_;
};

// A transform object of its own (for tests and for callers that transform
// points): the matrix as given.
class QLPR_EXPORT EngineTransform {
  public:
    explicit EngineTransform(const XFORML& matrix);
    ~EngineTransform();
    EngineTransform(const EngineTransform&) = delete;
    EngineTransform& operator=(const EngineTransform&) = delete;

    XFORMOBJ* object();

    struct State;

  private:
    std::unique_ptr<State> state_;
};

}  // namespace host
