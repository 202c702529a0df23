// The temporary folder, the ANSI file functions the command library uses for
// its page files, and a job's private folder under the temporary folder.
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/internal.h"
#include "platform/wide.h"

namespace platform {
namespace {

// An ANSI (code page 1252) name as a wide string; false with the last error
// set when it cannot be converted.
bool AnsiToWide(LPCSTR name, std::u16string* wide) {
    wide->assign(std::strlen(name) + 1, u'\0');
    return MultiByteToWideChar(CP_ACP, 0, name, -1, wide->data(), static_cast<int>(wide->size())) !=
           0;
}

// Copies `text` and its terminator when it fits: the platform's convention
// for path queries (length without terminator, or the size needed).
DWORD CopyOut(const std::string& text, DWORD size, LPSTR buffer) {
    if (buffer == nullptr || size < text.size() + 1) return static_cast<DWORD>(text.size() + 1);
    std::memcpy(buffer, text.c_str(), text.size() + 1);
    return static_cast<DWORD>(text.size());
}

// The folder in the ANSI code page; empty (last error set) when a character
// has no code there, since such a folder could not be named again.
std::string ToAnsi(const std::string& utf8) {
    const std::u16string wide = FromUtf8(utf8);
    BOOL lossy = FALSE;
    const int needed =
        WideCharToMultiByte(CP_ACP, 0, wide.c_str(), -1, nullptr, 0, nullptr, &lossy);
    if (needed <= 0) return {};
    std::string ansi(static_cast<std::size_t>(needed), '\0');
    lossy = FALSE;
    if (WideCharToMultiByte(CP_ACP, 0, wide.c_str(), -1, ansi.data(), needed, nullptr, &lossy) ==
            0 ||
        lossy) {
        SetLastError(ERROR_NO_UNICODE_TRANSLATION);
        return {};
    }
    ansi.resize(static_cast<std::size_t>(needed - 1));
    return ansi;
}

std::string TempFolderUtf8() {
    const char* folder = std::getenv("TMPDIR");
    std::string path = folder != nullptr && folder[0] != '\0' ? folder : "/tmp";
    if (path.back() != '/') path += '/';
    return path;
}

}  // namespace
}  // namespace platform

using platform::Fail;

extern "C" {

QLPR_EXPORT DWORD WINAPI GetTempPathA(DWORD size, LPSTR buffer) {
    return platform::Guard<DWORD>(0, [&]() -> DWORD {
        const std::string ansi = platform::ToAnsi(platform::TempFolderUtf8());
        if (ansi.empty()) return 0;
        return platform::CopyOut(ansi, size, buffer);
    });
}

// mkdtemp gives a name no one held before and makes the folder with mode
// 0700 in one step, so no other user can have taken or prepared it; in a
// shared temporary folder (sticky, as /tmp is) no one else can move it away.
// The random part is ASCII, so the ANSI name is the temporary folder's ANSI
// name and the same part.
QLPR_EXPORT DWORD WINAPI QlprCreatePrivateTempFolderA(DWORD size, LPSTR buffer) {
    return platform::Guard<DWORD>(0, [&]() -> DWORD {
        if (buffer == nullptr) return Fail(ERROR_INVALID_PARAMETER, DWORD{0});
        const std::string temp = platform::TempFolderUtf8();
        if (platform::ToAnsi(temp).empty()) return 0;
        std::string folder = temp + "qlpr-XXXXXX";
        if (mkdtemp(folder.data()) == nullptr)
            return Fail(errno == ENOENT ? ERROR_PATH_NOT_FOUND : platform::ErrorFromErrno(errno),
                        DWORD{0});
        const std::string ansi = platform::ToAnsi(folder + "/");
        if (ansi.empty() || ansi.size() + 1 > size) {
            rmdir(folder.c_str());
            return Fail(ansi.empty() ? ERROR_NO_UNICODE_TRANSLATION : ERROR_FILENAME_EXCED_RANGE,
                        DWORD{0});
        }
        return platform::CopyOut(ansi, size, buffer);
    });
}

QLPR_EXPORT BOOL WINAPI RemoveDirectoryA(LPCSTR name) {
    return platform::Guard<BOOL>(FALSE, [&]() -> BOOL {
        if (name == nullptr) return Fail(ERROR_INVALID_PARAMETER, FALSE);
        std::u16string wide;
        if (!platform::AnsiToWide(name, &wide)) return FALSE;
        const std::string path = platform::NativePath(wide.c_str());
        if (path.empty()) return Fail(ERROR_PATH_NOT_FOUND, FALSE);
        if (rmdir(path.c_str()) == 0) return TRUE;
        if (errno == ENOENT) return Fail(ERROR_PATH_NOT_FOUND, FALSE);
        return Fail(platform::ErrorFromErrno(errno == EEXIST ? ENOTEMPTY : errno), FALSE);
    });
}

QLPR_EXPORT HANDLE WINAPI CreateFileMappingA(HANDLE file, void* security, DWORD protect,
                                             DWORD maximumSizeHigh, DWORD maximumSizeLow,
                                             LPCSTR name) {
    return platform::Guard<HANDLE>(nullptr, [&]() -> HANDLE {
        if (name == nullptr)
            return CreateFileMappingW(file, security, protect, maximumSizeHigh, maximumSizeLow,
                                      nullptr);
        std::u16string wide;
        if (!platform::AnsiToWide(name, &wide)) return nullptr;
        return CreateFileMappingW(file, security, protect, maximumSizeHigh, maximumSizeLow,
                                  wide.c_str());
    });
}

QLPR_EXPORT BOOL WINAPI DeleteFileA(LPCSTR name) {
    return platform::Guard<BOOL>(FALSE, [&]() -> BOOL {
        if (name == nullptr) return Fail(ERROR_INVALID_PARAMETER, FALSE);
        std::u16string wide;
        if (!platform::AnsiToWide(name, &wide)) return FALSE;
        return DeleteFileW(wide.c_str());
    });
}

}  // extern "C"
