// The spooler, stood in for by printer folders under PrintersRoot(). A printer
// NAME is the folder <printers>/NAME, itself a key of the registry store's
// format: its values "DriverPath", "DataFile" and "Output" (REG_SZ) describe
// the printer, and its subkey "PrinterDriverData" holds the printer data
// values that GetPrinterDataW reads.
// A printer name is escaped like a registry name but keeps its case, so
// printer names compare exactly. Printer handles close through ClosePrinter
// only (CloseHandle refuses them).
#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "platform/devmode.h"
#include "platform/types.h"

struct PRINTER_DEFAULTSW {
    LPWSTR pDatatype;
    DEVMODEW* pDevMode;
    DWORD DesiredAccess;
};

struct DRIVER_INFO_2W {
    DWORD cVersion;
    LPWSTR pName;
    LPWSTR pEnvironment;
    LPWSTR pDriverPath;
    LPWSTR pDataFile;
    LPWSTR pConfigFile;
};

struct PRINTER_INFO_2W {
    LPWSTR pServerName;
    LPWSTR pPrinterName;
    LPWSTR pShareName;
    LPWSTR pPortName;
    LPWSTR pDriverName;
    LPWSTR pComment;
    LPWSTR pLocation;
    DEVMODEW* pDevMode;
    LPWSTR pSepFile;
    LPWSTR pPrintProcessor;
    LPWSTR pDatatype;
    LPWSTR pParameters;
    void* pSecurityDescriptor;
    DWORD Attributes;
    DWORD Priority;
    DWORD DefaultPriority;
    DWORD StartTime;
    DWORD UntilTime;
    DWORD Status;
    DWORD cJobs;
    DWORD AveragePPM;
};

extern "C" {
// Opens the printer folder NAME; FALSE with ERROR_INVALID_PRINTER_NAME when
// there is none.
QLPR_EXPORT BOOL WINAPI OpenPrinterW(LPCWSTR printerName, HANDLE* printer,
                                     PRINTER_DEFAULTSW* defaults);
QLPR_EXPORT BOOL WINAPI ClosePrinter(HANDLE printer);
// Level 2 only (else ERROR_INVALID_LEVEL). The strings follow the record in
// the caller's buffer. A buffer smaller than `needed`: FALSE with
// ERROR_INSUFFICIENT_BUFFER, nothing written. The record: cVersion 3, pName
// "QLPR Receipt Driver", pEnvironment "Linux", pDriverPath and pDataFile
// from the printer folder, pConfigFile "QLPRUI.DLL" in the driver's folder.
// The environment argument is not looked at. A printer without DriverPath:
// ERROR_UNKNOWN_PRINTER_DRIVER.
QLPR_EXPORT BOOL WINAPI GetPrinterDriverW(HANDLE printer, LPWSTR environment, DWORD level,
                                          BYTE* buffer, DWORD size, DWORD* needed);
// Level 2 only, as GetPrinterDriverW; pDevMode is null (no stored device mode).
// pPrinterName is the name, pPortName the output, pDriverName the driver's
// name, pServerName null, the other strings empty.
QLPR_EXPORT BOOL WINAPI GetPrinterW(HANDLE printer, DWORD level, BYTE* buffer, DWORD size,
                                    DWORD* needed);
// Returns ERROR_SUCCESS, ERROR_FILE_NOT_FOUND for a missing value, or
// ERROR_MORE_DATA (nothing copied) when `size` is below the value's size;
// `needed` always receives the value's size when the value exists.
QLPR_EXPORT DWORD WINAPI GetPrinterDataW(HANDLE printer, LPCWSTR valueName, DWORD* type, BYTE* data,
                                         DWORD size, DWORD* needed);
QLPR_EXPORT DWORD WINAPI SetPrinterDataW(HANDLE printer, LPCWSTR valueName, DWORD type,
                                         const BYTE* data, DWORD size);
QLPR_EXPORT DWORD WINAPI DeletePrinterDataW(HANDLE printer, LPCWSTR valueName);

// A job of the printer: StartDocPrinterW opens the printer's job output
// ("Output": a file, which is truncated, a device node, a FIFO or a socket,
// written in place as OpenOutputInPlace opens them, or "-" for standard
// output), or the document's pOutputFile when it names one (printing to a
// file, the printer's output unchanged); WritePrinter appends to it,
// EndDocPrinter closes it. Only level 1 is taken; the job id returned is
// positive and differs from those of the other processes printing at the
// time. WritePrinter without a started job fails with
// ERROR_SPL_NO_STARTDOC; a write that cannot be completed fails with the
// system's error and *written tells how much went out.
QLPR_EXPORT DWORD WINAPI StartDocPrinterW(HANDLE printer, DWORD level, BYTE* docInfo);
QLPR_EXPORT BOOL WINAPI WritePrinter(HANDLE printer, const void* bytes, DWORD count,
                                     DWORD* written);
QLPR_EXPORT BOOL WINAPI EndDocPrinter(HANDLE printer);

// The spooler runs the driver's file work as itself, not as the user who
// printed. Here jobs run as the user who started them, so both calls change
// no identity: RevertToPrinterSelf returns a non-null token standing for the
// current identity, ImpersonatePrinterClient takes it back (and releases it)
// and succeeds.
QLPR_EXPORT HANDLE WINAPI RevertToPrinterSelf();
QLPR_EXPORT BOOL WINAPI ImpersonatePrinterClient(HANDLE token);
}

struct DOC_INFO_1W {
    LPWSTR pDocName;
    LPWSTR pOutputFile;
    LPWSTR pDatatype;
};

namespace platform {

// What a printer folder records: the driver library, its data file and the
// job output (a file, a device node or "-" for standard output).
struct PrinterSetup {
    std::filesystem::path driverPath;
    std::filesystem::path dataFile;
    std::string output;
};

// Creates or updates the printer folder NAME (the administrator's side of
// the spooler, used by qlpr and by tests).
QLPR_EXPORT bool InstallPrinter(const std::u16string& name, const PrinterSetup& setup);
// Nothing when there is no such printer or it has no DriverPath; a missing
// DataFile or Output reads as empty.
QLPR_EXPORT std::optional<PrinterSetup> ReadPrinterSetup(const std::u16string& name);
// Folder of the printer NAME (empty for an empty name).
QLPR_EXPORT std::filesystem::path PrinterFolder(const std::u16string& name);

// Opens an output that is written where it stands, never created, replaced
// or truncated: a device node (a printer port, a terminal) is opened, a
// socket is connected to, a FIFO is opened once a reader has it open. With
// `waiting`, a FIFO without a reader is announced through it before the
// open waits for one (as a shell's redirection waits); without, the open
// just waits. -1 with errno set on failure. Job outputs that exist as
// such nodes are opened this way.
QLPR_EXPORT int OpenOutputInPlace(const std::string& path, void (*waiting)(const char* path));

}  // namespace platform
