// Files, directories and read-only mappings on POSIX calls (see files.h).
#include "platform/files.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <mutex>
#include <string>
#include <unordered_map>

#include "platform/codepage.h"
#include "platform/device_file.h"
#include "platform/internal.h"
#include "platform/wide.h"

namespace platform {

BOOL WriteAll(int fd, const void* bytes, DWORD count, bool isPipe, DWORD* written) {
    const auto* in = static_cast<const BYTE*>(bytes);
    DWORD done = 0;
    PipeSignalBlock pipeSignal(isPipe);
    while (done < count) {
        const ssize_t put = ::write(fd, in + done, count - done);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) {
            const int error = put == 0 ? EIO : errno;
            if (error == EPIPE) pipeSignal.NoteBrokenPipe();
            if (written != nullptr) *written = done;
            return Fail(error == EIO ? ERROR_WRITE_FAULT : ErrorFromErrno(error), FALSE);
        }
        done += static_cast<DWORD>(put);
    }
    if (written != nullptr) *written = done;
    return TRUE;
}

std::string NativePath(const WCHAR* path) {
    std::string native = ToUtf8(path != nullptr ? path : u"");
    for (char& c : native)
        if (c == '\\') c = '/';
    return native;
}

namespace {

constexpr DWORD kGenericAll = 0x10000000;
constexpr DWORD kFileReadData = 0x0001;
constexpr DWORD kFileWriteData = 0x0002;
constexpr DWORD kFileAppendData = 0x0004;
// Views start on multiples of the platform's allocation granularity.
constexpr std::uint64_t kAllocationGranularity = 65536;
// 100 ns intervals from 1601-01-01 to 1970-01-01.
constexpr std::int64_t kUnixEpochAsFileTime = 116444736000000000;

class File final : public HandleObject {
  public:
    File(int fd, bool canRead, bool canWrite, bool isPipe)
        : fd(fd), canRead(canRead), canWrite(canWrite), isPipe(isPipe) {}
    ~File() override { close(fd); }  // also lets go of the sharing lock
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    const int fd;
    const bool canRead;
    const bool canWrite;
    const bool isPipe;  // a write may raise SIGPIPE
};

// Holds its own descriptor of the file, so the file handle may be closed.
class Mapping final : public HandleObject {
  public:
    Mapping(int fd, std::uint64_t size) : fd(fd), size(size) {}
    ~Mapping() override { close(fd); }
    Mapping(const Mapping&) = delete;
    Mapping& operator=(const Mapping&) = delete;

    const int fd;
    const std::uint64_t size;
};

// Live views and their lengths, which munmap needs.
struct ViewTable {
    std::mutex lock;
    std::unordered_map<const void*, std::size_t> views;
};

ViewTable& Views() {
    static ViewTable* table = new ViewTable;
    return *table;
}

// ENOENT means a missing file when its folder exists, else a missing path.
DWORD MissingError(const std::string& path) {
    std::size_t slash = path.rfind('/');
    std::string folder = slash == std::string::npos ? "." : path.substr(0, slash == 0 ? 1 : slash);
    struct stat info {};
    if (stat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) return ERROR_PATH_NOT_FOUND;
    return ERROR_FILE_NOT_FOUND;
}

DWORD PathError(int error, const std::string& path) {
    if (error == ENOENT) return MissingError(path);
    return ErrorFromErrno(error);
}

int OpenRetrying(const std::string& path, int flags, mode_t mode = 0) {
    int fd;
    do {
        fd = open(path.c_str(), flags, mode);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

FILETIME ToFileTime(std::int64_t seconds, std::int64_t nanoseconds) {
    std::int64_t ticks = seconds * 10000000 + nanoseconds / 100 + kUnixEpochAsFileTime;
    if (ticks < 0) ticks = 0;
    const auto value = static_cast<std::uint64_t>(ticks);
    return FILETIME{static_cast<DWORD>(value), static_cast<DWORD>(value >> 32)};
}

std::uint64_t FileTimeValue(const FILETIME& time) {
    return std::uint64_t{time.dwHighDateTime} << 32 | time.dwLowDateTime;
}

HANDLE CreateFileAt(const std::string& path, DWORD access, DWORD shareMode, DWORD disposition) {
    if (path.empty()) return Fail(ERROR_PATH_NOT_FOUND, INVALID_HANDLE_VALUE);
    const bool wantRead = (access & (GENERIC_READ | kGenericAll | kFileReadData)) != 0;
    const bool wantWrite =
        (access & (GENERIC_WRITE | kGenericAll | kFileWriteData | kFileAppendData)) != 0;
    bool truncate = disposition == CREATE_ALWAYS || disposition == TRUNCATE_EXISTING;
    if (disposition == TRUNCATE_EXISTING && !wantWrite)
        return Fail(ERROR_INVALID_PARAMETER, INVALID_HANDLE_VALUE);

    // The descriptor may write to truncate; the handle's rights are checked
    // by ReadFile and WriteFile.
    const bool fdWrites = wantWrite || truncate;
    const int base = (fdWrites ? (wantRead ? O_RDWR : O_WRONLY) : O_RDONLY) | O_CLOEXEC | O_NOCTTY;
    int fd = -1;
    bool existed = false;
    switch (disposition) {
        case CREATE_NEW:
            fd = OpenRetrying(path, base | O_CREAT | O_EXCL | O_NOFOLLOW, 0644);
            break;
        case CREATE_ALWAYS:
        case OPEN_ALWAYS:
            fd = OpenRetrying(path, base | O_CREAT | O_EXCL, 0644);
            if (fd < 0 && errno == EEXIST) {
                fd = OpenRetrying(path, base);
                existed = fd >= 0;
                // Removed meanwhile, or a dangling link: create it after all.
                if (fd < 0 && errno == ENOENT) fd = OpenRetrying(path, base | O_CREAT, 0644);
            }
            if (disposition == OPEN_ALWAYS) truncate = false;
            break;
        case OPEN_EXISTING:
        case TRUNCATE_EXISTING:
            fd = OpenRetrying(path, base);
            break;
        default:
            return Fail(ERROR_INVALID_PARAMETER, INVALID_HANDLE_VALUE);
    }
    if (fd < 0) {
        DWORD error = PathError(errno, path);
        if (error == ERROR_FILE_EXISTS && disposition != CREATE_NEW) error = ERROR_ACCESS_DENIED;
        return Fail(error, INVALID_HANDLE_VALUE);
    }
    struct stat info {};
    if (fstat(fd, &info) != 0 || S_ISDIR(info.st_mode)) {
        close(fd);
        return Fail(ERROR_ACCESS_DENIED, INVALID_HANDLE_VALUE);
    }
    // The lock comes before truncation, so a refused open changes nothing.
    int lockResult;
    do {
        lockResult = flock(fd, (shareMode == 0 ? LOCK_EX : LOCK_SH) | LOCK_NB);
    } while (lockResult != 0 && errno == EINTR);
    if (lockResult != 0 && errno == EWOULDBLOCK) {
        close(fd);
        return Fail(ERROR_SHARING_VIOLATION, INVALID_HANDLE_VALUE);
    }
    // Other lock failures (a file system without locks) leave the file unlocked.
    if (truncate && S_ISREG(info.st_mode) && info.st_size != 0 && ftruncate(fd, 0) != 0) {
        const int error = errno;
        close(fd);
        return Fail(ErrorFromErrno(error), INVALID_HANDLE_VALUE);
    }
    const bool isPipe = S_ISFIFO(info.st_mode) || S_ISSOCK(info.st_mode);
    std::shared_ptr<File> file;
    try {
        file = std::make_shared<File>(fd, wantRead, wantWrite, isPipe);
    } catch (...) {
        close(fd);
        throw;
    }
    HANDLE handle = RegisterHandle(std::move(file));
    if (handle == nullptr) return INVALID_HANDLE_VALUE;
    SetLastError(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    return handle;
}

}  // namespace
}  // namespace platform

using platform::Fail;

extern "C" {

QLPR_EXPORT HANDLE WINAPI CreateFileW(LPCWSTR name, DWORD access, DWORD shareMode, void*,
                                      DWORD disposition, DWORD, HANDLE) {
    return platform::Guard<HANDLE>(INVALID_HANDLE_VALUE, [&] {
        if (name == nullptr) return Fail(ERROR_INVALID_PARAMETER, INVALID_HANDLE_VALUE);
        const std::string utf8 = platform::ToUtf8(name);
        if (platform::IsDevicePath(utf8)) return platform::OpenDevice(utf8, access);
        return platform::CreateFileAt(platform::NativePath(name), access, shareMode, disposition);
    });
}

// The name is in the ANSI code page, as on the platform.
QLPR_EXPORT HANDLE WINAPI CreateFileA(LPCSTR name, DWORD access, DWORD shareMode, void*,
                                      DWORD disposition, DWORD, HANDLE) {
    return platform::Guard<HANDLE>(INVALID_HANDLE_VALUE, [&] {
        if (name == nullptr) return Fail(ERROR_INVALID_PARAMETER, INVALID_HANDLE_VALUE);
        if (platform::IsDevicePath(name)) return platform::OpenDevice(name, access);
        std::u16string wide(std::strlen(name) + 1, u'\0');
        if (MultiByteToWideChar(CP_ACP, 0, name, -1, wide.data(), static_cast<int>(wide.size())) ==
            0)
            return INVALID_HANDLE_VALUE;
        return platform::CreateFileAt(platform::NativePath(wide.c_str()), access, shareMode,
                                      disposition);
    });
}

QLPR_EXPORT BOOL WINAPI ReadFile(HANDLE file, void* buffer, DWORD bytes, DWORD* read,
                                 void* overlapped) {
    if (read != nullptr) *read = 0;
    if (auto device = platform::LookupHandleAs<platform::DeviceFile>(file))
        return device->Read(buffer, bytes, read, static_cast<OVERLAPPED*>(overlapped));
    auto object = platform::LookupHandleAs<platform::File>(file);
    if (!object) return Fail(ERROR_INVALID_HANDLE, FALSE);
    if (overlapped != nullptr || (buffer == nullptr && bytes != 0))
        return Fail(ERROR_INVALID_PARAMETER, FALSE);
    if (!object->canRead) return Fail(ERROR_ACCESS_DENIED, FALSE);
    auto* out = static_cast<BYTE*>(buffer);
    DWORD done = 0;
    while (done < bytes) {
        ssize_t got = ::read(object->fd, out + done, bytes - done);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            const int error = errno;
            if (read != nullptr) *read = done;
            return Fail(error == EIO ? ERROR_READ_FAULT : platform::ErrorFromErrno(error), FALSE);
        }
        if (got == 0) break;  // end of file
        done += static_cast<DWORD>(got);
    }
    if (read != nullptr) *read = done;
    return TRUE;
}

QLPR_EXPORT BOOL WINAPI WriteFile(HANDLE file, const void* buffer, DWORD bytes, DWORD* written,
                                  void* overlapped) {
    if (written != nullptr) *written = 0;
    if (auto device = platform::LookupHandleAs<platform::DeviceFile>(file))
        return device->Write(buffer, bytes, written, static_cast<OVERLAPPED*>(overlapped));
    auto object = platform::LookupHandleAs<platform::File>(file);
    if (!object) return Fail(ERROR_INVALID_HANDLE, FALSE);
    if (overlapped != nullptr || (buffer == nullptr && bytes != 0))
        return Fail(ERROR_INVALID_PARAMETER, FALSE);
    if (!object->canWrite) return Fail(ERROR_ACCESS_DENIED, FALSE);
    return platform::WriteAll(object->fd, buffer, bytes, object->isPipe, written);
}

// Without distanceHigh the distance is a signed 32-bit value and the new
// position must fit in 32 bits. The last error is cleared on success, since
// a position may look like INVALID_SET_FILE_POINTER.
QLPR_EXPORT DWORD WINAPI SetFilePointer(HANDLE file, LONG distance, LONG* distanceHigh,
                                        DWORD method) {
    auto object = platform::LookupHandleAs<platform::File>(file);
    if (!object) return Fail(ERROR_INVALID_HANDLE, INVALID_SET_FILE_POINTER);
    std::int64_t move = distance;
    if (distanceHigh != nullptr)
        move = static_cast<std::int64_t>(
            static_cast<std::uint64_t>(static_cast<std::uint32_t>(*distanceHigh)) << 32 |
            static_cast<std::uint32_t>(distance));
    std::int64_t origin = 0;
    if (method == FILE_CURRENT) {
        off_t current = lseek(object->fd, 0, SEEK_CUR);
        if (current < 0) return Fail(platform::ErrorFromErrno(errno), INVALID_SET_FILE_POINTER);
        origin = current;
    } else if (method == FILE_END) {
        struct stat info {};
        if (fstat(object->fd, &info) != 0)
            return Fail(platform::ErrorFromErrno(errno), INVALID_SET_FILE_POINTER);
        origin = info.st_size;
    } else if (method != FILE_BEGIN) {
        return Fail(ERROR_INVALID_PARAMETER, INVALID_SET_FILE_POINTER);
    }
    if (move > 0 && origin > INT64_MAX - move)
        return Fail(ERROR_INVALID_PARAMETER, INVALID_SET_FILE_POINTER);
    const std::int64_t target = origin + move;
    if (target < 0) return Fail(ERROR_NEGATIVE_SEEK, INVALID_SET_FILE_POINTER);
    if (distanceHigh == nullptr && target > 0xFFFFFFFE)
        return Fail(ERROR_INVALID_PARAMETER, INVALID_SET_FILE_POINTER);
    if (lseek(object->fd, static_cast<off_t>(target), SEEK_SET) < 0)
        return Fail(platform::ErrorFromErrno(errno), INVALID_SET_FILE_POINTER);
    if (distanceHigh != nullptr) *distanceHigh = static_cast<LONG>(target >> 32);
    SetLastError(ERROR_SUCCESS);
    return static_cast<DWORD>(target);
}

QLPR_EXPORT DWORD WINAPI GetFileSize(HANDLE file, DWORD* sizeHigh) {
    auto object = platform::LookupHandleAs<platform::File>(file);
    if (!object) return Fail(ERROR_INVALID_HANDLE, INVALID_FILE_SIZE);
    struct stat info {};
    if (fstat(object->fd, &info) != 0)
        return Fail(platform::ErrorFromErrno(errno), INVALID_FILE_SIZE);
    const auto size = static_cast<std::uint64_t>(info.st_size);
    if (sizeHigh != nullptr) *sizeHigh = static_cast<DWORD>(size >> 32);
    SetLastError(ERROR_SUCCESS);
    return static_cast<DWORD>(size);
}

// The creation time is the birth time where the file system keeps one,
// else the last write time.
QLPR_EXPORT BOOL WINAPI GetFileTime(HANDLE file, FILETIME* creation, FILETIME* access,
                                    FILETIME* write) {
    auto object = platform::LookupHandleAs<platform::File>(file);
    if (!object) return Fail(ERROR_INVALID_HANDLE, FALSE);
    struct statx info {};
    if (statx(object->fd, "", AT_EMPTY_PATH, STATX_ATIME | STATX_MTIME | STATX_BTIME, &info) != 0)
        return Fail(platform::ErrorFromErrno(errno), FALSE);
    const FILETIME written = platform::ToFileTime(info.stx_mtime.tv_sec, info.stx_mtime.tv_nsec);
    if (write != nullptr) *write = written;
    if (access != nullptr)
        *access = platform::ToFileTime(info.stx_atime.tv_sec, info.stx_atime.tv_nsec);
    if (creation != nullptr) {
        *creation = (info.stx_mask & STATX_BTIME) != 0
                        ? platform::ToFileTime(info.stx_btime.tv_sec, info.stx_btime.tv_nsec)
                        : written;
    }
    return TRUE;
}

QLPR_EXPORT LONG WINAPI CompareFileTime(const FILETIME* a, const FILETIME* b) {
    if (a == nullptr || b == nullptr) return 0;
    const std::uint64_t left = platform::FileTimeValue(*a);
    const std::uint64_t right = platform::FileTimeValue(*b);
    return left < right ? -1 : (left > right ? 1 : 0);
}

// Attributes are FILE_ATTRIBUTE_DIRECTORY or FILE_ATTRIBUTE_NORMAL; a link
// is followed.
QLPR_EXPORT BOOL WINAPI GetFileAttributesExW(LPCWSTR name, GET_FILEEX_INFO_LEVELS level,
                                             void* info) {
    return platform::Guard<BOOL>(FALSE, [&]() -> BOOL {
        if (name == nullptr || info == nullptr || level != GetFileExInfoStandard)
            return Fail(ERROR_INVALID_PARAMETER, FALSE);
        const std::string path = platform::NativePath(name);
        if (path.empty()) return Fail(ERROR_PATH_NOT_FOUND, FALSE);
        struct statx details {};
        if (statx(AT_FDCWD, path.c_str(), 0,
                  STATX_TYPE | STATX_SIZE | STATX_ATIME | STATX_MTIME | STATX_BTIME, &details) != 0)
            return Fail(platform::PathError(errno, path), FALSE);
        WIN32_FILE_ATTRIBUTE_DATA data{};
        const bool folder = S_ISDIR(details.stx_mode);
        data.dwFileAttributes = folder ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_NORMAL;
        data.ftLastWriteTime =
            platform::ToFileTime(details.stx_mtime.tv_sec, details.stx_mtime.tv_nsec);
        data.ftLastAccessTime =
            platform::ToFileTime(details.stx_atime.tv_sec, details.stx_atime.tv_nsec);
        data.ftCreationTime =
            (details.stx_mask & STATX_BTIME) != 0
                ? platform::ToFileTime(details.stx_btime.tv_sec, details.stx_btime.tv_nsec)
                : data.ftLastWriteTime;
        const std::uint64_t size = folder ? 0 : details.stx_size;
        data.nFileSizeHigh = static_cast<DWORD>(size >> 32);
        data.nFileSizeLow = static_cast<DWORD>(size);
        std::memcpy(info, &data, sizeof data);
        return TRUE;
    });
}

QLPR_EXPORT DWORD WINAPI GetFileAttributesW(LPCWSTR name) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(name, GetFileExInfoStandard, &data)) return INVALID_FILE_ATTRIBUTES;
    return data.dwFileAttributes;
}

QLPR_EXPORT BOOL WINAPI CloseHandle(HANDLE handle) {
    const bool closed = platform::ReleaseHandleIf(
        handle, [](const platform::HandleObject& object) { return object.ClosedByCloseHandle(); });
    return closed ? TRUE : Fail(ERROR_INVALID_HANDLE, FALSE);
}

QLPR_EXPORT BOOL WINAPI DeleteFileW(LPCWSTR name) {
    return platform::Guard<BOOL>(FALSE, [&]() -> BOOL {
        if (name == nullptr) return Fail(ERROR_INVALID_PARAMETER, FALSE);
        const std::string path = platform::NativePath(name);
        if (path.empty()) return Fail(ERROR_PATH_NOT_FOUND, FALSE);
        if (unlink(path.c_str()) != 0) return Fail(platform::PathError(errno, path), FALSE);
        return TRUE;
    });
}

// Renames, replacing an existing target. A file moves to another file
// system by copy and removal, as on the platform; a folder cannot
// (ERROR_NOT_SAME_DEVICE).
QLPR_EXPORT BOOL WINAPI MoveFileW(LPCWSTR from, LPCWSTR to) {
    return platform::Guard<BOOL>(FALSE, [&]() -> BOOL {
        if (from == nullptr || to == nullptr) return Fail(ERROR_INVALID_PARAMETER, FALSE);
        const std::string source = platform::NativePath(from);
        const std::string target = platform::NativePath(to);
        if (source.empty() || target.empty()) return Fail(ERROR_PATH_NOT_FOUND, FALSE);
        if (rename(source.c_str(), target.c_str()) == 0) return TRUE;
        if (errno != EXDEV) return Fail(platform::PathError(errno, source), FALSE);

        struct stat info {};
        if (lstat(source.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
            return Fail(ERROR_NOT_SAME_DEVICE, FALSE);
        const int in = platform::OpenRetrying(source, O_RDONLY | O_CLOEXEC);
        if (in < 0) return Fail(platform::PathError(errno, source), FALSE);
        std::string temp = target + ".qlpr-move-XXXXXX";
        const int out = mkostemp(temp.data(), O_CLOEXEC);
        if (out < 0) {
            const int error = errno;
            close(in);
            return Fail(platform::PathError(error, target), FALSE);
        }
        bool ok = true;
        char chunk[65536];
        for (;;) {
            ssize_t got = read(in, chunk, sizeof chunk);
            if (got < 0 && errno == EINTR) continue;
            if (got < 0) ok = false;
            if (got <= 0) break;
            for (ssize_t done = 0; done < got;) {
                ssize_t put = write(out, chunk + done, static_cast<std::size_t>(got - done));
                if (put < 0 && errno == EINTR) continue;
                if (put <= 0) {
                    ok = false;
                    break;
                }
                done += put;
            }
            if (!ok) break;
        }
        int error = ok ? 0 : (errno != 0 ? errno : EIO);
        fchmod(out, info.st_mode & 07777);
        if (close(out) != 0 && ok) ok = false, error = errno;
        close(in);
        if (ok && rename(temp.c_str(), target.c_str()) != 0) ok = false, error = errno;
        if (!ok) {
            unlink(temp.c_str());
            return Fail(error == ENOSPC ? ERROR_DISK_FULL : platform::ErrorFromErrno(error), FALSE);
        }
        unlink(source.c_str());
        return TRUE;
    });
}

QLPR_EXPORT BOOL WINAPI CreateDirectoryW(LPCWSTR name, void*) {
    return platform::Guard<BOOL>(FALSE, [&]() -> BOOL {
        if (name == nullptr) return Fail(ERROR_INVALID_PARAMETER, FALSE);
        const std::string path = platform::NativePath(name);
        if (path.empty()) return Fail(ERROR_PATH_NOT_FOUND, FALSE);
        if (mkdir(path.c_str(), 0777) == 0) return TRUE;
        if (errno == EEXIST) return Fail(ERROR_ALREADY_EXISTS, FALSE);
        if (errno == ENOENT) return Fail(ERROR_PATH_NOT_FOUND, FALSE);
        return Fail(platform::ErrorFromErrno(errno), FALSE);
    });
}

QLPR_EXPORT HANDLE WINAPI CreateFileMappingW(HANDLE file, void*, DWORD protect,
                                             DWORD maximumSizeHigh, DWORD maximumSizeLow,
                                             LPCWSTR name) {
    return platform::Guard<HANDLE>(nullptr, [&]() -> HANDLE {
        auto object = platform::LookupHandleAs<platform::File>(file);
        if (!object) return Fail(ERROR_INVALID_HANDLE, nullptr);
        if (protect != PAGE_READONLY || name != nullptr)
            return Fail(ERROR_INVALID_PARAMETER, nullptr);
        if (!object->canRead) return Fail(ERROR_ACCESS_DENIED, nullptr);
        struct stat info {};
        if (fstat(object->fd, &info) != 0) return Fail(platform::ErrorFromErrno(errno), nullptr);
        if (!S_ISREG(info.st_mode)) return Fail(ERROR_INVALID_PARAMETER, nullptr);
        const auto fileSize = static_cast<std::uint64_t>(info.st_size);
        std::uint64_t size = std::uint64_t{maximumSizeHigh} << 32 | maximumSizeLow;
        if (size == 0) size = fileSize;
        // A read-only mapping cannot make the file longer; an empty one is refused.
        if (size == 0 || size > fileSize) return Fail(ERROR_INVALID_PARAMETER, nullptr);
        const int fd = fcntl(object->fd, F_DUPFD_CLOEXEC, 0);
        if (fd < 0) return Fail(platform::ErrorFromErrno(errno), nullptr);
        std::shared_ptr<platform::Mapping> mapping;
        try {
            mapping = std::make_shared<platform::Mapping>(fd, size);
        } catch (...) {
            close(fd);
            throw;
        }
        return platform::RegisterHandle(std::move(mapping));
    });
}

// `bytes` 0 maps to the end of the mapping. Offsets are multiples of 64 KiB.
// A file cut shorter while it is mapped cannot be read past its new end.
QLPR_EXPORT void* WINAPI MapViewOfFile(HANDLE mapping, DWORD access, DWORD offsetHigh,
                                       DWORD offsetLow, SIZE_T bytes) {
    return platform::Guard<void*>(nullptr, [&]() -> void* {
        auto object = platform::LookupHandleAs<platform::Mapping>(mapping);
        if (!object) return Fail(ERROR_INVALID_HANDLE, nullptr);
        if (access != FILE_MAP_READ) return Fail(ERROR_ACCESS_DENIED, nullptr);
        const std::uint64_t offset = std::uint64_t{offsetHigh} << 32 | offsetLow;
        if (offset % platform::kAllocationGranularity != 0)
            return Fail(ERROR_MAPPED_ALIGNMENT, nullptr);
        if (offset >= object->size) return Fail(ERROR_ACCESS_DENIED, nullptr);
        const std::uint64_t length = bytes != 0 ? bytes : object->size - offset;
        if (length > object->size - offset) return Fail(ERROR_ACCESS_DENIED, nullptr);
        void* view = mmap(nullptr, static_cast<std::size_t>(length), PROT_READ, MAP_PRIVATE,
                          object->fd, static_cast<off_t>(offset));
        if (view == MAP_FAILED) return Fail(platform::ErrorFromErrno(errno), nullptr);
        try {
            platform::ViewTable& table = platform::Views();
            std::lock_guard guard(table.lock);
            table.views.emplace(view, static_cast<std::size_t>(length));
        } catch (...) {
            munmap(view, static_cast<std::size_t>(length));
            throw;
        }
        return view;
    });
}

QLPR_EXPORT BOOL WINAPI UnmapViewOfFile(const void* view) {
    std::size_t length = 0;
    {
        platform::ViewTable& table = platform::Views();
        std::lock_guard guard(table.lock);
        auto found = table.views.find(view);
        if (found == table.views.end()) return Fail(ERROR_INVALID_ADDRESS, FALSE);
        length = found->second;
        table.views.erase(found);
    }
    munmap(const_cast<void*>(view), length);
    return TRUE;
}

}  // extern "C"
