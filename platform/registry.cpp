// The registry on a directory tree (see registry.h and registry_store.h).
#include "platform/registry.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "platform/internal.h"
#include "platform/registry_store.h"
#include "platform/store_root.h"

// An opened key: the folder it stands for and the rights it was opened with.
struct HKEY__ final : platform::HandleObject {
    std::filesystem::path folder;
    REGSAM access = 0;
    bool ClosedByCloseHandle() const override { return false; }
};

namespace platform::registry_store {
namespace {

constexpr REGSAM kGenericRead = 0x80000000;
constexpr REGSAM kGenericWrite = 0x40000000;
constexpr REGSAM kGenericExecute = 0x20000000;
constexpr REGSAM kGenericAll = 0x10000000;
constexpr REGSAM kMaximumAllowed = 0x02000000;

// The rights a handle really has, generic rights spelled out.
REGSAM EffectiveAccess(REGSAM access) {
    if ((access & (kGenericAll | kMaximumAllowed)) != 0) return KEY_ALL_ACCESS;
    if ((access & (kGenericRead | kGenericExecute)) != 0) access |= KEY_READ;
    if ((access & kGenericWrite) != 0) access |= KEY_WRITE;
    return access;
}

constexpr char kDefaultValueFile[] = ".default";
constexpr char kTempPrefix[] = ".tmp-";
// Larger value files are not values this system writes; refuse to read them.
constexpr off_t kLargestValue = 0x7FFFFFFF;

struct ResolvedKey {
    std::filesystem::path folder;
    REGSAM access = 0;
    bool predefined = false;
};

const char* PredefinedFolder(HKEY key) {
    if (key == HKEY_CLASSES_ROOT) return "HKEY_CLASSES_ROOT";
    if (key == HKEY_CURRENT_USER) return "HKEY_CURRENT_USER";
    if (key == HKEY_LOCAL_MACHINE) return "HKEY_LOCAL_MACHINE";
    if (key == HKEY_USERS) return "HKEY_USERS";
    return nullptr;
}

LONG Resolve(HKEY key, ResolvedKey* out) {
    if (const char* root = PredefinedFolder(key)) {
        std::filesystem::path registry = RegistryRoot();
        if (registry.empty()) return ERROR_PATH_NOT_FOUND;  // no store root
        out->folder = registry / root;
        out->access = KEY_ALL_ACCESS;
        out->predefined = true;
        return ERROR_SUCCESS;
    }
    auto object = LookupHandleAs<HKEY__>(key);
    if (!object) return ERROR_INVALID_HANDLE;
    out->folder = object->folder;
    out->access = object->access;
    out->predefined = false;
    return ERROR_SUCCESS;
}

// Folder of `subKey` below `base`: components separated by backslashes,
// empty components ignored.
std::filesystem::path SubkeyFolder(const std::filesystem::path& base, const WCHAR* subKey) {
    std::filesystem::path folder = base;
    if (subKey == nullptr) return folder;
    WideView rest(subKey);
    while (!rest.empty()) {
        std::size_t cut = rest.find(u'\\');
        WideView part = rest.substr(0, cut);
        if (!part.empty()) folder /= StoreName(part, true);
        if (cut == WideView::npos) break;
        rest.remove_prefix(cut + 1);
    }
    return folder;
}

bool IsFolder(const std::filesystem::path& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// Makes every missing folder of `folder`; *created tells whether the last
// one was made here.
LONG MakeFolders(const std::filesystem::path& folder, bool* created) {
    *created = false;
    if (IsFolder(folder)) return ERROR_SUCCESS;
    std::filesystem::path parent = folder.parent_path();
    if (!parent.empty() && parent != folder) {
        bool parentCreated = false;
        LONG status = MakeFolders(parent, &parentCreated);
        if (status != ERROR_SUCCESS) return status;
    }
    if (mkdir(folder.c_str(), 0777) == 0) {
        *created = true;
        return ERROR_SUCCESS;
    }
    if (errno == EEXIST) {
        // Made by someone else meanwhile, or a value file of that name.
        return IsFolder(folder) ? ERROR_SUCCESS : ERROR_ACCESS_DENIED;
    }
    if (errno == ENOTDIR) return ERROR_ACCESS_DENIED;
    return static_cast<LONG>(ErrorFromErrno(errno));
}

LONG NewKeyHandle(const std::filesystem::path& folder, REGSAM access, HKEY* result) {
    auto object = std::make_shared<HKEY__>();
    object->folder = folder;
    object->access = EffectiveAccess(access);
    HANDLE handle = RegisterHandle(std::move(object));
    if (handle == nullptr) return ERROR_NOT_ENOUGH_MEMORY;
    *result = static_cast<HKEY>(handle);
    return ERROR_SUCCESS;
}

bool ReadAll(int fd, BYTE* buffer, std::size_t size) {
    std::size_t done = 0;
    while (done < size) {
        ssize_t got = read(fd, buffer + done, size - done);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        done += static_cast<std::size_t>(got);
    }
    return true;
}

bool WriteAll(int fd, const BYTE* buffer, std::size_t size) {
    std::size_t done = 0;
    while (done < size) {
        ssize_t put = write(fd, buffer + done, size - done);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) return false;
        done += static_cast<std::size_t>(put);
    }
    return true;
}

// Whether the value file `target` holds exactly `bytes` already.
bool HoldsBytes(const std::filesystem::path& target, const std::vector<BYTE>& bytes) {
    const int fd = open(target.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) return false;
    struct stat info {};
    bool same = fstat(fd, &info) == 0 && S_ISREG(info.st_mode) &&
                static_cast<std::uint64_t>(info.st_size) == bytes.size();
    if (same) {
        std::vector<BYTE> held(bytes.size());
        std::size_t done = 0;
        while (done < held.size()) {
            const ssize_t got = read(fd, held.data() + done, held.size() - done);
            if (got < 0 && errno == EINTR) continue;
            if (got <= 0) break;
            done += static_cast<std::size_t>(got);
        }
        same = done == held.size() && held == bytes;
    }
    close(fd);
    return same;
}

std::string TempName() {
    static std::atomic<unsigned> counter{0};
    thread_local std::minstd_rand random(std::random_device{}() ^ static_cast<unsigned>(getpid()));
    return std::string(kTempPrefix) + std::to_string(getpid()) + "-" +
           std::to_string(counter.fetch_add(1)) + "-" + std::to_string(random());
}

}  // namespace

std::string StoreName(WideView name, bool foldCase) {
    std::u16string folded(name);
    if (foldCase) {
        for (char16_t& c : folded) {
            if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c + (u'a' - u'A'));
        }
    }
    std::string utf8 = ToUtf8(folded);
    std::string out;
    out.reserve(utf8.size());
    static const char kHex[] = "0123456789ABCDEF";
    for (std::size_t i = 0; i < utf8.size(); ++i) {
        const auto c = static_cast<unsigned char>(utf8[i]);
        if (c < 0x20 || c == 0x7F || c == '/' || c == '%' || (i == 0 && c == '.')) {
            out.push_back('%');
            out.push_back(kHex[c >> 4]);
            out.push_back(kHex[c & 0xF]);
        } else {
            out.push_back(static_cast<char>(c));
        }
    }
    return out;
}

std::filesystem::path ValueFile(const std::filesystem::path& folder, WideView name) {
    if (name.empty()) return folder / kDefaultValueFile;
    return folder / StoreName(name, true);
}

LONG CreateKeyFolder(const std::filesystem::path& folder, bool* created) {
    return GuardStatus([&]() -> LONG {
        bool made = false;
        LONG status = MakeFolders(folder, &made);
        if (created != nullptr) *created = made;
        return status;
    });
}

LONG OpenKeyAt(const std::filesystem::path& folder, bool create, REGSAM access, HKEY* result,
               DWORD* disposition) {
    return GuardStatus([&]() -> LONG {
        if (result == nullptr) return ERROR_INVALID_PARAMETER;
        *result = nullptr;
        if (create) {
            bool created = false;
            LONG status = MakeFolders(folder, &created);
            if (status != ERROR_SUCCESS) return status;
            if (disposition != nullptr)
                *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
        } else if (!IsFolder(folder)) {
            return ERROR_FILE_NOT_FOUND;
        }
        return NewKeyHandle(folder, access, result);
    });
}

LONG ReadValue(const std::filesystem::path& folder, WideView name, DWORD* type,
               std::vector<BYTE>* data) {
    return GuardStatus([&]() -> LONG {
        std::filesystem::path file = ValueFile(folder, name);
        // O_NONBLOCK: something that is not a regular file must not hang us.
        int fd = open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
        if (fd < 0) {
            if (errno == ENOENT || errno == ENOTDIR || errno == ELOOP) return ERROR_FILE_NOT_FOUND;
            return static_cast<LONG>(ErrorFromErrno(errno));
        }
        struct stat info {};
        LONG status = ERROR_SUCCESS;
        if (fstat(fd, &info) != 0) {
            status = static_cast<LONG>(ErrorFromErrno(errno));
        } else if (!S_ISREG(info.st_mode) || info.st_size < 4) {
            status = ERROR_FILE_NOT_FOUND;  // a subkey, or a corrupt value
        } else if (info.st_size > kLargestValue) {
            status = ERROR_INVALID_DATA;
        } else {
            std::vector<BYTE> bytes(static_cast<std::size_t>(info.st_size));
            if (!ReadAll(fd, bytes.data(), bytes.size())) {
                status = ERROR_FILE_NOT_FOUND;  // shorter than it said: corrupt
            } else {
                if (type != nullptr)
                    *type = DWORD{bytes[0]} | DWORD{bytes[1]} << 8 | DWORD{bytes[2]} << 16 |
                            DWORD{bytes[3]} << 24;
                if (data != nullptr) data->assign(bytes.begin() + 4, bytes.end());
            }
        }
        close(fd);
        return status;
    });
}

LONG WriteValue(const std::filesystem::path& folder, WideView name, DWORD type, const BYTE* data,
                std::size_t size) {
    return GuardStatus([&]() -> LONG {
        if (data == nullptr && size != 0) return ERROR_INVALID_PARAMETER;
        if (!IsFolder(folder)) return ERROR_KEY_DELETED;
        std::vector<BYTE> bytes(4 + size);
        bytes[0] = static_cast<BYTE>(type);
        bytes[1] = static_cast<BYTE>(type >> 8);
        bytes[2] = static_cast<BYTE>(type >> 16);
        bytes[3] = static_cast<BYTE>(type >> 24);
        if (size != 0) std::memcpy(bytes.data() + 4, data, size);

        std::filesystem::path target = ValueFile(folder, name);
        // Rewriting a value with what it holds changes nothing; the usual
        // case (a printer set up again with the same paths) skips the write.
        if (HoldsBytes(target, bytes)) return ERROR_SUCCESS;
        std::filesystem::path temp;
        int fd = -1;
        for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
            temp = folder / TempName();
            fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644);
            if (fd < 0 && errno != EEXIST) return static_cast<LONG>(ErrorFromErrno(errno));
        }
        if (fd < 0) return ERROR_ACCESS_DENIED;
        bool written = WriteAll(fd, bytes.data(), bytes.size());
        int writeError = errno;
        if (close(fd) != 0 && written) written = false, writeError = errno;
        if (!written) {
            unlink(temp.c_str());
            return writeError == ENOSPC ? ERROR_DISK_FULL : ERROR_WRITE_FAULT;
        }
        if (rename(temp.c_str(), target.c_str()) != 0) {
            int renameError = errno;
            unlink(temp.c_str());
            // A subkey of that name is in the way.
            if (renameError == EISDIR || renameError == ENOTEMPTY || renameError == EEXIST)
                return ERROR_ACCESS_DENIED;
            return static_cast<LONG>(ErrorFromErrno(renameError));
        }
        return ERROR_SUCCESS;
    });
}

LONG DeleteValue(const std::filesystem::path& folder, WideView name) {
    return GuardStatus([&]() -> LONG {
        std::filesystem::path file = ValueFile(folder, name);
        if (unlink(file.c_str()) == 0) return ERROR_SUCCESS;
        if (errno == ENOENT || errno == ENOTDIR || errno == EISDIR) return ERROR_FILE_NOT_FOUND;
        return static_cast<LONG>(ErrorFromErrno(errno));
    });
}

bool ReadString(const std::filesystem::path& folder, WideView name, WideString* text) {
    try {
        DWORD type = REG_NONE;
        std::vector<BYTE> bytes;
        if (ReadValue(folder, name, &type, &bytes) != ERROR_SUCCESS) return false;
        if (type != REG_SZ && type != REG_EXPAND_SZ) return false;
        WideString result(bytes.size() / 2, u'\0');
        std::memcpy(result.data(), bytes.data(), result.size() * 2);
        while (!result.empty() && result.back() == 0) result.pop_back();
        // Text after an inner zero is not part of the string.
        result.resize(WideLengthBounded(result.c_str(), result.size()));
        *text = std::move(result);
        return true;
    } catch (...) {
        return false;
    }
}

LONG WriteString(const std::filesystem::path& folder, WideView name, WideView text) {
    return GuardStatus([&]() -> LONG {
        WideString terminated(text);
        terminated.push_back(0);
        return WriteValue(folder, name, REG_SZ, reinterpret_cast<const BYTE*>(terminated.data()),
                          terminated.size() * sizeof(WCHAR));
    });
}

}  // namespace platform::registry_store

namespace store = platform::registry_store;

extern "C" {

QLPR_EXPORT LONG WINAPI RegOpenKeyExW(HKEY key, LPCWSTR subKey, DWORD, REGSAM access,
                                      HKEY* result) {
    return platform::GuardStatus([&]() -> LONG {
        if (result == nullptr) return ERROR_INVALID_PARAMETER;
        *result = nullptr;
        store::ResolvedKey base;
        LONG status = store::Resolve(key, &base);
        if (status != ERROR_SUCCESS) return status;
        std::filesystem::path folder = store::SubkeyFolder(base.folder, subKey);
        // A predefined key always exists, whether or not its folder does yet.
        if (folder == base.folder && base.predefined)
            return store::NewKeyHandle(folder, access, result);
        if (!store::IsFolder(folder)) return ERROR_FILE_NOT_FOUND;
        return store::NewKeyHandle(folder, access, result);
    });
}

QLPR_EXPORT LONG WINAPI RegCreateKeyExW(HKEY key, LPCWSTR subKey, DWORD, LPWSTR, DWORD,
                                        REGSAM access, void*, HKEY* result, DWORD* disposition) {
    return platform::GuardStatus([&]() -> LONG {
        if (result == nullptr) return ERROR_INVALID_PARAMETER;
        *result = nullptr;
        store::ResolvedKey base;
        LONG status = store::Resolve(key, &base);
        if (status != ERROR_SUCCESS) return status;
        if (base.predefined) {
            bool created = false;
            status = store::MakeFolders(base.folder, &created);
            if (status != ERROR_SUCCESS) return status;
        } else if (!store::IsFolder(base.folder)) {
            return ERROR_KEY_DELETED;
        }
        std::filesystem::path folder = store::SubkeyFolder(base.folder, subKey);
        bool created = false;
        status = store::MakeFolders(folder, &created);
        if (status != ERROR_SUCCESS) return status;
        status = store::NewKeyHandle(folder, access, result);
        if (status == ERROR_SUCCESS && disposition != nullptr)
            *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
        return status;
    });
}

QLPR_EXPORT LONG WINAPI RegCreateKeyW(HKEY key, LPCWSTR subKey, HKEY* result) {
    return RegCreateKeyExW(key, subKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                           nullptr, result, nullptr);
}

QLPR_EXPORT LONG WINAPI RegCloseKey(HKEY key) {
    if (store::PredefinedFolder(key) != nullptr) return ERROR_SUCCESS;
    return platform::ReleaseHandleAs<HKEY__>(key) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

QLPR_EXPORT LONG WINAPI RegQueryValueExW(HKEY key, LPCWSTR name, DWORD* reserved, DWORD* type,
                                         BYTE* data, DWORD* size) {
    return platform::GuardStatus([&]() -> LONG {
        if (reserved != nullptr || (data != nullptr && size == nullptr))
            return ERROR_INVALID_PARAMETER;
        store::ResolvedKey base;
        LONG status = store::Resolve(key, &base);
        if (status != ERROR_SUCCESS) return status;
        if ((base.access & KEY_QUERY_VALUE) == 0) return ERROR_ACCESS_DENIED;
        DWORD valueType = REG_NONE;
        std::vector<BYTE> bytes;
        status = store::ReadValue(base.folder, name != nullptr ? platform::WideView(name) : u"",
                                  &valueType, &bytes);
        if (status != ERROR_SUCCESS) return status;
        if (type != nullptr) *type = valueType;
        const auto valueSize = static_cast<DWORD>(bytes.size());
        if (data == nullptr) {
            if (size != nullptr) *size = valueSize;
            return ERROR_SUCCESS;
        }
        if (*size < valueSize) {
            *size = valueSize;
            return ERROR_MORE_DATA;
        }
        if (valueSize != 0) std::memcpy(data, bytes.data(), valueSize);
        *size = valueSize;
        return ERROR_SUCCESS;
    });
}

QLPR_EXPORT LONG WINAPI RegSetValueExW(HKEY key, LPCWSTR name, DWORD, DWORD type, const BYTE* data,
                                       DWORD size) {
    return platform::GuardStatus([&]() -> LONG {
        store::ResolvedKey base;
        LONG status = store::Resolve(key, &base);
        if (status != ERROR_SUCCESS) return status;
        if ((base.access & KEY_SET_VALUE) == 0) return ERROR_ACCESS_DENIED;
        if (base.predefined) {
            bool created = false;
            status = store::MakeFolders(base.folder, &created);
            if (status != ERROR_SUCCESS) return status;
        }
        return store::WriteValue(base.folder, name != nullptr ? platform::WideView(name) : u"",
                                 type, data, size);
    });
}

QLPR_EXPORT LONG WINAPI RegDeleteValueW(HKEY key, LPCWSTR name) {
    return platform::GuardStatus([&]() -> LONG {
        store::ResolvedKey base;
        LONG status = store::Resolve(key, &base);
        if (status != ERROR_SUCCESS) return status;
        if ((base.access & KEY_SET_VALUE) == 0) return ERROR_ACCESS_DENIED;
        return store::DeleteValue(base.folder, name != nullptr ? platform::WideView(name) : u"");
    });
}

// An empty subKey deletes the key itself (never a predefined key). A key
// with subkeys is refused with ERROR_ACCESS_DENIED, as on the platform.
QLPR_EXPORT LONG WINAPI RegDeleteKeyW(HKEY key, LPCWSTR subKey) {
    return platform::GuardStatus([&]() -> LONG {
        if (subKey == nullptr) return ERROR_INVALID_PARAMETER;
        store::ResolvedKey base;
        LONG status = store::Resolve(key, &base);
        if (status != ERROR_SUCCESS) return status;
        std::filesystem::path folder = store::SubkeyFolder(base.folder, subKey);
        if (folder == base.folder && base.predefined) return ERROR_ACCESS_DENIED;
        if (!store::IsFolder(folder)) return ERROR_FILE_NOT_FOUND;
        // A value written meanwhile makes rmdir fail; take it away and retry.
        for (int attempt = 0; attempt < 5; ++attempt) {
            DIR* dir = opendir(folder.c_str());
            if (dir == nullptr) return static_cast<LONG>(platform::ErrorFromErrno(errno));
            std::vector<std::string> files;
            bool hasSubkey = false;
            while (dirent* entry = readdir(dir)) {
                std::string name = entry->d_name;
                if (name == "." || name == "..") continue;
                if (store::IsFolder(folder / name)) {
                    hasSubkey = true;
                    break;
                }
                files.push_back(std::move(name));
            }
            closedir(dir);
            if (hasSubkey) return ERROR_ACCESS_DENIED;
            for (const std::string& file : files) unlink((folder / file).c_str());
            if (rmdir(folder.c_str()) == 0) return ERROR_SUCCESS;
            if (errno != ENOTEMPTY && errno != EEXIST)
                return static_cast<LONG>(platform::ErrorFromErrno(errno));
        }
        return ERROR_ACCESS_DENIED;
    });
}

}  // extern "C"
