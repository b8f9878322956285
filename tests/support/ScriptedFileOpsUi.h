#pragma once

#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "ScriptedMessages.h"
#include "fileops/Progress.h"

namespace mirova::test {

// The front end of the file operations for tests. Message boxes go to `messages` (recorded,
// answers scripted); every progress window is recorded; a Cancel press can be scripted;
// failures are counted by the base. Must outlive the progress windows it hands out. Safe to call
// from any thread.
class ScriptedFileOpsUi : public FileOpsUi {
public:
    // What one progress window was told.
    struct Window {
        std::vector<std::string> statusTexts;  // every status line, in order
        int rangeLow = -1;                     // the last range set; -1 when none was
        int rangeHigh = -1;
        int step = 0;  // the last step set; 0 when none was
        int stepBarCalls = 0;
        int cancelChecks = 0;  // calls of TakeCancelRequest
        bool destroyed = false;
    };

    ScriptedMessages messages;

    // Cancel pressed just before an item: TakeCancelRequest of the window-th progress window
    // (counted from 0 in the order shown) returns true once, at its item-th call (counted from
    // 0; a list operation calls it once before each item).
    void PressCancelBeforeItem(std::size_t item, std::size_t window = 0);

    // The progress windows in the order shown.
    std::vector<Window> windows() const;

    int DoMessageBox(const std::string& text, int style) override;
    std::unique_ptr<ProgressWindow> ShowProgressWindow() override;

private:
    class RecordingWindow;

    mutable std::mutex mutex_;
    std::vector<Window> windows_;
    std::vector<std::pair<std::size_t, std::size_t>> cancels_;  // (window, item)
};

}  // namespace mirova::test
