// Entries of the function table whose work is not built yet: the drawing
// entry of text and the font queries. Each refuses with
// ERROR_NOT_SUPPORTED (or does nothing), so that an engine calling one gets
// a clear failure rather than a false success.

#include "driver/driver_entry.h"
#include "platform/last_error.h"

namespace {
template <class Result>
Result NotBuilt(Result failure) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return failure;
}
}  // namespace

IFIMETRICS* DrvQueryFont(DHPDEV, ULONG_PTR, ULONG, ULONG_PTR* id) {
    if (id != nullptr) *id = 0;
    return NotBuilt<IFIMETRICS*>(nullptr);
}
PVOID DrvQueryFontTree(DHPDEV, ULONG_PTR, ULONG, ULONG, ULONG_PTR* id) {
    if (id != nullptr) *id = 0;
    return NotBuilt<PVOID>(nullptr);
}
LONG DrvQueryFontData(DHPDEV, FONTOBJ*, ULONG, HGLYPH, GLYPHDATA*, PVOID, ULONG) {
    return NotBuilt(LONG{-1});
}
