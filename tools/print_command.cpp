// qlpr print: prints images and page descriptions through the driver, the
// way the operating system's print path does: the engine's document loop
// (host/) drives QLPRGI.DLL, which sends its bands and commands through
// QLPRCMND.DLL into the printer's job output.

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "driver/device_instance.h"
#include "driver/settings.h"
#include "host/driver_host.h"
#include "host/print_job.h"
#include "platform/heap.h"
#include "platform/module.h"
#include "platform/profile.h"
#include "platform/registry.h"
#include "platform/spooler.h"
#include "platform/wide.h"
#include "tools/commands.h"
#include "tools/file_io.h"
#include "tools/page_description.h"
#include "tools/preview_loader.h"
#include "tools/print_options.h"
#include "tools/print_pages.h"
#include "tools/printer_setup.h"

namespace qlpr {
namespace {

std::string PrintHelp() {
    return "usage: qlpr print [options] INPUT... [-o OUT]\n"
           "\n"
           "Prints every INPUT as one page through the printer driver, as an application\n"
           "printing to the default printer \"QLPR Receipt 80\" would. An INPUT is an image\n"
           "(PNG, JPEG, BMP, PBM, PGM or PPM, told by its contents), placed at the top left\n"
           "one pixel to one dot, or a page description (.json: images, text in printer\n"
           "fonts, barcodes or installed faces, rectangles, lines and polygons in dots,\n"
           "and device mode settings; see README.md). - reads standard input once: a page\n"
           "description when it starts with {, its files relative to the working folder,\n"
           "else an image. A page taller than the paper is printed on a user paper long\n"
           "enough for it, unless the paper is chosen by --paper or --set.\n"
           "\n"
           "  -o OUT                 the job's output: a file, replaced whole when the job\n"
           "                         succeeded; a device (/dev/usb/lp0, a terminal), FIFO\n"
           "                         or socket, written in place once the whole job was\n"
           "                         rendered (a FIFO waits for its reader); or - for\n"
           "                         standard output (default: " +
           DefaultOutputFile().string() +
           ")\n"
           "  --data FILE            the printer's INI data file (default: the embedded\n"
           "                         example of an 80 mm, 203 dpi model)\n"
           "  --fit                  scale images to the page width, keeping their aspect\n"
           "  --preview FILE.png     also write a picture of the printed paper\n"
           "  --copies N             copies, 1 to 999\n"
           "  --collate              print copies as whole sets\n"
           "  --reverse              print the pages last first\n"
           "  --dualside 1|2|3       one-sided (1) or the two two-sided modes\n"
           "  --orientation portrait|landscape\n"
           "  --rotation 0|90|180|270\n"
           "  --pages-per-sheet 1|2|4\n"
           "  --paper CODE           the paper by its code (qlpr info shows the current one)\n"
           "  --bits 1|8|24          bits per pixel of the rendered page (the driver settles\n"
           "                         them by the dither: 5 gives 24, 260 gives 8, others 1)\n"
           "  --dither 5|257|258|260 error diffusion, 4x4 or 8x8 halftone, grey levels\n"
           "  --colour               two-colour printing\n"
           "  --cut-mask N           events that cut the paper (1 document start, 2 page\n"
           "  --feed-mask N          start, 4 page end, 8 document end); either selects the\n"
           "                         custom paper source 700, whose feeds are the device\n"
           "                         mode's feedLength1..8\n"
           "  --drawer1-mask N, --drawer2-mask N\n"
           "                         events that kick a cash drawer\n"
           "  --skip-blank none|top|bottom|both\n"
           "                         leave out blank rows at the page's top or bottom\n"
           "  --bitmap-output        every page becomes a bitmap file in the job\n"
           "  --own-rendering        the driver draws the page with its own engine, which\n"
           "                         does not halftone: at one bit per pixel every pixel\n"
           "                         that is not white prints black\n"
           "  --set NAME=VALUE       any device mode field, by the name qlpr info shows\n"
           "  --help                 this text\n"
           "\n"
           "The printer lives under $QLPR_ROOT (default $XDG_STATE_HOME/qlpr or\n"
           "~/.local/state/qlpr). Progress and a summary go to standard error. Exit status\n"
           "0, or 1 with one line on standard error and no output file; a device or FIFO\n"
           "is sent nothing by a failed job, but bytes sent before its write failed\n"
           "cannot be taken back.\n";
}

using Clock = std::chrono::steady_clock;

// Phase times on standard error when QLPR_PRINT_TIMES is set, to see where
// a job's time goes.
class PhaseTimer {
  public:
    PhaseTimer() : enabled_(std::getenv("QLPR_PRINT_TIMES") != nullptr), last_(Clock::now()) {}
    void Mark(const char* phase) {
        if (!enabled_) return;
        const auto now = Clock::now();
        std::fprintf(stderr, "qlpr: %-10s %8.3f ms\n", phase,
                     std::chrono::duration<double, std::milli>(now - last_).count());
        last_ = now;
    }

  private:
    bool enabled_;
    Clock::time_point last_;
};

// The job is written to a file beside its destination (a regular file, or
// a name not yet taken) and renamed onto it only when the whole job
// succeeded; otherwise the file goes.
class TemporaryOutput {
  public:
    static std::optional<TemporaryOutput> Create(const std::filesystem::path& destination,
                                                 std::string* error) {
        std::filesystem::path folder = destination.parent_path();
        if (folder.empty()) folder = ".";
        std::string hidden = destination.filename().string();
        hidden.insert(hidden.begin(), '.');
        hidden.append(".XXXXXX");
        std::string pattern = (folder / hidden).string();
        const int fd = mkstemp(pattern.data());
        if (fd < 0) {
            *error = "cannot write " + destination.string() + ": " + std::strerror(errno);
            return std::nullopt;
        }
        // The finished job gets the permissions of any file the user creates.
        const mode_t mask = umask(0);
        umask(mask);
        fchmod(fd, 0666 & ~mask);
        close(fd);
        return TemporaryOutput(pattern);
    }
    TemporaryOutput(TemporaryOutput&& other) noexcept : path_(std::move(other.path_)) {
        other.path_.clear();
    }
    TemporaryOutput& operator=(TemporaryOutput&&) = delete;
    ~TemporaryOutput() {
        if (path_.empty()) return;
        std::error_code ignored;
        std::filesystem::remove(path_, ignored);
    }
    const std::filesystem::path& path() const { return path_; }
    // An earlier output is removed first: renaming over it makes ext4 write
    // the new job out at once (a few tenths of a millisecond), a care that a
    // printer stream does not need. The new one still appears whole.
    bool MoveTo(const std::filesystem::path& destination, std::string* error) {
        std::error_code failure;
        if (std::filesystem::is_regular_file(destination, failure))
            std::filesystem::remove(destination, failure);
        std::filesystem::rename(path_, destination, failure);
        if (failure) {
            *error = "cannot write " + destination.string() + ": " + failure.message();
            return false;
        }
        path_.clear();
        return true;
    }

  private:
    explicit TemporaryOutput(std::filesystem::path path) : path_(std::move(path)) {}
    std::filesystem::path path_;
};

void AnnounceWaitForReader(const char* path) {
    PrintError("qlpr: waiting for a reader of " + std::string(path) + "\n");
}

// An output written where it stands: standard output, or a device, FIFO
// or socket opened in place (never created, replaced or removed). It is
// opened before the job runs, so that a printer that is not there fails
// the job before anything is rendered, and it gets the finished job: a job
// that fails sends nothing. A write that fails midway has sent what it
// sent; a printer cannot be made to take bytes back.
class StreamOutput {
  public:
    static StreamOutput StandardOutput() {
        return StreamOutput(STDOUT_FILENO, false, "standard output");
    }
    static std::optional<StreamOutput> Open(const std::string& path, std::string* error) {
        const int fd = platform::OpenOutputInPlace(path, AnnounceWaitForReader);
        if (fd < 0) {
            *error = "cannot write " + path + ": " + std::strerror(errno);
            return std::nullopt;
        }
        // A reader that goes away fails the write with a message rather
        // than ending qlpr without one.
        std::signal(SIGPIPE, SIG_IGN);
        return StreamOutput(fd, true, path);
    }
    StreamOutput(StreamOutput&& other) noexcept
        : fd_(std::exchange(other.fd_, -1)), owned_(other.owned_), name_(std::move(other.name_)) {}
    StreamOutput& operator=(StreamOutput&& other) noexcept {
        std::swap(fd_, other.fd_);
        std::swap(owned_, other.owned_);
        std::swap(name_, other.name_);
        return *this;
    }
    ~StreamOutput() {
        if (owned_ && fd_ >= 0) close(fd_);
    }

    bool Send(const std::vector<BYTE>& job, std::string* error) {
        const std::size_t sent = WriteToDescriptor(fd_, job);
        if (sent < job.size()) {
            *error = "cannot write the job to " + name_ + ": " + std::strerror(errno) + " (" +
                     std::to_string(sent) + " of " + std::to_string(job.size()) +
                     " bytes were sent)";
            return false;
        }
        if (owned_ && close(std::exchange(fd_, -1)) != 0 && errno != EINTR) {
            *error = "cannot write the job to " + name_ + ": " + std::strerror(errno);
            return false;
        }
        return true;
    }

  private:
    StreamOutput(int fd, bool owned, std::string name)
        : fd_(fd), owned_(owned), name_(std::move(name)) {}
    int fd_;
    bool owned_;
    std::string name_;
};

bool WritePreview(const std::vector<BYTE>& stream, int lineBytes, const std::string& path,
                  std::string* error) {
    PreviewOptions preview;
    preview.lineBytes = std::clamp(lineBytes, 1, 4096);
    std::string why;
    const bool written = DrawPreview(stream, preview, path, &why);
    if (!written) *error = "cannot write the preview " + path + ": " + why;
    return written;
}

class Progress {
  public:
    explicit Progress(std::size_t pages)
        : pages_(pages), shown_(pages > 1 && isatty(STDERR_FILENO)) {}
    void Page(std::size_t page) {
        if (shown_) std::fprintf(stderr, "\rqlpr: page %zu of %zu", page, pages_);
    }
    void Done() {
        if (shown_) std::fprintf(stderr, "\r\033[K");
    }

  private:
    std::size_t pages_;
    bool shown_;
};

// Loads the inputs as pages and prints them into `output`.
bool RunJob(const PrintOptions& options, const std::filesystem::path& dataFile,
            const std::filesystem::path& output, PhaseTimer& timer, int* lineBytes,
            std::string* error) {
    std::vector<PageContent> contents;
    for (const std::string& input : options.inputs) {
        std::optional<PageContent> content = LoadPage(input, 0, error);
        if (!content) return false;
        contents.push_back(std::move(*content));
    }
    timer.Mark("load");
    Progress progress(contents.size());
    const bool printed = PrintPages(
        options, std::move(contents), kDefaultPrinterName, dataFile, output, lineBytes, error,
        [&timer](const char* phase) { timer.Mark(phase); },
        [&progress](std::size_t page) { progress.Page(page); });
    progress.Done();
    return printed;
}

std::string Summary(std::size_t pages, std::size_t bytes, Clock::time_point start) {
    char line[160];
    std::snprintf(line, sizeof line, "qlpr: printed %zu page%s, %zu bytes in %.3f s\n", pages,
                  pages == 1 ? "" : "s", bytes,
                  std::chrono::duration<double>(Clock::now() - start).count());
    return line;
}

}  // namespace

int PrintCommand(const std::vector<std::string>& args) {
    const auto start = Clock::now();
    PhaseTimer timer;
    std::string error;
    std::optional<PrintOptions> options = ParsePrintOptions(args, &error);
    if (!options) return Fail(error);
    if (options->help) {
        PrintOut(PrintHelp());
        return 0;
    }
    for (const std::string& input : options->inputs) {
        if (input != kStandardInput && !std::filesystem::is_regular_file(input))
            return Fail("cannot read " + input);
    }
    // About what a job's device instances, font tables, symbols and
    // encoder take from the heap.
    platform::PrefaultHeap(std::size_t{512} << 10);

    const bool toStandardOutput = options->output && *options->output == "-";
    const std::filesystem::path destination = options->output && !toStandardOutput
                                                  ? std::filesystem::path(*options->output)
                                                  : DefaultOutputFile();
    std::optional<std::filesystem::path> data;
    if (options->dataFile) data = std::filesystem::path(*options->dataFile);
    // The default output's folder is the printer's; a failure to make it
    // shows as the output that cannot be written.
    std::error_code ignored;
    std::filesystem::create_directories(DefaultOutputFile().parent_path(), ignored);
    std::optional<StreamOutput> stream;
    if (toStandardOutput) {
        stream = StreamOutput::StandardOutput();
    } else if (const OutputNode node = OutputNodeOf(destination); node == OutputNode::BlockDevice) {
        return Fail("cannot write " + destination.string() + ": a block device is not a printer");
    } else if (node == OutputNode::Stream) {
        stream = StreamOutput::Open(destination.string(), &error);
        if (!stream) return Fail(error);
    }
    // A job for a stream is rendered into a file of the printer's folder first.
    const std::filesystem::path jobFile = stream ? DefaultOutputFile() : destination;
    std::optional<TemporaryOutput> output = TemporaryOutput::Create(jobFile, &error);
    if (!output) return Fail(error);
    const std::optional<std::filesystem::path> dataFile = SetUpDefaultPrinter(data, &error);
    if (!dataFile) return Fail(error);
    timer.Mark("setup");

    int lineBytes = 0;
    if (!RunJob(*options, *dataFile, output->path(), timer, &lineBytes, &error)) return Fail(error);

    std::error_code failure;
    const std::uintmax_t bytes = std::filesystem::file_size(output->path(), failure);
    if (failure) return Fail("cannot read the job back from " + output->path().string());
    if (options->preview || stream) {
        std::optional<std::vector<BYTE>> job = ReadWholeFile(output->path());
        if (!job) return Fail("cannot read the job back from " + output->path().string());
        if (options->preview && !WritePreview(*job, lineBytes, *options->preview, &error))
            return Fail(error);
        if (stream && !stream->Send(*job, &error)) return Fail(error);
    }
    if (!stream && !output->MoveTo(destination, &error)) return Fail(error);
    timer.Mark("finish");
    PrintError(Summary(options->inputs.size(), static_cast<std::size_t>(bytes), start));
    return 0;
}

}  // namespace qlpr
