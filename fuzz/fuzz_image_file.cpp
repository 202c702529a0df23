// Any bytes as an image file qlpr prints (PNG, JPEG, BMP of every
// compression, PBM/PGM/PPM plain and raw; the reader picks the format by the
// first bytes). A decoded image must be within the size limits and hold
// every row its stride and height promise; it is then drawn, scaled and at
// its own size, into small bands by the engine's services (images of up to
// kMaxDrawnPixels only: scaling reads every pixel, and the limits allow
// hundreds of millions).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>

#include "fuzz/band_surface.h"
#include "tools/image_files.h"
#include "tools/page_description.h"

namespace {

constexpr std::uint64_t kMaxDrawnPixels = std::uint64_t{1} << 12;

void CheckImage(const qlpr::DecodedImage& image) {
    if (image.width <= 0 || image.height <= 0 || image.width > qlpr::kMaxImageSide ||
        image.height > qlpr::kMaxImageSide)
        std::abort();
    const ULONG bits = BitsPerPixel(image.format);
    if (bits == 0) return;  // run-length data is kept as the file has it
    if (static_cast<std::size_t>(image.stride) < qlpr::PaddedRowBytes(image.format, image.width) ||
        image.bits.size() < static_cast<std::size_t>(image.stride) * image.height)
        std::abort();
    if (bits <= 8 && image.palette.size() > (std::size_t{1} << bits)) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string error;
    std::optional<qlpr::DecodedImage> image =
        qlpr::DecodeImageFile(std::span<const BYTE>(data, size), &error);
    if (!image) {
        if (error.empty()) std::abort();  // a refusal says why
        return 0;
    }
    CheckImage(*image);

    const LONG width = image->width, height = image->height;
    if (static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height) > kMaxDrawnPixels)
        return 0;
    // At its own size across the top left of a 1-bit band, then scaled into a
    // 24-bit band over a corner of the image.
    const host::PageItem own = qlpr::PlaceImage(*image, {0, 0, width, height});
    fuzzing::Band oneBit(48, 16, BMF_1BPP);
    oneBit.Draw(own, {0, 0});
    const host::PageItem scaled = qlpr::PlaceImage(
        std::move(*image), {-3, -2, std::min<LONG>(width, 40) + 5, std::min<LONG>(height, 24) + 1});
    fuzzing::Band colour(16, 8, BMF_24BPP);
    colour.Draw(scaled, {0, 0});
    return 0;
}
