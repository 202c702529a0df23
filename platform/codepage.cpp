// Code pages 1252 (the ANSI code page) and UTF-8.
#include "platform/codepage.h"

#include <cstring>
#include <string>

#include "platform/internal.h"
#include "platform/utf.h"
#include "platform/wide.h"

namespace platform {
namespace {

constexpr DWORD kMbKnownFlags = 0x1 | 0x2 | 0x4 | MB_ERR_INVALID_CHARS;

// 0 for a code page this platform does not have.
UINT Resolve(UINT codePage) {
    if (codePage == CP_ACP || codePage == CP_1252) return CP_1252;
    if (codePage == CP_UTF8) return CP_UTF8;
    return 0;
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
    } else {
        for (char c : bytes) text.push_back(utf::FromCp1252(static_cast<std::uint8_t>(c)));
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
        const int code = utf::ToCp1252(text[i]);
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
