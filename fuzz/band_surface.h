// A band surface for harnesses that draw page items: the engine's bitmap
// over a vector of its exact size, so that a write outside the band is
// caught by the address sanitizer.
#pragma once

#include <cstddef>
#include <vector>

#include "host/engine.h"
#include "host/print_job.h"

namespace fuzzing {

class Band {
  public:
    Band(LONG width, LONG height, ULONG format)
        : stride_(
              static_cast<LONG>((BitsPerPixel(format) * static_cast<ULONG>(width) + 31) / 32 * 4)),
          bits_(static_cast<std::size_t>(stride_) * static_cast<std::size_t>(height)) {
        handle_ = HSURF{
            EngCreateBitmap({width, height}, stride_, format, BMF_TOPDOWN, bits_.data()).value};
        surface_ = EngLockSurface(handle_);
    }
    ~Band() {
        EngUnlockSurface(surface_);
        EngDeleteSurface(handle_);
    }
    Band(const Band&) = delete;
    Band& operator=(const Band&) = delete;

    // Draws the item by the engine's own services (no driver hooks).
    bool Draw(const host::PageItem& item, POINTL origin) {
        return surface_ != nullptr && host::DrawPageItem(surface_, origin, item, nullptr);
    }

  private:
    LONG stride_;
    std::vector<BYTE> bits_;
    HSURF handle_{};
    SURFOBJ* surface_ = nullptr;
};

}  // namespace fuzzing
