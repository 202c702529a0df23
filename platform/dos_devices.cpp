#include "platform/dos_devices.h"

namespace platform {

WideString DosDevicePath(WideView name) {
    const bool reserved = name.size() == 4 && WideEqualsNoCase(name.substr(0, 3), u"COM") &&
                          name[3] >= u'1' && name[3] <= u'9';
    if (!reserved) return WideString(name);
    WideString device = u"\\\\.\\COM";
    device += name[3];
    return device;
}

}  // namespace platform
