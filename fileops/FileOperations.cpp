#include "fileops/FileOperations.h"

#include <sys/stat.h>

#include <string_view>

#include "fileops/FailureReport.h"
#include "fileops/Format.h"
#include "fileops/PathText.h"
#include "fileops/ProgressFrame.h"
#include "fileops/RunLog.h"
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
        std::string_view reached(path.data(), anchor.reachedLength);
        while (!reached.empty() && reached.back() == kPathSeparator) {
            reached.remove_suffix(1);
        }
        const std::string folder(reached.empty() ? (path.front() == '/' ? "/" : ".") : reached);
        ui.DoMessageBox(Format("%s\n%s に移動できません。\n現在はのカレントは%sです。",
                               path.c_str(), anchor.failedComponent.c_str(), folder.c_str()),
                        kMbOk);
    }
    return status;
}

enum class ItemType { File, Folder };

// Deletes one item. An item that cannot be deleted stays, with a log line that names the
// reason; one that is gone already is no failure.
void DeleteItem(const std::string& path, ItemType type, FileOpsUi& ui) {
    SysStatus status = WalkLongPath(path, ui);
    if (status.ok()) {
        if (type == ItemType::Folder) {
            status = platform::RemoveFolder(path);
        } else {
            // The read-only attribute is cleared first, as a Windows delete needs it. A link
            // has no permission bits of its own.
            platform::ItemInfo info;
            if (platform::GetItemInfo(path, info).ok() &&
                info.kind != platform::ItemKind::Symlink && info.readOnly()) {
                (void)platform::SetPermissions(path, info.permissions | S_IWUSR);
            }
            status = platform::DeleteFile(path);
        }
        if (status.error == ENOENT) {
            return;
        }
    }
    if (!status.ok()) {
        ReportFailure(ui,
                      Format("%s が削除できません。(%s)", path.c_str(), status.describe().c_str()),
                      FailureNotice::LogOnly);
    }
}

int DeleteList(const std::string& base, NameList names, ItemType type, FileOpsUi& ui) {
    ProgressFrame frame(ui, names.size());
    const std::string root = StripTrailingBackslash(base);
    std::string path;
    for (const char* name : names) {
        if (!frame.BeginItem(name, kDeleting)) {
            return 0;
        }
        BuildPath(path, root, name);
        DeleteItem(path, type, ui);
        frame.EndItem();
    }
    return 1;
}

}  // namespace

std::string FolderPartOf(const std::string& path) {
    const std::size_t slash = path.rfind(kPathSeparator);
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

int DeleteFileList(const std::string& base, NameList names, FileOpsUi& ui) {
    return DeleteList(base, names, ItemType::File, ui);
}

int DeleteFolderList(const std::string& base, NameList names, FileOpsUi& ui) {
    return DeleteList(base, names, ItemType::Folder, ui);
}

int CreateFolderList(const std::string& base, NameList names, int noStopOnError, FileOpsUi& ui) {
    const std::string root = StripTrailingBackslash(base);
    std::string path;
    for (const char* name : names) {
        BuildPath(path, root, name);
        if (MakeFolderPath(path.c_str()) == -1) {
            ReportFailure(ui, CannotCreateText(kSiteListedFolder, path),
                          FailureNotice::ShowUnlessQuiet, noStopOnError);
            return 0;
        }
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
                 int noStopOnError, FileOpsUi& ui) {
    ProgressFrame frame(ui, names.size());
    const std::string fromRoot = StripTrailingBackslash(fromBase);
    const std::string toRoot = StripTrailingBackslash(toBase);
    std::string from;
    std::string to;
    int result = 1;  // callers never pass an empty list; an empty one has nothing to fail
    for (const char* name : names) {
        if (!frame.BeginItem(name, kCopying)) {
            return 0;
        }
        BuildPath(from, fromRoot, name);
        BuildPath(to, toRoot, name);
        const std::string folder = FolderPartOf(to);
        if (!platform::Exists(folder) && MakeFolderPath(folder.c_str()) == -1) {
            ReportFailure(ui, CannotCreateText(kSiteCopyFolder, folder),
                          FailureNotice::ShowUnlessQuiet, noStopOnError);
            return 0;
        }
        result = CopyFileAnyLength(from, to, noStopOnError, ui);
        if (result == 0 && noStopOnError == 0 &&
            ui.DoMessageBox(kContinueQuestion, kMbYesNo) == kIdNo) {
            return 0;
        }
        frame.EndItem();
    }
    return result;
}

}  // namespace mirova
