// Copies of single files: what a copy keeps, and what a source that changes under it, that the
// kernel cannot copy or that lies beyond PATH_MAX does to it.
#include <fcntl.h>
#include <sys/wait.h>

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

// Puts a test's fault into every copy while it lives.
struct ScopedCopyHook {
    explicit ScopedCopyHook(CopyStartHook hook) { SetCopyStartHookForTesting(std::move(hook)); }
    ~ScopedCopyHook() { SetCopyStartHookForTesting(nullptr); }
};

// Files keep content, times, permissions and owner; links are copied as links with their own
// target, times and owner, whatever they replace.
TEST_F(CopyOneFileTest, CopyKeepsContentTimesPermissionsAndOwner) {
    const std::pair<const char*, mode_t> files[] = {
        {"empty.txt", 0640}, {"small.txt", 0600}, {"big.bin", 04755}, {"ro.txt", 0444}};
    tmp_.createFile("src/target.txt", "pointed at");
    // Opening a link to itself fails as a loop does, yet it is a link to copy.
    for (const auto& [target, link] : {std::pair{"../elsewhere/missing", "dangling"},
                                       {"target.txt", "link"},
                                       {"self", "self"}}) {
        ASSERT_EQ(::symlink(target, src(link).c_str()), 0);
    }
    std::vector<std::string> names = {"target.txt", "dangling", "link", "self"};
    std::size_t size = 0;
    for (const auto& [name, mode] : files) {
        tmp_.createFile(std::string("src/") + name, Pattern(size));
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

// Where the kernel cannot copy (the source is swapped for a pipe of the same bytes), the plain
// read/write loop copies, in several rounds of its buffer.
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

// A partial copy is stale once the process that made it is gone; an id that is no process's
// must never reach kill(), where 0 and -1 address whole groups.
TEST(PartialCopy, IsStaleOnceItsProcessIsGone) {
    const pid_t child = ::fork();
    if (child == 0) {
        ::_exit(0);
    }
    ASSERT_EQ(::waitpid(child, nullptr, 0), child);
    for (const auto& [pid, stale] : {std::pair{std::to_string(::getpid()), false},
                                     {"1", false},
                                     {std::to_string(child), true},
                                     {"0", true},
                                     {"", true},
                                     {"99999999999", true}}) {
        EXPECT_EQ(IsStalePartialCopy(kPartialCopyPrefix + pid + "-7"), stale) << pid;
    }
}

// Both ends beyond PATH_MAX; then a folder of a long path cannot be entered (a file stands in its
// place): the user is told whatever noStopOnError says, and the copy fails as at that end.
TEST_F(CopyOneFileTest, CopyFileAnyLengthReachesPathsLongerThanPathMax) {
    const std::string from = DeepFolder(tmp_ / "from", 's') + "/file.bin",
                      to = DeepFolder(tmp_ / "to", 't') + "/file.bin", content = Pattern(70001);
    WriteAnyLength(from, content);
    const platform::FileTime written = platform::FileTimeFromTimespec(kWriteTime);
    ASSERT_TRUE(platform::SetTimes(from, written, written).ok());
    ASSERT_TRUE(platform::SetPermissions(from, 0604).ok());
    EXPECT_EQ(CopyFileAnyLength(from, to, 0, ui_), 1);
    platform::ItemInfo info;
    ASSERT_TRUE(platform::GetItemInfo(to, info).ok());
    EXPECT_EQ(info.lastWrite, written);
    EXPECT_EQ(info.permissions, 0604u);
    EXPECT_TRUE(ReadAnyLength(to) == content);
    EXPECT_TRUE(PartialCopiesIn(to.substr(0, to.rfind('/'))).empty());
    EXPECT_TRUE(TakeBoxes().empty());

    tmp_.createFile("blocker", "a file, not a folder");
    const std::string through = DeepFolder(tmp_ / "blocker", 'w', false) + "/f.txt";
    const std::string notice = CannotEnterText(through, "blocker", tmp_.path());
    ui_.messages.Answer(kIdCancel);
    EXPECT_EQ(CopyFileAnyLength(through, tmp_ / "copy.txt", 0, ui_), 0);
    EXPECT_EQ(TakeBoxes(), (Boxes{{notice, kMbOk}, {CannotOpenText(through), kMbRetryCancel}}));
    EXPECT_EQ(TakeLog(), Logged(CannotOpenText(through)));
    EXPECT_EQ(CopyFileAnyLength(from, through, 1, ui_), 0);  // quiet: the notice alone is shown
    EXPECT_EQ(TakeBoxes(), (Boxes{{notice, kMbOk}}));
    EXPECT_EQ(TakeLog(), Logged(CannotCreateText(330, through)));
    EXPECT_FALSE(platform::Exists(tmp_ / "copy.txt"));
    EXPECT_EQ(tmp_.read("blocker"), "a file, not a folder");
}

}  // namespace
}  // namespace mirova::test
