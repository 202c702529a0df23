#include "driver/companion.h"

#include "platform/wide.h"

std::u16string CompanionLibraryName(const WCHAR* moduleFileName, const char16_t* suffix) {
    std::u16string_view name(moduleFileName, platform::WideLengthBounded(moduleFileName, 260));
    std::size_t separator = name.find_last_of(u"\\/");
    std::size_t keep = separator == std::u16string_view::npos ? 0 : separator + 1;
    keep += 4;
    std::u16string result(name.substr(0, keep < name.size() ? keep : name.size()));
    result += suffix;
    return result;
}
