// Starting programs and the current directory.
//
// CreateProcessW takes the platform's command line: blank-separated words,
// double quotes group blanks into a word, and backslashes are plain
// characters except before a double quote (2n backslashes and a quote: n
// backslashes and a grouping quote; 2n+1: n backslashes and a literal
// quote). The program is the first word with '\\' read as '/'; without a
// '/' it is looked up along PATH. An unquoted program path that holds
// blanks is tried word by word, the shortest existing file first, as the
// platform does. A program named with the ending ".exe" that does not
// exist is started as the file without that ending (Linux programs have
// none). Windows do not exist here: the show-window request is accepted
// and has no effect. The child inherits the environment, the current
// directory and the standard streams (the platform's own descriptors are
// closed on start); its first argument is the program file found.
//
// The process and thread handles are waitable (events.h) and signalled
// once the program has ended; close both. Only what the system uses is
// offered: no application name, no creation flags, environment or
// directory of the child's own (ERROR_NOT_SUPPORTED).
#pragma once

#include "platform/types.h"

struct STARTUPINFOW {
    DWORD cb;
    LPWSTR lpReserved;
    LPWSTR lpDesktop;
    LPWSTR lpTitle;
    DWORD dwX;
    DWORD dwY;
    DWORD dwXSize;
    DWORD dwYSize;
    DWORD dwXCountChars;
    DWORD dwYCountChars;
    DWORD dwFillAttribute;
    DWORD dwFlags;
    WORD wShowWindow;
    WORD cbReserved2;
    BYTE* lpReserved2;
    HANDLE hStdInput;
    HANDLE hStdOutput;
    HANDLE hStdError;
};

struct PROCESS_INFORMATION {
    HANDLE hProcess;
    HANDLE hThread;
    DWORD dwProcessId;
    DWORD dwThreadId;
};

inline constexpr DWORD STARTF_USESHOWWINDOW = 0x00000001;
inline constexpr WORD SW_HIDE = 0;

extern "C" {
// FALSE with the last error set when the program cannot be started
// (ERROR_FILE_NOT_FOUND when there is no such program).
QLPR_EXPORT BOOL WINAPI CreateProcessW(LPCWSTR applicationName, LPWSTR commandLine,
                                       void* processAttributes, void* threadAttributes,
                                       BOOL inheritHandles, DWORD creationFlags, void* environment,
                                       LPCWSTR currentDirectory, STARTUPINFOW* startupInfo,
                                       PROCESS_INFORMATION* processInformation);
// The current directory (with '/' separators) and its length when `size`
// holds it with its terminator, else the size needed (terminator
// included); 0 with the last error set on failure.
QLPR_EXPORT DWORD WINAPI GetCurrentDirectoryW(DWORD size, LPWSTR buffer);
}
