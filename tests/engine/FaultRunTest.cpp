// Whole synchronisation and merge runs with file-system calls failing in the middle: what the
// run tells, what the log keeps, that nothing is lost, and that a second run without the faults
// finishes the job.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "RunFixture.h"
#include "TreeSnapshot.h"
#include "engine/Execute.h"
#include "fileops/FileOperations.h"
#include "fileops/Format.h"
#include "fileops/SafeCopy.h"
#include "platform/FaultInjection.h"

namespace mirova {
namespace {

using platform::FaultCall;
using test::kStamp;
using test::SnapshotTree;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;

constexpr const char* kStartLine = "2026年12月6日 9:5:3  Mirova Preset 1 Start.\n";
constexpr const char* kDoneLine = "2026年12月6日 9:5:3  Mirova Preset 1 Done.\n";

std::string Stamped(const std::string& text) {
    return kStamp + text + "\n";
}

std::string CannotCreate(int site, const std::string& path) {
    return Format(".\\FileCtrl:%d - %s が作成できません。", site, path.c_str());
}

std::string CannotOpen(const std::string& path) {
    return Format(".\\FileCtrl:316 - %s が開けません。", path.c_str());
}

std::string CannotDelete(const std::string& path, int error) {
    return Format("%s が削除できません。(%s)", path.c_str(), std::strerror(error));
}

// Unfinished copies anywhere below root.
std::vector<std::string> PartialCopiesBelow(const std::string& root) {
    std::vector<std::string> found;
    for (const auto& entry : SnapshotTree(root)) {
        const std::string& name = entry.first;
        const std::size_t slash = name.rfind('/');
        if (name.substr(slash == std::string::npos ? 0 : slash + 1)
                .starts_with(kPartialCopyPrefix)) {
            found.push_back(name);
        }
    }
    return found;
}

// Content and last-write time of a file: what a failed copy must leave as it was.
std::pair<std::string, long long> Kept(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) {
        return {"<missing>", 0};
    }
    return {test::ReadFileText(path), st.st_mtim.tv_sec * 1000000000LL + st.st_mtim.tv_nsec};
}

bool Exists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

// Removes a source file just before the changes are carried out, as another program might
// between the scan and the copy.
class DeletingExecutor final : public ChangeExecutor {
public:
    DeletingExecutor(FileOpsUi& ui, std::string doomed) : real_(ui), doomed_(std::move(doomed)) {}
    bool CarryOutChanges(const RunPreset& preset, WorkLists& work, const RunState& state) override {
        EXPECT_EQ(::unlink(doomed_.c_str()), 0) << doomed_;
        return real_.CarryOutChanges(preset, work, state);
    }

private:
    SyncExecutor real_;
    std::string doomed_;
};

class FaultRunTest : public test::RunFixture {
protected:
    void SetUp() override {
        RunFixture::SetUp();
        run_.SetChangeExecutor(nullptr);
    }
    void TearDown() override {
        platform::ClearFaultsForTesting();
        SetCopyStartHookForTesting(nullptr);
        RunFixture::TearDown();
    }
    std::string src() const { return dir_ / "src"; }
    std::string dst() const { return dir_ / "dst"; }

    // Makes one call fail once during the copy of one source file only. Reads, writes and the
    // times of a copy name no file, and the run log's own writes count as writes too, so the
    // fault is put in place when that file's copy begins.
    void FailWhileCopying(const std::string& source, FaultCall call, int error) {
        struct stat wanted {};
        ASSERT_EQ(::stat(source.c_str(), &wanted), 0) << source;
        SetCopyStartHookForTesting([wanted, call, error](int sourceFd, int) {
            struct stat st {};
            if (::fstat(sourceFd, &st) == 0 && st.st_dev == wanted.st_dev &&
                st.st_ino == wanted.st_ino) {
                platform::InjectFaultForTesting(call, error, {}, 0, 1);
            }
        });
    }
    void ExpectMirror() {
        EXPECT_EQ(test::DescribeDifferences(SnapshotTree(src()), SnapshotTree(dst())), "");
    }
};

// Interactive: the failures are shown or logged, the user stops the copies after the first
// failure, the folders are still created, and the run does not claim completion.
TEST_F(FaultRunTest, SynchronisationStoppedAfterAFailedCopyLosesNothing) {
    dir_.createFile("src/a-changed.txt", "new A", 1700000500);
    dir_.createFile("dst/a-changed.txt", "old A", 1700000000);
    dir_.createFile("src/b-new.txt", "B", 1700000000);
    dir_.createFile("src/c-new/inner.txt", "C", 1700000000);
    dir_.createFolder("src/newdir");
    dir_.createFile("dst/extra.txt", "X", 1700000000);
    dir_.createFolder("dst/extradir");
    const auto oldA = Kept(dst() + "/a-changed.txt");
    const auto newA = Kept(src() + "/a-changed.txt");
    platform::InjectFaultForTesting(FaultCall::Delete, EACCES, "extra.txt");
    platform::InjectFaultForTesting(FaultCall::RemoveFolder, EBUSY, "extradir");
    FailWhileCopying(src() + "/a-changed.txt", FaultCall::Write, ENOSPC);
    ui_.boxes.Answer(kIdYes);  // carry out
    ui_.boxes.Answer(kIdNo);   // do not go on after the failed copy

    Run(RunKind::Synchronise);

    const auto boxes = ui_.boxes.requests();
    ASSERT_EQ(boxes.size(), 3u);
    EXPECT_THAT(boxes[0].text, HasSubstr("ｱｯﾌﾟﾃﾞｰﾄを実行しますか？"));
    EXPECT_EQ(boxes[1].text, dst() + "/a-changed.txt が読めません。");
    EXPECT_EQ(boxes[1].style, kMbOk);
    EXPECT_EQ(boxes[2].text, kContinueQuestion);
    EXPECT_EQ(boxes[2].style, kMbYesNo);
    EXPECT_THAT(host_.outcomes, ElementsAre(RunOutcome::Incomplete));
    EXPECT_EQ(ui_.failures, 3);
    const std::string log = Log();
    // The deletions are logged with their reason; the unreadable copy was shown instead.
    EXPECT_THAT(log, HasSubstr(Stamped(CannotDelete(dst() + "/extra.txt", EACCES)) +
                               Stamped(CannotDelete(dst() + "/extradir", EBUSY)) + kDoneLine));
    EXPECT_THAT(log, Not(HasSubstr("が読めません")));
    EXPECT_THAT(log, Not(HasSubstr("ｱｯﾌﾟﾃﾞｰﾄ完了")));

    EXPECT_EQ(Kept(dst() + "/a-changed.txt"), oldA);
    EXPECT_EQ(Kept(src() + "/a-changed.txt"), newA);
    EXPECT_FALSE(Exists(dst() + "/b-new.txt"));
    EXPECT_FALSE(Exists(dst() + "/c-new/inner.txt"));
    EXPECT_TRUE(Exists(dst() + "/newdir"));  // the create list runs after a stopped copy
    EXPECT_TRUE(Exists(dst() + "/c-new"));
    EXPECT_EQ(dir_.read("dst/extra.txt"), "X");
    EXPECT_TRUE(Exists(dst() + "/extradir"));
    EXPECT_TRUE(PartialCopiesBelow(dir_.path()).empty());

    // Without the faults the next run finishes the mirror.
    platform::ClearFaultsForTesting();
    SetCopyStartHookForTesting(nullptr);
    ui_.boxes.Answer(kIdYes);
    Run(RunKind::Synchronise);
    ExpectMirror();
    EXPECT_EQ(host_.outcomes.back(), RunOutcome::Reported);
    EXPECT_EQ(ui_.boxes.requests().back().text, "ｱｯﾌﾟﾃﾞｰﾄ完了");
    EXPECT_EQ(ui_.failures, 3);
    EXPECT_EQ(ui_.boxes.unscripted(), 0u);
}

// Under noStopOnError every failure goes to the log, stamped, in the order met; nothing is
// shown and the run goes on to its end.
TEST_F(FaultRunTest, QuietSynchronisationLogsEveryFailureAndGoesOn) {
    dir_.createFile("src/busy.txt", "new busy", 1700000500);
    dir_.createFile("dst/busy.txt", "old busy", 1700000000);
    dir_.createFile("src/locked.txt", "L", 1700000000);
    dir_.createFile("src/stamp.txt", "S", 1700000000);
    dir_.createFile("src/vanished.txt", "new vanished", 1700000500);
    dir_.createFile("dst/vanished.txt", "old vanished", 1700000000);
    dir_.createFile("src/z-last.txt", "Z", 1700000000);
    dir_.createFolder("src/newdir");
    dir_.createFolder("src/zz-dir");
    const auto oldBusy = Kept(dst() + "/busy.txt");
    const auto oldVanished = Kept(dst() + "/vanished.txt");
    const auto sourceBusy = Kept(src() + "/busy.txt");
    platform::InjectFaultForTesting(FaultCall::Rename, EBUSY, "busy.txt");
    platform::InjectFaultForTesting(FaultCall::OpenRead, EACCES, "locked.txt");
    platform::InjectFaultForTesting(FaultCall::CreateFolder, EACCES, "newdir");
    FailWhileCopying(src() + "/stamp.txt", FaultCall::SetTimes, EIO);
    DeletingExecutor executor(ui_, src() + "/vanished.txt");
    run_.SetChangeExecutor(&executor);
    state_.noStopOnError = 1;

    Run(RunKind::Synchronise);

    EXPECT_TRUE(ui_.boxes.requests().empty());
    EXPECT_EQ(Log(), kStartLine + Stamped("OptionD=OFF OptionA=0 ") +
                         Stamped("CopyTotalDataSize = 0KB") +
                         Stamped(CannotCreate(330, dst() + "/busy.txt")) +
                         Stamped(CannotOpen(src() + "/locked.txt")) +
                         Stamped(CannotCreate(330, dst() + "/stamp.txt")) +
                         Stamped(CannotOpen(src() + "/vanished.txt")) +
                         Stamped(CannotCreate(244, dst() + "/newdir")) + kDoneLine);
    EXPECT_THAT(host_.outcomes, ElementsAre(RunOutcome::Incomplete));
    EXPECT_EQ(ui_.failures, 5);
    EXPECT_EQ(Kept(dst() + "/busy.txt"), oldBusy);
    EXPECT_EQ(Kept(src() + "/busy.txt"), sourceBusy);
    EXPECT_EQ(Kept(dst() + "/vanished.txt"), oldVanished);
    EXPECT_FALSE(Exists(dst() + "/locked.txt"));
    EXPECT_FALSE(Exists(dst() + "/stamp.txt"));
    EXPECT_EQ(dir_.read("dst/z-last.txt"), "Z");
    EXPECT_FALSE(Exists(dst() + "/newdir"));
    EXPECT_FALSE(Exists(dst() + "/zz-dir"));  // the create list ends at its first failure
    EXPECT_TRUE(PartialCopiesBelow(dir_.path()).empty());

    // The next run removes the target copy of the vanished file and copies the rest.
    platform::ClearFaultsForTesting();
    SetCopyStartHookForTesting(nullptr);
    run_.SetChangeExecutor(nullptr);
    Run(RunKind::Synchronise);
    ExpectMirror();
    EXPECT_EQ(host_.outcomes.back(), RunOutcome::Reported);
    EXPECT_THAT(Log(), testing::EndsWith(kDoneLine + Stamped("ｱｯﾌﾟﾃﾞｰﾄ完了")));
    EXPECT_TRUE(ui_.boxes.requests().empty());
    EXPECT_EQ(ui_.failures, 5);
}

// A failed copy of a merge: asked about and stopped, or passed over under noStopOnError; the
// other direction and the folders are done either way, and a second run evens the trees out.
TEST_F(FaultRunTest, MergeWithAFailedCopyStillRunsItsOtherSteps) {
    const struct {
        const char* label;
        int quiet;
        RunOutcome outcome;
        const char* closing;  // the closing notice; "" when none is shown
    } rows[] = {
        {"asked, stop", 0, RunOutcome::Incomplete, "ﾏｰｼﾞ処理終了"},
        // The list goes on and its last copy succeeds, so the run's result stays; the failure
        // is in the log and in the failure count.
        {"noStopOnError", 1, RunOutcome::Reported, ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        test::TempDir dir;
        test::TestUi ui;
        test::TestHost host;
        RunState state;
        RunController run(state, host, ui);
        const std::string source = dir / "src";
        const std::string target = dir / "dst";
        dir.createFile("src/newer.txt", "source, older", 1700000000);
        dir.createFile("dst/newer.txt", "target, newer", 1700000500);
        dir.createFile("src/from-src.txt", "S", 1700000000);
        dir.createFile("dst/from-dst.txt", "D", 1700000000);
        dir.createFolder("src/srconly");
        dir.createFolder("dst/dstonly");
        const auto older = Kept(source + "/newer.txt");
        const auto newer = Kept(target + "/newer.txt");
        // The first copy towards the source fails.
        FailWhileCopying(target + "/newer.txt", FaultCall::Read, EIO);
        state.noStopOnError = row.quiet;
        if (!row.quiet) {
            ui.boxes.Answer(kIdYes);  // merge
            ui.boxes.Answer(kIdNo);   // do not go on after the failed copy
        }
        RunPreset preset{0, source, target, 1, 0};

        const auto runToEnd = [&] {
            const std::size_t ended = host.outcomes.size();
            run.StartRun(RunKind::Synchronise, preset, nullptr);
            ui.PumpUntil([&] { return host.outcomes.size() > ended; });
        };
        runToEnd();

        const std::string unreadable = target + "/newer.txt が読めません。";
        std::vector<std::string> texts;
        for (const auto& request : ui.boxes.requests()) {
            texts.push_back(request.text);
        }
        if (row.quiet) {
            EXPECT_TRUE(texts.empty());
            EXPECT_THAT(dir.readLog(), HasSubstr(Stamped(unreadable)));
        } else {
            ASSERT_EQ(texts.size(), 4u);
            EXPECT_THAT(texts[0], HasSubstr("ﾏｰｼﾞ処理を続行しますか？"));
            EXPECT_EQ(texts[1], unreadable);
            EXPECT_EQ(texts[2], kContinueQuestion);
            EXPECT_EQ(texts[3], row.closing);
            EXPECT_THAT(dir.readLog(), Not(HasSubstr("が読めません")));
        }
        EXPECT_THAT(dir.readLog(), testing::EndsWith(Stamped("ﾏｰｼﾞ処理終了")));
        EXPECT_THAT(host.outcomes, ElementsAre(row.outcome));
        EXPECT_EQ(ui.failures, 1);
        EXPECT_EQ(Kept(source + "/newer.txt"), older);
        EXPECT_EQ(Kept(target + "/newer.txt"), newer);
        EXPECT_EQ(Exists(source + "/from-dst.txt"), row.quiet == 1);
        EXPECT_EQ(dir.read("dst/from-src.txt"), "S");
        EXPECT_TRUE(Exists(source + "/dstonly"));
        EXPECT_TRUE(Exists(target + "/srconly"));
        EXPECT_TRUE(PartialCopiesBelow(dir.path()).empty());

        platform::ClearFaultsForTesting();
        SetCopyStartHookForTesting(nullptr);
        state.noStopOnError = 0;
        ui.boxes.Answer(kIdYes);
        runToEnd();
        EXPECT_EQ(ui.boxes.requests().back().text, "ﾏｰｼﾞ完了");
        EXPECT_EQ(host.outcomes.back(), RunOutcome::Reported);
        EXPECT_EQ(dir.read("src/newer.txt"), "target, newer");
        EXPECT_EQ(test::DescribeDifferences(SnapshotTree(source), SnapshotTree(target)), "");
        EXPECT_EQ(ui.boxes.unscripted(), 0u);
    }
}

}  // namespace
}  // namespace mirova
