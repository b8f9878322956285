#include "app/ConsolePresetList.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sstream>

#include "AppTesting.h"
#include "TempDir.h"
#include "TreeSnapshot.h"
#include "settings/ExclusionList.h"
#include "settings/Preset.h"
#include "settings/SettingsStore.h"

namespace mirova {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

struct ListResult {
    int status = -1;
    std::string err;
};

ListResult RunList(MemorySettingsStore& store, std::vector<std::int8_t> presets,
                   int suppressDeletion = 0, std::string commitProblem = "") {
    AutoRunCommand command;
    command.noStopOnError = 1;
    command.suppressDeletion = suppressDeletion;
    command.presets = std::move(presets);
    std::istringstream in;
    std::ostringstream err;
    ListResult result;
    result.status = RunPresetList(
        command, store, [&commitProblem] { return commitProblem; }, in, err,
        ConsoleAnswers{false, false, false});
    result.err = err.str();
    return result;
}

PresetTable Stored(MemorySettingsStore& store) {
    PresetTable table;
    LoadSettings(table, store);
    return table;
}

class ConsolePresetListTest : public ::testing::Test {
protected:
    // Preset `number` runs folder "sN" into "dN" of the temporary folder.
    void SetPreset(int number, int mergeMode = 0, int useExclusions = 0) {
        const std::string n = std::to_string(number);
        table_.presets[static_cast<std::size_t>(number - 1)] =
            Preset{dir_ / ("s" + n), dir_ / ("d" + n), "preset " + n, mergeMode, useExclusions};
    }
    void Store() { SaveSettings(table_, store_); }

    test::TempDir dir_;
    PresetTable table_;
    MemorySettingsStore store_;
};

TEST_F(ConsolePresetListTest, RunsTheListedPresetsAndKeepsTheLastAsCurrent) {
    dir_.createFile("s5/sub/a.txt", "a", 1700000000);
    dir_.createFile("d5/extra.txt", "x", 1700000000);
    dir_.createFile("s7/b.txt", "b", 1700000000);
    dir_.createFile("d7/keep.txt", "k", 1700000000);
    table_.presets[1].sourceFolder = dir_ / "s5";  // no target folder: passed over
    SetPreset(5);
    SetPreset(7);
    table_.currentPreset = 2;
    table_.windowLeft = 99;
    Store();

    const ListResult result = RunList(store_, {2, 5, 0, 31, 7});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(dir_.read("d5/sub/a.txt"), "a");
    EXPECT_EQ(dir_.read("d5/extra.txt"), "");  // synchronised: deleted
    EXPECT_EQ(dir_.read("d7/b.txt"), "b");
    const std::string log = dir_.readLog();
    EXPECT_THAT(log, HasSubstr(": OptionD=OFF OptionA=5 menbers=2,5,0,31,7\n"));
    EXPECT_THAT(log, HasSubstr("  Mirova Preset 5 Start.\n"));
    EXPECT_THAT(log, HasSubstr("  Mirova Preset 7 Done.\n"));
    EXPECT_THAT(log, Not(HasSubstr("Preset 2 Start.")));
    EXPECT_THAT(log, HasSubstr("Preset 0: no such preset, skipped.\n"));
    EXPECT_THAT(log, HasSubstr("Preset 31: no such preset, skipped.\n"));

    const PresetTable after = Stored(store_);
    EXPECT_EQ(after.currentPreset, 6);  // the last preset selected
    EXPECT_EQ(after.windowLeft, 99);
    EXPECT_EQ(after.presets, table_.presets);
}

TEST_F(ConsolePresetListTest, SuppressedDeletionAndExclusionsComeFromTheCommandAndTheStore) {
    dir_.createFile("s1/a.txt", "a", 1700000000);
    dir_.createFile("s1/skip.tmp", "t", 1700000000);
    dir_.createFile("d1/extra.txt", "x", 1700000000);
    SetPreset(1, 0, 1);
    Store();
    ExclusionList lists;
    lists.AddExtension("TMP");
    lists.Save(store_);

    const ListResult result = RunList(store_, {1}, 1);
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_THAT(dir_.readLog(), HasSubstr(": OptionD=ON OptionA=1 menbers=1\n"));
    EXPECT_EQ(dir_.read("d1/a.txt"), "a");
    EXPECT_EQ(dir_.read("d1/extra.txt"), "x");  // /D
    EXPECT_EQ(dir_.read("d1/skip.tmp"), "");    // excluded
    ExclusionList saved;
    saved.Load(store_);
    EXPECT_EQ(saved.extensions(), lists.extensions());
}

TEST_F(ConsolePresetListTest, AMergePresetMergesAndTheListGoesOn) {
    dir_.createFile("s1/only-source.txt", "s", 1700000000);
    dir_.createFile("d1/only-target.txt", "t", 1700000000);
    dir_.createFile("s2/a.txt", "a", 1700000000);
    dir_.createFolder("d2");
    SetPreset(1, 1);
    SetPreset(2);
    Store();

    const ListResult result = RunList(store_, {1, 2});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(dir_.read("s1/only-target.txt"), "t");
    EXPECT_EQ(dir_.read("d1/only-source.txt"), "s");
    EXPECT_EQ(dir_.read("d2/a.txt"), "a");
    EXPECT_EQ(Stored(store_).currentPreset, 1);
}

TEST_F(ConsolePresetListTest, AMissingSourceStopsTheListAndTheStatusSaysSo) {
    dir_.createFile("s2/a.txt", "a", 1700000000);
    dir_.createFolder("d2");
    SetPreset(1);  // s1 does not exist
    SetPreset(2);
    table_.currentPreset = 5;
    Store();

    const ListResult result = RunList(store_, {1, 2});
    EXPECT_EQ(result.status, 1);
    EXPECT_THAT(result.err, HasSubstr("ｿｰｽﾌｫﾙﾀﾞ " + (dir_ / "s1") + " が存在しません。"));
    EXPECT_THAT(result.err, HasSubstr("stops at preset 1"));
    EXPECT_EQ(dir_.read("d2/a.txt"), "");
    // The table is saved all the same, as at any close of the program.
    EXPECT_EQ(Stored(store_).currentPreset, 0);
}

TEST_F(ConsolePresetListTest, ADeclinedQuestionFailsTheStatusButTheListGoesOn) {
    // A source older than its target copy is always asked about; without a terminal: No.
    dir_.createFile("s1/a.txt", "older", 1700000000);
    dir_.createFile("d1/a.txt", "newer", 1700000100);
    dir_.createFile("s2/b.txt", "b", 1700000000);
    dir_.createFolder("d2");
    SetPreset(1);
    SetPreset(2);
    Store();

    const ListResult result = RunList(store_, {1, 2});
    EXPECT_EQ(result.status, 1);
    EXPECT_THAT(result.err, HasSubstr("本当に同期させてよろしいですか？\n-> No"));
    EXPECT_EQ(dir_.read("d1/a.txt"), "newer");
    EXPECT_EQ(dir_.read("d2/b.txt"), "b");
}

TEST_F(ConsolePresetListTest, NothingToRunIsDoneButASettingsFileThatCannotBeWrittenIsNot) {
    Store();
    EXPECT_EQ(RunList(store_, {3, 4}).status, 0);
    EXPECT_EQ(RunList(store_, {}).status, 0);
    EXPECT_THAT(dir_.readLog(), Not(HasSubstr("Start.")));

    const ListResult unsaved = RunList(store_, {3}, 0, "settings not written");
    EXPECT_EQ(unsaved.status, 1);
    EXPECT_THAT(unsaved.err, HasSubstr("settings not written\n"));
}

TEST(ConsolePresetListEndToEndTest, RunsAStoredPresetFromTheCommandLine) {
    test::TempDir dir;
    test::ScopedConfigHome config(dir);
    dir.createFile("src/sub/a.txt", "a", 1700000000);
    dir.createFile("dst/old.txt", "o", 1700000000);
    // The settings file as the desktop program leaves it; preset 2 is empty.
    dir.createFile("config/TK-ORVELAN/Mirova.conf",
                   "[Settings]\nPRESETNO=0\nP2CAPTION=empty\nP5SRCFOLDER=" + (dir / "src") +
                       "\nP5TARFOLDER=" + (dir / "dst") + "\nP5CAPTION=\"line 1\\nline 2\"\n");

    const test::ProcessOutcome outcome = test::RunMirova(dir, {"/A", "2,5"});
    EXPECT_EQ(outcome.status, 0) << outcome.err;
    EXPECT_EQ(
        test::DescribeDifferences(test::SnapshotTree(dir / "src"), test::SnapshotTree(dir / "dst")),
        "");
    const std::string log = dir.readLog();
    EXPECT_THAT(log, HasSubstr(": OptionD=OFF OptionA=2 menbers=2,5\n"));
    EXPECT_THAT(log, HasSubstr("  Mirova Preset 5 Done.\n"));
    EXPECT_THAT(log, Not(HasSubstr("Preset 2 Start.")));

    const std::string settings = test::ReadFileText(config.settingsFile());
    EXPECT_THAT(settings, HasSubstr("PRESETNO=4\n"));
    EXPECT_THAT(settings, HasSubstr("P5CAPTION=line 1\\nline 2\n"));
    EXPECT_THAT(settings, HasSubstr("P30MARGESW=0\n"));
    EXPECT_THAT(settings, HasSubstr("[JLIST]\nJLIST_CNT=0\n"));
}

}  // namespace
}  // namespace mirova
