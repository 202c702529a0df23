// Any bytes as a page file read back for replay: the stored device mode (the
// header) becomes the job's, and the body is sent between the page start and
// page end groups it asks for. Whatever the header holds, the body reaches
// the stream unchanged, once per copy.
//
// The replay reads a file, so every input is written to one file of the
// process first.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <vector>

#include "command/exports.h"
#include "command/ext_pdev.h"
#include "command/spool_output.h"
#include "harness_support.h"
#include "records/command_interface.h"
#include "tests/command/plain_devmode.h"

namespace {

std::vector<BYTE> stream;

BOOL Capture(ExtPdev*, const BYTE* bytes, DWORD count) {
    stream.insert(stream.end(), bytes, bytes + count);
    return TRUE;
}

// Seeds: the page files a job of two collated copies keeps until its end,
// one-sided and two-sided, with the page bodies the library wrote (the first
// two pages of three: the last one's file is written at the job's end).
void WriteSeeds() {
    for (WORD dualSide : {1, 2}) {
        Devmode mode = cmdtest::PlainDevmode();
        mode.pub.dmCopies = 2;
        mode.pub.dmCollate = 1;
        mode.priv.dualSide = dualSide;
        mode.priv.cutMask = 0x0F;
        mode.priv.feedMask = 0x0F;
        std::vector<BYTE> buffer(kOutputCapacity);
        ExtPdev* pdev = CmndEnableExtPDEV(&mode, nullptr, buffer.data());
        pdev->writeHook = Capture;
        PageGeometry geometry{};
        geometry.bitsPerPixel = 1;
        geometry.bandDirection = kBandsDown;
        CmndExtEscape(pdev, kEscapeGeometry, sizeof geometry, &geometry, 0, nullptr);
        CmndStartDoc(pdev, &mode, "Seed", 7);
        for (int page = 1; page <= 3; ++page) {
            const SIZEL size{576, 400};
            CmndStartPage(pdev, &mode, &size, nullptr, 0);
            const std::string body = "\x1b\x4a\x20page " + std::to_string(page) + "\n";
            WriteOut(pdev, body.data(), static_cast<DWORD>(body.size()));
            CmndEndPage(pdev);
        }
        for (int page = 1; page <= 2; ++page) {
            std::ifstream in(PageFileName(*pdev, page), std::ios::binary);
            const std::vector<char> file((std::istreambuf_iterator<char>(in)), {});
            if (file.empty()) std::abort();  // the job was to keep its pages
            fuzzsupport::WriteSeed(
                "dualside" + std::to_string(dualSide) + "-page" + std::to_string(page), file.data(),
                file.size());
        }
        CmndEndDoc(pdev);
        CmndDisableExtPDEV(pdev);
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzsupport::ScratchRoot();
    fuzzsupport::WriteSeedsIfAsked(WriteSeeds);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::filesystem::path file = fuzzsupport::ScratchRoot() / "page.tmp";
    {
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    Devmode mode = cmdtest::PlainDevmode();
    std::vector<BYTE> buffer(kOutputCapacity);
    ExtPdev* pdev = CmndEnableExtPDEV(&mode, nullptr, buffer.data());
    if (pdev == nullptr) std::abort();
    pdev->writeHook = Capture;
    stream.clear();
    // The kinds of the page replayed: the size picks first, middle or last.
    pdev->outputFlags |= size % 3 == 0 ? kOutFirstSheet : size % 3 == 1 ? kOutMiddle : kOutFinal;
    const int times = 1 + static_cast<int>(size % 2);
    ReplayPage(pdev, file.c_str(), times);
    FlushOut(pdev);
    if (size >= kPageFileHeader) {
        // Each copy holds the whole body, in order.
        const BYTE* body = data + kPageFileHeader;
        const std::size_t bodySize = size - kPageFileHeader;
        auto from = stream.begin();
        for (int i = 0; i < times && bodySize != 0; ++i) {
            from = std::search(from, stream.end(), body, body + bodySize);
            if (from == stream.end()) std::abort();
            from += static_cast<std::ptrdiff_t>(bodySize);
        }
    } else if (!stream.empty()) {
        std::abort();  // a file shorter than its header is skipped
    }
    CmndDisableExtPDEV(pdev);
    return 0;
}
