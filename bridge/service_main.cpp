// The service entry and its control handler.
#include <cstdio>

#include "bridge/explorer_check.h"
#include "bridge/service.h"
#include "bridge/service_log.h"
#include "bridge/supervisor.h"
#include "platform/events.h"
#include "platform/files.h"
#include "platform/last_error.h"
#include "platform/tokens.h"

namespace {

constexpr DWORD kAcceptedWhileRunning = SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN;

// Written by ServiceMain and by the handler, which only moves the state to
// stop-pending.
SERVICE_STATUS gServiceStatus;
SERVICE_STATUS_HANDLE gStatusHandle = nullptr;

void ReportState(DWORD state) {
    gServiceStatus.dwCurrentState = state;
    SetServiceStatus(gStatusHandle, &gServiceStatus);
}

// "Service N : <last error>", formatted apart first.
void LogLastError(int step) {
    char line[256];
    std::snprintf(line, sizeof line, "Service %d : %d", step, static_cast<int>(GetLastError()));
    ServiceLog("%s", line);
}

}  // namespace

void WINAPI ServiceCtrlHandler(DWORD control) {
    if (control == SERVICE_CONTROL_STOP || control == SERVICE_CONTROL_SHUTDOWN) {
        gServiceStatus.dwCurrentState = SERVICE_STOP_PENDING;
        SetServiceStatus(gStatusHandle, &gServiceStatus);
        SetEvent(gServiceStopEvent);
        return;
    }
    SetServiceStatus(gStatusHandle, &gServiceStatus);
}

void WINAPI ServiceMain(DWORD, LPSTR*) {
    ServiceLog("Service : In SericeMain()");
    AdoptInteractiveUser();
    gServiceStatus = SERVICE_STATUS{SERVICE_WIN32_OWN_PROCESS, SERVICE_STOPPED, 0, 0, 0, 0, 0};
    gStatusHandle = RegisterServiceCtrlHandlerA(kServiceName, ServiceCtrlHandler);
    ServiceLog("Service : ----------------------------");
    ServiceLog("Service : ----------------------------");
    if (gStatusHandle == nullptr) return;
    LogLastError(1);

    gServiceStatus.dwCurrentState = SERVICE_START_PENDING;
    if (!SetServiceStatus(gStatusHandle, &gServiceStatus)) LogLastError(2);
    gServiceStopEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    gServiceStatus.dwControlsAccepted |= kAcceptedWhileRunning;
    gServiceStatus.dwCurrentState = SERVICE_RUNNING;
    if (!SetServiceStatus(gStatusHandle, &gServiceStatus)) LogLastError(3);
    // The workers run as the service itself.
    RevertToSelf();
    ServiceLog("Service : VantorViewerService:: **  Starting the service ** ");

    RunSupervisor(kSupervisorSlots, StartWorkerThread);

    ServiceLog("Service : Wait is over.");
    ReportState(SERVICE_STOP_PENDING);
    CloseHandle(gServiceStopEvent);
    gServiceStopEvent = nullptr;
    gServiceStatus.dwControlsAccepted &= ~kAcceptedWhileRunning;
    ReportState(SERVICE_STOPPED);
}
