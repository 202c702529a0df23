// The band range check of every drawing entry: whether an object touches the
// current band, and the band's drawn area.
#pragma once

#include "host/winddi.h"
#include "platform/types.h"

struct DeviceInstance;

// Normalises `object`, limits it by the clip (a single rectangle's bounds, or
// the union of a complex clip's rectangles), intersects it with the band and
// adds the result to the band's drawn area. True when the result is not
// empty.
bool BandRangeCheck(DeviceInstance* instance, const RECTL& object, CLIPOBJ* clip);
