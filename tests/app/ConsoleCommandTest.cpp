#include "app/ConsoleCommand.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <sstream>

#include "AppTesting.h"
#include "TempDir.h"
#include "TreeSnapshot.h"
#include "app/ConsoleUi.h"
#include "fileops/FileOperations.h"

namespace mirova {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

TEST(ConsoleCommandTest, ParsesTheCompareCommandAndItsOptions) {
    const ParsedCommand parsed =
        ParseCommandLine({"--compare", "/src", "/dst", "--exclude", "obj", "--exclude-ext", "tmp",
                          "--exclude", "/cache/", "--no-stop-on-error", "--yes"});
    ASSERT_EQ(parsed.kind, ParsedCommand::Kind::Run) << parsed.error;
    EXPECT_EQ(parsed.run.source, "/src");
    EXPECT_EQ(parsed.run.target, "/dst");
    EXPECT_THAT(parsed.run.excludeNames, ::testing::ElementsAre("obj", "/cache/"));
    EXPECT_THAT(parsed.run.excludeExtensions, ::testing::ElementsAre("tmp"));
    EXPECT_TRUE(parsed.run.noStopOnError);
    EXPECT_TRUE(parsed.run.assumeYes);

    // Folders that look like options are reachable after "--".
    const ParsedCommand dashed = ParseCommandLine({"--compare", "--", "-src", "/dst"});
    ASSERT_EQ(dashed.kind, ParsedCommand::Kind::Run) << dashed.error;
    EXPECT_EQ(dashed.run.source, "-src");
}

TEST(ConsoleCommandTest, RejectsWrongCommandLines) {
    const std::vector<std::vector<std::string>> wrong = {
        {},
        {"/src", "/dst"},
        {"--compare", "/src"},
        {"--compare", "/a", "/b", "/c"},
        {"--compare", "/src", "/dst", "--exclude"},
        {"--compare", "/src", "/dst", "--frobnicate"},
        {"--compare", "", "/dst"},
        {"--sync", "--merge", "/src", "/dst"},
    };
    for (const auto& arguments : wrong) {
        const ParsedCommand parsed = ParseCommandLine(arguments);
        EXPECT_EQ(parsed.kind, ParsedCommand::Kind::Error) << ::testing::PrintToString(arguments);
        EXPECT_FALSE(parsed.error.empty());
    }
    EXPECT_EQ(ParseCommandLine({"--help"}).kind, ParsedCommand::Kind::Help);

    const ParsedCommand sync = ParseCommandLine({"--sync", "/s", "/d", "--suppress-deletion"});
    ASSERT_EQ(sync.kind, ParsedCommand::Kind::Run) << sync.error;
    EXPECT_EQ(sync.run.mode, RunMode::Sync);
    EXPECT_TRUE(sync.run.suppressDeletion);
    EXPECT_EQ(ParseCommandLine({"--merge", "/s", "/d"}).run.mode, RunMode::Merge);
}

TEST(ConsoleCommandTest, ParsesThePresetListAndThePresetFileCommands) {
    const ParsedCommand list = ParseCommandLine({"/A", "1,3,12"});
    ASSERT_EQ(list.kind, ParsedCommand::Kind::PresetList) << list.error;
    EXPECT_THAT(list.presetList.presets, ::testing::ElementsAre(1, 3, 12));
    EXPECT_EQ(list.presetList.noStopOnError, 1);
    EXPECT_EQ(list.presetList.suppressDeletion, 0);

    // Any order; other arguments are ignored, as the desktop program does.
    const ParsedCommand both = ParseCommandLine({"/D", "/A", "300", "ignored"});
    ASSERT_EQ(both.kind, ParsedCommand::Kind::PresetList) << both.error;
    EXPECT_THAT(both.presetList.presets, ::testing::ElementsAre(44));
    EXPECT_EQ(both.presetList.suppressDeletion, 1);

    const ParsedCommand exported = ParseCommandLine({"--export-presets", "p.dat"});
    ASSERT_EQ(exported.kind, ParsedCommand::Kind::ExportPresets) << exported.error;
    EXPECT_EQ(exported.presetFile, "p.dat");
    const ParsedCommand imported = ParseCommandLine({"--yes", "--import-presets", "p.dat"});
    ASSERT_EQ(imported.kind, ParsedCommand::Kind::ImportPresets) << imported.error;
    EXPECT_EQ(imported.presetFile, "p.dat");
    EXPECT_TRUE(imported.assumeYes);
    EXPECT_FALSE(ParseCommandLine({"--import-presets", "p.dat"}).assumeYes);

    const std::vector<std::vector<std::string>> wrong = {
        {"/D"},  // the desktop program
        {"/A"},
        {"/A", ""},
        {"/A", "1", "--yes"},  // the two forms do not mix
        {"--export-presets"},
        {"--export-presets", ""},
        {"--export-presets", "p.dat", "--yes"},
        {"--import-presets", "p.dat", "extra"},
        {"--import-presets", "p.dat", "--exclude", "x"},
        {"--import-presets", "p.dat", "--sync", "/s", "/d"},
        {"--export-presets", "a.dat", "--import-presets", "b.dat"},
    };
    for (const auto& arguments : wrong) {
        const ParsedCommand parsed = ParseCommandLine(arguments);
        EXPECT_EQ(parsed.kind, ParsedCommand::Kind::Error) << ::testing::PrintToString(arguments);
        EXPECT_FALSE(parsed.error.empty());
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
using test::RunMirova;

TEST(ConsoleEndToEndTest, ComparesTwoRealTreesAndReportsTheExitStatus) {
    test::TempDir dir;
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

TEST(ConsoleEndToEndTest, UsageErrorsAndHelp) {
    test::TempDir dir;
    const Outcome wrong = RunMirova(dir, {"--compare", dir / "src"});
    EXPECT_EQ(wrong.status, 2);
    EXPECT_THAT(wrong.err, HasSubstr("Usage:"));
    EXPECT_THAT(dir.readLog(), Not(HasSubstr("Start.")));

    const Outcome help = RunMirova(dir, {"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_THAT(help.out, HasSubstr("mirova --compare SOURCE TARGET"));
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
    EXPECT_EQ(
        test::DescribeDifferences(test::SnapshotTree(dir / "src"), test::SnapshotTree(dir / "dst")),
        "");

    dir.createFile("dst/only-in-target.txt", "t", 1700000000);
    dir.createFile("src/new.txt", "newer", 1700000100);
    const Outcome merged =
        RunMirova(dir, {"--merge", "--no-stop-on-error", dir / "src", dir / "dst"});
    EXPECT_EQ(merged.status, 0) << merged.err;
    EXPECT_EQ(dir.read("src/only-in-target.txt"), "t");
    EXPECT_EQ(dir.read("dst/new.txt"), "newer");
    EXPECT_THAT(dir.readLog(), HasSubstr(": ﾏｰｼﾞ処理終了\n"));
}

}  // namespace
}  // namespace mirova
