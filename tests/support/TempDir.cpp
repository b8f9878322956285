#include "TempDir.h"

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace mirova::test {
namespace {

// Calls enter(folder, name) for every item below an open folder as it is met, and leave(folder,
// name) once everything below it has been seen, so that trees deeper than PATH_MAX are reached
// too. Links are never followed.
template <typename Enter, typename Leave>
void ForEachBelow(int folder, const Enter& enter, const Leave& leave) {
    DIR* listing = ::fdopendir(::dup(folder));
    while (const dirent* item = listing != nullptr ? ::readdir(listing) : nullptr) {
        const std::string name = item->d_name;
        if (name == "." || name == "..") {
            continue;
        }
        enter(folder, name.c_str());
        const int child = ::openat(folder, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW);
        if (child >= 0) {
            ForEachBelow(child, enter, leave);
            ::close(child);
        }
        leave(folder, name.c_str());
    }
    if (listing != nullptr) {
        ::closedir(listing);
    }
}

// Removes everything below an open folder. Tests make folders unreadable: the owner's access to
// a folder is given back before it is entered.
void RemoveContents(int folder) {
    const auto giveAccess = [](int parent, const char* name) {
        struct stat st {};
        if (::fstatat(parent, name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode)) {
            ::fchmodat(parent, name, 0700, 0);
        }
    };
    ForEachBelow(folder, giveAccess, [](int parent, const char* name) {
        if (::unlinkat(parent, name, 0) != 0) {
            ::unlinkat(parent, name, AT_REMOVEDIR);
        }
    });
}

constexpr uid_t kNobody = 65534;

void MakeParents(const std::string& path) {
    for (std::size_t i = 1; i < path.size(); ++i) {
        if (path[i] == '/') {
            ::mkdir(path.substr(0, i).c_str(), 0777);
        }
    }
}

// Creates the folder: below $TMPDIR, else /tmp.
std::string NewTempFolder() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/mirova-test-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) {
        ADD_FAILURE() << "mkdtemp failed for " << pattern;
    }
    return pattern;
}

}  // namespace

TempDir::TempDir()
    : path_(NewTempFolder()), logDirVariable_("MIROVA_LOG_DIR", (path_ + "/log").c_str()) {}

TempDir::~TempDir() {
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

void TempDir::make(std::string_view layout, char separator, std::int64_t seconds) const {
    for (std::size_t at = 0, end = 0; at < layout.size(); at = end + 1) {
        end = std::min(layout.find(separator, at), layout.size());
        const std::string item(layout.substr(at, end - at));
        const std::size_t arrow = item.find("->"), is = item.find('='), stamp = item.find('@');
        const std::string name = item.substr(0, std::min({arrow, is, stamp}));
        if (arrow < is) {
            MakeParents(*this / name);
            if (::symlink((*this / item.substr(arrow + 2)).c_str(), (*this / name).c_str()) != 0) {
                ADD_FAILURE() << "cannot make the link " << name;
            }
        } else if (item.ends_with('/')) {
            createFolder(item);
        } else if (!item.empty()) {
            createFile(name, is < item.size() ? item.substr(is + 1, stamp - is - 1) : "",
                       stamp < item.size() ? std::stoll(item.substr(stamp + 1)) : seconds);
        }
    }
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
        // Everything below it goes to the unprivileged user.
        const auto give = [](int parent, const char* name) {
            ::fchownat(parent, name, kNobody, kNobody, AT_SYMLINK_NOFOLLOW);
        };
        ForEachBelow(folder, give, [](int, const char*) {});
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
