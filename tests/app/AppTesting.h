#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

#include "TempDir.h"
#include "settings/Preset.h"

namespace mirova::test {

// While it lives, an environment variable has the given value (nullopt: is removed); the value
// before is restored afterwards.
class ScopedEnv {
public:
    ScopedEnv(const char* name, std::optional<std::string> value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    const char* name_;
    std::optional<std::string> previous_;
};

// While it lives, XDG_CONFIG_HOME points at the "config" folder of a test's temporary folder,
// so that the settings store of the test (and of programs it starts) never reaches the user's.
class ScopedConfigHome {
public:
    explicit ScopedConfigHome(const TempDir& dir)
        : path_(dir / "config"), env_("XDG_CONFIG_HOME", path_) {}
    // Where the settings file must be.
    std::string settingsFile() const { return path_ + "/TK-ORVELAN/Mirova.conf"; }

private:
    std::string path_;
    ScopedEnv env_;
};

// While it lives, the lock files of the program (and of programs a test starts) lie in the
// "lock" folder of the test's own folder.
class ScopedLockDir : public ScopedEnv {
public:
    explicit ScopedLockDir(const TempDir& dir) : ScopedEnv("MIROVA_LOCK_DIR", dir / "lock") {
        dir.createFolder("lock");
    }
};

// While it lives, the programs a test starts find no display, and so run the console front end.
struct ScopedNoDisplay {
    ScopedEnv display{"DISPLAY", std::nullopt};
    ScopedEnv wayland{"WAYLAND_DISPLAY", std::nullopt};
    ScopedEnv platform{"QT_QPA_PLATFORM", std::nullopt};
};

struct ProcessOutcome {
    int status = -1;
    std::string out;
    std::string err;
};

// Starts the real executable with standard input from /dev/null (no terminal) and the test's
// environment; its output goes to "<prefix>out.txt" and "<prefix>err.txt" of the temporary
// folder. -1 when it cannot start.
pid_t StartMirova(const TempDir& dir, const std::vector<std::string>& arguments,
                  const std::string& prefix);
// StartMirova, then waits for the end and collects the output. A program still running after two
// minutes (waiting for a user nobody plays) is killed, so that a fault fails a test instead of
// hanging it.
ProcessOutcome RunMirova(const TempDir& dir, const std::vector<std::string>& arguments);

// Puts into the table preset `number` (1-based): folder "sN" into "dN" of the temporary folder,
// captioned "preset N".
void SetTestPreset(PresetTable& table, const TempDir& dir, int number, int mergeMode = 0,
                   int useExclusions = 0);
// The differences of two real trees ("" when the target mirrors the source).
std::string TreeDifferences(const std::string& source, const std::string& target);

}  // namespace mirova::test
