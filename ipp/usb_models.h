// The models' USB printers, told by their vendor and product ids.
#pragma once

#include <string>

namespace qlpr::ipp {

// Whether the USB device PAPPL lists as `deviceUri` ("usb://MAKE/MODEL?
// serial=SN") is one of the models' printers: a present USB printer
// interface with that serial number has one of their vendor and product
// ids. A device without a serial number is not recognised this way.
bool IsModelUsbPrinter(const std::string& deviceUri);

}  // namespace qlpr::ipp
