// Shared by the two halves of the service control manager: the registered
// units (service_units.cpp) and the running service (service_dispatcher.cpp).
// Not exported.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "platform/internal.h"
#include "platform/service_control.h"

namespace platform {

// A service opened with OpenServiceA: its unit name and the rights asked for.
class ServiceHandle final : public HandleObject {
  public:
    ServiceHandle(std::string name, DWORD access) : name_(std::move(name)), access_(access) {}
    bool ClosedByCloseHandle() const override { return false; }
    const std::string& Name() const { return name_; }
    bool Allows(DWORD right) const { return (access_ & right) == right; }

  private:
    std::string name_;
    DWORD access_;
};

// QLPR_SERVICE_MANAGER=in-process: tests run services in their own process.
bool InProcessManager();
// systemd runs this machine and the unit folder is its own: only then are
// units enabled, started and queried through systemctl.
bool SystemdManagesUnits();
// Runs systemctl with these arguments and waits; its exit status (-1 when
// it could not run). Its standard output is kept in `output` when given.
int RunSystemctl(const std::vector<std::string>& arguments, std::string* output = nullptr);

// The in-process manager's side of the dispatcher (service_dispatcher.cpp).
SERVICE_STATUS InProcessStatus(const std::string& name);
BOOL InProcessStart(const std::string& name);
BOOL InProcessControl(const std::string& name, DWORD control, SERVICE_STATUS* status);

// A status record of a service that does not run.
inline SERVICE_STATUS StoppedStatus() {
    return SERVICE_STATUS{SERVICE_WIN32_OWN_PROCESS, SERVICE_STOPPED, 0, 0, 0, 0, 0};
}

}  // namespace platform
