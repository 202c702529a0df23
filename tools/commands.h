// The qlpr subcommands.
#pragma once

#include <string>
#include <vector>

namespace qlpr {

int InfoCommand(const std::vector<std::string>& args);
int DecodeCommand(const std::vector<std::string>& args);
int PreviewCommand(const std::vector<std::string>& args);
int PrintCommand(const std::vector<std::string>& args);

// Writes "qlpr: MESSAGE" on standard error and gives exit status 1.
int Fail(const std::string& message);

}  // namespace qlpr
