#include "TempDir.h"

#include <fcntl.h>
#include <ftw.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace mirova::test {
namespace {

int RemoveOne(const char* path, const struct stat*, int, struct FTW*) {
    // Tests make folders unreadable; give the owner access back so that the walk can finish.
    ::chmod(path, 0700);
    ::remove(path);
    return 0;
}

void MakeParents(const std::string& path) {
    for (std::size_t i = 1; i < path.size(); ++i) {
        if (path[i] == '/') {
            ::mkdir(path.substr(0, i).c_str(), 0777);
        }
    }
}

void RestoreAccess(const std::string& root) {
    // nftw cannot enter folders without permissions; open them up first, top down.
    nftw(
        root.c_str(),
        [](const char* p, const struct stat* st, int type, struct FTW*) {
            if (type == FTW_D || type == FTW_DNR) {
                ::chmod(p, 0700);
            }
            (void)st;
            return 0;
        },
        64, FTW_PHYS);
}

}  // namespace

TempDir::TempDir() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/mirova-test-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) {
        ADD_FAILURE() << "mkdtemp failed for " << pattern;
    }
    path_ = pattern;
    const char* old = std::getenv("MIROVA_LOG_DIR");
    hadLogDir_ = old != nullptr;
    if (old) {
        previousLogDir_ = old;
    }
    ::setenv("MIROVA_LOG_DIR", logDir().c_str(), 1);
}

TempDir::~TempDir() {
    if (hadLogDir_) {
        ::setenv("MIROVA_LOG_DIR", previousLogDir_.c_str(), 1);
    } else {
        ::unsetenv("MIROVA_LOG_DIR");
    }
    RestoreAccess(path_);
    nftw(path_.c_str(), RemoveOne, 64, FTW_DEPTH | FTW_PHYS);
}

std::string TempDir::operator/(std::string_view relative) const {
    return path_ + "/" + std::string(relative);
}

void TempDir::createFile(std::string_view relative, std::string_view content,
                         std::int64_t mtimeSeconds, long mtimeNanoseconds) const {
    const std::string full = *this / relative;
    MakeParents(full);
    std::ofstream out(full, std::ios::binary | std::ios::trunc);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
    out.close();
    if (!out) {
        ADD_FAILURE() << "cannot write " << full;
    }
    if (mtimeSeconds >= 0) {
        SetModificationTime(full, mtimeSeconds, mtimeNanoseconds);
    }
}

void TempDir::createFolder(std::string_view relative) const {
    const std::string full = *this / relative;
    MakeParents(full + "/");
}

std::string TempDir::read(std::string_view relative) const {
    return ReadFileText(*this / relative);
}

std::string TempDir::readLog() const {
    return ReadFileText(logDir() + "/Mirova.log");
}

std::string ReadFileText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void SetModificationTime(const std::string& path, std::int64_t seconds, long nanoseconds) {
    timespec times[2];
    times[0].tv_sec = static_cast<time_t>(seconds);
    times[0].tv_nsec = nanoseconds;
    times[1] = times[0];
    if (::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW) != 0) {
        ADD_FAILURE() << "utimensat failed for " << path;
    }
}

}  // namespace mirova::test
