// Helpers shared by the tests.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

namespace testsupport {

// A fresh, empty store root for the test's registry and printers, set as
// QLPR_ROOT while the object lives; removed afterwards.
class ScopedStoreRoot {
public:
    ScopedStoreRoot() {
        std::string pattern = (std::filesystem::temp_directory_path() / "qlpr-test-XXXXXX").string();
        char* made = mkdtemp(pattern.data());
        if (made == nullptr) throw std::runtime_error("mkdtemp failed");
        path_ = made;
        const char* old = std::getenv("QLPR_ROOT");
        if (old != nullptr) old_ = old, hadOld_ = true;
        setenv("QLPR_ROOT", path_.c_str(), 1);
    }
    ~ScopedStoreRoot() {
        if (hadOld_) setenv("QLPR_ROOT", old_.c_str(), 1);
        else unsetenv("QLPR_ROOT");
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    ScopedStoreRoot(const ScopedStoreRoot&) = delete;
    ScopedStoreRoot& operator=(const ScopedStoreRoot&) = delete;
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
    std::string old_;
    bool hadOld_ = false;
};

inline std::filesystem::path BinDir() { return QLPR_BIN_DIR; }
inline std::filesystem::path SourceDir() { return QLPR_SOURCE_DIR; }

}  // namespace testsupport
