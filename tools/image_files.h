// Image files a page is printed from: PNG, JPEG (grey, colour and CMYK,
// baseline and progressive), BMP and the portable any-map formats (PBM,
// PGM, PPM, plain and raw). Each is decoded into one of the
// engine's bitmap formats, as close to the file's own form as the engine
// allows, so that the driver sees what an application would hand it.
#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "host/pixel_bytes.h"
#include "platform/types.h"

namespace qlpr {

// Images larger than this are refused before anything is allocated.
inline constexpr long kMaxImageSide = 65535;
inline constexpr std::size_t kMaxImageBytes = std::size_t{256} << 20;
// A plain any-map spends a few characters on every sample, so its file is
// allowed well beyond the pixel limit.
inline constexpr std::size_t kMaxImageFileBytes = std::size_t{1} << 30;

// A decoded image: rows top-down, `stride` bytes apart, in a BMF_ format
// (host/winddi.h). Indexed formats (1, 4, 8 bits and the run-length forms)
// carry their palette as 0x00RRGGBB entries. Run-length images keep their
// file's compressed data whole in `bits` (stride 0), rows bottom-up as the
// file has them.
struct DecodedImage {
    LONG width = 0;
    LONG height = 0;
    ULONG format = 0;
    LONG stride = 0;
    host::PixelBytes bits;
    std::vector<ULONG> palette;
};

std::optional<DecodedImage> DecodePng(std::span<const BYTE> file, std::string* error);
std::optional<DecodedImage> DecodeBmp(std::span<const BYTE> file, std::string* error);
std::optional<DecodedImage> DecodePnm(std::span<const BYTE> file, std::string* error);
std::optional<DecodedImage> DecodeJpeg(std::span<const BYTE> file, std::string* error);

// Decodes by the file's first bytes, whatever the format.
std::optional<DecodedImage> DecodeImageFile(std::span<const BYTE> file, std::string* error);

// Decodes by the file's first bytes (not its name). The error names the file.
std::optional<DecodedImage> LoadImageFile(const std::filesystem::path& path, std::string* error);

// Bytes of a row of `width` pixels in `format`, padded to four bytes.
std::size_t PaddedRowBytes(ULONG format, LONG width);

}  // namespace qlpr
