#pragma once

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

#include "app/console/ConsoleUi.h"

namespace mirova {

class SettingsStore;

// The command-line list of presets, "/A 1,3,12" with or without "/D", as ParseAutoRunArguments
// read it.
struct AutoRunCommand {
    int suppressDeletion = 0;
    int noStopOnError = 0;
    std::vector<std::int8_t> presets;  // 1-based preset numbers in list order
};

// Runs the listed presets of the stored table one after another, each as a synchronisation run
// (a merge preset merges), as the desktop program does when started with "/A". At the end the
// table, with the last preset run as the current one, and the exclusion lists go back to the
// store, and `commit` makes those writes durable (it returns why it could not, "" when it
// could). Returns 0 when every run that was started completed and nothing failed, else 1.
int RunPresetList(const AutoRunCommand& command, SettingsStore& store,
                  const std::function<std::string()>& commit, std::istream& in, std::ostream& err,
                  ConsoleAnswers answers);

}  // namespace mirova
