// The runs that must not destroy what they were not asked to change: overlapping folders and
// mass deletions, asked about where a person answers and refused where nobody does.
#include <sys/stat.h>

#include <string>

#include "RunFixture.h"
#include "platform/FileSystem.h"

namespace mirova {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;

class SafetyRunTest : public test::RealRunFixture {
protected:
    // n files "dst/fNN.txt", the first `kept` of them also in the source.
    void MakeTarget(int n, int kept) const {
        for (int i = 0; i < n; ++i) {
            const std::string name = "f" + std::to_string(100 + i) + ".txt";
            dir_.createFile("dst/" + name, "x", 1700000000);
            if (i < kept) {
                dir_.createFile("src/" + name, "x", 1700000000);
            }
        }
    }
    int TargetFiles() const { return static_cast<int>(test::SnapshotTree(dst()).size()); }
    static std::string Brake(const std::string& target, int files, int deleted, int percent) {
        return "ﾀｰｹﾞｯﾄﾌｫﾙﾀﾞ " + target + " の " + std::to_string(files) + " 個のﾌｧｲﾙのうち " +
               std::to_string(deleted) + " 個 (" + std::to_string(percent) +
               "%) が削除されます。(上限 50%)";
    }
};

TEST_F(SafetyRunTest, OverlappingFoldersAreRefusedForChangingRunsOnly) {
    Make({{"src/docs/a.txt", "a"}, {"src/b.txt", "b"}});
    const std::string docs = src() + "/docs";
    const std::string inside = "ｿｰｽﾌｫﾙﾀﾞ " + docs + " はﾀｰｹﾞｯﾄﾌｫﾙﾀﾞ " + src() + " の中にあります。";
    const std::string refused = inside + "\n重なったﾌｫﾙﾀﾞは同期できません。";
    ui_.boxes.Answer(kIdOk);

    Run(RunKind::Synchronise, Preset(docs, src()));
    // A merge preset is merged even from the compare button.
    Run(RunKind::Compare, RunPreset{0, docs, src(), 1, 0, ""});

    EXPECT_THAT(BoxTexts(), ElementsAre(refused, refused));
    EXPECT_THAT(host_.outcomes, ElementsAre(RunOutcome::Overlapping, RunOutcome::Overlapping));
    EXPECT_EQ(dir_.read("src/b.txt"), "b");
    EXPECT_EQ(dir_.read("src/docs/a.txt"), "a");
    EXPECT_THAT(Log(), HasSubstr(Stamped(refused)));
    EXPECT_THAT(Log(), Not(HasSubstr("CopyTotalDataSize")));  // nothing was scanned

    // A compare changes nothing: it goes on, and its log says what it saw.
    ui_.boxes.Answer(kIdOk);
    Run(RunKind::Compare, Preset(docs, src()));
    EXPECT_EQ(host_.outcomes.back(), RunOutcome::Reported);
    EXPECT_THAT(Log(), HasSubstr(Stamped(inside + "\nｺﾝﾍﾟｱは何も変更しないため続行します。")));
}

TEST_F(SafetyRunTest, MassDeletionIsAskedWithNoAsDefaultOrRefusedUnattended) {
    MakeTarget(100, 40);
    const std::string question = Brake(dst(), 100, 60, 60) + "\n本当に削除してよろしいですか？";

    // Asked: No (the default button) keeps everything.
    ui_.boxes.Answer(kIdNo);
    Run(RunKind::Synchronise);
    ASSERT_EQ(ui_.boxes.requests().size(), 1u);
    EXPECT_EQ(ui_.boxes.requests()[0].text, question);
    EXPECT_EQ(ui_.boxes.requests()[0].style, kMbYesNo | kMbDefaultButton2 | kMbIconWarning);
    EXPECT_EQ(TargetFiles(), 100);
    EXPECT_THAT(Log(),
                HasSubstr(Stamped({question + "NO", "アップデートはキャンセルされました。"})));

    // Unattended: refused before anything changes, and the run is no success.
    state_.noStopOnError = 1;
    Run(RunKind::Synchronise);
    EXPECT_EQ(host_.outcomes.back(), RunOutcome::Braked);
    EXPECT_EQ(TargetFiles(), 100);
    EXPECT_THAT(Log(), HasSubstr(Stamped(Brake(dst(), 100, 60, 60) +
                                         "\n大量の削除を防ぐため、ｱｯﾌﾟﾃﾞｰﾄは行いませんでした。")));

    // Deletions kept as versions still brake, and the question says they will be kept.
    state_.noStopOnError = 0;
    state_.keepVersions = 7;
    ui_.boxes.Answer(kIdNo);
    Run(RunKind::Synchronise);
    EXPECT_EQ(ui_.boxes.requests().back().text,
              Brake(dst(), 100, 60, 60) + "\n削除されるﾌｧｲﾙは " + dst() +
                  "/.mirova-versions に 7 日間保存されます。\n本当に削除してよろしいですか？");
    EXPECT_EQ(TargetFiles(), 100);
    state_.keepVersions = 0;
    state_.noStopOnError = 1;

    // Suppressed deletion deletes nothing, so nothing brakes; neither with the brake lifted.
    state_.suppressDeletion = 1;
    Run(RunKind::Synchronise);
    EXPECT_EQ(host_.outcomes.back(), RunOutcome::Reported);
    EXPECT_EQ(TargetFiles(), 100);
    state_.suppressDeletion = 0;
    state_.allowMassDelete = true;
    Run(RunKind::Synchronise);
    EXPECT_EQ(host_.outcomes.back(), RunOutcome::Reported);
    EXPECT_EQ(TargetFiles(), 40);
    ExpectMirror();
}

TEST_F(SafetyRunTest, BrakeSparesSmallTreesButNeverAnEmptySource) {
    state_.noStopOnError = 1;
    // 6 of 10 files: too few to brake.
    MakeTarget(10, 4);
    Run(RunKind::Synchronise);
    EXPECT_EQ(host_.outcomes.back(), RunOutcome::Reported);
    EXPECT_EQ(TargetFiles(), 4);

    // An empty source (a disk not plugged in) brakes whatever the numbers.
    for (const char* name : {"f100.txt", "f101.txt", "f102.txt", "f103.txt"}) {
        ASSERT_TRUE(platform::DeleteFile(src() + "/" + name).ok());
    }
    Run(RunKind::Synchronise);
    EXPECT_EQ(host_.outcomes.back(), RunOutcome::Braked);
    EXPECT_EQ(TargetFiles(), 4);
    EXPECT_THAT(Log(), HasSubstr("ｿｰｽﾌｫﾙﾀﾞ " + src() + " は空です。\nﾀｰｹﾞｯﾄﾌｫﾙﾀﾞ " + dst() +
                                 " の 4 個のﾌｧｲﾙと 0 個のﾌｫﾙﾀﾞが全て削除されます。"));

    // A limit of 100 is no brake; a merge never deletes and never brakes.
    state_.deleteLimit = 100;
    Run(RunKind::Synchronise, MergePreset());
    EXPECT_EQ(host_.outcomes.back(), RunOutcome::Reported);
    EXPECT_EQ(dir_.read("src/f100.txt"), "x");

    // Changed files are replaced, not lost: twelve changed files of sixteen do not brake.
    state_.deleteLimit = 50;
    for (int i = 0; i < 12; ++i) {
        dir_.createFile("src/c" + std::to_string(i), "new", 1700000100);
        dir_.createFile("dst/c" + std::to_string(i), "old", 1700000000);
    }
    Run(RunKind::Synchronise);
    EXPECT_EQ(host_.outcomes.back(), RunOutcome::Reported);
    ExpectMirror();
}

// A source folder that cannot be read lists nothing of its contents: their copies in the target
// are kept, the rest of the run goes on, and the run is no success.
TEST_F(SafetyRunTest, AnUnreadableSourceFolderKeepsItsTargetCopies) {
    const test::ScopedUnprivileged unprivileged(dir_);
    Make({{"src/locked/a.txt", "a", 1700000000},
          {"src/locked/sub/b.txt", "b", 1700000000},
          {"src/open.txt", "o", 1700000000},
          {"dst/locked/a.txt", "a", 1700000000},
          {"dst/locked/sub/b.txt", "b", 1700000000},
          {"dst/extra.txt", "x"}});
    ASSERT_EQ(::chmod((dir_ / "src/locked").c_str(), 0), 0);
    state_.noStopOnError = 1;

    Run(RunKind::Synchronise);
    ::chmod((dir_ / "src/locked").c_str(), 0755);

    EXPECT_EQ(dir_.read("dst/locked/a.txt"), "a");
    EXPECT_EQ(dir_.read("dst/locked/sub/b.txt"), "b");
    EXPECT_FALSE(platform::Exists(dst() + "/extra.txt"));
    EXPECT_EQ(dir_.read("dst/open.txt"), "o");
    EXPECT_EQ(host_.outcomes.back(), RunOutcome::Incomplete);
    EXPECT_THAT(Log(), HasSubstr(Stamped(src() + "/locked が読めないため、ﾀｰｹﾞｯﾄの 3 個の項目は"
                                                 "削除しません。")));
    EXPECT_THAT(Log(), HasSubstr(Stamped(FailureClosing(1))));
}

// What a synchronisation or merge wrote is flushed before it ends; a compare writes nothing.
TEST_F(SafetyRunTest, ChangingRunsFlushTheirWritesBeforeTheyEnd) {
    Make({{"src/a.txt", "a"}});
    ui_.boxes.Answer(kIdOk);
    Run(RunKind::Compare);
    EXPECT_THAT(ui_.statusTexts, Not(testing::Contains("ﾃﾞｰﾀをﾃﾞｨｽｸに書き込み中")));
    state_.noStopOnError = 1;
    Run(RunKind::Synchronise);
    EXPECT_EQ(ui_.statusTexts.back(), "ﾃﾞｰﾀをﾃﾞｨｽｸに書き込み中");
    dir_.createFile("dst/b.txt", "b");
    ui_.statusTexts.clear();
    Run(RunKind::Synchronise, MergePreset());
    EXPECT_EQ(ui_.statusTexts.back(), "ﾃﾞｰﾀをﾃﾞｨｽｸに書き込み中");
    EXPECT_EQ(dir_.read("src/b.txt"), "b");
}

}  // namespace
}  // namespace mirova
