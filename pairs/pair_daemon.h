// The pair daemon: one pseudo-terminal per end of each pair, joined by a
// relay that loses and reorders nothing, with the ends as links in the
// device folder and a control socket through which `setupc` renames the
// user-side ends.
//
// Access: a service-side end (its terminal node) is read and written by its
// owner only, the service's account (`serviceUser`, else the daemon's own);
// a user-side end also by the printing group (`group`; without one, by the
// owner only); the control socket is open to the same group. Changing owners needs the daemon to
// run as root; without that the modes are still set.
//
// Assignments are kept in the state file, when one is given, and restored
// at the next start.
#pragma once

#include <string>

namespace pairs {

struct DaemonOptions {
    std::string group;        // empty: the group stays as it is
    std::string serviceUser;  // empty: the daemon's own account
    std::string stateFile;    // empty: assignments last as long as the daemon
};

// Runs until SIGTERM or SIGINT; removes its links and socket before it
// returns. The exit status: 0, or 1 when the pairs could not be set up.
int RunDaemon(const DaemonOptions& options);

}  // namespace pairs
