// Private heaps and fixed global memory.
//
// A private heap owns every block taken from it: HeapDestroy releases them all
// at once, which is how a device instance lets go of everything it holds.
#pragma once

#include <cstddef>

#include "platform/types.h"

inline constexpr DWORD HEAP_ZERO_MEMORY = 0x00000008;
inline constexpr UINT GMEM_FIXED = 0x0000;
inline constexpr UINT GMEM_ZEROINIT = 0x0040;
inline constexpr UINT GPTR = GMEM_FIXED | GMEM_ZEROINIT;

extern "C" {
// Creates a growable heap (maximumSize 0) or one limited to maximumSize bytes
// of blocks; initialSize is a hint. Null with ERROR_NOT_ENOUGH_MEMORY on failure.
QLPR_EXPORT HANDLE WINAPI HeapCreate(DWORD options, SIZE_T initialSize, SIZE_T maximumSize);
// Releases every block of the heap and the heap itself.
QLPR_EXPORT BOOL WINAPI HeapDestroy(HANDLE heap);
// A block of `bytes` (at least 1 byte is reserved for 0), aligned for any type;
// zero-filled with HEAP_ZERO_MEMORY. Null on failure or a null heap (the limit
// of a limited heap counts the blocks' requested sizes).
QLPR_EXPORT PVOID WINAPI HeapAlloc(HANDLE heap, DWORD flags, SIZE_T bytes);
// Frees a block of this heap; a null block is accepted. A block that does not
// belong to the heap is refused with ERROR_INVALID_PARAMETER.
QLPR_EXPORT BOOL WINAPI HeapFree(HANDLE heap, DWORD flags, PVOID block);
// Requested size of a live block, or (SIZE_T)-1.
QLPR_EXPORT SIZE_T WINAPI HeapSize(HANDLE heap, DWORD flags, const void* block);
// A heap handle that is unknown or destroyed: ERROR_INVALID_HANDLE. Heaps
// are thread-safe; CloseHandle does not close them.

// Fixed memory only (GMEM_FIXED, GMEM_ZEROINIT; other flags:
// ERROR_INVALID_PARAMETER); the handle is the block's address.
QLPR_EXPORT HANDLE WINAPI GlobalAlloc(UINT flags, SIZE_T bytes);
// Null on success; a block GlobalAlloc did not give: the block back, with
// ERROR_INVALID_HANDLE.
QLPR_EXPORT HANDLE WINAPI GlobalFree(HANDLE block);
}

namespace platform {

// Keeps freed blocks of any size in the process heap for reuse instead of
// handing large ones back to the system. A print job allocates and frees
// page-sized blocks (images, bands, symbols); taking fresh memory from the
// system costs a page fault for every 4 KiB touched, reused heap memory
// none. For programs that run one job and end.
QLPR_EXPORT void KeepLargeBlocksInHeap();

// Maps the next `bytes` of the process heap in one call instead of a page
// fault per 4 KiB page as they are first written, for a program about to
// run a job whose working set it knows. Use after KeepLargeBlocksInHeap
// (which keeps the pages in the heap). Without the system's support
// (Linux 5.14 on) nothing happens.
QLPR_EXPORT void PrefaultHeap(std::size_t bytes);

// A zero-filled block for a page-sized bitmap (bands, pages). From 128 KiB
// on it is mapped on its own and backed by 2 MiB pages where the system
// offers them, so that filling a band costs a page fault per 2 MiB rather
// than per 4 KiB. Null when memory runs out. FreeLargeBlock takes the
// block and the size it was asked for.
QLPR_EXPORT void* AllocateLargeBlock(std::size_t bytes);
QLPR_EXPORT void FreeLargeBlock(void* block, std::size_t bytes);

}  // namespace platform
