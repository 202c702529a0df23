// Halftoning of 8-bit (grey) and 24-bit bands into the one-bit planes the
// printer takes: pixels read in printer order, a grey value per pixel, the
// two-colour plane mapping, and dot decisions by the job's dither method.
#pragma once

#include "command/ext_pdev.h"

// Dither methods (dmDitherType).
inline constexpr DWORD kDitherErrorDiffusion = 5;
inline constexpr DWORD kDitherOrdered4 = 257;
inline constexpr DWORD kDitherOrdered8 = 258;
inline constexpr DWORD kDitherThreshold = 260;

// A band of 8 or 24 bits per pixel as the driver rendered it.
struct HalftoneSource {
    const BYTE* bits;  // first row
    LONG stride;       // bytes from one row to the next
    LONG width;        // pixels
    LONG height;       // rows
    DWORD bitsPerPixel;  // 8 or 24
};

// Output size in printer order: rotation 0 and 180 keep width x height,
// 90 and 270 give height x width.
SIZEL HalftoneOutputSize(const HalftoneSource& source, int angle);

// Halftones `source`, read in printer order for `angle` (0, 90, 180, 270),
// into `plane1` and, when `plane2` is given, `plane2` (two-colour printing:
// plane 1 the dark range, plane 2 the light range), each of
// HalftoneOutputSize rows `outStride` bytes apart; most significant bit the
// leftmost dot, 1 white, 0 dot. The method is the record's dmDitherType.
// The record's HalftoneState is set up for the band and cleared after it.
// False when a working row cannot be allocated or the source is unusable.
bool HalftoneBand(ExtPdev* pdev, const HalftoneSource& source, int angle, BYTE* plane1,
                  BYTE* plane2, LONG outStride);
