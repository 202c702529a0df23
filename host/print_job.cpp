// The engine's document loop over a banding driver (see print_job.h).

#include "host/print_job.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>

#include "host/drawing.h"
#include "host/engine.h"
#include "host/engine_objects.h"
#include "host/surface_format.h"
#include "platform/last_error.h"
#include "platform/spooler.h"

namespace host {

namespace {

// A driver whose bands never end would hold the loop for ever; no page of
// this system has nearly this many bands.
constexpr int kMaxBandsPerPage = 1 << 20;

bool IsEnd(POINTL origin) {
    return origin.x == -1 && origin.y == -1;
}

// The driver's entries the loop calls, all required.
struct DocumentEntries {
    PFN_DrvEnableSurface enableSurface;
    PFN_DrvDisableSurface disableSurface;
    PFN_DrvStartDoc startDoc;
    PFN_DrvStartPage startPage;
    PFN_DrvStartBanding startBanding;
    PFN_DrvNextBand nextBand;
    PFN_DrvSendPage sendPage;
    PFN_DrvEndDoc endDoc;

    explicit DocumentEntries(const DriverHost& driver)
        : enableSurface(driver.Entry<PFN_DrvEnableSurface>(INDEX_DrvEnableSurface)),
          disableSurface(driver.Entry<PFN_DrvDisableSurface>(INDEX_DrvDisableSurface)),
          startDoc(driver.Entry<PFN_DrvStartDoc>(INDEX_DrvStartDoc)),
          startPage(driver.Entry<PFN_DrvStartPage>(INDEX_DrvStartPage)),
          startBanding(driver.Entry<PFN_DrvStartBanding>(INDEX_DrvStartBanding)),
          nextBand(driver.Entry<PFN_DrvNextBand>(INDEX_DrvNextBand)),
          sendPage(driver.Entry<PFN_DrvSendPage>(INDEX_DrvSendPage)),
          endDoc(driver.Entry<PFN_DrvEndDoc>(INDEX_DrvEndDoc)) {}

    bool Complete() const {
        return enableSurface && disableSurface && startDoc && startPage && startBanding &&
               nextBand && sendPage && endDoc;
    }
};

void SetError(std::string* error, const std::string& text) {
    if (error != nullptr) *error = text;
}

// What the last error the driver (or the command library under it) left
// means, for the few causes a user can act on.
const char* LastErrorMeaning(DWORD code) {
    switch (code) {
        case ERROR_FILE_NOT_FOUND:
            return "a file was not found";
        case ERROR_PATH_NOT_FOUND:
            return "a folder was not found";
        case ERROR_ACCESS_DENIED:
            return "access denied";
        case ERROR_NOT_ENOUGH_MEMORY:
        case ERROR_OUTOFMEMORY:
            return "out of memory";
        case ERROR_DISK_FULL:
            return "the disk is full";
        case ERROR_WRITE_FAULT:
            return "the output could not be written";
        case ERROR_BROKEN_PIPE:
            return "the output's reader went away";
        default:
            return nullptr;
    }
}

// A refusal of the driver's, with the last error it left when it left one.
void SetRefusal(std::string* error, const std::string& text) {
    const DWORD code = GetLastError();
    if (code == ERROR_SUCCESS) return SetError(error, text);
    const char* meaning = LastErrorMeaning(code);
    SetError(error, text + " (error " + std::to_string(code) +
                        (meaning != nullptr ? std::string(": ") + meaning : std::string()) + ")");
}

// A placed bitmap whose rows all lie inside its bytes.
bool UsablePlacedBitmap(const PlacedBitmap& bitmap) {
    if (bitmap.format != BMF_1BPP && bitmap.format != BMF_8BPP && bitmap.format != BMF_24BPP)
        return false;
    if (bitmap.size.cx <= 0 || bitmap.size.cy <= 0 || bitmap.stride <= 0) return false;
    const std::uint64_t row = RowBytes(bitmap.format, bitmap.size.cx);
    const auto stride = static_cast<std::uint64_t>(bitmap.stride);
    if (stride < row) return false;
    const std::uint64_t needed = stride * static_cast<std::uint64_t>(bitmap.size.cy - 1) + row;
    return bitmap.bits.size() >= needed;
}

// An item's rectangle moved into band coordinates; false when that leaves
// the coordinate range.
bool ToBand(const RECTL& page, POINTL origin, RECTL* band) {
    const std::int64_t values[4] = {
        std::int64_t{page.left} - origin.x, std::int64_t{page.top} - origin.y,
        std::int64_t{page.right} - origin.x, std::int64_t{page.bottom} - origin.y};
    for (std::int64_t v : values)
        if (v < INT32_MIN || v > INT32_MAX) return false;
    *band = {static_cast<LONG>(values[0]), static_cast<LONG>(values[1]),
             static_cast<LONG>(values[2]), static_cast<LONG>(values[3])};
    return true;
}

// The entry of `index` when the band's surface hooked `hook` and the driver
// has it; null otherwise (the engine's service draws).
template <class F>
F HookedEntry(SURFOBJ* band, const DriverHost* driver, FLONG hook, ULONG index) {
    if (driver == nullptr) return nullptr;
    SurfaceInfo info;
    if (!LookupSurface(band->hsurf, &info) || (info.hooks & hook) == 0) return nullptr;
    return driver->Entry<F>(index);
}

// An image's pixels as an engine surface, for as long as it lives. The
// bits are lent, so the image must outlive it; rows are padded to a whole
// stride when the image's last row is short. Run-length data keeps the
// order of a bitmap file: its first line is the bottom row.
class ImageSurface {
  public:
    explicit ImageSurface(const PageImage& image) {
        if (image.size.cx <= 0 || image.size.cy <= 0) return;
        HBITMAP bitmap{};
        if (IsRunLength(image.format)) {
            if (image.bits.empty() || image.bits.size() > 0x7FFFFFFF) return;
            bitmap = EngCreateBitmap(image.size, static_cast<LONG>(image.bits.size()), image.format,
                                     0, const_cast<BYTE*>(image.bits.data()));
        } else {
            if (BitsPerPixel(image.format) == 0 || image.stride <= 0) return;
            const std::uint64_t row = RowBytes(image.format, image.size.cx);
            const auto stride = static_cast<std::uint64_t>(image.stride);
            if (stride < row) return;
            const std::uint64_t needed =
                stride * static_cast<std::uint64_t>(image.size.cy - 1) + row;
            const std::uint64_t whole = stride * static_cast<std::uint64_t>(image.size.cy);
            // The engine refuses more than 256 MiB of bits anyway.
            if (image.bits.size() < needed || whole > (std::uint64_t{256} << 20)) return;
            const BYTE* bits = image.bits.data();
            if (image.bits.size() < whole) {
                padded_.assign(image.bits.begin(), image.bits.end());
                padded_.resize(whole, 0);
                bits = padded_.data();
            }
            bitmap = EngCreateBitmap(image.size, image.stride, image.format,
                                     BMF_TOPDOWN | BMF_NOZEROINIT, const_cast<BYTE*>(bits));
        }
        if (!bitmap) return;
        handle_ = HSURF{bitmap.value};
        surface_ = EngLockSurface(handle_);
    }
    ~ImageSurface() {
        if (surface_ != nullptr) EngUnlockSurface(surface_);
        if (handle_) EngDeleteSurface(handle_);
    }
    ImageSurface(const ImageSurface&) = delete;
    ImageSurface& operator=(const ImageSurface&) = delete;

    SURFOBJ* surface() const { return surface_; }

  private:
    std::vector<BYTE> padded_;
    HSURF handle_{};
    SURFOBJ* surface_ = nullptr;
};

std::unique_ptr<Translation> ImageTranslation(const PageImage& image) {
    if (BitsPerPixel(image.format) > 8) return Translation::ForDirectFormat(image.format);
    return image.palette.empty() ? nullptr : Translation::FromPalette(image.palette);
}

bool DrawImage(SURFOBJ* band, POINTL origin, const PageImage& image, const DriverHost* driver) {
    RECTL target;
    if (!ToBand(image.target, origin, &target)) return false;
    ImageSurface source(image);
    if (source.surface() == nullptr) return false;
    std::unique_ptr<Translation> xlate = ImageTranslation(image);
    XLATEOBJ* xlateObject = xlate ? xlate->object() : nullptr;
    ClipRegion clip({{0, 0, band->sizlBitmap.cx, band->sizlBitmap.cy}});

    const bool ownSize = target.right - std::int64_t{target.left} == image.size.cx &&
                         target.bottom - std::int64_t{target.top} == image.size.cy;
    // Grey and colour images are stretched in the halftone mode even at their
    // own size, as an application that prints photos does, so that a one-bit
    // band gets them halftoned; one-bit images are copied as they are.
    const bool oneBit = image.format == BMF_1BPP;
    if (ownSize && oneBit) {
        POINTL sourceOrigin{0, 0};
        auto copy = HookedEntry<PFN_DrvCopyBits>(band, driver, HOOK_COPYBITS, INDEX_DrvCopyBits);
        return (copy ? copy : &EngCopyBits)(band, source.surface(), clip.object(), xlateObject,
                                            &target, &sourceOrigin) != FALSE;
    }
    RECTL sourceRect{0, 0, image.size.cx, image.size.cy};
    // The dither stays anchored at the page's origin from band to band.
    POINTL halftoneOrigin{-origin.x, -origin.y};
    const ULONG mode = !oneBit || band->iBitmapFormat == BMF_1BPP ? HALFTONE : COLORONCOLOR;
    auto stretch =
        HookedEntry<PFN_DrvStretchBlt>(band, driver, HOOK_STRETCHBLT, INDEX_DrvStretchBlt);
    return (stretch ? stretch : &EngStretchBlt)(band, source.surface(), nullptr, clip.object(),
                                                xlateObject, nullptr, &halftoneOrigin, &target,
                                                &sourceRect, nullptr, mode) != FALSE;
}

bool DrawRectangle(SURFOBJ* band, POINTL origin, const PageRectangle& rectangle,
                   const DriverHost* driver) {
    RECTL target;
    if (!ToBand(rectangle.rect, origin, &target)) return false;
    constexpr ROP4 kPatCopy = 0xF0F0;
    auto realize =
        driver != nullptr ? driver->Entry<PFN_DrvRealizeBrush>(INDEX_DrvRealizeBrush) : nullptr;
    std::unique_ptr<EngineBrush> brush = EngineBrush::Solid(rectangle.colour, realize, band);
    ClipRegion clip({{0, 0, band->sizlBitmap.cx, band->sizlBitmap.cy}});
    POINTL brushOrigin{-origin.x, -origin.y};
    auto blt = HookedEntry<PFN_DrvBitBlt>(band, driver, HOOK_BITBLT, INDEX_DrvBitBlt);
    return (blt ? blt : &EngBitBlt)(band, nullptr, nullptr, clip.object(), nullptr, &target,
                                    nullptr, nullptr, brush->object(), &brushOrigin,
                                    kPatCopy) != FALSE;
}

}  // namespace

bool DrawPageItem(SURFOBJ* band, POINTL origin, const PageItem& item, const DriverHost* driver) {
    if (band == nullptr) return false;
    if (const auto* image = std::get_if<PageImage>(&item))
        return DrawImage(band, origin, *image, driver);
    return DrawRectangle(band, origin, std::get<PageRectangle>(item), driver);
}

void DrawPlacedBitmap(SURFOBJ* band, POINTL origin, const PlacedBitmap& bitmap) {
    if (!UsableBitmap(band) || band->iBitmapFormat != bitmap.format) return;
    if (!UsablePlacedBitmap(bitmap)) return;
    // The overlap, in page-image coordinates.
    const std::int64_t left = std::max<std::int64_t>(bitmap.position.x, origin.x);
    const std::int64_t right =
        std::min<std::int64_t>(std::int64_t{bitmap.position.x} + bitmap.size.cx,
                               std::int64_t{origin.x} + band->sizlBitmap.cx);
    const std::int64_t top = std::max<std::int64_t>(bitmap.position.y, origin.y);
    const std::int64_t bottom =
        std::min<std::int64_t>(std::int64_t{bitmap.position.y} + bitmap.size.cy,
                               std::int64_t{origin.y} + band->sizlBitmap.cy);
    if (left >= right || top >= bottom) return;

    const std::int64_t sourceX = left - bitmap.position.x;
    const std::int64_t destX = left - origin.x;
    const std::int64_t count = right - left;
    const std::int64_t pixelBytes = bitmap.format == BMF_24BPP ? 3 : 1;
    for (std::int64_t y = top; y < bottom; ++y) {
        const BYTE* sourceRow =
            bitmap.bits.data() + (y - bitmap.position.y) * std::int64_t{bitmap.stride};
        BYTE* destRow = ScanLine(band, static_cast<LONG>(y - origin.y));
        if (bitmap.format == BMF_1BPP) {
            CopyBits(destRow, destX, sourceRow, sourceX, count, false);
        } else {
            std::memcpy(destRow + destX * pixelBytes, sourceRow + sourceX * pixelBytes,
                        static_cast<std::size_t>(count * pixelBytes));
        }
    }
}

std::unique_ptr<PrintJob> PrintJob::Start(Device& device, const std::u16string& documentName,
                                          DWORD jobId, std::string* error,
                                          const std::u16string& outputFile) {
    const DocumentEntries entries(device.driver());
    if (!entries.Complete()) {
        SetError(error, "the driver's function table lacks the document entries");
        return nullptr;
    }
    std::unique_ptr<PrintJob> job(new PrintJob(device));
    job->documentName_ = documentName;
    job->jobId_ = jobId;
    if (device.printer() != nullptr) {
        std::u16string output = outputFile;
        DOC_INFO_1W info{job->documentName_.data(), output.empty() ? nullptr : output.data(),
                         nullptr};
        const DWORD spoolerId =
            StartDocPrinterW(device.printer(), 1, reinterpret_cast<BYTE*>(&info));
        if (spoolerId == 0) {
            SetError(error, "the spooler refused to start a job (error " +
                                std::to_string(GetLastError()) + ")");
            return nullptr;
        }
        job->spoolerJob_ = true;
        if (jobId == 0) job->jobId_ = spoolerId;
    }
    job->pdev_ = device.pdev();
    job->hsurf_ = entries.enableSurface(job->pdev_);
    if (!job->hsurf_) {
        SetError(error, "the driver did not enable its surface");
        return nullptr;
    }
    job->surface_ = EngLockSurface(job->hsurf_);
    if (job->surface_ == nullptr) {
        SetError(error, "the driver's surface is not a surface of this engine");
        return nullptr;  // the destructor disables the surface
    }
    // An empty name is no name: the driver is given none.
    LPWSTR name = job->documentName_.empty() ? nullptr : job->documentName_.data();
    SetLastError(ERROR_SUCCESS);
    if (!entries.startDoc(job->surface_, name, job->jobId_)) {
        SetRefusal(error, "the driver refused to start the document");
        return nullptr;
    }
    job->open_ = true;
    return job;
}

PrintJob::~PrintJob() {
    if (open_) End(nullptr);
    if (spoolerJob_) EndDocPrinter(device_.printer());
    if (surface_ != nullptr) EngUnlockSurface(surface_);
    // The driver deletes its own surface here. A device reset outside this
    // job has disabled the driver's device the surface belonged to, so there
    // is nothing left to disable.
    if (hsurf_ && device_.pdev() == pdev_) {
        if (auto disable = device_.driver().Entry<PFN_DrvDisableSurface>(INDEX_DrvDisableSurface))
            disable(pdev_);
    }
}

bool PrintJob::PrintPage(const BandPainter& painter, std::string* error) {
    if (!open_) {
        SetError(error, "the document has ended");
        return false;
    }
    if (device_.pdev() != pdev_) {
        SetError(error, "the device was reset during the document");
        return false;
    }
    const DocumentEntries entries(device_.driver());
    const int page = pages_++;
    SetLastError(ERROR_SUCCESS);
    if (!entries.startPage(surface_)) {
        SetRefusal(error, "the driver refused to start page " + std::to_string(page + 1));
        return false;
    }
    POINTL origin{};
    SetLastError(ERROR_SUCCESS);
    if (!entries.startBanding(surface_, &origin)) {
        SetRefusal(error, "the driver refused to band page " + std::to_string(page + 1));
        return false;
    }
    for (int band = 0; !IsEnd(origin); ++band) {
        if (band == kMaxBandsPerPage) {
            SetError(error,
                     "the driver's bands of page " + std::to_string(page + 1) + " never end");
            return false;
        }
        bands_.push_back({page, origin});
        if (painter) painter(surface_, origin, page);
        SetLastError(ERROR_SUCCESS);
        if (!entries.nextBand(surface_, &origin)) {
            SetRefusal(error, "the driver refused band " + std::to_string(band + 1) + " of page " +
                                  std::to_string(page + 1));
            return false;
        }
    }
    SetLastError(ERROR_SUCCESS);
    if (!entries.sendPage(surface_)) {
        SetRefusal(error, "the driver refused to send page " + std::to_string(page + 1));
        return false;
    }
    return true;
}

bool PrintJob::PrintPage(const Page& page, std::string* error) {
    return PrintPage(
        [&page, this](SURFOBJ* band, POINTL origin, int) {
            for (const PlacedBitmap& bitmap : page.bitmaps) DrawPlacedBitmap(band, origin, bitmap);
            // A failed item leaves the band as it was and the page goes on,
            // as a failed drawing call of an application does.
            for (const PageItem& item : page.items)
                DrawPageItem(band, origin, item, &device_.driver());
        },
        error);
}

bool PrintJob::End(std::string* error) {
    if (!open_) {
        SetError(error, "the document has already ended");
        return false;
    }
    open_ = false;
    if (device_.pdev() != pdev_) {
        SetError(error, "the device was reset during the document");
        return false;
    }
    auto endDoc = device_.driver().Entry<PFN_DrvEndDoc>(INDEX_DrvEndDoc);
    SetLastError(ERROR_SUCCESS);
    const bool ended = endDoc(surface_, 0) != FALSE;
    const DWORD endError = GetLastError();
    if (spoolerJob_) {
        spoolerJob_ = false;
        EndDocPrinter(device_.printer());
    }
    if (!ended) {
        SetLastError(endError);
        SetRefusal(error, "the driver refused to end the document");
        return false;
    }
    return true;
}

bool PrintJob::Reset(const DEVMODEW* devmode, std::string* error) {
    if (!open_ || device_.pdev() != pdev_) {
        SetError(error, "no document of this device is running");
        return false;
    }
    const DocumentEntries entries(device_.driver());
    HSURF fresh{};
    SURFOBJ* freshSurface = nullptr;
    const bool reset = device_.Reset(devmode, error, [&](DHPDEV oldPdev, DHPDEV newPdev) {
        fresh = entries.enableSurface(newPdev);
        if (fresh) freshSurface = EngLockSurface(fresh);
        EngUnlockSurface(surface_);
        entries.disableSurface(oldPdev);
    });
    if (!reset) return false;
    pdev_ = device_.pdev();
    hsurf_ = fresh;
    surface_ = freshSurface;
    if (surface_ == nullptr) {
        open_ = false;
        SetError(error, "the reset device did not enable its surface");
        return false;
    }
    LPWSTR name = documentName_.empty() ? nullptr : documentName_.data();
    SetLastError(ERROR_SUCCESS);
    if (!entries.startDoc(surface_, name, jobId_)) {
        open_ = false;
        SetError(error, "the reset device refused to go on with the document");
        return false;
    }
    return true;
}

}  // namespace host
