#pragma once

#include <string>

#include "fileops/Progress.h"
#include "platform/SysStatus.h"

namespace mirova {

// Numbers that name the failing site in the location-tagged messages of the file operations.
inline constexpr int kSiteCopyFolder = 206;    // the folder that is to hold a copy
inline constexpr int kSiteListedFolder = 244;  // a folder of CreateFolderList
inline constexpr int kSiteSource = 316;        // the source of a copy cannot be opened
inline constexpr int kSiteDestination = 330;   // the destination of a copy cannot be made

// "<tag>:<site> - <path> が作成できません。"
std::string CannotCreateText(int site, const std::string& path);

// "<path> を <version path> に移動できません。(<reason>)": an item that was to be kept as a
// version could not be moved there, so it was neither deleted nor replaced.
std::string CannotKeepText(const std::string& path, const std::string& versionPath,
                           const platform::SysStatus& status);

// How a failure reaches the user. Whichever it is, the failure is noted once with
// FileOpsUi::NoteFailure.
enum class FailureNotice {
    LogOnly,          // written to the log, never shown
    ShowUnlessQuiet,  // shown with OK unless noStopOnError, written to the log in every case
    ShowOrLog,        // shown with OK, or written to the log instead under noStopOnError
};
// Log lines are stamped.
void ReportFailure(FileOpsUi& ui, const std::string& text, FailureNotice notice,
                   int noStopOnError = 0);

// The source of a copy cannot be opened. Unless noStopOnError, asks Retry/Cancel and returns
// true for Retry; otherwise the failure is logged and noted and the result is false.
bool RetrySourceOpen(const std::string& from, int noStopOnError, FileOpsUi& ui);

}  // namespace mirova
