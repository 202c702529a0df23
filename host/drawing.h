// The core of the engine's drawing services: reading sources of every
// bitmap format as COLOURs (0x00BBGGRR), mapping destination pixels onto
// source pixels, and combining them into the band formats. For the host
// library's own use; the services themselves are the Eng... calls.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "host/engine.h"

namespace host {

inline BYTE RedOf(ULONG colour) {
    return static_cast<BYTE>(colour);
}
inline BYTE GreenOf(ULONG colour) {
    return static_cast<BYTE>(colour >> 8);
}
inline BYTE BlueOf(ULONG colour) {
    return static_cast<BYTE>(colour >> 16);
}
// The driver's grey rule, so that the engine and the driver agree.
inline BYTE GreyOf(ULONG colour) {
    return static_cast<BYTE>((5u * RedOf(colour) + 9u * GreenOf(colour) + 2u * BlueOf(colour)) >>
                             4);
}
inline bool IsPureWhite(ULONG colour) {
    return (colour & 0xFFFFFF) == 0xFFFFFF;
}
inline bool IsPureBlack(ULONG colour) {
    return (colour & 0xFFFFFF) == 0;
}
// Into one bit without halftoning a colour becomes the nearer of the band's
// two colours, black and white, as the distance between their channels
// goes: white when the squares of (255 - c) sum below those of c, that is
// when red + green + blue exceeds 382.5.
inline bool NearerWhite(ULONG colour) {
    return unsigned{RedOf(colour)} + GreenOf(colour) + BlueOf(colour) >= 383;
}

// A source surface of any of the eight formats, read as COLOURs through its
// translation object. Without one, the engine reads 1-bit sources as 0 black
// and 1 white, 4- and 8-bit (and run-length) sources as grey levels, 16-bit
// sources as 5-5-5 with blue in the low bits, and 24- and 32-bit sources as
// red, green, blue in memory order.
class SourceReader {
  public:
    // False for a surface whose bits cannot be walked safely.
    bool Open(SURFOBJ* source, XLATEOBJ* xlate);

    LONG width() const { return width_; }
    LONG height() const { return height_; }
    ULONG format() const { return format_; }
    // The colour of index 0 and 1 of a 1-bit source.
    const ULONG* table() const { return table_; }

    // Source row `y` (0 is the top row, 0 <= y < height), at `count`
    // columns (each 0 <= column < width): colours, and alpha bytes of a
    // 32-bit source when `alpha` is given (255 for other formats).
    void ReadRow(LONG y, const LONG* columns, std::size_t count, ULONG* colours, BYTE* alpha) const;
    // The row's first byte, for copies that skip conversion (not for
    // run-length sources).
    const BYTE* RowBits(LONG y) const;

  private:
    enum class Direct { kRedFirst, kBlueFirst, kEachPixel };

    ULONG format_ = 0;
    LONG width_ = 0;
    LONG height_ = 0;
    const SURFOBJ* surface_ = nullptr;
    XLATEOBJ* xlate_ = nullptr;
    Direct direct_ = Direct::kRedFirst;
    ULONG table_[256] = {};
    std::vector<BYTE> unpacked_;  // run-length sources: an index per pixel, top row first
};

// How destination coordinates along one axis map onto source coordinates:
// destination pixel k of the uncut (well-ordered) destination samples the
// source at (2k + 1) x sourceExtent / (2 x destExtent), counted from the
// source's far edge when mirrored.
struct AxisMap {
    std::int64_t destStart = 0;
    std::int64_t destExtent = 1;
    std::int64_t sourceStart = 0;
    std::int64_t sourceExtent = 1;
    bool mirror = false;

    bool Identity() const { return destExtent == sourceExtent; }
    std::int64_t Sample(std::int64_t dest) const {
        const std::int64_t k = dest - destStart;
        const std::int64_t offset = Identity() ? k : (2 * k + 1) * sourceExtent / (2 * destExtent);
        return mirror ? sourceStart + sourceExtent - 1 - offset : sourceStart + offset;
    }
};

// Colours of destination pixels [left, right) x [top, bottom), row after
// row, sampled from `source` through a smoothing filter: bilinear between
// pixel centres when enlarging, the average of the pixels under each
// destination pixel when shrinking (separately along each axis). Source
// pixels outside `sourceLimit` (within the surface) are not read, the edges
// repeating instead. False when memory runs out; the caller then samples
// nearest pixels.
bool SmoothSample(const SourceReader& source, const AxisMap& xMap, const AxisMap& yMap,
                  const RECTL& sourceLimit, const RECTL& area, std::vector<ULONG>* colours);

enum class Operation { kCopy, kRop3, kAlphaBlend };

// One drawing call of the engine.
struct Transfer {
    SURFOBJ* dest = nullptr;
    RECTL destRect{};  // right < left or bottom < top mirrors
    const SourceReader* source = nullptr;
    RECTL sourceRect{};  // well ordered
    CLIPOBJ* clip = nullptr;
    Operation operation = Operation::kCopy;
    BYTE rop3 = 0xCC;
    BRUSHOBJ* brush = nullptr;
    POINTL brushOrigin{};
    BLENDFUNCTION blend{};
    bool smooth = false;    // scale through the smoothing filter
    bool halftone = false;  // into one bit: an ordered dither instead of the nearer colour
    ULONG halftonePattern = HT_PATSIZE_8x8;  // the dither's cell (HT_PATSIZE_...)
    POINTL halftoneOrigin{};
};

// Draws the transfer. FALSE for unusable arguments (nothing drawn); TRUE
// when drawn, also when nothing was left to draw.
BOOL RunTransfer(const Transfer& transfer);

// A destination the services draw into: a usable 1, 8 or 24-bit bitmap
// whose scan lines lie in its bits.
bool UsableDestination(const SURFOBJ* dest);

// Fills runs of pixels of single rows with a brush through a clip, combined
// into the destination as EngBitBlt's brush fills are (the ROP3 without a
// source; into one bit a colour is the nearer of black and white). The
// drawing paths use it for their spans.
class SpanPainter {
  public:
    SpanPainter();
    ~SpanPainter();
    SpanPainter(const SpanPainter&) = delete;
    SpanPainter& operator=(const SpanPainter&) = delete;

    // False for an unusable destination or a brush that cannot be resolved.
    bool Open(SURFOBJ* dest, CLIPOBJ* clip, BRUSHOBJ* brush, POINTL brushOrigin, BYTE rop3);
    // What can be drawn: the clip within the destination (empty when
    // nothing can).
    const RECTL& bounds() const;
    // Pixels [left, right) of row y, those outside the clip left alone.
    void Fill(LONG y, LONG left, LONG right);

    struct State;

  private:
    std::unique_ptr<State> state_;
};

// The ROP3 that draws ROP2 `rop2` (R2_BLACK 1 ... R2_WHITE 16) with the
// pattern as the pen; 0 with a false result for a value outside 1..16.
bool Rop3OfRop2(ULONG rop2, BYTE* rop3);

// ROP3 on one byte of each operand: bit (4P + 2S + D) of the code is the
// result for those input bits.
BYTE ApplyRop3(BYTE rop3, BYTE pattern, BYTE source, BYTE dest);

// Copies `count` bits from `source` (from bit `sourceBit`, the most
// significant bit of a byte first) to `dest` (at `destBit`), inverted when
// asked, leaving the destination's other bits as they were. Reads only
// bytes holding copied bits.
void CopyBits(BYTE* dest, std::int64_t destBit, const BYTE* source, std::int64_t sourceBit,
              std::int64_t count, bool invert);
inline bool RopUsesSource(BYTE rop3) {
    return (((rop3 >> 2) ^ rop3) & 0x33) != 0;
}
inline bool RopUsesPattern(BYTE rop3) {
    return (rop3 >> 4) != (rop3 & 0x0F);
}

}  // namespace host
