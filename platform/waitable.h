// Waitable objects: what the platform's waits are built on (not exported).
//
// All waitable state lives under one process-wide lock with one condition,
// broadcast at every change. The system waits on a handful of objects at a
// time, so one broadcast that wakes every waiter costs nothing worth a finer
// scheme, and a wait on several handles stays a plain loop.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "platform/internal.h"

namespace platform {

class Waitable : public HandleObject {
  public:
    // Both are called with WaitLock() held.
    virtual bool Signalled() const = 0;
    // A wait that this object satisfied has ended (auto-reset objects reset).
    virtual void Acquired() {}
};

std::mutex& WaitLock();
// Wakes every waiter; call after changing waitable state under WaitLock().
void NotifyWaiters();
// Waits on WaitLock()'s condition until `ready` holds or the deadline
// passes (no deadline for INFINITE). Returns `ready`'s last value.
template <class Predicate>
bool WaitUntil(std::unique_lock<std::mutex>& lock, DWORD milliseconds, Predicate ready);

std::condition_variable& WaitCondition();

template <class Predicate>
bool WaitUntil(std::unique_lock<std::mutex>& lock, DWORD milliseconds, Predicate ready) {
    if (milliseconds == 0xFFFFFFFF) {
        WaitCondition().wait(lock, ready);
        return true;
    }
    // A zero timeout only tests: it never gives up the lock or the processor
    // (the relay polls the stop event and its USB read on every pass).
    if (milliseconds == 0) return ready();
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    return WaitCondition().wait_until(lock, deadline, ready);
}

}  // namespace platform
