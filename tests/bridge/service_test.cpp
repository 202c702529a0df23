// The bridge service as a service: Tamsel's command line and its unit,
// the run under systemd's notification protocol, the in-process manager's
// start, interrogate and stop, the supervisor's restarts and end lines, and
// the explorer check.
#include "bridge/service.h"

#include <gtest/gtest.h>
#include <pwd.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "bridge/explorer_check.h"
#include "bridge/service_log.h"
#include "bridge/supervisor.h"
#include "notifying_service.h"
#include "platform/pty_test_util.h"
#include "platform/windows.h"
#include "test_support.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Runs a program to its end; its exit status and standard output.
struct Outcome {
    int status = -1;
    std::string output;
};

pid_t Spawn(const fs::path& program, const std::vector<std::string>& arguments, int output = -1) {
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (output >= 0) posix_spawn_file_actions_adddup2(&actions, output, STDOUT_FILENO);
    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    return spawned == 0 ? pid : -1;
}

int ExitStatus(pid_t pid) {
    int status = 0;
    if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

Outcome RunProgram(const fs::path& program, const std::vector<std::string>& arguments) {
    int ends[2];
    if (pipe(ends) != 0) return {};
    const pid_t pid = Spawn(program, arguments, ends[1]);
    close(ends[1]);
    Outcome outcome;
    char chunk[256];
    for (ssize_t n; (n = read(ends[0], chunk, sizeof chunk)) > 0;) outcome.output.append(chunk, n);
    close(ends[0]);
    outcome.status = ExitStatus(pid);
    return outcome;
}

fs::path Tamsel() {
    return testsupport::BinDir() / "Tamsel";
}

class ServiceTest : public ::testing::Test {
  protected:
    void SetUp() override {
        setenv("QLPR_SERVICE_LOG", Log().c_str(), 1);
        // No printers and no ports: the workers search until stopped.
        setenv("QLPR_DEVICE_SOURCE", sources_.path().c_str(), 1);
    }
    void TearDown() override {
        unsetenv("QLPR_SERVICE_LOG");
        unsetenv("QLPR_DEVICE_SOURCE");
    }
    fs::path Log() const { return logs_.path() / "service.log"; }
    fs::path Unit() const { return units_.path() / "REVUrezeVuzi.service"; }

    ptytest::ScopedFolderVariable units_{"QLPR_SERVICE_UNIT_DIR"};
    ptytest::ScopedFolderVariable devices_{"QLPR_DEVICE_DIR"};
    ptytest::ScopedFolderVariable logs_{"QLPR_TEST_LOG_DIR"};
    ptytest::ScopedFolderVariable sources_{"QLPR_TEST_SOURCE_DIR"};
};

TEST_F(ServiceTest, CommandLineInstallsUninstallsAndRuns) {
    // Outside a service manager the run only reports the platform's error.
    for (const std::vector<std::string>& arguments :
         {std::vector<std::string>{}, {"start"}, {"installs"}}) {
        const Outcome run = RunProgram(Tamsel(), arguments);
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.output, "GetLastError 1063");
    }
    EXPECT_NE(
        ReadFile(Log()).find("\n _tmain called\n\n Run Service\nService : RunService in RKS\n"),
        std::string::npos)
        << ReadFile(Log());

    const Outcome install = RunProgram(Tamsel(), {"InStAlL", "ignored"});
    EXPECT_EQ(install.status, 0);
    EXPECT_EQ(install.output, "");
    const std::string unit = ReadFile(Unit());
    EXPECT_NE(unit.find("\nExecStart=\"" + Tamsel().string() + "\"\n"), std::string::npos) << unit;
    EXPECT_NE(unit.find("\nType=notify\n"), std::string::npos) << unit;
    if (system("command -v systemd-analyze >/dev/null 2>&1") == 0) {
        const std::string verify = "systemd-analyze verify --man=no '" + Unit().string() + "' 2>&1";
        EXPECT_EQ(system(verify.c_str()), 0);
    }

    // A second install changes nothing, even when the unit was edited.
    std::ofstream(Unit(), std::ios::app) << "# kept\n";
    EXPECT_EQ(RunProgram(Tamsel(), {"install"}).status, 0);
    EXPECT_EQ(ReadFile(Unit()), unit + "# kept\n");

    const Outcome uninstall = RunProgram(Tamsel(), {"UNINSTALL"});
    EXPECT_EQ(uninstall.status, 0);
    EXPECT_EQ(uninstall.output, "");
    EXPECT_FALSE(fs::exists(Unit()));
    EXPECT_NE(ReadFile(Log()).find("\n Install\n"), std::string::npos);
    EXPECT_NE(ReadFile(Log()).find("\n UnInstall\n"), std::string::npos);
}

// The service under systemd's protocol: the test is the manager, with a
// notification socket and SIGTERM as the stop.
TEST_F(ServiceTest, RunsUnderSystemdNoticesAndStopsOnSigterm) {
    testsupport::NotifyingService service(Tamsel(), {});
    ASSERT_GT(service.Pid(), 0);
    EXPECT_EQ(service.Notice(), "STATUS=Starting");
    EXPECT_EQ(service.Notice(), "READY=1\nSTATUS=Running");
    // The workers are searching when the stop comes.
    for (int tries = 0;
         tries < 200 && ReadFile(Log()).find("Low Cost thread start ") == std::string::npos;
         ++tries)
        std::this_thread::sleep_for(10ms);
    service.Terminate();
    // From the handler, then from the service once its workers ended.
    EXPECT_EQ(service.Notice(), "STOPPING=1\nSTATUS=Stopping");
    EXPECT_EQ(service.Notice(), "STOPPING=1\nSTATUS=Stopping");
    EXPECT_EQ(service.Wait(), 0);

    const std::string log = ReadFile(Log());
    for (const char* line :
         {"Service : In SericeMain()\n", "Service 1 : 0\n",
          "Service : VantorViewerService:: **  Starting the service ** \n", "China thread start \n",
          "Global thread start \n", "Low Cost thread start \n", "Inside ThreadGlobal\n",
          "fnReadCOMPortWriteToUSB : Stop Request1\n", "Service : Wait is over.\n"})
        EXPECT_NE(log.find(line), std::string::npos) << line << "\n" << log;
    for (const char* end : {"China thread ends ", "Global thread ends ", "Low Cost thread ends "})
        EXPECT_NE(log.find(end), std::string::npos) << end;
    // Neither a status report nor a registration failed.
    EXPECT_EQ(log.find("Service 2 :"), std::string::npos);
    EXPECT_EQ(log.find("Service 3 :"), std::string::npos);
}

class InProcessServiceTest : public ServiceTest {
  protected:
    void SetUp() override {
        ServiceTest::SetUp();
        setenv("QLPR_SERVICE_MANAGER", "in-process", 1);
    }
    void TearDown() override {
        unsetenv("QLPR_SERVICE_MANAGER");
        ServiceTest::TearDown();
    }
};

SERVICE_STATUS Status(SC_HANDLE service) {
    SERVICE_STATUS status{};
    QueryServiceStatus(service, &status);
    return status;
}

TEST_F(InProcessServiceTest, StartsAnswersInterrogationKeepsItsUnitWhileRunningAndStops) {
    InstallService();
    ASSERT_TRUE(fs::exists(Unit()));
    const SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    ASSERT_NE(manager, nullptr);
    const SC_HANDLE service = OpenServiceA(manager, kServiceName, SERVICE_ALL_ACCESS);
    ASSERT_NE(service, nullptr);
    EXPECT_EQ(Status(service).dwCurrentState, SERVICE_STOPPED);
    SERVICE_STATUS status{};
    EXPECT_FALSE(ControlService(service, SERVICE_CONTROL_STOP, &status));
    EXPECT_EQ(GetLastError(), ERROR_SERVICE_NOT_ACTIVE);

    ASSERT_TRUE(StartServiceA(service, 0, nullptr));
    std::thread process(RunService);
    for (int tries = 0; tries < 500 && Status(service).dwCurrentState != SERVICE_RUNNING; ++tries)
        std::this_thread::sleep_for(10ms);
    status = Status(service);
    EXPECT_EQ(status.dwCurrentState, SERVICE_RUNNING);
    EXPECT_EQ(status.dwControlsAccepted, SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN);
    EXPECT_EQ(status.dwServiceType, SERVICE_WIN32_OWN_PROCESS);

    // A running service stays registered.
    UninstallService();
    EXPECT_TRUE(fs::exists(Unit()));

    ASSERT_TRUE(ControlService(service, SERVICE_CONTROL_INTERROGATE, &status));
    EXPECT_EQ(status.dwCurrentState, SERVICE_RUNNING);
    ASSERT_TRUE(ControlService(service, SERVICE_CONTROL_STOP, &status));
    EXPECT_EQ(status.dwCurrentState, SERVICE_STOP_PENDING);
    process.join();
    status = Status(service);
    EXPECT_EQ(status.dwCurrentState, SERVICE_STOPPED);
    EXPECT_EQ(status.dwControlsAccepted, 0u);
    EXPECT_EQ(gServiceStopEvent, nullptr);

    UninstallService();
    EXPECT_FALSE(fs::exists(Unit()));
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
}

// Fake worker threads: events the test sets to end a worker.
struct FakeWorkers {
    static inline std::vector<HANDLE> started;
    static inline int endAtOnce = 0;  // how many of the next starts end at once
    static HANDLE Start(LPTHREAD_START_ROUTINE, DWORD* id) {
        const HANDLE thread = CreateEventA(nullptr, TRUE, endAtOnce > 0, nullptr);
        if (endAtOnce > 0) --endAtOnce;
        started.push_back(thread);
        *id = static_cast<DWORD>(started.size());
        return thread;
    }
};

TEST_F(ServiceTest, SupervisorRestartsEndedWorkersAndEndsAllOnStop) {
    gServiceStopEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    FakeWorkers::started.clear();
    // China and Global end right after their start: one wake-up ends both.
    FakeWorkers::endAtOnce = 2;
    std::thread supervisor([] { RunSupervisor(kSupervisorSlots, FakeWorkers::Start); });
    const auto waitForLog = [&](const std::string& text) {
        for (int tries = 0; tries < 500 && ReadFile(Log()).find(text) == std::string::npos; ++tries)
            std::this_thread::sleep_for(10ms);
        return ReadFile(Log()).find(text) != std::string::npos;
    };
    // Both restarted in the next pass.
    ASSERT_TRUE(waitForLog("China thread start \nGlobal thread start \n"));
    ASSERT_TRUE(waitForLog("Global thread ends 1 \nChina thread start \nGlobal thread start \n"));

    // The stop, then Low Cost ends first: every final end line carries 3.
    SetEvent(gServiceStopEvent);
    SetEvent(FakeWorkers::started[2]);
    ASSERT_TRUE(waitForLog("Low Cost thread ends 3 \n"));
    SetEvent(FakeWorkers::started[3]);
    SetEvent(FakeWorkers::started[4]);
    supervisor.join();
    EXPECT_EQ(ReadFile(Log()),
              "China thread start \nGlobal thread start \nLow Cost thread start \n"
              "China thread ends 1 \nGlobal thread ends 1 \n"
              "China thread start \nGlobal thread start \n"
              "Low Cost thread ends 3 \nChina thread ends 3 \nGlobal thread ends 3 \n");
    EXPECT_EQ(FakeWorkers::started.size(), 5u);
    CloseHandle(gServiceStopEvent);
    gServiceStopEvent = nullptr;
}

// A program named like the desktop's explorer, run by this user.
TEST_F(ServiceTest, ExplorerCheckFindsTheModuleIgnoringCaseAndTakesItsUser) {
    const fs::path program = logs_.path() / "Explorer.EXE";
    fs::copy_file("/bin/sleep", program);
    const pid_t explorer = Spawn(program, {"30"});
    ASSERT_GT(explorer, 0);
    // Until the program is really loaded, its map is that of the test.
    for (int tries = 0; tries < 200; ++tries) {
        char name[260] = {};
        const HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE,
                                           static_cast<DWORD>(explorer));
        const bool loaded = process != nullptr &&
                            GetModuleFileNameExA(process, nullptr, name, 260) && program == name;
        if (process != nullptr) CloseHandle(process);
        if (loaded) break;
        std::this_thread::sleep_for(10ms);
    }

    gExplorerFound = 0;
    CheckForExplorer(GetCurrentProcessId());
    EXPECT_EQ(gExplorerFound, 0);
    EXPECT_EQ(ReadFile(Log()), "");

    AdoptInteractiveUser();
    EXPECT_EQ(gExplorerFound, 1);
    const std::string account = getpwuid(geteuid())->pw_name;
    EXPECT_EQ(ReadFile(Log()), account + "\nService : Done with ImpersonateLoggedOnUser\n");
    RevertToSelf();
    kill(explorer, SIGTERM);
    ExitStatus(explorer);
}

}  // namespace
