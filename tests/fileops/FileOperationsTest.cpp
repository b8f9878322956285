// The list operations: paths, progress, Cancel, and trees where a folder was swapped for a link
// to a folder outside, below which items fail as they would for any folder that cannot be
// entered, while nothing outside the tree is deleted, created, written or read into it.
#include "fileops/FileOperations.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

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

// Folders are made with their missing parents, those already there are no failure. Under
// noStopOnError a copy list goes past its failures, and its result is that of the last file.
TEST_F(ListOperationTest, ListsCreateMissingFoldersAndEndWithTheOutcomeOfTheLastItem) {
    tmp_.createFolder("base/a/b/c");
    EXPECT_EQ(CreateFolderList(tmp_ / "base", Names{"a/b/c", "p/q"}, 0, ui_), 1);
    EXPECT_TRUE(Exists(tmp_ / "base/p/q/"));
    EXPECT_TRUE(ui_.windows().empty());
    tmp_.createFile("src/top.txt", "top");
    EXPECT_EQ(CopyFileList(tmp_ / "src", tmp_ / "d1", Names{"top.txt", "gone", "top.txt"}, 1, ui_),
              1);
    EXPECT_EQ(CopyFileList(tmp_ / "src", tmp_ / "d2", Names{"top.txt", "gone"}, 1, ui_), 0);
    EXPECT_EQ(tmp_.read("d1/top.txt") + tmp_.read("d2/top.txt"), "toptop");
    EXPECT_TRUE(TakeBoxes().empty());
    EXPECT_EQ(ui_.failures(), 2);
}

// Cancel in the progress window works alike in the three list operations: confirmed, it ends the
// list before the next item.
TEST_F(ListOperationTest, CancelIsConfirmedBeforeTheNextItem) {
    for (const int operation : {0, 1, 2}) {
        for (const bool stop : {false, true}) {
            SCOPED_TRACE(testing::Message() << operation << stop);
            TempDir dir;
            for (const std::string name : {"a", "b", "c"}) {
                dir.createFile("files/" + name, "x");
                dir.createFolder("folders/" + name);
                dir.createFile("src/" + name, "x");
            }
            ScriptedFileOpsUi ui;
            ui.PressCancelBeforeItem(1);
            ui.messages.Answer(stop ? kIdYes : kIdNo);
            const Names names{"a", "b", "c"};
            EXPECT_EQ(operation == 0   ? DeleteFileList(dir / "files", names, ui)
                      : operation == 1 ? DeleteFolderList(dir / "folders", names, ui)
                                       : CopyFileList(dir / "src", dir / "dst", names, 0, ui),
                      stop ? 0 : 1);
            const std::string items = operation == 0   ? "files/"
                                      : operation == 1 ? "folders/"
                                                       : "dst/";
            for (const std::string name : {"a", "b", "c"}) {
                EXPECT_EQ(Exists(dir / items + name) != (operation < 2), name == "a" || !stop);
            }
            EXPECT_EQ(BoxesOf(ui), (Boxes{{kReallyStopQuestion, kMbYesNo}}));
            ASSERT_EQ(ui.windows().size(), 1u);
            const ScriptedFileOpsUi::Window window = ui.windows()[0];
            EXPECT_EQ(window.statusTexts.size(), stop ? 1u : 3u);
            EXPECT_EQ(window.stepBarCalls, stop ? 1 : 3);
            EXPECT_TRUE(window.destroyed);
            if (operation == 2) {
                EXPECT_EQ(window.statusTexts[0], "a をｺﾋﾟｰ中");
            }
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

// "outside" holds items of the names the operations are given, so that any of them that went
// through a link would find something to delete, overwrite or read.
class ConfinementTest : public FileOpsTest {
protected:
    ConfinementTest() {
        tmp_.createFile("outside/f", "outside f");
        tmp_.createFile("outside/secret.txt", "outside secret");
        tmp_.createFolder("outside/sub");
        tmp_.createFolder("outside/empty");
        before_ = SnapshotTree(tmp_ / "outside");
    }
    void TearDown() override {
        EXPECT_EQ(DescribeDifferences(before_, SnapshotTree(tmp_ / "outside")), "");
        EXPECT_TRUE(PartialCopiesIn(tmp_ / "dst").empty());
    }
    void Link(const std::string& relative, const std::string& target = "outside") {
        tmp_.createFolder(relative.substr(0, relative.rfind('/')));
        ASSERT_EQ(::symlink((tmp_ / target).c_str(), (tmp_ / relative).c_str()), 0);
    }
    Items before_;
};

// A link that is the item itself is worked on as a link (deleted, replaced, copied), never what
// it points to; a source folder swapped for a link is a source that cannot be opened. The deletes
// below a link and the folders made through one are tried with the other failures of the lists.
TEST_F(ConfinementTest, LinksAreNeverFollowedToTheirTargets) {
    Link("base/d");
    Link("base/lf", "outside/f");
    EXPECT_EQ(DeleteFileList(tmp_ / "base", Names{"lf"}, ui_), 1);
    EXPECT_FALSE(Exists(tmp_ / "base/lf"));
    EXPECT_EQ(CreateFolderList(tmp_ / "base", Names{"d"}, 1, ui_), 0);
    EXPECT_EQ(TakeLog(), Logged(CannotCreateText(244, tmp_ / "base/d")));
    EXPECT_TRUE(IsLink(tmp_ / "base/d"));

    tmp_.createFile("src/ok.txt", "ok");
    tmp_.createFile("src/lf", "new content");
    Link("src/d");
    Link("src/link", "outside/f");
    Link("dst/lf", "outside/f");
    const Names names{"d/secret.txt", "lf", "link", "ok.txt"};
    EXPECT_EQ(CopyFileList(tmp_ / "src", tmp_ / "dst", names, 1, ui_), 1);
    EXPECT_EQ(TakeLog(), Logged(CannotOpenText(tmp_ / "src/d/secret.txt")));
    EXPECT_FALSE(Exists(tmp_ / "dst/d/secret.txt") || IsLink(tmp_ / "dst/lf"));
    EXPECT_EQ(tmp_.read("dst/ok.txt") + tmp_.read("dst/lf"), "oknew content");
    EXPECT_EQ(ItemsOf(tmp_).at("dst/link").content, tmp_ / "outside/f");
    EXPECT_TRUE(TakeBoxes().empty());
}

// Beyond PATH_MAX the lists work as well, and the user is also told which folder could not be
// entered.
TEST_F(ConfinementTest, ListsReachPathsLongerThanPathMaxAndNameTheLinkThatStoppedTheWalk) {
    const std::string deep = DeepFolder(tmp_ / "base", 'b');
    WriteAnyLength(deep + "/ro.txt", "x");
    ASSERT_TRUE(platform::SetPermissions(deep + "/ro.txt", 0444).ok());
    ASSERT_TRUE(platform::CreateFolder(deep + "/empty").ok());
    platform::PathAnchor anchor;
    ASSERT_TRUE(platform::AnchorPath(deep + "/d", anchor).ok());
    ASSERT_TRUE(platform::CreateLink(tmp_ / "outside", {anchor.dir, anchor.leaf.c_str()}).ok());
    EXPECT_EQ(DeleteFileList(deep, Names{"ro.txt", "d/f"}, ui_), 1);
    EXPECT_EQ(DeleteFolderList(deep, Names{"empty"}, ui_), 1);
    EXPECT_FALSE(Exists(deep + "/ro.txt") || Exists(deep + "/empty"));
    EXPECT_EQ(TakeBoxes(), (Boxes{{CannotEnterText(deep + "/d/f", "d", deep), kMbOk}}));
    EXPECT_EQ(TakeLog(), Logged(CannotDeleteText(deep + "/d/f", ENOTDIR)));
    // A folder that cannot be created is no folder that cannot be entered.
    platform::InjectFaultForTesting(platform::FaultCall::CreateFolder, EACCES, "new");
    EXPECT_EQ(CreateFolderList(deep, Names{"x/new/y"}, 1, ui_), 0);
    platform::ClearFaultsForTesting();
    EXPECT_EQ(TakeLog(), Logged(CannotCreateText(244, deep + "/x/new/y")));
    EXPECT_TRUE(TakeBoxes().empty());
    const std::string to = DeepFolder(tmp_ / "dst", 't', false);  // created by the copy
    tmp_.createFile("src/sub/f.bin", Pattern(1000));
    EXPECT_EQ(CopyFileList(tmp_ / "src/", to, Names{"sub/f.bin"}, 0, ui_), 1);
    EXPECT_TRUE(ReadAnyLength(to + "/sub/f.bin") == Pattern(1000));
}

}  // namespace
}  // namespace mirova::test
