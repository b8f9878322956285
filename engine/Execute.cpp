#include "engine/Execute.h"

#include <algorithm>

#include "fileops/FileOperations.h"

namespace mirova {

bool SyncExecutor::CarryOutChanges(const RunPreset& preset, WorkLists& work,
                                   const RunState& state) {
    const std::string& source = preset.sourceFolder;
    const std::string& target = preset.targetFolder;
    const int quiet = state.noStopOnError.load();
    const KeepVersions keep{state.versionStamp};

    if (state.suppressDeletion == 0) {
        // The target copies of changed files lead the delete list. They are left to the copy,
        // which replaces each one only once its new content is complete: deleting them first
        // would leave the target without the file whenever the copy then fails.
        const NameList extraneousFiles = NameList(work.deleteFileList).subspan(work.changedCount);
        if (!extraneousFiles.empty() && DeleteFileList(target, extraneousFiles, ui_, keep) == 0) {
            return false;
        }
        if (!work.deleteFolderList.empty()) {
            // A folder's name is a prefix of the names below it, so descending byte order puts
            // every folder after its subfolders (a/b/c, a/b, a).
            std::sort(work.deleteFolderList.begin(), work.deleteFolderList.end(),
                      [](const char* a, const char* b) {
                          return CompareEntryNamesDescending(&a, &b) < 0;
                      });
            if (DeleteFolderList(target, work.deleteFolderList, ui_, keep) == 0) {
                return false;
            }
        }
    }
    bool completed = true;
    // Without suppressed deletion the old copy of a changed file is one the run deletes, so a
    // read-only one is replaced as well (atomically, by the copy); otherwise it is kept.
    const ReadOnlyDestination readOnly =
        state.suppressDeletion == 0 ? ReadOnlyDestination::Replace : ReadOnlyDestination::Keep;
    // A failed or stopped copy still lets the missing folders be created.
    if (!work.copyList.empty() &&
        CopyFileList(source, target, work.copyList, quiet, ui_, readOnly, keep) == 0) {
        completed = false;
    }
    if (!work.createFolderList.empty() &&
        CreateFolderList(target, work.createFolderList, quiet, ui_) == 0) {
        completed = false;
    }
    return completed;
}

}  // namespace mirova
