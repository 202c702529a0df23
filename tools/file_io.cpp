#include "tools/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>

namespace qlpr {
namespace {

// Closes the descriptor it holds.
class FileDescriptor {
  public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() {
        if (fd_ >= 0) close(fd_);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return fd_; }

  private:
    int fd_;
};

int OpenForReading(const std::filesystem::path& path) {
    int fd;
    do {
        fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

// Reads until `bytes` is full or the file ends; the count read, or -1.
long long ReadFully(int fd, std::span<unsigned char> bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t got = read(fd, bytes.data() + done, bytes.size() - done);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return -1;
        if (got == 0) break;
        done += static_cast<std::size_t>(got);
    }
    return static_cast<long long>(done);
}

bool WriteFully(int fd, std::string_view bytes) {
    return WriteToDescriptor(fd, std::span(reinterpret_cast<const unsigned char*>(bytes.data()),
                                           bytes.size())) == bytes.size();
}

// Everything left to read from `fd`, at most `limit` bytes.
std::optional<std::vector<unsigned char>> ReadToEnd(int fd, std::size_t limit) {
    struct stat info {};
    if (fd < 0 || fstat(fd, &info) != 0 || S_ISDIR(info.st_mode)) return std::nullopt;
    // A regular file's size is known (one byte more shows the end in one
    // read); pipes and devices are read in growing blocks.
    const std::size_t expected = S_ISREG(info.st_mode) ? static_cast<std::size_t>(info.st_size) : 0;
    if (expected > limit) return std::nullopt;
    std::vector<unsigned char> bytes(expected + 1);
    std::size_t filled = 0;
    for (;;) {
        if (filled == bytes.size()) {
            if (filled > limit) return std::nullopt;
            bytes.resize(filled + std::max<std::size_t>(filled, 65536));
        }
        const long long got = ReadFully(fd, std::span(bytes).subspan(filled));
        if (got < 0) return std::nullopt;
        filled += static_cast<std::size_t>(got);
        if (filled < bytes.size()) break;  // the file ended
    }
    if (filled > limit) return std::nullopt;
    bytes.resize(filled);
    return bytes;
}

}  // namespace

std::optional<std::vector<unsigned char>> ReadWholeFile(const std::filesystem::path& path,
                                                        std::size_t limit) {
    const FileDescriptor file(OpenForReading(path));
    return ReadToEnd(file.get(), limit);
}

std::optional<std::vector<unsigned char>> ReadStandardInput(std::size_t limit) {
    return ReadToEnd(STDIN_FILENO, limit);
}

std::optional<std::vector<unsigned char>> ReadStreamFile(const std::string& path,
                                                         std::string* error) {
    std::error_code ignored;
    if (std::filesystem::is_directory(path, ignored)) {
        *error = path + " is a folder, not a stream file";
        return std::nullopt;
    }
    std::optional<std::vector<unsigned char>> bytes = ReadWholeFile(path);
    if (!bytes) *error = "cannot read " + path;
    return bytes;
}

bool ReadFileInto(const std::filesystem::path& path, std::span<unsigned char> bytes) {
    const FileDescriptor file(OpenForReading(path));
    return file.get() >= 0 && ReadFully(file.get(), bytes) == static_cast<long long>(bytes.size());
}

bool WriteWholeFile(const std::filesystem::path& path, std::string_view bytes) {
    int fd;
    do {
        fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOCTTY, 0644);
    } while (fd < 0 && errno == EINTR);
    const FileDescriptor file(fd);
    return fd >= 0 && WriteFully(fd, bytes);
}

OutputNode OutputNodeOf(const std::filesystem::path& path) {
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) return OutputNode::File;
    if (S_ISCHR(info.st_mode) || S_ISFIFO(info.st_mode) || S_ISSOCK(info.st_mode))
        return OutputNode::Stream;
    if (S_ISBLK(info.st_mode)) return OutputNode::BlockDevice;
    return OutputNode::File;
}

std::size_t WriteToDescriptor(int fd, std::span<const unsigned char> bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t wrote = write(fd, bytes.data() + done, bytes.size() - done);
        if (wrote < 0 && errno == EINTR) continue;
        if (wrote < 0) break;
        if (wrote == 0) {
            errno = EIO;
            break;
        }
        done += static_cast<std::size_t>(wrote);
    }
    return done;
}

void PrintOut(std::string_view text) {
    WriteFully(STDOUT_FILENO, text);
}

void PrintError(std::string_view text) {
    WriteFully(STDERR_FILENO, text);
}

}  // namespace qlpr
