#include "render/clip_enum.h"

#include <algorithm>

#include "host/engine.h"

void ClipEnumStart(ClipEnumerator* walk, CLIPOBJ* clip, const RECTL& rect) {
    *walk = {};
    walk->clip = clip;
    if (clip != nullptr && clip->iDComplexity == DC_COMPLEX) {
        walk->complex = true;
        walk->more = true;
        CLIPOBJ_cEnumStart(clip, TRUE, CT_RECTANGLES, CD_ANY, 0);
        return;
    }
    walk->single = clip != nullptr && clip->iDComplexity == DC_RECT ? clip->rclBounds : rect;
    walk->singlePending = true;
}

bool ClipEnumNext(ClipEnumerator* walk, RECTL* rect) {
    if (!walk->complex) {
        if (!walk->singlePending) return false;
        walk->singlePending = false;
        *rect = walk->single;
        return true;
    }
    // A batch the engine reports larger than the buffer counts only what fits.
    while (walk->next >= std::min(walk->batch.c, kClipEnumBatch)) {
        if (!walk->more) return false;
        walk->batch.c = 0;
        walk->more = CLIPOBJ_bEnum(walk->clip, sizeof walk->batch,
                                   reinterpret_cast<ULONG*>(&walk->batch)) != FALSE;
        walk->next = 0;
    }
    *rect = walk->batch.arcl[walk->next++];
    return true;
}

void ClipEnumEnd(ClipEnumerator*) {}
