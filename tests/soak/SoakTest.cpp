// Convergence soak: random changes to real trees, then the real executable, then an independent
// walk of both trees against a small model of what a sync or a merge must leave.
// MIROVA_SOAK_ROUNDS sets the number of rounds (a long soak), MIROVA_SOAK_SEED the first seed.
#include <sys/wait.h>

#include "../engine/RandomTrees.h"
#include "TempDir.h"

namespace mirova::soak {
namespace {

int EnvInt(const char* name, int fallback) {
    const char* text = std::getenv(name);
    return text != nullptr && *text != '\0' ? std::atoi(text) : fallback;
}

class Soak : public ::testing::Test {
protected:
    void SetUp() override {
        ::setenv("XDG_CONFIG_HOME", (dir_ / "config").c_str(), 1);
        ::setenv("MIROVA_LOCK_DIR", dir_.logDir().c_str(), 1);
        dir_.createFolder("src");
        dir_.createFolder("dst");
    }
    // Runs the real executable (a hang is killed after two minutes) and checks it exits with 0;
    // gives its output and the log.
    std::string RunMirova(const std::vector<std::string>& args) const {
        std::string command = "timeout -s KILL 120 '" MIROVA_EXE "'";
        for (const std::string& arg : args) {
            command += " '" + arg + "'";
        }
        const std::string out = dir_ / "output.txt";
        const int status = std::system((command + " </dev/null >'" + out + "' 2>&1").c_str());
        const std::string output =
            "output:\n" + test::ReadFileText(out).substr(0, 4000) + "log:\n" + dir_.readLog();
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status << output;
        return output;
    }
    test::TempDir dir_;  // also points MIROVA_LOG_DIR at its own folder
};

TEST_F(Soak, SyncAndMergeConverge) {
    test::Converge(dir_ / "src", dir_ / "dst", EnvInt("MIROVA_SOAK_SEED", 1),
                   EnvInt("MIROVA_SOAK_ROUNDS", 80), [this](bool merge) {
                       return RunMirova({merge ? "--merge" : "--sync", dir_ / "src", dir_ / "dst",
                                         "--yes", "--no-stop-on-error", "--allow-mass-delete"});
                   });
}

}  // namespace
}  // namespace mirova::soak
