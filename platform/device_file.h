// Device handles with overlapped I/O (see overlapped.h and comm.h); not
// exported.
//
// Each handle owns a non-blocking descriptor. An operation that cannot
// complete at once waits in its kind's queue; one thread per handle,
// started at the first such operation, polls the descriptor and the front
// operation's deadline and completes operations in order. All I/O on the
// descriptor happens under the handle's lock, so cancelling under that
// lock is final at once.
#pragma once

#include <chrono>
#include <deque>
#include <mutex>
#include <string_view>
#include <thread>

#include "platform/comm.h"
#include "platform/internal.h"
#include "platform/overlapped.h"

namespace platform {

// True for the device paths that CreateFile opens as device handles.
bool IsDevicePath(std::string_view path);
// Opens a device path (see overlapped.h); INVALID_HANDLE_VALUE with the
// last error set on failure.
HANDLE OpenDevice(std::string_view path, DWORD access);

class DeviceFile final : public HandleObject {
  public:
    DeviceFile(int fd, bool serial, bool canRead, bool canWrite, bool isPipe);
    ~DeviceFile() override;
    DeviceFile(const DeviceFile&) = delete;
    DeviceFile& operator=(const DeviceFile&) = delete;

    // ReadFile and WriteFile on this handle; `overlapped` may be null.
    BOOL Read(void* buffer, DWORD bytes, DWORD* done, OVERLAPPED* overlapped);
    BOOL Write(const void* buffer, DWORD bytes, DWORD* done, OVERLAPPED* overlapped);
    void CancelFromThread(std::thread::id issuer);

    bool IsSerial() const { return serial_; }
    COMMTIMEOUTS Timeouts();
    void SetTimeouts(const COMMTIMEOUTS& timeouts);

  private:
    using Clock = std::chrono::steady_clock;
    enum class Kind { Read, Write };
    struct Request {
        Kind kind;
        OVERLAPPED* overlapped;
        BYTE* data;
        DWORD size;
        DWORD done = 0;
        std::thread::id issuer{};
        bool endsAtOnce = false;       // returns with whatever is there
        bool endsAtFirstByte = false;  // returns as soon as any byte is there
        Clock::time_point deadline = Clock::time_point::max();
        Clock::duration interval = Clock::duration::zero();  // zero: none
        Clock::time_point lastByte{};
        DWORD error = ERROR_SUCCESS;
    };

    BOOL Start(Request request, DWORD* done);
    void Arm(Request& request) const;
    // Moves what the descriptor allows; false with request.error set on failure.
    bool Transfer(Request& request);
    bool Finished(const Request& request, Clock::time_point now) const;
    // Completes the finished front operations of a queue; true if any moved.
    bool Advance(std::deque<Request>& queue);
    void FailAll(std::deque<Request>& queue, DWORD error);
    void Complete(Request& request, bool cancelled);
    void EnsureWorker();
    void Wake();
    void Run();

    const int fd_;
    const bool serial_;
    const bool canRead_;
    const bool canWrite_;
    const bool isPipe_;
    int wakeFd_ = -1;
    std::mutex lock_;
    std::deque<Request> reads_;
    std::deque<Request> writes_;
    COMMTIMEOUTS timeouts_{};
    bool stopping_ = false;
    std::thread worker_;
};

}  // namespace platform
