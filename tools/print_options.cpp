#include "tools/print_options.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <map>

#include "platform/wide.h"

namespace qlpr {
namespace {

// Public fields the merge of an application's device mode honours only
// with their dmFields bit.
const std::map<std::string, DWORD>& PublicFieldBits() {
    static const std::map<std::string, DWORD> bits = {
        {"dmOrientation", DM_ORIENTATION},
        {"dmPaperSize", DM_PAPERSIZE},
        {"dmPaperLength", DM_PAPERLENGTH},
        {"dmPaperWidth", DM_PAPERWIDTH},
        {"dmScale", DM_SCALE},
        {"dmCopies", DM_COPIES},
        {"dmDefaultSource", DM_DEFAULTSOURCE},
        {"dmPrintQuality", DM_PRINTQUALITY},
        {"dmColor", DM_COLOR},
        {"dmDuplex", DM_DUPLEX},
        {"dmYResolution", DM_YRESOLUTION},
        {"dmTTOption", DM_TTOPTION},
        {"dmCollate", DM_COLLATE},
        {"dmFormName", DM_FORMNAME},
        {"dmLogPixels", DM_LOGPIXELS},
        {"dmBitsPerPel", DM_BITSPERPEL},
        {"dmICMMethod", DM_ICMMETHOD},
        {"dmICMIntent", DM_ICMINTENT},
        {"dmMediaType", DM_MEDIATYPE},
        {"dmDitherType", DM_DITHERTYPE},
    };
    return bits;
}

// Fields that choose the paper; setting one keeps qlpr from choosing it.
bool IsPaperField(const std::string& name) {
    static const char* const kNames[] = {"dmPaperSize", "dmPaperLength",  "dmPaperWidth",
                                         "dmFormName",  "sheetPaperCode", "customWidth",
                                         "customLength"};
    return std::any_of(std::begin(kNames), std::end(kNames),
                       [&](const char* paper) { return name == paper; });
}

struct Range {
    long long lowest;
    long long highest;
};

Range RangeOf(FieldType type) {
    switch (type) {
        case FieldType::U8:
        case FieldType::Hex8:
            return {0, 0xFF};
        case FieldType::U16:
        case FieldType::Hex16:
            return {0, 0xFFFF};
        case FieldType::I16:
            return {-32768, 32767};
        case FieldType::I32:
            return {-2147483648LL, 2147483647LL};
        default:
            return {0, 0xFFFFFFFFLL};
    }
}

std::size_t WidthOf(FieldType type) {
    switch (type) {
        case FieldType::U8:
        case FieldType::Hex8:
            return 1;
        case FieldType::U16:
        case FieldType::I16:
        case FieldType::Hex16:
            return 2;
        default:
            return 4;
    }
}

bool ParseSetting(const std::string& text, FieldSetting* setting, std::string* error) {
    const std::size_t equals = text.find('=');
    if (equals == std::string::npos) {
        *error = "--set needs NAME=VALUE, not " + text;
        return false;
    }
    return ParseFieldSetting(text.substr(0, equals), text.substr(equals + 1), "--set", setting,
                             error);
}

}  // namespace

bool ParseFieldSetting(const std::string& name, const std::string& value, const std::string& where,
                       FieldSetting* setting, std::string* error) {
    const auto& fields = DevmodeFields();
    auto found = std::find_if(fields.begin(), fields.end(),
                              [&](const Field& field) { return field.name == name; });
    if (found == fields.end()) {
        *error = where + ": no device mode field " + name + " (qlpr info lists them)";
        return false;
    }
    setting->field = *found;
    if (auto bit = PublicFieldBits().find(name); bit != PublicFieldBits().end())
        setting->publicBit = bit->second;
    if (found->type == FieldType::WideText) {
        const std::u16string wide = platform::FromUtf8(value);
        if (wide.size() >= found->length) {
            *error = where + " " + name + ": at most " + std::to_string(found->length - 1) +
                     " characters";
            return false;
        }
        setting->bytes.assign(found->length * sizeof(char16_t), 0);
        std::memcpy(setting->bytes.data(), wide.data(), wide.size() * sizeof(char16_t));
        return true;
    }
    if (found->type == FieldType::AnsiText) {
        if (value.size() >= found->length) {
            *error = where + " " + name + ": at most " + std::to_string(found->length - 1) +
                     " characters";
            return false;
        }
        setting->bytes.assign(found->length, 0);
        std::memcpy(setting->bytes.data(), value.data(), value.size());
        return true;
    }
    const Range range = RangeOf(found->type);
    std::optional<long long> number = ParseInteger(value, range.lowest, range.highest);
    if (!number) {
        *error = where + " " + name + ": " + value + " is not a number from " +
                 std::to_string(range.lowest) + " to " + std::to_string(range.highest);
        return false;
    }
    // Little-endian, as the device mode stores its numbers.
    const auto raw = static_cast<unsigned long long>(*number);
    for (std::size_t i = 0; i < WidthOf(found->type); ++i)
        setting->bytes.push_back(static_cast<BYTE>(raw >> (8 * i)));
    return true;
}

namespace {

struct Choice {
    const char* text;
    int value;
};

constexpr Choice kOrientations[] = {{"portrait", 1}, {"landscape", 2}};
constexpr Choice kSkipBlank[] = {{"none", 0}, {"top", 1}, {"bottom", 2}, {"both", 3}};

std::string ChoiceList(const std::vector<Choice>& choices) {
    std::string list;
    for (const Choice& choice : choices)
        list += (list.empty() ? "" : ", ") + std::string(choice.text);
    return list;
}

class ArgumentReader {
  public:
    ArgumentReader(const std::vector<std::string>& args, std::string* error)
        : args_(args), error_(error) {}

    bool More() const { return next_ < args_.size(); }
    const std::string& Next() { return args_[next_++]; }

    bool Value(const std::string& option, std::string* value) {
        if (next_ >= args_.size()) {
            *error_ = option + " needs a value";
            return false;
        }
        *value = args_[next_++];
        return true;
    }
    bool Value(const std::string& option, std::optional<std::string>* value) {
        std::string text;
        if (!Value(option, &text)) return false;
        *value = text;
        return true;
    }
    bool Number(const std::string& option, long long lowest, long long highest,
                std::optional<int>* value) {
        std::string text;
        if (!Value(option, &text)) return false;
        std::optional<long long> number = ParseInteger(text, lowest, highest);
        if (!number) {
            *error_ = option + ": " + text + " is not a number from " + std::to_string(lowest) +
                      " to " + std::to_string(highest);
            return false;
        }
        *value = static_cast<int>(*number);
        return true;
    }
    bool OneOf(const std::string& option, std::vector<int> allowed, std::optional<int>* value) {
        std::string text;
        if (!Value(option, &text)) return false;
        std::optional<long long> number = ParseInteger(text, 0, 0xFFFF);
        if (!number || std::find(allowed.begin(), allowed.end(), *number) == allowed.end()) {
            std::string list;
            for (int choice : allowed) list += (list.empty() ? "" : ", ") + std::to_string(choice);
            *error_ = option + ": " + text + " is not one of " + list;
            return false;
        }
        *value = static_cast<int>(*number);
        return true;
    }
    bool Named(const std::string& option, const std::vector<Choice>& choices,
               std::optional<int>* value) {
        std::string text;
        if (!Value(option, &text)) return false;
        for (const Choice& choice : choices) {
            if (text == choice.text) {
                *value = choice.value;
                return true;
            }
        }
        *error_ = option + ": " + text + " is not one of " + ChoiceList(choices);
        return false;
    }

  private:
    const std::vector<std::string>& args_;
    std::string* error_;
    std::size_t next_ = 0;
};

// One option; false with the error set when it is unknown or its value bad.
bool ParseOption(const std::string& arg, ArgumentReader& in, PrintOptions* o, std::string* error) {
    if (arg == "--help" || arg == "-h") return o->help = true;
    if (arg == "-o" || arg == "--output") return in.Value(arg, &o->output);
    if (arg == "--data") return in.Value(arg, &o->dataFile);
    if (arg == "--preview") return in.Value(arg, &o->preview);
    if (arg == "--fit") return o->fit = true;
    if (arg == "--copies") return in.Number(arg, 1, 999, &o->copies);
    if (arg == "--collate") return o->collate = true;
    if (arg == "--reverse") return o->reverse = true;
    if (arg == "--dualside") return in.OneOf(arg, {1, 2, 3}, &o->dualSide);
    if (arg == "--orientation")
        return in.Named(arg, {std::begin(kOrientations), std::end(kOrientations)}, &o->orientation);
    if (arg == "--rotation") return in.OneOf(arg, {0, 90, 180, 270}, &o->rotation);
    if (arg == "--pages-per-sheet") return in.OneOf(arg, {1, 2, 4}, &o->pagesPerSheet);
    if (arg == "--paper") return in.Number(arg, 1, 32767, &o->paper);
    if (arg == "--bits") return in.OneOf(arg, {1, 8, 24}, &o->bits);
    if (arg == "--dither") return in.OneOf(arg, {5, 257, 258, 260}, &o->dither);
    if (arg == "--colour") return o->colour = true;
    if (arg == "--cut-mask") return in.Number(arg, 0, 0xFF, &o->cutMask);
    if (arg == "--feed-mask") return in.Number(arg, 0, 0xFF, &o->feedMask);
    if (arg == "--drawer1-mask") return in.Number(arg, 0, 0xFFFF, &o->drawer1Mask);
    if (arg == "--drawer2-mask") return in.Number(arg, 0, 0xFFFF, &o->drawer2Mask);
    if (arg == "--skip-blank")
        return in.Named(arg, {std::begin(kSkipBlank), std::end(kSkipBlank)}, &o->skipBlank);
    if (arg == "--bitmap-output") return o->bitmapOutput = true;
    if (arg == "--own-rendering") return o->ownRendering = true;
    if (arg == "--set") {
        std::string text;
        FieldSetting setting;
        if (!in.Value(arg, &text) || !ParseSetting(text, &setting, error)) return false;
        o->settings.push_back(std::move(setting));
        return true;
    }
    *error = "unknown option " + arg + " (see qlpr print --help)";
    return false;
}

}  // namespace

bool PrintOptions::PaperChosen() const {
    return paper.has_value() || ChoosesPaper(settings);
}

bool ChoosesPaper(const std::vector<FieldSetting>& settings) {
    return std::any_of(settings.begin(), settings.end(), [](const FieldSetting& setting) {
        return IsPaperField(setting.field.name);
    });
}

std::optional<long long> ParseInteger(const std::string& text, long long lowest,
                                      long long highest) {
    const char* begin = text.data();
    const char* end = begin + text.size();
    bool negative = false;
    if (begin != end && *begin == '-') negative = true, ++begin;
    int base = 10;
    if (end - begin > 2 && begin[0] == '0' && (begin[1] == 'x' || begin[1] == 'X'))
        base = 16, begin += 2;
    unsigned long long magnitude = 0;
    auto [stop, failure] = std::from_chars(begin, end, magnitude, base);
    if (begin == end || failure != std::errc() || stop != end || magnitude > (1ULL << 62))
        return std::nullopt;
    const long long value =
        negative ? -static_cast<long long>(magnitude) : static_cast<long long>(magnitude);
    if (value < lowest || value > highest) return std::nullopt;
    return value;
}

std::optional<PrintOptions> ParsePrintOptions(const std::vector<std::string>& args,
                                              std::string* error) {
    PrintOptions options;
    ArgumentReader in(args, error);
    bool onlyInputs = false;
    while (in.More()) {
        const std::string& arg = in.Next();
        if (onlyInputs || arg == "-" || arg.empty() || arg[0] != '-') {
            options.inputs.push_back(arg);
        } else if (arg == "--") {
            onlyInputs = true;
        } else if (!ParseOption(arg, in, &options, error)) {
            return std::nullopt;
        }
        if (options.help) return options;
    }
    if (options.inputs.empty()) {
        *error = "print needs at least one image or page description (see qlpr print --help)";
        return std::nullopt;
    }
    if (std::count(options.inputs.begin(), options.inputs.end(), "-") > 1) {
        *error = "standard input (-) can be read only once";
        return std::nullopt;
    }
    return options;
}

void ApplyPrintOptions(const PrintOptions& o, Devmode* devmode) {
    DEVMODEW& pub = devmode->pub;
    PrivateDevmode& priv = devmode->priv;
    // Without --collate copies come uncollated, whatever the printer's default.
    if (o.copies || o.collate) {
        pub.dmCollate = o.collate ? 1 : 0;
        pub.dmFields |= DM_COLLATE;
    }
    if (o.copies) {
        pub.dmCopies = static_cast<short>(*o.copies);
        pub.dmFields |= DM_COPIES;
    }
    if (o.orientation) {
        pub.dmOrientation = static_cast<short>(*o.orientation);
        pub.dmFields |= DM_ORIENTATION;
    }
    if (o.paper) {
        pub.dmPaperSize = static_cast<short>(*o.paper);
        pub.dmFields |= DM_PAPERSIZE;
    }
    if (o.bits) {
        pub.dmBitsPerPel = static_cast<DWORD>(*o.bits);
        pub.dmFields |= DM_BITSPERPEL;
    }
    if (o.dither) {
        pub.dmDitherType = static_cast<DWORD>(*o.dither);
        pub.dmFields |= DM_DITHERTYPE;
    }
    if (o.reverse) priv.layoutFlags |= kLayoutReverseOrder;
    if (o.dualSide) priv.dualSide = static_cast<WORD>(*o.dualSide);
    if (o.rotation) priv.rotation = static_cast<SHORT>(*o.rotation);
    if (o.pagesPerSheet) priv.pagesPerSheet = static_cast<WORD>(*o.pagesPerSheet);
    if (o.colour) priv.colourMode = 3;
    // The driver derives the cut and feed masks from the paper source, except
    // for the custom source 700, which takes them from the device mode. So a
    // mask given here selects that source; its feeds then come from the
    // device mode's feed lengths (feedLength1..8, 0 unless --set).
    if (o.cutMask || o.feedMask) {
        pub.dmDefaultSource = 700;
        pub.dmFields |= DM_DEFAULTSOURCE;
        if (o.cutMask) priv.cutMask = priv.customCutMask = static_cast<BYTE>(*o.cutMask);
        if (o.feedMask) priv.feedMask = priv.customFeedMask = static_cast<BYTE>(*o.feedMask);
    }
    if (o.drawer1Mask) priv.drawer1Mask = static_cast<WORD>(*o.drawer1Mask);
    if (o.drawer2Mask) priv.drawer2Mask = static_cast<WORD>(*o.drawer2Mask);
    if (o.skipBlank) priv.blankSkipping = static_cast<WORD>(*o.skipBlank);
    if (o.bitmapOutput) priv.optionFlags |= kOptionBgrOrBitmapOutput;
    if (o.ownRendering) priv.optionFlags |= kOptionOwnRendering;
    ApplyFieldSettings(o.settings, devmode);
}

void ApplyFieldSettings(const std::vector<FieldSetting>& settings, Devmode* devmode) {
    for (const FieldSetting& setting : settings) {
        if (setting.field.offset + setting.bytes.size() > sizeof(Devmode)) continue;
        std::memcpy(reinterpret_cast<BYTE*>(devmode) + setting.field.offset, setting.bytes.data(),
                    setting.bytes.size());
        devmode->pub.dmFields |= setting.publicBit;
    }
}

}  // namespace qlpr
