#include "app/common/QtSettingsStore.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QSettings>
#include <QString>
#include <QStringList>
#include <filesystem>

#include "AppTesting.h"
#include "TempDir.h"
#include "settings/ExclusionList.h"
#include "settings/Preset.h"

namespace mirova {
namespace {

QStringList KeysOf(const std::string& file, const char* group) {
    QSettings settings(QString::fromStdString(file), QSettings::IniFormat);
    settings.beginGroup(QString::fromLatin1(group));
    return settings.childKeys();
}

TEST(QtSettingsStoreTest, ValuesSurviveARestartAndAnUnreadableFileIsReported) {
    test::TempDir dir;
    test::ScopedConfigHome config(dir);
    const std::string caption = "行1: 毎晩のバックアップ\nline 2, with a comma\r\n\tand a tab ";
    const std::string notUtf8 = "/mnt/\x83\x74\x83\x48\x83\x8b\x83\x5f";  // CP932 bytes
    const std::string tricky[] = {"",         "@Variant(x)", "\"quoted\"", "back\\slash",
                                  " spaced ", "a;b=c#d",     "true"};
    {
        QtSettingsStore store;
        EXPECT_EQ(store.FilePath(), config.settingsFile());
        store.WriteInt("Settings", "POSX", -120);
        store.WriteInt("Settings", "PRESETNO", 29);
        store.WriteText("Settings", "P1CAPTION", caption);
        store.WriteText("Settings", "P1SRCFOLDER", notUtf8);
        store.WriteText("JLIST", "JLIST-0", "日本語");
        for (std::size_t i = 0; i < std::size(tricky); ++i) {
            store.WriteText("ELIST", "ELIST-" + std::to_string(i), tricky[i]);
        }
        store.WriteText("Settings", "POSY", "12abc");
        ASSERT_TRUE(store.Flush());
    }
    QtSettingsStore restarted;
    EXPECT_EQ(restarted.ReadInt("Settings", "POSX", 0), -120);
    EXPECT_EQ(restarted.ReadInt("Settings", "PRESETNO", 0), 29);
    EXPECT_EQ(restarted.ReadText("Settings", "P1CAPTION", ""), caption);
    EXPECT_EQ(restarted.ReadText("Settings", "P1SRCFOLDER", ""), notUtf8);
    EXPECT_EQ(restarted.ReadText("JLIST", "JLIST-0", ""), "日本語");
    for (std::size_t i = 0; i < std::size(tricky); ++i) {
        EXPECT_EQ(restarted.ReadText("ELIST", "ELIST-" + std::to_string(i), "-"), tricky[i]);
    }
    // A value that is not an integer, and missing values, read as the fallback.
    EXPECT_EQ(restarted.ReadInt("Settings", "POSY", 7), 7);
    EXPECT_EQ(restarted.ReadInt("Settings", "P1CAPTION", 7), 7);
    EXPECT_EQ(restarted.ReadInt("Settings", "MISSING", -3), -3);
    EXPECT_EQ(restarted.ReadText("Settings", "MISSING", "fallback"), "fallback");
    EXPECT_EQ(restarted.ReadText("Nowhere", "P1CAPTION", "fallback"), "fallback");
    EXPECT_EQ(restarted.ReadText("Settings", "PRESETNO", ""), "29");
    // Sections do not share values.
    EXPECT_EQ(restarted.ReadText("JLIST", "P1CAPTION", "none"), "none");
    // Readable text in the file, so that a user can look at it.
    EXPECT_THAT(test::ReadFileText(config.settingsFile()), ::testing::HasSubstr("日本語"));

    // A file that cannot be read is reported.
    std::filesystem::remove(config.settingsFile());
    dir.createFolder("config/TK-ORVELAN/Mirova.conf");
    EXPECT_FALSE(QtSettingsStore().Flush());
}

TEST(QtSettingsStoreTest, TheTableAndTheListsGoToTheirGroups) {
    test::TempDir dir;
    test::ScopedConfigHome config(dir);
    PresetTable table;
    table.currentPreset = 11;
    table.windowLeft = 40;
    table.windowTop = 30;
    table.presets[0] = Preset{"/data/src", "/backup/dst", "毎日\n夜", 1, 1};
    table.presets[29].sourceFolder = "/only/source";
    ExclusionList lists;
    lists.AddName("/obj/");
    lists.AddExtension("tmp");
    lists.AddExtension("bak");
    {
        QtSettingsStore store;
        SaveSettings(table, store);
        lists.Save(store);
        ASSERT_TRUE(store.Flush());
    }
    // 30 presets of five values, the three values of the window and the deletion brake.
    EXPECT_EQ(KeysOf(config.settingsFile(), "Settings").size(), 154);
    EXPECT_EQ(KeysOf(config.settingsFile(), "JLIST").size(), 2);
    EXPECT_EQ(KeysOf(config.settingsFile(), "ELIST").size(), 3);
    EXPECT_TRUE(KeysOf(config.settingsFile(), "Settings").contains(QStringLiteral("P30MARGESW")));

    QtSettingsStore restarted;
    PresetTable loaded;
    LoadSettings(loaded, restarted);
    EXPECT_EQ(loaded.presets, table.presets);
    EXPECT_EQ(loaded.currentPreset, 11);
    EXPECT_EQ(loaded.windowLeft, 40);
    EXPECT_EQ(loaded.windowTop, 30);
    ExclusionList loadedLists;
    loadedLists.Load(restarted);
    EXPECT_EQ(loadedLists.names(), lists.names());
    EXPECT_EQ(loadedLists.extensions(), lists.extensions());
}

// The example file of the documentation is what a user copies to prepare presets by hand.
TEST(QtSettingsStoreTest, TheDocumentedExampleLoadsAsItSays) {
    test::TempDir dir;
    test::ScopedConfigHome config(dir);
    std::filesystem::create_directories(std::filesystem::path(config.settingsFile()).parent_path());
    std::filesystem::copy_file(MIROVA_EXAMPLE_SETTINGS, config.settingsFile());
    QtSettingsStore store;
    PresetTable table;
    LoadSettings(table, store);
    EXPECT_EQ(table.currentPreset, 0);
    EXPECT_EQ(table.windowLeft, 120);
    EXPECT_EQ(table.windowTop, 80);
    EXPECT_EQ(table.deleteLimit, 50);
    EXPECT_EQ(table.keepVersions, 30);
    EXPECT_EQ(table.presets[0], (Preset{"/home/user/Pictures", "/media/user/BACKUP/Pictures",
                                        "Photos to the backup disk", 0, 1}));
    EXPECT_EQ(table.presets[1], (Preset{"/home/user/Documents", "/mnt/desktop/home/user/Documents",
                                        "書類 (laptop and desktop)", 1, 0}));
    EXPECT_EQ(table.presets[2], Preset{});
    ExclusionList lists;
    lists.Load(store);
    EXPECT_THAT(lists.names(), ::testing::ElementsAre("/.cache/", "Thumbs.db"));
    EXPECT_THAT(lists.extensions(), ::testing::ElementsAre("tmp", "bak"));
}

// A settings file is user input: edited by hand, copied from elsewhere, or damaged.
TEST(QtSettingsStoreTest, HostileValuesLoadWithDefaultsAndBoundedLists) {
    test::TempDir dir;
    test::ScopedConfigHome config(dir);
    dir.createFile("config/TK-ORVELAN/Mirova.conf",
                   "[Settings]\n"
                   "PRESETNO=2147483647\n"
                   "POSX=99999999999999999999\n"
                   "POSY=-12abc\n"
                   "P1MARGESW=yes\n"
                   "P1EXCLUSIONSW=-2147483648\n"
                   "P2SRCFOLDER=@Variant(\\0\\0\\0\\x7f\\0\\0\\0\\xffjunk)\n"
                   "[JLIST]\n"
                   "JLIST_CNT=2147483647\n"
                   "JLIST-0=first\n"
                   "[ELIST]\n"
                   "ELIST_CNT=-5\n"
                   "ELIST-0=never read\n");
    QtSettingsStore store;
    PresetTable table;
    LoadSettings(table, store);
    EXPECT_EQ(table.currentPreset, 0);
    EXPECT_EQ(table.windowLeft, 0);
    EXPECT_EQ(table.windowTop, 0);
    EXPECT_EQ(table.presets[0].mergeMode, 0);
    EXPECT_EQ(table.presets[0].useExclusions, -2147483647 - 1);  // taken as it is

    ExclusionList lists;
    lists.Load(store);
    ASSERT_EQ(lists.names().size(), static_cast<std::size_t>(ExclusionList::kCapacity));
    EXPECT_EQ(lists.names()[0], "first");
    EXPECT_EQ(lists.names()[1], "");
    EXPECT_TRUE(lists.extensions().empty());
}

}  // namespace
}  // namespace mirova
