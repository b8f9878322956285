#pragma once

#include <sys/types.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

namespace mirova::test {

// Sets an environment variable (clears it, given null) while it lives, or anew by Set; the old
// value comes back at the end.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value)
        : name_(name), had_(std::getenv(name) != nullptr), old_(had_ ? std::getenv(name) : "") {
        Set(value);
    }
    ~ScopedEnv() { Set(had_ ? old_.c_str() : nullptr); }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;
    void Set(const char* value) const {
        value != nullptr ? ::setenv(name_, value, 1) : ::unsetenv(name_);
    }

private:
    const char* name_;
    bool had_;
    std::string old_;
};

// A fresh folder below $TMPDIR (or /tmp), removed with everything in it when the object dies.
// While it lives, MIROVA_LOG_DIR points at its "log" subfolder, so that the run log and the side
// lists of a test never reach the user's own.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    // path() + "/" + relative
    std::string operator/(std::string_view relative) const;
    std::string logDir() const { return path_ + "/log"; }

    // Creates a file (and its missing parent folders) with the given content; when mtimeSeconds
    // is not negative the last-write time is set to it (seconds since 1970, plus nanoseconds).
    void createFile(std::string_view relative, std::string_view content = {},
                    std::int64_t mtimeSeconds = -1, long mtimeNanoseconds = 0) const;
    void createFolder(std::string_view relative) const;
    // Makes a tree from a layout of items parted by `separator`: "path/" a folder, "path->target"
    // a link to a path below this folder, "path=content@seconds" a file (content and time
    // optional; without a time, `seconds`, and when that is negative, now).
    void make(std::string_view layout, char separator = ' ', std::int64_t seconds = -1) const;
    // Reads a file below the folder, or "" when it is missing.
    std::string read(std::string_view relative) const;
    // Reads the run log of this test.
    std::string readLog() const;

private:
    std::string path_;
    ScopedEnv logDirVariable_;
};

// Root passes every permission check, and tests of unreadable folders and read-only files run
// as root in CI. While this object lives, a process started as root acts as the unprivileged
// user "nobody" (effective ids only, so root is restored afterwards), and the temporary folder
// is handed to that user first. Without root it does nothing.
class ScopedUnprivileged {
public:
    explicit ScopedUnprivileged(const TempDir& dir);
    ~ScopedUnprivileged();
    ScopedUnprivileged(const ScopedUnprivileged&) = delete;
    ScopedUnprivileged& operator=(const ScopedUnprivileged&) = delete;

private:
    bool dropped_ = false;
};

// Reads a whole file; "" when it cannot be read.
std::string ReadFileText(const std::string& path);
// Sets the last-write time of a path, seconds since 1970 plus nanoseconds, without following a
// link.
void SetModificationTime(const std::string& path, std::int64_t seconds, long nanoseconds = 0);

}  // namespace mirova::test
