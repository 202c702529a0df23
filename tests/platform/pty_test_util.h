// Real pseudo-terminals for the device tests: a "line" is a pty whose
// slave end is what the system opens (through a link in the device folder
// or the device-source folder) and whose master end the test drives, as the
// far end of a serial cable or as a fake printer.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>

namespace ptytest {

class Line {
  public:
    Line() {
        master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0)
            throw std::runtime_error("no pseudo-terminal");
        slave_ = ptsname(master_);
        // Held open so that the line stays up between the system's opens.
        held_ = open(slave_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        termios raw{};
        tcgetattr(held_, &raw);
        cfmakeraw(&raw);
        tcsetattr(held_, TCSANOW, &raw);
    }
    ~Line() {
        HangUp();
        if (held_ >= 0) close(held_);
    }
    Line(const Line&) = delete;
    Line& operator=(const Line&) = delete;

    const std::string& SlavePath() const { return slave_; }
    int Master() const { return master_; }
    // The far end goes away: the system's end sees the line hang up.
    void HangUp() {
        if (held_ >= 0) close(held_), held_ = -1;
        if (master_ >= 0) close(master_), master_ = -1;
    }

    void Send(const std::string& bytes) const {
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t put = write(master_, bytes.data() + done, bytes.size() - done);
            if (put <= 0) throw std::runtime_error("write to the far end failed");
            done += static_cast<std::size_t>(put);
        }
    }
    // Reads until `count` bytes came or `limit` passed without any.
    std::string Receive(std::size_t count,
                        std::chrono::milliseconds limit = std::chrono::seconds(5)) const {
        std::string got;
        char chunk[4096];
        while (got.size() < count) {
            pollfd ready{master_, POLLIN, 0};
            if (poll(&ready, 1, static_cast<int>(limit.count())) <= 0) break;
            const ssize_t n = read(master_, chunk, std::min(sizeof chunk, count - got.size()));
            if (n <= 0) break;
            got.append(chunk, static_cast<std::size_t>(n));
        }
        return got;
    }

  private:
    int master_ = -1;
    int held_ = -1;
    std::string slave_;
};

// A fresh folder set as an environment variable while the object lives.
class ScopedFolderVariable {
  public:
    explicit ScopedFolderVariable(const char* variable) : variable_(variable) {
        std::string pattern = (std::filesystem::temp_directory_path() / "qlpr-dev-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
        path_ = pattern;
        setenv(variable_, path_.c_str(), 1);
    }
    ~ScopedFolderVariable() {
        unsetenv(variable_);
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    ScopedFolderVariable(const ScopedFolderVariable&) = delete;
    ScopedFolderVariable& operator=(const ScopedFolderVariable&) = delete;
    const std::filesystem::path& path() const { return path_; }

  private:
    const char* variable_;
    std::filesystem::path path_;
};

}  // namespace ptytest
