#include "fileops/FailureReport.h"

#include "fileops/Format.h"
#include "fileops/RunLog.h"

namespace mirova {
namespace {

constexpr const char* kLocationTag = ".\\FileCtrl";

}  // namespace

std::string CannotCreateText(int site, const std::string& path) {
    return Format("%s:%d - %s が作成できません。", kLocationTag, site, path.c_str());
}

std::string CannotKeepText(const std::string& path, const std::string& versionPath,
                           const platform::SysStatus& status) {
    return Format("%s を %s に移動できません。(%s)", path.c_str(), versionPath.c_str(),
                  status.describe().c_str());
}

void ReportFailure(FileOpsUi& ui, const std::string& text, FailureNotice notice,
                   int noStopOnError) {
    const bool show = notice != FailureNotice::LogOnly && noStopOnError == 0;
    if (show) {
        ui.DoMessageBox(text, kMbOk);
    }
    if (!show || notice == FailureNotice::ShowUnlessQuiet) {
        WriteLog(text, 1);
    }
    ui.NoteFailure(text, show);
}

bool RetrySourceOpen(const std::string& from, int noStopOnError, FileOpsUi& ui) {
    const std::string text =
        Format("%s:%d - %s が開けません。", kLocationTag, kSiteSource, from.c_str());
    if (noStopOnError == 0 && ui.DoMessageBox(text, kMbRetryCancel) == kIdRetry) {
        return true;
    }
    ReportFailure(ui, text, FailureNotice::LogOnly);
    return false;
}

}  // namespace mirova
