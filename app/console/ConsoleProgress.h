#pragma once

#include <chrono>
#include <iosfwd>
#include <string>

#include "fileops/Progress.h"

namespace mirova {

// The progress window of the console: one line on the terminal, rewritten in place, with the
// percentage and the status text; nothing without a terminal. Ctrl-C is its Cancel button.
class ConsoleProgress final : public ProgressWindow {
public:
    ConsoleProgress(std::ostream& err, bool show) : err_(err), show_(show) {}
    ~ConsoleProgress() override;

    void SetStatusText(const std::string& text) override;
    void SetRange(int low, int high) override;
    void SetStep(int step) override { step_ = step; }
    int StepBar() override;
    bool TakeCancelRequest() override;

    int percent() const;

private:
    void Draw(bool force);

    std::ostream& err_;
    bool show_;
    std::string status_;
    int low_ = 0;
    int high_ = 100;
    int position_ = 0;
    int step_ = 10;
    int shownPercent_ = -1;
    bool drawn_ = false;
    std::chrono::steady_clock::time_point lastDraw_{};
};

}  // namespace mirova
