#include "fileops/FileOperations.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <vector>

#include "FileOpsTesting.h"
#include "fileops/PathText.h"

namespace mirova::test {
namespace {

using platform::Exists;

// With "/" as a base the list operations reach "/" + name, never a name of the current folder.
// Run in a child that works from a folder of the test's own, with names that "/" does not hold,
// so that the real root is never changed.
TEST(RootBase, ListOperationsNeverFallBackToTheCurrentFolder) {
    TempDir dir;
    const std::string victim = "mirova-root-test-" + std::to_string(::getpid()) + "-victim";
    const std::string hello = "mirova-root-test-" + std::to_string(::getpid()) + "-hello";
    ASSERT_FALSE(Exists("/" + victim) || Exists("/" + hello));
    dir.createFile(victim, "not in any tree");
    dir.createFile(hello, "the current folder's");
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (::chdir(dir.path().c_str()) != 0) {
            ::_exit(100);
        }
        ScriptedFileOpsUi ui;
        DeleteFileList("/", Names{victim}, ui);
        const int copied = CopyFileList("/", dir / "dst", Names{hello}, 1, ui);
        ::_exit((Exists(victim) ? 0 : 1) | (Exists(dir / ("dst/" + hello)) ? 2 : 0) |
                (copied != 0 ? 4 : 0));
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_EQ(status, 0) << "1: deleted from the current folder, 2 and 4: copied from it";
    EXPECT_EQ(dir.read(victim), "not in any tree");
}

TEST(PathText, SeparatorsAreStrippedJoinedAndKeptAsNeeded) {
    const std::vector<std::vector<std::string>> rows = {
        // path, stripped, folder to open, folder part
        {"/", "", "/", "/"},
        {"/data/", "/data", "/data", "/data/"},
        {"/data//", "/data/", "/data/", "/data//"},
        {"/a/b/c.txt", "/a/b/c.txt", "/a/b/c.txt", "/a/b/"},
        {"sub/name", "sub/name", "sub/name", "sub/"},
        {"name", "name", "name", ""},
        {"", "", "", ""}};
    for (const auto& row : rows) {
        EXPECT_EQ((std::vector<std::string>{row[0], StripTrailingBackslash(row[0]),
                                            FolderToOpen(row[0]), FolderPartOf(row[0])}),
                  row);
    }
    EXPECT_EQ(JoinPath(StripTrailingBackslash("/"), "etc"), "/etc");
    EXPECT_EQ(JoinPath("/data", "表.txt"), "/data/表.txt");
}

using ListOperationTest = FileOpsTest;

// Folders are made with their missing parents; those already there are no failure. Under
// noStopOnError a copy list goes past its failures, and its result is that of the last file.
TEST_F(ListOperationTest, ListsCreateMissingFoldersAndEndWithTheOutcomeOfTheLastItem) {
    tmp_.createFolder("base/a/b/c");
    EXPECT_EQ(CreateFolderList(tmp_ / "base", Names{"later", "a/b/c", "p/q"}, 0, ui_), 1);
    EXPECT_TRUE(Exists(tmp_ / "base/later/") && Exists(tmp_ / "base/p/q/"));
    EXPECT_TRUE(ui_.windows().empty());
    tmp_.createFile("src/top.txt", "top");
    tmp_.createFile("src/new/deeper/f.txt", "deep");
    const Names names{"top.txt", "new/deeper/f.txt"};
    EXPECT_EQ(CopyFileList(tmp_ / "src/", tmp_ / "dst/", names, 0, ui_), 1);
    EXPECT_EQ(tmp_.read("dst/new/deeper/f.txt"), "deep");
    ASSERT_EQ(ui_.windows().size(), 1u);
    EXPECT_EQ(ui_.windows()[0].statusTexts[1], "new/deeper/f.txt をｺﾋﾟｰ中");
    ExpectWholeWindow(ui_.windows()[0], 2);
    EXPECT_EQ(CopyFileList(tmp_ / "src", tmp_ / "d1", Names{"top.txt", "gone", "top.txt"}, 1, ui_),
              1);
    EXPECT_EQ(CopyFileList(tmp_ / "src", tmp_ / "d2", Names{"top.txt", "gone"}, 1, ui_), 0);
    EXPECT_EQ(tmp_.read("d1/top.txt") + tmp_.read("d2/top.txt"), "toptop");
    EXPECT_TRUE(TakeBoxes().empty());
    EXPECT_EQ(ui_.failures(), 2);
}

// Cancel in the progress window works alike in the three list operations.
TEST_F(ListOperationTest, CancelIsConfirmedBeforeTheNextItem) {
    using Run = std::function<int(const TempDir&, NameList, ScriptedFileOpsUi&)>;
    const std::tuple<const char*, bool, Run> operations[] = {
        {"files/", true,
         [](const TempDir& dir, NameList names, ScriptedFileOpsUi& ui) {
             return DeleteFileList(dir / "files", names, ui);
         }},
        {"folders/", true,
         [](const TempDir& dir, NameList names, ScriptedFileOpsUi& ui) {
             return DeleteFolderList(dir / "folders", names, ui);
         }},
        {"dst/", false,
         [](const TempDir& dir, NameList names, ScriptedFileOpsUi& ui) {
             return CopyFileList(dir / "src", dir / "dst", names, 0, ui);
         }},
    };
    for (const auto& [items, handledIsGone, run] : operations) {
        for (const bool stop : {false, true}) {
            SCOPED_TRACE(testing::Message() << items << stop);
            TempDir dir;
            for (const std::string name : {"a", "b", "c"}) {
                dir.createFile("files/" + name, "x");
                dir.createFolder("folders/" + name);
                dir.createFile("src/" + name, "x");
            }
            ScriptedFileOpsUi ui;
            ui.PressCancelBeforeItem(1);
            ui.messages.Answer(stop ? kIdYes : kIdNo);
            EXPECT_EQ(run(dir, Names{"a", "b", "c"}, ui), stop ? 0 : 1);
            for (const std::string name : {"a", "b", "c"}) {
                EXPECT_EQ(Exists(dir / items + name) != handledIsGone, name == "a" || !stop);
            }
            EXPECT_EQ(BoxesOf(ui), (Boxes{{kReallyStopQuestion, kMbYesNo}}));
            ASSERT_EQ(ui.windows().size(), 1u);
            EXPECT_EQ(ui.windows()[0].statusTexts.size(), stop ? 1u : 3u);
            EXPECT_EQ(ui.windows()[0].stepBarCalls, stop ? 1 : 3);
            EXPECT_TRUE(ui.windows()[0].destroyed);
        }
    }
}

// Below 10,000 items the bar counts items; from 10,000 on it counts percent, stepping at the
// first item and then about every hundredth.
TEST_F(ListOperationTest, ProgressBarCountsItemsOrPercent) {
    for (const auto& [items, steps] : {std::pair{9999, 9999}, {10000, 100}, {25000, 100}}) {
        std::vector<std::string> texts;  // names that do not exist: cheap, and no failures
        for (int i = 0; i < items; ++i) {
            texts.push_back("n" + std::to_string(i));
        }
        ScriptedFileOpsUi ui;
        EXPECT_EQ(DeleteFileList(tmp_ / "empty", Names(std::move(texts)), ui), 1);
        ASSERT_EQ(ui.windows().size(), 1u);
        ExpectWholeWindow(ui.windows()[0], items, steps);
    }
}

}  // namespace
}  // namespace mirova::test
