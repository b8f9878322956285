// Runs that keep what they delete or replace, on real trees.
#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>

#include "RunFixture.h"
#include "fileops/KeptVersions.h"
#include "platform/FaultInjection.h"

namespace mirova {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

// The run's folder of versions, named by the fixture's clock.
constexpr const char* kKept = ".mirova-versions/2026-12-06 090503";

class KeptVersionsTest : public test::RealRunFixture {
protected:
    void SetUp() override {
        RealRunFixture::SetUp();
        state_.keepVersions = 30;
        state_.noStopOnError = 1;  // no questions: the run goes straight through
    }
    void TearDown() override {
        platform::ClearFaultsForTesting();
        RealRunFixture::TearDown();
    }
    // The snapshot of a tree without its folder of versions.
    static std::map<std::string, test::ItemSnapshot> Data(const std::string& root) {
        auto items = test::SnapshotTree(root);
        std::erase_if(items, [](const auto& item) { return item.first.starts_with(".mirova"); });
        return items;
    }
    // The snapshot of items of a tree, renamed into the run's folder of versions.
    static std::map<std::string, test::ItemSnapshot> AsKept(
        const std::map<std::string, test::ItemSnapshot>& before,
        std::initializer_list<std::string> names) {
        std::map<std::string, test::ItemSnapshot> kept;
        for (const std::string& name : names) {
            kept[name] = before.at(name);
        }
        return kept;
    }
    std::string Record() const { return dir_.read("log/Changes-261206-090503.txt"); }
};

TEST_F(KeptVersionsTest, SyncKeepsEveryDeletedAndReplacedItemAndTheNextCompareFindsNothing) {
    const std::string longName(255, 'L');
    Make({{"src/changed.txt", "new", 1700000900},
          {"src/same.txt", "same", 1700000000},
          {"src/with space.txt", "new space", 1700000900},
          {"dst/changed.txt", "old", 1600000000},
          {"dst/same.txt", "same", 1700000000},
          {"dst/with space.txt", "old space", 1600000000},
          {"dst/gone.txt", "gone", 1600000100},
          {"dst/line\nbreak.txt", "newline", 1600000200},
          {"dst/old/inner.txt", "inner", 1600000300},
          {"dst/old/deeper/" + longName, "long", 1600000400},
          {"dst/empty/"}});
    ASSERT_EQ(::chmod((dir_ / "dst/changed.txt").c_str(), 0440), 0);
    ASSERT_EQ(::chmod((dir_ / "dst/gone.txt").c_str(), 0604), 0);
    ASSERT_EQ(::chmod((dir_ / "dst/old/deeper").c_str(), 0750), 0);
    const auto before = test::SnapshotTree(dst());

    Run(RunKind::Synchronise);

    EXPECT_EQ(host_.outcomes.back(), RunOutcome::Reported) << Log();
    // Every old item under its own relative name, with its content, time and permissions;
    // nothing else.
    const auto expected =
        AsKept(before, {"changed.txt", "with space.txt", "gone.txt", "line\nbreak.txt", "old",
                        "old/inner.txt", "old/deeper", "old/deeper/" + longName, "empty"});
    EXPECT_EQ(test::DescribeDifferences(expected, test::SnapshotTree(dir_ / "dst/" + kKept)), "");
    EXPECT_EQ(test::DescribeDifferences(Data(src()), Data(dst())), "");
    // Each kept item has its line, before the deletion or copy that took its place.
    const std::string record = Record();
    EXPECT_THAT(record,
                HasSubstr(std::string("keep-version\ttarget\t") + kKept + "/gone.txt\t-\t-\t4\t"));
    EXPECT_THAT(record, HasSubstr(std::string("keep-version\ttarget\t") + kKept +
                                  "/line\\x0Abreak.txt\t-\t-\t7\t"));
    EXPECT_LT(record.find(std::string(kKept) + "/changed.txt"),
              record.find("copy-changed\ttarget\tchanged.txt"));
    EXPECT_THAT(record, HasSubstr("kept versions 9\n"));
    EXPECT_THAT(Log(), HasSubstr(std::string("削除・上書きされるﾌｧｲﾙは ") + kKept +
                                 " に 30 日間保存されます\n"));

    // The folder of versions is no difference: the next compare finds both trees identical.
    Run(RunKind::Compare);
    EXPECT_EQ(host_.outcomes.back(), RunOutcome::Identical) << Log();
}

TEST_F(KeptVersionsTest, MergeKeepsTheReplacedCopyOnEachSide) {
    Make({{"src/a.txt", "new a", 1700000900},
          {"dst/a.txt", "old a", 1600000000},
          {"src/b.txt", "old b", 1600000000},
          {"dst/b.txt", "new b", 1700000900},
          {"dst/only.txt", "only", 1700000000}});
    const auto source = test::SnapshotTree(src());
    const auto target = test::SnapshotTree(dst());

    Run(RunKind::Synchronise, MergePreset());

    EXPECT_EQ(host_.outcomes.back(), RunOutcome::Reported) << Log();
    EXPECT_EQ(test::DescribeDifferences(AsKept(source, {"b.txt"}),
                                        test::SnapshotTree(dir_ / "src/" + kKept)),
              "");
    EXPECT_EQ(test::DescribeDifferences(AsKept(target, {"a.txt"}),
                                        test::SnapshotTree(dir_ / "dst/" + kKept)),
              "");
    EXPECT_EQ(test::DescribeDifferences(Data(src()), Data(dst())), "");
    EXPECT_THAT(Record(), HasSubstr(std::string("keep-version\tsource\t") + kKept + "/b.txt\t"));
}

TEST_F(KeptVersionsTest, OldVersionFoldersExpireAtTheStartOfARun) {
    // The clock says 2026-12-06 09:05:03; 30 days before is 2026-11-06 09:05:03.
    struct Row {
        const char* folder;
        bool expires;
    } const rows[] = {
        {"dst/.mirova-versions/2025-01-01 000000", true},
        {"dst/.mirova-versions/2026-11-06 090502", true},
        {"dst/.mirova-versions/2026-11-06 090504", false},
        {"dst/.mirova-versions/2026-12-06 090503", false},
        {"dst/.mirova-versions/not a stamp", false},
        {"src/.mirova-versions/2025-01-01 000000", false},  // a synchronisation leaves its source
    };
    for (const Row& row : rows) {
        dir_.createFile(std::string(row.folder) + "/sub/kept.txt", "x");
    }
    // A kept folder that was read-only is removed all the same.
    ASSERT_EQ(::chmod((dir_ / "dst/.mirova-versions/2025-01-01 000000/sub").c_str(), 0555), 0);

    Run(RunKind::Synchronise);

    for (const Row& row : rows) {
        EXPECT_EQ(platform::Exists(dir_ / row.folder), !row.expires) << row.folder;
        if (row.expires) {
            EXPECT_THAT(Log(), HasSubstr(dir_ / row.folder +
                                         " を削除しました（保存期間 30 日を過ぎたﾊﾞｰｼﾞｮﾝ）\n"));
        }
    }
    EXPECT_EQ(host_.outcomes.back(), RunOutcome::Identical) << Log();
}

TEST_F(KeptVersionsTest, AnItemThatCannotBeKeptStaysAndIsReported) {
    struct Row {
        const char* name;  // in the target
        platform::FaultCall call;
        int skip;  // calls that pass first: a replaced file's copy renames once before it is kept
    } const rows[] = {
        {"gone.txt", platform::FaultCall::Rename, 0},
        {"changed.txt", platform::FaultCall::Rename, 1},
        {"empty", platform::FaultCall::CreateFolder, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        test::TempDir dir;
        const RunPreset preset = Preset(dir / "src", dir / "dst");
        dir.createFile("src/changed.txt", "new", 1700000900);
        dir.createFile("dst/changed.txt", "old", 1600000000);
        dir.createFile("dst/gone.txt", "gone", 1600000000);
        dir.createFolder("dst/empty");
        const auto before = Data(dir / "dst");
        platform::InjectFaultForTesting(row.call, EIO, row.name, row.skip, 1);

        Run(RunKind::Synchronise, preset);
        platform::ClearFaultsForTesting();

        EXPECT_EQ(host_.outcomes.back(), RunOutcome::Incomplete);
        EXPECT_EQ(Data(dir / "dst").at(row.name), before.at(row.name));
        EXPECT_FALSE(platform::Exists(dir / "dst/" + kKept + "/" + row.name));
        EXPECT_THAT(dir.readLog(), HasSubstr(dir / "dst/" + row.name + " を " + dir / "dst/" +
                                             kKept + "/" + row.name + " に移動できません。("));
    }
}

TEST_F(KeptVersionsTest, TheScanNeverListsTheFolderOfVersionsOfEitherRoot) {
    // With the switch off too, and with and without folders read ahead.
    state_.keepVersions = 0;
    for (const char* threads : {"1", "2"}) {
        SCOPED_TRACE(threads);
        ASSERT_EQ(::setenv("MIROVA_SCAN_THREADS", threads, 1), 0);
        test::TempDir dir;
        dir.createFile("src/.mirova-versions/from-source.txt", "s");
        dir.createFile("dst/.mirova-versions/from-target.txt", "t");
        dir.createFile("src/sub/.mirova-versions/listed.txt", "l");  // only the root's is left out

        Run(RunKind::Synchronise, Preset(dir / "src", dir / "dst"));

        EXPECT_FALSE(platform::Exists(dir / "dst/.mirova-versions/from-source.txt"));
        EXPECT_TRUE(platform::Exists(dir / "dst/.mirova-versions/from-target.txt"));
        EXPECT_TRUE(platform::Exists(dir / "dst/sub/.mirova-versions/listed.txt"));
        EXPECT_THAT(dir.readLog(), Not(HasSubstr("from-")));
    }
    ::unsetenv("MIROVA_SCAN_THREADS");
}

TEST(VersionStampName, ReadsBackWhatItWrites) {
    const platform::LocalTime time{2026, 1, 2, 3, 4, 5};
    EXPECT_EQ(VersionStampName(time), "2026-01-02 030405");
    platform::LocalTime read;
    ASSERT_TRUE(ParseVersionStampName("2026-01-02 030405", read));
    EXPECT_EQ(VersionStampName(read), "2026-01-02 030405");
    for (const char* other : {"2026-01-02 03040", "2026-01-02_030405", "2026-13-02 030405",
                              "2026-01-02 030405 ", "x026-01-02 030405"}) {
        EXPECT_FALSE(ParseVersionStampName(other, read)) << other;
    }
}

}  // namespace
}  // namespace mirova
