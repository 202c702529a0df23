// The printer's settings: the settings block, the user-defined papers, the
// font substitution table, and the device mode built from the configuration
// and merged with an application's.
#pragma once

#include <memory>
#include <vector>

#include "driver/config.h"
#include "records/devmode_private.h"
#include "records/printer_data.h"
#include "platform/types.h"

// One user-defined paper of the printer's "CustomPaper" value (96 bytes each).
#pragma pack(push, 1)
struct CustomPaperRecord {
    WCHAR name[32];
    LONG width;   // 0.1 mm
    LONG length;  // 0.1 mm
    BYTE reserved72[16];
    SHORT code;
    BYTE reserved90[6];
};
#pragma pack(pop)
static_assert(sizeof(CustomPaperRecord) == 96);

struct CustomPaperNode {
    CustomPaperRecord record;
    CustomPaperNode* next;
};
struct CustomPaperList {
    WORD count = 0;
    CustomPaperNode* first = nullptr;
};

// The settings block: "PrinterDataSize" must read exactly 26,102 and
// "PrinterData" is then read; otherwise the defaults built from the
// configuration (when given), else none.
std::unique_ptr<PrinterData> LoadPrinterData(HANDLE printer, const PrinterDataObj* config);
// The default block built from the configuration.
std::unique_ptr<PrinterData> DefaultPrinterData(const PrinterDataObj& config);

// Reads "CustomPaper" into a list whose nodes come from `heap`; an empty
// list when there is none, and on an allocation failure.
void ReadCustomPapers(HANDLE printer, HANDLE heap, CustomPaperList* list);
void FreeCustomPapers(HANDLE heap, CustomPaperList* list);

// The "TTFontSubTable" block (size "TTFontSubTableSize"), from `heap`; null
// when there is none.
BYTE* ReadFontSubstitutions(HANDLE printer, HANDLE heap, DWORD* size);
// The device font number the substitution block gives a face name (compared
// without regard to the case of ASCII letters), or 0. The block is pairs of
// a zero-terminated wide name and a 16-bit number, ended by an empty name;
// nothing outside its `size` bytes is read, and a pair cut off by the end
// counts as the end.
WORD LookupFontSubstitution(const BYTE* table, DWORD size, const WCHAR* faceName);

// The default device mode for the configuration and device name (validated).
void BuildDefaultDevmode(const PrinterDataObj& config, const PrinterData& settings,
                         const CustomPaperList& customPapers, LPCWSTR deviceName,
                         Devmode* result);
// Merges an application's device mode (any size it declares, or none) into
// the default and validates the result. `inputBytes` is how many bytes of
// `input` may be read.
void MergeDevmode(const PrinterDataObj& config, const PrinterData& settings,
                  const CustomPaperList& customPapers, const Devmode& defaults,
                  const BYTE* input, std::size_t inputBytes, Devmode* result);
// Validation of a merged device mode (also run by the two calls above).
void ValidateDevmode(const PrinterDataObj& config, const PrinterData& settings,
                     const CustomPaperList& customPapers, Devmode* devmode);
