// Spool output: the one output buffer every byte passes through, its
// delivery to the spooler or to a page file, and the page files that hold
// pages for copies, collation, reverse order and two-sided pairs until they
// are replayed.
#pragma once

#include <string>

#include "command/ext_pdev.h"

inline constexpr DWORD kPageFileHeader = 2228;  // the device mode, then 6 zero bytes
inline constexpr DWORD kPassThroughAbove = 16383;

// Takes `count` bytes into the buffer, flushing when it is full; a large
// write passes through in chunks of up to 65,535 bytes. 0 when refused.
BOOL WriteOut(ExtPdev* pdev, const void* bytes, DWORD count);
// Hands the buffer to the spooler (a failure marks the output failed) or
// writes it to the page file (a failure is only reported), then empties it.
BOOL FlushOut(ExtPdev* pdev);
// Formats at most 256 bytes (printf conventions; "%c" gives exactly one
// byte, 0 included) and writes them through WriteOut.
BOOL WriteFormat(ExtPdev* pdev, const char* format, ...) __attribute__((format(printf, 2, 3)));

// "<job folder><job id><page>.tmp", both numbers as at least four
// upper-case hexadecimal digits; empty while the record has no job folder.
std::string PageFileName(const ExtPdev& pdev, LONG page);
// Replays one stored page `times` times from one read-only mapping: the
// stored device mode becomes the record's, then per time the page start
// group, the stored commands, the page end group and a flush. A file that
// cannot be opened or mapped, or is shorter than its header, is skipped, as
// is an empty name.
void ReplayPage(ExtPdev* pdev, const char* name, int times = 1);

// Sheet rules: page k in the first sheet, page k of n in the last sheet.
bool InFirstSheet(const ExtPdev& pdev, LONG k);
bool InLastSheet(const ExtPdev& pdev, LONG k, LONG n);
// Conditions on the record's current device mode and copies.
bool FilesNeeded(const ExtPdev& pdev);
bool HoldToEnd(const ExtPdev& pdev);
bool KeepFiles(const ExtPdev& pdev);

// The page operations of CommandTable.
BOOL CommandStartPage(ExtPdev* pdev);
BOOL CommandEndPage(ExtPdev* pdev);
BOOL CommandEndDoc(ExtPdev* pdev);
// Closes the open page file and replays it when the job asks for it now.
void FinishPage(ExtPdev* pdev);
// A record going away before its document ended: closes the open page file
// and removes the job's folder with the files of the pages started so far.
void DiscardPageFiles(ExtPdev* pdev);
