#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace mirova {

// How many items one scan may list; one more makes the list overflow.
inline constexpr int kFileListCapacity = 1'000'000;

// One file or folder found below a scanned root.
struct FileEntry {
    // Path relative to the scanned root, components joined by "/" ("sub/a.txt"), NUL-terminated.
    // Points into the list's name store.
    const char* name;
    std::uint32_t lastWriteLow;   // last-write time, FileTime ticks, low half
    std::uint32_t lastWriteHigh;  // and high half
    std::uint64_t size;           // full size in bytes; 0 for folders
    std::int32_t isFolder;        // 1 folder, 0 file (links count as files)
    std::int32_t matched;         // 0 after the scan; the merge run marks matched entries
};

// Holds the names of one list: large blocks filled one after the other, so a million names
// cost a few allocations rather than a million.
class NameStore {
public:
    // Copies the text and its terminating NUL; the copy stays where it is until the store dies.
    const char* Add(std::string_view text);

private:
    static constexpr std::size_t kBlockSize = 1 << 20;
    std::vector<std::unique_ptr<char[]>> blocks_;
    char* next_ = nullptr;
    std::size_t left_ = 0;
};

// The items of one tree. `entries` has `capacity` slots, zero-filled when the list is made;
// slots 0 to count - 1 are in use, in scan order until the list is sorted.
struct FileList {
    int count = 0;
    int capacity = 0;
    FileEntry* entries = nullptr;
    NameStore names;
    // The scanned root as given, without its trailing separator. Names are stored relative to
    // it; the full path of an entry is root + "/" + name.
    std::string root;
    // Folders below the root that could not be read and were passed over (relative names). Their
    // contents are missing from the list, so a synchronisation must not take the other tree's
    // items below them for extraneous ones.
    std::vector<std::string> passedFolders;

    FileList() = default;
    FileList(const FileList&) = delete;
    FileList& operator=(const FileList&) = delete;
    ~FileList();
};

using FileListPtr = std::unique_ptr<FileList>;

// A new, empty list with room for `capacity` entries (tests use small capacities to reach the
// overflow).
FileListPtr NewFileList(int capacity = kFileListCapacity);
// Releases a list and every name it holds (also done by the FileListPtr itself).
void FreeFileList(FileListPtr& list);

// Sorts entries 0 to count - 1 in place by CompareEntryNames.
void SortFileList(FileList& list);

// strcmp on unsigned bytes: case-sensitive, no locale; -1, 0 or 1.
int CompareEntryNames(const FileEntry* a, const FileEntry* b);
// The same with the operands exchanged, over arrays of name pointers (deepest folder first).
int CompareEntryNamesDescending(const char* const* a, const char* const* b);
// Compares two last-write times given as (low, high) halves; 1 when a is later. Within equal
// high halves, differences of less than two seconds count as equal.
int CompareFileTimes(std::uint32_t aLow, std::uint32_t aHigh, std::uint32_t bLow,
                     std::uint32_t bHigh);
inline int CompareFileTimes(const FileEntry& a, const FileEntry& b) {
    return CompareFileTimes(a.lastWriteLow, a.lastWriteHigh, b.lastWriteLow, b.lastWriteHigh);
}

// Binary search of a sorted list for an entry of exactly this name; nullptr when absent.
const FileEntry* FindEntry(const FileList& list, const char* name);

}  // namespace mirova
