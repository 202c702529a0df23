#include "platform/processes.h"

#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/files.h"
#include "platform/waitable.h"
#include "platform/wide.h"

extern char** environ;

namespace platform {
namespace {

bool IsBlank(char16_t c) {
    return c == u' ' || c == u'\t';
}

// The words of a command line, by the platform's quoting rules.
std::vector<std::u16string> SplitCommandLine(std::u16string_view line) {
    std::vector<std::u16string> words;
    std::size_t i = 0;
    while (true) {
        while (i < line.size() && IsBlank(line[i])) ++i;
        if (i >= line.size()) return words;
        std::u16string word;
        bool quoted = false;
        while (i < line.size() && (quoted || !IsBlank(line[i]))) {
            std::size_t backslashes = 0;
            while (i < line.size() && line[i] == u'\\') ++backslashes, ++i;
            if (i < line.size() && line[i] == u'"') {
                word.append(backslashes / 2, u'\\');
                if (backslashes % 2 == 1) {
                    word += u'"';
                } else {
                    quoted = !quoted;
                }
                ++i;
            } else {
                word.append(backslashes, u'\\');
                if (backslashes == 0) word += line[i++];
            }
        }
        words.push_back(std::move(word));
    }
}

bool EndsWithExe(const std::string& path) {
    return path.size() > 4 && WideEqualsNoCase(FromUtf8(path.substr(path.size() - 4)), u".exe");
}

bool IsProgramFile(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
           access(path.c_str(), X_OK) == 0;
}

// The file a program path names, or empty when there is none.
std::string ProgramFile(std::u16string_view word) {
    std::string path = ToUtf8(word);
    for (char& c : path)
        if (c == '\\') c = '/';
    if (IsProgramFile(path)) return path;
    if (EndsWithExe(path) && IsProgramFile(path.substr(0, path.size() - 4)))
        return path.substr(0, path.size() - 4);
    return {};
}

struct Program {
    std::string file;                       // a path, or a name to look up along PATH
    std::vector<std::u16string> arguments;  // the first is the program's file
};

// The program and its arguments. A program path with blanks, unquoted, is
// the shortest run of words that names a file.
bool FindProgram(std::u16string_view line, Program& program) {
    std::vector<std::u16string> words = SplitCommandLine(line);
    if (words.empty()) return false;
    const std::size_t start = line.find_first_not_of(u" \t");
    const bool quoted = line[start] == u'"';
    const bool isPath = words[0].find_first_of(u"/\\") != std::u16string::npos;
    if (!isPath) {
        std::string name = ToUtf8(words[0]);
        program = {std::move(name), std::move(words)};
        return true;
    }
    std::u16string candidate = words[0];
    for (std::size_t used = 1; used <= words.size(); ++used) {
        if (used > 1) {
            if (quoted) break;
            candidate += u' ';
            candidate += words[used - 1];
        }
        std::string file = ProgramFile(candidate);
        if (file.empty()) continue;
        std::vector<std::u16string> arguments = {FromUtf8(file)};
        arguments.insert(arguments.end(), words.begin() + static_cast<std::ptrdiff_t>(used),
                         words.end());
        program = {std::move(file), std::move(arguments)};
        return true;
    }
    return false;
}

// A started program; signalled once it has ended.
struct ChildState {
    bool ended = false;
};

class ChildHandle final : public Waitable {
  public:
    explicit ChildHandle(std::shared_ptr<ChildState> state) : state_(std::move(state)) {}
    bool Signalled() const override { return state_->ended; }

  private:
    std::shared_ptr<ChildState> state_;
};

// Reaps the child on a thread of its own and signals its handles.
void WatchChild(pid_t pid, std::shared_ptr<ChildState> state) {
    std::thread([pid, state = std::move(state)] {
        int status = 0;
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        {
            std::lock_guard guard(WaitLock());
            state->ended = true;
        }
        NotifyWaiters();
    }).detach();
}

// Spawns the program; 0 and its pid, or an errno value.
int Spawn(const Program& program, pid_t& pid) {
    std::vector<std::string> arguments;
    for (const std::u16string& word : program.arguments) arguments.push_back(ToUtf8(word));
    std::vector<char*> argv;
    for (std::string& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    const bool lookUp = program.file.find('/') == std::string::npos;
    int error =
        lookUp ? posix_spawnp(&pid, program.file.c_str(), nullptr, nullptr, argv.data(), environ)
               : posix_spawn(&pid, program.file.c_str(), nullptr, nullptr, argv.data(), environ);
    if (error == ENOENT && lookUp && EndsWithExe(program.file)) {
        const std::string bare = program.file.substr(0, program.file.size() - 4);
        error = posix_spawnp(&pid, bare.c_str(), nullptr, nullptr, argv.data(), environ);
    }
    return error;
}

}  // namespace
}  // namespace platform

using platform::Fail;

extern "C" {

QLPR_EXPORT BOOL WINAPI CreateProcessW(LPCWSTR applicationName, LPWSTR commandLine, void*, void*,
                                       BOOL, DWORD creationFlags, void* environment,
                                       LPCWSTR currentDirectory, STARTUPINFOW*,
                                       PROCESS_INFORMATION* processInformation) {
    return platform::Guard<BOOL>(FALSE, [&]() -> BOOL {
        if (commandLine == nullptr || processInformation == nullptr)
            return Fail(ERROR_INVALID_PARAMETER, FALSE);
        if (applicationName != nullptr || creationFlags != 0 || environment != nullptr ||
            currentDirectory != nullptr)
            return Fail(ERROR_NOT_SUPPORTED, FALSE);
        platform::Program program;
        if (!platform::FindProgram(commandLine, program)) return Fail(ERROR_FILE_NOT_FOUND, FALSE);
        pid_t pid = 0;
        if (const int error = platform::Spawn(program, pid); error != 0)
            return Fail(platform::ErrorFromErrno(error), FALSE);

        auto state = std::make_shared<platform::ChildState>();
        const HANDLE process =
            platform::RegisterHandle(std::make_shared<platform::ChildHandle>(state));
        const HANDLE thread =
            process ? platform::RegisterHandle(std::make_shared<platform::ChildHandle>(state))
                    : nullptr;
        platform::WatchChild(pid, state);
        if (thread == nullptr) {
            if (process != nullptr) CloseHandle(process);
            return FALSE;
        }
        *processInformation = {process, thread, static_cast<DWORD>(pid), static_cast<DWORD>(pid)};
        return TRUE;
    });
}

QLPR_EXPORT DWORD WINAPI GetCurrentDirectoryW(DWORD size, LPWSTR buffer) {
    return platform::Guard<DWORD>(0, [&]() -> DWORD {
        std::error_code error;
        const std::filesystem::path current = std::filesystem::current_path(error);
        if (error) return Fail(platform::ErrorFromErrno(error.value()), DWORD{0});
        const std::u16string wide = platform::FromUtf8(current.string());
        if (buffer == nullptr || size <= wide.size()) return static_cast<DWORD>(wide.size() + 1);
        platform::WideCopy(buffer, size, wide);
        return static_cast<DWORD>(wide.size());
    });
}
}
