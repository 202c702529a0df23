// Basic Windows types as the system's records and interfaces use them.
//
// Sizes are those of 32-bit Windows wherever a record crosses a boundary:
// LONG and ULONG are 32 bits (not the LP64 `long`), WCHAR is a 16-bit UTF-16
// code unit, BOOL is a 32-bit integer. Handles that only live in memory are
// pointers; engine object handles that appear inside fixed-size records
// (palettes, surfaces) are 32-bit handle values, see EngineHandle.
#pragma once

#include <cstddef>
#include <cstdint>

using BYTE = std::uint8_t;
using CHAR = char;
using WCHAR = char16_t;
using WORD = std::uint16_t;
using SHORT = std::int16_t;
using USHORT = std::uint16_t;
using DWORD = std::uint32_t;
using UINT = std::uint32_t;
using INT = std::int32_t;
using LONG = std::int32_t;
using ULONG = std::uint32_t;
using FLONG = std::uint32_t;
using FSHORT = std::uint16_t;
using FWORD = std::int16_t;
using UFWORD = std::uint16_t;
using BOOL = std::int32_t;
using LDECI4 = std::int32_t;
using PTRDIFF = std::int32_t;  // offsets inside records, never addresses
using ULONG_PTR = std::uintptr_t;
using SIZE_T = std::size_t;
using LPSTR = char*;
using LPCSTR = const char*;
using LPWSTR = WCHAR*;
using LPCWSTR = const WCHAR*;
using PVOID = void*;
using HANDLE = void*;
using HMODULE = void*;
using HINSTANCE = void*;
using FARPROC = void (*)();

// Toolkits (wxWidgets) define TRUE and FALSE as macros of their own value.
#ifndef TRUE
inline constexpr BOOL TRUE = 1;
#endif
#ifndef FALSE
inline constexpr BOOL FALSE = 0;
#endif
inline const HANDLE INVALID_HANDLE_VALUE = reinterpret_cast<HANDLE>(~std::uintptr_t{0});

struct POINTL {
    LONG x;
    LONG y;
};
struct SIZEL {
    LONG cx;
    LONG cy;
};
struct RECTL {
    LONG left;
    LONG top;
    LONG right;
    LONG bottom;
};
static_assert(sizeof(POINTL) == 8 && sizeof(SIZEL) == 8 && sizeof(RECTL) == 16);

struct FILETIME {
    DWORD dwLowDateTime;
    DWORD dwHighDateTime;
};

struct SYSTEMTIME {
    WORD wYear;
    WORD wMonth;
    WORD wDayOfWeek;
    WORD wDay;
    WORD wHour;
    WORD wMinute;
    WORD wSecond;
    WORD wMilliseconds;
};
static_assert(sizeof(SYSTEMTIME) == 16);

// A 32-bit handle to an engine object. Engine handles that sit inside
// fixed-size records (DEVINFO's default palette) keep the record's size.
template <class Tag>
struct EngineHandle {
    std::uint32_t value;  // 0: no object (trivial, so records holding handles stay plain data)
    explicit operator bool() const { return value != 0; }
    friend bool operator==(EngineHandle, EngineHandle) = default;
};
using HPALETTE = EngineHandle<struct PaletteHandleTag>;
using HSURF = EngineHandle<struct SurfaceHandleTag>;
using HBITMAP = EngineHandle<struct BitmapHandleTag>;
static_assert(sizeof(HPALETTE) == 4 && sizeof(HSURF) == 4 && sizeof(HBITMAP) == 4);

// Last-error codes the system sets or tests.
inline constexpr DWORD ERROR_SUCCESS = 0;
inline constexpr DWORD ERROR_INVALID_FUNCTION = 1;
inline constexpr DWORD ERROR_FILE_NOT_FOUND = 2;
inline constexpr DWORD ERROR_PATH_NOT_FOUND = 3;
inline constexpr DWORD ERROR_TOO_MANY_OPEN_FILES = 4;
inline constexpr DWORD ERROR_ACCESS_DENIED = 5;
inline constexpr DWORD ERROR_INVALID_HANDLE = 6;
inline constexpr DWORD ERROR_NOT_ENOUGH_MEMORY = 8;
inline constexpr DWORD ERROR_BAD_FORMAT = 11;
inline constexpr DWORD ERROR_INVALID_DATA = 13;
inline constexpr DWORD ERROR_OUTOFMEMORY = 14;
inline constexpr DWORD ERROR_NOT_SAME_DEVICE = 17;
inline constexpr DWORD ERROR_WRITE_FAULT = 29;
inline constexpr DWORD ERROR_READ_FAULT = 30;
inline constexpr DWORD ERROR_GEN_FAILURE = 31;
inline constexpr DWORD ERROR_SHARING_VIOLATION = 32;
inline constexpr DWORD ERROR_HANDLE_EOF = 38;
inline constexpr DWORD ERROR_NOT_SUPPORTED = 50;
inline constexpr DWORD ERROR_FILE_EXISTS = 80;
inline constexpr DWORD ERROR_INVALID_PARAMETER = 87;
inline constexpr DWORD ERROR_BROKEN_PIPE = 109;
inline constexpr DWORD ERROR_DISK_FULL = 112;
inline constexpr DWORD ERROR_BAD_DRIVER_LEVEL = 119;
inline constexpr DWORD ERROR_INSUFFICIENT_BUFFER = 122;
inline constexpr DWORD ERROR_INVALID_NAME = 123;
inline constexpr DWORD ERROR_INVALID_LEVEL = 124;
inline constexpr DWORD ERROR_MOD_NOT_FOUND = 126;
inline constexpr DWORD ERROR_PROC_NOT_FOUND = 127;
inline constexpr DWORD ERROR_NEGATIVE_SEEK = 131;
inline constexpr DWORD ERROR_DIR_NOT_EMPTY = 145;
inline constexpr DWORD ERROR_ALREADY_EXISTS = 183;
inline constexpr DWORD ERROR_FILENAME_EXCED_RANGE = 206;
inline constexpr DWORD ERROR_MORE_DATA = 234;
inline constexpr DWORD ERROR_NO_MORE_ITEMS = 259;
inline constexpr DWORD ERROR_INVALID_ADDRESS = 487;
inline constexpr DWORD ERROR_INVALID_FLAGS = 1004;
inline constexpr DWORD ERROR_KEY_DELETED = 1018;
inline constexpr DWORD ERROR_NO_UNICODE_TRANSLATION = 1113;
inline constexpr DWORD ERROR_MAPPED_ALIGNMENT = 1132;
inline constexpr DWORD ERROR_RESOURCE_NAME_NOT_FOUND = 1814;
inline constexpr DWORD ERROR_INVALID_PRINTER_NAME = 1801;
inline constexpr DWORD ERROR_SPL_NO_STARTDOC = 3004;
inline constexpr DWORD ERROR_UNKNOWN_PRINTER_DRIVER = 1797;

// Symbols that other modules reach by name (exports of the libraries and
// of the platform) keep default visibility; everything else is hidden.
#define QLPR_EXPORT __attribute__((visibility("default")))
#define WINAPI
