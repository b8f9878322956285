#pragma once

#include <array>
#include <string>

#include "engine/Run.h"

namespace mirova {

class SettingsStore;

// One stored synchronisation job.
struct Preset {
    std::string sourceFolder;
    std::string targetFolder;
    std::string caption;    // may hold line breaks
    int mergeMode = 0;      // 1: merged both ways, nothing deleted
    int useExclusions = 0;  // 1: the exclusion lists apply

    // A preset without both folders is passed over by the command-line list.
    bool emptyForRunning() const { return sourceFolder.empty() || targetFolder.empty(); }
    friend bool operator==(const Preset&, const Preset&) = default;
};

inline constexpr int kPresetCount = 30;
using PresetArray = std::array<Preset, kPresetCount>;

// The 30 presets, the current one and the main window's position, as the store keeps them.
struct PresetTable {
    PresetArray presets;
    int currentPreset = 0;  // 0..29
    int windowLeft = 0;
    int windowTop = 0;
    int deleteLimit = kDefaultDeleteLimit;  // "DELETELIMIT": the deletion brake, in percent
    int keepVersions = 0;  // "KEEPVERSIONS": days that kept versions are kept; 0 keeps none
    bool keepVersionsStored = false;  // the store holds "KEEPVERSIONS"
};

// What a run takes of preset `index` (0..29) of the table.
RunPreset RunPresetOf(const PresetTable& table, int index);

// Reads the table from the section "Settings". A stored current preset outside 0..29 is
// replaced by 0.
void LoadSettings(PresetTable& table, SettingsStore& store);
// Reads "DELETELIMIT" of the section "Settings": a percentage of 0..100, the default for a
// missing value or one out of range (a typing slip must not switch the brake off).
int ReadDeleteLimit(SettingsStore& store);
// Reads "KEEPVERSIONS" of the section "Settings": days of 0..kMaxKeepVersionDays, 0 (keep
// nothing) for a missing value or one out of range. `stored` tells whether the value is there.
int ReadKeepVersions(SettingsStore& store, bool* stored = nullptr);
// Writes the table, all 30 presets every time.
void SaveSettings(const PresetTable& table, SettingsStore& store);

}  // namespace mirova
