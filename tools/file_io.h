// Whole files in and out, and the commands' text on the standard streams.
//
// qlpr uses no iostreams: setting up their locale costs every start of the
// program a few tenths of a millisecond, most of a short job's own work.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace qlpr {

// The bytes of a regular file; none when it cannot be opened or read, or is a
// folder. At most `limit` bytes are accepted (larger: none).
std::optional<std::vector<unsigned char>> ReadWholeFile(const std::filesystem::path& path,
                                                        std::size_t limit = SIZE_MAX);

// All of standard input (a file, a pipe, a terminal); none when it cannot
// be read or holds more than `limit` bytes.
std::optional<std::vector<unsigned char>> ReadStandardInput(std::size_t limit);

// A printer stream file for decode and preview; none with `error` set
// ("cannot read PATH", or a folder named as such).
std::optional<std::vector<unsigned char>> ReadStreamFile(const std::string& path,
                                                         std::string* error);

// Fills `bytes` from the start of the file; false unless it held that many.
bool ReadFileInto(const std::filesystem::path& path, std::span<unsigned char> bytes);

// Replaces the file's contents with `bytes`.
bool WriteWholeFile(const std::filesystem::path& path, std::string_view bytes);

// What an output path names, following links.
enum class OutputNode {
    File,        // a regular file, a folder or nothing yet: replaced whole
    Stream,      // a character device, a FIFO or a socket: written in place
    BlockDevice  // a disk, never a job's output
};
OutputNode OutputNodeOf(const std::filesystem::path& path);

// Writes all of `bytes` to a descriptor, going on after short writes and
// interruptions. The count written; below the size with errno set when a
// write failed.
std::size_t WriteToDescriptor(int fd, std::span<const unsigned char> bytes);

// Writes all of `text` to standard output / standard error.
void PrintOut(std::string_view text);
void PrintError(std::string_view text);

}  // namespace qlpr
