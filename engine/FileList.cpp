#include "engine/FileList.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace mirova {
namespace {

int Sign(int value) {
    return (value > 0) - (value < 0);
}

// strcmp compares as unsigned char, which is the byte order the lists are kept in.
bool NameLess(const FileEntry& a, const FileEntry& b) {
    return std::strcmp(a.name, b.name) < 0;
}

}  // namespace

const char* NameStore::Add(std::string_view text) {
    const std::size_t needed = text.size() + 1;
    char* place;
    if (needed > kBlockSize) {
        // A name larger than a whole block gets a block of its own; the block being filled stays
        // the current one, so its free room is not wasted.
        blocks_.push_back(std::make_unique_for_overwrite<char[]>(needed));
        place = blocks_.back().get();
    } else {
        if (needed > left_) {
            blocks_.push_back(std::make_unique_for_overwrite<char[]>(kBlockSize));
            next_ = blocks_.back().get();
            left_ = kBlockSize;
        }
        place = next_;
        next_ += needed;
        left_ -= needed;
    }
    std::memcpy(place, text.data(), text.size());
    place[text.size()] = '\0';
    return place;
}

FileList::~FileList() {
    std::free(entries);
}

FileListPtr NewFileList(int capacity) {
    auto list = std::make_unique<FileList>();
    if (capacity > 0) {
        // calloc rather than new[]: the block is a million slots, and calloc hands out pages that
        // the kernel maps (zero-filled) only when a slot on them is first written, so a small tree
        // costs a few pages instead of the whole block.
        list->entries = static_cast<FileEntry*>(
            std::calloc(static_cast<std::size_t>(capacity), sizeof(FileEntry)));
        // Without memory the list has no room; the scan reports that as a failure.
        list->capacity = list->entries != nullptr ? capacity : 0;
    }
    return list;
}

void FreeFileList(FileListPtr& list) {
    list.reset();
}

void SortFileList(FileList& list) {
    if (list.count > 1) {
        std::sort(list.entries, list.entries + list.count, NameLess);
    }
}

int CompareEntryNames(const FileEntry* a, const FileEntry* b) {
    return Sign(std::strcmp(a->name, b->name));
}

int CompareEntryNamesDescending(const char* const* a, const char* const* b) {
    return Sign(std::strcmp(*b, *a));
}

int CompareFileTimes(std::uint32_t aLow, std::uint32_t aHigh, std::uint32_t bLow,
                     std::uint32_t bHigh) {
    if (aHigh != bHigh) {
        return aHigh > bHigh ? 1 : -1;
    }
    // The two-second tolerance is measured on the low halves only: two times on either side of a
    // change of the high half stay unequal however close they are. Copies made by file systems
    // that keep times in two-second steps thus still compare equal to their originals.
    const std::uint32_t difference = aLow > bLow ? aLow - bLow : bLow - aLow;
    if (difference / 10'000'000u < 2) {
        return 0;
    }
    return aLow > bLow ? 1 : -1;
}

const FileEntry* FindEntry(const FileList& list, const char* name) {
    const FileEntry* first = list.entries;
    const FileEntry* last = list.entries + list.count;
    if (first == last) {
        return nullptr;
    }
    const FileEntry* found = std::lower_bound(
        first, last, name,
        [](const FileEntry& entry, const char* key) { return std::strcmp(entry.name, key) < 0; });
    if (found != last && std::strcmp(found->name, name) == 0) {
        return found;
    }
    return nullptr;
}

}  // namespace mirova
