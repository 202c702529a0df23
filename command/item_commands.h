// The printer commands of device-text items: printer-font text, barcodes and
// two-dimensional codes, the control-code font and the hex command font.
#pragma once

#include "command/ext_pdev.h"
#include "records/text_item.h"

// Item kinds (TextRecord::fontId).
inline bool IsFontItem(WORD kind) {
    return kind >= 1 && kind <= 20;
}
inline bool IsBarcodeItem(WORD kind) {
    return kind >= 100 && kind <= 107;
}
inline bool IsTwoDimensionalItem(WORD kind) {
    return kind >= 150 && kind <= 157;
}
inline constexpr WORD kControlItem = 200;
inline constexpr WORD kHexCommandItem = 300;

// Sends one item whose `item.count` bytes are `text`: the page-bounds check,
// ESC $ and the commands of its kind. 1 when sent, 0 when dropped (also for
// a null record, or null text with a non-zero count, before anything is sent).
BOOL SendItem(ExtPdev* pdev, const TextRecord& item, const BYTE* text);

// The number of a symbol item's `count` bytes that make its data, in the
// ANSI code page `codePage`: a trailing space is left off unless the byte
// before it is a lead byte preceded by a byte that is not one (three bytes
// at least); 0 for no bytes or a lone space.
WORD SymbolLength(const BYTE* text, WORD count, UINT codePage);
