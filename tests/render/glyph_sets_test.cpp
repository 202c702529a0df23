// The stored Shift-JIS glyph set of the driver library, expanded into the
// engine's form, and stored sets that are not well formed.
#include "render/glyph_sets.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <vector>

#include "host/engine.h"
#include "render/glyph_set_layout.h"

namespace qlpr {
extern const unsigned char kShiftJisGlyphSet[];
extern const unsigned long kShiftJisGlyphSetSize;
}  // namespace qlpr

namespace {

using glyphset::StoredHeader;
using glyphset::StoredRun;

std::vector<unsigned char> StoredShiftJis() {
    return {qlpr::kShiftJisGlyphSet, qlpr::kShiftJisGlyphSet + qlpr::kShiftJisGlyphSetSize};
}

template <class T>
void Patch(std::vector<unsigned char>* bytes, std::size_t offset,
           const std::function<void(T*)>& change) {
    T value;
    std::memcpy(&value, bytes->data() + offset, sizeof value);
    change(&value);
    std::memcpy(bytes->data() + offset, &value, sizeof value);
}

TEST(StoredGlyphSets, TheShiftJisSetExpandsWithEveryRunInPlace) {
    const std::vector<unsigned char> stored = StoredShiftJis();
    FD_GLYPHSET* set = ExpandStoredGlyphSet(stored.data(), stored.size());
    ASSERT_NE(set, nullptr);
    EXPECT_EQ(set->cGlyphsSupported, glyphset::kShiftJisGlyphCount);
    EXPECT_EQ(set->cRuns, glyphset::kShiftJisRunCount);
    ULONG glyphs = 0;
    for (ULONG r = 0; r < set->cRuns; ++r) {
        glyphs += set->awcrun[r].cGlyphs;
        if (r > 0) {
            const WCRUN& previous = set->awcrun[r - 1];
            EXPECT_GE(set->awcrun[r].wcLow, previous.wcLow + previous.cGlyphs);
        }
    }
    EXPECT_EQ(glyphs, set->cGlyphsSupported);
    const HGLYPH* handles = set->awcrun[set->cRuns - 1].phg;
    EXPECT_EQ(handles[set->awcrun[set->cRuns - 1].cGlyphs - 1], 0x818Fu);  // U+FFE5 comes last
    EngFreeMem(set);
}

TEST(StoredGlyphSets, MalformedSetsAreRefused) {
    const std::size_t run1 = sizeof(StoredHeader) + sizeof(StoredRun);
    struct Case {
        const char* what;
        std::function<void(std::vector<unsigned char>*)> spoil;
    };
    const Case cases[] = {
        {"shorter than a header", [](auto* b) { b->resize(15); }},
        {"cut short", [](auto* b) { b->resize(b->size() - 4); }},
        {"a glyph count that disagrees",
         [](auto* b) { Patch<StoredHeader>(b, 0, [](StoredHeader* h) { h->glyphCount += 1; }); }},
        {"runs that do not fit",
         [](auto* b) {
             Patch<StoredHeader>(b, 0, [](StoredHeader* h) { h->runCount = 0x10000000; });
         }},
        {"handles outside the block",
         [&](auto* b) {
             Patch<StoredRun>(b, run1, [](StoredRun* r) { r->handleOffset = 0xFFFFFFF0; });
         }},
        {"runs out of order",
         [&](auto* b) { Patch<StoredRun>(b, run1, [](StoredRun* r) { r->firstChar = 0; }); }},
    };
    for (const Case& c : cases) {
        std::vector<unsigned char> stored = StoredShiftJis();
        c.spoil(&stored);
        FD_GLYPHSET* set = ExpandStoredGlyphSet(stored.data(), stored.size());
        EXPECT_EQ(set, nullptr) << c.what;
        EngFreeMem(set);
    }
    EXPECT_EQ(ExpandStoredGlyphSet(nullptr, 100), nullptr);
}

}  // namespace
