#include "engine/Scan.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>
#include <system_error>

#include "engine/ScanPrefetch.h"
#include "fileops/FileOperations.h"
#include "fileops/Format.h"
#include "fileops/KeptVersions.h"
#include "fileops/PathText.h"
#include "fileops/RunLog.h"
#include "platform/FileSystem.h"

namespace mirova {
namespace {

using platform::FolderItem;
using platform::FolderReader;
using platform::ItemKind;
using platform::SysStatus;

constexpr char kOverflowText[] = "ﾌｧｲﾙﾘｽﾄがｵｰﾊﾞｰﾌﾛｰしました";
constexpr char kCannotOpenFormat[] = "%s:%d - ﾌｫﾙﾀﾞ「%s」が開けません";
constexpr char kCannotOpenModule[] = ".\\MirovaDlg";
constexpr int kCannotOpenSite = 522;
constexpr char kNoMemoryText[] = "ﾌｧｲﾙﾘｽﾄのﾒﾓﾘが確保できません";
// A file of this name is a folder's own bookkeeping, not data: it is never listed, so it is
// never copied or deleted. A folder of that name is ordinary data.
constexpr std::string_view kFolderInfName = ".FolderInf";
constexpr char kRemovedPartialFormat[] = "%s を削除しました（中断されたｺﾋﾟｰの残り）";
constexpr char kCannotRemovePartialFormat[] = "%s が削除できません。(%s)";

bool QuietErrors(const ScanContext& context) {
    // Read at every use: the user may toggle the switch while the scan runs.
    return context.state.noStopOnError.load() != 0;
}

// Lists one tree into a list. The full path of the item in hand is kept in one buffer that
// grows and shrinks with the walk, so listing an item allocates nothing but its name.
class TreeScanner {
public:
    TreeScanner(FileList& list, const ScanContext& context, std::string root)
        : list_(list), context_(context), path_(std::move(root)) {
        path_.reserve(4096);
        rootLength_ = path_.size() + 1;  // the root and the separator after it
    }

    // Scans the root folder, opened by path (a root that is a link to a folder is followed).
    int ScanRoot(const std::string& openPath) {
        const auto open = [&](FolderReader& reader) { return reader.Open(openPath); };
        if (const int threads = ScanThreads(openPath); threads > 1) {
            try {
                prefetch_ = std::make_unique<FolderPrefetcher>(openPath, threads - 1);
            } catch (const std::system_error&) {
                // No thread to be had: the scan reads alone.
            }
        }
        // A root that cannot be read (Abort, Ignore, or not there at all) is a failed scan, not
        // an empty tree: an empty source list would make the synchronisation delete everything
        // in the target.
        const Result result =
            prefetch_ ? ScanSlot(prefetch_->root(), open, openPath) : ScanOneFolder(open, openPath);
        prefetch_.reset();  // joins the worker
        return result == Result::Complete ? 1 : 0;
    }

private:
    enum class Result {
        Complete,  // everything below the folder is listed
        Passed,    // the folder could not be read and was passed over (Abort or Ignore)
        Stopped,   // the list overflowed: the whole scan stops
    };
    enum class Listing { Complete, ReadError, Stopped };

    // What a run kept of the tree's old files is not part of the tree: listed, it would be
    // deleted as an extra, copied into the other tree, or compared.
    bool IsVersionsFolder(std::string_view name) const {
        return path_.size() + 1 == rootLength_ && name == kVersionsFolderName;
    }

    // Opens a folder (again after each Retry) and lists it. path_ holds the folder's full path
    // whenever this level runs (each item restores it), so shownPath may refer to path_ itself.
    template <typename Open>
    Result ScanOneFolder(const Open& open, const std::string& shownPath) {
        const int countOnEntry = list_.count;
        for (;;) {
            FolderReader reader;
            SysStatus status = open(reader);
            if (status.ok()) {
                const Listing listing = ListItems(reader, status);
                if (listing == Listing::Complete) {
                    return Result::Complete;
                }
                if (listing == Listing::Stopped) {
                    return Result::Stopped;
                }
                // The folder broke off in the middle: what it gave so far is dropped, so that
                // a Retry lists it whole once and an Ignore leaves nothing of it.
                RollBack(countOnEntry);
            }
            if (ReportUnreadable(shownPath, status) != kIdRetry) {
                return Result::Passed;
            }
        }
    }

    // Lists a folder from its read-ahead listing; a folder whose read-ahead failed (or stopped)
    // is read here exactly as a single-threaded scan reads it, with its messages and Retry.
    template <typename Open>
    Result ScanSlot(PrefetchSlot& slot, const Open& open, const std::string& shownPath) {
        const std::unique_ptr<FolderListing> listing = prefetch_->Take(slot);
        if (listing == nullptr) {
            return ScanOneFolder(open, shownPath);
        }
        const int countOnEntry = list_.count;
        SysStatus error;
        const Listing result = ListPrefetched(*listing, error);
        if (result != Listing::ReadError) {
            return result == Listing::Complete ? Result::Complete : Result::Stopped;
        }
        // The same as a folder of ScanOneFolder that broke off in the middle.
        RollBack(countOnEntry);
        if (ReportUnreadable(shownPath, error) != kIdRetry) {
            return Result::Passed;
        }
        return ScanOneFolder(open, shownPath);
    }

    // The same steps as ListItems, on items that were read ahead.
    Listing ListPrefetched(const FolderListing& listing, SysStatus& error) {
        // A listing is let go only when the worker can no longer be reading one of its
        // subfolders (they are opened relative to its descriptor and owned by it): each was
        // taken, or the read-ahead is stopped (overflow, or an exception on the way out).
        bool finished = false;
        struct StopUnlessFinished {
            FolderPrefetcher& prefetch;
            const bool& finished;
            ~StopUnlessFinished() {
                if (!finished) {
                    prefetch.Stop();
                }
            }
        } guard{*prefetch_, finished};
        std::size_t nextChild = 0;
        for (const FolderListing::Item& item : listing.items) {
            if (item.info.kind == ItemKind::System && !restat_) {
                continue;
            }
            const char* itemName = listing.name(item);
            // Decided on the listing as read ahead, as the read-ahead decided it: the folder of
            // versions has no slot of its own.
            if (IsVersionsFolder(std::string_view(itemName, item.nameLength))) {
                continue;
            }
            PrefetchSlot* child =
                item.info.kind == ItemKind::Folder ? listing.children[nextChild++].get() : nullptr;
            platform::ItemInfo info = item.info;
            if (restat_) {
                // A box was up since the listing was read: what the user changed meanwhile is
                // seen, as the single-threaded scan reads each item's attributes when it gets
                // there.
                struct stat st;
                if (::fstatat(listing.fd.get(), itemName, &st, AT_SYMLINK_NOFOLLOW) != 0) {
                    if (errno == ENOENT) {
                        continue;  // removed since the listing was read
                    }
                    error = SysStatus::FromErrno();
                    return Listing::ReadError;
                }
                info = platform::ItemInfoFromStat(st);
                child = nullptr;  // the read-ahead has stopped
                if (info.kind == ItemKind::System) {
                    continue;
                }
            }
            const bool isFolder = info.kind == ItemKind::Folder;
            const std::string_view name(itemName, item.nameLength);
            if (!isFolder && name == kFolderInfName) {
                continue;
            }
            if (!isFolder && IsPartialCopyName(name)) {
                RemoveStalePartialCopy(listing.fd.get(), itemName);
                continue;
            }
            const std::size_t parentLength = path_.size();
            path_.push_back('/');
            path_.append(name);
            Result result = Result::Complete;
            if (AddFileEntry(list_, path_, rootLength_, isFolder ? 1 : 0, info.lastWrite.low,
                             info.lastWrite.high, info.size, context_) == 0) {
                result = Result::Stopped;
            } else if (isFolder) {
                const int parentFd = listing.fd.get();
                const auto open = [&](FolderReader& reader) {
                    return reader.OpenChildAt(parentFd, itemName);
                };
                result =
                    child != nullptr ? ScanSlot(*child, open, path_) : ScanOneFolder(open, path_);
            }
            path_.resize(parentLength);
            if (result == Result::Stopped) {
                return Listing::Stopped;
            }
        }
        finished = true;
        return Listing::Complete;
    }

    Listing ListItems(FolderReader& reader, SysStatus& error) {
        FolderItem item;
        for (;;) {
            switch (reader.Next(item, error)) {
                case FolderReader::Step::End:
                    return Listing::Complete;
                case FolderReader::Step::Error:
                    return Listing::ReadError;
                case FolderReader::Step::Item:
                    break;
            }
            if (item.info.kind == ItemKind::System) {
                continue;
            }
            const bool isFolder = item.info.kind == ItemKind::Folder;
            const std::string_view name(item.name, item.nameLength);
            if (IsVersionsFolder(name)) {
                continue;
            }
            if (!isFolder && name == kFolderInfName) {
                continue;
            }
            // The unfinished copy of a run that was killed mid-copy is not user data: listed,
            // it would be deleted as an extra or, in a merge, copied into the other tree.
            if (!isFolder && IsPartialCopyName(name)) {
                RemoveStalePartialCopy(reader.fd(), item.name);
                continue;
            }
            const std::size_t parentLength = path_.size();
            path_.push_back('/');
            path_.append(name);
            Result result = Result::Complete;
            if (AddFileEntry(list_, path_, rootLength_, isFolder ? 1 : 0, item.info.lastWrite.low,
                             item.info.lastWrite.high, item.info.size, context_) == 0) {
                result = Result::Stopped;
            } else if (isFolder) {
                // The item's name stays valid until the parent reader moves on, which it does
                // only after the subfolder is done; path_ itself may move as it grows.
                const char* childName = item.name;
                const auto open = [&](FolderReader& child) {
                    return child.OpenChild(reader, childName);
                };
                result = ScanOneFolder(open, path_);
            }
            path_.resize(parentLength);
            if (result == Result::Stopped) {
                return Listing::Stopped;
            }
        }
    }

    // Nothing will ever finish a partial copy whose process is gone, so it is removed. One of a
    // running process is left alone: that copy may still be at work. unlinkat() removes a link
    // itself, never what it points to. A failure costs only the space and is just logged.
    void RemoveStalePartialCopy(int folderFd, const char* name) {
        if (!IsStalePartialCopy(name)) {
            return;
        }
        const std::string fullPath = path_ + '/' + name;
        if (::unlinkat(folderFd, name, 0) == 0) {
            WriteLog(Format(kRemovedPartialFormat, fullPath.c_str()), 1);
        } else if (errno != ENOENT) {  // another run removed it first
            const std::string reason = SysStatus::FromErrno().describe();
            WriteLog(Format(kCannotRemovePartialFormat, fullPath.c_str(), reason.c_str()), 1);
        }
    }

    void RollBack(int count) {
        std::memset(static_cast<void*>(list_.entries + count), 0,
                    sizeof(FileEntry) * static_cast<std::size_t>(list_.count - count));
        list_.count = count;
    }

    // Tells about a folder that cannot be read and returns the answer: Retry, or anything else
    // for passing it over.
    int ReportUnreadable(const std::string& shownPath, SysStatus status) {
        const std::string text =
            Format(kCannotOpenFormat, kCannotOpenModule, kCannotOpenSite, shownPath.c_str());
        // A folder that is not there (it vanished during the scan) is nothing to ask about. Only
        // ENOENT means that: a folder replaced by a file or a link (ENOTDIR, ELOOP) is still an
        // item the list cannot show as it is, and the user is asked.
        const bool vanished = status.error == ENOENT;
        int answer = kIdIgnore;
        if (!vanished && !QuietErrors(context_)) {
            // What the user does while the box is up must be seen as a single-threaded scan
            // sees it: no listing read before the answer is used after it, and the items
            // still to come of the folders being walked are read again.
            if (prefetch_) {
                prefetch_->Stop();
                restat_ = true;
            }
            answer = context_.messages.DoMessageBox(text, kMbAbortRetryIgnore);
        }
        WriteLog(text, 1);
        if (answer != kIdRetry && !vanished && shownPath.size() > rootLength_) {
            // Passed over: the list lacks what the folder holds, and the run is incomplete.
            list_.passedFolders.emplace_back(shownPath.substr(rootLength_));
            if (context_.failures != nullptr) {
                context_.failures->NoteFailure(text, !QuietErrors(context_));
            }
        }
        return answer;
    }

    FileList& list_;
    const ScanContext& context_;
    std::string path_;
    std::size_t rootLength_;
    std::unique_ptr<FolderPrefetcher> prefetch_;  // none in a single-threaded scan
    bool restat_ = false;                         // set once a box stopped the read-ahead
};

}  // namespace

int AddFileEntry(FileList& list, std::string_view fullPath, std::size_t rootLength, int isFolder,
                 std::uint32_t lastWriteLow, std::uint32_t lastWriteHigh, std::uint64_t size,
                 const ScanContext& context) {
    // Excluded items report success, so the scan still descends into an excluded folder and
    // offers each of its items to the test on its own.
    if (context.state.useExclusions == 1 && context.state.exclusions != nullptr &&
        context.state.exclusions->IsExcluded(fullPath)) {
        return 1;
    }
    if (list.count >= list.capacity) {
        if (!QuietErrors(context)) {
            context.messages.DoMessageBox(kOverflowText, kMbOk);
        }
        WriteLog(kOverflowText, 1);
        return 0;
    }
    FileEntry& entry = list.entries[list.count];
    entry.name = list.names.Add(fullPath.substr(std::min(rootLength, fullPath.size())));
    entry.lastWriteLow = lastWriteLow;
    entry.lastWriteHigh = lastWriteHigh;
    entry.size = size;
    entry.isFolder = isFolder;
    entry.matched = 0;
    ++list.count;
    return 1;
}

int ScanFolder(const std::string& folder, FileList& list, const ScanContext& context) {
    // "/data/" and "/data" give the same names. The root "/" strips to "", and "" + "/" + name
    // is still the right full path; it is opened as typed.
    list.root = StripTrailingBackslash(folder);
    const std::string openPath = list.root.empty() ? folder : list.root;
    // A deep tree keeps one open folder per level.
    platform::RaiseOpenFileLimit();
    TreeScanner scanner(list, context, list.root);
    return scanner.ScanRoot(openPath);
}

BuiltList BuildFileList(const std::string& folder, const ScanContext& context, int capacity) {
    BuiltList built;
    built.list = NewFileList(capacity);
    if (built.list->capacity < capacity) {
        WriteLog(kNoMemoryText, 1);
        return built;
    }
    try {
        built.completed = ScanFolder(folder, *built.list, context);
    } catch (const std::bad_alloc&) {
        // The names of a huge tree did not fit in memory; the run reports the failed scan.
        WriteLog(kNoMemoryText, 1);
        built.completed = 0;
    }
    return built;
}

int ScanWorker(ScanJob& job, const ScanContext& context, int capacity,
               const std::function<void(bool failed)>& done) {
    const std::string folder = job.folder;
    BuiltList built = BuildFileList(folder, context, capacity);
    job.list = std::move(built.list);
    done(built.completed == 0);
    return 0;
}

}  // namespace mirova
