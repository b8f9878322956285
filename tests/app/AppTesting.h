#pragma once

#include <gmock/gmock.h>
#include <gtest/gtest.h>
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

// A test's own temporary folder. While it lives, the settings file and the lock files of the
// program, and of the programs the test starts, lie in it, never in the user's.
class TestFolder : public TempDir {
public:
    TestFolder() { createFolder("lock"); }
    std::string settingsFile() const { return *this / "config/TK-ORVELAN/Mirova.conf"; }
    std::string readSettings() const { return ReadFileText(settingsFile()); }
    void writeSettings(const std::string& text) const {
        createFile("config/TK-ORVELAN/Mirova.conf", text);
    }

private:
    ScopedEnv config_{"XDG_CONFIG_HOME", *this / "config"};
    ScopedEnv lock_{"MIROVA_LOCK_DIR", *this / "lock"};
};

// While it lives, the programs a test starts find no display, and so run the console front end.
struct ScopedNoDisplay {
    ScopedEnv display{"DISPLAY", std::nullopt};
    ScopedEnv wayland{"WAYLAND_DISPLAY", std::nullopt};
    ScopedEnv platform{"QT_QPA_PLATFORM", std::nullopt};
};

// Makes a tree from a layout: items separated by blanks, "path=content@seconds" for a file
// (content and time optional; the time defaults to 1700000000), "path/" for a folder.
void MakeTree(const TempDir& dir, const std::string& layout);

struct ProcessOutcome {
    int status = -1;
    std::string out;
    std::string err;
};

// Starts the real executable with standard input from /dev/null (no terminal) and the test's
// environment (so from a TestFolder's life); its output goes to "<prefix>out.txt" and
// "<prefix>err.txt" of the temporary folder. -1 when it cannot start.
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
