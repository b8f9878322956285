#pragma once

#include <span>
#include <string>
#include <string_view>

#include "fileops/KeptVersions.h"
#include "fileops/Progress.h"

namespace mirova {

// The relative names a list operation works through; they belong to the run's file lists.
using NameList = std::span<const char* const>;

// The question after the user pressed Cancel in a progress window.
inline constexpr const char* kReallyStopQuestion = "　　　　本当に中止しますか？　　　　";
// The question after a copy failed.
inline constexpr const char* kContinueQuestion = "　　　　続行しますか？　　　　";

// The folder part of a path, with its trailing separator ("/a/b/c.txt" gives "/a/b/"); "" when
// the path has no separator.
std::string FolderPartOf(const std::string& path);

// Deletes files (and links) below base, read-only ones too. Every item is reached from base
// without following a link below it (see platform::ConfinedTree), so nothing outside the tree
// is ever deleted. A file that cannot be deleted stays; it gets a stamped log line with the
// reason, and the list goes on.
// Returns 1 when the whole list was worked through, 0 when the user stopped it.
//
// On a network or FUSE file system (or as MIROVA_COPY_THREADS says) workers carry out items
// ahead of the list; this and CopyFileList still show, ask, log and tell every item in list
// order on the calling thread, exactly as item after item would, and an item a worker could not
// carry out is done again in its turn. When the list stops early, the items the workers had
// carried out beyond the stop are told done after it, with one log line that counts them.
//
// With `keep` on, every file is moved into the run's folder of versions at base instead (see
// VersionKeeper), item after item; one that cannot be moved stays, with a stamped log line.
int DeleteFileList(const std::string& base, NameList names, FileOpsUi& ui,
                   const KeepVersions& keep = {});

// Removes folders below base in the order given (the caller puts subfolders first). A folder
// that cannot be removed (not empty, in use) stays, with a stamped log line. Returns 1 when the
// whole list was worked through, 0 when the user stopped it. With `keep` on, each folder removed
// leaves its counterpart, with its permissions and times, in the run's folder of versions.
int DeleteFolderList(const std::string& base, NameList names, FileOpsUi& ui,
                     const KeepVersions& keep = {});

// Creates folders (with their missing parents) below base, never through a link. Returns 1 when
// every folder exists, 0 at the first that cannot be created (shown unless noStopOnError, logged in
// every case).
int CreateFolderList(const std::string& base, NameList names, int noStopOnError, FileOpsUi& ui);

// Copies one file (or link) with its times and permission bits (owner and group as well when
// running as root). The new content is written to a temporary file beside the destination and
// renamed over it only when complete, so a failed copy leaves the old destination as it was.
// A read-only destination is refused. Returns 1 when copied, 0 when it failed.
int CopyOneFile(const std::string& from, const std::string& to, int noStopOnError, FileOpsUi& ui);

// CopyOneFile for paths of any length: a folder of a long path that cannot be entered is told
// to the user, and the copy then fails.
int CopyFileAnyLength(const std::string& from, const std::string& to, int noStopOnError,
                      FileOpsUi& ui);

// What a copy does with a destination file that is read-only.
enum class ReadOnlyDestination {
    Keep,     // refuse the copy: the user protected the file
    Replace,  // replace it: the run would have deleted it anyway
};

// Copies files from one base folder to another, creating missing destination folders. Both
// sides are reached from their base folders as DeleteFileList reaches its items. Returns
// the result of the last file attempted; 0 also when the user stopped the list or a
// destination folder could not be created. Carried out ahead by workers as DeleteFileList is,
// unless `keep` is on: then each destination replaced is first kept as a version at toBase, and
// a destination that cannot be kept fails its copy and stays as it was.
int CopyFileList(const std::string& fromBase, const std::string& toBase, NameList names,
                 int noStopOnError, FileOpsUi& ui,
                 ReadOnlyDestination readOnly = ReadOnlyDestination::Keep,
                 const KeepVersions& keep = {});

// Temporary files of unfinished copies start with this prefix.
inline constexpr const char* kPartialCopyPrefix = ".mirova-partial-";

// Whether a name is that of such a temporary file: the prefix, the id of the copying process,
// "-" and a serial number. A user's own file that merely begins with the prefix is not one.
bool IsPartialCopyName(std::string_view name);

// Whether a temporary file (by a name that IsPartialCopyName accepts) belongs to a process that
// no longer runs, so that no copy can still be writing it. This process counts as running.
bool IsStalePartialCopy(std::string_view name);

}  // namespace mirova
