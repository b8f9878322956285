// The checks that keep a run from destroying what it was not asked to change, and from calling
// a failure complete.
#include <algorithm>
#include <vector>

#include "engine/Run.h"
#include "fileops/Format.h"
#include "fileops/KeptVersions.h"
#include "fileops/PathText.h"
#include "fileops/RunLog.h"
#include "platform/FileSystem.h"
#include "platform/FolderOverlap.h"

namespace mirova {
namespace {

using platform::FolderOverlap;

// What is wrong with two folders, or "" when they do not overlap.
std::string OverlapText(FolderOverlap overlap, const std::string& source,
                        const std::string& target) {
    switch (overlap) {
        case FolderOverlap::Same:
            return Format("ｿｰｽﾌｫﾙﾀﾞ %s とﾀｰｹﾞｯﾄﾌｫﾙﾀﾞ %s は同じﾌｫﾙﾀﾞです。", source.c_str(),
                          target.c_str());
        case FolderOverlap::SourceInsideTarget:
            return Format("ｿｰｽﾌｫﾙﾀﾞ %s はﾀｰｹﾞｯﾄﾌｫﾙﾀﾞ %s の中にあります。", source.c_str(),
                          target.c_str());
        case FolderOverlap::TargetInsideSource:
            return Format("ﾀｰｹﾞｯﾄﾌｫﾙﾀﾞ %s はｿｰｽﾌｫﾙﾀﾞ %s の中にあります。", target.c_str(),
                          source.c_str());
        case FolderOverlap::None:
            break;
    }
    return std::string();
}

int CountFiles(const FileList& list) {
    return static_cast<int>(std::count_if(list.entries, list.entries + list.count,
                                          [](const FileEntry& entry) { return !entry.isFolder; }));
}

}  // namespace

void RunController::ShowOrTell(const std::string& text) {
    if (quiet()) {
        ui_.TellUnshown(text);
    } else {
        ui_.DoMessageBox(text, kMbOk);
    }
    WriteLog(text, 1);
}

bool RunController::CheckOverlap() {
    FolderOverlap overlap = FolderOverlap::None;
    const platform::SysStatus status =
        platform::FindFolderOverlap(preset_.sourceFolder, preset_.targetFolder, overlap);
    std::string text = OverlapText(overlap, preset_.sourceFolder, preset_.targetFolder);
    if (status.error == ENOTDIR &&
        !platform::Exists(preset_.targetFolder, platform::FollowLinks::Yes)) {
        // A target whose path runs through a file cannot be made, and the run says so when
        // it tries; it cannot lie inside anything.
        return true;
    }
    if (!status.ok()) {
        text = Format("ｿｰｽﾌｫﾙﾀﾞ %s とﾀｰｹﾞｯﾄﾌｫﾙﾀﾞ %s の位置関係が確認できません。(%s)",
                      preset_.sourceFolder.c_str(), preset_.targetFolder.c_str(),
                      status.describe().c_str());
    }
    if (text.empty()) {
        return true;
    }
    // A merge preset is merged whatever kind of run was asked for; only a true compare run
    // changes nothing, so only it may look at overlapping folders.
    if (kind_ == RunKind::Compare && preset_.mergeMode != 1) {
        WriteLog(text + "\nｺﾝﾍﾟｱは何も変更しないため続行します。", 1);
        return true;
    }
    // Synchronising a folder with one inside it deletes the inner one, or copies the target
    // into itself at every run.
    ShowOrTell(text + "\n重なったﾌｫﾙﾀﾞは同期できません。");
    EndEarly(RunOutcome::Overlapping);
    ContinueAutoRun();
    return false;
}

bool RunController::CheckDeletionBrake() {
    if (state_.suppressDeletion != 0 || state_.allowMassDelete || state_.deleteLimit >= 100) {
        return true;
    }
    const FileList& source = *state_.sourceJob.list;
    const FileList& target = *state_.targetJob.list;
    // The old copies of changed files are replaced, not lost: only extraneous files count.
    const int deletions = static_cast<int>(work_.deleteFileList.size() - work_.changedCount);
    const int targetFiles = CountFiles(target);
    std::string text;
    if (source.count == 0 && target.count > 0) {
        // The mount point of a disk that is not plugged in looks exactly like this.
        text = Format(
            "ｿｰｽﾌｫﾙﾀﾞ %s は空です。\nﾀｰｹﾞｯﾄﾌｫﾙﾀﾞ %s の %d 個のﾌｧｲﾙと %d "
            "個のﾌｫﾙﾀﾞが全て削除されます。",
            preset_.sourceFolder.c_str(), preset_.targetFolder.c_str(), targetFiles,
            target.count - targetFiles);
    } else if (deletions >= kBrakeMinimumFiles &&
               static_cast<long long>(deletions) * 100 >
                   static_cast<long long>(state_.deleteLimit) * targetFiles) {
        text =
            Format("ﾀｰｹﾞｯﾄﾌｫﾙﾀﾞ %s の %d 個のﾌｧｲﾙのうち %d 個 (%d%%) が削除されます。(上限 %d%%)",
                   preset_.targetFolder.c_str(), targetFiles, deletions,
                   static_cast<int>(static_cast<long long>(deletions) * 100 / targetFiles),
                   state_.deleteLimit);
    }
    if (text.empty()) {
        return true;
    }
    const bool asks = !quiet() && state_.autoRunCount == 0 && ui_.AsksQuestions();
    if (!asks) {
        ShowOrTell(text + "\n大量の削除を防ぐため、ｱｯﾌﾟﾃﾞｰﾄは行いませんでした。");
        runCompleted_ = 0;
        FinishRun(RunOutcome::Braked);
        return false;
    }
    // Kept versions make the deletions undoable, but a surprise is still worth a question.
    const std::string kept =
        state_.keepVersions > 0
            ? Format("\n削除されるﾌｧｲﾙは %s に %d 日間保存されます。",
                     JoinPath(StripTrailingBackslash(preset_.targetFolder), kVersionsFolderName)
                         .c_str(),
                     state_.keepVersions)
            : std::string();
    const std::string question = text + kept + "\n本当に削除してよろしいですか？";
    if (ui_.DoMessageBox(question, kMbYesNo | kMbDefaultButton2 | kMbIconWarning) != kIdYes) {
        WriteLog(question + "NO", 1);
        WriteLog("アップデートはキャンセルされました。", 1);
        runCompleted_ = 0;
        FinishRun(RunOutcome::Declined);
        return false;
    }
    WriteLog(question + "YES", 1);
    return true;
}

void RunController::FlushWrittenData(bool sourceWritten) {
    // One flush per file system written, at the end: a USB disk unplugged after the closing
    // message must lose nothing, and a flush per file would cost every copy a wait.
    std::vector<std::string> folders{FolderToOpen(preset_.targetFolder)};
    if (sourceWritten) {
        folders.push_back(FolderToOpen(preset_.sourceFolder));
    }
    std::unique_ptr<StatusWindow> status = ui_.ShowStatusWindow();
    status->SetStatusText("ﾃﾞｰﾀをﾃﾞｨｽｸに書き込み中");
    std::vector<dev_t> flushed;
    for (const std::string& folder : folders) {
        const platform::SysStatus result = platform::FlushFileSystem(folder, flushed);
        if (!result.ok()) {
            const std::string text = Format("%s のﾃﾞｰﾀがﾃﾞｨｽｸに書き込めません。(%s)",
                                            folder.c_str(), result.describe().c_str());
            WriteLog(text, 1);
            ui_.NoteFailure(text, false);
        }
    }
}

void RunController::TellFailures(int failures) {
    ShowOrTell(Format("%d 個のﾌｧｲﾙ/ﾌｫﾙﾀﾞの処理に失敗しました。\n詳細はﾛｸﾞ %s を見てください。",
                      failures, LogFilePath(kRunLogName).c_str()));
}

}  // namespace mirova
