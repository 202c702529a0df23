// Raster operations of the driver's own bit-block engine: the 256
// three-operand operations (ROP3) applied a row at a time, the 16
// two-operand operations (ROP2) of brush fills and lines, and the tests of
// which operands a code uses.
//
// A ROP3 code is the truth table of its function: bit (4·P + 2·S + D) of the
// code is the result for pattern bit P, source bit S and destination bit D.
// A ROP2 code (1..16, the platform's mix numbering) minus one is the truth
// table over (2·P + D).
#pragma once

#include <array>
#include <cstdint>

#include "platform/types.h"

// Combines `count` bytes: destination[i] = F(pattern[(patternWidth - 1) & i],
// source[i], destination[i]). The pattern width is a power of two; an entry
// never reads an operand its code does not use.
using Rop3RowFunction = void (*)(BYTE* destination, const BYTE* source, const BYTE* pattern,
                                 int patternWidth, int count);
// Combines the n bytes of one destination pixel with the pattern pixel's bytes.
using Rop2PixelFunction = void (*)(BYTE* destination, const BYTE* pattern, int n);
// Combines n destination bytes with one byte value repeated.
using Rop2FillFunction = void (*)(BYTE* destination, BYTE value, int n);

inline constexpr int kRop2Black = 1;
inline constexpr int kRop2Nop = 11;
inline constexpr int kRop2Copy = 13;
inline constexpr int kRop2White = 16;

// Indexed by the ROP3 code.
extern const std::array<Rop3RowFunction, 256> Rop3RowTable;
// Indexed by the ROP2 code minus one.
extern const std::array<Rop2PixelFunction, 16> Rop2PixelTable;
extern const std::array<Rop2FillFunction, 16> Rop2FillTable;

constexpr bool Rop3UsesSource(BYTE rop3) {
    return (((rop3 >> 2) ^ rop3) & 0x33) != 0;
}
constexpr bool Rop3UsesPattern(BYTE rop3) {
    return (rop3 >> 4) != (rop3 & 0x0F);
}

// The ROP2 (1..16) of a code that depends on pattern and destination only;
// 13 (copy) for every other code.
int Rop3ToRop2(BYTE rop3);

// The mix handed to a brush fill: foreground in the low byte, background in
// the second.
constexpr ULONG MixOf(int foreground, int background) {
    return static_cast<ULONG>(foreground) | (static_cast<ULONG>(background) << 8);
}
constexpr int MixForeground(ULONG mix) {
    return static_cast<int>(mix & 0xFF);
}
constexpr int MixBackground(ULONG mix) {
    return static_cast<int>((mix >> 8) & 0xFF);
}

// Applies ROP2 `code` over the pixels x0 <= x < x1 of one band row of `bpp`
// bytes per pixel (1 or 3). The pattern row holds patternWidth pixels taken
// at band column x mod patternWidth. With `transparent` a pattern pixel whose
// bytes are all 0xFF leaves its destination pixel alone. A code outside 1..16
// draws nothing.
void Rop2Span(BYTE* row, int x0, int x1, const BYTE* patternRow, int patternWidth, int bpp,
              bool transparent, int code);

// The same on a 1-bit row (most significant bit leftmost): the pattern row is
// patternWidth bits, and with `transparent` a white (1) pattern bit leaves
// its pixel alone.
void Rop2SpanMono(BYTE* row, int x0, int x1, const BYTE* patternRow, int patternWidth,
                  bool transparent, int code);

// The ROP2 of one bit pair, for callers that work pixel by pixel.
constexpr int Rop2Bit(int code, int pattern, int destination) {
    return ((code - 1) >> ((pattern << 1) | destination)) & 1;
}
