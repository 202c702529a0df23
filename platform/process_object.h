// An opened process: its id and the rights asked for (not exported).
#pragma once

#include "platform/internal.h"

namespace platform {

class ProcessObject final : public HandleObject {
  public:
    ProcessObject(DWORD id, DWORD access) : id_(id), access_(access) {}
    DWORD Id() const { return id_; }
    bool Allows(DWORD right) const { return (access_ & right) == right; }

  private:
    DWORD id_;
    DWORD access_;
};

}  // namespace platform
