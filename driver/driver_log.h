// The driver log: one plain-text file in the log folder of the settings
// block, one line per call, governed by the block's log mode. A file that
// reaches 1 MiB is renamed to a time-stamped archive; the archives are kept
// in a list in the registry, newest first, and as many are kept as the
// block's log generations ask for.
#pragma once

#include "records/devmode_private.h"
#include "records/printer_data.h"
#include "platform/types.h"

inline constexpr int kLogLevelOrdinary = 0;
inline constexpr int kLogLevelDetail = 1;
inline constexpr std::size_t kLogMessageMax = 1024;
// The current log is archived once a line takes it to this size.
inline constexpr std::uint64_t kLogRotateSize = 0x100000;
// The archive list: slots of 32 wide characters (64 bytes), each one archive
// file name with its terminating zero; at most 32 slots are read or kept.
inline constexpr std::size_t kLogArchiveSlotChars = 32;
inline constexpr std::size_t kLogArchiveSlots = 32;

// Writes one line. With no settings block, the printer's stored block is
// read (no defaults); without one the call returns 0. Otherwise 1, also when
// nothing is written: logging never makes the caller's operation fail.
int DriverLog(HMODULE module, const PrinterData* settings, HANDLE printer, int level,
              const char* format, ...);

// Dumps a device mode as hexadecimal lines under a title. `devmode` points at
// dmSize + dmDriverExtra readable bytes; nothing is written without one.
void DumpDevmode(HMODULE module, const PrinterData* settings, HANDLE printer, int level,
                 const DEVMODEW* devmode, const char* title);

// "GI", or "UI" for the companion user-interface library (its file name is
// the four-character module prefix followed by "UI.DLL").
const char* LogTag(HMODULE module);

// For tests only: replaces the clock that stamps the lines and names the
// archives (null gives back the local time).
using DriverLogClock = void (*)(SYSTEMTIME* now);
void SetDriverLogClockForTesting(DriverLogClock clock);
