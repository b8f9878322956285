#include "engine/Scan.h"

#include <gmock/gmock.h>
#include <sys/stat.h>

#include <future>
#include <ranges>
#include <sstream>

#include "ScriptedMessages.h"
#include "TempDir.h"
#include "engine/ScanPrefetch.h"
#include "fileops/Format.h"
#include "fileops/RunLog.h"

namespace mirova {
namespace {

using test::ScopedUnprivileged;
using Names = std::vector<std::string>;

// Records every path asked about; the rule decides, and may act on the tree.
class FakeExclusions : public ExclusionTest {
public:
    std::function<bool(std::string_view)> rule;
    mutable Names seen;
    bool IsExcluded(std::string_view fullPath) const override {
        seen.emplace_back(fullPath);
        return rule && rule(fullPath);
    }
};

std::string CannotOpenText(const std::string& folder) {
    return ".\\MirovaDlg:522 - ﾌｫﾙﾀﾞ「" + folder + "」が開けません";
}

std::size_t CountOf(const std::string& text, const std::string& part) {
    return static_cast<std::size_t>(std::ranges::distance(std::views::split(text, part))) - 1;
}

// A scan as seen from outside: entries in scan order with attributes, boxes, unstamped log.
struct Observed {
    Names entries, boxes, logLines;
    int completed = 0;
    bool operator==(const Observed&) const = default;
};

class ScanTest : public ::testing::Test {
protected:
    test::TempDir dir;
    RunState state;
    test::ScriptedMessages messages;
    FakeExclusions exclusions;
    ScanContext context{state, messages};
    ~ScanTest() override { ::unsetenv("MIROVA_SCAN_THREADS"); }
    // One thread for tests that change the tree during the walk (a read-ahead reads early).
    static void Threads(int n) { ::setenv("MIROVA_SCAN_THREADS", std::to_string(n).c_str(), 1); }
    void UseHook(std::function<bool(std::string_view)> rule) {
        state.useExclusions = 1;
        state.exclusions = &exclusions;
        exclusions.rule = std::move(rule);
    }
    BuiltList Scan(const std::string& folder) { return BuildFileList(folder, context, 1000); }
    static Names Sorted(FileList& list) {
        SortFileList(list);
        const auto names =
            std::span(list.entries, list.count) | std::views::transform(&FileEntry::name);
        return {names.begin(), names.end()};
    }
    // Folders nested up to four deep with files of varied sizes and times, from a fixed seed.
    Names MakeTree(int folders, int filesPerFolder) {
        unsigned seed = 12345;
        const auto next = [&seed] { return seed = seed * 1103515245u + 12345u, seed >> 8; };
        Names made{"tree"};
        dir.createFolder("tree");
        for (int f = 0; f < folders; ++f) {
            std::string folder = made[next() % made.size()] + "/d" + std::to_string(f);
            if (std::count(folder.begin(), folder.end(), '/') > 4) {
                folder = "tree/d" + std::to_string(f);
            }
            dir.createFolder(folder);
            for (int i = 0; i < filesPerFolder; ++i) {
                dir.createFile(folder + "/f" + std::to_string(i), std::string(next() % 50, 'x'),
                               1'600'000'000 + next() % 100'000, static_cast<long>(next() % 1000));
            }
            made.push_back(std::move(folder));
        }
        return made;
    }
    // Scans "tree" with `threads` reading threads; `prepare` runs first (it may lock folders).
    Observed ScanWith(int threads, int capacity, int answer = 0,
                      const std::function<void()>& prepare = {}) {
        Threads(threads);
        if (prepare) {
            prepare();
        }
        test::ScriptedMessages boxes;
        boxes.beforeAnswer = messages.beforeAnswer;
        for (int i = 0; answer != 0 && i < 10; ++i) {
            boxes.Answer(answer);
        }
        const std::string logBefore = dir.readLog();
        BuiltList built = BuildFileList(dir / "tree", ScanContext{state, boxes}, capacity);
        Observed seen;
        seen.completed = built.completed;
        for (const FileEntry& e : std::span(built.list->entries, built.list->count)) {
            seen.entries.push_back(Format("%s %u %u %llu %d", e.name, e.lastWriteLow,
                                          e.lastWriteHigh, static_cast<unsigned long long>(e.size),
                                          e.isFolder));
        }
        for (const auto& request : boxes.requests()) {
            seen.boxes.push_back(request.text + " " + std::to_string(request.style));
        }
        std::istringstream log(dir.readLog().substr(logBefore.size()));
        for (std::string line; std::getline(log, line);) {
            seen.logLines.push_back(line.size() > 15 ? line.substr(15) : line);
        }
        return seen;
    }
};

TEST_F(ScanTest, ListsEveryItemDepthFirstByteOrderedWithAttributes) {
    dir.make(
        "tree/a/b/c/z tree/a/.FolderInf tree/.FolderInf tree/.FolderInf.bak tree/.folderinf "
        "tree/kept/.FolderInf/inside tree/B tree/\xC3\xA9 tree/empty/ tree/deep/");
    dir.createFile("tree/a/x.txt", "hello", 1'600'000'000, 123'400);
    dir.createFile("tree/b", "0123456789");
    ASSERT_EQ(::mkfifo((dir / "tree/pipe").c_str(), 0600), 0);
    // Links are listed as files with their own attributes and never followed.
    ASSERT_EQ(::symlink("a", (dir / "tree/to-a").c_str()), 0);
    ASSERT_EQ(::symlink("a/x.txt", (dir / "tree/to-x").c_str()), 0);
    ASSERT_EQ(::symlink("nowhere", (dir / "tree/dangling").c_str()), 0);
    test::SetModificationTime(dir / "tree/to-x", 1'500'000'000);
    Names expected({".FolderInf.bak 0 0", ".folderinf 0 0", "B 0 0", "a 0 1", "a/b 0 1",
                    "a/b/c 0 1", "a/b/c/z 0 0", "a/x.txt 5 0", "b 10 0", "dangling 7 0",
                    "empty 0 1", "kept 0 1", "kept/.FolderInf 0 1", "kept/.FolderInf/inside 0 0",
                    "to-a 1 0", "to-x 7 0", "\xC3\xA9 0 0", "deep 0 1"});
    for (std::string deep = "deep"; deep.size() < 5000;) {  // paths longer than PATH_MAX
        deep += "/" + std::string(200, 'd') + std::to_string(deep.size());
        ASSERT_TRUE(platform::CreateFolder(dir / ("tree/" + deep)).ok());
        expected.push_back(deep + " 0 1");
    }
    std::sort(expected.begin(), expected.end());
    const Observed seen = ScanWith(1, 1000);
    ASSERT_EQ(seen.completed, 1);
    EXPECT_TRUE(seen.boxes.empty() && seen.logLines.empty());
    EXPECT_TRUE(ScanWith(2, 1000) == seen);  // the read-ahead decides on its own listing
    Names sorted, names{""};                 // a folder comes right before its contents
    for (const std::string& entry : seen.entries) {
        const std::string name = entry.substr(0, entry.find(' '));
        EXPECT_TRUE((names.back() + "/").starts_with(name.substr(0, name.rfind('/') + 1))) << name;
        names.push_back(name);
        sorted.push_back(name + entry.substr(entry.rfind(' ', entry.size() - 3)));
    }
    // Times in 100 ns ticks since 1601, low half and high half.
    EXPECT_THAT(seen.entries, ::testing::IsSupersetOf({"a/x.txt 564561106 30837193 5 0",
                                                       "to-x 2095054848 30604362 7 0"}));
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(sorted, expected);
    // A trailing "/" changes nothing; a root that is a link is followed.
    const std::string root = dir / "tree";
    BuiltList slashed = Scan(root + "/");
    EXPECT_EQ(slashed.list->root, root);
    EXPECT_EQ(slashed.list->count, static_cast<int>(sorted.size()));
    EXPECT_EQ(Sorted(*Scan(dir / "tree/to-a").list), (Names{"b", "b/c", "b/c/z", "x.txt"}));
    // Exclusions see full paths, and excluded folders are still searched.
    UseHook([](std::string_view path) { return path.ends_with("/kept"); });
    const Names excluded = Sorted(*Scan(root).list);
    EXPECT_EQ(excluded.size() + 1, sorted.size());
    EXPECT_THAT(excluded, ::testing::Contains("kept/.FolderInf/inside"));
    EXPECT_THAT(exclusions.seen, ::testing::Contains(root + "/kept/.FolderInf/inside"));
}

TEST_F(ScanTest, ReadErrorMidListingIsRolledBack) {
    Threads(1);
    const ScopedUnprivileged unprivileged(dir);
    // Taking the search right from x while its first subfolder is listed breaks its next item.
    dir.make("tree/x/s1/f tree/x/s2/f tree/y");
    const std::string x = dir / "tree/x";
    bool broken = false;
    UseHook([&](std::string_view path) {
        if (!broken && path.ends_with("/f")) {
            broken = true;
            ::chmod(x.c_str(), 0400);
        }
        return false;
    });
    messages.beforeAnswer = [&](auto&, int) { ::chmod(x.c_str(), 0755); };
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

// Asked about like unreadable folders: a root that is a file, a folder turned into a file.
TEST_F(ScanTest, FolderThatIsNotThereIsLoggedAndOneReplacedByAFileAsked) {
    Threads(1);
    dir.make("plain-file tree/gone/ tree/swapped/ tree/stays");
    const std::string gone = dir / "tree/gone", swapped = dir / "tree/swapped";
    UseHook([&](std::string_view path) {
        if (path == gone) {
            ::rmdir(gone.c_str());
        } else if (path == swapped && ::rmdir(swapped.c_str()) == 0) {
            dir.createFile("tree/swapped");
        }
        return false;
    });
    messages.Answer(kIdIgnore);
    messages.Answer(kIdIgnore);
    ScanJob missing{dir / "missing", nullptr}, tree{dir / "tree", nullptr};
    std::vector<bool> failures;
    for (ScanJob* job : {&missing, &tree}) {
        EXPECT_EQ(ScanWorker(*job, context, 10, [&](bool f) { failures.push_back(f); }), 0);
        ASSERT_NE(job->list, nullptr);
    }
    EXPECT_EQ(failures, (std::vector<bool>{true, false}));
    EXPECT_EQ(missing.list->count, 0);
    EXPECT_EQ(Sorted(*tree.list), (Names{"gone", "stays", "swapped"}));
    EXPECT_THAT(tree.list->passedFolders, ::testing::ElementsAre("swapped"));
    EXPECT_EQ(CountOf(dir.readLog(), CannotOpenText(dir / "missing") + "\n"), 1u);
    EXPECT_EQ(CountOf(dir.readLog(), CannotOpenText(gone)), 1u);
    EXPECT_EQ(Scan(dir / "plain-file").completed, 0);
    ASSERT_EQ(messages.requests().size(), 2u);
    EXPECT_EQ(messages.requests()[0].text, CannotOpenText(swapped));
    EXPECT_EQ(messages.requests()[1].text, CannotOpenText(dir / "plain-file"));
}

TEST_F(ScanTest, PartialCopiesAreNeverListedAndThoseOfEndedProcessesAreRemoved) {
    // Process ids stay below the highest pid_max the kernel allows, 4194304.
    const std::string p = ".mirova-partial-", own = p + std::to_string(::getpid()) + "-3";
    const std::string dead = p + "4194304";
    // Names that only resemble a partial copy are user data.
    Names expected{p,        p + "12",  p + "12-",   p + "12-3x",
                   p + "-3", p + "a-1", p + "1-2-3", "x" + p + "12-3"};
    for (const std::string& name : expected) {
        dir.createFile("tree/" + name, "user");
    }
    // Process 1 always runs; ids 0 and -1 must never reach kill(). Links are removed as links.
    const Names removed{dead + "-1", "sub/" + dead + "-2", p + "0-5", p + "99999999999999999999-6"};
    for (const std::string& name : {own, p + "1-4", removed[0], removed[2], removed[3]}) {
        dir.createFile("tree/" + name, "in progress");
    }
    dir.createFile("outside.txt", "target");
    dir.createFolder("tree/sub");
    ASSERT_EQ(::symlink((dir / "outside.txt").c_str(), (dir / ("tree/" + removed[1])).c_str()), 0);
    dir.createFile("tree/" + dead + "-7/inside", "user");  // a folder of that name: the user's
    // One in a folder that cannot be changed stays, logged, and the scan goes on.
    const ScopedUnprivileged unprivileged(dir);
    dir.createFile("tree/locked/" + dead + "-8");
    ASSERT_EQ(::chmod((dir / "tree/locked").c_str(), 0555), 0);
    BuiltList built = Scan(dir / "tree");
    ::chmod((dir / "tree/locked").c_str(), 0755);
    ASSERT_EQ(built.completed, 1);
    expected.insert(expected.end(), {dead + "-7", dead + "-7/inside", "locked", "sub"});
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(Sorted(*built.list), expected);
    EXPECT_TRUE(messages.requests().empty());
    const std::string log = dir.readLog();
    for (const std::string& name : removed) {
        EXPECT_FALSE(platform::Exists(dir / ("tree/" + name))) << name;
        EXPECT_EQ(
            CountOf(log, dir / ("tree/" + name) + " を削除しました（中断されたｺﾋﾟｰの残り）\n"), 1u);
    }
    EXPECT_EQ(dir.read("outside.txt") + dir.read("tree/" + own) + dir.read("tree/" + p + "1-4"),
              "targetin progressin progress");
    EXPECT_EQ(CountOf(log, "を削除しました"), 4u) << log;
    EXPECT_TRUE(platform::Exists(dir / ("tree/locked/" + dead + "-8")));
    EXPECT_EQ(CountOf(log, dir / ("tree/locked/" + dead + "-8") + " が削除できません。("), 1u);
}

// The worker and the run's thread share RunState and the log; ThreadSanitizer runs this test.
using ScanWorkerTest = ScanTest;

TEST_F(ScanWorkerTest, NoStopOnErrorToggledDuringTheScanTakesEffectAtTheNextError) {
    const ScopedUnprivileged unprivileged(dir);
    dir.make("tree/a-locked/x tree/b-locked/y");
    ASSERT_EQ(::chmod((dir / "tree/a-locked").c_str(), 0), 0);
    ASSERT_EQ(::chmod((dir / "tree/b-locked").c_str(), 0), 0);
    // The first box holds the worker until this thread has done its part.
    std::promise<void> asked, released;
    std::shared_future<void> release = released.get_future().share();
    int boxes = 0;
    messages.beforeAnswer = [&](auto&, int) {
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
    // While the worker waits on the first box, this thread ticks the switch and logs, as the UI.
    asked.get_future().wait();
    state.noStopOnError = 1;
    WriteLog("from the UI thread", 1);
    released.set_value();
    worker.join();
    EXPECT_FALSE(failed);
    // One folder was asked about; the other, met after the switch, was only logged.
    EXPECT_EQ(messages.requests().size(), 1u);
    const std::string log = dir.readLog();
    EXPECT_EQ(CountOf(log, "a-locked」が開けません") + CountOf(log, "b-locked」が開けません"), 2u);
    EXPECT_EQ(CountOf(log, "from the UI thread\n"), 1u);
}

// A parallel scan gives what the single-threaded walk gives, entry, box and line alike.
using ParallelScanTest = ScanTest;

TEST_F(ParallelScanTest, GivesTheSingleThreadedListOverflowAndUnreadableFolders) {
    const ScopedUnprivileged unprivileged(dir);
    const Names made = MakeTree(300, 12);  // 300 folders, 3,600 files
    // Folders deep and shallow, early and late in the walk, the root's own subfolders among them.
    const Names locked{made[1], made[17], made[150]};
    const auto setLocked = [&](mode_t mode) {
        for (const std::string& folder : locked) {
            ::chmod((dir / folder).c_str(), mode);
        }
    };
    // The single-threaded scan, held to those of 2 and kNetworkScanThreads threads.
    const auto scan = [&](int capacity, int answer = 0, const std::function<void()>& lock = {}) {
        const Observed one = ScanWith(1, capacity, answer, lock);
        setLocked(0755);
        for (const int threads : {2, kNetworkScanThreads}) {
            EXPECT_TRUE(ScanWith(threads, capacity, answer, lock) == one) << threads;
            setLocked(0755);
        }
        return one;
    };
    const Observed all = scan(10'000);
    ASSERT_EQ(all.completed, 1);
    ASSERT_EQ(all.entries.size(), 3'900u);
    EXPECT_TRUE(all.boxes.empty());
    // A list too small stops all at the same item with the same box and line, quiet or not.
    for (int quiet : {0, 1}) {
        state.noStopOnError = quiet;
        const Observed small = scan(quiet ? 3'899 : 777);
        EXPECT_EQ(small.completed, 0);
        EXPECT_EQ(small.entries.size(), quiet ? 3'899u : 777u);
        const std::string overflow = "ﾌｧｲﾙﾘｽﾄがｵｰﾊﾞｰﾌﾛｰしました";
        EXPECT_EQ(small.logLines, Names{overflow});
        EXPECT_EQ(small.boxes, quiet ? Names{} : Names{overflow + " " + std::to_string(kMbOk)});
    }
    EXPECT_TRUE(scan(3'900) == all);
    // The box unlocks them (only a Retry rereads) and changes root files a read-ahead may read.
    const auto lock = [&] {
        setLocked(0);
        for (int i = 0; i < 20; ++i) {
            dir.createFile("tree/r" + std::to_string(i), "x", 1'600'000'000);
        }
    };
    messages.beforeAnswer = [&](auto&, int) {
        setLocked(0755);
        for (int i = 0; i < 10; ++i) {
            dir.createFile("tree/r" + std::to_string(i), "changed", 1'700'000'000);
            ::unlink((dir / ("tree/r" + std::to_string(10 + i))).c_str());
        }
    };
    for (int answer : {kIdRetry, kIdIgnore, kIdAbort, 0}) {
        SCOPED_TRACE(answer);
        state.noStopOnError = answer == 0 ? 1 : 0;
        const Observed one = scan(10'000, answer, lock);
        ASSERT_FALSE(one.logLines.empty());  // what a single walk makes of them: ScanTest
        EXPECT_EQ(one.boxes.size(), answer == 0 ? 0u : one.logLines.size());
        EXPECT_EQ(one.completed, 1);
    }
    // An unreadable root fails the scan (an empty, complete list would empty the target).
    messages.beforeAnswer = {};
    ASSERT_EQ(::chmod((dir / "tree").c_str(), 0), 0);
    for (int answer : {kIdIgnore, 0}) {
        state.noStopOnError = answer == 0 ? 1 : 0;
        const Observed root = ScanWith(1, 10'000, answer);
        EXPECT_EQ(root.completed + root.entries.size(), 0u);
        EXPECT_EQ(root.logLines, Names{CannotOpenText(dir / "tree")});
    }
    ::chmod((dir / "tree").c_str(), 0755);
}

}  // namespace
}  // namespace mirova
