// Critical sections on std::recursive_mutex.
#include "platform/sync.h"

#include <mutex>
#include <new>

namespace {

// Used when a section's own lock cannot be made (out of memory) or the
// section was never initialised: still correct mutual exclusion, only
// coarser, since the platform's InitializeCriticalSection cannot fail.
std::recursive_mutex& SharedLock() {
    static std::recursive_mutex* lock = new std::recursive_mutex;
    return *lock;
}

std::recursive_mutex& LockOf(CRITICAL_SECTION* section) {
    if (section == nullptr || section->impl == nullptr) return SharedLock();
    return *static_cast<std::recursive_mutex*>(section->impl);
}

}  // namespace

extern "C" {

QLPR_EXPORT void WINAPI InitializeCriticalSection(CRITICAL_SECTION* section) {
    if (section == nullptr) return;
    auto* lock = new (std::nothrow) std::recursive_mutex;
    section->impl = lock != nullptr ? lock : &SharedLock();
}

QLPR_EXPORT void WINAPI DeleteCriticalSection(CRITICAL_SECTION* section) {
    if (section == nullptr || section->impl == nullptr) return;
    auto* lock = static_cast<std::recursive_mutex*>(section->impl);
    if (lock != &SharedLock()) delete lock;
    section->impl = nullptr;
}

QLPR_EXPORT void WINAPI EnterCriticalSection(CRITICAL_SECTION* section) {
    try {
        LockOf(section).lock();
    } catch (...) {
        // lock() only throws on a broken system (EAGAIN/EDEADLK); the
        // platform's call has no way to fail, so carry on.
    }
}

QLPR_EXPORT void WINAPI LeaveCriticalSection(CRITICAL_SECTION* section) {
    LockOf(section).unlock();
}

}  // extern "C"
