#pragma once

#include <sys/stat.h>

#include <functional>
#include <string>

#include "fileops/FileOperations.h"
#include "fileops/KeptVersions.h"
#include "fileops/Progress.h"
#include "platform/FileSystem.h"
#include "platform/UniqueFd.h"

namespace mirova {

// The source of one copy, opened: a regular file that no one holds locked, or a link read as
// a link.
struct CopySource {
    struct stat st {};
    platform::UniqueFd fd;   // a regular file
    std::string linkTarget;  // a link

    bool isLink() const { return S_ISLNK(st.st_mode); }
};
platform::SysStatus OpenCopySource(const platform::ItemPlace& from, CopySource& source);

// Copies an opened source to the place `to` through a temporary file beside it (see
// CopyOneFile). fromText and toText name the two items in messages. A read-only destination is
// refused unless `readOnly` says that it may be replaced. With a keeper that is on, a
// destination that exists is kept as a version (by its relative name `name`) just before the new
// copy takes its place; when it cannot be kept, the copy fails and the destination stays.
// Returns 1 when copied, 0 when it failed.
int CopyOpenedSource(const CopySource& source, const platform::ItemPlace& to,
                     const std::string& fromText, const std::string& toText, int noStopOnError,
                     FileOpsUi& ui, ReadOnlyDestination readOnly = ReadOnlyDestination::Keep,
                     VersionKeeper* keeper = nullptr, const char* name = nullptr);

// The same copy without a word to anyone: no box, no log line, no failure noted. A failed copy
// leaves nothing behind either. Returns whether the copy is in place. Safe to call from several
// threads at once on different items.
bool CopyOpenedSourceQuietly(const CopySource& source, const platform::ItemPlace& to,
                             ReadOnlyDestination readOnly);

// Test seam of the copy. When set, it is called once for every copy of a regular file after
// the source's size has been read and the temporary file created, before any byte is copied,
// with the source's and the temporary file's descriptors. It lets a test shrink the source or
// put a full device behind the temporary file, faults a real file system does not produce on
// demand. Never set in the program. The copies that workers make ahead of a list call it from
// their threads, so it must bear being called from several at once; it is set only while no
// list is running.
using CopyStartHook = std::function<void(int sourceFd, int temporaryFd)>;
void SetCopyStartHookForTesting(CopyStartHook hook);

}  // namespace mirova
