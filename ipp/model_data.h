// What the printer application publishes of a model: the lists of its data
// file (papers, resolutions, paper sources, dither methods), read the way
// the driver reads them.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace qlpr::ipp {

// One entry of a LIST keyword: its name and its numbers.
struct ListEntry {
    std::string name;
    std::vector<long> values;
    long Value(std::size_t index) const { return index < values.size() ? values[index] : 0; }
};

// A keyword's entries and the index of its default entry.
struct EntryList {
    std::vector<ListEntry> entries;
    std::size_t defaultIndex = 0;
    const ListEntry* Default() const { return entries.empty() ? nullptr : &entries[defaultIndex]; }
};

struct Paper {
    std::string name;
    long code = 0;
    long width = 0, length = 0;  // 0.1 mm
    long marginLeft = 0, marginTop = 0, marginRight = 0, marginBottom = 0;
    long printableWidth = 0;  // dots
    bool userSized = false;
};

struct Resolution {
    int x = 0, y = 0;  // dots per inch
};

// A named code of a list (paper source, dither method).
struct NamedCode {
    std::string name;
    long code = 0;
};

struct ModelData {
    std::string name;  // the data file's name without its extension
    std::filesystem::path dataFile;
    std::vector<Paper> papers;
    std::size_t defaultPaper = 0;
    std::vector<Resolution> resolutions;
    std::size_t defaultResolution = 0;
    std::vector<NamedCode> sources;
    std::size_t defaultSource = 0;
    std::vector<NamedCode> dithers;
    std::size_t defaultDither = 0;
    // The sizes a user-sized paper may take (0.1 mm), from paperX and paperY.
    long customWidthMin = 0, customWidthMax = 0;
    long customLengthMin = 0, customLengthMax = 0;
    // The PWG names of the papers offered as media sizes (the user-sized
    // one as the range of its sizes), kept here because the printers'
    // driver data points at them.
    std::vector<std::string> mediaNames;

    // The user-sized paper, or null.
    const Paper* UserSizedPaper() const;
};

// A keyword's entries: the lines of its section for LIST,n, else the value
// itself as one entry named after the keyword.
EntryList ReadList(const std::filesystem::path& dataFile, const std::string& keyword);

// The model of a data file; none with `error` set when it lacks papers or
// resolutions.
std::optional<ModelData> LoadModelData(const std::filesystem::path& dataFile, std::string* error);

// A name as an IPP keyword: lower case letters, digits and single hyphens
// ("80 mm Roll" gives "80-mm-roll").
std::string KeywordOf(const std::string& name);

}  // namespace qlpr::ipp
