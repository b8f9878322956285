// The floor of a no-change comparison: lists and stats every entry of the given trees and does
// nothing else (no names kept, no sorting, no comparing). What a scan of the same trees costs
// beyond this is the scanner's own overhead.
//
//   mirova_floor_walker [--threads N] TREE...
//
// Each folder is read with getdents64 on its own descriptor, and every entry is stat'ed with
// fstatat relative to that descriptor, links not followed. With --threads N (N > 1) the folders
// of all trees are shared among N threads from one queue. Prints the number of entries seen.

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

struct LinuxDirent64 {
    ino64_t d_ino;
    off64_t d_off;
    unsigned short d_reclen;
    unsigned char d_type;
    char d_name[];
};

constexpr std::size_t kBufferSize = 64 * 1024;

// Lists one folder: stats each entry and hands each subfolder (an open descriptor) to push.
template <typename Push>
long ListFolder(int dir, char* buffer, const Push& push) {
    long entries = 0;
    for (;;) {
        const long got = ::syscall(SYS_getdents64, dir, buffer, kBufferSize);
        if (got <= 0) {
            break;
        }
        for (long offset = 0; offset < got;) {
            const auto* entry = reinterpret_cast<const LinuxDirent64*>(buffer + offset);
            offset += entry->d_reclen;
            const char* name = entry->d_name;
            if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'))) {
                continue;
            }
            struct stat st;
            if (::fstatat(dir, name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
                continue;
            }
            ++entries;
            if (S_ISDIR(st.st_mode)) {
                const int child =
                    ::openat(dir, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
                if (child >= 0) {
                    push(child);
                }
            }
        }
    }
    ::close(dir);
    return entries;
}

long WalkSingle(int root) {
    std::vector<char> buffer(kBufferSize);
    std::vector<int> stack{root};
    long entries = 0;
    while (!stack.empty()) {
        const int dir = stack.back();
        stack.pop_back();
        entries += ListFolder(dir, buffer.data(), [&](int child) { stack.push_back(child); });
    }
    return entries;
}

// A shared queue of open folders; the walk ends when the queue is empty and nobody is busy.
long WalkShared(const std::vector<int>& roots, int threadCount) {
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<int> queue(roots.begin(), roots.end());
    int busy = 0;
    std::atomic<long> total{0};
    const auto work = [&] {
        std::vector<char> buffer(kBufferSize);
        long entries = 0;
        std::vector<int> found;
        for (;;) {
            int dir;
            {
                std::unique_lock lock(mutex);
                wake.wait(lock, [&] { return !queue.empty() || busy == 0; });
                if (queue.empty()) {
                    break;
                }
                dir = queue.front();
                queue.pop_front();
                ++busy;
            }
            found.clear();
            entries += ListFolder(dir, buffer.data(), [&](int child) { found.push_back(child); });
            {
                std::lock_guard lock(mutex);
                queue.insert(queue.end(), found.begin(), found.end());
                --busy;
            }
            wake.notify_all();
        }
        total += entries;
    };
    std::vector<std::thread> threads;
    for (int i = 0; i < threadCount; ++i) {
        threads.emplace_back(work);
    }
    for (auto& thread : threads) {
        thread.join();
    }
    return total;
}

}  // namespace

int main(int argc, char** argv) {
    int threadCount = 1;
    std::vector<int> roots;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--threads") == 0 && i + 1 < argc) {
            threadCount = std::atoi(argv[++i]);
            continue;
        }
        const int root = ::open(argv[i], O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (root < 0) {
            std::perror(argv[i]);
            return 1;
        }
        roots.push_back(root);
    }
    if (roots.empty() || threadCount < 1) {
        std::fprintf(stderr, "usage: mirova_floor_walker [--threads N] TREE...\n");
        return 2;
    }
    long entries = 0;
    if (threadCount == 1) {
        for (const int root : roots) {
            entries += WalkSingle(root);
        }
    } else {
        entries = WalkShared(roots, threadCount);
    }
    std::printf("%ld\n", entries);
    return 0;
}
