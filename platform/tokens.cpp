// Access tokens over process user ids (see tokens.h).
#include "platform/tokens.h"

#include <pwd.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "platform/internal.h"
#include "platform/process_list.h"
#include "platform/process_object.h"

namespace platform {
namespace {

class Token final : public HandleObject {
  public:
    Token(uid_t user, DWORD access) : user_(user), access_(access) {}
    uid_t User() const { return user_; }
    bool Allows(DWORD right) const { return (access_ & right) == right; }

  private:
    uid_t user_;
    DWORD access_;
};

constexpr SID_IDENTIFIER_AUTHORITY kUnixUserAuthority = {{0, 0, 0, 0, 0, 22}};

std::optional<uid_t> ProcessUser(DWORD processId) {
    std::ifstream status("/proc/" + std::to_string(processId) + "/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("Uid:", 0) == 0) return static_cast<uid_t>(std::stoul(line.substr(4)));
    return std::nullopt;
}

std::optional<uid_t> UserOf(const SID* sid) {
    if (sid == nullptr || sid->Revision != 1 || sid->SubAuthorityCount != 2 ||
        std::memcmp(&sid->IdentifierAuthority, &kUnixUserAuthority, 6) != 0 ||
        sid->SubAuthority[0] != 1)
        return std::nullopt;
    return static_cast<uid_t>(sid->SubAuthority[1]);
}

bool CopyName(const std::string& text, LPSTR buffer, DWORD* size) {
    const bool fits = buffer != nullptr && text.size() < *size;
    if (fits) std::memcpy(buffer, text.c_str(), text.size() + 1);
    *size = static_cast<DWORD>(fits ? text.size() : text.size() + 1);
    return fits;
}

}  // namespace
}  // namespace platform

extern "C" {

QLPR_EXPORT BOOL WINAPI OpenProcessToken(HANDLE process, DWORD access, HANDLE* token) {
    using namespace platform;
    return Guard<BOOL>(FALSE, [&]() -> BOOL {
        auto opened = LookupHandleAs<ProcessObject>(process);
        if (!opened || token == nullptr) return Fail(ERROR_INVALID_HANDLE, FALSE);
        if (!opened->Allows(PROCESS_QUERY_INFORMATION)) return Fail(ERROR_ACCESS_DENIED, FALSE);
        const std::optional<uid_t> user = ProcessUser(opened->Id());
        if (!user) return Fail(ERROR_ACCESS_DENIED, FALSE);
        *token = RegisterHandle(std::make_shared<Token>(*user, access));
        return *token != nullptr;
    });
}

QLPR_EXPORT BOOL WINAPI GetTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS kind,
                                            void* buffer, DWORD length, DWORD* returnLength) {
    using namespace platform;
    auto opened = LookupHandleAs<Token>(token);
    if (!opened) return Fail(ERROR_INVALID_HANDLE, FALSE);
    if (!opened->Allows(TOKEN_QUERY)) return Fail(ERROR_ACCESS_DENIED, FALSE);
    if (kind != TokenUser || returnLength == nullptr) return Fail(ERROR_INVALID_PARAMETER, FALSE);
    struct Layout {
        TOKEN_USER user;
        SID sid;
    };
    *returnLength = sizeof(Layout);
    if (buffer == nullptr || length < sizeof(Layout)) return Fail(ERROR_INSUFFICIENT_BUFFER, FALSE);
    auto* layout = static_cast<Layout*>(buffer);
    layout->sid = SID{1, 2, kUnixUserAuthority, {1, static_cast<DWORD>(opened->User())}};
    layout->user.User.Sid = &layout->sid;
    layout->user.User.Attributes = 0;
    return TRUE;
}

QLPR_EXPORT BOOL WINAPI LookupAccountSidA(LPCSTR system, PSID sid, LPSTR name, DWORD* nameSize,
                                          LPSTR domain, DWORD* domainSize, SID_NAME_USE* use) {
    using namespace platform;
    return Guard<BOOL>(FALSE, [&]() -> BOOL {
        if (system != nullptr || nameSize == nullptr || domainSize == nullptr || use == nullptr)
            return Fail(ERROR_INVALID_PARAMETER, FALSE);
        const std::optional<uid_t> user = UserOf(static_cast<const SID*>(sid));
        if (!user) return Fail(ERROR_NONE_MAPPED, FALSE);
        passwd entry{};
        passwd* found = nullptr;
        std::vector<char> text(16384);
        if (getpwuid_r(*user, &entry, text.data(), text.size(), &found) != 0 || found == nullptr)
            return Fail(ERROR_NONE_MAPPED, FALSE);
        char host[256] = {};
        ::gethostname(host, sizeof host - 1);
        const bool nameFits = CopyName(found->pw_name, name, nameSize);
        const bool domainFits = CopyName(host, domain, domainSize);
        if (!nameFits || !domainFits) return Fail(ERROR_INSUFFICIENT_BUFFER, FALSE);
        *use = SidTypeUser;
        return TRUE;
    });
}

QLPR_EXPORT BOOL WINAPI DuplicateToken(HANDLE token, SECURITY_IMPERSONATION_LEVEL level,
                                       HANDLE* duplicate) {
    using namespace platform;
    return Guard<BOOL>(FALSE, [&]() -> BOOL {
        auto opened = LookupHandleAs<Token>(token);
        if (!opened || duplicate == nullptr) return Fail(ERROR_INVALID_HANDLE, FALSE);
        if (!opened->Allows(TOKEN_DUPLICATE)) return Fail(ERROR_ACCESS_DENIED, FALSE);
        if (level < SecurityAnonymous || level > SecurityDelegation)
            return Fail(ERROR_INVALID_PARAMETER, FALSE);
        *duplicate =
            RegisterHandle(std::make_shared<Token>(opened->User(), TOKEN_QUERY | TOKEN_DUPLICATE));
        return *duplicate != nullptr;
    });
}

QLPR_EXPORT BOOL WINAPI ImpersonateLoggedOnUser(HANDLE token) {
    using namespace platform;
    if (!LookupHandleAs<Token>(token)) return Fail(ERROR_INVALID_HANDLE, FALSE);
    return TRUE;
}

QLPR_EXPORT BOOL WINAPI RevertToSelf() {
    return TRUE;
}

}  // extern "C"
