// Files: dispositions, sharing, transfers, positions, times, attributes,
// renames, and read-only mappings.
#include "platform/files.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/last_error.h"
#include "platform_test_util.h"
#include "test_support.h"

namespace {

using platformtest::ReadBytes;
using platformtest::Wide;
using platformtest::WriteBytes;

class FilesTest : public ::testing::Test {
  protected:
    std::u16string Path(const char* name) const { return Wide(root_.path() / name); }

    HANDLE Open(const char* name, DWORD access, DWORD share, DWORD disposition) {
        return CreateFileW(Path(name).c_str(), access, share, nullptr, disposition,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    }

    testsupport::ScopedStoreRoot root_;
};

TEST_F(FilesTest, WriteThenReadBack) {
    HANDLE file = Open("data.bin", GENERIC_WRITE, 0, CREATE_NEW);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    std::string payload(200000, '\0');
    for (std::size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<char>(i * 7);
    DWORD written = 0;
    ASSERT_TRUE(
        WriteFile(file, payload.data(), static_cast<DWORD>(payload.size()), &written, nullptr));
    EXPECT_EQ(written, payload.size());
    EXPECT_TRUE(CloseHandle(file));
    EXPECT_EQ(ReadBytes(root_.path() / "data.bin"), payload);

    file = Open("data.bin", GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    std::string back(payload.size() + 10, '\0');
    DWORD read = 0;
    ASSERT_TRUE(ReadFile(file, back.data(), static_cast<DWORD>(back.size()), &read, nullptr));
    EXPECT_EQ(read, payload.size());  // stops at the end of the file
    EXPECT_EQ(back.substr(0, read), payload);
    ASSERT_TRUE(ReadFile(file, back.data(), 10, &read, nullptr));
    EXPECT_EQ(read, 0u);
    CloseHandle(file);
}

TEST_F(FilesTest, NewFilesAreReadableByAll) {
    const mode_t old = umask(022);
    HANDLE file = Open("mode.bin", GENERIC_WRITE, 0, CREATE_ALWAYS);
    umask(old);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    CloseHandle(file);
    struct stat info {};
    ASSERT_EQ(stat((root_.path() / "mode.bin").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0644u);
}

TEST_F(FilesTest, HandleRightsAreEnforced) {
    HANDLE file = Open("rights.bin", GENERIC_WRITE, 0, CREATE_NEW);
    char byte = 0;
    DWORD count = 0;
    SetLastError(0);
    EXPECT_FALSE(ReadFile(file, &byte, 1, &count, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    CloseHandle(file);
    file = Open("rights.bin", GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
    EXPECT_FALSE(WriteFile(file, "x", 1, &count, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    CloseHandle(file);
}

TEST_F(FilesTest, CreateNewRefusesAnExistingFile) {
    WriteBytes(root_.path() / "exists.bin", "keep");
    SetLastError(0);
    EXPECT_EQ(Open("exists.bin", GENERIC_WRITE, 0, CREATE_NEW), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_FILE_EXISTS);
    EXPECT_EQ(ReadBytes(root_.path() / "exists.bin"), "keep");
}

TEST_F(FilesTest, CreateNewNeverFollowsASymbolicLink) {
    WriteBytes(root_.path() / "target.bin", "precious");
    std::filesystem::create_symlink(root_.path() / "target.bin", root_.path() / "link.bin");
    std::filesystem::create_symlink(root_.path() / "nowhere.bin", root_.path() / "dangling.bin");

    SetLastError(0);
    EXPECT_EQ(Open("link.bin", GENERIC_WRITE, 0, CREATE_NEW), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_FILE_EXISTS);
    EXPECT_EQ(ReadBytes(root_.path() / "target.bin"), "precious");
    EXPECT_EQ(Open("dangling.bin", GENERIC_WRITE, 0, CREATE_NEW), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_FILE_EXISTS);
    EXPECT_FALSE(std::filesystem::exists(root_.path() / "nowhere.bin"));
}

TEST_F(FilesTest, DispositionsOnExistingAndMissingFiles) {
    SetLastError(0);
    EXPECT_EQ(Open("missing.bin", GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(Open("no-folder/missing.bin", GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
    EXPECT_EQ(Open("no-folder/new.bin", GENERIC_WRITE, 0, CREATE_ALWAYS), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
    EXPECT_EQ(Open("missing.bin", GENERIC_WRITE, 0, TRUNCATE_EXISTING), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);

    // OPEN_ALWAYS creates, then opens without truncating.
    HANDLE file = Open("always.bin", GENERIC_WRITE, 0, OPEN_ALWAYS);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    DWORD count = 0;
    WriteFile(file, "hello", 5, &count, nullptr);
    CloseHandle(file);
    file = Open("always.bin", GENERIC_WRITE, 0, OPEN_ALWAYS);
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    CloseHandle(file);
    EXPECT_EQ(ReadBytes(root_.path() / "always.bin"), "hello");

    // CREATE_ALWAYS truncates an existing file and says it existed.
    file = Open("always.bin", GENERIC_WRITE, 0, CREATE_ALWAYS);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    CloseHandle(file);
    EXPECT_EQ(ReadBytes(root_.path() / "always.bin"), "");

    WriteBytes(root_.path() / "trunc.bin", "abc");
    file = Open("trunc.bin", GENERIC_WRITE, 0, TRUNCATE_EXISTING);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    CloseHandle(file);
    EXPECT_EQ(ReadBytes(root_.path() / "trunc.bin"), "");

    EXPECT_EQ(Open("trunc.bin", GENERIC_WRITE, 0, 99), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    // A folder is not a file.
    EXPECT_EQ(CreateFileW(Wide(root_.path()).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                          OPEN_EXISTING, 0, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
}

TEST_F(FilesTest, ExclusiveOpenRefusesASecondOpen) {
    HANDLE first = Open("shared.bin", GENERIC_WRITE, 0, CREATE_NEW);
    ASSERT_NE(first, INVALID_HANDLE_VALUE);
    SetLastError(0);
    EXPECT_EQ(Open("shared.bin", GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
    EXPECT_EQ(Open("shared.bin", GENERIC_WRITE, 0, OPEN_EXISTING), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
    EXPECT_TRUE(CloseHandle(first));
    HANDLE again = Open("shared.bin", GENERIC_READ, 0, OPEN_EXISTING);
    EXPECT_NE(again, INVALID_HANDLE_VALUE);
    CloseHandle(again);
}

TEST_F(FilesTest, SharedOpensCoexistButExcludeAnExclusiveOne) {
    WriteBytes(root_.path() / "shared.bin", "content");
    HANDLE a = Open("shared.bin", GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
    HANDLE b = Open("shared.bin", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING);
    EXPECT_NE(a, INVALID_HANDLE_VALUE);
    EXPECT_NE(b, INVALID_HANDLE_VALUE);
    SetLastError(0);
    // Refused before truncation: the content survives.
    EXPECT_EQ(Open("shared.bin", GENERIC_WRITE, 0, CREATE_ALWAYS), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
    EXPECT_EQ(ReadBytes(root_.path() / "shared.bin"), "content");
    CloseHandle(a);
    CloseHandle(b);
}

TEST_F(FilesTest, ExclusiveLockHoldsAgainstAnotherProcess) {
    HANDLE file = Open("locked.bin", GENERIC_WRITE, 0, CREATE_NEW);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    const std::string path = (root_.path() / "locked.bin").string();
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        int fd = open(path.c_str(), O_RDONLY);
        _exit(flock(fd, LOCK_SH | LOCK_NB) == 0 ? 1 : 0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    CloseHandle(file);
}

TEST_F(FilesTest, FilePointerAndSize) {
    HANDLE file = Open("pos.bin", GENERIC_READ | GENERIC_WRITE, 0, CREATE_NEW);
    DWORD count = 0;
    WriteFile(file, "0123456789", 10, &count, nullptr);
    DWORD high = 123;
    EXPECT_EQ(GetFileSize(file, &high), 10u);
    EXPECT_EQ(high, 0u);

    EXPECT_EQ(SetFilePointer(file, 3, nullptr, FILE_BEGIN), 3u);
    char buffer[4] = {};
    ReadFile(file, buffer, 2, &count, nullptr);
    EXPECT_EQ(std::string(buffer, 2), "34");
    EXPECT_EQ(SetFilePointer(file, -1, nullptr, FILE_CURRENT), 4u);
    EXPECT_EQ(SetFilePointer(file, -2, nullptr, FILE_END), 8u);

    SetLastError(0);
    EXPECT_EQ(SetFilePointer(file, -20, nullptr, FILE_CURRENT), INVALID_SET_FILE_POINTER);
    EXPECT_EQ(GetLastError(), ERROR_NEGATIVE_SEEK);
    EXPECT_EQ(SetFilePointer(file, 0, nullptr, FILE_CURRENT), 8u);  // unmoved

    // A 64-bit position through distanceHigh.
    LONG distanceHigh = 1;
    EXPECT_EQ(SetFilePointer(file, 5, &distanceHigh, FILE_BEGIN), 5u);
    EXPECT_EQ(distanceHigh, 1);
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    distanceHigh = 0;
    EXPECT_EQ(SetFilePointer(file, 0, &distanceHigh, FILE_CURRENT), 5u);
    EXPECT_EQ(distanceHigh, 1);
    CloseHandle(file);
}

TEST_F(FilesTest, TimesCarryNanosecondsSince1601) {
    WriteBytes(root_.path() / "time.bin", "t");
    // 2021-03-04 05:06:07.123456789 UTC
    const timespec times[2] = {{1614834367, 123456789}, {1614834367, 123456789}};
    ASSERT_EQ(utimensat(AT_FDCWD, (root_.path() / "time.bin").c_str(), times, 0), 0);
    HANDLE file = Open("time.bin", GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
    FILETIME write{}, access{};
    ASSERT_TRUE(GetFileTime(file, nullptr, &access, &write));
    const std::uint64_t expected = 1614834367ULL * 10000000 + 1234567 + 116444736000000000ULL;
    EXPECT_EQ(std::uint64_t{write.dwHighDateTime} << 32 | write.dwLowDateTime, expected);
    EXPECT_EQ(CompareFileTime(&write, &access), 0);
    CloseHandle(file);

    FILETIME earlier = write;
    earlier.dwLowDateTime -= 1;
    EXPECT_EQ(CompareFileTime(&earlier, &write), -1);
    EXPECT_EQ(CompareFileTime(&write, &earlier), 1);
    FILETIME highBit{0, 0x80000000};
    EXPECT_EQ(CompareFileTime(&write, &highBit), -1);  // compared unsigned

    WIN32_FILE_ATTRIBUTE_DATA data{};
    ASSERT_TRUE(GetFileAttributesExW(Path("time.bin").c_str(), GetFileExInfoStandard, &data));
    EXPECT_EQ(CompareFileTime(&data.ftLastWriteTime, &write), 0);
    EXPECT_EQ(data.dwFileAttributes, FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(data.nFileSizeLow, 1u);
    EXPECT_EQ(data.nFileSizeHigh, 0u);
}

TEST_F(FilesTest, AttributesOfFoldersAndMissingFiles) {
    EXPECT_EQ(GetFileAttributesW(Wide(root_.path()).c_str()), FILE_ATTRIBUTE_DIRECTORY);
    SetLastError(0);
    EXPECT_EQ(GetFileAttributesW(Path("missing").c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

TEST_F(FilesTest, DeleteMoveAndCreateDirectory) {
    EXPECT_TRUE(CreateDirectoryW(Path("folder").c_str(), nullptr));
    SetLastError(0);
    EXPECT_FALSE(CreateDirectoryW(Path("folder").c_str(), nullptr));
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    EXPECT_FALSE(CreateDirectoryW(Path("no/such/folder").c_str(), nullptr));
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);

    WriteBytes(root_.path() / "a.txt", "new");
    WriteBytes(root_.path() / "folder" / "b.txt", "old");
    EXPECT_TRUE(MoveFileW(Path("a.txt").c_str(), Path("folder/b.txt").c_str()));
    EXPECT_FALSE(std::filesystem::exists(root_.path() / "a.txt"));
    EXPECT_EQ(ReadBytes(root_.path() / "folder" / "b.txt"), "new");
    EXPECT_FALSE(MoveFileW(Path("a.txt").c_str(), Path("c.txt").c_str()));
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);

    EXPECT_TRUE(DeleteFileW(Path("folder/b.txt").c_str()));
    EXPECT_FALSE(DeleteFileW(Path("folder/b.txt").c_str()));
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_FALSE(DeleteFileW(Path("folder").c_str()));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
}

// Each call makes a new folder of its own under TMPDIR, closed to others;
// a path that does not fit leaves nothing behind.
TEST_F(FilesTest, PrivateTemporaryFoldersAreFreshAndClosedToOthers) {
    const char* old = std::getenv("TMPDIR");
    const std::string oldTemp = old != nullptr ? old : "";
    setenv("TMPDIR", root_.path().c_str(), 1);
    char first[260];
    char second[260];
    const DWORD length = QlprCreatePrivateTempFolderA(sizeof first, first);
    ASSERT_EQ(length, std::strlen(first));
    ASSERT_NE(QlprCreatePrivateTempFolderA(sizeof second, second), 0u);
    EXPECT_STRNE(first, second);
    const std::string prefix = root_.path().string() + "/qlpr-";
    EXPECT_EQ(std::string(first).rfind(prefix, 0), 0u);
    EXPECT_EQ(first[length - 1], '/');
    struct stat info {};
    ASSERT_EQ(lstat(first, &info), 0);
    EXPECT_TRUE(S_ISDIR(info.st_mode));
    EXPECT_EQ(info.st_mode & 0777, 0700u);

    WriteBytes(std::filesystem::path(first) / "page.tmp", "x");
    SetLastError(0);
    EXPECT_FALSE(RemoveDirectoryA(first));
    EXPECT_EQ(GetLastError(), ERROR_DIR_NOT_EMPTY);
    std::filesystem::remove(std::filesystem::path(first) / "page.tmp");
    EXPECT_TRUE(RemoveDirectoryA(first));
    EXPECT_TRUE(RemoveDirectoryA(second));
    EXPECT_FALSE(RemoveDirectoryA(second));
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);

    char small[8];
    EXPECT_EQ(QlprCreatePrivateTempFolderA(sizeof small, small), 0u);
    EXPECT_EQ(GetLastError(), ERROR_FILENAME_EXCED_RANGE);
    setenv("TMPDIR", (root_.path() / "missing").c_str(), 1);
    EXPECT_EQ(QlprCreatePrivateTempFolderA(sizeof first, first), 0u);
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
    if (old != nullptr)
        setenv("TMPDIR", oldTemp.c_str(), 1);
    else
        unsetenv("TMPDIR");
    EXPECT_TRUE(std::filesystem::is_empty(root_.path()));
}

TEST_F(FilesTest, NamesAreUtf8OnDiskAndAnsiNamesAre1252) {
    HANDLE file = CreateFileW(Path("caf\u00e9.txt").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    CloseHandle(file);
    EXPECT_TRUE(std::filesystem::exists(root_.path() / "caf\xC3\xA9.txt"));
    const std::string ansi = (root_.path() / "caf\xE9.txt").string();
    file = CreateFileA(ansi.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                       nullptr);
    EXPECT_NE(file, INVALID_HANDLE_VALUE);
    CloseHandle(file);
}

TEST_F(FilesTest, HandlesCloseOnce) {
    HANDLE file = Open("close.bin", GENERIC_WRITE, 0, CREATE_NEW);
    EXPECT_TRUE(CloseHandle(file));
    SetLastError(0);
    EXPECT_FALSE(CloseHandle(file));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(CloseHandle(nullptr));
    EXPECT_FALSE(CloseHandle(INVALID_HANDLE_VALUE));
    DWORD count = 0;
    EXPECT_FALSE(WriteFile(file, "x", 1, &count, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

TEST_F(FilesTest, WritingToAPipeWithoutReaderFailsInsteadOfKilling) {
    const auto fifo = root_.path() / "pipe";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    HANDLE file = CreateFileW(Wide(fifo).c_str(), GENERIC_WRITE, FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD count = 0;
    EXPECT_TRUE(WriteFile(file, "abc", 3, &count, nullptr));
    close(reader);
    SetLastError(0);
    EXPECT_FALSE(WriteFile(file, "def", 3, &count, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_BROKEN_PIPE);
    CloseHandle(file);
}

class MappingTest : public FilesTest {};

TEST_F(MappingTest, ViewOutlivesMappingAndFileHandles) {
    std::string content(100000, 'q');
    content[99999] = 'z';
    WriteBytes(root_.path() / "map.bin", content);
    HANDLE file = Open("map.bin", GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
    HANDLE mapping = CreateFileMappingW(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
    ASSERT_NE(mapping, nullptr);
    const void* view = MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0);
    ASSERT_NE(view, nullptr);
    EXPECT_TRUE(CloseHandle(mapping));
    EXPECT_TRUE(CloseHandle(file));
    EXPECT_EQ(std::memcmp(view, content.data(), content.size()), 0);
    EXPECT_TRUE(UnmapViewOfFile(view));
    SetLastError(0);
    EXPECT_FALSE(UnmapViewOfFile(view));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_ADDRESS);
}

TEST_F(MappingTest, ViewsAtAnOffsetAndOfALength) {
    std::string content(3 * 65536, '\0');
    for (std::size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>(i / 65536 + 1);
    WriteBytes(root_.path() / "map.bin", content);
    HANDLE file = Open("map.bin", GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
    HANDLE mapping = CreateFileMappingW(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
    const auto* second =
        static_cast<const char*>(MapViewOfFile(mapping, FILE_MAP_READ, 0, 65536, 10));
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(second[0], 2);
    SetLastError(0);
    EXPECT_EQ(MapViewOfFile(mapping, FILE_MAP_READ, 0, 100, 10), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_MAPPED_ALIGNMENT);
    EXPECT_EQ(MapViewOfFile(mapping, FILE_MAP_READ, 0, 65536, 3 * 65536), nullptr);
    EXPECT_EQ(MapViewOfFile(mapping, 0x0002 /* FILE_MAP_WRITE */, 0, 0, 0), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_TRUE(UnmapViewOfFile(second));
    CloseHandle(mapping);
    CloseHandle(file);
}

TEST_F(MappingTest, EmptyFileAndBadRequestsCannotBeMapped) {
    WriteBytes(root_.path() / "empty.bin", "");
    HANDLE file = Open("empty.bin", GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
    SetLastError(0);
    EXPECT_EQ(CreateFileMappingW(file, nullptr, PAGE_READONLY, 0, 0, nullptr), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    CloseHandle(file);

    WriteBytes(root_.path() / "small.bin", "abc");
    file = Open("small.bin", GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
    EXPECT_EQ(CreateFileMappingW(file, nullptr, 0x04 /* PAGE_READWRITE */, 0, 0, nullptr), nullptr);
    EXPECT_EQ(CreateFileMappingW(file, nullptr, PAGE_READONLY, 0, 4, nullptr), nullptr);
    EXPECT_EQ(CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READONLY, 0, 4, nullptr),
              nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    CloseHandle(file);
    file = Open("small.bin", GENERIC_WRITE, FILE_SHARE_READ, OPEN_EXISTING);
    EXPECT_EQ(CreateFileMappingW(file, nullptr, PAGE_READONLY, 0, 0, nullptr), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    CloseHandle(file);
    int local = 0;
    EXPECT_FALSE(UnmapViewOfFile(&local));
}

}  // namespace
