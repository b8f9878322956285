#include "engine/Run.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <deque>
#include <functional>
#include <map>

#include "RunFixture.h"
#include "platform/FileSystem.h"
#include "settings/ExclusionList.h"

namespace mirova {
namespace {

using test::kStamp;
using test::RecordingExecutor;
using test::TestHost;
using test::TestUi;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;

using RunTest = test::RunFixture;

TEST_F(RunTest, IdenticalTreesEndWithTheMatchMessageAndNoReport) {
    dir_.createFile("src/a.txt", "hello", 1700000000);
    dir_.createFile("dst/a.txt", "hello", 1700000000);
    dir_.createFolder("src/sub");
    dir_.createFolder("dst/sub");

    Run(RunKind::Compare);

    EXPECT_THAT(host_.outcomes, ElementsAre(RunOutcome::Identical));
    EXPECT_THAT(BoxTexts(), ElementsAre("ｿｰｽとﾀｰｹﾞｯﾄは完全に一致します。"));
    EXPECT_THAT(ui_.statusTexts, ElementsAre("ﾌｧｲﾙﾘｽﾄを作成中", "ﾌｧｲﾙﾘｽﾄを編集中"));
    EXPECT_EQ(Log(), std::string("2026年12月6日 9:5:3  Compare Preset 1 Start.\n") + kStamp +
                         "OptionD=OFF OptionA=0 \n" + kStamp + "CopyTotalDataSize = 0KB\n" +
                         kStamp + "ｿｰｽとﾀｰｹﾞｯﾄは完全に一致します。\n" +
                         "2026年12月6日 9:5:3  Compare Preset 1 Done.\n");
}

TEST_F(RunTest, SecondStartDuringARunIsIgnored) {
    dir_.createFile("src/a.txt", "a", 1700000000);
    dir_.createFile("dst/a.txt", "a", 1700000000);
    const RunPreset other = Preset(dir_ / "dst", dir_ / "src", 7);
    run_.StartRun(RunKind::Compare, Preset(dir_ / "src", dir_ / "dst"), nullptr);
    run_.StartRun(RunKind::Compare, other, nullptr);
    ui_.PumpUntil([&] { return !host_.outcomes.empty(); });

    EXPECT_THAT(host_.outcomes, ElementsAre(RunOutcome::Identical));
    EXPECT_THAT(Log(), Not(HasSubstr("Preset 8")));
}

TEST_F(RunTest, CompareRunReportsListsAndDumpsTheDifferences) {
    dir_.createFile("src/same.txt", "x", 1700000000);
    dir_.createFile("dst/same.txt", "x", 1700000000);
    dir_.createFile("src/changed.txt", "new content", 1700000100);
    dir_.createFile("dst/changed.txt", "old", 1700000000);
    dir_.createFile("src/new.bin", std::string(3000, 'n'), 1700000000);
    dir_.createFolder("src/emptynew");
    dir_.createFile("dst/extra.txt", "e", 1700000000);
    dir_.createFile("dst/gone/inner.txt", "i", 1700000000);
    // A stored target folder may end with a separator: the listed paths then show it doubled.
    const RunPreset preset = Preset(dir_ / "src", dir_ / "dst/", 4);

    Run(RunKind::Compare, preset);

    EXPECT_THAT(host_.outcomes, ElementsAre(RunOutcome::Reported));
    const std::string report =
        "ﾀｰｹﾞｯﾄに 3 個の更新ﾌｧｲﾙ/ﾌｫﾙﾀﾞ、3 個の余剰ﾌｧｲﾙ、1 "
        "個の余剰ﾌｫﾙﾀﾞが有ります。\n結果はリストとしてログに記憶されます。";
    EXPECT_THAT(BoxTexts(), ElementsAre(report));
    const std::string target = dir_ / "dst/";
    const std::string expected =
        std::string("2026年12月6日 9:5:3  Compare Preset 5 Start.\n") + kStamp +
        "OptionD=OFF OptionA=0 \n" + kStamp + "CopyTotalDataSize = 2KB\n" + kStamp + report + "\n" +
        kStamp + "余剰ファイル 3\n" + kStamp + target + "/changed.txt\n" + kStamp + target +
        "/extra.txt\n" + kStamp + target + "/gone/inner.txt\n" + kStamp + "余剰フォルダ 1\n" +
        kStamp + target + "/gone/\n" + kStamp + "更新ファイル 2\n" + kStamp + target +
        "/changed.txt\n" + kStamp + target + "/new.bin\n" +
        "2026年12月6日 9:5:3  Compare Preset 5 Done.\n";
    EXPECT_EQ(Log(), expected);
    EXPECT_EQ(dir_.read("log/SrcList.txt"), "changed.txt\r\nemptynew\r\nnew.bin\r\nsame.txt\r\n");
    EXPECT_EQ(dir_.read("log/TarList.txt"),
              "changed.txt\r\nextra.txt\r\ngone\r\ngone/inner.txt\r\nsame.txt\r\n");
    EXPECT_EQ(executor_.calls, 0);
}

TEST_F(RunTest, OlderSourceIsListedOpenedAndAskedEvenWithoutStops) {
    dir_.createFile("log/ReverseList.txt", "left from an earlier run\n");
    dir_.createFile("src/old.txt", "a", 1700000000);
    dir_.createFile("dst/old.txt", "b", 1700000100);
    state_.noStopOnError = 1;
    ui_.boxes.Answer(kIdNo);

    Run(RunKind::Compare);

    EXPECT_THAT(host_.outcomes, ElementsAre(RunOutcome::Declined));
    const std::string question =
        "ｿｰｽがﾀｰｹﾞｯﾄよりも古いようです。\n本当に同期させてよろしいですか？";
    EXPECT_THAT(BoxTexts(), ElementsAre(question));
    EXPECT_THAT(ui_.opened, ElementsAre(dir_.logDir() + "/ReverseList.txt"));
    EXPECT_EQ(dir_.read("log/ReverseList.txt"), "old.txt\n");
    EXPECT_THAT(Log(), HasSubstr(kStamp + question + "\n" + kStamp + "Aborted !\n" +
                                 "2026年12月6日 9:5:3  Compare Preset 1 Done.\n"));
    EXPECT_THAT(Log(), Not(HasSubstr("CopyTotalDataSize")));
}

TEST_F(RunTest, OlderSourceAcceptedGoesOnToTheReport) {
    dir_.createFile("src/old.txt", "a", 1700000000);
    dir_.createFile("dst/old.txt", "b", 1700000100);
    ui_.boxes.Answer(kIdYes);

    Run(RunKind::Compare);

    EXPECT_THAT(host_.outcomes, ElementsAre(RunOutcome::Reported));
    EXPECT_THAT(Log(), HasSubstr("本当に同期させてよろしいですか？YES\n"));
    EXPECT_THAT(Log(), HasSubstr("ﾀｰｹﾞｯﾄに 1 個の更新ﾌｧｲﾙ/ﾌｫﾙﾀﾞ、1 個の余剰ﾌｧｲﾙ、0 個"));
}

TEST_F(RunTest, MissingFoldersEndTheRunWithoutClosingLine) {
    state_.noStopOnError = 1;  // the missing-folder messages are shown regardless
    Run(RunKind::Compare, Preset(dir_ / "nosrc", dir_ / "dst"));
    Run(RunKind::Compare, Preset(dir_ / "src", dir_ / "nodst"));

    EXPECT_THAT(host_.outcomes, ElementsAre(RunOutcome::MissingFolder, RunOutcome::MissingFolder));
    EXPECT_THAT(BoxTexts(), ElementsAre("ｿｰｽﾌｫﾙﾀﾞ " + (dir_ / "nosrc") + " が存在しません。",
                                        "ﾀｰｹﾞｯﾄﾌｫﾙﾀﾞ " + (dir_ / "nodst") + " が存在しません。"));
    EXPECT_THAT(Log(), HasSubstr(kStamp + std::string("ﾀｰｹﾞｯﾄﾌｫﾙﾀﾞ ")));
    EXPECT_THAT(Log(), Not(HasSubstr("Done.")));
    EXPECT_EQ(ui_.statusWindowsOpen, 0);
}

TEST_F(RunTest, SynchronisationOffersToCreateAMissingTarget) {
    dir_.createFile("src/a.txt", "a");
    const std::string question =
        "ﾀｰｹﾞｯﾄﾌｫﾙﾀﾞ " + (dir_ / "new/deep") + " は存在しません。作成しますか？";

    ui_.boxes.Answer(kIdNo);
    Run(RunKind::Synchronise, Preset(dir_ / "src", dir_ / "new/deep"));
    EXPECT_FALSE(platform::Exists(dir_ / "new"));
    EXPECT_THAT(Log(), Not(HasSubstr("作成しますか")));

    // Without stops the question is answered Yes in the log, and the run goes on.
    state_.noStopOnError = 1;
    Run(RunKind::Synchronise, Preset(dir_ / "src", dir_ / "new/deep"));
    EXPECT_TRUE(platform::Exists(dir_ / "new/deep"));
    EXPECT_THAT(Log(), HasSubstr(kStamp + question + "YES\n"));
    EXPECT_THAT(executor_.copied, ElementsAre("a.txt"));
    EXPECT_THAT(host_.outcomes, ElementsAre(RunOutcome::Declined, RunOutcome::Reported));
}

TEST_F(RunTest, TargetThatCannotBeCreatedIsReportedAndMovesTheListOn) {
    dir_.createFile("blocker", "a file where a folder should be");
    state_.noStopOnError = 1;
    state_.autoRunCount = 1;
    state_.autoRunPresets[0] = 2;
    state_.autoRunNext = 0;

    Run(RunKind::Synchronise, Preset(dir_ / "src", dir_ / "blocker/dst"));

    EXPECT_THAT(Log(), HasSubstr(kStamp + std::string(".\\MirovaDlg:723 - ") +
                                 (dir_ / "blocker/dst") + " が作成できません。\n"));
    EXPECT_TRUE(ui_.boxes.requests().empty());
    EXPECT_THAT(host_.selected, ElementsAre(1));  // preset 2 is empty: passed over
    EXPECT_EQ(host_.dialogResult, 1);
}

TEST_F(RunTest, ConfirmedSynchronisationCarriesOutAndCompletes) {
    dir_.createFile("src/a.txt", "a");
    dir_.createFile("dst/z.txt", "z");
    ui_.boxes.Answer(kIdYes);

    Run(RunKind::Synchronise);

    EXPECT_EQ(executor_.calls, 1);
    EXPECT_THAT(executor_.copied, ElementsAre("a.txt"));
    EXPECT_THAT(executor_.deletedFiles, ElementsAre("z.txt"));
    const auto texts = BoxTexts();
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_THAT(texts[0], HasSubstr("ｱｯﾌﾟﾃﾞｰﾄを実行しますか？"));
    EXPECT_EQ(texts[1], "ｱｯﾌﾟﾃﾞｰﾄ完了");
    EXPECT_THAT(Log(), HasSubstr("ｱｯﾌﾟﾃﾞｰﾄを実行しますか？YES\n"));
    EXPECT_THAT(Log(),
                HasSubstr("Mirova Preset 1 Done.\n" + std::string(kStamp) + "ｱｯﾌﾟﾃﾞｰﾄ完了\n"));
    EXPECT_THAT(Log(), HasSubstr("OptionD=OFF"));
}

TEST_F(RunTest, DeclinedOrFailedSynchronisationHasNoCompletionText) {
    dir_.createFile("src/a.txt", "a");
    ui_.boxes.Answer(kIdNo);
    Run(RunKind::Synchronise);
    EXPECT_EQ(executor_.calls, 0);
    EXPECT_THAT(Log(), HasSubstr("ｱｯﾌﾟﾃﾞｰﾄを実行しますか？NO\n" + std::string(kStamp) +
                                 "アップデートはキャンセルされました。\n"));

    // Without stops the question is neither shown nor logged; a failed execution clears the
    // completion.
    state_.noStopOnError = 1;
    state_.suppressDeletion = 1;
    executor_.result = false;
    Run(RunKind::Synchronise);
    EXPECT_EQ(executor_.calls, 1);
    EXPECT_THAT(Log(), HasSubstr("OptionD=ON OptionA=0 \n"));
    EXPECT_THAT(Log(), Not(HasSubstr("ｱｯﾌﾟﾃﾞｰﾄ完了")));
    EXPECT_EQ(BoxTexts().size(), 1u);
    EXPECT_THAT(host_.outcomes, ElementsAre(RunOutcome::Declined, RunOutcome::Incomplete));
}

TEST_F(RunTest, CompletionTextIsLoggedButNotShownWithoutStops) {
    dir_.createFile("src/a.txt", "a");
    state_.noStopOnError = 1;
    Run(RunKind::Synchronise);
    EXPECT_TRUE(BoxTexts().empty());
    EXPECT_THAT(Log(), HasSubstr(kStamp + std::string("ｱｯﾌﾟﾃﾞｰﾄ完了\n")));
}

TEST_F(RunTest, FailedScansNameTheirFolderAndEndTheRun) {
    // A root that exists but is no folder cannot be listed.
    dir_.createFile("file-root", "x");
    Run(RunKind::Compare, Preset(dir_ / "src", dir_ / "file-root"));
    EXPECT_THAT(BoxTexts(),
                ElementsAre(".\\MirovaDlg:836 - " + (dir_ / "file-root") + " を開けません。"));

    // A source list that overflows fails the source scan.
    dir_.createFile("src/1", "");
    dir_.createFile("src/2", "");
    dir_.createFile("src/3", "");
    run_.SetFileListCapacity(2);
    state_.noStopOnError = 1;
    Run(RunKind::Compare);
    EXPECT_EQ(BoxTexts().size(), 1u);
    EXPECT_THAT(Log(), HasSubstr(kStamp + std::string("ﾌｧｲﾙﾘｽﾄがｵｰﾊﾞｰﾌﾛｰしました\n") + kStamp +
                                 ".\\MirovaDlg:819 - " + (dir_ / "src") + " を開けません。\n"));
    EXPECT_THAT(Log(), Not(HasSubstr("Done.")));
    EXPECT_THAT(host_.outcomes, ElementsAre(RunOutcome::ScanFailed, RunOutcome::ScanFailed));
}

TEST_F(RunTest, ExclusionsApplyOnlyWhenThePresetSwitchIsOn) {
    dir_.createFile("src/keep.txt", "k");
    dir_.createFile("src/skip.tmp", "s");
    dir_.createFile("dst/keep.txt", "k");
    ExclusionList exclusions;
    exclusions.AddExtension("tmp");

    RunPreset preset = Preset(dir_ / "src", dir_ / "dst");
    preset.useExclusions = 1;
    Run(RunKind::Compare, preset, &exclusions);
    preset.useExclusions = 0;
    Run(RunKind::Compare, preset, &exclusions);

    EXPECT_THAT(host_.outcomes, ElementsAre(RunOutcome::Identical, RunOutcome::Reported));
}

TEST_F(RunTest, CommandLineListRunsPresetsInTurnAndClosesTheDialog) {
    state_.autoRunCount = 4;
    const std::int8_t list[] = {3, 0, 31, 12};
    std::copy(std::begin(list), std::end(list), state_.autoRunPresets);
    host_.presets[2] = Preset(dir_ / "src", "", 2);  // preset 3: empty target, passed over
    host_.presets[11] = Preset(dir_ / "src", dir_ / "dst", 11);

    run_.ContinueAutoRun();
    EXPECT_THAT(host_.selected, ElementsAre(2, 11));
    EXPECT_EQ(host_.okCalls, 1);
    EXPECT_EQ(host_.dialogResult, -1);
    EXPECT_THAT(Log(), HasSubstr("Preset 0: no such preset, skipped.\n"));
    EXPECT_THAT(Log(), HasSubstr("Preset 31: no such preset, skipped.\n"));

    // The host starts the run as the dialog's OK would; its end moves the list on.
    state_.noStopOnError = 1;
    Run(RunKind::Synchronise, host_.presets[11]);
    EXPECT_THAT(Log(), HasSubstr("OptionD=OFF OptionA=4 menbers=3,0,31,12\n"));
    EXPECT_THAT(Log(), HasSubstr("Mirova Preset 12 Done.\n"));
    EXPECT_THAT(Log(), Not(HasSubstr("ｱｯﾌﾟﾃﾞｰﾄ完了")));
    EXPECT_EQ(host_.dialogResult, 1);
}

}  // namespace
}  // namespace mirova
