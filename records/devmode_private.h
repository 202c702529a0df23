// The driver's device mode: the platform's 220-byte public part followed by
// the driver's 2,002-byte private part. Both libraries receive all 2,222
// bytes, so the layout is a format.
#pragma once

#include <cstddef>

#include "platform/devmode.h"
#include "platform/types.h"

inline constexpr DWORD kPrivateSignature = 0xABCDABCD;
inline constexpr WORD kPrivateDevmodeSize = 2002;
inline constexpr std::size_t kFullDevmodeSize = 2222;

// optionFlags
inline constexpr DWORD kOptionJournal = 0x10;
inline constexpr DWORD kOptionBgrOrBitmapOutput = 0x20;
inline constexpr DWORD kOptionInvertBitmap = 0x40;
// The driver's own raster engine draws the page instead of the platform engine.
inline constexpr DWORD kOptionOwnRendering = 0x8000;
inline constexpr DWORD kDefaultOptionFlags = 0x18;

// layoutFlags
inline constexpr DWORD kLayoutCustomOutOfRange = 0x10;
inline constexpr DWORD kLayoutFitToSheet = 0x20;
inline constexpr DWORD kLayoutFitToSheet2 = 0x20000;
inline constexpr DWORD kLayoutBackgroundImage = 0x800;
inline constexpr DWORD kLayoutReverseOrder = 0x1000;
inline constexpr DWORD kLayoutScaleToCommand = 0x80000;
inline constexpr DWORD kLayoutFixedZoom = 0x2000000;
inline constexpr DWORD kLayoutRotated = 0x4000000;
inline constexpr DWORD kLayoutSystemColourMatching = 0x8000000;

// deviceFlags
inline constexpr DWORD kDeviceReversed2Up = 0x2000;
inline constexpr DWORD kDeviceReverseShift = 0x40000;
inline constexpr DWORD kDeviceFonts = 0x4000000;

#pragma pack(push, 1)

// Width, length and margins in 0.1 mm; printable size in pixels; pads in dots.
struct PaperRecord {
    LONG width;
    LONG length;
    LONG marginLeft;
    LONG marginTop;
    LONG marginRight;
    LONG marginBottom;
    LONG printableWidth;
    LONG printableHeight;
    LONG leftPad;
    LONG rightPad;
};
static_assert(sizeof(PaperRecord) == 40);

// Settings of one barcode or two-dimensional code font (23 words).
struct BarcodeSettings {
    char name[32];
    WORD type;
    BYTE flags;
    BYTE reserved35;
    WORD rotation;
    SHORT parameter1;
    SHORT parameter2;
    WORD parameter3;
    WORD parameter4;
};
static_assert(sizeof(BarcodeSettings) == 46);
static_assert(offsetof(BarcodeSettings, type) == 32);
static_assert(offsetof(BarcodeSettings, parameter4) == 44);

struct PrivateDevmode {
    DWORD reserved0;
    DWORD signature;
    DWORD optionFlags;
    DWORD layoutFlags;
    WORD pagesPerSheet;
    WORD pageOrder;
    WORD zoom;
    WORD sheetPaperCode;
    BYTE reserved24[6];
    WORD imagePosition;
    WORD imagePercent;
    WORD reserved34;
    WCHAR imagePath[260];
    BYTE reserved556[4];
    PaperRecord sheetPaper;
    PaperRecord pagePaper;
    WORD colourMode;
    BYTE reserved642[6];
    BarcodeSettings barcodes[8];
    BarcodeSettings codes2d[8];
    DWORD deviceFlags;
    BYTE reserved1388[8];
    SHORT shiftX;
    SHORT shiftY;
    WORD dualSide;
    SHORT rotation;
    BYTE reserved1404[6];
    WORD drawer1Mask;
    WORD reserved1412;
    WORD drawer2Mask;
    BYTE reserved1416[6];
    BYTE cutMask;
    BYTE feedMask;
    BYTE customCutMask;
    BYTE customFeedMask;
    WORD feedLengths[4];  // events 1, 2, 4, 8, in 0.1 mm
    WORD userCommandMask;
    char userCommands[4][130];  // events 1, 8, 2, 4
    WORD blankSkipping;
    WORD storedImage[12];
    BYTE reserved1982[4];
    WORD device0;
    BYTE reserved1988[10];
    SHORT customWidth;
    SHORT customLength;
};
static_assert(sizeof(PrivateDevmode) == kPrivateDevmodeSize);
static_assert(offsetof(PrivateDevmode, signature) == 4);
static_assert(offsetof(PrivateDevmode, pagesPerSheet) == 16);
static_assert(offsetof(PrivateDevmode, sheetPaperCode) == 22);
static_assert(offsetof(PrivateDevmode, imagePosition) == 30);
static_assert(offsetof(PrivateDevmode, imagePath) == 36);
static_assert(offsetof(PrivateDevmode, sheetPaper) == 560);
static_assert(offsetof(PrivateDevmode, pagePaper) == 600);
static_assert(offsetof(PrivateDevmode, colourMode) == 640);
static_assert(offsetof(PrivateDevmode, barcodes) == 648);
static_assert(offsetof(PrivateDevmode, codes2d) == 1016);
static_assert(offsetof(PrivateDevmode, deviceFlags) == 1384);
static_assert(offsetof(PrivateDevmode, shiftX) == 1396);
static_assert(offsetof(PrivateDevmode, dualSide) == 1400);
static_assert(offsetof(PrivateDevmode, rotation) == 1402);
static_assert(offsetof(PrivateDevmode, drawer1Mask) == 1410);
static_assert(offsetof(PrivateDevmode, drawer2Mask) == 1414);
static_assert(offsetof(PrivateDevmode, cutMask) == 1422);
static_assert(offsetof(PrivateDevmode, customCutMask) == 1424);
static_assert(offsetof(PrivateDevmode, feedLengths) == 1426);
static_assert(offsetof(PrivateDevmode, userCommandMask) == 1434);
static_assert(offsetof(PrivateDevmode, userCommands) == 1436);
static_assert(offsetof(PrivateDevmode, blankSkipping) == 1956);
static_assert(offsetof(PrivateDevmode, storedImage) == 1958);
static_assert(offsetof(PrivateDevmode, device0) == 1986);
static_assert(offsetof(PrivateDevmode, customWidth) == 1998);

// The full device mode as the driver keeps it.
struct Devmode {
    DEVMODEW pub;
    PrivateDevmode priv;
};
static_assert(sizeof(Devmode) == kFullDevmodeSize);

#pragma pack(pop)
