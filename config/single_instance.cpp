#include "config/single_instance.h"

#include "platform/files.h"
#include "platform/last_error.h"
#include "platform/named_mutex.h"

namespace config {

SingleInstance::SingleInstance(const WCHAR* mutexName)
    : mutex_(CreateMutexW(nullptr, FALSE, mutexName)), creationError_(GetLastError()) {}

SingleInstance::~SingleInstance() {
    if (mutex_ != nullptr) CloseHandle(mutex_);
}

bool SingleInstance::AlreadyRunning() const {
    return creationError_ == ERROR_ALREADY_EXISTS;
}

}  // namespace config
