// A driver folder for the page pipeline tests: the driver and its companion
// libraries copied into a temporary folder with the command recorder as
// QLPRCMND.DLL, a printer of the spooler stand-in using that driver, and the
// recorder opened by the same path so that its record can be read.
#pragma once

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "driver/device_instance.h"
#include "driver/settings.h"
#include "fixtures/command_recorder.h"
#include "host/driver_host.h"
#include "host/engine.h"
#include "host/print_job.h"
#include "platform/registry.h"
#include "platform/spooler.h"
#include "test_support.h"

namespace pipetest {

using recorder::Call;
using recorder::RecordedCall;

inline constexpr char16_t kPrinter[] = u"Pipeline Receipt";

class PipelineTest : public ::testing::Test {
protected:
    // The recorder build copied in as the command library.
    virtual const char* RecorderFile() const { return "qlpr_command_recorder.so"; }
    // Whether the test keeps the recorder open (to read it); a test that
    // checks the driver unloads it must not.
    virtual bool HoldRecorder() const { return true; }

    void SetUp() override {
        folder_ = root_.path() / "driver";
        std::filesystem::create_directories(folder_);
        const auto bin = testsupport::BinDir();
        for (const char* name : {"QLPRGI.DLL", "QLPRBRCD.DLL", "QLPRURES.DLL"})
            std::filesystem::copy_file(bin / name, folder_ / name);
        std::filesystem::copy_file(bin / RecorderFile(), RecorderPath());
        std::filesystem::copy_file(testsupport::SourceDir() / "examples" / "QLPR80.INI",
                                   root_.path() / "QLPR80.INI");
        platform::PrinterSetup setup{folder_ / "QLPRGI.DLL", root_.path() / "QLPR80.INI",
                                     OutputPath().string()};
        ASSERT_TRUE(platform::InstallPrinter(kPrinter, setup));
        ASSERT_TRUE(OpenPrinterW(reinterpret_cast<LPCWSTR>(kPrinter), &printer_, nullptr));
        if (HoldRecorder()) {
            recorder_ = dlopen(RecorderPath().c_str(), RTLD_NOW | RTLD_LOCAL);
            ASSERT_NE(recorder_, nullptr) << dlerror();
            calls_ = reinterpret_cast<PFN_RecorderCalls>(dlsym(recorder_, "RecorderCalls"));
            failAt_ = reinterpret_cast<PFN_RecorderFailAt>(dlsym(recorder_, "RecorderFailAt"));
            liveJobs_ =
                reinterpret_cast<PFN_RecorderLiveJobs>(dlsym(recorder_, "RecorderLiveJobs"));
            ASSERT_TRUE(calls_ && failAt_ && liveJobs_);
        }
        std::string error;
        driver_ = host::DriverHost::Load(folder_ / "QLPRGI.DLL", &error);
        ASSERT_TRUE(driver_) << error;
    }

    void TearDown() override {
        driver_.reset();
        if (printer_ != nullptr) ClosePrinter(printer_);
        if (recorder_ != nullptr) {
            if (liveJobs_ != nullptr) {
                EXPECT_EQ(liveJobs_(), 0) << "a job record was never freed";
            }
            dlclose(recorder_);
        }
    }

    std::filesystem::path RecorderPath() const { return folder_ / "QLPRCMND.DLL"; }
    std::filesystem::path OutputPath() const { return root_.path() / "out.prn"; }
    std::filesystem::path LogPath() const { return root_.path() / "P-ZNGIUI.log"; }

    std::unique_ptr<host::Device> Enable(const Devmode* devmode = nullptr) {
        std::string error;
        auto device = host::Device::Enable(*driver_, printer_, kPrinter,
                                           devmode != nullptr ? &devmode->pub : nullptr, &error);
        EXPECT_TRUE(device) << error;
        return device;
    }
    static DeviceInstance& Instance(const host::Device& device) {
        return *reinterpret_cast<DeviceInstance*>(device.pdev());
    }

    // The printer's validated default device mode and settings block.
    Devmode DefaultDevmode() {
        auto device = Enable();
        Devmode mode{};
        if (device) std::memcpy(&mode, &Instance(*device).devmode, sizeof mode);
        return mode;
    }
    PrinterData DefaultSettings() {
        auto device = Enable();
        PrinterData settings{};
        if (device) std::memcpy(&settings, &Instance(*device).printerData, sizeof settings);
        return settings;
    }
    // Stores a settings block in the printer's data; devices enabled later use it.
    void StoreSettings(const PrinterData& settings) {
        const DWORD size = sizeof settings;
        ASSERT_EQ(SetPrinterDataW(printer_, u"PrinterData", REG_BINARY,
                                  reinterpret_cast<const BYTE*>(&settings), size),
                  ERROR_SUCCESS);
        ASSERT_EQ(SetPrinterDataW(printer_, u"PrinterDataSize", REG_DWORD,
                                  reinterpret_cast<const BYTE*>(&size), sizeof size),
                  ERROR_SUCCESS);
    }
    // Settings with the whole-page band off (and detail logging into the
    // test's folder when asked).
    void UseSettings(bool wholePage, bool detailLog = false) {
        PrinterData settings = DefaultSettings();
        if (wholePage)
            settings.flags |= kFlagWholePageBand;
        else
            settings.flags &= ~kFlagWholePageBand;
        if (detailLog) {
            settings.logMode = kLogDetail;
            const std::u16string folder = root_.path().u16string();
            std::memset(settings.logFolder, 0, sizeof settings.logFolder);
            std::memcpy(settings.logFolder, folder.data(),
                        std::min<std::size_t>(folder.size(), 259) * sizeof(WCHAR));
        }
        StoreSettings(settings);
    }

    // Device modes of the four band directions, and their depth.
    static Devmode WithDepth(Devmode mode, int bits) {
        mode.pub.dmFields |= DM_DITHERTYPE;
        mode.pub.dmDitherType = bits == 24 ? 5 : bits == 8 ? 260 : 258;
        return mode;
    }
    static Devmode Rotated(Devmode mode, SHORT orientation, SHORT rotation) {
        mode.pub.dmFields |= DM_ORIENTATION;
        mode.pub.dmOrientation = orientation;
        mode.priv.rotation = rotation;
        return mode;
    }
    // A user-defined paper (code 700) of the roll's width and `length` 0.1 mm,
    // stored in the printer's data; the device mode chooses it.
    Devmode LongPaper(Devmode mode, LONG length) {
        CustomPaperRecord paper{};
        const std::u16string name = u"Long roll";
        std::memcpy(paper.name, name.data(), name.size() * sizeof(WCHAR));
        paper.width = 800;
        paper.length = length;
        paper.code = 700;
        EXPECT_EQ(SetPrinterDataW(printer_, u"CustomPaper", REG_BINARY,
                                  reinterpret_cast<const BYTE*>(&paper), sizeof paper),
                  ERROR_SUCCESS);
        mode.pub.dmFields = (mode.pub.dmFields | DM_PAPERSIZE) & ~DM_FORMNAME;
        mode.pub.dmPaperSize = 700;
        return mode;
    }

    std::unique_ptr<host::PrintJob> StartJob(host::Device& device,
                                             const std::u16string& name = u"Receipt",
                                             DWORD jobId = 42) {
        std::string error;
        auto job = host::PrintJob::Start(device, name, jobId, &error);
        EXPECT_TRUE(job) << error;
        return job;
    }

    std::vector<RecordedCall> Calls() const { return *calls_(); }
    std::vector<Call> Sequence() const {
        std::vector<Call> sequence;
        for (const RecordedCall& call : *calls_()) sequence.push_back(call.call);
        return sequence;
    }
    std::vector<RecordedCall> CallsOf(Call kind) const {
        std::vector<RecordedCall> found;
        for (const RecordedCall& call : *calls_())
            if (call.call == kind) found.push_back(call);
        return found;
    }
    void FailAt(Call call, int nth) { failAt_(static_cast<int>(call), nth); }
    int LiveJobs() const { return liveJobs_(); }

    std::string ReadFile(const std::filesystem::path& path) const {
        std::ifstream in(path, std::ios::binary);
        return std::string((std::istreambuf_iterator<char>(in)), {});
    }
    std::string Log() const { return ReadFile(LogPath()); }

    testsupport::ScopedStoreRoot root_;
    std::filesystem::path folder_;
    HANDLE printer_ = nullptr;
    void* recorder_ = nullptr;
    PFN_RecorderCalls calls_ = nullptr;
    PFN_RecorderFailAt failAt_ = nullptr;
    PFN_RecorderLiveJobs liveJobs_ = nullptr;
    std::unique_ptr<host::DriverHost> driver_;
};

// The calls of a document of pages with the given band counts.
inline std::vector<Call> DocumentSequence(const std::vector<int>& bandsPerPage) {
    std::vector<Call> sequence{Call::EnableExtPDEV, Call::ExtEscape, Call::StartDoc};
    for (int bands : bandsPerPage) {
        sequence.push_back(Call::ExtEscape);
        sequence.push_back(Call::StartPage);
        for (int i = 0; i < bands; ++i) sequence.push_back(Call::SendBand);
        sequence.push_back(Call::EndPage);
    }
    sequence.push_back(Call::EndDoc);
    sequence.push_back(Call::DisableExtPDEV);
    return sequence;
}

inline std::string Names(const std::vector<Call>& calls) {
    std::string text;
    for (Call call : calls) text += std::string(recorder::CallName(call)) + " ";
    return text;
}

inline bool SameRect(const RECTL& a, const RECTL& b) {
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

}  // namespace pipetest

inline std::ostream& operator<<(std::ostream& out, const RECTL& r) {
    return out << "(" << r.left << "," << r.top << "," << r.right << "," << r.bottom << ")";
}
