// Whole synchronisation and merge runs with file-system calls failing in the middle: what the
// run tells, what the log keeps, that nothing is lost, and that a second run without the faults
// finishes the job.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "RunFixture.h"
#include "engine/Execute.h"
#include "fileops/FileOperations.h"
#include "fileops/Format.h"
#include "fileops/SafeCopy.h"
#include "platform/FaultInjection.h"
#include "platform/FileSystem.h"

namespace mirova {
namespace {

using platform::FaultCall;
using test::SnapshotTree;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;

constexpr const char* kStartLine = "2026年12月6日 9:5:3  Mirova Preset 1 Start.\n";
constexpr const char* kDoneLine = "2026年12月6日 9:5:3  Mirova Preset 1 Done.\n";

std::string CannotCreate(int site, const std::string& path) {
    return Format(".\\FileCtrl:%d - %s が作成できません。", site, path.c_str());
}

std::string CannotOpen(const std::string& path) {
    return Format(".\\FileCtrl:316 - %s が開けません。", path.c_str());
}

std::string CannotDelete(const std::string& path, int error) {
    return Format("%s が削除できません。(%s)", path.c_str(), std::strerror(error));
}

// Whether an unfinished copy is left anywhere below root.
bool HasPartialCopies(const std::string& root) {
    for (const auto& entry : SnapshotTree(root)) {
        if (entry.first.find(kPartialCopyPrefix) != std::string::npos) {
            return true;
        }
    }
    return false;
}

// Content and last-write time of a file: what a failed copy must leave as it was.
std::pair<std::string, long long> Kept(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) {
        return {"<missing>", 0};
    }
    return {test::ReadFileText(path), st.st_mtim.tv_sec * 1000000000LL + st.st_mtim.tv_nsec};
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

class FaultRunTest : public test::RealRunFixture {
protected:
    void TearDown() override {
        ClearFaults();
        RunFixture::TearDown();
    }
    static void ClearFaults() {
        platform::ClearFaultsForTesting();
        SetCopyStartHookForTesting(nullptr);
    }

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
};

// Interactive: the failures are shown or logged, the user stops the copies after the first
// failure, the folders are still created, and the run does not claim completion.
TEST_F(FaultRunTest, SynchronisationStoppedAfterAFailedCopyLosesNothing) {
    Make({{"src/a-changed.txt", "new A", 1700000500},
          {"dst/a-changed.txt", "old A", 1700000000},
          {"src/b-new.txt", "B", 1700000000},
          {"src/c-new/inner.txt", "C", 1700000000},
          {"src/newdir/"},
          {"dst/extra.txt", "X", 1700000000},
          {"dst/extradir/"}});
    const auto oldA = Kept(dst() + "/a-changed.txt");
    const auto newA = Kept(src() + "/a-changed.txt");
    platform::InjectFaultForTesting(FaultCall::Delete, EACCES, "extra.txt");
    platform::InjectFaultForTesting(FaultCall::RemoveFolder, EBUSY, "extradir");
    FailWhileCopying(src() + "/a-changed.txt", FaultCall::Write, ENOSPC);
    ui_.boxes.Answer(kIdYes);  // carry out
    ui_.boxes.Answer(kIdNo);   // do not go on after the failed copy

    Run(RunKind::Synchronise);

    const auto boxes = ui_.boxes.requests();
    ASSERT_EQ(boxes.size(), 4u);
    EXPECT_THAT(boxes[0].text, HasSubstr("ｱｯﾌﾟﾃﾞｰﾄを実行しますか？"));
    EXPECT_EQ(boxes[1].text, dst() + "/a-changed.txt が読めません。");
    EXPECT_EQ(boxes[1].style, kMbOk);
    EXPECT_EQ(boxes[2].text, kContinueQuestion);
    EXPECT_EQ(boxes[2].style, kMbYesNo);
    EXPECT_EQ(boxes[3].text, FailureClosing(3));  // never "complete" after a failure
    EXPECT_THAT(host_.outcomes, ElementsAre(RunOutcome::Incomplete));
    EXPECT_EQ(ui_.failures(), 3);
    const std::string log = Log();
    // The deletions are logged with their reason; the unreadable copy was shown instead.
    EXPECT_THAT(log, HasSubstr(Stamped({CannotDelete(dst() + "/extra.txt", EACCES),
                                        CannotDelete(dst() + "/extradir", EBUSY)}) +
                               kDoneLine));
    EXPECT_THAT(log, Not(HasSubstr("が読めません")));
    EXPECT_THAT(log, Not(HasSubstr("ｱｯﾌﾟﾃﾞｰﾄ完了")));

    EXPECT_EQ(Kept(dst() + "/a-changed.txt"), oldA);
    EXPECT_EQ(Kept(src() + "/a-changed.txt"), newA);
    EXPECT_FALSE(platform::Exists(dst() + "/b-new.txt"));
    EXPECT_FALSE(platform::Exists(dst() + "/c-new/inner.txt"));
    EXPECT_TRUE(platform::Exists(dst() + "/newdir"));  // the create list runs after a stopped copy
    EXPECT_TRUE(platform::Exists(dst() + "/c-new"));
    EXPECT_EQ(dir_.read("dst/extra.txt"), "X");
    EXPECT_TRUE(platform::Exists(dst() + "/extradir"));
    EXPECT_FALSE(HasPartialCopies(dir_.path()));

    // Without the faults the next run finishes the mirror.
    ClearFaults();
    ui_.boxes.Answer(kIdYes);
    Run(RunKind::Synchronise);
    ExpectMirror();
    EXPECT_EQ(host_.outcomes.back(), RunOutcome::Reported);
    EXPECT_EQ(ui_.boxes.requests().back().text, "ｱｯﾌﾟﾃﾞｰﾄ完了");
    EXPECT_EQ(ui_.failures(), 3);
    EXPECT_EQ(ui_.boxes.unscripted(), 0u);
}

// Under noStopOnError every failure goes to the log, stamped, in the order met; nothing is
// shown and the run goes on to its end.
TEST_F(FaultRunTest, QuietSynchronisationLogsEveryFailureAndGoesOn) {
    Make({{"src/busy.txt", "new busy", 1700000500},
          {"dst/busy.txt", "old busy", 1700000000},
          {"src/locked.txt", "L", 1700000000},
          {"src/stamp.txt", "S", 1700000000},
          {"src/vanished.txt", "new vanished", 1700000500},
          {"dst/vanished.txt", "old vanished", 1700000000},
          {"src/z-last.txt", "Z", 1700000000},
          {"src/newdir/"},
          {"src/zz-dir/"}});
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
    EXPECT_EQ(
        Log(),
        kStartLine +
            Stamped({"OptionD=OFF OptionA=0 ", RecordLine(), "CopyTotalDataSize = 0KB",
                     CannotCreate(330, dst() + "/busy.txt"), CannotOpen(src() + "/locked.txt"),
                     CannotCreate(330, dst() + "/stamp.txt"), CannotOpen(src() + "/vanished.txt"),
                     CannotCreate(244, dst() + "/newdir")}) +
            kDoneLine + Stamped(FailureClosing(5)));
    EXPECT_THAT(host_.outcomes, ElementsAre(RunOutcome::Incomplete));
    EXPECT_EQ(ui_.failures(), 5);
    EXPECT_EQ(Kept(dst() + "/busy.txt"), oldBusy);
    EXPECT_EQ(Kept(src() + "/busy.txt"), sourceBusy);
    EXPECT_EQ(Kept(dst() + "/vanished.txt"), oldVanished);
    EXPECT_FALSE(platform::Exists(dst() + "/locked.txt"));
    EXPECT_FALSE(platform::Exists(dst() + "/stamp.txt"));
    EXPECT_EQ(dir_.read("dst/z-last.txt"), "Z");
    EXPECT_FALSE(platform::Exists(dst() + "/newdir"));
    EXPECT_FALSE(platform::Exists(dst() + "/zz-dir"));  // the create list ends at its first failure
    EXPECT_FALSE(HasPartialCopies(dir_.path()));

    // The next run removes the target copy of the vanished file and copies the rest.
    ClearFaults();
    run_.SetChangeExecutor(nullptr);
    Run(RunKind::Synchronise);
    ExpectMirror();
    EXPECT_EQ(host_.outcomes.back(), RunOutcome::Reported);
    EXPECT_THAT(Log(), testing::EndsWith(kDoneLine + Stamped("ｱｯﾌﾟﾃﾞｰﾄ完了")));
    EXPECT_TRUE(ui_.boxes.requests().empty());
    EXPECT_EQ(ui_.failures(), 5);
}

// A failed copy of a merge: asked about and stopped, or passed over under noStopOnError; the
// other direction and the folders are done either way, and a second run evens the trees out.
class MergeFaultRunTest : public FaultRunTest, public ::testing::WithParamInterface<bool> {};

TEST_P(MergeFaultRunTest, MergeWithAFailedCopyStillRunsItsOtherSteps) {
    const bool quiet = GetParam();
    Make({{"src/newer.txt", "source, older", 1700000000},
          {"dst/newer.txt", "target, newer", 1700000500},
          {"src/from-src.txt", "S", 1700000000},
          {"dst/from-dst.txt", "D", 1700000000},
          {"src/srconly/"},
          {"dst/dstonly/"}});
    const auto older = Kept(src() + "/newer.txt");
    const auto newer = Kept(dst() + "/newer.txt");
    // The first copy towards the source fails.
    FailWhileCopying(dst() + "/newer.txt", FaultCall::Read, EIO);
    state_.noStopOnError = quiet;
    if (!quiet) {
        ui_.boxes.Answer(kIdYes);  // merge
        ui_.boxes.Answer(kIdNo);   // do not go on after the failed copy
    }

    Run(RunKind::Synchronise, MergePreset());

    const std::string unreadable = dst() + "/newer.txt が読めません。";
    if (quiet) {
        EXPECT_TRUE(BoxTexts().empty());
        EXPECT_THAT(Log(), HasSubstr(Stamped(unreadable)));
        // The list goes on and its last copy succeeds, but the failure passed over still
        // keeps the run from being called complete.
        EXPECT_THAT(Log(), HasSubstr(Stamped(FailureClosing(1)) + Stamped("ﾏｰｼﾞ処理終了")));
        EXPECT_THAT(host_.outcomes, ElementsAre(RunOutcome::Incomplete));
    } else {
        const auto texts = BoxTexts();
        ASSERT_EQ(texts.size(), 4u);
        EXPECT_THAT(texts[0], HasSubstr("ﾏｰｼﾞ処理を続行しますか？"));
        EXPECT_EQ(texts[1], unreadable);
        EXPECT_EQ(texts[2], kContinueQuestion);
        EXPECT_EQ(texts[3], FailureClosing(1));
        EXPECT_THAT(Log(), Not(HasSubstr("が読めません")));
        EXPECT_THAT(host_.outcomes, ElementsAre(RunOutcome::Incomplete));
    }
    EXPECT_THAT(Log(), testing::EndsWith(Stamped("ﾏｰｼﾞ処理終了")));
    EXPECT_EQ(ui_.failures(), 1);
    EXPECT_EQ(Kept(src() + "/newer.txt"), older);
    EXPECT_EQ(Kept(dst() + "/newer.txt"), newer);
    EXPECT_EQ(platform::Exists(src() + "/from-dst.txt"), quiet);
    EXPECT_EQ(dir_.read("dst/from-src.txt"), "S");
    EXPECT_TRUE(platform::Exists(src() + "/dstonly"));
    EXPECT_TRUE(platform::Exists(dst() + "/srconly"));
    EXPECT_FALSE(HasPartialCopies(dir_.path()));

    ClearFaults();
    state_.noStopOnError = 0;
    ui_.boxes.Answer(kIdYes);
    Run(RunKind::Synchronise, MergePreset());
    EXPECT_EQ(ui_.boxes.requests().back().text, "ﾏｰｼﾞ完了");
    EXPECT_EQ(host_.outcomes.back(), RunOutcome::Reported);
    EXPECT_EQ(dir_.read("src/newer.txt"), "target, newer");
    ExpectMirror();
    EXPECT_EQ(ui_.boxes.unscripted(), 0u);
}

INSTANTIATE_TEST_SUITE_P(AskedOrQuiet, MergeFaultRunTest, ::testing::Bool());

}  // namespace
}  // namespace mirova
