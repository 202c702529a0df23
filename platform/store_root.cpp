// The store root, looked up again at every call so that a change of
// QLPR_ROOT (tests make one per case) takes effect at once.
#include "platform/store_root.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

namespace platform {
namespace {

const char* NonEmptyEnv(const char* name) {
    const char* value = std::getenv(name);
    return (value != nullptr && value[0] != 0) ? value : nullptr;
}

std::filesystem::path HomeFolder() {
    if (const char* home = NonEmptyEnv("HOME")) return home;
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* result = nullptr;
    if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &result) == 0 &&
        result != nullptr && result->pw_dir != nullptr) {
        return result->pw_dir;
    }
    return {};  // no home at all: no store, rather than a shared folder
}

}  // namespace

std::filesystem::path StoreRoot() {
    try {
        if (const char* root = NonEmptyEnv("QLPR_ROOT")) return root;
        // The XDG rules ignore a relative XDG_STATE_HOME.
        if (const char* state = NonEmptyEnv("XDG_STATE_HOME"); state != nullptr && state[0] == '/')
            return std::filesystem::path(state) / "qlpr";
        std::filesystem::path home = HomeFolder();
        return home.empty() ? home : home / ".local" / "state" / "qlpr";
    } catch (...) {
        return {};
    }
}

// An empty root (out of memory) stays empty rather than becoming a folder
// relative to the working directory.
std::filesystem::path RegistryRoot() {
    try {
        std::filesystem::path root = StoreRoot();
        return root.empty() ? root : root / "registry";
    } catch (...) {
        return {};
    }
}

std::filesystem::path PrintersRoot() {
    try {
        std::filesystem::path root = StoreRoot();
        return root.empty() ? root : root / "printers";
    } catch (...) {
        return {};
    }
}

}  // namespace platform
