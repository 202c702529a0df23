// Loading libraries, their exports, file names, string and resource tables.
#include "platform/module.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "platform/codepage.h"
#include "platform/last_error.h"
#include "platform_test_util.h"
#include "test_support.h"

namespace {

using platformtest::Wide;

std::filesystem::path FixturePath() {
    return testsupport::BinDir() / "qlpr_test_resources.so";
}

std::u16string FileNameOf(HMODULE module) {
    WCHAR name[4096];
    DWORD length = GetModuleFileNameW(module, name, 4096);
    return std::u16string(name, length);
}

class ModuleTest : public ::testing::Test {
  protected:
    void SetUp() override {
        module_ = LoadLibraryW(Wide(FixturePath()).c_str());
        ASSERT_NE(module_, nullptr) << FixturePath();
    }
    void TearDown() override {
        if (module_ != nullptr) FreeLibrary(module_);
    }
    HMODULE module_ = nullptr;
};

TEST_F(ModuleTest, LoadsByPathAndFindsExports) {
    EXPECT_NE(GetProcAddress(module_, "QlprStringTable"), nullptr);
    SetLastError(0);
    EXPECT_EQ(GetProcAddress(module_, "NoSuchExport"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_PROC_NOT_FOUND);
    EXPECT_EQ(GetProcAddress(module_, reinterpret_cast<LPCSTR>(std::uintptr_t{1})), nullptr);
}

TEST(ModuleLoadTest, MissingLibraryFails) {
    SetLastError(0);
    EXPECT_EQ(LoadLibraryW(u"/nonexistent/QLPRNONE.DLL"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
    EXPECT_EQ(LoadLibraryW(u""), nullptr);
}

TEST_F(ModuleTest, FileNameIsTheAbsolutePath) {
    EXPECT_EQ(FileNameOf(module_), Wide(FixturePath()));
    // The platform library itself, found from one of its addresses.
    HMODULE platformModule = nullptr;
    ASSERT_TRUE(GetModuleHandleExW(
        GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
        reinterpret_cast<LPCWSTR>(&GetACP), &platformModule));
    const std::filesystem::path platformPath = platform::ToUtf8(FileNameOf(platformModule));
    EXPECT_TRUE(platformPath.is_absolute());
    EXPECT_TRUE(
        std::filesystem::equivalent(platformPath, testsupport::BinDir() / "libqlprplatform.so"));
    EXPECT_EQ(reinterpret_cast<void*>(GetProcAddress(platformModule, "GetACP")),
              reinterpret_cast<void*>(&GetACP));
}

TEST(ModuleFileNameTest, ProgramAndCutNames) {
    char exe[4096];
    ssize_t length = readlink("/proc/self/exe", exe, sizeof exe);
    ASSERT_GT(length, 0);
    const std::u16string expected = platform::FromUtf8(std::string(exe, length));
    EXPECT_EQ(FileNameOf(nullptr), expected);

    // Cut: size - 1 characters and a zero, the result is size.
    WCHAR cut[6] = {u'X', u'X', u'X', u'X', u'X', u'X'};
    SetLastError(0);
    EXPECT_EQ(GetModuleFileNameW(nullptr, cut, 5), 5u);
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(std::u16string(cut), expected.substr(0, 4));
    EXPECT_EQ(cut[5], u'X');
    // Exactly fitting with its zero.
    std::u16string exact(expected.size() + 1, u'X');
    EXPECT_EQ(GetModuleFileNameW(nullptr, exact.data(), static_cast<DWORD>(exact.size())),
              expected.size());
    EXPECT_EQ(exact.back(), u'\0');
}

TEST_F(ModuleTest, HandleFromAddressCountsReferencesUnlessAskedNot) {
    const void* table = reinterpret_cast<const void*>(GetProcAddress(module_, "QlprResourceTable"));
    ASSERT_NE(table, nullptr);
    HMODULE counted = nullptr;
    ASSERT_TRUE(GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                                   static_cast<LPCWSTR>(table), &counted));
    EXPECT_EQ(counted, module_);
    HMODULE uncounted = nullptr;
    ASSERT_TRUE(GetModuleHandleExW(
        GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
        static_cast<LPCWSTR>(table), &uncounted));
    EXPECT_EQ(uncounted, module_);

    // Two references now: the load and the counted handle.
    const std::u16string path = Wide(FixturePath());
    const DWORD lookup = GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT;
    HMODULE found = nullptr;
    EXPECT_TRUE(FreeLibrary(counted));
    EXPECT_TRUE(GetModuleHandleExW(lookup, path.c_str(), &found));
    EXPECT_TRUE(FreeLibrary(module_));
    module_ = nullptr;
    EXPECT_FALSE(GetModuleHandleExW(lookup, path.c_str(), &found));
    EXPECT_EQ(found, nullptr);
    EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
}

TEST_F(ModuleTest, LoadStringCopiesAndCuts) {
    WCHAR buffer[32];
    EXPECT_EQ(LoadStringW(module_, 100, buffer, 32), 15);
    EXPECT_EQ(std::u16string(buffer), u"Receipt printer");
    EXPECT_EQ(LoadStringW(module_, 205, buffer, 32), 13);
    EXPECT_EQ(std::u16string(buffer), u"Papier \u00e9puis\u00e9");
    EXPECT_EQ(LoadStringW(module_, 100, buffer, 8), 7);
    EXPECT_EQ(std::u16string(buffer), u"Receipt");

    // Size 0: a pointer to the string itself.
    const WCHAR* direct = nullptr;
    EXPECT_EQ(LoadStringW(module_, 100, reinterpret_cast<LPWSTR>(&direct), 0), 15);
    ASSERT_NE(direct, nullptr);
    EXPECT_EQ(std::u16string(direct, 15), u"Receipt printer");

    SetLastError(0);
    buffer[0] = u'X';
    EXPECT_EQ(LoadStringW(module_, 999, buffer, 32), 0);
    EXPECT_EQ(buffer[0], u'\0');
    EXPECT_EQ(GetLastError(), ERROR_RESOURCE_NAME_NOT_FOUND);
    EXPECT_EQ(LoadStringW(module_, 101, buffer, 32), 0);  // an empty string
}

TEST_F(ModuleTest, ResourcesByTypeAndId) {
    const ResourceData* first = QlprFindResource(module_, 10, 1);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->size, 5u);
    EXPECT_EQ(static_cast<const BYTE*>(first->data)[4], 5);
    const ResourceData* second = QlprFindResource(module_, 10, 2);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(static_cast<const BYTE*>(second->data)[0], 2);
    EXPECT_EQ(QlprFindResource(module_, 11, 1), nullptr);
    EXPECT_EQ(QlprFindResource(module_, 10, 3), nullptr);
}

TEST(ModuleTablesTest, LibraryWithoutTablesHasNoStrings) {
    // The platform library carries no table; its dependencies are not
    // searched in its stead.
    HMODULE platformModule = nullptr;
    ASSERT_TRUE(GetModuleHandleExW(
        GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
        reinterpret_cast<LPCWSTR>(&GetACP), &platformModule));
    WCHAR buffer[8];
    EXPECT_EQ(LoadStringW(platformModule, 100, buffer, 8), 0);
    EXPECT_EQ(QlprFindResource(platformModule, 10, 1), nullptr);
    EXPECT_EQ(LoadStringW(nullptr, 100, buffer, 8), 0);
}

}  // namespace
