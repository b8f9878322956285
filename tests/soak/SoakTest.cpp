// Convergence soak: random changes to real trees, then the real executable, then an independent
// walk of both trees against a small model of what a sync or a merge must leave.
// MIROVA_SOAK_ROUNDS sets the number of rounds (a long soak), MIROVA_SOAK_SEED the first seed.
#include <signal.h>
#include <sys/wait.h>

#include <chrono>
#include <thread>

#include "../engine/RandomTrees.h"
#include "TempDir.h"

namespace mirova::soak {
namespace {

int EnvInt(const char* name, int fallback) {
    const char* text = std::getenv(name);
    return text != nullptr && *text != '\0' ? std::atoi(text) : fallback;
}

// Starts the real executable with its output in the scratch folder; a hang is killed.
std::pair<int, std::string> RunMirova(const std::string& scratch, std::vector<std::string> args) {
    const std::string outPath = scratch + "/output.txt";
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ::dup2(::open("/dev/null", O_RDONLY), 0);
        ::dup2(out, 1);
        ::dup2(out, 2);
        std::vector<char*> argv{const_cast<char*>(MIROVA_EXE)};
        for (std::string& a : args) {
            argv.push_back(a.data());
        }
        argv.push_back(nullptr);
        ::execv(MIROVA_EXE, argv.data());
        ::_exit(127);
    }
    int status = 0;
    for (int waited = 0; ::waitpid(pid, &status, WNOHANG) == 0; ++waited) {
        if (waited == 12000) {  // two minutes
            ::kill(pid, SIGKILL);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    std::ifstream in(outPath, std::ios::binary);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status),
            std::string(std::istreambuf_iterator<char>(in), {}).substr(0, 4000)};
}

class Soak : public ::testing::Test {
protected:
    void SetUp() override {
        ::setenv("XDG_CONFIG_HOME", (dir_ / "config").c_str(), 1);
        ::setenv("MIROVA_LOCK_DIR", dir_.logDir().c_str(), 1);
        dir_.createFolder("src");
        dir_.createFolder("dst");
    }
    test::TempDir dir_;  // also points MIROVA_LOG_DIR at its own folder
};

TEST_F(Soak, SyncAndMergeConverge) {
    test::Converge(dir_ / "src", dir_ / "dst", EnvInt("MIROVA_SOAK_SEED", 1),
                   EnvInt("MIROVA_SOAK_ROUNDS", 80), [this](bool merge) {
                       const auto [status, output] = RunMirova(
                           dir_.path(), {merge ? "--merge" : "--sync", dir_ / "src", dir_ / "dst",
                                         "--yes", "--no-stop-on-error", "--allow-mass-delete"});
                       EXPECT_EQ(status, 0) << output;
                       return "output:\n" + output + "log:\n" + dir_.readLog();
                   });
}

// A target given as a relative path gets its folders too.
TEST_F(Soak, SyncCreatesFoldersBelowARelativeTarget) {
    dir_.createFile("src/sub/a", "a");
    const std::filesystem::path previous = std::filesystem::current_path();
    std::filesystem::current_path(dir_.path());
    const auto [status, output] =
        RunMirova(dir_.path(), {"--sync", "src", "dst", "--yes", "--no-stop-on-error"});
    std::filesystem::current_path(previous);
    EXPECT_EQ(status, 0) << output;
    EXPECT_EQ(test::DescribeDifferences(test::ReadTree(dir_ / "src"), test::ReadTree(dir_ / "dst")),
              "")
        << dir_.readLog();
}

}  // namespace
}  // namespace mirova::soak
