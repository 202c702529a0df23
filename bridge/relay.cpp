#include "bridge/relay.h"

#include <cstdint>
#include <cstring>

#include "bridge/service_log.h"
#include "bridge/workers.h"
#include "platform/events.h"
#include "platform/files.h"
#include "platform/last_error.h"

namespace {

unsigned HandleValue(HANDLE handle) {
    return static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(handle));
}

bool StillPending(const OVERLAPPED& overlapped) {
    return !HasOverlappedIoCompleted(&overlapped);
}

void Arm(OVERLAPPED* overlapped, HANDLE event) {
    std::memset(overlapped, 0, sizeof *overlapped);
    ResetEvent(event);
    overlapped->hEvent = event;
}

// The shared course of IoWrite and IoRead once the operation was started.
template <typename Start>
int WaitedIo(const char* name, HANDLE file, DWORD* count, HANDLE event, DWORD milliseconds,
             Start start) {
    *count = 0;
    OVERLAPPED overlapped;
    Arm(&overlapped, event);
    if (start(&overlapped)) return ServiceStopRequested() ? kIoStopped : kIoDone;
    const DWORD error = GetLastError();
    if (error != ERROR_IO_PENDING) {
        ServiceLog("%s:IO Error %d", name, static_cast<int>(error));
        return kIoError;
    }
    const HANDLE waitList[] = {gServiceStopEvent, event};
    switch (WaitForMultipleObjects(2, waitList, FALSE, milliseconds)) {
        case WAIT_OBJECT_0:
            if (StillPending(overlapped)) {
                CancelIo(file);
                return kIoStopped;
            }
            return kIoDone;
        case WAIT_OBJECT_0 + 1: {
            const BOOL ok = GetOverlappedResult(file, &overlapped, count, FALSE);
            ServiceLog("%s:GetOverlappedResult %d %d", name, ok, static_cast<int>(GetLastError()));
            return ok ? kIoDone : kIoError;
        }
        default:
            CancelIo(file);
            return kIoNotDone;
    }
}

}  // namespace

int IoWrite(HANDLE file, const void* buffer, DWORD count, DWORD* written, HANDLE event,
            DWORD milliseconds) {
    return WaitedIo("IoWrite", file, written, event, milliseconds, [&](OVERLAPPED* overlapped) {
        return WriteFile(file, buffer, count, written, overlapped);
    });
}

int IoRead(HANDLE file, void* buffer, WORD count, DWORD* read, HANDLE event, DWORD milliseconds) {
    return WaitedIo("IoRead", file, read, event, milliseconds, [&](OVERLAPPED* overlapped) {
        return ReadFile(file, buffer, count, read, overlapped);
    });
}

int IoRead_before(HANDLE file, void* buffer, WORD count, DWORD* read, HANDLE event,
                  OVERLAPPED* overlapped) {
    *read = 0;
    Arm(overlapped, event);
    if (ReadFile(file, buffer, count, read, overlapped))
        return ServiceStopRequested() ? kIoStopped : kIoDone;
    return GetLastError() == ERROR_IO_PENDING ? kIoPending : kIoError;
}

int IoRead_after(const char* devicePath, HANDLE file, void* /*buffer*/, DWORD /*count*/,
                 DWORD* read, HANDLE event, OVERLAPPED* overlapped) {
    *read = 0;
    const HANDLE waitList[] = {gServiceStopEvent, event};
    switch (WaitForMultipleObjects(2, waitList, FALSE, 0)) {
        case WAIT_OBJECT_0:
            return StillPending(*overlapped) ? kIoStopped : kIoDone;
        case WAIT_OBJECT_0 + 1:
            return GetOverlappedResult(file, overlapped, read, FALSE) ? kIoDone : kIoError;
        default:
            break;
    }
    if (USBScan2(devicePath)) {
        ServiceLog("IoRead_after USBScan2 OK\r\n");
        return kIoNotDone;
    }
    ServiceLog("IoRead_after USBScan2 NG\r\n");
    return kIoError;
}

namespace {

constexpr DWORD kComChunk = 1024;  // application data, COM -> USB
constexpr WORD kUsbChunk = 256;    // printer replies, USB -> COM

bool EndsRun(int result) {
    return result == kIoError || result == kIoStopped;
}

// One relay run's state: the USB side and its outstanding read.
class Relay {
  public:
    Relay(const char* devicePath, HANDLE com, HANDLE comEvent, HANDLE usbReadEvent)
        : devicePath_(devicePath), com_(com), comEvent_(comEvent), usbReadEvent_(usbReadEvent) {}

    int Run() {
        usb_ = OpenOverlappedDevice(devicePath_);
        ServiceLog("fnReadCOMPortWriteToUSBSubRoutine USB Open %08x\r\n", HandleValue(usb_));
        if (usb_ == INVALID_HANDLE_VALUE) {
            ServiceLog("fnReadCOMPortWriteToUSBSubRoutine usb open error");
            return kIoError;
        }
        const int result = Passes();
        // The outstanding read uses byteRead2_ and overlapped_: cancel it
        // before they go away.
        CancelIo(usb_);
        ServiceLog("fnReadCOMPortWriteToUSBSubRoutine CancelIo\r\n");
        CloseHandle(usb_);
        ServiceLog("fnReadCOMPortWriteToUSBSubRoutine USB Close\r\n");
        return result;
    }

  private:
    // Passes in a fixed order: USB read start and its forwarding, COM read,
    // forwarding to USB, USB read poll and its forwarding, stop test.
    int Passes() {
        bool startUsbRead = true;
        for (;;) {
            if (startUsbRead) {
                const int started =
                    IoRead_before(usb_, byteRead2_, kUsbChunk, &dwActualBytesReadFromUSB_,
                                  usbReadEvent_, &overlapped_);
                ServiceLog(
                    "fnReadCOMPortWriteToUSBSubRoutine IoRead_beforer(USB) : success=%d  "
                    "dwActualBytesReadFromUSB %d",
                    started, static_cast<int>(dwActualBytesReadFromUSB_));
                startUsbRead = false;
                if (EndsRun(started)) return started;
                if (started == kIoDone) {
                    startUsbRead = true;
                    if (const int sent = ForwardReplyToCom(); EndsRun(sent)) return sent;
                }
            }

            dwActualBytesReadFromCOM_ = 0;
            const int fromCom =
                IoRead(com_, byteRead_, kComChunk, &dwActualBytesReadFromCOM_, comEvent_, INFINITE);
            ServiceLog(
                "fnReadCOMPortWriteToUSBSubRoutine IoRead(COM) : success=%d  "
                "dwActualBytesReadFromCOM %d",
                fromCom, static_cast<int>(dwActualBytesReadFromCOM_));
            if (fromCom == kIoDone && dwActualBytesReadFromCOM_ > 0) {
                // A short write is not continued: the printer took what it took.
                dwActualBytesWrittenToUSB_ = 0;
                const int toUsb = IoWrite(usb_, byteRead_, dwActualBytesReadFromCOM_,
                                          &dwActualBytesWrittenToUSB_, comEvent_, INFINITE);
                ServiceLog(
                    "fnReadCOMPortWriteToUSBSubRoutine IoWrite(USB) : success2=%d  "
                    "dwActualBytesWrittenToUSB %d",
                    toUsb, static_cast<int>(dwActualBytesWrittenToUSB_));
                if (EndsRun(toUsb)) return toUsb;
            }
            if (EndsRun(fromCom)) return fromCom;

            // Only an outstanding read is polled: a read that completed when it
            // was started has been forwarded already, and its event is still
            // set, so a poll would forward the same reply a second time.
            if (!startUsbRead) {
                const int polled = PollUsbRead();
                if (EndsRun(polled)) return polled;
                if (polled == kIoDone) {
                    startUsbRead = true;
                    if (const int sent = ForwardReplyToCom(); EndsRun(sent)) return sent;
                }
            }

            if (ServiceStopRequested()) return kIoDone;
        }
    }

    int PollUsbRead() {
        const int polled = IoRead_after(devicePath_, usb_, byteRead2_, kUsbChunk,
                                        &dwActualBytesReadFromUSB_, usbReadEvent_, &overlapped_);
        ServiceLog(
            "fnReadCOMPortWriteToUSBSubRoutine IoRead_after(USB) : success=%d  "
            "dwActualBytesReadFromUSB %d",
            polled, static_cast<int>(dwActualBytesReadFromUSB_));
        return polled;
    }

    // Writes the completed USB read's bytes, if any, to the COM port.
    int ForwardReplyToCom() {
        if (dwActualBytesReadFromUSB_ == 0) return kIoDone;
        const int written = IoWrite(com_, byteRead2_, dwActualBytesReadFromUSB_,
                                    &dwActualBytesWrittenToCOM_, comEvent_, INFINITE);
        ServiceLog(
            "fnReadCOMPortWriteToUSBSubRoutine IoWrite(COM) : success=%d  "
            "dwActualBytesWrittenToCOM %d",
            written, static_cast<int>(dwActualBytesWrittenToCOM_));
        return written;
    }

    const char* devicePath_;
    HANDLE com_;
    HANDLE comEvent_;
    HANDLE usbReadEvent_;
    HANDLE usb_ = INVALID_HANDLE_VALUE;
    unsigned char byteRead_[kComChunk] = {};
    unsigned char byteRead2_[kUsbChunk] = {};
    OVERLAPPED overlapped_ = {};
    DWORD dwActualBytesReadFromUSB_ = 0;
    DWORD dwActualBytesWrittenToCOM_ = 0;
    DWORD dwActualBytesReadFromCOM_ = 0;
    DWORD dwActualBytesWrittenToUSB_ = 0;
};

}  // namespace

int fnReadCOMPortWriteToUSBSubRoutine(const char* devicePath, HANDLE com, HANDLE comEvent,
                                      HANDLE usbReadEvent) {
    Relay relay(devicePath, com, comEvent, usbReadEvent);
    return relay.Run();
}
