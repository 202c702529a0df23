// Reading printer byte streams back: commands, paper layout, printed pages.

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "tools/preview/paper_layout.h"

namespace {

using qlpr::DecodedStream;
using qlpr::DecodeStream;
using qlpr::kTwoDimensionalSymbol;
using qlpr::Op;
using qlpr::PaperItemKind;
using Bytes = std::vector<unsigned char>;

Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

// A raster line of `lineBytes` sent bytes that starts with `head`.
Bytes Line(const Bytes& head, std::size_t lineBytes = 72) {
    Bytes line(lineBytes, 0);
    std::copy(head.begin(), head.end(), line.begin());
    return line;
}

Bytes Raster(int m, int rows) {
    return {0x1B, 0x2C, static_cast<unsigned char>(m), static_cast<unsigned char>(rows & 0xFF),
            static_cast<unsigned char>(rows >> 8)};
}

DecodedStream Decode(const Bytes& stream, int lineBytes = 72) {
    return DecodeStream(stream, qlpr::DecodeOptions{lineBytes});
}

TEST(StreamDecoder, ListsEveryCommandTheDriverSends) {
    struct Expected {
        Bytes bytes;
        Op op;
        std::string mnemonic;
        std::vector<int> args;
        std::size_t dataSize;
    };
    const std::vector<Expected> table = {
        {{0x1B, 0x40}, Op::kInitialize, "ESC @", {}, 0},
        {{0x1B, 0x32}, Op::kDefaultLineSpacing, "ESC 2", {}, 0},
        {{0x1F, 0x60, 0x02}, Op::kPaperMode, "US `", {2}, 0},
        {{0x1F, 0x61, 0x01}, Op::kSide, "US a", {1}, 0},
        {{0x1F, 0x62}, Op::kSheetEnd, "US b", {}, 0},
        {{0x1B, 0x53}, Op::kStandardMode, "ESC S", {}, 0},
        {{0x1B, 0x4A, 0xB4}, Op::kFeed, "ESC J", {180}, 0},
        {{0x1B, 0x24, 0x2C, 0x01}, Op::kPosition, "ESC $", {300}, 0},
        {{0x1B, 0x74, 0x02}, Op::kCodeTable, "ESC t", {2}, 0},
        {{0x1B, 0x4D, 0x01}, Op::kFont, "ESC M", {1}, 0},
        {{0x1D, 0x21, 0x11}, Op::kSize, "GS !", {0x11}, 0},
        {{0x1B, 0x45, 0x01}, Op::kBold, "ESC E", {1}, 0},
        {{0x1B, 0x2D, 0x00}, Op::kUnderline, "ESC -", {0}, 0},
        {{'A', 'b', 0xE9}, Op::kText, "TEXT", {}, 3},
        {{0x1F, 0x36, 0x27, 0x00, 0xFF}, Op::kSymbolKind, "US 6 '", {0, 255}, 0},
        {{0x1D, 0x77, 0x03}, Op::kModuleWidth, "GS w", {3}, 0},
        {{0x1D, 0x68, 0xA2}, Op::kBarHeight, "GS h", {162}, 0},
        {{0x1D, 0x48, 0x02}, Op::kTextPosition, "GS H", {2}, 0},
        {{0x1D, 0x66, 0x00}, Op::kTextFont, "GS f", {0}, 0},
        {{0x1D, 0x6B, 0x43, 0x02, '1', '2'}, Op::kBarcode, "GS k", {0x43, 2}, 2},
        {{0x1B, 0x70, 0x00, 0x0A, 0x64}, Op::kDrawerKick, "ESC p", {0, 10, 100}, 0},
        {{0x1F, 0x30, 0x05}, Op::kSelectImage, "US 0", {5}, 0},
        {{0x1D, 0x2F, 0x03}, Op::kPrintImage, "GS /", {3}, 0},
        {{0x1D, 0x56, 0x00}, Op::kCut, "GS V", {0}, 0},
        {{0x1D, 0x56, 0x42, 0x00}, Op::kCut, "GS V", {0x42, 0}, 0},
        {{0x1D, 0x56, 0x01}, Op::kCut, "GS V", {1}, 0},
        {{0x1B, 0x61, 0x02}, Op::kJustify, "ESC a", {2}, 0},
        {{0x09}, Op::kTab, "HT", {}, 0},
        {{0x0A}, Op::kLineFeed, "LF", {}, 0},
        {{0x0D}, Op::kCarriageReturn, "CR", {}, 0},
        {Cat({Raster(2, 2), Bytes(4 * 72, 0x55)}), Op::kRaster, "ESC ,", {2, 2}, 4 * 72},
    };
    Bytes stream;
    for (const Expected& entry : table)
        stream.insert(stream.end(), entry.bytes.begin(), entry.bytes.end());

    const DecodedStream decoded = Decode(stream);
    EXPECT_EQ(decoded.unknownBytes, 0u);
    ASSERT_EQ(decoded.commands.size(), table.size());
    std::size_t offset = 0;
    for (std::size_t i = 0; i < table.size(); ++i) {
        const qlpr::StreamCommand& command = decoded.commands[i];
        SCOPED_TRACE(table[i].mnemonic);
        EXPECT_EQ(command.op, table[i].op);
        EXPECT_EQ(command.mnemonic, table[i].mnemonic);
        EXPECT_EQ(command.args, table[i].args);
        EXPECT_EQ(command.offset, offset);
        EXPECT_EQ(command.size, table[i].bytes.size());
        EXPECT_EQ(command.data.size(), table[i].dataSize);
        offset += table[i].bytes.size();
    }
}

TEST(StreamDecoder, RasterLinesAreComplementedAndByteSwappedUnits) {
    // The printer row 12 34 (0 = dot) is sent as CB ED.
    const std::vector<unsigned char> row = qlpr::UnpackRasterLine(Bytes{0xCB, 0xED, 0x00, 0x80}, 0);
    EXPECT_EQ(row, (Bytes{0xED, 0xCB, 0x80, 0x00}));
    // The left pad is dropped; a lone byte at the end can only be right pad.
    EXPECT_EQ(qlpr::UnpackRasterLine(Bytes{0x00, 0x01, 0x02, 0x00}, 1), (Bytes{0x02, 0x01, 0x00}));
    EXPECT_TRUE(qlpr::UnpackRasterLine(Bytes{0x00}, 5).empty());
}

TEST(StreamDecoder, PrintedPagesPutPlanesAndRowsWhereTheyPrint) {
    // Two rows of a two-plane block: each row's plane-2 line comes first.
    const Bytes stream = Cat({{0x1B, 0x4A, 0x03},
                              Raster(2, 2),
                              Line({0x80, 0x00}),
                              Line({0x00, 0x01}),
                              Line({}),
                              Line({0x00, 0x00, 0x00, 0x40})});
    const qlpr::PaperLayout layout = qlpr::LayOutPaper(Decode(stream), {});
    ASSERT_EQ(layout.lengthRows, 5);
    const std::vector<qlpr::PrintedPage> pages = qlpr::PrintedPages(layout);
    ASSERT_EQ(pages.size(), 1u);
    const qlpr::PrintedPage& page = pages[0];
    EXPECT_EQ(page.width, 576);
    EXPECT_TRUE(page.twoPlanes);
    EXPECT_FALSE(page.endsInCut);
    // Unit (00, 80) of plane 2 is the row byte pair (80, 00): dot 8.
    EXPECT_TRUE(page.Dot(2, 8, 3));
    EXPECT_FALSE(page.Dot(2, 0, 3));
    // Unit (00, 01) of plane 1 is (01, 00): dot 7.
    EXPECT_TRUE(page.Dot(1, 7, 3));
    // Second row: plane 2 blank, plane 1 unit (00, 40) at bytes 2-3: dot 17.
    EXPECT_TRUE(page.Dot(1, 17, 4));
    int dots = 0;
    for (int y = 0; y < page.height; ++y)
        for (int x = 0; x < page.width; ++x) dots += page.Dot(1, x, y) + page.Dot(2, x, y);
    EXPECT_EQ(dots, 3);
}

TEST(StreamDecoder, CutsSplitPagesAndFeedsMoveRows) {
    const Bytes stream = Cat({{0x1B, 0x4A, 0x02},
                              Raster(0, 1),
                              Line({0xFF, 0xFF}),
                              {0x1D, 0x56, 0x00},
                              {0x1D, 0x56, 0x01},  // a second cut with nothing between
                              {0x1B, 0x4A, 0xFF, 0x1B, 0x4A, 0x0A},
                              Raster(0, 1),
                              Line({0x00, 0x00, 0x01}),
                              {0x1D, 0x56, 0x01}});
    const std::vector<qlpr::PrintedPage> pages =
        qlpr::PrintedPages(qlpr::LayOutPaper(Decode(stream), {}));
    ASSERT_EQ(pages.size(), 2u);
    EXPECT_EQ(pages[0].height, 3);
    EXPECT_TRUE(pages[0].endsInCut);
    EXPECT_FALSE(pages[0].partialCut);
    EXPECT_TRUE(pages[0].Dot(1, 0, 2) && pages[0].Dot(1, 15, 2));
    EXPECT_FALSE(pages[0].Dot(1, 16, 2));
    EXPECT_EQ(pages[1].height, 266);
    EXPECT_TRUE(pages[1].partialCut);
    // Unit (01, 00) at bytes 2-3 is the row pair (00, 01): dot 31.
    EXPECT_TRUE(pages[1].Dot(1, 31, 265));
    EXPECT_FALSE(pages[1].twoPlanes);
}

TEST(StreamDecoder, PadsComeOffTheLine) {
    // 74-byte lines: one pad byte each side.
    const Bytes stream = Cat({Raster(0, 1), Line({0x00, 0x00, 0x80}, 74)});
    const qlpr::PaperLayout layout = qlpr::LayOutPaper(Decode(stream, 74), {74, 1});
    EXPECT_EQ(layout.widthDots, 584);
    const std::vector<qlpr::PrintedPage> pages = qlpr::PrintedPages(layout);
    ASSERT_EQ(pages.size(), 1u);
    EXPECT_TRUE(pages[0].Dot(1, 0, 0));
}

TEST(StreamDecoder, PrintedLinesMoveThePaperByTheirHeight) {
    // Double-size font A text is 48 rows; ESC J 0 prints it without feeding
    // more, so the raster row after it lands on row 48. An empty LF feeds
    // one line of 30 rows.
    const Bytes stream =
        Cat({{0x1B, 0x24, 0x10, 0x00, 0x1D, 0x21, 0x11, 'H', 'i', 0x1B, 0x4A, 0x00},
             Raster(0, 1),
             Line({0xFF}),
             {0x0A},
             Raster(0, 1),
             Line({0xFF})});
    const qlpr::PaperLayout layout = qlpr::LayOutPaper(Decode(stream), {});
    std::vector<int> rasterRows;
    const qlpr::PaperItem* text = nullptr;
    for (const qlpr::PaperItem& item : layout.items) {
        if (item.kind == PaperItemKind::kRasterRow) rasterRows.push_back(item.y);
        if (item.kind == PaperItemKind::kText) text = &item;
    }
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(text->x, 16);
    EXPECT_EQ(text->width, 48);
    EXPECT_EQ(text->height, 48);
    EXPECT_EQ(rasterRows, (std::vector<int>{48, 79}));
    EXPECT_EQ(layout.lengthRows, 80);
}

TEST(StreamDecoder, SymbolsAndStoredImagesTakeTheirRows) {
    const Bytes stream = Cat({{0x1D, 0x68, 0x50, 0x1D, 0x48, 0x02, 0x1D, 0x66, 0x01},
                              {0x1D, 0x6B, 0x43, 0x0C},
                              Bytes{'5', '9', '0', '1', '2', '3', '4', '1', '2', '3', '4', '5'},
                              {0x1F, 0x30, 0x07, 0x1D, 0x2F, 0x00},
                              {0x1B, 0x70, 0x01, 0x0A, 0x64}});
    const qlpr::PaperLayout layout = qlpr::LayOutPaper(Decode(stream), {});
    ASSERT_EQ(layout.items.size(), 3u);
    const qlpr::PaperItem& symbol = layout.items[0];
    EXPECT_EQ(symbol.kind, PaperItemKind::kSymbol);
    EXPECT_EQ(symbol.y, 0);
    // 80 rows of bars and one font B line of human-readable text below.
    EXPECT_EQ(symbol.height, 80 + 17);
    EXPECT_GT(symbol.width, 0);
    const qlpr::PaperItem& image = layout.items[1];
    EXPECT_EQ(image.kind, PaperItemKind::kStoredImage);
    EXPECT_EQ(image.image, 7);
    EXPECT_EQ(image.y, 97);
    const qlpr::PaperItem& kick = layout.items[2];
    EXPECT_EQ(kick.kind, PaperItemKind::kMark);
    EXPECT_EQ(kick.label, "drawer 2");
    EXPECT_EQ(kick.y, 97 + image.height);
}

TEST(StreamDecoder, DrawsLinearAndTwoDimensionalSymbols) {
    const Bytes digits{'5', '9', '0', '1', '2', '3', '4', '1', '2', '3', '4', '5'};
    qlpr::SymbolSettings settings;
    settings.moduleWidth = 2;
    settings.barHeight = 40;
    const auto ean = qlpr::DrawSymbol(67, digits, settings);
    ASSERT_TRUE(ean);
    // EAN-13 is 95 modules wide.
    EXPECT_EQ(ean->width, 95 * 2);
    EXPECT_EQ(ean->height, 40);
    EXPECT_TRUE(ean->bars[0]);  // the start guard

    const auto qr = qlpr::DrawSymbol(75, digits, settings);
    ASSERT_TRUE(qr);
    EXPECT_EQ(qr->width, qr->height);
    settings.twoDimensionalKind = 1;  // PDF417 is wider than tall
    const auto pdf = qlpr::DrawSymbol(75, digits, settings);
    ASSERT_TRUE(pdf);
    EXPECT_GT(pdf->width, pdf->height);

    EXPECT_FALSE(qlpr::DrawSymbol(65, Bytes{'x'}, settings));  // not digits
    EXPECT_FALSE(qlpr::DrawSymbol(74, digits, settings));      // no such symbol
    EXPECT_FALSE(qlpr::DrawSymbol(73, Bytes{}, settings));
}

// The layout measures each symbol without drawing it: the size must be the
// drawn image's, for every symbol the printer has, at narrow and wide
// modules, and none exactly when nothing can be drawn.
TEST(StreamDecoder, MeasuredSymbolsAreTheSizeOfTheirImages) {
    auto bytes = [](const std::string& text) { return Bytes(text.begin(), text.end()); };
    struct Case {
        int m;
        Bytes data;
        int twoDimensionalKind;
        int modules;  // known width in modules, 0: not checked
    } const cases[] = {
        {65, bytes("01234567890"), 0, 95},     // UPC-A
        {66, bytes("0123456"), 0, 51},         // UPC-E
        {67, bytes("590123412345"), 0, 95},    // EAN-13
        {68, bytes("1234567"), 0, 67},         // EAN-8
        {67, bytes("590123412345+12"), 0, 0},  // with an add-on
        {69, bytes("CODE-39 $/+%"), 0, 0},
        {70, bytes("12345678"), 0, 0},
        {71, bytes("A1234-5678$:/.+B"), 0, 0},
        {72, bytes("Code 93"), 0, 0},
        {73, bytes("Receipt 42"), 0, 0},
        {73, Bytes(255, 'Z'), 0, 0},  // the longest code GS k sends
        {73, bytes("ABC"), 0, 68},    // start, three characters, check, stop
        {kTwoDimensionalSymbol, bytes("https://example.com/receipt/42"), 0, 0},
        {kTwoDimensionalSymbol, bytes("https://example.com/receipt/42"), 1, 0},
        {65, bytes("x"), 0, 0},                  // refused: not digits
        {74, bytes("123"), 0, 0},                // no such symbol
        {kTwoDimensionalSymbol, Bytes{}, 0, 0},  // nothing to encode
    };
    for (const Case& c : cases) {
        for (int module : {1, 3, 8}) {
            SCOPED_TRACE("m " + std::to_string(c.m) + ", " + std::to_string(c.data.size()) +
                         " bytes, module " + std::to_string(module));
            qlpr::SymbolSettings settings;
            settings.moduleWidth = module;
            settings.barHeight = 17;
            settings.twoDimensionalKind = c.twoDimensionalKind;
            const auto size = qlpr::MeasureSymbol(c.m, c.data, settings);
            const auto image = qlpr::DrawSymbol(c.m, c.data, settings);
            ASSERT_EQ(size.has_value(), image.has_value());
            if (!image) continue;
            EXPECT_EQ(size->width, image->width);
            EXPECT_EQ(size->height, image->height);
            EXPECT_EQ(image->bars.size(), static_cast<std::size_t>(image->width) * image->height);
            if (c.modules != 0) {
                EXPECT_EQ(image->width, c.modules * module);
            }
            if (c.m != kTwoDimensionalSymbol) {
                EXPECT_EQ(image->height, 17);
                // Every linear code starts with a bar module.
                for (int x = 0; x < module; ++x) EXPECT_TRUE(image->bars[x]) << x;
            }
        }
    }
}

TEST(StreamDecoder, BadBytesAreCountedAndNeverOverrun) {
    struct Case {
        Bytes stream;
        std::size_t unknown;
        Op lastOp;
        std::string lastMnemonic;
    };
    const std::vector<Case> cases = {
        {{}, 0, Op::kUnknown, ""},
        {{0x1B, 0x4A, 0x05, 0x00, 0x01, 0x1B, 0x99}, 3, Op::kText, "TEXT"},  // 0x99 is text
        {{0x1B, 0x4A}, 2, Op::kTruncated, "ESC J"},
        {{'a', 0x1B}, 1, Op::kTruncated, "ESC"},
        {{0x1F, 0x36}, 2, Op::kTruncated, "US 6 '"},
        {{0x1D, 0x56, 0x42}, 3, Op::kTruncated, "GS V"},
        // A huge row count with little data.
        {Cat({Raster(2, 0xFFFF), Bytes(100, 0)}), 105, Op::kTruncated, "ESC ,"},
        {{0x1D, 0x6B, 0x43, 0xFF, '1'}, 5, Op::kTruncated, "GS k"},
        // GS k with a symbol the printer does not have.
        {{0x1D, 0x6B, 0x0A, 0x01, 0x0A}, 4, Op::kLineFeed, "LF"},
    };
    for (const Case& test : cases) {
        const DecodedStream decoded = Decode(test.stream);
        EXPECT_EQ(decoded.unknownBytes, test.unknown) << ::testing::PrintToString(test.stream);
        if (test.stream.empty()) {
            EXPECT_TRUE(decoded.commands.empty());
            continue;
        }
        ASSERT_FALSE(decoded.commands.empty());
        EXPECT_EQ(decoded.commands.back().op, test.lastOp);
        EXPECT_EQ(decoded.commands.back().mnemonic, test.lastMnemonic);
        const qlpr::StreamCommand& last = decoded.commands.back();
        EXPECT_EQ(last.offset + last.size, test.stream.size());
        // Layout and pages of a bad stream are still sound.
        const auto pages = qlpr::PrintedPages(qlpr::LayOutPaper(decoded, {}));
        EXPECT_LE(pages.size(), 1u);
    }
    // Unknown bytes in a row are one entry.
    const DecodedStream merged = Decode({0x00, 0x01, 0x02, 'x'});
    ASSERT_EQ(merged.commands.size(), 2u);
    EXPECT_EQ(merged.commands[0].size, 3u);
}

TEST(StreamDecoder, AnyBytesDecodeIntoCommandsThatTileTheStream) {
    // Random streams rich in command introducers.
    std::mt19937 random(7);
    const Bytes alphabet{0x1B, 0x1D, 0x1F, 0x2C, 0x4A, 0x6B, 0x56,
                         0x42, 0x02, 0x00, 0xFF, 0x41, 0x0A};
    for (int round = 0; round < 300; ++round) {
        Bytes stream(random() % 400);
        for (unsigned char& byte : stream)
            byte = random() % 2 ? alphabet[random() % alphabet.size()]
                                : static_cast<unsigned char>(random());
        const DecodedStream decoded = Decode(stream, 1 + static_cast<int>(random() % 8));
        std::size_t next = 0;
        std::size_t unknown = 0;
        for (const qlpr::StreamCommand& command : decoded.commands) {
            ASSERT_EQ(command.offset, next);
            ASSERT_GT(command.size, 0u);
            if (command.op == Op::kUnknown || command.op == Op::kTruncated) unknown += command.size;
            next += command.size;
        }
        EXPECT_EQ(next, stream.size());
        EXPECT_EQ(decoded.unknownBytes, unknown);
        for (const qlpr::PrintedPage& page : qlpr::PrintedPages(stream, {8, 1})) {
            EXPECT_EQ(page.width, 56);
            EXPECT_EQ(page.plane1.size(), static_cast<std::size_t>(page.stride) * page.height);
        }
    }
}

TEST(StreamDecoder, ParsesNumbersStrictly) {
    EXPECT_EQ(qlpr::ParseNumber("72", 1, 4096), 72);
    EXPECT_FALSE(qlpr::ParseNumber("0", 1, 4096));
    EXPECT_FALSE(qlpr::ParseNumber("72x", 1, 4096));
    EXPECT_FALSE(qlpr::ParseNumber("", 1, 4096));
    EXPECT_FALSE(qlpr::ParseNumber("99999999999", 1, 4096));
}

}  // namespace
