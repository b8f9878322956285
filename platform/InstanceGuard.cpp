#include "platform/InstanceGuard.h"

#include <sys/file.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>

namespace mirova::platform {
namespace {

std::string LockFolderOverride() {
    const char* folder = std::getenv("MIROVA_LOCK_DIR");
    return folder != nullptr && *folder != '\0' ? folder : "";
}

// Opens (creating) a lock file without following a link planted at its name, and takes an
// exclusive lock without waiting. Returns the descriptor, or -1 with errno set: EWOULDBLOCK when
// another process holds the lock.
int LockFile(const std::string& path, mode_t mode) {
    int fd;
    do {
        fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, mode);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        return -1;
    }
    // Other users must be able to open the machine-wide file too, whatever the umask.
    (void)::fchmod(fd, mode);
    while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno != EINTR) {
            const int error = errno;
            ::close(fd);
            errno = error;
            return -1;
        }
    }
    return fd;
}

}  // namespace

std::string InstanceGuard::UserLockPath(const std::string& name,
                                        const std::string& fallbackFolder) {
    std::string folder = LockFolderOverride();
    if (folder.empty()) {
        const char* runtime = std::getenv("XDG_RUNTIME_DIR");
        folder = runtime != nullptr && *runtime != '\0' ? runtime : fallbackFolder;
    }
    return folder + "/" + name + ".user.lock";
}

std::string InstanceGuard::MachineLockPath(const std::string& name) {
    const std::string folder = LockFolderOverride();
    return (folder.empty() ? std::string("/tmp") : folder) + "/" + name + ".lock";
}

InstanceGuard::Result InstanceGuard::Acquire(const std::string& name,
                                             const std::string& fallbackFolder) {
    Release();
    const int user = LockFile(UserLockPath(name, fallbackFolder), 0600);
    if (user < 0) {
        // The per-user lock is the guard itself: one that cannot be taken for any reason (held
        // by a running copy, or a folder or an unreadable file in its place) refuses the start,
        // since a second copy could not be told apart from the first. The machine-wide lock
        // below is best effort.
        return Result::RunningForThisUser;
    }
    user_.reset(user);
    const int machine = LockFile(MachineLockPath(name), 0666);
    if (machine < 0) {
        if (errno == EWOULDBLOCK) {
            return Result::RunningForOtherUser;
        }
        return Result::Acquired;
    }
    machine_.reset(machine);
    return Result::Acquired;
}

void InstanceGuard::Release() {
    machine_.reset();
    user_.reset();
}

}  // namespace mirova::platform
