#include "render/barcode_types.h"

#include <cstring>

#include "driver/device_instance.h"

namespace {

// By type number: symbology code and a valid example of that symbology.
constexpr BarcodeType kBarcodeTypes[] = {
    {1, "012345678905"},    // 0 UPC-A
    {2, "012345000065"},    // 1 UPC-E, in its 12-digit UPC-A form
    {3, "4912345678904"},   // 2 EAN-13
    {4, "49123456"},        // 3 EAN-8
    {5, "ABC12"},           // 4 Code 39
    {6, "1234567890"},      // 5 Interleaved 2 of 5
    {7, "A123456A"},        // 6 Codabar
    {8, "ABC12"},           // 7 Code 93
    {9, "[A[1AB[Bab"},      // 8 Code 128
    {0, ""},                // 9
    {256, "0123456789"},    // 10 two-dimensional code
    {0, ""},                // 11
    {0, ""},                // 12
};
constexpr BarcodeType kNoBarcode = {0, ""};
constexpr SHORT kPaperWidth80mm = 800;

}  // namespace

const BarcodeType& BarcodeTypeOf(WORD type) {
    return type < std::size(kBarcodeTypes) ? kBarcodeTypes[type] : kNoBarcode;
}

void BuildBarcodeRequest(const BarcodeSettings& settings, WORD fontSizeMode, SHORT paperWidth,
                         const BYTE* data, DWORD length, BarcodeRequest* request) {
    std::memset(request, 0, sizeof *request);
    request->symbology = BarcodeTypeOf(settings.type).symbology;
    request->parameter1 = static_cast<DWORD>(static_cast<LONG>(settings.parameter1));
    if (settings.type == kBarcodeType2D) {
        request->variant2d = 257 + (paperWidth != kPaperWidth80mm ? 1 : 0) +
                             (settings.parameter2 == 2 ? 256 : 0);
    } else {
        request->parameter2 = static_cast<DWORD>(static_cast<LONG>(settings.parameter2));
        bool mode1 = fontSizeMode == 1;
        request->parameter4 = settings.parameter4 == 1 ? (mode1 ? 3 : 4) : (mode1 ? 1 : 2);
        request->parameter3 = settings.parameter3 >= 1 && settings.parameter3 <= 3 ? settings.parameter3 : 0;
    }
    request->imageFlag = (settings.flags >> 1) & 1;
    if (length > kBarcodeDataMax) length = kBarcodeDataMax;
    if (data != nullptr && length > 0) std::memcpy(request->data, data, length);
    request->dataLength = data != nullptr ? length : 0;
}

LONG MeasureBarcodeSample(const DeviceInstance& instance, const BarcodeSettings& settings) {
    const char* sample = BarcodeTypeOf(settings.type).sample;
    if (sample[0] == '\0' || instance.barcodeLib.barcodeBlock == nullptr) return -1;
    BarcodeRequest request;
    BuildBarcodeRequest(settings, instance.printerData.fontSizeMode, instance.devmode.pub.dmPaperWidth,
                        reinterpret_cast<const BYTE*>(sample), static_cast<DWORD>(std::strlen(sample)),
                        &request);
    BarcodeSizeReply size{};
    if (instance.barcodeLib.barcodeBlock(&request, &size, nullptr) != 1) return -1;
    return static_cast<LONG>(size.height);
}
