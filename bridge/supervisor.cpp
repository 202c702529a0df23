#include "bridge/supervisor.h"

#include "bridge/service_log.h"
#include "bridge/workers.h"
#include "platform/events.h"
#include "platform/files.h"

const SupervisorSlot kSupervisorSlots[3] = {
    {"China thread start ", "China thread ends ", ThreadChina},
    {"Global thread start ", "Global thread ends ", ThreadGlobal},
    {"Low Cost thread start ", "Low Cost thread ends ", ThreadLowCost},
};

HANDLE StartWorkerThread(LPTHREAD_START_ROUTINE entry, DWORD* threadId) {
    return CreateThread(nullptr, 0, entry, nullptr, 0, threadId);
}

namespace {

struct Running {
    HANDLE thread = nullptr;
    DWORD id = 0;
};

void EndSlot(const SupervisorSlot& slot, Running& running, int digit) {
    ServiceLog("%s%d ", slot.endPrefix, digit);
    CloseHandle(running.thread);
    running = Running{};
}

// After slot k ended, the two others in their fixed order.
constexpr int kOthers[3][2] = {{1, 2}, {0, 2}, {0, 1}};

// Waits until a worker ends and ends its slot, and those of the others that
// ended too, all with the same digit. Only running workers are waited on;
// while a worker could not be started, the wait lasts 100 ms at most, so
// that its start is tried again soon, without spinning.
void AwaitWorkerEnd(const SupervisorSlot (&slots)[3], Running (&running)[3]) {
    HANDLE live[3];
    int slotOf[3];
    DWORD count = 0;
    for (int k = 0; k < 3; ++k)
        if (running[k].thread != nullptr) slotOf[count] = k, live[count++] = running[k].thread;
    if (count == 0) {
        WaitForSingleObject(gServiceStopEvent, 100);
        return;
    }
    const DWORD result = WaitForMultipleObjects(count, live, FALSE, count == 3 ? INFINITE : 100);
    if (result >= WAIT_OBJECT_0 + count) return;
    const int k = slotOf[result - WAIT_OBJECT_0];
    const int digit = k + 1;
    EndSlot(slots[k], running[k], digit);
    for (int other : kOthers[k]) {
        if (running[other].thread != nullptr &&
            WaitForSingleObject(running[other].thread, 0) == WAIT_OBJECT_0)
            EndSlot(slots[other], running[other], digit);
    }
}

}  // namespace

void RunSupervisor(const SupervisorSlot (&slots)[3], StartWorkerFunction start) {
    Running running[3];
    for (;;) {
        for (int k = 0; k < 3; ++k) {
            if (running[k].thread != nullptr) continue;
            ServiceLog("%s", slots[k].startLine);
            running[k].thread = start(slots[k].entry, &running[k].id);
        }
        AwaitWorkerEnd(slots, running);
        if (ServiceStopRequested()) break;
    }
    for (int k = 0; k < 3; ++k) {
        if (running[k].thread == nullptr) continue;
        WaitForSingleObject(running[k].thread, INFINITE);
        EndSlot(slots[k], running[k], 3);
    }
}
