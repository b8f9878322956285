#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "settings/Preset.h"
#include "settings/SettingsStore.h"

namespace mirova {
namespace {

// Records the order of the writes and passes them on to a memory store.
class RecordingStore final : public SettingsStore {
public:
    int ReadInt(const std::string& section, const std::string& name, int fallback) override {
        return memory.ReadInt(section, name, fallback);
    }
    std::string ReadText(const std::string& section, const std::string& name,
                         const std::string& fallback) override {
        return memory.ReadText(section, name, fallback);
    }
    void WriteInt(const std::string& section, const std::string& name, int value) override {
        writes.push_back(section + "/" + name);
        memory.WriteInt(section, name, value);
    }
    void WriteText(const std::string& section, const std::string& name,
                   const std::string& value) override {
        writes.push_back(section + "/" + name);
        memory.WriteText(section, name, value);
    }

    MemorySettingsStore memory;
    std::vector<std::string> writes;
};

TEST(MemorySettingsStore, IntegersAreDecimalTextAndUnreadableOnesAreMissing) {
    MemorySettingsStore store;
    EXPECT_EQ(store.ReadInt("S", "missing", 17), 17);
    EXPECT_EQ(store.ReadText("S", "missing", "fallback"), "fallback");

    store.WriteInt("S", "negative", -7);
    EXPECT_EQ(store.section("S").at("negative"), "-7");
    EXPECT_EQ(store.ReadInt("S", "negative", 0), -7);
    EXPECT_EQ(store.ReadText("S", "negative", ""), "-7");

    store.WriteText("S", "number as text", "42");
    EXPECT_EQ(store.ReadInt("S", "number as text", 0), 42);
    for (const char* text : {"", "abc", "12abc", " 12", "99999999999"}) {
        store.WriteText("S", "bad", text);
        EXPECT_EQ(store.ReadInt("S", "bad", 5), 5) << '"' << text << '"';
    }
    EXPECT_EQ(store.ReadInt("other section", "negative", 3), 3);
}

TEST(PresetSettings, EmptyStoreGivesEmptyPresetsAndSavesAllValues) {
    MemorySettingsStore store;
    PresetTable table;
    table.currentPreset = -1;  // as while the dialog is being built
    table.windowLeft = 99;
    LoadSettings(table, store);
    EXPECT_EQ(table.currentPreset, 0);
    EXPECT_EQ(table.windowLeft, 0);
    EXPECT_EQ(table.windowTop, 0);
    EXPECT_EQ(table.presets, PresetArray());

    EXPECT_EQ(table.deleteLimit, 50);

    SaveSettings(table, store);
    const auto& values = store.section("Settings");
    EXPECT_EQ(values.size(), 154u);
    EXPECT_EQ(values.at("DELETELIMIT"), "50");
    EXPECT_EQ(values.count("P1MARGESW"), 1u);
    EXPECT_EQ(values.count("P30EXCLUSIONSW"), 1u);
    EXPECT_EQ(values.count("P1MERGESW"), 0u);
    EXPECT_EQ(values.count("P0SRCFOLDER"), 0u);
}

TEST(PresetSettings, SaveWritesInTheStoredOrder) {
    RecordingStore store;
    SaveSettings(PresetTable(), store);
    ASSERT_EQ(store.writes.size(), 154u);
    const std::vector<std::string> first(store.writes.begin(), store.writes.begin() + 9);
    EXPECT_EQ(first, (std::vector<std::string>{
                         "Settings/POSX", "Settings/POSY", "Settings/PRESETNO",
                         "Settings/P1SRCFOLDER", "Settings/P1TARFOLDER", "Settings/P1CAPTION",
                         "Settings/P1MARGESW", "Settings/P1EXCLUSIONSW", "Settings/P2SRCFOLDER"}));
    EXPECT_EQ(store.writes.back(), "Settings/DELETELIMIT");
}

// The brake's percentage: a value out of range (a typing slip) keeps the default rather than
// switching the brake off.
TEST(PresetSettings, DeleteLimitIsReadWithinItsRange) {
    for (const auto& [stored, read] :
         {std::pair{0, 0}, {30, 30}, {100, 100}, {101, 50}, {-1, 50}}) {
        MemorySettingsStore store;
        store.WriteInt("Settings", "DELETELIMIT", stored);
        PresetTable table;
        LoadSettings(table, store);
        EXPECT_EQ(table.deleteLimit, read) << stored;
    }
}

// Kept versions: days within range, 0 (none kept) otherwise; a store that never had the value
// does not get it, one that had it is told when it is turned off.
TEST(PresetSettings, KeepVersionsIsReadWithinItsRangeAndWrittenOnlyOnceUsed) {
    for (const auto& [stored, read] :
         {std::pair{0, 0}, {30, 30}, {36500, 36500}, {36501, 0}, {-5, 0}}) {
        MemorySettingsStore store;
        store.WriteInt("Settings", "KEEPVERSIONS", stored);
        PresetTable table;
        LoadSettings(table, store);
        EXPECT_EQ(table.keepVersions, read) << stored;
    }
    MemorySettingsStore store;
    PresetTable table;
    LoadSettings(table, store);
    SaveSettings(table, store);
    EXPECT_EQ(store.section("Settings").count("KEEPVERSIONS"), 0u);
    table.keepVersions = 14;
    SaveSettings(table, store);
    LoadSettings(table, store);
    EXPECT_EQ(table.keepVersions, 14);
    table.keepVersions = 0;
    SaveSettings(table, store);
    EXPECT_EQ(store.ReadInt("Settings", "KEEPVERSIONS", -1), 0);
}

TEST(PresetSettings, TableComesBackUnchanged) {
    PresetTable table;
    table.currentPreset = 11;  // the preset shown as "12"
    table.windowLeft = -40;    // on a monitor left of the primary one
    table.windowTop = 300;
    for (int slot = 0; slot < kPresetCount; ++slot) {
        table.presets[slot].sourceFolder = "/src/" + std::to_string(slot);
        table.presets[slot].mergeMode = slot % 2;
        table.presets[slot].useExclusions = slot % 3 == 0 ? 1 : 0;
    }
    table.presets[11].caption = "first line\r\nsecond line\nthird";
    table.presets[4].targetFolder = "/mnt/バックアップ";  // a source without a target stays too

    MemorySettingsStore store;
    SaveSettings(table, store);
    EXPECT_EQ(store.section("Settings").at("PRESETNO"), "11");
    EXPECT_EQ(store.section("Settings").at("P12CAPTION"), "first line\r\nsecond line\nthird");
    EXPECT_EQ(store.section("Settings").at("P2MARGESW"), "1");

    PresetTable loaded;
    LoadSettings(loaded, store);
    EXPECT_EQ(loaded.currentPreset, 11);
    EXPECT_EQ(loaded.windowLeft, -40);
    EXPECT_EQ(loaded.windowTop, 300);
    EXPECT_EQ(loaded.presets, table.presets);
}

TEST(PresetSettings, StoredPresetNumberOutsideTheTableSelectsTheFirst) {
    for (const int stored : {45, 30, -3, -1}) {
        MemorySettingsStore store;
        store.WriteInt("Settings", "PRESETNO", stored);
        PresetTable table;
        LoadSettings(table, store);
        EXPECT_EQ(table.currentPreset, 0) << stored;
    }
    MemorySettingsStore store;
    store.WriteInt("Settings", "PRESETNO", 29);
    PresetTable table;
    LoadSettings(table, store);
    EXPECT_EQ(table.currentPreset, 29);
}

}  // namespace
}  // namespace mirova
