#include "ipp/model_data.h"

#include <cctype>
#include <cstdlib>

#include "platform/profile.h"
#include "platform/wide.h"

namespace qlpr::ipp {
namespace {

std::string ProfileString(const std::filesystem::path& dataFile, const std::string& section,
                          const std::string* key) {
    std::vector<char16_t> buffer(32768);
    const std::u16string file = platform::FromUtf8(dataFile.string());
    const std::u16string wideSection = platform::FromUtf8(section);
    const std::u16string wideKey = key ? platform::FromUtf8(*key) : std::u16string();
    const DWORD length = GetPrivateProfileStringW(
        reinterpret_cast<LPCWSTR>(wideSection.c_str()),
        key ? reinterpret_cast<LPCWSTR>(wideKey.c_str()) : nullptr, reinterpret_cast<LPCWSTR>(u""),
        reinterpret_cast<LPWSTR>(buffer.data()), static_cast<DWORD>(buffer.size()),
        reinterpret_cast<LPCWSTR>(file.c_str()));
    return platform::ToUtf8(std::u16string(buffer.data(), length));
}

// Comma-separated integers; a field that is not a number reads as 0.
std::vector<long> Numbers(const std::string& text) {
    std::vector<long> numbers;
    for (std::size_t at = 0; at <= text.size();) {
        const std::size_t comma = std::min(text.find(',', at), text.size());
        numbers.push_back(std::strtol(text.substr(at, comma - at).c_str(), nullptr, 10));
        at = comma + 1;
    }
    return numbers;
}

// The keys of a section, as the profile reader lists them: each ends in a
// null character.
std::vector<std::string> SectionKeys(const std::filesystem::path& dataFile,
                                     const std::string& section) {
    const std::string keys = ProfileString(dataFile, section, nullptr);
    std::vector<std::string> names;
    for (std::size_t at = 0; at < keys.size();) {
        const std::size_t end = std::min(keys.find('\0', at), keys.size());
        if (end > at) names.push_back(keys.substr(at, end - at));
        at = end + 1;
    }
    return names;
}

}  // namespace

EntryList ReadList(const std::filesystem::path& dataFile, const std::string& keyword) {
    EntryList list;
    const std::string value = ProfileString(dataFile, "printer", &keyword);
    if (value.rfind("LIST", 0) != 0) {
        if (!value.empty()) list.entries.push_back({keyword, Numbers(value)});
        return list;
    }
    for (const std::string& key : SectionKeys(dataFile, keyword))
        list.entries.push_back({key, Numbers(ProfileString(dataFile, keyword, &key))});
    // "LIST,n": an n beyond the last entry means the first.
    const std::vector<long> numbers = Numbers(value.substr(value.find(',') + 1));
    const long index = numbers.empty() ? 0 : numbers.front();
    if (index >= 0 && static_cast<std::size_t>(index) < list.entries.size())
        list.defaultIndex = static_cast<std::size_t>(index);
    return list;
}

std::optional<ModelData> LoadModelData(const std::filesystem::path& dataFile, std::string* error) {
    ModelData model;
    model.name = dataFile.stem().string();
    model.dataFile = dataFile;

    const EntryList papers = ReadList(dataFile, "paper");
    for (const ListEntry& entry : papers.entries) {
        Paper paper{entry.name,     entry.Value(1),      entry.Value(3), entry.Value(4),
                    entry.Value(5), entry.Value(6),      entry.Value(7), entry.Value(8),
                    entry.Value(9), entry.Value(16) != 0};
        model.papers.push_back(paper);
    }
    model.defaultPaper = papers.defaultIndex;

    const EntryList resolutions = ReadList(dataFile, "resolution");
    for (const ListEntry& entry : resolutions.entries) {
        if (entry.Value(3) > 0 && entry.Value(4) > 0)
            model.resolutions.push_back(
                {static_cast<int>(entry.Value(3)), static_cast<int>(entry.Value(4))});
    }
    model.defaultResolution =
        resolutions.defaultIndex < model.resolutions.size() ? resolutions.defaultIndex : 0;

    const auto codes = [&dataFile](const std::string& keyword, std::vector<NamedCode>* into,
                                   std::size_t* defaultIndex) {
        const EntryList list = ReadList(dataFile, keyword);
        for (const ListEntry& entry : list.entries) into->push_back({entry.name, entry.Value(1)});
        *defaultIndex = list.defaultIndex;
    };
    const EntryList widths = ReadList(dataFile, "paperX");
    const EntryList lengths = ReadList(dataFile, "paperY");
    if (const ListEntry* entry = widths.Default()) {
        model.customWidthMin = entry->Value(0);
        model.customWidthMax = entry->Value(1);
    }
    if (const ListEntry* entry = lengths.Default()) {
        model.customLengthMin = entry->Value(0);
        model.customLengthMax = entry->Value(1);
    }
    codes("source", &model.sources, &model.defaultSource);
    codes("dither", &model.dithers, &model.defaultDither);

    if (model.papers.empty() || model.resolutions.empty()) {
        *error = "no papers or no resolutions";
        return std::nullopt;
    }
    return model;
}

const Paper* ModelData::UserSizedPaper() const {
    for (const Paper& paper : papers)
        if (paper.userSized) return &paper;
    return nullptr;
}

std::string KeywordOf(const std::string& name) {
    std::string keyword;
    for (const char c : name) {
        if (std::isalnum(static_cast<unsigned char>(c)))
            keyword += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        else if (!keyword.empty() && keyword.back() != '-')
            keyword += '-';
    }
    while (!keyword.empty() && keyword.back() == '-') keyword.pop_back();
    return keyword;
}

}  // namespace qlpr::ipp
