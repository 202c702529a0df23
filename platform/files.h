// Files and read-only file mapping.
//
// Sharing: a file opened with share mode 0 takes an exclusive advisory lock
// (flock) and fails with ERROR_SHARING_VIOLATION while another handle, in this
// or another process, holds the file; other share modes take a shared lock.
// CREATE_NEW never follows a symbolic link at the final component.
// A refused open changes nothing (CREATE_ALWAYS truncates only once the lock
// is held). New files are made with mode 0644 (less the umask). Names are
// UTF-8 on disk; the platform's folder separator '\\' is read as '/'.
// Overlapped I/O is not offered on these handles (ERROR_INVALID_PARAMETER);
// device paths ("\\.\NAME", "\\?\...") open as device handles instead,
// see overlapped.h.
#pragma once

#include "platform/types.h"

inline constexpr DWORD GENERIC_READ = 0x80000000;
inline constexpr DWORD GENERIC_WRITE = 0x40000000;
inline constexpr DWORD FILE_SHARE_READ = 0x00000001;
inline constexpr DWORD FILE_SHARE_WRITE = 0x00000002;
inline constexpr DWORD FILE_SHARE_DELETE = 0x00000004;
inline constexpr DWORD CREATE_NEW = 1;
inline constexpr DWORD CREATE_ALWAYS = 2;
inline constexpr DWORD OPEN_EXISTING = 3;
inline constexpr DWORD OPEN_ALWAYS = 4;
inline constexpr DWORD TRUNCATE_EXISTING = 5;
inline constexpr DWORD FILE_ATTRIBUTE_NORMAL = 0x80;
inline constexpr DWORD FILE_ATTRIBUTE_DIRECTORY = 0x10;
inline constexpr DWORD INVALID_FILE_SIZE = 0xFFFFFFFF;
inline constexpr DWORD INVALID_SET_FILE_POINTER = 0xFFFFFFFF;
inline constexpr DWORD INVALID_FILE_ATTRIBUTES = 0xFFFFFFFF;
inline constexpr DWORD FILE_BEGIN = 0;
inline constexpr DWORD FILE_CURRENT = 1;
inline constexpr DWORD FILE_END = 2;
inline constexpr DWORD PAGE_READONLY = 0x02;
inline constexpr DWORD FILE_MAP_READ = 0x0004;

struct WIN32_FILE_ATTRIBUTE_DATA {
    DWORD dwFileAttributes;
    FILETIME ftCreationTime;
    FILETIME ftLastAccessTime;
    FILETIME ftLastWriteTime;
    DWORD nFileSizeHigh;
    DWORD nFileSizeLow;
};
enum GET_FILEEX_INFO_LEVELS { GetFileExInfoStandard = 0 };

extern "C" {
// Returns INVALID_HANDLE_VALUE and sets the last error on failure. On
// success the last error is ERROR_ALREADY_EXISTS when CREATE_ALWAYS or
// OPEN_ALWAYS found the file, else ERROR_SUCCESS. A missing file gives
// ERROR_FILE_NOT_FOUND, a missing folder ERROR_PATH_NOT_FOUND, a folder
// ERROR_ACCESS_DENIED. CreateFileA's name is in the ANSI code page (1252).
QLPR_EXPORT HANDLE WINAPI CreateFileW(LPCWSTR name, DWORD access, DWORD shareMode, void* security,
                                      DWORD disposition, DWORD flags, HANDLE templateFile);
QLPR_EXPORT HANDLE WINAPI CreateFileA(LPCSTR name, DWORD access, DWORD shareMode, void* security,
                                      DWORD disposition, DWORD flags, HANDLE templateFile);
// Both keep going after a short transfer until everything moved or an error.
QLPR_EXPORT BOOL WINAPI ReadFile(HANDLE file, void* buffer, DWORD bytes, DWORD* read,
                                 void* overlapped);
QLPR_EXPORT BOOL WINAPI WriteFile(HANDLE file, const void* buffer, DWORD bytes, DWORD* written,
                                  void* overlapped);
// Without distanceHigh the distance is a signed 32-bit value. Both clear the
// last error on success, since a result may equal the failure value.
QLPR_EXPORT DWORD WINAPI SetFilePointer(HANDLE file, LONG distance, LONG* distanceHigh,
                                        DWORD method);
QLPR_EXPORT DWORD WINAPI GetFileSize(HANDLE file, DWORD* sizeHigh);
// Times are 100 ns units since 1601-01-01 (UTC), as on the platform. The
// creation time is the birth time where the file system keeps one, else
// the last write time. Attributes are FILE_ATTRIBUTE_DIRECTORY or
// FILE_ATTRIBUTE_NORMAL.
QLPR_EXPORT BOOL WINAPI GetFileTime(HANDLE file, FILETIME* creation, FILETIME* access,
                                    FILETIME* write);
QLPR_EXPORT LONG WINAPI CompareFileTime(const FILETIME* a, const FILETIME* b);
QLPR_EXPORT BOOL WINAPI GetFileAttributesExW(LPCWSTR name, GET_FILEEX_INFO_LEVELS level,
                                             void* info);
QLPR_EXPORT DWORD WINAPI GetFileAttributesW(LPCWSTR name);
// Closes any handle the platform gives out (files, mappings, ...).
QLPR_EXPORT BOOL WINAPI CloseHandle(HANDLE handle);
QLPR_EXPORT BOOL WINAPI DeleteFileW(LPCWSTR name);
// Renames, replacing an existing target (the platform's MoveFileW would
// refuse one with ERROR_ALREADY_EXISTS). A file moves to another file system
// by copy and removal; a folder cannot (ERROR_NOT_SAME_DEVICE).
QLPR_EXPORT BOOL WINAPI MoveFileW(LPCWSTR from, LPCWSTR to);
QLPR_EXPORT BOOL WINAPI CreateDirectoryW(LPCWSTR name, void* security);

// Read-only mappings only (PAGE_READONLY, FILE_MAP_READ). A mapping of an
// empty file fails (ERROR_FILE_INVALID on the platform; here
// ERROR_INVALID_PARAMETER); so does a size beyond the file's end, a named
// mapping, or a file handle without GENERIC_READ (ERROR_ACCESS_DENIED). The
// view stays valid after the mapping and the file handle are closed, until
// UnmapViewOfFile. View offsets are multiples of 64 KiB (else
// ERROR_MAPPED_ALIGNMENT); `bytes` 0 maps to the end. A file cut shorter
// while mapped cannot be read past its new end (the process would fault):
// only files the system owns are mapped. UnmapViewOfFile takes the address
// MapViewOfFile returned (else ERROR_INVALID_ADDRESS).
QLPR_EXPORT HANDLE WINAPI CreateFileMappingW(HANDLE file, void* security, DWORD protect,
                                             DWORD maximumSizeHigh, DWORD maximumSizeLow,
                                             LPCWSTR name);
QLPR_EXPORT void* WINAPI MapViewOfFile(HANDLE mapping, DWORD access, DWORD offsetHigh,
                                       DWORD offsetLow, SIZE_T bytes);
QLPR_EXPORT BOOL WINAPI UnmapViewOfFile(const void* view);

// The temporary folder as the ANSI (code page 1252) path that ends in '/':
// TMPDIR, else "/tmp/". Copies it with its terminator and returns its length
// when `size` holds it, else returns the size needed (terminator included);
// 0 with the last error set when the folder has no ANSI name.
QLPR_EXPORT DWORD WINAPI GetTempPathA(DWORD size, LPSTR buffer);
// Makes a new folder "<temporary folder>qlpr-XXXXXX/" (a fresh random name,
// mode 0700, so only the calling user can reach it and no one can have made
// it first) and gives its ANSI path ending in '/', with its terminator, and
// its length. 0 with the last error set when none is made: the temporary
// folder is missing or closed, has no ANSI name, or the path would not fit
// in `size` (ERROR_FILENAME_EXCED_RANGE; the folder is removed again).
QLPR_EXPORT DWORD WINAPI QlprCreatePrivateTempFolderA(DWORD size, LPSTR buffer);
// Removes an empty folder; ERROR_DIR_NOT_EMPTY when something is left in it,
// ERROR_PATH_NOT_FOUND when there is none (name in code page 1252).
QLPR_EXPORT BOOL WINAPI RemoveDirectoryA(LPCSTR name);
// The ANSI forms of CreateFileMappingW and DeleteFileW (names in code page 1252).
QLPR_EXPORT HANDLE WINAPI CreateFileMappingA(HANDLE file, void* security, DWORD protect,
                                             DWORD maximumSizeHigh, DWORD maximumSizeLow,
                                             LPCSTR name);
QLPR_EXPORT BOOL WINAPI DeleteFileA(LPCSTR name);
}
