// qlpr decode: lists a printer byte stream one command a line.

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "tools/commands.h"
#include "tools/file_io.h"
#include "tools/stream_decoder.h"

namespace qlpr {
namespace {

constexpr char kDecodeHelp[] =
    "usage: qlpr decode STREAM [--line-bytes N]\n"
    "\n"
    "Lists the printer byte stream in the file STREAM one command a line: the\n"
    "offset (hexadecimal), the mnemonic (ESC J, GS k, ...), the arguments in\n"
    "decimal and the length of any data. Raster blocks (ESC ,) are followed by\n"
    "their lines: row, plane, number of dots and the row's bytes as printed\n"
    "(1 = dot, leftmost dot first, trailing white bytes left out). Runs of\n"
    "printable bytes are TEXT; bytes that start no command are UNKNOWN, and a\n"
    "command cut off by the end of the file is TRUNCATED.\n"
    "\n"
    "  --line-bytes N   bytes of one sent raster line, pads included (default 72:\n"
    "                   the 576-dot line of the default 80 mm, 203 dpi printer,\n"
    "                   which has no pads)\n"
    "  --help           this text\n"
    "\n"
    "Exit status 0 when every byte belongs to a command, 2 when unknown or\n"
    "truncated bytes were found, 1 with one line on standard error when the\n"
    "file cannot be read or the options are wrong.\n";

constexpr std::size_t kShownBytes = 16;  // of unknown and truncated data

std::string Hex(std::span<const unsigned char> bytes) {
    std::string text;
    char digits[4];
    for (const unsigned char byte : bytes) {
        std::snprintf(digits, sizeof digits, "%02x", byte);
        if (!text.empty()) text += ' ';
        text += digits;
    }
    return text;
}

std::string Quoted(std::span<const unsigned char> bytes) {
    std::string text = "\"";
    char escaped[8];
    for (const unsigned char byte : bytes) {
        if (byte >= 0x20 && byte < 0x7F && byte != '"' && byte != '\\') {
            text += static_cast<char>(byte);
        } else {
            std::snprintf(escaped, sizeof escaped, "\\x%02x", byte);
            text += escaped;
        }
    }
    return text + "\"";
}

std::string Offset(std::size_t offset) {
    char text[24];
    std::snprintf(text, sizeof text, "%08zx", offset);
    return text;
}

std::string Shown(std::span<const unsigned char> bytes) {
    std::string text = Hex(bytes.first(std::min(bytes.size(), kShownBytes)));
    return bytes.size() > kShownBytes ? text + " ..." : text;
}

std::string CommandLine(const StreamCommand& command) {
    std::string line = Offset(command.offset) + "  ";
    switch (command.op) {
        case Op::kText:
            return line + "TEXT " + Quoted(command.data) + "  (" +
                   std::to_string(command.data.size()) + " bytes)";
        case Op::kUnknown:
            return line + "UNKNOWN " + Shown(command.data) + "  (" + std::to_string(command.size) +
                   " bytes)";
        case Op::kTruncated:
            return line + "TRUNCATED " + command.mnemonic + ": " + Shown(command.data) + "  (" +
                   std::to_string(command.size) + " bytes)";
        default:
            break;
    }
    line += command.mnemonic;
    // Appended piece by piece: GCC 12 at -O3 mistakes `line += " " + ...` for
    // an overlapping copy.
    for (const int arg : command.args) line.append(" ").append(std::to_string(arg));
    if (command.op == Op::kRaster) {
        line.append("  rows ").append(std::to_string(RasterRows(command)));
        line.append(", planes ").append(std::to_string(RasterPlanes(command)));
    }
    if (command.op == Op::kBarcode) line.append(" ").append(Quoted(command.data));
    if (!command.data.empty()) line += "  (" + std::to_string(command.data.size()) + " data bytes)";
    return line;
}

int Dots(const std::vector<unsigned char>& row) {
    int dots = 0;
    for (const unsigned char byte : row) dots += __builtin_popcount(byte);
    return dots;
}

void RasterLines(const StreamCommand& command, std::size_t lineBytes, std::string* out) {
    const int planes = RasterPlanes(command);
    for (int row = 0; row < RasterRows(command); ++row) {
        for (int index = 0; index < planes; ++index) {
            const std::size_t at = (static_cast<std::size_t>(row) * planes + index) * lineBytes;
            std::vector<unsigned char> bits =
                UnpackRasterLine(command.data.subspan(at, lineBytes), 0);
            const int dots = Dots(bits);
            while (!bits.empty() && bits.back() == 0) bits.pop_back();
            // The plane-2 line comes first in a two-plane row.
            const int plane = planes == 2 && index == 0 ? 2 : 1;
            *out += Offset(command.offset + 5 + at) + "    row " + std::to_string(row) + " plane " +
                    std::to_string(plane) + ": " + std::to_string(dots) + " dots";
            if (!bits.empty()) *out += "  " + Hex(bits);
            *out += '\n';
        }
    }
}

}  // namespace

int DecodeCommand(const std::vector<std::string>& args) {
    std::optional<std::string> path;
    int lineBytes = DecodeOptions{}.lineBytes;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--help" || arg == "-h") {
            PrintOut(kDecodeHelp);
            return 0;
        } else if (arg == "--line-bytes") {
            const std::optional<int> value =
                i + 1 < args.size() ? ParseNumber(args[++i], 1, kMaxLineBytes) : std::nullopt;
            if (!value) {
                return Fail("--line-bytes needs a number of bytes from 1 to " +
                            std::to_string(kMaxLineBytes));
            }
            lineBytes = *value;
        } else if (!arg.empty() && arg[0] == '-') {
            return Fail("unknown option " + arg + " (see qlpr decode --help)");
        } else if (path) {
            return Fail("decode takes one stream file (see qlpr decode --help)");
        } else {
            path = arg;
        }
    }
    if (!path) return Fail("decode needs a stream file (see qlpr decode --help)");

    std::string error;
    const std::optional<std::vector<unsigned char>> stream = ReadStreamFile(*path, &error);
    if (!stream) return Fail(error);
    const DecodedStream decoded = DecodeStream(*stream, DecodeOptions{lineBytes});

    // Written in blocks of about 64 KiB: the listing of a long job is
    // several times the size of the stream.
    constexpr std::size_t kBlock = std::size_t{1} << 16;
    std::string out;
    for (const StreamCommand& command : decoded.commands) {
        out += CommandLine(command) + '\n';
        if (command.op == Op::kRaster)
            RasterLines(command, static_cast<std::size_t>(lineBytes), &out);
        if (out.size() >= kBlock) {
            PrintOut(out);
            out.clear();
        }
    }
    out += std::to_string(stream->size()) + " bytes, " + std::to_string(decoded.commands.size()) +
           " commands, " + std::to_string(decoded.unknownBytes) + " unknown bytes\n";
    PrintOut(out);
    return decoded.unknownBytes == 0 ? 0 : 2;
}

}  // namespace qlpr
