// Page descriptions and the options of qlpr print.

#include "tools/page_description.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <variant>

#include "host/engine_objects.h"
#include "host/winddi.h"
#include "test_support.h"
#include "tools/print_options.h"

namespace {

class PageDescription : public ::testing::Test {
  protected:
    void SetUp() override {
        std::ofstream(root_.path() / "logo.pbm", std::ios::binary) << "P1 4 2\n1001\n0110\n";
    }
    std::optional<qlpr::PageContent> Parse(const std::string& text) {
        error_.clear();
        return qlpr::ParsePageDescription(text, root_.path(), &error_);
    }
    testsupport::ScopedStoreRoot root_;
    std::string error_;
};

TEST_F(PageDescription, ListsImagesAndRectanglesInDrawingOrder) {
    auto content = Parse(R"({"items": [
        {"type": "rectangle", "x": 0, "y": 10, "width": 576, "height": 3},
        {"type": "image", "file": "logo.pbm", "x": 100, "y": 20},
        {"type": "rectangle", "x": -5, "y": 40, "width": 10, "height": 2, "colour": "#FF8000"}]})");
    ASSERT_TRUE(content) << error_;
    const auto& items = content->page.items;
    ASSERT_EQ(items.size(), 3u);
    const auto& rule = std::get<host::PageRectangle>(items[0]);
    EXPECT_EQ(rule.rect.left, 0);
    EXPECT_EQ(rule.rect.top, 10);
    EXPECT_EQ(rule.rect.right, 576);
    EXPECT_EQ(rule.rect.bottom, 13);
    EXPECT_EQ(rule.colour, 0u);
    const auto& logo = std::get<host::PageImage>(items[1]);
    EXPECT_EQ(logo.format, BMF_1BPP);
    EXPECT_EQ(logo.size.cx, 4);
    EXPECT_EQ(logo.target.left, 100);
    EXPECT_EQ(logo.target.top, 20);
    EXPECT_EQ(logo.target.right, 104);
    EXPECT_EQ(logo.target.bottom, 22);
    EXPECT_EQ(logo.bits[0] & 0xF0, 0x90);
    // Colours are given as #RRGGBB and drawn as 0x00BBGGRR.
    EXPECT_EQ(std::get<host::PageRectangle>(items[2]).colour, 0x0080FFu);
    EXPECT_EQ(content->bottom, 42);
}

TEST_F(PageDescription, ScalesImagesToTheGivenSizeOrKeepsTheirAspect) {
    auto content = Parse(R"({"items": [
        {"type": "image", "file": "logo.pbm", "width": 40, "height": 7},
        {"type": "image", "file": "logo.pbm", "width": 40},
        {"type": "image", "file": "logo.pbm", "y": 100, "height": 5}]})");
    ASSERT_TRUE(content) << error_;
    auto target = [&](std::size_t i) {
        return std::get<host::PageImage>(content->page.items[i]).target;
    };
    EXPECT_EQ(target(0).right, 40);
    EXPECT_EQ(target(0).bottom, 7);
    EXPECT_EQ(target(1).bottom, 20);
    EXPECT_EQ(target(2).right, 10);  // 4 x 2 at height 5: width 10
    EXPECT_EQ(target(2).bottom, 105);
    EXPECT_EQ(std::get<host::PageImage>(content->page.items[1]).size.cx, 4);
}

TEST_F(PageDescription, ReadsLinesPolylinesPolygonsAndOutlinedBoxes) {
    auto content = Parse(R"({"items": [
        {"type": "line", "x1": 0, "y1": 10, "x2": 576, "y2": 10},
        {"type": "line", "x1": 0, "y1": 20, "x2": 576, "y2": 20, "width": 3,
         "colour": "#FF0000", "dash": [8, 4]},
        {"type": "polyline", "points": [[0, 0], [10, 30], [20, 0]]},
        {"type": "polygon", "points": [[0, 0], [10, 40], [20, 0]], "rule": "winding"},
        {"type": "polygon", "points": [[0, 0], [10, 40], [20, 0]], "outline": "#000000",
         "outlineWidth": 2},
        {"type": "polygon", "points": [[0, 0], [10, 40], [20, 0]], "fill": "#00FF00",
         "outline": "#000000"},
        {"type": "rectangle", "x": 0, "y": 50, "width": 100, "height": 50, "outline": "#000000",
         "outlineWidth": 2},
        {"type": "rectangle", "x": 0, "y": 50, "width": 100, "height": 50, "outline": "#000000",
         "pattern": "diagonal-up"},
        {"type": "rectangle", "x": 0, "y": 50, "width": 100, "height": 50, "pattern": "cross",
         "colour": "#0000FF"}]})");
    ASSERT_TRUE(content) << error_;
    const auto& items = content->page.items;
    ASSERT_EQ(items.size(), 9u);
    auto path = [&](std::size_t i) { return std::get<host::PagePath>(items[i]); };
    auto rectangle = [&](std::size_t i) { return std::get<host::PageRectangle>(items[i]); };

    EXPECT_EQ(path(0).points.size(), 2u);
    EXPECT_EQ(path(0).points[1].x, 576);
    EXPECT_FALSE(path(0).closed);
    EXPECT_EQ(path(0).pen->width, 1);
    EXPECT_EQ(path(0).pen->colour, 0u);
    EXPECT_TRUE(path(0).pen->dash.empty());
    EXPECT_FALSE(path(0).fill);
    EXPECT_EQ(path(1).pen->width, 3);
    EXPECT_EQ(path(1).pen->colour, 0x0000FFu);
    EXPECT_EQ(path(1).pen->dash, (std::vector<LONG>{8, 4}));
    EXPECT_EQ(path(2).points[1].y, 30);
    EXPECT_FALSE(path(2).closed);
    // Neither fill nor outline: filled black.
    EXPECT_TRUE(path(3).closed);
    EXPECT_FALSE(path(3).pen);
    EXPECT_EQ(path(3).fill->colour, 0u);
    EXPECT_TRUE(path(3).fill->winding);
    // An outline alone is not filled.
    EXPECT_FALSE(path(4).fill);
    EXPECT_EQ(path(4).pen->width, 2);
    EXPECT_EQ(path(5).fill->colour, 0x00FF00u);
    EXPECT_FALSE(path(5).fill->winding);
    EXPECT_EQ(path(5).pen->width, 1);

    EXPECT_FALSE(rectangle(6).filled);
    EXPECT_EQ(rectangle(6).outline, 0u);
    EXPECT_EQ(rectangle(6).outlineWidth, 2);
    EXPECT_TRUE(rectangle(7).filled);
    EXPECT_EQ(rectangle(7).hatch, host::HS_BDIAGONAL);
    EXPECT_EQ(rectangle(7).colour, 0u);
    EXPECT_EQ(rectangle(8).hatch, host::HS_CROSS);
    EXPECT_EQ(rectangle(8).colour, 0xFF0000u);
    EXPECT_FALSE(rectangle(8).outline);
    // The wide line reaches two rows below its own.
    EXPECT_EQ(content->bottom, 100);
    auto low = Parse(R"({"items": [{"type": "line", "x1": 0, "y1": 20, "x2": 9, "y2": 200,
                                    "width": 5}]})");
    ASSERT_TRUE(low) << error_;
    EXPECT_EQ(low->bottom, 203);
}

TEST_F(PageDescription, RefusesMalformedDescriptionsWithTheItemNamed) {
    const std::pair<const char*, const char*> kBad[] = {
        {"{", "not a valid page description"},
        // Numbers beyond a double, even where no key is known.
        {R"({"items": [], "z": 1e400})", "not a valid page description"},
        {R"({"items": [{"type": "rectangle", "x": -1e400, "y": 0, "width": 5, "height": 1}]})",
         "number overflow"},
        {"[]", "an object"},
        {R"({"items": {}})", "\"items\" must be a list"},
        {R"({"items": [], "extra": 1})", "unknown key \"extra\""},
        {R"({"items": [5]})", "item 1: an item is an object"},
        {R"({"items": [{"x": 1}]})", "item 1: \"type\""},
        {R"({"items": [{"type": "circle"}]})", "item 1: unknown type \"circle\""},
        {R"({"items": [{"type": "rectangle", "x": 0, "y": 0, "width": 5}]})",
         "\"height\" is missing"},
        {R"({"items": [{"type": "rectangle", "x": 0, "y": 0, "width": -5, "height": 1}]})",
         "\"width\" must be within 1"},
        {R"({"items": [{"type": "rectangle", "x": "0", "y": 0, "width": 5, "height": 1}]})",
         "\"x\" must be a whole number"},
        {R"({"items": [{"type": "rectangle", "x": 0.5, "y": 0, "width": 5, "height": 1}]})",
         "\"x\" must be a whole number"},
        {R"({"items": [{"type": "rectangle", "x": 0, "y": 99999999999, "width": 5, "height": 1}]})",
         "\"y\" must be within"},
        {R"({"items": [{"type": "rectangle", "x": 0, "y": 18446744073709551615, "width": 5, "height": 1}]})",
         "\"y\" must be within"},
        {R"({"items": [{"type": "rectangle", "x": 0, "y": 0, "width": 5, "height": 1, "colour": "red"}]})",
         "#RRGGBB"},
        {R"({"items": [{"type": "rectangle", "x": 0, "y": 0, "width": 5, "height": 1, "color": "#000000"}]})",
         "unknown key \"color\""},
        {R"({"items": [{"type": "line", "x1": 0, "y1": 0, "x2": 5}]})", "\"y2\" is missing"},
        {R"({"items": [{"type": "line", "x1": 0, "y1": 0, "x2": 5, "y2": 0, "width": 0}]})",
         "\"width\" must be within 1"},
        {R"({"items": [{"type": "line", "x1": 0, "y1": 0, "x2": 5, "y2": 0, "width": 1001}]})",
         "\"width\" must be within 1 to 1000"},
        {R"({"items": [{"type": "line", "x1": 0, "y1": 0, "x2": 5, "y2": 0, "dash": []}]})",
         "\"dash\" must be a list of 1 to 16"},
        {R"({"items": [{"type": "line", "x1": 0, "y1": 0, "x2": 5, "y2": 0, "dash": [3, 0]}]})",
         "\"dash\" must be"},
        {R"({"items": [{"type": "line", "x1": 0, "y1": 0, "x2": 5, "y2": 0, "dash": 3}]})",
         "\"dash\" must be"},
        {R"({"items": [{"type": "line", "x1": -1048576, "y1": 0, "x2": 1048576, "y2": 0,
                        "dash": [1]}]})",
         "more than 1048576 pieces"},
        {R"({"items": [{"type": "line", "x1": 0, "y1": 0, "x2": 5, "y2": 0, "fill": "#000000"}]})",
         "unknown key \"fill\""},
        {R"({"items": [{"type": "polyline", "points": [[0, 0]]}]})",
         "\"points\" must be a list of 2 to 100000 points"},
        {R"({"items": [{"type": "polyline", "points": [[0, 0], [1]]}]})", "points [x, y]"},
        {R"({"items": [{"type": "polyline", "points": [[0, 0], [1, 2000000]]}]})",
         "not two whole numbers within -1048576 to 1048576"},
        {R"({"items": [{"type": "polyline", "points": [[0, 0], [1, 0.5]]}]})",
         "not two whole numbers"},
        {R"({"items": [{"type": "polygon", "points": [[0, 0], [1, 1]]}]})",
         "\"points\" must be a list of 3"},
        {R"({"items": [{"type": "polygon"}]})", "\"points\" is missing"},
        {R"({"items": [{"type": "polygon", "points": [[0, 0], [1, 1], [2, 0]], "rule": "odd"}]})",
         "\"rule\" must be \"even-odd\" or \"winding\""},
        {R"({"items": [{"type": "polygon", "points": [[0, 0], [1, 1], [2, 0]], "fill": 0}]})",
         "\"fill\" must be a string #RRGGBB"},
        {R"({"items": [{"type": "polygon", "points": [[0, 0], [1, 1], [2, 0]],
                        "outlineWidth": 2}]})",
         "\"outlineWidth\" needs an \"outline\""},
        {R"({"items": [{"type": "rectangle", "x": 0, "y": 0, "width": 5, "height": 1,
                        "pattern": "dots"}]})",
         "\"pattern\" must be \"horizontal\", \"vertical\""},
        {R"({"items": [{"type": "rectangle", "x": 0, "y": 0, "width": 5, "height": 1,
                        "outline": "#000000", "outlineWidth": 0}]})",
         "\"outlineWidth\" must be within 1"},
        {R"({"items": [{"type": "image"}]})", "\"file\" is missing"},
        {R"({"items": [{"type": "image", "file": 3}]})", "\"file\" must be a file name"},
        {R"({"items": [{"type": "image", "file": "missing.png"}]})", "cannot read"},
        {R"({"items": [{"type": "image", "file": "logo.pbm", "height": 0}]})",
         "\"height\" must be within 1"},
        {R"({"items": [{"type": "rectangle", "x": 0, "y": 0, "width": 1, "height": 1},
                       {"type": "image", "file": "logo.pbm", "width": [1]}]})",
         "item 2:"},
        {R"({"items": [{"type": "text", "x": 0, "y": 0, "font": "Font A"}]})",
         "\"text\" is missing"},
        {R"({"items": [{"type": "text", "x": 0, "y": 0, "text": "a", "font": ""}]})",
         "\"font\" must name a face"},
        {R"({"items": [{"type": "text", "x": 0, "y": 0, "text": 5, "font": "Font A"}]})",
         "\"text\" must be a string"},
        {R"({"items": [{"type": "text", "x": 0, "y": 0, "text": "a", "font": "A", "bold": 1}]})",
         "\"bold\" must be true or false"},
        {R"({"items": [{"type": "text", "x": 0, "y": 0, "text": "a", "font": "A", "align": "center"}]})",
         "\"align\" must be \"left\", \"right\" or \"centre\""},
        {R"({"items": [{"type": "text", "x": 0, "y": 0, "text": "a", "font": "A", "size": 0}]})",
         "\"size\" must be within 1"},
        {R"({"items": [], "settings": []})", "\"settings\" must be an object"},
        {R"({"items": [], "settings": {"dmCopies": 1.5}})", "\"dmCopies\" must be a whole number"},
        {R"({"items": [], "settings": {"nosuch": 1}})", "settings: no device mode field nosuch"},
        {R"({"items": [], "settings": {"dmCopies": 70000}})", "settings dmCopies: 70000 is not"},
    };
    for (const auto& [text, message] : kBad) {
        EXPECT_FALSE(Parse(text)) << text;
        EXPECT_NE(error_.find(message), std::string::npos) << text << " gave: " << error_;
        EXPECT_EQ(error_.find('\n'), std::string::npos) << error_;
    }
}

TEST_F(PageDescription, ReadsTextAndSettings) {
    auto content = Parse(R"({"settings": {"barcode3.flags": 2, "barcode1.name": "EAN"},
        "items": [
        {"type": "text", "x": 576, "y": 40, "text": "Total 9,50 €", "font": "Font A",
         "bold": true, "underline": true, "align": "right", "colour": "#000000"},
        {"type": "text", "x": 0, "y": 100, "text": "x", "font": "DejaVu Sans", "size": 30,
         "italic": true, "strikeout": true, "align": "centre"}]})");
    ASSERT_TRUE(content) << error_;
    ASSERT_EQ(content->page.items.size(), 2u);
    const auto& total = std::get<host::PageText>(content->page.items[0]);
    EXPECT_EQ(total.position.x, 576);
    EXPECT_EQ(total.position.y, 40);
    EXPECT_EQ(total.text, u"Total 9,50 €");
    EXPECT_EQ(total.face, u"Font A");
    EXPECT_FALSE(total.size);
    EXPECT_TRUE(total.bold && total.underline && !total.italic && !total.strikeout);
    EXPECT_EQ(total.align, host::PageText::Align::Right);
    const auto& small = std::get<host::PageText>(content->page.items[1]);
    EXPECT_EQ(small.size, 30);
    EXPECT_TRUE(small.italic && small.strikeout && !small.bold);
    EXPECT_EQ(small.align, host::PageText::Align::Centre);
    EXPECT_EQ(content->bottom, 130);

    // Settings are applied as --set applies them.
    ASSERT_EQ(content->settings.size(), 2u);
    Devmode devmode{};
    qlpr::ApplyFieldSettings(content->settings, &devmode);
    EXPECT_EQ(devmode.priv.barcodes[2].flags, 2);
    EXPECT_STREQ(devmode.priv.barcodes[0].name, "EAN");
}

TEST(ImagePage, FitsTheWidthKeepingTheAspect) {
    qlpr::DecodedImage image;
    image.width = 100;
    image.height = 30;
    image.format = BMF_8BPP;
    image.stride = 100;
    image.bits.assign(3000, 0);
    const auto fitted = qlpr::ImagePage(image, 576);
    const auto& target = std::get<host::PageImage>(fitted.page.items[0]).target;
    EXPECT_EQ(target.right, 576);
    EXPECT_EQ(target.bottom, 173);  // 30 * 5.76, rounded
    EXPECT_EQ(fitted.bottom, 173);
    const auto plain = qlpr::ImagePage(image, 0);
    EXPECT_EQ(std::get<host::PageImage>(plain.page.items[0]).target.right, 100);
}

// ---- Options -----------------------------------------------------------

std::optional<qlpr::PrintOptions> Options(std::vector<std::string> args, std::string* error) {
    args.push_back("page.pbm");
    return qlpr::ParsePrintOptions(args, error);
}

Devmode Applied(const std::vector<std::string>& args) {
    std::string error;
    auto options = Options(args, &error);
    EXPECT_TRUE(options) << error;
    Devmode devmode{};
    devmode.priv.optionFlags = kDefaultOptionFlags;
    devmode.priv.cutMask = devmode.priv.feedMask = 8;
    if (options) qlpr::ApplyPrintOptions(*options, &devmode);
    return devmode;
}

TEST(PrintOptions, PublicFieldsCarryTheirFieldBits) {
    const Devmode dm = Applied({"--copies", "3", "--orientation", "landscape", "--paper", "258",
                                "--bits", "8", "--dither", "260"});
    EXPECT_EQ(dm.pub.dmCopies, 3);
    EXPECT_EQ(dm.pub.dmCollate, 0);
    EXPECT_EQ(dm.pub.dmOrientation, 2);
    EXPECT_EQ(dm.pub.dmPaperSize, 258);
    EXPECT_EQ(dm.pub.dmBitsPerPel, 8u);
    EXPECT_EQ(dm.pub.dmDitherType, 260u);
    EXPECT_EQ(dm.pub.dmFields, DM_COPIES | DM_COLLATE | DM_ORIENTATION | DM_PAPERSIZE |
                                   DM_BITSPERPEL | DM_DITHERTYPE);
    EXPECT_EQ(Applied({"--collate"}).pub.dmCollate, 1);
}

TEST(PrintOptions, PrivateFieldsLandAtTheirOffsets) {
    const Devmode dm =
        Applied({"--reverse", "--dualside", "2", "--rotation", "180", "--pages-per-sheet", "4",
                 "--colour", "--drawer1-mask", "0x9", "--drawer2-mask", "4", "--skip-blank", "both",
                 "--bitmap-output", "--own-rendering"});
    const auto* bytes = reinterpret_cast<const BYTE*>(&dm.priv);
    auto word = [&](std::size_t at) {
        return static_cast<unsigned>(bytes[at] | bytes[at + 1] << 8);
    };
    EXPECT_EQ(dm.priv.layoutFlags & 0x1000, 0x1000u);
    EXPECT_EQ(word(1400), 2u);
    EXPECT_EQ(word(1402), 180u);
    EXPECT_EQ(word(16), 4u);
    EXPECT_EQ(word(640), 3u);
    EXPECT_EQ(word(1410), 9u);
    EXPECT_EQ(word(1414), 4u);
    EXPECT_EQ(word(1956), 3u);
    EXPECT_EQ(dm.priv.optionFlags, kDefaultOptionFlags | 0x20u | 0x8000u);
    EXPECT_EQ(dm.pub.dmFields, 0u);
}

TEST(PrintOptions, CutAndFeedMasksChooseTheCustomSource) {
    const Devmode dm = Applied({"--cut-mask", "4"});
    EXPECT_EQ(dm.pub.dmDefaultSource, 700);
    EXPECT_EQ(dm.pub.dmFields & DM_DEFAULTSOURCE, DM_DEFAULTSOURCE);
    EXPECT_EQ(dm.priv.cutMask, 4);
    EXPECT_EQ(dm.priv.customCutMask, 4);
    // The feed mask the source had is kept for the custom source.
    EXPECT_EQ(dm.priv.feedMask, 8);
    EXPECT_EQ(dm.priv.customFeedMask, 0);
}

TEST(PrintOptions, SetWritesAnyFieldByItsName) {
    const Devmode dm =
        Applied({"--set", "feedLength8=120", "--set", "dmScale=50", "--set", "userCommand1=1B40",
                 "--set", "shiftX=-3", "--set", "dmFormName=Long"});
    EXPECT_EQ(dm.priv.feedLengths[3], 120);
    EXPECT_EQ(dm.pub.dmScale, 50);
    EXPECT_EQ(dm.pub.dmFields, DM_SCALE | DM_FORMNAME);
    EXPECT_STREQ(dm.priv.userCommands[0], "1B40");
    EXPECT_EQ(dm.priv.shiftX, -3);
    EXPECT_EQ(dm.pub.dmFormName[0], u'L');
    EXPECT_EQ(dm.pub.dmFormName[4], 0);

    std::string error;
    EXPECT_TRUE(Options({"--set", "dmFormName=x"}, &error)->PaperChosen());
    EXPECT_TRUE(Options({"--paper", "257"}, &error)->PaperChosen());
    EXPECT_FALSE(Options({"--set", "dmScale=50"}, &error)->PaperChosen());
}

TEST(PrintOptions, RefusesBadValuesInOneLine) {
    const std::pair<std::vector<std::string>, const char*> kBad[] = {
        {{"--copies", "0"}, "--copies: 0 is not a number from 1 to 999"},
        {{"--copies", "1000"}, "--copies"},
        {{"--copies", "2x"}, "--copies"},
        {{"--dualside", "4"}, "--dualside: 4 is not one of 1, 2, 3"},
        {{"--orientation", "sideways"}, "is not one of portrait, landscape"},
        {{"--rotation", "45"}, "--rotation"},
        {{"--pages-per-sheet", "3"}, "--pages-per-sheet"},
        {{"--bits", "4"}, "--bits"},
        {{"--dither", "6"}, "--dither"},
        {{"--cut-mask", "256"}, "--cut-mask"},
        {{"--drawer1-mask", "-1"}, "--drawer1-mask"},
        {{"--skip-blank", "middle"}, "--skip-blank"},
        {{"--paper", "0"}, "--paper"},
        {{"--set", "noSuchField=1"}, "no device mode field noSuchField"},
        {{"--set", "dmCopies"}, "NAME=VALUE"},
        {{"--set", "cutMask=256"}, "cutMask: 256 is not a number from 0 to 255"},
        {{"--set", "shiftX=40000"}, "shiftX"},
        {{"--set", std::string("dmFormName=") + std::string(32, 'x')}, "at most 31 characters"},
        {{"--frobnicate"}, "unknown option --frobnicate"},
        {{"--data"}, "--data needs a value"},
    };
    for (const auto& [args, message] : kBad) {
        std::string error;
        std::vector<std::string> all = args;
        EXPECT_FALSE(qlpr::ParsePrintOptions(all, &error)) << args[0];
        EXPECT_NE(error.find(message), std::string::npos) << args[0] << " gave: " << error;
    }
    std::string error;
    EXPECT_FALSE(qlpr::ParsePrintOptions({"--fit"}, &error));
    EXPECT_NE(error.find("at least one"), std::string::npos);
}

TEST(PrintOptions, TakesInputsAnywhereAndAfterADoubleDash) {
    std::string error;
    auto options =
        qlpr::ParsePrintOptions({"a.png", "-o", "out", "b.pbm", "--", "--c.pbm"}, &error);
    ASSERT_TRUE(options) << error;
    EXPECT_EQ(options->inputs, (std::vector<std::string>{"a.png", "b.pbm", "--c.pbm"}));
    EXPECT_EQ(options->output, "out");
}

}  // namespace
