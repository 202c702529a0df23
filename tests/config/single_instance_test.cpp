// One instance of the tool per machine.
#include "config/single_instance.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <optional>
#include <string>

#include "platform/wide.h"

namespace {

// A name of this test run's own, so that a tool running on the machine
// does not count.
std::u16string TestMutexName() {
    return platform::FromUtf8("Global\\{qlpr-config-test-" + std::to_string(getpid()) + "}");
}

TEST(ConfigSingleInstance, ASecondInstanceSeesTheFirstUntilItsProcessEnds) {
    const std::u16string name = TestMutexName();
    std::optional<config::SingleInstance> first(std::in_place, name.c_str());
    EXPECT_FALSE(first->AlreadyRunning());
    EXPECT_TRUE(config::SingleInstance(name.c_str()).AlreadyRunning());
    first.reset();
    EXPECT_FALSE(config::SingleInstance(name.c_str()).AlreadyRunning());

    // Another process holds the name until it is killed.
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        config::SingleInstance holder(name.c_str());
        const char held = holder.AlreadyRunning() ? 'n' : 'y';
        if (write(ready[1], &held, 1) != 1) _exit(1);
        pause();
        _exit(0);
    }
    close(ready[1]);
    char held = 0;
    ASSERT_EQ(read(ready[0], &held, 1), 1);
    close(ready[0]);
    EXPECT_EQ(held, 'y');
    EXPECT_TRUE(config::SingleInstance(name.c_str()).AlreadyRunning());
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    EXPECT_FALSE(config::SingleInstance(name.c_str()).AlreadyRunning());
}

}  // namespace
