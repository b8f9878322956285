#include "app/console/ConsoleCommand.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <ctime>
#include <sstream>

#include "AppTesting.h"
#include "TempDir.h"
#include "app/console/ConsolePresetList.h"
#include "app/console/ConsoleUi.h"
#include "fileops/FileOperations.h"
#include "settings/ExclusionList.h"
#include "settings/Preset.h"
#include "settings/SettingsStore.h"

namespace mirova {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;

TEST(ConsoleCommandTest, ParsesEveryCommandAndRejectsWrongCommandLines) {
    const ParsedCommand parsed = ParseCommandLine(
        {"--compare", "/src", "/dst", "--exclude", "obj", "--exclude-ext", "tmp", "--exclude",
         "/cache/", "--exclude-ext", ".BAK", "--no-stop-on-error", "--yes"});
    ASSERT_EQ(parsed.kind, ParsedCommand::Kind::Run) << parsed.error;
    EXPECT_EQ(parsed.run.source, "/src");
    EXPECT_EQ(parsed.run.target, "/dst");
    EXPECT_THAT(parsed.run.excludeNames, ElementsAre("obj", "/cache/"));
    EXPECT_THAT(parsed.run.excludeExtensions, ElementsAre("tmp", "BAK"));
    EXPECT_TRUE(parsed.run.noStopOnError);
    EXPECT_TRUE(parsed.run.assumeYes);
    // Folders that look like options are reachable after "--".
    const ParsedCommand dashed = ParseCommandLine({"--compare", "--", "-src", "/dst"});
    ASSERT_EQ(dashed.kind, ParsedCommand::Kind::Run) << dashed.error;
    EXPECT_EQ(dashed.run.source, "-src");
    EXPECT_EQ(ParseCommandLine({"--help"}).kind, ParsedCommand::Kind::Help);
    EXPECT_EQ(ParseCommandLine({"--version"}).kind, ParsedCommand::Kind::Version);
    const ParsedCommand sync = ParseCommandLine({"--sync", "/s", "/d", "--suppress-deletion"});
    ASSERT_EQ(sync.kind, ParsedCommand::Kind::Run) << sync.error;
    EXPECT_EQ(sync.run.mode, RunMode::Sync);
    EXPECT_TRUE(sync.run.suppressDeletion);
    EXPECT_EQ(sync.run.keepVersions, -1);  // not given: the stored setting holds
    EXPECT_EQ(ParseCommandLine({"--merge", "/s", "/d"}).run.mode, RunMode::Merge);
    for (const auto& [days, read] : {std::pair{"0", 0}, {"30", 30}, {"36500", 36500}}) {
        EXPECT_EQ(
            ParseCommandLine({"--sync", "/s", "/d", "--keep-versions", days}).run.keepVersions,
            read);
    }

    const ParsedCommand list = ParseCommandLine({"/A", "1,3,12"});
    ASSERT_EQ(list.kind, ParsedCommand::Kind::PresetList) << list.error;
    EXPECT_THAT(list.presetList.presets, ElementsAre(1, 3, 12));
    EXPECT_EQ(list.presetList.noStopOnError, 1);
    EXPECT_EQ(list.presetList.suppressDeletion, 0);
    // Any order; other arguments are ignored, as the desktop program does.
    const ParsedCommand both = ParseCommandLine({"/D", "/A", "300", "ignored"});
    ASSERT_EQ(both.kind, ParsedCommand::Kind::PresetList) << both.error;
    EXPECT_THAT(both.presetList.presets, ElementsAre(44));
    EXPECT_EQ(both.presetList.suppressDeletion, 1);
    // Without a console command, dashes are arguments like any other: ignored.
    for (const std::vector<std::string>& desktop :
         {std::vector<std::string>{"/A", "1,3", "-x"}, {"-A", "/A", "1,3", "--yes"}}) {
        const ParsedCommand ignored = ParseCommandLine(desktop);
        ASSERT_EQ(ignored.kind, ParsedCommand::Kind::PresetList) << ignored.error;
        EXPECT_THAT(ignored.presetList.presets, ElementsAre(1, 3));
    }
    EXPECT_FALSE(HasConsoleCommand({"-A", "1", "--list", "-x"}));
    EXPECT_TRUE(HasConsoleCommand({"/A", "1", "--version"}));

    const ParsedCommand exported = ParseCommandLine({"--export-presets", "p.dat"});
    ASSERT_EQ(exported.kind, ParsedCommand::Kind::ExportPresets) << exported.error;
    EXPECT_EQ(exported.presetFile, "p.dat");
    const ParsedCommand imported = ParseCommandLine({"--yes", "--import-presets", "p.dat"});
    ASSERT_EQ(imported.kind, ParsedCommand::Kind::ImportPresets) << imported.error;
    EXPECT_EQ(imported.presetFile, "p.dat");
    EXPECT_TRUE(imported.assumeYes);
    EXPECT_FALSE(ParseCommandLine({"--import-presets", "p.dat"}).assumeYes);

    const std::vector<std::vector<std::string>> wrong = {
        {},
        {"/src", "/dst"},
        {"--compare", "/src"},
        {"--compare", "/a", "/b", "/c"},
        {"--compare", "/src", "/dst", "--exclude"},
        {"--compare", "/src", "/dst", "--exclude-ext", "."},
        {"--compare", "/src", "/dst", "--frobnicate"},
        {"--sync", "/src", "/dst", "--keep-versions"},
        {"--sync", "/src", "/dst", "--keep-versions", "-1"},
        {"--sync", "/src", "/dst", "--keep-versions", "36501"},
        {"--sync", "/src", "/dst", "--keep-versions", "7d"},
        {"--export-presets", "p.dat", "--keep-versions", "7"},
        {"--compare", "", "/dst"},
        {"--sync", "--merge", "/src", "/dst"},
        {"/D"},  // the desktop program
        {"/A"},
        {"/A", ""},
        {"--export-presets"},
        {"--export-presets", ""},
        {"--export-presets", "p.dat", "--yes"},
        {"--import-presets", "p.dat", "extra"},
        {"--import-presets", "p.dat", "--exclude", "x"},
        {"--import-presets", "p.dat", "--sync", "/s", "/d"},
        {"--export-presets", "a.dat", "--import-presets", "b.dat"},
    };
    for (const auto& arguments : wrong) {
        const ParsedCommand wrongParsed = ParseCommandLine(arguments);
        EXPECT_EQ(wrongParsed.kind, ParsedCommand::Kind::Error)
            << ::testing::PrintToString(arguments);
        EXPECT_FALSE(wrongParsed.error.empty());
    }
}

TEST(ConsoleUiTest, AnswersWithoutATerminalAndAsksOnOne) {
    ConsoleEventLoop loop;
    struct Row {
        int style;
        bool interactive;
        bool yes;
        std::string typed;
        int expected;
        std::string text = "text of the box";
    };
    const Row rows[] = {
        {kMbOk, false, false, "", kIdOk},
        {kMbYesNo, false, false, "", kIdNo},
        {kMbYesNo, false, true, "", kIdYes},
        {kMbAbortRetryIgnore, false, false, "", kIdIgnore},
        {kMbRetryCancel, false, false, "", kIdCancel},
        // After Ctrl-C, "really stop?" without a terminal stands as Yes.
        {kMbYesNo, false, false, "", kIdYes, kReallyStopQuestion},
        {kMbYesNo, true, false, "what\nY\n", kIdYes},
        {kMbAbortRetryIgnore, true, false, " r\n", kIdRetry},
        {kMbAbortRetryIgnore, true, false, "a\n", kIdAbort},
        {kMbRetryCancel, true, false, "", kIdCancel},  // the terminal closed
    };
    for (const Row& row : rows) {
        std::istringstream in(row.typed);
        std::ostringstream err;
        ConsoleUi ui(loop, in, err, ConsoleAnswers{row.interactive, row.yes, false});
        EXPECT_EQ(ui.DoMessageBox(row.text, row.style), row.expected)
            << row.style << " " << row.interactive << " " << row.typed;
        EXPECT_THAT(err.str(), ::testing::StartsWith(row.text + "\n"));
    }
}

using Outcome = test::ProcessOutcome;

// A time as the change record writes it: local, "YYYY-MM-DD hh:mm:ss".
std::string LocalTimeText(std::time_t seconds) {
    std::tm local{};
    localtime_r(&seconds, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    return text;
}
using test::RunMirova;

TEST(ConsoleEndToEndTest, ComparesTwoRealTreesAndReportsTheExitStatus) {
    test::TempDir dir;
    // A usage error starts nothing.
    const Outcome wrong = RunMirova(dir, {"--compare", dir / "src"});
    EXPECT_EQ(wrong.status, 2);
    EXPECT_THAT(wrong.err, HasSubstr("Usage:"));
    EXPECT_THAT(dir.readLog(), Not(HasSubstr("Start.")));

    dir.createFile("src/docs/a.txt", "same", 1700000000);
    dir.createFile("dst/docs/a.txt", "same", 1700000000);
    dir.createFile("src/docs/new.txt", "new", 1700000000);
    dir.createFile("dst/docs/old.txt", "old", 1700000000);
    dir.createFile("src/build/x.o", "object", 1700000000);

    const Outcome differs = RunMirova(dir, {"--compare", dir / "src", dir / "dst"});
    EXPECT_EQ(differs.status, 0) << differs.err;
    EXPECT_THAT(differs.err, HasSubstr("ﾀｰｹﾞｯﾄに 3 個の更新ﾌｧｲﾙ/ﾌｫﾙﾀﾞ、1 個の余剰ﾌｧｲﾙ、0 個"));
    const std::string log = dir.readLog();
    EXPECT_THAT(log, HasSubstr("  Compare Preset 0 Start.\n"));
    EXPECT_THAT(log, HasSubstr(": 余剰ファイル 1\n"));
    EXPECT_THAT(log, HasSubstr(": " + (dir / "dst") + "/docs/old.txt\n"));
    EXPECT_THAT(log, HasSubstr(": " + (dir / "dst") + "/build/x.o\n"));
    EXPECT_THAT(log, HasSubstr("  Compare Preset 0 Done.\n"));
    struct stat logFolder {};
    ASSERT_EQ(::stat(dir.logDir().c_str(), &logFolder), 0);
    EXPECT_EQ(logFolder.st_mode & 0777, 0700u);

    // Excluding what differs leaves equal trees.
    const Outcome equal = RunMirova(dir, {"--compare", dir / "src", dir / "dst", "--exclude",
                                          "/build", "--exclude-ext", "TXT"});
    EXPECT_EQ(equal.status, 0) << equal.err;
    EXPECT_THAT(equal.err, HasSubstr("ｿｰｽとﾀｰｹﾞｯﾄは完全に一致します。"));

    const Outcome missing = RunMirova(dir, {"--compare", dir / "nothing", dir / "dst"});
    EXPECT_EQ(missing.status, 1);
    EXPECT_THAT(missing.err, HasSubstr("ｿｰｽﾌｫﾙﾀﾞ " + (dir / "nothing") + " が存在しません。"));
}

TEST(ConsoleEndToEndTest, QuestionsWithoutATerminalCountAsNoUnlessYesIsGiven) {
    test::TempDir dir;
    dir.createFile("src/a.txt", "older", 1700000000);
    dir.createFile("dst/a.txt", "newer", 1700000100);

    const Outcome declined = RunMirova(dir, {"--compare", dir / "src", dir / "dst"});
    EXPECT_EQ(declined.status, 1);
    EXPECT_THAT(declined.err, HasSubstr("本当に同期させてよろしいですか？\n-> No"));
    EXPECT_THAT(declined.err, HasSubstr(dir.logDir() + "/ReverseList.txt\n"));
    EXPECT_THAT(dir.readLog(), HasSubstr(": Aborted !\n"));

    const Outcome accepted = RunMirova(dir, {"--compare", "--yes", dir / "src", dir / "dst"});
    EXPECT_EQ(accepted.status, 0) << accepted.err;
    EXPECT_THAT(dir.readLog(), HasSubstr("本当に同期させてよろしいですか？YES\n"));
}

TEST(ConsoleEndToEndTest, SyncMirrorsOnlyWhenConfirmedAndMergeGoesBothWays) {
    test::TempDir dir;
    dir.createFile("src/keep/a.txt", "a", 1700000000);
    dir.createFile("src/new.txt", "new", 1700000000);
    dir.createFolder("src/empty");
    dir.createFile("dst/extra/deep/x.txt", "x");
    dir.createFile("dst/keep/a.txt", "stale", 1600000000);

    // Without a terminal the confirmation counts as No: nothing changes.
    const Outcome declined = RunMirova(dir, {"--sync", dir / "src", dir / "dst"});
    EXPECT_EQ(declined.status, 1);
    EXPECT_EQ(dir.read("dst/keep/a.txt"), "stale");

    const Outcome suppressed =
        RunMirova(dir, {"--sync", "--yes", "--suppress-deletion", dir / "src", dir / "dst"});
    EXPECT_EQ(suppressed.status, 0) << suppressed.err;
    EXPECT_EQ(dir.read("dst/extra/deep/x.txt"), "x");
    EXPECT_EQ(dir.read("dst/keep/a.txt"), "a");

    const Outcome synced = RunMirova(dir, {"--sync", "--yes", dir / "src", dir / "dst"});
    EXPECT_EQ(synced.status, 0) << synced.err;
    EXPECT_THAT(synced.err, HasSubstr("ｱｯﾌﾟﾃﾞｰﾄ完了"));
    EXPECT_EQ(test::TreeDifferences(dir / "src", dir / "dst"), "");

    dir.createFile("dst/only-in-target.txt", "t", 1700000000);
    dir.createFile("src/new.txt", "newer", 1700000100);
    const Outcome merged =
        RunMirova(dir, {"--merge", "--no-stop-on-error", dir / "src", dir / "dst"});
    EXPECT_EQ(merged.status, 0) << merged.err;
    EXPECT_EQ(dir.read("src/only-in-target.txt"), "t");
    EXPECT_EQ(dir.read("dst/new.txt"), "newer");
    EXPECT_THAT(dir.readLog(), HasSubstr(": ﾏｰｼﾞ処理終了\n"));
}

// --list prints the change record's item lines: a compare's is the dry run of the sync.
TEST(ConsoleEndToEndTest, ListPrintsTheChangeRecordAndTheCompareForetellsTheSync) {
    test::TempDir dir;
    dir.createFile("src/a.txt", "a", 1700000000);
    dir.createFile("src/sub/b.txt", "b", 1700000000);
    dir.createFile("dst/old.txt", "o", 1700000000);
    const Outcome compare = RunMirova(dir, {"--compare", "--list", dir / "src", dir / "dst"});
    EXPECT_EQ(compare.status, 0) << compare.err;
    EXPECT_EQ(compare.out,
              "delete-file\ttarget\told.txt\t1\t" + LocalTimeText(1700000000) +
                  "\t-\t-\ncopy-new\ttarget\ta.txt\t-\t-\t1\t" + LocalTimeText(1700000000) +
                  "\ncopy-new\ttarget\tsub/b.txt\t-\t-\t1\t" + LocalTimeText(1700000000) +
                  "\ncreate-folder\ttarget\tsub\t-\t-\t0\t" +
                  compare.out.substr(compare.out.rfind('\t') + 1));
    EXPECT_THAT(compare.err, HasSubstr("Change record: " + dir.logDir() + "/Changes-"));

    const Outcome sync = RunMirova(dir, {"--sync", "--list", "--yes", dir / "src", dir / "dst"});
    EXPECT_EQ(sync.status, 0) << sync.err;
    EXPECT_EQ(sync.out, compare.out);
    EXPECT_EQ(test::TreeDifferences(dir / "src", dir / "dst"), "");
}

// The command-line list, "/A 1,3,12", run by the console front end.
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
    void SetPreset(int number, int mergeMode = 0, int useExclusions = 0) {
        test::SetTestPreset(table_, dir_, number, mergeMode, useExclusions);
    }
    void Store() { SaveSettings(table_, store_); }

    test::TempDir dir_;
    PresetTable table_;
    MemorySettingsStore store_;
};

TEST_F(ConsolePresetListTest, RunsTheListedPresetsMergingWhereSetAndKeepsTheLastAsCurrent) {
    dir_.createFile("s5/sub/a.txt", "a", 1700000000);
    dir_.createFile("d5/extra.txt", "x", 1700000000);
    dir_.createFile("s7/b.txt", "b", 1700000000);
    dir_.createFile("d7/keep.txt", "k", 1700000000);
    dir_.createFile("s9/only-source.txt", "s", 1700000000);
    dir_.createFile("d9/only-target.txt", "t", 1700000000);
    table_.presets[1].sourceFolder = dir_ / "s5";  // no target folder: passed over
    SetPreset(5);
    SetPreset(7);
    SetPreset(9, 1);
    table_.currentPreset = 2;
    table_.windowLeft = 99;
    Store();

    const ListResult result = RunList(store_, {2, 5, 0, 31, 9, 7});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(dir_.read("d5/sub/a.txt"), "a");
    EXPECT_EQ(dir_.read("d5/extra.txt"), "");  // synchronised: deleted
    EXPECT_EQ(dir_.read("d7/b.txt"), "b");
    // The merge preset merges, and the list goes on after it.
    EXPECT_EQ(dir_.read("s9/only-target.txt"), "t");
    EXPECT_EQ(dir_.read("d9/only-source.txt"), "s");
    const std::string log = dir_.readLog();
    EXPECT_THAT(log, HasSubstr(": OptionD=OFF OptionA=6 menbers=2,5,0,31,9,7\n"));
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

TEST_F(ConsolePresetListTest, ADeclinedQuestionFailsTheStatusButAMissingSourceStopsTheList) {
    // A source older than its target copy is always asked about; without a terminal: No.
    dir_.createFile("s1/a.txt", "older", 1700000000);
    dir_.createFile("d1/a.txt", "newer", 1700000100);
    dir_.createFile("s3/b.txt", "b", 1700000000);
    dir_.createFolder("d3");
    SetPreset(1);
    SetPreset(2);  // s2 does not exist
    SetPreset(3);
    table_.currentPreset = 5;
    Store();

    const ListResult result = RunList(store_, {1, 2, 3});
    EXPECT_EQ(result.status, 1);
    EXPECT_THAT(result.err, HasSubstr("本当に同期させてよろしいですか？\n-> No"));
    EXPECT_EQ(dir_.read("d1/a.txt"), "newer");
    EXPECT_THAT(result.err, HasSubstr("ｿｰｽﾌｫﾙﾀﾞ " + (dir_ / "s2") + " が存在しません。"));
    EXPECT_THAT(result.err, HasSubstr("stops at preset 2"));
    EXPECT_EQ(dir_.read("d3/b.txt"), "");
    // The table is saved all the same, as at any close of the program.
    EXPECT_EQ(Stored(store_).currentPreset, 1);
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

    const test::ScopedNoDisplay noDisplay;  // a display would run the list in the desktop program
    const test::ProcessOutcome outcome = test::RunMirova(dir, {"/A", "2,5"});
    EXPECT_EQ(outcome.status, 0) << outcome.err;
    EXPECT_EQ(test::TreeDifferences(dir / "src", dir / "dst"), "");
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
