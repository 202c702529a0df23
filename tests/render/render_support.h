// In-memory bitmaps, tables and translations for the engine tests.
#pragma once

#include <memory>
#include <vector>

#include "render/bitmap_blt.h"

namespace rendertest {

// A bitmap on its own bytes; the descriptor points into them, so the record
// is not copied.
struct Bitmap {
    std::vector<BYTE> bytes;
    BmpInfo info{};

    Bitmap(LONG width, LONG height, int depth, BYTE fill = 0, LONG stride = 0) {
        const LONG natural = static_cast<LONG>(((width * depth + 31) / 32) * 4);
        const LONG rowStride = stride != 0 ? stride : natural;
        bytes.assign(static_cast<std::size_t>(rowStride) * static_cast<std::size_t>(height), fill);
        info = {width,
                height,
                static_cast<USHORT>(depth),
                kBmpUncompressed,
                bytes.data(),
                static_cast<ULONG>(bytes.size()),
                rowStride,
                0};
    }
    Bitmap(const Bitmap&) = delete;
    Bitmap& operator=(const Bitmap&) = delete;

    BYTE* Row(LONG y) { return bytes.data() + static_cast<std::size_t>(y) * info.stride; }
    int Bit(LONG x, LONG y) { return (Row(y)[x >> 3] >> (7 - (x & 7))) & 1; }
};

// A translation whose table holds `colours` (0x00BBGGRR).
struct TableTranslation {
    std::vector<ULONG> colours;
    XLATEOBJ object{};

    explicit TableTranslation(std::vector<ULONG> table) : colours(std::move(table)) {
        object.flXlate = XO_TABLE;
        object.cEntries = static_cast<ULONG>(colours.size());
        object.pulXlate = colours.data();
    }
    TableTranslation(const TableTranslation&) = delete;
    TableTranslation& operator=(const TableTranslation&) = delete;
};

inline std::vector<ULONG> GreyRamp() {
    std::vector<ULONG> ramp(256);
    for (ULONG i = 0; i < 256; ++i) ramp[i] = i * 0x010101u;
    return ramp;
}

constexpr RECTL Rect(LONG left, LONG top, LONG right, LONG bottom) {
    return {left, top, right, bottom};
}

}  // namespace rendertest
