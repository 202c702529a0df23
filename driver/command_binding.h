// The driver's binding of the printer command library: its module, its eight
// exports, the job handle and the 65,535-byte work buffer lent to it.
//
// The library is loaded once per document, at the document's first band, and
// released at the end of the document or at the first failed page or band
// call. Nothing is ever called through an unbound binding: every call below
// fails (returns false or 0) while the library or the job handle is missing.
#pragma once

#include "platform/types.h"
#include "records/command_interface.h"
#include "records/devmode_private.h"

// The library's file name after the module prefix.
inline constexpr char16_t kCommandLibrarySuffix[] = u"CMND.DLL";

struct CommandBinding {
    HMODULE module;
    PFN_CmndEnableExtPDEV enableExtPdev;
    PFN_CmndDisableExtPDEV disableExtPdev;
    PFN_CmndStartDoc startDoc;
    PFN_CmndEndDoc endDoc;
    PFN_CmndStartPage startPage;
    PFN_CmndEndPage endPage;
    PFN_CmndSendBand sendBand;
    PFN_CmndExtEscape extEscape;
    ExtPdev* job;
    HANDLE printer;
    BYTE* workBuffer;
};

// Loads the command library named after the driver's own file name (its
// folder and module prefix, then "CMND.DLL"), looks up its eight exports and
// allocates the work buffer. On any failure whatever was taken is released
// and the binding is left zero.
bool BindCommandLibrary(CommandBinding* binding, const WCHAR* moduleFileName);
// Unloads the library, releases the work buffer and zeroes the binding. The
// job must have been ended first (EndCommandJob).
void UnbindCommandLibrary(CommandBinding* binding);
inline bool CommandLibraryBound(const CommandBinding& binding) {
    return binding.module != nullptr;
}

// CmndEnableExtPDEV(device mode, printer, work buffer); the job handle is
// kept. False when nothing is bound or the library gives no job.
bool CallCmndEnableExtPDEV(CommandBinding* binding, const Devmode* devmode, HANDLE printer);
bool CallCmndStartDoc(CommandBinding* binding, const Devmode* devmode, const char* jobName,
                      DWORD jobId);
bool CallCmndStartPage(CommandBinding* binding, const Devmode* devmode, const SIZEL* pageSize,
                       const RECTL* pageRect, DWORD escapeValue);
bool CallCmndSendBand(CommandBinding* binding, const BYTE* bits, const BandRecord* band,
                      const void* items, DWORD itemCount, const BYTE* data, DWORD dataBytes);
bool CallCmndEndPage(CommandBinding* binding);
// CmndEndDoc, then CmndDisableExtPDEV, only while a job handle exists; the
// handle is then gone whatever the results.
void EndCommandJob(CommandBinding* binding);

// Sends an escape to the bound library's job; nothing happens (and 0 is
// returned) while nothing is bound or no job exists.
CommandBool CallCommandEscape(CommandBinding* binding, DWORD code, DWORD size, const void* data);
