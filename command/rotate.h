// The 90° and 270° rotation of a one-bit bitmap, eight source rows at a
// time through nibble-spreading tables (most significant bit = leftmost
// pixel). Shared by the band encoder and the bitmap output.
#pragma once

#include "platform/types.h"

// Rotates `columns` byte columns of the source (`rows` rows, `stride` bytes
// apart), starting at byte column `firstColumn`: at 90° the columns are
// taken from there leftward, each read from the top row down; at 270° from
// there rightward, each read from the bottom row up. Byte column j taken
// fills the eight output rows 8j .. 8j + 7 (`outStride` bytes apart) with
// (rows + 7) / 8 bytes each; bits past the last source row are 1 (white).
// At 90° output row i of a column holds its pixel column 7 - i, at 270°
// pixel column i.
void RotateOneBit(const BYTE* source, LONG stride, LONG rows, LONG firstColumn, LONG columns,
                  int angle, BYTE* out, LONG outStride);
