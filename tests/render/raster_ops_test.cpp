// The raster operation tables against the truth-table rule, bit by bit, on
// random bytes.

#include "render/raster_ops.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace {

BYTE ReferenceRop3(int code, BYTE p, BYTE s, BYTE d) {
    BYTE result = 0;
    for (int bit = 0; bit < 8; ++bit) {
        const int index = (((p >> bit) & 1) << 2) | (((s >> bit) & 1) << 1) | ((d >> bit) & 1);
        result = static_cast<BYTE>(result | (((code >> index) & 1) << bit));
    }
    return result;
}

BYTE ReferenceRop2(int code, BYTE p, BYTE d) {
    BYTE result = 0;
    for (int bit = 0; bit < 8; ++bit)
        result = static_cast<BYTE>(result | (Rop2Bit(code, (p >> bit) & 1, (d >> bit) & 1) << bit));
    return result;
}

std::vector<BYTE> RandomBytes(std::mt19937& random, std::size_t n) {
    std::vector<BYTE> bytes(n);
    for (BYTE& b : bytes) b = static_cast<BYTE>(random());
    return bytes;
}

// Whether the code's function changes with the operand at `shift` (4 P, 2 S,
// 1 D) for some values of the others.
bool DependsOn(int code, int shift) {
    for (int index = 0; index < 8; ++index)
        if (((code >> index) & 1) != ((code >> (index ^ shift)) & 1)) return true;
    return false;
}

TEST(Rop3RowTable, EveryCodeFollowsTheTruthTableForAllPatternWidths) {
    std::mt19937 random(7);
    for (int code = 0; code < 256; ++code) {
        const bool pattern = DependsOn(code, 4);
        const bool source = DependsOn(code, 2);
        for (int patternWidth : {1, 2, 4, 8, 16, 32}) {
            for (int count : {0, 1, 7, 8, 9, 31, 64, 77}) {
                const auto p = RandomBytes(random, static_cast<std::size_t>(patternWidth));
                const auto s = RandomBytes(random, static_cast<std::size_t>(count) + 1);
                auto d = RandomBytes(random, static_cast<std::size_t>(count) + 1);
                auto expected = d;
                for (int i = 0; i < count; ++i)
                    expected[i] = ReferenceRop3(code, p[(patternWidth - 1) & i], s[i], d[i]);
                // An operand the code does not use is never read: it is absent.
                Rop3RowTable[code](d.data(), source ? s.data() : nullptr,
                                   pattern ? p.data() : nullptr, patternWidth, count);
                ASSERT_EQ(d, expected) << "code 0x" << std::hex << code << std::dec << " width "
                                       << patternWidth << " count " << count;
            }
        }
    }
}

TEST(Rop3RowTable, NamedCodesDoWhatTheirNamesSay) {
    const BYTE p = 0xF0;
    const BYTE s = 0xCC;
    const BYTE d = 0xAA;
    const struct {
        int code;
        BYTE expected;
    } cases[] = {{0x88, s & d},
                 {0x66, s ^ d},
                 {0xF0, p},
                 {0x5A, static_cast<BYTE>(p ^ d)},
                 {0xE8, 0xE8},
                 {0x17, static_cast<BYTE>(~0xE8)},
                 {0xCA, (p & s) | (static_cast<BYTE>(~p) & d)},
                 {0xB8, (s & d) | (static_cast<BYTE>(~s) & p)}};
    for (const auto& c : cases) {
        BYTE destination = d;
        Rop3RowTable[c.code](&destination, &s, &p, 1, 1);
        EXPECT_EQ(destination, c.expected) << std::hex << c.code;
    }
}

TEST(Rop3Operands, UseTestsMatchTheFunctionsDependencies) {
    for (int code = 0; code < 256; ++code) {
        EXPECT_EQ(Rop3UsesSource(static_cast<BYTE>(code)), DependsOn(code, 2)) << code;
        EXPECT_EQ(Rop3UsesPattern(static_cast<BYTE>(code)), DependsOn(code, 4)) << code;
    }
}

TEST(Rop3ToRop2, PatternDestinationCodesKeepTheirFunctionOthersCopy) {
    int mapped = 0;
    for (int code = 0; code < 256; ++code) {
        const int rop2 = Rop3ToRop2(static_cast<BYTE>(code));
        if (DependsOn(code, 2)) {
            EXPECT_EQ(rop2, kRop2Copy) << code;
            continue;
        }
        ++mapped;
        ASSERT_GE(rop2, 1);
        ASSERT_LE(rop2, 16);
        for (int p = 0; p < 2; ++p)
            for (int d = 0; d < 2; ++d)
                EXPECT_EQ(Rop2Bit(rop2, p, d), (code >> (4 * p + d)) & 1) << code;
    }
    EXPECT_EQ(mapped, 16);
    EXPECT_EQ(Rop3ToRop2(0x5A), 7);
    EXPECT_EQ(Rop3ToRop2(0xF0), 13);
}

TEST(Rop2Tables, FillAndPixelEntriesFollowTheTruthTable) {
    std::mt19937 random(11);
    for (int code = 1; code <= 16; ++code) {
        for (int n : {0, 1, 2, 3, 4, 5, 7, 8, 13}) {
            const auto d = RandomBytes(random, static_cast<std::size_t>(n) + 1);
            const auto p = RandomBytes(random, static_cast<std::size_t>(n) + 1);
            const BYTE value = static_cast<BYTE>(random());
            auto filled = d;
            auto pixel = d;
            auto expectedFill = d;
            auto expectedPixel = d;
            for (int i = 0; i < n; ++i) {
                expectedFill[i] = ReferenceRop2(code, value, d[i]);
                expectedPixel[i] = ReferenceRop2(code, p[i], d[i]);
            }
            Rop2FillTable[code - 1](filled.data(), value, n);
            Rop2PixelTable[code - 1](pixel.data(), p.data(), n);
            EXPECT_EQ(filled, expectedFill) << "code " << code << " n " << n;
            EXPECT_EQ(pixel, expectedPixel) << "code " << code << " n " << n;
        }
    }
}

TEST(Rop2Span, WhiteSetsEveryByteOfAColourPixelAndNopChangesNothing) {
    std::vector<BYTE> row(3 * 6, 0x12);
    const BYTE pen[3] = {0x10, 0x20, 0x30};
    Rop2Span(row.data(), 1, 4, pen, 1, 3, false, kRop2White);
    for (int x = 0; x < 6; ++x)
        for (int c = 0; c < 3; ++c) EXPECT_EQ(row[x * 3 + c], x >= 1 && x < 4 ? 0xFF : 0x12) << x;
    const auto before = row;
    Rop2Span(row.data(), 0, 6, pen, 1, 3, false, kRop2Nop);
    EXPECT_EQ(row, before);
    Rop2Span(row.data(), 0, 2, pen, 1, 3, false, kRop2Copy);
    EXPECT_EQ(row[0], 0x10);
    EXPECT_EQ(row[4], 0x20);
    EXPECT_EQ(row[5], 0x30);
}

TEST(Rop2Span, PatternIsTakenAtTheBandColumnAndWhiteIsTransparent) {
    // A grey pattern of 4 pixels: black, white, grey, white.
    const BYTE pattern[4] = {0x00, 0xFF, 0x80, 0xFF};
    std::vector<BYTE> row(10, 0x55);
    Rop2Span(row.data(), 2, 9, pattern, 4, 1, true, kRop2Copy);
    const std::vector<BYTE> expected = {0x55, 0x55, 0x80, 0x55, 0x00, 0x55, 0x80, 0x55, 0x00, 0x55};
    EXPECT_EQ(row, expected);
    // Opaque, the white pixels are drawn too.
    std::vector<BYTE> opaque(4, 0x55);
    Rop2Span(opaque.data(), 0, 4, pattern, 4, 1, false, kRop2Copy);
    EXPECT_EQ(opaque, std::vector<BYTE>(pattern, pattern + 4));
}

TEST(Rop2SpanMono, WholeBytePathsMatchTheBitByBitRule) {
    std::mt19937 random(5);
    for (int code = 1; code <= 16; ++code) {
        for (int width : {1, 2, 4, 8, 3, 12, 16}) {
            for (bool transparent : {false, true}) {
                const auto pattern = RandomBytes(random, 2);
                const auto before = RandomBytes(random, 5);
                const int x0 = static_cast<int>(random() % 20);
                const int x1 = x0 + static_cast<int>(random() % 20);
                auto row = before;
                Rop2SpanMono(row.data(), x0, x1, pattern.data(), width, transparent, code);
                for (int x = 0; x < 40; ++x) {
                    const int d = (before[x >> 3] >> (7 - (x & 7))) & 1;
                    const int column = x % width;
                    const int p = (pattern[column >> 3] >> (7 - (column & 7))) & 1;
                    int expected = d;
                    if (x >= x0 && x < x1 && !(transparent && p == 1))
                        expected = Rop2Bit(code, p, d);
                    ASSERT_EQ((row[x >> 3] >> (7 - (x & 7))) & 1, expected)
                        << "code " << code << " width " << width << " x " << x << " span " << x0
                        << ".." << x1;
                }
            }
        }
    }
}

}  // namespace
