// The control command groups of the four events.
#include "command/ext_pdev.h"
#include "command/spool_output.h"

// The groups' commands come with the band encoder; until then no event sends
// anything, and the document end keeps only its closing flush.
BOOL SendEventCommands(ExtPdev* pdev, int event) {
    if (event == kEventEndDoc) return FlushOut(pdev);
    return 1;
}
