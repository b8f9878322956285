#pragma once

#include <algorithm>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "ScriptedMessages.h"
#include "fileops/Progress.h"

namespace mirova::test {

// The front end of the file operations for tests: message boxes go to `messages`, every
// progress window is recorded, a Cancel press can be scripted. Must outlive the progress windows
// it hands out. Safe to call from any thread.
class ScriptedFileOpsUi : public FileOpsUi {
public:
    // What one progress window was told (-1 or 0: never).
    struct Window {
        std::vector<std::string> statusTexts;
        int rangeLow = -1, rangeHigh = -1, step = 0, stepBarCalls = 0;
        int cancelChecks = 0;  // calls of TakeCancelRequest
        bool destroyed = false;
    };
    ScriptedMessages messages;

    // TakeCancelRequest of the window-th progress window (from 0, in the order shown) returns
    // true once, at its item-th call (from 0; a list operation calls it before each item).
    void PressCancelBeforeItem(std::size_t item, std::size_t window = 0) {
        std::lock_guard lock(mutex_);
        cancels_.emplace_back(window, item);
    }
    std::vector<Window> windows() const {
        std::lock_guard lock(mutex_);
        return windows_;
    }
    int DoMessageBox(const std::string& text, int style) override {
        return messages.DoMessageBox(text, style);
    }
    std::unique_ptr<ProgressWindow> ShowProgressWindow() override {
        std::lock_guard lock(mutex_);
        windows_.emplace_back();
        return std::make_unique<Recording>(*this, windows_.size() - 1);
    }

private:
    class Recording final : public ProgressWindow {
        template <typename Change>
        auto Record(const Change& change) {
            std::lock_guard lock(owner_.mutex_);
            return change(owner_.windows_[index_]);
        }
        ScriptedFileOpsUi& owner_;
        std::size_t index_;

    public:
        Recording(ScriptedFileOpsUi& owner, std::size_t index) : owner_(owner), index_(index) {}
        ~Recording() override {
            Record([](Window& w) { w.destroyed = true; });
        }
        void SetStatusText(const std::string& text) override {
            Record([&](Window& w) { w.statusTexts.push_back(text); });
        }
        void SetRange(int low, int high) override {
            Record([=](Window& w) { std::tie(w.rangeLow, w.rangeHigh) = std::pair(low, high); });
        }
        void SetStep(int step) override {
            Record([=](Window& w) { w.step = step; });
        }
        int StepBar() override {
            return Record([](Window& w) { return w.stepBarCalls++; });
        }
        bool TakeCancelRequest() override {
            return Record([this](Window& w) {
                auto& cancels = owner_.cancels_;
                const auto found = std::find(cancels.begin(), cancels.end(),
                                             std::pair{index_, std::size_t(w.cancelChecks++)});
                return found != cancels.end() && (cancels.erase(found), true);
            });
        }
    };

    mutable std::mutex mutex_;
    std::vector<Window> windows_;
    std::vector<std::pair<std::size_t, std::size_t>> cancels_;  // (window, item)
};

}  // namespace mirova::test
