#include "platform/InstanceGuard.h"

#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

#include <cstdlib>

#include "TempDir.h"

namespace mirova::platform {
namespace {

class InstanceGuardTest : public ::testing::Test {
protected:
    void SetUp() override { ::setenv("MIROVA_LOCK_DIR", dir_.path().c_str(), 1); }
    void TearDown() override { ::unsetenv("MIROVA_LOCK_DIR"); }
    test::TempDir dir_;
};

TEST_F(InstanceGuardTest, OneCopyAtATimeAndFreeAgainAfterRelease) {
    InstanceGuard first;
    ASSERT_EQ(first.Acquire("Mirova", dir_.path()), InstanceGuard::Result::Acquired);
    InstanceGuard second;
    EXPECT_EQ(second.Acquire("Mirova", dir_.path()), InstanceGuard::Result::RunningForThisUser);

    first.Release();
    EXPECT_EQ(second.Acquire("Mirova", dir_.path()), InstanceGuard::Result::Acquired);
    second.Release();
    // A per-user lock that cannot be opened guards nothing: the start is refused, not waved on.
    ::unlink((dir_ / "Mirova.user.lock").c_str());
    dir_.createFolder("Mirova.user.lock");
    EXPECT_EQ(second.Acquire("Mirova", dir_.path()), InstanceGuard::Result::RunningForThisUser);
    ::rmdir((dir_ / "Mirova.user.lock").c_str());
    // Another name is another program.
    InstanceGuard other;
    EXPECT_EQ(other.Acquire("Other", dir_.path()), InstanceGuard::Result::Acquired);
}

TEST_F(InstanceGuardTest, MachineWideLockHeldElsewhereMeansAnotherUser) {
    // Another user's copy holds only the machine-wide file (its per-user file lies elsewhere).
    const std::string machine = InstanceGuard::MachineLockPath("Mirova");
    const int held = ::open(machine.c_str(), O_RDWR | O_CREAT, 0666);
    ASSERT_GE(held, 0);
    ASSERT_EQ(::flock(held, LOCK_EX | LOCK_NB), 0);

    InstanceGuard guard;
    EXPECT_EQ(guard.Acquire("Mirova", dir_.path()), InstanceGuard::Result::RunningForOtherUser);
    ::close(held);
    EXPECT_EQ(guard.Acquire("Mirova", dir_.path()), InstanceGuard::Result::Acquired);
}

TEST_F(InstanceGuardTest, LockIsGoneWithTheProcessThatHeldIt) {
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        InstanceGuard guard;
        const bool acquired =
            guard.Acquire("Mirova", dir_.path()) == InstanceGuard::Result::Acquired;
        const char answer = acquired ? 'y' : 'n';
        (void)::write(ready[1], &answer, 1);
        ::pause();  // killed below, without any chance to release
        ::_exit(0);
    }
    char answer = 0;
    ASSERT_EQ(::read(ready[0], &answer, 1), 1);
    ASSERT_EQ(answer, 'y');
    InstanceGuard guard;
    EXPECT_EQ(guard.Acquire("Mirova", dir_.path()), InstanceGuard::Result::RunningForThisUser);
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    EXPECT_EQ(guard.Acquire("Mirova", dir_.path()), InstanceGuard::Result::Acquired);
    ::close(ready[0]);
    ::close(ready[1]);
}

TEST(InstanceGuardPathTest, UserFileFollowsTheRuntimeFolder) {
    ::unsetenv("MIROVA_LOCK_DIR");
    ::setenv("XDG_RUNTIME_DIR", "/run/user/4242", 1);
    EXPECT_EQ(InstanceGuard::UserLockPath("Mirova", "/fallback"),
              "/run/user/4242/Mirova.user.lock");
    ::unsetenv("XDG_RUNTIME_DIR");
    EXPECT_EQ(InstanceGuard::UserLockPath("Mirova", "/fallback"), "/fallback/Mirova.user.lock");
    EXPECT_EQ(InstanceGuard::MachineLockPath("Mirova"), "/tmp/Mirova.lock");
}

}  // namespace
}  // namespace mirova::platform
