#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <optional>
#include <string>

#include "FileOpsTesting.h"
#include "fileops/SafeCopy.h"

namespace mirova::test {
namespace {

constexpr timespec kAccessTime{1400000000, 123456789};
constexpr timespec kWriteTime{1500000000, 987654321};

class CopyOneFileTest : public FileOpsTest {
protected:
    std::string src(const std::string& name) const { return tmp_ / ("src/" + name); }
    std::string dst(const std::string& name) const { return tmp_ / ("dst/" + name); }
};

// Files keep content, times, permissions and owner; links are copied as links with their own
// target, times and owner, whatever they replace.
TEST_F(CopyOneFileTest, CopyKeepsContentTimesPermissionsAndOwner) {
    const std::pair<const char*, mode_t> files[] = {
        {"empty.txt", 0640}, {"small.txt", 0600}, {"big.bin", 04755}, {"ro.txt", 0444}};
    tmp_.createFile("src/target.txt", "pointed at");
    ASSERT_EQ(::symlink("../elsewhere/missing", src("dangling").c_str()), 0);
    ASSERT_EQ(::symlink("target.txt", src("link").c_str()), 0);
    // Opening a link to itself fails as a loop does, yet it is a link to copy.
    ASSERT_EQ(::symlink("self", src("self").c_str()), 0);
    std::vector<std::string> names = {"target.txt", "dangling", "link", "self"};
    std::size_t size = 0;
    for (const auto& [name, mode] : files) {
        tmp_.createFile(src(name).substr(tmp_.path().size() + 1), Pattern(size));
        size = size * 37 + 70001;
        names.push_back(name);
    }
    for (const std::string& name : names) {
        ASSERT_EQ(::lchown(src(name).c_str(), 12345, 23456), 0);  // the tests run as root
        const timespec times[2] = {kAccessTime, kWriteTime};
        ASSERT_EQ(::utimensat(AT_FDCWD, src(name).c_str(), times, AT_SYMLINK_NOFOLLOW), 0);
    }
    // After the owner, which takes the set-user-id bit away: the set-user-id file fails when
    // the owner is given after the bits, the read-only one unless it is whole before it loses
    // its write permission.
    for (const auto& [name, mode] : files) {
        ASSERT_EQ(::chmod(src(name).c_str(), mode), 0);
    }
    // What the copies replace: a longer file, a file by a link, a link by a link.
    tmp_.createFile("dst/small.txt", "old content, longer than the new");
    tmp_.createFile("dst/dangling", "a file the link replaces");
    ASSERT_EQ(::symlink("old-target", dst("link").c_str()), 0);
    for (const std::string& name : names) {
        EXPECT_EQ(CopyOneFile(src(name), dst(name), 0, ui_), 1) << name;
        const struct stat copied = StatOf(dst(name));  // before a read moves its access time
        EXPECT_TRUE(S_ISLNK(copied.st_mode) || copied.st_atim.tv_nsec == kAccessTime.tv_nsec);
        EXPECT_EQ(copied.st_uid * 100000 + copied.st_gid, 12345u * 100000 + 23456u) << name;
    }
    // Kind, content or link target, permissions and last-write time; no unfinished copy.
    EXPECT_EQ(DescribeDifferences(SnapshotTree(tmp_ / "src"), SnapshotTree(tmp_ / "dst")), "");
    EXPECT_TRUE(TakeBoxes().empty());
    EXPECT_EQ(TakeLog() + std::to_string(ui_.failures()), "0");
}

// The destination cannot be made: nothing at it changes, and no partial copy is left. Even root,
// whom no permission stops, keeps a read-only destination.
TEST_F(CopyOneFileTest, UnmakeableDestinationIsLeftAsItWas) {
    const std::pair<const char*, const char*> rows[] = {{"out/file.txt", "out/file.txt"},
                                                        {"out/file.txt/inside", nullptr},
                                                        {"out/file.txt", "out"}};
    int quiet = 0;  // each way for each kind of failure in FaultInjectionTest
    for (const auto& [old, readOnly] : rows) {
        SCOPED_TRACE(old);
        quiet = !quiet;
        TempDir dir;
        dir.createFile("src/file.txt", "new");
        dir.createFile(old, "old");
        std::optional<ScopedUnprivileged> unprivileged;
        if (readOnly) {
            const bool folder = S_ISDIR(StatOf(dir / readOnly).st_mode);
            if (folder) {
                unprivileged.emplace(dir);
            }
            ASSERT_EQ(::chmod((dir / readOnly).c_str(), folder ? 0555 : 0444), 0);
        }
        const Items expected = ItemsOf(dir);
        const std::string to = dir / "out/file.txt";
        EXPECT_EQ(CopyOneFile(dir / "src/file.txt", to, quiet, ui_), 0);
        EXPECT_EQ(TakeBoxes(), ShownUnless(quiet, CannotCreateText(330, to)));
        EXPECT_EQ(dir.readLog(), Logged(CannotCreateText(330, to)));
        EXPECT_EQ(DescribeDifferences(expected, ItemsOf(dir)), "");
    }
}

// Puts a test's fault into every copy while it lives.
struct ScopedCopyHook {
    explicit ScopedCopyHook(CopyStartHook hook) { SetCopyStartHookForTesting(std::move(hook)); }
    ~ScopedCopyHook() { SetCopyStartHookForTesting(nullptr); }
};

// A source that shrinks during the copy is a source that cannot be read: the old destination
// stays whole, and the failure is shown or, when no box may stop the run, logged.
TEST_F(CopyOneFileTest, ShrinkingSourceLeavesTheOldDestination) {
    const ScopedCopyHook hook([&](int, int) { ASSERT_EQ(::truncate(src("d").c_str(), 10), 0); });
    for (const int quiet : {0, 1}) {
        tmp_.createFile("src/d", Pattern(200 * 1024));
        tmp_.createFile("dst/d", "old");
        EXPECT_EQ(CopyOneFile(src("d"), dst("d"), quiet, ui_), 0);
        EXPECT_EQ(TakeBoxes(), ShownUnless(quiet, CannotReadText(src("d"))));
        EXPECT_EQ(TakeLog(), quiet ? Logged(CannotReadText(src("d"))) : "");
        EXPECT_EQ(tmp_.read("dst/d"), "old");
        EXPECT_TRUE(PartialCopiesIn(tmp_ / "dst").empty());
    }
}

// Where the kernel cannot copy between the two (here the source is swapped for a pipe that
// holds the same bytes), the plain read/write loop copies, in several rounds of its buffer.
TEST_F(CopyOneFileTest, PlainLoopCopiesWhatTheKernelCannot) {
    const std::string content = Pattern(300 * 1024 + 11);
    tmp_.createFile("src/data.bin", content);
    tmp_.createFolder("dst");
    const ScopedCopyHook hook([&](int source, int) {
        int ends[2];
        ASSERT_EQ(::pipe2(ends, O_CLOEXEC), 0);
        ASSERT_GE(::fcntl(ends[1], F_SETPIPE_SZ, 512 * 1024), static_cast<int>(content.size()));
        ASSERT_EQ(::write(ends[1], content.data(), content.size()),
                  static_cast<ssize_t>(content.size()));
        ::close(ends[1]);
        ASSERT_EQ(::dup2(ends[0], source), source);
        ::close(ends[0]);
    });
    EXPECT_EQ(CopyOneFile(src("data.bin"), dst("data.bin"), 0, ui_), 1);
    EXPECT_TRUE(tmp_.read("dst/data.bin") == content);
}

// A front end on which the user frees the file before answering.
class ReleasingUi : public ScriptedFileOpsUi {
public:
    std::function<void()> beforeAnswer = [] {};
    int DoMessageBox(const std::string& text, int style) override {
        beforeAnswer();
        return ScriptedFileOpsUi::DoMessageBox(text, style);
    }
};

// Asked as often as the user chooses Retry; Cancel logs it, and so does noStopOnError at once.
TEST_F(CopyOneFileTest, UnopenableSourceAsksRetryOrIsLogged) {
    tmp_.createFolder("src/folder");
    ASSERT_EQ(::mkfifo(src("fifo").c_str(), 0600), 0);
    tmp_.createFile("dst/missing.txt", "old");
    for (const char* name : {"missing.txt", "folder", "fifo"}) {
        const std::string unopenable = CannotOpenText(src(name));
        for (const int answer : {kIdRetry, kIdRetry, kIdCancel}) {
            ui_.messages.Answer(answer);
        }
        EXPECT_EQ(CopyOneFile(src(name), dst("missing.txt"), 0, ui_), 0);
        EXPECT_EQ(TakeBoxes(), Boxes(3, {unopenable, kMbRetryCancel}));
        EXPECT_EQ(CopyOneFile(src(name), dst("missing.txt"), 1, ui_), 0);
        EXPECT_TRUE(TakeBoxes().empty());
        EXPECT_EQ(TakeLog(), Logged(unopenable) + Logged(unopenable));
    }
    EXPECT_EQ(tmp_.read("dst/missing.txt"), "old");
    EXPECT_EQ(ui_.failures(), 6);

    tmp_.createFile("src/held.txt", "content");
    platform::UniqueFd holder(::open(src("held.txt").c_str(), O_RDONLY | O_CLOEXEC));
    ASSERT_EQ(::flock(holder.get(), LOCK_EX), 0);
    ReleasingUi ui;
    ui.beforeAnswer = [&] { holder.reset(); };
    ui.messages.Answer(kIdRetry);
    EXPECT_EQ(CopyOneFile(src("held.txt"), dst("held.txt"), 0, ui), 1);
    EXPECT_EQ(ui.messages.requests().size(), 1u);
    EXPECT_EQ(tmp_.read("dst/held.txt"), "content");
    EXPECT_EQ(ui.failures(), 0);
}

// A partial copy is stale once the process that made it is gone; an id that is no process's
// must never reach kill(), where 0 and -1 address whole groups.
TEST(PartialCopy, IsStaleOnceItsProcessIsGone) {
    const pid_t child = ::fork();
    if (child == 0) {
        ::_exit(0);
    }
    ASSERT_EQ(::waitpid(child, nullptr, 0), child);
    const std::string prefix = kPartialCopyPrefix;
    for (const auto& [pid, stale] : {std::pair{std::to_string(::getpid()), false},
                                     {"1", false},
                                     {std::to_string(child), true},
                                     {"0", true},
                                     {"", true},
                                     {"99999999999", true}}) {
        EXPECT_EQ(IsStalePartialCopy(prefix + pid + "-7"), stale) << pid;
    }
}

TEST_F(CopyOneFileTest, CopyFileAnyLengthReachesPathsLongerThanPathMax) {
    const std::string shortFolder = tmp_ / "short", longSource = DeepFolder(tmp_ / "from", 's'),
                      longTarget = DeepFolder(tmp_ / "to", 't');
    tmp_.createFolder("short");
    const std::pair<std::string, std::string> rows[] = {
        {longSource, longTarget}, {longSource, shortFolder}, {shortFolder, longTarget}};
    int serial = 0;
    for (const auto& [from, to] : rows) {
        const std::string name = "/file" + std::to_string(++serial) + ".bin";
        const std::string content = Pattern(70000 + serial);
        WriteAnyLength(from + name, content);
        const platform::FileTime written = platform::FileTimeFromTimespec(kWriteTime);
        ASSERT_TRUE(platform::SetTimes(from + name, written, written).ok());
        ASSERT_TRUE(platform::SetPermissions(from + name, 0604).ok());
        EXPECT_EQ(CopyFileAnyLength(from + name, to + name, 0, ui_), 1) << serial;
        platform::ItemInfo info;
        ASSERT_TRUE(platform::GetItemInfo(to + name, info).ok());
        EXPECT_EQ(info.lastWrite, written);
        EXPECT_EQ(info.permissions, 0604u);
        EXPECT_TRUE(ReadAnyLength(to + name) == content);
        EXPECT_TRUE(PartialCopiesIn(to).empty());
    }
    EXPECT_TRUE(TakeBoxes().empty());

    // A folder of a long path cannot be entered (a file stands in its place): the user is told
    // whatever noStopOnError says, and the copy fails as it would at that end.
    tmp_.createFile("blocker", "a file, not a folder");
    const std::string through = DeepFolder(tmp_ / "blocker", 'w', false) + "/f.txt";
    const std::string notice = CannotEnterText(through, "blocker", tmp_.path());
    for (const bool sourceSide : {true, false}) {
        for (const int quiet : {0, 1}) {
            SCOPED_TRACE(testing::Message() << sourceSide << quiet);
            const std::string from = sourceSide ? through : shortFolder + "/file2.bin";
            const std::string to = sourceSide ? tmp_ / "copy.txt" : through;
            const std::string failure =
                sourceSide ? CannotOpenText(from) : CannotCreateText(330, to);
            if (sourceSide && !quiet) {
                ui_.messages.Answer(kIdCancel);
            }
            EXPECT_EQ(CopyFileAnyLength(from, to, quiet, ui_), 0);
            Boxes boxes{{notice, kMbOk}};
            if (!quiet) {
                boxes.emplace_back(failure, sourceSide ? kMbRetryCancel : kMbOk);
            }
            EXPECT_EQ(TakeBoxes(), boxes);
            EXPECT_EQ(TakeLog(), Logged(failure));
        }
    }
    EXPECT_FALSE(platform::Exists(tmp_ / "copy.txt"));
    EXPECT_EQ(tmp_.read("blocker"), "a file, not a folder");
}

}  // namespace
}  // namespace mirova::test
