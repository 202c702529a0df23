// The spooler's identity switches around a driver's file work.
//
// The spooler runs a driver's file work as itself and gives the printing
// user's identity back afterwards. Here every job runs as the user who
// started it, so there is no other identity to switch to: the token that
// RevertToPrinterSelf hands out only stands for the current identity, and
// ImpersonatePrinterClient takes it back, releases it and changes nothing.
// The token is a handle of the handle table, so a token given back twice,
// a null one or any other handle is refused without being looked into.
#include <memory>

#include "platform/internal.h"
#include "platform/spooler.h"

namespace platform {
namespace {

class IdentityToken final : public HandleObject {};

}  // namespace
}  // namespace platform

extern "C" {

// Null (with the last error set) only when the token cannot be made.
QLPR_EXPORT HANDLE WINAPI RevertToPrinterSelf() {
    return platform::Guard<HANDLE>(nullptr, [] {
        return platform::RegisterHandle(std::make_shared<platform::IdentityToken>());
    });
}

// Takes a token of RevertToPrinterSelf and releases it; anything else
// (null, a token already given back, another kind of handle) fails with
// ERROR_INVALID_HANDLE and releases nothing.
QLPR_EXPORT BOOL WINAPI ImpersonatePrinterClient(HANDLE token) {
    if (!platform::ReleaseHandleAs<platform::IdentityToken>(token))
        return platform::Fail(ERROR_INVALID_HANDLE, FALSE);
    return TRUE;
}

}  // extern "C"
