// Local time, as the log lines and archive names show it.
#pragma once

#include "platform/types.h"

extern "C" {
QLPR_EXPORT void WINAPI GetLocalTime(SYSTEMTIME* time);
QLPR_EXPORT void WINAPI GetSystemTimeAsFileTime(FILETIME* time);
}
