// A printer of the spooler stand-in with a started job, the user's temporary
// folder inside the test's store root, and a job record driven through the
// command library's exports. Pages are told apart by the bytes each test
// writes into them through WriteOut.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "command/exports.h"
#include "command/ext_pdev.h"
#include "command/spool_output.h"
#include "platform/files.h"
#include "platform/spooler.h"
#include "test_support.h"
#include "tests/command/plain_devmode.h"

namespace cmdtest {

// The groups of a one-page job with every mask zero and dualside 1.
inline const std::string kDocStart("\x1B\x40\x1B\x32", 4);
inline const std::string kPageStartOneSided("\x1F\x60\x00\x1B\x53", 5);
inline const std::string kDocEnd("\x1B\x40", 2);

inline PageGeometry Geometry(WORD bits = 1, WORD direction = 1, WORD rotation = 0) {
    PageGeometry geometry{};
    geometry.bitsPerPixel = bits;
    geometry.bandDirection = direction;
    geometry.rotation = rotation;
    return geometry;
}

inline std::string ReadAll(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), {});
}

class CommandJob : public ::testing::Test {
  protected:
    void SetUp() override {
        temp_ = root_.path() / "tmp";
        std::filesystem::create_directories(temp_);
        const char* old = std::getenv("TMPDIR");
        if (old != nullptr) oldTemp_ = old, hadTemp_ = true;
        setenv("TMPDIR", temp_.c_str(), 1);
        platform::PrinterSetup setup{root_.path() / "QLPRGI.DLL", root_.path() / "QLPR80.INI",
                                     OutputPath().string()};
        ASSERT_TRUE(platform::InstallPrinter(u"Command Receipt", setup));
        ASSERT_TRUE(OpenPrinterW(u"Command Receipt", &printer_, nullptr));
        DOC_INFO_1W info{};
        ASSERT_NE(StartDocPrinterW(printer_, 1, reinterpret_cast<BYTE*>(&info)), 0u);
        buffer_.assign(kOutputCapacity, 0);
    }
    void TearDown() override {
        if (pdev_ != nullptr) CmndDisableExtPDEV(pdev_);
        if (printer_ != nullptr) {
            EndDocPrinter(printer_);
            ClosePrinter(printer_);
        }
        if (hadTemp_)
            setenv("TMPDIR", oldTemp_.c_str(), 1);
        else
            unsetenv("TMPDIR");
    }

    // Enables a record for `mode`, sends the geometry and starts job 0x2B.
    ExtPdev* Begin(const Devmode& mode, const PageGeometry& geometry = Geometry()) {
        mode_ = mode;
        pdev_ = CmndEnableExtPDEV(&mode_, printer_, buffer_.data());
        EXPECT_NE(pdev_, nullptr);
        if (pdev_ == nullptr) return nullptr;
        EXPECT_EQ(CmndExtEscape(pdev_, 16002, sizeof geometry, &geometry, 0, nullptr), 1);
        EXPECT_EQ(CmndStartDoc(pdev_, &mode_, "Receipt", 0x2B), 1);
        return pdev_;
    }
    // One page whose body is "P<n>".
    void Page(int n, SIZEL size = {576, 800}) {
        ASSERT_EQ(CmndStartPage(pdev_, &mode_, &size, nullptr, 0), 1) << "page " << n;
        const std::string body = "P" + std::to_string(n);
        ASSERT_TRUE(WriteOut(pdev_, body.data(), static_cast<DWORD>(body.size())));
        ASSERT_EQ(CmndEndPage(pdev_), 1);
    }
    // Ends the document and the spooler's job; the job output.
    std::string End() {
        EXPECT_EQ(CmndEndDoc(pdev_), 1);
        EXPECT_EQ(CmndDisableExtPDEV(pdev_), 1);
        pdev_ = nullptr;
        return Output();
    }
    std::string Output() {
        if (printer_ != nullptr) EndDocPrinter(printer_);
        ClosePrinter(printer_);
        printer_ = nullptr;
        return ReadAll(OutputPath());
    }
    std::string Print(const Devmode& mode, int pages) {
        if (Begin(mode) == nullptr) return {};
        for (int n = 1; n <= pages; ++n) Page(n);
        return End();
    }

    std::filesystem::path OutputPath() const { return root_.path() / "out.prn"; }
    // The folders the jobs made in the temporary folder.
    std::vector<std::filesystem::path> JobFolders() const {
        std::vector<std::filesystem::path> folders;
        for (const auto& entry : std::filesystem::directory_iterator(temp_))
            folders.push_back(entry.path());
        return folders;
    }
    // The names of the files in the job folders.
    std::vector<std::string> PageFiles() const {
        std::vector<std::string> names;
        for (const auto& folder : JobFolders())
            for (const auto& entry : std::filesystem::directory_iterator(folder))
                names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    testsupport::ScopedStoreRoot root_;
    std::filesystem::path temp_;
    std::string oldTemp_;
    bool hadTemp_ = false;
    HANDLE printer_ = nullptr;
    std::vector<BYTE> buffer_;
    Devmode mode_{};
    ExtPdev* pdev_ = nullptr;
};

}  // namespace cmdtest
