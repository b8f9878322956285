// CopyOneFile: the copy that never destroys the old destination before the new content is
// complete.
#include "fileops/SafeCopy.h"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <memory>

#include "fileops/FailureReport.h"
#include "fileops/FileOperations.h"
#include "fileops/Format.h"
#include "platform/FileSystem.h"

namespace mirova {
namespace {

using platform::SysStatus;
using platform::UniqueFd;

// Bytes asked of one copy_file_range call; the kernel copies less per call anyway.
constexpr std::size_t kKernelChunk = std::size_t{1} << 30;
// The buffer of the plain read/write loop.
constexpr std::size_t kBufferSize = 128 * 1024;
// Name collisions of temporary files tried before giving up.
constexpr int kMaxNameAttempts = 100;

CopyStartHook& StartHook() {
    static CopyStartHook hook;
    return hook;
}

SysStatus Check(int result) {
    return result == 0 ? SysStatus::Ok() : SysStatus::FromErrno();
}

// The source as opened, with the attributes the copy receives.
struct Source {
    struct stat st {};
    UniqueFd fd;             // a regular file
    std::string linkTarget;  // a link

    bool isLink() const { return S_ISLNK(st.st_mode); }
};

// A link is read as a link; anything else must be a regular file that no one holds locked. The
// open comes first: it refuses a link (O_NOFOLLOW), and only then is the item looked at as a
// link, so a regular file costs one open and one fstat.
SysStatus OpenSource(const std::string& from, Source& source) {
    SysStatus status = platform::OpenFileForReading(from, source.fd, source.st);
    if (status.error != ELOOP) {
        return status;
    }
    source.fd.reset();
    platform::PathAnchor anchor;
    status = platform::AnchorPath(from, anchor);
    if (!status.ok()) {
        return status;
    }
    if (::fstatat(anchor.dir, anchor.leaf.c_str(), &source.st, AT_SYMLINK_NOFOLLOW) != 0) {
        return SysStatus::FromErrno();
    }
    if (!source.isLink()) {
        return SysStatus{ELOOP};  // a loop of links along the path, not a link itself
    }
    source.linkTarget.resize(PATH_MAX);
    const ssize_t length = ::readlinkat(anchor.dir, anchor.leaf.c_str(), source.linkTarget.data(),
                                        source.linkTarget.size());
    if (length < 0) {
        return SysStatus::FromErrno();
    }
    source.linkTarget.resize(static_cast<std::size_t>(length));
    return SysStatus::Ok();
}

// The temporary item beside the destination that becomes the destination once complete. It is
// removed when the copy does not get that far.
class PartialCopy {
public:
    explicit PartialCopy(const std::string& to) : folder_(FolderPartOf(to)) {}
    PartialCopy(const PartialCopy&) = delete;
    PartialCopy& operator=(const PartialCopy&) = delete;
    ~PartialCopy() {
        if (!path_.empty()) {
            (void)platform::DeleteFile(path_);
        }
    }

    const std::string& path() const { return path_; }

    // Readable by the owner only until it is complete: the source may be private.
    SysStatus CreateFile(UniqueFd& out) {
        return CreateUnique([&out](const std::string& path) {
            return platform::CreateFileForWriting(path, platform::CreateMode::NewOnly, 0600, out);
        });
    }

    SysStatus CreateLink(const std::string& target) {
        return CreateUnique([&target](const std::string& path) {
            platform::PathAnchor anchor;
            const SysStatus status = platform::AnchorPath(path, anchor);
            if (!status.ok()) {
                return status;
            }
            return Check(::symlinkat(target.c_str(), anchor.dir, anchor.leaf.c_str()));
        });
    }

    // Replaces the destination with the finished copy in one step.
    SysStatus Commit(const std::string& to) {
        const SysStatus status = platform::RenameItem(path_, to);
        if (status.ok()) {
            path_.clear();
        }
        return status;
    }

private:
    template <typename Create>
    SysStatus CreateUnique(const Create& create) {
        static std::atomic<unsigned> serial{0};
        SysStatus status{EEXIST};
        for (int attempt = 0; attempt < kMaxNameAttempts && status.error == EEXIST; ++attempt) {
            std::string candidate = Format("%s%s%d-%u", folder_.c_str(), kPartialCopyPrefix,
                                           static_cast<int>(::getpid()), ++serial);
            status = create(candidate);
            if (status.ok()) {
                path_ = std::move(candidate);
            }
        }
        return status;
    }

    std::string folder_;
    std::string path_;  // set while the temporary item exists
};

// Owner and group are given only as root (nobody else can give a file away), and before the
// permission bits because a change of owner clears the set-id bits. Both are best effort: file
// systems without Unix owners and permissions (FAT) refuse them, while the content and the
// times that the comparison relies on are right. The times must be set.
SysStatus GiveAttributes(int fd, const struct stat& st) {
    if (::geteuid() == 0 && ::fchown(fd, st.st_uid, st.st_gid) != 0) {
        // best effort, see above
    }
    if (::fchmod(fd, st.st_mode & 07777) != 0) {
        // best effort, see above
    }
    const timespec times[2] = {st.st_atim, st.st_mtim};
    return Check(::futimens(fd, times));
}

// A link has no permission bits of its own.
SysStatus GiveLinkAttributes(const std::string& path, const struct stat& st) {
    platform::PathAnchor anchor;
    const SysStatus status = platform::AnchorPath(path, anchor);
    if (!status.ok()) {
        return status;
    }
    if (::geteuid() == 0 && ::fchownat(anchor.dir, anchor.leaf.c_str(), st.st_uid, st.st_gid,
                                       AT_SYMLINK_NOFOLLOW) != 0) {
        // best effort, as for files
    }
    const timespec times[2] = {st.st_atim, st.st_mtim};
    return Check(::utimensat(anchor.dir, anchor.leaf.c_str(), times, AT_SYMLINK_NOFOLLOW));
}

enum class CopyFault { None, Source, Destination };

// Copies exactly `size` bytes from the start of `in` to `out`. A source that ends early or
// cannot be read is a fault of the source, a write that fails (a full disk) one of the
// destination.
CopyFault CopyContent(int in, int out, std::uint64_t size) {
    std::uint64_t left = size;
    // The kernel copies without a pass through user space, and may share blocks within one
    // file system. Anything but progress ends this loop: the plain loop then either carries on
    // (file systems that cannot copy this way) or finds out which side fails.
    while (left > 0) {
        const ssize_t copied = ::copy_file_range(in, nullptr, out, nullptr,
                                                 std::min<std::uint64_t>(left, kKernelChunk), 0);
        if (copied > 0) {
            left -= static_cast<std::uint64_t>(copied);
        } else if (copied == 0 || errno != EINTR) {
            break;
        }
    }
    if (left == 0) {
        return CopyFault::None;
    }
    const std::unique_ptr<char[]> buffer(new char[kBufferSize]);
    while (left > 0) {
        const std::size_t wanted = std::min<std::uint64_t>(left, kBufferSize);
        std::size_t got = 0;
        if (!platform::ReadFull(in, buffer.get(), wanted, got).ok() || got == 0) {
            return CopyFault::Source;
        }
        if (!platform::WriteAll(out, buffer.get(), got).ok()) {
            return CopyFault::Destination;
        }
        left -= got;
    }
    return CopyFault::None;
}

}  // namespace

void SetCopyStartHookForTesting(CopyStartHook hook) {
    StartHook() = std::move(hook);
}

bool IsPartialCopyName(std::string_view name) {
    const std::string_view prefix(kPartialCopyPrefix);
    if (!name.starts_with(prefix)) {
        return false;
    }
    name.remove_prefix(prefix.size());
    const std::size_t dash = name.find('-');
    const auto allDigits = [](std::string_view text) {
        return !text.empty() &&
               std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
    };
    return dash != std::string_view::npos && allDigits(name.substr(0, dash)) &&
           allDigits(name.substr(dash + 1));
}

bool IsStalePartialCopy(std::string_view name) {
    name.remove_prefix(std::string_view(kPartialCopyPrefix).size());
    // An id out of range belongs to no process. It must never reach kill(): 0 and -1 would
    // address whole groups of processes.
    long long pid = 0;
    for (const char c : name.substr(0, name.find('-'))) {
        pid = pid * 10 + (c - '0');
        if (pid > INT_MAX) {
            return true;
        }
    }
    if (pid <= 0) {
        return true;
    }
    if (pid == ::getpid()) {
        return false;
    }
    // A process of another user answers EPERM: it runs, so its copy may still be working.
    return ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH;
}

int CopyOneFile(const std::string& from, const std::string& to, int noStopOnError, FileOpsUi& ui) {
    Source source;
    while (!OpenSource(from, source).ok()) {
        if (!RetrySourceOpen(from, noStopOnError, ui)) {
            return 0;
        }
    }
    const auto failDestination = [&] {
        ReportFailure(ui, CannotCreateText(kSiteDestination, to), FailureNotice::ShowUnlessQuiet,
                      noStopOnError);
        return 0;
    };
    // A read-only destination is kept even from root, who could replace it.
    platform::ItemInfo existing;
    if (platform::GetItemInfo(to, existing).ok() && existing.kind != platform::ItemKind::Symlink &&
        existing.readOnly()) {
        return failDestination();
    }

    PartialCopy partial(to);
    if (source.isLink()) {
        if (!partial.CreateLink(source.linkTarget).ok() ||
            !GiveLinkAttributes(partial.path(), source.st).ok() || !partial.Commit(to).ok()) {
            return failDestination();
        }
        return 1;
    }
    UniqueFd out;
    if (!partial.CreateFile(out).ok()) {
        return failDestination();
    }
    if (StartHook()) {
        StartHook()(source.fd.get(), out.get());
    }
    const CopyFault fault =
        CopyContent(source.fd.get(), out.get(), static_cast<std::uint64_t>(source.st.st_size));
    if (fault != CopyFault::None) {
        const std::string& unreadable = fault == CopyFault::Source ? from : to;
        ReportFailure(ui, Format("%s が読めません。", unreadable.c_str()), FailureNotice::ShowOrLog,
                      noStopOnError);
        return 0;
    }
    if (!GiveAttributes(out.get(), source.st).ok() || !partial.Commit(to).ok()) {
        return failDestination();
    }
    return 1;
}

}  // namespace mirova
