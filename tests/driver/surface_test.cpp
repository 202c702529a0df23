// The band surface and the driver log lines of the page pipeline: the band
// bitmap's size under the 4 MiB budget, its format and flags, its
// association with the engine's device, the pages it refuses, and the exact
// lines the entries write.

#include <gtest/gtest.h>

#include "driver/band_layout.h"
#include "pipeline_support.h"
#include "platform/last_error.h"

namespace pipetest {
namespace {

class BandSurface : public PipelineTest {
protected:
    HSURF EnableSurface(host::Device& device) {
        return driver_->Entry<PFN_DrvEnableSurface>(INDEX_DrvEnableSurface)(device.pdev());
    }
    void DisableSurface(host::Device& device) {
        driver_->Entry<PFN_DrvDisableSurface>(INDEX_DrvDisableSurface)(device.pdev());
    }
    // Gives the enabled instance a page of another size (no paper of the
    // model is this large or this small).
    static void SetPage(DeviceInstance& instance, SIZEL page, WORD direction = kBandsDown) {
        instance.geometry.paperPrintable = page;
        instance.geometry.bandDirection = direction;
    }
};

TEST_F(BandSurface, IsATopDownBandingBitmapOfTheEngineDevice) {
    auto device = Enable();
    ASSERT_TRUE(device);
    const std::size_t before = host::LiveSurfaceCount();
    HSURF surface = EnableSurface(*device);
    ASSERT_TRUE(surface);
    EXPECT_EQ(Instance(*device).bandSurface, surface);
    host::SurfaceInfo info;
    ASSERT_TRUE(host::LookupSurface(surface, &info));
    EXPECT_EQ(info.device, device->hdev());
    EXPECT_EQ(info.hooks, 0x104EBu);
    EXPECT_TRUE(info.banding);
    SURFOBJ* object = EngLockSurface(surface);
    ASSERT_NE(object, nullptr);
    EXPECT_EQ(object->dhpdev, device->pdev());
    EXPECT_EQ(object->iBitmapFormat, BMF_1BPP);
    EXPECT_EQ(object->lDelta, 72);
    // The model's settings always carry the user-memory flag (0x4).
    EXPECT_EQ(object->fjBitmap & (BMF_TOPDOWN | BMF_NOZEROINIT | BMF_USERMEM),
              BMF_TOPDOWN | BMF_NOZEROINIT | BMF_USERMEM);
    EngUnlockSurface(object);
    DisableSurface(*device);
    EXPECT_FALSE(Instance(*device).bandSurface);
    EXPECT_EQ(host::LiveSurfaceCount(), before);
}

TEST_F(BandSurface, WithoutTheUserMemoryFlagTheBitmapIsTheEnginesOwn) {
    PrinterData settings = DefaultSettings();
    settings.flags &= ~kFlagBandInUserMemory;
    StoreSettings(settings);
    auto device = Enable();
    ASSERT_TRUE(device);
    HSURF surface = EnableSurface(*device);
    ASSERT_TRUE(surface);
    SURFOBJ* object = EngLockSurface(surface);
    ASSERT_NE(object, nullptr);
    EXPECT_EQ(object->fjBitmap & BMF_USERMEM, 0);
    EngUnlockSurface(object);
    DisableSurface(*device);
}

TEST_F(BandSurface, AOneBitPageOf576PixelsHasBandsOfAtMost58248Lines) {
    UseSettings(/*wholePage=*/false);
    auto device = Enable();
    ASSERT_TRUE(device);
    SetPage(Instance(*device), {576, 100000});
    HSURF surface = EnableSurface(*device);
    ASSERT_TRUE(surface);
    SURFOBJ* object = EngLockSurface(surface);
    ASSERT_NE(object, nullptr);
    EXPECT_EQ(object->sizlBitmap.cx, 576);
    EXPECT_EQ(object->sizlBitmap.cy, 58248);  // 4 MiB / 72 bytes, rounded down to 8 lines
    EngUnlockSurface(object);
    DisableSurface(*device);
}

TEST_F(BandSurface, AStaleGeometryIsComputedAgainFirst) {
    auto device = Enable();
    ASSERT_TRUE(device);
    DeviceInstance& instance = Instance(*device);
    std::memset(&instance.geometry, 0, sizeof instance.geometry);
    HSURF surface = EnableSurface(*device);
    ASSERT_TRUE(surface);
    EXPECT_FALSE(GeometryIsStale(instance.geometry));
    SURFOBJ* object = EngLockSurface(surface);
    EXPECT_EQ(object->sizlBitmap.cx, 576);
    EXPECT_EQ(object->sizlBitmap.cy, 2618);
    EngUnlockSurface(object);
    DisableSurface(*device);
}

TEST_F(BandSurface, NoBandOfEightLinesOrColumnsWithinTheBudgetMeansNoSurface) {
    UseSettings(/*wholePage=*/false, /*detailLog=*/true);
    auto device = Enable();
    ASSERT_TRUE(device);
    const std::size_t before = host::LiveSurfaceCount();
    // Rows wider than 4 MiB / 8, and strips of a page taller than 4 MiB / 4.
    SetPage(Instance(*device), {5000000, 100}, kBandsDown);
    EXPECT_FALSE(EnableSurface(*device));
    SetPage(Instance(*device), {100, 2000000}, kStripsRight);
    EXPECT_FALSE(EnableSurface(*device));
    EXPECT_EQ(host::LiveSurfaceCount(), before);
    const std::string log = Log();
    const std::string failure = " ERROR:Cannot get band Memory.\n";
    std::size_t first = log.find(failure);
    ASSERT_NE(first, std::string::npos) << log;
    EXPECT_NE(log.find(failure, first + 1), std::string::npos);
    EXPECT_NE(log.find("Leave DrvEnableSurface() ret:0\n"), std::string::npos);
}

TEST_F(BandSurface, AnEmptyPageIsRefusedBeforeTheBandIsSized) {
    auto device = Enable();
    ASSERT_TRUE(device);
    for (SIZEL page : {SIZEL{0, 2618}, SIZEL{576, 0}, SIZEL{-8, 100}}) {
        SetPage(Instance(*device), page);
        EXPECT_FALSE(EnableSurface(*device)) << page.cx << "x" << page.cy;
        SetPage(Instance(*device), page, kStripsLeft);
        EXPECT_FALSE(EnableSurface(*device)) << page.cx << "x" << page.cy;
    }
    EXPECT_FALSE(Instance(*device).bandSurface);
}

TEST_F(BandSurface, ADepthOtherThanOneEightOrTwentyFourHasNoBand) {
    auto device = Enable();
    ASSERT_TRUE(device);
    Instance(*device).geometry.bitsPerPixel = 4;
    EXPECT_FALSE(EnableSurface(*device));
}

TEST_F(BandSurface, TheEntriesWriteTheirLines) {
    UseSettings(/*wholePage=*/true, /*detailLog=*/true);
    auto device = Enable();
    ASSERT_TRUE(device);
    {
        std::string error;
        auto job = host::PrintJob::Start(*device, u"", 0x2A, &error);  // no name
        ASSERT_TRUE(job) << error;
        ASSERT_TRUE(job->PrintPage(host::BandPainter{}, &error)) << error;
        ASSERT_TRUE(job->End(&error)) << error;
    }
    const std::string log = Log();
    const std::vector<std::string> lines = {
        "Enter DrvEnableSurface()\n",
        "Leave DrvEnableSurface() ret:0x",
        " sizlBmp(576,2618)\n",
        "Enter DrvStartDoc() JobID:0x2a JobName:[NULL] Reset:?0\n",
        "DrvStartDoc() return TRUE.\n",
        "Enter DrvStartPage()\n",
        "Leave DrvStartPage() return TRUE.\n",
        "Enter DrvStartBanding()\n",
        "DrvStartBanding() pt(0,0) BandRect(0,0,576,2618) return TRUE.\n",
        "Enter DrvNextBand()\n",
        "Leave DrvNextBand() pt(-1,-1) BandRect(0,0,0,0) return TRUE.\n",
        "Enter DrvSendPage()\n",
        "Leave DrvSendPage() return TRUE.\n",
        "Enter DrvEndDoc()\n",
        "Leave DrvEndDoc() return TRUE.\n",
        "Enter DrvDisableSurface()\n",
    };
    std::size_t at = 0;
    for (const std::string& line : lines) {
        std::size_t found = log.find(line, at);
        ASSERT_NE(found, std::string::npos) << "missing, in order: " << line << "\n" << log;
        at = found + line.size();
    }
    EXPECT_EQ(log.find("(null)"), std::string::npos);
    // No name: the command library is given none.
    const std::vector<RecordedCall> docs = CallsOf(Call::StartDoc);
    ASSERT_EQ(docs.size(), 1u);
    EXPECT_FALSE(docs[0].hasJobName);
}

TEST_F(BandSurface, TheJobNameReachesTheLibraryInTheAnsiCodePage) {
    auto device = Enable();
    ASSERT_TRUE(device);
    {
        auto job = StartJob(*device, u"Caf\u00e9 \u20ac5", 3);
        ASSERT_TRUE(job);
        EXPECT_STREQ(Instance(*device).jobName,
                     "Caf\xe9 \x80"
                     "5");
        std::string error;
        ASSERT_TRUE(job->PrintPage(host::BandPainter{}, &error)) << error;
    }
    const std::vector<RecordedCall> docs = CallsOf(Call::StartDoc);
    ASSERT_EQ(docs.size(), 1u);
    EXPECT_EQ(docs[0].jobName,
              "Caf\xe9 \x80"
              "5");
    EXPECT_EQ(docs[0].jobId, 3u);
}

TEST_F(BandSurface, ADocumentStartsTheTextBufferAndItsEndReleasesIt) {
    auto device = Enable();
    ASSERT_TRUE(device);
    const DeviceInstance& instance = Instance(*device);
    {
        auto job = StartJob(*device);
        ASSERT_TRUE(job);
        EXPECT_NE(instance.textBuf.items, nullptr);
        EXPECT_NE(instance.textBuf.data, nullptr);
        EXPECT_EQ(instance.textBuf.itemCapacity, 2520u);
        EXPECT_EQ(instance.textBuf.dataCapacity, 65536u);
        EXPECT_EQ(instance.textBuf.itemCount, 0u);
        EXPECT_EQ(instance.pageNumber, 1);
        EXPECT_EQ(instance.jobId, 42u);
        EXPECT_NE(instance.state & kStateInDocument, 0u);
        std::string error;
        ASSERT_TRUE(job->End(&error)) << error;
        EXPECT_EQ(instance.textBuf.items, nullptr);
        EXPECT_EQ(instance.state & kStateInDocument, 0u);
    }
    // A document without pages never loads the command library.
    EXPECT_TRUE(Calls().empty());
}

}  // namespace
}  // namespace pipetest

namespace pipetest {
namespace {

TEST_F(BandSurface, ADeviceDisabledDuringADocumentEndsTheJobAndDropsItsSurface) {
    auto device = Enable();
    ASSERT_TRUE(device);
    const std::size_t before = host::LiveSurfaceCount();
    HSURF surface = EnableSurface(*device);
    ASSERT_TRUE(surface);
    SURFOBJ* object = EngLockSurface(surface);
    std::u16string name = u"abandoned";
    ASSERT_TRUE(driver_->Entry<PFN_DrvStartDoc>(INDEX_DrvStartDoc)(object, name.data(), 1));
    ASSERT_TRUE(driver_->Entry<PFN_DrvStartPage>(INDEX_DrvStartPage)(object));
    POINTL origin{};
    ASSERT_TRUE(driver_->Entry<PFN_DrvStartBanding>(INDEX_DrvStartBanding)(object, &origin));
    EngUnlockSurface(object);
    EXPECT_EQ(LiveJobs(), 1);
    device.reset();  // no DrvEndDoc, no DrvDisableSurface
    EXPECT_EQ(LiveJobs(), 0);
    EXPECT_EQ(Sequence(), (std::vector<Call>{Call::EnableExtPDEV, Call::ExtEscape, Call::StartDoc,
                                             Call::EndDoc, Call::DisableExtPDEV}));
    EXPECT_EQ(host::LiveSurfaceCount(), before);
}

TEST_F(BandSurface, EscapesWriteTheirLinesAndTextItemsTheirBounds) {
    UseSettings(/*wholePage=*/true, /*detailLog=*/true);
    auto device = Enable();
    ASSERT_TRUE(device);
    {
        auto job = StartJob(*device);
        ASSERT_TRUE(job);
        std::string error;
        ASSERT_TRUE(job->PrintPage(
            [&](SURFOBJ* band, POINTL, int) {
                BYTE item[280] = {};
                const WORD kind = 200;
                const LONG x = 10, y = 20, width = 100, height = 30;
                const WORD length = 1;
                std::memcpy(item, &kind, 2);
                std::memcpy(item + 2, &x, 4);
                std::memcpy(item + 6, &y, 4);
                item[10] = 'A';
                std::memcpy(item + 270, &length, 2);
                std::memcpy(item + 272, &width, 4);
                std::memcpy(item + 276, &height, 4);
                EXPECT_EQ(driver_->Entry<PFN_DrvEscape>(INDEX_DrvEscape)(band, 15011, 280, item, 0,
                                                                         nullptr),
                          1u);
            },
            &error))
            << error;
    }
    const std::string log = Log();
    EXPECT_NE(log.find("Enter DrvEscape() iEsc:15011 cjIn:280 pvIn:0x"), std::string::npos) << log;
    EXPECT_NE(log.find(" cjOut:0 pvOut:0x0\n"), std::string::npos) << log;
    EXPECT_NE(log.find(" BoundingRect Obj[10,20,110,50] Page[10,20,110,50]\n"), std::string::npos);
    EXPECT_NE(log.find("Leave DrvEscape() ret:1\n"), std::string::npos);
    const std::vector<RecordedCall> sent = CallsOf(Call::SendBand);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_TRUE(SameRect(sent[0].band.content, {10, 20, 110, 50})) << sent[0].band.content;
}

}  // namespace
}  // namespace pipetest
