// The control command groups of the four events: each group alone with the
// page kind flags set by hand, and whole jobs through the exports. Also the
// hexadecimal command strings and the inner feed they build on.

#include "command/feed.h"
#include "command/hex_decode.h"
#include "command_test_util.h"

namespace cmdtest {
namespace {

using namespace std::string_literals;

const std::string kPrintLine = "\x1B\x4A\x00"s;
const std::string kDrawer1 = "\x1B\x70\x00\x0A\x64"s;
const std::string kDrawer2 = "\x1B\x70\x01\x0A\x64"s;
const std::string kFeedMode = "\x1F\x60\x00"s;
const std::string kCut = "\x1D\x56\x00"s;
const std::string kOddSide = "\x1F\x60\x02\x1F\x61\x00\x1B\x53"s;
const std::string kEvenSide = "\x1F\x61\x01\x1B\x53"s;
const std::string kSheetEnd = "\x1F\x62"s;

std::string Feed(std::initializer_list<int> steps) {
    std::string bytes;
    for (int step : steps) bytes += "\x1B\x4A"s + static_cast<char>(step);
    return bytes;
}
std::string Image(int n) {
    return kPrintLine + "\x1F\x30"s + static_cast<char>(n) + "\x1D\x2F\x00"s;
}

std::string gCaptured;
BOOL CaptureWrite(ExtPdev*, const BYTE* bytes, DWORD count) {
    gCaptured.append(reinterpret_cast<const char*>(bytes), count);
    return TRUE;
}

// Stored-image entries: page kind (0 first, 1 middle, 2 last) and whether
// it is the page-end entry.
void SetImage(Devmode* mode, int kind, bool pageEnd, WORD imageMode, SHORT number) {
    const int entry = 2 * kind + (pageEnd ? 1 : 0);
    mode->priv.storedImage[entry] = imageMode;
    mode->priv.storedImage[6 + entry] = static_cast<WORD>(number);
}
void SetUserString(Devmode* mode, int event, const char* text) {
    const int slot = event == kEventStartDoc ? 0 : event == kEventEndDoc ? 1 : event == 2 ? 2 : 3;
    std::strncpy(mode->priv.userCommands[slot], text, sizeof mode->priv.userCommands[slot]);
}

class EventCommands : public CommandJob {
  protected:
    void SetUp() override {
        CommandJob::SetUp();
        gCaptured.clear();
    }
    // A record for `mode` whose output is captured; nothing is sent yet.
    void Record(const Devmode& mode) {
        ASSERT_TRUE(Begin(mode));
        pdev_->writeHook = CaptureWrite;
    }
    // The bytes of one group on a page of the given kind flags.
    std::string Group(int event, DWORD kinds) {
        pdev_->outputFlags &= ~(kOutPageKinds | kOutEven);
        pdev_->outputFlags |= kinds;
        gCaptured.clear();
        SendEventCommands(pdev_, event);
        FlushOut(pdev_);
        return gCaptured;
    }
};

TEST_F(EventCommands, OnePageWithNothingSetGetsOnlyTheFixedCommands) {
    EXPECT_EQ(Print(PlainDevmode(), 1), kDocStart + kPageStartOneSided + "P1" + kDocEnd);
}

TEST_F(EventCommands, GroupsSendTheirPartsInOrder) {
    Devmode mode = PlainDevmode();
    mode.priv.userCommandMask = 0x0F;
    SetUserString(&mode, kEventStartDoc, "01");
    SetUserString(&mode, kEventStartPage, "02");
    SetUserString(&mode, kEventEndPage, "04");
    SetUserString(&mode, kEventEndDoc, "08");
    mode.priv.drawer1Mask = 0x0F;
    mode.priv.drawer2Mask = 0x0F;
    mode.priv.cutMask = 0x0F;
    mode.priv.feedMask = 0x0F;
    mode.pub.dmDefaultSource = 700;
    mode.priv.feedLengths[0] = 10;  // 8 dots
    mode.priv.feedLengths[1] = 20;  // 16
    mode.priv.feedLengths[2] = 30;  // 24
    mode.priv.feedLengths[3] = 40;  // 32
    SetImage(&mode, 0, false, 1, 5);
    SetImage(&mode, 0, true, 1, 6);
    Record(mode);
    const std::string drawers = kDrawer1 + kDrawer2;
    EXPECT_EQ(Group(kEventStartDoc, 0),
              kDocStart + "\x01"s + kPrintLine + drawers + kFeedMode + Feed({8}) + kCut);
    EXPECT_EQ(Group(kEventStartPage, kOutFirstSheet), "\x02"s + kPrintLine + drawers + kFeedMode +
                                                          Feed({16}) + kCut + kPageStartOneSided +
                                                          Image(5));
    EXPECT_EQ(Group(kEventEndPage, kOutFirstSheet),
              Image(6) + "\x04"s + kPrintLine + drawers + kFeedMode + Feed({24}) + kCut);
    EXPECT_EQ(Group(kEventEndDoc, kOutLastSheet | kOutFinal),
              "\x08"s + kPrintLine + drawers + kFeedMode + Feed({32}) + kCut + kDocEnd);
}

TEST_F(EventCommands, TheDocumentEndFlushesTheBuffer) {
    Record(PlainDevmode());
    ASSERT_TRUE(WriteOut(pdev_, "x", 1));
    EXPECT_EQ(SendEventCommands(pdev_, kEventEndDoc), 1);
    EXPECT_EQ(pdev_->outputFill, 0u);
    EXPECT_EQ(gCaptured, "x" + kDocEnd);
    EXPECT_EQ(SendEventCommands(pdev_, 16), 1);  // not an event: nothing
    EXPECT_EQ(pdev_->outputFill, 0u);
}

TEST_F(EventCommands, PageEndFeedAndCutWithoutOwnFeedLengths) {
    Devmode mode = PlainDevmode();
    mode.priv.cutMask = 0x04;
    mode.priv.feedMask = 0x04;
    mode.pub.dmDefaultSource = 7;
    mode.priv.feedLengths[2] = 150;  // not used without source 700
    const std::string pageEnd = kFeedMode + Feed({180}) + kCut;
    EXPECT_EQ(Print(mode, 2), kDocStart + kPageStartOneSided + "P1" + pageEnd + kPageStartOneSided +
                                  "P2" + pageEnd + kDocEnd);
}

TEST_F(EventCommands, FeedAmounts) {
    Devmode mode = PlainDevmode();
    mode.priv.feedMask = 0x0F;
    Record(mode);
    // Without source 700: no feed at the starts, 180 dots at the ends.
    EXPECT_EQ(Group(kEventStartDoc, 0), kDocStart);
    EXPECT_EQ(Group(kEventStartPage, 0), kPageStartOneSided);
    EXPECT_EQ(Group(kEventEndDoc, 0), kFeedMode + Feed({180}) + kDocEnd);

    pdev_->devmode.pub.dmDefaultSource = 700;
    auto pageEnd = [&](SHORT length) {
        pdev_->devmode.priv.feedLengths[2] = static_cast<WORD>(length);
        return Group(kEventEndPage, 0);
    };
    EXPECT_EQ(pageEnd(150), kFeedMode + Feed({120}));
    EXPECT_EQ(pageEnd(500), kFeedMode + Feed({255, 145}));
    EXPECT_EQ(pageEnd(7), kFeedMode + Feed({5}));  // 5.6 dots truncate to 5
    EXPECT_EQ(pageEnd(1), "");                     // 0.8 dots: no feed at all
    EXPECT_EQ(pageEnd(0), "");
    EXPECT_EQ(pageEnd(-500), kFeedMode);  // a negative length selects the mode, feeds nothing
    EXPECT_EQ(pageEnd(-1), "");           // -0.8 dots truncate to 0
    // Each event takes its own length.
    pdev_->devmode.priv.feedLengths[0] = 50;
    pdev_->devmode.priv.feedLengths[3] = 0;
    EXPECT_EQ(Group(kEventStartDoc, 0), kDocStart + kFeedMode + Feed({40}));
    EXPECT_EQ(Group(kEventEndDoc, 0), kDocEnd);
}

TEST_F(EventCommands, MasksSelectTheirEventsOnly) {
    Devmode mode = PlainDevmode();
    mode.priv.drawer1Mask = kEventEndDoc;
    mode.priv.drawer2Mask = kEventStartPage;
    mode.priv.cutMask = kEventStartDoc;
    mode.priv.feedMask = kEventStartPage;  // start feeds are 0 without source 700
    Record(mode);
    EXPECT_EQ(Group(kEventStartDoc, 0), kDocStart + kCut);
    EXPECT_EQ(Group(kEventStartPage, 0), kDrawer2 + kPageStartOneSided);
    EXPECT_EQ(Group(kEventEndPage, 0), "");
    EXPECT_EQ(Group(kEventEndDoc, 0), kDrawer1 + kDocEnd);
}

TEST_F(EventCommands, SideSelectionByDualSideMode) {
    Record(PlainDevmode());
    pdev_->devmode.priv.dualSide = 3;
    EXPECT_EQ(Group(kEventStartPage, 0), "\x1F\x60\x03\x1B\x53"s);
    EXPECT_EQ(Group(kEventEndPage, kOutFinal), "");
    pdev_->devmode.priv.dualSide = 0;  // no side command, still standard mode
    EXPECT_EQ(Group(kEventStartPage, 0), "\x1B\x53"s);
}

TEST_F(EventCommands, TwoSidedPairsFeedCutAndKickOnlyAtTheEndOfASheet) {
    Devmode mode = PlainDevmode();
    mode.priv.dualSide = 2;
    mode.priv.drawer1Mask = 0x06;
    mode.priv.cutMask = 0x06;
    mode.priv.feedMask = 0x06;
    mode.priv.userCommandMask = 0x04;
    SetUserString(&mode, kEventEndPage, "AA");
    Record(mode);
    const std::string user = "\xAA"s + kPrintLine;
    const std::string pageEndFeed = kFeedMode + Feed({255, 113});  // 368 dots
    // Odd page: the first side of a sheet.
    EXPECT_EQ(Group(kEventStartPage, 0), kDrawer1 + kCut + kOddSide);
    EXPECT_EQ(Group(kEventEndPage, 0), user);
    // Even page: no feed or cut at its start; the sheet ends with it.
    EXPECT_EQ(Group(kEventStartPage, kOutEven), kDrawer1 + kEvenSide);
    EXPECT_EQ(Group(kEventEndPage, kOutEven), kSheetEnd + user + kDrawer1 + pageEndFeed + kCut);
    // An odd final page ends its sheet alone.
    EXPECT_EQ(Group(kEventEndPage, kOutFinal), kSheetEnd + user + kDrawer1 + pageEndFeed + kCut);
}

TEST_F(EventCommands, UserStrings) {
    Devmode mode = PlainDevmode();
    mode.priv.userCommandMask = kEventStartPage | kEventEndPage;
    SetUserString(&mode, kEventStartPage, "1B6101");
    SetUserString(&mode, kEventStartDoc, "41");  // mask bit not set
    Record(mode);
    EXPECT_EQ(Group(kEventStartDoc, 0), kDocStart);
    EXPECT_EQ(Group(kEventStartPage, 0), "\x1B\x61\x01"s + kPrintLine + kPageStartOneSided);
    EXPECT_EQ(Group(kEventEndPage, 0), "");  // empty string with the mask bit
    // Lower-case digits, other characters as 0, an odd last digit as the high one.
    std::strcpy(pdev_->devmode.priv.userCommands[3], "1bx7A");
    EXPECT_EQ(Group(kEventEndPage, 0), "\x1B\x07\xA0"s + kPrintLine);
    // A field filled to its end without a terminator is taken whole.
    std::memset(pdev_->devmode.priv.userCommands[3], 'F', 130);
    EXPECT_EQ(Group(kEventEndPage, 0), std::string(65, '\xFF') + kPrintLine);
}

TEST_F(EventCommands, StoredImageOnTheFirstPageOnly) {
    Devmode mode = PlainDevmode();
    SetImage(&mode, 0, false, 3, 2);
    EXPECT_EQ(Print(mode, 3), kDocStart + kPageStartOneSided + Image(2) + "P1" +
                                  kPageStartOneSided + "P2" + kPageStartOneSided + "P3" + kDocEnd);
}

TEST_F(EventCommands, StoredImagesFollowThePageKind) {
    Devmode mode = PlainDevmode();
    SetImage(&mode, 0, false, 1, 1);
    SetImage(&mode, 0, true, 1, 2);
    SetImage(&mode, 1, false, 1, 3);
    SetImage(&mode, 1, true, 1, 4);
    SetImage(&mode, 2, false, 1, 5);
    SetImage(&mode, 2, true, 1, 0x0106);  // the low byte is the image number
    Record(mode);
    const std::string side = kPageStartOneSided;
    // The first sheet comes before the middle and the last.
    EXPECT_EQ(Group(kEventStartPage, kOutFirstSheet | kOutMiddle | kOutLastSheet), side + Image(1));
    EXPECT_EQ(Group(kEventEndPage, kOutFirstSheet | kOutLastSheet), Image(2));
    EXPECT_EQ(Group(kEventStartPage, kOutMiddle | kOutLastSheet), side + Image(3));
    EXPECT_EQ(Group(kEventEndPage, kOutMiddle), Image(4));
    EXPECT_EQ(Group(kEventStartPage, kOutLastSheet | kOutFinal), side + Image(5));
    EXPECT_EQ(Group(kEventEndPage, kOutLastSheet), Image(6));
    EXPECT_EQ(Group(kEventEndPage, kOutFinal), "");  // no page kind: no image
    // Image number below 0, or mode 0: nothing.
    pdev_->devmode.priv.storedImage[6] = static_cast<WORD>(-1);
    EXPECT_EQ(Group(kEventStartPage, kOutFirstSheet), side);
    pdev_->devmode.priv.storedImage[6] = 0;
    EXPECT_EQ(Group(kEventStartPage, kOutFirstSheet), side + Image(0));
    pdev_->devmode.priv.storedImage[0] = 0;
    EXPECT_EQ(Group(kEventStartPage, kOutFirstSheet), side);
}

TEST_F(EventCommands, TwoSidedImageModesPickTheirSide) {
    Devmode mode = PlainDevmode();
    mode.priv.dualSide = 2;
    SetImage(&mode, 0, false, 1, 7);  // odd pages only
    SetImage(&mode, 0, true, 2, 8);   // even pages only
    SetImage(&mode, 1, false, 3, 9);  // every page
    Record(mode);
    EXPECT_EQ(Group(kEventStartPage, kOutFirstSheet), kOddSide + Image(7));
    EXPECT_EQ(Group(kEventStartPage, kOutFirstSheet | kOutEven), kEvenSide);
    EXPECT_EQ(Group(kEventEndPage, kOutFirstSheet), "");
    // On an even page the image comes before the sheet's end mark, on an odd
    // final page after it.
    EXPECT_EQ(Group(kEventEndPage, kOutFirstSheet | kOutEven), Image(8) + kSheetEnd);
    pdev_->devmode.priv.storedImage[1] = 3;
    EXPECT_EQ(Group(kEventEndPage, kOutFirstSheet | kOutFinal), kSheetEnd + Image(8));
    EXPECT_EQ(Group(kEventStartPage, kOutMiddle | kOutEven), kEvenSide + Image(9));
    EXPECT_EQ(Group(kEventStartPage, kOutMiddle), kOddSide + Image(9));
    // One-sided, modes 1 and 2 print on every page.
    pdev_->devmode.priv.dualSide = 1;
    pdev_->devmode.priv.storedImage[1] = 2;
    EXPECT_EQ(Group(kEventStartPage, kOutFirstSheet), kPageStartOneSided + Image(7));
    EXPECT_EQ(Group(kEventEndPage, kOutFirstSheet), Image(8));
}

TEST_F(EventCommands, ReplayedPagesTakeTheirStoredSettings) {
    // Copies go through page files; the page start group of each replay is
    // made from the page's own device mode.
    Devmode mode = PlainDevmode();
    mode.pub.dmCopies = 2;
    ASSERT_TRUE(Begin(mode));
    Page(1);
    mode_.priv.dualSide = 3;
    Page(2);
    const std::string threeSide = "\x1F\x60\x03\x1B\x53"s;
    EXPECT_EQ(End(), kDocStart + kPageStartOneSided + "P1" + kPageStartOneSided + "P1" + threeSide +
                         "P2" + threeSide + "P2" + kDocEnd);
}

TEST(HexDecode, DigitsOtherCharactersAndBoundedFields) {
    EXPECT_EQ(HexDecode("1B6101"), (std::vector<BYTE>{0x1B, 0x61, 0x01}));
    EXPECT_EQ(HexDecode("aBcDeF"), (std::vector<BYTE>{0xAB, 0xCD, 0xEF}));
    EXPECT_EQ(HexDecode("G1 2"), (std::vector<BYTE>{0x01, 0x02}));
    EXPECT_EQ(HexDecode("7"), std::vector<BYTE>{0x70});
    EXPECT_TRUE(HexDecode("").empty());

    const char field[4] = {'A', 'B', 'C', 'D'};  // no terminator
    EXPECT_EQ(BoundedString(field, sizeof field), "ABCD");
    EXPECT_EQ(BoundedString("AB\0CD", 5), "AB");
    EXPECT_EQ(BoundedString(nullptr, 5), "");
}

TEST_F(EventCommands, InnerFeedStepsOfAtMost255) {
    Record(PlainDevmode());
    pdev_->verticalPosition = 40;
    auto feed = [&](LONG dots) {
        gCaptured.clear();
        FeedInner(pdev_, dots);
        FlushOut(pdev_);
        return gCaptured;
    };
    EXPECT_EQ(feed(600), Feed({255, 255, 90}));
    EXPECT_EQ(feed(510), Feed({255, 255}));
    EXPECT_EQ(feed(254), Feed({254}));
    EXPECT_EQ(feed(-3), "");
    EXPECT_EQ(pdev_->verticalPosition, 40);
}

}  // namespace
}  // namespace cmdtest
