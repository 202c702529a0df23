// The printer's settings block "PrinterData" (26,102 bytes), kept in the
// printer's registry data and sent whole to the command library.
#pragma once

#include <cstddef>

#include "host/winddi.h"
#include "platform/types.h"

inline constexpr DWORD kPrinterDataSize = 26102;
inline constexpr int kModelPaperSlots = 10;
inline constexpr int kControlStringCount = 96;  // characters 0x20 to 0x7F
inline constexpr int kControlStringSize = 257;

// flags
inline constexpr DWORD kFlagNoJournal = 0x1;
inline constexpr DWORD kFlagWholePageBand = 0x2;
inline constexpr DWORD kFlagBandInUserMemory = 0x4;
inline constexpr DWORD kFlagColourAllowed = 0x8;
inline constexpr DWORD kFlagDualSideAllowed = 0x10;

// Log modes
inline constexpr WORD kLogOrdinary = 0;
inline constexpr WORD kLogDetail = 1;
inline constexpr WORD kLogNone = 2;

#pragma pack(push, 1)

// A model-defined paper: the 66 bytes of its compiled paper entry, then 1.
struct ModelPaperSlot {
    BYTE entry[66];
    DWORD one;
};
static_assert(sizeof(ModelPaperSlot) == 70);

struct PrinterData {
    DWORD size;
    DWORD one;
    DWORD version;  // 0x100
    DWORD configVersion;
    DWORD flags;
    WORD reserved20;
    SHORT driver0;
    SHORT driver2;
    WORD reserved26;
    LONG customWidthMin;
    LONG customLengthMin;
    LONG customWidthMax;
    LONG customLengthMax;
    SHORT device2;
    WORD reserved46;
    LONG margins[4];
    BYTE reserved64[8];
    DWORD constants[3];  // 2, 5, 0
    COLORINFO colourInfo;
    ModelPaperSlot modelPapers[kModelPaperSlots];
    WORD logMode;
    WORD logGenerations;
    WORD fontSizeMode;
    WCHAR logFolder[260];
    char controlStrings[kControlStringCount][kControlStringSize];
};
#pragma pack(pop)
static_assert(sizeof(PrinterData) == kPrinterDataSize);
static_assert(offsetof(PrinterData, flags) == 16);
static_assert(offsetof(PrinterData, driver0) == 22);
static_assert(offsetof(PrinterData, customWidthMin) == 28);
static_assert(offsetof(PrinterData, device2) == 44);
static_assert(offsetof(PrinterData, margins) == 48);
static_assert(offsetof(PrinterData, constants) == 72);
static_assert(offsetof(PrinterData, colourInfo) == 84);
static_assert(offsetof(PrinterData, modelPapers) == 204);
static_assert(offsetof(PrinterData, logMode) == 904);
static_assert(offsetof(PrinterData, fontSizeMode) == 908);
static_assert(offsetof(PrinterData, logFolder) == 910);
static_assert(offsetof(PrinterData, controlStrings) == 1430);
