// Waitable threads over std::thread: the thread object is a Waitable that
// turns signalled when the thread's function returns.
#include "platform/threads.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <memory>
#include <thread>

#include "platform/files.h"
#include "platform/waitable.h"

namespace platform {
namespace {

class ThreadObject final : public Waitable {
  public:
    bool Signalled() const override { return ended_; }
    // The new thread tells its id; CreateThread waits for it.
    void Begin() {
        {
            std::lock_guard guard(WaitLock());
            id_ = static_cast<DWORD>(::syscall(SYS_gettid));
        }
        NotifyWaiters();
    }
    DWORD AwaitId() {
        std::unique_lock lock(WaitLock());
        WaitUntil(lock, 0xFFFFFFFF, [&] { return id_ != 0; });
        return id_;
    }
    void End(DWORD exitCode) {
        {
            std::lock_guard guard(WaitLock());
            exitCode_ = exitCode;
            ended_ = true;
        }
        NotifyWaiters();
    }
    DWORD ExitCode() const {
        std::lock_guard guard(WaitLock());
        return ended_ ? exitCode_ : STILL_ACTIVE;
    }

  private:
    bool ended_ = false;
    DWORD exitCode_ = 0;
    DWORD id_ = 0;
};

DWORD CurrentThreadId() {
    return static_cast<DWORD>(::syscall(SYS_gettid));
}

}  // namespace
}  // namespace platform

extern "C" {

QLPR_EXPORT HANDLE WINAPI CreateThread(void*, SIZE_T, LPTHREAD_START_ROUTINE start, void* parameter,
                                       DWORD flags, DWORD* threadId) {
    using platform::ThreadObject;
    if (start == nullptr || flags != 0)
        return platform::Fail<HANDLE>(ERROR_INVALID_PARAMETER, nullptr);
    return platform::Guard<HANDLE>(nullptr, [&]() -> HANDLE {
        auto thread = std::make_shared<ThreadObject>();
        const HANDLE handle = platform::RegisterHandle(thread);
        if (handle == nullptr) return nullptr;
        try {
            std::thread([thread, start, parameter] {
                thread->Begin();
                thread->End(start(parameter));
            }).detach();
        } catch (...) {
            CloseHandle(handle);
            throw;
        }
        const DWORD value = thread->AwaitId();
        if (threadId != nullptr) *threadId = value;
        return handle;
    });
}

QLPR_EXPORT BOOL WINAPI GetExitCodeThread(HANDLE handle, DWORD* exitCode) {
    auto thread = platform::LookupHandleAs<platform::ThreadObject>(handle);
    if (!thread || exitCode == nullptr) return platform::Fail(ERROR_INVALID_HANDLE, FALSE);
    *exitCode = thread->ExitCode();
    return TRUE;
}

QLPR_EXPORT DWORD WINAPI GetCurrentThreadId() {
    return platform::CurrentThreadId();
}

}  // extern "C"
