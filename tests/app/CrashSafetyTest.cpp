// A synchronisation killed in the middle of a copy: what is left on disk, and how the next run
// finishes the job.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "AppTesting.h"
#include "TreeSnapshot.h"
#include "fileops/FileOperations.h"

namespace mirova {
namespace {

using ::testing::HasSubstr;
using Snapshot = std::map<std::string, test::ItemSnapshot>;

// Large enough that copying takes a noticeable time, small enough for a quick test.
constexpr int kLargeFiles = 6;
constexpr std::size_t kLargeFileSize = std::size_t{64} << 20;
// A kill that finds no copy in progress (it fell between two files) is tried again.
constexpr int kKillAttempts = 5;

// Real data: a file full of zeros or a sparse file may be copied by sharing blocks, at once.
void WriteLargeFile(const std::string& path, std::mt19937_64& random) {
    std::vector<std::uint64_t> chunk((std::size_t{1} << 20) / sizeof(std::uint64_t));
    std::ofstream out(path, std::ios::binary);
    for (std::size_t written = 0; written < kLargeFileSize; written += chunk.size() * 8) {
        for (std::uint64_t& word : chunk) {
            word = random();
        }
        out.write(reinterpret_cast<const char*>(chunk.data()),
                  static_cast<std::streamsize>(chunk.size() * 8));
    }
    ASSERT_TRUE(out.good()) << path;
}

bool HasPartialCopy(const std::string& folder) {
    std::error_code error;
    for (const auto& item : std::filesystem::directory_iterator(folder, error)) {
        if (IsPartialCopyName(item.path().filename().string())) {
            return true;
        }
    }
    return false;
}

// Waits until a copy is under way in `folder`, then kills the program without warning (or
// collects it when it ended first).
void KillDuringCopy(pid_t pid, const std::string& folder) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    int status = 0;
    while (!HasPartialCopy(folder)) {
        if (::waitpid(pid, &status, WNOHANG) == pid) {
            return;
        }
        if (std::chrono::steady_clock::now() > deadline) {
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    ::kill(pid, SIGKILL);
    ::waitpid(pid, &status, 0);
}

class CrashSafetyTest : public ::testing::Test {
protected:
    test::TempDir dir;
    test::ScopedConfigHome config{dir};
    test::ScopedLockDir lockDir{dir};
    std::string source = dir / "src";
    std::string target = dir / "dst";
};

TEST_F(CrashSafetyTest, AKilledSyncShowsNoHalfFileAndTheNextRunCompletesTheMirror) {
    std::mt19937_64 random(8);
    dir.createFolder("src");
    for (int i = 0; i < kLargeFiles; ++i) {
        ASSERT_NO_FATAL_FAILURE(WriteLargeFile(source + "/large" + std::to_string(i), random));
    }
    for (int i = 0; i < 20; ++i) {
        dir.createFile("src/small/" + std::to_string(i) + ".txt", std::to_string(i), 1700000000);
    }
    const Snapshot expected = test::SnapshotTree(source);
    const std::vector<std::string> sync = {"--sync", source, target, "--yes", "--no-stop-on-error"};

    std::vector<std::string> leftovers;
    for (int attempt = 0; attempt < kKillAttempts && leftovers.empty(); ++attempt) {
        std::filesystem::remove_all(target);
        dir.createFolder("dst");
        const pid_t pid = test::StartMirova(dir, sync, "killed-");
        ASSERT_GT(pid, 0);
        KillDuringCopy(pid, target);
        // Every file under a real name is complete; an unfinished one exists only as a
        // temporary file.
        for (const auto& [name, item] : test::SnapshotTree(target)) {
            if (IsPartialCopyName(std::filesystem::path(name).filename().string())) {
                leftovers.push_back(target + "/" + name);
                EXPECT_EQ(item.kind, 'f') << name;
            } else if (item.kind == 'f') {
                const auto original = expected.find(name);
                ASSERT_NE(original, expected.end()) << name;
                EXPECT_TRUE(item == original->second) << name << " is not a complete copy";
            }
        }
    }
    ASSERT_FALSE(leftovers.empty()) << "no kill landed in the middle of a copy\n"
                                    << test::ReadFileText(dir / "killed-err.txt");
    // The killed run's change record holds what it did up to the kill, and no end.
    RecordContents killed;
    ASSERT_TRUE(ReadChangeRecord(LatestChangeRecord(), killed));
    EXPECT_EQ(killed.endLine, "");
    const Snapshot copied = test::SnapshotTree(target);
    for (const ChangeItem& item : killed.items) {
        EXPECT_TRUE(copied.contains(item.path)) << item.path << " recorded but not there";
        if (item.action == ChangeAction::CopyNew) {
            EXPECT_TRUE(copied.at(item.path) == expected.at(item.path)) << item.path;
        }
    }

    const test::ProcessOutcome rerun = test::RunMirova(dir, sync);
    EXPECT_EQ(rerun.status, 0) << rerun.err;
    // The leftover is gone too: it would show as an extra item of the target.
    EXPECT_EQ(test::DescribeDifferences(expected, test::SnapshotTree(target)), "");
    const std::string log = dir.readLog();
    for (const std::string& leftover : leftovers) {
        EXPECT_THAT(log, HasSubstr(": " + leftover + " を削除しました（中断されたｺﾋﾟｰの残り）\n"));
    }
}

TEST_F(CrashSafetyTest, AMergeNeverCarriesALeftoverAcrossAndRemovesIt) {
    int pidMax = 0;
    std::ifstream("/proc/sys/kernel/pid_max") >> pidMax;
    const std::string leftover = ".mirova-partial-" + std::to_string(pidMax > 0 ? pidMax : INT_MAX);
    dir.createFile("src/a.txt", "a", 1700000000);
    dir.createFile("src/deep/" + leftover + "-1", "half of s", 1700000000);
    dir.createFile("dst/b.txt", "b", 1700000000);
    dir.createFile("dst/" + leftover + "-2", "half of d", 1700000000);
    // A running process's copy stays where it is, unlisted.
    const std::string running = ".mirova-partial-" + std::to_string(::getpid()) + "-3";
    dir.createFile("dst/" + running, "in progress", 1700000000);

    const test::ProcessOutcome merged =
        test::RunMirova(dir, {"--merge", "--no-stop-on-error", source, target});
    EXPECT_EQ(merged.status, 0) << merged.err;
    EXPECT_EQ(dir.read("src/b.txt"), "b");
    EXPECT_EQ(dir.read("dst/a.txt"), "a");
    EXPECT_EQ(dir.read("dst/" + running), "in progress");
    std::filesystem::remove(target + "/" + running);
    EXPECT_EQ(test::TreeDifferences(source, target), "");
    EXPECT_FALSE(std::filesystem::exists(source + "/" + running));
    const std::string log = dir.readLog();
    EXPECT_THAT(log, HasSubstr(source + "/deep/" + leftover + "-1 を削除しました"));
    EXPECT_THAT(log, HasSubstr(target + "/" + leftover + "-2 を削除しました"));
}

}  // namespace
}  // namespace mirova
