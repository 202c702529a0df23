#include "host/engine.h"

#include <gtest/gtest.h>

#include <map>

namespace {

std::map<char16_t, HGLYPH> Glyphs(const FD_GLYPHSET& set) {
    std::map<char16_t, HGLYPH> glyphs;
    for (ULONG r = 0; r < set.cRuns; ++r)
        for (USHORT i = 0; i < set.awcrun[r].cGlyphs; ++i)
            glyphs[static_cast<char16_t>(set.awcrun[r].wcLow + i)] = set.awcrun[r].phg[i];
    return glyphs;
}

TEST(EngineGlyphSet, TheAnsiCodePageGivesEveryByteItsOwnGlyph) {
    FD_GLYPHSET* set = EngComputeGlyphSet(0, 0, 256);
    ASSERT_NE(set, nullptr);
    EXPECT_EQ(set->cGlyphsSupported, 256u);
    // Runs ascend and never overlap.
    for (ULONG r = 1; r < set->cRuns; ++r)
        EXPECT_GT(set->awcrun[r].wcLow, set->awcrun[r - 1].wcLow + set->awcrun[r - 1].cGlyphs - 1);
    std::map<char16_t, HGLYPH> glyphs = Glyphs(*set);
    EXPECT_EQ(glyphs.size(), 256u);
    EXPECT_EQ(glyphs[u'A'], 0x41u);
    EXPECT_EQ(glyphs[u'\u20AC'], 0x80u);  // euro sign
    EXPECT_EQ(glyphs[u'\u2122'], 0x99u);  // trade mark sign
    EXPECT_EQ(glyphs[u'\u00FF'], 0xFFu);
    EXPECT_EQ(glyphs[u'\u0081'], 0x81u);  // an unassigned byte keeps its control character
    EngFreeMem(set);
}

TEST(EngineGlyphSet, APartialRangeAndBadArguments) {
    FD_GLYPHSET* set = EngComputeGlyphSet(1252, 0x20, 0x5F);
    ASSERT_NE(set, nullptr);
    EXPECT_EQ(set->cRuns, 1u);
    EXPECT_EQ(set->awcrun[0].wcLow, u' ');
    EXPECT_EQ(set->awcrun[0].cGlyphs, 0x5F);
    EngFreeMem(set);
    EXPECT_EQ(EngComputeGlyphSet(0, 200, 100), nullptr);
    EXPECT_EQ(EngComputeGlyphSet(0, 0, 0), nullptr);
}

TEST(EnginePalettes, CreateLookUpAndDelete) {
    std::size_t before = host::LivePaletteCount();
    ULONG colours[2] = {0x000000, 0xFFFFFF};
    HPALETTE indexed = EngCreatePalette(PAL_INDEXED, 2, colours, 0, 0, 0);
    HPALETTE bgr = EngCreatePalette(PAL_BGR, 0, nullptr, 0, 0, 0);
    ASSERT_TRUE(indexed);
    ASSERT_TRUE(bgr);
    EXPECT_NE(indexed, bgr);
    host::PaletteInfo info;
    ASSERT_TRUE(host::LookupPalette(indexed, &info));
    EXPECT_EQ(info.count, 2u);
    EXPECT_EQ(info.colours[1], 0xFFFFFFu);
    ASSERT_TRUE(host::LookupPalette(bgr, &info));
    EXPECT_EQ(info.mode, PAL_BGR);
    EXPECT_EQ(host::LivePaletteCount(), before + 2);
    EXPECT_TRUE(EngDeletePalette(indexed));
    EXPECT_FALSE(EngDeletePalette(indexed));
    EXPECT_TRUE(EngDeletePalette(bgr));
    EXPECT_EQ(host::LivePaletteCount(), before);
    EXPECT_FALSE(EngCreatePalette(PAL_INDEXED, 0, colours, 0, 0, 0));
    EXPECT_FALSE(EngCreatePalette(0x40, 0, nullptr, 0, 0, 0));
}

}  // namespace
