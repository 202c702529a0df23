// The operations of CommandTable: printer commands.
#include "command/ext_pdev.h"
#include "command/page_raster.h"
#include "command/spool_output.h"

namespace {

BOOL CommandStartDoc(ExtPdev* pdev) { return SendEventCommands(pdev, kEventStartDoc); }

BOOL CommandStartBand(ExtPdev* pdev, BandDesc* band) {
    band->bitsPerPixel = pdev->geometry.bitsPerPixel;
    return 1;
}

BOOL CommandWriteRow(ExtPdev*, const BYTE*, DWORD) { return 1; }

}  // namespace

const OperationTable CommandTable = {
    CommandStartDoc,   // start of document: the document start group
    CommandEndDoc,     // end of document: last page, replays, document end group
    CommandStartPage,  // start of page: page sequencing, page start group
    CommandEndPage,    // end of page: page end group when writing directly
    CommandStartBand,  // start of band: the band's depth
    EmitBand,          // send band: into the page in printer form
    CommandWriteRow,   // write row: bitmap output only
};
