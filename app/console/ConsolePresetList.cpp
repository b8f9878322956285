#include "app/console/ConsolePresetList.h"

#include <algorithm>
#include <ostream>

#include "app/console/ConsoleEventLoop.h"
#include "engine/Run.h"
#include "fileops/RunLog.h"
#include "settings/ExclusionList.h"
#include "settings/Preset.h"

namespace mirova {
namespace {

// The main dialog's side of the list: the preset table, its selection and the OK action. The
// dialog would stay open after a run that ends without moving the list on (a missing source
// folder, a failed scan); without a dialog the list stops there.
class PresetListHost final : public RunHost {
public:
    PresetListHost(PresetTable& table, const ExclusionList& exclusions, ConsoleEventLoop& loop)
        : table_(table), exclusions_(exclusions), loop_(loop) {}

    void Attach(RunController& run) { run_ = &run; }

    RunPreset PresetAt(int index) const override { return RunPresetOf(table_, index); }
    void SelectPreset(int index) override { table_.currentPreset = index; }
    void OnOK() override {
        run_->StartRun(RunKind::Synchronise, PresetAt(table_.currentPreset), &exclusions_);
    }
    void EndDialog(int) override {
        finished_ = true;
        loop_.Quit();
    }
    void RunEnded(RunOutcome outcome) override {
        if (outcome != RunOutcome::Reported && outcome != RunOutcome::Identical) {
            ++notCompleted_;
        }
        // A run that moves the list on does so before control returns to the loop: by then
        // the next run is going or the list has ended.
        loop_.Post([this] {
            if (!finished_ && !run_->running()) {
                stoppedAt_ = table_.currentPreset + 1;
                loop_.Quit();
            }
        });
    }

    int notCompleted() const { return notCompleted_; }
    int stoppedAt() const { return stoppedAt_; }  // preset number, 0 when the list ran out

private:
    PresetTable& table_;
    const ExclusionList& exclusions_;
    ConsoleEventLoop& loop_;
    RunController* run_ = nullptr;
    bool finished_ = false;
    int notCompleted_ = 0;
    int stoppedAt_ = 0;
};

}  // namespace

int RunPresetList(const AutoRunCommand& command, SettingsStore& store,
                  const std::function<std::string()>& commit, std::istream& in, std::ostream& err,
                  ConsoleAnswers answers) {
    PresetTable table;
    LoadSettings(table, store);
    ExclusionList exclusions;
    exclusions.Load(store);

    RunState state;
    state.suppressDeletion = command.suppressDeletion;
    state.deleteLimit = table.deleteLimit;
    state.keepVersions = table.keepVersions;
    state.noStopOnError = command.noStopOnError;
    state.autoRunCount =
        static_cast<int>(std::min<std::size_t>(command.presets.size(), kAutoRunCapacity));
    std::copy_n(command.presets.begin(), state.autoRunCount, state.autoRunPresets);
    state.autoRunNext = 0;

    ConsoleEventLoop loop;
    ConsoleUi ui(loop, in, err, answers);
    PresetListHost host(table, exclusions, loop);
    RunController run(state, host, ui);
    host.Attach(run);
    loop.Post([&] {
        run.ContinueAutoRun();
        if (state.autoRunCount == 0) {
            loop.Quit();  // an empty list moves nothing on and never closes
        }
    });
    ConsoleUi::InstallInterruptHandler();
    loop.Run();
    ConsoleUi::RemoveInterruptHandler();

    // As the desktop program does when it closes: the last preset run stays the current one.
    SaveSettings(table, store);
    exclusions.Save(store);
    const std::string commitProblem = commit();
    if (!commitProblem.empty()) {
        err << commitProblem << "\n";
    }

    if (host.stoppedAt() != 0) {
        err << "The preset list stops at preset " << host.stoppedAt()
            << ": its run ended early and does not move the list on.\n";
    }
    err << "Run log: " << LogFilePath(kRunLogName) << "\n";
    const bool allCompleted = host.notCompleted() == 0 && host.stoppedAt() == 0 &&
                              ui.failures() == 0 && commitProblem.empty();
    return allCompleted ? 0 : 1;
}

}  // namespace mirova
