#include "driver/band_layout.h"

#include <algorithm>
#include <cstdint>

namespace {

using i64 = std::int64_t;

i64 Floor8(i64 value) {
    return value & ~i64{7};
}

bool Vertical(WORD direction) {
    return direction == kStripsRight || direction == kStripsLeft;
}

}  // namespace

LONG BandStride(WORD bitsPerPixel, LONG width) {
    const i64 stride = ((i64{bitsPerPixel} * width + 31) / 32) * 4;
    return static_cast<LONG>(std::clamp<i64>(stride, 0, INT32_MAX));
}

SIZEL BandBitmapSize(WORD direction, WORD bitsPerPixel, SIZEL page, DWORD budget) {
    if (page.cx <= 0 || page.cy <= 0 || bitsPerPixel == 0) return {0, 0};
    if (Vertical(direction)) {
        const i64 words = (i64{budget} / page.cy) / 4;
        const i64 width = std::min<i64>(Floor8(words * 32 / bitsPerPixel), page.cx);
        return {static_cast<LONG>(width), page.cy};
    }
    const i64 stride = BandStride(bitsPerPixel, page.cx);
    if (stride <= 0) return {0, 0};
    const i64 height = std::min<i64>(Floor8(i64{budget} / stride), page.cy);
    return {page.cx, static_cast<LONG>(height)};
}

RECTL FirstBand(WORD direction, POINTL origin, SIZEL bitmap, SIZEL page) {
    const i64 ox = origin.x, oy = origin.y;
    const i64 bw = bitmap.cx, bh = bitmap.cy;
    const i64 w = page.cx, h = page.cy;
    i64 left, top, right, bottom;
    if (direction == kStripsLeft || direction == kBandsUp) {
        right = w - ox;
        bottom = h - oy;
        left = std::max(right - bw, -ox);
        top = std::max(bottom - bh, -oy);
    } else {
        left = -ox;
        top = -oy;
        right = std::min(bw - ox, w - ox);
        bottom = std::min(bh - oy, h - oy);
    }
    return {static_cast<LONG>(left), static_cast<LONG>(top), static_cast<LONG>(right),
            static_cast<LONG>(bottom)};
}

bool AdvanceBand(WORD direction, POINTL origin, SIZEL bitmap, SIZEL page, RECTL* band) {
    const i64 ox = origin.x, oy = origin.y;
    switch (direction) {
        case kStripsRight: {
            const i64 end = i64{page.cx} - ox;
            band->left = band->right;
            band->right = static_cast<LONG>(std::min<i64>(i64{band->right} + bitmap.cx, end));
            return band->left >= end;
        }
        case kStripsLeft: {
            band->right = band->left;
            band->left = static_cast<LONG>(std::max<i64>(i64{band->left} - bitmap.cx, -ox));
            return band->right <= -ox;
        }
        case kBandsUp: {
            band->bottom = band->top;
            band->top = static_cast<LONG>(std::max<i64>(i64{band->top} - bitmap.cy, -oy));
            return band->bottom <= -oy;
        }
        default: {
            const i64 end = i64{page.cy} - oy;
            band->top = band->bottom;
            band->bottom = static_cast<LONG>(std::min<i64>(i64{band->bottom} + bitmap.cy, end));
            return band->top >= end;
        }
    }
}
