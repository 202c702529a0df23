#include "driver/capabilities.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "driver/companion.h"

namespace {

// An instance holding just what the capability records are made from.
std::unique_ptr<DeviceInstance> InstanceAt(LONG dpiX, LONG dpiY, WORD bits) {
    auto instance = std::make_unique<DeviceInstance>();
    instance->geometry.dpiX = dpiX;
    instance->geometry.dpiY = dpiY;
    instance->geometry.bitsPerPixel = bits;
    instance->geometry.printableWidthMm10 = 720;
    instance->geometry.printableHeightMm10 = 2979;
    instance->devmode.pub.dmPrintQuality = static_cast<SHORT>(dpiX);
    instance->devmode.priv.optionFlags = kDefaultOptionFlags;
    instance->printerData.logMode = kLogNone;
    return instance;
}

TEST(Capabilities, StyleStepsFollowTheResolutions) {
    struct Case {
        LONG x, y, xStep, yStep, den;
    };
    for (Case c : {Case{600, 600, 1, 1, 12}, Case{203, 203, 1, 1, 4}, Case{300, 600, 2, 1, 1},
                   Case{40, 40, 1, 1, 1}, Case{180, 360, 2, 1, 1}}) {
        auto instance = InstanceAt(c.x, c.y, 1);
        GDIINFO info;
        ASSERT_TRUE(FillGdiInfo(*instance, &info));
        EXPECT_EQ(info.xStyleStep, c.xStep) << c.x << "x" << c.y;
        EXPECT_EQ(info.yStyleStep, c.yStep) << c.x << "x" << c.y;
        EXPECT_EQ(info.denStyleStep, c.den) << c.x << "x" << c.y;
    }
}

TEST(Capabilities, AspectOfTheDiagonalIsTheSmallestCoveringValue) {
    EXPECT_EQ(AspectXY(203, 203), 288u);  // 287.09 rounded up
    EXPECT_EQ(AspectXY(3, 4), 5u);
    EXPECT_EQ(AspectXY(600, 300), 671u);  // 670.82
    EXPECT_EQ(AspectXY(0, 0), 0u);
}

TEST(Capabilities, GdiInfoAtOneAndTwentyFourBits) {
    auto instance = InstanceAt(203, 203, 1);
    instance->devmode.pub.dmDitherType = 258;
    GDIINFO mono;
    ASSERT_TRUE(FillGdiInfo(*instance, &mono));
    EXPECT_EQ(mono.ulVersion, 0x400u);
    EXPECT_EQ(mono.ulTechnology, 2u);
    EXPECT_EQ(mono.ulHorzSize, 72u);
    EXPECT_EQ(mono.ulVertSize, 297u);
    EXPECT_EQ(mono.cBitsPixel, 1u);
    EXPECT_EQ(mono.ulNumColors, 2u);
    EXPECT_EQ(mono.ulNumPalReg, 2u);
    EXPECT_EQ(mono.ulHTPatternSize, 6u);
    EXPECT_EQ(mono.ulHTOutputFormat, 0u);
    EXPECT_EQ(mono.ciDevice.Cyan.Y, 65534);
    EXPECT_EQ(mono.ciDevice.MagentaInYellowDye, 121);
    EXPECT_EQ(mono.flTextCaps, 0x2000u);
    EXPECT_EQ(mono.flHTFlags, 2u);

    instance->geometry.bitsPerPixel = 8;  // eight bits work as twenty-four
    instance->devmode.pub.dmDitherType = 257;
    instance->printerData.colourInfo.Red.x = 6380;
    GDIINFO colour;
    ASSERT_TRUE(FillGdiInfo(*instance, &colour));
    EXPECT_EQ(colour.cBitsPixel, 24u);
    EXPECT_EQ(colour.ulNumColors, 256u);
    EXPECT_EQ(colour.ulNumPalReg, 0u);
    EXPECT_EQ(colour.ulHTPatternSize, 6u);
    EXPECT_EQ(colour.ulHTOutputFormat, 6u);
    EXPECT_EQ(colour.ciDevice.Red.x, 6380);

    instance->geometry.bitsPerPixel = 4;
    EXPECT_FALSE(FillGdiInfo(*instance, &colour));
    DEVINFO dev;
    EXPECT_FALSE(FillDevInfo(*instance, &dev));
}

TEST(Capabilities, DevInfoFontsCapsAndDither) {
    auto instance = InstanceAt(203, 203, 1);
    DEVINFO dev;
    ASSERT_TRUE(FillDevInfo(*instance, &dev));
    EXPECT_EQ(dev.lfDefaultFont.lfHeight, -31);
    EXPECT_EQ(dev.lfDefaultFont.lfCharSet, 128);
    EXPECT_EQ(dev.lfDefaultFont.lfPitchAndFamily, 0x31);
    EXPECT_EQ(std::u16string(dev.lfDefaultFont.lfFaceName), u"System");
    EXPECT_EQ(dev.lfAnsiVarFont.lfCharSet, 0);
    EXPECT_EQ(dev.lfAnsiVarFont.lfPitchAndFamily, 0x12);
    EXPECT_EQ(dev.lfAnsiVarFont.lfFaceName[0], 0);
    EXPECT_EQ(dev.lfAnsiFixFont.lfPitchAndFamily, 0x31);
    EXPECT_EQ(dev.flGraphicsCaps, 0x10808430u);  // journalling allowed by the default flags
    EXPECT_EQ(dev.iDitherFormat, 1u);
    EXPECT_EQ(dev.cxDither, 8);

    instance->printerData.flags = kFlagNoJournal;
    instance->devmode.pub.dmDitherType = 258;
    ASSERT_TRUE(FillDevInfo(*instance, &dev));
    EXPECT_EQ(dev.flGraphicsCaps, 0x10808430u | 0x2000u);
    EXPECT_EQ(dev.cxDither, 4);
    EXPECT_EQ(dev.cyDither, 4);

    instance->printerData.flags = 0;
    instance->devmode.priv.optionFlags = 0;
    instance->geometry.bitsPerPixel = 24;
    ASSERT_TRUE(FillDevInfo(*instance, &dev));
    EXPECT_EQ(dev.flGraphicsCaps, 0x1Cu | 0x2000u);
    EXPECT_EQ(dev.iDitherFormat, 5u);
    EXPECT_EQ(dev.cxDither, 0);

    instance->devmode.pub.dmPrintQuality = 600;
    ASSERT_TRUE(FillDevInfo(*instance, &dev));
    EXPECT_EQ(dev.lfDefaultFont.lfHeight, -92);  // (6600 + 36) / 72
}

TEST(CompanionLibraries, NamesComeFromTheDriversOwnFileName) {
    EXPECT_EQ(CompanionLibraryName(u"\\drivers\\QLPRGI.DLL", u"CMND.DLL"), u"\\drivers\\QLPRCMND.DLL");
    EXPECT_EQ(CompanionLibraryName(u"QLPRGI.DLL", u"CMND.DLL"), u"QLPRCMND.DLL");
    EXPECT_EQ(CompanionLibraryName(u"/opt/a.b/QLPRGI.DLL", u"BRCD.DLL"), u"/opt/a.b/QLPRBRCD.DLL");
    EXPECT_EQ(CompanionLibraryName(u"/x/QL", u"URES.DLL"), u"/x/QLURES.DLL");
}

}  // namespace
