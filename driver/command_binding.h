// The driver's binding of the printer command library: its module, its eight
// exports, the job handle and the 65,535-byte work buffer lent to it.
#pragma once

#include "driver/devmode_private.h"
#include "platform/types.h"

struct ExtPdev;  // the command library's job record; its address is the job handle
struct BandRecord;

using CommandBool = WORD;  // the command library's 16-bit boolean results

using PFN_CmndEnableExtPDEV = ExtPdev* (*)(const Devmode* devmode, HANDLE printer, BYTE* buffer);
using PFN_CmndDisableExtPDEV = CommandBool (*)(ExtPdev* job);
using PFN_CmndStartDoc = CommandBool (*)(ExtPdev* job, const Devmode* devmode,
                                         const char* jobName, DWORD jobId);
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

// Sends an escape to the bound library's job; nothing happens (and 0 is
// returned) while nothing is bound or no job exists.
CommandBool CallCommandEscape(CommandBinding* binding, DWORD code, DWORD size, const void* data);
