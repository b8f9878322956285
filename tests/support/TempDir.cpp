#include "TempDir.h"

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace mirova::test {
namespace {

// Calls visit(name) for every item of an open folder but "." and "..".
template <typename Visit>
void ForEachItem(int folder, const Visit& visit) {
    DIR* listing = ::fdopendir(::dup(folder));
    if (listing == nullptr) {
        return;
    }
    while (const dirent* item = ::readdir(listing)) {
        const std::string name = item->d_name;
        if (name != "." && name != "..") {
            visit(name.c_str());
        }
    }
    ::closedir(listing);
}

// Calls work(child) with the subfolder name of an open folder opened, when it is a folder.
template <typename Work>
void InSubfolder(int folder, const char* name, const Work& work) {
    const int child = ::openat(folder, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW);
    if (child >= 0) {
        work(child);
        ::close(child);
    }
}

// Removes everything below an open folder, relative to it, so that trees deeper than PATH_MAX
// go too. Tests make folders unreadable; the owner's access is given back first.
void RemoveContents(int folder) {
    ForEachItem(folder, [folder](const char* name) {
        struct stat st {};
        if (::fstatat(folder, name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
            return;
        }
        if (!S_ISDIR(st.st_mode)) {
            ::unlinkat(folder, name, 0);
            return;
        }
        ::fchmodat(folder, name, 0700, 0);
        InSubfolder(folder, name, RemoveContents);
        ::unlinkat(folder, name, AT_REMOVEDIR);
    });
}

constexpr uid_t kNobody = 65534;

// Gives everything below an open folder to the unprivileged user.
void HandOver(int folder) {
    ForEachItem(folder, [folder](const char* name) {
        ::fchownat(folder, name, kNobody, kNobody, AT_SYMLINK_NOFOLLOW);
        InSubfolder(folder, name, HandOver);
    });
}

void MakeParents(const std::string& path) {
    for (std::size_t i = 1; i < path.size(); ++i) {
        if (path[i] == '/') {
            ::mkdir(path.substr(0, i).c_str(), 0777);
        }
    }
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
    ::chmod(path_.c_str(), 0700);
    const int folder = ::open(path_.c_str(), O_RDONLY | O_DIRECTORY);
    if (folder >= 0) {
        RemoveContents(folder);
        ::close(folder);
    }
    ::rmdir(path_.c_str());
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

ScopedUnprivileged::ScopedUnprivileged(const TempDir& dir) {
    if (::geteuid() != 0) {
        return;
    }
    ::chown(dir.path().c_str(), kNobody, kNobody);
    const int folder = ::open(dir.path().c_str(), O_RDONLY | O_DIRECTORY);
    if (folder >= 0) {
        HandOver(folder);
        ::close(folder);
    }
    // Group first: once the user is dropped, the group can no longer be changed.
    if (::setegid(kNobody) != 0 || ::seteuid(kNobody) != 0) {
        ADD_FAILURE() << "cannot act as an unprivileged user";
        return;
    }
    dropped_ = true;
}

ScopedUnprivileged::~ScopedUnprivileged() {
    if (dropped_ && (::seteuid(0) != 0 || ::setegid(0) != 0)) {
        ADD_FAILURE() << "cannot return to root";
    }
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
