// Device handles and overlapped I/O (see overlapped.h, device_file.h).
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <string>
#include <system_error>

#include "platform/device_file.h"
#include "platform/device_folder.h"
#include "platform/device_interfaces.h"
#include "platform/events.h"
#include "platform/files.h"
#include "platform/waitable.h"

namespace platform {
namespace {

// The record's status field: 0 success, STATUS_TIMEOUT a success that
// timed out with a shorter count, STATUS_CANCELLED an operation cancelled;
// any other failure carries the platform's error code under kStatusError.
constexpr ULONG_PTR kStatusSuccess = 0;
constexpr ULONG_PTR kStatusTimeout = 0x102;
constexpr ULONG_PTR kStatusCancelled = 0xC0000120;
constexpr ULONG_PTR kStatusError = 0xE0000000;

ULONG_PTR StatusOf(DWORD error, bool shortCount) {
    if (error == ERROR_OPERATION_ABORTED) return kStatusCancelled;
    if (error != ERROR_SUCCESS) return kStatusError | error;
    return shortCount ? kStatusTimeout : kStatusSuccess;
}

// ERROR_SUCCESS for the two success statuses.
DWORD ErrorOfStatus(ULONG_PTR status) {
    if (status == kStatusSuccess || status == kStatusTimeout) return ERROR_SUCCESS;
    if (status == kStatusCancelled) return ERROR_OPERATION_ABORTED;
    return static_cast<DWORD>(status & ~kStatusError);
}

// A device that went away (unplugged printer, closed far end of a line).
DWORD DeviceError(int error) {
    if (error == EIO || error == ENODEV || error == ENXIO) return ERROR_DEVICE_NOT_CONNECTED;
    return ErrorFromErrno(error);
}

void WaitForCompletion(const OVERLAPPED& overlapped) {
    std::unique_lock lock(WaitLock());
    WaitUntil(lock, INFINITE, [&] { return HasOverlappedIoCompleted(&overlapped); });
}

}  // namespace

DeviceFile::DeviceFile(int fd, bool serial, bool canRead, bool canWrite, bool isPipe)
    : fd_(fd), serial_(serial), canRead_(canRead), canWrite_(canWrite), isPipe_(isPipe) {
    wakeFd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (wakeFd_ < 0) {
        const int error = errno;
        close(fd_);
        throw std::system_error(error, std::generic_category());
    }
}

// Closing the handle cancels what is still running, so no operation
// touches its caller's record or buffer afterwards.
DeviceFile::~DeviceFile() {
    {
        std::lock_guard guard(lock_);
        stopping_ = true;
    }
    Wake();
    if (worker_.joinable()) worker_.join();
    {
        std::lock_guard guard(lock_);
        FailAll(reads_, ERROR_OPERATION_ABORTED);
        FailAll(writes_, ERROR_OPERATION_ABORTED);
    }
    close(wakeFd_);
    close(fd_);
}

BOOL DeviceFile::Read(void* buffer, DWORD bytes, DWORD* done, OVERLAPPED* overlapped) {
    if (buffer == nullptr && bytes != 0) return Fail(ERROR_INVALID_PARAMETER, FALSE);
    if (!canRead_) return Fail(ERROR_ACCESS_DENIED, FALSE);
    Request request{Kind::Read, overlapped, static_cast<BYTE*>(buffer), bytes};
    return Start(request, done);
}

BOOL DeviceFile::Write(const void* buffer, DWORD bytes, DWORD* done, OVERLAPPED* overlapped) {
    if (buffer == nullptr && bytes != 0) return Fail(ERROR_INVALID_PARAMETER, FALSE);
    if (!canWrite_) return Fail(ERROR_ACCESS_DENIED, FALSE);
    // The queue never writes into the buffer; the cast only shares the record.
    Request request{Kind::Write, overlapped, const_cast<BYTE*>(static_cast<const BYTE*>(buffer)),
                    bytes};
    return Start(request, done);
}

BOOL DeviceFile::Start(Request request, DWORD* done) {
    OVERLAPPED local{};
    const bool waits = request.overlapped == nullptr;
    if (waits) request.overlapped = &local;
    request.issuer = std::this_thread::get_id();
    OVERLAPPED& record = *request.overlapped;
    record.InternalHigh = 0;
    std::atomic_ref<ULONG_PTR>(record.Internal).store(STATUS_PENDING, std::memory_order_release);
    if (record.hEvent != nullptr) ResetEvent(record.hEvent);
    {
        std::lock_guard guard(lock_);
        std::deque<Request>& queue = request.kind == Kind::Read ? reads_ : writes_;
        if (queue.empty()) {
            Arm(request);
            PipeSignalBlock pipeSignal(isPipe_ && request.kind == Kind::Write);
            Transfer(request);
            if (request.error != ERROR_SUCCESS || Finished(request, Clock::now())) {
                Complete(request, false);
                if (request.error != ERROR_SUCCESS) return Fail(request.error, FALSE);
                if (done != nullptr) *done = request.done;
                return TRUE;
            }
        }
        try {
            EnsureWorker();
            queue.push_back(request);
        } catch (...) {
            request.error = ErrorFromCurrentException();
            Complete(request, false);
            return Fail(request.error, FALSE);
        }
    }
    Wake();
    if (!waits) return Fail(ERROR_IO_PENDING, FALSE);
    WaitForCompletion(local);
    if (done != nullptr) *done = static_cast<DWORD>(local.InternalHigh);
    const DWORD error = ErrorOfStatus(local.Internal);
    return error == ERROR_SUCCESS ? TRUE : Fail(error, FALSE);
}

void DeviceFile::Arm(Request& request) const {
    const auto now = Clock::now();
    const auto after = [now](std::uint64_t milliseconds) {
        return now + std::chrono::milliseconds(milliseconds);
    };
    request.lastByte = now;
    if (!serial_) {
        // A device hands over what it has; only a serial line waits for more.
        request.endsAtFirstByte = request.kind == Kind::Read;
        return;
    }
    const COMMTIMEOUTS& t = timeouts_;
    if (request.kind == Kind::Write) {
        if (t.WriteTotalTimeoutMultiplier != 0 || t.WriteTotalTimeoutConstant != 0)
            request.deadline = after(std::uint64_t{t.WriteTotalTimeoutMultiplier} * request.size +
                                     t.WriteTotalTimeoutConstant);
        return;
    }
    if (t.ReadIntervalTimeout == MAXDWORD && t.ReadTotalTimeoutMultiplier == 0 &&
        t.ReadTotalTimeoutConstant == 0) {
        request.endsAtOnce = true;
        return;
    }
    if (t.ReadIntervalTimeout == MAXDWORD && t.ReadTotalTimeoutMultiplier == MAXDWORD &&
        t.ReadTotalTimeoutConstant != 0 && t.ReadTotalTimeoutConstant != MAXDWORD) {
        request.endsAtFirstByte = true;
        request.deadline = after(t.ReadTotalTimeoutConstant);
        return;
    }
    if (t.ReadTotalTimeoutMultiplier != 0 || t.ReadTotalTimeoutConstant != 0)
        request.deadline = after(std::uint64_t{t.ReadTotalTimeoutMultiplier} * request.size +
                                 t.ReadTotalTimeoutConstant);
    if (t.ReadIntervalTimeout != 0 && t.ReadIntervalTimeout != MAXDWORD)
        request.interval = std::chrono::milliseconds(t.ReadIntervalTimeout);
}

bool DeviceFile::Transfer(Request& request) {
    bool moved = false;
    while (request.done < request.size) {
        BYTE* at = request.data + request.done;
        const std::size_t left = request.size - request.done;
        const ssize_t count =
            request.kind == Kind::Read ? ::read(fd_, at, left) : ::write(fd_, at, left);
        if (count > 0) {
            request.done += static_cast<DWORD>(count);
            request.lastByte = Clock::now();
            moved = true;
            continue;
        }
        if (count < 0 && errno == EINTR) continue;
        if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
        if (count == 0 && request.kind == Kind::Write) break;
        // A read of nothing from a line means its far end hung up.
        request.error = count == 0 ? ERROR_DEVICE_NOT_CONNECTED : DeviceError(errno);
        return true;
    }
    return moved;
}

bool DeviceFile::Finished(const Request& request, Clock::time_point now) const {
    if (request.done == request.size || request.endsAtOnce) return true;
    if (request.endsAtFirstByte && request.done > 0) return true;
    if (now >= request.deadline) return true;
    return request.interval != Clock::duration::zero() && request.done > 0 &&
           now - request.lastByte >= request.interval;
}

bool DeviceFile::Advance(std::deque<Request>& queue) {
    bool moved = false;
    while (!queue.empty()) {
        Request& front = queue.front();
        moved |= Transfer(front);
        if (front.error == ERROR_SUCCESS && !Finished(front, Clock::now())) break;
        Complete(front, false);
        queue.pop_front();
        moved = true;
        if (!queue.empty()) Arm(queue.front());
    }
    return moved;
}

void DeviceFile::FailAll(std::deque<Request>& queue, DWORD error) {
    for (Request& request : queue) {
        request.error = error;
        Complete(request, error == ERROR_OPERATION_ABORTED);
    }
    queue.clear();
}

void DeviceFile::Complete(Request& request, bool cancelled) {
    OVERLAPPED& record = *request.overlapped;
    // The caller may reuse the record once its status is final: read the
    // event first.
    const HANDLE event = record.hEvent;
    record.InternalHigh = request.done;
    const DWORD error = cancelled ? ERROR_OPERATION_ABORTED : request.error;
    std::atomic_ref<ULONG_PTR>(record.Internal)
        .store(StatusOf(error, request.done < request.size), std::memory_order_release);
    if (event != nullptr) {
        SetEvent(event);
    } else {
        { std::lock_guard guard(WaitLock()); }
        NotifyWaiters();
    }
}

void DeviceFile::CancelFromThread(std::thread::id issuer) {
    std::lock_guard guard(lock_);
    for (std::deque<Request>* queue : {&reads_, &writes_}) {
        const bool frontGoes = !queue->empty() && queue->front().issuer == issuer;
        std::deque<Request> kept;
        for (Request& request : *queue) {
            if (request.issuer == issuer)
                Complete(request, true);
            else
                kept.push_back(request);
        }
        *queue = std::move(kept);
        if (frontGoes && !queue->empty()) Arm(queue->front());
    }
    Wake();  // the worker reads the queues and deadlines again
}

COMMTIMEOUTS DeviceFile::Timeouts() {
    std::lock_guard guard(lock_);
    return timeouts_;
}

void DeviceFile::SetTimeouts(const COMMTIMEOUTS& timeouts) {
    std::lock_guard guard(lock_);
    timeouts_ = timeouts;
}

void DeviceFile::EnsureWorker() {
    if (!worker_.joinable()) worker_ = std::thread(&DeviceFile::Run, this);
}

void DeviceFile::Wake() {
    const std::uint64_t one = 1;
    [[maybe_unused]] ssize_t ignored = ::write(wakeFd_, &one, sizeof one);
}

void DeviceFile::Run() {
    // A write to a pipe whose reader left fails with ERROR_BROKEN_PIPE
    // instead of ending the process.
    sigset_t pipeSet;
    sigemptyset(&pipeSet);
    sigaddset(&pipeSet, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipeSet, nullptr);

    std::unique_lock lock(lock_);
    while (!stopping_) {
        short events = 0;
        auto deadline = Clock::time_point::max();
        for (const std::deque<Request>* queue : {&reads_, &writes_}) {
            if (queue->empty()) continue;
            const Request& front = queue->front();
            events |= front.kind == Kind::Read ? POLLIN : POLLOUT;
            deadline = std::min(deadline, front.deadline);
            if (front.interval != Clock::duration::zero() && front.done > 0)
                deadline = std::min(deadline, front.lastByte + front.interval);
        }
        int timeout = -1;
        if (deadline != Clock::time_point::max()) {
            const auto wait = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
            timeout = static_cast<int>(std::clamp<std::int64_t>(wait.count(), 0, INT_MAX));
        }
        pollfd fds[2] = {{wakeFd_, POLLIN, 0}, {fd_, events, 0}};
        const nfds_t count = events != 0 ? 2 : 1;
        lock.unlock();
        const int ready = poll(fds, count, timeout);
        lock.lock();
        if (stopping_) break;
        if (ready < 0 && errno != EINTR) {
            FailAll(reads_, DeviceError(errno));
            FailAll(writes_, DeviceError(errno));
            continue;
        }
        std::uint64_t wakes = 0;
        [[maybe_unused]] ssize_t ignored = ::read(wakeFd_, &wakes, sizeof wakes);
        const bool readsMoved = Advance(reads_);
        const bool writesMoved = Advance(writes_);
        // A hung-up descriptor stays ready for ever: when it moves nothing
        // more, what waits on it fails rather than spinning.
        const bool hungUp = count == 2 && (fds[1].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
        if (hungUp && !readsMoved && !writesMoved) {
            FailAll(reads_, ERROR_DEVICE_NOT_CONNECTED);
            FailAll(writes_, ERROR_DEVICE_NOT_CONNECTED);
        }
    }
}

bool IsDevicePath(std::string_view path) {
    return path.starts_with("\\\\.\\") || path.starts_with("\\\\?\\");
}

HANDLE OpenDevice(std::string_view path, DWORD access) {
    if (path.size() > kMaxDevicePath) return Fail(ERROR_FILENAME_EXCED_RANGE, INVALID_HANDLE_VALUE);
    const bool serial = path.starts_with("\\\\.\\");
    std::string node;
    if (serial) {
        const std::string name = DeviceNameOf(path);
        if (!name.empty()) node = (DeviceFolder() / name).string();
    } else {
        node = InterfaceNode(path);
    }
    if (node.empty()) return Fail(ERROR_FILE_NOT_FOUND, INVALID_HANDLE_VALUE);

    const bool canRead = (access & GENERIC_READ) != 0;
    const bool canWrite = (access & GENERIC_WRITE) != 0;
    const int mode = canRead && canWrite ? O_RDWR : (canWrite ? O_WRONLY : O_RDONLY);
    int fd;
    do {
        fd = open(node.c_str(), mode | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0)
        return Fail(errno == ENOENT ? ERROR_FILE_NOT_FOUND : ErrorFromErrno(errno),
                    INVALID_HANDLE_VALUE);
    struct stat info {};
    if (fstat(fd, &info) != 0 || S_ISDIR(info.st_mode)) {
        close(fd);
        return Fail(ERROR_ACCESS_DENIED, INVALID_HANDLE_VALUE);
    }
    if (serial) {
        // A serial port has one user at a time.
        if (flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
            close(fd);
            return Fail(ERROR_ACCESS_DENIED, INVALID_HANDLE_VALUE);
        }
        termios line{};
        if (tcgetattr(fd, &line) == 0) {
            cfmakeraw(&line);
            tcsetattr(fd, TCSANOW, &line);
        }
    }
    const bool isPipe = S_ISFIFO(info.st_mode) || S_ISSOCK(info.st_mode);
    return RegisterHandle(std::make_shared<DeviceFile>(fd, serial, canRead, canWrite, isPipe));
}

}  // namespace platform

using platform::Fail;

extern "C" {

QLPR_EXPORT BOOL WINAPI GetOverlappedResult(HANDLE file, OVERLAPPED* overlapped, DWORD* transferred,
                                            BOOL wait) {
    if (transferred != nullptr) *transferred = 0;
    if (!platform::LookupHandleAs<platform::DeviceFile>(file))
        return Fail(ERROR_INVALID_HANDLE, FALSE);
    if (overlapped == nullptr) return Fail(ERROR_INVALID_PARAMETER, FALSE);
    if (!HasOverlappedIoCompleted(overlapped)) {
        if (!wait) return Fail(ERROR_IO_INCOMPLETE, FALSE);
        platform::WaitForCompletion(*overlapped);
    }
    if (transferred != nullptr) *transferred = static_cast<DWORD>(overlapped->InternalHigh);
    const DWORD error = platform::ErrorOfStatus(overlapped->Internal);
    return error == ERROR_SUCCESS ? TRUE : Fail(error, FALSE);
}

QLPR_EXPORT BOOL WINAPI CancelIo(HANDLE file) {
    auto device = platform::LookupHandleAs<platform::DeviceFile>(file);
    if (!device) return Fail(ERROR_INVALID_HANDLE, FALSE);
    device->CancelFromThread(std::this_thread::get_id());
    return TRUE;
}

QLPR_EXPORT BOOL WINAPI GetCommTimeouts(HANDLE file, COMMTIMEOUTS* timeouts) {
    auto device = platform::LookupHandleAs<platform::DeviceFile>(file);
    if (!device || !device->IsSerial()) return Fail(ERROR_INVALID_HANDLE, FALSE);
    if (timeouts == nullptr) return Fail(ERROR_INVALID_PARAMETER, FALSE);
    *timeouts = device->Timeouts();
    return TRUE;
}

QLPR_EXPORT BOOL WINAPI SetCommTimeouts(HANDLE file, const COMMTIMEOUTS* timeouts) {
    auto device = platform::LookupHandleAs<platform::DeviceFile>(file);
    if (!device || !device->IsSerial()) return Fail(ERROR_INVALID_HANDLE, FALSE);
    if (timeouts == nullptr) return Fail(ERROR_INVALID_PARAMETER, FALSE);
    device->SetTimeouts(*timeouts);
    return TRUE;
}

}  // extern "C"
