// Arrival and removal notices of USB devices: what a window registered
// for device-interface notifications of GUID_DEVINTERFACE_USB_DEVICE
// receives (RegisterDeviceNotificationW), given to a handler instead.
//
// Where the notices come from:
// - normally from udev: every USB device that is added or removed, with
//   the path "\\?\USB#VID_vvvv&PID_pppp#<serial>#{a5dcbf10-6530-11d2-901f-00c04fb951ed}"
//   (identifiers in upper-case hexadecimal, as the platform gives them;
//   the serial number, else the device's USB bus position);
// - when QLPR_DEVICE_SOURCE names a folder (device_interfaces.h), from
//   watching that folder: an entry that appears arrives, one that goes is
//   removed, with the path "\\?\" and the entry's name. Entries starting
//   with '.' are not devices.
// Paths of 260 characters or more are left out, as in the enumeration.
#pragma once

#include <functional>
#include <memory>

#include "platform/device_interfaces.h"
#include "platform/types.h"
#include "platform/wide.h"

inline constexpr DWORD DBT_DEVICEARRIVAL = 0x8000;
inline constexpr DWORD DBT_DEVICEREMOVECOMPLETE = 0x8004;

inline constexpr GUID GUID_DEVINTERFACE_USB_DEVICE = {
    0xA5DCBF10, 0x6530, 0x11D2, {0x90, 0x1F, 0x00, 0xC0, 0x4F, 0xB9, 0x51, 0xED}};

namespace platform {

class QLPR_EXPORT DeviceNoticeWatch {
  public:
    // `event` is DBT_DEVICEARRIVAL or DBT_DEVICEREMOVECOMPLETE.
    using Handler = std::function<void(DWORD event, const WideString& path)>;

    // Starts watching the source chosen when it starts. The handler runs on
    // a thread of the watch, one notice at a time, in order.
    explicit DeviceNoticeWatch(Handler handler);
    // Stops watching; no handler call runs once it has returned. Not to be
    // called from the handler.
    ~DeviceNoticeWatch();
    DeviceNoticeWatch(const DeviceNoticeWatch&) = delete;
    DeviceNoticeWatch& operator=(const DeviceNoticeWatch&) = delete;

    // False when no source could be watched: no notice will come.
    bool Watching() const;

  private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace platform
