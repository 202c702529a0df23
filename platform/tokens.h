// Access tokens: who a process runs as, and a thread taking on another
// process's user.
//
// A token carries the user id of the process it was opened from; its user
// is a SID of the form S-1-22-1-<uid> (the usual mapping of Unix users),
// whose account name is the user's login name and whose domain is the host
// name. Impersonation checks its token and changes nothing else: a thread's
// credentials cannot be switched alone without breaking the C library's
// assumption that all threads share them, so the thread goes on acting as
// the process's user, and RevertToSelf has nothing to undo.
#pragma once

#include "platform/types.h"

inline constexpr DWORD TOKEN_DUPLICATE = 0x0002;
inline constexpr DWORD TOKEN_QUERY = 0x0008;
inline constexpr DWORD READ_CONTROL = 0x00020000;

enum TOKEN_INFORMATION_CLASS : int { TokenUser = 1 };
enum SECURITY_IMPERSONATION_LEVEL : int {
    SecurityAnonymous = 0,
    SecurityIdentification = 1,
    SecurityImpersonation = 2,
    SecurityDelegation = 3,
};
enum SID_NAME_USE : int { SidTypeUser = 1 };

struct SID_IDENTIFIER_AUTHORITY {
    BYTE Value[6];
};
struct SID {
    BYTE Revision;
    BYTE SubAuthorityCount;
    SID_IDENTIFIER_AUTHORITY IdentifierAuthority;
    DWORD SubAuthority[2];
};
static_assert(sizeof(SID) == 16);
using PSID = void*;

struct SID_AND_ATTRIBUTES {
    PSID Sid;
    DWORD Attributes;
};
struct TOKEN_USER {
    SID_AND_ATTRIBUTES User;
};

inline constexpr DWORD ERROR_NO_TOKEN = 1008;
inline constexpr DWORD ERROR_NONE_MAPPED = 1332;

extern "C" {
// The process must be opened with PROCESS_QUERY_INFORMATION.
QLPR_EXPORT BOOL WINAPI OpenProcessToken(HANDLE process, DWORD access, HANDLE* token);
// TokenUser only: a TOKEN_USER followed by its SID. A buffer too small (or
// none) fails with ERROR_INSUFFICIENT_BUFFER and *returnLength the size
// needed.
QLPR_EXPORT BOOL WINAPI GetTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS kind,
                                            void* buffer, DWORD length, DWORD* returnLength);
// Names too long for their buffers: ERROR_INSUFFICIENT_BUFFER with the
// sizes needed (counting the zero); an unknown user: ERROR_NONE_MAPPED.
QLPR_EXPORT BOOL WINAPI LookupAccountSidA(LPCSTR system, PSID sid, LPSTR name, DWORD* nameSize,
                                          LPSTR domain, DWORD* domainSize, SID_NAME_USE* use);
QLPR_EXPORT BOOL WINAPI DuplicateToken(HANDLE token, SECURITY_IMPERSONATION_LEVEL level,
                                       HANDLE* duplicate);
QLPR_EXPORT BOOL WINAPI ImpersonateLoggedOnUser(HANDLE token);
// Ends this thread's impersonation; TRUE also when there was none.
QLPR_EXPORT BOOL WINAPI RevertToSelf();
}
