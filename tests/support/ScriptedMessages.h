#pragma once

#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "fileops/MessageBox.h"

namespace mirova::test {

// A message box that records every request and answers from a script. Without a scripted
// answer it presses the first button of the style (OK, Abort, Yes, Retry) and counts that the
// script ran dry, so a test that did not expect a box can see it. beforeAnswer, when set, runs
// first (it may change the tree while the box is "up"). Safe to call from any thread.
class ScriptedMessages : public MessageBoxHandler {
public:
    struct Request {
        std::string text;
        int style = 0;
        int answer = 0;
    };

    std::function<void(const std::string& text, int style)> beforeAnswer;

    void Answer(int button) {
        std::lock_guard lock(mutex_);
        answers_.push_back(button);
    }
    int DoMessageBox(const std::string& text, int style) override {
        if (beforeAnswer) {
            beforeAnswer(text, style);
        }
        std::lock_guard lock(mutex_);
        int answer = kIdOk;
        if (style != kMbOk && !answers_.empty()) {
            answer = answers_.front();
            answers_.pop_front();
        } else if (style != kMbOk) {
            answer = style == kMbAbortRetryIgnore ? kIdAbort
                     : style == kMbYesNo          ? kIdYes
                     : style == kMbRetryCancel    ? kIdRetry
                                                  : kIdOk;
            ++unscripted_;
        }
        requests_.push_back({text, style, answer});
        return answer;
    }
    std::vector<Request> requests() const {
        std::lock_guard lock(mutex_);
        return requests_;
    }
    std::size_t unscripted() const {
        std::lock_guard lock(mutex_);
        return unscripted_;
    }

private:
    mutable std::mutex mutex_;
    std::deque<int> answers_;
    std::vector<Request> requests_;
    std::size_t unscripted_ = 0;
};

}  // namespace mirova::test
