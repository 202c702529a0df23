// What the application shows of a printer's state. The printers are sent
// jobs only: nothing here asks them for their status, so the state comes
// from the printer's device alone. A printer whose device cannot be opened
// or written is `offline`; a job that reaches the device clears it.
//
// No supply is reported: without a status reply the paper roll's level is
// not known, and PAPPL offers no supply kind for paper.
#pragma once

#include <pappl/pappl.h>

#include <optional>
#include <string>

namespace qlpr::ipp {

// Whether a file:// device could be opened now, judged without opening
// it: a folder or a device file that can be written, a file that can be
// written or created. None for other kinds of device.
std::optional<bool> FileDeviceReachable(const std::string& deviceUri);

// The driver's status callback, run by PAPPL while the printer is idle:
// marks a printer with a file:// device that cannot be opened offline.
bool UpdatePrinterState(pappl_printer_t* printer);

// The device took a job (or was opened for one): the printer is online.
void MarkOnline(pappl_printer_t* printer);
// The device did not take a job: the printer is offline.
void MarkOffline(pappl_printer_t* printer);

}  // namespace qlpr::ipp
