#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "engine/FileList.h"

namespace mirova {

// The result of comparing two sorted lists. The lists hold pointers to names inside the two
// file lists, so they are valid only while both file lists exist.
struct WorkLists {
    // Source files to copy (new or changed), in source order.
    std::vector<const char*> copyList;
    // Target files to delete: first the target copies of changed files (source order), then
    // the target files the source lacks (target order).
    std::vector<const char*> deleteFileList;
    // How many of deleteFileList's first names are target copies of changed files.
    std::size_t changedCount = 0;
    // Target folders the source lacks, in target order.
    std::vector<const char*> deleteFolderList;
    // Source folders the target lacks, in source order.
    std::vector<const char*> createFolderList;
    // Sum of the sizes of every file in copyList.
    std::uint64_t copyTotal = 0;
    // Some source file is older than its target copy.
    bool olderFound = false;

    bool empty() const {
        return copyList.empty() && deleteFileList.empty() && deleteFolderList.empty() &&
               createFolderList.empty();
    }
};

// Classifies every entry of two sorted lists of relative names. A name that is a file on one
// side and a folder on the other counts as two different items: the target one is extraneous
// and the source one is new. onOlderSource is called, in source order, with the name of each
// source file that is older than its target copy (a file on both sides).
WorkLists ClassifyLists(const FileList& source, const FileList& target,
                        const std::function<void(const char* name)>& onOlderSource);

// Takes the target items below `folder` (a relative name; the folder itself stays) out of the
// lists of items to delete. Returns how many were taken out.
int SpareItemsBelow(WorkLists& work, const std::string& folder);

}  // namespace mirova
