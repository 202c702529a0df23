#include <gtest/gtest.h>

#include "platform/files.h"
#include "platform/last_error.h"
#include "platform/spooler.h"
#include "platform_test_util.h"
#include "test_support.h"

namespace {

TEST(Impersonation, ATokenIsTakenBackOnceAndOnlyOnce) {
    HANDLE first = RevertToPrinterSelf();
    HANDLE second = RevertToPrinterSelf();
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_NE(first, INVALID_HANDLE_VALUE);
    EXPECT_NE(first, second);

    EXPECT_TRUE(ImpersonatePrinterClient(first));
    SetLastError(ERROR_SUCCESS);
    EXPECT_FALSE(ImpersonatePrinterClient(first));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_TRUE(ImpersonatePrinterClient(second));
}

TEST(Impersonation, ANullOrForeignTokenIsRefusedAndLeftAlone) {
    SetLastError(ERROR_SUCCESS);
    EXPECT_FALSE(ImpersonatePrinterClient(nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    SetLastError(ERROR_SUCCESS);
    EXPECT_FALSE(ImpersonatePrinterClient(INVALID_HANDLE_VALUE));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);

    // A file handle is no token: it stays open and usable.
    testsupport::ScopedStoreRoot root;
    const std::u16string path = platformtest::Wide(root.path() / "f.bin");
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    SetLastError(ERROR_SUCCESS);
    EXPECT_FALSE(ImpersonatePrinterClient(file));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    DWORD written = 0;
    EXPECT_TRUE(WriteFile(file, "x", 1, &written, nullptr));
    EXPECT_EQ(written, 1u);
    EXPECT_TRUE(CloseHandle(file));
}

}  // namespace
