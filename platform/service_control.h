// The service control manager, on systemd.
//
// A service is registered as a systemd unit "<name>.service" in the unit
// folder: /etc/systemd/system unless QLPR_SERVICE_UNIT_DIR names another
// (read at every call). CreateServiceA writes the unit, DeleteService
// removes it; both tell systemd (daemon-reload, enable, disable) only when
// systemd runs the machine and the unit folder is its own, so that a unit
// written into any other folder is never enabled by accident.
//
// A service program runs under one of two managers:
// - systemd (the default): the unit is Type=notify. The dispatcher counts
//   as started by the manager when systemd gave it a notification socket
//   (NOTIFY_SOCKET); status reports become notices (SERVICE_RUNNING:
//   "READY=1", SERVICE_STOP_PENDING: "STOPPING=1"), and SIGTERM arrives at
//   the control handler as SERVICE_CONTROL_STOP.
// - the in-process manager, chosen with QLPR_SERVICE_MANAGER=in-process: a
//   test starts, controls and queries a service of its own process, with
//   the same calls. StartServiceA marks the service as starting; the
//   dispatcher then connects (from any thread of the process) and
//   ControlService hands controls to it; QueryServiceStatus gives the
//   last status reported. Units are written and removed as above, but
//   systemd is never told.
#pragma once

#include "platform/types.h"

using SC_HANDLE = HANDLE;
using SERVICE_STATUS_HANDLE = HANDLE;

struct SERVICE_STATUS {
    DWORD dwServiceType;
    DWORD dwCurrentState;
    DWORD dwControlsAccepted;
    DWORD dwWin32ExitCode;
    DWORD dwServiceSpecificExitCode;
    DWORD dwCheckPoint;
    DWORD dwWaitHint;
};
static_assert(sizeof(SERVICE_STATUS) == 28);

using LPSERVICE_MAIN_FUNCTIONA = void(WINAPI*)(DWORD argc, LPSTR* argv);
using LPHANDLER_FUNCTION = void(WINAPI*)(DWORD control);

struct SERVICE_TABLE_ENTRYA {
    LPSTR lpServiceName;
    LPSERVICE_MAIN_FUNCTIONA lpServiceProc;
};

inline constexpr DWORD SC_MANAGER_CONNECT = 0x0001;
inline constexpr DWORD SC_MANAGER_CREATE_SERVICE = 0x0002;
inline constexpr DWORD SC_MANAGER_ALL_ACCESS = 0xF003F;
inline constexpr DWORD SERVICE_QUERY_STATUS = 0x0004;
inline constexpr DWORD SERVICE_START = 0x0010;
inline constexpr DWORD SERVICE_STOP = 0x0020;
inline constexpr DWORD SERVICE_INTERROGATE = 0x0080;
inline constexpr DWORD DELETE = 0x00010000;
inline constexpr DWORD SERVICE_ALL_ACCESS = 0xF01FF;

inline constexpr DWORD SERVICE_WIN32_OWN_PROCESS = 0x10;
inline constexpr DWORD SERVICE_AUTO_START = 2;
inline constexpr DWORD SERVICE_DEMAND_START = 3;
inline constexpr DWORD SERVICE_ERROR_NORMAL = 1;

inline constexpr DWORD SERVICE_STOPPED = 1;
inline constexpr DWORD SERVICE_START_PENDING = 2;
inline constexpr DWORD SERVICE_STOP_PENDING = 3;
inline constexpr DWORD SERVICE_RUNNING = 4;

inline constexpr DWORD SERVICE_ACCEPT_STOP = 0x1;
inline constexpr DWORD SERVICE_ACCEPT_SHUTDOWN = 0x4;

inline constexpr DWORD SERVICE_CONTROL_STOP = 1;
inline constexpr DWORD SERVICE_CONTROL_INTERROGATE = 4;
inline constexpr DWORD SERVICE_CONTROL_SHUTDOWN = 5;

inline constexpr DWORD ERROR_INVALID_SERVICE_CONTROL = 1052;
inline constexpr DWORD ERROR_SERVICE_ALREADY_RUNNING = 1056;
inline constexpr DWORD ERROR_SERVICE_DOES_NOT_EXIST = 1060;
inline constexpr DWORD ERROR_SERVICE_NOT_ACTIVE = 1062;
inline constexpr DWORD ERROR_FAILED_SERVICE_CONTROLLER_CONNECT = 1063;
inline constexpr DWORD ERROR_SERVICE_EXISTS = 1073;

extern "C" {
// Only the local machine (null `machine`) and its active database (null
// `database`). Creating services needs write access to the unit folder:
// else null with ERROR_ACCESS_DENIED.
QLPR_EXPORT SC_HANDLE WINAPI OpenSCManagerA(LPCSTR machine, LPCSTR database, DWORD access);
// Writes the unit of a new service: one program path, run as is without
// arguments, by the system's own account. An own-process service with the
// default account only; a name that is no plain unit name (1 to 256
// letters, digits, '-', '_', '.', '@') or a path that systemd cannot run
// (not absolute, or holding a control character, a quote or a backslash)
// is refused with ERROR_INVALID_NAME. A service
// of that name already there: ERROR_SERVICE_EXISTS, and nothing changes.
// SERVICE_AUTO_START enables the unit.
QLPR_EXPORT SC_HANDLE WINAPI CreateServiceA(SC_HANDLE manager, LPCSTR name, LPCSTR displayName,
                                            DWORD access, DWORD serviceType, DWORD startType,
                                            DWORD errorControl, LPCSTR binaryPath,
                                            LPCSTR loadOrderGroup, DWORD* tagId,
                                            LPCSTR dependencies, LPCSTR account, LPCSTR password);
// ERROR_SERVICE_DOES_NOT_EXIST when no unit of that name is registered.
QLPR_EXPORT SC_HANDLE WINAPI OpenServiceA(SC_HANDLE manager, LPCSTR name, DWORD access);
QLPR_EXPORT BOOL WINAPI QueryServiceStatus(SC_HANDLE service, SERVICE_STATUS* status);
// Removes the unit (disabled first when systemd runs).
QLPR_EXPORT BOOL WINAPI DeleteService(SC_HANDLE service);
QLPR_EXPORT BOOL WINAPI StartServiceA(SC_HANDLE service, DWORD argc, LPCSTR* argv);
// Sends a control to a running service and returns the status its handler
// reported (the current one when it reported none). Stop on a service that does not accept it:
// ERROR_INVALID_SERVICE_CONTROL; a service not running:
// ERROR_SERVICE_NOT_ACTIVE.
QLPR_EXPORT BOOL WINAPI ControlService(SC_HANDLE service, DWORD control, SERVICE_STATUS* status);
QLPR_EXPORT BOOL WINAPI CloseServiceHandle(SC_HANDLE handle);

// Runs the table's first service (an own-process service) on a new thread
// and delivers the manager's controls to its handler on the calling thread;
// returns TRUE once the service reported SERVICE_STOPPED or its main
// function returned. Not started by a manager:
// ERROR_FAILED_SERVICE_CONTROLLER_CONNECT at once.
QLPR_EXPORT BOOL WINAPI StartServiceCtrlDispatcherA(const SERVICE_TABLE_ENTRYA* table);
// Only for the service the dispatcher runs; null with
// ERROR_SERVICE_DOES_NOT_EXIST for any other name.
QLPR_EXPORT SERVICE_STATUS_HANDLE WINAPI RegisterServiceCtrlHandlerA(LPCSTR name,
                                                                     LPHANDLER_FUNCTION handler);
QLPR_EXPORT BOOL WINAPI SetServiceStatus(SERVICE_STATUS_HANDLE handle, SERVICE_STATUS* status);
}
