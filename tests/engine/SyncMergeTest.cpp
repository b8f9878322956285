#include <sys/stat.h>
#include <unistd.h>

#include "RunFixture.h"
#include "engine/Merge.h"
#include "platform/FileSystem.h"

namespace mirova {
namespace {

using test::kStamp;
using test::SnapshotTree;
using ::testing::ElementsAre;
using ::testing::EndsWith;
using ::testing::HasSubstr;
using ::testing::Not;

class SyncMergeTest : public test::RealRunFixture {
protected:
    void Link(const std::string& target, const std::string& relative) {
        ASSERT_EQ(::symlink(target.c_str(), (dir_ / relative).c_str()), 0);
    }
};

TEST_F(SyncMergeTest, SynchronisationMakesTheTargetAnExactCopy) {
    // A source tree with every kind of item a mirror must carry.
    dir_.createFile("src/top.txt", "top", 1700000000, 123456700);
    Make({{"src/docs/report.odt", std::string(100000, 'r'), 1700000100},
          {"src/docs/.hidden", "h", 1700000200},
          {"src/docs/deep/er/file.bin", "deep", 1700000300},
          {"src/empty/nested/"},
          {"src/readonly.txt", "ro", 1700000400}});
    ASSERT_EQ(::chmod((dir_ / "src/readonly.txt").c_str(), 0444), 0);
    dir_.createFile("src/script.sh", "#!/bin/sh\n", 1700000500);
    ASSERT_EQ(::chmod((dir_ / "src/script.sh").c_str(), 0750), 0);
    Link("docs/report.odt", "src/link-to-report");
    Link("/nonexistent/target", "src/dangling");
    // The target holds old versions, extraneous files and nested extraneous folders.
    Make({{"dst/top.txt", "old top", 1600000000},
          {"dst/docs/report.odt", "old", 1700000100},
          {"dst/extra.txt", "x"},
          {"dst/gone/a/b/c/deepest.txt", "d"},
          {"dst/readonly-extra.txt", "r"}});
    ASSERT_EQ(::chmod((dir_ / "dst/readonly-extra.txt").c_str(), 0444), 0);
    Link("top.txt", "dst/extra-link");
    // Names that changed kind are replaced in the same run: a source file over a target folder
    // with content, and source folders (one with content, one empty) over target files.
    Make({{"src/was-folder", "now a file", 1700000000},
          {"src/was-file/inner.txt", "inside", 1700000100},
          {"src/was-file/sub/"},
          {"src/empty-was-file/"},
          {"dst/was-folder/a.txt", "a"},
          {"dst/was-folder/sub/b.txt", "b"},
          {"dst/was-file", "old file", 1700000000},
          {"dst/empty-was-file", ""}});
    ui_.boxes.Answer(kIdYes);

    Run(RunKind::Synchronise);

    EXPECT_THAT(host_.outcomes, ElementsAre(RunOutcome::Reported));
    ExpectMirror();
    EXPECT_EQ(ui_.failures(), 0);
    EXPECT_THAT(Log(), HasSubstr(Stamped("ｱｯﾌﾟﾃﾞｰﾄ完了")));

    // A second run finds nothing to do.
    Run(RunKind::Synchronise);
    EXPECT_EQ(host_.outcomes.back(), RunOutcome::Identical);
}

TEST_F(SyncMergeTest, SuppressedDeletionOnlyAddsAndReplaces) {
    Make({{"src/changed.txt", "new", 1700000100},
          {"dst/changed.txt", "old", 1700000000},
          {"dst/extra.txt", "stays"},
          {"dst/old/folder.txt", "stays"}});
    state_.suppressDeletion = 1;
    state_.noStopOnError = 1;

    Run(RunKind::Synchronise);

    EXPECT_EQ(dir_.read("dst/changed.txt"), "new");
    EXPECT_EQ(dir_.read("dst/extra.txt"), "stays");
    EXPECT_EQ(dir_.read("dst/old/folder.txt"), "stays");
    EXPECT_THAT(Log(), HasSubstr("OptionD=ON"));
}

TEST_F(SyncMergeTest, CancelledDeletionStopsTheRunBeforeAnyCopy) {
    Make({{"src/new.txt", "n"}, {"dst/extra1.txt", "1"}, {"dst/extra2.txt", "2"}});
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

// A read-only target copy of a changed file is one the run would delete: it is replaced, so the
// mirror converges (also for a read-only source file that changed). With deletion suppressed
// the copy refuses it, and the old content survives.
TEST_F(SyncMergeTest, ReadOnlyChangedTargetIsReplacedUnlessDeletionIsSuppressed) {
    Make({{"src/changed.txt", "new", 1700000100},
          {"dst/changed.txt", "old but precious", 1700000000}});
    ASSERT_EQ(::chmod((dir_ / "dst/changed.txt").c_str(), 0444), 0);
    state_.noStopOnError = 1;
    state_.suppressDeletion = 1;

    Run(RunKind::Synchronise);

    EXPECT_EQ(dir_.read("dst/changed.txt"), "old but precious");
    EXPECT_THAT(host_.outcomes, ElementsAre(RunOutcome::Incomplete));
    EXPECT_THAT(Log(), HasSubstr(":330 - " + dst() + "/changed.txt が作成できません。"));

    state_.suppressDeletion = 0;
    ASSERT_EQ(::chmod((dir_ / "src/changed.txt").c_str(), 0444), 0);
    Run(RunKind::Synchronise);
    EXPECT_EQ(dir_.read("dst/changed.txt"), "new");
    EXPECT_EQ(host_.outcomes.back(), RunOutcome::Reported);

    dir_.createFile("src/changed.txt", "newer still", 1700000900);
    Run(RunKind::Synchronise);
    EXPECT_EQ(dir_.read("dst/changed.txt"), "newer still");
    EXPECT_EQ(host_.outcomes.back(), RunOutcome::Reported);
    ExpectMirror();
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
    Make({{"src/only-src.txt", "s", 1700000000},
          {"dst/only-dst/inner.txt", "d", 1700000000},
          {"dst/empty-in-dst/"},
          {"src/newer-in-src.txt", "new src", 1700000500},
          {"dst/newer-in-src.txt", "old", 1700000000},
          {"src/newer-in-dst.txt", "old", 1700000000},
          {"dst/newer-in-dst.txt", "new dst", 1700000500},
          {"src/size.txt", "12345", 1700000000},
          {"dst/size.txt", "1", 1700000001},
          {"src/clash", "a file here"},
          {"dst/clash/"}});
    ui_.boxes.Answer(kIdYes);

    Run(RunKind::Synchronise, MergePreset());

    const std::string report =
        "ｺﾋﾟｰが必要なﾌｧｲﾙが 5 個、作成が必要なﾌｫﾙﾀﾞが 2 個 あります。\nﾏｰｼﾞ処理を続行しますか？";
    // The file/folder clash cannot be merged: the merge is not called complete.
    EXPECT_THAT(BoxTexts(), ElementsAre(report, FailureClosing(1)));
    EXPECT_EQ(dir_.read("src/newer-in-dst.txt"), "new dst");
    EXPECT_EQ(dir_.read("dst/newer-in-src.txt"), "new src");
    EXPECT_EQ(dir_.read("dst/size.txt"), "12345");
    EXPECT_EQ(dir_.read("dst/only-src.txt"), "s");
    EXPECT_EQ(dir_.read("src/only-dst/inner.txt"), "d");
    EXPECT_TRUE(platform::Exists(src() + "/empty-in-dst"));
    EXPECT_EQ(dir_.read("src/clash"), "a file here");
    EXPECT_TRUE(platform::Exists(dst() + "/clash/"));
    EXPECT_THAT(Log(), HasSubstr("clash はｿｰｽとﾀｰｹﾞｯﾄでﾌｧｲﾙとﾌｫﾙﾀﾞが異なるためﾏｰｼﾞできません。\n"));
    EXPECT_THAT(Log(), HasSubstr(Stamped("ﾏｰｼﾞ処理終了")));
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
    Make({{"dst/a/b.txt", "b", 1700000000}, {"dst/c/"}});
    state_.noStopOnError = 1;

    Run(RunKind::Compare, MergePreset());  // a merge preset is merged whatever the run kind
    EXPECT_EQ(dir_.read("src/a/b.txt"), "b");
    EXPECT_TRUE(platform::Exists(src() + "/c"));
    EXPECT_THAT(Log(), HasSubstr(kStamp + std::string("ｺﾋﾟｰが必要なﾌｧｲﾙが 1 個")));

    Run(RunKind::Synchronise, MergePreset());
    EXPECT_THAT(Log(), HasSubstr(Stamped({"ｿｰｽとﾀｰｹﾞｯﾄが完全に一致しました。", "ﾏｰｼﾞ処理終了"})));
    EXPECT_TRUE(BoxTexts().empty());
    EXPECT_THAT(host_.outcomes, ElementsAre(RunOutcome::Reported, RunOutcome::Identical));
}

TEST_F(SyncMergeTest, DeclinedMergeTouchesNothing) {
    Make({{"src/a.txt", "a"}, {"dst/b.txt", "b"}});
    ui_.boxes.Answer(kIdNo);

    Run(RunKind::Synchronise, MergePreset());

    EXPECT_FALSE(platform::Exists(dst() + "/a.txt"));
    EXPECT_FALSE(platform::Exists(src() + "/b.txt"));
    EXPECT_EQ(BoxTexts().size(), 1u);  // the report only, no closing notice
    EXPECT_THAT(Log(), EndsWith(Stamped("ﾏｰｼﾞ処理終了")));
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

    Run(RunKind::Synchronise, MergePreset());

    EXPECT_THAT(Log(), HasSubstr(Stamped("Preset 1 終了") + kStamp + "Preset 4 終了\n" + kStamp +
                                 "ﾏｰｼﾞ処理終了\n"));
    EXPECT_EQ(host_.dialogResult, 1);
    EXPECT_EQ(dir_.read("dst/a.txt"), "a");
}

}  // namespace
}  // namespace mirova
