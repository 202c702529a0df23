// Paper feeds (see feed.h).
#include "command/feed.h"

#include "command/spool_output.h"

namespace {
constexpr LONG kLargestStep = 255;
}  // namespace

void FeedInner(ExtPdev* pdev, LONG dots) {
    while (dots > 0) {
        const LONG step = dots < kLargestStep ? dots : kLargestStep;
        const BYTE command[3] = {0x1B, 0x4A, static_cast<BYTE>(step)};
        WriteOut(pdev, command, sizeof command);
        dots -= step;
    }
}
