// The driver's own escapes, as applications and the print processor send
// them, and the one input record among them whose layout is a format.
#pragma once

#include <cstddef>

#include "platform/types.h"

inline constexpr ULONG kEscapeSetEscapeValue = 15002;
inline constexpr ULONG kEscapeWriteRaw = 15004;
inline constexpr ULONG kEscapeGetDevmode = 15007;
inline constexpr ULONG kEscapeAccepted1 = 15008;
inline constexpr ULONG kEscapeAccepted2 = 15009;
inline constexpr ULONG kEscapeGetLogSettings = 15010;
inline constexpr ULONG kEscapeTextItem = 15011;

// Escape 15011's input: one device text item placed into the current band
// (280 bytes, packed).
#pragma pack(push, 1)
struct TextItemInput {
    WORD kind;
    LONG x;
    LONG y;
    BYTE data[260];
    WORD length;
    LONG width;
    LONG height;
};
#pragma pack(pop)
static_assert(sizeof(TextItemInput) == 280);
static_assert(offsetof(TextItemInput, data) == 10);
static_assert(offsetof(TextItemInput, length) == 270);
static_assert(offsetof(TextItemInput, width) == 272);
static_assert(offsetof(TextItemInput, height) == 276);
