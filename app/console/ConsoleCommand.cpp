#include "app/console/ConsoleCommand.h"

#include <unistd.h>

#include <algorithm>
#include <istream>
#include <iterator>
#include <ostream>
#include <string_view>
#include <utility>

#include "app/common/QtSettingsStore.h"
#include "app/common/SingleCopy.h"
#include "app/console/ConsoleEventLoop.h"
#include "app/console/ConsolePresetFile.h"
#include "app/console/ConsoleUi.h"
#include "engine/AutoRunList.h"
#include "engine/Run.h"
#include "fileops/RunLog.h"
#include "platform/FileSystem.h"
#include "platform/InstanceGuard.h"
#include "settings/ExclusionList.h"
#include "settings/Preset.h"

namespace mirova {
namespace {

// The folders of the command line are none of the 30 stored presets; the log names them
// "Preset 0".
constexpr int kConsolePresetIndex = -1;

class ConsoleHost final : public RunHost {
public:
    ConsoleHost(RunPreset preset, ConsoleEventLoop& loop)
        : preset_(std::move(preset)), loop_(loop) {}

    RunPreset PresetAt(int) const override { return preset_; }
    void SelectPreset(int) override {}
    void OnOK() override {}
    void EndDialog(int) override { loop_.Quit(); }
    void RunEnded(RunOutcome outcome) override {
        outcome_ = outcome;
        loop_.Quit();
    }
    RunOutcome outcome() const { return outcome_; }

private:
    RunPreset preset_;
    ConsoleEventLoop& loop_;
    RunOutcome outcome_ = RunOutcome::ScanFailed;
};

int ExitStatusOf(RunOutcome outcome, int failures) {
    if (outcome == RunOutcome::Overlapping) {
        return kExitUsage;  // the two folders given cannot be synchronised at all
    }
    const bool completed = outcome == RunOutcome::Reported || outcome == RunOutcome::Identical;
    // A failure passed over with --no-stop-on-error is in the log; the status says so too.
    return completed && failures == 0 ? kExitDone : kExitEndedEarly;
}

const char* ModeOption(RunMode mode) {
    switch (mode) {
        case RunMode::Sync:
            return "--sync";
        case RunMode::Merge:
            return "--merge";
        default:
            return "--compare";
    }
}

// The run options that only switch something on, or null for any other argument.
bool RunCommand::*RunSwitch(const std::string& argument) {
    static const std::pair<std::string_view, bool RunCommand::*> kSwitches[] = {
        {"--no-stop-on-error", &RunCommand::noStopOnError},
        {"--suppress-deletion", &RunCommand::suppressDeletion},
        {"--allow-mass-delete", &RunCommand::allowMassDelete},
        {"--list", &RunCommand::listChanges},
    };
    for (const auto& [name, flag] : kSwitches) {
        if (argument == name) {
            return flag;
        }
    }
    return nullptr;
}

}  // namespace

std::string UsageText() {
    return "Mirova " MIROVA_VERSION
           ": folder mirroring\n"
           "\n"
           "Usage:\n"
           "  mirova [/D]\n"
           "  mirova --compare SOURCE TARGET [OPTIONS]\n"
           "  mirova --sync    SOURCE TARGET [OPTIONS]\n"
           "  mirova --merge   SOURCE TARGET [OPTIONS]\n"
           "  mirova /A LIST [/D]\n"
           "  mirova --export-presets FILE\n"
           "  mirova --import-presets FILE [--yes]\n"
           "  mirova --help | --version\n"
           "\n"
           "(none)     start the desktop program (it needs a display); /D starts it with\n"
           "           deletion suppressed\n"
           "--compare  compare TARGET with SOURCE and write the differences to the run log;\n"
           "           nothing is changed\n"
           "--sync     make TARGET a copy of SOURCE: delete what SOURCE lacks, copy new and\n"
           "           changed files with their times and permissions, create missing folders\n"
           "--merge    copy newer and missing files and folders both ways; nothing is deleted\n"
           "/A LIST    run the stored presets of LIST (preset numbers 1 to 30 separated by\n"
           "           commas, as in 1,3,12) one after another, each as a synchronisation (a\n"
           "           merge preset merges), not stopping on errors; a preset without both\n"
           "           folders is passed over. With /D nothing is deleted. The last preset\n"
           "           run becomes the current one. With a display the desktop program\n"
           "           runs the list and closes; without one (cron, a systemd timer) the\n"
           "           list runs here\n"
           "--export-presets FILE\n"
           "           write the 30 stored presets and the exclusion lists to FILE\n"
           "--import-presets FILE\n"
           "           replace the stored presets and exclusion lists with those of FILE\n"
           "           (asks first; --yes answers Yes)\n"
           "\n"
           "Options:\n"
           "--exclude FRAGMENT   leave out every item whose full path contains FRAGMENT\n"
           "--exclude-ext EXT    leave out every item whose extension is EXT (tmp or .tmp,\n"
           "                     Latin letters in any case)\n"
           "--no-stop-on-error   do not stop on errors: failures only go to the run log, and\n"
           "                     questions that have an automatic answer are not asked\n"
           "--suppress-deletion  delete nothing in TARGET\n"
           "--allow-mass-delete  no deletion brake for this run: without it a sync that\n"
           "                     would empty TARGET from an empty SOURCE, or delete more than\n"
           "                     DELETELIMIT percent (50 unless set in the settings file's\n"
           "                     [Settings]; 100 is no brake) of TARGET's files and at least\n"
           "                     10, asks first on a terminal and is refused unattended\n"
           "--keep-versions DAYS keep what the run deletes or replaces: it is moved into\n"
           "                     .mirova-versions/YYYY-MM-DD hhmmss/ at the root of the\n"
           "                     folder it was in, under its own relative path, and removed\n"
           "                     DAYS days later; 0 keeps nothing (KEEPVERSIONS of the\n"
           "                     settings file's [Settings] unless given; 0 unless set)\n"
           "--yes                answer Yes to every Yes/No question\n"
           "--list               print each item line of the run's change record on standard\n"
           "                     output as it is written (with --compare: what --sync would\n"
           "                     do)\n"
           "\n"
           "Questions are asked on the terminal; without one a Yes/No question counts as No\n"
           "(unless --yes) and Abort/Retry/Ignore as Ignore. Ctrl-C stops a copy or delete\n"
           "list between two files (after a question); a second Ctrl-C ends at once.\n"
           "\n"
           "Exit status: 0 the run completed or there was nothing to do; 1 the run ended\n"
           "early (missing folder, failed scan, declined question, deletion brake),\n"
           "something failed, or another copy of Mirova runs; 2 wrong command line, SOURCE\n"
           "and TARGET overlap (one is the other or lies inside it), or no display for the\n"
           "desktop program.\n"
           "\n"
           "The run log is Mirova.log in $MIROVA_LOG_DIR, else $XDG_STATE_HOME/Mirova, else\n"
           "~/.local/state/Mirova, beside ReverseList.txt, SrcList.txt and TarList.txt of\n"
           "the latest run and the change records Changes-YYMMDD-hhmmss.txt of the last\n"
           "100 runs. The presets are stored in TK-ORVELAN/Mirova.conf in\n"
           "$XDG_CONFIG_HOME, else ~/.config. The lock files of the one running copy are\n"
           "$XDG_RUNTIME_DIR/Mirova.user.lock and /tmp/Mirova.lock, both in\n"
           "$MIROVA_LOCK_DIR when it is set. See mirova(1).\n";
}

bool HasConsoleCommand(const std::vector<std::string>& arguments) {
    static constexpr std::string_view kCommands[] = {
        "--compare",        "--sync", "--merge", "--export-presets",
        "--import-presets", "--help", "-h",      "--version"};
    return std::any_of(arguments.begin(), arguments.end(), [](const std::string& argument) {
        return std::find(std::begin(kCommands), std::end(kCommands), argument) !=
               std::end(kCommands);
    });
}

ParsedCommand ParseCommandLine(const std::vector<std::string>& arguments) {
    ParsedCommand parsed;
    auto fail = [&parsed](std::string error) {
        parsed.kind = ParsedCommand::Kind::Error;
        parsed.error = std::move(error);
        return parsed;
    };
    if (arguments.empty()) {
        return fail("no command given");
    }
    if (arguments.size() == 1 && (arguments[0] == "--help" || arguments[0] == "-h")) {
        parsed.kind = ParsedCommand::Kind::Help;
        return parsed;
    }
    if (arguments.size() == 1 && arguments[0] == "--version") {
        parsed.kind = ParsedCommand::Kind::Version;
        return parsed;
    }
    // The desktop program's own form, as a scheduled task starts it: without a console command,
    // any argument but "/A" and "/D" is ignored, as the desktop program ignores it.
    if (!HasConsoleCommand(arguments)) {
        RunState state;
        if (ParseAutoRunArguments(arguments, state)) {
            if (state.autoRunCount == 0) {
                // Without a list there is nothing to run from the console.
                return fail(
                    "/A needs a list of preset numbers, as in /A 1,3,12 (without one, start "
                    "the desktop program)");
            }
            parsed.kind = ParsedCommand::Kind::PresetList;
            parsed.presetList.suppressDeletion = state.suppressDeletion;
            parsed.presetList.noStopOnError = state.noStopOnError;
            parsed.presetList.presets.assign(state.autoRunPresets,
                                             state.autoRunPresets + state.autoRunCount);
            return parsed;
        }
    }
    RunCommand& command = parsed.run;
    std::vector<std::string> folders;
    int modes = 0;
    int fileCommands = 0;
    bool runOptions = false;
    auto fileKind = ParsedCommand::Kind::Error;
    std::string fileOption;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        const bool hasValue = i + 1 < arguments.size();
        if (argument == "--compare" || argument == "--sync" || argument == "--merge") {
            command.mode = argument == "--compare" ? RunMode::Compare
                           : argument == "--sync"  ? RunMode::Sync
                                                   : RunMode::Merge;
            ++modes;
        } else if (argument == "--exclude" || argument == "--exclude-ext") {
            if (!hasValue) {
                return fail(argument + " needs a value");
            }
            std::string value = arguments[++i];
            if (argument == "--exclude-ext") {
                // ".tmp" is how most people write an extension; the list holds it without
                // the dot, as the exclusion list of the desktop program does.
                if (value.starts_with('.')) {
                    value.erase(0, 1);
                }
                if (value.empty()) {
                    return fail("--exclude-ext needs an extension, as in tmp or .tmp");
                }
                command.excludeExtensions.push_back(std::move(value));
            } else {
                command.excludeNames.push_back(std::move(value));
            }
            runOptions = true;
        } else if (argument == "--export-presets" || argument == "--import-presets") {
            if (!hasValue) {
                return fail(argument + " needs a FILE");
            }
            fileKind = argument == "--export-presets" ? ParsedCommand::Kind::ExportPresets
                                                      : ParsedCommand::Kind::ImportPresets;
            fileOption = argument;
            parsed.presetFile = arguments[++i];
            ++fileCommands;
        } else if (bool RunCommand::*flag = RunSwitch(argument)) {
            command.*flag = true;
            runOptions = true;
        } else if (argument == "--keep-versions") {
            if (!hasValue) {
                return fail(argument + " needs a number of DAYS");
            }
            const std::string& days = arguments[++i];
            const bool digits =
                !days.empty() && days.size() <= 5 &&
                std::all_of(days.begin(), days.end(), [](char c) { return c >= '0' && c <= '9'; });
            if (!digits || std::stoi(days) > kMaxKeepVersionDays) {
                return fail(argument + " takes a number of DAYS from 0 to " +
                            std::to_string(kMaxKeepVersionDays));
            }
            command.keepVersions = std::stoi(days);
            runOptions = true;
        } else if (argument == "--yes") {
            command.assumeYes = true;
        } else if (argument == "--help" || argument == "-h") {
            parsed.kind = ParsedCommand::Kind::Help;
            return parsed;
        } else if (argument.size() > 1 && argument[0] == '-' && argument != "--") {
            return fail("unknown option " + argument);
        } else if (argument == "--") {
            folders.insert(folders.end(), arguments.begin() + static_cast<long>(i) + 1,
                           arguments.end());
            break;
        } else {
            folders.push_back(argument);
        }
    }
    if (fileCommands > 0) {
        if (fileCommands > 1 || modes > 0) {
            return fail("give only one command");
        }
        if (!folders.empty() || runOptions ||
            (command.assumeYes && fileKind == ParsedCommand::Kind::ExportPresets)) {
            return fail(fileOption + " takes only FILE" +
                        (fileKind == ParsedCommand::Kind::ImportPresets ? " and --yes" : ""));
        }
        if (parsed.presetFile.empty()) {
            return fail("FILE must not be empty");
        }
        parsed.kind = fileKind;
        parsed.assumeYes = command.assumeYes;
        return parsed;
    }
    if (modes == 0) {
        return fail("no command given");
    }
    if (modes > 1) {
        return fail("give only one of --compare, --sync and --merge");
    }
    if (folders.size() != 2) {
        return fail(std::string(ModeOption(command.mode)) +
                    " takes exactly two folders, SOURCE and TARGET");
    }
    for (const std::string& folder : folders) {
        if (folder.empty()) {
            return fail("a folder must not be empty");
        }
    }
    if (command.excludeNames.size() > ExclusionList::kCapacity ||
        command.excludeExtensions.size() > ExclusionList::kCapacity) {
        return fail("at most 100 --exclude and 100 --exclude-ext values");
    }
    command.source = folders[0];
    command.target = folders[1];
    parsed.kind = ParsedCommand::Kind::Run;
    return parsed;
}

int RunFolders(const RunCommand& command, std::istream& in, std::ostream& out, std::ostream& err,
               bool interactive, bool showStatus) {
    ExclusionList exclusions;
    for (const std::string& name : command.excludeNames) {
        exclusions.AddName(name);
    }
    for (const std::string& extension : command.excludeExtensions) {
        exclusions.AddExtension(extension);
    }

    RunPreset preset;
    preset.index = kConsolePresetIndex;
    preset.sourceFolder = command.source;
    preset.targetFolder = command.target;
    preset.useExclusions =
        command.excludeNames.empty() && command.excludeExtensions.empty() ? 0 : 1;
    preset.mergeMode = command.mode == RunMode::Merge ? 1 : 0;
    // A merge is a synchronisation run of a preset whose merge switch is on.
    const RunKind kind = command.mode == RunMode::Compare ? RunKind::Compare : RunKind::Synchronise;

    ConsoleEventLoop loop;
    ConsoleUi ui(loop, in, err, ConsoleAnswers{interactive, command.assumeYes, showStatus});
    if (command.listChanges) {
        ui.ListChangesTo(out);
    }
    ConsoleHost host(preset, loop);
    RunState state;
    state.noStopOnError = command.noStopOnError ? 1 : 0;
    state.suppressDeletion = command.suppressDeletion ? 1 : 0;
    state.deleteLimit = command.deleteLimit;
    state.allowMassDelete = command.allowMassDelete;
    state.keepVersions = std::max(command.keepVersions, 0);
    RunController run(state, host, ui);
    loop.Post([&] { run.StartRun(kind, preset, &exclusions); });
    ConsoleUi::InstallInterruptHandler();
    loop.Run();
    ConsoleUi::RemoveInterruptHandler();

    if (!run.changeRecordPath().empty()) {
        err << "Change record: " << run.changeRecordPath() << "\n";
    }
    err << "Run log: " << LogFilePath(kRunLogName) << "\n";
    return ExitStatusOf(host.outcome(), ui.failures());
}

int RunConsole(const std::vector<std::string>& arguments, std::istream& in, std::ostream& out,
               std::ostream& err) {
    const ParsedCommand parsed = ParseCommandLine(arguments);
    platform::InstanceGuard guard;
    switch (parsed.kind) {
        case ParsedCommand::Kind::Help:
            out << UsageText();
            return kExitDone;
        case ParsedCommand::Kind::Version:
            out << "mirova " MIROVA_VERSION "\n";
            return kExitDone;
        case ParsedCommand::Kind::Error:
            err << "mirova: " << parsed.error << "\n\n" << UsageText();
            return kExitUsage;
        case ParsedCommand::Kind::ExportPresets:
            break;  // reads the store only: no guard needed
        default:
            // Every command that runs presets or writes the store waits for no other copy:
            // two runs at once would fight over the same folders and the same settings.
            if (const std::string refusal = TakeSingleCopyGuard(guard); !refusal.empty()) {
                err << refusal << "\n";
                return kExitEndedEarly;
            }
            break;
    }

    QtSettingsStore store;
    if (parsed.kind == ParsedCommand::Kind::Run) {
        RunCommand command = parsed.run;
        command.deleteLimit = ReadDeleteLimit(store);
        if (command.keepVersions < 0) {
            command.keepVersions = ReadKeepVersions(store);
        }
        platform::RaiseOpenFileLimit();
        return RunFolders(command, in, out, err, ::isatty(STDIN_FILENO) == 1,
                          ::isatty(STDERR_FILENO) == 1);
    }
    if (!store.Flush()) {
        // Writing the presets back over a file that could not be read would lose them.
        err << store.UnreadableText() << "\n";
        return kExitEndedEarly;
    }
    const auto commit = [&store]() -> std::string {
        return store.Flush() ? std::string() : store.UnwritableText();
    };
    const bool interactive = ::isatty(STDIN_FILENO) == 1;
    if (parsed.kind == ParsedCommand::Kind::ExportPresets) {
        return ExportPresetData(parsed.presetFile, store, out, err);
    }
    if (parsed.kind == ParsedCommand::Kind::ImportPresets) {
        ConsoleEventLoop loop;
        ConsoleUi ui(loop, in, err, ConsoleAnswers{interactive, parsed.assumeYes, false});
        return ImportPresetData(parsed.presetFile, store, ui, commit, out, err);
    }
    platform::RaiseOpenFileLimit();
    return RunPresetList(parsed.presetList, store, commit, in, err,
                         ConsoleAnswers{interactive, false, ::isatty(STDERR_FILENO) == 1});
}

}  // namespace mirova
