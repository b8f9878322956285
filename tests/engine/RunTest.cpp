// Runs on real trees whose changes go to a recording executor: what the run
// asks, tells and logs.
#include "engine/Run.h"

#include "RunFixture.h"
#include "platform/FileSystem.h"
#include "settings/ExclusionList.h"

namespace mirova {
namespace {

using test::kStamp;
using ::testing::ElementsAre;
using ::testing::EndsWith;
using ::testing::HasSubstr;
using ::testing::Not;

using RunTest = test::RunFixture;

TEST_F(RunTest, IdenticalTreesEndWithTheMatchMessageAndNoReport) {
    Make(
        "src/a.txt=hello@1700000000|dst/a.txt=hello@1700000000|src/sub/|dst/"
        "sub/");
    // A second start while the run is in progress is ignored: the log shows no
    // "Preset 8".
    run_.StartRun(RunKind::Compare, Preset(src(), dst()), nullptr);
    run_.StartRun(RunKind::Compare, Preset(dst(), src(), 7), nullptr);
    ui_.PumpUntil([&] { return !host_.outcomes.empty(); });
    EXPECT_THAT(host_.outcomes, ElementsAre(RunOutcome::Identical));
    EXPECT_FALSE(run_.running());
    EXPECT_EQ(ui_.statusWindowsOpen, 0);
    EXPECT_THAT(BoxTexts(), ElementsAre("ｿｰｽとﾀｰｹﾞｯﾄは完全に一致します。"));
    EXPECT_THAT(ui_.statusTexts, ElementsAre("ﾌｧｲﾙﾘｽﾄを作成中", "ﾌｧｲﾙﾘｽﾄを編集中"));
    EXPECT_EQ(Log(), Dated("Compare Preset 1 Start.") +
                         Stamped({"OptionD=OFF OptionA=0 ", RecordLine(), "CopyTotalDataSize = 0KB",
                                  "ｿｰｽとﾀｰｹﾞｯﾄは完全に一致します。"}) +
                         Dated("Compare Preset 1 Done."));
}

TEST_F(RunTest, CompareRunReportsListsAndDumpsTheDifferences) {
    Make(
        "src/same.txt=x@1700000000|dst/same.txt=x@1700000000|src/changed.txt=new "
        "content@1700000100"
        "|dst/changed.txt=old@1700000000|src/emptynew/|dst/extra.txt=e@1700000000"
        "|dst/gone/inner.txt=i@1700000000");
    dir_.createFile("src/new.bin", std::string(3000, 'n'), 1700000000);
    // A stored target folder may end with a separator: the listed paths then show
    // it doubled.
    Run(RunKind::Compare, Preset(src(), dst() + "/", 4));
    EXPECT_THAT(host_.outcomes, ElementsAre(RunOutcome::Reported));
    const std::string report =
        "ﾀｰｹﾞｯﾄに 3 個の更新ﾌｧｲﾙ/ﾌｫﾙﾀﾞ、3 個の余剰ﾌｧｲﾙ、1 "
        "個の余剰ﾌｫﾙﾀﾞが有ります。\n結果はリストとしてログに記憶されます。";
    EXPECT_THAT(BoxTexts(), ElementsAre(report));
    const std::string target = dst() + "/";
    EXPECT_EQ(Log(),
              Dated("Compare Preset 5 Start.") +
                  Stamped({"OptionD=OFF OptionA=0 ", RecordLine(), "CopyTotalDataSize = 2KB",
                           report, "余剰ファイル 3", target + "/changed.txt", target + "/extra.txt",
                           target + "/gone/inner.txt", "余剰フォルダ 1", target + "/gone/",
                           "更新ファイル 2", target + "/changed.txt", target + "/new.bin"}) +
                  Dated("Compare Preset 5 Done."));
    EXPECT_EQ(dir_.read("log/SrcList.txt"), "changed.txt\r\nemptynew\r\nnew.bin\r\nsame.txt\r\n");
    EXPECT_EQ(dir_.read("log/TarList.txt"),
              "changed.txt\r\nextra.txt\r\ngone\r\ngone/inner.txt\r\nsame.txt\r\n");
    EXPECT_EQ(executor_.calls, 0);
}

TEST_F(RunTest, OlderSourceIsListedOpenedAndAskedEvenWithoutStops) {
    Make(
        "log/ReverseList.txt=from an earlier "
        "run|src/old.txt=a@1700000000|dst/old.txt=b@1700000100");
    state_.noStopOnError = 1;
    ui_.boxes.Answer(kIdNo);
    Run(RunKind::Compare);
    EXPECT_THAT(host_.outcomes, ElementsAre(RunOutcome::Declined));
    const std::string question =
        "ｿｰｽがﾀｰｹﾞｯﾄよりも古いようです。\n本当に同期させてよろしいですか？";
    EXPECT_THAT(BoxTexts(), ElementsAre(question));
    EXPECT_THAT(ui_.opened, ElementsAre(dir_.logDir() + "/ReverseList.txt"));
    EXPECT_EQ(dir_.read("log/ReverseList.txt"), "old.txt\r\n");
    EXPECT_THAT(Log(),
                EndsWith(Stamped({question, "Aborted !"}) + Dated("Compare Preset 1 Done.")));
    EXPECT_THAT(Log(), Not(HasSubstr("CopyTotalDataSize")));
    state_.noStopOnError = 0;  // accepted, the run goes on to the report
    ui_.boxes.Answer(kIdYes);
    Run(RunKind::Compare);
    EXPECT_EQ(host_.outcomes.back(), RunOutcome::Reported);
    EXPECT_THAT(Log(), HasSubstr("本当に同期させてよろしいですか？YES\n"));
}

TEST_F(RunTest, MissingFoldersEndTheRunOrAreCreatedWhenAsked) {
    dir_.createFile("src/a.txt", "a");
    dir_.createFile("blocker", "a file where a folder should be");
    state_.noStopOnError = 1;  // the missing-folder messages are shown regardless
    Run(RunKind::Compare, Preset(dir_ / "nosrc", dst()));
    Run(RunKind::Compare, Preset(src(), dir_ / "nodst"));
    EXPECT_THAT(BoxTexts(), ElementsAre("ｿｰｽﾌｫﾙﾀﾞ " + (dir_ / "nosrc") + " が存在しません。",
                                        "ﾀｰｹﾞｯﾄﾌｫﾙﾀﾞ " + (dir_ / "nodst") + " が存在しません。"));
    EXPECT_THAT(Log(), HasSubstr(kStamp + std::string("ﾀｰｹﾞｯﾄﾌｫﾙﾀﾞ ")));
    EXPECT_THAT(Log(), Not(HasSubstr("Done.")));
    // A synchronisation asks to create a missing target; without stops the answer
    // is Yes.
    state_.noStopOnError = 0;
    ui_.boxes.Answer(kIdNo);
    Run(RunKind::Synchronise, Preset(src(), dir_ / "new/deep"));
    EXPECT_FALSE(platform::Exists(dir_ / "new"));
    EXPECT_THAT(Log(), Not(HasSubstr("作成しますか")));
    state_.noStopOnError = 1;
    Run(RunKind::Synchronise, Preset(src(), dir_ / "new/deep"));
    EXPECT_TRUE(platform::Exists(dir_ / "new/deep"));
    EXPECT_THAT(Log(), HasSubstr(Stamped("ﾀｰｹﾞｯﾄﾌｫﾙﾀﾞ " + (dir_ / "new/deep") +
                                         " は存在しません。作成しますか？YES")));
    EXPECT_THAT(executor_.copied, ElementsAre("a.txt"));
    // One that cannot be made is logged, and moves a command-line list on.
    state_.autoRunCount = 1;
    state_.autoRunPresets[0] = 2;
    Run(RunKind::Synchronise, Preset(src(), dir_ / "blocker/dst"));
    EXPECT_THAT(Log(), HasSubstr(Stamped(".\\MirovaDlg:723 - " + (dir_ / "blocker/dst") +
                                         " が作成できません。")));
    EXPECT_EQ(BoxTexts().size(), 3u);
    EXPECT_THAT(host_.selected, ElementsAre(1));  // preset 2 is empty: passed over
    EXPECT_EQ(host_.dialogResult, 1);
    EXPECT_THAT(host_.outcomes,
                ElementsAre(RunOutcome::MissingFolder, RunOutcome::MissingFolder,
                            RunOutcome::Declined, RunOutcome::Reported, RunOutcome::MissingFolder));
}

TEST_F(RunTest, SynchronisationCompletesOnlyWhenCarriedOutWholly) {
    Make("src/a.txt=a|dst/z.txt=z");
    const std::string done = "Mirova Preset 1 Done.\n" + Stamped("ｱｯﾌﾟﾃﾞｰﾄ完了");
    state_.noStopOnError = 1;  // no question, and the completion is only logged
    Run(RunKind::Synchronise);
    EXPECT_THAT(Log(), EndsWith(done));
    EXPECT_THAT(Log(), Not(HasSubstr("ｱｯﾌﾟﾃﾞｰﾄを実行しますか？")));
    state_.suppressDeletion = 1;  // and a failed execution: not complete
    executor_.result = false;
    Run(RunKind::Synchronise);
    EXPECT_THAT(Log(), HasSubstr("OptionD=ON OptionA=0 \n"));
    EXPECT_THAT(Log(), EndsWith("Mirova Preset 1 Done.\n"));
    EXPECT_TRUE(BoxTexts().empty());
    state_.noStopOnError = 0;
    state_.suppressDeletion = 0;
    executor_.result = true;
    ui_.boxes.Answer(kIdNo);
    Run(RunKind::Synchronise);
    EXPECT_THAT(Log(), HasSubstr("ｱｯﾌﾟﾃﾞｰﾄを実行しますか？NO\n" +
                                 Stamped("アップデートはキャンセルされました。")));
    ui_.boxes.Answer(kIdYes);
    Run(RunKind::Synchronise);
    EXPECT_EQ(executor_.calls, 3);
    EXPECT_THAT(executor_.copied, ElementsAre("a.txt"));
    EXPECT_THAT(executor_.deletedFiles, ElementsAre("z.txt"));
    const auto asked = HasSubstr("ｱｯﾌﾟﾃﾞｰﾄを実行しますか？");
    EXPECT_THAT(BoxTexts(), ElementsAre(asked, asked, "ｱｯﾌﾟﾃﾞｰﾄ完了"));
    EXPECT_THAT(Log(), EndsWith(done));
    EXPECT_THAT(host_.outcomes, ElementsAre(RunOutcome::Reported, RunOutcome::Incomplete,
                                            RunOutcome::Declined, RunOutcome::Reported));
}

TEST_F(RunTest, FailedScansAndExclusionsOnlyWhenThePresetSwitchIsOn) {
    // A root that exists but is no folder cannot be listed: the scan asks
    // (Ignore), then the run names the folder.
    dir_.createFile("file-root", "x");
    ui_.boxes.Answer(kIdIgnore);
    Run(RunKind::Compare, Preset(src(), dir_ / "file-root"));
    ASSERT_EQ(BoxTexts().size(), 2u);
    EXPECT_EQ(BoxTexts()[1], ".\\MirovaDlg:836 - " + (dir_ / "file-root") + " を開けません。");
    // A source list that overflows fails the source scan.
    Make("src/1|src/2|src/3.tmp|dst/1|dst/2");
    run_.SetFileListCapacity(2);
    state_.noStopOnError = 1;
    Run(RunKind::Compare);
    EXPECT_THAT(Log(), HasSubstr(Stamped({"ﾌｧｲﾙﾘｽﾄがｵｰﾊﾞｰﾌﾛｰしました",
                                          ".\\MirovaDlg:819 - " + src() + " を開けません。"})));
    EXPECT_THAT(Log(), Not(HasSubstr("Done.")));
    EXPECT_EQ(BoxTexts().size(), 2u);
    ExclusionList exclusions;
    exclusions.AddExtension("tmp");
    RunPreset preset = Preset(src(), dst());
    preset.useExclusions = 1;
    Run(RunKind::Compare, preset, &exclusions);
    preset.useExclusions = 0;
    Run(RunKind::Compare, preset, &exclusions);
    EXPECT_THAT(host_.outcomes, ElementsAre(RunOutcome::ScanFailed, RunOutcome::ScanFailed,
                                            RunOutcome::Identical, RunOutcome::ScanFailed));
}

TEST_F(RunTest, CommandLineListRunsPresetsInTurnAndClosesTheDialog) {
    state_.autoRunCount = 4;
    const std::int8_t list[] = {3, 0, 31, 12};
    std::copy(std::begin(list), std::end(list), state_.autoRunPresets);
    host_.presets[2] = Preset(src(), "", 2);  // preset 3: empty target, passed over
    host_.presets[11] = Preset(src(), dst(), 11);
    run_.ContinueAutoRun();
    EXPECT_THAT(host_.selected, ElementsAre(2, 11));
    EXPECT_EQ(host_.okCalls, 1);
    EXPECT_EQ(host_.dialogResult, -1);
    EXPECT_THAT(Log(), HasSubstr("Preset 0: no such preset, skipped.\n"));
    EXPECT_THAT(Log(), HasSubstr("Preset 31: no such preset, skipped.\n"));
    // The host starts the run as the dialog's OK would; its end moves the list
    // on.
    state_.noStopOnError = 1;
    Run(RunKind::Synchronise, host_.presets[11]);
    EXPECT_THAT(Log(), HasSubstr("OptionD=OFF OptionA=4 menbers=3,0,31,12\n"));
    EXPECT_THAT(Log(), HasSubstr("Mirova Preset 12 Done.\n"));
    EXPECT_THAT(Log(), Not(HasSubstr("ｱｯﾌﾟﾃﾞｰﾄ完了")));
    EXPECT_EQ(host_.dialogResult, 1);
}

}  // namespace
}  // namespace mirova
