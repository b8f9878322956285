#include "AppTesting.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cstdlib>

extern char** environ;

namespace mirova::test {

ScopedConfigHome::ScopedConfigHome(const TempDir& dir) : path_(dir / "config") {
    if (const char* previous = std::getenv("XDG_CONFIG_HOME")) {
        previous_ = previous;
        hadPrevious_ = true;
    }
    ::setenv("XDG_CONFIG_HOME", path_.c_str(), 1);
}

ScopedConfigHome::~ScopedConfigHome() {
    if (hadPrevious_) {
        ::setenv("XDG_CONFIG_HOME", previous_.c_str(), 1);
    } else {
        ::unsetenv("XDG_CONFIG_HOME");
    }
}

ScopedLockDir::ScopedLockDir(const TempDir& dir) {
    ::setenv("MIROVA_LOCK_DIR", (dir / "lock").c_str(), 1);
}

ScopedLockDir::~ScopedLockDir() {
    ::unsetenv("MIROVA_LOCK_DIR");
}

ProcessOutcome RunMirova(const TempDir& dir, const std::vector<std::string>& arguments) {
    const std::string outPath = dir / "stdout.txt";
    const std::string errPath = dir / "stderr.txt";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    std::vector<std::string> all = {MIROVA_EXE};
    all.insert(all.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& argument : all) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);
    pid_t pid = 0;
    ProcessOutcome outcome;
    if (posix_spawn(&pid, MIROVA_EXE, &actions, nullptr, argv.data(), environ) == 0) {
        int status = 0;
        waitpid(pid, &status, 0);
        outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    posix_spawn_file_actions_destroy(&actions);
    outcome.out = ReadFileText(outPath);
    outcome.err = ReadFileText(errPath);
    return outcome;
}

}  // namespace mirova::test
