// The pair daemon (see pair_daemon.h): one thread, one poll loop over the
// signals, the control socket and its clients, and the terminal masters.
#include "pairs/pair_daemon.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <list>
#include <vector>

#include "pairs/pair_names.h"
#include "platform/device_folder.h"

namespace pairs {
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kRelayBuffer = 65536;  // per direction; a full one stops reading
constexpr std::size_t kMaxRequest = 4096;
constexpr std::size_t kMaxClients = 16;
constexpr auto kClientTime = std::chrono::seconds(2);
// A terminal that reports trouble without moving anything is left alone
// this long, so that the loop never spins on it.
constexpr auto kStallPause = std::chrono::milliseconds(100);

void Log(const std::string& line) {
    std::fprintf(stderr, "qlpr-pairs: %s\n", line.c_str());
}

std::string ErrnoText(const char* what) {
    return std::string(what) + ": " + std::strerror(errno);
}

// One pseudo-terminal. The daemon keeps its slave end open itself, so that
// the master never sees a hang-up while no program has the end open, and
// bytes wait in the line until one does.
struct Terminal {
    int master = -1;
    int held = -1;
    std::string node;
    Clock::time_point stalledUntil{};
    bool moved = false;  // in this round of the loop

    Terminal() = default;
    Terminal(const Terminal&) = delete;
    Terminal& operator=(const Terminal&) = delete;
    ~Terminal() {
        if (held >= 0) close(held);
        if (master >= 0) close(master);
    }

    bool Open(std::string* error) {
        master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        char name[128];
        if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0 ||
            ptsname_r(master, name, sizeof name) != 0) {
            *error = ErrnoText("pseudo-terminal");
            return false;
        }
        node = name;
        held = open(node.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        termios line{};
        if (held < 0 || tcgetattr(held, &line) != 0) {
            *error = ErrnoText(node.c_str());
            return false;
        }
        cfmakeraw(&line);
        tcsetattr(held, TCSANOW, &line);
        return true;
    }
    bool Stalled(Clock::time_point now) const { return now < stalledUntil; }
};

// One direction of a relay: bytes read from one master wait here until the
// other master takes them.
struct Flow {
    std::vector<char> bytes = std::vector<char>(kRelayBuffer);
    std::size_t start = 0;
    std::size_t end = 0;

    bool Empty() const { return start == end; }
    bool HasRoom() const { return end < bytes.size(); }

    // Bytes moved, or -1 when the descriptor failed or hung up.
    ssize_t Pull(int fd) {
        ssize_t got;
        do {
            got = read(fd, bytes.data() + end, bytes.size() - end);
        } while (got < 0 && errno == EINTR);
        if (got > 0) end += static_cast<std::size_t>(got);
        if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return 0;
        return got > 0 ? got : -1;
    }
    ssize_t Push(int fd) {
        ssize_t put;
        do {
            put = write(fd, bytes.data() + start, end - start);
        } while (put < 0 && errno == EINTR);
        if (put > 0) start += static_cast<std::size_t>(put);
        if (Empty()) start = end = 0;  // all taken: the whole buffer has room again
        if (put < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return 0;
        return put >= 0 ? put : -1;
    }
};

struct Pair {
    PairNames names;
    Terminal service;
    Terminal user;
    Flow toUser;           // written on the service side, read on the user side
    Flow toService;        // the other way
    std::string assigned;  // empty: no COM name assigned

    // The names under which the user-side end is reached now.
    std::vector<std::string> UserNames() const {
        if (!assigned.empty()) return {assigned};
        std::vector<std::string> names{this->names.portId};
        if (this->names.unassigned != nullptr) names.emplace_back(this->names.unassigned);
        return names;
    }
    // The name that a request for `name` leaves assigned.
    std::string AssignmentFor(const std::string& name) const {
        const bool back =
            name == names.portId || (names.unassigned != nullptr && name == names.unassigned);
        return back ? std::string{} : name;
    }
};

struct Client {
    int fd;
    std::string request;
    Clock::time_point deadline;
};

class Daemon {
  public:
    explicit Daemon(DaemonOptions options) : options_(std::move(options)) {}
    ~Daemon() {
        for (Client& client : clients_) close(client.fd);
        if (listener_ >= 0) close(listener_);
        if (signals_ >= 0) close(signals_);
    }

    int Run() {
        std::string error;
        if (!SetUp(&error)) {
            Log(error);
            TearDown();
            return 1;
        }
        NotifyReady();
        Log("pairs ready in " + folder_.string());
        Loop();
        TearDown();
        return 0;
    }

  private:
    bool SetUp(std::string* error) {
        sigset_t stops;
        sigemptyset(&stops);
        sigaddset(&stops, SIGTERM);
        sigaddset(&stops, SIGINT);
        sigprocmask(SIG_BLOCK, &stops, nullptr);
        signal(SIGPIPE, SIG_IGN);
        signals_ = signalfd(-1, &stops, SFD_NONBLOCK | SFD_CLOEXEC);
        if (signals_ < 0) return *error = ErrnoText("signalfd"), false;
        if (!ResolveAccounts(error)) return false;

        folder_ = platform::DeviceFolder();
        std::error_code made;
        std::filesystem::create_directories(folder_, made);
        if (made) return *error = folder_.string() + ": " + made.message(), false;
        if (!OpenControl(error)) return false;

        for (const PairNames& names : kPairs) {
            pairs_.emplace_back();
            Pair& pair = pairs_.back();
            pair.names = names;
            if (!pair.service.Open(error) || !pair.user.Open(error)) return false;
            Secure(pair.service.node, 0600, serviceUid_, static_cast<gid_t>(-1));
            Secure(pair.user.node, GroupMode(), static_cast<uid_t>(-1), groupId_);
        }
        // Ends left behind by a daemon that was killed point at terminals
        // that another program may own by now: none of the fixed names stays.
        for (const Pair& pair : pairs_) {
            RemoveLink(pair.names.serviceSide);
            for (const std::string& name : pair.UserNames()) RemoveLink(name);
        }
        LoadState();
        for (Pair& pair : pairs_) {
            if (!PlaceLink(pair.names.serviceSide, pair.service.node, error)) return false;
            for (const std::string& name : pair.UserNames())
                if (!PlaceLink(name, pair.user.node, error)) return false;
        }
        return true;
    }

    bool ResolveAccounts(std::string* error) {
        if (!options_.group.empty()) {
            const group* found = getgrnam(options_.group.c_str());
            if (found == nullptr) return *error = "no group " + options_.group, false;
            groupId_ = found->gr_gid;
        }
        if (!options_.serviceUser.empty()) {
            const passwd* found = getpwnam(options_.serviceUser.c_str());
            if (found == nullptr) return *error = "no user " + options_.serviceUser, false;
            serviceUid_ = found->pw_uid;
        }
        return true;
    }

    // Without a printing group, what would be the group's stays the owner's
    // alone (a new terminal's group is the system's terminal group).
    mode_t GroupMode() const { return groupId_ != static_cast<gid_t>(-1) ? 0660 : 0600; }

    // Owners change only for root; the mode always.
    static void Secure(const std::string& node, mode_t mode, uid_t owner, gid_t group) {
        if ((owner != static_cast<uid_t>(-1) || group != static_cast<gid_t>(-1)) &&
            chown(node.c_str(), owner, group) != 0)
            Log(ErrnoText(("owner of " + node).c_str()));
        if (chmod(node.c_str(), mode) != 0) Log(ErrnoText(("mode of " + node).c_str()));
    }

    bool OpenControl(std::string* error) {
        const std::string path = ControlSocketPath();
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        if (path.size() >= sizeof address.sun_path)
            return *error = "device folder path too long for its control socket", false;
        std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
        const auto* raw = reinterpret_cast<const sockaddr*>(&address);
        // A socket that still answers belongs to a daemon that runs.
        const int probe = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const bool live = probe >= 0 && connect(probe, raw, sizeof address) == 0;
        if (probe >= 0) close(probe);
        if (live) return *error = "another pair daemon serves " + folder_.string(), false;
        unlink(path.c_str());
        listener_ = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (listener_ < 0 || bind(listener_, raw, sizeof address) != 0 || listen(listener_, 8) != 0)
            return *error = ErrnoText(path.c_str()), false;
        controlBound_ = true;
        Secure(path, GroupMode(), static_cast<uid_t>(-1), groupId_);
        return true;
    }

    void NotifyReady() {
        const char* socketPath = std::getenv("NOTIFY_SOCKET");
        if (socketPath == nullptr || socketPath[0] == 0) return;
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        const std::size_t length = std::strlen(socketPath);
        if (length >= sizeof address.sun_path) return;
        std::memcpy(address.sun_path, socketPath, length);
        if (address.sun_path[0] == '@') address.sun_path[0] = 0;  // abstract socket
        const int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        if (fd < 0) return;
        const char ready[] = "READY=1";
        sendto(fd, ready, sizeof ready - 1, MSG_NOSIGNAL,
               reinterpret_cast<const sockaddr*>(&address),
               static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + length));
        close(fd);
    }

    // Replaces the entry atomically, so that a program never finds the name
    // missing or half made.
    bool PlaceLink(const std::string& name, const std::string& target, std::string* error) {
        const std::filesystem::path temporary = folder_ / ".new-link";
        unlink(temporary.c_str());
        if (symlink(target.c_str(), temporary.c_str()) != 0 ||
            rename(temporary.c_str(), (folder_ / name).c_str()) != 0) {
            *error = ErrnoText(name.c_str());
            unlink(temporary.c_str());
            return false;
        }
        return true;
    }

    void RemoveLink(const std::string& name) { unlink((folder_ / name).c_str()); }

    void TearDown() {
        for (const Pair& pair : pairs_) {
            RemoveLink(pair.names.serviceSide);
            for (const std::string& name : pair.UserNames()) RemoveLink(name);
        }
        if (controlBound_) unlink(ControlSocketPath().c_str());
    }

    // Why `name` cannot become the user-side name of `pair`; empty if it
    // can. An entry of that name that the daemon did not make belongs to
    // another device, unless `kept` says this daemon made it before.
    std::string Refusal(const Pair& pair, const std::string& name, bool kept = false) const {
        for (const Pair& other : pairs_) {
            std::vector<std::string> taken{other.names.serviceSide};
            if (&other != &pair) {
                taken.emplace_back(other.names.portId);
                if (other.names.unassigned != nullptr) taken.emplace_back(other.names.unassigned);
                if (!other.assigned.empty()) taken.push_back(other.assigned);
            }
            for (const std::string& used : taken)
                if (SameNameIgnoringCase(name, used)) return "name in use: " + name;
        }
        const std::vector<std::string> own = pair.UserNames();
        struct stat entry {};
        if (!kept && std::find(own.begin(), own.end(), name) == own.end() &&
            lstat((folder_ / name).c_str(), &entry) == 0)
            return "name in use by another device: " + name;
        return {};
    }

    // Empty on success, else why not.
    std::string Change(const ChangeRequest& request) {
        auto found = std::find_if(pairs_.begin(), pairs_.end(), [&](const Pair& pair) {
            return request.portId == pair.names.portId;
        });
        if (found == pairs_.end()) return "unknown port id: " + request.portId;
        Pair& pair = *found;
        if (std::string refusal = Refusal(pair, request.name); !refusal.empty()) return refusal;
        const std::vector<std::string> before = pair.UserNames();
        const std::string previous = pair.assigned;
        pair.assigned = pair.AssignmentFor(request.name);
        const std::vector<std::string> after = pair.UserNames();
        std::string error;
        for (const std::string& name : after) {
            if (PlaceLink(name, pair.user.node, &error)) continue;
            for (const std::string& placed : after)
                if (std::find(before.begin(), before.end(), placed) == before.end())
                    RemoveLink(placed);
            pair.assigned = previous;
            return error;
        }
        for (const std::string& name : before)
            if (std::find(after.begin(), after.end(), name) == after.end()) RemoveLink(name);
        SaveState();
        Log(std::string(pair.names.portId) + " is now reached as " + after.front());
        return {};
    }

    void LoadState() {
        if (options_.stateFile.empty()) return;
        std::ifstream in(options_.stateFile);
        std::string line;
        while (std::getline(in, line)) {
            const std::size_t blank = line.find(' ');
            if (blank == std::string::npos) continue;
            const std::string portId = line.substr(0, blank);
            const std::string name = line.substr(blank + 1);
            for (Pair& pair : pairs_) {
                if (portId != pair.names.portId) continue;
                if (platform::IsValidDeviceName(name) && Refusal(pair, name, true).empty())
                    pair.assigned = pair.AssignmentFor(name);
                else
                    Log("ignored the kept name of " + portId + ": " + name);
            }
        }
    }

    void SaveState() {
        if (options_.stateFile.empty()) return;
        const std::string temporary = options_.stateFile + ".new";
        {
            std::ofstream out(temporary, std::ios::trunc);
            for (const Pair& pair : pairs_)
                if (!pair.assigned.empty())
                    out << pair.names.portId << ' ' << pair.assigned << '\n';
            out.flush();
            if (!out) {
                Log("cannot write " + temporary);
                return;
            }
        }
        if (rename(temporary.c_str(), options_.stateFile.c_str()) != 0)
            Log(ErrnoText(options_.stateFile.c_str()));
    }

    void Loop() {
        std::vector<pollfd> fds;
        for (;;) {
            const auto now = Clock::now();
            fds.clear();
            fds.push_back({signals_, POLLIN, 0});
            fds.push_back({listener_, POLLIN, 0});
            for (Pair& pair : pairs_) {
                fds.push_back(Watch(pair.service, pair.toUser, pair.toService, now));
                fds.push_back(Watch(pair.user, pair.toService, pair.toUser, now));
            }
            for (const Client& client : clients_) fds.push_back({client.fd, POLLIN, 0});
            if (poll(fds.data(), fds.size(), Timeout(now)) < 0 && errno != EINTR) {
                Log(ErrnoText("poll"));
                return;
            }
            if (fds[0].revents != 0) {
                signalfd_siginfo signal{};
                if (read(signals_, &signal, sizeof signal) > 0) return;
            }
            std::size_t at = 2;
            for (Pair& pair : pairs_) {
                const pollfd& service = fds[at++];
                const pollfd& user = fds[at++];
                pair.service.moved = pair.user.moved = false;
                Relay(pair.service, service, pair.toUser, pair.user);
                Relay(pair.user, user, pair.toService, pair.service);
                StallIfStuck(pair.service, service);
                StallIfStuck(pair.user, user);
            }
            ServeClients(fds, at);
            if (fds[1].revents & POLLIN) Accept();
        }
    }

    // What to wait for on a master: bytes to read while its outgoing flow
    // has room, room to write while its incoming flow holds bytes.
    static pollfd Watch(const Terminal& terminal, const Flow& out, const Flow& in,
                        Clock::time_point now) {
        short events = 0;
        if (out.HasRoom()) events |= POLLIN;
        if (!in.Empty()) events |= POLLOUT;
        return {terminal.Stalled(now) ? -1 : terminal.master, events, 0};
    }

    int Timeout(Clock::time_point now) const {
        auto next = Clock::time_point::max();
        for (const Pair& pair : pairs_)
            for (const Terminal* terminal : {&pair.service, &pair.user})
                if (terminal->Stalled(now)) next = std::min(next, terminal->stalledUntil);
        for (const Client& client : clients_) next = std::min(next, client.deadline);
        if (next == Clock::time_point::max()) return -1;
        const auto wait = std::chrono::ceil<std::chrono::milliseconds>(next - now).count();
        return static_cast<int>(std::clamp<std::int64_t>(wait, 0, 60000));
    }

    // Moves bytes from one master towards the other: read what came, then
    // hand over what waits. Nothing read is ever dropped.
    static void Relay(Terminal& from, const pollfd& fromReady, Flow& flow, Terminal& to) {
        const auto now = Clock::now();
        if (!from.Stalled(now) && (fromReady.revents & (POLLIN | POLLHUP | POLLERR)) &&
            flow.HasRoom()) {
            const ssize_t got = flow.Pull(from.master);
            if (got < 0) from.stalledUntil = now + kStallPause;
            from.moved |= got > 0;
        }
        if (!to.Stalled(now) && !flow.Empty()) {
            const ssize_t put = flow.Push(to.master);
            if (put < 0) to.stalledUntil = now + kStallPause;
            to.moved |= put > 0;
        }
    }

    static void StallIfStuck(Terminal& terminal, const pollfd& ready) {
        const bool trouble = (ready.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
        if (trouble && !terminal.moved) terminal.stalledUntil = Clock::now() + kStallPause;
    }

    void Accept() {
        for (;;) {
            const int fd = accept4(listener_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
            if (fd < 0) return;
            if (clients_.size() >= kMaxClients) {
                close(fd);
                continue;
            }
            clients_.push_back({fd, {}, Clock::now() + kClientTime});
        }
    }

    // A client writes its words, one a line, and shuts its side; it gets
    // "OK" or "ERROR <why>" back. A slow or oversized one is dropped.
    void ServeClients(const std::vector<pollfd>& fds, std::size_t first) {
        const auto now = Clock::now();
        std::size_t index = first;
        for (auto it = clients_.begin(); it != clients_.end(); ++index) {
            Client& client = *it;
            bool done = now >= client.deadline;
            if (!done && (fds[index].revents & (POLLIN | POLLHUP | POLLERR))) {
                char chunk[1024];
                const ssize_t got = recv(client.fd, chunk, sizeof chunk, MSG_DONTWAIT);
                if (got > 0) client.request.append(chunk, static_cast<std::size_t>(got));
                if (client.request.size() > kMaxRequest) {
                    Reply(client, "ERROR request too long");
                    done = true;
                } else if (got == 0) {
                    Reply(client, Answer(client.request));
                    done = true;
                } else if (got < 0 && errno != EAGAIN && errno != EINTR) {
                    done = true;
                }
            }
            if (done) {
                close(client.fd);
                it = clients_.erase(it);
            } else {
                ++it;
            }
        }
    }

    std::string Answer(const std::string& request) {
        std::string error;
        const std::optional<ChangeRequest> change = ParseChange(ControlWords(request), &error);
        if (!change) return "ERROR " + error;
        error = Change(*change);
        return error.empty() ? "OK" : "ERROR " + error;
    }

    static void Reply(const Client& client, const std::string& text) {
        const std::string line = text + "\n";
        [[maybe_unused]] ssize_t ignored =
            send(client.fd, line.data(), line.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
    }

    DaemonOptions options_;
    std::filesystem::path folder_;
    std::list<Pair> pairs_;  // stable addresses: terminals are not movable
    std::list<Client> clients_;
    int signals_ = -1;
    int listener_ = -1;
    bool controlBound_ = false;
    gid_t groupId_ = static_cast<gid_t>(-1);
    uid_t serviceUid_ = static_cast<uid_t>(-1);
};

}  // namespace

int RunDaemon(const DaemonOptions& options) {
    Daemon daemon(options);
    return daemon.Run();
}

}  // namespace pairs
