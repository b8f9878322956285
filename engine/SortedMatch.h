#pragma once

#include <cstring>

#include "engine/FileList.h"

namespace mirova {

// True when the names of the list are in ascending byte order (equal neighbours allowed).
inline bool IsSortedList(const FileList& list) {
    for (int i = 1; i < list.count; ++i) {
        if (std::strcmp(list.entries[i - 1].name, list.entries[i].name) > 0) {
            return false;
        }
    }
    return true;
}

// Finds, for the entries of one list taken in list order, the first entry of another list with
// the same name: what FindEntry gives. When both lists are sorted (the usual case) it walks the
// two together, one string comparison per step instead of a binary search per entry;
// otherwise it asks FindEntry itself, so the answers never depend on the shortcut.
class SortedMatcher {
public:
    SortedMatcher(const FileList& in, bool bothSorted) : in_(in), sorted_(bothSorted) {}

    // With both lists sorted, the names must be asked in the order of their own list.
    const FileEntry* Find(const char* name) {
        if (!sorted_) {
            return FindEntry(in_, name);
        }
        int order = -1;
        while (next_ < in_.count && (order = std::strcmp(in_.entries[next_].name, name)) < 0) {
            ++next_;
        }
        return next_ < in_.count && order == 0 ? in_.entries + next_ : nullptr;
    }

private:
    const FileList& in_;
    bool sorted_;
    int next_ = 0;
};

}  // namespace mirova
