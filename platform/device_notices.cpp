#include "platform/device_notices.h"

#include <libudev.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "platform/device_folder.h"
#include "platform/usb_paths.h"

namespace platform {
namespace {

constexpr std::string_view kInterfacePrefix = "\\\\?\\";
constexpr std::string_view kUsbDeviceClass = "{a5dcbf10-6530-11d2-901f-00c04fb951ed}";
constexpr std::size_t kInotifyBuffer = 4096;

std::string Upper(std::string text) {
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

// "VID_vvvv&PID_pppp" from the PRODUCT property ("vendor/product/release"
// in hexadecimal without leading zeros), which removals carry too.
std::string UsbIdentifier(const char* product) {
    unsigned vendor = 0;
    unsigned model = 0;
    if (product == nullptr || std::sscanf(product, "%x/%x", &vendor, &model) != 2) return {};
    char identifier[32];
    std::snprintf(identifier, sizeof identifier, "VID_%04X&PID_%04X", vendor & 0xFFFF,
                  model & 0xFFFF);
    return identifier;
}

}  // namespace

struct DeviceNoticeWatch::State {
    Handler handler;
    int stop = -1;    // eventfd that ends the thread
    int source = -1;  // inotify or udev monitor descriptor
    udev* context = nullptr;
    udev_monitor* monitor = nullptr;
    std::thread thread;

    ~State() {
        if (monitor != nullptr) udev_monitor_unref(monitor);
        if (context != nullptr) udev_unref(context);
        if (monitor == nullptr && source >= 0) close(source);
        if (stop >= 0) close(stop);
    }

    bool WatchFolder(const char* folder) {
        source = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
        return source >= 0 &&
               inotify_add_watch(source, folder,
                                 IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO) >= 0;
    }

    bool WatchUdev() {
        context = udev_new();
        if (context == nullptr) return false;
        monitor = udev_monitor_new_from_netlink(context, "udev");
        if (monitor == nullptr ||
            udev_monitor_filter_add_match_subsystem_devtype(monitor, "usb", "usb_device") < 0 ||
            udev_monitor_enable_receiving(monitor) < 0)
            return false;
        source = udev_monitor_get_fd(monitor);
        return source >= 0;
    }

    void Notify(DWORD event, const std::string& path) {
        if (path.size() <= kMaxDevicePath) handler(event, FromUtf8(path));
    }

    void ReadFolderEvents() {
        alignas(inotify_event) char buffer[kInotifyBuffer];
        ssize_t got;
        while ((got = read(source, buffer, sizeof buffer)) > 0) {
            for (ssize_t at = 0; at < got;) {
                const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
                at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
                const std::string name = event->len > 0 ? event->name : "";
                if (name.empty() || name.front() == '.') continue;
                const bool arrival = (event->mask & (IN_CREATE | IN_MOVED_TO)) != 0;
                Notify(arrival ? DBT_DEVICEARRIVAL : DBT_DEVICEREMOVECOMPLETE,
                       std::string(kInterfacePrefix) + name);
            }
        }
    }

    void ReadUdevEvent() {
        udev_device* device = udev_monitor_receive_device(monitor);
        if (device == nullptr) return;
        const char* action = udev_device_get_action(device);
        const std::string identifier =
            UsbIdentifier(udev_device_get_property_value(device, "PRODUCT"));
        const bool arrival = action != nullptr && std::strcmp(action, "add") == 0;
        const bool removal = action != nullptr && std::strcmp(action, "remove") == 0;
        if ((arrival || removal) && !identifier.empty()) {
            const std::string instance =
                InstanceId(udev_device_get_property_value(device, "ID_SERIAL_SHORT"),
                           udev_device_get_sysname(device));
            Notify(arrival ? DBT_DEVICEARRIVAL : DBT_DEVICEREMOVECOMPLETE,
                   std::string(kInterfacePrefix) + "USB#" + identifier + "#" + Upper(instance) +
                       "#" + std::string(kUsbDeviceClass));
        }
        udev_device_unref(device);
    }

    void Run() {
        pollfd watched[2] = {{source, POLLIN, 0}, {stop, POLLIN, 0}};
        while (true) {
            if (poll(watched, 2, -1) < 0) {
                if (errno == EINTR) continue;
                return;
            }
            if (watched[1].revents != 0) return;
            if (watched[0].revents & (POLLERR | POLLHUP | POLLNVAL)) return;
            if (monitor != nullptr) {
                ReadUdevEvent();
            } else {
                ReadFolderEvents();
            }
        }
    }
};

DeviceNoticeWatch::DeviceNoticeWatch(Handler handler) : state_(std::make_unique<State>()) {
    state_->handler = std::move(handler);
    state_->stop = eventfd(0, EFD_CLOEXEC);
    const char* folder = std::getenv("QLPR_DEVICE_SOURCE");
    const bool watching =
        state_->stop >= 0 &&
        (folder != nullptr && folder[0] != 0 ? state_->WatchFolder(folder) : state_->WatchUdev());
    if (!watching) {
        state_.reset();
        return;
    }
    state_->thread = std::thread([state = state_.get()] { state->Run(); });
}

DeviceNoticeWatch::~DeviceNoticeWatch() {
    if (!state_) return;
    const std::uint64_t one = 1;
    if (write(state_->stop, &one, sizeof one) != sizeof one) {
        // An eventfd write fails only on overflow; the thread is woken anyway.
    }
    state_->thread.join();
}

bool DeviceNoticeWatch::Watching() const {
    return state_ != nullptr;
}

}  // namespace platform
