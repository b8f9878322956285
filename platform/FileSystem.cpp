#include "platform/FileSystem.h"

#include "platform/FaultInjection.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <iterator>
#include <mutex>
#include <vector>

namespace mirova::platform {
namespace {

// Flags for the folders passed through on the way to a long path's last component: O_PATH
// needs only search permission, as the kernel's own path walk does.
constexpr int kWalkFlags = O_PATH | O_DIRECTORY | O_CLOEXEC;

// A path made ready for the *at calls. Short paths are passed on as they are, without a
// copy; long ones are anchored at the folder that holds their last component.
class AtPath {
public:
    explicit AtPath(const std::string& path) {
        if (!NeedsWalk(path)) {
            leaf_ = path.c_str();
            return;
        }
        status_ = AnchorPath(path, anchor_);
        leaf_ = anchor_.leaf.c_str();
    }
    // leaf_ may point into anchor_, which a copy or a move would leave behind.
    AtPath(const AtPath&) = delete;
    AtPath& operator=(const AtPath&) = delete;

    const SysStatus& status() const { return status_; }
    int dir() const { return anchor_.dir; }
    const char* leaf() const { return leaf_; }
    ItemPlace place() const { return ItemPlace{anchor_.dir, leaf_}; }

private:
    PathAnchor anchor_;
    SysStatus status_;
    const char* leaf_ = nullptr;
};

SysStatus Check(int result) {
    return result == 0 ? SysStatus::Ok() : SysStatus::FromErrno();
}

int OpenRetrying(int dir, const char* name, int flags, mode_t mode = 0) {
    int fd;
    do {
        fd = ::openat(dir, name, flags, mode);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

// Takes the exclusive lock that keeps two holders off one file. Only a lock held elsewhere
// refuses the file: where the file system cannot lock at all (an NFS mount refuses an
// exclusive lock on a file open for reading), the file is used unlocked rather than never.
SysStatus LockExclusive(int fd) {
    for (;;) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
            return SysStatus::Ok();
        }
        const int error = errno;
        if (error == EINTR) {
            continue;
        }
        if (error == EWOULDBLOCK || error == EAGAIN) {
            return SysStatus{error};
        }
        return SysStatus::Ok();
    }
}

// Opening was done with O_NONBLOCK so that a FIFO at the path cannot hang the call; only a
// regular file is accepted. The flag may stay: it has no effect on regular files (open(2)), and
// clearing it would cost a call per file.
SysStatus RequireRegularFile(int fd, struct stat& st) {
    if (::fstat(fd, &st) != 0) {
        return SysStatus::FromErrno();
    }
    if (!S_ISREG(st.st_mode)) {
        return SysStatus{S_ISDIR(st.st_mode) ? EISDIR : EINVAL};
    }
    return SysStatus::Ok();
}

}  // namespace

ItemInfo ItemInfoFromStat(const struct stat& st) {
    ItemInfo info;
    switch (st.st_mode & S_IFMT) {
        case S_IFREG:
            info.kind = ItemKind::File;
            break;
        case S_IFDIR:
            info.kind = ItemKind::Folder;
            break;
        case S_IFLNK:
            info.kind = ItemKind::Symlink;
            break;
        default:
            info.kind = ItemKind::System;
            break;
    }
    info.size = info.kind == ItemKind::Folder ? 0 : static_cast<std::uint64_t>(st.st_size);
    info.lastWrite = FileTimeFromTimespec(st.st_mtim);
    info.lastAccess = FileTimeFromTimespec(st.st_atim);
    info.permissions = st.st_mode & 07777;
    info.owner = st.st_uid;
    info.group = st.st_gid;
    return info;
}

bool IsHiddenName(std::string_view name) {
    return !name.empty() && name.front() == '.';
}

bool NeedsWalk(std::string_view path) {
    return path.size() >= PATH_MAX;
}

SysStatus AnchorPath(const std::string& path, PathAnchor& out) {
    out.owned.reset();
    out.dir = AT_FDCWD;
    out.failedComponent.clear();
    out.reachedLength = 0;
    if (!NeedsWalk(path)) {
        out.leaf = path;
        return SysStatus::Ok();
    }

    // Trailing separators name the same item as the path without them.
    std::size_t end = path.size();
    while (end > 0 && path[end - 1] == '/') {
        --end;
    }
    if (end == 0) {
        // Not `= "/"`: GCC 12 at -O3 takes that assignment for an overlapping copy and warns
        // (-Wrestrict, a false positive of that compiler).
        out.leaf.assign(1, '/');
        return SysStatus::Ok();
    }
    const std::size_t leafStart = path.rfind('/', end - 1) + 1;  // 0 when there is no '/'

    if (path.front() == '/') {
        out.owned.reset(OpenRetrying(AT_FDCWD, "/", kWalkFlags));
        if (!out.owned.valid()) {
            return SysStatus::FromErrno();
        }
        out.dir = out.owned.get();
    }

    char component[NAME_MAX + 1];
    std::size_t pos = 0;
    while (pos < leafStart) {
        if (path[pos] == '/') {
            ++pos;
            continue;
        }
        const std::size_t stop = path.find('/', pos);  // below leafStart, which follows a '/'
        const std::size_t length = stop - pos;
        if (length > NAME_MAX) {
            out.owned.reset();
            out.dir = AT_FDCWD;
            out.failedComponent.assign(path, pos, length);
            out.reachedLength = pos;
            return SysStatus{ENAMETOOLONG};
        }
        std::memcpy(component, path.data() + pos, length);
        component[length] = '\0';
        UniqueFd next(OpenRetrying(out.dir, component, kWalkFlags));
        if (!next.valid()) {
            const SysStatus failed = SysStatus::FromErrno();
            out.owned.reset();
            out.dir = AT_FDCWD;
            out.failedComponent.assign(component, length);
            out.reachedLength = pos;
            return failed;
        }
        out.owned = std::move(next);
        out.dir = out.owned.get();
        pos = stop + 1;
    }
    out.leaf.assign(path, leafStart, end - leafStart);
    return SysStatus::Ok();
}

SysStatus OpenFolder(const std::string& path, UniqueFd& out, FollowLinks follow) {
    const AtPath at(path);
    if (!at.status().ok()) {
        return at.status();
    }
    int flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
    if (follow == FollowLinks::No) {
        flags |= O_NOFOLLOW;
    }
    UniqueFd fd(OpenRetrying(at.dir(), at.leaf(), flags));
    if (!fd.valid()) {
        return SysStatus::FromErrno();
    }
    out = std::move(fd);
    return SysStatus::Ok();
}

SysStatus GetItemInfo(const ItemPlace& place, ItemInfo& out, FollowLinks follow) {
    struct stat st;
    const int flags = follow == FollowLinks::No ? AT_SYMLINK_NOFOLLOW : 0;
    if (::fstatat(place.dir, place.leaf, &st, flags) != 0) {
        return SysStatus::FromErrno();
    }
    out = ItemInfoFromStat(st);
    return SysStatus::Ok();
}

SysStatus CreateFolder(const ItemPlace& place, mode_t mode) {
    if (const int fault = InjectedFault(FaultCall::CreateFolder, place.leaf)) {
        return SysStatus{fault};
    }
    return Check(::mkdirat(place.dir, place.leaf, mode));
}

SysStatus RemoveFolder(const ItemPlace& place) {
    if (const int fault = InjectedFault(FaultCall::RemoveFolder, place.leaf)) {
        return SysStatus{fault};
    }
    return Check(::unlinkat(place.dir, place.leaf, AT_REMOVEDIR));
}

SysStatus DeleteFile(const ItemPlace& place) {
    if (const int fault = InjectedFault(FaultCall::Delete, place.leaf)) {
        return SysStatus{fault};
    }
    return Check(::unlinkat(place.dir, place.leaf, 0));
}

SysStatus SetTimes(const ItemPlace& place, const timespec (&times)[2]) {
    if (const int fault = InjectedFault(FaultCall::SetTimes, place.leaf)) {
        return SysStatus{fault};
    }
    return Check(::utimensat(place.dir, place.leaf, times, AT_SYMLINK_NOFOLLOW));
}

SysStatus SetOwner(const ItemPlace& place, uid_t owner, gid_t group) {
    return Check(::fchownat(place.dir, place.leaf, owner, group, AT_SYMLINK_NOFOLLOW));
}

SysStatus RenameItem(const ItemPlace& from, const ItemPlace& to) {
    if (const int fault = InjectedFault(FaultCall::Rename, to.leaf)) {
        return SysStatus{fault};
    }
    return Check(::renameat(from.dir, from.leaf, to.dir, to.leaf));
}

namespace {

// File systems that refused RENAME_NOREPLACE. sshfs answers EINVAL rather than ENOSYS, so the
// kernel never learns it and asks again for every file, after looking up both names on the
// server: on a network mount each refusal costs as much as the rename that follows it.
class NoReplaceRefusals {
public:
    bool Known(dev_t device) {
        const std::lock_guard lock(mutex_);
        return std::find(devices_.begin(), devices_.end(), device) != devices_.end();
    }
    void Remember(dev_t device) {
        const std::lock_guard lock(mutex_);
        if (std::find(devices_.begin(), devices_.end(), device) == devices_.end()) {
            devices_.push_back(device);
        }
    }

private:
    std::mutex mutex_;
    std::vector<dev_t> devices_;
};

NoReplaceRefusals& Refusals() {
    static NoReplaceRefusals refusals;
    return refusals;
}

// The device of a folder without a request to a network file system: the device number
// comes from the mount, and AT_STATX_DONT_SYNC lets FUSE and NFS answer from what they hold.
bool DeviceOfFolder(int dir, dev_t& device) {
    struct statx info {};
    if (::statx(dir, "", AT_EMPTY_PATH | AT_STATX_DONT_SYNC, 0, &info) != 0) {
        return false;
    }
    device = makedev(info.stx_dev_major, info.stx_dev_minor);
    return true;
}

}  // namespace

SysStatus RenameIfAbsent(const ItemPlace& from, const ItemPlace& to) {
    if (const int fault = InjectedFault(FaultCall::Rename, to.leaf)) {
        return SysStatus{fault};
    }
    dev_t device = 0;
    const bool deviceKnown = DeviceOfFolder(to.dir, device);
    if (deviceKnown && Refusals().Known(device)) {
        return SysStatus{EOPNOTSUPP};
    }
    if (::renameat2(from.dir, from.leaf, to.dir, to.leaf, RENAME_NOREPLACE) == 0) {
        return SysStatus::Ok();
    }
    // File systems that cannot rename this way refuse the flag itself. (A file renamed into a
    // folder gives EINVAL for no other reason.)
    const int error = errno;
    if (error != EINVAL && error != ENOSYS) {
        return SysStatus{error};
    }
    if (deviceKnown) {
        Refusals().Remember(device);
    }
    return SysStatus{EOPNOTSUPP};
}

SysStatus ReadLink(const ItemPlace& place, std::string& target) {
    target.resize(PATH_MAX);
    const ssize_t length = ::readlinkat(place.dir, place.leaf, target.data(), target.size());
    if (length < 0) {
        return SysStatus::FromErrno();
    }
    target.resize(static_cast<std::size_t>(length));
    return SysStatus::Ok();
}

SysStatus CreateLink(const std::string& target, const ItemPlace& place) {
    if (const int fault = InjectedFault(FaultCall::Create, place.leaf)) {
        return SysStatus{fault};
    }
    return Check(::symlinkat(target.c_str(), place.dir, place.leaf));
}

SysStatus OpenFileForReading(const ItemPlace& place, UniqueFd& out, struct stat& info) {
    if (const int fault = InjectedFault(FaultCall::OpenRead, place.leaf)) {
        return SysStatus{fault};
    }
    constexpr int kFlags = O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK;
    UniqueFd fd(OpenRetrying(place.dir, place.leaf, kFlags));
    if (!fd.valid()) {
        return SysStatus::FromErrno();
    }
    SysStatus status = RequireRegularFile(fd.get(), info);
    if (status.ok()) {
        status = LockExclusive(fd.get());
    }
    if (status.ok()) {
        out = std::move(fd);
    }
    return status;
}

SysStatus CreateFileForWriting(const ItemPlace& place, CreateMode mode, mode_t permissions,
                               UniqueFd& out) {
    if (const int fault = InjectedFault(FaultCall::Create, place.leaf)) {
        return SysStatus{fault};
    }
    if (mode == CreateMode::NewOnly) {
        // O_EXCL makes a new regular file or fails; nothing of another holder can be at the
        // place, not even a FIFO, so neither the check nor the lock of Replace is needed.
        UniqueFd fd(OpenRetrying(place.dir, place.leaf,
                                 O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                                 permissions));
        if (!fd.valid()) {
            return SysStatus::FromErrno();
        }
        out = std::move(fd);
        return SysStatus::Ok();
    }
    // Replace truncates only once the lock is held, so that a file another holder has open
    // keeps its content when the open is refused.
    constexpr int kFlags = O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK;
    UniqueFd fd(OpenRetrying(place.dir, place.leaf, kFlags, permissions));
    if (!fd.valid()) {
        return SysStatus::FromErrno();
    }
    struct stat st;
    SysStatus status = RequireRegularFile(fd.get(), st);
    if (status.ok()) {
        status = LockExclusive(fd.get());
    }
    if (status.ok()) {
        status = Check(::ftruncate(fd.get(), 0));
    }
    if (status.ok()) {
        out = std::move(fd);
    }
    return status;
}

// The path forms: resolved once, then the same as the place forms.
template <typename Call>
SysStatus AtPlaceOf(const std::string& path, const Call& call) {
    const AtPath at(path);
    return at.status().ok() ? call(at.place()) : at.status();
}

SysStatus GetItemInfo(const std::string& path, ItemInfo& out, FollowLinks follow) {
    return AtPlaceOf(path, [&](const ItemPlace& place) { return GetItemInfo(place, out, follow); });
}

bool Exists(const std::string& path, FollowLinks follow) {
    ItemInfo info;
    return GetItemInfo(path, info, follow).ok();
}

SysStatus CreateFolder(const std::string& path, mode_t mode) {
    return AtPlaceOf(path, [&](const ItemPlace& place) { return CreateFolder(place, mode); });
}

SysStatus RemoveFolder(const std::string& path) {
    return AtPlaceOf(path, [&](const ItemPlace& place) { return RemoveFolder(place); });
}

SysStatus DeleteFile(const std::string& path) {
    return AtPlaceOf(path, [&](const ItemPlace& place) { return DeleteFile(place); });
}

SysStatus SetPermissions(const ItemPlace& place, mode_t permissions) {
    permissions &= 07777;
    // Without following, so that a link swapped in at the place never passes the change on to
    // what it points at.
    if (::fchmodat(place.dir, place.leaf, permissions, AT_SYMLINK_NOFOLLOW) == 0) {
        return SysStatus::Ok();
    }
    if (errno != EOPNOTSUPP) {
        return SysStatus::FromErrno();
    }
    // Refused for a link (it has no permissions of its own), or the system cannot change
    // permissions without following at all.
    struct stat st;
    if (::fstatat(place.dir, place.leaf, &st, AT_SYMLINK_NOFOLLOW) != 0) {
        return SysStatus::FromErrno();
    }
    if (S_ISLNK(st.st_mode)) {
        return SysStatus::Ok();
    }
    return Check(::fchmodat(place.dir, place.leaf, permissions, 0));
}

SysStatus SetPermissions(const std::string& path, mode_t permissions) {
    const AtPath at(path);
    if (!at.status().ok()) {
        return at.status();
    }
    return SetPermissions(at.place(), permissions);
}

SysStatus SetTimes(const std::string& path, FileTime lastAccess, FileTime lastWrite) {
    const timespec times[2] = {TimespecFromFileTime(lastAccess), TimespecFromFileTime(lastWrite)};
    return AtPlaceOf(path, [&](const ItemPlace& place) { return SetTimes(place, times); });
}

SysStatus SetOwner(const std::string& path, uid_t owner, gid_t group) {
    return AtPlaceOf(path, [&](const ItemPlace& place) { return SetOwner(place, owner, group); });
}

SysStatus RenameItem(const std::string& from, const std::string& to) {
    const AtPath source(from);
    if (!source.status().ok()) {
        return source.status();
    }
    const AtPath destination(to);
    if (!destination.status().ok()) {
        return destination.status();
    }
    return RenameItem(source.place(), destination.place());
}

SysStatus OpenFileForReading(const std::string& path, UniqueFd& out) {
    struct stat st;
    return OpenFileForReading(path, out, st);
}

SysStatus OpenFileForReading(const std::string& path, UniqueFd& out, struct stat& info) {
    return AtPlaceOf(path,
                     [&](const ItemPlace& place) { return OpenFileForReading(place, out, info); });
}

SysStatus CreateFileForWriting(const std::string& path, CreateMode mode, mode_t permissions,
                               UniqueFd& out) {
    return AtPlaceOf(path, [&](const ItemPlace& place) {
        return CreateFileForWriting(place, mode, permissions, out);
    });
}

SysStatus ReadFull(int fd, void* buffer, std::size_t size, std::size_t& got) {
    got = 0;
    if (const int fault = InjectedFault(FaultCall::Read)) {
        return SysStatus{fault};
    }
    auto* bytes = static_cast<char*>(buffer);
    while (got < size) {
        const ssize_t n = ::read(fd, bytes + got, size - got);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return SysStatus::FromErrno();
        }
        if (n == 0) {
            break;
        }
        got += static_cast<std::size_t>(n);
    }
    return SysStatus::Ok();
}

SysStatus WriteAll(int fd, const void* buffer, std::size_t size) {
    if (const int fault = InjectedFault(FaultCall::Write)) {
        return SysStatus{fault};
    }
    const auto* bytes = static_cast<const char*>(buffer);
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::write(fd, bytes + done, size - done);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return SysStatus::FromErrno();
        }
        if (n == 0) {
            // No progress and no reason given: a full device is the only plausible cause.
            return SysStatus{ENOSPC};
        }
        done += static_cast<std::size_t>(n);
    }
    return SysStatus::Ok();
}

SysStatus FolderReader::Open(const std::string& path) {
    Close();
    UniqueFd fd;
    const SysStatus status = OpenFolder(path, fd, FollowLinks::Yes);
    if (!status.ok()) {
        return status;
    }
    return Adopt(std::move(fd));
}

SysStatus FolderReader::OpenChild(const FolderReader& parent, const char* name) {
    Close();
    if (!parent.isOpen()) {
        return SysStatus{EBADF};
    }
    return OpenChildAt(parent.fd(), name);
}

SysStatus FolderReader::OpenChildAt(int parentFd, const char* name) {
    Close();
    if (parentFd < 0) {
        return SysStatus{EBADF};
    }
    UniqueFd fd(OpenRetrying(parentFd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!fd.valid()) {
        return SysStatus::FromErrno();
    }
    return Adopt(std::move(fd));
}

SysStatus FolderReader::Adopt(UniqueFd fd) {
    stream_ = ::fdopendir(fd.get());
    if (stream_ == nullptr) {
        return SysStatus::FromErrno();  // fd still owns the descriptor and closes it
    }
    fd.release();
    return SysStatus::Ok();
}

FolderReader::Step FolderReader::Next(FolderItem& item, SysStatus& error) {
    if (stream_ == nullptr) {
        error = SysStatus{EBADF};
        return Step::Error;
    }
    const int dir = ::dirfd(stream_);
    for (;;) {
        errno = 0;
        const dirent* entry = ::readdir(stream_);
        if (entry == nullptr) {
            if (errno != 0) {
                error = SysStatus{errno};
                return Step::Error;
            }
            return Step::End;
        }
        const char* name = entry->d_name;
        if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'))) {
            continue;
        }
        struct stat st;
        if (::fstatat(dir, name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
            if (errno == ENOENT) {
                continue;  // removed since the listing was read
            }
            error = SysStatus::FromErrno();
            return Step::Error;
        }
        item.name = name;
        item.nameLength = std::strlen(name);
        item.info = ItemInfoFromStat(st);
        return Step::Item;
    }
}

void FolderReader::Close() {
    if (stream_ != nullptr) {
        ::closedir(stream_);
        stream_ = nullptr;
    }
}

int FolderReader::fd() const {
    return stream_ != nullptr ? ::dirfd(stream_) : -1;
}

void RaiseOpenFileLimit() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur >= limit.rlim_max) {
        return;
    }
    limit.rlim_cur = limit.rlim_max;
    if (::setrlimit(RLIMIT_NOFILE, &limit) == 0) {
        return;
    }
    // An unlimited hard limit cannot be taken as the soft one; the kernel's usual ceiling
    // for descriptors still lifts the default far enough.
    constexpr rlim_t kUsualCeiling = 1 << 20;
    if (kUsualCeiling < limit.rlim_max) {
        limit.rlim_cur = kUsualCeiling;
        ::setrlimit(RLIMIT_NOFILE, &limit);
    }
}

bool IsNetworkFileSystem(const std::string& folder) {
    struct statfs fs {};
    if (::statfs(folder.empty() ? "/" : folder.c_str(), &fs) != 0) {
        return false;
    }
    constexpr unsigned long kNetworkTypes[] = {
        0x6969,      // NFS
        0x517B,      // SMB
        0xFF534D42,  // CIFS
        0xFE534D42,  // SMB2
        0x65735546,  // FUSE (sshfs and the like)
        0x564C,      // NCP
        0x73757245,  // CODA
        0x00C36400,  // CEPH
        0x5346414F,  // AFS
        0x01021997,  // 9P
    };
    const auto type = static_cast<unsigned long>(fs.f_type);
    return std::find(std::begin(kNetworkTypes), std::end(kNetworkTypes), type) !=
           std::end(kNetworkTypes);
}

SysStatus FlushFileSystem(const std::string& folder, std::vector<dev_t>& flushed) {
    UniqueFd fd(OpenRetrying(AT_FDCWD, folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    struct stat st {};
    if (!fd.valid() || ::fstat(fd.get(), &st) != 0) {
        return SysStatus::FromErrno();
    }
    if (std::find(flushed.begin(), flushed.end(), st.st_dev) != flushed.end()) {
        return SysStatus::Ok();
    }
    flushed.push_back(st.st_dev);
    return Check(::syncfs(fd.get()));
}

}  // namespace mirova::platform
