// The driver's escapes: queries and settings an application or the print
// processor sends through the device context, and device text items placed
// directly into the current band.

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "driver/band_layout.h"
#include "driver/device_instance.h"
#include "driver/driver_entry.h"
#include "driver/escape_inputs.h"
#include "driver/instance_log.h"
#include "platform/last_error.h"
#include "platform/spooler.h"
#include "render/text_buffer.h"

namespace {

constexpr DWORD kMaxCopies = 999;
constexpr ULONG kLogSettingsBytes = 4 + sizeof(PrinterData::logFolder);
static_assert(kLogSettingsBytes == 524);

bool Supported(DWORD escape) {
    return escape == QUERYESCSUPPORT || escape == SETCOPYCOUNT || escape == kEscapeSetEscapeValue ||
           escape == kEscapeWriteRaw || (escape >= kEscapeGetDevmode && escape <= kEscapeTextItem);
}

// An input record of `need` bytes; a shorter or missing one is refused.
bool HasInput(ULONG inputSize, const void* input, ULONG need) {
    return input != nullptr && inputSize >= need;
}

DWORD ReadDword(const void* input) {
    DWORD value;
    std::memcpy(&value, input, sizeof value);
    return value;
}

ULONG Invalid() {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
}

ULONG SetCopyCount(DeviceInstance* instance, ULONG inputSize, const void* input, ULONG outputSize,
                   void* output) {
    if (!HasInput(inputSize, input, sizeof(DWORD))) return Invalid();
    const DWORD copies = std::min(ReadDword(input), kMaxCopies);
    if (copies > 0) instance->devmode.pub.dmCopies = static_cast<SHORT>(copies);
    if (output != nullptr && outputSize >= sizeof(DWORD)) {
        const DWORD now = static_cast<DWORD>(instance->devmode.pub.dmCopies);
        std::memcpy(output, &now, sizeof now);
    }
    return 1;
}

// The bytes go to the printer as they are. A write the spooler refuses is
// reported (0, with the spooler's error), not taken as done.
ULONG WriteRaw(DeviceInstance* instance, ULONG inputSize, const void* input) {
    if (inputSize == 0) return 1;
    if (input == nullptr) return Invalid();
    DWORD written = 0;
    if (!WritePrinter(instance->printer, input, inputSize, &written)) return 0;
    return written == inputSize ? 1 : 0;
}

ULONG GetDevmode(DeviceInstance* instance, ULONG outputSize, void* output) {
    const std::size_t bytes = std::min<std::size_t>(kFullDevmodeSize, outputSize);
    if (bytes == 0) return 1;
    if (output == nullptr) return Invalid();
    std::memcpy(output, &instance->devmode, bytes);
    return 1;
}

ULONG GetLogSettings(DeviceInstance* instance, ULONG outputSize, void* output) {
    if (output == nullptr || outputSize < kLogSettingsBytes) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    auto* out = static_cast<BYTE*>(output);
    const PrinterData& settings = instance->printerData;
    std::memcpy(out, &settings.logMode, sizeof(WORD));
    std::memcpy(out + 2, &settings.logGenerations, sizeof(WORD));
    std::memcpy(out + 4, settings.logFolder, sizeof settings.logFolder);
    return 1;
}

ULONG AddTextItem(DeviceInstance* instance, ULONG inputSize, const void* input) {
    if (!HasInput(inputSize, input, sizeof(TextItemInput))) return Invalid();
    TextItemInput item;
    std::memcpy(&item, input, sizeof item);
    // The characters come from the record's 260 data bytes and no further.
    if (item.length > sizeof item.data) return Invalid();
    if (!DevTextHasRoom(instance->textBuf, item.length)) {
        InstanceLog(*instance, kLogLevelOrdinary, " ERROR: TextBuf is FULL.\n");
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return 0;
    }
    TextRecord record{};
    record.fontId = item.kind;
    record.attributes = 0;
    record.x = item.x;
    record.y = item.y;
    record.width = item.width;
    record.height = item.height;
    AppendDevText(&instance->textBuf, record, item.data, item.length);

    auto clampLong = [](std::int64_t v) {
        return static_cast<LONG>(std::clamp<std::int64_t>(v, INT32_MIN, INT32_MAX));
    };
    const RECTL object{item.x, item.y, clampLong(std::int64_t{item.x} + item.width),
                       clampLong(std::int64_t{item.y} + item.height)};
    const RECTL clipped = IntersectRect(object, instance->bandClip);
    instance->bandBounds = UnionRect(instance->bandBounds, clipped);
    const RECTL& bounds = instance->bandBounds;
    InstanceLog(*instance, kLogLevelDetail, " BoundingRect Obj[%d,%d,%d,%d] Page[%d,%d,%d,%d]\n",
                clipped.left, clipped.top, clipped.right, clipped.bottom, bounds.left, bounds.top,
                bounds.right, bounds.bottom);
    return 1;
}

}  // namespace

ULONG DrvEscape(SURFOBJ* surface, ULONG escape, ULONG inputSize, PVOID input, ULONG outputSize,
                PVOID output) {
    DeviceInstance* instance = SurfaceInstance(surface);
    if (instance == nullptr) return Invalid();
    InstanceLog(*instance, kLogLevelOrdinary,
                "Enter DrvEscape() iEsc:%d cjIn:%d pvIn:0x%x cjOut:%d pvOut:0x%x\n",
                static_cast<int>(escape), static_cast<int>(inputSize), AddressForLog(input),
                static_cast<int>(outputSize), AddressForLog(output));
    ULONG result = 0;
    switch (escape) {
        case QUERYESCSUPPORT:
            result = HasInput(inputSize, input, sizeof(DWORD))
                         ? (Supported(ReadDword(input)) ? 1 : 0)
                         : Invalid();
            break;
        case SETCOPYCOUNT:
            result = SetCopyCount(instance, inputSize, input, outputSize, output);
            break;
        case kEscapeSetEscapeValue:
            if (HasInput(inputSize, input, sizeof(DWORD))) {
                instance->escapeValue = ReadDword(input);
                result = 1;
            } else {
                result = Invalid();
            }
            break;
        case kEscapeWriteRaw:
            result = WriteRaw(instance, inputSize, input);
            break;
        case kEscapeGetDevmode:
            result = GetDevmode(instance, outputSize, output);
            break;
        case kEscapeAccepted1:
        case kEscapeAccepted2:
            result = 1;
            break;
        case kEscapeGetLogSettings:
            result = GetLogSettings(instance, outputSize, output);
            break;
        case kEscapeTextItem:
            result = AddTextItem(instance, inputSize, input);
            break;
        default:
            result = Invalid();
            break;
    }
    InstanceLog(*instance, kLogLevelOrdinary, "Leave DrvEscape() ret:%d\n",
                static_cast<int>(result));
    return result;
}
