// The list work of a run: file lists, the command line, classifications, change record lines.
#include <gmock/gmock.h>

#include <algorithm>
#include <random>
#include <ranges>
#include <set>
#include <span>

#include "engine/AutoRunList.h"
#include "engine/ChangeRecord.h"
#include "engine/Classify.h"
#include "engine/Merge.h"
#include "engine/SortedMatch.h"
#include "fileops/Format.h"
#include "fileops/KeptVersions.h"

namespace mirova {
namespace {

using Names = std::vector<std::string>;
constexpr std::uint32_t kSecond = 10'000'000;

// Lists of names in one line.
template <typename... Lists>
std::string Join(const Lists&... lists) {
    std::string text;
    ((text += "|",
      std::ranges::for_each(lists, [&](const auto& n) { text += std::string(n) + ","; })),
     ...);
    return text;
}

TEST(FileListTest, NamesStayInPlaceSortInPlainByteOrderAndTimesCompareWithTolerance) {
    NameStore store;
    std::vector<std::pair<const char*, std::string>> added;
    for (int i = 0; i < 40'000; ++i) {  // several 1 MiB blocks, and one name longer than a block
        const std::string name = std::to_string(i) + std::string(i % 90, 'x') +
                                 (i == 20'000 ? std::string(3 << 20, 'h') : "");
        added.emplace_back(store.Add(name), name);
    }
    for (const auto& [stored, expected] : added) {
        ASSERT_EQ(std::string(stored), expected);
    }
    // "/" after ".", capitals first, bytes above 0x7F after all ASCII.
    FileListPtr list = NewFileList(9);
    for (const char* name : {"a/b", "\xE3\x81\x82", "a.b", "a", "README", "B", "Readme", "a0"}) {
        list->entries[list->count++].name = list->names.Add(name);
    }
    SortFileList(*list);
    EXPECT_EQ(list->entries[list->count].name, nullptr);
    EXPECT_EQ(Join(std::span(list->entries, list->count) |
                   std::views::transform([](const FileEntry& e) { return e.name; })),
              "|B,README,Readme,a,a.b,a/b,a0,\xE3\x81\x82,");
    EXPECT_EQ(FindEntry(*list, "readme"), nullptr);
    EXPECT_EQ(FindEntry(*NewFileList(4), "a"), nullptr);
    // Times are equal within two seconds of equal high halves.
    constexpr std::uint32_t b = 1'000'000'000, m = 0xFFFFFFFFu, s2 = 2 * kSecond, h = s2 / 4;
    // low, high, low, high, order + 1; 1 s apart with a carry between them is still later.
    const std::uint32_t rows[][5] = {{b, 7, b, 7, 1},          {b + s2 - h, 7, b, 7, 1},
                                     {b, 7, b + s2 - 1, 7, 1}, {b + s2, 7, b, 7, 2},
                                     {b, 7, b + s2, 7, 0},     {m, 6, 0, 7, 0},
                                     {h, 8, m - h, 7, 2},      {m, 0, 0, 0, 2}};
    for (const auto& t : rows) {
        EXPECT_EQ(CompareFileTimes(t[0], t[1], t[2], t[3]), static_cast<int>(t[4]) - 1) << t[0];
    }
}

TEST(AutoRunListTest, ReadsTheOptionsAndTheListOfTheCommandLine) {
    std::string upTo29;
    std::vector<int> upTo30(30, 30);
    for (int n = 1; n <= 29; ++n) {
        upTo29 += std::to_string(n) + ",";
        upTo30[n - 1] = n;
    }
    // found: /D 2 + /A 1.
    const auto check = [](const Names& arguments, int found, const std::vector<int>& list) {
        RunState state;
        SCOPED_TRACE(::testing::PrintToString(arguments));
        EXPECT_EQ(ParseAutoRunArguments(arguments, state), found != 0);
        EXPECT_EQ(state.suppressDeletion * 2 + state.noStopOnError.load(), found);
        EXPECT_EQ(std::vector<int>(state.autoRunPresets, state.autoRunPresets + state.autoRunCount),
                  list);
    };
    check({}, 0, {});
    check({"/D"}, 2, {});
    check({"/D", "/A", "5"}, 3, {5});
    check({"/A"}, 1, {});
    check({"/a", "1", "/A ", "1"}, 0, {});  // the whole argument must match
    check({"/A", "1,,2,"}, 1, {1, 0, 2});
    check({"/A", "200"}, 1, {-56});  // the entry is a signed byte
    // A character not digit nor comma is never passed; the list is then read on its own too.
    check({"/A", "/D"}, 3, std::vector<int>(30, 0));
    // A second "/A" goes on after the first list and stops at the room of 30 entries.
    check({"/A", upTo29 + "30,31"}, 1, upTo30);
    check({"/A", upTo29, "/A", "30,41"}, 1, upTo30);
}

// Random names from bytes around "/" and above 0x7f; times and sizes about the 2 s tolerance.
FileListPtr RandomList(std::mt19937& rng, const Names& pool, int size) {
    FileListPtr list = NewFileList(size);
    for (int i = static_cast<int>(rng() % (size + 1)); i > 0; --i) {
        FileEntry& entry = list->entries[list->count++];
        entry.name = list->names.Add(pool[rng() % pool.size()]);
        entry.isFolder = static_cast<int>(rng() % 4 == 0);
        const std::uint64_t sizes[] = {0, 1, 2, 5ull << 30};
        entry.size = entry.isFolder ? 0 : sizes[rng() % 4];
        const std::uint32_t offsets[] = {0, 19 * kSecond / 10, 2 * kSecond, 4 * kSecond};
        entry.lastWriteLow = 2'000'000'000u + offsets[rng() % 4];
        entry.lastWriteHigh = 30'000'000u;
    }
    return list;
}

// The classification and the merge as written with a binary search per entry: the reference.
WorkLists ReferenceClassify(const FileList& source, const FileList& target, Names& older) {
    WorkLists work;
    for (int i = 0; i < source.count; ++i) {
        const FileEntry& s = source.entries[i];
        const FileEntry* t = FindEntry(target, s.name);
        t = t != nullptr && t->isFolder == s.isFolder ? t : nullptr;  // a file and a folder differ
        const int order = t != nullptr && !s.isFolder ? CompareFileTimes(s, *t) : 0;
        if (s.isFolder && t == nullptr) {
            work.createFolderList.push_back(s.name);
        } else if (!s.isFolder && (t == nullptr || order != 0 || s.size != t->size)) {
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

MergeLists ReferenceMerge(const FileList& source, const FileList& target) {
    MergeLists merge;
    std::set<const FileEntry*> matched;
    for (int i = 0; i < source.count; ++i) {
        const FileEntry& s = source.entries[i];
        const FileEntry* t = FindEntry(target, s.name);
        if (t == nullptr) {
            (s.isFolder ? merge.createInTarget : merge.copyToTarget).push_back(s.name);
            continue;
        }
        matched.insert(t);
        const int order = CompareFileTimes(s, *t);
        if (s.isFolder != t->isFolder) {
            merge.kindClashes.push_back(s.name);
        } else if (!s.isFolder && (order > 0 || (order == 0 && s.size > t->size))) {
            merge.copyToTarget.push_back(s.name);
        } else if (!s.isFolder && (order < 0 || (order == 0 && s.size < t->size))) {
            merge.copyToSource.push_back(s.name);
        }
    }
    for (int i = 0; i < target.count; ++i) {
        if (!matched.contains(target.entries + i)) {
            const FileEntry& t = target.entries[i];
            (t.isFolder ? merge.createInSource : merge.copyToSource).push_back(t.name);
        }
    }
    return merge;
}

TEST(SortedMatchTest, WalksGiveTheAnswersOfThePerEntrySearch) {
    for (unsigned seed = 1; seed <= 400; ++seed) {
        SCOPED_TRACE(seed);
        std::mt19937 rng(seed);
        const std::string alphabet = std::string("ab.-/A") + '\xff';
        Names pool(60);
        for (std::string& name : pool) {
            for (int i = 1 + static_cast<int>(rng() % 5); i > 0; --i) {
                name += alphabet[rng() % alphabet.size()];
            }
        }
        FileListPtr a = RandomList(rng, pool, 80), b = RandomList(rng, pool, 80);
        const bool sorted = seed % 4 != 0;
        if (sorted) {
            SortFileList(*a);
            SortFileList(*b);
        }
        ASSERT_TRUE(!sorted || (IsSortedList(*a) && IsSortedList(*b)));
        // Duplicate names (the random names repeat) must give the first.
        SortedMatcher matcher(*b, sorted);
        for (int i = 0; i < a->count; ++i) {
            ASSERT_EQ(matcher.Find(a->entries[i].name), FindEntry(*b, a->entries[i].name));
        }
        Names older, expectedOlder;
        const WorkLists work =
            ClassifyLists(*a, *b, [&](const char* name) { older.emplace_back(name); });
        const WorkLists want = ReferenceClassify(*a, *b, expectedOlder);
        EXPECT_EQ(Join(work.copyList, work.deleteFileList, work.deleteFolderList,
                       work.createFolderList, older),
                  Join(want.copyList, want.deleteFileList, want.deleteFolderList,
                       want.createFolderList, expectedOlder));
        EXPECT_EQ(std::tuple(work.changedCount, work.copyTotal, work.olderFound, work.empty()),
                  std::tuple(want.changedCount, want.copyTotal, want.olderFound,
                             Join(want.copyList, want.deleteFileList, want.deleteFolderList,
                                  want.createFolderList) == "||||"));
        EXPECT_EQ(ClassifyLists(*a, *b, nullptr).olderFound, want.olderFound);
        const MergeLists merge = ClassifyForMerge(*a, *b), model = ReferenceMerge(*a, *b);
        EXPECT_EQ(Join(merge.copyToTarget, merge.copyToSource, merge.createInTarget,
                       merge.createInSource, merge.kindClashes),
                  Join(model.copyToTarget, model.copyToSource, model.createInTarget,
                       model.createInSource, model.kindClashes));
    }
}

TEST(ChangeRecordLine, OneLinePerItemWhateverTheName) {
    // Valid UTF-8 stays; controls and bad sequences become \xHH byte by byte, and read back.
    const std::pair<std::string, bool> rows[] = {
        {"plain/名前.txt", true},    {"\xC2\x80\xDF\xBF", true},  {"\xE0\xA0\x80", true},
        {"\xED\x9F\xBF", true},      {"\xEE\x80\x80", true},      {"\xF0\x90\x80\x80", true},
        {"\xF4\x8F\xBF\xBF", true},  {"\xC1\xBF", false},         {"\xE0\x9F\xBF", false},
        {"\xED\xA0\x80", false},     {"\xED\xBF\xBF", false},     {"\xF0\x8F\xBF\xBF", false},
        {"\xF4\x90\x80\x80", false}, {"\xF5\x80\x80\x80", false}, {"\xE3\x81", false},
        {"\xC3\x41", false},         {"\x80\xFF", false},         {"\x01\x1F\x7F", false},
    };
    for (const auto& [name, text] : rows) {
        std::string escaped;
        for (const char c : name) {
            escaped += text || c == 'A' ? std::string(1, c) : Format("\\x%02X", c & 0xFF);
        }
        EXPECT_EQ(EscapeField(name), escaped) << escaped;
        EXPECT_EQ(UnescapeField(escaped), name) << escaped;
    }
    for (const std::string name : {"new\nline\\", "back\\\\x41slash", "tail\t"}) {
        ChangeItem item{ChangeAction::CopyChanged, ChangeSide::Target,    name,
                        {true, 5, 1700000000},     {true, 9, 1700000100}, ""};
        ChangeItem back;
        ASSERT_TRUE(ParseItemLine(ItemLine(item), back)) << ItemLine(item);
        EXPECT_EQ(ItemLine(item).find('\n'), std::string::npos);
        EXPECT_EQ(back.path + std::to_string(back.before.size) + std::to_string(back.after.mtime),
                  name + "51700000100");
        item.before = ItemState{};
        ASSERT_TRUE(ParseItemLine(ItemLine(item), back)) << ItemLine(item);
        EXPECT_FALSE(back.before.exists);
    }
    const ChangeItem failure{ChangeAction::Failed, ChangeSide::Target, "", {}, {}, "x\n(reason)"};
    EXPECT_EQ(ItemLine(failure), "failed\ttarget\t-\tx\\x0A(reason)");
    ChangeItem back;
    for (const char* bad :
         {"# run: sync", "copy-new\ttarget\ta\t1", "copy-new\ttarget\ta\t-\t-\tx\t1",
          "copy-new\ttarget\ta\t-\t-\t1\t2023-11-14 22:13:20x",
          "copy-new\ttarget\ta\t-\t-\t1\tyesterday"}) {
        EXPECT_FALSE(ParseItemLine(bad, back)) << bad;
    }
}

TEST(VersionStampName, ReadsBackWhatItWrites) {
    platform::LocalTime read;
    ASSERT_TRUE(ParseVersionStampName("2026-01-02 030405", read));
    EXPECT_EQ(VersionStampName(read), "2026-01-02 030405");
    for (const char* other : {"2026-01-02 03040", "2026-01-02_030405", "2026-13-02 030405",
                              "2026-01-02 030405 ", "x026-01-02 030405"}) {
        EXPECT_FALSE(ParseVersionStampName(other, read)) << other;
    }
}

}  // namespace
}  // namespace mirova
