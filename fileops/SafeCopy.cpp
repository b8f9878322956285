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

#include "fileops/FailureReport.h"
#include "fileops/FileOperations.h"
#include "fileops/Format.h"
#include "platform/ConfinedTree.h"
#include "platform/FileContent.h"
#include "platform/FileSystem.h"

namespace mirova {
namespace {

using platform::ItemPlace;
using platform::SysStatus;
using platform::UniqueFd;

// Name collisions of temporary files tried before giving up.
constexpr int kMaxNameAttempts = 100;

CopyStartHook& StartHook() {
    static CopyStartHook hook;
    return hook;
}

// The temporary item beside the destination that becomes the destination once complete. It is
// removed when the copy does not get that far.
class PartialCopy {
public:
    explicit PartialCopy(int folder) : folder_(folder) {}
    PartialCopy(const PartialCopy&) = delete;
    PartialCopy& operator=(const PartialCopy&) = delete;
    ~PartialCopy() {
        if (!name_.empty()) {
            (void)platform::DeleteFile(place());
        }
    }

    ItemPlace place() const { return ItemPlace{folder_, name_.c_str()}; }

    // Readable by the owner only until it is complete: the source may be private.
    SysStatus CreateFile(UniqueFd& out) {
        return CreateUnique([&out](const ItemPlace& place) {
            return platform::CreateFileForWriting(place, platform::CreateMode::NewOnly, 0600, out);
        });
    }

    SysStatus CreateLink(const std::string& target) {
        return CreateUnique(
            [&target](const ItemPlace& place) { return platform::CreateLink(target, place); });
    }

    // Puts the finished copy in the destination's place in one step. A destination that exists
    // is replaced unless it is a read-only file that is to be kept, which is kept even from
    // root, who could replace it. The common case of a first copy (nothing there yet) costs a
    // single call, and an item that appears meanwhile is never replaced unchecked.
    SysStatus Commit(const ItemPlace& to, ReadOnlyDestination readOnly) {
        SysStatus status = platform::RenameIfAbsent(place(), to);
        if (status.error == EEXIST || status.error == EOPNOTSUPP) {
            platform::ItemInfo existing;
            if (readOnly == ReadOnlyDestination::Keep && platform::GetItemInfo(to, existing).ok() &&
                existing.kind != platform::ItemKind::Symlink && existing.readOnly()) {
                return SysStatus{EACCES};
            }
            status = keeper_ != nullptr ? ReplaceKeeping(to) : platform::RenameItem(place(), to);
        }
        if (status.ok()) {
            name_.clear();
        }
        return status;
    }

    // Keeps the destination as a version on the way (see CopyOpenedSource).
    void KeepReplaced(VersionKeeper* keeper, const char* name) {
        keeper_ = keeper != nullptr && keeper->on() ? keeper : nullptr;
        keptName_ = name;
    }
    // The reason the replaced destination could not be kept; ok when that was not the failure.
    const SysStatus& keepFailure() const { return keepFailure_; }

private:
    template <typename Create>
    SysStatus CreateUnique(const Create& create) {
        static std::atomic<unsigned> serial{0};
        SysStatus status{EEXIST};
        for (int attempt = 0; attempt < kMaxNameAttempts && status.error == EEXIST; ++attempt) {
            std::string candidate =
                Format("%s%d-%u", kPartialCopyPrefix, static_cast<int>(::getpid()), ++serial);
            status = create(ItemPlace{folder_, candidate.c_str()});
            if (status.ok()) {
                name_ = std::move(candidate);
            }
        }
        return status;
    }

    // The old destination goes to the versions first; should the new copy then fail to take
    // its place, the old one is put back, so the destination is never left missing.
    SysStatus ReplaceKeeping(const ItemPlace& to) {
        const SysStatus kept = keeper_->KeepFile(to, keptName_);
        if (!kept.ok() && kept.error != ENOENT && kept.error != EISDIR) {
            keepFailure_ = kept;
            return kept;
        }
        if (!kept.ok()) {
            return platform::RenameItem(place(), to);  // nothing to keep: fails as it always did
        }
        SysStatus status = platform::RenameIfAbsent(place(), to);
        if (status.error == EOPNOTSUPP) {
            status = platform::RenameItem(place(), to);
        }
        if (!status.ok()) {
            (void)keeper_->PutBack(to, keptName_);
            keeper_->TakeKept();
        }
        return status;
    }

    int folder_;
    std::string name_;  // set while the temporary item exists
    VersionKeeper* keeper_ = nullptr;
    const char* keptName_ = nullptr;
    SysStatus keepFailure_ = SysStatus::Ok();
};

// Resolves a full path for the *at calls; the anchor owns what the place points into.
SysStatus PlaceOf(const std::string& path, platform::PathAnchor& anchor, ItemPlace& place) {
    const SysStatus status = platform::AnchorPath(path, anchor);
    place = ItemPlace{anchor.dir, anchor.leaf.c_str()};
    return status;
}

// How far a copy through a temporary file got.
enum class CopyStep {
    Done,
    DestinationFailed,  // the temporary item could not be made, given attributes or put in place
    SourceUnreadable,   // reading the source failed
    DestinationUnwritable,  // writing the temporary file failed
    VersionNotKept,         // the old destination could not be kept as a version
};

CopyStep CommitFailure(const PartialCopy& partial) {
    return partial.keepFailure().ok() ? CopyStep::DestinationFailed : CopyStep::VersionNotKept;
}

// The copy itself, which tells nothing. The temporary item stays with `partial`, so the caller
// decides when a failed one goes.
CopyStep CopyThrough(PartialCopy& partial, const CopySource& source, const ItemPlace& to,
                     ReadOnlyDestination readOnly) {
    if (source.isLink()) {
        if (!partial.CreateLink(source.linkTarget).ok() ||
            !platform::GiveLinkAttributes(partial.place(), source.st).ok()) {
            return CopyStep::DestinationFailed;
        }
        return partial.Commit(to, readOnly).ok() ? CopyStep::Done : CommitFailure(partial);
    }
    UniqueFd out;
    if (!partial.CreateFile(out).ok()) {
        return CopyStep::DestinationFailed;
    }
    if (StartHook()) {
        StartHook()(source.fd.get(), out.get());
    }
    const platform::CopyFault fault = platform::CopyFileContent(
        source.fd.get(), out.get(), static_cast<std::uint64_t>(source.st.st_size));
    if (fault != platform::CopyFault::None) {
        return fault == platform::CopyFault::Source ? CopyStep::SourceUnreadable
                                                    : CopyStep::DestinationUnwritable;
    }
    if (!platform::GiveFileAttributes(out.get(), source.st).ok()) {
        return CopyStep::DestinationFailed;
    }
    return partial.Commit(to, readOnly).ok() ? CopyStep::Done : CommitFailure(partial);
}

}  // namespace

SysStatus OpenCopySource(const ItemPlace& from, CopySource& source) {
    // The open comes first: it refuses a link (O_NOFOLLOW), and only then is the item looked
    // at as a link, so a regular file costs one open and one fstat.
    source.fd.reset();
    SysStatus status = platform::OpenFileForReading(from, source.fd, source.st);
    if (status.error != ELOOP) {
        return status;
    }
    if (::fstatat(from.dir, from.leaf, &source.st, AT_SYMLINK_NOFOLLOW) != 0) {
        return SysStatus::FromErrno();
    }
    if (!source.isLink()) {
        return SysStatus{ELOOP};  // a loop of links along the path, not a link itself
    }
    return platform::ReadLink(from, source.linkTarget);
}

bool CopyOpenedSourceQuietly(const CopySource& source, const ItemPlace& to,
                             ReadOnlyDestination readOnly) {
    PartialCopy partial(to.dir);
    return CopyThrough(partial, source, to, readOnly) == CopyStep::Done;
}

int CopyOpenedSource(const CopySource& source, const ItemPlace& to, const std::string& fromText,
                     const std::string& toText, int noStopOnError, FileOpsUi& ui,
                     ReadOnlyDestination readOnly, VersionKeeper* keeper, const char* name) {
    // The temporary item of a failed copy is removed only after the failure has been told.
    PartialCopy partial(to.dir);
    partial.KeepReplaced(keeper, name);
    const CopyStep step = CopyThrough(partial, source, to, readOnly);
    if (step == CopyStep::Done) {
        return 1;
    }
    if (step == CopyStep::DestinationFailed) {
        ReportFailure(ui, CannotCreateText(kSiteDestination, toText),
                      FailureNotice::ShowUnlessQuiet, noStopOnError);
        return 0;
    }
    if (step == CopyStep::VersionNotKept) {
        ReportFailure(ui, CannotKeepText(toText, keeper->VersionPath(name), partial.keepFailure()),
                      FailureNotice::ShowUnlessQuiet, noStopOnError);
        return 0;
    }
    const std::string& unreadable = step == CopyStep::SourceUnreadable ? fromText : toText;
    ReportFailure(ui, Format("%s が読めません。", unreadable.c_str()), FailureNotice::ShowOrLog,
                  noStopOnError);
    return 0;
}

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
    CopySource source;
    for (;;) {
        platform::PathAnchor anchor;
        ItemPlace place;
        if (PlaceOf(from, anchor, place).ok() && OpenCopySource(place, source).ok()) {
            break;
        }
        if (!RetrySourceOpen(from, noStopOnError, ui)) {
            return 0;
        }
    }
    // The destination is reached from its own folder, where the temporary copy must be made:
    // beside the destination, on its file system, where a later scan finds a leftover.
    const std::size_t slash = to.rfind('/');
    const std::string leaf = slash == std::string::npos ? to : to.substr(slash + 1);
    platform::ConfinedTree folder(slash == std::string::npos ? std::string(".")
                                  : slash == 0               ? std::string("/")
                                                             : to.substr(0, slash));
    ItemPlace place;
    if (!folder.Locate(leaf.c_str(), place).ok()) {
        ReportFailure(ui, CannotCreateText(kSiteDestination, to), FailureNotice::ShowUnlessQuiet,
                      noStopOnError);
        return 0;
    }
    return CopyOpenedSource(source, place, from, to, noStopOnError, ui);
}

}  // namespace mirova
