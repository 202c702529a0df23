// `qlpr-ipp devices` on a machine without a running Avahi daemon.
#pragma once

#include <vector>

namespace qlpr::ipp {

// PAPPL 1.3 lists DNS-SD printers even when it cannot reach the Avahi
// daemon, and aborts there. When `arguments` (the command line PAPPL gets,
// ending in a null) ask for the device list and the daemon does not answer,
// this lists every other kind of device as PAPPL would, says on standard
// error that network printers found through DNS-SD are left out, sets
// `*status` and returns true. Otherwise it returns false and PAPPL runs the
// command.
bool ListDevicesWithoutDnsSd(const std::vector<char*>& arguments, int* status);

}  // namespace qlpr::ipp
