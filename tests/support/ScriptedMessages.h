#pragma once

#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "fileops/MessageBox.h"

namespace mirova::test {

// A message box that records every request and answers from a script. Without a scripted
// answer it presses the first button of the style (OK, Abort, Yes, Retry) and records that the
// script ran dry, so a test that did not expect a box can see it. Safe to call from any thread.
class ScriptedMessages : public MessageBoxHandler {
public:
    struct Request {
        std::string text;
        int style = 0;
        int answer = 0;
    };

    void Answer(int button);
    int DoMessageBox(const std::string& text, int style) override;

    std::vector<Request> requests() const;
    std::size_t unscripted() const;

private:
    mutable std::mutex mutex_;
    std::deque<int> answers_;
    std::vector<Request> requests_;
    std::size_t unscripted_ = 0;
};

}  // namespace mirova::test
