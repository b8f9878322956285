#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "ScriptedMessages.h"
#include "TempDir.h"
#include "engine/Scan.h"
#include "engine/ScanPrefetch.h"
#include "platform/FileSystem.h"

namespace mirova {
namespace {

using test::ScopedUnprivileged;
using test::TempDir;

// One scan as everything outside sees it: the entries in scan order with their attributes,
// the boxes, the log lines without their time stamps, and the outcome.
struct Observed {
    std::vector<std::string> entries;
    std::vector<std::string> boxes;
    std::vector<std::string> logLines;
    int completed = 0;
};

class ParallelScanTest : public ::testing::Test {
protected:
    TempDir dir;
    RunState state;

    ~ParallelScanTest() override { ::unsetenv("MIROVA_SCAN_THREADS"); }

    // A tree of `folders` folders nested up to four deep, with files of varied sizes and
    // times; the layout comes from a fixed seed.
    // Returns the folders made, in the order they were made.
    std::vector<std::string> MakeTree(int folders, int filesPerFolder) {
        unsigned seed = 12345;
        const auto next = [&seed] { return seed = seed * 1103515245u + 12345u, seed >> 8; };
        std::vector<std::string> made{"tree"};
        dir.createFolder("tree");
        for (int f = 0; f < folders; ++f) {
            const std::string& parent = made[next() % made.size()];
            std::string folder = parent + "/d" + std::to_string(f);
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

    // Scans with one or two reading threads; `prepare` runs first (it may lock folders).
    Observed ScanWith(int threads, int capacity, int answer = 0,
                      const std::function<void()>& prepare = {},
                      const std::function<void()>& onBox = {}) {
        ::setenv("MIROVA_SCAN_THREADS", std::to_string(threads).c_str(), 1);
        if (prepare) {
            prepare();
        }
        struct Hooked : test::ScriptedMessages {
            std::function<void()> onBox;
            int DoMessageBox(const std::string& text, int style) override {
                if (onBox) {
                    onBox();
                }
                return ScriptedMessages::DoMessageBox(text, style);
            }
        } messages;
        messages.onBox = onBox;
        for (int i = 0; answer != 0 && i < 10; ++i) {
            messages.Answer(answer);
        }
        const std::string logBefore = dir.readLog();
        const ScanContext context{state, messages};
        BuiltList built = BuildFileList(dir / "tree", context, capacity);
        Observed seen;
        seen.completed = built.completed;
        for (int i = 0; i < built.list->count; ++i) {
            const FileEntry& e = built.list->entries[i];
            seen.entries.push_back(std::string(e.name) + " " + std::to_string(e.lastWriteLow) +
                                   " " + std::to_string(e.lastWriteHigh) + " " +
                                   std::to_string(e.size) + " " + std::to_string(e.isFolder));
        }
        for (const auto& request : messages.requests()) {
            seen.boxes.push_back(request.text + " " + std::to_string(request.style));
        }
        std::istringstream log(dir.readLog().substr(logBefore.size()));
        for (std::string line; std::getline(log, line);) {
            seen.logLines.push_back(line.size() > 15 ? line.substr(15) : line);
        }
        return seen;
    }

    static void ExpectSame(const Observed& single, const Observed& parallel) {
        EXPECT_EQ(parallel.completed, single.completed);
        ASSERT_EQ(parallel.entries.size(), single.entries.size());
        for (std::size_t i = 0; i < single.entries.size(); ++i) {
            ASSERT_EQ(parallel.entries[i], single.entries[i]) << "entry " << i;
        }
        EXPECT_EQ(parallel.boxes, single.boxes);
        EXPECT_EQ(parallel.logLines, single.logLines);
    }
};

TEST_F(ParallelScanTest, GivesTheSingleThreadedListEntryByEntryAndOverflowsAtTheSameItem) {
    MakeTree(300, 12);  // 300 folders, 3,600 files
    const Observed single = ScanWith(1, 10'000);
    ASSERT_EQ(single.completed, 1);
    ASSERT_EQ(single.entries.size(), 3'900u);
    EXPECT_TRUE(single.boxes.empty());
    ExpectSame(single, ScanWith(2, 10'000));
    ExpectSame(single, ScanWith(kNetworkScanThreads, 10'000));

    // A list too small stops both scans at the same item with the same box and log line, quiet
    // or not; the same at a boundary that falls on a folder and one that fits exactly.
    for (int quiet : {0, 1}) {
        state.noStopOnError = quiet;
        for (int capacity : {1, 777, 2'000, 3'899, 3'900}) {
            SCOPED_TRACE(std::to_string(capacity) + " quiet " + std::to_string(quiet));
            const Observed small = ScanWith(1, capacity);
            EXPECT_EQ(small.completed, capacity == 3'900 ? 1 : 0);
            EXPECT_EQ(small.logLines.size(), capacity == 3'900 ? 0u : 1u);
            ExpectSame(small, ScanWith(2, capacity));
            ExpectSame(small, ScanWith(kNetworkScanThreads, capacity));
        }
    }
}

TEST_F(ParallelScanTest, UnreadableFoldersGiveTheSameBoxesLogLinesAndRetry) {
    const ScopedUnprivileged unprivileged(dir);
    const std::vector<std::string> made = MakeTree(200, 5);
    // Folders deep and shallow, early and late in the walk, the root's own subfolders among them.
    const std::vector<std::string> locked{dir / made[1], dir / made[17], dir / made[150]};
    for (const std::string& folder : locked) {
        ASSERT_TRUE(platform::Exists(folder)) << folder;
    }
    // The box also changes files of the root, some of which the walk has not reached yet: the
    // parallel scan must see them as changed exactly where the single-threaded one does.
    const auto lock = [&] {
        for (const std::string& folder : locked) {
            ::chmod(folder.c_str(), 0);
        }
        for (int i = 0; i < 20; ++i) {
            dir.createFile("tree/r" + std::to_string(i), "x", 1'600'000'000);
        }
    };
    const auto unlock = [&] {
        for (const std::string& folder : locked) {
            ::chmod(folder.c_str(), 0755);
        }
    };
    const auto unlockAll = [&] {
        unlock();
        for (int i = 0; i < 10; ++i) {
            dir.createFile("tree/r" + std::to_string(i), "changed", 1'700'000'000);
            ::unlink((dir / ("tree/r" + std::to_string(10 + i))).c_str());
        }
    };
    // Retry after the box made the folders readable: the scans list everything, once.
    for (int answer : {kIdRetry, kIdIgnore, kIdAbort, 0}) {
        SCOPED_TRACE(answer);
        state.noStopOnError = answer == 0 ? 1 : 0;
        const Observed single = ScanWith(1, 10'000, answer, lock, unlockAll);
        unlock();
        // A locked folder inside another that was passed over is never reached.
        ASSERT_FALSE(single.logLines.empty());
        EXPECT_LE(single.logLines.size(), answer == kIdRetry ? 1u : locked.size());
        EXPECT_EQ(single.boxes.size(), answer == 0 ? 0u : single.logLines.size());
        for (const int threads : {2, kNetworkScanThreads}) {
            const Observed parallel = ScanWith(threads, 10'000, answer, lock, unlockAll);
            unlock();
            ExpectSame(single, parallel);
            if (answer == kIdRetry) {
                EXPECT_GE(parallel.entries.size(), 1'200u);
            }
        }
    }
}

}  // namespace
}  // namespace mirova
