#include "platform/ConfinedTree.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "TempDir.h"
#include "TreeSnapshot.h"
#include "platform/FaultInjection.h"

namespace mirova::platform {
namespace {

using Miss = ConfinedTree::Missing;

// The content of a file at a place, read through the place's descriptor.
std::string ReadAt(const ItemPlace& place) {
    const int fd = ::openat(place.dir, place.leaf, O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    char buffer[64];
    const ssize_t got = fd < 0 ? -1 : ::read(fd, buffer, sizeof buffer);
    ::close(fd);
    return got < 0 ? "<" + std::string(std::strerror(errno)) + ">"
                   : std::string(buffer, static_cast<std::size_t>(got));
}

void CreateAt(const ItemPlace& place, const std::string& content) {
    const int fd = ::openat(place.dir, place.leaf, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0) << place.leaf;
    ASSERT_EQ(::write(fd, content.data(), content.size()), static_cast<ssize_t>(content.size()));
    ::close(fd);
}

// The tree "base" and, beside it, the folder "outside" that links below the base point to.
class ConfinedTreeTest : public ::testing::Test {
protected:
    ConfinedTreeTest() {
        for (const char* name : {"top.txt", "a/b/c/deep.txt", "a/b/mid.txt", "a/bb/prefix.txt",
                                 "a/x/sibling.txt", "z/other.txt"}) {
            tmp_.createFile(std::string("base/") + name, name);
        }
        tmp_.createFile("outside/deep.txt", "outside");
        tmp_.createFolder("outside/sub");
        outside_ = test::SnapshotTree(tmp_ / "outside");
    }
    void Link(const std::string& target, const std::string& relative) {
        ASSERT_EQ(::symlink(target.c_str(), (tmp_ / relative).c_str()), 0) << relative;
    }
    // The result of a walk and where the component it failed at lies.
    static std::string Walk(ConfinedTree& tree, const char* name, Miss missing = Miss::Fail) {
        ItemPlace place;
        const int error = tree.Locate(name, place, missing).error;
        return error == 0 ? "ok"
                          : std::to_string(error) + "@" + std::to_string(tree.failedOffset()) +
                                "+" + std::to_string(tree.failedLength()) +
                                (tree.failedCreating() ? " creating" : "");
    }
    static std::string At(int error, std::size_t offset, std::size_t length) {
        return std::to_string(error) + "@" + std::to_string(offset) + "+" + std::to_string(length);
    }
    void ExpectOutsideUntouched() {
        EXPECT_EQ(test::DescribeDifferences(outside_, test::SnapshotTree(tmp_ / "outside")), "");
    }

    test::TempDir tmp_;
    std::map<std::string, test::ItemSnapshot> outside_;
};

TEST_F(ConfinedTreeTest, PlacesOfItemsAtAnyDepthAndInSiblingFoldersWorkWithTheAtCalls) {
    ConfinedTree tree(tmp_ / "base");
    // An order that keeps, drops and reopens folders: deeper, shallower, siblings, a sibling
    // whose name begins with its neighbour's ("b" and "bb"), and back to the base.
    for (const char* name :
         {"a/b/c/deep.txt", "a/b/mid.txt", "a/bb/prefix.txt", "a/b/mid.txt", "a/x/sibling.txt",
          "a/b/c/deep.txt", "top.txt", "z/other.txt", "a/b/c/deep.txt"}) {
        ItemPlace place;
        ASSERT_TRUE(tree.Locate(name, place).ok()) << name;
        EXPECT_EQ(ReadAt(place), name);
        EXPECT_STREQ(place.leaf, std::strrchr(name, '/') ? std::strrchr(name, '/') + 1 : name);
    }
    for (const char* name : {"a/b/new1", "a/x/new2", "new3", "a/bb/new4"}) {
        ItemPlace place;
        ASSERT_TRUE(tree.Locate(name, place).ok()) << name;
        CreateAt(place, name);
        EXPECT_EQ(tmp_.read(std::string("base/") + name), name);
    }
    // A missing folder on the way fails unless it is to be created; a missing leaf is no
    // concern of the walk, and a folder made by someone else meanwhile is just entered.
    EXPECT_EQ(Walk(tree, "a/missing/f"), At(ENOENT, 2, 7));
    EXPECT_FALSE(Exists(tmp_ / "base/a/missing"));
    EXPECT_EQ(Walk(tree, "a/b/not-there-yet"), "ok");
    ItemPlace place;
    ASSERT_TRUE(tree.Locate("a/n1/n2/f", place, Miss::Create).ok());
    CreateAt(place, "created");
    EXPECT_EQ(tmp_.read("base/a/n1/n2/f"), "created");
    tmp_.createFolder("base/racing");
    EXPECT_EQ(Walk(tree, "racing/f", Miss::Create), "ok");
    // A folder that cannot be created is told apart from one that cannot be entered.
    InjectFaultForTesting(FaultCall::CreateFolder, EACCES, "new");
    EXPECT_EQ(Walk(tree, "a/new/f.txt", Miss::Create), At(EACCES, 2, 3) + " creating");
    InjectFaultForTesting(FaultCall::EnterFolder, EACCES, "b");
    EXPECT_EQ(Walk(tree, "a/b/mid.txt", Miss::Create), At(EACCES, 2, 1));
    ClearFaultsForTesting();
    EXPECT_EQ(Walk(tree, "a/new/f.txt", Miss::Create), "ok");
}

TEST_F(ConfinedTreeTest, LinksOnTheWayAndNamesThatCouldLeaveTheTreeAreRefused) {
    Link(tmp_ / "outside", "base/a/b/out");  // absolute, to a folder outside the tree
    Link("../x", "base/a/b/in");             // relative, to a folder inside the tree
    Link(tmp_ / "outside/gone", "base/a/dangling");
    Link("a", "base/top-link");
    const std::pair<const char*, std::string> rows[] = {
        {"a/b/out/deep.txt", At(ENOTDIR, 4, 3)},
        {"a/b/out/sub/new", At(ENOTDIR, 4, 3)},
        {"a/b/in/sibling.txt", At(ENOTDIR, 4, 2)},
        {"a/dangling/new", At(ENOTDIR, 2, 8)},
        {"top-link/b/mid.txt", At(ENOTDIR, 0, 8)},
        {"..", At(EINVAL, 0, 2)},
        {"a/../../outside/deep.txt", At(EINVAL, 2, 2)},
        {"a/b/..", At(EINVAL, 4, 2)},
        {"./top.txt", At(EINVAL, 0, 1)},
        {"a/./b/mid.txt", At(EINVAL, 2, 1)},
        {"", At(EINVAL, 0, 0)},
        {"a/", At(EINVAL, 2, 0)},
        {"a//b/mid.txt", At(EINVAL, 2, 0)},
        {"a/b//mid.txt", At(EINVAL, 4, 0)},
        {"/top.txt", At(EINVAL, 0, 0)}};
    for (const Miss missing : {Miss::Fail, Miss::Create}) {
        ConfinedTree tree(tmp_ / "base");
        for (const auto& [name, expected] : rows) {
            // The real folders first, so that the failing walk starts from open ones.
            EXPECT_EQ(Walk(tree, "a/b/mid.txt"), "ok");
            EXPECT_EQ(Walk(tree, name, missing), expected) << name;
        }
    }
    // Nothing was created through a link, not even where the dangling one points.
    ExpectOutsideUntouched();
    // A link as the last component is the item itself: its place is that of the link.
    ConfinedTree tree(tmp_ / "base");
    ItemPlace place;
    ASSERT_TRUE(tree.Locate("a/b/out", place).ok());
    struct stat st {};
    ASSERT_EQ(::fstatat(place.dir, place.leaf, &st, AT_SYMLINK_NOFOLLOW), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
}

// A missing base is no folder on the way, and once it exists the same tree reaches it; a base
// that is no folder, or empty (never the current folder), reaches nothing. The base stays open:
// renamed away, it is still the tree's base.
TEST_F(ConfinedTreeTest, BaseIsReportedWithoutAComponentAndHeldOpen) {
    ConfinedTree missing(tmp_ / "later");
    EXPECT_EQ(Walk(missing, "f"), At(ENOENT, 0, 0));
    EXPECT_EQ(Walk(missing, "sub/f", Miss::Create), At(ENOENT, 0, 0));
    tmp_.createFile("later/f", "now here");
    ItemPlace place;
    ASSERT_TRUE(missing.Locate("f", place).ok());
    EXPECT_EQ(ReadAt(place), "now here");
    ConfinedTree file(tmp_ / "base/top.txt"), empty("");
    EXPECT_EQ(Walk(file, "f"), At(ENOTDIR, 0, 0));
    EXPECT_EQ(Walk(empty, "top.txt"), At(EINVAL, 0, 0));
    ConfinedTree held(tmp_ / "base");
    ASSERT_TRUE(held.Locate("top.txt", place).ok());
    ASSERT_EQ(::rename((tmp_ / "base").c_str(), (tmp_ / "base-renamed").c_str()), 0);
    ASSERT_TRUE(held.Locate("z/other.txt", place).ok());
    EXPECT_EQ(ReadAt(place), "z/other.txt");
}

}  // namespace
}  // namespace mirova::platform
