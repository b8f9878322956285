// Whole runs with the real file operations on real trees: mirrors, merges, their change records,
// kept versions, the checks that keep a run from destroying what it was not asked to change, and
// file-system calls failing in the middle: nothing is lost, and the next run finishes the job.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <set>

#include "RunFixture.h"
#include "engine/ChangeRecord.h"
#include "fileops/FileOperations.h"
#include "fileops/Format.h"
#include "fileops/SafeCopy.h"
#include "platform/FaultInjection.h"
#include "platform/FileSystem.h"

namespace mirova {
namespace {

using platform::FaultCall;
using test::kStamp;
using test::SnapshotTree;
using ::testing::ElementsAre;
using ::testing::EndsWith;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;
using Names = std::vector<std::string>;
using Snapshot = std::map<std::string, test::ItemSnapshot>;

// The run's folder of versions, named by the fixture's clock.
constexpr const char* kKept = ".mirova-versions/2026-12-06 090503";

class SyncMergeTest : public test::RealRunFixture {
protected:
    void TearDown() override {
        ClearFaults();
        RealRunFixture::TearDown();
    }
    static void ClearFaults() {
        platform::ClearFaultsForTesting();
        SetCopyStartHookForTesting(nullptr);
    }
    // Makes one call fail once during the copy of one source file only: reads, writes and the
    // times of a copy name no file, so the fault is put in place when that file's copy begins.
    void FailWhileCopying(const std::string& source, FaultCall call, int error) {
        struct stat wanted {};
        ASSERT_EQ(::stat(source.c_str(), &wanted), 0) << source;
        SetCopyStartHookForTesting([wanted, call, error](int sourceFd, int) {
            struct stat st {};
            if (::fstat(sourceFd, &st) == 0 && st.st_ino == wanted.st_ino) {
                platform::InjectFaultForTesting(call, error, {}, 0, 1);
            }
        });
    }
    void ExpectNoPartialCopies() const {
        for (const auto& entry : SnapshotTree(dir_.path())) {
            EXPECT_EQ(entry.first.find(kPartialCopyPrefix), std::string::npos) << entry.first;
        }
    }
    RecordContents Record() const {
        RecordContents contents;
        EXPECT_TRUE(ReadChangeRecord(run_.changeRecordPath(), contents));
        return contents;
    }
    static Names Summary(const RecordContents& contents) {
        Names summary;
        for (const ChangeItem& item : contents.items) {
            summary.push_back(std::string(ActionWord(item.action)) + " " + item.path);
        }
        return summary;
    }
    // What a synchronisation must do, found from the two trees alone: "<action> <path>" in the
    // order a synchronisation handles the kinds, each kind sorted by name.
    static Names ExpectedSync(const Snapshot& source, const Snapshot& target) {
        Names deletes, folderDeletes, copies, creates;
        for (const auto& [name, item] : target) {
            if (!source.contains(name) || source.at(name).kind != item.kind) {
                (item.kind == 'd' ? folderDeletes : deletes)
                    .push_back((item.kind == 'd' ? "delete-folder " : "delete-file ") + name);
            }
        }
        for (const auto& [name, item] : source) {
            const auto found = target.find(name);
            const bool same = found != target.end() && found->second.kind == item.kind;
            if (!same && item.kind == 'd') {
                creates.push_back("create-folder " + name);
            } else if (!same) {  // a file over a folder replaces what stood there
                copies.push_back((found == target.end() ? "copy-new " : "copy-changed ") + name);
            } else if (item.kind != 'd' &&
                       (found->second.content.size() != item.content.size() ||
                        std::llabs(found->second.mtimeNs - item.mtimeNs) >= 2'000'000'000)) {
                copies.push_back("copy-changed " + name);
            }
        }
        std::sort(folderDeletes.rbegin(), folderDeletes.rend());  // deepest first
        for (const Names* kind : {&folderDeletes, &copies, &creates}) {
            deletes.insert(deletes.end(), kind->begin(), kind->end());
        }
        return deletes;
    }
    // A tree without its folder of versions.
    static Snapshot Data(const std::string& root) {
        auto items = SnapshotTree(root);
        std::erase_if(items, [](const auto& item) { return item.first.starts_with(".mirova"); });
        return items;
    }
    int TargetFiles() const { return static_cast<int>(SnapshotTree(dst()).size()); }
};

TEST_F(SyncMergeTest, SynchronisationDoesWhatTheCompareRecordedAndMakesAnExactCopy) {
    // Every kind of item a mirror carries, names that changed kind or need escaping.
    dir_.createFile("src/top.txt", "top", 1700000000, 123456700);
    dir_.createFile("src/docs/report.odt", std::string(100000, 'r'), 1700000100);
    Make(
        "src/docs/deep/er/file.bin=deep@1700000300|src/empty/nested/|src/readonly.txt=ro"
        "|src/name\nwith newline=x|src/was-folder=now a file|src/was-file/inner.txt=inside"
        "|src/empty-was-file/|dst/top.txt=old top@1600000000|dst/docs/report.odt=old@1700000100"
        "|dst/gone/a/b/deepest.txt|dst/readonly-extra.txt|dst/bad\xff\xfe.txt|dst/was-file=old"
        "|dst/was-folder/sub/b.txt|dst/empty-was-file");
    ASSERT_EQ(::chmod((dir_ / "src/readonly.txt").c_str(), 0444), 0);
    ASSERT_EQ(::chmod((dir_ / "dst/readonly-extra.txt").c_str(), 0444), 0);
    ASSERT_EQ(::symlink("docs/report.odt", (dir_ / "src/link-to-report").c_str()), 0);
    ASSERT_EQ(::symlink("/nonexistent/target", (dir_ / "src/dangling").c_str()), 0);
    ASSERT_EQ(::symlink("top.txt", (dir_ / "dst/extra-link").c_str()), 0);
    const Names expected = ExpectedSync(SnapshotTree(src()), SnapshotTree(dst()));
    ui_.boxes.Answer(kIdOk);
    Run(RunKind::Compare);
    const std::string compareRecord = run_.changeRecordPath();
    const RecordContents compared = Record();
    EXPECT_EQ(Summary(compared), expected);
    EXPECT_THAT(compared.headerLines,
                testing::IsSupersetOf(Names{"run: compare", "source: " + src(), "target: " + dst(),
                                            "suppress deletion: off", "exclusions: off"}));
    EXPECT_EQ(compared.endLine,
              "completed; deleted files 7, deleted folders 5, copied 9 (100060 "
              "bytes), created folders 6");
    state_.noStopOnError = 1;
    Run(RunKind::Synchronise);
    ExpectMirror();
    EXPECT_EQ(ui_.failures(), 0);
    EXPECT_THAT(Log(), EndsWith(Stamped("ｱｯﾌﾟﾃﾞｰﾄ完了")));
    ASSERT_NE(run_.changeRecordPath(), compareRecord);  // the same second: a suffix
    const RecordContents synced = Record();
    EXPECT_EQ(Summary(synced), expected);
    EXPECT_EQ(synced.endLine, compared.endLine);
    const ChangeItem& changed =
        synced.items.at(std::ranges::find(expected, "copy-changed top.txt") - expected.begin());
    ASSERT_EQ(changed.path, "top.txt");
    EXPECT_EQ(changed.before.size * 10 + changed.after.size, 73u);
    EXPECT_EQ(changed.after.mtime - changed.before.mtime, 100000000);
    EXPECT_EQ(LatestChangeRecord(), run_.changeRecordPath());
    Run(RunKind::Synchronise);  // nothing left to do
    EXPECT_THAT(host_.outcomes,
                ElementsAre(RunOutcome::Reported, RunOutcome::Reported, RunOutcome::Identical));
}

TEST_F(SyncMergeTest, MergeLeavesBothTreesWithTheNewerVersionsAndDeletesNothing) {
    Make(
        "src/only-src.txt=s@1700000000|dst/only-dst/inner.txt=d@1700000000|dst/empty-in-dst/"
        "|src/newer-in-src.txt=new src@1700000500|dst/newer-in-src.txt=old@1700000000"
        "|src/newer-in-dst.txt=old@1700000000|dst/newer-in-dst.txt=new dst@1700000500"
        "|src/size.txt=12345@1700000000|dst/size.txt=1@1700000001|src/clash=file|dst/clash/");
    ui_.boxes.Answer(kIdYes);
    Run(RunKind::Synchronise, MergePreset());
    // The file/folder clash cannot be merged: the merge is not called complete.
    EXPECT_THAT(BoxTexts(), ElementsAre("ｺﾋﾟｰが必要なﾌｧｲﾙが 5 個、作成が必要なﾌｫﾙﾀﾞが 2 個 "
                                        "あります。\nﾏｰｼﾞ処理を続行しますか？",
                                        FailureClosing(1)));
    EXPECT_THAT(Log(), HasSubstr("clash はｿｰｽとﾀｰｹﾞｯﾄでﾌｧｲﾙとﾌｫﾙﾀﾞが異なるためﾏｰｼﾞできません。\n"));
    EXPECT_THAT(Log(), Not(HasSubstr("Done.")));
    // Both trees hold the same names and contents; only the clash differs in kind.
    Snapshot source = SnapshotTree(src()), target = SnapshotTree(dst());
    EXPECT_EQ(source["newer-in-dst.txt"].content + source["size.txt"].content, "new dst12345");
    EXPECT_EQ(source.extract("clash").mapped().kind + target.extract("clash").mapped().kind,
              'f' + 'd');
    EXPECT_EQ(test::DescribeDifferences(source, target), "");
    const RecordContents merged = Record();
    EXPECT_THAT(merged.headerLines, testing::Contains("run: merge"));
    EXPECT_EQ(
        Summary(merged),
        (Names{"failed ", "copy-changed newer-in-dst.txt", "copy-new only-dst/inner.txt",
               "copy-changed newer-in-src.txt", "copy-new only-src.txt", "copy-changed size.txt",
               "create-folder empty-in-dst", "create-folder only-dst"}));
    std::string sides;
    for (const ChangeItem& item : merged.items) {
        sides += item.side == ChangeSide::Source ? 'S' : 'T';
    }
    EXPECT_EQ(sides.substr(1), "SSTTTSS");
    EXPECT_THAT(host_.outcomes, ElementsAre(RunOutcome::Incomplete));
}

TEST_F(SyncMergeTest, MergeDeclinedIntoAnEmptySourceOfIdenticalTreesAndInACommandLineList) {
    Make("dst/a/b.txt=b@1700000000|dst/c/");
    ui_.boxes.Answer(kIdNo);
    Run(RunKind::Synchronise, MergePreset());
    EXPECT_FALSE(platform::Exists(src() + "/c"));
    EXPECT_THAT(Log(), EndsWith(Stamped("ﾏｰｼﾞ処理終了")));
    EXPECT_THAT(Record().endLine, StartsWith("declined; "));
    state_.noStopOnError = 1;
    Run(RunKind::Compare, MergePreset());  // a merge preset is merged whatever the run kind
    EXPECT_EQ(dir_.read("src/a/b.txt"), "b");
    EXPECT_TRUE(platform::Exists(src() + "/c"));
    EXPECT_THAT(Log(), HasSubstr(kStamp + std::string("ｺﾋﾟｰが必要なﾌｧｲﾙが 1 個")));
    Run(RunKind::Synchronise, MergePreset());
    EXPECT_THAT(Log(), HasSubstr(Stamped({"ｿｰｽとﾀｰｹﾞｯﾄが完全に一致しました。", "ﾏｰｼﾞ処理終了"})));
    EXPECT_EQ(BoxTexts().size(), 1u);  // the declined report only, no closing notice
    dir_.createFile("src/d.txt", "d");
    state_.autoRunCount = 2;
    state_.autoRunPresets[0] = 1;
    state_.autoRunPresets[1] = 4;
    state_.autoRunNext = 1;                   // preset 1 is the one running
    host_.presets[3] = Preset(src(), "", 3);  // preset 4: empty target, passed over
    Run(RunKind::Synchronise, MergePreset());
    EXPECT_THAT(Log(), HasSubstr(Stamped({"Preset 1 終了", "Preset 4 終了", "ﾏｰｼﾞ処理終了"})));
    EXPECT_EQ(host_.dialogResult, 1);
    EXPECT_EQ(dir_.read("dst/d.txt"), "d");
    EXPECT_THAT(host_.outcomes, ElementsAre(RunOutcome::Declined, RunOutcome::Reported,
                                            RunOutcome::Identical, RunOutcome::Reported));
}

TEST_F(SyncMergeTest, CancelledRunsStopBeforeAnyCopyAndTheNewestHundredRecordsAreKept) {
    ASSERT_TRUE(EnsureLogFolder());
    for (int i = 0; i < 105; ++i) {
        char name[64];
        std::snprintf(name, sizeof name, "Changes-2601%02d-%06d.txt", 1 + i / 50, i);
        std::ofstream(LogFilePath(name)) << "# old\n";
    }
    Make("src/new.txt=n|dst/extra1.txt=1|dst/extra2.txt=2");
    ui_.boxes.Answer(kIdYes);  // carry out
    ui_.cancelBeforeItem = 1;
    ui_.boxes.Answer(kIdYes);  // really stop
    Run(RunKind::Synchronise);
    EXPECT_TRUE(platform::Exists(dst() + "/extra1.txt"));
    EXPECT_FALSE(platform::Exists(dst() + "/new.txt"));
    EXPECT_THAT(host_.outcomes, ElementsAre(RunOutcome::Incomplete));
    EXPECT_THAT(Log(), EndsWith("Mirova Preset 1 Done.\n"));
    EXPECT_THAT(Record().endLine, StartsWith("cancelled by the user; deleted files 0"));
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir_.logDir())) {
        names.insert(entry.path().filename().string());
    }
    EXPECT_EQ(names.size(), 101u);  // and the run log
    EXPECT_TRUE(names.contains("Changes-261206-090503.txt"));
    EXPECT_FALSE(names.contains("Changes-260101-000005.txt"));  // the oldest went first
    EXPECT_TRUE(names.contains("Changes-260101-000006.txt"));
}

TEST_F(SyncMergeTest, RunsKeepWhatTheyDeleteOrReplaceAndTheNextCompareFindsNothing) {
    state_.keepVersions = 30;
    state_.noStopOnError = 1;
    // Expired folders of versions go at the start of a run (30 days before the clock is
    // 2026-11-06 09:05:03); a synchronisation leaves its source's alone and never copies them.
    const std::string versions = "dst/.mirova-versions/2026-11-06 0905";
    Make(
        "src/changed.txt=new@1700000900|dst/changed.txt=old@1600000000|dst/empty/"
        "|dst/line\nbreak.txt=newline@1600000200|" +
        versions + "02/sub/x|" + versions +
        "04/x|dst/.mirova-versions/not a stamp/x|src/.mirova-versions/2025-01-01 000000/x"
        "|src/sub/.mirova-versions/listed.txt");
    dir_.createFile("dst/old/deeper/" + std::string(255, 'L'), "long", 1600000400);
    ASSERT_EQ(::chmod((dir_ / "dst/changed.txt").c_str(), 0440), 0);
    ASSERT_EQ(::chmod((dir_ / "dst/old/deeper").c_str(), 0750), 0);
    ASSERT_EQ(::chmod((dir_ / (versions + "02/sub")).c_str(), 0555), 0);  // removed all the same
    Snapshot before = SnapshotTree(dst());
    std::erase_if(before, [](const auto& item) { return item.first.starts_with(".mirova"); });
    Run(RunKind::Synchronise);
    // Every old item under its own relative name, with its content, time and permissions.
    EXPECT_EQ(test::DescribeDifferences(before, SnapshotTree(dir_ / "dst/" + kKept)), "");
    EXPECT_EQ(test::DescribeDifferences(Data(src()), Data(dst())), "");
    EXPECT_EQ(std::to_string(platform::Exists(dir_ / (versions + "02"))) +
                  std::to_string(platform::Exists(dir_ / (versions + "04"))) +
                  std::to_string(platform::Exists(dst() + "/.mirova-versions/not a stamp")) +
                  std::to_string(platform::Exists(src() + "/.mirova-versions/2025-01-01 000000")) +
                  std::to_string(platform::Exists(dst() + "/.mirova-versions/2025-01-01 000000")),
              "01110");
    EXPECT_TRUE(platform::Exists(dst() + "/sub/.mirova-versions/listed.txt"));
    EXPECT_THAT(Log(), HasSubstr(dir_ / (versions + "02") +
                                 " を削除しました（保存期間 30 日を過ぎたﾊﾞｰｼﾞｮﾝ）\n"));
    EXPECT_THAT(Log(), HasSubstr(std::string("削除・上書きされるﾌｧｲﾙは ") + kKept +
                                 " に 30 日間保存されます\n"));
    const std::string record = dir_.read("log/Changes-261206-090503.txt");
    EXPECT_THAT(record, HasSubstr(std::string("keep-version\ttarget\t") + kKept +
                                  "/line\\x0Abreak.txt\t-\t-\t7\t"));
    EXPECT_LT(record.find(std::string(kKept) + "/changed.txt"),
              record.find("copy-changed\ttarget\tchanged.txt"));
    EXPECT_THAT(record, HasSubstr("kept versions 6\n"));
    Run(RunKind::Compare);
    EXPECT_THAT(host_.outcomes, ElementsAre(RunOutcome::Reported, RunOutcome::Identical));
    // A merge keeps the replaced copy on each side.
    Make(
        "src/a.txt=new a@1700000900|dst/a.txt=old a@1600000000|src/b.txt=old b@1600000000"
        "|dst/b.txt=new b@1700000900");
    const auto source = SnapshotTree(src()), target = SnapshotTree(dst());
    Run(RunKind::Synchronise, MergePreset());
    EXPECT_EQ(SnapshotTree(dir_ / "src/" + kKept).at("b.txt"), source.at("b.txt"));
    EXPECT_EQ(SnapshotTree(dir_ / "dst/" + kKept).at("a.txt"), target.at("a.txt"));
    EXPECT_EQ(test::DescribeDifferences(Data(src()), Data(dst())), "");
    EXPECT_THAT(dir_.read("log/Changes-261206-090503-3.txt"),
                HasSubstr(std::string("keep-version\tsource\t") + kKept + "/b.txt\t"));
}

TEST_F(SyncMergeTest, AnItemThatCannotBeKeptStaysAndIsReported) {
    state_.keepVersions = 30;
    state_.noStopOnError = 1;
    // Calls that pass first: a replaced file's copy renames once before it is kept.
    const std::tuple<const char*, platform::FaultCall, int> rows[] = {
        {"gone.txt", FaultCall::Rename, 0},
        {"changed.txt", FaultCall::Rename, 1},
        {"empty", FaultCall::CreateFolder, 0}};
    for (const auto& [name, call, skip] : rows) {
        SCOPED_TRACE(name);
        test::TempDir dir;
        dir.createFile("src/changed.txt", "new", 1700000900);
        dir.createFile("dst/changed.txt", "old", 1600000000);
        dir.createFile("dst/gone.txt", "gone", 1600000000);
        dir.createFolder("dst/empty");
        const auto before = Data(dir / "dst");
        platform::InjectFaultForTesting(call, EIO, name, skip, 1);
        Run(RunKind::Synchronise, Preset(dir / "src", dir / "dst"));
        platform::ClearFaultsForTesting();
        EXPECT_EQ(host_.outcomes.back(), RunOutcome::Incomplete);
        EXPECT_EQ(Data(dir / "dst").at(name), before.at(name));
        const std::string kept = dir / "dst/" + kKept + "/" + name;
        EXPECT_FALSE(platform::Exists(kept));
        EXPECT_THAT(dir.readLog(),
                    HasSubstr(dir / "dst/" + name + " を " + kept + " に移動できません。("));
    }
}

// The end-to-end tests run the unattended refusals; these are the questions and the counts.
TEST_F(SyncMergeTest, OverlapsAndMassDeletionsAreAskedAboutOrRefused) {
    Make("src/docs/a.txt=a");
    const std::string docs = src() + "/docs";
    ui_.boxes.Answer(kIdOk);
    Run(RunKind::Compare, RunPreset{0, docs, src(), 1, 0, ""});  // a merge preset: merged
    EXPECT_THAT(BoxTexts(), ElementsAre("ｿｰｽﾌｫﾙﾀﾞ " + docs + " はﾀｰｹﾞｯﾄﾌｫﾙﾀﾞ " + src() +
                                        " の中にあります。\n重なったﾌｫﾙﾀﾞは同期できません。"));
    EXPECT_THAT(Log(), Not(HasSubstr("CopyTotalDataSize")));  // nothing was scanned
    state_.noStopOnError = 1;  // a target yet to be made inside the source: refused all the same
    Run(RunKind::Synchronise, Preset(src(), docs + "/new"));
    EXPECT_FALSE(platform::Exists(docs + "/new"));
    state_.noStopOnError = 0;
    std::filesystem::remove_all(docs);
    // 60 of 100 files would go; the first 40 are also in the source.
    const auto make = [this](const char* side, int from, int to, const char* content) {
        for (int i = from; i < to; ++i) {
            dir_.createFile(side + ("/f" + std::to_string(i)), content, 1700000000);
        }
    };
    make("dst", 100, 200, "x");
    make("src", 100, 140, "x");
    const std::string brake =
        "ﾀｰｹﾞｯﾄﾌｫﾙﾀﾞ " + dst() + " の 100 個のﾌｧｲﾙのうち 60 個 (60%) が削除されます。(上限 50%)";
    ui_.boxes.Answer(kIdNo);
    Run(RunKind::Synchronise);
    EXPECT_EQ(ui_.boxes.requests().back().text, brake + "\n本当に削除してよろしいですか？");
    EXPECT_EQ(ui_.boxes.requests().back().style, kMbYesNo | kMbDefaultButton2 | kMbIconWarning);
    // Deletions kept as versions still brake, and the question says they will be kept.
    state_.keepVersions = 7;
    ui_.boxes.Answer(kIdNo);
    Run(RunKind::Synchronise);
    EXPECT_EQ(ui_.boxes.requests().back().text,
              brake + "\n削除されるﾌｧｲﾙは " + dst() +
                  "/.mirova-versions に 7 日間保存されます。\n本当に削除してよろしいですか？");
    EXPECT_EQ(TargetFiles(), 100);
    state_.keepVersions = 0;
    state_.noStopOnError = 1;
    state_.suppressDeletion = 1;  // deletes nothing, so nothing brakes
    Run(RunKind::Synchronise);
    EXPECT_EQ(TargetFiles(), 100);
    state_.suppressDeletion = 0;
    // 50 of 100 is within the limit of 50 %; changed files are replaced, not lost.
    make("src", 140, 150, "x");
    make("src", 100, 120, "changed");
    Run(RunKind::Synchronise);
    ExpectMirror();
    // Six of ten files are too few to brake; an empty source (a disk not plugged in) brakes
    // whatever the numbers; a merge never does.
    Make(
        "src/small/1|src/small/2|src/small/3|src/small/4|dst/small/1|dst/small/2|dst/small/3"
        "|dst/small/4|dst/small/5|dst/small/6|dst/small/7|dst/small/8|dst/small/9|dst/small/0");
    Run(RunKind::Synchronise, Preset(src() + "/small", dst() + "/small"));
    std::filesystem::remove_all(src() + "/small");
    Make("src/small/");
    Run(RunKind::Synchronise, Preset(src() + "/small", dst() + "/small"));
    EXPECT_THAT(Log(), HasSubstr("ｿｰｽﾌｫﾙﾀﾞ " + src() + "/small は空です。\nﾀｰｹﾞｯﾄﾌｫﾙﾀﾞ " + dst() +
                                 "/small の 4 個のﾌｧｲﾙと 0 個のﾌｫﾙﾀﾞが全て削除されます。"));
    state_.deleteLimit = 100;  // no brake, nor when lifted for one run
    Run(RunKind::Synchronise, Preset(src() + "/small", dst() + "/small"));
    state_.deleteLimit = 50;
    state_.allowMassDelete = true;
    Make("dst/small/a|dst/small/b|dst/small/c");
    Run(RunKind::Synchronise, Preset(src() + "/small", dst() + "/small"));
    EXPECT_TRUE(std::filesystem::is_empty(dst() + "/small"));
    state_.allowMassDelete = false;
    Make("dst/small/a|dst/small/b|dst/small/c");
    Run(RunKind::Synchronise, RunPreset{0, src() + "/small", dst() + "/small", 1, 0, ""});
    EXPECT_TRUE(platform::Exists(src() + "/small/c"));  // a merge deletes nothing, never brakes
    EXPECT_THAT(host_.outcomes,
                ElementsAre(RunOutcome::Overlapping, RunOutcome::Overlapping, RunOutcome::Declined,
                            RunOutcome::Declined, RunOutcome::Reported, RunOutcome::Reported,
                            RunOutcome::Reported, RunOutcome::Braked, RunOutcome::Reported,
                            RunOutcome::Reported, RunOutcome::Reported));
}

// A source folder that cannot be read lists nothing of its contents: their copies in the target
// are kept, the rest of the run goes on, and the run is no success.
TEST_F(SyncMergeTest, AnUnreadableSourceFolderKeepsItsTargetCopiesAndWritesAreFlushed) {
    const test::ScopedUnprivileged unprivileged(dir_);
    Make(
        "src/locked/a.txt=a@1700000000|src/locked/sub/b.txt=b@1700000000|src/open.txt=o"
        "|dst/locked/a.txt=a@1700000000|dst/locked/sub/b.txt=b@1700000000|dst/extra.txt=x");
    ASSERT_EQ(::chmod((dir_ / "src/locked").c_str(), 0), 0);
    state_.noStopOnError = 1;
    Run(RunKind::Synchronise);
    ::chmod((dir_ / "src/locked").c_str(), 0755);
    EXPECT_EQ(dir_.read("dst/locked/a.txt") + dir_.read("dst/locked/sub/b.txt") +
                  dir_.read("dst/open.txt"),
              "abo");
    EXPECT_FALSE(platform::Exists(dst() + "/extra.txt"));
    EXPECT_EQ(host_.outcomes.back(), RunOutcome::Incomplete);
    EXPECT_THAT(Log(), HasSubstr(Stamped({src() + "/locked が読めないため、ﾀｰｹﾞｯﾄの 3 個の項目は"
                                                  "削除しません。"})));
    EXPECT_THAT(Log(), HasSubstr(Stamped(FailureClosing(1))));
    // What a synchronisation or merge wrote is flushed before it ends; a compare writes nothing.
    const std::string flushing = "ﾃﾞｰﾀをﾃﾞｨｽｸに書き込み中";
    EXPECT_EQ(ui_.statusTexts.back(), flushing);
    ui_.statusTexts.clear();
    Run(RunKind::Compare);
    EXPECT_THAT(ui_.statusTexts, Not(testing::Contains(flushing)));
    dir_.createFile("dst/b.txt", "b");
    Run(RunKind::Synchronise, MergePreset());
    EXPECT_EQ(ui_.statusTexts.back(), flushing);
}

using FaultRunTest = SyncMergeTest;

// Under noStopOnError every failure goes to the log in the order met, and the run goes on.
TEST_F(FaultRunTest, QuietSynchronisationLogsEveryFailureAndGoesOn) {
    Make(
        "src/busy.txt=new busy@1700000500|dst/busy.txt=old busy@1700000000|src/locked.txt=L"
        "|src/stamp.txt=S|src/vanished.txt=new vanished@1700000500|src/z-last.txt=Z|src/newdir/"
        "|dst/vanished.txt=old vanished@1700000000|src/zz-dir/");
    auto before = SnapshotTree(dst());
    platform::InjectFaultForTesting(FaultCall::Rename, EBUSY, "busy.txt");
    platform::InjectFaultForTesting(FaultCall::OpenRead, EACCES, "locked.txt");
    platform::InjectFaultForTesting(FaultCall::CreateFolder, EACCES, "newdir");
    FailWhileCopying(src() + "/stamp.txt", FaultCall::SetTimes, EIO);
    platform::InjectFaultForTesting(FaultCall::OpenRead, ENOENT, "vanished.txt");
    state_.noStopOnError = 1;
    Run(RunKind::Synchronise);
    EXPECT_TRUE(ui_.boxes.requests().empty());
    const auto cannotCreate = [](int site, const std::string& path) {
        return Format(".\\FileCtrl:%d - %s が作成できません。", site, path.c_str());
    };
    const auto cannotOpen = [](const std::string& path) {
        return Format(".\\FileCtrl:316 - %s が開けません。", path.c_str());
    };
    EXPECT_EQ(
        Log(),
        Dated("Mirova Preset 1 Start.") +
            Stamped({"OptionD=OFF OptionA=0 ", RecordLine(), "CopyTotalDataSize = 0KB",
                     cannotCreate(330, dst() + "/busy.txt"), cannotOpen(src() + "/locked.txt"),
                     cannotCreate(330, dst() + "/stamp.txt"), cannotOpen(src() + "/vanished.txt"),
                     cannotCreate(244, dst() + "/newdir")}) +
            Dated("Mirova Preset 1 Done.") + Stamped(FailureClosing(5)));
    EXPECT_THAT(host_.outcomes, ElementsAre(RunOutcome::Incomplete));
    EXPECT_EQ(ui_.failures(), 5);
    // Only z-last.txt arrived: the create list ends at its first failure.
    before["z-last.txt"] = SnapshotTree(src()).at("z-last.txt");
    EXPECT_EQ(test::DescribeDifferences(before, SnapshotTree(dst())), "");
    EXPECT_EQ(SnapshotTree(src()).at("busy.txt").content, "new busy");
    ExpectNoPartialCopies();
    ClearFaults();
    Run(RunKind::Synchronise);
    ExpectMirror();
    EXPECT_THAT(Log(), testing::EndsWith(Dated("Mirova Preset 1 Done.") + Stamped("ｱｯﾌﾟﾃﾞｰﾄ完了")));
}

// A failed copy of a merge: asked about and stopped, or passed over under noStopOnError; the
// other direction and the folders are done either way, and a second run evens the trees out.
class MergeFaultRunTest : public SyncMergeTest, public ::testing::WithParamInterface<bool> {};

TEST_P(MergeFaultRunTest, MergeWithAFailedCopyStillRunsItsOtherSteps) {
    const bool quiet = GetParam();
    Make(
        "src/newer.txt=source, older@1700000000|dst/newer.txt=target, newer@1700000500"
        "|src/from-src.txt=S|dst/from-dst.txt=D|src/srconly/|dst/dstonly/");
    const auto older = SnapshotTree(src()).at("newer.txt");
    FailWhileCopying(dst() + "/newer.txt", FaultCall::Read, EIO);  // the first copy to the source
    state_.noStopOnError = quiet;
    if (!quiet) {
        ui_.boxes.Answer(kIdYes);  // merge
        ui_.boxes.Answer(kIdNo);   // do not go on after the failed copy
    }
    Run(RunKind::Synchronise, MergePreset());
    const std::string unreadable = dst() + "/newer.txt が読めません。";
    if (quiet) {
        EXPECT_TRUE(BoxTexts().empty());
        // The list goes on, but the failure passed over keeps the run from being complete.
        EXPECT_THAT(Log(), HasSubstr(Stamped({unreadable, FailureClosing(1), "ﾏｰｼﾞ処理終了"})));
    } else {
        EXPECT_THAT(BoxTexts(), ElementsAre(HasSubstr("ﾏｰｼﾞ処理を続行しますか？"), unreadable,
                                            kContinueQuestion, FailureClosing(1)));
        EXPECT_THAT(Log(), Not(HasSubstr("が読めません")));
    }
    EXPECT_THAT(host_.outcomes, ElementsAre(RunOutcome::Incomplete));
    EXPECT_EQ(ui_.failures(), 1);
    EXPECT_EQ(SnapshotTree(src()).at("newer.txt"), older);
    EXPECT_EQ(platform::Exists(src() + "/from-dst.txt"), quiet);
    EXPECT_EQ(dir_.read("dst/from-src.txt"), "S");
    EXPECT_TRUE(platform::Exists(src() + "/dstonly") && platform::Exists(dst() + "/srconly"));
    ExpectNoPartialCopies();
    ClearFaults();
    state_.noStopOnError = 0;
    ui_.boxes.Answer(kIdYes);
    Run(RunKind::Synchronise, MergePreset());
    EXPECT_EQ(ui_.boxes.requests().back().text, "ﾏｰｼﾞ完了");
    EXPECT_EQ(dir_.read("src/newer.txt"), "target, newer");
    ExpectMirror();
}

INSTANTIATE_TEST_SUITE_P(AskedOrQuiet, MergeFaultRunTest, ::testing::Bool());

// A folder swapped for a link to the outside while the report is read: each direction of the
// merge, and a folder to create, passes through it, and nothing outside changes.
TEST_F(FaultRunTest, MergeAfterASourceFolderWasSwappedLeavesTheOutsideAlone) {
    Make(
        "src/d/newer-in-src.txt=src new@1700000500|dst/d/newer-in-src.txt=old@1700000000"
        "|src/d/newer-in-dst.txt=old@1700000000|dst/d/newer-in-dst.txt=dst new@1700000500"
        "|dst/d/only-dst/|src/top-new.txt=top new|outside/newer-in-src.txt=outside@1800000000"
        "|outside/newer-in-dst.txt=outside@1800000000");
    const auto outside = SnapshotTree(dir_ / "outside"), moved = SnapshotTree(src() + "/d");
    ui_.beforeBox = [this](const std::string&, int style) {
        if (style == kMbYesNo && !platform::Exists(dir_ / "moved-away")) {
            ASSERT_EQ(::rename((src() + "/d").c_str(), (dir_ / "moved-away").c_str()), 0);
            ASSERT_EQ(::symlink((dir_ / "outside").c_str(), (src() + "/d").c_str()), 0);
        }
    };
    for (const int answer : {kIdYes, kIdOk, kIdCancel, kIdYes, kIdOk, kIdOk}) {
        ui_.boxes.Answer(answer);
    }
    Run(RunKind::Synchronise, MergePreset());
    EXPECT_EQ(test::DescribeDifferences(outside, SnapshotTree(dir_ / "outside")), "");
    EXPECT_EQ(test::DescribeDifferences(moved, SnapshotTree(dir_ / "moved-away")), "");
    EXPECT_EQ(dir_.read("dst/d/newer-in-src.txt"), "old");
    EXPECT_EQ(dir_.read("dst/top-new.txt"), "top new");  // the list went on
    EXPECT_THAT(host_.outcomes, ElementsAre(RunOutcome::Incomplete));
    const std::string cannotMake = ".\\FileCtrl:206 - " + src() + "/d/ が作成できません。";
    const std::string cannotOpen =
        ".\\FileCtrl:316 - " + src() + "/d/newer-in-src.txt が開けません。";
    EXPECT_THAT(BoxTexts(),
                ElementsAre(HasSubstr("ﾏｰｼﾞ処理を続行しますか？"), cannotMake, cannotOpen,
                            kContinueQuestion,
                            ".\\FileCtrl:244 - " + src() + "/d/only-dst が作成できません。",
                            FailureClosing(3)));
    EXPECT_THAT(Log(), HasSubstr(Stamped({cannotMake, cannotOpen})));
    EXPECT_EQ(ui_.boxes.unscripted(), 0u);
}

}  // namespace
}  // namespace mirova
