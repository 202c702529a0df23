// The engine's path drawing. Not built yet: each call refuses with
// ERROR_NOT_SUPPORTED, so that a driver handing a path to the engine gets a
// clear failure rather than a false success.

#include "host/engine.h"
#include "platform/last_error.h"

extern "C" {

BOOL EngStrokePath(SURFOBJ*, PATHOBJ*, CLIPOBJ*, XFORMOBJ*, BRUSHOBJ*, POINTL*, LINEATTRS*, MIX) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return FALSE;
}

BOOL EngFillPath(SURFOBJ*, PATHOBJ*, CLIPOBJ*, BRUSHOBJ*, POINTL*, MIX, FLONG) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return FALSE;
}

BOOL EngStrokeAndFillPath(SURFOBJ*, PATHOBJ*, CLIPOBJ*, XFORMOBJ*, BRUSHOBJ*, LINEATTRS*, BRUSHOBJ*,
                          POINTL*, MIX, FLONG) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return FALSE;
}
}
