// The transfer of a source bitmap into the band: clipping, the column and
// row maps of stretching and mirroring, the conversion of every source format
// into the band's layout, and the combination with the band by raster
// operation or alpha blend.

#include "render/bitmap_blt.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "driver/band_layout.h"
#include "host/engine.h"
#include "render/raster_ops.h"

namespace {

enum class Mode { Colour, Grey, Mono };

bool ModeOf(int depth, Mode* mode) {
    switch (depth) {
        case 24:
            *mode = Mode::Colour;
            return true;
        case 8:
            *mode = Mode::Grey;
            return true;
        case 1:
            *mode = Mode::Mono;
            return true;
        default:
            return false;
    }
}

// Bitmaps larger than this are refused rather than unpacked or addressed.
constexpr unsigned long long kMaxBitmapBytes = 256ull << 20;

unsigned long long RowBytes(LONG width, int depth) {
    return (static_cast<unsigned long long>(width) * static_cast<unsigned>(depth) + 7) / 8;
}

// Every row of the bitmap lies in its memory.
bool RowsAddressable(const BmpInfo& info) {
    if (info.bits == nullptr || info.width <= 0 || info.height <= 0 || info.stride <= 0)
        return false;
    const unsigned long long row = RowBytes(info.width, info.bitsPerPixel);
    if (static_cast<unsigned long long>(info.stride) < row) return false;
    const unsigned long long needed =
        static_cast<unsigned long long>(info.stride) * static_cast<unsigned>(info.height - 1) + row;
    return needed <= info.size;
}

// The temporary blocks of a transfer (rows, column map, unpacked source,
// aligned pattern) come zeroed from the ordinary heap, one per use, and are
// freed when the transfer returns; no block pool is kept between calls.
std::unique_ptr<BYTE[]> Allocate(unsigned long long bytes) {
    if (bytes == 0 || bytes > kMaxBitmapBytes) return nullptr;
    return std::unique_ptr<BYTE[]>(new (std::nothrow) BYTE[static_cast<std::size_t>(bytes)]());
}

struct Rgb {
    BYTE red;
    BYTE green;
    BYTE blue;
};

// What a row conversion needs besides the rows.
struct ConvertJob {
    const LONG* columns;  // source column of every destination pixel
    int width;
    int phase;  // mono: bit of the first pixel in the output's first byte
    const ColourEntry* table;
    XLATEOBJ* xlate;
    long long sourceRowBytes;
};

Rgb FromTable(const ConvertJob& job, unsigned index) {
    const ColourEntry& entry = job.table[index];
    return {entry.red, entry.green, entry.blue};
}
Rgb FromTranslated(ULONG value) {
    return {static_cast<BYTE>(value), static_cast<BYTE>(value >> 8),
            static_cast<BYTE>(value >> 16)};
}

// Source pixel readers: the colour of column `col`, and for 32 bits its
// fourth byte.
struct Read1 {
    static Rgb Read(const ConvertJob& job, const BYTE* row, LONG col, BYTE*) {
        return FromTable(job, (row[col >> 3] >> (7 - (col & 7))) & 1u);
    }
};
struct Read4 {
    static Rgb Read(const ConvertJob& job, const BYTE* row, LONG col, BYTE*) {
        return FromTable(job, (row[col >> 1] >> ((col & 1) != 0 ? 0 : 4)) & 0xFu);
    }
};
struct Read8 {
    static Rgb Read(const ConvertJob& job, const BYTE* row, LONG col, BYTE*) {
        return FromTable(job, row[col]);
    }
};
struct Read16 {
    static Rgb Read(const ConvertJob& job, const BYTE* row, LONG col, BYTE*) {
        const BYTE* p = row + col * 2;
        return FromTranslated(TranslateColour(job.xlate, p[0] | (p[1] << 8)));
    }
};
template <int Bytes>
struct ReadTranslated {
    static Rgb Read(const ConvertJob& job, const BYTE* row, LONG col, BYTE* alpha) {
        const BYTE* p = row + col * Bytes;
        if constexpr (Bytes == 4) *alpha = p[3];
        return FromTranslated(TranslateColour(job.xlate, p[0] | (p[1] << 8) | (p[2] << 16)));
    }
};
template <int Bytes>
struct ReadRgb {
    static Rgb Read(const ConvertJob&, const BYTE* row, LONG col, BYTE* alpha) {
        const BYTE* p = row + col * Bytes;
        if constexpr (Bytes == 4) *alpha = p[3];
        return {p[0], p[1], p[2]};
    }
};
template <int Bytes>
struct ReadBgr {
    static Rgb Read(const ConvertJob&, const BYTE* row, LONG col, BYTE* alpha) {
        const BYTE* p = row + col * Bytes;
        if constexpr (Bytes == 4) *alpha = p[3];
        return {p[2], p[1], p[0]};
    }
};

template <Mode M>
inline void PutPixel(BYTE* out, int i, int phase, Rgb c) {
    if constexpr (M == Mode::Colour) {
        BYTE* p = out + i * 3;
        p[0] = c.red;
        p[1] = c.green;
        p[2] = c.blue;
    } else if constexpr (M == Mode::Grey) {
        out[i] = GreyOf(c.red, c.green, c.blue);
    } else {
        const int bit = phase + i;
        const BYTE mask = static_cast<BYTE>(0x80 >> (bit & 7));
        if (MonoWhite(c.red, c.green, c.blue))
            out[bit >> 3] |= mask;
        else
            out[bit >> 3] = static_cast<BYTE>(out[bit >> 3] & ~mask);
    }
}

// Converts one source row; a run of equal source columns is read once.
template <Mode M, class Reader>
void ConvertRow(const ConvertJob& job, const BYTE* row, BYTE* out, BYTE* alpha) {
    LONG last = -1;
    Rgb colour{};
    BYTE a = 0xFF;
    for (int i = 0; i < job.width; ++i) {
        const LONG col = job.columns[i];
        if (col != last) {
            colour = Reader::Read(job, row, col, &a);
            last = col;
        }
        PutPixel<M>(out, i, job.phase, colour);
        if (alpha != nullptr) alpha[i] = a;
    }
}

using RowConverter = void (*)(const ConvertJob&, const BYTE*, BYTE*, BYTE*);

// Eight source bits from bit `at` on (most significant first); bits outside
// the row read as 0.
BYTE SourceBits(const BYTE* row, long long rowBytes, long long at) {
    const long long byte = at >> 3;  // rounds down for negative bits too
    const int shift = static_cast<int>(at & 7);
    const auto read = [&](long long index) -> unsigned {
        return index >= 0 && index < rowBytes ? row[index] : 0u;
    };
    return static_cast<BYTE>(((read(byte) << 8 | read(byte + 1)) >> (8 - shift)) & 0xFF);
}

// A 1-bit source shown unstretched and unmirrored on a 1-bit band: its bits
// move a byte at a time, each index mapped to its colour's mono bit.
template <bool White0, bool White1>
void ConvertMonoBits(const ConvertJob& job, const BYTE* row, BYTE* out, BYTE*) {
    const int bytes = (job.phase + job.width + 7) / 8;
    const long long first = static_cast<long long>(job.columns[0]) - job.phase;
    for (int j = 0; j < bytes; ++j) {
        const BYTE bits = SourceBits(row, job.sourceRowBytes, first + 8LL * j);
        out[j] = static_cast<BYTE>((White1 ? bits : 0) | (White0 ? ~bits : 0));
    }
}

RowConverter MonoBitsConverter(const ColourEntry* table) {
    const auto white = [&](int index) {
        return MonoWhite(table[index].red, table[index].green, table[index].blue);
    };
    if (white(0)) return white(1) ? &ConvertMonoBits<true, true> : &ConvertMonoBits<true, false>;
    return white(1) ? &ConvertMonoBits<false, true> : &ConvertMonoBits<false, false>;
}

template <Mode M>
RowConverter ConverterFor(const BmpInfo& source) {
    const bool translate = (source.flags & kBmpTranslateEach) != 0;
    const bool rgb = (source.flags & kBmpRgbOrder) != 0;
    switch (source.bitsPerPixel) {
        case 1:
            return &ConvertRow<M, Read1>;
        case 4:
            return &ConvertRow<M, Read4>;
        case 8:
            return &ConvertRow<M, Read8>;
        case 16:
            return &ConvertRow<M, Read16>;
        case 24:
            return translate ? &ConvertRow<M, ReadTranslated<3>>
                   : rgb     ? &ConvertRow<M, ReadRgb<3>>
                             : &ConvertRow<M, ReadBgr<3>>;
        case 32:
            return translate ? &ConvertRow<M, ReadTranslated<4>>
                   : rgb     ? &ConvertRow<M, ReadRgb<4>>
                             : &ConvertRow<M, ReadBgr<4>>;
        default:
            return nullptr;
    }
}

RowConverter ConverterFor(Mode mode, const BmpInfo& source) {
    switch (mode) {
        case Mode::Colour:
            return ConverterFor<Mode::Colour>(source);
        case Mode::Grey:
            return ConverterFor<Mode::Grey>(source);
        default:
            return ConverterFor<Mode::Mono>(source);
    }
}

bool SourceFormatSupported(const BmpInfo& source) {
    switch (source.compression) {
        case kBmpUncompressed:
            return source.bitsPerPixel == 1 || source.bitsPerPixel == 4 ||
                   source.bitsPerPixel == 8 || source.bitsPerPixel == 16 ||
                   source.bitsPerPixel == 24 || source.bitsPerPixel == 32;
        case kBmpRle8:
            return source.bitsPerPixel == 8;
        case kBmpRle4:
            return source.bitsPerPixel == 4;
        default:
            return false;
    }
}

// How destination pixels map to source pixels along one axis.
struct AxisMap {
    LONG destinationStart;
    LONG destinationExtent;
    LONG sourceStart;  // first and end of the source rectangle
    LONG sourceEnd;
    bool mirrored;

    LONG operator()(LONG at) const {
        const LONG k = at - destinationStart;
        const LONG sourceExtent = sourceEnd - sourceStart;
        const LONG m = sourceExtent == destinationExtent
                           ? k
                           : StretchIndex(destinationExtent, sourceExtent, k);
        // A mirrored axis reads its source rectangle from the far end.
        return mirrored ? sourceEnd - m - 1 : sourceStart + m;
    }
};

// Narrows [first, end) to the destination pixels whose source pixel lies in
// [0, limit). The map is monotonic, so those pixels are one run.
void TrimToSource(const AxisMap& map, LONG limit, LONG* first, LONG* end) {
    auto inside = [&](LONG at) {
        const LONG s = map(at);
        return s >= 0 && s < limit;
    };
    while (*first < *end && !inside(*first)) ++*first;
    while (*end > *first && !inside(*end - 1)) --*end;
}

BYTE ChannelNear(unsigned numerator, unsigned denominator) {
    return static_cast<BYTE>(std::min(255u, (2 * numerator + denominator) / (2 * denominator)));
}
unsigned Near(unsigned numerator, unsigned denominator) {
    return (2 * numerator + denominator) / (2 * denominator);
}

// Everything one transfer holds for its rows.
struct Transfer {
    Mode mode;
    BYTE rop3;
    bool usesSource;
    bool usesPattern;
    bool copyMode;
    bool alpha;
    RECTL area;  // the clipped destination
    int width;
    const BmpInfo* band;
    const BYTE* sourceBits;
    LONG sourceStride;
    AxisMap rows;
    bool bottomUp;
    LONG sourceHeight;
    RowConverter convert;
    ConvertJob job;
    BYTE* tempRow;
    BYTE* alphaRow;
    const BYTE* pattern;
    int patternWidth;  // in the units of the row function
    LONG patternHeight;
    LONG patternStride;
    const BLENDFUNCTION* blend;
};

// The stored source row of band row y.
LONG SourceRowOf(const Transfer& t, LONG y) {
    const LONG visual = t.rows(y);
    return t.bottomUp ? t.sourceHeight - 1 - visual : visual;
}

BYTE* BandRow(const Transfer& t, LONG y) {
    return t.band->bits + static_cast<std::size_t>(y) * static_cast<std::size_t>(t.band->stride);
}

int BytesPerPixel(Mode mode) {
    return mode == Mode::Colour ? 3 : 1;
}

void CombineMono(const Transfer& t, BYTE* bandRow, const BYTE* patternRow) {
    const LONG x0 = t.area.left;
    const LONG x1 = t.area.right;
    BYTE* first = bandRow + (x0 >> 3);
    BYTE* last = bandRow + ((x1 - 1) >> 3);
    const BYTE keptFirst = *first;
    const BYTE keptLast = *last;
    const int count = static_cast<int>(last - first) + 1;
    if (t.alpha) {
        AlphaBlendRowMono(first, t.tempRow, t.alphaRow, x0 & 7, t.width, *t.blend);
    } else {
        Rop3RowTable[t.rop3](first, t.tempRow, patternRow, t.patternWidth, count);
    }
    // The bits left of x0 and right of x1 - 1 are not the span's.
    const BYTE leftMask = static_cast<BYTE>(0xFF00 >> (x0 & 7));
    *first = static_cast<BYTE>((*first & ~leftMask) | (keptFirst & leftMask));
    const BYTE rightMask = static_cast<BYTE>(0x7F >> ((x1 - 1) & 7));
    *last = static_cast<BYTE>((*last & ~rightMask) | (keptLast & rightMask));
}

void CombineRow(const Transfer& t, LONG y) {
    BYTE* bandRow = BandRow(t, y);
    const BYTE* patternRow =
        t.usesPattern
            ? t.pattern + static_cast<std::size_t>((t.patternHeight - 1) & y) * t.patternStride
            : nullptr;
    if (t.mode == Mode::Mono) {
        CombineMono(t, bandRow, patternRow);
        return;
    }
    const int bpp = BytesPerPixel(t.mode);
    BYTE* span = bandRow + static_cast<std::size_t>(t.area.left) * bpp;
    if (t.alpha) {
        AlphaBlendRow(span, t.tempRow, t.alphaRow, t.width, bpp, *t.blend);
        return;
    }
    if (t.copyMode) return;  // converted straight into the band
    const Rop3RowFunction combine = Rop3RowTable[t.rop3];
    if (t.mode == Mode::Grey || !t.usesPattern) {
        // Without a pattern the colour bytes combine as one row.
        combine(span, t.tempRow, patternRow, t.patternWidth, t.width * bpp);
        return;
    }
    for (int i = 0; i < t.width; ++i) {
        const BYTE* patternPixel = patternRow + ((t.patternWidth - 1) & i) * 3;
        for (int c = 0; c < 3; ++c)
            combine(span + i * 3 + c, t.tempRow + i * 3 + c, patternPixel + c, 1, 1);
    }
}

void RunRows(const Transfer& t) {
    const int bpp = BytesPerPixel(t.mode);
    LONG previousSourceRow = -1;
    for (LONG y = t.area.top; y < t.area.bottom; ++y) {
        if (t.usesSource) {
            const LONG sourceRow = SourceRowOf(t, y);
            BYTE* out = t.copyMode ? BandRow(t, y) + static_cast<std::size_t>(t.area.left) * bpp
                                   : t.tempRow;
            if (sourceRow != previousSourceRow) {
                const BYTE* row = t.sourceBits + static_cast<std::size_t>(sourceRow) *
                                                     static_cast<std::size_t>(t.sourceStride);
                t.convert(t.job, row, out, t.alphaRow);
                previousSourceRow = sourceRow;
            } else if (t.copyMode) {
                std::memcpy(out, out - t.band->stride, static_cast<std::size_t>(t.width) * bpp);
            }
        }
        CombineRow(t, y);
    }
}

// The pattern width in the units the row functions count: bytes on a mono
// band, pixels otherwise; kept within the pattern's stride and a power of
// two, so that the masked index stays inside a pattern row.
int PatternUnits(const RealBrush& brush, Mode mode) {
    const LONG pixelBytes = mode == Mode::Colour ? 3 : 1;
    LONG units = mode == Mode::Mono ? brush.patWidth / 8 : brush.patWidth;
    units = std::clamp<LONG>(units, 1, std::max<LONG>(1, brush.patStride / pixelBytes));
    int power = 1;
    while (power * 2 <= units) power *= 2;
    return power;
}

}  // namespace

bool ConvertSurfObjToBmpInfo(BmpInfo* info, const SURFOBJ* surface) {
    if (info == nullptr || surface == nullptr) return false;
    USHORT depth = 0;
    ULONG compression = kBmpUncompressed;
    switch (surface->iBitmapFormat) {
        case BMF_1BPP:
            depth = 1;
            break;
        case BMF_4BPP:
            depth = 4;
            break;
        case BMF_8BPP:
            depth = 8;
            break;
        case BMF_16BPP:
            depth = 16;
            break;
        case BMF_24BPP:
            depth = 24;
            break;
        case BMF_32BPP:
            depth = 32;
            break;
        case BMF_4RLE:
            depth = 4;
            compression = kBmpRle4;
            break;
        case BMF_8RLE:
            depth = 8;
            compression = kBmpRle8;
            break;
        default:
            return false;
    }
    info->width = surface->sizlBitmap.cx;
    info->height = surface->sizlBitmap.cy;
    info->bitsPerPixel = depth;
    info->compression = compression;
    info->bits = static_cast<BYTE*>(surface->pvBits);
    info->size = surface->cjBits;
    info->stride = surface->lDelta < 0 ? -surface->lDelta : surface->lDelta;
    info->flags = 0;
    return true;
}

ULONG TranslateColour(XLATEOBJ* xlate, ULONG value) {
    if (xlate == nullptr || (xlate->flXlate & XO_TRIVIAL) != 0) return value;
    if ((xlate->flXlate & XO_TABLE) != 0 && xlate->pulXlate != nullptr) {
        return value < xlate->cEntries ? xlate->pulXlate[value] : 0;
    }
    return XLATEOBJ_iXlate(xlate, value);
}

namespace {

bool FillIndexedTable(const BmpInfo& source, ColourTable* table, XLATEOBJ* xlate) {
    const int count = 1 << source.bitsPerPixel;
    table->entries.reset(new (std::nothrow) ColourEntry[count]());
    if (!table->entries) return false;
    table->count = count;
    const bool fromTable = (xlate->flXlate & XO_TABLE) != 0 && xlate->pulXlate != nullptr;
    for (int i = 0; i < count; ++i) {
        ULONG value = 0;
        // A table shorter than the source's colours leaves the rest black.
        if (fromTable)
            value = static_cast<ULONG>(i) < xlate->cEntries ? xlate->pulXlate[i] : 0;
        else
            value = XLATEOBJ_iXlate(xlate, static_cast<ULONG>(i));
        table->entries[i] = {static_cast<BYTE>(value >> 16), static_cast<BYTE>(value >> 8),
                             static_cast<BYTE>(value), 0};
    }
    return true;
}

USHORT TrueColourFlags(XLATEOBJ* xlate) {
    if (xlate == nullptr || (xlate->flXlate & XO_TRIVIAL) != 0) return kBmpRgbOrder;
    const ULONG red = TranslateColour(xlate, 0x0000FF);
    const ULONG green = TranslateColour(xlate, 0x00FF00);
    const ULONG blue = TranslateColour(xlate, 0xFF0000);
    if (red == 0x0000FF) {
        return green == 0x00FF00 && blue == 0xFF0000 ? kBmpRgbOrder : kBmpTranslateEach;
    }
    if (red == 0xFF0000 && green == 0x00FF00 && blue == 0x0000FF) return 0;
    return kBmpTranslateEach;
}

}  // namespace

bool SetupColorTable(BmpInfo* source, ColourTable* table, const SURFOBJ*, XLATEOBJ* xlate) {
    if (source == nullptr || table == nullptr) return false;
    const int depth = source->bitsPerPixel;
    if (xlate == nullptr && depth != 24) return false;
    if (xlate != nullptr && depth <= 8) {
        if (!FillIndexedTable(*source, table, xlate)) return false;
        source->flags |= kBmpColourTable;
    }
    if (xlate != nullptr && depth != 24 && depth != 32) source->flags |= kBmpTranslateEach;
    if (depth == 24 || depth == 32) source->flags |= TrueColourFlags(xlate);
    return true;
}

bool SetupInkColorTable(BmpInfo* source, ColourTable* table) {
    if (source == nullptr || table == nullptr) return false;
    table->entries.reset(new (std::nothrow) ColourEntry[2]);
    if (!table->entries) return false;
    table->count = 2;
    table->entries[0] = {0xFF, 0xFF, 0xFF, 0};
    table->entries[1] = {0x00, 0x00, 0x00, 0};
    source->flags |= kBmpColourTable;
    return true;
}

namespace {

// Writes through one unpacked row, cutting what falls outside it.
class RleCanvas {
  public:
    RleCanvas(const BmpInfo& source, BYTE* out, LONG stride)
        : out_(out),
          stride_(stride),
          width_(source.width),
          height_(source.height),
          nibbles_(source.bitsPerPixel == 4) {}

    void Put(long long x, long long y, BYTE value) const {
        if (x < 0 || x >= width_ || y < 0 || y >= height_) return;
        BYTE* row = out_ + static_cast<std::size_t>(y) * static_cast<std::size_t>(stride_);
        if (!nibbles_) {
            row[x] = value;
            return;
        }
        BYTE& byte = row[x >> 1];
        byte = (x & 1) != 0 ? static_cast<BYTE>((byte & 0xF0) | (value & 0x0F))
                            : static_cast<BYTE>((byte & 0x0F) | (value << 4));
    }
    bool Done(long long y) const { return y >= height_; }

  private:
    BYTE* out_;
    LONG stride_;
    LONG width_;
    LONG height_;
    bool nibbles_;
};

}  // namespace

void UnpackRle(const BmpInfo& source, BYTE* out, LONG stride) {
    const BYTE* data = source.bits;
    const std::size_t size = data != nullptr ? source.size : 0;
    const bool nibbles = source.bitsPerPixel == 4;
    const RleCanvas canvas(source, out, stride);
    long long x = 0;
    long long y = 0;
    std::size_t at = 0;
    while (at + 2 <= size && !canvas.Done(y)) {
        const unsigned count = data[at];
        const BYTE value = data[at + 1];
        at += 2;
        if (count > 0) {
            // An encoded run; 4-bit runs alternate the value's two nibbles.
            for (unsigned k = 0; k < count; ++k) {
                const BYTE pixel = nibbles ? ((k & 1) != 0 ? value & 0x0F : value >> 4) : value;
                canvas.Put(x + k, y, pixel);
            }
            x += count;
            continue;
        }
        if (value == 0) {  // end of line
            x = 0;
            ++y;
        } else if (value == 1) {  // end of bitmap
            return;
        } else if (value == 2) {  // delta
            if (at + 2 > size) return;
            x += data[at];
            y += data[at + 1];
            at += 2;
        } else {  // an absolute run of `value` pixels, padded to 16 bits
            const std::size_t bytes = nibbles ? (value + 1u) / 2 : value;
            for (unsigned k = 0; k < value; ++k) {
                const std::size_t byte = at + (nibbles ? k / 2 : k);
                if (byte >= size) return;
                const BYTE pixel =
                    nibbles ? ((k & 1) != 0 ? data[byte] & 0x0F : data[byte] >> 4) : data[byte];
                canvas.Put(x + k, y, pixel);
            }
            x += value;
            at += bytes + (bytes & 1);
        }
    }
}

BYTE BlendChannel(BYTE source, BYTE destination, BYTE alpha, bool perPixel, BYTE constantAlpha) {
    const unsigned s = source;
    const unsigned d = destination;
    const unsigned a = alpha;
    const unsigned A = constantAlpha;
    unsigned result;
    if (perPixel && A == 255) {
        result = s + Near((255 - a) * d, 255);
    } else if (perPixel) {
        result = Near((255 - Near(A * a, 255)) * d, 255) + Near(A * s, 255);
    } else {
        return ChannelNear(s * A + d * (255 - A), 255);
    }
    return static_cast<BYTE>(std::min(255u, result));
}

void AlphaBlendRow(BYTE* destination, const BYTE* source, const BYTE* alpha, int pixels,
                   int channels, const BLENDFUNCTION& blend) {
    const bool perPixel = blend.AlphaFormat == AC_SRC_ALPHA && alpha != nullptr;
    for (int i = 0; i < pixels; ++i) {
        const BYTE a = perPixel ? alpha[i] : BYTE{0xFF};
        for (int c = 0; c < channels; ++c) {
            BYTE& d = destination[i * channels + c];
            d = BlendChannel(source[i * channels + c], d, a, perPixel, blend.SourceConstantAlpha);
        }
    }
}

// A 1-bit band blends its pixels as 0 and 255 and keeps white only where the
// blend stays at 255, the mono rule of every colour.
void AlphaBlendRowMono(BYTE* destination, const BYTE* source, const BYTE* alpha, int phase,
                       int pixels, const BLENDFUNCTION& blend) {
    const bool perPixel = blend.AlphaFormat == AC_SRC_ALPHA && alpha != nullptr;
    for (int i = 0; i < pixels; ++i) {
        const int bit = phase + i;
        const BYTE mask = static_cast<BYTE>(0x80 >> (bit & 7));
        const BYTE s = (source[bit >> 3] & mask) != 0 ? 0xFF : 0x00;
        BYTE& byte = destination[bit >> 3];
        const BYTE d = (byte & mask) != 0 ? 0xFF : 0x00;
        const BYTE a = perPixel ? alpha[i] : BYTE{0xFF};
        if (BlendChannel(s, d, a, perPixel, blend.SourceConstantAlpha) == 0xFF)
            byte |= mask;
        else
            byte = static_cast<BYTE>(byte & ~mask);
    }
}

namespace {

// The source rows the transfer reads: the bitmap itself, or the unpacked
// copy of a run-length encoded one.
struct SourceRows {
    const BYTE* bits = nullptr;
    LONG stride = 0;
    std::unique_ptr<BYTE[]> unpacked;
};

bool PrepareSource(const BmpInfo& source, SourceRows* rows) {
    if (source.compression == kBmpUncompressed) {
        if (!RowsAddressable(source)) return false;
        rows->bits = source.bits;
        rows->stride = source.stride;
        return true;
    }
    if (source.width <= 0 || source.height <= 0) return false;
    // Compressed surfaces often report no stride: an unpacked row then takes
    // its 4-byte-aligned size.
    const unsigned long long row = RowBytes(source.width, source.bitsPerPixel);
    const unsigned long long aligned = (row + 3) & ~3ull;
    const unsigned long long stride =
        static_cast<unsigned long long>(source.stride) >= row ? source.stride : aligned;
    if (stride > kMaxBitmapBytes) return false;
    rows->unpacked = Allocate(stride * static_cast<unsigned>(source.height));
    if (!rows->unpacked) return false;
    rows->stride = static_cast<LONG>(stride);
    UnpackRle(source, rows->unpacked.get(), rows->stride);
    rows->bits = rows->unpacked.get();
    return true;
}

// Rectangles whose width or height does not fit in 32 bits are refused.
bool ExtentsFit(const RECTL& rect) {
    const long long width = static_cast<long long>(rect.right) - rect.left;
    const long long height = static_cast<long long>(rect.bottom) - rect.top;
    return width <= 0x7FFFFFFF && height <= 0x7FFFFFFF && width >= -0x7FFFFFFF &&
           height >= -0x7FFFFFFF;
}

unsigned long long TempRowBytes(Mode mode, int width) {
    if (mode == Mode::Colour)
        return ((static_cast<unsigned long long>(width) * 24 + 31) >> 3) & ~3ull;
    return (static_cast<unsigned long long>(width) + 1) & ~1ull;
}

// Restores the brush's own pattern when the transfer ends.
class PatternScope {
  public:
    explicit PatternScope(RealBrush* brush) : brush_(brush) {}
    ~PatternScope() {
        if (brush_ != nullptr) brush_->alignedPattern = RealBrushBits(brush_);
    }
    PatternScope(const PatternScope&) = delete;
    PatternScope& operator=(const PatternScope&) = delete;

  private:
    RealBrush* brush_;
};

}  // namespace

int GR_BitmapBlt(const BmpInfo& band, const BmpInfo& source, const RECTL& destination,
                 const RECTL& sourceRect, const ColourTable* table, RealBrush* brush, BYTE rop3,
                 const RECTL& clip, XLATEOBJ* xlate, const BLENDFUNCTION* blend) {
    Transfer t{};
    if (!ModeOf(band.bitsPerPixel, &t.mode) || !RowsAddressable(band)) return -1;
    t.rop3 = rop3;
    t.band = &band;
    t.usesSource = Rop3UsesSource(rop3);
    t.usesPattern = Rop3UsesPattern(rop3);
    t.copyMode = rop3 == 0xCC && t.mode != Mode::Mono;
    t.alpha = (source.flags & kBmpAlphaBlend) != 0;
    t.blend = blend;
    if (t.alpha && (blend == nullptr || blend->BlendOp != AC_SRC_OVER || !t.usesSource)) return -1;

    if (destination.left >= destination.right || destination.top >= destination.bottom) return 0;
    if (!ExtentsFit(destination) || (t.usesSource && !ExtentsFit(sourceRect))) return -1;
    RECTL area = IntersectRect(IntersectRect(destination, clip), {0, 0, band.width, band.height});
    if (RectIsEmpty(area)) return 0;

    SourceRows rows;
    std::unique_ptr<LONG[]> columns;
    if (t.usesSource) {
        if (!SourceFormatSupported(source)) return -1;
        if (source.bitsPerPixel <= 8 &&
            (table == nullptr || !table->entries || table->count < (1 << source.bitsPerPixel)))
            return -1;
        if (sourceRect.left >= sourceRect.right || sourceRect.top >= sourceRect.bottom) return 0;
        const AxisMap columnMap{destination.left, destination.right - destination.left,
                                sourceRect.left, sourceRect.right,
                                (source.flags & kBmpMirrorX) != 0};
        t.rows = {destination.top, destination.bottom - destination.top, sourceRect.top,
                  sourceRect.bottom, (source.flags & kBmpMirrorY) != 0};
        TrimToSource(columnMap, source.width, &area.left, &area.right);
        TrimToSource(t.rows, source.height, &area.top, &area.bottom);
        if (RectIsEmpty(area)) return 0;
        if (!PrepareSource(source, &rows)) return -1;
        t.width = static_cast<int>(area.right - area.left);
        columns.reset(new (std::nothrow) LONG[static_cast<std::size_t>(t.width)]);
        if (!columns) return -1;
        for (int i = 0; i < t.width; ++i) columns[i] = columnMap(area.left + i);
        t.sourceBits = rows.bits;
        t.sourceStride = rows.stride;
        t.bottomUp = (source.flags & kBmpBottomUp) != 0;
        t.sourceHeight = source.height;
        t.convert = ConverterFor(t.mode, source);
        if (t.convert == nullptr) return -1;
        t.job = {columns.get(),
                 t.width,
                 static_cast<int>(area.left & 7),
                 table != nullptr ? table->entries.get() : nullptr,
                 xlate,
                 static_cast<long long>(RowBytes(source.width, source.bitsPerPixel))};
        const bool unstretched =
            columnMap.sourceEnd - columnMap.sourceStart == columnMap.destinationExtent;
        if (t.mode == Mode::Mono && source.bitsPerPixel == 1 && unstretched && !columnMap.mirrored)
            t.convert = MonoBitsConverter(t.job.table);
    }
    t.area = area;
    t.width = static_cast<int>(area.right - area.left);

    std::unique_ptr<BYTE[]> tempRow;
    std::unique_ptr<BYTE[]> alphaRow;
    if (!t.copyMode) {
        tempRow = Allocate(TempRowBytes(t.mode, t.width));
        if (!tempRow) return -1;
        t.tempRow = tempRow.get();
    }
    if (t.alpha && source.bitsPerPixel == 32) {
        alphaRow = Allocate(static_cast<unsigned long long>(t.width));
        if (!alphaRow) return -1;
        t.alphaRow = alphaRow.get();
    }

    // A code that reads the pattern needs a brush whose pattern can be read.
    PatternScope patternScope(t.usesPattern && !t.alpha ? brush : nullptr);
    std::unique_ptr<BYTE[]> alignedBlock;
    if (t.usesPattern && !t.alpha) {
        if (brush == nullptr || !BrushPatternUsable(*brush, band.bitsPerPixel)) return -1;
        // Pattern column (x - originX) and row (y - originY) sit at band (x, y).
        const LONG dx = static_cast<LONG>((static_cast<long long>(area.left) - brush->originX) %
                                          brush->patWidth);
        const LONG dy =
            static_cast<LONG>(-(static_cast<long long>(brush->originY) % brush->patHeight));
        if (dx != 0 || dy != 0)
            alignedBlock = Allocate(static_cast<unsigned long long>(brush->patStride) *
                                    static_cast<unsigned long long>(brush->patHeight));
        AlignBrushPattern(brush, dx, dy, alignedBlock.get());
        t.pattern = brush->alignedPattern;
        t.patternWidth = PatternUnits(*brush, t.mode);
        t.patternHeight = brush->patHeight;
        t.patternStride = brush->patStride;
    }

    RunRows(t);
    return static_cast<int>(area.bottom - area.top);
}
