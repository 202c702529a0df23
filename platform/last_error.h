// The thread's last error, shared by every module of the process.
#pragma once

#include "platform/types.h"

extern "C" {
QLPR_EXPORT DWORD WINAPI GetLastError();
QLPR_EXPORT void WINAPI SetLastError(DWORD error);
}
