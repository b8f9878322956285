#include "fileops/FileOperations.h"

#include <sys/stat.h>

#include <memory>
#include <string_view>

#include "fileops/FailureReport.h"
#include "fileops/Format.h"
#include "fileops/ListAhead.h"
#include "fileops/PathText.h"
#include "fileops/ProgressFrame.h"
#include "fileops/RunLog.h"
#include "fileops/SafeCopy.h"
#include "platform/ConfinedTree.h"
#include "platform/FileSystem.h"

namespace mirova {
namespace {

using platform::SysStatus;

// Status lines of the progress window: the relative name, then the action.
constexpr std::string_view kDeleting = " を削除中";
constexpr std::string_view kCopying = " をｺﾋﾟｰ中";

// base + "/" + name, into a text that keeps its capacity from item to item.
void BuildPath(std::string& out, const std::string& base, const char* name) {
    out.assign(base);
    out.push_back(kPathSeparator);
    out.append(name);
}

// Tells the user about a folder on the way to a long path that cannot be entered; the caller
// then fails the item. Paths the plain calls accept fail with their normal message alone, as
// they always have. failedOffset is where the folder's name begins in `path`.
void TellUnenterableFolder(const std::string& path, std::size_t failedOffset,
                           std::size_t failedLength, MessageBoxHandler& ui) {
    if (!platform::NeedsWalk(path)) {
        return;
    }
    std::string_view reached(path.data(), failedOffset);
    while (!reached.empty() && reached.back() == kPathSeparator) {
        reached.remove_suffix(1);
    }
    const std::string folder(reached.empty() ? (path.front() == '/' ? "/" : ".") : reached);
    const std::string component = path.substr(failedOffset, failedLength);
    ui.DoMessageBox(Format("%s\n%s に移動できません。\n現在はのカレントは%sです。", path.c_str(),
                           component.c_str(), folder.c_str()),
                    kMbOk);
}

// The same for the items of a tree. Neither a failure of the base itself nor a folder that
// could not be created is a folder on the way that cannot be entered.
void TellUnenterableFolder(const std::string& path, const std::string& root,
                           const platform::ConfinedTree& tree, MessageBoxHandler& ui) {
    if (tree.failedLength() > 0 && !tree.failedCreating()) {
        TellUnenterableFolder(path, root.size() + 1 + tree.failedOffset(), tree.failedLength(), ui);
    }
}

// Walks the folders of a path that the plain calls refuse. A folder that cannot be entered is
// told to the user whatever noStopOnError says, and the caller then fails the item: working on
// from the folder the walk reached could hit another file of the same name.
SysStatus WalkLongPath(const std::string& path, MessageBoxHandler& ui) {
    if (!platform::NeedsWalk(path)) {
        return SysStatus::Ok();
    }
    platform::PathAnchor anchor;
    const SysStatus status = platform::AnchorPath(path, anchor);
    if (!status.ok()) {
        TellUnenterableFolder(path, anchor.reachedLength, anchor.failedComponent.size(), ui);
    }
    return status;
}

enum class ItemType { File, Folder };

// Deletes one item of the tree. An item that cannot be deleted stays, with a log line that
// names the reason; one that is gone already (or whose folder is) is no failure. Unlike on
// Windows, a read-only file needs no change of its permissions to be deleted: changing them
// would reach every other hard link of the file.
void DeleteItem(platform::ConfinedTree& tree, const std::string& base, const std::string& root,
                const char* name, ItemType type, std::string& path, FileOpsUi& ui,
                VersionKeeper& keeper) {
    platform::ItemPlace place;
    SysStatus status = tree.Locate(name, place);
    bool keptFailed = false;
    if (status.ok()) {
        if (keeper.on()) {
            status = type == ItemType::Folder ? keeper.KeepFolder(place, name)
                                              : keeper.KeepFile(place, name);
            // A folder that is not empty (or no folder at all) fails as its removal always has.
            keptFailed = !status.ok() && status.error != ENOENT &&
                         !(type == ItemType::Folder &&
                           (status.error == ENOTEMPTY || status.error == ENOTDIR));
        } else {
            status = type == ItemType::Folder ? platform::RemoveFolder(place)
                                              : platform::DeleteFile(place);
        }
    } else if (status.error != ENOENT) {
        BuildPath(path, root, name);
        TellUnenterableFolder(path, root, tree, ui);
    }
    if (status.ok()) {
        if (keeper.on()) {
            ui.TellItemDone(ItemDone::KeptVersion, base, name);
        }
        ui.TellItemDone(type == ItemType::Folder ? ItemDone::DeletedFolder : ItemDone::DeletedFile,
                        base, name);
        return;
    }
    if (status.error == ENOENT) {
        return;
    }
    BuildPath(path, root, name);
    ReportFailure(
        ui,
        keptFailed ? CannotKeepText(path, keeper.VersionPath(name), status)
                   : Format("%s が削除できません。(%s)", path.c_str(), status.describe().c_str()),
        FailureNotice::LogOnly);
}

int DeleteList(const std::string& base, NameList names, ItemType type, FileOpsUi& ui,
               const KeepVersions& keep) {
    ProgressFrame frame(ui, names.size());
    const std::string root = StripTrailingBackslash(base);
    const std::string folder = FolderToOpen(base);
    platform::ConfinedTree tree(folder);
    VersionKeeper keeper(folder, keep);
    // Files may be deleted ahead by workers on a network file system; folders never are, as
    // each must wait for its subfolders. Nor are items kept as versions: the workers delete.
    const std::unique_ptr<WorkAhead> ahead =
        type == ItemType::File && !keeper.on() ? StartDeletesAhead(folder, names) : nullptr;
    std::string path;
    for (std::size_t item = 0; item < names.size(); ++item) {
        const char* name = names[item];
        if (!frame.BeginItem(name, kDeleting)) {
            TellDoneAhead(ahead.get(), ItemDone::DeletedFile, base, names, ui);
            return 0;
        }
        if (ahead != nullptr && ahead->Await(item)) {
            ui.TellItemDone(ItemDone::DeletedFile, base, name);
        } else {
            DeleteItem(tree, base, root, name, type, path, ui, keeper);
        }
        frame.EndItem();
    }
    return 1;
}

// A folder that exists is fine; anything else in its place (a file, or a link even to a
// folder) is not.
bool IsRealFolder(const platform::ItemPlace& place) {
    platform::ItemInfo info;
    return platform::GetItemInfo(place, info).ok() && info.isFolder();
}

// Copies the item `name` of a source tree to an existing destination place. A source that
// cannot be reached or opened (gone since the scan, locked, a folder on its way swapped for a
// link) is asked about, or logged, like any unopenable source.
int CopyFromTree(platform::ConfinedTree& fromTree, const std::string& fromRoot, const char* name,
                 const std::string& from, const platform::ItemPlace& to, const std::string& toText,
                 int noStopOnError, FileOpsUi& ui, ReadOnlyDestination readOnly,
                 VersionKeeper& keeper) {
    CopySource source;
    for (;;) {
        platform::ItemPlace place;
        const SysStatus located = fromTree.Locate(name, place);
        if (located.ok() && OpenCopySource(place, source).ok()) {
            break;
        }
        if (!located.ok()) {
            TellUnenterableFolder(from, fromRoot, fromTree, ui);
        }
        if (!RetrySourceOpen(from, noStopOnError, ui)) {
            return 0;
        }
    }
    return CopyOpenedSource(source, to, from, toText, noStopOnError, ui, readOnly, &keeper, name);
}

}  // namespace

std::string FolderPartOf(const std::string& path) {
    const std::size_t slash = path.rfind(kPathSeparator);
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

int DeleteFileList(const std::string& base, NameList names, FileOpsUi& ui,
                   const KeepVersions& keep) {
    return DeleteList(base, names, ItemType::File, ui, keep);
}

int DeleteFolderList(const std::string& base, NameList names, FileOpsUi& ui,
                     const KeepVersions& keep) {
    return DeleteList(base, names, ItemType::Folder, ui, keep);
}

int CreateFolderList(const std::string& base, NameList names, int noStopOnError, FileOpsUi& ui) {
    const std::string root = StripTrailingBackslash(base);
    // The base is the user's own folder, created with its parents if need be; everything
    // below it is created inside the tree only.
    const std::string folder = FolderToOpen(base);
    const bool baseReady = MakeFolderPath(folder.c_str()) == 0;
    platform::ConfinedTree tree(folder);
    std::string path;
    for (const char* name : names) {
        platform::ItemPlace place;
        bool made =
            baseReady && tree.Locate(name, place, platform::ConfinedTree::Missing::Create).ok();
        if (made) {
            const SysStatus status = platform::CreateFolder(place);
            made = status.ok() || (status.error == EEXIST && IsRealFolder(place));
        }
        if (!made) {
            BuildPath(path, root, name);
            TellUnenterableFolder(path, root, tree, ui);
            ReportFailure(ui, CannotCreateText(kSiteListedFolder, path),
                          FailureNotice::ShowUnlessQuiet, noStopOnError);
            return 0;
        }
        ui.TellItemDone(ItemDone::CreatedFolder, base, name);
    }
    return 1;
}

int CopyFileAnyLength(const std::string& from, const std::string& to, int noStopOnError,
                      FileOpsUi& ui) {
    while (!WalkLongPath(from, ui).ok()) {
        if (!RetrySourceOpen(from, noStopOnError, ui)) {
            return 0;
        }
    }
    if (!WalkLongPath(to, ui).ok()) {
        ReportFailure(ui, CannotCreateText(kSiteDestination, to), FailureNotice::ShowUnlessQuiet,
                      noStopOnError);
        return 0;
    }
    return CopyOneFile(from, to, noStopOnError, ui);
}

int CopyFileList(const std::string& fromBase, const std::string& toBase, NameList names,
                 int noStopOnError, FileOpsUi& ui, ReadOnlyDestination readOnly,
                 const KeepVersions& keep) {
    ProgressFrame frame(ui, names.size());
    const std::string fromRoot = StripTrailingBackslash(fromBase);
    const std::string toRoot = StripTrailingBackslash(toBase);
    // Both trees are walked from their bases, so that neither a source nor a destination
    // folder swapped for a link leads outside them.
    const std::string fromFolder = FolderToOpen(fromBase);
    platform::ConfinedTree fromTree(fromFolder);
    const std::string toFolder = FolderToOpen(toBase);
    platform::ConfinedTree toTree(toFolder);
    const bool toBaseReady = MakeFolderPath(toFolder.c_str()) == 0;
    VersionKeeper keeper(toFolder, keep);
    // On a network file system workers copy ahead of the list; whatever they could not copy
    // is copied here in its turn, with every question and message of a copy. The workers
    // replace destinations outright, so they do not work where old copies are kept.
    const std::unique_ptr<WorkAhead> ahead =
        toBaseReady && !keeper.on() ? StartCopiesAhead(fromFolder, toFolder, names, readOnly)
                                    : nullptr;
    const auto stop = [&] {
        TellDoneAhead(ahead.get(), ItemDone::Copied, toBase, names, ui);
        return 0;
    };
    std::string from;
    std::string to;
    int result = 1;  // callers never pass an empty list; an empty one has nothing to fail
    for (std::size_t item = 0; item < names.size(); ++item) {
        const char* name = names[item];
        if (!frame.BeginItem(name, kCopying)) {
            return stop();
        }
        if (ahead != nullptr && ahead->Await(item)) {
            result = 1;
            ui.TellItemDone(ItemDone::Copied, toBase, name);
            frame.EndItem();
            continue;
        }
        BuildPath(from, fromRoot, name);
        BuildPath(to, toRoot, name);
        platform::ItemPlace toPlace;
        if (!toBaseReady ||
            !toTree.Locate(name, toPlace, platform::ConfinedTree::Missing::Create).ok()) {
            TellUnenterableFolder(to, toRoot, toTree, ui);
            ReportFailure(ui, CannotCreateText(kSiteCopyFolder, FolderPartOf(to)),
                          FailureNotice::ShowUnlessQuiet, noStopOnError);
            return stop();
        }
        result = CopyFromTree(fromTree, fromRoot, name, from, toPlace, to, noStopOnError, ui,
                              readOnly, keeper);
        if (keeper.TakeKept() && result == 1) {
            ui.TellItemDone(ItemDone::KeptVersion, toBase, name);
        }
        if (result == 1) {
            ui.TellItemDone(ItemDone::Copied, toBase, name);
        }
        if (result == 0 && noStopOnError == 0 &&
            ui.DoMessageBox(kContinueQuestion, kMbYesNo) == kIdNo) {
            return stop();
        }
        frame.EndItem();
    }
    return result;
}

}  // namespace mirova
