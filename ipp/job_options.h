// The receipt options a printer of the application offers (printer
// attributes NAME-supported and NAME-default, settable as job attributes,
// printer defaults, in the web page and with `qlpr-ipp options`) and the
// qlpr print options a job's attributes make.
#pragma once

#include <pappl/pappl.h>

#include <optional>
#include <string>

#include "ipp/model_data.h"
#include "tools/print_options.h"

namespace qlpr::ipp {

// Adds the options' names to the driver data and their supported values and
// defaults (from the model's data file) to the driver's attributes.
void AddReceiptOptions(const ModelData& model, pappl_pr_driver_data_t* data, ipp_t* attributes);

// The paper of a PWG media size name, or none.
const Paper* PaperOfMedia(const ModelData& model, const char* sizeName);

// The PWG media size name of a paper.
std::string MediaName(const Paper& paper);

// The qlpr print options of a job: copies, the paper (left to the driver
// when it is the model's default paper), the receipt options that differ
// from the model's defaults. A receipt option the job does not give takes
// the printer's default from `printerDefaults` (the printer's driver
// attributes; may be null). None with `error` set when a value is unknown.
std::optional<PrintOptions> JobPrintOptions(const ModelData& model, const pappl_pr_options_t& job,
                                            ipp_t* printerDefaults, std::string* error);

}  // namespace qlpr::ipp
