// Hexadecimal command strings (see hex_decode.h).
#include "command/hex_decode.h"

#include <cstring>

BYTE HexDigit(char c) {
    if (c >= '0' && c <= '9') return static_cast<BYTE>(c - '0');
    if (c >= 'A' && c <= 'F') return static_cast<BYTE>(c - 'A' + 10);
    if (c >= 'a' && c <= 'f') return static_cast<BYTE>(c - 'a' + 10);
    return 0;
}

std::vector<BYTE> HexDecode(std::string_view text) {
    std::vector<BYTE> bytes;
    bytes.reserve((text.size() + 1) / 2);
    for (std::size_t i = 0; i < text.size(); i += 2) {
        const BYTE high = HexDigit(text[i]);
        const BYTE low = i + 1 < text.size() ? HexDigit(text[i + 1]) : 0;
        bytes.push_back(static_cast<BYTE>(high * 16 + low));
    }
    return bytes;
}

std::string_view BoundedString(const char* field, std::size_t capacity) {
    if (field == nullptr) return {};
    return std::string_view(field, strnlen(field, capacity));
}
