// The one error line of a failed command.
#include <iostream>

#include "tools/commands.h"

namespace qlpr {

int Fail(const std::string& message) {
    std::cerr << "qlpr: " << message << '\n';
    return 1;
}

}  // namespace qlpr
