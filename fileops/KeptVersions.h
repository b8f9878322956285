#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "platform/Clock.h"
#include "platform/ConfinedTree.h"
#include "platform/FileSystem.h"
#include "platform/SysStatus.h"

namespace mirova {

// Kept versions: what a run would destroy (a file it deletes, the old copy of a file it
// replaces, a folder it removes) is moved into "<root>/.mirova-versions/YYYY-MM-DD hhmmss/"
// instead, under its own relative name, where the user can take it back by hand. The stamp is
// the start of the run, so one run's versions lie together.

// The folder at the root of a tree that holds its versions; the scan never lists it.
inline constexpr std::string_view kVersionsFolderName = ".mirova-versions";

// The name of one run's folder of versions: "YYYY-MM-DD hhmmss" of its start.
std::string VersionStampName(const platform::LocalTime& time);
// Reads such a name back; false for any other name.
bool ParseVersionStampName(std::string_view name, platform::LocalTime& out);

// What a list operation keeps: the name of the run's folder of versions, or nothing when empty.
struct KeepVersions {
    std::string stamp;
    bool on() const { return !stamp.empty(); }
};

// Moves items of one tree into the run's folder of versions at its root. Both the items and the
// folder of versions are reached from the root without following a link below it, as every
// other operation on a tree.
class VersionKeeper {
public:
    // rootFolder is the folder as the operations open it (FolderToOpen).
    VersionKeeper(const std::string& rootFolder, const KeepVersions& keep);
    VersionKeeper(const VersionKeeper&) = delete;
    VersionKeeper& operator=(const VersionKeeper&) = delete;

    bool on() const { return on_; }

    // Moves the file or link at `place` (relative name `name`) to the same name in the folder of
    // versions, whose missing folders are made. It is renamed, and copied only when it lies on
    // another file system than the root (a mount point inside the tree). Nothing already kept is
    // ever replaced. On failure the item is where it was. EISDIR: the item is a folder, and
    // ENOENT: there is none; both leave everything as it was.
    platform::SysStatus KeepFile(const platform::ItemPlace& place, const char* name);
    // Puts a kept file back where KeepFile took it from (its replacement failed).
    platform::SysStatus PutBack(const platform::ItemPlace& place, const char* name);
    // Removes the empty folder at `place`. Its counterpart in the folder of versions, which holds
    // what was kept from inside it and is made when missing, takes the folder's permissions and
    // times. On failure the folder stays, and a counterpart made for it alone is removed again.
    platform::SysStatus KeepFolder(const platform::ItemPlace& place, const char* name);

    // Whether the last KeepFile moved something; cleared by the call.
    bool TakeKept() {
        const bool kept = kept_;
        kept_ = false;
        return kept;
    }
    // The full path an item is kept at, for messages.
    std::string VersionPath(const char* name) const;

private:
    platform::SysStatus LocateVersion(const char* name, platform::ItemPlace& out);
    platform::SysStatus Move(const platform::ItemPlace& from, const platform::ItemPlace& to);

    bool on_ = false;
    std::string root_;
    std::string prefix_;  // ".mirova-versions/<stamp>/"
    platform::ConfinedTree tree_;
    std::string versionName_;  // the kept item's name below the root; places point into it
    bool kept_ = false;
};

// Removes the folders of versions below `rootFolder` whose stamp lies more than `days` days
// before `now`. Each folder removed is told to `removed` by its full path; one that cannot be
// removed whole is told to `failed` with the reason, and what is left of it stays.
void ExpireVersions(
    const std::string& rootFolder, int days, const platform::LocalTime& now,
    const std::function<void(const std::string& path)>& removed,
    const std::function<void(const std::string& path, const platform::SysStatus& status)>& failed);

}  // namespace mirova
