// The bit-block transfer entries on an in-memory band: validation and the
// dispatch decision, the band range check and drawn area, the band's colour
// flag, and the driver engine's transfers when own rendering is on.

#include "driver/bitblt_entries.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "driver/band_layout.h"
#include "driver/band_range.h"
#include "driver/device_instance.h"
#include "driver/driver_entry.h"
#include "driver/page_geometry.h"
#include "platform/last_error.h"

namespace {

constexpr DWORD kUntouched = 12345;

// A surface on its own top-down bytes.
struct Surface {
    std::vector<BYTE> bytes;
    SURFOBJ object{};

    Surface(LONG width, LONG height, ULONG format, int depth, BYTE fill, DHPDEV owner = nullptr) {
        const LONG stride = ((width * depth + 31) / 32) * 4;
        bytes.assign(static_cast<std::size_t>(stride * height), fill);
        object.dhpdev = owner;
        object.sizlBitmap = {width, height};
        object.cjBits = static_cast<ULONG>(bytes.size());
        object.pvBits = object.pvScan0 = bytes.data();
        object.lDelta = stride;
        object.iBitmapFormat = format;
        object.iType = STYPE_BITMAP;
        object.fjBitmap = BMF_TOPDOWN;
    }
    Surface(const Surface&) = delete;
    Surface& operator=(const Surface&) = delete;
    BYTE* Row(LONG y) { return bytes.data() + static_cast<std::size_t>(y * object.lDelta); }
};

class BitBltEntries : public ::testing::Test {
  protected:
    void SetUp() override {
        instance_ = std::make_unique<DeviceInstance>();
        instance_->signature = instance_->signatureEnd = kInstanceSignature;
        instance_->geometry.bitsPerPixel = 8;
        instance_->geometry.renderFlags = kOwnRendering;
        instance_->bandClip = {0, 0, 8, 4};
        instance_->state = kStateBandBlackWhite;
        band_ = std::make_unique<Surface>(8, 4, BMF_8BPP, 8, 0xEE, pdev());
        grey_.assign(256, 0);
        for (ULONG i = 0; i < 256; ++i) grey_[i] = i * 0x010101u;
        greyXlate_.flXlate = XO_TABLE;
        greyXlate_.cEntries = 256;
        greyXlate_.pulXlate = grey_.data();
    }

    DHPDEV pdev() { return reinterpret_cast<DHPDEV>(instance_.get()); }
    SURFOBJ* band() { return &band_->object; }
    std::vector<BYTE> BandRow(LONG y) { return {band_->Row(y), band_->Row(y) + 8}; }

    // An 8-bit source of grey values 1, 2, 3, ... read through the grey table.
    std::unique_ptr<Surface> GreySource(LONG width, LONG height) {
        auto source = std::make_unique<Surface>(width, height, BMF_8BPP, 8, 0);
        for (LONG y = 0; y < height; ++y)
            for (LONG x = 0; x < width; ++x)
                source->Row(y)[x] = static_cast<BYTE>(1 + y * width + x);
        return source;
    }

    std::unique_ptr<DeviceInstance> instance_;
    std::unique_ptr<Surface> band_;
    std::vector<ULONG> grey_;
    XLATEOBJ greyXlate_{};
};

TEST_F(BitBltEntries, DispatchDecision) {
    auto source = GreySource(2, 2);
    EXPECT_EQ(DecideBlt(nullptr, nullptr), BltDecision::Invalid);
    EXPECT_EQ(DecideBlt(band(), &source->object), BltDecision::DriverEngine);
    EXPECT_EQ(DecideBlt(band(), nullptr), BltDecision::DriverEngine);
    source->object.iType = STYPE_DEVICE;
    EXPECT_EQ(DecideBlt(band(), &source->object), BltDecision::Invalid);
    source->object.iType = STYPE_BITMAP;
    source->object.iBitmapFormat = BMF_JPEG;
    EXPECT_EQ(DecideBlt(band(), &source->object), BltDecision::PlatformEngine);
    band()->iType = STYPE_DEVBITMAP;
    EXPECT_EQ(DecideBlt(band(), nullptr), BltDecision::Refused);
    band()->iType = STYPE_BITMAP;
    instance_->geometry.renderFlags = 0;
    EXPECT_EQ(DecideBlt(band(), nullptr), BltDecision::PlatformEngine);
    instance_->signatureEnd = 0;
    EXPECT_EQ(DecideBlt(band(), nullptr), BltDecision::Invalid);
}

TEST_F(BitBltEntries, InvalidCallsSetTheInvalidParameterErrorRefusedOnesDoNot) {
    RECTL rect{0, 0, 2, 2};
    POINTL origin{0, 0};
    SetLastError(kUntouched);
    EXPECT_FALSE(DrvCopyBits(nullptr, nullptr, nullptr, nullptr, &rect, &origin));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);

    SetLastError(kUntouched);
    band()->iType = STYPE_DEVBITMAP;
    EXPECT_FALSE(DrvBitBlt(band(), nullptr, nullptr, nullptr, nullptr, &rect, nullptr, nullptr,
                           nullptr, nullptr, 0xFFFF));
    EXPECT_EQ(GetLastError(), kUntouched);
    band()->iType = STYPE_BITMAP;

    instance_->signature = 0;
    EXPECT_FALSE(DrvCommonBitBlt(kTransferBitBlt, band(), nullptr, nullptr, nullptr, nullptr, &rect,
                                 nullptr, nullptr, nullptr, nullptr, 0xFFFF, nullptr, 0, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST_F(BitBltEntries, AFailedJobDrawsNothingAndSucceeds) {
    instance_->state |= kStateJobFailed;
    RECTL rect{0, 0, 8, 4};
    EXPECT_TRUE(DrvBitBlt(band(), nullptr, nullptr, nullptr, nullptr, &rect, nullptr, nullptr,
                          nullptr, nullptr, 0x0000));
    EXPECT_EQ(BandRow(0), std::vector<BYTE>(8, 0xEE));
    EXPECT_TRUE(RectIsEmpty(instance_->bandBounds));
    // Called directly, the common transfer refuses.
    EXPECT_FALSE(DrvCommonBitBlt(kTransferBitBlt, band(), nullptr, nullptr, nullptr, nullptr, &rect,
                                 nullptr, nullptr, nullptr, nullptr, 0x0000, nullptr, 0, nullptr));
}

TEST_F(BitBltEntries, OutsideTheBandNothingIsDrawnAndTheDrawnAreaStays) {
    instance_->bandBounds = {1, 1, 2, 2};
    RECTL outside{20, 0, 30, 4};
    EXPECT_TRUE(DrvBitBlt(band(), nullptr, nullptr, nullptr, nullptr, &outside, nullptr, nullptr,
                          nullptr, nullptr, 0x0000));
    EXPECT_EQ(instance_->bandBounds.right, 2);
    EXPECT_TRUE(DrvBitBlt(band(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                          nullptr, nullptr, 0x0000));
    for (LONG y = 0; y < 4; ++y) EXPECT_EQ(BandRow(y), std::vector<BYTE>(8, 0xEE));
}

TEST_F(BitBltEntries, TheBandRangeCheckUnionsTheClippedRectangle) {
    CLIPOBJ clip{};
    clip.iDComplexity = DC_RECT;
    clip.rclBounds = {2, 1, 5, 3};
    // Given right to left: normalised first.
    EXPECT_TRUE(BandRangeCheck(instance_.get(), {12, 0, 0, 10}, &clip));
    EXPECT_EQ(instance_->bandBounds.left, 2);
    EXPECT_EQ(instance_->bandBounds.top, 1);
    EXPECT_EQ(instance_->bandBounds.right, 5);
    EXPECT_EQ(instance_->bandBounds.bottom, 3);
    EXPECT_TRUE(BandRangeCheck(instance_.get(), {6, 3, 30, 30}, nullptr));
    EXPECT_EQ(instance_->bandBounds.right, 8);
    EXPECT_EQ(instance_->bandBounds.bottom, 4);
    EXPECT_FALSE(BandRangeCheck(instance_.get(), {0, 0, 1, 1}, &clip));
}

TEST_F(BitBltEntries, ATransferThatDrawsNoPixelStillEnlargesTheDrawnArea) {
    auto source = GreySource(2, 2);
    RECTL rect{1, 1, 3, 3};
    POINTL farAway{100, 100};
    EXPECT_TRUE(DrvCopyBits(band(), &source->object, nullptr, &greyXlate_, &rect, &farAway));
    EXPECT_EQ(instance_->bandBounds.left, 1);
    EXPECT_EQ(instance_->bandBounds.bottom, 3);
    EXPECT_EQ(BandRow(1), std::vector<BYTE>(8, 0xEE));
}

TEST_F(BitBltEntries, CopyBitsDrawsTheSourceWithTheDriverEngine) {
    auto source = GreySource(3, 2);
    RECTL rect{4, 2, 7, 4};
    POINTL at{0, 0};
    EXPECT_TRUE(DrvCopyBits(band(), &source->object, nullptr, &greyXlate_, &rect, &at));
    EXPECT_EQ(BandRow(2), (std::vector<BYTE>{0xEE, 0xEE, 0xEE, 0xEE, 1, 2, 3, 0xEE}));
    EXPECT_EQ(BandRow(3), (std::vector<BYTE>{0xEE, 0xEE, 0xEE, 0xEE, 4, 5, 6, 0xEE}));
    // An 8-bit grey source is not black and white.
    EXPECT_EQ(instance_->state & kStateBandBlackWhite, 0u);
}

TEST_F(BitBltEntries, StretchMirrorsARightToLeftTarget) {
    auto source = GreySource(2, 1);
    RECTL target{4, 0, 0, 1};
    RECTL sourceRect{0, 0, 2, 1};
    EXPECT_TRUE(DrvStretchBlt(band(), &source->object, nullptr, nullptr, &greyXlate_, nullptr,
                              nullptr, &target, &sourceRect, nullptr, COLORONCOLOR));
    EXPECT_EQ(BandRow(0), (std::vector<BYTE>{2, 2, 1, 1, 0xEE, 0xEE, 0xEE, 0xEE}));
}

TEST_F(BitBltEntries, BlackAndWhiteOneBitSourcesKeepTheBandFlag) {
    auto source = std::make_unique<Surface>(8, 1, BMF_1BPP, 1, 0x0F);
    ULONG table[2] = {0x000000, 0xFFFFFF};
    XLATEOBJ xlate{0, XO_TABLE, 0, 0, 2, table};
    RECTL rect{0, 0, 8, 1};
    POINTL at{0, 0};
    EXPECT_TRUE(DrvCopyBits(band(), &source->object, nullptr, &xlate, &rect, &at));
    EXPECT_NE(instance_->state & kStateBandBlackWhite, 0u);
    EXPECT_EQ(BandRow(0), (std::vector<BYTE>{0, 0, 0, 0, 255, 255, 255, 255}));
    table[1] = 0x00FF00;
    EXPECT_TRUE(DrvCopyBits(band(), &source->object, nullptr, &xlate, &rect, &at));
    EXPECT_EQ(instance_->state & kStateBandBlackWhite, 0u);
}

TEST_F(BitBltEntries, BitBltFillsWithABrushOrWithoutOneForBlackAndWhite) {
    RECTL rect{0, 0, 2, 1};
    BRUSHOBJ brush{0x0000FF, nullptr, 0};
    EXPECT_TRUE(DrvBitBlt(band(), nullptr, nullptr, nullptr, nullptr, &rect, nullptr, nullptr,
                          &brush, nullptr, 0xF0F0));
    EXPECT_EQ(instance_->state & kStateBandBlackWhite, 0u);  // red brush
    rect = {2, 0, 4, 1};
    EXPECT_TRUE(DrvBitBlt(band(), nullptr, nullptr, nullptr, nullptr, &rect, nullptr, nullptr,
                          nullptr, nullptr, 0x0000));
    rect = {4, 0, 6, 1};
    EXPECT_FALSE(DrvBitBlt(band(), nullptr, nullptr, nullptr, nullptr, &rect, nullptr, nullptr,
                           nullptr, nullptr, 0x5A5A));
    EXPECT_EQ(BandRow(0), (std::vector<BYTE>{79, 79, 0, 0, 0xEE, 0xEE, 0xEE, 0xEE}));
}

TEST_F(BitBltEntries, BitBltCombinesSourceAndBand) {
    auto source = GreySource(2, 1);
    RECTL rect{0, 1, 2, 2};
    POINTL at{0, 0};
    EXPECT_TRUE(DrvBitBlt(band(), &source->object, nullptr, nullptr, &greyXlate_, &rect, &at,
                          nullptr, nullptr, nullptr, 0x6666));  // source xor band
    EXPECT_EQ(BandRow(1)[0], 0xEE ^ 1);
    EXPECT_EQ(BandRow(1)[1], 0xEE ^ 2);
    EXPECT_FALSE(DrvBitBlt(band(), nullptr, nullptr, nullptr, nullptr, &rect, &at, nullptr, nullptr,
                           nullptr, 0x6666));  // no source
}

TEST_F(BitBltEntries, StretchWithAMaskLeavesTheBandAndFails) {
    auto source = GreySource(2, 2);
    auto mask = std::make_unique<Surface>(2, 2, BMF_1BPP, 1, 0xFF);
    RECTL target{0, 0, 2, 2};
    RECTL sourceRect{0, 0, 2, 2};
    EXPECT_FALSE(DrvStretchBlt(band(), &source->object, &mask->object, nullptr, &greyXlate_,
                               nullptr, nullptr, &target, &sourceRect, nullptr, COLORONCOLOR));
    EXPECT_EQ(BandRow(0), std::vector<BYTE>(8, 0xEE));
}

TEST_F(BitBltEntries, AlphaBlendRefusalsAndAConstantBlend) {
    auto source = GreySource(2, 1);
    RECTL target{0, 0, 2, 1};
    RECTL sourceRect{0, 0, 2, 1};
    BLENDOBJ perPixel{{AC_SRC_OVER, 0, 255, AC_SRC_ALPHA}};
    EXPECT_FALSE(DrvAlphaBlend(band(), &source->object, nullptr, &greyXlate_, &target, &sourceRect,
                               &perPixel));
    BLENDOBJ otherOperation{{1, 0, 255, 0}};
    EXPECT_FALSE(DrvAlphaBlend(band(), &source->object, nullptr, &greyXlate_, &target, &sourceRect,
                               &otherOperation));
    EXPECT_FALSE(DrvAlphaBlend(band(), &source->object, nullptr, &greyXlate_, &target, &sourceRect,
                               nullptr));
    EXPECT_EQ(BandRow(0), std::vector<BYTE>(8, 0xEE));

    // Half of source 1 over 0xEE (238): (1·128 + 238·127) / 255 = 119.0
    BLENDOBJ half{{AC_SRC_OVER, 0, 128, 0}};
    EXPECT_TRUE(
        DrvAlphaBlend(band(), &source->object, nullptr, &greyXlate_, &target, &sourceRect, &half));
    EXPECT_EQ(BandRow(0)[0], 119);
}

TEST_F(BitBltEntries, QueryDeviceSupportAlwaysDeclines) {
    for (ULONG type : {0u, 1u}) {
        SetLastError(kUntouched);
        EXPECT_FALSE(DrvQueryDeviceSupport(band(), nullptr, nullptr, type, 0, nullptr, 0, nullptr));
        EXPECT_EQ(GetLastError(), kUntouched) << type;
    }
    EXPECT_FALSE(DrvQueryDeviceSupport(band(), nullptr, nullptr, 2, 0, nullptr, 0, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_NOT_SUPPORTED);
    SetLastError(kUntouched);
    EXPECT_FALSE(DrvQueryDeviceSupport(nullptr, nullptr, nullptr, 2, 0, nullptr, 0, nullptr));
    EXPECT_EQ(GetLastError(), kUntouched);
}

TEST(OwnRendering, TheDeviceModeOptionSetsTheGeometryFlag) {
    Devmode dm{};
    dm.pub.dmOrientation = DMORIENT_PORTRAIT;
    dm.pub.dmPaperSize = 120;
    dm.pub.dmScale = 100;
    dm.pub.dmCopies = dm.pub.dmDuplex = dm.pub.dmCollate = 1;
    dm.pub.dmPrintQuality = dm.pub.dmYResolution = 203;
    dm.pub.dmBitsPerPel = 1;
    dm.priv.signature = kPrivateSignature;
    dm.priv.pagesPerSheet = 1;
    dm.priv.zoom = 100;
    dm.priv.sheetPaperCode = 120;
    dm.priv.colourMode = 1;
    dm.priv.sheetPaper = dm.priv.pagePaper = PaperRecord{800, 3276, 40, 0, 40, 0, 576, 2614, 0, 0};
    PageGeometry geometry{};
    ComputePageGeometry(dm, &geometry, true);
    EXPECT_EQ(geometry.renderFlags, 0);
    dm.priv.optionFlags |= kOptionOwnRendering;
    ComputePageGeometry(dm, &geometry, true);
    EXPECT_EQ(geometry.renderFlags, kOwnRendering);
    EXPECT_NE(geometry.status & kGeometryValid, 0);
}

}  // namespace
