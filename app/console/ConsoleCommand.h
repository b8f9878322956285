#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "app/console/ConsolePresetList.h"

namespace mirova {

// Exit statuses of the command line.
// 0: the run completed (a compare reached its report, a synchronisation or merge carried
// everything out) or there was nothing to do.
inline constexpr int kExitDone = 0;
// 1: the run ended early (missing folder, failed scan, declined question, refused by the
// deletion brake) or something failed; also a second copy of the program refused by the guard.
inline constexpr int kExitEndedEarly = 1;
// 2: the command line is wrong, or its two folders overlap.
inline constexpr int kExitUsage = 2;

enum class RunMode { Compare, Sync, Merge };

// A run of two folders, as given on the command line.
struct RunCommand {
    RunMode mode = RunMode::Compare;
    std::string source;
    std::string target;
    std::vector<std::string> excludeNames;
    std::vector<std::string> excludeExtensions;
    bool noStopOnError = false;
    bool assumeYes = false;
    bool suppressDeletion = false;
    bool allowMassDelete = false;  // --allow-mass-delete: no deletion brake for this run
    bool listChanges = false;      // --list: the change record's item lines on standard output
    int deleteLimit = 50;          // the stored brake ("DELETELIMIT")
    // --keep-versions DAYS; -1 when not given: the stored "KEEPVERSIONS" holds
    int keepVersions = -1;
};

struct ParsedCommand {
    enum class Kind {
        Help,
        Version,        // --version
        Run,            // --compare, --sync, --merge
        PresetList,     // /A LIST [/D]: the listed stored presets, one after another
        ExportPresets,  // --export-presets FILE
        ImportPresets,  // --import-presets FILE [--yes]
        Error,
    } kind = Kind::Error;
    RunCommand run;
    AutoRunCommand presetList;
    std::string presetFile;  // for ExportPresets and ImportPresets
    bool assumeYes = false;  // --yes with ImportPresets
    std::string error;       // what is wrong, for Kind::Error
};

ParsedCommand ParseCommandLine(const std::vector<std::string>& arguments);

// Whether the command line names one of the console's commands (--compare, --sync, --merge,
// --export-presets, --import-presets, --help or -h, --version). Without one it is the desktop
// program's command line, where "/A" and "/D" count and every other argument is ignored.
bool HasConsoleCommand(const std::vector<std::string>& arguments);

// The usage text of `mirova --help`.
std::string UsageText();

// Runs a run to its end on this thread; returns the exit status.
int RunFolders(const RunCommand& command, std::istream& in, std::ostream& out, std::ostream& err,
               bool interactive, bool showStatus);

// The whole command line: parses, runs, and returns the exit status.
int RunConsole(const std::vector<std::string>& arguments, std::istream& in, std::ostream& out,
               std::ostream& err);

}  // namespace mirova
