// The registry, stood in for by a directory tree under RegistryRoot():
// every key is a folder, every value one file holding its type (u32,
// little-endian) followed by its bytes. A value is written to a temporary
// file and renamed over the old one, so a reader never sees half a value.
// Key and value names compare without regard to ASCII case, as on the
// platform: names are stored folded to lower case and percent-escaped where
// a character cannot stand in a file name ('/', '%', control characters, a
// leading '.').
// Subkey paths are separated by backslashes; empty parts are ignored. The
// unnamed value (name null or "") is the file ".default". A value and a
// subkey of one key cannot share a name here: the later one is refused with
// ERROR_ACCESS_DENIED. A handle's rights are checked: reading values needs
// KEY_QUERY_VALUE, writing or deleting them KEY_SET_VALUE (else
// ERROR_ACCESS_DENIED). A handle whose key was deleted cannot write
// (ERROR_KEY_DELETED). Closed or unknown handles: ERROR_INVALID_HANDLE.
#pragma once

#include "platform/types.h"

struct HKEY__;
using HKEY = HKEY__*;
using REGSAM = DWORD;

inline const HKEY HKEY_CLASSES_ROOT = reinterpret_cast<HKEY>(std::uintptr_t{0x80000000});
inline const HKEY HKEY_CURRENT_USER = reinterpret_cast<HKEY>(std::uintptr_t{0x80000001});
inline const HKEY HKEY_LOCAL_MACHINE = reinterpret_cast<HKEY>(std::uintptr_t{0x80000002});
inline const HKEY HKEY_USERS = reinterpret_cast<HKEY>(std::uintptr_t{0x80000003});

inline constexpr DWORD REG_NONE = 0;
inline constexpr DWORD REG_SZ = 1;
inline constexpr DWORD REG_EXPAND_SZ = 2;
inline constexpr DWORD REG_BINARY = 3;
inline constexpr DWORD REG_DWORD = 4;
inline constexpr DWORD REG_MULTI_SZ = 7;

inline constexpr REGSAM KEY_QUERY_VALUE = 0x0001;
inline constexpr REGSAM KEY_SET_VALUE = 0x0002;
inline constexpr REGSAM KEY_READ = 0x20019;
inline constexpr REGSAM KEY_WRITE = 0x20006;
inline constexpr REGSAM KEY_ALL_ACCESS = 0xF003F;

inline constexpr DWORD REG_OPTION_NON_VOLATILE = 0;
inline constexpr DWORD REG_CREATED_NEW_KEY = 1;
inline constexpr DWORD REG_OPENED_EXISTING_KEY = 2;

extern "C" {
// Results are platform error codes (ERROR_SUCCESS, ERROR_FILE_NOT_FOUND for a
// missing key or value, ERROR_MORE_DATA for a short buffer, ...).
QLPR_EXPORT LONG WINAPI RegOpenKeyExW(HKEY key, LPCWSTR subKey, DWORD options, REGSAM access,
                                      HKEY* result);
QLPR_EXPORT LONG WINAPI RegCreateKeyExW(HKEY key, LPCWSTR subKey, DWORD reserved, LPWSTR keyClass,
                                        DWORD options, REGSAM access, void* security,
                                        HKEY* result, DWORD* disposition);
QLPR_EXPORT LONG WINAPI RegCreateKeyW(HKEY key, LPCWSTR subKey, HKEY* result);
QLPR_EXPORT LONG WINAPI RegCloseKey(HKEY key);
// data null: *size := the value's size. A buffer smaller than the value:
// ERROR_MORE_DATA and *size := the value's size, nothing copied.
QLPR_EXPORT LONG WINAPI RegQueryValueExW(HKEY key, LPCWSTR name, DWORD* reserved, DWORD* type,
                                         BYTE* data, DWORD* size);
QLPR_EXPORT LONG WINAPI RegSetValueExW(HKEY key, LPCWSTR name, DWORD reserved, DWORD type,
                                       const BYTE* data, DWORD size);
QLPR_EXPORT LONG WINAPI RegDeleteValueW(HKEY key, LPCWSTR name);
// Deletes a key that has no subkeys (its values go with it); one with
// subkeys is refused with ERROR_ACCESS_DENIED. An empty subKey deletes the
// key itself (never a predefined key).
QLPR_EXPORT LONG WINAPI RegDeleteKeyW(HKEY key, LPCWSTR subKey);
}
