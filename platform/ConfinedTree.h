#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "platform/FileSystem.h"
#include "platform/SysStatus.h"
#include "platform/UniqueFd.h"

namespace mirova::platform {

// The items below one base folder, reached by relative names ("a/b/c.txt") one folder at a
// time, never through a link below the base. A folder that another user replaced by a link
// since the scan (even to a folder outside the tree) therefore stops the walk with ENOTDIR
// instead of leading a delete or a copy elsewhere. The base itself is taken as the user gave
// it, so a base that is a link is followed; an empty base fails every Locate (EINVAL).
//
// The folders on the way to the last item stay open, so that the next item of the same
// folder (the common case in a sorted list) costs no walk at all.
class ConfinedTree {
public:
    explicit ConfinedTree(std::string base);
    ConfinedTree(const ConfinedTree&) = delete;
    ConfinedTree& operator=(const ConfinedTree&) = delete;

    enum class Missing {
        Fail,    // a missing folder on the way fails the walk (ENOENT)
        Create,  // missing folders on the way are created
    };

    // The place of the item `name`: an open folder and the last component, which points into
    // `name` (it must outlive the use of the place). Empty, "." and ".." components are refused
    // (EINVAL): no name from a listing has them, and ".." would leave the tree.
    SysStatus Locate(const char* name, ItemPlace& out, Missing missing = Missing::Fail);

    // After a failed Locate: where in the name the folder that could not be entered or
    // created begins, and its length. Both are 0 when the base itself cannot be opened.
    std::size_t failedOffset() const { return failedOffset_; }
    std::size_t failedLength() const { return failedLength_; }
    // Whether that folder was missing and could not be created (Missing::Create), rather than
    // there and impossible to enter.
    bool failedCreating() const { return failedCreating_; }

private:
    struct Level {
        std::size_t end;  // length of the name's part that this folder stands for
        UniqueFd fd;
    };

    SysStatus OpenBase();
    SysStatus Enter(const char* name, std::size_t start, std::size_t end, Missing missing);
    int top() const { return levels_.empty() ? base_.get() : levels_.back().fd.get(); }

    std::string basePath_;
    UniqueFd base_;
    std::vector<Level> levels_;
    std::string opened_;  // the relative folder the last level stands for
    std::size_t failedOffset_ = 0;
    std::size_t failedLength_ = 0;
    bool failedCreating_ = false;
};

}  // namespace mirova::platform
