// Threads that can be waited on: a thread handle is signalled once the
// thread's function has returned.
#pragma once

#include "platform/types.h"

using LPTHREAD_START_ROUTINE = DWORD(WINAPI*)(void* parameter);

inline constexpr DWORD STILL_ACTIVE = 259;

extern "C" {
// Starts `start(parameter)` on a new thread at once (`flags` must be 0;
// the stack size is the system's, whatever `stackSize` says). Returns a
// handle that WaitForSingleObject and WaitForMultipleObjects accept and
// CloseHandle releases (the thread runs on), and stores the thread's id in
// *threadId when given. Null with the last error set when no thread starts.
QLPR_EXPORT HANDLE WINAPI CreateThread(void* security, SIZE_T stackSize,
                                       LPTHREAD_START_ROUTINE start, void* parameter, DWORD flags,
                                       DWORD* threadId);
// The thread's return value, or STILL_ACTIVE while it runs.
QLPR_EXPORT BOOL WINAPI GetExitCodeThread(HANDLE thread, DWORD* exitCode);
QLPR_EXPORT DWORD WINAPI GetCurrentThreadId();
}
