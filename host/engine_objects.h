// The engine objects a drawing call hands to the driver (clip, colour
// translation, brush), and small owners that make them for the host and for
// tests. Each owner keeps its object registered with the engine for its
// lifetime, so that CLIPOBJ_bEnum, XLATEOBJ_iXlate and the BRUSHOBJ calls
// find the state behind it.
//
// Colours: a translation object turns a source colour or index into a
// COLOUR 0x00BBGGRR (red in the low byte), whatever the target surface.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "host/engine.h"

namespace host {

// A clip over a list of rectangles: DC_TRIVIAL when there are none, DC_RECT
// for one (rclBounds is the rectangle), DC_COMPLEX for more (rclBounds is
// their union). Empty or inverted rectangles are dropped, and overlapping
// ones are split (DisjointRectangles) so that the clip, as the platform's,
// never hands out a pixel twice.
class QLPR_EXPORT ClipRegion {
  public:
    ClipRegion();
    explicit ClipRegion(std::vector<RECTL> rectangles);
    ~ClipRegion();
    ClipRegion(const ClipRegion&) = delete;
    ClipRegion& operator=(const ClipRegion&) = delete;

    CLIPOBJ* object();
    const std::vector<RECTL>& rectangles() const;

    struct State;

  private:
    std::unique_ptr<State> state_;
};

// A colour translation from a source's colours to COLOURs.
class QLPR_EXPORT Translation {
  public:
    // Indexed sources: a table of the palette's entries (0x00RRGGBB).
    static std::unique_ptr<Translation> FromPalette(const std::vector<ULONG>& rrggbb);
    // From an engine palette: PAL_INDEXED gives a table, PAL_RGB (red in the
    // low byte) is trivial, PAL_BGR (blue in the low byte) swaps red and
    // blue, PAL_BITFIELDS reads 16-bit 5-5-5 values. Null for an unknown
    // palette.
    static std::unique_ptr<Translation> FromEnginePalette(HPALETTE palette);
    // The natural translation of a surface format: 16 bits 5-5-5, 24 and 32
    // bits blue, green, red in memory order. Null for indexed formats, which
    // need a palette.
    static std::unique_ptr<Translation> ForDirectFormat(ULONG format);
    // Red first already: XO_TRIVIAL.
    static std::unique_ptr<Translation> Trivial();

    ~Translation();
    Translation(const Translation&) = delete;
    Translation& operator=(const Translation&) = delete;

    XLATEOBJ* object();

    struct State;

  private:
    explicit Translation(std::unique_ptr<State> state);
    std::unique_ptr<State> state_;
};

// The platform's hatch styles.
inline constexpr ULONG HS_HORIZONTAL = 0;
inline constexpr ULONG HS_VERTICAL = 1;
inline constexpr ULONG HS_FDIAGONAL = 2;  // \ .
inline constexpr ULONG HS_BDIAGONAL = 3;  // /
inline constexpr ULONG HS_CROSS = 4;
inline constexpr ULONG HS_DIAGCROSS = 5;

// A solid brush (colour 0x00BBGGRR), or a pattern brush of COLOURs, rows
// top-down, or a hatch brush. The driver's realization is asked for through
// DrvRealizeBrush of `realize` on the first BRUSHOBJ_pvGetRbrush, with
// `target` as the surface it is realized for and the brush's pattern as a
// 24-bit pattern surface (1x1 for a solid brush); memory the driver allocates for it with
// BRUSHOBJ_pvAllocRbrush lives as long as the brush.
class QLPR_EXPORT EngineBrush {
  public:
    static std::unique_ptr<EngineBrush> Solid(ULONG colour, PFN_DrvRealizeBrush realize = nullptr,
                                              SURFOBJ* target = nullptr);
    // Null when the pattern is empty or `colours` holds fewer than
    // width x height entries.
    static std::unique_ptr<EngineBrush> Pattern(LONG width, LONG height,
                                                const std::vector<ULONG>& colours);
    // A hatch brush: lines of `colour` on white in an 8x8 pattern of hatch
    // style `style` (HS_HORIZONTAL .. HS_DIAGCROSS), the style passed to the
    // driver's realization. Null for an unknown style.
    static std::unique_ptr<EngineBrush> Hatch(ULONG style, ULONG colour,
                                              PFN_DrvRealizeBrush realize = nullptr,
                                              SURFOBJ* target = nullptr);
    ~EngineBrush();
    EngineBrush(const EngineBrush&) = delete;
    EngineBrush& operator=(const EngineBrush&) = delete;

    BRUSHOBJ* object();

    struct State;

  private:
    explicit EngineBrush(std::unique_ptr<State> state);
    std::unique_ptr<State> state_;
};

// A path of figures, each a run of points in 28.4 fixed point, open or
// closed. PATHOBJ_bEnum hands out one record per figure (figures without
// points are left out); PATHOBJ_vGetBounds gives the smallest fixed-point
// rectangle holding every point (all zero for an empty path).
class QLPR_EXPORT EnginePath {
  public:
    struct Figure {
        std::vector<POINTFIX> points;
        bool closed = false;
    };

    explicit EnginePath(std::vector<Figure> figures);
    ~EnginePath();
    EnginePath(const EnginePath&) = delete;
    EnginePath& operator=(const EnginePath&) = delete;

    PATHOBJ* object();
    const std::vector<Figure>& figures() const;

    struct State;

  private:
    std::unique_ptr<State> state_;
};

// The figures of a path this engine made; null for any other.
QLPR_EXPORT const std::vector<EnginePath::Figure>* LookupPathFigures(const PATHOBJ* path);

// The engine's own form of a brush, for its drawing services.
struct BrushPattern {
    LONG width = 0;
    LONG height = 0;
    const ULONG* colours = nullptr;  // width x height COLOURs, rows top-down
};
// The pattern of a brush that this engine made; false for any other.
QLPR_EXPORT bool LookupBrushPattern(const BRUSHOBJ* brush, BrushPattern* pattern);

// The rectangles of a clip object: for DC_COMPLEX all of them (through the
// enumeration), for DC_RECT its bounds; an empty list with `trivial` set
// when nothing clips.
QLPR_EXPORT std::vector<RECTL> ClipRectangles(CLIPOBJ* clip, bool* trivial);

// The pixels of `rectangles` as rectangles that do not overlap, ordered top
// down, then left to right; empty or inverted ones are dropped.
QLPR_EXPORT std::vector<RECTL> DisjointRectangles(std::vector<RECTL> rectangles);

// The smallest rectangle holding all of `rects` (at least one).
RECTL BoundsOf(const std::vector<RECTL>& rects);

}  // namespace host
