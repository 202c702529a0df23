// libqlprpreview.so's one export: a stream drawn into a PNG, for qlpr
// preview and qlpr print --preview (see tools/preview_loader.h).

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "platform/types.h"
#include "tools/preview/preview.h"

extern "C" QLPR_EXPORT int QlprWritePreviewPng(const unsigned char* stream, std::size_t size,
                                               const qlpr::PreviewOptions* options,
                                               const char* pngPath, char* error,
                                               std::size_t errorSize) {
    std::string why;
    bool written = false;
    if (options == nullptr || pngPath == nullptr || (stream == nullptr && size != 0)) {
        why = "bad arguments";
    } else {
        written = qlpr::WritePreviewPng(std::vector<unsigned char>(stream, stream + size), *options,
                                        pngPath, &why);
    }
    // The program draws one preview; the font caches go with it.
    qlpr::ReleasePreviewFonts();
    if (!written && error != nullptr && errorSize > 0) {
        const std::size_t length = std::min(why.size(), errorSize - 1);
        std::memcpy(error, why.data(), length);
        error[length] = '\0';
    }
    return written ? 1 : 0;
}
