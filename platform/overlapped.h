// Devices and overlapped I/O.
//
// CreateFileA and CreateFileW open two kinds of device path as device
// handles: "\\.\NAME", a serial port in the device folder (device_folder.h),
// and "\\?\..." interface paths from the device-interface enumeration
// (device_interfaces.h). A serial port is opened by one handle at a time
// (another open fails with ERROR_ACCESS_DENIED) and carries bytes unchanged
// (a terminal line is put in raw mode); its reads and writes follow the
// communication timeouts (comm.h). A read on an interface handle completes
// as soon as any bytes are there. Paths of 260 characters or more fail with
// ERROR_FILENAME_EXCED_RANGE.
//
// ReadFile and WriteFile on a device handle with an OVERLAPPED record either
// complete at once (TRUE, count valid, the record's event set) or return
// FALSE with ERROR_IO_PENDING and complete later: the record's Internal
// field stays STATUS_PENDING until then, then holds the outcome and
// InternalHigh the count, and the event is set. Without a record the call
// waits for its completion. Reads and writes proceed independently, each
// kind in the order issued. The caller keeps the record and the buffer
// until the operation has completed; CancelIo and CloseHandle return only
// once every operation they cancel has completed (ERROR_OPERATION_ABORTED).
#pragma once

#include <atomic>

#include "platform/types.h"

struct OVERLAPPED {
    ULONG_PTR Internal;      // status: STATUS_PENDING while the operation runs
    ULONG_PTR InternalHigh;  // bytes transferred, valid once it has completed
    DWORD Offset;            // not used by devices
    DWORD OffsetHigh;
    HANDLE hEvent;  // set when the operation completes; may be null
};

inline constexpr ULONG_PTR STATUS_PENDING = 0x103;
inline constexpr DWORD FILE_FLAG_OVERLAPPED = 0x40000000;
inline constexpr DWORD ERROR_OPERATION_ABORTED = 995;
inline constexpr DWORD ERROR_IO_INCOMPLETE = 996;
inline constexpr DWORD ERROR_IO_PENDING = 997;
inline constexpr DWORD ERROR_DEVICE_NOT_CONNECTED = 1167;

// The completion test on the record's status field; safe while the
// operation completes on another thread.
inline bool HasOverlappedIoCompleted(const OVERLAPPED* overlapped) {
    auto& status = const_cast<ULONG_PTR&>(overlapped->Internal);  // only read
    return std::atomic_ref<ULONG_PTR>(status).load(std::memory_order_acquire) != STATUS_PENDING;
}

extern "C" {
// The outcome of an operation on `file`: TRUE with the count, or FALSE with
// its error. Without `wait`, FALSE with ERROR_IO_INCOMPLETE while it runs.
QLPR_EXPORT BOOL WINAPI GetOverlappedResult(HANDLE file, OVERLAPPED* overlapped, DWORD* transferred,
                                            BOOL wait);
// Cancels every operation the calling thread started on `file` and still
// running; they complete with ERROR_OPERATION_ABORTED before this returns.
QLPR_EXPORT BOOL WINAPI CancelIo(HANDLE file);
}
