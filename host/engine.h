// The graphics engine's services that the driver calls (Eng...), provided by
// the print host. They live in the host library so that the driver library
// and the program that drives it share one engine.
#pragma once

#include "host/winddi.h"

extern "C" {
// Palettes. PAL_INDEXED with `count` colours (0x00RRGGBB), or PAL_RGB /
// PAL_BGR without entries. A null handle on failure.
QLPR_EXPORT HPALETTE EngCreatePalette(ULONG mode, ULONG count, ULONG* colours, FLONG red,
                                      FLONG green, FLONG blue);
QLPR_EXPORT BOOL EngDeletePalette(HPALETTE palette);

// The glyph set of `count` single-byte codes from `firstChar` on the code
// page (0: the ANSI code page), each code's glyph handle being the code
// itself, grouped in runs of consecutive Unicode values. Released with
// EngFreeMem.
QLPR_EXPORT FD_GLYPHSET* EngComputeGlyphSet(INT codePage, INT firstChar, INT count);

// A resource of the driver module `module` (as HMODULE) by id and type:
// its bytes and, with `size` given, their count; null when it has none.
QLPR_EXPORT PVOID EngFindResource(HANDLE module, int id, int type, ULONG* size);

QLPR_EXPORT PVOID EngAllocMem(ULONG flags, ULONG bytes, ULONG tag);
QLPR_EXPORT void EngFreeMem(PVOID block);

// Surfaces. A bitmap of `size` in one of the BMF_ formats; `stride` 0 means
// the natural stride (rows padded to 4 bytes), a negative one is refused.
// BMF_TOPDOWN puts scan line 0 first (otherwise pvScan0 is the last row of
// the block and lDelta negative); without BMF_NOZEROINIT the bits are
// zeroed; `bits`, when given, is the caller's memory. BMF_USERMEM asks for
// the bits in ordinary process memory, which is all this engine has.
// A null handle on failure (bad size or format, out of memory, or more than
// 256 MiB of bits). Run-length bitmaps (BMF_4RLE, BMF_8RLE) take the size of
// their data in `stride`; their cjBits is that size, pvScan0 the start of
// the data and lDelta 0, and their data runs bottom-up unless BMF_TOPDOWN.
QLPR_EXPORT HBITMAP EngCreateBitmap(SIZEL size, LONG stride, ULONG format, FLONG flags, PVOID bits);
// A stride below one row of pixels is refused. Lent bits are used as they
// are, never zeroed nor freed, and must hold stride x height bytes. The
// HBITMAP's value is also the surface's HSURF.
// EngDeleteSurface refuses a handle that is not a live surface; a surface
// deleted while locked is refused by handle at once and freed at its last
// EngUnlockSurface.
QLPR_EXPORT BOOL EngDeleteSurface(HSURF surface);
// The engine's SURFOBJ of a surface, valid until EngUnlockSurface.
QLPR_EXPORT SURFOBJ* EngLockSurface(HSURF surface);
QLPR_EXPORT void EngUnlockSurface(SURFOBJ* surface);
// Ties a surface to a device (its hdev and dhpdev are then set) and records
// which drawing entries of the driver it hooks.
QLPR_EXPORT BOOL EngAssociateSurface(HSURF surface, HDEV device, FLONG hooks);
QLPR_EXPORT BOOL EngMarkBandingSurface(HSURF surface);

// Stretches `sourceRect` of `source` onto `destRect` of `dest` through the
// clip and the colour translation (see the drawing services below).
QLPR_EXPORT BOOL EngStretchBlt(SURFOBJ* dest, SURFOBJ* source, SURFOBJ* mask, CLIPOBJ* clip,
                               XLATEOBJ* xlate, COLORADJUSTMENT* colourAdjust,
                               POINTL* halftoneOrigin, RECTL* destRect, RECTL* sourceRect,
                               POINTL* maskOrigin, ULONG mode);
// How this engine reads EngStretchBlt's arguments:
// - a rectangle running right-to-left or bottom-to-top mirrors the picture
//   (both doing so cancel out); empty ones draw nothing (TRUE); rectangles
//   more than 2^30 pixels wide or high are refused;
// - a destination rectangle that passes the destination's edges is cut, the
//   source being sampled as if it were not; a destination pixel whose
//   sample falls outside the source is left alone;
// - HALFTONE smooths (bilinear when enlarging, averaging when shrinking)
//   and, into one bit, dithers with an ordered pattern (Bayer) of the size
//   the destination's device reported in its GDIINFO (ulHTPatternSize: 4x4,
//   8x8 ...; 8x8 for a surface of no device), anchored at `halftoneOrigin`
//   (the destination's origin when null), pure black and pure white
//   staying exact; any other mode takes the nearest pixel, and into one bit
//   the nearer of black and white;
// - the mask and the colour adjustment are not looked at.

// ---- the engine's drawing services (drawing.cpp and its neighbours) --------
// Each draws into a bitmap surface of 1, 8 or 24 bits per pixel (the band
// formats: 1 bit MSB first with 1 white; 8 bits grey, 0 black; 24 bits red,
// green, blue in memory order) from a source of any of the eight bitmap
// formats, through the clip and the colour translation (to COLOURs
// 0x00BBGGRR). Grey is (5 R + 9 G + 2 B) >> 4. Into one bit a colour
// becomes the nearer of black and white (white when R + G + B >= 383),
// unless a halftoned stretch dithers it. Nothing outside either
// surface's bits is read or written; unusable surfaces or rectangles are
// refused (FALSE) without drawing.
QLPR_EXPORT BOOL EngBitBlt(SURFOBJ* dest, SURFOBJ* source, SURFOBJ* mask, CLIPOBJ* clip,
                           XLATEOBJ* xlate, RECTL* destRect, POINTL* sourceOrigin,
                           POINTL* maskOrigin, BRUSHOBJ* brush, POINTL* brushOrigin, ROP4 rop4);
QLPR_EXPORT BOOL EngCopyBits(SURFOBJ* dest, SURFOBJ* source, CLIPOBJ* clip, XLATEOBJ* xlate,
                             RECTL* destRect, POINTL* sourceOrigin);
QLPR_EXPORT BOOL EngAlphaBlend(SURFOBJ* dest, SURFOBJ* source, CLIPOBJ* clip, XLATEOBJ* xlate,
                               RECTL* destRect, RECTL* sourceRect, BLENDOBJ* blend);

// Paths drawn as the engine draws them, aliased: strokes with the line
// attributes width, joins, caps and dashes, fills by the even-odd rule or,
// with FP_WINDINGMODE, the winding rule (a pixel is inside when its centre
// is); one-pixel (cosmetic) pens by Bresenham's walk, the end point not
// drawn. The brush and the mix's foreground ROP2 as for EngBitBlt. A path
// that draws nothing is TRUE; unusable arguments are FALSE (see paths.cpp).
QLPR_EXPORT BOOL EngStrokePath(SURFOBJ* surface, PATHOBJ* path, CLIPOBJ* clip, XFORMOBJ* transform,
                               BRUSHOBJ* brush, POINTL* brushOrigin, LINEATTRS* line, MIX mix);
QLPR_EXPORT BOOL EngFillPath(SURFOBJ* surface, PATHOBJ* path, CLIPOBJ* clip, BRUSHOBJ* brush,
                             POINTL* brushOrigin, MIX mix, FLONG options);
QLPR_EXPORT BOOL EngStrokeAndFillPath(SURFOBJ* surface, PATHOBJ* path, CLIPOBJ* clip,
                                      XFORMOBJ* transform, BRUSHOBJ* strokeBrush, LINEATTRS* line,
                                      BRUSHOBJ* fillBrush, POINTL* brushOrigin, MIX mix,
                                      FLONG options);

// Clip enumeration: CLIPOBJ_cEnumStart begins a walk over the clip's
// rectangles; each CLIPOBJ_bEnum fills the caller's ENUMRECTS (of `bytes`
// bytes) with the next ones and is FALSE when it handed out the last.
QLPR_EXPORT ULONG CLIPOBJ_cEnumStart(CLIPOBJ* clip, BOOL all, ULONG type, ULONG direction,
                                     ULONG limit);
QLPR_EXPORT BOOL CLIPOBJ_bEnum(CLIPOBJ* clip, ULONG bytes, ULONG* rects);
// Path enumeration: PATHOBJ_vEnumStart begins a walk over the path's
// figures; each PATHOBJ_bEnum fills `data` with the next figure's record
// (its points stay valid while the path lives) and is FALSE when it handed
// out the last (or, with no figure left, an empty record).
QLPR_EXPORT void PATHOBJ_vEnumStart(PATHOBJ* path);
QLPR_EXPORT BOOL PATHOBJ_bEnum(PATHOBJ* path, PATHDATA* data);
QLPR_EXPORT void PATHOBJ_vGetBounds(PATHOBJ* path, RECTFX* bounds);
// Text. EngTextOut draws a string's glyphs (from FONTOBJ_cGetGlyphs) in the
// foreground brush, the opaque rectangle in the opaque brush first and the
// extra rectangles (underline, strike-out; a list ended by an empty
// rectangle) after, all within the clip.
QLPR_EXPORT BOOL EngTextOut(SURFOBJ* surface, STROBJ* string, FONTOBJ* font, CLIPOBJ* clip,
                            RECTL* extra, RECTL* opaque, BRUSHOBJ* foreground,
                            BRUSHOBJ* opaqueBrush, POINTL* brushOrigin, MIX mix);
// String enumeration: STROBJ_vEnumStart begins a walk over the string's
// glyph runs; each STROBJ_bEnum hands out the next run's count and glyph
// positions and is FALSE when it handed out the last.
QLPR_EXPORT void STROBJ_vEnumStart(STROBJ* string);
QLPR_EXPORT BOOL STROBJ_bEnum(STROBJ* string, ULONG* count, GLYPHPOS** glyphs);
// The font's metrics record (for a device font, the driver's own).
QLPR_EXPORT IFIMETRICS* FONTOBJ_pifi(FONTOBJ* font);
// The font's transform from notional (em) units to device pixels.
QLPR_EXPORT XFORMOBJ* FONTOBJ_pxoGetXform(FONTOBJ* font);
// The number of the font's glyph handles; with `handles` given, fills it
// with them (the caller's array holds that many).
QLPR_EXPORT ULONG FONTOBJ_cGetAllGlyphHandles(FONTOBJ* font, HGLYPH* handles);
// The images (FO_GLYPHBITS) or outlines (FO_PATHOBJ) of `count` glyphs:
// *glyphs receives the first glyph's GLYPHDATA (valid until the next call
// on this font); 0 when the font has none to give.
QLPR_EXPORT ULONG FONTOBJ_cGetGlyphs(FONTOBJ* font, ULONG mode, ULONG count, HGLYPH* handles,
                                     PVOID* glyphs);
QLPR_EXPORT ULONG XFORMOBJ_iGetXform(XFORMOBJ* transform, XFORML* matrix);
QLPR_EXPORT BOOL XFORMOBJ_bApplyXform(XFORMOBJ* transform, ULONG mode, ULONG count, PVOID in,
                                      PVOID out);
// The target colour of source colour or index `index`.
QLPR_EXPORT ULONG XLATEOBJ_iXlate(XLATEOBJ* xlate, ULONG index);
// The driver's realization of a brush: made on first request through the
// driver's DrvRealizeBrush; null when there is none.
QLPR_EXPORT PVOID BRUSHOBJ_pvGetRbrush(BRUSHOBJ* brush);
// Memory for the driver's realization, called from DrvRealizeBrush; it lives
// as long as the brush.
QLPR_EXPORT PVOID BRUSHOBJ_pvAllocRbrush(BRUSHOBJ* brush, ULONG bytes);
}
inline constexpr ULONG FL_ZERO_MEMORY = 0x1;

namespace host {

// What the engine knows about a palette it made (for the host and tests).
struct PaletteInfo {
    ULONG mode = 0;
    std::uint32_t count = 0;
    const ULONG* colours = nullptr;
};
QLPR_EXPORT bool LookupPalette(HPALETTE palette, PaletteInfo* info);
QLPR_EXPORT std::size_t LivePaletteCount();

// The engine's device objects (HDEV): made by the host for every device it
// enables, and told the driver's device handle once the driver made one, so
// that EngAssociateSurface can fill a surface's dhpdev.
QLPR_EXPORT HDEV CreateEngineDevice();
QLPR_EXPORT void SetEngineDevicePdev(HDEV device, DHPDEV pdev);
// The halftone pattern size (HT_PATSIZE_...) the driver reported for the
// device in its GDIINFO (ulHTPatternSize); 8x8 until told.
QLPR_EXPORT void SetEngineDeviceHalftone(HDEV device, ULONG patternSize);
// The halftone pattern size of the device a surface is associated with;
// 8x8 for a surface of no device.
QLPR_EXPORT ULONG HalftonePatternSizeOf(const SURFOBJ* surface);
// The number of device fonts the driver published for the device in its
// DEVINFO (cFonts; face indexes 1..count); 0 until told, and for a surface
// of no device.
QLPR_EXPORT void SetEngineDeviceFonts(HDEV device, ULONG count);
QLPR_EXPORT ULONG DeviceFontCountOf(const SURFOBJ* surface);
QLPR_EXPORT void DeleteEngineDevice(HDEV device);

// What the engine knows about a surface (for the host and tests).
struct SurfaceInfo {
    HDEV device = nullptr;
    FLONG hooks = 0;
    bool banding = false;
};
QLPR_EXPORT bool LookupSurface(HSURF surface, SurfaceInfo* info);
QLPR_EXPORT std::size_t LiveSurfaceCount();

}  // namespace host
