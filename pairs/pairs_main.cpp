// qlpr-pairs: the virtual null-modem pair daemon (see pair_daemon.h).
//
//   qlpr-pairs [--group NAME] [--service-user NAME] [--state FILE]
//
// The device folder is QLPR_DEVICE_DIR, else /run/qlpr/dev.
#include <cstdio>
#include <string>

#include "pairs/pair_daemon.h"

int main(int argc, char** argv) {
    pairs::DaemonOptions options;
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        std::string* value = option == "--group"          ? &options.group
                             : option == "--service-user" ? &options.serviceUser
                             : option == "--state"        ? &options.stateFile
                                                          : nullptr;
        if (value == nullptr || i + 1 == argc) {
            std::fprintf(stderr,
                         "usage: qlpr-pairs [--group NAME] [--service-user NAME] [--state FILE]\n");
            return 2;
        }
        *value = argv[++i];
    }
    return pairs::RunDaemon(options);
}
