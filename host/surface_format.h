// Pixel formats of engine surfaces, and the checks that keep every access to
// a SURFOBJ's bits inside its scan lines. For the host library's own use.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdlib>

#include "host/winddi.h"

namespace host {

using ::BitsPerPixel;

inline bool IsRunLength(ULONG format) {
    return format == BMF_4RLE || format == BMF_8RLE;
}

// Bytes that `width` pixels occupy, without padding.
inline std::uint64_t RowBytes(ULONG format, LONG width) {
    return (std::uint64_t{BitsPerPixel(format)} * static_cast<std::uint64_t>(width) + 7) / 8;
}

// Rows padded to 4 bytes: ((bits x width + 31) / 32) x 4.
inline std::uint64_t NaturalStride(ULONG format, LONG width) {
    return (std::uint64_t{BitsPerPixel(format)} * static_cast<std::uint64_t>(width) + 31) / 32 * 4;
}

// A SURFOBJ whose bits can be walked: a known format, a positive size, a
// first scan line, and lines at least one row of pixels apart. Whether the
// memory behind it is that large is its maker's promise.
inline bool UsableBitmap(const SURFOBJ* surface) {
    if (surface == nullptr || surface->pvScan0 == nullptr) return false;
    if (BitsPerPixel(surface->iBitmapFormat) == 0) return false;
    if (surface->sizlBitmap.cx <= 0 || surface->sizlBitmap.cy <= 0) return false;
    const std::uint64_t delta = static_cast<std::uint64_t>(std::llabs(surface->lDelta));
    return delta >= RowBytes(surface->iBitmapFormat, surface->sizlBitmap.cx);
}

// Whether every scan line of a usable bitmap lies inside its block of bits,
// when the surface tells the block (pvBits and cjBits); a surface that does
// not is taken at its word.
inline bool ScanLinesInsideBits(const SURFOBJ* surface) {
    if (surface->pvBits == nullptr || surface->cjBits == 0) return true;
    const auto first =
        static_cast<std::int64_t>(reinterpret_cast<std::uintptr_t>(surface->pvScan0) -
                                  reinterpret_cast<std::uintptr_t>(surface->pvBits));
    const std::int64_t span = std::int64_t{surface->lDelta} * (surface->sizlBitmap.cy - 1);
    const std::int64_t lowest = first + std::min<std::int64_t>(span, 0);
    const std::int64_t highest =
        first + std::max<std::int64_t>(span, 0) +
        static_cast<std::int64_t>(RowBytes(surface->iBitmapFormat, surface->sizlBitmap.cx));
    return lowest >= 0 && highest <= static_cast<std::int64_t>(surface->cjBits);
}

// Scan line `y` (0 <= y < height) of a usable bitmap.
inline BYTE* ScanLine(const SURFOBJ* surface, LONG y) {
    return static_cast<BYTE*>(surface->pvScan0) +
           static_cast<std::int64_t>(y) * static_cast<std::int64_t>(surface->lDelta);
}

}  // namespace host
