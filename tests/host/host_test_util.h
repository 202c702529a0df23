// Bitmaps with guard bytes around their bits, and pixel access, for the
// host's drawing tests.
#pragma once

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

#include "host/engine.h"

namespace hosttest {

// A top-down bitmap of the engine whose bits are lent from a block with
// guard bytes on both sides, so that a stray write shows.
class GuardedBitmap {
  public:
    static constexpr std::size_t kGuard = 64;
    static constexpr BYTE kGuardByte = 0xC3;

    GuardedBitmap(LONG width, LONG height, ULONG format, BYTE fill = 0) {
        const ULONG bits = format == BMF_1BPP    ? 1
                           : format == BMF_8BPP  ? 8
                           : format == BMF_24BPP ? 24
                                                 : 32;
        stride_ = static_cast<LONG>((bits * static_cast<ULONG>(width) + 31) / 32 * 4);
        block_.assign(kGuard + static_cast<std::size_t>(stride_) * height + kGuard, kGuardByte);
        std::fill(block_.begin() + kGuard, block_.end() - kGuard, fill);
        handle_ = HSURF{
            EngCreateBitmap({width, height}, stride_, format, BMF_TOPDOWN, block_.data() + kGuard)
                .value};
        surface_ = EngLockSurface(handle_);
    }
    ~GuardedBitmap() {
        EngUnlockSurface(surface_);
        EngDeleteSurface(handle_);
    }
    GuardedBitmap(const GuardedBitmap&) = delete;
    GuardedBitmap& operator=(const GuardedBitmap&) = delete;

    SURFOBJ* surface() const { return surface_; }
    LONG stride() const { return stride_; }
    BYTE* row(LONG y) { return block_.data() + kGuard + static_cast<std::size_t>(y) * stride_; }
    bool GuardsIntact() const {
        for (std::size_t i = 0; i < kGuard; ++i)
            if (block_[i] != kGuardByte || block_[block_.size() - 1 - i] != kGuardByte)
                return false;
        return true;
    }

  private:
    std::vector<BYTE> block_;
    LONG stride_ = 0;
    HSURF handle_{};
    SURFOBJ* surface_ = nullptr;
};

inline int Bit(const BYTE* row, LONG x) {
    return (row[x >> 3] >> (7 - (x & 7))) & 1;
}
inline void SetBit(BYTE* row, LONG x, int value) {
    const BYTE mask = static_cast<BYTE>(0x80 >> (x & 7));
    row[x >> 3] = static_cast<BYTE>(value ? row[x >> 3] | mask : row[x >> 3] & ~mask);
}

inline std::vector<BYTE> RandomBytes(std::size_t count, unsigned seed) {
    std::mt19937 random(seed);
    std::vector<BYTE> bytes(count);
    for (BYTE& b : bytes) b = static_cast<BYTE>(random());
    return bytes;
}

}  // namespace hosttest
