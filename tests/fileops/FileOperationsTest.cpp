#include "fileops/FileOperations.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <vector>

#include "FileOpsTesting.h"
#include "fileops/PathText.h"
#include "platform/ConfinedTree.h"
#include "platform/FileSystem.h"

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
    ASSERT_FALSE(Exists("/" + victim, platform::FollowLinks::No));
    ASSERT_FALSE(Exists("/" + hello, platform::FollowLinks::No));
    dir.createFile(victim, "not in any tree");
    dir.createFile(hello, "the current folder's");
    dir.createFolder("dst");

    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (::chdir(dir.path().c_str()) != 0) {
            ::_exit(100);
        }
        ScriptedFileOpsUi ui;
        const char* victimName = victim.c_str();
        const char* helloName = hello.c_str();
        DeleteFileList("/", NameList(&victimName, 1), ui);
        const int copied = CopyFileList("/", dir / "dst", NameList(&helloName, 1), 1, ui);
        platform::ConfinedTree empty("");
        platform::ItemPlace place;
        const int code = (Exists(victim, platform::FollowLinks::No) ? 0 : 1) |
                         (Exists(dir / ("dst/" + hello), platform::FollowLinks::No) ? 2 : 0) |
                         (copied != 0 ? 4 : 0) |
                         (empty.Locate(victimName, place).error == EINVAL ? 0 : 8);
        ::_exit(code);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "1: deleted from the current folder, 2 and 4: copied "
                                         "from it, 8: an empty base was a folder";
    EXPECT_EQ(dir.read(victim), "not in any tree");
}

TEST(PathText, SeparatorsAreStrippedJoinedAndKeptAsNeeded) {
    EXPECT_EQ(StripTrailingBackslash("/"), "");
    EXPECT_EQ(StripTrailingBackslash("/data/"), "/data");
    EXPECT_EQ(StripTrailingBackslash("/data"), "/data");
    EXPECT_EQ(StripTrailingBackslash("/data//"), "/data/");
    EXPECT_EQ(StripTrailingBackslash(""), "");
    // Joining after the strip is right for the root and for folders.
    EXPECT_EQ(JoinPath(StripTrailingBackslash("/"), "etc"), "/etc");
    EXPECT_EQ(JoinPath(StripTrailingBackslash("/data/"), "sub/a.txt"), "/data/sub/a.txt");
    EXPECT_EQ(JoinPath("/data", "表.txt"), "/data/表.txt");
    // The folder to open: the root stays the root, and nothing becomes the current folder.
    EXPECT_EQ(FolderToOpen("/"), "/");
    EXPECT_EQ(FolderToOpen("/data/"), "/data");
    EXPECT_EQ(FolderToOpen(""), "");
    // The folder part keeps its trailing separator.
    EXPECT_EQ(FolderPartOf("/a/b/c.txt"), "/a/b/");
    EXPECT_EQ(FolderPartOf("/a/b/"), "/a/b/");
    EXPECT_EQ(FolderPartOf("/x"), "/");
    EXPECT_EQ(FolderPartOf("sub/name"), "sub/");
    EXPECT_EQ(FolderPartOf("name"), "");
    EXPECT_EQ(FolderPartOf(""), "");
}

using ListOperationTest = FileOpsTest;

// Read-only files go, links go as links, and a file in a folder the user may not change stays
// with a log line while the list goes on.
TEST_F(ListOperationTest, DeleteFileListDeletesWhatItMayAndLogsTheRest) {
    for (const char* base : {"/base", "/base/"}) {
        SCOPED_TRACE(base);
        TempDir dir;
        ScriptedFileOpsUi ui;
        dir.createFile("base/ro.txt", "x");
        dir.createFile("base/sub/private.txt", "y");
        dir.createFile("base/locked/stays.txt", "s");
        dir.createFile("keep.txt", "target of the link");
        ASSERT_EQ(::chmod((dir / "base/ro.txt").c_str(), 0444), 0);
        ASSERT_EQ(::chmod((dir / "base/sub/private.txt").c_str(), 0400), 0);
        ASSERT_EQ(::symlink("../keep.txt", (dir / "base/link").c_str()), 0);
        const ScopedUnprivileged unprivileged(dir);
        ASSERT_EQ(::chmod((dir / "base/locked").c_str(), 0555), 0);

        EXPECT_EQ(DeleteFileList(dir.path() + base,
                                 Names{"ro.txt", "locked/stays.txt", "sub/private.txt", "link",
                                       "already-gone.txt"},
                                 ui),
                  1);
        for (const char* name : {"base/ro.txt", "base/sub/private.txt", "base/link"}) {
            EXPECT_FALSE(Exists(dir / name)) << name;
        }
        EXPECT_EQ(dir.read("base/locked/stays.txt"), "s");
        EXPECT_EQ(dir.read("keep.txt"), "target of the link");
        EXPECT_EQ(dir.readLog(), Logged(CannotDeleteText(dir / "base/locked/stays.txt", EACCES)));
        const auto windows = ui.windows();
        ASSERT_EQ(windows.size(), 1u);
        EXPECT_EQ(windows[0].statusTexts, Statuses({"ro.txt", "locked/stays.txt", "sub/private.txt",
                                                    "link", "already-gone.txt"},
                                                   " を削除中"));
        ExpectWholeWindow(windows[0], 5);
        EXPECT_TRUE(ui.messages.requests().empty());
        EXPECT_EQ(ui.failures(), 1);
    }
}

TEST_F(ListOperationTest, DeletesReachPathsLongerThanPathMax) {
    const std::string deep = DeepFolder(tmp_ / "base", 'd');
    WriteAnyLength(deep + "/ro.txt", "x");
    ASSERT_TRUE(platform::SetPermissions(deep + "/ro.txt", 0444).ok());
    WriteAnyLength(deep + "/blocker", "a file where a folder is expected");
    ASSERT_TRUE(platform::CreateFolder(deep + "/empty").ok());

    EXPECT_EQ(DeleteFileList(deep, Names{"ro.txt", "blocker/x.txt"}, ui_), 1);
    EXPECT_EQ(DeleteFolderList(deep, Names{"empty"}, ui_), 1);
    EXPECT_FALSE(Exists(deep + "/ro.txt"));
    EXPECT_FALSE(Exists(deep + "/empty"));
    // The walk stops at the file: told, then logged as not deleted.
    EXPECT_EQ(TakeBoxes(),
              (Boxes{{CannotEnterText(deep + "/blocker/x.txt", "blocker", deep), kMbOk}}));
    EXPECT_EQ(TakeLog(), Logged(CannotDeleteText(deep + "/blocker/x.txt", ENOTDIR)));
    EXPECT_EQ(ui_.failures(), 1);
}

// Folders are made with their missing parents; those already there are no failure.
TEST_F(ListOperationTest, ListsCreateMissingFoldersWithTheirParents) {
    tmp_.createFolder("base/a/b/c");
    EXPECT_EQ(CreateFolderList(tmp_ / "base", Names{"later", "a/b/c", "p/q"}, 0, ui_), 1);
    EXPECT_TRUE(Exists(tmp_ / "base/later/"));
    EXPECT_TRUE(Exists(tmp_ / "base/p/q/"));
    EXPECT_TRUE(ui_.windows().empty());

    tmp_.createFile("src/top.txt", "top");
    tmp_.createFile("src/new/deeper/f.txt", "deep");
    for (const char* slash : {"", "/"}) {
        SCOPED_TRACE(slash);
        TempDir target;
        ScriptedFileOpsUi ui;
        EXPECT_EQ(CopyFileList(tmp_ / "src" + slash, target / "dst" + slash,
                               Names{"top.txt", "new/deeper/f.txt"}, 0, ui),
                  1);
        EXPECT_EQ(target.read("dst/top.txt"), "top");
        EXPECT_EQ(target.read("dst/new/deeper/f.txt"), "deep");
        const auto windows = ui.windows();
        ASSERT_EQ(windows.size(), 1u);
        EXPECT_EQ(windows[0].statusTexts, Statuses({"top.txt", "new/deeper/f.txt"}, " をｺﾋﾟｰ中"));
        ExpectWholeWindow(windows[0], 2);
        EXPECT_TRUE(ui.messages.requests().empty());
    }
    EXPECT_TRUE(TakeBoxes().empty());
}

// Under noStopOnError a list goes past its failures, and its result is that of the last file.
TEST_F(ListOperationTest, QuietCopyListEndsWithTheOutcomeOfItsLastFile) {
    tmp_.createFile("src/a.txt", "a");
    tmp_.createFile("src/c.txt", "c");
    EXPECT_EQ(
        CopyFileList(tmp_ / "src", tmp_ / "dst", Names{"a.txt", "missing.txt", "c.txt"}, 1, ui_),
        1);
    EXPECT_EQ(
        CopyFileList(tmp_ / "src", tmp_ / "dst2", Names{"a.txt", "c.txt", "missing.txt"}, 1, ui_),
        0);
    for (const char* copied : {"dst/a.txt", "dst/c.txt", "dst2/a.txt", "dst2/c.txt"}) {
        EXPECT_TRUE(Exists(tmp_ / copied)) << copied;
    }
    EXPECT_TRUE(TakeBoxes().empty());
    EXPECT_EQ(ui_.failures(), 2);
}

TEST_F(ListOperationTest, CopyFileListReachesPathsLongerThanPathMax) {
    const std::string from = DeepFolder(tmp_ / "src", 's');
    const std::string to = DeepFolder(tmp_ / "dst", 't', false);  // created by the copy
    ASSERT_TRUE(platform::CreateFolder(from + "/sub").ok());
    WriteAnyLength(from + "/sub/f.bin", Pattern(1000));
    EXPECT_EQ(CopyFileList(from + "/", to, Names{"sub/f.bin"}, 0, ui_), 1);
    EXPECT_TRUE(ReadAnyLength(to + "/sub/f.bin") == Pattern(1000));
    EXPECT_TRUE(TakeBoxes().empty());
    EXPECT_EQ(ui_.failures(), 0);
}

// Cancel in the progress window works alike in the three list operations.
TEST_F(ListOperationTest, CancelIsConfirmedBeforeTheNextItem) {
    const struct {
        const char* label;
        const char* items;  // where an item shows it was handled
        bool handledIsGone;
        std::function<int(const TempDir&, NameList, ScriptedFileOpsUi&)> run;
    } operations[] = {
        {"DeleteFileList", "files/", true,
         [](const TempDir& dir, NameList names, ScriptedFileOpsUi& ui) {
             return DeleteFileList(dir / "files", names, ui);
         }},
        {"DeleteFolderList", "folders/", true,
         [](const TempDir& dir, NameList names, ScriptedFileOpsUi& ui) {
             return DeleteFolderList(dir / "folders", names, ui);
         }},
        {"CopyFileList", "dst/", false,
         [](const TempDir& dir, NameList names, ScriptedFileOpsUi& ui) {
             return CopyFileList(dir / "src", dir / "dst", names, 0, ui);
         }},
    };
    for (const auto& operation : operations) {
        for (const bool stop : {false, true}) {
            SCOPED_TRACE(testing::Message() << operation.label << (stop ? ", stop" : ", go on"));
            TempDir dir;
            for (const std::string name : {"a", "b", "c"}) {
                dir.createFile("files/" + name, "x");
                dir.createFolder("folders/" + name);
                dir.createFile("src/" + name, "x");
            }
            ScriptedFileOpsUi ui;
            ui.PressCancelBeforeItem(1);
            ui.messages.Answer(stop ? kIdYes : kIdNo);

            EXPECT_EQ(operation.run(dir, Names{"a", "b", "c"}, ui), stop ? 0 : 1);
            for (const std::string name : {"a", "b", "c"}) {
                const bool handled =
                    Exists(dir / operation.items + name) != operation.handledIsGone;
                EXPECT_EQ(handled, name == "a" || !stop) << name;
            }
            EXPECT_EQ(BoxesOf(ui), (Boxes{{kReallyStopQuestion, kMbYesNo}}));
            const auto windows = ui.windows();
            ASSERT_EQ(windows.size(), 1u);
            EXPECT_EQ(windows[0].statusTexts.size(), stop ? 1u : 3u);
            EXPECT_EQ(windows[0].stepBarCalls, stop ? 1 : 3);
            EXPECT_TRUE(windows[0].destroyed);
        }
    }
}

// Below 10,000 items the bar counts items; from 10,000 on it counts percent, stepping at the
// first item and then about every hundredth.
TEST_F(ListOperationTest, ProgressBarCountsItemsOrPercent) {
    const struct {
        int items;
        int steps;
    } rows[] = {{9999, 9999}, {10000, 100}, {25000, 100}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.items);
        // Names that do not exist: the cheapest items, and no failures.
        std::vector<std::string> texts;
        for (int i = 0; i < row.items; ++i) {
            texts.push_back("n" + std::to_string(i));
        }
        ScriptedFileOpsUi ui;
        EXPECT_EQ(DeleteFileList(tmp_ / "empty", Names(std::move(texts)), ui), 1);
        const auto windows = ui.windows();
        ASSERT_EQ(windows.size(), 1u);
        ExpectWholeWindow(windows[0], row.items, row.steps);
        EXPECT_EQ(ui.failures(), 0);
    }
}

}  // namespace
}  // namespace mirova::test
