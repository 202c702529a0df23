// The engine's bit-block drawing: EngBitBlt, EngCopyBits, EngAlphaBlend and
// the transfer they (and EngStretchBlt) share.
//
// A transfer maps every destination pixel onto a source pixel (nearest
// sample, or the smoothing filter when a halftoned stretch asks for it).
// Nearest sampling uses the driver's own centre rule, so that both engines
// pick the same source pixels. A transfer reads the source as
// COLOURs once per distinct source row and combines them into the
// destination's format span by span, the spans being the clip's rectangles
// merged row by row (so overlapping clip rectangles draw a pixel once).

#include "host/drawing.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>
#include <vector>

#include "host/engine_objects.h"
#include "host/surface_format.h"

namespace host {

namespace {

// Rectangles larger than this either way are refused, which keeps the
// sampling arithmetic within 64 bits. No page comes near it.
constexpr std::int64_t kMaxExtent = std::int64_t{1} << 30;

// Rows drawn from one smoothed strip; bounds the memory of a stretch.
constexpr LONG kStripRows = 64;

// Ordered dither cells (Bayer) of 2, 4, 8 and 16 pixels square. A cell of
// c pixels lights round(grey x c / 255) of them for a grey level, so pure
// black and pure white stay exact and mid-grey (128) lights half the cell.
// Each cell is held as the grey threshold of every position (rows of
// `side`): the pixel is white when its grey reaches the threshold.
template <int Side>
struct DitherCell {
    BYTE thresholds[Side * Side] = {};

    constexpr DitherCell() {
        constexpr int kCells = Side * Side;
        for (int y = 0; y < Side; ++y)
            for (int x = 0; x < Side; ++x) {
                // The Bayer order: the 2x2 order {0, 2; 3, 1} at every
                // scale, the finest scale weighing most.
                int order = 0;
                for (int bit = 1; bit < Side; bit <<= 1) {
                    const bool right = (x & bit) != 0;
                    const bool below = (y & bit) != 0;
                    order = order * 4 + (below ? (right ? 1 : 3) : (right ? 2 : 0));
                }
                // The least grey g with round(g x kCells / 255) > order.
                const int lit = order + 1;
                thresholds[y * Side + x] =
                    static_cast<BYTE>((255 * lit - 127 + kCells - 1) / kCells);
            }
    }
};

constexpr DitherCell<2> kCell2;
constexpr DitherCell<4> kCell4;
constexpr DitherCell<8> kCell8;
constexpr DitherCell<16> kCell16;

// A cell as the transfer uses it.
struct Dither {
    LONG mask;  // side - 1
    const BYTE* thresholds;

    // The thresholds of destination row `y` for columns of every x & 15
    // (16 being a multiple of every side), the cell anchored at `origin`.
    void Row(LONG y, POINTL origin, BYTE window[16]) const {
        const BYTE* row = thresholds + ((std::int64_t{y} - origin.y) & mask) * (mask + 1);
        for (LONG i = 0; i < 16; ++i) window[i] = row[(i - std::int64_t{origin.x}) & mask];
    }
};

// The cell of a halftone pattern size: HT_PATSIZE_ values 0 to 15 stand
// for cells of 2, 2, 4, 4, ... 16, 16 pixels square (each odd value a
// variant of the even one before it, drawn alike here); each gets the
// largest Bayer cell not larger than it. The super cell and unknown sizes
// get the 8x8 cell.
Dither DitherOf(ULONG patternSize) {
    if (patternSize >= 16) return {7, kCell8.thresholds};
    const ULONG side = 2 + 2 * (patternSize / 2);
    if (side >= 16) return {15, kCell16.thresholds};
    if (side >= 8) return {7, kCell8.thresholds};
    if (side >= 4) return {3, kCell4.thresholds};
    return {1, kCell2.thresholds};
}

struct Span {
    LONG left;
    LONG right;
};

bool Intersect(const RECTL& a, const RECTL& b, RECTL* out) {
    out->left = std::max(a.left, b.left);
    out->top = std::max(a.top, b.top);
    out->right = std::min(a.right, b.right);
    out->bottom = std::min(a.bottom, b.bottom);
    return out->left < out->right && out->top < out->bottom;
}

// The pattern of a brush, aligned to the brush origin.
struct Pattern {
    LONG width = 1;
    LONG height = 1;
    const ULONG* colours = nullptr;
    ULONG solid = 0;
    POINTL origin{};

    ULONG At(LONG x, LONG y) const {
        if (colours == nullptr) return solid;
        const std::int64_t px = ((std::int64_t{x} - origin.x) % width + width) % width;
        const std::int64_t py = ((std::int64_t{y} - origin.y) % height + height) % height;
        return colours[py * width + px];
    }
};

// A brush of this engine gives its pattern; any other brush its solid colour.
bool ResolvePattern(BRUSHOBJ* brush, POINTL origin, Pattern* pattern) {
    if (brush == nullptr) return false;
    BrushPattern found;
    if (LookupBrushPattern(brush, &found)) {
        pattern->width = found.width;
        pattern->height = found.height;
        pattern->colours = found.colours;
    } else if (brush->iSolidColor != kPatternBrush) {
        pattern->solid = brush->iSolidColor & 0xFFFFFF;
    } else {
        return false;
    }
    pattern->origin = origin;
    return true;
}

// x + 0.5 truncated, for x = numerator / 255.
unsigned Near255(unsigned numerator) {
    return (2 * numerator + 255) / 510;
}

// Source-over of one channel: `source` (premultiplied when the source
// carries its own alpha) over `dest`.
BYTE Blend(const BLENDFUNCTION& blend, unsigned source, unsigned dest, unsigned alpha) {
    const unsigned constant = blend.SourceConstantAlpha;
    unsigned result;
    if ((blend.AlphaFormat & AC_SRC_ALPHA) != 0) {
        if (constant == 255)
            result = source + Near255((255 - alpha) * dest);
        else
            result = Near255((255 - Near255(constant * alpha)) * dest) + Near255(constant * source);
    } else {
        result = Near255(source * constant + dest * (255 - constant));
    }
    return static_cast<BYTE>(std::min(result, 255u));
}

ULONG BlendColour(const BLENDFUNCTION& blend, ULONG source, ULONG dest, unsigned alpha) {
    return Blend(blend, RedOf(source), RedOf(dest), alpha) |
           (ULONG{Blend(blend, GreenOf(source), GreenOf(dest), alpha)} << 8) |
           (ULONG{Blend(blend, BlueOf(source), BlueOf(dest), alpha)} << 16);
}

// What one destination row is combined from.
struct RowInput {
    const Transfer* transfer;
    const Pattern* pattern;
    LONG y;
    LONG firstColumn;      // destination column of colours[0]
    const ULONG* colours;  // null when the operation reads no source
    const BYTE* alpha;
    const BYTE* dither;  // halftoning into one bit: this row's thresholds by x & 15
};

ULONG SourceAt(const RowInput& in, LONG x) {
    return in.colours != nullptr ? in.colours[x - in.firstColumn] : 0;
}

void CombineColourSpan(const RowInput& in, BYTE* row, Span span) {
    const Transfer& t = *in.transfer;
    for (LONG x = span.left; x < span.right; ++x) {
        BYTE* pixel = row + std::int64_t{x} * 3;
        const ULONG source = SourceAt(in, x);
        ULONG result = source;
        if (t.operation == Operation::kRop3) {
            const ULONG pattern = in.pattern->At(x, in.y);
            const ULONG dest = pixel[0] | (ULONG{pixel[1]} << 8) | (ULONG{pixel[2]} << 16);
            result = 0;
            for (int shift = 0; shift < 24; shift += 8)
                result |= ULONG{ApplyRop3(t.rop3, static_cast<BYTE>(pattern >> shift),
                                          static_cast<BYTE>(source >> shift),
                                          static_cast<BYTE>(dest >> shift))}
                          << shift;
        } else if (t.operation == Operation::kAlphaBlend) {
            const ULONG dest = pixel[0] | (ULONG{pixel[1]} << 8) | (ULONG{pixel[2]} << 16);
            result = BlendColour(t.blend, source, dest, in.alpha[x - in.firstColumn]);
        }
        pixel[0] = RedOf(result);
        pixel[1] = GreenOf(result);
        pixel[2] = BlueOf(result);
    }
}

void CombineGreySpan(const RowInput& in, BYTE* row, Span span) {
    const Transfer& t = *in.transfer;
    for (LONG x = span.left; x < span.right; ++x) {
        const BYTE source = GreyOf(SourceAt(in, x));
        switch (t.operation) {
            case Operation::kCopy:
                row[x] = source;
                break;
            case Operation::kRop3:
                row[x] = ApplyRop3(t.rop3, GreyOf(in.pattern->At(x, in.y)), source, row[x]);
                break;
            case Operation::kAlphaBlend:
                row[x] = Blend(t.blend, source, row[x], in.alpha[x - in.firstColumn]);
                break;
        }
    }
}

// Writes span's bits from `white(x)`, a destination byte at a time.
template <class White>
void PackSpan(BYTE* row, Span span, White white) {
    LONG x = span.left;
    while (x < span.right) {
        const LONG byteEnd = std::min<LONG>((x | 7) + 1, span.right);
        BYTE& byte = row[x >> 3];
        unsigned bits = 0, mask = 0;
        for (; x < byteEnd; ++x) {
            const unsigned bit = 0x80u >> (x & 7);
            mask |= bit;
            if (white(x)) bits |= bit;
        }
        byte = static_cast<BYTE>((byte & ~mask) | bits);
    }
}

// The halftoned copy into one bit, whole destination bytes at a time.
void HalftoneCopySpan(const RowInput& in, BYTE* row, Span span) {
    const BYTE* dither = in.dither;
    const ULONG* colours = in.colours - in.firstColumn;  // indexed by destination column
    const auto white = [&](LONG x) { return GreyOf(colours[x]) >= dither[x & 15]; };
    const LONG firstWhole = std::min<LONG>((span.left + 7) & ~7, span.right);
    const LONG lastWhole = std::max<LONG>(span.right & ~7, firstWhole);
    PackSpan(row, {span.left, firstWhole}, white);
    for (LONG x = firstWhole; x < lastWhole; x += 8) {
        unsigned bits = 0;
        for (LONG i = 0; i < 8; ++i) bits = bits << 1 | (white(x + i) ? 1u : 0u);
        row[x >> 3] = static_cast<BYTE>(bits);
    }
    PackSpan(row, {lastWhole, span.right}, white);
}

// Into one bit a blended pixel is blended against the pixel's black or
// white and takes the nearer colour of the result, as a copy does.
void CombineMonoSpan(const RowInput& in, BYTE* row, Span span) {
    const Transfer& t = *in.transfer;
    if (t.operation == Operation::kCopy) {
        if (t.halftone)
            HalftoneCopySpan(in, row, span);
        else
            PackSpan(row, span, [&](LONG x) { return NearerWhite(SourceAt(in, x)); });
        return;
    }
    PackSpan(row, span, [&](LONG x) {
        const ULONG colour = SourceAt(in, x);
        const bool destWhite = (row[x >> 3] & (0x80u >> (x & 7))) != 0;
        if (t.operation == Operation::kAlphaBlend)
            return NearerWhite(BlendColour(t.blend, colour, destWhite ? 0xFFFFFF : 0,
                                           in.alpha[x - in.firstColumn]));
        const bool source = t.halftone ? GreyOf(colour) >= in.dither[x & 15] : NearerWhite(colour);
        const BYTE p = NearerWhite(in.pattern->At(x, in.y)) ? 0xFF : 0x00;
        return (ApplyRop3(t.rop3, p, source ? 0xFF : 0x00, destWhite ? 0xFF : 0x00) & 1) != 0;
    });
}

void CombineSpan(const RowInput& in, BYTE* row, Span span) {
    switch (in.transfer->dest->iBitmapFormat) {
        case BMF_24BPP:
            CombineColourSpan(in, row, span);
            break;
        case BMF_8BPP:
            CombineGreySpan(in, row, span);
            break;
        default:
            CombineMonoSpan(in, row, span);
            break;
    }
}

void FillBits(BYTE* dest, std::int64_t left, std::int64_t right, bool white) {
    // Whole bytes at once, the odd bits at either end one by one.
    const std::int64_t firstWhole = std::min((left + 7) & ~std::int64_t{7}, right);
    const std::int64_t lastWhole = std::max(right & ~std::int64_t{7}, firstWhole);
    if (lastWhole > firstWhole) {
        std::memset(dest + (firstWhole >> 3), white ? 0xFF : 0x00,
                    static_cast<std::size_t>((lastWhole - firstWhole) >> 3));
        FillBits(dest, left, firstWhole, white);
        left = lastWhole;
    }
    for (std::int64_t x = left; x < right; ++x) {
        const auto mask = static_cast<BYTE>(0x80u >> (x & 7));
        BYTE& byte = dest[x >> 3];
        byte = static_cast<BYTE>(white ? byte | mask : byte & ~mask);
    }
}

// The clip's rectangles within the drawn area, walked as merged spans.
class ClipSpans {
  public:
    void Add(const RECTL& rect) { rects_.push_back(rect); }
    bool Empty() const { return rects_.empty(); }
    RECTL Bounds() const { return BoundsOf(rects_); }
    void Row(LONG y, std::vector<Span>* spans) const {
        spans->clear();
        for (const RECTL& r : rects_)
            if (y >= r.top && y < r.bottom) spans->push_back({r.left, r.right});
        std::sort(spans->begin(), spans->end(),
                  [](const Span& a, const Span& b) { return a.left < b.left; });
        std::size_t kept = 0;
        for (const Span& s : *spans) {
            if (kept > 0 && s.left <= (*spans)[kept - 1].right) {
                (*spans)[kept - 1].right = std::max((*spans)[kept - 1].right, s.right);
            } else {
                (*spans)[kept++] = s;
            }
        }
        spans->resize(kept);
    }

  private:
    std::vector<RECTL> rects_;
};

// Orders a rectangle, telling whether it ran backwards along each axis.
bool Normalise(RECTL* rect, bool* mirrorX, bool* mirrorY) {
    *mirrorX = rect->right < rect->left;
    *mirrorY = rect->bottom < rect->top;
    if (*mirrorX) std::swap(rect->left, rect->right);
    if (*mirrorY) std::swap(rect->top, rect->bottom);
    return std::int64_t{rect->right} - rect->left <= kMaxExtent &&
           std::int64_t{rect->bottom} - rect->top <= kMaxExtent;
}

// The destination columns (or rows) of [from, to) whose samples fall inside
// [0, limit): the map of each, trimmed to the first and last inside (the
// map is monotonic, so those inside are contiguous).
void MapAxis(const AxisMap& map, LONG from, LONG to, LONG limit, std::vector<LONG>* samples,
             LONG* first, LONG* last) {
    samples->resize(static_cast<std::size_t>(to - from));
    *first = to;
    *last = from;
    for (LONG v = from; v < to; ++v) {
        const std::int64_t sample = map.Sample(v);
        const bool inside = sample >= 0 && sample < limit;
        (*samples)[static_cast<std::size_t>(v - from)] = inside ? static_cast<LONG>(sample) : -1;
        if (inside) {
            *first = std::min(*first, v);
            *last = std::max(*last, v + 1);
        }
    }
}

// 1-bit onto 1-bit, unscaled and unmirrored: each source bit becomes one
// band bit, its colour's nearer of black and white, so bits are copied as
// they are (or inverted). Halftoning keeps only pure black and white exact.
bool CopiesBitsDirectly(const Transfer& t, const AxisMap& x, const AxisMap& y) {
    if (t.operation != Operation::kCopy || t.source == nullptr) return false;
    if (t.dest->iBitmapFormat != BMF_1BPP || t.source->format() != BMF_1BPP) return false;
    if (!x.Identity() || !y.Identity() || x.mirror || y.mirror) return false;
    if (!t.halftone) return true;
    auto pure = [](ULONG c) { return IsPureBlack(c) || IsPureWhite(c); };
    return pure(t.source->table()[0]) && pure(t.source->table()[1]);
}

void CopyBitRow(const Transfer& t, BYTE* row, const BYTE* sourceRow, LONG sourceLeft, LONG destLeft,
                Span span) {
    const bool zeroWhite = NearerWhite(t.source->table()[0]);
    const bool oneWhite = NearerWhite(t.source->table()[1]);
    if (zeroWhite == oneWhite) {
        FillBits(row, span.left, span.right, oneWhite);
        return;
    }
    CopyBits(row, span.left, sourceRow, std::int64_t{sourceLeft} + (span.left - destLeft),
             span.right - span.left, zeroWhite);
}

}  // namespace

namespace {

// CopyBits for fewer than eight bits, or up to the next destination byte.
void CopyFewBits(BYTE* dest, std::int64_t destBit, const BYTE* source, std::int64_t sourceBit,
                 std::int64_t count, bool invert) {
    while (count > 0) {
        const int destOffset = static_cast<int>(destBit & 7);
        const int take = static_cast<int>(std::min<std::int64_t>(8 - destOffset, count));
        const int sourceOffset = static_cast<int>(sourceBit & 7);
        const BYTE* from = source + (sourceBit >> 3);
        unsigned window = static_cast<unsigned>(from[0]) << 8;
        if (sourceOffset + take > 8) window |= from[1];
        unsigned bits = (window >> (16 - sourceOffset - take)) & ((1u << take) - 1);
        if (invert) bits = ~bits & ((1u << take) - 1);
        const int shift = 8 - destOffset - take;
        const auto mask = static_cast<BYTE>(((1u << take) - 1) << shift);
        BYTE& to = dest[destBit >> 3];
        to = static_cast<BYTE>((to & ~mask) | ((bits << shift) & mask));
        destBit += take;
        sourceBit += take;
        count -= take;
    }
}

}  // namespace

// Copies `count` bits from `source` (starting at bit `sourceBit`, the most
// significant bit of a byte first) to `dest` (at `destBit`), inverted when
// asked, leaving the destination's other bits as they were. Reads only
// bytes holding copied bits. Whole destination bytes are written at once:
// copied (or inverted) as they are when source and destination share their
// bit phase, else each put together from two neighbouring source bytes.
void CopyBits(BYTE* dest, std::int64_t destBit, const BYTE* source, std::int64_t sourceBit,
              std::int64_t count, bool invert) {
    const std::int64_t head = std::min<std::int64_t>(count, (8 - (destBit & 7)) & 7);
    CopyFewBits(dest, destBit, source, sourceBit, head, invert);
    destBit += head;
    sourceBit += head;
    count -= head;

    const auto bytes = static_cast<std::size_t>(count >> 3);
    BYTE* to = dest + (destBit >> 3);
    const BYTE* from = source + (sourceBit >> 3);
    const int phase = static_cast<int>(sourceBit & 7);
    const BYTE flip = invert ? 0xFF : 0x00;
    if (phase == 0 && !invert) {
        std::memcpy(to, from, bytes);
    } else if (phase == 0) {
        for (std::size_t i = 0; i < bytes; ++i) to[i] = static_cast<BYTE>(~from[i]);
    } else {
        for (std::size_t i = 0; i < bytes; ++i)
            to[i] = static_cast<BYTE>((from[i] << phase | from[i + 1] >> (8 - phase)) ^ flip);
    }
    const auto whole = static_cast<std::int64_t>(bytes) * 8;
    CopyFewBits(dest, destBit + whole, source, sourceBit + whole, count - whole, invert);
}

BYTE ApplyRop3(BYTE rop3, BYTE pattern, BYTE source, BYTE dest) {
    switch (rop3) {
        case 0x00:
            return 0x00;
        case 0xFF:
            return 0xFF;
        case 0xCC:
            return source;
        case 0xAA:
            return dest;
        case 0xF0:
            return pattern;
        default:
            break;
    }
    unsigned result = 0;
    for (unsigned term = 0; term < 8; ++term) {
        if (((rop3 >> term) & 1) == 0) continue;
        const unsigned p = (term & 4) != 0 ? pattern : static_cast<BYTE>(~pattern);
        const unsigned s = (term & 2) != 0 ? source : static_cast<BYTE>(~source);
        const unsigned d = (term & 1) != 0 ? dest : static_cast<BYTE>(~dest);
        result |= p & s & d;
    }
    return static_cast<BYTE>(result);
}

bool UsableDestination(const SURFOBJ* dest) {
    if (!UsableBitmap(dest)) return false;
    const ULONG format = dest->iBitmapFormat;
    if (format != BMF_1BPP && format != BMF_8BPP && format != BMF_24BPP) return false;
    return ScanLinesInsideBits(dest);
}

struct SpanPainter::State {
    Transfer transfer;
    Pattern pattern;
    std::vector<RECTL> clip;  // disjoint, within the destination
    RECTL bounds{};
    bool solidCopy = false;  // a solid colour copied: written directly
    BYTE grey = 0;
    bool white = false;
};

SpanPainter::SpanPainter() : state_(std::make_unique<State>()) {}
SpanPainter::~SpanPainter() = default;

bool SpanPainter::Open(SURFOBJ* dest, CLIPOBJ* clip, BRUSHOBJ* brush, POINTL brushOrigin,
                       BYTE rop3) {
    State& s = *state_;
    s = State{};
    if (!UsableDestination(dest)) return false;
    if (RopUsesPattern(rop3) && !ResolvePattern(brush, brushOrigin, &s.pattern)) return false;
    s.transfer.dest = dest;
    s.transfer.operation = Operation::kRop3;
    s.transfer.rop3 = rop3;
    s.transfer.brush = brush;
    s.transfer.brushOrigin = brushOrigin;
    const RECTL whole{0, 0, dest->sizlBitmap.cx, dest->sizlBitmap.cy};
    bool trivial = false;
    for (const RECTL& r : DisjointRectangles(ClipRectangles(clip, &trivial))) {
        RECTL cut;
        if (Intersect(r, whole, &cut)) s.clip.push_back(cut);
    }
    if (trivial) s.clip.assign(1, whole);
    if (!s.clip.empty()) s.bounds = BoundsOf(s.clip);
    // A one-pixel pattern is its colour.
    if (s.pattern.colours != nullptr && s.pattern.width == 1 && s.pattern.height == 1) {
        s.pattern.solid = s.pattern.colours[0] & 0xFFFFFF;
        s.pattern.colours = nullptr;
    }
    s.solidCopy = rop3 == 0xF0 && s.pattern.colours == nullptr;
    s.grey = GreyOf(s.pattern.solid);
    s.white = NearerWhite(s.pattern.solid);
    return true;
}

const RECTL& SpanPainter::bounds() const {
    return state_->bounds;
}

void SpanPainter::Fill(LONG y, LONG left, LONG right) {
    State& s = *state_;
    if (y < s.bounds.top || y >= s.bounds.bottom) return;
    BYTE* row = ScanLine(s.transfer.dest, y);
    for (const RECTL& r : s.clip) {
        if (y < r.top || y >= r.bottom) continue;
        const Span span{std::max(left, r.left), std::min(right, r.right)};
        if (span.left >= span.right) continue;
        if (!s.solidCopy) {
            const RowInput in{&s.transfer, &s.pattern, y, 0, nullptr, nullptr, nullptr};
            CombineSpan(in, row, span);
            continue;
        }
        switch (s.transfer.dest->iBitmapFormat) {
            case BMF_8BPP:
                std::memset(row + span.left, s.grey,
                            static_cast<std::size_t>(span.right - span.left));
                break;
            case BMF_24BPP:
                for (LONG x = span.left; x < span.right; ++x) {
                    BYTE* pixel = row + std::int64_t{x} * 3;
                    pixel[0] = RedOf(s.pattern.solid);
                    pixel[1] = GreenOf(s.pattern.solid);
                    pixel[2] = BlueOf(s.pattern.solid);
                }
                break;
            default:
                FillBits(row, span.left, span.right, s.white);
                break;
        }
    }
}

// Bit (2P + D) of a ROP2's code (its value less one) is its result for pen
// P and destination D; the ROP3 repeats it for both source values.
bool Rop3OfRop2(ULONG rop2, BYTE* rop3) {
    *rop3 = 0;
    if (rop2 < 1 || rop2 > 16) return false;
    const ULONG code = rop2 - 1;
    unsigned result = 0;
    for (unsigned term = 0; term < 8; ++term) {
        const unsigned p = (term >> 2) & 1, d = term & 1;
        if (((code >> (2 * p + d)) & 1) != 0) result |= 1u << term;
    }
    *rop3 = static_cast<BYTE>(result);
    return true;
}

BOOL RunTransfer(const Transfer& t) {
    if (!UsableDestination(t.dest)) return FALSE;
    const bool readsSource = t.operation != Operation::kRop3 || RopUsesSource(t.rop3);
    if (readsSource && t.source == nullptr) return FALSE;
    Pattern pattern;
    if (t.operation == Operation::kRop3 && RopUsesPattern(t.rop3) &&
        !ResolvePattern(t.brush, t.brushOrigin, &pattern))
        return FALSE;
    if (t.operation == Operation::kAlphaBlend) {
        if (t.blend.BlendOp != AC_SRC_OVER) return FALSE;
        if ((t.blend.AlphaFormat & AC_SRC_ALPHA) != 0 && t.source->format() != BMF_32BPP)
            return FALSE;
    }

    RECTL d = t.destRect;
    bool mirrorX = false, mirrorY = false;
    if (!Normalise(&d, &mirrorX, &mirrorY)) return FALSE;
    AxisMap xMap{d.left, std::int64_t{d.right} - d.left, 0, 1, false};
    AxisMap yMap{d.top, std::int64_t{d.bottom} - d.top, 0, 1, false};
    RECTL s = t.sourceRect;
    if (readsSource) {
        bool sourceMirrorX = false, sourceMirrorY = false;
        if (!Normalise(&s, &sourceMirrorX, &sourceMirrorY)) return FALSE;
        xMap.sourceStart = s.left;
        xMap.sourceExtent = std::int64_t{s.right} - s.left;
        xMap.mirror = mirrorX != sourceMirrorX;
        yMap.sourceStart = s.top;
        yMap.sourceExtent = std::int64_t{s.bottom} - s.top;
        yMap.mirror = mirrorY != sourceMirrorY;
        if (xMap.sourceExtent == 0 || yMap.sourceExtent == 0) return TRUE;
    }
    if (xMap.destExtent == 0 || yMap.destExtent == 0) return TRUE;

    RECTL area;
    if (!Intersect(d, {0, 0, t.dest->sizlBitmap.cx, t.dest->sizlBitmap.cy}, &area)) return TRUE;
    std::vector<LONG> columns, rows;
    try {
        if (readsSource) {
            // Destination pixels whose sample falls outside the source are
            // left alone.
            MapAxis(xMap, area.left, area.right, t.source->width(), &columns, &area.left,
                    &area.right);
            MapAxis(yMap, area.top, area.bottom, t.source->height(), &rows, &area.top,
                    &area.bottom);
            if (area.left >= area.right || area.top >= area.bottom) return TRUE;
        }

        bool trivial = false;
        ClipSpans clip;
        for (const RECTL& r : ClipRectangles(t.clip, &trivial)) {
            RECTL cut;
            if (Intersect(r, area, &cut)) clip.Add(cut);
        }
        if (trivial) clip.Add(area);
        if (clip.Empty()) return TRUE;
        const RECTL bounds = clip.Bounds();
        const LONG width = bounds.right - bounds.left;

        // Source samples of the bounds' columns and rows, from the area's maps.
        const auto mapIndex = [](const std::vector<LONG>& map, LONG from, LONG v) {
            return map[static_cast<std::size_t>(v - from)];
        };
        std::vector<LONG> boundsColumns;
        if (readsSource) {
            const LONG areaFrom = std::max<LONG>(d.left, 0);
            boundsColumns.resize(static_cast<std::size_t>(width));
            for (LONG x = bounds.left; x < bounds.right; ++x)
                boundsColumns[static_cast<std::size_t>(x - bounds.left)] =
                    mapIndex(columns, areaFrom, x);
        }
        const LONG rowFrom = std::max<LONG>(d.top, 0);

        const Dither ditherCell = DitherOf(t.halftonePattern);
        const bool directBits = CopiesBitsDirectly(t, xMap, yMap);
        bool smooth =
            readsSource && t.smooth && !directBits && !(xMap.Identity() && yMap.Identity());
        RECTL sourceLimit{};
        if (smooth && !Intersect(s, {0, 0, t.source->width(), t.source->height()}, &sourceLimit))
            smooth = false;

        std::vector<ULONG> colours(readsSource ? static_cast<std::size_t>(width) : 0);
        std::vector<BYTE> alpha(t.operation == Operation::kAlphaBlend ? width : 0);
        std::vector<ULONG> strip;
        LONG stripTop = 0, stripBottom = 0;
        LONG lastSourceRow = -1;
        std::vector<Span> spans;
        for (LONG y = bounds.top; y < bounds.bottom; ++y) {
            clip.Row(y, &spans);
            if (spans.empty()) continue;
            BYTE* row = ScanLine(t.dest, y);
            const ULONG* rowColours = nullptr;
            if (readsSource) {
                const LONG sourceRow = mapIndex(rows, rowFrom, y);
                if (directBits) {
                    for (const Span& span : spans)
                        CopyBitRow(t, row, t.source->RowBits(sourceRow),
                                   static_cast<LONG>(xMap.sourceStart), d.left, span);
                    continue;
                }
                if (smooth && y >= stripBottom) {
                    stripTop = y;
                    stripBottom = std::min(bounds.bottom, y + kStripRows);
                    if (!SmoothSample(*t.source, xMap, yMap, sourceLimit,
                                      {bounds.left, stripTop, bounds.right, stripBottom}, &strip))
                        smooth = false;
                }
                if (smooth) {
                    rowColours = strip.data() + static_cast<std::size_t>(y - stripTop) * width;
                } else {
                    if (sourceRow != lastSourceRow)
                        t.source->ReadRow(sourceRow, boundsColumns.data(), boundsColumns.size(),
                                          colours.data(), alpha.empty() ? nullptr : alpha.data());
                    lastSourceRow = sourceRow;
                    rowColours = colours.data();
                }
            }
            BYTE dither[16] = {};
            if (t.halftone) ditherCell.Row(y, t.halftoneOrigin, dither);
            const RowInput in{&t, &pattern, y, bounds.left, rowColours, alpha.data(), dither};
            for (const Span& span : spans) CombineSpan(in, row, span);
        }
    } catch (const std::bad_alloc&) {
        return FALSE;
    }
    return TRUE;
}

}  // namespace host

using host::Operation;
using host::SourceReader;
using host::Transfer;

namespace {

// The source rectangle of an unscaled call: the source point extended by the
// destination's size (its direction kept, so that a mirrored destination
// mirrors). False when it would pass the coordinate range.
bool SourceRectAt(const POINTL& origin, const RECTL& dest, RECTL* source) {
    const std::int64_t width = std::llabs(std::int64_t{dest.right} - dest.left);
    const std::int64_t height = std::llabs(std::int64_t{dest.bottom} - dest.top);
    const std::int64_t right = std::int64_t{origin.x} + width;
    const std::int64_t bottom = std::int64_t{origin.y} + height;
    if (right > 0x7FFFFFFF || bottom > 0x7FFFFFFF) return false;
    *source = {origin.x, origin.y, static_cast<LONG>(right), static_cast<LONG>(bottom)};
    return true;
}

}  // namespace

extern "C" {

// The mask and the ROP4's high byte (the raster operation where a mask is
// 0) are not looked at: the low byte's ROP3 applies everywhere, as it does
// for every ROP4 whose two bytes are equal.
BOOL EngBitBlt(SURFOBJ* dest, SURFOBJ* source, SURFOBJ*, CLIPOBJ* clip, XLATEOBJ* xlate,
               RECTL* destRect, POINTL* sourceOrigin, POINTL*, BRUSHOBJ* brush, POINTL* brushOrigin,
               ROP4 rop4) {
    if (destRect == nullptr) return FALSE;
    const auto rop3 = static_cast<BYTE>(rop4 & 0xFF);
    Transfer transfer;
    transfer.dest = dest;
    transfer.destRect = *destRect;
    transfer.clip = clip;
    transfer.operation = rop3 == 0xCC ? Operation::kCopy : Operation::kRop3;
    transfer.rop3 = rop3;
    transfer.brush = brush;
    transfer.brushOrigin = brushOrigin != nullptr ? *brushOrigin : POINTL{0, 0};
    SourceReader reader;
    if (host::RopUsesSource(rop3)) {
        if (sourceOrigin == nullptr || !reader.Open(source, xlate)) return FALSE;
        if (!SourceRectAt(*sourceOrigin, *destRect, &transfer.sourceRect)) return FALSE;
        transfer.source = &reader;
    }
    return host::RunTransfer(transfer);
}

BOOL EngCopyBits(SURFOBJ* dest, SURFOBJ* source, CLIPOBJ* clip, XLATEOBJ* xlate, RECTL* destRect,
                 POINTL* sourceOrigin) {
    if (destRect == nullptr || sourceOrigin == nullptr) return FALSE;
    SourceReader reader;
    if (!reader.Open(source, xlate)) return FALSE;
    Transfer transfer;
    transfer.dest = dest;
    transfer.destRect = *destRect;
    transfer.clip = clip;
    transfer.source = &reader;
    if (!SourceRectAt(*sourceOrigin, *destRect, &transfer.sourceRect)) return FALSE;
    return host::RunTransfer(transfer);
}

// Source-over only; per-pixel alpha (AC_SRC_ALPHA) only from 32-bit sources,
// whose colours are premultiplied by their alpha. A source rectangle of
// another size is stretched by nearest pixel.
BOOL EngAlphaBlend(SURFOBJ* dest, SURFOBJ* source, CLIPOBJ* clip, XLATEOBJ* xlate, RECTL* destRect,
                   RECTL* sourceRect, BLENDOBJ* blend) {
    if (destRect == nullptr || sourceRect == nullptr || blend == nullptr) return FALSE;
    SourceReader reader;
    if (!reader.Open(source, xlate)) return FALSE;
    Transfer transfer;
    transfer.dest = dest;
    transfer.destRect = *destRect;
    transfer.sourceRect = *sourceRect;
    transfer.clip = clip;
    transfer.source = &reader;
    transfer.operation = Operation::kAlphaBlend;
    transfer.blend = blend->BlendFunction;
    return host::RunTransfer(transfer);
}

}  // extern "C"
