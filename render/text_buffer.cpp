#include "render/text_buffer.h"

#include <cstdint>
#include <cstring>

#include "platform/heap.h"

bool InitDevText(TextBuf* buffer) {
    if (buffer == nullptr) return false;
    FreeDevText(buffer);
    auto* items = static_cast<BYTE*>(GlobalAlloc(GPTR, kTextItemBlockBytes));
    auto* data = static_cast<BYTE*>(GlobalAlloc(GPTR, kTextDataCapacity));
    if (items == nullptr || data == nullptr) {
        if (items != nullptr) GlobalFree(items);
        if (data != nullptr) GlobalFree(data);
        return false;
    }
    *buffer = {items, kTextItemCapacity, 0, data, kTextDataCapacity, 0};
    return true;
}

void FreeDevText(TextBuf* buffer) {
    if (buffer == nullptr) return;
    if (buffer->items != nullptr) GlobalFree(buffer->items);
    if (buffer->data != nullptr) GlobalFree(buffer->data);
    *buffer = {};
}

bool DevTextHasRoom(const TextBuf& buffer, DWORD bytes) {
    if (buffer.items == nullptr || buffer.data == nullptr) return false;
    if (buffer.itemCount >= buffer.itemCapacity) return false;
    return buffer.dataUsed <= buffer.dataCapacity && bytes <= buffer.dataCapacity - buffer.dataUsed;
}

bool AppendDevText(TextBuf* buffer, const TextRecord& item, const BYTE* data, DWORD bytes) {
    if (buffer == nullptr || !DevTextHasRoom(*buffer, bytes) || bytes > 0xFFFF ||
        (bytes != 0 && data == nullptr))
        return false;
    TextRecord stored = item;
    stored.offset = buffer->dataUsed;
    stored.count = static_cast<WORD>(bytes);
    std::memcpy(buffer->items + std::size_t{buffer->itemCount} * sizeof(TextRecord), &stored,
                sizeof stored);
    if (bytes != 0) std::memcpy(buffer->data + buffer->dataUsed, data, bytes);
    buffer->itemCount += 1;
    buffer->dataUsed += bytes;
    return true;
}

TextRecord ReadDevTextItem(const TextBuf& buffer, DWORD index) {
    TextRecord item{};
    if (buffer.items != nullptr && index < buffer.itemCount && index < buffer.itemCapacity)
        std::memcpy(&item, buffer.items + std::size_t{index} * sizeof(TextRecord), sizeof item);
    return item;
}

namespace {

void WriteDevTextItem(TextBuf* buffer, DWORD index, const TextRecord& item) {
    std::memcpy(buffer->items + std::size_t{index} * sizeof(TextRecord), &item, sizeof item);
}

// Whether the last item's characters are the last bytes of the data.
bool LastItemEndsData(const TextBuf& buffer, const TextRecord& last) {
    return std::uint64_t{last.offset} + last.count == buffer.dataUsed;
}

}  // namespace

bool GrowLastDevText(TextBuf* buffer, const BYTE* data, DWORD bytes) {
    if (buffer == nullptr || buffer->itemCount == 0 || buffer->data == nullptr ||
        (bytes != 0 && data == nullptr))
        return false;
    TextRecord last = ReadDevTextItem(*buffer, buffer->itemCount - 1);
    if (!LastItemEndsData(*buffer, last) || bytes > 0xFFFFu - last.count ||
        buffer->dataUsed > buffer->dataCapacity || bytes > buffer->dataCapacity - buffer->dataUsed)
        return false;
    if (bytes != 0) std::memcpy(buffer->data + buffer->dataUsed, data, bytes);
    buffer->dataUsed += bytes;
    last.count = static_cast<WORD>(last.count + bytes);
    WriteDevTextItem(buffer, buffer->itemCount - 1, last);
    return true;
}

bool DropLastDevText(TextBuf* buffer) {
    if (buffer == nullptr || buffer->itemCount == 0) return false;
    const TextRecord last = ReadDevTextItem(*buffer, buffer->itemCount - 1);
    if (!LastItemEndsData(*buffer, last)) return false;
    buffer->itemCount -= 1;
    buffer->dataUsed -= last.count;
    return true;
}
