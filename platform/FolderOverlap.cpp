#include "platform/FolderOverlap.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <fstream>
#include <sstream>
#include <string_view>
#include <vector>

#include "platform/UniqueFd.h"

namespace mirova::platform {
namespace {

// O_PATH needs only search permission, as the kernel's own walk does. Links are followed: the
// folders are taken as the user typed them.
constexpr int kFolderFlags = O_PATH | O_DIRECTORY | O_CLOEXEC;
// No real tree is this deep; a climb that goes on longer would never end.
constexpr std::size_t kMaxDepth = 1 << 16;

struct Identity {
    dev_t dev = 0;
    ino_t ino = 0;
    bool operator==(const Identity&) const = default;
};

using Chain = std::vector<Identity>;  // a folder, then its parent, ... up to the root

int OpenAt(int dir, const char* name) {
    int fd;
    do {
        fd = ::openat(dir, name, kFolderFlags);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

// Opens the folder at path one component at a time, as the kernel resolves it. With `missing`
// given, the components after the first missing one stay missing instead of failing, and
// "new/.." comes back to the folder before "new", as it will once "new" is created; `fd` is then
// the nearest existing ancestor and `missing` the levels still to be created below it.
SysStatus Locate(const std::string& path, UniqueFd& fd, int* missing = nullptr) {
    if (path.empty()) {
        return SysStatus{ENOENT};
    }
    UniqueFd current(OpenAt(AT_FDCWD, path.front() == '/' ? "/" : "."));
    if (!current.valid()) {
        return SysStatus::FromErrno();
    }
    int levels = 0;
    std::size_t start = 0;
    while (start < path.size()) {
        const std::size_t end = std::min(path.find('/', start), path.size());
        const std::string name = path.substr(start, end - start);
        start = end + 1;
        if (name.empty() || name == ".") {
            continue;
        }
        if (levels > 0) {
            levels += name == ".." ? -1 : 1;
            continue;
        }
        UniqueFd next(OpenAt(current.get(), name.c_str()));
        if (!next.valid()) {
            if (errno != ENOENT || missing == nullptr) {
                return SysStatus::FromErrno();
            }
            levels = 1;
            continue;
        }
        current = std::move(next);
    }
    fd = std::move(current);
    if (missing != nullptr) {
        *missing = levels;
    }
    return SysStatus::Ok();
}

// Climbs ".." from the folder until ".." is the folder itself. From a bind mount this climbs
// the parents of the mount point, not those of the original folder; the mounts check that.
SysStatus IdentityChain(int fd, Chain& chain) {
    struct stat st;
    if (::fstat(fd, &st) != 0) {
        return SysStatus::FromErrno();
    }
    chain.assign(1, Identity{st.st_dev, st.st_ino});
    UniqueFd current;
    int at = fd;
    while (chain.size() < kMaxDepth) {
        UniqueFd parent(OpenAt(at, ".."));
        if (!parent.valid() || ::fstat(parent.get(), &st) != 0) {
            return SysStatus::FromErrno();
        }
        const Identity id{st.st_dev, st.st_ino};
        if (id == chain.back()) {
            return SysStatus::Ok();
        }
        chain.push_back(id);
        current = std::move(parent);
        at = current.get();
    }
    return SysStatus{ELOOP};
}

// targetWithin: the target is the source or lies below it; sourceWithin the other way round.
// For a missing target the tests were made on its nearest existing ancestor.
FolderOverlap Classify(bool same, bool targetWithin, bool sourceWithin, bool targetMissing) {
    if (targetMissing) {
        return targetWithin ? FolderOverlap::TargetInsideSource : FolderOverlap::None;
    }
    if (same) {
        return FolderOverlap::Same;
    }
    if (targetWithin) {
        return FolderOverlap::TargetInsideSource;
    }
    return sourceWithin ? FolderOverlap::SourceInsideTarget : FolderOverlap::None;
}

// Component-wise: "/a/src2" is not within "/a/src".
bool IsWithin(std::string_view path, std::string_view folder) {
    if (folder == "/") {
        return path.starts_with('/');
    }
    return path.starts_with(folder) && (path.size() == folder.size() || path[folder.size()] == '/');
}

// mountinfo writes space, tab, newline and backslash in paths as octal escapes ("\040").
std::string Unescape(std::string_view field) {
    std::string text;
    for (std::size_t i = 0; i < field.size(); ++i) {
        const auto octal = [&](std::size_t at) { return field[at] >= '0' && field[at] <= '7'; };
        if (field[i] == '\\' && field.size() - i >= 4 && octal(i + 1) && octal(i + 2) &&
            octal(i + 3)) {
            text += static_cast<char>((field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 +
                                      (field[i + 3] - '0'));
            i += 3;
        } else {
            text += field[i];
        }
    }
    return text;
}

struct Mount {
    std::string device;  // "major:minor" of the file system
    std::string root;    // the folder of that file system shown at the mount point
    std::string point;
};

// A folder named by its place inside its file system, the same for all bind mounts of it.
struct MountPlace {
    std::string device;
    std::string path;
};

// Empty when /proc is not there; the identity chains then decide alone.
std::vector<Mount> ReadMounts() {
    std::vector<Mount> mounts;
    std::ifstream in("/proc/self/mountinfo");
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string id, parent, device, root, point;
        if (fields >> id >> parent >> device >> root >> point) {
            mounts.push_back(Mount{device, Unescape(root), Unescape(point)});
        }
    }
    return mounts;
}

// The kernel's own name for the open folder, in this process's view of the mounts, so that it
// names the mount the folder was reached through.
bool PlaceOf(int fd, const std::vector<Mount>& mounts, MountPlace& out) {
    const std::string link = "/proc/self/fd/" + std::to_string(fd);
    char buffer[PATH_MAX];
    const ssize_t length = ::readlink(link.c_str(), buffer, sizeof buffer);
    if (length <= 0 || static_cast<std::size_t>(length) >= sizeof buffer || buffer[0] != '/') {
        return false;
    }
    const std::string path(buffer, static_cast<std::size_t>(length));
    // Later entries are mounted on top of earlier ones at the same point.
    const Mount* best = nullptr;
    for (const Mount& mount : mounts) {
        if (IsWithin(path, mount.point) &&
            (best == nullptr || mount.point.size() >= best->point.size())) {
            best = &mount;
        }
    }
    if (best == nullptr) {
        return false;
    }
    const std::string below = best->point == "/" ? path : path.substr(best->point.size());
    out.device = best->device;
    out.path = best->root == "/" ? (below.empty() ? "/" : below) : best->root + below;
    return true;
}

FolderOverlap MountOverlap(int source, int target, bool targetMissing) {
    const std::vector<Mount> mounts = ReadMounts();
    MountPlace s, t;
    if (!PlaceOf(source, mounts, s) || !PlaceOf(target, mounts, t) || s.device != t.device) {
        return FolderOverlap::None;
    }
    return Classify(s.path == t.path, IsWithin(t.path, s.path), IsWithin(s.path, t.path),
                    targetMissing);
}

}  // namespace

SysStatus FindFolderOverlap(const std::string& source, const std::string& target,
                            FolderOverlap& out) {
    UniqueFd sourceFd, targetFd;
    int targetMissing = 0;
    SysStatus status = Locate(source, sourceFd);
    if (status.ok()) {
        status = Locate(target, targetFd, &targetMissing);
    }
    Chain sourceChain, targetChain;
    if (status.ok()) {
        status = IdentityChain(sourceFd.get(), sourceChain);
    }
    if (status.ok()) {
        status = IdentityChain(targetFd.get(), targetChain);
    }
    if (!status.ok()) {
        return status;
    }
    const auto contains = [](const Chain& chain, const Identity& id) {
        return std::find(chain.begin(), chain.end(), id) != chain.end();
    };
    FolderOverlap found = Classify(sourceChain.front() == targetChain.front(),
                                   contains(targetChain, sourceChain.front()),
                                   contains(sourceChain, targetChain.front()), targetMissing > 0);
    // A bind mount of a folder inside the other shows only in the mounts.
    if (found == FolderOverlap::None) {
        found = MountOverlap(sourceFd.get(), targetFd.get(), targetMissing > 0);
    }
    out = found;
    return SysStatus::Ok();
}

}  // namespace mirova::platform
