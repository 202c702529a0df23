// The walk of a page in printer form, top to bottom: blank stretches become
// paper feeds, stretches with dots raster blocks of up to ten rows, and the
// rows where device-text items begin send the items as printer text,
// barcode and control commands.
#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <new>
#include <vector>

#include "command/feed.h"
#include "command/item_commands.h"
#include "command/page_raster.h"
#include "command/spool_output.h"

namespace {

using i64 = std::int64_t;

constexpr WORD kSkipPageTop = 0x01;
constexpr WORD kSkipPageBottom = 0x02;
constexpr LONG kRowsPerBlock = 10;

LONG Clamp(i64 value) {
    return static_cast<LONG>(std::clamp<i64>(value, INT32_MIN, INT32_MAX));
}

// Raster lines swap the bytes of 16-bit units eight bytes at a time.
static_assert(std::endian::native == std::endian::little);

// The rows of the page as the walk reads them. Rows outside the page's
// bitmap (a content or band rectangle reaching past it) read as white.
struct PlaneRows {
    const PageRaster& page;
    LONG sentBytes;  // bytes of a row that a raster line sends: width / 8

    const BYTE* Row(int plane, LONG r) const { return page.Row(plane, r); }
    // A row is blank when every byte a raster line would send is white, in
    // both planes (found when the row was laid in).
    bool Blank(LONG r) const { return r < 0 || r >= page.rows || page.blank[r] != 0; }
};

// The walker of one page.
struct Walk {
    ExtPdev* pdev;
    PlaneRows rows;
    WORD skip;
    std::vector<TextRecord>& items;  // sorted by y, then x
    const std::vector<BYTE>& text;
    std::size_t itemIndex = 0;
    RECTL textBlock{};        // the area the printer's last text line covers
    std::vector<BYTE> block;  // one raster command being built, room for the largest
};

std::size_t gWalkBufferLimit = 0;  // for tests: 0, or the largest buffer the walk gets

// Bytes of one raster line and of the largest raster command of the page.
LONG LineBytes(const ExtPdev& pdev, const PlaneRows& rows) {
    return pdev.leftPad + 2 * ((rows.sentBytes + 1) / 2) + pdev.rightPad;
}
std::size_t BlockBytes(const ExtPdev& pdev, const PlaneRows& rows, LONG count) {
    return 5 + static_cast<std::size_t>(count) * static_cast<std::size_t>(LineBytes(pdev, rows)) *
                   (rows.page.twoPlanes ? 2 : 1);
}

void Send(ExtPdev* pdev, std::initializer_list<BYTE> bytes) {
    WriteOut(pdev, bytes.begin(), static_cast<DWORD>(bytes.size()));
}

// A feed at the page's top or bottom edge counts on the page's vertical
// position; it is left out when it would only push the first print down
// (page top skipping) or run past the end of the page (page bottom skipping).
void FeedPageEdge(Walk& walk, LONG dots) {
    ExtPdev* pdev = walk.pdev;
    pdev->verticalPosition += dots;
    if (pdev->verticalPosition == dots && (walk.skip & kSkipPageTop) != 0) dots = 0;
    if (pdev->verticalPosition >= pdev->pageLength && (walk.skip & kSkipPageBottom) != 0) dots = 0;
    FeedInner(pdev, dots);
}

// One raster line: the left pad, the row's bytes in 16-bit units with both
// bytes complemented and swapped (1 = dot), the right pad. An odd last byte
// is paired with a white byte.
BYTE* EncodeLine(const ExtPdev& pdev, const BYTE* row, LONG bytes, BYTE* out) {
    out = std::fill_n(out, pdev.leftPad, BYTE{0});
    LONG i = 0;
    constexpr std::uint64_t kLowBytes = 0x00FF00FF00FF00FFull;
    for (; i + 8 <= bytes; i += 8) {
        std::uint64_t word;
        std::memcpy(&word, row + i, sizeof word);
        word = ~(((word & kLowBytes) << 8) | ((word >> 8) & kLowBytes));
        std::memcpy(out, &word, sizeof word);
        out += 8;
    }
    for (; i + 2 <= bytes; i += 2) {
        *out++ = static_cast<BYTE>(~row[i + 1]);
        *out++ = static_cast<BYTE>(~row[i]);
    }
    if (i < bytes) {
        *out++ = 0x00;  // the white byte that completes the unit
        *out++ = static_cast<BYTE>(~row[i]);
    }
    return std::fill_n(out, pdev.rightPad, BYTE{0});
}

// ESC , m nL nH and `count` rows from row `first`: for two planes each row
// sends its plane-2 line before its plane-1 line.
void SendRasterBlock(Walk& walk, LONG first, LONG count) {
    ExtPdev* pdev = walk.pdev;
    const PlaneRows& rows = walk.rows;
    const bool two = rows.page.twoPlanes;
    BYTE* out = walk.block.data();
    *out++ = 0x1B;
    *out++ = 0x2C;
    *out++ = two ? 2 : 0;
    *out++ = static_cast<BYTE>(count & 0xFF);
    *out++ = static_cast<BYTE>(count >> 8);
    for (LONG r = first; r < first + count; ++r) {
        if (two) out = EncodeLine(*pdev, rows.Row(1, r), rows.sentBytes, out);
        out = EncodeLine(*pdev, rows.Row(0, r), rows.sentBytes, out);
    }
    WriteOut(pdev, walk.block.data(), static_cast<DWORD>(out - walk.block.data()));
    pdev->verticalPosition += count;
}

void SendImageRun(Walk& walk, LONG first, LONG count) {
    for (LONG done = 0; done < count; done += kRowsPerBlock)
        SendRasterBlock(walk, first + done, std::min(kRowsPerBlock, count - done));
}

void SendBlankRun(Walk& walk, LONG current, LONG count) {
    const RECTL& block = walk.textBlock;
    // Rows the printer's text line already advanced over are not fed again.
    const bool underText = !RectIsEmpty(block) && current <= block.bottom;
    FeedInner(walk.pdev, underText ? current + count - block.bottom : count);
    walk.pdev->verticalPosition += count;
}

BOOL SendOne(Walk& walk, const TextRecord& item) {
    return SendItem(walk.pdev, item, walk.text.data() + item.offset);
}

// The items at the row of the current item, barcodes before text; a group
// whose row lies within the text line just printed follows at once.
void SendTextLine(Walk& walk) {
    std::vector<TextRecord>& items = walk.items;
    walk.textBlock = {};
    while (true) {
        const std::size_t first = walk.itemIndex;
        const LONG y = items[first].y;
        std::size_t end = first;
        while (end < items.size() && items[end].y == y) ++end;

        LONG symbolHeight = 0;
        for (std::size_t i = first; i < end; ++i) {
            const WORD kind = items[i].fontId;
            if ((IsBarcodeItem(kind) || IsTwoDimensionalItem(kind)) && SendOne(walk, items[i]))
                symbolHeight = std::max(symbolHeight, LONG{items[i].height});
        }
        walk.itemIndex = end;
        LONG textHeight = 0;
        for (std::size_t i = first; i < end; ++i) {
            const WORD kind = items[i].fontId;
            if (IsFontItem(kind)) {
                if (SendOne(walk, items[i]))
                    textHeight = std::max(textHeight, LONG{items[i].height});
            } else if (kind == kControlItem || kind == kHexCommandItem) {
                SendOne(walk, items[i]);
            }
        }
        if (textHeight > 0) Send(walk.pdev, {0x1B, 0x4A, 0x00});  // print the line, no feed

        const LONG height = std::max(symbolHeight, textHeight);
        const TextRecord& lead = items[first];
        const LONG bottom = Clamp(i64{lead.y} + height);
        RECTL& block = walk.textBlock;
        if (RectIsEmpty(block))
            block = {lead.x, lead.y, Clamp(i64{lead.x} + lead.width), bottom};
        else
            block.bottom = std::max(block.bottom, bottom);
        if (walk.itemIndex >= items.size() || items[walk.itemIndex].y >= block.bottom) return;
    }
}

// The run starting at row `current`: an item row (0 rows), or up to `left`
// rows of one kind, blank or image, ending before the next item's row.
LONG ClassifyRun(Walk& walk, LONG current, LONG left, bool* itemRow, bool* blank) {
    std::vector<TextRecord>& items = walk.items;
    bool haveNext = false;
    LONG nextY = 0;
    for (std::size_t i = walk.itemIndex; i < items.size(); ++i) {
        if (items[i].y < 0) items[i].y = 0;
        if (items[i].y < current) continue;
        walk.itemIndex = i;
        if (items[i].y == current) {
            *itemRow = true;
            return 0;
        }
        haveNext = true;
        nextY = items[i].y;
        break;
    }
    if (!haveNext) walk.itemIndex = items.size();
    *itemRow = false;
    *blank = walk.rows.Blank(current);
    LONG n = 1;
    while (n < left) {
        const LONG r = current + n;
        if ((haveNext && r == nextY) || walk.rows.Blank(r) != *blank) break;
        ++n;
    }
    return n;
}

// Rows of the content rectangle with dots, and the items' origins; an empty
// rectangle when there are none. Item positions are the application's and
// may lie anywhere: the result is kept to the page's rows, so the walk never
// feeds toward an item above the page (it prints on the first row) or beyond
// its last row (it is never reached).
RECTL TrimContent(const Walk& walk, RECTL content, const RECTL& page) {
    LONG top = 0;
    LONG bottom = 0;
    bool found = false;
    // Rows outside the page's bitmap are blank.
    const LONG last = std::min(content.bottom, walk.rows.page.rows);
    for (LONG r = std::max<LONG>(content.top, 0); r < last; ++r) {
        if (walk.rows.Blank(r)) continue;
        if (!found) top = r;
        found = true;
        bottom = r + 1;
    }
    content = found ? RECTL{content.left, top, content.right, bottom} : RECTL{};
    if (walk.items.empty()) return content;
    const auto origin = [](const TextRecord& item) {
        return RECTL{item.x, item.y, Clamp(i64{item.x} + 1), Clamp(i64{item.y} + 1)};
    };
    RECTL origins = origin(walk.items[0]);
    for (const TextRecord& item : walk.items) origins = UnionRect(origins, origin(item));
    content = found ? UnionRect(content, origins) : origins;
    if (!RectIsEmpty(content)) {
        content.top = std::clamp(content.top, page.top, page.bottom);
        content.bottom = std::clamp(content.bottom, page.top, page.bottom);
    }
    return content;
}

void WalkPage(ExtPdev* pdev, PageRaster& page) {
    std::stable_sort(page.items.begin(), page.items.end(),
                     [](const TextRecord& a, const TextRecord& b) {
                         return a.y != b.y ? a.y < b.y : a.x < b.x;
                     });
    Walk walk{pdev,
              {page, page.width / 8},
              PrivateWord(*pdev, kPrivBlankSkipping),
              page.items,
              page.text,
              0,
              {},
              {}};
    // The walk's one buffer is taken before anything of the page is sent.
    const LONG blockRows = std::clamp<LONG>(page.rows, 0, kRowsPerBlock);
    const std::size_t blockBytes = BlockBytes(*pdev, walk.rows, blockRows);
    if (gWalkBufferLimit != 0 && blockBytes > gWalkBufferLimit) throw std::bad_alloc();
    walk.block.resize(blockBytes);

    const RECTL& band = page.band;
    RECTL content = page.content;
    if (walk.skip != 0) content = TrimContent(walk, content, band);
    const LONG start = (walk.skip & kSkipPageTop) != 0 ? content.top : band.top;
    const LONG end = (walk.skip & kSkipPageBottom) != 0 ? content.bottom : band.bottom;
    const LONG tail = band.bottom - end;

    if (start != 0) FeedPageEdge(walk, start);
    LONG current = start;
    LONG left = end - start;
    while (left > 0) {
        bool itemRow = false;
        bool blank = false;
        const LONG n = ClassifyRun(walk, current, left, &itemRow, &blank);
        if (itemRow)
            SendTextLine(walk);
        else if (blank)
            SendBlankRun(walk, current, n);
        else
            SendImageRun(walk, current, n);
        current += n;
        left -= n;
    }
    if (tail != 0) FeedPageEdge(walk, tail);
}

}  // namespace

BOOL EmitPage(ExtPdev* pdev) {
    PageRaster* page = pdev->page;
    if (page == nullptr || !page->pending) return 1;
    page->pending = false;
    try {
        WalkPage(pdev, *page);
        return 1;
    } catch (const std::bad_alloc&) {
        // A page that cannot go out whole is not passed off as printed: the
        // output fails, so the job ends and nothing more of it is sent.
        pdev->outputFlags |= kOutFailed;
        return 0;
    }
}

void SetWalkBufferLimitForTesting(std::size_t bytes) {
    gWalkBufferLimit = bytes;
}
