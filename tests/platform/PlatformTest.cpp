// The platform layer: text steps and file times, the instance guard, the file-system calls, the
// confined walk below a base and the overlap of two folders.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "TempDir.h"
#include "TreeSnapshot.h"
#include "platform/ConfinedTree.h"
#include "platform/FaultInjection.h"
#include "platform/FileSystem.h"
#include "platform/FileTime.h"
#include "platform/FolderOverlap.h"
#include "platform/InstanceGuard.h"
#include "platform/TextStep.h"

namespace mirova::platform {
namespace {

timespec At(std::int64_t seconds, long nanoseconds = 0) {
    return timespec{static_cast<time_t>(seconds), nanoseconds};
}
constexpr std::int64_t kGap = 11644473600;  // seconds from 1601-01-01 to 1970-01-01

TEST(FileTimeTest, TicksSince1601At100nsBothWays) {
    const FileTime epoch = FileTimeFromTimespec(At(0, 123456789));
    EXPECT_EQ(std::pair(epoch.high, epoch.low), std::pair(0x019DB1DEu, 0xD53E8000u + 1234567));
    EXPECT_EQ(FileTimeFromTimespec(At(-kGap - 1, 999999999)), FileTime{});  // clamped
    // Before 1970 the nanosecond part stays positive; beyond 2038 nothing overflows.
    for (const auto& [seconds, nanoseconds] :
         {std::pair(4102444800, 999999900L), {-1, 500000000}}) {
        const timespec back = TimespecFromFileTime(FileTimeFromTimespec(At(seconds, nanoseconds)));
        EXPECT_EQ(std::pair(back.tv_sec, back.tv_nsec), std::pair(seconds, nanoseconds));
    }
}

// The lengths of the characters a walk over the whole text steps through.
std::vector<std::size_t> Steps(std::string_view text, TextEncoding encoding) {
    std::vector<std::size_t> steps;
    for (std::size_t pos = 0, length = 1; pos < text.size() && length > 0; pos += length) {
        steps.push_back(length = CharLengthAt(text, pos, encoding));
    }
    return steps;
}

TEST(TextStepTest, CharactersStepWholeAndBrokenSequencesByteByByte) {
    using V = std::vector<std::size_t>;
    constexpr TextEncoding u = TextEncoding::Utf8, c = TextEncoding::Cp932;
    const struct {
        std::string text;
        TextEncoding encoding;
        V steps;
    } rows[] = {
        {"a\xC3\xA9/", u, {1, 2, 1}},
        {"\xE3\x81\x82\xEF\xBD\xB1\xED\x9F\xBF", u, {3, 3, 3}},  // あ, ｱ, U+D7FF
        {"\xE0\xA0\x80\xEF\xBF\xBF", u, {3, 3}},                 // U+0800, U+FFFF
        {"\xF0\x90\x80\x80\xF4\x8F\xBF\xBFx", u, {4, 4, 1}},     // U+10000, U+10FFFF
        {"\xC2\x80\xDF\xBF", u, {2, 2}},
        {"\x80x\xC3x\xE3\x81", u, {1, 1, 1, 1, 1, 1}},        // lone, unfinished, cut at the end
        {"\xC0\xAF\xC1\xBF", u, {1, 1, 1, 1}},                // overlong
        {"\xE0\x9F\xBF\xED\xA0\x80", u, {1, 1, 1, 1, 1, 1}},  // overlong, surrogate
        {"\xF0\x8F\xBF\xBF\xF4\x90\x80\x80", u, V(8, 1)},     // overlong, beyond U+10FFFF
        {"\xF5\x80\x80\x80\xFF", u, V(5, 1)},
        {"\xE3\x2F\x82\xF0\x9F\x98", u, V(6, 1)},  // a "/" where a continuation belongs
        {"\xE3\x81\x2F\xF0\x9F\x98\x2F", u, V(7, 1)},
        {"\x83\x5C\x95\x5C\x5C", c, {2, 2, 1}},  // ソ and 表 end in the byte of '\'
        {"\x81\x40\x9F\x40\xE0\x40\xFC\x4B", c, {2, 2, 2, 2}},
        {"\x80\xA0\xB1\xDF\xFD\x7F", c, V(6, 1)},  // no lead bytes
        {"a\x83", c, {1, 1}},
        {"\xE3", u, {1}},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(Steps(row.text, row.encoding), row.steps) << testing::PrintToString(row.text);
    }
    // A view that stops before the trailing byte of the underlying buffer; nothing at the end.
    const std::string buffer = "x\x83\x5C";
    EXPECT_EQ(CharLengthAt(std::string_view(buffer).substr(0, 2), 1, c), 1u);
    EXPECT_EQ(CharLengthAt("", 0), 0u);
    EXPECT_EQ(CharLengthAt("ab", 7, c), 0u);
}

using R = InstanceGuard::Result;

class InstanceGuardTest : public ::testing::Test {
protected:
    void SetUp() override { ::setenv("MIROVA_LOCK_DIR", dir_.path().c_str(), 1); }
    void TearDown() override { ::unsetenv("MIROVA_LOCK_DIR"); }
    R Acquire(InstanceGuard& guard, const char* name = "Mirova") {
        return guard.Acquire(name, dir_.path());
    }
    test::TempDir dir_;
};

// One copy per user and name; the per-user file is private, the machine-wide one open to all
// whatever the umask. A per-user lock that cannot be opened guards nothing: the start is refused.
// Another user's copy holds only the machine-wide file (its per-user file lies elsewhere).
TEST_F(InstanceGuardTest, OneCopyPerUserAndAnotherUsersCopyIsToldApart) {
    InstanceGuard first, second, other;
    ASSERT_EQ(Acquire(first), R::Acquired);
    struct stat user {
    }, machine{};
    ASSERT_EQ(::stat((dir_ / "Mirova.user.lock").c_str(), &user), 0);
    ASSERT_EQ(::stat((dir_ / "Mirova.lock").c_str(), &machine), 0);
    EXPECT_EQ((user.st_mode & 0777) * 01000 + (machine.st_mode & 0777), 0600u * 01000 + 0666u);
    EXPECT_EQ(Acquire(second), R::RunningForThisUser);
    EXPECT_EQ(Acquire(other, "Other"), R::Acquired);
    first.Release();
    EXPECT_EQ(Acquire(second), R::Acquired);
    second.Release();
    ::unlink((dir_ / "Mirova.user.lock").c_str());
    dir_.createFolder("Mirova.user.lock");
    EXPECT_EQ(Acquire(second), R::RunningForThisUser);
    ::rmdir((dir_ / "Mirova.user.lock").c_str());
    const int held = ::open(InstanceGuard::MachineLockPath("Mirova").c_str(), O_RDWR);
    ASSERT_EQ(::flock(held, LOCK_EX | LOCK_NB), 0);
    EXPECT_EQ(Acquire(second), R::RunningForOtherUser);
    ::close(held);
    EXPECT_EQ(Acquire(second), R::Acquired);
    // Without the test's folder: the runtime folder, else the fallback; /tmp machine-wide.
    ::setenv("MIROVA_LOCK_DIR", "", 1);
    ::setenv("XDG_RUNTIME_DIR", "/run/user/4242", 1);
    EXPECT_EQ(InstanceGuard::UserLockPath("M", "/fallback"), "/run/user/4242/M.user.lock");
    ::setenv("XDG_RUNTIME_DIR", "", 1);
    EXPECT_EQ(InstanceGuard::UserLockPath("M", "/fallback"), "/fallback/M.user.lock");
    EXPECT_EQ(InstanceGuard::MachineLockPath("M"), "/tmp/M.lock");
}

using test::TempDir;

// Every item of an open folder by name; a failing step fails the test.
std::map<std::string, ItemInfo> ListAll(FolderReader& reader) {
    std::map<std::string, ItemInfo> items;
    FolderItem item;
    SysStatus error;
    FolderReader::Step step;
    while ((step = reader.Next(item, error)) == FolderReader::Step::Item) {
        items.emplace(std::string(item.name, item.nameLength), item.info);
    }
    EXPECT_EQ(step, FolderReader::Step::End) << error.describe();
    return items;
}

ItemInfo InfoOf(const std::string& path, FollowLinks follow = FollowLinks::No) {  // or fails
    ItemInfo info;
    EXPECT_TRUE(GetItemInfo(path, info, follow).ok()) << path.size() << "-byte path";
    return info;
}

// The calls themselves (kinds, sizes and times are checked through the engine's scan): links are
// followed only when asked, files opened only when regular.
TEST(FileSystemTest, ListingsInfoReadsAndOpensTakeEachItemAsItself) {
    TempDir tmp;
    const auto at = [&](std::string_view name) { return tmp / ("list/" + std::string(name)); };
    tmp.createFile("list/file.txt", "hello");
    tmp.createFile("list/sub/inner", "x");
    for (const auto& [target, link] :
         {std::pair{"file.txt", "link"}, {"sub", "folderlink"}, {"nowhere", "dangling"}}) {
        ASSERT_EQ(::symlink(target, at(link).c_str()), 0);
    }
    ASSERT_EQ(::mkfifo(at("fifo").c_str(), 0600), 0);
    constexpr std::uint64_t kBig = (5ULL << 30) + 3;
    tmp.createFile("list/big");
    ASSERT_EQ(::truncate(at("big").c_str(), static_cast<off_t>(kBig)), 0);  // sparse
    FolderReader reader;
    ASSERT_TRUE(reader.Open(tmp / "list").ok());
    const auto items = ListAll(reader);  // no "." or "..", nothing from below "sub"
    EXPECT_EQ(items.size(), 7u);
    EXPECT_EQ(items.at("big").size, kBig);
    EXPECT_EQ(items.at("fifo").kind, ItemKind::System);
    EXPECT_TRUE(IsHiddenName(".hidden"));
    EXPECT_FALSE(IsHiddenName("file.txt") || IsHiddenName(""));
    EXPECT_EQ(InfoOf(at("link")).kind, ItemKind::Symlink);
    EXPECT_EQ(InfoOf(at("link"), FollowLinks::Yes).size, 5u);
    ItemInfo info;
    EXPECT_TRUE(GetItemInfo(at("dangling"), info, FollowLinks::Yes).notFound());
    EXPECT_TRUE(Exists(at("dangling")));
    EXPECT_FALSE(Exists(at("dangling"), FollowLinks::Yes) || Exists(at("missing")) ||
                 Exists(at("file.txt/below")));
    // Only a root link is followed.
    ASSERT_TRUE(reader.Open(at("folderlink")).ok());
    EXPECT_EQ(ListAll(reader).count("inner"), 1u);
    FolderReader parent, child;
    ASSERT_TRUE(parent.Open(tmp / "list").ok());
    const SysStatus refused = child.OpenChild(parent, "folderlink");
    EXPECT_TRUE(refused.error == ELOOP || refused.error == ENOTDIR) << refused.describe();
    EXPECT_FALSE(child.isOpen());
    EXPECT_EQ(child.OpenChild(parent, "file.txt").error, ENOTDIR);
    ASSERT_TRUE(child.OpenChild(parent, "sub").ok());
    EXPECT_EQ(ListAll(child).count("inner"), 1u);
    UniqueFd folder, fd;
    EXPECT_FALSE(OpenFolder(at("folderlink"), folder, FollowLinks::No).ok());
    EXPECT_TRUE(OpenFolder(at("folderlink"), folder, FollowLinks::Yes).ok());
    EXPECT_EQ(OpenFileForReading(at("link"), fd).error, ELOOP);
    EXPECT_EQ(OpenFileForReading(at("sub"), fd).error, EISDIR);
    EXPECT_FALSE(OpenFileForReading(at("fifo"), fd).ok());  // and does not wait for a writer
    EXPECT_TRUE(OpenFileForReading(at("missing"), fd).notFound());
    EXPECT_EQ(CreateFileForWriting(at("link"), CreateMode::NewOnly, 0644, fd).error, EEXIST);
    EXPECT_EQ(CreateFileForWriting(at("link"), CreateMode::Replace, 0644, fd).error, ELOOP);
    EXPECT_FALSE(CreateFileForWriting(at("fifo"), CreateMode::Replace, 0644, fd).ok());
    EXPECT_FALSE(fd.valid());

    // Vanished items and items that cannot be looked at are left to the engine's scan tests.
    EXPECT_TRUE(reader.Open(tmp / "missing").notFound());
    EXPECT_EQ(reader.fd(), -1);
    EXPECT_EQ(child.OpenChild(reader, "x").error, EBADF);
}

TEST(FileSystemTest, ItemsAreChangedThemselvesNeverThroughALinkAndOpensAreExclusive) {
    TempDir tmp;
    EXPECT_EQ(CreateFolder(tmp / "a").error, 0);
    EXPECT_EQ(CreateFolder(tmp / "a").error, EEXIST);
    EXPECT_TRUE(CreateFolder(tmp / "x/y").notFound());
    tmp.createFile("a/f", "new");
    tmp.createFile("a/g", "0123456789", 1000);
    EXPECT_EQ(DeleteFile(tmp / "a").error, EISDIR);
    EXPECT_NE(RemoveFolder(tmp / "a").error, 0);
    // Times and owner of files and links are checked through the copies of the file operations.
    const std::string file = tmp / "a/g", link = tmp / "a/link";
    ASSERT_EQ(::symlink("g", link.c_str()), 0);
    ASSERT_TRUE(SetPermissions(file, 0444).ok());
    EXPECT_TRUE(SetPermissions(link, 0777).ok());  // a link has no bits of its own
    EXPECT_EQ(InfoOf(file).permissions, 0444u);
    EXPECT_TRUE(InfoOf(file).readOnly());
    EXPECT_TRUE(SetPermissions(tmp / "missing", 0600).notFound());
    UniqueFd fd, second;
    {
        UniqueFd other(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
        ASSERT_EQ(::flock(other.get(), LOCK_EX), 0);
        EXPECT_EQ(OpenFileForReading(file, fd).error, EWOULDBLOCK);
        EXPECT_FALSE(CreateFileForWriting(file, CreateMode::Replace, 0644, fd).ok());
        EXPECT_FALSE(fd.valid());
    }
    // The program's own open holds the lock in turn; reads stop short only at the end.
    ASSERT_TRUE(OpenFileForReading(file, fd).ok());
    EXPECT_FALSE(OpenFileForReading(file, second).ok());
    char buffer[64];
    std::size_t got = 0;
    ASSERT_TRUE(ReadFull(fd.get(), buffer, 4, got).ok());
    EXPECT_EQ(std::string(buffer, got), "0123");
    ASSERT_TRUE(ReadFull(fd.get(), buffer, sizeof buffer, got).ok());
    EXPECT_EQ(std::string(buffer, got), "456789");
    fd.reset();
    EXPECT_EQ(CreateFileForWriting(file, CreateMode::NewOnly, 0644, fd).error, EEXIST);
    ASSERT_TRUE(SetPermissions(file, 0644).ok());
    ASSERT_TRUE(CreateFileForWriting(file, CreateMode::Replace, 0644, fd).ok());
    ASSERT_TRUE(WriteAll(fd.get(), "ab", 2).ok());
    fd.reset();
    EXPECT_EQ(tmp.read("a/g"), "ab");
    ASSERT_TRUE(CreateFileForWriting(tmp / "new", CreateMode::NewOnly, 0600, fd).ok());
    EXPECT_EQ(InfoOf(tmp / "new").permissions, 0600u);

    EXPECT_TRUE(RenameItem(tmp / "a/f", file).ok());
    EXPECT_EQ(tmp.read("a/g"), "new");
    EXPECT_TRUE(RenameItem(tmp / "a/f", file).notFound());
    EXPECT_TRUE(DeleteFile(link).ok());
    EXPECT_EQ(tmp.read("a/g"), "new");  // the link goes, not its target
    EXPECT_TRUE(DeleteFile(file).ok());
    EXPECT_TRUE(DeleteFile(file).notFound());
    EXPECT_TRUE(RemoveFolder(tmp / "a").ok());
}

// The copies and deletions beyond PATH_MAX are tested with the lists; here the walk itself.
TEST(FileSystemTest, PathsDeeperThanPathMaxAreWalked) {
    TempDir tmp;
    const std::string startFolder = std::filesystem::current_path();
    std::vector<std::string> folders{tmp.path()};
    for (char level = 'a'; level < 'a' + 25; ++level) {  // 25 names of 200 bytes
        folders.push_back(folders.back() + "/" + std::string(200, level));
        ASSERT_TRUE(CreateFolder(folders.back()).ok()) << level;
    }
    const std::string file = folders.back() + "/file.bin";
    UniqueFd fd;
    ASSERT_TRUE(CreateFileForWriting(file, CreateMode::NewOnly, 0644, fd).ok());
    ASSERT_TRUE(WriteAll(fd.get(), "payload", 7).ok());
    // Runs of separators, and relative paths: up to the root, then down the absolute path.
    std::string doubled, relative;
    for (const char c : file) {
        doubled += c == '/' ? "//" : std::string(1, c);
    }
    for (const char c : startFolder) {
        relative += c == '/' ? "../" : "";
    }
    EXPECT_EQ(InfoOf(doubled).size, 7u);
    EXPECT_EQ(InfoOf(relative + file.substr(1)).size, 7u);
    EXPECT_TRUE(Exists(folders.back() + "///"));
    ItemInfo missing;
    EXPECT_TRUE(GetItemInfo(folders[20] + "/missing/" + folders[22] + "/x", missing).notFound());
    EXPECT_EQ(GetItemInfo(folders.back() + "/" + std::string(300, 'n') + "/x", missing).error,
              ENAMETOOLONG);
    // Removing the folders succeeds only when rename and delete left them empty.
    ASSERT_TRUE(RenameItem(file, folders.back() + "/renamed.bin").ok());
    ASSERT_TRUE(DeleteFile(folders.back() + "/renamed.bin").ok());
    for (std::size_t level = folders.size() - 1; level > 0; --level) {
        ASSERT_TRUE(RemoveFolder(folders[level]).ok()) << level;
    }
    EXPECT_EQ(std::filesystem::current_path(), startFolder);
}

TEST(FileSystemTest, OpenFileLimitIsRaisedToTheHardLimit) {
    rlimit saved{}, limit{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
    limit = {64, saved.rlim_max};
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &limit), 0);
    RaiseOpenFileLimit();
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &limit), 0);
    EXPECT_EQ(limit.rlim_cur, saved.rlim_max == RLIM_INFINITY ? 1u << 20 : saved.rlim_max);
    ::setrlimit(RLIMIT_NOFILE, &saved);
}

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
    EXPECT_EQ(test::DescribeDifferences(outside_, test::SnapshotTree(tmp_ / "outside")), "");
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

constexpr int kNone = static_cast<int>(FolderOverlap::None);
constexpr int kSame = static_cast<int>(FolderOverlap::Same);
constexpr int kInside = static_cast<int>(FolderOverlap::TargetInsideSource);
constexpr int kAround = static_cast<int>(FolderOverlap::SourceInsideTarget);

// src/{docs/deep/er, backup, file.txt}, src2, other, "mnt/b ind"; the links lsrc -> src,
// ldocs -> src/docs and other/up -> ../src.
class FolderOverlapTest : public ::testing::Test {
protected:
    FolderOverlapTest() {
        tmp_.createFolder("src/docs/deep/er");
        tmp_.createFolder("src/backup");
        tmp_.createFile("src/file.txt", "x");
        tmp_.createFolder("src2");
        tmp_.createFolder("mnt/b ind");
        tmp_.createFolder("other");
        for (const auto& [target, link] : {std::pair{tmp_ / "src", "lsrc"},
                                           {tmp_ / "src/docs", "ldocs"},
                                           {"../src", "other/up"}}) {
            EXPECT_EQ(::symlink(target.c_str(), (tmp_ / link).c_str()), 0);
        }
    }
    int Find(const std::string& source, const std::string& target) {
        FolderOverlap out = FolderOverlap::None;
        const SysStatus status = FindFolderOverlap(source, target, out);
        return status.ok() ? static_cast<int>(out) : -status.error;
    }
    // The overlap of "source|target" below the test's folder, or the errno (negative) of a failure.
    int FindBelow(const std::string& pair) {
        return Find(tmp_ / pair.substr(0, pair.find('|')), tmp_ / pair.substr(pair.find('|') + 1));
    }

    test::TempDir tmp_;
};

// Every spelling of a folder: runs of "/", ".", "..", links, relative paths. A missing target is
// judged by the folder it would be created in; ".." after a missing folder as the kernel resolves
// it.
TEST_F(FolderOverlapTest, JudgesFoldersByIdentityWhateverTheSpelling) {
    // By the answer expected.
    const std::pair<int, std::vector<std::string>> groups[] = {
        {kSame,
         {"src|src", "src|src//", "src|/src", "src|./src", "src|src2/../src", "src|src/docs/..",
          "src|lsrc", "lsrc/|src", "src|other/up", "src//docs/|ldocs", "src|new/../src",
          "src|src/new/.."}},
        {kInside,
         {"src|src/docs/deep/er", "src|ldocs", "lsrc|src/docs/deep", "src|other/up/backup",
          "src|src/new/deeper/still", "src|ldocs/new", "src|other/up/new", "src|new/../src/new"}},
        {kAround, {"src/docs|src", "src/docs/deep/er|lsrc", "ldocs/deep/er|other/up/docs"}},
        {kNone,
         {"src|src2", "src2|src", "src/docs|src/backup", "src|other", "other|src", "src|src2/new",
          "src|new", "src/docs|src/new", "src|new/a/../b"}},
        {-ENOENT, {"nosuch|src2", "nosuch/../src|src2"}},
        {-ENOTDIR, {"src/file.txt|src2", "src2|src/file.txt", "src2|src/file.txt/new"}}};
    for (const auto& [expected, pairs] : groups) {
        for (const std::string& pair : pairs) {
            EXPECT_EQ(FindBelow(pair), expected) << pair;
        }
    }
    EXPECT_EQ(Find("", tmp_ / "src"), -ENOENT);
    EXPECT_EQ(Find(tmp_ / "src", ""), -ENOENT);
    const std::string relative =
        std::filesystem::relative(tmp_ / "src", std::filesystem::current_path()).string();
    ASSERT_NE(relative.front(), '/');
    EXPECT_EQ(Find(tmp_ / "lsrc", relative + "/"), kSame);
    EXPECT_EQ(Find(relative, tmp_ / "src/docs"), kInside);
    EXPECT_EQ(Find(tmp_ / "src/docs", relative), kAround);
    EXPECT_EQ(Find(tmp_ / "src", relative + "/new"), kInside);
}

// A bind mount has the identity of its folder, but ".." from it climbs the mount point's
// parents, so only the mounts tell that "mnt/b ind" (a bind of src/backup) lies in src. The
// space in the name is written "\040" in the mount table.
TEST_F(FolderOverlapTest, SeesThroughBindMounts) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "bind mounts need root";
    }
    constexpr int kCannotMount = 77, kFirstCase = 10;  // a sanitizer's report exits 1
    const std::pair<const char*, int> cases[] = {
        {"src|mnt/b ind", kInside},     {"mnt/b ind|src", kAround}, {"src/backup|mnt/b ind", kSame},
        {"src|mnt/b ind/new", kInside}, {"src2|mnt/b ind", kNone},  {"mnt/b ind|src/docs", kNone}};
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // The mount lives in the child's own namespace and vanishes with it.
        if (::unshare(CLONE_NEWNS) != 0 ||
            ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            ::mount((tmp_ / "src/backup").c_str(), (tmp_ / "mnt/b ind").c_str(), nullptr, MS_BIND,
                    nullptr) != 0) {
            ::_exit(kCannotMount);
        }
        for (std::size_t i = 0; i < std::size(cases); ++i) {
            if (FindBelow(cases[i].first) != cases[i].second) {
                ::_exit(kFirstCase + static_cast<int>(i));
            }
        }
        ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == kCannotMount) {
        GTEST_SKIP() << "no private mount namespace here";
    }
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the first failing case is " << kFirstCase << " + index";
}

}  // namespace
}  // namespace mirova::platform
