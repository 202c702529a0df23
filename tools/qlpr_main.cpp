// qlpr: the command line of the receipt printer driver.

#include <string>
#include <vector>

#include "platform/heap.h"
#include "tools/commands.h"
#include "tools/file_io.h"

namespace qlpr {

namespace {

constexpr char kUsage[] =
    "usage: qlpr COMMAND [options]\n"
    "\n"
    "commands:\n"
    "  info    enable the driver for a printer and show its settings, page geometry,\n"
    "          capability records and device fonts\n"
    "  decode  list a printer byte stream one command a line\n"
    "  preview draw the paper a printer byte stream prints into a PNG\n"
    "  print   print images and page descriptions through the driver\n"
    "\n"
    "qlpr COMMAND --help explains a command.\n";

}  // namespace
}  // namespace qlpr

int main(int argc, char** argv) {
    platform::KeepLargeBlocksInHeap();
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty()) {
        qlpr::PrintError(qlpr::kUsage);
        return 1;
    }
    if (args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
        qlpr::PrintOut(qlpr::kUsage);
        return 0;
    }
    std::string command = args[0];
    args.erase(args.begin());
    if (command == "info") return qlpr::InfoCommand(args);
    if (command == "decode") return qlpr::DecodeCommand(args);
    if (command == "preview") return qlpr::PreviewCommand(args);
    if (command == "print") return qlpr::PrintCommand(args);
    return qlpr::Fail("unknown command " + command + " (see qlpr --help)");
}
