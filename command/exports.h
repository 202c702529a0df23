// The command library's eight exports, as the driver finds them by name
// (see records/command_interface.h for their pointer types). Every one
// except CmndEnableExtPDEV gives a 16-bit boolean and does nothing for a
// null record.
#pragma once

#include "command/ext_pdev.h"
#include "records/command_interface.h"

extern "C" {
QLPR_EXPORT ExtPdev* CmndEnableExtPDEV(const Devmode* devmode, HANDLE printer, BYTE* buffer);
QLPR_EXPORT WORD CmndDisableExtPDEV(ExtPdev* job);
QLPR_EXPORT WORD CmndStartDoc(ExtPdev* job, const Devmode* devmode, const char* jobName,
                              DWORD jobId);
QLPR_EXPORT WORD CmndEndDoc(ExtPdev* job);
QLPR_EXPORT WORD CmndStartPage(ExtPdev* job, const Devmode* devmode, const SIZEL* pageSize,
                               const RECTL* pageRect, DWORD escapeValue);
QLPR_EXPORT WORD CmndEndPage(ExtPdev* job);
QLPR_EXPORT WORD CmndSendBand(ExtPdev* job, const BYTE* bits, const BandRecord* band,
                              const void* items, DWORD itemCount, const BYTE* data,
                              DWORD dataBytes);
QLPR_EXPORT WORD CmndExtEscape(ExtPdev* job, DWORD code, DWORD size, const void* data,
                               DWORD outputSize, void* output);
}
