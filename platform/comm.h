// Communication timeouts of a serial port ("\\.\NAME" device handles), in
// milliseconds. A port starts with all five at 0.
//
// Read (n bytes asked):
// - interval MAXDWORD, both totals 0: returns at once with what is there;
// - interval MAXDWORD, multiplier MAXDWORD, constant between 1 and
//   MAXDWORD - 1: returns as soon as at least one byte is there, or after
//   `constant` ms with none;
// - otherwise the read ends when n bytes are there, when the total time
//   multiplier * n + constant has passed (when either is non-zero), or when
//   `interval` ms pass between two bytes after the first (when interval is
//   neither 0 nor MAXDWORD).
// Write: gives up after multiplier * n + constant ms (when either is non-zero)
// with the bytes written so far; a timed-out operation still succeeds, with
// the shorter count.
#pragma once

#include "platform/types.h"

inline constexpr DWORD MAXDWORD = 0xFFFFFFFF;

struct COMMTIMEOUTS {
    DWORD ReadIntervalTimeout;
    DWORD ReadTotalTimeoutMultiplier;
    DWORD ReadTotalTimeoutConstant;
    DWORD WriteTotalTimeoutMultiplier;
    DWORD WriteTotalTimeoutConstant;
};

extern "C" {
// FALSE with ERROR_INVALID_HANDLE for a handle that is not a serial port.
// New timeouts apply to operations that start afterwards.
QLPR_EXPORT BOOL WINAPI GetCommTimeouts(HANDLE file, COMMTIMEOUTS* timeouts);
QLPR_EXPORT BOOL WINAPI SetCommTimeouts(HANDLE file, const COMMTIMEOUTS* timeouts);
}
