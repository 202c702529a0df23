#include "render/glyph_sets.h"

#include <cstring>
#include <vector>

#include "host/engine.h"
#include "render/glyph_set_layout.h"

namespace {

using glyphset::StoredHeader;
using glyphset::StoredRun;

template <class T>
T ReadAt(const BYTE* bytes, std::size_t offset) {
    T value;
    std::memcpy(&value, bytes + offset, sizeof value);
    return value;
}

// The runs of a stored block, checked against the block's own size: sorted
// by character and not overlapping, each with its handles inside the block.
bool ReadRuns(const BYTE* bytes, const StoredHeader& header, std::vector<StoredRun>* runs) {
    const std::size_t runsEnd = sizeof header + std::size_t{header.runCount} * sizeof(StoredRun);
    if (runsEnd > header.size) return false;
    std::size_t glyphs = 0;
    std::size_t nextChar = 0;
    for (std::uint32_t i = 0; i < header.runCount; ++i) {
        const auto run = ReadAt<StoredRun>(bytes, sizeof header + i * sizeof(StoredRun));
        const std::size_t handlesEnd =
            std::size_t{run.handleOffset} + std::size_t{run.glyphCount} * 4;
        if (run.glyphCount == 0 || run.firstChar < nextChar || run.handleOffset < runsEnd ||
            run.handleOffset % 4 != 0 || handlesEnd > header.size)
            return false;
        nextChar = std::size_t{run.firstChar} + run.glyphCount;
        glyphs += run.glyphCount;
        runs->push_back(run);
    }
    return glyphs == header.glyphCount;
}

}  // namespace

FD_GLYPHSET* ExpandStoredGlyphSet(const void* data, std::size_t size) {
    const auto* bytes = static_cast<const BYTE*>(data);
    if (bytes == nullptr || size < sizeof(StoredHeader)) return nullptr;
    const auto header = ReadAt<StoredHeader>(bytes, 0);
    std::vector<StoredRun> runs;
    if (header.size > size || header.runCount == 0 || !ReadRuns(bytes, header, &runs))
        return nullptr;

    const std::size_t handlesAt = offsetof(FD_GLYPHSET, awcrun) + runs.size() * sizeof(WCRUN);
    const std::size_t total = handlesAt + std::size_t{header.glyphCount} * sizeof(HGLYPH);
    auto* set =
        static_cast<FD_GLYPHSET*>(EngAllocMem(FL_ZERO_MEMORY, static_cast<ULONG>(total), 0));
    if (set == nullptr) return nullptr;
    set->cjThis = static_cast<ULONG>(total);
    set->flAccel = header.flags;
    set->cGlyphsSupported = header.glyphCount;
    set->cRuns = header.runCount;
    auto* handles = reinterpret_cast<HGLYPH*>(reinterpret_cast<BYTE*>(set) + handlesAt);
    for (std::size_t r = 0; r < runs.size(); ++r) {
        set->awcrun[r] = {runs[r].firstChar, runs[r].glyphCount, handles};
        std::memcpy(handles, bytes + runs[r].handleOffset, runs[r].glyphCount * sizeof(HGLYPH));
        handles += runs[r].glyphCount;
    }
    return set;
}
