// qlpr print, run as a user runs it.

#include <gtest/gtest.h>
#include <malloc.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "jpeg_files.h"
#include "platform/spooler.h"
#include "qlpr_run.h"
#include "stream_nodes.h"
#include "tools/image_files.h"
#include "tools/print_pages.h"
#include "tools/printer_setup.h"

namespace {

namespace fs = std::filesystem;

using PrintRun = testsupport::QlprRun;
using testsupport::ReadAll;

class QlprPrint : public ::testing::Test {
  protected:
    void SetUp() override {
        fs::create_directories(dir());
        // A 16 x 4 one-bit page: two bars and a frame row.
        Write("page.pbm",
              "P1 16 4\n1111000011110000\n0000111100001111\n"
              "1111111111111111\n1000000000000001\n");
    }
    fs::path dir() const { return root_.path() / "work"; }
    fs::path Write(const std::string& name, const std::string& bytes) {
        fs::path path = dir() / name;
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }
    PrintRun Qlpr(const std::string& arguments) {
        return testsupport::RunQlpr("print " + arguments, root_.path() / "stderr.txt", dir());
    }
    // The names in the work folder other than the inputs the test wrote.
    std::vector<std::string> Leftovers(const std::vector<std::string>& inputs) const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir())) {
            const std::string name = entry.path().filename().string();
            if (std::find(inputs.begin(), inputs.end(), name) == inputs.end())
                names.push_back(name);
        }
        return names;
    }
    // A failed run: exit 1, one "qlpr: " line naming `what`, no output left.
    void ExpectFailure(const std::string& arguments, const std::string& what,
                       const std::vector<std::string>& inputs) {
        const PrintRun run = Qlpr(arguments + " -o out.prn");
        EXPECT_EQ(run.status, 1) << arguments;
        EXPECT_EQ(run.err.rfind("qlpr: ", 0), 0u) << run.err;
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
        EXPECT_NE(run.err.find(what), std::string::npos) << arguments << " gave: " << run.err;
        EXPECT_EQ(Leftovers(inputs), std::vector<std::string>{}) << arguments;
    }

    // A 16 x 8 grey JPEG: a black block, then a white one. Flat blocks
    // decode exactly, so it prints as the same any-map would.
    static std::string GreyBlocksJpeg() {
        std::vector<unsigned char> rows(16 * 8, 0);
        for (std::size_t y = 0; y < 8; ++y) std::fill_n(rows.begin() + y * 16 + 8, 8, 255);
        return testsupport::MakeJpeg({16, 8, 1, rows});
    }

    testsupport::ScopedStoreRoot root_;
};

TEST_F(QlprPrint, PrintsABitmapPageIntoTheOutputFile) {
    const PrintRun run = Qlpr("page.pbm -o out.prn");
    ASSERT_EQ(run.status, 0) << run.err;
    const std::string stream = ReadAll(dir() / "out.prn");
    ASSERT_FALSE(stream.empty());
    EXPECT_EQ(stream.substr(0, 2), "\x1b@");  // the printer is initialised first
    // The first row's dots reach the stream.
    EXPECT_NE(stream.find("\xf0\xf0"), std::string::npos);
    EXPECT_EQ(run.out, "");
    EXPECT_NE(run.err.find("printed 1 page, " + std::to_string(stream.size()) + " bytes"),
              std::string::npos)
        << run.err;
    EXPECT_EQ(Leftovers({"page.pbm"}), std::vector<std::string>{"out.prn"});
    struct stat info {};
    ASSERT_EQ(stat((dir() / "out.prn").c_str(), &info), 0);
    EXPECT_NE(info.st_mode & S_IRGRP, 0u) << "the job keeps the usual permissions";
    // The job was printed to its file: the printer's own output is unchanged.
    const auto setup = platform::ReadPrinterSetup(u"QLPR Receipt 80");
    ASSERT_TRUE(setup);
    EXPECT_EQ(fs::path(setup->output).filename(), "job-output.prn") << setup->output;
}

TEST_F(QlprPrint, ASecondJobReplacesTheOutputWhole) {
    ASSERT_EQ(Qlpr("page.pbm -o first.prn").status, 0);
    Write("out.prn", std::string(1 << 20, 'x'));  // longer than any job here
    const PrintRun again = Qlpr("page.pbm -o out.prn");
    ASSERT_EQ(again.status, 0) << again.err;
    EXPECT_EQ(ReadAll(dir() / "out.prn"), ReadAll(dir() / "first.prn"));
    EXPECT_EQ(Leftovers({"page.pbm", "first.prn"}), std::vector<std::string>{"out.prn"});
}

TEST_F(QlprPrint, WritesToStandardOutputOrTheDefaultPrintersFile) {
    const PrintRun piped = Qlpr("page.pbm -o -");
    ASSERT_EQ(piped.status, 0) << piped.err;
    ASSERT_EQ(Qlpr("page.pbm -o out.prn").status, 0);
    EXPECT_EQ(piped.out, ReadAll(dir() / "out.prn"));

    const PrintRun help = Qlpr("--help");
    ASSERT_EQ(help.status, 0);
    const std::size_t at = help.out.find("(default: ");
    ASSERT_NE(at, std::string::npos) << help.out;
    const fs::path fallback = help.out.substr(at + 10, help.out.find(')', at) - at - 10);
    ASSERT_EQ(Qlpr("page.pbm").status, 0);
    EXPECT_EQ(ReadAll(fallback), piped.out);
}

TEST_F(QlprPrint, EveryInputIsAPage) {
    Write("rule.json", R"({"items": [{"type": "rectangle", "x": 0, "y": 0, "width": 576,
                                      "height": 2}, {"type": "image", "file": "page.pbm", "y": 4}]})");
    const PrintRun one = Qlpr("page.pbm -o one.prn");
    const PrintRun three = Qlpr("page.pbm rule.json page.pbm --copies 1 -o three.prn");
    ASSERT_EQ(three.status, 0) << three.err;
    EXPECT_NE(three.err.find("printed 3 pages"), std::string::npos) << three.err;
    EXPECT_GT(ReadAll(dir() / "three.prn").size(), 2 * ReadAll(dir() / "one.prn").size());
}

TEST_F(QlprPrint, OptionsChangeTheJob) {
    ASSERT_EQ(Qlpr("page.pbm -o plain.prn").status, 0);
    const PrintRun fitted = Qlpr("page.pbm --fit -o fitted.prn");
    ASSERT_EQ(fitted.status, 0) << fitted.err;
    EXPECT_GT(ReadAll(dir() / "fitted.prn").size(), 10 * ReadAll(dir() / "plain.prn").size());
    const PrintRun copies = Qlpr("page.pbm --copies 2 --collate -o copies.prn");
    ASSERT_EQ(copies.status, 0) << copies.err;
    EXPECT_GT(ReadAll(dir() / "copies.prn").size(), ReadAll(dir() / "plain.prn").size());
}

TEST_F(QlprPrint, RefusesBadOptionsAndInputs) {
    Write("bad.png", std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR\0\0\0\x10", 20));
    Write("huge.pbm", "P4 60000 60000\n");
    Write("short.pgm", "P5 10 10 255\nabc");
    Write("bad.json", R"({"items": [{"type": "rectangle", "x": 0}]})");
    Write("text.txt", "hello");
    Write("noface.json",
          R"({"items": [{"type": "text", "x": 0, "y": 0, "text": "A", "font": "No Such Face"}]})");
    // A number beyond a double, even under a key no item has.
    Write("overflow.json", R"({"items": [{"type": "rectangle", "x": 0, "y": 0, "width": 1,
                                          "height": 1, "z": 1e400}]})");
    const std::string photo = GreyBlocksJpeg();
    Write("cut.jpg", photo.substr(0, photo.size() - 40));
    std::string huge = photo;
    const std::size_t frame = huge.find("\xff\xc0");  // height, then width, after 5 bytes
    ASSERT_NE(frame, std::string::npos);
    huge.replace(frame + 5, 4, "\xfd\xe8\xfd\xe8");  // 65000 x 65000
    Write("huge.jpg", huge);
    const std::vector<std::string> inputs = {"page.pbm",      "bad.png",    "huge.pbm", "short.pgm",
                                             "bad.json",      "text.txt",   "cut.jpg",  "huge.jpg",
                                             "overflow.json", "noface.json"};
    ExpectFailure("page.pbm --frobnicate", "unknown option --frobnicate", inputs);
    ExpectFailure("page.pbm --copies 0", "--copies", inputs);
    ExpectFailure("page.pbm --set nothing=1", "no device mode field nothing", inputs);
    ExpectFailure("page.pbm --paper 12345", "no paper 12345", inputs);
    ExpectFailure("page.pbm missing.png", "cannot read missing.png", inputs);
    ExpectFailure("page.pbm bad.png", "bad.png: bad PNG", inputs);
    ExpectFailure("huge.pbm", "too large", inputs);
    ExpectFailure("short.pgm", "ends early", inputs);
    ExpectFailure("bad.json", "bad.json: item 1", inputs);
    ExpectFailure("noface.json", "unknown font face \"No Such Face\"", inputs);
    ExpectFailure("text.txt", "text.txt: not a PNG, JPEG, BMP, PBM, PGM or PPM image", inputs);
    ExpectFailure("overflow.json", "overflow.json: not a valid page description", inputs);
    ExpectFailure("cut.jpg", "cut.jpg: bad JPEG", inputs);
    ExpectFailure("huge.jpg", "huge.jpg: the image is too large", inputs);
    ExpectFailure("- -", "standard input (-) can be read only once", inputs);
    ExpectFailure("page.pbm --data missing.ini", "no such data file", inputs);
    ExpectFailure("", "at least one", inputs);
}

TEST_F(QlprPrint, AnOutputThatCannotBeWrittenFailsCleanly) {
    fs::create_directories(dir() / "taken");
    const PrintRun intoFolder = Qlpr("page.pbm -o taken");
    EXPECT_EQ(intoFolder.status, 1);
    EXPECT_NE(intoFolder.err.find("cannot write taken"), std::string::npos) << intoFolder.err;
    EXPECT_TRUE(fs::is_empty(dir() / "taken"));
    EXPECT_EQ(Leftovers({"page.pbm", "taken"}), std::vector<std::string>{});

    const PrintRun nowhere = Qlpr("page.pbm -o no/such/folder/out.prn");
    EXPECT_EQ(nowhere.status, 1);
    EXPECT_NE(nowhere.err.find("cannot write no/such/folder/out.prn"), std::string::npos)
        << nowhere.err;

    // A failed job leaves an existing output as it was.
    Write("kept.prn", "old");
    Write("broken.pbm", "P1 2 2 1");
    EXPECT_EQ(Qlpr("page.pbm broken.pbm -o kept.prn").status, 1);
    EXPECT_EQ(ReadAll(dir() / "kept.prn"), "old");
}

// Copies are kept as page files in a private folder made for the job; when
// none can be made the job fails at its first page, naming the cause, and
// nothing is printed straight through without its copies.
TEST_F(QlprPrint, AJobWithoutAFolderForItsPageFilesFails) {
    const char* saved = std::getenv("TMPDIR");
    const std::string before = saved != nullptr ? saved : "";
    setenv("TMPDIR", (dir() / "no-such-folder").c_str(), 1);
    const PrintRun run = Qlpr("page.pbm --copies 2 -o out.prn");
    const PrintRun single = Qlpr("page.pbm -o single.prn");  // no page files needed
    if (saved != nullptr) {
        setenv("TMPDIR", before.c_str(), 1);
    } else {
        unsetenv("TMPDIR");
    }
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("of page 1 (error 3: a folder was not found)"), std::string::npos)
        << run.err;
    EXPECT_FALSE(fs::exists(dir() / "out.prn"));
    EXPECT_EQ(single.status, 0) << single.err;
}

TEST_F(QlprPrint, JpegFilesPrintAsTheirPixels) {
    Write("blocks.jpg", GreyBlocksJpeg());
    std::string pgm = "P5 16 8 255\n";
    for (int y = 0; y < 8; ++y) pgm += std::string(8, '\0') + std::string(8, '\xff');
    Write("blocks.pgm", pgm);
    const PrintRun jpeg = Qlpr("blocks.jpg -o jpeg.prn");
    ASSERT_EQ(jpeg.status, 0) << jpeg.err;
    ASSERT_EQ(Qlpr("blocks.pgm -o pgm.prn").status, 0);
    EXPECT_EQ(ReadAll(dir() / "jpeg.prn"), ReadAll(dir() / "pgm.prn"));
}

// "-" reads standard input: an image by its bytes, or a description (its
// first byte '{') whose files are found from the working folder.
TEST_F(QlprPrint, StandardInputIsAnImageOrADescription) {
    Write("page.json", R"({"items": [{"type": "image", "file": "page.pbm", "y": 3}]})");
    ASSERT_EQ(Qlpr("page.pbm -o file.prn").status, 0);
    ASSERT_EQ(Qlpr("page.json -o described.prn").status, 0);
    const PrintRun image = Qlpr("- -o image.prn < page.pbm");
    ASSERT_EQ(image.status, 0) << image.err;
    EXPECT_EQ(ReadAll(dir() / "image.prn"), ReadAll(dir() / "file.prn"));
    const PrintRun description = Qlpr("- -o description.prn < page.json");
    ASSERT_EQ(description.status, 0) << description.err;
    EXPECT_EQ(ReadAll(dir() / "description.prn"), ReadAll(dir() / "described.prn"));
    const PrintRun text = Qlpr("- -o text.prn < /dev/null");
    EXPECT_EQ(text.status, 1);
    EXPECT_NE(text.err.find("standard input: not a PNG"), std::string::npos) << text.err;
}

// Devices, FIFOs and sockets are written where they stand: the far end gets
// the whole job, and the node is still what it was.
TEST_F(QlprPrint, DevicesFifosAndSocketsAreWrittenInPlace) {
    ASSERT_EQ(Qlpr("page.pbm -o file.prn").status, 0);
    const std::string job = ReadAll(dir() / "file.prn");

    // The FIFO's reader comes only once qlpr says it waits for one.
    const fs::path fifo = dir() / "fifo";
    const fs::path err = root_.path() / "stderr.txt";
    fs::remove(err);
    auto reader = testsupport::StreamReceiver::Fifo(fifo, [&] {
        return ReadAll(err).find("waiting for a reader of fifo") != std::string::npos;
    });
    const PrintRun toFifo = Qlpr("page.pbm -o fifo");
    EXPECT_EQ(toFifo.status, 0) << toFifo.err;
    EXPECT_EQ(toFifo.err.rfind("qlpr: waiting for a reader of fifo\n", 0), 0u) << toFifo.err;
    EXPECT_EQ(reader.Received(), job);
    EXPECT_EQ(testsupport::NodeType(fifo), S_IFIFO);

    const fs::path socket = dir() / "socket";
    auto server = testsupport::StreamReceiver::Socket(socket);
    const PrintRun toSocket = Qlpr("page.pbm -o socket");
    EXPECT_EQ(toSocket.status, 0) << toSocket.err;
    EXPECT_EQ(server.Received(), job);
    EXPECT_EQ(testsupport::NodeType(socket), S_IFSOCK);

    testsupport::PseudoTerminal terminal;
    ASSERT_TRUE(terminal.ready());
    const PrintRun toTerminal = Qlpr("page.pbm -o " + terminal.path().string());
    EXPECT_EQ(toTerminal.status, 0) << toTerminal.err;
    EXPECT_EQ(terminal.Read(job.size()), job);
    EXPECT_EQ(testsupport::NodeType(terminal.path()), S_IFCHR);

    // A job that fails sends nothing, and leaves the FIFO in place.
    Write("broken.pbm", "P1 2 2 1");
    auto second = testsupport::StreamReceiver::Fifo(fifo);
    const PrintRun failed = Qlpr("broken.pbm -o fifo");
    EXPECT_EQ(failed.status, 1);
    // The error line, after the note of a wait when qlpr came before its reader.
    const std::string note = "qlpr: waiting for a reader of fifo\n";
    const std::string error = failed.err.substr(failed.err.rfind(note, 0) == 0 ? note.size() : 0);
    EXPECT_EQ(std::count(error.begin(), error.end(), '\n'), 1) << failed.err;
    EXPECT_NE(error.find("broken.pbm"), std::string::npos) << failed.err;
    EXPECT_EQ(second.Received(), "");
    EXPECT_EQ(testsupport::NodeType(fifo), S_IFIFO);
}

TEST_F(QlprPrint, ATallPageGetsAPaperLongEnough) {
    // 576 x 4000 dots of ink, taller than the 80 mm roll's page.
    Write("tall.pbm", "P4 576 4000\n" + std::string(72 * 4000, '\xff'));
    const PrintRun tall = Qlpr("tall.pbm -o tall.prn");
    ASSERT_EQ(tall.status, 0) << tall.err;
    // Every row is sent: at least the raster bytes themselves.
    EXPECT_GT(ReadAll(dir() / "tall.prn").size(), 72u * 4000);
    // A chosen paper is kept, and the page is cut to it.
    const PrintRun chosen = Qlpr("tall.pbm --paper 257 -o chosen.prn");
    ASSERT_EQ(chosen.status, 0) << chosen.err;
    EXPECT_LT(ReadAll(dir() / "chosen.prn").size(), 72u * 4000);
}

// A job loads the driver and its companion libraries and frees them at
// its end; the printer application prints job after job in one process, so
// a job must give back all the heap it took.
TEST(PrintPagesInProcess, RepeatedJobsKeepNoHeap) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the sanitizer's allocator does not report through mallinfo2";
#endif
    const testsupport::ScopedStoreRoot root;
    std::string error;
    const std::optional<fs::path> dataFile = qlpr::SetUpDefaultPrinter(std::nullopt, &error);
    ASSERT_TRUE(dataFile) << error;
    const std::optional<qlpr::DecodedImage> image =
        qlpr::LoadImageFile(testsupport::SourceDir() / "examples" / "ramp.png", &error);
    ASSERT_TRUE(image) << error;
    const fs::path output = root.path() / "job.prn";
    const auto printJob = [&] {
        std::vector<qlpr::PageContent> pages;
        pages.push_back(qlpr::ImagePage(*image, 0));
        int lineBytes = 0;
        return qlpr::PrintPages(qlpr::PrintOptions{}, std::move(pages), qlpr::kDefaultPrinterName,
                                *dataFile, output, &lineBytes, &error);
    };
    // The first jobs fill what lives as long as the program.
    for (int job = 0; job < 3; ++job) ASSERT_TRUE(printJob()) << error;
    const auto inUse = [] { return static_cast<long long>(mallinfo2().uordblks); };
    const long long before = inUse();
    for (int job = 0; job < 10; ++job) ASSERT_TRUE(printJob()) << error;
    // A library's runtime kept at each load would be 70 KB a job.
    EXPECT_LT(inUse() - before, 16 * 1024);
}

}  // namespace
