#pragma once

#include <string>
#include <vector>

#include "TempDir.h"

namespace mirova::test {

// While it lives, XDG_CONFIG_HOME points at the "config" folder of a test's temporary folder,
// so that the settings store of the test (and of programs it starts) never reaches the user's.
class ScopedConfigHome {
public:
    explicit ScopedConfigHome(const TempDir& dir);
    ~ScopedConfigHome();
    ScopedConfigHome(const ScopedConfigHome&) = delete;
    ScopedConfigHome& operator=(const ScopedConfigHome&) = delete;

    const std::string& path() const { return path_; }
    // Where the settings file must be.
    std::string settingsFile() const { return path_ + "/TK-ORVELAN/Mirova.conf"; }

private:
    std::string path_;
    std::string previous_;
    bool hadPrevious_ = false;
};

// While it lives, the lock files of the program (and of programs a test starts) lie in the
// test's own folder.
class ScopedLockDir {
public:
    explicit ScopedLockDir(const TempDir& dir);
    ~ScopedLockDir();
    ScopedLockDir(const ScopedLockDir&) = delete;
    ScopedLockDir& operator=(const ScopedLockDir&) = delete;
};

struct ProcessOutcome {
    int status = -1;
    std::string out;
    std::string err;
};

// Starts the real executable with standard input from /dev/null (no terminal) and the test's
// environment; its output is collected in files of the temporary folder.
ProcessOutcome RunMirova(const TempDir& dir, const std::vector<std::string>& arguments);

}  // namespace mirova::test
