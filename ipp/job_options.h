// The receipt options a printer of the application offers (printer
// attributes NAME-supported and NAME-default, settable as job attributes,
// printer defaults, in the web page and with `qlpr-ipp options`) and the
// qlpr print options a job's attributes make.
#pragma once

#include <pappl/pappl.h>

#include <optional>
#include <string>
#include <vector>

#include "ipp/model_data.h"
#include "tools/print_options.h"

namespace qlpr::ipp {

// Adds the options' names to the driver data and their supported values and
// defaults (from the model's data file) to the driver's attributes.
void AddReceiptOptions(const ModelData& model, pappl_pr_driver_data_t* data, ipp_t* attributes);

// The paper of a job's media: the paper of that name, else the user-sized
// paper for a size of its range, else none.
const Paper* PaperOfMedia(const ModelData& model, const pappl_media_col_t& media);

// The PWG media size name of a paper.
std::string MediaName(const Paper& paper);

// The PWG media size names the model offers: its papers, and the range of
// its user-sized paper as custom_min_... and custom_max_....
std::vector<std::string> MediaNames(const ModelData& model);

// The qlpr print options of a job: copies, the paper (left to the driver
// when it is the model's default paper; a size of the user-sized paper's
// range as that paper with the job's width and length), the receipt options that differ
// from the model's defaults. A receipt option the job does not give takes
// the printer's default from `printerDefaults` (the printer's driver
// attributes; may be null). None with `error` set when a value is unknown.
std::optional<PrintOptions> JobPrintOptions(const ModelData& model, const pappl_pr_options_t& job,
                                            ipp_t* printerDefaults, std::string* error);

}  // namespace qlpr::ipp
