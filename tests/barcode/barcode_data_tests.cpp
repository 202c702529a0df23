// The data rules of the barcode library: check digits, UPC-E compression and
// Code 128 selectors.
#include <gtest/gtest.h>

#include "barcode/barcode_data.h"

namespace {

using namespace qlprbrcd;

std::optional<std::string> Prepare(DWORD code, std::string_view text) {
    return PrepareData(
        code, std::span<const BYTE>(reinterpret_cast<const BYTE*>(text.data()), text.size()));
}

TEST(BarcodeCheckDigit, KnownNumbers) {
    EXPECT_EQ(CheckDigit("01234567890"), '5');
    EXPECT_EQ(CheckDigit("491234567890"), '4');
    EXPECT_EQ(CheckDigit("4912345"), '6');
    EXPECT_EQ(CheckDigit("01234500006"), '5');
    EXPECT_EQ(CheckDigit("00000000000"), '0');
}

TEST(BarcodeUpcE, CompressesEachOfTheFourForms) {
    EXPECT_EQ(CompressUpcA("01234500006"), "123456");  // manufacturer not ending in 0
    EXPECT_EQ(CompressUpcA("01234000005"), "123454");  // ending in 0
    EXPECT_EQ(CompressUpcA("01230000045"), "123453");  // ending in 00, third digit 3..9
    EXPECT_EQ(CompressUpcA("01210000345"), "123451");  // ending in 00, third digit 0..2
    EXPECT_EQ(CompressUpcA("01200000345"), "123450");
    // No UPC-E form.
    EXPECT_FALSE(CompressUpcA("01234500004"));  // last product digit below 5
    EXPECT_FALSE(CompressUpcA("01234500016"));  // product too large
    EXPECT_FALSE(CompressUpcA("01210001345"));
    EXPECT_FALSE(CompressUpcA("01230000145"));
    EXPECT_FALSE(CompressUpcA("0123450000"));  // ten digits
    EXPECT_FALSE(CompressUpcA("0123450000A"));
}

TEST(BarcodeData, NumberCodesTakeTheBodyAndCheckTheCheckDigit) {
    EXPECT_EQ(Prepare(kUpcA, "012345678905"), "01234567890");
    EXPECT_EQ(Prepare(kUpcA, "01234567890"), "01234567890");
    EXPECT_FALSE(Prepare(kUpcA, "012345678904"));
    EXPECT_EQ(Prepare(kEan13, "4912345678904"), "491234567890");
    EXPECT_EQ(Prepare(kEan8, "49123456"), "4912345");
    EXPECT_FALSE(Prepare(kEan8, "4912345 6"));
    EXPECT_EQ(Prepare(kUpcE, "012345000065"), "0123456");
    EXPECT_EQ(Prepare(kUpcE, "112345000062"), "1123456");
    EXPECT_FALSE(Prepare(kUpcE, "012345000064"));  // wrong check digit
    EXPECT_FALSE(Prepare(kUpcE, "0123456789"));    // 10 digits: no form
    EXPECT_FALSE(Prepare(kUpcE, "21234565"));      // number system 2
    EXPECT_EQ(Prepare(kUpcE, "123456"), "123456");
}

TEST(BarcodeData, TrailingSpaceAndLengthRules) {
    EXPECT_EQ(Prepare(kEan13, "491234567890 "), "491234567890");
    EXPECT_EQ(Prepare(kCode39, "AB "), "AB");
    EXPECT_FALSE(Prepare(kCode39, " "));
    EXPECT_EQ(Prepare(kTwoDimensional, "AB "), "AB ");
    EXPECT_EQ(Prepare(kCode93, std::string(256, 'A'))->size(), 255u);
    EXPECT_EQ(Prepare(kInterleaved2of5, std::string(256, '1'))->size(), 254u);
    EXPECT_FALSE(Prepare(kInterleaved2of5, "1"));
    EXPECT_FALSE(Prepare(kCode128, "A"));
    EXPECT_FALSE(Prepare(0, "123"));
    EXPECT_FALSE(Prepare(10, "123"));
}

TEST(BarcodeData, Code39LosesWrittenStartAndStop) {
    EXPECT_EQ(Prepare(kCode39, "*ABC*"), "ABC");
    EXPECT_EQ(Prepare(kCode39, "*ABC"), "*ABC");  // left to the encoder, which refuses '*'
    EXPECT_FALSE(Prepare(kCode39, "**"));
}

TEST(BarcodeData, Code128Selectors) {
    EXPECT_EQ(ResolveCode128("[A[1AB[Bab"), "ABab");
    EXPECT_EQ(ResolveCode128("[C1234[SA"), "1234A");
    EXPECT_EQ(ResolveCode128("a[[b"), "a[b");
    EXPECT_EQ(ResolveCode128("plain"), "plain");
    EXPECT_FALSE(ResolveCode128("[A[B"));  // nothing left
    EXPECT_FALSE(ResolveCode128("AB["));
    EXPECT_FALSE(ResolveCode128("[2AB"));
    EXPECT_FALSE(ResolveCode128("[3AB"));
    EXPECT_FALSE(ResolveCode128("[4AB"));
    EXPECT_FALSE(ResolveCode128("[aAB"));
}

}  // namespace
