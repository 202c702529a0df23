// Any bytes as a printer byte stream, read as qlpr decode lists it and as
// qlpr preview lays out the paper (the PNG itself is not drawn). The
// decoder's commands tile the stream exactly, its unknown-byte count is
// the size of its unknown and truncated commands, every raster block holds
// its rows and planes of lines, and the layout's raster rows point into
// the stream; the first few symbols small enough are drawn, each image the
// size the layout gave it (less its text rows). The line length varies with the input size, so that
// short and odd lines are read too.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "tools/preview/paper_layout.h"
#include "tools/stream_decoder.h"

namespace {

// Pages bigger than this (both planes) are not filled in: a short stream of
// feeds can move metres of paper.
constexpr std::size_t kMaxPageBytes = std::size_t{1} << 18;
// Nor are bigger symbols drawn (a 255-byte code at the widest module is
// hundreds of thousands of pixels), nor more than a few: drawing costs per
// pixel, and a stream holds hundreds of symbols.
constexpr long long kMaxSymbolPixels = 1 << 16;
constexpr int kMaxSymbolsDrawn = 4;

void CheckDecoded(const qlpr::DecodedStream& decoded, std::span<const unsigned char> stream,
                  int lineBytes) {
    std::size_t at = 0, unknown = 0;
    for (const qlpr::StreamCommand& command : decoded.commands) {
        if (command.offset != at || command.size == 0) std::abort();
        at += command.size;
        if (command.op == qlpr::Op::kUnknown || command.op == qlpr::Op::kTruncated)
            unknown += command.size;
        if (!command.data.empty() &&
            (command.data.data() < stream.data() ||
             command.data.data() + command.data.size() > stream.data() + stream.size()))
            std::abort();
        if (command.op != qlpr::Op::kRaster) continue;
        const std::size_t lines =
            static_cast<std::size_t>(qlpr::RasterRows(command)) * qlpr::RasterPlanes(command);
        if (command.data.size() != lines * static_cast<std::size_t>(lineBytes)) std::abort();
        // Each sent line as qlpr decode shows it.
        for (std::size_t line = 0; line < lines; ++line) {
            const auto row = qlpr::UnpackRasterLine(
                command.data.subspan(line * lineBytes, static_cast<std::size_t>(lineBytes)), 0);
            if (row.size() != static_cast<std::size_t>(lineBytes)) std::abort();
        }
    }
    if (at != stream.size() || unknown != decoded.unknownBytes) std::abort();
}

// A drawn symbol fills exactly the place the layout measured for it.
void CheckSymbols(const qlpr::PaperLayout& layout) {
    int drawn = 0;
    for (const qlpr::PaperItem& item : layout.items) {
        if (drawn == kMaxSymbolsDrawn) return;
        if (item.kind != qlpr::PaperItemKind::kSymbol ||
            static_cast<long long>(item.width) * item.height > kMaxSymbolPixels)
            continue;
        const auto image = qlpr::DrawSymbol(item.symbolCode, item.data, item.symbol);
        ++drawn;
        if (!image) continue;  // an undrawable symbol is a box of the layout's own
        const int position =
            item.symbolCode == qlpr::kTwoDimensionalSymbol ? 0 : item.symbol.textPosition;
        const int textRows = (position == 3   ? 2
                              : position != 0 ? 1
                                              : 0) *
                             qlpr::CellOf(item.symbol.textFont).height;
        if (image->width != item.width || image->height + textRows != item.height) std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const unsigned char> stream(data, size);
    // Mostly the default 80 mm line; every third size a short line with a pad.
    const int lineBytes = size % 3 == 0 ? 1 + static_cast<int>(size % 61) : 72;
    const int leftPad = static_cast<int>(size % 5) % lineBytes;

    const qlpr::DecodedStream decoded = qlpr::DecodeStream(stream, qlpr::DecodeOptions{lineBytes});
    CheckDecoded(decoded, stream, lineBytes);

    const qlpr::PaperLayout layout = qlpr::LayOutPaper(decoded, {lineBytes, leftPad});
    if (layout.widthDots != (lineBytes - leftPad) * 8 || layout.lengthRows < 0) std::abort();
    CheckSymbols(layout);
    const std::size_t pageBytes =
        static_cast<std::size_t>(layout.lengthRows) * static_cast<std::size_t>(lineBytes) * 2;
    if (pageBytes <= kMaxPageBytes) {
        for (const qlpr::PrintedPage& page : qlpr::PrintedPages(layout))
            if (page.plane1.size() != static_cast<std::size_t>(page.stride) * page.height)
                std::abort();
    }
    return 0;
}
