// Processes and their modules over /proc.
#include "platform/process_list.h"

#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/internal.h"
#include "platform/process_object.h"

namespace platform {
namespace {

struct Module {
    std::uintptr_t base;
    std::string path;
};

// The program and each mapped file, in the order of their first mapping.
// Reading another user's map is refused by the kernel: an empty list.
std::vector<Module> ModulesOf(DWORD processId) {
    std::vector<Module> modules;
    std::ifstream maps("/proc/" + std::to_string(processId) + "/maps");
    std::string line;
    while (std::getline(maps, line)) {
        std::istringstream fields(line);
        std::string range, permissions, offset, device, inode, path;
        fields >> range >> permissions >> offset >> device >> inode;
        std::getline(fields >> std::ws, path);
        if (path.empty() || path[0] != '/') continue;
        const bool known = std::any_of(modules.begin(), modules.end(),
                                       [&](const Module& module) { return module.path == path; });
        if (!known) modules.push_back({std::stoull(range, nullptr, 16), path});
    }
    return modules;
}

}  // namespace
}  // namespace platform

extern "C" {

QLPR_EXPORT BOOL WINAPI EnumProcesses(DWORD* processIds, DWORD bytes, DWORD* bytesReturned) {
    using namespace platform;
    if (processIds == nullptr || bytesReturned == nullptr)
        return Fail(ERROR_INVALID_PARAMETER, FALSE);
    return Guard<BOOL>(FALSE, [&]() -> BOOL {
        DIR* folder = ::opendir("/proc");
        if (folder == nullptr) return Fail(ErrorFromErrno(errno), FALSE);
        std::vector<DWORD> ids;
        while (const dirent* entry = ::readdir(folder)) {
            char* end = nullptr;
            const unsigned long id = std::strtoul(entry->d_name, &end, 10);
            if (end != entry->d_name && *end == '\0') ids.push_back(static_cast<DWORD>(id));
        }
        ::closedir(folder);
        std::sort(ids.begin(), ids.end());
        const std::size_t fit = std::min<std::size_t>(ids.size(), bytes / sizeof(DWORD));
        std::copy_n(ids.begin(), fit, processIds);
        *bytesReturned = static_cast<DWORD>(fit * sizeof(DWORD));
        return TRUE;
    });
}

QLPR_EXPORT HANDLE WINAPI OpenProcess(DWORD access, BOOL, DWORD processId) {
    using namespace platform;
    return Guard<HANDLE>(nullptr, [&]() -> HANDLE {
        const std::string folder = "/proc/" + std::to_string(processId);
        if (processId == 0 || ::access(folder.c_str(), F_OK) != 0)
            return Fail<HANDLE>(ERROR_INVALID_PARAMETER, nullptr);
        // Looking into the memory map is what reading the process needs.
        if ((access & PROCESS_VM_READ) != 0 && ::access((folder + "/maps").c_str(), R_OK) != 0)
            return Fail<HANDLE>(ERROR_ACCESS_DENIED, nullptr);
        if ((access & PROCESS_VM_READ) != 0) {
            std::ifstream maps(folder + "/maps");
            if (!maps || maps.peek() == std::ifstream::traits_type::eof())
                return Fail<HANDLE>(ERROR_ACCESS_DENIED, nullptr);
        }
        return RegisterHandle(std::make_shared<ProcessObject>(processId, access));
    });
}

QLPR_EXPORT BOOL WINAPI EnumProcessModules(HANDLE process, HMODULE* modules, DWORD bytes,
                                           DWORD* bytesNeeded) {
    using namespace platform;
    return Guard<BOOL>(FALSE, [&]() -> BOOL {
        auto opened = LookupHandleAs<ProcessObject>(process);
        if (!opened) return Fail(ERROR_INVALID_HANDLE, FALSE);
        if (bytesNeeded == nullptr || (modules == nullptr && bytes != 0))
            return Fail(ERROR_INVALID_PARAMETER, FALSE);
        const std::vector<Module> found = ModulesOf(opened->Id());
        if (found.empty()) return Fail(ERROR_ACCESS_DENIED, FALSE);
        const std::size_t fit = std::min<std::size_t>(found.size(), bytes / sizeof(HMODULE));
        for (std::size_t i = 0; i < fit; ++i) modules[i] = reinterpret_cast<HMODULE>(found[i].base);
        *bytesNeeded = static_cast<DWORD>(found.size() * sizeof(HMODULE));
        return TRUE;
    });
}

QLPR_EXPORT DWORD WINAPI GetModuleFileNameExA(HANDLE process, HMODULE module, LPSTR fileName,
                                              DWORD size) {
    using namespace platform;
    return Guard<DWORD>(0, [&]() -> DWORD {
        auto opened = LookupHandleAs<ProcessObject>(process);
        if (!opened) return Fail<DWORD>(ERROR_INVALID_HANDLE, 0);
        if (fileName == nullptr || size == 0) return Fail<DWORD>(ERROR_INVALID_PARAMETER, 0);
        const auto base = reinterpret_cast<std::uintptr_t>(module);
        for (const Module& found : ModulesOf(opened->Id())) {
            if (module != nullptr && found.base != base) continue;
            const std::size_t length = std::min<std::size_t>(found.path.size(), size - 1);
            std::memcpy(fileName, found.path.data(), length);
            fileName[length] = '\0';
            return static_cast<DWORD>(length);
        }
        return Fail<DWORD>(ERROR_MOD_NOT_FOUND, 0);
    });
}

QLPR_EXPORT DWORD WINAPI GetCurrentProcessId() {
    return static_cast<DWORD>(::getpid());
}

}  // extern "C"
