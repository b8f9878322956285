#include "engine/Classify.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace mirova {
namespace {

constexpr std::uint32_t kSecond = 10'000'000;
constexpr std::uint32_t kBaseLow = 2'000'000'000;
constexpr std::uint32_t kBaseHigh = 30'000'000;

struct Item {
    std::string name;
    int isFolder = 0;
    std::uint64_t size = 0;
    std::uint32_t low = kBaseLow;
    std::uint32_t high = kBaseHigh;
};

Item File(std::string name, std::uint64_t size = 10, std::uint32_t low = kBaseLow) {
    return Item{std::move(name), 0, size, low, kBaseHigh};
}
Item Folder(std::string name) {
    return Item{std::move(name), 1, 0, kBaseLow, kBaseHigh};
}

// A sorted list of relative names, as the run hands it to the classification.
FileListPtr SortedList(const std::vector<Item>& items) {
    FileListPtr list = NewFileList(static_cast<int>(items.size()) + 1);
    for (const Item& item : items) {
        FileEntry& entry = list->entries[list->count++];
        entry.name = list->names.Add(item.name);
        entry.isFolder = item.isFolder;
        entry.size = item.size;
        entry.lastWriteLow = item.low;
        entry.lastWriteHigh = item.high;
    }
    SortFileList(*list);
    return list;
}

using Names = std::vector<std::string>;

Names Strings(const std::vector<const char*>& names) {
    return Names(names.begin(), names.end());
}

struct Classified {
    FileListPtr source;
    FileListPtr target;
    WorkLists work;
    Names older;
};

Classified Classify(const std::vector<Item>& source, const std::vector<Item>& target) {
    Classified result{SortedList(source), SortedList(target), {}, {}};
    result.work = ClassifyLists(*result.source, *result.target,
                                [&](const char* name) { result.older.emplace_back(name); });
    return result;
}

TEST(ClassifyTest, IdenticalTreesGiveNothingToDo) {
    const std::vector<Item> tree{Folder("d"), File("d/a.txt"), File("b", 0)};
    Classified c = Classify(tree, tree);
    EXPECT_TRUE(c.work.empty());
    EXPECT_EQ(c.work.copyTotal, 0u);
    EXPECT_FALSE(c.work.olderFound);
    EXPECT_TRUE(c.older.empty());
}

TEST(ClassifyTest, FilesNewChangedAndWithinTolerance) {
    Classified c =
        Classify({File("new", 5), File("later", 7, kBaseLow + 2 * kSecond), File("resized", 11),
                  File("close", 10, kBaseLow + 19 * kSecond / 10), File("same", 10)},
                 {File("later", 7), File("resized", 12), File("close", 10), File("same", 10)});
    // Source order is the sorted order of the source list.
    EXPECT_EQ(Strings(c.work.copyList), (Names{"later", "new", "resized"}));
    EXPECT_EQ(Strings(c.work.deleteFileList), (Names{"later", "resized"}));
    EXPECT_EQ(c.work.copyTotal, 7u + 5u + 11u);
    EXPECT_TRUE(c.work.deleteFolderList.empty());
    EXPECT_TRUE(c.work.createFolderList.empty());
    EXPECT_FALSE(c.work.olderFound);
}

TEST(ClassifyTest, OlderSourceIsCopiedAndReported) {
    Classified c = Classify({File("old", 3, kBaseLow - 2 * kSecond), File("fine", 1)},
                            {File("old", 3), File("fine", 1)});
    EXPECT_EQ(Strings(c.work.copyList), (Names{"old"}));
    EXPECT_EQ(Strings(c.work.deleteFileList), (Names{"old"}));
    EXPECT_TRUE(c.work.olderFound);
    EXPECT_EQ(c.older, (Names{"old"}));
    // A source that is older only by a size difference at equal times is not "older".
    Classified sized = Classify({File("x", 1)}, {File("x", 2)});
    EXPECT_FALSE(sized.work.olderFound);
    EXPECT_TRUE(sized.older.empty());
}

TEST(ClassifyTest, FoldersAreCreatedOrDeletedWithTheirContents) {
    Classified c = Classify({Folder("only-src"), File("only-src/a", 4), Folder("only-src/deep"),
                             File("only-src/deep/b", 6), Folder("both"), File("both/x", 1)},
                            {Folder("both"), File("both/x", 1), Folder("only-tgt"),
                             File("only-tgt/y"), Folder("only-tgt/sub"), File("stray")});
    EXPECT_EQ(Strings(c.work.createFolderList), (Names{"only-src", "only-src/deep"}));
    EXPECT_EQ(Strings(c.work.copyList), (Names{"only-src/a", "only-src/deep/b"}));
    EXPECT_EQ(c.work.copyTotal, 10u);
    EXPECT_EQ(Strings(c.work.deleteFolderList), (Names{"only-tgt", "only-tgt/sub"}));
    EXPECT_EQ(Strings(c.work.deleteFileList), (Names{"only-tgt/y", "stray"}));
}

TEST(ClassifyTest, FileAndFolderOfOneNameAreReplacedNotMatched) {
    // Source file, target folder: the folder and everything in it go, then the file is copied.
    Classified fileOverFolder = Classify(
        {File("n", 9)}, {Folder("n"), File("n/inner"), Folder("n/sub"), File("n/sub/deep")});
    EXPECT_EQ(Strings(fileOverFolder.work.copyList), (Names{"n"}));
    EXPECT_EQ(fileOverFolder.work.copyTotal, 9u);
    EXPECT_EQ(Strings(fileOverFolder.work.deleteFileList), (Names{"n/inner", "n/sub/deep"}));
    EXPECT_EQ(fileOverFolder.work.changedCount, 0u);
    EXPECT_EQ(Strings(fileOverFolder.work.deleteFolderList), (Names{"n", "n/sub"}));
    EXPECT_TRUE(fileOverFolder.work.createFolderList.empty());

    // Source folder, target file: the file goes, then the folder and its content arrive.
    Classified folderOverFile =
        Classify({Folder("n"), File("n/inner", 4), Folder("n/empty")}, {File("n", 9)});
    EXPECT_EQ(Strings(folderOverFile.work.deleteFileList), (Names{"n"}));
    EXPECT_EQ(folderOverFile.work.changedCount, 0u);
    EXPECT_TRUE(folderOverFile.work.deleteFolderList.empty());
    EXPECT_EQ(Strings(folderOverFile.work.createFolderList), (Names{"n", "n/empty"}));
    EXPECT_EQ(Strings(folderOverFile.work.copyList), (Names{"n/inner"}));
    EXPECT_EQ(folderOverFile.work.copyTotal, 4u);
}

TEST(ClassifyTest, KindChangesStayOutOfTheChangedFiles) {
    // "old" is older in the source than the target folder of its name, and "m" is a target file
    // standing where the source has a folder: neither is a changed file, so neither joins the
    // changed prefix of the delete list nor counts as an older source. "z" really is older.
    Classified c = Classify({File("a", 2), Folder("m"), File("m/in", 3),
                             File("old", 1, kBaseLow - 5 * kSecond), File("z", 1)},
                            {File("a", 1), File("m", 5, kBaseLow + 50 * kSecond),
                             Item{"old", 1, 0, kBaseLow + 100 * kSecond, kBaseHigh}, File("old/x"),
                             File("z", 1, kBaseLow + 10 * kSecond)});
    EXPECT_EQ(Strings(c.work.copyList), (Names{"a", "m/in", "old", "z"}));
    EXPECT_EQ(c.work.copyTotal, 2u + 3u + 1u + 1u);
    // Changed files first in source order, then the extraneous ones in target order.
    EXPECT_EQ(Strings(c.work.deleteFileList), (Names{"a", "z", "m", "old/x"}));
    EXPECT_EQ(c.work.changedCount, 2u);
    EXPECT_EQ(Strings(c.work.deleteFolderList), (Names{"old"}));
    EXPECT_EQ(Strings(c.work.createFolderList), (Names{"m"}));
    EXPECT_TRUE(c.work.olderFound);
    EXPECT_EQ(c.older, (Names{"z"}));
}

TEST(ClassifyTest, KindChangeWithoutAnyOtherDifferenceIsStillWork) {
    // Equal times and sizes do not make a file and an empty folder the same item.
    Classified c = Classify({Folder("e")}, {File("e", 0)});
    EXPECT_FALSE(c.work.empty());
    EXPECT_EQ(Strings(c.work.createFolderList), (Names{"e"}));
    EXPECT_EQ(Strings(c.work.deleteFileList), (Names{"e"}));
    Classified back = Classify({File("e", 0)}, {Folder("e")});
    EXPECT_EQ(Strings(back.work.copyList), (Names{"e"}));
    EXPECT_EQ(Strings(back.work.deleteFolderList), (Names{"e"}));
    EXPECT_FALSE(back.work.olderFound);
}

TEST(ClassifyTest, NamesMatchCaseSensitively) {
    Classified c = Classify({File("Data.txt"), File("README")}, {File("data.txt"), File("Readme")});
    EXPECT_EQ(Strings(c.work.copyList), (Names{"Data.txt", "README"}));
    EXPECT_EQ(Strings(c.work.deleteFileList), (Names{"Readme", "data.txt"}));
}

TEST(ClassifyTest, CopyTotalKeepsSixtyFourBits) {
    constexpr std::uint64_t kFiveGiB = 5ull << 30;
    Classified c = Classify({File("big1", kFiveGiB), File("big2", kFiveGiB), File("small", 1)},
                            {File("big2", kFiveGiB - 1)});
    EXPECT_EQ(c.work.copyTotal, 2 * kFiveGiB + 1);
    // The full size counts: 5 GiB and 1 GiB are different sizes.
    Classified differ = Classify({File("f", kFiveGiB)}, {File("f", 1ull << 30)});
    EXPECT_EQ(Strings(differ.work.copyList), (Names{"f"}));
}

TEST(ClassifyTest, EmptyListsAndNoCallback) {
    Classified none = Classify({}, {});
    EXPECT_TRUE(none.work.empty());
    FileListPtr source = SortedList({File("x", 1, kBaseLow)});
    FileListPtr target = SortedList({File("x", 1, kBaseLow + 5 * kSecond)});
    WorkLists work = ClassifyLists(*source, *target, nullptr);
    EXPECT_TRUE(work.olderFound);
    EXPECT_EQ(Strings(work.copyList), (Names{"x"}));
}

}  // namespace
}  // namespace mirova
