// Halftoning of 8-bit and 24-bit bands (see halftone.h). Every output row is
// first brought into a grey row in printer order; each plane then maps the
// grey values to its own range and turns them into dots by the band's method.
// The inner loops are specialised per method: the ordered methods look up
// whole dot bits in tables prepared once per band, error diffusion runs one
// tight loop over two 16-bit error rows.
#include "command/halftone.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <utility>

#include "platform/muldiv.h"

namespace {

constexpr std::array<BYTE, 16> kOrdered4 = {
    0xA5, 0x47, 0x67, 0x87, 0xC7, 0x07, 0x27, 0xE7,  //
    0x77, 0x97, 0xB7, 0x57, 0x37, 0xF7, 0xD7, 0x17,  //
};

constexpr std::array<BYTE, 64> kOrdered8 = {
    0x61, 0x09, 0x29, 0x69, 0x99, 0xF1, 0xD1, 0x91,  //
    0x11, 0x01, 0x21, 0x41, 0xE9, 0xF9, 0xD9, 0xB9,  //
    0x31, 0x19, 0x39, 0x51, 0xC9, 0xE1, 0xC1, 0xA9,  //
    0x71, 0x49, 0x59, 0x79, 0x89, 0xB1, 0xA1, 0x81,  //
    0x9D, 0xF5, 0xD5, 0x95, 0x65, 0x0D, 0x2D, 0x6D,  //
    0xED, 0xFD, 0xDD, 0xBD, 0x15, 0x05, 0x25, 0x45,  //
    0xCD, 0xE5, 0xC5, 0xAD, 0x35, 0x1D, 0x3D, 0x55,  //
    0x8D, 0xB5, 0xA5, 0x85, 0x75, 0x4D, 0x5D, 0x7D,  //
};

constexpr BYTE kFixedThreshold = 127;  // a dot where the value is below 128
constexpr int kDotBelow = 128;         // error diffusion: a dot where the value is below

// Plane kinds.
constexpr DWORD kPlaneDark = 1;   // two planes: the dark range
constexpr DWORD kPlaneLight = 2;  // two planes: the light range
constexpr DWORD kPlaneSingle = 3;

// Two-colour mapping: the first plane prints the grey values 0..79 stretched
// over the whole range, the second the values 79..255.
constexpr int kDarkTop = 79;
constexpr int kLightBase = 79;
constexpr int kLightSpan = 176;

using GreyMap = std::array<BYTE, 256>;

struct FreeDeleter {
    void operator()(void* block) const { std::free(block); }
};
template <class T>
using Block = std::unique_ptr<T[], FreeDeleter>;

template <class T>
Block<T> Allocate(std::size_t count) {
    return Block<T>(static_cast<T*>(std::malloc(std::max<std::size_t>(count, 1) * sizeof(T))));
}

BYTE MappedGrey(DWORD kind, int grey) {
    switch (kind) {
        case kPlaneDark:
            return static_cast<BYTE>(MulDiv(std::min(grey, kDarkTop), 255, kDarkTop));
        case kPlaneLight:
            return grey > kLightBase - 1
                       ? static_cast<BYTE>(MulDiv(grey - kLightBase, 255, kLightSpan))
                       : 0;
        default:
            return static_cast<BYTE>(grey);
    }
}

GreyMap MapOfKind(DWORD kind) {
    GreyMap map{};
    for (int grey = 0; grey < 256; ++grey) map[grey] = MappedGrey(kind, grey);
    return map;
}

// The method's threshold at output row phase `row` and pixel phase `x`
// (both taken mod 8); a dot where the mapped value is at most the threshold.
BYTE Threshold(DWORD method, int row, int x) {
    switch (method) {
        case kDitherOrdered4:
            return kOrdered4[(x % 4) * 4 + row % 4];
        case kDitherOrdered8:
            return kOrdered8[(x % 8) * 8 + row % 8];
        default:
            return kFixedThreshold;
    }
}

bool IsOrdered(DWORD method) {
    return method == kDitherOrdered4 || method == kDitherOrdered8 || method == kDitherThreshold;
}

// For the ordered methods: per row phase and pixel phase (both mod 8), the
// white bit a grey value gives at that pixel's place in its output byte.
// Mapping and threshold are folded in, so a pixel costs one lookup.
struct OrderedBits {
    BYTE white[8][8][256];
};

void PrepareOrdered(OrderedBits* bits, DWORD method, const GreyMap& map) {
    for (int row = 0; row < 8; ++row) {
        for (int x = 0; x < 8; ++x) {
            const BYTE threshold = Threshold(method, row, x);
            const BYTE bit = static_cast<BYTE>(0x80 >> x);
            for (int grey = 0; grey < 256; ++grey)
                bits->white[row][x][grey] = map[grey] > threshold ? bit : 0;
        }
    }
}

void OrderedRow(const BYTE (&white)[8][256], const BYTE* grey, LONG width, BYTE* out) {
    LONG x = 0;
    for (; x + 8 <= width; x += 8, grey += 8) {
        *out++ = static_cast<BYTE>(white[0][grey[0]] | white[1][grey[1]] | white[2][grey[2]] |
                                   white[3][grey[3]] | white[4][grey[4]] | white[5][grey[5]] |
                                   white[6][grey[6]] | white[7][grey[7]]);
    }
    if (x == width) return;
    // The bits past the last pixel stay white.
    const int left = width - x;
    BYTE byte = static_cast<BYTE>(0xFF >> left);
    for (int k = 0; k < left; ++k) byte |= white[k][grey[k]];
    *out = byte;
}

// One row of error diffusion. `current` holds the errors diffused into this
// row from the one above; `next` (zero on entry) receives this row's errors
// for the row below unless this is the last row. Both rows have one guard
// element on each side, so the edges need no tests; the guards' values are
// never read back. Divisions truncate toward zero.
template <bool kDiffuseDown>
void DiffuseRow(const GreyMap& map, const BYTE* grey, LONG width, SHORT* current, SHORT* next,
                BYTE* out) {
    int fromLeft = 0;
    unsigned byte = 0;
    LONG x = 0;
    for (; x < width; ++x) {
        const auto value = static_cast<SHORT>(current[x] + map[grey[x]] + fromLeft);
        const bool white = value >= kDotBelow;
        const auto error = static_cast<SHORT>(value - (white ? 255 : 0));
        fromLeft = 7 * error / 16;
        if constexpr (kDiffuseDown) {
            next[x - 1] = static_cast<SHORT>(next[x - 1] + 3 * error / 16);
            next[x] = static_cast<SHORT>(next[x] + 5 * error / 16);
            next[x + 1] = static_cast<SHORT>(next[x + 1] + error / 16);
        }
        byte = (byte << 1) | (white ? 1u : 0u);
        if ((x & 7) == 7) *out++ = static_cast<BYTE>(byte);
    }
    const int left = width & 7;
    if (left != 0) *out = static_cast<BYTE>((byte << (8 - left)) | (0xFFu >> left));
}

struct Geometry {
    const BYTE* bits;
    LONG stride;
    LONG width;
    LONG height;
    int angle;
};

// Gathers output row `row` of a rotated band into `pixels` (`count` pixels of
// P bytes each).
template <int P>
void GatherRow(const Geometry& source, LONG row, LONG count, BYTE* pixels) {
    const std::ptrdiff_t stride = source.stride;
    const BYTE* at;
    std::ptrdiff_t step;
    switch (source.angle) {
        case 90:  // source column W - 1 - row, top to bottom
            at = source.bits + std::ptrdiff_t{source.width - 1 - row} * P;
            step = stride;
            break;
        case 270:  // source column row, bottom to top
            at = source.bits + std::ptrdiff_t{source.height - 1} * stride + std::ptrdiff_t{row} * P;
            step = -stride;
            break;
        default:  // 180: source row H - 1 - row, right to left
            at = source.bits + std::ptrdiff_t{source.height - 1 - row} * stride +
                 std::ptrdiff_t{source.width - 1} * P;
            step = -P;
            break;
    }
    for (LONG x = 0; x < count; ++x, at += step, pixels += P) {
        if constexpr (P == 1) {
            pixels[0] = at[0];
        } else {
            pixels[0] = at[0];
            pixels[1] = at[1];
            pixels[2] = at[2];
        }
    }
}

void GreyOfColour(const BYTE* pixels, LONG count, BYTE* grey) {
    for (LONG x = 0; x < count; ++x, pixels += 3)
        grey[x] = static_cast<BYTE>((5 * pixels[0] + 9 * pixels[1] + 2 * pixels[2]) >> 4);
}

// Per-band working memory: the gathered row (rotations only), the grey row
// (24-bit pixels only) and, by method, the dot tables or the error rows.
struct Workspace {
    Block<BYTE> gathered;
    Block<BYTE> grey;
    Block<OrderedBits> ordered;
    Block<SHORT> errors;  // per plane two rows of width + 2 (guards)
};

bool Prepare(Workspace* work, const HalftoneState& state, int angle, bool ordered, bool diffusion) {
    const auto width = static_cast<std::size_t>(state.outputWidth);
    if (angle != 0) {
        work->gathered = Allocate<BYTE>(width * state.bytesPerPixel);
        if (!work->gathered) return false;
    }
    if (state.bytesPerPixel == 3) {
        work->grey = Allocate<BYTE>(width);
        if (!work->grey) return false;
    }
    if (ordered) {
        work->ordered = Allocate<OrderedBits>(state.planeCount);
        if (!work->ordered) return false;
    }
    if (diffusion) {
        work->errors = Allocate<SHORT>(2 * state.planeCount * (width + 2));
        if (!work->errors) return false;
        std::memset(work->errors.get(), 0, 2 * state.planeCount * (width + 2) * sizeof(SHORT));
    }
    return true;
}

// The grey values of output row `row` in printer order.
const BYTE* GreyRow(const Geometry& source, const HalftoneState& state, Workspace* work, LONG row) {
    const LONG width = state.outputWidth;
    const BYTE* pixels;
    if (source.angle == 0) {
        pixels = source.bits + std::ptrdiff_t{row} * source.stride;
    } else {
        if (state.bytesPerPixel == 3)
            GatherRow<3>(source, row, width, work->gathered.get());
        else
            GatherRow<1>(source, row, width, work->gathered.get());
        pixels = work->gathered.get();
    }
    if (state.bytesPerPixel == 1) return pixels;
    GreyOfColour(pixels, width, work->grey.get());
    return work->grey.get();
}

bool SourceUsable(const HalftoneSource& source, int angle, const BYTE* plane1, LONG outStride) {
    if (source.bits == nullptr || plane1 == nullptr) return false;
    if (source.bitsPerPixel != 8 && source.bitsPerPixel != 24) return false;
    if (angle != 0 && angle != 90 && angle != 180 && angle != 270) return false;
    if (source.width < 0 || source.height < 0 || outStride < 0) return false;
    const std::int64_t rowBytes = std::int64_t{source.width} * (source.bitsPerPixel / 8);
    if (source.height > 1 && std::abs(std::int64_t{source.stride}) < rowBytes) return false;
    const SIZEL size = HalftoneOutputSize(source, angle);
    return outStride >= (std::int64_t{size.cx} + 7) / 8;
}

void SetUpState(HalftoneState* state, DWORD method, const HalftoneSource& source, int angle,
                BYTE* plane1, BYTE* plane2, LONG outStride) {
    const SIZEL size = HalftoneOutputSize(source, angle);
    *state = HalftoneState{};
    state->method = method;
    state->planeCount = plane2 != nullptr ? 2 : 1;
    state->planes[0] = {plane2 != nullptr ? kPlaneDark : kPlaneSingle, plane1, {}};
    if (plane2 != nullptr) state->planes[1] = {kPlaneLight, plane2, {}};
    state->outputStride = outStride;
    state->outputWidth = size.cx;
    state->outputRows = size.cy;
    state->bytesPerPixel = source.bitsPerPixel / 8;
}

void Dither(HalftoneState* state, const Geometry& source, Workspace* work,
            const GreyMap (&maps)[2]) {
    const LONG width = state->outputWidth;
    for (LONG row = 0; row < state->outputRows; ++row) {
        const BYTE* grey = GreyRow(source, *state, work, row);
        for (DWORD p = 0; p < state->planeCount; ++p) {
            BYTE* out = state->planes[p].bits + std::ptrdiff_t{row} * state->outputStride;
            if (state->method == kDitherErrorDiffusion) {
                SHORT*& current = state->planes[p].errorRows[0];
                SHORT*& next = state->planes[p].errorRows[1];
                if (row + 1 < state->outputRows)
                    DiffuseRow<true>(maps[p], grey, width, current, next, out);
                else
                    DiffuseRow<false>(maps[p], grey, width, current, next, out);
                std::swap(current, next);
                std::memset(next - 1, 0, (std::size_t(width) + 2) * sizeof(SHORT));
            } else {
                OrderedRow(work->ordered[p].white[row & 7], grey, width, out);
            }
        }
    }
}

}  // namespace

SIZEL HalftoneOutputSize(const HalftoneSource& source, int angle) {
    if (angle == 90 || angle == 270) return {source.height, source.width};
    return {source.width, source.height};
}

bool HalftoneBand(ExtPdev* pdev, const HalftoneSource& source, int angle, BYTE* plane1,
                  BYTE* plane2, LONG outStride) {
    // Only 8- and 24-bit bands are halftoned; the driver renders no 4- or
    // 16-bit bands, and such a band is refused rather than read as bits / 8
    // bytes per pixel.
    if (pdev == nullptr || !SourceUsable(source, angle, plane1, outStride)) return false;
    HalftoneState& state = pdev->halftone;
    SetUpState(&state, pdev->devmode.pub.dmDitherType, source, angle, plane1, plane2, outStride);

    const bool ordered = IsOrdered(state.method);
    const bool diffusion = state.method == kDitherErrorDiffusion;
    Workspace work;
    if (!Prepare(&work, state, angle, ordered, diffusion)) {
        state = HalftoneState{};
        return false;
    }
    const std::size_t planeBytes = std::size_t(outStride) * std::size_t(state.outputRows);
    for (DWORD p = 0; p < state.planeCount; ++p)
        std::memset(state.planes[p].bits, 0xFF, planeBytes);

    // Any other method leaves the planes white.
    if (ordered || diffusion) {
        GreyMap maps[2];
        for (DWORD p = 0; p < state.planeCount; ++p) {
            maps[p] = MapOfKind(state.planes[p].kind);
            if (ordered) PrepareOrdered(&work.ordered[p], state.method, maps[p]);
            if (diffusion) {
                SHORT* rows = work.errors.get() + 2 * p * (std::size_t(state.outputWidth) + 2);
                state.planes[p].errorRows[0] = rows + 1;
                state.planes[p].errorRows[1] = rows + state.outputWidth + 3;
            }
        }
        const Geometry geometry{source.bits, source.stride, source.width, source.height, angle};
        Dither(&state, geometry, &work, maps);
    }
    state = HalftoneState{};
    return true;
}
