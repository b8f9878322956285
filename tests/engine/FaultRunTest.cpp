// Whole runs with file-system calls failing in the middle, or with a folder swapped for a link
// to the outside while the report is read: nothing is lost or changed outside, and a second
// run without the faults finishes the job.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

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
};

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
    DeletingExecutor executor(ui_, src() + "/vanished.txt");
    run_.SetChangeExecutor(&executor);
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

    // The next run removes the target copy of the vanished file and copies the rest.
    ClearFaults();
    run_.SetChangeExecutor(nullptr);
    Run(RunKind::Synchronise);
    ExpectMirror();
    EXPECT_THAT(Log(), testing::EndsWith(Dated("Mirova Preset 1 Done.") + Stamped("ｱｯﾌﾟﾃﾞｰﾄ完了")));
}

// A failed copy of a merge: asked about and stopped, or passed over under noStopOnError; the
// other direction and the folders are done either way, and a second run evens the trees out.
class MergeFaultRunTest : public FaultRunTest, public ::testing::WithParamInterface<bool> {};

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
