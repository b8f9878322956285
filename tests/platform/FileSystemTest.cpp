#include "platform/FileSystem.h"

#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "TempDir.h"

namespace mirova::platform {
namespace {

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

    // Vanished items are passed over; items that cannot be looked at are errors.
    const test::ScopedUnprivileged unprivileged(tmp);
    for (const char* name : {"v/a", "v/b", "v/c", "locked/item"}) {
        tmp.createFile(name);
    }
    FolderItem item;
    SysStatus error;
    ASSERT_TRUE(reader.Open(tmp / "v").ok());
    ASSERT_EQ(reader.Next(item, error), FolderReader::Step::Item);
    for (const std::string name : {"a", "b", "c"}) {  // read in one batch, gone before looked at
        std::filesystem::remove(tmp / ("v/" + name));
    }
    EXPECT_EQ(reader.Next(item, error), FolderReader::Step::End);
    EXPECT_TRUE(error.ok());
    ASSERT_EQ(::chmod((tmp / "locked").c_str(), 0600), 0);  // names readable, items not
    ASSERT_TRUE(reader.Open(tmp / "locked").ok());
    EXPECT_EQ(reader.Next(item, error), FolderReader::Step::Error);
    EXPECT_EQ(error.error, EACCES);
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

}  // namespace
}  // namespace mirova::platform
