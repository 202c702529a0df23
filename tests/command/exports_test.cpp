// The exports: null records, escapes and their sizes, page start values,
// pads, band records and the once-per-page start of band.

#include "command_test_util.h"

namespace cmdtest {
namespace {

using Exports = CommandJob;

TEST_F(Exports, ANullRecordDoesNothing) {
    const SIZEL size{576, 800};
    const BandRecord band{};
    EXPECT_EQ(CmndDisableExtPDEV(nullptr), 0);
    EXPECT_EQ(CmndStartDoc(nullptr, nullptr, "x", 1), 0);
    EXPECT_EQ(CmndEndDoc(nullptr), 0);
    EXPECT_EQ(CmndStartPage(nullptr, nullptr, &size, nullptr, 0), 0);
    EXPECT_EQ(CmndEndPage(nullptr), 0);
    EXPECT_EQ(CmndSendBand(nullptr, nullptr, &band, nullptr, 0, nullptr, 0), 0);
    EXPECT_EQ(CmndExtEscape(nullptr, 16003, 0, nullptr, 0, nullptr), 0);
    const Devmode mode = PlainDevmode();
    EXPECT_EQ(CmndEnableExtPDEV(nullptr, printer_, buffer_.data()), nullptr);
    EXPECT_EQ(CmndEnableExtPDEV(&mode, printer_, nullptr), nullptr);
}

TEST_F(Exports, EnableSetsUpTheRecord) {
    Devmode mode = PlainDevmode();
    ASSERT_TRUE(Begin(mode));
    EXPECT_EQ(pdev_->printer, printer_);
    EXPECT_EQ(pdev_->outputFlags, kOutSpooler);
    EXPECT_EQ(pdev_->outputCapacity, 0xFFFFu);
    EXPECT_EQ(pdev_->outputBuffer, buffer_.data());
    EXPECT_EQ(pdev_->jobId, 0x2Bu);
    EXPECT_EQ(pdev_->operations.startPage, CommandTable.startPage);
    CmndDisableExtPDEV(pdev_);
    mode.priv.optionFlags |= kOptionBgrOrBitmapOutput;
    pdev_ = CmndEnableExtPDEV(&mode, printer_, buffer_.data());
    ASSERT_NE(pdev_, nullptr);
    EXPECT_EQ(pdev_->operations.startPage, BitmapTable.startPage);
}

TEST_F(Exports, EscapesOfTheWrongSizeKeepTheOldCopy) {
    ASSERT_TRUE(Begin(PlainDevmode(), Geometry(8, 1, 0)));
    const PageGeometry other = Geometry(24, 2, 270);
    EXPECT_EQ(CmndExtEscape(pdev_, 16002, 239, &other, 0, nullptr), 0);
    EXPECT_EQ(CmndExtEscape(pdev_, 16002, 240, nullptr, 0, nullptr), 0);
    EXPECT_EQ(pdev_->geometry.bitsPerPixel, 8);
    std::vector<BYTE> settings(sizeof(PrinterData), 0x33);
    EXPECT_EQ(CmndExtEscape(pdev_, 16004, sizeof(PrinterData) - 1, settings.data(), 0, nullptr), 0);
    EXPECT_EQ(CmndExtEscape(pdev_, 16004, sizeof(PrinterData), nullptr, 0, nullptr), 0);
    const DWORD settingsSize = pdev_->printerData.size;  // a packed field
    EXPECT_EQ(settingsSize, 0u);
    EXPECT_EQ(CmndExtEscape(pdev_, 16004, sizeof(PrinterData), settings.data(), 0, nullptr), 1);
    EXPECT_EQ(pdev_->printerData.controlStrings[95][256], 0x33);
    const DWORD sheet = 1;
    EXPECT_EQ(CmndExtEscape(pdev_, 16003, 4, &sheet, 0, nullptr), 1);
    EXPECT_EQ(CmndExtEscape(pdev_, 16002, 240, &other, 0, nullptr), 1);
    EXPECT_EQ(pdev_->geometry.bitsPerPixel, 24);
}

TEST_F(Exports, StartPageWithoutRectangleTakesThePageSize) {
    Devmode mode = PlainDevmode();
    mode.priv.pagePaper.leftPad = 203;
    mode.priv.pagePaper.rightPad = 16;
    ASSERT_TRUE(Begin(mode, Geometry(1, 3, 90)));
    const SIZEL size{576, 900};
    ASSERT_EQ(CmndStartPage(pdev_, &mode, &size, nullptr, 77), 1);
    EXPECT_EQ(pdev_->pageRect.left, 0);
    EXPECT_EQ(pdev_->pageRect.top, 0);
    EXPECT_EQ(pdev_->pageRect.right, 576);
    EXPECT_EQ(pdev_->pageRect.bottom, 900);
    EXPECT_EQ(pdev_->escapeValue, 77u);
    EXPECT_EQ(pdev_->pageCount, 1);
    EXPECT_EQ(pdev_->pageLength, 576);  // rotation 90: the page's width
    EXPECT_EQ(pdev_->leftPad, 25);      // 203 dots
    EXPECT_EQ(pdev_->rightPad, 2);
    EXPECT_EQ(pdev_->padMaximum, 25);
    // Pads past the 256-byte pad block are cut to it.
    mode.priv.pagePaper.leftPad = 4000;
    const RECTL rect{1, 2, 3, 4};
    ASSERT_EQ(CmndStartPage(pdev_, &mode, &size, &rect, 0), 1);
    EXPECT_EQ(pdev_->leftPad, 256);
    EXPECT_EQ(pdev_->pageRect.right, 3);
    EXPECT_EQ(pdev_->pageCount, 2);
    EXPECT_EQ(CmndStartPage(pdev_, &mode, nullptr, nullptr, 0), 0);
}

int gStartBands = 0;
BOOL CountStartBand(ExtPdev* pdev, BandDesc* band) {
    ++gStartBands;
    return CommandTable.startBand(pdev, band);
}

TEST_F(Exports, TheStartOfBandRunsOncePerPage) {
    ASSERT_TRUE(Begin(PlainDevmode()));
    pdev_->operations.startBand = CountStartBand;
    gStartBands = 0;
    const SIZEL size{576, 16};
    std::vector<BYTE> bits(72 * 16, 0xFF);
    BandRecord band{0, 72, 576, 16, {0, 0, 576, 16}, {50, 2, 100, 9}, 0};
    ASSERT_EQ(CmndStartPage(pdev_, &mode_, &size, nullptr, 0), 1);
    EXPECT_EQ(CmndSendBand(pdev_, bits.data(), &band, nullptr, 0, nullptr, 0), 1);
    EXPECT_EQ(pdev_->band.content.left, 48);
    EXPECT_EQ(pdev_->band.bandCounter, 1);
    band.content.left = -5;
    EXPECT_EQ(CmndSendBand(pdev_, bits.data(), &band, nullptr, 0, nullptr, 0), 1);
    EXPECT_EQ(pdev_->band.content.left, 0);
    EXPECT_EQ(gStartBands, 1);
    EXPECT_EQ(CmndEndPage(pdev_), 1);
    EXPECT_EQ(pdev_->band.bandCounter, 0);
    ASSERT_EQ(CmndStartPage(pdev_, &mode_, &size, nullptr, 0), 1);
    EXPECT_EQ(CmndSendBand(pdev_, bits.data(), &band, nullptr, 0, nullptr, 0), 1);
    EXPECT_EQ(gStartBands, 2);
    EXPECT_EQ(CmndSendBand(pdev_, bits.data(), nullptr, nullptr, 0, nullptr, 0), 0);
    EXPECT_EQ(CmndSendBand(pdev_, nullptr, &band, nullptr, 0, nullptr, 0), 0);
}

TEST_F(Exports, PrivateFieldsFollowTheDeviceModesSize) {
    Devmode mode = PlainDevmode();
    mode.priv.dualSide = 2;
    ASSERT_TRUE(Begin(mode));
    EXPECT_EQ(DualSide(*pdev_), 2);
    pdev_->devmode.pub.dmSize = 0xFFFF;  // a private part past the record reads as 0
    EXPECT_EQ(DualSide(*pdev_), 0);
}

}  // namespace
}  // namespace cmdtest
