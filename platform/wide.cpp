// UTF-16 helpers and the UTF-16 <-> UTF-8 conversion used for every path.
#include "platform/wide.h"

#include "platform/utf.h"

namespace platform {

std::size_t WideLength(const WCHAR* text) {
    if (text == nullptr) return 0;
    std::size_t length = 0;
    while (text[length] != 0) ++length;
    return length;
}

std::size_t WideLengthBounded(const WCHAR* text, std::size_t capacity) {
    if (text == nullptr) return 0;
    std::size_t length = 0;
    while (length < capacity && text[length] != 0) ++length;
    return length;
}

void WideCopy(WCHAR* dest, std::size_t capacity, WideView source) {
    if (dest == nullptr || capacity == 0) return;
    std::size_t count = source.size() < capacity - 1 ? source.size() : capacity - 1;
    for (std::size_t i = 0; i < count; ++i) dest[i] = source[i];
    dest[count] = 0;
}

bool WideEqualsNoCase(WideView a, WideView b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (utf::FoldAscii(a[i]) != utf::FoldAscii(b[i])) return false;
    }
    return true;
}

std::string ToUtf8(WideView text) {
    try {
        std::string out;
        out.reserve(text.size());
        utf::EncodeUtf8(text, out, nullptr);
        return out;
    } catch (...) {
        return {};  // only out of memory; no exception leaves the library
    }
}

WideString FromUtf8(std::string_view text) {
    try {
        WideString out;
        out.reserve(text.size());
        utf::DecodeUtf8(text, out, nullptr);
        return out;
    } catch (...) {
        return {};
    }
}

}  // namespace platform
