// Whole runs on real trees: boxes, log, records, kept versions, safety checks, failed calls.
#include "engine/Run.h"

#include <gmock/gmock.h>

#include <condition_variable>

#include "RandomTrees.h"
#include "ScriptedMessages.h"
#include "fileops/Format.h"
#include "fileops/RunLog.h"
#include "fileops/SafeCopy.h"
#include "platform/Clock.h"
#include "platform/FaultInjection.h"
#include "platform/FileSystem.h"
#include "settings/ExclusionList.h"

namespace mirova {
namespace {

using platform::FaultCall;
using test::SnapshotTree;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::StartsWith;
using Names = std::vector<std::string>;
using test::Snapshot;

constexpr const char* kStamp = "261206-090503: ";
const std::string kKept = ".mirova-versions/2026-12-06 090503";  // by the fixture's clock

// Scripted boxes, recorded texts and shell calls, and a queue drained in place of an event loop.
class TestUi final : public RunUi {
public:
    test::ScriptedMessages boxes;
    std::vector<std::string> statusTexts, opened;
    int statusWindowsOpen = 0, itemsOffered = 0;
    int cancelBeforeItem = 0;  // Cancel is pressed before this item of the run (from 1); 0 never

    int DoMessageBox(const std::string& text, int style) override {
        return boxes.DoMessageBox(text, style);
    }
    std::unique_ptr<StatusWindow> ShowStatusWindow() override {
        return std::make_unique<Status>(*this);
    }
    std::unique_ptr<ProgressWindow> ShowProgressWindow() override {
        return std::make_unique<Progress>(*this);
    }
    void OpenWithShell(const std::string& path) override { opened.push_back(path); }
    void PostToRunThread(std::function<void()> call) override {
        std::lock_guard lock(mutex_);
        posted_.push_back(std::move(call));
        wake_.notify_one();
    }
    void PumpUntil(const std::function<bool()>& done) {
        while (!done()) {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [this] { return !posted_.empty(); });
            std::function<void()> call = std::move(posted_.front());
            posted_.pop_front();
            lock.unlock();
            call();
        }
    }

private:
    struct Progress final : ProgressWindow {
        explicit Progress(TestUi& ui) : ui_(ui) {}
        void SetStatusText(const std::string&) override {}
        void SetRange(int, int) override {}
        void SetStep(int) override {}
        int StepBar() override { return 0; }
        bool TakeCancelRequest() override { return ++ui_.itemsOffered == ui_.cancelBeforeItem; }
        TestUi& ui_;
    };
    struct Status final : StatusWindow {
        explicit Status(TestUi& ui) : ui_(ui) { ++ui_.statusWindowsOpen; }
        ~Status() override { --ui_.statusWindowsOpen; }
        void SetStatusText(const std::string& text) override { ui_.statusTexts.push_back(text); }
        TestUi& ui_;
    };
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> posted_;
};

// Presets looked up by a run (the command-line list) are empty.
class TestHost final : public RunHost {
public:
    std::vector<int> selected;
    int dialogResult = -1;
    std::vector<RunOutcome> outcomes;
    RunPreset PresetAt(int index) const override { return {index, "", "", 0, 0, ""}; }
    void SelectPreset(int index) override { selected.push_back(index); }
    void OnOK() override {}
    void EndDialog(int result) override { dialogResult = result; }
    void RunEnded(RunOutcome outcome) override { outcomes.push_back(outcome); }
};

class RunTest : public ::testing::Test {
protected:
    void SetUp() override {
        platform::SetClock(&clock_);
        Make("src/|dst/");
    }
    void TearDown() override {
        platform::ClearFaultsForTesting();
        SetCopyStartHookForTesting(nullptr);
        platform::SetClock(nullptr);
    }
    // Makes "file=content@mtime|folder/|..." from parts (no content or time: empty, now).
    template <typename... Parts>
    void Make(const Parts&... parts) const {
        dir_.make(((std::string(parts) + "|") + ...), '|');
    }
    std::string src() const { return dir_ / "src"; }
    std::string dst() const { return dir_ / "dst"; }
    static RunPreset Preset(std::string source, std::string target, int index = 0, int merge = 0) {
        return {index, std::move(source), std::move(target), merge, 0, ""};
    }
    RunPreset MergePreset() const { return Preset(src(), dst(), 0, 1); }
    static std::string Stamped(std::initializer_list<std::string> texts) {
        std::string lines;
        std::ranges::for_each(texts, [&](const auto& text) { lines += kStamp + text + "\n"; });
        return lines;
    }
    static std::string FailureClosing(int failures) {
        return std::to_string(failures) + " 個のﾌｧｲﾙ/ﾌｫﾙﾀﾞの処理に失敗しました。\n詳細はﾛｸﾞ " +
               LogFilePath(kRunLogName) + " を見てください。";
    }
    static std::string Dated(const std::string& text) {
        return "2026年12月6日 9:5:3  " + text + "\n";
    }
    void Run(RunKind kind, const RunPreset& preset, const ExclusionTest* exclusions = nullptr) {
        const std::size_t ended = host_.outcomes.size();
        run_.StartRun(kind, preset, exclusions);
        ui_.PumpUntil([&] { return host_.outcomes.size() > ended; });
        EXPECT_FALSE(run_.running());
        EXPECT_EQ(ui_.statusWindowsOpen, 0);
    }
    void Run(RunKind kind) { Run(kind, Preset(src(), dst())); }
    // Runs; checks the outcome, then the boxes and new log texts in order ("!text": never).
    void Check(RunKind kind, const RunPreset& preset, RunOutcome outcome, const Names& boxes,
               const Names& logged = {}, const ExclusionTest* exclusions = nullptr) {
        const std::size_t shown = ui_.boxes.requests().size(), logSize = dir_.readLog().size();
        Run(kind, preset, exclusions);
        EXPECT_EQ(host_.outcomes.back(), outcome);
        const auto shownNow = ui_.boxes.requests();
        EXPECT_EQ(shownNow.size() - shown, boxes.size()) << shownNow.back().text;
        for (std::size_t i = 0; i < boxes.size() && shown + i < shownNow.size(); ++i) {
            EXPECT_THAT(shownNow[shown + i].text, HasSubstr(boxes[i]));
        }
        const std::string log = dir_.readLog().substr(logSize);
        std::size_t at = 0;
        for (const std::string& text : logged) {
            const bool never = text.starts_with('!');
            const std::size_t found = log.find(never ? text.substr(1) : text, at);
            EXPECT_EQ(found == std::string::npos, never) << text << "\nin:\n" << log.substr(at);
            at = never || found == std::string::npos ? at : found + text.size();
        }
    }
    void Check(RunKind kind, RunOutcome outcome, const Names& boxes, const Names& logged = {}) {
        Check(kind, Preset(src(), dst()), outcome, boxes, logged);
    }
    // Makes one call fail once while one source file is copied; `also` runs as that copy begins.
    static void FailWhileCopying(
        const std::string& source, FaultCall call, int error, std::function<void()> also = [] {}) {
        struct stat wanted {};
        ASSERT_EQ(::stat(source.c_str(), &wanted), 0) << source;
        SetCopyStartHookForTesting([wanted, call, error, also](int sourceFd, int) {
            struct stat st {};
            if (::fstat(sourceFd, &st) == 0 && st.st_ino == wanted.st_ino) {
                platform::InjectFaultForTesting(call, error, {}, 0, 1);
                also();
            }
        });
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
    static Snapshot Data(const std::string& root) {  // without the folder of versions
        auto items = SnapshotTree(root);
        std::erase_if(items, [](const auto& item) { return item.first.starts_with(".mirova"); });
        return items;
    }

    test::TempDir dir_;
    platform::FixedClock clock_{platform::LocalTime{2026, 12, 6, 9, 5, 3}};
    RunState state_;
    TestHost host_;
    TestUi ui_;
    RunController run_{state_, host_, ui_};
};

TEST_F(RunTest, IdenticalTreesEndWithTheMatchMessageAndNoReport) {
    Make("src/a.txt=hello@1700000000|dst/a.txt=hello@1700000000|src/sub/|dst/sub/");
    run_.StartRun(RunKind::Compare, Preset(src(), dst()), nullptr);
    Run(RunKind::Compare, Preset(dst(), src(), 7));  // ignored while the first runs: no "Preset 8"
    EXPECT_THAT(host_.outcomes, ElementsAre(RunOutcome::Identical));
    ASSERT_EQ(ui_.boxes.requests().size(), 1u);
    EXPECT_EQ(ui_.boxes.requests()[0].text, "ｿｰｽとﾀｰｹﾞｯﾄは完全に一致します。");
    EXPECT_THAT(ui_.statusTexts, ElementsAre("ﾌｧｲﾙﾘｽﾄを作成中", "ﾌｧｲﾙﾘｽﾄを編集中"));
    EXPECT_EQ(dir_.readLog(),
              Dated("Compare Preset 1 Start.") +
                  Stamped({"OptionD=OFF OptionA=0 ",
                           "変更記録 " + LogFilePath("Changes-261206-090503.txt"),
                           "CopyTotalDataSize = 0KB", "ｿｰｽとﾀｰｹﾞｯﾄは完全に一致します。"}) +
                  Dated("Compare Preset 1 Done."));
}

// A compare asks about an older source even when quiet, then reports and lists the differences.
TEST_F(RunTest, CompareAsksAboutOlderSourcesReportsAndListsTheDifferences) {
    Make("log/ReverseList.txt=earlier|src/old.txt=a@1000|dst/old.txt=b@1100|src/emptynew/",
         "src/same.txt=x@1000|dst/same.txt=x@1000|dst/extra.txt=e@1000|dst/gone/inner.txt=i@9",
         "src/changed.txt=new content@1100|dst/changed.txt=old@1000");
    dir_.createFile("src/new.bin", std::string(3000, 'n'), 1000);
    state_.noStopOnError = 1;
    ui_.boxes.Answer(kIdNo);
    const std::string older = "ｿｰｽがﾀｰｹﾞｯﾄよりも古いようです。\n本当に同期させてよろしいですか？";
    Check(RunKind::Compare, RunOutcome::Declined, {older},
          {"!CopyTotalDataSize", Stamped({older, "Aborted !"}) + Dated("Compare Preset 1 Done.")});
    EXPECT_THAT(ui_.opened, ElementsAre(dir_.logDir() + "/ReverseList.txt"));
    EXPECT_EQ(dir_.read("log/ReverseList.txt"), "old.txt\r\n");
    const std::string report =
        "ﾀｰｹﾞｯﾄに 4 個の更新ﾌｧｲﾙ/ﾌｫﾙﾀﾞ、4 個の余剰ﾌｧｲﾙ、1 個の余剰ﾌｫﾙﾀﾞが有ります。\n"
        "結果はリストとしてログに記憶されます。";
    const std::string t = dst() + "//";  // a stored target may end with "/": listed doubled
    ui_.boxes.Answer(kIdYes);
    Check(
        RunKind::Compare, Preset(src(), dst() + "/", 4), RunOutcome::Reported, {older, report},
        {"Compare Preset 5 Start.", Stamped({older + "YES"}),
         Stamped({"CopyTotalDataSize = 2KB", report, "余剰ファイル 4", t + "changed.txt",
                  t + "old.txt", t + "extra.txt", t + "gone/inner.txt", "余剰フォルダ 1",
                  t + "gone/", "更新ファイル 3", t + "changed.txt", t + "new.bin", t + "old.txt"}),
         "Compare Preset 5 Done."});
    EXPECT_EQ(dir_.read("dst/changed.txt"), "old");  // a compare changes nothing
}

TEST_F(RunTest, MissingFoldersEndTheRunOrAreCreatedWhenAsked) {
    Make("src/a.txt=a|blocker=a file where a folder should be");
    // A synchronisation asks to create a missing target; without stops the answer is Yes.
    const std::string create =
        "ﾀｰｹﾞｯﾄﾌｫﾙﾀﾞ " + (dir_ / "new/deep") + " は存在しません。作成しますか？";
    ui_.boxes.Answer(kIdNo);
    Check(RunKind::Synchronise, Preset(src(), dir_ / "new/deep"), RunOutcome::Declined, {create},
          {"!作成しますか"});
    EXPECT_FALSE(platform::Exists(dir_ / "new"));
    state_.noStopOnError = 1;
    Check(RunKind::Synchronise, Preset(src(), dir_ / "new/deep"), RunOutcome::Reported, {},
          {Stamped({create + "YES"})});
    EXPECT_EQ(dir_.read("new/deep/a.txt"), "a");
    // One that cannot be made is logged, and moves a command-line list on.
    state_.autoRunCount = 1;
    state_.autoRunPresets[0] = 2;
    Check(RunKind::Synchronise, Preset(src(), dir_ / "blocker/dst"), RunOutcome::MissingFolder, {},
          {Stamped({".\\MirovaDlg:723 - " + (dir_ / "blocker/dst") + " が作成できません。"})});
    EXPECT_THAT(host_.selected, ElementsAre(1));  // preset 2 is empty: passed over
    EXPECT_EQ(host_.dialogResult, 1);
}

TEST_F(RunTest, FailedScansAndExclusionsOnlyWhenThePresetSwitchIsOn) {
    // A root that exists but is no folder: the scan asks (Ignore), then the run names it.
    Make("file-root=x|src/1|src/2|src/3.tmp|dst/1|dst/2");
    ui_.boxes.Answer(kIdIgnore);
    Check(RunKind::Compare, Preset(src(), dir_ / "file-root"), RunOutcome::ScanFailed,
          {"", ".\\MirovaDlg:836 - " + (dir_ / "file-root") + " を開けません。"});
    // A source list that overflows fails the source scan.
    run_.SetFileListCapacity(2);
    state_.noStopOnError = 1;
    Check(
        RunKind::Compare, RunOutcome::ScanFailed, {},
        {Stamped({"ﾌｧｲﾙﾘｽﾄがｵｰﾊﾞｰﾌﾛｰしました", ".\\MirovaDlg:819 - " + src() + " を開けません。"}),
         "!Done."});
    ExclusionList exclusions;
    exclusions.AddExtension("tmp");
    RunPreset preset = Preset(src(), dst());
    preset.useExclusions = 1;
    Check(RunKind::Compare, preset, RunOutcome::Identical, {}, {}, &exclusions);
    preset.useExclusions = 0;
    Check(RunKind::Compare, preset, RunOutcome::ScanFailed, {}, {}, &exclusions);
}

using SyncMergeTest = RunTest;

// What a synchronisation must do, from the two trees alone: "<action> <path>" by kind, by name.
Names ExpectedSync(const Snapshot& source, const Snapshot& target) {
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

// Random trees: a compare records what the sync then does, as modelled; merges converge too.
TEST_F(SyncMergeTest, RandomTreesEndAsTheModelSaysWithTheRecordTheCompareForetold) {
    state_.noStopOnError = 1;
    state_.allowMassDelete = true;
    test::Converge(src(), dst(), 1, 8, [this](bool merge) {
        if (merge) {
            Run(RunKind::Synchronise, MergePreset());
            EXPECT_THAT(Record().endLine, StartsWith("completed; "));
            return dir_.readLog();
        }
        const Snapshot source = SnapshotTree(src());
        const Names expected = ExpectedSync(source, SnapshotTree(dst()));
        std::map<std::string, unsigned long long> n;  // items by action, and the bytes copied
        for (const std::string& line : expected) {
            const std::size_t space = line.find(' ');
            const bool copy = line.starts_with("copy");
            ++n[copy ? "copy" : line.substr(0, space)];
            n["bytes"] += copy ? source.at(line.substr(space + 1)).content.size() : 0;
        }
        const std::string end = Format(
            "completed; deleted files %llu, deleted folders %llu, copied "
            "%llu (%llu bytes), created folders %llu",
            n["delete-file"], n["delete-folder"], n["copy"], n["bytes"], n["create-folder"]);
        std::string previous;
        for (const RunKind kind : {RunKind::Compare, RunKind::Synchronise}) {
            Run(kind);
            EXPECT_NE(run_.changeRecordPath(), previous);  // the same second: a suffix
            EXPECT_EQ(LatestChangeRecord(), previous = run_.changeRecordPath());
            EXPECT_EQ(Summary(Record()), expected);
            EXPECT_EQ(Record().endLine, end);
            const std::string word = kind == RunKind::Compare ? "run: compare" : "run: sync";
            EXPECT_THAT(Record().headerLines, testing::IsSupersetOf({word, "target: " + dst()}));
        }
        return dir_.readLog();
    });
}

// Newer versions both ways: the random trees above. A file and a folder cannot be merged.
TEST_F(SyncMergeTest, MergesAreAskedForAndNeverJoinAFileAndAFolder) {
    Make("dst/a/b.txt=b@1700000000|dst/c/|src/s.txt=s|src/size.txt=12345@1700000000",
         "dst/size.txt=1@1700000001");
    const std::string question = "ｺﾋﾟｰが必要なﾌｧｲﾙが 3 個、作成が必要なﾌｫﾙﾀﾞが 2 個 あります。";
    ui_.boxes.Answer(kIdNo);
    Check(RunKind::Synchronise, MergePreset(), RunOutcome::Declined,
          {question + "\nﾏｰｼﾞ処理を続行しますか？"}, {Stamped({"ﾏｰｼﾞ処理終了"})});
    EXPECT_FALSE(platform::Exists(src() + "/c"));
    EXPECT_THAT(Record().endLine, StartsWith("declined; "));
    Make("src/clash=file|dst/clash/");
    state_.noStopOnError = 1;  // quiet, a merge preset is merged whatever the run kind
    Check(RunKind::Compare, MergePreset(), RunOutcome::Incomplete, {},
          {Stamped({"clash はｿｰｽとﾀｰｹﾞｯﾄでﾌｧｲﾙとﾌｫﾙﾀﾞが異なるためﾏｰｼﾞできません。"}),
           kStamp + question, Stamped({FailureClosing(1)}), "!Done."});
    Snapshot source = SnapshotTree(src()), target = SnapshotTree(dst());
    EXPECT_EQ(source.extract("clash").mapped().kind + target.extract("clash").mapped().kind,
              'f' + 'd');
    EXPECT_EQ(source["size.txt"].content, "12345");  // times within two seconds: the larger
    EXPECT_EQ(test::DescribeDifferences(source, target), "");
    const RecordContents merged = Record();
    EXPECT_THAT(merged.headerLines, testing::Contains("run: merge"));
    Names sides = Summary(merged);
    for (std::size_t i = 0; i < sides.size(); ++i) {
        sides[i] += merged.items[i].side == ChangeSide::Source ? " S" : " T";
    }
    EXPECT_THAT(sides,
                ElementsAre(StartsWith("failed "), "copy-new a/b.txt S", "copy-new s.txt T",
                            "copy-changed size.txt T", "create-folder a S", "create-folder c S"));
    std::filesystem::remove(src() + "/clash");
    std::filesystem::remove(dst() + "/clash");
    Check(RunKind::Synchronise, MergePreset(), RunOutcome::Identical, {},
          {Stamped({"ｿｰｽとﾀｰｹﾞｯﾄが完全に一致しました。", "ﾏｰｼﾞ処理終了"})});
}

TEST_F(SyncMergeTest, CancelledRunsStopBeforeAnyCopy) {
    Make("src/new.txt=n|dst/extra1.txt=1|dst/extra2.txt=2");
    ui_.boxes.Answer(kIdYes);  // carry out
    ui_.cancelBeforeItem = 1;
    ui_.boxes.Answer(kIdYes);  // really stop
    Check(RunKind::Synchronise, RunOutcome::Incomplete, {"", ""}, {"Mirova Preset 1 Done.\n"});
    EXPECT_TRUE(platform::Exists(dst() + "/extra1.txt") && !platform::Exists(dst() + "/new.txt"));
    EXPECT_THAT(Record().endLine, StartsWith("cancelled by the user; deleted files 0"));
}

TEST_F(SyncMergeTest, RunsKeepWhatTheyDeleteOrReplaceAndTheNextCompareFindsNothing) {
    state_.keepVersions = 30;
    state_.noStopOnError = 1;
    // Expired versions (before 2026-11-06 090503) go first; the source's stay and are not copied.
    const std::string versions = "dst/.mirova-versions/2026-11-06 0905";
    Make("src/changed.txt=new@1700000900|dst/changed.txt=old@1600000000|dst/empty/",
         "dst/line\nbreak.txt=newline@1600000200", versions + "02/sub/x", versions + "04/x",
         "dst/.mirova-versions/not a stamp/x|src/.mirova-versions/2025-01-01 000000/x",
         "src/sub/.mirova-versions/listed.txt");
    dir_.createFile("dst/old/deeper/" + std::string(255, 'L'), "long", 1600000400);
    ASSERT_EQ(::chmod((dir_ / "dst/changed.txt").c_str(), 0440), 0);
    ASSERT_EQ(::chmod((dir_ / "dst/old/deeper").c_str(), 0750), 0);
    ASSERT_EQ(::chmod((dir_ / (versions + "02/sub")).c_str(), 0555), 0);  // removed all the same
    const Snapshot before = Data(dst());
    Check(RunKind::Synchronise, RunOutcome::Reported, {},
          {"削除・上書きされるﾌｧｲﾙは " + kKept + " に 30 日間保存されます\n",
           dir_ / (versions + "02") + " を削除しました（保存期間 30 日を過ぎたﾊﾞｰｼﾞｮﾝ）\n"});
    // Every old item under its own relative name, with its content, time and permissions.
    EXPECT_EQ(test::DescribeDifferences(before, SnapshotTree(dir_ / "dst/" + kKept)), "");
    EXPECT_EQ(test::DescribeDifferences(Data(src()), Data(dst())), "");
    std::string exist;
    for (const std::string& path :
         Names{versions + "02", versions + "04", "dst/.mirova-versions/not a stamp",
               "src/.mirova-versions/2025-01-01 000000", "dst/.mirova-versions/2025-01-01 000000",
               "dst/sub/.mirova-versions/listed.txt"}) {
        exist += platform::Exists(dir_ / path) ? '1' : '0';
    }
    EXPECT_EQ(exist, "011101");
    Check(RunKind::Compare, RunOutcome::Identical, {});
    // A merge keeps the replaced copy on each side.
    Make("src/a.txt=new@1700000900|dst/a.txt=old a@1600000000|src/b.txt=old b@1600000000",
         "dst/b.txt=new@1700000900");
    Run(RunKind::Synchronise, MergePreset());
    EXPECT_EQ(dir_.read("src/" + kKept + "/b.txt") + dir_.read("dst/" + kKept + "/a.txt"),
              "old bold a");
}

TEST_F(SyncMergeTest, AnItemThatCannotBeKeptStaysAndIsReported) {
    state_.keepVersions = 30;
    state_.noStopOnError = 1;
    // Calls that pass first: a replaced file's copy renames once before it is kept.
    const std::tuple<const char*, FaultCall, int> rows[] = {{"gone.txt", FaultCall::Rename, 0},
                                                            {"changed.txt", FaultCall::Rename, 1},
                                                            {"empty", FaultCall::CreateFolder, 0}};
    char row = 'a';  // each in a folder of its own
    for (const auto& [name, call, skip] : rows) {
        SCOPED_TRACE(name);
        const std::string r(1, row++), target = dir_ / r + "/dst", kept = target + "/" + kKept;
        Make(r + "/src/changed.txt=new@1700000900|" + r + "/dst/changed.txt=old@1600000000|" + r +
             "/dst/gone.txt=gone@1600000000|" + r + "/dst/empty/");
        const auto before = Data(target);
        platform::InjectFaultForTesting(call, EIO, name, skip, 1);
        Check(RunKind::Synchronise, Preset(dir_ / r + "/src", target), RunOutcome::Incomplete, {},
              {target + "/" + name + " を " + kept + "/" + name + " に移動できません。("});
        platform::ClearFaultsForTesting();
        EXPECT_EQ(Data(target).at(name), before.at(name));
        EXPECT_FALSE(platform::Exists(kept + "/" + name));
    }
}

TEST_F(SyncMergeTest, OverlapsAndMassDeletionsAreAskedAboutOrRefused) {
    // A target yet to be made inside the source is refused like any overlap, unattended too.
    Make("src/docs/a.txt=a");
    state_.noStopOnError = 1;
    Run(RunKind::Synchronise, Preset(src(), src() + "/docs/new"));
    EXPECT_EQ(host_.outcomes.back(), RunOutcome::Overlapping);
    EXPECT_FALSE(platform::Exists(src() + "/docs/new"));
    state_.noStopOnError = 0;
    std::filesystem::remove_all(src() + "/docs");
    // 60 of 100 files would go; the first 40 are also in the source.
    const auto make = [this](const char* side, int from, int to, const char* content) {
        for (int i = from; i < to; ++i) {
            dir_.createFile(side + ("/f" + std::to_string(i)), content, 1700000000);
        }
    };
    make("dst", 100, 200, "x");
    make("src", 100, 140, "x");
    const std::string brake =
        "ﾀｰｹﾞｯﾄﾌｫﾙﾀﾞ " + dst() + " の 100 個のﾌｧｲﾙのうち 60 個 (60%) が削除されます。(上限 50%)\n";
    ui_.boxes.Answer(kIdNo);
    Check(RunKind::Synchronise, RunOutcome::Declined, {brake + "本当に削除してよろしいですか？"});
    EXPECT_EQ(ui_.boxes.requests().back().style, kMbYesNo | kMbDefaultButton2 | kMbIconWarning);
    // Deletions kept as versions still brake, and the question says they will be kept.
    state_.keepVersions = 7;
    ui_.boxes.Answer(kIdNo);
    Check(RunKind::Synchronise, RunOutcome::Declined,
          {brake + "削除されるﾌｧｲﾙは " + dst() +
           "/.mirova-versions に 7 日間保存されます。\n本当に削除してよろしいですか？"});
    state_.keepVersions = 0;
    state_.noStopOnError = state_.suppressDeletion = 1;  // deletes nothing, so nothing brakes
    Check(RunKind::Synchronise, RunOutcome::Reported, {}, {"OptionD=ON OptionA=0 \n"});
    EXPECT_EQ(SnapshotTree(dst()).size(), 100u);
    state_.suppressDeletion = 0;
    // 50 of 100 is within the limit of 50 %; changed files are replaced, not lost.
    make("src", 140, 150, "x");
    make("src", 100, 120, "changed");
    Check(RunKind::Synchronise, RunOutcome::Reported, {});
    EXPECT_EQ(DescribeDifferences(SnapshotTree(src()), SnapshotTree(dst())), "");
    // Six of ten is too few to brake; an empty source brakes unless at 100 %, allowed, or merged.
    make("src/small", 0, 4, "");
    make("dst/small", 0, 10, "");
    const RunPreset small = Preset(src() + "/small", dst() + "/small");
    Check(RunKind::Synchronise, small, RunOutcome::Reported, {});
    std::filesystem::remove_all(small.sourceFolder);
    Make("src/small/");
    Check(RunKind::Synchronise, small, RunOutcome::Braked, {},
          {"ｿｰｽﾌｫﾙﾀﾞ " + src() + "/small は空です。\nﾀｰｹﾞｯﾄﾌｫﾙﾀﾞ " + dst() +
           "/small の 4 個のﾌｧｲﾙと 0 個のﾌｫﾙﾀﾞが全て削除されます。"});
    state_.deleteLimit = 100;
    Check(RunKind::Synchronise, small, RunOutcome::Reported, {});
    state_.deleteLimit = 50;
    state_.allowMassDelete = true;
    Make("dst/small/a|dst/small/b|dst/small/c");
    Check(RunKind::Synchronise, small, RunOutcome::Reported, {});
    EXPECT_TRUE(std::filesystem::is_empty(small.targetFolder));
    state_.allowMassDelete = false;
    Make("dst/small/a|dst/small/b|dst/small/c");
    Check(RunKind::Synchronise, Preset(small.sourceFolder, small.targetFolder, 0, 1),
          RunOutcome::Reported, {});
    EXPECT_TRUE(platform::Exists(src() + "/small/c"));  // merged, not deleted
}

// An unreadable source folder's target copies are kept, the run goes on, fails, and flushes.
TEST_F(SyncMergeTest, AnUnreadableSourceFolderKeepsItsTargetCopiesAndWritesAreFlushed) {
    const test::ScopedUnprivileged unprivileged(dir_);
    Make("src/locked/a.txt=a@1700000000|src/locked/sub/b.txt=b@1700000000|src/open.txt=o",
         "dst/locked/a.txt=a@1700000000|dst/locked/sub/b.txt=b@1700000000|dst/extra.txt=x");
    ASSERT_EQ(::chmod((dir_ / "src/locked").c_str(), 0), 0);
    state_.noStopOnError = 1;
    Check(RunKind::Synchronise, RunOutcome::Incomplete, {},
          {Stamped({src() + "/locked が読めないため、ﾀｰｹﾞｯﾄの 3 個の項目は削除しません。"}),
           Stamped({FailureClosing(1)})});
    ::chmod((dir_ / "src/locked").c_str(), 0755);
    EXPECT_EQ(dir_.read("dst/locked/a.txt") + dir_.read("dst/locked/sub/b.txt") +
                  dir_.read("dst/open.txt"),
              "abo");
    EXPECT_FALSE(platform::Exists(dst() + "/extra.txt"));
    EXPECT_EQ(ui_.statusTexts.back(), "ﾃﾞｰﾀをﾃﾞｨｽｸに書き込み中");
}

// Quiet, failures are logged in order and the run goes on; a vanished source goes next time.
TEST_F(SyncMergeTest, QuietSynchronisationLogsEveryFailureAndGoesOn) {
    Make("src/busy.txt=new busy@1700000500|dst/busy.txt=old busy@1700000000|src/locked.txt=L",
         "src/stamp.txt=S|src/vanished.txt=new vanished@1700000500|src/z-last.txt=Z|src/newdir/",
         "dst/vanished.txt=old vanished@1700000000|src/zz-dir/");
    auto before = SnapshotTree(dst());
    platform::InjectFaultForTesting(FaultCall::Rename, EBUSY, "busy.txt");
    platform::InjectFaultForTesting(FaultCall::OpenRead, EACCES, "locked.txt");
    platform::InjectFaultForTesting(FaultCall::CreateFolder, EACCES, "newdir");
    FailWhileCopying(src() + "/stamp.txt", FaultCall::SetTimes, EIO,
                     [this] { ::unlink((src() + "/vanished.txt").c_str()); });
    state_.noStopOnError = 1;
    const auto cannot = [](const char* what, int site, const std::string& path) {
        return Format(".\\FileCtrl:%d - %s が%sません。", site, path.c_str(), what);
    };
    Check(RunKind::Synchronise, RunOutcome::Incomplete, {},
          {Stamped({"CopyTotalDataSize = 0KB", cannot("作成でき", 330, dst() + "/busy.txt"),
                    cannot("開け", 316, src() + "/locked.txt"),
                    cannot("作成でき", 330, dst() + "/stamp.txt"),
                    cannot("開け", 316, src() + "/vanished.txt"),
                    cannot("作成でき", 244, dst() + "/newdir")}) +
           Dated("Mirova Preset 1 Done.") + Stamped({FailureClosing(5)})});
    EXPECT_EQ(ui_.failures(), 5);
    // Only z-last.txt arrived: the create list ends at its first failure.
    before["z-last.txt"] = SnapshotTree(src()).at("z-last.txt");
    EXPECT_EQ(test::DescribeDifferences(before, SnapshotTree(dst())), "");
    EXPECT_EQ(SnapshotTree(src()).at("busy.txt").content, "new busy");
    platform::ClearFaultsForTesting();
    SetCopyStartHookForTesting(nullptr);
    Check(RunKind::Synchronise, RunOutcome::Reported, {},
          {Dated("Mirova Preset 1 Done.") + Stamped({"ｱｯﾌﾟﾃﾞｰﾄ完了"})});
    EXPECT_EQ(DescribeDifferences(SnapshotTree(src()), SnapshotTree(dst())), "");
    EXPECT_FALSE(platform::Exists(dst() + "/vanished.txt"));
}

// A failed merge copy stops the run or is passed over; the rest is done; a rerun evens out.
class MergeFaultRunTest : public SyncMergeTest, public ::testing::WithParamInterface<bool> {};

TEST_P(MergeFaultRunTest, MergeWithAFailedCopyStillRunsItsOtherSteps) {
    const bool quiet = GetParam();
    Make("src/newer.txt=source, older@1700000000|dst/newer.txt=target, newer@1700000500",
         "src/from-src.txt=S|dst/from-dst.txt=D|src/srconly/|dst/dstonly/");
    const auto older = SnapshotTree(src()).at("newer.txt");
    FailWhileCopying(dst() + "/newer.txt", FaultCall::Read, EIO);  // the first copy back
    state_.noStopOnError = quiet;
    if (!quiet) {
        ui_.boxes.Answer(kIdYes);  // merge
        ui_.boxes.Answer(kIdNo);   // do not go on after the failed copy
    }
    const std::string unreadable = dst() + "/newer.txt が読めません。";
    // Quiet, the list goes on, but the failure passed over keeps the run from being complete.
    Check(RunKind::Synchronise, MergePreset(), RunOutcome::Incomplete,
          quiet
              ? Names{}
              : Names{"ﾏｰｼﾞ処理を続行しますか？", unreadable, kContinueQuestion, FailureClosing(1)},
          quiet ? Names{Stamped({unreadable, FailureClosing(1), "ﾏｰｼﾞ処理終了"})}
                : Names{"!が読めません"});
    EXPECT_EQ(ui_.failures(), 1);
    EXPECT_EQ(SnapshotTree(src()).at("newer.txt"), older);
    EXPECT_EQ(platform::Exists(src() + "/from-dst.txt"), quiet);
    EXPECT_EQ(dir_.read("dst/from-src.txt"), "S");
    EXPECT_TRUE(platform::Exists(src() + "/dstonly") && platform::Exists(dst() + "/srconly"));
    SetCopyStartHookForTesting(nullptr);
    state_.noStopOnError = 0;
    ui_.boxes.Answer(kIdYes);
    Check(RunKind::Synchronise, MergePreset(), RunOutcome::Reported, {"", "ﾏｰｼﾞ完了"});
    EXPECT_EQ(dir_.read("src/newer.txt"), "target, newer");
    EXPECT_EQ(DescribeDifferences(SnapshotTree(src()), SnapshotTree(dst())), "");
}

INSTANTIATE_TEST_SUITE_P(AskedOrQuiet, MergeFaultRunTest, ::testing::Bool());

// A folder swapped for a link to the outside while the report is read: nothing outside changes.
TEST_F(SyncMergeTest, MergeAfterASourceFolderWasSwappedLeavesTheOutsideAlone) {
    Make("src/d/newer-in-src.txt=src new@1700000500|dst/d/newer-in-src.txt=old@1700000000",
         "src/d/newer-in-dst.txt=old@1700000000|dst/d/newer-in-dst.txt=dst new@1700000500",
         "dst/d/only-dst/|src/top-new.txt=top new|outside/newer-in-src.txt=outside@1800000000",
         "outside/newer-in-dst.txt=outside@1800000000");
    const auto outside = SnapshotTree(dir_ / "outside"), moved = SnapshotTree(src() + "/d");
    ui_.boxes.beforeAnswer = [this](const std::string&, int style) {
        if (style == kMbYesNo && !platform::Exists(dir_ / "moved-away")) {
            ASSERT_EQ(::rename((src() + "/d").c_str(), (dir_ / "moved-away").c_str()), 0);
            ASSERT_EQ(::symlink((dir_ / "outside").c_str(), (src() + "/d").c_str()), 0);
        }
    };
    for (const int answer : {kIdYes, kIdOk, kIdCancel, kIdYes, kIdOk, kIdOk}) {
        ui_.boxes.Answer(answer);
    }
    const std::string cannotMake = ".\\FileCtrl:206 - " + src() + "/d/ が作成できません。";
    const std::string cannotOpen =
        ".\\FileCtrl:316 - " + src() + "/d/newer-in-src.txt が開けません。";
    Check(RunKind::Synchronise, MergePreset(), RunOutcome::Incomplete,
          {"ﾏｰｼﾞ処理を続行しますか？", cannotMake, cannotOpen, kContinueQuestion,
           ".\\FileCtrl:244 - " + src() + "/d/only-dst が作成できません。", FailureClosing(3)},
          {Stamped({cannotMake, cannotOpen})});
    EXPECT_EQ(test::DescribeDifferences(outside, SnapshotTree(dir_ / "outside")), "");
    EXPECT_EQ(test::DescribeDifferences(moved, SnapshotTree(dir_ / "moved-away")), "");
    EXPECT_EQ(dir_.read("dst/d/newer-in-src.txt"), "old");
    EXPECT_EQ(dir_.read("dst/top-new.txt"), "top new");  // the list went on
    EXPECT_EQ(ui_.boxes.unscripted(), 0u);
}

}  // namespace
}  // namespace mirova
