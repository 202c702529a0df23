// The spooler stand-in: printer folders under PrintersRoot(), each a key of
// the registry store's format (see spooler.h).
#include "platform/spooler.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <mutex>
#include <vector>

#include "platform/internal.h"
#include "platform/registry_store.h"
#include "platform/store_root.h"
#include "platform/wide.h"

namespace platform {
namespace {

namespace store = registry_store;

// Every printer of this spooler runs the one driver.
constexpr char16_t kDriverName[] = u"QLPR Receipt Driver";
constexpr char16_t kEnvironment[] = u"Linux";
constexpr char16_t kConfigFile[] = u"QLPRUI.DLL";
constexpr char16_t kDriverPathValue[] = u"DriverPath";
constexpr char16_t kDataFileValue[] = u"DataFile";
constexpr char16_t kOutputValue[] = u"Output";
constexpr char16_t kDriverDataKey[] = u"PrinterDriverData";
constexpr DWORD kDriverVersion = 3;

// Another document is already open on the handle.
constexpr DWORD kErrorInvalidPrinterState = 1906;

struct Printer final : HandleObject {
    WideString name;
    std::filesystem::path folder;
    // The open job's output; the job ends with the handle at the latest.
    std::mutex jobLock;
    int jobFd = -1;
    bool jobIsPipe = false;  // a write may raise SIGPIPE

    Printer() = default;
    Printer(const Printer&) = delete;
    Printer& operator=(const Printer&) = delete;
    ~Printer() override {
        if (jobFd >= 0) close(jobFd);
    }
    bool ClosedByCloseHandle() const override { return false; }
};

int OpenRetrying(const std::string& path, int flags) {
    int fd;
    do {
        fd = open(path.c_str(), flags, 0644);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

int ConnectSocket(const std::string& path) {
    sockaddr_un address{};
    if (path.size() >= sizeof address.sun_path) {
        errno = ENAMETOOLONG;
        return -1;
    }
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    int result;
    do {
        result = connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    } while (result != 0 && errno == EINTR);
    if (result != 0 && errno != EISCONN) {
        const int error = errno;
        close(fd);
        errno = error;
        return -1;
    }
    return fd;
}

// Whether the path exists as something written in place: neither a
// regular file nor a folder.
bool IsNodeWrittenInPlace(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && !S_ISREG(info.st_mode) && !S_ISDIR(info.st_mode);
}

// Opens a job output for writing: "-" is standard output (a descriptor of
// its own, so that ending the job leaves standard output open), anything
// else a path. A device, FIFO or socket is opened in place; a regular file
// is truncated; a missing file is made. -1 with the platform's error set
// on failure.
int OpenJobOutput(const WideString& output) {
    if (output.empty()) return Fail(ERROR_PATH_NOT_FOUND, -1);
    if (output == u"-") {
        const int fd = fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 0);
        if (fd < 0) return Fail(ErrorFromErrno(errno), -1);
        return fd;
    }
    const std::string path = NativePath(output.c_str());
    const int fd = IsNodeWrittenInPlace(path)
                       ? OpenOutputInPlace(path, nullptr)
                       : OpenRetrying(path, O_WRONLY | O_CREAT | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        const DWORD error = errno == ENOENT ? ERROR_PATH_NOT_FOUND : ErrorFromErrno(errno);
        return Fail(error, -1);
    }
    // An empty file is left as it is: on ext4, truncating a file to nothing
    // makes its close write the new contents out at once.
    struct stat info {};
    if (fstat(fd, &info) != 0 ||
        (S_ISREG(info.st_mode) && info.st_size != 0 && ftruncate(fd, 0) != 0)) {
        const DWORD error = ErrorFromErrno(errno);
        close(fd);
        return Fail(error, -1);
    }
    return fd;
}

bool IsPipe(int fd) {
    struct stat info {};
    return fstat(fd, &info) == 0 && (S_ISFIFO(info.st_mode) || S_ISSOCK(info.st_mode));
}

// Job ids are unique among the processes that print at the same time, as a
// spooler's are (drivers name their spool files after them): the process
// id above a count of the process's own jobs.
DWORD NextJobId() {
    static std::atomic<DWORD> count{0};
    constexpr DWORD kJobsPerProcess = 1u << 9;
    DWORD id;
    do {
        const DWORD own = count++ % kJobsPerProcess;
        id = (static_cast<DWORD>(getpid()) * kJobsPerProcess + own) & 0x7FFFFFFF;  // positive
    } while (id == 0);
    return id;
}

bool IsFolder(const std::filesystem::path& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::filesystem::path DriverDataFolder(const std::filesystem::path& printerFolder) {
    return printerFolder / store::StoreName(kDriverDataKey, true);
}

WideString ReadText(const std::filesystem::path& folder, WideView name) {
    WideString text;
    if (!store::ReadString(folder, name, &text)) text.clear();
    return text;
}

// The driver's folder (with its separator) followed by the name of the
// driver's user-interface library.
WideString ConfigFileOf(const WideString& driverPath) {
    std::size_t slash = driverPath.rfind(u'/');
    WideString folder = slash == WideString::npos ? WideString() : driverPath.substr(0, slash + 1);
    return folder + kConfigFile;
}

// Lays out a record of type T followed by its strings in the caller's
// buffer, the platform's way: the strings come right after the record, and
// a buffer too small receives nothing.
template <class T>
class RecordPacker {
  public:
    // `field` is set to point at a copy of `text` in the buffer (or null).
    void Add(LPWSTR T::*field, const WideString* text) { strings_.push_back({field, text}); }

    DWORD Needed() const {
        std::size_t total = sizeof(T);
        for (const auto& entry : strings_) {
            if (entry.text != nullptr) total += (entry.text->size() + 1) * sizeof(WCHAR);
        }
        return static_cast<DWORD>(total);
    }

    BOOL Pack(T record, BYTE* buffer, DWORD size, DWORD* needed) const {
        const DWORD total = Needed();
        if (needed != nullptr) *needed = total;
        if (buffer == nullptr || size < total) {
            SetLastError(ERROR_INSUFFICIENT_BUFFER);
            return FALSE;
        }
        std::size_t offset = sizeof(T);
        for (const auto& entry : strings_) {
            if (entry.text == nullptr) {
                record.*(entry.field) = nullptr;
                continue;
            }
            const std::size_t bytes = (entry.text->size() + 1) * sizeof(WCHAR);
            std::memcpy(buffer + offset, entry.text->c_str(), bytes);
            record.*(entry.field) = reinterpret_cast<LPWSTR>(buffer + offset);
            offset += bytes;
        }
        std::memcpy(buffer, &record, sizeof(T));  // the buffer need not be aligned
        SetLastError(ERROR_SUCCESS);
        return TRUE;
    }

  private:
    struct Entry {
        LPWSTR T::*field;
        const WideString* text;
    };
    std::vector<Entry> strings_;
};

std::shared_ptr<Printer> PrinterOf(HANDLE handle) {
    return LookupHandleAs<Printer>(handle);
}

}  // namespace

std::filesystem::path PrinterFolder(const std::u16string& name) {
    try {
        std::filesystem::path root = PrintersRoot();
        if (root.empty() || name.empty()) return {};
        return root / store::StoreName(name, false);
    } catch (...) {
        return {};
    }
}

int OpenOutputInPlace(const std::string& path, void (*waiting)(const char* path)) {
    struct stat info {};
    const bool found = stat(path.c_str(), &info) == 0;
    if (found && S_ISSOCK(info.st_mode)) return ConnectSocket(path);
    constexpr int kFlags = O_WRONLY | O_NOCTTY | O_CLOEXEC;
    if (found && S_ISFIFO(info.st_mode) && waiting != nullptr) {
        // Without a reader a FIFO refuses an open that does not wait.
        const int fd = OpenRetrying(path, kFlags | O_NONBLOCK);
        if (fd >= 0) {
            fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
            return fd;
        }
        if (errno != ENXIO) return -1;
        waiting(path.c_str());
    }
    return OpenRetrying(path, kFlags);
}

bool InstallPrinter(const std::u16string& name, const PrinterSetup& setup) {
    try {
        std::filesystem::path folder = PrinterFolder(name);
        if (folder.empty()) return false;
        if (store::CreateKeyFolder(DriverDataFolder(folder), nullptr) != ERROR_SUCCESS)
            return false;
        return store::WriteString(folder, kDriverPathValue, FromUtf8(setup.driverPath.string())) ==
                   ERROR_SUCCESS &&
               store::WriteString(folder, kDataFileValue, FromUtf8(setup.dataFile.string())) ==
                   ERROR_SUCCESS &&
               store::WriteString(folder, kOutputValue, FromUtf8(setup.output)) == ERROR_SUCCESS;
    } catch (...) {
        return false;
    }
}

std::optional<PrinterSetup> ReadPrinterSetup(const std::u16string& name) {
    try {
        std::filesystem::path folder = PrinterFolder(name);
        if (folder.empty() || !IsFolder(folder)) return std::nullopt;
        WideString driverPath;
        if (!store::ReadString(folder, kDriverPathValue, &driverPath)) return std::nullopt;
        PrinterSetup setup;
        setup.driverPath = ToUtf8(driverPath);
        setup.dataFile = ToUtf8(ReadText(folder, kDataFileValue));
        setup.output = ToUtf8(ReadText(folder, kOutputValue));
        return setup;
    } catch (...) {
        return std::nullopt;
    }
}

}  // namespace platform

using platform::Fail;
using platform::Printer;
using platform::WideString;
namespace store = platform::registry_store;

extern "C" {

QLPR_EXPORT BOOL WINAPI OpenPrinterW(LPCWSTR printerName, HANDLE* printer, PRINTER_DEFAULTSW*) {
    return platform::Guard<BOOL>(FALSE, [&]() -> BOOL {
        if (printer == nullptr) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        *printer = nullptr;
        WideString name = printerName != nullptr ? WideString(printerName) : WideString();
        std::filesystem::path folder = platform::PrinterFolder(name);
        if (folder.empty() || !platform::IsFolder(folder)) {
            SetLastError(ERROR_INVALID_PRINTER_NAME);
            return FALSE;
        }
        auto object = std::make_shared<Printer>();
        object->name = std::move(name);
        object->folder = std::move(folder);
        HANDLE handle = platform::RegisterHandle(std::move(object));
        if (handle == nullptr) return FALSE;
        *printer = handle;
        return TRUE;
    });
}

QLPR_EXPORT BOOL WINAPI ClosePrinter(HANDLE printer) {
    if (!platform::ReleaseHandleAs<Printer>(printer)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}

// The printer of a level-2 query (GetPrinterDriverW, GetPrinterW), or none
// with the last error set: an unknown handle, another level, no `needed`.
static std::shared_ptr<platform::Printer> PrinterForLevel2Query(HANDLE printer, DWORD level,
                                                                const DWORD* needed) {
    auto object = platform::PrinterOf(printer);
    if (!object) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    if (level != 2) {
        SetLastError(ERROR_INVALID_LEVEL);
        return nullptr;
    }
    if (needed == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return object;
}

// The environment is not looked at: every printer has the one driver.
QLPR_EXPORT BOOL WINAPI GetPrinterDriverW(HANDLE printer, LPWSTR, DWORD level, BYTE* buffer,
                                          DWORD size, DWORD* needed) {
    return platform::Guard<BOOL>(FALSE, [&]() -> BOOL {
        auto object = PrinterForLevel2Query(printer, level, needed);
        if (!object) return FALSE;
        WideString driverPath;
        if (!store::ReadString(object->folder, platform::kDriverPathValue, &driverPath)) {
            SetLastError(ERROR_UNKNOWN_PRINTER_DRIVER);
            return FALSE;
        }
        const WideString name = platform::kDriverName;
        const WideString environment = platform::kEnvironment;
        const WideString dataFile = platform::ReadText(object->folder, platform::kDataFileValue);
        const WideString configFile = platform::ConfigFileOf(driverPath);

        platform::RecordPacker<DRIVER_INFO_2W> packer;
        packer.Add(&DRIVER_INFO_2W::pName, &name);
        packer.Add(&DRIVER_INFO_2W::pEnvironment, &environment);
        packer.Add(&DRIVER_INFO_2W::pDriverPath, &driverPath);
        packer.Add(&DRIVER_INFO_2W::pDataFile, &dataFile);
        packer.Add(&DRIVER_INFO_2W::pConfigFile, &configFile);
        DRIVER_INFO_2W record{};
        record.cVersion = platform::kDriverVersion;
        return packer.Pack(record, buffer, size, needed);
    });
}

QLPR_EXPORT BOOL WINAPI GetPrinterW(HANDLE printer, DWORD level, BYTE* buffer, DWORD size,
                                    DWORD* needed) {
    return platform::Guard<BOOL>(FALSE, [&]() -> BOOL {
        auto object = PrinterForLevel2Query(printer, level, needed);
        if (!object) return FALSE;
        const WideString port = platform::ReadText(object->folder, platform::kOutputValue);
        const WideString driverName = platform::kDriverName;
        const WideString empty;

        platform::RecordPacker<PRINTER_INFO_2W> packer;
        packer.Add(&PRINTER_INFO_2W::pServerName, nullptr);  // a local printer
        packer.Add(&PRINTER_INFO_2W::pPrinterName, &object->name);
        packer.Add(&PRINTER_INFO_2W::pShareName, &empty);
        packer.Add(&PRINTER_INFO_2W::pPortName, &port);
        packer.Add(&PRINTER_INFO_2W::pDriverName, &driverName);
        packer.Add(&PRINTER_INFO_2W::pComment, &empty);
        packer.Add(&PRINTER_INFO_2W::pLocation, &empty);
        packer.Add(&PRINTER_INFO_2W::pSepFile, &empty);
        packer.Add(&PRINTER_INFO_2W::pPrintProcessor, &empty);
        packer.Add(&PRINTER_INFO_2W::pDatatype, &empty);
        packer.Add(&PRINTER_INFO_2W::pParameters, &empty);
        PRINTER_INFO_2W record{};
        record.pDevMode = nullptr;
        record.pSecurityDescriptor = nullptr;
        record.Priority = 1;
        return packer.Pack(record, buffer, size, needed);
    });
}

QLPR_EXPORT DWORD WINAPI GetPrinterDataW(HANDLE printer, LPCWSTR valueName, DWORD* type, BYTE* data,
                                         DWORD size, DWORD* needed) {
    return static_cast<DWORD>(platform::GuardStatus([&]() -> LONG {
        auto object = platform::PrinterOf(printer);
        if (!object) return ERROR_INVALID_HANDLE;
        if (valueName == nullptr || (data == nullptr && size != 0)) return ERROR_INVALID_PARAMETER;
        DWORD valueType = REG_NONE;
        std::vector<BYTE> bytes;
        LONG status = store::ReadValue(platform::DriverDataFolder(object->folder), valueName,
                                       &valueType, &bytes);
        if (status != ERROR_SUCCESS) return status;
        const auto valueSize = static_cast<DWORD>(bytes.size());
        if (type != nullptr) *type = valueType;
        if (needed != nullptr) *needed = valueSize;
        if (size < valueSize) return ERROR_MORE_DATA;
        if (valueSize != 0) std::memcpy(data, bytes.data(), valueSize);
        return ERROR_SUCCESS;
    }));
}

QLPR_EXPORT DWORD WINAPI SetPrinterDataW(HANDLE printer, LPCWSTR valueName, DWORD type,
                                         const BYTE* data, DWORD size) {
    return static_cast<DWORD>(platform::GuardStatus([&]() -> LONG {
        auto object = platform::PrinterOf(printer);
        if (!object) return ERROR_INVALID_HANDLE;
        if (valueName == nullptr || (data == nullptr && size != 0)) return ERROR_INVALID_PARAMETER;
        // A printer removed meanwhile is not brought back by its data.
        if (!platform::IsFolder(object->folder)) return ERROR_INVALID_PRINTER_NAME;
        std::filesystem::path folder = platform::DriverDataFolder(object->folder);
        LONG status = store::CreateKeyFolder(folder, nullptr);
        if (status != ERROR_SUCCESS) return status;
        return store::WriteValue(folder, valueName, type, data, size);
    }));
}

QLPR_EXPORT DWORD WINAPI DeletePrinterDataW(HANDLE printer, LPCWSTR valueName) {
    return static_cast<DWORD>(platform::GuardStatus([&]() -> LONG {
        auto object = platform::PrinterOf(printer);
        if (!object) return ERROR_INVALID_HANDLE;
        if (valueName == nullptr) return ERROR_INVALID_PARAMETER;
        return store::DeleteValue(platform::DriverDataFolder(object->folder), valueName);
    }));
}

// Only the printer's "Output" names the job output; the document name, the
// output file and the data type of DOC_INFO_1W are not looked at.
QLPR_EXPORT DWORD WINAPI StartDocPrinterW(HANDLE printer, DWORD level, BYTE* docInfo) {
    return platform::Guard<DWORD>(0, [&]() -> DWORD {
        auto object = platform::PrinterOf(printer);
        if (!object) return Fail(ERROR_INVALID_HANDLE, DWORD{0});
        if (level != 1) return Fail(ERROR_INVALID_LEVEL, DWORD{0});
        if (docInfo == nullptr) return Fail(ERROR_INVALID_PARAMETER, DWORD{0});
        std::lock_guard guard(object->jobLock);
        if (object->jobFd >= 0) return Fail(platform::kErrorInvalidPrinterState, DWORD{0});
        const auto* info = reinterpret_cast<const DOC_INFO_1W*>(docInfo);
        const WideString output =
            info->pOutputFile != nullptr && info->pOutputFile[0] != 0
                ? WideString(reinterpret_cast<const char16_t*>(info->pOutputFile))
                : platform::ReadText(object->folder, platform::kOutputValue);
        const int fd = platform::OpenJobOutput(output);
        if (fd < 0) return DWORD{0};
        object->jobFd = fd;
        object->jobIsPipe = platform::IsPipe(fd);
        SetLastError(ERROR_SUCCESS);
        return platform::NextJobId();
    });
}

QLPR_EXPORT BOOL WINAPI WritePrinter(HANDLE printer, const void* bytes, DWORD count,
                                     DWORD* written) {
    if (written != nullptr) *written = 0;
    auto object = platform::PrinterOf(printer);
    if (!object) return Fail(ERROR_INVALID_HANDLE, FALSE);
    if (bytes == nullptr && count != 0) return Fail(ERROR_INVALID_PARAMETER, FALSE);
    std::lock_guard guard(object->jobLock);
    if (object->jobFd < 0) return Fail(ERROR_SPL_NO_STARTDOC, FALSE);
    return platform::WriteAll(object->jobFd, bytes, count, object->jobIsPipe, written);
}

// The job ends even when closing its output reports an error (FALSE then).
QLPR_EXPORT BOOL WINAPI EndDocPrinter(HANDLE printer) {
    auto object = platform::PrinterOf(printer);
    if (!object) return Fail(ERROR_INVALID_HANDLE, FALSE);
    std::lock_guard guard(object->jobLock);
    if (object->jobFd < 0) return Fail(ERROR_SPL_NO_STARTDOC, FALSE);
    const int fd = object->jobFd;
    object->jobFd = -1;
    object->jobIsPipe = false;
    // Linux releases the descriptor even when close is interrupted.
    if (close(fd) != 0 && errno != EINTR) return Fail(platform::ErrorFromErrno(errno), FALSE);
    return TRUE;
}

}  // extern "C"
