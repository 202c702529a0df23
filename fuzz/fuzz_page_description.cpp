// Any text as a page description (JSON) qlpr prints, its image files read
// from the examples folder: the parser refuses it with a reason, or gives
// items within the description limits, which are then drawn by the
// engine's services into a small band over each item's first corner.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <variant>

#include "fuzz/band_surface.h"
#include "tools/page_description.h"

namespace {

// Where an item starts on the page: a band there sees part of it.
POINTL Anchor(const host::PageItem& item) {
    if (const auto* image = std::get_if<host::PageImage>(&item))
        return {image->target.left, image->target.top};
    if (const auto* rectangle = std::get_if<host::PageRectangle>(&item))
        return {rectangle->rect.left, rectangle->rect.top};
    if (const auto* path = std::get_if<host::PagePath>(&item))
        return path->points.empty() ? POINTL{0, 0} : path->points.front();
    return std::get<host::PageText>(item).position;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::filesystem::path examples = QLPR_FUZZ_EXAMPLES;
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::string error;
    std::optional<qlpr::PageContent> content = qlpr::ParsePageDescription(text, examples, &error);
    if (!content) {
        if (error.empty()) std::abort();  // a refusal says why
        return 0;
    }
    if (content->page.items.size() > qlpr::kMaxPageItems || content->bottom < 0) std::abort();
    for (const host::PageItem& item : content->page.items) {
        const POINTL anchor = Anchor(item);
        fuzzing::Band band(40, 24, BMF_1BPP);
        band.Draw(item, {anchor.x - 8, anchor.y - 8});
    }
    return 0;
}
