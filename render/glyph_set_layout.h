// The stored form of a glyph set, as the driver library carries it in its
// resources: the engine's glyph-set layout with byte offsets (from the start
// of the block) in place of pointers, so that it can be kept as plain bytes.
// Little-endian, 32-bit fields; the same bytes on every platform.
#pragma once

#include <cstddef>
#include <cstdint>

namespace glyphset {

struct StoredHeader {
    std::uint32_t size;  // bytes of the whole block
    std::uint32_t flags;
    std::uint32_t glyphCount;
    std::uint32_t runCount;
};
struct StoredRun {
    std::uint16_t firstChar;     // first Unicode character of the run
    std::uint16_t glyphCount;    // consecutive characters from it
    std::uint32_t handleOffset;  // offset of the run's first 32-bit glyph handle
};
static_assert(sizeof(StoredHeader) == 16);
static_assert(sizeof(StoredRun) == 8 && offsetof(StoredRun, handleOffset) == 4);

// The resource that holds the Shift-JIS glyph set in the driver library.
inline constexpr unsigned kShiftJisResourceType = 260;
inline constexpr unsigned kShiftJisResourceId = 1;
inline constexpr std::uint32_t kShiftJisGlyphCount = 7484;
inline constexpr std::uint32_t kShiftJisRunCount = 4247;

}  // namespace glyphset
