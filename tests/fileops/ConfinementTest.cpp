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

namespace mirova {
namespace {

using test::CannotCreateText;
using test::CannotDeleteText;
using test::CannotOpenText;
using test::Names;
using test::PartialCopiesIn;

// "outside" holds items of the names the operations are given, so that any of them that went
// through the link would find something to delete, overwrite or read.
class ConfinementTest : public test::FileOpsTest {
protected:
    ConfinementTest() {
        tmp_.createFile("outside/f", "outside f");
        tmp_.createFile("outside/secret.txt", "outside secret");
        tmp_.createFolder("outside/sub");
        tmp_.createFolder("outside/empty");
        tmp_.createFile("base/kept.txt", "kept");
        before_ = test::SnapshotTree(tmp_ / "outside");
    }

    // Puts a link to the outside folder where a folder of the tree is (or was).
    void SwapForLink(const std::string& relative) { Link(tmp_ / "outside", relative); }
    void LinkToOutsideFile(const std::string& relative) { Link(tmp_ / "outside/f", relative); }
    void Link(const std::string& target, const std::string& relative) {
        tmp_.createFolder(FolderPartOf(relative));
        ASSERT_EQ(::symlink(target.c_str(), (tmp_ / relative).c_str()), 0) << relative;
    }
    void ExpectOutsideUntouched() {
        EXPECT_EQ(test::DescribeDifferences(before_, test::SnapshotTree(tmp_ / "outside")), "");
        EXPECT_TRUE(PartialCopiesIn(tmp_ / "outside").empty());
    }
    bool IsLink(const std::string& relative) {
        return S_ISLNK(test::StatOf(tmp_ / relative).st_mode);
    }

    std::map<std::string, test::ItemSnapshot> before_;
};

TEST_F(ConfinementTest, DeletesBelowALinkFailWithNotADirectory) {
    SwapForLink("base/d");
    const Names files{"d/f", "d/sub/f", "kept.txt"};
    EXPECT_EQ(DeleteFileList(tmp_ / "base", files, ui_), 1);
    EXPECT_FALSE(platform::Exists(tmp_ / "base/kept.txt"));  // the list goes on
    EXPECT_EQ(TakeLog(), Logged(CannotDeleteText(tmp_ / "base/d/f", ENOTDIR)) +
                             Logged(CannotDeleteText(tmp_ / "base/d/sub/f", ENOTDIR)));

    // Subfolders first, then the folder itself: the link is no folder to remove.
    const Names folders{"d/empty", "d/sub", "d"};
    EXPECT_EQ(DeleteFolderList(tmp_ / "base/", folders, ui_), 1);
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
    const std::string deep = test::DeepFolder(tmp_ / "base", 'b');
    platform::PathAnchor anchor;
    ASSERT_TRUE(platform::AnchorPath(deep + "/d", anchor).ok());
    ASSERT_TRUE(platform::CreateLink(tmp_ / "outside", {anchor.dir, anchor.leaf.c_str()}).ok());
    const Names names{"d/f"};
    EXPECT_EQ(DeleteFileList(deep, names, ui_), 1);
    const auto boxes = TakeBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, test::CannotEnterText(deep + "/d/f", "d", deep));
    EXPECT_EQ(TakeLog(), Logged(CannotDeleteText(deep + "/d/f", ENOTDIR)));
    ExpectOutsideUntouched();
}

TEST_F(ConfinementTest, CreatingBelowALinkCreatesNothingOutside) {
    SwapForLink("base/d");
    for (const int quiet : {0, 1}) {
        SCOPED_TRACE(quiet);
        for (const char* name : {"d/new", "d/sub/new", "d/x/y"}) {
            const Names names{"made", name};
            EXPECT_EQ(CreateFolderList(tmp_ / "base", names, quiet, ui_), 0);
            const std::string failure = CannotCreateText(244, tmp_ / "base/" + name);
            const auto boxes = TakeBoxes();
            ASSERT_EQ(boxes.size(), quiet ? 0u : 1u) << name;
            if (!quiet) {
                EXPECT_EQ(boxes[0].text, failure);
            }
            EXPECT_EQ(TakeLog(), Logged(failure));
        }
    }
    EXPECT_TRUE(platform::Exists(tmp_ / "base/made/"));
    ExpectOutsideUntouched();
    EXPECT_EQ(ui_.failures(), 6);
}

TEST_F(ConfinementTest, CopiesIntoALinkedFolderWriteNothingOutside) {
    tmp_.createFile("src/d/f", "new f");
    tmp_.createFile("src/d/x/new", "new below x");
    tmp_.createFile("src/d/sub/secret.txt", "new secret");
    SwapForLink("dst/d");
    const struct {
        const char* name;
        const char* folder;  // the destination folder that cannot be made
    } rows[] = {{"d/f", "d/"}, {"d/x/new", "d/x/"}, {"d/sub/secret.txt", "d/sub/"}};
    for (const int quiet : {0, 1}) {
        for (const auto& row : rows) {
            SCOPED_TRACE(testing::Message() << row.name << (quiet ? " quiet" : ""));
            const Names names{row.name};
            EXPECT_EQ(CopyFileList(tmp_ / "src", tmp_ / "dst", names, quiet, ui_), 0);
            const std::string failure = CannotCreateText(206, tmp_ / "dst/" + row.folder);
            const auto boxes = TakeBoxes();
            ASSERT_EQ(boxes.size(), quiet ? 0u : 1u);
            if (!quiet) {
                EXPECT_EQ(boxes[0].text, failure);
            }
            EXPECT_EQ(TakeLog(), Logged(failure));
        }
    }
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
    const auto boxes = TakeBoxes();
    ASSERT_EQ(boxes.size(), 3u);
    for (int i : {0, 1}) {
        EXPECT_EQ(boxes[i].text, CannotOpenText(tmp_ / "src/d/secret.txt"));
        EXPECT_EQ(boxes[i].style, kMbRetryCancel);
    }
    EXPECT_EQ(boxes[2].text, kContinueQuestion);
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
    const Names files{"lf"};
    EXPECT_EQ(DeleteFileList(tmp_ / "base", files, ui_), 1);
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
    const Names copied{"lf"};
    EXPECT_EQ(CopyFileList(tmp_ / "src", tmp_ / "dst", copied, 0, ui_), 1);
    EXPECT_FALSE(IsLink("dst/lf"));
    EXPECT_EQ(tmp_.read("dst/lf"), "new content");

    // A source that is a link is copied as the link, not as the outside file's content.
    LinkToOutsideFile("src/link");
    const Names link{"link"};
    EXPECT_EQ(CopyFileList(tmp_ / "src", tmp_ / "dst", link, 0, ui_), 1);
    std::string target;
    ASSERT_TRUE(platform::ReadLink({AT_FDCWD, (tmp_ / "dst/link").c_str()}, target).ok());
    EXPECT_EQ(target, tmp_ / "outside/f");
    EXPECT_TRUE(TakeBoxes().empty());
    EXPECT_TRUE(PartialCopiesIn(tmp_ / "dst").empty());
    ExpectOutsideUntouched();
}

}  // namespace
}  // namespace mirova
