// The list operations on trees where a folder was swapped for a link to a folder outside: the
// items below it fail as they would for any folder that cannot be entered, and nothing outside
// the tree is deleted, created, written or read into the tree.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "FileOpsTesting.h"

namespace mirova::test {
namespace {

using platform::Exists;

// "outside" holds items of the names the operations are given, so that any of them that went
// through a link would find something to delete, overwrite or read.
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
    void Link(const std::string& relative, const std::string& target = "outside") {
        tmp_.createFolder(relative.substr(0, relative.rfind('/')));
        ASSERT_EQ(::symlink((tmp_ / target).c_str(), (tmp_ / relative).c_str()), 0);
    }
    void ExpectOutsideUntouched() {
        EXPECT_EQ(DescribeDifferences(before_, SnapshotTree(tmp_ / "outside")), "");
    }
    Items before_;
};

TEST_F(ConfinementTest, DeletesBelowALinkFailWithNotADirectory) {
    Link("base/d");
    EXPECT_EQ(DeleteFileList(tmp_ / "base", Names{"d/f", "d/sub/f", "kept.txt"}, ui_), 1);
    EXPECT_FALSE(Exists(tmp_ / "base/kept.txt"));  // the list goes on
    // Subfolders first, then the folder itself: the link is no folder to remove.
    EXPECT_EQ(DeleteFolderList(tmp_ / "base/", Names{"d/empty", "d"}, ui_), 1);
    std::string expected;
    for (const char* name : {"d/f", "d/sub/f", "d/empty", "d"}) {
        expected += Logged(CannotDeleteText(tmp_ / "base/" + name, ENOTDIR));
    }
    EXPECT_EQ(TakeLog(), expected);
    EXPECT_TRUE(IsLink(tmp_ / "base/d"));
    EXPECT_TRUE(TakeBoxes().empty());
    ExpectOutsideUntouched();
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
    ExpectOutsideUntouched();
}

// Neither a folder nor a copy is made through a link: the folder that cannot be made is shown
// unless noStopOnError, and logged in every case.
TEST_F(ConfinementTest, CreatingOrCopyingBelowALinkMakesNothingOutside) {
    tmp_.createFile("src/d/f", "new f");
    tmp_.createFile("src/d/x/new", "new below x");
    tmp_.createFile("src/d/sub/secret.txt", "new secret");
    Link("base/d");
    Link("dst/d");
    const std::tuple<bool, const char*, const char*> rows[] = {
        {false, "d/new", "base/d/new"}, {false, "d/sub/new", "base/d/sub/new"},
        {false, "d/x/y", "base/d/x/y"}, {true, "d/f", "dst/d/"},
        {true, "d/x/new", "dst/d/x/"},  {true, "d/sub/secret.txt", "dst/d/sub/"}};
    int quiet = 0;
    for (const auto& [copy, name, failing] : rows) {
        quiet = !quiet;
        EXPECT_EQ(copy ? CopyFileList(tmp_ / "src", tmp_ / "dst", Names{name}, quiet, ui_)
                       : CreateFolderList(tmp_ / "base", Names{"made", name}, quiet, ui_),
                  0);
        const std::string failure = CannotCreateText(copy ? 206 : 244, tmp_ / failing);
        EXPECT_EQ(TakeBoxes(), ShownUnless(quiet, failure));
        EXPECT_EQ(TakeLog(), Logged(failure));
    }
    EXPECT_TRUE(Exists(tmp_ / "base/made/"));
    ExpectOutsideUntouched();
    EXPECT_TRUE(PartialCopiesIn(tmp_ / "dst").empty());
}

// A source folder swapped for a link is a source that cannot be opened, and a link that is the
// item itself is worked on as a link: deleted or replaced, never what it points to.
TEST_F(ConfinementTest, LinksAreNeverFollowedToTheirTargets) {
    tmp_.createFile("src/ok.txt", "ok");
    Link("src/d");
    EXPECT_EQ(CopyFileList(tmp_ / "src", tmp_ / "to", Names{"d/secret.txt", "ok.txt"}, 1, ui_), 1);
    EXPECT_EQ(TakeLog(), Logged(CannotOpenText(tmp_ / "src/d/secret.txt")));
    EXPECT_FALSE(Exists(tmp_ / "to/d/secret.txt"));
    EXPECT_EQ(tmp_.read("to/ok.txt"), "ok");

    Link("base/lf", "outside/f");
    Link("base/ld");
    EXPECT_EQ(DeleteFileList(tmp_ / "base", Names{"lf"}, ui_), 1);
    EXPECT_FALSE(Exists(tmp_ / "base/lf"));
    EXPECT_EQ(DeleteFolderList(tmp_ / "base", Names{"ld"}, ui_), 1);
    EXPECT_EQ(TakeLog(), Logged(CannotDeleteText(tmp_ / "base/ld", ENOTDIR)));
    EXPECT_EQ(CreateFolderList(tmp_ / "base", Names{"ld"}, 1, ui_), 0);
    EXPECT_EQ(TakeLog(), Logged(CannotCreateText(244, tmp_ / "base/ld")));
    EXPECT_TRUE(IsLink(tmp_ / "base/ld"));

    tmp_.createFile("src/lf", "new content");
    Link("dst/lf", "outside/f");
    Link("src/link", "outside/f");
    EXPECT_EQ(CopyFileList(tmp_ / "src", tmp_ / "dst", Names{"lf", "link"}, 0, ui_), 1);
    EXPECT_FALSE(IsLink(tmp_ / "dst/lf"));
    EXPECT_EQ(tmp_.read("dst/lf"), "new content");
    EXPECT_EQ(ItemsOf(tmp_).at("dst/link").content, tmp_ / "outside/f");
    EXPECT_TRUE(TakeBoxes().empty());
    EXPECT_TRUE(PartialCopiesIn(tmp_ / "dst").empty());
    ExpectOutsideUntouched();
}

}  // namespace
}  // namespace mirova::test
