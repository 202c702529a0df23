// Drawing a symbol with libzint into a 1-bit image: rows top-down, each
// (width + 7) / 8 bytes, most significant bit leftmost, 1 for a bar, the
// padding bits of a row 0.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/types.h"

namespace qlprbrcd {

class MonoImage {
  public:
    MonoImage() = default;
    MonoImage(DWORD width, DWORD height);

    DWORD width() const { return width_; }
    DWORD height() const { return height_; }
    DWORD stride() const { return (width_ + 7) / 8; }
    DWORD byteCount() const { return height_ * stride(); }
    const std::vector<BYTE>& bytes() const { return bits_; }

    std::span<const BYTE> Row(DWORD y) const;
    std::span<BYTE> Row(DWORD y);
    bool RowBlank(DWORD y) const;

  private:
    DWORD width_ = 0;
    DWORD height_ = 0;
    std::vector<BYTE> bits_;
};

// Where the human-readable text of a linear code goes.
enum class TextPosition : DWORD { kNone = 0, kAbove = 1, kBelow = 2, kBoth = 3 };

// A validated order to draw one symbol.
struct SymbolOrder {
    int zintSymbology = 0;
    std::string text;  // data as the encoder takes it
    DWORD module = 1;  // width of the narrowest bar or of a 2D module, dots
    bool linear = true;
    // Linear codes.
    DWORD barHeight = 1;  // dots
    TextPosition textPosition = TextPosition::kNone;
    bool smallText = false;
    // PDF417: widest symbol wanted, dots.
    DWORD maxWidth = 0;

    bool operator==(const SymbolOrder&) const = default;
};

// The symbol's image, or none when the encoder refuses the data.
std::optional<MonoImage> DrawSymbol(const SymbolOrder& order);

}  // namespace qlprbrcd
