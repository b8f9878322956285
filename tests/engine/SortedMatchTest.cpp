// The classifications walk two sorted lists together instead of searching one for each entry of
// the other; these tests hold the walk to the answers of the binary search it replaces.
#include "engine/SortedMatch.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "engine/Classify.h"
#include "engine/Merge.h"

namespace mirova {
namespace {

// Random relative names over an alphabet that holds the bytes that sort around "/" and a byte
// above 0x7f, so that "a.b", "a/b" and "a\xff" meet; the two lists share about half the names.
struct ListPair {
    FileListPtr a;
    FileListPtr b;
};

std::string RandomName(std::mt19937& rng) {
    static const std::string kAlphabet = std::string("ab.-/A") + '\xff';
    std::uniform_int_distribution<int> length(1, 6);
    std::uniform_int_distribution<std::size_t> pick(0, kAlphabet.size() - 1);
    std::string name;
    for (int i = length(rng); i > 0; --i) {
        name += kAlphabet[pick(rng)];
    }
    return name;
}

void AddEntry(FileList& list, const std::string& name, std::mt19937& rng) {
    FileEntry& entry = list.entries[list.count++];
    entry.name = list.names.Add(name);
    entry.isFolder = static_cast<int>(rng() % 4 == 0);
    entry.size = entry.isFolder ? 0 : rng() % 3;
    entry.lastWriteLow = 2'000'000'000u + static_cast<std::uint32_t>(rng() % 3) * 30'000'000u;
    entry.lastWriteHigh = 30'000'000u;
}

ListPair RandomPair(unsigned seed, int size, bool sorted) {
    std::mt19937 rng(seed);
    ListPair pair{NewFileList(size), NewFileList(size)};
    for (int i = 0; i < size; ++i) {
        const std::string name = RandomName(rng);
        const int where = static_cast<int>(rng() % 3);  // a only, b only, both
        if (where != 1 && pair.a->count < size) {
            AddEntry(*pair.a, name, rng);
        }
        if (where != 0 && pair.b->count < size) {
            AddEntry(*pair.b, name, rng);
        }
    }
    if (sorted) {
        SortFileList(*pair.a);
        SortFileList(*pair.b);
    }
    return pair;
}

std::vector<std::string> Strings(const std::vector<const char*>& names) {
    return {names.begin(), names.end()};
}

TEST(SortedMatchTest, UnsortedListsAreDetectedAndSearched) {
    FileListPtr list = NewFileList(3);
    std::mt19937 rng(7);
    for (const char* name : {"b", "a", "c"}) {
        AddEntry(*list, name, rng);
    }
    EXPECT_FALSE(IsSortedList(*list));
    SortedMatcher matcher(*list, false);
    // Asked out of order, as only the search can answer.
    EXPECT_EQ(matcher.Find("c"), FindEntry(*list, "c"));
    EXPECT_EQ(matcher.Find("a"), FindEntry(*list, "a"));
    SortFileList(*list);
    EXPECT_TRUE(IsSortedList(*list));
    EXPECT_TRUE(IsSortedList(*NewFileList(1)));
}

// The classification as it was written with a binary search per entry: the reference.
WorkLists ReferenceClassify(const FileList& source, const FileList& target,
                            std::vector<std::string>& older) {
    WorkLists work;
    for (int i = 0; i < source.count; ++i) {
        const FileEntry& s = source.entries[i];
        const FileEntry* t = FindEntry(target, s.name);
        if (t != nullptr && t->isFolder != s.isFolder) {
            t = nullptr;  // a file and a folder of one name are different items
        }
        if (s.isFolder) {
            if (t == nullptr) {
                work.createFolderList.push_back(s.name);
            }
            continue;
        }
        const int order = t != nullptr ? CompareFileTimes(s, *t) : 0;
        if (t != nullptr && order == 0 && s.size == t->size) {
            continue;
        }
        work.copyList.push_back(s.name);
        work.copyTotal += s.size;
        if (t != nullptr) {
            work.deleteFileList.push_back(t->name);
            ++work.changedCount;
        }
        if (order < 0) {
            older.emplace_back(s.name);
            work.olderFound = true;
        }
    }
    for (int i = 0; i < target.count; ++i) {
        const FileEntry& t = target.entries[i];
        const FileEntry* s = FindEntry(source, t.name);
        if (s == nullptr || s->isFolder != t.isFolder) {
            (t.isFolder ? work.deleteFolderList : work.deleteFileList).push_back(t.name);
        }
    }
    return work;
}

TEST(SortedMatchTest, WalksGiveTheAnswersOfThePerEntrySearch) {
    for (const bool sorted : {true, false}) {
        for (unsigned seed = 1; seed <= 200; ++seed) {
            SCOPED_TRACE(testing::Message() << "seed " << seed << " sorted " << sorted);
            const ListPair pair = RandomPair(seed, 80, sorted);
            std::vector<const FileEntry*> found;
            if (sorted) {
                // Duplicate names in either list (the random names repeat) must give the first.
                ASSERT_TRUE(IsSortedList(*pair.a));
                SortedMatcher matcher(*pair.b, true);
                for (int i = 0; i < pair.a->count; ++i) {
                    found.push_back(FindEntry(*pair.b, pair.a->entries[i].name));
                    ASSERT_EQ(matcher.Find(pair.a->entries[i].name), found.back());
                }
            }
            std::vector<std::string> older;
            std::vector<std::string> expectedOlder;
            const WorkLists work = ClassifyLists(
                *pair.a, *pair.b, [&](const char* name) { older.emplace_back(name); });
            const WorkLists expected = ReferenceClassify(*pair.a, *pair.b, expectedOlder);
            EXPECT_EQ(Strings(work.copyList), Strings(expected.copyList));
            EXPECT_EQ(Strings(work.deleteFileList), Strings(expected.deleteFileList));
            EXPECT_EQ(Strings(work.deleteFolderList), Strings(expected.deleteFolderList));
            EXPECT_EQ(Strings(work.createFolderList), Strings(expected.createFolderList));
            EXPECT_EQ(work.changedCount, expected.changedCount);
            EXPECT_EQ(work.copyTotal, expected.copyTotal);
            EXPECT_EQ(work.olderFound, expected.olderFound);
            EXPECT_EQ(older, expectedOlder);
            if (sorted) {
                // The merge marks exactly the targets that the search finds.
                ClassifyForMerge(*pair.a, *pair.b);
                for (int i = 0; i < pair.b->count; ++i) {
                    const bool wanted =
                        std::find(found.begin(), found.end(), pair.b->entries + i) != found.end();
                    ASSERT_EQ(pair.b->entries[i].matched, wanted ? 1 : 0);
                }
            }
        }
    }
}

}  // namespace
}  // namespace mirova
