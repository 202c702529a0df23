// The paper preview lives in libqlprpreview.so beside qlpr (cairo, libzint
// and the font libraries behind them); it is loaded only when a preview is
// drawn, so that printing and decoding start without those libraries.
#pragma once

#include <string>
#include <vector>

#include "tools/preview/preview.h"

namespace qlpr {

// Draws the paper `stream` prints into the PNG `pngPath`; false with
// `error` set when the preview library cannot be loaded or drawing fails.
bool DrawPreview(const std::vector<unsigned char>& stream, const PreviewOptions& options,
                 const std::string& pngPath, std::string* error);

}  // namespace qlpr
