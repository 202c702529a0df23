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

// A printer stream file for decode and preview; none with `error` set
// ("cannot read PATH", or a folder named as such).
std::optional<std::vector<unsigned char>> ReadStreamFile(const std::string& path,
                                                         std::string* error);

// Fills `bytes` from the start of the file; false unless it held that many.
bool ReadFileInto(const std::filesystem::path& path, std::span<unsigned char> bytes);

// Replaces the file's contents with `bytes`.
bool WriteWholeFile(const std::filesystem::path& path, std::string_view bytes);

// Writes all of `text` to standard output / standard error.
void PrintOut(std::string_view text);
void PrintError(std::string_view text);

}  // namespace qlpr
