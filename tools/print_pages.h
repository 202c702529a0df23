// The one path from pages to a printer stream: the pages are drawn by the
// engine stand-in (host/) into QLPRGI.DLL for an installed printer, with a
// device mode made of the printer's defaults, the pages' settings and the
// print options, and the job's stream lands in a file. qlpr print and the
// printer application both print through it.
#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "tools/page_description.h"
#include "tools/print_options.h"

namespace qlpr {

// Called after each phase of a job ("enable", "lengthen", "print").
using PhaseMark = std::function<void(const char* phase)>;
// Called before each page is drawn, with its 1-based number.
using PageMark = std::function<void(std::size_t page)>;

// Prints `contents` as one job for the installed printer `printerName`,
// whose data file is `dataFile`, into the file `output`. The options' input
// and output fields are not used. `lineBytes` receives the bytes of one
// printed line (for a preview). False with `error` set (one line) on failure.
bool PrintPages(const PrintOptions& options, std::vector<PageContent> contents,
                const std::u16string& printerName, const std::filesystem::path& dataFile,
                const std::filesystem::path& output, int* lineBytes, std::string* error,
                const PhaseMark& phase = {}, const PageMark& page = {});

}  // namespace qlpr
