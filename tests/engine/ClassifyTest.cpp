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
        list->entries[list->count++] =
            FileEntry{list->names.Add(item.name), item.low, item.high, item.size, item.isFolder, 0};
    }
    SortFileList(*list);
    return list;
}

using Names = std::vector<std::string>;

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

// The result in one line: the lists that are not empty (copy, del for files to delete, rmdir,
// mkdir, older for the older sources reported) in their order, then the sums that are not 0.
std::string Describe(const Classified& c) {
    std::string text;
    const auto add = [&text](const char* label, const auto& names) {
        if (!names.empty()) {
            text += (text.empty() ? "" : "; ") + std::string(label);
            for (const auto& name : names) {
                text += std::string(" ") + name;
            }
        }
    };
    add("copy", c.work.copyList);
    add("del", c.work.deleteFileList);
    add("rmdir", c.work.deleteFolderList);
    add("mkdir", c.work.createFolderList);
    add("older", c.older);
    for (const auto& [label, value] :
         {std::pair<const char*, std::uint64_t>{"total", c.work.copyTotal},
          {"changed", c.work.changedCount}}) {
        if (value != 0) {
            text += (text.empty() ? "" : "; ") + std::string(label) + " " + std::to_string(value);
        }
    }
    return text;
}

constexpr std::uint64_t kFiveGiB = 5ull << 30;

TEST(ClassifyTest, ListsEveryChangeInItsOrder) {
    const std::vector<Item> tree{Folder("d"), File("d/a.txt"), File("b", 0)};
    const struct {
        const char* what;
        std::vector<Item> source, target;
        const char* expected;
    } cases[] = {
        {"identical trees", tree, tree, ""},
        {"empty lists", {}, {}, ""},
        // Source order is the sorted order of the source list; 1.9 s apart is the same time.
        {"new, changed and within tolerance",
         {File("new", 5), File("later", 7, kBaseLow + 2 * kSecond), File("resized", 11),
          File("close", 10, kBaseLow + 19 * kSecond / 10), File("same", 10)},
         {File("later", 7), File("resized", 12), File("close", 10), File("same", 10)},
         "copy later new resized; del later resized; total 23; changed 2"},
        {"older source",
         {File("old", 3, kBaseLow - 2 * kSecond), File("fine", 1)},
         {File("old", 3), File("fine", 1)},
         "copy old; del old; older old; total 3; changed 1"},
        // Older only by a size difference at equal times is not "older".
        {"size only", {File("x", 1)}, {File("x", 2)}, "copy x; del x; total 1; changed 1"},
        {"folders created or deleted with their contents",
         {Folder("only-src"), File("only-src/a", 4), Folder("only-src/deep"),
          File("only-src/deep/b", 6), Folder("both"), File("both/x", 1)},
         {Folder("both"), File("both/x", 1), Folder("only-tgt"), File("only-tgt/y"),
          Folder("only-tgt/sub"), File("stray")},
         "copy only-src/a only-src/deep/b; del only-tgt/y stray; rmdir only-tgt only-tgt/sub; "
         "mkdir only-src only-src/deep; total 10"},
        // A file and a folder of one name are replaced, not matched: the target item and all
        // that is in it go, then the source item and its content arrive.
        {"file over folder",
         {File("n", 9)},
         {Folder("n"), File("n/inner"), Folder("n/sub"), File("n/sub/deep")},
         "copy n; del n/inner n/sub/deep; rmdir n n/sub; total 9"},
        {"folder over file",
         {Folder("n"), File("n/inner", 4), Folder("n/empty")},
         {File("n", 9)},
         "copy n/inner; del n; mkdir n n/empty; total 4"},
        // Equal times and sizes do not make a file and an empty folder the same item.
        {"empty folder over empty file", {Folder("e")}, {File("e", 0)}, "del e; mkdir e"},
        {"empty file over folder", {File("e", 0)}, {Folder("e")}, "copy e; rmdir e"},
        // "old" is older in the source than the target folder of its name, and "m" is a target
        // file standing where the source has a folder: neither is a changed file, so neither
        // joins the changed prefix of the delete list (changed files first in source order,
        // then the extraneous ones in target order) nor counts as an older source.
        {"kind changes stay out of the changed files",
         {File("a", 2), Folder("m"), File("m/in", 3), File("old", 1, kBaseLow - 5 * kSecond),
          File("z", 1)},
         {File("a", 1), File("m", 5, kBaseLow + 50 * kSecond),
          Item{"old", 1, 0, kBaseLow + 100 * kSecond, kBaseHigh}, File("old/x"),
          File("z", 1, kBaseLow + 10 * kSecond)},
         "copy a m/in old z; del a z m old/x; rmdir old; mkdir m; older z; total 7; changed 2"},
        {"names match case-sensitively",
         {File("Data.txt"), File("README")},
         {File("data.txt"), File("Readme")},
         "copy Data.txt README; del Readme data.txt; total 20"},
        {"copy total keeps 64 bits",
         {File("big1", kFiveGiB), File("big2", kFiveGiB), File("small", 1)},
         {File("big2", kFiveGiB - 1)},
         "copy big1 big2 small; del big2; total 10737418241; changed 1"},
        // The full size counts: 5 GiB and 1 GiB are different sizes.
        {"sizes beyond 32 bits",
         {File("f", kFiveGiB)},
         {File("f", 1ull << 30)},
         "copy f; del f; total 5368709120; changed 1"},
    };
    for (const auto& c : cases) {
        const Classified result = Classify(c.source, c.target);
        EXPECT_EQ(Describe(result), c.expected) << c.what;
        EXPECT_EQ(result.work.olderFound, !result.older.empty()) << c.what;
        EXPECT_EQ(result.work.empty(),
                  result.work.copyList.empty() && result.work.deleteFileList.empty() &&
                      result.work.deleteFolderList.empty() && result.work.createFolderList.empty())
            << c.what;
    }
}

TEST(ClassifyTest, OlderSourceIsFoundWithoutACallback) {
    Classified c{SortedList({File("x", 1, kBaseLow)}),
                 SortedList({File("x", 1, kBaseLow + 5 * kSecond)}),
                 {},
                 {}};
    c.work = ClassifyLists(*c.source, *c.target, nullptr);
    EXPECT_TRUE(c.work.olderFound);
    EXPECT_EQ(Describe(c), "copy x; del x; total 1; changed 1");
}

}  // namespace
}  // namespace mirova
