// The change record: every item a run handles, once, in the run's order, checked against an
// independent comparison of the two trees as they were before the run.
#include "engine/ChangeRecord.h"

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>

#include "RunFixture.h"
#include "fileops/RunLog.h"
#include "platform/FileSystem.h"

namespace mirova {
namespace {

using ::testing::HasSubstr;
using Snapshot = std::map<std::string, test::ItemSnapshot>;

TEST(ChangeRecordLine, OneLinePerItemWhateverTheName) {
    struct Row {
        std::string name;
        std::string escaped;
    };
    for (const Row& row : std::vector<Row>{{"plain/名前.txt", "plain/名前.txt"},
                                           {"new\nline", "new\\x0Aline"},
                                           {"tab\there", "tab\\x09here"},
                                           {"back\\slash", "back\\\\slash"},
                                           {"bad\xff\xfe\xc3", "bad\\xFF\\xFE\\xC3"},
                                           {"overlong\xc0\xaf", "overlong\\xC0\\xAF"}}) {
        ChangeItem item;
        item.action = ChangeAction::CopyChanged;
        item.path = row.name;
        item.before = ItemState{true, 5, 1700000000};
        item.after = ItemState{true, 9, 1700000100};
        const std::string line = ItemLine(item);
        EXPECT_EQ(line.find('\n'), std::string::npos) << row.escaped;
        EXPECT_THAT(line, HasSubstr("\t" + row.escaped + "\t5\t")) << row.escaped;
        ChangeItem back;
        ASSERT_TRUE(ParseItemLine(line, back)) << line;
        EXPECT_EQ(back.path, row.name);
        EXPECT_EQ(back.after.size, 9u);
        EXPECT_EQ(back.after.mtime, 1700000100);
    }
    ChangeItem failure;
    failure.action = ChangeAction::Failed;
    failure.message = "x が作成できません。\n(reason)";
    EXPECT_EQ(ItemLine(failure), "failed\ttarget\t-\tx が作成できません。\\x0A(reason)");
    ChangeItem back;
    EXPECT_FALSE(ParseItemLine("# run: sync", back));
    EXPECT_FALSE(ParseItemLine("copy-new\ttarget\ta\t1", back));
}

class ChangeRecordRunTest : public test::RealRunFixture {
protected:
    // The item lines of a record file.
    static std::vector<std::string> ItemLines(const std::string& path) {
        std::vector<std::string> lines;
        std::ifstream file(path);
        for (std::string line; std::getline(file, line);) {
            if (!line.starts_with("# ")) {
                lines.push_back(line);
            }
        }
        return lines;
    }
    static RecordContents Read(const std::string& path) {
        RecordContents contents;
        EXPECT_TRUE(ReadChangeRecord(path, contents)) << path;
        return contents;
    }
    // What a synchronisation must do, found from the two trees alone: "<action> <path>" in the
    // order a synchronisation handles the kinds, each kind sorted by name.
    static std::vector<std::string> ExpectedSync(const Snapshot& source, const Snapshot& target) {
        std::vector<std::string> deletes, folderDeletes, copies, creates;
        for (const auto& [name, item] : target) {
            if (!source.contains(name) || source.at(name).kind != item.kind) {
                (item.kind == 'd' ? folderDeletes : deletes)
                    .push_back((item.kind == 'd' ? "delete-folder " : "delete-file ") + name);
            }
        }
        for (const auto& [name, item] : source) {
            const auto found = target.find(name);
            const bool same = found != target.end() && found->second.kind == item.kind;
            if (item.kind == 'd' && !same) {
                creates.push_back("create-folder " + name);
            } else if (item.kind != 'd' && !same) {
                copies.push_back("copy-new " + name);
            } else if (item.kind != 'd' &&
                       (found->second.content.size() != item.content.size() ||
                        std::llabs(found->second.mtimeNs - item.mtimeNs) >= 2'000'000'000)) {
                copies.push_back("copy-changed " + name);
            }
        }
        std::sort(folderDeletes.rbegin(), folderDeletes.rend());  // deepest first
        std::vector<std::string> all = deletes;
        all.insert(all.end(), folderDeletes.begin(), folderDeletes.end());
        all.insert(all.end(), copies.begin(), copies.end());
        all.insert(all.end(), creates.begin(), creates.end());
        return all;
    }
    static std::vector<std::string> Summary(const RecordContents& contents) {
        std::vector<std::string> summary;
        for (const ChangeItem& item : contents.items) {
            summary.push_back(std::string(ActionWord(item.action)) + " " + item.path);
        }
        return summary;
    }
};

TEST_F(ChangeRecordRunTest, CompareAndSyncRecordExactlyWhatTheTreesDiffer) {
    Make({{"src/keep.txt", "same", 1700000000},
          {"dst/keep.txt", "same", 1700000000},
          {"src/changed.txt", "new content", 1700000500},
          {"dst/changed.txt", "old", 1700000000},
          {"src/new/deep/file.bin", "n", 1700000000},
          {"src/empty/"},
          {"src/name\nwith newline", "x", 1700000000},
          {"dst/gone/sub/old.txt", "o", 1700000000},
          {"dst/extra.txt", "e", 1700000000},
          {"dst/bad\xff\xfe.txt", "b", 1700000000}});
    const std::vector<std::string> expected =
        ExpectedSync(test::SnapshotTree(src()), test::SnapshotTree(dst()));
    ui_.boxes.Answer(kIdOk);

    Run(RunKind::Compare);
    const std::string compareRecord = run_.changeRecordPath();
    const RecordContents compared = Read(compareRecord);
    EXPECT_EQ(Summary(compared), expected);
    EXPECT_THAT(Log(), HasSubstr(Stamped("変更記録 " + compareRecord)));
    EXPECT_THAT(compared.headerLines, testing::IsSupersetOf(std::vector<std::string>{
                                          "run: compare", "source: " + src(), "target: " + dst(),
                                          "suppress deletion: off", "exclusions: off"}));
    EXPECT_EQ(compared.endLine,
              "completed; deleted files 3, deleted folders 2, copied 3 (13 bytes), "
              "created folders 3");

    state_.noStopOnError = 1;
    Run(RunKind::Synchronise);
    const std::string syncRecord = run_.changeRecordPath();
    ASSERT_NE(syncRecord, compareRecord);  // the same second: a suffix
    ExpectMirror();
    // The sync did exactly what the compare said it would, line for line.
    EXPECT_EQ(ItemLines(syncRecord), ItemLines(compareRecord));
    const RecordContents synced = Read(syncRecord);
    EXPECT_EQ(synced.endLine,
              "completed; deleted files 3, deleted folders 2, copied 3 (13 bytes), "
              "created folders 3");
    const ChangeItem& changed = synced.items[5];
    ASSERT_EQ(changed.path, "changed.txt");
    EXPECT_EQ(changed.before.size, 3u);
    EXPECT_EQ(changed.before.mtime, 1700000000);
    EXPECT_EQ(changed.after.size, 11u);
    EXPECT_EQ(changed.after.mtime, 1700000500);
    EXPECT_EQ(LatestChangeRecord(), syncRecord);
}

TEST_F(ChangeRecordRunTest, MergeRecordsBothSidesAndFailuresAndCancelsEndTheirRecords) {
    Make({{"src/a.txt", "a", 1700000000}, {"dst/b.txt", "bb", 1700000000}, {"dst/f/"}});
    state_.noStopOnError = 1;
    Run(RunKind::Synchronise, MergePreset());
    const RecordContents merged = Read(run_.changeRecordPath());
    ASSERT_EQ(merged.items.size(), 3u);
    EXPECT_EQ(merged.items[0].side, ChangeSide::Source);
    EXPECT_EQ(merged.items[0].path, "b.txt");
    EXPECT_EQ(merged.items[1].side, ChangeSide::Target);
    EXPECT_EQ(merged.items[1].action, ChangeAction::CopyNew);
    EXPECT_EQ(merged.items[2].action, ChangeAction::CreateFolder);
    EXPECT_EQ(merged.items[2].side, ChangeSide::Source);
    EXPECT_THAT(merged.headerLines, testing::Contains("run: merge"));

    // A copy that fails: its line names the failure, and the record ends with the count.
    dir_.createFile("src/ro.txt", "new", 1700000500);
    dir_.createFile("dst/ro.txt", "old", 1700000000);
    ASSERT_EQ(::chmod((dir_ / "dst/ro.txt").c_str(), 0444), 0);
    state_.suppressDeletion = 1;
    Run(RunKind::Synchronise);
    const RecordContents failed = Read(run_.changeRecordPath());
    ASSERT_EQ(failed.items.size(), 1u);
    EXPECT_EQ(failed.items[0].action, ChangeAction::Failed);
    EXPECT_THAT(failed.items[0].message, HasSubstr(":330 - " + dst() + "/ro.txt"));
    EXPECT_THAT(failed.endLine, testing::StartsWith("failures 1; "));

    // Cancelled before the first deletion, and declined.
    state_.noStopOnError = 0;
    state_.suppressDeletion = 0;
    dir_.createFile("dst/extra.txt", "x");
    ui_.boxes.Answer(kIdYes);
    ui_.boxes.Answer(kIdYes);  // really stop
    ui_.cancelBeforeItem = ui_.itemsOffered + 1;
    Run(RunKind::Synchronise);
    EXPECT_THAT(Read(run_.changeRecordPath()).endLine,
                testing::StartsWith("cancelled by the user; deleted files 0"));
    ui_.boxes.Answer(kIdNo);
    Run(RunKind::Synchronise);
    EXPECT_THAT(Read(run_.changeRecordPath()).endLine, testing::StartsWith("declined; "));
}

TEST_F(ChangeRecordRunTest, OnlyTheNewestHundredRecordsAreKeptAndTheLogRotates) {
    ASSERT_TRUE(EnsureLogFolder());
    for (int i = 0; i < 105; ++i) {
        char name[64];
        std::snprintf(name, sizeof name, "Changes-2601%02d-%06d.txt", 1 + i / 50, i);
        std::ofstream(LogFilePath(name)) << "# old\n";
    }
    ui_.boxes.Answer(kIdOk);
    Run(RunKind::Compare);
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir_.logDir())) {
        if (entry.path().filename().string().starts_with("Changes-")) {
            names.insert(entry.path().filename().string());
        }
    }
    EXPECT_EQ(names.size(), 100u);
    EXPECT_TRUE(names.contains("Changes-261206-090503.txt"));
    EXPECT_FALSE(names.contains("Changes-260101-000000.txt"));  // the oldest went first

    // The run log: beyond the limit it moves to .1 (and on to .3), and a new one starts.
    const std::string log = LogFilePath(kRunLogName);
    for (int round = 0; round < 4; ++round) {
        std::ofstream(log, std::ios::app) << std::string(100, 'x') << round << "\n";
        RotateRunLog(50);
        WriteLog("fresh", 0);
    }
    EXPECT_EQ(dir_.read("log/Mirova.log"), "fresh\n");
    EXPECT_THAT(dir_.read("log/Mirova.log.1"), HasSubstr("x3\n"));
    EXPECT_THAT(dir_.read("log/Mirova.log.3"), HasSubstr("x1\n"));
    EXPECT_FALSE(platform::Exists(log + ".4"));
    RotateRunLog(50);  // a small log stays
    EXPECT_EQ(dir_.read("log/Mirova.log"), "fresh\n");
}

}  // namespace
}  // namespace mirova
