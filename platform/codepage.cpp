// Code pages 1252, 932, 850 and UTF-8, and the system's ANSI code page.
#include "platform/codepage.h"

#include <iconv.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/internal.h"
#include "platform/utf.h"
#include "platform/wide.h"

namespace platform {
namespace {

constexpr DWORD kMbKnownFlags = 0x1 | 0x2 | 0x4 | MB_ERR_INVALID_CHARS;

constexpr UINT CP_932 = 932;
constexpr UINT CP_850 = 850;

// 0 for a code page this platform does not have.
UINT Resolve(UINT codePage) {
    if (codePage == CP_ACP) codePage = GetACP();
    switch (codePage) {
        case CP_1252:
        case CP_932:
        case CP_850:
        case CP_UTF8:
            return codePage;
        default:
            return 0;
    }
}

// Code pages 932 and 850 as the C library's converters ("CP932", "CP850")
// define them, read into tables once, at first use.
class CodePageTable {
  public:
    static constexpr char16_t kNone = 0xFFFF;
    static constexpr std::uint16_t kNoCode = 0xFFFF;

    CodePageTable(const char* name, UINT codePage, char16_t defaultChar)
        : defaultChar_(defaultChar), decode_(0x10000, kNone), encode_(0x10000, kNoCode) {
        iconv_t toWide = iconv_open("UTF-16LE", name);
        iconv_t fromWide = iconv_open(name, "UTF-16LE");
        if (toWide != kFailed && fromWide != kFailed) Fill(codePage, toWide, fromWide);
        if (toWide != kFailed) iconv_close(toWide);
        if (fromWide != kFailed) iconv_close(fromWide);
    }
    char16_t defaultChar() const { return defaultChar_; }
    bool IsLead(std::uint8_t byte) const { return lead_[byte]; }
    // The character of a single byte (code < 0x100) or of a lead and trail
    // byte pair; kNone when it has none.
    char16_t Decode(unsigned code) const { return decode_[code]; }
    // The code of a character (two bytes when above 0xFF), or kNoCode.
    std::uint16_t Encode(char16_t c) const { return encode_[c]; }

  private:
    static inline const iconv_t kFailed = reinterpret_cast<iconv_t>(-1);

    static bool Convert(iconv_t cd, const char* in, std::size_t inLength, char* out,
                        std::size_t* outLength) {
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
        char input[2];
        std::memcpy(input, in, inLength);
        char* source = input;
        char* dest = out;
        std::size_t left = inLength;
        std::size_t room = *outLength;
        if (iconv(cd, &source, &left, &dest, &room) == static_cast<std::size_t>(-1) || left != 0)
            return false;
        *outLength = *outLength - room;
        return true;
    }
    static char16_t ToChar(iconv_t cd, const char* bytes, std::size_t length) {
        char out[8];
        std::size_t size = sizeof out;
        if (!Convert(cd, bytes, length, out, &size) || size != 2) return kNone;
        return static_cast<char16_t>(static_cast<std::uint8_t>(out[0]) |
                                     static_cast<std::uint8_t>(out[1]) << 8);
    }
    void Fill(UINT codePage, iconv_t toWide, iconv_t fromWide) {
        for (unsigned byte = 0; byte < 0x100; ++byte) {
            lead_[byte] = IsDBCSLeadByteEx(codePage, static_cast<BYTE>(byte)) != FALSE;
            const char single = static_cast<char>(byte);
            if (!lead_[byte]) decode_[byte] = ToChar(toWide, &single, 1);
            for (unsigned trail = 0x40; lead_[byte] && trail <= 0xFC; ++trail) {
                const char pair[2] = {static_cast<char>(byte), static_cast<char>(trail)};
                decode_[byte << 8 | trail] = ToChar(toWide, pair, 2);
            }
        }
        for (unsigned c = 0; c < 0x10000; ++c) {
            if (utf::IsHighSurrogate(static_cast<char16_t>(c)) ||
                utf::IsLowSurrogate(static_cast<char16_t>(c)))
                continue;
            const char wide[2] = {static_cast<char>(c & 0xFF), static_cast<char>(c >> 8)};
            char out[8];
            std::size_t size = sizeof out;
            if (!Convert(fromWide, wide, 2, out, &size) || size == 0 || size > 2) continue;
            const auto first = static_cast<std::uint8_t>(out[0]);
            encode_[c] =
                size == 1
                    ? first
                    : static_cast<std::uint16_t>(first << 8 | static_cast<std::uint8_t>(out[1]));
        }
    }

    char16_t defaultChar_;
    bool lead_[0x100] = {};
    std::vector<char16_t> decode_;
    std::vector<std::uint16_t> encode_;
};

// Bytes without a character become the code page's default character
// (U+30FB, the katakana middle dot, for 932).
const CodePageTable& TableOf(UINT codePage) {
    static const CodePageTable cp932("CP932", CP_932, u'\u30FB');
    static const CodePageTable cp850("CP850", CP_850, u'?');
    return codePage == CP_932 ? cp932 : cp850;
}

// The code of a character in code page 1252, 932 or 850 (two bytes when
// above 0xFF), or -1 when the code page has none.
int EncodeChar(UINT codePage, char16_t c) {
    if (codePage == CP_1252) return utf::ToCp1252(c);
    const std::uint16_t code = TableOf(codePage).Encode(c);
    return code == CodePageTable::kNoCode ? -1 : code;
}

// False when a byte has no character and `strict` asks to fail on that.
bool DecodeTable(const CodePageTable& table, std::string_view bytes, bool strict,
                 std::u16string* text) {
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const auto byte = static_cast<std::uint8_t>(bytes[i]);
        char16_t c = CodePageTable::kNone;
        if (!table.IsLead(byte)) {
            c = table.Decode(byte);
        } else if (i + 1 < bytes.size()) {
            const auto trail = static_cast<std::uint8_t>(bytes[i + 1]);
            c = table.Decode(static_cast<unsigned>(byte) << 8 | trail);
            if (c != CodePageTable::kNone || (trail >= 0x40 && trail <= 0xFC)) ++i;
        }
        if (c == CodePageTable::kNone) {
            if (strict) return false;
            c = table.defaultChar();
        }
        text->push_back(c);
    }
    return true;
}

template <class Char>
int CopyOut(const std::basic_string<Char>& text, Char* dest, int destLength) {
    if (text.size() > 0x7FFFFFFF) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const int needed = static_cast<int>(text.size());
    if (destLength == 0) return needed;
    if (needed > destLength) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    std::memcpy(dest, text.data(), text.size() * sizeof(Char));
    return needed;
}

int ToWide(UINT codePage, DWORD flags, LPCSTR source, int sourceLength, LPWSTR dest,
           int destLength) {
    codePage = Resolve(codePage);
    if (codePage == 0 || source == nullptr || sourceLength == 0 || sourceLength < -1 ||
        destLength < 0 || (dest == nullptr && destLength != 0)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if ((codePage == CP_UTF8 && (flags & ~MB_ERR_INVALID_CHARS) != 0) ||
        (flags & ~kMbKnownFlags) != 0) {
        SetLastError(ERROR_INVALID_FLAGS);
        return 0;
    }
    const std::size_t length =
        sourceLength == -1 ? std::strlen(source) + 1 : static_cast<std::size_t>(sourceLength);
    std::string_view bytes(source, length);
    std::u16string text;
    text.reserve(length);
    if (codePage == CP_UTF8) {
        bool invalid = false;
        utf::DecodeUtf8(bytes, text, &invalid);
        if (invalid && (flags & MB_ERR_INVALID_CHARS) != 0) {
            SetLastError(ERROR_NO_UNICODE_TRANSLATION);
            return 0;
        }
    } else if (codePage == CP_1252) {
        for (char c : bytes) text.push_back(utf::FromCp1252(static_cast<std::uint8_t>(c)));
    } else if (!DecodeTable(TableOf(codePage), bytes, (flags & MB_ERR_INVALID_CHARS) != 0, &text)) {
        SetLastError(ERROR_NO_UNICODE_TRANSLATION);
        return 0;
    }
    return CopyOut(text, dest, destLength);
}

int FromWide(UINT codePage, DWORD flags, LPCWSTR source, int sourceLength, LPSTR dest,
             int destLength, LPCSTR defaultChar, BOOL* usedDefault) {
    codePage = Resolve(codePage);
    if (codePage == 0 || source == nullptr || sourceLength == 0 || sourceLength < -1 ||
        destLength < 0 || (dest == nullptr && destLength != 0)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const std::size_t length =
        sourceLength == -1 ? WideLength(source) + 1 : static_cast<std::size_t>(sourceLength);
    WideView text(source, length);
    std::string bytes;
    bytes.reserve(length);
    if (codePage == CP_UTF8) {
        if (defaultChar != nullptr || usedDefault != nullptr) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return 0;
        }
        if ((flags & ~WC_ERR_INVALID_CHARS) != 0) {
            SetLastError(ERROR_INVALID_FLAGS);
            return 0;
        }
        bool invalid = false;
        utf::EncodeUtf8(text, bytes, &invalid);
        if (invalid && (flags & WC_ERR_INVALID_CHARS) != 0) {
            SetLastError(ERROR_NO_UNICODE_TRANSLATION);
            return 0;
        }
        return CopyOut(bytes, dest, destLength);
    }
    if ((flags & WC_ERR_INVALID_CHARS) != 0) {
        SetLastError(ERROR_INVALID_FLAGS);
        return 0;
    }
    const char fallback = defaultChar != nullptr ? defaultChar[0] : '?';
    bool defaulted = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const int code = EncodeChar(codePage, text[i]);
        if (code > 0xFF) bytes.push_back(static_cast<char>(code >> 8));
        if (code >= 0) {
            bytes.push_back(static_cast<char>(code));
            continue;
        }
        if (utf::IsHighSurrogate(text[i]) && i + 1 < text.size() &&
            utf::IsLowSurrogate(text[i + 1]))
            ++i;  // one character, one default
        bytes.push_back(fallback);
        defaulted = true;
    }
    const int result = CopyOut(bytes, dest, destLength);
    if (usedDefault != nullptr && result != 0) *usedDefault = defaulted;
    return result;
}

}  // namespace
}  // namespace platform

extern "C" {

QLPR_EXPORT UINT WINAPI GetACP() {
    const char* setting = std::getenv("QLPR_ANSI_CODE_PAGE");
    if (setting == nullptr) return CP_1252;
    for (UINT codePage : {platform::CP_932, platform::CP_850, CP_1252}) {
        if (std::to_string(codePage) == setting) return codePage;
    }
    return CP_1252;
}

QLPR_EXPORT BOOL WINAPI IsDBCSLeadByteEx(UINT codePage, BYTE testChar) {
    if (codePage == CP_ACP) codePage = GetACP();
    switch (codePage) {
        case 932:  // Shift JIS
            return (testChar >= 0x81 && testChar <= 0x9F) || (testChar >= 0xE0 && testChar <= 0xFC);
        case 936:  // GBK
        case 949:  // Unified Hangul Code
        case 950:  // Big5
            return testChar >= 0x81 && testChar <= 0xFE;
        default:
            return FALSE;
    }
}

QLPR_EXPORT int WINAPI MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR source,
                                           int sourceLength, LPWSTR dest, int destLength) {
    return platform::Guard<int>(0, [&] {
        return platform::ToWide(codePage, flags, source, sourceLength, dest, destLength);
    });
}

QLPR_EXPORT int WINAPI WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR source,
                                           int sourceLength, LPSTR dest, int destLength,
                                           LPCSTR defaultChar, BOOL* usedDefault) {
    return platform::Guard<int>(0, [&] {
        return platform::FromWide(codePage, flags, source, sourceLength, dest, destLength,
                                  defaultChar, usedDefault);
    });
}

}  // extern "C"
