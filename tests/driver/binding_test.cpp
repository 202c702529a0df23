// Binding the command library: found beside the driver by name, its eight
// exports, the work buffer, and nothing called through a binding that is
// not there.

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "driver/command_binding.h"
#include "fixtures/command_recorder.h"
#include "test_support.h"

namespace {

class Binding : public ::testing::Test {
protected:
    void SetUp() override {
        folder_ = root_.path() / "drivers";
        std::filesystem::create_directories(folder_);
        const std::u16string driver = (folder_ / "QLPRGI.DLL").u16string();
        std::copy(driver.begin(), driver.end(), moduleFileName_);
    }
    void Install(const char* recorder) {
        std::filesystem::copy_file(testsupport::BinDir() / recorder, folder_ / "QLPRCMND.DLL");
    }
    bool Loaded() const {
        void* handle = dlopen((folder_ / "QLPRCMND.DLL").c_str(), RTLD_NOW | RTLD_NOLOAD);
        if (handle != nullptr) dlclose(handle);
        return handle != nullptr;
    }

    testsupport::ScopedStoreRoot root_;
    std::filesystem::path folder_;
    WCHAR moduleFileName_[260] = {};
};

TEST_F(Binding, NoLibraryOrALibraryLackingAnExportLeavesTheBindingZero) {
    CommandBinding binding{};
    binding.job = reinterpret_cast<ExtPdev*>(&binding);  // whatever was there goes
    const CommandBinding zero{};
    EXPECT_FALSE(BindCommandLibrary(&binding, moduleFileName_));
    EXPECT_EQ(std::memcmp(&binding, &zero, sizeof zero), 0);
    EXPECT_FALSE(BindCommandLibrary(&binding, nullptr));
    Install("qlpr_command_recorder_no_escape.so");
    EXPECT_FALSE(BindCommandLibrary(&binding, moduleFileName_));
    EXPECT_EQ(std::memcmp(&binding, &zero, sizeof zero), 0);
    EXPECT_FALSE(Loaded());  // unloaded again
}

TEST_F(Binding, BindsTheEightExportsAndLendsAWorkBuffer) {
    Install("qlpr_command_recorder.so");
    void* recorder = dlopen((folder_ / "QLPRCMND.DLL").c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(recorder, nullptr);
    auto calls = reinterpret_cast<PFN_RecorderCalls>(dlsym(recorder, "RecorderCalls"));
    ASSERT_NE(calls, nullptr);

    CommandBinding binding{};
    ASSERT_TRUE(BindCommandLibrary(&binding, moduleFileName_));
    EXPECT_NE(binding.module, nullptr);
    EXPECT_EQ(reinterpret_cast<void*>(binding.enableExtPdev), dlsym(recorder, "CmndEnableExtPDEV"));
    EXPECT_EQ(reinterpret_cast<void*>(binding.disableExtPdev),
              dlsym(recorder, "CmndDisableExtPDEV"));
    EXPECT_EQ(reinterpret_cast<void*>(binding.startDoc), dlsym(recorder, "CmndStartDoc"));
    EXPECT_EQ(reinterpret_cast<void*>(binding.endDoc), dlsym(recorder, "CmndEndDoc"));
    EXPECT_EQ(reinterpret_cast<void*>(binding.startPage), dlsym(recorder, "CmndStartPage"));
    EXPECT_EQ(reinterpret_cast<void*>(binding.endPage), dlsym(recorder, "CmndEndPage"));
    EXPECT_EQ(reinterpret_cast<void*>(binding.sendBand), dlsym(recorder, "CmndSendBand"));
    EXPECT_EQ(reinterpret_cast<void*>(binding.extEscape), dlsym(recorder, "CmndExtEscape"));
    ASSERT_NE(binding.workBuffer, nullptr);
    EXPECT_EQ(binding.job, nullptr);

    // Without a job nothing reaches the library.
    EXPECT_FALSE(CallCmndStartDoc(&binding, nullptr, "x", 1));
    EXPECT_FALSE(CallCmndEndPage(&binding));
    EXPECT_EQ(CallCommandEscape(&binding, kEscapeGeometry, 0, nullptr), 0);
    EndCommandJob(&binding);
    EXPECT_TRUE(calls()->empty());

    Devmode devmode{};
    HANDLE printer = reinterpret_cast<HANDLE>(0x1234);
    ASSERT_TRUE(CallCmndEnableExtPDEV(&binding, &devmode, printer));  // fills all 65,535 bytes
    EXPECT_NE(binding.job, nullptr);
    EXPECT_EQ(binding.printer, printer);
    EXPECT_TRUE(CallCmndStartDoc(&binding, &devmode, nullptr, 9));
    EXPECT_EQ(CallCommandEscape(&binding, kEscapeNewSheet, 4, "\x01\0\0\0"), 1);
    EndCommandJob(&binding);
    EXPECT_EQ(binding.job, nullptr);
    EndCommandJob(&binding);  // once only
    ASSERT_EQ(calls()->size(), 5u);
    EXPECT_EQ((*calls())[0].workBuffer, binding.workBuffer);
    EXPECT_EQ((*calls())[0].printer, printer);
    EXPECT_EQ((*calls())[2].code, kEscapeNewSheet);
    EXPECT_EQ((*calls())[3].call, recorder::Call::EndDoc);
    EXPECT_EQ((*calls())[4].call, recorder::Call::DisableExtPDEV);

    UnbindCommandLibrary(&binding);
    const CommandBinding zero{};
    EXPECT_EQ(std::memcmp(&binding, &zero, sizeof zero), 0);
    UnbindCommandLibrary(&binding);  // nothing left: nothing happens
    EXPECT_FALSE(CallCmndEnableExtPDEV(&binding, &devmode, printer));
    dlclose(recorder);
    EXPECT_FALSE(Loaded());
}

}  // namespace
