// The driver's binding of the printer command library: its module, its eight
// exports, the job handle and the 65,535-byte work buffer lent to it.
//
// The library is loaded once per document, at the document's first band, and
// released at the end of the document or at the first failed page or band
// call. Nothing is ever called through an unbound binding: every call below
// fails (returns false or 0) while the library or the job handle is missing.
#pragma once

#include "driver/devmode_private.h"
#include "platform/types.h"

struct ExtPdev;  // the command library's job record; its address is the job handle
struct BandRecord;

using CommandBool = WORD;  // the command library's 16-bit boolean results

using PFN_CmndEnableExtPDEV = ExtPdev* (*)(const Devmode* devmode, HANDLE printer, BYTE* buffer);
using PFN_CmndDisableExtPDEV = CommandBool (*)(ExtPdev* job);
using PFN_CmndStartDoc = CommandBool (*)(ExtPdev* job, const Devmode* devmode, const char* jobName,
                                         DWORD jobId);
using PFN_CmndEndDoc = CommandBool (*)(ExtPdev* job);
using PFN_CmndStartPage = CommandBool (*)(ExtPdev* job, const Devmode* devmode,
                                          const SIZEL* pageSize, const RECTL* pageRect,
                                          DWORD escapeValue);
using PFN_CmndEndPage = CommandBool (*)(ExtPdev* job);
using PFN_CmndSendBand = CommandBool (*)(ExtPdev* job, const BYTE* bits, const BandRecord* band,
                                         const void* items, DWORD itemCount, const BYTE* data,
                                         DWORD dataBytes);
using PFN_CmndExtEscape = CommandBool (*)(ExtPdev* job, DWORD code, DWORD size, const void* data,
                                          DWORD outputSize, void* output);

inline constexpr DWORD kCommandWorkBufferSize = 0xFFFF;
inline constexpr DWORD kEscapeGeometry = 16002;
inline constexpr DWORD kEscapeNewSheet = 16003;
inline constexpr DWORD kEscapePrinterData = 16004;

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
