// Loading libraries by full path, looking up their exports, and a library's
// own file name.
//
// String resources: a library that carries a string table exports the symbol
// "QlprStringTable", an array of ResourceString ended by an entry whose text
// is null; LoadStringW reads it. Other resources are exported the same way
// as "QlprResourceTable" (ResourceData, ended by a null data pointer).
#pragma once

#include "platform/types.h"

struct ResourceString {
    UINT id;
    const WCHAR* text;
};

struct ResourceData {
    UINT type;
    UINT id;
    const void* data;
    DWORD size;
};

inline constexpr DWORD GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS = 0x4;
inline constexpr DWORD GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT = 0x2;

extern "C" {
// Loads the library at this path (a name without a folder is looked up the
// dynamic loader's way). Null with ERROR_MOD_NOT_FOUND on failure.
QLPR_EXPORT HMODULE WINAPI LoadLibraryW(LPCWSTR fileName);
QLPR_EXPORT BOOL WINAPI FreeLibrary(HMODULE module);
// Null with ERROR_PROC_NOT_FOUND when the library lacks the export.
QLPR_EXPORT FARPROC WINAPI GetProcAddress(HMODULE module, LPCSTR name);
// The full file name of the module (null: the program), absolute, links not
// resolved. Cut to size - 1 characters and a zero with
// ERROR_INSUFFICIENT_BUFFER when it does not fit, the result then being
// `size`, as on the platform; else the length copied; 0 on failure.
QLPR_EXPORT DWORD WINAPI GetModuleFileNameW(HMODULE module, LPWSTR fileName, DWORD size);
// The same with the name's bytes as the file system has them.
QLPR_EXPORT DWORD WINAPI GetModuleFileNameA(HMODULE module, LPSTR fileName, DWORD size);
// With GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, `name` is an address inside
// the module wanted; else the name or path of a loaded library (null: the
// program). The handle holds a reference (FreeLibrary it) unless
// GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT is given. Not loaded:
// ERROR_MOD_NOT_FOUND.
QLPR_EXPORT BOOL WINAPI GetModuleHandleExW(DWORD flags, LPCWSTR name, HMODULE* module);
// Copies string `id` of the module's table, cut to size - 1 characters, and
// returns its length; 0 when the module has no such string
// (ERROR_RESOURCE_NAME_NOT_FOUND). With size 0 the buffer receives a pointer
// to the string itself and the result is its full length, as on the
// platform. Only the module's own table counts, never one of a library it
// depends on (null module: the program's).
QLPR_EXPORT int WINAPI LoadStringW(HINSTANCE module, UINT id, LPWSTR buffer, int size);
// Looks up a resource exported in "QlprResourceTable".
QLPR_EXPORT const ResourceData* WINAPI QlprFindResource(HMODULE module, UINT type, UINT id);
}
