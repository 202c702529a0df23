// Wall-clock time: local time for log lines and archive names, and the
// system time as a FILETIME.
#include "platform/clock.h"

#include <ctime>

namespace {
// 100 ns intervals from 1601-01-01 to 1970-01-01.
constexpr std::int64_t kUnixEpochAsFileTime = 116444736000000000;
}  // namespace

extern "C" {

QLPR_EXPORT void WINAPI GetLocalTime(SYSTEMTIME* time) {
    if (time == nullptr) return;
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    tm local{};
    localtime_r(&now.tv_sec, &local);
    time->wYear = static_cast<WORD>(local.tm_year + 1900);
    time->wMonth = static_cast<WORD>(local.tm_mon + 1);
    time->wDayOfWeek = static_cast<WORD>(local.tm_wday);  // 0 = Sunday on both sides
    time->wDay = static_cast<WORD>(local.tm_mday);
    time->wHour = static_cast<WORD>(local.tm_hour);
    time->wMinute = static_cast<WORD>(local.tm_min);
    // A leap second (tm_sec 60) is shown as the last second of the minute.
    time->wSecond = static_cast<WORD>(local.tm_sec > 59 ? 59 : local.tm_sec);
    time->wMilliseconds = static_cast<WORD>(now.tv_nsec / 1000000);
}

QLPR_EXPORT void WINAPI GetSystemTimeAsFileTime(FILETIME* time) {
    if (time == nullptr) return;
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    const auto ticks = static_cast<std::uint64_t>(static_cast<std::int64_t>(now.tv_sec) * 10000000 +
                                                  now.tv_nsec / 100 + kUnixEpochAsFileTime);
    time->dwLowDateTime = static_cast<DWORD>(ticks);
    time->dwHighDateTime = static_cast<DWORD>(ticks >> 32);
}

}  // extern "C"
