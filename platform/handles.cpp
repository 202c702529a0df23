// The process-wide handle table (see internal.h).
#include <mutex>
#include <shared_mutex>
#include <unordered_map>

#include "platform/internal.h"

namespace platform {
namespace {

struct HandleTable {
    std::shared_mutex lock;
    std::unordered_map<HANDLE, std::shared_ptr<HandleObject>> objects;
};

HandleTable& Table() {
    // Never destroyed: handles may still be closed from static destructors
    // of other modules.
    static HandleTable* table = new HandleTable;
    return *table;
}

}  // namespace

HANDLE RegisterHandle(std::shared_ptr<HandleObject> object) noexcept {
    if (!object) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    try {
        HandleTable& table = Table();
        HANDLE handle = object.get();
        std::unique_lock guard(table.lock);
        table.objects.emplace(handle, std::move(object));
        return handle;
    } catch (...) {
        SetLastError(ErrorFromCurrentException());
        return nullptr;
    }
}

std::shared_ptr<HandleObject> LookupHandle(HANDLE handle) noexcept {
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return nullptr;
    HandleTable& table = Table();
    std::shared_lock guard(table.lock);
    auto found = table.objects.find(handle);
    if (found == table.objects.end()) return nullptr;
    return found->second;
}

bool ReleaseHandleIf(HANDLE handle, bool (*accept)(const HandleObject&)) noexcept {
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return false;
    std::shared_ptr<HandleObject> released;  // dies after the lock is dropped
    HandleTable& table = Table();
    {
        std::unique_lock guard(table.lock);
        auto found = table.objects.find(handle);
        if (found == table.objects.end() || !accept(*found->second)) return false;
        released = std::move(found->second);
        table.objects.erase(found);
    }
    return true;
}

}  // namespace platform
