// The options of qlpr print and the device mode they make.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "records/devmode_private.h"
#include "tools/field_table.h"

namespace qlpr {

// One --set NAME=VALUE, checked against the field's type.
struct FieldSetting {
    Field field;
    std::vector<BYTE> bytes;  // the field's new bytes, as stored
    DWORD publicBit = 0;      // the dmFields bit of a public field, if it has one
};

struct PrintOptions {
    std::vector<std::string> inputs;
    std::optional<std::string> output;  // "-": standard output
    std::optional<std::string> dataFile;
    std::optional<std::string> preview;
    bool fit = false;
    bool help = false;

    std::optional<int> copies;
    bool collate = false;
    bool reverse = false;
    std::optional<int> dualSide;
    std::optional<int> orientation;  // 1 portrait, 2 landscape
    std::optional<int> rotation;
    std::optional<int> pagesPerSheet;
    std::optional<int> paper;
    std::optional<int> bits;
    std::optional<int> dither;
    bool colour = false;
    std::optional<int> cutMask;
    std::optional<int> feedMask;
    std::optional<int> drawer1Mask;
    std::optional<int> drawer2Mask;
    std::optional<int> skipBlank;
    bool bitmapOutput = false;
    bool ownRendering = false;
    std::vector<FieldSetting> settings;

    // Whether the paper was chosen by an option (else qlpr may lengthen it).
    bool PaperChosen() const;
};

// Parses the arguments after "print". None with `error` set (one line).
std::optional<PrintOptions> ParsePrintOptions(const std::vector<std::string>& args,
                                              std::string* error);

// Writes the options into a device mode: public fields with their dmFields
// bits, private fields in place; the --set fields last, in their order.
void ApplyPrintOptions(const PrintOptions& options, Devmode* devmode);
// Whether any of the settings chooses the paper.
bool ChoosesPaper(const std::vector<FieldSetting>& settings);
// Writes field settings into a device mode, in their order.
void ApplyFieldSettings(const std::vector<FieldSetting>& settings, Devmode* devmode);

// One device mode field by the name qlpr info shows, checked against its
// type; errors start with `where` ("--set", "settings").
bool ParseFieldSetting(const std::string& name, const std::string& value, const std::string& where,
                       FieldSetting* setting, std::string* error);

// A decimal or 0x-hexadecimal integer within [lowest, highest].
std::optional<long long> ParseInteger(const std::string& text, long long lowest, long long highest);

}  // namespace qlpr
