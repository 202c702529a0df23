// Scaled integer arithmetic.
#pragma once

#include "platform/types.h"

extern "C" {
// number × numerator / denominator through a 64-bit product, rounded to the
// nearest integer with halves away from zero. -1 when the denominator is 0
// or the result does not fit in 32 bits.
QLPR_EXPORT int WINAPI MulDiv(int number, int numerator, int denominator);
}
