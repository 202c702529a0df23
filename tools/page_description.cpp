#include "tools/page_description.h"

#include <algorithm>
#include <nlohmann/json.hpp>
#include <set>

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
        auto found = item.find("colour");
        if (found == item.end()) {
            *out = kBlackColour;
            return true;
        }
        const std::string bad = "\"colour\" must be a string #RRGGBB";
        if (!found->is_string()) return Fail(bad);
        const std::string text = found->get<std::string>();
        if (text.size() != 7 || text[0] != '#' ||
            text.find_first_not_of("0123456789abcdefABCDEF", 1) != std::string::npos)
            return Fail(bad);
        const ULONG rgb = std::stoul(text.substr(1), nullptr, 16);
        // Rectangles take the engine's 0x00BBGGRR.
        *out = (rgb & 0xFF) << 16 | (rgb & 0xFF00) | (rgb >> 16 & 0xFF);
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

bool AddRectangle(const ItemReader& reader, PageContent* content) {
    if (!reader.Keys({"type", "x", "y", "width", "height", "colour"})) return false;
    long x = 0, y = 0, width = 0, height = 0;
    ULONG colour = 0;
    if (!reader.Number("x", -kMaxCoordinate, std::nullopt, &x) ||
        !reader.Number("y", -kMaxCoordinate, std::nullopt, &y) ||
        !reader.Number("width", 1, std::nullopt, &width) ||
        !reader.Number("height", 1, std::nullopt, &height) || !reader.Colour(&colour))
        return false;
    content->page.items.push_back(host::PageRectangle{Rect(x, y, width, height), colour});
    content->bottom = std::max<LONG>(content->bottom, static_cast<LONG>(y + height));
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
    content.page.items.push_back(PlaceImage(std::move(image), {0, 0, width, height}));
    return content;
}

namespace {

std::optional<PageContent> ReadDescription(const json& root, const std::filesystem::path& folder,
                                           std::string* error) {
    if (!root.is_object()) {
        *error = "a page description is an object with \"items\"";
        return std::nullopt;
    }
    for (const auto& [key, value] : root.items()) {
        if (key != "items") {
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
            reader.Fail("\"type\" must be \"image\" or \"rectangle\"");
        } else if (*type == "image") {
            added = AddImage(reader, folder, &imageBytes, &content);
        } else if (*type == "rectangle") {
            added = AddRectangle(reader, &content);
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
