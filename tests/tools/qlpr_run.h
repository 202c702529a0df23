// Running the qlpr program as a user runs it, for the command tests.
#pragma once

#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "test_support.h"

namespace testsupport {

// What a run of qlpr gave.
struct QlprRun {
    int status = -1;  // exit status, -1 when it did not exit normally
    std::string out;  // standard output
    std::string err;  // standard error
};

inline std::string ReadAll(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Runs "qlpr ARGUMENTS" through the shell, in `folder` when one is given;
// standard error passes through `errFile`.
inline QlprRun RunQlpr(const std::string& arguments, const std::filesystem::path& errFile,
                       const std::filesystem::path& folder = {}) {
    std::string command = (BinDir() / "qlpr").string() + " " + arguments + " 2>" + errFile.string();
    if (!folder.empty()) command = "cd " + folder.string() + " && " + command;
    QlprRun run;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return run;
    char buffer[4096];
    std::size_t got;
    while ((got = fread(buffer, 1, sizeof buffer, pipe)) > 0) run.out.append(buffer, got);
    const int status = pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.err = ReadAll(errFile);
    return run;
}

}  // namespace testsupport
