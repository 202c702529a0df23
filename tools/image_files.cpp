#include "tools/image_files.h"

#include <png.h>
// jpeglib.h needs FILE declared first.
#include <jerror.h>
#include <jpeglib.h>

#include <algorithm>
#include <array>
#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "host/surface_format.h"
#include "host/winddi.h"
#include "tools/file_io.h"

namespace qlpr {
namespace {

constexpr ULONG kWhite = 0xFFFFFF;
constexpr ULONG kBlack = 0x000000;

std::vector<ULONG> GreyPalette() {
    std::vector<ULONG> palette(256);
    for (ULONG i = 0; i < 256; ++i) palette[i] = i << 16 | i << 8 | i;
    return palette;
}

// Checks the declared size against the limits and sets the image's size.
bool SetSize(DecodedImage* image, long long width, long long height, ULONG format,
             std::string* error) {
    if (width <= 0 || height <= 0) {
        *error = "the image has no pixels (" + std::to_string(width) + " x " +
                 std::to_string(height) + ")";
        return false;
    }
    if (width > kMaxImageSide || height > kMaxImageSide) {
        *error = "the image is too large (" + std::to_string(width) + " x " +
                 std::to_string(height) + "; at most " + std::to_string(kMaxImageSide) +
                 " on a side)";
        return false;
    }
    const std::size_t stride = PaddedRowBytes(format, static_cast<LONG>(width));
    if (stride * static_cast<std::size_t>(height) > kMaxImageBytes) {
        *error = "the image is too large (" + std::to_string(width) + " x " +
                 std::to_string(height) + "; at most 256 MiB of pixels)";
        return false;
    }
    image->width = static_cast<LONG>(width);
    image->height = static_cast<LONG>(height);
    image->format = format;
    image->stride = static_cast<LONG>(stride);
    return true;
}

// SetSize, and the pixels, cleared.
bool Allocate(DecodedImage* image, long long width, long long height, ULONG format,
              std::string* error) {
    if (!SetSize(image, width, height, format, error)) return false;
    image->bits.assign(static_cast<std::size_t>(image->stride) * static_cast<std::size_t>(height),
                       0);
    return true;
}

BYTE* Row(DecodedImage& image, LONG y) {
    return image.bits.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(image.stride);
}

// When a file stores its rows exactly as the image keeps them (`stride`
// bytes each, from `offset`), the file's own buffer becomes the image's
// bits: the rows move to its start, and a bottom-up file's are turned over
// in place. One-bit receipts (PBM, BMP) need no second page-sized buffer.
void TakeFileRows(host::PixelBytes* file, std::size_t offset, bool bottomUp, DecodedImage* image) {
    const auto stride = static_cast<std::size_t>(image->stride);
    const auto rows = static_cast<std::size_t>(image->height);
    std::memmove(file->data(), file->data() + offset, stride * rows);
    file->resize(stride * rows);
    if (bottomUp) {
        std::vector<BYTE> spare(stride);
        for (std::size_t top = 0, bottom = rows - 1; top < bottom; ++top, --bottom) {
            BYTE* upper = file->data() + top * stride;
            BYTE* lower = file->data() + bottom * stride;
            std::memcpy(spare.data(), upper, stride);
            std::memcpy(upper, lower, stride);
            std::memcpy(lower, spare.data(), stride);
        }
    }
    image->bits = std::move(*file);
}

// ---- Portable any-maps -------------------------------------------------

class PnmReader {
  public:
    explicit PnmReader(std::span<const BYTE> file) : file_(file) {}

    // The next decimal number of the header or of a plain raster, after
    // blanks and comments; none at the end or on anything but digits.
    std::optional<long long> Number() {
        SkipBlanks();
        if (pos_ >= file_.size() || !IsDigit(file_[pos_])) return std::nullopt;
        long long value = 0;
        while (pos_ < file_.size() && IsDigit(file_[pos_])) {
            value = value * 10 + (file_[pos_++] - '0');
            if (value > 0xFFFFFFFFLL) return std::nullopt;
        }
        return value;
    }
    // A plain bitmap's samples are single digits that need no blanks between them.
    std::optional<int> Bit() {
        SkipBlanks();
        if (pos_ >= file_.size() || (file_[pos_] != '0' && file_[pos_] != '1')) return std::nullopt;
        return file_[pos_++] - '0';
    }
    // The header ends with one blank character; the raster follows it.
    bool EndHeader() {
        if (pos_ >= file_.size() || !IsBlank(file_[pos_])) return false;
        ++pos_;
        return true;
    }
    std::size_t position() const { return pos_; }
    std::size_t rest() const { return file_.size() - pos_; }
    const BYTE* Take(std::size_t count) {
        if (count > file_.size() - pos_) return nullptr;
        const BYTE* at = file_.data() + pos_;
        pos_ += count;
        return at;
    }

  private:
    static bool IsDigit(BYTE c) { return c >= '0' && c <= '9'; }
    static bool IsBlank(BYTE c) {
        return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
    }
    void SkipBlanks() {
        while (pos_ < file_.size()) {
            if (file_[pos_] == '#') {
                while (pos_ < file_.size() && file_[pos_] != '\n' && file_[pos_] != '\r') ++pos_;
            } else if (IsBlank(file_[pos_])) {
                ++pos_;
            } else {
                break;
            }
        }
    }

    std::span<const BYTE> file_;
    std::size_t pos_ = 2;  // after the magic number
};

BYTE ScaleSample(unsigned value, unsigned maxval) {
    return static_cast<BYTE>((value * 255u + maxval / 2) / maxval);
}

bool ReadPlainBits(PnmReader& reader, DecodedImage& image, std::string* error) {
    for (LONG y = 0; y < image.height; ++y) {
        BYTE* row = Row(image, y);
        for (LONG x = 0; x < image.width; ++x) {
            std::optional<int> bit = reader.Bit();
            if (!bit) {
                *error = "the bitmap ends early or holds something other than 0 and 1";
                return false;
            }
            if (*bit) row[x / 8] |= static_cast<BYTE>(0x80 >> (x % 8));
        }
    }
    return true;
}

bool ReadRawBits(PnmReader& reader, DecodedImage& image, std::string* error) {
    const std::size_t rowBytes = (static_cast<std::size_t>(image.width) + 7) / 8;
    for (LONG y = 0; y < image.height; ++y) {
        const BYTE* source = reader.Take(rowBytes);
        if (source == nullptr) {
            *error = "the file ends early";
            return false;
        }
        std::memcpy(Row(image, y), source, rowBytes);
    }
    return true;
}

// Grey (one sample a pixel) and colour (three) rasters, plain or raw.
bool ReadSamples(PnmReader& reader, DecodedImage& image, int channels, unsigned maxval, bool plain,
                 std::string* error) {
    const std::size_t sampleBytes = maxval > 255 ? 2 : 1;
    for (LONG y = 0; y < image.height; ++y) {
        BYTE* row = Row(image, y);
        for (LONG x = 0; x < image.width; ++x) {
            std::array<BYTE, 3> pixel{};
            for (int c = 0; c < channels; ++c) {
                unsigned value = 0;
                if (plain) {
                    std::optional<long long> number = reader.Number();
                    if (!number) {
                        *error = "the raster ends early or holds something other than numbers";
                        return false;
                    }
                    value = static_cast<unsigned>(*number);
                } else {
                    const BYTE* at = reader.Take(sampleBytes);
                    if (at == nullptr) {
                        *error = "the file ends early";
                        return false;
                    }
                    value = sampleBytes == 2 ? (at[0] << 8u | at[1]) : at[0];
                }
                if (value > maxval) {
                    *error = "a sample is above the maximum value " + std::to_string(maxval);
                    return false;
                }
                pixel[c] = ScaleSample(value, maxval);
            }
            if (channels == 1) {
                row[x] = pixel[0];
            } else {  // stored blue, green, red
                row[3 * x] = pixel[2];
                row[3 * x + 1] = pixel[1];
                row[3 * x + 2] = pixel[0];
            }
        }
    }
    return true;
}

// ---- Windows bitmaps ---------------------------------------------------

constexpr DWORD kBiRgb = 0;
constexpr DWORD kBiRle8 = 1;
constexpr DWORD kBiRle4 = 2;
constexpr DWORD kBiBitfields = 3;
constexpr DWORD kBiAlphaBitfields = 6;
constexpr std::size_t kFileHeaderSize = 14;
constexpr std::size_t kCoreHeaderSize = 12;
constexpr std::size_t kInfoHeaderSize = 40;

template <class T>
T ReadLe(std::span<const BYTE> file, std::size_t at) {
    T value{};
    std::memcpy(&value, file.data() + at, sizeof value);
    return value;
}

struct BmpHeader {
    long long width = 0;
    long long height = 0;  // negative: rows top-down
    int bitCount = 0;
    DWORD compression = kBiRgb;
    DWORD sizeImage = 0;
    DWORD colourCount = 0;
    std::array<DWORD, 4> masks{};  // red, green, blue, alpha
    std::size_t headerSize = 0;
    std::size_t paletteEntryBytes = 4;
    std::size_t dataOffset = 0;
};

bool ReadBmpHeader(std::span<const BYTE> file, BmpHeader* header, std::string* error) {
    if (file.size() < kFileHeaderSize + 4) {
        *error = "the file ends inside its header";
        return false;
    }
    header->dataOffset = ReadLe<DWORD>(file, 10);
    header->headerSize = ReadLe<DWORD>(file, 14);
    const std::size_t info = kFileHeaderSize;
    if (header->headerSize != kCoreHeaderSize && header->headerSize < kInfoHeaderSize) {
        *error = "unknown bitmap header size " + std::to_string(header->headerSize);
        return false;
    }
    if (header->headerSize > file.size() - info) {
        *error = "the file ends inside its header";
        return false;
    }
    if (header->headerSize == kCoreHeaderSize) {
        header->width = ReadLe<WORD>(file, info + 4);
        header->height = ReadLe<WORD>(file, info + 6);
        header->bitCount = ReadLe<WORD>(file, info + 10);
        header->paletteEntryBytes = 3;
        return true;
    }
    header->width = ReadLe<LONG>(file, info + 4);
    header->height = ReadLe<LONG>(file, info + 8);
    header->bitCount = ReadLe<WORD>(file, info + 14);
    header->compression = ReadLe<DWORD>(file, info + 16);
    header->sizeImage = ReadLe<DWORD>(file, info + 20);
    header->colourCount = ReadLe<DWORD>(file, info + 32);
    // Masks live inside the longer headers, or follow the 40-byte one.
    if (header->compression == kBiBitfields || header->compression == kBiAlphaBitfields) {
        const std::size_t maskCount = header->compression == kBiAlphaBitfields ? 4 : 3;
        const std::size_t masksEnd = info + kInfoHeaderSize + 4 * maskCount;
        if (masksEnd > file.size()) {
            *error = "the file ends inside its colour masks";
            return false;
        }
        for (std::size_t i = 0; i < maskCount; ++i)
            header->masks[i] = ReadLe<DWORD>(file, info + kInfoHeaderSize + 4 * i);
        if (header->headerSize == kInfoHeaderSize) header->headerSize += 4 * maskCount;
        if (header->headerSize >= 56 && maskCount == 3)
            header->masks[3] = ReadLe<DWORD>(file, info + 52);
    }
    return true;
}

bool ReadBmpPalette(std::span<const BYTE> file, const BmpHeader& header, DecodedImage& image,
                    std::string* error) {
    const std::size_t most = std::size_t{1} << header.bitCount;
    std::size_t count = header.colourCount == 0 ? most : header.colourCount;
    count = std::min(count, most);
    const std::size_t start = kFileHeaderSize + header.headerSize;
    if (start > file.size() || count * header.paletteEntryBytes > file.size() - start) {
        *error = "the file ends inside its palette";
        return false;
    }
    image.palette.assign(most, kBlack);
    for (std::size_t i = 0; i < count; ++i) {
        const BYTE* entry = file.data() + start + i * header.paletteEntryBytes;  // blue, green, red
        image.palette[i] = ULONG{entry[2]} << 16 | ULONG{entry[1]} << 8 | entry[0];
    }
    return true;
}

// Walks the run-length data without drawing it, so that a stream that runs
// past its bytes is refused here rather than handed on.
bool CheckRunLengths(const BYTE* data, std::size_t size, bool fourBit, std::string* error) {
    std::size_t pos = 0;
    while (pos + 1 < size) {
        const BYTE count = data[pos];
        const BYTE code = data[pos + 1];
        pos += 2;
        if (count != 0) continue;  // an encoded run
        if (code == 0) continue;   // end of line
        if (code == 1) return true;
        if (code == 2) {  // delta
            pos += 2;
            continue;
        }
        const std::size_t literal = fourBit ? (std::size_t{code} + 1) / 2 : code;
        pos += (literal + 1) & ~std::size_t{1};  // literal runs are padded to words
    }
    if (pos <= size) return true;  // ends with the data, as many writers leave it
    *error = "the run-length data runs past the end of the file";
    return false;
}

int MaskShift(DWORD mask) {
    int shift = 0;
    while (mask != 0 && (mask & 1u) == 0) mask >>= 1, ++shift;
    return shift;
}

BYTE MaskedChannel(DWORD pixel, DWORD mask) {
    if (mask == 0) return 0;
    const DWORD value = (pixel & mask) >> MaskShift(mask);
    const DWORD most = mask >> MaskShift(mask);
    return static_cast<BYTE>((std::uint64_t{value} * 255 + most / 2) / most);
}

enum class BmpPixels { Copy, FromMasks };

// The layout of the file's pixels in the engine: the same bytes where the
// engine has the format, else a conversion through the colour masks.
bool ChooseBmpFormat(const BmpHeader& header, ULONG* format, BmpPixels* how, std::string* error) {
    const bool masked =
        header.compression == kBiBitfields || header.compression == kBiAlphaBitfields;
    if (!masked && header.compression != kBiRgb) {
        *error = "unsupported bitmap compression " + std::to_string(header.compression);
        return false;
    }
    *how = BmpPixels::Copy;
    const auto& m = header.masks;
    switch (header.bitCount) {
        case 1:
            *format = BMF_1BPP;
            break;
        case 4:
            *format = BMF_4BPP;
            break;
        case 8:
            *format = BMF_8BPP;
            break;
        case 24:
            *format = BMF_24BPP;
            break;
        case 16:
            *format = BMF_16BPP;
            if (masked && !(m[0] == 0x7C00 && m[1] == 0x3E0 && m[2] == 0x1F)) {
                *format = BMF_24BPP;
                *how = BmpPixels::FromMasks;
            }
            break;
        case 32:
            *format = BMF_32BPP;
            if (masked && !(m[0] == 0xFF0000 && m[1] == 0xFF00 && m[2] == 0xFF &&
                            (m[3] == 0 || m[3] == 0xFF000000)))
                *how = BmpPixels::FromMasks;
            break;
        default:
            *error = "unsupported bits per pixel " + std::to_string(header.bitCount);
            return false;
    }
    if (masked && header.bitCount != 16 && header.bitCount != 32) {
        *error = "colour masks need 16 or 32 bits per pixel";
        return false;
    }
    if (*how == BmpPixels::FromMasks && (m[0] == 0 || m[1] == 0 || m[2] == 0)) {
        *error = "a colour mask is empty";
        return false;
    }
    return true;
}

void ConvertMaskedRow(const BYTE* source, BYTE* dest, LONG width, const BmpHeader& header) {
    const int sourceBytes = header.bitCount / 8;
    const int destBytes = header.bitCount == 16 ? 3 : 4;
    for (LONG x = 0; x < width; ++x) {
        DWORD pixel = 0;
        std::memcpy(&pixel, source + x * sourceBytes, sourceBytes);
        BYTE* out = dest + x * destBytes;
        out[0] = MaskedChannel(pixel, header.masks[2]);
        out[1] = MaskedChannel(pixel, header.masks[1]);
        out[2] = MaskedChannel(pixel, header.masks[0]);
        if (destBytes == 4) out[3] = header.masks[3] ? MaskedChannel(pixel, header.masks[3]) : 0xFF;
    }
}

std::optional<DecodedImage> DecodeRunLengthBmp(std::span<const BYTE> file, const BmpHeader& header,
                                               std::string* error) {
    const bool fourBit = header.compression == kBiRle4;
    if (header.bitCount != (fourBit ? 4 : 8)) {
        *error = "run-length data needs " + std::string(fourBit ? "4" : "8") + " bits per pixel";
        return std::nullopt;
    }
    if (header.height < 0) {
        *error = "a run-length bitmap cannot be stored top-down";
        return std::nullopt;
    }
    DecodedImage image;
    // The limits apply to the pixels the data expands to.
    if (!SetSize(&image, header.width, header.height, fourBit ? BMF_4BPP : BMF_8BPP, error))
        return std::nullopt;
    if (!ReadBmpPalette(file, header, image, error)) return std::nullopt;
    if (header.dataOffset >= file.size()) {
        *error = "the file ends before its pixels";
        return std::nullopt;
    }
    std::size_t size = file.size() - header.dataOffset;
    if (header.sizeImage != 0) {
        if (header.sizeImage > size) {
            *error = "the file ends inside its pixels";
            return std::nullopt;
        }
        size = header.sizeImage;
    }
    const BYTE* data = file.data() + header.dataOffset;
    if (!CheckRunLengths(data, size, fourBit, error)) return std::nullopt;
    image.format = fourBit ? BMF_4RLE : BMF_8RLE;
    image.stride = 0;
    image.bits.assign(data, data + size);
    return image;
}

// ---- PNG ---------------------------------------------------------------

struct PngSource {
    std::span<const BYTE> file;
    std::size_t pos;
    char message[160];
};

void ReadPngBytes(png_structp png, png_bytep out, png_size_t count) {
    auto* source = static_cast<PngSource*>(png_get_io_ptr(png));
    if (count > source->file.size() - source->pos) png_error(png, "the file ends early");
    std::memcpy(out, source->file.data() + source->pos, count);
    source->pos += count;
}

void OnPngError(png_structp png, png_const_charp message) {
    auto* source = static_cast<PngSource*>(png_get_error_ptr(png));
    std::snprintf(source->message, sizeof source->message, "%s", message);
    png_longjmp(png, 1);
}

// Warnings (a damaged ancillary chunk, which libpng drops) do not stop a page.
void OnPngWarning(png_structp, png_const_charp) {}

// Chooses the transforms that bring the PNG's pixels into an engine format.
// A transparency chunk (tRNS) of an indexed, grey or RGB image is not
// applied (those pixels print in their stored colour), as the engine's
// indexed formats have no alpha; alpha channels are kept in the 32-bit form.
ULONG SetPngTransforms(png_structp png, png_infop info) {
    const int depth = png_get_bit_depth(png, info);
    const int type = png_get_color_type(png, info);
    if (depth == 16) png_set_strip_16(png);
    png_set_interlace_handling(png);
    switch (type) {
        case PNG_COLOR_TYPE_PALETTE:
            if (depth == 1) return BMF_1BPP;
            if (depth == 4) return BMF_4BPP;
            if (depth == 2) png_set_packing(png);
            return BMF_8BPP;
        case PNG_COLOR_TYPE_GRAY:
            if (depth == 1) return BMF_1BPP;
            if (depth < 8) png_set_expand_gray_1_2_4_to_8(png);
            return BMF_8BPP;
        case PNG_COLOR_TYPE_GRAY_ALPHA:
            png_set_gray_to_rgb(png);
            png_set_bgr(png);
            return BMF_32BPP;
        case PNG_COLOR_TYPE_RGB:
            png_set_bgr(png);
            return BMF_24BPP;
        default:  // RGB with alpha
            png_set_bgr(png);
            return BMF_32BPP;
    }
}

std::vector<ULONG> PngPalette(png_structp png, png_infop info, ULONG format) {
    if (png_get_color_type(png, info) != PNG_COLOR_TYPE_PALETTE)
        return format == BMF_1BPP ? std::vector<ULONG>{kBlack, kWhite} : GreyPalette();
    png_colorp entries = nullptr;
    int count = 0;
    std::vector<ULONG> palette(std::size_t{1} << host::BitsPerPixel(format), kBlack);
    if (png_get_PLTE(png, info, &entries, &count) != 0) {
        for (int i = 0; i < count && i < static_cast<int>(palette.size()); ++i)
            palette[i] =
                ULONG{entries[i].red} << 16 | ULONG{entries[i].green} << 8 | entries[i].blue;
    }
    return palette;
}

// Everything between setjmp and the last libpng call lives in the caller's
// frame or is trivially destructible, so that a longjmp skips no destructor.
bool ReadPng(png_structp png, png_infop info, DecodedImage* image, std::vector<png_bytep>* rows,
             std::string* error) {
    if (setjmp(png_jmpbuf(png))) return false;
    png_set_user_limits(png, kMaxImageSide, kMaxImageSide);
    png_set_read_fn(png, png_get_error_ptr(png), ReadPngBytes);
    png_read_info(png, info);
    const ULONG format = SetPngTransforms(png, info);
    png_read_update_info(png, info);
    if (!Allocate(image, png_get_image_width(png, info), png_get_image_height(png, info), format,
                  error))
        return false;
    if (png_get_rowbytes(png, info) > static_cast<std::size_t>(image->stride))
        png_error(png, "unexpected row size");
    image->palette = PngPalette(png, info, format);
    rows->resize(static_cast<std::size_t>(image->height));
    for (LONG y = 0; y < image->height; ++y) (*rows)[y] = Row(*image, y);
    png_read_image(png, rows->data());
    png_read_end(png, nullptr);
    return true;
}

// ---- JPEG --------------------------------------------------------------

// Warnings about damaged or missing pixel data end the decoding: libjpeg
// would go on and print grey or garbage where the data is bad. Other
// warnings (an unknown JFIF revision, stray bytes between markers) leave
// the pixels whole and are let pass.
constexpr int kFatalJpegWarnings[] = {JWRN_JPEG_EOF, JWRN_HIT_MARKER, JWRN_MUST_RESYNC,
                                      JWRN_HUFF_BAD_CODE};

// A progressive file may hold any number of scans, each a pass over the
// whole image; far more than any encoder writes is refused.
constexpr int kMaxJpegScans = 1000;

// libjpeg's error manager, with the way back to the decoder: an error
// never ends the process, it returns to the setjmp in ReadJpeg.
struct JpegErrors {
    jpeg_error_mgr manager;
    jpeg_progress_mgr progress;
    std::jmp_buf back;
    char message[JMSG_LENGTH_MAX];
};

[[noreturn]] void FailJpeg(j_common_ptr info, const char* message) {
    auto* errors = reinterpret_cast<JpegErrors*>(info->err);
    std::snprintf(errors->message, sizeof errors->message, "%s", message);
    std::longjmp(errors->back, 1);
}

[[noreturn]] void OnJpegError(j_common_ptr info) {
    char message[JMSG_LENGTH_MAX];
    (*info->err->format_message)(info, message);
    FailJpeg(info, message);
}

// Trace messages and harmless warnings go nowhere (libjpeg would print
// them on standard error).
void OnJpegMessage(j_common_ptr info, int level) {
    if (level >= 0) return;
    const int code = info->err->msg_code;
    if (std::find(std::begin(kFatalJpegWarnings), std::end(kFatalJpegWarnings), code) !=
        std::end(kFatalJpegWarnings))
        OnJpegError(info);
}

void OnJpegProgress(j_common_ptr info) {
    if (reinterpret_cast<j_decompress_ptr>(info)->input_scan_number > kMaxJpegScans)
        FailJpeg(info, "too many scans");
}

// Grey files stay one byte a pixel; colour files become blue, green, red;
// CMYK and YCCK files come out as CMYK and are turned into colour here.
ULONG ChooseJpegOutput(jpeg_decompress_struct* decoder) {
    switch (decoder->jpeg_color_space) {
        case JCS_GRAYSCALE:
            decoder->out_color_space = JCS_GRAYSCALE;
            return BMF_8BPP;
        case JCS_CMYK:
        case JCS_YCCK:
            decoder->out_color_space = JCS_CMYK;
            return BMF_24BPP;
        default:
            decoder->out_color_space = JCS_EXT_BGR;
            return BMF_24BPP;
    }
}

// Files with an Adobe marker (those that Adobe's programs write) store
// CMYK inverted, 255 meaning no ink; others store the ink itself.
void CmykRowToColour(const BYTE* cmyk, BYTE* bgr, LONG width, bool inverted) {
    for (LONG x = 0; x < width; ++x, cmyk += 4, bgr += 3) {
        const unsigned key = inverted ? cmyk[3] : 255u - cmyk[3];
        for (int c = 0; c < 3; ++c) {
            const unsigned ink = inverted ? cmyk[c] : 255u - cmyk[c];
            bgr[2 - c] = static_cast<BYTE>((ink * key + 127) / 255);  // C, M, Y: red, green, blue
        }
    }
}

// As ReadPng: what lives past the setjmp is in the caller's frame.
bool ReadJpeg(jpeg_decompress_struct* decoder, JpegErrors* errors, std::span<const BYTE> file,
              DecodedImage* image, std::vector<BYTE>* cmykRow, std::string* sizeError) {
    if (setjmp(errors->back)) return false;
    jpeg_create_decompress(decoder);
    decoder->progress = &errors->progress;
    jpeg_mem_src(decoder, file.data(), static_cast<unsigned long>(file.size()));
    jpeg_read_header(decoder, TRUE);
    const ULONG format = ChooseJpegOutput(decoder);
    if (!SetSize(image, decoder->image_width, decoder->image_height, format, sizeError))
        return false;
    jpeg_start_decompress(decoder);
    if (!Allocate(image, decoder->output_width, decoder->output_height, format, sizeError))
        return false;
    const bool cmyk = decoder->out_color_space == JCS_CMYK;
    if (cmyk) cmykRow->resize(std::size_t{4} * decoder->output_width);
    while (decoder->output_scanline < decoder->output_height) {
        BYTE* row = Row(*image, static_cast<LONG>(decoder->output_scanline));
        JSAMPROW target = cmyk ? cmykRow->data() : row;
        if (jpeg_read_scanlines(decoder, &target, 1) != 1)
            FailJpeg(reinterpret_cast<j_common_ptr>(decoder), "the file ends early");
        if (cmyk) CmykRowToColour(cmykRow->data(), row, image->width, decoder->saw_Adobe_marker);
    }
    jpeg_finish_decompress(decoder);
    if (format == BMF_8BPP) image->palette = GreyPalette();
    return true;
}

bool IsJpeg(std::span<const BYTE> file) {
    return file.size() >= 3 && file[0] == 0xFF && file[1] == 0xD8 && file[2] == 0xFF;
}

}  // namespace

std::size_t PaddedRowBytes(ULONG format, LONG width) {
    const std::uint64_t bits =
        std::uint64_t(host::BitsPerPixel(format)) * std::uint64_t(std::max(width, 0));
    return static_cast<std::size_t>((bits + 31) / 32 * 4);
}

namespace {

// The decoders; with `buffer` (holding the file's bytes) the image may take
// the file's buffer over.
// Whether the rest of the file can hold the raster of `image` (sized, not
// allocated): a raw sample takes one or two bytes, a plain one at least a
// character. A short file is refused before its pixels are allocated, which
// for a header of a few bytes could be hundreds of megabytes.
bool RasterFits(const PnmReader& reader, const DecodedImage& image, int kind, int channels,
                long long maxval) {
    const auto width = static_cast<std::size_t>(image.width);
    const auto height = static_cast<std::size_t>(image.height);
    std::size_t needed = width * height * static_cast<std::size_t>(channels);
    if (kind == 4) needed = (width + 7) / 8 * height;
    if ((kind == 5 || kind == 6) && maxval > 255) needed *= 2;
    return needed <= reader.rest();
}

std::optional<DecodedImage> DecodePnm(std::span<const BYTE> file, host::PixelBytes* buffer,
                                      std::string* error) {
    if (file.size() < 2 || file[0] != 'P' || file[1] < '1' || file[1] > '6') {
        *error = "not a portable any-map";
        return std::nullopt;
    }
    const int kind = file[1] - '0';
    const bool bitmap = kind == 1 || kind == 4;
    const bool plain = kind <= 3;
    PnmReader reader(file);
    std::optional<long long> width = reader.Number();
    std::optional<long long> height = reader.Number();
    std::optional<long long> maxval = bitmap ? std::optional<long long>(1) : reader.Number();
    if (!width || !height || !maxval) {
        *error = "the header is incomplete";
        return std::nullopt;
    }
    if (*maxval < 1 || *maxval > 65535) {
        *error = "the maximum value " + std::to_string(*maxval) + " is not within 1 to 65535";
        return std::nullopt;
    }
    if (!plain && !reader.EndHeader()) {
        *error = "the header does not end with a blank";
        return std::nullopt;
    }
    DecodedImage image;
    const int channels = kind == 3 || kind == 6 ? 3 : 1;
    const ULONG format = bitmap ? BMF_1BPP : channels == 3 ? BMF_24BPP : BMF_8BPP;
    if (!SetSize(&image, *width, *height, format, error)) return std::nullopt;
    // Raw bitmaps and 8-bit grey maps store rows as the image keeps them
    // when no padding is needed.
    const std::size_t rowBytes = kind == 4 ? (static_cast<std::size_t>(image.width) + 7) / 8
                                           : static_cast<std::size_t>(image.width);
    const bool stored = (kind == 4 || (kind == 5 && *maxval == 255)) &&
                        rowBytes == static_cast<std::size_t>(image.stride);
    if (stored && buffer != nullptr) {
        const std::size_t offset = reader.position();
        if (reader.Take(rowBytes * static_cast<std::size_t>(image.height)) == nullptr) {
            *error = "the file ends early";
            return std::nullopt;
        }
        TakeFileRows(buffer, offset, false, &image);
    } else {
        if (!RasterFits(reader, image, kind, channels, *maxval)) {
            *error = "the file ends early";
            return std::nullopt;
        }
        if (!Allocate(&image, *width, *height, format, error)) return std::nullopt;
        bool read = false;
        if (kind == 1) {
            read = ReadPlainBits(reader, image, error);
        } else if (kind == 4) {
            read = ReadRawBits(reader, image, error);
        } else {
            read =
                ReadSamples(reader, image, channels, static_cast<unsigned>(*maxval), plain, error);
        }
        if (!read) return std::nullopt;
    }
    // A one in a bitmap is ink.
    if (bitmap) image.palette = {kWhite, kBlack};
    if (format == BMF_8BPP) image.palette = GreyPalette();
    return image;
}

std::optional<DecodedImage> DecodeBmp(std::span<const BYTE> file, host::PixelBytes* buffer,
                                      std::string* error) {
    if (file.size() < 2 || file[0] != 'B' || file[1] != 'M') {
        *error = "not a bitmap file";
        return std::nullopt;
    }
    BmpHeader header;
    if (!ReadBmpHeader(file, &header, error)) return std::nullopt;
    if (header.compression == kBiRle8 || header.compression == kBiRle4)
        return DecodeRunLengthBmp(file, header, error);
    ULONG format = 0;
    BmpPixels how = BmpPixels::Copy;
    if (!ChooseBmpFormat(header, &format, &how, error)) return std::nullopt;
    const bool topDown = header.height < 0;
    const long long height = topDown ? -header.height : header.height;
    DecodedImage image;
    if (!SetSize(&image, header.width, height, format, error)) return std::nullopt;
    if (header.bitCount <= 8 && !ReadBmpPalette(file, header, image, error)) return std::nullopt;

    const std::size_t sourceStride = PaddedRowBytes(header.bitCount == 16   ? BMF_16BPP
                                                    : header.bitCount == 32 ? BMF_32BPP
                                                                            : format,
                                                    image.width);
    const std::size_t needed = sourceStride * static_cast<std::size_t>(image.height);
    if (header.dataOffset > file.size() || needed > file.size() - header.dataOffset) {
        *error = "the file ends inside its pixels";
        return std::nullopt;
    }
    if (how == BmpPixels::Copy && buffer != nullptr &&
        sourceStride == static_cast<std::size_t>(image.stride)) {
        TakeFileRows(buffer, header.dataOffset, !topDown, &image);
        return image;
    }
    image.bits.assign(
        static_cast<std::size_t>(image.stride) * static_cast<std::size_t>(image.height), 0);
    for (LONG y = 0; y < image.height; ++y) {
        const LONG sourceRow = topDown ? y : image.height - 1 - y;
        const BYTE* source = file.data() + header.dataOffset + sourceStride * sourceRow;
        if (how == BmpPixels::Copy) {
            std::memcpy(Row(image, y), source, sourceStride);
        } else {
            ConvertMaskedRow(source, Row(image, y), image.width, header);
        }
    }
    return image;
}

}  // namespace

std::optional<DecodedImage> DecodePnm(std::span<const BYTE> file, std::string* error) {
    return DecodePnm(file, nullptr, error);
}

std::optional<DecodedImage> DecodeBmp(std::span<const BYTE> file, std::string* error) {
    return DecodeBmp(file, nullptr, error);
}

std::optional<DecodedImage> DecodePng(std::span<const BYTE> file, std::string* error) {
    if (file.size() < 8 || png_sig_cmp(file.data(), 0, 8) != 0) {
        *error = "not a PNG file";
        return std::nullopt;
    }
    PngSource source{file, 0, {}};
    png_structp png =
        png_create_read_struct(PNG_LIBPNG_VER_STRING, &source, OnPngError, OnPngWarning);
    if (png == nullptr) {
        *error = "cannot start the PNG reader";
        return std::nullopt;
    }
    png_infop info = png_create_info_struct(png);
    DecodedImage image;
    std::vector<png_bytep> rows;
    std::string sizeError;
    const bool read = info != nullptr && ReadPng(png, info, &image, &rows, &sizeError);
    png_destroy_read_struct(&png, info != nullptr ? &info : nullptr, nullptr);
    if (read) return image;
    if (!sizeError.empty()) {
        *error = sizeError;
    } else {
        *error = source.message[0] != '\0' ? std::string("bad PNG: ") + source.message
                                           : std::string("bad PNG");
    }
    return std::nullopt;
}

std::optional<DecodedImage> DecodeJpeg(std::span<const BYTE> file, std::string* error) {
    if (!IsJpeg(file)) {
        *error = "not a JPEG file";
        return std::nullopt;
    }
    JpegErrors errors{};
    jpeg_decompress_struct decoder{};
    decoder.err = jpeg_std_error(&errors.manager);
    errors.manager.error_exit = OnJpegError;
    errors.manager.emit_message = OnJpegMessage;
    errors.progress.progress_monitor = OnJpegProgress;
    DecodedImage image;
    std::vector<BYTE> cmykRow;
    std::string sizeError;
    const bool read = ReadJpeg(&decoder, &errors, file, &image, &cmykRow, &sizeError);
    jpeg_destroy_decompress(&decoder);
    if (read) return image;
    *error = !sizeError.empty() ? sizeError : std::string("bad JPEG: ") + errors.message;
    return std::nullopt;
}

namespace {

// The formats by their first bytes. Decoders given the file's own buffer
// may take it over for the image.
struct ImageFormat {
    bool (*matches)(std::span<const BYTE> file);
    std::optional<DecodedImage> (*decode)(std::span<const BYTE> file, host::PixelBytes* buffer,
                                          std::string* error);
};

constexpr ImageFormat kImageFormats[] = {
    {[](std::span<const BYTE> file) {
         return file.size() >= 8 && png_sig_cmp(file.data(), 0, 8) == 0;
     },
     [](std::span<const BYTE> file, host::PixelBytes*, std::string* error) {
         return DecodePng(file, error);
     }},
    {IsJpeg, [](std::span<const BYTE> file, host::PixelBytes*,
                std::string* error) { return DecodeJpeg(file, error); }},
    {[](std::span<const BYTE> file) {
         return file.size() >= 2 && file[0] == 'B' && file[1] == 'M';
     },
     [](std::span<const BYTE> file, host::PixelBytes* buffer, std::string* error) {
         return DecodeBmp(file, buffer, error);
     }},
    {[](std::span<const BYTE> file) {
         return file.size() >= 2 && file[0] == 'P' && file[1] >= '1' && file[1] <= '6';
     },
     [](std::span<const BYTE> file, host::PixelBytes* buffer, std::string* error) {
         return DecodePnm(file, buffer, error);
     }},
};

std::optional<DecodedImage> DecodeByContent(std::span<const BYTE> file, host::PixelBytes* buffer,
                                            std::string* error) {
    for (const ImageFormat& format : kImageFormats) {
        if (format.matches(file)) return format.decode(file, buffer, error);
    }
    *error = "not a PNG, JPEG, BMP, PBM, PGM or PPM image";
    return std::nullopt;
}

}  // namespace

std::optional<DecodedImage> DecodeImageFile(std::span<const BYTE> file, std::string* error) {
    return DecodeByContent(file, nullptr, error);
}

std::optional<DecodedImage> LoadImageFile(const std::filesystem::path& path, std::string* error) {
    std::error_code failure;
    const std::uintmax_t size = std::filesystem::file_size(path, failure);
    if (failure || !std::filesystem::is_regular_file(path)) {
        *error = "cannot read " + path.string();
        return std::nullopt;
    }
    if (size > kMaxImageFileBytes) {
        *error = path.string() + ": the file is too large";
        return std::nullopt;
    }
    host::PixelBytes buffer(static_cast<std::size_t>(size));
    if (!ReadFileInto(path, buffer)) {
        *error = "cannot read " + path.string();
        return std::nullopt;
    }
    std::string why;
    std::optional<DecodedImage> image = DecodeByContent(buffer, &buffer, &why);
    if (!image) *error = path.string() + ": " + why;
    return image;
}

}  // namespace qlpr
