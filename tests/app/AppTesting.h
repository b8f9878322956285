#pragma once

#include <gmock/gmock.h>

#include "TempDir.h"
#include "TreeSnapshot.h"
#include "settings/Preset.h"

namespace mirova::test {

// A test's own temporary folder, which holds the settings and lock files of the program and of
// the programs the test starts while it lives.
class TestFolder : public TempDir {
public:
    TestFolder() { createFolder("lock"); }
    std::string readSettings() const { return read("config/TK-ORVELAN/Mirova.conf"); }
    void writeSettings(const std::string& text) const {
        createFile("config/TK-ORVELAN/Mirova.conf", text);
    }

private:
    ScopedEnv config_{"XDG_CONFIG_HOME", (*this / "config").c_str()};
    ScopedEnv lock_{"MIROVA_LOCK_DIR", (*this / "lock").c_str()};
};

// Makes a tree from a layout parted by blanks (TempDir::make), files at 1700000000 unless timed.
inline void MakeTree(const TempDir& dir, const std::string& layout) {
    dir.make(layout, ' ', 1700000000);
}

// Puts into the table preset `number` (1-based): "sN" into "dN" of the folder, caption "preset N".
inline void SetTestPreset(PresetTable& table, const TempDir& dir, int number, int mergeMode = 0,
                          int useExclusions = 0) {
    const std::string n = std::to_string(number);
    table.presets[static_cast<std::size_t>(number - 1)] =
        Preset{dir / ("s" + n), dir / ("d" + n), "preset " + n, mergeMode, useExclusions};
}

}  // namespace mirova::test
