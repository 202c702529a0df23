#include "driver/log_format.h"

#include <cstdio>
#include <cstring>

#include "platform/codepage.h"
#include "platform/wide.h"

namespace {

struct Conversion {
    bool left = false;
    bool zero = false;
    bool plus = false;
    bool space = false;
    bool alternate = false;
    int width = -1;
    int precision = -1;
    enum { kNone, kShort, kLong, kLongLong } length = kNone;
};

void Pad(std::string& out, std::string body, const Conversion& conv, bool numeric) {
    int fill = conv.width - static_cast<int>(body.size());
    if (fill <= 0) {
        out += body;
    } else if (conv.left) {
        out += body;
        out.append(static_cast<std::size_t>(fill), ' ');
    } else if (conv.zero && numeric && conv.precision < 0) {
        // zeros go after a sign or a 0x prefix
        std::size_t prefix = 0;
        if (!body.empty() && (body[0] == '-' || body[0] == '+' || body[0] == ' ')) prefix = 1;
        if (body.size() >= prefix + 2 && body[prefix] == '0' &&
            (body[prefix + 1] == 'x' || body[prefix + 1] == 'X'))
            prefix += 2;
        body.insert(prefix, static_cast<std::size_t>(fill), '0');
        out += body;
    } else {
        out.append(static_cast<std::size_t>(fill), ' ');
        out += body;
    }
}

std::string Digits(unsigned long long value, unsigned base, bool upper, int precision) {
    const char* set = upper ? "0123456789ABCDEF" : "0123456789abcdef";
    std::string digits;
    do {
        digits.insert(digits.begin(), set[value % base]);
        value /= base;
    } while (value != 0);
    if (precision == 0 && digits == "0") digits.clear();
    if (precision > static_cast<int>(digits.size()))
        digits.insert(0, static_cast<std::size_t>(precision) - digits.size(), '0');
    return digits;
}

std::string WideToAnsi(const WCHAR* text, int precision) {
    std::size_t length = platform::WideLength(text);
    if (precision >= 0 && length > static_cast<std::size_t>(precision))
        length = static_cast<std::size_t>(precision);
    if (length == 0) return {};
    std::string out(length * 2 + 1, '\0');
    int made = WideCharToMultiByte(CP_ACP, 0, text, static_cast<int>(length), out.data(),
                                   static_cast<int>(out.size()), nullptr, nullptr);
    out.resize(made > 0 ? static_cast<std::size_t>(made) : 0);
    return out;
}

}  // namespace

std::string FormatLogMessage(const char* format, va_list args) {
    std::string out;
    if (format == nullptr) return out;
    for (const char* p = format; *p != '\0'; ++p) {
        if (*p != '%') {
            out += *p;
            continue;
        }
        const char* start = p++;
        if (*p == '%') {
            out += '%';
            continue;
        }
        Conversion conv;
        for (;; ++p) {
            if (*p == '-') conv.left = true;
            else if (*p == '0') conv.zero = true;
            else if (*p == '+') conv.plus = true;
            else if (*p == ' ') conv.space = true;
            else if (*p == '#') conv.alternate = true;
            else break;
        }
        if (*p == '*') {
            conv.width = va_arg(args, int);
            if (conv.width < 0) conv.left = true, conv.width = -conv.width;
            ++p;
        } else {
            while (*p >= '0' && *p <= '9') conv.width = (conv.width < 0 ? 0 : conv.width * 10) + (*p++ - '0');
        }
        if (*p == '.') {
            ++p;
            conv.precision = 0;
            if (*p == '*') {
                conv.precision = va_arg(args, int);
                ++p;
            } else {
                while (*p >= '0' && *p <= '9') conv.precision = conv.precision * 10 + (*p++ - '0');
            }
        }
        if (*p == 'h') conv.length = Conversion::kShort, ++p;
        else if (*p == 'l' && p[1] == 'l') conv.length = Conversion::kLongLong, p += 2;
        else if (*p == 'l') conv.length = Conversion::kLong, ++p;
        else if (std::strncmp(p, "I64", 3) == 0) conv.length = Conversion::kLongLong, p += 3;

        switch (*p) {
            case 'd':
            case 'i': {
                long long value = conv.length == Conversion::kLongLong ? va_arg(args, long long)
                                                                 : va_arg(args, int);
                if (conv.length == Conversion::kShort) value = static_cast<short>(value);
                bool negative = value < 0;
                unsigned long long magnitude =
                    negative ? 0ULL - static_cast<unsigned long long>(value)
                             : static_cast<unsigned long long>(value);
                std::string body = Digits(magnitude, 10, false, conv.precision);
                if (negative) body.insert(0, 1, '-');
                else if (conv.plus) body.insert(0, 1, '+');
                else if (conv.space) body.insert(0, 1, ' ');
                Pad(out, body, conv, true);
                break;
            }
            case 'u':
            case 'x':
            case 'X':
            case 'o': {
                unsigned long long value = conv.length == Conversion::kLongLong
                                               ? va_arg(args, unsigned long long)
                                               : va_arg(args, unsigned int);
                if (conv.length == Conversion::kShort) value = static_cast<unsigned short>(value);
                unsigned base = *p == 'u' ? 10 : *p == 'o' ? 8 : 16;
                std::string body = Digits(value, base, *p == 'X', conv.precision);
                if (conv.alternate && base == 16 && value != 0)
                    body.insert(0, *p == 'X' ? "0X" : "0x");
                Pad(out, body, conv, true);
                break;
            }
            case 'c': {
                int value = va_arg(args, int);
                if (conv.length == Conversion::kLong) {
                    WCHAR wide[2] = {static_cast<WCHAR>(value), 0};
                    Pad(out, WideToAnsi(wide, -1), conv, false);
                } else {
                    Pad(out, std::string(1, static_cast<char>(value)), conv, false);
                }
                break;
            }
            case 'C': {
                WCHAR wide[2] = {static_cast<WCHAR>(va_arg(args, int)), 0};
                Pad(out, WideToAnsi(wide, -1), conv, false);
                break;
            }
            case 's':
            case 'S': {
                bool wide = (*p == 'S' && conv.length != Conversion::kShort) ||
                            (*p == 's' && conv.length == Conversion::kLong);
                std::string body;
                if (wide) {
                    const WCHAR* text = va_arg(args, const WCHAR*);
                    body = text != nullptr ? WideToAnsi(text, conv.precision) : "(null)";
                } else {
                    const char* text = va_arg(args, const char*);
                    if (text == nullptr) text = "(null)";
                    std::size_t length = std::strlen(text);
                    if (conv.precision >= 0 && length > static_cast<std::size_t>(conv.precision))
                        length = static_cast<std::size_t>(conv.precision);
                    body.assign(text, length);
                }
                Pad(out, body, conv, false);
                break;
            }
            case 'p': {
                char buffer[32];
                std::snprintf(buffer, sizeof buffer, "%p", va_arg(args, void*));
                Pad(out, buffer, conv, false);
                break;
            }
            case '\0':
                out.append(start);
                return out;
            default:
                // an unknown conversion is printed as it stands
                out.append(start, static_cast<std::size_t>(p - start + 1));
                break;
        }
    }
    return out;
}

std::string FormatLog(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string text = FormatLogMessage(format, args);
    va_end(args);
    return text;
}
