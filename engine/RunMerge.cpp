#include "engine/Merge.h"
#include "engine/Run.h"
#include "fileops/FileOperations.h"
#include "fileops/Format.h"
#include "fileops/RunLog.h"

namespace mirova {
namespace {

enum MergeResult { kMergeFailed = 0, kMergeDone = 1, kMergeNothing = -1 };

}  // namespace

void RunController::RunMerge() {
    MergeLists merge = ClassifyForMerge(*state_.sourceJob.list, *state_.targetJob.list);
    for (const char* name : merge.kindClashes) {
        const std::string text =
            Format("%s はｿｰｽとﾀｰｹﾞｯﾄでﾌｧｲﾙとﾌｫﾙﾀﾞが異なるためﾏｰｼﾞできません。", name);
        WriteLog(text, 1);
        ui_.NoteFailure(text, false);
    }
    statusWindow_.reset();

    int mergeResult = kMergeDone;
    RunOutcome outcome = RunOutcome::Reported;
    const int quiet = state_.noStopOnError.load();
    if (merge.empty()) {
        const std::string text = "ｿｰｽとﾀｰｹﾞｯﾄが完全に一致しました。";
        if (quiet) {
            WriteLog(text, 1);
        } else {
            ui_.DoMessageBox(text, kMbOk);
        }
        mergeResult = kMergeNothing;
        outcome = RunOutcome::Identical;
    } else {
        const std::string report = Format(
            "ｺﾋﾟｰが必要なﾌｧｲﾙが %d 個、作成が必要なﾌｫﾙﾀﾞが %d 個 "
            "あります。\nﾏｰｼﾞ処理を続行しますか？",
            static_cast<int>(merge.copyToSource.size() + merge.copyToTarget.size()),
            static_cast<int>(merge.createInSource.size() + merge.createInTarget.size()));
        if (quiet) {
            WriteLog(report, 1);
        } else if (ui_.DoMessageBox(report, kMbYesNo) != kIdYes) {
            mergeResult = kMergeNothing;
            outcome = RunOutcome::Declined;
        }
    }

    if (mergeResult == kMergeDone) {
        const std::string& source = preset_.sourceFolder;
        const std::string& target = preset_.targetFolder;
        // The old copy of every file replaced is kept in the folder where it was.
        const KeepVersions keep{state_.versionStamp};
        constexpr ReadOnlyDestination kReadOnly = ReadOnlyDestination::Keep;
        // Every step runs even after an earlier one failed: each direction is worth doing.
        const auto step = [&mergeResult](int result) {
            if (result == 0) {
                mergeResult = kMergeFailed;
            }
        };
        if (!merge.copyToSource.empty()) {
            step(CopyFileList(target, source, merge.copyToSource, quiet, ui_, kReadOnly, keep));
        }
        if (!merge.copyToTarget.empty()) {
            step(CopyFileList(source, target, merge.copyToTarget, quiet, ui_, kReadOnly, keep));
        }
        if (!merge.createInSource.empty()) {
            step(CreateFolderList(source, merge.createInSource, quiet, ui_));
        }
        if (!merge.createInTarget.empty()) {
            step(CreateFolderList(target, merge.createInTarget, quiet, ui_));
        }
        FlushWrittenData(true);
        if (mergeResult == kMergeFailed) {
            outcome = RunOutcome::Incomplete;
        }
    }
    const int failures = RunFailures();
    outcome = WithFailures(outcome, failures);

    merge = MergeLists{};
    state_.sourceJob.list.reset();
    state_.targetJob.list.reset();
    EndEarly(outcome);

    if (state_.autoRunCount > 0) {
        if (failures > 0) {
            TellFailures(failures);
        }
        WriteLog(Format("Preset %d 終了", preset_.index + 1), 1);
        if (StartNextListedPreset(true)) {
            return;
        }
    }
    if (failures > 0 && state_.autoRunCount == 0) {
        TellFailures(failures);
    } else if (!quiet && mergeResult != kMergeNothing) {
        ui_.DoMessageBox(mergeResult == kMergeDone ? "ﾏｰｼﾞ完了" : "ﾏｰｼﾞ処理終了", kMbOk);
    }
    WriteLog("ﾏｰｼﾞ処理終了", 1);
    if (state_.autoRunCount > 0) {
        host_.EndDialog(1);
    }
}

}  // namespace mirova
