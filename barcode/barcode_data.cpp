#include "barcode/barcode_data.h"

#include <zint.h>

#include <algorithm>
#include <array>

namespace qlprbrcd {
namespace {

// Lengths are those the printer itself accepts for the same symbol, so that a
// barcode the printer draws and one drawn here as an image take the same
// data: shorter data is refused, longer data is cut to the longest form.
// UPC-E also takes its short forms (6 to 8 digits) besides the UPC-A form.
constexpr std::array<Symbology, 10> kSymbologies{{
    {kUpcA, BARCODE_UPCA, 11, 12, true},
    {kUpcE, BARCODE_UPCE, 6, 12, true},
    {kEan13, BARCODE_EANX, 12, 13, true},
    {kEan8, BARCODE_EANX, 7, 8, true},
    {kCode39, BARCODE_CODE39, 1, 255, true},
    {kInterleaved2of5, BARCODE_C25INTER, 2, 254, true},
    {kCodabar, BARCODE_CODABAR, 1, 255, true},
    {kCode93, BARCODE_CODE93, 1, 255, true},
    {kCode128, BARCODE_CODE128, 2, 255, true},
    {kTwoDimensional, BARCODE_QRCODE, 1, 255, false},
}};

bool AllDigits(std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Numbers of the UPC and EAN family: `bodyLength` digits, optionally followed
// by their check digit, which must then be right. The encoder is given the
// body only and adds the check digit itself.
std::optional<std::string> NumberBody(std::string_view text, std::size_t bodyLength) {
    if (!AllDigits(text)) return std::nullopt;
    if (text.size() != bodyLength && text.size() != bodyLength + 1) return std::nullopt;
    std::string body(text.substr(0, bodyLength));
    if (text.size() == bodyLength + 1 && text.back() != CheckDigit(body)) return std::nullopt;
    return body;
}

// UPC-E: the 12-digit UPC-A form (or 11 digits without the check digit) is
// compressed to number system and six digits; the short forms are taken as
// they are (6 digits: number system 0; 7: with number system; 8: with check
// digit, which the encoder verifies). The number system must be 0 or 1.
std::optional<std::string> UpcEBody(std::string_view text) {
    if (!AllDigits(text)) return std::nullopt;
    switch (text.size()) {
        case 6:
            return std::string(text);
        case 7:
        case 8:
            if (text[0] != '0' && text[0] != '1') return std::nullopt;
            return std::string(text);
        case 11:
        case 12: {
            std::optional<std::string> upcA = NumberBody(text, 11);
            if (!upcA || ((*upcA)[0] != '0' && (*upcA)[0] != '1')) return std::nullopt;
            std::optional<std::string> six = CompressUpcA(*upcA);
            if (!six) return std::nullopt;
            return (*upcA)[0] + *six;
        }
        default:
            return std::nullopt;
    }
}

// Code 39: the start and stop character '*' is the encoder's to add; data
// written with it at both ends loses it.
std::optional<std::string> Code39Text(std::string_view text) {
    if (text.size() >= 2 && text.front() == '*' && text.back() == '*') {
        text = text.substr(1, text.size() - 2);
    }
    if (text.empty()) return std::nullopt;
    return std::string(text);
}

}  // namespace

const Symbology* FindSymbology(DWORD code) {
    for (const Symbology& row : kSymbologies) {
        if (row.code == code) return &row;
    }
    return nullptr;
}

char CheckDigit(std::string_view digits) {
    int sum = 0;
    int weight = 3;
    for (auto it = digits.rbegin(); it != digits.rend(); ++it) {
        sum += (*it - '0') * weight;
        weight = 4 - weight;
    }
    return static_cast<char>('0' + (10 - sum % 10) % 10);
}

// The four UPC-E forms, tried in this order (m = manufacturer digits m0..m4,
// p = product digits p0..p4):
//   m2 0-2, m3 m4 = 00, p0 p1 = 00     -> m0 m1 p2 p3 p4 m2
//   m2 3-9, m3 m4 = 00, p0 p1 p2 = 000 -> m0 m1 m2 p3 p4 3
//   m3 not 0, m4 = 0,   p0..p3 = 0000  -> m0 m1 m2 m3 p4 4
//   m4 not 0,           p0..p3 = 0000, p4 5-9 -> m0 m1 m2 m3 m4 p4
std::optional<std::string> CompressUpcA(std::string_view elevenDigits) {
    if (elevenDigits.size() != 11 || !AllDigits(elevenDigits)) return std::nullopt;
    const std::string_view m = elevenDigits.substr(1, 5);
    const std::string_view p = elevenDigits.substr(6, 5);
    if (m[3] == '0' && m[4] == '0') {
        if (m[2] <= '2') {
            if (p.substr(0, 2) != "00") return std::nullopt;
            return std::string{m[0], m[1], p[2], p[3], p[4], m[2]};
        }
        if (p.substr(0, 3) != "000") return std::nullopt;
        return std::string{m[0], m[1], m[2], p[3], p[4], '3'};
    }
    if (p.substr(0, 4) != "0000") return std::nullopt;
    if (m[4] == '0') return std::string{m[0], m[1], m[2], m[3], p[4], '4'};
    if (p[4] < '5') return std::nullopt;
    return std::string{m[0], m[1], m[2], m[3], m[4], p[4]};
}

// Code 128 data may carry the printer's selectors, written '[' and a letter
// or digit. The encoder (libzint 2.11) chooses code sets itself and has no
// way to place function characters outside GS1 data, so:
//   "[A", "[B", "[C", "[S"  code set selection and shift: dropped, the
//                           encoder picks the sets (the symbol holds the same
//                           characters, possibly in fewer modules)
//   "[1"                    FNC1: dropped, the characters around it are kept
//   "[2", "[3", "[4"        FNC2 to FNC4: refused, since dropping them would
//                           change what a reader receives
//   "[["                    one '['
//   '[' followed by anything else, or last: refused
// Characters after "[C" are taken as written: "[C1234" encodes the digits
// 1, 2, 3, 4. Data left empty is refused.
std::optional<std::string> ResolveCode128(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '[') {
            out += text[i];
            continue;
        }
        if (i + 1 == text.size()) return std::nullopt;
        const char selector = text[++i];
        switch (selector) {
            case 'A':
            case 'B':
            case 'C':
            case 'S':
            case '1':
                break;
            case '[':
                out += '[';
                break;
            default:
                return std::nullopt;
        }
    }
    if (out.empty()) return std::nullopt;
    return out;
}

// A trailing space of a linear code's data is dropped (data of a single space
// is refused), as the printer does with the data it is sent: applications
// often end a barcode's text with one. Data of the two-dimensional code is
// taken as it is, a space being ordinary data there.
std::optional<std::string> PrepareData(DWORD code, std::span<const BYTE> data) {
    const Symbology* symbology = FindSymbology(code);
    if (symbology == nullptr) return std::nullopt;
    std::size_t length = data.size();
    if (symbology->linear && length >= 1 && data[length - 1] == ' ') {
        if (length == 1) return std::nullopt;
        --length;
    }
    if (length < symbology->minLength) return std::nullopt;
    length = std::min<std::size_t>(length, symbology->maxLength);
    const std::string text(reinterpret_cast<const char*>(data.data()), length);

    switch (code) {
        case kUpcA:
            return NumberBody(text, 11);
        case kUpcE:
            return UpcEBody(text);
        case kEan13:
            return NumberBody(text, 12);
        case kEan8:
            return NumberBody(text, 7);
        case kCode39:
            return Code39Text(text);
        case kInterleaved2of5:
            if (!AllDigits(text)) return std::nullopt;
            return text;
        case kCode128:
            return ResolveCode128(text);
        default:
            // Codabar, Code 93, two-dimensional: the encoder checks the characters.
            return text;
    }
}

}  // namespace qlprbrcd
