// Any bytes as a compiled configuration cache: the block is either refused
// or every accessor stays inside it.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "driver/config.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto config = PrinterDataObj::FromBlock(std::vector<BYTE>(data, data + size));
    if (!config) return 0;
    for (int id = 1; id <= kKeywordCount; ++id) {
        const auto keyword = static_cast<Keyword>(id);
        for (const ConfigEntry& entry : config->entries(keyword)) {
            volatile std::size_t sink = entry.name.size() + static_cast<std::size_t>(entry.field[0]);
            (void)sink;
        }
        (void)config->defaultEntry(keyword);
    }
    return 0;
}
