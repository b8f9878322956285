// Random trees, the real executable, and RandomTrees.h's model of what it must leave.
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

TEST(Soak, SyncAndMergeConverge) {
    const test::TempDir dir;  // also points MIROVA_LOG_DIR at its own folder
    ::setenv("XDG_CONFIG_HOME", (dir / "config").c_str(), 1);
    ::setenv("MIROVA_LOCK_DIR", dir.logDir().c_str(), 1);
    dir.createFolder("src");
    dir.createFolder("dst");
    const std::string src = dir / "src", dst = dir / "dst", out = dir / "output.txt";
    test::Converge(
        src, dst, EnvInt("MIROVA_SOAK_SEED", 1), EnvInt("MIROVA_SOAK_ROUNDS", 80), [&](bool merge) {
            // The real executable must exit with 0; a hang is killed after two minutes.
            const std::string command =
                std::string("timeout -s KILL 120 '" MIROVA_EXE "' ") +
                (merge ? "--merge '" : "--sync '") + src + "' '" + dst +
                "' --yes --no-stop-on-error --allow-mass-delete </dev/null >'" + out + "' 2>&1";
            const int status = std::system(command.c_str());
            const std::string output =
                "output:\n" + test::ReadFileText(out).substr(0, 4000) + "log:\n" + dir.readLog();
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status << output;
            return output;
        });
}

}  // namespace
}  // namespace mirova::soak
