#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "engine/ExclusionTest.h"
#include "engine/FileList.h"

namespace mirova {

// Carries one scan to its worker and back.
struct ScanJob {
    std::string folder;  // the root folder to scan
    FileListPtr list;    // the worker's result; empty until it has finished
};

inline constexpr int kAutoRunCapacity = 30;
inline constexpr int kDefaultDeleteLimit = 50;
inline constexpr int kBrakeMinimumFiles = 10;
// The longest that kept versions may be kept, in days (about a hundred years).
inline constexpr int kMaxKeepVersionDays = 36500;

// The settings of the run in progress and the command-line list. The run's thread writes it;
// the scan worker only reads noStopOnError, useExclusions and exclusions.
struct RunState {
    // 1: errors are only logged; the boxes and the questions with an automatic answer are not
    // shown. The user may toggle it while a scan runs, so the worker reads it at each use.
    std::atomic<int> noStopOnError{0};
    int suppressDeletion = 0;  // 1: nothing is deleted in the target
    // The deletion brake: a synchronisation that would delete more than this percentage of
    // the target's files (and at least kBrakeMinimumFiles of them), or everything because the
    // source is empty, is asked about or refused. 100 switches the brake off.
    int deleteLimit = kDefaultDeleteLimit;
    bool allowMassDelete = false;  // the brake is lifted for this run
    // Days that kept versions are kept; 0: nothing deleted or replaced is kept.
    int keepVersions = 0;
    // The run's folder of versions ("YYYY-MM-DD hhmmss" of its start); set by the run at its
    // start when keepVersions is on, empty otherwise.
    std::string versionStamp;
    int autoRunCount = 0;                               // members of the command-line list
    std::int8_t autoRunPresets[kAutoRunCapacity] = {};  // 1-based preset numbers
    int autoRunNext = 0;                                // index of the next list member to run
    const ExclusionTest* exclusions = nullptr;
    int useExclusions = 0;
    int sourceDone = 0;
    int targetDone = 0;
    ScanJob sourceJob;
    ScanJob targetJob;
};

}  // namespace mirova
