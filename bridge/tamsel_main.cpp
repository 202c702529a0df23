// Tamsel: the bridge service between the printers' virtual serial ports and
// their USB interfaces.
//
//   Tamsel install     registers the service (a systemd unit) and enables it
//   Tamsel uninstall   removes it again, when it is stopped
//   Tamsel             runs as the service (started by the service manager)
#include "bridge/service.h"

int main(int argc, char** argv) {
    return _tmain(argc, argv);
}
