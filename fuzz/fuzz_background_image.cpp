// Any bytes as a background bitmap file: refused, or converted without a
// read outside the file.
#include <cstddef>
#include <cstdint>

#include "driver/background_image.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    BackgroundImage image;
    if (DecodeBackgroundImage(data, size, &image)) {
        volatile std::size_t sink = image.pixels.size();
        (void)sink;
    }
    return 0;
}
