// Named mutexes, as far as the system uses them: to tell whether another
// process already holds a name.
//
// A name is held system-wide (an abstract local socket bound to it: one
// network namespace, in practice the machine) from the first CreateMutexW
// with that name until that handle is closed or its process ends, however
// it ends. A later CreateMutexW of a held name, in any process, gives a
// handle that does not hold it, with the last error ERROR_ALREADY_EXISTS;
// otherwise the last error is ERROR_SUCCESS. Mutexes are never owned: an
// initial owner is refused (ERROR_NOT_SUPPORTED) and the handles cannot be
// waited for. Names have at most 96 bytes in UTF-8 (else
// ERROR_FILENAME_EXCED_RANGE).
#pragma once

#include "platform/types.h"

extern "C" {
// Null with the last error set on failure; close the handle with CloseHandle.
QLPR_EXPORT HANDLE WINAPI CreateMutexW(void* security, BOOL initialOwner, LPCWSTR name);
}
