#include "driver/driver_log.h"

#include <algorithm>
#include <atomic>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "driver/log_format.h"
#include "driver/settings.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/last_error.h"
#include "platform/module.h"
#include "platform/registry.h"
#include "platform/spooler.h"
#include "platform/wide.h"

namespace {

constexpr char16_t kLogBaseName[] = u"P-ZNGIUI";
constexpr char kLogBaseNameNarrow[] = "P-ZNGIUI";
constexpr char16_t kLogExtension[] = u".log";
constexpr char16_t kArchiveListKey[] = u"Software\\" u"P-ZN" u"\\PrinterDriverData";
constexpr char16_t kArchiveListValue[] = u"LogFiles";
constexpr std::size_t kSlotBytes = kLogArchiveSlotChars * sizeof(WCHAR);
constexpr std::size_t kArchiveListMaxBytes = kLogArchiveSlots * kSlotBytes;

std::atomic<DriverLogClock> testClock{nullptr};

void ReadClock(SYSTEMTIME* now) {
    DriverLogClock clock = testClock.load();
    if (clock != nullptr) {
        clock(now);
    } else {
        GetLocalTime(now);
    }
}

// Logging leaves the caller's last error as it found it: entry points log
// after a failure and their caller still reads the failure's code.
class LastErrorKept {
public:
    LastErrorKept() : saved_(GetLastError()) {}
    ~LastErrorKept() { SetLastError(saved_); }
    LastErrorKept(const LastErrorKept&) = delete;
    LastErrorKept& operator=(const LastErrorKept&) = delete;

private:
    DWORD saved_;
};

// The file work runs in the spooler's own context; the client's is taken
// back when the object goes, on every path. Without a token the file work
// is not done: there would be no context to go back to.
class SpoolerContext {
public:
    SpoolerContext() : token_(RevertToPrinterSelf()) {}
    ~SpoolerContext() {
        if (token_ != nullptr) ImpersonatePrinterClient(token_);
    }
    SpoolerContext(const SpoolerContext&) = delete;
    SpoolerContext& operator=(const SpoolerContext&) = delete;
    bool Entered() const { return token_ != nullptr; }

private:
    HANDLE token_;
};

bool LevelIsWritten(WORD logMode, int level) {
    if (logMode == kLogOrdinary) return level == kLogLevelOrdinary;
    return logMode != kLogNone;
}

platform::WideString FileNamePart(const WCHAR* path) {
    platform::WideView view(path);
    std::size_t cut = view.find_last_of(u"\\/");
    return platform::WideString(cut == platform::WideView::npos ? view : view.substr(cut + 1));
}

std::string ProcessName() {
    WCHAR path[260] = {};
    if (GetModuleFileNameW(nullptr, path, 260) == 0) return "UnKnown";
    platform::WideString name = FileNamePart(path);
    return name.empty() ? "UnKnown" : platform::ToUtf8(name);
}

// The log folder with its separator: the current log and the archives are
// this followed by their file names.
platform::WideString LogFolderPrefix(const PrinterData& settings) {
    platform::WideString folder(settings.logFolder,
                                platform::WideLengthBounded(settings.logFolder, 260));
    if (folder.empty() || folder.back() != u'\\') folder += u'\\';
    return folder;
}

std::string LinePrefix(const SYSTEMTIME& now, HMODULE module) {
    char stamp[64];
    std::snprintf(stamp, sizeof stamp, "%04d/%02d/%02d %02d:%02d:%02d.%03d ", now.wYear,
                  now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond, now.wMilliseconds);
    std::string prefix = stamp;
    prefix += "[";
    prefix += LogTag(module);
    prefix += "][";
    prefix += ProcessName();
    prefix += "] ";
    return prefix;
}

// An archive's file name: the base name, the line's local time as 14 digits
// (15 past the year 9999), ".log". Only names of this form are kept in the
// list or deleted from the log folder: whatever else a slot holds (a path,
// "..", another file's name) is dropped from the list and touches no file.
bool IsArchiveName(platform::WideView name) {
    const platform::WideView base(kLogBaseName);
    const platform::WideView extension(kLogExtension);
    if (name.size() < base.size() + 14 + extension.size() ||
        name.size() > base.size() + 15 + extension.size())
        return false;
    if (name.substr(0, base.size()) != base) return false;
    if (name.substr(name.size() - extension.size()) != extension) return false;
    for (char16_t c : name.substr(base.size(), name.size() - base.size() - extension.size()))
        if (c < u'0' || c > u'9') return false;
    return true;
}

platform::WideString ArchiveName(const SYSTEMTIME& now) {
    char name[96];
    std::snprintf(name, sizeof name, "%s%04d%02d%02d%02d%02d%02d.log", kLogBaseNameNarrow,
                  now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond);
    return platform::FromUtf8(name);
}

// One slot's archive name, or empty when the slot holds none: an empty
// slot, one without its terminating zero inside the slot, or anything that
// is not an archive's name.
platform::WideString SlotName(const BYTE* slot) {
    platform::WideString name;
    for (std::size_t i = 0; i < kLogArchiveSlotChars; ++i) {
        const auto c = static_cast<char16_t>(slot[2 * i] | slot[2 * i + 1] << 8);
        if (c == 0) return IsArchiveName(name) ? name : platform::WideString();
        name += c;
    }
    return {};
}

enum class ListRead { kRead, kNone, kFailed };

// Reads the archive list into `slots` (one entry a slot, empty where the
// slot holds no archive name). A missing key or value is no list. So is a
// value beyond 2,048 bytes, which the list's reader cannot take: the list
// starts again from the new archive, and the archives it named stay on disk.
// A trailing part of a slot is not looked at.
ListRead ReadArchiveList(std::vector<platform::WideString>& slots) {
    HKEY key = nullptr;
    LONG status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, kArchiveListKey, 0, KEY_QUERY_VALUE, &key);
    if (status == ERROR_FILE_NOT_FOUND) return ListRead::kNone;
    if (status != ERROR_SUCCESS) return ListRead::kFailed;
    std::vector<BYTE> bytes(kArchiveListMaxBytes);
    DWORD size = static_cast<DWORD>(bytes.size());
    status = RegQueryValueExW(key, kArchiveListValue, nullptr, nullptr, bytes.data(), &size);
    RegCloseKey(key);
    if (status == ERROR_FILE_NOT_FOUND || status == ERROR_MORE_DATA) return ListRead::kNone;
    if (status != ERROR_SUCCESS) return ListRead::kFailed;
    const std::size_t usable = std::min<std::size_t>(size, bytes.size());
    for (std::size_t at = 0; at + kSlotBytes <= usable; at += kSlotBytes)
        slots.push_back(SlotName(bytes.data() + at));
    return ListRead::kRead;
}

void WriteArchiveList(const std::vector<platform::WideString>& names) {
    std::vector<BYTE> bytes(names.size() * kSlotBytes, 0);
    for (std::size_t slot = 0; slot < names.size(); ++slot) {
        BYTE* out = bytes.data() + slot * kSlotBytes;
        for (std::size_t i = 0; i < names[slot].size() && i + 1 < kLogArchiveSlotChars; ++i) {
            out[2 * i] = static_cast<BYTE>(names[slot][i] & 0xFF);
            out[2 * i + 1] = static_cast<BYTE>(names[slot][i] >> 8);
        }
    }
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, kArchiveListKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_SET_VALUE, nullptr, &key, nullptr) != ERROR_SUCCESS)
        return;
    RegSetValueExW(key, kArchiveListValue, 0, REG_BINARY, bytes.data(),
                   static_cast<DWORD>(bytes.size()));
    RegCloseKey(key);
}

// Archives the current log under the line's time and brings the archive
// list up to date. The archives and the current log together make up the
// generations: an old archive past them is deleted. Generations 0 keeps
// every archive; the list then names the 32 newest, and an older one only
// leaves the list, its file stays. So does an archive that the generations
// would keep but the 32 slots cannot hold. Generations 1 keeps the new
// archive only, as 2 does.
void Rotate(const platform::WideString& folder, const platform::WideString& current,
            const SYSTEMTIME& now, WORD generations) {
    const platform::WideString name = ArchiveName(now);
    if (!IsArchiveName(name)) return;  // a clock out of range
    const platform::WideString archive = folder + name;
    // An archive is never replaced (the platform's own rename refuses an
    // existing target): a second rotation within the same second leaves the
    // file as it is, and the next line after that second archives it.
    if (GetFileAttributesW(archive.c_str()) != INVALID_FILE_ATTRIBUTES ||
        GetLastError() != ERROR_FILE_NOT_FOUND)
        return;
    if (!MoveFileW(current.c_str(), archive.c_str())) return;

    std::vector<platform::WideString> old;
    const ListRead read = ReadArchiveList(old);
    if (read == ListRead::kFailed) return;
    if (read == ListRead::kRead && !old.empty() && old.front() == name) return;

    const std::size_t withinGenerations =
        generations == 0 ? SIZE_MAX : std::max<std::size_t>(generations - 1u, 1u);
    const std::size_t listed = std::min(withinGenerations, kLogArchiveSlots);
    std::vector<platform::WideString> kept{name};
    std::vector<platform::WideString> seen{name};  // a name is counted once
    for (const platform::WideString& slot : old) {
        if (slot.empty() || std::find(seen.begin(), seen.end(), slot) != seen.end()) continue;
        seen.push_back(slot);
        const std::size_t rank = seen.size() - 1;  // the new archive is rank 0
        if (rank < listed) {
            kept.push_back(slot);
        } else if (rank >= withinGenerations) {
            // One already gone is no failure: the list is still written.
            DeleteFileW((folder + slot).c_str());
        }
    }
    WriteArchiveList(kept);
}

void AppendLine(const PrinterData& settings, HMODULE module, const std::string& message) {
    SpoolerContext context;
    if (!context.Entered()) return;

    const platform::WideString folder = LogFolderPrefix(settings);
    const platform::WideString current = folder + kLogBaseName + kLogExtension;
    HANDLE file = CreateFileW(current.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    // The end before this line decides the rotation. A log the pointer
    // cannot reach gets no line: it would land at the start of the file.
    LONG endHigh = 0;
    const DWORD endLow = SetFilePointer(file, 0, &endHigh, FILE_END);
    if (endLow == INVALID_SET_FILE_POINTER && GetLastError() != ERROR_SUCCESS) {
        CloseHandle(file);
        return;
    }
    const std::uint64_t end = static_cast<std::uint64_t>(static_cast<DWORD>(endHigh)) << 32 | endLow;

    SYSTEMTIME now{};
    ReadClock(&now);
    std::string line = LinePrefix(now, module);
    line += message;
    if (message.empty() || message.back() != '\n') line += '\n';
    DWORD written = 0;
    WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    CloseHandle(file);

    if (end + written >= kLogRotateSize) Rotate(folder, current, now, settings.logGenerations);
}

void LogHexLines(HMODULE module, const PrinterData* settings, HANDLE printer, int level,
                 const BYTE* bytes, std::size_t count) {
    for (std::size_t row = 0; row < count; row += 32) {
        std::string line;
        for (std::size_t i = row; i < count && i < row + 32; ++i) {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%02X", bytes[i]);
            if (!line.empty()) line += ' ';
            line += hex;
        }
        DriverLog(module, settings, printer, level, "%s\n", line.c_str());
    }
}

}  // namespace

const char* LogTag(HMODULE module) {
    WCHAR path[260] = {};
    if (GetModuleFileNameW(module, path, 260) == 0) return "GI";
    platform::WideString name = FileNamePart(path);
    if (name.size() > 4 && platform::WideEqualsNoCase(platform::WideView(name).substr(4), u"UI.DLL"))
        return "UI";
    return "GI";
}

void SetDriverLogClockForTesting(DriverLogClock clock) { testClock.store(clock); }

int DriverLog(HMODULE module, const PrinterData* settings, HANDLE printer, int level,
              const char* format, ...) {
    LastErrorKept lastError;
    std::unique_ptr<PrinterData> stored;
    if (settings == nullptr) {
        stored = LoadPrinterData(printer, nullptr);
        if (!stored) return 0;
        settings = stored.get();
    }
    if (!LevelIsWritten(settings->logMode, level)) return 1;

    va_list args;
    va_start(args, format);
    try {
        std::string message = FormatLogMessage(format, args);
        if (message.size() > kLogMessageMax) message.resize(kLogMessageMax);
        AppendLine(*settings, module, message);
    } catch (...) {
        // Out of memory: the line is lost, the caller carries on.
    }
    va_end(args);
    return 1;
}

void DumpDevmode(HMODULE module, const PrinterData* settings, HANDLE printer, int level,
                 const DEVMODEW* devmode, const char* title) {
    if (devmode == nullptr) return;
    DriverLog(module, settings, printer, level, "%s\n", title);
    DriverLog(module, settings, printer, level, "<Common Devmode>\n");
    // Only the bytes the device mode declares are read: a short public part
    // is dumped as far as it goes.
    std::size_t publicBytes = devmode->dmSize < sizeof(DEVMODEW) ? devmode->dmSize : sizeof(DEVMODEW);
    const auto* bytes = reinterpret_cast<const BYTE*>(devmode);
    LogHexLines(module, settings, printer, level, bytes, publicBytes);
    const BYTE* priv = bytes + devmode->dmSize;
    DWORD signature = 0;
    if (devmode->dmDriverExtra == kPrivateDevmodeSize)
        std::memcpy(&signature, priv + offsetof(PrivateDevmode, signature), sizeof signature);
    if (signature == kPrivateSignature) {
        DriverLog(module, settings, printer, level, "<Private Devmode>\n");
        LogHexLines(module, settings, printer, level, priv, kPrivateDevmodeSize);
    } else {
        DriverLog(module, settings, printer, level, "DEVMODE don't include PRIVATEDEVMODE\n");
    }
}
