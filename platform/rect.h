// Rectangle arithmetic on RECTL (right and bottom exclusive).
#pragma once

#include <algorithm>

#include "platform/types.h"

inline bool RectIsEmpty(const RECTL& r) {
    return r.left >= r.right || r.top >= r.bottom;
}
// The smallest rectangle holding both; an empty one adds nothing.
inline RECTL UnionRect(const RECTL& a, const RECTL& b) {
    if (RectIsEmpty(a)) return RectIsEmpty(b) ? RECTL{0, 0, 0, 0} : b;
    if (RectIsEmpty(b)) return a;
    return {std::min(a.left, b.left), std::min(a.top, b.top), std::max(a.right, b.right),
            std::max(a.bottom, b.bottom)};
}
// The common part, or (0, 0, 0, 0) when there is none.
inline RECTL IntersectRect(const RECTL& a, const RECTL& b) {
    RECTL r{std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
            std::min(a.bottom, b.bottom)};
    return RectIsEmpty(r) ? RECTL{0, 0, 0, 0} : r;
}
inline RECTL OffsetRect(const RECTL& r, LONG dx, LONG dy) {
    return {r.left + dx, r.top + dy, r.right + dx, r.bottom + dy};
}
