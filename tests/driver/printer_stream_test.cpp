// Jobs through the driver and the real command library: the printer stream
// of one-bit and eight-bit pages, pages of several bands, and the page order
// of copies, collation and reverse order.

#include "pipeline_support.h"

namespace pipetest {
namespace {

using namespace std::string_literals;

class PrinterStream : public PipelineTest {
protected:
    const char* RecorderFile() const override { return "QLPRCMND.DLL"; }
    bool HoldRecorder() const override { return false; }

    // A page with a black block `rows` high across the first 64 dots, from
    // page row `top`, in the band's format.
    static host::Page BlockPage(LONG top, LONG rows, ULONG format) {
        host::PlacedBitmap block{};
        block.position = {0, top};
        block.size = {64, rows};
        block.format = format;
        block.stride = format == BMF_1BPP ? 8 : 64;
        block.bits.assign(static_cast<std::size_t>(block.stride) * rows, 0x00);
        host::Page page;
        page.bitmaps.push_back(block);
        return page;
    }

    std::string Print(const Devmode& mode, const std::vector<host::Page>& pages) {
        auto device = Enable(&mode);
        if (!device) return {};
        {
            auto job = StartJob(*device);
            if (!job) return {};
            std::string error;
            for (const host::Page& page : pages) EXPECT_TRUE(job->PrintPage(page, &error)) << error;
            EXPECT_TRUE(job->End(&error)) << error;
        }
        return ReadFile(OutputPath());
    }

    // The heights of the raster blocks of the stream, in order.
    static std::vector<int> BlockHeights(const std::string& stream) {
        std::vector<int> heights;
        for (std::size_t at = stream.find("\x1B\x2C"s); at != std::string::npos;
             at = stream.find("\x1B\x2C"s, at + 1))
            if (at + 4 < stream.size() && stream[at + 2] == 0) heights.push_back(stream[at + 3]);
        return heights;
    }
};

TEST_F(PrinterStream, AOneBitPageSendsItsBlockAsRasterBetweenTheControlGroups) {
    Devmode mode = DefaultDevmode();
    mode.priv.blankSkipping = 0;
    const std::string stream = Print(mode, {BlockPage(10, 4, BMF_1BPP)});
    const std::string line = std::string(8, '\xFF') + std::string(64, '\x00');
    const std::string raster = "\x1B\x4A\x0A\x1B\x2C\x00\x04\x00"s + line + line + line + line;
    const std::size_t at = stream.find(raster);
    ASSERT_NE(at, std::string::npos);
    EXPECT_EQ(stream.substr(0, 2), "\x1B\x40"s);  // the printer is initialised first
    EXPECT_EQ(stream.substr(stream.size() - 2), "\x1B\x40"s);
}

// An eight-bit page of four bands: a block across the first band edge runs
// on as one raster run, in blocks of ten.
TEST_F(PrinterStream, ABlockAcrossABandEdgePrintsAsOneRun) {
    UseSettings(/*wholePage=*/false);
    Devmode mode = LongPaper(WithDepth(DefaultDevmode(), 8), 32760);
    mode.priv.blankSkipping = 0;
    const std::string stream = Print(mode, {BlockPage(7280 - 5, 25, BMF_8BPP)});
    EXPECT_EQ(BlockHeights(stream), (std::vector<int>{10, 10, 5}));
    EXPECT_NE(stream.find("\x1B\x4A\xFF"s), std::string::npos);
}

TEST_F(PrinterStream, CopiesCollationAndReverseOrderGiveThePageSequence) {
    const std::vector<host::Page> pages = {BlockPage(10, 3, BMF_1BPP), BlockPage(10, 5, BMF_1BPP)};
    const struct {
        SHORT copies;
        bool collate;
        bool reverse;
        std::vector<int> expected;
    } cases[] = {
        {1, false, false, {3, 5}},
        {2, true, false, {3, 5, 3, 5}},
        {2, false, false, {3, 3, 5, 5}},
        {1, false, true, {5, 3}},
        {2, true, true, {5, 3, 5, 3}},
    };
    for (const auto& c : cases) {
        Devmode mode = DefaultDevmode();
        mode.priv.blankSkipping = 0;  // placed bitmaps add nothing to the drawn area
        mode.pub.dmFields |= DM_COPIES | DM_COLLATE;
        mode.pub.dmCopies = c.copies;
        mode.pub.dmCollate = c.collate ? 1 : 0;
        if (c.reverse) mode.priv.layoutFlags |= kLayoutReverseOrder;
        EXPECT_EQ(BlockHeights(Print(mode, pages)), c.expected)
            << c.copies << (c.collate ? " collated" : "") << (c.reverse ? " reversed" : "");
    }
}

}  // namespace
}  // namespace pipetest
