// The command library's eight exports as the graphics driver calls them, the
// work buffer it lends, and the escapes that carry the driver's records.
#pragma once

#include "platform/types.h"
#include "records/devmode_private.h"

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
