// The engine's string, font and transform objects and their services.
#include "host/text_objects.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

using host::EngineFont;
using host::EngineString;
using host::EngineTransform;

TEST(EngineString, HandsOutItsGlyphsWholeOrInRuns) {
    std::vector<EngineString::Glyph> glyphs;
    for (ULONG i = 0; i < 5; ++i) glyphs.push_back({0x41 + i, {10 * LONG(i), 20}});
    struct Case {
        ULONG runLength;
        std::vector<ULONG> runs;
    };
    for (const Case& c : {Case{0, {5}}, Case{2, {2, 2, 1}}, Case{5, {5}}, Case{9, {5}}}) {
        EngineString string(glyphs, u"ABCDE", {0, 0, 50, 24}, 0, 0, c.runLength);
        STROBJ* object = string.object();
        EXPECT_EQ(object->cGlyphs, 5u);
        EXPECT_EQ(object->pgp != nullptr, c.runLength == 0);
        ASSERT_NE(object->pwszOrg, nullptr);
        EXPECT_EQ(object->pwszOrg[4], u'E');
        for (int pass = 0; pass < 2; ++pass) {  // a new walk starts over
            STROBJ_vEnumStart(object);
            std::vector<ULONG> runs;
            ULONG next = 0x41;
            BOOL more;
            do {
                ULONG count = 0;
                GLYPHPOS* run = nullptr;
                more = STROBJ_bEnum(object, &count, &run);
                runs.push_back(count);
                for (ULONG i = 0; i < count; ++i) EXPECT_EQ(run[i].hg, next++);
            } while (more);
            EXPECT_EQ(runs, c.runs) << "run length " << c.runLength;
        }
    }
    EngineString empty({}, u"", {0, 0, 0, 0});
    EXPECT_EQ(empty.object()->pwszOrg, nullptr);
    ULONG count = 7;
    GLYPHPOS* run = nullptr;
    EXPECT_FALSE(STROBJ_bEnum(empty.object(), &count, &run));
    EXPECT_EQ(count, 0u);
}

// A source whose glyph h is an h x 2 block of ink, h/2 above the baseline.
class BlockGlyphs : public host::GlyphSource {
  public:
    int made = 0;
    bool Image(HGLYPH glyph, host::GlyphImage* image) override {
        ++made;
        image->origin = {0, -LONG(glyph) / 2};
        image->size = {LONG(glyph), 2};
        image->bits.assign((glyph + 7) / 8 * 2, 0xFF);
        return true;
    }
    bool Outline(HGLYPH glyph, std::vector<host::EnginePath::Figure>* figures) override {
        const FIX w = FIX(glyph) * 16;
        figures->push_back({{{0, 0}, {w, 0}, {w, -32}, {0, -32}}, true});
        return true;
    }
    FIX Advance(HGLYPH glyph) override { return FIX(glyph + 1) * 16; }
};

TEST(EngineFont, GivesMetricsTransformHandlesAndGlyphsOnce) {
    IFIMETRICS metrics{};
    metrics.fwdMaxCharInc = 12;
    auto source = std::make_shared<BlockGlyphs>();
    EngineFont font({FO_TYPE_TRUETYPE | FO_SIM_BOLD,
                     3,
                     &metrics,
                     XFORML{2, 0, 0, 2, 0, 0},
                     {9, 10, 11},
                     source});
    FONTOBJ* object = font.object();
    EXPECT_EQ(object->iFace, 3u);
    EXPECT_EQ(object->flFontType, FO_TYPE_TRUETYPE | FO_SIM_BOLD);
    EXPECT_EQ(object->cxMax, 24u);
    EXPECT_EQ(FONTOBJ_pifi(object), &metrics);

    std::vector<HGLYPH> handles(FONTOBJ_cGetAllGlyphHandles(object, nullptr));
    ASSERT_EQ(handles.size(), 3u);
    FONTOBJ_cGetAllGlyphHandles(object, handles.data());
    EXPECT_EQ(handles, (std::vector<HGLYPH>{9, 10, 11}));

    HGLYPH ten = 10;
    PVOID data = nullptr;
    ASSERT_EQ(FONTOBJ_cGetGlyphs(object, FO_GLYPHBITS, 1, &ten, &data), 1u);
    auto* glyph = static_cast<GLYPHDATA*>(data);
    EXPECT_EQ(glyph->hg, 10u);
    EXPECT_EQ(glyph->fxD, 11 * 16);
    EXPECT_EQ(glyph->gdf.pgb->sizlBitmap.cx, 10);
    EXPECT_EQ(glyph->gdf.pgb->ptlOrigin.y, -5);
    EXPECT_EQ(glyph->gdf.pgb->aj[3], 0xFF);  // second row, second byte
    ASSERT_EQ(FONTOBJ_cGetGlyphs(object, FO_GLYPHBITS, 1, &ten, &data), 1u);
    EXPECT_EQ(data, glyph);
    EXPECT_EQ(source->made, 1);

    ASSERT_EQ(FONTOBJ_cGetGlyphs(object, FO_PATHOBJ, 1, &ten, &data), 1u);
    RECTFX bounds;
    PATHOBJ_vGetBounds(static_cast<GLYPHDATA*>(data)->gdf.ppo, &bounds);
    EXPECT_EQ(bounds.xRight, 160);
    EXPECT_EQ(bounds.yTop, -32);

    EngineFont device({FO_TYPE_DEVICE, 1, &metrics, std::nullopt, {}, nullptr});
    EXPECT_EQ(FONTOBJ_pxoGetXform(device.object()), nullptr);
    EXPECT_EQ(FONTOBJ_cGetGlyphs(device.object(), FO_GLYPHBITS, 1, &ten, &data), 0u);
    EXPECT_EQ(data, nullptr);
}

TEST(EngineTransform, AppliesTheMatrixAndItsInverseRoundingToNearest) {
    struct Case {
        XFORML matrix;
        ULONG complexity;
    };
    for (const Case& c :
         {Case{{1, 0, 0, 1, 0, 0}, GX_IDENTITY}, Case{{1, 0, 0, 1, 3, -2}, GX_OFFSET},
          Case{{0.5f, 0, 0, 1.5f, 0, 0}, GX_SCALE}, Case{{0, 1, -1, 0, 0, 0}, GX_GENERAL}}) {
        EngineTransform transform(c.matrix);
        XFORML got;
        EXPECT_EQ(XFORMOBJ_iGetXform(transform.object(), &got), c.complexity);
        const XFORML& m = c.matrix;
        POINTL in[2] = {{0, 28}, {-7, 3}};
        POINTL out[2], fix[2], back[2];
        ASSERT_TRUE(XFORMOBJ_bApplyXform(transform.object(), XF_LTOL, 2, in, out));
        ASSERT_TRUE(XFORMOBJ_bApplyXform(transform.object(), XF_LTOFX, 2, in, fix));
        ASSERT_TRUE(XFORMOBJ_bApplyXform(transform.object(), XF_INV_FXTOL, 2, fix, back));
        for (int i = 0; i < 2; ++i) {
            const double x = in[i].x * m.eM11 + in[i].y * m.eM21 + m.eDx;
            const double y = in[i].x * m.eM12 + in[i].y * m.eM22 + m.eDy;
            EXPECT_EQ(out[i].x, LONG(std::floor(x + 0.5)));
            EXPECT_EQ(out[i].y, LONG(std::floor(y + 0.5)));
            EXPECT_EQ(fix[i].x, LONG(std::floor(x * 16 + 0.5)));
            EXPECT_EQ(back[i].x, in[i].x);
            EXPECT_EQ(back[i].y, in[i].y);
        }
    }
    EngineTransform flat({1, 0, 2, 0, 0, 0});  // no inverse
    POINTL point{1, 1}, out;
    EXPECT_FALSE(XFORMOBJ_bApplyXform(flat.object(), XF_INV_LTOL, 1, &point, &out));
    EXPECT_FALSE(XFORMOBJ_bApplyXform(nullptr, XF_LTOL, 1, &point, &out));
}

}  // namespace
