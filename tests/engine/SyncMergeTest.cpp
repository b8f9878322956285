#include <sys/stat.h>
#include <unistd.h>

#include "RunFixture.h"
#include "TreeSnapshot.h"
#include "engine/Merge.h"
#include "platform/FileSystem.h"

namespace mirova {
namespace {

using test::kStamp;
using test::SnapshotTree;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;

// Runs with the real file operations on real trees.
class SyncMergeTest : public test::RunFixture {
protected:
    void SetUp() override {
        RunFixture::SetUp();
        run_.SetChangeExecutor(nullptr);
    }
    std::string src() const { return dir_ / "src"; }
    std::string dst() const { return dir_ / "dst"; }
    void Link(const std::string& target, const std::string& relative) {
        ASSERT_EQ(::symlink(target.c_str(), (dir_ / relative).c_str()), 0);
    }
    // A source tree with every kind of item a mirror must carry.
    void MakeRichSource() {
        dir_.createFile("src/top.txt", "top", 1700000000, 123456700);
        dir_.createFile("src/docs/report.odt", std::string(100000, 'r'), 1700000100);
        dir_.createFile("src/docs/.hidden", "h", 1700000200);
        dir_.createFile("src/docs/deep/er/file.bin", "deep", 1700000300);
        dir_.createFolder("src/empty/nested");
        dir_.createFile("src/readonly.txt", "ro", 1700000400);
        ASSERT_EQ(::chmod((dir_ / "src/readonly.txt").c_str(), 0444), 0);
        dir_.createFile("src/script.sh", "#!/bin/sh\n", 1700000500);
        ASSERT_EQ(::chmod((dir_ / "src/script.sh").c_str(), 0750), 0);
        Link("docs/report.odt", "src/link-to-report");
        Link("/nonexistent/target", "src/dangling");
    }
};

TEST_F(SyncMergeTest, SynchronisationMakesTheTargetAnExactCopy) {
    MakeRichSource();
    // The target holds old versions, extraneous files and nested extraneous folders.
    dir_.createFile("dst/top.txt", "old top", 1600000000);
    dir_.createFile("dst/docs/report.odt", "old", 1700000100);
    dir_.createFile("dst/extra.txt", "x");
    dir_.createFile("dst/gone/a/b/c/deepest.txt", "d");
    dir_.createFile("dst/readonly-extra.txt", "r");
    ASSERT_EQ(::chmod((dir_ / "dst/readonly-extra.txt").c_str(), 0444), 0);
    Link("top.txt", "dst/extra-link");
    ui_.boxes.Answer(kIdYes);

    Run(RunKind::Synchronise);

    EXPECT_THAT(host_.outcomes, ElementsAre(RunOutcome::Reported));
    EXPECT_EQ(test::DescribeDifferences(SnapshotTree(src()), SnapshotTree(dst())), "");
    EXPECT_EQ(ui_.failures, 0);
    EXPECT_THAT(Log(), HasSubstr(kStamp + std::string("ｱｯﾌﾟﾃﾞｰﾄ完了\n")));

    // A second run finds nothing to do.
    Run(RunKind::Synchronise);
    EXPECT_EQ(host_.outcomes.back(), RunOutcome::Identical);
}

TEST_F(SyncMergeTest, NamesThatChangedKindAreReplacedInOneRun) {
    // Source file over a target folder with content, and source folders (one with content, one
    // empty) over target files.
    dir_.createFile("src/was-folder", "now a file", 1700000000);
    dir_.createFile("src/was-file/inner.txt", "inside", 1700000100);
    dir_.createFolder("src/was-file/sub");
    dir_.createFolder("src/empty-was-file");
    dir_.createFile("dst/was-folder/a.txt", "a");
    dir_.createFile("dst/was-folder/sub/b.txt", "b");
    dir_.createFile("dst/was-file", "old file", 1700000000);
    dir_.createFile("dst/empty-was-file", "");
    ui_.boxes.Answer(kIdYes);

    Run(RunKind::Synchronise);

    EXPECT_THAT(host_.outcomes, ElementsAre(RunOutcome::Reported));
    EXPECT_EQ(test::DescribeDifferences(SnapshotTree(src()), SnapshotTree(dst())), "");
    EXPECT_EQ(ui_.failures, 0);
    Run(RunKind::Synchronise);
    EXPECT_EQ(host_.outcomes.back(), RunOutcome::Identical);
}

TEST_F(SyncMergeTest, SuppressedDeletionOnlyAddsAndReplaces) {
    dir_.createFile("src/changed.txt", "new", 1700000100);
    dir_.createFile("dst/changed.txt", "old", 1700000000);
    dir_.createFile("dst/extra.txt", "stays");
    dir_.createFile("dst/old/folder.txt", "stays");
    state_.suppressDeletion = 1;
    state_.noStopOnError = 1;

    Run(RunKind::Synchronise);

    EXPECT_EQ(dir_.read("dst/changed.txt"), "new");
    EXPECT_EQ(dir_.read("dst/extra.txt"), "stays");
    EXPECT_EQ(dir_.read("dst/old/folder.txt"), "stays");
    EXPECT_THAT(Log(), HasSubstr("OptionD=ON"));
}

TEST_F(SyncMergeTest, CancelledDeletionStopsTheRunBeforeAnyCopy) {
    dir_.createFile("src/new.txt", "n");
    dir_.createFile("dst/extra1.txt", "1");
    dir_.createFile("dst/extra2.txt", "2");
    ui_.boxes.Answer(kIdYes);  // carry out
    ui_.cancelBeforeItem = 1;
    ui_.boxes.Answer(kIdYes);  // really stop

    Run(RunKind::Synchronise);

    EXPECT_TRUE(platform::Exists(dst() + "/extra1.txt"));
    EXPECT_FALSE(platform::Exists(dst() + "/new.txt"));
    EXPECT_THAT(host_.outcomes, ElementsAre(RunOutcome::Incomplete));
    EXPECT_THAT(Log(), HasSubstr("Mirova Preset 1 Done.\n"));
    EXPECT_THAT(Log(), Not(HasSubstr("ｱｯﾌﾟﾃﾞｰﾄ完了")));
}

TEST_F(SyncMergeTest, FailedCopyOfAChangedFileKeepsTheOldTargetCopy) {
    dir_.createFile("src/changed.txt", "new", 1700000100);
    dir_.createFile("dst/changed.txt", "old but precious", 1700000000);
    // The target copy is read-only: the copy is refused, and the old content must survive
    // (the target copies of changed files are replaced by the copy, never deleted before it).
    ASSERT_EQ(::chmod((dir_ / "dst/changed.txt").c_str(), 0444), 0);
    state_.noStopOnError = 1;

    Run(RunKind::Synchronise);

    EXPECT_EQ(dir_.read("dst/changed.txt"), "old but precious");
    EXPECT_THAT(host_.outcomes, ElementsAre(RunOutcome::Incomplete));
    EXPECT_THAT(Log(), HasSubstr(":330 - " + dst() + "/changed.txt が作成できません。"));
}

TEST(MergeClassifyTest, NewerLargerAndMissingItemsTravelBothWays) {
    auto source = NewFileList(16);
    auto target = NewFileList(16);
    const auto add = [](FileList& list, const char* name, std::uint32_t seconds, std::uint64_t size,
                        int folder) {
        list.entries[list.count++] =
            FileEntry{list.names.Add(name), seconds * 10000000u, 7, size, folder, 0};
    };
    add(*source, "both-folder", 0, 0, 1);
    add(*source, "clash", 100, 1, 1);
    add(*source, "equal", 100, 5, 0);
    add(*source, "larger-in-source", 100, 200, 0);
    add(*source, "larger-in-target", 101, 100, 0);  // one second apart: equal times
    add(*source, "newer-in-source", 300, 1, 0);
    add(*source, "newer-in-target", 100, 9, 0);
    add(*source, "only-source", 0, 0, 0);
    add(*source, "only-source-folder", 0, 0, 1);
    add(*target, "both-folder", 0, 0, 1);
    add(*target, "clash", 100, 1, 0);
    add(*target, "equal", 100, 5, 0);
    add(*target, "larger-in-source", 100, 100, 0);
    add(*target, "larger-in-target", 100, 200, 0);
    add(*target, "newer-in-source", 100, 1, 0);
    add(*target, "newer-in-target", 300, 1, 0);
    add(*target, "only-target", 0, 0, 0);
    add(*target, "only-target-folder", 0, 0, 1);

    const MergeLists merge = ClassifyForMerge(*source, *target);

    using Names = std::vector<std::string>;
    const auto names = [](const std::vector<const char*>& list) {
        return Names(list.begin(), list.end());
    };
    EXPECT_EQ(names(merge.copyToTarget),
              (Names{"larger-in-source", "newer-in-source", "only-source"}));
    EXPECT_EQ(names(merge.copyToSource),
              (Names{"larger-in-target", "newer-in-target", "only-target"}));
    EXPECT_EQ(names(merge.createInTarget), Names{"only-source-folder"});
    EXPECT_EQ(names(merge.createInSource), Names{"only-target-folder"});
    EXPECT_EQ(names(merge.kindClashes), Names{"clash"});
}

TEST_F(SyncMergeTest, MergeLeavesBothTreesWithTheNewerVersionsAndDeletesNothing) {
    dir_.createFile("src/only-src.txt", "s", 1700000000);
    dir_.createFile("dst/only-dst/inner.txt", "d", 1700000000);
    dir_.createFolder("dst/empty-in-dst");
    dir_.createFile("src/newer-in-src.txt", "new src", 1700000500);
    dir_.createFile("dst/newer-in-src.txt", "old", 1700000000);
    dir_.createFile("src/newer-in-dst.txt", "old", 1700000000);
    dir_.createFile("dst/newer-in-dst.txt", "new dst", 1700000500);
    dir_.createFile("src/size.txt", "12345", 1700000000);
    dir_.createFile("dst/size.txt", "1", 1700000001);
    dir_.createFile("src/clash", "a file here");
    dir_.createFolder("dst/clash");
    RunPreset preset = Preset(src(), dst());
    preset.mergeMode = 1;
    ui_.boxes.Answer(kIdYes);

    Run(RunKind::Synchronise, preset);

    const std::string report =
        "ｺﾋﾟｰが必要なﾌｧｲﾙが 5 個、作成が必要なﾌｫﾙﾀﾞが 2 個 あります。\nﾏｰｼﾞ処理を続行しますか？";
    EXPECT_THAT(BoxTexts(), ElementsAre(report, "ﾏｰｼﾞ完了"));
    EXPECT_EQ(dir_.read("src/newer-in-dst.txt"), "new dst");
    EXPECT_EQ(dir_.read("dst/newer-in-src.txt"), "new src");
    EXPECT_EQ(dir_.read("dst/size.txt"), "12345");
    EXPECT_EQ(dir_.read("dst/only-src.txt"), "s");
    EXPECT_EQ(dir_.read("src/only-dst/inner.txt"), "d");
    EXPECT_TRUE(platform::Exists(src() + "/empty-in-dst"));
    EXPECT_EQ(dir_.read("src/clash"), "a file here");
    EXPECT_TRUE(platform::Exists(dst() + "/clash/"));
    EXPECT_THAT(Log(), HasSubstr("clash はｿｰｽとﾀｰｹﾞｯﾄでﾌｧｲﾙとﾌｫﾙﾀﾞが異なるためﾏｰｼﾞできません。\n"));
    EXPECT_THAT(Log(), HasSubstr(kStamp + std::string("ﾏｰｼﾞ処理終了\n")));
    EXPECT_THAT(Log(), Not(HasSubstr("Done.")));
    // Both trees hold the same names; only the clash differs in kind.
    const auto source = SnapshotTree(src());
    const auto target = SnapshotTree(dst());
    ASSERT_EQ(source.size(), target.size());
    for (const auto& [name, item] : source) {
        ASSERT_TRUE(target.count(name)) << name;
        if (name != "clash" && item.kind == 'f') {
            EXPECT_EQ(item.content, target.at(name).content) << name;
        }
    }
}

TEST_F(SyncMergeTest, MergeIntoAnEmptySourceAndOfIdenticalTrees) {
    dir_.createFile("dst/a/b.txt", "b", 1700000000);
    dir_.createFolder("dst/c");
    RunPreset preset = Preset(src(), dst());
    preset.mergeMode = 1;
    state_.noStopOnError = 1;

    Run(RunKind::Compare, preset);  // a merge preset is merged whatever the run kind
    EXPECT_EQ(dir_.read("src/a/b.txt"), "b");
    EXPECT_TRUE(platform::Exists(src() + "/c"));
    EXPECT_THAT(Log(), HasSubstr(kStamp + std::string("ｺﾋﾟｰが必要なﾌｧｲﾙが 1 個")));

    Run(RunKind::Synchronise, preset);
    EXPECT_THAT(Log(), HasSubstr(kStamp + std::string("ｿｰｽとﾀｰｹﾞｯﾄが完全に一致しました。\n") +
                                 kStamp + "ﾏｰｼﾞ処理終了\n"));
    EXPECT_TRUE(BoxTexts().empty());
    EXPECT_THAT(host_.outcomes, ElementsAre(RunOutcome::Reported, RunOutcome::Identical));
}

TEST_F(SyncMergeTest, DeclinedMergeTouchesNothing) {
    dir_.createFile("src/a.txt", "a");
    RunPreset preset = Preset(src(), dst());
    preset.mergeMode = 1;
    ui_.boxes.Answer(kIdNo);

    Run(RunKind::Synchronise, preset);

    EXPECT_FALSE(platform::Exists(dst() + "/a.txt"));
    EXPECT_EQ(BoxTexts().size(), 1u);  // the report only, no closing notice
    EXPECT_THAT(Log(), HasSubstr(kStamp + std::string("ﾏｰｼﾞ処理終了\n")));
    EXPECT_THAT(host_.outcomes, ElementsAre(RunOutcome::Declined));
}

TEST_F(SyncMergeTest, MergeInACommandLineListLogsEachPresetEnd) {
    dir_.createFile("src/a.txt", "a");
    state_.noStopOnError = 1;
    state_.autoRunCount = 2;
    state_.autoRunPresets[0] = 1;
    state_.autoRunPresets[1] = 4;
    state_.autoRunNext = 1;                   // preset 1 is the one running
    host_.presets[3] = Preset(src(), "", 3);  // preset 4: empty target, passed over
    RunPreset preset = Preset(src(), dst(), 0);
    preset.mergeMode = 1;

    Run(RunKind::Synchronise, preset);

    EXPECT_THAT(Log(), HasSubstr(kStamp + std::string("Preset 1 終了\n") + kStamp +
                                 "Preset 4 終了\n" + kStamp + "ﾏｰｼﾞ処理終了\n"));
    EXPECT_EQ(host_.dialogResult, 1);
    EXPECT_EQ(dir_.read("dst/a.txt"), "a");
}

}  // namespace
}  // namespace mirova
