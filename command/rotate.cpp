// The one-bit 90°/270° rotation (see rotate.h).
#include "command/rotate.h"

#include <array>
#include <cstdint>

namespace {

// Nibble bit k to byte k of a word (270°), or to byte 3 - k (90°).
constexpr std::array<std::uint32_t, 16> SpreadTable(bool reversed) {
    std::array<std::uint32_t, 16> table{};
    for (unsigned nibble = 0; nibble < 16; ++nibble)
        for (unsigned k = 0; k < 4; ++k)
            if ((nibble >> k) & 1) table[nibble] |= std::uint32_t{1} << (8 * (reversed ? 3 - k : k));
    return table;
}
constexpr std::array<std::uint32_t, 16> kSpread270 = SpreadTable(false);
constexpr std::array<std::uint32_t, 16> kSpread90 = SpreadTable(true);

void PutWord(std::uint32_t word, BYTE* out, LONG outStride) {
    for (int i = 0; i < 4; ++i) out[i * outStride] = static_cast<BYTE>(word >> (8 * (3 - i)));
}

}  // namespace

void RotateOneBit(const BYTE* source, LONG stride, LONG rows, LONG firstColumn, LONG columns,
                  int angle, BYTE* out, LONG outStride) {
    const bool quarter = angle == 90;
    const auto& spread = quarter ? kSpread90 : kSpread270;
    const LONG groups = (rows + 7) / 8;
    for (LONG j = 0; j < columns; ++j) {
        const LONG column = quarter ? firstColumn - j : firstColumn + j;
        BYTE* block = out + static_cast<std::ptrdiff_t>(8) * j * outStride;
        for (LONG g = 0; g < groups; ++g) {
            const LONG count = rows - 8 * g < 8 ? rows - 8 * g : 8;
            std::uint32_t high = 0;
            std::uint32_t low = 0;
            for (LONG b = 0; b < count; ++b) {
                const LONG row = quarter ? 8 * g + b : rows - 1 - 8 * g - b;
                const BYTE value = source[static_cast<std::ptrdiff_t>(row) * stride + column];
                high = high << 1 | spread[value >> 4];
                low = low << 1 | spread[value & 0x0F];
            }
            if (count < 8) {
                const int missing = 8 - count;
                const std::uint32_t white = 0x01010101u * ((1u << missing) - 1);
                high = high << missing | white;
                low = low << missing | white;
            }
            BYTE* at = block + g;
            PutWord(quarter ? low : high, at, outStride);
            PutWord(quarter ? high : low, at + 4 * static_cast<std::ptrdiff_t>(outStride),
                    outStride);
        }
    }
}
