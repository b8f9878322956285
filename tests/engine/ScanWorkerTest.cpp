// The scan worker thread and the run's thread share RunState and the run log; ThreadSanitizer
// runs this test in the test command.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

#include "ScriptedMessages.h"
#include "TempDir.h"
#include "engine/Scan.h"
#include "fileops/RunLog.h"

namespace mirova {
namespace {

// A box that holds the worker until the test's own thread has done its part.
class WaitingMessages : public test::ScriptedMessages {
public:
    int DoMessageBox(const std::string& text, int style) override {
        std::unique_lock lock(mutex_);
        asked_ = true;
        wake_.notify_all();
        wake_.wait(lock, [this] { return released_; });
        lock.unlock();
        return ScriptedMessages::DoMessageBox(text, style);
    }
    void WaitUntilAsked() {
        std::unique_lock lock(mutex_);
        wake_.wait(lock, [this] { return asked_; });
    }
    void Release() {
        std::lock_guard lock(mutex_);
        released_ = true;
        wake_.notify_all();
    }

private:
    std::mutex mutex_;
    std::condition_variable wake_;
    bool asked_ = false;
    bool released_ = false;
};

TEST(ScanWorkerTest, NoStopOnErrorToggledDuringTheScanTakesEffectAtTheNextError) {
    test::TempDir dir;
    const test::ScopedUnprivileged unprivileged(dir);
    dir.createFile("tree/a-locked/x");
    dir.createFile("tree/b-locked/y");
    ASSERT_EQ(::chmod((dir / "tree/a-locked").c_str(), 0), 0);
    ASSERT_EQ(::chmod((dir / "tree/b-locked").c_str(), 0), 0);

    RunState state;
    WaitingMessages messages;
    messages.Answer(kIdIgnore);
    const ScanContext context{state, messages};
    ScanJob job;
    job.folder = dir / "tree";
    bool failed = true;
    std::thread worker(
        [&] { ScanWorker(job, context, 100, [&failed](bool result) { failed = result; }); });

    // While the worker waits on the first folder's box, this thread ticks the check box and
    // writes to the log, as the UI thread may.
    messages.WaitUntilAsked();
    state.noStopOnError = 1;
    WriteLog("from the UI thread", 1);
    messages.Release();
    worker.join();

    EXPECT_FALSE(failed);
    // One folder was asked about; the other, met after the switch, was only logged.
    EXPECT_EQ(messages.requests().size(), 1u);
    const std::string log = dir.readLog();
    EXPECT_NE(log.find("a-locked」が開けません"), std::string::npos);
    EXPECT_NE(log.find("b-locked」が開けません"), std::string::npos);
    EXPECT_NE(log.find("from the UI thread\n"), std::string::npos);
}

}  // namespace
}  // namespace mirova
