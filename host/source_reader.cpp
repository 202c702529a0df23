// Sources of the drawing services read as COLOURs (see drawing.h).

#include <algorithm>

#include "host/drawing.h"
#include "host/rle.h"
#include "host/surface_format.h"

namespace host {

namespace {

ULONG Grey(ULONG level) {
    return level | (level << 8) | (level << 16);
}

ULONG FromFiveFiveFive(ULONG value) {
    auto widen = [](ULONG five) { return (five << 3) | (five >> 2); };
    return widen((value >> 10) & 0x1F) | (widen((value >> 5) & 0x1F) << 8) |
           (widen(value & 0x1F) << 16);
}

ULONG Translate(XLATEOBJ* xlate, ULONG value) {
    return XLATEOBJ_iXlate(xlate, value) & 0xFFFFFF;
}

}  // namespace

bool SourceReader::Open(SURFOBJ* source, XLATEOBJ* xlate) {
    if (source == nullptr || source->pvScan0 == nullptr) return false;
    format_ = source->iBitmapFormat;
    width_ = source->sizlBitmap.cx;
    height_ = source->sizlBitmap.cy;
    surface_ = source;
    xlate_ = xlate;
    if (IsRunLength(format_)) {
        if (width_ <= 0 || height_ <= 0 || source->pvBits == nullptr) return false;
        if (static_cast<std::uint64_t>(width_) * static_cast<std::uint64_t>(height_) >
            (std::uint64_t{256} << 20))
            return false;
        if (!UnpackRle(format_, static_cast<const BYTE*>(source->pvBits), source->cjBits, width_,
                       height_, &unpacked_))
            return false;
        // Run-length data runs bottom-up unless the surface says otherwise.
        if ((source->fjBitmap & BMF_TOPDOWN) == 0) {
            for (LONG top = 0, bottom = height_ - 1; top < bottom; ++top, --bottom)
                std::swap_ranges(unpacked_.begin() + std::int64_t{top} * width_,
                                 unpacked_.begin() + std::int64_t{top + 1} * width_,
                                 unpacked_.begin() + std::int64_t{bottom} * width_);
        }
    } else if (!UsableBitmap(source) || !ScanLinesInsideBits(source)) {
        return false;
    }

    const ULONG bits = format_ == BMF_4RLE ? 4 : format_ == BMF_8RLE ? 8 : BitsPerPixel(format_);
    if (bits <= 8) {
        const ULONG entries = 1u << bits;
        for (ULONG i = 0; i < entries; ++i) {
            if (xlate != nullptr)
                table_[i] = Translate(xlate, i);
            else
                table_[i] = bits == 1 ? Grey(i * 255) : Grey(i * 255 / (entries - 1));
        }
    }
    // Whether 24- and 32-bit pixels need the translation object at all is
    // told by how it translates the three primaries, as the driver decides.
    direct_ = Direct::kRedFirst;
    if ((bits == 24 || bits == 32) && xlate != nullptr && (xlate->flXlate & XO_TRIVIAL) == 0) {
        const ULONG red = Translate(xlate, 0x0000FF);
        const ULONG green = Translate(xlate, 0x00FF00);
        const ULONG blue = Translate(xlate, 0xFF0000);
        if (red == 0x0000FF && green == 0x00FF00 && blue == 0xFF0000)
            direct_ = Direct::kRedFirst;
        else if (red == 0xFF0000 && green == 0x00FF00 && blue == 0x0000FF)
            direct_ = Direct::kBlueFirst;
        else
            direct_ = Direct::kEachPixel;
    }
    return true;
}

const BYTE* SourceReader::RowBits(LONG y) const {
    return ScanLine(surface_, y);
}

void SourceReader::ReadRow(LONG y, const LONG* columns, std::size_t count, ULONG* colours,
                           BYTE* alpha) const {
    if (alpha != nullptr && format_ != BMF_32BPP)
        for (std::size_t i = 0; i < count; ++i) alpha[i] = 255;
    if (IsRunLength(format_)) {
        const BYTE* row = unpacked_.data() + static_cast<std::size_t>(y) * width_;
        for (std::size_t i = 0; i < count; ++i) colours[i] = table_[row[columns[i]]];
        return;
    }
    const BYTE* row = ScanLine(surface_, y);
    switch (format_) {
        case BMF_1BPP:
            for (std::size_t i = 0; i < count; ++i) {
                const LONG x = columns[i];
                colours[i] = table_[(row[x >> 3] >> (7 - (x & 7))) & 1];
            }
            break;
        case BMF_4BPP:
            for (std::size_t i = 0; i < count; ++i) {
                const LONG x = columns[i];
                colours[i] = table_[(x & 1) == 0 ? row[x >> 1] >> 4 : row[x >> 1] & 0x0F];
            }
            break;
        case BMF_8BPP:
            for (std::size_t i = 0; i < count; ++i) colours[i] = table_[row[columns[i]]];
            break;
        case BMF_16BPP:
            for (std::size_t i = 0; i < count; ++i) {
                const BYTE* pixel = row + std::int64_t{columns[i]} * 2;
                const ULONG value = pixel[0] | (ULONG{pixel[1]} << 8);
                colours[i] =
                    xlate_ != nullptr ? Translate(xlate_, value) : FromFiveFiveFive(value & 0x7FFF);
            }
            break;
        default: {  // 24 and 32 bits
            const std::int64_t step = format_ == BMF_24BPP ? 3 : 4;
            for (std::size_t i = 0; i < count; ++i) {
                const BYTE* pixel = row + columns[i] * step;
                const ULONG value = pixel[0] | (ULONG{pixel[1]} << 8) | (ULONG{pixel[2]} << 16);
                switch (direct_) {
                    case Direct::kRedFirst:
                        colours[i] = value;
                        break;
                    case Direct::kBlueFirst:
                        colours[i] = pixel[2] | (ULONG{pixel[1]} << 8) | (ULONG{pixel[0]} << 16);
                        break;
                    case Direct::kEachPixel:
                        colours[i] = Translate(xlate_, value);
                        break;
                }
                if (alpha != nullptr && step == 4) alpha[i] = pixel[3];
            }
            break;
        }
    }
}

}  // namespace host
