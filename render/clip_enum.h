// Walks the rectangles of a clip object for the driver's own engine.
#pragma once

#include "host/winddi.h"
#include "platform/types.h"

inline constexpr ULONG kClipEnumBatch = 17;

struct ClipEnumerator {
    CLIPOBJ* clip;
    RECTL single;
    bool singlePending;  // `single` is still to be handed out
    bool complex;
    bool more;   // the engine has rectangles after the batch
    ULONG next;  // index of the next rectangle in the batch
    struct {
        ULONG c;
        RECTL arcl[kClipEnumBatch];
    } batch;
};

// A single-rectangle clip yields its bounds once; a complex one all its
// rectangles, fetched from the engine 17 at a time; no clip or a trivial one
// yields `rect` once.
void ClipEnumStart(ClipEnumerator* walk, CLIPOBJ* clip, const RECTL& rect);
// The next rectangle, or false when there is none.
bool ClipEnumNext(ClipEnumerator* walk, RECTL* rect);
void ClipEnumEnd(ClipEnumerator* walk);
