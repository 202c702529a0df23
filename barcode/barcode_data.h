// The barcode library's symbologies and the rules that turn a request's data
// bytes into the text handed to the encoder.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "platform/types.h"

namespace qlprbrcd {

// Symbology codes of the request.
inline constexpr DWORD kUpcA = 1;
inline constexpr DWORD kUpcE = 2;
inline constexpr DWORD kEan13 = 3;
inline constexpr DWORD kEan8 = 4;
inline constexpr DWORD kCode39 = 5;
inline constexpr DWORD kInterleaved2of5 = 6;
inline constexpr DWORD kCodabar = 7;
inline constexpr DWORD kCode93 = 8;
inline constexpr DWORD kCode128 = 9;
inline constexpr DWORD kTwoDimensional = 256;

struct Symbology {
    DWORD code;
    int zintSymbology;  // for the two-dimensional code: that of the first kind
    DWORD minLength;    // data bytes, after a trailing space is dropped
    DWORD maxLength;    // longer data is cut to this
    bool linear;
};

// The row of the table for `code`, or null for a code the library does not know.
const Symbology* FindSymbology(DWORD code);

// The text to encode for `code`, or none when the data breaks the
// symbology's rules (length, characters, check digit, selectors).
std::optional<std::string> PrepareData(DWORD code, std::span<const BYTE> data);

// The modulo-10 check digit of UPC and EAN for the digits given (without
// their check digit), weights 3 and 1 from the right.
char CheckDigit(std::string_view digits);

// The six-digit UPC-E body of an 11-digit UPC-A number (number system,
// manufacturer, product; no check digit), or none when it has no UPC-E form.
std::optional<std::string> CompressUpcA(std::string_view elevenDigits);

// Code 128 data with its "[" sequences resolved (see barcode_data.cpp).
std::optional<std::string> ResolveCode128(std::string_view text);

}  // namespace qlprbrcd
