// Barcode types of the barcode and two-dimensional code fonts: the
// symbology code the barcode library is asked for, the sample string that
// measures a font, and the library request built from a font's settings.
#pragma once

#include "barcode/barcode_request.h"
#include "records/devmode_private.h"
#include "platform/types.h"

struct DeviceInstance;

inline constexpr WORD kBarcodeType2D = 10;

struct BarcodeType {
    DWORD symbology;     // 0: none
    const char* sample;  // "": none
};

// Types above the table's last have no symbology and no sample.
const BarcodeType& BarcodeTypeOf(WORD type);

// The library request for a font's settings and data (cut to 256 bytes).
// `fontSizeMode` is the settings block's (1 or 2); `paperWidth` the device
// mode's paper width in 0.1 mm.
void BuildBarcodeRequest(const BarcodeSettings& settings, WORD fontSizeMode, SHORT paperWidth,
                         const BYTE* data, DWORD length, BarcodeRequest* request);

// The height in pixels of the type's sample string as the library draws it
// with these settings; -1 when the type has no sample or the library fails.
LONG MeasureBarcodeSample(const DeviceInstance& instance, const BarcodeSettings& settings);
