// The bridge service program Tamsel: its command line, its installation
// and the service entry with its control handler.
#pragma once

#include "platform/service_control.h"

inline constexpr char kServiceName[] = "REVUrezeVuzi";

// "install" or "uninstall" (any case) as the first argument, else the
// service runs. Always 0.
int _tmain(int argc, char** argv);

void InstallService();
// Removes the service only while it is stopped.
void UninstallService();
// Hands the process to the service manager; without one, prints
// "GetLastError 1063".
void RunService();

void WINAPI ServiceMain(DWORD argc, LPSTR* argv);
void WINAPI ServiceCtrlHandler(DWORD control);
