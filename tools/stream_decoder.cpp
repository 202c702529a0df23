#include "tools/stream_decoder.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <filesystem>

namespace qlpr {
namespace {

constexpr unsigned char kEsc = 0x1B;
constexpr unsigned char kGs = 0x1D;
constexpr unsigned char kUs = 0x1F;

// Commands of a fixed size: introducer bytes, then parameter bytes.
struct FixedCommand {
    std::array<unsigned char, 3> prefix;
    std::size_t prefixSize;
    std::size_t parameters;
    Op op;
    const char* mnemonic;
};

constexpr FixedCommand kFixedCommands[] = {
    {{kEsc, 0x40}, 2, 0, Op::kInitialize, "ESC @"},
    {{kEsc, 0x32}, 2, 0, Op::kDefaultLineSpacing, "ESC 2"},
    {{kEsc, 0x53}, 2, 0, Op::kStandardMode, "ESC S"},
    {{kEsc, 0x4A}, 2, 1, Op::kFeed, "ESC J"},
    {{kEsc, 0x24}, 2, 2, Op::kPosition, "ESC $"},
    {{kEsc, 0x74}, 2, 1, Op::kCodeTable, "ESC t"},
    {{kEsc, 0x4D}, 2, 1, Op::kFont, "ESC M"},
    {{kEsc, 0x45}, 2, 1, Op::kBold, "ESC E"},
    {{kEsc, 0x2D}, 2, 1, Op::kUnderline, "ESC -"},
    {{kEsc, 0x61}, 2, 1, Op::kJustify, "ESC a"},
    {{kEsc, 0x70}, 2, 3, Op::kDrawerKick, "ESC p"},
    {{kEsc, 0x2C}, 2, 3, Op::kRaster, "ESC ,"},
    {{kGs, 0x21}, 2, 1, Op::kSize, "GS !"},
    {{kGs, 0x77}, 2, 1, Op::kModuleWidth, "GS w"},
    {{kGs, 0x68}, 2, 1, Op::kBarHeight, "GS h"},
    {{kGs, 0x48}, 2, 1, Op::kTextPosition, "GS H"},
    {{kGs, 0x66}, 2, 1, Op::kTextFont, "GS f"},
    {{kGs, 0x6B}, 2, 2, Op::kBarcode, "GS k"},
    {{kGs, 0x2F}, 2, 1, Op::kPrintImage, "GS /"},
    {{kGs, 0x56}, 2, 1, Op::kCut, "GS V"},
    {{kUs, 0x36, 0x27}, 3, 2, Op::kSymbolKind, "US 6 '"},
    {{kUs, 0x30}, 2, 1, Op::kSelectImage, "US 0"},
    {{kUs, 0x60}, 2, 1, Op::kPaperMode, "US `"},
    {{kUs, 0x61}, 2, 1, Op::kSide, "US a"},
    {{kUs, 0x62}, 2, 0, Op::kSheetEnd, "US b"},
    {{0x09}, 1, 0, Op::kTab, "HT"},
    {{0x0A}, 1, 0, Op::kLineFeed, "LF"},
    {{0x0D}, 1, 0, Op::kCarriageReturn, "CR"},
};

// The bytes that start a command of the table: any other byte is text or
// unknown, and is read without looking through the table.
constexpr std::array<bool, 256> kStartsCommand = [] {
    std::array<bool, 256> starts{};
    for (const FixedCommand& command : kFixedCommands) starts[command.prefix[0]] = true;
    return starts;
}();

constexpr int kFirstSymbol = 65;  // GS k m: 65 UPC-A .. 75 2D symbol
constexpr int kLastSymbol = 75;

bool Printable(unsigned char byte) {
    return byte >= 0x20;
}

bool StartsWith(std::span<const unsigned char> rest, const FixedCommand& command) {
    return rest.size() >= command.prefixSize &&
           std::equal(command.prefix.begin(), command.prefix.begin() + command.prefixSize,
                      rest.begin());
}

// A command of which only the start is left: its introducer bytes match as
// far as the stream goes.
bool CutOffPrefix(std::span<const unsigned char> rest, const FixedCommand& command) {
    return rest.size() < command.prefixSize &&
           std::equal(rest.begin(), rest.end(), command.prefix.begin());
}

const char* IntroducerName(unsigned char byte) {
    return byte == kEsc ? "ESC" : byte == kGs ? "GS" : "US";
}

class Decoder {
  public:
    Decoder(std::span<const unsigned char> stream, const DecodeOptions& options)
        : stream_(stream),
          lineBytes_(static_cast<std::size_t>(std::clamp(options.lineBytes, 0, kMaxLineBytes))) {}

    DecodedStream Run() {
        while (at_ < stream_.size()) Step();
        return std::move(result_);
    }

  private:
    void Step() {
        const std::span<const unsigned char> rest = stream_.subspan(at_);
        if (kStartsCommand[rest[0]] && Command(rest)) return;
        if (Printable(rest[0])) {
            std::size_t run = 1;
            while (run < rest.size() && Printable(rest[run])) ++run;
            Add(Op::kText, "TEXT", run, {}, rest.first(run));
            return;
        }
        Unknown(1);
    }

    // The command of the table that `rest` starts with, whole or cut off;
    // false when none.
    bool Command(std::span<const unsigned char> rest) {
        for (const FixedCommand& command : kFixedCommands) {
            if (StartsWith(rest, command)) {
                Fixed(rest, command);
                return true;
            }
        }
        for (const FixedCommand& command : kFixedCommands) {
            if (CutOffPrefix(rest, command)) {
                Truncated(rest.size() == 1 ? IntroducerName(rest[0]) : command.mnemonic);
                return true;
            }
        }
        return false;
    }

    void Fixed(std::span<const unsigned char> rest, const FixedCommand& command) {
        std::size_t size = command.prefixSize + command.parameters;
        if (command.op == Op::kCut && rest.size() > command.prefixSize &&
            (rest[command.prefixSize] == 'A' || rest[command.prefixSize] == 'B')) {
            ++size;  // GS V A n / GS V B n: feed n, then cut
        }
        if (rest.size() < size) {
            Truncated(command.mnemonic);
            return;
        }
        std::vector<int> args(rest.begin() + command.prefixSize, rest.begin() + size);
        std::size_t dataSize = 0;
        switch (command.op) {
            case Op::kPosition:
                args = {args[0] + 256 * args[1]};
                break;
            case Op::kRaster: {
                args = {args[0], args[1] + 256 * args[2]};
                const std::size_t planes = args[0] == 2 ? 2 : 1;
                dataSize = static_cast<std::size_t>(args[1]) * planes * lineBytes_;
                break;
            }
            case Op::kBarcode:
                if (args[0] < kFirstSymbol || args[0] > kLastSymbol) {
                    Unknown(size);
                    return;
                }
                dataSize = static_cast<std::size_t>(args[1]);
                break;
            default:
                break;
        }
        // Counts are checked against what is left, so a huge count only
        // makes the command truncated.
        if (dataSize > rest.size() - size) {
            Truncated(command.mnemonic);
            return;
        }
        Add(command.op, command.mnemonic, size + dataSize, std::move(args),
            rest.subspan(size, dataSize));
    }

    // Whatever is left of the stream belongs to the cut-off command.
    void Truncated(const char* mnemonic) {
        const std::size_t size = stream_.size() - at_;
        result_.unknownBytes += size;
        Add(Op::kTruncated, mnemonic, size, {}, stream_.subspan(at_));
    }

    // Unknown bytes in a row are one entry.
    void Unknown(std::size_t size) {
        result_.unknownBytes += size;
        if (!result_.commands.empty() && result_.commands.back().op == Op::kUnknown &&
            result_.commands.back().offset + result_.commands.back().size == at_) {
            StreamCommand& last = result_.commands.back();
            last.size += size;
            last.data = stream_.subspan(last.offset, last.size);
            at_ += size;
            return;
        }
        Add(Op::kUnknown, "UNKNOWN", size, {}, stream_.subspan(at_, size));
    }

    void Add(Op op, const char* mnemonic, std::size_t size, std::vector<int> args,
             std::span<const unsigned char> data) {
        StreamCommand command;
        command.offset = at_;
        command.size = size;
        command.op = op;
        command.mnemonic = mnemonic;
        command.args = std::move(args);
        command.data = data;
        result_.commands.push_back(std::move(command));
        at_ += size;
    }

    std::span<const unsigned char> stream_;
    std::size_t lineBytes_;
    std::size_t at_ = 0;
    DecodedStream result_;
};

}  // namespace

DecodedStream DecodeStream(std::span<const unsigned char> stream, const DecodeOptions& options) {
    return Decoder(stream, options).Run();
}

int RasterPlanes(const StreamCommand& raster) {
    return raster.args.size() == 2 && raster.args[0] == 2 ? 2 : 1;
}

int RasterRows(const StreamCommand& raster) {
    return raster.args.size() == 2 ? raster.args[1] : 0;
}

std::vector<unsigned char> UnpackRasterLine(std::span<const unsigned char> line, int leftPad) {
    const std::size_t pad = std::min(line.size(), static_cast<std::size_t>(std::max(leftPad, 0)));
    const std::span<const unsigned char> data = line.subspan(pad);
    std::vector<unsigned char> row(data.size(), 0);
    // Units begin right after the left pad; a lone byte at the end can only
    // be right pad, which is white.
    for (std::size_t i = 0; i + 1 < data.size(); i += 2) {
        row[i] = data[i + 1];
        row[i + 1] = data[i];
    }
    return row;
}

std::optional<int> ParseNumber(const std::string& text, int min, int max) {
    int value = 0;
    const char* end = text.data() + text.size();
    const auto [stop, problem] = std::from_chars(text.data(), end, value);
    if (text.empty() || problem != std::errc() || stop != end || value < min || value > max)
        return std::nullopt;
    return value;
}

}  // namespace qlpr
