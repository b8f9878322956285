// Whole runs on real trees where another user swaps a folder for a link to a folder outside
// the tree after the scan, while the report is being read: nothing outside may change.
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <initializer_list>
#include <map>
#include <string>

#include "RunFixture.h"
#include "fileops/FileOperations.h"
#include "fileops/MessageBox.h"
#include "platform/FileSystem.h"

namespace mirova {
namespace {

using test::SnapshotTree;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;

using Snapshot = std::map<std::string, test::ItemSnapshot>;

class ConfinedRunTest : public test::RealRunFixture {
protected:
    // The folder outside both trees that the link will point to, holding items of the names
    // the run will work on.
    void MakeOutside(std::initializer_list<const char*> names) {
        for (const char* name : names) {
            dir_.createFile(std::string("outside/") + name, std::string("outside ") + name,
                            1800000000);
        }
    }
    // At the first Yes/No question (the moment the user reads the report, after the scans and
    // before anything is carried out) the folder is moved away and a link to the outside folder
    // takes its place. Snapshots of both are taken now, before the run.
    void SwapAtQuestion(const std::string& relative) {
        outsideBefore_ = SnapshotTree(dir_ / "outside");
        movedBefore_ = SnapshotTree(dir_ / relative);
        ui_.beforeBox = [this, relative](const std::string& text, int style) {
            if (style != kMbYesNo || !question_.empty()) {
                return;
            }
            question_ = text;
            ASSERT_EQ(::rename((dir_ / relative).c_str(), (dir_ / "moved-away").c_str()), 0);
            ASSERT_EQ(::symlink((dir_ / "outside").c_str(), (dir_ / relative).c_str()), 0);
        };
    }
    void ExpectOutsideAndMovedFolderUntouched() {
        EXPECT_EQ(test::DescribeDifferences(outsideBefore_, SnapshotTree(dir_ / "outside")), "");
        EXPECT_EQ(test::DescribeDifferences(movedBefore_, SnapshotTree(dir_ / "moved-away")), "");
    }

    std::string question_;  // the question the swap ran at
    Snapshot outsideBefore_;
    Snapshot movedBefore_;
};

TEST_F(ConfinedRunTest, SynchronisationAfterATargetFolderWasSwappedLeavesTheOutsideAlone) {
    Make({{"src/d/changed.txt", "new", 1700000100},
          {"src/d/new.txt", "brand new", 1700000000},
          {"dst/d/changed.txt", "old", 1700000000},
          {"dst/d/extra1.txt", "e1"},
          {"dst/d/extra2.txt", "e2"},
          {"dst/d/sub/extra3.txt", "e3"},
          {"dst/extra-top.txt", "x"}});
    MakeOutside({"changed.txt", "new.txt", "extra1.txt", "extra2.txt", "sub/extra3.txt"});
    SwapAtQuestion("dst/d");
    ui_.boxes.Answer(kIdYes);
    ui_.boxes.Answer(kIdOk);

    Run(RunKind::Synchronise);

    EXPECT_THAT(question_, HasSubstr("ｱｯﾌﾟﾃﾞｰﾄを実行しますか？"));
    ExpectOutsideAndMovedFolderUntouched();
    EXPECT_FALSE(platform::Exists(dst() + "/extra-top.txt"));  // outside the swapped folder
    EXPECT_THAT(host_.outcomes, ElementsAre(RunOutcome::Incomplete));
    const std::string cannotMake = ".\\FileCtrl:206 - " + dst() + "/d/ が作成できません。";
    EXPECT_THAT(BoxTexts(), ElementsAre(question_, cannotMake, FailureClosing(5)));
    const std::string log = Log();
    for (const char* name : {"d/extra1.txt", "d/extra2.txt", "d/sub/extra3.txt", "d/sub"}) {
        EXPECT_THAT(log, HasSubstr(Stamped(dst() + "/" + name + " が削除できません。(" +
                                           std::strerror(ENOTDIR) + ")")));
    }
    EXPECT_THAT(log, HasSubstr(Stamped(cannotMake)));
    EXPECT_THAT(log, Not(HasSubstr("ｱｯﾌﾟﾃﾞｰﾄ完了")));
    EXPECT_EQ(ui_.failures(), 5);
    EXPECT_EQ(ui_.boxes.unscripted(), 0u);
}

TEST_F(ConfinedRunTest, MergeAfterASourceFolderWasSwappedLeavesTheOutsideAlone) {
    // Each direction of the merge, and a folder to create, passes through the swapped folder.
    Make({{"src/d/newer-in-src.txt", "src new", 1700000500},
          {"dst/d/newer-in-src.txt", "old", 1700000000},
          {"src/d/newer-in-dst.txt", "old", 1700000000},
          {"dst/d/newer-in-dst.txt", "dst new", 1700000500},
          {"dst/d/only-dst/"},
          {"src/top-new.txt", "top new"}});
    MakeOutside({"newer-in-src.txt", "newer-in-dst.txt"});
    SwapAtQuestion("src/d");
    for (const int answer : {kIdYes, kIdOk, kIdCancel, kIdYes, kIdOk, kIdOk}) {
        ui_.boxes.Answer(answer);
    }

    Run(RunKind::Synchronise, MergePreset());

    EXPECT_THAT(question_, HasSubstr("ﾏｰｼﾞ処理を続行しますか？"));
    ExpectOutsideAndMovedFolderUntouched();
    // The outside file of the same name, newer and longer, never reaches the target.
    EXPECT_EQ(dir_.read("dst/d/newer-in-src.txt"), "old");
    EXPECT_EQ(dir_.read("dst/top-new.txt"), "top new");  // the list went on
    EXPECT_THAT(host_.outcomes, ElementsAre(RunOutcome::Incomplete));
    const std::string cannotMake = ".\\FileCtrl:206 - " + src() + "/d/ が作成できません。";
    const std::string cannotOpen =
        ".\\FileCtrl:316 - " + src() + "/d/newer-in-src.txt が開けません。";
    const std::string cannotCreate =
        ".\\FileCtrl:244 - " + src() + "/d/only-dst が作成できません。";
    EXPECT_THAT(BoxTexts(), ElementsAre(question_, cannotMake, cannotOpen, kContinueQuestion,
                                        cannotCreate, FailureClosing(3)));
    EXPECT_THAT(Log(), HasSubstr(Stamped(cannotMake) + Stamped(cannotOpen)));
    EXPECT_THAT(Log(), HasSubstr(Stamped(cannotCreate)));
    EXPECT_EQ(ui_.failures(), 3);
    EXPECT_EQ(ui_.boxes.unscripted(), 0u);
}

}  // namespace
}  // namespace mirova
