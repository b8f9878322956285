#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "settings/Preset.h"
#include "settings/SettingsStore.h"

namespace mirova {
namespace {

// Passes the writes on to a memory store and records their order.
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
        writes.push_back(name);
        memory.WriteInt(section, name, value);
    }
    void WriteText(const std::string& section, const std::string& name,
                   const std::string& value) override {
        writes.push_back(name);
        memory.WriteText(section, name, value);
    }
    MemorySettingsStore memory;
    std::vector<std::string> writes;
};

TEST(MemorySettingsStore, IntegersAreDecimalTextAndUnreadableOnesAreMissing) {
    MemorySettingsStore store;
    EXPECT_EQ(store.ReadText("S", "missing", "fallback"), "fallback");
    store.WriteInt("S", "negative", -7);
    EXPECT_EQ(store.ReadText("S", "negative", ""), "-7");
    EXPECT_EQ(store.ReadInt("S", "negative", 0), -7);
    EXPECT_EQ(store.ReadInt("S", "missing", 17), 17);
    EXPECT_EQ(store.ReadInt("other section", "negative", 3), 3);
    for (const char* text : {"", "abc", "12abc", " 12", "99999999999"}) {
        store.WriteText("S", "bad", text);
        EXPECT_EQ(store.ReadInt("S", "bad", 5), 5) << '"' << text << '"';
    }
}

// Out of range values: a typing slip keeps the default brake rather than switching it off, and
// keeps no versions; a preset number outside the table selects the first.
TEST(PresetSettings, ValuesAreReadWithinTheirRanges) {
    const struct {
        const char* name;
        int stored;
        int PresetTable::*field;
        int read;
    } rows[] = {
        {"DELETELIMIT", 0, &PresetTable::deleteLimit, 0},
        {"DELETELIMIT", 100, &PresetTable::deleteLimit, 100},
        {"DELETELIMIT", 101, &PresetTable::deleteLimit, 50},
        {"DELETELIMIT", -1, &PresetTable::deleteLimit, 50},
        {"KEEPVERSIONS", 36500, &PresetTable::keepVersions, 36500},
        {"KEEPVERSIONS", 36501, &PresetTable::keepVersions, 0},
        {"KEEPVERSIONS", -5, &PresetTable::keepVersions, 0},
        {"PRESETNO", 29, &PresetTable::currentPreset, 29},
        {"PRESETNO", 30, &PresetTable::currentPreset, 0},
        {"PRESETNO", -1, &PresetTable::currentPreset, 0},
    };
    for (const auto& row : rows) {
        MemorySettingsStore store;
        store.WriteInt("Settings", row.name, row.stored);
        PresetTable table;
        table.*row.field = 1;
        LoadSettings(table, store);
        EXPECT_EQ(table.*row.field, row.read) << row.name << " " << row.stored;
    }
}

TEST(PresetSettings, EmptyStoreGivesEmptyPresetsAndSavesAllValuesInOrder) {
    MemorySettingsStore empty;
    PresetTable table;
    table.currentPreset = -1;  // as while the dialog is being built
    table.windowLeft = 99;
    table.presets[3].caption = "old";
    LoadSettings(table, empty);
    EXPECT_EQ(table.currentPreset, 0);
    EXPECT_EQ(table.windowLeft, 0);
    EXPECT_EQ(table.presets, PresetArray());
    EXPECT_EQ(table.deleteLimit, 50);

    RecordingStore store;
    SaveSettings(table, store);
    ASSERT_EQ(store.writes.size(), 154u);
    EXPECT_EQ(std::vector<std::string>(store.writes.begin(), store.writes.begin() + 9),
              (std::vector<std::string>{"POSX", "POSY", "PRESETNO", "P1SRCFOLDER", "P1TARFOLDER",
                                        "P1CAPTION", "P1MARGESW", "P1EXCLUSIONSW", "P2SRCFOLDER"}));
    EXPECT_EQ(store.writes[3 + 5 * 29], "P30SRCFOLDER");
    EXPECT_EQ(store.writes.back(), "DELETELIMIT");
    EXPECT_EQ(store.memory.section("Settings").at("DELETELIMIT"), "50");
}

TEST(PresetSettings, TableComesBackUnchanged) {
    PresetTable table;
    table.currentPreset = 11;
    table.windowLeft = -40;  // on a monitor left of the primary one
    table.windowTop = 300;
    for (int slot = 0; slot < kPresetCount; ++slot) {
        table.presets[slot] = {"/src/" + std::to_string(slot), "", "", slot % 2,
                               slot % 3 == 0 ? 1 : 0};
    }
    table.presets[11].caption = "first line\r\nsecond line\nthird";
    table.presets[4].targetFolder = "/mnt/バックアップ";
    MemorySettingsStore store;
    SaveSettings(table, store);
    EXPECT_EQ(store.section("Settings").at("P12CAPTION"), "first line\r\nsecond line\nthird");
    // Kept versions are written once used, and then also when they are turned off.
    EXPECT_EQ(store.section("Settings").count("KEEPVERSIONS"), 0u);
    PresetTable loaded;
    LoadSettings(loaded, store);
    EXPECT_EQ(loaded.currentPreset, 11);
    EXPECT_EQ(loaded.windowLeft, -40);
    EXPECT_EQ(loaded.windowTop, 300);
    EXPECT_EQ(loaded.presets, table.presets);

    loaded.keepVersions = 14;
    SaveSettings(loaded, store);
    LoadSettings(loaded, store);
    EXPECT_EQ(loaded.keepVersions, 14);
    loaded.keepVersions = 0;
    SaveSettings(loaded, store);
    EXPECT_EQ(store.ReadInt("Settings", "KEEPVERSIONS", -1), 0);
}

}  // namespace
}  // namespace mirova
