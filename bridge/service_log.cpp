#include "bridge/service_log.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/events.h"

HANDLE gServiceStopEvent = nullptr;

bool ServiceStopRequested() {
    return WaitForSingleObject(gServiceStopEvent, 0) == WAIT_OBJECT_0;
}

namespace {

// Where the log goes: QLPR_SERVICE_LOG names "stderr" or a file to append
// to; unset or empty, nothing is formatted. Read at every line so that a
// running service (or a test) can turn it on and off.
FILE* OpenLogSink(const char* setting) {
    if (std::strcmp(setting, "stderr") == 0) return stderr;
    return std::fopen(setting, "a");
}

}  // namespace

void ServiceLog(const char* format, ...) {
    const char* setting = std::getenv("QLPR_SERVICE_LOG");
    if (setting == nullptr || *setting == '\0') return;
    // One byte beyond the 1024-byte entry for its separator.
    char buffer[1024 + 1];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(buffer, 1024, format, arguments);
    va_end(arguments);
    // Each call is one entry, as a debugger shows it; in a file or on stderr
    // an entry without its own line end gets one, so entries stay apart.
    // Written at once, so that the workers' entries do not mix.
    std::size_t length = std::strlen(buffer);
    if (length == 0 || buffer[length - 1] != '\n') buffer[length++] = '\n';
    FILE* sink = OpenLogSink(setting);
    if (sink == nullptr) return;
    std::fwrite(buffer, 1, length, sink);
    if (sink == stderr)
        std::fflush(sink);
    else
        std::fclose(sink);
}
