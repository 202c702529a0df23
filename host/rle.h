// Run-length encoded bitmap data (BMF_4RLE, BMF_8RLE), unpacked for the
// engine's drawing services. For the host library's own use.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "host/winddi.h"

namespace host {

// Unpacks `size` bytes of run-length data into one index byte per pixel,
// `width` x `height`, lines in the order the data gives them (the first
// decoded line first). The data is a sequence of pairs: a count n > 0 with
// a value is a run of n pixels (4-bit data alternates the value's high and
// low nibble); a count 0 is an escape: 0 ends the line, 1 ends the bitmap,
// 2 moves right and down by the next two bytes, n >= 3 is n literal pixels
// padded to a 16-bit boundary.
//
// Hostile data never reaches outside either buffer: pixels past the end of
// a line are dropped, a move or a line past the last line ends the
// decoding, and data that stops short leaves the rest as index 0. Pixels
// the data never sets (skipped by moves or short lines) are index 0 too.
// False only when the format or size is unusable or memory runs out.
QLPR_EXPORT bool UnpackRle(ULONG format, const BYTE* data, std::size_t size, LONG width,
                           LONG height, std::vector<BYTE>* indices);

}  // namespace host
