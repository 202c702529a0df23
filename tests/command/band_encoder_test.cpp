// Bands through CmndSendBand to the printer stream: feeds, raster blocks,
// blank skipping, items on their rows, the landscape and upside-down
// conversions, and pages split into several bands printing as one.

#include <random>

#include "command/page_raster.h"
#include "command_test_util.h"

namespace cmdtest {
namespace {

using namespace std::string_literals;

// A one-bit bitmap, rows `stride` bytes apart, white to begin with.
struct Bitmap {
    LONG width = 0;
    LONG height = 0;
    LONG stride = 0;
    std::vector<BYTE> bits;

    Bitmap(LONG w, LONG h) : width(w), height(h), stride((w + 31) / 32 * 4) {
        bits.assign(static_cast<std::size_t>(stride) * h, 0xFF);
    }
    BYTE* Row(LONG r) { return bits.data() + static_cast<std::size_t>(r) * stride; }
    bool Dot(LONG x, LONG y) const { return ((bits[y * stride + x / 8] >> (7 - x % 8)) & 1) == 0; }
    void SetDot(LONG x, LONG y) {
        bits[y * stride + x / 8] &= static_cast<BYTE>(~(0x80 >> (x % 8)));
    }
};

struct Band {
    const BYTE* bits;
    LONG stride, width, height;
    RECTL band, content;
    std::vector<TextRecord> items;
    std::string text;
};

TextRecord Item(WORD kind, LONG x, LONG y, LONG cx, LONG cy, DWORD offset, WORD count) {
    TextRecord item{};
    item.fontId = kind;
    item.offset = offset;
    item.count = count;
    item.x = x;
    item.y = y;
    item.width = cx;
    item.height = cy;
    return item;
}

// Items fit on a sheet printable over 576 x 10,000 dots.
PageGeometry Printable(WORD bits = 1, WORD direction = 1) {
    PageGeometry geometry = Geometry(bits, direction);
    geometry.horzRes = 576;
    geometry.vertRes = 10000;
    return geometry;
}

std::string Feed(int dots) {
    std::string bytes;
    for (; dots > 0; dots -= std::min(dots, 255))
        bytes += "\x1B\x4A"s + static_cast<char>(std::min(dots, 255));
    return bytes;
}

class BandEncoder : public CommandJob {
  protected:
    // One page of `bands` through the exports; the bytes between the page
    // start group and the document end group.
    std::string PrintPage(const Devmode& mode, const PageGeometry& geometry, SIZEL page,
                          const std::vector<Band>& bands) {
        if (Begin(mode, geometry) == nullptr) return "<no record>";
        EXPECT_EQ(CmndStartPage(pdev_, &mode_, &page, nullptr, 0), 1);
        for (const Band& band : bands) {
            BandRecord record{};
            record.stride = band.stride;
            record.width = band.width;
            record.height = band.height;
            record.band = band.band;
            record.content = band.content;
            EXPECT_EQ(CmndSendBand(pdev_, band.bits, &record, band.items.data(),
                                   static_cast<DWORD>(band.items.size()),
                                   reinterpret_cast<const BYTE*>(band.text.data()),
                                   static_cast<DWORD>(band.text.size())),
                      1);
        }
        EXPECT_EQ(CmndEndPage(pdev_), 1);
        const std::string stream = End();
        const std::string head = kDocStart + kPageStartOneSided;
        if (stream.compare(0, head.size(), head) != 0 || stream.size() < head.size() + 2 ||
            stream.compare(stream.size() - kDocEnd.size(), kDocEnd.size(), kDocEnd) != 0)
            return "<unexpected groups>";
        return stream.substr(head.size(), stream.size() - head.size() - kDocEnd.size());
    }
    // A fresh printer and job for the next page of a test.
    void Renew() {
        TearDown();
        SetUp();
    }
    std::string PrintBitmap(const Bitmap& bitmap, WORD skip = 0, RECTL content = {},
                            std::vector<TextRecord> items = {}, std::string text = {}) {
        Devmode mode = PlainDevmode();
        mode.priv.blankSkipping = skip;
        const RECTL whole{0, 0, bitmap.width, bitmap.height};
        return PrintPage(mode, Printable(), {bitmap.width, bitmap.height},
                         {{bitmap.bits.data(), bitmap.stride, bitmap.width, bitmap.height, whole,
                           content, std::move(items), std::move(text)}});
    }
};

TEST_F(BandEncoder, OneBlackRowIsFedToThenSentAsOneRasterLine) {
    Bitmap bitmap(576, 600);
    std::memset(bitmap.Row(5), 0x00, 72);
    const std::string expected =
        Feed(5) + "\x1B\x2C\x00\x01\x00"s + std::string(72, '\xFF') + Feed(594);
    EXPECT_EQ(PrintBitmap(bitmap), expected);
}

TEST_F(BandEncoder, FeedsAreSplitIntoStepsOf255) {
    Bitmap bitmap(576, 601);
    std::memset(bitmap.Row(600), 0x00, 72);
    const std::string body = PrintBitmap(bitmap);
    EXPECT_EQ(body.substr(0, 9), "\x1B\x4A\xFF\x1B\x4A\xFF\x1B\x4A\x5A"s);
}

TEST_F(BandEncoder, ImageRowsGoInBlocksOfTenAndRowBytesAreSwappedAndComplemented) {
    Bitmap bitmap(16, 23);
    for (LONG r = 0; r < 23; ++r) bitmap.Row(r)[0] = 0x12, bitmap.Row(r)[1] = 0x34;
    const std::string body = PrintBitmap(bitmap);
    std::string expected;
    for (int rows : {10, 10, 3}) {
        expected += "\x1B\x2C\x00"s + static_cast<char>(rows) + '\x00';
        for (int i = 0; i < rows; ++i) expected += "\xCB\xED"s;
    }
    EXPECT_EQ(body, expected);
}

TEST_F(BandEncoder, AnOddByteCountPairsTheLastByteWithWhiteAndPartialBytesAreNotSent) {
    Bitmap bitmap(29, 1);  // three whole bytes are sent, the fourth is partial
    bitmap.Row(0)[0] = 0x0F;
    bitmap.Row(0)[1] = 0xF0;
    bitmap.Row(0)[2] = 0x7E;
    bitmap.Row(0)[3] = 0x00;
    EXPECT_EQ(PrintBitmap(bitmap), "\x1B\x2C\x00\x01\x00\x0F\xF0\x00\x81"s);
}

TEST_F(BandEncoder, BlankSkippingAtTopAndBottom) {
    Bitmap white(576, 300);
    EXPECT_EQ(PrintBitmap(white, 0x03, {0, 0, 576, 300}), "");

    Bitmap bitmap(576, 300);
    std::memset(bitmap.Row(100), 0x00, 72);
    const std::string line = "\x1B\x2C\x00\x01\x00"s + std::string(72, '\xFF');
    const struct {
        WORD skip;
        RECTL content;
        std::string expected;
    } cases[] = {
        {0x01, {0, 0, 576, 300}, line + Feed(199)},
        {0x02, {0, 0, 576, 300}, Feed(100) + line},
        {0x03, {0, 0, 576, 300}, line},
        {0x03, {}, ""},  // without a drawn area nothing counts as content
    };
    for (const auto& c : cases) {
        Renew();
        EXPECT_EQ(PrintBitmap(bitmap, c.skip, c.content), c.expected) << c.skip;
    }
}

TEST_F(BandEncoder, BarcodesOfALineGoBeforeItsTextAndTheLinePrintsWithoutFeed) {
    Bitmap bitmap(576, 100);
    const std::vector<TextRecord> items = {Item(1, 0, 10, 24, 24, 0, 2),
                                           Item(100, 200, 10, 200, 60, 2, 12)};
    const std::string body = PrintBitmap(bitmap, 0, {}, items, "AB012345678905");
    const std::size_t barcode = body.find("\x1B\x24\xC8\x00"s);
    const std::size_t text = body.find("\x1B\x24\x00\x00"s);
    ASSERT_NE(barcode, std::string::npos);
    ASSERT_NE(text, std::string::npos);
    EXPECT_LT(barcode, text);
    EXPECT_EQ(body.substr(0, 3), Feed(10));
    const std::size_t line = body.find("AB\x1B\x4A\x00"s, text);
    ASSERT_NE(line, std::string::npos);
    // The 60-dot barcode line covers rows 10..69: only rows 70..99 are fed.
    EXPECT_EQ(body.substr(line + 5), Feed(30));
}

TEST_F(BandEncoder, AnItemAboveTheBandPrintsOnItsFirstRow) {
    Bitmap bitmap(576, 40);
    const std::string body = PrintBitmap(bitmap, 0, {}, {Item(1, 0, -3, 24, 24, 0, 1)}, "Q");
    EXPECT_EQ(body.substr(0, 4), "\x1B\x24\x00\x00"s);
    EXPECT_NE(body.find("Q\x1B\x4A\x00"s), std::string::npos);
}

TEST_F(BandEncoder, ItemsPointingOutsideTheTextDataAreDropped) {
    Bitmap bitmap(576, 40);
    const std::vector<TextRecord> items = {Item(1, 0, 5, 24, 24, 3, 4),
                                           Item(1, 0, 6, 24, 24, 0xFFFFFFF0u, 0x20)};
    EXPECT_EQ(PrintBitmap(bitmap, 0, {}, items, "ABCD"), Feed(40));
}

TEST_F(BandEncoder, ABandWithoutBitsFails) {
    ASSERT_NE(Begin(PlainDevmode()), nullptr);
    const SIZEL page{576, 10};
    ASSERT_EQ(CmndStartPage(pdev_, &mode_, &page, nullptr, 0), 1);
    BandRecord record{0, 72, 576, 10, {0, 0, 576, 10}, {}, 0};
    EXPECT_EQ(CmndSendBand(pdev_, nullptr, &record, nullptr, 0, nullptr, 0), 0);
    record.stride = 71;  // less than a row
    std::vector<BYTE> bits(720, 0xFF);
    EXPECT_EQ(CmndSendBand(pdev_, bits.data(), &record, nullptr, 0, nullptr, 0), 0);
}

// A page whose walk runs out of memory is not passed off as printed: the
// step that walks it fails (the band when it holds the whole page, else the
// end of the page), the job's output fails and nothing of it is sent.
TEST_F(BandEncoder, AWalkThatRunsOutOfMemoryFailsItsStep) {
    struct Limit {
        Limit() { SetWalkBufferLimitForTesting(1); }
        ~Limit() { SetWalkBufferLimitForTesting(0); }
    } limit;
    Bitmap bitmap(576, 40);
    std::memset(bitmap.Row(5), 0x00, 72);
    for (LONG bandRows : {40, 20}) {
        Renew();
        ASSERT_NE(Begin(PlainDevmode()), nullptr);
        const SIZEL page{576, 40};
        ASSERT_EQ(CmndStartPage(pdev_, &mode_, &page, nullptr, 0), 1);
        WORD sent = 1;
        for (LONG top = 0; top < 40; top += bandRows) {
            const BandRecord record{
                0, bitmap.stride, 576, bandRows, {0, top, 576, top + bandRows}, {}, 0};
            sent = CmndSendBand(pdev_, bitmap.Row(top), &record, nullptr, 0, nullptr, 0);
        }
        EXPECT_EQ(sent, bandRows == 40 ? 0 : 1);
        EXPECT_EQ(CmndEndPage(pdev_), 0) << bandRows;
        EXPECT_EQ(CmndEndDoc(pdev_), 0);
        EXPECT_EQ(CmndDisableExtPDEV(pdev_), 1);
        pdev_ = nullptr;
        EXPECT_EQ(Output(), "") << bandRows;
    }
}

// Two-colour printing: an 8-bit band of grey 40 under the fixed threshold
// is white in plane 1 (the dark range maps 40 to 129) and all dots in
// plane 2; each row sends its plane-2 line first. The colour mode is 16
// bits: the bytes after it do not count.
TEST_F(BandEncoder, TwoPlanesSendPlaneTwoFirstWithModeTwo) {
    const std::string twoPlanes = "\x1B\x2C\x02\x02\x00"s + "\xFF\xFF\x00\x00\xFF\xFF\x00\x00"s;
    const std::string onePlane = "\x1B\x2C\x00\x02\x00"s + "\xFF\xFF\xFF\xFF"s;
    const struct {
        WORD colourMode;
        BYTE following;  // the byte after the colour mode
        std::string expected;
    } cases[] = {{3, 0, twoPlanes}, {3, 1, twoPlanes}, {1, 0, onePlane}, {1, 1, onePlane}};
    for (const auto& c : cases) {
        Renew();
        Devmode mode = PlainDevmode();
        mode.pub.dmDitherType = 260;
        mode.priv.colourMode = c.colourMode;
        mode.priv.reserved642[0] = c.following;
        std::vector<BYTE> grey(16 * 2, 40);
        const std::string body = PrintPage(mode, Geometry(8), {16, 2},
                                           {{grey.data(), 16, 16, 2, {0, 0, 16, 2}, {}, {}, {}}});
        EXPECT_EQ(body, c.expected) << c.colourMode << " " << int{c.following};
    }
}

// Dots of the stream's raster, rows in paper order (feeds add white rows).
std::vector<std::vector<bool>> PrintedDots(const std::string& body, LONG lineBytes) {
    std::vector<std::vector<bool>> rows;
    std::size_t at = 0;
    const auto byte = [&](std::size_t i) { return static_cast<BYTE>(body.at(i)); };
    while (at < body.size()) {
        if (byte(at) == 0x1B && byte(at + 1) == 0x4A) {
            rows.resize(rows.size() + byte(at + 2), std::vector<bool>(lineBytes * 8));
            at += 3;
        } else if (byte(at) == 0x1B && byte(at + 1) == 0x2C) {
            const int n = byte(at + 3) | byte(at + 4) << 8;
            at += 5;
            for (int i = 0; i < n; ++i, at += lineBytes) {
                std::vector<bool> row(lineBytes * 8);
                for (LONG k = 0; k < lineBytes; ++k) {
                    const BYTE value = byte(at + (k ^ 1));  // units are byte-swapped
                    for (int bit = 0; bit < 8; ++bit) row[k * 8 + bit] = (value >> (7 - bit)) & 1;
                }
                rows.push_back(row);
            }
        } else {
            ADD_FAILURE() << "unexpected byte at " << at;
            break;
        }
    }
    return rows;
}

Bitmap RandomBitmap(LONG width, LONG height, std::mt19937& random) {
    Bitmap bitmap(width, height);
    for (LONG y = 0; y < height; ++y)
        for (LONG x = 0; x < width; ++x)
            if (random() % 3 == 0) bitmap.SetDot(x, y);
    return bitmap;
}

// Landscape strips and the upside-down direction against a per-pixel
// rotation, for every width from 1 to 80 dots.
TEST_F(BandEncoder, ConversionsMatchAPerPixelRotation) {
    std::mt19937 random(7);
    const LONG height = 32;  // becomes the printed width: four whole bytes
    for (WORD direction : {WORD{2}, WORD{3}, WORD{4}}) {
        for (LONG width = 1; width <= 80; ++width) {
            const Bitmap bitmap = RandomBitmap(width, height, random);
            const RECTL whole{0, 0, width, height};
            const std::string body = PrintPage(
                PlainDevmode(), Geometry(1, direction), {width, height},
                {{bitmap.bits.data(), bitmap.stride, width, height, whole, whole, {}, {}}});
            const bool strips = direction != 4;
            const LONG printedWidth = strips ? height : width;
            const LONG printedRows = strips ? width : height;
            const auto rows = PrintedDots(body, printedWidth / 8 + (printedWidth / 8) % 2);
            ASSERT_EQ(static_cast<LONG>(rows.size()), printedRows) << direction << " " << width;
            for (LONG i = 0; i < printedRows; ++i) {
                for (LONG x = 0; x < printedWidth / 8 * 8; ++x) {
                    bool expected;
                    if (direction == 3)  // 90°: row i is column width-1-i, top down
                        expected = bitmap.Dot(width - 1 - i, x);
                    else if (direction == 2)  // 270°: row i is column i, bottom up
                        expected = bitmap.Dot(i, height - 1 - x);
                    else  // 180°
                        expected = bitmap.Dot(width - 1 - x, height - 1 - i);
                    ASSERT_EQ(rows[i][x], expected) << "direction " << direction << " width "
                                                    << width << " row " << i << " dot " << x;
                }
            }
            Renew();
        }
    }
}

// A receipt-like page: blank stretches, text-like rows, a bar block and
// items; split into 1, 2 and 7 bands it gives the same stream.
TEST_F(BandEncoder, APageSplitIntoBandsPrintsAsOneBand) {
    std::mt19937 random(11);
    const LONG width = 576, height = 700;
    Bitmap page(width, height);
    for (LONG y = 40; y < 300; ++y)
        if (y % 30 < 20)
            for (LONG x = 0; x < width; ++x)
                if (random() % 4 == 0) page.SetDot(x, y);
    for (LONG y = 310; y < 333; ++y) std::memset(page.Row(y) + 8, 0x00, 40);
    std::vector<std::pair<LONG, TextRecord>> items;  // page row, item
    const std::string text = "TOTAL 12.50";
    for (LONG y : {20L, 255L, 256L, 400L, 699L})
        items.push_back({y, Item(y == 256 ? 3 : 1, 24, 0, 120, 24, 0, 11)});

    for (WORD skip : {WORD{0}, WORD{3}}) {
        std::string single;
        for (int count : {1, 2, 7}) {
            std::vector<Band> bands;
            const LONG rowsPerBand = (height + count - 1) / count;
            for (LONG top = 0; top < height; top += rowsPerBand) {
                const LONG rows = std::min(rowsPerBand, height - top);
                Band band{page.Row(top),
                          page.stride,
                          width,
                          rows,
                          {0, top, width, top + rows},
                          {0, top, width, top + rows},
                          {},
                          text};
                for (auto [y, item] : items)
                    if (y >= top && y < top + rows) item.y = y - top, band.items.push_back(item);
                bands.push_back(band);
            }
            Devmode mode = PlainDevmode();
            mode.priv.blankSkipping = skip;
            const std::string body = PrintPage(mode, Printable(), {width, height}, bands);
            if (count == 1)
                single = body;
            else
                EXPECT_EQ(body, single) << count << " bands, skip " << skip;
            Renew();
        }
        EXPECT_GT(single.size(), 1000u);
    }
}

// The band that holds a whole page is read while it is sent and never
// after (the driver erases it for the next page); reaching above the page,
// it prints as the same rows sent in two bands.
TEST_F(BandEncoder, AWholePageBandIsReadOnlyWhileItIsSent) {
    std::mt19937 random(5);
    const LONG width = 576, height = 300, above = 7, split = 150;
    Bitmap taller(width, height + above);
    for (LONG y = 0; y < height + above; ++y)
        if (y % 25 < 12)
            for (LONG x = 0; x < width; ++x)
                if (random() % 3 == 0) taller.SetDot(x, y);
    Bitmap before = taller;
    const std::string expected = PrintPage(PlainDevmode(), Printable(), {width, height},
                                           {{before.Row(0),
                                             before.stride,
                                             width,
                                             split + above,
                                             {0, -above, width, split},
                                             {0, -above, width, split},
                                             {},
                                             {}},
                                            {before.Row(split + above),
                                             before.stride,
                                             width,
                                             height - split,
                                             {0, split, width, height},
                                             {0, split, width, height},
                                             {},
                                             {}}});
    EXPECT_GT(expected.size(), 5000u);
    Renew();

    ASSERT_NE(Begin(PlainDevmode(), Printable()), nullptr);
    const SIZEL page{width, height};
    ASSERT_EQ(CmndStartPage(pdev_, &mode_, &page, nullptr, 0), 1);
    BandRecord record{};
    record.stride = taller.stride;
    record.width = width;
    record.height = height + above;
    record.band = record.content = {0, -above, width, height};
    ASSERT_EQ(CmndSendBand(pdev_, taller.bits.data(), &record, nullptr, 0, nullptr, 0), 1);
    std::fill(taller.bits.begin(), taller.bits.end(), BYTE{0x00});  // all black now
    ASSERT_EQ(CmndEndPage(pdev_), 1);
    const std::string stream = End();
    const std::string head = kDocStart + kPageStartOneSided;
    ASSERT_GT(stream.size(), head.size() + kDocEnd.size());
    EXPECT_EQ(stream.substr(head.size(), stream.size() - head.size() - kDocEnd.size()), expected);
}

}  // namespace
}  // namespace cmdtest
