// BarcodeBlock through its export: measuring, drawing, the agreement of the
// two, parameter meanings and refusals.
#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "barcode/barcode_request.h"

extern "C" WORD BarcodeBlock(const BarcodeRequest* request, BarcodeSizeReply* size, BYTE* image);

namespace {

// A request as the driver builds it: zero-filled, the font's settings, the data.
BarcodeRequest Request(DWORD symbology, std::string_view data, DWORD module = 3,
                       DWORD barHeight = 162, DWORD textPosition = 0, DWORD font = 2) {
    BarcodeRequest request;
    std::memset(&request, 0, sizeof request);
    request.symbology = symbology;
    request.parameter1 = module;
    if (symbology == 256) {
        request.variant2d = 257;
    } else {
        request.parameter2 = barHeight;
        request.parameter3 = textPosition;
        request.parameter4 = font;
    }
    const std::size_t length = std::min<std::size_t>(data.size(), kBarcodeDataMax);
    std::memcpy(request.data, data.data(), length);
    request.dataLength = static_cast<DWORD>(data.size());
    return request;
}

std::optional<BarcodeSizeReply> Measure(const BarcodeRequest& request) {
    BarcodeSizeReply size{};
    if (BarcodeBlock(&request, &size, nullptr) != 1) return std::nullopt;
    return size;
}

struct Drawn {
    BarcodeSizeReply size;
    std::vector<BYTE> bits;
    DWORD stride() const { return (size.width + 7) / 8; }
    bool Bar(DWORD x, DWORD y) const {
        return (bits[y * stride() + x / 8] & (0x80 >> (x % 8))) != 0;
    }
    bool RowHasBar(DWORD y) const {
        for (DWORD x = 0; x < size.width; ++x) {
            if (Bar(x, y)) return true;
        }
        return false;
    }
};

// Measures, then draws into a buffer with guard bytes after the measured
// size: the drawing must stay inside it.
Drawn MeasureAndDraw(const BarcodeRequest& request) {
    Drawn drawn{};
    std::optional<BarcodeSizeReply> size = Measure(request);
    EXPECT_TRUE(size.has_value());
    if (!size) return drawn;
    drawn.size = *size;
    constexpr std::size_t kGuard = 64;
    std::vector<BYTE> buffer(size->imageBytes + kGuard, 0xA5);
    EXPECT_EQ(BarcodeBlock(&request, nullptr, buffer.data()), 1);
    for (std::size_t i = size->imageBytes; i < buffer.size(); ++i) {
        EXPECT_EQ(buffer[i], 0xA5) << "written beyond the measured image at " << i;
    }
    buffer.resize(size->imageBytes);
    drawn.bits = std::move(buffer);
    return drawn;
}

struct Sample {
    DWORD symbology;
    const char* data;
};

// The sample strings that the driver measures its barcode fonts with.
constexpr Sample kSamples[] = {
    {1, "012345678905"}, {2, "012345000065"}, {3, "4912345678904"}, {4, "49123456"},
    {5, "ABC12"},        {6, "1234567890"},   {7, "A123456A"},      {8, "ABC12"},
    {9, "[A[1AB[Bab"},   {256, "0123456789"},
};

TEST(BarcodeSamples, EachSampleMeasuresAndDrawsWhatItMeasured) {
    for (const Sample& sample : kSamples) {
        SCOPED_TRACE(std::string("symbology ") + std::to_string(sample.symbology) + " " +
                     sample.data);
        const BarcodeRequest request = Request(sample.symbology, sample.data);
        const Drawn drawn = MeasureAndDraw(request);
        ASSERT_GT(drawn.size.width, 0u);
        ASSERT_GT(drawn.size.height, 0u);
        EXPECT_EQ(drawn.size.imageBytes, drawn.size.height * ((drawn.size.width + 7) / 8));
        // Padding bits right of the width stay 0.
        const DWORD padding = drawn.stride() * 8 - drawn.size.width;
        if (padding > 0) {
            const BYTE mask = static_cast<BYTE>((1u << padding) - 1);
            for (DWORD y = 0; y < drawn.size.height; ++y) {
                ASSERT_EQ(drawn.bits[y * drawn.stride() + drawn.stride() - 1] & mask, 0)
                    << "row " << y;
            }
        }
        EXPECT_TRUE(drawn.RowHasBar(0));
        if (sample.symbology != 256) {
            EXPECT_EQ(drawn.size.height, 162u);
            // Every row of a linear code without text is the same.
            for (DWORD y = 1; y < drawn.size.height; ++y) {
                ASSERT_EQ(
                    std::memcmp(&drawn.bits[y * drawn.stride()], &drawn.bits[0], drawn.stride()),
                    0);
            }
        }
    }
}

TEST(BarcodeSamples, SameRequestGivesTheSameImageTwice) {
    const BarcodeRequest request = Request(3, "4912345678904", 2, 80, 3, 2);
    EXPECT_EQ(MeasureAndDraw(request).bits, MeasureAndDraw(request).bits);
}

// Symbols drawn are kept for a while: requests that differ in any one
// field, asked in any order and more of them than are kept, each get their
// own symbol.
TEST(BarcodeSamples, EveryFieldOfARequestTellsSymbolsApart) {
    std::vector<BarcodeRequest> requests = {
        Request(3, "4912345678904", 2, 80, 0, 2), Request(3, "4912345678904", 3, 80, 0, 2),
        Request(3, "4912345678904", 2, 81, 0, 2), Request(3, "4912345678904", 2, 80, 2, 2),
        Request(9, "[A[1AB[Bab", 2, 80, 2, 4),    Request(9, "[A[1AB[Bab", 2, 80, 2, 2),
        Request(9, "[A[1AB[Bac", 2, 80, 2, 2),    Request(256, "0123456789", 3),
    };
    BarcodeRequest narrow = Request(256, "0123456789", 3);
    narrow.variant2d = 257 + 256 + 1;  // PDF417 on narrow paper
    requests.push_back(narrow);
    narrow.variant2d = 257 + 256;
    requests.push_back(narrow);
    for (DWORD height = 20; height < 60; ++height)
        requests.push_back(Request(5, "ABC12", 2, height));

    std::vector<Drawn> first;
    for (const BarcodeRequest& request : requests) first.push_back(MeasureAndDraw(request));
    for (std::size_t i = requests.size(); i-- > 0;) {
        const Drawn again = MeasureAndDraw(requests[i]);
        EXPECT_EQ(again.size.width, first[i].size.width) << i;
        EXPECT_EQ(again.size.height, first[i].size.height) << i;
        EXPECT_EQ(again.bits, first[i].bits) << i;
    }
    EXPECT_NE(first[0].size.width, first[1].size.width);        // module
    EXPECT_EQ(first[2].size.height, first[0].size.height + 1);  // bar height
    EXPECT_GT(first[3].size.height, first[0].size.height);      // text below
    EXPECT_LT(first[4].size.height, first[5].size.height);      // font B
    EXPECT_NE(first[5].bits, first[6].bits);                    // data
    EXPECT_NE(first[7].bits, first[9].bits);                    // QR code, PDF417
    for (DWORD k = 0; k < 40; ++k) EXPECT_EQ(first[10 + k].size.height, 20 + k);
}

TEST(BarcodeParameters, ModuleWidthScalesTheSymbol) {
    for (const Sample& sample : kSamples) {
        SCOPED_TRACE(sample.data);
        const std::optional<BarcodeSizeReply> two =
            Measure(Request(sample.symbology, sample.data, 2));
        const std::optional<BarcodeSizeReply> three =
            Measure(Request(sample.symbology, sample.data, 3));
        ASSERT_TRUE(two && three);
        EXPECT_EQ(three->width * 2, two->width * 3);
        if (sample.symbology == 256) {
            EXPECT_EQ(three->height * 2, two->height * 3);
        }
    }
    // The narrowest bar of Code 39 is exactly one module: the first bar is narrow.
    const Drawn drawn = MeasureAndDraw(Request(5, "ABC12", 4, 10));
    DWORD firstBar = 0;
    while (firstBar < drawn.size.width && drawn.Bar(firstBar, 0)) ++firstBar;
    EXPECT_EQ(firstBar, 4u);
}

TEST(BarcodeParameters, ModuleWidthOutsideOneToSixIsClamped) {
    const auto width = [](DWORD module) { return Measure(Request(5, "ABC12", module))->width; };
    EXPECT_EQ(width(0), width(1));
    EXPECT_EQ(width(7), width(6));
    EXPECT_EQ(width(0xFFFFFFFF), width(6));
}

TEST(BarcodeParameters, BarHeightIsParameterTwoWithoutText) {
    for (DWORD height : {1u, 2u, 50u, 162u, 255u}) {
        EXPECT_EQ(Measure(Request(1, "012345678905", 3, height))->height, height);
        EXPECT_EQ(Measure(Request(9, "[A[1AB[Bab", 5, height))->height, height);
    }
    EXPECT_EQ(Measure(Request(5, "ABC12", 3, 0))->height, 1u);
    EXPECT_EQ(Measure(Request(5, "ABC12", 3, 1000))->height, 255u);
}

TEST(BarcodeParameters, TextBelowAboveAndBoth) {
    const Drawn none = MeasureAndDraw(Request(3, "4912345678904", 3, 100, 0));
    const Drawn below = MeasureAndDraw(Request(3, "4912345678904", 3, 100, 2));
    const Drawn above = MeasureAndDraw(Request(3, "4912345678904", 3, 100, 1));
    const Drawn both = MeasureAndDraw(Request(3, "4912345678904", 3, 100, 3));
    const DWORD band = below.size.height - 100;
    ASSERT_GT(below.size.height, 100u);
    EXPECT_EQ(above.size.height, below.size.height);
    EXPECT_EQ(both.size.height, 100 + 2 * band);
    // The digits outside the guard bars widen the symbol.
    EXPECT_GE(below.size.width, none.size.width);
    EXPECT_EQ(above.size.width, below.size.width);

    EXPECT_TRUE(below.RowHasBar(0));
    EXPECT_TRUE(below.RowHasBar(99));
    EXPECT_FALSE(below.RowHasBar(100));  // gap between bars and text
    // Above: text touches the top, the bars start after the band.
    EXPECT_TRUE(above.RowHasBar(0));
    EXPECT_FALSE(above.RowHasBar(band - 1));
    for (DWORD y = band; y < band + 100; ++y) {
        ASSERT_EQ(std::memcmp(&above.bits[y * above.stride()], &below.bits[0], above.stride()), 0);
    }
    // Both: the rows of `above`, then the band of `below`.
    EXPECT_TRUE(std::equal(above.bits.begin(), above.bits.end(), both.bits.begin()));
    EXPECT_TRUE(std::equal(below.bits.begin() + 100 * below.stride(), below.bits.end(),
                           both.bits.begin() + (band + 100) * both.stride()));
}

TEST(BarcodeParameters, NoTextAtModuleWidthOne) {
    for (DWORD position : {1u, 2u, 3u}) {
        EXPECT_EQ(Measure(Request(3, "4912345678904", 1, 40, position))->height, 40u);
        EXPECT_EQ(Measure(Request(5, "ABC12", 1, 40, position))->height, 40u);
    }
}

TEST(BarcodeParameters, FontBIsSmallerThanFontA) {
    const std::optional<BarcodeSizeReply> fontA = Measure(Request(5, "ABC12", 3, 50, 2, 2));
    const std::optional<BarcodeSizeReply> fontB = Measure(Request(5, "ABC12", 3, 50, 2, 4));
    ASSERT_TRUE(fontA && fontB);
    EXPECT_LT(fontB->height, fontA->height);
    EXPECT_GT(fontB->height, 50u);
    EXPECT_EQ(Measure(Request(5, "ABC12", 3, 50, 2, 1))->height, fontA->height);
    EXPECT_EQ(Measure(Request(5, "ABC12", 3, 50, 2, 3))->height, fontB->height);
}

TEST(BarcodeTwoDimensional, BothKindsAndBothPaperWidths) {
    BarcodeRequest request = Request(256, "0123456789");
    for (DWORD variant : {257u, 258u, 513u, 514u}) {
        request.variant2d = variant;
        SCOPED_TRACE(variant);
        const Drawn drawn = MeasureAndDraw(request);
        EXPECT_GT(drawn.size.width, 0u);
        EXPECT_GT(drawn.size.height, 0u);
    }
    request.variant2d = 257;
    // QR Code version 1: 21 modules square.
    EXPECT_EQ(Measure(request)->width, 63u);
    EXPECT_EQ(Measure(request)->height, 63u);
    request.variant2d = 513;
    const BarcodeSizeReply pdf = *Measure(request);
    EXPECT_GT(pdf.width, pdf.height);  // PDF417 is wider than high
}

TEST(BarcodeTwoDimensional, Pdf417KeepsWithinThePaperWidth) {
    const std::string data(200, 'x');
    BarcodeRequest request = Request(256, data, 3);
    request.variant2d = 513;
    const std::optional<BarcodeSizeReply> wide = Measure(request);
    request.variant2d = 514;
    const std::optional<BarcodeSizeReply> narrow = Measure(request);
    ASSERT_TRUE(wide && narrow);
    EXPECT_LE(wide->width, 576u);
    EXPECT_LE(narrow->width, 384u);
    EXPECT_GT(narrow->height, wide->height);
}

TEST(BarcodeRefusals, InvalidRequestsGiveZeroAndWriteNothing) {
    BarcodeSizeReply size{7, 7, 7};
    const BarcodeRequest good = Request(5, "ABC12");
    EXPECT_EQ(BarcodeBlock(nullptr, &size, nullptr), 0);
    EXPECT_EQ(BarcodeBlock(&good, nullptr, nullptr), 0);
    BYTE byte = 0;
    EXPECT_EQ(BarcodeBlock(&good, &size, &byte), 0);

    BarcodeRequest tooLong = Request(9, std::string(256, 'A'));
    tooLong.dataLength = 300;
    EXPECT_EQ(BarcodeBlock(&tooLong, &size, nullptr), 0);
    tooLong.dataLength = 0xFFFFFFFF;
    EXPECT_EQ(BarcodeBlock(&tooLong, &size, nullptr), 0);

    for (DWORD code : {0u, 10u, 11u, 255u, 257u, 0x80000000u}) {
        BarcodeRequest unknown = good;
        unknown.symbology = code;
        EXPECT_EQ(BarcodeBlock(&unknown, &size, nullptr), 0) << code;
    }
    BarcodeRequest badText = good;
    badText.parameter3 = 4;
    EXPECT_EQ(BarcodeBlock(&badText, &size, nullptr), 0);
    BarcodeRequest badFont = good;
    badFont.parameter4 = 0;
    EXPECT_EQ(BarcodeBlock(&badFont, &size, nullptr), 0);
    badFont.parameter4 = 5;
    EXPECT_EQ(BarcodeBlock(&badFont, &size, nullptr), 0);
    for (DWORD variant : {0u, 256u, 259u, 512u, 515u, 769u}) {
        BarcodeRequest bad2d = Request(256, "0123456789");
        bad2d.variant2d = variant;
        EXPECT_EQ(BarcodeBlock(&bad2d, &size, nullptr), 0) << variant;
    }
    EXPECT_EQ(size.width, 7u);
    EXPECT_EQ(size.height, 7u);
    EXPECT_EQ(size.imageBytes, 7u);
}

TEST(BarcodeRefusals, DataBreakingTheSymbologyGivesZero) {
    // Refused here or by the encoder; the rules themselves are tested with the data.
    const Sample bad[] = {
        {3, "49123456789A4"}, {3, "4912345678905"}, {2, "012345100065"},
        {5, "abc#"},          {7, "123456"},        {9, "[4AB"},
    };
    for (const Sample& sample : bad) {
        EXPECT_FALSE(Measure(Request(sample.symbology, sample.data)).has_value())
            << sample.symbology << " " << sample.data;
    }
}

TEST(BarcodeData, EquivalentFormsDrawTheSameSymbol) {
    const auto bits = [](DWORD symbology, std::string_view data) {
        return MeasureAndDraw(Request(symbology, data, 2, 4)).bits;
    };
    EXPECT_EQ(bits(3, "491234567890 "), bits(3, "4912345678904"));
    EXPECT_EQ(bits(2, "01234565"), bits(2, "012345000065"));
    EXPECT_EQ(bits(5, "*ABC12*"), bits(5, "ABC12"));
}

}  // namespace
