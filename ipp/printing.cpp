#include "ipp/printing.h"

#include <fcntl.h>
#include <malloc.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "host/winddi.h"
#include "ipp/job_options.h"
#include "ipp/job_order.h"
#include "ipp/model_data.h"
#include "ipp/printer_state.h"
#include "platform/wide.h"
#include "tools/file_io.h"
#include "tools/image_files.h"
#include "tools/page_description.h"
#include "tools/print_pages.h"
#include "tools/printer_setup.h"

namespace qlpr::ipp {
namespace {

std::filesystem::path& JobFolder() {
    static std::filesystem::path folder;
    return folder;
}

// The driver, its companions and the spooler stand-in serve one job at a
// time: jobs of different printers take turns for their rendering, and
// send their streams to their devices on their own.
std::mutex& RenderingLock() {
    static std::mutex lock;
    return lock;
}

// A job that printed before this start of it: ahead of its turn, in the
// turn of a newer job, or in an earlier start of the same job.
bool PrintedBefore(pappl_job_t* job, bool printed) {
    papplLogJob(job, PAPPL_LOGLEVEL_INFO, "the job printed before it was started: it prints once");
    return printed;
}

const ModelData* ModelOf(pappl_job_t* job) {
    pappl_pr_driver_data_t data;
    papplPrinterGetDriverData(papplJobGetPrinter(job), &data);
    return static_cast<const ModelData*>(data.extension);
}

// Ends the job as aborted: the error goes to the log and becomes the job's
// state message, with `reason` among its state reasons.
bool Fail(pappl_job_t* job, const std::string& error,
          pappl_jreason_t reason = PAPPL_JREASON_ABORTED_BY_SYSTEM) {
    papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "%s", error.c_str());
    papplJobSetMessage(job, "%s", error.c_str());
    papplJobSetReasons(job, static_cast<pappl_jreason_t>(PAPPL_JREASON_ABORTED_BY_SYSTEM | reason),
                       PAPPL_JREASON_NONE);
    return false;
}

bool FailDocument(pappl_job_t* job, const std::string& error) {
    return Fail(job, error, PAPPL_JREASON_DOCUMENT_FORMAT_ERROR);
}

// The printer did not take the job: it shows as offline until a job
// reaches it again.
bool FailDevice(pappl_job_t* job) {
    MarkOffline(papplJobGetPrinter(job));
    return Fail(job, "the printer does not take the job (its device cannot be written)");
}

bool Sent(pappl_job_t* job, pappl_device_t* device) {
    papplDeviceFlush(device);
    MarkOnline(papplJobGetPrinter(job));
    return true;
}

bool SendToDevice(pappl_job_t* job, pappl_device_t* device,
                  const std::vector<unsigned char>& bytes) {
    constexpr std::size_t kChunk = 65536;
    for (std::size_t at = 0; at < bytes.size(); at += kChunk) {
        const std::size_t count = std::min(kChunk, bytes.size() - at);
        if (papplDeviceWrite(device, bytes.data() + at, count) != static_cast<ssize_t>(count))
            return FailDevice(job);
    }
    return Sent(job, device);
}

// Prints the pages through qlpr print's path for the job's printer and
// sends the printer stream to the device.
bool PrintAndSend(pappl_job_t* job, pappl_device_t* device, const ModelData& model,
                  const pappl_pr_options_t& jobOptions, std::vector<PageContent> pages, bool fit) {
    std::string error;
    ipp_t* printerDefaults = papplPrinterGetDriverAttributes(papplJobGetPrinter(job));
    std::optional<PrintOptions> options =
        JobPrintOptions(model, jobOptions, printerDefaults, &error);
    ippDelete(printerDefaults);
    if (!options) return Fail(job, error);
    options->fit = fit;

    const int printerId = papplPrinterGetID(papplJobGetPrinter(job));
    const std::u16string printerName =
        platform::FromUtf8("ipp-printer-" + std::to_string(printerId));
    const std::filesystem::path output =
        JobFolder() /
        ("job-" + std::to_string(printerId) + "-" + std::to_string(papplJobGetID(job)) + ".prn");
    bool printed = false;
    {
        const std::lock_guard<std::mutex> hold(RenderingLock());
        int lineBytes = 0;
        printed = InstallPrinterWithDriver(printerName, model.dataFile, output, &error) &&
                  PrintPages(*options, std::move(pages), printerName, model.dataFile, output,
                             &lineBytes, &error);
    }
    std::optional<std::vector<unsigned char>> stream;
    if (printed) stream = ReadWholeFile(output);
    std::error_code ignored;
    std::filesystem::remove(output, ignored);
    if (!printed) return Fail(job, error);
    if (!stream) return Fail(job, "cannot read the job back from " + output.string());
    const bool sent = SendToDevice(job, device, *stream);
    stream.reset();
    // Every job runs on a thread of its own, whose allocator arena keeps
    // the page images' memory after the job: it goes back to the system.
    malloc_trim(0);
    return sent;
}

// A raster page as it comes in, cropped to the paper's printable columns
// and kept as 8-bit grey (0 black), the form of a grey image file.
struct RasterPage {
    DecodedImage image;
    unsigned sourceLeft = 0;  // the first printable column of the raster
    unsigned bitsPerPixel = 8;
    bool blackIsHigh = false;  // the raster counts ink (black), not light
    int xdpi = 0, ydpi = 0;
    unsigned lines = 0;  // lines expected from the client
    unsigned linesReceived = 0;
};

struct RasterJob {
    std::unique_ptr<JobTurn> turn;
    const ModelData* model = nullptr;
    int announcedPages = 0;  // the pages the document says it has, 0 unknown
    std::vector<PageContent> pages;
    RasterPage page;
};

RasterJob* RasterJobOf(pappl_job_t* job) {
    return static_cast<RasterJob*>(papplJobGetData(job));
}

std::vector<ULONG> GreyPalette() {
    std::vector<ULONG> palette(256);
    for (ULONG i = 0; i < 256; ++i) palette[i] = i << 16 | i << 8 | i;
    return palette;
}

// The rows of the page down to its last one with anything on it: a
// receipt is as long as what is printed on it, whatever the page length
// of the application that drew it.
LONG PrintedRows(const DecodedImage& image) {
    for (LONG row = image.height; row > 0; --row) {
        const BYTE* bytes = image.bits.data() + static_cast<std::size_t>(row - 1) * image.stride;
        if (std::any_of(bytes, bytes + image.width, [](BYTE grey) { return grey != 0xFF; }))
            return row;
    }
    return 0;
}

// The page, at the model's resolution: a raster drawn at another
// resolution is scaled to it. None when the scaled page would be larger
// than an image may be (a raster of a few dots per inch).
std::optional<PageContent> PageOf(RasterPage& page, const ModelData& model) {
    const Resolution& resolution = model.resolutions[model.defaultResolution];
    page.image.height = PrintedRows(page.image);
    page.image.bits.resize(static_cast<std::size_t>(page.image.height) * page.image.stride);
    if (page.image.height == 0) return PageContent{};
    if (page.xdpi == resolution.x && page.ydpi == resolution.y)
        return ImagePage(std::move(page.image), 0);
    const long long width =
        static_cast<long long>(page.image.width) * resolution.x / std::max(page.xdpi, 1);
    const long long height =
        static_cast<long long>(page.image.height) * resolution.y / std::max(page.ydpi, 1);
    if (width > kMaxImageSide || height > kMaxImageSide) return std::nullopt;
    PageContent content;
    const LONG right = std::max<LONG>(static_cast<LONG>(width), 1);
    const LONG bottom = std::max<LONG>(static_cast<LONG>(height), 1);
    content.bottom = bottom;
    content.page.items.push_back(PlaceImage(std::move(page.image), {0, 0, right, bottom}));
    return content;
}

// The pages gathered, printed when the job ends.
bool PrintRasterPages(pappl_job_t* job, const pappl_pr_options_t& options, pappl_device_t* device,
                      RasterJob& state) {
    // A document that names its page count and ends before the last page.
    const auto announced = static_cast<std::size_t>(std::max(state.announcedPages, 0));
    if (announced > state.pages.size())
        return FailDocument(job, "the raster document ends after " +
                                     std::to_string(state.pages.size()) + " of " +
                                     std::to_string(announced) + " pages");
    if (state.pages.empty()) return true;
    return PrintAndSend(job, device, *state.model, options, std::move(state.pages), false);
}

// A raw document's bytes to the device.
bool CopyRawDocument(pappl_job_t* job, pappl_device_t* device) {
    const char* file = papplJobGetFilename(job);
    const int fd = file ? open(file, O_RDONLY | O_CLOEXEC) : -1;
    if (fd < 0) return Fail(job, std::string("cannot read the document ") + (file ? file : ""));
    // Copied as it is read: a raw document may be of any size.
    std::vector<unsigned char> chunk(65536);
    bool sent = true;
    for (;;) {
        const ssize_t count = read(fd, chunk.data(), chunk.size());
        if (count < 0 && errno == EINTR) continue;
        if (count < 0) sent = Fail(job, std::string("cannot read the document ") + file);
        if (count <= 0) break;
        if (papplDeviceWrite(device, chunk.data(), static_cast<std::size_t>(count)) != count) {
            sent = FailDevice(job);
            break;
        }
    }
    close(fd);
    return sent && Sent(job, device);
}

// A PNG or JPEG document printed as qlpr print prints an image file.
bool PrintImageDocument(pappl_job_t* job, pappl_device_t* device) {
    const ModelData* model = ModelOf(job);
    if (model == nullptr) return Fail(job, "the printer has no model data");
    std::string error;
    const char* file = papplJobGetFilename(job);
    std::optional<DecodedImage> image = LoadImageFile(file ? file : "", &error);
    if (!image) return FailDocument(job, error);

    papplJobSetImpressions(job, 1);
    std::unique_ptr<pappl_pr_options_t, void (*)(pappl_pr_options_t*)> options(
        papplJobCreatePrintOptions(job, 1, false), papplJobDeletePrintOptions);
    // An image prints one pixel to one dot, as with qlpr print; it is scaled
    // to the page width when the job asks to fit or fill, or leaves the
    // scaling to the printer and is wider than the paper.
    const Paper* paper = PaperOfMedia(*model, options->media);
    if (paper == nullptr) paper = &model->papers[model->defaultPaper];
    const pappl_scaling_t scaling = options->print_scaling;
    const bool fit = scaling == PAPPL_SCALING_FIT || scaling == PAPPL_SCALING_FILL ||
                     ((scaling == PAPPL_SCALING_AUTO || scaling == PAPPL_SCALING_AUTO_FIT) &&
                      image->width > paper->printableWidth);
    std::vector<PageContent> pages;
    pages.push_back(ImagePage(std::move(*image), 0));
    if (!PrintAndSend(job, device, *model, *options, std::move(pages), fit)) return false;
    papplJobSetImpressionsCompleted(job, 1);
    return true;
}

// The document of a job waiting on the printer, printed in the turn of a
// newer job: the formats that print from the job's file.
std::optional<bool> PrintWaitingDocument(pappl_job_t* job, pappl_device_t* device) {
    const char* format = papplJobGetFormat(job);
    if (format == nullptr) return std::nullopt;
    if (std::strcmp(format, kNativeFormat) == 0) return CopyRawDocument(job, device);
    if (std::strcmp(format, "image/png") == 0 || std::strcmp(format, "image/jpeg") == 0)
        return PrintImageDocument(job, device);
    return std::nullopt;
}

bool PrintInTurn(pappl_job_t* job, pappl_device_t* device,
                 bool (*print)(pappl_job_t*, pappl_device_t*)) {
    const std::unique_ptr<JobTurn> turn = TakeTurn(job, device, PrintWaitingDocument);
    if (const std::optional<bool> printed = turn->printedBefore())
        return PrintedBefore(job, *printed);
    return turn->Record(print(job, device));
}

}  // namespace

void SetJobFolder(const std::filesystem::path& folder) {
    JobFolder() = folder;
}

bool StartRasterJob(pappl_job_t* job, pappl_pr_options_t*, pappl_device_t* device) {
    auto state = std::make_unique<RasterJob>();
    state->model = ModelOf(job);
    if (state->model == nullptr) return Fail(job, "the printer has no model data");
    state->announcedPages = papplJobGetImpressions(job);
    state->turn = TakeTurn(job, device, PrintWaitingDocument);
    papplJobSetData(job, state.release());
    return true;
}

bool StartRasterPage(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t*, unsigned) {
    RasterJob* state = RasterJobOf(job);
    const cups_page_header2_t& header = options->header;
    const ModelData& model = *state->model;
    const Paper* paper = PaperOfMedia(model, options->media);
    if (paper == nullptr) paper = &model.papers[model.defaultPaper];
    const Resolution& resolution = model.resolutions[model.defaultResolution];

    RasterPage page;
    page.bitsPerPixel = header.cupsBitsPerPixel;
    page.blackIsHigh = header.cupsColorSpace == CUPS_CSPACE_K;
    page.xdpi = static_cast<int>(header.HWResolution[0]);
    page.ydpi = static_cast<int>(header.HWResolution[1]);
    if ((page.bitsPerPixel != 1 && page.bitsPerPixel != 8) || page.xdpi <= 0 || page.ydpi <= 0)
        return FailDocument(
            job, "unsupported raster: " + std::to_string(page.bitsPerPixel) + " bits per pixel");
    // The paper's margins (0.1 mm) and printable width (dots at the
    // model's resolution), at the raster's resolution.
    page.sourceLeft = static_cast<unsigned>((paper->marginLeft * page.xdpi + 127) / 254);
    const long printable = paper->printableWidth * page.xdpi / resolution.x;
    const long columns =
        std::min<long>(printable, static_cast<long>(header.cupsWidth) - page.sourceLeft);
    if (columns <= 0 || header.cupsHeight == 0 || header.cupsHeight > kMaxImageSide)
        return FailDocument(job, "the raster page does not fit the paper");
    page.image.width = static_cast<LONG>(columns);
    page.image.height = static_cast<LONG>(header.cupsHeight);
    page.image.format = BMF_8BPP;
    page.image.stride = static_cast<LONG>(PaddedRowBytes(BMF_8BPP, page.image.width));
    page.image.palette = GreyPalette();
    page.image.bits.assign(static_cast<std::size_t>(page.image.stride) * page.image.height, 0xFF);
    page.lines = header.cupsHeight;
    state->page = std::move(page);
    return true;
}

bool WriteRasterLine(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t*, unsigned y,
                     const unsigned char* line) {
    RasterPage& page = RasterJobOf(job)->page;
    ++page.linesReceived;
    if (y >= static_cast<unsigned>(page.image.height)) return true;
    BYTE* row = page.image.bits.data() + static_cast<std::size_t>(y) * page.image.stride;
    const unsigned lineBytes = options->header.cupsBytesPerLine;
    for (LONG x = 0; x < page.image.width; ++x) {
        const unsigned column = page.sourceLeft + static_cast<unsigned>(x);
        BYTE grey;
        if (page.bitsPerPixel == 8) {
            if (column >= lineBytes) break;
            grey = line[column];
            if (page.blackIsHigh) grey = static_cast<BYTE>(0xFF - grey);
        } else {
            if (column / 8 >= lineBytes) break;
            const bool ink = (line[column / 8] >> (7 - column % 8) & 1) != 0;
            grey = ink == page.blackIsHigh ? 0x00 : 0xFF;
        }
        row[x] = grey;
    }
    return true;
}

bool EndRasterPage(pappl_job_t* job, pappl_pr_options_t*, pappl_device_t*, unsigned) {
    RasterJob* state = RasterJobOf(job);
    RasterPage page = std::move(state->page);
    state->page = RasterPage{};
    // PAPPL ends a page whose data stops early as if it were whole.
    if (page.linesReceived < page.lines)
        return FailDocument(job, "the raster page ends after " +
                                     std::to_string(page.linesReceived) + " of " +
                                     std::to_string(page.lines) + " lines");
    std::optional<PageContent> content = PageOf(page, *state->model);
    if (!content)
        return FailDocument(job, "the raster page is too large at " + std::to_string(page.xdpi) +
                                     "x" + std::to_string(page.ydpi) + " dpi");
    state->pages.push_back(std::move(*content));
    return true;
}

bool EndRasterJob(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device) {
    std::unique_ptr<RasterJob> state(RasterJobOf(job));
    papplJobSetData(job, nullptr);
    if (state == nullptr) return false;
    // A job canceled or failed midway prints none of its pages.
    if (papplJobIsCanceled(job) || papplJobGetState(job) != IPP_JSTATE_PROCESSING) return true;
    if (const std::optional<bool> printed = state->turn->printedBefore())
        return PrintedBefore(job, *printed);
    return state->turn->Record(PrintRasterPages(job, *options, device, *state));
}

bool PrintRawFile(pappl_job_t* job, pappl_pr_options_t*, pappl_device_t* device) {
    return PrintInTurn(job, device, CopyRawDocument);
}

bool PrintImageFile(pappl_job_t* job, pappl_device_t* device, void*) {
    return PrintInTurn(job, device, PrintImageDocument);
}

}  // namespace qlpr::ipp
