#include "fileops/FileOperations.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "FileOpsTesting.h"
#include "platform/FileSystem.h"

namespace mirova {
namespace {

using test::CannotCreateText;
using test::CannotDeleteText;
using test::Names;
using test::ScriptedFileOpsUi;

bool Exists(const std::string& path) {
    return platform::Exists(path);
}

std::vector<std::string> Statuses(std::initializer_list<const char*> names, const char* action) {
    std::vector<std::string> texts;
    for (const char* name : names) {
        texts.push_back(std::string(name) + action);
    }
    return texts;
}

// The window of a list of n items that was worked through: one step per item, then closed.
void ExpectWholeWindow(const ScriptedFileOpsUi::Window& window, int n) {
    EXPECT_EQ(window.rangeLow, 0);
    EXPECT_EQ(window.rangeHigh, n);
    EXPECT_EQ(window.step, 1);
    EXPECT_EQ(window.stepBarCalls, n);
    EXPECT_EQ(window.cancelChecks, n);
    EXPECT_TRUE(window.destroyed);
}

TEST(FolderPartOf, KeepsTheTrailingSeparator) {
    EXPECT_EQ(FolderPartOf("/a/b/c.txt"), "/a/b/");
    EXPECT_EQ(FolderPartOf("/a/b/"), "/a/b/");
    EXPECT_EQ(FolderPartOf("/x"), "/");
    EXPECT_EQ(FolderPartOf("sub/name"), "sub/");
    EXPECT_EQ(FolderPartOf("name"), "");
    EXPECT_EQ(FolderPartOf(""), "");
}

using ListOperationTest = test::FileOpsTest;

TEST_F(ListOperationTest, DeleteFileListDeletesReadOnlyFilesAndLinksAsLinks) {
    for (const char* base : {"/base", "/base/"}) {
        SCOPED_TRACE(base);
        tmp_.createFile("base/ro.txt", "x");
        tmp_.createFile("base/sub/private.txt", "y");
        tmp_.createFile("keep.txt", "target of the link");
        ASSERT_EQ(::chmod((tmp_ / "base/ro.txt").c_str(), 0444), 0);
        ASSERT_EQ(::chmod((tmp_ / "base/sub/private.txt").c_str(), 0400), 0);
        ASSERT_EQ(::symlink("../keep.txt", (tmp_ / "base/link").c_str()), 0);
        ScriptedFileOpsUi ui;
        const Names names{"ro.txt", "sub/private.txt", "link", "already-gone.txt"};

        EXPECT_EQ(DeleteFileList(tmp_.path() + base, names, ui), 1);
        for (const char* name : {"base/ro.txt", "base/sub/private.txt", "base/link"}) {
            EXPECT_FALSE(Exists(tmp_ / name)) << name;
        }
        EXPECT_EQ(tmp_.read("keep.txt"), "target of the link");
        const auto windows = ui.windows();
        ASSERT_EQ(windows.size(), 1u);
        EXPECT_EQ(windows[0].statusTexts,
                  Statuses({"ro.txt", "sub/private.txt", "link", "already-gone.txt"}, " を削除中"));
        ExpectWholeWindow(windows[0], 4);
        EXPECT_TRUE(ui.messages.requests().empty());
        EXPECT_EQ(ui.failures(), 0);
    }
    EXPECT_EQ(TakeLog(), "");
}

TEST_F(ListOperationTest, FileThatCannotBeDeletedStaysWithALogLine) {
    tmp_.createFile("base/locked/stays.txt", "s");
    tmp_.createFile("base/free.txt", "f");
    const test::ScopedUnprivileged unprivileged(tmp_);
    ASSERT_EQ(::chmod((tmp_ / "base/locked").c_str(), 0555), 0);
    const Names names{"locked/stays.txt", "free.txt"};
    EXPECT_EQ(DeleteFileList(tmp_ / "base", names, ui_), 1);
    EXPECT_EQ(tmp_.read("base/locked/stays.txt"), "s");
    EXPECT_FALSE(Exists(tmp_ / "base/free.txt"));
    EXPECT_EQ(TakeLog(), Logged(CannotDeleteText(tmp_ / "base/locked/stays.txt", EACCES)));
    EXPECT_TRUE(TakeBoxes().empty());
    EXPECT_EQ(ui_.failures(), 1);
}

TEST_F(ListOperationTest, DeleteFolderListRemovesEmptyFoldersAndLogsTheRest) {
    tmp_.createFolder("base/c/d/e");
    tmp_.createFile("base/full/inside.txt", "i");
    // Descending order, as the synchronisation passes it: subfolders before their parents.
    const Names names{"full", "gone", "c/d/e", "c/d", "c"};
    EXPECT_EQ(DeleteFolderList(tmp_ / "base/", names, ui_), 1);
    EXPECT_FALSE(Exists(tmp_ / "base/c"));
    EXPECT_EQ(tmp_.read("base/full/inside.txt"), "i");
    EXPECT_EQ(TakeLog(), Logged(CannotDeleteText(tmp_ / "base/full", ENOTEMPTY)));
    EXPECT_TRUE(TakeBoxes().empty());
    EXPECT_EQ(ui_.failures(), 1);
    const auto windows = ui_.windows();
    ASSERT_EQ(windows.size(), 1u);
    EXPECT_EQ(windows[0].statusTexts, Statuses({"full", "gone", "c/d/e", "c/d", "c"}, " を削除中"));
    ExpectWholeWindow(windows[0], 5);
}

TEST_F(ListOperationTest, DeletesReachPathsLongerThanPathMax) {
    const std::string deep = test::DeepFolder(tmp_ / "base", 'd');
    test::WriteAnyLength(deep + "/ro.txt", "x");
    ASSERT_TRUE(platform::SetPermissions(deep + "/ro.txt", 0444).ok());
    test::WriteAnyLength(deep + "/blocker", "a file where a folder is expected");
    ASSERT_TRUE(platform::CreateFolder(deep + "/empty").ok());
    const Names files{"ro.txt", "blocker/x.txt"};
    const Names folders{"empty"};

    EXPECT_EQ(DeleteFileList(deep, files, ui_), 1);
    EXPECT_EQ(DeleteFolderList(deep, folders, ui_), 1);
    EXPECT_FALSE(Exists(deep + "/ro.txt"));
    EXPECT_FALSE(Exists(deep + "/empty"));
    // The walk stops at the file: told, then logged as not deleted.
    const auto boxes = TakeBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, test::CannotEnterText(deep + "/blocker/x.txt", "blocker", deep));
    EXPECT_EQ(TakeLog(), Logged(CannotDeleteText(deep + "/blocker/x.txt", ENOTDIR)));
    EXPECT_EQ(ui_.failures(), 1);
}

TEST_F(ListOperationTest, CreateFolderListStopsAtTheFirstFolderThatCannotBeCreated) {
    tmp_.createFile("base/x/file", "in the way");
    const Names names{"a/b/c", "x/file/y", "later"};
    for (const int quiet : {0, 1}) {
        SCOPED_TRACE(quiet);
        EXPECT_EQ(CreateFolderList(tmp_ / "base/", names, quiet, ui_), 0);
        EXPECT_TRUE(platform::Exists(tmp_ / "base/a/b/c/"));
        EXPECT_FALSE(Exists(tmp_ / "base/later"));
        const std::string failure = CannotCreateText(244, tmp_ / "base/x/file/y");
        const auto boxes = TakeBoxes();
        ASSERT_EQ(boxes.size(), quiet ? 0u : 1u);
        if (!quiet) {
            EXPECT_EQ(boxes[0].text, failure);
        }
        EXPECT_EQ(TakeLog(), Logged(failure));
    }
    EXPECT_EQ(ui_.failures(), 2);

    const Names fine{"later", "a/b/c", "p/q"};
    EXPECT_EQ(CreateFolderList(tmp_ / "base", fine, 0, ui_), 1);
    EXPECT_TRUE(platform::Exists(tmp_ / "base/later/"));
    EXPECT_TRUE(platform::Exists(tmp_ / "base/p/q/"));
    EXPECT_TRUE(ui_.windows().empty());
}

TEST_F(ListOperationTest, CopyFileListCreatesMissingFoldersWithTheirParents) {
    tmp_.createFile("src/top.txt", "top");
    tmp_.createFile("src/new/deeper/f.txt", "deep");
    const Names names{"top.txt", "new/deeper/f.txt"};
    for (const char* slash : {"", "/"}) {
        SCOPED_TRACE(slash);
        test::TempDir target;
        ScriptedFileOpsUi ui;
        EXPECT_EQ(CopyFileList(tmp_ / "src" + slash, target / "dst" + slash, names, 0, ui), 1);
        EXPECT_EQ(target.read("dst/top.txt"), "top");
        EXPECT_EQ(target.read("dst/new/deeper/f.txt"), "deep");
        const auto windows = ui.windows();
        ASSERT_EQ(windows.size(), 1u);
        EXPECT_EQ(windows[0].statusTexts, Statuses({"top.txt", "new/deeper/f.txt"}, " をｺﾋﾟｰ中"));
        ExpectWholeWindow(windows[0], 2);
        EXPECT_TRUE(ui.messages.requests().empty());
    }
}

TEST_F(ListOperationTest, CopyFileListEndsWhenADestinationFolderCannotBeCreated) {
    tmp_.createFile("src/blocked/a.txt", "a");
    tmp_.createFile("src/b.txt", "b");
    tmp_.createFile("dst/blocked", "a file where the folder belongs");
    const Names names{"blocked/a.txt", "b.txt"};
    for (const int quiet : {0, 1}) {
        SCOPED_TRACE(quiet);
        EXPECT_EQ(CopyFileList(tmp_ / "src", tmp_ / "dst", names, quiet, ui_), 0);
        const std::string failure = CannotCreateText(206, tmp_ / "dst/blocked/");
        const auto boxes = TakeBoxes();
        ASSERT_EQ(boxes.size(), quiet ? 0u : 1u);
        if (!quiet) {
            EXPECT_EQ(boxes[0].text, failure);
        }
        EXPECT_EQ(TakeLog(), Logged(failure));
        EXPECT_FALSE(Exists(tmp_ / "dst/b.txt"));
        EXPECT_TRUE(ui_.windows().back().destroyed);
    }
    EXPECT_EQ(tmp_.read("dst/blocked"), "a file where the folder belongs");
    EXPECT_EQ(ui_.failures(), 2);
}

// A failed copy in the middle of a list: asked whether to go on, or passed over in silence.
TEST_F(ListOperationTest, CopyFileListGoesOnAfterAFailureAsTheUserOrTheSettingSays) {
    tmp_.createFile("src/a.txt", "a");
    tmp_.createFile("src/c.txt", "c");
    const struct {
        const char* label;
        int quiet;
        std::vector<int> answers;  // Retry/Cancel for the missing source, then the question
        const char* last;          // the last name; "" when it exists
        int result;
        bool lastCopied;
    } rows[] = {
        {"asked, go on", 0, {kIdCancel, kIdYes}, "c.txt", 1, true},
        {"asked, stop", 0, {kIdCancel, kIdNo}, "c.txt", 0, false},
        {"quiet, the last file copied", 1, {}, "c.txt", 1, true},
        {"quiet, the last file fails", 1, {}, "missing-too.txt", 0, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        test::TempDir target;
        ScriptedFileOpsUi ui;
        for (const int answer : row.answers) {
            ui.messages.Answer(answer);
        }
        const Names names{"a.txt", "missing.txt", row.last};
        EXPECT_EQ(CopyFileList(tmp_ / "src", target / "dst", names, row.quiet, ui), row.result);
        EXPECT_EQ(target.read("dst/a.txt"), "a");
        EXPECT_EQ(Exists(target / "dst/c.txt"), row.lastCopied);
        const auto boxes = ui.messages.requests();
        if (row.quiet) {
            EXPECT_TRUE(boxes.empty());
        } else {
            ASSERT_EQ(boxes.size(), 2u);
            EXPECT_EQ(boxes[1].text, kContinueQuestion);
            EXPECT_EQ(boxes[1].style, kMbYesNo);
        }
        EXPECT_EQ(ui.messages.unscripted(), 0u);
        EXPECT_TRUE(ui.windows()[0].destroyed);
    }
}

TEST_F(ListOperationTest, CopyFileListReachesPathsLongerThanPathMax) {
    const std::string from = test::DeepFolder(tmp_ / "src", 's');
    const std::string to = test::DeepFolder(tmp_ / "dst", 't', false);  // created by the copy
    ASSERT_TRUE(platform::CreateFolder(from + "/sub").ok());
    test::WriteAnyLength(from + "/sub/f.bin", test::Pattern(1000));
    const Names names{"sub/f.bin"};
    EXPECT_EQ(CopyFileList(from + "/", to, names, 0, ui_), 1);
    EXPECT_TRUE(test::ReadAnyLength(to + "/sub/f.bin") == test::Pattern(1000));
    EXPECT_TRUE(TakeBoxes().empty());
    EXPECT_EQ(ui_.failures(), 0);
}

// Cancel in the progress window works alike in the three list operations.
TEST_F(ListOperationTest, CancelIsConfirmedBeforeTheNextItem) {
    struct Operation {
        const char* label;
        std::function<void(const test::TempDir&)> prepare;
        std::function<int(const test::TempDir&, NameList, ScriptedFileOpsUi&)> run;
        std::function<bool(const test::TempDir&, const char*)> handled;
    };
    const Operation operations[] = {
        {"DeleteFileList",
         [](const test::TempDir& dir) {
             for (const char* name : {"a", "b", "c"}) {
                 dir.createFile(std::string("base/") + name, "x");
             }
         },
         [](const test::TempDir& dir, NameList names, ScriptedFileOpsUi& ui) {
             return DeleteFileList(dir / "base", names, ui);
         },
         [](const test::TempDir& dir, const char* name) {
             return !Exists(dir / (std::string("base/") + name));
         }},
        {"DeleteFolderList",
         [](const test::TempDir& dir) {
             for (const char* name : {"a", "b", "c"}) {
                 dir.createFolder(std::string("base/") + name);
             }
         },
         [](const test::TempDir& dir, NameList names, ScriptedFileOpsUi& ui) {
             return DeleteFolderList(dir / "base", names, ui);
         },
         [](const test::TempDir& dir, const char* name) {
             return !Exists(dir / (std::string("base/") + name));
         }},
        {"CopyFileList",
         [](const test::TempDir& dir) {
             for (const char* name : {"a", "b", "c"}) {
                 dir.createFile(std::string("src/") + name, "x");
             }
         },
         [](const test::TempDir& dir, NameList names, ScriptedFileOpsUi& ui) {
             return CopyFileList(dir / "src", dir / "dst", names, 0, ui);
         },
         [](const test::TempDir& dir, const char* name) {
             return Exists(dir / (std::string("dst/") + name));
         }},
    };
    const Names names{"a", "b", "c"};
    for (const Operation& operation : operations) {
        for (const bool stop : {false, true}) {
            SCOPED_TRACE(testing::Message() << operation.label << (stop ? ", stop" : ", go on"));
            test::TempDir dir;
            operation.prepare(dir);
            ScriptedFileOpsUi ui;
            ui.PressCancelBeforeItem(1);
            ui.messages.Answer(stop ? kIdYes : kIdNo);

            EXPECT_EQ(operation.run(dir, names, ui), stop ? 0 : 1);
            EXPECT_TRUE(operation.handled(dir, "a"));
            EXPECT_EQ(operation.handled(dir, "b"), !stop);
            EXPECT_EQ(operation.handled(dir, "c"), !stop);
            const auto boxes = ui.messages.requests();
            ASSERT_EQ(boxes.size(), 1u);
            EXPECT_EQ(boxes[0].text, kReallyStopQuestion);
            EXPECT_EQ(boxes[0].style, kMbYesNo);
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
        int rangeHigh;
        int steps;
    } rows[] = {{9999, 9999, 9999}, {10000, 100, 100}, {25000, 100, 100}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.items);
        // Names that do not exist: the cheapest items, and no failures.
        std::vector<std::string> texts;
        for (int i = 0; i < row.items; ++i) {
            texts.push_back("n" + std::to_string(i));
        }
        const Names names(std::move(texts));
        ScriptedFileOpsUi ui;
        EXPECT_EQ(DeleteFileList(tmp_ / "empty", names, ui), 1);
        const auto windows = ui.windows();
        ASSERT_EQ(windows.size(), 1u);
        EXPECT_EQ(windows[0].rangeLow, 0);
        EXPECT_EQ(windows[0].rangeHigh, row.rangeHigh);
        EXPECT_EQ(windows[0].step, 1);
        EXPECT_EQ(windows[0].stepBarCalls, row.steps);
        EXPECT_EQ(windows[0].statusTexts.size(), static_cast<std::size_t>(row.items));
        EXPECT_TRUE(windows[0].destroyed);
        EXPECT_EQ(ui.failures(), 0);
    }
}

}  // namespace
}  // namespace mirova
