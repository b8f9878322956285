#pragma once

#include <functional>
#include <string>

#include "engine/FileList.h"
#include "engine/RunState.h"
#include "fileops/MessageBox.h"
#include "fileops/Progress.h"

namespace mirova {

// What a scan reads of the run: the live noStopOnError flag, the exclusion switch and lists,
// and where its message boxes go.
struct ScanContext {
    const RunState& state;
    MessageBoxHandler& messages;
    // Where a folder passed over is noted as a failure of the run; none in tests that only scan.
    FileOpsUi* failures = nullptr;
};

// Adds one item to the list. fullPath is the item's whole path (the exclusion test sees it);
// the list keeps the part after the first rootLength bytes. Returns 1 when the item was added
// or excluded, 0 when the list is full (after the overflow message).
int AddFileEntry(FileList& list, std::string_view fullPath, std::size_t rootLength, int isFolder,
                 std::uint32_t lastWriteLow, std::uint32_t lastWriteHigh, std::uint64_t size,
                 const ScanContext& context);

// Adds everything below folder to list, depth first, a folder before its contents. Returns 1
// when it completed, 0 when it stopped (the list overflowed, or the root cannot be read).
int ScanFolder(const std::string& folder, FileList& list, const ScanContext& context);

struct BuiltList {
    FileListPtr list;
    int completed = 0;
};
// Makes a list and scans folder into it.
BuiltList BuildFileList(const std::string& folder, const ScanContext& context,
                        int capacity = kFileListCapacity);

// The worker-thread procedure: scans job.folder into job.list, then calls done(failed) (which
// posts the completion to the run's thread). Returns 0.
int ScanWorker(ScanJob& job, const ScanContext& context, int capacity,
               const std::function<void(bool failed)>& done);

}  // namespace mirova
