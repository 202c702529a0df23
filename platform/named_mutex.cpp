#include "platform/named_mutex.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "platform/internal.h"
#include "platform/wide.h"

namespace platform {
namespace {

constexpr std::string_view kAddressPrefix = "qlpr-mutex:";
// The address is a zero byte, the prefix and the name.
constexpr std::size_t kMaxNameBytes = sizeof(sockaddr_un::sun_path) - 1 - kAddressPrefix.size();
static_assert(kMaxNameBytes == 96);

class NamedMutex final : public HandleObject {
  public:
    explicit NamedMutex(int holder) : holder_(holder) {}
    ~NamedMutex() override {
        if (holder_ >= 0) close(holder_);
    }
    NamedMutex(const NamedMutex&) = delete;
    NamedMutex& operator=(const NamedMutex&) = delete;

  private:
    int holder_;  // the socket bound to the name, or -1 when not holding it
};

// Binds a socket to the name's abstract address: the socket, -1 with
// `taken` set when someone holds the name, or -1 with errno on failure.
int HoldName(const std::string& name, bool& taken) {
    taken = false;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string abstract = std::string(kAddressPrefix) + name;
    std::memcpy(address.sun_path + 1, abstract.data(), abstract.size());  // sun_path[0] = 0
    const auto length =
        static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + abstract.size());
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    if (bind(fd, reinterpret_cast<const sockaddr*>(&address), length) == 0) return fd;
    const int error = errno;
    close(fd);
    taken = error == EADDRINUSE;
    errno = error;
    return -1;
}

}  // namespace
}  // namespace platform

using platform::Fail;

extern "C" {

QLPR_EXPORT HANDLE WINAPI CreateMutexW(void*, BOOL initialOwner, LPCWSTR name) {
    return platform::Guard<HANDLE>(nullptr, [&]() -> HANDLE {
        if (initialOwner) return Fail(ERROR_NOT_SUPPORTED, HANDLE{nullptr});
        int holder = -1;
        bool taken = false;
        if (name != nullptr && *name != u'\0') {
            const std::string utf8 = platform::ToUtf8(name);
            if (utf8.size() > platform::kMaxNameBytes)
                return Fail(ERROR_FILENAME_EXCED_RANGE, HANDLE{nullptr});
            holder = platform::HoldName(utf8, taken);
            if (holder < 0 && !taken) return Fail(platform::ErrorFromErrno(errno), HANDLE{nullptr});
        }
        const HANDLE handle =
            platform::RegisterHandle(std::make_shared<platform::NamedMutex>(holder));
        if (handle != nullptr) SetLastError(taken ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
        return handle;
    });
}
}
