// How the printer application prints a job: every page, whatever its
// document format, becomes a page of qlpr print's (tools/print_pages.h) and
// the job's printer stream goes to the printer's device. Raw jobs in the
// printer's own command language go to the device untouched.
#pragma once

#include <pappl/pappl.h>

#include <filesystem>

namespace qlpr::ipp {

// The MIME type of the printers' own command language (raw jobs).
inline constexpr char kNativeFormat[] = "application/vnd.qlpr-receipt";

// Where jobs keep their printer stream until it is sent: a folder of the
// state folder. Set once before the system runs.
void SetJobFolder(const std::filesystem::path& folder);

// The driver callbacks of raster pages (PWG and Apple raster): lines are
// gathered into a page image, printed when the job ends.
bool StartRasterJob(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device);
bool StartRasterPage(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device,
                     unsigned page);
bool WriteRasterLine(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device,
                     unsigned y, const unsigned char* line);
bool EndRasterPage(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device,
                   unsigned page);
bool EndRasterJob(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device);

// A raw job: the document's bytes to the device.
bool PrintRawFile(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device);

// PNG and JPEG documents: decoded and printed as qlpr print prints an image
// file (a MIME filter from those formats to kNativeFormat).
bool PrintImageFile(pappl_job_t* job, pappl_device_t* device, void* data);

}  // namespace qlpr::ipp
