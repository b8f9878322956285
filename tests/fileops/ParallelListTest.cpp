// Copy and delete lists carried out by workers ahead of the list, against the same lists worked
// through one item after the other: on random trees, with and without failures and stops, the
// user must meet the same boxes, log lines, progress and change record, and find the same tree.
#include <algorithm>
#include <atomic>
#include <functional>
#include <random>
#include <thread>

#include "FileOpsTesting.h"
#include "fileops/AheadWorkers.h"
#include "fileops/WorkAhead.h"

namespace mirova::test {
namespace {

using platform::FaultCall;
using Told = std::pair<ItemDone, std::string>;

struct ScopedThreads {  // sets the number of workers while it lives
    explicit ScopedThreads(const char* threads) { ::setenv(kCopyThreadsVariable, threads, 1); }
    ~ScopedThreads() { ::unsetenv(kCopyThreadsVariable); }
};

void WaitFor(const std::function<bool()>& done) {  // for at most 20 seconds
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!done() && std::chrono::steady_clock::now() < until) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

// The run's change record, and whether anything was told off the thread that runs the list.
struct RecordingListener : ChangeListener {
    void OnItemDone(ItemDone what, const std::string&, const char* name) override {
        OnFailure(name);
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
// destination holds some of the folders (never the last, so that every copy makes one) and
// older copies of some files, some read-only.
struct File {
    std::size_t size;
    bool link, old, readOnly;
};
struct Tree {
    std::vector<std::string> folders;   // parents first
    std::set<std::string> oldFolders;   // those in the destination
    std::map<std::string, File> files;  // in the order of the copy list
};

Tree PlanTree(std::uint32_t seed, bool withReadOnly) {
    std::mt19937 random(seed);
    const auto below = [&random](int n) { return static_cast<int>(random() % n); };
    Tree tree;
    const int folders = 4 + below(8);
    const auto inDestination = [&](int folder) {
        return folder < 0 || tree.oldFolders.count(tree.folders[folder]) > 0;
    };
    for (int folder = 0; folder < folders; ++folder) {
        const int parent = below(folder + 1) - 1;  // -1: the base
        tree.folders.push_back((parent < 0 ? "" : tree.folders[parent] + "/") +
                               Format("k%02d", folder));
        if (folder + 1 < folders && inDestination(parent) && below(2) == 0) {
            tree.oldFolders.insert(tree.folders.back());
        }
    }
    for (int file = 0, files = 40 + below(40); file < files; ++file) {
        const int folder = file == 0 ? folders - 1 : below(folders + 1) - 1;
        const bool old = inDestination(folder) && below(3) == 0;
        tree.files[(folder < 0 ? "" : tree.folders[folder] + "/") + Format("f%03d.txt", file)] = {
            below(4) == 0 ? 0u : 1u + below(20000), below(8) == 0, old,
            old && withReadOnly && below(6) == 0};
    }
    return tree;
}

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

// What one run of a list showed and left behind.
struct Observed {
    Items tree;
    std::string log;
    std::vector<Told> told;
    std::tuple<int, Boxes, int, std::vector<std::string>, int, int, bool> shown;
};

class ParallelListTest : public FileOpsTest {
protected:
    // The item in the middle of the list, or the nearest after it (then before it) that fits.
    std::size_t MiddleItem(const std::function<bool(const std::string&)>& fits) const {
        std::size_t item = names_.size() / 2;
        for (std::size_t step = 0; step < names_.size() && !fits(names_[item]); ++step) {
            item = (item + 1) % names_.size();
        }
        return item;
    }

    // Builds the tree afresh and runs the case's list with `threads` workers.
    Observed Run(const Case& c, const Tree& tree, const char* threads) {
        std::filesystem::remove_all(tmp_ / "run");
        std::filesystem::remove_all(tmp_.logDir());
        for (const std::string& folder : tree.folders) {
            tmp_.createFolder("run/src/" + folder);
            tmp_.createFolder(tree.oldFolders.count(folder) ? "run/dst/" + folder : "run/dst");
        }
        for (const auto& [name, file] : tree.files) {
            const std::string from = tmp_ / "run/src/" + name, to = tmp_ / "run/dst/" + name;
            if (file.link) {
                EXPECT_EQ(::symlink(("to-" + name).c_str(), from.c_str()), 0);
                SetModificationTime(from, kOldTime);
            } else {
                tmp_.createFile("run/src/" + name, name + Pattern(file.size), kOldTime + file.size);
            }
            if (file.old) {
                tmp_.createFile("run/dst/" + name, "older " + name, kOldTime);
            }
            EXPECT_EQ(file.readOnly ? ::chmod(to.c_str(), 0444) : 0, 0);
        }
        const auto is = [&](const std::string& name, bool File::*what) {
            return tree.files.count(name) && tree.files.at(name).*what;
        };
        // The fault: on the middle item (one in the destination for a delete), or on the folder
        // the copy must make in every tree.
        const std::string faulty =
            c.fault == FaultCall::CreateFolder
                ? tree.folders.back()
                : names_[MiddleItem([&](const std::string& name) {
                      return c.fault != FaultCall::Delete || is(name, &File::old);
                  })];
        if (c.fault != FaultCall::Read) {
            platform::InjectFaultForTesting(c.fault, c.fault == FaultCall::Rename ? EBUSY : EACCES,
                                            faulty.substr(faulty.rfind('/') + 1));
        }
        const std::string base = tmp_ / "run/dst";
        RuleUi ui;
        std::string watched;  // an item that a worker surely carries out, ahead of a stop
        if (c.reallyStopAnswer) {
            const std::size_t item = MiddleItem([&](const std::string& name) {
                return c.copy ? !is(name, &File::old) && !is(name, &File::link)
                              : is(name, &File::old);
            });
            watched = base + "/" + names_[item];
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
        const int result = c.copy ? CopyFileList(tmp_ / "run/src", base, Names(names_), c.quiet, ui)
                                  : DeleteFileList(base, Names(names_), ui);
        platform::ClearFaultsForTesting();
        EXPECT_FALSE(listener.offThread);
        EXPECT_EQ(ui.messages.unscripted(), 0u);
        const auto windows = ui.windows();
        EXPECT_EQ(windows.size(), 1u);
        const auto& window = windows.at(0);
        return {SnapshotTree(tmp_ / "run"), tmp_.readLog(), listener.told,
                std::tuple(result, BoxesOf(ui), ui.failures(), window.statusTexts,
                           window.cancelChecks, window.stepBarCalls, window.destroyed)};
    }

    // Runs the case one item after the other and with workers on the same tree and compares.
    void Compare(const Case& c, std::uint32_t seed) {
        const Tree tree = PlanTree(seed, c.withReadOnly);
        names_.clear();
        if (c.copy) {
            for (const auto& [name, file] : tree.files) {
                names_.push_back(name);
            }
        } else {  // some of the older copies, and two names that are not there
            names_ = {"gone.txt", tree.folders.front() + "/gone-too.txt"};
            std::mt19937 random(seed ^ 0xde1u);
            for (const auto& [name, file] : tree.files) {
                if (file.old && random() % 4 != 0) {
                    names_.push_back(name);
                }
            }
            std::sort(names_.begin(), names_.end());
        }
        const Observed one = Run(c, tree, "1"), many = Run(c, tree, "8");
        EXPECT_EQ(many.shown, one.shown);  // boxes, failures, progress
        // The items told in turn are the same; those carried out ahead of a stop follow, in list
        // order, each beyond the item the list stopped at (whose bar step was not taken).
        ASSERT_GE(many.told.size(), one.told.size());
        EXPECT_TRUE(std::equal(one.told.begin(), one.told.end(), many.told.begin()));
        const std::vector<Told> ahead(many.told.begin() + static_cast<long>(one.told.size()),
                                      many.told.end());
        const int stopItem = std::get<5>(one.shown);
        const bool stopped = static_cast<std::size_t>(stopItem) < names_.size();
        EXPECT_TRUE(stopped ? !ahead.empty() || c.reallyStopAnswer != kIdYes : ahead.empty());
        const std::string note = Format("中止の前に %zu 個の項目が処理済みでした。", ahead.size());
        EXPECT_EQ(many.log, one.log + (ahead.empty() ? "" : Logged(note)));
        // The tree: whole copies (or deletions) of the items done ahead, and nothing else but
        // folders made on the way to items beyond the stop.
        Items expected = one.tree;
        long previous = stopItem - 1;
        for (const auto& [what, name] : ahead) {
            const long item = std::find(names_.begin(), names_.end(), name) - names_.begin();
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
                   std::any_of(names_.begin() + stopItem, names_.end(), [&](const std::string& n) {
                       return ("dst/" + n).starts_with(item.first + "/");
                   });
        });
        EXPECT_EQ(DescribeDifferences(expected, actual), "");
    }

    std::vector<std::string> names_;  // the list of the case
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
    EXPECT_EQ(tmp_.read("dst/a.txt") + TakeLog(), "lower, and longer");
    EXPECT_TRUE(laterByCaller);
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

// Workers never get further ahead than the window, and a stop reports what they did beyond the
// items awaited.
TEST_F(ParallelListTest, WorkersStayWithinTheWindow) {
    struct CountingAttempt : ItemAttempt {  // every attempt succeeds
        explicit CountingAttempt(std::atomic<int>& count) : count_(count) {}
        bool Attempt(std::size_t) override { return ++count_ > 0; }
        std::atomic<int>& count_;
    };
    std::atomic<int> attempts{0};
    std::vector<std::unique_ptr<ItemAttempt>> workers;
    for (int worker = 0; worker < 3; ++worker) {
        workers.push_back(std::make_unique<CountingAttempt>(attempts));
    }
    WorkAhead ahead(100, std::move(workers), 10);
    EXPECT_TRUE(ahead.Await(0) && ahead.Await(1));
    // Item 1 awaited: items up to 10 may be done, and no more.
    WaitFor([&] { return attempts >= 11; });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(ahead.Stop(), (std::vector<std::size_t>{2, 3, 4, 5, 6, 7, 8, 9, 10}));
    EXPECT_EQ(attempts, 11);
    EXPECT_FALSE(ahead.Await(11));  // after a stop nothing more is done
}

}  // namespace
}  // namespace mirova::test
