// What a page should look like on paper, worked out independently of the
// driver and the command library: images as the test writes them, the page
// the application draws, the page turned into the printer's band direction,
// blank rows left out at the page edges, and the halftoning of grey bands.
#pragma once

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace e2e {

// A picture with one byte per pixel channel. For dot images (channels 1,
// `dots`) a non-zero byte is a dot; for grey (channels 1) and colour
// (channels 3, red green blue) the bytes are the levels, 0 black.
struct Picture {
    int width = 0;
    int height = 0;
    int channels = 1;
    std::vector<std::uint8_t> bytes;

    Picture() = default;
    Picture(int w, int h, int c = 1, std::uint8_t fill = 0)
        : width(w), height(h), channels(c), bytes(std::size_t(w) * h * c, fill) {}
    std::uint8_t* At(int x, int y) { return &bytes[(std::size_t(y) * width + x) * channels]; }
    const std::uint8_t* At(int x, int y) const {
        return &bytes[(std::size_t(y) * width + x) * channels];
    }
    bool Dot(int x, int y) const { return *At(x, y) != 0; }
    bool operator==(const Picture&) const = default;
};

// Dots with the given density in percent, rows `blankTop` and `blankBottom`
// at either end left white.
inline Picture RandomDots(int width, int height, unsigned seed, int percent = 50, int blankTop = 0,
                          int blankBottom = 0) {
    Picture picture(width, height);
    std::mt19937 random(seed);
    for (int y = blankTop; y < height - blankBottom; ++y)
        for (int x = 0; x < width; ++x)
            *picture.At(x, y) = static_cast<int>(random() % 100) < percent ? 1 : 0;
    return picture;
}

// A frame, a shallow diagonal and a checkerboard corner: shapes whose
// turning or mirroring shows at a glance.
inline Picture Structured(int width, int height) {
    Picture picture(width, height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const bool frame = x == 0 || y == 0 || x == width - 1 || y == height - 1;
            const bool diagonal = x / 3 == y;
            const bool checker = x < width / 4 && y < height / 2 && (x / 4 + y / 4) % 2 == 0;
            *picture.At(x, y) = frame || diagonal || checker ? 1 : 0;
        }
    return picture;
}

inline Picture RandomLevels(int width, int height, int channels, unsigned seed) {
    Picture picture(width, height, channels);
    std::mt19937 random(seed);
    for (std::uint8_t& byte : picture.bytes) byte = static_cast<std::uint8_t>(random());
    return picture;
}

// P4 for dot images, P5 for grey, P6 for colour; maximum value 255.
inline void WriteNetpbm(const std::filesystem::path& path, const Picture& picture, bool dots) {
    std::ofstream out(path, std::ios::binary);
    if (dots) {
        out << "P4\n" << picture.width << ' ' << picture.height << '\n';
        const int stride = (picture.width + 7) / 8;
        for (int y = 0; y < picture.height; ++y) {
            std::vector<char> row(std::size_t(stride), 0);
            for (int x = 0; x < picture.width; ++x)
                if (picture.Dot(x, y))
                    row[std::size_t(x / 8)] |= static_cast<char>(0x80 >> (x % 8));
            out.write(row.data(), stride);
        }
        return;
    }
    out << (picture.channels == 1 ? "P5\n" : "P6\n") << picture.width << ' ' << picture.height
        << "\n255\n";
    out.write(reinterpret_cast<const char*>(picture.bytes.data()),
              static_cast<std::streamsize>(picture.bytes.size()));
}

// `part` drawn onto `page` with its top-left corner at (left, top), clipped.
inline void Place(Picture* page, const Picture& part, int left, int top) {
    for (int y = 0; y < part.height; ++y)
        for (int x = 0; x < part.width; ++x) {
            const int px = left + x;
            const int py = top + y;
            if (px < 0 || py < 0 || px >= page->width || py >= page->height) continue;
            std::copy_n(part.At(x, y), part.channels, page->At(px, py));
        }
}

// The band directions: the page as drawn (portrait), upside down (portrait
// rotated 180), and the two landscape directions. A landscape page is
// printed across the paper's length: its columns become paper rows.
enum class Direction { kTopToBottom, kBottomToTop, kLeftToRight, kRightToLeft };

// The page in paper order: paper row i, dot x.
//   top to bottom: page row i as it is;
//   bottom to top: page row H-1-i, mirrored;
//   left to right: page column i read from the bottom up;
//   right to left: page column W-1-i read from the top down.
inline Picture ToPaper(const Picture& page, Direction direction) {
    const int w = page.width;
    const int h = page.height;
    const bool across =
        direction == Direction::kLeftToRight || direction == Direction::kRightToLeft;
    Picture paper(across ? h : w, across ? w : h, page.channels);
    for (int i = 0; i < paper.height; ++i)
        for (int x = 0; x < paper.width; ++x) {
            const std::uint8_t* from = nullptr;
            switch (direction) {
                case Direction::kTopToBottom:
                    from = page.At(x, i);
                    break;
                case Direction::kBottomToTop:
                    from = page.At(w - 1 - x, h - 1 - i);
                    break;
                case Direction::kLeftToRight:
                    from = page.At(i, h - 1 - x);
                    break;
                case Direction::kRightToLeft:
                    from = page.At(w - 1 - i, x);
                    break;
            }
            std::copy_n(from, page.channels, paper.At(x, i));
        }
    return paper;
}

// Rows [first, last) of a picture.
inline Picture Rows(const Picture& picture, int first, int last) {
    Picture part(picture.width, last - first, picture.channels);
    std::copy(picture.bytes.begin() + std::ptrdiff_t(first) * picture.width * picture.channels,
              picture.bytes.begin() + std::ptrdiff_t(last) * picture.width * picture.channels,
              part.bytes.begin());
    return part;
}

inline bool BlankRow(const Picture& dots, int y) {
    for (int x = 0; x < dots.width; ++x)
        if (dots.Dot(x, y)) return false;
    return true;
}

// Blank rows at the top and/or bottom of a printed page are left out; the
// blank rows between printed ones stay as paper feed.
inline Picture SkipBlank(const Picture& dots, bool top, bool bottom) {
    int first = 0;
    int last = dots.height;
    if (top)
        while (first < last && BlankRow(dots, first)) ++first;
    if (bottom)
        while (last > first && BlankRow(dots, last - 1)) --last;
    return Rows(dots, first, last);
}

// ---- Halftoning of a grey or colour band into one or two dot planes ----

inline constexpr std::uint8_t kT4[16] = {0xA5, 0x47, 0x67, 0x87, 0xC7, 0x07, 0x27, 0xE7,
                                         0x77, 0x97, 0xB7, 0x57, 0x37, 0xF7, 0xD7, 0x17};
inline constexpr std::uint8_t kT8[64] = {
    0x61, 0x09, 0x29, 0x69, 0x99, 0xF1, 0xD1, 0x91, 0x11, 0x01, 0x21, 0x41, 0xE9, 0xF9, 0xD9, 0xB9,
    0x31, 0x19, 0x39, 0x51, 0xC9, 0xE1, 0xC1, 0xA9, 0x71, 0x49, 0x59, 0x79, 0x89, 0xB1, 0xA1, 0x81,
    0x9D, 0xF5, 0xD5, 0x95, 0x65, 0x0D, 0x2D, 0x6D, 0xED, 0xFD, 0xDD, 0xBD, 0x15, 0x05, 0x25, 0x45,
    0xCD, 0xE5, 0xC5, 0xAD, 0x35, 0x1D, 0x3D, 0x55, 0x8D, 0xB5, 0xA5, 0x85, 0x75, 0x4D, 0x5D, 0x7D};

inline int GreyOf(const std::uint8_t* pixel, int channels) {
    if (channels == 1) return pixel[0];
    return (5 * pixel[0] + 9 * pixel[1] + 2 * pixel[2]) / 16;
}

// a * b / c rounded to the nearest whole number (all operands non-negative).
inline int MulDivNearest(int a, int b, int c) {
    return (2 * a * b + c) / (2 * c);
}

// Plane 0 is the single plane; planes 1 and 2 are the dark and light
// halves of two-colour printing.
inline int MappedGrey(int grey, int plane) {
    if (plane == 1) return MulDivNearest(std::min(grey, 79), 255, 79);
    if (plane == 2) return grey > 78 ? MulDivNearest(grey - 79, 255, 176) : 0;
    return grey;
}

// Dots (1) of one plane of a band of levels already in paper order.
inline Picture HalftoneBand(const Picture& band, int method, int plane) {
    Picture dots(band.width, band.height);
    if (method == 5) {
        std::vector<int> current(std::size_t(band.width)), next(std::size_t(band.width), 0);
        for (int i = 0; i < band.height; ++i) {
            for (int x = 0; x < band.width; ++x)
                current[std::size_t(x)] =
                    MappedGrey(GreyOf(band.At(x, i), band.channels), plane) + next[std::size_t(x)];
            std::fill(next.begin(), next.end(), 0);
            for (int x = 0; x < band.width; ++x) {
                const int v = current[std::size_t(x)];
                const bool dot = v < 128;
                *dots.At(x, i) = dot ? 1 : 0;
                const int e = static_cast<std::int16_t>(v - (dot ? 0 : 255));
                if (x + 1 < band.width) current[std::size_t(x + 1)] += 7 * e / 16;
                if (i + 1 < band.height) {
                    if (x >= 1) next[std::size_t(x - 1)] += 3 * e / 16;
                    next[std::size_t(x)] += 5 * e / 16;
                    if (x + 1 < band.width) next[std::size_t(x + 1)] += e / 16;
                }
            }
        }
        return dots;
    }
    for (int i = 0; i < band.height; ++i)
        for (int x = 0; x < band.width; ++x) {
            const int v = MappedGrey(GreyOf(band.At(x, i), band.channels), plane);
            bool dot = false;
            if (method == 257) dot = v <= kT4[(x % 4) * 4 + i % 4];
            if (method == 258) dot = v <= kT8[(x % 8) * 8 + i % 8];
            if (method == 260) dot = v < 128;
            *dots.At(x, i) = dot ? 1 : 0;
        }
    return dots;
}

// A whole paper of levels halftoned band by band (each band starts its
// error diffusion afresh), `bandRows` paper rows to a band.
inline Picture HalftonePaper(const Picture& paper, int method, int plane, int bandRows) {
    Picture dots(paper.width, paper.height);
    for (int first = 0; first < paper.height; first += bandRows) {
        const int last = std::min(paper.height, first + bandRows);
        const Picture band = HalftoneBand(Rows(paper, first, last), method, plane);
        std::copy(band.bytes.begin(), band.bytes.end(),
                  dots.bytes.begin() + std::ptrdiff_t(first) * paper.width);
    }
    return dots;
}

}  // namespace e2e
