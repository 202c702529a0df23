// The driver's escapes: support queries, copy count, the value passed to
// every page, raw bytes to the printer, the device mode, the log settings
// and device text items, with inputs that are too short or malformed.

#include <gtest/gtest.h>

#include <cstring>

#include "driver/escape_inputs.h"
#include "pipeline_support.h"
#include "platform/last_error.h"

namespace pipetest {
namespace {

TextItemInput Item(WORD kind, LONG x, LONG y, const std::string& text, LONG width, LONG height) {
    TextItemInput item{};
    item.kind = kind;
    item.x = x;
    item.y = y;
    std::memcpy(item.data, text.data(), std::min<std::size_t>(text.size(), 260));
    item.length = static_cast<WORD>(text.size());
    item.width = width;
    item.height = height;
    return item;
}

class Escapes : public PipelineTest {
  protected:
    void SetUp() override {
        PipelineTest::SetUp();
        device_ = Enable();
        ASSERT_TRUE(device_);
        job_ = StartJob(*device_);
        ASSERT_TRUE(job_);
        escape_ = driver_->Entry<PFN_DrvEscape>(INDEX_DrvEscape);
    }
    void TearDown() override {
        job_.reset();
        device_.reset();
        PipelineTest::TearDown();
    }
    ULONG Escape(ULONG code, ULONG inputSize, const void* input, ULONG outputSize = 0,
                 void* output = nullptr, SURFOBJ* surface = nullptr) {
        return escape_(surface != nullptr ? surface : job_->surface(), code, inputSize,
                       const_cast<void*>(input), outputSize, output);
    }
    ULONG Query(DWORD code) { return Escape(QUERYESCSUPPORT, sizeof code, &code); }
    DeviceInstance& instance() { return Instance(*device_); }

    std::unique_ptr<host::Device> device_;
    std::unique_ptr<host::PrintJob> job_;
    PFN_DrvEscape escape_ = nullptr;
};

TEST_F(Escapes, QuerySupportNamesExactlyTheEscapesServed) {
    for (DWORD code : {8u, 17u, 15002u, 15004u, 15007u, 15008u, 15009u, 15010u, 15011u})
        EXPECT_EQ(Query(code), 1u) << code;
    for (DWORD code : {0u, 7u, 9u, 15001u, 15003u, 15005u, 15006u, 15012u, 16002u, 16004u})
        EXPECT_EQ(Query(code), 0u) << code;
    // The queried escape is a 4-byte input.
    const WORD shortInput = 8;
    SetLastError(0);
    EXPECT_EQ(Escape(QUERYESCSUPPORT, sizeof shortInput, &shortInput), 0u);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    SetLastError(0);
    EXPECT_EQ(Escape(QUERYESCSUPPORT, 4, nullptr), 0u);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST_F(Escapes, CopyCountIsCappedAndZeroChangesNothing) {
    DWORD copies = 5000;
    DWORD now = 0;
    EXPECT_EQ(Escape(SETCOPYCOUNT, 4, &copies, 4, &now), 1u);
    EXPECT_EQ(now, 999u);
    EXPECT_EQ(instance().devmode.pub.dmCopies, 999);
    copies = 0;
    now = 0;
    EXPECT_EQ(Escape(SETCOPYCOUNT, 4, &copies, 4, &now), 1u);
    EXPECT_EQ(now, 999u);
    EXPECT_EQ(instance().devmode.pub.dmCopies, 999);
    copies = 3;
    EXPECT_EQ(Escape(SETCOPYCOUNT, 4, &copies), 1u);  // no output wanted
    EXPECT_EQ(instance().devmode.pub.dmCopies, 3);
    // An output too small for the count is left alone.
    WORD small = 0x1234;
    EXPECT_EQ(Escape(SETCOPYCOUNT, 4, &copies, sizeof small, &small), 1u);
    EXPECT_EQ(small, 0x1234);
    SetLastError(0);
    EXPECT_EQ(Escape(SETCOPYCOUNT, 0, nullptr, 4, &now), 0u);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(Escape(SETCOPYCOUNT, 3, &copies), 0u);
    EXPECT_EQ(instance().devmode.pub.dmCopies, 3);
}

TEST_F(Escapes, TheEscapeValueGoesToEveryPageStart) {
    DWORD value = 0x12345678;
    EXPECT_EQ(Escape(15002, 4, &value), 1u);
    EXPECT_EQ(instance().escapeValue, 0x12345678u);
    SetLastError(0);
    EXPECT_EQ(Escape(15002, 2, &value), 0u);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(instance().escapeValue, 0x12345678u);
    std::string error;
    ASSERT_TRUE(job_->PrintPage(host::BandPainter{}, &error)) << error;
    const std::vector<RecordedCall> pages = CallsOf(Call::StartPage);
    ASSERT_EQ(pages.size(), 1u);
    EXPECT_EQ(pages[0].escapeValue, 0x12345678u);
}

TEST_F(Escapes, RawBytesGoToThePrintersJobOutput) {
    // The document loop opened the printer's job at the spooler.
    const char bytes[] = "\x1b@raw\n";
    EXPECT_EQ(Escape(15004, sizeof bytes - 1, bytes), 1u);
    EXPECT_EQ(Escape(15004, 0, nullptr), 1u);  // nothing to write
    std::string error;
    ASSERT_TRUE(job_->End(&error)) << error;
    EXPECT_EQ(ReadFile(OutputPath()), std::string("\x1b@raw\n"));
    // Without a job at the spooler the write fails, and so does the escape.
    SetLastError(0);
    EXPECT_EQ(Escape(15004, 3, "abc"), 0u);
    EXPECT_EQ(GetLastError(), ERROR_SPL_NO_STARTDOC);
}

TEST_F(Escapes, TheDeviceModeIsCopiedUpToTheOutputSize) {
    std::vector<BYTE> out(3000, 0xEE);
    EXPECT_EQ(Escape(15007, 0, nullptr, static_cast<ULONG>(out.size()), out.data()), 1u);
    EXPECT_EQ(std::memcmp(out.data(), &instance().devmode, sizeof(Devmode)), 0);
    EXPECT_EQ(out[sizeof(Devmode)], 0xEE);
    std::vector<BYTE> part(100, 0xEE);
    EXPECT_EQ(Escape(15007, 0, nullptr, 50, part.data()), 1u);
    EXPECT_EQ(std::memcmp(part.data(), &instance().devmode, 50), 0);
    EXPECT_EQ(part[50], 0xEE);
    EXPECT_EQ(Escape(15008, 0, nullptr), 1u);
    EXPECT_EQ(Escape(15009, 0, nullptr), 1u);
}

TEST_F(Escapes, LogSettingsNeed524Bytes) {
    std::vector<BYTE> out(524, 0);
    EXPECT_EQ(Escape(15010, 0, nullptr, 523, out.data()), 0u);
    EXPECT_EQ(out[0], 0);
    EXPECT_EQ(Escape(15010, 0, nullptr, 524, out.data()), 1u);
    const PrinterData& settings = instance().printerData;
    WORD mode = 0, generations = 0;
    std::memcpy(&mode, out.data(), 2);
    std::memcpy(&generations, out.data() + 2, 2);
    EXPECT_EQ(mode, settings.logMode);
    EXPECT_EQ(generations, settings.logGenerations);
    EXPECT_EQ(std::memcmp(out.data() + 4, settings.logFolder, 520), 0);
}

TEST_F(Escapes, AnUnknownEscapeIsRefused) {
    SetLastError(0);
    EXPECT_EQ(Escape(15012, 0, nullptr), 0u);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST_F(Escapes, TextItemsReachTheBandAndItsBounds) {
    UseSettings(/*wholePage=*/false);
    // A fresh device of two bands a page (24 bits).
    job_.reset();
    const Devmode mode = WithDepth(DefaultDevmode(), 24);
    device_ = Enable(&mode);
    ASSERT_TRUE(device_);
    job_ = StartJob(*device_);
    ASSERT_TRUE(job_);
    std::string error;
    ASSERT_TRUE(job_->PrintPage(
        [&](SURFOBJ* band, POINTL, int) {
            if (job_->bands().size() == 1) {
                const TextItemInput first = Item(200, 10, 20, "\x1b\x70", 100, 30);
                const TextItemInput second = Item(1, 500, 2400, "TOTAL", 200, 40);  // clipped
                EXPECT_EQ(Escape(15011, sizeof first, &first, 0, nullptr, band), 1u);
                EXPECT_EQ(Escape(15011, sizeof second, &second, 0, nullptr, band), 1u);
            } else {
                const TextItemInput third = Item(100, 0, 5, "12345", 50, 10);
                EXPECT_EQ(Escape(15011, sizeof third, &third, 0, nullptr, band), 1u);
            }
        },
        &error))
        << error;
    const std::vector<RecordedCall> sent = CallsOf(Call::SendBand);
    ASSERT_EQ(sent.size(), 2u);
    ASSERT_EQ(sent[0].itemCount, 2u);
    ASSERT_EQ(sent[0].items.size(), 2u);
    EXPECT_EQ(sent[0].textBytes, 7u);
    EXPECT_EQ(std::string(sent[0].text.begin(), sent[0].text.end()), "\x1b\x70TOTAL");
    const TextRecord& a = sent[0].items[0];
    EXPECT_EQ(+a.fontId, 200);
    EXPECT_EQ(+a.attributes, 0);
    EXPECT_EQ(+a.offset, 0u);
    EXPECT_EQ(+a.count, 2);
    EXPECT_EQ(+a.x, 10);
    EXPECT_EQ(+a.y, 20);
    EXPECT_EQ(+a.width, 100);
    EXPECT_EQ(+a.height, 30);
    const TextRecord& b = sent[0].items[1];
    EXPECT_EQ(+b.fontId, 1);
    EXPECT_EQ(+b.offset, 2u);
    EXPECT_EQ(+b.count, 5);
    // Bounds: both items clipped to the band (576 x 2424), in page coordinates.
    EXPECT_TRUE(SameRect(sent[0].band.content, {10, 20, 576, 2424})) << sent[0].band.content;
    // The buffer was emptied after the first band: the second starts afresh.
    ASSERT_EQ(sent[1].itemCount, 1u);
    EXPECT_EQ(+sent[1].items[0].offset, 0u);
    EXPECT_EQ(+sent[1].items[0].fontId, 100);
    EXPECT_EQ(std::string(sent[1].text.begin(), sent[1].text.end()), "12345");
    EXPECT_TRUE(SameRect(sent[1].band.content, {0, 2429, 50, 2439})) << sent[1].band.content;
    EXPECT_EQ(instance().textBuf.itemCount, 0u);
}

TEST_F(Escapes, MalformedTextItemsAreRefused) {
    TextItemInput item = Item(1, 0, 0, "abc", 10, 10);
    SetLastError(0);
    EXPECT_EQ(Escape(15011, sizeof item - 1, &item), 0u);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    item.length = 261;  // more characters than the record holds
    SetLastError(0);
    EXPECT_EQ(Escape(15011, sizeof item, &item), 0u);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(instance().textBuf.itemCount, 0u);
    item.length = 260;
    EXPECT_EQ(Escape(15011, sizeof item, &item), 1u);
    EXPECT_EQ(instance().textBuf.dataUsed, 260u);
}

TEST_F(Escapes, AFullTextBufferTakesNoMoreItems) {
    const TextItemInput item = Item(1, 0, 0, "x", 1, 1);
    for (int i = 0; i < 2520; ++i) ASSERT_EQ(Escape(15011, sizeof item, &item), 1u) << i;
    EXPECT_EQ(Escape(15011, sizeof item, &item), 0u);
    EXPECT_EQ(instance().textBuf.itemCount, 2520u);
    // Outside a document there is no buffer at all.
    std::string error;
    ASSERT_TRUE(job_->End(&error)) << error;
    EXPECT_EQ(Escape(15011, sizeof item, &item), 0u);
}

}  // namespace
}  // namespace pipetest
