// What the bridge's tests and benchmarks share: the interface names fake
// printers are plugged in under, and the processor time a process used.
#pragma once

#include <sys/resource.h>

#include <chrono>
#include <string>

namespace bridgetest {

// A USB printer interface's name as the device-source folder lists it,
// e.g. InterfaceName("vid_d1c7&pid_0a31", "S1").
inline std::string InterfaceName(const std::string& ids, const std::string& serial) {
    return "usb#" + ids + "#" + serial + "#{28d78fad-5a12-11d1-ae5b-0000f803a8c2}";
}

// User and system time this process has used so far.
inline std::chrono::microseconds ProcessCpuTime() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto time = [](const timeval& t) {
        return std::chrono::seconds(t.tv_sec) + std::chrono::microseconds(t.tv_usec);
    };
    return time(usage.ru_utime) + time(usage.ru_stime);
}

}  // namespace bridgetest
