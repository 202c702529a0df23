// The system's processes and the files mapped into them ("modules"), read
// from /proc.
//
// A process's modules are its program and every file mapped into it, in
// the order of their first mapping; a module handle is the address of that
// first mapping, as a library's base address is. Listing the modules of a
// process needs the right to look into it (the same user, or a privileged
// caller): OpenProcess refuses the others with ERROR_ACCESS_DENIED.
#pragma once

#include "platform/types.h"

inline constexpr DWORD PROCESS_QUERY_INFORMATION = 0x0400;
inline constexpr DWORD PROCESS_VM_READ = 0x0010;

extern "C" {
// The ids of the running processes, ascending; *bytesReturned is 4 per id
// that fits into `bytes`.
QLPR_EXPORT BOOL WINAPI EnumProcesses(DWORD* processIds, DWORD bytes, DWORD* bytesReturned);
QLPR_EXPORT HANDLE WINAPI OpenProcess(DWORD access, BOOL inheritHandle, DWORD processId);
// As many module handles as fit into `bytes`; *bytesNeeded tells how many
// bytes all of them take.
QLPR_EXPORT BOOL WINAPI EnumProcessModules(HANDLE process, HMODULE* modules, DWORD bytes,
                                           DWORD* bytesNeeded);
// The module's full file name, cut to size - 1 characters; its length, or
// 0 with the last error set.
QLPR_EXPORT DWORD WINAPI GetModuleFileNameExA(HANDLE process, HMODULE module, LPSTR fileName,
                                              DWORD size);
QLPR_EXPORT DWORD WINAPI GetCurrentProcessId();
}
