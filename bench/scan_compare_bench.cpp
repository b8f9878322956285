// Times the steps of a run that do not depend on the user: scanning two trees, sorting both
// lists and classifying them.
//
//   mirova_bench_scan [N=100000] [--keep DIR]
//
// Builds two identical trees of N files each (about 100 files per folder, three folder levels,
// sizes up to 16 KiB written as sparse files, fixed times) and scans them several times. The
// trees go into a fresh folder below $TMPDIR that is removed at the end; with --keep they go
// into DIR, stay there, and are reused by the next run with the same N.

#include <fcntl.h>
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "engine/Classify.h"
#include "engine/Scan.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kFilesPerFolder = 100;
constexpr int kRepetitions = 5;
constexpr unsigned kSeed = 20240601;
constexpr std::int64_t kBaseTime = 1'700'000'000;  // seconds since 1970

// Scans never ask: every error is logged and passed over.
class SilentMessages : public mirova::MessageBoxHandler {
public:
    int DoMessageBox(const std::string& text, int style) override {
        std::fprintf(stderr, "message: %s\n", text.c_str());
        return style == mirova::kMbAbortRetryIgnore ? mirova::kIdIgnore : mirova::kIdOk;
    }
};

struct Options {
    long files = 100'000;
    std::string keepFolder;
};

bool ParseArguments(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--keep" && i + 1 < argc) {
            options.keepFolder = argv[++i];
        } else if (!argument.empty() &&
                   argument.find_first_not_of("0123456789") == std::string::npos) {
            options.files = std::strtol(argument.c_str(), nullptr, 10);
        } else {
            return false;
        }
    }
    return options.files > 0 && options.files <= mirova::kFileListCapacity - 20'000;
}

bool MakeFolder(const std::string& path) {
    return ::mkdir(path.c_str(), 0755) == 0 || errno == EEXIST;
}

bool WriteSparseFile(const std::string& path, off_t size, std::int64_t mtime) {
    const int fd = ::open(path.c_str(), O_CREAT | O_WRONLY | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        return false;
    }
    bool ok = ::ftruncate(fd, size) == 0;
    const timespec times[2] = {{mtime, 0}, {mtime, 0}};
    ok = ::futimens(fd, times) == 0 && ok;
    return ::close(fd) == 0 && ok;
}

// Writes one tree: leaf folders a<i>/b<j>/c<k>, kFilesPerFolder files in each. The same seed
// gives both trees the same sizes and times.
bool BuildTree(const std::string& root, long files) {
    const long leaves = (files + kFilesPerFolder - 1) / kFilesPerFolder;
    const long branching = std::max(1L, std::lround(std::ceil(std::cbrt(double(leaves)))));
    std::mt19937 random(kSeed);
    std::uniform_int_distribution<off_t> sizes(0, 16 * 1024);
    if (!MakeFolder(root)) {
        return false;
    }
    long written = 0;
    for (long leaf = 0; leaf < leaves; ++leaf) {
        const std::string level1 = root + "/a" + std::to_string(leaf / (branching * branching));
        const std::string level2 = level1 + "/b" + std::to_string(leaf / branching % branching);
        const std::string level3 = level2 + "/c" + std::to_string(leaf % branching);
        if (!MakeFolder(level1) || !MakeFolder(level2) || !MakeFolder(level3)) {
            return false;
        }
        for (int i = 0; i < kFilesPerFolder && written < files; ++i, ++written) {
            const std::string path = level3 + "/file" + std::to_string(written) + ".dat";
            if (!WriteSparseFile(path, sizes(random), kBaseTime + written % 86'400)) {
                return false;
            }
        }
    }
    return true;
}

int RemoveItem(const char* path, const struct stat*, int, struct FTW*) {
    ::remove(path);
    return 0;
}

double Milliseconds(Clock::duration duration) {
    return std::chrono::duration<double, std::milli>(duration).count();
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!ParseArguments(argc, argv, options)) {
        std::fprintf(stderr, "usage: %s [N=100000] [--keep DIR]\n", argv[0]);
        return 2;
    }

    std::string base = options.keepFolder;
    if (base.empty()) {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/mirova-bench-XXXXXX";
        if (::mkdtemp(pattern.data()) == nullptr) {
            std::perror("mkdtemp");
            return 1;
        }
        base = pattern;
    } else if (!MakeFolder(base)) {
        std::perror(base.c_str());
        return 1;
    }
    // Errors met while scanning go to a log of the benchmark's own, never the user's.
    const std::string logFolder = base + "/log";
    ::setenv("MIROVA_LOG_DIR", logFolder.c_str(), 1);

    const std::string suffix = std::to_string(options.files);
    const std::string source = base + "/source-" + suffix;
    const std::string target = base + "/target-" + suffix;
    const std::string readyMark = base + "/ready-" + suffix;
    const bool reuse = !options.keepFolder.empty() && ::access(readyMark.c_str(), F_OK) == 0;
    if (!reuse) {
        const Clock::time_point start = Clock::now();
        if (!BuildTree(source, options.files) || !BuildTree(target, options.files)) {
            std::perror("cannot build the trees");
            return 1;
        }
        WriteSparseFile(readyMark, 0, kBaseTime);
        std::printf("built 2 x %ld files in %s (%.1f s)\n", options.files, base.c_str(),
                    Milliseconds(Clock::now() - start) / 1000);
    } else {
        std::printf("reusing the trees in %s\n", base.c_str());
    }

    mirova::RunState state;
    state.noStopOnError = 1;
    SilentMessages messages;
    const mirova::ScanContext context{state, messages};

    std::vector<double> scanSource, scanTarget, sort, classify, total;
    int entries = 0;
    bool sound = true;
    for (int repetition = 0; repetition < kRepetitions; ++repetition) {
        const Clock::time_point t0 = Clock::now();
        mirova::BuiltList sourceList = mirova::BuildFileList(source, context);
        const Clock::time_point t1 = Clock::now();
        mirova::BuiltList targetList = mirova::BuildFileList(target, context);
        const Clock::time_point t2 = Clock::now();
        mirova::SortFileList(*sourceList.list);
        mirova::SortFileList(*targetList.list);
        const Clock::time_point t3 = Clock::now();
        const mirova::WorkLists work =
            mirova::ClassifyLists(*sourceList.list, *targetList.list, nullptr);
        const Clock::time_point t4 = Clock::now();

        scanSource.push_back(Milliseconds(t1 - t0));
        scanTarget.push_back(Milliseconds(t2 - t1));
        sort.push_back(Milliseconds(t3 - t2));
        classify.push_back(Milliseconds(t4 - t3));
        total.push_back(Milliseconds(t4 - t0));
        entries = sourceList.list->count;
        // Identical trees must scan completely and classify to nothing.
        sound = sound && sourceList.completed == 1 && targetList.completed == 1 &&
                sourceList.list->count == targetList.list->count && work.empty();
    }

    const double totalMedian = Median(total);
    std::printf("\n%ld files per tree, %d entries per tree (files and folders), %d repetitions\n",
                options.files, entries, kRepetitions);
    std::printf("%-24s %12s\n", "phase", "median ms");
    std::printf("%-24s %12.1f\n", "scan source", Median(scanSource));
    std::printf("%-24s %12.1f\n", "scan target", Median(scanTarget));
    std::printf("%-24s %12.1f\n", "sort both lists", Median(sort));
    std::printf("%-24s %12.1f\n", "classify", Median(classify));
    std::printf("%-24s %12.1f\n", "total", totalMedian);
    std::printf("files per second: %.0f (2 x %ld files / median total)\n",
                2.0 * double(options.files) / (totalMedian / 1000), options.files);
    if (!sound) {
        std::printf("WARNING: the scans or the classification did not give the expected result\n");
    }

    if (options.keepFolder.empty()) {
        ::nftw(base.c_str(), RemoveItem, 64, FTW_DEPTH | FTW_PHYS);
    }
    return sound ? 0 : 1;
}
