// The registry store's format, for the platform library's own use (the
// registry functions and the spooler's printer folders). Not exported.
//
// A key is a folder; a value is one file in it: its type (u32,
// little-endian) followed by its bytes. A file shorter than 4 bytes is
// corrupt and reads as missing. The unnamed (default) value is the file
// ".default"; temporary files start with ".tmp-". Neither can be mistaken
// for a stored name, since a stored name never starts with '.'. A value and
// a subkey of one key cannot share a name (the later one is refused with
// ERROR_ACCESS_DENIED).
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "platform/registry.h"
#include "platform/types.h"
#include "platform/wide.h"

namespace platform::registry_store {

// The file or folder name standing for a key or value name: ASCII letters
// folded to lower case when `foldCase`, UTF-8, and '%XX' for '/', '%',
// control characters and a leading '.'. An empty name gives "".
std::string StoreName(WideView name, bool foldCase);

// The file of value `name` in a key folder (the unnamed value for "").
std::filesystem::path ValueFile(const std::filesystem::path& folder, WideView name);

// An HKEY for the key at `folder`, closed with RegCloseKey. Without
// `create` the folder must exist (else ERROR_FILE_NOT_FOUND); with it, the
// folder and its parents are made and *disposition (when given) tells
// whether the key is new.
LONG OpenKeyAt(const std::filesystem::path& folder, bool create, REGSAM access, HKEY* result,
               DWORD* disposition);

// Makes the key folder and its missing parents; *created (when given) tells
// whether the key folder itself is new.
LONG CreateKeyFolder(const std::filesystem::path& folder, bool* created);

// Value access by folder. ReadValue gives ERROR_FILE_NOT_FOUND for a missing
// or corrupt value; WriteValue replaces atomically (temporary file and
// rename); the folder must exist (else ERROR_KEY_DELETED).
LONG ReadValue(const std::filesystem::path& folder, WideView name, DWORD* type,
               std::vector<BYTE>* data);
LONG WriteValue(const std::filesystem::path& folder, WideView name, DWORD type, const BYTE* data,
                std::size_t size);
LONG DeleteValue(const std::filesystem::path& folder, WideView name);

// A REG_SZ value as text (without its terminating zero), or nothing when it
// is missing or not a string.
bool ReadString(const std::filesystem::path& folder, WideView name, WideString* text);
// Writes `text` and its terminating zero as REG_SZ.
LONG WriteString(const std::filesystem::path& folder, WideView name, WideView text);

}  // namespace platform::registry_store
