#include "ScriptedMessages.h"

namespace mirova::test {
namespace {

int FirstButtonOf(int style) {
    switch (style) {
        case kMbAbortRetryIgnore:
            return kIdAbort;
        case kMbYesNo:
            return kIdYes;
        case kMbRetryCancel:
            return kIdRetry;
        default:
            return kIdOk;
    }
}

}  // namespace

void ScriptedMessages::Answer(int button) {
    std::lock_guard lock(mutex_);
    answers_.push_back(button);
}

int ScriptedMessages::DoMessageBox(const std::string& text, int style) {
    std::lock_guard lock(mutex_);
    int answer;
    if (style == kMbOk) {
        answer = kIdOk;
    } else if (!answers_.empty()) {
        answer = answers_.front();
        answers_.pop_front();
    } else {
        answer = FirstButtonOf(style);
        ++unscripted_;
    }
    requests_.push_back({text, style, answer});
    return answer;
}

std::vector<ScriptedMessages::Request> ScriptedMessages::requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

std::size_t ScriptedMessages::unscripted() const {
    std::lock_guard lock(mutex_);
    return unscripted_;
}

}  // namespace mirova::test
