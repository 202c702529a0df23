// The data file compiler, the compiled block and its cache file.
#include "driver/config.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <limits>

#include "platform/files.h"
#include "platform/last_error.h"
#include "platform/profile.h"
#include "platform/wide.h"

namespace {

using platform::WideString;
using platform::WideView;

// ---- the keyword table --------------------------------------------------

// How one value of a record is stored. kPaperFlags is the paper's u32 of two
// flag bits ([15] and [16]); kZero16 a 16-bit 0 that is not a field.
enum class Slot : BYTE { kI16, kI32, kPaperFlags, kZero16 };
struct Item {
    Slot slot;
    BYTE field;
};

constexpr Item kDriverLayout[] = {
    {Slot::kI32, 1}, {Slot::kI32, 0}, {Slot::kI32, 2}, {Slot::kI16, 3}};
constexpr Item kDeviceLayout[] = {{Slot::kI16, 0}, {Slot::kI16, 1}, {Slot::kI32, 2},
                                  {Slot::kI32, 3}, {Slot::kI32, 4}, {Slot::kI32, 5},
                                  {Slot::kI32, 6}, {Slot::kI16, 7}, {Slot::kI16, 8},
                                  {Slot::kI16, 9}, {Slot::kI16, 10}};
constexpr Item kLimitsLayout[] = {
    {Slot::kI16, 0}, {Slot::kI16, 1}, {Slot::kI16, 2}, {Slot::kZero16, 0}};
constexpr Item kPaperLayout[] = {
    {Slot::kI16, 0},  {Slot::kI16, 1},  {Slot::kI16, 2},  {Slot::kPaperFlags, 15},
    {Slot::kI32, 3},  {Slot::kI32, 4},  {Slot::kI32, 5},  {Slot::kI32, 6},
    {Slot::kI32, 7},  {Slot::kI32, 8},  {Slot::kI32, 9},  {Slot::kI32, 10},
    {Slot::kI32, 11}, {Slot::kI32, 12}, {Slot::kI32, 13}, {Slot::kI32, 14}};
constexpr Item kFiveLayout[] = {
    {Slot::kI16, 0}, {Slot::kI16, 1}, {Slot::kI16, 2}, {Slot::kI16, 3}, {Slot::kI16, 4}};
constexpr Item kBarcodeLayout[] = {
    {Slot::kI16, 0}, {Slot::kI16, 1}, {Slot::kI16, 2}, {Slot::kI16, 3}};
constexpr Item kFontLayout[] = {{Slot::kI16, 0}, {Slot::kI16, 1}, {Slot::kI16, 2},
                                {Slot::kI16, 3}, {Slot::kI16, 4}, {Slot::kI16, 5}};
constexpr Item kThreeLayout[] = {{Slot::kI16, 0}, {Slot::kI16, 1}, {Slot::kI16, 2}};
constexpr Item kOneLayout[] = {{Slot::kI16, 0}, {Slot::kZero16, 0}, {Slot::kZero16, 0}};

struct KeywordInfo {
    const char16_t* name;
    Keyword id;
    int fieldCount;
    DWORD recordSize;  // bytes, the entry's 8-byte header included
    const Item* layout;
    std::size_t itemCount;
};

template <std::size_t N>
constexpr KeywordInfo Row(const char16_t* name, Keyword id, int fields, DWORD size,
                          const Item (&layout)[N]) {
    return {name, id, fields, size, layout, N};
}

// The keywords in the order their sections are compiled.
constexpr KeywordInfo kKeywords[kKeywordCount] = {
    Row(u"driver", Keyword::driver, 4, 22, kDriverLayout),
    Row(u"device", Keyword::device, 11, 40, kDeviceLayout),
    Row(u"scaling", Keyword::scaling, 3, 16, kLimitsLayout),
    Row(u"paper", Keyword::paper, 17, 66, kPaperLayout),
    Row(u"paperX", Keyword::paperX, 3, 16, kLimitsLayout),
    Row(u"paperY", Keyword::paperY, 3, 16, kLimitsLayout),
    Row(u"pixel", Keyword::pixel, 5, 18, kFiveLayout),
    Row(u"resolution", Keyword::resolution, 5, 18, kFiveLayout),
    Row(u"source", Keyword::source, 3, 14, kThreeLayout),
    Row(u"dither", Keyword::dither, 3, 14, kThreeLayout),
    Row(u"wm_pos", Keyword::wm_pos, 3, 14, kThreeLayout),
    Row(u"barcode", Keyword::barcode, 9, 16, kBarcodeLayout),
    Row(u"font", Keyword::font, 6, 20, kFontLayout),
    Row(u"substfont", Keyword::substfont, 3, 14, kThreeLayout),
    Row(u"logsize", Keyword::logsize, 3, 14, kThreeLayout),
    Row(u"printermodel", Keyword::printermodel, 3, 14, kThreeLayout),
    Row(u"fontsize", Keyword::fontsize, 1, 14, kOneLayout),
    Row(u"dualside", Keyword::dualside, 1, 14, kOneLayout),
    Row(u"responsecmd", Keyword::responsecmd, 1, 14, kOneLayout),
};

const KeywordInfo* FindKeyword(WORD id) {
    for (const KeywordInfo& info : kKeywords) {
        if (static_cast<WORD>(info.id) == id) return &info;
    }
    return nullptr;
}

constexpr DWORD SlotSize(Slot slot) {
    return slot == Slot::kI32 || slot == Slot::kPaperFlags ? 4 : 2;
}

// ---- block layout ---------------------------------------------------------

constexpr DWORD kHeaderSize = 24;
constexpr DWORD kSectionSize = 24;
constexpr DWORD kEntryHeaderSize = 8;
constexpr DWORD kConfigVersion = 1;
// No data file compiles to anything near this; a larger cache is not ours.
constexpr DWORD kMaxCacheSize = 16u << 20;

// Header words.
constexpr DWORD kHdrMarker = 0, kHdrSize = 4, kHdrVersion = 8, kHdrStatus = 12,
                kHdrSectionCount = 16, kHdrFirstSection = 20;
// Section words.
constexpr DWORD kSecNext = 0, kSecName = 4, kSecId = 8, kSecCount = 10, kSecDefault = 12,
                kSecFirstEntry = 16;
// Entry words.
constexpr DWORD kEntNext = 0, kEntName = 4;

DWORD Load32(const std::vector<BYTE>& b, DWORD at) {
    DWORD v;
    std::memcpy(&v, b.data() + at, 4);
    return v;
}
WORD Load16(const std::vector<BYTE>& b, DWORD at) {
    WORD v;
    std::memcpy(&v, b.data() + at, 2);
    return v;
}
void Store32(std::vector<BYTE>& b, DWORD at, DWORD v) {
    std::memcpy(b.data() + at, &v, 4);
}
void Store16(std::vector<BYTE>& b, DWORD at, WORD v) {
    std::memcpy(b.data() + at, &v, 2);
}

// Records and names lie after the header and before the trailing marker.
bool RecordInside(const std::vector<BYTE>& b, DWORD offset, DWORD length) {
    const DWORD limit = static_cast<DWORD>(b.size()) - 4;
    return offset >= kHeaderSize && offset <= limit && length <= limit - offset;
}

// A name: zero-terminated UTF-16 wholly inside the block; none otherwise.
std::optional<WideString> NameAt(const std::vector<BYTE>& b, DWORD offset) {
    const DWORD limit = static_cast<DWORD>(b.size()) - 4;
    if (offset < kHeaderSize || offset >= limit) return std::nullopt;
    WideString name;
    for (DWORD at = offset; limit - at >= 2; at += 2) {
        const WORD c = Load16(b, at);
        if (c == 0) return name;
        name.push_back(static_cast<WCHAR>(c));
    }
    return std::nullopt;
}

// ---- reading the data file ----------------------------------------------

// Buffer sizes, in characters: the section-name list 8,192; the key list of
// one section 32,767 (the most a section may hold on the platform); one value
// 1,024. A list result of size - 2 or a value result of size - 1 means the
// buffer was filled (the answer was cut), and the compilation fails.
constexpr DWORD kSectionListChars = 8192;
constexpr DWORD kKeyListChars = 32767;
constexpr DWORD kValueChars = 1024;
// Every read passes a single blank as its default: that answer means the
// file, section or key gave nothing (no sections, a section without keys),
// which fails the compilation as a cut answer does.
constexpr WCHAR kNoAnswer[] = u" ";

bool IsNoAnswer(const std::vector<WCHAR>& buffer, DWORD length) {
    return length == 1 && buffer[0] == kNoAnswer[0];
}

struct IniKey {
    WideString name;
    WideString value;
};
struct IniSection {
    WideString name;
    std::vector<IniKey> keys;
};

void SetError(std::string* error, std::string text) {
    if (error != nullptr) *error = std::move(text);
}

std::string Narrow(WideView text) {
    return platform::ToUtf8(text);
}

// Splits a zero-separated list ended by an empty name.
std::vector<WideString> SplitList(const std::vector<WCHAR>& buffer, DWORD length) {
    std::vector<WideString> names;
    DWORD start = 0;
    for (DWORD i = 0; i < length; ++i) {
        if (buffer[i] == 0) {
            if (i > start) names.emplace_back(buffer.data() + start, i - start);
            start = i + 1;
        }
    }
    if (start < length) names.emplace_back(buffer.data() + start, length - start);
    return names;
}

// Reads a list of at most `capacity` characters into `buffer` (at least that
// large, and reused from list to list: the read writes all it answers).
bool ReadList(LPCWSTR section, const WideString& file, DWORD capacity, std::vector<WCHAR>* buffer,
              std::vector<WideString>* names) {
    const DWORD got = GetPrivateProfileStringW(section, nullptr, kNoAnswer, buffer->data(),
                                               capacity, file.c_str());
    if (got >= capacity - 2 || IsNoAnswer(*buffer, got)) return false;
    *names = SplitList(*buffer, got);
    return true;
}

bool ReadIni(const WideString& file, std::vector<IniSection>* sections, std::string* error) {
    std::vector<WCHAR> list(std::max(kSectionListChars, kKeyListChars));
    std::vector<WideString> sectionNames;
    if (!ReadList(nullptr, file, kSectionListChars, &list, &sectionNames)) {
        SetError(error, "no sections, or too many, in the data file");
        return false;
    }
    std::vector<WCHAR> value(kValueChars, 0);
    for (const WideString& sectionName : sectionNames) {
        IniSection section{sectionName, {}};
        std::vector<WideString> keyNames;
        if (!ReadList(sectionName.c_str(), file, kKeyListChars, &list, &keyNames)) {
            SetError(error, "no keys, or too many, in [" + Narrow(sectionName) + "]");
            return false;
        }
        for (const WideString& key : keyNames) {
            // The first of two equal keys counts, as the platform reads them.
            const bool seen = std::any_of(
                section.keys.begin(), section.keys.end(),
                [&](const IniKey& k) { return platform::WideEqualsNoCase(k.name, key); });
            if (seen) continue;
            const DWORD got = GetPrivateProfileStringW(sectionName.c_str(), key.c_str(), kNoAnswer,
                                                       value.data(), kValueChars, file.c_str());
            if (got >= kValueChars - 1 || IsNoAnswer(value, got)) {
                SetError(error, "value too long or unreadable: [" + Narrow(sectionName) + "] " +
                                    Narrow(key));
                return false;
            }
            section.keys.push_back({key, WideString(value.data(), got)});
        }
        sections->push_back(std::move(section));
    }
    return true;
}

const IniSection* FindSection(const std::vector<IniSection>& sections, WideView name) {
    for (const IniSection& s : sections) {
        if (platform::WideEqualsNoCase(s.name, name)) return &s;
    }
    return nullptr;
}

const IniKey* FindKey(const IniSection& section, WideView name) {
    for (const IniKey& k : section.keys) {
        if (platform::WideEqualsNoCase(k.name, name)) return &k;
    }
    return nullptr;
}

// ---- integers -------------------------------------------------------------

bool IsBlank(WCHAR c) {
    return c == u' ' || c == u'\t';
}

// One comma-separated field: leading blanks, one optional sign, then decimal
// digits among which blanks are ignored ("4 5" is 45). A field of nothing
// but blanks is a field not given (0); a sign without digits, any other
// character, or a number beyond 32 bits fails.
bool ParseField(WideView text, LONG* value) {
    std::size_t i = 0;
    while (i < text.size() && IsBlank(text[i])) ++i;
    if (i == text.size()) {
        *value = 0;
        return true;
    }
    bool negative = false;
    if (text[i] == u'+' || text[i] == u'-') negative = text[i++] == u'-';
    long long magnitude = 0;
    bool digits = false;
    for (; i < text.size(); ++i) {
        const WCHAR c = text[i];
        if (IsBlank(c)) continue;
        if (c < u'0' || c > u'9') return false;
        magnitude = magnitude * 10 + (c - u'0');
        if (magnitude > 0x80000000LL) return false;
        digits = true;
    }
    if (!digits) return false;
    const long long v = negative ? -magnitude : magnitude;
    if (v > std::numeric_limits<LONG>::max()) return false;
    *value = static_cast<LONG>(v);
    return true;
}

// Comma-separated integers; an empty value has no fields.
bool ParseIntegers(WideView text, std::vector<LONG>* values) {
    values->clear();
    if (std::all_of(text.begin(), text.end(), IsBlank)) return true;
    std::size_t start = 0;
    while (true) {
        const std::size_t comma = text.find(u',', start);
        const WideView field =
            text.substr(start, comma == WideView::npos ? WideView::npos : comma - start);
        LONG v = 0;
        if (!ParseField(field, &v)) return false;
        values->push_back(v);
        if (comma == WideView::npos) return true;
        start = comma + 1;
    }
}

// "LIST" (any case, blanks around it) as the first field of a value.
bool IsList(WideView text, WideView* rest) {
    const std::size_t comma = text.find(u',');
    WideView head = text.substr(0, comma);
    while (!head.empty() && IsBlank(head.front())) head.remove_prefix(1);
    while (!head.empty() && IsBlank(head.back())) head.remove_suffix(1);
    if (!platform::WideEqualsNoCase(head, u"LIST")) return false;
    *rest = comma == WideView::npos ? WideView{} : text.substr(comma + 1);
    return true;
}

// ---- building the block ---------------------------------------------------

struct BuiltEntry {
    WideString name;
    std::vector<BYTE> record;  // without the 8-byte entry header
};
struct BuiltSection {
    const KeywordInfo* info;
    WORD defaultIndex;
    std::vector<BuiltEntry> entries;
};

// The keyword's record from its values. A value that does not fit its 16-bit
// slot (outside -32768..65535) fails; 16-bit slots keep the low 16 bits.
bool BuildRecord(const KeywordInfo& info, const std::vector<LONG>& values,
                 std::vector<BYTE>* record) {
    LONG fields[kMaxFields] = {};
    std::copy(values.begin(), values.end(), fields);
    record->clear();
    for (std::size_t i = 0; i < info.itemCount; ++i) {
        const Item item = info.layout[i];
        const std::size_t at = record->size();
        record->resize(at + SlotSize(item.slot));
        switch (item.slot) {
            case Slot::kI16: {
                const LONG v = fields[item.field];
                if (v < -32768 || v > 65535) return false;
                const WORD w = static_cast<WORD>(v);
                std::memcpy(record->data() + at, &w, 2);
                break;
            }
            case Slot::kI32:
                std::memcpy(record->data() + at, &fields[item.field], 4);
                break;
            case Slot::kPaperFlags: {
                const DWORD bits = (fields[15] != 0 ? 0x1u : 0u) | (fields[16] != 0 ? 0x2u : 0u);
                std::memcpy(record->data() + at, &bits, 4);
                break;
            }
            case Slot::kZero16:
                break;
        }
    }
    return record->size() + kEntryHeaderSize == info.recordSize;
}

// What a compilation tells besides its result: why it failed, and the
// lines for the driver log about what it passed over.
struct CompileReport {
    std::string* error = nullptr;
    std::vector<std::string>* notices = nullptr;
};

// One entry: its values are the keyword's fields in order. Values beyond the
// keyword's fields are passed over with a notice rather than failing the
// printer; a malformed value, or one its field cannot hold, fails.
bool BuildEntry(const KeywordInfo& info, WideString name, WideView value, BuiltEntry* entry,
                const CompileReport& report) {
    std::vector<LONG> values;
    const std::string where = Narrow(info.name) + " entry \"" + Narrow(name) + "\"";
    if (!ParseIntegers(value, &values)) {
        SetError(report.error, "not a list of integers: " + where);
        return false;
    }
    if (values.size() > static_cast<std::size_t>(info.fieldCount)) {
        if (report.notices != nullptr) {
            report.notices->push_back(" ERROR:CompileDataFile() values beyond the " +
                                      std::to_string(info.fieldCount) + " fields of " + where +
                                      " ignored.\n");
        }
        values.resize(static_cast<std::size_t>(info.fieldCount));
    }
    entry->name = std::move(name);
    if (!BuildRecord(info, values, &entry->record)) {
        SetError(report.error, "value out of range for its field: " + where);
        return false;
    }
    return true;
}

bool BuildSection(const KeywordInfo& info, const std::vector<IniSection>& ini,
                  const IniSection& printer, BuiltSection* section, const CompileReport& report) {
    section->info = &info;
    section->defaultIndex = 0;
    const IniKey* key = FindKey(printer, info.name);
    if (key == nullptr) {
        SetError(report.error, "[printer] lacks the keyword " + Narrow(info.name));
        return false;
    }
    WideView rest;
    if (!IsList(key->value, &rest)) {
        BuiltEntry entry;
        if (!BuildEntry(info, info.name, key->value, &entry, report)) return false;
        section->entries.push_back(std::move(entry));
        return true;
    }
    std::vector<LONG> n;
    if (!ParseIntegers(rest, &n) || n.size() > 1) {
        SetError(report.error, "bad LIST default index: " + Narrow(info.name));
        return false;
    }
    // An empty LIST section would leave the keyword without a default entry,
    // which every user of the configuration relies on: it does not compile.
    const IniSection* list = FindSection(ini, info.name);
    if (list == nullptr || list->keys.empty()) {
        SetError(report.error, "LIST without entries: [" + Narrow(info.name) + "]");
        return false;
    }
    if (list->keys.size() > 0xFFFF) {
        SetError(report.error, "too many entries: [" + Narrow(info.name) + "]");
        return false;
    }
    for (const IniKey& k : list->keys) {
        BuiltEntry entry;
        if (!BuildEntry(info, k.name, k.value, &entry, report)) return false;
        section->entries.push_back(std::move(entry));
    }
    // A default index beyond the last entry (or below the first) means 0.
    const LONG index = n.empty() ? 0 : n[0];
    if (index >= 0 && static_cast<std::size_t>(index) < section->entries.size()) {
        section->defaultIndex = static_cast<WORD>(index);
    }
    return true;
}

DWORD AppendName(std::vector<BYTE>& block, WideView name) {
    const DWORD at = static_cast<DWORD>(block.size());
    block.resize(at + (name.size() + 1) * 2, 0);
    std::memcpy(block.data() + at, name.data(), name.size() * 2);
    return at;
}

// Header, the sections in keyword order, every section's entries, the names,
// and the trailing marker.
std::vector<BYTE> WriteBlock(const std::vector<BuiltSection>& sections) {
    std::vector<BYTE> block(kHeaderSize + kSectionSize * sections.size(), 0);
    std::vector<std::vector<DWORD>> entryOffsets;
    for (const BuiltSection& s : sections) {
        std::vector<DWORD> offsets;
        for (const BuiltEntry& e : s.entries) {
            const DWORD at = static_cast<DWORD>(block.size());
            offsets.push_back(at);
            block.resize(at + kEntryHeaderSize);
            block.insert(block.end(), e.record.begin(), e.record.end());
        }
        entryOffsets.push_back(std::move(offsets));
    }
    for (std::size_t i = 0; i < sections.size(); ++i) {
        const BuiltSection& s = sections[i];
        const DWORD at = kHeaderSize + kSectionSize * static_cast<DWORD>(i);
        const std::vector<DWORD>& offsets = entryOffsets[i];
        Store32(block, at + kSecNext, i + 1 < sections.size() ? at + kSectionSize : 0);
        Store32(block, at + kSecName, AppendName(block, s.info->name));
        Store16(block, at + kSecId, static_cast<WORD>(s.info->id));
        Store16(block, at + kSecCount, static_cast<WORD>(s.entries.size()));
        Store16(block, at + kSecDefault, s.defaultIndex);
        Store32(block, at + kSecFirstEntry, offsets.front());
        for (std::size_t j = 0; j < offsets.size(); ++j) {
            Store32(block, offsets[j] + kEntNext, j + 1 < offsets.size() ? offsets[j + 1] : 0);
            Store32(block, offsets[j] + kEntName, AppendName(block, s.entries[j].name));
        }
    }
    const DWORD size = static_cast<DWORD>(block.size()) + 4;
    block.resize(size);
    Store32(block, size - 4, kConfigMarker);
    Store32(block, kHdrMarker, kConfigMarker);
    Store32(block, kHdrSize, size);
    Store32(block, kHdrVersion, kConfigVersion);
    Store32(block, kHdrStatus, 0);
    Store32(block, kHdrSectionCount, static_cast<DWORD>(sections.size()));
    Store32(block, kHdrFirstSection, kHeaderSize);
    return block;
}

// ---- the cache file -------------------------------------------------------

bool WriteCache(const WideString& cacheName, const std::vector<BYTE>& block) {
    HANDLE file = CreateFileW(cacheName.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    const BOOL ok =
        WriteFile(file, block.data(), static_cast<DWORD>(block.size()), &written, nullptr);
    CloseHandle(file);
    if (!ok || written != block.size()) {
        DeleteFileW(cacheName.c_str());  // a short cache must not be taken for one later
        return false;
    }
    return true;
}

// The cache file's bytes through a read-only mapping; none when it cannot be
// opened or mapped, or its size cannot be a block.
std::optional<std::vector<BYTE>> ReadCache(const WideString& cacheName) {
    HANDLE file = CreateFileW(cacheName.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return std::nullopt;
    DWORD high = 0;
    const DWORD size = GetFileSize(file, &high);
    if (size == INVALID_FILE_SIZE || high != 0 || size < kHeaderSize || size > kMaxCacheSize) {
        CloseHandle(file);
        return std::nullopt;
    }
    HANDLE mapping = CreateFileMappingW(file, nullptr, PAGE_READONLY, 0, size, nullptr);
    CloseHandle(file);
    if (mapping == nullptr) return std::nullopt;
    const void* view = MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, size);
    CloseHandle(mapping);
    if (view == nullptr) return std::nullopt;
    std::vector<BYTE> block(static_cast<const BYTE*>(view), static_cast<const BYTE*>(view) + size);
    UnmapViewOfFile(view);
    return block;
}

// A checked configuration from a block, marked as just built when it is.
std::unique_ptr<PrinterDataObj> Checked(std::vector<BYTE> block, bool justBuilt) {
    if (justBuilt && block.size() >= kHeaderSize)
        Store32(block, kHdrStatus, Load32(block, kHdrStatus) | kConfigStatusJustBuilt);
    return PrinterDataObj::FromBlock(std::move(block));
}

std::unique_ptr<PrinterDataObj> LoadCache(const WideString& cacheName, bool justBuilt) {
    std::optional<std::vector<BYTE>> block = ReadCache(cacheName);
    return block ? Checked(std::move(*block), justBuilt) : nullptr;
}

void Tell(const ConfigLog& log, const std::string& line) {
    if (log.write != nullptr) log.write(log.context, line.c_str());
}

// A folder that cannot hold the cache makes every enable compile the data
// file; that is told once per process, not at every enable.
std::atomic<bool> cacheFailureTold{false};

void TellCacheFailureOnce(const ConfigLog& log, const WideString& cacheName) {
    if (cacheFailureTold.exchange(true)) return;
    Tell(log, " ERROR:WriteCache(" + Narrow(cacheName) +
                  ") the data file is compiled at every enable.\n");
}

}  // namespace

// ---- PrinterDataObj -------------------------------------------------------

std::unique_ptr<PrinterDataObj> PrinterDataObj::FromBlock(std::vector<BYTE> block) {
    const std::vector<BYTE>& b = block;
    if (b.size() < kHeaderSize + 4 || b.size() > kMaxCacheSize) return nullptr;
    const DWORD size = static_cast<DWORD>(b.size());
    if (Load32(b, kHdrMarker) != kConfigMarker || Load32(b, kHdrSize) != size ||
        Load32(b, size - 4) != kConfigMarker || Load32(b, kHdrVersion) != kConfigVersion ||
        Load32(b, kHdrSectionCount) != kKeywordCount) {
        return nullptr;
    }
    // Every walk is bounded by its stored count and must end exactly there,
    // so that a loop of offsets is refused rather than followed.
    bool seen[kKeywordCount + 1] = {};
    DWORD section = Load32(b, kHdrFirstSection);
    for (int i = 0; i < kKeywordCount; ++i) {
        if (!RecordInside(b, section, kSectionSize)) return nullptr;
        const WORD id = Load16(b, section + kSecId);
        const KeywordInfo* info = FindKeyword(id);
        if (info == nullptr || seen[id]) return nullptr;
        seen[id] = true;
        const std::optional<WideString> name = NameAt(b, Load32(b, section + kSecName));
        if (!name || *name != info->name) return nullptr;
        const WORD count = Load16(b, section + kSecCount);
        if (count == 0) return nullptr;
        DWORD entry = Load32(b, section + kSecFirstEntry);
        for (WORD j = 0; j < count; ++j) {
            if (!RecordInside(b, entry, info->recordSize)) return nullptr;
            if (!NameAt(b, Load32(b, entry + kEntName))) return nullptr;
            entry = Load32(b, entry + kEntNext);
        }
        if (entry != 0) return nullptr;
        section = Load32(b, section + kSecNext);
    }
    if (section != 0) return nullptr;
    return std::unique_ptr<PrinterDataObj>(new PrinterDataObj(std::move(block)));
}

namespace {

// The section of a keyword in a checked block; 0 when there is none.
DWORD SectionOf(const std::vector<BYTE>& b, Keyword keyword) {
    DWORD section = Load32(b, kHdrFirstSection);
    for (int i = 0; i < kKeywordCount && section != 0; ++i) {
        if (Load16(b, section + kSecId) == static_cast<WORD>(keyword)) return section;
        section = Load32(b, section + kSecNext);
    }
    return 0;
}

}  // namespace

DWORD PrinterDataObj::configVersion() const {
    return Load32(block_, kHdrVersion);
}

bool PrinterDataObj::justBuilt() const {
    return (Load32(block_, kHdrStatus) & kConfigStatusJustBuilt) != 0;
}

int PrinterDataObj::entryCount(Keyword keyword) const {
    const DWORD section = SectionOf(block_, keyword);
    return section == 0 ? 0 : Load16(block_, section + kSecCount);
}

int PrinterDataObj::defaultIndex(Keyword keyword) const {
    const DWORD section = SectionOf(block_, keyword);
    if (section == 0) return 0;
    const WORD index = Load16(block_, section + kSecDefault);
    return index < Load16(block_, section + kSecCount) ? index : 0;
}

std::optional<ConfigEntry> PrinterDataObj::entry(Keyword keyword, int index) const {
    const DWORD section = SectionOf(block_, keyword);
    const KeywordInfo* info = FindKeyword(static_cast<WORD>(keyword));
    if (section == 0 || info == nullptr || index < 0 ||
        index >= Load16(block_, section + kSecCount)) {
        return std::nullopt;
    }
    DWORD at = Load32(block_, section + kSecFirstEntry);
    for (int i = 0; i < index; ++i) at = Load32(block_, at + kEntNext);

    ConfigEntry result;
    result.name = NameAt(block_, Load32(block_, at + kEntName)).value_or(WideString{});
    result.record = block_.data() + at;
    result.recordSize = info->recordSize;
    DWORD pos = at + kEntryHeaderSize;
    for (std::size_t i = 0; i < info->itemCount; ++i) {
        const Item item = info->layout[i];
        switch (item.slot) {
            case Slot::kI16:
                result.field[item.field] = static_cast<SHORT>(Load16(block_, pos));
                break;
            case Slot::kI32:
                result.field[item.field] = static_cast<LONG>(Load32(block_, pos));
                break;
            case Slot::kPaperFlags: {
                const DWORD bits = Load32(block_, pos);
                result.field[15] = (bits & 0x1) ? 1 : 0;
                result.field[16] = (bits & 0x2) ? 1 : 0;
                break;
            }
            case Slot::kZero16:
                break;
        }
        pos += SlotSize(item.slot);
    }
    return result;
}

std::optional<ConfigEntry> PrinterDataObj::defaultEntry(Keyword keyword) const {
    return entry(keyword, defaultIndex(keyword));
}

std::vector<ConfigEntry> PrinterDataObj::entries(Keyword keyword) const {
    std::vector<ConfigEntry> all;
    const int count = entryCount(keyword);
    for (int i = 0; i < count; ++i) {
        if (std::optional<ConfigEntry> e = entry(keyword, i)) all.push_back(std::move(*e));
    }
    return all;
}

// ---- compiling and opening ----------------------------------------------

std::optional<std::vector<BYTE>> CompileDataFile(const std::filesystem::path& dataFile,
                                                 std::string* error,
                                                 std::vector<std::string>* notices) {
    const CompileReport report{error, notices};
    const WideString file = platform::FromUtf8(dataFile.string());
    const DWORD attributes = GetFileAttributesW(file.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        SetError(error, "cannot open the data file " + dataFile.string());
        return std::nullopt;
    }
    std::vector<IniSection> ini;
    if (!ReadIni(file, &ini, error)) return std::nullopt;
    const IniSection* printer = FindSection(ini, u"printer");
    if (printer == nullptr) {
        SetError(error, "no [printer] section");
        return std::nullopt;
    }
    std::vector<BuiltSection> sections(kKeywordCount);
    for (int i = 0; i < kKeywordCount; ++i) {
        if (!BuildSection(kKeywords[i], ini, *printer, &sections[i], report)) return std::nullopt;
    }
    return WriteBlock(sections);
}

std::filesystem::path CacheFileName(const std::filesystem::path& dataFile) {
    const std::string name = dataFile.filename().string();
    return dataFile.parent_path() / (name.substr(0, name.find('.')) + ".QCB");
}

PrinterDataObj* OpenPrinterDataObj(LPCWSTR dataFile, ConfigLog log) {
    if (dataFile == nullptr || dataFile[0] == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    const std::filesystem::path dataPath = platform::ToUtf8(dataFile);
    const WideString cacheName = platform::FromUtf8(CacheFileName(dataPath).string());

    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(dataFile, GetFileExInfoStandard, &data)) return nullptr;
    WIN32_FILE_ATTRIBUTE_DATA cache{};
    // A cache stamped at the data file's own time is current: packages and
    // archives give both files one time, and the folder may not be writable.
    const bool stale = !GetFileAttributesExW(cacheName.c_str(), GetFileExInfoStandard, &cache) ||
                       CompareFileTime(&cache.ftLastWriteTime, &data.ftLastWriteTime) < 0;
    if (!stale) {
        if (std::unique_ptr<PrinterDataObj> config = LoadCache(cacheName, false))
            return config.release();
    }

    // Missing, stale or invalid: compiled afresh, cached, and read back.
    std::vector<std::string> notices;
    std::optional<std::vector<BYTE>> block = CompileDataFile(dataPath, nullptr, &notices);
    for (const std::string& line : notices) Tell(log, line);
    if (!block) return nullptr;
    std::unique_ptr<PrinterDataObj> config;
    if (WriteCache(cacheName, *block)) config = LoadCache(cacheName, true);
    if (!config) {
        // A cache that cannot be written (or read back) does not stop the
        // printer: the block just compiled serves this enable.
        TellCacheFailureOnce(log, cacheName);
        config = Checked(std::move(*block), true);
    }
    return config.release();
}

void ResetCacheFailureNoticeForTesting() {
    cacheFailureTold = false;
}

void ClosePrinterDataObj(PrinterDataObj* config) {
    delete config;
}
