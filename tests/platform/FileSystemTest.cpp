#include "platform/FileSystem.h"

#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "TempDir.h"

namespace mirova::platform {
namespace {

using test::ScopedUnprivileged;
using test::TempDir;

FileTime TimeOf(std::int64_t seconds, long nanoseconds = 0) {
    timespec time{};
    time.tv_sec = static_cast<time_t>(seconds);
    time.tv_nsec = nanoseconds;
    return FileTimeFromTimespec(time);
}

// Every item of an open folder by name; a failing step fails the test.
std::map<std::string, ItemInfo> ListAll(FolderReader& reader) {
    std::map<std::string, ItemInfo> items;
    FolderItem item;
    SysStatus error;
    for (;;) {
        const FolderReader::Step step = reader.Next(item, error);
        if (step == FolderReader::Step::End) {
            break;
        }
        if (step == FolderReader::Step::Error) {
            ADD_FAILURE() << "listing failed: " << error.describe();
            break;
        }
        items.emplace(std::string(item.name, item.nameLength), item.info);
    }
    return items;
}

std::string ReadAll(const std::string& path) {
    UniqueFd fd;
    if (!OpenFileForReading(path, fd).ok()) {
        ADD_FAILURE() << "cannot open " << path.size() << "-byte path";
        return {};
    }
    char buffer[256];
    std::size_t got = 0;
    EXPECT_TRUE(ReadFull(fd.get(), buffer, sizeof buffer, got).ok());
    return std::string(buffer, got);
}

void WriteNew(const std::string& path, std::string_view content) {
    UniqueFd fd;
    ASSERT_TRUE(CreateFileForWriting(path, CreateMode::NewOnly, 0644, fd).ok());
    ASSERT_TRUE(WriteAll(fd.get(), content.data(), content.size()).ok());
}

// A folder holding one item of each kind the listing tells apart.
class FolderContentTest : public ::testing::Test {
protected:
    void SetUp() override {
        tmp_.createFile("list/file.txt", "hello", 1500000000, 123456789);
        tmp_.createFile("list/sub/inner", "x");
        tmp_.createFile("list/.hidden", "");
        ASSERT_EQ(::symlink("file.txt", (tmp_ / "list/link").c_str()), 0);
        ASSERT_EQ(::symlink("sub", (tmp_ / "list/folderlink").c_str()), 0);
        ASSERT_EQ(::mkfifo((tmp_ / "list/fifo").c_str(), 0600), 0);
        test::SetModificationTime(tmp_ / "list/link", 1000000000, 500);
    }

    std::string at(std::string_view name) const { return tmp_ / ("list/" + std::string(name)); }

    TempDir tmp_;
};

TEST_F(FolderContentTest, ListingReportsEachItemAsItself) {
    FolderReader reader;
    ASSERT_TRUE(reader.Open(tmp_ / "list").ok());
    const auto items = ListAll(reader);

    ASSERT_EQ(items.size(), 6u);  // no "." or "..", nothing from below "sub"
    const ItemInfo& file = items.at("file.txt");
    EXPECT_EQ(file.kind, ItemKind::File);
    EXPECT_EQ(file.size, 5u);
    EXPECT_EQ(file.lastWrite, TimeOf(1500000000, 123456700));

    EXPECT_EQ(items.at("sub").kind, ItemKind::Folder);
    EXPECT_TRUE(items.at("sub").isFolder());
    EXPECT_EQ(items.at("sub").size, 0u);

    // Links keep their own times and size (the length of the text they hold).
    const ItemInfo& link = items.at("link");
    EXPECT_EQ(link.kind, ItemKind::Symlink);
    EXPECT_EQ(link.size, 8u);
    EXPECT_EQ(link.lastWrite, TimeOf(1000000000, 500));
    EXPECT_EQ(items.at("folderlink").kind, ItemKind::Symlink);

    EXPECT_EQ(items.at("fifo").kind, ItemKind::System);
    EXPECT_EQ(items.at(".hidden").kind, ItemKind::File);
}

TEST_F(FolderContentTest, HiddenNamesBeginWithADot) {
    EXPECT_TRUE(IsHiddenName(".hidden"));
    EXPECT_TRUE(IsHiddenName("."));
    EXPECT_FALSE(IsHiddenName("file.txt"));
    EXPECT_FALSE(IsHiddenName(""));
}

TEST_F(FolderContentTest, ItemInfoFollowsLinksOnlyWhenAsked) {
    ItemInfo info;
    ASSERT_TRUE(GetItemInfo(at("link"), info).ok());
    EXPECT_EQ(info.kind, ItemKind::Symlink);
    ASSERT_TRUE(GetItemInfo(at("link"), info, FollowLinks::Yes).ok());
    EXPECT_EQ(info.kind, ItemKind::File);
    EXPECT_EQ(info.size, 5u);
    ASSERT_TRUE(GetItemInfo(at("folderlink"), info, FollowLinks::Yes).ok());
    EXPECT_EQ(info.kind, ItemKind::Folder);
    EXPECT_TRUE(GetItemInfo(at("missing"), info).notFound());
}

TEST_F(FolderContentTest, ARootLinkIsFollowedButAChildLinkNever) {
    FolderReader root;
    ASSERT_TRUE(root.Open(at("folderlink")).ok());
    EXPECT_EQ(ListAll(root).count("inner"), 1u);

    FolderReader parent;
    ASSERT_TRUE(parent.Open(tmp_ / "list").ok());
    FolderReader child;
    const SysStatus refused = child.OpenChild(parent, "folderlink");
    EXPECT_TRUE(refused.error == ELOOP || refused.error == ENOTDIR) << refused.describe();
    EXPECT_FALSE(child.isOpen());
    EXPECT_EQ(child.OpenChild(parent, "file.txt").error, ENOTDIR);
    ASSERT_TRUE(child.OpenChild(parent, "sub").ok());
    EXPECT_EQ(ListAll(child).count("inner"), 1u);

    UniqueFd fd;
    EXPECT_FALSE(OpenFolder(at("folderlink"), fd, FollowLinks::No).ok());
    EXPECT_TRUE(OpenFolder(at("folderlink"), fd, FollowLinks::Yes).ok());
    EXPECT_TRUE(root.Open(at("missing")).notFound());
}

TEST_F(FolderContentTest, OpenForReadingRefusesAnythingButARegularFile) {
    UniqueFd fd;
    EXPECT_EQ(OpenFileForReading(at("link"), fd).error, ELOOP);
    EXPECT_EQ(OpenFileForReading(at("sub"), fd).error, EISDIR);
    EXPECT_FALSE(OpenFileForReading(at("fifo"), fd).ok());  // and does not wait for a writer
    EXPECT_TRUE(OpenFileForReading(at("missing"), fd).notFound());
    EXPECT_FALSE(fd.valid());
    EXPECT_EQ(ReadAll(at("file.txt")), "hello");
}

TEST_F(FolderContentTest, CreatingNeverGoesThroughALinkOrIntoAFifo) {
    UniqueFd fd;
    EXPECT_EQ(CreateFileForWriting(at("link"), CreateMode::NewOnly, 0644, fd).error, EEXIST);
    EXPECT_EQ(CreateFileForWriting(at("link"), CreateMode::Replace, 0644, fd).error, ELOOP);
    EXPECT_FALSE(CreateFileForWriting(at("fifo"), CreateMode::Replace, 0644, fd).ok());
    EXPECT_EQ(tmp_.read("list/file.txt"), "hello");
}

TEST_F(FolderContentTest, ExistenceOfADanglingLinkDependsOnFollowing) {
    ASSERT_EQ(::symlink("nowhere", at("dangling").c_str()), 0);
    EXPECT_TRUE(Exists(at("dangling")));
    EXPECT_FALSE(Exists(at("dangling"), FollowLinks::Yes));
    EXPECT_TRUE(Exists(at("fifo")));
    EXPECT_TRUE(Exists(at("sub"), FollowLinks::Yes));
    EXPECT_FALSE(Exists(at("missing")));
    EXPECT_FALSE(Exists(at("file.txt/below")));
}

TEST(FileSizeTest, SizesAbove4GiBAreKept) {
    TempDir tmp;
    const std::string path = tmp / "big";
    constexpr std::uint64_t kSize = (5ULL << 30) + 3;
    {
        UniqueFd fd;
        ASSERT_TRUE(CreateFileForWriting(path, CreateMode::NewOnly, 0644, fd).ok());
        ASSERT_EQ(::ftruncate(fd.get(), static_cast<off_t>(kSize)), 0);  // sparse
    }
    ItemInfo info;
    ASSERT_TRUE(GetItemInfo(path, info).ok());
    EXPECT_EQ(info.size, kSize);
    FolderReader reader;
    ASSERT_TRUE(reader.Open(tmp.path()).ok());
    EXPECT_EQ(ListAll(reader).at("big").size, kSize);
}

TEST(ItemOperationTest, FoldersAndFilesAreCreatedAndRemoved) {
    TempDir tmp;
    EXPECT_TRUE(CreateFolder(tmp / "a").ok());
    EXPECT_EQ(CreateFolder(tmp / "a").error, EEXIST);
    EXPECT_TRUE(CreateFolder(tmp / "x/y").notFound());
    ASSERT_TRUE(CreateFolder(tmp / "a/b").ok());
    tmp.createFile("a/b/f", "data");

    const SysStatus notEmpty = RemoveFolder(tmp / "a/b");
    EXPECT_TRUE(notEmpty.error == ENOTEMPTY || notEmpty.error == EEXIST);
    EXPECT_EQ(DeleteFile(tmp / "a/b").error, EISDIR);
    EXPECT_TRUE(DeleteFile(tmp / "a/b/f").ok());
    EXPECT_TRUE(DeleteFile(tmp / "a/b/f").notFound());
    EXPECT_TRUE(RemoveFolder(tmp / "a/b").ok());
    EXPECT_FALSE(Exists(tmp / "a/b"));
}

TEST(ItemOperationTest, DeletingALinkKeepsItsTarget) {
    TempDir tmp;
    tmp.createFile("target", "kept");
    ASSERT_EQ(::symlink("target", (tmp / "link").c_str()), 0);
    EXPECT_TRUE(DeleteFile(tmp / "link").ok());
    EXPECT_FALSE(Exists(tmp / "link"));
    EXPECT_EQ(tmp.read("target"), "kept");
}

TEST(ItemOperationTest, RenameReplacesAnExistingFile) {
    TempDir tmp;
    tmp.createFile("from", "new");
    tmp.createFile("to", "old");
    EXPECT_TRUE(RenameItem(tmp / "from", tmp / "to").ok());
    EXPECT_EQ(tmp.read("to"), "new");
    EXPECT_FALSE(Exists(tmp / "from"));
    EXPECT_TRUE(RenameItem(tmp / "from", tmp / "to").notFound());
}

TEST(ItemOperationTest, PermissionsAreSetOnTheItemAndNotThroughALink) {
    TempDir tmp;
    tmp.createFile("file", "x");
    ASSERT_EQ(::symlink("file", (tmp / "link").c_str()), 0);
    ItemInfo info;

    ASSERT_TRUE(SetPermissions(tmp / "file", 0640).ok());
    ASSERT_TRUE(GetItemInfo(tmp / "file", info).ok());
    EXPECT_EQ(info.permissions, 0640u);
    EXPECT_FALSE(info.readOnly());

    ASSERT_TRUE(SetPermissions(tmp / "file", 0444).ok());
    ASSERT_TRUE(GetItemInfo(tmp / "file", info).ok());
    EXPECT_EQ(info.permissions, 0444u);
    EXPECT_TRUE(info.readOnly());

    EXPECT_TRUE(SetPermissions(tmp / "link", 0777).ok());
    ASSERT_TRUE(GetItemInfo(tmp / "file", info).ok());
    EXPECT_EQ(info.permissions, 0444u);
    EXPECT_TRUE(SetPermissions(tmp / "missing", 0600).notFound());
}

TEST(ItemOperationTest, TimesAreSetTo100nsOnTheItemItself) {
    TempDir tmp;
    tmp.createFile("file", "x", 1000, 0);
    ASSERT_EQ(::symlink("file", (tmp / "link").c_str()), 0);
    const FileTime access = TimeOf(1600000000, 111111100);
    const FileTime write = TimeOf(1650000000, 987654300);
    ItemInfo info;

    ASSERT_TRUE(SetTimes(tmp / "file", access, write).ok());
    ASSERT_TRUE(GetItemInfo(tmp / "file", info).ok());
    EXPECT_EQ(info.lastAccess, access);
    EXPECT_EQ(info.lastWrite, write);

    const FileTime linkTime = TimeOf(1200000000, 100);
    ASSERT_TRUE(SetTimes(tmp / "link", linkTime, linkTime).ok());
    ASSERT_TRUE(GetItemInfo(tmp / "link", info).ok());
    EXPECT_EQ(info.lastWrite, linkTime);
    ASSERT_TRUE(GetItemInfo(tmp / "file", info).ok());
    EXPECT_EQ(info.lastWrite, write);
}

TEST(ItemOperationTest, OwnerIsSetOnTheItemItself) {
    TempDir tmp;
    tmp.createFile("file", "x");
    ASSERT_EQ(::symlink("file", (tmp / "link").c_str()), 0);
    // Without privileges only one's own ids can be given.
    const bool root = ::geteuid() == 0;
    const uid_t owner = root ? 12345 : ::getuid();
    const gid_t group = root ? 23456 : ::getgid();
    ItemInfo info;

    ASSERT_TRUE(SetOwner(tmp / "file", owner, group).ok());
    ASSERT_TRUE(GetItemInfo(tmp / "file", info).ok());
    EXPECT_EQ(info.owner, owner);
    EXPECT_EQ(info.group, group);
    if (root) {
        ASSERT_TRUE(SetOwner(tmp / "link", 4321, 4321).ok());
        ASSERT_TRUE(GetItemInfo(tmp / "link", info).ok());
        EXPECT_EQ(info.owner, 4321u);
        ASSERT_TRUE(GetItemInfo(tmp / "file", info).ok());
        EXPECT_EQ(info.owner, owner);
    }
}

TEST(FileAccessTest, AnotherHoldersLockRefusesTheOpen) {
    TempDir tmp;
    tmp.createFile("file", "content");
    UniqueFd other(::open((tmp / "file").c_str(), O_RDONLY | O_CLOEXEC));
    ASSERT_TRUE(other.valid());
    ASSERT_EQ(::flock(other.get(), LOCK_EX), 0);

    UniqueFd fd;
    const SysStatus refused = OpenFileForReading(tmp / "file", fd);
    EXPECT_TRUE(refused.error == EWOULDBLOCK || refused.error == EAGAIN) << refused.describe();
    EXPECT_FALSE(fd.valid());
    // Replacing is refused too, and the held file keeps its content.
    EXPECT_FALSE(CreateFileForWriting(tmp / "file", CreateMode::Replace, 0644, fd).ok());
    EXPECT_EQ(tmp.read("file"), "content");

    other.reset();
    ASSERT_TRUE(OpenFileForReading(tmp / "file", fd).ok());
    // The program's own open holds the lock in turn.
    UniqueFd second;
    EXPECT_FALSE(OpenFileForReading(tmp / "file", second).ok());
}

TEST(FileAccessTest, CreateModesDecideAboutAnExistingFile) {
    TempDir tmp;
    tmp.createFile("file", "old content");
    UniqueFd fd;
    EXPECT_EQ(CreateFileForWriting(tmp / "file", CreateMode::NewOnly, 0644, fd).error, EEXIST);
    EXPECT_EQ(tmp.read("file"), "old content");

    ASSERT_TRUE(CreateFileForWriting(tmp / "file", CreateMode::Replace, 0644, fd).ok());
    ASSERT_TRUE(WriteAll(fd.get(), "ab", 2).ok());
    fd.reset();
    EXPECT_EQ(tmp.read("file"), "ab");

    ASSERT_TRUE(CreateFileForWriting(tmp / "new", CreateMode::NewOnly, 0600, fd).ok());
    ItemInfo info;
    ASSERT_TRUE(GetItemInfo(tmp / "new", info).ok());
    EXPECT_EQ(info.permissions, 0600u);
}

TEST(FileAccessTest, ReadFullStopsShortOnlyAtTheEnd) {
    TempDir tmp;
    tmp.createFile("file", "0123456789");
    UniqueFd fd;
    ASSERT_TRUE(OpenFileForReading(tmp / "file", fd).ok());
    char buffer[64];
    std::size_t got = 0;
    ASSERT_TRUE(ReadFull(fd.get(), buffer, 4, got).ok());
    EXPECT_EQ(std::string(buffer, got), "0123");
    ASSERT_TRUE(ReadFull(fd.get(), buffer, sizeof buffer, got).ok());
    EXPECT_EQ(std::string(buffer, got), "456789");
    ASSERT_TRUE(ReadFull(fd.get(), buffer, sizeof buffer, got).ok());
    EXPECT_EQ(got, 0u);
}

TEST(FolderReaderErrorTest, AnItemThatVanishedIsPassedOver) {
    TempDir tmp;
    for (const char* name : {"a", "b", "c", "d"}) {
        tmp.createFile(std::string("v/") + name);
    }
    FolderReader reader;
    ASSERT_TRUE(reader.Open(tmp / "v").ok());
    FolderItem item;
    SysStatus error;
    ASSERT_EQ(reader.Next(item, error), FolderReader::Step::Item);
    // The names of a small folder arrive in one batch; the rest are gone before they are read.
    const std::string first(item.name, item.nameLength);
    for (const char* name : {"a", "b", "c", "d"}) {
        if (first != name) {
            ASSERT_TRUE(DeleteFile(tmp / (std::string("v/") + name)).ok());
        }
    }
    EXPECT_EQ(reader.Next(item, error), FolderReader::Step::End);
    EXPECT_TRUE(error.ok());
}

TEST(FolderReaderErrorTest, UnreadableAttributesAreAnError) {
    TempDir tmp;
    const ScopedUnprivileged unprivileged(tmp);
    tmp.createFile("locked/item", "x");
    ASSERT_EQ(::chmod((tmp / "locked").c_str(), 0600), 0);  // names readable, items not
    FolderReader reader;
    ASSERT_TRUE(reader.Open(tmp / "locked").ok());
    FolderItem item;
    SysStatus error;
    EXPECT_EQ(reader.Next(item, error), FolderReader::Step::Error);
    EXPECT_EQ(error.error, EACCES);
}

TEST(FolderReaderErrorTest, AClosedReaderReportsAnError) {
    FolderReader reader;
    FolderReader child;
    EXPECT_EQ(child.OpenChild(reader, "x").error, EBADF);
    FolderItem item;
    SysStatus error;
    EXPECT_EQ(reader.Next(item, error), FolderReader::Step::Error);
    EXPECT_EQ(reader.fd(), -1);
}

std::string CurrentFolder() {
    char buffer[PATH_MAX];
    return ::getcwd(buffer, sizeof buffer) ? buffer : "";
}

// 25 nested folders of 200-byte names: far beyond what the plain calls accept.
class LongPathTest : public ::testing::Test {
protected:
    static constexpr int kDepth = 25;

    void SetUp() override {
        startFolder_ = CurrentFolder();
        std::string path = tmp_.path();
        for (int level = 0; level < kDepth; ++level) {
            names_.push_back(std::string(198, static_cast<char>('a' + level % 26)) +
                             std::to_string(10 + level));
            path += "/" + names_.back();
            folders_.push_back(path);
        }
    }

    void TearDown() override {
        // The temporary folder's own clean-up cannot reach this deep.
        for (const char* name : {"/file.bin", "/renamed.bin"}) {
            DeleteFile(deepest() + name);
        }
        for (auto it = folders_.rbegin(); it != folders_.rend(); ++it) {
            RemoveFolder(*it);
        }
        EXPECT_EQ(CurrentFolder(), startFolder_);
    }

    const std::string& deepest() const { return folders_.back(); }

    TempDir tmp_;
    std::string startFolder_;
    std::vector<std::string> names_;
    std::vector<std::string> folders_;
};

TEST_F(LongPathTest, EveryCallReachesADeepPath) {
    for (const std::string& folder : folders_) {
        ASSERT_TRUE(CreateFolder(folder).ok()) << folder.size();
    }
    ASSERT_TRUE(NeedsWalk(deepest()));
    const std::string file = deepest() + "/file.bin";

    PathAnchor anchor;
    ASSERT_TRUE(AnchorPath(file, anchor).ok());
    EXPECT_NE(anchor.dir, AT_FDCWD);
    EXPECT_EQ(anchor.leaf, "file.bin");
    ASSERT_TRUE(AnchorPath(tmp_ / "short", anchor).ok());
    EXPECT_EQ(anchor.dir, AT_FDCWD);
    EXPECT_EQ(anchor.leaf, tmp_ / "short");

    WriteNew(file, "payload");
    EXPECT_EQ(ReadAll(file), "payload");
    ItemInfo info;
    ASSERT_TRUE(GetItemInfo(file, info).ok());
    EXPECT_EQ(info.kind, ItemKind::File);
    EXPECT_EQ(info.size, 7u);

    const FileTime access = TimeOf(1400000000, 100);
    const FileTime write = TimeOf(1500000000, 9999900);
    ASSERT_TRUE(SetTimes(file, access, write).ok());
    ASSERT_TRUE(SetPermissions(file, 0604).ok());
    ASSERT_TRUE(GetItemInfo(file, info).ok());
    EXPECT_EQ(info.lastAccess, access);
    EXPECT_EQ(info.lastWrite, write);
    EXPECT_EQ(info.permissions, 0604u);

    ASSERT_TRUE(RenameItem(file, deepest() + "/renamed.bin").ok());
    EXPECT_FALSE(Exists(file));
    ASSERT_TRUE(DeleteFile(deepest() + "/renamed.bin").ok());
    EXPECT_FALSE(Exists(deepest() + "/renamed.bin"));

    for (auto it = folders_.rbegin(); it != folders_.rend(); ++it) {
        ASSERT_TRUE(RemoveFolder(*it).ok());
    }
    EXPECT_FALSE(Exists(folders_.front()));
}

TEST_F(LongPathTest, ADeepFolderIsListedByChainAndByPath) {
    for (const std::string& folder : folders_) {
        ASSERT_TRUE(CreateFolder(folder).ok());
    }
    WriteNew(deepest() + "/file.bin", "x");

    FolderReader byPath;
    ASSERT_TRUE(byPath.Open(deepest()).ok());
    auto items = ListAll(byPath);
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items.begin()->first, "file.bin");

    // One open folder per level, as a scan holds them.
    std::vector<std::unique_ptr<FolderReader>> chain;
    chain.push_back(std::make_unique<FolderReader>());
    ASSERT_TRUE(chain.back()->Open(tmp_.path()).ok());
    for (const std::string& name : names_) {
        auto child = std::make_unique<FolderReader>();
        ASSERT_TRUE(child->OpenChild(*chain.back(), name.c_str()).ok());
        chain.push_back(std::move(child));
    }
    items = ListAll(*chain.back());
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items.at("file.bin").size, 1u);
}

TEST_F(LongPathTest, WalkToleratesRepeatedSeparatorsAndRelativePaths) {
    for (const std::string& folder : folders_) {
        ASSERT_TRUE(CreateFolder(folder).ok());
    }
    WriteNew(deepest() + "/file.bin", "x");

    std::string doubled;
    for (const char c : deepest() + "/file.bin") {
        doubled += c == '/' ? "//" : std::string(1, c);
    }
    EXPECT_TRUE(Exists(doubled));
    EXPECT_TRUE(Exists(deepest() + "///"));

    // Relative to the current folder: up to the root, then down the absolute path.
    std::string relative;
    for (const char c : startFolder_) {
        if (c == '/') {
            relative += "../";
        }
    }
    relative += deepest().substr(1) + "/file.bin";
    ASSERT_TRUE(NeedsWalk(relative));
    ItemInfo info;
    ASSERT_TRUE(GetItemInfo(relative, info).ok());
    EXPECT_EQ(info.size, 1u);

    EXPECT_TRUE(GetItemInfo(folders_[20] + "/missing/" + names_[21] + "/" + names_[22] + "/" +
                                names_[23] + "/x",
                            info)
                    .notFound());
    EXPECT_EQ(GetItemInfo(deepest() + "/" + std::string(300, 'n') + "/x", info).error,
              ENAMETOOLONG);
}

}  // namespace
}  // namespace mirova::platform
