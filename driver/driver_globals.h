// The driver library's process-wide state: its module handle, its two locks
// and the four shared glyph-set slots.
#pragma once

#include "host/winddi.h"
#include "platform/sync.h"
#include "platform/types.h"

inline constexpr int kGlyphSetSlots = 4;
inline constexpr int kGlyphSetSingleByte = 0;
// Expanded from the library's resource on first request.
inline constexpr int kGlyphSetShiftJis = 1;

struct DriverGlobals {
    HMODULE module = nullptr;
    CRITICAL_SECTION driverInfoLock;
    CRITICAL_SECTION glyphSetLock;
    bool locksReady = false;
    FD_GLYPHSET* glyphSets[kGlyphSetSlots] = {};
};

DriverGlobals& Driver();
