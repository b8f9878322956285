#pragma once

#include <functional>
#include <iosfwd>
#include <string>

#include "app/common/PresetDataFileIo.h"

namespace mirova {

class MessageBoxHandler;
class SettingsStore;

// Writes the stored presets and exclusion lists to a preset data file. The file appears whole
// or not at all: the data goes to a temporary file in the same folder, which then replaces it.
// Returns the exit status (0 written, 1 failed).
int ExportPresetData(const std::string& file, SettingsStore& store, std::ostream& out,
                     std::ostream& err);

// Reads and checks a preset data file, then after a Yes to kLoadPresetDataQuestion replaces the 30
// stored presets and both exclusion lists with those of a preset data file; the current preset and
// the window position stay. A file that is not preset data or is damaged changes nothing. `commit`
// makes the store's writes durable and returns why it could not ("" when it could). Returns the
// exit status (0 loaded, 1 declined or failed).
int ImportPresetData(const std::string& file, SettingsStore& store, MessageBoxHandler& boxes,
                     const std::function<std::string()>& commit, std::ostream& out,
                     std::ostream& err);

}  // namespace mirova
