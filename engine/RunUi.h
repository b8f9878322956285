#pragma once

#include <functional>
#include <memory>
#include <string>

#include "fileops/Progress.h"

namespace mirova {

// The status window a run shows while its trees are scanned. Destroying the object closes it.
class StatusWindow {
public:
    virtual ~StatusWindow() = default;
    virtual void SetStatusText(const std::string& text) = 0;
};

// What a run needs from the front end that owns it: message boxes (also from the scan worker),
// progress windows for the file operations, a status window, the shell's "open" and a way to
// hand work back to the run's own thread.
class RunUi : public FileOpsUi {
public:
    virtual std::unique_ptr<StatusWindow> ShowStatusWindow() = 0;
    // Shows a file to the user (the GUI opens it, the console names it).
    virtual void OpenWithShell(const std::string& path) = 0;
    // Queues a call to run later on the run's thread (the counterpart of a posted window
    // message). Called from the scan worker.
    virtual void PostToRunThread(std::function<void()> call) = 0;
    // Whether a Yes/No question reaches a person. A console without a terminal, or with --yes,
    // answers by itself; a question that must not be answered automatically is not asked there.
    virtual bool AsksQuestions() const { return true; }
    // Each item line of the run's change record as it is written (the console's --list).
    virtual void ListChange(const std::string& /*line*/) {}
};

}  // namespace mirova
