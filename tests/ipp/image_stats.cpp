// Tells what a picture holds, for scripts that check a screenshot is more
// than a blank page: its width and height, the number of distinct pixel
// values, and the share (per mille) of pixels that differ from the most
// common one, the background.
//
//   ipp_image_stats IMAGE   prints WIDTH HEIGHT VALUES INK-PER-MILLE

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <unordered_map>

#include "host/winddi.h"
#include "tools/image_files.h"

int main(int argc, char* argv[]) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: ipp_image_stats IMAGE\n");
        return 2;
    }
    std::string error;
    const std::optional<qlpr::DecodedImage> image = qlpr::LoadImageFile(argv[1], &error);
    if (!image) {
        std::fprintf(stderr, "ipp_image_stats: %s\n", error.c_str());
        return 1;
    }
    const ULONG pixelBytes = BitsPerPixel(image->format) / 8;
    if (pixelBytes == 0 || pixelBytes > 4 || image->stride <= 0) {
        std::fprintf(stderr, "ipp_image_stats: %s: not an image of whole-byte pixels\n", argv[1]);
        return 1;
    }
    std::unordered_map<std::uint32_t, long> counts;
    for (LONG y = 0; y < image->height; ++y) {
        const BYTE* row = image->bits.data() + static_cast<std::size_t>(y) * image->stride;
        for (LONG x = 0; x < image->width; ++x) {
            std::uint32_t value = 0;
            for (ULONG i = 0; i < pixelBytes; ++i) value = value << 8 | row[x * pixelBytes + i];
            ++counts[value];
        }
    }
    long background = 0;
    for (const auto& [value, count] : counts) background = std::max(background, count);
    const long pixels = static_cast<long>(image->width) * image->height;
    const long inkPerMille = pixels == 0 ? 0 : (pixels - background) * 1000 / pixels;
    std::printf("%ld %ld %zu %ld\n", static_cast<long>(image->width),
                static_cast<long>(image->height), counts.size(), inkPerMille);
    return 0;
}
