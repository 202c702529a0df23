// 16-bit wide strings. Every record and interface of the system carries
// UTF-16; paths turn into UTF-8 only inside the platform.
#pragma once

#include <string>
#include <string_view>

#include "platform/types.h"

namespace platform {

using WideString = std::u16string;
using WideView = std::u16string_view;

// Length of a zero-terminated wide string (no terminator: 0).
QLPR_EXPORT std::size_t WideLength(const WCHAR* text);
// Length, but never looking past `capacity` characters.
QLPR_EXPORT std::size_t WideLengthBounded(const WCHAR* text, std::size_t capacity);

// Copies at most `capacity - 1` characters and always terminates (capacity > 0).
QLPR_EXPORT void WideCopy(WCHAR* dest, std::size_t capacity, WideView source);

// Case-insensitive comparison for ASCII letters, as the platform compares names.
QLPR_EXPORT bool WideEqualsNoCase(WideView a, WideView b);

// UTF-16 <-> UTF-8. Unpaired surrogates become U+FFFD; invalid UTF-8 bytes too.
QLPR_EXPORT std::string ToUtf8(WideView text);
QLPR_EXPORT WideString FromUtf8(std::string_view text);

}  // namespace platform
