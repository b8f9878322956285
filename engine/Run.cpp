#include "engine/Run.h"

#include <algorithm>
#include <utility>

#include "engine/Execute.h"
#include "engine/Scan.h"
#include "fileops/Format.h"
#include "fileops/KeptVersions.h"
#include "fileops/PathText.h"
#include "fileops/RunLog.h"
#include "platform/Clock.h"
#include "platform/FileSystem.h"

namespace mirova {
namespace {

constexpr const char* kDialogTag = ".\\MirovaDlg";
constexpr int kSiteCreateTarget = 723;
constexpr int kSiteSourceScan = 819;
constexpr int kSiteTargetScan = 836;

std::string DatedLine(const char* modeWord, int presetNumber, const char* what) {
    const platform::LocalTime now = platform::CurrentClock().Now();
    return Format("%d年%d月%d日 %d:%d:%d  %s Preset %d %s", now.year, now.month, now.day, now.hour,
                  now.minute, now.second, modeWord, presetNumber, what);
}

std::string OptionLine(const RunState& state) {
    std::string line = Format("OptionD=%s OptionA=%d ", state.suppressDeletion == 1 ? "ON" : "OFF",
                              state.autoRunCount);
    if (state.autoRunCount > 0) {
        line += "menbers=";
        for (int i = 0; i < state.autoRunCount && i < kAutoRunCapacity; ++i) {
            char number[256];
            FormatToBuffer(number, "%d", state.autoRunPresets[i]);
            if (i > 0) {
                line += ',';
            }
            line += number;
        }
    }
    return line;
}

// Writes every name of a sorted list, one per line with CR LF, replacing the file.
void WriteDump(const FileList& list, const char* fileName) {
    const std::string path = LogFilePath(fileName);
    platform::UniqueFd file;
    platform::SysStatus status =
        platform::CreateFileForWriting(path, platform::CreateMode::Replace, 0600, file);
    std::string chunk;
    chunk.reserve(1 << 16);
    for (int i = 0; status.ok() && i < list.count; ++i) {
        chunk += list.entries[i].name;
        chunk += "\r\n";
        if (chunk.size() >= (1 << 16) - 4096) {
            status = platform::WriteAll(file.get(), chunk.data(), chunk.size());
            chunk.clear();
        }
    }
    if (status.ok() && !chunk.empty()) {
        status = platform::WriteAll(file.get(), chunk.data(), chunk.size());
    }
    if (!status.ok()) {
        // The dump is only a convenience for the user; the run goes on, but says so.
        WriteLog(Format("%s が作成できません。 (%s)", path.c_str(), status.describe().c_str()), 1);
    }
}

}  // namespace

RunController::RunController(RunState& state, RunHost& host, RunUi& ui)
    : state_(state),
      host_(host),
      ui_(ui),
      syncExecutor_(std::make_unique<SyncExecutor>(ui)),
      executor_(syncExecutor_.get()) {}

RunController::~RunController() {
    JoinWorker();
}

int RunController::Show(const std::string& text, int style) {
    if (quiet()) {
        return 0;
    }
    return ui_.DoMessageBox(text, style);
}

void RunController::StartRun(RunKind kind, const RunPreset& preset,
                             const ExclusionTest* exclusions) {
    // One run at a time: the two scan jobs and the run's lists exist once.
    if (running_) {
        return;
    }
    running_ = true;
    kind_ = kind;
    preset_ = preset;
    failuresAtStart_ = ui_.failures();
    state_.exclusions = exclusions;
    state_.useExclusions = preset.useExclusions;
    // Named by the run's start, so that everything one run kept lies in one folder.
    state_.versionStamp.clear();
    if (state_.keepVersions > 0) {
        state_.versionStamp = VersionStampName(platform::CurrentClock().Now());
    }

    // The reverse list names the older source files of the latest run only.
    platform::DeleteFile(LogFilePath(kReverseListName));

    // The log is never let grow without end; the current one keeps its name.
    RotateRunLog(kRunLogLimit);
    const int number = preset_.index + 1;
    WriteLog(DatedLine(modeWord(), number, "Start."), 0);
    WriteLog(OptionLine(state_), 1);
    OpenRecord();

    // A missing folder is told whatever noStopOnError says: the run cannot start at all.
    const auto endMissing = [this](const char* format, const std::string& folder) {
        const std::string text = Format(format, folder.c_str());
        ui_.DoMessageBox(text, kMbOk);
        WriteLog(text, 1);
        EndEarly(RunOutcome::MissingFolder);
    };
    if (!platform::Exists(preset_.sourceFolder, platform::FollowLinks::Yes)) {
        endMissing("ｿｰｽﾌｫﾙﾀﾞ %s が存在しません。", preset_.sourceFolder);
        return;
    }
    // Before the target is created: a missing target is judged by where it would be made.
    if (!CheckOverlap()) {
        return;
    }
    if (!platform::Exists(preset_.targetFolder, platform::FollowLinks::Yes)) {
        if (kind_ == RunKind::Compare) {
            endMissing("ﾀｰｹﾞｯﾄﾌｫﾙﾀﾞ %s が存在しません。", preset_.targetFolder);
            return;
        }
        const std::string question =
            Format("ﾀｰｹﾞｯﾄﾌｫﾙﾀﾞ %s は存在しません。作成しますか？", preset_.targetFolder.c_str());
        if (quiet()) {
            WriteLog(question + "YES", 1);
        } else if (ui_.DoMessageBox(question, kMbYesNo) != kIdYes) {
            EndEarly(RunOutcome::Declined);
            return;
        }
        if (MakeFolderPath(preset_.targetFolder.c_str()) == -1) {
            const std::string text = Format("%s:%d - %s が作成できません。", kDialogTag,
                                            kSiteCreateTarget, preset_.targetFolder.c_str());
            Show(text, kMbOk);
            WriteLog(text, 1);
            EndEarly(RunOutcome::MissingFolder);
            ContinueAutoRun();
            return;
        }
    }

    ExpireKeptVersions();

    statusWindow_ = ui_.ShowStatusWindow();
    statusWindow_->SetStatusText("ﾌｧｲﾙﾘｽﾄを作成中");

    state_.sourceJob.folder = preset_.sourceFolder;
    state_.sourceJob.list.reset();
    state_.targetJob.list.reset();
    state_.sourceDone = 0;
    state_.targetDone = 0;
    StartScan(state_.sourceJob);
}

void RunController::ExpireKeptVersions() {
    // Only a run that may change a folder clears its old versions; a compare changes nothing,
    // and a synchronisation never touches its source.
    if (state_.keepVersions <= 0 || (kind_ == RunKind::Compare && preset_.mergeMode != 1)) {
        return;
    }
    WriteLog(Format("削除・上書きされるﾌｧｲﾙは %s/%s に %d 日間保存されます",
                    kVersionsFolderName.data(), state_.versionStamp.c_str(), state_.keepVersions),
             1);
    const platform::LocalTime now = platform::CurrentClock().Now();
    const auto removed = [this](const std::string& path) {
        WriteLog(Format("%s を削除しました（保存期間 %d 日を過ぎたﾊﾞｰｼﾞｮﾝ）", path.c_str(),
                        state_.keepVersions),
                 1);
    };
    // Old versions are housekeeping: one that cannot be removed is said, not a failure of the
    // run.
    const auto failed = [this](const std::string& path, const platform::SysStatus& status) {
        const std::string text =
            Format("%s が削除できません。(%s)", path.c_str(), status.describe().c_str());
        WriteLog(text, 1);
        ui_.TellUnshown(text);
    };
    ExpireVersions(FolderToOpen(preset_.targetFolder), state_.keepVersions, now, removed, failed);
    if (preset_.mergeMode == 1) {
        ExpireVersions(FolderToOpen(preset_.sourceFolder), state_.keepVersions, now, removed,
                       failed);
    }
}

void RunController::StartScan(ScanJob& job) {
    JoinWorker();
    worker_ = std::thread([this, &job] {
        const ScanContext context{state_, ui_, &ui_};
        ScanWorker(job, context, capacity_, [this, &job](bool failed) {
            ui_.PostToRunThread([this, failed, &job] { OnScanDone(failed, &job); });
        });
    });
}

void RunController::JoinWorker() {
    if (worker_.joinable()) {
        worker_.join();
    }
}

void RunController::EndWithScanFailure(int site, const std::string& folder) {
    statusWindow_.reset();
    const std::string text = Format("%s:%d - %s を開けません。", kDialogTag, site, folder.c_str());
    Show(text, kMbOk);
    WriteLog(text, 1);
    state_.sourceJob.list.reset();
    state_.targetJob.list.reset();
    EndEarly(RunOutcome::ScanFailed);
}

void RunController::OnScanDone(bool failed, ScanJob* job) {
    // The worker posts its completion as its last act, so this join returns at once.
    JoinWorker();
    if (job == &state_.sourceJob) {
        state_.sourceDone = 1;
        if (failed) {
            state_.sourceDone = 0;
            EndWithScanFailure(kSiteSourceScan, preset_.sourceFolder);
            return;
        }
        state_.targetJob.folder = preset_.targetFolder;
        state_.targetJob.list.reset();
        StartScan(state_.targetJob);
        return;
    }
    if (job == &state_.targetJob) {
        state_.targetDone = 1;
        if (failed) {
            state_.targetDone = 0;
            EndWithScanFailure(kSiteTargetScan, preset_.targetFolder);
            return;
        }
    }
    if (state_.sourceDone != 1 || state_.targetDone != 1) {
        return;
    }
    statusWindow_->SetStatusText("ﾌｧｲﾙﾘｽﾄを編集中");
    // The scan keeps names relative to the scanned root already, so only the sort is left.
    SortFileList(*state_.sourceJob.list);
    SortFileList(*state_.targetJob.list);
    if (preset_.mergeMode == 1) {
        // A merge preset is merged whatever kind of run was asked for.
        RunMerge();
        return;
    }
    if (kind_ == RunKind::Compare) {
        WriteDumps();
    }
    ClassifyAndReport();
}

void RunController::WriteDumps() {
    EnsureLogFolder();
    WriteDump(*state_.sourceJob.list, kSourceDumpName);
    WriteDump(*state_.targetJob.list, kTargetDumpName);
}

void RunController::ClassifyAndReport() {
    work_ = ClassifyLists(*state_.sourceJob.list, *state_.targetJob.list,
                          [](const char* name) { AppendReverseList(name); });
    // A source folder that could not be read lists nothing of its contents: its copies in the
    // target are not extraneous, and are never deleted for it.
    for (const std::string& folder : state_.sourceJob.list->passedFolders) {
        const int spared = SpareItemsBelow(work_, folder);
        if (spared > 0) {
            WriteLog(Format("%s/%s が読めないため、ﾀｰｹﾞｯﾄの %d 個の項目は削除しません。",
                            state_.sourceJob.list->root.c_str(), folder.c_str(), spared),
                     1);
        }
    }
    runCompleted_ = 1;
    statusWindow_.reset();

    if (work_.olderFound) {
        // Asked in every kind of run and whatever noStopOnError says: a source older than its
        // target usually means the two folders were swapped.
        ui_.OpenWithShell(LogFilePath(kReverseListName));
        const std::string question =
            "ｿｰｽがﾀｰｹﾞｯﾄよりも古いようです。\n本当に同期させてよろしいですか？";
        WriteLog(question, 1);
        if (ui_.DoMessageBox(question, kMbYesNo) == kIdNo) {
            WriteLog("Aborted !", 1);
            runCompleted_ = 0;
            FinishRun(RunOutcome::Declined);
            return;
        }
        WriteLog(question + "YES", 1);
    }

    WriteLog(Format("CopyTotalDataSize = %lluKB",
                    static_cast<unsigned long long>(work_.copyTotal / 1024)),
             1);

    if (work_.empty()) {
        const std::string text = "ｿｰｽとﾀｰｹﾞｯﾄは完全に一致します。";
        Show(text, kMbOk);
        WriteLog(text, 1);
        runCompleted_ = 0;
        FinishRun(RunOutcome::Identical);
        return;
    }

    const int newCount = static_cast<int>(work_.copyList.size() + work_.createFolderList.size());
    const int extraFiles = static_cast<int>(work_.deleteFileList.size());
    const int extraFolders = static_cast<int>(work_.deleteFolderList.size());
    if (kind_ == RunKind::Compare) {
        const std::string text = Format(
            "ﾀｰｹﾞｯﾄに %d 個の更新ﾌｧｲﾙ/ﾌｫﾙﾀﾞ、%d 個の余剰ﾌｧｲﾙ、%d "
            "個の余剰ﾌｫﾙﾀﾞが有ります。\n結果はリストとしてログに記憶されます。",
            newCount, extraFiles, extraFolders);
        WriteLog(text, 1);
        ui_.DoMessageBox(text, kMbOk);
        ListCompareResult();
        RecordCompare();
        FinishRun(RunOutcome::Reported);
        return;
    }

    if (!CheckDeletionBrake()) {
        return;
    }
    const std::string question = Format(
        "ﾀｰｹﾞｯﾄに %d 個の更新ﾌｧｲﾙ/ﾌｫﾙﾀﾞ、%d 個の余剰ﾌｧｲﾙ、%d "
        "個の余剰ﾌｫﾙﾀﾞが有ります。\nｱｯﾌﾟﾃﾞｰﾄを実行すると余剰ﾌｧｲﾙ・ﾌｫﾙﾀﾞは削除され更新ﾌｧｲﾙが上書きさ"
        "れます。\nｱｯﾌﾟﾃﾞｰﾄを実行しますか？",
        newCount, extraFiles, extraFolders);
    if (!quiet()) {
        if (ui_.DoMessageBox(question, kMbYesNo) != kIdYes) {
            WriteLog(question + "NO", 1);
            WriteLog("アップデートはキャンセルされました。", 1);
            runCompleted_ = 0;
            FinishRun(RunOutcome::Declined);
            return;
        }
        WriteLog(question + "YES", 1);
    }
    if (!executor_->CarryOutChanges(preset_, work_, state_)) {
        runCompleted_ = 0;
    }
    FlushWrittenData(false);
    FinishRun(runCompleted_ == 1 ? RunOutcome::Reported : RunOutcome::Incomplete);
}

void RunController::ListCompareResult() {
    const char* target = preset_.targetFolder.c_str();
    WriteLog(Format("余剰ファイル %d", static_cast<int>(work_.deleteFileList.size())), 1);
    for (const char* name : work_.deleteFileList) {
        WriteLog(Format("%s/%s", target, name), 1);
    }
    WriteLog(Format("余剰フォルダ %d", static_cast<int>(work_.deleteFolderList.size())), 1);
    for (const char* name : work_.deleteFolderList) {
        WriteLog(Format("%s/%s/", target, name), 1);
    }
    WriteLog(Format("更新ファイル %d", static_cast<int>(work_.copyList.size())), 1);
    for (const char* name : work_.copyList) {
        WriteLog(Format("%s/%s", target, name), 1);
    }
}

void RunController::FinishRun(RunOutcome outcome) {
    work_ = WorkLists{};
    state_.sourceJob.list.reset();
    state_.targetJob.list.reset();
    WriteLog(DatedLine(modeWord(), preset_.index + 1, "Done."), 0);
    const int failures = kind_ == RunKind::Synchronise ? RunFailures() : 0;
    outcome = WithFailures(outcome, failures);
    if (state_.autoRunCount > 0) {
        if (failures > 0) {
            TellFailures(failures);
        }
        EndEarly(outcome);
        ContinueAutoRun();
        return;
    }
    if (failures > 0) {
        TellFailures(failures);
    } else if (runCompleted_ == 1 && kind_ == RunKind::Synchronise) {
        const std::string text = "ｱｯﾌﾟﾃﾞｰﾄ完了";
        Show(text, kMbOk);
        WriteLog(text, 1);
    }
    EndEarly(outcome);
}

void RunController::EndEarly(RunOutcome outcome) {
    CloseRecord(outcome);
    running_ = false;
    host_.RunEnded(outcome);
}

void RunController::ContinueAutoRun() {
    if (state_.autoRunCount == 0) {
        return;
    }
    if (!StartNextListedPreset(false)) {
        host_.EndDialog(1);
    }
}

bool RunController::StartNextListedPreset(bool logPassedOver) {
    const int count = std::min(state_.autoRunCount, kAutoRunCapacity);
    while (state_.autoRunNext < count) {
        const int number = state_.autoRunPresets[state_.autoRunNext];
        ++state_.autoRunNext;
        // An entry that names no preset (0 from an empty item, or above 30) must never reach
        // the preset table; it is passed over and the log says so.
        if (number < 1 || number > 30) {
            WriteLog(Format("Preset %d: no such preset, skipped.", number), 1);
            continue;
        }
        const int index = number - 1;
        host_.SelectPreset(index);
        const RunPreset preset = host_.PresetAt(index);
        if (!preset.sourceFolder.empty() && !preset.targetFolder.empty()) {
            host_.OnOK();
            return true;
        }
        if (logPassedOver) {
            WriteLog(Format("Preset %d 終了", number), 1);
        }
    }
    return false;
}

}  // namespace mirova
