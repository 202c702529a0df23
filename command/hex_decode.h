// Strings of hexadecimal digits that stand for printer command bytes: the
// user command strings of the device mode and the control strings of the
// printer data.
#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

#include "platform/types.h"

// 0-9 for "0"-"9", 10-15 for "A"-"F" and "a"-"f", 0 for anything else.
BYTE HexDigit(char c);

// Two digits to a byte, high digit first: a string of n characters gives
// (n + 1) / 2 bytes. A character that is not a digit counts as 0, and so does
// the missing low digit of an odd-length string ("1B6" gives 1B 60).
std::vector<BYTE> HexDecode(std::string_view text);

// The text of a NUL-terminated string kept in a fixed field of `capacity`
// bytes; a field without a terminator is taken whole.
std::string_view BoundedString(const char* field, std::size_t capacity);
