// The request the graphics driver hands to the barcode library's BarcodeBlock,
// and the library's size reply. Both cross a library boundary: the layouts
// are formats.
#pragma once

#include <cstddef>

#include "platform/types.h"

inline constexpr DWORD kBarcodeDataMax = 256;

#pragma pack(push, 1)
struct BarcodeRequest {
    DWORD symbology;   // code of the barcode type table (1..9, 256)
    DWORD parameter1;
    DWORD parameter2;  // all types but the two-dimensional code
    DWORD variant2d;   // two-dimensional code only: 257, +1, +256
    DWORD imageFlag;   // flags bit 1 of the font's settings (0 or 1)
    DWORD parameter4;  // mapped with the font-size mode
    DWORD parameter3;  // mapped: 1, 2, 3 or 0
    BYTE data[kBarcodeDataMax];
    DWORD dataLength;  // at most 256
};
static_assert(sizeof(BarcodeRequest) == 288);
static_assert(offsetof(BarcodeRequest, data) == 28);
static_assert(offsetof(BarcodeRequest, dataLength) == 284);

struct BarcodeSizeReply {
    DWORD width;       // pixels
    DWORD height;      // pixels
    DWORD imageBytes;  // height rows of (width + 7) / 8 bytes
};
static_assert(sizeof(BarcodeSizeReply) == 12);
#pragma pack(pop)

// BarcodeBlock(request, size reply or null, image or null) -> 1 on success.
// With a size reply it measures; with an image buffer (of the reply's
// imageBytes at least) it draws: rows top-down, most significant bit
// leftmost, 1 for a bar.
using PFN_BarcodeBlock = WORD (*)(const BarcodeRequest* request, BarcodeSizeReply* size,
                                  BYTE* image);
