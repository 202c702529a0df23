// Page descriptions and the options of qlpr print.

#include "tools/page_description.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <variant>

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
        {R"({"items": [{"type": "image"}]})", "\"file\" is missing"},
        {R"({"items": [{"type": "image", "file": 3}]})", "\"file\" must be a file name"},
        {R"({"items": [{"type": "image", "file": "missing.png"}]})", "cannot read"},
        {R"({"items": [{"type": "image", "file": "logo.pbm", "height": 0}]})",
         "\"height\" must be within 1"},
        {R"({"items": [{"type": "rectangle", "x": 0, "y": 0, "width": 1, "height": 1},
                       {"type": "image", "file": "logo.pbm", "width": [1]}]})",
         "item 2:"},
    };
    for (const auto& [text, message] : kBad) {
        EXPECT_FALSE(Parse(text)) << text;
        EXPECT_NE(error_.find(message), std::string::npos) << text << " gave: " << error_;
        EXPECT_EQ(error_.find('\n'), std::string::npos) << error_;
    }
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
