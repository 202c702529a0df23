#include "ipp/device_list.h"

#include <avahi-client/client.h>
#include <avahi-common/error.h>
#include <avahi-common/simple-watch.h>
#include <pappl/pappl.h>

#include <cstdio>
#include <cstring>

namespace qlpr::ipp {
namespace {

// PAPPL's single-letter options that take the next argument as their value.
bool TakesValue(const char* argument) {
    return argument[0] == '-' && argument[1] != '\0' && argument[2] == '\0' &&
           std::strchr("adjmnotuv", argument[1]) != nullptr;
}

// The sub-command: the first argument that is neither an option nor an
// option's value.
const char* SubCommand(const std::vector<char*>& arguments) {
    for (std::size_t i = 1; i < arguments.size() && arguments[i] != nullptr; ++i) {
        if (TakesValue(arguments[i]))
            ++i;
        else if (arguments[i][0] != '-')
            return arguments[i];
    }
    return nullptr;
}

// "-o verbose" (or any -o list naming it), as PAPPL reads it.
bool Verbose(const std::vector<char*>& arguments) {
    for (std::size_t i = 1; i + 1 < arguments.size() && arguments[i] != nullptr; ++i) {
        const char* list = nullptr;
        if (std::strcmp(arguments[i], "-o") == 0)
            list = arguments[++i];
        else if (std::strncmp(arguments[i], "-o", 2) == 0)
            list = arguments[i] + 2;
        if (list == nullptr) continue;
        cups_option_t* options = nullptr;
        const int count = cupsParseOptions(list, 0, &options);
        const bool found = cupsGetOption("verbose", count, options) != nullptr;
        cupsFreeOptions(count, options);
        if (found) return true;
    }
    return false;
}

bool AvahiAnswers() {
    AvahiSimplePoll* poll = avahi_simple_poll_new();
    if (poll == nullptr) return false;
    int error = 0;
    AvahiClient* client = avahi_client_new(avahi_simple_poll_get(poll), AvahiClientFlags(0),
                                           nullptr, nullptr, &error);
    if (client != nullptr) avahi_client_free(client);
    avahi_simple_poll_free(poll);
    return client != nullptr;
}

bool ShowDevice(const char* info, const char* uri, const char* id, void* verbose) {
    std::puts(uri);
    if (verbose != nullptr && info != nullptr) std::printf("    %s\n", info);
    if (verbose != nullptr && id != nullptr) std::printf("    %s\n", id);
    return false;
}

void ShowError(const char* message, void*) {
    std::printf("qlpr-ipp: %s\n", message);
}

}  // namespace

bool ListDevicesWithoutDnsSd(const std::vector<char*>& arguments, int* status) {
    const char* command = SubCommand(arguments);
    if (command == nullptr || std::strcmp(command, "devices") != 0 || AvahiAnswers()) return false;
    std::fprintf(stderr,
                 "qlpr-ipp: the Avahi daemon is not running: network printers found through "
                 "DNS-SD are not listed.\n");
    static int verboseMark;
    papplDeviceList(static_cast<pappl_devtype_t>(PAPPL_DEVTYPE_ALL & ~PAPPL_DEVTYPE_DNS_SD),
                    ShowDevice, Verbose(arguments) ? &verboseMark : nullptr, ShowError, nullptr);
    *status = 0;
    return true;
}

}  // namespace qlpr::ipp
