#include "engine/Classify.h"

#include <cstddef>
#include <string_view>

#include "engine/SortedMatch.h"

namespace mirova {
namespace {

struct KindCounts {
    std::size_t files = 0;
    std::size_t folders = 0;
};

KindCounts CountKinds(const FileList& list) {
    KindCounts counts;
    for (int i = 0; i < list.count; ++i) {
        if (list.entries[i].isFolder) {
            ++counts.folders;
        } else {
            ++counts.files;
        }
    }
    return counts;
}

// A file and a folder of one name are different items: the target one must go before the
// source one can take its place, or every later run would find the same difference again.
const FileEntry* SameKindOrNull(const FileEntry* found, const FileEntry& of) {
    return found != nullptr && (found->isFolder != 0) == (of.isFolder != 0) ? found : nullptr;
}

}  // namespace

WorkLists ClassifyLists(const FileList& source, const FileList& target,
                        const std::function<void(const char* name)>& onOlderSource) {
    WorkLists work;
    // Room for the worst case of each list, so that no list is copied while it grows. The
    // blocks are only reserved; pages that are never written cost nothing.
    const KindCounts sourceKinds = CountKinds(source);
    const KindCounts targetKinds = CountKinds(target);
    work.copyList.reserve(sourceKinds.files);
    work.createFolderList.reserve(sourceKinds.folders);
    // Each target entry lands there at most once: as the old copy of a changed file or as an
    // extraneous file, never both.
    work.deleteFileList.reserve(static_cast<std::size_t>(target.count));
    work.deleteFolderList.reserve(targetKinds.folders);

    const bool bothSorted = IsSortedList(source) && IsSortedList(target);
    SortedMatcher inTarget(target, bothSorted);
    for (int i = 0; i < source.count; ++i) {
        const FileEntry& s = source.entries[i];
        const FileEntry* t = SameKindOrNull(inTarget.Find(s.name), s);
        if (s.isFolder) {
            if (t == nullptr) {
                work.createFolderList.push_back(s.name);
            }
            continue;
        }
        if (t == nullptr) {
            work.copyList.push_back(s.name);
            work.copyTotal += s.size;
            continue;
        }
        const int order = CompareFileTimes(s, *t);
        if (order == 0 && s.size == t->size) {
            continue;
        }
        work.copyList.push_back(s.name);
        work.copyTotal += s.size;
        work.deleteFileList.push_back(t->name);
        ++work.changedCount;
        if (order < 0) {
            if (onOlderSource) {
                onOlderSource(s.name);
            }
            work.olderFound = true;
        }
    }

    SortedMatcher inSource(source, bothSorted);
    for (int i = 0; i < target.count; ++i) {
        const FileEntry& t = target.entries[i];
        if (SameKindOrNull(inSource.Find(t.name), t) != nullptr) {
            continue;
        }
        if (t.isFolder) {
            work.deleteFolderList.push_back(t.name);
        } else {
            work.deleteFileList.push_back(t.name);
        }
    }
    return work;
}

int SpareItemsBelow(WorkLists& work, const std::string& folder) {
    const std::string prefix = folder + '/';
    const auto below = [&prefix](const char* name) {
        return std::string_view(name).starts_with(prefix);
    };
    // The old copies of changed files lead the delete list; none lies below a folder whose
    // contents were not listed, so their count stays.
    const std::size_t before = work.deleteFileList.size() + work.deleteFolderList.size();
    std::erase_if(work.deleteFileList, below);
    std::erase_if(work.deleteFolderList, below);
    return static_cast<int>(before - work.deleteFileList.size() - work.deleteFolderList.size());
}

}  // namespace mirova
