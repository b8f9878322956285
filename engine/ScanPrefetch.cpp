#include "engine/ScanPrefetch.h"

#include <fcntl.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <new>

#include "fileops/KeptVersions.h"

namespace mirova {
namespace {

using platform::FolderItem;
using platform::FolderReader;
using platform::ItemKind;
using platform::SysStatus;

// The read-ahead holds at most this much that the walk has not reached yet: it bounds the
// memory (about a hundred folders of a hundred items are a megabyte) and the open folders.
constexpr std::size_t kMaxHeldFolders = 256;
constexpr std::size_t kMaxHeldBytes = 8u << 20;

}  // namespace

int ScanThreads(const std::string& rootPath) {
    if (const char* value = std::getenv("MIROVA_SCAN_THREADS"); value != nullptr) {
        char* end = nullptr;
        const long threads = std::strtol(value, &end, 10);
        if (end != value && *end == '\0' && threads >= 1 && threads <= 32) {
            return static_cast<int>(threads);
        }
    }
    return platform::IsNetworkFileSystem(rootPath) ? kNetworkScanThreads : kLocalScanThreads;
}

FolderPrefetcher::FolderPrefetcher(const std::string& rootPath, int readers)
    : root_(std::make_unique<PrefetchSlot>()) {
    root_->name = rootPath;
    pending_.push_back(root_.get());
    try {
        for (int i = 0; i < std::max(readers, 1); ++i) {
            workers_.emplace_back([this] { WorkerLoop(); });
        }
    } catch (...) {
        // Fewer readers than asked for still read ahead; none at all is the caller's to handle.
        if (workers_.empty()) {
            throw;
        }
    }
}

FolderPrefetcher::~FolderPrefetcher() {
    Stop();
}

void FolderPrefetcher::Stop() {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        stopped_ = true;
    }
    changed_.notify_all();
    for (std::thread& worker : workers_) {
        if (worker.joinable()) {
            worker.join();
        }
    }
}

std::unique_ptr<FolderListing> FolderPrefetcher::Take(PrefetchSlot& slot) {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        if (stopped_) {
            return nullptr;
        }
        if (slot.state == PrefetchSlot::State::Done) {
            --heldFolders_;
            heldBytes_ -= slot.listing->bytes;
            lock.unlock();
            changed_.notify_all();
            return std::move(slot.listing);
        }
        if (slot.state == PrefetchSlot::State::Failed) {
            return nullptr;
        }
        // Nobody has started the folder the walk needs: the walk reads it. While the worker
        // reads it, the walk reads what comes next instead of idling.
        PrefetchSlot* job = nullptr;
        if (slot.state == PrefetchSlot::State::Pending) {
            // Out of the pending stack (mostly its top), which must not outlive the slot.
            const auto at = std::find(pending_.rbegin(), pending_.rend(), &slot);
            if (at != pending_.rend()) {
                pending_.erase(std::next(at).base());
            }
            job = &slot;
        } else {
            job = NextPending();
        }
        if (job != nullptr) {
            ReadAndPublish(*job, lock);
        } else {
            changed_.wait(lock);
        }
    }
}

PrefetchSlot* FolderPrefetcher::NextPending() {
    if (heldFolders_ >= kMaxHeldFolders || heldBytes_ >= kMaxHeldBytes) {
        return nullptr;
    }
    if (pending_.empty()) {
        return nullptr;
    }
    PrefetchSlot* slot = pending_.back();
    pending_.pop_back();
    return slot;
}

void FolderPrefetcher::WorkerLoop() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!stopped_) {
        PrefetchSlot* job = NextPending();
        if (job != nullptr) {
            ReadAndPublish(*job, lock);
        } else {
            changed_.wait(lock);
        }
    }
}

void FolderPrefetcher::ReadAndPublish(PrefetchSlot& slot, std::unique_lock<std::mutex>& lock) {
    slot.state = PrefetchSlot::State::Reading;
    lock.unlock();
    std::unique_ptr<FolderListing> listing;
    try {
        listing = Read(slot);
    } catch (const std::bad_alloc&) {
        // The walk reads the folder itself, where running out of memory is reported.
    }
    lock.lock();
    if (listing == nullptr) {
        slot.state = PrefetchSlot::State::Failed;
    } else {
        for (auto child = listing->children.rbegin(); child != listing->children.rend(); ++child) {
            pending_.push_back(child->get());
        }
        ++heldFolders_;
        heldBytes_ += listing->bytes;
        slot.listing = std::move(listing);
        slot.state = PrefetchSlot::State::Done;
    }
    changed_.notify_all();
}

std::unique_ptr<FolderListing> FolderPrefetcher::Read(const PrefetchSlot& slot) {
    FolderReader reader;
    const SysStatus opened = slot.parentFd < 0
                                 ? reader.Open(slot.name)
                                 : reader.OpenChildAt(slot.parentFd, slot.name.c_str());
    if (!opened.ok()) {
        return nullptr;
    }
    auto listing = std::make_unique<FolderListing>();
    FolderItem item;
    SysStatus error;
    for (;;) {
        const FolderReader::Step step = reader.Next(item, error);
        if (step == FolderReader::Step::Error) {
            return nullptr;  // the walk reads the folder again and reports what it finds
        }
        if (step == FolderReader::Step::End) {
            break;
        }
        FolderListing::Item& kept = listing->items.emplace_back();
        kept.nameOffset = static_cast<std::uint32_t>(listing->names.size());
        kept.nameLength = static_cast<std::uint32_t>(item.nameLength);
        kept.info = item.info;
        listing->names.append(item.name, item.nameLength);
        listing->names.push_back('\0');
        // The root's folder of kept versions is never listed by the walk, so it is never read.
        const bool versions = slot.parentFd < 0 &&
                              std::string_view(item.name, item.nameLength) == kVersionsFolderName;
        if (item.info.kind == ItemKind::Folder && !versions) {
            auto child = std::make_unique<PrefetchSlot>();
            child->name.assign(item.name, item.nameLength);
            listing->children.push_back(std::move(child));
        }
    }
    listing->fd.reset(::fcntl(reader.fd(), F_DUPFD_CLOEXEC, 0));
    if (!listing->fd.valid()) {
        return nullptr;
    }
    for (auto& child : listing->children) {
        child->parentFd = listing->fd.get();
    }
    listing->bytes = sizeof(FolderListing) + listing->names.capacity() +
                     listing->items.capacity() * sizeof(FolderListing::Item) +
                     listing->children.size() * (sizeof(PrefetchSlot) + 32);
    return listing;
}

}  // namespace mirova
