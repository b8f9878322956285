#pragma once

#include <memory>
#include <string>

#include "fileops/FileOperations.h"
#include "fileops/Progress.h"
#include "fileops/WorkAhead.h"

namespace mirova {

// The log line after a list that stopped early, when workers had carried out items beyond the
// item it stopped at.
inline constexpr const char* kDoneAheadFormat = "中止の前に %d 個の項目が処理済みでした。";

// Workers that copy the items of CopyFileList ahead of the list (see WorkAhead), each through
// trees of its own; nullptr when the list is to be worked through on the calling thread alone
// (see AheadWorkerCount). fromFolder and toFolder are the folders to open, the latter existing.
std::unique_ptr<WorkAhead> StartCopiesAhead(const std::string& fromFolder,
                                            const std::string& toFolder, NameList names,
                                            ReadOnlyDestination readOnly);

// The same for the files of DeleteFileList.
std::unique_ptr<WorkAhead> StartDeletesAhead(const std::string& folder, NameList names);

// After a list stopped early: stops the workers, tells the items they carried out beyond the
// stop as done, in list order, and logs how many there were. Nothing without workers.
void TellDoneAhead(WorkAhead* ahead, ItemDone what, const std::string& base, NameList names,
                   FileOpsUi& ui);

}  // namespace mirova
