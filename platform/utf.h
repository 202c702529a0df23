// UTF-8 and UTF-16 coding shared by the platform library (not exported).
//
// Bad input never stops a conversion: an unpaired surrogate, or an invalid
// UTF-8 sequence (each maximal invalid part of it), becomes U+FFFD and
// `invalid` (when given) is set.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/types.h"

namespace platform::utf {

inline constexpr char16_t kReplacement = 0xFFFD;

inline char16_t FoldAscii(char16_t c) {
    return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + (u'a' - u'A')) : c;
}

inline bool IsHighSurrogate(char16_t c) {
    return c >= 0xD800 && c <= 0xDBFF;
}
inline bool IsLowSurrogate(char16_t c) {
    return c >= 0xDC00 && c <= 0xDFFF;
}

inline void AppendUtf8(std::uint32_t cp, std::string& out) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

inline void AppendUtf16(std::uint32_t cp, std::u16string& out) {
    if (cp < 0x10000) {
        out.push_back(static_cast<char16_t>(cp));
    } else {
        cp -= 0x10000;
        out.push_back(static_cast<char16_t>(0xD800 | (cp >> 10)));
        out.push_back(static_cast<char16_t>(0xDC00 | (cp & 0x3FF)));
    }
}

inline void EncodeUtf8(std::u16string_view text, std::string& out, bool* invalid) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        char16_t c = text[i];
        std::uint32_t cp = c;
        if (IsHighSurrogate(c) && i + 1 < text.size() && IsLowSurrogate(text[i + 1])) {
            cp =
                0x10000 + ((static_cast<std::uint32_t>(c) - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (IsHighSurrogate(c) || IsLowSurrogate(c)) {
            cp = kReplacement;
            if (invalid != nullptr) *invalid = true;
        }
        AppendUtf8(cp, out);
    }
}

inline void DecodeUtf8(std::string_view text, std::u16string& out, bool* invalid) {
    const std::size_t n = text.size();
    std::size_t i = 0;
    while (i < n) {
        const auto b = static_cast<std::uint8_t>(text[i]);
        if (b < 0x80) {
            out.push_back(b);
            ++i;
            continue;
        }
        int need = 0;
        std::uint32_t cp = 0;
        std::uint8_t low = 0x80, high = 0xBF;  // allowed range of the next byte
        if (b >= 0xC2 && b <= 0xDF) {
            need = 1, cp = b & 0x1F;
        } else if (b >= 0xE0 && b <= 0xEF) {
            need = 2, cp = b & 0x0F;
            if (b == 0xE0) low = 0xA0;   // no overlong forms
            if (b == 0xED) high = 0x9F;  // no surrogates
        } else if (b >= 0xF0 && b <= 0xF4) {
            need = 3, cp = b & 0x07;
            if (b == 0xF0) low = 0x90;
            if (b == 0xF4) high = 0x8F;  // nothing above U+10FFFF
        } else {
            out.push_back(kReplacement);
            if (invalid != nullptr) *invalid = true;
            ++i;
            continue;
        }
        std::size_t j = i + 1;
        int got = 0;
        while (got < need && j < n) {
            const auto c = static_cast<std::uint8_t>(text[j]);
            if (c < low || c > high) break;
            low = 0x80, high = 0xBF;
            cp = (cp << 6) | (c & 0x3F);
            ++got, ++j;
        }
        if (got < need) {
            out.push_back(kReplacement);
            if (invalid != nullptr) *invalid = true;
        } else {
            AppendUtf16(cp, out);
        }
        i = j;
    }
}

}  // namespace platform::utf

namespace platform::utf {

// Code page 1252 above 0x7F: 0x80-0x9F as the platform maps them (the five
// unassigned codes 0x81, 0x8D, 0x8F, 0x90, 0x9D become the control
// characters of the same value), 0xA0-0xFF as Latin-1.
inline constexpr char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  // 80-87
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,  // 88-8F
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90-97
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,  // 98-9F
};

inline char16_t FromCp1252(std::uint8_t byte) {
    return (byte >= 0x80 && byte <= 0x9F) ? kCp1252High[byte - 0x80] : char16_t{byte};
}

// The 1252 byte of a character, or -1 when the code page has none.
inline int ToCp1252(char16_t c) {
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) return c;
    for (int i = 0; i < 32; ++i) {
        if (kCp1252High[i] == c) return 0x80 + i;
    }
    return -1;
}

}  // namespace platform::utf
