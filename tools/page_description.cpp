#include "tools/page_description.h"

#include <algorithm>
#include <nlohmann/json.hpp>
#include <set>
#include <span>

#include "platform/wide.h"
#include "tools/file_io.h"

namespace qlpr {
namespace {

using nlohmann::json;

constexpr ULONG kBlackColour = 0x000000;

// Far beyond any hand-written page; a larger file is not a description.
constexpr std::uintmax_t kMaxDescriptionBytes = std::uintmax_t{16} << 20;

// The pixels of all images of a page together stay within the limit of one.
constexpr std::size_t kMaxPageImageBytes = kMaxImageBytes;

struct ItemReader {
    const json& item;
    std::string where;  // "item N"
    std::string* error;

    bool Fail(const std::string& message) const {
        *error = where + ": " + message;
        return false;
    }
    bool Keys(const std::set<std::string>& allowed) const {
        for (const auto& [key, value] : item.items())
            if (allowed.count(key) == 0) return Fail("unknown key \"" + key + "\"");
        return true;
    }
    // A whole number within [lowest, kMaxCoordinate]; `fallback` when absent
    // and optional (none: required).
    bool Number(const char* key, long lowest, std::optional<long> fallback, long* out) const {
        auto found = item.find(key);
        if (found == item.end()) {
            if (!fallback) return Fail("\"" + std::string(key) + "\" is missing");
            *out = *fallback;
            return true;
        }
        if (!found->is_number_integer())
            return Fail("\"" + std::string(key) + "\" must be a whole number");
        // Beyond a long long a number reads back wrapped; none is in range.
        const bool huge =
            found->is_number_unsigned() &&
            found->get<unsigned long long>() > static_cast<unsigned long long>(kMaxCoordinate);
        const auto value = huge ? kMaxCoordinate + 1LL : found->get<long long>();
        if (value < lowest || value > kMaxCoordinate)
            return Fail("\"" + std::string(key) + "\" must be within " + std::to_string(lowest) +
                        " to " + std::to_string(kMaxCoordinate));
        *out = static_cast<long>(value);
        return true;
    }
    bool Colour(ULONG* out) const {
        std::optional<ULONG> colour;
        if (!OptionalColour("colour", &colour)) return false;
        *out = colour.value_or(kBlackColour);
        return true;
    }
    // A colour #RRGGBB under `key`, when given.
    bool OptionalColour(const char* key, std::optional<ULONG>* out) const {
        auto found = item.find(key);
        if (found == item.end()) return true;
        const std::string bad = "\"" + std::string(key) + "\" must be a string #RRGGBB";
        if (!found->is_string()) return Fail(bad);
        const std::string text = found->get<std::string>();
        if (text.size() != 7 || text[0] != '#' ||
            text.find_first_not_of("0123456789abcdefABCDEF", 1) != std::string::npos)
            return Fail(bad);
        const ULONG rgb = std::stoul(text.substr(1), nullptr, 16);
        // The engine takes 0x00BBGGRR.
        *out = (rgb & 0xFF) << 16 | (rgb & 0xFF00) | (rgb >> 16 & 0xFF);
        return true;
    }
    // One of `names` under `key` (its index), when given.
    bool OptionalChoice(const char* key, std::span<const char* const> names,
                        std::optional<ULONG>* out) const {
        auto found = item.find(key);
        if (found == item.end()) return true;
        std::string list;
        for (std::size_t i = 0; i < names.size(); ++i) {
            if (found->is_string() && *found == names[i]) {
                *out = static_cast<ULONG>(i);
                return true;
            }
            list += (i == 0                  ? "\""
                     : i + 1 == names.size() ? " or \""
                                             : ", \"") +
                    std::string(names[i]) + "\"";
        }
        return Fail("\"" + std::string(key) + "\" must be " + list);
    }
    // true or false under `key`, when given.
    bool Flag(const char* key, bool* out) const {
        auto found = item.find(key);
        if (found == item.end()) return true;
        if (!found->is_boolean()) return Fail("\"" + std::string(key) + "\" must be true or false");
        *out = found->get<bool>();
        return true;
    }
    // A string under `key` (required).
    bool Text(const char* key, std::string* out) const {
        auto found = item.find(key);
        if (found == item.end()) return Fail("\"" + std::string(key) + "\" is missing");
        if (!found->is_string()) return Fail("\"" + std::string(key) + "\" must be a string");
        *out = found->get<std::string>();
        return true;
    }
    // A list of [x, y] under `key`, `fewest` to kMaxPathPoints of them.
    bool Points(const char* key, std::size_t fewest, std::vector<POINTL>* out) const {
        auto found = item.find(key);
        if (found == item.end()) return Fail("\"" + std::string(key) + "\" is missing");
        const std::string bad = "\"" + std::string(key) + "\" must be a list of " +
                                std::to_string(fewest) + " to " + std::to_string(kMaxPathPoints) +
                                " points [x, y]";
        if (!found->is_array() || found->size() < fewest || found->size() > kMaxPathPoints)
            return Fail(bad);
        out->reserve(found->size());
        for (const json& point : *found) {
            if (!point.is_array() || point.size() != 2) return Fail(bad);
            long x = 0, y = 0;
            if (!Coordinate(point[0], &x) || !Coordinate(point[1], &y))
                return Fail("\"" + std::string(key) + "\" holds a point that is not two whole " +
                            "numbers within " + std::to_string(-kMaxCoordinate) + " to " +
                            std::to_string(kMaxCoordinate));
            out->push_back({static_cast<LONG>(x), static_cast<LONG>(y)});
        }
        return true;
    }
    // A list of 1 to kMaxDashes dot lengths, each at least 1, when given.
    bool Dash(std::vector<LONG>* out) const {
        auto found = item.find("dash");
        if (found == item.end()) return true;
        const std::string bad = "\"dash\" must be a list of 1 to " + std::to_string(kMaxDashes) +
                                " lengths within 1 to " + std::to_string(kMaxCoordinate);
        if (!found->is_array() || found->empty() || found->size() > kMaxDashes) return Fail(bad);
        for (const json& length : *found) {
            long value = 0;
            if (!Coordinate(length, &value) || value < 1) return Fail(bad);
            out->push_back(static_cast<LONG>(value));
        }
        return true;
    }

  private:
    static bool Coordinate(const json& value, long* out) {
        if (!value.is_number_integer()) return false;
        if (value.is_number_unsigned() &&
            value.get<unsigned long long>() > static_cast<unsigned long long>(kMaxCoordinate))
            return false;
        const long long number = value.get<long long>();
        if (number < -kMaxCoordinate || number > kMaxCoordinate) return false;
        *out = static_cast<long>(number);
        return true;
    }
};

RECTL Rect(long x, long y, long width, long height) {
    return {static_cast<LONG>(x), static_cast<LONG>(y), static_cast<LONG>(x + width),
            static_cast<LONG>(y + height)};
}

long ScaledSide(long side, long otherTarget, long otherSide) {
    const long long scaled =
        (static_cast<long long>(side) * otherTarget + otherSide / 2) / otherSide;
    return static_cast<long>(std::clamp<long long>(scaled, 1, kMaxCoordinate));
}

// Indexed by hatch style (HS_HORIZONTAL .. HS_DIAGCROSS).
constexpr const char* kHatchNames[] = {"horizontal",  "vertical", "diagonal-down",
                                       "diagonal-up", "cross",    "diagonal-cross"};
constexpr const char* kRuleNames[] = {"even-odd", "winding"};

// An outline's colour and width: the width only with a colour.
bool ReadOutline(const ItemReader& reader, std::optional<ULONG>* colour, long* width) {
    if (!reader.OptionalColour("outline", colour) || !reader.Number("outlineWidth", 1, 1, width))
        return false;
    if (!*colour && reader.item.contains("outlineWidth"))
        return reader.Fail("\"outlineWidth\" needs an \"outline\"");
    if (*width > kMaxPenWidth)
        return reader.Fail("\"outlineWidth\" must be within 1 to " + std::to_string(kMaxPenWidth));
    return true;
}

// The rows a path reaches below its lowest point: half its pen, or none
// for a fill (which ends at the point).
LONG PenBelow(LONG width) {
    return (width + 1) / 2;
}

void AddPath(host::PagePath path, PageContent* content) {
    LONG lowest = path.points.front().y;
    for (const POINTL& p : path.points) lowest = std::max(lowest, p.y);
    const LONG below = path.pen ? PenBelow(path.pen->width) : 0;
    content->bottom = std::max<LONG>(content->bottom, lowest + below);
    content->page.items.push_back(std::move(path));
}

bool AddRectangle(const ItemReader& reader, PageContent* content) {
    if (!reader.Keys(
            {"type", "x", "y", "width", "height", "colour", "outline", "outlineWidth", "pattern"}))
        return false;
    long x = 0, y = 0, width = 0, height = 0, outlineWidth = 1;
    ULONG colour = 0;
    std::optional<ULONG> outline, hatch;
    if (!reader.Number("x", -kMaxCoordinate, std::nullopt, &x) ||
        !reader.Number("y", -kMaxCoordinate, std::nullopt, &y) ||
        !reader.Number("width", 1, std::nullopt, &width) ||
        !reader.Number("height", 1, std::nullopt, &height) || !reader.Colour(&colour) ||
        !ReadOutline(reader, &outline, &outlineWidth) ||
        !reader.OptionalChoice("pattern", kHatchNames, &hatch))
        return false;
    host::PageRectangle rectangle{Rect(x, y, width, height), colour};
    // Outlined boxes are filled only when given a colour or a pattern.
    rectangle.filled = !outline || reader.item.contains("colour") || hatch;
    rectangle.hatch = hatch;
    rectangle.outline = outline;
    rectangle.outlineWidth = static_cast<LONG>(outlineWidth);
    content->page.items.push_back(rectangle);
    content->bottom = std::max<LONG>(content->bottom, static_cast<LONG>(y + height));
    return true;
}

// The pen of a line or polyline: "colour", "width", "dash".
bool ReadPen(const ItemReader& reader, host::PagePen* pen) {
    long width = 1;
    if (!reader.Colour(&pen->colour) || !reader.Number("width", 1, 1, &width) ||
        !reader.Dash(&pen->dash))
        return false;
    if (width > kMaxPenWidth)
        return reader.Fail("\"width\" must be within 1 to " + std::to_string(kMaxPenWidth));
    pen->width = static_cast<LONG>(width);
    return true;
}

// A dashed path the print job could not cut into a sane number of pieces.
bool CheckDashes(const ItemReader& reader, const host::PagePath& path) {
    if (host::DashPieceBound(path) <= host::kMaxDashPieces) return true;
    return reader.Fail("\"dash\" cuts the path into more than " +
                       std::to_string(host::kMaxDashPieces) + " pieces");
}

bool AddLine(const ItemReader& reader, PageContent* content) {
    if (!reader.Keys({"type", "x1", "y1", "x2", "y2", "width", "colour", "dash"})) return false;
    long x1 = 0, y1 = 0, x2 = 0, y2 = 0;
    host::PagePen pen;
    if (!reader.Number("x1", -kMaxCoordinate, std::nullopt, &x1) ||
        !reader.Number("y1", -kMaxCoordinate, std::nullopt, &y1) ||
        !reader.Number("x2", -kMaxCoordinate, std::nullopt, &x2) ||
        !reader.Number("y2", -kMaxCoordinate, std::nullopt, &y2) || !ReadPen(reader, &pen))
        return false;
    host::PagePath path{{{static_cast<LONG>(x1), static_cast<LONG>(y1)},
                         {static_cast<LONG>(x2), static_cast<LONG>(y2)}},
                        false,
                        std::move(pen)};
    if (!CheckDashes(reader, path)) return false;
    AddPath(std::move(path), content);
    return true;
}

bool AddPolyline(const ItemReader& reader, PageContent* content) {
    if (!reader.Keys({"type", "points", "width", "colour", "dash"})) return false;
    host::PagePath path;
    host::PagePen pen;
    if (!reader.Points("points", 2, &path.points) || !ReadPen(reader, &pen)) return false;
    path.pen = std::move(pen);
    if (!CheckDashes(reader, path)) return false;
    AddPath(std::move(path), content);
    return true;
}

bool AddPolygon(const ItemReader& reader, PageContent* content) {
    if (!reader.Keys({"type", "points", "fill", "outline", "outlineWidth", "rule"})) return false;
    host::PagePath path;
    path.closed = true;
    std::optional<ULONG> fill, outline, rule;
    long outlineWidth = 1;
    if (!reader.Points("points", 3, &path.points) || !reader.OptionalColour("fill", &fill) ||
        !ReadOutline(reader, &outline, &outlineWidth) ||
        !reader.OptionalChoice("rule", kRuleNames, &rule))
        return false;
    // With neither a fill nor an outline a polygon is filled black.
    if (fill || !outline) path.fill = host::PageFill{fill.value_or(kBlackColour), {}, rule == 1U};
    if (outline) path.pen = host::PagePen{*outline, static_cast<LONG>(outlineWidth), {}};
    AddPath(std::move(path), content);
    return true;
}

constexpr const char* kAlignNames[] = {"left", "right", "centre"};

// A device face's cell is not known before the driver publishes it; the
// page counts this many rows for text without a size (a double-height
// printer font and its line gap).
constexpr long kUnsizedTextRows = 72;
// Far beyond a receipt's line; the driver's text buffer holds 65,536 bytes a band.
constexpr std::size_t kMaxTextCharacters = 65536;
constexpr long kMaxTextSize = 4096;

bool AddText(const ItemReader& reader, PageContent* content) {
    if (!reader.Keys({"type", "x", "y", "text", "font", "size", "bold", "italic", "underline",
                      "strikeout", "align", "colour"}))
        return false;
    host::PageText text;
    long x = 0, y = 0, size = 0;
    std::optional<ULONG> align;
    if (!reader.Number("x", -kMaxCoordinate, std::nullopt, &x) ||
        !reader.Number("y", -kMaxCoordinate, std::nullopt, &y) ||
        !reader.Number("size", 1, 0, &size) || !reader.Colour(&text.colour) ||
        !reader.OptionalChoice("align", kAlignNames, &align) || !reader.Flag("bold", &text.bold) ||
        !reader.Flag("italic", &text.italic) || !reader.Flag("underline", &text.underline) ||
        !reader.Flag("strikeout", &text.strikeout))
        return false;
    if (size > kMaxTextSize)
        return reader.Fail("\"size\" must be within 1 to " + std::to_string(kMaxTextSize));
    std::string characters, face;
    if (!reader.Text("text", &characters) || !reader.Text("font", &face)) return false;
    if (face.empty()) return reader.Fail("\"font\" must name a face");
    text.text = platform::FromUtf8(characters);
    if (text.text.size() > kMaxTextCharacters)
        return reader.Fail("\"text\" holds more than " + std::to_string(kMaxTextCharacters) +
                           " characters");
    text.face = platform::FromUtf8(face);
    text.position = {static_cast<LONG>(x), static_cast<LONG>(y)};
    if (size > 0) text.size = static_cast<LONG>(size);
    text.align = static_cast<host::PageText::Align>(align.value_or(0));
    content->bottom = std::max<LONG>(content->bottom,
                                     static_cast<LONG>(y + (size > 0 ? size : kUnsizedTextRows)));
    content->page.items.push_back(std::move(text));
    return true;
}

bool AddImage(const ItemReader& reader, const std::filesystem::path& folder,
              std::size_t* imageBytes, PageContent* content) {
    if (!reader.Keys({"type", "file", "x", "y", "width", "height"})) return false;
    auto file = reader.item.find("file");
    if (file == reader.item.end()) return reader.Fail("\"file\" is missing");
    if (!file->is_string() || file->get<std::string>().empty())
        return reader.Fail("\"file\" must be a file name");
    long x = 0, y = 0, width = 0, height = 0;
    if (!reader.Number("x", -kMaxCoordinate, 0, &x) ||
        !reader.Number("y", -kMaxCoordinate, 0, &y) || !reader.Number("width", 1, 0, &width) ||
        !reader.Number("height", 1, 0, &height))
        return false;
    std::string why;
    std::optional<DecodedImage> image = LoadImageFile(folder / file->get<std::string>(), &why);
    if (!image) return reader.Fail(why);
    *imageBytes += image->bits.size();
    if (*imageBytes > kMaxPageImageBytes)
        return reader.Fail("the page's images hold more than 256 MiB of pixels");
    if (width == 0 && height == 0) {
        width = image->width;
        height = image->height;
    } else if (height == 0) {
        height = ScaledSide(image->height, width, image->width);
    } else if (width == 0) {
        width = ScaledSide(image->width, height, image->height);
    }
    content->page.items.push_back(PlaceImage(std::move(*image), Rect(x, y, width, height)));
    content->bottom = std::max<LONG>(content->bottom, static_cast<LONG>(y + height));
    return true;
}

std::optional<std::string> ReadText(const std::filesystem::path& path) {
    std::optional<std::vector<unsigned char>> bytes = ReadWholeFile(path, kMaxDescriptionBytes);
    if (!bytes) return std::nullopt;
    return std::string(bytes->begin(), bytes->end());
}

}  // namespace

host::PageImage PlaceImage(DecodedImage image, RECTL target) {
    host::PageImage placed;
    placed.size = {image.width, image.height};
    placed.format = image.format;
    placed.stride = image.stride;
    placed.bits = std::move(image.bits);
    placed.palette = std::move(image.palette);
    placed.target = target;
    return placed;
}

PageContent ImagePage(DecodedImage image, LONG fitWidth) {
    LONG width = image.width;
    LONG height = image.height;
    if (fitWidth > 0) {
        height = static_cast<LONG>(ScaledSide(height, fitWidth, width));
        width = fitWidth;
    }
    PageContent content;
    content.bottom = height;
    content.singleImage = true;
    content.page.items.push_back(PlaceImage(std::move(image), {0, 0, width, height}));
    return content;
}

void FitImagePage(PageContent* content, LONG width) {
    if (!content->singleImage || content->page.items.size() != 1 || width <= 0) return;
    auto* image = std::get_if<host::PageImage>(&content->page.items.front());
    if (image == nullptr || image->size.cx <= 0) return;
    const auto height = static_cast<LONG>(ScaledSide(image->size.cy, width, image->size.cx));
    image->target = {0, 0, width, height};
    content->bottom = height;
}

namespace {

// "settings": device mode fields by the names qlpr info shows, numbers or
// strings, each checked as --set checks it.
bool ReadSettings(const json& root, std::vector<FieldSetting>* settings, std::string* error) {
    auto found = root.find("settings");
    if (found == root.end()) return true;
    if (!found->is_object()) {
        *error = "\"settings\" must be an object of device mode fields";
        return false;
    }
    for (const auto& [name, value] : found->items()) {
        std::string text;
        if (value.is_number_integer())
            text = value.is_number_unsigned() ? std::to_string(value.get<unsigned long long>())
                                              : std::to_string(value.get<long long>());
        else if (value.is_string())
            text = value.get<std::string>();
        else {
            *error = "settings: \"" + name + "\" must be a whole number or a string";
            return false;
        }
        FieldSetting setting;
        std::string why;
        if (!ParseFieldSetting(name, text, "settings", &setting, &why)) {
            *error = why;
            return false;
        }
        settings->push_back(std::move(setting));
    }
    return true;
}

std::optional<PageContent> ReadDescription(const json& root, const std::filesystem::path& folder,
                                           std::string* error) {
    if (!root.is_object()) {
        *error = "a page description is an object with \"items\"";
        return std::nullopt;
    }
    for (const auto& [key, value] : root.items()) {
        if (key != "items" && key != "settings") {
            *error = "unknown key \"" + key + "\"";
            return std::nullopt;
        }
    }
    auto items = root.find("items");
    if (items == root.end() || !items->is_array()) {
        *error = "\"items\" must be a list";
        return std::nullopt;
    }
    if (items->size() > kMaxPageItems) {
        *error = "a page holds at most " + std::to_string(kMaxPageItems) + " items";
        return std::nullopt;
    }
    PageContent content;
    if (!ReadSettings(root, &content.settings, error)) return std::nullopt;
    std::size_t imageBytes = 0;
    std::size_t number = 0;
    for (const json& item : *items) {
        ItemReader reader{item, "item " + std::to_string(++number), error};
        if (!item.is_object()) {
            reader.Fail("an item is an object");
            return std::nullopt;
        }
        auto type = item.find("type");
        bool added = false;
        if (type == item.end() || !type->is_string()) {
            reader.Fail(
                "\"type\" must be \"image\", \"text\", \"rectangle\", \"line\", \"polyline\" or "
                "\"polygon\"");
        } else if (*type == "image") {
            added = AddImage(reader, folder, &imageBytes, &content);
        } else if (*type == "text") {
            added = AddText(reader, &content);
        } else if (*type == "rectangle") {
            added = AddRectangle(reader, &content);
        } else if (*type == "line") {
            added = AddLine(reader, &content);
        } else if (*type == "polyline") {
            added = AddPolyline(reader, &content);
        } else if (*type == "polygon") {
            added = AddPolygon(reader, &content);
        } else {
            reader.Fail("unknown type \"" + type->get<std::string>() + "\"");
        }
        if (!added) return std::nullopt;
    }
    return content;
}

// Whether standard input holds a description rather than an image: its
// first byte after blanks opens an object. No image format starts so.
bool HoldsDescription(std::span<const unsigned char> bytes) {
    for (unsigned char c : bytes) {
        if (c == '{') return true;
        if (c != ' ' && c != '\t' && c != '\n' && c != '\r') return false;
    }
    return false;
}

// "-": an image or a description, told apart by their bytes; a
// description's file names are relative to the working folder.
std::optional<PageContent> LoadStandardInput(LONG fitWidth, std::string* error) {
    std::optional<std::vector<unsigned char>> bytes = ReadStandardInput(kMaxImageFileBytes);
    if (!bytes) {
        *error = "cannot read standard input (or it holds more than 1 GiB)";
        return std::nullopt;
    }
    std::string why;
    std::optional<PageContent> content;
    if (!HoldsDescription(*bytes)) {
        std::optional<DecodedImage> image = DecodeImageFile(*bytes, &why);
        if (image) content = ImagePage(std::move(*image), fitWidth);
    } else if (bytes->size() > kMaxDescriptionBytes) {
        why = "a page description is at most 16 MiB";
    } else {
        content = ParsePageDescription(std::string(bytes->begin(), bytes->end()), {}, &why);
    }
    if (!content) *error = "standard input: " + why;
    return content;
}

}  // namespace

// Every error of the JSON library (a number beyond a double, a value of an
// unexpected type) ends here as the description's one error line.
std::optional<PageContent> ParsePageDescription(const std::string& text,
                                                const std::filesystem::path& folder,
                                                std::string* error) {
    try {
        return ReadDescription(json::parse(text), folder, error);
    } catch (const json::exception& failure) {
        *error = "not a valid page description: " + std::string(failure.what());
        return std::nullopt;
    }
}

std::optional<PageContent> LoadPage(const std::filesystem::path& input, LONG fitWidth,
                                    std::string* error) {
    if (input == kStandardInput) return LoadStandardInput(fitWidth, error);
    if (input.extension() != ".json") {
        std::optional<DecodedImage> image = LoadImageFile(input, error);
        if (!image) return std::nullopt;
        return ImagePage(std::move(*image), fitWidth);
    }
    std::error_code failure;
    const std::uintmax_t size = std::filesystem::file_size(input, failure);
    if (failure || !std::filesystem::is_regular_file(input)) {
        *error = "cannot read " + input.string();
        return std::nullopt;
    }
    if (size > kMaxDescriptionBytes) {
        *error = input.string() + ": a page description is at most 16 MiB";
        return std::nullopt;
    }
    std::optional<std::string> text = ReadText(input);
    if (!text) {
        *error = "cannot read " + input.string();
        return std::nullopt;
    }
    std::string why;
    std::optional<PageContent> content = ParsePageDescription(*text, input.parent_path(), &why);
    if (!content) *error = input.string() + ": " + why;
    return content;
}

}  // namespace qlpr
