#include "ScriptedFileOpsUi.h"

#include <algorithm>

namespace mirova::test {

// Writes everything it is told into its record of the owner.
class ScriptedFileOpsUi::RecordingWindow : public ProgressWindow {
public:
    RecordingWindow(ScriptedFileOpsUi& owner, std::size_t index) : owner_(owner), index_(index) {}
    ~RecordingWindow() override {
        Record([](Window& window) { window.destroyed = true; });
    }

    void SetStatusText(const std::string& text) override {
        Record([&text](Window& window) { window.statusTexts.push_back(text); });
    }
    void SetRange(int low, int high) override {
        Record([=](Window& window) {
            window.rangeLow = low;
            window.rangeHigh = high;
        });
    }
    void SetStep(int step) override {
        Record([=](Window& window) { window.step = step; });
    }
    int StepBar() override {
        int before = 0;
        Record([&before](Window& window) { before = window.stepBarCalls++; });
        return before;
    }
    bool TakeCancelRequest() override {
        std::lock_guard lock(owner_.mutex_);
        const std::size_t call = owner_.windows_[index_].cancelChecks++;
        auto& cancels = owner_.cancels_;
        const auto scripted = std::find(cancels.begin(), cancels.end(), std::pair{index_, call});
        if (scripted == cancels.end()) {
            return false;
        }
        cancels.erase(scripted);
        return true;
    }

private:
    template <typename Change>
    void Record(const Change& change) {
        std::lock_guard lock(owner_.mutex_);
        change(owner_.windows_[index_]);
    }

    ScriptedFileOpsUi& owner_;
    std::size_t index_;
};

void ScriptedFileOpsUi::PressCancelBeforeItem(std::size_t item, std::size_t window) {
    std::lock_guard lock(mutex_);
    cancels_.emplace_back(window, item);
}

std::vector<ScriptedFileOpsUi::Window> ScriptedFileOpsUi::windows() const {
    std::lock_guard lock(mutex_);
    return windows_;
}

int ScriptedFileOpsUi::DoMessageBox(const std::string& text, int style) {
    return messages.DoMessageBox(text, style);
}

std::unique_ptr<ProgressWindow> ScriptedFileOpsUi::ShowProgressWindow() {
    std::lock_guard lock(mutex_);
    windows_.emplace_back();
    return std::make_unique<RecordingWindow>(*this, windows_.size() - 1);
}

}  // namespace mirova::test
