// Any 288 bytes as the request the graphics driver hands to BarcodeBlock
// (shorter inputs are zero-filled, as the driver fills its requests): the
// library refuses it, or measures it and then draws exactly the measured
// image into a buffer of the measured size.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "barcode/barcode_request.h"

extern "C" WORD BarcodeBlock(const BarcodeRequest* request, BarcodeSizeReply* size, BYTE* image);

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > sizeof(BarcodeRequest)) return -1;  // the rest would never be read
    BarcodeRequest request;
    std::memset(&request, 0, sizeof request);
    std::memcpy(&request, data, size);

    BarcodeSizeReply reply{};
    if (BarcodeBlock(&request, &reply, nullptr) != 1) return 0;
    const std::size_t stride = (std::size_t{reply.width} + 7) / 8;
    if (reply.width == 0 || reply.height == 0 || reply.imageBytes != stride * reply.height)
        std::abort();
    // Exactly the measured size on the heap, so that a larger drawing overflows.
    const auto image = std::make_unique<BYTE[]>(reply.imageBytes);
    if (BarcodeBlock(&request, nullptr, image.get()) != 1) std::abort();
    // Both forms at once are refused.
    if (BarcodeBlock(&request, &reply, image.get()) != 0) std::abort();
    return 0;
}
