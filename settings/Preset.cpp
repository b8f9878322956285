#include "settings/Preset.h"

#include <string>

#include "settings/SettingsStore.h"

namespace mirova {
namespace {

const std::string kSection = "Settings";

// The value name of a preset's field: its number 1..30 (not the slot index) between "P" and the
// field's name.
std::string PresetValueName(int slot, const char* field) {
    // Appended piece by piece: GCC 12 at -O3 takes `"P" + std::to_string(...)` for an
    // overlapping copy and warns (-Wrestrict, a false positive of that compiler).
    std::string name(1, 'P');
    name += std::to_string(slot + 1);
    name += field;
    return name;
}

}  // namespace

int ReadDeleteLimit(SettingsStore& store) {
    const int limit = store.ReadInt(kSection, "DELETELIMIT", kDefaultDeleteLimit);
    return limit < 0 || limit > 100 ? kDefaultDeleteLimit : limit;
}

int ReadKeepVersions(SettingsStore& store, bool* stored) {
    const int days = store.ReadInt(kSection, "KEEPVERSIONS", -1);
    if (stored != nullptr) {
        *stored = days != -1;
    }
    return days < 0 || days > kMaxKeepVersionDays ? 0 : days;
}

void LoadSettings(PresetTable& table, SettingsStore& store) {
    table.deleteLimit = ReadDeleteLimit(store);
    table.keepVersions = ReadKeepVersions(store, &table.keepVersionsStored);
    table.windowLeft = store.ReadInt(kSection, "POSX", 0);
    table.windowTop = store.ReadInt(kSection, "POSY", 0);
    table.currentPreset = store.ReadInt(kSection, "PRESETNO", 0);
    // The program never stores another number, but a hand-edited store may hold one; it must
    // still select one of the slots.
    if (table.currentPreset < 0 || table.currentPreset >= kPresetCount) {
        table.currentPreset = 0;
    }
    for (int slot = 0; slot < kPresetCount; ++slot) {
        Preset& preset = table.presets[slot];
        preset.sourceFolder = store.ReadText(kSection, PresetValueName(slot, "SRCFOLDER"), "");
        preset.targetFolder = store.ReadText(kSection, PresetValueName(slot, "TARFOLDER"), "");
        preset.caption = store.ReadText(kSection, PresetValueName(slot, "CAPTION"), "");
        // "MARGE" is the stored spelling; existing stores depend on it.
        preset.mergeMode = store.ReadInt(kSection, PresetValueName(slot, "MARGESW"), 0);
        preset.useExclusions = store.ReadInt(kSection, PresetValueName(slot, "EXCLUSIONSW"), 0);
    }
}

void SaveSettings(const PresetTable& table, SettingsStore& store) {
    store.WriteInt(kSection, "POSX", table.windowLeft);
    store.WriteInt(kSection, "POSY", table.windowTop);
    store.WriteInt(kSection, "PRESETNO", table.currentPreset);
    for (int slot = 0; slot < kPresetCount; ++slot) {
        const Preset& preset = table.presets[slot];
        store.WriteText(kSection, PresetValueName(slot, "SRCFOLDER"), preset.sourceFolder);
        store.WriteText(kSection, PresetValueName(slot, "TARFOLDER"), preset.targetFolder);
        store.WriteText(kSection, PresetValueName(slot, "CAPTION"), preset.caption);
        store.WriteInt(kSection, PresetValueName(slot, "MARGESW"), preset.mergeMode);
        store.WriteInt(kSection, PresetValueName(slot, "EXCLUSIONSW"), preset.useExclusions);
    }
    // Written back so that a user who looks for the brake finds it in the file.
    store.WriteInt(kSection, "DELETELIMIT", table.deleteLimit);
    // A store that never had the switch on is left as it was; one that had it is told when it
    // is turned off.
    if (table.keepVersions != 0 || table.keepVersionsStored) {
        store.WriteInt(kSection, "KEEPVERSIONS", table.keepVersions);
    }
}

RunPreset RunPresetOf(const PresetTable& table, int index) {
    const Preset& preset = table.presets.at(static_cast<std::size_t>(index));
    RunPreset run;
    run.index = index;
    run.sourceFolder = preset.sourceFolder;
    run.targetFolder = preset.targetFolder;
    run.mergeMode = preset.mergeMode;
    run.useExclusions = preset.useExclusions;
    run.caption = preset.caption;
    return run;
}

}  // namespace mirova
