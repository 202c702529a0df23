// The page pipeline driven by the print host's document loop, with the
// command recorder standing in for the command library: band rectangles of
// the four band directions, the command library's calls and their
// arguments, documents one after the other, a reset during a document and
// the failures that end a job.

#include <gtest/gtest.h>

#include <cstring>

#include "driver/band_layout.h"
#include "driver/page_geometry.h"
#include "pipeline_support.h"
#include "platform/last_error.h"

namespace pipetest {
namespace {

PageGeometry GeometryOf(const RecordedCall& escape) {
    PageGeometry geometry{};
    EXPECT_EQ(escape.data.size(), sizeof geometry);
    if (escape.data.size() == sizeof geometry)
        std::memcpy(&geometry, escape.data.data(), sizeof geometry);
    return geometry;
}

bool AllBytes(const std::vector<BYTE>& bytes, BYTE value) {
    for (BYTE b : bytes)
        if (b != value) return false;
    return !bytes.empty();
}

TEST_F(PipelineTest, APageOfOneBandMakesTheWholeCallSequence) {
    auto device = Enable();
    ASSERT_TRUE(device);
    DeviceInstance& instance = Instance(*device);
    {
        auto job = StartJob(*device, u"Receipt", 42);
        ASSERT_TRUE(job);
        ASSERT_EQ(job->surface()->sizlBitmap.cx, 576);
        ASSERT_EQ(job->surface()->sizlBitmap.cy, 2618);  // the whole page: settings flag 0x2
        std::string error;
        ASSERT_TRUE(job->PrintPage(host::BandPainter{}, &error)) << error;
        ASSERT_EQ(job->bands().size(), 1u);
        EXPECT_EQ(job->bands()[0].origin.x, 0);
        EXPECT_EQ(job->bands()[0].origin.y, 0);
        EXPECT_EQ(instance.pageNumber, 2);
        ASSERT_TRUE(job->End(&error)) << error;
    }
    ASSERT_EQ(Sequence(), DocumentSequence({1})) << Names(Sequence());
    const std::vector<RecordedCall> calls = Calls();
    const void* handle = calls[0].job;
    ASSERT_NE(handle, nullptr);
    for (const RecordedCall& call : calls)
        EXPECT_EQ(call.job, handle) << recorder::CallName(call.call);

    const RecordedCall& enable = calls[0];
    ASSERT_EQ(enable.devmode.size(), sizeof(Devmode));
    EXPECT_EQ(std::memcmp(enable.devmode.data(), &instance.devmode, sizeof(Devmode)), 0);
    EXPECT_EQ(enable.printer, printer_);
    EXPECT_NE(enable.workBuffer, nullptr);

    const RecordedCall& settings = calls[1];
    EXPECT_EQ(settings.code, kEscapePrinterData);
    ASSERT_EQ(settings.size, sizeof(PrinterData));
    EXPECT_EQ(std::memcmp(settings.data.data(), &instance.printerData, sizeof(PrinterData)), 0);

    const RecordedCall& startDoc = calls[2];
    EXPECT_TRUE(startDoc.hasJobName);
    EXPECT_EQ(startDoc.jobName, "Receipt");
    EXPECT_EQ(startDoc.jobId, 42u);
    EXPECT_EQ(startDoc.devmode.size(), sizeof(Devmode));

    const RecordedCall& geometryEscape = calls[3];
    EXPECT_EQ(geometryEscape.code, kEscapeGeometry);
    EXPECT_EQ(geometryEscape.size, 240u);
    const PageGeometry sent = GeometryOf(geometryEscape);
    EXPECT_FALSE(GeometryIsStale(sent));
    EXPECT_EQ(+sent.pagesBegun, 1);
    EXPECT_EQ(+sent.sheetsBegun, 1);
    EXPECT_EQ(+sent.currentCell, 1);

    const RecordedCall& startPage = calls[4];
    EXPECT_EQ(startPage.pageSize.cx, 576);
    EXPECT_EQ(startPage.pageSize.cy, 2618);
    EXPECT_TRUE(SameRect(startPage.pageRect, {0, 0, 576, 2618})) << startPage.pageRect;
    EXPECT_EQ(startPage.escapeValue, 0u);

    const RecordedCall& band = calls[5];
    EXPECT_EQ(+band.band.stride, 72);
    EXPECT_EQ(+band.band.width, 576);
    EXPECT_EQ(+band.band.height, 2618);
    EXPECT_TRUE(SameRect(band.band.band, {0, 0, 576, 2618})) << band.band.band;
    // Nothing drawn: a zero-size rectangle at the band's top-left corner.
    EXPECT_TRUE(SameRect(band.band.content, {0, 0, 0, 0})) << band.band.content;
    EXPECT_EQ(+band.band.flags, kBandBlackWhiteOnly);
    EXPECT_EQ(band.itemCount, 0u);
    EXPECT_EQ(band.textBytes, 0u);
    EXPECT_TRUE(AllBytes(band.bits, 0xFF));  // erased to white: palette index 1

    // The document is over: nothing bound, no text buffer, a stale geometry.
    EXPECT_EQ(LiveJobs(), 0);
    EXPECT_EQ(instance.command.module, nullptr);
    EXPECT_EQ(instance.command.workBuffer, nullptr);
    EXPECT_EQ(instance.command.job, nullptr);
    EXPECT_EQ(instance.textBuf.items, nullptr);
    EXPECT_TRUE(GeometryIsStale(instance.geometry));
    EXPECT_EQ(instance.state & (kStateInDocument | kStateCreatedByReset), 0u);
}

// One band direction: how the device mode asks for it, and the bands of its page.
struct DirectionCase {
    const char* name;
    SHORT orientation;
    SHORT rotation;
    int bits;
    WORD direction;
    SIZEL page;
    SIZEL bitmap;
    std::vector<RECTL> bands;
};

class BandDirections : public PipelineTest, public ::testing::WithParamInterface<DirectionCase> {};

TEST_P(BandDirections, BandsFollowTheDirection) {
    const DirectionCase& c = GetParam();
    UseSettings(/*wholePage=*/false);
    const Devmode mode = Rotated(WithDepth(DefaultDevmode(), c.bits), c.orientation, c.rotation);
    auto device = Enable(&mode);
    ASSERT_TRUE(device);
    const DeviceInstance& instance = Instance(*device);
    ASSERT_EQ(+instance.geometry.bandDirection, c.direction);
    ASSERT_EQ(+instance.geometry.bitsPerPixel, c.bits);
    const SIZEL page = PageImageSize(instance.geometry);
    ASSERT_EQ(page.cx, c.page.cx);
    ASSERT_EQ(page.cy, c.page.cy);
    {
        auto job = StartJob(*device);
        ASSERT_TRUE(job);
        EXPECT_EQ(job->surface()->sizlBitmap.cx, c.bitmap.cx);
        EXPECT_EQ(job->surface()->sizlBitmap.cy, c.bitmap.cy);
        std::string error;
        ASSERT_TRUE(job->PrintPage(host::BandPainter{}, &error)) << error;
        ASSERT_TRUE(job->PrintPage(host::BandPainter{}, &error)) << error;
        // The engine is told each band's top-left corner.
        ASSERT_EQ(job->bands().size(), 2 * c.bands.size());
        for (std::size_t i = 0; i < job->bands().size(); ++i) {
            EXPECT_EQ(job->bands()[i].origin.x, c.bands[i % c.bands.size()].left) << i;
            EXPECT_EQ(job->bands()[i].origin.y, c.bands[i % c.bands.size()].top) << i;
        }
    }
    const int bandCount = static_cast<int>(c.bands.size());
    ASSERT_EQ(Sequence(), DocumentSequence({bandCount, bandCount})) << Names(Sequence());
    const std::vector<RecordedCall> sent = CallsOf(Call::SendBand);
    for (std::size_t i = 0; i < sent.size(); ++i) {
        const RECTL& expected = c.bands[i % c.bands.size()];
        EXPECT_TRUE(SameRect(sent[i].band.band, expected)) << i << " " << sent[i].band.band;
        EXPECT_TRUE(SameRect(sent[i].band.content,
                             {expected.left, expected.top, expected.left, expected.top}))
            << i << " " << sent[i].band.content;
        EXPECT_EQ(+sent[i].band.width, c.bitmap.cx);
        EXPECT_EQ(+sent[i].band.height, c.bitmap.cy);
        EXPECT_EQ(+sent[i].band.stride, BandStride(static_cast<WORD>(c.bits), c.bitmap.cx));
        EXPECT_TRUE(AllBytes(sent[i].bits, 0xFF)) << i;
    }
    const std::vector<RecordedCall> pages = CallsOf(Call::StartPage);
    ASSERT_EQ(pages.size(), 2u);
    for (const RecordedCall& p : pages) {
        EXPECT_EQ(p.pageSize.cx, c.page.cx);
        EXPECT_EQ(p.pageSize.cy, c.page.cy);
    }
    // The geometry goes out before every page, with the page counters.
    const std::vector<RecordedCall> escapes = CallsOf(Call::ExtEscape);
    ASSERT_EQ(escapes.size(), 3u);
    EXPECT_EQ(+GeometryOf(escapes[1]).pagesBegun, 1);
    EXPECT_EQ(+GeometryOf(escapes[2]).pagesBegun, 2);
}

// The 80 mm roll: 576 x 2618 pixels at 203 dots per inch. At 24 bits a band
// of 4 MiB holds 2424 lines (stride 1728) or a strip 2424 columns wide; at 1
// bit the whole page fits.
INSTANTIATE_TEST_SUITE_P(AllFour, BandDirections,
                         ::testing::Values(DirectionCase{"PortraitOneBand",
                                                         DMORIENT_PORTRAIT,
                                                         0,
                                                         1,
                                                         1,
                                                         {576, 2618},
                                                         {576, 2618},
                                                         {{0, 0, 576, 2618}}},
                                           DirectionCase{"PortraitTwoBands",
                                                         DMORIENT_PORTRAIT,
                                                         0,
                                                         24,
                                                         1,
                                                         {576, 2618},
                                                         {576, 2424},
                                                         {{0, 0, 576, 2424}, {0, 2424, 576, 2618}}},
                                           DirectionCase{"Landscape90OneStrip",
                                                         DMORIENT_LANDSCAPE,
                                                         90,
                                                         1,
                                                         2,
                                                         {2618, 576},
                                                         {2618, 576},
                                                         {{0, 0, 2618, 576}}},
                                           DirectionCase{"Landscape90TwoStrips",
                                                         DMORIENT_LANDSCAPE,
                                                         90,
                                                         24,
                                                         2,
                                                         {2618, 576},
                                                         {2424, 576},
                                                         {{0, 0, 2424, 576}, {2424, 0, 2618, 576}}},
                                           DirectionCase{"Landscape270OneStrip",
                                                         DMORIENT_LANDSCAPE,
                                                         270,
                                                         1,
                                                         3,
                                                         {2618, 576},
                                                         {2618, 576},
                                                         {{0, 0, 2618, 576}}},
                                           DirectionCase{"Landscape270TwoStrips",
                                                         DMORIENT_LANDSCAPE,
                                                         270,
                                                         24,
                                                         3,
                                                         {2618, 576},
                                                         {2424, 576},
                                                         {{194, 0, 2618, 576}, {0, 0, 194, 576}}},
                                           DirectionCase{"Portrait180OneBand",
                                                         DMORIENT_PORTRAIT,
                                                         180,
                                                         1,
                                                         4,
                                                         {576, 2618},
                                                         {576, 2618},
                                                         {{0, 0, 576, 2618}}},
                                           DirectionCase{"Portrait180TwoBands",
                                                         DMORIENT_PORTRAIT,
                                                         180,
                                                         24,
                                                         4,
                                                         {576, 2618},
                                                         {576, 2424},
                                                         {{0, 194, 576, 2618}, {0, 0, 576, 194}}}),
                         [](const ::testing::TestParamInfo<DirectionCase>& info) {
                             return info.param.name;
                         });

TEST_F(PipelineTest, ALongPageAtEightBitsTakesFourBands) {
    UseSettings(/*wholePage=*/false);
    const Devmode mode = LongPaper(WithDepth(DefaultDevmode(), 8), 32760);  // 3,276 mm
    auto device = Enable(&mode);
    ASSERT_TRUE(device);
    ASSERT_EQ(PageImageSize(Instance(*device).geometry).cy, 26182);
    {
        auto job = StartJob(*device);
        ASSERT_TRUE(job);
        // 4 MiB / 576 bytes a line = 7281, rounded down to a multiple of 8.
        EXPECT_EQ(job->surface()->sizlBitmap.cy, 7280);
        std::string error;
        ASSERT_TRUE(job->PrintPage(host::BandPainter{}, &error)) << error;
    }
    ASSERT_EQ(Sequence(), DocumentSequence({4})) << Names(Sequence());
    const std::vector<RecordedCall> sent = CallsOf(Call::SendBand);
    const RECTL expected[] = {
        {0, 0, 576, 7280}, {0, 7280, 576, 14560}, {0, 14560, 576, 21840}, {0, 21840, 576, 26182}};
    for (int i = 0; i < 4; ++i) EXPECT_TRUE(SameRect(sent[i].band.band, expected[i])) << i;
}

TEST_F(PipelineTest, TheShiftMovesTheBandsOnTheSheet) {
    Devmode mode = DefaultDevmode();
    mode.priv.shiftX = 2;
    mode.priv.shiftY = 3;
    auto device = Enable(&mode);
    ASSERT_TRUE(device);
    const POINTL shift = Instance(*device).geometry.shift;
    ASSERT_TRUE(shift.x != 0 || shift.y != 0) << "the device mode kept no shift";
    {
        auto job = StartJob(*device);
        ASSERT_TRUE(job);
        std::string error;
        ASSERT_TRUE(job->PrintPage(host::BandPainter{}, &error)) << error;
        // Band pixel (0, 0) is page pixel (-shift): the page lands shifted on the band.
        ASSERT_EQ(job->bands().size(), 1u);
        EXPECT_EQ(job->bands()[0].origin.x, -shift.x);
        EXPECT_EQ(job->bands()[0].origin.y, -shift.y);
    }
    const std::vector<RecordedCall> sent = CallsOf(Call::SendBand);
    ASSERT_EQ(sent.size(), 1u);
    // The record is in sheet coordinates: the band moved back by the shift.
    EXPECT_TRUE(SameRect(sent[0].band.band, {0, 0, 576, 2618})) << sent[0].band.band;
    EXPECT_TRUE(SameRect(sent[0].band.content, {0, 0, 0, 0})) << sent[0].band.content;
}

TEST_F(PipelineTest, TwoDocumentsOnOneDeviceEachBindTheLibraryAndStartWithAValidGeometry) {
    auto device = Enable();
    ASSERT_TRUE(device);
    DeviceInstance& instance = Instance(*device);
    for (int document = 0; document < 2; ++document) {
        // The second document takes the spooler's job id.
        auto job = StartJob(*device, u"Doc", document == 0 ? 1u : 0u);
        ASSERT_TRUE(job);
        std::string error;
        ASSERT_TRUE(job->PrintPage(host::BandPainter{}, &error)) << error;
        EXPECT_NE(instance.command.module, nullptr);
        ASSERT_TRUE(job->End(&error)) << error;
        EXPECT_EQ(instance.command.module, nullptr);  // unloaded until the next document
        EXPECT_TRUE(GeometryIsStale(instance.geometry));
    }
    std::vector<Call> twice = DocumentSequence({1});
    const std::vector<Call> one = twice;
    twice.insert(twice.end(), one.begin(), one.end());
    ASSERT_EQ(Sequence(), twice) << Names(Sequence());
    const std::vector<RecordedCall> escapes = CallsOf(Call::ExtEscape);
    ASSERT_EQ(escapes.size(), 4u);
    for (int i : {1, 3}) {
        const PageGeometry geometry = GeometryOf(escapes[i]);
        EXPECT_FALSE(GeometryIsStale(geometry)) << i;
        EXPECT_EQ(+geometry.pagesBegun, 1) << i;
        EXPECT_EQ(+geometry.imageSize.cx, 576) << i;
        EXPECT_EQ(+geometry.bitsPerPixel, 1) << i;
    }
    const std::vector<RecordedCall> docs = CallsOf(Call::StartDoc);
    EXPECT_EQ(docs[0].jobId, 1u);
    EXPECT_GT(docs[1].jobId, 0u);
    const std::vector<RecordedCall> enables = CallsOf(Call::EnableExtPDEV);
    EXPECT_NE(enables[0].workBuffer, nullptr);
    EXPECT_NE(enables[1].workBuffer, nullptr);
}

TEST_F(PipelineTest, AResetBetweenPagesCarriesTheRunningJob) {
    auto device = Enable();
    ASSERT_TRUE(device);
    auto enableSurface = driver_->Entry<PFN_DrvEnableSurface>(INDEX_DrvEnableSurface);
    auto disableSurface = driver_->Entry<PFN_DrvDisableSurface>(INDEX_DrvDisableSurface);
    auto startDoc = driver_->Entry<PFN_DrvStartDoc>(INDEX_DrvStartDoc);
    auto startPage = driver_->Entry<PFN_DrvStartPage>(INDEX_DrvStartPage);
    auto startBanding = driver_->Entry<PFN_DrvStartBanding>(INDEX_DrvStartBanding);
    auto nextBand = driver_->Entry<PFN_DrvNextBand>(INDEX_DrvNextBand);
    auto sendPage = driver_->Entry<PFN_DrvSendPage>(INDEX_DrvSendPage);
    auto endDoc = driver_->Entry<PFN_DrvEndDoc>(INDEX_DrvEndDoc);
    auto printPage = [&](SURFOBJ* surface) {
        POINTL origin{};
        if (!startPage(surface) || !startBanding(surface, &origin)) return false;
        for (int guard = 0; guard < 100 && !(origin.x == -1 && origin.y == -1); ++guard)
            if (!nextBand(surface, &origin)) return false;
        return sendPage(surface) == TRUE;
    };

    std::u16string name = u"Carried";
    HSURF first = enableSurface(device->pdev());
    ASSERT_TRUE(first);
    SURFOBJ* surface = EngLockSurface(first);
    ASSERT_TRUE(startDoc(surface, name.data(), 7));
    ASSERT_TRUE(printPage(surface));
    const DeviceInstance& old = Instance(*device);
    const TextBuf text = old.textBuf;
    const CommandBinding binding = old.command;
    ASSERT_NE(binding.job, nullptr);
    EngUnlockSurface(surface);
    disableSurface(device->pdev());

    std::string error;
    ASSERT_TRUE(device->Reset(nullptr, &error)) << error;
    const DeviceInstance& fresh = Instance(*device);
    EXPECT_EQ(fresh.state & (kStateInDocument | kStateCreatedByReset),
              kStateInDocument | kStateCreatedByReset);
    EXPECT_EQ(fresh.pageNumber, 2);
    EXPECT_EQ(fresh.jobId, 7u);
    ASSERT_NE(fresh.jobName, nullptr);
    EXPECT_STREQ(fresh.jobName, "Carried");
    EXPECT_EQ(fresh.textBuf.items, text.items);
    EXPECT_EQ(fresh.textBuf.data, text.data);
    EXPECT_EQ(fresh.command.module, binding.module);
    EXPECT_EQ(fresh.command.job, binding.job);
    EXPECT_EQ(fresh.command.workBuffer, binding.workBuffer);

    HSURF second = enableSurface(device->pdev());
    ASSERT_TRUE(second);
    surface = EngLockSurface(second);
    // The engine starts the document again on the new device: nothing is
    // made afresh for a carried job.
    ASSERT_TRUE(startDoc(surface, name.data(), 7));
    EXPECT_EQ(fresh.pageNumber, 2);
    EXPECT_EQ(fresh.textBuf.items, text.items);
    ASSERT_TRUE(printPage(surface));
    EXPECT_EQ(fresh.state & kStateCreatedByReset, 0u);  // cleared by its first page
    EXPECT_EQ(fresh.pageNumber, 3);
    ASSERT_TRUE(endDoc(surface, 0));
    EngUnlockSurface(surface);
    disableSurface(device->pdev());

    // One job across both instances: enabled once, two pages, ended once.
    ASSERT_EQ(Sequence(), DocumentSequence({1, 1})) << Names(Sequence());
    for (const RecordedCall& call : Calls()) EXPECT_EQ(call.job, binding.job);
    const std::vector<RecordedCall> escapes = CallsOf(Call::ExtEscape);
    EXPECT_EQ(+GeometryOf(escapes[2]).pagesBegun, 2);
    EXPECT_EQ(fresh.command.module, nullptr);
}

TEST_F(PipelineTest, TheEnginesResetMovesTheDocumentToTheNewSurface) {
    auto device = Enable();
    ASSERT_TRUE(device);
    std::string error;
    {
        auto job = StartJob(*device, u"Reset by the engine", 9);
        ASSERT_TRUE(job);
        ASSERT_TRUE(job->PrintPage(host::BandPainter{}, &error)) << error;
        const void* running = Instance(*device).command.job;
        std::size_t surfaces = host::LiveSurfaceCount();
        ASSERT_TRUE(job->Reset(nullptr, &error)) << error;
        EXPECT_EQ(host::LiveSurfaceCount(), surfaces);  // the old band surface went
        EXPECT_EQ(Instance(*device).command.job, running);
        ASSERT_TRUE(job->PrintPage(host::BandPainter{}, &error)) << error;
        EXPECT_EQ(Instance(*device).pageNumber, 3);
        ASSERT_TRUE(job->End(&error)) << error;
    }
    ASSERT_EQ(Sequence(), DocumentSequence({1, 1})) << Names(Sequence());
    EXPECT_EQ(LiveJobs(), 0);
}

// A failed page or band call ends the library's document at once.
class FailedCalls : public PipelineTest, public ::testing::WithParamInterface<Call> {};

TEST_P(FailedCalls, EndTheLibrarysDocumentAndTheJob) {
    const Call failing = GetParam();
    UseSettings(/*wholePage=*/false);
    const Devmode mode = WithDepth(DefaultDevmode(), 24);  // two bands a page
    auto device = Enable(&mode);
    ASSERT_TRUE(device);
    DeviceInstance& instance = Instance(*device);
    auto job = StartJob(*device);
    ASSERT_TRUE(job);
    std::string error;
    ASSERT_TRUE(job->PrintPage(host::BandPainter{}, &error)) << error;
    FailAt(failing, failing == Call::SendBand ? 2 : 1);
    EXPECT_FALSE(job->PrintPage(host::BandPainter{}, &error));

    std::vector<Call> expected = DocumentSequence({2});
    expected.resize(expected.size() - 2);  // the first page, without the document's end
    expected.push_back(Call::ExtEscape);
    expected.push_back(Call::StartPage);
    if (failing != Call::StartPage)
        expected.insert(expected.end(), {Call::SendBand, Call::SendBand});
    if (failing == Call::EndPage) expected.push_back(Call::EndPage);
    expected.push_back(Call::EndDoc);
    expected.push_back(Call::DisableExtPDEV);
    ASSERT_EQ(Sequence(), expected) << Names(Sequence());
    EXPECT_EQ(Calls()[expected.size() - 3].result, 0);
    EXPECT_EQ(LiveJobs(), 0);
    EXPECT_EQ(instance.command.module, nullptr);
    EXPECT_NE(instance.state & kStateJobFailed, 0u);

    // The failure sticks: the next page is refused, and the end of the
    // document finds nothing to end.
    EXPECT_FALSE(job->PrintPage(host::BandPainter{}, &error));
    EXPECT_NE(error.find("start page"), std::string::npos) << error;
    EXPECT_TRUE(job->End(&error)) << error;
    EXPECT_EQ(Sequence(), expected) << Names(Sequence());
}

INSTANTIATE_TEST_SUITE_P(PageAndBandCalls, FailedCalls,
                         ::testing::Values(Call::StartPage, Call::SendBand, Call::EndPage),
                         [](const ::testing::TestParamInfo<Call>& info) {
                             return std::string(recorder::CallName(info.param));
                         });

TEST_F(PipelineTest, AFailedStartOfTheLibrarysDocumentIsEndedByTheEndOfTheDocument) {
    auto device = Enable();
    ASSERT_TRUE(device);
    DeviceInstance& instance = Instance(*device);
    auto job = StartJob(*device);
    ASSERT_TRUE(job);
    FailAt(Call::StartDoc, 1);
    std::string error;
    EXPECT_FALSE(job->PrintPage(host::BandPainter{}, &error));
    EXPECT_NE(error.find("band page 1"), std::string::npos) << error;
    EXPECT_NE(instance.state & kStateJobFailed, 0u);
    EXPECT_NE(instance.command.module, nullptr);  // left bound until the document ends
    EXPECT_EQ(Sequence(),
              (std::vector<Call>{Call::EnableExtPDEV, Call::ExtEscape, Call::StartDoc}));
    EXPECT_TRUE(job->End(&error)) << error;
    EXPECT_EQ(Sequence(), (std::vector<Call>{Call::EnableExtPDEV, Call::ExtEscape, Call::StartDoc,
                                             Call::EndDoc, Call::DisableExtPDEV}));
    EXPECT_EQ(instance.command.module, nullptr);
}

TEST_F(PipelineTest, ALibraryThatGivesNoJobIsNeverCalledAgain) {
    auto device = Enable();
    ASSERT_TRUE(device);
    auto job = StartJob(*device);
    ASSERT_TRUE(job);
    FailAt(Call::EnableExtPDEV, 1);
    std::string error;
    EXPECT_FALSE(job->PrintPage(host::BandPainter{}, &error));
    EXPECT_TRUE(job->End(&error)) << error;
    // No job handle: no escape, no document, nothing to end.
    EXPECT_EQ(Sequence(), std::vector<Call>{Call::EnableExtPDEV});
    EXPECT_EQ(Instance(*device).command.module, nullptr);
}

// A command library without CmndExtEscape.
class IncompleteLibrary : public PipelineTest {
protected:
    const char* RecorderFile() const override { return "qlpr_command_recorder_no_escape.so"; }
    bool HoldRecorder() const override { return false; }
};

TEST_F(IncompleteLibrary, IsUnloadedAndTheDocumentFailsAtItsFirstBand) {
    auto device = Enable();
    ASSERT_TRUE(device);
    DeviceInstance& instance = Instance(*device);
    auto job = StartJob(*device);
    ASSERT_TRUE(job);
    std::string error;
    EXPECT_FALSE(job->PrintPage(host::BandPainter{}, &error));
    EXPECT_NE(error.find("band page 1"), std::string::npos) << error;
    EXPECT_EQ(dlopen(RecorderPath().c_str(), RTLD_NOW | RTLD_NOLOAD), nullptr)
        << "the library stayed loaded";
    const CommandBinding zero{};
    EXPECT_EQ(std::memcmp(&instance.command, &zero, sizeof zero), 0);
    EXPECT_NE(instance.state & kStateJobFailed, 0u);
    EXPECT_FALSE(job->PrintPage(host::BandPainter{}, &error));
    EXPECT_NE(error.find("start page"), std::string::npos) << error;
}

TEST_F(PipelineTest, EntriesRefuseAMissingSurfaceOrAForeignInstance) {
    DeviceInstance bogus{};
    bogus.signature = kInstanceSignature;  // one copy is not enough
    SURFOBJ foreign{};
    foreign.dhpdev = reinterpret_cast<DHPDEV>(&bogus);
    POINTL origin{};
    std::u16string name = u"x";
    for (SURFOBJ* surface : {static_cast<SURFOBJ*>(nullptr), &foreign}) {
        SetLastError(0);
        EXPECT_FALSE(driver_->Entry<PFN_DrvStartDoc>(INDEX_DrvStartDoc)(surface, name.data(), 1));
        EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
        SetLastError(0);
        EXPECT_FALSE(driver_->Entry<PFN_DrvStartPage>(INDEX_DrvStartPage)(surface));
        EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
        SetLastError(0);
        EXPECT_FALSE(driver_->Entry<PFN_DrvStartBanding>(INDEX_DrvStartBanding)(surface, &origin));
        EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
        SetLastError(0);
        EXPECT_FALSE(driver_->Entry<PFN_DrvNextBand>(INDEX_DrvNextBand)(surface, &origin));
        EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
        SetLastError(0);
        EXPECT_FALSE(driver_->Entry<PFN_DrvSendPage>(INDEX_DrvSendPage)(surface));
        EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
        SetLastError(0);
        EXPECT_FALSE(driver_->Entry<PFN_DrvEndDoc>(INDEX_DrvEndDoc)(surface, 0));
        EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
        SetLastError(0);
        DWORD query = 8;
        EXPECT_EQ(driver_->Entry<PFN_DrvEscape>(INDEX_DrvEscape)(surface, 8, 4, &query, 0, nullptr),
                  0u);
        EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    }
    SetLastError(0);
    EXPECT_FALSE(driver_->Entry<PFN_DrvEnableSurface>(INDEX_DrvEnableSurface)(
        reinterpret_cast<DHPDEV>(&bogus)));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_TRUE(Calls().empty());
}

}  // namespace
}  // namespace pipetest
