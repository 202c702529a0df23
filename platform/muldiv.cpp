// Scaled integer arithmetic (see muldiv.h).
#include "platform/muldiv.h"

#include <cstdint>
#include <limits>

extern "C" {

QLPR_EXPORT int WINAPI MulDiv(int number, int numerator, int denominator) {
    if (denominator == 0) return -1;
    const std::int64_t product = std::int64_t{number} * numerator;
    const bool negative = (product < 0) != (denominator < 0);
    // Magnitudes stay below 2^62 + 2^31, so they fit in 64 bits.
    const std::uint64_t top =
        product < 0 ? 0 - static_cast<std::uint64_t>(product) : static_cast<std::uint64_t>(product);
    const std::uint64_t bottom =
        denominator < 0 ? 0 - static_cast<std::uint64_t>(static_cast<std::int64_t>(denominator))
                        : static_cast<std::uint64_t>(denominator);
    const std::uint64_t magnitude = (top + bottom / 2) / bottom;
    const std::uint64_t limit = negative ? std::uint64_t{1} << 31 : (std::uint64_t{1} << 31) - 1;
    if (magnitude > limit) return -1;
    return negative ? static_cast<int>(-static_cast<std::int64_t>(magnitude))
                    : static_cast<int>(magnitude);
}
}
