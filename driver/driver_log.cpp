#include "driver/driver_log.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "driver/log_format.h"
#include "driver/settings.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/module.h"
#include "platform/wide.h"

namespace {

constexpr char16_t kLogBaseName[] = u"P-ZNGIUI";

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

void AppendLine(const PrinterData& settings, HMODULE module, const std::string& message) {
    platform::WideString path(settings.logFolder,
                              platform::WideLengthBounded(settings.logFolder, 260));
    if (path.empty() || path.back() != u'\\') path += u'\\';
    path += kLogBaseName;
    path += u".log";

    HANDLE file = CreateFileW(reinterpret_cast<LPCWSTR>(path.c_str()), GENERIC_WRITE, 0, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    SetFilePointer(file, 0, nullptr, FILE_END);

    SYSTEMTIME now{};
    GetLocalTime(&now);
    char prefix[64];
    std::snprintf(prefix, sizeof prefix, "%04d/%02d/%02d %02d:%02d:%02d.%03d ", now.wYear,
                  now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond, now.wMilliseconds);
    std::string line = prefix;
    line += "[";
    line += LogTag(module);
    line += "][";
    line += ProcessName();
    line += "] ";
    line += message;
    if (message.empty() || message.back() != '\n') line += '\n';
    DWORD written = 0;
    WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    CloseHandle(file);
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

int DriverLog(HMODULE module, const PrinterData* settings, HANDLE printer, int level,
              const char* format, ...) {
    std::unique_ptr<PrinterData> stored;
    if (settings == nullptr) {
        stored = LoadPrinterData(printer, nullptr);
        if (!stored) return 0;
        settings = stored.get();
    }
    if (!LevelIsWritten(settings->logMode, level)) return 1;

    va_list args;
    va_start(args, format);
    std::string message = FormatLogMessage(format, args);
    va_end(args);
    if (message.size() > kLogMessageMax) message.resize(kLogMessageMax);
    AppendLine(*settings, module, message);
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
