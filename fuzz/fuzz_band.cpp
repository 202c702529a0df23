// Any bytes as the bands of one page reaching the command library: the band
// records, their bitmaps at 1, 8 or 24 bits per pixel in each of the four
// band directions, and the device-text items with their character data.
// The bitmap always holds the rows its record declares (the driver's side of
// the contract); everything else — rectangles, page size, item places,
// offsets and counts into the character data — is as the input says. The
// stream goes to memory; no byte may be lost between the library's buffer
// and its writer.
//
// Input: a 22-byte header (see Header), then the items (26 bytes each), a
// 16-bit length and that many characters, then the bitmap bytes (repeated
// to fill the bitmap).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "command/exports.h"
#include "command/ext_pdev.h"
#include "command/item_commands.h"
#include "harness_support.h"
#include "records/command_interface.h"
#include "tests/command/plain_devmode.h"

namespace {

using fuzzsupport::Take;

// Bands and pages as large as a receipt's need: a page is gathered whole, so
// its size is capped to keep every input fast.
constexpr LONG kMaxWidth = 256;
constexpr LONG kMaxHeight = 128;
constexpr WORD kMaxPage = 2048;
constexpr WORD kDepths[3] = {1, 8, 24};
constexpr WORD kRotations[4] = {0, 90, 180, 270};

std::size_t written = 0;

BOOL CountingSink(ExtPdev*, const BYTE*, DWORD count) {
    written += count;
    return TRUE;
}

#pragma pack(push, 1)
struct Header {
    BYTE mode;       // depth (mod 3), direction (bits 2-3), bitmap output (0x40), two planes (0x80)
    BYTE layout;     // rotation (bits 0-1), blank skipping (bits 2-3), band count - 1 (bit 4)
    BYTE itemCount;  // mod 16
    BYTE options;    // private option flags (low byte)
    WORD ditherType;
    WORD width;                                                  // 1 .. 1024
    WORD height;                                                 // 1 .. 512
    SHORT contentLeft, contentTop, contentRight, contentBottom;  // offsets into the band
    WORD pageWidth, pageHeight;                                  // up to 2048
};
#pragma pack(pop)
static_assert(sizeof(Header) == 22);

Devmode JobDevmode(const Header& h) {
    Devmode mode = cmdtest::PlainDevmode();
    mode.pub.dmFields = DM_DITHERTYPE;
    mode.pub.dmDitherType = h.ditherType;
    mode.priv.optionFlags = h.options | ((h.mode & 0x40) != 0 ? kOptionBgrOrBitmapOutput : 0);
    mode.priv.colourMode = (h.mode & 0x80) != 0 ? kColourTwoPlanes : 0;
    mode.priv.blankSkipping = (h.layout >> 2) & 3;
    return mode;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < sizeof(Header)) return 0;
    const Header h = Take<Header>(data, size);
    const WORD bits = kDepths[h.mode % 3];
    const WORD direction = static_cast<WORD>(((h.mode >> 2) & 3) + 1);
    const LONG width = 1 + h.width % kMaxWidth;
    const LONG height = 1 + h.height % kMaxHeight;
    const WORD pageWidth = h.pageWidth % (kMaxPage + 1);
    const WORD pageHeight = h.pageHeight % (kMaxPage + 1);
    const int bands = 1 + ((h.layout >> 4) & 1);

    std::vector<TextRecord> items(h.itemCount % 16);
    for (TextRecord& item : items) item = Take<TextRecord>(data, size);
    const WORD textBytes = std::min<std::size_t>(Take<WORD>(data, size), size);
    const std::vector<BYTE> text(data, data + textBytes);
    data += textBytes;
    size -= textBytes;

    // The band bitmap as the driver makes it: rows 4-byte aligned.
    const LONG stride = static_cast<LONG>((static_cast<std::int64_t>(width) * bits + 31) / 32 * 4);
    std::vector<BYTE> bitmap(static_cast<std::size_t>(stride) * height, 0xFF);
    for (std::size_t i = 0; size != 0 && i < bitmap.size(); ++i) bitmap[i] = data[i % size];

    Devmode mode = JobDevmode(h);
    PageGeometry geometry{};
    geometry.bitsPerPixel = bits;
    geometry.bandDirection = direction;
    geometry.rotation = kRotations[h.layout & 3];
    geometry.horzRes = pageWidth;
    geometry.vertRes = pageHeight;
    geometry.colourMode = static_cast<SHORT>(mode.priv.colourMode);

    std::vector<BYTE> buffer(kOutputCapacity);
    ExtPdev* pdev = CmndEnableExtPDEV(&mode, nullptr, buffer.data());
    if (pdev == nullptr) std::abort();
    pdev->writeHook = CountingSink;
    written = 0;
    CmndExtEscape(pdev, kEscapeGeometry, sizeof geometry, &geometry, 0, nullptr);
    CmndStartDoc(pdev, &mode, "Fuzz", 1);
    const SIZEL page{pageWidth, pageHeight};
    CmndStartPage(pdev, &mode, &page, nullptr, 0);
    for (int b = 0; b < bands; ++b) {
        // Bands follow each other along the band direction.
        const bool strips = direction == kStripsRight || direction == kStripsLeft;
        const LONG step = strips ? width : height;
        BandRecord record{};
        record.stride = stride;
        record.width = width;
        record.height = height;
        record.band = strips ? RECTL{b * step, 0, b * step + width, height}
                             : RECTL{0, b * step, width, b * step + height};
        record.content =
            RECTL{record.band.left + h.contentLeft, record.band.top + h.contentTop,
                  record.band.left + h.contentRight, record.band.top + h.contentBottom};
        CmndSendBand(pdev, bitmap.data(), &record, items.empty() ? nullptr : items.data(),
                     static_cast<DWORD>(items.size()), text.empty() ? nullptr : text.data(),
                     static_cast<DWORD>(text.size()));
    }
    CmndEndPage(pdev);
    CmndEndDoc(pdev);
    // Everything taken into the buffer reached the writer.
    if (pdev->outputFill != 0 && (pdev->outputFlags & kOutFailed) == 0) std::abort();
    CmndDisableExtPDEV(pdev);
    return 0;
}

namespace {

// One band per depth and direction: a black bar and a grey ramp in the
// bitmap, and a printer-font, a barcode, a two-dimensional code, a control
// and a hex command item.
void WriteSeeds() {
    const std::string text =
        "TOTAL 12.50"
        "4901234567894"
        "QR DATA"
        "\x1b\x70"
        "1B40";
    const TextRecord records[] = {
        {1, 0, 0, 11, 8, 4, 120, 24},
        {100, 0, 11, 13, 8, 40, 200, 60},
        {150, 0, 24, 7, 220, 4, 80, 80},
        {kControlItem, 0, 31, 2, 0, 0, 10, 10},
        {kHexCommandItem, 0, 33, 4, 0, 0, 10, 10},
    };
    for (int depth = 0; depth < 3; ++depth) {
        for (int direction = 0; direction < 4; ++direction) {
            Header h{};
            h.mode = static_cast<BYTE>(depth | direction << 2);
            h.layout = 0;
            h.itemCount = sizeof records / sizeof records[0];
            h.ditherType = depth == 2 ? 5 : depth == 1 ? 260 : 258;
            h.width = 95;   // 96 pixels
            h.height = 47;  // 48 rows
            h.contentLeft = 0;
            h.contentTop = 0;
            h.contentRight = 96;
            h.contentBottom = 48;
            h.pageWidth = 576;
            h.pageHeight = 800;
            std::vector<std::uint8_t> seed;
            fuzzsupport::Append(&seed, h);
            for (const TextRecord& record : records) fuzzsupport::Append(&seed, record);
            fuzzsupport::Append(&seed, static_cast<WORD>(text.size()));
            seed.insert(seed.end(), text.begin(), text.end());
            // One band row of black, one of a grey ramp; the input repeats.
            const std::size_t row = (96u * kDepths[depth] + 31) / 32 * 4;
            seed.insert(seed.end(), row, 0x00);
            for (std::size_t i = 0; i < row; ++i) seed.push_back(static_cast<std::uint8_t>(i * 5));
            fuzzsupport::WriteSeed("band-" + std::to_string(kDepths[depth]) + "bit-dir" +
                                       std::to_string(direction + 1),
                                   seed.data(), seed.size());
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzsupport::WriteSeedsIfAsked(WriteSeeds);
    return 0;
}
