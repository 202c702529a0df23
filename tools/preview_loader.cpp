#include "tools/preview_loader.h"

#include "platform/module.h"
#include "platform/wide.h"
#include "tools/printer_setup.h"

namespace qlpr {

namespace {

constexpr char kPreviewLibrary[] = "libqlprpreview.so";
constexpr char kPreviewEntry[] = "QlprWritePreviewPng";
using WritePreviewEntry = int (*)(const unsigned char* stream, std::size_t size,
                                  const PreviewOptions* options, const char* pngPath, char* error,
                                  std::size_t errorSize);

}  // namespace

bool DrawPreview(const std::vector<unsigned char>& stream, const PreviewOptions& options,
                 const std::string& pngPath, std::string* error) {
    const std::string library = (LibraryFolder() / kPreviewLibrary).string();
    const std::u16string name = platform::FromUtf8(library);
    HMODULE module = LoadLibraryW(reinterpret_cast<LPCWSTR>(name.c_str()));
    if (module == nullptr) {
        *error = "cannot load the preview library " + library;
        return false;
    }
    auto write = reinterpret_cast<WritePreviewEntry>(GetProcAddress(module, kPreviewEntry));
    if (write == nullptr) {
        FreeLibrary(module);
        *error = library + " has no " + kPreviewEntry;
        return false;
    }
    char why[512] = {};
    const bool written =
        write(stream.data(), stream.size(), &options, pngPath.c_str(), why, sizeof why) != 0;
    // The library stays loaded: cairo's and fontconfig's own threads and
    // handlers may outlive the call, and the program ends soon anyway.
    if (!written) *error = why;
    return written;
}

}  // namespace qlpr
