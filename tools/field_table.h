// Records shown as `name: value` lines, by tables of their fields.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "platform/types.h"

enum class FieldType { U8, U16, I16, U32, I32, Hex32, Hex16, Hex8, WideText, AnsiText };

struct Field {
    std::string name;
    std::size_t offset;
    FieldType type;
    std::size_t length = 0;  // characters, for the two text types
};

// The fields of the full 2,222-byte device mode (public names as the
// platform spells them, private ones by the driver's names).
const std::vector<Field>& DevmodeFields();
const std::vector<Field>& GeometryFields();
const std::vector<Field>& GdiInfoFields();
const std::vector<Field>& DevInfoFields();

std::string FormatField(const Field& field, const BYTE* record);
// "name: value\n" for every field, each name after `prefix`.
std::string FormatFields(const std::vector<Field>& fields, const void* record,
                         const std::string& prefix = {});
