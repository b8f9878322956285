// Convergence soak: random changes to real trees, then the real executable, then an independent
// walk of both trees. MIROVA_SOAK_ROUNDS sets the number of rounds (a long soak), MIROVA_SOAK_SEED
// the first seed; each round's seed is printed when it fails.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>

#include "SoakTree.h"
#include "TempDir.h"

namespace mirova::soak {
namespace {

namespace fs = std::filesystem;

// The default run takes well under a minute (half a second a round).
constexpr int kDefaultRounds = 80;
constexpr int kChangesPerRound = 40;
constexpr int kMaxDepth = 3;
constexpr std::int64_t kSecond = 1'000'000'000LL;

int EnvInt(const char* name, int fallback) {
    const char* text = std::getenv(name);
    return text != nullptr && *text != '\0' ? std::atoi(text) : fallback;
}

void SetTime(const std::string& path, std::int64_t ns) {
    const timespec times[2] = {{ns / kSecond, ns % kSecond}, {ns / kSecond, ns % kSecond}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW), 0) << path;
}

void WriteFile(const std::string& path, const std::string& data) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << data;
    ASSERT_TRUE(out.good()) << Printable(path);
}

// Applies random changes to one tree. Every new name is unique over the whole soak (a counter and
// the side's tag), so that the two sides of a merge never create the same name.
class Mutator {
public:
    Mutator(std::mt19937_64& rng, std::string root, char tag, int& counter)
        : rng_(rng), root_(std::move(root)), tag_(tag), counter_(counter) {}

    // Files whose content changed with the same size and a time within two seconds: Mirova
    // takes them as unchanged, so the target must still hold the content recorded here.
    std::map<std::string, Item> sameLooking;
    bool mergeMode = false;
    Tree roundStart;  // the tree before this round's changes

    void Apply(int changes) {
        for (int i = 0; i < changes; ++i) {
            const Tree tree = ReadTree(root_);
            std::vector<std::string> files, folders{""}, links, all;
            for (const auto& [name, item] : tree) {
                all.push_back(name);
                (item.kind == Item::kFile     ? files
                 : item.kind == Item::kFolder ? folders
                                              : links)
                    .push_back(name);
            }
            switch (Pick(mergeMode ? 9 : 12)) {
                case 0:
                case 1:
                    CreateFile(Pick(folders));
                    break;
                case 2:
                    CreateFolder(Pick(folders));
                    break;
                case 3:
                    CreateLink(Pick(folders), all);
                    break;
                case 4:
                    ModifyContentAndTime(Pick(files), tree);
                    break;
                case 5:
                    ChangeMode(Pick(files), tree);
                    break;
                case 6:
                    Rename(Pick(all), Pick(folders));
                    break;
                case 7:
                    ChangeLink(Pick(links), tree);
                    break;
                case 8:
                    Delete(Pick(all));
                    break;
                // Not in a merge, which takes equal-looking files as they are on each side,
                // deletes nothing, and never carries a name that is a file on one side and a
                // folder on the other.
                case 9:
                    ModifySameLooking(Pick(files), tree);
                    break;
                // A name that changes kind: the target item of the old kind must be removed
                // before the new one can take its place.
                case 10:
                    FileToFolder(Pick(files));
                    break;
                case 11:
                    FolderToFile(Pick(folders));
                    break;
            }
        }
    }

private:
    std::size_t Pick(std::size_t n) {
        return std::uniform_int_distribution<std::size_t>(0, n - 1)(rng_);
    }
    std::string Pick(const std::vector<std::string>& names) {
        return names.empty() ? std::string("\x01") : names[Pick(names.size())];
    }
    static bool None(const std::string& name) { return name == "\x01"; }
    std::string Full(const std::string& rel) const {
        return rel.empty() ? root_ : root_ + "/" + rel;
    }
    static int Depth(const std::string& rel) {
        return rel.empty() ? 0 : 1 + static_cast<int>(std::count(rel.begin(), rel.end(), '/'));
    }

    std::string NewName() {
        const std::string n = std::string(1, tag_) + std::to_string(++counter_);
        switch (Pick(5)) {
            case 0:
                return n;
            case 1:
                return "with  space " + n + " ";
            case 2:
                return "new\nline" + n;
            case 3:
                return "bad\xff\xfe" + n + "\xc3";
            default:
                return n + std::string(255 - n.size(), 'L');
        }
    }
    std::string Child(const std::string& folder) {
        const std::string name = NewName();
        return folder.empty() ? name : folder + "/" + name;
    }
    std::string Content() {
        static const std::size_t sizes[] = {0, 1, 100, 4096, 70'000};
        std::string data(sizes[Pick(5)] + Pick(50), '\0');
        for (char& c : data) {
            c = static_cast<char>(rng_());
        }
        return data;
    }
    // A time within the last ten years, in whole microseconds.
    std::int64_t SomeTime() {
        return (1'700'000'000LL - static_cast<std::int64_t>(Pick(315'000'000))) * kSecond +
               static_cast<std::int64_t>(Pick(1'000'000)) * 1000;
    }
    // A later time than `old`, at least three seconds on; the two sides of a merge use different
    // steps so that their changes of one file never land within two seconds of each other.
    std::int64_t LaterTime(std::int64_t old) {
        const std::int64_t step =
            10 * (1 + static_cast<std::int64_t>(Pick(1000))) + (tag_ == 't' ? 5 : 0);
        return old + step * kSecond;
    }
    std::int64_t NewTime(std::int64_t old) {
        return mergeMode || Pick(2) == 0
                   ? LaterTime(old)
                   : old - (3 + static_cast<std::int64_t>(Pick(100000))) * kSecond;
    }
    void Forget(const std::string& rel) {
        for (auto it = sameLooking.begin(); it != sameLooking.end();) {
            it = it->first == rel || it->first.rfind(rel + "/", 0) == 0 ? sameLooking.erase(it)
                                                                        : std::next(it);
        }
    }

    void CreateFile(const std::string& folder) {
        if (Depth(folder) >= kMaxDepth)
            return;
        const std::string rel = Child(folder);
        WriteFile(Full(rel), Content());
        ::chmod(Full(rel).c_str(), Pick(2) == 0 ? 0644 : 0600);
        SetTime(Full(rel), SomeTime());
    }
    void CreateFolder(const std::string& folder) {
        if (Depth(folder) >= kMaxDepth)
            return;
        const std::string rel = Child(folder);
        ASSERT_EQ(::mkdir(Full(rel).c_str(), 0755), 0);
        if (Pick(2) == 0)
            CreateFile(rel);
    }
    void CreateLink(const std::string& folder, const std::vector<std::string>& all) {
        if (Depth(folder) >= kMaxDepth)
            return;
        const std::string rel = Child(folder);
        // Dangling, relative to an item of the tree, or absolute outside it.
        const std::string target = Pick(3) == 0   ? "nowhere/" + NewName()
                                   : Pick(2) == 0 ? "../" + Pick(all)
                                                  : "/etc/hostname";
        ASSERT_EQ(::symlink(target.c_str(), Full(rel).c_str()), 0);
        SetTime(Full(rel), SomeTime());
    }
    void ChangeLink(const std::string& rel, const Tree& tree) {
        if (None(rel))
            return;
        ::unlink(Full(rel).c_str());
        ASSERT_EQ(::symlink(("changed/" + NewName()).c_str(), Full(rel).c_str()), 0);
        SetTime(Full(rel), NewTime(tree.at(rel).mtimeNs));
    }
    void ModifyContentAndTime(const std::string& rel, const Tree& tree) {
        if (None(rel))
            return;
        Forget(rel);
        WriteFile(Full(rel), Content());
        SetTime(Full(rel), NewTime(tree.at(rel).mtimeNs));
    }
    // A mode change alone leaves size and time as they were, and Mirova, like the program it
    // follows, compares only those two: the change is carried with the next change of time.
    void ChangeMode(const std::string& rel, const Tree& tree) {
        if (None(rel))
            return;
        Forget(rel);
        // Read-only files are left out: a read-only destination is never replaced, by design.
        static const mode_t modes[] = {0600, 0640, 0644, 0664, 0666, 0700, 0750, 0755};
        ASSERT_EQ(::chmod(Full(rel).c_str(), modes[Pick(8)]), 0);
        SetTime(Full(rel), NewTime(tree.at(rel).mtimeNs));
    }
    void ModifySameLooking(const std::string& rel, const Tree& tree) {
        // Only in the source: the checker expects the target copy to stay as it was.
        if (tag_ != 's' || None(rel) || sameLooking.count(rel) != 0 || !roundStart.count(rel))
            return;
        const Item& old = tree.at(rel);
        // Within one second, and without crossing a change of the time's high half, where
        // Mirova's comparison stops tolerating two seconds.
        const std::int64_t later = old.mtimeNs + static_cast<std::int64_t>(Pick(1000)) * 1'000'000;
        if (old.data.empty() || (FileTimeTicks(later) >> 32) != (FileTimeTicks(old.mtimeNs) >> 32))
            return;
        std::string data = old.data;
        data[Pick(data.size())] ^= 0x5a;
        sameLooking[rel] = old;
        WriteFile(Full(rel), data);
        SetTime(Full(rel), later);
    }
    void Rename(const std::string& rel, const std::string& folder) {
        if (None(rel) || rel.empty() || Depth(folder) >= kMaxDepth)
            return;
        if (folder == rel || folder.rfind(rel + "/", 0) == 0)
            return;  // into itself
        const std::string to = Child(folder);
        if (Depth(to) + Subdepth(rel) > kMaxDepth + 1)
            return;
        Forget(rel);
        ASSERT_EQ(::rename(Full(rel).c_str(), Full(to).c_str()), 0);
    }
    int Subdepth(const std::string& rel) {
        int deepest = 0;
        for (const auto& [name, item] : ReadTree(root_)) {
            if (name.rfind(rel + "/", 0) == 0)
                deepest = std::max(deepest, Depth(name) - Depth(rel));
        }
        return deepest;
    }
    void Delete(const std::string& rel) {
        if (None(rel) || rel.empty())
            return;
        Forget(rel);
        fs::remove_all(Full(rel));
    }
    void FileToFolder(const std::string& rel) {
        if (None(rel))
            return;
        Forget(rel);
        ASSERT_EQ(::unlink(Full(rel).c_str()), 0);
        ASSERT_EQ(::mkdir(Full(rel).c_str(), 0755), 0);
        if (Depth(rel) < kMaxDepth)
            CreateFile(rel);
    }
    void FolderToFile(const std::string& rel) {
        if (rel.empty())
            return;
        Forget(rel);
        fs::remove_all(Full(rel));
        WriteFile(Full(rel), Content());
        SetTime(Full(rel), SomeTime());
    }

    std::mt19937_64& rng_;
    std::string root_;
    char tag_;
    int& counter_;
};

struct RunResult {
    int status = -1;
    std::string output;
};

// Starts the real executable with its settings, log and lock files in the scratch folder, and
// ends it when it hangs.
RunResult RunMirova(const std::string& scratch, const std::vector<std::string>& args) {
    const std::string outPath = scratch + "/output.txt";
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int in = ::open("/dev/null", O_RDONLY);
        const int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ::dup2(in, 0);
        ::dup2(out, 1);
        ::dup2(out, 2);
        std::vector<char*> argv{const_cast<char*>(MIROVA_EXE)};
        for (const std::string& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        ::execv(MIROVA_EXE, argv.data());
        ::_exit(127);
    }
    RunResult result;
    int status = 0;
    for (int waited = 0; ::waitpid(pid, &status, WNOHANG) == 0; ++waited) {
        if (waited > 120 * 100) {  // two minutes: a hang
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            result.output = "(killed after two minutes: hang)\n";
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    std::ifstream in(outPath, std::ios::binary);
    result.output += std::string(std::istreambuf_iterator<char>(in), {});
    return result;
}

std::string Report(const std::vector<std::string>& diffs) {
    std::ostringstream text;
    for (std::size_t i = 0; i < diffs.size() && i < 30; ++i)
        text << "  " << diffs[i] << "\n";
    if (diffs.size() > 30)
        text << "  ... " << diffs.size() - 30 << " more\n";
    return text.str();
}

// The expected state of both sides after a merge: every name of either side, a file present on
// both in its later version.
Tree MergedTree(const Tree& source, const Tree& target) {
    Tree merged = source;
    for (const auto& [name, item] : target) {
        const auto found = merged.find(name);
        if (found == merged.end() || item.mtimeNs > found->second.mtimeNs)
            merged[name] = item;
    }
    return merged;
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
    const int rounds = EnvInt("MIROVA_SOAK_ROUNDS", kDefaultRounds);
    const int firstSeed = EnvInt("MIROVA_SOAK_SEED", 1);
    int counter = 0;
    for (int round = 0; round < rounds; ++round) {
        const int seed = firstSeed + round;
        std::mt19937_64 rng(static_cast<std::uint64_t>(seed));
        // Every fourth round merges; the first builds the trees with a sync.
        const bool merge = round % 4 == 3;
        const std::string where = "round " + std::to_string(round) + ", seed " +
                                  std::to_string(seed) + (merge ? " (merge)" : " (sync)") +
                                  "; trees in " + dir_.path();
        Mutator source(rng, src_, 's', counter);
        Mutator target(rng, dst_, 't', counter);
        source.mergeMode = target.mergeMode = merge;
        source.roundStart = ReadTree(src_);
        target.roundStart = ReadTree(dst_);
        source.Apply(round == 0 ? 4 * kChangesPerRound : kChangesPerRound);
        // A sync must also clear what was changed in the target behind its back.
        target.Apply(merge ? kChangesPerRound : kChangesPerRound / 8);
        ASSERT_FALSE(HasFatalFailure()) << where;

        const Tree sourceBefore = ReadTree(src_);
        const Tree targetBefore = ReadTree(dst_);
        const RunResult run =
            RunMirova(dir_.path(), {merge ? "--merge" : "--sync", src_, dst_, "--yes",
                                    "--no-stop-on-error", "--allow-mass-delete"});
        std::vector<std::string> diffs;
        if (merge) {
            const Tree expected = MergedTree(sourceBefore, targetBefore);
            for (const std::string& d : Differences(expected, ReadTree(src_)))
                diffs.push_back("source: " + d);
            for (const std::string& d : Differences(expected, ReadTree(dst_)))
                diffs.push_back("target: " + d);
        } else {
            Tree expected = sourceBefore;
            // Same size and a time within two seconds: the target keeps its old version, unless
            // it was changed behind the sync's back too.
            for (const auto& [name, old] : source.sameLooking) {
                const auto found = targetBefore.find(name);
                if (found != targetBefore.end() &&
                    Differences(Tree{{name, old}}, Tree{{name, found->second}}).empty()) {
                    expected[name] = old;
                }
            }
            diffs = Differences(expected, ReadTree(dst_));
            EXPECT_EQ(Differences(sourceBefore, ReadTree(src_)), std::vector<std::string>{})
                << "a sync changed its source; " << where;
        }
        const std::string log = dir_.readLog();
        const std::string logTail = log.size() > 6000 ? log.substr(log.size() - 6000) : log;
        ASSERT_TRUE(diffs.empty()) << diffs.size() << " differences after " << where << ":\n"
                                   << Report(diffs) << "output:\n"
                                   << run.output.substr(0, 4000) << "log:\n"
                                   << logTail;
        ASSERT_EQ(run.status, 0) << where << "\n"
                                 << run.output.substr(0, 4000) << "log:\n"
                                 << logTail;
        // Give the files that only looked unchanged a new time, so that the next round carries
        // them and the trees stay comparable.
        for (const auto& [name, old] : source.sameLooking) {
            SetTime(src_ + "/" + name, old.mtimeNs + 7 * kSecond);
        }
    }
}

// A target given as a relative path gets its folders too.
TEST_F(Soak, SyncCreatesFoldersBelowARelativeTarget) {
    ASSERT_EQ(::mkdir((src_ + "/sub").c_str(), 0755), 0);
    WriteFile(src_ + "/sub/a", "a");
    const std::string previous = fs::current_path();
    fs::current_path(dir_.path());
    const RunResult run =
        RunMirova(dir_.path(), {"--sync", "src", "dst", "--yes", "--no-stop-on-error"});
    fs::current_path(previous);
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_EQ(Differences(ReadTree(src_), ReadTree(dst_)), std::vector<std::string>{})
        << dir_.readLog();
}

}  // namespace
}  // namespace mirova::soak
