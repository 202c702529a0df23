// Registered services: one systemd unit file each in the unit folder.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <systemd/sd-daemon.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <system_error>

#include "platform/service_manager.h"

extern char** environ;

namespace platform {
namespace {

constexpr const char* kSystemUnitFolder = "/etc/systemd/system";
constexpr DWORD ERROR_DATABASE_DOES_NOT_EXIST = 1065;

// The manager handle: only tells what it was opened for.
class ManagerHandle final : public HandleObject {
  public:
    explicit ManagerHandle(DWORD access) : access_(access) {}
    bool ClosedByCloseHandle() const override { return false; }
    bool Allows(DWORD right) const { return (access_ & right) == right; }

  private:
    DWORD access_;
};

std::filesystem::path UnitFolder() {
    const char* folder = std::getenv("QLPR_SERVICE_UNIT_DIR");
    return folder != nullptr && *folder != '\0' ? folder : kSystemUnitFolder;
}

// A plain unit name, so that "<name>.service" is one entry of the folder
// and a name systemd accepts.
bool IsUnitName(const char* name) {
    if (name == nullptr) return false;
    const std::size_t length = std::strlen(name);
    if (length == 0 || length > 256 || name[0] == '.') return false;
    for (std::size_t i = 0; i < length; ++i) {
        const unsigned char c = static_cast<unsigned char>(name[i]);
        if (!std::isalnum(c) && std::strchr("-_.@", c) == nullptr) return false;
    }
    return true;
}

bool HasControlCharacter(const char* text) {
    for (; *text != '\0'; ++text)
        if (static_cast<unsigned char>(*text) < 0x20 || *text == 0x7F) return true;
    return false;
}

// systemd runs only programs whose absolute path holds no control
// character, quote or backslash.
bool IsRunnablePath(const char* path) {
    return path != nullptr && path[0] == '/' && !HasControlCharacter(path) &&
           std::strpbrk(path, "\"'\\") == nullptr;
}

std::filesystem::path UnitPath(const std::string& name) {
    return UnitFolder() / (name + ".service");
}

// '%' starts a specifier in every unit setting.
std::string EscapeSpecifiers(const char* text) {
    std::string escaped;
    for (; *text != '\0'; ++text)
        escaped += *text == '%' ? std::string("%%") : std::string(1, *text);
    return escaped;
}

// The program path as one quoted word of ExecStart=, exactly as given:
// blanks stay inside the word and '%' is escaped, so that nothing is split
// or substituted ('$' is expanded only in arguments, never in the path).
std::string QuotedCommand(const char* path) {
    return "\"" + EscapeSpecifiers(path) + "\"";
}

// Started by the program's "install"; stopped by SIGTERM, which the
// service takes as its stop control; readiness and stopping are notices.
std::string UnitText(const char* displayName, const char* path) {
    std::ostringstream unit;
    unit << "[Unit]\n"
         << "Description=" << EscapeSpecifiers(displayName) << "\n"
         << "\n[Service]\n"
         << "Type=notify\n"
         << "ExecStart=" << QuotedCommand(path) << "\n"
         << "KillSignal=SIGTERM\n"
         << "\n[Install]\n"
         << "WantedBy=multi-user.target\n";
    return unit.str();
}

// Creates the unit file with this text, or fails with ERROR_SERVICE_EXISTS
// when it is there already; never leaves half a file.
bool WriteNewUnit(const std::filesystem::path& path, const std::string& text) {
    const std::filesystem::path temporary = path.string() + ".new";
    {
        std::ofstream out(temporary, std::ios::trunc);
        out << text;
        out.close();
        if (!out) {
            std::filesystem::remove(temporary);
            return Fail(ERROR_ACCESS_DENIED, false);
        }
    }
    // link() refuses an existing name: the check and the creation are one.
    const bool made = ::link(temporary.c_str(), path.c_str()) == 0;
    const int error = errno;
    std::filesystem::remove(temporary);
    if (!made) return Fail(error == EEXIST ? ERROR_SERVICE_EXISTS : ErrorFromErrno(error), false);
    return true;
}

DWORD StateFromSystemd(const std::string& activeState) {
    if (activeState.rfind("active", 0) == 0 || activeState.rfind("reloading", 0) == 0)
        return SERVICE_RUNNING;
    if (activeState.rfind("activating", 0) == 0) return SERVICE_START_PENDING;
    if (activeState.rfind("deactivating", 0) == 0) return SERVICE_STOP_PENDING;
    return SERVICE_STOPPED;
}

SERVICE_STATUS SystemdStatus(const std::string& name) {
    SERVICE_STATUS status = StoppedStatus();
    std::string state;
    if (RunSystemctl({"show", "--property=ActiveState", "--value", name + ".service"}, &state) == 0)
        status.dwCurrentState = StateFromSystemd(state);
    if (status.dwCurrentState == SERVICE_RUNNING)
        status.dwControlsAccepted = SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN;
    return status;
}

std::shared_ptr<ServiceHandle> OpenedService(SC_HANDLE handle, DWORD right) {
    auto service = LookupHandleAs<ServiceHandle>(handle);
    if (!service) return Fail(ERROR_INVALID_HANDLE, nullptr);
    if (!service->Allows(right)) return Fail(ERROR_ACCESS_DENIED, nullptr);
    return service;
}

}  // namespace

bool InProcessManager() {
    const char* manager = std::getenv("QLPR_SERVICE_MANAGER");
    return manager != nullptr && std::strcmp(manager, "in-process") == 0;
}

bool SystemdManagesUnits() {
    return !InProcessManager() && sd_booted() > 0 && UnitFolder() == kSystemUnitFolder;
}

int RunSystemctl(const std::vector<std::string>& arguments, std::string* output) {
    std::vector<char*> argv{const_cast<char*>("systemctl")};
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    int pipeEnds[2];
    if (::pipe2(pipeEnds, O_CLOEXEC) != 0) return -1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDOUT_FILENO);
    pid_t child = 0;
    const int spawned = posix_spawnp(&child, "systemctl", &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeEnds[1]);
    std::string text;
    char chunk[512];
    for (ssize_t n; spawned == 0 && (n = ::read(pipeEnds[0], chunk, sizeof chunk)) != 0;) {
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) break;
        text.append(chunk, static_cast<std::size_t>(n));
    }
    ::close(pipeEnds[0]);
    if (spawned != 0) return -1;
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (output != nullptr) *output = text;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace platform

extern "C" {

QLPR_EXPORT SC_HANDLE WINAPI OpenSCManagerA(LPCSTR machine, LPCSTR database, DWORD access) {
    using namespace platform;
    return Guard<SC_HANDLE>(nullptr, [&]() -> SC_HANDLE {
        if (machine != nullptr || database != nullptr)
            return Fail<SC_HANDLE>(ERROR_DATABASE_DOES_NOT_EXIST, nullptr);
        const std::filesystem::path folder = UnitFolder();
        if (!std::filesystem::is_directory(folder))
            return Fail<SC_HANDLE>(ERROR_DATABASE_DOES_NOT_EXIST, nullptr);
        if ((access & SC_MANAGER_CREATE_SERVICE) != 0 && ::access(folder.c_str(), W_OK) != 0)
            return Fail<SC_HANDLE>(ERROR_ACCESS_DENIED, nullptr);
        return RegisterHandle(std::make_shared<ManagerHandle>(access));
    });
}

QLPR_EXPORT SC_HANDLE WINAPI CreateServiceA(SC_HANDLE manager, LPCSTR name, LPCSTR displayName,
                                            DWORD access, DWORD serviceType, DWORD startType,
                                            DWORD /*errorControl*/, LPCSTR binaryPath,
                                            LPCSTR /*loadOrderGroup*/, DWORD* /*tagId*/,
                                            LPCSTR /*dependencies*/, LPCSTR account,
                                            LPCSTR /*password*/) {
    using namespace platform;
    return Guard<SC_HANDLE>(nullptr, [&]() -> SC_HANDLE {
        auto opened = LookupHandleAs<ManagerHandle>(manager);
        if (!opened) return Fail<SC_HANDLE>(ERROR_INVALID_HANDLE, nullptr);
        if (!opened->Allows(SC_MANAGER_CREATE_SERVICE))
            return Fail<SC_HANDLE>(ERROR_ACCESS_DENIED, nullptr);
        if (serviceType != SERVICE_WIN32_OWN_PROCESS || account != nullptr)
            return Fail<SC_HANDLE>(ERROR_INVALID_PARAMETER, nullptr);
        if (!IsUnitName(name) || !IsRunnablePath(binaryPath) ||
            (displayName != nullptr && HasControlCharacter(displayName)))
            return Fail<SC_HANDLE>(ERROR_INVALID_NAME, nullptr);
        const std::string unit = UnitText(displayName != nullptr ? displayName : name, binaryPath);
        if (!WriteNewUnit(UnitPath(name), unit)) return nullptr;
        if (SystemdManagesUnits()) {
            RunSystemctl({"daemon-reload"});
            if (startType == SERVICE_AUTO_START)
                RunSystemctl({"enable", std::string(name) + ".service"});
        }
        return RegisterHandle(std::make_shared<ServiceHandle>(name, access));
    });
}

QLPR_EXPORT SC_HANDLE WINAPI OpenServiceA(SC_HANDLE manager, LPCSTR name, DWORD access) {
    using namespace platform;
    return Guard<SC_HANDLE>(nullptr, [&]() -> SC_HANDLE {
        if (!LookupHandleAs<ManagerHandle>(manager))
            return Fail<SC_HANDLE>(ERROR_INVALID_HANDLE, nullptr);
        if (!IsUnitName(name)) return Fail<SC_HANDLE>(ERROR_INVALID_NAME, nullptr);
        if (!std::filesystem::exists(UnitPath(name)))
            return Fail<SC_HANDLE>(ERROR_SERVICE_DOES_NOT_EXIST, nullptr);
        return RegisterHandle(std::make_shared<ServiceHandle>(name, access));
    });
}

QLPR_EXPORT BOOL WINAPI QueryServiceStatus(SC_HANDLE handle, SERVICE_STATUS* status) {
    using namespace platform;
    return Guard<BOOL>(FALSE, [&]() -> BOOL {
        auto service = OpenedService(handle, SERVICE_QUERY_STATUS);
        if (!service) return FALSE;
        if (status == nullptr) return Fail(ERROR_INVALID_PARAMETER, FALSE);
        *status = InProcessManager()      ? InProcessStatus(service->Name())
                  : SystemdManagesUnits() ? SystemdStatus(service->Name())
                                          : StoppedStatus();
        return TRUE;
    });
}

QLPR_EXPORT BOOL WINAPI DeleteService(SC_HANDLE handle) {
    using namespace platform;
    return Guard<BOOL>(FALSE, [&]() -> BOOL {
        auto service = OpenedService(handle, DELETE);
        if (!service) return FALSE;
        const std::string unit = service->Name() + ".service";
        if (SystemdManagesUnits()) RunSystemctl({"disable", unit});
        std::error_code error;
        if (!std::filesystem::remove(UnitPath(service->Name()), error))
            return Fail(error ? ErrorFromErrno(error.value()) : ERROR_SERVICE_DOES_NOT_EXIST,
                        FALSE);
        if (SystemdManagesUnits()) RunSystemctl({"daemon-reload"});
        return TRUE;
    });
}

// Under systemd, a start waits until the service told its readiness.
QLPR_EXPORT BOOL WINAPI StartServiceA(SC_HANDLE handle, DWORD, LPCSTR*) {
    using namespace platform;
    return Guard<BOOL>(FALSE, [&]() -> BOOL {
        auto service = OpenedService(handle, SERVICE_START);
        if (!service) return FALSE;
        if (InProcessManager()) return InProcessStart(service->Name());
        if (!SystemdManagesUnits()) return Fail(ERROR_NOT_SUPPORTED, FALSE);
        if (RunSystemctl({"start", service->Name() + ".service"}) != 0)
            return Fail(ERROR_GEN_FAILURE, FALSE);
        return TRUE;
    });
}

QLPR_EXPORT BOOL WINAPI ControlService(SC_HANDLE handle, DWORD control, SERVICE_STATUS* status) {
    using namespace platform;
    return Guard<BOOL>(FALSE, [&]() -> BOOL {
        const DWORD right = control == SERVICE_CONTROL_STOP          ? SERVICE_STOP
                            : control == SERVICE_CONTROL_INTERROGATE ? SERVICE_INTERROGATE
                                                                     : 0;
        if (right == 0 || status == nullptr) return Fail(ERROR_INVALID_PARAMETER, FALSE);
        auto service = OpenedService(handle, right);
        if (!service) return FALSE;
        if (InProcessManager()) return InProcessControl(service->Name(), control, status);
        if (!SystemdManagesUnits()) return Fail(ERROR_SERVICE_NOT_ACTIVE, FALSE);
        *status = SystemdStatus(service->Name());
        if (status->dwCurrentState != SERVICE_RUNNING) return Fail(ERROR_SERVICE_NOT_ACTIVE, FALSE);
        if (control == SERVICE_CONTROL_STOP) {
            RunSystemctl({"stop", "--no-block", service->Name() + ".service"});
            status->dwCurrentState = SERVICE_STOP_PENDING;
        }
        return TRUE;
    });
}

QLPR_EXPORT BOOL WINAPI CloseServiceHandle(SC_HANDLE handle) {
    using namespace platform;
    const bool released = ReleaseHandleIf(handle, [](const HandleObject& object) {
        return dynamic_cast<const ManagerHandle*>(&object) != nullptr ||
               dynamic_cast<const ServiceHandle*>(&object) != nullptr;
    });
    return released ? TRUE : Fail(ERROR_INVALID_HANDLE, FALSE);
}

}  // extern "C"
