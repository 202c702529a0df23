// The running service: its dispatcher, control handler and status reports,
// under systemd or under the in-process manager of the tests.
//
// The dispatcher thread sleeps in poll() on one event descriptor (woken by
// controls of the in-process manager, by status reports and by the end of
// the service's main function) and, under systemd, on a signal descriptor
// for SIGTERM. The control handler always runs on the dispatcher thread.
#include <poll.h>
#include <signal.h>
#include <strings.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <systemd/sd-daemon.h>
#include <unistd.h>

#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <map>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "platform/events.h"
#include "platform/files.h"
#include "platform/service_manager.h"
#include "platform/threads.h"

namespace platform {
namespace {

// One control sent by ControlService, answered once the handler ran.
struct PendingControl {
    DWORD code;
    bool taken = false;       // the dispatcher is running the handler for it
    bool answered = false;    // ... and has run it
    SERVICE_STATUS status{};  // as the handler left it
};

class Dispatcher {
  public:
    Dispatcher(std::string name, LPSERVICE_MAIN_FUNCTIONA main, bool underSystemd)
        : name_(std::move(name)), main_(main), underSystemd_(underSystemd) {}
    ~Dispatcher() {
        if (wake_ >= 0) ::close(wake_);
    }

    bool Open() { return (wake_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) >= 0; }
    const std::string& Name() const { return name_; }
    bool UnderSystemd() const { return underSystemd_; }
    LPSERVICE_MAIN_FUNCTIONA Main() const { return main_; }

    // Status handles stop working when the dispatcher ends.
    void KeepStatusHandle(HANDLE handle) {
        std::lock_guard guard(lock_);
        statusHandles_.push_back(handle);
    }
    void ReleaseStatusHandles();

    void SetHandler(LPHANDLER_FUNCTION handler) {
        std::lock_guard guard(lock_);
        handler_ = handler;
    }
    SERVICE_STATUS Status() {
        std::lock_guard guard(lock_);
        return status_;
    }
    void Report(const SERVICE_STATUS& status) {
        {
            std::lock_guard guard(lock_);
            status_ = status;
            if (std::this_thread::get_id() == dispatcherThread_) reportedByHandler_ = status;
            if (status.dwCurrentState == SERVICE_STOPPED) ended_ = true;
        }
        answered_.notify_all();
        Wake();
    }
    void MainReturned() {
        {
            std::lock_guard guard(lock_);
            ended_ = true;
            if (status_.dwCurrentState != SERVICE_STOPPED) status_ = StoppedStatus();
        }
        answered_.notify_all();
        Wake();
    }

    // From ControlService's thread: waits until the handler ran (or the
    // service ended), and gives the status then.
    SERVICE_STATUS Send(DWORD code) {
        PendingControl control{code};
        std::unique_lock lock(lock_);
        controls_.push_back(&control);
        Wake();
        // A control the dispatcher took is always answered; one still
        // queued when the service ended never will be.
        answered_.wait(lock, [&] { return control.answered || (ended_ && !control.taken); });
        if (!control.answered) {
            std::erase(controls_, &control);
            return status_;
        }
        return control.status;
    }

    // Runs until the service stopped; `signals` is the SIGTERM descriptor
    // under systemd, else -1.
    void Serve(int signals) {
        bool stopAsked = false;
        for (;;) {
            pollfd ready[2] = {{wake_, POLLIN, 0}, {signals, POLLIN, 0}};
            if (::poll(ready, signals >= 0 ? 2 : 1, -1) < 0 && errno != EINTR) break;
            std::uint64_t count = 0;
            while (::read(wake_, &count, sizeof count) > 0) {
            }
            if (signals >= 0 && (ready[1].revents & POLLIN) != 0) {
                signalfd_siginfo info;
                while (::read(signals, &info, sizeof info) > 0) stopAsked = true;
            }
            RunControls();
            // A stop that came before the service accepted it waits for that.
            if (stopAsked && (Status().dwControlsAccepted & SERVICE_ACCEPT_STOP) != 0) {
                stopAsked = false;
                CallHandler(SERVICE_CONTROL_STOP);
            }
            std::lock_guard guard(lock_);
            if (ended_) break;
        }
    }

  private:
    void Wake() {
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = ::write(wake_, &one, sizeof one);
    }
    void CallHandler(DWORD code) {
        LPHANDLER_FUNCTION handler;
        {
            std::lock_guard guard(lock_);
            handler = handler_;
        }
        if (handler != nullptr) handler(code);
    }
    void RunControls() {
        for (;;) {
            PendingControl* control;
            {
                std::lock_guard guard(lock_);
                if (controls_.empty()) return;
                control = controls_.front();
                controls_.pop_front();
                control->taken = true;
            }
            {
                std::lock_guard guard(lock_);
                reportedByHandler_ = status_;
            }
            CallHandler(control->code);
            {
                // What the handler reported: the service may have moved on
                // since (a stop may be complete already).
                std::lock_guard guard(lock_);
                control->answered = true;
                control->status = reportedByHandler_;
            }
            answered_.notify_all();
        }
    }

    const std::string name_;
    const LPSERVICE_MAIN_FUNCTIONA main_;
    const bool underSystemd_;
    int wake_ = -1;
    std::mutex lock_;
    std::condition_variable answered_;
    std::deque<PendingControl*> controls_;
    LPHANDLER_FUNCTION handler_ = nullptr;
    SERVICE_STATUS status_ =
        SERVICE_STATUS{SERVICE_WIN32_OWN_PROCESS, SERVICE_START_PENDING, 0, 0, 0, 0, 0};
    bool ended_ = false;
    std::vector<HANDLE> statusHandles_;
    const std::thread::id dispatcherThread_ = std::this_thread::get_id();  // made there
    SERVICE_STATUS reportedByHandler_{};
};

// What RegisterServiceCtrlHandlerA hands out: the way back to the dispatcher.
class StatusHandle final : public HandleObject {
  public:
    explicit StatusHandle(std::shared_ptr<Dispatcher> dispatcher)
        : dispatcher_(std::move(dispatcher)) {}
    bool ClosedByCloseHandle() const override { return false; }
    Dispatcher& Target() const { return *dispatcher_; }

  private:
    std::shared_ptr<Dispatcher> dispatcher_;
};

void Dispatcher::ReleaseStatusHandles() {
    std::lock_guard guard(lock_);
    for (HANDLE handle : statusHandles_) ReleaseHandleAs<StatusHandle>(handle);
    statusHandles_.clear();
}

// The process's dispatcher while one runs, and the in-process manager's
// books: services asked to start and the last status of those that ran.
std::mutex gLock;
std::shared_ptr<Dispatcher> gDispatcher;
std::set<std::string> gStartRequested;
std::map<std::string, SERVICE_STATUS> gLastStatus;

std::shared_ptr<Dispatcher> RunningService(const std::string& name) {
    std::lock_guard guard(gLock);
    if (gDispatcher && strcasecmp(gDispatcher->Name().c_str(), name.c_str()) == 0)
        return gDispatcher;
    return nullptr;
}

// The notice systemd gets for a reported state.
const char* NoticeFor(DWORD state) {
    switch (state) {
        case SERVICE_RUNNING:
            return "READY=1\nSTATUS=Running";
        case SERVICE_STOP_PENDING:
            return "STOPPING=1\nSTATUS=Stopping";
        case SERVICE_START_PENDING:
            return "STATUS=Starting";
        default:
            return nullptr;
    }
}

DWORD WINAPI RunServiceMain(void* parameter) {
    auto* dispatcher = static_cast<Dispatcher*>(parameter);
    std::string name = dispatcher->Name();
    char* argv[] = {name.data(), nullptr};
    dispatcher->Main()(1, argv);
    dispatcher->MainReturned();
    return 0;
}

// Whether this process was started by a manager, and which.
enum class Starter { None, Systemd, InProcess };

Starter StarterOf(const std::string& name) {
    if (InProcessManager()) {
        std::lock_guard guard(gLock);
        return gStartRequested.erase(name) != 0 ? Starter::InProcess : Starter::None;
    }
    const char* socket = std::getenv("NOTIFY_SOCKET");
    return socket != nullptr && *socket != '\0' ? Starter::Systemd : Starter::None;
}

// SIGTERM comes through a descriptor; blocked on the dispatcher thread
// before the service's threads start, so that they inherit the mask.
class StopSignal {
  public:
    explicit StopSignal(bool active) {
        if (!active) return;
        sigset_t set;
        sigemptyset(&set);
        sigaddset(&set, SIGTERM);
        pthread_sigmask(SIG_BLOCK, &set, &old_);
        fd_ = ::signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK);
        active_ = true;
    }
    ~StopSignal() {
        if (fd_ >= 0) ::close(fd_);
        if (active_) pthread_sigmask(SIG_SETMASK, &old_, nullptr);
    }
    StopSignal(const StopSignal&) = delete;
    StopSignal& operator=(const StopSignal&) = delete;
    int Descriptor() const { return fd_; }

  private:
    bool active_ = false;
    int fd_ = -1;
    sigset_t old_{};
};

}  // namespace

SERVICE_STATUS InProcessStatus(const std::string& name) {
    if (auto running = RunningService(name)) return running->Status();
    std::lock_guard guard(gLock);
    if (gStartRequested.count(name) != 0)
        return SERVICE_STATUS{SERVICE_WIN32_OWN_PROCESS, SERVICE_START_PENDING, 0, 0, 0, 0, 0};
    const auto last = gLastStatus.find(name);
    return last != gLastStatus.end() ? last->second : StoppedStatus();
}

BOOL InProcessStart(const std::string& name) {
    if (RunningService(name)) return Fail(ERROR_SERVICE_ALREADY_RUNNING, FALSE);
    std::lock_guard guard(gLock);
    if (!gStartRequested.insert(name).second) return Fail(ERROR_SERVICE_ALREADY_RUNNING, FALSE);
    return TRUE;
}

BOOL InProcessControl(const std::string& name, DWORD control, SERVICE_STATUS* status) {
    auto running = RunningService(name);
    if (!running) return Fail(ERROR_SERVICE_NOT_ACTIVE, FALSE);
    if (control == SERVICE_CONTROL_STOP &&
        (running->Status().dwControlsAccepted & SERVICE_ACCEPT_STOP) == 0) {
        *status = running->Status();
        return Fail(ERROR_INVALID_SERVICE_CONTROL, FALSE);
    }
    *status = running->Send(control);
    return TRUE;
}

}  // namespace platform

extern "C" {

QLPR_EXPORT BOOL WINAPI StartServiceCtrlDispatcherA(const SERVICE_TABLE_ENTRYA* table) {
    using namespace platform;
    return Guard<BOOL>(FALSE, [&]() -> BOOL {
        if (table == nullptr || table[0].lpServiceName == nullptr ||
            table[0].lpServiceProc == nullptr)
            return Fail(ERROR_INVALID_PARAMETER, FALSE);
        const std::string name = table[0].lpServiceName;
        const Starter starter = StarterOf(name);
        if (starter == Starter::None) return Fail(ERROR_FAILED_SERVICE_CONTROLLER_CONNECT, FALSE);
        auto dispatcher =
            std::make_shared<Dispatcher>(name, table[0].lpServiceProc, starter == Starter::Systemd);
        if (!dispatcher->Open()) return Fail(ErrorFromErrno(errno), FALSE);
        {
            std::lock_guard guard(gLock);
            if (gDispatcher) return Fail(ERROR_SERVICE_ALREADY_RUNNING, FALSE);
            gDispatcher = dispatcher;
        }
        const StopSignal stopSignal(starter == Starter::Systemd);
        const HANDLE mainThread =
            CreateThread(nullptr, 0, RunServiceMain, dispatcher.get(), 0, nullptr);
        if (mainThread != nullptr) {
            dispatcher->Serve(stopSignal.Descriptor());
            // A service that reported its stop is on its way out; its main
            // function gets a moment to return before the process may end.
            WaitForSingleObject(mainThread, 1000);
            CloseHandle(mainThread);
        }
        std::lock_guard guard(gLock);
        gLastStatus[name] = mainThread != nullptr ? dispatcher->Status() : StoppedStatus();
        gDispatcher.reset();
        dispatcher->ReleaseStatusHandles();
        return mainThread != nullptr ? TRUE : FALSE;
    });
}

QLPR_EXPORT SERVICE_STATUS_HANDLE WINAPI RegisterServiceCtrlHandlerA(LPCSTR name,
                                                                     LPHANDLER_FUNCTION handler) {
    using namespace platform;
    return Guard<SERVICE_STATUS_HANDLE>(nullptr, [&]() -> SERVICE_STATUS_HANDLE {
        if (name == nullptr || handler == nullptr)
            return Fail<SERVICE_STATUS_HANDLE>(ERROR_INVALID_PARAMETER, nullptr);
        auto dispatcher = RunningService(name);
        if (!dispatcher) return Fail<SERVICE_STATUS_HANDLE>(ERROR_SERVICE_DOES_NOT_EXIST, nullptr);
        dispatcher->SetHandler(handler);
        const HANDLE status = RegisterHandle(std::make_shared<StatusHandle>(dispatcher));
        if (status == nullptr) return nullptr;
        dispatcher->KeepStatusHandle(status);
        SetLastError(ERROR_SUCCESS);
        return status;
    });
}

QLPR_EXPORT BOOL WINAPI SetServiceStatus(SERVICE_STATUS_HANDLE handle, SERVICE_STATUS* status) {
    using namespace platform;
    return Guard<BOOL>(FALSE, [&]() -> BOOL {
        auto target = LookupHandleAs<StatusHandle>(handle);
        if (!target) return Fail(ERROR_INVALID_HANDLE, FALSE);
        if (status == nullptr || status->dwCurrentState < SERVICE_STOPPED ||
            status->dwCurrentState > 7)
            return Fail(ERROR_INVALID_DATA, FALSE);
        Dispatcher& dispatcher = target->Target();
        if (dispatcher.UnderSystemd()) {
            if (const char* notice = NoticeFor(status->dwCurrentState)) sd_notify(0, notice);
        }
        dispatcher.Report(*status);
        return TRUE;
    });
}

}  // extern "C"
