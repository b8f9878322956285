#include "AppTesting.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdlib>
#include <sstream>
#include <thread>

#include "TreeSnapshot.h"

extern char** environ;

namespace mirova::test {

ScopedEnv::ScopedEnv(const char* name, std::optional<std::string> value) : name_(name) {
    if (const char* previous = std::getenv(name)) {
        previous_ = previous;
    }
    if (value) {
        ::setenv(name, value->c_str(), 1);
    } else {
        ::unsetenv(name);
    }
}

ScopedEnv::~ScopedEnv() {
    if (previous_) {
        ::setenv(name_, previous_->c_str(), 1);
    } else {
        ::unsetenv(name_);
    }
}

pid_t StartMirova(const TempDir& dir, const std::vector<std::string>& arguments,
                  const std::string& prefix) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    for (const auto& [fd, name] : {std::pair{1, "out.txt"}, std::pair{2, "err.txt"}}) {
        posix_spawn_file_actions_addopen(&actions, fd, (dir / (prefix + name)).c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0600);
    }
    std::vector<std::string> all = {MIROVA_EXE};
    all.insert(all.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& argument : all) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawn(&pid, MIROVA_EXE, &actions, nullptr, argv.data(), environ) != 0) {
        pid = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

void MakeTree(const TempDir& dir, const std::string& layout) {
    std::istringstream items(layout);
    for (std::string item; items >> item;) {
        if (item.ends_with('/')) {
            dir.createFolder(item);
            continue;
        }
        const std::size_t at = item.find('@');
        const std::int64_t time =
            at == std::string::npos ? 1700000000 : std::stoll(item.substr(at + 1));
        item = item.substr(0, at);
        const std::size_t equals = item.find('=');
        dir.createFile(item.substr(0, equals),
                       equals == std::string::npos ? "" : item.substr(equals + 1), time);
    }
}

ProcessOutcome RunMirova(const TempDir& dir, const std::vector<std::string>& arguments) {
    ProcessOutcome outcome;
    const pid_t pid = StartMirova(dir, arguments, "std");
    if (pid > 0) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
        int status = 0;
        while (::waitpid(pid, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > deadline) {
                ::kill(pid, SIGKILL);
                ::waitpid(pid, &status, 0);
                outcome.err = "still running after 120 s: killed\n";
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    outcome.out = ReadFileText(dir / "stdout.txt");
    outcome.err += ReadFileText(dir / "stderr.txt");
    return outcome;
}

void SetTestPreset(PresetTable& table, const TempDir& dir, int number, int mergeMode,
                   int useExclusions) {
    const std::string n = std::to_string(number);
    table.presets[static_cast<std::size_t>(number - 1)] =
        Preset{dir / ("s" + n), dir / ("d" + n), "preset " + n, mergeMode, useExclusions};
}

std::string TreeDifferences(const std::string& source, const std::string& target) {
    return DescribeDifferences(SnapshotTree(source), SnapshotTree(target));
}

}  // namespace mirova::test
