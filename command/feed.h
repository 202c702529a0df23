// Paper feeds of the command stream.
#pragma once

#include "command/ext_pdev.h"

// Feeds `dots` by ESC J (1B 4A n) in steps of at most 255 dots; nothing for
// 0 or less. This is the inner feed: the page's vertical position is left as
// it is (a page-edge feed counts its dots before calling this).
void FeedInner(ExtPdev* pdev, LONG dots);
