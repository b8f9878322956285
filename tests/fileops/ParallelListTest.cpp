// Copy and delete lists carried out by workers ahead of the list, against the same lists worked
// through one item after the other: on random trees, with and without failures and stops, the
// user must meet the same boxes, log lines, progress and change record, and find the same tree.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "FileOpsTesting.h"
#include "fileops/AheadWorkers.h"
#include "fileops/FileOperations.h"
#include "fileops/SafeCopy.h"
#include "fileops/WorkAhead.h"
#include "platform/FaultInjection.h"
#include "platform/FileSystem.h"

namespace mirova::test {
namespace {

using platform::FaultCall;

constexpr const char* kThreads = "MIROVA_COPY_THREADS";
constexpr std::int64_t kOldTime = 1600000000;

// Sets the number of workers while it lives.
class ScopedThreads {
public:
    explicit ScopedThreads(int threads) { ::setenv(kThreads, std::to_string(threads).c_str(), 1); }
    ~ScopedThreads() { ::unsetenv(kThreads); }
    ScopedThreads(const ScopedThreads&) = delete;
    ScopedThreads& operator=(const ScopedThreads&) = delete;
};

struct Told {
    ItemDone what;
    std::string base;
    std::string name;
    friend bool operator==(const Told&, const Told&) = default;
};

// The run's change record as a list: every item told done, and whether any was told off the
// thread that runs the list.
class RecordingListener : public ChangeListener {
public:
    void OnItemDone(ItemDone what, const std::string& base, const char* name) override {
        offThread = offThread || std::this_thread::get_id() != thread_;
        told.push_back(Told{what, base, name});
    }
    void OnFailure(const std::string&) override {
        offThread = offThread || std::this_thread::get_id() != thread_;
    }

    std::vector<Told> told;
    bool offThread = false;

private:
    std::thread::id thread_ = std::this_thread::get_id();
};

// A front end whose answers follow a rule rather than a fixed script, so that one rule serves
// both runs whatever the tree.
class RuleUi : public ScriptedFileOpsUi {
public:
    std::function<int(const std::string& text, int style)> rule;

    int DoMessageBox(const std::string& text, int style) override {
        messages.Answer(rule(text, style));
        return ScriptedFileOpsUi::DoMessageBox(text, style);
    }
};

// A random tree: folders kNN (unique names) nested at random, files fNNN.txt (unique too) and a
// few links in them. The destination holds some of the folders and older copies of some files.
struct TreePlan {
    std::vector<std::string> folders;  // parents first
    std::vector<std::string> files;    // sorted, the copy list
    std::set<std::string> links;
    std::set<std::string> inDestination;  // files with an older copy there
    std::set<std::string> destinationFolders;
    std::set<std::string> readOnly;  // older copies that are read-only
    std::uint32_t seed;
};

TreePlan PlanTree(std::uint32_t seed, bool withReadOnly) {
    std::mt19937 random(seed);
    const auto below = [&random](int n) {
        return static_cast<int>(std::uniform_int_distribution<int>(0, n - 1)(random));
    };
    TreePlan plan;
    plan.seed = seed;
    const int folderCount = 4 + below(8);
    for (int folder = 0; folder < folderCount; ++folder) {
        const int parent = below(folder + 1) - 1;  // -1: the base
        char name[16];
        std::snprintf(name, sizeof name, "k%02d", folder);
        plan.folders.push_back(parent < 0 ? name : plan.folders[parent] + "/" + name);
    }
    // The last folder is never there, so that every tree has folders for the copy to make.
    for (const std::string& folder : plan.folders) {
        if (folder == plan.folders.back()) {
            break;
        }
        const std::string parent = folder.substr(0, folder.rfind('/'));
        const bool parentThere = parent == folder || plan.destinationFolders.count(parent) > 0;
        if (parentThere && below(2) == 0) {
            plan.destinationFolders.insert(folder);
        }
    }
    const int fileCount = 40 + below(40);
    for (int file = 0; file < fileCount; ++file) {
        char leaf[24];
        std::snprintf(leaf, sizeof leaf, "f%03d.txt", file);
        const int folder = file == 0 ? folderCount - 1 : below(folderCount + 1) - 1;
        const std::string name = folder < 0 ? leaf : plan.folders[folder] + "/" + leaf;
        plan.files.push_back(name);
        if (below(8) == 0) {
            plan.links.insert(name);
        }
        const bool folderThere = folder < 0 || plan.destinationFolders.count(plan.folders[folder]);
        if (folderThere && below(3) == 0) {
            plan.inDestination.insert(name);
            if (withReadOnly && below(6) == 0) {
                plan.readOnly.insert(name);
            }
        }
    }
    std::sort(plan.files.begin(), plan.files.end());
    return plan;
}

void BuildTree(const TempDir& tmp, const TreePlan& plan) {
    std::filesystem::remove_all(tmp / "run");
    std::filesystem::remove_all(tmp.logDir());
    tmp.createFolder("run/src");
    tmp.createFolder("run/dst");
    for (const std::string& folder : plan.folders) {
        tmp.createFolder("run/src/" + folder);
    }
    for (const std::string& folder : plan.destinationFolders) {
        tmp.createFolder("run/dst/" + folder);
    }
    std::mt19937 random(plan.seed ^ 0x5eedu);
    for (const std::string& name : plan.files) {
        const std::size_t size = std::uniform_int_distribution<std::size_t>(0, 3)(random) == 0
                                     ? 0
                                     : std::uniform_int_distribution<std::size_t>(1, 20000)(random);
        if (plan.links.count(name)) {
            ASSERT_EQ(::symlink(("target-of-" + name).c_str(), (tmp / "run/src/" + name).c_str()),
                      0);
            SetModificationTime(tmp / "run/src/" + name, kOldTime);
        } else {
            tmp.createFile("run/src/" + name, name + Pattern(size), kOldTime + size);
        }
        if (plan.inDestination.count(name)) {
            tmp.createFile("run/dst/" + name, "older " + name, kOldTime);
            if (plan.readOnly.count(name)) {
                ASSERT_EQ(::chmod((tmp / "run/dst/" + name).c_str(), 0444), 0);
            }
        }
    }
}

// What one run of a list showed and left behind.
struct Observed {
    int result = -1;
    Items tree;
    std::string log;
    Boxes boxes;
    int failures = 0;
    std::vector<Told> told;
    std::vector<ScriptedFileOpsUi::Window> windows;
    std::size_t unscripted = 0;
};

enum class List { Copy, Delete };

// One case of the table: how the list fails or stops, and how the user answers.
struct Case {
    const char* label;
    List list;
    int quiet = 0;  // noStopOnError
    bool withReadOnly = false;
    // Injects the case's fault for a tree, given the list it runs.
    std::function<void(const TreePlan&, const std::vector<std::string>&)> fault = nullptr;
    int retries = 0;              // Retry answers to each Retry/Cancel box before Cancel
    int continueAnswer = kIdYes;  // the answer to "continue?"
    bool cancelBeforeMiddle = false;
    int reallyStopAnswer = kIdYes;
};

// The item of the list in the middle, or the nearest after it (then before it) that `fits`
// accepts; -1 when none does.
int MiddleItem(const std::vector<std::string>& names,
               const std::function<bool(const std::string&)>& fits) {
    for (std::size_t step = 0; step < names.size(); ++step) {
        const std::size_t item = (names.size() / 2 + step) % names.size();
        if (fits(names[item])) {
            return static_cast<int>(item);
        }
    }
    return -1;
}

std::string LeafOf(const std::string& name) {
    return name.substr(name.rfind('/') + 1);
}

// The delete list of a tree: some of its destination files and two that are not there.
std::vector<std::string> DeleteNames(const TreePlan& plan) {
    std::vector<std::string> names;
    std::mt19937 random(plan.seed ^ 0xde1u);
    for (const std::string& name : plan.inDestination) {
        if (std::uniform_int_distribution<int>(0, 3)(random) != 0) {
            names.push_back(name);
        }
    }
    names.push_back("gone.txt");
    names.push_back(plan.folders.front() + "/gone-too.txt");
    std::sort(names.begin(), names.end());
    return names;
}

class ParallelListTest : public FileOpsTest {
protected:
    void TearDown() override { platform::ClearFaultsForTesting(); }

    // Builds the tree afresh and runs the case's list with `threads` workers.
    Observed Run(const Case& c, const TreePlan& plan, int threads) {
        BuildTree(tmp_, plan);
        const std::vector<std::string> names =
            c.list == List::Copy ? plan.files : DeleteNames(plan);
        if (c.fault) {
            c.fault(plan, names);
        }
        int cancelItem = -1;
        if (c.cancelBeforeMiddle) {
            // An item that a worker surely carries out, which the test can watch for.
            cancelItem = MiddleItem(names, [&](const std::string& name) {
                return c.list == List::Delete
                           ? plan.inDestination.count(name) > 0
                           : !plan.inDestination.count(name) && !plan.links.count(name);
            });
        }
        const std::string base = tmp_ / "run/dst";
        const std::string watched = cancelItem < 0 ? "" : base + "/" + names[cancelItem];
        const bool parallel = threads > 1;

        RuleUi ui;
        std::map<std::string, int> asked;
        ui.rule = [&](const std::string& text, int style) {
            if (style == kMbRetryCancel) {
                return asked[text]++ < c.retries ? kIdRetry : kIdCancel;
            }
            if (text == kContinueQuestion) {
                return c.continueAnswer;
            }
            if (text == kReallyStopQuestion) {
                if (parallel && c.reallyStopAnswer == kIdYes) {
                    // Lets the workers get ahead of the list, so that a stop has copies or
                    // deletions beyond it to tell.
                    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
                    while (platform::Exists(watched) == (c.list == List::Copy ? false : true) &&
                           std::chrono::steady_clock::now() < until) {
                        std::this_thread::sleep_for(std::chrono::milliseconds(1));
                    }
                }
                return c.reallyStopAnswer;
            }
            return kIdOk;
        };
        if (cancelItem >= 0) {
            ui.PressCancelBeforeItem(static_cast<std::size_t>(cancelItem));
        }
        RecordingListener listener;
        ui.SetChangeListener(&listener);

        Observed seen;
        {
            const ScopedThreads scoped(threads);
            const Names list(names);
            seen.result = c.list == List::Copy
                              ? CopyFileList(tmp_ / "run/src", base, list, c.quiet, ui)
                              : DeleteFileList(base, list, ui);
        }
        platform::ClearFaultsForTesting();
        EXPECT_FALSE(listener.offThread);
        seen.tree = SnapshotTree(tmp_ / "run");
        seen.log = tmp_.readLog();
        seen.boxes = BoxesOf(ui);
        seen.failures = ui.failures();
        seen.told = listener.told;
        seen.windows = ui.windows();
        seen.unscripted = ui.messages.unscripted();
        return seen;
    }

    // Runs the case one item after the other and with workers on the same tree and compares.
    void Compare(const Case& c, std::uint32_t seed) {
        SCOPED_TRACE(std::string(c.label) + ", seed " + std::to_string(seed));
        const TreePlan plan = PlanTree(seed, c.withReadOnly);
        const Observed one = Run(c, plan, 1);
        const Observed many = Run(c, plan, 8);
        const std::vector<std::string> names =
            c.list == List::Copy ? plan.files : DeleteNames(plan);

        EXPECT_EQ(many.result, one.result);
        EXPECT_EQ(many.boxes, one.boxes);
        EXPECT_EQ(many.failures, one.failures);
        EXPECT_EQ(one.unscripted, 0u);
        EXPECT_EQ(many.unscripted, 0u);
        ASSERT_EQ(many.windows.size(), 1u);
        ASSERT_EQ(one.windows.size(), 1u);
        EXPECT_EQ(many.windows[0].statusTexts, one.windows[0].statusTexts);
        EXPECT_EQ(many.windows[0].cancelChecks, one.windows[0].cancelChecks);
        EXPECT_EQ(many.windows[0].stepBarCalls, one.windows[0].stepBarCalls);
        EXPECT_TRUE(many.windows[0].destroyed);

        // The items told in turn are the same; those carried out ahead of a stop follow, in list
        // order, each beyond the item the list stopped at.
        ASSERT_GE(many.told.size(), one.told.size());
        EXPECT_TRUE(std::equal(one.told.begin(), one.told.end(), many.told.begin()));
        const std::vector<Told> ahead(many.told.begin() + static_cast<long>(one.told.size()),
                                      many.told.end());
        // A list that stopped early did not step the bar for the item it stopped at.
        const int stopItem = one.windows[0].stepBarCalls;
        const bool stopped = static_cast<std::size_t>(stopItem) < names.size();
        if (c.cancelBeforeMiddle && c.reallyStopAnswer == kIdYes) {
            EXPECT_FALSE(ahead.empty()) << "the item watched for was not told";
        }
        if (!stopped) {
            EXPECT_TRUE(ahead.empty());
        }
        int previous = stopItem - 1;
        for (const Told& told : ahead) {
            const int item =
                static_cast<int>(std::find(names.begin(), names.end(), told.name) - names.begin());
            EXPECT_GT(item, previous) << told.name;
            previous = item;
        }
        const std::string aheadLine = ahead.empty()
                                          ? ""
                                          : Logged("中止の前に " + std::to_string(ahead.size()) +
                                                   " 個の項目が処理済みでした。");
        EXPECT_EQ(many.log, one.log + aheadLine);

        // The tree: whole copies (or deletions) of the items done ahead, and nothing else but
        // folders made on the way to items beyond the stop.
        Items expected = one.tree;
        for (const Told& told : ahead) {
            if (c.list == List::Copy) {
                expected["dst/" + told.name] = one.tree.at("src/" + told.name);
            } else {
                expected.erase("dst/" + told.name);
            }
        }
        Items actual = many.tree;
        for (auto item = actual.begin(); item != actual.end();) {
            const bool onTheWay =
                std::any_of(names.begin() + stopItem, names.end(), [&](const std::string& name) {
                    return ("dst/" + name).starts_with(item->first + "/");
                });
            if (item->second.kind == 'd' && !expected.count(item->first) && stopped && onTheWay) {
                item = actual.erase(item);
            } else {
                ++item;
            }
        }
        EXPECT_EQ(DescribeDifferences(expected, actual), "");
    }
};

// Persistent faults on one item in the middle of the list.
void FailOpening(const TreePlan&, const std::vector<std::string>& names) {
    const int item = MiddleItem(names, [](const std::string&) { return true; });
    platform::InjectFaultForTesting(FaultCall::OpenRead, EACCES, LeafOf(names[item]));
}

void FailReplacing(const TreePlan&, const std::vector<std::string>& names) {
    const int item = MiddleItem(names, [](const std::string&) { return true; });
    platform::InjectFaultForTesting(FaultCall::Rename, EBUSY, LeafOf(names[item]));
}

void FailDeleting(const TreePlan& plan, const std::vector<std::string>& names) {
    const int item =
        MiddleItem(names, [&](const std::string& name) { return plan.inDestination.count(name); });
    platform::InjectFaultForTesting(FaultCall::Delete, EACCES, LeafOf(names[item]));
}

// A folder missing in the destination that cannot be created ends the copy list.
void FailFolder(const TreePlan& plan, const std::vector<std::string>& names) {
    const int item = MiddleItem(names, [&](const std::string& name) {
        return name.find('/') != std::string::npos &&
               !plan.destinationFolders.count(name.substr(0, name.rfind('/')));
    });
    ASSERT_GE(item, 0);
    const std::string folder = names[item].substr(0, names[item].rfind('/'));
    std::string missing = folder;  // the outermost folder missing on the way
    for (std::size_t slash = 0; (slash = folder.find('/', slash + 1)) != std::string::npos;) {
        if (!plan.destinationFolders.count(folder.substr(0, slash))) {
            missing = folder.substr(0, slash);
            break;
        }
    }
    platform::InjectFaultForTesting(FaultCall::CreateFolder, EACCES, LeafOf(missing));
}

TEST_F(ParallelListTest, WorkersAheadChangeNothingTheUserMeets) {
    const Case cases[] = {
        {.label = "copy, no failure", .list = List::Copy},
        {.label = "copy, read-only copies kept", .list = List::Copy, .withReadOnly = true},
        {.label = "copy, source unopenable, Retry then Cancel",
         .list = List::Copy,
         .fault = FailOpening,
         .retries = 1},
        {.label = "copy, source unopenable, no to continue?",
         .list = List::Copy,
         .fault = FailOpening,
         .continueAnswer = kIdNo},
        {.label = "copy, source unopenable, quiet",
         .list = List::Copy,
         .quiet = 1,
         .fault = FailOpening},
        {.label = "copy, destination not replaceable, no to continue?",
         .list = List::Copy,
         .withReadOnly = true,
         .fault = FailReplacing,
         .continueAnswer = kIdNo},
        {.label = "copy, destination not replaceable, quiet",
         .list = List::Copy,
         .quiet = 1,
         .withReadOnly = true,
         .fault = FailReplacing},
        {.label = "copy, folder not creatable", .list = List::Copy, .fault = FailFolder},
        {.label = "copy, folder not creatable, quiet",
         .list = List::Copy,
         .quiet = 1,
         .fault = FailFolder},
        {.label = "copy, cancel, yes", .list = List::Copy, .cancelBeforeMiddle = true},
        {.label = "copy, cancel, no",
         .list = List::Copy,
         .cancelBeforeMiddle = true,
         .reallyStopAnswer = kIdNo},
        {.label = "delete, no failure", .list = List::Delete},
        {.label = "delete, undeletable file", .list = List::Delete, .fault = FailDeleting},
        {.label = "delete, cancel, yes", .list = List::Delete, .cancelBeforeMiddle = true},
        {.label = "delete, cancel, no",
         .list = List::Delete,
         .cancelBeforeMiddle = true,
         .reallyStopAnswer = kIdNo},
    };
    for (const Case& c : cases) {
        for (const std::uint32_t seed : {1u, 2u, 3u}) {
            Compare(c, seed);
        }
    }
}

// Two names that differ in letter case alone are one file where case is ignored; the later is
// copied by the list itself, in its turn, never by a worker ahead of it.
TEST_F(ParallelListTest, NamesDifferingInCaseAloneAreCopiedInTurn) {
    tmp_.createFile("src/A.txt", "upper");
    tmp_.createFile("src/a.txt", "lower, and longer");
    const Names names{"A.txt", "a.txt"};
    std::mutex mutex;
    std::vector<std::pair<off_t, bool>> copies;  // source size, copied by the calling thread
    const std::thread::id caller = std::this_thread::get_id();
    SetCopyStartHookForTesting([&](int sourceFd, int) {
        struct stat st {};
        ::fstat(sourceFd, &st);
        const std::lock_guard lock(mutex);
        copies.emplace_back(st.st_size, std::this_thread::get_id() == caller);
    });
    {
        const ScopedThreads scoped(8);
        EXPECT_EQ(CopyFileList(tmp_ / "src", tmp_ / "dst", names, 0, ui_), 1);
    }
    SetCopyStartHookForTesting(nullptr);
    EXPECT_EQ(tmp_.read("dst/a.txt"), "lower, and longer");
    const std::pair<off_t, bool> lower{17, true};
    EXPECT_NE(std::find(copies.begin(), copies.end(), lower), copies.end());
    EXPECT_EQ(TakeLog(), "");
    EXPECT_TRUE(TakeBoxes().empty());
}

// The number of workers: the variable's when it is a number of 1 or more, else by file system.
TEST_F(ParallelListTest, WorkerCountFollowsTheVariable) {
    const int byFileSystem = platform::IsNetworkFileSystem(tmp_.path()) ? kNetworkWorkers : 1;
    EXPECT_EQ(AheadWorkerCount(tmp_.path()), byFileSystem);
    const struct {
        const char* value;
        int workers;
    } values[] = {{"1", 1},
                  {"3", 3},
                  {"8", 8},
                  {"1000", 64},
                  {"0", byFileSystem},
                  {"-2", byFileSystem},
                  {"two", byFileSystem},
                  {"4x", byFileSystem}};
    for (const auto& value : values) {
        ::setenv(kThreads, value.value, 1);
        EXPECT_EQ(AheadWorkerCount(tmp_.path()), value.workers) << value.value;
    }
    ::unsetenv(kThreads);
}

// Counts its attempts; every attempt succeeds.
class CountingAttempt : public ItemAttempt {
public:
    explicit CountingAttempt(std::atomic<int>& count) : count_(count) {}
    bool Attempt(std::size_t) override {
        ++count_;
        return true;
    }

private:
    std::atomic<int>& count_;
};

// Workers never get further ahead than the window, and a stop reports what they did beyond the
// items awaited.
TEST_F(ParallelListTest, WorkersStayWithinTheWindow) {
    std::atomic<int> attempts{0};
    std::vector<std::unique_ptr<ItemAttempt>> workers;
    for (int worker = 0; worker < 3; ++worker) {
        workers.push_back(std::make_unique<CountingAttempt>(attempts));
    }
    WorkAhead ahead(100, std::move(workers), 10);
    EXPECT_TRUE(ahead.Await(0));
    EXPECT_TRUE(ahead.Await(1));
    // Item 1 awaited: items up to 10 may be done, and no more.
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (attempts < 11 && std::chrono::steady_clock::now() < until) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const std::vector<std::size_t> done = ahead.Stop();
    EXPECT_EQ(attempts, 11);
    EXPECT_EQ(done, (std::vector<std::size_t>{2, 3, 4, 5, 6, 7, 8, 9, 10}));
    EXPECT_FALSE(ahead.Await(11));  // after a stop nothing more is done
}

}  // namespace
}  // namespace mirova::test
