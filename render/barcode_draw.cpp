#include "render/barcode_draw.h"

#include <cstring>
#include <new>

#include "driver/band_range.h"
#include "driver/device_instance.h"
#include "driver/instance_log.h"
#include "host/engine.h"
#include "platform/rect.h"
#include "render/barcode_types.h"
#include "render/bitmap_blt.h"
#include "render/device_fonts.h"
#include "render/text_out.h"

namespace {

// BarcodeSettings::flags
constexpr BYTE kBarcodeHexData = 0x1;
constexpr BYTE kBarcodeAsImage = 0x2;

constexpr BYTE kRop3DestinationAndNotSource = 0x22;
// Rotated images larger than this on a side are refused.
constexpr LONG kLargestImageSide = 0x10000;

const BarcodeSettings* SettingsOf(const DeviceInstance& instance, WORD fontId) {
    const PrivateDevmode& priv = instance.devmode.priv;
    if (fontId >= kFontIdBarcodeFirst && fontId < kFontIdBarcodeFirst + 8)
        return &priv.barcodes[fontId - kFontIdBarcodeFirst];
    if (fontId >= kFontId2DFirst && fontId < kFontId2DFirst + 8)
        return &priv.codes2d[fontId - kFontId2DFirst];
    return nullptr;
}

BYTE HexValue(BYTE c) {
    if (c >= '0' && c <= '9') return static_cast<BYTE>(c - '0');
    if (c >= 'A' && c <= 'F') return static_cast<BYTE>(c - 'A' + 10);
    if (c >= 'a' && c <= 'f') return static_cast<BYTE>(c - 'a' + 10);
    return 0;
}

LONG RoundUp8(LONG value) {
    return (value + 7) / 8 * 8;
}

int Pixel(const BYTE* bits, LONG stride, LONG x, LONG y) {
    return (bits[static_cast<std::size_t>(y) * stride + (x >> 3)] >> (7 - (x & 7))) & 1;
}

void SetPixel(BYTE* bits, LONG stride, LONG x, LONG y, int value) {
    BYTE& byte = bits[static_cast<std::size_t>(y) * stride + (x >> 3)];
    const BYTE mask = static_cast<BYTE>(0x80 >> (x & 7));
    byte = static_cast<BYTE>(value != 0 ? byte | mask : byte & ~mask);
}

// Where pixel (x, y) of a width × height image goes in the turned image of
// `turnedWidth` × `turnedHeight`.
POINTL TurnedPosition(int rotation, LONG x, LONG y, LONG width, LONG height, LONG turnedWidth,
                      LONG turnedHeight) {
    switch (rotation) {
        case 90:
            return {turnedWidth - 1 - y, x};
        case 180:
            return {turnedWidth - 1 - x, height - 1 - y};
        default:
            (void)width;
            return {y, turnedHeight - 1 - x};
    }
}

bool PageRotated(const DeviceInstance& instance) {
    return (instance.devmode.priv.layoutFlags & kLayoutRotated) != 0;
}

// The placed rectangle moved onto the page lies within the page.
bool InsidePage(const DeviceInstance& instance, POINTL at, long long width, long long height) {
    const long long left = static_cast<long long>(at.x) + instance.band.left;
    const long long top = static_cast<long long>(at.y) + instance.band.top;
    const SIZEL page = instance.pageImageSize;
    return left >= 0 && top >= 0 && left + width <= page.cx && top + height <= page.cy;
}

struct PlacedBarcode {
    const BarcodeRequest& request;
    const BarcodeSizeReply& size;
    int rotation;
    RECTL rect;  // band coordinates
};

// The image path: the library draws the barcode, which is turned when asked
// and laid into the band: bars black, the rest of the band as it was.
void DrawBarcodeImage(DeviceInstance* instance, SURFOBJ* band, const PlacedBarcode& placed) {
    const LONG width = static_cast<LONG>(placed.size.width);
    const LONG height = static_cast<LONG>(placed.size.height);
    const LONG stride = (width + 7) / 8;
    const bool turned = placed.rotation == 90 || placed.rotation == 270;
    std::size_t bytes =
        turned ? static_cast<std::size_t>((height + 7) / 8) * stride * 8 : placed.size.imageBytes;
    // The library writes the image it announced: the buffer holds at least that.
    bytes = std::max({bytes, static_cast<std::size_t>(placed.size.imageBytes),
                      static_cast<std::size_t>(stride) * height});
    std::vector<BYTE> image(bytes, 0);
    const WORD second = instance->barcodeLib.barcodeBlock(&placed.request, nullptr, image.data());
    if (second != 1) {
        InstanceLog(*instance, kLogLevelOrdinary, " ERROR:BarcodeBlock() 2nd return:%d.\n", second);
        return;
    }
    BmpInfo bandInfo{};
    if (!ConvertSurfObjToBmpInfo(&bandInfo, band)) {
        InstanceLog(*instance, kLogLevelOrdinary, " ERROR:ConvertSurfObjToBmpInfo.\n");
        return;
    }
    RotatedImage picture;
    if (placed.rotation != 0) {
        if (!CreateRotatedImage(image.data(), width, height, stride, placed.rotation, &picture)) {
            InstanceLog(*instance, kLogLevelOrdinary, " ERROR:CreateRotatedImage.\n");
            return;
        }
    } else {
        picture.bits = std::move(image);
        picture.width = width;
        picture.height = height;
        picture.stride = stride;
        picture.used = {0, 0, width, height};
    }
    BmpInfo source{picture.width,    picture.height,      1,
                   kBmpUncompressed, picture.bits.data(), static_cast<ULONG>(picture.bits.size()),
                   picture.stride,   kBmpColourTable};
    ColourTable table;
    table.entries.reset(new (std::nothrow) ColourEntry[2]{{0, 0, 0, 0}, {0xFF, 0xFF, 0xFF, 0}});
    if (!table.entries) return;
    table.count = 2;
    const RECTL clip = IntersectRect(placed.rect, instance->bandClip);
    if (GR_BitmapBlt(bandInfo, source, placed.rect, picture.used, &table, nullptr,
                     kRop3DestinationAndNotSource, clip, nullptr, nullptr) < 0)
        InstanceLog(*instance, kLogLevelOrdinary, " ERROR:GR_BitmapBlt().\n");
}

}  // namespace

std::vector<BYTE> DecodeHexPairs(const BYTE* text, ULONG length) {
    std::vector<BYTE> bytes;
    if (text == nullptr) return bytes;
    bytes.reserve(length / 2);
    for (ULONG i = 0; i + 1 < length; i += 2)
        bytes.push_back(static_cast<BYTE>(HexValue(text[i]) << 4 | HexValue(text[i + 1])));
    return bytes;
}

bool CreateRotatedImage(const BYTE* image, LONG width, LONG height, LONG stride, int rotation,
                        RotatedImage* result) {
    if (image == nullptr || result == nullptr || width <= 0 || height <= 0 ||
        width > kLargestImageSide || height > kLargestImageSide || stride < (width + 7) / 8)
        return false;
    RotatedImage turned;
    switch (rotation) {
        case 90:
            turned.width = RoundUp8(height);
            turned.height = width;
            turned.used = {turned.width - height, 0, turned.width, turned.height};
            break;
        case 180:
            turned.width = RoundUp8(width);
            turned.height = height;
            turned.used = {turned.width - width, 0, turned.width, turned.height};
            break;
        case 270:
            turned.width = height;
            turned.height = RoundUp8(width);
            turned.used = {0, turned.height - width, turned.width, turned.height};
            break;
        default:
            return false;
    }
    turned.stride = (turned.width + 7) / 8;
    const std::size_t rows = static_cast<std::size_t>(turned.height + 7) / 8 * 8;
    turned.bits.assign(rows * turned.stride, 0);
    // Every pixel of the picture's rows starts as filler (1); the picture's
    // own pixels are then moved in.
    std::memset(turned.bits.data(), 0xFF, static_cast<std::size_t>(turned.height) * turned.stride);
    for (LONG y = 0; y < height; ++y) {
        for (LONG x = 0; x < width; ++x) {
            const POINTL to =
                TurnedPosition(rotation, x, y, width, height, turned.width, turned.height);
            SetPixel(turned.bits.data(), turned.stride, to.x, to.y, Pixel(image, stride, x, y));
        }
    }
    *result = std::move(turned);
    return true;
}

BOOL DrawBarcode(DeviceInstance* instance, SURFOBJ* band, const BYTE* text, ULONG length, POINTL at,
                 FONTOBJ* font, WORD fontId) {
    const BarcodeSettings* settings = SettingsOf(*instance, fontId);
    if (settings == nullptr) return TRUE;
    std::vector<BYTE> data = (settings->flags & kBarcodeHexData) != 0
                                 ? DecodeHexPairs(text, length)
                                 : std::vector<BYTE>(text, text + (text != nullptr ? length : 0));
    if (data.size() > kBarcodeDataMax) data.resize(kBarcodeDataMax);
    const bool asImage = PageRotated(*instance) || settings->rotation != 0 ||
                         (settings->flags & kBarcodeAsImage) != 0;

    BarcodeRequest request;
    BuildBarcodeRequest(*settings, instance->printerData.fontSizeMode,
                        instance->devmode.pub.dmPaperWidth, data.data(),
                        static_cast<DWORD>(data.size()), &request);
    BarcodeSizeReply size{};
    const PFN_BarcodeBlock barcodeBlock = instance->barcodeLib.barcodeBlock;
    const WORD first = barcodeBlock != nullptr ? barcodeBlock(&request, &size, nullptr) : 0;
    if (first != 1) {
        InstanceLog(*instance, kLogLevelOrdinary, " ERROR:BarcodeBlock() 1st return:%d.\n", first);
        return TRUE;
    }
    const int rotation = settings->rotation;
    const bool sideways = rotation == 90 || rotation == 270;
    const long long placedWidth = sideways ? size.height : size.width;
    const long long placedHeight = sideways ? size.width : size.height;
    if (!InsidePage(*instance, at, placedWidth, placedHeight)) {
        InstanceLog(*instance, kLogLevelOrdinary, " ERROR:Barcode is Out of Page Range.\n");
        return TRUE;
    }
    // Inside the page, so every side and corner fits 32 bits.
    const RECTL rect{at.x, at.y, static_cast<LONG>(at.x + placedWidth),
                     static_cast<LONG>(at.y + placedHeight)};
    const bool touchesBand = BandRangeCheck(instance, rect, nullptr);
    if (!asImage)
        return SaveString(instance, font, font != nullptr ? FONTOBJ_pifi(font) : nullptr, at,
                          {static_cast<LONG>(size.width), static_cast<LONG>(size.height)},
                          static_cast<ULONG>(data.size()), data.data(), fontId, false);
    // The image is asked for only where it lands: nothing of it lies in
    // another band.
    if (touchesBand && size.width > 0 && size.height > 0)
        DrawBarcodeImage(instance, band, {request, size, rotation, rect});
    return TRUE;
}
