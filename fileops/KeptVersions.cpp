#include "fileops/KeptVersions.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdint>
#include <ctime>
#include <vector>

#include "fileops/Format.h"
#include "fileops/PathText.h"
#include "fileops/SafeCopy.h"

namespace mirova {
namespace {

using platform::ItemInfo;
using platform::ItemPlace;
using platform::SysStatus;

constexpr std::int64_t kSecondsPerDay = 24 * 60 * 60;
constexpr std::size_t kStampLength = 17;  // "YYYY-MM-DD hhmmss"

std::int64_t SecondsOf(const platform::LocalTime& t) {
    std::tm local{};
    local.tm_year = t.year - 1900;
    local.tm_mon = t.month - 1;
    local.tm_mday = t.day;
    local.tm_hour = t.hour;
    local.tm_min = t.minute;
    local.tm_sec = t.second;
    local.tm_isdst = -1;
    return static_cast<std::int64_t>(std::mktime(&local));
}

// Empties and removes the folder `name` of the open folder `dir`, never following a link: a
// link inside is removed as a link. Kept folders keep their permissions, so one without write
// permission for its owner is given it first. Returns the first failure; the rest is still
// removed as far as it goes.
SysStatus RemoveTree(int dir, const char* name) {
    const ItemPlace place{dir, name};
    ItemInfo info;
    SysStatus status = platform::GetItemInfo(place, info);
    if (!status.ok()) {
        return status;
    }
    if (!info.isFolder()) {
        return platform::DeleteFile(place);
    }
    if ((info.permissions & S_IRWXU) != S_IRWXU) {
        status = platform::SetPermissions(place, info.permissions | S_IRWXU);
        if (!status.ok()) {
            return status;
        }
    }
    platform::FolderReader reader;
    status = reader.OpenChildAt(dir, name);
    if (!status.ok()) {
        return status;
    }
    std::vector<std::string> names;
    platform::FolderItem item;
    SysStatus first = SysStatus::Ok();
    for (;;) {
        SysStatus error;
        const platform::FolderReader::Step step = reader.Next(item, error);
        if (step == platform::FolderReader::Step::End) {
            break;
        }
        if (step == platform::FolderReader::Step::Error) {
            first = error;
            break;
        }
        names.emplace_back(item.name, item.nameLength);
    }
    for (const std::string& child : names) {
        status = RemoveTree(reader.fd(), child.c_str());
        if (!status.ok() && status.error != ENOENT && first.ok()) {
            first = status;
        }
    }
    reader.Close();
    status = platform::RemoveFolder(place);
    return first.ok() ? status : first;
}

}  // namespace

std::string VersionStampName(const platform::LocalTime& t) {
    return Format("%04d-%02d-%02d %02d%02d%02d", t.year, t.month, t.day, t.hour, t.minute,
                  t.second);
}

bool ParseVersionStampName(std::string_view name, platform::LocalTime& out) {
    if (name.size() != kStampLength || name[4] != '-' || name[7] != '-' || name[10] != ' ') {
        return false;
    }
    const auto number = [&](std::size_t at, std::size_t length, int& value) {
        value = 0;
        for (std::size_t i = at; i < at + length; ++i) {
            if (name[i] < '0' || name[i] > '9') {
                return false;
            }
            value = value * 10 + (name[i] - '0');
        }
        return true;
    };
    platform::LocalTime t;
    if (!number(0, 4, t.year) || !number(5, 2, t.month) || !number(8, 2, t.day) ||
        !number(11, 2, t.hour) || !number(13, 2, t.minute) || !number(15, 2, t.second)) {
        return false;
    }
    if (t.month < 1 || t.month > 12 || t.day < 1 || t.day > 31 || t.hour > 23 || t.minute > 59 ||
        t.second > 60) {
        return false;
    }
    out = t;
    return true;
}

VersionKeeper::VersionKeeper(const std::string& rootFolder, const KeepVersions& keep)
    : on_(keep.on()),
      root_(StripTrailingBackslash(rootFolder)),
      prefix_(std::string(kVersionsFolderName) + kPathSeparator + keep.stamp + kPathSeparator),
      tree_(rootFolder) {}

std::string VersionKeeper::VersionPath(const char* name) const {
    return root_ + kPathSeparator + prefix_ + name;
}

SysStatus VersionKeeper::LocateVersion(const char* name, ItemPlace& out) {
    versionName_ = prefix_ + name;
    return tree_.Locate(versionName_.c_str(), out, platform::ConfinedTree::Missing::Create);
}

SysStatus VersionKeeper::Move(const ItemPlace& from, const ItemPlace& to) {
    SysStatus status = platform::RenameIfAbsent(from, to);
    if (status.error == EOPNOTSUPP) {
        // A file system without the one-step form: nothing kept may be replaced all the same.
        ItemInfo existing;
        status = platform::GetItemInfo(to, existing).ok() ? SysStatus{EEXIST}
                                                          : platform::RenameItem(from, to);
    }
    if (status.error != EXDEV) {
        return status;
    }
    // A mount point inside the tree: the item cannot leave its file system by a rename. It is
    // copied with its times and permissions, and only a complete copy lets the original go.
    CopySource source;
    status = OpenCopySource(from, source);
    if (!status.ok()) {
        return status;
    }
    if (!CopyOpenedSourceQuietly(source, to, ReadOnlyDestination::Keep)) {
        return SysStatus{EXDEV};
    }
    status = platform::DeleteFile(from);
    if (!status.ok()) {
        (void)platform::DeleteFile(to);
    }
    return status;
}

SysStatus VersionKeeper::KeepFile(const ItemPlace& place, const char* name) {
    kept_ = false;
    ItemInfo info;
    SysStatus status = platform::GetItemInfo(place, info);
    if (!status.ok()) {
        return status;
    }
    if (info.isFolder()) {
        return SysStatus{EISDIR};
    }
    ItemPlace version;
    status = LocateVersion(name, version);
    if (status.ok()) {
        status = Move(place, version);
    }
    kept_ = status.ok();
    return status;
}

SysStatus VersionKeeper::PutBack(const ItemPlace& place, const char* name) {
    ItemPlace version;
    const SysStatus status = LocateVersion(name, version);
    return status.ok() ? Move(version, place) : status;
}

SysStatus VersionKeeper::KeepFolder(const ItemPlace& place, const char* name) {
    ItemInfo info;
    SysStatus status = platform::GetItemInfo(place, info);
    if (!status.ok()) {
        return status;
    }
    if (!info.isFolder()) {
        return SysStatus{ENOTDIR};
    }
    ItemPlace version;
    status = LocateVersion(name, version);
    if (!status.ok()) {
        return status;
    }
    status = platform::CreateFolder(version, 0700);
    const bool made = status.ok();
    ItemInfo existing;
    if (!made && !(status.error == EEXIST && platform::GetItemInfo(version, existing).ok() &&
                   existing.isFolder())) {
        return status;
    }
    status = platform::RemoveFolder(place);
    if (!status.ok()) {
        if (made) {
            (void)platform::RemoveFolder(version);
        }
        return status;
    }
    // The folder is gone and its contents are kept; a counterpart that cannot take the
    // folder's permissions or times still holds them, so that is no failure of the item.
    const timespec times[2] = {platform::TimespecFromFileTime(info.lastAccess),
                               platform::TimespecFromFileTime(info.lastWrite)};
    (void)platform::SetPermissions(version, info.permissions);
    (void)platform::SetTimes(version, times);
    return SysStatus::Ok();
}

void ExpireVersions(
    const std::string& rootFolder, int days, const platform::LocalTime& now,
    const std::function<void(const std::string& path)>& removed,
    const std::function<void(const std::string& path, const SysStatus& status)>& failed) {
    platform::UniqueFd root;
    if (!platform::OpenFolder(rootFolder, root, platform::FollowLinks::Yes).ok()) {
        return;  // the run says so itself when it scans the folder
    }
    const std::string versionsName(kVersionsFolderName);
    const std::string versionsPath = JoinPath(StripTrailingBackslash(rootFolder), versionsName);
    platform::FolderReader versions;
    SysStatus status = versions.OpenChildAt(root.get(), versionsName.c_str());
    if (!status.ok()) {
        if (status.error != ENOENT) {
            failed(versionsPath, status);
        }
        return;
    }
    const std::int64_t limit = SecondsOf(now) - static_cast<std::int64_t>(days) * kSecondsPerDay;
    std::vector<std::string> expired;
    platform::FolderItem item;
    for (;;) {
        const platform::FolderReader::Step step = versions.Next(item, status);
        if (step == platform::FolderReader::Step::End) {
            break;
        }
        if (step == platform::FolderReader::Step::Error) {
            failed(versionsPath, status);
            break;
        }
        platform::LocalTime stamp;
        const std::string_view name(item.name, item.nameLength);
        // Only the folders a run made: anything else the user put there is the user's.
        if (item.info.isFolder() && ParseVersionStampName(name, stamp) &&
            SecondsOf(stamp) < limit) {
            expired.emplace_back(name);
        }
    }
    for (const std::string& name : expired) {
        const std::string path = JoinPath(versionsPath, name);
        status = RemoveTree(versions.fd(), name.c_str());
        if (status.ok()) {
            removed(path);
        } else {
            failed(path, status);
        }
    }
}

}  // namespace mirova
