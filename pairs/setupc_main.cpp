// setupc: the pair setup utility. Renames the user-side end of a pair:
//
//   setupc change ZELA0 PortName=COM5,
//
// It asks the pair daemon through its control socket and prints its answer.
// Exit status: 0 done, 1 refused or no daemon, 2 not a valid command.
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "pairs/pair_names.h"

namespace {

bool SendAll(int fd, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t put = send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (put <= 0) return false;
        done += static_cast<std::size_t>(put);
    }
    return true;
}

// The daemon's answer line, or empty when it cannot be reached.
std::string Ask(const pairs::ChangeRequest& request) {
    const std::string path = pairs::ControlSocketPath();
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) return {};
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return {};
    std::string answer;
    if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 &&
        SendAll(fd, pairs::ControlRequest(request)) &&
        shutdown(fd, SHUT_WR) == 0) {
        char chunk[512];
        for (ssize_t got; (got = recv(fd, chunk, sizeof chunk, 0)) > 0;)
            answer.append(chunk, static_cast<std::size_t>(got));
    }
    close(fd);
    while (!answer.empty() && answer.back() == '\n') answer.pop_back();
    return answer;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> words(argv + 1, argv + argc);
    std::string error;
    const auto request = pairs::ParseChange(words, &error);
    if (!request) {
        std::fprintf(stderr, "setupc: %s\n", error.c_str());
        return 2;
    }
    const std::string answer = Ask(*request);
    if (answer == "OK") return 0;
    std::fprintf(stderr, "setupc: %s\n",
                 answer.empty() ? "the pair daemon does not answer" : answer.c_str());
    return 1;
}
