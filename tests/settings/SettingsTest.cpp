// The exclusion lists and the preset table, and how both are kept in a settings store.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "settings/ExclusionList.h"
#include "settings/Preset.h"
#include "settings/SettingsStore.h"

namespace mirova {
namespace {

using platform::TextEncoding;
using Entries = std::vector<std::string>;
using Section = std::map<std::string, std::string>;

ExclusionList List(Entries names, Entries extensions = {},
                   TextEncoding encoding = TextEncoding::Utf8) {
    ExclusionList list(encoding);
    for (const std::string& name : names) {
        EXPECT_TRUE(list.AddName(name));
    }
    for (const std::string& extension : extensions) {
        EXPECT_TRUE(list.AddExtension(extension));
    }
    return list;
}

TEST(ExclusionList, MatchesNameFragmentsAndExtensions) {
    constexpr TextEncoding kCp932 = TextEncoding::Cp932;
    const struct {
        ExclusionList list;
        Entries excluded, kept;
    } rows[] = {
        {List({}), {}, {"", "/work/a.txt"}},
        // A name entry is a case-sensitive fragment of the whole path; any entry matches.
        {List({"/obj/"}), {"/work/src/obj/deep/x.o"}, {"/work/src/obj", "/work/src/object/x.o"}},
        {List({"never", "obj"}), {"/work/object.txt"}, {"/work/OBJ/x"}},
        {List({"zzz", ""}), {"/"}, {}},  // an empty fragment excludes everything
        // The extension runs from the last dot of the whole path; ASCII letters fold only.
        {List({}, {"TXT", "GZ", "z"}), {"/d/B.Txt", "/d/x.tar.gz", "/d/f.Z"}, {"/d/f.tar"}},
        {List({}, {"txt"}), {}, {"/d/a.txt2", "/d/a.tx", "/d/README", "/d/old.txt/plain"}},
        {List({}, {".txt", "tar.gz"}), {}, {"/d/a.txt", "/d/x.tar.gz"}},
        {List({}, {"gitignore", "2/Makefile"}), {"/src/.gitignore", "/src/rel.2/Makefile"}, {}},
        {List({}, {"a[", "@", "2", "Makefile"}), {}, {"/d/f.a{", "/d/f.`", "/src/rel.2/Makefile"}},
        {List({"keep"}, {"log"}), {"/d/run.LOG", "/d/keep"}, {"/d/run.txt"}},
        // A fragment never matches inside a character: "¢" is C2 A2, a stray A2 is its own.
        {List({"\xA2"}), {"/d/\xC2\xA2/\xA2"}, {"/d/\xC2\xA2.txt"}},
        {List({"表"}), {"/d/表/x"}, {}},
        // In CP932 "表" is 95 5C (its trail byte the code of "\"), "ソ" 83 5C, "ア" 83 41.
        {List({"\\"}, {}, kCp932), {"D:/\x95\x5C/a\\b.txt"}, {"D:/\x95\x5C/a.txt"}},
        {List({"\x83\x5C"}, {}, kCp932), {"/\x95\x5C\x83\x5C"}, {}},
        {List({"\x5C\x83"}, {}, kCp932), {}, {"/\x95\x5C\x83\x5C"}},
        {List({}, {"A\x83\x41"}, kCp932), {"/d/f.a\x83\x41"}, {}},
        {List({}, {"\x83\x61"}, kCp932), {}, {"/d/f.\x83\x41"}},
        {List({}, {"txt"}, kCp932), {"/d/\x81.txt"}, {}},  // a broken lead byte
    };
    for (const auto& row : rows) {
        for (const std::string& path : row.excluded) {
            EXPECT_TRUE(row.list.IsExcluded(path)) << path;
        }
        for (const std::string& path : row.kept) {
            EXPECT_FALSE(row.list.IsExcluded(path)) << path;
        }
    }
}

// The stored count decides what is read: the old values of a longer list stay hidden behind it,
// a missing entry within it is empty, a negative one an empty list. A list holds at most a
// hundred entries, whether added or loaded.
TEST(ExclusionList, SaveAndLoadKeepBothListsAndTheCountDecidesWhatIsRead) {
    MemorySettingsStore store;
    List({"a", "b", "c", "d", "e"}).Save(store);
    List({"/obj/", "", "一時"}, {"bak"}).Save(store);
    EXPECT_EQ(store.section("JLIST"), (Section{{"JLIST_CNT", "3"},
                                               {"JLIST-0", "/obj/"},
                                               {"JLIST-1", ""},
                                               {"JLIST-2", "一時"},
                                               {"JLIST-3", "d"},
                                               {"JLIST-4", "e"}}));
    EXPECT_EQ(store.section("ELIST"), (Section{{"ELIST_CNT", "1"}, {"ELIST-0", "bak"}}));
    ExclusionList loaded = List({"old entry"});  // replaced, not appended to
    loaded.Load(store);
    EXPECT_EQ(loaded.names(), (Entries{"/obj/", "", "一時"}));
    EXPECT_EQ(loaded.extensions(), Entries{"bak"});

    MemorySettingsStore other;
    other.WriteInt("JLIST", "JLIST_CNT", 2);
    other.WriteText("JLIST", "JLIST-0", "tmp");
    other.WriteInt("ELIST", "ELIST_CNT", -4);
    other.WriteText("ELIST", "ELIST-0", "never read");
    loaded.Load(other);
    EXPECT_EQ(loaded.names(), (Entries{"tmp", ""}));
    EXPECT_EQ(loaded.extensions(), Entries{});
    Entries hundred;
    other.WriteInt("ELIST", "ELIST_CNT", 150);
    for (int i = 0; i < 150; ++i) {
        other.WriteText("ELIST", "ELIST-" + std::to_string(i), "e" + std::to_string(i));
        if (i < ExclusionList::kCapacity) {
            hundred.push_back("e" + std::to_string(i));
        }
    }
    loaded.Load(other);
    EXPECT_EQ(loaded.extensions(), hundred);
    EXPECT_FALSE(loaded.AddExtension("refused"));
    loaded.Clear();
    EXPECT_EQ(loaded.names(), Entries{});
    EXPECT_EQ(loaded.extensions(), Entries{});
    for (int i = 0; i < ExclusionList::kCapacity; ++i) {
        ASSERT_TRUE(loaded.AddName("n" + std::to_string(i)));
    }
    EXPECT_FALSE(loaded.AddName("refused"));
    EXPECT_FALSE(loaded.IsExcluded("/d/refused"));
}

// Out of range or unreadable values: a typing slip keeps the default brake rather than switching
// it off, and keeps no versions; a preset number outside the table selects the first.
TEST(PresetSettings, ValuesAreReadWithinTheirRanges) {
    const struct {
        const char* name;
        const char* stored;
        int PresetTable::*field;
        int read;
    } rows[] = {
        {"DELETELIMIT", "0", &PresetTable::deleteLimit, 0},
        {"DELETELIMIT", "100", &PresetTable::deleteLimit, 100},
        {"DELETELIMIT", "101", &PresetTable::deleteLimit, 50},
        {"DELETELIMIT", "-1", &PresetTable::deleteLimit, 50},
        {"DELETELIMIT", "12abc", &PresetTable::deleteLimit, 50},
        {"DELETELIMIT", " 12", &PresetTable::deleteLimit, 50},
        {"DELETELIMIT", "", &PresetTable::deleteLimit, 50},
        {"KEEPVERSIONS", "36500", &PresetTable::keepVersions, 36500},
        {"KEEPVERSIONS", "36501", &PresetTable::keepVersions, 0},
        {"KEEPVERSIONS", "-5", &PresetTable::keepVersions, 0},
        {"PRESETNO", "29", &PresetTable::currentPreset, 29},
        {"PRESETNO", "30", &PresetTable::currentPreset, 0},
        {"PRESETNO", "-1", &PresetTable::currentPreset, 0},
        {"POSX", "-7", &PresetTable::windowLeft, -7},  // on a monitor left of the primary one
        {"POSY", "99999999999", &PresetTable::windowTop, 0}};
    for (const auto& row : rows) {
        MemorySettingsStore store;
        store.WriteText("Settings", row.name, row.stored);
        PresetTable table;
        table.*row.field = 1;
        LoadSettings(table, store);
        EXPECT_EQ(table.*row.field, row.read) << row.name << " " << row.stored;
    }
}

TEST(PresetSettings, TableComesBackUnchanged) {
    MemorySettingsStore store;
    PresetTable table;
    table.currentPreset = -1;  // as while the dialog is being built
    table.presets[3].caption = "old";
    LoadSettings(table, store);  // an empty store: empty presets and the defaults
    EXPECT_EQ(table.currentPreset, 0);
    EXPECT_EQ(table.presets, PresetArray());
    EXPECT_EQ(table.deleteLimit, 50);
    table.currentPreset = 11;
    table.windowLeft = -40;
    table.windowTop = 300;
    for (int slot = 0; slot < kPresetCount; ++slot) {
        table.presets[slot] = {"/src/" + std::to_string(slot), "", "", slot % 2,
                               slot % 3 == 0 ? 1 : 0};
    }
    table.presets[11].caption = "first line\r\nsecond line\nthird";
    table.presets[4].targetFolder = "/mnt/バックアップ";
    SaveSettings(table, store);
    // Five values per preset, the window, the preset number and the brake; kept versions only
    // once used, and then also when they are turned off.
    EXPECT_EQ(store.section("Settings").size(), 154u);
    EXPECT_EQ(store.section("Settings").at("P12CAPTION"), "first line\r\nsecond line\nthird");
    PresetTable loaded;
    LoadSettings(loaded, store);
    EXPECT_EQ(std::tuple(loaded.currentPreset, loaded.windowLeft, loaded.windowTop),
              std::tuple(11, -40, 300));
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
