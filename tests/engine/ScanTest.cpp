#include "engine/Scan.h"

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "ScriptedMessages.h"
#include "TempDir.h"
#include "platform/FileTime.h"

namespace mirova {
namespace {

using test::ScopedUnprivileged;
using test::ScriptedMessages;
using test::TempDir;

// A scripted message box that runs a step of the test (restoring permissions, toggling a
// switch) just before it answers.
class HookedMessages : public ScriptedMessages {
public:
    std::function<void()> beforeAnswer;
    int DoMessageBox(const std::string& text, int style) override {
        if (beforeAnswer) {
            beforeAnswer();
        }
        return ScriptedMessages::DoMessageBox(text, style);
    }
};

// Records every path it is asked about; the rule decides, and may act on the tree.
class FakeExclusions : public ExclusionTest {
public:
    std::function<bool(std::string_view)> rule;
    mutable std::vector<std::string> seen;
    bool IsExcluded(std::string_view fullPath) const override {
        seen.emplace_back(fullPath);
        return rule ? rule(fullPath) : false;
    }
};

std::string CannotOpenText(const std::string& folder) {
    return ".\\MirovaDlg:522 - ﾌｫﾙﾀﾞ「" + folder + "」が開けません";
}
constexpr char kOverflowText[] = "ﾌｧｲﾙﾘｽﾄがｵｰﾊﾞｰﾌﾛｰしました";

std::size_t CountOf(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos;
         at = text.find(part, at + part.size())) {
        ++count;
    }
    return count;
}

class ScanTest : public ::testing::Test {
protected:
    TempDir dir;
    RunState state;
    HookedMessages messages;
    FakeExclusions exclusions;
    ScanContext context{state, messages};

    void UseHook(std::function<bool(std::string_view)> rule) {
        state.useExclusions = 1;
        state.exclusions = &exclusions;
        exclusions.rule = std::move(rule);
    }

    BuiltList Scan(const std::string& folder, int capacity = 1000) {
        return BuildFileList(folder, context, capacity);
    }

    // Names in scan order.
    static std::vector<std::string> Names(const FileList& list) {
        std::vector<std::string> names;
        for (int i = 0; i < list.count; ++i) {
            names.emplace_back(list.entries[i].name);
        }
        return names;
    }
    static std::vector<std::string> SortedNames(FileList& list) {
        SortFileList(list);
        return Names(list);
    }
    static const FileEntry* Entry(const FileList& list, const std::string& name) {
        for (int i = 0; i < list.count; ++i) {
            if (name == list.entries[i].name) {
                return &list.entries[i];
            }
        }
        return nullptr;
    }
    std::vector<std::string> BoxTexts() const {
        std::vector<std::string> texts;
        for (const auto& request : messages.requests()) {
            texts.push_back(request.text);
        }
        return texts;
    }
};

TEST_F(ScanTest, ListsEveryItemDepthFirstWithRelativeNamesAndAttributes) {
    dir.createFile("tree/a/x.txt", "hello", 1'600'000'000, 123'400);
    dir.createFile("tree/a/b/y", "");
    dir.createFile("tree/a/b/c/z", "z");
    dir.createFile("tree/.hidden", "h");
    dir.createFile("tree/top", "0123456789");
    dir.createFolder("tree/empty");
    const std::string root = dir / "tree";
    BuiltList built = Scan(root);
    ASSERT_EQ(built.completed, 1);
    FileList& list = *built.list;
    EXPECT_EQ(list.root, root);

    // Pre-order: every folder's entry comes right before one contiguous run of its contents.
    const std::vector<std::string> order = Names(list);
    for (std::size_t i = 0; i < order.size(); ++i) {
        if (!list.entries[i].isFolder) {
            continue;
        }
        const std::string prefix = order[i] + "/";
        std::size_t j = i + 1;
        while (j < order.size() && order[j].starts_with(prefix)) {
            ++j;
        }
        for (std::size_t k = j; k < order.size(); ++k) {
            EXPECT_FALSE(order[k].starts_with(prefix)) << order[k] << " is apart from " << order[i];
        }
        for (std::size_t k = 0; k < i; ++k) {
            EXPECT_FALSE(order[k].starts_with(prefix)) << order[k] << " precedes " << order[i];
        }
    }

    EXPECT_EQ(SortedNames(list),
              (std::vector<std::string>{".hidden", "a", "a/b", "a/b/c", "a/b/c/z", "a/b/y",
                                        "a/x.txt", "empty", "top"}));
    const FileEntry* file = FindEntry(list, "a/x.txt");
    ASSERT_NE(file, nullptr);
    const platform::FileTime expected = platform::FileTimeFromTimespec({1'600'000'000, 123'400});
    EXPECT_EQ(file->lastWriteLow, expected.low);
    EXPECT_EQ(file->lastWriteHigh, expected.high);
    EXPECT_EQ(file->size, 5u);
    EXPECT_EQ(file->isFolder, 0);
    EXPECT_EQ(file->matched, 0);
    EXPECT_EQ(FindEntry(list, "top")->size, 10u);
    EXPECT_EQ(FindEntry(list, "a/b")->isFolder, 1);
    EXPECT_EQ(FindEntry(list, "a/b")->size, 0u);
    EXPECT_TRUE(messages.requests().empty());
    EXPECT_EQ(dir.readLog(), "");
}

TEST_F(ScanTest, RootWithOrWithoutTrailingSlashGivesTheSameNames) {
    dir.createFile("tree/sub/a.txt");
    dir.createFile("tree/b");
    BuiltList plain = Scan(dir / "tree");
    BuiltList slashed = Scan(dir / "tree/");
    ASSERT_EQ(plain.completed, 1);
    ASSERT_EQ(slashed.completed, 1);
    EXPECT_EQ(slashed.list->root, dir / "tree");
    EXPECT_EQ(SortedNames(*plain.list), SortedNames(*slashed.list));
    EXPECT_EQ(SortedNames(*slashed.list), (std::vector<std::string>{"b", "sub", "sub/a.txt"}));
}

TEST_F(ScanTest, SystemRootStripsToEmptyAndBuildsSingleSlashPaths) {
    // "/" strips to "", the full paths are "" + "/" + name and the names carry no leading
    // separator. A one-slot list stops the walk after the first item or two, so the real
    // file system is only touched, not scanned.
    UseHook([](std::string_view) { return false; });
    state.noStopOnError = 1;
    BuiltList built = Scan("/", 1);
    EXPECT_EQ(built.list->root, "");
    ASSERT_EQ(built.list->count, 1);
    const std::string name = built.list->entries[0].name;
    ASSERT_FALSE(name.empty());
    EXPECT_NE(name[0], '/');
    struct stat st;
    EXPECT_EQ(::lstat(("/" + name).c_str(), &st), 0) << name;
    ASSERT_FALSE(exclusions.seen.empty());
    EXPECT_EQ(exclusions.seen[0], "/" + name);
    EXPECT_TRUE(messages.requests().empty());
}

TEST_F(ScanTest, SkipsFolderInfFilesAndSystemItems) {
    dir.createFile("tree/.FolderInf", "settings");
    dir.createFile("tree/sub/.FolderInf", "settings");
    dir.createFile("tree/.folderinf", "other case");
    dir.createFile("tree/.FolderInf.bak");
    dir.createFile("tree/kept/.FolderInf/inside");  // a folder of that name is data
    ASSERT_EQ(::mkfifo((dir / "tree/pipe").c_str(), 0600), 0);
    BuiltList built = Scan(dir / "tree");
    ASSERT_EQ(built.completed, 1);
    EXPECT_EQ(SortedNames(*built.list),
              (std::vector<std::string>{".FolderInf.bak", ".folderinf", "kept", "kept/.FolderInf",
                                        "kept/.FolderInf/inside", "sub"}));
}

TEST_F(ScanTest, LinksAreListedAsFilesAndNeverFollowed) {
    dir.createFile("tree/real/inner.txt", "x");
    dir.createFile("outside/secret.txt", "s");
    ASSERT_EQ(::symlink("real", (dir / "tree/to-folder").c_str()), 0);
    ASSERT_EQ(::symlink((dir / "outside").c_str(), (dir / "tree/to-outside").c_str()), 0);
    ASSERT_EQ(::symlink("real/inner.txt", (dir / "tree/to-file").c_str()), 0);
    ASSERT_EQ(::symlink("nowhere", (dir / "tree/dangling").c_str()), 0);
    test::SetModificationTime(dir / "tree/to-file", 1'500'000'000);
    BuiltList built = Scan(dir / "tree");
    ASSERT_EQ(built.completed, 1);
    FileList& list = *built.list;
    EXPECT_EQ(SortedNames(list), (std::vector<std::string>{"dangling", "real", "real/inner.txt",
                                                           "to-file", "to-folder", "to-outside"}));
    const FileEntry* link = FindEntry(list, "to-file");
    EXPECT_EQ(link->isFolder, 0);
    EXPECT_EQ(link->size, std::string("real/inner.txt").size());  // the link's own size
    const platform::FileTime linkTime = platform::FileTimeFromTimespec({1'500'000'000, 0});
    EXPECT_EQ(link->lastWriteLow, linkTime.low);
    EXPECT_EQ(link->lastWriteHigh, linkTime.high);
    EXPECT_EQ(FindEntry(list, "to-folder")->isFolder, 0);
}

TEST_F(ScanTest, RootThatIsALinkToAFolderIsFollowed) {
    dir.createFile("real/a");
    ASSERT_EQ(::symlink((dir / "real").c_str(), (dir / "link").c_str()), 0);
    BuiltList built = Scan(dir / "link");
    ASSERT_EQ(built.completed, 1);
    EXPECT_EQ(built.list->root, dir / "link");
    EXPECT_EQ(SortedNames(*built.list), (std::vector<std::string>{"a"}));
}

TEST_F(ScanTest, MissingRootFailsTheScanWithoutAsking) {
    // An unreadable root would otherwise give an empty, complete list, and a synchronisation
    // from it would delete the whole target.
    for (const std::string& root : {dir / "missing", dir / "missing/", std::string()}) {
        BuiltList built = Scan(root);
        EXPECT_EQ(built.completed, 0) << root;
        ASSERT_NE(built.list, nullptr);
        EXPECT_EQ(built.list->count, 0);
    }
    dir.createFile("plain-file");
    EXPECT_EQ(Scan(dir / "plain-file").completed, 0);
    EXPECT_TRUE(messages.requests().empty());
    const std::string log = dir.readLog();
    EXPECT_EQ(CountOf(log, CannotOpenText(dir / "missing") + "\n"), 2u);
    EXPECT_EQ(CountOf(log, CannotOpenText(dir / "plain-file")), 1u);
}

TEST_F(ScanTest, UnreadableRootFailsUnlessRetrySucceeds) {
    const ScopedUnprivileged unprivileged(dir);
    dir.createFile("tree/a");
    const std::string root = dir / "tree";
    ASSERT_EQ(::chmod(root.c_str(), 0), 0);
    messages.Answer(kIdIgnore);
    EXPECT_EQ(Scan(root).completed, 0);
    messages.Answer(kIdAbort);
    EXPECT_EQ(Scan(root).completed, 0);

    messages.beforeAnswer = [&] { ::chmod(root.c_str(), 0755); };
    messages.Answer(kIdRetry);
    BuiltList built = Scan(root);
    EXPECT_EQ(built.completed, 1);
    EXPECT_EQ(Names(*built.list), (std::vector<std::string>{"a"}));
    ASSERT_EQ(messages.requests().size(), 3u);
    EXPECT_EQ(messages.requests()[0].text, CannotOpenText(root));
    EXPECT_EQ(messages.requests()[0].style, kMbAbortRetryIgnore);
    EXPECT_EQ(CountOf(dir.readLog(), CannotOpenText(root)), 3u);
}

class UnreadableSubfolderTest : public ScanTest {
protected:
    void SetUp() override {
        unprivileged.emplace(dir);
        dir.createFile("tree/locked/hidden.txt");
        dir.createFile("tree/open/visible.txt");
        dir.createFile("tree/z");
        locked = dir / "tree/locked";
        ASSERT_EQ(::chmod(locked.c_str(), 0), 0);
    }
    void TearDown() override { unprivileged.reset(); }
    std::optional<ScopedUnprivileged> unprivileged;
    std::string locked;
};

TEST_F(UnreadableSubfolderTest, AsksAbortRetryIgnoreAndPassesTheFolderOver) {
    for (int answer : {kIdIgnore, kIdAbort}) {
        messages.Answer(answer);
        BuiltList built = Scan(dir / "tree");
        EXPECT_EQ(built.completed, 1) << answer;
        // The folder itself is listed; nothing of its contents is.
        EXPECT_EQ(SortedNames(*built.list),
                  (std::vector<std::string>{"locked", "open", "open/visible.txt", "z"}));
    }
    ASSERT_EQ(messages.requests().size(), 2u);
    EXPECT_EQ(messages.requests()[0].text, CannotOpenText(locked));
    EXPECT_EQ(messages.requests()[0].style, kMbAbortRetryIgnore);
    EXPECT_EQ(messages.unscripted(), 0u);
    const std::string log = dir.readLog();
    EXPECT_EQ(CountOf(log, CannotOpenText(locked)), 2u);
    EXPECT_NE(log.find(": " + CannotOpenText(locked) + "\n"), std::string::npos) << log;
}

TEST_F(UnreadableSubfolderTest, QuietRunLogsOnceAndCompletes) {
    state.noStopOnError = 1;
    BuiltList built = Scan(dir / "tree");
    EXPECT_EQ(built.completed, 1);
    EXPECT_EQ(built.list->count, 4);
    EXPECT_TRUE(messages.requests().empty());
    EXPECT_EQ(CountOf(dir.readLog(), CannotOpenText(locked)), 1u);
}

TEST_F(UnreadableSubfolderTest, RetryThatSucceedsListsTheFolderOnce) {
    messages.beforeAnswer = [&] { ::chmod(locked.c_str(), 0755); };
    messages.Answer(kIdRetry);
    BuiltList built = Scan(dir / "tree");
    EXPECT_EQ(built.completed, 1);
    EXPECT_EQ(
        SortedNames(*built.list),
        (std::vector<std::string>{"locked", "locked/hidden.txt", "open", "open/visible.txt", "z"}));
    EXPECT_EQ(messages.requests().size(), 1u);
    EXPECT_EQ(CountOf(dir.readLog(), CannotOpenText(locked)), 1u);
}

TEST_F(UnreadableSubfolderTest, SwitchToQuietDuringTheScanTakesEffectAtTheNextError) {
    dir.createFile("tree/locked2/f");
    ASSERT_EQ(::chmod((dir / "tree/locked2").c_str(), 0), 0);
    messages.beforeAnswer = [&] { state.noStopOnError = 1; };
    messages.Answer(kIdIgnore);
    BuiltList built = Scan(dir / "tree");
    EXPECT_EQ(built.completed, 1);
    EXPECT_EQ(messages.requests().size(), 1u);
    const std::string log = dir.readLog();
    EXPECT_EQ(CountOf(log, CannotOpenText(locked)), 1u);
    EXPECT_EQ(CountOf(log, CannotOpenText(dir / "tree/locked2")), 1u);
}

TEST_F(ScanTest, ReadErrorMidListingIsRolledBackBeforeRetry) {
    const ScopedUnprivileged unprivileged(dir);
    // Two subfolders, so that whichever comes first is followed by another item of x: taking
    // the search right from x while the first one is listed makes the next item of x unreadable.
    dir.createFile("tree/x/s1/f");
    dir.createFile("tree/x/s2/f");
    const std::string x = dir / "tree/x";
    bool broken = false;
    UseHook([&](std::string_view path) {
        if (!broken && path.ends_with("/f")) {
            broken = true;
            ::chmod(x.c_str(), 0400);
        }
        return false;
    });
    messages.beforeAnswer = [&] { ::chmod(x.c_str(), 0755); };
    messages.Answer(kIdRetry);
    BuiltList built = Scan(dir / "tree");
    EXPECT_EQ(built.completed, 1);
    EXPECT_EQ(SortedNames(*built.list),
              (std::vector<std::string>{"x", "x/s1", "x/s1/f", "x/s2", "x/s2/f"}));
    ASSERT_EQ(messages.requests().size(), 1u);
    EXPECT_EQ(messages.requests()[0].text, CannotOpenText(x));
    // Slots given back by the roll-back are empty again.
    EXPECT_EQ(built.list->entries[built.list->count].name, nullptr);
}

TEST_F(ScanTest, ReadErrorWithIgnoreDropsWhatTheFolderGaveSoFar) {
    const ScopedUnprivileged unprivileged(dir);
    dir.createFile("tree/x/s1/f");
    dir.createFile("tree/x/s2/f");
    dir.createFile("tree/y");
    const std::string x = dir / "tree/x";
    UseHook([&](std::string_view path) {
        if (path.ends_with("/f")) {
            ::chmod(x.c_str(), 0400);
        }
        return false;
    });
    messages.Answer(kIdIgnore);
    BuiltList built = Scan(dir / "tree");
    EXPECT_EQ(built.completed, 1);
    EXPECT_EQ(SortedNames(*built.list), (std::vector<std::string>{"x", "y"}));
}

TEST_F(ScanTest, FolderThatVanishesIsLoggedWithoutAsking) {
    dir.createFolder("tree/gone");
    dir.createFile("tree/stays");
    const std::string gone = dir / "tree/gone";
    UseHook([&](std::string_view path) {
        if (path == gone) {
            ::rmdir(gone.c_str());
        }
        return false;
    });
    BuiltList built = Scan(dir / "tree");
    EXPECT_EQ(built.completed, 1);
    EXPECT_EQ(SortedNames(*built.list), (std::vector<std::string>{"gone", "stays"}));
    EXPECT_TRUE(messages.requests().empty());
    EXPECT_EQ(CountOf(dir.readLog(), CannotOpenText(gone)), 1u);
}

TEST_F(ScanTest, ExclusionsSeeFullPathsAndExcludedFoldersAreStillSearched) {
    dir.createFile("tree/old.bak/keep.txt");
    dir.createFile("tree/old.bak/drop.bak");
    dir.createFile("tree/note.bak");
    dir.createFile("tree/note.txt");
    const std::string root = dir / "tree/";
    UseHook([](std::string_view path) { return path.ends_with(".bak"); });
    BuiltList built = Scan(root);
    ASSERT_EQ(built.completed, 1);
    EXPECT_EQ(SortedNames(*built.list), (std::vector<std::string>{"note.txt", "old.bak/keep.txt"}));
    std::sort(exclusions.seen.begin(), exclusions.seen.end());
    EXPECT_EQ(exclusions.seen,
              (std::vector<std::string>{dir / "tree/note.bak", dir / "tree/note.txt",
                                        dir / "tree/old.bak", dir / "tree/old.bak/drop.bak",
                                        dir / "tree/old.bak/keep.txt"}));

    // With the switch off, the lists are not consulted.
    exclusions.seen.clear();
    state.useExclusions = 0;
    EXPECT_EQ(Scan(root).list->count, 5);
    EXPECT_TRUE(exclusions.seen.empty());
}

class OverflowTest : public ScanTest {
protected:
    void SetUp() override {
        dir.createFile("tree/a/1");
        dir.createFile("tree/a/2");
        dir.createFile("tree/b");
        dir.createFolder("tree/c");  // five items
    }
};

TEST_F(OverflowTest, ExactlyCapacityItemsComplete) {
    BuiltList built = Scan(dir / "tree", 5);
    EXPECT_EQ(built.completed, 1);
    EXPECT_EQ(built.list->count, 5);
    EXPECT_TRUE(messages.requests().empty());
}

TEST_F(OverflowTest, OneItemMoreFailsWithTheOverflowText) {
    dir.createFile("tree/a/3");
    BuiltList built = Scan(dir / "tree", 5);
    EXPECT_EQ(built.completed, 0);
    EXPECT_EQ(built.list->count, 5);
    ASSERT_EQ(messages.requests().size(), 1u);
    EXPECT_EQ(messages.requests()[0].text, kOverflowText);
    EXPECT_EQ(messages.requests()[0].style, kMbOk);
    EXPECT_EQ(CountOf(dir.readLog(), kOverflowText), 1u);

    state.noStopOnError = 1;
    EXPECT_EQ(Scan(dir / "tree", 5).completed, 0);
    EXPECT_EQ(messages.requests().size(), 1u);
    EXPECT_EQ(CountOf(dir.readLog(), kOverflowText), 2u);
}

TEST_F(ScanTest, FullSizeListHoldsExactlyOneMillionItems) {
    FileListPtr full = NewFileList();
    FileList& list = *full;
    ASSERT_EQ(list.capacity, kFileListCapacity);
    const std::string root = dir.path();
    std::string path = root + "/";
    for (int i = 0; i < kFileListCapacity; ++i) {
        path.resize(root.size() + 1);
        path += std::to_string(i);
        ASSERT_EQ(AddFileEntry(list, path, root.size() + 1, 0, 1, 2, 3, context), 1) << i;
    }
    EXPECT_EQ(AddFileEntry(list, root + "/one-more", root.size() + 1, 0, 1, 2, 3, context), 0);
    EXPECT_EQ(list.count, kFileListCapacity);
    EXPECT_STREQ(list.entries[kFileListCapacity - 1].name, "999999");
    EXPECT_EQ(list.entries[kFileListCapacity - 1].size, 3u);
    ASSERT_EQ(messages.requests().size(), 1u);
    EXPECT_EQ(messages.requests()[0].text, kOverflowText);
}

// Builds a chain of folders whose full path is longer than the plain calls accept, working
// relative to each folder in turn; removes it the same way.
class DeepTree {
public:
    DeepTree(const std::string& base, int levels, const std::string& component) : base_(base) {
        int fd = ::open(base.c_str(), O_RDONLY | O_DIRECTORY);
        for (int level = 0; level < levels && fd >= 0; ++level) {
            const std::string name = component + std::to_string(level);
            ::mkdirat(fd, name.c_str(), 0755);
            if (level % 5 == 4) {
                ::close(::openat(fd, ("file" + std::to_string(level)).c_str(), O_CREAT | O_WRONLY,
                                 0644));
            }
            const int next = ::openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY);
            ::close(fd);
            fd = next;
        }
        if (fd >= 0) {
            ::close(::openat(fd, "leaf.txt", O_CREAT | O_WRONLY, 0644));
            ::close(fd);
        }
    }
    ~DeepTree() {
        const int fd = ::open(base_.c_str(), O_RDONLY | O_DIRECTORY);
        RemoveContents(fd);
        ::close(fd);
    }

private:
    static void RemoveContents(int fd) {
        DIR* stream = ::fdopendir(::dup(fd));
        std::vector<std::pair<std::string, bool>> items;
        while (const dirent* entry = ::readdir(stream)) {
            const std::string name = entry->d_name;
            if (name != "." && name != "..") {
                items.emplace_back(name, entry->d_type == DT_DIR);
            }
        }
        ::closedir(stream);
        for (const auto& [name, isFolder] : items) {
            if (isFolder) {
                const int child = ::openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY);
                RemoveContents(child);
                ::close(child);
            }
            ::unlinkat(fd, name.c_str(), isFolder ? AT_REMOVEDIR : 0);
        }
    }
    std::string base_;
};

TEST_F(ScanTest, PathsLongerThanPathMaxAreScannedCompletely) {
    constexpr int kLevels = 24;
    const std::string component(200, 'd');
    dir.createFolder("tree");
    DeepTree deep(dir / "tree", kLevels, component);
    BuiltList built = Scan(dir / "tree");
    ASSERT_EQ(built.completed, 1);
    EXPECT_TRUE(messages.requests().empty());
    // Every level's folder, a file every fifth level, and the leaf.
    EXPECT_EQ(built.list->count, kLevels + kLevels / 5 + 1);
    std::string deepest;
    for (int level = 0; level < kLevels; ++level) {
        deepest += (level ? "/" : "") + component + std::to_string(level);
    }
    deepest += "/leaf.txt";
    ASSERT_GT(dir.path().size() + deepest.size(), static_cast<std::size_t>(PATH_MAX));
    SortFileList(*built.list);
    EXPECT_NE(FindEntry(*built.list, deepest.c_str()), nullptr);
}

TEST_F(ScanTest, WorkerHandsOverTheListAndReportsTheOutcome) {
    dir.createFile("tree/a");
    ScanJob job;
    job.folder = dir / "tree";
    std::vector<bool> reports;
    EXPECT_EQ(ScanWorker(job, context, 10, [&](bool failed) { reports.push_back(failed); }), 0);
    ASSERT_NE(job.list, nullptr);
    EXPECT_EQ(job.list->count, 1);
    EXPECT_EQ(job.list->capacity, 10);

    ScanJob missing;
    missing.folder = dir / "nothing-here";
    ScanWorker(missing, context, 10, [&](bool failed) { reports.push_back(failed); });
    ASSERT_NE(missing.list, nullptr);
    EXPECT_EQ(reports, (std::vector<bool>{false, true}));
}

}  // namespace
}  // namespace mirova
