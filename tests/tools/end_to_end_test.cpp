// The whole print path as a user drives it: pictures written to files,
// printed with qlpr print through the engine stand-in, QLPRGI.DLL and
// QLPRCMND.DLL, and the printer byte stream read back with the stream
// decoder into the dots that land on the paper.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <span>
#include <string>
#include <vector>

#include "e2e_pages.h"
#include "test_support.h"
#include "tools/preview/paper_layout.h"

namespace {

namespace fs = std::filesystem;
using e2e::Direction;
using e2e::Picture;

// The embedded default printer: an 80 mm roll, 576 dots a line, whose
// default paper is 2618 dots long.
constexpr int kLineDots = 576;
constexpr int kPaperRows = 2618;
// Without whole-page bands the driver's 4 MiB band budget gives 24-bit
// bands of 2424 rows on this paper (or strips of 2424 columns) and 8-bit
// bands of 7280 rows; a one-bit page is always a single band.
constexpr int kColourBandRows = 2424;
constexpr int kGreyBandRows = 7280;

const char* DirectionOptions(Direction direction) {
    switch (direction) {
        case Direction::kTopToBottom:
            return "";
        case Direction::kBottomToTop:
            return " --rotation 180";
        case Direction::kLeftToRight:
            return " --orientation landscape";
        case Direction::kRightToLeft:
            return " --orientation landscape --rotation 270";
    }
    return "";
}

const char* DirectionName(Direction direction) {
    switch (direction) {
        case Direction::kTopToBottom:
            return "TopToBottom";
        case Direction::kBottomToTop:
            return "BottomToTop";
        case Direction::kLeftToRight:
            return "LeftToRight";
        case Direction::kRightToLeft:
            return "RightToLeft";
    }
    return "";
}

bool Landscape(Direction direction) {
    return direction == Direction::kLeftToRight || direction == Direction::kRightToLeft;
}

// The page the application draws on, before it is turned for printing.
Picture BlankPage(Direction direction, int channels, std::uint8_t fill) {
    return Landscape(direction) ? Picture(kPaperRows, kLineDots, channels, fill)
                                : Picture(kLineDots, kPaperRows, channels, fill);
}

struct SkipBlank {
    const char* option;
    bool top;
    bool bottom;
};
constexpr SkipBlank kSkipModes[] = {
    {"none", false, false}, {"top", true, false}, {"bottom", false, true}, {"both", true, true}};

// One plane of a printed page as a dot picture.
Picture PlaneOf(const qlpr::PrintedPage& page, int plane) {
    Picture dots(page.width, page.height);
    for (int y = 0; y < page.height; ++y)
        for (int x = 0; x < page.width; ++x) *dots.At(x, y) = page.Dot(plane, x, y) ? 1 : 0;
    return dots;
}

// Empty when the dots agree, else where and how much they differ.
std::string Difference(const Picture& expected, const Picture& printed) {
    if (expected.width != printed.width || expected.height != printed.height) {
        return "expected " + std::to_string(expected.width) + "x" +
               std::to_string(expected.height) + ", printed " + std::to_string(printed.width) +
               "x" + std::to_string(printed.height);
    }
    std::string first;
    long count = 0;
    for (int y = 0; y < expected.height; ++y)
        for (int x = 0; x < expected.width; ++x) {
            if (expected.Dot(x, y) == printed.Dot(x, y)) continue;
            if (count++ == 0)
                first = "(" + std::to_string(x) + ", " + std::to_string(y) + ") expected " +
                        (expected.Dot(x, y) ? "a dot" : "white");
        }
    if (count == 0) return "";
    return std::to_string(count) + " dots differ, first at " + first;
}

class EndToEnd : public ::testing::Test {
  protected:
    void SetUp() override { fs::create_directories(dir()); }
    fs::path dir() const { return root_.path() / "work"; }

    void WriteDots(const std::string& name, const Picture& picture) {
        e2e::WriteNetpbm(dir() / name, picture, true);
    }
    void WriteLevels(const std::string& name, const Picture& picture) {
        e2e::WriteNetpbm(dir() / name, picture, false);
    }
    void WriteText(const std::string& name, const std::string& text) {
        std::ofstream(dir() / name, std::ios::binary) << text;
    }

    // The default printer draws each page into one whole-page band when it
    // can; this copy of its data file leaves that flag out, so that pages go
    // through the band budget. The options that print on it.
    std::string BandedPrinter() {
        std::ifstream in(testsupport::SourceDir() / "examples" / "QLPR80.INI");
        std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
        const std::string wholePage = "\ndriver=1,10,";
        const std::size_t at = text.find(wholePage);
        EXPECT_NE(at, std::string::npos) << "the example printer's settings flags";
        if (at != std::string::npos) text.replace(at, wholePage.size(), "\ndriver=1,8,");
        WriteText("banded.ini", text);
        return " --data banded.ini";
    }

    // Runs qlpr with the arguments in the work folder; the exit status.
    int Qlpr(const std::string& arguments) {
        const std::string command = "cd '" + dir().string() + "' && '" +
                                    (testsupport::BinDir() / "qlpr").string() + "' " + arguments +
                                    " >'" + (root_.path() / "stdout.txt").string() + "' 2>'" +
                                    (root_.path() / "stderr.txt").string() + "'";
        const int status = std::system(command.c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    std::string Read(const fs::path& path) const {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    std::string Errors() const { return Read(root_.path() / "stderr.txt"); }

    // Prints the inputs with the options; every page ends in a cut so that
    // the paper splits into the printed pages. Empty on failure.
    std::vector<qlpr::PrintedPage> Print(const std::string& inputsAndOptions) {
        const std::string arguments = "print " + inputsAndOptions + " --cut-mask 4 -o job.prn";
        const int status = Qlpr(arguments);
        EXPECT_EQ(status, 0) << arguments << ": " << Errors();
        if (status != 0) return {};
        const std::string stream = Read(dir() / "job.prn");
        const auto bytes =
            std::span(reinterpret_cast<const unsigned char*>(stream.data()), stream.size());
        EXPECT_EQ(qlpr::DecodeStream(bytes, {}).unknownBytes, 0u) << arguments;
        return qlpr::PrintedPages(bytes, qlpr::PaperOptions{});
    }

    testsupport::ScopedStoreRoot root_;
};

// ---- Black and white pages come back dot for dot -------------------------

struct RoundTripCase {
    Direction direction;
    SkipBlank skip;
};

class RoundTrip : public EndToEnd, public ::testing::WithParamInterface<RoundTripCase> {};

// One job of three pages: a single random line, a 576 x 300 picture with
// blank rows at either end, and a 200 x 57 drawing at an odd place inside a
// page description. Each is checked in the direction the options choose.
TEST_P(RoundTrip, BlackAndWhitePagesPrintExactly) {
    const auto [direction, skip] = GetParam();
    const Picture line = e2e::RandomDots(kLineDots, 1, 11);
    const Picture block = e2e::RandomDots(kLineDots, 300, 12, 30, 5, 7);
    const Picture small = e2e::Structured(200, 57);
    WriteDots("line.pbm", line);
    WriteDots("block.pbm", block);
    WriteDots("small.pbm", small);
    WriteText("small.json",
              R"({"items": [{"type": "image", "file": "small.pbm", "x": 123, "y": 77}]})");

    const auto pages = Print(std::string("line.pbm block.pbm small.json --skip-blank ") +
                             skip.option + DirectionOptions(direction));
    ASSERT_EQ(pages.size(), 3u);

    const struct {
        const Picture* picture;
        int x, y;
    } placed[] = {{&line, 0, 0}, {&block, 0, 0}, {&small, 123, 77}};
    for (std::size_t i = 0; i < 3; ++i) {
        Picture page = BlankPage(direction, 1, 0);
        e2e::Place(&page, *placed[i].picture, placed[i].x, placed[i].y);
        const Picture expected =
            e2e::SkipBlank(e2e::ToPaper(page, direction), skip.top, skip.bottom);
        EXPECT_FALSE(pages[i].twoPlanes);
        EXPECT_EQ(Difference(expected, PlaneOf(pages[i], 1)), "") << "page " << i + 1;
    }
}

std::vector<RoundTripCase> AllRoundTrips() {
    std::vector<RoundTripCase> cases;
    for (Direction direction : {Direction::kTopToBottom, Direction::kBottomToTop,
                                Direction::kLeftToRight, Direction::kRightToLeft})
        for (const SkipBlank& skip : kSkipModes) cases.push_back({direction, skip});
    return cases;
}

INSTANTIATE_TEST_SUITE_P(EveryDirectionAndSkipMode, RoundTrip, ::testing::ValuesIn(AllRoundTrips()),
                         [](const auto& info) {
                             return std::string(DirectionName(info.param.direction)) + "_Skip" +
                                    info.param.skip.option;
                         });

// ---- Pages of several bands ----------------------------------------------

class SeveralBands : public EndToEnd, public ::testing::WithParamInterface<Direction> {};

// At 24 bits a page is two bands (or strips); black and white survive error
// diffusion and the fixed threshold unchanged. A picture straddles the
// border between the two bands, wherever the direction puts it.
TEST_P(SeveralBands, ColourBandsJoinWithoutSeams) {
    const Direction direction = GetParam();
    const Picture top = e2e::RandomDots(kLineDots, 300, 21, 40, 3, 0);
    const Picture seam = e2e::RandomDots(200, 57, 22, 50);
    // Where the second band begins in page coordinates: bands after the
    // first come below (or right of) it, or above (left of) it when the
    // page is printed from its far end.
    int seamX = 150, seamY = 350;
    switch (direction) {
        case Direction::kTopToBottom:
            seamY = kColourBandRows - 24;
            break;
        case Direction::kBottomToTop:
            seamY = kPaperRows - kColourBandRows - 24;
            break;
        case Direction::kLeftToRight:
            seamX = kColourBandRows - 24;
            break;
        case Direction::kRightToLeft:
            seamX = kPaperRows - kColourBandRows - 24;
            break;
    }
    WriteDots("top.pbm", top);
    WriteDots("seam.pbm", seam);
    WriteText("page.json", R"({"items": [{"type": "image", "file": "top.pbm"},
        {"type": "image", "file": "seam.pbm", "x": )" +
                               std::to_string(seamX) + R"(, "y": )" + std::to_string(seamY) +
                               "}]}");
    Picture page = BlankPage(direction, 1, 0);
    e2e::Place(&page, top, 0, 0);
    e2e::Place(&page, seam, seamX, seamY);
    const Picture paper = e2e::ToPaper(page, direction);

    const std::string banded = BandedPrinter();
    for (const SkipBlank& skip : {kSkipModes[0], kSkipModes[3]}) {
        for (const char* method : {"--dither 5", "--colour --dither 260"}) {
            SCOPED_TRACE(std::string(skip.option) + " " + method);
            const auto pages = Print("page.json" + banded + " --bits 24 " + method +
                                     " --skip-blank " + skip.option + DirectionOptions(direction));
            ASSERT_EQ(pages.size(), 1u);
            const Picture expected = e2e::SkipBlank(paper, skip.top, skip.bottom);
            EXPECT_EQ(Difference(expected, PlaneOf(pages[0], 1)), "");
            // Two-colour printing: black is dark in both planes.
            const bool colour = std::string(method).find("--colour") != std::string::npos;
            EXPECT_EQ(pages[0].twoPlanes, colour);
            if (colour) {
                EXPECT_EQ(Difference(expected, PlaneOf(pages[0], 2)), "");
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(EveryDirection, SeveralBands,
                         ::testing::Values(Direction::kTopToBottom, Direction::kBottomToTop,
                                           Direction::kLeftToRight, Direction::kRightToLeft),
                         [](const auto& info) { return DirectionName(info.param); });

// A page longer than one 8-bit band, with a blank stretch across the band
// border that must come out as feed, not be lost or doubled.
TEST_F(EndToEnd, LongGreyPageKeepsItsRowsAcrossBands) {
    Picture picture = e2e::RandomDots(kLineDots, kGreyBandRows + 300, 31, 5, 4, 6);
    for (int y = kGreyBandRows - 20; y < kGreyBandRows + 20; ++y)
        std::fill_n(picture.At(0, y), kLineDots, 0);
    WriteDots("long.pbm", picture);
    for (const SkipBlank& skip : {kSkipModes[2], kSkipModes[3]}) {
        SCOPED_TRACE(skip.option);
        const auto pages = Print("long.pbm" + BandedPrinter() +
                                 " --bits 8 --dither 260 --skip-blank " + skip.option);
        ASSERT_EQ(pages.size(), 1u);
        EXPECT_EQ(Difference(e2e::SkipBlank(picture, skip.top, skip.bottom), PlaneOf(pages[0], 1)),
                  "");
    }
}

// With the top skipped, a first band with nothing on it is left out whole,
// and the page begins with the first dots of the next band.
TEST_F(EndToEnd, BlankFirstBandIsLeftOutAtTheTop) {
    const Picture picture = e2e::RandomDots(kLineDots, 50, 35, 20, 2, 2);
    WriteDots("late.pbm", picture);
    WriteText("late.json", R"({"items": [{"type": "image", "file": "late.pbm", "y": )" +
                               std::to_string(kColourBandRows + 70) + "}]}");
    Picture page = BlankPage(Direction::kTopToBottom, 1, 0);
    e2e::Place(&page, picture, 0, kColourBandRows + 70);
    for (const SkipBlank& skip : {kSkipModes[1], kSkipModes[3]}) {
        SCOPED_TRACE(skip.option);
        const auto pages = Print("late.json" + BandedPrinter() +
                                 " --bits 24 --dither 5 --skip-blank " + skip.option);
        ASSERT_EQ(pages.size(), 1u);
        EXPECT_EQ(Difference(e2e::SkipBlank(page, skip.top, skip.bottom), PlaneOf(pages[0], 1)),
                  "");
    }
}

// A shift of 5 mm (40 dots) moves the whole page right and down on the
// paper, in one band or across two; the paper keeps its length, so the
// page's last rows fall off its end.
TEST_F(EndToEnd, ShiftedPageMovesAsAWhole) {
    constexpr int kShift = 40;
    const Picture top = e2e::RandomDots(300, 20, 36, 50);
    const Picture seam = e2e::RandomDots(200, 57, 37, 50);
    const Picture foot = e2e::RandomDots(kLineDots, 30, 38, 50);
    WriteDots("top.pbm", top);
    WriteDots("seam.pbm", seam);
    WriteDots("foot.pbm", foot);
    const int seamY = kColourBandRows - kShift - 30;
    const int footY = kPaperRows - 30;
    WriteText("page.json", R"({"items": [{"type": "image", "file": "top.pbm"},
        {"type": "image", "file": "seam.pbm", "x": 100, "y": )" +
                               std::to_string(seamY) +
                               R"(}, {"type": "image", "file": "foot.pbm", "y": )" +
                               std::to_string(footY) + "}]}");
    Picture paper(kLineDots, kPaperRows);
    e2e::Place(&paper, top, kShift, kShift);
    e2e::Place(&paper, seam, 100 + kShift, seamY + kShift);
    e2e::Place(&paper, foot, kShift, footY + kShift);
    for (const char* bits : {"--bits 1", "--bits 24 --dither 5"}) {
        SCOPED_TRACE(bits);
        const auto pages = Print("page.json" + BandedPrinter() + " --set shiftX=5 --set shiftY=5 " +
                                 bits + " --skip-blank none");
        ASSERT_EQ(pages.size(), 1u);
        EXPECT_EQ(Difference(paper, PlaneOf(pages[0], 1)), "");
    }
}

// ---- The order of pages and copies ---------------------------------------

struct JobOrder {
    const char* name;
    const char* options;
    int copies;
    bool collate;
    bool reverse;
    int dualSide;
};

// One printed side: the page and whether the sheet ends with it (the page
// end cut comes only there).
struct Side {
    int page;
    bool endsSheet;
};

// The sides in the order a job of n pages comes out of the printer: pages
// go straight through unless copies, reverse order or two-sided pairing
// need them stored; stored pages are replayed as they complete (copies
// after copies, or one set at a time when collated), or all at the end of
// the document when reverse order holds them back. With pages taken in
// pairs a sheet ends after an even page and after the job's final page.
std::vector<Side> ExpectedSides(const JobOrder& job, int n) {
    const int copies = job.copies;
    const bool pairs = job.dualSide == 2;
    const bool filesNeeded = copies > 1 || pairs;
    const bool holdToEnd = job.reverse;
    const bool keepFiles = holdToEnd || (copies > 1 && job.collate);
    std::vector<Side> sides;
    // A page replayed as number `page`, counted as the k-th of the job.
    auto side = [&](int page, int k) { sides.push_back({page, !pairs || k % 2 == 0 || k == n}); };
    if (!filesNeeded && !holdToEnd) {
        for (int k = 1; k <= n; ++k) side(k, k);
        return sides;
    }
    if (!holdToEnd) {
        for (int p = 1; p <= n; ++p) {
            const int passes = job.collate ? 1 : copies;
            if (!job.collate && pairs) {
                if (p % 2 == 1 && p != n) continue;  // waits for its partner
                for (int pass = 0; pass < passes; ++pass) {
                    if (p % 2 == 0) side(p - 1, p - 1);
                    side(p, p);
                }
            } else {
                for (int pass = 0; pass < passes; ++pass) side(p, p);
            }
        }
    }
    if (!keepFiles) return sides;
    auto page = [&](int k) { return job.reverse ? n - k + 1 : k; };
    if (job.collate || !pairs) {
        const int passes = job.collate ? copies - (copies > 1 && !holdToEnd ? 1 : 0) : 1;
        const int times = job.collate ? 1 : copies;
        for (int pass = 0; pass < passes; ++pass)
            for (int k = 1; k <= n; ++k)
                for (int t = 0; t < times; ++t) side(page(k), k);
    } else {
        for (int i = 1; i <= n; ++i) {
            if (i % 2 == 1 && i != n) continue;
            for (int repeat = 0; repeat < copies; ++repeat)
                for (int k = i % 2 == 0 ? i - 1 : i; k <= i; ++k) side(page(k), k);
        }
    }
    return sides;
}

// The sheets as page numbers, e.g. "12", "3".
std::vector<std::string> Sheets(const std::vector<Side>& sides) {
    std::vector<std::string> sheets(1);
    for (const Side& side : sides) {
        sheets.back() += std::to_string(side.page);
        if (side.endsSheet) sheets.emplace_back();
    }
    sheets.pop_back();
    return sheets;
}

class PageOrder : public EndToEnd, public ::testing::WithParamInterface<JobOrder> {};

TEST_P(PageOrder, CopiesAndPagesComeInTheirOrder) {
    const JobOrder& job = GetParam();
    // Three pages told apart by their dots.
    std::vector<Picture> sources;
    for (int k = 1; k <= 3; ++k) {
        sources.push_back(e2e::RandomDots(64, 4 + k, 40 + k));
        WriteDots("page" + std::to_string(k) + ".pbm", sources.back());
    }
    // What a sheet of one or two sides looks like: the sides one after
    // the other, each without its blank rows.
    auto sheetPicture = [&](const std::string& pages) {
        int rows = 0;
        for (char page : pages) rows += sources[std::size_t(page - '1')].height;
        Picture sheet(kLineDots, rows);
        int y = 0;
        for (char page : pages) {
            e2e::Place(&sheet, sources[std::size_t(page - '1')], 0, y);
            y += sources[std::size_t(page - '1')].height;
        }
        return sheet;
    };
    std::vector<std::string> candidates;
    for (char a = '1'; a <= '3'; ++a) {
        candidates.push_back(std::string(1, a));
        for (char b = '1'; b <= '3'; ++b) candidates.push_back(std::string{a, b});
    }

    const auto pages =
        Print(std::string("page1.pbm page2.pbm page3.pbm --skip-blank both ") + job.options);
    std::vector<std::string> printed;
    for (const auto& page : pages) {
        std::string which = "?";  // a sheet that is none of the candidates
        for (const std::string& candidate : candidates)
            if (Difference(sheetPicture(candidate), PlaneOf(page, 1)).empty()) which = candidate;
        printed.push_back(which);
    }
    EXPECT_EQ(printed, Sheets(ExpectedSides(job, 3))) << job.options;
}

INSTANTIATE_TEST_SUITE_P(
    CopiesCollationReverseAndPairs, PageOrder,
    ::testing::Values(
        JobOrder{"OneCopy", "", 1, false, false, 1},
        JobOrder{"Copies", "--copies 3", 3, false, false, 1},
        JobOrder{"Collated", "--copies 3 --collate", 3, true, false, 1},
        JobOrder{"Reverse", "--reverse", 1, false, true, 1},
        JobOrder{"ReverseCopies", "--copies 2 --reverse", 2, false, true, 1},
        JobOrder{"ReverseCollated", "--copies 2 --collate --reverse", 2, true, true, 1},
        JobOrder{"Pairs", "--dualside 2", 1, false, false, 2},
        JobOrder{"PairsReverse", "--dualside 2 --reverse", 1, false, true, 2},
        JobOrder{"PairsCopies", "--dualside 2 --copies 2", 2, false, false, 2},
        JobOrder{"PairsCollated", "--dualside 2 --copies 2 --collate", 2, true, false, 2},
        JobOrder{"PairsReverseCopies", "--dualside 2 --copies 2 --reverse", 2, false, true, 2}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- Grey and colour pictures are halftoned by the job's method ----------

struct HalftoneCase {
    const char* name;
    const char* options;
    bool colourPicture;  // a PPM, else a PGM
    int method;
    bool twoPlanes;
    int bits;
    Direction direction;
    bool wholePage = false;  // levels on every dot of the page, across its bands
};

class Halftone : public EndToEnd, public ::testing::WithParamInterface<HalftoneCase> {};

// The picture is placed at the top left, one pixel to one dot, so the band
// holds its levels: an 8-bit band the grey (5R + 9G + 2B) / 16 of each
// pixel, a 24-bit band its red, green and blue.
TEST_P(Halftone, PlanesFollowTheMethod) {
    const HalftoneCase& c = GetParam();
    const Picture blank = BlankPage(c.direction, 1, 0);
    const Picture picture =
        e2e::RandomLevels(c.wholePage ? blank.width : kLineDots, c.wholePage ? blank.height : 40,
                          c.colourPicture ? 3 : 1, 51);
    const std::string input = c.colourPicture ? "levels.ppm" : "levels.pgm";
    WriteLevels(input, picture);
    const auto pages =
        Print(input + (c.wholePage ? BandedPrinter() : "") + " --skip-blank none --bits " +
              std::to_string(c.bits) + " " + c.options + DirectionOptions(c.direction));
    ASSERT_EQ(pages.size(), 1u);

    // The band's levels, as the page holds them at the band's depth.
    const int channels = c.bits == 24 ? 3 : 1;
    Picture levels(picture.width, picture.height, channels);
    for (int y = 0; y < picture.height; ++y)
        for (int x = 0; x < picture.width; ++x) {
            const std::uint8_t* from = picture.At(x, y);
            std::uint8_t* to = levels.At(x, y);
            if (channels == picture.channels)
                std::copy_n(from, channels, to);
            else if (channels == 1)
                *to = static_cast<std::uint8_t>(e2e::GreyOf(from, 3));
            else
                std::fill_n(to, 3, *from);
        }
    Picture page = BlankPage(c.direction, channels, 255);
    e2e::Place(&page, levels, 0, 0);
    const Picture paper = e2e::ToPaper(page, c.direction);
    const int bandRows = c.bits == 24 ? kColourBandRows : kGreyBandRows;

    EXPECT_EQ(pages[0].twoPlanes, c.twoPlanes);
    for (int plane = 1; plane <= (c.twoPlanes ? 2 : 1); ++plane) {
        const Picture expected =
            e2e::HalftonePaper(paper, c.method, c.twoPlanes ? plane : 0, bandRows);
        EXPECT_EQ(Difference(expected, PlaneOf(pages[0], plane)), "") << "plane " << plane;
    }
}

INSTANTIATE_TEST_SUITE_P(
    EveryMethod, Halftone,
    ::testing::Values(
        HalftoneCase{"GreyThreshold", "--dither 260", false, 260, false, 8,
                     Direction::kTopToBottom},
        HalftoneCase{"ColourThreshold", "--dither 260", true, 260, false, 8,
                     Direction::kTopToBottom},
        HalftoneCase{"GreyDiffusion", "--dither 5", false, 5, false, 24, Direction::kTopToBottom},
        HalftoneCase{"ColourDiffusion", "--dither 5", true, 5, false, 24, Direction::kTopToBottom},
        HalftoneCase{"ColourDiffusionLandscape", "--dither 5", true, 5, false, 24,
                     Direction::kLeftToRight},
        HalftoneCase{"GreyThresholdRightToLeft", "--dither 260", false, 260, false, 8,
                     Direction::kRightToLeft},
        HalftoneCase{"DiffusionRestartsEveryBand", "--dither 5", true, 5, false, 24,
                     Direction::kTopToBottom, true},
        HalftoneCase{"DiffusionRestartsEveryStrip", "--colour --dither 5", false, 5, true, 24,
                     Direction::kRightToLeft, true},
        HalftoneCase{"TwoColourDiffusion", "--colour --dither 5", true, 5, true, 24,
                     Direction::kTopToBottom},
        HalftoneCase{"TwoColour4x4", "--colour --dither 257", true, 257, true, 24,
                     Direction::kTopToBottom},
        HalftoneCase{"TwoColour8x8", "--colour --dither 258", true, 258, true, 24,
                     Direction::kTopToBottom},
        HalftoneCase{"TwoColour8x8Upside", "--colour --dither 258", false, 258, true, 24,
                     Direction::kBottomToTop},
        HalftoneCase{"TwoColourThreshold", "--colour --dither 260", true, 260, true, 24,
                     Direction::kTopToBottom}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- Grey and colour pictures on the one-bit band -------------------------

// A ramp of 18 grey steps across the line, 32 dots each, from black to
// white by 15 levels, as a grey and as a colour picture, printed at their
// own size at the defaults, with the 4x4 (257) and with the 8x8 (258)
// halftone: each step's share of dots follows its level, black all dots
// and white none; the default is the 4x4 cell, and the two cells print
// differently.
TEST_F(EndToEnd, GreyRampHalftonesByTheJobsCell) {
    constexpr int kSteps = 18, kStepDots = 32, kRows = 64;
    const auto level = [](int step) { return step * 15; };
    Picture grey(kLineDots, kRows, 1, 255), colour(kLineDots, kRows, 3, 255);
    for (int y = 0; y < kRows; ++y)
        for (int x = 0; x < kSteps * kStepDots; ++x) {
            const auto value = static_cast<std::uint8_t>(level(x / kStepDots));
            *grey.At(x, y) = value;
            std::fill_n(colour.At(x, y), 3, value);
        }
    WriteLevels("ramp.pgm", grey);
    WriteLevels("ramp.ppm", colour);

    std::string streams[3];
    const char* const methods[3] = {"", " --dither 257", " --dither 258"};
    for (int m = 0; m < 3; ++m) {
        const auto pages = Print(std::string("ramp.pgm ramp.ppm --skip-blank none") + methods[m]);
        streams[m] = Read(dir() / "job.prn");
        ASSERT_EQ(pages.size(), 2u) << methods[m];
        for (const auto& page : pages) {
            ASSERT_GE(page.height, kRows);
            double previous = 1.0;
            for (int step = 0; step < kSteps; ++step) {
                SCOPED_TRACE(testing::Message()
                             << "dither" << methods[m] << " level " << level(step));
                int dots = 0;
                for (int y = 0; y < kRows; ++y)
                    for (int x = step * kStepDots; x < (step + 1) * kStepDots; ++x)
                        dots += page.Dot(1, x, y) ? 1 : 0;
                const double coverage = dots / double(kStepDots * kRows);
                EXPECT_NEAR(coverage, 1.0 - level(step) / 255.0, 0.04);
                EXPECT_LE(coverage, previous);
                previous = coverage;
                const double exact = level(step) == 0 ? 1.0 : level(step) == 255 ? 0.0 : coverage;
                EXPECT_EQ(coverage, exact);
            }
        }
    }
    EXPECT_TRUE(streams[0] == streams[1]) << "the default is the 4x4 cell";
    EXPECT_FALSE(streams[1] == streams[2]) << "4x4 and 8x8 print alike";
}

// Two-colour printing: a row is blank only when both planes are. Light
// grey prints in the light plane alone, dark grey in both.
TEST_F(EndToEnd, TwoColourRowsAreBlankOnlyInBothPlanes) {
    Picture picture(kLineDots, 40, 1, 255);
    std::fill_n(picture.At(0, 10), kLineDots * 10, 150);
    std::fill_n(picture.At(0, 20), kLineDots * 10, 30);
    WriteLevels("bands.pgm", picture);
    const auto pages = Print("bands.pgm --bits 24 --colour --dither 260 --skip-blank both");
    ASSERT_EQ(pages.size(), 1u);
    Picture dark(kLineDots, 20), light(kLineDots, 20, 1, 1);
    std::fill_n(dark.At(0, 10), kLineDots * 10, 1);
    EXPECT_TRUE(pages[0].twoPlanes);
    EXPECT_EQ(Difference(dark, PlaneOf(pages[0], 1)), "");
    EXPECT_EQ(Difference(light, PlaneOf(pages[0], 2)), "");
}

// ---- The engine's drawing and the driver's own engine agree --------------

// Unscaled black-and-white images and solid rectangles are exact on both
// paths, so the printer streams are the same byte for byte, at every band
// depth.
TEST_F(EndToEnd, OwnRenderingPrintsTheSameStreamAsTheEnginesDrawing) {
    WriteDots("noise.pbm", e2e::RandomDots(300, 120, 23, 40, 3, 5));
    WriteDots("shapes.pbm", e2e::Structured(200, 64));
    WriteText("page.json", R"({"items": [
        {"type": "image", "file": "noise.pbm", "x": 17, "y": 9},
        {"type": "rectangle", "x": 0, "y": 140, "width": 576, "height": 3},
        {"type": "image", "file": "shapes.pbm", "x": 301, "y": 150},
        {"type": "rectangle", "x": 40, "y": 230, "width": 97, "height": 11,
         "colour": "#000000"}]})");
    for (const std::string depth : {"", " --bits 8 --dither 260", " --bits 24 --dither 260"}) {
        std::string streams[2];
        for (int own = 0; own < 2; ++own) {
            const std::string arguments =
                "print page.json" + depth + (own ? " --own-rendering" : "") + " -o job.prn";
            ASSERT_EQ(Qlpr(arguments), 0) << arguments << ": " << Errors();
            streams[own] = Read(dir() / "job.prn");
        }
        EXPECT_GT(streams[0].size(), 1000u) << depth;
        EXPECT_TRUE(streams[0] == streams[1]) << "own rendering differs:" << depth;
    }
}

// ---- Vector pages --------------------------------------------------------

// Axis-aligned boxes, one-dot lines (the same walk by both engines) and
// solid fills print the same by the engine's drawing and the driver's own
// engine, at every band depth, and the dots land where the description
// puts them (across band seams too).
TEST_F(EndToEnd, VectorPagesPrintTheSameByBothEngines) {
    WriteText("vector.json", R"({"items": [
        {"type": "rectangle", "x": 10, "y": 10, "width": 100, "height": 50, "outline": "#000000"},
        {"type": "rectangle", "x": 150, "y": 10, "width": 80, "height": 40, "outline": "#000000",
         "outlineWidth": 3},
        {"type": "line", "x1": 20, "y1": 100, "x2": 300, "y2": 100},
        {"type": "line", "x1": 400, "y1": 20, "x2": 400, "y2": 120},
        {"type": "line", "x1": 20, "y1": 110, "x2": 120, "y2": 160},
        {"type": "line", "x1": 20, "y1": 200, "x2": 556, "y2": 200, "dash": [8, 4]},
        {"type": "polyline", "points": [[20, 230], [120, 230], [120, 260]]},
        {"type": "polygon", "points": [[300, 130], [300, 180], [380, 180], [380, 130]]},
        {"type": "polygon", "points": [[400, 130], [500, 130], [500, 150], [440, 150],
                                       [440, 190], [400, 190]], "rule": "winding"},
        {"type": "rectangle", "x": 450, "y": 220, "width": 60, "height": 30,
         "colour": "#000000", "outline": "#000000", "outlineWidth": 2}]})");

    Picture page = BlankPage(Direction::kTopToBottom, 1, 0);
    auto fill = [&](int left, int top, int right, int bottom) {
        for (int y = top; y < bottom; ++y)
            for (int x = left; x < right; ++x) *page.At(x, y) = 1;
    };
    fill(10, 10, 110, 11), fill(10, 59, 110, 60), fill(10, 10, 11, 60), fill(109, 10, 110, 60);
    fill(150, 10, 230, 13), fill(150, 47, 230, 50), fill(150, 10, 153, 50), fill(227, 10, 230, 50);
    fill(20, 100, 300, 101);
    fill(400, 20, 401, 120);
    // The walk from (20, 110) to (120, 160), its end left out.
    for (int x = 20, y = 110, error = 50; x < 120; ++x) {
        *page.At(x, y) = 1;
        error -= 50;
        if (error < 0) ++y, error += 100;
    }
    for (int x = 20; x < 556; ++x) *page.At(x, 200) = (x - 20) % 12 < 8 ? 1 : 0;
    fill(20, 230, 120, 231), fill(120, 230, 121, 260);
    fill(300, 130, 380, 180);
    fill(400, 130, 500, 150), fill(400, 150, 440, 190);
    fill(450, 220, 510, 250);
    const Picture expected = e2e::ToPaper(page, Direction::kTopToBottom);
    for (const char* own : {"", " --own-rendering"}) {
        const auto pages = Print("vector.json --skip-blank none" + BandedPrinter() + own);
        ASSERT_EQ(pages.size(), 1u) << own;
        EXPECT_EQ(Difference(expected, PlaneOf(pages[0], 1)), "") << own;
    }

    for (const std::string depth : {"", " --bits 8 --dither 260", " --bits 24 --dither 260"}) {
        std::string streams[2];
        for (int own = 0; own < 2; ++own) {
            const std::string arguments =
                "print vector.json" + depth + (own ? " --own-rendering" : "") + " -o job.prn";
            ASSERT_EQ(Qlpr(arguments), 0) << arguments << ": " << Errors();
            streams[own] = Read(dir() / "job.prn");
        }
        EXPECT_TRUE(streams[0] == streams[1]) << "own rendering differs:" << depth;
    }
}

// ---- Text in printer fonts and printer-drawn barcodes ----------------------

class PrinterText : public EndToEnd {
  protected:
    // Prints a description of these items (and settings) with the options;
    // the stream's commands as "MNEMONIC args" or "TEXT bytes" lines, only
    // those that place, style or carry text and symbols.
    std::vector<std::string> Commands(const std::string& items, const std::string& options = "",
                                      const std::string& settings = "{}") {
        std::ofstream(dir() / "page.json")
            << R"({"settings": )" << settings << R"(, "items": [)" << items << "]}";
        const int status = Qlpr("print page.json -o job.prn " + options);
        EXPECT_EQ(status, 0) << Errors();
        stream_ = Read(dir() / "job.prn");
        const auto bytes =
            std::span(reinterpret_cast<const unsigned char*>(stream_.data()), stream_.size());
        const qlpr::DecodedStream decoded = qlpr::DecodeStream(bytes, {});
        EXPECT_EQ(decoded.unknownBytes, 0u);
        std::vector<std::string> lines;
        for (const qlpr::StreamCommand& command : decoded.commands) {
            const std::string& m = command.mnemonic;
            if (m != "ESC $" && m != "ESC M" && m != "GS !" && m != "ESC E" && m != "ESC -" &&
                m != "TEXT" && m != "GS k" && m != "GS h" && m != "GS H" && m != "ESC ,")
                continue;
            std::string line = m;
            if (m == "TEXT" || m == "GS k") {
                line += " " + std::string(command.data.begin(), command.data.end());
            } else if (m != "ESC ,") {
                for (int arg : command.args) line += " " + std::to_string(arg);
            }
            lines.push_back(line);
        }
        return lines;
    }
    std::string stream_;
};

TEST_F(PrinterText, DeviceFontTextBecomesPositionedStyledTextCommands) {
    const auto commands = Commands(R"(
        {"type": "text", "x": 0, "y": 0, "text": "Tea", "font": "Font A"},
        {"type": "text", "x": 300, "y": 0, "text": "Bun", "font": "Font A", "bold": true},
        {"type": "text", "x": 24, "y": 60, "text": "Jam", "font": "Font A", "bold": true},
        {"type": "text", "x": 50, "y": 120, "text": "Big", "font": "Font B Double"},
        {"type": "text", "x": 576, "y": 180, "text": "9.50", "font": "Font A", "align": "right"},
        {"type": "text", "x": 0, "y": 240, "text": "A  B", "font": "Font A", "underline": true})");
    // Position and size for every item; font, bold and underline when they
    // change (the font once at the start); the right-aligned price ends at
    // the right edge by the font's 13-dot advance.
    const std::vector<std::string> expected = {
        "ESC $ 0", "ESC M 0",   "GS ! 0",   "TEXT Tea", "ESC $ 300", "GS ! 0",
        "ESC E 1", "TEXT Bun",  "ESC $ 24", "GS ! 0",   "TEXT Jam",  "ESC $ 50",
        "ESC M 1", "GS ! 17",   "ESC E 0",  "TEXT Big", "ESC $ 524", "ESC M 0",
        "GS ! 0",  "TEXT 9.50", "ESC $ 0",  "GS ! 0",   "ESC - 1",   "TEXT A  B"};
    EXPECT_EQ(commands, expected);
}

TEST_F(PrinterText, StringsAndBarcodesAcrossABandEdgePrintOnce) {
    // 24-bit pages are cut into bands of 2424 rows: every item below
    // crosses that edge or starts right at it.
    std::string items;
    for (int y : {2400, 2410, 2423, 2424})
        items += R"({"type": "text", "x": 0, "y": )" + std::to_string(y) + R"(, "text": "row)" +
                 std::to_string(y) + R"(", "font": "Font A"},)";
    items +=
        R"({"type": "text", "x": 200, "y": 2380, "text": "4912345678904", "font": "Barcode3"})";
    const auto commands = Commands(items, "--bits 24");
    for (const char* text :
         {"TEXT row2400", "TEXT row2410", "TEXT row2423", "TEXT row2424", "GS k 4912345678904"})
        EXPECT_EQ(std::count(commands.begin(), commands.end(), text), 1) << text;
}

TEST_F(PrinterText, BarcodesTakeTheirSettingsOrBecomeImagesOnARotatedPage) {
    const std::string items =
        R"({"type": "text", "x": 100, "y": 10, "text": "4912345678904", "font": "Barcode3"})";
    const auto printed =
        Commands(items, "", R"({"barcode3.parameter2": 90, "barcode3.parameter3": 2})");
    const std::vector<std::string> expected = {"ESC $ 100", "GS h 90", "GS H 2",
                                               "GS k 4912345678904"};
    EXPECT_EQ(printed, expected);
    // Hexadecimal data: pairs of digits, an odd last one left out.
    const auto hex = Commands(
        R"({"type": "text", "x": 100, "y": 10, "text": "343931323334353637383930343", "font": "Barcode3"})",
        "", R"({"barcode3.flags": 1})");
    EXPECT_NE(std::find(hex.begin(), hex.end(), "GS k 4912345678904"), hex.end());

    // On a page turned by 180 degrees the barcode is drawn into the raster.
    const auto turned = Commands(items, "--rotation 180");
    EXPECT_EQ(std::count_if(turned.begin(), turned.end(),
                            [](const std::string& c) { return c.rfind("GS k", 0) == 0; }),
              0);
    EXPECT_NE(std::find(turned.begin(), turned.end(), "ESC ,"), turned.end());
}

TEST_F(PrinterText, UnknownFacesAndShiftJisText) {
    std::ofstream(dir() / "bad.json")
        << R"({"items": [{"type": "text", "x": 0, "y": 0, "text": "x", "font": "No Such Face 7"}]})";
    EXPECT_EQ(Qlpr("print bad.json -o bad.prn"), 1);
    EXPECT_NE(Errors().find("\"No Such Face 7\""), std::string::npos) << Errors();

    // A Shift-JIS printer font under code page 932: kanji as JIS X 0208
    // codes, half-width katakana and ASCII as their full-width forms.
    std::ifstream in(testsupport::SourceDir() / "examples" / "QLPR80.INI", std::ios::binary);
    std::string data((std::istreambuf_iterator<char>(in)), {});
    const std::string last = "Font B Double=14,0,8,2,2,2";
    ASSERT_NE(data.find(last), std::string::npos);
    data.insert(data.find(last) + last.size(), "\r\nFont A Kanji=1,128,9,1,1,1");
    std::ofstream(dir() / "kanji.ini", std::ios::binary) << data;
    setenv("QLPR_ANSI_CODE_PAGE", "932", 1);
    const auto commands =
        Commands(R"({"type": "text", "x": 0, "y": 0, "text": "日本ｱA", "font": "Font A Kanji"})",
                 "--data kanji.ini");
    unsetenv("QLPR_ANSI_CODE_PAGE");
    // 日 0x93FA -> 46 7C, 本 0x967B -> 4B 5C (a run of double-byte
    // characters), then ｱ -> 25 22, A -> 23 41 (a run of single bytes).
    const std::vector<std::string> text = {"TEXT F|K\\", "TEXT %\"#A"};
    std::vector<std::string> texts;
    std::copy_if(commands.begin(), commands.end(), std::back_inserter(texts),
                 [](const std::string& c) { return c.rfind("TEXT", 0) == 0; });
    EXPECT_EQ(texts, text);
}

// ---- The README's commands -----------------------------------------------

TEST_F(EndToEnd, MainJobAndReadmeReceiptRun) {
    // qlpr info on the embedded default printer, as the README shows it.
    ASSERT_EQ(Qlpr("info"), 0) << Errors();
    const std::string info = Read(root_.path() / "stdout.txt");
    EXPECT_NE(info.find("geometry.paperPrintableWidth: 576\n"), std::string::npos) << info;

    // scripts/main-job.sh: the example receipt with its preview.
    const std::string receipt = (testsupport::SourceDir() / "examples" / "receipt.json").string();
    ASSERT_EQ(Qlpr("print '" + receipt + "' --preview receipt.png -o receipt.prn"), 0) << Errors();
    const std::string stream = Read(dir() / "receipt.prn");
    const auto bytes =
        std::span(reinterpret_cast<const unsigned char*>(stream.data()), stream.size());
    EXPECT_EQ(qlpr::DecodeStream(bytes, {}).unknownBytes, 0u);
    const auto pages = qlpr::PrintedPages(bytes, qlpr::PaperOptions{});
    ASSERT_FALSE(pages.empty());
    EXPECT_NE(std::count(pages[0].plane1.begin(), pages[0].plane1.end(), 0),
              static_cast<long>(pages[0].plane1.size()))
        << "the receipt prints dots";
    EXPECT_EQ(Read(dir() / "receipt.png").substr(0, 8), "\x89PNG\r\n\x1a\n");
}

// The configuration tool's test page is what qlpr prints of its description.
TEST_F(EndToEnd, ShippedTestPageIsTheTestPageDescriptionPrinted) {
    const fs::path examples = testsupport::SourceDir() / "examples";
    ASSERT_EQ(Qlpr("print '" + (examples / "testpage.json").string() + "' -o TestPrint.prn"), 0)
        << Errors();
    EXPECT_TRUE(Read(dir() / "TestPrint.prn") == Read(examples / "TestPrint.prn"))
        << "examples/TestPrint.prn is out of date: print examples/testpage.json again";
}

}  // namespace
