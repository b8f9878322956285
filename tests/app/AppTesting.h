#pragma once

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <sstream>
#include <string>

#include "TempDir.h"
#include "TreeSnapshot.h"
#include "settings/Preset.h"

namespace mirova::test {

// While it lives, an environment variable has the given value (nullopt: unset), then its old one.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::optional<std::string>& value) : name_(name) {
        if (const char* previous = std::getenv(name)) {
            previous_ = previous;
        }
        Set(value);
    }
    ~ScopedEnv() { Set(previous_); }
    void Set(const std::optional<std::string>& value) {
        value ? ::setenv(name_, value->c_str(), 1) : ::unsetenv(name_);
    }

private:
    const char* name_;
    std::optional<std::string> previous_;
};

// A test's own temporary folder, which holds the settings file and the lock files of the program
// and of the programs the test starts while it lives.
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

// Makes a tree from a layout: items separated by blanks, "path=content@seconds" for a file
// (content and time optional; the time defaults to 1700000000), "path/" for a folder.
inline void MakeTree(const TempDir& dir, const std::string& layout) {
    std::istringstream items(layout);
    for (std::string item; items >> item;) {
        const std::size_t at = item.find('@'), equals = item.find('=');
        if (item.ends_with('/')) {
            dir.createFolder(item);
        } else {
            dir.createFile(
                item.substr(0, std::min(at, equals)),
                equals == std::string::npos ? "" : item.substr(equals + 1, at - equals - 1),
                at == std::string::npos ? 1700000000 : std::stoll(item.substr(at + 1)));
        }
    }
}

// Puts into the table preset `number` (1-based): "sN" into "dN" of the folder, caption "preset N".
inline void SetTestPreset(PresetTable& table, const TempDir& dir, int number, int mergeMode = 0,
                          int useExclusions = 0) {
    const std::string n = std::to_string(number);
    table.presets[static_cast<std::size_t>(number - 1)] =
        Preset{dir / ("s" + n), dir / ("d" + n), "preset " + n, mergeMode, useExclusions};
}

// The differences of two real trees ("" when the target mirrors the source).
inline std::string TreeDifferences(const std::string& source, const std::string& target) {
    return DescribeDifferences(SnapshotTree(source), SnapshotTree(target));
}

}  // namespace mirova::test
