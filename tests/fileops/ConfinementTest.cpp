// The list operations on trees where a folder was swapped for a link to a folder outside: the
// items below it fail as they would for any folder that cannot be entered, and nothing outside
// the tree is deleted, created, written or read into the tree.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <map>
#include <string>
#include <vector>

#include "FileOpsTesting.h"
#include "TreeSnapshot.h"
#include "fileops/FileOperations.h"
#include "platform/FileSystem.h"

namespace mirova::test {
namespace {

// "outside" holds items of the names the operations are given, so that any of them that went
// through the link would find something to delete, overwrite or read.
class ConfinementTest : public FileOpsTest {
protected:
    ConfinementTest() {
        tmp_.createFile("outside/f", "outside f");
        tmp_.createFile("outside/secret.txt", "outside secret");
        tmp_.createFolder("outside/sub");
        tmp_.createFolder("outside/empty");
        tmp_.createFile("base/kept.txt", "kept");
        before_ = SnapshotTree(tmp_ / "outside");
    }

    // Puts a link to the outside folder where a folder of the tree is (or was).
    void SwapForLink(const std::string& relative) { Link(tmp_ / "outside", relative); }
    void LinkToOutsideFile(const std::string& relative) { Link(tmp_ / "outside/f", relative); }
    void Link(const std::string& target, const std::string& relative) {
        tmp_.createFolder(FolderPartOf(relative));
        ASSERT_EQ(::symlink(target.c_str(), (tmp_ / relative).c_str()), 0) << relative;
    }
    void ExpectOutsideUntouched() {
        EXPECT_EQ(DescribeDifferences(before_, SnapshotTree(tmp_ / "outside")), "");
        EXPECT_TRUE(PartialCopiesIn(tmp_ / "outside").empty());
    }
    bool IsLink(const std::string& relative) { return S_ISLNK(StatOf(tmp_ / relative).st_mode); }

    std::map<std::string, ItemSnapshot> before_;
};

TEST_F(ConfinementTest, DeletesBelowALinkFailWithNotADirectory) {
    SwapForLink("base/d");
    EXPECT_EQ(DeleteFileList(tmp_ / "base", Names{"d/f", "d/sub/f", "kept.txt"}, ui_), 1);
    EXPECT_FALSE(platform::Exists(tmp_ / "base/kept.txt"));  // the list goes on
    EXPECT_EQ(TakeLog(), Logged(CannotDeleteText(tmp_ / "base/d/f", ENOTDIR)) +
                             Logged(CannotDeleteText(tmp_ / "base/d/sub/f", ENOTDIR)));

    // Subfolders first, then the folder itself: the link is no folder to remove.
    EXPECT_EQ(DeleteFolderList(tmp_ / "base/", Names{"d/empty", "d/sub", "d"}, ui_), 1);
    EXPECT_EQ(TakeLog(), Logged(CannotDeleteText(tmp_ / "base/d/empty", ENOTDIR)) +
                             Logged(CannotDeleteText(tmp_ / "base/d/sub", ENOTDIR)) +
                             Logged(CannotDeleteText(tmp_ / "base/d", ENOTDIR)));
    EXPECT_TRUE(IsLink("base/d"));
    ExpectOutsideUntouched();
    EXPECT_TRUE(TakeBoxes().empty());
    EXPECT_EQ(ui_.failures(), 5);
}

// Beyond PATH_MAX the user is also told which folder could not be entered.
TEST_F(ConfinementTest, LongPathNamesTheLinkThatStoppedTheWalk) {
    const std::string deep = DeepFolder(tmp_ / "base", 'b');
    platform::PathAnchor anchor;
    ASSERT_TRUE(platform::AnchorPath(deep + "/d", anchor).ok());
    ASSERT_TRUE(platform::CreateLink(tmp_ / "outside", {anchor.dir, anchor.leaf.c_str()}).ok());
    EXPECT_EQ(DeleteFileList(deep, Names{"d/f"}, ui_), 1);
    EXPECT_EQ(TakeBoxes(), (Boxes{{CannotEnterText(deep + "/d/f", "d", deep), kMbOk}}));
    EXPECT_EQ(TakeLog(), Logged(CannotDeleteText(deep + "/d/f", ENOTDIR)));
    ExpectOutsideUntouched();
}

// Neither a folder nor a copy is made through a link: the folder that cannot be made is shown
// unless noStopOnError, and logged in every case.
TEST_F(ConfinementTest, CreatingOrCopyingBelowALinkMakesNothingOutside) {
    tmp_.createFile("src/d/f", "new f");
    tmp_.createFile("src/d/x/new", "new below x");
    tmp_.createFile("src/d/sub/secret.txt", "new secret");
    SwapForLink("base/d");
    SwapForLink("dst/d");
    const struct {
        bool copy;            // CopyFileList; else CreateFolderList after a folder that is made
        const char* name;     // the listed name
        const char* failing;  // the folder that cannot be made
    } rows[] = {{false, "d/new", "base/d/new"}, {false, "d/sub/new", "base/d/sub/new"},
                {false, "d/x/y", "base/d/x/y"}, {true, "d/f", "dst/d/"},
                {true, "d/x/new", "dst/d/x/"},  {true, "d/sub/secret.txt", "dst/d/sub/"}};
    for (const int quiet : {0, 1}) {
        for (const auto& row : rows) {
            SCOPED_TRACE(testing::Message() << row.name << (quiet ? " quiet" : ""));
            EXPECT_EQ(row.copy
                          ? CopyFileList(tmp_ / "src", tmp_ / "dst", Names{row.name}, quiet, ui_)
                          : CreateFolderList(tmp_ / "base", Names{"made", row.name}, quiet, ui_),
                      0);
            const std::string failure = CannotCreateText(row.copy ? 206 : 244, tmp_ / row.failing);
            EXPECT_EQ(TakeBoxes(), ShownUnless(quiet, failure));
            EXPECT_EQ(TakeLog(), Logged(failure));
        }
    }
    EXPECT_TRUE(platform::Exists(tmp_ / "base/made/"));
    EXPECT_EQ(ui_.failures(), 12);
    ExpectOutsideUntouched();
    EXPECT_TRUE(PartialCopiesIn(tmp_ / "dst").empty());
    EXPECT_TRUE(PartialCopiesIn(tmp_ / "outside/sub").empty());
}

// A source folder swapped for a link is a source that cannot be opened: asked about, or
// logged, and the outside file of the same name never reaches the target.
TEST_F(ConfinementTest, CopyFromALinkedSourceFolderReadsNothingOutside) {
    tmp_.createFile("src/ok.txt", "ok");
    SwapForLink("src/d");
    const Names names{"d/secret.txt", "ok.txt"};

    EXPECT_EQ(CopyFileList(tmp_ / "src", tmp_ / "quiet", names, 1, ui_), 1);
    EXPECT_EQ(TakeLog(), Logged(CannotOpenText(tmp_ / "src/d/secret.txt")));
    EXPECT_TRUE(TakeBoxes().empty());
    EXPECT_FALSE(platform::Exists(tmp_ / "quiet/d/secret.txt"));
    EXPECT_EQ(tmp_.read("quiet/ok.txt"), "ok");

    // Retry walks again and fails again; Cancel gives the item up, and No ends the list.
    ui_.messages.Answer(kIdRetry);
    ui_.messages.Answer(kIdCancel);
    ui_.messages.Answer(kIdNo);
    EXPECT_EQ(CopyFileList(tmp_ / "src", tmp_ / "asked", names, 0, ui_), 0);
    Boxes boxes(2, {CannotOpenText(tmp_ / "src/d/secret.txt"), kMbRetryCancel});
    boxes.emplace_back(kContinueQuestion, kMbYesNo);
    EXPECT_EQ(TakeBoxes(), boxes);
    EXPECT_EQ(TakeLog(), Logged(CannotOpenText(tmp_ / "src/d/secret.txt")));
    EXPECT_FALSE(platform::Exists(tmp_ / "asked/d/secret.txt"));
    EXPECT_FALSE(platform::Exists(tmp_ / "asked/ok.txt"));
    EXPECT_EQ(ui_.messages.unscripted(), 0u);
    EXPECT_EQ(ui_.failures(), 2);
    ExpectOutsideUntouched();
}

// A link that is the item itself is worked on as a link: deleted or replaced, never what it
// points to.
TEST_F(ConfinementTest, LinkAsTheItemItselfIsDeletedOrReplacedAsALink) {
    LinkToOutsideFile("base/lf");
    SwapForLink("base/ld");
    EXPECT_EQ(DeleteFileList(tmp_ / "base", Names{"lf"}, ui_), 1);
    EXPECT_FALSE(platform::Exists(tmp_ / "base/lf"));
    // A folder swapped for a link is no folder to remove, and no folder to create either.
    const Names folders{"ld"};
    EXPECT_EQ(DeleteFolderList(tmp_ / "base", folders, ui_), 1);
    EXPECT_TRUE(IsLink("base/ld"));
    EXPECT_EQ(TakeLog(), Logged(CannotDeleteText(tmp_ / "base/ld", ENOTDIR)));
    EXPECT_EQ(CreateFolderList(tmp_ / "base", folders, 1, ui_), 0);
    EXPECT_EQ(TakeLog(), Logged(CannotCreateText(244, tmp_ / "base/ld")));
    ExpectOutsideUntouched();

    // A copy onto a link replaces the link.
    tmp_.createFile("src/lf", "new content");
    LinkToOutsideFile("dst/lf");
    EXPECT_EQ(CopyFileList(tmp_ / "src", tmp_ / "dst", Names{"lf"}, 0, ui_), 1);
    EXPECT_FALSE(IsLink("dst/lf"));
    EXPECT_EQ(tmp_.read("dst/lf"), "new content");

    // A source that is a link is copied as the link, not as the outside file's content.
    LinkToOutsideFile("src/link");
    EXPECT_EQ(CopyFileList(tmp_ / "src", tmp_ / "dst", Names{"link"}, 0, ui_), 1);
    EXPECT_TRUE(IsLink("dst/link"));
    EXPECT_EQ(ItemsOf(tmp_).at("dst/link").content, tmp_ / "outside/f");
    EXPECT_TRUE(TakeBoxes().empty());
    EXPECT_TRUE(PartialCopiesIn(tmp_ / "dst").empty());
    ExpectOutsideUntouched();
}

}  // namespace
}  // namespace mirova::test
