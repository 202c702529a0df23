// Private heaps: each heap keeps a registry of its live blocks, so that
// HeapDestroy frees them all and a block of another heap (or no heap) is
// refused instead of corrupting memory. GlobalAlloc blocks come from one
// internal heap of the same kind.
#include "platform/heap.h"

#include <sys/mman.h>
#include <unistd.h>

#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <unordered_map>

#ifdef __GLIBC__
#include <malloc.h>
#endif

#include "platform/internal.h"

namespace platform {
namespace {

// Global memory maps zero-filled blocks from 64 KiB on by themselves: the
// system hands them out zeroed and faults in only the pages that get
// written, where clearing a heap block touches every page of it. These are
// the text buffers of a document, mostly left empty by a raster job.
// Private heaps keep such blocks in the process heap, whose pages a device
// enabled again reuses.
constexpr SIZE_T kMappedZeroBlockMinimum = SIZE_T{64} << 10;

struct BlockInfo {
    SIZE_T bytes;  // as requested
    bool mapped;
};

void* AllocateBlock(SIZE_T bytes, bool zero, bool mapsZeroBlocks, bool* mapped) {
    const SIZE_T reserved = bytes == 0 ? 1 : bytes;
    *mapped = mapsZeroBlocks && zero && bytes >= kMappedZeroBlockMinimum;
    if (!*mapped) return zero ? std::calloc(1, reserved) : std::malloc(reserved);
    void* block = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    return block == MAP_FAILED ? nullptr : block;
}

void FreeBlock(void* block, const BlockInfo& info) {
    if (info.mapped)
        munmap(block, info.bytes);
    else
        std::free(block);
}

class Heap final : public HandleObject {
  public:
    explicit Heap(SIZE_T maximum, bool mapsZeroBlocks = false)
        : maximum_(maximum), mapsZeroBlocks_(mapsZeroBlocks) {}
    ~Heap() override {
        for (auto& [block, info] : blocks_) FreeBlock(block, info);
    }
    Heap(const Heap&) = delete;
    Heap& operator=(const Heap&) = delete;

    // A heap is released by HeapDestroy only.
    bool ClosedByCloseHandle() const override { return false; }

    void* Allocate(SIZE_T bytes, bool zero) {
        std::lock_guard guard(lock_);
        if (maximum_ != 0 && (bytes > maximum_ || used_ > maximum_ - bytes)) return nullptr;
        BlockInfo info{bytes, false};
        void* block = AllocateBlock(bytes, zero, mapsZeroBlocks_, &info.mapped);
        if (block == nullptr) return nullptr;
        try {
            blocks_.emplace(block, info);
        } catch (...) {
            FreeBlock(block, info);
            return nullptr;
        }
        used_ += bytes;
        return block;
    }

    bool Free(void* block) {
        std::lock_guard guard(lock_);
        auto found = blocks_.find(block);
        if (found == blocks_.end()) return false;
        used_ -= found->second.bytes;
        FreeBlock(block, found->second);
        blocks_.erase(found);
        return true;
    }

    SIZE_T Size(const void* block) {
        std::lock_guard guard(lock_);
        auto found = blocks_.find(const_cast<void*>(block));
        return found == blocks_.end() ? static_cast<SIZE_T>(-1) : found->second.bytes;
    }

  private:
    std::mutex lock_;
    std::unordered_map<void*, BlockInfo> blocks_;
    SIZE_T maximum_;
    bool mapsZeroBlocks_;
    SIZE_T used_ = 0;
};

Heap& GlobalHeap() {
    static Heap* heap = new Heap(0, true);  // outlives every static destructor
    return *heap;
}

}  // namespace
}  // namespace platform

using platform::Heap;

extern "C" {

QLPR_EXPORT HANDLE WINAPI HeapCreate(DWORD, SIZE_T, SIZE_T maximumSize) {
    return platform::Guard<HANDLE>(nullptr, [&]() -> HANDLE {
        HANDLE heap = platform::RegisterHandle(std::make_shared<Heap>(maximumSize));
        if (heap == nullptr) SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return heap;
    });
}

QLPR_EXPORT BOOL WINAPI HeapDestroy(HANDLE heap) {
    if (!platform::ReleaseHandleAs<Heap>(heap)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}

QLPR_EXPORT PVOID WINAPI HeapAlloc(HANDLE heap, DWORD flags, SIZE_T bytes) {
    auto object = platform::LookupHandleAs<Heap>(heap);
    if (!object) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    void* block = object->Allocate(bytes, (flags & HEAP_ZERO_MEMORY) != 0);
    if (block == nullptr) SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return block;
}

QLPR_EXPORT BOOL WINAPI HeapFree(HANDLE heap, DWORD, PVOID block) {
    auto object = platform::LookupHandleAs<Heap>(heap);
    if (!object) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (block == nullptr) return TRUE;
    if (!object->Free(block)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    return TRUE;
}

QLPR_EXPORT SIZE_T WINAPI HeapSize(HANDLE heap, DWORD, const void* block) {
    auto object = platform::LookupHandleAs<Heap>(heap);
    if (!object) {
        SetLastError(ERROR_INVALID_HANDLE);
        return static_cast<SIZE_T>(-1);
    }
    SIZE_T size = object->Size(block);
    if (size == static_cast<SIZE_T>(-1)) SetLastError(ERROR_INVALID_PARAMETER);
    return size;
}

// Fixed memory only: the handle is the block's address.
QLPR_EXPORT HANDLE WINAPI GlobalAlloc(UINT flags, SIZE_T bytes) {
    if ((flags & ~GPTR) != 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    void* block = platform::GlobalHeap().Allocate(bytes, (flags & GMEM_ZEROINIT) != 0);
    if (block == nullptr) SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return block;
}

QLPR_EXPORT HANDLE WINAPI GlobalFree(HANDLE block) {
    if (block == nullptr) return nullptr;
    if (!platform::GlobalHeap().Free(block)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return block;
    }
    return nullptr;
}

}  // extern "C"

namespace platform {

namespace {

constexpr std::size_t kLargeBlockMinimum = std::size_t{128} << 10;
constexpr std::size_t kHugePage = std::size_t{2} << 20;

std::size_t MappedSize(std::size_t bytes) {
    return (bytes + kHugePage - 1) / kHugePage * kHugePage;
}

}  // namespace

QLPR_EXPORT void* AllocateLargeBlock(std::size_t bytes) {
    if (bytes < kLargeBlockMinimum) return std::calloc(bytes == 0 ? 1 : bytes, 1);
    if (bytes > SIZE_MAX - 2 * kHugePage) return nullptr;
    // Mapped with room to start on a 2 MiB boundary; the rest is given back.
    const std::size_t size = MappedSize(bytes);
    void* mapped =
        mmap(nullptr, size + kHugePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapped == MAP_FAILED) return nullptr;
    const auto start = reinterpret_cast<std::uintptr_t>(mapped);
    const std::uintptr_t aligned = (start + kHugePage - 1) & ~(kHugePage - 1);
    if (aligned > start) munmap(mapped, aligned - start);
    const std::uintptr_t end = start + size + kHugePage;
    if (end > aligned + size) munmap(reinterpret_cast<void*>(aligned + size), end - aligned - size);
    void* block = reinterpret_cast<void*>(aligned);
    madvise(block, size, MADV_HUGEPAGE);  // a hint; without it the block still works
    return block;
}

QLPR_EXPORT void FreeLargeBlock(void* block, std::size_t bytes) {
    if (block == nullptr) return;
    if (bytes < kLargeBlockMinimum) {
        std::free(block);
        return;
    }
    munmap(block, MappedSize(bytes));
}

QLPR_EXPORT void KeepLargeBlocksInHeap() {
#ifdef __GLIBC__
    // Blocks up to 32 MiB (the most glibc takes from its heap) come from the
    // heap, and the heap's top is never given back.
    mallopt(M_MMAP_THRESHOLD, 32 << 20);
    mallopt(M_TRIM_THRESHOLD, INT_MAX);
#endif
}

QLPR_EXPORT void PrefaultHeap(std::size_t bytes) {
#ifndef MADV_POPULATE_WRITE
    constexpr int MADV_POPULATE_WRITE = 23;  // Linux 5.14; older headers lack it
#endif
    // The block goes back to the heap's top, populated, for the job's
    // allocations to come.
    void* block = std::malloc(bytes);
    if (block == nullptr) return;
    const std::size_t page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    const auto start = reinterpret_cast<std::uintptr_t>(block);
    const std::uintptr_t first = (start + page - 1) / page * page;
    const std::uintptr_t end = (start + bytes) / page * page;
    if (end > first) madvise(reinterpret_cast<void*>(first), end - first, MADV_POPULATE_WRITE);
    std::free(block);
}

}  // namespace platform
