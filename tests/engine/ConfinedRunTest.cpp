// Whole runs on real trees where another user swaps a folder for a link to a folder outside
// the tree after the scan, while the report is being read: nothing outside may change.
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <initializer_list>
#include <map>
#include <memory>
#include <string>
#include <utility>

#include "RunFixture.h"
#include "TreeSnapshot.h"
#include "fileops/FileOperations.h"
#include "platform/FileSystem.h"

namespace mirova {
namespace {

using test::kStamp;
using test::SnapshotTree;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;

// The test's front end, with a step of the test's own run at the first Yes/No question: the
// moment the user reads the report, after the scans and before anything is carried out.
class QuestionHookUi final : public RunUi {
public:
    explicit QuestionHookUi(test::TestUi& inner) : inner_(inner) {}

    std::function<void()> atQuestion;
    std::string question;  // the question the step ran at

    int DoMessageBox(const std::string& text, int style) override {
        if (style == kMbYesNo && atQuestion) {
            question = text;
            std::exchange(atQuestion, nullptr)();
        }
        return inner_.DoMessageBox(text, style);
    }
    std::unique_ptr<ProgressWindow> ShowProgressWindow() override {
        return inner_.ShowProgressWindow();
    }
    void NoteFailure() override { inner_.NoteFailure(); }
    std::unique_ptr<StatusWindow> ShowStatusWindow() override { return inner_.ShowStatusWindow(); }
    void OpenWithShell(const std::string& path) override { inner_.OpenWithShell(path); }
    void PostToRunThread(std::function<void()> call) override {
        inner_.PostToRunThread(std::move(call));
    }

private:
    test::TestUi& inner_;
};

using Snapshot = std::map<std::string, test::ItemSnapshot>;

class ConfinedRunTest : public test::RunFixture {
protected:
    std::string src() const { return dir_ / "src"; }
    std::string dst() const { return dir_ / "dst"; }

    // The folder outside both trees that the link will point to, holding items of the names
    // the run will work on.
    void MakeOutside(std::initializer_list<const char*> names) {
        for (const char* name : names) {
            dir_.createFile(std::string("outside/") + name, std::string("outside ") + name,
                            1800000000);
        }
    }
    // At the question, the folder is moved away and a link to the outside folder takes its
    // place. Snapshots of both are taken now, before the run.
    void SwapAtQuestion(const std::string& relative) {
        outsideBefore_ = SnapshotTree(dir_ / "outside");
        movedBefore_ = SnapshotTree(dir_ / relative);
        hookUi_.atQuestion = [this, relative] {
            ASSERT_EQ(::rename((dir_ / relative).c_str(), (dir_ / "moved-away").c_str()), 0);
            ASSERT_EQ(::symlink((dir_ / "outside").c_str(), (dir_ / relative).c_str()), 0);
        };
    }
    void ExpectOutsideAndMovedFolderUntouched() {
        EXPECT_EQ(test::DescribeDifferences(outsideBefore_, SnapshotTree(dir_ / "outside")), "");
        EXPECT_EQ(test::DescribeDifferences(movedBefore_, SnapshotTree(dir_ / "moved-away")), "");
    }
    void RunConfined(const RunPreset& preset) {
        const std::size_t ended = host_.outcomes.size();
        confined_.StartRun(RunKind::Synchronise, preset, nullptr);
        ui_.PumpUntil([&] { return host_.outcomes.size() > ended; });
        EXPECT_FALSE(confined_.running());
    }
    static std::string Logged(const std::string& text) { return kStamp + text + "\n"; }

    QuestionHookUi hookUi_{ui_};
    RunController confined_{state_, host_, hookUi_};  // with the real file operations
    Snapshot outsideBefore_;
    Snapshot movedBefore_;
};

TEST_F(ConfinedRunTest, SynchronisationAfterATargetFolderWasSwappedLeavesTheOutsideAlone) {
    dir_.createFile("src/d/changed.txt", "new", 1700000100);
    dir_.createFile("src/d/new.txt", "brand new", 1700000000);
    dir_.createFile("dst/d/changed.txt", "old", 1700000000);
    dir_.createFile("dst/d/extra1.txt", "e1");
    dir_.createFile("dst/d/extra2.txt", "e2");
    dir_.createFile("dst/d/sub/extra3.txt", "e3");
    dir_.createFile("dst/extra-top.txt", "x");
    MakeOutside({"changed.txt", "new.txt", "extra1.txt", "extra2.txt", "sub/extra3.txt"});
    SwapAtQuestion("dst/d");
    ui_.boxes.Answer(kIdYes);
    ui_.boxes.Answer(kIdOk);

    RunConfined(Preset(src(), dst()));

    EXPECT_THAT(hookUi_.question, HasSubstr("ｱｯﾌﾟﾃﾞｰﾄを実行しますか？"));
    ExpectOutsideAndMovedFolderUntouched();
    EXPECT_FALSE(platform::Exists(dst() + "/extra-top.txt"));  // outside the swapped folder
    EXPECT_THAT(host_.outcomes, ElementsAre(RunOutcome::Incomplete));
    const std::string cannotMake = ".\\FileCtrl:206 - " + dst() + "/d/ が作成できません。";
    EXPECT_THAT(BoxTexts(), ElementsAre(hookUi_.question, cannotMake));
    const std::string log = Log();
    for (const char* name : {"d/extra1.txt", "d/extra2.txt", "d/sub/extra3.txt", "d/sub"}) {
        EXPECT_THAT(log, HasSubstr(Logged(dst() + "/" + name + " が削除できません。(" +
                                          std::strerror(ENOTDIR) + ")")));
    }
    EXPECT_THAT(log, HasSubstr(Logged(cannotMake)));
    EXPECT_THAT(log, Not(HasSubstr("ｱｯﾌﾟﾃﾞｰﾄ完了")));
    EXPECT_EQ(ui_.failures, 5);
    EXPECT_EQ(ui_.boxes.unscripted(), 0u);
}

TEST_F(ConfinedRunTest, MergeAfterASourceFolderWasSwappedLeavesTheOutsideAlone) {
    // Each direction of the merge, and a folder to create, passes through the swapped folder.
    dir_.createFile("src/d/newer-in-src.txt", "src new", 1700000500);
    dir_.createFile("dst/d/newer-in-src.txt", "old", 1700000000);
    dir_.createFile("src/d/newer-in-dst.txt", "old", 1700000000);
    dir_.createFile("dst/d/newer-in-dst.txt", "dst new", 1700000500);
    dir_.createFolder("dst/d/only-dst");
    dir_.createFile("src/top-new.txt", "top new");
    MakeOutside({"newer-in-src.txt", "newer-in-dst.txt"});
    SwapAtQuestion("src/d");
    for (const int answer : {kIdYes, kIdOk, kIdCancel, kIdYes, kIdOk, kIdOk}) {
        ui_.boxes.Answer(answer);
    }
    RunPreset preset = Preset(src(), dst());
    preset.mergeMode = 1;

    RunConfined(preset);

    EXPECT_THAT(hookUi_.question, HasSubstr("ﾏｰｼﾞ処理を続行しますか？"));
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
    EXPECT_THAT(BoxTexts(), ElementsAre(hookUi_.question, cannotMake, cannotOpen, kContinueQuestion,
                                        cannotCreate, "ﾏｰｼﾞ処理終了"));
    EXPECT_THAT(Log(), HasSubstr(Logged(cannotMake) + Logged(cannotOpen)));
    EXPECT_THAT(Log(), HasSubstr(Logged(cannotCreate)));
    EXPECT_EQ(ui_.failures, 3);
    EXPECT_EQ(ui_.boxes.unscripted(), 0u);
}

}  // namespace
}  // namespace mirova
