// Tamsel's command line: install, uninstall, or run as the service.
#include <strings.h>

#include <cstdio>

#include "bridge/service.h"
#include "bridge/service_log.h"
#include "platform/last_error.h"
#include "platform/module.h"

void InstallService() {
    const SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CREATE_SERVICE);
    SetLastError(ERROR_SUCCESS);
    if (manager == nullptr) return;
    char path[261];
    if (GetModuleFileNameA(nullptr, path, sizeof path) == 0) {
        CloseServiceHandle(manager);
        return;
    }
    const SC_HANDLE service =
        CreateServiceA(manager, kServiceName, kServiceName, SERVICE_ALL_ACCESS,
                       SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, SERVICE_ERROR_NORMAL, path,
                       nullptr, nullptr, nullptr, nullptr, nullptr);
    if (service != nullptr) CloseServiceHandle(service);
    CloseServiceHandle(manager);
}

void UninstallService() {
    const SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    SetLastError(ERROR_SUCCESS);
    if (manager == nullptr) return;
    const SC_HANDLE service = OpenServiceA(manager, kServiceName, DELETE | SERVICE_QUERY_STATUS);
    if (service != nullptr) {
        SERVICE_STATUS status;
        if (QueryServiceStatus(service, &status) && status.dwCurrentState == SERVICE_STOPPED)
            DeleteService(service);
        CloseServiceHandle(service);
    }
    CloseServiceHandle(manager);
}

void RunService() {
    ServiceLog("Service : RunService in RKS");
    char name[sizeof kServiceName];
    std::snprintf(name, sizeof name, "%s", kServiceName);
    const SERVICE_TABLE_ENTRYA table[] = {{name, ServiceMain}, {nullptr, nullptr}};
    StartServiceCtrlDispatcherA(table);
    std::printf("GetLastError %d", static_cast<int>(GetLastError()));
    std::fflush(stdout);
}

int _tmain(int argc, char** argv) {
    ServiceLog("\n _tmain called");
    if (argc > 1 && strcasecmp(argv[1], "install") == 0) {
        ServiceLog("\n Install");
        InstallService();
    } else if (argc <= 1 || strcasecmp(argv[1], "uninstall") != 0) {
        ServiceLog("\n Run Service");
        RunService();
    } else {
        ServiceLog("\n UnInstall");
        UninstallService();
    }
    return 0;
}
