// The COM-to-USB relay: overlapped I/O primitives that watch the service
// stop event, and one relay run between a service-side COM port and a USB
// printer interface.
#pragma once
#include "platform/overlapped.h"
#include "platform/types.h"

// Results of the I/O primitives.
inline constexpr int kIoDone = 1;      // completed; count valid
inline constexpr int kIoPending = 2;   // IoRead_before: started, outstanding
inline constexpr int kIoNotDone = 0;   // no completion (time limit); or still pending
inline constexpr int kIoError = -1;    // start or completion error, printer gone
inline constexpr int kIoStopped = -2;  // the stop event was seen

// One overlapped write (read) waited for up to `milliseconds`; a stop
// request cancels it while it is still pending.
int IoWrite(HANDLE file, const void* buffer, DWORD count, DWORD* written, HANDLE event,
            DWORD milliseconds);
int IoRead(HANDLE file, void* buffer, WORD count, DWORD* read, HANDLE event, DWORD milliseconds);

// Starts a read that may stay outstanding in `overlapped` and `buffer`.
int IoRead_before(HANDLE file, void* buffer, WORD count, DWORD* read, HANDLE event,
                  OVERLAPPED* overlapped);
// Polls the outstanding read once without waiting; while it is pending,
// checks that the interface `devicePath` is still present.
int IoRead_after(const char* devicePath, HANDLE file, void* buffer, DWORD count, DWORD* read,
                 HANDLE event, OVERLAPPED* overlapped);

// One relay run until an error, the printer's removal or a stop request:
// -1 (give up), -2 or 1 (stop seen). The COM handle stays open.
int fnReadCOMPortWriteToUSBSubRoutine(const char* devicePath, HANDLE com, HANDLE comEvent,
                                      HANDLE usbReadEvent);
