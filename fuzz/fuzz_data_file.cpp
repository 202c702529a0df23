// Any bytes as an INI data file: the compiler refuses it or builds a block
// that its own checks accept.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "driver/config.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // On a memory file system when there is one: on a disk every rewrite
    // of the file is flushed when it is closed.
    static const std::filesystem::path file =
        (std::filesystem::is_directory("/dev/shm") ? std::filesystem::path("/dev/shm")
                                                   : std::filesystem::temp_directory_path()) /
        ("qlpr-fuzz-" + std::to_string(getpid()) + ".ini");
    {
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    if (auto block = CompileDataFile(file)) {
        if (!PrinterDataObj::FromBlock(std::move(*block)))
            std::abort();  // the compiler's own block must pass
    }
    return 0;
}
