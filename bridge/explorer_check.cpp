#include "bridge/explorer_check.h"

#include <strings.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "bridge/service_log.h"
#include "platform/files.h"
#include "platform/process_list.h"
#include "platform/tokens.h"

int gExplorerFound = 0;

namespace {

// The file name without its folder and its extension, cut to the buffer.
void BaseName(const char* path, char* base, std::size_t capacity) {
    const char* slash = std::strrchr(path, '/');
    const char* backslash = std::strrchr(path, '\\');
    const char* start = slash > backslash ? slash : backslash;
    start = start != nullptr ? start + 1 : path;
    const char* dot = std::strrchr(start, '.');
    std::size_t length =
        dot != nullptr ? static_cast<std::size_t>(dot - start) : std::strlen(start);
    if (length >= capacity) length = capacity - 1;
    std::memcpy(base, start, length);
    base[length] = '\0';
}

bool IsExplorerModule(HANDLE process, HMODULE module) {
    char path[260];
    if (GetModuleFileNameExA(process, module, path, sizeof path) == 0) return false;
    char base[260];
    BaseName(path, base, sizeof base);
    return strcasecmp(base, "explorer") == 0;
}

// The user of the explorer's process becomes this thread's identity.
// Failures of these steps are not acted on.
void ImpersonateUserOf(HANDLE process) {
    HANDLE token = nullptr;
    if (!OpenProcessToken(process, TOKEN_QUERY | TOKEN_DUPLICATE | READ_CONTROL, &token)) return;
    DWORD needed = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &needed);
    auto* user = static_cast<TOKEN_USER*>(std::malloc(needed != 0 ? needed : 1));
    if (user != nullptr && GetTokenInformation(token, TokenUser, user, needed, &needed)) {
        char account[1024];
        char domain[1024];
        DWORD accountSize = sizeof account;
        DWORD domainSize = sizeof domain;
        SID_NAME_USE use;
        if (LookupAccountSidA(nullptr, user->User.Sid, account, &accountSize, domain, &domainSize,
                              &use))
            ServiceLog("%s", account);
        HANDLE duplicate = nullptr;
        if (DuplicateToken(token, SecurityImpersonation, &duplicate)) {
            if (ImpersonateLoggedOnUser(duplicate) == 1)
                ServiceLog("Service : Done with ImpersonateLoggedOnUser");
            CloseHandle(duplicate);
        }
    }
    CloseHandle(token);
    std::free(user);
}

}  // namespace

void CheckForExplorer(DWORD processId) {
    const HANDLE process =
        OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, processId);
    if (process == nullptr) return;
    HMODULE modules[1024];
    DWORD needed = 0;
    if (EnumProcessModules(process, modules, sizeof modules, &needed)) {
        const DWORD count = std::min<DWORD>(needed, sizeof modules) / sizeof(HMODULE);
        for (DWORD i = 0; i < count; ++i) {
            if (!IsExplorerModule(process, modules[i])) continue;
            gExplorerFound = 1;
            ImpersonateUserOf(process);
        }
    }
    CloseHandle(process);
}

void AdoptInteractiveUser() {
    DWORD processes[1024];
    DWORD bytes = 0;
    if (!EnumProcesses(processes, sizeof processes, &bytes)) return;
    const DWORD count = bytes / sizeof(DWORD);
    for (DWORD i = 0; i < count && gExplorerFound == 0; ++i) CheckForExplorer(processes[i]);
}
