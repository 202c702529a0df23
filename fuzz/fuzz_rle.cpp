// Any bytes as a run-length compressed source (4 or 8 bits per pixel): the
// host's decoder and the driver engine's decoder stay inside their buffers
// and agree on every pixel, the one giving an index byte per pixel, the
// other packed rows.
//
// Input: format (even: 8 bits, odd: 4 bits), width and height (one byte
// each, 1 to 64), then the compressed data.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "harness_support.h"
#include "host/rle.h"
#include "render/bitmap_blt.h"

namespace {

// Run-length encodes rows of pixel indices: runs of a repeated value,
// literal stretches of three or more pixels padded to 16 bits, a move over
// a blank area, line ends and the bitmap's end.
std::vector<BYTE> Encode(const std::vector<std::vector<BYTE>>& rows, bool fourBits) {
    std::vector<BYTE> out;
    for (const std::vector<BYTE>& row : rows) {
        std::size_t x = 0;
        while (x < row.size()) {
            std::size_t run = 1;
            while (x + run < row.size() && row[x + run] == row[x] && run < 255) ++run;
            if (run >= 3 || x + 3 > row.size()) {
                out.push_back(static_cast<BYTE>(run));
                out.push_back(fourBits ? static_cast<BYTE>(row[x] << 4 | row[x]) : row[x]);
                x += run;
                continue;
            }
            std::size_t literal = 3;
            while (x + literal < row.size() && literal < 254 &&
                   !(x + literal + 2 < row.size() && row[x + literal] == row[x + literal + 1] &&
                     row[x + literal] == row[x + literal + 2]))
                ++literal;
            out.push_back(0);
            out.push_back(static_cast<BYTE>(literal));
            const std::size_t start = out.size();
            for (std::size_t k = 0; k < literal; ++k) {
                if (!fourBits)
                    out.push_back(row[x + k]);
                else if (k % 2 == 0)
                    out.push_back(static_cast<BYTE>(row[x + k] << 4));
                else
                    out.back() |= row[x + k];
            }
            if ((out.size() - start) % 2 != 0) out.push_back(0);
            x += literal;
        }
        out.push_back(0);
        out.push_back(0);
    }
    out.push_back(0);
    out.push_back(1);
    return out;
}

// Seeds: a grey ramp, bars and a picture with a blank area skipped by a
// move, at both depths; each checked against the host's decoder first.
void WriteSeeds() {
    for (bool fourBits : {false, true}) {
        const BYTE levels = fourBits ? 16 : 255;
        const LONG width = 40, height = 8;
        std::vector<std::vector<BYTE>> ramp, bars;
        for (LONG y = 0; y < height; ++y) {
            std::vector<BYTE> r, b;
            for (LONG x = 0; x < width; ++x) {
                r.push_back(static_cast<BYTE>((x * 7 + y) % levels));
                b.push_back(static_cast<BYTE>((x / 10 + y / 4) % 2 != 0 ? levels - 1 : 0));
            }
            ramp.push_back(r);
            bars.push_back(b);
        }
        const std::string depth = fourBits ? "rle4" : "rle8";
        for (const auto& [name, rows] : {std::pair{"ramp", ramp}, std::pair{"bars", bars}}) {
            std::vector<BYTE> seed{static_cast<BYTE>(fourBits ? 1 : 0), width - 1, height - 1};
            const std::vector<BYTE> encoded = Encode(rows, fourBits);
            std::vector<BYTE> decoded;
            host::UnpackRle(fourBits ? BMF_4RLE : BMF_8RLE, encoded.data(), encoded.size(), width,
                            height, &decoded);
            for (LONG y = 0; y < height; ++y)
                for (LONG x = 0; x < width; ++x)
                    if (decoded[y * width + x] != rows[y][x]) std::abort();
            seed.insert(seed.end(), encoded.begin(), encoded.end());
            fuzzsupport::WriteSeed(depth + "-" + name, seed.data(), seed.size());
        }
        // Two lines of bars, a move over three lines and ten pixels, one more line.
        std::vector<BYTE> moved = Encode({bars[0], bars[1]}, fourBits);
        moved.resize(moved.size() - 2);  // not the end yet
        const BYTE move[] = {0, 2, 10, 3};
        moved.insert(moved.end(), move, move + 4);
        const std::vector<BYTE> last = Encode({bars[2]}, fourBits);
        moved.insert(moved.end(), last.begin(), last.end());
        std::vector<BYTE> seed{static_cast<BYTE>(fourBits ? 1 : 0), width - 1, height - 1};
        seed.insert(seed.end(), moved.begin(), moved.end());
        fuzzsupport::WriteSeed(depth + "-move", seed.data(), seed.size());
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzsupport::WriteSeedsIfAsked(WriteSeeds);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 3) return 0;
    const bool fourBits = (data[0] & 1) != 0;
    const LONG width = data[1] % 64 + 1;
    const LONG height = data[2] % 64 + 1;
    const BYTE* bits = data + 3;
    const std::size_t bytes = size - 3;

    std::vector<BYTE> indices;
    if (!host::UnpackRle(fourBits ? BMF_4RLE : BMF_8RLE, bits, bytes, width, height, &indices))
        std::abort();  // a usable format and size always decode

    // The engine's decoder writes into rows of exactly the packed width, so
    // that the sanitizer sees a write past any row's end.
    const LONG stride = fourBits ? (width + 1) / 2 : width;
    std::vector<BYTE> packed(static_cast<std::size_t>(stride) * height, 0);
    std::vector<BYTE> copy(bits, bits + bytes);  // the engine takes a writable pointer
    BmpInfo source{};
    source.width = width;
    source.height = height;
    source.bitsPerPixel = fourBits ? 4 : 8;
    source.compression = fourBits ? kBmpRle4 : kBmpRle8;
    source.bits = copy.empty() ? nullptr : copy.data();
    source.size = static_cast<ULONG>(bytes);
    source.stride = stride;
    UnpackRle(source, packed.data(), stride);

    for (LONG y = 0; y < height; ++y) {
        for (LONG x = 0; x < width; ++x) {
            const BYTE* row = packed.data() + static_cast<std::size_t>(y) * stride;
            const BYTE engine =
                fourBits ? ((x & 1) != 0 ? row[x / 2] & 0x0F : row[x / 2] >> 4) : row[x];
            if (engine != indices[static_cast<std::size_t>(y) * width + x]) std::abort();
        }
    }
    return 0;
}
