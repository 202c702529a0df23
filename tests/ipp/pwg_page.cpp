// Writes a grey image as a page of PWG raster (sgray_8), or of Apple raster
// with --apple, the way an application's print dialog sends it to a
// driverless printer: the whole media at the printer's resolution, white,
// with the image from the top of the page and `left` dots in. --pages N
// writes N such pages.
//
//   ipp_pwg_page [--apple] [--pages N] IMAGE OUT MEDIA DPI LEFT

#include <cups/raster.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "host/winddi.h"
#include "tools/image_files.h"

int main(int argc, char* argv[]) {
    const bool apple = argc > 1 && std::string(argv[1]) == "--apple";
    if (apple) --argc, ++argv;
    int pages = 1;
    if (argc > 2 && std::string(argv[1]) == "--pages") {
        pages = std::atoi(argv[2]);
        argc -= 2, argv += 2;
    }
    if (argc != 6 || pages < 1) {
        std::fprintf(stderr,
                     "usage: ipp_pwg_page [--apple] [--pages N] IMAGE OUT MEDIA DPI LEFT\n");
        return 2;
    }
    std::string error;
    const std::optional<qlpr::DecodedImage> image = qlpr::LoadImageFile(argv[1], &error);
    if (!image || image->format != BMF_8BPP) {
        std::fprintf(stderr, "ipp_pwg_page: %s: %s\n", argv[1],
                     image ? "not an 8-bit grey image" : error.c_str());
        return 1;
    }
    pwg_media_t* media = pwgMediaForPWG(argv[3]);
    const int dpi = std::atoi(argv[4]);
    const int left = std::atoi(argv[5]);
    cups_page_header2_t header;
    if (media == nullptr || dpi <= 0 ||
        !cupsRasterInitPWGHeader(&header, media, "sgray_8", dpi, dpi, "one-sided", "normal")) {
        std::fprintf(stderr, "ipp_pwg_page: bad media or resolution\n");
        return 1;
    }
    const int fd = open(argv[2], O_WRONLY | O_CREAT | O_TRUNC, 0644);
    cups_raster_t* raster =
        fd < 0 ? nullptr
               : cupsRasterOpen(fd, apple ? CUPS_RASTER_WRITE_APPLE : CUPS_RASTER_WRITE_PWG);
    if (raster == nullptr) {
        std::fprintf(stderr, "ipp_pwg_page: cannot write %s\n", argv[2]);
        return 1;
    }
    header.cupsInteger[CUPS_RASTER_PWG_TotalPageCount] = static_cast<unsigned>(pages);
    std::vector<unsigned char> line(header.cupsBytesPerLine);
    for (int page = 0; page < pages; ++page) {
        if (!cupsRasterWriteHeader2(raster, &header)) {
            std::fprintf(stderr, "ipp_pwg_page: cannot write %s\n", argv[2]);
            return 1;
        }
        for (unsigned y = 0; y < header.cupsHeight; ++y) {
            std::fill(line.begin(), line.end(), 0xFF);
            if (y < static_cast<unsigned>(image->height)) {
                const unsigned char* row = image->bits.data() + y * image->stride;
                for (long x = 0; x < image->width && left + x < static_cast<long>(line.size()); ++x)
                    line[left + x] = static_cast<unsigned char>(image->palette[row[x]] >> 8 & 0xFF);
            }
            cupsRasterWritePixels(raster, line.data(), header.cupsBytesPerLine);
        }
    }
    cupsRasterClose(raster);
    return close(fd) == 0 ? 0 : 1;
}
