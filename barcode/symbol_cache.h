// The symbols drawn last, by their order. The driver measures a barcode and
// then asks for its image, and measures the same sample symbols at every
// enable of a device; each of these is encoded once.
#pragma once

#include <optional>

#include "barcode/barcode_raster.h"

namespace qlprbrcd {

// DrawSymbol, or the image it gave for an equal order among the last few.
// Refused orders are not kept. Safe to call from several threads.
std::optional<MonoImage> DrawSymbolOnce(const SymbolOrder& order);

}  // namespace qlprbrcd
