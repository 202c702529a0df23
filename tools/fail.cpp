// The one error line of a failed command.
#include "tools/commands.h"
#include "tools/file_io.h"

namespace qlpr {

int Fail(const std::string& message) {
    PrintError("qlpr: " + message + "\n");
    return 1;
}

}  // namespace qlpr
