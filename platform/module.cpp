// Libraries through the dynamic loader. A module handle is the loader's
// handle (dlopen's result); the program itself is dlopen(nullptr).
#include "platform/module.h"

#include <dlfcn.h>
#include <limits.h>
#include <link.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "platform/internal.h"
#include "platform/wide.h"

namespace platform {
namespace {

constexpr DWORD kPinFlag = 0x1;  // GET_MODULE_HANDLE_EX_FLAG_PIN

void* ProgramHandle() {
    return dlopen(nullptr, RTLD_NOW);
}

link_map* LinkMapOf(void* module) {
    link_map* map = nullptr;
    if (module == nullptr || dlinfo(module, RTLD_DI_LINKMAP, &map) != 0) return nullptr;
    return map;
}

// dlsym also searches a library's dependencies; a table counts only when
// it is the module's own.
const void* OwnSymbol(HMODULE module, const char* name) {
    void* handle = module;
    bool opened = false;
    if (handle == nullptr) {
        handle = ProgramHandle();
        opened = true;
        if (handle == nullptr) return nullptr;
    }
    dlerror();
    void* symbol = dlsym(handle, name);
    const void* own = nullptr;
    if (symbol != nullptr) {
        Dl_info info{};
        link_map* owner = nullptr;
        if (dladdr1(symbol, &info, reinterpret_cast<void**>(&owner), RTLD_DL_LINKMAP) != 0 &&
            owner != nullptr && owner == LinkMapOf(handle))
            own = symbol;
    }
    if (opened) dlclose(handle);
    return own;
}

std::string ProgramPath() {
    std::string path(PATH_MAX, '\0');
    for (;;) {
        ssize_t length = readlink("/proc/self/exe", path.data(), path.size());
        if (length < 0) return {};
        if (static_cast<std::size_t>(length) < path.size()) {
            path.resize(static_cast<std::size_t>(length));
            return path;
        }
        path.resize(path.size() * 2);
    }
}

// The module's file as an absolute path (a relative name the library was
// loaded by is taken from the working directory); links are not resolved,
// so a library's companions are found beside the name it was loaded by.
std::string ModulePath(HMODULE module) {
    if (module == nullptr) return ProgramPath();
    link_map* map = LinkMapOf(module);
    if (map == nullptr) return {};
    if (map->l_name == nullptr || map->l_name[0] == 0) return ProgramPath();
    std::string path = map->l_name;
    if (path.front() != '/') {
        std::string cwd(PATH_MAX, '\0');
        if (getcwd(cwd.data(), cwd.size()) == nullptr) return {};
        cwd.resize(std::strlen(cwd.c_str()));
        if (path.rfind("./", 0) == 0) path.erase(0, 2);
        path = cwd + (cwd.back() == '/' ? "" : "/") + path;
    }
    return path;
}

}  // namespace
}  // namespace platform

extern "C" {

QLPR_EXPORT HMODULE WINAPI LoadLibraryW(LPCWSTR fileName) {
    return platform::Guard<HMODULE>(nullptr, [&]() -> HMODULE {
        if (fileName == nullptr || fileName[0] == 0)
            return platform::Fail<HMODULE>(ERROR_MOD_NOT_FOUND, nullptr);
        void* module = dlopen(platform::NativePath(fileName).c_str(), RTLD_NOW | RTLD_LOCAL);
        if (module == nullptr) return platform::Fail<HMODULE>(ERROR_MOD_NOT_FOUND, nullptr);
        return module;
    });
}

QLPR_EXPORT BOOL WINAPI FreeLibrary(HMODULE module) {
    if (module == nullptr) return platform::Fail<BOOL>(ERROR_INVALID_HANDLE, FALSE);
    if (dlclose(module) != 0) return platform::Fail<BOOL>(ERROR_INVALID_HANDLE, FALSE);
    return TRUE;
}

// Lookup by ordinal (a "name" below 0x10000) is not supported.
QLPR_EXPORT FARPROC WINAPI GetProcAddress(HMODULE module, LPCSTR name) {
    if (module == nullptr) return platform::Fail<FARPROC>(ERROR_INVALID_HANDLE, nullptr);
    if (reinterpret_cast<std::uintptr_t>(name) < 0x10000)
        return platform::Fail<FARPROC>(ERROR_PROC_NOT_FOUND, nullptr);
    dlerror();
    void* symbol = dlsym(module, name);
    if (symbol == nullptr) return platform::Fail<FARPROC>(ERROR_PROC_NOT_FOUND, nullptr);
    return reinterpret_cast<FARPROC>(symbol);
}

// A name cut to fit returns `size` (the characters copied with the zero),
// with ERROR_INSUFFICIENT_BUFFER, as on the platform.
QLPR_EXPORT DWORD WINAPI GetModuleFileNameW(HMODULE module, LPWSTR fileName, DWORD size) {
    return platform::Guard<DWORD>(0, [&]() -> DWORD {
        if (fileName == nullptr && size != 0)
            return platform::Fail<DWORD>(ERROR_INVALID_PARAMETER, 0);
        std::string path = platform::ModulePath(module);
        if (path.empty()) return platform::Fail<DWORD>(ERROR_MOD_NOT_FOUND, 0);
        if (size == 0) return platform::Fail<DWORD>(ERROR_INSUFFICIENT_BUFFER, 0);
        const platform::WideString wide = platform::FromUtf8(path);
        if (wide.size() < size) {
            platform::WideCopy(fileName, size, wide);
            SetLastError(ERROR_SUCCESS);
            return static_cast<DWORD>(wide.size());
        }
        platform::WideCopy(fileName, size, wide);
        return platform::Fail<DWORD>(ERROR_INSUFFICIENT_BUFFER, size);
    });
}

QLPR_EXPORT DWORD WINAPI GetModuleFileNameA(HMODULE module, LPSTR fileName, DWORD size) {
    return platform::Guard<DWORD>(0, [&]() -> DWORD {
        if (fileName == nullptr && size != 0)
            return platform::Fail<DWORD>(ERROR_INVALID_PARAMETER, 0);
        const std::string path = platform::ModulePath(module);
        if (path.empty()) return platform::Fail<DWORD>(ERROR_MOD_NOT_FOUND, 0);
        if (size == 0) return platform::Fail<DWORD>(ERROR_INSUFFICIENT_BUFFER, 0);
        const std::size_t copied = std::min<std::size_t>(path.size(), size - 1);
        std::memcpy(fileName, path.data(), copied);
        fileName[copied] = '\0';
        if (copied < path.size()) return platform::Fail<DWORD>(ERROR_INSUFFICIENT_BUFFER, size);
        SetLastError(ERROR_SUCCESS);
        return static_cast<DWORD>(copied);
    });
}

// Without FROM_ADDRESS, `name` is a loaded library's name or path (null:
// the program). The reference taken is dropped again with
// UNCHANGED_REFCOUNT; PIN keeps the library loaded for good.
QLPR_EXPORT BOOL WINAPI GetModuleHandleExW(DWORD flags, LPCWSTR name, HMODULE* module) {
    return platform::Guard<BOOL>(FALSE, [&]() -> BOOL {
        if (module == nullptr) return platform::Fail<BOOL>(ERROR_INVALID_PARAMETER, FALSE);
        *module = nullptr;
        const bool unchanged = (flags & GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT) != 0;
        const bool pin = (flags & platform::kPinFlag) != 0;
        if (unchanged && pin) return platform::Fail<BOOL>(ERROR_INVALID_PARAMETER, FALSE);
        const int mode = RTLD_NOW | RTLD_NOLOAD | (pin ? RTLD_NODELETE : 0);

        void* handle = nullptr;
        if ((flags & GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS) != 0) {
            Dl_info info{};
            link_map* map = nullptr;
            if (name == nullptr ||
                dladdr1(name, &info, reinterpret_cast<void**>(&map), RTLD_DL_LINKMAP) == 0 ||
                map == nullptr)
                return platform::Fail<BOOL>(ERROR_MOD_NOT_FOUND, FALSE);
            handle = (map->l_name == nullptr || map->l_name[0] == 0) ? platform::ProgramHandle()
                                                                     : dlopen(map->l_name, mode);
        } else if (name == nullptr) {
            handle = platform::ProgramHandle();
        } else {
            handle = dlopen(platform::NativePath(name).c_str(), mode);
        }
        if (handle == nullptr) return platform::Fail<BOOL>(ERROR_MOD_NOT_FOUND, FALSE);
        if (unchanged) dlclose(handle);
        *module = handle;
        return TRUE;
    });
}

// With size 0 the buffer receives a pointer to the string itself, as on the
// platform; the result is then its full length.
QLPR_EXPORT int WINAPI LoadStringW(HINSTANCE module, UINT id, LPWSTR buffer, int size) {
    return platform::Guard<int>(0, [&]() -> int {
        if (buffer == nullptr || size < 0) return platform::Fail<int>(ERROR_INVALID_PARAMETER, 0);
        if (size > 0) buffer[0] = 0;
        const auto* table =
            static_cast<const ResourceString*>(platform::OwnSymbol(module, "QlprStringTable"));
        const ResourceString* entry = table;
        while (entry != nullptr && entry->text != nullptr && entry->id != id) ++entry;
        if (entry == nullptr || entry->text == nullptr)
            return platform::Fail<int>(ERROR_RESOURCE_NAME_NOT_FOUND, 0);
        const std::size_t length = platform::WideLength(entry->text);
        if (size == 0) {
            const WCHAR* text = entry->text;
            std::memcpy(buffer, &text, sizeof text);
            return static_cast<int>(length);
        }
        platform::WideCopy(buffer, static_cast<std::size_t>(size), entry->text);
        SetLastError(ERROR_SUCCESS);
        return static_cast<int>(platform::WideLength(buffer));
    });
}

QLPR_EXPORT const ResourceData* WINAPI QlprFindResource(HMODULE module, UINT type, UINT id) {
    const auto* table =
        static_cast<const ResourceData*>(platform::OwnSymbol(module, "QlprResourceTable"));
    for (const ResourceData* entry = table; entry != nullptr && entry->data != nullptr; ++entry) {
        if (entry->type == type && entry->id == id) return entry;
    }
    return platform::Fail<const ResourceData*>(ERROR_RESOURCE_NAME_NOT_FOUND, nullptr);
}

}  // extern "C"
