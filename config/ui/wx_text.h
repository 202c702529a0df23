// Texts between the tool's logic (UTF-16) and wxWidgets.
#pragma once

// Before wxWidgets, which defines TRUE and FALSE as macros of its own.
#include <wx/string.h>

#include <string>
#include <string_view>

#include "platform/types.h"
#include "platform/wide.h"

namespace config {

inline wxString ToWx(std::u16string_view text) {
    return wxString::FromUTF8(platform::ToUtf8(text));
}

inline std::u16string FromWx(const wxString& text) {
    return platform::FromUtf8(std::string(text.utf8_str()));
}

}  // namespace config
