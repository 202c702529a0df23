// The device text buffer: the items of text in device fonts, barcode fonts
// and control fonts collected for one band, handed with the band to the
// command library and then emptied. Created at the start of a document and
// released at its end; a reset during the document moves it to the new
// device instance, so its blocks are fixed global memory, not the instance's
// heap.
#pragma once

#include "platform/types.h"
#include "records/text_item.h"

inline constexpr DWORD kTextItemBlockBytes = 65536;
inline constexpr DWORD kTextItemCapacity = 2520;
inline constexpr DWORD kTextDataCapacity = 65536;

static_assert(kTextItemCapacity * sizeof(TextRecord) <= kTextItemBlockBytes);

struct TextBuf {
    BYTE* items;  // TextRecord[itemCapacity], packed
    DWORD itemCapacity;
    DWORD itemCount;
    BYTE* data;
    DWORD dataCapacity;
    DWORD dataUsed;
};

// Allocates both blocks (65,536 bytes each) and sets the capacities; an
// existing buffer is released first. False, with the buffer zero, when
// memory is short.
bool InitDevText(TextBuf* buffer);
// Releases both blocks and zeroes the buffer; a zero buffer is accepted.
void FreeDevText(TextBuf* buffer);
inline void EmptyDevText(TextBuf* buffer) {
    buffer->itemCount = buffer->dataUsed = 0;
}

// Room for one more item of `bytes` characters (a buffer without blocks has none).
bool DevTextHasRoom(const TextBuf& buffer, DWORD bytes);
// Appends an item whose offset is the current data position and whose
// characters are `bytes` of `data`; the record's offset and count are set
// here. False (nothing changed) without room.
bool AppendDevText(TextBuf* buffer, const TextRecord& item, const BYTE* data, DWORD bytes);
TextRecord ReadDevTextItem(const TextBuf& buffer, DWORD index);

// Appends `bytes` characters to the last item (which must hold the end of
// the data) and grows its count. False (nothing changed) when there is no
// such item, no room, or its count would pass 0xFFFF.
bool GrowLastDevText(TextBuf* buffer, const BYTE* data, DWORD bytes);
// Removes the last item and its characters (which must end the data).
bool DropLastDevText(TextBuf* buffer);
