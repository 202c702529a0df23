// The pair daemon and its setup utility, run as programs: the ends in the
// device folder and their access, the relay through real pseudo-terminals,
// renaming with setupc (and hostile names), keeping names across restarts,
// and the daemon's unit file.
#include <grp.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "notifying_service.h"
#include "platform/pty_test_util.h"
#include "platform/windows.h"
#include "test_support.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

pid_t Spawn(const fs::path& program, const std::vector<std::string>& arguments) {
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv.data(), environ) != 0) return -1;
    return pid;
}

int ExitStatus(pid_t pid) {
    int status = 0;
    if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

int Setupc(const std::vector<std::string>& words) {
    return ExitStatus(Spawn(testsupport::BinDir() / "setupc", words));
}

bool HasGroup(const char* name) {
    return getgrnam(name) != nullptr;
}

// The daemon as a child process, started and told ready through the
// service manager's readiness notice.
class Daemon {
  public:
    explicit Daemon(const fs::path& stateFile)
        : service_(testsupport::BinDir() / "qlpr-pairs", Arguments(stateFile)),
          ready_(service_.Notice() == "READY=1") {}
    bool Ready() const { return ready_; }
    int Stop() { return service_.Stop(); }

  private:
    static std::vector<std::string> Arguments(const fs::path& stateFile) {
        std::vector<std::string> arguments{"--state", stateFile.string()};
        if (HasGroup("lp")) arguments.insert(arguments.end(), {"--group", "lp"});
        return arguments;
    }

    testsupport::NotifyingService service_;
    bool ready_;
};

class PairsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        state_ = folder_.path().parent_path() / ("qlpr-pairs-state-" + std::to_string(getpid()));
        fs::remove(state_);
        daemon_ = std::make_unique<Daemon>(state_);
        ASSERT_TRUE(daemon_->Ready());
    }
    void TearDown() override {
        daemon_.reset();
        fs::remove(state_);
    }
    fs::path Entry(const std::string& name) const { return folder_.path() / name; }
    bool Exists(const std::string& name) const { return fs::is_symlink(Entry(name)); }
    std::vector<std::string> Entries() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(folder_.path()))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    ptytest::ScopedFolderVariable folder_{"QLPR_DEVICE_DIR"};
    fs::path state_;
    std::unique_ptr<Daemon> daemon_;
};

TEST_F(PairsTest, EndsAndTheirAccess) {
    EXPECT_EQ(Entries(),
              (std::vector<std::string>{".control", "COMCHINA", "COMGLOBAL", "COMLOWCOST",
                                        "NoChinaPort", "NoGlobalPort", "ZELA0", "ZELA1", "ZELA2"}));
    struct Case {
        const char* serviceSide;
        std::vector<const char*> userSide;
    } const cases[] = {
        {"COMGLOBAL", {"ZELA0", "NoGlobalPort"}},
        {"COMCHINA", {"ZELA1", "NoChinaPort"}},
        {"COMLOWCOST", {"ZELA2"}},
    };
    const group* printing = getgrnam("lp");
    const unsigned groupMode = printing != nullptr ? 0660 : 0600;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.serviceSide);
        const fs::path service = fs::read_symlink(Entry(c.serviceSide));
        struct stat info {};
        ASSERT_EQ(stat(service.c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 0777, 0600u);
        for (const char* name : c.userSide) {
            const fs::path user = fs::read_symlink(Entry(name));
            EXPECT_NE(user, service);
            EXPECT_EQ(user, fs::read_symlink(Entry(c.userSide.front())));
            ASSERT_EQ(stat(user.c_str(), &info), 0);
            EXPECT_EQ(info.st_mode & 0777, groupMode);
            if (printing != nullptr) {
                EXPECT_EQ(info.st_gid, printing->gr_gid);
            }
        }
    }
    struct stat control {};
    ASSERT_EQ(stat(Entry(".control").c_str(), &control), 0);
    EXPECT_EQ(control.st_mode & 0777, groupMode);

    // A second daemon on the same folder refuses to start; the first one
    // stays and removes its ends when it stops.
    EXPECT_EQ(ExitStatus(Spawn(testsupport::BinDir() / "qlpr-pairs", {})), 1);
    EXPECT_TRUE(Exists("COMGLOBAL"));
    EXPECT_EQ(daemon_->Stop(), 0);
    EXPECT_TRUE(Entries().empty());
}

// 1 MiB each way at once through one pair, opened as the service and an
// application open them, while an idle client holds the control socket.
TEST_F(PairsTest, RelayLosesNothingBothWays) {
    const int idle = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, Entry(".control").c_str(), sizeof address.sun_path - 1);
    ASSERT_EQ(connect(idle, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);

    const auto pattern = [](std::size_t size, unsigned seed) {
        std::string bytes(size, '\0');
        for (std::size_t i = 0; i < size; ++i)
            bytes[i] = static_cast<char>((i * seed) ^ (i >> 9) ^ (i >> 17));
        return bytes;
    };
    const std::string toUser = pattern(1 << 20, 131);
    const std::string toService = pattern(1 << 20, 197);
    HANDLE ends[2];
    const char* names[2] = {"\\\\.\\COMGLOBAL", "\\\\.\\NoGlobalPort"};
    for (int i = 0; i < 2; ++i) {
        ends[i] = CreateFileA(names[i], GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_FLAG_OVERLAPPED, nullptr);
        ASSERT_NE(ends[i], INVALID_HANDLE_VALUE) << names[i] << " " << GetLastError();
        const COMMTIMEOUTS timeouts{MAXDWORD, MAXDWORD, 10, 0, 60000};
        ASSERT_TRUE(SetCommTimeouts(ends[i], &timeouts));
    }
    const auto send = [](HANDLE port, const std::string& bytes) {
        for (std::size_t done = 0; done < bytes.size();) {
            const DWORD chunk =
                static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1000 + done % 3000));
            DWORD written = 0;
            if (!WriteFile(port, bytes.data() + done, chunk, &written, nullptr) || written == 0)
                return;
            done += written;
        }
    };
    const auto receive = [](HANDLE port, std::size_t count, std::string* into) {
        const auto limit = std::chrono::steady_clock::now() + 60s;
        char chunk[1024];
        while (into->size() < count && std::chrono::steady_clock::now() < limit) {
            DWORD got = 0;
            if (!ReadFile(port, chunk, sizeof chunk, &got, nullptr)) return;
            into->append(chunk, got);
        }
    };
    std::string atUser, atService;
    std::thread threads[] = {
        std::thread(send, ends[0], std::cref(toUser)),
        std::thread(send, ends[1], std::cref(toService)),
        std::thread(receive, ends[1], toUser.size(), &atUser),
        std::thread(receive, ends[0], toService.size(), &atService),
    };
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(atUser.size(), toUser.size());
    EXPECT_TRUE(atUser == toUser);
    EXPECT_EQ(atService.size(), toService.size());
    EXPECT_TRUE(atService == toService);
    for (HANDLE end : ends) CloseHandle(end);
    close(idle);
}

TEST_F(PairsTest, SetupcRenamesTheUserSideEnd) {
    const std::string longest(255, 'L');
    std::ofstream(Entry("FOREIGN")) << "another device";
    struct Step {
        std::vector<std::string> words;
        int exit;
        std::vector<std::string> present, absent;
    } const steps[] = {
        {{"change", "ZELA0", "PortName=COM5,"}, 0, {"COM5"}, {"ZELA0", "NoGlobalPort"}},
        {{"change", "ZELA0", "PortName=COM7,", ""}, 0, {"COM7"}, {"COM5"}},
        {{"change", "ZELA1", "PortName=com7,"}, 1, {"ZELA1", "NoChinaPort"}, {"com7"}},
        {{"change", "ZELA1", "PortName=COMGLOBAL,"}, 1, {"ZELA1"}, {}},
        {{"change", "ZELA1", "PortName=NoGlobalPort,"}, 1, {"ZELA1"}, {"NoGlobalPort"}},
        {{"change", "ZELA1", "PortName=zela2,"}, 1, {"ZELA1"}, {"zela2"}},
        {{"change", "ZELA1", "PortName=FOREIGN,"}, 1, {"ZELA1"}, {}},
        {{"change", "ZELA9", "PortName=COM8,"}, 1, {}, {"COM8"}},
        {{"change", "ZELA1", "PortName=../COM8,"}, 2, {}, {"COM8"}},
        {{"change", "ZELA1", "PortName=sub/COM8,"}, 2, {}, {}},
        {{"change", "ZELA1", "PortName=sub\\COM8,"}, 2, {}, {"sub\\COM8"}},
        {{"change", "ZELA1", "PortName=.COM8,"}, 2, {}, {".COM8"}},
        {{"change", "ZELA1", "PortName=COM 8,"}, 2, {}, {"COM 8"}},
        {{"change", "ZELA1", "PortName=COM\n8,"}, 2, {}, {}},
        {{"change", "ZELA1", "PortName=,"}, 2, {}, {}},
        {{"change", "ZELA1", "PortName=COM8"}, 2, {}, {"COM8"}},
        {{"change", "ZELA1", "PortName=" + longest + "L,"}, 2, {"ZELA1"}, {}},
        {{"change", "ZELA1"}, 2, {}, {}},
        {{"remove", "ZELA1", "PortName=COM8,"}, 2, {}, {}},
        {{"change", "ZELA1", "PortName=COM8,", "extra"}, 2, {}, {"COM8"}},
        {{"change", "ZELA1", "PortName=" + longest + ","}, 0, {longest}, {"ZELA1", "NoChinaPort"}},
        {{"change", "ZELA1", "PortName=NoChinaPort,"}, 0, {"ZELA1", "NoChinaPort"}, {longest}},
        {{"change", "ZELA2", "PortName=COM9,"}, 0, {"COM9"}, {"ZELA2"}},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.words.size() > 2 ? step.words[2] : step.words.back());
        const std::vector<std::string> before = Entries();
        EXPECT_EQ(Setupc(step.words), step.exit);
        if (step.exit != 0) {
            EXPECT_EQ(Entries(), before) << "a refusal changes nothing";
        }
        for (const std::string& name : step.present) EXPECT_TRUE(Exists(name)) << name;
        for (const std::string& name : step.absent) EXPECT_FALSE(fs::exists(Entry(name))) << name;
    }

    // The renamed end still meets its service-side end.
    HANDLE service = CreateFileA("\\\\.\\COMGLOBAL", GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                 OPEN_EXISTING, 0, nullptr);
    HANDLE user = CreateFileA("\\\\.\\COM7", GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(service, INVALID_HANDLE_VALUE);
    ASSERT_NE(user, INVALID_HANDLE_VALUE);
    DWORD count = 0;
    ASSERT_TRUE(WriteFile(user, "job", 3, &count, nullptr));
    char got[3] = {};
    ASSERT_TRUE(ReadFile(service, got, 3, &count, nullptr));
    EXPECT_EQ(std::string(got, count), "job");
    CloseHandle(service);
    CloseHandle(user);

    // Names are kept across a restart; without a daemon setupc fails.
    EXPECT_EQ(daemon_->Stop(), 0);
    EXPECT_EQ(Entries(), std::vector<std::string>{"FOREIGN"});
    EXPECT_EQ(Setupc({"change", "ZELA0", "PortName=COM5,"}), 1);
    // Ends that a killed daemon left behind are not trusted.
    fs::create_symlink("/dev/null", Entry("ZELA0"));
    fs::create_symlink("/dev/null", Entry("COM7"));
    daemon_ = std::make_unique<Daemon>(state_);
    ASSERT_TRUE(daemon_->Ready());
    EXPECT_NE(fs::read_symlink(Entry("COM7")), "/dev/null");
    for (const char* name : {"COM7", "ZELA1", "NoChinaPort", "COM9"})
        EXPECT_TRUE(Exists(name)) << name;
    for (const char* name : {"ZELA0", "NoGlobalPort", "ZELA2"}) EXPECT_FALSE(Exists(name)) << name;
}

TEST(PairsUnitTest, UnitFileVerifies) {
    if (system("command -v systemd-analyze >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "systemd-analyze is not installed";
    std::ifstream in(testsupport::SourceDir() / "pairs" / "qlpr-pairs.service");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_FALSE(text.empty());
    // The unit names the installed program; check it against the built one.
    const std::string installed = "/usr/libexec/qlpr/qlpr-pairs";
    const std::size_t at = text.find(installed);
    ASSERT_NE(at, std::string::npos);
    text.replace(at, installed.size(), (testsupport::BinDir() / "qlpr-pairs").string());
    ptytest::ScopedFolderVariable folder("QLPR_UNIT_TEST_DIR");
    const fs::path unit = folder.path() / "qlpr-pairs.service";
    std::ofstream(unit) << text;
    const std::string command = "systemd-analyze verify --man=no '" + unit.string() + "' > '" +
                                (folder.path() / "out").string() + "' 2>&1";
    const int status = system(command.c_str());
    std::ifstream out(folder.path() / "out");
    const std::string report((std::istreambuf_iterator<char>(out)),
                             std::istreambuf_iterator<char>());
    EXPECT_EQ(status, 0) << report;
    EXPECT_EQ(report.find("qlpr-pairs.service:"), std::string::npos) << report;
}

}  // namespace
