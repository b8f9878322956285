#pragma once

#include <atomic>
#include <memory>
#include <string>

#include "fileops/MessageBox.h"

namespace mirova {

// The progress window of one list operation. While it exists the main window is disabled;
// destroying the object closes it and enables the main window again.
class ProgressWindow {
public:
    virtual ~ProgressWindow() = default;
    virtual void SetStatusText(const std::string& text) = 0;
    virtual void SetRange(int low, int high) = 0;
    virtual void SetStep(int step) = 0;
    // Advances the bar by one step (and lets the front end process its waiting events);
    // returns the bar position before the step.
    virtual int StepBar() = 0;
    // Whether the user asked to stop since the last call; the request is cleared. Lets the
    // front end process its waiting events first.
    virtual bool TakeCancelRequest() = 0;
};

// What a list operation did to one item. KeptVersion comes just before the deletion or the copy
// that took the item's place: the item was moved into the run's folder of versions.
enum class ItemDone { DeletedFile, DeletedFolder, Copied, CreatedFolder, KeptVersion };

// Told of every item a list operation changed and of every failure, as they happen (the run's
// change record).
class ChangeListener {
public:
    virtual ~ChangeListener() = default;
    // `base` is the folder the operation was given, exactly as given; `name` is relative to it.
    virtual void OnItemDone(ItemDone what, const std::string& base, const char* name) = 0;
    virtual void OnFailure(const std::string& text) = 0;
};

// What the file operations need from the front end: message boxes, a progress window for each
// list operation, and a tally of failures (each failure of a file or folder is noted once,
// whether it was shown or only logged). The tally may be noted from the scan worker too.
class FileOpsUi : public MessageBoxHandler {
public:
    virtual std::unique_ptr<ProgressWindow> ShowProgressWindow() = 0;

    // Notes one failure. `text` is its message; when no box showed it, the front end is told.
    void NoteFailure(const std::string& text, bool shown) {
        ++failures_;
        if (listener_ != nullptr) {
            listener_->OnFailure(text);
        }
        if (!shown) {
            TellUnshown(text);
        }
    }
    void TellItemDone(ItemDone what, const std::string& base, const char* name) {
        if (listener_ != nullptr) {
            listener_->OnItemDone(what, base, name);
        }
    }
    // The listener of the run in progress; nullptr when none.
    void SetChangeListener(ChangeListener* listener) { listener_ = listener; }
    int failures() const { return failures_.load(); }

    // A message that no box shows (noStopOnError, or a log-only failure): a console prints it,
    // the desktop program leaves it to the run log.
    virtual void TellUnshown(const std::string& /*text*/) {}

private:
    std::atomic<int> failures_{0};
    ChangeListener* listener_ = nullptr;
};

}  // namespace mirova
