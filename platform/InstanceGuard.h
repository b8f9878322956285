#pragma once

#include <string>

#include "platform/UniqueFd.h"

namespace mirova::platform {

// Keeps a second copy of the program from running: an exclusive lock on a per-user lock file
// ($XDG_RUNTIME_DIR, else a folder of the caller's choice) and on a machine-wide one
// (/tmp/<name>.lock, opened without following links). The kernel releases both when the process
// ends, even after a crash. MIROVA_LOCK_DIR moves both files (tests that start the program in
// parallel). One copy per machine: the user limit is 1.
class InstanceGuard {
public:
    enum class Result {
        Acquired,
        RunningForThisUser,   // "「%s」を複数起動することはできません。"
        RunningForOtherUser,  // "「%s」は既に%dユーザーで起動中です。"
    };

    InstanceGuard() = default;
    InstanceGuard(const InstanceGuard&) = delete;
    InstanceGuard& operator=(const InstanceGuard&) = delete;
    ~InstanceGuard() { Release(); }

    // fallbackFolder holds the per-user lock file when $XDG_RUNTIME_DIR is not set. When the
    // machine-wide file cannot be opened (another user's file that this one may not open), the
    // program runs with the per-user check alone.
    Result Acquire(const std::string& name, const std::string& fallbackFolder);
    void Release();

    // Where the two lock files of a name lie.
    static std::string UserLockPath(const std::string& name, const std::string& fallbackFolder);
    static std::string MachineLockPath(const std::string& name);

private:
    UniqueFd user_;
    UniqueFd machine_;
};

}  // namespace mirova::platform
