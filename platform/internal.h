// Shared machinery of the platform library itself; not part of its
// interface (nothing here is exported).
//
// - Handles: every kernel-style handle the platform gives out (files,
//   mappings, events, ...) is an object derived from HandleObject, kept in
//   one process-wide table. A handle value is the object's address while it
//   is in the table; a value not in the table is refused, never dereferenced.
//   Operations hold a shared_ptr, so closing a handle on one thread while
//   another still uses it is safe.
// - Errors: POSIX errno values are turned into the platform's error codes.
// - Guard: runs a body and turns any exception into a failure result with
//   the last error set, so that no exception leaves the library.
#pragma once

#include <pthread.h>

#include <cerrno>
#include <csignal>

#include <memory>
#include <new>
#include <string>
#include <string_view>

#include "platform/last_error.h"
#include "platform/types.h"

namespace platform {

class HandleObject {
  public:
    virtual ~HandleObject() = default;
    // Printer, key and heap handles live in the same table but are not
    // closed by CloseHandle.
    virtual bool ClosedByCloseHandle() const { return true; }
};

// Adds the object to the table; null with ERROR_NOT_ENOUGH_MEMORY on failure.
HANDLE RegisterHandle(std::shared_ptr<HandleObject> object) noexcept;
// The live object behind a handle, or null.
std::shared_ptr<HandleObject> LookupHandle(HANDLE handle) noexcept;
template <class T>
std::shared_ptr<T> LookupHandleAs(HANDLE handle) noexcept {
    return std::dynamic_pointer_cast<T>(LookupHandle(handle));
}
// Removes the handle from the table if it holds a T; the object dies with
// its last user. False when the handle is not a live T.
template <class T>
bool ReleaseHandleAs(HANDLE handle) noexcept;
bool ReleaseHandleIf(HANDLE handle, bool (*accept)(const HandleObject&)) noexcept;

template <class T>
bool ReleaseHandleAs(HANDLE handle) noexcept {
    return ReleaseHandleIf(handle, [](const HandleObject& object) {
        return dynamic_cast<const T*>(&object) != nullptr;
    });
}

// Sets the last error and gives back `result`, for one-line failures.
template <class R>
R Fail(DWORD error, R result) {
    SetLastError(error);
    return result;
}

// Platform error code for an errno value.
DWORD ErrorFromErrno(int error) noexcept;

// Platform error code for the exception being handled (inside a catch).
DWORD ErrorFromCurrentException() noexcept;

// Runs `body`; if it throws, sets the last error and returns `failure`.
template <class R, class F>
R Guard(R failure, F&& body) noexcept {
    try {
        return body();
    } catch (...) {
        SetLastError(ErrorFromCurrentException());
        return failure;
    }
}

// As Guard, for functions that return their error code instead of setting
// the last error.
template <class F>
LONG GuardStatus(F&& body) noexcept {
    try {
        return body();
    } catch (...) {
        return static_cast<LONG>(ErrorFromCurrentException());
    }
}

// A wide path as the file system sees it: UTF-8, with the platform's folder
// separator '\\' read as '/'. The system builds paths the platform's way
// ("folder" + "\\" + "name"); a backslash never stands inside a file name here.
std::string NativePath(const WCHAR* path);

// Writes all `count` bytes to a descriptor, going on after short writes and
// interruptions; a reader gone from a pipe fails the write instead of ending
// the process. FALSE with the platform's error set (ERROR_WRITE_FAULT when
// the descriptor takes nothing); *written tells how much went out.
BOOL WriteAll(int fd, const void* bytes, DWORD count, bool isPipe, DWORD* written);

// SIGPIPE is held back while writing to a pipe, so that a reader going
// away ends the write with ERROR_BROKEN_PIPE instead of ending the process.
class PipeSignalBlock {
  public:
    explicit PipeSignalBlock(bool active) : active_(active) {
        if (!active_) return;
        sigemptyset(&pipeSet_);
        sigaddset(&pipeSet_, SIGPIPE);
        sigset_t pending;
        sigpending(&pending);
        wasPending_ = sigismember(&pending, SIGPIPE) == 1;
        pthread_sigmask(SIG_BLOCK, &pipeSet_, &old_);
    }
    ~PipeSignalBlock() {
        if (!active_) return;
        if (raised_ && !wasPending_) {
            timespec none{};
            while (sigtimedwait(&pipeSet_, nullptr, &none) < 0 && errno == EINTR) {
            }
        }
        pthread_sigmask(SIG_SETMASK, &old_, nullptr);
    }
    PipeSignalBlock(const PipeSignalBlock&) = delete;
    PipeSignalBlock& operator=(const PipeSignalBlock&) = delete;
    void NoteBrokenPipe() { raised_ = true; }

  private:
    bool active_;
    bool wasPending_ = false;
    bool raised_ = false;
    sigset_t pipeSet_{};
    sigset_t old_{};
};

}  // namespace platform
