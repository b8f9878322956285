#include "engine/Scan.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "ScriptedMessages.h"
#include "TempDir.h"
#include "fileops/RunLog.h"
#include "platform/FileSystem.h"

namespace mirova {
namespace {

using test::ScopedUnprivileged;
using test::TempDir;
using Names = std::vector<std::string>;

// A scripted message box that runs a step of the test (restoring permissions, toggling a
// switch) just before it answers.
class HookedMessages : public test::ScriptedMessages {
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
        return rule && rule(fullPath);
    }
};

std::string CannotOpenText(const std::string& folder) {
    return ".\\MirovaDlg:522 - ﾌｫﾙﾀﾞ「" + folder + "」が開けません";
}
constexpr char kOverflowText[] = "ﾌｧｲﾙﾘｽﾄがｵｰﾊﾞｰﾌﾛｰしました";

std::size_t CountOf(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
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

    ~ScanTest() override { ::unsetenv("MIROVA_SCAN_THREADS"); }
    // The tree is changed from inside the walk (an exclusion test or a box), in step with it:
    // the read-ahead of a parallel scan would already have read the folder that is changed,
    // which no change from outside can count on. These cases hold the single-threaded scan to
    // its steps.
    static void SingleThreaded() { ::setenv("MIROVA_SCAN_THREADS", "1", 1); }

    // Creates empty files, or folders for paths that end in "/".
    void Make(std::initializer_list<std::string_view> paths) {
        for (std::string_view path : paths) {
            path.ends_with('/') ? dir.createFolder(path) : dir.createFile(path);
        }
    }
    void UseHook(std::function<bool(std::string_view)> rule) {
        state.useExclusions = 1;
        state.exclusions = &exclusions;
        exclusions.rule = std::move(rule);
    }
    BuiltList Scan(const std::string& folder, int capacity = 1000) {
        return BuildFileList(folder, context, capacity);
    }
    static Names InScanOrder(const FileList& list) {
        Names names;
        for (int i = 0; i < list.count; ++i) {
            names.emplace_back(list.entries[i].name);
        }
        return names;
    }
    static platform::FileTime WrittenAt(const FileEntry& entry) {
        return {entry.lastWriteLow, entry.lastWriteHigh};
    }
    static Names Sorted(FileList& list) {
        SortFileList(list);
        return InScanOrder(list);
    }
};

TEST_F(ScanTest, ListsEveryItemDepthFirstByteOrderedWithAttributes) {
    Make({"tree/a/b/c/z", "tree/a/.FolderInf", "tree/.FolderInf", "tree/.FolderInf.bak",
          "tree/.folderinf", "tree/kept/.FolderInf/inside", "tree/B", "tree/\xC3\xA9",
          "tree/empty/"});
    dir.createFile("tree/a/x.txt", "hello", 1'600'000'000, 123'400);
    dir.createFile("tree/b", "0123456789");
    ASSERT_EQ(::mkfifo((dir / "tree/pipe").c_str(), 0600), 0);
    // Links are listed as files with their own attributes and never followed.
    ASSERT_EQ(::symlink("a", (dir / "tree/to-a").c_str()), 0);
    ASSERT_EQ(::symlink("a/x.txt", (dir / "tree/to-x").c_str()), 0);
    ASSERT_EQ(::symlink("nowhere", (dir / "tree/dangling").c_str()), 0);
    test::SetModificationTime(dir / "tree/to-x", 1'500'000'000);
    const std::string root = dir / "tree";
    BuiltList built = Scan(root);
    ASSERT_EQ(built.completed, 1);
    FileList& list = *built.list;
    EXPECT_EQ(list.root, root);

    // A folder comes right before its contents: each item's parent is the item just before it
    // or one of that item's ancestors.
    const Names order = InScanOrder(list);
    for (std::size_t i = 0; i < order.size(); ++i) {
        const std::size_t slash = order[i].rfind('/');
        if (slash != std::string::npos) {
            EXPECT_TRUE(i > 0 && (order[i - 1] + "/").starts_with(order[i].substr(0, slash + 1)))
                << order[i];
        }
    }
    EXPECT_EQ(Sorted(list),
              (Names{".FolderInf.bak", ".folderinf", "B", "a", "a/b", "a/b/c", "a/b/c/z", "a/x.txt",
                     "b", "dangling", "empty", "kept", "kept/.FolderInf", "kept/.FolderInf/inside",
                     "to-a", "to-x", "\xC3\xA9"}));
    const FileEntry* file = FindEntry(list, "a/x.txt");
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(WrittenAt(*file), platform::FileTimeFromTimespec({1'600'000'000, 123'400}));
    EXPECT_EQ(file->size, 5u);
    EXPECT_EQ(file->isFolder, 0);
    EXPECT_EQ(FindEntry(list, "b")->size, 10u);
    EXPECT_EQ(FindEntry(list, "a/b")->isFolder, 1);
    EXPECT_EQ(FindEntry(list, "a/b")->size, 0u);
    const FileEntry* link = FindEntry(list, "to-x");
    EXPECT_EQ(link->size, 7u);  // the length of the text it holds
    EXPECT_EQ(WrittenAt(*link), platform::FileTimeFromTimespec({1'500'000'000, 0}));
    EXPECT_EQ(FindEntry(list, "to-a")->isFolder, 0);

    // A trailing "/" changes nothing; a root that is a link is followed.
    BuiltList slashed = Scan(root + "/");
    EXPECT_EQ(slashed.list->root, root);
    EXPECT_EQ(Sorted(*slashed.list), InScanOrder(list));
    BuiltList viaLink = Scan(dir / "tree/to-a");
    EXPECT_EQ(viaLink.completed, 1);
    EXPECT_EQ(Sorted(*viaLink.list), (Names{"b", "b/c", "b/c/z", "x.txt"}));
    EXPECT_TRUE(messages.requests().empty());
    EXPECT_EQ(dir.readLog(), "");

    // The system root strips to "" and still gives single-slash paths. A one-slot list stops
    // the walk at once: the real file system is only touched.
    UseHook([](std::string_view) { return false; });
    state.noStopOnError = 1;
    BuiltList system = Scan("/", 1);
    EXPECT_EQ(system.list->root, "");
    ASSERT_EQ(system.list->count, 1);
    const std::string name = system.list->entries[0].name;
    ASSERT_FALSE(name.empty() || name[0] == '/') << name;
    EXPECT_TRUE(platform::Exists("/" + name)) << name;
    ASSERT_FALSE(exclusions.seen.empty());
    EXPECT_EQ(exclusions.seen[0], "/" + name);
}

TEST_F(ScanTest, UnreadableFolderIsAskedAboutOnceOrLoggedOnce) {
    const ScopedUnprivileged unprivileged(dir);
    Make({"tree/locked/hidden.txt", "tree/open/visible.txt"});
    const std::string root = dir / "tree";
    const std::string locked = dir / "tree/locked";
    const Names all{"locked", "locked/hidden.txt", "open", "open/visible.txt"};
    // A root that cannot be read fails the scan: an empty, complete list would make the
    // synchronisation delete the whole target. The box makes the folder readable, so that only
    // a Retry may read it again; 0 stands for a quiet run, which asks nothing.
    for (const std::string& folder : {locked, root}) {
        for (int answer : {kIdIgnore, kIdAbort, 0, kIdRetry}) {
            SCOPED_TRACE(folder + " " + std::to_string(answer));
            ASSERT_EQ(::chmod(folder.c_str(), 0), 0);
            messages.beforeAnswer = [&] { ::chmod(folder.c_str(), 0755); };
            state.noStopOnError = answer == 0 ? 1 : 0;
            if (answer != 0) {
                messages.Answer(answer);
            }
            const std::string text = CannotOpenText(folder);
            const std::size_t boxesBefore = messages.requests().size();
            const std::size_t linesBefore = CountOf(dir.readLog(), ": " + text + "\n");
            BuiltList built = Scan(root);
            // Passed over, a folder is listed without its contents; an unread root lists nothing.
            Names expected = all;
            if (answer != kIdRetry) {
                expected = folder == root ? Names{} : Names{"locked", "open", "open/visible.txt"};
            }
            EXPECT_EQ(built.completed, expected.empty() ? 0 : 1);
            EXPECT_EQ(Sorted(*built.list), expected);
            EXPECT_EQ(CountOf(dir.readLog(), ": " + text + "\n") - linesBefore, 1u);
            ASSERT_EQ(messages.requests().size() - boxesBefore, answer == 0 ? 0u : 1u);
            if (answer != 0) {
                EXPECT_EQ(messages.requests().back().text, text);
                EXPECT_EQ(messages.requests().back().style, kMbAbortRetryIgnore);
            }
            ::chmod(folder.c_str(), 0755);
        }
    }
    EXPECT_EQ(messages.unscripted(), 0u);
}

TEST_F(ScanTest, ReadErrorMidListingIsRolledBack) {
    SingleThreaded();
    const ScopedUnprivileged unprivileged(dir);
    // Two subfolders, so that whichever comes first is followed by another item of x: taking
    // the search right from x while the first one is listed makes the next item of x unreadable.
    Make({"tree/x/s1/f", "tree/x/s2/f", "tree/y"});
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
    // Retry lists the folder whole once; Ignore leaves nothing of it.
    for (int answer : {kIdRetry, kIdIgnore}) {
        broken = false;
        messages.Answer(answer);
        BuiltList built = Scan(dir / "tree");
        EXPECT_EQ(built.completed, 1);
        EXPECT_EQ(built.list->entries[built.list->count].name, nullptr);  // given back empty
        EXPECT_EQ(Sorted(*built.list),
                  (answer == kIdRetry ? Names{"x", "x/s1", "x/s1/f", "x/s2", "x/s2/f", "y"}
                                      : Names{"x", "y"}));
    }
    ASSERT_EQ(messages.requests().size(), 2u);
    EXPECT_EQ(messages.requests()[0].text, CannotOpenText(x));
}

TEST_F(ScanTest, FolderThatIsNotThereIsLoggedWithoutAsking) {
    SingleThreaded();
    Make({"tree/gone/", "tree/stays"});
    const std::string gone = dir / "tree/gone";
    UseHook([&](std::string_view path) {
        if (path == gone) {
            ::rmdir(gone.c_str());
        }
        return false;
    });
    // A missing root fails the scan; a subfolder that vanishes during the scan is passed over.
    std::vector<bool> failures;
    for (const std::string& root :
         {dir / "missing", dir / "missing/", std::string(), dir / "tree"}) {
        ScanJob job{root, nullptr};
        EXPECT_EQ(ScanWorker(job, context, 10, [&](bool failed) { failures.push_back(failed); }),
                  0);
        ASSERT_NE(job.list, nullptr);
        EXPECT_EQ(job.list->capacity, 10);
        EXPECT_EQ(Sorted(*job.list), (root == dir / "tree" ? Names{"gone", "stays"} : Names{}));
    }
    EXPECT_EQ(failures, (std::vector<bool>{true, true, true, false}));
    EXPECT_EQ(CountOf(dir.readLog(), CannotOpenText(dir / "missing") + "\n"), 2u);
    EXPECT_EQ(CountOf(dir.readLog(), CannotOpenText(gone)), 1u);
    EXPECT_TRUE(messages.requests().empty());
}

// Not "not there": a root that is a file, and a folder replaced by a file during the scan, are
// asked about (Abort/Retry/Ignore) like any other folder that cannot be read.
TEST_F(ScanTest, FolderReplacedByAFileIsAskedAbout) {
    SingleThreaded();
    Make({"plain-file", "tree/swapped/", "tree/stays"});
    const std::string swapped = dir / "tree/swapped";
    UseHook([&](std::string_view path) {
        if (path == swapped && ::rmdir(swapped.c_str()) == 0) {
            dir.createFile("tree/swapped");
        }
        return false;
    });
    messages.Answer(kIdIgnore);
    messages.Answer(kIdIgnore);
    BuiltList built = Scan(dir / "tree");
    EXPECT_EQ(Sorted(*built.list), (Names{"stays", "swapped"}));
    EXPECT_THAT(built.list->passedFolders, ::testing::ElementsAre("swapped"));
    EXPECT_EQ(Scan(dir / "plain-file").completed, 0);
    ASSERT_EQ(messages.requests().size(), 2u);
    EXPECT_EQ(messages.requests()[0].text, CannotOpenText(swapped));
    EXPECT_EQ(messages.requests()[0].style, kMbAbortRetryIgnore);
    EXPECT_EQ(messages.requests()[1].text, CannotOpenText(dir / "plain-file"));
}

TEST_F(ScanTest, ExclusionsSeeFullPathsAndExcludedFoldersAreStillSearched) {
    Make({"tree/old.bak/keep.txt", "tree/old.bak/drop.bak", "tree/note.bak", "tree/note.txt"});
    const std::string root = dir / "tree/";
    UseHook([](std::string_view path) { return path.ends_with(".bak"); });
    BuiltList built = Scan(root);
    ASSERT_EQ(built.completed, 1);
    EXPECT_EQ(Sorted(*built.list), (Names{"note.txt", "old.bak/keep.txt"}));
    std::sort(exclusions.seen.begin(), exclusions.seen.end());
    EXPECT_EQ(exclusions.seen,
              (Names{dir / "tree/note.bak", dir / "tree/note.txt", dir / "tree/old.bak",
                     dir / "tree/old.bak/drop.bak", dir / "tree/old.bak/keep.txt"}));

    // With the switch off, the lists are not consulted.
    exclusions.seen.clear();
    state.useExclusions = 0;
    EXPECT_EQ(Scan(root).list->count, 5);
    EXPECT_TRUE(exclusions.seen.empty());
}

TEST_F(ScanTest, ListOverflowFailsTheScanAtASmallAndTheFullCapacity) {
    Make({"tree/a/1", "tree/a/2", "tree/b", "tree/c/"});
    BuiltList exact = Scan(dir / "tree", 5);
    EXPECT_EQ(exact.completed, 1);
    EXPECT_EQ(exact.list->count, 5);
    EXPECT_TRUE(messages.requests().empty());
    dir.createFile("tree/a/3");
    for (int quiet : {1, 0}) {
        state.noStopOnError = quiet;
        BuiltList built = Scan(dir / "tree", 5);
        EXPECT_EQ(built.completed, 0);
        EXPECT_EQ(built.list->count, 5);
    }
    EXPECT_EQ(CountOf(dir.readLog(), kOverflowText), 2u);

    FileListPtr list = NewFileList();
    ASSERT_EQ(list->capacity, kFileListCapacity);
    const std::size_t rootLength = dir.path().size() + 1;
    std::string path = dir.path() + "/";
    for (int i = 0; i < kFileListCapacity; ++i) {
        path.resize(rootLength);
        path += std::to_string(i);
        ASSERT_EQ(AddFileEntry(*list, path, rootLength, 0, 1, 2, 3, context), 1) << i;
    }
    EXPECT_EQ(AddFileEntry(*list, dir / "one-more", rootLength, 0, 1, 2, 3, context), 0);
    EXPECT_EQ(list->count, kFileListCapacity);
    EXPECT_STREQ(list->entries[kFileListCapacity - 1].name, "999999");
    EXPECT_EQ(list->entries[kFileListCapacity - 1].size, 3u);
    ASSERT_EQ(messages.requests().size(), 2u);
    for (const auto& request : messages.requests()) {
        EXPECT_EQ(request.text, kOverflowText);
        EXPECT_EQ(request.style, kMbOk);
    }
}

TEST_F(ScanTest, PathsLongerThanPathMaxAreScannedCompletely) {
    // 24 levels of 200-byte names; the temporary folder's clean-up reaches them.
    const std::string root = dir / "tree";
    Names expected{""};
    ASSERT_TRUE(platform::CreateFolder(root).ok());
    for (int level = 0; level < 24; ++level) {
        expected.push_back(expected.back() + (level ? "/" : "") + std::string(200, 'd') +
                           std::to_string(level));
        ASSERT_TRUE(platform::CreateFolder(root + "/" + expected.back()).ok());
    }
    ASSERT_GT(root.size() + expected.back().size(), static_cast<std::size_t>(PATH_MAX));
    expected.erase(expected.begin());
    BuiltList built = Scan(root);
    ASSERT_EQ(built.completed, 1);
    EXPECT_TRUE(messages.requests().empty());
    EXPECT_EQ(Sorted(*built.list), expected);
}

// A number that no process id reaches: ids stay below pid_max.
std::string UnusedPid() {
    int pidMax = 0;
    std::ifstream("/proc/sys/kernel/pid_max") >> pidMax;
    return std::to_string(pidMax > 0 ? pidMax : INT_MAX);
}

std::string RemovedLine(const std::string& path) {
    return path + " を削除しました（中断されたｺﾋﾟｰの残り）\n";
}

TEST_F(ScanTest, PartialCopiesAreNeverListedAndThoseOfEndedProcessesAreRemoved) {
    const std::string dead = ".mirova-partial-" + UnusedPid();
    const std::string own = ".mirova-partial-" + std::to_string(::getpid()) + "-3";
    // Names that only resemble a partial copy are user data.
    const Names lookAlikes{".mirova-partial-",      ".mirova-partial-12",   ".mirova-partial-12-",
                           ".mirova-partial-12-3x", ".mirova-partial--3",   ".mirova-partial-a-1",
                           ".mirova-partial-1-2-3", "x.mirova-partial-12-3"};
    for (const std::string& name : lookAlikes) {
        dir.createFile("tree/" + name, "user");
    }
    dir.createFile("tree/" + dead + "-1", "half");
    dir.createFile("tree/" + own, "in progress");
    // Process 1 always runs; without root, asking about it answers EPERM.
    dir.createFile("tree/.mirova-partial-1-4", "in progress");
    // Ids that no process can have: 0 and -1 must never reach kill(), which would read them as
    // process groups and find them alive.
    dir.createFile("tree/.mirova-partial-0-5", "half");
    dir.createFile("tree/.mirova-partial-99999999999999999999-6", "half");
    // An unfinished link is removed as a link; what it points to stays.
    dir.createFile("outside.txt", "target");
    dir.createFolder("tree/sub");
    ASSERT_EQ(::symlink((dir / "outside.txt").c_str(), (dir / ("tree/sub/" + dead + "-2")).c_str()),
              0);
    // A folder of that name is the user's: the copy never makes folders.
    dir.createFile("tree/" + dead + "-7/inside", "user");

    BuiltList built = Scan(dir / "tree");
    ASSERT_EQ(built.completed, 1);
    Names expected = lookAlikes;
    expected.insert(expected.end(), {dead + "-7", dead + "-7/inside", "sub"});
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(Sorted(*built.list), expected);
    EXPECT_TRUE(messages.requests().empty());

    const std::string log = dir.readLog();
    for (const std::string& name :
         {dead + "-1", "sub/" + dead + "-2", std::string(".mirova-partial-0-5"),
          std::string(".mirova-partial-99999999999999999999-6")}) {
        EXPECT_EQ(::access((dir / ("tree/" + name)).c_str(), F_OK), -1) << name;
        EXPECT_EQ(CountOf(log, ": " + RemovedLine(dir / ("tree/" + name))), 1u) << log;
    }
    EXPECT_EQ(dir.read("outside.txt"), "target");
    EXPECT_EQ(dir.read("tree/" + own), "in progress");
    EXPECT_EQ(dir.read("tree/.mirova-partial-1-4"), "in progress");
    EXPECT_EQ(CountOf(log, "を削除しました"), 4u) << log;
}

TEST_F(ScanTest, APartialCopyThatCannotBeRemovedIsLoggedAndTheScanGoesOn) {
    const ScopedUnprivileged unprivileged(dir);
    const std::string partial = ".mirova-partial-" + UnusedPid() + "-1";
    Make({"tree/locked/" + partial, "tree/locked/data.txt"});
    const std::string locked = dir / "tree/locked";
    ASSERT_EQ(::chmod(locked.c_str(), 0555), 0);
    BuiltList built = Scan(dir / "tree");
    ::chmod(locked.c_str(), 0755);
    ASSERT_EQ(built.completed, 1);
    EXPECT_EQ(Sorted(*built.list), (Names{"locked", "locked/data.txt"}));
    EXPECT_TRUE(messages.requests().empty());
    EXPECT_EQ(::access((locked + "/" + partial).c_str(), F_OK), 0);
    EXPECT_EQ(CountOf(dir.readLog(), ": " + locked + "/" + partial + " が削除できません。("), 1u)
        << dir.readLog();
}

// The scan worker thread and the run's thread share RunState and the run log; ThreadSanitizer
// runs this test in the test command.
using ScanWorkerTest = ScanTest;

TEST_F(ScanWorkerTest, NoStopOnErrorToggledDuringTheScanTakesEffectAtTheNextError) {
    const ScopedUnprivileged unprivileged(dir);
    Make({"tree/a-locked/x", "tree/b-locked/y"});
    ASSERT_EQ(::chmod((dir / "tree/a-locked").c_str(), 0), 0);
    ASSERT_EQ(::chmod((dir / "tree/b-locked").c_str(), 0), 0);
    // The first box holds the worker until this thread has done its part.
    std::promise<void> asked;
    std::promise<void> released;
    std::shared_future<void> release = released.get_future().share();
    int boxes = 0;
    messages.beforeAnswer = [&] {
        if (boxes++ == 0) {
            asked.set_value();
            release.wait();
        }
    };
    messages.Answer(kIdIgnore);
    ScanJob job{dir / "tree", nullptr};
    bool failed = true;
    std::thread worker(
        [&] { ScanWorker(job, context, 100, [&failed](bool result) { failed = result; }); });

    // While the worker waits on the first folder's box, this thread ticks the check box and
    // writes to the log, as the UI thread may.
    asked.get_future().wait();
    state.noStopOnError = 1;
    WriteLog("from the UI thread", 1);
    released.set_value();
    worker.join();

    EXPECT_FALSE(failed);
    // One folder was asked about; the other, met after the switch, was only logged.
    EXPECT_EQ(messages.requests().size(), 1u);
    const std::string log = dir.readLog();
    EXPECT_EQ(CountOf(log, "a-locked」が開けません"), 1u);
    EXPECT_EQ(CountOf(log, "b-locked」が開けません"), 1u);
    EXPECT_EQ(CountOf(log, "from the UI thread\n"), 1u);
}

}  // namespace
}  // namespace mirova
