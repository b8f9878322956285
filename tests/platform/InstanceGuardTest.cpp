#include "platform/InstanceGuard.h"

#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

#include "TempDir.h"

namespace mirova::platform {
namespace {

using R = InstanceGuard::Result;

class InstanceGuardTest : public ::testing::Test {
protected:
    void SetUp() override { ::setenv("MIROVA_LOCK_DIR", dir_.path().c_str(), 1); }
    void TearDown() override { ::unsetenv("MIROVA_LOCK_DIR"); }
    R Acquire(InstanceGuard& guard, const char* name = "Mirova") {
        return guard.Acquire(name, dir_.path());
    }
    test::TempDir dir_;
};

// One copy per user and name; the per-user file is private, the machine-wide one open to all
// whatever the umask. A per-user lock that cannot be opened guards nothing: the start is refused.
// Another user's copy holds only the machine-wide file (its per-user file lies elsewhere).
TEST_F(InstanceGuardTest, OneCopyPerUserAndAnotherUsersCopyIsToldApart) {
    InstanceGuard first, second, other;
    ASSERT_EQ(Acquire(first), R::Acquired);
    struct stat user {
    }, machine{};
    ASSERT_EQ(::stat((dir_ / "Mirova.user.lock").c_str(), &user), 0);
    ASSERT_EQ(::stat((dir_ / "Mirova.lock").c_str(), &machine), 0);
    EXPECT_EQ((user.st_mode & 0777) * 01000 + (machine.st_mode & 0777), 0600u * 01000 + 0666u);
    EXPECT_EQ(Acquire(second), R::RunningForThisUser);
    EXPECT_EQ(Acquire(other, "Other"), R::Acquired);
    first.Release();
    EXPECT_EQ(Acquire(second), R::Acquired);
    second.Release();
    ::unlink((dir_ / "Mirova.user.lock").c_str());
    dir_.createFolder("Mirova.user.lock");
    EXPECT_EQ(Acquire(second), R::RunningForThisUser);
    ::rmdir((dir_ / "Mirova.user.lock").c_str());
    const int held = ::open(InstanceGuard::MachineLockPath("Mirova").c_str(), O_RDWR);
    ASSERT_EQ(::flock(held, LOCK_EX | LOCK_NB), 0);
    EXPECT_EQ(Acquire(second), R::RunningForOtherUser);
    ::close(held);
    EXPECT_EQ(Acquire(second), R::Acquired);
}

TEST_F(InstanceGuardTest, LockIsGoneWithTheProcessThatHeldIt) {
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        InstanceGuard guard;
        const char answer = Acquire(guard) == R::Acquired ? 'y' : 'n';
        (void)::write(ready[1], &answer, 1);
        ::pause();  // killed below, without any chance to release
        ::_exit(0);
    }
    char answer = 0;
    ASSERT_EQ(::read(ready[0], &answer, 1), 1);
    ASSERT_EQ(answer, 'y');
    InstanceGuard guard;
    EXPECT_EQ(Acquire(guard), R::RunningForThisUser);
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    EXPECT_EQ(Acquire(guard), R::Acquired);
    ::close(ready[0]);
    ::close(ready[1]);
}

TEST(InstanceGuardPathTest, UserFileFollowsTheRuntimeFolder) {
    ::setenv("XDG_RUNTIME_DIR", "/run/user/4242", 1);
    EXPECT_EQ(InstanceGuard::UserLockPath("M", "/fallback"), "/run/user/4242/M.user.lock");
    ::setenv("XDG_RUNTIME_DIR", "", 1);
    EXPECT_EQ(InstanceGuard::UserLockPath("M", "/fallback"), "/fallback/M.user.lock");
    ::setenv("MIROVA_LOCK_DIR", "", 1);
    EXPECT_EQ(InstanceGuard::MachineLockPath("M"), "/tmp/M.lock");
}

}  // namespace
}  // namespace mirova::platform
