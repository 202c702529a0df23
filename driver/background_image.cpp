#include "driver/background_image.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "driver/band_layout.h"
#include "driver/device_instance.h"
#include "host/engine.h"
#include "platform/files.h"
#include "platform/last_error.h"
#include "platform/wide.h"

namespace {

using i64 = std::int64_t;

DWORD ReadU32(const BYTE* p) {
    return DWORD{p[0]} | DWORD{p[1]} << 8 | DWORD{p[2]} << 16 | DWORD{p[3]} << 24;
}
WORD ReadU16(const BYTE* p) {
    return static_cast<WORD>(p[0] | p[1] << 8);
}
LONG ReadI32(const BYTE* p) {
    return static_cast<LONG>(ReadU32(p));
}

constexpr std::size_t kFileHeaderBytes = 14;
constexpr std::size_t kInfoHeaderMinBytes = 40;
constexpr DWORD kBiRgb = 0;
constexpr DWORD kBiBitFields = 3;
// Bit-field masks follow the first 40 bytes of the information header.
constexpr std::size_t kBitFieldMasksBytes = 12;

// Where red, green and blue sit in a direct-colour pixel.
struct ChannelMasks {
    DWORD red, green, blue;
};
constexpr ChannelMasks kMasks888{0x00FF0000, 0x0000FF00, 0x000000FF};
// The bit-field layouts drawn; any other masks draw nothing.
constexpr struct {
    WORD bits;
    ChannelMasks masks;
} kBitFieldLayouts[] = {
    {32, kMasks888},
    {16, {0x7C00, 0x03E0, 0x001F}},  // 5-5-5
    {16, {0xF800, 0x07E0, 0x001F}},  // 5-6-5
};

// One channel of a bit-field pixel: its shift and its values widened to 8 bits.
struct Channel {
    int shift = 0;
    DWORD max = 0;
    BYTE level[256] = {};
};

Channel ChannelOf(DWORD mask) {
    Channel c;
    while (((mask >> c.shift) & 1) == 0) ++c.shift;
    c.max = mask >> c.shift;  // at most 255 for the layouts drawn
    for (DWORD v = 0; v <= c.max; ++v)
        c.level[v] = static_cast<BYTE>((v * 255 + c.max / 2) / c.max);
    return c;
}

struct BitFieldPixels {
    explicit BitFieldPixels(const ChannelMasks& m)
        : red(ChannelOf(m.red)), green(ChannelOf(m.green)), blue(ChannelOf(m.blue)) {}
    BYTE operator()(const Channel& c, DWORD pixel) const {
        return c.level[(pixel >> c.shift) & c.max];
    }
    Channel red, green, blue;
};

// The masks of a bit-field file when they are those of a layout drawn for
// its depth and lie inside the file.
bool StandardBitFields(const BYTE* info, std::size_t infoBytesAvailable, WORD bits,
                       ChannelMasks* masks) {
    if (infoBytesAvailable < kInfoHeaderMinBytes + kBitFieldMasksBytes) return false;
    const ChannelMasks m{ReadU32(info + 40), ReadU32(info + 44), ReadU32(info + 48)};
    for (const auto& layout : kBitFieldLayouts) {
        if (layout.bits == bits && layout.masks.red == m.red && layout.masks.green == m.green &&
            layout.masks.blue == m.blue) {
            *masks = m;
            return true;
        }
    }
    return false;
}

bool ReadWholeFile(const WCHAR* path, std::vector<BYTE>* bytes) {
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD high = 0;
    const DWORD low = GetFileSize(file, &high);
    const std::uint64_t size = (std::uint64_t{high} << 32) | low;
    bool ok = !(low == INVALID_FILE_SIZE && GetLastError() != ERROR_SUCCESS) && size > 0 &&
              size <= kBackgroundMaxFileBytes;
    if (ok) {
        bytes->resize(static_cast<std::size_t>(size));
        DWORD read = 0;
        ok =
            ReadFile(file, bytes->data(), static_cast<DWORD>(size), &read, nullptr) && read == size;
    }
    CloseHandle(file);
    return ok;
}

}  // namespace

bool DecodeBackgroundImage(const BYTE* file, std::size_t size, BackgroundImage* image) {
    if (image == nullptr) return false;
    *image = {};
    if (file == nullptr || size < kFileHeaderBytes + kInfoHeaderMinBytes) return false;
    if (ReadU16(file) != 0x4D42) return false;  // "BM"
    const std::size_t offBits = ReadU32(file + 10);
    const BYTE* info = file + kFileHeaderBytes;
    const std::size_t infoSize = ReadU32(info);
    if (infoSize < kInfoHeaderMinBytes || infoSize > size - kFileHeaderBytes) return false;
    const LONG width = ReadI32(info + 4);
    const LONG rawHeight = ReadI32(info + 8);
    const WORD bits = ReadU16(info + 14);
    const DWORD compression = ReadU32(info + 16);
    const DWORD coloursUsed = ReadU32(info + 32);
    if (width <= 0 || rawHeight == 0 || rawHeight == INT32_MIN) return false;
    const bool bitFields = compression == kBiBitFields;
    ChannelMasks masks = kMasks888;
    if (bitFields) {
        if (!StandardBitFields(info, size - kFileHeaderBytes, bits, &masks)) return false;
    } else if (compression != kBiRgb ||
               (bits != 1 && bits != 4 && bits != 8 && bits != 24 && bits != 32)) {
        return false;
    }
    const bool topDown = rawHeight < 0;
    const i64 height = topDown ? -i64{rawHeight} : i64{rawHeight};
    if (i64{width} * height > static_cast<i64>(kBackgroundMaxPixels)) return false;

    // The colour table follows the information header.
    std::size_t colours = 0;
    const BYTE* table = info + infoSize;
    if (bits <= 8) {
        const std::size_t full = std::size_t{1} << bits;
        if (coloursUsed > full) return false;
        colours = coloursUsed != 0 ? coloursUsed : full;
        if (colours * 4 > size - kFileHeaderBytes - infoSize) return false;
    }
    const i64 rowBytes = ((i64{bits} * width + 31) / 32) * 4;
    if (offBits < kFileHeaderBytes + kInfoHeaderMinBytes || offBits >= size) return false;
    if (rowBytes * height > static_cast<i64>(size - offBits)) return false;

    image->width = width;
    image->height = static_cast<LONG>(height);
    image->stride = BandStride(24, width);
    image->pixels.assign(static_cast<std::size_t>(image->stride) * image->height, 0xFF);
    const BitFieldPixels fields(masks);
    for (i64 y = 0; y < height; ++y) {
        const i64 sourceRow = topDown ? y : height - 1 - y;
        const BYTE* row = file + offBits + sourceRow * rowBytes;
        BYTE* out = image->pixels.data() + y * image->stride;
        for (LONG x = 0; x < width; ++x, out += 3) {
            if (bitFields) {
                const BYTE* px = row + std::size_t(x) * (bits / 8);
                const DWORD v = bits == 16 ? ReadU16(px) : ReadU32(px);
                out[0] = fields(fields.red, v), out[1] = fields(fields.green, v),
                out[2] = fields(fields.blue, v);
                continue;
            }
            if (bits >= 24) {
                const BYTE* px = row + std::size_t(x) * (bits / 8);
                out[0] = px[2], out[1] = px[1], out[2] = px[0];
                continue;
            }
            std::size_t index;
            if (bits == 8)
                index = row[x];
            else if (bits == 4)
                index = (row[x >> 1] >> ((x & 1) ? 0 : 4)) & 0xF;
            else
                index = (row[x >> 3] >> (7 - (x & 7))) & 1;
            // An index past the table's entries is drawn black.
            if (index >= colours) {
                out[0] = out[1] = out[2] = 0;
                continue;
            }
            const BYTE* entry = table + index * 4;  // blue, green, red, reserved
            out[0] = entry[2], out[1] = entry[1], out[2] = entry[0];
        }
    }
    return true;
}

SIZEL BackgroundDrawnSize(bool landscape, SIZEL page, SIZEL image, WORD percent) {
    if (image.cx <= 0 || image.cy <= 0 || page.cx <= 0 || page.cy <= 0) return {0, 0};
    i64 width, height;
    if (landscape) {
        height = i64{page.cy} * percent / 100;
        width = i64{image.cx} * height / image.cy;
    } else {
        width = i64{page.cx} * percent / 100;
        height = i64{image.cy} * width / image.cx;
    }
    // Sides beyond this are far past any page; refusing them keeps the
    // arithmetic of placing and clipping inside 32 bits.
    constexpr i64 kLimit = i64{1} << 28;
    if (width <= 0 || height <= 0 || width > kLimit || height > kLimit) return {0, 0};
    return {static_cast<LONG>(width), static_cast<LONG>(height)};
}

std::vector<RECTL> BackgroundPlacements(WORD position, SIZEL page, SIZEL drawn) {
    std::vector<RECTL> placements;
    if (drawn.cx <= 0 || drawn.cy <= 0) return placements;
    if (position == kBackgroundTiled) {
        const i64 columns = (i64{page.cx} + drawn.cx - 1) / drawn.cx;
        const i64 rows = (i64{page.cy} + drawn.cy - 1) / drawn.cy;
        if (columns <= 0 || rows <= 0 || columns * rows > static_cast<i64>(kBackgroundMaxTiles))
            return placements;
        for (i64 row = 0; row < rows; ++row)
            for (i64 column = 0; column < columns; ++column) {
                const LONG x = static_cast<LONG>(column * drawn.cx);
                const LONG y = static_cast<LONG>(row * drawn.cy);
                placements.push_back({x, y, x + drawn.cx, y + drawn.cy});
            }
        return placements;
    }
    // Codes outside 1-10 have no place on the page: nothing is drawn.
    if (position < 1 || position > 9) return placements;
    const int column = (position - 1) % 3;  // left, centre, right
    const int row = (position - 1) / 3;     // top, middle, bottom
    const LONG x = column == 0 ? 0 : column == 1 ? (page.cx - drawn.cx) / 2 : page.cx - drawn.cx;
    const LONG y = row == 0 ? 0 : row == 1 ? (page.cy - drawn.cy) / 2 : page.cy - drawn.cy;
    placements.push_back({x, y, x + drawn.cx, y + drawn.cy});
    return placements;
}

bool ClipBackgroundToPage(const RECTL& dest, SIZEL page, SIZEL image, RECTL* clippedDest,
                          RECTL* source) {
    const i64 dw = i64{dest.right} - dest.left;
    const i64 dh = i64{dest.bottom} - dest.top;
    if (dw <= 0 || dh <= 0 || image.cx <= 0 || image.cy <= 0) return false;
    const RECTL clipped = IntersectRect(dest, RECTL{0, 0, page.cx, page.cy});
    if (RectIsEmpty(clipped)) return false;
    i64 left = (i64{clipped.left} - dest.left) * image.cx / dw;
    i64 top = (i64{clipped.top} - dest.top) * image.cy / dh;
    i64 right = ((i64{clipped.right} - dest.left) * image.cx + dw - 1) / dw;
    i64 bottom = ((i64{clipped.bottom} - dest.top) * image.cy + dh - 1) / dh;
    right = std::clamp<i64>(right, left + 1, image.cx);
    bottom = std::clamp<i64>(bottom, top + 1, image.cy);
    left = std::min<i64>(left, right - 1);
    top = std::min<i64>(top, bottom - 1);
    *clippedDest = clipped;
    *source = {static_cast<LONG>(left), static_cast<LONG>(top), static_cast<LONG>(right),
               static_cast<LONG>(bottom)};
    return true;
}

void DrawBackgroundImage(const DeviceInstance& instance, SURFOBJ* band) {
    const PrivateDevmode& priv = instance.devmode.priv;
    if ((priv.layoutFlags & kLayoutBackgroundImage) == 0 || priv.imagePercent == 0) return;
    if (band == nullptr) return;
    const std::size_t length = platform::WideLengthBounded(priv.imagePath, 260);
    if (length == 0 || length >= 260) return;  // no name, or one without its terminator
    std::vector<BYTE> file;
    if (!ReadWholeFile(priv.imagePath, &file)) return;
    BackgroundImage image;
    if (!DecodeBackgroundImage(file.data(), file.size(), &image)) return;
    file.clear();
    file.shrink_to_fit();

    const SIZEL page = instance.pageImageSize;
    const SIZEL imageSize{image.width, image.height};
    const bool landscape = instance.devmode.pub.dmOrientation == DMORIENT_LANDSCAPE;
    const SIZEL drawn = BackgroundDrawnSize(landscape, page, imageSize, priv.imagePercent);
    const std::vector<RECTL> placements = BackgroundPlacements(priv.imagePosition, page, drawn);
    if (placements.empty()) return;

    HBITMAP bitmap =
        EngCreateBitmap(imageSize, image.stride, BMF_24BPP, BMF_TOPDOWN, image.pixels.data());
    if (!bitmap) return;
    const HSURF surface{bitmap.value};
    SURFOBJ* source = EngLockSurface(surface);
    if (source != nullptr) {
        const ULONG mode = band->iBitmapFormat == BMF_1BPP ? HALFTONE : COLORONCOLOR;
        const RECTL bandOnPage = instance.band;
        for (const RECTL& placement : placements) {
            RECTL dest, sourceRect;
            if (!ClipBackgroundToPage(placement, page, imageSize, &dest, &sourceRect)) continue;
            if (RectIsEmpty(IntersectRect(dest, bandOnPage))) continue;
            RECTL target = OffsetRect(dest, -bandOnPage.left, -bandOnPage.top);
            EngStretchBlt(band, source, nullptr, nullptr, nullptr, nullptr, nullptr, &target,
                          &sourceRect, nullptr, mode);
        }
        EngUnlockSurface(source);
    }
    EngDeleteSurface(surface);
}
