// Gathering a page's bands in printer form (see page_raster.h).
#include "command/page_raster.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>

#include "command/halftone.h"
#include "command/rotate.h"

namespace {

using i64 = std::int64_t;

// Bit reversal of a nibble; a byte is reversed by reversing both nibbles and
// swapping them.
constexpr BYTE kNibbleReversed[16] = {0, 8, 4, 12, 2, 10, 6, 14, 1, 9, 5, 13, 3, 11, 7, 15};

BYTE ReverseBits(BYTE value) {
    return static_cast<BYTE>(kNibbleReversed[value & 0x0F] << 4 | kNibbleReversed[value >> 4]);
}

LONG Clamp(i64 value) {
    return static_cast<LONG>(std::clamp<i64>(value, INT32_MIN, INT32_MAX));
}

// A band after conversion: planes of `rows` rows, `stride` bytes apart.
struct PrinterBand {
    const BYTE* planes[2] = {nullptr, nullptr};
    LONG stride = 0;
    LONG width = 0;
    LONG rows = 0;
};

// Source rows mirrored left to right and top to bottom: output row i is
// source row (rows - 1 - i) read right to left. Widths that are not a whole
// number of bytes are shifted back so the picture stays at the left edge.
void MirrorOneBit(const BYTE* source, LONG stride, LONG width, LONG rows, BYTE* out,
                  LONG outStride) {
    const LONG bytes = (width + 7) / 8;
    const int shift = (8 - width % 8) % 8;
    for (LONG i = 0; i < rows; ++i) {
        const BYTE* from = source + static_cast<i64>(rows - 1 - i) * stride;
        BYTE* to = out + static_cast<i64>(i) * outStride;
        for (LONG k = 0; k < bytes; ++k) to[k] = ReverseBits(from[bytes - 1 - k]);
        if (shift == 0) continue;
        // The reversed row starts with `shift` bits of the source's padding.
        for (LONG k = 0; k < bytes; ++k) {
            const BYTE next = k + 1 < bytes ? to[k + 1] : 0xFF;
            to[k] = static_cast<BYTE>(to[k] << shift | next >> (8 - shift));
        }
    }
}

// The 90° and 270° rotation of a one-bit band of `width` x `rows`: the
// result has `width` rows of `rows` dots. The rotation works on whole byte
// columns, so its output has (width rounded up to 8) rows; at 90° the
// surplus rows come first and are skipped, at 270° they come last.
bool RotateBand(const BYTE* source, LONG stride, LONG width, LONG rows, int angle,
                std::vector<BYTE>* out, PrinterBand* result) {
    const LONG columns = (width + 7) / 8;
    const LONG outStride = (rows + 7) / 8;
    const LONG outRows = columns * 8;
    out->assign(static_cast<std::size_t>(outRows) * outStride, 0xFF);
    RotateOneBit(source, stride, rows, angle == 90 ? columns - 1 : 0, columns, angle, out->data(),
                 outStride);
    const LONG pad = outRows - width;
    result->planes[0] = out->data() + (angle == 90 ? static_cast<i64>(pad) * outStride : 0);
    result->stride = outStride;
    result->width = rows;
    result->rows = width;
    return true;
}

// Brings the valid part of the band (`width` x `rows` of its bitmap) into
// printer form. `scratch` holds converted planes.
bool ConvertBand(ExtPdev* pdev, const BandDesc& band, LONG width, LONG rows, int angle,
                 bool twoPlanes, std::vector<BYTE> scratch[2], PrinterBand* result) {
    if (band.bitsPerPixel == 1) {
        if (angle == 0) {
            result->planes[0] = band.bits;
            result->stride = band.stride;
            result->width = width;
            result->rows = rows;
            return true;
        }
        if (angle == 180) {
            const LONG outStride = (width + 7) / 8;
            scratch[0].resize(static_cast<std::size_t>(outStride) * rows);
            MirrorOneBit(band.bits, band.stride, width, rows, scratch[0].data(), outStride);
            *result = {{scratch[0].data(), nullptr}, outStride, width, rows};
            return true;
        }
        return RotateBand(band.bits, band.stride, width, rows, angle, &scratch[0], result);
    }
    const HalftoneSource source{band.bits, band.stride, width, rows, band.bitsPerPixel};
    const SIZEL size = HalftoneOutputSize(source, angle);
    const LONG outStride = (size.cx + 7) / 8;
    for (int plane = 0; plane < (twoPlanes ? 2 : 1); ++plane)
        scratch[plane].resize(static_cast<std::size_t>(outStride) * size.cy);
    BYTE* plane2 = twoPlanes ? scratch[1].data() : nullptr;
    if (!HalftoneBand(pdev, source, angle, scratch[0].data(), plane2, outStride)) return false;
    *result = {{scratch[0].data(), plane2}, outStride, size.cx, size.cy};
    return true;
}

bool AllWhite(const BYTE* row, LONG bytes) {
    LONG i = 0;
    for (; i + 8 <= bytes; i += 8) {
        std::uint64_t word;
        std::memcpy(&word, row + i, sizeof word);
        if (word != ~std::uint64_t{0}) return false;
    }
    for (; i < bytes; ++i)
        if (row[i] != 0xFF) return false;
    return true;
}

BYTE* PageRow(PageRaster* page, int plane, LONG r) {
    return page->planes[plane].bits.get() + static_cast<i64>(r) * page->stride;
}

// Whether a band in the printer frame rows [top, top + rows) holds every
// row of the page.
bool HoldsWholePage(const ExtPdev& pdev, int angle, LONG top, LONG rows) {
    const LONG height = angle == 90 || angle == 270 ? pdev.pageSize.cx : pdev.pageSize.cy;
    return top <= 0 && i64{top} + rows >= height;
}

// Makes room for rows up to `end`, a band being laid in from row `top`:
// rows between the page's last row and `top` are white.
bool GrowPage(PageRaster* page, LONG top, LONG end) {
    if (end <= page->rows) return true;
    const std::size_t bytes = static_cast<std::size_t>(end) * page->stride;
    if (bytes > kPageRasterLimit) return false;
    const std::size_t used = static_cast<std::size_t>(page->rows) * page->stride;
    for (int plane = 0; plane < (page->twoPlanes ? 2 : 1); ++plane) {
        RowBlock& block = page->planes[plane];
        if (block.capacity < bytes) {
            const std::size_t capacity = std::max(bytes, block.capacity * 2);
            std::unique_ptr<BYTE[]> bigger(new BYTE[capacity]);
            if (used > 0) std::memcpy(bigger.get(), block.bits.get(), used);
            block.bits = std::move(bigger);
            block.capacity = capacity;
        }
        const LONG gapEnd = std::clamp(top, page->rows, end);
        std::memset(block.bits.get() + used, 0xFF,
                    static_cast<std::size_t>(gapEnd - page->rows) * page->stride);
    }
    page->blank.resize(static_cast<std::size_t>(end), 1);
    page->rows = end;
    return true;
}

// Copies the converted band into the page at row `top`; columns beyond the
// page's width are cut, a narrower band leaves the rest of its rows white.
// Blank rows are only marked: the walk feeds them and never reads them.
// Without `copy` the rows are only marked (the page is walked from the band).
void PlaceBand(PageRaster* page, const PrinterBand& band, LONG top, bool copy) {
    const LONG bytes = std::min((band.width + 7) / 8, page->stride);
    const int usedBits = band.width < page->width ? band.width % 8 : 0;
    const BYTE fill = static_cast<BYTE>(0xFF >> usedBits);  // white past a partial byte
    const LONG sent = page->width / 8;
    const LONG whole = usedBits != 0 ? bytes - 1 : bytes;  // bytes taken as they are
    const auto white = [&](const BYTE* row) {
        if (!AllWhite(row, std::min(sent, whole))) return false;
        return usedBits == 0 || sent <= whole || (row[whole] | fill) == 0xFF;
    };
    const int planes = page->twoPlanes ? 2 : 1;
    // Rows above the page's first row have no place on the paper.
    for (LONG i = std::max<LONG>(0, -top); i < band.rows; ++i) {
        const BYTE* from[2] = {nullptr, nullptr};
        bool blank = true;
        for (int plane = 0; plane < planes; ++plane) {
            if (band.planes[plane] == nullptr) continue;
            from[plane] = band.planes[plane] + static_cast<i64>(i) * band.stride;
            blank = blank && white(from[plane]);
        }
        page->blank[static_cast<std::size_t>(top + i)] = blank ? 1 : 0;
        if (blank || !copy) continue;
        for (int plane = 0; plane < planes; ++plane) {
            BYTE* to = PageRow(page, plane, top + i);
            if (from[plane] == nullptr) {
                std::memset(to, 0xFF, static_cast<std::size_t>(page->stride));
                continue;
            }
            std::memcpy(to, from[plane], bytes);
            if (usedBits != 0) to[bytes - 1] |= fill;
            std::memset(to + bytes, 0xFF, static_cast<std::size_t>(page->stride - bytes));
        }
    }
}

// Takes the band's items whose bytes lie inside its text data; an item that
// points outside is dropped. Positions move by the band's offset on the page.
bool GatherItems(PageRaster* page, const BandDesc& band) {
    if (band.items == nullptr) return true;
    for (DWORD i = 0; i < band.itemCount; ++i) {
        TextRecord item;
        std::memcpy(&item, band.items + static_cast<std::size_t>(i) * sizeof item, sizeof item);
        const i64 end = i64{item.offset} + item.count;
        if (item.count > 0 && (band.textData == nullptr || end > band.textDataSize)) continue;
        if (page->text.size() + item.count > UINT32_MAX) return false;
        item.offset = static_cast<DWORD>(page->text.size());
        if (item.count > 0) {
            const BYTE* bytes = band.textData + (end - item.count);
            page->text.insert(page->text.end(), bytes, bytes + item.count);
        }
        item.x = Clamp(i64{item.x} + band.band.left);
        item.y = Clamp(i64{item.y} + band.band.top);
        page->items.push_back(item);
    }
    return true;
}

BOOL GatherBand(ExtPdev* pdev, BandDesc* band) {
    const DWORD depth = band->bitsPerPixel;
    // Only the band depths the driver renders are taken: 1 bit is sent as it
    // is, 8 and 24 bits are halftoned; other depths have no printer form.
    if (depth != 1 && depth != 8 && depth != 24) return 0;
    const i64 rowBytes = (i64{band->width} * depth + 7) / 8;
    if (band->width < 0 || band->height < 0 || band->stride < rowBytes) return 0;

    PageRaster* page = pdev->page;
    const int angle = AngleOfDirection(pdev->geometry.bandDirection);
    const bool twoPlanes = depth != 1 && PrivateWord(*pdev, kPrivColourMode) == kColourTwoPlanes;
    const RECTL& rect = band->band;
    const LONG width = Clamp(std::min<i64>(band->width, i64{rect.right} - rect.left));
    const LONG rows = Clamp(std::min<i64>(band->height, i64{rect.bottom} - rect.top));
    // The band's rows are those its bitmap holds: a rectangle reaching past
    // the bitmap adds no rows.
    const RECTL valid{rect.left, rect.top, Clamp(i64{rect.left} + std::max<LONG>(width, 0)),
                      Clamp(i64{rect.top} + std::max<LONG>(rows, 0))};
    const RECTL frame = RectToPrinterFrame(valid, angle, pdev->pageSize);

    if (!page->pending) {
        // The first band of a page sets its form; the blocks keep their
        // capacity from page to page.
        page->blank.clear();
        page->items.clear();
        page->text.clear();
        page->band = page->content = RECTL{};
        page->rows = 0;
        page->pending = true;
        page->twoPlanes = twoPlanes;
        page->width = std::max<LONG>(angle == 90 || angle == 270 ? rows : width, 0);
        page->stride = (page->width + 7) / 8;
    }
    page->band = UnionRect(page->band, frame);
    page->content =
        UnionRect(page->content, RectToPrinterFrame(band->content, angle, pdev->pageSize));
    if (!GatherItems(page, *band)) return 0;
    if (width <= 0 || rows <= 0 || page->stride == 0) return 1;

    std::vector<BYTE> scratch[2];
    PrinterBand converted;
    if (!ConvertBand(pdev, *band, width, rows, angle, page->twoPlanes, scratch, &converted))
        return 0;
    const LONG end = Clamp(i64{frame.top} + converted.rows);
    // The first band of a page that holds all of it is walked where it
    // lies; its rows are the page's from the band's top row (rows above the
    // page are left out, as they would be when copied).
    const bool lend = page->rows == 0 && HoldsWholePage(*pdev, angle, frame.top, converted.rows) &&
                      converted.planes[0] != nullptr &&
                      (!page->twoPlanes || converted.planes[1] != nullptr);
    if (lend) {
        if (static_cast<std::size_t>(end) * page->stride > kPageRasterLimit) return 0;
        page->blank.assign(static_cast<std::size_t>(end), 1);
        page->rows = end;
        PlaceBand(page, converted, frame.top, false);
        const i64 skipped = i64{-frame.top} * converted.stride;
        for (int plane = 0; plane < (page->twoPlanes ? 2 : 1); ++plane)
            page->lent[plane] = converted.planes[plane] + skipped;
        page->lentStride = converted.stride;
        const BOOL sent = EmitPage(pdev);
        page->lent[0] = page->lent[1] = nullptr;
        return sent;
    }
    if (!GrowPage(page, frame.top, end)) return 0;
    PlaceBand(page, converted, frame.top, true);
    return 1;
}

}  // namespace

int AngleOfDirection(WORD direction) {
    switch (direction) {
        case kStripsRight:
            return 270;
        case kStripsLeft:
            return 90;
        case kBandsUp:
            return 180;
        default:
            return 0;
    }
}

RECTL RectToPrinterFrame(const RECTL& r, int angle, SIZEL page) {
    const bool landscape = angle == 90 || angle == 270;
    const i64 w = landscape ? page.cy : page.cx;
    const i64 h = landscape ? page.cx : page.cy;
    switch (angle) {
        case 90:
            return {r.top, Clamp(h - r.right), r.bottom, Clamp(h - r.left)};
        case 180:
            return {Clamp(w - r.right), Clamp(h - r.bottom), Clamp(w - r.left), Clamp(h - r.top)};
        case 270:
            return {Clamp(w - r.bottom), r.left, Clamp(w - r.top), r.right};
        default:
            return r;
    }
}

BOOL EmitBand(ExtPdev* pdev, BandDesc* band) {
    if (band == nullptr || band->bits == nullptr) return 0;
    try {
        if (pdev->page == nullptr) pdev->page = new PageRaster;
        return GatherBand(pdev, band);
    } catch (const std::bad_alloc&) {
        return 0;
    }
}

void FreePageRaster(ExtPdev* pdev) {
    delete pdev->page;
    pdev->page = nullptr;
}
