// Entries of the function table whose work is not built yet: the drawing
// entry of text. It refuses with ERROR_NOT_SUPPORTED, so that an engine
// calling it gets a clear failure rather than a false success.

#include "driver/driver_entry.h"
#include "platform/last_error.h"

namespace {
template <class Result>
Result NotBuilt(Result failure) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return failure;
}
}  // namespace

BOOL DrvTextOut(SURFOBJ*, STROBJ*, FONTOBJ*, CLIPOBJ*, RECTL*, RECTL*, BRUSHOBJ*, BRUSHOBJ*,
                POINTL*, MIX) {
    return NotBuilt(FALSE);
}
