// The supervisor loop: keeps one worker thread per model running until the
// service stops.
#pragma once

#include "platform/threads.h"

struct SupervisorSlot {
    const char* startLine;
    const char* endPrefix;  // the end line is the prefix, a digit and a blank
    LPTHREAD_START_ROUTINE entry;
};

// China, Global, Low Cost, in this order.
extern const SupervisorSlot kSupervisorSlots[3];

// How a worker thread starts: a waitable handle that is signalled when the
// worker ended, or null when none started. The service uses CreateThread.
using StartWorkerFunction = HANDLE (*)(LPTHREAD_START_ROUTINE entry, DWORD* threadId);
HANDLE StartWorkerThread(LPTHREAD_START_ROUTINE entry, DWORD* threadId);

// Starts every slot's worker, restarts each that ends, and returns once the
// service stop event is set and every worker has ended.
void RunSupervisor(const SupervisorSlot (&slots)[3], StartWorkerFunction start);
