// qlpr preview: draws the paper a printer byte stream prints into a PNG.

#include <optional>
#include <string>
#include <vector>

#include "tools/commands.h"
#include "tools/file_io.h"
#include "tools/preview_loader.h"
#include "tools/stream_decoder.h"

namespace qlpr {
namespace {

constexpr char kPreviewHelp[] =
    "usage: qlpr preview STREAM -o PNG [--line-bytes N] [--left-pad N] [--scale N]\n"
    "\n"
    "Draws the paper roll that the printer byte stream in the file STREAM prints\n"
    "into the PNG file PNG. Raster dots are exact: one dot is N x N pixels at\n"
    "--scale N, plane 1 black, plane 2 red, and every row lies where the feeds\n"
    "(ESC J n moves n rows) and raster rows (one row each) put it; the paper's\n"
    "left edge is the image's left edge. Printer-font text, barcodes and 2D\n"
    "codes are drawn as the printer would; stored images are labelled boxes,\n"
    "cuts labelled dashed lines, drawer kicks and side selection marks in the\n"
    "right margin.\n"
    "\n"
    "  -o PNG           the image to write\n"
    "  --line-bytes N   bytes of one sent raster line, pads included (default 72:\n"
    "                   the 576-dot line of the default 80 mm, 203 dpi printer,\n"
    "                   which has no pads)\n"
    "  --left-pad N     bytes of left pad to drop from each line (default 0)\n"
    "  --scale N        pixels per dot, 1 to 16 (default 1)\n"
    "  --help           this text\n"
    "\n"
    "Unknown bytes in the stream are passed over. Exit status 0, or 1 with one\n"
    "line on standard error.\n";

}  // namespace

int PreviewCommand(const std::vector<std::string>& args) {
    std::optional<std::string> streamPath, pngPath;
    PreviewOptions options;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        auto number = [&](int min, int max, int* target) {
            if (i + 1 >= args.size()) return false;
            const std::optional<int> value = ParseNumber(args[++i], min, max);
            if (value) *target = *value;
            return value.has_value();
        };
        if (arg == "--help" || arg == "-h") {
            PrintOut(kPreviewHelp);
            return 0;
        } else if (arg == "-o") {
            if (i + 1 >= args.size()) return Fail("-o needs a file name");
            pngPath = args[++i];
        } else if (arg == "--line-bytes") {
            if (!number(1, kMaxLineBytes, &options.lineBytes))
                return Fail("--line-bytes needs a number from 1 to " +
                            std::to_string(kMaxLineBytes));
        } else if (arg == "--left-pad") {
            if (!number(0, kMaxLineBytes - 1, &options.leftPad))
                return Fail("--left-pad needs a number of bytes");
        } else if (arg == "--scale") {
            if (!number(1, kMaxPreviewScale, &options.scale))
                return Fail("--scale needs a number from 1 to " + std::to_string(kMaxPreviewScale));
        } else if (!arg.empty() && arg[0] == '-') {
            return Fail("unknown option " + arg + " (see qlpr preview --help)");
        } else if (streamPath) {
            return Fail("preview takes one stream file (see qlpr preview --help)");
        } else {
            streamPath = arg;
        }
    }
    if (!streamPath) return Fail("preview needs a stream file (see qlpr preview --help)");
    if (!pngPath) return Fail("preview needs -o PNG, the image to write");

    std::string error;
    const std::optional<std::vector<unsigned char>> stream = ReadStreamFile(*streamPath, &error);
    if (!stream) return Fail(error);
    const bool written = DrawPreview(*stream, options, *pngPath, &error);
    return written ? 0 : Fail(error);
}

}  // namespace qlpr
