// INI-format files, read with the platform's rules (see profile.h).
//
// How a file is read, line by line (lines end at LF, CR or CR LF):
// - blanks (space, tab) around a line, a name or a value do not count;
// - an empty line, or one starting with ';', is skipped;
// - "[name]" starts a section; its name runs to the last ']' of the line,
//   anything after it is ignored; a '[' line without ']' is an ordinary line;
// - in a section, "name=value" is a key; a line without '=' is a key with
//   an empty value; a line with an empty name is skipped;
// - lines before the first section belong to no section and are never seen;
// - a section or key name met a second time is ignored (the first counts),
//   also in the lists of sections and keys.
#include "platform/profile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/internal.h"
#include "platform/utf.h"
#include "platform/wide.h"

namespace platform {
namespace {

struct Key {
    WideString name;
    WideString value;
};

struct Section {
    WideString name;
    std::vector<Key> keys;
};

bool IsBlank(char16_t c) {
    return c == u' ' || c == u'\t' || c == u'\v' || c == u'\f';
}

WideView Trim(WideView text) {
    while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
    return text;
}

bool ReadWholeFile(const std::string& path, std::string* bytes) {
    int fd;
    do {
        fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return false;
    bool ok = true;
    char chunk[65536];
    for (;;) {
        ssize_t got = read(fd, chunk, sizeof chunk);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) ok = false;
        if (got <= 0) break;
        bytes->append(chunk, static_cast<std::size_t>(got));
    }
    close(fd);
    return ok;
}

// UTF-16 (either order) after its byte order mark, UTF-8 after its mark,
// else code page 1252.
WideString DecodeText(const std::string& bytes) {
    WideString text;
    auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(bytes[i]); };
    if (bytes.size() >= 2 &&
        ((byte(0) == 0xFF && byte(1) == 0xFE) || (byte(0) == 0xFE && byte(1) == 0xFF))) {
        const bool little = byte(0) == 0xFF;
        text.reserve(bytes.size() / 2);
        for (std::size_t i = 2; i + 1 < bytes.size(); i += 2) {
            text.push_back(little ? static_cast<char16_t>(byte(i) | byte(i + 1) << 8)
                                  : static_cast<char16_t>(byte(i) << 8 | byte(i + 1)));
        }
    } else if (bytes.size() >= 3 && byte(0) == 0xEF && byte(1) == 0xBB && byte(2) == 0xBF) {
        utf::DecodeUtf8(std::string_view(bytes).substr(3), text, nullptr);
    } else {
        text.reserve(bytes.size());
        for (char c : bytes) text.push_back(utf::FromCp1252(static_cast<std::uint8_t>(c)));
    }
    return text;
}

std::vector<Section> Parse(WideView text) {
    std::vector<Section> sections;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find_first_of(u"\r\n", start);
        if (end == WideView::npos) end = text.size();
        WideView line = Trim(text.substr(start, end - start));
        start = end + 1;
        if (end + 1 < text.size() && text[end] == u'\r' && text[end + 1] == u'\n') ++start;

        if (line.empty() || line.front() == u';') continue;
        if (line.front() == u'[') {
            std::size_t close = line.rfind(u']');
            if (close != WideView::npos) {
                sections.push_back(Section{WideString(Trim(line.substr(1, close - 1))), {}});
                continue;
            }
        }
        if (sections.empty()) continue;
        std::size_t equals = line.find(u'=');
        WideView name = Trim(line.substr(0, equals));
        if (name.empty()) continue;
        WideView value = equals == WideView::npos ? WideView() : Trim(line.substr(equals + 1));
        sections.back().keys.push_back(Key{WideString(name), WideString(value)});
    }
    return sections;
}

const Section* FindSection(const std::vector<Section>& sections, WideView name) {
    for (const Section& section : sections) {
        if (WideEqualsNoCase(section.name, name)) return &section;
    }
    return nullptr;
}

const Key* FindKey(const Section& section, WideView name) {
    for (const Key& key : section.keys) {
        if (WideEqualsNoCase(key.name, name)) return &key;
    }
    return nullptr;
}

void AddUnique(std::vector<WideView>& names, WideView name) {
    if (name.empty()) return;  // would end the list early
    for (WideView known : names) {
        if (WideEqualsNoCase(known, name)) return;
    }
    names.push_back(name);
}

// A list of names, each ended by 0, the list by a second 0. The list counts
// as fitting only when the buffer is larger than the whole list: one that
// exactly fills the buffer is treated like a list that does not fit, as on
// the platform. Such a list is cut to size - 2 characters and ended by two
// zeros, and the result is size - 2 (for an exactly filling list the
// characters are the same as the whole list's).
DWORD CopyList(const std::vector<WideView>& names, LPWSTR result, DWORD size) {
    WideString flat;
    for (WideView name : names) {
        flat.append(name);
        flat.push_back(0);
    }
    if (flat.size() + 1 < size) {
        flat.copy(result, flat.size());
        result[flat.size()] = 0;
        if (flat.empty()) result[1] = 0;
        SetLastError(ERROR_SUCCESS);
        return static_cast<DWORD>(flat.size());
    }
    if (size < 2) {
        result[0] = 0;
        SetLastError(ERROR_MORE_DATA);
        return 0;
    }
    flat.copy(result, size - 2);
    result[size - 2] = 0;
    result[size - 1] = 0;
    SetLastError(ERROR_MORE_DATA);
    return size - 2;
}

// A string cut to size - 1 characters when it does not fit.
DWORD CopyString(WideView text, LPWSTR result, DWORD size, DWORD error) {
    if (text.size() < size) {
        text.copy(result, text.size());
        result[text.size()] = 0;
        SetLastError(error);
        return static_cast<DWORD>(text.size());
    }
    text.copy(result, size - 1);
    result[size - 1] = 0;
    SetLastError(ERROR_MORE_DATA);
    return size - 1;
}

// The default loses its trailing spaces, but never its first character: a
// default of spaces only gives a single space, as on the platform.
DWORD CopyDefault(LPCWSTR defaultValue, LPWSTR result, DWORD size) {
    WideView text = defaultValue != nullptr ? WideView(defaultValue) : WideView();
    while (text.size() > 1 && text.back() == u' ') text.remove_suffix(1);
    DWORD copied = CopyString(text, result, size, ERROR_FILE_NOT_FOUND);
    // Also an empty list for a caller that asked for one.
    if (copied == 0 && size >= 2) result[1] = 0;
    return copied;
}

// One pair of matching quotes around the whole value is taken off.
WideView Unquote(WideView value) {
    if (value.size() >= 2 && (value.front() == u'"' || value.front() == u'\'') &&
        value.back() == value.front())
        return value.substr(1, value.size() - 2);
    return value;
}

using ParsedFile = std::shared_ptr<const std::vector<Section>>;

// The sections of a file read as `bytes`. A file is read one key at a time,
// so the last one read is kept parsed; it is used again only for exactly
// the same bytes, so a change is never missed.
ParsedFile Sections(std::string bytes) {
    static std::mutex mutex;
    static std::string lastBytes;
    static ParsedFile last;
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (last && bytes == lastBytes) return last;
    }
    auto parsed = std::make_shared<const std::vector<Section>>(Parse(DecodeText(bytes)));
    std::lock_guard<std::mutex> lock(mutex);
    lastBytes = std::move(bytes);
    last = parsed;
    return parsed;
}

DWORD ReadProfile(LPCWSTR sectionName, LPCWSTR keyName, LPCWSTR defaultValue, LPWSTR result,
                  DWORD size, LPCWSTR fileName) {
    result[0] = 0;
    std::string bytes;
    if (fileName == nullptr || !ReadWholeFile(NativePath(fileName), &bytes))
        return CopyDefault(defaultValue, result, size);
    const ParsedFile parsed = Sections(std::move(bytes));
    const std::vector<Section>& sections = *parsed;

    if (sectionName == nullptr) {
        std::vector<WideView> names;
        for (const Section& section : sections) AddUnique(names, section.name);
        return CopyList(names, result, size);
    }
    const Section* section = FindSection(sections, Trim(sectionName));
    if (keyName == nullptr) {
        std::vector<WideView> names;
        if (section != nullptr) {
            for (const Key& key : section->keys) AddUnique(names, key.name);
        }
        if (names.empty()) return CopyDefault(defaultValue, result, size);
        return CopyList(names, result, size);
    }
    const Key* key = section != nullptr ? FindKey(*section, Trim(keyName)) : nullptr;
    if (key == nullptr) return CopyDefault(defaultValue, result, size);
    return CopyString(Unquote(key->value), result, size, ERROR_SUCCESS);
}

}  // namespace
}  // namespace platform

extern "C" {

QLPR_EXPORT DWORD WINAPI GetPrivateProfileStringW(LPCWSTR section, LPCWSTR key,
                                                  LPCWSTR defaultValue, LPWSTR result, DWORD size,
                                                  LPCWSTR fileName) {
    if (result == nullptr || size == 0) return 0;
    return platform::Guard<DWORD>(0, [&] {
        return platform::ReadProfile(section, key, defaultValue, result, size, fileName);
    });
}

}  // extern "C"
