#pragma once

#include <memory>
#include <string>
#include <thread>

#include "engine/ChangeRecord.h"
#include "engine/Classify.h"
#include "engine/FileList.h"
#include "engine/RunState.h"
#include "engine/RunUi.h"

namespace mirova {

enum class RunKind { Compare, Synchronise };

// What a run takes of the preset it runs; copied at the start, so that a change of the
// selection during the run cannot change it.
struct RunPreset {
    int index = 0;  // 0..29; the log shows index + 1
    std::string sourceFolder;
    std::string targetFolder;
    int mergeMode = 0;
    int useExclusions = 0;
    std::string caption;  // for the change record
};

// How a run ended, for front ends that need to know (the console's exit status).
enum class RunOutcome {
    Reported,       // the run reached its report (and, for a synchronisation or merge, carried it
                    // out completely)
    Incomplete,     // a synchronisation or merge was carried out, but a step failed or stopped
    Identical,      // source and target match completely; nothing to do
    Declined,       // the user answered No to a question of the run
    MissingFolder,  // a folder does not exist, or the target could not be created
    ScanFailed,     // a scan could not complete
    Overlapping,    // refused: one folder is the other or lies inside it
    Braked,         // refused: it would delete too much, and nobody could be asked
};

// The side of the main dialog that a run reaches into: the preset table and its selection,
// starting a synchronisation run, and closing the dialog at the end of the command-line list.
class RunHost {
public:
    virtual ~RunHost() = default;
    virtual RunPreset PresetAt(int index) const = 0;
    // Makes a preset current and shows it, exactly as when the user picks it.
    virtual void SelectPreset(int index) = 0;
    // Starts a synchronisation run of the current preset (the dialog's OK action).
    virtual void OnOK() = 0;
    // Closes the main dialog with the given result.
    virtual void EndDialog(int result) = 0;
    // Told once at every end of a run.
    virtual void RunEnded(RunOutcome outcome) = 0;
};

// Carries out the changes of a confirmed synchronisation run. Returns whether the run went
// through completely (runCompleted).
class ChangeExecutor {
public:
    virtual ~ChangeExecutor() = default;
    virtual bool CarryOutChanges(const RunPreset& preset, WorkLists& work,
                                 const RunState& state) = 0;
};

// The run logic of the main dialog: start, scans, classification, report, closing steps and
// the command-line list. Lives on one thread (the run's thread); the scans run on a worker
// thread each, one after the other, and report back through RunUi::PostToRunThread.
class RunController : private ChangeListener {
public:
    RunController(RunState& state, RunHost& host, RunUi& ui);
    ~RunController();
    RunController(const RunController&) = delete;
    RunController& operator=(const RunController&) = delete;

    // Replaces the file operations that carry out a synchronisation (tests); nullptr restores
    // them.
    void SetChangeExecutor(ChangeExecutor* executor) {
        executor_ = executor != nullptr ? executor : syncExecutor_.get();
    }
    // Room of each file list (tests reach the overflow with small lists).
    void SetFileListCapacity(int capacity) { capacity_ = capacity; }

    // Starts a run of a preset; ignored while a run is in progress. The run goes on in
    // OnScanDone when the scans report back. noStopOnError and suppressDeletion of the state are
    // the front end's to set before.
    void StartRun(RunKind kind, const RunPreset& preset, const ExclusionTest* exclusions);
    // A scan has finished; called on the run's thread.
    void OnScanDone(bool failed, ScanJob* job);
    // Moves the command-line list on: runs its next preset with both folders set, or closes the
    // dialog when the list is used up.
    void ContinueAutoRun();

    bool running() const { return running_; }
    // The change record of the latest run; "" when it could not be made.
    const std::string& changeRecordPath() const { return record_.path(); }

private:
    // Removes the kept versions older than the days they are kept, at the start of a run that
    // keeps versions.
    void ExpireKeptVersions();
    void StartScan(ScanJob& job);
    void JoinWorker();
    void EndWithScanFailure(int site, const std::string& folder);
    void ClassifyAndReport();
    void ListCompareResult();
    // Classifies, reports and carries out a merge, then closes the run (in RunMerge.cpp).
    void RunMerge();
    // Selects the listed presets in turn and starts a synchronisation run for the first with
    // both folders set; true when it started one. A merge logs each preset it passes over.
    bool StartNextListedPreset(bool logPassedOver);
    void FinishRun(RunOutcome outcome);
    void EndEarly(RunOutcome outcome);
    // The safety checks of a run (in RunChecks.cpp). Each returns false when it ended the run.
    // A run that would change overlapping folders is refused before anything is scanned.
    bool CheckOverlap();
    // A synchronisation that would delete much of the target is asked about or refused.
    bool CheckDeletionBrake();
    // Puts what the run wrote on the disk before it is called complete.
    void FlushWrittenData(bool sourceWritten);
    // Failures noted since the run started.
    int RunFailures() const { return ui_.failures() - failuresAtStart_; }
    // A run with a failure, even one passed over, is never called complete.
    static RunOutcome WithFailures(RunOutcome outcome, int failures) {
        return failures > 0 && outcome == RunOutcome::Reported ? RunOutcome::Incomplete : outcome;
    }
    // The closing text of a run with failures, shown (or told) and logged.
    void TellFailures(int failures);
    // Shows a text, or tells it where no box is shown; logs it stamped.
    void ShowOrTell(const std::string& text);
    // The change record (in RunRecord.cpp): opened at the start, filled by the file operations
    // through the listener (or, for a compare, from the work lists), closed at every end.
    void OpenRecord();
    void RecordCompare();
    void CloseRecord(RunOutcome outcome);
    void OnItemDone(ItemDone what, const std::string& base, const char* name) override;
    void OnFailure(const std::string& text) override;
    void WriteDumps();
    // Shows a message box unless noStopOnError is set; returns the button, 0 when not shown.
    int Show(const std::string& text, int style);
    bool quiet() const { return state_.noStopOnError.load() != 0; }
    const char* modeWord() const { return kind_ == RunKind::Compare ? "Compare" : "Mirova"; }

    RunState& state_;
    RunHost& host_;
    RunUi& ui_;
    std::unique_ptr<ChangeExecutor> syncExecutor_;
    ChangeExecutor* executor_ = nullptr;
    int capacity_ = kFileListCapacity;

    bool running_ = false;
    RunKind kind_ = RunKind::Compare;
    RunPreset preset_;
    std::unique_ptr<StatusWindow> statusWindow_;
    std::thread worker_;
    WorkLists work_;
    int runCompleted_ = 0;
    int failuresAtStart_ = 0;
    ChangeRecord record_;
};

}  // namespace mirova
