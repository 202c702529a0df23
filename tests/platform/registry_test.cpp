// The registry store: keys as folders, values as files, names folded and
// escaped, atomic replacement, and the query protocol.
#include "platform/registry.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <map>
#include <optional>
#include <thread>
#include <vector>

#include "platform/store_root.h"
#include "platform_test_util.h"
#include "test_support.h"

namespace {

using platformtest::FolderEntries;
using platformtest::ReadBytes;
using platformtest::WriteBytes;

class RegistryTest : public ::testing::Test {
  protected:
    void TearDown() override {
        for (HKEY key : open_) RegCloseKey(key);
    }

    HKEY Create(HKEY parent, const char16_t* path, DWORD* disposition = nullptr) {
        HKEY key = nullptr;
        EXPECT_EQ(RegCreateKeyExW(parent, path, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                                  nullptr, &key, disposition),
                  ERROR_SUCCESS);
        if (key != nullptr) open_.push_back(key);
        return key;
    }

    LONG SetDword(HKEY key, const char16_t* name, DWORD value) {
        return RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                              sizeof value);
    }

    std::filesystem::path MachineFolder() const {
        return root_.path() / "registry" / "HKEY_LOCAL_MACHINE";
    }

    testsupport::ScopedStoreRoot root_;
    std::vector<HKEY> open_;
};

TEST_F(RegistryTest, CreateMakesIntermediateKeysAndReportsDisposition) {
    DWORD disposition = 0;
    HKEY key = Create(HKEY_LOCAL_MACHINE, u"Software\\QLPR\\Receipt", &disposition);
    ASSERT_NE(key, nullptr);
    EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);
    EXPECT_TRUE(std::filesystem::is_directory(MachineFolder() / "software" / "qlpr" / "receipt"));

    Create(HKEY_LOCAL_MACHINE, u"SOFTWARE\\qlpr\\RECEIPT", &disposition);
    EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);
    // Relative to an opened key, and with stray separators.
    Create(key, u"Child\\\\Grand\\", &disposition);
    EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);
    EXPECT_TRUE(std::filesystem::is_directory(MachineFolder() / "software" / "qlpr" / "receipt" /
                                              "child" / "grand"));
}

TEST_F(RegistryTest, OpenMissingKeyFailsWithFileNotFound) {
    HKEY key = reinterpret_cast<HKEY>(std::uintptr_t{1});
    EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"Software\\Nothing", 0, KEY_READ, &key),
              ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(key, nullptr);
    // Nothing was created on the way.
    EXPECT_FALSE(
        std::filesystem::exists(root_.path() / "registry" / "HKEY_CURRENT_USER" / "software"));
}

TEST_F(RegistryTest, ValueRoundTripIgnoresCase) {
    HKEY key = Create(HKEY_LOCAL_MACHINE, u"Software\\QLPR");
    ASSERT_EQ(SetDword(key, u"PaperWidth", 576), ERROR_SUCCESS);

    HKEY reopened = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"software\\Qlpr", 0, KEY_READ, &reopened),
              ERROR_SUCCESS);
    open_.push_back(reopened);
    DWORD type = 0, value = 0, size = sizeof value;
    ASSERT_EQ(RegQueryValueExW(reopened, u"PAPERWIDTH", nullptr, &type,
                               reinterpret_cast<BYTE*>(&value), &size),
              ERROR_SUCCESS);
    EXPECT_EQ(type, REG_DWORD);
    EXPECT_EQ(value, 576u);
    EXPECT_EQ(size, 4u);
}

TEST_F(RegistryTest, ValueFileHoldsTypeThenBytes) {
    HKEY key = Create(HKEY_LOCAL_MACHINE, u"Software\\QLPR");
    const char16_t text[] = u"Ab";
    ASSERT_EQ(
        RegSetValueExW(key, u"Name", 0, REG_SZ, reinterpret_cast<const BYTE*>(text), sizeof text),
        ERROR_SUCCESS);
    EXPECT_EQ(ReadBytes(MachineFolder() / "software" / "qlpr" / "name"),
              std::string("\x01\x00\x00\x00"
                          "A\0b\0\0\0",
                          10));
}

TEST_F(RegistryTest, NamesAreEscapedWhereAFileNameCannotCarryThem) {
    HKEY key = Create(HKEY_LOCAL_MACHINE, u"Odd/Key");
    ASSERT_EQ(SetDword(key, u"a/b%c", 1), ERROR_SUCCESS);
    ASSERT_EQ(SetDword(key, u".hidden", 2), ERROR_SUCCESS);
    ASSERT_EQ(SetDword(key, u"..", 3), ERROR_SUCCESS);
    ASSERT_EQ(SetDword(key, u"tab\there", 4), ERROR_SUCCESS);
    ASSERT_EQ(SetDword(key, u"Caf\u00c9", 5), ERROR_SUCCESS);  // only ASCII is folded
    ASSERT_EQ(SetDword(key, nullptr, 6), ERROR_SUCCESS);       // the unnamed value
    EXPECT_EQ(FolderEntries(MachineFolder() / "odd%2Fkey"),
              (std::vector<std::string>{"%2E.", "%2Ehidden", ".default", "a%2Fb%25c", "caf\xC3\x89",
                                        "tab%09here"}));
    DWORD value = 0, size = sizeof value;
    ASSERT_EQ(RegQueryValueExW(key, u"", nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size),
              ERROR_SUCCESS);
    EXPECT_EQ(value, 6u);
    EXPECT_EQ(RegQueryValueExW(key, u"caf\u00e9", nullptr, nullptr, nullptr, &size),
              ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryTest, QueryProtocolSizeMoreDataAndMissing) {
    HKEY key = Create(HKEY_CURRENT_USER, u"Software\\QLPR");
    const BYTE blob[6] = {1, 2, 3, 4, 5, 6};
    ASSERT_EQ(RegSetValueExW(key, u"Blob", 0, REG_BINARY, blob, sizeof blob), ERROR_SUCCESS);

    DWORD type = 0, size = 0;
    EXPECT_EQ(RegQueryValueExW(key, u"Blob", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 6u);
    EXPECT_EQ(type, REG_BINARY);

    BYTE small[5] = {9, 9, 9, 9, 9};
    size = sizeof small;
    EXPECT_EQ(RegQueryValueExW(key, u"Blob", nullptr, &type, small, &size), ERROR_MORE_DATA);
    EXPECT_EQ(size, 6u);
    EXPECT_EQ(small[0], 9);  // nothing copied

    BYTE big[10] = {};
    size = sizeof big;
    EXPECT_EQ(RegQueryValueExW(key, u"Blob", nullptr, &type, big, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 6u);
    EXPECT_EQ(std::memcmp(big, blob, 6), 0);

    size = 77;
    EXPECT_EQ(RegQueryValueExW(key, u"Missing", nullptr, &type, big, &size), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegQueryValueExW(key, u"Blob", nullptr, &type, big, nullptr),
              ERROR_INVALID_PARAMETER);
}

TEST_F(RegistryTest, EmptyValueIsAValue) {
    HKEY key = Create(HKEY_CURRENT_USER, u"K");
    ASSERT_EQ(RegSetValueExW(key, u"Nothing", 0, REG_BINARY, nullptr, 0), ERROR_SUCCESS);
    DWORD size = 99, type = 0;
    BYTE data[4];
    EXPECT_EQ(RegQueryValueExW(key, u"Nothing", nullptr, &type, data, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 0u);
}

TEST_F(RegistryTest, ValueFileShorterThanItsTypeIsMissing) {
    HKEY key = Create(HKEY_LOCAL_MACHINE, u"K");
    WriteBytes(MachineFolder() / "k" / "broken", std::string("\x04\x00", 2));
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExW(key, u"Broken", nullptr, nullptr, nullptr, &size),
              ERROR_FILE_NOT_FOUND);
    // A subkey is not a value either.
    Create(key, u"Sub");
    EXPECT_EQ(RegQueryValueExW(key, u"Sub", nullptr, nullptr, nullptr, &size),
              ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryTest, ReplacementLeavesNoTemporaryFiles) {
    HKEY key = Create(HKEY_LOCAL_MACHINE, u"K");
    for (DWORD i = 0; i < 50; ++i) ASSERT_EQ(SetDword(key, u"Counter", i), ERROR_SUCCESS);
    EXPECT_EQ(FolderEntries(MachineFolder() / "k"), std::vector<std::string>{"counter"});
    DWORD value = 0, size = sizeof value;
    ASSERT_EQ(
        RegQueryValueExW(key, u"counter", nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size),
        ERROR_SUCCESS);
    EXPECT_EQ(value, 49u);
}

// Setting a value to what it holds leaves its file alone; a change of the
// bytes or only of the type replaces it.
TEST_F(RegistryTest, RewritingTheSameValueLeavesItsFileAlone) {
    HKEY key = Create(HKEY_LOCAL_MACHINE, u"K");
    const auto inode = [&] {
        struct stat info {};
        EXPECT_EQ(stat((MachineFolder() / "k" / "counter").c_str(), &info), 0);
        return info.st_ino;
    };
    ASSERT_EQ(SetDword(key, u"Counter", 7), ERROR_SUCCESS);
    const auto first = inode();
    ASSERT_EQ(SetDword(key, u"Counter", 7), ERROR_SUCCESS);
    EXPECT_EQ(inode(), first);
    ASSERT_EQ(SetDword(key, u"Counter", 8), ERROR_SUCCESS);
    const auto second = inode();
    EXPECT_NE(second, first);
    const DWORD eight = 8;
    ASSERT_EQ(RegSetValueExW(key, u"Counter", 0, REG_BINARY, reinterpret_cast<const BYTE*>(&eight),
                             sizeof eight),
              ERROR_SUCCESS);
    EXPECT_NE(inode(), second);
    DWORD type = 0, value = 0, size = sizeof value;
    ASSERT_EQ(
        RegQueryValueExW(key, u"Counter", nullptr, &type, reinterpret_cast<BYTE*>(&value), &size),
        ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_BINARY));
    EXPECT_EQ(value, 8u);
}

TEST_F(RegistryTest, ReaderNeverSeesHalfAValue) {
    HKEY key = Create(HKEY_LOCAL_MACHINE, u"K");
    const std::vector<BYTE> shortValue(3, 0xAA), longValue(5000, 0x55);
    ASSERT_EQ(RegSetValueExW(key, u"V", 0, REG_BINARY, shortValue.data(), 3), ERROR_SUCCESS);
    std::atomic<bool> stop{false};
    std::thread writer([&] {
        for (int i = 0; i < 300; ++i) {
            const auto& v = (i % 2 == 0) ? longValue : shortValue;
            RegSetValueExW(key, u"V", 0, REG_BINARY, v.data(), static_cast<DWORD>(v.size()));
        }
        stop = true;
    });
    int reads = 0, torn = 0;
    std::vector<BYTE> buffer(6000);
    while (!stop) {
        DWORD size = static_cast<DWORD>(buffer.size()), type = 0;
        ASSERT_EQ(RegQueryValueExW(key, u"V", nullptr, &type, buffer.data(), &size), ERROR_SUCCESS);
        ++reads;
        const bool whole =
            (size == 3 && std::equal(shortValue.begin(), shortValue.end(), buffer.begin())) ||
            (size == 5000 && std::equal(longValue.begin(), longValue.end(), buffer.begin()));
        if (!whole || type != REG_BINARY) ++torn;
    }
    writer.join();
    EXPECT_GT(reads, 0);
    EXPECT_EQ(torn, 0);
    EXPECT_EQ(FolderEntries(MachineFolder() / "k"), std::vector<std::string>{"v"});
}

TEST_F(RegistryTest, DeleteValueAndKey) {
    HKEY parent = Create(HKEY_LOCAL_MACHINE, u"Parent");
    HKEY child = Create(parent, u"Child");
    ASSERT_EQ(SetDword(child, u"X", 1), ERROR_SUCCESS);
    ASSERT_EQ(SetDword(child, u"Y", 2), ERROR_SUCCESS);

    EXPECT_EQ(RegDeleteValueW(child, u"x"), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteValueW(child, u"X"), ERROR_FILE_NOT_FOUND);

    // A key with subkeys stays.
    EXPECT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, u"Parent"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteKeyW(parent, u"CHILD"), ERROR_SUCCESS);
    EXPECT_FALSE(std::filesystem::exists(MachineFolder() / "parent" / "child"));
    EXPECT_EQ(RegDeleteKeyW(parent, u"Child"), ERROR_FILE_NOT_FOUND);
    HKEY gone = nullptr;
    EXPECT_EQ(RegOpenKeyExW(parent, u"Child", 0, KEY_READ, &gone), ERROR_FILE_NOT_FOUND);
    // The handle of a deleted key finds nothing and cannot write.
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExW(child, u"Y", nullptr, nullptr, nullptr, &size),
              ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(SetDword(child, u"Z", 3), ERROR_KEY_DELETED);
    EXPECT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, u""), ERROR_ACCESS_DENIED);
}

TEST_F(RegistryTest, ValueAndSubkeyCannotShareAName) {
    HKEY key = Create(HKEY_LOCAL_MACHINE, u"K");
    ASSERT_EQ(SetDword(key, u"Both", 1), ERROR_SUCCESS);
    HKEY sub = nullptr;
    EXPECT_EQ(RegCreateKeyW(key, u"Both", &sub), ERROR_ACCESS_DENIED);
    Create(key, u"Folder");
    EXPECT_EQ(SetDword(key, u"folder", 1), ERROR_ACCESS_DENIED);
    EXPECT_EQ(FolderEntries(MachineFolder() / "k"), (std::vector<std::string>{"both", "folder"}));
}

TEST_F(RegistryTest, AccessRightsAreEnforced) {
    Create(HKEY_LOCAL_MACHINE, u"K");
    HKEY readOnly = nullptr, writeOnly = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"K", 0, KEY_READ, &readOnly), ERROR_SUCCESS);
    open_.push_back(readOnly);
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"K", 0, KEY_SET_VALUE, &writeOnly), ERROR_SUCCESS);
    open_.push_back(writeOnly);
    EXPECT_EQ(SetDword(readOnly, u"V", 1), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteValueW(readOnly, u"V"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(SetDword(writeOnly, u"V", 1), ERROR_SUCCESS);
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExW(writeOnly, u"V", nullptr, nullptr, nullptr, &size),
              ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegQueryValueExW(readOnly, u"V", nullptr, nullptr, nullptr, &size), ERROR_SUCCESS);
}

TEST_F(RegistryTest, HandlesAreCheckedAndClosedOnce) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyW(HKEY_USERS, u"K", &key), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(key), ERROR_INVALID_HANDLE);
    EXPECT_EQ(SetDword(key, u"V", 1), ERROR_INVALID_HANDLE);
    int local = 0;
    EXPECT_EQ(RegCloseKey(reinterpret_cast<HKEY>(&local)), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegCloseKey(HKEY_LOCAL_MACHINE), ERROR_SUCCESS);  // predefined keys stay
}

TEST_F(RegistryTest, PredefinedKeyTakesValuesDirectly) {
    ASSERT_EQ(SetDword(HKEY_CLASSES_ROOT, u"Top", 7), ERROR_SUCCESS);
    EXPECT_TRUE(std::filesystem::exists(root_.path() / "registry" / "HKEY_CLASSES_ROOT" / "top"));
}

TEST_F(RegistryTest, RootFollowsTheEnvironmentAtEveryCall) {
    HKEY key = Create(HKEY_LOCAL_MACHINE, u"First");
    ASSERT_EQ(SetDword(key, u"V", 1), ERROR_SUCCESS);
    {
        testsupport::ScopedStoreRoot other;
        EXPECT_EQ(platform::RegistryRoot(), other.path() / "registry");
        HKEY missing = nullptr;
        EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"First", 0, KEY_READ, &missing),
                  ERROR_FILE_NOT_FOUND);
    }
    EXPECT_EQ(platform::RegistryRoot(), root_.path() / "registry");
    EXPECT_EQ(platform::PrintersRoot(), root_.path() / "printers");
}

// Sets or clears environment variables for one test, restoring them after.
class ScopedEnv {
  public:
    void Set(const char* name, const char* value) {
        if (saved_.count(name) == 0) {
            const char* old = std::getenv(name);
            saved_[name] = old != nullptr ? std::optional<std::string>(old) : std::nullopt;
        }
        if (value != nullptr)
            setenv(name, value, 1);
        else
            unsetenv(name);
    }
    ~ScopedEnv() {
        for (auto& [name, value] : saved_) {
            if (value)
                setenv(name.c_str(), value->c_str(), 1);
            else
                unsetenv(name.c_str());
        }
    }

  private:
    std::map<std::string, std::optional<std::string>> saved_;
};

TEST(StoreRootTest, FallsBackToXdgStateThenHome) {
    ScopedEnv env;
    env.Set("QLPR_ROOT", nullptr);
    env.Set("HOME", "/home/someone");
    env.Set("XDG_STATE_HOME", "/state/here");
    EXPECT_EQ(platform::StoreRoot(), std::filesystem::path("/state/here/qlpr"));
    env.Set("XDG_STATE_HOME", "relative/is/ignored");
    EXPECT_EQ(platform::StoreRoot(), std::filesystem::path("/home/someone/.local/state/qlpr"));
    env.Set("XDG_STATE_HOME", "");
    EXPECT_EQ(platform::StoreRoot(), std::filesystem::path("/home/someone/.local/state/qlpr"));
    env.Set("QLPR_ROOT", "/custom/root");
    EXPECT_EQ(platform::StoreRoot(), std::filesystem::path("/custom/root"));
    EXPECT_EQ(platform::PrintersRoot(), std::filesystem::path("/custom/root/printers"));
}

}  // namespace
