// Private heaps, global memory, critical sections and the last error.
#include "platform/heap.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "platform/files.h"
#include "platform/last_error.h"
#include "platform/sync.h"

namespace {

bool AllZero(const void* block, std::size_t size) {
    const auto* bytes = static_cast<const unsigned char*>(block);
    for (std::size_t i = 0; i < size; ++i) {
        if (bytes[i] != 0) return false;
    }
    return true;
}

TEST(HeapTest, BlocksAreUsableAlignedAndSized) {
    HANDLE heap = HeapCreate(0, 0, 0);
    ASSERT_NE(heap, nullptr);
    void* block = HeapAlloc(heap, 0, 100);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(block) % alignof(std::max_align_t), 0u);
    std::memset(block, 0xAB, 100);
    EXPECT_EQ(HeapSize(heap, 0, block), 100u);
    void* empty = HeapAlloc(heap, 0, 0);
    EXPECT_NE(empty, nullptr);
    EXPECT_NE(empty, block);
    EXPECT_EQ(HeapSize(heap, 0, empty), 0u);
    EXPECT_TRUE(HeapFree(heap, 0, block));
    EXPECT_EQ(HeapSize(heap, 0, block), static_cast<SIZE_T>(-1));
    EXPECT_TRUE(HeapFree(heap, 0, nullptr));
    EXPECT_TRUE(HeapDestroy(heap));
}

TEST(HeapTest, ZeroMemoryFlagClearsEveryByte) {
    for (SIZE_T size : {SIZE_T{4096}, SIZE_T{65536}, SIZE_T{300000}}) {
        HANDLE heap = HeapCreate(0, 0, 0);
        // Dirty some memory first so that a reused block would show it.
        for (int i = 0; i < 16; ++i) {
            void* dirty = HeapAlloc(heap, 0, size);
            std::memset(dirty, 0xFF, size);
            HeapFree(heap, 0, dirty);
        }
        std::vector<void*> blocks;
        for (int i = 0; i < 16; ++i) {
            void* block = HeapAlloc(heap, HEAP_ZERO_MEMORY, size);
            ASSERT_NE(block, nullptr);
            EXPECT_TRUE(AllZero(block, size)) << size;
            EXPECT_EQ(HeapSize(heap, 0, block), size);
            std::memset(block, 0xA5, size);
            blocks.push_back(block);
        }
        EXPECT_TRUE(HeapFree(heap, 0, blocks.back()));
        EXPECT_FALSE(HeapFree(heap, 0, blocks.back()));
        EXPECT_TRUE(HeapDestroy(heap));  // takes the other fifteen
    }
}

TEST(HeapTest, DestroyReleasesEveryBlock) {
    // Under the address sanitizer a block left behind shows as a leak.
    HANDLE heap = HeapCreate(0, 0, 0);
    for (int i = 0; i < 1000; ++i) ASSERT_NE(HeapAlloc(heap, 0, 64 + i), nullptr);
    EXPECT_TRUE(HeapDestroy(heap));
    SetLastError(0);
    EXPECT_EQ(HeapAlloc(heap, 0, 8), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(HeapDestroy(heap));
}

TEST(HeapTest, ForeignBlocksAreRefused) {
    HANDLE first = HeapCreate(0, 0, 0);
    HANDLE second = HeapCreate(0, 0, 0);
    void* block = HeapAlloc(first, 0, 32);
    SetLastError(0);
    EXPECT_FALSE(HeapFree(second, 0, block));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(HeapSize(second, 0, block), static_cast<SIZE_T>(-1));
    int onStack = 0;
    EXPECT_FALSE(HeapFree(first, 0, &onStack));
    EXPECT_FALSE(HeapFree(first, 0, static_cast<char*>(block) + 1));  // not a block's start
    EXPECT_TRUE(HeapFree(first, 0, block));
    EXPECT_FALSE(HeapFree(first, 0, block));  // twice
    EXPECT_FALSE(HeapFree(reinterpret_cast<HANDLE>(&onStack), 0, block));
    HeapDestroy(first);
    HeapDestroy(second);
}

TEST(HeapTest, LimitedHeapCountsRequestedSizes) {
    HANDLE heap = HeapCreate(0, 0, 1000);
    void* a = HeapAlloc(heap, 0, 600);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(HeapAlloc(heap, 0, 401), nullptr);
    void* b = HeapAlloc(heap, 0, 400);
    EXPECT_NE(b, nullptr);
    EXPECT_TRUE(HeapFree(heap, 0, a));
    EXPECT_NE(HeapAlloc(heap, 0, 600), nullptr);
    EXPECT_EQ(HeapAlloc(heap, 0, static_cast<SIZE_T>(-1)), nullptr);
    HeapDestroy(heap);
}

TEST(HeapTest, HeapIsNotClosedByCloseHandle) {
    HANDLE heap = HeapCreate(0, 0, 0);
    EXPECT_FALSE(CloseHandle(heap));
    EXPECT_NE(HeapAlloc(heap, 0, 1), nullptr);
    EXPECT_TRUE(HeapDestroy(heap));
}

TEST(HeapTest, ThreadsShareOneHeap) {
    HANDLE heap = HeapCreate(0, 0, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([heap, t] {
            std::vector<void*> blocks;
            for (int i = 0; i < 2000; ++i) {
                void* block = HeapAlloc(heap, 0, 16);
                std::memset(block, t, 16);
                blocks.push_back(block);
                if (i % 3 == 0) {
                    HeapFree(heap, 0, blocks.front());
                    blocks.erase(blocks.begin());
                }
            }
            for (void* block : blocks) HeapFree(heap, 0, block);
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_TRUE(HeapDestroy(heap));
}

TEST(HeapTest, APrefaultedHeapIsWrittenWithoutPageFaults) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the sanitizer keeps its own heap";
#endif
    platform::KeepLargeBlocksInHeap();
    platform::PrefaultHeap(std::size_t{1} << 20);
    constexpr std::size_t kBytes = std::size_t{512} << 10;  // 128 pages
    rusage before{};
    getrusage(RUSAGE_SELF, &before);
    auto* block = static_cast<unsigned char*>(std::malloc(kBytes));
    ASSERT_NE(block, nullptr);
    std::memset(block, 0x5A, kBytes);
    rusage after{};
    getrusage(RUSAGE_SELF, &after);
    std::free(block);
    EXPECT_LT(after.ru_minflt - before.ru_minflt, 16);
}

TEST(GlobalMemoryTest, FixedZeroedBlocks) {
    // Large zeroed blocks are mapped apart; a dirty one freed before must not show.
    for (SIZE_T size : {SIZE_T{256}, SIZE_T{65536}, SIZE_T{200000}}) {
        HANDLE dirty = GlobalAlloc(GMEM_FIXED, size);
        ASSERT_NE(dirty, nullptr);
        std::memset(dirty, 0xFF, size);
        EXPECT_EQ(GlobalFree(dirty), nullptr);
        HANDLE block = GlobalAlloc(GPTR, size);
        ASSERT_NE(block, nullptr);
        EXPECT_TRUE(AllZero(block, size)) << size;
        std::memset(block, 0x5A, size);
        EXPECT_EQ(GlobalFree(block), nullptr);
        EXPECT_EQ(GlobalFree(block), block);  // already gone
    }
    HANDLE block = GlobalAlloc(GPTR, 256);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(GlobalFree(nullptr), nullptr);
    int onStack = 0;
    SetLastError(0);
    EXPECT_EQ(GlobalFree(&onStack), &onStack);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_EQ(GlobalAlloc(0x0002 /* GMEM_MOVEABLE */, 16), nullptr);
}

TEST(CriticalSectionTest, OwnerMayEnterAgain) {
    CRITICAL_SECTION section;
    InitializeCriticalSection(&section);
    EnterCriticalSection(&section);
    EnterCriticalSection(&section);  // must not deadlock
    LeaveCriticalSection(&section);
    LeaveCriticalSection(&section);
    DeleteCriticalSection(&section);
    EXPECT_EQ(section.impl, nullptr);
}

TEST(CriticalSectionTest, ExcludesOtherThreads) {
    CRITICAL_SECTION section;
    InitializeCriticalSection(&section);
    long counter = 0;  // not atomic: the section protects it
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 20000; ++i) {
                EnterCriticalSection(&section);
                EnterCriticalSection(&section);
                ++counter;
                LeaveCriticalSection(&section);
                LeaveCriticalSection(&section);
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(counter, 80000);
    DeleteCriticalSection(&section);
}

// Large blocks: zero-filled, writable to their last byte, band-sized ones
// starting on a 2 MiB boundary; small ones come from the heap.
TEST(LargeBlockTest, BlocksAreZeroFilledAndBandSizedOnesAligned) {
    for (std::size_t bytes :
         {std::size_t{0}, std::size_t{100}, (std::size_t{128} << 10) - 1, std::size_t{128} << 10,
          std::size_t{590} << 10, (std::size_t{5} << 20) + 1}) {
        auto* block = static_cast<BYTE*>(platform::AllocateLargeBlock(bytes));
        ASSERT_NE(block, nullptr) << bytes;
        for (std::size_t i = 0; i < bytes; i += 4093) ASSERT_EQ(block[i], 0) << bytes << " " << i;
        if (bytes > 0) {
            EXPECT_EQ(block[bytes - 1], 0);
            std::memset(block, 0xA5, bytes);
            EXPECT_EQ(block[bytes - 1], 0xA5);
        }
        if (bytes >= (std::size_t{128} << 10)) {
            EXPECT_EQ(reinterpret_cast<std::uintptr_t>(block) % (std::size_t{2} << 20), 0u)
                << bytes;
        }
        platform::FreeLargeBlock(block, bytes);
    }
    platform::FreeLargeBlock(nullptr, std::size_t{1} << 20);
    EXPECT_EQ(platform::AllocateLargeBlock(SIZE_MAX), nullptr);
}

TEST(LastErrorTest, EachThreadHasItsOwn) {
    SetLastError(42);
    DWORD seen = 0;
    std::thread other([&] {
        seen = GetLastError();
        SetLastError(7);
    });
    other.join();
    EXPECT_EQ(seen, 0u);
    EXPECT_EQ(GetLastError(), 42u);
}

}  // namespace
