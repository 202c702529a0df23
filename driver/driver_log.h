// The driver log: one plain-text file in the log folder of the settings
// block, one line per call, governed by the block's log mode.
#pragma once

#include "driver/devmode_private.h"
#include "driver/printer_data.h"
#include "platform/types.h"

inline constexpr int kLogLevelOrdinary = 0;
inline constexpr int kLogLevelDetail = 1;
inline constexpr std::size_t kLogMessageMax = 1024;

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
