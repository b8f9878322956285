#include "engine/Merge.h"

#include "engine/SortedMatch.h"

namespace mirova {

MergeLists ClassifyForMerge(const FileList& source, FileList& target) {
    MergeLists merge;
    for (int i = 0; i < target.count; ++i) {
        target.entries[i].matched = 0;
    }
    SortedMatcher inTarget(target, IsSortedList(source) && IsSortedList(target));
    for (int i = 0; i < source.count; ++i) {
        const FileEntry& s = source.entries[i];
        const FileEntry* found = inTarget.Find(s.name);
        if (found == nullptr) {
            (s.isFolder ? merge.createInTarget : merge.copyToTarget).push_back(s.name);
            continue;
        }
        FileEntry* t = target.entries + (found - target.entries);
        t->matched = 1;
        if (s.isFolder && t->isFolder) {
            continue;
        }
        if (s.isFolder != t->isFolder) {
            merge.kindClashes.push_back(s.name);
            continue;
        }
        const int order = CompareFileTimes(s, *t);
        if (order > 0 || (order == 0 && t->size < s.size)) {
            merge.copyToTarget.push_back(s.name);
        } else if (order < 0 || (order == 0 && t->size > s.size)) {
            merge.copyToSource.push_back(s.name);
        }
    }
    for (int i = 0; i < target.count; ++i) {
        const FileEntry& t = target.entries[i];
        if (t.matched == 0) {
            (t.isFolder ? merge.createInSource : merge.copyToSource).push_back(t.name);
        }
    }
    return merge;
}

}  // namespace mirova
