// Events and waits on the platform's waitable objects (see waitable.h).
#include "platform/events.h"

#include <memory>
#include <vector>

#include "platform/waitable.h"

namespace platform {

std::mutex& WaitLock() {
    static std::mutex* lock = new std::mutex;  // never destroyed, as the handle table
    return *lock;
}

std::condition_variable& WaitCondition() {
    static std::condition_variable* condition = new std::condition_variable;
    return *condition;
}

void NotifyWaiters() {
    WaitCondition().notify_all();
}

namespace {

class Event final : public Waitable {
  public:
    Event(bool manualReset, bool signalled) : manualReset_(manualReset), signalled_(signalled) {}
    bool Signalled() const override { return signalled_; }
    void Acquired() override {
        if (!manualReset_) signalled_ = false;
    }
    void Set(bool signalled) { signalled_ = signalled; }

  private:
    const bool manualReset_;
    bool signalled_;
};

BOOL ChangeEvent(HANDLE handle, bool signalled) {
    auto event = LookupHandleAs<Event>(handle);
    if (!event) return Fail(ERROR_INVALID_HANDLE, FALSE);
    {
        std::lock_guard guard(WaitLock());
        event->Set(signalled);
    }
    if (signalled) NotifyWaiters();
    return TRUE;
}

// The index of the first signalled object, or -1; with `all`, 0 once every
// object is signalled.
int SignalledIndex(const std::vector<std::shared_ptr<Waitable>>& objects, bool all) {
    for (std::size_t i = 0; i < objects.size(); ++i) {
        const bool signalled = objects[i]->Signalled();
        if (!all && signalled) return static_cast<int>(i);
        if (all && !signalled) return -1;
    }
    return all ? 0 : -1;
}

DWORD Wait(const HANDLE* handles, DWORD count, bool all, DWORD milliseconds) {
    if (handles == nullptr || count == 0 || count > MAXIMUM_WAIT_OBJECTS)
        return Fail(ERROR_INVALID_PARAMETER, WAIT_FAILED);
    std::vector<std::shared_ptr<Waitable>> objects;
    objects.reserve(count);
    for (DWORD i = 0; i < count; ++i) {
        auto object = LookupHandleAs<Waitable>(handles[i]);
        if (!object) return Fail(ERROR_INVALID_HANDLE, WAIT_FAILED);
        objects.push_back(std::move(object));
    }
    std::unique_lock lock(WaitLock());
    int index = -1;
    WaitUntil(lock, milliseconds, [&] { return (index = SignalledIndex(objects, all)) >= 0; });
    if (index < 0) return WAIT_TIMEOUT;
    if (all) {
        for (auto& object : objects) object->Acquired();
    } else {
        objects[static_cast<std::size_t>(index)]->Acquired();
    }
    return WAIT_OBJECT_0 + static_cast<DWORD>(index);
}

}  // namespace
}  // namespace platform

using platform::Fail;

extern "C" {

QLPR_EXPORT HANDLE WINAPI CreateEventA(void*, BOOL manualReset, BOOL initialState, LPCSTR name) {
    return platform::Guard<HANDLE>(nullptr, [&]() -> HANDLE {
        if (name != nullptr) return Fail(ERROR_INVALID_PARAMETER, nullptr);
        return platform::RegisterHandle(
            std::make_shared<platform::Event>(manualReset != FALSE, initialState != FALSE));
    });
}

QLPR_EXPORT BOOL WINAPI SetEvent(HANDLE event) {
    return platform::ChangeEvent(event, true);
}

QLPR_EXPORT BOOL WINAPI ResetEvent(HANDLE event) {
    return platform::ChangeEvent(event, false);
}

QLPR_EXPORT DWORD WINAPI WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
    return platform::Guard<DWORD>(WAIT_FAILED,
                                  [&] { return platform::Wait(&handle, 1, false, milliseconds); });
}

QLPR_EXPORT DWORD WINAPI WaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll,
                                                DWORD milliseconds) {
    return platform::Guard<DWORD>(WAIT_FAILED, [&] {
        return platform::Wait(handles, count, waitAll != FALSE, milliseconds);
    });
}

}  // extern "C"
