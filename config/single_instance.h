// The tool runs once per machine: the first instance holds a system-wide
// name for as long as it runs.
#pragma once

#include "platform/types.h"

namespace config {

inline constexpr const WCHAR* kInstanceMutexName =
    u"Global\\{05dfb467-20f2-4d2b-9ceb-5a623a5595ac}";

class SingleInstance {
  public:
    // Creates the mutex (not owned) and keeps the last error of that call.
    explicit SingleInstance(const WCHAR* mutexName = kInstanceMutexName);
    ~SingleInstance();
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    // True when another instance of the tool was running first.
    bool AlreadyRunning() const;

  private:
    HANDLE mutex_;
    DWORD creationError_;
};

}  // namespace config
