// Any bytes as the arguments of "qlpr print", one after another with a NUL
// byte between them. Options that parse are written into a device mode as
// qlpr writes them. Every --set value that parses is shown the way qlpr
// info shows the field, and that text given to --set gives the same bytes
// again. (Code-page text fields, the user commands' hex digits, are stored
// as given but shown decoded from code page 1252, so they are left out.)
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tools/field_table.h"
#include "tools/print_options.h"

namespace {

std::vector<std::string> Arguments(std::string_view text) {
    std::vector<std::string> args;
    if (text.empty()) return args;
    for (;;) {
        const std::size_t end = text.find('\0');
        args.emplace_back(text.substr(0, end));
        if (end == std::string_view::npos) return args;
        text.remove_prefix(end + 1);
    }
}

void CheckShownAgain(const qlpr::FieldSetting& setting, const Devmode& devmode) {
    const Field& field = setting.field;
    if (field.type == FieldType::AnsiText) return;
    const std::string shown = FormatField(field, reinterpret_cast<const BYTE*>(&devmode));
    qlpr::FieldSetting again;
    std::string error;
    if (!qlpr::ParseFieldSetting(field.name, shown, "--set", &again, &error) ||
        again.bytes != setting.bytes)
        std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::vector<std::string> args =
        Arguments(std::string_view(reinterpret_cast<const char*>(data), size));
    std::string error;
    const std::optional<qlpr::PrintOptions> options = qlpr::ParsePrintOptions(args, &error);
    if (!options) {
        if (error.empty()) std::abort();  // a refusal says why
        return 0;
    }
    Devmode devmode{};
    qlpr::ApplyPrintOptions(*options, &devmode);
    for (const qlpr::FieldSetting& setting : options->settings) {
        Devmode one{};
        qlpr::ApplyFieldSettings({setting}, &one);
        CheckShownAgain(setting, one);
    }
    return 0;
}
