// Convergence soak: random changes to real trees, then the real executable, then an independent
// walk of both trees against a small model of what a sync or a merge must leave.
// MIROVA_SOAK_ROUNDS sets the number of rounds (a long soak), MIROVA_SOAK_SEED the first seed.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <thread>

#include <gtest/gtest.h>

#include "TempDir.h"
#include "TreeSnapshot.h"

namespace mirova::soak {
namespace {

namespace fs = std::filesystem;
using Tree = std::map<std::string, test::ItemSnapshot>;
constexpr std::int64_t kSecond = 1'000'000'000LL;
constexpr int kChanges = 40;
constexpr int kMaxDepth = 3;

int EnvInt(const char* name, int fallback) {
    const char* text = std::getenv(name);
    return text != nullptr && *text != '\0' ? std::atoi(text) : fallback;
}

// Folder times and modes are not mirrored; everything else of files and links is.
Tree Read(const std::string& root) {
    Tree tree = test::SnapshotTree(root);
    for (auto& [name, item] : tree) {
        if (item.kind == 'd') {
            item.mode = 0;
        }
    }
    return tree;
}

void SetTime(const std::string& path, std::int64_t ns) {
    const timespec times[2] = {{ns / kSecond, ns % kSecond}, {ns / kSecond, ns % kSecond}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW), 0) << path;
}

void WriteFile(const std::string& path, const std::string& data) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << data;
}

// Nanoseconds since 1970 as the 100 ns ticks since 1601 that the comparison uses.
std::uint64_t Ticks(std::int64_t ns) {
    return static_cast<std::uint64_t>(ns / 100 + 116'444'736'000'000'000LL);
}

// Random changes to one tree. New names are unique over the whole soak (a counter and the side's
// tag), so that the two sides of a merge never create the same name.
class Mutator {
public:
    Mutator(std::mt19937_64& rng, std::string root, char tag, int& counter, bool merge)
        : rng_(rng), root_(std::move(root)), tag_(tag), counter_(counter), merge_(merge) {}

    // Source files changed with the same size and a time within a second: taken as unchanged,
    // so the target keeps the version recorded here.
    Tree sameLooking;

    void Apply(int changes) {
        const Tree start = Read(root_);
        for (int i = 0; i < changes; ++i) {
            const Tree tree = Read(root_);
            std::vector<std::string> files, folders{""}, links, all;
            for (const auto& [name, item] : tree) {
                all.push_back(name);
                (item.kind == 'f' ? files : item.kind == 'd' ? folders : links).push_back(name);
            }
            const std::string folder = Pick(folders);
            const std::string file = Pick(files);
            const std::string any = Pick(all);
            // A merge deletes nothing, takes equal-looking files as they are and never meets a
            // name that is a file on one side and a folder on the other: its changes are 0 to 8.
            switch (Pick(merge_ ? 9 : 12)) {
                case 0:
                case 1:
                    CreateFile(folder);
                    break;
                case 2:
                    if (Depth(folder) < kMaxDepth) {
                        const std::string rel = Child(folder);
                        ASSERT_EQ(::mkdir(Full(rel).c_str(), 0755), 0);
                        CreateFile(rel);
                    }
                    break;
                case 3:
                    if (Depth(folder) < kMaxDepth) {
                        const std::string rel = Child(folder);
                        // Dangling, relative to an item of the tree, or absolute outside it.
                        const std::string to = Pick(3) == 0   ? "nowhere/" + NewName()
                                               : Pick(2) == 0 ? "../" + any
                                                              : "/etc/hostname";
                        ASSERT_EQ(::symlink(to.c_str(), Full(rel).c_str()), 0);
                        SetTime(Full(rel), SomeTime());
                    }
                    break;
                case 4:  // new content and time
                    if (!file.empty()) {
                        Forget(file);
                        WriteFile(Full(file), Content());
                        SetTime(Full(file), NewTime(tree.at(file).mtimeNs));
                    }
                    break;
                case 5:  // a mode change is carried with the change of time that comes with it
                    if (!file.empty()) {
                        static const mode_t modes[] = {0600, 0640, 0644, 0664, 0700, 0755};
                        Forget(file);
                        ASSERT_EQ(::chmod(Full(file).c_str(), modes[Pick(6)]), 0);
                        SetTime(Full(file), NewTime(tree.at(file).mtimeNs));
                    }
                    break;
                case 6:
                    Rename(any, folder);
                    break;
                case 7:
                    if (const std::string link = Pick(links); !link.empty()) {
                        ::unlink(Full(link).c_str());
                        ASSERT_EQ(::symlink(("changed/" + NewName()).c_str(), Full(link).c_str()),
                                  0);
                        SetTime(Full(link), NewTime(tree.at(link).mtimeNs));
                    }
                    break;
                case 8:
                    if (!any.empty()) {
                        Forget(any);
                        fs::remove_all(Full(any));
                    }
                    break;
                case 9:
                    if (tag_ == 's' && !file.empty() && start.count(file) != 0) {
                        SameLooking(file, tree.at(file));
                    }
                    break;
                case 10:  // a name that changes kind: the old target item must go first
                    if (!file.empty()) {
                        Forget(file);
                        ASSERT_EQ(::unlink(Full(file).c_str()), 0);
                        ASSERT_EQ(::mkdir(Full(file).c_str(), 0755), 0);
                        CreateFile(file);
                    }
                    break;
                case 11:
                    if (!folder.empty()) {
                        Forget(folder);
                        fs::remove_all(Full(folder));
                        WriteFile(Full(folder), Content());
                        SetTime(Full(folder), SomeTime());
                    }
                    break;
            }
        }
    }

private:
    std::size_t Pick(std::size_t n) {
        return std::uniform_int_distribution<std::size_t>(0, n - 1)(rng_);
    }
    // "" stands for none: the root is never picked as an item to change.
    std::string Pick(const std::vector<std::string>& names) {
        return names.empty() ? std::string() : names[Pick(names.size())];
    }
    std::string Full(const std::string& rel) const {
        return rel.empty() ? root_ : root_ + "/" + rel;
    }
    static int Depth(const std::string& rel) {
        return rel.empty() ? 0 : 1 + static_cast<int>(std::count(rel.begin(), rel.end(), '/'));
    }
    // Plain names, blanks and line breaks, bytes that are not UTF-8, the longest name allowed.
    std::string NewName() {
        const std::string n = std::string(1, tag_) + std::to_string(++counter_);
        const std::string names[] = {n, "with  space " + n + " ", "new\nline" + n,
                                     "bad\xff\xfe" + n + "\xc3",
                                     n + std::string(255 - n.size(), 'L')};
        return names[Pick(5)];
    }
    std::string Child(const std::string& folder) {
        return folder.empty() ? NewName() : folder + "/" + NewName();
    }
    std::string Content() {
        static const std::size_t sizes[] = {0, 1, 100, 4096, 70'000};
        std::string data(sizes[Pick(5)] + Pick(50), '\0');
        std::generate(data.begin(), data.end(), [this] { return static_cast<char>(rng_()); });
        return data;
    }
    // Within the last ten years, in whole microseconds.
    std::int64_t SomeTime() {
        return (1'700'000'000LL - static_cast<std::int64_t>(Pick(315'000'000))) * kSecond +
               static_cast<std::int64_t>(Pick(1'000'000)) * 1000;
    }
    // Later by at least ten seconds (the sides of a merge by different steps, so that their
    // changes of one file never come within two seconds), or in a sync also earlier.
    std::int64_t NewTime(std::int64_t old) {
        const auto step = static_cast<std::int64_t>(Pick(1000));
        if (merge_ || Pick(2) == 0) {
            return old + (10 * (1 + step) + (tag_ == 't' ? 5 : 0)) * kSecond;
        }
        return old - (3 + step * 100) * kSecond;
    }
    void Forget(const std::string& rel) {
        std::erase_if(sameLooking, [&](const auto& entry) {
            return entry.first == rel || entry.first.rfind(rel + "/", 0) == 0;
        });
    }
    void CreateFile(const std::string& folder) {
        if (Depth(folder) >= kMaxDepth) {
            return;
        }
        const std::string rel = Child(folder);
        WriteFile(Full(rel), Content());
        ::chmod(Full(rel).c_str(), Pick(2) == 0 ? 0644 : 0600);
        SetTime(Full(rel), SomeTime());
    }
    // Within one second and without crossing a change of the time's high half, where the
    // two-second tolerance of the comparison stops.
    void SameLooking(const std::string& rel, const test::ItemSnapshot& old) {
        const std::int64_t later = old.mtimeNs + static_cast<std::int64_t>(Pick(1000)) * 1'000'000;
        if (sameLooking.count(rel) != 0 || old.content.empty() ||
            (Ticks(later) >> 32) != (Ticks(old.mtimeNs) >> 32)) {
            return;
        }
        std::string data = old.content;
        data[Pick(data.size())] ^= 0x5a;
        sameLooking[rel] = old;
        WriteFile(Full(rel), data);
        SetTime(Full(rel), later);
    }
    void Rename(const std::string& rel, const std::string& folder) {
        if (rel.empty() || Depth(folder) >= kMaxDepth || folder == rel ||
            folder.rfind(rel + "/", 0) == 0) {
            return;
        }
        int below = 0;
        for (const auto& [name, item] : Read(root_)) {
            if (name.rfind(rel + "/", 0) == 0) {
                below = std::max(below, Depth(name) - Depth(rel));
            }
        }
        const std::string to = Child(folder);
        if (Depth(to) + below <= kMaxDepth) {
            Forget(rel);
            ASSERT_EQ(::rename(Full(rel).c_str(), Full(to).c_str()), 0);
        }
    }

    std::mt19937_64& rng_;
    std::string root_;
    char tag_;
    int& counter_;
    bool merge_;
};

// Starts the real executable with its output in the scratch folder; a hang is killed.
std::pair<int, std::string> RunMirova(const std::string& scratch, std::vector<std::string> args) {
    const std::string outPath = scratch + "/output.txt";
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ::dup2(::open("/dev/null", O_RDONLY), 0);
        ::dup2(out, 1);
        ::dup2(out, 2);
        std::vector<char*> argv{const_cast<char*>(MIROVA_EXE)};
        for (std::string& a : args) {
            argv.push_back(a.data());
        }
        argv.push_back(nullptr);
        ::execv(MIROVA_EXE, argv.data());
        ::_exit(127);
    }
    int status = 0;
    for (int waited = 0; ::waitpid(pid, &status, WNOHANG) == 0; ++waited) {
        if (waited == 12000) {  // two minutes
            ::kill(pid, SIGKILL);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    std::ifstream in(outPath, std::ios::binary);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status),
            std::string(std::istreambuf_iterator<char>(in), {}).substr(0, 4000)};
}

class Soak : public ::testing::Test {
protected:
    void SetUp() override {
        ::setenv("XDG_CONFIG_HOME", (dir_ / "config").c_str(), 1);
        ::setenv("MIROVA_LOCK_DIR", dir_.logDir().c_str(), 1);
        fs::create_directories(src_);
        fs::create_directories(dst_);
    }
    test::TempDir dir_;  // also points MIROVA_LOG_DIR at its own folder
    std::string src_ = dir_ / "src";
    std::string dst_ = dir_ / "dst";
};

TEST_F(Soak, SyncAndMergeConverge) {
    const int rounds = EnvInt("MIROVA_SOAK_ROUNDS", 80);
    const int firstSeed = EnvInt("MIROVA_SOAK_SEED", 1);
    int counter = 0;
    for (int round = 0; round < rounds; ++round) {
        const int seed = firstSeed + round;
        std::mt19937_64 rng(static_cast<std::uint64_t>(seed));
        const bool merge = round % 4 == 3;  // the first round builds the trees with a sync
        SCOPED_TRACE("round " + std::to_string(round) + ", seed " + std::to_string(seed) +
                     (merge ? " (merge)" : " (sync)"));
        Mutator source(rng, src_, 's', counter, merge);
        Mutator target(rng, dst_, 't', counter, merge);
        source.Apply(round == 0 ? 4 * kChanges : kChanges);
        // A sync must also clear what was changed in the target behind its back.
        target.Apply(merge ? kChanges : kChanges / 8);
        ASSERT_FALSE(HasFatalFailure());

        const Tree sourceBefore = Read(src_);
        const Tree targetBefore = Read(dst_);
        const auto [status, output] =
            RunMirova(dir_.path(), {merge ? "--merge" : "--sync", src_, dst_, "--yes",
                                    "--no-stop-on-error", "--allow-mass-delete"});
        // The model: a merge leaves every name of either side on both, a file in its later
        // version; a sync makes the target the source, except for files that only look
        // unchanged, which keep the target's old version unless it was changed there too.
        Tree expected = sourceBefore;
        if (merge) {
            for (const auto& [name, item] : targetBefore) {
                const auto found = expected.find(name);
                if (found == expected.end() || item.mtimeNs > found->second.mtimeNs) {
                    expected[name] = item;
                }
            }
        } else {
            for (const auto& [name, old] : source.sameLooking) {
                const auto found = targetBefore.find(name);
                if (found != targetBefore.end() && found->second == old) {
                    expected[name] = old;
                }
            }
        }
        const std::string sourceDiff =
            test::DescribeDifferences(merge ? expected : sourceBefore, Read(src_));
        const std::string targetDiff = test::DescribeDifferences(expected, Read(dst_));
        ASSERT_EQ(sourceDiff + targetDiff, "") << "source above, target below\noutput:\n"
                                               << output << "log:\n"
                                               << dir_.readLog();
        ASSERT_EQ(status, 0) << output;
        // Files that only looked unchanged get a new time, so that the next round carries them.
        for (const auto& [name, old] : source.sameLooking) {
            SetTime(src_ + "/" + name, old.mtimeNs + 7 * kSecond);
        }
    }
}

// A target given as a relative path gets its folders too.
TEST_F(Soak, SyncCreatesFoldersBelowARelativeTarget) {
    dir_.createFile("src/sub/a", "a");
    const fs::path previous = fs::current_path();
    fs::current_path(dir_.path());
    const auto [status, output] =
        RunMirova(dir_.path(), {"--sync", "src", "dst", "--yes", "--no-stop-on-error"});
    fs::current_path(previous);
    EXPECT_EQ(status, 0) << output;
    EXPECT_EQ(test::DescribeDifferences(Read(src_), Read(dst_)), "") << dir_.readLog();
}

}  // namespace
}  // namespace mirova::soak
