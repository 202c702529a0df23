// The thread's last error lives here, in the one platform library, so that
// every module of the process sees the same value.
#include "platform/last_error.h"

#include <cerrno>
#include <filesystem>
#include <new>
#include <system_error>

#include "platform/internal.h"

namespace {
thread_local DWORD lastError = ERROR_SUCCESS;
}

extern "C" {

QLPR_EXPORT DWORD WINAPI GetLastError() {
    return lastError;
}

QLPR_EXPORT void WINAPI SetLastError(DWORD error) {
    lastError = error;
}

}  // extern "C"

namespace platform {

DWORD ErrorFromErrno(int error) noexcept {
    switch (error) {
        case 0:
            return ERROR_SUCCESS;
        case ENOENT:
            return ERROR_FILE_NOT_FOUND;
        case ENOTDIR:
            return ERROR_PATH_NOT_FOUND;
        case EACCES:
        case EPERM:
        case EROFS:
        case EISDIR:
        case ELOOP:
            return ERROR_ACCESS_DENIED;
        case EBADF:
            return ERROR_INVALID_HANDLE;
        case ENOMEM:
            return ERROR_NOT_ENOUGH_MEMORY;
        case EEXIST:
            return ERROR_FILE_EXISTS;
        case EMFILE:
        case ENFILE:
            return ERROR_TOO_MANY_OPEN_FILES;
        case EXDEV:
            return ERROR_NOT_SAME_DEVICE;
        case EBUSY:
        case ETXTBSY:
        case EWOULDBLOCK:
            return ERROR_SHARING_VIOLATION;
        case ENOSPC:
        case EDQUOT:
        case EFBIG:
            return ERROR_DISK_FULL;
        case EPIPE:
            return ERROR_BROKEN_PIPE;
        case ENAMETOOLONG:
            return ERROR_FILENAME_EXCED_RANGE;
        case ENOTEMPTY:
            return ERROR_DIR_NOT_EMPTY;
        case EINVAL:
        case EFAULT:
            return ERROR_INVALID_PARAMETER;
        case ESPIPE:
        case ENOSYS:
        case ENOTSUP:
            return ERROR_INVALID_FUNCTION;
        default:
            return ERROR_GEN_FAILURE;
    }
}

DWORD ErrorFromCurrentException() noexcept {
    try {
        throw;
    } catch (const std::bad_alloc&) {
        return ERROR_NOT_ENOUGH_MEMORY;
    } catch (const std::filesystem::filesystem_error& e) {
        return ErrorFromErrno(e.code().value());
    } catch (const std::system_error& e) {
        if (e.code().category() == std::generic_category() ||
            e.code().category() == std::system_category())
            return ErrorFromErrno(e.code().value());
        return ERROR_GEN_FAILURE;
    } catch (...) {
        return ERROR_GEN_FAILURE;
    }
}

}  // namespace platform
