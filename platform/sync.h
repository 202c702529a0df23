// Critical sections: recursive mutual exclusion inside one process.
#pragma once

#include "platform/types.h"

struct CRITICAL_SECTION {
    void* impl = nullptr;  // the platform's lock, made by InitializeCriticalSection
};

extern "C" {
QLPR_EXPORT void WINAPI InitializeCriticalSection(CRITICAL_SECTION* section);
QLPR_EXPORT void WINAPI DeleteCriticalSection(CRITICAL_SECTION* section);
// The owning thread may enter again; it leaves as often as it entered.
QLPR_EXPORT void WINAPI EnterCriticalSection(CRITICAL_SECTION* section);
QLPR_EXPORT void WINAPI LeaveCriticalSection(CRITICAL_SECTION* section);
}
