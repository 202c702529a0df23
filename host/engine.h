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

QLPR_EXPORT PVOID EngAllocMem(ULONG flags, ULONG bytes, ULONG tag);
QLPR_EXPORT void EngFreeMem(PVOID block);
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

}  // namespace host
