// Outputs written where they stand, for the tests of job outputs: a FIFO
// with its reader, a listening socket with the connection it accepts, and a
// pseudo-terminal with its master side, each giving what reached the far end.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>

namespace testsupport {

inline void ReadToEnd(int fd, std::string* into) {
    char buffer[4096];
    for (;;) {
        const ssize_t got = read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return;
        into->append(buffer, static_cast<std::size_t>(got));
    }
}

// The file type bits of what the path names now (0 when nothing).
inline mode_t NodeType(const std::filesystem::path& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 ? (info.st_mode & S_IFMT) : 0;
}

// What a writer sends through a FIFO or a socket, read to its end by a
// thread. Received() returns once the writer has closed its side, or, when
// none ever came, with nothing.
class StreamReceiver {
  public:
    // A FIFO at `path`, opened for reading once `ready` says so (at once
    // without it, after ten seconds at the latest).
    static StreamReceiver Fifo(const std::filesystem::path& path,
                               std::function<bool()> ready = nullptr) {
        mkfifo(path.c_str(), 0600);
        StreamReceiver receiver(path, -1);
        receiver.thread_ = std::thread([path, ready, shared = &*receiver.shared_] {
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
            while (ready && !ready() && std::chrono::steady_clock::now() < deadline) {
                if (shared->stop) return;
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
            const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
            if (fd < 0) return;
            ReadToEnd(fd, &shared->text);
            close(fd);
        });
        return receiver;
    }
    // A stream socket listening at `path`; one connection is read.
    static StreamReceiver Socket(const std::filesystem::path& path) {
        const int listening = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
        bind(listening, reinterpret_cast<const sockaddr*>(&address), sizeof address);
        listen(listening, 1);
        StreamReceiver receiver(path, listening);
        receiver.thread_ = std::thread([listening, shared = &*receiver.shared_] {
            const int fd = accept(listening, nullptr, nullptr);
            if (fd < 0) return;
            ReadToEnd(fd, &shared->text);
            close(fd);
        });
        return receiver;
    }
    StreamReceiver(StreamReceiver&&) = default;
    ~StreamReceiver() {
        if (thread_.joinable()) Received();
    }

    std::string Received() {
        shared_->stop = true;
        if (listening_ >= 0) {
            shutdown(listening_, SHUT_RDWR);  // ends an accept still waiting
        } else {
            // A reader still waiting for a writer gets one that writes nothing.
            const int fd = open(path_.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
            if (fd >= 0) close(fd);
        }
        if (thread_.joinable()) thread_.join();
        if (listening_ >= 0) close(listening_), listening_ = -1;
        return shared_->text;
    }

  private:
    StreamReceiver(std::filesystem::path path, int listening)
        : path_(std::move(path)), listening_(listening), shared_(std::make_unique<Shared>()) {}
    struct Shared {
        std::string text;
        std::atomic<bool> stop{false};  // a reader that has not begun gives up
    };
    std::filesystem::path path_;
    int listening_;
    std::unique_ptr<Shared> shared_;
    std::thread thread_;
};

// A pseudo-terminal whose terminal side passes bytes unchanged (raw mode)
// and stays open, so that a writer closing it hangs nothing up.
class PseudoTerminal {
  public:
    PseudoTerminal() {
        master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) return;
        const char* name = ptsname(master_);
        if (name == nullptr) return;
        path_ = name;
        terminal_ = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
        termios mode{};
        if (terminal_ < 0 || tcgetattr(terminal_, &mode) != 0) return;
        cfmakeraw(&mode);
        ready_ = tcsetattr(terminal_, TCSANOW, &mode) == 0;
    }
    ~PseudoTerminal() {
        if (terminal_ >= 0) close(terminal_);
        if (master_ >= 0) close(master_);
    }
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;

    bool ready() const { return ready_; }
    const std::filesystem::path& path() const { return path_; }

    // What the master side reads until `count` bytes came or nothing more
    // comes for a second.
    std::string Read(std::size_t count) {
        std::string text;
        pollfd entry{master_, POLLIN, 0};
        while (text.size() < count && poll(&entry, 1, 1000) == 1) {
            char buffer[4096];
            const ssize_t got = read(master_, buffer, sizeof buffer);
            if (got <= 0) break;
            text.append(buffer, static_cast<std::size_t>(got));
        }
        return text;
    }

  private:
    int master_ = -1;
    int terminal_ = -1;
    bool ready_ = false;
    std::filesystem::path path_;
};

}  // namespace testsupport
