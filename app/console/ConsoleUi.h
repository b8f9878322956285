#pragma once

#include <atomic>
#include <iosfwd>
#include <mutex>

#include "app/console/ConsoleEventLoop.h"
#include "engine/RunUi.h"

namespace mirova {

// How the console answers the questions of a run.
struct ConsoleAnswers {
    bool interactive = false;  // standard input is a terminal: ask there
    bool assumeYes = false;    // --yes: every Yes/No question is answered Yes
    bool showStatus = false;   // standard error is a terminal: show status and progress lines
};

// Message boxes, status, progress and shell for a run started from the command line. Box texts
// go to standard error; questions are asked on the terminal when there is one. Without a
// terminal a Yes/No question counts as No (unless --yes; the "really stop?" question after
// Ctrl-C counts as Yes), Abort/Retry/Ignore as Ignore and Retry/Cancel as Cancel, and the
// automatic answer is printed with the question.
class ConsoleUi final : public RunUi {
public:
    ConsoleUi(ConsoleEventLoop& loop, std::istream& in, std::ostream& err, ConsoleAnswers answers)
        : loop_(loop), in_(in), err_(err), answers_(answers) {}

    int DoMessageBox(const std::string& text, int style) override;
    std::unique_ptr<ProgressWindow> ShowProgressWindow() override;
    std::unique_ptr<StatusWindow> ShowStatusWindow() override;
    void OpenWithShell(const std::string& path) override;
    void PostToRunThread(std::function<void()> call) override { loop_.Post(std::move(call)); }
    bool AsksQuestions() const override { return answers_.interactive && !answers_.assumeYes; }
    // Failures and notices that no box showed are printed as they happen.
    void TellUnshown(const std::string& text) override;
    void ListChange(const std::string& line) override;
    // --list: the change record's item lines go to `out`.
    void ListChangesTo(std::ostream& out) { listing_ = &out; }

    // Ctrl-C asks the running list operation to stop, as the progress window's Cancel button
    // does; a second Ctrl-C before the first was taken ends the program.
    static void InstallInterruptHandler();
    static void RemoveInterruptHandler();
    // The pending stop request, taken (and cleared) by the progress window.
    static bool TakeInterrupt();
    static void RequestInterrupt();

private:
    int Ask(const std::string& text, int style);

    ConsoleEventLoop& loop_;
    std::istream& in_;
    std::ostream& err_;
    ConsoleAnswers answers_;
    std::mutex mutex_;  // boxes come from the run's thread and the scan worker
    std::ostream* listing_ = nullptr;
};

}  // namespace mirova
