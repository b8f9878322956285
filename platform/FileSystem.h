#pragma once

#include <dirent.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/FileTime.h"
#include "platform/SysStatus.h"
#include "platform/UniqueFd.h"

namespace mirova::platform {

// What a directory item is. Symbolic links are reported as themselves and never followed;
// FIFOs, sockets and devices are "system" items, which the scan skips.
enum class ItemKind : std::uint8_t { File, Folder, Symlink, System };

// The attributes of one item as the listing reports them.
struct ItemInfo {
    ItemKind kind = ItemKind::File;
    FileTime lastWrite;
    FileTime lastAccess;
    std::uint64_t size = 0;  // full 64-bit size; 0 for folders, as the Windows listing has it
    mode_t permissions = 0;  // permission bits only (07777)
    uid_t owner = 0;
    gid_t group = 0;

    bool isFolder() const { return kind == ItemKind::Folder; }
    // No write bit for the owner: the counterpart of the read-only attribute.
    bool readOnly() const { return (permissions & S_IWUSR) == 0; }
};

ItemInfo ItemInfoFromStat(const struct stat& st);

// A name that begins with "." counts as hidden; it is listed like any other.
bool IsHiddenName(std::string_view name);

// Whether links at the path itself are followed. Below a root folder nothing is ever followed;
// the root folders are taken as the user typed them, so a root that is a link is followed.
enum class FollowLinks { No, Yes };

// The folder that holds the last component of a path, opened so that calls relative to it
// reach paths of any length without changing the current folder. For paths the plain calls
// accept, `dir` is AT_FDCWD and `leaf` is the whole path; for longer ones the folders are
// walked one by one with openat and `leaf` is the last component.
struct PathAnchor {
    UniqueFd owned;      // set when the walk opened a folder
    int dir = AT_FDCWD;  // the folder to pass to the *at calls
    std::string leaf;    // the name relative to dir
    // When the walk fails: the component that could not be entered, and the length of the
    // path's leading part that was reached (the folder the walk stood in).
    std::string failedComponent;
    std::size_t reachedLength = 0;
};

// An item named relative to an open folder, as the *at calls take it. The leaf is one name,
// or with dir AT_FDCWD a whole path.
struct ItemPlace {
    int dir = AT_FDCWD;
    const char* leaf = nullptr;
};

// True when the plain calls refuse the path for its length (PATH_MAX bytes and more).
bool NeedsWalk(std::string_view path);

// Resolves a path as described at PathAnchor. Fails when a folder of a long path cannot be
// entered; relative long paths are walked from the current folder.
SysStatus AnchorPath(const std::string& path, PathAnchor& out);

// Opens the folder at path itself (any length) for listing or for calls relative to it.
SysStatus OpenFolder(const std::string& path, UniqueFd& out, FollowLinks follow);

// Every call below that takes a path resolves it with AnchorPath and then does what its
// ItemPlace overload does; the overloads never follow a link at the place itself unless told.

// Reads the attributes of the item at path. With FollowLinks::No a link reports itself.
SysStatus GetItemInfo(const std::string& path, ItemInfo& out, FollowLinks follow = FollowLinks::No);
SysStatus GetItemInfo(const ItemPlace& place, ItemInfo& out, FollowLinks follow = FollowLinks::No);
// Existence test that a file, a folder, a link or a system item satisfies.
bool Exists(const std::string& path, FollowLinks follow = FollowLinks::No);

// Creates one folder (its parent must exist). mode is filtered by the umask.
SysStatus CreateFolder(const std::string& path, mode_t mode = 0777);
SysStatus CreateFolder(const ItemPlace& place, mode_t mode = 0777);
// Removes one empty folder (never a link to one).
SysStatus RemoveFolder(const std::string& path);
SysStatus RemoveFolder(const ItemPlace& place);
// Deletes a file or a link (never what the link points to).
SysStatus DeleteFile(const std::string& path);
SysStatus DeleteFile(const ItemPlace& place);
// Sets the permission bits. A link has none of its own on Linux; the call then succeeds and
// changes nothing.
SysStatus SetPermissions(const std::string& path, mode_t permissions);
SysStatus SetPermissions(const ItemPlace& place, mode_t permissions);
// Sets last-access and last-write times of the item itself (a link's own times).
SysStatus SetTimes(const std::string& path, FileTime lastAccess, FileTime lastWrite);
SysStatus SetTimes(const ItemPlace& place, const timespec (&times)[2]);
// Sets owner and group of the item itself; needs privileges to give a file away.
SysStatus SetOwner(const std::string& path, uid_t owner, gid_t group);
SysStatus SetOwner(const ItemPlace& place, uid_t owner, gid_t group);
// Renames within one file system, replacing an existing file (or link) at `to`.
SysStatus RenameItem(const std::string& from, const std::string& to);
SysStatus RenameItem(const ItemPlace& from, const ItemPlace& to);
// Renames only when nothing exists at `to` (EEXIST otherwise), in one step. EOPNOTSUPP where
// the file system cannot rename this way.
SysStatus RenameIfAbsent(const ItemPlace& from, const ItemPlace& to);
// Reads the text of the link at the place.
SysStatus ReadLink(const ItemPlace& place, std::string& target);
// Creates a link holding `target`; fails when an item of that name exists.
SysStatus CreateLink(const std::string& target, const ItemPlace& place);

// Exclusive binary open of an existing regular file for reading. The open fails while another
// process holds an exclusive lock on the file (the counterpart of a sharing violation), and on
// a link (ELOOP).
SysStatus OpenFileForReading(const std::string& path, UniqueFd& out);
// The same, also giving the attributes of the file opened (one fstat for the check and the
// caller).
SysStatus OpenFileForReading(const std::string& path, UniqueFd& out, struct stat& info);
SysStatus OpenFileForReading(const ItemPlace& place, UniqueFd& out, struct stat& info);
// How a file is created for writing.
enum class CreateMode {
    NewOnly,  // fails when an item of that name exists (temporary files)
    Replace,  // truncates an existing file
};
// Binary create for writing. Never follows a link at the path. A replaced file is locked
// exclusively for as long as it is open; a new file is nobody else's yet and needs no lock.
SysStatus CreateFileForWriting(const std::string& path, CreateMode mode, mode_t permissions,
                               UniqueFd& out);
SysStatus CreateFileForWriting(const ItemPlace& place, CreateMode mode, mode_t permissions,
                               UniqueFd& out);

// Reads up to `size` bytes, retrying on interruption and short reads; `got` tells how many
// arrived (fewer only at the end of the file).
SysStatus ReadFull(int fd, void* buffer, std::size_t size, std::size_t& got);
// Writes all bytes, retrying on interruption and partial writes.
SysStatus WriteAll(int fd, const void* buffer, std::size_t size);

// One listed item of a folder.
struct FolderItem {
    const char* name = nullptr;  // valid until the next call of FolderReader::Next
    std::size_t nameLength = 0;
    ItemInfo info;
};

// Lists one folder. Items come in the order the file system returns them, without "." and
// "..", each with its own attributes (links are not followed). An item that vanishes between
// the listing and the attribute read is passed over.
class FolderReader {
public:
    FolderReader() = default;
    FolderReader(const FolderReader&) = delete;
    FolderReader& operator=(const FolderReader&) = delete;
    ~FolderReader() { Close(); }

    // Opens a root folder by path (any length); a root that is a link to a folder is followed.
    SysStatus Open(const std::string& path);
    // Opens a subfolder of an open folder by its name; a link is never followed.
    SysStatus OpenChild(const FolderReader& parent, const char* name);
    // The same relative to an open folder descriptor (one kept after its listing was read).
    SysStatus OpenChildAt(int parentFd, const char* name);

    enum class Step { Item, End, Error };
    // Next item. On Step::Error `error` holds the reason (the folder can no longer be read,
    // or an item's attributes cannot be read).
    Step Next(FolderItem& item, SysStatus& error);

    void Close();
    bool isOpen() const { return stream_ != nullptr; }
    int fd() const;

private:
    SysStatus Adopt(UniqueFd fd);

    DIR* stream_ = nullptr;
};

// Raises the soft limit of open descriptors to the hard limit: a deep tree keeps one open
// folder per level while it is listed.
void RaiseOpenFileLimit();

// Whether the folder lies on a file system where every call is a round trip to another process
// or machine (NFS, SMB/CIFS, and FUSE, which sshfs uses): work is worth spreading over threads
// there. False when it cannot be told.
bool IsNetworkFileSystem(const std::string& folder);

// Writes everything cached for the file system that holds `folder` to its device (syncfs),
// unless a device of `flushed` is that file system's; the device is added to `flushed`.
SysStatus FlushFileSystem(const std::string& folder, std::vector<dev_t>& flushed);

}  // namespace mirova::platform
