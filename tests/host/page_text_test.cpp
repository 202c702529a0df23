// Text: EngTextOut drawing glyph images, and page text laid out in installed
// faces (drawn by the engine) and in a driver's device faces (handed to its
// DrvTextOut).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "host/engine_objects.h"
#include "host/print_job.h"
#include "host/system_fonts.h"
#include "host/text_objects.h"
#include "host_test_util.h"
#include "platform/wide.h"

namespace {

using hosttest::Bit;
using hosttest::GuardedBitmap;

// Glyph 1 is a 3x2 image "X.X / .X." whose top left lies one dot left of
// and two above its baseline point; glyph 2 has no image.
class TwoGlyphs final : public host::GlyphSource {
  public:
    bool Image(HGLYPH glyph, host::GlyphImage* image) override {
        if (glyph != 1) return false;
        *image = {{-1, -2}, {3, 2}, {0xA0, 0x40}};
        return true;
    }
    bool Outline(HGLYPH, std::vector<host::EnginePath::Figure>*) override { return false; }
    FIX Advance(HGLYPH) override { return 4 * 16; }
};

std::string Rows(GuardedBitmap& band, LONG width, LONG height) {
    std::string rows;
    for (LONG y = 0; y < height; ++y) {
        for (LONG x = 0; x < width; ++x) {
            const BYTE grey = band.row(y)[x];
            rows += grey == 0 ? '#' : grey == 255 ? '.' : grey == 0x44 ? ' ' : '?';
        }
        rows += '\n';
    }
    return rows;
}

// The opaque rectangle first, then each glyph's ink in the foreground
// brush, then the extra rectangles, all within the clip; a glyph without
// an image is left out.
TEST(EngTextOut, PaintsTheOpaqueRectangleTheInkAndTheLinesWithinTheClip) {
    GuardedBitmap band(12, 6, BMF_8BPP, 0x44);
    host::EngineFont font(
        {FO_TYPE_RASTER, 0, nullptr, std::nullopt, {1, 2}, std::make_shared<TwoGlyphs>()});
    host::EngineString string({{1, {2, 3}}, {2, {6, 3}}, {1, {10, 3}}}, u"ABA", {1, 0, 12, 5});
    std::unique_ptr<host::EngineBrush> black = host::EngineBrush::Solid(0);
    std::unique_ptr<host::EngineBrush> white = host::EngineBrush::Solid(0xFFFFFF);
    host::ClipRegion clip({{0, 0, 11, 6}});
    RECTL opaque{1, 0, 9, 4};
    RECTL extra[] = {{2, 4, 8, 5}, {0, 0, 0, 0}, {0, 5, 12, 6}};  // the list ends at the empty one
    POINTL brushOrigin{0, 0};
    ASSERT_TRUE(EngTextOut(band.surface(), string.object(), font.object(), clip.object(), extra,
                           &opaque, black->object(), white->object(), &brushOrigin, 0x0D0D));
    // The clip cuts the last glyph's top right dot.
    EXPECT_EQ(Rows(band, 12, 6),
              " ........   \n"
              " #.#.....#  \n"
              " .#...... # \n"
              " ........   \n"
              "  ######    \n"
              "            \n");
    EXPECT_TRUE(band.GuardsIntact());

    // Without a foreground brush, or with a mix outside 1..16, nothing.
    EXPECT_FALSE(EngTextOut(band.surface(), string.object(), font.object(), nullptr, nullptr,
                            nullptr, nullptr, nullptr, nullptr, 0x0D0D));
    EXPECT_FALSE(EngTextOut(band.surface(), string.object(), font.object(), nullptr, nullptr,
                            nullptr, black->object(), nullptr, nullptr, 0x1111));
}

// The extent of black dots in a one-bit band.
struct InkBounds {
    LONG left = INT32_MAX, top = INT32_MAX, right = -1, bottom = -1;
};
InkBounds InkOf(GuardedBitmap& band, LONG width, LONG height) {
    InkBounds ink;
    for (LONG y = 0; y < height; ++y)
        for (LONG x = 0; x < width; ++x)
            if (Bit(band.row(y), x) == 0) {
                ink = {std::min(ink.left, x), std::min(ink.top, y), std::max(ink.right, x),
                       std::max(ink.bottom, y)};
            }
    return ink;
}
// The longest run of black dots of a row that starts at `x`.
LONG RunFrom(GuardedBitmap& band, LONG y, LONG x, LONG width) {
    LONG end = x;
    while (end < width && Bit(band.row(y), end) == 0) ++end;
    return end - x;
}
bool SameRows(GuardedBitmap& a, LONG aTop, GuardedBitmap& b, LONG bTop, LONG rows, LONG stride) {
    for (LONG y = 0; y < rows; ++y)
        if (std::memcmp(a.row(aTop + y), b.row(bTop + y), static_cast<std::size_t>(stride)) != 0)
            return false;
    return true;
}

// A line in an installed face, drawn by the engine: all its ink inside its
// cell (40 dots high from the text's top; as wide as its advances, which
// the underline spans), the same wherever the alignment puts the cell and
// however the page is cut into bands.
TEST(PageText, InstalledFacesDrawInsideTheirCellAlignedAndAcrossBands) {
    constexpr LONG kWidth = 200, kHeight = 64;
    host::PageText text;
    text.position = {20, 10};
    text.text = u"Hxgy";
    text.face = u"dejavu sans";  // faces are matched without regard to case
    text.size = 40;
    text.underline = true;
    GuardedBitmap whole(kWidth, kHeight, BMF_1BPP, 0xFF);
    ASSERT_TRUE(host::DrawPageItem(whole.surface(), {0, 0}, text, nullptr));
    const InkBounds ink = InkOf(whole, kWidth, kHeight);
    LONG cellWidth = 0;
    for (LONG y = 10; y < 50; ++y) cellWidth = std::max(cellWidth, RunFrom(whole, y, 20, kWidth));
    EXPECT_GT(cellWidth, 60);  // the underline, about four glyphs wide
    EXPECT_GE(ink.left, 20);
    EXPECT_LE(ink.right, 20 + cellWidth);
    EXPECT_GE(ink.top, 10);
    EXPECT_LT(ink.bottom, 50);
    EXPECT_TRUE(whole.GuardsIntact());

    struct Case {
        host::PageText::Align align;
        LONG x;
    };
    for (const Case& c : {Case{host::PageText::Align::Right, 20 + cellWidth},
                          Case{host::PageText::Align::Centre, 20 + cellWidth / 2}}) {
        host::PageText aligned = text;
        aligned.align = c.align;
        aligned.position.x = c.x;
        GuardedBitmap band(kWidth, kHeight, BMF_1BPP, 0xFF);
        ASSERT_TRUE(host::DrawPageItem(band.surface(), {0, 0}, aligned, nullptr));
        EXPECT_TRUE(SameRows(band, 0, whole, 0, kHeight, band.stride())) << c.x;
    }
    for (LONG top = 0; top < kHeight; top += 12) {
        GuardedBitmap band(kWidth, 12, BMF_1BPP, 0xFF);
        ASSERT_TRUE(host::DrawPageItem(band.surface(), {0, top}, text, nullptr));
        EXPECT_TRUE(SameRows(band, 0, whole, top, std::min<LONG>(12, kHeight - top), band.stride()))
            << top;
    }
}

// ---- device faces, through a recording driver --------------------------------

struct DeviceFace {
    IFIMETRICS ifi;
    char16_t name[8];
};
DeviceFace MakeFace(USHORT weight) {
    DeviceFace face{};
    face.ifi.cjThis = sizeof(DeviceFace);
    face.ifi.dpwszFaceName = offsetof(DeviceFace, name);
    face.ifi.usWinWeight = weight;
    face.ifi.fsSelection = weight == 700 ? 0x20 : 0x40;
    face.ifi.fwdUnitsPerEm = 28;
    face.ifi.fwdWinAscender = 34;
    face.ifi.fwdWinDescender = -6;
    face.ifi.fwdAveCharWidth = face.ifi.fwdMaxCharInc = 13;
    face.ifi.fwdUnderscoreSize = 2;
    face.ifi.fwdUnderscorePosition = -3;
    face.ifi.wcDefaultChar = u'?';
    std::memcpy(face.name, u"Font A", sizeof u"Font A");
    return face;
}
DeviceFace regularFace = MakeFace(400), boldFace = MakeFace(700);
HGLYPH codes[0x5F];
FD_GLYPHSET glyphSet{sizeof(FD_GLYPHSET), 0, 0x5F, 1, {{u' ', 0x5F, codes}}};
bool proportional = true;  // whether the driver's glyph data answers
DHPDEV const kPdev = reinterpret_cast<DHPDEV>(0x1234);

IFIMETRICS* QueryFont(DHPDEV pdev, ULONG_PTR, ULONG face, ULONG_PTR* id) {
    *id = 0;
    if (pdev != kPdev) return nullptr;
    return face == 1 ? &regularFace.ifi : face == 2 ? &boldFace.ifi : nullptr;
}
PVOID QueryFontTree(DHPDEV, ULONG_PTR, ULONG face, ULONG mode, ULONG_PTR* id) {
    *id = 0;
    return mode == QFT_GLYPHSET && (face == 1 || face == 2) ? &glyphSet : nullptr;
}
// 'i' is narrow, every other glyph 13 dots wide.
LONG QueryFontData(DHPDEV, FONTOBJ* font, ULONG mode, HGLYPH glyph, GLYPHDATA* data, PVOID, ULONG) {
    if (!proportional || mode != QFD_GLYPHANDBITMAP || font == nullptr || font->iFace == 0)
        return -1;
    data->fxD = (glyph == 'i' ? 6 : 13) * 16;
    return 0;
}

std::vector<std::string> calls;
std::string Rect(const RECTL& r) {
    return std::to_string(r.left) + "," + std::to_string(r.top) + "," + std::to_string(r.right) +
           "," + std::to_string(r.bottom);
}
BOOL RecordTextOut(SURFOBJ*, STROBJ* string, FONTOBJ* font, CLIPOBJ*, RECTL* extra, RECTL* opaque,
                   BRUSHOBJ* brush, BRUSHOBJ*, POINTL*, MIX) {
    std::string call =
        "face " + std::to_string(font->iFace) + " type " + std::to_string(font->flFontType) +
        " accel " + std::to_string(string->flAccel) + " inc " + std::to_string(string->ulCharInc) +
        " box " + Rect(string->rclBkGround) + " text " +
        platform::ToUtf8(std::u16string(string->pwszOrg, string->cGlyphs)) + ":";
    for (ULONG i = 0; i < string->cGlyphs; ++i)
        call += " " + std::to_string(string->pgp[i].hg) + "@" +
                std::to_string(string->pgp[i].ptl.x) + "," + std::to_string(string->pgp[i].ptl.y);
    for (; extra != nullptr && extra->right > extra->left; ++extra) call += " line " + Rect(*extra);
    if (opaque != nullptr) call += " opaque";
    calls.push_back(call + " colour " + std::to_string(brush->iSolidColor));
    return TRUE;
}

// A device face is found by name, weight and slant among the driver's
// fonts; its glyphs are the driver's glyph handles, placed by the widths of
// its glyph data (or by its average width when that does not answer, which
// is the device's own placement), aligned by them, on the baseline the
// ascent below the text's top.
TEST(PageText, DeviceFacesReachTheDriversTextEntryWithItsGlyphsAndWidths) {
    for (HGLYPH i = 0; i < 0x5F; ++i) codes[i] = 0x20 + i;
    const DRVFN table[] = {
        {INDEX_DrvTextOut, reinterpret_cast<PFN>(&RecordTextOut)},
        {INDEX_DrvQueryFont, reinterpret_cast<PFN>(&QueryFont)},
        {INDEX_DrvQueryFontTree, reinterpret_cast<PFN>(&QueryFontTree)},
        {INDEX_DrvQueryFontData, reinterpret_cast<PFN>(&QueryFontData)},
    };
    GuardedBitmap band(200, 40, BMF_1BPP, 0xFF);
    HDEV device = host::CreateEngineDevice();
    host::SetEngineDevicePdev(device, kPdev);
    host::SetEngineDeviceFonts(device, 2);
    ASSERT_TRUE(EngAssociateSurface(band.surface()->hsurf, device, HOOK_TEXTOUT));

    host::PageText text;
    text.position = {10, 100};
    text.text = u"Hi\u00e9";  // the face has no e acute: its default character stands in
    text.face = u"font a";
    text.colour = 0x0000FF;
    using Align = host::PageText::Align;
    struct Case {
        Align align;
        LONG x;
        bool bold, underline, proportional;
        const char* expected;
    };
    const Case kCases[] = {
        {Align::Left, 10, false, false, true,
         "face 1 type 2 accel 2 inc 0 box 10,0,42,34 text Hi\u00e9: 72@10,34 105@23,34 63@29,34"},
        {Align::Right, 60, true, true, true,
         "face 2 type 2 accel 2 inc 0 box 28,0,60,34 text Hi\u00e9: 72@28,34 105@41,34 63@47,34 "
         "line 28,37,60,39"},
        {Align::Centre, 60, false, false, false,
         "face 1 type 2 accel 3 inc 13 box 41,0,80,34 text Hi\u00e9: 72@41,34 105@54,34 63@67,34"},
    };
    for (const Case& c : kCases) {
        calls.clear();
        proportional = c.proportional;
        host::PageText item = text;
        item.align = c.align;
        item.position.x = c.x;
        item.bold = c.bold;
        item.underline = c.underline;
        EXPECT_TRUE(host::DrawPageItem(band.surface(), {0, 100}, item, table));
        ASSERT_EQ(calls.size(), 1u);
        EXPECT_EQ(calls[0], std::string(c.expected) + " colour 255");
    }
    // Text in device faces alone never starts the system's font libraries
    // (checked in a process of its own, which runs this test only).
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            host::DrawPageItem(band.surface(), {0, 100}, text, table);
            std::exit(host::SystemFontsStarted() ? 1 : 0);
        },
        ::testing::ExitedWithCode(0), "");
    // A band the text is far from is not given it; a face the driver does
    // not have is none of its business.
    calls.clear();
    EXPECT_TRUE(host::DrawPageItem(band.surface(), {0, 400}, text, table));
    text.face = u"Font Z";
    EXPECT_FALSE(host::DrawPageItem(band.surface(), {0, 100}, text, table));
    EXPECT_TRUE(calls.empty());
    host::DeleteEngineDevice(device);
}

// What an installed face's font object told a recording DrvTextOut.
struct SeenFont {
    FLONG type = 0;
    std::string face;
    USHORT weight = 0;
    ULONG transformKind = 0;
    POINTL em{};  // (0, units per em) through the transform
    RECTL background{};
    std::vector<GLYPHPOS> glyphs;
    RECTFX outline{};  // the first glyph's outline, 28.4, relative to its point
    RECTL image{};     // the first glyph's image, relative to its point
};
SeenFont seen;

BOOL InspectTextOut(SURFOBJ*, STROBJ* string, FONTOBJ* font, CLIPOBJ*, RECTL*, RECTL*, BRUSHOBJ*,
                    BRUSHOBJ*, POINTL*, MIX) {
    seen = {};
    seen.type = font->flFontType;
    const IFIMETRICS* ifi = FONTOBJ_pifi(font);
    seen.face = platform::ToUtf8(
        reinterpret_cast<const char16_t*>(reinterpret_cast<const BYTE*>(ifi) + ifi->dpwszFaceName));
    seen.weight = ifi->usWinWeight;
    XFORMOBJ* transform = FONTOBJ_pxoGetXform(font);
    seen.transformKind = XFORMOBJ_iGetXform(transform, nullptr);
    POINTL em{0, ifi->fwdUnitsPerEm};
    XFORMOBJ_bApplyXform(transform, XF_LTOL, 1, &em, &seen.em);
    seen.background = string->rclBkGround;
    seen.glyphs.assign(string->pgp, string->pgp + string->cGlyphs);
    HGLYPH first = string->pgp[0].hg;
    GLYPHDATA* data = nullptr;
    if (FONTOBJ_cGetGlyphs(font, FO_PATHOBJ, 1, &first, reinterpret_cast<PVOID*>(&data)) == 1)
        PATHOBJ_vGetBounds(data->gdf.ppo, &seen.outline);
    if (FONTOBJ_cGetGlyphs(font, FO_GLYPHBITS, 1, &first, reinterpret_cast<PVOID*>(&data)) == 1) {
        const GLYPHBITS& bits = *data->gdf.pgb;
        seen.image = {bits.ptlOrigin.x, bits.ptlOrigin.y, bits.ptlOrigin.x + bits.sizlBitmap.cx,
                      bits.ptlOrigin.y + bits.sizlBitmap.cy};
    }
    return TRUE;
}

// An installed face reaches a driver that draws text itself as a TrueType
// font: its metrics name the face as the font spells it (the driver looks
// its substitutes up by that name), its transform scales font units to
// dots, and each glyph's outline covers the same dots as its image.
TEST(PageText, InstalledFacesReachTheDriverAsOutlineFontsWithTheirMetrics) {
    const DRVFN table[] = {{INDEX_DrvTextOut, reinterpret_cast<PFN>(&InspectTextOut)}};
    GuardedBitmap band(200, 40, BMF_1BPP, 0xFF);
    HDEV device = host::CreateEngineDevice();
    ASSERT_TRUE(EngAssociateSurface(band.surface()->hsurf, device, HOOK_TEXTOUT));
    host::PageText text;
    text.position = {10, 100};
    text.text = u"Hello";
    text.face = u"DEJAVU SANS";
    text.size = 30;
    for (bool bold : {false, true}) {
        text.bold = bold;
        ASSERT_TRUE(host::DrawPageItem(band.surface(), {0, 90}, text, table));
        EXPECT_EQ(seen.type & (FO_TYPE_TRUETYPE | FO_TYPE_DEVICE), FO_TYPE_TRUETYPE);
        EXPECT_EQ(seen.type & FO_SIM_BOLD, 0u);  // the family has a bold face of its own
        EXPECT_EQ(seen.face, "DejaVu Sans");
        EXPECT_EQ(seen.weight, bold ? 700 : 400);
        EXPECT_EQ(seen.transformKind, GX_SCALE);
        EXPECT_EQ(seen.em.x, 0);
        EXPECT_GT(seen.em.y, 20);  // the em is the cell less the line's spare room
        EXPECT_LE(seen.em.y, 30);
        EXPECT_EQ(seen.background.top, 10);
        EXPECT_EQ(seen.background.bottom, 40);
        ASSERT_EQ(seen.glyphs.size(), 5u);
        EXPECT_EQ(seen.glyphs[0].ptl.x, seen.background.left);
        for (std::size_t i = 1; i < seen.glyphs.size(); ++i) {
            EXPECT_GT(seen.glyphs[i].ptl.x, seen.glyphs[i - 1].ptl.x);
            EXPECT_EQ(seen.glyphs[i].ptl.y, seen.glyphs[0].ptl.y);  // one baseline
        }
        EXPECT_GT(seen.glyphs[0].ptl.y, seen.background.top);
        EXPECT_LT(seen.glyphs[0].ptl.y, seen.background.bottom);
        // Outline and image of the H, in dots, agree within a dot.
        EXPECT_NEAR(seen.outline.xLeft / 16.0, seen.image.left, 1.0);
        EXPECT_NEAR(seen.outline.xRight / 16.0, seen.image.right, 1.0);
        EXPECT_NEAR(seen.outline.yTop / 16.0, seen.image.top, 1.0);
        EXPECT_NEAR(seen.outline.yBottom / 16.0, seen.image.bottom, 1.0);
        EXPECT_LT(seen.image.top, 0);  // above the baseline
    }
    host::DeleteEngineDevice(device);
}

}  // namespace
