// Character tables of the printer's resident fonts: the single-byte codes
// the printer takes for Latin text, the full-width forms that Shift-JIS fonts
// print single-byte characters with, and the Shift-JIS to JIS X 0208 step.
#pragma once

#include <array>

#include "platform/types.h"

using JisCode = std::array<BYTE, 2>;  // row byte first

// The printer's code for a byte of code page 1252 text: bytes below 0x80
// stay, the others map to code page 437 where it has the character and
// otherwise to a near ASCII character or a space.
BYTE PrinterLatinCode(BYTE code);

// The JIS X 0208 full-width form of a JIS X 0201 single byte (0x21..0x7E and
// the half-width katakana 0xA1..0xDF); any other byte is the full-width
// space 21 21.
JisCode FullWidthOf(BYTE code);

// The JIS X 0208 code of a Shift-JIS double-byte character.
JisCode ShiftJisToJis(BYTE lead, BYTE trail);
