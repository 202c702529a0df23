// Small JPEG files made with libjpeg, for the image tests.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

// The platform's TRUE and FALSE come before libjpeg's macros of the same
// names; jpeglib.h needs FILE declared first.
// clang-format off
#include "platform/types.h"
#include <jpeglib.h>
// clang-format on

namespace testsupport {

struct JpegLayout {
    int width;
    int height;
    int components;                   // 1 grey, 3 RGB, 4 CMYK
    std::vector<unsigned char> rows;  // samples as given to libjpeg, rows back to back
    bool progressive = false;
};

// The encoded file; libjpeg writes an Adobe marker into CMYK files, so their
// samples are read back inverted (255: no ink).
inline std::string MakeJpeg(const JpegLayout& layout) {
    jpeg_compress_struct encoder{};
    jpeg_error_mgr errors{};
    encoder.err = jpeg_std_error(&errors);  // a failure ends the test program
    jpeg_create_compress(&encoder);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&encoder, &buffer, &size);
    encoder.image_width = static_cast<JDIMENSION>(layout.width);
    encoder.image_height = static_cast<JDIMENSION>(layout.height);
    encoder.input_components = layout.components;
    encoder.in_color_space = layout.components == 1   ? JCS_GRAYSCALE
                             : layout.components == 3 ? JCS_RGB
                                                      : JCS_CMYK;
    jpeg_set_defaults(&encoder);
    jpeg_set_quality(&encoder, 100, TRUE);
    if (layout.progressive) jpeg_simple_progression(&encoder);
    jpeg_start_compress(&encoder, TRUE);
    const std::size_t stride = static_cast<std::size_t>(layout.width) * layout.components;
    while (encoder.next_scanline < encoder.image_height) {
        JSAMPROW row = const_cast<unsigned char*>(layout.rows.data()) +
                       static_cast<std::size_t>(encoder.next_scanline) * stride;
        jpeg_write_scanlines(&encoder, &row, 1);
    }
    jpeg_finish_compress(&encoder);
    std::string file(reinterpret_cast<const char*>(buffer), size);
    jpeg_destroy_compress(&encoder);
    std::free(buffer);
    return file;
}

}  // namespace testsupport
