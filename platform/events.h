// Events and waits on one or more handles.
//
// An event is manual-reset (stays signalled until ResetEvent) or
// auto-reset (a satisfied wait resets it). Events are unnamed: a name given
// to CreateEventA is refused (ERROR_INVALID_PARAMETER), since nothing in
// the system shares events between processes. Every handle that can be
// waited on is a platform::Waitable; waits on other handles fail with
// WAIT_FAILED and ERROR_INVALID_HANDLE.
#pragma once

#include "platform/types.h"

inline constexpr DWORD INFINITE = 0xFFFFFFFF;
inline constexpr DWORD WAIT_OBJECT_0 = 0x00000000;
inline constexpr DWORD WAIT_TIMEOUT = 0x00000102;
inline constexpr DWORD WAIT_FAILED = 0xFFFFFFFF;
inline constexpr DWORD MAXIMUM_WAIT_OBJECTS = 64;

extern "C" {
// Null with the last error set on failure.
QLPR_EXPORT HANDLE WINAPI CreateEventA(void* security, BOOL manualReset, BOOL initialState,
                                       LPCSTR name);
QLPR_EXPORT BOOL WINAPI SetEvent(HANDLE event);
QLPR_EXPORT BOOL WINAPI ResetEvent(HANDLE event);
// WAIT_OBJECT_0 when the handle is signalled, WAIT_TIMEOUT after `milliseconds`
// (0: test only, INFINITE: no limit), WAIT_FAILED with the last error set.
QLPR_EXPORT DWORD WINAPI WaitForSingleObject(HANDLE handle, DWORD milliseconds);
// Wait-any (waitAll FALSE): WAIT_OBJECT_0 + the index of the first signalled
// handle in the list. Wait-all: WAIT_OBJECT_0 once all are signalled
// together. 1 to MAXIMUM_WAIT_OBJECTS handles, else ERROR_INVALID_PARAMETER.
QLPR_EXPORT DWORD WINAPI WaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll,
                                                DWORD milliseconds);
}
