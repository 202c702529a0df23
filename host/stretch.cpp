// The engine's stretching service, and the smoothing filter that a
// halftoned stretch samples through.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <new>
#include <vector>

#include "host/drawing.h"
#include "host/surface_format.h"

namespace host {

namespace {

// The source pixels one destination pixel is made of, with their weights
// (summing to one).
struct Footprint {
    std::size_t first;  // index into AxisFilter::taps
    std::size_t count;
};

// A separable filter along one axis: for each destination pixel of
// [first, last), the source pixels it averages. Enlarging interpolates
// between the two nearest pixel centres (bilinear); shrinking averages the
// pixels under the destination pixel's footprint (a box as wide as the
// scale). Samples beyond [low, high) take the edge pixel.
struct AxisFilter {
    struct Tap {
        LONG source;
        float weight;
    };
    std::vector<Footprint> pixels;
    std::vector<Tap> taps;
    LONG lowest = 0;  // the source pixels read, [lowest, highest]
    LONG highest = 0;

    AxisFilter(const AxisMap& map, LONG first, LONG last, LONG low, LONG high) {
        const double step =
            static_cast<double>(map.sourceExtent) / static_cast<double>(map.destExtent);
        lowest = high - 1;
        highest = low;
        pixels.reserve(static_cast<std::size_t>(last - first));
        for (LONG d = first; d < last; ++d) {
            // The destination pixel's centre in source coordinates.
            const double along = (static_cast<double>(d - map.destStart) + 0.5) * step;
            const double centre =
                map.mirror ? static_cast<double>(map.sourceStart + map.sourceExtent) - along
                           : static_cast<double>(map.sourceStart) + along;
            const std::size_t start = taps.size();
            if (step <= 1.0) {
                const double position = centre - 0.5;
                const double below = std::floor(position);
                const auto fraction = static_cast<float>(position - below);
                Add(static_cast<std::int64_t>(below), 1.0f - fraction, low, high);
                Add(static_cast<std::int64_t>(below) + 1, fraction, low, high);
            } else {
                // The footprint's parts beyond the limits fall to the edge
                // pixels, so that a huge footprint costs no more than the
                // pixels it covers.
                const double from = centre - step / 2;
                const double to = centre + step / 2;
                const double inFrom = std::max<double>(from, low);
                const double inTo = std::min<double>(to, high);
                if (from < low) {
                    const double outside = std::min<double>(to, low) - from;
                    Add(low, static_cast<float>(outside / step), low, high);
                }
                for (auto i = static_cast<std::int64_t>(std::floor(inFrom)); i < inTo; ++i) {
                    const double covered = std::min<double>(inTo, static_cast<double>(i + 1)) -
                                           std::max<double>(inFrom, static_cast<double>(i));
                    if (covered > 0) Add(i, static_cast<float>(covered / step), low, high);
                }
                if (to > high) {
                    const double outside = to - std::max<double>(from, high);
                    Add(high - 1, static_cast<float>(outside / step), low, high);
                }
            }
            pixels.push_back({start, taps.size() - start});
        }
    }

  private:
    void Add(std::int64_t source, float weight, LONG low, LONG high) {
        const auto pixel = static_cast<LONG>(std::clamp<std::int64_t>(source, low, high - 1));
        lowest = std::min(lowest, pixel);
        highest = std::max(highest, pixel);
        taps.push_back({pixel, weight});
    }
};

// A channel's filtered value back into a byte. The weights are positive
// and sum to one, so the value lies within 0 to 255 give or take rounding.
ULONG Channel(float value, int shift) {
    const int rounded = static_cast<int>(value + 0.5f);
    return static_cast<ULONG>(std::min(rounded, 255)) << shift;
}

}  // namespace

bool SmoothSample(const SourceReader& source, const AxisMap& xMap, const AxisMap& yMap,
                  const RECTL& sourceLimit, const RECTL& area, std::vector<ULONG>* colours) {
    const LONG width = area.right - area.left;
    const LONG height = area.bottom - area.top;
    if (width <= 0 || height <= 0 || sourceLimit.right <= sourceLimit.left ||
        sourceLimit.bottom <= sourceLimit.top)
        return false;
    try {
        const AxisFilter columns(xMap, area.left, area.right, sourceLimit.left, sourceLimit.right);
        const AxisFilter rows(yMap, area.top, area.bottom, sourceLimit.top, sourceLimit.bottom);

        // Source rows filtered along x (red, green, blue per destination
        // column); neighbouring destination rows share source rows, so the
        // last two stay at hand.
        const std::size_t lineFloats = 3 * static_cast<std::size_t>(width);
        std::vector<LONG> read(static_cast<std::size_t>(columns.highest - columns.lowest + 1));
        for (std::size_t i = 0; i < read.size(); ++i)
            read[i] = columns.lowest + static_cast<LONG>(i);
        std::vector<ULONG> line(read.size());
        std::vector<float> channels(3 * read.size());  // the source row, red, green, blue
        LONG held[2] = {-1, -1};
        std::vector<float> filtered[2] = {std::vector<float>(lineFloats),
                                          std::vector<float>(lineFloats)};
        int older = 0;
        auto filteredRow = [&](LONG y) -> const float* {
            for (int i = 0; i < 2; ++i)
                if (held[i] == y) return filtered[i].data();
            const int slot = older;
            older ^= 1;
            held[slot] = y;
            source.ReadRow(y, read.data(), read.size(), line.data(), nullptr);
            for (std::size_t i = 0; i < line.size(); ++i) {
                channels[3 * i] = RedOf(line[i]);
                channels[3 * i + 1] = GreenOf(line[i]);
                channels[3 * i + 2] = BlueOf(line[i]);
            }
            float* out = filtered[slot].data();
            for (const Footprint& pixel : columns.pixels) {
                float red = 0, green = 0, blue = 0;
                for (std::size_t t = pixel.first; t < pixel.first + pixel.count; ++t) {
                    const AxisFilter::Tap& tap = columns.taps[t];
                    const float* rgb =
                        channels.data() + 3 * static_cast<std::size_t>(tap.source - columns.lowest);
                    red += tap.weight * rgb[0];
                    green += tap.weight * rgb[1];
                    blue += tap.weight * rgb[2];
                }
                *out++ = red;
                *out++ = green;
                *out++ = blue;
            }
            return filtered[slot].data();
        };

        colours->resize(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
        std::vector<float> sum(lineFloats);
        ULONG* out = colours->data();
        for (const Footprint& pixel : rows.pixels) {
            const float* first = filteredRow(rows.taps[pixel.first].source);
            const float firstWeight = rows.taps[pixel.first].weight;
            for (std::size_t i = 0; i < lineFloats; ++i) sum[i] = firstWeight * first[i];
            for (std::size_t t = pixel.first + 1; t < pixel.first + pixel.count; ++t) {
                const float* in = filteredRow(rows.taps[t].source);
                const float weight = rows.taps[t].weight;
                for (std::size_t i = 0; i < lineFloats; ++i) sum[i] += weight * in[i];
            }
            for (LONG x = 0; x < width; ++x) {
                const float* rgb = sum.data() + 3 * static_cast<std::size_t>(x);
                *out++ = Channel(rgb[0], 0) | Channel(rgb[1], 8) | Channel(rgb[2], 16);
            }
        }
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

}  // namespace host

extern "C" {

// HALFTONE scales through the smoothing filter and, into one bit, dithers
// with the ordered pattern of the destination's device (the size its
// driver reported; 8x8 without a device) anchored at the halftone origin
// (the destination's origin when none is given); every other mode samples
// the nearest pixel and takes the nearer of black and white in one bit.
// The mask and the colour adjustment are not looked at.
BOOL EngStretchBlt(SURFOBJ* dest, SURFOBJ* source, SURFOBJ*, CLIPOBJ* clip, XLATEOBJ* xlate,
                   COLORADJUSTMENT*, POINTL* halftoneOrigin, RECTL* destRect, RECTL* sourceRect,
                   POINTL*, ULONG mode) {
    if (destRect == nullptr || sourceRect == nullptr) return FALSE;
    if (!host::UsableDestination(dest)) return FALSE;
    host::SourceReader reader;
    if (!reader.Open(source, xlate)) return FALSE;
    host::Transfer transfer;
    transfer.dest = dest;
    transfer.destRect = *destRect;
    transfer.sourceRect = *sourceRect;
    transfer.clip = clip;
    transfer.source = &reader;
    transfer.smooth = mode == HALFTONE;
    transfer.halftone = mode == HALFTONE && dest->iBitmapFormat == BMF_1BPP;
    if (transfer.halftone) transfer.halftonePattern = host::HalftonePatternSizeOf(dest);
    if (halftoneOrigin != nullptr) transfer.halftoneOrigin = *halftoneOrigin;
    return host::RunTransfer(transfer);
}

}  // extern "C"
