#include "bridge/service_log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include "platform/events.h"

HANDLE gServiceStopEvent = nullptr;

bool ServiceStopRequested() {
    return WaitForSingleObject(gServiceStopEvent, 0) == WAIT_OBJECT_0;
}

namespace {

// The log file the entries go to. A regular file stays open from entry to
// entry, as long as the setting names it and the name still leads to the
// same file (a removed or rotated log is opened anew). Anything else, such as
// a named pipe, is opened for each entry and closed after it, so that its
// reader sees every entry end.
class LogFile {
  public:
    void Write(const char* path, const char* entry, std::size_t length) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!StillOpen(path)) Open(path);
        if (fd_ < 0) return;
        // One write per entry, appended: the workers' entries do not mix.
        if (write(fd_, entry, length) < 0 || !regular_) Close();
    }

  private:
    bool StillOpen(const char* path) const {
        if (fd_ < 0 || path_ != path) return false;
        struct stat named {};
        return stat(path, &named) == 0 && named.st_dev == device_ && named.st_ino == inode_;
    }
    void Open(const char* path) {
        Close();
        fd_ = open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
        struct stat opened {};
        if (fd_ < 0 || fstat(fd_, &opened) != 0) return Close();
        path_ = path;
        device_ = opened.st_dev;
        inode_ = opened.st_ino;
        regular_ = S_ISREG(opened.st_mode);
    }
    void Close() {
        if (fd_ >= 0) close(fd_);
        fd_ = -1;
        path_.clear();
    }

    std::mutex mutex_;
    int fd_ = -1;
    std::string path_;
    dev_t device_ = 0;
    ino_t inode_ = 0;
    bool regular_ = false;
};

// Never destroyed: a worker may still log while the process exits.
LogFile& TheLogFile() {
    static LogFile* const file = new LogFile;
    return *file;
}

}  // namespace

// Where the log goes: QLPR_SERVICE_LOG names "stderr" or a file to append
// to; unset or empty, nothing is formatted. Read at every line so that a
// running service (or a test) can turn it on and off.
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
    std::size_t length = std::strlen(buffer);
    if (length == 0 || buffer[length - 1] != '\n') buffer[length++] = '\n';
    if (std::strcmp(setting, "stderr") == 0) {
        std::fwrite(buffer, 1, length, stderr);
        std::fflush(stderr);
        return;
    }
    TheLogFile().Write(setting, buffer, length);
}
