// Storage for page-sized pixel data (images placed on a page). Blocks of
// band size come from the platform's large-block allocator, backed by
// 2 MiB pages where the system has them, so that filling a page-sized
// picture costs a page fault per 2 MiB rather than per 4 KiB.
#pragma once

#include <cstddef>
#include <new>
#include <vector>

#include "platform/heap.h"
#include "platform/types.h"

namespace host {

template <class T>
struct PixelAllocator {
    using value_type = T;

    PixelAllocator() = default;
    template <class U>
    PixelAllocator(const PixelAllocator<U>&) noexcept {}

    T* allocate(std::size_t count) {
        if (count > static_cast<std::size_t>(-1) / sizeof(T)) throw std::bad_array_new_length();
        void* block = platform::AllocateLargeBlock(count * sizeof(T));
        if (block == nullptr) throw std::bad_alloc();
        return static_cast<T*>(block);
    }
    void deallocate(T* block, std::size_t count) noexcept {
        platform::FreeLargeBlock(block, count * sizeof(T));
    }
    template <class U>
    bool operator==(const PixelAllocator<U>&) const noexcept {
        return true;
    }
};

using PixelBytes = std::vector<BYTE, PixelAllocator<BYTE>>;

}  // namespace host
