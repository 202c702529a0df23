// The driver log's own formatter. It follows the platform's ANSI formatting
// routine rather than the C library's: "%s" is a single-byte string, "%S"
// and "%ls" are 16-bit wide strings (converted through the ANSI code page),
// "%hs" is single-byte again. Flags, width and precision work as usual for
// d, i, u, x, X, c and s; a null string prints "(null)".
#pragma once

#include <cstdarg>
#include <string>

std::string FormatLogMessage(const char* format, va_list args);
std::string FormatLog(const char* format, ...);
