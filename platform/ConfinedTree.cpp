#include "platform/ConfinedTree.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

#include "platform/FaultInjection.h"

namespace mirova::platform {
namespace {

// O_PATH needs only search permission on the folder, as the kernel's own walk does; with
// O_NOFOLLOW and O_DIRECTORY a link fails with ENOTDIR instead of being followed.
constexpr int kEnterFlags = O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

bool IsDotName(const char* name, std::size_t length) {
    return (length == 1 && name[0] == '.') || (length == 2 && name[0] == '.' && name[1] == '.');
}

int OpenAt(int dir, const char* name) {
    int fd;
    do {
        fd = ::openat(dir, name, kEnterFlags);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

}  // namespace

ConfinedTree::ConfinedTree(std::string base) : basePath_(std::move(base)) {}

SysStatus ConfinedTree::OpenBase() {
    // An empty base names no folder. Taking it as the current folder once deleted and copied
    // items of wherever the program was started instead of those of the root.
    if (basePath_.empty()) {
        return SysStatus{EINVAL};
    }
    // AnchorPath reaches a base of any length; the base is followed as given.
    PathAnchor anchor;
    SysStatus status = AnchorPath(basePath_, anchor);
    if (status.ok()) {
        int fd;
        do {
            fd = ::openat(anchor.dir, anchor.leaf.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        } while (fd < 0 && errno == EINTR);
        if (fd < 0) {
            status = SysStatus::FromErrno();
        } else {
            base_.reset(fd);
        }
    }
    return status;
}

SysStatus ConfinedTree::Enter(const char* name, std::size_t start, std::size_t end,
                              Missing missing) {
    const std::size_t length = end - start;
    failedOffset_ = start;
    failedLength_ = length;
    if (length == 0 || IsDotName(name + start, length)) {
        return SysStatus{EINVAL};
    }
    if (length > NAME_MAX) {
        return SysStatus{ENAMETOOLONG};
    }
    char component[NAME_MAX + 1];
    std::memcpy(component, name + start, length);
    component[length] = '\0';
    if (const int fault = InjectedFault(FaultCall::EnterFolder, component)) {
        return SysStatus{fault};
    }
    int fd = OpenAt(top(), component);
    if (fd < 0 && errno == ENOENT && missing == Missing::Create) {
        // Another process creating the same folder at the same moment is no failure.
        const SysStatus created = CreateFolder(ItemPlace{top(), component});
        if (!created.ok() && created.error != EEXIST) {
            failedCreating_ = true;
            return created;
        }
        fd = OpenAt(top(), component);
    }
    if (fd < 0) {
        return SysStatus::FromErrno();
    }
    levels_.push_back(Level{end, UniqueFd(fd)});
    opened_.assign(name, end);
    return SysStatus::Ok();
}

SysStatus ConfinedTree::Locate(const char* name, ItemPlace& out, Missing missing) {
    failedOffset_ = 0;
    failedLength_ = 0;
    failedCreating_ = false;
    if (!base_.valid()) {
        const SysStatus status = OpenBase();
        if (!status.ok()) {
            return status;
        }
    }
    const char* slash = std::strrchr(name, '/');
    const std::size_t parentLength = slash == nullptr ? 0 : static_cast<std::size_t>(slash - name);
    const char* leaf = slash == nullptr ? name : slash + 1;
    const std::size_t leafLength = std::strlen(leaf);
    if (leafLength == 0 || IsDotName(leaf, leafLength)) {
        failedOffset_ = static_cast<std::size_t>(leaf - name);
        failedLength_ = leafLength;
        return SysStatus{EINVAL};
    }

    // Keep the open folders that the name shares with the previous one.
    std::size_t common = 0;
    const std::size_t limit = std::min(parentLength, opened_.size());
    while (common < limit && opened_[common] == name[common]) {
        ++common;
    }
    std::size_t keep = 0;
    while (keep < levels_.size()) {
        const std::size_t end = levels_[keep].end;
        if (end > common || (end < parentLength && name[end] != '/')) {
            break;
        }
        ++keep;
    }
    levels_.resize(keep);
    opened_.resize(keep == 0 ? 0 : levels_.back().end);

    std::size_t start = keep == 0 ? 0 : levels_.back().end + 1;
    while (slash != nullptr && start <= parentLength) {
        const char* next =
            static_cast<const char*>(std::memchr(name + start, '/', parentLength - start));
        const std::size_t end =
            next == nullptr ? parentLength : static_cast<std::size_t>(next - name);
        const SysStatus status = Enter(name, start, end, missing);
        if (!status.ok()) {
            return status;
        }
        start = end + 1;
    }
    out = ItemPlace{top(), leaf};
    return SysStatus::Ok();
}

}  // namespace mirova::platform
