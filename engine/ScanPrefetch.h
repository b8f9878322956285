#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/FileSystem.h"
#include "platform/UniqueFd.h"

namespace mirova {

struct PrefetchSlot;

// One folder's items, read whole ahead of the scan's walk: names and attributes in the order
// the file system gave them, with nothing filtered out.
struct FolderListing {
    struct Item {
        std::uint32_t nameOffset = 0;  // into names; each name ends with '\0'
        std::uint32_t nameLength = 0;
        platform::ItemInfo info;
    };
    // The folder itself, kept open so that its subfolders are opened relative to the very folder
    // that was listed (by the read-ahead and by the walk alike).
    platform::UniqueFd fd;
    std::string names;
    std::vector<Item> items;
    // One slot per item that is a folder, in the order of items.
    std::vector<std::unique_ptr<PrefetchSlot>> children;
    std::size_t bytes = 0;

    const char* name(const Item& item) const { return names.data() + item.nameOffset; }
};

// A folder the walk will list: opened by path (the root) or by name relative to the folder
// of its parent listing, which outlives the slot's read (the walk takes every child slot of
// a listing before it lets the listing go).
struct PrefetchSlot {
    enum class State { Pending, Reading, Done, Failed };
    int parentFd = -1;  // -1: the root, opened by path
    std::string name;
    State state = State::Pending;
    std::unique_ptr<FolderListing> listing;
};

// Reads folders ahead of a depth-first walk: worker threads plus the walk itself, which
// reads the folder it needs when nobody has started it yet, and helps with the next pending
// folder while the worker reads the one it waits for. Everything visible (entries, messages,
// log lines) stays with the walk; a folder whose read failed is read again by the walk's own
// code, so every failure is reported exactly as a single-threaded scan reports it.
class FolderPrefetcher {
public:
    // `readers` worker threads (at least 1) read ahead.
    FolderPrefetcher(const std::string& rootPath, int readers);
    ~FolderPrefetcher();
    FolderPrefetcher(const FolderPrefetcher&) = delete;
    FolderPrefetcher& operator=(const FolderPrefetcher&) = delete;

    PrefetchSlot& root() { return *root_; }
    // The slot's listing once read; nullptr when the read failed or the read-ahead stopped.
    std::unique_ptr<FolderListing> Take(PrefetchSlot& slot);
    // Ends the read-ahead and joins the worker; every later Take gives nullptr.
    void Stop();

private:
    void WorkerLoop();
    // Pops the next pending slot when the held listings leave room; nullptr otherwise.
    PrefetchSlot* NextPending();
    // Reads the slot without the lock, then publishes the result (under the lock).
    void ReadAndPublish(PrefetchSlot& slot, std::unique_lock<std::mutex>& lock);
    static std::unique_ptr<FolderListing> Read(const PrefetchSlot& slot);

    std::unique_ptr<PrefetchSlot> root_;
    std::mutex mutex_;
    std::condition_variable changed_;
    // Pending slots, the one the walk needs soonest on top (children are pushed last first).
    std::vector<PrefetchSlot*> pending_;
    std::size_t heldFolders_ = 0;  // read but not yet taken by the walk
    std::size_t heldBytes_ = 0;
    bool stopped_ = false;
    std::vector<std::thread> workers_;
};

// How many threads read the folders of a tree, the walk's own included (read at every scan):
// MIROVA_SCAN_THREADS when it holds 1 to 32; otherwise 2 on a local file system, where one
// reader ahead keeps the disk busy, and 9 on a network or FUSE one, where each folder read waits
// on round trips and several folders in flight hide them.
int ScanThreads(const std::string& rootPath);
inline constexpr int kLocalScanThreads = 2;
inline constexpr int kNetworkScanThreads = 9;

}  // namespace mirova
