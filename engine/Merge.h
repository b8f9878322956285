#pragma once

#include <vector>

#include "engine/FileList.h"

namespace mirova {

// What a merge has to do. The lists hold pointers to names inside the two file lists.
struct MergeLists {
    // Target files newer (at equal times: larger) than the source's, then target files the
    // source lacks: copied from the target to the source.
    std::vector<const char*> copyToSource;
    // Source files the target lacks or that are newer (at equal times: larger) than the
    // target's: copied from the source to the target.
    std::vector<const char*> copyToTarget;
    std::vector<const char*> createInSource;  // target folders the source lacks
    std::vector<const char*> createInTarget;  // source folders the target lacks
    // Names that are a file on one side and a folder on the other: they can never be copied,
    // so they are only reported.
    std::vector<const char*> kindClashes;

    bool empty() const {
        return copyToSource.empty() && copyToTarget.empty() && createInSource.empty() &&
               createInTarget.empty();
    }
};

// Classifies two sorted lists of relative names for a merge. Marks the target entries that a
// source entry matched (`matched`).
MergeLists ClassifyForMerge(const FileList& source, FileList& target);

}  // namespace mirova
