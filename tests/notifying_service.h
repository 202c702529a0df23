// systemd's side of a service that tells its readiness (Type=notify), for
// the tests: the program is started with a notification socket of the
// test's, its notices are read in order, and SIGTERM stops it.
#pragma once

#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

extern "C" char** environ;

namespace testsupport {

class NotifyingService {
  public:
    // Starts `program` with `arguments` and the environment of the test;
    // the socket lives in a folder of its own.
    NotifyingService(const std::filesystem::path& program,
                     const std::vector<std::string>& arguments) {
        std::string folder =
            (std::filesystem::temp_directory_path() / "qlpr-notify-XXXXXX").string();
        if (::mkdtemp(folder.data()) == nullptr) return;
        folder_ = folder;
        const std::string socketPath = folder_ + "/notify";
        socket_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, socketPath.c_str(), sizeof address.sun_path - 1);
        if (::bind(socket_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
            return;
        timeval limit{10, 0};
        ::setsockopt(socket_, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);

        std::vector<std::string> environment{"NOTIFY_SOCKET=" + socketPath};
        for (char** entry = environ; *entry != nullptr; ++entry)
            if (std::strncmp(*entry, "NOTIFY_SOCKET=", 14) != 0) environment.emplace_back(*entry);
        std::vector<char*> envp;
        for (std::string& entry : environment) envp.push_back(entry.data());
        envp.push_back(nullptr);
        std::vector<std::string> words{program.string()};
        words.insert(words.end(), arguments.begin(), arguments.end());
        std::vector<char*> argv;
        for (std::string& word : words) argv.push_back(word.data());
        argv.push_back(nullptr);
        if (::posix_spawn(&pid_, argv[0], nullptr, nullptr, argv.data(), envp.data()) != 0)
            pid_ = -1;
    }
    ~NotifyingService() {
        if (pid_ > 0) Stop();
        if (socket_ >= 0) ::close(socket_);
        std::error_code ignored;
        if (!folder_.empty()) std::filesystem::remove_all(folder_, ignored);
    }
    NotifyingService(const NotifyingService&) = delete;
    NotifyingService& operator=(const NotifyingService&) = delete;

    pid_t Pid() const { return pid_; }
    // The next notice; empty after 10 s without one.
    std::string Notice() {
        char notice[512] = {};
        if (pid_ <= 0 || ::recv(socket_, notice, sizeof notice - 1, 0) <= 0) return "";
        return notice;
    }
    // Reads notices until the one that says it is ready.
    bool AwaitReady() {
        for (std::string notice = Notice(); !notice.empty(); notice = Notice())
            if (notice.rfind("READY=1", 0) == 0) return true;
        return false;
    }
    // The stop as systemd sends it.
    void Terminate() const {
        if (pid_ > 0) ::kill(pid_, SIGTERM);
    }
    // Waits for the program's end: its exit status (-1 unless it exited).
    int Wait() {
        if (pid_ <= 0) return -1;
        int status = 0;
        const bool ended = ::waitpid(pid_, &status, 0) == pid_;
        pid_ = -1;
        return ended && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    int Stop() {
        Terminate();
        return Wait();
    }

  private:
    std::string folder_;
    int socket_ = -1;
    pid_t pid_ = -1;
};

}  // namespace testsupport
