// Bitmap output: every page becomes one complete bitmap image file in the
// job stream instead of printer commands.
#pragma once

#include <cstdint>

#include "command/ext_pdev.h"

// Bytes of one output row of `pixels` pixels at `bits` per pixel, unpadded.
inline DWORD RowBytes(LONG pixels, DWORD bits) {
    return static_cast<DWORD>((static_cast<std::uint64_t>(pixels) * bits + 7) / 8);
}
