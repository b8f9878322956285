#pragma once

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <mutex>

#include "ScriptedMessages.h"
#include "TempDir.h"
#include "TreeSnapshot.h"
#include "engine/Run.h"
#include "fileops/RunLog.h"
#include "platform/Clock.h"

namespace mirova::test {

inline constexpr const char* kStamp = "261206-090503: ";

// The front end of a run in a test: scripted boxes, recorded status texts and shell calls,
// and a queue that the test drains on its own thread in place of an event loop.
class TestUi final : public RunUi {
public:
    ScriptedMessages boxes;
    std::vector<std::string> statusTexts;
    std::vector<std::string> opened;
    int statusWindowsOpen = 0;

    std::function<void(const std::string& text, int style)> beforeBox;  // may change the tree
    int cancelBeforeItem = 0;  // Cancel is pressed before this item of the run (from 1); 0 never
    int itemsOffered = 0;

    int DoMessageBox(const std::string& text, int style) override {
        if (beforeBox) {
            beforeBox(text, style);
        }
        return boxes.DoMessageBox(text, style);
    }
    std::unique_ptr<StatusWindow> ShowStatusWindow() override {
        return std::make_unique<Status>(*this);
    }
    std::unique_ptr<ProgressWindow> ShowProgressWindow() override {
        return std::make_unique<Progress>(*this);
    }
    void OpenWithShell(const std::string& path) override { opened.push_back(path); }
    void PostToRunThread(std::function<void()> call) override {
        std::lock_guard lock(mutex_);
        posted_.push_back(std::move(call));
        wake_.notify_one();
    }
    // Runs posted calls until done() holds.
    void PumpUntil(const std::function<bool()>& done) {
        while (!done()) {
            std::function<void()> call;
            {
                std::unique_lock lock(mutex_);
                wake_.wait(lock, [this] { return !posted_.empty(); });
                call = std::move(posted_.front());
                posted_.pop_front();
            }
            call();
        }
    }

private:
    struct Progress final : ProgressWindow {
        explicit Progress(TestUi& ui) : ui_(ui) {}
        void SetStatusText(const std::string&) override {}
        void SetRange(int, int) override {}
        void SetStep(int) override {}
        int StepBar() override { return 0; }
        bool TakeCancelRequest() override { return ++ui_.itemsOffered == ui_.cancelBeforeItem; }
        TestUi& ui_;
    };
    struct Status final : StatusWindow {
        explicit Status(TestUi& ui) : ui_(ui) { ++ui_.statusWindowsOpen; }
        ~Status() override { --ui_.statusWindowsOpen; }
        void SetStatusText(const std::string& text) override { ui_.statusTexts.push_back(text); }
        TestUi& ui_;
    };
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> posted_;
};

class TestHost final : public RunHost {
public:
    std::map<int, RunPreset> presets;
    std::vector<int> selected;
    int okCalls = 0;
    int dialogResult = -1;
    std::vector<RunOutcome> outcomes;

    RunPreset PresetAt(int index) const override {
        auto found = presets.find(index);
        return found == presets.end() ? RunPreset{index, "", "", 0, 0, ""} : found->second;
    }
    void SelectPreset(int index) override { selected.push_back(index); }
    void OnOK() override { ++okCalls; }
    void EndDialog(int result) override { dialogResult = result; }
    void RunEnded(RunOutcome outcome) override { outcomes.push_back(outcome); }
};

class RecordingExecutor final : public ChangeExecutor {
public:
    std::vector<std::string> copied, deletedFiles;
    bool result = true;
    int calls = 0;

    bool CarryOutChanges(const RunPreset&, WorkLists& work, const RunState&) override {
        ++calls;
        copied.assign(work.copyList.begin(), work.copyList.end());
        deletedFiles.assign(work.deleteFileList.begin(), work.deleteFileList.end());
        return result;
    }
};

class RunFixture : public ::testing::Test {
protected:
    void SetUp() override {
        platform::SetClock(&clock_);
        dir_.createFolder("src");
        dir_.createFolder("dst");
        run_.SetChangeExecutor(&executor_);
    }
    void TearDown() override { platform::SetClock(nullptr); }

    // Creates the items of a layout "path=content@mtime|folder/|..." below the test's folder:
    // files with their parent folders (without content or time: empty, now), and folders.
    void Make(const std::string& layout) const {
        for (std::size_t at = 0, end = 0; at <= layout.size(); at = end + 1) {
            end = std::min(layout.find('|', at), layout.size());
            const std::string item = layout.substr(at, end - at);
            const std::size_t equals = std::min(item.find('='), item.size());
            const std::size_t stamp = std::min(item.find('@'), item.size());
            if (item.ends_with('/')) {
                dir_.createFolder(item);
            } else {
                dir_.createFile(item.substr(0, std::min(equals, stamp)),
                                equals < stamp ? item.substr(equals + 1, stamp - equals - 1) : "",
                                stamp < item.size() ? std::stoll(item.substr(stamp + 1)) : -1);
            }
        }
    }
    std::string src() const { return dir_ / "src"; }
    std::string dst() const { return dir_ / "dst"; }
    RunPreset Preset(std::string source, std::string target, int index = 0) {
        return RunPreset{index, std::move(source), std::move(target), 0, 0, ""};
    }
    RunPreset MergePreset() const { return RunPreset{0, src(), dst(), 1, 0, ""}; }
    static std::string Stamped(std::initializer_list<std::string> texts) {
        std::string lines;
        for (const std::string& text : texts) {
            lines += kStamp + text + "\n";
        }
        return lines;
    }
    static std::string Stamped(const std::string& text) { return Stamped({text}); }
    static std::string RecordLine() {
        return "変更記録 " + LogFilePath("Changes-261206-090503.txt");
    }
    static std::string FailureClosing(int failures) {
        return std::to_string(failures) + " 個のﾌｧｲﾙ/ﾌｫﾙﾀﾞの処理に失敗しました。\n詳細はﾛｸﾞ " +
               LogFilePath(kRunLogName) + " を見てください。";
    }
    static std::string Dated(const std::string& text) {
        return "2026年12月6日 9:5:3  " + text + "\n";
    }
    // Starts a run and drives it to its end.
    void Run(RunKind kind, const RunPreset& preset, const ExclusionTest* exclusions = nullptr) {
        const std::size_t ended = host_.outcomes.size();
        run_.StartRun(kind, preset, exclusions);
        ui_.PumpUntil([&] { return host_.outcomes.size() > ended; });
        EXPECT_FALSE(run_.running());
        EXPECT_EQ(ui_.statusWindowsOpen, 0);
    }
    void Run(RunKind kind) { Run(kind, Preset(src(), dst())); }
    std::string Log() const { return dir_.readLog(); }
    void ExpectMirror() const {
        EXPECT_EQ(DescribeDifferences(SnapshotTree(src()), SnapshotTree(dst())), "");
    }
    std::vector<std::string> BoxTexts() const {
        std::vector<std::string> texts;
        for (const auto& request : ui_.boxes.requests()) {
            texts.push_back(request.text);
        }
        return texts;
    }

    TempDir dir_;
    platform::FixedClock clock_{platform::LocalTime{2026, 12, 6, 9, 5, 3}};
    RunState state_;
    TestHost host_;
    TestUi ui_;
    RecordingExecutor executor_;
    RunController run_{state_, host_, ui_};
};

// Runs with the real file operations on real trees.
class RealRunFixture : public RunFixture {
protected:
    void SetUp() override {
        RunFixture::SetUp();
        run_.SetChangeExecutor(nullptr);
    }
};

}  // namespace mirova::test
