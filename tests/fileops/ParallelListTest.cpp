// Copy and delete lists carried out by workers ahead of the list, against the same lists worked
// through one item after the other: on random trees, with and without failures and stops, the
// user must meet the same boxes, log lines, progress and change record, and find the same tree.
#include <algorithm>
#include <atomic>
#include <functional>
#include <random>
#include <set>
#include <thread>

#include "FileOpsTesting.h"
#include "fileops/AheadWorkers.h"
#include "fileops/SafeCopy.h"
#include "fileops/WorkAhead.h"

namespace mirova::test {
namespace {

using platform::FaultCall;
constexpr std::int64_t kOldTime = 1600000000;

struct ScopedThreads {  // sets the number of workers while it lives
    explicit ScopedThreads(const char* threads) { ::setenv(kCopyThreadsVariable, threads, 1); }
    ~ScopedThreads() { ::unsetenv(kCopyThreadsVariable); }
};

using Told = std::pair<ItemDone, std::string>;

void WaitFor(const std::function<bool()>& done) {  // for at most 20 seconds
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!done() && std::chrono::steady_clock::now() < until) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

// The run's change record, and whether any item was told off the thread that runs the list.
struct RecordingListener : ChangeListener {
    void OnItemDone(ItemDone what, const std::string&, const char* name) override {
        OnFailure(name);  // the same thread check
        told.emplace_back(what, name);
    }
    void OnFailure(const std::string&) override {
        offThread = offThread || std::this_thread::get_id() != thread;
    }
    std::vector<Told> told;
    bool offThread = false;
    std::thread::id thread = std::this_thread::get_id();
};

// A front end whose answers follow a rule, so that one rule serves both runs whatever the tree.
struct RuleUi : ScriptedFileOpsUi {
    std::function<int(const std::string& text, int style)> rule;
    int DoMessageBox(const std::string& text, int style) override {
        messages.Answer(rule(text, style));
        return ScriptedFileOpsUi::DoMessageBox(text, style);
    }
};

// A random tree: folders kNN nested at random, files fNNN.txt (some of them links) in them. The
// destination holds some of the folders and older copies of some files, some read-only.
struct TreePlan {
    std::vector<std::string> folders, files;  // parents first; sorted, the copy list
    std::set<std::string> links, inDestination, destinationFolders, readOnly;
    std::uint32_t seed;
};

TreePlan PlanTree(std::uint32_t seed, bool withReadOnly) {
    std::mt19937 random(seed);
    const auto below = [&random](int n) { return static_cast<int>(random() % n); };
    TreePlan plan;
    plan.seed = seed;
    const int folderCount = 4 + below(8);
    for (int folder = 0; folder < folderCount; ++folder) {
        const int parent = below(folder + 1) - 1;  // -1: the base
        plan.folders.push_back((parent < 0 ? "" : plan.folders[parent] + "/") +
                               Format("k%02d", folder));
    }
    // The last folder is never there, so that every tree has folders for the copy to make.
    for (int folder = 0; folder + 1 < folderCount; ++folder) {
        const std::string& path = plan.folders[folder];
        const std::size_t slash = path.rfind('/');
        if ((slash == std::string::npos || plan.destinationFolders.count(path.substr(0, slash))) &&
            below(2) == 0) {
            plan.destinationFolders.insert(path);
        }
    }
    const int fileCount = 40 + below(40);
    for (int file = 0; file < fileCount; ++file) {
        const int folder = file == 0 ? folderCount - 1 : below(folderCount + 1) - 1;
        const std::string name =
            (folder < 0 ? "" : plan.folders[folder] + "/") + Format("f%03d.txt", file);
        plan.files.push_back(name);
        if (below(8) == 0) {
            plan.links.insert(name);
        }
        if ((folder < 0 || plan.destinationFolders.count(plan.folders[folder])) && below(3) == 0) {
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
    tmp.createFolder("run/dst");
    for (const auto& [side, folders] :
         {std::pair{"run/src/", plan.folders},
          {"run/dst/", {plan.destinationFolders.begin(), plan.destinationFolders.end()}}}) {
        for (const std::string& folder : folders) {
            tmp.createFolder(side + folder);
        }
    }
    std::mt19937 random(plan.seed ^ 0x5eedu);
    for (const std::string& name : plan.files) {
        const std::size_t size = random() % 4 == 0 ? 0 : 1 + random() % 20000;
        if (plan.links.count(name)) {
            ASSERT_EQ(::symlink(("to-" + name).c_str(), (tmp / "run/src/" + name).c_str()), 0);
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
    Items tree;
    std::string log;
    std::vector<Told> told;
    std::tuple<int, Boxes, int, std::size_t, std::vector<std::string>, int, int, bool> shown;
};

// One case of the table: how the list fails or stops, and how the user answers.
struct Case {
    bool copy;  // else a delete list
    int quiet = 0;
    bool withReadOnly = false;
    FaultCall fault = FaultCall::Read;  // Read: none; else on one item in the middle of the list
    int retries = 0;                    // Retry answers to each Retry/Cancel box before Cancel
    int continueAnswer = kIdYes;
    int reallyStopAnswer = 0;  // 0: no Cancel; else Cancel before the middle item and this answer
};

// The item in the middle of the list, or the nearest after it (then before it) that fits.
std::size_t MiddleItem(const std::vector<std::string>& names,
                       const std::function<bool(const std::string&)>& fits) {
    std::size_t item = names.size() / 2;
    for (std::size_t step = 0; step < names.size() && !fits(names[item]); ++step) {
        item = (item + 1) % names.size();
    }
    return item;
}

// The copy list, or a delete list of some destination files and two that are not there.
std::vector<std::string> NamesOf(const Case& c, const TreePlan& plan) {
    if (c.copy) {
        return plan.files;
    }
    std::vector<std::string> names{"gone.txt", plan.folders.front() + "/gone-too.txt"};
    std::mt19937 random(plan.seed ^ 0xde1u);
    std::copy_if(plan.inDestination.begin(), plan.inDestination.end(), std::back_inserter(names),
                 [&](const std::string&) { return random() % 4 != 0; });
    std::sort(names.begin(), names.end());
    return names;
}

// Injects the case's fault: on the middle item (one in the destination for a delete), or on the
// folder the copy must make in every tree.
void InjectFault(const Case& c, const TreePlan& plan, const std::vector<std::string>& names) {
    const std::string name =
        c.fault == FaultCall::CreateFolder
            ? plan.folders.back()
            : names[MiddleItem(names, [&](const std::string& n) {
                  return c.fault != FaultCall::Delete || plan.inDestination.count(n) > 0;
              })];
    if (c.fault != FaultCall::Read) {
        platform::InjectFaultForTesting(c.fault, c.fault == FaultCall::Rename ? EBUSY : EACCES,
                                        name.substr(name.rfind('/') + 1));
    }
}

class ParallelListTest : public FileOpsTest {
protected:
    // Builds the tree afresh and runs the case's list with `threads` workers.
    Observed Run(const Case& c, const TreePlan& plan, const char* threads) {
        BuildTree(tmp_, plan);
        const std::vector<std::string> names = NamesOf(c, plan);
        InjectFault(c, plan, names);
        const std::string base = tmp_ / "run/dst";
        RuleUi ui;
        std::string watched;
        if (c.reallyStopAnswer) {
            // An item that a worker surely carries out, which the test can watch for.
            const std::size_t item = MiddleItem(names, [&](const std::string& name) {
                return !c.copy ? plan.inDestination.count(name) > 0
                               : !plan.inDestination.count(name) && !plan.links.count(name);
            });
            watched = base + "/" + names[item];
            ui.PressCancelBeforeItem(item);
        }
        std::map<std::string, int> asked;
        ui.rule = [&](const std::string& text, int style) {
            if (style == kMbRetryCancel) {
                return asked[text]++ < c.retries ? kIdRetry : kIdCancel;
            }
            // Lets the workers get ahead, so that a stop has items done beyond it to tell.
            if (text == kReallyStopQuestion && c.reallyStopAnswer == kIdYes &&
                std::string(threads) != "1") {
                WaitFor([&] { return platform::Exists(watched) == c.copy; });
            }
            return text == kContinueQuestion     ? c.continueAnswer
                   : text == kReallyStopQuestion ? c.reallyStopAnswer
                                                 : kIdOk;
        };
        RecordingListener listener;
        ui.SetChangeListener(&listener);
        const ScopedThreads scoped(threads);
        const int result = c.copy ? CopyFileList(tmp_ / "run/src", base, Names(names), c.quiet, ui)
                                  : DeleteFileList(base, Names(names), ui);
        platform::ClearFaultsForTesting();
        EXPECT_FALSE(listener.offThread);
        EXPECT_EQ(ui.messages.unscripted(), 0u);
        const auto windows = ui.windows();
        EXPECT_EQ(windows.size(), 1u);
        return {SnapshotTree(tmp_ / "run"), tmp_.readLog(), listener.told,
                std::tuple(result, BoxesOf(ui), ui.failures(), windows.size(),
                           windows.at(0).statusTexts, windows.at(0).cancelChecks,
                           windows.at(0).stepBarCalls, windows.at(0).destroyed)};
    }

    // Runs the case one item after the other and with workers on the same tree and compares.
    void Compare(const Case& c, std::uint32_t seed) {
        const TreePlan plan = PlanTree(seed, c.withReadOnly);
        const Observed one = Run(c, plan, "1"), many = Run(c, plan, "8");
        const std::vector<std::string> names = NamesOf(c, plan);
        EXPECT_EQ(many.shown, one.shown);  // boxes, failures, progress
        // The items told in turn are the same; those carried out ahead of a stop follow, in list
        // order, each beyond the item the list stopped at (whose bar step was not taken).
        ASSERT_GE(many.told.size(), one.told.size());
        EXPECT_TRUE(std::equal(one.told.begin(), one.told.end(), many.told.begin()));
        const std::vector<Told> ahead(many.told.begin() + static_cast<long>(one.told.size()),
                                      many.told.end());
        const int stopItem = std::get<6>(one.shown);
        const bool stopped = static_cast<std::size_t>(stopItem) < names.size();
        EXPECT_TRUE(stopped ? !ahead.empty() || c.reallyStopAnswer != kIdYes : ahead.empty());
        const std::string note = Format("中止の前に %zu 個の項目が処理済みでした。", ahead.size());
        EXPECT_EQ(many.log, one.log + (ahead.empty() ? "" : Logged(note)));
        // The tree: whole copies (or deletions) of the items done ahead, and nothing else but
        // folders made on the way to items beyond the stop.
        Items expected = one.tree;
        long previous = stopItem - 1;
        for (const auto& [what, name] : ahead) {
            const long item = std::find(names.begin(), names.end(), name) - names.begin();
            EXPECT_GT(item, std::exchange(previous, item)) << name;
            if (c.copy) {
                expected["dst/" + name] = one.tree.at("src/" + name);
            } else {
                expected.erase("dst/" + name);
            }
        }
        Items actual = many.tree;
        std::erase_if(actual, [&](const auto& item) {
            return item.second.kind == 'd' && !expected.count(item.first) && stopped &&
                   std::any_of(names.begin() + stopItem, names.end(), [&](const std::string& n) {
                       return ("dst/" + n).starts_with(item.first + "/");
                   });
        });
        EXPECT_EQ(DescribeDifferences(expected, actual), "");
    }
};

TEST_F(ParallelListTest, WorkersAheadChangeNothingTheUserMeets) {
    using F = FaultCall;
    const Case cases[] = {
        {.copy = true, .withReadOnly = true},
        {.copy = true, .fault = F::OpenRead, .retries = 1},
        {.copy = true, .fault = F::OpenRead, .continueAnswer = kIdNo},
        {.copy = true, .quiet = 1, .fault = F::OpenRead},
        {.copy = true, .withReadOnly = true, .fault = F::Rename, .continueAnswer = kIdNo},
        {.copy = true, .quiet = 1, .withReadOnly = true, .fault = F::Rename},
        {.copy = true, .fault = F::CreateFolder},
        {.copy = true, .quiet = 1, .fault = F::CreateFolder},
        {.copy = true, .reallyStopAnswer = kIdYes},
        {.copy = true, .reallyStopAnswer = kIdNo},
        {.copy = false},
        {.copy = false, .fault = F::Delete},
        {.copy = false, .reallyStopAnswer = kIdYes},
        {.copy = false, .reallyStopAnswer = kIdNo}};
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        for (const std::uint32_t seed : {1u, 2u, 3u}) {
            SCOPED_TRACE(testing::Message() << "case " << i << ", seed " << seed);
            Compare(cases[i], seed);
        }
    }
}

// Two names that differ in letter case alone are one file where case is ignored; the later is
// copied by the list itself, in its turn, never by a worker ahead of it.
TEST_F(ParallelListTest, NamesDifferingInCaseAloneAreCopiedInTurn) {
    tmp_.createFile("src/A.txt", "upper");
    tmp_.createFile("src/a.txt", "lower, and longer");
    std::atomic<bool> laterByCaller = false;
    const std::thread::id caller = std::this_thread::get_id();
    SetCopyStartHookForTesting([&](int sourceFd, int) {
        struct stat st {};
        laterByCaller = laterByCaller || (::fstat(sourceFd, &st) == 0 && st.st_size == 17 &&
                                          std::this_thread::get_id() == caller);
    });
    const ScopedThreads scoped("8");
    EXPECT_EQ(CopyFileList(tmp_ / "src", tmp_ / "dst", Names{"A.txt", "a.txt"}, 0, ui_), 1);
    EXPECT_EQ(tmp_.read("dst/a.txt"), "lower, and longer");
    EXPECT_TRUE(laterByCaller);
    EXPECT_EQ(TakeLog(), "");
}

// The number of workers: the variable's when it is a number of 1 or more, else by file system.
TEST_F(ParallelListTest, WorkerCountFollowsTheVariable) {
    const int byFileSystem = platform::IsNetworkFileSystem(tmp_.path()) ? kNetworkWorkers : 1;
    EXPECT_EQ(AheadWorkerCount(tmp_.path()), byFileSystem);
    for (const auto& [value, workers] :
         {std::pair{"3", 3}, {"1000", 64}, {"0", byFileSystem}, {"4x", byFileSystem}}) {
        const ScopedThreads scoped(value);
        EXPECT_EQ(AheadWorkerCount(tmp_.path()), workers) << value;
    }
}

struct CountingAttempt : ItemAttempt {  // every attempt succeeds
    explicit CountingAttempt(std::atomic<int>& count) : count_(count) {}
    bool Attempt(std::size_t) override { return ++count_ > 0; }
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
    WaitFor([&] { return attempts >= 11; });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(ahead.Stop(), (std::vector<std::size_t>{2, 3, 4, 5, 6, 7, 8, 9, 10}));
    EXPECT_EQ(attempts, 11);
    EXPECT_FALSE(ahead.Await(11));  // after a stop nothing more is done
}

}  // namespace
}  // namespace mirova::test
